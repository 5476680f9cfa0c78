// Bit-level writers of Layer I/II test frames.

#include "tests/decoder/frame_builder.h"

#include <algorithm>
#include <cstddef>

#include "decoder/decoder_state.h"
#include "decoder/layer12.h"
#include "decoder/layer12_tables.h"

namespace tunewell::test {

void TBitWriter::Put(uint32_t value, int32_t bits) {
  for (int32_t b = bits - 1; b >= 0; --b) {
    if (used_ == 8) {
      bytes_.push_back(0);
      used_ = 0;
    }
    bytes_.back() = static_cast<uint8_t>(bytes_.back() | (((value >> b) & 1u) << (7 - used_)));
    ++used_;
  }
}

std::vector<uint8_t> TBitWriter::Bytes(size_t length) const {
  std::vector<uint8_t> out = bytes_;
  out.resize(std::max(length, out.size()), 0);
  return out;
}

void PutHeader(TBitWriter& w, const TFrameHeaderFields& layout) {
  w.Put(0xFFF, 12);
  w.Put(static_cast<uint32_t>(layout.VersionId), 1);
  w.Put(static_cast<uint32_t>(layout.LayerCode), 2);
  w.Put(static_cast<uint32_t>(layout.ProtectionBit), 1);
  w.Put(static_cast<uint32_t>(layout.BitrateIndex), 4);
  w.Put(static_cast<uint32_t>(layout.SampleRateIndex), 2);
  w.Put(static_cast<uint32_t>(layout.PaddingBit), 1);
  w.Put(0, 1);
  w.Put(static_cast<uint32_t>(layout.Mode), 2);
  w.Put(static_cast<uint32_t>(layout.ModeExtension), 2);
  w.Put(0, 4);
  if (layout.ProtectionBit == 0) w.Put(0xBEEF, 16);
}

TMPEGHeader ParsedHeader(const TFrameHeaderFields& layout, int32_t& frameLength) {
  TBitWriter w;
  PutHeader(w, layout);
  const std::vector<uint8_t> bytes = w.Bytes(4);
  TMPEGHeader header{};
  frameLength = DecoderParseHeader(bytes.data(), static_cast<uint32_t>(bytes.size()), header);
  return header;
}

int32_t LevelsOfClass(int32_t cls) {
  static constexpr std::array<int32_t, 18> levels{
      0, 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};
  return levels[static_cast<size_t>(cls)];
}

namespace {

// Class of every slot, with the joint region's allocation copied to the odd slot.
std::vector<int32_t> SlotClasses(const TLayer2FrameLayout& layout, int32_t width, int32_t bound) {
  const TAllocationTable& table = AllocationTables[static_cast<size_t>(layout.Table)];
  std::vector<int32_t> classes;
  for (const TAllocationGroup& group : table.Groups) {
    for (int32_t s = 0; s < group.Size * width; ++s) {
      const auto slot = static_cast<int32_t>(classes.size());
      const int32_t allocation = slot >= bound && slot % 2 == 1
                                     ? layout.Allocation[static_cast<size_t>(slot - 1)]
                                     : layout.Allocation[static_cast<size_t>(slot)];
      classes.push_back(group.Classes[static_cast<size_t>(allocation)]);
    }
  }
  return classes;
}

}  // namespace

std::vector<uint8_t> BuildLayer2Frame(const TLayer2FrameLayout& layout, size_t length) {
  const int32_t width = layout.Header.Mode == 3 ? 1 : 2;
  const int32_t bound =
      width == 2 ? JointBoundSlots(layout.Header.Mode, layout.Header.ModeExtension) : MaxSlots;
  const TAllocationTable& table = AllocationTables[static_cast<size_t>(layout.Table)];
  const std::vector<int32_t> classes = SlotClasses(layout, width, bound);
  const auto slots = static_cast<int32_t>(classes.size());
  auto written = [&](int32_t slot) { return slot < bound || slot % 2 == 0; };

  TBitWriter w;
  PutHeader(w, layout.Header);
  int32_t slot = 0;
  for (const TAllocationGroup& group : table.Groups) {
    for (int32_t s = 0; s < group.Size * width; ++s, ++slot) {
      if (written(slot))
        w.Put(static_cast<uint32_t>(layout.Allocation[static_cast<size_t>(slot)]), group.Bits);
    }
  }
  for (int32_t j = 0; j < slots; ++j) {
    if (classes[static_cast<size_t>(j)] != 0)
      w.Put(static_cast<uint32_t>(layout.Scfsi[static_cast<size_t>(j)]), 2);
  }
  for (int32_t j = 0; j < slots; ++j) {
    if (classes[static_cast<size_t>(j)] == 0) continue;
    const auto& sf = layout.Scale[static_cast<size_t>(j)];
    switch (layout.Scfsi[static_cast<size_t>(j)]) {
      case 0:
        w.Put(static_cast<uint32_t>(sf[0]), 6);
        w.Put(static_cast<uint32_t>(sf[1]), 6);
        w.Put(static_cast<uint32_t>(sf[2]), 6);
        break;
      case 1:
        w.Put(static_cast<uint32_t>(sf[0]), 6);
        w.Put(static_cast<uint32_t>(sf[2]), 6);
        break;
      case 2:
        w.Put(static_cast<uint32_t>(sf[0]), 6);
        break;
      default:
        w.Put(static_cast<uint32_t>(sf[0]), 6);
        w.Put(static_cast<uint32_t>(sf[1]), 6);
        break;
    }
  }
  for (int32_t granule = 0; granule < 12; ++granule) {
    for (int32_t j = 0; j < slots; ++j) {
      const int32_t cls = classes[static_cast<size_t>(j)];
      if (cls == 0 || !written(j)) continue;
      if (cls == 1 || cls == 2 || cls == 4) {
        w.Put(layout.Code(granule, j, 0), cls == 1 ? 5 : cls == 2 ? 7 : 10);
      } else {
        const int32_t nb = cls == 3 ? 3 : cls - 1;
        for (int32_t i = 0; i < 3; ++i) w.Put(layout.Code(granule, j, i), nb);
      }
    }
  }
  return w.Bytes(length);
}

}  // namespace tunewell::test
