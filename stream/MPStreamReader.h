#pragma once
// Byte streams and the ring reader that the playback component and the tag reader share.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tunewell {

// Allocates `size` bytes aligned to `alignment` (a power of two). The raw block's address is
// kept in the pointer-sized slot just before the returned block.
void* AllocAligned(size_t size, size_t alignment);
void FreeAligned(void* block);

// A source of bytes: read, seek and size. Read returns 0 at the end of the data and after a
// read error. Origins of Seek: 0 from the beginning, 1 from the current position, 2 from the end.
class TByteStream {
 public:
  virtual ~TByteStream() = default;
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  virtual int64_t Size() = 0;
};

// A file opened read-only by name. Opening a missing or unreadable file throws
// std::system_error.
class TFileStream : public TByteStream {
 public:
  explicit TFileStream(const std::string& fileName);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override;

 private:
  int fd_ = -1;
};

// Bytes held in memory; the stream keeps its own copy.
class TMemoryStream : public TByteStream {
 public:
  explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

// Reads another stream or a file descriptor strictly forwards, as a pipe would: Seek and Size
// throw std::logic_error. Optionally caps each read, to show the reader's handling of short
// reads.
class TNonSeekableStream : public TByteStream {
 public:
  explicit TNonSeekableStream(TByteStream& inner, int32_t maxRead = INT32_MAX)
      : inner_(&inner), maxRead_(maxRead) {}
  // Reads a descriptor that the caller owns (a pipe, standard input).
  explicit TNonSeekableStream(int fd) : fd_(fd) {}

  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override;

 private:
  TByteStream* inner_ = nullptr;
  int fd_ = -1;
  int32_t maxRead_ = INT32_MAX;
};

// A forward view of a byte stream through a fixed ring buffer. Not synchronised.
class TMPStreamReader {
 public:
  explicit TMPStreamReader(int32_t capacity);
  ~TMPStreamReader();
  TMPStreamReader(const TMPStreamReader&) = delete;
  TMPStreamReader& operator=(const TMPStreamReader&) = delete;

  void Open(TByteStream* source, bool seekable);
  void Close();

  bool Fill(int32_t n);
  bool Ensure(int32_t n);
  const uint8_t* Current() const { return buffer_ + start_; }
  bool ReadAhead();
  bool Skip(int32_t n);
  int32_t Seek(int32_t offset, int origin);
  void MakeContiguous();

  TByteStream* Stream() const { return stream_; }
  int32_t Size() const { return size_; }
  bool Seekable() const { return seekable_; }
  bool Opened() const { return opened_; }
  int32_t Start() const { return start_; }
  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }
  int32_t Position() const { return position_; }
  // Unread bytes that can be read at Current without wrapping.
  int32_t Contiguous() const { return count_ < capacity_ - start_ ? count_ : capacity_ - start_; }

  static constexpr int32_t ChunkSize = 16384;

 private:
  void RequireStream() const;
  void DiscardRing();

  TByteStream* stream_ = nullptr;
  int32_t size_ = 0;
  bool seekable_ = false;
  bool opened_ = false;
  uint8_t* buffer_ = nullptr;
  int32_t start_ = 0;
  int32_t count_ = 0;
  const int32_t capacity_;
  int32_t position_ = 0;
};

}  // namespace tunewell
