#include <gtest/gtest.h>

#include "info/MP3Info.h"
#include "tests/info/fixtures.h"

namespace tunewell::test {
namespace {

const Bytes Comment = Field("Comment", 30);
const Bytes Format = RiffChunk("fmt ", Filled(16, 0));

Bytes TitleInfo() {
  return InfoList(Cat({RiffChunk("INAM", B("Title\0")), RiffChunk("IART", B("Artist")),
                       RiffChunk("ICMT", B("")), RiffChunk("IGNR", B("Genre"))}));
}

TEST(Riff, DataChunkAndInfoListAfterIt) {
  Bytes file = RiffFile(Cat({Format, RiffChunk("data", Audio(1000)), TitleInfo()}));
  TInfoRun run(file);
  const TMP3Info& info = run.info;
  EXPECT_TRUE(info.FoundInfo().Contains(mitRiff));
  EXPECT_EQ(info.RiffDataStart(), 12 + 24 + 8);
  EXPECT_EQ(info.RiffDataLength(), 1000);
  EXPECT_EQ(info.DataStart(), 44);
  EXPECT_EQ(info.DataLength(), 1000);
  // The empty ICMT gives no line.
  std::vector<std::string> expected = {"INAM=Title", "IART=Artist", "IGNR=Genre"};
  EXPECT_EQ(info.RiffEntries().Lines(), expected);
  EXPECT_EQ(info.GetTitle(), "Title");
  EXPECT_EQ(info.GetArtist(), "Artist");
  EXPECT_EQ(info.GetGenre(), "Genre");
}

TEST(Riff, InfoListBeforeTheDataChunkIsNotFound) {
  Bytes file = RiffFile(Cat({Format, TitleInfo(), RiffChunk("data", Audio(1000))}));
  TInfoRun run(file);
  EXPECT_TRUE(run.info.FoundInfo().Contains(mitRiff));
  EXPECT_EQ(run.info.DataLength(), 1000);
  EXPECT_EQ(run.info.RiffEntries().Count(), 0u);
  EXPECT_EQ(run.info.GetTitle(), "");
}

TEST(Riff, OddDataSizeIsPadded) {
  Bytes file = RiffFile(Cat({RiffChunk("data", Audio(1001)), TitleInfo()}));
  ASSERT_EQ(file[12 + 8 + 1001], 0);  // the pad byte
  TInfoRun run(file);
  EXPECT_EQ(run.info.DataLength(), 1001);
  EXPECT_EQ(run.info.GetTitle(), "Title");
  // Without the pad byte the list is looked for one byte late and missed.
  Bytes unpadded = file;
  unpadded.erase(unpadded.begin() + 12 + 8 + 1001);
  EXPECT_EQ(TInfoRun(unpadded).info.RiffEntries().Count(), 0u);
}

TEST(Riff, ReadingStopsAtIID3) {
  Bytes list = InfoList(Cat({RiffChunk("INAM", B("Title\0")), RiffChunk("IID3", B("x")),
                             RiffChunk("IART", B("Artist"))}));
  TInfoRun run(RiffFile(Cat({RiffChunk("data", Audio(100)), list})));
  std::vector<std::string> expected = {"INAM=Title"};
  EXPECT_EQ(run.info.RiffEntries().Lines(), expected);
}

TEST(Riff, ChunksAndListsAreMatchedExactly) {
  // A "list" chunk in lower case and a LIST of another type are walked past.
  Bytes chunks = Cat({RiffChunk("data", Audio(100)), RiffChunk("list", B("INFOxxxx")),
                      RiffChunk("LIST", Cat({B("adtl"), Filled(8, 0)})), TitleInfo()});
  TInfoRun run(RiffFile(chunks));
  EXPECT_EQ(run.info.GetTitle(), "Title");
  // A lower-case "riff" is not a RIFF file.
  Bytes lower = RiffFile(RiffChunk("data", Audio(100)));
  lower[0] = 'r';
  EXPECT_FALSE(TInfoRun(lower).info.FoundInfo().Contains(mitRiff));
}

TEST(Riff, SubChunkLargerThanTheBufferEndsTheList) {
  Bytes list = InfoList(Cat({RiffChunk("INAM", B("Title")), RiffChunk("ICMT", Filled(600, 'c')),
                             RiffChunk("IART", B("Artist"))}));
  TInfoRun run(RiffFile(Cat({RiffChunk("data", Audio(100)), list})), true, 512);
  std::vector<std::string> expected = {"INAM=Title"};
  EXPECT_EQ(run.info.RiffEntries().Lines(), expected);
}

TEST(Riff, ID3v2AtTheStartOfTheDataShrinksTheRange) {
  Bytes tag = ID3v2Tag(ID3v2Frame("TIT2", Latin1Body("Tagged")));
  Bytes file = RiffFile(Cat({Format, RiffChunk("data", Cat({tag, Audio(1000)}))}));
  TInfoRun run(file);
  EXPECT_TRUE(run.info.FoundInfo().Contains(mitRiff));
  EXPECT_TRUE(run.info.FoundInfo().Contains(mitID3V2));
  EXPECT_EQ(run.info.DataStart(), 44 + static_cast<int32_t>(tag.size()));
  EXPECT_EQ(run.info.DataLength(), 1000);
  EXPECT_EQ(run.info.GetTitle(), "Tagged");
}

TEST(Riff, WithoutADataChunkTheTagIsLookedForWhereTheWalkStopped) {
  // The walk fails at the chunk of size 0; an ID3v2 tag is not looked for at the file's start.
  Bytes file = Cat({RiffFile(Cat({Format, RiffChunk("junk", B(""))})), Audio(100)});
  TInfoRun run(file);
  EXPECT_FALSE(run.info.FoundInfo().Contains(mitRiff));
  EXPECT_EQ(run.info.DataStart(), 0);
  EXPECT_EQ(run.info.DataLength(), static_cast<int32_t>(file.size()));
}

TEST(Riff, ID3v1AfterTheLastChunkLiesOutsideTheRange) {
  Bytes riff = RiffFile(Cat({RiffChunk("data", Audio(1000)), TitleInfo()}));
  TInfoRun run(Cat({riff, ID3v1Block("V1 title that is longer", Comment, 17)}));
  EXPECT_TRUE(run.info.FoundInfo().Contains(mitID3V1));
  EXPECT_EQ(run.info.ID3v1Position(), static_cast<int32_t>(riff.size()));
  EXPECT_EQ(run.info.DataLength(), 1000);
  EXPECT_EQ(run.info.GetTitle(), "V1 title that is longer");
  EXPECT_EQ(run.info.GetArtist(), "Artist");  // equal length: ID3v1 first
}

TEST(MacBinary, NameLength) {
  Bytes data = Cat({Audio(300), ID3v1Block("Mac", Comment, 17)});
  struct Case {
    uint8_t nameLength;
    bool recognised;
  } cases[] = {{0, false}, {1, true}, {31, true}, {32, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int{c.nameLength});
    Bytes file = MacBinaryFile(data, c.nameLength);
    TInfoRun run(file);
    EXPECT_EQ(run.info.FoundInfo().Contains(mitMacBin), c.recognised);
    EXPECT_EQ(run.info.DataStart(), c.recognised ? 128 : 0);
    EXPECT_EQ(run.info.DataLength(),
              c.recognised ? static_cast<int32_t>(data.size()) : static_cast<int32_t>(file.size()));
    // The ID3v1 block is found at the end of the data fork, not of the file.
    EXPECT_EQ(run.info.FoundInfo().Contains(mitID3V1), c.recognised);
  }
}

TEST(MacBinary, CheckedHeaderBytes) {
  Bytes data = Audio(300);
  for (size_t offset : {0, 74, 82, 83, 87}) {
    SCOPED_TRACE(offset);
    Bytes file = MacBinaryFile(data);
    file[offset] = offset >= 83 ? 0x80 : 1;  // a non-zero marker, or a negative fork length
    EXPECT_FALSE(TInfoRun(file).info.FoundInfo().Contains(mitMacBin));
  }
}

TEST(MacBinary, HoldingRiff) {
  Bytes riff = RiffFile(Cat({Format, RiffChunk("data", Audio(1000)), TitleInfo()}));
  TInfoRun run(MacBinaryFile(riff));
  EXPECT_TRUE(run.info.FoundInfo().Contains(mitMacBin));
  EXPECT_TRUE(run.info.FoundInfo().Contains(mitRiff));
  EXPECT_EQ(run.info.MacDataStart(), 128);
  EXPECT_EQ(run.info.MacDataEnd(), 128 + static_cast<int32_t>(riff.size()));
  EXPECT_EQ(run.info.DataStart(), 128 + 44);
  EXPECT_EQ(run.info.DataLength(), 1000);
  EXPECT_EQ(run.info.GetTitle(), "Title");
}

TEST(MacBinary, ID3v2AtTheStartOfTheFork) {
  Bytes tag = ID3v2Tag(ID3v2Frame("TIT2", Latin1Body("Fork")));
  Bytes data = Cat({tag, Audio(700)});
  TInfoRun run(MacBinaryFile(data));
  EXPECT_EQ(run.info.DataStart(), 128 + static_cast<int32_t>(tag.size()));
  EXPECT_EQ(run.info.DataLength(), 700);
  EXPECT_EQ(run.info.GetTitle(), "Fork");
}

TEST(Lyrics3, Version1AtTheWindowEdge) {
  // "LYRICSBEGIN" has to start within the 5,100 bytes before "LYRICSEND".
  for (size_t length : {5089, 5090}) {
    SCOPED_TRACE(length);
    std::string lyrics(length, 'l');
    lyrics.replace(0, 6, "[00:01");
    TInfoRun run(Cat({Audio(6000), Lyrics3v1(lyrics), ID3v1Block("T", Comment, 1)}));
    EXPECT_EQ(run.info.FoundInfo().Contains(mitLyrics), length == 5089);
    EXPECT_EQ(run.info.LyricsEntries().Value("LYRICS"), length == 5089 ? lyrics : "");
  }
}

TEST(Lyrics3, Version1KeepsLineBreaksAndNeedsNoID3v1) {
  const std::string lyrics = "line one\r\nline two\r\n";
  TInfoRun run(Cat({Audio(50), Lyrics3v1(lyrics)}));
  EXPECT_TRUE(run.info.FoundInfo().Contains(mitLyrics));
  EXPECT_FALSE(run.info.FoundInfo().Contains(mitID3V1));
  EXPECT_EQ(run.info.LyricsEntries().Lines(), std::vector<std::string>{"LYRICS=" + lyrics});
  // At the very start of the file, with no window before it.
  EXPECT_TRUE(TInfoRun(Lyrics3v1("x")).info.FoundInfo().Contains(mitLyrics));
}

TEST(Lyrics3, Version2Fields) {
  Bytes fields = Cat({Lyrics3v2Field("IND", "10"), Lyrics3v2Field("LYR", "la la\r\nla"),
                      Lyrics3v2Field("ETT", "Title  ")});
  fields = Cat({fields, Lyrics3v2Field("EAL", std::string(1000 - 11 - fields.size() - 8, 'a'))});
  Bytes tag = Lyrics3v2(fields);
  ASSERT_EQ(std::string(tag.end() - 15, tag.end() - 9), "001000");
  TInfoRun run(Cat({Audio(300), tag, ID3v1Block("T", Comment, 1)}));
  EXPECT_TRUE(run.info.FoundInfo().Contains(mitLyrics));
  const TInfoEntries& entries = run.info.LyricsEntries();
  ASSERT_EQ(entries.Count(), 4u);
  EXPECT_EQ(entries.Value("IND"), "10");
  EXPECT_EQ(entries.Value("LYR"), "la la\r\nla");
  EXPECT_EQ(entries.Value("ETT"), "Title  ");  // raw, not trimmed
  // Lyrics3 is not consulted by the accessors.
  EXPECT_EQ(run.info.GetTitle(), "T");
}

TEST(Lyrics3, Version2SizeDigitsMustFitAndPointAtTheBeginMark) {
  Bytes good = Lyrics3v2(Lyrics3v2Field("IND", "10"));
  const size_t digits = good.size() - 15;
  struct Case {
    const char* what;
    std::string sizeDigits;
    bool found;
  } cases[] = {
      {"exact", Digits(good.size() - 15, 6), true},
      {"spaces before", "    " + Digits(good.size() - 15, 2), true},
      {"one too many", Digits(good.size() - 14, 6), false},
      {"one too few", Digits(good.size() - 16, 6), false},
      {"not digits", "00x024", false},
      {"zero", "000000", false},
      {"negative", "-00024", false},
      {"before the file", "999999", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes tag = good;
    std::copy(c.sizeDigits.begin(), c.sizeDigits.end(), tag.begin() + static_cast<long>(digits));
    TInfoRun run(Cat({Audio(30), tag}));
    EXPECT_EQ(run.info.FoundInfo().Contains(mitLyrics), c.found);
  }
}

TEST(Lyrics3, Version2FieldRunningIntoTheSizeDigitsFails) {
  Bytes body = Cat({B("LYRICSBEGIN"), B("IND00002"), B("10"), B("LYR00009"), B("abc")});
  Bytes tag = Cat({body, B(Digits(body.size(), 6)), B("LYRICS200")});
  TInfoRun run(Cat({Audio(30), tag}));
  EXPECT_FALSE(run.info.FoundInfo().Contains(mitLyrics));
  // The field read before the failure stays.
  EXPECT_EQ(run.info.LyricsEntries().Value("IND"), "10");
}

TEST(Lyrics3, InsideAMacBinaryForkItIsLookedForAtTheForkEnd) {
  Bytes data = Cat({Audio(200), Lyrics3v1("mac lyrics")});
  TInfoRun run(MacBinaryFile(data));
  EXPECT_EQ(run.info.LyricsEntries().Value("LYRICS"), "mac lyrics");
}

}  // namespace
}  // namespace tunewell::test
