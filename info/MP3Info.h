#pragma once
// The tag reader: finds the audio range past wrappers and leading tags, and reads the title,
// artist and the like from ID3v1, ID3v2.3, RIFF INFO and Lyrics3 tags.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "stream/MPStreamReader.h"

namespace tunewell {

enum TMP3InfoKind : uint8_t { mitID3V1, mitID3V2, mitRiff, mitMacBin, mitLyrics };

// A set of TMP3InfoKind held in one byte, bit 0 for mitID3V1 up to bit 4 for mitLyrics.
class TMP3InfoType {
 public:
  constexpr TMP3InfoType() = default;
  constexpr TMP3InfoType(std::initializer_list<TMP3InfoKind> kinds) {
    for (TMP3InfoKind kind : kinds) Include(kind);
  }

  constexpr bool Contains(TMP3InfoKind kind) const { return (bits_ & Bit(kind)) != 0; }
  constexpr void Include(TMP3InfoKind kind) { bits_ = static_cast<uint8_t>(bits_ | Bit(kind)); }
  constexpr void Exclude(TMP3InfoKind kind) { bits_ = static_cast<uint8_t>(bits_ & ~Bit(kind)); }
  constexpr uint8_t Bits() const { return bits_; }
  constexpr bool operator==(const TMP3InfoType&) const = default;

 private:
  static constexpr uint8_t Bit(TMP3InfoKind kind) { return static_cast<uint8_t>(1u << kind); }
  uint8_t bits_ = 0;
};

// Lines of the form key "=" value, in reading order. The key is everything before the first
// "="; values may hold "=", line breaks and zero characters.
class TInfoEntries {
 public:
  void Add(std::string_view key, std::string_view value);
  void Clear() { lines_.clear(); }
  // The value of the first line whose key matches without regard to letter case; empty when
  // there is none.
  std::string Value(std::string_view key) const;
  const std::vector<std::string>& Lines() const { return lines_; }
  size_t Count() const { return lines_.size(); }

 private:
  std::vector<std::string> lines_;
};

// Marks a length or range that has no stated end.
constexpr int32_t NoDataEnd = INT32_MAX;

class TMP3Info {
 public:
  TMP3Info() = default;
  ~TMP3Info() { Clear(); }
  TMP3Info(const TMP3Info&) = delete;
  TMP3Info& operator=(const TMP3Info&) = delete;

  // Forgets the reader and every result of the last stream; NeedInfoType is kept.
  void Clear();
  // A reader starts a new stream (everything is cleared); none detaches and keeps the results.
  void SetReader(TMPStreamReader* reader);

  // Reads wrappers and a leading ID3v2 tag from the reader's position. True when audio bytes
  // may follow.
  bool ReadLeadingInfo();
  // Reads the RIFF INFO list, ID3v1 and Lyrics3 at the end. False at once on a reader that
  // cannot seek.
  bool ReadTrailingInfo();

  std::string GetTitle() const;
  std::string GetArtist() const;
  std::string GetAlbum() const;
  std::string GetYear() const;
  std::string GetComment() const;
  std::string GetGenre() const;

  TMP3InfoType FoundInfo() const { return foundInfo_; }
  TMP3InfoType NeedInfoType() const { return needInfoType_; }
  void SetNeedInfoType(TMP3InfoType kinds) { needInfoType_ = kinds; }

  int32_t DataStart() const { return dataStart_; }
  int32_t DataLength() const { return dataLength_; }
  int32_t MacDataStart() const { return macDataStart_; }
  int32_t MacDataLength() const { return macDataLength_; }
  int32_t MacDataEnd() const { return macDataEnd_; }
  int32_t RiffDataStart() const { return riffDataStart_; }
  int32_t RiffDataLength() const { return riffDataLength_; }
  int32_t ID3v1Position() const { return id3v1Position_; }

  const TInfoEntries& ID3v1Entries() const { return id3v1Entries_; }
  const TInfoEntries& ID3v2Entries() const { return id3v2Entries_; }
  const TInfoEntries& RiffEntries() const { return riffEntries_; }
  const TInfoEntries& LyricsEntries() const { return lyricsEntries_; }

 private:
  struct TAccessorKeys {
    const char* id3v1;
    const char* id3v2;
    const char* riff;
  };
  std::string Longest(const TAccessorKeys& keys) const;

  TMPStreamReader& Reader() const;
  TMPStreamReader& SeekableReader() const;

  // Head stage (the reader stands where the step starts).
  bool ReadMacBinaryHeader();
  bool ReadRiffHeader();
  bool FindRiffChunk(std::string_view id, std::string_view listType = {});
  bool ReadRiffDataChunk();
  bool ReadID3v2();
  bool ReadID3v2Frames(int64_t end);
  void AddID3v2Frame(const uint8_t* frame, int32_t fsize);
  void ShrinkRangeByTag(int32_t size);

  // Tail stage.
  void ReadRiffInfo();
  bool ReadRiffInfoList();
  bool ReadID3v1();
  bool ReadLyrics3();
  bool ReadLyrics3v1(int32_t e);
  bool ReadLyrics3v2(int32_t e);
  bool ReadLyrics3Field(int32_t e);
  bool ReadBlock(int32_t n, std::string& text);

  TMPStreamReader* reader_ = nullptr;
  TMP3InfoType foundInfo_;
  TMP3InfoType needInfoType_{mitID3V1, mitID3V2, mitRiff};
  int32_t dataStart_ = 0;
  int32_t dataLength_ = NoDataEnd;
  int32_t macDataStart_ = 0;
  int32_t macDataLength_ = 0;
  int32_t macDataEnd_ = 0;
  int32_t riffDataStart_ = 0;
  int32_t riffDataLength_ = NoDataEnd;
  int32_t id3v1Position_ = 0;
  TInfoEntries id3v1Entries_;
  TInfoEntries id3v2Entries_;
  TInfoEntries riffEntries_;
  TInfoEntries lyricsEntries_;
};

// ID3v1 genre names by genre byte; 148 to 247 are empty.
extern const std::array<std::string_view, 256> GenreNames;

// The text of a fixed-width field: up to the first zero byte or n bytes, trailing bytes of code
// 0x20 or less removed. No conversion.
std::string FixedFieldText(const uint8_t* bytes, int32_t n);
// The text after a zero-terminated description: from after the last zero among bytes 0 to n-2
// (or from byte 0) to the next zero, trailing bytes of code 0x20 or less removed.
std::string TailFieldText(const uint8_t* bytes, int32_t n);
// The first strictly longest of the candidates, by byte length; empty for none.
std::string LongestValue(std::initializer_list<std::string_view> candidates);
// UTF-16 code units to UTF-8, nothing trimmed: a byte-order mark and zeros are converted too.
// Little-endian unless the first unit is a big-endian byte-order mark.
std::string Utf16ToUtf8(const uint8_t* bytes, int32_t units);

// Tag text as a person should see it: cut at the first zero, then kept when it is valid UTF-8
// (less a leading byte-order mark), otherwise decoded as Shift-JIS (CP932), with U+FFFD for bytes
// that are not.
std::string DisplayText(std::string_view tagText);
// The longest prefix of UTF-8 text that fits in maxBytes without splitting a character.
std::string_view CutAtCharBoundary(std::string_view utf8, size_t maxBytes);

}  // namespace tunewell
