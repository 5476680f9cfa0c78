// Access to the equalizer gain tables and their switches; the playback component writes them.

#include <cstddef>

#include "decoder/MP3decdr.h"
#include "decoder/decoder_state.h"

namespace tunewell {

float& DecoderSubbandGainRef(int32_t index) {
  return TheDecoder.Equalizer.SubbandGains[static_cast<size_t>(index)];
}

float& DecoderLineGainRef(int32_t index) {
  return TheDecoder.Equalizer.LineGains[static_cast<size_t>(index)];
}

int32_t& DecoderSubbandEqualizerRef() {
  return TheDecoder.Equalizer.SubbandEqualizerOn;
}

int32_t& DecoderLineEqualizerRef() {
  return TheDecoder.Equalizer.LineEqualizerOn;
}

}  // namespace tunewell
