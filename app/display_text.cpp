#include "app/DisplayText.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdint>

namespace tunewell {

namespace {

// Length of the UTF-8 sequence starting at bytes[i], or 0 when it is not well formed (overlong
// forms, surrogates and values past U+10FFFF included).
std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<uint8_t>(bytes[k]); };
  const uint8_t lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > bytes.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

class TIconv {
 public:
  TIconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~TIconv() {
    if (valid()) iconv_close(handle_);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return handle_; }

 private:
  iconv_t handle_;
};

std::string DecodeCp932(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  TIconv converter("UTF-8", "CP932");
  if (!converter.valid()) return std::string(bytes);
  std::string out;
  std::array<char, 256> buffer{};
  char* in = const_cast<char*>(bytes.data());  // iconv's signature; the input is not written
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t result = iconv(converter.get(), &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    // EILSEQ or a truncated pair at the end: mark the byte and go on after it.
    out += kReplacement;
    ++in;
    --inLeft;
  }
  return out;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string DisplayText(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return DecodeCp932(bytes);
}

std::string_view CutAtCharBoundary(std::string_view utf8, std::size_t maxBytes) {
  if (utf8.size() <= maxBytes) return utf8;
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<uint8_t>(utf8[end]) & 0xC0) == 0x80) --end;
  return utf8.substr(0, end);
}

}  // namespace tunewell
