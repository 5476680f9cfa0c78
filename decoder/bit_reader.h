#pragma once
// Bit reader over caller-owned bytes: most significant bit first, whole bytes loaded into a
// 32-bit accumulator. Bytes at or beyond the readable count read as zeros, so no header or
// allocation can make it read outside its input.

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
  uint32_t Read(int32_t n) {
    if (n == 0) return 0;
    if (n > available_) {
      while (available_ < 25) {
        accumulator_ = (accumulator_ << 8) | LoadByte();
        available_ += 8;
      }
    }
    available_ -= n;
    const uint32_t value = accumulator_ >> available_;
    accumulator_ &= (1u << available_) - 1;
    return value;
  }

  // Drops n bits without reading them.
  void Skip(uint32_t n) {
    if (n <= static_cast<uint32_t>(available_)) {
      Read(static_cast<int32_t>(n));
      return;
    }
    const uint32_t beyond = n - static_cast<uint32_t>(available_);
    next_ += beyond / 8;
    accumulator_ = LoadByte();
    available_ = 8 - static_cast<int32_t>(beyond % 8);
    accumulator_ &= (1u << available_) - 1;
  }

  // Bits consumed since Start.
  uint32_t Position() const { return next_ * 8 - static_cast<uint32_t>(available_); }

 private:
  uint32_t LoadByte() { return next_ < size_ ? data_[next_++] : (++next_, 0u); }

  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t next_ = 0;
  uint32_t accumulator_ = 0;
  int32_t available_ = 0;
};

}  // namespace tunewell
