// PCM output stage: rounding and clipping of window sums, and polarity inversion.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "decoder/decoder_state.h"
#include "decoder/layer12_tables.h"
#include "decoder/pcm_output.h"
#include "tests/decoder/frame_builder.h"

namespace tunewell::test {
namespace {

TEST(ConvertSample, RoundsHalvesToEvenAndClipsWhateverTheSize) {
  struct Case {
    double Sum;
    int16_t Sample;
  };
  const Case cases[] = {
      {0.0, 0},           {0.49, 0},          {0.5, 0},          {1.5, 2},
      {2.5, 2},           {-2.5, -2},         {3.5, 4},          {-0.5, 0},
      {-1.5, -2},         {1234.51, 1235},    {32766.5, 32766},  {32767.4, 32767},
      {32767.5, 32767},   {40000.0, 32767},   {1.0e12, 32767},   {-32767.5, -32768},
      {-32768.0, -32768}, {-32768.4, -32768}, {-1.0e12, -32768},
  };
  for (const Case& c : cases) EXPECT_EQ(ConvertSample(c.Sum), c.Sample) << c.Sum;
}

class Polarity : public ::testing::Test {
 protected:
  void SetUp() override { DecoderSelectRoutines(CpuFpu); }
  void TearDown() override { DecoderSetInvertPolarity(false); }

  // Four loud Layer II frames (scale factor 0, wide codes) decoded from a fresh open.
  static std::vector<int16_t> DecodeLoudFrames() {
    TLayer2FrameLayout layout;
    layout.Table = AllocTableA;
    layout.Allocation.assign(54, 0);
    layout.Scfsi.assign(54, 2);
    layout.Scale.assign(54, {0, 0, 0});
    for (int32_t j = 0; j < 16; ++j) layout.Allocation[static_cast<size_t>(j)] = 13;
    layout.Code = [](int32_t g, int32_t j, int32_t i) {
      return static_cast<uint32_t>((g * 5077 + j * 911 + i * 37) * 2654435761u) >> 19;
    };
    const std::vector<uint8_t> frame = BuildLayer2Frame(layout, 576);
    int32_t length = 0;
    const TMPEGHeader header = ParsedHeader(layout.Header, length);
    EXPECT_EQ(DecoderOpenStream(header, length, 0, 0, 0, 24000), 1);
    std::vector<int16_t> out;
    std::array<int16_t, 2304> pcm{};
    for (int32_t f = 0; f < 4; ++f) {
      DecoderDecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), pcm.data());
      out.insert(out.end(), pcm.begin(), pcm.end());
    }
    return out;
  }
};

TEST_F(Polarity, NegatesTheOutputExceptAtTheNegativeLimitAndWhereClipped) {
  const std::vector<int16_t> plain = DecodeLoudFrames();
  DecoderSetInvertPolarity(true);
  EXPECT_EQ(DecoderGetInvertPolarity(), 1);
  const std::vector<int16_t> inverted = DecodeLoudFrames();
  ASSERT_EQ(plain.size(), inverted.size());
  int32_t clipped = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    if (plain[i] == -32768) {
      ++clipped;
      ASSERT_EQ(inverted[i], 32767) << i;
    } else if (plain[i] == 32767) {
      ++clipped;
      ASSERT_LE(inverted[i], -32767) << i;
    } else {
      ASSERT_EQ(inverted[i], -plain[i]) << i;
    }
  }
  EXPECT_GT(clipped, 0);  // the fixture reaches the limits
}

TEST_F(Polarity, SettingTheSameValueTwiceChangesNothingAndOffRestoresTheWindow) {
  const std::array<float, SynthesisWindowSize> before = TheDecoder.Synthesis.Window;
  DecoderSetInvertPolarity(false);
  EXPECT_EQ(DecoderGetInvertPolarity(), 0);
  EXPECT_EQ(std::memcmp(before.data(), TheDecoder.Synthesis.Window.data(), sizeof before), 0);
  DecoderSetInvertPolarity(true);
  const std::array<float, SynthesisWindowSize> negated = TheDecoder.Synthesis.Window;
  DecoderSetInvertPolarity(true);
  EXPECT_EQ(DecoderGetInvertPolarity(), 1);
  EXPECT_EQ(std::memcmp(negated.data(), TheDecoder.Synthesis.Window.data(), sizeof negated), 0);
  DecoderSetInvertPolarity(false);
  EXPECT_EQ(std::memcmp(before.data(), TheDecoder.Synthesis.Window.data(), sizeof before), 0);
}

TEST_F(Polarity, SurvivesAStreamOpen) {
  DecoderSetInvertPolarity(true);
  DecodeLoudFrames();
  EXPECT_EQ(DecoderGetInvertPolarity(), 1);
  // Row 1, entry 0 holds D[32], which is negative in the standard's window.
  EXPECT_GT(TheDecoder.Synthesis.Window[16], 0.0f);
  EXPECT_EQ(TheDecoder.Synthesis.Window[16] * 65536.0f,
            -static_cast<float>(SynthesisWindowUnits[32]));
}

}  // namespace
}  // namespace tunewell::test
