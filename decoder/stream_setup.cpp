// Stream open, output format and frame dispatch.

#include "decoder/stream_setup.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "decoder/decoder_state.h"
#include "decoder/layer12.h"
#include "decoder/layer3.h"

namespace tunewell {

namespace {

constexpr int32_t MinBandwidth = 1000;
constexpr int32_t MaxDownsampleShift = 2;

// LayerRoutine by LayerCode; the reserved code 0 decodes as Layer II.
constexpr std::array<TLayerRoutine, 4> LayerRoutines{Layer2DecodeFrame, Layer3DecodeFrame,
                                                     Layer2DecodeFrame, Layer1DecodeFrame};

}  // namespace

int32_t ClampDownsampleShift(int32_t shift) {
  return std::clamp(shift, 0, MaxDownsampleShift);
}

int32_t ClampBandwidth(int32_t bandwidth) {
  return std::max(bandwidth, MinBandwidth);
}

int32_t StreamSampleRate(const TMPEGHeader& header) {
  static constexpr std::array<std::array<int32_t, 4>, 2> rates{{
      {22050, 24000, 16000, 1},
      {44100, 48000, 32000, 1},
  }};
  const int32_t rate = rates[static_cast<size_t>(header.VersionId & 1)]
                            [static_cast<size_t>(header.SampleRateIndex & 3)];
  const bool mpeg25Layer3 = header.LayerCode == LayerCodeIII && header.SyncKind == 2;
  return mpeg25Layer3 && rate > 1 ? rate / 2 : rate;
}

int32_t BandwidthSubbandsFor(int32_t sampleRate, int32_t bandwidth, int32_t downsampleShift) {
  const int64_t f = sampleRate;
  const int64_t n = (int64_t{bandwidth} * 64 + f / 2) / f;
  int32_t cap = SubbandCount >> downsampleShift;
  if (cap > 8) --cap;
  return static_cast<int32_t>(std::min<int64_t>(n, cap));
}

void SetOutputFormat(int32_t channels, int32_t samplesPerChannel, int32_t sampleRate,
                     int32_t frameLength) {
  const int32_t shift = TheDecoder.Setup.DownsampleShift;
  TDecoderOutputFormat& format = TheDecoder.Format;
  format.Channels = channels;
  format.SamplesPerFrame = samplesPerChannel * channels;
  format.SampleRate = sampleRate >> shift;
  format.BitsPerSample = 16;
  format.FrameLength = frameLength;
  format.Reserved = 0;
  TheDecoder.Setup.PcmBytesPerFrame = format.SamplesPerFrame * 2;
}

int32_t DecoderOpenStream(const TMPEGHeader& header, int32_t frameLength, int32_t downsampleShift,
                          int32_t /*reserved*/, uint8_t outputOptions, int32_t bandwidth) {
  BuildLayer12Tables();
  TheDecoder.Setup.StreamReady = false;
  const int32_t layerCode = header.LayerCode & 3;
  TheDecoder.Routines.LayerRoutine = LayerRoutines[static_cast<size_t>(layerCode)];
  // Only the full-rate 16-bit drivers exist.
  if (ClampDownsampleShift(downsampleShift) != 0 || (outputOptions & EightBitOutput) != 0) {
    return 0;
  }
  int32_t result = 0;
  switch (layerCode) {
    case LayerCodeI:
      result = Layer1OpenStream(header, frameLength, downsampleShift, outputOptions, bandwidth);
      break;
    case LayerCodeIII:
      result = Layer3OpenStream(header, frameLength, downsampleShift, outputOptions, bandwidth);
      break;
    default:
      result = Layer2OpenStream(header, frameLength, downsampleShift, outputOptions, bandwidth);
      break;
  }
  TheDecoder.Setup.StreamReady = result == 1;
  return result;
}

void DecoderGetOutputFormat(TDecoderOutputFormat& format) {
  format = TheDecoder.Format;
}

TDecodeResult DecoderDecodeFrame(const uint8_t* frame, uint32_t available, void* pcm) {
  const TRoutineSlots& slots = TheDecoder.Routines;
  // Calling rules broken (no successful open, no routine selection): decode nothing.
  if (!TheDecoder.Setup.StreamReady || slots.SynthMonoRoutine == nullptr) return {0, 0};
  return slots.LayerRoutine(frame, available, static_cast<int16_t*>(pcm));
}

}  // namespace tunewell
