#include <cstdint>
#include <cstring>
#include <new>

#include "stream/MPStreamReader.h"

namespace tunewell {

void* AllocAligned(size_t size, size_t alignment) {
  constexpr size_t slot = sizeof(void*);
  auto* raw = static_cast<uint8_t*>(::operator new(size + alignment + slot));
  // Rounding down loses at most alignment - 1 bytes, so a whole pointer always fits before.
  auto address = reinterpret_cast<uintptr_t>(raw) + alignment + slot - 1;
  address &= ~(static_cast<uintptr_t>(alignment) - 1);
  auto* block = reinterpret_cast<uint8_t*>(address);
  std::memcpy(block - slot, &raw, slot);
  return block;
}

void FreeAligned(void* block) {
  if (block == nullptr) return;
  void* raw;
  std::memcpy(&raw, static_cast<uint8_t*>(block) - sizeof(void*), sizeof(void*));
  ::operator delete(raw);
}

}  // namespace tunewell
