#include <gtest/gtest.h>

#include "info/MP3Info.h"
#include "tests/info/fixtures.h"

namespace tunewell::test {
namespace {

std::string Fixed(const Bytes& bytes) {
  return FixedFieldText(bytes.data(), static_cast<int32_t>(bytes.size()));
}

std::string Tail(const Bytes& bytes) {
  return TailFieldText(bytes.data(), static_cast<int32_t>(bytes.size()));
}

TEST(FixedFieldText, CutsAtZeroAndTrimsControlAndSpaceOnTheRight) {
  EXPECT_EQ(Fixed(Cat({B("Song   "), Filled(5, 0), B("junk")})), "Song");
  EXPECT_EQ(Fixed(B("  lead\t\r\n \x01")), "  lead");
  EXPECT_EQ(Fixed(B("abc")), "abc");
  EXPECT_EQ(Fixed(Filled(4, 0)), "");
  EXPECT_EQ(FixedFieldText(nullptr, 0), "");
  EXPECT_EQ(FixedFieldText(nullptr, -3), "");
  // Bytes above 0x7F are text, not trimmed.
  EXPECT_EQ(Fixed(B("\x83\x65\xA0")), "\x83\x65\xA0");
}

TEST(TailFieldText, TakesTheTextAfterTheLastSeparator) {
  struct Case {
    Bytes bytes;
    std::string expected;
  } cases[] = {
      {Cat({B("eng"), Bytes{0}, B("Nice")}), "Nice"},                      // empty description
      {Cat({B("engdesc"), Bytes{0}, B("Nice"), Bytes{0}}), "Nice"},        // own terminator
      {Cat({B("eng"), Bytes{0}, B("a"), Bytes{0}, B("text  ")}), "text"},  // last separator
      {B("no separator"), "no separator"},
      {Cat({B("eng"), Bytes{0}}), "eng"},  // the last byte is never the separator
      {Bytes{0}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Tail(c.bytes), c.expected);
  EXPECT_EQ(TailFieldText(nullptr, 0), "");
}

TEST(LongestValue, FirstStrictlyLongestWins) {
  EXPECT_EQ(LongestValue({"abc", "xyz", "12"}), "abc");
  EXPECT_EQ(LongestValue({"ab", "xyz", "123"}), "xyz");
  EXPECT_EQ(LongestValue({"", "", "riff"}), "riff");
  EXPECT_EQ(LongestValue({"", "", ""}), "");
  // Byte length, not characters: three bytes of one character beat two letters.
  EXPECT_EQ(LongestValue({"ab", "\xE3\x81\x82"}), "\xE3\x81\x82");
}

TEST(Utf16ToUtf8, ConvertsEveryUnitByTheByteOrderMark) {
  struct Case {
    Bytes units;
    std::string expected;
  } cases[] = {
      {Bytes{0xFF, 0xFE, 'A', 0, 'B', 0, 0, 0}, std::string("\xEF\xBB\xBF"
                                                            "AB\0",
                                                            6)},
      // A big-endian mark is honoured for the whole text.
      {Bytes{0xFE, 0xFF, 0, 'A', 0, 'B', 0, 0}, std::string("\xEF\xBB\xBF"
                                                            "AB\0",
                                                            6)},
      {Bytes{'A', 0, 0x42, 0x30}, "A\xE3\x81\x82"},  // no mark: little-endian
      {Bytes{0xE9, 0x00}, "\xC3\xA9"},
      {Bytes{0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},  // surrogate pair U+1F600
      {Bytes{0x3D, 0xD8, 'A', 0},
       "\xEF\xBF\xBD"
       "A"},                                // lone high surrogate
      {Bytes{0x00, 0xDC}, "\xEF\xBF\xBD"},  // lone low surrogate
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.units.data(), static_cast<int32_t>(c.units.size() / 2)), c.expected);
  }
  EXPECT_EQ(Utf16ToUtf8(nullptr, 0), "");
}

TEST(DisplayText, KeepsUtf8AndDecodesShiftJis) {
  struct Case {
    std::string tag;
    std::string shown;
  } cases[] = {
      {"Plain title", "Plain title"},
      {"\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"},  // テスト
      {"\x83\x65\x83\x58\x83\x67", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"},  // テスト in CP932
      {"\x88\xA4 love", "\xE6\x84\x9B love"},                                // 愛
      {"\xB1\xB2", "\xEF\xBD\xB1\xEF\xBD\xB2"},  // half-width katakana ｱｲ
      {"\x87\x40", "\xE2\x91\xA0"},              // NEC special ①, CP932 only
      {std::string("AB\0CD", 5), "AB"},          // stops at the first zero
      {std::string("\x83\x65\0\x83", 4), "\xE3\x83\x86"},
      {"\xA0", "\xEF\xBF\xBD"},                  // not Shift-JIS either
      {"\x83", "\xEF\xBF\xBD"},                  // a character cut off
      {"\xC0\x80", "\xEF\xBE\x80\xEF\xBF\xBD"},  // overlong UTF-8 is read as Shift-JIS
      {"\xEF\xBB\xBFTitle", "Title"},            // converted UTF-16 keeps its byte-order mark
      {"A\xEF\xBB\xBF", "A\xEF\xBB\xBF"},        // only a leading one is dropped
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DisplayText(c.tag), c.shown) << c.tag;
}

TEST(DisplayText, KeepsExactlyTheWellFormedUtf8) {
  struct Case {
    const char* name;
    std::string bytes;
    bool valid;
  } cases[] = {
      {"ascii", "Song / Artist", true},
      {"japanese", "\xE5\xA4\xA7\xE7\x9B\x9B\xE3\x82\x8A", true},
      {"four-byte", "\xF0\x9F\x8E\xB5", true},
      {"lone continuation", "a\x80", false},
      {"truncated", "\xE3\x81", false},
      {"overlong slash", "\xC0\xAF", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"past U+10FFFF", "\xF4\x90\x80\x80", false},
  };
  for (const Case& c : cases) EXPECT_EQ(DisplayText(c.bytes) == c.bytes, c.valid) << c.name;
}

TEST(CutAtCharBoundary, CutsOnlyBetweenCharacters) {
  const std::string a61(61, 'a');
  const std::string a = "\xE3\x81\x82";  // あ
  struct Case {
    std::string text;
    size_t limit;
    std::string expected;
  } cases[] = {
      {std::string(70, 'x'), 62, std::string(62, 'x')},
      {"short", 62, "short"},
      {a61 + a, 62, a61},
      {a + a, 5, a},
      {a + a, 6, a + a},
      {"\xF0\x9F\x8E\xB5z", 3, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CutAtCharBoundary(c.text, c.limit), c.expected) << c.text << " / " << c.limit;
  }
}

TEST(GenreNames, TableSpelling) {
  struct Case {
    int index;
    std::string_view name;
  } cases[] = {{0, "Blues"},
               {14, "R&B"},
               {17, "Rock"},
               {67, "Psychadelic"},
               {118, "Rhysmic Soul"},
               {136, "Christian Gangsta Rap"},
               {140, "Contemporrary Christian"},
               {147, "Synthpop"},
               {148, ""},
               {200, ""},
               {247, ""},
               {248, "Heavy Rock(J)"},
               {252, "Tecno Ambient(J)"},
               {255, "Anime(J)"}};
  for (const Case& c : cases) EXPECT_EQ(GenreNames[c.index], c.name) << c.index;
  for (int i = 0; i < 256; ++i) EXPECT_EQ(GenreNames[i].empty(), i >= 148 && i <= 247) << i;
}

TEST(TInfoEntries, FirstLineWithTheKeyInAnyCaseWins) {
  TInfoEntries entries;
  entries.Add("TIT2", "first");
  entries.Add("tit2", "second");
  entries.Add("COMM", "a=b\r\nc");
  entries.Add("EMPTY", "");
  EXPECT_EQ(entries.Value("Tit2"), "first");
  EXPECT_EQ(entries.Value("COMM"), "a=b\r\nc");
  EXPECT_EQ(entries.Value("TIT"), "");
  EXPECT_EQ(entries.Value("missing"), "");
  EXPECT_EQ(entries.Lines()[2], "COMM=a=b\r\nc");
  EXPECT_EQ(entries.Lines()[3], "EMPTY=");
  EXPECT_EQ(entries.Count(), 4u);
}

}  // namespace
}  // namespace tunewell::test
