// Layer III members with the arithmetic of the 3DNow! code: alias reduction and the two
// transform kernels with every product and sum rounded to single precision.

#include <array>
#include <cmath>
#include <numbers>

#include "decoder/layer3_state.h"

namespace tunewell {

namespace {

// The folded kernel outputs are the type-IV cosine transform of the inputs (see
// layer3_hybrid.cpp), here with single-precision coefficients.
struct SingleKernelTables {
  std::array<std::array<float, 18>, 18> Long;  // [k][m]
  std::array<std::array<float, 6>, 6> Short;   // [k][m]
  std::array<float, 16> Antialias;             // cs0, ca0, cs1, ca1, ...
  SingleKernelTables() {
    constexpr double pi = std::numbers::pi;
    for (int32_t k = 0; k < 18; ++k) {
      for (int32_t m = 0; m < 18; ++m) {
        Long[k][m] = static_cast<float>(std::cos(pi / 72.0 * (2 * m + 1) * (2 * k + 1)));
      }
    }
    for (int32_t k = 0; k < 6; ++k) {
      for (int32_t m = 0; m < 6; ++m) {
        Short[k][m] = static_cast<float>(std::cos(pi / 24.0 * (2 * m + 1) * (2 * k + 1)));
      }
    }
    constexpr std::array<double, 8> c{-0.6,   -0.535, -0.33,   -0.185,
                                      -0.095, -0.041, -0.0142, -0.0037};
    for (size_t j = 0; j < c.size(); ++j) {
      const double norm = std::sqrt(1.0 + c[j] * c[j]);
      Antialias[2 * j] = static_cast<float>(1.0 / norm);
      Antialias[2 * j + 1] = static_cast<float>(c[j] / norm);
    }
  }
};
const SingleKernelTables Tables;

}  // namespace

void AntialiasThreeDNow(float* x, int32_t boundaries) {
  const float* k = Tables.Antialias.data();
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

void Imdct36ThreeDNow(float* p) {
  std::array<float, 18> y{};
  for (int32_t k = 0; k < 18; ++k) {
    const float x = p[k];
    const auto& row = Tables.Long[k];
    for (int32_t m = 0; m < 18; ++m) {
      const float product = x * row[m];
      y[m] += product;
    }
  }
  for (int32_t m = 0; m < 18; ++m) p[m] = y[m];
}

void Imdct12ThreeDNow(float* p) {
  std::array<std::array<float, 6>, 3> y{};
  for (int32_t k = 0; k < 6; ++k) {
    const auto& row = Tables.Short[k];
    for (int32_t w = 0; w < 3; ++w) {
      const float x = p[3 * k + w];
      for (int32_t m = 0; m < 6; ++m) {
        const float product = x * row[m];
        y[w][m] += product;
      }
    }
  }
  for (int32_t w = 0; w < 3; ++w) {
    for (int32_t m = 0; m < 6; ++m) p[6 * w + m] = y[w][m];
  }
}

}  // namespace tunewell
