// Layer III stream open and frame dispatch (not built yet: such streams are refused).

#include "decoder/layer3.h"

namespace tunewell {

int32_t Layer3OpenStream(const TMPEGHeader& /*header*/, int32_t /*frameLength*/,
                         int32_t /*downsampleShift*/, uint8_t /*outputOptions*/,
                         int32_t /*bandwidth*/) {
  return 0;
}

TDecodeResult Layer3DecodeFrame(const uint8_t* /*frame*/, uint32_t /*available*/,
                                int16_t* /*pcm*/) {
  return {0, 0};
}

}  // namespace tunewell
