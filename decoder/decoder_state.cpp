// The one decoder state of the process.

#include "decoder/decoder_state.h"

namespace tunewell {

TDecoderState TheDecoder;

}  // namespace tunewell
