#include <iconv.h>

#include <cerrno>
#include <memory>

#include "info/MP3Info.h"

namespace tunewell {

namespace {

// Length of the well-formed UTF-8 sequence at p (shortest form, no surrogates, at most
// U+10FFFF), or 0 when there is none.
size_t Utf8SequenceLength(const unsigned char* p, size_t left) {
  unsigned char lead = p[0];
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;
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
  if (left < length || p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

bool IsValidUtf8(std::string_view text) {
  auto p = reinterpret_cast<const unsigned char*>(text.data());
  size_t left = text.size();
  while (left > 0) {
    size_t length = Utf8SequenceLength(p, left);
    if (length == 0) return false;
    p += length;
    left -= length;
  }
  return true;
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

std::string FromShiftJis(std::string_view text) {
  iconv_t opened = iconv_open("UTF-8", "CP932");
  if (opened == reinterpret_cast<iconv_t>(-1)) return std::string(text);
  std::unique_ptr<void, IconvCloser> cd(opened);

  std::string out;
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char buffer[256];
  while (inLeft > 0) {
    char* to = buffer;
    size_t toLeft = sizeof buffer;
    size_t result = iconv(opened, &in, &inLeft, &to, &toLeft);
    out.append(buffer, static_cast<size_t>(to - buffer));
    if (result == static_cast<size_t>(-1) && errno != E2BIG) {
      // A byte that is not Shift-JIS (or a character cut off at the end) shows as U+FFFD.
      out += "\xEF\xBF\xBD";
      ++in;
      --inLeft;
    }
  }
  return out;
}

}  // namespace

std::string DisplayText(std::string_view tagText) {
  std::string_view shown = tagText.substr(0, tagText.find('\0'));
  if (!IsValidUtf8(shown)) return FromShiftJis(shown);
  // UTF-16 tag text keeps its byte-order mark through the conversion; it is no character to show.
  static constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
  if (shown.starts_with(byteOrderMark)) shown.remove_prefix(byteOrderMark.size());
  return std::string(shown);
}

std::string_view CutAtCharBoundary(std::string_view utf8, size_t maxBytes) {
  if (utf8.size() <= maxBytes) return utf8;
  size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
  return utf8.substr(0, end);
}

}  // namespace tunewell
