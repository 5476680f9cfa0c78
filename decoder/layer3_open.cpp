// The Layer III part of opening a stream: band tables of the stream's rate, line limits,
// derived tables, cleared buffers and the drivers.

#include <algorithm>

#include "decoder/layer3_open.h"
#include "decoder/layer3_tables.h"

namespace tunewell {

namespace {

constexpr int32_t LayerIIICode = 1;
constexpr int32_t ReservedSampleRate = 3;

void CopyBands(const BandBoundaries& row, BandLayout& bands) {
  for (int32_t i = 0; i < LongBandCount; ++i) {
    bands.LongEnds[i] = row.Long[i + 1];
    bands.LongWidths[i] = row.Long[i + 1] - row.Long[i];
  }
  for (int32_t i = 0; i < ShortBandCount; ++i) {
    bands.ShortEnds[i] = 3 * row.Short[i + 1];
    bands.ShortWidths[i] = row.Short[i + 1] - row.Short[i];
  }
}

constexpr std::array<Layer3ChannelDriverFn, 5> ChannelDrivers{
    ChannelDriverMono, ChannelDriverStereo, ChannelDriverMixDown, ChannelDriverLeft,
    ChannelDriverRight};

}  // namespace

int32_t Layer3Open(Layer3State& s, const Layer3OpenArguments& a) {
  s.MainData.Fill = 0;
  s.MainData.Start = 0;
  const TMPEGHeader& h = a.Header;
  // A reserved sampling index has no band table.
  if (h.LayerCode != LayerIIICode || h.SampleRateIndex == ReservedSampleRate) return 0;

  s.Mpeg1 = h.VersionId == 1;
  s.MixedLongBands = s.Mpeg1 ? 8 : 6;
  s.FrameLength = a.FrameLength;

  const int32_t set = s.Mpeg1 ? 0 : (h.SyncKind == 2 ? 2 : 1);
  const BandBoundaries& row =
      BandBoundaryTable[static_cast<size_t>(set)][static_cast<size_t>(h.SampleRateIndex)];
  CopyBands(row, s.Bands);
  const int32_t lastLong = row.Long[s.Mpeg1 ? 22 : 21];
  const int32_t lastShort = row.Short[s.Mpeg1 ? 13 : 12];
  s.LineLimit = std::min(lastLong + 8, a.BandwidthSubbands * LinesPerSubband);
  s.LongLineLimit = std::min(lastLong, s.LineLimit);
  s.ShortLineLimit = std::min(3 * lastShort, s.LineLimit);
  s.OutputSubbandLimit = (s.LineLimit + 17) / LinesPerSubband;

  const bool twoChannels = h.Mode != 3;
  s.MixDownGainOffset = twoChannels && a.ChannelOption == 1 ? -4 : 0;
  const int32_t modeIndex = twoChannels ? (a.ChannelOption & 3) + 1 : 0;
  s.ChannelDriver = ChannelDrivers[static_cast<size_t>(modeIndex)];
  s.UsesSecondChannel = modeIndex == 1 || modeIndex == 2 || modeIndex == 4;
  s.PcmBytesPerFrame = a.PcmBytesPerFrame;
  s.SecondGranuleOffset = a.PcmBytesPerFrame / 2;
  s.SilenceValue = a.SilenceValue;

  BuildRequantiseTables(s.Requantise);
  BuildHybridTables(s.Hybrid);
  s.HybridOutput.fill(0.0f);
  for (auto& channel : s.SpectrumBuffers) {
    for (auto& buffer : channel) buffer.fill(0.0f);
  }
  s.FrameDriver = s.Mpeg1 ? Layer3FrameDriverMpeg1 : Layer3FrameDriverLsf;
  return 1;
}

}  // namespace tunewell
