#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <system_error>
#include <vector>

#include "stream/MPAssert.h"
#include "stream/MPStreamReader.h"

namespace tunewell {
namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return bytes;
}

// A memory stream that counts the calls made on it and can cap each read.
class ProbeStream : public TMemoryStream {
 public:
  explicit ProbeStream(std::vector<uint8_t> bytes, int32_t maxRead = INT32_MAX)
      : TMemoryStream(std::move(bytes)), maxRead_(maxRead) {}
  int32_t Read(void* buffer, int32_t count) override {
    ++reads;
    return TMemoryStream::Read(buffer, std::min(count, maxRead_));
  }
  int64_t Seek(int64_t offset, int origin) override {
    ++seeks;
    return TMemoryStream::Seek(offset, origin);
  }
  int reads = 0;
  int seeks = 0;

 private:
  int32_t maxRead_;
};

void ExpectBytes(const TMPStreamReader& reader, const std::vector<uint8_t>& source, size_t from,
                 int32_t count) {
  ASSERT_LE(count, reader.Contiguous());
  for (int32_t i = 0; i < count; ++i) {
    ASSERT_EQ(reader.Current()[i], source[from + static_cast<size_t>(i)]) << "byte " << i;
  }
}

TEST(StreamReader, EnsureRotatesAWrappedRingIntoOnePiece) {
  const auto source = Pattern(65544);
  ProbeStream stream(source);
  TMPStreamReader reader(65536);
  reader.Open(&stream, true);
  ASSERT_TRUE(reader.Fill(65536));
  ASSERT_TRUE(reader.Skip(65534));
  ASSERT_TRUE(reader.Fill(10));
  ASSERT_EQ(reader.Start(), 65534);
  ASSERT_EQ(reader.Count(), 10);

  ASSERT_TRUE(reader.Ensure(4));
  EXPECT_EQ(reader.Start(), 0);
  EXPECT_EQ(reader.Contiguous(), 10);
  ExpectBytes(reader, source, 65534, 10);
}

// Both ways of rotating: the wrapped piece moved first, or the first piece held aside.
TEST(StreamReader, MakeContiguousKeepsTheOrderWhicheverPieceIsLarger) {
  struct Case {
    int32_t skip, fill;
  };
  for (const Case c : {Case{60, 50}, Case{40, 70}, Case{95, 100}, Case{5, 100}}) {
    const auto source = Pattern(400);
    ProbeStream stream(source, 10);
    TMPStreamReader reader(100);
    reader.Open(&stream, true);
    ASSERT_TRUE(reader.Fill(100));
    ASSERT_TRUE(reader.Skip(c.skip));
    ASSERT_TRUE(reader.Fill(c.fill));
    reader.MakeContiguous();
    EXPECT_EQ(reader.Start(), 0);
    ExpectBytes(reader, source, static_cast<size_t>(c.skip), reader.Count());
  }
}

TEST(StreamReader, FillRoundsSmallRequestsUpToOneChunk) {
  ProbeStream stream(Pattern(100000));
  TMPStreamReader reader(65536);
  reader.Open(&stream, true);
  EXPECT_TRUE(reader.Fill(0));
  EXPECT_EQ(stream.reads, 0);
  EXPECT_TRUE(reader.Fill(100));
  EXPECT_EQ(reader.Count(), 16384);
  EXPECT_EQ(stream.reads, 1);

  reader.Seek(500, 0);
  EXPECT_EQ(reader.Count(), 0);
  EXPECT_TRUE(reader.Fill(100));
  EXPECT_EQ(reader.Count(), 16384);
}

TEST(StreamReader, FillGathersShortReadsAndStopsAtTheEnd) {
  const auto source = Pattern(1000);
  ProbeStream stream(source, 7);
  TMPStreamReader reader(4096);
  reader.Open(&stream, true);
  EXPECT_TRUE(reader.Ensure(50));
  ExpectBytes(reader, source, 0, 50);
  EXPECT_FALSE(reader.Fill(2000));
  EXPECT_EQ(reader.Count(), 1000);
  EXPECT_FALSE(reader.Ensure(1001));
  EXPECT_EQ(reader.Count(), 1000);
}

TEST(StreamReader, ViolatedPreconditionsRaiseAssertionsAndChangeNothing) {
  ProbeStream stream(Pattern(100));
  TMPStreamReader reader(64);
  EXPECT_THROW(reader.Fill(1), EAssertionFailed);
  EXPECT_THROW(reader.Open(nullptr, true), EAssertionFailed);
  EXPECT_THROW(TMPStreamReader(0), EAssertionFailed);

  reader.Open(&stream, true);
  ASSERT_TRUE(reader.Fill(10));
  const int32_t count = reader.Count();
  try {
    reader.Fill(65);
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Assertion failure (mp3plyr, line ", 0), 0u) << e.what();
  }
  EXPECT_THROW(reader.Ensure(65), EAssertionFailed);
  EXPECT_THROW(reader.Fill(-1), EAssertionFailed);
  EXPECT_THROW(reader.Skip(-1), EAssertionFailed);
  EXPECT_EQ(reader.Count(), count);
  EXPECT_EQ(reader.Position(), 0);

  TNonSeekableStream pipe(stream);
  reader.Open(&pipe, false);
  EXPECT_THROW(reader.Seek(0, 0), EAssertionFailed);
  reader.Close();
  EXPECT_THROW(reader.Skip(1), EAssertionFailed);
  EXPECT_THROW(reader.ReadAhead(), EAssertionFailed);
}

TEST(StreamReader, SkipWithinTheRingNeverTouchesTheSource) {
  ProbeStream stream(Pattern(50000));
  TMPStreamReader reader(65536);
  reader.Open(&stream, true);
  ASSERT_TRUE(reader.Ensure(4));
  const int reads = stream.reads;
  EXPECT_TRUE(reader.Skip(417));
  EXPECT_TRUE(reader.Skip(reader.Count()));
  EXPECT_EQ(stream.reads, reads);
  EXPECT_EQ(stream.seeks, 0);
  EXPECT_EQ(reader.Position(), 16384);
}

TEST(StreamReader, SeekableSkipPastTheRingSeeks) {
  const auto source = Pattern(50000);
  ProbeStream stream(source);
  TMPStreamReader reader(65536);
  reader.Open(&stream, true);
  ASSERT_TRUE(reader.Ensure(4));
  ASSERT_TRUE(reader.Skip(417));
  ASSERT_TRUE(reader.Skip(20000));
  EXPECT_EQ(reader.Position(), 20417);
  EXPECT_EQ(reader.Count(), 0);
  ASSERT_TRUE(reader.Ensure(8));
  ExpectBytes(reader, source, 20417, 8);
}

TEST(StreamReader, SeekableSkipAtTheEnd) {
  struct Case {
    int32_t skip;
    bool result;
  };
  for (const Case c : {Case{20, false}, Case{10, true}}) {
    ProbeStream stream(Pattern(1000), 5);
    TMPStreamReader reader(65536);
    reader.Open(&stream, true);
    reader.Seek(990, 0);
    ASSERT_TRUE(reader.Fill(5));
    ASSERT_EQ(reader.Count(), 5);
    EXPECT_EQ(reader.Skip(c.skip), c.result) << c.skip;
    EXPECT_EQ(reader.Position(), 1000);
    EXPECT_EQ(reader.Count(), 0);
    EXPECT_EQ(stream.Seek(0, 1), 1000);
  }
}

TEST(StreamReader, NonSeekableSkipDiscardsWholeRings) {
  const auto source = Pattern(300000);
  TMemoryStream memory(source);
  TNonSeekableStream pipe(memory);
  TMPStreamReader reader(65536);
  reader.Open(&pipe, false);
  ASSERT_TRUE(reader.Ensure(4));
  ASSERT_TRUE(reader.Skip(140000));
  EXPECT_EQ(reader.Position(), 140000);
  ASSERT_TRUE(reader.Ensure(16));
  ExpectBytes(reader, source, 140000, 16);

  EXPECT_FALSE(reader.Skip(200000));
  EXPECT_EQ(reader.Count(), 0);
  EXPECT_FALSE(reader.Fill(1));
}

TEST(StreamReader, ReadAheadReadsOneChunkUntilTheRingIsFull) {
  ProbeStream stream(Pattern(200000));
  TMPStreamReader reader(40000);
  reader.Open(&stream, true);
  EXPECT_TRUE(reader.ReadAhead());
  EXPECT_EQ(reader.Count(), 16384);
  EXPECT_TRUE(reader.ReadAhead());
  EXPECT_TRUE(reader.ReadAhead());
  EXPECT_EQ(reader.Count(), 40000);
  const int reads = stream.reads;
  EXPECT_FALSE(reader.ReadAhead());
  EXPECT_EQ(stream.reads, reads);
}

TEST(StreamReader, ReopenStartsAtPositionZeroAndCloseReleases) {
  const auto first = Pattern(100);
  TMemoryStream a(first), b(Pattern(30));
  TMPStreamReader reader(64);
  reader.Open(&a, true);
  EXPECT_EQ(reader.Size(), 100);
  ASSERT_TRUE(reader.Skip(20));
  reader.Open(&b, true);
  EXPECT_EQ(reader.Position(), 0);
  EXPECT_EQ(reader.Count(), 0);
  EXPECT_EQ(reader.Size(), 30);
  reader.Close();
  EXPECT_FALSE(reader.Opened());
  EXPECT_EQ(reader.Stream(), nullptr);
  EXPECT_EQ(reader.Size(), 0);
  reader.Close();
}

TEST(AlignedBlocks, AreAlignedWritableAndFreed) {
  for (size_t alignment : {1u, 2u, 4u, 8u, 16u, 64u, 4096u}) {
    for (size_t size : {0u, 1u, 13u, 65536u}) {
      auto* block = static_cast<uint8_t*>(AllocAligned(size, alignment));
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignment, 0u);
      std::fill(block, block + size, uint8_t{0xAB});
      FreeAligned(block);
    }
  }
  FreeAligned(nullptr);
}

TEST(FileStream, ReadsSeeksAndReportsMissingFiles) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("tw_stream_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto path = dir / "data.bin";
  const auto bytes = Pattern(3000);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));

  TFileStream file(path.string());
  EXPECT_EQ(file.Size(), 3000);
  TMPStreamReader reader(1024);
  reader.Open(&file, true);
  ASSERT_TRUE(reader.Skip(2000));
  ASSERT_TRUE(reader.Ensure(1000));
  ExpectBytes(reader, bytes, 2000, 1000);

  EXPECT_THROW(TFileStream((dir / "missing.mp3").string()), std::system_error);
  EXPECT_THROW(TFileStream(dir.string()), std::system_error);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tunewell
