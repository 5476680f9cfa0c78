#include "info/MP3Info.h"
#include "info/byte_fields.h"

namespace tunewell {

using namespace info_detail;

namespace {

constexpr int32_t MacBinaryHeaderSize = 128;

bool IsMacBinaryHeader(const uint8_t* h) {
  const uint8_t nameLength = h[1];
  return h[0] == 0 && nameLength >= 1 && nameLength <= 31 && h[74] == 0 && h[82] == 0 &&
         BigEndian32(h + 83) >= 0 && BigEndian32(h + 87) >= 0;
}

}  // namespace

// The data fork follows the header; the resource fork is never read.
bool TMP3Info::ReadMacBinaryHeader() {
  TMPStreamReader& reader = Reader();
  if (!EnsureBytes(reader, MacBinaryHeaderSize) || !IsMacBinaryHeader(reader.Current()))
    return false;
  const int32_t forkLength = BigEndian32(reader.Current() + 83);
  if (!reader.Skip(MacBinaryHeaderSize)) return false;
  macDataStart_ = reader.Position();
  macDataLength_ = forkLength;
  macDataEnd_ = SaturatedSum(macDataStart_, macDataLength_);
  dataStart_ = macDataStart_;
  dataLength_ = macDataLength_;
  return true;
}

}  // namespace tunewell
