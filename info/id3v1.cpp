#include <string>

#include "info/MP3Info.h"
#include "info/byte_fields.h"

namespace tunewell {

using namespace info_detail;

namespace {

constexpr int32_t ID3v1Size = 128;

}  // namespace

// The 128-byte block at the end of the stream, or at the end of a MacBinary data fork.
bool TMP3Info::ReadID3v1() {
  TMPStreamReader& reader = SeekableReader();
  const int64_t end = foundInfo_.Contains(mitMacBin) ? macDataEnd_ : reader.Size();
  const int64_t p = end - ID3v1Size;
  if (p < 0 || p > reader.Size()) return false;
  if (!SeekTo(reader, p) || !EnsureBytes(reader, ID3v1Size)) return false;
  const uint8_t* tag = reader.Current();
  if (!BytesAre(tag, "TAG")) return false;

  id3v1Entries_.Add("TITLE", FixedFieldText(tag + 3, 30));
  id3v1Entries_.Add("ARTIST", FixedFieldText(tag + 33, 30));
  id3v1Entries_.Add("ALBUM", FixedFieldText(tag + 63, 30));
  id3v1Entries_.Add("YEAR", FixedFieldText(tag + 93, 4));
  // In ID3v1.1 a zero at 125 ends the comment and the byte after it is the track number.
  id3v1Entries_.Add("COMMENT", FixedFieldText(tag + 97, 30));
  id3v1Entries_.Add("GENRE", GenreNames[tag[127]]);
  id3v1Entries_.Add("GENREIDX", std::to_string(tag[127]));
  if (tag[125] == 0) id3v1Entries_.Add("TRACK", std::to_string(tag[126]));

  id3v1Position_ = static_cast<int32_t>(p);
  return reader.Skip(ID3v1Size);
}

}  // namespace tunewell
