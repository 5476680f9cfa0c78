// The Layer III granule pipeline (scale factors, Huffman data, requantisation, stereo, alias
// reduction, line equalizer) and the five channel drivers that run the hybrid filterbank and hand
// each granule to the synthesis.

#include <algorithm>
#include <cstring>

#include "decoder/layer3_state.h"

namespace tunewell {

namespace {

constexpr int32_t ShortBlock = 2;
constexpr int32_t MaxAntialiasBoundaries = 31;

// Places the bit reader at this channel's part 2 data; returns the bits skipped to get there.
int32_t PositionMainData(Layer3State& s, const GranuleInfo& info) {
  BitReader& r = s.Reader;
  const int32_t position = s.MainDataBitPosition;
  uint8_t* bytes = s.MainData.Bytes.data();
  r.StartAt(bytes + position / 8, bytes + s.MainData.Fill);
  const int32_t skipped = position % 8;
  r.Read(skipped);
  s.MainDataBitPosition = position + info.Part2_3Length;
  r.End = bytes + (s.MainDataBitPosition + 39) / 8;
  return skipped;
}

int32_t RegionStart(const BandLayout& layout, int32_t band, int32_t bigLines) {
  return std::min(layout.LongEnds[static_cast<size_t>(std::min(band, LongBandCount - 1))],
                  bigLines);
}

// Huffman decoding of one channel into s.Quantised; returns the count of lines that may be
// non-zero.
int32_t DecodeSpectrum(Layer3State& s, const GranuleInfo& info, int32_t skipped) {
  BitReader& r = s.Reader;
  int32_t* q = s.Quantised.data();
  const int32_t bigLines = std::min(2 * info.BigValues, s.LineLimit);
  const int32_t region1 = RegionStart(s.Bands, info.Region0Count, bigLines);
  const int32_t region2 = RegionStart(s.Bands, info.Region0Count + info.Region1Count + 1, bigLines);
  DecodeBigValues(r, q, region1, info.TableSelect[0]);
  DecodeBigValues(r, q + region1, region2 - region1, info.TableSelect[1]);
  DecodeBigValues(r, q + region2, bigLines - region2, info.TableSelect[2]);
  const int32_t bitsLeft = info.Part2_3Length - (r.BitPosition() - skipped);
  const int32_t count1 =
      DecodeCount1(r, q + bigLines, s.LineLimit - bigLines, bitsLeft, info.Count1TableSelect);
  return bigLines + count1;
}

void DecodeChannel(Layer3State& s, int32_t g, int32_t c, bool mpeg1) {
  GranuleInfo& info = s.Granules[g][c];
  const int32_t skipped = PositionMainData(s, info);
  ScaleFactors& sf = s.ScaleFactorSets[g][c];
  if (mpeg1) {
    ReadScaleFactorsMpeg1(s.Reader, info, s.Side.Scfsi[c], g, s.ScaleFactorSets[0][c], sf);
  } else {
    ReadScaleFactorsLsf(s.Reader, info, c == 1 && s.Side.Intensity, s.Intensity, sf);
  }
  int32_t count = DecodeSpectrum(s, info, skipped);
  const int32_t limit = info.BlockType == ShortBlock ? s.ShortLineLimit : s.LongLineLimit;
  const int32_t cleared = s.Reader.Overran() ? 0 : std::min(count, limit);
  std::fill(s.Quantised.begin() + cleared, s.Quantised.end(), 0);
  Requantise(s.Requantise, s.Bands, s.MixedLongBands, info, sf, s.Quantised.data(),
             s.SpectrumBuffers[c][g].data(), count, s.BandInfos[g][c]);
  s.LineCounts[g][c] = count;
}

// A single-channel frame in a stream opened with two channels plays on both.
void CopyToSecondChannel(Layer3State& s, int32_t g) {
  s.Granules[g][1] = s.Granules[g][0];
  s.BandInfos[g][1] = s.BandInfos[g][0];
  s.LineCounts[g][1] = s.LineCounts[g][0];
  s.SpectrumBuffers[1][g] = s.SpectrumBuffers[0][g];
}

void Stereo(Layer3State& s, int32_t g, bool mpeg1) {
  float* left = s.SpectrumBuffers[0][g].data();
  float* right = s.SpectrumBuffers[1][g].data();
  auto& counts = s.LineCounts[g];
  if (s.Side.MidSide) {
    const int32_t lines = s.Side.Intensity ? IntensityStartLine(s.Bands, s.BandInfos[g][1])
                                           : std::max(counts[0], counts[1]);
    MidSide(left, right, lines);
  }
  if (s.Side.Intensity) {
    if (mpeg1) {
      IntensityMpeg1(s.Requantise, s.Bands, s.Side.MidSide, s.ScaleFactorSets[g][1],
                     s.BandInfos[g][1], counts[0], left, right);
    } else {
      IntensityLsf(s.Requantise, s.Bands, s.Side.MidSide, s.Intensity, s.ScaleFactorSets[g][1],
                   s.BandInfos[g][0], s.BandInfos[g][1], counts[0], left, right);
    }
  }
  if (s.Side.ModeExtension != 0) counts[0] = counts[1] = std::max(counts[0], counts[1]);
}

void ReduceAliases(Layer3State& s, int32_t g, int32_t c) {
  const BandInfo& bands = s.BandInfos[g][c];
  if (bands.LongBands == 0) return;
  int32_t& count = s.LineCounts[g][c];
  const int32_t boundaries =
      s.Granules[g][c].MixedBlock != 0 && s.Granules[g][c].BlockType == ShortBlock
          ? 1
          : std::min((count + 7) / 18, MaxAntialiasBoundaries);
  s.Routines->AntialiasRoutine(s.SpectrumBuffers[c][g].data(), boundaries);
  count = std::max(count, 18 * boundaries + 8);
}

void EqualizeLines(Layer3State& s, int32_t g, int32_t c) {
  float* lines = s.SpectrumBuffers[c][g].data();
  const int32_t count = s.LineCounts[g][c];
  for (int32_t i = 0; i < count; ++i) lines[i] *= s.LineGains[i];
}

int32_t WindowSelection(const GranuleInfo& info) {
  return info.BlockType | (info.MixedBlock != 0 ? MixedBlockWindows : 0);
}

HybridContext ContextOf(const Layer3State& s) {
  return {&s.Hybrid, s.Routines->Imdct36Routine, s.Routines->Imdct12Routine, s.OutputSubbandLimit};
}

int32_t LongLinesOf(const Layer3State& s, const GranuleInfo& info, int32_t shortLines) {
  if (info.BlockType != ShortBlock) return shortLines;
  return info.MixedBlock != 0 ? s.Bands.LongEnds[static_cast<size_t>(s.MixedLongBands - 1)] : 0;
}

// One channel's hybrid pass with the limits of the back end; the count becomes the overlap count.
int32_t HybridPass(Layer3State& s, int32_t g, int32_t c) {
  const GranuleInfo& info = s.Granules[g][c];
  const int32_t shortLines = std::min(s.LineCounts[g][c], s.LineLimit);
  const int32_t longLines = std::min(LongLinesOf(s, info, shortLines), s.LineLimit);
  const int32_t result = s.Routines->HybridRoutine(
      ContextOf(s), s.SpectrumBuffers[c][g].data(), s.SpectrumBuffers[c][g ^ 1].data(),
      s.HybridOutput.data(), WindowSelection(info), static_cast<uint32_t>(longLines),
      static_cast<uint32_t>(shortLines), static_cast<uint32_t>(s.LineCounts[g ^ 1][c]));
  s.LineCounts[g][c] = result;
  return result;
}

void SingleChannel(Layer3State& s, int16_t* pcm, int32_t g, int32_t c) {
  const int32_t count = HybridPass(s, g, c);
  InvertOddSubbands(s.HybridOutput.data(), count);
  s.Synthesis(s.HybridOutput.data(), pcm, 0);
}

}  // namespace

void GranuleDecode(Layer3State& s, int16_t* pcm, int32_t g) {
  const int32_t channels = s.Side.Channels;
  for (int32_t c = 0; c < channels; ++c) DecodeChannel(s, g, c, s.Mpeg1);
  if (channels == 2) Stereo(s, g, s.Mpeg1);
  for (int32_t c = 0; c < channels; ++c) {
    ReduceAliases(s, g, c);
    if (s.LineEqualizerOn != nullptr && *s.LineEqualizerOn != 0) EqualizeLines(s, g, c);
  }
  if (channels == 1 && s.UsesSecondChannel) CopyToSecondChannel(s, g);
  s.ChannelDriver(s, pcm, g);
}

void ChannelDriverMono(Layer3State& s, int16_t* pcm, int32_t g) {
  SingleChannel(s, pcm, g, 0);
}

void ChannelDriverLeft(Layer3State& s, int16_t* pcm, int32_t g) {
  SingleChannel(s, pcm, g, 0);
}

void ChannelDriverRight(Layer3State& s, int16_t* pcm, int32_t g) {
  SingleChannel(s, pcm, g, 1);
}

void ChannelDriverStereo(Layer3State& s, int16_t* pcm, int32_t g) {
  for (int32_t c = 0; c < 2; ++c) {
    const int32_t count = HybridPass(s, g, c);
    InvertOddSubbands(s.HybridOutput.data(), count);
    s.Synthesis(s.HybridOutput.data(), pcm, c);
  }
}

void ChannelDriverMixDown(Layer3State& s, int16_t* pcm, int32_t g) {
  const GranuleInfo& first = s.Granules[g][0];
  const GranuleInfo& second = s.Granules[g][1];
  auto& counts = s.LineCounts[g];
  float* out = s.HybridOutput.data();
  int32_t n;
  if (first.BlockType == second.BlockType && first.MixedBlock == 0 && second.MixedBlock == 0) {
    // Same transform for both: add the spectra and transform once.
    const int32_t shortLines = std::min(std::max(counts[0], counts[1]), s.LineLimit);
    const int32_t longLines = first.BlockType == ShortBlock ? 0 : shortLines;
    AddSpectrum(s.SpectrumBuffers[0][g].data(), s.SpectrumBuffers[1][g].data(), shortLines);
    n = s.Routines->HybridRoutine(
        ContextOf(s), s.SpectrumBuffers[0][g].data(), s.SpectrumBuffers[0][g ^ 1].data(), out,
        first.BlockType, static_cast<uint32_t>(longLines), static_cast<uint32_t>(shortLines),
        static_cast<uint32_t>(s.LineCounts[g ^ 1][0]));
    counts[0] = n;
  } else {
    n = s.Routines->HybridRoutine(
        ContextOf(s), s.SpectrumBuffers[0][g].data(), s.SpectrumBuffers[0][g ^ 1].data(), out,
        WindowSelection(first), static_cast<uint32_t>(LongLinesOf(s, first, counts[0])),
        static_cast<uint32_t>(counts[0]), static_cast<uint32_t>(s.LineCounts[g ^ 1][0]));
    counts[0] = n;
    counts[1] = HybridAddSecond(ContextOf(s), s.SpectrumBuffers[1][g].data(),
                                s.SpectrumBuffers[0][g].data(), out, WindowSelection(second),
                                static_cast<uint32_t>(LongLinesOf(s, second, counts[1])),
                                static_cast<uint32_t>(counts[1]));
    n = std::max(n, counts[1]);
  }
  InvertOddSubbands(out, n);
  s.Synthesis(out, pcm, 0);
}

}  // namespace tunewell
