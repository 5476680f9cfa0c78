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

}  // namespace tunewell
