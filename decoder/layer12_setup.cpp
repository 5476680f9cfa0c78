// Layers I and II: tables built once per process, allocation-table choice and the stream opens.

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstddef>

#include "decoder/decoder_state.h"
#include "decoder/layer12.h"
#include "decoder/layer12_tables.h"
#include "decoder/stream_setup.h"
#include "decoder/synthesis.h"

namespace tunewell {

namespace {

constexpr std::array<int32_t, 18> LayerIILevels{
    0, 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};

constexpr int32_t SingleChannelMode = 3;

// The three base-`levels` digits of every code, least significant first, centred on 0.
template <size_t Codes>
void BuildGrouping(std::array<std::array<float, 3>, Codes>& table, int32_t levels) {
  for (size_t code = 0; code < Codes; ++code) {
    auto rest = static_cast<int32_t>(code);
    for (float& digit : table[code]) {
      digit = static_cast<float>(rest % levels - (levels - 1) / 2);
      rest /= levels;
    }
  }
}

void BuildLayerITables() {
  TLayer12State& l12 = TheDecoder.Layer12;
  if (l12.LayerITablesBuilt) return;
  for (int32_t a = 1; a < 16; ++a) {
    l12.LayerIFactors[static_cast<size_t>(a)] = static_cast<float>(2.0 / ((2 << a) - 1));
  }
  l12.LayerITablesBuilt = true;
}

// Shared end of both opens: slot layout, synthesis driver, output format, cleared buffers.
int32_t FinishOpen(const TMPEGHeader& header, int32_t codedSubbands, int32_t samplesPerChannel,
                   uint8_t outputOptions, int32_t bandwidth) {
  TDecoderState& dec = TheDecoder;
  TLayer12State& l12 = dec.Layer12;
  const bool twoChannels = header.Mode != SingleChannelMode;
  const int32_t width = twoChannels ? 2 : 1;
  const int32_t subbands =
      std::min(BandwidthSubbandsFor(StreamSampleRate(header), bandwidth, dec.Setup.DownsampleShift),
               codedSubbands);
  l12.Channels = width;
  l12.CodedSlots = codedSubbands * width;
  for (int32_t& size : l12.GroupSlots) size *= width;
  dec.Setup.BandwidthSubbands = subbands * width;
  dec.Setup.ChannelOption = outputOptions & ChannelOptionMask;

  const int32_t modeIndex = twoChannels ? dec.Setup.ChannelOption + 1 : 0;
  dec.Routines.SynthesisDriver = Layer12SynthesisDriver(modeIndex);
  const int32_t outputChannels = modeIndex == 1 ? 2 : 1;
  SetOutputFormat(outputChannels, samplesPerChannel, StreamSampleRate(header),
                  dec.Setup.FrameLength);
  l12.Samples.fill(0.0f);
  ResetSynthesis();
  return 1;
}

void StoreCommonSetup(int32_t frameLength, int32_t downsampleShift) {
  TheDecoder.Setup.FrameLength = frameLength;
  TheDecoder.Setup.DownsampleShift = ClampDownsampleShift(downsampleShift);
}

}  // namespace

void BuildLayer12Tables() {
  TLayer12State& l12 = TheDecoder.Layer12;
  if (l12.TablesBuilt) return;
  for (size_t k = 1; k < LayerIILevels.size(); ++k) {
    l12.LayerIIFactors[k] = static_cast<float>(2.0 / LayerIILevels[k]);
  }
  for (size_t i = 0; i < l12.ScaleFactors.size(); ++i) {
    l12.ScaleFactors[i] = static_cast<float>(std::exp2(-static_cast<double>(i) / 3.0) * 65536.0);
  }
  BuildGrouping(l12.Grouped3, 3);
  BuildGrouping(l12.Grouped5, 5);
  BuildGrouping(l12.Grouped9, 9);
  l12.TablesBuilt = true;
}

int32_t Layer2AllocationTableFor(const TMPEGHeader& header) {
  if (header.VersionId != 1) return AllocTableLower;
  const int32_t rate = header.SampleRateIndex & 3;
  const int32_t small = rate == 2 ? AllocTableD : AllocTableC;  // 32000 Hz : otherwise
  const int32_t large = rate == 1 ? AllocTableA : AllocTableB;  // 48000 Hz : otherwise
  const int32_t index = header.BitrateIndex & 15;
  if (header.Mode != SingleChannelMode) {
    switch (index) {
      case 1:
      case 2:
      case 3:
      case 5:
      case 15:
        return -1;
      case 4:
      case 6:
        return small;
      case 7:
      case 8:
      case 9:
        return AllocTableA;
      default:
        return large;
    }
  }
  if (index >= 11) return -1;
  if (index == 1 || index == 2) return small;
  if (index >= 3 && index <= 5) return AllocTableA;
  return large;
}

int32_t JointBoundSlots(int32_t mode, int32_t modeExtension) {
  if (mode == 1) return 8 * ((modeExtension & 3) + 1);
  if (mode == SingleChannelMode) return SubbandCount;
  return MaxSlots;
}

int32_t Layer12ConsumedBytes(int32_t paddingBytes) {
  const int64_t consumed = int64_t{TheDecoder.Setup.FrameLength} + paddingBytes;
  return static_cast<int32_t>(std::min<int64_t>(consumed, INT32_MAX));
}

bool ReadLayer12Header(TBitReader& bits, TLayer12FrameHeader& header) {
  if (bits.Read(12) != 0xFFF) return false;
  bits.Read(3);  // version and layer: the open's
  const uint32_t protectionBit = bits.Read(1);
  bits.Read(6);  // bit rate and sampling index: the open's
  header.PaddingBit = static_cast<int32_t>(bits.Read(1));
  bits.Read(1);
  const uint32_t mode = bits.Read(2);
  const uint32_t modeExtension = bits.Read(2);
  bits.Read(protectionBit != 0 ? 4 : 20);  // flags, emphasis and the CRC, never verified
  header.JointBound =
      JointBoundSlots(static_cast<int32_t>(mode), static_cast<int32_t>(modeExtension));
  return true;
}

int32_t Layer1OpenStream(const TMPEGHeader& header, int32_t frameLength, int32_t downsampleShift,
                         uint8_t outputOptions, int32_t bandwidth) {
  BuildLayerITables();
  StoreCommonSetup(frameLength, downsampleShift);
  TheDecoder.Layer12.GroupSlots = {SubbandCount, 0, 0, 0};
  return FinishOpen(header, SubbandCount, 384 >> TheDecoder.Setup.DownsampleShift, outputOptions,
                    ClampBandwidth(bandwidth));
}

int32_t Layer2OpenStream(const TMPEGHeader& header, int32_t frameLength, int32_t downsampleShift,
                         uint8_t outputOptions, int32_t bandwidth) {
  StoreCommonSetup(frameLength, downsampleShift);
  if ((header.SampleRateIndex & 3) == 3) return 0;
  const int32_t table = Layer2AllocationTableFor(header);
  if (table < 0) return 0;
  TLayer12State& l12 = TheDecoder.Layer12;
  l12.AllocationTable = table;
  int32_t coded = 0;
  for (size_t g = 0; g < l12.GroupSlots.size(); ++g) {
    l12.GroupSlots[g] = AllocationTables[static_cast<size_t>(table)].Groups[g].Size;
    coded += l12.GroupSlots[g];
  }
  return FinishOpen(header, coded, 1152 >> TheDecoder.Setup.DownsampleShift, outputOptions,
                    ClampBandwidth(bandwidth));
}

}  // namespace tunewell
