#pragma once
// Decoding of the conformance vectors through the decoder's public interface, the way the
// playback component drives it, and comparison with the reference output.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "decoder/MP3decdr.h"

namespace tunewell::test {

// Path of a file in the shared vector folder; empty when the folder is absent.
std::string VectorPath(const std::string& name);
std::vector<uint8_t> ReadBytes(const std::string& path);
// Raw signed 16-bit little-endian samples.
std::vector<int16_t> ReadPcm(const std::string& path);

struct TDecodedStream {
  bool FrameFound = false;  // DecoderFindFirstFrame gave a usable header
  int32_t OpenResult = 0;
  TMPEGHeader Header{};
  TDecoderOutputFormat Format{};
  std::vector<int16_t> Pcm;
  int32_t Frames = 0;        // frames decoded
  int32_t RefusedBytes = 0;  // positions skipped one byte at a time
};

// Finds the first frame, opens with the playback component's arguments (DownsampleShift 0,
// OutputOptions 0, Bandwidth 24000; or the given options), selects the routines for
// `cpuFlags`, and decodes frame after frame, stepping one byte on over a frame the decoder
// refuses.
TDecodedStream DecodeStream(const std::vector<uint8_t>& stream, uint8_t outputOptions = 0,
                            uint32_t cpuFlags = CpuFpu);

struct TDifference {
  double Rms = 0.0;
  double Max = 0.0;
  size_t Samples = 0;
};

// Over the shorter of the two lengths (references may run past the decoded frames).
TDifference CompareSamples(const std::vector<int16_t>& decoded,
                           const std::vector<int16_t>& reference);

// Both signals through the same linear-phase low-pass (a Kaiser-windowed sinc of 511 taps with
// its edge at `cutoff` times the sampling rate, channel by channel), then compared as above.
TDifference CompareLowPassed(const std::vector<int16_t>& decoded,
                             const std::vector<int16_t>& reference, int32_t channels,
                             double cutoff);

// ISO/IEC 11172-4 full accuracy in 16-bit units.
inline constexpr double FullAccuracyRms = 0.2887;
inline constexpr double FullAccuracyMax = 2.0;
inline bool MeetsFullAccuracy(const TDifference& d) {
  return d.Samples > 0 && d.Rms < FullAccuracyRms && d.Max <= FullAccuracyMax;
}

}  // namespace tunewell::test
