// The component's equalizer settings and the decoder tables they produce.

#include <cmath>

#include "player_test_support.h"
#include "stream/MPAssert.h"

namespace tunewell::test {
namespace {

class EqualizerSettings : public PlayerHarness {
 protected:
  EqualizerSettings() { player_->SetAutoPlay(false); }

  void Open(const char* fixture) {
    player_->SetFileName(FixturePath(fixture));
    Pump();  // the update posted by the open
  }
  std::vector<int32_t> Frequencies(int32_t n) const {
    std::vector<int32_t> result;
    for (int32_t i = 0; i < n; ++i) result.push_back(player_->EqualizerFrequency(i));
    return result;
  }
};

TEST(CentreFrequencies, SubbandsAndLayer3Lines) {
  EXPECT_EQ(SubbandCentreFrequency(44100, 0), 345);
  EXPECT_EQ(SubbandCentreFrequency(44100, 31), 21705);
  EXPECT_EQ(LineCentreFrequency(44100, 0), 19);
  EXPECT_EQ(LineCentreFrequency(44100, 575), 22031);
  // Halves go to the even neighbour: 32000 / 64 * 0.5 = 250 exactly, 8000 / 64 * 0.5 = 62.5.
  EXPECT_EQ(SubbandCentreFrequency(8000, 0), 62);
  EXPECT_EQ(SubbandCentreFrequency(8000, 2), 312);  // 312.5
  EXPECT_THROW(SubbandCentreFrequency(0, 0), EAssertionFailed);
  EXPECT_THROW(LineCentreFrequency(44100, 576), EAssertionFailed);
}

TEST_F(EqualizerSettings, FrequencyRangeSpreadsTheBandsGeometrically) {
  struct Case {
    int32_t count, low, high;
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      {6, 60, 16000, {60, 183, 560, 1712, 5234, 16000}},
      {2, 100, 200, {100, 200}},
      {3, 100, 200, {100, 141, 200}},
      {1, 100, 200, {200}},
  };
  player_->SetEqualizerMode(memFreq);
  for (const Case& c : cases) {
    player_->SetEqualizerCount(c.count);
    player_->SetEqualizerFrequencyRange(c.low, c.high);
    EXPECT_EQ(Frequencies(c.count), c.expected) << c.count << " bands";
  }
}

TEST_F(EqualizerSettings, FrequencyRangeOutsideItsLimitsOrInSubbandModeDoesNothing) {
  player_->SetEqualizerFrequencyRange(60, 16000);
  EXPECT_EQ(player_->EqualizerFrequency(0), 0);
  player_->SetEqualizerMode(memFreq);
  for (auto [low, high] : {std::pair{0, 100}, {200, 100}, {100, 24001}}) {
    player_->SetEqualizerFrequencyRange(low, high);
    EXPECT_EQ(player_->EqualizerFrequency(0), 0) << low << " … " << high;
  }
}

TEST_F(EqualizerSettings, ValuesOutOfRange) {
  EXPECT_THROW(player_->SetEqualizerValue(32, 0), EListError);
  try {
    player_->SetEqualizerValue(-1, 0);
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "SListIndexError");
  }
  player_->SetEqualizerValue(0, 101);
  EXPECT_EQ(player_->EqualizerValue(0), 0);
  player_->SetEqualizerValue(0, -100);
  EXPECT_EQ(player_->EqualizerValue(0), -100);
}

TEST_F(EqualizerSettings, SubbandModeWritesEveryGainAndTheCentreFrequencies) {
  player_->SetEqualizerValue(0, -100);
  player_->SetEqualizerValue(31, 100);
  player_->SetEqualizerEnabled(true);
  Open("tone.mp2");  // 48000 Hz
  EXPECT_FLOAT_EQ(DecoderSubbandGainRef(0), 0.1f);
  EXPECT_FLOAT_EQ(DecoderSubbandGainRef(1), 1.0f);
  EXPECT_FLOAT_EQ(DecoderSubbandGainRef(31), 10.0f);
  EXPECT_EQ(DecoderSubbandEqualizerRef(), 1);
  EXPECT_EQ(DecoderLineEqualizerRef(), 0);
  EXPECT_EQ(player_->EqualizerFrequency(0), 375);
  EXPECT_EQ(player_->EqualizerFrequency(31), 23625);
  // Switched off: only the flag changes.
  player_->SetEqualizerEnabled(false);
  Pump();
  EXPECT_EQ(DecoderSubbandEqualizerRef(), 0);
  EXPECT_FLOAT_EQ(DecoderSubbandGainRef(0), 0.1f);
}

TEST_F(EqualizerSettings, FrequencyModePicksTheNearestBandOnARatioScale) {
  player_->SetEqualizerMode(memFreq);
  player_->SetEqualizerCount(2);
  player_->SetEqualizerValue(0, -50);
  player_->SetEqualizerValue(1, 50);
  player_->SetEqualizerEnabled(true);
  // With every band frequency still 0, every subband takes band 0.
  Open("tone.mp2");
  for (int32_t d = 0; d < 32; ++d)
    EXPECT_FLOAT_EQ(DecoderSubbandGainRef(d), std::pow(10.0f, -0.5f));
  EXPECT_EQ(DecoderSubbandEqualizerRef(), 1);
  EXPECT_EQ(DecoderLineEqualizerRef(), 0);

  // Bands at 1000 and 4000 Hz: the nearer on a ratio scale wins, the two meeting at 2000 Hz.
  player_->SetEqualizerFrequencyRange(1000, 4000);
  Pump();
  for (int32_t d = 0; d < 32; ++d) {
    const int32_t centre = SubbandCentreFrequency(48000, d);
    const float expected = std::pow(10.0f, centre <= 2000 ? -0.5f : 0.5f);
    EXPECT_FLOAT_EQ(DecoderSubbandGainRef(d), expected) << "subband " << d << " at " << centre;
  }
}

TEST_F(EqualizerSettings, FrequencyModeOnLayer3WritesTheLineGains) {
  player_->SetEqualizerMode(memFreq);
  player_->SetEqualizerCount(2);
  player_->SetEqualizerFrequencyRange(1000, 4000);
  player_->SetEqualizerValue(0, 100);
  player_->SetEqualizerValue(1, -100);
  player_->SetEqualizerEnabled(true);
  Open("tone.mp3");
  const int32_t rate = player_->SampleRate();
  ASSERT_GT(rate, 0);
  EXPECT_EQ(DecoderSubbandEqualizerRef(), 0);
  EXPECT_EQ(DecoderLineEqualizerRef(), 1);
  for (int32_t k = 0; k < 576; ++k) {
    const int32_t centre = LineCentreFrequency(rate, k);
    EXPECT_FLOAT_EQ(DecoderLineGainRef(k), centre <= 2000 ? 10.0f : 0.1f) << "line " << k;
  }
}

TEST_F(EqualizerSettings, ABurstOfChangesIsAppliedOnce) {
  Open("tone.mp2");
  DecoderSubbandGainRef(5) = 7.0f;
  for (int v = -10; v <= 10; ++v) player_->SetEqualizerValue(5, v);
  EXPECT_FLOAT_EQ(DecoderSubbandGainRef(5), 7.0f) << "applied only when the window is pumped";
  Pump();
  EXPECT_FLOAT_EQ(DecoderSubbandGainRef(5), std::pow(10.0f, 0.1f));
}

}  // namespace
}  // namespace tunewell::test
