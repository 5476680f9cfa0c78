#pragma once
// Layers I and II: the stream opens and the frame decoders.

#include <cstdint>

#include "decoder/MP3decdr.h"
#include "decoder/bit_reader.h"

namespace tunewell {

// The dequantisation, scale-factor and grouping tables, built on the first open of any layer.
void BuildLayer12Tables();

// The layer parts of DecoderOpenStream (arguments as given to it); 1 when decodable, else 0.
int32_t Layer1OpenStream(const TMPEGHeader& header, int32_t frameLength, int32_t downsampleShift,
                         uint8_t outputOptions, int32_t bandwidth);
int32_t Layer2OpenStream(const TMPEGHeader& header, int32_t frameLength, int32_t downsampleShift,
                         uint8_t outputOptions, int32_t bandwidth);

TDecodeResult Layer1DecodeFrame(const uint8_t* frame, uint32_t available, int16_t* pcm);
TDecodeResult Layer2DecodeFrame(const uint8_t* frame, uint32_t available, int16_t* pcm);

// The Layer II allocation table (TAllocationTableId) of a stream, or -1 when ISO/IEC 11172-3
// does not allow its combination of bit rate and mode.
int32_t Layer2AllocationTableFor(const TMPEGHeader& header);

// First slot of the joint-stereo region for a frame's mode and mode extension; past every slot
// when there is none.
int32_t JointBoundSlots(int32_t mode, int32_t modeExtension);

// What a Layer I/II frame decoder takes from the frame's own header.
struct TLayer12FrameHeader {
  int32_t PaddingBit;
  int32_t JointBound;  // in slots; the layout stays the open's whatever this frame's mode
};

// Bytes a decoded frame consumed: the open's frame length plus this frame's padding, computed
// without overflow whatever length the open was given.
int32_t Layer12ConsumedBytes(int32_t paddingBytes);

// Reads the header and the CRC, if any. False when the first 12 bits are not all ones.
bool ReadLayer12Header(TBitReader& bits, TLayer12FrameHeader& header);

}  // namespace tunewell
