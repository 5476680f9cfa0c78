// The user's equalizer settings and their translation into the decoder's gain tables.

#include <cmath>
#include <mutex>

#include "player/MP3Plyr.h"
#include "stream/MPAssert.h"

namespace tunewell {

namespace {

constexpr int32_t kBands = 32;
constexpr int32_t kSubbands = 32;
constexpr int32_t kLines = 576;

// v = -100 … 100 is a gain of 0.1 … 10.
float Gain(int32_t value) {
  return static_cast<float>(std::pow(10.0, value / 100.0));
}

// The band whose frequency lies nearest to the centre on a ratio scale; the lower on a tie.
int32_t NearestBand(const std::array<int32_t, 32>& frequencies, int32_t count, int32_t centre) {
  int32_t best = 0;
  float bestDistance = 2147483648.0f;
  for (int32_t b = 0; b < count; ++b) {
    const float f = static_cast<float>(std::max(frequencies[static_cast<size_t>(b)], 1));
    float distance = static_cast<float>(centre) / f;
    if (distance < 1.0f) distance = 1.0f / distance;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = b;
    }
  }
  return best;
}

}  // namespace

int32_t SubbandCentreFrequency(int32_t sampleRate, int32_t subband) {
  MPAssert(sampleRate > 0 && subband >= 0 && subband < kSubbands);
  return static_cast<int32_t>(std::nearbyint(sampleRate / 64.0 * (subband + 0.5)));
}

int32_t LineCentreFrequency(int32_t sampleRate, int32_t line) {
  MPAssert(sampleRate > 0 && line >= 0 && line < kLines);
  return static_cast<int32_t>(std::nearbyint(sampleRate / 1152.0 * (line + 0.5)));
}

void TMP3Player::SetEqualizerEnabled(bool value) {
  if (value == equalizerEnabled_) return;
  equalizerEnabled_ = value;
  PostOnce(MPM_EQUALIZER);
}

void TMP3Player::SetEqualizerMode(TMP3EqualizerMode mode) {
  if (mode == equalizerMode_ || mode > memFreq) return;
  equalizerMode_ = mode;
  PostOnce(MPM_EQUALIZER);
}

// The band tables hold 32 entries: a larger count is refused like a count below 1.
void TMP3Player::SetEqualizerCount(int32_t count) {
  if (count < 1 || count > kBands || count == equalizerCount_) return;
  equalizerCount_ = count;
  PostOnce(MPM_EQUALIZER);
}

void TMP3Player::SetEqualizerValue(int32_t index, int32_t value) {
  if (index < 0 || index >= kBands) throw EListError("SListIndexError");
  if (value < -100 || value > 100) return;
  equalizerValues_[static_cast<size_t>(index)] = value;
  PostOnce(MPM_EQUALIZER);
}

int32_t TMP3Player::EqualizerValue(int32_t index) const {
  if (index < 0 || index >= kBands) throw EListError("SListIndexError");
  return equalizerValues_[static_cast<size_t>(index)];
}

int32_t TMP3Player::EqualizerFrequency(int32_t index) const {
  if (index < 0 || index >= kBands) throw EListError("SListIndexError");
  return equalizerFrequencies_[static_cast<size_t>(index)];
}

// Each band one equal ratio step above the previous, recomputed from the rounded previous one.
void TMP3Player::SetEqualizerFrequencyRange(int32_t low, int32_t high) {
  if (equalizerMode_ != memFreq || low < 1 || high < low || high > 24000) return;
  const int32_t n = equalizerCount_;
  equalizerFrequencies_[0] = low;
  for (int32_t i = 1; i <= n - 2; ++i) {
    const long double f = equalizerFrequencies_[static_cast<size_t>(i - 1)];
    const long double next = std::nearbyintl(f * std::pow(high / f, 1.0L / (n - i)));
    MPAssert(next >= f);
    equalizerFrequencies_[static_cast<size_t>(i)] = static_cast<int32_t>(next);
  }
  equalizerFrequencies_[static_cast<size_t>(n - 1)] = high;
  PostOnce(MPM_EQUALIZER);
}

// Rewrites the decoder's tables under DecoderLock: the decode thread reads them every frame.
void TMP3Player::ApplyEqualizer() {
  RemovePending(MPM_EQUALIZER, MPM_EQUALIZER);
  if (!IsOpen()) return;
  std::lock_guard decoder(decoderLock_);
  const int32_t on = equalizerEnabled_ ? 1 : 0;
  if (equalizerMode_ == memSubBand) {
    DecoderSubbandEqualizerRef() = on;
    DecoderLineEqualizerRef() = 0;
    for (int32_t i = 0; i < kSubbands; ++i) {
      DecoderSubbandGainRef(i) = Gain(equalizerValues_[static_cast<size_t>(i)]);
    }
    if (sampleRate_ >= 1) {
      for (int32_t i = 0; i < kSubbands; ++i) {
        equalizerFrequencies_[static_cast<size_t>(i)] = SubbandCentreFrequency(sampleRate_, i);
      }
    }
    return;
  }
  const auto bandGain = [this](int32_t centre) {
    const int32_t band = NearestBand(equalizerFrequencies_, equalizerCount_, centre);
    return Gain(equalizerValues_[static_cast<size_t>(band)]);
  };
  if (header_.LayerCode == 1) {  // Layer III
    DecoderSubbandEqualizerRef() = 0;
    DecoderLineEqualizerRef() = on;
    if (!equalizerEnabled_) return;
    for (int32_t k = 0; k < kLines; ++k) {
      DecoderLineGainRef(k) = bandGain(LineCentreFrequency(sampleRate_, k));
    }
  } else {
    DecoderSubbandEqualizerRef() = on;
    DecoderLineEqualizerRef() = 0;
    if (!equalizerEnabled_) return;
    for (int32_t d = 0; d < kSubbands; ++d) {
      DecoderSubbandGainRef(d) = bandGain(SubbandCentreFrequency(sampleRate_, d));
    }
  }
}

}  // namespace tunewell
