// Layer III scale factors: the MPEG-1 reader (slen pairs, reuse between granules) and the
// lower-frequency reader (partitions, the intensity-stereo form of the right channel).

#include "decoder/layer3_state.h"

namespace tunewell {

namespace {

// (slen1, slen2) by scalefac_compress.
// clang-format off
constexpr std::array<std::array<int32_t, 2>, 16> SlenTable{{
    {0, 0}, {0, 1}, {0, 2}, {0, 3}, {3, 0}, {1, 1}, {1, 2}, {1, 3},
    {2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2}, {3, 3}, {4, 2}, {4, 3},
}};
// clang-format on

// Partition sizes by [table][row: long, short, mixed]; short rows count bands per window, mixed
// rows give six long bands, then short bands.
using PartitionRow = std::array<int32_t, 4>;
constexpr std::array<std::array<PartitionRow, 3>, 6> PartitionTable{{
    {{{6, 5, 5, 5}, {3, 3, 3, 3}, {6, 3, 3, 3}}},
    {{{6, 5, 7, 3}, {3, 3, 4, 2}, {6, 3, 4, 2}}},
    {{{11, 10, 0, 0}, {6, 6, 0, 0}, {6, 3, 6, 0}}},
    {{{7, 7, 7, 0}, {4, 4, 4, 0}, {6, 5, 4, 0}}},
    {{{6, 6, 6, 3}, {4, 3, 3, 2}, {6, 4, 3, 2}}},
    {{{8, 8, 5, 0}, {5, 4, 3, 0}, {6, 6, 3, 0}}},
}};

constexpr int32_t LongRow = 0, ShortRow = 1, MixedRow = 2;

int32_t ReadSlen(BitReader& r, int32_t slen) {
  return slen == 0 ? 0 : static_cast<int32_t>(r.Read(slen));
}

void ReadLongBands(BitReader& r, ScaleFactors& dest, int32_t first, int32_t end, int32_t slen) {
  for (int32_t b = first; b < end; ++b) dest[b] = ReadSlen(r, slen);
}

void ReadShortBands(BitReader& r, ScaleFactors& dest, int32_t first, int32_t end, int32_t slen) {
  for (int32_t b = first; b < end; ++b) {
    for (int32_t w = 0; w < 3; ++w) dest[ShortScaleFactor(w, b)] = ReadSlen(r, slen);
  }
}

struct LsfLayout {
  int32_t Table;
  std::array<int32_t, 4> Slen;
  int32_t Preflag;
};

LsfLayout LsfLayoutOf(int32_t sfc, bool intensityRight) {
  if (intensityRight) {
    const int32_t i = sfc / 2;
    if (i < 180) return {3, {i / 36, (i % 36) / 6, (i % 36) % 6, 0}, 0};
    if (i < 244) {
      const int32_t j = i - 180;
      return {4, {j / 16, (j / 4) % 4, j % 4, 0}, 0};
    }
    return {5, {(i - 244) / 3, (i - 244) % 3, 0, 0}, 0};
  }
  if (sfc < 400) return {0, {(sfc / 16) / 5, (sfc / 16) % 5, (sfc % 16) / 4, sfc % 4}, 0};
  if (sfc < 500) {
    const int32_t j = sfc - 400;
    return {1, {(j / 4) / 5, (j / 4) % 5, j % 4, 0}, 0};
  }
  return {2, {(sfc - 500) / 3, (sfc - 500) % 3, 0, 0}, 1};
}

}  // namespace

void ReadScaleFactorsMpeg1(BitReader& r, const GranuleInfo& info, int32_t scfsi, int32_t granule,
                           const ScaleFactors& granule0, ScaleFactors& dest) {
  const auto [slen1, slen2] = SlenTable[static_cast<size_t>(info.ScalefacCompress & 15)];
  if (info.BlockType == 2) {
    if (info.MixedBlock != 0) {
      ReadLongBands(r, dest, 0, 8, slen1);
      ReadShortBands(r, dest, 3, 6, slen1);
    } else {
      ReadShortBands(r, dest, 0, 6, slen1);
    }
    ReadShortBands(r, dest, 6, 12, slen2);
    return;
  }
  if (granule == 0) {
    ReadLongBands(r, dest, 0, 11, slen1);
    ReadLongBands(r, dest, 11, 21, slen2);
    return;
  }
  // Granule 1: four groups, each either reused from granule 0 or read.
  constexpr std::array<int32_t, 5> GroupStart{0, 6, 11, 16, 21};
  for (int32_t group = 0; group < 4; ++group) {
    const int32_t first = GroupStart[group], end = GroupStart[group + 1];
    if ((scfsi >> (3 - group)) & 1) {
      for (int32_t b = first; b < end; ++b) dest[b] = granule0[b];
    } else {
      ReadLongBands(r, dest, first, end, group < 2 ? slen1 : slen2);
    }
  }
}

void ReadScaleFactorsLsf(BitReader& r, GranuleInfo& info, bool intensityRight,
                         IntensityInfo& intensity, ScaleFactors& dest) {
  LsfLayout layout = LsfLayoutOf(info.ScalefacCompress, intensityRight);
  const bool shortBlock = info.BlockType == 2;
  const bool mixed = shortBlock && info.MixedBlock != 0;
  if (mixed && layout.Table == 2) {
    // Table 2's mixed partitions (15 and 18 scale factors) read slen1, slen1, slen2.
    layout.Slen = {layout.Slen[0], layout.Slen[0], layout.Slen[1], 0};
  }
  const int32_t row = shortBlock ? (mixed ? MixedRow : ShortRow) : LongRow;
  const PartitionRow& sizes = PartitionTable[static_cast<size_t>(layout.Table)][row];
  if (intensityRight) {
    intensity.PartitionSizes = {sizes[0], sizes[1], sizes[2]};
    intensity.Slen = {layout.Slen[0], layout.Slen[1], layout.Slen[2]};
    intensity.IntensityScale = info.ScalefacCompress % 2;
  }
  info.Preflag = layout.Preflag;

  if (row == LongRow) {
    int32_t band = 0;
    for (int32_t p = 0; p < 4; ++p) {
      ReadLongBands(r, dest, band, band + sizes[p], layout.Slen[p]);
      band += sizes[p];
    }
  } else if (row == ShortRow) {
    int32_t band = 0;
    for (int32_t p = 0; p < 4; ++p) {
      ReadShortBands(r, dest, band, band + sizes[p], layout.Slen[p]);
      band += sizes[p];
    }
  } else {
    ReadLongBands(r, dest, 0, sizes[0], layout.Slen[0]);
    int32_t band = 3;
    for (int32_t p = 1; p < 4; ++p) {
      ReadShortBands(r, dest, band, band + sizes[p], layout.Slen[p]);
      band += sizes[p];
    }
  }
}

}  // namespace tunewell
