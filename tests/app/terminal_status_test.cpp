#include <gtest/gtest.h>

#include <string>

#include "app/Terminal.h"

namespace tunewell {
namespace {

TEST(TerminalStatus, ElapsedTime) {
  const std::pair<int64_t, std::string> cases[] = {
      {0, "0:00"},          {999, "0:00"},   {1000, "0:01"},
      {59999, "0:59"},      {60000, "1:00"}, {3599999, "59:59"},
      {3600000, "1:00:00"}, {-5, "0:00"},    {36061000, "10:01:01"}};
  for (const auto& [ms, text] : cases) EXPECT_EQ(FormatElapsed(ms), text) << ms;
}

TEST(TerminalStatus, WidthCountsWideAndCombiningCharacters) {
  EXPECT_EQ(DisplayWidth("abc"), 3);
  EXPECT_EQ(DisplayWidth("日本語"), 6);
  EXPECT_EQ(DisplayWidth("ｶﾀｶﾅ"), 4);       // half-width katakana
  EXPECT_EQ(DisplayWidth("e\xCC\x81"), 1);  // e + combining acute
  EXPECT_EQ(DisplayWidth("\xFF"), 1);       // a stray byte still takes a column
}

TEST(TerminalStatus, CutNeverSplitsACharacterNorAWideColumn) {
  EXPECT_EQ(CutToWidth("日本語", 5), "日本");
  EXPECT_EQ(CutToWidth("日本語", 4), "日本");
  EXPECT_EQ(CutToWidth("a日本", 2), "a");
  EXPECT_EQ(CutToWidth("abc", 10), "abc");
  EXPECT_EQ(CutToWidth("abc", 0), "");
}

TEST(TerminalStatus, LineShowsPauseMarkTimeTitleAndArtist) {
  EXPECT_EQ(FormatStatusLine("Chime", "Tunewell", 83000, false, 80), ">  1:23  Chime / Tunewell");
  EXPECT_EQ(FormatStatusLine("Chime", "", 0, true, 80), "|| 0:00  Chime / ");
  EXPECT_EQ(FormatStatusLine("夜明け", "歌手", 5000, false, 80), ">  0:05  夜明け / 歌手");
  // Cut to the terminal's width; control characters in a tag cannot move the cursor.
  EXPECT_EQ(FormatStatusLine("夜明け", "歌手", 5000, false, 13), ">  0:05  夜明");
  EXPECT_EQ(FormatStatusLine("a\rb\x1b", "c\n", 0, false, 80), ">  0:00  a b  / c ");
}

}  // namespace
}  // namespace tunewell
