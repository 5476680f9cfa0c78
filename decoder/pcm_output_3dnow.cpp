// PCM output members with the arithmetic of the 3DNow! code: products and sums in single
// precision, the even and the odd slots summed in two chains (the two halves of a packed
// register) that are added at the end; halves rounded away from zero; saturating conversion.

#include <array>

#include "decoder/decoder_state.h"
#include "decoder/pcm_output.h"
#include "decoder/window_walk.h"

namespace tunewell {

namespace {

constexpr uint32_t RingMask = SynthesisRingSize - 1;

struct TChains {
  float Even = 0.0f;
  float Odd = 0.0f;
  void AddEven(float w, float x) { Even += w * x; }
  void AddOdd(float w, float x) { Odd += w * x; }
  void SubtractOdd(float w, float x) { Odd += -(w * x); }
  float Sum() const { return Even + Odd; }
};

// Slot k of the ring feeds the even or the odd chain.
template <int Stride>
void WindowSlotSingle(const float* ring, int32_t offset, int16_t* out) {
  const float* window = TheDecoder.Synthesis.Window.data();
  const auto o = static_cast<uint32_t>(offset);
  std::array<TChains, 16> low{};
  std::array<TChains, 16> high{};
  WalkWindowSlot(ring, o, window, low, high);
  out[0] = ConvertSampleThreeDNow(low[0].Sum());
  for (uint32_t j = 1; j < 16; ++j) {
    out[Stride * j] = ConvertSampleThreeDNow(low[j].Sum());
    out[Stride * (32 - j)] = ConvertSampleThreeDNow(high[j].Sum());
  }
  TChains middle;
  for (uint32_t i = 0; i < 8; i += 2) {
    middle.Even += window[256 + i] * ring[(o + 32 + 64 * i) & RingMask];
    middle.Odd += window[257 + i] * ring[(o + 96 + 64 * i) & RingMask];
  }
  out[Stride * 16] = ConvertSampleThreeDNow(middle.Sum());
}

}  // namespace

int16_t ConvertSampleThreeDNow(float sum) {
  float biased = sum + 0.5f;
  if (biased <= 0.0f) biased -= 1.0f;
  // Saturation as the packed conversion and pack give it; NaN clips high like the portable one.
  if (!(biased < 32768.0f)) return 32767;
  if (biased <= -32768.0f) return -32768;
  return static_cast<int16_t>(static_cast<int32_t>(biased));
}

void SynthMonoThreeDNow(const float* ring, int32_t offset, int16_t* out) {
  WindowSlotSingle<1>(ring, offset, out);
}

void SynthStereoThreeDNow(const float* ring, int32_t offset, int16_t* out) {
  WindowSlotSingle<2>(ring, offset, out);
}

}  // namespace tunewell
