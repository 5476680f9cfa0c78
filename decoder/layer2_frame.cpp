// Layer II frame decoder: allocation, scfsi, scale factors, samples, then the synthesis.

#include <array>
#include <cstddef>

#include "decoder/bit_reader.h"
#include "decoder/decoder_state.h"
#include "decoder/layer12.h"
#include "decoder/layer12_tables.h"

namespace tunewell {

namespace {

// Quantisation class codes beyond the plain classes 0 ... 17.
constexpr uint8_t JointOffset = 18;  // class + 18: one sample set for the slot pair
constexpr uint8_t EndOfSlots = 36;
constexpr uint8_t BandwidthLimit = 37;

constexpr int32_t Parts = 3;
constexpr int32_t GranulesPerPart = 4;

// Bits of three samples by class, for skipping the subbands above the bandwidth.
constexpr std::array<uint32_t, 18> BitsPerTriple{0,  5,  7,  9,  10, 12, 15, 18, 21,
                                                 24, 27, 30, 33, 36, 39, 42, 45, 48};

struct TSlotInfo {
  std::array<uint8_t, MaxSlots + 1> Class;  // with the joint offset and the end marks
  std::array<uint8_t, MaxSlots + 1> Plain;
  std::array<std::array<float, Parts>, MaxSlots> Combined;  // factor x scale factor per part
  uint32_t SkipBits;
};

// Returns the slot after the last coded one.
int32_t ReadAllocation(TBitReader& bits, int32_t jointBound, TSlotInfo& info) {
  const TLayer12State& l12 = TheDecoder.Layer12;
  const TAllocationTable& table = AllocationTables[static_cast<size_t>(l12.AllocationTable)];
  const int32_t bandwidth = TheDecoder.Setup.BandwidthSubbands;
  info.SkipBits = 0;
  int32_t slot = 0;
  for (size_t g = 0; g < table.Groups.size(); ++g) {
    const TAllocationGroup& group = table.Groups[g];
    const int32_t end = slot + l12.GroupSlots[g];
    while (slot < end) {
      const uint8_t cls = group.Classes[bits.Read(group.Bits)];
      if (slot >= bandwidth) info.SkipBits += BitsPerTriple[cls];
      if (slot >= jointBound) {
        info.Plain[slot] = info.Plain[slot + 1] = cls;
        info.Class[slot] = info.Class[slot + 1] = static_cast<uint8_t>(cls + JointOffset);
        slot += 2;
      } else {
        info.Plain[slot] = info.Class[slot] = cls;
        ++slot;
      }
    }
  }
  info.Class[static_cast<size_t>(bandwidth)] = BandwidthLimit;
  info.Class[static_cast<size_t>(slot)] = EndOfSlots;
  return slot;
}

void ReadScaleFactors(TBitReader& bits, int32_t slots, TSlotInfo& info) {
  const TLayer12State& l12 = TheDecoder.Layer12;
  std::array<uint8_t, MaxSlots> scfsi;
  for (int32_t j = 0; j < slots; ++j) {
    scfsi[j] = info.Plain[j] != 0 ? static_cast<uint8_t>(bits.Read(2)) : 4;
  }
  for (int32_t j = 0; j < slots; ++j) {
    if (scfsi[j] == 4) continue;
    const float factor = l12.LayerIIFactors[info.Plain[j]];
    auto scale = [&] { return factor * l12.ScaleFactors[bits.Read(6)]; };
    std::array<float, Parts>& part = info.Combined[j];
    switch (scfsi[j]) {
      case 0:
        part[0] = scale();
        part[1] = scale();
        part[2] = scale();
        break;
      case 1:
        part[0] = part[1] = scale();
        part[2] = scale();
        break;
      case 2:
        part[0] = part[1] = part[2] = scale();
        break;
      default:
        part[0] = scale();
        part[1] = part[2] = scale();
        break;
    }
  }
}

// Three sample codes of a class, centred on 0; the combined factor scales them.
std::array<float, 3> ReadTriple(TBitReader& bits, uint8_t cls) {
  const TLayer12State& l12 = TheDecoder.Layer12;
  switch (cls) {
    case 0:
      return {0.0f, 0.0f, 0.0f};
    case 1:
      return l12.Grouped3[bits.Read(5)];
    case 2:
      return l12.Grouped5[bits.Read(7)];
    case 4:
      return l12.Grouped9[bits.Read(10)];
    default: {
      const int32_t nb = cls == 3 ? 3 : cls - 1;
      const int32_t centre = (1 << (nb - 1)) - 1;
      // The three codes in one read: at most 3 x 16 bits.
      const uint64_t codes = bits.ReadWide(3 * nb);
      const uint64_t mask = (uint64_t{1} << nb) - 1;
      std::array<float, 3> triple;
      for (int32_t i = 0; i < 3; ++i) {
        const auto code = static_cast<int32_t>((codes >> (nb * (2 - i))) & mask);
        triple[static_cast<size_t>(i)] = static_cast<float>(code - centre);
      }
      return triple;
    }
  }
}

// One granule: three rows of samples starting at `rows`.
void ReadGranule(TBitReader& bits, const TSlotInfo& info, int32_t part, float* rows,
                 int32_t rowValues) {
  const auto p = static_cast<size_t>(part);
  for (int32_t j = 0;;) {
    const uint8_t cls = info.Class[static_cast<size_t>(j)];
    if (cls == EndOfSlots) return;
    if (cls == BandwidthLimit) {
      bits.Skip(info.SkipBits);
      return;
    }
    const bool joint = cls >= JointOffset;
    const std::array<float, 3> triple =
        ReadTriple(bits, joint ? static_cast<uint8_t>(cls - JointOffset) : cls);
    const float scale = cls == 0 || cls == JointOffset ? 0.0f : info.Combined[j][p];
    for (int32_t r = 0; r < 3; ++r) rows[r * rowValues + j] = triple[r] * scale;
    if (joint) {
      const float right = cls == JointOffset ? 0.0f : info.Combined[j + 1][p];
      for (int32_t r = 0; r < 3; ++r) rows[r * rowValues + j + 1] = triple[r] * right;
      j += 2;
    } else {
      ++j;
    }
  }
}

}  // namespace

TDecodeResult Layer2DecodeFrame(const uint8_t* frame, uint32_t available, int16_t* pcm) {
  TBitReader bits;
  bits.Start(frame, available);
  TLayer12FrameHeader header;
  if (!ReadLayer12Header(bits, header)) return {0, 0};

  TLayer12State& l12 = TheDecoder.Layer12;
  TSlotInfo info;
  const int32_t slots = ReadAllocation(bits, header.JointBound, info);
  ReadScaleFactors(bits, slots, info);

  const int32_t rowValues = SubbandCount * l12.Channels;
  for (int32_t granule = 0; granule < Parts * GranulesPerPart; ++granule) {
    ReadGranule(bits, info, granule / GranulesPerPart, l12.Samples.data() + granule * 3 * rowValues,
                rowValues);
  }
  TheDecoder.Routines.SynthesisDriver(l12.Samples.data(), pcm, LayerIIRows);
  return {Layer12ConsumedBytes(header.PaddingBit), TheDecoder.Setup.PcmBytesPerFrame};
}

}  // namespace tunewell
