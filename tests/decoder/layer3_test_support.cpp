#include "tests/decoder/layer3_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "decoder/MP3decdr.h"
#include "decoder/decoder_state.h"

namespace tunewell::test {

namespace {

// The standard's synthesis: V = N S into a 1024-value shift buffer, window with D, sum.
class ReferenceSynthesis {
 public:
  ReferenceSynthesis() {
    std::ifstream in(SharedPath("tables/synthesis-window.txt"));
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream words(line);
      int index = 0;
      double printed = 0;
      long k = 0;
      words >> index >> printed >> k;
      window_[static_cast<size_t>(index)] = static_cast<double>(k) / 65536.0;
    }
    const double pi = std::acos(-1.0);
    for (int i = 0; i < 64; ++i) {
      for (int k = 0; k < 32; ++k) matrix_[i][k] = std::cos((16 + i) * (2 * k + 1) * pi / 64.0);
    }
  }

  // Where the frame's PCM begins; the unrounded samples of the frame are kept alongside.
  void StartFrame(int16_t* frame, size_t words) {
    frame_ = frame;
    unrounded_.assign(words, 0.0);
  }
  const std::vector<double>& Unrounded() const { return unrounded_; }

  void Reset(int32_t channels) {
    channels_ = channels;
    for (auto& v : v_) v.fill(0.0);
  }

  void Granule(const float* samples, int16_t* pcm, int32_t channel) {
    auto& v = v_[static_cast<size_t>(channel)];
    for (int32_t t = 0; t < 18; ++t) {
      std::memmove(v.data() + 64, v.data(), (1024 - 64) * sizeof(double));
      for (int i = 0; i < 64; ++i) {
        double sum = 0;
        for (int k = 0; k < 32; ++k) sum += matrix_[i][k] * samples[32 * t + k];
        v[static_cast<size_t>(i)] = sum;
      }
      for (int j = 0; j < 32; ++j) {
        double sum = 0;
        for (int i = 0; i < 8; ++i) {
          sum += window_[static_cast<size_t>(64 * i + j)] * v[static_cast<size_t>(128 * i + j)];
          sum += window_[static_cast<size_t>(64 * i + 32 + j)] *
                 v[static_cast<size_t>(128 * i + 96 + j)];
        }
        const double clipped = std::clamp(sum, -32768.0, 32767.0);
        const size_t word = static_cast<size_t>((32 * t + j) * channels_ + channel);
        pcm[word] = static_cast<int16_t>(std::nearbyint(clipped));
        unrounded_[static_cast<size_t>(pcm - frame_) + word] = clipped;
      }
    }
  }

 private:
  std::array<double, 512> window_{};
  std::array<std::array<double, 32>, 64> matrix_{};
  std::array<std::array<double, 1024>, 2> v_{};
  std::vector<double> unrounded_;
  int16_t* frame_ = nullptr;
  int32_t channels_ = 1;
};

ReferenceSynthesis& Reference() {
  static ReferenceSynthesis synthesis;
  return synthesis;
}

void SynthesiseGranule(const float* samples, int16_t* pcm, int32_t channel) {
  Reference().Granule(samples, pcm, channel);
}

}  // namespace

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string SharedPath(const std::string& name) {
  return std::string(TW_SHARED_DIR) + "/" + name;
}

Layer3Decoded DecodeLayer3Stream(const std::vector<uint8_t>& bytes, int32_t channelOption,
                                 Synthesis synthesis, int32_t freeFormatLength) {
  Layer3Decoded result;
  TMPEGHeader first{};
  int32_t bitrate = 0;
  uint32_t offset = 0;
  int32_t firstLength = DecoderFindFirstFrame(bytes.data(), static_cast<uint32_t>(bytes.size()),
                                              first, bitrate, offset);
  if (firstLength <= 0 && first.BitrateIndex == 0) firstLength = freeFormatLength;
  if (firstLength <= 0 || first.LayerCode != 1) return result;

  DecoderSelectRoutines(CpuFpu);
  if (DecoderOpenStream(first, firstLength, 0, 0, static_cast<uint8_t>(channelOption), 24000) !=
      1) {
    return result;
  }
  result.Opened = true;
  TDecoderOutputFormat format{};
  DecoderGetOutputFormat(format);
  result.Channels = format.Channels;
  result.SampleRate = format.SampleRate;
  Layer3State& state = TheDecoder.Layer3;
  if (synthesis == Synthesis::Reference) {
    state.Synthesis = SynthesiseGranule;
    Reference().Reset(result.Channels);
  }

  // The playback component's loop: a frame must agree with the first header and be whole.
  uint32_t firstWord = 0;
  std::memcpy(&firstWord, bytes.data() + offset, 4);
  const auto pcmSamples = static_cast<size_t>(format.SamplesPerFrame);
  std::vector<int16_t> pcm(pcmSamples);
  size_t pos = offset;
  while (pos + 4 <= bytes.size()) {
    TMPEGHeader h{};
    uint32_t word = 0;
    std::memcpy(&word, bytes.data() + pos, 4);
    int32_t length = DecoderParseHeader(bytes.data() + pos, 0, h);
    if (h.BitrateIndex == 0 && h.SyncKind != 0) length = firstLength;
    if (length <= 0 || ((word ^ firstWord) & HeaderCompatibilityMask) != 0) {
      ++pos;
      continue;
    }
    const size_t frameBytes = static_cast<size_t>(length + h.PaddingBit);
    if (pos + frameBytes > bytes.size()) break;
    Reference().StartFrame(pcm.data(), pcmSamples);
    const TDecodeResult decoded = DecoderDecodeFrame(
        bytes.data() + pos, static_cast<uint32_t>(bytes.size() - pos), pcm.data());
    const bool whole = decoded.Consumed > 0 && decoded.Written == format.SamplesPerFrame * 2;
    const bool nothing = decoded.Consumed == 0 && decoded.Written == 0;
    if (!whole && !nothing) ++result.BadResults;
    if (decoded.Consumed < 1) {
      std::fill(pcm.begin(), pcm.end(), 0);
      ++result.UndecodedFrames;
    }
    result.FrameLog.push_back(
        {h.Mode == 3 ? 1 : 2, decoded.Consumed > 0 && state.MainData.Start < 0});
    result.Pcm.insert(result.Pcm.end(), pcm.begin(), pcm.end());
    if (synthesis == Synthesis::Reference) {
      result.Unrounded.insert(result.Unrounded.end(), Reference().Unrounded().begin(),
                              Reference().Unrounded().end());
    }
    ++result.Frames;
    pos += frameBytes;
  }
  return result;
}

}  // namespace tunewell::test
