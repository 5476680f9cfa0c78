#pragma once
// MPEG audio decoder: MPEG-1, MPEG-2 and MPEG-2.5, Layers I, II and III.

#include <cstdint>

namespace tunewell {

// The fields of one four-byte frame header; every field but SyncKind is the header's bit field.
struct TMPEGHeader {
  int32_t SyncKind, VersionId, LayerCode, ProtectionBit, BitrateIndex, SampleRateIndex, PaddingBit,
      PrivateBit, Mode, ModeExtension, RightsBit, HomeBit, Emphasis;
};

// Frame length in bytes without the padding slot; 0 or less when the bytes are no usable header.
// Reads the four bytes at `bytes`; `available` bounds only the free-format search.
int32_t DecoderParseHeader(const uint8_t* bytes, uint32_t available, TMPEGHeader& header);
int32_t DecoderFindFirstFrame(const uint8_t* buffer, uint32_t length, TMPEGHeader& header,
                              int32_t& bitrate, uint32_t& offset);
int32_t DecoderFindFreeFormatLength(const uint8_t* bytes, uint32_t available);

// Two headers of one stream agree under this mask, read as little-endian 32-bit words.
constexpr uint32_t HeaderCompatibilityMask = 0x000CFEFF;

// What the decoder writes for the open stream: 16-bit signed little-endian PCM, channels
// interleaved. SamplesPerFrame counts the samples of all output channels.
struct TDecoderOutputFormat {
  int32_t Channels, SamplesPerFrame, SampleRate, BitsPerSample, FrameLength, Reserved;
};

// Bytes of the frame consumed and PCM bytes written; both 0 when the frame was not decoded.
struct TDecodeResult {
  int32_t Consumed;
  int32_t Written;
};

// There is one decoder per process and it takes no lock: callers serialise every operation.
// Call order: DecoderSelectRoutines, then per stream DecoderOpenStream (1 = can be decoded),
// DecoderGetOutputFormat and DecoderDecodeFrame for each frame. Never decode after a failed open.
int32_t DecoderOpenStream(const TMPEGHeader& header, int32_t frameLength, int32_t downsampleShift,
                          int32_t reserved, uint8_t outputOptions, int32_t bandwidth);
void DecoderGetOutputFormat(TDecoderOutputFormat& format);

// Decodes the frame whose header is at `frame`; `available` bytes are readable there, and bits
// beyond them read as zeros. `pcm` is 2-byte aligned and holds PcmBytesPerFrame bytes (4608 at
// the most at the full rate).
TDecodeResult DecoderDecodeFrame(const uint8_t* frame, uint32_t available, void* pcm);

// Bits of the DecoderCpuFlags word: capabilities, vendor and processor class.
inline constexpr uint32_t CpuFpu = 0x1;
inline constexpr uint32_t CpuMMX = 0x2;
inline constexpr uint32_t Cpu3DNow = 0x4;
inline constexpr uint32_t CpuSSE = 0x8;
inline constexpr uint32_t CpuCMOV = 0x10;
inline constexpr uint32_t CpuE3DNow = 0x20;
inline constexpr uint32_t CpuMMXExt = 0x40;
inline constexpr uint32_t CpuVendorIntel = 0x100;
inline constexpr uint32_t CpuVendorAMD = 0x200;
inline constexpr uint32_t CpuVendorCyrix = 0x400;
inline constexpr uint32_t CpuVendorCentaur = 0x800;
inline constexpr uint32_t CpuVendorOther = 0x8000;
inline constexpr uint32_t CpuClass486 = 1u << 20;
inline constexpr uint32_t CpuClassPentium = 1u << 21;
inline constexpr uint32_t CpuClassP6 = 1u << 22;

// This processor's DecoderCpuFlags word (unit MPCPUSpc); cached once it is non-zero.
uint32_t DecoderDetectCpu();

// Fills the routine slots from a DecoderCpuFlags word. Call it before the first decode and only
// between frames. A word that claims capabilities the processor lacks still selects their members:
// pass only detected capabilities.
void DecoderSelectRoutines(uint32_t flags);

// Routine slots in the order DecoderRoutineMember numbers them.
inline constexpr int32_t AntialiasSlot = 0;
inline constexpr int32_t HybridSlot = 1;
inline constexpr int32_t Imdct36Slot = 2;
inline constexpr int32_t Imdct12Slot = 3;
inline constexpr int32_t SynthMonoSlot = 4;
inline constexpr int32_t SynthStereoSlot = 5;
inline constexpr int32_t RoutineSlotCount = 6;

// The member a slot holds: "portable", "pentium", "pentium-cmov", "3dnow" or "e3dnow"; "" before
// the first selection or for a slot number out of range.
const char* DecoderRoutineMember(int32_t slot);

void DecoderSetInvertPolarity(bool inverted);
int32_t DecoderGetInvertPolarity();

// The equalizers' gains (subband 0 ... 31, Layer III line 0 ... 575) and on/off flags. Indexes
// are not checked. They live for the process; a stream open leaves them alone.
float& DecoderSubbandGainRef(int32_t index);
float& DecoderLineGainRef(int32_t index);
int32_t& DecoderSubbandEqualizerRef();
int32_t& DecoderLineEqualizerRef();

}  // namespace tunewell
