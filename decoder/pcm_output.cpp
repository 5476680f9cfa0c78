// PCM output stage: window sums over a synthesis ring, rounding, clipping, and the polarity
// switch that negates the window.

#include "decoder/pcm_output.h"

#include <array>
#include <bit>

#include "decoder/decoder_state.h"
#include "decoder/synthesis.h"

namespace tunewell {

namespace {

constexpr uint32_t RingMask = SynthesisRingSize - 1;

// Adding 1.5 * 2^52 leaves the integer nearest to a value of magnitude below 2^51 in the low bits
// of the double, rounded by the current (nearest, halves to even) mode.
constexpr double RoundingBias = 6755399441055744.0;

// The 32 window sums of the slot at `offset`, rounded, clipped and stored. Slot k enters sum j
// (low, j = 0 ... 15) with D[j + 32k] and sum 32 - j (high) with D[j + 32(15 - k)], the window
// being odd about 256 except at multiples of 64; both take the same ring value, X_k[16 + j] for
// even k and X_k[16 - j] for odd k, whose low terms are subtracted.
template <int Stride>
void WindowSlot(const float* ring, int32_t offset, int16_t* out) {
  const float* window = TheDecoder.Synthesis.Window.data();
  const auto o = static_cast<uint32_t>(offset);
  std::array<double, 16> low{};
  std::array<double, 16> high{};
  for (uint32_t k = 0; k < 16; k += 2) {
    const float* even = ring + ((o + 32 * k) & RingMask) + 16;
    const float* lowRow = window + 16 * k;
    const float* highRow = window + 16 * (15 - k);
    for (uint32_t j = 0; j < 16; ++j) {
      low[j] += double{lowRow[j]} * even[j];
      high[j] += double{highRow[j]} * even[j];
    }
    const float* odd = ring + ((o + 32 * (k + 1)) & RingMask) + 16;
    lowRow += 16;
    highRow -= 16;
    for (uint32_t j = 0; j < 16; ++j) {
      const float x = *(odd - j);
      low[j] -= double{lowRow[j]} * x;
      high[j] += double{highRow[j]} * x;
    }
  }
  out[0] = ConvertSample(low[0]);
  for (uint32_t j = 1; j < 16; ++j) {
    out[Stride * j] = ConvertSample(low[j]);
    out[Stride * (32 - j)] = ConvertSample(high[j]);
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
