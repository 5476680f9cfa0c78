// Damaged and hostile size fields: each ends its step with a False result and never reads
// outside the file, throws, or runs away.
#include <gtest/gtest.h>

#include <stdexcept>

#include "info/MP3Info.h"
#include "tests/info/fixtures.h"

namespace tunewell::test {
namespace {

const Bytes Comment = Field("Comment", 30);

Bytes WithBytes(Bytes bytes, size_t at, const Bytes& replacement) {
  std::copy(replacement.begin(), replacement.end(), bytes.begin() + static_cast<long>(at));
  return bytes;
}

TEST(BadInput, ID3v2Sizes) {
  Bytes frames =
      Cat({ID3v2Frame("TIT2", Latin1Body("Title")), ID3v2Frame("TPE1", Latin1Body("A"))});
  Bytes tag = ID3v2Tag(frames);
  const size_t secondSize = 10 + 16 + 4;  // the TPE1 frame's size field
  struct Case {
    const char* what;
    Bytes file;
    bool found;
  } cases[] = {
      {"all size bits set", WithBytes(tag, 6, Bytes{0xFF, 0xFF, 0xFF, 0xFF}), false},
      {"zero size", WithBytes(tag, 6, Bytes{0, 0, 0, 0}), false},
      {"frame past the tag", WithBytes(tag, secondSize, BigEndian(30)), false},
      {"huge frame", WithBytes(tag, secondSize, BigEndian(INT32_MAX)), false},
      {"frame size + 10 past 32 bits", WithBytes(tag, secondSize, BigEndian(INT32_MAX - 9)), false},
      {"negative frame size is padding", WithBytes(tag, secondSize, BigEndian(-5)), true},
      {"extended header larger than the tag",
       Cat({B("ID3"), Bytes{3, 0, 0x40}, SyncSafe(20), BigEndian(21), Filled(16, 0)}), false},
      {"negative extended header",
       Cat({B("ID3"), Bytes{3, 0, 0x40}, SyncSafe(20), BigEndian(-1), Filled(16, 0)}), false},
      {"truncated header", B("ID3\x03\x00"), false},
      {"skipped version past the end", Cat({B("ID3"), Bytes{4, 0, 0, 0, 0, 1, 0}, Filled(10, 0)}),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool seekable : {true, false}) {
      Bytes file = Cat({c.file, Audio(50)});
      TInfoRun run(file, seekable);
      EXPECT_EQ(run.info.FoundInfo().Contains(mitID3V2), c.found);
      if (!c.found) {
        EXPECT_EQ(run.info.DataStart(), 0);
        if (seekable) {
          EXPECT_EQ(run.info.DataLength(), static_cast<int32_t>(file.size()));
        }
      }
    }
  }
}

TEST(BadInput, RiffSizes) {
  struct Case {
    const char* what;
    Bytes chunks;
    bool found;
    int32_t length;
  } cases[] = {
      {"negative chunk before data",
       Cat({B("fmt "), LittleEndian(-8), RiffChunk("data", Audio(100))}), false, 0},
      {"huge chunk before data",
       Cat({B("fmt "), LittleEndian(INT32_MAX), RiffChunk("data", Audio(100))}), false, 0},
      {"negative data", Cat({B("data"), LittleEndian(-100), Audio(100)}), false, 0},
      {"data longer than the file", Cat({B("data"), LittleEndian(INT32_MAX - 1), Audio(100)}), true,
       INT32_MAX - 1},
      {"data longer, then a ring's worth", Cat({B("data"), LittleEndian(70000), Audio(100)}), true,
       70000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool seekable : {true, false}) {
      TInfoRun run(Cat({RiffFile(c.chunks), ID3v1Block("T", Comment, 2)}), seekable);
      EXPECT_EQ(run.info.FoundInfo().Contains(mitRiff), c.found);
      if (c.found) {
        EXPECT_EQ(run.info.DataLength(), c.length);
      }
      // The ID3v1 block is still read at the end of the file.
      EXPECT_EQ(run.info.FoundInfo().Contains(mitID3V1), seekable);
    }
  }
}

TEST(BadInput, RiffInfoListSizes) {
  Bytes data = RiffChunk("data", Audio(100));
  struct Case {
    const char* what;
    Bytes list;
    std::vector<std::string> entries;
  } cases[] = {
      {"negative list size",
       Cat({B("LIST"), LittleEndian(-1), B("INFO"), RiffChunk("INAM", B("T"))}),
       {}},
      {"huge list size",
       Cat({B("LIST"), LittleEndian(INT32_MAX), B("INFO"), RiffChunk("INAM", B("T"))}),
       {"INAM=T"}},
      {"negative sub-chunk",
       Cat({B("LIST"), LittleEndian(30), B("INFO"), RiffChunk("INAM", B("T")), B("IART"),
            LittleEndian(-2), B("Artist")}),
       {"INAM=T"}},
      {"sub-chunk past the file",
       Cat({B("LIST"), LittleEndian(30), B("INFO"), RiffChunk("INAM", B("T")), B("IART"),
            LittleEndian(5000)}),
       {"INAM=T"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TInfoRun run(RiffFile(Cat({data, c.list})));
    EXPECT_EQ(run.info.RiffEntries().Lines(), c.entries);
    EXPECT_TRUE(run.trailing);
  }
}

TEST(BadInput, RiffDataEndingPastTheFileSkipsTheInfoStep) {
  // The list would start beyond the end of the file (and beyond 2 GiB when added up).
  Bytes chunks = Cat({B("data"), LittleEndian(INT32_MAX), Audio(10)});
  TInfoRun run(RiffFile(chunks));
  EXPECT_TRUE(run.info.FoundInfo().Contains(mitRiff));
  EXPECT_EQ(run.info.RiffEntries().Count(), 0u);
  EXPECT_TRUE(run.trailing);
}

TEST(BadInput, MacBinaryForkLongerThanTheFile) {
  Bytes data = Cat({Audio(300), ID3v1Block("T", Comment, 1)});
  for (int32_t forkLength : {100000, INT32_MAX - 1}) {
    SCOPED_TRACE(forkLength);
    Bytes file = Cat({MacBinaryHeader(5, forkLength), data});
    TInfoRun run(file);
    EXPECT_TRUE(run.info.FoundInfo().Contains(mitMacBin));
    EXPECT_EQ(run.info.DataStart(), 128);
    // The stated length is taken as given; the range just ends at the end of the data.
    EXPECT_EQ(run.info.DataLength(), forkLength);
    EXPECT_EQ(run.info.MacDataEnd(), forkLength > 100000 ? INT32_MAX : 128 + forkLength);
    // The fork's end lies beyond the file: no ID3v1 block or Lyrics3 tag is looked for there.
    EXPECT_FALSE(run.info.FoundInfo().Contains(mitID3V1));
    EXPECT_FALSE(run.info.FoundInfo().Contains(mitLyrics));
  }
}

TEST(BadInput, ID3v2LongerThanAMacBinaryForkLeavesAnEmptyRange) {
  Bytes tag = ID3v2Tag(ID3v2Frame("TIT2", Latin1Body("Title")));
  Bytes file = Cat({MacBinaryHeader(5, 10), tag, Audio(100)});
  TInfoRun run(file);
  EXPECT_TRUE(run.info.FoundInfo().Contains(mitID3V2));
  EXPECT_EQ(run.info.DataStart(), 128 + static_cast<int32_t>(tag.size()));
  EXPECT_EQ(run.info.DataLength(), 0);
}

TEST(BadInput, Lyrics3MarksNearTheStartOfTheFile) {
  // "LYRICS200" with fewer than six bytes before it: there are no size digits to read.
  for (size_t before : {0, 3, 5}) {
    SCOPED_TRACE(before);
    TInfoRun run(Cat({Filled(before, '1'), B("LYRICS200")}));
    EXPECT_FALSE(run.info.FoundInfo().Contains(mitLyrics));
    EXPECT_TRUE(run.trailing);
  }
  EXPECT_FALSE(TInfoRun(B("LYRICSEND")).info.FoundInfo().Contains(mitLyrics));
  EXPECT_FALSE(TInfoRun(B("YRICSEND")).info.FoundInfo().Contains(mitLyrics));
}

TEST(BadInput, EmptyAndTinyStreams) {
  for (size_t size : {0, 1, 9, 10, 127, 128}) {
    SCOPED_TRACE(size);
    for (bool seekable : {true, false}) {
      TInfoRun run(Filled(size, 0), seekable);
      EXPECT_EQ(run.leading, size > 0);
      EXPECT_EQ(run.info.DataStart(), 0);
      EXPECT_EQ(run.info.DataLength(), seekable ? static_cast<int32_t>(size) : NoDataEnd);
    }
  }
}

// A file whose seeks to one offset fail, as a failing disk would.
class TFailingSeekStream : public TMemoryStream {
 public:
  TFailingSeekStream(Bytes bytes, int64_t failAt)
      : TMemoryStream(std::move(bytes)), failAt_(failAt) {}
  int64_t Seek(int64_t offset, int origin) override {
    if (origin == 0 && offset == failAt_) throw std::runtime_error("seek failed");
    return TMemoryStream::Seek(offset, origin);
  }

 private:
  int64_t failAt_;
};

TEST(BadInput, ReadErrorsPropagateExceptInTheRiffInfoStep) {
  Bytes riff = RiffFile(Cat({RiffChunk("data", Audio(100)), InfoList(RiffChunk("INAM", B("T")))}));
  Bytes file = Cat({riff, ID3v1Block("Title", Comment, 1)});
  auto run = [&](int64_t failAt) {
    TFailingSeekStream stream(file, failAt);
    TMPStreamReader reader(65536);
    reader.Open(&stream, true);
    TMP3Info info;
    info.SetReader(&reader);
    info.ReadLeadingInfo();
    info.ReadTrailingInfo();
    return info.GetTitle();
  };
  EXPECT_EQ(run(-1), "Title");
  EXPECT_EQ(run(12 + 8 + 100), "Title");  // the seek to the INFO list fails quietly
  EXPECT_THROW(run(static_cast<int64_t>(riff.size())), std::runtime_error);  // the ID3v1 seek
}

}  // namespace
}  // namespace tunewell::test
