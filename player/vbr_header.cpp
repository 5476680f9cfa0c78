// Xing and VBRI header frames: skipped, and their byte count taken as the audio's extent.

#include <algorithm>
#include <climits>
#include <cstring>

#include "player/MP3Plyr.h"
#include "stream/MPAssert.h"

namespace tunewell {

namespace {

// The header stands right after the frame header and the Layer III side information.
int32_t TagOffset(const TMPEGHeader& first) {
  const bool mono = first.Mode == 3;
  const int32_t offset = first.VersionId == 1 ? (mono ? 21 : 36) : (mono ? 13 : 21);
  return offset + (first.ProtectionBit == 0 ? 2 : 0);
}

// The big-endian count at `at`, or 0 when it lies past the bytes in view.
int32_t CountAt(const uint8_t* bytes, int32_t inView, int32_t at) {
  if (at + 4 > inView) return 0;
  auto word = static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
              static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
  return static_cast<int32_t>(word);
}

bool TagIs(const uint8_t* bytes, int32_t inView, int32_t at, const char* tag) {
  return at + 4 <= inView && std::memcmp(bytes + at, tag, 4) == 0;
}

}  // namespace

TVbrHeaderKind FindVbrHeader(const uint8_t* frame, int32_t inView, const TMPEGHeader& first) {
  const int32_t o = TagOffset(first);
  if (TagIs(frame, inView, o, "Xing")) return TVbrHeaderKind::Xing;
  if (TagIs(frame, inView, o, "VBRI")) return TVbrHeaderKind::Vbri;
  return TVbrHeaderKind::None;
}

bool ReadVbrHeader(TMPStreamReader& reader, const TMPEGHeader& first, int32_t& pendingFrameLength,
                   int32_t& audioStart, int32_t& audioSize) {
  MPAssert(reader.Stream() != nullptr);
  const int32_t o = TagOffset(first);
  // A tiny first frame may end before the header's fields: look at what the reader holds.
  reader.Ensure(std::min(o + 18, reader.Capacity()));
  const uint8_t* bytes = reader.Current();
  const int32_t inView = reader.Contiguous();

  int32_t byteCount = 0;
  switch (FindVbrHeader(bytes, inView, first)) {
    case TVbrHeaderKind::Xing: {
      const int32_t flags = CountAt(bytes, inView, o + 4);
      if (flags & 2) byteCount = CountAt(bytes, inView, (flags & 1) ? o + 12 : o + 8);
      break;
    }
    case TVbrHeaderKind::Vbri:
      byteCount = CountAt(bytes, inView, o + 10);
      break;
    case TVbrHeaderKind::None:
      return true;
  }
  if (byteCount > 0) audioSize = byteCount;

  if (!reader.Skip(pendingFrameLength)) return false;
  audioStart = static_cast<int32_t>(
      std::min<int64_t>(static_cast<int64_t>(audioStart) + pendingFrameLength, INT32_MAX));
  if (audioSize != UnboundedAudioSize) audioSize -= pendingFrameLength;
  pendingFrameLength = 0;
  return true;
}

}  // namespace tunewell
