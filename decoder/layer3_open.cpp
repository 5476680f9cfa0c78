// The Layer III part of opening a stream (band tables of the stream's rate, line limits, derived
// tables, cleared buffers, drivers) and the frame dispatch.

#include <algorithm>

#include "decoder/decoder_state.h"
#include "decoder/layer3.h"
#include "decoder/layer3_open.h"
#include "decoder/layer3_tables.h"
#include "decoder/stream_setup.h"
#include "decoder/synthesis.h"

namespace tunewell {

namespace {

constexpr int32_t ReservedSampleRate = 3;
constexpr int32_t SingleChannelMode = 3;
constexpr int32_t MixDownOption = 1;

constexpr std::array<Layer3ChannelDriverFn, 5> ChannelDrivers{
    ChannelDriverMono, ChannelDriverStereo, ChannelDriverMixDown, ChannelDriverLeft,
    ChannelDriverRight};

}  // namespace

BandLayout MakeBandLayout(const BandBoundaries& row) {
  BandLayout bands{};
  for (int32_t i = 0; i < LongBandCount; ++i) {
    bands.LongEnds[i] = row.Long[i + 1];
    bands.LongWidths[i] = row.Long[i + 1] - row.Long[i];
  }
  for (int32_t i = 0; i < ShortBandCount; ++i) {
    bands.ShortEnds[i] = 3 * row.Short[i + 1];
    bands.ShortWidths[i] = row.Short[i + 1] - row.Short[i];
  }
  return bands;
}

int32_t Layer3Open(Layer3State& s, const Layer3OpenArguments& a) {
  s.MainData.Fill = 0;
  s.MainData.Start = 0;
  const TMPEGHeader& h = a.Header;
  // A reserved sampling index has no band table.
  if (h.LayerCode != LayerCodeIII || (h.SampleRateIndex & 3) == ReservedSampleRate) return 0;

  s.Mpeg1 = h.VersionId == 1;
  s.MixedLongBands = s.Mpeg1 ? 8 : 6;
  s.FrameLength = a.FrameLength;

  const int32_t set = s.Mpeg1 ? 0 : (h.SyncKind == 2 ? 2 : 1);
  const BandBoundaries& row =
      BandBoundaryTable[static_cast<size_t>(set)][static_cast<size_t>(h.SampleRateIndex & 3)];
  s.Bands = MakeBandLayout(row);
  // The lower sampling frequencies never decode long band 21 and short band 12.
  const int32_t lastLong = row.Long[s.Mpeg1 ? 22 : 21];
  const int32_t lastShort = row.Short[s.Mpeg1 ? 13 : 12];
  s.LineLimit = std::min(lastLong + 8, a.BandwidthSubbands * LinesPerSubband);
  s.LongLineLimit = std::min(lastLong, s.LineLimit);
  s.ShortLineLimit = std::min(3 * lastShort, s.LineLimit);
  s.OutputSubbandLimit = (s.LineLimit + 17) / LinesPerSubband;

  const bool twoChannels = h.Mode != SingleChannelMode;
  const int32_t option = a.ChannelOption & ChannelOptionMask;
  s.MixDownGainOffset = twoChannels && option == MixDownOption ? -4 : 0;
  const int32_t modeIndex = twoChannels ? option + 1 : 0;
  s.ChannelDriver = ChannelDrivers[static_cast<size_t>(modeIndex)];
  s.UsesSecondChannel = modeIndex == 1 || modeIndex == 2 || modeIndex == 4;
  s.PcmBytesPerFrame = a.PcmBytesPerFrame;
  s.SecondGranuleOffset = a.PcmBytesPerFrame / 4;
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

int32_t Layer3OpenStream(const TMPEGHeader& header, int32_t frameLength, int32_t downsampleShift,
                         uint8_t outputOptions, int32_t bandwidth) {
  TDecoderState& dec = TheDecoder;
  Layer3State& s = dec.Layer3;
  dec.Setup.FrameLength = frameLength;
  dec.Setup.DownsampleShift = ClampDownsampleShift(downsampleShift);
  dec.Setup.ChannelOption = outputOptions & ChannelOptionMask;
  const int32_t rate = StreamSampleRate(header);
  dec.Setup.BandwidthSubbands =
      BandwidthSubbandsFor(rate, ClampBandwidth(bandwidth), dec.Setup.DownsampleShift);

  const bool oneOutputChannel = header.Mode == SingleChannelMode || dec.Setup.ChannelOption != 0;
  const int32_t channels = oneOutputChannel ? 1 : 2;
  const int32_t samplesPerChannel =
      (header.VersionId == 1 ? 1152 : 576) >> dec.Setup.DownsampleShift;
  SetOutputFormat(channels, samplesPerChannel, rate, frameLength);
  dec.Routines.SynthesisDriver = channels == 2 ? SynthesizeLayer3Stereo : SynthesizeLayer3Mono;

  s.Synthesis = dec.Routines.SynthesisDriver;
  s.Routines = &dec.Routines.Layer3;
  s.LineGains = dec.Equalizer.LineGains.data();
  s.LineEqualizerOn = &dec.Equalizer.LineEqualizerOn;
  if (Layer3Open(s, {header, frameLength, dec.Setup.BandwidthSubbands, dec.Setup.ChannelOption,
                     dec.Setup.PcmBytesPerFrame, 0}) == 0) {
    return 0;
  }
  ResetSynthesis();
  return 1;
}

TDecodeResult Layer3DecodeFrame(const uint8_t* frame, uint32_t available, int16_t* pcm) {
  Layer3State& s = TheDecoder.Layer3;
  return s.FrameDriver(s, frame, available, pcm);
}

}  // namespace tunewell
