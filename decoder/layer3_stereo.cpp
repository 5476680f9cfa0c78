// Layer III stereo processing: mid/side, and intensity stereo of MPEG-1 and of the lower
// sampling frequencies. The right channel's scale factors are its intensity positions.

#include <algorithm>

#include "decoder/layer3_state.h"

namespace tunewell {

namespace {

constexpr int32_t LastIntensityLongBand = 20;
constexpr int32_t LastIntensityShortBand = 11;
constexpr int32_t IllegalMpeg1Position = 7;

using RatioPair = std::array<float, 2>;

void ApplyPair(const RatioPair& k, float& left, float& right) {
  right = left * k[1];
  left = left * k[0];
}

int32_t Mpeg1Position(int32_t scaleFactor) {
  return std::clamp(scaleFactor, 0, IllegalMpeg1Position);
}

// The lower-frequency partition (0 ... 3) of band b, as the scale-factor reader used it.
int32_t LsfPartitionOf(const IntensityInfo& info, int32_t band, int32_t firstBand) {
  int32_t end = firstBand;
  for (int32_t p = 0; p < 3; ++p) {
    end += info.PartitionSizes[p];
    if (band < end) return p;
  }
  return 3;
}

const RatioPair& LsfPair(const std::array<RatioPair, 63>& table, const IntensityInfo& info,
                         int32_t band, int32_t firstBand, int32_t position) {
  const int32_t p = LsfPartitionOf(info, band, firstBand);
  const int32_t slen = p < 3 ? info.Slen[p] : 0;
  const int32_t offset = (1 << slen) - 1;
  return table[static_cast<size_t>(std::clamp(offset + position, offset, 2 * offset))];
}

}  // namespace

void MidSide(float* channel0, float* channel1, int32_t lines) {
  for (int32_t i = 0; i < lines; ++i) {
    const float m = channel0[i], s = channel1[i];
    channel0[i] = m + s;
    channel1[i] = m - s;
  }
}

int32_t IntensityStartLine(const BandLayout& layout, const BandInfo& right) {
  if (right.LastNonZeroBand == NoNonZeroBand) return 0;
  return right.BlockKind == 0 ? layout.LongEnds[right.LastNonZeroBand]
                              : layout.ShortEnds[right.LastNonZeroBand];
}

void IntensityMpeg1(const RequantiseTables& tables, const BandLayout& layout, bool midSide,
                    const ScaleFactors& rightScaleFactors, const BandInfo& right,
                    int32_t leftLineCount, float* left, float* rightLines) {
  const auto& ratios = tables.IntensityRatio[midSide ? 1 : 0];
  int32_t line = IntensityStartLine(layout, right);
  int32_t remaining = leftLineCount - line;
  if (right.BlockKind == 0) {
    for (int32_t b = right.LastNonZeroBand + 1; b <= LastIntensityLongBand; ++b) {
      const RatioPair& k = ratios[static_cast<size_t>(Mpeg1Position(rightScaleFactors[b]))];
      for (int32_t i = 0; i < layout.LongWidths[b]; ++i, ++line) {
        if (--remaining < 0) return;
        ApplyPair(k, left[line], rightLines[line]);
      }
    }
    return;
  }
  for (int32_t b = right.LastNonZeroBand + 1; b <= LastIntensityShortBand; ++b) {
    std::array<const RatioPair*, 3> k;
    for (int32_t w = 0; w < 3; ++w) {
      k[w] = &ratios[static_cast<size_t>(Mpeg1Position(rightScaleFactors[ShortScaleFactor(w, b)]))];
    }
    for (int32_t i = 0; i < layout.ShortWidths[b]; ++i, line += 3) {
      remaining -= 3;
      if (remaining < 0) return;
      for (int32_t w = 0; w < 3; ++w) ApplyPair(*k[w], left[line + w], rightLines[line + w]);
    }
  }
}

void IntensityLsf(const RequantiseTables& tables, const BandLayout& layout, bool midSide,
                  const IntensityInfo& intensity, const ScaleFactors& rightScaleFactors,
                  const BandInfo& leftBands, const BandInfo& right, int32_t leftLineCount,
                  float* left, float* rightLines) {
  const auto& table =
      tables.LsfIntensity[static_cast<size_t>(intensity.IntensityScale & 1)][midSide ? 1 : 0];
  if (right.BlockKind == 0) {
    int32_t line = IntensityStartLine(layout, right);
    int32_t remaining = leftLineCount - line;
    for (int32_t b = right.LastNonZeroBand + 1; b <= LastIntensityLongBand; ++b) {
      const RatioPair& k = LsfPair(table, intensity, b, 0, rightScaleFactors[b]);
      for (int32_t i = 0; i < layout.LongWidths[b]; ++i, ++line) {
        if (--remaining < 0) return;
        ApplyPair(k, left[line], rightLines[line]);
      }
    }
    return;
  }
  // Short and mixed blocks: each window from its own last non-zero band. The partitions of a
  // mixed block's short part begin at short band 3, after the long partition.
  const bool mixed = right.FirstShortBand != 0;
  for (int32_t w = 0; w < 3; ++w) {
    const int32_t last = right.LastNonZeroShortBand[w];
    int32_t position = (last < 0 ? 0 : layout.ShortEnds[last]) + w;
    const int32_t end = std::min(leftBands.LastNonZeroShortBand[w], LastIntensityShortBand);
    for (int32_t b = last + 1; b <= end; ++b) {
      const int32_t partitionBand =
          mixed ? b - right.FirstShortBand + intensity.PartitionSizes[0] : b;
      const RatioPair& k =
          LsfPair(table, intensity, partitionBand, 0, rightScaleFactors[ShortScaleFactor(w, b)]);
      for (int32_t i = 0; i < layout.ShortWidths[b]; ++i, position += 3) {
        ApplyPair(k, left[position], rightLines[position]);
      }
    }
  }
}

}  // namespace tunewell
