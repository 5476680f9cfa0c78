#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "decoder/MP3decdr.h"

namespace tunewell {
namespace {

// Heap copies of exactly the given size, so a read past the end shows under AddressSanitizer.
std::unique_ptr<uint8_t[]> Exact(const std::vector<uint8_t>& bytes) {
  auto copy = std::make_unique<uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return copy;
}

TEST(FrameHeader, ParsesTheFieldsOfAnMpeg1LayerIIIHeader) {
  const uint8_t bytes[] = {0xFF, 0xFB, 0x90, 0x64};
  TMPEGHeader h{};
  EXPECT_EQ(DecoderParseHeader(bytes, 4, h), 417);
  EXPECT_EQ(h.SyncKind, 1);
  EXPECT_EQ(h.VersionId, 1);
  EXPECT_EQ(h.LayerCode, 1);
  EXPECT_EQ(h.ProtectionBit, 1);
  EXPECT_EQ(h.BitrateIndex, 9);
  EXPECT_EQ(h.SampleRateIndex, 0);
  EXPECT_EQ(h.PaddingBit, 0);
  EXPECT_EQ(h.Mode, 1);
  EXPECT_EQ(h.ModeExtension, 2);
  EXPECT_EQ(h.RightsBit, 0);
  EXPECT_EQ(h.HomeBit, 1);
  EXPECT_EQ(h.Emphasis, 0);
}

TEST(FrameHeader, FrameLengthsAndRejections) {
  struct Case {
    const char* what;
    uint8_t b[4];
    int32_t length;  // INT32_MIN: any negative value
  };
  const Case cases[] = {
      {"MPEG-1 L3 128k 44100", {0xFF, 0xFB, 0x90, 0x64}, 417},
      {"padding is the caller's", {0xFF, 0xFB, 0x92, 0x64}, 417},
      {"MPEG-1 L3 320k 48000", {0xFF, 0xFB, 0xE4, 0x00}, 960},
      {"MPEG-2 L3 8k 22050", {0xFF, 0xF3, 0x10, 0xC0}, 26},
      {"MPEG-2.5 L3 8k 11025", {0xFF, 0xE3, 0x10, 0xC0}, 52},
      {"MPEG-2 L3 160k 24000", {0xFF, 0xF3, 0xE4, 0x00}, 480},
      {"MPEG-1 L1 32k 44100", {0xFF, 0xFF, 0x10, 0x00}, 32},
      {"MPEG-1 L1 448k 48000", {0xFF, 0xFF, 0xE4, 0x00}, 448},
      {"MPEG-1 L2 192k 32000", {0xFF, 0xFD, 0xA8, 0x00}, 864},
      {"MPEG-2 L2 128k 24000", {0xFF, 0xF5, 0xC4, 0x00}, 768},
      {"MPEG-2.5 L2 takes the MPEG-2 row", {0xFF, 0xE5, 0xC4, 0x00}, 768},
      {"MPEG-2.5 sync with VersionId 1 reads as MPEG-1", {0xFF, 0xEB, 0x90, 0x64}, 417},
      {"reserved layer", {0xFF, 0xF9, 0x90, 0x64}, 0},
      {"forbidden bit rate", {0xFF, 0xFB, 0xF0, 0x64}, 0},
      {"no sync", {0xFF, 0x7B, 0x90, 0x64}, 0},
      {"no sync byte", {0xFE, 0xFB, 0x90, 0x64}, 0},
      {"reserved sampling frequency", {0xFF, 0xFB, 0x9C, 0x64}, INT32_MIN},
  };
  for (const Case& c : cases) {
    TMPEGHeader h{};
    const int32_t length = DecoderParseHeader(c.b, 4, h);
    if (c.length == INT32_MIN) {
      EXPECT_LT(length, 0) << c.what;
    } else {
      EXPECT_EQ(length, c.length) << c.what;
    }
  }
}

TEST(FrameHeader, NoSyncLeavesTheOtherFieldsAlone) {
  TMPEGHeader h{};
  h.Mode = 2;
  h.SyncKind = 1;
  const uint8_t bytes[] = {0x00, 0xFB, 0x90, 0x64};
  EXPECT_EQ(DecoderParseHeader(bytes, 4, h), 0);
  EXPECT_EQ(h.SyncKind, 0);
  EXPECT_EQ(h.Mode, 2);
}

// A free-format stream: frames of `length` bytes (plus padding slots) with identical first two
// bytes, padded where `padded` says.
std::vector<uint8_t> FreeFormatStream(uint8_t byte1, int32_t length, int32_t slot, size_t size,
                                      bool firstPadded) {
  std::vector<uint8_t> bytes(size, 0);
  size_t at = 0;
  bool padded = firstPadded;
  while (at + 4 <= size) {
    bytes[at] = 0xFF;
    bytes[at + 1] = byte1;
    bytes[at + 2] = padded ? 0x02 : 0x00;
    bytes[at + 3] = 0x00;
    at += static_cast<size_t>(length + (padded ? slot : 0));
    padded = false;
  }
  return bytes;
}

TEST(FrameHeader, FreeFormatLengthFollowsTheChain) {
  struct Case {
    const char* what;
    uint8_t byte1;
    int32_t slot;
    bool firstPadded;
  };
  const Case cases[] = {
      {"Layer III", 0xFB, 1, false},
      {"Layer III, padded first frame", 0xFB, 1, true},
      {"Layer I", 0xFF, 4, false},
      {"Layer I, padded first frame", 0xFF, 4, true},
  };
  for (const Case& c : cases) {
    const auto stream = FreeFormatStream(c.byte1, 300, c.slot, 10000, c.firstPadded);
    const auto exact = Exact(stream);
    EXPECT_EQ(DecoderFindFreeFormatLength(exact.get(), 10000), 300) << c.what;
    TMPEGHeader h{};
    EXPECT_EQ(DecoderParseHeader(exact.get(), 10000, h), 300) << c.what;
    EXPECT_EQ(DecoderParseHeader(exact.get(), 0, h), 0) << c.what << ": no window";
  }
}

TEST(FrameHeader, FreeFormatSearchLimits) {
  // Frames of 24 bytes need a window of 28 to hold a second header.
  const auto shortFrames = FreeFormatStream(0xFB, 24, 1, 64, false);
  const auto exact = Exact(shortFrames);
  EXPECT_EQ(DecoderFindFreeFormatLength(exact.get(), 27), 0);
  EXPECT_EQ(DecoderFindFreeFormatLength(exact.get(), 28), 24);

  // A frame whose first two bytes change breaks the chain through it; the walk checks only the
  // headers it lands on, so the next candidate that steps over the broken frame is taken.
  auto broken = FreeFormatStream(0xFB, 300, 1, 2000, false);
  broken[900 + 1] = 0xFA;
  const auto brokenExact = Exact(broken);
  EXPECT_EQ(DecoderFindFreeFormatLength(brokenExact.get(), 2000), 600);

  // Nothing chains when every later header differs.
  auto lonely = FreeFormatStream(0xFB, 300, 1, 2000, false);
  for (size_t at = 300; at < 2000; at += 300) lonely[at + 1] = 0xFA;
  const auto lonelyExact = Exact(lonely);
  EXPECT_EQ(DecoderFindFreeFormatLength(lonelyExact.get(), 2000), 0);

  // A huge available count is clamped to the 10000-byte window, so only that much is read.
  const auto big = FreeFormatStream(0xFB, 300, 1, 10000, false);
  const auto bigExact = Exact(big);
  EXPECT_EQ(DecoderFindFreeFormatLength(bigExact.get(), 0xFFFFFFFFu), 300);
}

TEST(FirstFrame, FindsTheFirstSyncAndItsBitrate) {
  const auto buffer = Exact({0x00, 0x12, 0xFF, 0xFB, 0x90, 0x64, 0x00, 0x00});
  TMPEGHeader h{};
  int32_t bitrate = -1;
  uint32_t offset = 99;
  EXPECT_EQ(DecoderFindFirstFrame(buffer.get(), 8, h, bitrate, offset), 417);
  EXPECT_EQ(offset, 2u);
  EXPECT_EQ(bitrate, 128000);
  EXPECT_EQ(h.BitrateIndex, 9);
}

TEST(FirstFrame, OnlyTheFirstSyncPatternIsTried) {
  const auto buffer = Exact({0xFF, 0xF9, 0x90, 0x64, 0xFF, 0xFB, 0x90, 0x64});
  TMPEGHeader h{};
  int32_t bitrate = -1;
  uint32_t offset = 99;
  EXPECT_EQ(DecoderFindFirstFrame(buffer.get(), 8, h, bitrate, offset), 0);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(bitrate, 0);
}

TEST(FirstFrame, NoSyncWritesNothing) {
  const auto buffer = Exact({0x00, 0xFF, 0x12, 0xFF});
  TMPEGHeader h{};
  int32_t bitrate = -1;
  uint32_t offset = 99;
  EXPECT_EQ(DecoderFindFirstFrame(buffer.get(), 4, h, bitrate, offset), 0);
  EXPECT_EQ(offset, 99u);
  EXPECT_EQ(bitrate, -1);
  EXPECT_EQ(DecoderFindFirstFrame(buffer.get(), 0, h, bitrate, offset), 0);
  EXPECT_EQ(offset, 99u);
}

TEST(FirstFrame, ASyncTooCloseToTheEndIsUnusable) {
  for (uint32_t tail : {2u, 3u}) {
    std::vector<uint8_t> bytes(10, 0);
    bytes[10 - tail] = 0xFF;
    bytes[10 - tail + 1] = 0xFB;
    if (tail == 3) bytes[9] = 0x90;
    const auto buffer = Exact(bytes);
    TMPEGHeader h{};
    int32_t bitrate = -1;
    uint32_t offset = 99;
    EXPECT_EQ(DecoderFindFirstFrame(buffer.get(), 10, h, bitrate, offset), 0);
    EXPECT_EQ(offset, 10 - tail);
    EXPECT_EQ(bitrate, 0);
  }
}

TEST(FirstFrame, FreeFormatBitratesByLayerAndVersion) {
  struct Case {
    const char* what;
    uint8_t byte1;
    int32_t slot;
    int32_t bitrate;
  };
  const Case cases[] = {
      {"MPEG-1 L3 44100", 0xFB, 1, 300 * 882 * 1000 / 2880},
      {"MPEG-1 L2 44100", 0xFD, 1, 300 * 882 * 1000 / 2880},
      {"MPEG-1 L1 44100", 0xFF, 4, 300 * 882 * 1000 / 960},
      {"MPEG-2 L3 22050", 0xF3, 1, 300 * 441 * 1000 / 1440},
      {"MPEG-2.5 L3 11025", 0xE3, 1, 300 * 441 * 500 / 1440},
  };
  for (const Case& c : cases) {
    const auto stream = FreeFormatStream(c.byte1, 300, c.slot, 10000, false);
    const auto exact = Exact(stream);
    TMPEGHeader h{};
    int32_t bitrate = -1;
    uint32_t offset = 99;
    EXPECT_EQ(DecoderFindFirstFrame(exact.get(), 10000, h, bitrate, offset), 300) << c.what;
    EXPECT_EQ(bitrate, c.bitrate) << c.what;
    EXPECT_EQ(offset, 0u);
  }
}

TEST(FrameHeader, CompatibilityMaskIgnoresWhatMayChangeBetweenFrames) {
  auto word = [](uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return static_cast<uint32_t>(b0) | static_cast<uint32_t>(b1) << 8 |
           static_cast<uint32_t>(b2) << 16 | static_cast<uint32_t>(b3) << 24;
  };
  const uint32_t first = word(0xFF, 0xFB, 0x90, 0x64);
  EXPECT_EQ(first & HeaderCompatibilityMask,
            word(0xFF, 0xFA, 0xE3, 0xFF) & HeaderCompatibilityMask);
  EXPECT_NE(first & HeaderCompatibilityMask,
            word(0xFF, 0xFB, 0x94, 0x64) & HeaderCompatibilityMask);
  EXPECT_NE(first & HeaderCompatibilityMask,
            word(0xFF, 0xF3, 0x90, 0x64) & HeaderCompatibilityMask);
}

}  // namespace
}  // namespace tunewell
