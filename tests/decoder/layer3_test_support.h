#pragma once
// Test support for Layer III: a stream loop like the playback component's through the public
// interface, and a plain reference synthesis (the standard's polyphase filterbank computed
// directly, in double precision) that can take the decoder's place after the open, so that the
// Layer III front and back end can be checked on their own, without the output's rounding.

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/layer3_state.h"

namespace tunewell::test {

std::vector<uint8_t> ReadFile(const std::string& path);
std::string SharedPath(const std::string& name);

// Decodes a whole Layer III stream through DecoderOpenStream and DecoderDecodeFrame.
struct Layer3Frame {
  int32_t CodedChannels;  // of this frame's own header
  bool MissingBackData;   // written as silence: its main data begin before the reservoir
};
struct Layer3Decoded {
  std::vector<Layer3Frame> FrameLog;
  bool Opened = false;
  int32_t Channels = 0;
  int32_t SampleRate = 0;
  int32_t Frames = 0;
  int32_t UndecodedFrames = 0;
  int32_t BadResults = 0;  // results other than (0, 0) and (bytes, the format's PCM bytes)
  std::vector<int16_t> Pcm;
  std::vector<double> Unrounded;  // the same samples clipped but not rounded
};
// `freeFormatLength`, when not 0, stands for a free-format length the search did not find.
enum class Synthesis { Decoder, Reference };
Layer3Decoded DecodeLayer3Stream(const std::vector<uint8_t>& bytes, int32_t channelOption = 0,
                                 Synthesis synthesis = Synthesis::Decoder,
                                 int32_t freeFormatLength = 0);

}  // namespace tunewell::test
