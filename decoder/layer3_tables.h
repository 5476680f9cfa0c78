#pragma once
// Constant Layer III data: Huffman lookups and scalefactor band boundaries
// (defined in the generated decoder/layer3_table_data.cpp).

#include <array>
#include <cstdint>

namespace tunewell {

enum class HuffmanKind : uint8_t { Zero, OneLevel, MultiLevel, Escaped };

// Lookup entries: a leaf holds (length << 8) | (x << 4) | y; a link has bit 15 set, the next
// level's width in bits 11-14 and its start in bits 0-10.
constexpr uint16_t HuffmanLinkFlag = 0x8000;

struct HuffmanTableDescriptor {
  const uint16_t* Codes;
  uint8_t RootWidth;
  uint8_t Linbits;
  HuffmanKind Kind;
};

// Indexed by table_select.
extern const std::array<HuffmanTableDescriptor, 32> HuffmanTables;

struct Count1Entry {
  uint8_t Length;
  uint8_t Value;  // v, w, x, y in bits 3, 2, 1, 0
};

// Indexed by the next 6 bits of the stream.
extern const std::array<Count1Entry, 64> Count1TableA;

struct BandBoundaries {
  std::array<int16_t, 23> Long;   // lines 0 ... 576
  std::array<int16_t, 14> Short;  // lines of one window, 0 ... 192
};

// [0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5][SampleRateIndex]
extern const std::array<std::array<BandBoundaries, 3>, 3> BandBoundaryTable;

}  // namespace tunewell
