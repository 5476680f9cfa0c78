#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "stream/MPStreamReader.h"

namespace tunewell {

namespace {

int32_t ReadDescriptor(int fd, void* buffer, int32_t count) {
  if (count <= 0) return 0;
  for (;;) {
    ssize_t got = ::read(fd, buffer, static_cast<size_t>(count));
    if (got >= 0) return static_cast<int32_t>(got);
    if (errno != EINTR) return 0;
  }
}

}  // namespace

TFileStream::TFileStream(const std::string& fileName) {
  fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), fileName);
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd_);
    throw std::system_error(EISDIR, std::generic_category(), fileName);
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  return ReadDescriptor(fd_, buffer, count);
}

int64_t TFileStream::Seek(int64_t offset, int origin) {
  static constexpr int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < 0 || origin > 2) throw std::invalid_argument("TFileStream::Seek: bad origin");
  off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence[origin]);
  if (at < 0) throw std::system_error(errno, std::generic_category(), "seek");
  return at;
}

int64_t TFileStream::Size() {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) throw std::system_error(errno, std::generic_category(), "stat");
  return info.st_size;
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || position_ >= bytes_.size()) return 0;
  size_t n = std::min(static_cast<size_t>(count), bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return static_cast<int32_t>(n);
}

int64_t TMemoryStream::Seek(int64_t offset, int origin) {
  int64_t base = origin == 0   ? 0
                 : origin == 1 ? static_cast<int64_t>(position_)
                               : static_cast<int64_t>(bytes_.size());
  int64_t at = base + offset;
  if (origin < 0 || origin > 2 || at < 0) throw std::invalid_argument("TMemoryStream::Seek");
  position_ = static_cast<size_t>(at);
  return at;
}

int32_t TNonSeekableStream::Read(void* buffer, int32_t count) {
  if (inner_ == nullptr) return ReadDescriptor(fd_, buffer, count);
  return inner_->Read(buffer, std::min(count, maxRead_));
}

int64_t TNonSeekableStream::Seek(int64_t, int) {
  throw std::logic_error("stream cannot seek");
}

int64_t TNonSeekableStream::Size() {
  throw std::logic_error("stream has no size");
}

}  // namespace tunewell
