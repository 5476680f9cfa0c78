#pragma once
// Opening a Layer III stream (the layer-specific steps of DecoderOpenStream).

#include <cstdint>

#include "decoder/MP3decdr.h"
#include "decoder/layer3_state.h"
#include "decoder/layer3_tables.h"

namespace tunewell {

struct Layer3OpenArguments {
  TMPEGHeader Header;
  int32_t FrameLength;        // without padding
  int32_t BandwidthSubbands;  // 1 ... 31
  int32_t ChannelOption;      // 0 as coded, 1 mix-down, 2 left, 3 right
  int32_t PcmBytesPerFrame;
  uint8_t SilenceValue;
};

// The band ends and widths of one row of the boundary table (short ends in interleaved lines).
BandLayout MakeBandLayout(const BandBoundaries& row);

// Empties the reservoir, then sets up the Layer III state for the stream; 1 when it can be
// decoded, else 0. Layer3OpenStream (layer3.h) calls it with the decoder's own state.
int32_t Layer3Open(Layer3State& s, const Layer3OpenArguments& arguments);

}  // namespace tunewell
