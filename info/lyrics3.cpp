#include <algorithm>
#include <charconv>
#include <string>

#include "info/MP3Info.h"
#include "info/byte_fields.h"

namespace tunewell {

using namespace info_detail;

namespace {

constexpr std::string_view LyricsBegin = "LYRICSBEGIN";
constexpr int32_t Lyrics3v1Window = 5100;
constexpr int32_t SizeDigits = 6;

// The decimal number in a fixed field (spaces before it and a sign allowed), or 0 when the
// field holds anything else.
int32_t DecimalField(const uint8_t* bytes, int32_t n) {
  const std::string text = FixedFieldText(bytes, n);
  std::string_view digits(text);
  digits.remove_prefix(std::min(digits.find_first_not_of(' '), digits.size()));
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  int32_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return 0;
  return value;
}

}  // namespace

// A Lyrics3 tag ends just before the ID3v1 block, or at the end of the data fork or the file.
bool TMP3Info::ReadLyrics3() {
  TMPStreamReader& reader = SeekableReader();
  const int64_t end = foundInfo_.Contains(mitID3V1)    ? id3v1Position_
                      : foundInfo_.Contains(mitMacBin) ? macDataEnd_
                                                       : reader.Size();
  const int64_t e = end - 9;
  if (e < 0 || e > reader.Size()) return false;
  if (!SeekTo(reader, e) || !EnsureBytes(reader, 9)) return false;
  if (BytesAre(reader.Current(), "LYRICSEND")) return ReadLyrics3v1(static_cast<int32_t>(e));
  if (BytesAre(reader.Current(), "LYRICS200")) return ReadLyrics3v2(static_cast<int32_t>(e));
  return false;
}

// Version 1 has no size: its start is searched for in the last 5,100 bytes before its end.
bool TMP3Info::ReadLyrics3v1(int32_t e) {
  TMPStreamReader& reader = SeekableReader();
  const int32_t s = std::max(e - Lyrics3v1Window, 0);
  std::string text;
  if (!SeekTo(reader, s) || !ReadBlock(e - s, text)) return false;
  const size_t begin = text.find(LyricsBegin);
  if (begin == std::string::npos) return false;
  lyricsEntries_.Add("LYRICS", std::string_view(text).substr(begin + LyricsBegin.size()));
  return true;
}

// Version 2 states its size in six digits before "LYRICS200".
bool TMP3Info::ReadLyrics3v2(int32_t e) {
  TMPStreamReader& reader = SeekableReader();
  const int64_t digitsAt = int64_t{e} - SizeDigits;
  if (!SeekTo(reader, digitsAt) || !EnsureBytes(reader, SizeDigits)) return false;
  const int32_t n = DecimalField(reader.Current(), SizeDigits);
  if (n <= 0) return false;
  const int64_t b = digitsAt - n;
  if (b < 0) return false;
  if (!SeekTo(reader, b) || !EnsureBytes(reader, 11)) return false;
  if (!BytesAre(reader.Current(), LyricsBegin) || !reader.Skip(11)) return false;
  while (reader.Position() < digitsAt) {
    if (!ReadLyrics3Field(e)) return false;
  }
  return true;
}

bool TMP3Info::ReadLyrics3Field(int32_t e) {
  TMPStreamReader& reader = Reader();
  if (!EnsureBytes(reader, 8)) return false;
  const std::string fieldId = FixedFieldText(reader.Current(), 3);
  const int32_t length = DecimalField(reader.Current() + 3, 5);
  if (length <= 0 || !reader.Skip(8)) return false;
  if (int64_t{reader.Position()} + length > int64_t{e} - SizeDigits) return false;
  std::string value;
  if (!ReadBlock(length, value)) return false;
  lyricsEntries_.Add(fieldId, value);
  return true;
}

// n bytes in pieces no larger than the reader's buffer.
bool TMP3Info::ReadBlock(int32_t n, std::string& text) {
  TMPStreamReader& reader = Reader();
  while (n > 0) {
    const int32_t piece = std::min(n, reader.Capacity());
    if (!reader.Ensure(piece)) return false;
    text.append(reinterpret_cast<const char*>(reader.Current()), static_cast<size_t>(piece));
    if (!reader.Skip(piece)) return false;
    n -= piece;
  }
  return true;
}

}  // namespace tunewell
