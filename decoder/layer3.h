#pragma once
// Entry points of the Layer III decoder used by the stream set-up.

#include <cstdint>

#include "decoder/MP3decdr.h"

namespace tunewell {

// The Layer III part of DecoderOpenStream. The arguments are the open's own (not yet clamped);
// the common part has set LayerRoutine and rejected what no driver exists for (8-bit output,
// downsampling). Returns 1 when the stream can be decoded, else 0.
int32_t Layer3OpenStream(const TMPEGHeader& header, int32_t frameLength, int32_t downsampleShift,
                         uint8_t outputOptions, int32_t bandwidth);

// LayerRoutine of Layer III streams: the frame dispatcher.
TDecodeResult Layer3DecodeFrame(const uint8_t* frame, uint32_t available, int16_t* pcm);

}  // namespace tunewell
