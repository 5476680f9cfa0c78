// Layer I frame decoder: allocation, scale factors, 12 rows of samples, then the synthesis.

#include <array>
#include <cstddef>

#include "decoder/bit_reader.h"
#include "decoder/decoder_state.h"
#include "decoder/layer12.h"

namespace tunewell {

namespace {

// Class codes: the allocation a (0 none, 1 ... 14 for a + 1 bits), a + 15 in the joint region.
constexpr uint8_t JointOffset = 15;
constexpr uint8_t EndOfSlots = 30;
constexpr uint8_t BandwidthLimit = 31;
constexpr uint32_t ForbiddenAllocation = 15;

struct TSlotInfo {
  std::array<uint8_t, MaxSlots + 1> Class;
  std::array<uint8_t, MaxSlots> Allocation;
  std::array<float, MaxSlots> Combined;  // factor x scale factor
  uint32_t SkipBits;
};

void ReadAllocation(TBitReader& bits, int32_t jointBound, TSlotInfo& info) {
  const int32_t slots = TheDecoder.Layer12.CodedSlots;
  const int32_t bandwidth = TheDecoder.Setup.BandwidthSubbands;
  info.SkipBits = 0;
  for (int32_t slot = 0; slot < slots;) {
    uint32_t a = bits.Read(4);
    if (a == ForbiddenAllocation) a = 0;  // would read as a joint-region code
    if (slot >= bandwidth && a != 0) info.SkipBits += a + 1;
    const auto allocation = static_cast<uint8_t>(a);
    if (slot >= jointBound) {
      info.Allocation[slot] = info.Allocation[slot + 1] = allocation;
      info.Class[slot] = info.Class[slot + 1] = static_cast<uint8_t>(allocation + JointOffset);
      slot += 2;
    } else {
      info.Allocation[slot] = info.Class[slot] = allocation;
      ++slot;
    }
  }
  info.Class[static_cast<size_t>(bandwidth)] = BandwidthLimit;
  info.Class[static_cast<size_t>(slots)] = EndOfSlots;
}

void ReadScaleFactors(TBitReader& bits, TSlotInfo& info) {
  const TLayer12State& l12 = TheDecoder.Layer12;
  for (int32_t j = 0; j < l12.CodedSlots; ++j) {
    const uint8_t a = info.Allocation[j];
    info.Combined[j] = a != 0 ? l12.LayerIFactors[a] * l12.ScaleFactors[bits.Read(6)] : 0.0f;
  }
}

float ReadSample(TBitReader& bits, uint8_t allocation) {
  const int32_t code = static_cast<int32_t>(bits.Read(allocation + 1));
  return static_cast<float>(code - ((1 << allocation) - 1));
}

void ReadRow(TBitReader& bits, const TSlotInfo& info, float* row) {
  for (int32_t j = 0;;) {
    const uint8_t cls = info.Class[static_cast<size_t>(j)];
    if (cls == EndOfSlots) return;
    if (cls == BandwidthLimit) {
      bits.Skip(info.SkipBits);
      return;
    }
    const uint8_t a = info.Allocation[j];
    const float sample = a != 0 ? ReadSample(bits, a) : 0.0f;
    row[j] = sample * info.Combined[j];
    if (cls >= JointOffset) {
      row[j + 1] = sample * info.Combined[j + 1];
      j += 2;
    } else {
      ++j;
    }
  }
}

}  // namespace

TDecodeResult Layer1DecodeFrame(const uint8_t* frame, uint32_t available, int16_t* pcm) {
  TBitReader bits;
  bits.Start(frame, available);
  TLayer12FrameHeader header;
  if (!ReadLayer12Header(bits, header)) return {0, 0};

  TLayer12State& l12 = TheDecoder.Layer12;
  TSlotInfo info;
  ReadAllocation(bits, header.JointBound, info);
  ReadScaleFactors(bits, info);
  const int32_t rowValues = SubbandCount * l12.Channels;
  for (int32_t row = 0; row < LayerIRows; ++row) {
    ReadRow(bits, info, l12.Samples.data() + row * rowValues);
  }
  TheDecoder.Routines.SynthesisDriver(l12.Samples.data(), pcm, LayerIRows);
  return {Layer12ConsumedBytes(4 * header.PaddingBit), TheDecoder.Setup.PcmBytesPerFrame};
}

}  // namespace tunewell
