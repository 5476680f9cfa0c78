// Arbitrary bytes through the decoder the way the playback component drives it: routine
// selection, the first frame, an open, then every frame that agrees with the first header. The
// last input byte picks the channel option and the bandwidth, so all output layouts are reached.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "decoder/MP3decdr.h"

using namespace tunewell;

namespace {

constexpr std::array<int32_t, 4> Bandwidths{24000, 1000, 8000, 48000};

uint32_t Word(const uint8_t* bytes) {
  uint32_t word = 0;
  std::memcpy(&word, bytes, 4);
  return word;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t control = data[size - 1];
  DecoderSelectRoutines(CpuFpu);

  TMPEGHeader first{};
  int32_t bitrate = 0;
  uint32_t offset = 0;
  const int32_t length =
      DecoderFindFirstFrame(data, static_cast<uint32_t>(size), first, bitrate, offset);
  if (length <= 0 || offset + 4 > size) return 0;
  const auto options = static_cast<uint8_t>(control & 3);
  if (DecoderOpenStream(first, length, 0, 0, options, Bandwidths[(control >> 2) & 3]) != 1) {
    return 0;
  }
  TDecoderOutputFormat format{};
  DecoderGetOutputFormat(format);

  alignas(16) std::array<int16_t, 2304> pcm{};
  const uint32_t firstWord = Word(data + offset);
  size_t pos = offset;
  while (pos + 4 <= size) {
    TMPEGHeader h{};
    int32_t frameLength = DecoderParseHeader(data + pos, 0, h);
    if (h.BitrateIndex == 0 && h.SyncKind != 0) frameLength = length;
    if (frameLength <= 0 || ((Word(data + pos) ^ firstWord) & HeaderCompatibilityMask) != 0) {
      ++pos;
      continue;
    }
    const size_t frameBytes = static_cast<size_t>(frameLength) +
                              static_cast<size_t>(h.PaddingBit) * (h.LayerCode == 3 ? 4 : 1);
    const TDecodeResult result =
        DecoderDecodeFrame(data + pos, static_cast<uint32_t>(size - pos), pcm.data());
    if (result.Written > format.SamplesPerFrame * 2) __builtin_trap();
    pos += frameBytes;
  }
  return 0;
}
