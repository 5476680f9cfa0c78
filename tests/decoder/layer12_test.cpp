// Layers I and II: allocation-table choice, joint-stereo bound, dequantisation of every sample
// form, bandwidth skipping, frame results and bounded reading, on frames built bit by bit.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "decoder/decoder_state.h"
#include "decoder/layer12.h"
#include "decoder/layer12_tables.h"
#include "tests/decoder/frame_builder.h"

namespace tunewell::test {
namespace {

TEST(Layer2AllocationTable, FollowsBitRateModeAndRate) {
  struct Case {
    int32_t Version, Rate, Bitrate, Mode, Table;
  };
  const Case cases[] = {
      {1, 1, 10, 0, AllocTableA},     // 48000 Hz, 192 kbit/s stereo
      {1, 0, 10, 0, AllocTableB},     // 44100 Hz, 192 kbit/s stereo
      {1, 2, 10, 1, AllocTableB},     // 32000 Hz, 192 kbit/s joint stereo
      {1, 0, 1, 3, AllocTableC},      // 44100 Hz, 32 kbit/s mono
      {1, 2, 1, 3, AllocTableD},      // 32000 Hz, 32 kbit/s mono
      {1, 0, 4, 2, AllocTableC},      // 64 kbit/s dual channel
      {1, 2, 6, 0, AllocTableD},      // 96 kbit/s stereo at 32000 Hz
      {1, 1, 7, 0, AllocTableA},      // 112 kbit/s stereo
      {1, 0, 5, 3, AllocTableA},      // 80 kbit/s mono
      {1, 0, 6, 3, AllocTableB},      // 96 kbit/s mono
      {1, 1, 10, 3, AllocTableA},     // 192 kbit/s mono at 48000 Hz
      {1, 0, 0, 0, AllocTableB},      // free format
      {1, 1, 0, 3, AllocTableA},      // free format mono at 48000 Hz
      {1, 0, 1, 0, -1},               // 32 kbit/s stereo: not allowed
      {1, 0, 5, 1, -1},               // 80 kbit/s joint stereo
      {1, 0, 11, 3, -1},              // 224 kbit/s mono
      {1, 0, 14, 3, -1},              // 384 kbit/s mono
      {0, 0, 1, 0, AllocTableLower},  // MPEG-2: always the lower-frequency table
      {0, 2, 14, 3, AllocTableLower},
  };
  for (const Case& c : cases) {
    TMPEGHeader h{};
    h.VersionId = c.Version;
    h.LayerCode = 2;
    h.SampleRateIndex = c.Rate;
    h.BitrateIndex = c.Bitrate;
    h.Mode = c.Mode;
    EXPECT_EQ(Layer2AllocationTableFor(h), c.Table)
        << "version " << c.Version << " rate " << c.Rate << " bitrate " << c.Bitrate << " mode "
        << c.Mode;
  }
}

TEST(Layer2AllocationTable, CodedSubbandsAsTheStandard) {
  const std::array<int32_t, 5> coded{27, 30, 8, 12, 30};
  for (size_t t = 0; t < AllocationTables.size(); ++t) {
    int32_t sum = 0;
    for (const TAllocationGroup& g : AllocationTables[t].Groups) sum += g.Size;
    EXPECT_EQ(sum, coded[t]) << "table " << t;
  }
}

TEST(JointBound, BySlotsOfModeAndExtension) {
  EXPECT_EQ(JointBoundSlots(1, 0), 8);
  EXPECT_EQ(JointBoundSlots(1, 1), 16);
  EXPECT_EQ(JointBoundSlots(1, 2), 24);
  EXPECT_EQ(JointBoundSlots(1, 3), 32);
  EXPECT_EQ(JointBoundSlots(0, 2), 64);
  EXPECT_EQ(JointBoundSlots(2, 3), 64);
  EXPECT_EQ(JointBoundSlots(3, 0), 32);
}

// Expected subband value of a code: (code - centre) x 2 / levels x 2^(-s/3) x 65536.
double Dequantised(int32_t cls, uint32_t code, int32_t digit, int32_t scale) {
  const int32_t levels = LevelsOfClass(cls);
  double centred = 0.0;
  if (cls == 1 || cls == 2 || cls == 4) {
    int32_t rest = static_cast<int32_t>(code);
    for (int32_t i = 0; i < digit; ++i) rest /= levels;
    centred = rest % levels - (levels - 1) / 2;
  } else {
    const int32_t nb = cls == 3 ? 3 : cls - 1;
    centred = static_cast<double>(code) - ((1 << (nb - 1)) - 1);
  }
  return centred * 2.0 / levels * std::exp2(-scale / 3.0) * 65536.0;
}

int32_t PartScale(const TLayer2FrameLayout& layout, int32_t slot, int32_t part) {
  const auto& sf = layout.Scale[static_cast<size_t>(slot)];
  switch (layout.Scfsi[static_cast<size_t>(slot)]) {
    case 0:
      return sf[static_cast<size_t>(part)];
    case 1:
      return part < 2 ? sf[0] : sf[2];
    case 2:
      return sf[0];
    default:
      return part == 0 ? sf[0] : sf[1];
  }
}

// A deterministic code for every (granule, slot, sample) within the class's range.
uint32_t PatternCode(int32_t granule, int32_t slot, int32_t sample, int32_t cls) {
  const uint32_t mix = static_cast<uint32_t>(granule * 7919 + slot * 104729 + sample * 31);
  if (cls == 1) return granule == 0 ? 0 : granule == 1 ? 26 : mix % 27;
  if (cls == 2) return mix % 125;
  if (cls == 4) return mix % 729;
  const int32_t nb = cls == 3 ? 3 : cls - 1;
  return mix % ((1u << nb) - 1);  // the all-ones code is not used by the standard
}

class Layer2Frames : public ::testing::Test {
 protected:
  void SetUp() override { DecoderSelectRoutines(CpuFpu); }

  // Opens for the frame's header with the given bandwidth and decodes the frame.
  TDecodeResult OpenAndDecode(const TLayer2FrameLayout& layout, const std::vector<uint8_t>& frame,
                              int32_t bandwidth = 24000) {
    int32_t length = 0;
    const TMPEGHeader header = ParsedHeader(layout.Header, length);
    EXPECT_EQ(DecoderOpenStream(header, length, 0, 0, 0, bandwidth), 1);
    return DecoderDecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), pcm_.data());
  }

  // The class of each slot of table a for allocation `value` of every slot's group.
  static TLayer2FrameLayout FullTableA(int32_t mode, int32_t modeExtension) {
    TLayer2FrameLayout layout;
    layout.Header.Mode = mode;
    layout.Header.ModeExtension = modeExtension;
    layout.Table = AllocTableA;
    const int32_t slots = 54;
    layout.Allocation.resize(slots);
    layout.Scfsi.resize(slots);
    layout.Scale.resize(slots);
    for (int32_t j = 0; j < slots; ++j) {
      const int32_t subband = j / 2;
      const int32_t maxValue = subband < 11 ? 15 : subband < 23 ? 7 : 3;
      layout.Allocation[static_cast<size_t>(j)] = 1 + (j * 5) % maxValue;
      layout.Scfsi[static_cast<size_t>(j)] = j % 4;
      layout.Scale[static_cast<size_t>(j)] = {j % 60, (j * 3) % 61, (j * 3) % 61};
    }
    return layout;
  }

  static int32_t ClassOf(const TLayer2FrameLayout& layout, int32_t slot) {
    const TAllocationTable& table = AllocationTables[static_cast<size_t>(layout.Table)];
    int32_t start = 0;
    for (const TAllocationGroup& g : table.Groups) {
      if (slot < start + 2 * g.Size) {
        return g.Classes[static_cast<size_t>(layout.Allocation[static_cast<size_t>(slot)])];
      }
      start += 2 * g.Size;
    }
    return 0;
  }

  static float Sample(int32_t row, int32_t slot) {
    return TheDecoder.Layer12.Samples[static_cast<size_t>(row * 64 + slot)];
  }

  std::array<int16_t, 2304> pcm_{};
};

TEST_F(Layer2Frames, DequantisesEveryClassWithItsScaleFactorPart) {
  TLayer2FrameLayout layout = FullTableA(0, 0);
  layout.Code = [&](int32_t g, int32_t j, int32_t i) {
    return PatternCode(g, j, i, ClassOf(layout, j));
  };
  const std::vector<uint8_t> frame = BuildLayer2Frame(layout, 576);
  const TDecodeResult result = OpenAndDecode(layout, frame);
  EXPECT_EQ(result.Consumed, 576);
  EXPECT_EQ(result.Written, 4608);
  for (int32_t g = 0; g < 12; ++g) {
    for (int32_t j = 0; j < 54; ++j) {
      const int32_t cls = ClassOf(layout, j);
      const int32_t scale = PartScale(layout, j, g / 4);
      for (int32_t i = 0; i < 3; ++i) {
        const uint32_t code = layout.Code(g, j, cls == 1 || cls == 2 || cls == 4 ? 0 : i);
        const double expected = Dequantised(cls, code, i, scale);
        ASSERT_NEAR(Sample(3 * g + i, j), expected, 1e-5 * std::abs(expected) + 1e-6)
            << "granule " << g << " slot " << j << " sample " << i << " class " << cls;
      }
    }
  }
  // Subbands above the 27 coded ones stay zero.
  for (int32_t j = 54; j < 64; ++j) EXPECT_EQ(Sample(0, j), 0.0f);
}

TEST_F(Layer2Frames, GroupedCodesGiveTheirCentredDigits) {
  TLayer2FrameLayout layout = FullTableA(0, 0);
  layout.Allocation.assign(54, 0);
  layout.Allocation[0] = 1;  // subband 0 left: 3 levels, grouped in 5 bits
  layout.Scale[0] = {0, 0, 0};
  layout.Scfsi[0] = 2;
  layout.Code = [](int32_t g, int32_t, int32_t) { return g == 0 ? 0u : 26u; };
  OpenAndDecode(layout, BuildLayer2Frame(layout, 576));
  const float unit = 2.0f / 3.0f * 65536.0f;
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_FLOAT_EQ(Sample(i, 0), -unit);     // code 0: -1, -1, -1
    EXPECT_FLOAT_EQ(Sample(3 + i, 0), unit);  // code 26: 1, 1, 1
  }
}

TEST_F(Layer2Frames, JointStereoSharesSamplesAboveTheBound) {
  TLayer2FrameLayout layout = FullTableA(1, 1);  // bound at subband 8
  layout.Code = [&](int32_t g, int32_t j, int32_t i) {
    return PatternCode(g, j, i, ClassOf(layout, j));
  };
  for (int32_t j = 17; j < 54; j += 2) {
    layout.Allocation[static_cast<size_t>(j)] = layout.Allocation[static_cast<size_t>(j - 1)];
  }
  OpenAndDecode(layout, BuildLayer2Frame(layout, 576));
  for (int32_t g = 0; g < 12; ++g) {
    for (int32_t j = 0; j < 54; ++j) {
      const int32_t codeSlot = j >= 16 ? j & ~1 : j;  // one sample set per pair above the bound
      const int32_t cls = ClassOf(layout, j);
      for (int32_t i = 0; i < 3; ++i) {
        const uint32_t code = layout.Code(g, codeSlot, cls == 1 || cls == 2 || cls == 4 ? 0 : i);
        const double expected = Dequantised(cls, code, i, PartScale(layout, j, g / 4));
        ASSERT_NEAR(Sample(3 * g + i, j), expected, 1e-5 * std::abs(expected) + 1e-6)
            << "granule " << g << " slot " << j;
      }
    }
  }
}

TEST_F(Layer2Frames, SubbandsAboveTheBandwidthAreSkippedAndSilent) {
  TLayer2FrameLayout layout = FullTableA(0, 0);
  layout.Code = [&](int32_t g, int32_t j, int32_t i) {
    return PatternCode(g, j, i, ClassOf(layout, j));
  };
  const std::vector<uint8_t> frame = BuildLayer2Frame(layout, 576);
  OpenAndDecode(layout, frame);
  const std::vector<float> full(TheDecoder.Layer12.Samples.begin(),
                                TheDecoder.Layer12.Samples.end());
  OpenAndDecode(layout, frame, 15000);  // (15000 x 64 + 24000) / 48000 = 20 subbands
  EXPECT_EQ(TheDecoder.Setup.BandwidthSubbands, 40);
  for (int32_t row = 0; row < 36; ++row) {
    for (int32_t j = 0; j < 64; ++j) {
      const float expected = j < 40 ? full[static_cast<size_t>(row * 64 + j)] : 0.0f;
      ASSERT_EQ(Sample(row, j), expected) << "row " << row << " slot " << j;
    }
  }
}

TEST_F(Layer2Frames, ConsumesTheOpenLengthPlusThisFramesPadding) {
  TLayer2FrameLayout layout = FullTableA(0, 0);
  layout.Allocation.assign(54, 0);
  layout.Code = [](int32_t, int32_t, int32_t) { return 0u; };
  const TDecodeResult plain = OpenAndDecode(layout, BuildLayer2Frame(layout, 576));
  EXPECT_EQ(plain.Consumed, 576);
  layout.Header.PaddingBit = 1;
  const std::vector<uint8_t> padded = BuildLayer2Frame(layout, 577);
  const TDecodeResult result =
      DecoderDecodeFrame(padded.data(), static_cast<uint32_t>(padded.size()), pcm_.data());
  EXPECT_EQ(result.Consumed, 577);
  EXPECT_EQ(result.Written, 4608);
}

TEST_F(Layer2Frames, NeverReadsPastTheAvailableBytes) {
  TLayer2FrameLayout layout = FullTableA(1, 2);
  layout.Code = [&](int32_t g, int32_t j, int32_t i) {
    return PatternCode(g, j, i, ClassOf(layout, j));
  };
  const std::vector<uint8_t> frame = BuildLayer2Frame(layout, 576);
  int32_t length = 0;
  const TMPEGHeader header = ParsedHeader(layout.Header, length);
  ASSERT_EQ(DecoderOpenStream(header, length, 0, 0, 0, 24000), 1);
  for (size_t available = 0; available <= frame.size(); available += 7) {
    // A buffer of exactly `available` bytes: the sanitizer build catches any read beyond it.
    std::vector<uint8_t> cut(frame.begin(), frame.begin() + static_cast<ptrdiff_t>(available));
    const TDecodeResult result =
        DecoderDecodeFrame(cut.data(), static_cast<uint32_t>(cut.size()), pcm_.data());
    EXPECT_EQ(result.Consumed, available >= 2 ? 576 : 0) << available;
  }
}

TEST_F(Layer2Frames, RefusesAFrameWithoutTheTwelveBitSyncAndWritesNothing) {
  TLayer2FrameLayout layout = FullTableA(0, 0);
  layout.Code = [&](int32_t g, int32_t j, int32_t i) {
    return PatternCode(g, j, i, ClassOf(layout, j));
  };
  std::vector<uint8_t> frame = BuildLayer2Frame(layout, 576);
  OpenAndDecode(layout, frame);
  frame[1] = static_cast<uint8_t>(frame[1] & 0xEF);  // MPEG-2.5 sync: 0xFFE
  pcm_.fill(0x5A5A);
  const TDecodeResult result =
      DecoderDecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), pcm_.data());
  EXPECT_EQ(result.Consumed, 0);
  EXPECT_EQ(result.Written, 0);
  for (int16_t s : pcm_) ASSERT_EQ(s, 0x5A5A);
}

// Layer I: 32 allocations of 4 bits, scale factors, 12 rows of samples.
std::vector<uint8_t> BuildLayer1Frame(const TFrameHeaderFields& header,
                                      const std::vector<int32_t>& allocation, int32_t bound,
                                      int32_t scale, uint32_t (*code)(int32_t, int32_t, int32_t),
                                      size_t length) {
  TBitWriter w;
  PutHeader(w, header);
  const auto slots = static_cast<int32_t>(allocation.size());
  auto written = [&](int32_t j) { return j < bound || j % 2 == 0; };
  for (int32_t j = 0; j < slots; ++j) {
    if (written(j)) w.Put(static_cast<uint32_t>(allocation[static_cast<size_t>(j)]), 4);
  }
  for (int32_t j = 0; j < slots; ++j) {
    if (allocation[static_cast<size_t>(j)] != 0) w.Put(static_cast<uint32_t>(scale + j % 3), 6);
  }
  for (int32_t row = 0; row < 12; ++row) {
    for (int32_t j = 0; j < slots; ++j) {
      const int32_t a = allocation[static_cast<size_t>(j)];
      if (a != 0 && written(j)) w.Put(code(row, j, a), a + 1);
    }
  }
  return w.Bytes(length);
}

double LayerIValue(int32_t a, uint32_t code, int32_t scale) {
  return (static_cast<double>(code) - ((1 << a) - 1)) * 2.0 / ((2 << a) - 1) *
         std::exp2(-scale / 3.0) * 65536.0;
}

TEST_F(Layer2Frames, LayerIReadsAllocationPlusOneBitsCentredOnTheirMiddle) {
  TFrameHeaderFields header;
  header.LayerCode = 3;
  header.Mode = 3;
  header.BitrateIndex = 12;  // 384 kbit/s at 48000 Hz: 384 bytes
  std::vector<int32_t> allocation(32, 0);
  for (int32_t j = 0; j < 31; ++j) allocation[static_cast<size_t>(j)] = 1 + j % 14;
  allocation[0] = 14;
  auto code = [](int32_t row, int32_t j, int32_t a) -> uint32_t {
    if (j == 0) return row == 0 ? 16383u : row == 1 ? 0u : 32766u;
    return static_cast<uint32_t>(row * 37 + j * 11) % ((2u << a) - 1);
  };
  const std::vector<uint8_t> frame = BuildLayer1Frame(header, allocation, 64, 5, code, 384);
  int32_t length = 0;
  const TMPEGHeader parsed = ParsedHeader(header, length);
  ASSERT_EQ(length, 384);
  ASSERT_EQ(DecoderOpenStream(parsed, length, 0, 0, 0, 24000), 1);
  const TDecodeResult result =
      DecoderDecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), pcm_.data());
  EXPECT_EQ(result.Consumed, 384);
  EXPECT_EQ(result.Written, 768);
  const auto& samples = TheDecoder.Layer12.Samples;
  EXPECT_EQ(samples[0], 0.0f);  // 16383 is the centre of 15-bit codes
  EXPECT_NEAR(samples[32], LayerIValue(14, 0, 5), 0.05);
  EXPECT_NEAR(samples[64], LayerIValue(14, 32766, 5), 0.05);
  for (int32_t row = 0; row < 12; ++row) {
    for (int32_t j = 1; j < 32; ++j) {
      const int32_t a = allocation[static_cast<size_t>(j)];
      // Subband 31 lies above the bandwidth: its bits are skipped and it stays silent.
      const double expected = j == 31 ? 0.0 : LayerIValue(a, code(row, j, a), 5 + j % 3);
      ASSERT_NEAR(samples[static_cast<size_t>(row * 32 + j)], expected,
                  1e-5 * std::abs(expected) + 1e-6)
          << "row " << row << " subband " << j;
    }
  }
}

TEST_F(Layer2Frames, LayerIJointStereoAndPaddingOfFourBytes) {
  TFrameHeaderFields header;
  header.LayerCode = 3;
  header.Mode = 1;
  header.ModeExtension = 0;  // bound at subband 4
  header.BitrateIndex = 12;
  header.PaddingBit = 1;
  std::vector<int32_t> allocation(64, 0);
  for (int32_t j = 0; j < 62; ++j) allocation[static_cast<size_t>(j)] = 1 + (j / 2) % 13;
  auto code = [](int32_t row, int32_t j, int32_t a) -> uint32_t {
    return static_cast<uint32_t>(row * 13 + j * 7) % ((2u << a) - 1);
  };
  const std::vector<uint8_t> frame = BuildLayer1Frame(header, allocation, 8, 9, code, 388);
  int32_t length = 0;
  const TMPEGHeader parsed = ParsedHeader(header, length);
  ASSERT_EQ(DecoderOpenStream(parsed, length, 0, 0, 0, 24000), 1);
  const TDecodeResult result =
      DecoderDecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), pcm_.data());
  EXPECT_EQ(result.Consumed, 388);
  EXPECT_EQ(result.Written, 1536);
  for (int32_t row = 0; row < 12; ++row) {
    for (int32_t j = 0; j < 62; ++j) {
      const int32_t a = allocation[static_cast<size_t>(j)];
      const int32_t codeSlot = j >= 8 ? j & ~1 : j;
      const double expected = LayerIValue(a, code(row, codeSlot, a), 9 + j % 3);
      ASSERT_NEAR(Sample(row, j), expected, 1e-5 * std::abs(expected) + 1e-6)
          << "row " << row << " slot " << j;
    }
  }
}

// Frames whose mode differs from the open's are decoded with the open's layout; whatever the
// mode and allocation bits say, nothing is read or written outside the frame and the buffers.
TEST_F(Layer2Frames, AnyModeInAnyLayoutDecodesWithinBounds) {
  struct Layout {
    int32_t Layer, Bitrate, Rate, Version, Mode;
  };
  const Layout layouts[] = {
      {2, 10, 1, 1, 3}, {2, 1, 0, 1, 3}, {2, 1, 2, 1, 3},  {2, 8, 1, 0, 3},
      {2, 10, 0, 1, 0}, {2, 8, 1, 0, 1}, {3, 12, 0, 1, 3}, {3, 12, 0, 1, 2},
  };
  std::vector<uint8_t> noise(2000);
  uint32_t state = 12345;
  for (uint8_t& b : noise) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(state >> 24);
  }
  for (const Layout& l : layouts) {
    TFrameHeaderFields open;
    open.LayerCode = l.Layer;
    open.BitrateIndex = l.Bitrate;
    open.SampleRateIndex = l.Rate;
    open.VersionId = l.Version;
    open.Mode = l.Mode;
    int32_t length = 0;
    const TMPEGHeader header = ParsedHeader(open, length);
    for (uint8_t options = 0; options < 4; ++options) {
      ASSERT_EQ(DecoderOpenStream(header, length, 0, 0, options, 24000), 1);
      for (int32_t mode = 0; mode < 16; ++mode) {
        TFrameHeaderFields frameLayout = open;
        frameLayout.Mode = mode >> 2;
        frameLayout.ModeExtension = mode & 3;
        TBitWriter w;
        PutHeader(w, frameLayout);
        std::vector<uint8_t> frame = w.Bytes(4);
        frame.insert(frame.end(), noise.begin(), noise.begin() + length);
        const TDecodeResult r =
            DecoderDecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), pcm_.data());
        EXPECT_EQ(r.Written, TheDecoder.Setup.PcmBytesPerFrame);
        for (float v : TheDecoder.Layer12.Samples) ASSERT_TRUE(std::isfinite(v));
      }
    }
  }
}

}  // namespace
}  // namespace tunewell::test
