// Polyphase synthesis: equalizer gains, matrixing into the rings, and the synthesis drivers.
//
// The standard's 64-value vector of a time slot is (X[16 ... 31], 0, -X[31 ... 1], -X[0 ... 15])
// for the 32-point transform X, so a ring keeps only X: 32 values per slot, 16 slots.

#include "decoder/synthesis.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "decoder/layer12_tables.h"

namespace tunewell {

namespace {

constexpr int32_t SlotValues = 32;
constexpr int32_t Layer3Slots = 18;

int32_t NextOffset(int32_t offset) {
  return (offset - SlotValues) & (SynthesisRingSize - 1);
}

// Lee's factorisation of the N-point cosine transform X[m] = sum_k x[k] cos(pi m (2k + 1) / 2N):
// the even outputs are the transform of the sums x[k] + x[N-1-k], the odd ones the neighbour sums
// of the transform of the scaled differences.
// Inlined whole into Matrix32, so that the compiler sees one straight-line transform.
template <int N>
[[gnu::always_inline]] inline void Dct(const float* in, float* out, const float* cosines) {
  if constexpr (N == 1) {
    out[0] = in[0];
  } else {
    constexpr int H = N / 2;
    std::array<float, H> sums, diffs, even, odd;
    for (int k = 0; k < H; ++k) {
      sums[k] = in[k] + in[N - 1 - k];
      diffs[k] = (in[k] - in[N - 1 - k]) * cosines[k];
    }
    Dct<H>(sums.data(), even.data(), cosines + H);
    Dct<H>(diffs.data(), odd.data(), cosines + H);
    for (int m = 0; m < H; ++m) out[2 * m] = even[m];
    for (int m = 0; m < H - 1; ++m) out[2 * m + 1] = odd[m] + odd[m + 1];
    out[N - 1] = odd[H - 1];
  }
}

template <int Stride>
void MatrixWithGains(const float* values, float* dest) {
  const TEqualizerState& eq = TheDecoder.Equalizer;
  std::array<float, SubbandCount> scratch;
  if (eq.SubbandEqualizerOn != 0) {
    for (int k = 0; k < SubbandCount; ++k) scratch[k] = values[Stride * k] * eq.SubbandGains[k];
  } else {
    for (int k = 0; k < SubbandCount; ++k) scratch[k] = values[Stride * k];
  }
  Matrix32(scratch.data(), dest);
}

using TMatrixing = void (*)(const float* values, float* dest);

// One ring, 32 contiguous output samples per slot: every single-channel member.
void SynthesizeOneRing(const float* samples, int16_t* out, int32_t rows, int32_t rowValues,
                       TMatrixing matrix) {
  TSynthesisState& syn = TheDecoder.Synthesis;
  float* ring = syn.Ring[0].data();
  const TSynthOutputRoutine output = TheDecoder.Routines.SynthMonoRoutine;
  int32_t offset = syn.RingOffset[0];
  for (int32_t row = 0; row < rows; ++row) {
    matrix(samples + row * rowValues, ring + offset);
    output(ring, offset, out + row * SlotValues);
    offset = NextOffset(offset);
  }
  syn.RingOffset[0] = offset;
}

void MatrixSecondChannel(const float* values, float* dest) {
  MatrixSlotInterleaved(values + 1, dest);
}

}  // namespace

void EnsureSynthesisTables() {
  TSynthesisState& syn = TheDecoder.Synthesis;
  if (syn.TablesBuilt) return;
  int32_t index = 0;
  for (int32_t n = 16; n >= 1; n /= 2) {
    for (int32_t j = 0; j < n; ++j) {
      syn.Cosines[index++] =
          static_cast<float>(0.5 / std::cos(std::numbers::pi * (2 * j + 1) / (4.0 * n)));
    }
  }
  constexpr float unit = 1.0f / 65536.0f;
  for (int32_t k = 0; k < 16; ++k) {
    for (int32_t j = 0; j < 16; ++j) {
      syn.Window[16 * k + j] = unit * static_cast<float>(SynthesisWindowUnits[j + 32 * k]);
    }
  }
  for (int32_t i = 0; i < 8; ++i) {
    syn.Window[256 + i] = -unit * static_cast<float>(SynthesisWindowUnits[48 + 64 * i]);
  }
  for (int32_t i = 0; i < SynthesisWindowSize; ++i) syn.WideWindow[i] = syn.Window[i];
  syn.TablesBuilt = true;
}

void ResetSynthesis() {
  EnsureSynthesisTables();
  TSynthesisState& syn = TheDecoder.Synthesis;
  for (auto& ring : syn.Ring) ring.fill(0.0f);
  syn.RingOffset = {0, 0};
}

#if defined(__x86_64__)

namespace {

__m128 Reversed(__m128 v) {
  return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3));
}

// One butterfly level of Lee's factorisation on a block of 8 values (two vectors), as Dct does it.
void Butterfly8(__m128 low, __m128 high, __m128 cosines, __m128& sums, __m128& diffs) {
  const __m128 mirrored = Reversed(high);
  sums = _mm_add_ps(low, mirrored);
  diffs = _mm_mul_ps(_mm_sub_ps(low, mirrored), cosines);
}

// Four 4-point transforms at once, one per lane: x[k] holds input k of every lane.
void Dct4Lanes(const __m128 (&x)[4], const float* cosines, __m128 (&y)[4]) {
  const __m128 c0 = _mm_set1_ps(cosines[0]);
  const __m128 c1 = _mm_set1_ps(cosines[1]);
  const __m128 c2 = _mm_set1_ps(cosines[2]);
  const __m128 s0 = _mm_add_ps(x[0], x[3]);
  const __m128 s1 = _mm_add_ps(x[1], x[2]);
  const __m128 d0 = _mm_mul_ps(_mm_sub_ps(x[0], x[3]), c0);
  const __m128 d1 = _mm_mul_ps(_mm_sub_ps(x[1], x[2]), c1);
  const __m128 odd0 = _mm_add_ps(d0, d1);
  const __m128 odd1 = _mm_mul_ps(_mm_sub_ps(d0, d1), c2);
  y[0] = _mm_add_ps(s0, s1);
  y[2] = _mm_mul_ps(_mm_sub_ps(s0, s1), c2);
  y[1] = _mm_add_ps(odd0, odd1);
  y[3] = odd1;
}

// out[2m] = even[m], out[2m + 1] = odd[m] + odd[m + 1], out[2h - 1] = odd[h - 1].
void Recombine(const float* even, const float* odd, int32_t h, float* out) {
  for (int32_t m = 0; m < h - 1; ++m) {
    out[2 * m] = even[m];
    out[2 * m + 1] = odd[m] + odd[m + 1];
  }
  out[2 * h - 2] = even[h - 1];
  out[2 * h - 1] = odd[h - 1];
}

}  // namespace

// Lee's factorisation as Dct computes it, operation for operation, with the butterflies of the
// 32-, 16- and 8-point levels four values at a time and the four-point transforms one per lane.
void Matrix32(const float* in, float* out) {
  const float* c = TheDecoder.Synthesis.Cosines.data();  // 16, 8, 4, 2, 1 point coefficients
  __m128 v[8];
  for (int32_t q = 0; q < 8; ++q) v[q] = _mm_loadu_ps(in + 4 * q);
  // Level 32: a = sums (0 ... 15), b = scaled differences.
  __m128 a[4];
  __m128 b[4];
  for (int32_t q = 0; q < 4; ++q) {
    const __m128 mirrored = Reversed(v[7 - q]);
    a[q] = _mm_add_ps(v[q], mirrored);
    b[q] = _mm_mul_ps(_mm_sub_ps(v[q], mirrored), _mm_loadu_ps(c + 4 * q));
  }
  // Level 16: the 8-point inputs, in the order sums of a, differences of a, sums of b,
  // differences of b; two vectors each.
  __m128 eight[4][2];
  const __m128 c8low = _mm_loadu_ps(c + 16);
  const __m128 c8high = _mm_loadu_ps(c + 20);
  for (int32_t half = 0; half < 2; ++half) {
    const __m128* x = half == 0 ? a : b;
    __m128(&sums)[2] = eight[2 * half];
    __m128(&diffs)[2] = eight[2 * half + 1];
    const __m128 mirrored0 = Reversed(x[3]);
    const __m128 mirrored1 = Reversed(x[2]);
    sums[0] = _mm_add_ps(x[0], mirrored0);
    sums[1] = _mm_add_ps(x[1], mirrored1);
    diffs[0] = _mm_mul_ps(_mm_sub_ps(x[0], mirrored0), c8low);
    diffs[1] = _mm_mul_ps(_mm_sub_ps(x[1], mirrored1), c8high);
  }
  // Level 8: lane i of four sums and of four differences belongs to 8-point input i.
  const __m128 c4 = _mm_loadu_ps(c + 24);
  __m128 s[4];
  __m128 d[4];
  for (int32_t i = 0; i < 4; ++i) Butterfly8(eight[i][0], eight[i][1], c4, s[i], d[i]);
  _MM_TRANSPOSE4_PS(s[0], s[1], s[2], s[3]);
  _MM_TRANSPOSE4_PS(d[0], d[1], d[2], d[3]);
  __m128 evenOut[4];
  __m128 oddOut[4];
  Dct4Lanes(s, c + 28, evenOut);
  Dct4Lanes(d, c + 28, oddOut);
  // The 8-point outputs, lane i for input i, then one row per input.
  __m128 y[8];
  for (int32_t m = 0; m < 3; ++m) {
    y[2 * m] = evenOut[m];
    y[2 * m + 1] = _mm_add_ps(oddOut[m], oddOut[m + 1]);
  }
  y[6] = evenOut[3];
  y[7] = oddOut[3];
  _MM_TRANSPOSE4_PS(y[0], y[1], y[2], y[3]);
  _MM_TRANSPOSE4_PS(y[4], y[5], y[6], y[7]);
  alignas(16) float rows[4][8];
  for (int32_t i = 0; i < 4; ++i) {
    _mm_store_ps(rows[i], y[i]);
    _mm_store_ps(rows[i] + 4, y[4 + i]);
  }
  alignas(16) float sixteen[2][16];
  Recombine(rows[0], rows[1], 8, sixteen[0]);
  Recombine(rows[2], rows[3], 8, sixteen[1]);
  Recombine(sixteen[0], sixteen[1], 16, out);
}

#else

void Matrix32(const float* in, float* out) {
  Dct<SubbandCount>(in, out, TheDecoder.Synthesis.Cosines.data());
}

#endif

void MatrixSlot(const float* values, float* dest) {
  MatrixWithGains<1>(values, dest);
}

void MatrixSlotInterleaved(const float* values, float* dest) {
  MatrixWithGains<2>(values, dest);
}

void MatrixSlotMixDown(const float* values, float* dest) {
  std::array<float, SubbandCount> mixed;
  for (int k = 0; k < SubbandCount; ++k) mixed[k] = 0.5f * (values[2 * k] + values[2 * k + 1]);
  Matrix32(mixed.data(), dest);
}

void SynthesizeLayer12Mono(const float* samples, int16_t* out, int32_t rows) {
  SynthesizeOneRing(samples, out, rows, SlotValues, MatrixSlot);
}

void SynthesizeLayer12MixDown(const float* samples, int16_t* out, int32_t rows) {
  SynthesizeOneRing(samples, out, rows, 2 * SlotValues, MatrixSlotMixDown);
}

void SynthesizeLayer12Left(const float* samples, int16_t* out, int32_t rows) {
  SynthesizeOneRing(samples, out, rows, 2 * SlotValues, MatrixSlotInterleaved);
}

void SynthesizeLayer12Right(const float* samples, int16_t* out, int32_t rows) {
  SynthesizeOneRing(samples, out, rows, 2 * SlotValues, MatrixSecondChannel);
}

void SynthesizeLayer12Stereo(const float* samples, int16_t* out, int32_t rows) {
  TSynthesisState& syn = TheDecoder.Synthesis;
  float* left = syn.Ring[0].data();
  float* right = syn.Ring[1].data();
  const TSynthOutputRoutine output = TheDecoder.Routines.SynthStereoRoutine;
  int32_t offset = syn.RingOffset[0];
  for (int32_t row = 0; row < rows; ++row) {
    const float* values = samples + row * 2 * SlotValues;
    int16_t* rowOut = out + row * 2 * SlotValues;
    MatrixSlotInterleaved(values, left + offset);
    MatrixSlotInterleaved(values + 1, right + offset);
    output(left, offset, rowOut);
    output(right, offset, rowOut + 1);
    offset = NextOffset(offset);
  }
  syn.RingOffset[0] = offset;
}

void SynthesizeLayer3Mono(const float* hybridOutput, int16_t* out, int32_t /*unused*/) {
  SynthesizeOneRing(hybridOutput, out, Layer3Slots, SlotValues, MatrixSlot);
}

void SynthesizeLayer3Stereo(const float* hybridOutput, int16_t* out, int32_t channel) {
  TSynthesisState& syn = TheDecoder.Synthesis;
  const size_t c = channel != 0 ? 1 : 0;
  float* ring = syn.Ring[c].data();
  const TSynthOutputRoutine output = TheDecoder.Routines.SynthStereoRoutine;
  int32_t offset = syn.RingOffset[c];
  out += c;
  for (int32_t slot = 0; slot < Layer3Slots; ++slot) {
    MatrixSlot(hybridOutput + slot * SlotValues, ring + offset);
    output(ring, offset, out + slot * 2 * SlotValues);
    offset = NextOffset(offset);
  }
  syn.RingOffset[c] = offset;
}

TSynthesisDriver Layer12SynthesisDriver(int32_t modeIndex) {
  static constexpr std::array<TSynthesisDriver, 5> drivers{
      SynthesizeLayer12Mono, SynthesizeLayer12Stereo, SynthesizeLayer12MixDown,
      SynthesizeLayer12Left, SynthesizeLayer12Right};
  return drivers[static_cast<size_t>(modeIndex)];
}

}  // namespace tunewell
