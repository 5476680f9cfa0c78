#include <cstdio>

#include "app/Terminal.h"

namespace tunewell {

namespace {

// Decodes the character at `at`; `length` gets its byte count (1 for a stray byte).
char32_t NextCodePoint(std::string_view text, size_t at, size_t& length) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const size_t expected = lead < 0x80         ? 1
                          : (lead >> 5) == 6  ? 2
                          : (lead >> 4) == 14 ? 3
                          : (lead >> 3) == 30 ? 4
                                              : 1;
  if (expected == 1 || at + expected > text.size()) {
    length = 1;
    return lead;
  }
  char32_t value = lead & (0x7F >> expected);
  for (size_t i = 1; i < expected; ++i) {
    value = (value << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
  }
  length = expected;
  return value;
}

bool IsCombining(char32_t c) {
  return (c >= 0x0300 && c <= 0x036F) || (c >= 0x3099 && c <= 0x309A) ||
         (c >= 0xFE00 && c <= 0xFE0F) || c == 0x200B || c == 0x200D;
}

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

int CharWidth(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return 0;
  if (IsCombining(c)) return 0;
  return IsWide(c) ? 2 : 1;
}

// Control characters in tag text would move the cursor: each becomes a space.
std::string Printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return out;
}

}  // namespace

int DisplayWidth(std::string_view utf8) {
  int width = 0;
  for (size_t at = 0, length = 0; at < utf8.size(); at += length) {
    width += CharWidth(NextCodePoint(utf8, at, length));
  }
  return width;
}

std::string_view CutToWidth(std::string_view utf8, int columns) {
  int width = 0;
  size_t at = 0;
  while (at < utf8.size()) {
    size_t length = 0;
    const int next = CharWidth(NextCodePoint(utf8, at, length));
    if (width + next > columns) break;
    width += next;
    at += length;
  }
  return utf8.substr(0, at);
}

std::string FormatElapsed(int64_t milliseconds) {
  const int64_t seconds = milliseconds < 0 ? 0 : milliseconds / 1000;
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

std::string FormatStatusLine(std::string_view title, std::string_view artist,
                             int64_t elapsedMilliseconds, bool paused, int columns) {
  const std::string line = std::string(paused ? "|| " : ">  ") +
                           FormatElapsed(elapsedMilliseconds) + "  " + Printable(title) + " / " +
                           Printable(artist);
  return std::string(CutToWidth(line, columns));
}

}  // namespace tunewell
