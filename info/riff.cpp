#include <exception>

#include "info/MP3Info.h"
#include "info/byte_fields.h"
#include "stream/MPAssert.h"

namespace tunewell {

using namespace info_detail;

namespace {

constexpr int32_t ChunkHeaderSize = 8;

}  // namespace

bool TMP3Info::ReadRiffHeader() {
  TMPStreamReader& reader = Reader();
  if (!EnsureBytes(reader, 12) || !BytesAre(reader.Current(), "RIFF")) return false;
  return reader.Skip(12);
}

// Walks chunk headers until one with the given id (and list type) stands at the reader.
bool TMP3Info::FindRiffChunk(std::string_view id, std::string_view listType) {
  TMPStreamReader& reader = Reader();
  for (;;) {
    if (!EnsureBytes(reader, ChunkHeaderSize)) return false;
    const int32_t size = LittleEndian32(reader.Current() + 4);
    if (size < 1) return false;
    if (BytesAre(reader.Current(), id)) {
      if (listType.empty()) return true;
      if (!EnsureBytes(reader, 12)) return false;
      if (BytesAre(reader.Current() + 8, listType)) return true;
    }
    if (!SkipBytes(reader, RoundUpEven(int64_t{size} + ChunkHeaderSize))) return false;
  }
}

bool TMP3Info::ReadRiffDataChunk() {
  TMPStreamReader& reader = Reader();
  if (!EnsureBytes(reader, ChunkHeaderSize)) return false;
  const int32_t size = LittleEndian32(reader.Current() + 4);
  if (size <= 0 || !BytesAre(reader.Current(), "data")) return false;
  riffDataLength_ = size;
  if (!reader.Skip(ChunkHeaderSize)) return false;
  riffDataStart_ = reader.Position();
  dataStart_ = riffDataStart_;
  dataLength_ = riffDataLength_;
  return true;
}

// Tags in a RIFF file sit in a LIST/INFO chunk after the data chunk. Nothing that goes wrong
// here, a failed read included, is passed on: the entries read so far stay.
void TMP3Info::ReadRiffInfo() {
  TMPStreamReader& reader = SeekableReader();
  try {
    if (!SeekTo(reader, RoundUpEven(int64_t{riffDataStart_} + riffDataLength_))) return;
    FindRiffChunk("LIST", "INFO");
    ReadRiffInfoList();
  } catch (const EAssertionFailed&) {
    throw;
  } catch (const std::exception&) {
  }
}

bool TMP3Info::ReadRiffInfoList() {
  TMPStreamReader& reader = Reader();
  if (!EnsureBytes(reader, ChunkHeaderSize)) return false;
  const int32_t size = LittleEndian32(reader.Current() + 4);
  if (size < 0 || !BytesAre(reader.Current(), "LIST")) return false;
  if (!EnsureBytes(reader, 12) || !BytesAre(reader.Current() + 8, "INFO")) return false;
  const int64_t listEnd = int64_t{reader.Position()} + size + ChunkHeaderSize;
  if (!reader.Skip(12)) return false;
  while (reader.Position() < listEnd) {
    if (!EnsureBytes(reader, ChunkHeaderSize)) return false;
    const std::string subId = FixedFieldText(reader.Current(), 4);
    const int32_t subSize = LittleEndian32(reader.Current() + 4);
    if (!reader.Skip(ChunkHeaderSize) || subSize < 0) return false;
    if (subId == "IID3") return true;
    if (subSize > reader.Capacity()) return true;
    if (!EnsureBytes(reader, subSize)) return false;
    const std::string value = FixedFieldText(reader.Current(), subSize);
    if (!subId.empty() && !value.empty()) riffEntries_.Add(subId, value);
    if (!SkipBytes(reader, RoundUpEven(subSize))) return false;
  }
  return true;
}

}  // namespace tunewell
