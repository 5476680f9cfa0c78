// Stream open: output format, clamps, refusals, and the calling rules of the decode.

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <vector>

#include "decoder/decoder_state.h"
#include "decoder/stream_setup.h"
#include "tests/decoder/frame_builder.h"

namespace tunewell::test {
namespace {

TFrameHeaderFields Fields(int32_t layer, int32_t version, int32_t bitrate, int32_t rate,
                          int32_t mode) {
  TFrameHeaderFields s;
  s.LayerCode = layer;
  s.VersionId = version;
  s.BitrateIndex = bitrate;
  s.SampleRateIndex = rate;
  s.Mode = mode;
  return s;
}

class StreamSetup : public ::testing::Test {
 protected:
  void SetUp() override { DecoderSelectRoutines(CpuFpu); }

  static int32_t Open(const TFrameHeaderFields& layout, uint8_t options = 0, int32_t shift = 0,
                      int32_t bandwidth = 24000) {
    int32_t length = 0;
    const TMPEGHeader header = ParsedHeader(layout, length);
    return DecoderOpenStream(header, length, shift, 0, options, bandwidth);
  }
};

TEST_F(StreamSetup, OutputFormatByLayerModeAndChannelOption) {
  struct Case {
    TFrameHeaderFields Header;
    uint8_t Options;
    TDecoderOutputFormat Format;
  };
  const Case cases[] = {
      {Fields(3, 1, 12, 0, 0), 0, {2, 768, 44100, 16, 416, 0}},     // Layer I stereo
      {Fields(3, 1, 1, 2, 3), 0, {1, 384, 32000, 16, 48, 0}},       // Layer I mono
      {Fields(2, 1, 10, 1, 0), 0, {2, 2304, 48000, 16, 576, 0}},    // Layer II stereo
      {Fields(2, 1, 10, 1, 1), 1, {1, 1152, 48000, 16, 576, 0}},    // mix-down
      {Fields(2, 1, 10, 1, 2), 2, {1, 1152, 48000, 16, 576, 0}},    // left only
      {Fields(2, 1, 10, 1, 0), 3, {1, 1152, 48000, 16, 576, 0}},    // right only
      {Fields(2, 1, 1, 0, 3), 3, {1, 1152, 44100, 16, 104, 0}},     // mono ignores the option
      {Fields(2, 0, 8, 1, 0), 0, {2, 2304, 24000, 16, 384, 0}},     // MPEG-2 Layer II
      {Fields(3, 1, 12, 0, 0), 0x74, {2, 768, 44100, 16, 416, 0}},  // unused option bits
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Open(c.Header, c.Options), 1);
    TDecoderOutputFormat f{-1, -1, -1, -1, -1, -1};
    DecoderGetOutputFormat(f);
    EXPECT_EQ(f.Channels, c.Format.Channels);
    EXPECT_EQ(f.SamplesPerFrame, c.Format.SamplesPerFrame);
    EXPECT_EQ(f.SampleRate, c.Format.SampleRate);
    EXPECT_EQ(f.BitsPerSample, 16);
    EXPECT_EQ(f.FrameLength, c.Format.FrameLength);
    EXPECT_EQ(f.Reserved, 0);
    EXPECT_EQ(TheDecoder.Setup.PcmBytesPerFrame, f.SamplesPerFrame * 2);
  }
}

TEST_F(StreamSetup, BandwidthInSubbandsClampedAndComputedWide) {
  struct Case {
    int32_t Bandwidth, Subbands;
  };
  // Layer I mono at 32000 Hz: a subband is 500 Hz wide.
  const Case cases[] = {{500, 2},   {-5, 2},     {1000, 2},   {1249, 2},    {1250, 3},
                        {7000, 14}, {15499, 31}, {24000, 31}, {INT_MAX, 31}};
  for (const Case& c : cases) {
    ASSERT_EQ(Open(Fields(3, 1, 1, 2, 3), 0, 0, c.Bandwidth), 1);
    EXPECT_EQ(TheDecoder.Setup.BandwidthSubbands, c.Subbands) << c.Bandwidth;
  }
  // Two-channel streams count slots, and Layer II never passes its coded subbands.
  ASSERT_EQ(Open(Fields(2, 1, 10, 1, 0), 0, 0, INT_MAX), 1);
  EXPECT_EQ(TheDecoder.Setup.BandwidthSubbands, 54);
  ASSERT_EQ(Open(Fields(2, 1, 1, 0, 3)), 1);  // table c: 8 subbands
  EXPECT_EQ(TheDecoder.Setup.BandwidthSubbands, 8);
  ASSERT_EQ(Open(Fields(2, 1, 10, 0, 0)), 1);  // table b at 44100 Hz: 30 subbands
  EXPECT_EQ(TheDecoder.Setup.BandwidthSubbands, 60);
}

TEST_F(StreamSetup, RefusesWhatCannotBeDecoded) {
  EXPECT_EQ(Open(Fields(2, 1, 1, 0, 0)), 0);   // 32 kbit/s stereo Layer II
  EXPECT_EQ(Open(Fields(2, 1, 11, 0, 3)), 0);  // 224 kbit/s mono Layer II
  TMPEGHeader reserved{};
  reserved.SyncKind = 1;
  reserved.VersionId = 1;
  reserved.LayerCode = 2;
  reserved.BitrateIndex = 10;
  reserved.SampleRateIndex = 3;
  EXPECT_EQ(DecoderOpenStream(reserved, 576, 0, 0, 0, 24000), 0);
  // No drivers for 8-bit output or downsampling: such opens are refused.
  EXPECT_EQ(Open(Fields(2, 1, 10, 1, 0), 0x08), 0);
  EXPECT_EQ(Open(Fields(2, 1, 10, 1, 0), 0, 1), 0);
  EXPECT_EQ(Open(Fields(3, 1, 12, 0, 0), 0, 5), 0);   // acts as 2
  EXPECT_EQ(Open(Fields(3, 1, 12, 0, 0), 0, -1), 1);  // acts as 0
  // A Layer I stream with a reserved sampling index opens and reads it as 1 Hz.
  reserved.LayerCode = 3;
  EXPECT_EQ(DecoderOpenStream(reserved, 100, 0, 0, 0, 24000), 1);
  TDecoderOutputFormat f{};
  DecoderGetOutputFormat(f);
  EXPECT_EQ(f.SampleRate, 1);
}

TEST_F(StreamSetup, NoDecodeAfterAFailedOpen) {
  TFrameHeaderFields good = Fields(2, 1, 10, 1, 0);
  TBitWriter w;
  PutHeader(w, good);
  const std::vector<uint8_t> frame = w.Bytes(576);
  ASSERT_EQ(Open(good), 1);
  std::array<int16_t, 2304> pcm{};
  EXPECT_EQ(DecoderDecodeFrame(frame.data(), 576, pcm.data()).Consumed, 576);
  ASSERT_EQ(Open(Fields(2, 1, 1, 0, 0)), 0);
  const TDecodeResult r = DecoderDecodeFrame(frame.data(), 576, pcm.data());
  EXPECT_EQ(r.Consumed, 0);
  EXPECT_EQ(r.Written, 0);
}

TEST_F(StreamSetup, Mpeg25LayerIIOpensButNoFrameDecodes) {
  TFrameHeaderFields layout = Fields(2, 0, 8, 1, 0);
  TBitWriter w;
  PutHeader(w, layout);
  std::vector<uint8_t> frame = w.Bytes(384);
  frame[1] = static_cast<uint8_t>(frame[1] & 0xEF);  // the 11-bit sync of MPEG-2.5
  TMPEGHeader header{};
  const int32_t length = DecoderParseHeader(frame.data(), 4, header);
  ASSERT_EQ(header.SyncKind, 2);
  ASSERT_EQ(DecoderOpenStream(header, length, 0, 0, 0, 24000), 1);
  TDecoderOutputFormat f{};
  DecoderGetOutputFormat(f);
  EXPECT_EQ(f.SampleRate, 24000);  // Layers I and II read the MPEG-2 rates
  std::array<int16_t, 2304> pcm{};
  pcm.fill(99);
  const TDecodeResult r = DecoderDecodeFrame(frame.data(), 384, pcm.data());
  EXPECT_EQ(r.Consumed, 0);
  EXPECT_EQ(r.Written, 0);
  for (int16_t s : pcm) ASSERT_EQ(s, 99);
}

TEST_F(StreamSetup, ReservedLayerCodeDecodesAsLayerII) {
  TFrameHeaderFields layout = Fields(0, 1, 10, 1, 0);
  TBitWriter w;
  PutHeader(w, layout);
  const std::vector<uint8_t> frame = w.Bytes(576);
  TMPEGHeader header{};
  DecoderParseHeader(frame.data(), 4, header);
  ASSERT_EQ(header.LayerCode, 0);
  ASSERT_EQ(DecoderOpenStream(header, 576, 0, 0, 0, 24000), 1);
  TDecoderOutputFormat f{};
  DecoderGetOutputFormat(f);
  EXPECT_EQ(f.SamplesPerFrame, 2304);
  std::array<int16_t, 2304> pcm{};
  EXPECT_EQ(DecoderDecodeFrame(frame.data(), 576, pcm.data()).Written, 4608);
}

TEST_F(StreamSetup, ConsumedBytesDoNotOverflowWhateverTheOpenLength) {
  TFrameHeaderFields layout = Fields(3, 1, 12, 0, 3);
  layout.PaddingBit = 1;
  TBitWriter w;
  PutHeader(w, layout);
  const std::vector<uint8_t> frame = w.Bytes(420);
  TMPEGHeader header{};
  DecoderParseHeader(frame.data(), 4, header);
  ASSERT_EQ(DecoderOpenStream(header, INT_MAX, 0, 0, 0, 24000), 1);
  std::array<int16_t, 2304> pcm{};
  EXPECT_EQ(DecoderDecodeFrame(frame.data(), 420, pcm.data()).Consumed, INT_MAX);
}

}  // namespace
}  // namespace tunewell::test
