// Layer III members with the arithmetic of the 3DNow! code: alias reduction and the two
// transform kernels with every product and sum rounded to single precision.

#include <array>

#include "decoder/layer3_state.h"

namespace tunewell {

void AntialiasThreeDNow(float* x, int32_t boundaries) {
  const float* k = AntialiasCoefficientPairs();
  for (int32_t b = 0; b < boundaries; ++b) {
    float* upper = x + 18 * b + 17;
    float* lower = x + 18 * b + 18;
    for (int32_t j = 0; j < 8; ++j) {
      const float a = upper[-j];
      const float d = lower[j];
      const float cs = k[2 * j];
      const float ca = k[2 * j + 1];
      const float aCs = a * cs;
      const float dCa = d * ca;
      const float dCs = d * cs;
      const float aCa = a * ca;
      upper[-j] = aCs - dCa;
      lower[j] = dCs + aCa;
    }
  }
}

// The kernels' cosines rounded to single precision, as the packed code holds them.
void Imdct36ThreeDNow(float* p) {
  const auto& cosines = LongKernelCosines();
  std::array<float, 18> y{};
  for (int32_t k = 0; k < 18; ++k) {
    const float x = p[k];
    for (int32_t m = 0; m < 18; ++m) {
      const float product = x * static_cast<float>(cosines[k][m]);
      y[m] += product;
    }
  }
  for (int32_t m = 0; m < 18; ++m) p[m] = y[m];
}

void Imdct12ThreeDNow(float* p) {
  const auto& cosines = ShortKernelCosines();
  std::array<std::array<float, 6>, 3> y{};
  for (int32_t k = 0; k < 6; ++k) {
    for (int32_t w = 0; w < 3; ++w) {
      const float x = p[3 * k + w];
      for (int32_t m = 0; m < 6; ++m) {
        const float product = x * static_cast<float>(cosines[k][m]);
        y[w][m] += product;
      }
    }
  }
  for (int32_t w = 0; w < 3; ++w) {
    for (int32_t m = 0; m < 6; ++m) p[6 * w + m] = y[w][m];
  }
}

}  // namespace tunewell
