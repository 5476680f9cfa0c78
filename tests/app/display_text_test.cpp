#include <gtest/gtest.h>

#include <string>

#include "app/DisplayText.h"

namespace tunewell {
namespace {

TEST(DisplayText, TellsValidUtf8FromOtherBytes) {
  struct Case {
    const char* name;
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"ascii", "Song / Artist", true},
      {"japanese", "大盛りねぎだくギョク", true},
      {"four-byte", "\xF0\x9F\x8E\xB5", true},
      {"shift-jis", "\x83\x5E\x83\x43\x83\x67\x83\x8B", false},
      {"lone continuation", "a\x80", false},
      {"truncated", "\xE3\x81", false},
      {"overlong slash", "\xC0\xAF", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"past U+10FFFF", "\xF4\x90\x80\x80", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.name;
}

TEST(DisplayText, DecodesShiftJisAndKeepsUtf8) {
  EXPECT_EQ(DisplayText("タイトル"), "タイトル");
  EXPECT_EQ(DisplayText("\x83\x5E\x83\x43\x83\x67\x83\x8B"), "タイトル");
  // CP932's own extensions: the circled digit one.
  EXPECT_EQ(DisplayText("\x87\x40"), "①");
  // A lead byte with nothing after it is marked, not dropped with what came before.
  EXPECT_EQ(DisplayText("\x83\x5E\x83"), "タ\xEF\xBF\xBD");
}

TEST(DisplayText, CutsOnlyBetweenCharacters) {
  const std::string a61(61, 'a');
  struct Case {
    std::string text;
    std::size_t limit;
    std::string expected;
  };
  const Case cases[] = {
      {std::string(70, 'x'), 62, std::string(62, 'x')},
      {"short", 62, "short"},
      {a61 + "あ", 62, a61},
      {"ああ", 5, "あ"},
      {"ああ", 6, "ああ"},
      {"\xF0\x9F\x8E\xB5z", 3, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CutAtCharBoundary(c.text, c.limit), c.expected) << c.text << " / " << c.limit;
  }
}

}  // namespace
}  // namespace tunewell
