// PCM output stage: window sums over a synthesis ring, rounding, clipping, and the polarity
// switch that negates the window.

#include "decoder/pcm_output.h"

#include <bit>

#include "decoder/decoder_state.h"
#include "decoder/synthesis.h"

namespace tunewell {

namespace {

constexpr uint32_t RingMask = SynthesisRingSize - 1;

// Adding 1.5 * 2^52 leaves the integer nearest to a value of magnitude below 2^51 in the low bits
// of the double, rounded by the current (nearest, halves to even) mode.
constexpr double RoundingBias = 6755399441055744.0;

// The 32 window sums of the slot at `offset`. Sums j and 32 - j read the same ring values (the
// window is odd about 256 except at multiples of 64), so one pass over the 16 slots gives both.
template <int Stride>
void WindowSlot(const float* ring, int32_t offset, int16_t* out) {
  const float* window = TheDecoder.Synthesis.Window.data();
  const auto o = static_cast<uint32_t>(offset);
  {
    double sum = 0.0;
    for (uint32_t k = 0; k < 16; ++k) {
      const float x = ring[((o + 32 * k) & RingMask) + 16];
      sum += (k & 1) != 0 ? -double{window[k]} * x : double{window[k]} * x;
    }
    out[0] = ConvertSample(sum);
  }
  for (uint32_t j = 1; j < 16; ++j) {
    const float* row = window + 16 * j;
    double low = 0.0;
    double high = 0.0;
    for (uint32_t k = 0; k < 16; ++k) {
      const uint32_t base = (o + 32 * k) & RingMask;
      const float x = ring[base + ((k & 1) != 0 ? 16 - j : 16 + j)];
      low += (k & 1) != 0 ? -double{row[k]} * x : double{row[k]} * x;
      high += double{row[15 - k]} * x;
    }
    out[Stride * j] = ConvertSample(low);
    out[Stride * (32 - j)] = ConvertSample(high);
  }
  double middle = 0.0;
  for (uint32_t i = 0; i < 8; ++i) {
    middle += double{window[256 + i]} * ring[(o + 32 + 64 * i) & RingMask];
  }
  out[Stride * 16] = ConvertSample(middle);
}

}  // namespace

int16_t ConvertSample(double sum) {
  if (!(sum < 32767.0)) return 32767;  // NaN clips high
  if (sum < -32768.0) return -32768;
  const auto bits = std::bit_cast<uint64_t>(sum + RoundingBias);
  return static_cast<int16_t>(static_cast<uint16_t>(bits & 0xFFFF));
}

void SynthMonoPortable(const float* ring, int32_t offset, int16_t* out) {
  WindowSlot<1>(ring, offset, out);
}

void SynthStereoPortable(const float* ring, int32_t offset, int16_t* out) {
  WindowSlot<2>(ring, offset, out);
}

void DecoderSetInvertPolarity(bool inverted) {
  TSynthesisState& syn = TheDecoder.Synthesis;
  if ((syn.PolarityInverted != 0) == inverted) return;
  EnsureSynthesisTables();
  for (float& w : syn.Window) w = -w;
  syn.PolarityInverted = inverted ? 1 : 0;
}

int32_t DecoderGetInvertPolarity() {
  return TheDecoder.Synthesis.PolarityInverted;
}

}  // namespace tunewell
