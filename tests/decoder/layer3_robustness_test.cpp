// Damaged and unusual streams with a Layer III first frame (ILL*, *nonstandard*, fuzz-*): every
// channel option decodes them through the playback component's loop without a crash, and every
// frame gives either a whole frame of PCM or nothing. Their .pcm, where present, is one
// reasonable output, not a requirement: the table shows how far ours is from it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "decoder/MP3decdr.h"
#include "tests/decoder/layer3_test_support.h"

namespace tunewell::test {
namespace {

bool IsRobustnessVector(const std::string& name) {
  return name.ends_with(".bit") && (name.starts_with("ILL") || name.starts_with("fuzz-") ||
                                    name.find("nonstandard") != std::string::npos);
}

bool FirstFrameIsLayer3(const std::vector<uint8_t>& bytes) {
  TMPEGHeader h{};
  int32_t bitrate = 0;
  uint32_t offset = 0;
  return DecoderFindFirstFrame(bytes.data(), static_cast<uint32_t>(bytes.size()), h, bitrate,
                               offset) > 0 &&
         h.LayerCode == 1;
}

TEST(Layer3Robustness, DamagedStreamsDecodeWholeFramesOrNothing) {
  const std::filesystem::path dir = SharedPath("vectors");
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no vectors at " << dir;
  std::vector<std::filesystem::path> streams;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (IsRobustnessVector(entry.path().filename().string())) streams.push_back(entry.path());
  }
  std::sort(streams.begin(), streams.end());
  int32_t layer3Streams = 0;
  for (const auto& path : streams) {
    const auto bytes = ReadFile(path.string());
    if (!FirstFrameIsLayer3(bytes)) continue;
    ++layer3Streams;
    for (int32_t option = 0; option < 4; ++option) {
      const Layer3Decoded d = DecodeLayer3Stream(bytes, option);
      ASSERT_TRUE(d.Opened) << path;
      EXPECT_EQ(d.BadResults, 0) << path << " option " << option;
      if (option != 0) continue;
      std::printf("| %-46s | %4d frames | %3d not decoded |", path.filename().c_str(), d.Frames,
                  d.UndecodedFrames);
      auto pcmPath = path;
      pcmPath.replace_extension(".pcm");
      const auto reference = ReadFile(pcmPath.string());
      const size_t n = std::min(d.Pcm.size(), reference.size() / 2);
      if (n > 0) {
        double sum = 0;
        for (size_t i = 0; i < n; ++i) {
          const double diff =
              d.Pcm[i] - static_cast<int16_t>(reference[2 * i] | (reference[2 * i + 1] << 8));
          sum += diff * diff;
        }
        std::printf(" against its .pcm: rms %.3f over %zu |", std::sqrt(sum / n), n);
      }
      std::printf("\n");
    }
  }
  EXPECT_GT(layer3Streams, 0);
}

// A free-format stream whose length the search does not find cannot be played; opened with
// lengths of our choosing, its frames still decode safely.
TEST(Layer3Robustness, FreeFormatStreamWithLengthsOfOurChoosing) {
  const std::string path = SharedPath("vectors/l3-nonstandard-big-iscf.bit");
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no vectors";
  const auto bytes = ReadFile(path);
  for (const int32_t length : {1, 24, 48, 100, 417, 1441}) {
    for (int32_t option = 0; option < 4; ++option) {
      const Layer3Decoded d = DecodeLayer3Stream(bytes, option, Synthesis::Decoder, length);
      ASSERT_TRUE(d.Opened);
      EXPECT_EQ(d.BadResults, 0) << length;
      EXPECT_GT(d.Frames, 0);
    }
  }
}

// Cut streams: every prefix length of a damaged stream's first frames, with the frame's bytes
// ending where the input ends.
TEST(Layer3Robustness, StreamsCutAnywhereInTheirFirstFrames) {
  const std::string path = SharedPath("vectors/l3-nonstandard-compl-sideinfo-bigvalues.bit");
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no vectors";
  const auto bytes = ReadFile(path);
  for (size_t length = 4; length < 800; length += 7) {
    const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length));
    const Layer3Decoded d = DecodeLayer3Stream(cut, 0);
    EXPECT_EQ(d.BadResults, 0) << length;
  }
}

}  // namespace
}  // namespace tunewell::test
