#include <algorithm>

#include "info/MP3Info.h"
#include "info/byte_fields.h"

namespace tunewell {

using namespace info_detail;

namespace {

constexpr int32_t HeaderSize = 10;
constexpr int32_t FrameHeaderSize = 10;
constexpr uint8_t Unsynchronisation = 0x80;
constexpr uint8_t ExtendedHeader = 0x40;
constexpr uint8_t Utf16Encoding = 1;

// Stored files rely on the size bytes being taken whole, bit 7 included. At most about
// 5.4e8, so the size always fits.
int32_t TagSize(const uint8_t* header) {
  return header[6] << 21 | header[7] << 14 | header[8] << 7 | header[9];
}

}  // namespace

// One tag at the reader's position. Version 2.3 is read; other versions and unsynchronised
// tags are skipped whole.
bool TMP3Info::ReadID3v2() {
  TMPStreamReader& reader = Reader();
  const int64_t p0 = reader.Position();
  if (!EnsureBytes(reader, HeaderSize) || !BytesAre(reader.Current(), "ID3")) return false;
  const uint8_t* header = reader.Current();
  const int32_t size = TagSize(header);
  if (size <= 0) return false;
  const uint8_t version = header[3];
  const uint8_t flags = header[5];

  if (version != 3 || (flags & Unsynchronisation) != 0) {
    if (!reader.Skip(size + HeaderSize)) return false;
    ShrinkRangeByTag(size);
    return true;
  }

  int64_t extendedLength = 0;
  if ((flags & ExtendedHeader) != 0) {
    if (!EnsureBytes(reader, HeaderSize + 4)) return false;
    const int32_t ext = BigEndian32(reader.Current() + HeaderSize);
    if (ext < 0 || ext > size) return false;
    extendedLength = 4 + int64_t{ext};
  }
  const int64_t end = p0 + HeaderSize + size;
  if (!SkipBytes(reader, HeaderSize + extendedLength)) return false;
  if (!ReadID3v2Frames(end)) return false;
  ShrinkRangeByTag(size);
  return true;
}

// Walks the frames up to the tag's end. Padding (a frame size of zero or less) runs to the
// end; anything that leaves 1 to 9 bytes before it fails the tag.
bool TMP3Info::ReadID3v2Frames(int64_t end) {
  TMPStreamReader& reader = Reader();
  while (end >= int64_t{reader.Position()} + FrameHeaderSize) {
    if (!EnsureBytes(reader, FrameHeaderSize)) return false;
    const int32_t fsize = BigEndian32(reader.Current() + 4);
    if (fsize <= 0) {
      if (!SkipBytes(reader, end - reader.Position())) return false;
      break;
    }
    const int64_t frameBytes = int64_t{fsize} + FrameHeaderSize;
    // Frames larger than the buffer, typically pictures, are passed over unread.
    if (frameBytes <= reader.Capacity()) {
      if (!EnsureBytes(reader, frameBytes)) return false;
      AddID3v2Frame(reader.Current(), fsize);
    }
    if (end < int64_t{reader.Position()} + frameBytes) return false;
    if (!SkipBytes(reader, frameBytes)) return false;
  }
  return reader.Position() == end;
}

void TMP3Info::AddID3v2Frame(const uint8_t* frame, int32_t fsize) {
  const std::string id = FixedFieldText(frame, 4);
  const uint8_t* text = frame + FrameHeaderSize + 1;
  const int32_t textBytes = fsize - 1;
  std::string value;
  if (frame[FrameHeaderSize] == Utf16Encoding && !id.empty() && id[0] == 'T') {
    value = Utf16ToUtf8(text, textBytes / 2);
  } else if (id == "COMM" || id == "WXXX") {
    value = TailFieldText(text, textBytes);
  } else {
    value = FixedFieldText(text, textBytes);
  }
  id3v2Entries_.Add(id, value);
}

// The audio starts after the tag; a stated length loses the tag's bytes.
void TMP3Info::ShrinkRangeByTag(int32_t size) {
  dataStart_ = Reader().Position();
  if (dataLength_ != NoDataEnd) dataLength_ = std::max(dataLength_ - (size + HeaderSize), 0);
}

}  // namespace tunewell
