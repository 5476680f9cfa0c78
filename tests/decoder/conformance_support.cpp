// Conformance harness: vector decoding through the public interface and the comparisons.

#include "tests/decoder/conformance_support.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>

namespace tunewell::test {

namespace {

constexpr int32_t PlayerBandwidth = 24000;
constexpr int32_t LowPassHalfLength = 255;
constexpr double KaiserBeta = 10.0;
constexpr size_t MaxPcmBytesPerFrame = 4608;

double BesselI0(double x) {
  double term = 1.0;
  double sum = 1.0;
  for (int k = 1; k < 50; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
  }
  return sum;
}

std::vector<double> LowPassTaps(double cutoff) {
  std::vector<double> taps(2 * LowPassHalfLength + 1);
  const double norm = BesselI0(KaiserBeta);
  for (int32_t n = -LowPassHalfLength; n <= LowPassHalfLength; ++n) {
    const double ratio = static_cast<double>(n) / LowPassHalfLength;
    const double window = BesselI0(KaiserBeta * std::sqrt(1.0 - ratio * ratio)) / norm;
    const double x = 2.0 * cutoff * n;
    const double sinc = n == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
    taps[static_cast<size_t>(n + LowPassHalfLength)] = 2.0 * cutoff * sinc * window;
  }
  return taps;
}

// Filters channel `channel` of the first `frames` interleaved frames.
std::vector<double> Filter(const std::vector<int16_t>& pcm, size_t frames, int32_t channels,
                           int32_t channel, const std::vector<double>& taps) {
  std::vector<double> out(frames);
  const auto half = static_cast<ptrdiff_t>(LowPassHalfLength);
  for (size_t i = 0; i < frames; ++i) {
    double sum = 0.0;
    for (ptrdiff_t t = -half; t <= half; ++t) {
      const ptrdiff_t j = static_cast<ptrdiff_t>(i) + t;
      if (j < 0 || j >= static_cast<ptrdiff_t>(frames)) continue;
      sum += taps[static_cast<size_t>(t + half)] *
             pcm[static_cast<size_t>(j) * static_cast<size_t>(channels) +
                 static_cast<size_t>(channel)];
    }
    out[i] = sum;
  }
  return out;
}

}  // namespace

std::string VectorPath(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(TW_SHARED_DIR) / "vectors";
  if (!std::filesystem::is_directory(dir)) return {};
  return (dir / name).string();
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<int16_t> ReadPcm(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return samples;
}

TDecodedStream DecodeStream(const std::vector<uint8_t>& stream, uint8_t outputOptions,
                            uint32_t cpuFlags) {
  TDecodedStream result;
  int32_t bitrate = 0;
  uint32_t offset = 0;
  const int32_t length = DecoderFindFirstFrame(stream.data(), static_cast<uint32_t>(stream.size()),
                                               result.Header, bitrate, offset);
  if (length <= 0) return result;
  result.FrameFound = true;
  DecoderSelectRoutines(cpuFlags);
  result.OpenResult =
      DecoderOpenStream(result.Header, length, 0, 0, outputOptions, PlayerBandwidth);
  if (result.OpenResult != 1) return result;
  DecoderGetOutputFormat(result.Format);

  std::vector<int16_t> frame(MaxPcmBytesPerFrame / 2);
  size_t position = offset;
  while (position < stream.size()) {
    const TDecodeResult decoded = DecoderDecodeFrame(
        stream.data() + position, static_cast<uint32_t>(stream.size() - position), frame.data());
    if (decoded.Consumed <= 0) {
      ++position;
      ++result.RefusedBytes;
      continue;
    }
    result.Pcm.insert(result.Pcm.end(), frame.begin(), frame.begin() + decoded.Written / 2);
    position += static_cast<size_t>(decoded.Consumed);
    ++result.Frames;
  }
  return result;
}

TDifference CompareSamples(const std::vector<int16_t>& decoded,
                           const std::vector<int16_t>& reference) {
  TDifference d;
  d.Samples = std::min(decoded.size(), reference.size());
  double squares = 0.0;
  for (size_t i = 0; i < d.Samples; ++i) {
    const double diff = static_cast<double>(decoded[i]) - reference[i];
    squares += diff * diff;
    d.Max = std::max(d.Max, std::abs(diff));
  }
  if (d.Samples > 0) d.Rms = std::sqrt(squares / static_cast<double>(d.Samples));
  return d;
}

TDifference CompareLowPassed(const std::vector<int16_t>& decoded,
                             const std::vector<int16_t>& reference, int32_t channels,
                             double cutoff) {
  const std::vector<double> taps = LowPassTaps(cutoff);
  const size_t frames = std::min(decoded.size(), reference.size()) / static_cast<size_t>(channels);
  TDifference d;
  d.Samples = frames * static_cast<size_t>(channels);
  double squares = 0.0;
  for (int32_t c = 0; c < channels; ++c) {
    const std::vector<double> a = Filter(decoded, frames, channels, c, taps);
    const std::vector<double> b = Filter(reference, frames, channels, c, taps);
    for (size_t i = 0; i < frames; ++i) {
      const double diff = a[i] - b[i];
      squares += diff * diff;
      d.Max = std::max(d.Max, std::abs(diff));
    }
  }
  if (d.Samples > 0) d.Rms = std::sqrt(squares / static_cast<double>(d.Samples));
  return d;
}

}  // namespace tunewell::test
