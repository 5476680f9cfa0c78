#pragma once
// Steps of a stream open shared by all layers.

#include <cstdint>

#include "decoder/MP3decdr.h"

namespace tunewell {

inline constexpr int32_t LayerCodeI = 3;
inline constexpr int32_t LayerCodeII = 2;
inline constexpr int32_t LayerCodeIII = 1;

inline constexpr uint8_t ChannelOptionMask = 0x03;
inline constexpr uint8_t EightBitOutput = 0x08;

// DownsampleShift limited to 0 ... 2.
int32_t ClampDownsampleShift(int32_t shift);
// Bandwidth in Hz, at least 1000.
int32_t ClampBandwidth(int32_t bandwidth);

// The stream's sampling frequency in Hz for the bandwidth computation: the MPEG-1 or MPEG-2 rate
// of SampleRateIndex, halved for Layer III with the MPEG-2.5 sync; a reserved index gives 1.
int32_t StreamSampleRate(const TMPEGHeader& header);

// Subbands to decode: the clamped bandwidth in subband widths, rounded, at most 31, 15 or 8 by
// the downsampling shift. Computed wide, so no bandwidth overflows.
int32_t BandwidthSubbandsFor(int32_t sampleRate, int32_t bandwidth, int32_t downsampleShift);

// Rewrites the whole output format and PcmBytesPerFrame (16-bit output).
void SetOutputFormat(int32_t channels, int32_t samplesPerChannel, int32_t sampleRate,
                     int32_t frameLength);

}  // namespace tunewell
