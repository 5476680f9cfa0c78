// Layer III alias reduction and hybrid filterbank: IMDCT of 36 and 12 points, windows, overlap
// with the previous granule, and the frequency inversion of odd subbands. The spectrum buffer of
// a granule becomes the overlap store that the next granule adds.

#include <algorithm>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "decoder/layer3_state.h"

namespace tunewell {

namespace {

constexpr int32_t Subbands = 32;

const double Pi = std::acos(-1.0);

struct AntialiasTable {
  std::array<float, 16> Coefficients;  // cs0, ca0, cs1, ca1, ...
  // The same single-precision values apart, for the vector butterflies.
  alignas(32) std::array<double, 8> Cs;
  alignas(32) std::array<double, 8> Ca;
  AntialiasTable() {
    constexpr std::array<double, 8> c{-0.6,   -0.535, -0.33,   -0.185,
                                      -0.095, -0.041, -0.0142, -0.0037};
    for (size_t j = 0; j < c.size(); ++j) {
      const double norm = std::sqrt(1.0 + c[j] * c[j]);
      Coefficients[2 * j] = static_cast<float>(1.0 / norm);
      Coefficients[2 * j + 1] = static_cast<float>(c[j] / norm);
      Cs[j] = Coefficients[2 * j];
      Ca[j] = Coefficients[2 * j + 1];
    }
  }
};
const AntialiasTable Antialias;

// The folded outputs of both kernels are exactly the type-IV cosine transform of their inputs:
// p[m] = sum_k X[k] cos(pi / 4N (2m + 1)(2k + 1)) with N = 18 (long) or 6 (each short window).
// Stored by input, so that the sums run over all outputs at once.
struct KernelTables {
  std::array<std::array<double, 18>, 18> Long;  // [k][m]
  std::array<std::array<double, 6>, 6> Short;   // [k][m]
  KernelTables() {
    for (int32_t k = 0; k < 18; ++k) {
      for (int32_t m = 0; m < 18; ++m) Long[k][m] = std::cos(Pi / 72.0 * (2 * m + 1) * (2 * k + 1));
    }
    for (int32_t k = 0; k < 6; ++k) {
      for (int32_t m = 0; m < 6; ++m) Short[k][m] = std::cos(Pi / 24.0 * (2 * m + 1) * (2 * k + 1));
    }
  }
};
const KernelTables Kernels;

}  // namespace

const float* AntialiasCoefficientPairs() {
  return Antialias.Coefficients.data();
}

const std::array<std::array<double, 18>, 18>& LongKernelCosines() {
  return Kernels.Long;
}

const std::array<std::array<double, 6>, 6>& ShortKernelCosines() {
  return Kernels.Short;
}

void BuildHybridTables(HybridTables& t) {
  auto longSine = [](int32_t i) { return static_cast<float>(std::sin(Pi / 36.0 * (i + 0.5))); };
  auto shortSine = [](int32_t i) { return static_cast<float>(std::sin(Pi / 12.0 * (i + 0.5))); };
  for (auto& row : t.Windows) row.fill(0.0f);
  for (int32_t i = 0; i < 36; ++i) t.Windows[0][i] = longSine(i);
  for (int32_t i = 0; i < 18; ++i) t.Windows[1][i] = longSine(i);
  for (int32_t i = 18; i < 24; ++i) t.Windows[1][i] = 1.0f;
  for (int32_t i = 24; i < 30; ++i) t.Windows[1][i] = shortSine(i - 18);
  for (int32_t i = 0; i < 12; ++i) t.Windows[2][i] = shortSine(i);
  for (int32_t i = 6; i < 12; ++i) t.Windows[3][i] = shortSine(i - 6);
  for (int32_t i = 12; i < 18; ++i) t.Windows[3][i] = 1.0f;
  for (int32_t i = 18; i < 36; ++i) t.Windows[3][i] = longSine(i);
  // The folded kernel outputs need these entries negated.
  for (int32_t type : {0, 1, 3}) {
    for (int32_t i = 9; i < 36; ++i) t.Windows[type][i] = -t.Windows[type][i];
  }
  for (int32_t i = 3; i < 12; ++i) t.Windows[2][i] = -t.Windows[2][i];
}

// Multi-versioned functions live outside the anonymous namespace: clang takes an internal one
// for unused although its dispatcher calls it.
namespace multiversioned {

[[gnu::target("default")]] void AntialiasButterflies(float* x, int32_t boundaries) {
  const float* k = Antialias.Coefficients.data();
  for (int32_t b = 0; b < boundaries; ++b) {
    float* upper = x + 18 * b + 17;
    float* lower = x + 18 * b + 18;
    for (int32_t j = 0; j < 8; ++j) {
      const double a = upper[-j], d = lower[j];
      const double cs = k[2 * j], ca = k[2 * j + 1];
      upper[-j] = static_cast<float>(a * cs - d * ca);
      lower[j] = static_cast<float>(d * cs + a * ca);
    }
  }
}

#if defined(__x86_64__)
// Four butterflies at a time, each computing what the plain version does.
[[gnu::target("avx2")]] void AntialiasButterflies(float* x, int32_t boundaries) {
  const __m256d cs[2] = {_mm256_load_pd(Antialias.Cs.data()),
                         _mm256_load_pd(Antialias.Cs.data() + 4)};
  const __m256d ca[2] = {_mm256_load_pd(Antialias.Ca.data()),
                         _mm256_load_pd(Antialias.Ca.data() + 4)};
  for (int32_t b = 0; b < boundaries; ++b) {
    float* line = x + 18 * b;
    for (int32_t h = 0; h < 2; ++h) {
      // Pairs j = 4h ... 4h + 3: the upper lines 17 - j run downwards, the lower 18 + j upwards.
      float* upper = line + 14 - 4 * h;
      float* lower = line + 18 + 4 * h;
      const __m128 up = _mm_loadu_ps(upper);
      const __m256d a = _mm256_cvtps_pd(_mm_shuffle_ps(up, up, _MM_SHUFFLE(0, 1, 2, 3)));
      const __m256d d = _mm256_cvtps_pd(_mm_loadu_ps(lower));
      const __m256d newUpper = _mm256_sub_pd(_mm256_mul_pd(a, cs[h]), _mm256_mul_pd(d, ca[h]));
      const __m256d newLower = _mm256_add_pd(_mm256_mul_pd(d, cs[h]), _mm256_mul_pd(a, ca[h]));
      const __m128 narrowUpper = _mm256_cvtpd_ps(newUpper);
      _mm_storeu_ps(upper, _mm_shuffle_ps(narrowUpper, narrowUpper, _MM_SHUFFLE(0, 1, 2, 3)));
      _mm_storeu_ps(lower, _mm256_cvtpd_ps(newLower));
    }
  }
}
#endif

}  // namespace multiversioned

void AntialiasPortable(float* x, int32_t boundaries) {
  multiversioned::AntialiasButterflies(x, boundaries);
}

namespace multiversioned {

// Each output adds its terms in the order of the inputs in both versions, so the AVX one computes
// exactly what the plain one does.
[[gnu::target("default")]] void Imdct36Sums(float* p) {
  std::array<double, 18> y{};
  for (int32_t k = 0; k < 18; ++k) {
    const double x = p[k];
    const auto& row = Kernels.Long[k];
    for (int32_t m = 0; m < 18; ++m) y[m] += x * row[m];
  }
  for (int32_t m = 0; m < 18; ++m) p[m] = static_cast<float>(y[m]);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] void Imdct36Sums(float* p) {
  __m256d y[4];
  for (auto& v : y) v = _mm256_setzero_pd();
  __m128d tail = _mm_setzero_pd();
  for (int32_t k = 0; k < 18; ++k) {
    const double* row = Kernels.Long[k].data();
    const __m256d x = _mm256_set1_pd(p[k]);
    for (int32_t q = 0; q < 4; ++q) {
      y[q] = _mm256_add_pd(y[q], _mm256_mul_pd(x, _mm256_loadu_pd(row + 4 * q)));
    }
    tail = _mm_add_pd(tail, _mm_mul_pd(_mm256_castpd256_pd128(x), _mm_loadu_pd(row + 16)));
  }
  for (int32_t q = 0; q < 4; ++q) _mm_storeu_ps(p + 4 * q, _mm256_cvtpd_ps(y[q]));
  alignas(16) float last[4];
  _mm_store_ps(last, _mm_cvtpd_ps(tail));
  p[16] = last[0];
  p[17] = last[1];
}
#endif

}  // namespace multiversioned

void Imdct36Portable(float* p) {
  multiversioned::Imdct36Sums(p);
}

void Imdct12Portable(float* p) {
  std::array<std::array<double, 6>, 3> y{};
  for (int32_t k = 0; k < 6; ++k) {
    const auto& row = Kernels.Short[k];
    for (int32_t w = 0; w < 3; ++w) {
      const double x = p[3 * k + w];
      for (int32_t m = 0; m < 6; ++m) y[w][m] += x * row[m];
    }
  }
  for (int32_t w = 0; w < 3; ++w) {
    for (int32_t m = 0; m < 6; ++m) p[6 * w + m] = static_cast<float>(y[w][m]);
  }
}

namespace {

// One long-block subband: windowed output (added onto `out` when `accumulate`) plus the old
// overlap `r`, and the new overlap over p (added onto `overlapOut` when given).
template <bool Accumulate>
void LongSubband(const std::array<float, 36>& w, float* p, const float* r, float* out,
                 float* overlapOut) {
  for (int32_t j = 0; j < 9; ++j) {
    const float first = w[j] * p[9 + j];
    const float second = w[9 + j] * p[17 - j];
    if constexpr (Accumulate) {
      out[Subbands * j] += first;
      out[Subbands * (9 + j)] += second;
    } else {
      out[Subbands * j] = r[j] + first;
      out[Subbands * (9 + j)] = r[9 + j] + second;
    }
  }
  std::array<float, 18> overlap;
  for (int32_t t = 0; t < 9; ++t) overlap[t] = w[18 + t] * p[8 - t];
  for (int32_t t = 9; t < 18; ++t) overlap[t] = w[18 + t] * p[t - 9];
  for (int32_t t = 0; t < 18; ++t) {
    if constexpr (Accumulate) {
      overlapOut[t] += overlap[t];
    } else {
      p[t] = overlap[t];
    }
  }
}

template <bool Accumulate>
void ShortSubband(const std::array<float, 36>& ws, float* p, const float* r, float* out,
                  float* overlapOut) {
  const float* P = p;
  std::array<float, 18> o{};
  o[6] = ws[0] * P[3];
  o[7] = ws[1] * P[4];
  o[8] = ws[2] * P[5];
  o[9] = ws[3] * P[5];
  o[10] = ws[4] * P[4];
  o[11] = ws[5] * P[3];
  o[12] = ws[6] * P[2] + ws[0] * P[9];
  o[13] = ws[7] * P[1] + ws[1] * P[10];
  o[14] = ws[8] * P[0] + ws[2] * P[11];
  o[15] = ws[9] * P[0] + ws[3] * P[11];
  o[16] = ws[10] * P[1] + ws[4] * P[10];
  o[17] = ws[11] * P[2] + ws[5] * P[9];
  std::array<float, 18> n{};
  n[0] = ws[6] * P[8] + ws[0] * P[15];
  n[1] = ws[7] * P[7] + ws[1] * P[16];
  n[2] = ws[8] * P[6] + ws[2] * P[17];
  n[3] = ws[9] * P[6] + ws[3] * P[17];
  n[4] = ws[10] * P[7] + ws[4] * P[16];
  n[5] = ws[11] * P[8] + ws[5] * P[15];
  n[6] = ws[6] * P[14];
  n[7] = ws[7] * P[13];
  n[8] = ws[8] * P[12];
  n[9] = ws[9] * P[12];
  n[10] = ws[10] * P[13];
  n[11] = ws[11] * P[14];
  for (int32_t t = 0; t < 18; ++t) {
    if constexpr (Accumulate) {
      out[Subbands * t] += o[t];
      overlapOut[t] += n[t];
    } else {
      out[Subbands * t] = r[t] + o[t];
      p[t] = n[t];
    }
  }
}

int32_t SubbandsOf(uint32_t lines) {
  return std::min(static_cast<int32_t>((lines + 17) / 18), 32);
}

// The long part of a short block uses the normal window, and so do the two lowest subbands of
// any block with the mixed-block flag.
const std::array<float, 36>& LongWindowOf(const std::array<std::array<float, 36>, 4>& windows,
                                          int32_t blockType, int32_t subband) {
  const int32_t type = blockType & 3;
  const bool normal = type == 2 || ((blockType & MixedBlockWindows) != 0 && subband < 2);
  return windows[static_cast<size_t>(normal ? 0 : type)];
}

}  // namespace

int32_t HybridPortable(const HybridContext& context, float* spectrum, const float* overlap,
                       float* out, int32_t blockType, uint32_t longLines, uint32_t shortLines,
                       uint32_t overlapLines) {
  const auto& windows = context.Tables->Windows;
  const auto& shortWindow = windows[2];
  int32_t s = 0;
  for (const int32_t end = SubbandsOf(longLines); s < end; ++s) {
    float* p = spectrum + 18 * s;
    context.Imdct36(p);
    LongSubband<false>(LongWindowOf(windows, blockType, s), p, overlap + 18 * s, out + s, nullptr);
  }
  for (const int32_t end = SubbandsOf(shortLines); s < end; ++s) {
    float* p = spectrum + 18 * s;
    context.Imdct12(p);
    ShortSubband<false>(shortWindow, p, overlap + 18 * s, out + s, nullptr);
  }
  for (const int32_t end = SubbandsOf(overlapLines); s < end; ++s) {
    const float* r = overlap + 18 * s;
    for (int32_t t = 0; t < 18; ++t) out[Subbands * t + s] = r[t];
  }
  const int32_t result = 18 * s;
  for (; s < context.OutputSubbandLimit; ++s) {
    for (int32_t t = 0; t < 18; ++t) out[Subbands * t + s] = 0.0f;
  }
  return result;
}

int32_t HybridAddSecond(const HybridContext& context, float* spectrum, float* overlapAccumulator,
                        float* out, int32_t blockType, uint32_t longLines, uint32_t shortLines) {
  const auto& windows = context.Tables->Windows;
  const auto& shortWindow = windows[2];
  int32_t s = 0;
  for (const int32_t end = SubbandsOf(longLines); s < end; ++s) {
    float* p = spectrum + 18 * s;
    context.Imdct36(p);
    LongSubband<true>(LongWindowOf(windows, blockType, s), p, nullptr, out + s,
                      overlapAccumulator + 18 * s);
  }
  for (const int32_t end = SubbandsOf(shortLines); s < end; ++s) {
    float* p = spectrum + 18 * s;
    context.Imdct12(p);
    ShortSubband<true>(shortWindow, p, nullptr, out + s, overlapAccumulator + 18 * s);
  }
  return 18 * s;
}

void InvertOddSubbands(float* out, int32_t count) {
  const int32_t odd = (count + 17) / 36;
  for (int32_t i = 0; i < odd; ++i) {
    const int32_t s = 2 * i + 1;
    for (int32_t t = 1; t < 18; t += 2) out[Subbands * t + s] = -out[Subbands * t + s];
  }
}

void AddSpectrum(float* dest, const float* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) dest[i] += src[i];
}

const Layer3Routines PortableLayer3Routines{AntialiasPortable, HybridPortable, Imdct36Portable,
                                            Imdct12Portable};

}  // namespace tunewell
