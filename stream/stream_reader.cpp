#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "stream/MPAssert.h"
#include "stream/MPStreamReader.h"

namespace tunewell {

namespace {

int32_t ClampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, 0, INT32_MAX));
}

}  // namespace

TMPStreamReader::TMPStreamReader(int32_t capacity) : capacity_(capacity) {
  MPAssert(capacity > 0);
}

TMPStreamReader::~TMPStreamReader() {
  Close();
}

void TMPStreamReader::RequireStream() const {
  MPAssert(stream_ != nullptr);
}

void TMPStreamReader::Open(TByteStream* source, bool seekable) {
  MPAssert(source != nullptr);
  Close();
  opened_ = true;
  stream_ = source;
  seekable_ = seekable;
  position_ = 0;
  start_ = 0;
  count_ = 0;
  try {
    buffer_ = static_cast<uint8_t*>(AllocAligned(static_cast<size_t>(capacity_), 8));
    if (seekable) size_ = ClampToInt32(source->Size());
  } catch (...) {
    Close();
    throw;
  }
}

void TMPStreamReader::Close() {
  if (!opened_) return;
  stream_ = nullptr;
  size_ = 0;
  FreeAligned(buffer_);
  buffer_ = nullptr;
  opened_ = false;
}

bool TMPStreamReader::Fill(int32_t n) {
  RequireStream();
  MPAssert(n >= 0 && n <= capacity_ && buffer_ != nullptr);
  while (count_ < n) {
    int32_t chunk = n - count_;
    if (chunk < ChunkSize) chunk = std::min(ChunkSize, capacity_ - count_);
    int32_t write = static_cast<int32_t>((static_cast<int64_t>(start_) + count_) % capacity_);
    chunk = std::min(chunk, capacity_ - write);
    int32_t got = stream_->Read(buffer_ + write, chunk);
    if (got <= 0) break;
    count_ += std::min(got, chunk);
  }
  return count_ >= n;
}

bool TMPStreamReader::Ensure(int32_t n) {
  RequireStream();
  if (!Fill(n)) return false;
  if (Contiguous() < n) MakeContiguous();
  MPAssert(Contiguous() >= n);
  return true;
}

bool TMPStreamReader::ReadAhead() {
  RequireStream();
  if (count_ == capacity_) return false;
  return Fill(count_ + std::min(capacity_ - count_, ChunkSize));
}

bool TMPStreamReader::Skip(int32_t n) {
  RequireStream();
  MPAssert(n >= 0);
  if (n <= count_) {
    count_ -= n;
    start_ = static_cast<int32_t>((static_cast<int64_t>(start_) + n) % capacity_);
    position_ = ClampToInt32(static_cast<int64_t>(position_) + n);
    return true;
  }
  if (seekable_) {
    if (static_cast<int64_t>(position_) + n > size_) {
      Seek(0, 2);
      return false;
    }
    Seek(n, 1);
    return true;
  }
  int32_t remaining = n;
  while (Fill(1)) {
    Fill(capacity_);
    if (count_ >= remaining) return Skip(remaining);
    remaining -= count_;
    DiscardRing();
  }
  return false;
}

void TMPStreamReader::DiscardRing() {
  position_ = ClampToInt32(static_cast<int64_t>(position_) + count_);
  count_ = 0;
  start_ = 0;
}

int32_t TMPStreamReader::Seek(int32_t offset, int origin) {
  RequireStream();
  MPAssert(seekable_);
  int64_t target = offset;
  if (origin == 1) target -= count_;
  position_ = ClampToInt32(stream_->Seek(target, origin));
  start_ = 0;
  count_ = 0;
  return position_;
}

void TMPStreamReader::MakeContiguous() {
  int32_t wrapped = start_ + count_ - capacity_;
  if (wrapped <= 0) {
    std::memmove(buffer_, buffer_ + start_, static_cast<size_t>(count_));
  } else {
    auto first = static_cast<size_t>(capacity_ - start_);
    if (start_ > count_) {
      std::memmove(buffer_ + first, buffer_, static_cast<size_t>(wrapped));
      std::memmove(buffer_, buffer_ + start_, first);
    } else {
      auto held = std::make_unique<uint8_t[]>(first);
      std::memcpy(held.get(), buffer_ + start_, first);
      std::memmove(buffer_ + first, buffer_, static_cast<size_t>(wrapped));
      std::memcpy(buffer_, held.get(), first);
    }
  }
  start_ = 0;
}

}  // namespace tunewell
