// MPEG-2.5 Layer III against a peer decoder: streams made at 8000, 11025 and 12000 Hz, single
// channel and joint stereo, by Debian's lame (no tag frame, low-passed below the decoder's cut so
// that a full-band decoder is comparable), decoded by us and by mpg123 --no-gapless, held to the
// same bar as the conformance streams.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/decoder/layer3_test_support.h"

namespace tunewell::test {
namespace {

namespace fs = std::filesystem;

bool HasTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

void Put(std::ofstream& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Two seconds of tones, a sweep and a little noise; the channels differ but share most.
void WriteWav(const fs::path& path, int32_t rate, int32_t channels) {
  const int32_t frames = 2 * rate;
  std::ofstream out(path, std::ios::binary);
  out.write("RIFF", 4);
  Put(out, static_cast<uint32_t>(36 + frames * channels * 2), 4);
  out.write("WAVEfmt ", 8);
  Put(out, 16, 4);
  Put(out, 1, 2);
  Put(out, static_cast<uint32_t>(channels), 2);
  Put(out, static_cast<uint32_t>(rate), 4);
  Put(out, static_cast<uint32_t>(rate * channels * 2), 4);
  Put(out, static_cast<uint32_t>(channels * 2), 2);
  Put(out, 16, 2);
  out.write("data", 4);
  Put(out, static_cast<uint32_t>(frames * channels * 2), 4);
  const double pi = std::acos(-1.0);
  uint32_t noise = 12345;
  for (int32_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / rate;
    noise = noise * 1664525u + 1013904223u;
    const double common = 6000 * std::sin(2 * pi * 440 * t) +
                          3000 * std::sin(2 * pi * (200 + 600 * t) * t) +
                          800.0 * ((noise >> 16) / 32768.0 - 1.0);
    for (int32_t c = 0; c < channels; ++c) {
      const double own = 2500 * std::sin(2 * pi * (c == 0 ? 1000 : 1500) * t);
      Put(out, static_cast<uint32_t>(static_cast<int16_t>(common + own)), 2);
    }
  }
}

struct Case {
  int32_t Rate;
  int32_t Channels;
  const char* Lowpass;  // kHz, below the cut at this rate
  const char* Bitrate;  // kbit/s
};

std::string Name(const ::testing::TestParamInfo<Case>& info) {
  return std::to_string(info.param.Rate) + (info.param.Channels == 1 ? "_mono" : "_joint");
}

class Mpeg25 : public ::testing::TestWithParam<Case> {};

TEST_P(Mpeg25, AgreesWithMpg123) {
  if (!HasTool("lame") || !HasTool("mpg123")) GTEST_SKIP() << "lame or mpg123 not installed";
  const Case k = GetParam();
  const fs::path dir = fs::temp_directory_path() / ("tw-mpeg25-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string base = (dir / Name({k, 0})).string();
  WriteWav(base + ".wav", k.Rate, k.Channels);
  // --resample keeps lame at the input's rate (it would pick another for some bit rates).
  const std::string encode = std::string("lame --quiet -t -m ") + (k.Channels == 1 ? "m" : "j") +
                             " --resample " + std::to_string(k.Rate / 1000.0) + " --lowpass " +
                             k.Lowpass + " -b " + k.Bitrate + " " + base + ".wav " + base + ".mp3";
  ASSERT_EQ(std::system(encode.c_str()), 0) << encode;
  const std::string peer = "mpg123 --no-gapless -q -s " + base + ".mp3 > " + base + ".raw";
  ASSERT_EQ(std::system(peer.c_str()), 0) << peer;

  const auto stream = ReadFile(base + ".mp3");
  ASSERT_GE(stream.size(), 2u);
  EXPECT_EQ(stream[1] & 0xF0, 0xE0) << "not an MPEG-2.5 stream";
  const Layer3Decoded ours = DecodeLayer3Stream(stream);
  ASSERT_TRUE(ours.Opened);
  EXPECT_EQ(ours.SampleRate, k.Rate);
  EXPECT_EQ(ours.Channels, k.Channels);
  const auto theirs = ReadFile(base + ".raw");
  const size_t n = std::min(ours.Pcm.size(), theirs.size() / 2);
  double sum = 0, max = 0;
  for (size_t i = 0; i < n; ++i) {
    const double diff =
        ours.Pcm[i] - static_cast<int16_t>(theirs[2 * i] | (theirs[2 * i + 1] << 8));
    sum += diff * diff;
    max = std::max(max, std::abs(diff));
  }
  const double rms = n > 0 ? std::sqrt(sum / static_cast<double>(n)) : 0;
  std::printf("| MPEG-2.5 %5d Hz %-5s | %4d frames | %7zu samples | rms %.4f max %.0f |\n", k.Rate,
              k.Channels == 1 ? "mono" : "joint", ours.Frames, n, rms, max);
  fs::remove_all(dir);
  EXPECT_GT(n, static_cast<size_t>(k.Rate));
  EXPECT_LT(rms, 0.2887);
  EXPECT_LE(max, 2.0);
}

// The cut: line 558 at 8000 Hz (3875 Hz), line 522 at 11025 and 12000 Hz (4996 and 5437 Hz);
// alias reduction and the synthesis filter reach about a subband and a half below.
INSTANTIATE_TEST_SUITE_P(Streams, Mpeg25,
                         ::testing::Values(Case{8000, 1, "3.2", "24"}, Case{8000, 2, "3.2", "48"},
                                           Case{11025, 1, "4.2", "32"}, Case{11025, 2, "4.2", "56"},
                                           Case{12000, 1, "4.5", "32"},
                                           Case{12000, 2, "4.5", "64"}),
                         Name);

}  // namespace
}  // namespace tunewell::test
