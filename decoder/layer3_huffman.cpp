// Layer III Huffman decoding: big-value pairs through multi-level lookups, count1 quadruples.

#include <cstddef>

#include "decoder/layer3_state.h"
#include "decoder/layer3_tables.h"

namespace tunewell {

namespace {

constexpr int32_t EscapeValue = 15;

int32_t WithSign(BitReader& r, int32_t value) {
  return r.Take(1) != 0 ? -value : value;
}

// Walks the lookup levels of one code; returns the leaf entry.
uint32_t LookupPair(BitReader& r, const uint16_t* codes, int32_t width, bool escaped) {
  const uint16_t* table = codes;
  for (;;) {
    if (escaped) {
      r.Peek(width);
    } else if (r.Available < 11) {
      r.Refill();
    }
    const uint32_t index = r.Accumulator >> (r.Available - width);
    const uint32_t entry = table[index];
    if ((entry & HuffmanLinkFlag) == 0) {
      r.Take(static_cast<int32_t>((entry >> 8) & 15));
      return entry;
    }
    r.Take(width);
    table = codes + (entry & 0x7FF);
    width = static_cast<int32_t>((entry >> 11) & 15);
  }
}

}  // namespace

void DecodeBigValues(BitReader& r, int32_t* dest, int32_t lines, int32_t tableSelect) {
  if (lines <= 0) return;
  const HuffmanTableDescriptor& table = HuffmanTables[static_cast<size_t>(tableSelect & 31)];
  int32_t* const end = dest + (lines & ~1);
  if (table.Kind == HuffmanKind::Zero) {
    for (int32_t* p = dest; p < end; ++p) *p = 0;
    return;
  }
  const bool escaped = table.Kind == HuffmanKind::Escaped;
  const int32_t linbits = table.Linbits;
  for (int32_t* p = dest; p < end; p += 2) {
    const uint32_t entry = LookupPair(r, table.Codes, table.RootWidth, escaped);
    int32_t x = static_cast<int32_t>((entry >> 4) & 15);
    int32_t y = static_cast<int32_t>(entry & 15);
    if (escaped && x == EscapeValue) x += static_cast<int32_t>(r.ReadWithMargin(linbits));
    if (x != 0) x = WithSign(r, x);
    if (escaped && y == EscapeValue) y += static_cast<int32_t>(r.ReadWithMargin(linbits));
    if (y != 0) y = WithSign(r, y);
    p[0] = x;
    p[1] = y;
    if (r.Overran()) return;
  }
}

int32_t DecodeCount1(BitReader& r, int32_t* dest, int32_t lines, int32_t bitsLeft,
                     int32_t tableSelect) {
  const int32_t quadruples = lines / 4;
  int32_t lastIndex = -1;
  uint32_t lastValue = 15;
  int32_t* stored = nullptr;
  for (int32_t q = 0; q < quadruples; ++q) {
    uint32_t value;
    if (tableSelect == 0) {
      if (bitsLeft <= 0) break;
      if (r.Available < 10) r.Refill();
      const Count1Entry& entry = Count1TableA[r.Accumulator >> (r.Available - 6)];
      r.Take(entry.Length);
      bitsLeft -= entry.Length;
      value = entry.Value;
    } else {
      if (bitsLeft < 4) break;
      bitsLeft -= 4;
      if (r.Available < 8) r.Refill();
      value = r.Take(4) ^ 15u;
    }
    if (value != 0) {
      lastIndex = q;
      lastValue = value;
    }
    int32_t* p = dest + 4 * q;
    for (int32_t i = 0; i < 4; ++i) {
      if ((value >> (3 - i)) & 1) {
        p[i] = r.Take(1) != 0 ? -1 : 1;
        --bitsLeft;
      } else {
        p[i] = 0;
      }
    }
    stored = p;
    if (r.Overran()) break;
  }
  // A quadruple that runs past part2_3_length does not count.
  if (bitsLeft < 0 && stored != nullptr) stored[0] = stored[1] = stored[2] = stored[3] = 0;
  if (lastIndex < 0) return 0;
  return (lastIndex + 1) * 4 - ((lastValue & 3) == 0 ? 2 : 0);
}

}  // namespace tunewell
