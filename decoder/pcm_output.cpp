// PCM output stage: window sums over a synthesis ring, rounding, clipping, and the polarity
// switch that negates the window.

#include "decoder/pcm_output.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "decoder/decoder_state.h"
#include "decoder/synthesis.h"
#include "decoder/window_walk.h"

namespace tunewell {

namespace {

constexpr uint32_t RingMask = SynthesisRingSize - 1;

// Adding 1.5 * 2^52 leaves the integer nearest to a value of magnitude below 2^51 in the low bits
// of the double, rounded by the current (nearest, halves to even) mode.
constexpr double RoundingBias = 6755399441055744.0;

// Clipping first keeps the rounding trick in range; the bias added and taken away again leaves
// the nearest integer (halves to even) as an exact double.
int16_t ConvertSampleInline(double sum) {
  const double clipped = !(sum < 32767.0) ? 32767.0 : (sum < -32768.0 ? -32768.0 : sum);
  const double rounded = (clipped + RoundingBias) - RoundingBias;
  return static_cast<int16_t>(static_cast<int32_t>(rounded));
}

// One sum in double precision, even and odd slots alike.
struct TDoubleSum {
  double Value = 0.0;
  void AddEven(float w, float x) { Value += double{w} * x; }
  void AddOdd(float w, float x) { Value += double{w} * x; }
  void SubtractOdd(float w, float x) { Value -= double{w} * x; }
};

// Sum 16: the middle entries of the window on the chain starting one slot back.
double MiddleSum(const float* ring, uint32_t o, const float* window) {
  double middle = 0.0;
  for (uint32_t i = 0; i < 8; ++i) {
    middle += double{window[256 + i]} * ring[(o + 32 + 64 * i) & RingMask];
  }
  return middle;
}

}  // namespace

// Outside the anonymous namespace: clang takes an internal multi-versioned function for unused
// although its dispatcher calls it.
namespace multiversioned {

// The 32 window sums of the slot at `offset` (see WalkWindowSlot), rounded, clipped and stored at
// out[stride * j]. Products of two floats are exact in double, so the vector version below
// computes exactly what this one does.
[[gnu::target("default")]] void WindowSlot(const float* ring, int32_t offset, int16_t* out,
                                           int32_t stride) {
  const float* window = TheDecoder.Synthesis.Window.data();
  const auto o = static_cast<uint32_t>(offset);
  std::array<TDoubleSum, 16> low{};
  std::array<TDoubleSum, 16> high{};
  WalkWindowSlot(ring, o, window, low, high);
  out[0] = ConvertSampleInline(low[0].Value);
  for (uint32_t j = 1; j < 16; ++j) {
    out[stride * static_cast<int32_t>(j)] = ConvertSampleInline(low[j].Value);
    out[stride * static_cast<int32_t>(32 - j)] = ConvertSampleInline(high[j].Value);
  }
  out[stride * 16] = ConvertSampleInline(MiddleSum(ring, o, window));
}

#if defined(__x86_64__)
// Four sums at a time in AVX registers, with the window already in double. Conversion with the
// processor's rounding (nearest, halves to even) after clipping; minpd passes its second operand
// for NaN, which clips NaN high.
[[gnu::target("avx2")]] void WindowSlot(const float* ring, int32_t offset, int16_t* out,
                                        int32_t stride) {
  const double* window = TheDecoder.Synthesis.WideWindow.data();
  const auto o = static_cast<uint32_t>(offset);
  __m256d low[4];
  __m256d high[4];
  for (int q = 0; q < 4; ++q) low[q] = high[q] = _mm256_setzero_pd();
  for (uint32_t k = 0; k < 16; k += 2) {
    const float* even = ring + ((o + 32 * k) & RingMask) + 16;
    const double* lowRow = window + 16 * k;
    const double* highRow = window + 16 * (15 - k);
    for (int q = 0; q < 4; ++q) {
      const __m256d x = _mm256_cvtps_pd(_mm_loadu_ps(even + 4 * q));
      low[q] = _mm256_add_pd(low[q], _mm256_mul_pd(_mm256_load_pd(lowRow + 4 * q), x));
      high[q] = _mm256_add_pd(high[q], _mm256_mul_pd(_mm256_load_pd(highRow + 4 * q), x));
    }
    // X_{k+1}[16 - j] for j = 4q ... 4q + 3, read upwards from X_{k+1}[13 - 4q] and reversed.
    const float* odd = ring + ((o + 32 * (k + 1)) & RingMask);
    lowRow += 16;
    highRow -= 16;
    for (int q = 0; q < 4; ++q) {
      const __m128 up = _mm_loadu_ps(odd + 13 - 4 * q);
      const __m256d x = _mm256_cvtps_pd(_mm_shuffle_ps(up, up, _MM_SHUFFLE(0, 1, 2, 3)));
      low[q] = _mm256_sub_pd(low[q], _mm256_mul_pd(_mm256_load_pd(lowRow + 4 * q), x));
      high[q] = _mm256_add_pd(high[q], _mm256_mul_pd(_mm256_load_pd(highRow + 4 * q), x));
    }
  }
  const __m256d top = _mm256_set1_pd(32767.0);
  const __m256d bottom = _mm256_set1_pd(-32768.0);
  alignas(16) int16_t lowSamples[16];
  alignas(16) int16_t highSamples[16];
  for (int q = 0; q < 4; q += 2) {
    const __m128i l0 = _mm256_cvtpd_epi32(_mm256_max_pd(_mm256_min_pd(low[q], top), bottom));
    const __m128i l1 = _mm256_cvtpd_epi32(_mm256_max_pd(_mm256_min_pd(low[q + 1], top), bottom));
    const __m128i h0 = _mm256_cvtpd_epi32(_mm256_max_pd(_mm256_min_pd(high[q], top), bottom));
    const __m128i h1 = _mm256_cvtpd_epi32(_mm256_max_pd(_mm256_min_pd(high[q + 1], top), bottom));
    _mm_store_si128(reinterpret_cast<__m128i*>(lowSamples + 4 * q), _mm_packs_epi32(l0, l1));
    _mm_store_si128(reinterpret_cast<__m128i*>(highSamples + 4 * q), _mm_packs_epi32(h0, h1));
  }
  if (stride == 1) {
    std::memcpy(out, lowSamples, sizeof lowSamples);
  } else {
    for (int32_t j = 0; j < 16; ++j) out[2 * j] = lowSamples[j];
  }
  for (int32_t j = 1; j < 16; ++j) out[stride * (32 - j)] = highSamples[j];
  out[stride * 16] = ConvertSampleInline(MiddleSum(ring, o, TheDecoder.Synthesis.Window.data()));
}
#endif

}  // namespace multiversioned

int16_t ConvertSample(double sum) {
  return ConvertSampleInline(sum);
}

void SynthMonoPortable(const float* ring, int32_t offset, int16_t* out) {
  multiversioned::WindowSlot(ring, offset, out, 1);
}

void SynthStereoPortable(const float* ring, int32_t offset, int16_t* out) {
  multiversioned::WindowSlot(ring, offset, out, 2);
}

void DecoderSetInvertPolarity(bool inverted) {
  TSynthesisState& syn = TheDecoder.Synthesis;
  if ((syn.PolarityInverted != 0) == inverted) return;
  EnsureSynthesisTables();
  for (float& w : syn.Window) w = -w;
  for (double& w : syn.WideWindow) w = -w;
  syn.PolarityInverted = inverted ? 1 : 0;
}

int32_t DecoderGetInvertPolarity() {
  return TheDecoder.Synthesis.PolarityInverted;
}

}  // namespace tunewell
