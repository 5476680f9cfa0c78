// Layer III stages on their own: Huffman decoding, scale factors, requantisation, stereo and the
// hybrid filterbank, each on hand-made input.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "decoder/layer3_open.h"
#include "decoder/layer3_state.h"
#include "decoder/layer3_tables.h"
#include "tests/decoder/frame_builder.h"

namespace tunewell::test {
namespace {

const double Pi = std::acos(-1.0);

// A reader over bytes written by TBitWriter, with the overrun mark far away.
struct Bits {
  std::vector<uint8_t> Bytes;
  BitReader Reader;
  explicit Bits(const TBitWriter& w, size_t pad = 8) : Bytes(w.Bytes(0)) {
    Bytes.resize(Bytes.size() + pad, 0);
    Reader.StartAt(Bytes.data(), Bytes.data() + Bytes.size());
    Reader.End = Bytes.data() + Bytes.size();
  }
};

void PutBits(TBitWriter& w, const std::string& code) {
  for (char c : code) w.Put(c == '1' ? 1 : 0, 1);
}

// ---- Huffman ----

struct Code {
  int32_t X, Y;
  std::string Bits;
};

// The big-value codes of ../shared/tables/layer3-huffman.txt by table.
std::map<int32_t, std::vector<Code>> ReadHuffmanCodes() {
  std::map<int32_t, std::vector<Code>> tables;
  std::ifstream in(std::string(TW_SHARED_DIR) + "/tables/layer3-huffman.txt");
  std::string line;
  std::vector<Code>* current = nullptr;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first == "table") {
      int32_t t = 0;
      words >> t;
      current = &tables[t];
    } else if (first == "count1") {
      current = nullptr;
    } else if (current != nullptr) {
      Code c{std::stoi(first), 0, {}};
      int32_t length = 0;
      words >> c.Y >> length >> c.Bits;
      current->push_back(c);
    }
  }
  return tables;
}

constexpr std::array<int32_t, 32> Linbits{0, 0, 0, 0, 0, 0, 0,  0,  0, 0, 0, 0, 0, 0, 0,  0,
                                          1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};

// Every code of every table_select, with signs and escapes, decodes to its pair in the order
// written: the generated lookups hold the standard's codes, values and linbits.
TEST(Layer3Huffman, EveryCodeOfEveryTableDecodes) {
  const auto tables = ReadHuffmanCodes();
  if (tables.empty()) GTEST_SKIP() << "no standard tables in " << TW_SHARED_DIR;
  for (int32_t select = 1; select < 32; ++select) {
    if (select == 4 || select == 14) continue;
    const int32_t codeTable = select < 16 ? select : (select < 24 ? 16 : 24);
    const auto& codes = tables.at(codeTable);
    TBitWriter w;
    std::vector<int32_t> expected;
    int32_t n = 0;
    for (const Code& c : codes) {
      PutBits(w, c.Bits);
      int32_t values[2] = {c.X, c.Y};
      for (int32_t& v : values) {
        uint32_t escape = 0;
        if (v == 15 && Linbits[select] > 0) {
          escape = static_cast<uint32_t>(n++ % ((1 << Linbits[select]) - 1) + 1);
          w.Put(escape, Linbits[select]);
          v += static_cast<int32_t>(escape);
        }
        if (v != 0) {
          const bool negative = (n++ % 3) == 0;
          w.Put(negative ? 1 : 0, 1);
          if (negative) v = -v;
        }
        expected.push_back(v);
      }
    }
    Bits bits(w);
    std::vector<int32_t> decoded(expected.size(), 99);
    DecodeBigValues(bits.Reader, decoded.data(), static_cast<int32_t>(decoded.size()), select);
    EXPECT_EQ(decoded, expected) << "table_select " << select;
  }
}

TEST(Layer3Huffman, LargestEscapesAndZeroTables) {
  struct Case {
    int32_t Select;
    uint32_t Escape;
    int32_t Expected;
  };
  // Table 16 codes (15, 0) as 111111111 ... read from the shared file's table 16.
  const auto tables = ReadHuffmanCodes();
  if (tables.empty()) GTEST_SKIP() << "no standard tables";
  auto escapeCode = [&](int32_t codeTable) {
    for (const Code& c : tables.at(codeTable)) {
      if (c.X == 15 && c.Y == 0) return c.Bits;
    }
    return std::string();
  };
  for (const Case& k : {Case{16, 1, 16}, Case{23, 8191, 15 + 8191}, Case{31, 8191, 15 + 8191}}) {
    TBitWriter w;
    PutBits(w, escapeCode(k.Select < 24 ? 16 : 24));
    w.Put(k.Escape, Linbits[k.Select]);
    w.Put(0, 1);  // sign +
    Bits bits(w);
    std::array<int32_t, 2> out{};
    DecodeBigValues(bits.Reader, out.data(), 2, k.Select);
    EXPECT_EQ(out[0], k.Expected) << k.Select;
    EXPECT_EQ(out[1], 0);
  }
  for (int32_t select : {0, 4, 14}) {
    TBitWriter w;
    w.Put(0xFFFF, 16);
    Bits bits(w);
    std::array<int32_t, 6> out{1, 1, 1, 1, 1, 1};
    DecodeBigValues(bits.Reader, out.data(), 6, select);
    EXPECT_EQ(out, (std::array<int32_t, 6>{}));
    EXPECT_EQ(bits.Reader.BitPosition(), 0) << "table " << select << " read bits";
  }
}

// Count1 table B codes are the inverted values: easy to write by hand.
void PutCount1B(TBitWriter& w, uint32_t value, uint32_t signs) {
  w.Put(value ^ 15u, 4);
  int32_t n = 0;
  for (int32_t i = 3; i >= 0; --i) {
    if ((value >> i) & 1) w.Put((signs >> n++) & 1, 1);
  }
}

TEST(Layer3Huffman, Count1ResultCountsToTheLastNonZeroValue) {
  struct Case {
    uint32_t LastValue;  // v w x y of quadruple 3
    int32_t Expected;
  };
  for (const Case& k : {Case{0b1100, 14}, Case{0b0001, 16}, Case{0b0010, 16}, Case{0b1000, 14}}) {
    TBitWriter w;
    for (int32_t q = 0; q < 3; ++q) PutCount1B(w, 0, 0);
    PutCount1B(w, k.LastValue, 0b10);
    const int32_t bitsUsed = 16 + std::popcount(k.LastValue);
    for (int32_t q = 0; q < 4; ++q) PutCount1B(w, 0, 0);  // beyond part2_3_length
    Bits bits(w);
    std::array<int32_t, 32> out{};
    EXPECT_EQ(DecodeCount1(bits.Reader, out.data(), 32, bitsUsed, 1), k.Expected);
  }
}

TEST(Layer3Huffman, Count1OverrunLosesItsLastQuadruple) {
  for (const int32_t shortBy : {0, 1}) {
    TBitWriter w;
    PutCount1B(w, 0b1001, 0b01);  // (-1, 0, 0, +1)
    PutCount1B(w, 0b0110, 0b00);  // (0, +1, +1, 0)
    Bits bits(w);
    std::array<int32_t, 8> out{};
    out.fill(7);
    const int32_t bitsLeft = 2 * 4 + 4 - shortBy;
    const int32_t count = DecodeCount1(bits.Reader, out.data(), 40, bitsLeft, 1);
    EXPECT_EQ((std::array<int32_t, 4>{out[0], out[1], out[2], out[3]}),
              (std::array<int32_t, 4>{-1, 0, 0, 1}));
    if (shortBy == 0) {
      EXPECT_EQ((std::array<int32_t, 4>{out[4], out[5], out[6], out[7]}),
                (std::array<int32_t, 4>{0, 1, 1, 0}));
    } else {
      EXPECT_EQ((std::array<int32_t, 4>{out[4], out[5], out[6], out[7]}),
                (std::array<int32_t, 4>{0, 0, 0, 0}));
    }
    EXPECT_EQ(count, 8);  // the remembered value is not cleared
  }
}

// ---- Scale factors ----

GranuleInfo LongGranule(int32_t sfc) {
  GranuleInfo g{};
  g.ScalefacCompress = sfc;
  return g;
}

TEST(Layer3ScaleFactors, Mpeg1ReuseAndOmission) {
  ScaleFactors granule0{};
  for (int32_t b = 0; b < 21; ++b) granule0[b] = b % 8;
  struct Case {
    const char* What;
    int32_t BlockType, Scfsi, Granule, Sfc;
    int32_t BitsRead;
  };
  // slen (2, 3) for scalefac_compress 10.
  const Case cases[] = {
      {"granule 1, scfsi 1111: all reused", 0, 0b1111, 1, 10, 0},
      {"granule 1, scfsi 1010: groups 2 and 4 read", 0, 0b1010, 1, 10, 5 * 2 + 5 * 3},
      {"granule 1, short block ignores scfsi", 2, 0b1111, 1, 10, 18 * 2 + 18 * 3},
      {"granule 0 long", 0, 0b1111, 0, 10, 11 * 2 + 10 * 3},
      {"scalefac_compress 0 reads nothing", 0, 0, 0, 0, 0},
  };
  for (const Case& k : cases) {
    TBitWriter w;
    for (int32_t i = 0; i < 40; ++i) w.Put(0xFFFF, 16);
    Bits bits(w);
    GranuleInfo g = LongGranule(k.Sfc);
    g.BlockType = k.BlockType;
    ScaleFactors dest{};
    dest.fill(-1);
    ReadScaleFactorsMpeg1(bits.Reader, g, k.Scfsi, k.Granule, granule0, dest);
    EXPECT_EQ(bits.Reader.BitPosition(), k.BitsRead) << k.What;
    if (k.Scfsi == 0b1111 && k.BlockType == 0 && k.Granule == 1) {
      for (int32_t b = 0; b < 21; ++b) EXPECT_EQ(dest[b], granule0[b]) << b;
    }
    if (k.Scfsi == 0b1010) {
      EXPECT_EQ(dest[0], granule0[0]);
      EXPECT_EQ(dest[6], 3);  // read with slen1 = 2
      EXPECT_EQ(dest[11], granule0[11]);
      EXPECT_EQ(dest[16], 7);  // read with slen2 = 3
    }
    if (k.Sfc == 0) {
      EXPECT_EQ(dest[5], 0);
    }
  }
}

TEST(Layer3ScaleFactors, LowerFrequencyPartitionsPreflagAndIntensity) {
  {
    // sfc 507: table 2, slen (2, 1), preflag set.
    TBitWriter w;
    for (int32_t b = 0; b < 11; ++b) w.Put(static_cast<uint32_t>(b % 4), 2);
    for (int32_t b = 11; b < 21; ++b) w.Put(1, 1);
    Bits bits(w);
    GranuleInfo g = LongGranule(507);
    IntensityInfo intensity{};
    ScaleFactors dest{};
    ReadScaleFactorsLsf(bits.Reader, g, false, intensity, dest);
    EXPECT_EQ(g.Preflag, 1);
    EXPECT_EQ(bits.Reader.BitPosition(), 11 * 2 + 10);
    EXPECT_EQ(dest[10], 2);
    EXPECT_EQ(dest[20], 1);
    EXPECT_EQ(dest[21], 0);
  }
  {
    // Right channel with intensity, sfc 361: intensity_scale 1, table 4, all slen 0.
    TBitWriter w;
    w.Put(0xFFFF, 16);
    Bits bits(w);
    GranuleInfo g = LongGranule(361);
    IntensityInfo intensity{};
    ScaleFactors dest{};
    dest.fill(5);
    ReadScaleFactorsLsf(bits.Reader, g, true, intensity, dest);
    EXPECT_EQ(bits.Reader.BitPosition(), 0);
    EXPECT_EQ(intensity.IntensityScale, 1);
    EXPECT_EQ(intensity.PartitionSizes, (std::array<int32_t, 3>{6, 6, 6}));
    EXPECT_EQ(intensity.Slen, (std::array<int32_t, 3>{0, 0, 0}));
    EXPECT_EQ(dest[0], 0);
    EXPECT_EQ(g.Preflag, 0);
  }
}

// ---- Requantisation ----

struct RequantiseFixture : ::testing::Test {
  RequantiseTables tables{};
  BandLayout layout{};
  RequantiseFixture() {
    BuildRequantiseTables(tables);
    layout = MakeBandLayout(BandBoundaryTable[0][0]);  // MPEG-1 44100 Hz
  }
};

TEST_F(RequantiseFixture, LongBlockScale) {
  GranuleInfo g = LongGranule(0);
  g.GlobalGain = 210;
  ScaleFactors sf{};
  std::array<int32_t, 576> q{};
  q[0] = 1;
  q[1] = -8;
  q[2] = 100;
  Spectrum out{};
  out.fill(9.0f);
  int32_t count = 3;
  BandInfo bands{};
  Requantise(tables, layout, 8, g, sf, q.data(), out.data(), count, bands);
  EXPECT_FLOAT_EQ(out[0], 32768.0f);
  EXPECT_FLOAT_EQ(out[1], -524288.0f);
  EXPECT_NEAR(out[2] / 32768.0, std::pow(100.0, 4.0 / 3.0), 1e-4);  // about 464.16
  EXPECT_EQ(out[3], 0.0f);
  EXPECT_EQ(out[575], 0.0f);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(bands.BlockKind, 0);
  EXPECT_EQ(bands.LastNonZeroBand, 0);
}

TEST_F(RequantiseFixture, ShortBlockReorderAndLineCount) {
  GranuleInfo g = LongGranule(0);
  g.GlobalGain = 210;
  g.BlockType = 2;
  g.WindowSwitching = 1;
  ScaleFactors sf{};
  std::array<int32_t, 576> q{};
  // Band 3 (4 lines per window) starts at line 36: window w, line k holds 1 + 4w + k.
  for (int32_t w = 0; w < 3; ++w) {
    for (int32_t k = 0; k < 4; ++k) q[static_cast<size_t>(36 + 4 * w + k)] = 1 + 4 * w + k;
  }
  Spectrum out{};
  int32_t count = 40;
  BandInfo bands{};
  Requantise(tables, layout, 8, g, sf, q.data(), out.data(), count, bands);
  EXPECT_EQ(count, 48);
  for (int32_t w = 0; w < 3; ++w) {
    for (int32_t k = 0; k < 4; ++k) {
      const double x = 1 + 4 * w + k;
      EXPECT_NEAR(out[static_cast<size_t>(36 + 3 * k + w)], std::pow(x, 4.0 / 3.0) * 32768.0, 0.5);
    }
  }
  EXPECT_EQ(bands.BlockKind, 1);
  EXPECT_EQ(bands.LastNonZeroShortBand, (std::array<int32_t, 3>{3, 3, 3}));
  EXPECT_EQ(bands.LastNonZeroBand, 3);
}

TEST_F(RequantiseFixture, EmptyChannelHasNoNonZeroBand) {
  for (const int32_t blockType : {0, 2}) {
    GranuleInfo g = LongGranule(0);
    g.GlobalGain = 210;
    g.BlockType = blockType;
    ScaleFactors sf{};
    std::array<int32_t, 576> q{};
    Spectrum out{};
    int32_t count = 0;
    BandInfo bands{};
    Requantise(tables, layout, 8, g, sf, q.data(), out.data(), count, bands);
    EXPECT_EQ(bands.LastNonZeroBand, NoNonZeroBand) << blockType;
    EXPECT_EQ(IntensityStartLine(layout, bands), 0);
  }
}

// ---- Stereo ----

TEST_F(RequantiseFixture, MidSideOfEqualChannels) {
  Spectrum m{}, s{};
  for (int32_t i = 0; i < 10; ++i) m[i] = static_cast<float>(i + 1);
  MidSide(m.data(), s.data(), 10);
  for (int32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(m[i], s[i]);
    EXPECT_EQ(m[i], static_cast<float>(i + 1));
  }
}

TEST_F(RequantiseFixture, Mpeg1IntensityOfAnEmptyRightChannelStartsAtBandZero) {
  BandInfo right{0, NoNonZeroBand, 12, 22, {11, 11, 11}};
  ScaleFactors positions{};
  positions.fill(0);
  positions[0] = 3;  // the middle: kL = kR = 1/2
  positions[1] = 7;  // illegal: left unchanged, right zero
  Spectrum left{}, rightLines{};
  left.fill(2.0f);
  IntensityMpeg1(tables, layout, false, positions, right, 576, left.data(), rightLines.data());
  EXPECT_FLOAT_EQ(left[0], 1.0f);
  EXPECT_FLOAT_EQ(rightLines[0], 1.0f);
  EXPECT_FLOAT_EQ(left[3], 1.0f);
  EXPECT_FLOAT_EQ(left[4], 2.0f);  // band 1, position 7
  EXPECT_EQ(rightLines[4], 0.0f);
  EXPECT_EQ(left[8], 0.0f);  // band 2, position 0: all to the right
  EXPECT_FLOAT_EQ(rightLines[8], 2.0f);
  EXPECT_EQ(rightLines[418], 0.0f);  // band 21 untouched
  EXPECT_EQ(left[418], 2.0f);
}

TEST_F(RequantiseFixture, Mpeg1IntensityFromTheBandAfterTheLastNonZero) {
  BandInfo right{0, 3, 12, 22, {11, 11, 11}};
  ScaleFactors positions{};
  positions.fill(0);
  Spectrum left{}, rightLines{};
  left.fill(2.0f);
  IntensityMpeg1(tables, layout, true, positions, right, 40, left.data(), rightLines.data());
  EXPECT_EQ(rightLines[15], 0.0f);  // band 3 is the right channel's own
  EXPECT_FLOAT_EQ(rightLines[16], 2.0f * std::sqrt(2.0f));
  EXPECT_FLOAT_EQ(rightLines[39], 2.0f * std::sqrt(2.0f));
  EXPECT_EQ(rightLines[40], 0.0f);  // the left channel's count ends the region
}

TEST_F(RequantiseFixture, LowerFrequencyIntensityOfAnEmptyRightChannel) {
  IntensityInfo info{{7, 7, 7}, {2, 2, 2}, 0};  // positions 0 ... 3; 3 is illegal
  BandInfo right{0, NoNonZeroBand, 12, 22, {11, 11, 11}};
  BandInfo leftBands{0, 20, 12, 22, {11, 11, 11}};
  ScaleFactors positions{};
  positions[0] = 1;  // odd: kL = io, kR = 1
  positions[1] = 3;  // illegal
  positions[2] = 2;  // even: kL = 1, kR = io
  Spectrum left{}, rightLines{};
  left.fill(1.0f);
  IntensityLsf(tables, layout, false, info, positions, leftBands, right, 576, left.data(),
               rightLines.data());
  const float io = std::pow(2.0f, -0.25f);
  EXPECT_FLOAT_EQ(left[0], io);
  EXPECT_FLOAT_EQ(rightLines[0], 1.0f);
  EXPECT_FLOAT_EQ(left[4], 1.0f);
  EXPECT_EQ(rightLines[4], 0.0f);
  EXPECT_FLOAT_EQ(left[8], 1.0f);
  EXPECT_FLOAT_EQ(rightLines[8], io);
}

// ---- Hybrid filterbank ----

// x[i] = sum_k X[k] cos(pi / 2n (2i + 1 + n/2)(2k + 1)).
std::vector<double> InverseMdct(const std::vector<double>& in, int32_t n) {
  std::vector<double> x(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t k = 0; k < n / 2; ++k) {
      x[static_cast<size_t>(i)] +=
          in[static_cast<size_t>(k)] * std::cos(Pi / (2 * n) * (2 * i + 1 + n / 2.0) * (2 * k + 1));
    }
  }
  return x;
}

TEST(Layer3Hybrid, KernelsMeetTheirContracts) {
  std::array<float, 18> p;
  std::vector<double> in(18);
  for (int32_t k = 0; k < 18; ++k) p[k] = static_cast<float>(in[k] = std::sin(k * 1.7) * 1000);
  Imdct36Portable(p.data());
  const auto x = InverseMdct(in, 36);
  for (int32_t j = 0; j < 9; ++j) {
    EXPECT_NEAR(p[9 + j], x[j], 1e-2);
    EXPECT_NEAR(p[j], -x[26 - j], 1e-2);
  }
  for (int32_t k = 0; k < 18; ++k) p[k] = static_cast<float>(in[k] = std::cos(k * 2.3) * 1000);
  Imdct12Portable(p.data());
  for (int32_t w = 0; w < 3; ++w) {
    std::vector<double> window(6);
    for (int32_t k = 0; k < 6; ++k) window[k] = in[3 * k + w];
    const auto xw = InverseMdct(window, 12);
    for (int32_t j = 0; j < 3; ++j) {
      EXPECT_NEAR(p[6 * w + 3 + j], xw[j], 1e-2);
      EXPECT_NEAR(p[6 * w + j], -xw[8 - j], 1e-2);
    }
  }
}

struct HybridFixture : ::testing::Test {
  HybridTables tables{};
  HybridContext context{};
  HybridFixture() {
    BuildHybridTables(tables);
    context = {&tables, Imdct36Portable, Imdct12Portable, 31};
  }
};

TEST_F(HybridFixture, SilentGranuleAfterALoudOne) {
  Spectrum a{}, b{};
  std::array<float, 576> out{};
  for (int32_t i = 0; i < 100; ++i) a[i] = static_cast<float>(1000 - i);
  // Loud granule into buffer a (overlap from the cleared b).
  const int32_t loud = HybridPortable(context, a.data(), b.data(), out.data(), 0, 100, 100, 0);
  EXPECT_EQ(loud, 108);
  // Silent granule: buffer b holds no spectrum; the output is a's overlap.
  const int32_t silent = HybridPortable(context, b.data(), a.data(), out.data(), 0, 0, 0, 108);
  EXPECT_EQ(silent, 108);
  for (int32_t s = 0; s < 6; ++s) {
    for (int32_t t = 0; t < 18; ++t) EXPECT_EQ(out[32 * t + s], a[18 * s + t]);
  }
  bool anyOverlap = false;
  for (int32_t i = 0; i < 108; ++i) anyOverlap |= a[i] != 0.0f;
  EXPECT_TRUE(anyOverlap);
  // The granule after that, silent too, outputs zeros: the silent granule left no overlap.
  a.fill(0.0f);
  HybridPortable(context, a.data(), b.data(), out.data(), 0, 0, 0, static_cast<uint32_t>(silent));
  for (float v : out) EXPECT_EQ(v, 0.0f);
}

TEST_F(HybridFixture, SubbandThirtyOneStaysZero) {
  Spectrum a{}, b{};
  std::array<float, 576> out{};
  out[31] = 0.0f;
  for (int32_t i = 0; i < 558; ++i) a[i] = 1.0f;
  HybridPortable(context, a.data(), b.data(), out.data(), 0, 558, 558, 0);
  for (int32_t t = 0; t < 18; ++t) EXPECT_EQ(out[32 * t + 31], 0.0f);
}

TEST(Layer3Hybrid, AliasReductionBoundaries) {
  Spectrum x{};
  x.fill(1.0f);
  Spectrum y = x;
  AntialiasPortable(y.data(), 5);
  EXPECT_NE(y[97], 1.0f);  // boundary 4 reaches line 90 + 7
  EXPECT_EQ(y[98], 1.0f);
  EXPECT_NE(y[17], 1.0f);
  EXPECT_EQ(y[9], 1.0f);
  AntialiasPortable(x.data(), 0);
  for (float v : x) EXPECT_EQ(v, 1.0f);
}

TEST(Layer3Hybrid, FrequencyInversionBelowTheResultOnly) {
  std::array<float, 576> out;
  out.fill(1.0f);
  InvertOddSubbands(out.data(), 36);
  for (int32_t t = 0; t < 18; ++t) {
    for (int32_t s = 0; s < 32; ++s) {
      const bool inverted = s == 1 && t % 2 == 1;
      EXPECT_EQ(out[32 * t + s], inverted ? -1.0f : 1.0f) << s << " " << t;
    }
  }
}

// A mixed block: the normal window for the first two subbands, the short transform above them.
TEST_F(HybridFixture, MixedBlockUsesNormalWindowThenShort) {
  Spectrum mixed{}, reference{}, zeros{};
  for (int32_t i = 0; i < 72; ++i) mixed[i] = static_cast<float>((i * 37) % 11 - 5);
  reference = mixed;
  std::array<float, 576> outMixed{}, outLong{}, outShort{};
  HybridPortable(context, mixed.data(), zeros.data(), outMixed.data(), 2 | MixedBlockWindows, 36,
                 72, 0);
  Spectrum asLong = reference, asShort = reference;
  HybridPortable(context, asLong.data(), zeros.data(), outLong.data(), 0, 72, 72, 0);
  HybridPortable(context, asShort.data(), zeros.data(), outShort.data(), 2, 0, 72, 0);
  for (int32_t t = 0; t < 18; ++t) {
    for (int32_t s = 0; s < 4; ++s) {
      const auto& expected = s < 2 ? outLong : outShort;
      EXPECT_FLOAT_EQ(outMixed[32 * t + s], expected[32 * t + s]) << s << " " << t;
    }
  }
}

}  // namespace
}  // namespace tunewell::test
