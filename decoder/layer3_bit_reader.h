#pragma once
// The bit reader of all Layer III parsing: whole bytes into a 32-bit accumulator, most
// significant bit first. Bytes at or past `Limit` read as zero, so no read leaves its buffer.

#include <cstdint>

namespace tunewell {

struct BitReader {
  const uint8_t* Next = nullptr;
  const uint8_t* Start = nullptr;
  const uint8_t* End = nullptr;  // overrun mark
  const uint8_t* Limit = nullptr;
  uint32_t Accumulator = 0;
  int32_t Available = 0;

  void StartAt(const uint8_t* address, const uint8_t* limit) {
    Next = Start = address;
    Limit = limit;
    Accumulator = 0;
    Available = 0;
  }

  void LoadByte() {
    const uint32_t byte = Next < Limit ? *Next : 0u;
    ++Next;
    Accumulator = (Accumulator << 8) | byte;
    Available += 8;
  }

  // Whole bytes until at least 25 bits are held; four at once while they lie inside the input.
  void Refill() {
    const int32_t bytes = (32 - Available) >> 3;
    if (bytes <= 0) return;
    if (Limit - Next >= 4) {
      const uint32_t word = static_cast<uint32_t>(Next[0]) << 24 |
                            static_cast<uint32_t>(Next[1]) << 16 |
                            static_cast<uint32_t>(Next[2]) << 8 | Next[3];
      const uint64_t widened = (uint64_t{Accumulator} << (8 * bytes)) | (word >> (32 - 8 * bytes));
      Accumulator = static_cast<uint32_t>(widened);
      Next += bytes;
      Available += 8 * bytes;
      return;
    }
    while (Available < 25) LoadByte();
  }

  // Takes n bits, 0 <= n <= 24, that the accumulator already holds.
  uint32_t Take(int32_t n) {
    Available -= n;
    const uint32_t value = Accumulator >> Available;
    Accumulator &= (uint32_t{1} << Available) - 1;
    return value;
  }

  uint32_t Read(int32_t n) {
    if (n > Available) Refill();
    return Take(n);
  }

  // Read with room for the two sign bits that may follow (escape values).
  uint32_t ReadWithMargin(int32_t n) {
    if (Available < n + 2) Refill();
    return Take(n);
  }

  uint32_t Peek(int32_t n) {
    if (Available <= 10) Refill();
    return Accumulator >> (Available - n);
  }

  int32_t BitPosition() const { return static_cast<int32_t>(Next - Start) * 8 - Available; }
  bool Overran() const { return Next > End; }
};

}  // namespace tunewell
