// Layer III frames built bit by bit, decoded through the public interface: the frame drivers,
// the bit reservoir, the side information and the channel drivers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "decoder/MP3decdr.h"
#include "tests/decoder/frame_builder.h"

namespace tunewell::test {
namespace {

// One granule of one channel: a single loud line coded with table 1 unless `Bits` says else.
struct GranuleLayout {
  int32_t GlobalGain = 200;
  int32_t BigValues = 1;
  int32_t BlockType = 0;  // 0 without window switching
  int32_t Mixed = 0;
  int32_t Part2_3Length = -1;  // -1: the length of Bits
  std::string Bits = "010";    // (1, 0) of table 1, sign +
};

struct FrameLayout {
  TFrameHeaderFields Header{1, 1, 9, 1,
                            3, 0, 0, 1};  // MPEG-1 Layer III, 128 kbit/s, 48000 Hz, mono
  bool Mpeg25 = false;
  int32_t MainDataBegin = 0;
  std::array<std::array<GranuleLayout, 2>, 2> Granules{};  // [granule][channel]
};

int32_t FrameLength(const FrameLayout& f) {
  int32_t length = 0;
  ParsedHeader(f.Header, length);
  return length * (f.Mpeg25 ? 2 : 1) + f.Header.PaddingBit;
}

void PutString(TBitWriter& w, const std::string& bits) {
  for (char c : bits) w.Put(c == '1' ? 1 : 0, 1);
}

int32_t Part2_3(const GranuleLayout& g) {
  return g.Part2_3Length >= 0 ? g.Part2_3Length : static_cast<int32_t>(g.Bits.size());
}

// The frame's header and side information; the main data follow in `mainData`.
std::vector<uint8_t> BuildFrame(const FrameLayout& f, const std::vector<uint8_t>& mainData) {
  const bool mpeg1 = f.Header.VersionId == 1;
  const int32_t channels = f.Header.Mode == 3 ? 1 : 2;
  TBitWriter w;
  PutHeader(w, f.Header);
  w.Put(static_cast<uint32_t>(f.MainDataBegin), mpeg1 ? 9 : 8);
  w.Put(0, mpeg1 ? (channels == 1 ? 5 : 3) : channels);
  if (mpeg1) w.Put(0, 4 * channels);
  for (int32_t g = 0; g < (mpeg1 ? 2 : 1); ++g) {
    for (int32_t c = 0; c < channels; ++c) {
      const GranuleLayout& s = f.Granules[g][c];
      w.Put(static_cast<uint32_t>(Part2_3(s)), 12);
      w.Put(static_cast<uint32_t>(s.BigValues), 9);
      w.Put(static_cast<uint32_t>(s.GlobalGain), 8);
      w.Put(0, mpeg1 ? 4 : 9);  // scalefac_compress
      if (s.BlockType != 0) {
        w.Put(1, 1);
        w.Put(static_cast<uint32_t>(s.BlockType), 2);
        w.Put(static_cast<uint32_t>(s.Mixed), 1);
        w.Put(1, 5);  // table 1
        w.Put(1, 5);
        w.Put(0, 9);  // subblock gains
      } else {
        w.Put(0, 1);
        w.Put(1, 5);   // table 1 for region 0
        w.Put(0, 10);  // tables 0 for regions 1 and 2
        w.Put(15, 4);  // region0_count
        w.Put(7, 3);
      }
      if (mpeg1) w.Put(0, 1);  // preflag
      w.Put(0, 2);             // scalefac_scale, count1table_select
    }
  }
  std::vector<uint8_t> frame = w.Bytes(0);
  frame.insert(frame.end(), mainData.begin(), mainData.end());
  frame.resize(static_cast<size_t>(FrameLength(f)), 0);
  if (f.Mpeg25) frame[1] &= 0xEF;
  return frame;
}

// This frame's own granule data, packed.
std::vector<uint8_t> OwnMainData(const FrameLayout& f) {
  const int32_t channels = f.Header.Mode == 3 ? 1 : 2;
  TBitWriter w;
  for (int32_t g = 0; g < (f.Header.VersionId == 1 ? 2 : 1); ++g) {
    for (int32_t c = 0; c < channels; ++c) PutString(w, f.Granules[g][c].Bits);
  }
  return w.Bytes(0);
}

struct Decoded {
  std::vector<TDecodeResult> Results;
  std::vector<std::vector<int16_t>> Frames;
  TDecoderOutputFormat Format{};
};

Decoded DecodeFrames(const std::vector<std::vector<uint8_t>>& frames, uint8_t options = 0) {
  Decoded d;
  TMPEGHeader header{};
  const int32_t length = DecoderParseHeader(frames[0].data(), 4, header);
  DecoderSelectRoutines(CpuFpu);
  EXPECT_EQ(DecoderOpenStream(header, length, 0, 0, options, 24000), 1);
  DecoderGetOutputFormat(d.Format);
  for (const auto& frame : frames) {
    std::vector<int16_t> pcm(2304, 12345);
    d.Results.push_back(
        DecoderDecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), pcm.data()));
    pcm.resize(static_cast<size_t>(d.Format.SamplesPerFrame));
    d.Frames.push_back(pcm);
  }
  return d;
}

int32_t Peak(const std::vector<int16_t>& pcm) {
  int32_t peak = 0;
  for (int16_t v : pcm) peak = std::max(peak, std::abs(static_cast<int32_t>(v)));
  return peak;
}

FrameLayout Loud(int32_t mode = 3, int32_t protection = 1) {
  FrameLayout f;
  f.Header.Mode = mode;
  f.Header.ProtectionBit = protection;
  return f;
}

TEST(Layer3Frames, SideInformationSizesWithAndWithoutCrc) {
  for (const int32_t mode : {3, 0}) {
    std::vector<int16_t> first;
    for (const int32_t protection : {1, 0}) {
      const FrameLayout f = Loud(mode, protection);
      const auto frame = BuildFrame(f, OwnMainData(f));
      const Decoded d = DecodeFrames({frame, frame});
      ASSERT_EQ(d.Results[0].Consumed, 384);
      EXPECT_EQ(d.Results[0].Written, mode == 3 ? 2304 : 4608);
      EXPECT_GT(Peak(d.Frames[1]), 1000) << mode << " " << protection;
      if (first.empty()) {
        first = d.Frames[1];
      } else {
        EXPECT_EQ(d.Frames[1], first) << "a CRC moves the main data by two bytes";
      }
    }
  }
}

TEST(Layer3Frames, MissingBackDataGivesOneFrameOfSilence) {
  FrameLayout f = Loud();
  f.MainDataBegin = 100;
  f.Header.PaddingBit = 1;
  const auto frame = BuildFrame(f, OwnMainData(f));
  const Decoded d = DecodeFrames({frame});
  EXPECT_EQ(d.Results[0].Consumed, 385);
  EXPECT_EQ(d.Results[0].Written, 2304);
  EXPECT_EQ(Peak(d.Frames[0]), 0);
}

// Every frame's granules lie 511 bytes before its own main data: the first two frames cannot
// be decoded, the rest decode through many compactions exactly as frames carrying their own data.
TEST(Layer3Frames, ReservoirReachingBack511BytesSurvivesCompaction) {
  constexpr int32_t Frames = 60;
  const FrameLayout own = Loud();
  const int32_t mainBytes = 384 - 21;
  const std::vector<uint8_t> granuleData = OwnMainData(own);
  std::vector<uint8_t> stream(static_cast<size_t>(Frames * mainBytes), 0);
  for (int32_t k = 2; k < Frames; ++k) {
    const int32_t at = k * mainBytes - 511;
    std::copy(granuleData.begin(), granuleData.end(), stream.begin() + at);
  }
  std::vector<std::vector<uint8_t>> back, plain;
  for (int32_t k = 0; k < Frames; ++k) {
    FrameLayout f = own;
    f.MainDataBegin = 511;
    back.push_back(
        BuildFrame(f, {stream.begin() + k * mainBytes, stream.begin() + (k + 1) * mainBytes}));
    plain.push_back(BuildFrame(own, granuleData));
  }
  const Decoded reaching = DecodeFrames(back);
  const Decoded reference = DecodeFrames(plain);
  EXPECT_EQ(Peak(reaching.Frames[0]), 0);
  EXPECT_EQ(Peak(reaching.Frames[1]), 0);
  for (int32_t k = 0; k < Frames; ++k) EXPECT_EQ(reaching.Results[k].Consumed, 384);
  for (int32_t k = 4; k < Frames; ++k) {
    EXPECT_EQ(reaching.Frames[k], reference.Frames[k]) << "frame " << k;
  }
  EXPECT_GT(Peak(reference.Frames[10]), 1000);
}

TEST(Layer3Frames, BadSyncAndOversizedMainDataAreNotDecoded) {
  const FrameLayout f = Loud();
  auto frame = BuildFrame(f, OwnMainData(f));
  auto bad = frame;
  bad[1] = 0xEB;  // 0xFFE: not an MPEG-1 sync
  const Decoded d = DecodeFrames({frame, bad, frame});
  EXPECT_EQ(d.Results[1].Consumed, 0);
  EXPECT_EQ(d.Results[1].Written, 0);
  EXPECT_EQ(d.Frames[1], std::vector<int16_t>(1152, 12345)) << "nothing is written";
  EXPECT_EQ(d.Results[2].Consumed, 384);
}

TEST(Layer3Frames, LowerFrequencySyncs) {
  struct Case {
    bool Mpeg25;
    uint8_t SecondByte;  // replaces byte 1 of the frame when not 0
    int32_t Consumed;
  };
  // MPEG-2 at 24000 Hz, 64 kbit/s: 192 bytes; as MPEG-2.5 (12000 Hz) 384 bytes.
  for (const Case& k : {Case{false, 0, 192}, Case{true, 0, 384}, Case{true, 0xD3, 0}}) {
    FrameLayout f;
    f.Header = {1, 0, 8, 1, 3, 0, 0, 1};
    f.Mpeg25 = k.Mpeg25;
    f.Granules[0][0].Bits = "010";
    auto frame = BuildFrame(f, OwnMainData(f));
    auto second = frame;
    if (k.SecondByte != 0) second[1] = k.SecondByte;
    const Decoded d = DecodeFrames({frame, second, frame});
    EXPECT_EQ(d.Format.SampleRate, k.Mpeg25 ? 12000 : 24000);
    EXPECT_EQ(d.Format.SamplesPerFrame, 576);
    EXPECT_EQ(d.Results[0].Consumed, k.Mpeg25 ? 384 : 192);
    EXPECT_EQ(d.Results[1].Consumed, k.Consumed);
    EXPECT_GT(Peak(d.Frames[2]), 1000);
  }
}

// A granule whose Huffman data run 40 bits past its part2_3_length is silent; the other channel
// decodes as usual.
TEST(Layer3Frames, HuffmanOverrunSilencesThatChannelOnly) {
  FrameLayout f = Loud(0);
  for (auto& granule : f.Granules) {
    granule[0].BigValues = 100;  // 100 pairs of one bit or more each, in 2 bits
    granule[0].Bits = "11";
  }
  TBitWriter w;
  PutString(w,
            "11010"
            "11010" +
                std::string(300, '1'));
  const auto frame = BuildFrame(f, w.Bytes(0));
  const Decoded d = DecodeFrames({frame, frame, frame});
  int32_t left = 0, right = 0;
  for (size_t i = 0; i < d.Frames[2].size(); i += 2) {
    left = std::max(left, std::abs(static_cast<int32_t>(d.Frames[2][i])));
    right = std::max(right, std::abs(static_cast<int32_t>(d.Frames[2][i + 1])));
  }
  EXPECT_EQ(left, 0);
  EXPECT_GT(right, 1000);
}

// The mix-down averages the two channels: the fast path when both transforms are the same, the
// slow path when the block types differ; left and right only give the stereo channels.
TEST(Layer3Frames, ChannelOptions) {
  struct Case {
    const char* What;
    int32_t RightBlockType;
  };
  for (const Case& k : {Case{"same block types", 0}, Case{"long and short", 2}}) {
    std::vector<std::vector<uint8_t>> frames;
    for (int32_t n = 0; n < 4; ++n) {
      FrameLayout f = Loud(0);
      for (auto& granule : f.Granules) {
        granule[0].Bits = "001";  // (0, 1): line 1 of the left
        granule[1].Bits = "010";
        granule[1].GlobalGain = 195 + n;
        granule[1].BlockType = k.RightBlockType;
      }
      frames.push_back(BuildFrame(f, OwnMainData(f)));
    }
    const Decoded stereo = DecodeFrames(frames, 0);
    const Decoded mix = DecodeFrames(frames, 1);
    const Decoded left = DecodeFrames(frames, 2);
    const Decoded right = DecodeFrames(frames, 3);
    ASSERT_EQ(mix.Format.Channels, 1);
    for (size_t f = 0; f < frames.size(); ++f) {
      for (size_t i = 0; i < 1152; ++i) {
        const int32_t l = stereo.Frames[f][2 * i], r = stereo.Frames[f][2 * i + 1];
        EXPECT_NEAR(mix.Frames[f][i], (l + r) / 2.0, 1.0) << k.What << " " << f << " " << i;
        EXPECT_EQ(left.Frames[f][i], l);
        EXPECT_EQ(right.Frames[f][i], r);
      }
    }
    EXPECT_GT(Peak(mix.Frames[3]), 1000);
  }
}

TEST(Layer3Frames, LineEqualizer) {
  const FrameLayout f = Loud();
  const auto frame = BuildFrame(f, OwnMainData(f));
  const std::vector<std::vector<uint8_t>> frames{frame, frame, frame};
  const Decoded plain = DecodeFrames(frames);
  for (int32_t i = 0; i < 576; ++i) DecoderLineGainRef(i) = 1.0f;
  DecoderLineEqualizerRef() = 1;
  const Decoded unity = DecodeFrames(frames);
  for (int32_t i = 0; i < 576; ++i) DecoderLineGainRef(i) = 0.0f;
  std::vector<std::vector<uint8_t>> thenSilenced{frame, frame};
  Decoded silenced;
  {
    // Equalizer off for the first frame, all gains 0 from the second on.
    DecoderLineEqualizerRef() = 0;
    TMPEGHeader header{};
    const int32_t length = DecoderParseHeader(frame.data(), 4, header);
    DecoderSelectRoutines(CpuFpu);
    ASSERT_EQ(DecoderOpenStream(header, length, 0, 0, 0, 24000), 1);
    std::vector<int16_t> pcm(2304);
    DecoderDecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), pcm.data());
    DecoderLineEqualizerRef() = 1;
    for (int32_t n = 0; n < 2; ++n) {
      DecoderDecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), pcm.data());
      silenced.Frames.push_back(pcm);
    }
  }
  DecoderLineEqualizerRef() = 0;
  EXPECT_EQ(unity.Frames, plain.Frames);
  // The overlap of the last loud granule still sounds in the first silenced frame.
  EXPECT_GT(Peak(silenced.Frames[0]), 100);
  EXPECT_EQ(Peak(silenced.Frames[1]), 0);
}

}  // namespace
}  // namespace tunewell::test
