// Layer III conformance: decoded streams against the reference output of ../shared/vectors.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "tests/decoder/layer3_test_support.h"

namespace tunewell::test {
namespace {

struct Difference {
  double Rms = 0;
  int32_t Max = 0;
  size_t Compared = 0;
};

Difference Compare(const std::vector<int16_t>& decoded, const std::vector<uint8_t>& reference) {
  Difference d;
  const size_t n = std::min(decoded.size(), reference.size() / 2);
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    const int16_t ref = static_cast<int16_t>(reference[2 * i] | (reference[2 * i + 1] << 8));
    const int32_t diff = std::abs(decoded[i] - ref);
    sum += static_cast<double>(diff) * diff;
    d.Max = std::max(d.Max, diff);
  }
  d.Compared = n;
  d.Rms = n > 0 ? std::sqrt(sum / static_cast<double>(n)) : 0;
  return d;
}

class Layer3Conformance : public ::testing::TestWithParam<const char*> {};

TEST_P(Layer3Conformance, MeetsFullAccuracy) {
  const std::string name = GetParam();
  const std::string bit = SharedPath("vectors/" + name + ".bit");
  if (!std::filesystem::exists(bit)) GTEST_SKIP() << "no conformance vectors at " << bit;
  const auto decoded = DecodeLayer3Stream(ReadFile(bit));
  ASSERT_TRUE(decoded.Opened);
  const auto d = Compare(decoded.Pcm, ReadFile(SharedPath("vectors/" + name + ".pcm")));
  std::printf("%-24s frames %5d  compared %8zu  rms %.4f  max %d\n", name.c_str(), decoded.Frames,
              d.Compared, d.Rms, d.Max);
  EXPECT_GT(d.Compared, 0u);
  EXPECT_LT(d.Rms, 0.2887);
  EXPECT_LE(d.Max, 2);
}

INSTANTIATE_TEST_SUITE_P(Streams, Layer3Conformance,
                         ::testing::Values("l3-compl", "l3-he_32khz", "l3-he_44khz", "l3-he_48khz",
                                           "l3-he_free", "l3-he_mode", "l3-hecommon", "l3-si",
                                           "l3-si_block", "l3-si_huff", "l3-sin1k0db", "l3-test45",
                                           "l3-test46", "M2L3_bitrate_16_all",
                                           "M2L3_bitrate_22_all", "M2L3_bitrate_24_all",
                                           "M2L3_compl24", "M2L3_noise"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (auto& ch : n) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return n;
                         });

}  // namespace
}  // namespace tunewell::test
