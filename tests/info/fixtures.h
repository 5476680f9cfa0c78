#pragma once
// Small tag and container files built in memory, and a run of the tag reader over them.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "info/MP3Info.h"
#include "stream/MPStreamReader.h"

namespace tunewell::test {

using Bytes = std::vector<uint8_t>;

inline Bytes B(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline Bytes Filled(size_t n, uint8_t value) {
  return Bytes(n, value);
}

inline Bytes BigEndian(int32_t v) {
  auto u = static_cast<uint32_t>(v);
  return {static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u)};
}

inline Bytes LittleEndian(int32_t v) {
  auto u = static_cast<uint32_t>(v);
  return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 24)};
}

// Something that stands for audio: the reader never looks inside it.
inline Bytes Audio(size_t n) {
  return Filled(n, 0x55);
}

// A field of exactly n bytes: the text, then zeros.
inline Bytes Field(std::string_view text, size_t n) {
  Bytes out = B(text.substr(0, n));
  out.resize(n, 0);
  return out;
}

// The 30 bytes of an ID3v1.1 comment: text, a zero, the track byte.
inline Bytes CommentWithTrack(std::string_view text, uint8_t track) {
  Bytes out = Field(text, 28);
  out.push_back(0);
  out.push_back(track);
  return out;
}

inline Bytes ID3v1Block(std::string_view title, const Bytes& comment30, uint8_t genre,
                        std::string_view artist = "Artist", std::string_view album = "Album",
                        std::string_view year = "2001") {
  return Cat({B("TAG"), Field(title, 30), Field(artist, 30), Field(album, 30), Field(year, 4),
              comment30, Bytes{genre}});
}

inline Bytes ID3v2Frame(std::string_view id, const Bytes& body) {
  return Cat({B(id), BigEndian(static_cast<int32_t>(body.size())), Bytes{0, 0}, body});
}

// A text frame body: encoding byte 0 and the text.
inline Bytes Latin1Body(std::string_view text) {
  return Cat({Bytes{0}, B(text)});
}

inline Bytes SyncSafe(size_t n) {
  return {static_cast<uint8_t>(n >> 21 & 0x7F), static_cast<uint8_t>(n >> 14 & 0x7F),
          static_cast<uint8_t>(n >> 7 & 0x7F), static_cast<uint8_t>(n & 0x7F)};
}

inline Bytes ID3v2Tag(const Bytes& frames, size_t padding = 10, uint8_t version = 3,
                      uint8_t flags = 0) {
  Bytes body = Cat({frames, Filled(padding, 0)});
  return Cat({B("ID3"), Bytes{version, 0, flags}, SyncSafe(body.size()), body});
}

inline Bytes RiffChunk(std::string_view id, const Bytes& body) {
  Bytes out = Cat({B(id), LittleEndian(static_cast<int32_t>(body.size())), body});
  if (body.size() % 2 != 0) out.push_back(0);
  return out;
}

inline Bytes RiffFile(const Bytes& chunks) {
  return Cat({B("RIFF"), LittleEndian(static_cast<int32_t>(chunks.size() + 4)), B("WAVE"), chunks});
}

inline Bytes InfoList(const Bytes& subChunks) {
  return RiffChunk("LIST", Cat({B("INFO"), subChunks}));
}

inline Bytes MacBinaryHeader(uint8_t nameLength, int32_t dataForkLength) {
  Bytes header(128, 0);
  header[1] = nameLength;
  for (size_t i = 0; i < nameLength && i < 63; ++i) header[2 + i] = 'a';
  Bytes fork = BigEndian(dataForkLength);
  std::copy(fork.begin(), fork.end(), header.begin() + 83);
  return header;
}

// A MacBinary file: header, data fork padded to 128 bytes, a small resource fork.
inline Bytes MacBinaryFile(const Bytes& data, uint8_t nameLength = 9) {
  Bytes out = Cat({MacBinaryHeader(nameLength, static_cast<int32_t>(data.size())), data});
  out.resize((out.size() + 127) / 128 * 128, 0);
  Bytes resource = B("RESOURCEFORK");
  out.insert(out.end(), resource.begin(), resource.end());
  return out;
}

inline Bytes Lyrics3v1(std::string_view lyrics) {
  return Cat({B("LYRICSBEGIN"), B(lyrics), B("LYRICSEND")});
}

inline std::string Digits(size_t value, int width) {
  std::string text = std::to_string(value);
  return std::string(static_cast<size_t>(width) - text.size(), '0') + text;
}

inline Bytes Lyrics3v2Field(std::string_view id, std::string_view value) {
  return Cat({B(id), B(Digits(value.size(), 5)), B(value)});
}

inline Bytes Lyrics3v2(const Bytes& fields) {
  Bytes body = Cat({B("LYRICSBEGIN"), fields});
  return Cat({body, B(Digits(body.size(), 6)), B("LYRICS200")});
}

// The tag reader run over bytes the way the component runs it: leading stage, then on a
// seekable source the trailing stage.
class TInfoRun {
 public:
  explicit TInfoRun(const Bytes& bytes, bool seekable = true, int32_t capacity = 65536)
      : file_(bytes), reader_(capacity) {
    TByteStream* source = &file_;
    if (!seekable) {
      pipe_ = std::make_unique<TNonSeekableStream>(file_, 1000);
      source = pipe_.get();
    }
    reader_.Open(source, seekable);
    info.SetReader(&reader_);
    leading = info.ReadLeadingInfo();
    trailing = info.ReadTrailingInfo();
  }

  TMPStreamReader& Reader() { return reader_; }

  TMP3Info info;
  bool leading = false;
  bool trailing = false;

 private:
  TMemoryStream file_;
  std::unique_ptr<TNonSeekableStream> pipe_;
  TMPStreamReader reader_;
};

}  // namespace tunewell::test
