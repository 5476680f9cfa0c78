// Fuzz target: a byte stream driven through the decoder as the playback component drives it
// (first frame, open, frame after frame, one byte on over a refused frame). The last byte picks
// the channel option.

#include <cstddef>
#include <cstdint>

#include "decoder/MP3decdr.h"

namespace {

constexpr int32_t MaxFrames = 32;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tunewell;
  if (size < 4) return 0;
  const auto options = static_cast<uint8_t>(data[size - 1] & 3);
  TMPEGHeader header{};
  int32_t bitrate = 0;
  uint32_t offset = 0;
  const int32_t length =
      DecoderFindFirstFrame(data, static_cast<uint32_t>(size), header, bitrate, offset);
  if (length <= 0) return 0;
  DecoderSelectRoutines(CpuFpu);
  if (DecoderOpenStream(header, length, 0, 0, options, 24000) != 1) return 0;
  alignas(8) static int16_t pcm[2304];
  size_t position = offset;
  for (int32_t frames = 0; position < size && frames < MaxFrames;) {
    const TDecodeResult result =
        DecoderDecodeFrame(data + position, static_cast<uint32_t>(size - position), pcm);
    if (result.Consumed > 0) {
      position += static_cast<size_t>(result.Consumed);
      ++frames;
    } else {
      ++position;
    }
  }
  return 0;
}
