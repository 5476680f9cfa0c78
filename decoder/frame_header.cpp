// Frame header parsing, frame lengths and the search for the first frame.

#include <array>
#include <cstddef>
#include <cstdint>

#include "decoder/MP3decdr.h"

namespace tunewell {

namespace {

using RateRow = std::array<int32_t, 16>;

// Bit rates in kbit/s by [layer][VersionId][BitrateIndex]; layer 0 is Layer I.
constexpr std::array<std::array<RateRow, 2>, 3> BitrateTable{{
    {{{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}}},
    {{{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0}}},
    {{{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}}},
}};

// Sampling frequencies in units of 50 Hz by [VersionId][SampleRateIndex].
constexpr std::array<std::array<int32_t, 4>, 2> SampleRateTable{{
    {441, 480, 320, -999},
    {882, 960, 640, -999},
}};

constexpr uint32_t FreeFormatWindow = 10000;
constexpr int32_t FreeFormatSearchEnd = 2000;
constexpr int32_t FreeFormatFirstCandidate = 24;

constexpr int32_t LayerI = 3, LayerII = 2, LayerIII = 1;

int32_t SlotSize(int32_t layerCode) {
  return layerCode == LayerI ? 4 : 1;
}

int32_t TableBitrate(const TMPEGHeader& h) {
  return BitrateTable[static_cast<size_t>(3 - h.LayerCode)][static_cast<size_t>(h.VersionId)]
                     [static_cast<size_t>(h.BitrateIndex)];
}

int32_t TableSampleRate(const TMPEGHeader& h) {
  return SampleRateTable[static_cast<size_t>(h.VersionId)][static_cast<size_t>(h.SampleRateIndex)];
}

bool SameFirstTwoBytes(const uint8_t* a, const uint8_t* b) {
  return a[0] == b[0] && a[1] == b[1];
}

// True when every frame header of the chain of length `length` inside the window matches.
bool ChainHolds(const uint8_t* bytes, int32_t windowEnd, int32_t length, int32_t slot) {
  int32_t q = 0;
  int32_t count = 0;
  for (;;) {
    q += length + ((bytes[q + 2] >> 1) & 1) * slot;
    if (q > windowEnd) return count > 0;
    if (!SameFirstTwoBytes(bytes + q, bytes)) return false;
    ++count;
  }
}

void FillFields(const uint8_t* b, int32_t syncKind, TMPEGHeader& h) {
  h.SyncKind = syncKind;
  h.VersionId = (b[1] >> 3) & 1;
  h.LayerCode = (b[1] >> 1) & 3;
  h.ProtectionBit = b[1] & 1;
  h.BitrateIndex = (b[2] >> 4) & 15;
  h.SampleRateIndex = (b[2] >> 2) & 3;
  h.PaddingBit = (b[2] >> 1) & 1;
  h.PrivateBit = b[2] & 1;
  h.Mode = (b[3] >> 6) & 3;
  h.ModeExtension = (b[3] >> 4) & 3;
  h.RightsBit = (b[3] >> 3) & 1;
  h.HomeBit = (b[3] >> 2) & 1;
  h.Emphasis = b[3] & 3;
}

int32_t SyncKindOf(const uint8_t* b) {
  if (b[0] != 0xFF) return 0;
  if ((b[1] & 0xF0) == 0xF0) return 1;
  if ((b[1] & 0xF0) == 0xE0) return 2;
  return 0;
}

int32_t FreeFormatBitrate(const TMPEGHeader& h, int32_t length) {
  int64_t scaled = static_cast<int64_t>(length) * TableSampleRate(h);
  if (h.LayerCode == LayerI) return static_cast<int32_t>(scaled * 1000 / 960);
  if (h.LayerCode == LayerII || h.VersionId == 1) return static_cast<int32_t>(scaled * 1000 / 2880);
  if (h.SyncKind == 2) return static_cast<int32_t>(scaled * 500 / 1440);
  return static_cast<int32_t>(scaled * 1000 / 1440);
}

}  // namespace

int32_t DecoderFindFreeFormatLength(const uint8_t* bytes, uint32_t available) {
  if (available > FreeFormatWindow) available = FreeFormatWindow;
  const int32_t windowEnd = static_cast<int32_t>(available) - 3;
  if (windowEnd < 0) return 0;
  const int32_t slot = SlotSize((bytes[1] >> 1) & 3);
  const int32_t firstPadding = (bytes[2] >> 1) & 1;
  int32_t k = FreeFormatFirstCandidate;
  while (k < FreeFormatSearchEnd) {
    int32_t e = k;
    while (e < windowEnd && !SameFirstTwoBytes(bytes + e, bytes)) ++e;
    if (e >= windowEnd) return 0;
    const int32_t length = e - firstPadding * slot;
    if (length <= 0) return 0;
    if (ChainHolds(bytes, windowEnd, length, slot)) return length;
    k = e + 1;
  }
  return 0;
}

int32_t DecoderParseHeader(const uint8_t* bytes, uint32_t available, TMPEGHeader& header) {
  if (available > FreeFormatWindow) available = FreeFormatWindow;
  header.SyncKind = 0;
  const int32_t syncKind = SyncKindOf(bytes);
  if (syncKind == 0) return 0;
  FillFields(bytes, syncKind, header);
  if (header.LayerCode == 0) return 0;
  if (header.BitrateIndex == 0) return DecoderFindFreeFormatLength(bytes, available);

  const int32_t b = TableBitrate(header);
  const int32_t f = TableSampleRate(header);
  if (header.LayerCode == LayerI) return 4 * (b * 240 / f);
  if (header.LayerCode == LayerIII && header.VersionId == 0 && syncKind == 1) return b * 1440 / f;
  return b * 2880 / f;
}

int32_t DecoderFindFirstFrame(const uint8_t* buffer, uint32_t length, TMPEGHeader& header,
                              int32_t& bitrate, uint32_t& offset) {
  uint32_t i = 0;
  while (i + 1 < length && SyncKindOf(buffer + i) == 0) ++i;
  if (i + 1 >= length) return 0;
  offset = i;
  bitrate = 0;
  if (length - i < 4) return 0;
  const int32_t result = DecoderParseHeader(buffer + i, length - i, header);
  if (result == 0) return 0;
  bitrate =
      header.BitrateIndex != 0 ? TableBitrate(header) * 1000 : FreeFormatBitrate(header, result);
  return result;
}

}  // namespace tunewell
