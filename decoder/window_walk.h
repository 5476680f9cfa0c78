#pragma once
// The walk of one time slot over a synthesis ring that the scalar output members share. Slot k
// enters sum j (low, j = 0 ... 15) with D[j + 32k] and sum 32 - j (high) with D[j + 32(15 - k)],
// the window being odd about 256 except at multiples of 64; both take the same ring value,
// X_k[16 + j] for even k and X_k[16 - j] for odd k, whose low terms are subtracted. Each sum adds
// its terms in the order of k; the sum type gives the arithmetic (precision, and how even and odd
// slots are chained).

#include <array>
#include <cstdint>

#include "decoder/decoder_state.h"

namespace tunewell {

template <class TSum>
void WalkWindowSlot(const float* ring, uint32_t offset, const float* window,
                    std::array<TSum, 16>& low, std::array<TSum, 16>& high) {
  constexpr uint32_t ringMask = SynthesisRingSize - 1;
  for (uint32_t k = 0; k < 16; k += 2) {
    const float* even = ring + ((offset + 32 * k) & ringMask) + 16;
    const float* lowRow = window + 16 * k;
    const float* highRow = window + 16 * (15 - k);
    for (uint32_t j = 0; j < 16; ++j) {
      low[j].AddEven(lowRow[j], even[j]);
      high[j].AddEven(highRow[j], even[j]);
    }
    const float* odd = ring + ((offset + 32 * (k + 1)) & ringMask) + 16;
    lowRow += 16;
    highRow -= 16;
    for (uint32_t j = 0; j < 16; ++j) {
      const float x = *(odd - j);
      low[j].SubtractOdd(lowRow[j], x);
      high[j].AddOdd(highRow[j], x);
    }
  }
}

}  // namespace tunewell
