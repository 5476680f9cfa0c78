// Layer III requantisation: global gain, scale factors, pretab, subblock gain and |x|^(4/3), at
// 32768 times the standard's scale; short blocks come out interleaved by window.

#include <algorithm>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "decoder/layer3_state.h"

namespace tunewell {

namespace {

constexpr std::array<std::array<int32_t, 22>, 2> PretabTable{{
    {},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0},
}};

constexpr float OneThird = 1.0f / 3.0f;

float PowerFourThirds(const RequantiseTables& tables, int32_t x) {
  if (static_cast<uint32_t>(x + 32) < 64) return tables.Power[static_cast<size_t>(x + 32)];
  const float magnitude = static_cast<float>(x < 0 ? -static_cast<int64_t>(x) : x);
  return static_cast<float>(x) * std::pow(magnitude, OneThird);
}

}  // namespace

// Outside the anonymous namespace: clang takes an internal multi-versioned function for unused
// although its dispatcher calls it.
namespace multiversioned {

// Requantises `count` lines of one band with one factor; true when any was non-zero. A zero line
// takes the table's 0, and factor x 0 is 0: no branch on the value, which music makes random.
[[gnu::target("default")]] bool RequantiseBand(const RequantiseTables& tables, float factor,
                                               const int32_t* in, float* out, int32_t count,
                                               int32_t stride) {
  uint32_t any = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t x = in[i];
    any |= static_cast<uint32_t>(x);
    out[i * stride] = factor * PowerFourThirds(tables, x);
  }
  return any != 0;
}

#if defined(__x86_64__)
// Eight lines at a time through a table gather where all eight lie in the table; the same
// products as the plain version.
[[gnu::target("avx2")]] bool RequantiseBand(const RequantiseTables& tables, float factor,
                                            const int32_t* in, float* out, int32_t count,
                                            int32_t stride) {
  int32_t i = 0;
  __m256i any = _mm256_setzero_si256();
  if (stride == 1) {
    const __m256 scale = _mm256_set1_ps(factor);
    const __m256i bias = _mm256_set1_epi32(32);
    const __m256i outside = _mm256_set1_epi32(~63);
    for (; i + 8 <= count; i += 8) {
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
      const __m256i index = _mm256_add_epi32(x, bias);
      if (!_mm256_testz_si256(index, outside)) break;
      any = _mm256_or_si256(any, x);
      const __m256 power = _mm256_i32gather_ps(tables.Power.data(), index, 4);
      _mm256_storeu_ps(out + i, _mm256_mul_ps(scale, power));
    }
  }
  uint32_t rest = _mm256_testz_si256(any, any) ? 0u : 1u;
  for (; i < count; ++i) {
    const int32_t x = in[i];
    rest |= static_cast<uint32_t>(x);
    out[i * stride] = factor * PowerFourThirds(tables, x);
  }
  return rest != 0;
}
#endif

}  // namespace multiversioned

namespace {

bool RequantiseBand(const RequantiseTables& tables, float factor, const int32_t* in, float* out,
                    int32_t count, int32_t stride) {
  return multiversioned::RequantiseBand(tables, factor, in, out, count, stride);
}

}  // namespace

void BuildRequantiseTables(RequantiseTables& t) {
  for (size_t i = 0; i < t.Gain.size(); ++i) {
    t.Gain[i] = static_cast<float>(std::exp2((static_cast<double>(i) - 156.0) / 4.0));
  }
  for (int32_t s = 0; s < 2; ++s) {
    for (int32_t p = 0; p < 4; ++p) {
      for (int32_t k = 0; k < 32; ++k) {
        t.ScaleMultiplier[s][p][k] = static_cast<float>(std::exp2(-(s + 1) / 2.0 * (p + k)));
      }
    }
  }
  for (int32_t x = -32; x < 32; ++x) {
    t.Power[static_cast<size_t>(x + 32)] =
        static_cast<float>(x * std::cbrt(static_cast<double>(std::abs(x))));
  }
  for (int32_t i = 0; i < 8; ++i) t.SubblockGain[i] = static_cast<float>(std::exp2(-2.0 * i));

  const double pi = std::acos(-1.0);
  const double sqrt2 = std::sqrt(2.0);
  for (int32_t m = 0; m < 2; ++m) {
    const double q = m == 0 ? 1.0 : sqrt2;
    for (int32_t i = 0; i < 7; ++i) {
      const double angle = i * pi / 12.0;
      const double sum = std::sin(angle) + std::cos(angle);
      t.IntensityRatio[m][i] = {static_cast<float>(std::sin(angle) / sum * q),
                                static_cast<float>(std::cos(angle) / sum * q)};
    }
    t.IntensityRatio[m][7] = {1.0f, m == 0 ? 0.0f : 1.0f};
  }
  for (int32_t s = 0; s < 2; ++s) {
    const double io = std::exp2(-(s + 1) / 4.0);
    for (int32_t m = 0; m < 2; ++m) {
      const double q = m == 0 ? 1.0 : sqrt2;
      auto& table = t.LsfIntensity[s][m];
      for (int32_t level = 0; level < 6; ++level) {
        const int32_t first = (1 << level) - 1;
        const int32_t size = 1 << level;
        for (int32_t j = 0; j < size; ++j) {
          auto& pair = table[static_cast<size_t>(first + j)];
          if (j == size - 1) {
            pair = {1.0f, m == 0 ? 0.0f : 1.0f};  // the illegal position
          } else if (j == 0) {
            pair = {static_cast<float>(q), static_cast<float>(q)};
          } else if (j % 2 == 1) {
            pair = {static_cast<float>(std::pow(io, (j + 1) / 2) * q), static_cast<float>(q)};
          } else {
            pair = {static_cast<float>(q), static_cast<float>(std::pow(io, j / 2) * q)};
          }
        }
      }
    }
  }
}

void Requantise(const RequantiseTables& tables, const BandLayout& layout, int32_t mixedLongBands,
                const GranuleInfo& info, const ScaleFactors& sf, const int32_t* quantised,
                float* spectrum, int32_t& lineCount, BandInfo& bands) {
  const float gain = tables.Gain[static_cast<size_t>(std::clamp(info.GlobalGain + 6, 0, 261))];
  const auto& multipliers = tables.ScaleMultiplier[static_cast<size_t>(info.ScalefacScale & 1)];
  const bool shortBlock = info.BlockType == 2;
  const int32_t longBands =
      !shortBlock ? LongBandCount : (info.MixedBlock != 0 ? mixedLongBands : 0);
  bands.FirstShortBand = !shortBlock ? 12 : (info.MixedBlock != 0 ? 3 : 0);
  bands.LongBands = longBands;
  bands.LastNonZeroBand = NoNonZeroBand;

  int32_t line = 0;
  const auto& pretab = PretabTable[static_cast<size_t>(info.Preflag & 1)];
  for (int32_t b = 0; b < longBands; ++b) {
    const float factor =
        gain *
        multipliers[static_cast<size_t>(pretab[b])][static_cast<size_t>(std::clamp(sf[b], 0, 31))];
    const int32_t width = layout.LongWidths[b];
    if (RequantiseBand(tables, factor, quantised + line, spectrum + line, width, 1)) {
      bands.LastNonZeroBand = b;
    }
    line += width;
    if (line >= lineCount) break;
  }
  bands.BlockKind = 0;
  bands.LastNonZeroShortBand.fill(bands.FirstShortBand - 1);
  if (!shortBlock) {
    std::fill(spectrum + line, spectrum + LinesPerGranule, 0.0f);
    return;
  }

  // Short part: the three windows of a band follow one another in the input and are written
  // interleaved, three values per frequency.
  if (longBands > 0) {
    // A mixed block's short part starts at the end of its long bands even when the long part
    // stopped early.
    const int32_t shortStart = layout.LongEnds[longBands - 1];
    std::fill(spectrum + line, spectrum + shortStart, 0.0f);
    line = shortStart;
  }
  if (line < lineCount) {
    std::array<float, 3> windowGain;
    for (int32_t w = 0; w < 3; ++w) {
      windowGain[w] = gain * tables.SubblockGain[static_cast<size_t>(info.SubblockGain[w] & 7)];
    }
    std::array<int32_t, 3> last;
    last.fill(bands.FirstShortBand - 1);
    for (int32_t b = bands.FirstShortBand; b < ShortBandCount; ++b) {
      const int32_t width = layout.ShortWidths[b];
      float* out = spectrum + line;
      for (int32_t w = 0; w < 3; ++w) {
        const int32_t scale = std::clamp(sf[ShortScaleFactor(w, b)], 0, 31);
        const float factor = windowGain[w] * multipliers[0][static_cast<size_t>(scale)];
        if (RequantiseBand(tables, factor, quantised + line + w * width, out + w, width, 3)) {
          last[w] = b;
        }
      }
      line += 3 * width;
      if (line >= lineCount) break;
    }
    bands.LastNonZeroShortBand = last;
    bands.LastNonZeroBand = std::max({last[0], last[1], last[2]});
  } else {
    bands.LastNonZeroBand = bands.FirstShortBand - 1;
  }
  bands.BlockKind = 1;
  lineCount = line;
  std::fill(spectrum + line, spectrum + LinesPerGranule, 0.0f);
}

}  // namespace tunewell
