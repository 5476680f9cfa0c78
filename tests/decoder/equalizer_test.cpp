// Subband and line equalizers as Layers I and II see them.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <vector>

#include "decoder/decoder_state.h"
#include "decoder/layer12_tables.h"
#include "tests/decoder/frame_builder.h"

namespace tunewell::test {
namespace {

class Equalizer : public ::testing::Test {
 protected:
  void SetUp() override {
    DecoderSelectRoutines(CpuFpu);
    saved_ = TheDecoder.Equalizer;
  }
  void TearDown() override { TheDecoder.Equalizer = saved_; }

  static void SetSubbandGains(float gain) {
    for (int32_t k = 0; k < 32; ++k) DecoderSubbandGainRef(k) = gain;
  }

  // Three stereo Layer II frames from a fresh open; `subbands` of each channel carry samples.
  static std::vector<int16_t> Decode(int32_t subbands, uint8_t options = 0, int32_t scale = 6) {
    TLayer2FrameLayout layout;
    layout.Table = AllocTableA;
    layout.Allocation.assign(54, 0);
    layout.Scfsi.assign(54, 0);
    layout.Scale.assign(54, {scale, scale + 2, scale + 4});
    for (int32_t j = 0; j < 2 * subbands; ++j) layout.Allocation[static_cast<size_t>(j)] = 3;
    layout.Code = [](int32_t g, int32_t j, int32_t i) {
      return static_cast<uint32_t>(g * 3 + j * 5 + i) % 7;
    };
    const std::vector<uint8_t> frame = BuildLayer2Frame(layout, 576);
    int32_t length = 0;
    const TMPEGHeader header = ParsedHeader(layout.Header, length);
    EXPECT_EQ(DecoderOpenStream(header, length, 0, 0, options, 24000), 1);
    std::vector<int16_t> out;
    std::array<int16_t, 2304> pcm{};
    for (int32_t f = 0; f < 3; ++f) {
      const TDecodeResult r =
          DecoderDecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), pcm.data());
      out.insert(out.begin() + static_cast<ptrdiff_t>(out.size()), pcm.begin(),
                 pcm.begin() + r.Written / 2);
    }
    return out;
  }

  static bool AllZero(const std::vector<int16_t>& v) {
    for (int16_t s : v) {
      if (s != 0) return false;
    }
    return true;
  }

  TEqualizerState saved_;
};

TEST_F(Equalizer, UnitGainsGiveIdenticalOutputInEveryChannelMode) {
  for (uint8_t options = 0; options < 4; ++options) {
    DecoderSubbandEqualizerRef() = 0;
    const std::vector<int16_t> off = Decode(27, options);
    SetSubbandGains(1.0f);
    DecoderSubbandEqualizerRef() = 1;
    EXPECT_EQ(Decode(27, options), off) << "channel option " << int{options};
  }
}

TEST_F(Equalizer, ZeroGainRemovesItsSubbandExceptInTheMixDown) {
  SetSubbandGains(1.0f);
  DecoderSubbandGainRef(0) = 0.0f;
  DecoderSubbandEqualizerRef() = 0;
  const std::vector<int16_t> off = Decode(1);
  const std::vector<int16_t> mixedOff = Decode(1, 1);
  ASSERT_FALSE(AllZero(off));
  DecoderSubbandEqualizerRef() = 1;
  EXPECT_TRUE(AllZero(Decode(1)));
  EXPECT_TRUE(AllZero(Decode(1, 2)));
  EXPECT_TRUE(AllZero(Decode(1, 3)));
  EXPECT_EQ(Decode(1, 1), mixedOff);
}

TEST_F(Equalizer, GainsScaleTheOutput) {
  SetSubbandGains(0.5f);
  DecoderSubbandEqualizerRef() = 0;
  const std::vector<int16_t> off = Decode(10, 0, 12);  // quiet enough not to clip
  DecoderSubbandEqualizerRef() = 1;
  const std::vector<int16_t> half = Decode(10, 0, 12);
  ASSERT_EQ(off.size(), half.size());
  for (size_t i = 0; i < off.size(); ++i) {
    ASSERT_LT(std::abs(off[i]), 32767) << i;
    ASSERT_NEAR(half[i], off[i] / 2.0, 1.0) << i;
  }
}

TEST_F(Equalizer, LineEqualizerLeavesLayerIIAlone) {
  DecoderSubbandEqualizerRef() = 0;
  DecoderLineEqualizerRef() = 0;
  const std::vector<int16_t> off = Decode(20);
  for (int32_t i = 0; i < 576; ++i) DecoderLineGainRef(i) = 0.0f;
  DecoderLineEqualizerRef() = 1;
  EXPECT_EQ(Decode(20), off);
}

TEST_F(Equalizer, ReferencesReachTheTablesAndSurviveOpens) {
  DecoderSubbandGainRef(31) = 0.25f;
  DecoderLineGainRef(575) = 4.0f;
  DecoderSubbandEqualizerRef() = 0;
  Decode(1);
  EXPECT_EQ(TheDecoder.Equalizer.SubbandGains[31], 0.25f);
  EXPECT_EQ(TheDecoder.Equalizer.LineGains[575], 4.0f);
  EXPECT_EQ(&DecoderSubbandGainRef(31), &TheDecoder.Equalizer.SubbandGains[31]);
  EXPECT_EQ(&DecoderLineEqualizerRef(), &TheDecoder.Equalizer.LineEqualizerOn);
}

}  // namespace
}  // namespace tunewell::test
