// Polyphase synthesis against the standard's own formulation (64-value vectors, a 1024-value
// shift buffer and the 512-tap window D), for every driver.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "decoder/decoder_state.h"
#include "decoder/layer12_tables.h"
#include "decoder/synthesis.h"

namespace tunewell::test {
namespace {

// The synthesis of ISO/IEC 11172-3 as it is written there, in double precision.
class TStandardSynthesis {
 public:
  std::array<int16_t, 32> Slot(const float* subbands, int32_t stride = 1) {
    for (size_t i = V.size() - 1; i >= 64; --i) V[i] = V[i - 64];
    for (int32_t i = 0; i < 64; ++i) {
      double sum = 0.0;
      for (int32_t k = 0; k < 32; ++k) {
        sum += std::cos((16 + i) * (2 * k + 1) * std::numbers::pi / 64) * subbands[stride * k];
      }
      V[static_cast<size_t>(i)] = sum;
    }
    std::array<int16_t, 32> out{};
    for (int32_t j = 0; j < 32; ++j) {
      double sum = 0.0;
      for (int32_t i = 0; i < 8; ++i) {
        sum += V[static_cast<size_t>(128 * i + j)] * D(64 * i + j);
        sum += V[static_cast<size_t>(128 * i + 96 + j)] * D(64 * i + 32 + j);
      }
      const double r = std::nearbyint(sum);
      out[static_cast<size_t>(j)] = static_cast<int16_t>(std::clamp(r, -32768.0, 32767.0));
    }
    return out;
  }

 private:
  static double D(int32_t i) { return SynthesisWindowUnits[static_cast<size_t>(i)] / 65536.0; }
  std::array<double, 1024> V{};
};

std::vector<float> RandomSamples(size_t count, float amplitude, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-amplitude, amplitude);
  std::vector<float> v(count);
  for (float& x : v) x = dist(gen);
  return v;
}

// The even and the odd words of interleaved output.
std::pair<std::vector<int16_t>, std::vector<int16_t>> SplitChannels(
    const std::vector<int16_t>& out) {
  std::pair<std::vector<int16_t>, std::vector<int16_t>> channels;
  for (size_t i = 0; i + 1 < out.size(); i += 2) {
    channels.first.push_back(out[i]);
    channels.second.push_back(out[i + 1]);
  }
  return channels;
}

class Synthesis : public ::testing::Test {
 protected:
  void SetUp() override {
    DecoderSelectRoutines(CpuFpu);
    ResetSynthesis();
  }

  // Mono output of the standard synthesis for `rows` slots of `stride`-spaced values.
  static std::vector<int16_t> Standard(const std::vector<float>& samples, int32_t rows,
                                       int32_t rowValues, int32_t offset, int32_t stride) {
    TStandardSynthesis ref;
    std::vector<int16_t> out;
    for (int32_t r = 0; r < rows; ++r) {
      const auto slot = ref.Slot(samples.data() + r * rowValues + offset, stride);
      out.insert(out.end(), slot.begin(), slot.end());
    }
    return out;
  }

  static void ExpectWithinOne(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    ASSERT_EQ(a.size(), b.size());
    int32_t differing = 0;
    for (size_t i = 0; i < a.size(); ++i) {
      ASSERT_LE(std::abs(a[i] - b[i]), 1) << "sample " << i;
      differing += a[i] != b[i];
    }
    EXPECT_LT(differing, static_cast<int32_t>(a.size() / 20));
  }
};

TEST_F(Synthesis, MatrixingIsTheCosineTransform) {
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const std::vector<float> s = RandomSamples(32, 1000.0f, seed);
    std::array<float, 32> x{};
    Matrix32(s.data(), x.data());
    for (int32_t m = 0; m < 32; ++m) {
      double expected = 0.0;
      for (int32_t k = 0; k < 32; ++k) {
        expected += s[static_cast<size_t>(k)] * std::cos(std::numbers::pi * m * (2 * k + 1) / 64);
      }
      EXPECT_NEAR(x[static_cast<size_t>(m)], expected, 0.02) << "m " << m;
    }
  }
}

TEST_F(Synthesis, ImpulseGivesTheStandardResponseOverSixteenSlotsThenSilence) {
  for (int32_t subband : {0, 1, 13, 30, 31}) {
    ResetSynthesis();
    std::vector<float> samples(20 * 32, 0.0f);
    samples[static_cast<size_t>(subband)] = 20000.0f;
    std::vector<int16_t> out(samples.size(), 0x7777);
    SynthesizeLayer12Mono(samples.data(), out.data(), 20);
    const std::vector<int16_t> expected = Standard(samples, 20, 32, 0, 1);
    ExpectWithinOne(out, expected);
    int32_t loud = 0;
    for (size_t i = 0; i < 512; ++i) loud += std::abs(out[i]) > 100;
    EXPECT_GT(loud, 20) << "subband " << subband;
    for (size_t i = 512; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << "subband " << subband;
  }
}

TEST_F(Synthesis, ZerosAfterAResetGiveZeros) {
  std::vector<float> samples(36 * 32, 0.0f);
  std::vector<int16_t> out(samples.size(), 0x7777);
  SynthesizeLayer12Mono(samples.data(), out.data(), 36);
  for (int16_t s : out) ASSERT_EQ(s, 0);
}

TEST_F(Synthesis, EveryLayer12DriverMatchesTheStandard) {
  const std::vector<float> stereo = RandomSamples(36 * 64, 3000.0f, 7);
  std::vector<int16_t> out(36 * 64);

  SynthesizeLayer12Stereo(stereo.data(), out.data(), 36);
  const auto [left, right] = SplitChannels(out);
  ExpectWithinOne(left, Standard(stereo, 36, 64, 0, 2));
  ExpectWithinOne(right, Standard(stereo, 36, 64, 1, 2));

  // Left only and right only are exactly the channels of the stereo output.
  std::vector<int16_t> single(36 * 32);
  ResetSynthesis();
  SynthesizeLayer12Left(stereo.data(), single.data(), 36);
  EXPECT_EQ(single, left);
  ResetSynthesis();
  SynthesizeLayer12Right(stereo.data(), single.data(), 36);
  EXPECT_EQ(single, right);

  std::vector<float> mono(36 * 32);
  for (size_t i = 0; i < mono.size(); ++i) mono[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
  ResetSynthesis();
  SynthesizeLayer12Mono(mono.data(), single.data(), 36);
  ExpectWithinOne(single, Standard(mono, 36, 32, 0, 1));
  std::vector<int16_t> mixed(36 * 32);
  ResetSynthesis();
  SynthesizeLayer12MixDown(stereo.data(), mixed.data(), 36);
  EXPECT_EQ(mixed, single);
}

TEST_F(Synthesis, Layer3StereoFillsEvenThenOddWords) {
  const std::vector<float> hybrid0 = RandomSamples(576, 3000.0f, 11);
  const std::vector<float> hybrid1 = RandomSamples(576, 3000.0f, 12);
  std::vector<int16_t> out(18 * 64, 0x7777);
  SynthesizeLayer3Stereo(hybrid0.data(), out.data(), 0);
  for (size_t i = 1; i < out.size(); i += 2) ASSERT_EQ(out[i], 0x7777);
  SynthesizeLayer3Stereo(hybrid1.data(), out.data(), 1);
  const auto [left, right] = SplitChannels(out);
  ExpectWithinOne(left, Standard(hybrid0, 18, 32, 0, 1));
  ExpectWithinOne(right, Standard(hybrid1, 18, 32, 0, 1));

  // The mono driver writes the same samples contiguously.
  std::vector<int16_t> mono(18 * 32);
  ResetSynthesis();
  SynthesizeLayer3Mono(hybrid1.data(), mono.data(), 0);
  EXPECT_EQ(mono, right);
}

TEST_F(Synthesis, ContinuesAcrossCallsAndRestartsAfterAReset) {
  const std::vector<float> samples = RandomSamples(48 * 32, 2000.0f, 21);
  std::vector<int16_t> whole(48 * 32);
  SynthesizeLayer12Mono(samples.data(), whole.data(), 48);
  // In pieces of 12 rows (Layer I frames) the output is the same.
  ResetSynthesis();
  std::vector<int16_t> pieces(48 * 32);
  for (int32_t f = 0; f < 4; ++f) {
    SynthesizeLayer12Mono(samples.data() + f * 12 * 32, pieces.data() + f * 12 * 32, 12);
  }
  EXPECT_EQ(pieces, whole);
  // After a reset the old slots no longer sound.
  ResetSynthesis();
  std::vector<int16_t> restarted(12 * 32);
  SynthesizeLayer12Mono(samples.data(), restarted.data(), 12);
  EXPECT_TRUE(std::equal(restarted.begin(), restarted.end(), whole.begin()));
}

}  // namespace
}  // namespace tunewell::test
