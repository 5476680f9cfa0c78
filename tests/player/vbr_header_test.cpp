#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "player/MP3Plyr.h"

namespace tunewell {
namespace {

void PutBigEndian(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

struct Fixture {
  const char* what;
  uint8_t header[4];
  int32_t frameLength;
  size_t tagAt;
  const char* tag;
  uint32_t flags;  // Xing flags; ignored for VBRI
  bool skipped;    // the frame is taken as a header frame
};

// A first frame with a tag written at `tagAt`, followed by a few kilobytes of further audio.
std::vector<uint8_t> MakeStream(const Fixture& f, uint32_t byteCount) {
  std::vector<uint8_t> bytes(static_cast<size_t>(f.frameLength) + 4000, 0);
  std::memcpy(bytes.data(), f.header, 4);
  std::memcpy(bytes.data() + f.tagAt, f.tag, 4);
  if (std::strcmp(f.tag, "VBRI") == 0) {
    PutBigEndian(bytes, f.tagAt + 10, byteCount);
    PutBigEndian(bytes, f.tagAt + 14, 1234);
  } else {
    PutBigEndian(bytes, f.tagAt + 4, f.flags);
    size_t at = f.tagAt + 8;
    if (f.flags & 1) PutBigEndian(bytes, (at += 4) - 4, 1234);
    if (f.flags & 2) PutBigEndian(bytes, at, byteCount);
  }
  return bytes;
}

TEST(VbrHeader, PositionsByVersionModeAndCrc) {
  const Fixture cases[] = {
      {"MPEG-1 stereo", {0xFF, 0xFB, 0x90, 0x64}, 417, 36, "Xing", 3, true},
      {"MPEG-1 stereo, bytes only", {0xFF, 0xFB, 0x90, 0x64}, 417, 36, "Xing", 2, true},
      {"MPEG-1 mono", {0xFF, 0xFB, 0x90, 0xC4}, 417, 21, "Xing", 3, true},
      {"MPEG-1 stereo with CRC", {0xFF, 0xFA, 0x90, 0x64}, 417, 38, "Xing", 3, true},
      {"MPEG-1 mono with CRC", {0xFF, 0xFA, 0x90, 0xC4}, 417, 23, "Xing", 3, true},
      {"MPEG-2 stereo", {0xFF, 0xF3, 0x90, 0x64}, 208, 21, "Xing", 3, true},
      {"MPEG-2 mono", {0xFF, 0xF3, 0x90, 0xC4}, 208, 13, "Xing", 3, true},
      {"MPEG-2.5 mono", {0xFF, 0xE3, 0x90, 0xC4}, 417, 13, "Xing", 3, true},
      {"VBRI, MPEG-1 stereo", {0xFF, 0xFB, 0x90, 0x64}, 417, 36, "VBRI", 0, true},
      {"VBRI at 36 of a mono frame", {0xFF, 0xFB, 0x90, 0xC4}, 417, 36, "VBRI", 0, false},
      {"VBRI at 36 of an MPEG-2 frame", {0xFF, 0xF3, 0x90, 0x64}, 208, 36, "VBRI", 0, false},
      {"lower-case tag is audio", {0xFF, 0xFB, 0x90, 0x64}, 417, 36, "xing", 3, false},
  };
  for (const Fixture& f : cases) {
    TMemoryStream stream(MakeStream(f, 100000));
    TMPStreamReader reader(65536);
    reader.Open(&stream, true);
    ASSERT_TRUE(reader.Ensure(f.frameLength));
    int32_t pending = f.frameLength;
    int32_t start = 0;
    int32_t size = 500000;
    TMPEGHeader first{};
    ASSERT_GT(DecoderParseHeader(f.header, 4, first), 0) << f.what;
    ASSERT_TRUE(ReadVbrHeader(reader, first, pending, start, size)) << f.what;
    if (f.skipped) {
      EXPECT_EQ(pending, 0) << f.what;
      EXPECT_EQ(start, f.frameLength) << f.what;
      EXPECT_EQ(reader.Position(), f.frameLength) << f.what;
      EXPECT_EQ(size, (f.flags == 0 || (f.flags & 2) ? 100000 : 500000) - f.frameLength) << f.what;
    } else {
      EXPECT_EQ(pending, f.frameLength) << f.what;
      EXPECT_EQ(start, 0) << f.what;
      EXPECT_EQ(size, 500000) << f.what;
      EXPECT_EQ(reader.Position(), 0) << f.what;
    }
  }
}

TEST(VbrHeader, FrameCountOnlyKeepsTheExtentAndAnOpenEndStaysOpen) {
  const Fixture f{"frames only", {0xFF, 0xFB, 0x90, 0x64}, 417, 36, "Xing", 1, true};
  TMemoryStream stream(MakeStream(f, 0));
  TMPStreamReader reader(65536);
  reader.Open(&stream, true);
  ASSERT_TRUE(reader.Ensure(417));
  TMPEGHeader first{};
  DecoderParseHeader(f.header, 4, first);
  int32_t pending = 417, start = 10, size = UnboundedAudioSize;
  ASSERT_TRUE(ReadVbrHeader(reader, first, pending, start, size));
  EXPECT_EQ(start, 427);
  EXPECT_EQ(size, UnboundedAudioSize);
}

TEST(VbrHeader, ZeroOrNegativeCountsAreIgnored) {
  for (uint32_t count : {0u, 0x80000000u, 0xFFFFFFFFu}) {
    const Fixture f{"count", {0xFF, 0xFB, 0x90, 0x64}, 417, 36, "Xing", 2, true};
    TMemoryStream stream(MakeStream(f, count));
    TMPStreamReader reader(65536);
    reader.Open(&stream, true);
    ASSERT_TRUE(reader.Ensure(417));
    TMPEGHeader first{};
    DecoderParseHeader(f.header, 4, first);
    int32_t pending = 417, start = 0, size = 3000;
    ASSERT_TRUE(ReadVbrHeader(reader, first, pending, start, size));
    EXPECT_EQ(size, 3000 - 417) << count;
  }
}

TEST(VbrHeader, AHeaderFrameCutShortFailsTheOpen) {
  const Fixture f{"cut", {0xFF, 0xFB, 0x90, 0x64}, 417, 36, "Xing", 3, true};
  auto bytes = MakeStream(f, 5000);
  bytes.resize(300);
  TMemoryStream stream(bytes);
  TMPStreamReader reader(65536);
  reader.Open(&stream, true);
  TMPEGHeader first{};
  DecoderParseHeader(f.header, 4, first);
  int32_t pending = 417, start = 0, size = 300;
  EXPECT_FALSE(ReadVbrHeader(reader, first, pending, start, size));
}

TEST(VbrHeader, ATinyFrameAtTheEndOfTheDataIsReadSafely) {
  // An 8 kbit/s MPEG-2 mono frame of 26 bytes: the tag's fields would lie past the data.
  std::vector<uint8_t> bytes = {0xFF, 0xF3, 0x10, 0xC0};
  bytes.resize(26, 0);
  std::memcpy(bytes.data() + 13, "Xing", 4);
  bytes[20] = 3;
  TMemoryStream stream(bytes);
  TMPStreamReader reader(65536);
  reader.Open(&stream, true);
  ASSERT_TRUE(reader.Ensure(26));
  TMPEGHeader first{};
  ASSERT_EQ(DecoderParseHeader(bytes.data(), 4, first), 26);
  int32_t pending = 26, start = 0, size = 26;
  ASSERT_TRUE(ReadVbrHeader(reader, first, pending, start, size));
  EXPECT_EQ(start, 26);
  EXPECT_EQ(size, 0);
}

}  // namespace
}  // namespace tunewell
