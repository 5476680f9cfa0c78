#include <gtest/gtest.h>

#include "info/MP3Info.h"
#include "tests/info/fixtures.h"

namespace tunewell::test {
namespace {

const Bytes PlainComment = Field("Comment", 30);

TEST(ID3v1, TitleAndTrackFields) {
  struct Case {
    const char* what;
    Bytes title;
    Bytes comment;
    std::string expectedTitle;
    std::string expectedComment;
    const char* track;  // nullptr: no TRACK line
  } cases[] = {
      {"spaces then zeros", Cat({B("Song      "), Filled(20, 0)}), CommentWithTrack("Hi", 7),
       "Song", "Hi", "7"},
      {"30 letters", B(std::string(30, 'x')), CommentWithTrack("Hi", 0), std::string(30, 'x'), "Hi",
       "0"},
      {"no track", Field("T", 30), B(std::string(30, 'c')), "T", std::string(30, 'c'), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes tag = Cat({B("TAG"), c.title, Field("Artist", 30), Field("Album", 30), B("1999"),
                     c.comment, Bytes{17}});
    TInfoRun run(Cat({Audio(1000), tag}));
    const TMP3Info& info = run.info;
    EXPECT_TRUE(info.FoundInfo().Contains(mitID3V1));
    EXPECT_EQ(info.ID3v1Position(), 1000);
    EXPECT_EQ(info.ID3v1Entries().Value("TITLE"), c.expectedTitle);
    EXPECT_EQ(info.ID3v1Entries().Value("COMMENT"), c.expectedComment);
    std::vector<std::string> keys;
    for (const std::string& line : info.ID3v1Entries().Lines())
      keys.push_back(line.substr(0, line.find('=')));
    std::vector<std::string> expectedKeys = {"TITLE",   "ARTIST", "ALBUM",   "YEAR",
                                             "COMMENT", "GENRE",  "GENREIDX"};
    if (c.track) expectedKeys.push_back("TRACK");
    EXPECT_EQ(keys, expectedKeys);
    if (c.track) {
      EXPECT_EQ(info.ID3v1Entries().Value("TRACK"), c.track);
    }
    EXPECT_EQ(info.GetTitle(), c.expectedTitle);
    EXPECT_EQ(info.GetArtist(), "Artist");
    EXPECT_EQ(info.GetYear(), "1999");
    // The block stays inside the audio range.
    EXPECT_EQ(info.DataStart(), 0);
    EXPECT_EQ(info.DataLength(), 1128);
  }
}

TEST(ID3v1, GenreByte) {
  struct Case {
    uint8_t byte;
    const char* genre;
  } cases[] = {{17, "Rock"}, {200, ""}, {255, "Anime(J)"}, {0, "Blues"}, {148, ""}};
  for (const Case& c : cases) {
    TInfoRun run(Cat({Audio(10), ID3v1Block("T", PlainComment, c.byte)}));
    EXPECT_EQ(run.info.ID3v1Entries().Value("GENRE"), c.genre);
    EXPECT_EQ(run.info.ID3v1Entries().Value("GENREIDX"), std::to_string(c.byte));
    EXPECT_EQ(run.info.GetGenre(), c.genre);
  }
}

TEST(ID3v1, NeedsTheExactMarkAndAWholeBlock) {
  Bytes lower = Cat({Audio(10), ID3v1Block("T", PlainComment, 1)});
  lower[10] = 't';
  EXPECT_FALSE(TInfoRun(lower).info.FoundInfo().Contains(mitID3V1));
  // A file shorter than the block.
  EXPECT_FALSE(TInfoRun(B("TAG short")).info.FoundInfo().Contains(mitID3V1));
  // Exactly the block.
  EXPECT_TRUE(TInfoRun(ID3v1Block("T", PlainComment, 1)).info.FoundInfo().Contains(mitID3V1));
}

Bytes Utf16Title() {
  return Bytes{1, 0xFF, 0xFE, 'A', 0, 'B', 0, 0, 0};
}

TEST(ID3v2, ReadsAVersion3Tag) {
  Bytes picture = Cat({Bytes{0}, B("image/png"), Bytes{0, 3, 0}, Filled(100000 - 13, 0x89)});
  ASSERT_EQ(picture.size(), 100000u);
  Bytes frames = Cat({ID3v2Frame("TIT2", Utf16Title()),
                      ID3v2Frame("COMM", Cat({Bytes{0}, B("eng"), Bytes{0}, B("Nice")})),
                      ID3v2Frame("APIC", picture), ID3v2Frame("TPE1", Latin1Body("Artist ")),
                      ID3v2Frame("WXXX", Cat({Bytes{0}, B("link"), Bytes{0}, B("http://x")})),
                      ID3v2Frame("TIT1", Latin1Body("Genre"))});
  Bytes tag = ID3v2Tag(frames);
  for (bool seekable : {true, false}) {
    SCOPED_TRACE(seekable ? "seekable" : "pipe");
    TInfoRun run(Cat({tag, Audio(500)}), seekable);
    const TMP3Info& info = run.info;
    EXPECT_TRUE(run.leading);
    EXPECT_EQ(run.trailing, seekable);
    EXPECT_TRUE(info.FoundInfo().Contains(mitID3V2));
    EXPECT_EQ(info.DataStart(), static_cast<int32_t>(tag.size()));
    EXPECT_EQ(info.DataLength(), seekable ? 500 : NoDataEnd);
    std::vector<std::string> expected = {std::string("TIT2=\xEF\xBB\xBF"
                                                     "AB\0",
                                                     11),
                                         "COMM=Nice", "TPE1=Artist", "WXXX=http://x", "TIT1=Genre"};
    EXPECT_EQ(info.ID3v2Entries().Lines(), expected);
    EXPECT_EQ(info.GetComment(), "Nice");
    EXPECT_EQ(info.GetGenre(), "Genre");
    EXPECT_EQ(DisplayText(info.GetTitle()), "AB");
    // Without a tail stage the reader is left at the audio.
    if (!seekable) {
      EXPECT_EQ(run.Reader().Position(), info.DataStart());
    }
  }
}

TEST(ID3v2, BigEndianUtf16TextIsReadBigEndian) {
  Bytes tag = ID3v2Tag(ID3v2Frame("TALB", Bytes{1, 0xFE, 0xFF, 0x30, 0x42, 0, 'x'}));
  TInfoRun run(Cat({tag, Audio(10)}));
  EXPECT_EQ(run.info.GetAlbum(), "\xEF\xBB\xBF\xE3\x81\x82x");
}

TEST(ID3v2, Padding) {
  Bytes frames = ID3v2Frame("TIT2", Latin1Body("Title"));
  for (size_t padding : {0, 1, 5, 9, 10, 11, 300}) {
    SCOPED_TRACE(padding);
    Bytes tag = ID3v2Tag(frames, padding);
    TInfoRun run(Cat({tag, Audio(100)}));
    const bool accepted = padding == 0 || padding >= 10;
    EXPECT_EQ(run.info.FoundInfo().Contains(mitID3V2), accepted);
    EXPECT_EQ(run.info.DataStart(), accepted ? static_cast<int32_t>(tag.size()) : 0);
    EXPECT_EQ(run.info.DataLength(), accepted ? 100 : static_cast<int32_t>(tag.size()) + 100);
    // Entries read before the failure stay.
    EXPECT_EQ(run.info.GetTitle(), "Title");
  }
}

TEST(ID3v2, OtherVersionsAndUnsynchronisedTagsAreSkippedWhole) {
  Bytes frames = ID3v2Frame("TIT2", Latin1Body("Title"));
  struct Case {
    uint8_t version;
    uint8_t flags;
  } cases[] = {{2, 0}, {4, 0}, {3, 0x80}, {4, 0x80}, {0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "version " << int{c.version} << " flags " << int{c.flags});
    Bytes tag = ID3v2Tag(frames, 10, c.version, c.flags);
    TInfoRun run(Cat({tag, Audio(100)}));
    EXPECT_TRUE(run.info.FoundInfo().Contains(mitID3V2));
    EXPECT_EQ(run.info.DataStart(), static_cast<int32_t>(tag.size()));
    EXPECT_EQ(run.info.ID3v2Entries().Count(), 0u);
  }
}

TEST(ID3v2, SizeBytesAreTakenWhole) {
  // 0x81 in the last size byte counts as 129, not 1.
  Bytes tag = Cat({B("ID3"), Bytes{4, 0, 0, 0, 0, 0, 0x81}, Filled(129, 0)});
  TInfoRun run(Cat({tag, Audio(10)}));
  EXPECT_EQ(run.info.DataStart(), 139);
  Bytes high = Cat({B("ID3"), Bytes{4, 0, 0, 0, 0, 0x01, 0x00}, Filled(128, 0)});
  EXPECT_EQ(TInfoRun(Cat({high, Audio(10)})).info.DataStart(), 138);
  // With bit 7 of the first size byte the tag claims 2^28 + 5 bytes, more than the file holds.
  Bytes huge = Cat({B("ID3"), Bytes{4, 0, 0, 0x80, 0, 0, 5}, Filled(5, 0)});
  TInfoRun hugeRun(Cat({huge, Audio(10)}));
  EXPECT_FALSE(hugeRun.info.FoundInfo().Contains(mitID3V2));
  EXPECT_EQ(hugeRun.info.DataStart(), 0);
}

TEST(ID3v2, ExtendedHeaderIsSkipped) {
  Bytes frames =
      Cat({BigEndian(6), Filled(6, 0), ID3v2Frame("TYER", Latin1Body("2004")), Filled(10, 0)});
  Bytes tag = Cat({B("ID3"), Bytes{3, 0, 0x40}, SyncSafe(frames.size()), frames});
  TInfoRun run(Cat({tag, Audio(10)}));
  EXPECT_TRUE(run.info.FoundInfo().Contains(mitID3V2));
  EXPECT_EQ(run.info.GetYear(), "2004");
  EXPECT_EQ(run.info.DataStart(), static_cast<int32_t>(tag.size()));
}

TEST(ID3v2, OnlyAtTheStart) {
  Bytes tag = ID3v2Tag(ID3v2Frame("TIT2", Latin1Body("Title")));
  TInfoRun run(Cat({Audio(10), tag, Audio(10)}));
  EXPECT_FALSE(run.info.FoundInfo().Contains(mitID3V2));
  EXPECT_EQ(run.info.DataStart(), 0);
}

TEST(ID3v2, FrameLargerThanTheBufferIsPassedOverOnASmallRing) {
  // With a 512-byte ring a 600-byte comment is skipped unread, and the walk goes on.
  Bytes frames = Cat({ID3v2Frame("COMM", Cat({Bytes{0}, B("eng"), Bytes{0}, Filled(595, 'c')})),
                      ID3v2Frame("TIT2", Latin1Body("After"))});
  Bytes tag = ID3v2Tag(frames);
  for (bool seekable : {true, false}) {
    TInfoRun run(Cat({tag, Audio(10)}), seekable, 512);
    EXPECT_TRUE(run.info.FoundInfo().Contains(mitID3V2));
    EXPECT_EQ(run.info.GetComment(), "");
    EXPECT_EQ(run.info.GetTitle(), "After");
  }
}

TEST(Accessors, LongestValueAcrossTags) {
  struct Case {
    size_t v1Length;
    size_t v2Length;
    char winner;
  } cases[] = {{30, 40, '2'}, {30, 30, '1'}, {20, 21, '2'}, {0, 5, '2'}};
  for (const Case& c : cases) {
    std::string v1(c.v1Length, '1');
    std::string v2(c.v2Length, '2');
    Bytes file = Cat({ID3v2Tag(ID3v2Frame("TIT2", Latin1Body(v2))), Audio(100),
                      ID3v1Block(v1, PlainComment, 0)});
    TInfoRun run(file);
    EXPECT_EQ(run.info.GetTitle(), c.winner == '1' ? v1 : v2);
  }
}

TEST(Accessors, ConvertedMarkAndZeroCountInTheComparison) {
  // "AB" in UTF-16 converts to 6 bytes (mark, AB, zero) and beats a 5-letter ID3v1 title.
  Bytes file = Cat({ID3v2Tag(ID3v2Frame("TIT2", Utf16Title())), Audio(100),
                    ID3v1Block("Hello", PlainComment, 0)});
  EXPECT_EQ(TInfoRun(file).info.GetTitle(), std::string("\xEF\xBB\xBF"
                                                        "AB\0",
                                                        6));
  Bytes longer = Cat({ID3v2Tag(ID3v2Frame("TIT2", Utf16Title())), Audio(100),
                      ID3v1Block("Hello!", PlainComment, 0)});
  EXPECT_EQ(TInfoRun(longer).info.GetTitle(), "Hello!");
}

TEST(Accessors, NeedInfoTypeFiltersOnlyTheAccessors) {
  Bytes file = Cat({Audio(100), ID3v1Block("Title", CommentWithTrack("C", 3), 17)});
  TMPStreamReader reader(65536);
  TMemoryStream stream(file);
  reader.Open(&stream, true);
  TMP3Info info;
  info.SetNeedInfoType({mitID3V2});
  info.SetReader(&reader);
  info.ReadLeadingInfo();
  info.ReadTrailingInfo();
  EXPECT_TRUE(info.FoundInfo().Contains(mitID3V1));
  EXPECT_EQ(info.ID3v1Entries().Value("TITLE"), "Title");
  for (const std::string& value : {info.GetTitle(), info.GetArtist(), info.GetAlbum(),
                                   info.GetYear(), info.GetComment(), info.GetGenre()}) {
    EXPECT_EQ(value, "");
  }
  // Switching it back shows the values without reading again.
  info.SetNeedInfoType({mitID3V1, mitMacBin, mitLyrics});
  EXPECT_EQ(info.GetTitle(), "Title");
  EXPECT_EQ(info.GetGenre(), "Rock");
  EXPECT_EQ(info.GetComment(), "C");
}

TEST(Accessors, ClearAndSetReader) {
  Bytes file = Cat({Audio(100), ID3v1Block("Title", PlainComment, 17)});
  TMPStreamReader reader(65536);
  TMemoryStream stream(file);
  reader.Open(&stream, true);
  TMP3Info info;
  EXPECT_EQ(info.NeedInfoType(), (TMP3InfoType{mitID3V1, mitID3V2, mitRiff}));
  EXPECT_EQ(info.NeedInfoType().Bits(), 0x07);
  info.SetNeedInfoType({mitID3V1});
  info.SetReader(&reader);
  info.ReadLeadingInfo();
  info.ReadTrailingInfo();
  info.SetReader(nullptr);  // detaches, keeps the results
  EXPECT_EQ(info.GetTitle(), "Title");
  EXPECT_EQ(info.DataLength(), 228);
  info.Clear();
  EXPECT_EQ(info.GetTitle(), "");
  EXPECT_EQ(info.FoundInfo(), TMP3InfoType{});
  EXPECT_EQ(info.DataStart(), 0);
  EXPECT_EQ(info.DataLength(), NoDataEnd);
  EXPECT_EQ(info.RiffDataLength(), NoDataEnd);
  EXPECT_EQ(info.NeedInfoType(), TMP3InfoType{mitID3V1});
}

}  // namespace
}  // namespace tunewell::test
