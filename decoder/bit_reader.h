#pragma once
// Bit reader over caller-owned bytes: most significant bit first, whole bytes loaded into a
// 64-bit accumulator whose top bit is the next bit to read. Bytes at or beyond the readable count
// read as zeros, so no header or allocation can make it read outside its input.

#include <cstdint>

namespace tunewell {

class TBitReader {
 public:
  void Start(const uint8_t* data, uint32_t size) {
    data_ = data;
    size_ = size;
    next_ = 0;
    accumulator_ = 0;
    available_ = 0;
  }

  // Reads n bits, 0 <= n <= 24.
  uint32_t Read(int32_t n) { return static_cast<uint32_t>(ReadWide(n)); }

  // Reads n bits, 0 <= n <= 56.
  uint64_t ReadWide(int32_t n) {
    if (n == 0) return 0;
    if (n > available_) Refill();
    const uint64_t value = accumulator_ >> (64 - n);
    accumulator_ <<= n;
    available_ -= n;
    return value;
  }

  // Drops n bits without reading them.
  void Skip(uint32_t n) {
    if (n <= static_cast<uint32_t>(available_)) {
      accumulator_ <<= n;
      available_ -= static_cast<int32_t>(n);
      return;
    }
    const uint32_t beyond = n - static_cast<uint32_t>(available_);
    next_ += beyond / 8;
    available_ = 8 - static_cast<int32_t>(beyond % 8);
    accumulator_ = uint64_t{LoadByte()} << (56 + beyond % 8);
  }

  // Bits consumed since Start.
  uint32_t Position() const { return next_ * 8 - static_cast<uint32_t>(available_); }

 private:
  uint32_t LoadByte() { return next_ < size_ ? data_[next_++] : (++next_, 0u); }

  // Tops the accumulator up with whole bytes to 56 bits or more; eight bytes at once while they
  // lie inside the input.
  void Refill() {
    const int32_t bytes = (63 - available_) / 8;
    if (size_ >= 8 && next_ <= size_ - 8) {
      uint64_t word = 0;
      for (int32_t i = 0; i < 8; ++i) word = (word << 8) | data_[next_ + static_cast<uint32_t>(i)];
      accumulator_ |= (word >> (64 - 8 * bytes)) << (64 - available_ - 8 * bytes);
      next_ += static_cast<uint32_t>(bytes);
      available_ += 8 * bytes;
      return;
    }
    for (int32_t i = 0; i < bytes; ++i) {
      accumulator_ |= uint64_t{LoadByte()} << (56 - available_);
      available_ += 8;
    }
  }

  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t next_ = 0;
  uint64_t accumulator_ = 0;
  int32_t available_ = 0;
};

}  // namespace tunewell
