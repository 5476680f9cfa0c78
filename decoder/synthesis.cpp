// Polyphase synthesis: equalizer gains, matrixing into the rings, and the synthesis drivers.
//
// The standard's 64-value vector of a time slot is (X[16 ... 31], 0, -X[31 ... 1], -X[0 ... 15])
// for the 32-point transform X, so a ring keeps only X: 32 values per slot, 16 slots.

#include "decoder/synthesis.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>

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
  syn.TablesBuilt = true;
}

void ResetSynthesis() {
  EnsureSynthesisTables();
  TSynthesisState& syn = TheDecoder.Synthesis;
  for (auto& ring : syn.Ring) ring.fill(0.0f);
  syn.RingOffset = {0, 0};
}

void Matrix32(const float* in, float* out) {
  Dct<SubbandCount>(in, out, TheDecoder.Synthesis.Cosines.data());
}

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
