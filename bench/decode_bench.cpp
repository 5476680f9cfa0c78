// Decodes a file with the decoder alone, as the playback component walks it, and prints the
// time taken and the speed as a multiple of real time. Usage: tw_decode_bench FILE [REPEATS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "decoder/MP3decdr.h"

namespace {

using namespace tunewell;

struct TRun {
  double seconds;
  double audioSeconds;
};

uint32_t LittleEndianWord(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

int32_t PaddingSlot(const TMPEGHeader& h) {
  return h.PaddingBit * (h.LayerCode == 3 ? 4 : 1);
}

// Skips a leading ID3v2 tag, whose synchronised bytes could look like a frame.
size_t AudioStart(const std::vector<uint8_t>& data) {
  if (data.size() < 10 || std::memcmp(data.data(), "ID3", 3) != 0) return 0;
  const size_t size = (data[6] & 0x7Fu) << 21 | (data[7] & 0x7Fu) << 14 | (data[8] & 0x7Fu) << 7 |
                      (data[9] & 0x7Fu);
  return std::min(data.size(), size + 10);
}

bool DecodeAll(const std::vector<uint8_t>& data, TRun& run) {
  const size_t start = AudioStart(data);
  TMPEGHeader first{};
  int32_t bitrate = 0;
  uint32_t offset = 0;
  const auto length = DecoderFindFirstFrame(
      data.data() + start, static_cast<uint32_t>(data.size() - start), first, bitrate, offset);
  if (length <= 0) return false;
  size_t at = start + offset;
  const uint32_t firstWord = LittleEndianWord(data.data() + at);
  if (DecoderOpenStream(first, length, 0, 0, 0, 24000) == 0) return false;
  TDecoderOutputFormat format{};
  DecoderGetOutputFormat(format);

  alignas(16) static uint8_t pcm[8192];
  size_t frames = 0;
  const auto begin = std::chrono::steady_clock::now();
  while (at + 4 <= data.size()) {
    TMPEGHeader h{};
    const int32_t frameLength = DecoderParseHeader(data.data() + at, 0, h);
    if (frameLength <= 0 ||
        ((LittleEndianWord(data.data() + at) ^ firstWord) & HeaderCompatibilityMask) != 0) {
      ++at;
      continue;
    }
    const size_t whole = static_cast<size_t>(frameLength + PaddingSlot(h));
    if (at + whole > data.size()) break;
    DecoderDecodeFrame(data.data() + at, static_cast<uint32_t>(data.size() - at), pcm);
    at += whole;
    ++frames;
  }
  const auto end = std::chrono::steady_clock::now();
  run.seconds = std::chrono::duration<double>(end - begin).count();
  run.audioSeconds =
      static_cast<double>(frames) * format.SamplesPerFrame / format.Channels / format.SampleRate;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tw_decode_bench FILE [REPEATS]\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<uint8_t> data{std::istreambuf_iterator<char>(file),
                                  std::istreambuf_iterator<char>()};
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  DecoderSelectRoutines(DecoderDetectCpu());
  std::vector<double> times;
  TRun run{};
  for (int i = 0; i < repeats; ++i) {
    if (!DecodeAll(data, run)) {
      std::fprintf(stderr, "tw_decode_bench: %s: no MPEG audio stream\n", argv[1]);
      return 1;
    }
    times.push_back(run.seconds);
  }
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  std::printf("%.4f s  %.0fx real time  (%.1f s of audio)\n", median, run.audioSeconds / median,
              run.audioSeconds);
  return 0;
}
