#include <algorithm>
#include <cstring>

#include "info/MP3Info.h"

namespace tunewell {

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

std::string TrimmedRight(const uint8_t* bytes, size_t length) {
  while (length > 0 && bytes[length - 1] <= 0x20) --length;
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

constexpr uint32_t ReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

void TInfoEntries::Add(std::string_view key, std::string_view value) {
  std::string line;
  line.reserve(key.size() + 1 + value.size());
  line.append(key).append("=").append(value);
  lines_.push_back(std::move(line));
}

std::string TInfoEntries::Value(std::string_view key) const {
  for (const std::string& line : lines_) {
    size_t separator = line.find('=');
    if (separator == std::string::npos) continue;
    if (SameTextIgnoringCase(std::string_view(line).substr(0, separator), key))
      return line.substr(separator + 1);
  }
  return {};
}

std::string FixedFieldText(const uint8_t* bytes, int32_t n) {
  if (n <= 0) return {};
  const void* zero = std::memchr(bytes, 0, static_cast<size_t>(n));
  size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes)
                       : static_cast<size_t>(n);
  return TrimmedRight(bytes, length);
}

std::string TailFieldText(const uint8_t* bytes, int32_t n) {
  if (n <= 0) return {};
  int32_t start = 0;
  for (int32_t i = n - 2; i >= 0; --i) {
    if (bytes[i] == 0) {
      start = i + 1;
      break;
    }
  }
  return FixedFieldText(bytes + start, n - start);
}

std::string LongestValue(std::initializer_list<std::string_view> candidates) {
  std::string_view longest;
  for (std::string_view candidate : candidates) {
    if (candidate.size() > longest.size()) longest = candidate;
  }
  return std::string(longest);
}

std::string Utf16ToUtf8(const uint8_t* bytes, int32_t units) {
  std::string out;
  if (units <= 0) return out;
  // A tag that says big-endian is read so; read little-endian it would be garbage.
  const bool bigEndian = bytes[0] == 0xFE && bytes[1] == 0xFF;
  auto unitAt = [&](int32_t i) -> uint32_t {
    const uint8_t* p = bytes + 2 * static_cast<size_t>(i);
    return bigEndian ? static_cast<uint32_t>(p[0] << 8 | p[1])
                     : static_cast<uint32_t>(p[1] << 8 | p[0]);
  };
  out.reserve(static_cast<size_t>(units) * 3);
  for (int32_t i = 0; i < units; ++i) {
    uint32_t unit = unitAt(i);
    if (IsHighSurrogate(unit) && i + 1 < units && IsLowSurrogate(unitAt(i + 1))) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(out, ReplacementCharacter);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

}  // namespace tunewell
