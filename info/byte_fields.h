#pragma once
// Field readers shared by the tag and container steps. Every size read from a file is
// untrusted: sums are formed in 64 bits and checked before they reach the reader.

#include <cstdint>
#include <cstring>
#include <string_view>

#include "stream/MPStreamReader.h"

namespace tunewell::info_detail {

inline int32_t BigEndian32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 |
                              static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
                              p[3]);
}

inline int32_t LittleEndian32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[3]) << 24 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 |
                              p[0]);
}

inline bool BytesAre(const uint8_t* p, std::string_view text) {
  return std::memcmp(p, text.data(), text.size()) == 0;
}

constexpr int64_t RoundUpEven(int64_t n) {
  return (n + 1) / 2 * 2;
}

// Ensure that never asks the reader for more than its buffer holds.
inline bool EnsureBytes(TMPStreamReader& reader, int64_t n) {
  return n >= 0 && n <= reader.Capacity() && reader.Ensure(static_cast<int32_t>(n));
}

// Skip of a count that may exceed the reader's 32-bit range: taken in pieces, so a claim larger
// than any file ends like any other skip past the end.
inline bool SkipBytes(TMPStreamReader& reader, int64_t n) {
  if (n < 0) return false;
  while (n > INT32_MAX) {
    if (!reader.Skip(INT32_MAX)) return false;
    n -= INT32_MAX;
  }
  return reader.Skip(static_cast<int32_t>(n));
}

// Seek from the beginning of a seekable reader; false for a target outside 0 ... Size.
inline bool SeekTo(TMPStreamReader& reader, int64_t offset) {
  if (offset < 0 || offset > reader.Size()) return false;
  reader.Seek(static_cast<int32_t>(offset), 0);
  return true;
}

// A 32-bit sum kept at the largest 32-bit value instead of wrapping.
constexpr int32_t SaturatedSum(int64_t a, int64_t b) {
  int64_t sum = a + b;
  return sum > INT32_MAX ? INT32_MAX : sum < INT32_MIN ? INT32_MIN : static_cast<int32_t>(sum);
}

}  // namespace tunewell::info_detail
