#pragma once
// The decoder's module-level state. There is exactly one instance, TheDecoder, for the process;
// it holds one stream at a time, and the callers of the public operations serialise all access.

#include <array>
#include <cstdint>

#include "decoder/MP3decdr.h"
#include "decoder/layer3_state.h"

namespace tunewell {

inline constexpr int32_t SubbandCount = 32;
inline constexpr int32_t SynthesisRingSize = 512;
inline constexpr int32_t SynthesisWindowSize = 264;
inline constexpr int32_t SynthesisCosineCount = 31;
inline constexpr int32_t LayerIIRows = 36;
inline constexpr int32_t LayerIRows = 12;
inline constexpr int32_t MaxSlots = 2 * SubbandCount;

// Per-frame decoder chosen by LayerCode at the open.
using TLayerRoutine = TDecodeResult (*)(const uint8_t* frame, uint32_t available, int16_t* pcm);
// Synthesis driver: subband samples to PCM. The third argument is the number of time slots
// (Layers I/II) or the output channel (Layer III).
using TSynthesisDriver = void (*)(const float* samples, int16_t* out, int32_t arg);
// Windowing of one time slot over a ring, rounding, clipping and storing of 32 samples.
using TSynthOutputRoutine = void (*)(const float* ring, int32_t offset, int16_t* out);

// What an open fixes for the stream (besides the output format).
struct TStreamSetup {
  int32_t FrameLength = 0;
  int32_t DownsampleShift = 0;
  int32_t ChannelOption = 0;
  int32_t BandwidthSubbands = 0;  // in slots for two-channel Layer I/II streams
  int32_t PcmBytesPerFrame = 0;
  bool StreamReady = false;  // the last open succeeded
};

struct TRoutineSlots {
  TLayerRoutine LayerRoutine = nullptr;
  TSynthesisDriver SynthesisDriver = nullptr;
  TSynthOutputRoutine SynthMonoRoutine = nullptr;
  TSynthOutputRoutine SynthStereoRoutine = nullptr;
  Layer3Routines Layer3{};  // AntialiasRoutine, HybridRoutine, Imdct36Routine, Imdct12Routine
  // The member each processor-dependent slot holds, in DecoderRoutineMember's order.
  std::array<const char*, RoutineSlotCount> MemberNames{};
};

struct TSynthesisState {
  // Matrixing results of the last 16 time slots per output channel, 32 values per slot.
  alignas(64) std::array<std::array<float, SynthesisRingSize>, 2> Ring{};
  std::array<int32_t, 2> RingOffset{};
  // In the order the output routines read it: row k holds D[j + 32k] for j = 0 ... 15, entries
  // 256 + i hold -D[48 + 64i]. Negated in place while the polarity is inverted.
  alignas(64) std::array<float, SynthesisWindowSize> Window{};
  // The same entries widened to double for the vector output routine; kept equal to Window by
  // every writer of Window (the table build and the polarity switch).
  alignas(64) std::array<double, SynthesisWindowSize> WideWindow{};
  // 0.5 / cos(pi (2j + 1) / 4N) for N = 16, 8, 4, 2, 1: Lee's factorisation of the matrixing.
  std::array<float, SynthesisCosineCount> Cosines{};
  int32_t PolarityInverted = 0;
  bool TablesBuilt = false;
};

struct TEqualizerState {
  std::array<float, SubbandCount> SubbandGains{};
  int32_t SubbandEqualizerOn = 0;
  std::array<float, 576> LineGains{};
  int32_t LineEqualizerOn = 0;
};

// Layers I and II: the stream's allocation layout and the tables built once per process.
struct TLayer12State {
  // Rows of dequantised subband samples; a row holds 32 values (one channel) or 64 interleaved.
  alignas(64) std::array<float, LayerIIRows * MaxSlots> Samples{};
  int32_t AllocationTable = 0;
  std::array<int32_t, 4> GroupSlots{};  // group sizes in slots
  int32_t CodedSlots = 0;
  int32_t Channels = 1;

  std::array<float, 18> LayerIIFactors{};  // 2 / levels of class k
  std::array<float, 16> LayerIFactors{};   // 2 / (2^(a+1) - 1) of allocation a
  std::array<float, 64> ScaleFactors{};    // 2^(-i/3) * 65536
  std::array<std::array<float, 3>, 32> Grouped3{};
  std::array<std::array<float, 3>, 128> Grouped5{};
  std::array<std::array<float, 3>, 1024> Grouped9{};
  bool TablesBuilt = false;
  bool LayerITablesBuilt = false;
};

struct TDecoderState {
  TDecoderOutputFormat Format{};
  TStreamSetup Setup;
  TRoutineSlots Routines;
  TSynthesisState Synthesis;
  TEqualizerState Equalizer;
  TLayer12State Layer12;
  Layer3State Layer3;
};

extern TDecoderState TheDecoder;

}  // namespace tunewell
