#pragma once
// Test fixtures: Layer I and Layer II frames written bit by bit.

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "decoder/MP3decdr.h"

namespace tunewell::test {

class TBitWriter {
 public:
  void Put(uint32_t value, int32_t bits);
  // Pads with zero bits to `length` bytes (or to the next whole byte when shorter).
  std::vector<uint8_t> Bytes(size_t length) const;

 private:
  std::vector<uint8_t> bytes_;
  int32_t used_ = 8;  // bits used in the last byte
};

struct TFrameHeaderFields {
  int32_t LayerCode = 2;
  int32_t VersionId = 1;
  int32_t BitrateIndex = 10;
  int32_t SampleRateIndex = 1;  // 48000 Hz
  int32_t Mode = 0;
  int32_t ModeExtension = 0;
  int32_t PaddingBit = 0;
  int32_t ProtectionBit = 1;  // no CRC
};

void PutHeader(TBitWriter& w, const TFrameHeaderFields& layout);
TMPEGHeader ParsedHeader(const TFrameHeaderFields& layout, int32_t& frameLength);

// A Layer II frame. Slots as the decoder counts them: subband s of channel c is slot 2s + c in
// a two-channel stream. In the joint region only the even slot's allocation and codes are
// written (one set for both channels).
struct TLayer2FrameLayout {
  TFrameHeaderFields Header;
  int32_t Table = 0;                          // TAllocationTableId
  std::vector<int32_t> Allocation;            // allocation value per slot
  std::vector<int32_t> Scfsi;                 // per slot with an allocation
  std::vector<std::array<int32_t, 3>> Scale;  // scale factor index per slot and part
  // Sample code of (granule 0 ... 11, slot, sample 0 ... 2); for grouped classes the code of the
  // triple is taken from sample 0.
  std::function<uint32_t(int32_t, int32_t, int32_t)> Code;
};

std::vector<uint8_t> BuildLayer2Frame(const TLayer2FrameLayout& layout, size_t length);

// Quantisation levels of a Layer II class (1 ... 17).
int32_t LevelsOfClass(int32_t cls);

}  // namespace tunewell::test
