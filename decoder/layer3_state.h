#pragma once
// Layer III decoder state and the stages that work on it. One instance lives in the decoder
// state; each stage is in its own file:
//   layer3_side_info.cpp     side information, bit reservoir, frame drivers
//   layer3_scale_factors.cpp scale factors (MPEG-1 and the lower sampling frequencies)
//   layer3_huffman.cpp       big values and count1
//   layer3_requantise.cpp    requantisation, short-block reordering
//   layer3_stereo.cpp        mid/side and intensity stereo
//   layer3_hybrid.cpp        alias reduction, IMDCT, windows, overlap, frequency inversion
//   layer3_granule.cpp       the granule pipeline and the five channel drivers
//   layer3_open.cpp          the Layer III part of opening a stream, the frame dispatch

#include <array>
#include <cstddef>
#include <cstdint>

#include "decoder/MP3decdr.h"
#include "decoder/layer3_bit_reader.h"

namespace tunewell {

constexpr int32_t LinesPerGranule = 576;
constexpr int32_t LinesPerSubband = 18;
constexpr int32_t LongBandCount = 22;
constexpr int32_t ShortBandCount = 13;
constexpr int32_t ReservoirSize = 8192;
constexpr int32_t ReservoirCompactThreshold = 6692;
// Read positions can run past the bytes held by at most four part2_3_lengths; the tail keeps
// every pointer inside the buffer (bytes past the fill read as zero).
constexpr int32_t ReservoirTail = 4096;

using Spectrum = std::array<float, LinesPerGranule>;

struct FrameSideInfo {
  int32_t Version, SamplingIndex, BitrateIndex, Padding, Mode, ModeExtension;
  bool MidSide, Intensity;
  int32_t CrcBytes, MainDataBegin, Channels;
  std::array<int32_t, 2> Scfsi;
};

struct GranuleInfo {
  int32_t Part2_3Length, BigValues, GlobalGain, ScalefacCompress, WindowSwitching, BlockType,
      MixedBlock;
  std::array<int32_t, 3> TableSelect;
  std::array<int32_t, 3> SubblockGain;
  int32_t Region0Count, Region1Count, Preflag, ScalefacScale, Count1TableSelect;
};

// Long bands in 0 ... 21, short band b of window w at ShortScaleFactorBase + 13 w + b.
constexpr int32_t ShortScaleFactorBase = 23;
using ScaleFactors = std::array<int32_t, 62>;

constexpr int32_t ShortScaleFactor(int32_t window, int32_t band) {
  return ShortScaleFactorBase + 13 * window + band;
}

struct IntensityInfo {
  std::array<int32_t, 3> PartitionSizes;
  std::array<int32_t, 3> Slen;
  int32_t IntensityScale;
};

// No non-zero band at all: intensity then starts at the first band.
constexpr int32_t NoNonZeroBand = -1;

struct BandInfo {
  int32_t BlockKind;        // 0 long, 1 short or mixed
  int32_t LastNonZeroBand;  // NoNonZeroBand, or a long / short band
  int32_t FirstShortBand;   // 12 for long blocks, 0 short, 3 mixed
  int32_t LongBands;        // 22, 0 or MixedLongBands
  std::array<int32_t, 3> LastNonZeroShortBand;
};

struct Reservoir {
  std::array<uint8_t, ReservoirSize + ReservoirTail> Bytes{};
  int32_t Fill = 0;
  int32_t Start = 0;
};

// The per-stream band layout of one sampling frequency.
struct BandLayout {
  std::array<int32_t, LongBandCount> LongEnds, LongWidths;
  std::array<int32_t, ShortBandCount> ShortEnds, ShortWidths;  // ends in interleaved lines
};

// Tables derived at every Layer III open.
struct RequantiseTables {
  std::array<float, 262> Gain;
  std::array<std::array<std::array<float, 32>, 4>, 2> ScaleMultiplier;  // [scale][pretab][sf]
  std::array<float, 64> Power;                                          // x + 32
  std::array<float, 8> SubblockGain;
  std::array<std::array<std::array<float, 2>, 8>, 2> IntensityRatio;  // [ms][is_pos] (kL, kR)
  std::array<std::array<std::array<std::array<float, 2>, 63>, 2>, 2> LsfIntensity;  // [s][ms]
};

// The windows of block types 0 ... 3, with the signs the folded kernel outputs need.
struct HybridTables {
  std::array<std::array<float, 36>, 4> Windows;
};

// Routine slots of the hybrid filterbank (portable members in layer3_hybrid.cpp).
using AntialiasRoutineFn = void (*)(float* lines, int32_t boundaries);
using Imdct36RoutineFn = void (*)(float* values);
using Imdct12RoutineFn = void (*)(float* values);
struct HybridContext;
// Added to a hybrid pass's block type when the mixed-block flag is set: the two lowest subbands
// then use the normal window whatever the block type.
constexpr int32_t MixedBlockWindows = 4;
using HybridRoutineFn = int32_t (*)(const HybridContext& context, float* spectrum,
                                    const float* overlap, float* out, int32_t blockType,
                                    uint32_t longLines, uint32_t shortLines, uint32_t overlapLines);

struct Layer3Routines {
  AntialiasRoutineFn AntialiasRoutine;
  HybridRoutineFn HybridRoutine;
  Imdct36RoutineFn Imdct36Routine;
  Imdct12RoutineFn Imdct12Routine;
};

// What a hybrid pass needs besides its buffers.
struct HybridContext {
  const HybridTables* Tables;
  Imdct36RoutineFn Imdct36;
  Imdct12RoutineFn Imdct12;
  int32_t OutputSubbandLimit;
};

// Hands one granule of one output channel (18 time slots x 32 subbands, time-major) to the
// polyphase synthesis; channel 1 is the right channel of interleaved stereo output.
using Layer3SynthesisFn = void (*)(const float* samples, int16_t* pcm, int32_t channel);

struct Layer3State;
using Layer3FrameDriverFn = TDecodeResult (*)(Layer3State&, const uint8_t* frame,
                                              uint32_t available, int16_t* pcm);
using Layer3ChannelDriverFn = void (*)(Layer3State&, int16_t* pcm, int32_t granule);

struct Layer3State {
  // Set by the open.
  bool Mpeg1 = true;
  bool UsesSecondChannel = false;  // the channel driver transforms channel 1
  int32_t FrameLength = 0;
  int32_t MixedLongBands = 8;
  int32_t LineLimit = 0, LongLineLimit = 0, ShortLineLimit = 0, OutputSubbandLimit = 0;
  int32_t MixDownGainOffset = 0;
  uint8_t SilenceValue = 0;
  int32_t PcmBytesPerFrame = 0;
  int32_t SecondGranuleOffset = 0;  // in samples
  BandLayout Bands{};
  RequantiseTables Requantise{};
  HybridTables Hybrid{};
  Layer3FrameDriverFn FrameDriver = nullptr;
  Layer3ChannelDriverFn ChannelDriver = nullptr;
  Layer3SynthesisFn Synthesis = nullptr;
  const Layer3Routines* Routines = nullptr;
  const float* LineGains = nullptr;  // the line equalizer, applied when LineEqualizerOn is set
  const int32_t* LineEqualizerOn = nullptr;

  // Frame by frame.
  BitReader Reader;
  FrameSideInfo Side{};
  std::array<std::array<GranuleInfo, 2>, 2> Granules{};          // [granule][channel]
  std::array<std::array<ScaleFactors, 2>, 2> ScaleFactorSets{};  // [granule][channel]
  IntensityInfo Intensity{};
  std::array<std::array<BandInfo, 2>, 2> BandInfos{};  // [granule][channel]
  std::array<std::array<int32_t, 2>, 2> LineCounts{};  // [granule][channel]
  Reservoir MainData;
  int32_t MainDataBitPosition = 0;
  int32_t GranuleSlot = 0;

  alignas(64) std::array<std::array<Spectrum, 2>, 2> SpectrumBuffers{};  // [channel][granule]
  alignas(64) std::array<float, LinesPerGranule> HybridOutput{};
  std::array<int32_t, LinesPerGranule> Quantised{};
};

// layer3_side_info.cpp: the frame drivers reached through Layer3State::FrameDriver.
// `available` bytes are readable from `frame`; bytes of the frame past them read as zeros.
TDecodeResult Layer3FrameDriverMpeg1(Layer3State& s, const uint8_t* frame, uint32_t available,
                                     int16_t* pcm);
TDecodeResult Layer3FrameDriverLsf(Layer3State& s, const uint8_t* frame, uint32_t available,
                                   int16_t* pcm);
// Reads the side information after the 12 sync bits; the result is the size of header and side
// information in bytes. The lower-frequency form reads granule `slot` only.
int32_t ReadSideInfo(BitReader& reader, bool mpeg1, int32_t mixDownGainOffset, int32_t slot,
                     FrameSideInfo& side, std::array<std::array<GranuleInfo, 2>, 2>& granules);

// layer3_scale_factors.cpp
void ReadScaleFactorsMpeg1(BitReader& reader, const GranuleInfo& info, int32_t scfsi,
                           int32_t granule, const ScaleFactors& granule0, ScaleFactors& dest);
void ReadScaleFactorsLsf(BitReader& reader, GranuleInfo& info, bool intensityRight,
                         IntensityInfo& intensity, ScaleFactors& dest);

// layer3_huffman.cpp
void DecodeBigValues(BitReader& reader, int32_t* dest, int32_t lines, int32_t tableSelect);
// Returns the number of lines from dest up to and including the last non-zero value.
int32_t DecodeCount1(BitReader& reader, int32_t* dest, int32_t lines, int32_t bitsLeft,
                     int32_t tableSelect);

// layer3_requantise.cpp
void BuildRequantiseTables(RequantiseTables& tables);
// Turns the Huffman integers into spectral values (short blocks interleaved by window), fills
// `spectrum` with zeros above them and records the bands in `bands`.
void Requantise(const RequantiseTables& tables, const BandLayout& layout, int32_t mixedLongBands,
                const GranuleInfo& info, const ScaleFactors& scaleFactors, const int32_t* quantised,
                float* spectrum, int32_t& lineCount, BandInfo& bands);

// layer3_stereo.cpp
void MidSide(float* channel0, float* channel1, int32_t lines);
int32_t IntensityStartLine(const BandLayout& layout, const BandInfo& right);
void IntensityMpeg1(const RequantiseTables& tables, const BandLayout& layout, bool midSide,
                    const ScaleFactors& rightScaleFactors, const BandInfo& right,
                    int32_t leftLineCount, float* left, float* rightLines);
void IntensityLsf(const RequantiseTables& tables, const BandLayout& layout, bool midSide,
                  const IntensityInfo& intensity, const ScaleFactors& rightScaleFactors,
                  const BandInfo& leftBands, const BandInfo& right, int32_t leftLineCount,
                  float* left, float* rightLines);

// layer3_hybrid.cpp
void BuildHybridTables(HybridTables& tables);
extern const Layer3Routines PortableLayer3Routines;
void AntialiasPortable(float* lines, int32_t boundaries);
void Imdct36Portable(float* values);
void Imdct12Portable(float* values);
int32_t HybridPortable(const HybridContext& context, float* spectrum, const float* overlap,
                       float* out, int32_t blockType, uint32_t longLines, uint32_t shortLines,
                       uint32_t overlapLines);
int32_t HybridAddSecond(const HybridContext& context, float* spectrum, float* overlapAccumulator,
                        float* out, int32_t blockType, uint32_t longLines, uint32_t shortLines);
void InvertOddSubbands(float* out, int32_t count);

// The coefficients the members share: cs0, ca0, cs1, ca1, ... of alias reduction, and the
// cosines of the two kernels' type-IV transforms, [input][output].
const float* AntialiasCoefficientPairs();
const std::array<std::array<double, 18>, 18>& LongKernelCosines();
const std::array<std::array<double, 6>, 6>& ShortKernelCosines();

// layer3_hybrid_3dnow.cpp: the members with the arithmetic of the 3DNow! code, single precision
// throughout (the extended-3DNow! members compute the same).
void AntialiasThreeDNow(float* lines, int32_t boundaries);
void Imdct36ThreeDNow(float* values);
void Imdct12ThreeDNow(float* values);
void AddSpectrum(float* dest, const float* src, int32_t count);

// layer3_granule.cpp
void GranuleDecode(Layer3State& s, int16_t* pcm, int32_t granule);
void ChannelDriverMono(Layer3State& s, int16_t* pcm, int32_t granule);
void ChannelDriverStereo(Layer3State& s, int16_t* pcm, int32_t granule);
void ChannelDriverMixDown(Layer3State& s, int16_t* pcm, int32_t granule);
void ChannelDriverLeft(Layer3State& s, int16_t* pcm, int32_t granule);
void ChannelDriverRight(Layer3State& s, int16_t* pcm, int32_t granule);

}  // namespace tunewell
