#include <exception>

#include "info/MP3Info.h"
#include "info/byte_fields.h"
#include "stream/MPAssert.h"

namespace tunewell {

using namespace info_detail;

void TMP3Info::Clear() {
  reader_ = nullptr;
  foundInfo_ = {};
  dataStart_ = 0;
  dataLength_ = NoDataEnd;
  riffDataStart_ = 0;
  riffDataLength_ = NoDataEnd;
  id3v1Entries_.Clear();
  id3v2Entries_.Clear();
  riffEntries_.Clear();
  lyricsEntries_.Clear();
}

void TMP3Info::SetReader(TMPStreamReader* reader) {
  if (reader != nullptr) Clear();
  reader_ = reader;
}

TMPStreamReader& TMP3Info::Reader() const {
  MPAssert(reader_ != nullptr);
  return *reader_;
}

TMPStreamReader& TMP3Info::SeekableReader() const {
  MPAssert(reader_ != nullptr && reader_->Seekable());
  return *reader_;
}

bool TMP3Info::ReadLeadingInfo() {
  if (ReadMacBinaryHeader()) foundInfo_.Include(mitMacBin);
  if (ReadRiffHeader() && FindRiffChunk("data") && ReadRiffDataChunk()) foundInfo_.Include(mitRiff);
  if (ReadID3v2()) foundInfo_.Include(mitID3V2);
  return Reader().Ensure(1);
}

bool TMP3Info::ReadTrailingInfo() {
  if (!Reader().Seekable()) return false;
  if (dataLength_ == NoDataEnd) dataLength_ = reader_->Size() - dataStart_;
  if (foundInfo_.Contains(mitRiff)) ReadRiffInfo();
  if (ReadID3v1()) foundInfo_.Include(mitID3V1);
  if (ReadLyrics3()) foundInfo_.Include(mitLyrics);
  return true;
}

std::string TMP3Info::Longest(const TAccessorKeys& keys) const {
  auto candidate = [&](TMP3InfoKind kind, const TInfoEntries& entries, const char* key) {
    return needInfoType_.Contains(kind) ? entries.Value(key) : std::string();
  };
  return LongestValue({candidate(mitID3V1, id3v1Entries_, keys.id3v1),
                       candidate(mitID3V2, id3v2Entries_, keys.id3v2),
                       candidate(mitRiff, riffEntries_, keys.riff)});
}

std::string TMP3Info::GetTitle() const {
  return Longest({"TITLE", "TIT2", "INAM"});
}
std::string TMP3Info::GetArtist() const {
  return Longest({"ARTIST", "TPE1", "IART"});
}
std::string TMP3Info::GetAlbum() const {
  return Longest({"ALBUM", "TALB", "IPRD"});
}
std::string TMP3Info::GetYear() const {
  return Longest({"YEAR", "TYER", "ICRD"});
}
std::string TMP3Info::GetComment() const {
  return Longest({"COMMENT", "COMM", "ICMT"});
}
std::string TMP3Info::GetGenre() const {
  return Longest({"GENRE", "TIT1", "IGNR"});
}

}  // namespace tunewell
