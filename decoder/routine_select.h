#pragma once
// Choice of the processor-specific members of the six routine slots.

#include <array>
#include <cstdint>

#include "decoder/MP3decdr.h"

namespace tunewell {

enum class TRoutineMember { Portable, Pentium, PentiumCmov, ThreeDNow, Extended3DNow };

// "portable", "pentium", "pentium-cmov", "3dnow", "e3dnow".
const char* RoutineMemberName(TRoutineMember member);

// The member of each slot, indexed by AntialiasSlot ... SynthStereoSlot.
using TRoutineChoice = std::array<TRoutineMember, RoutineSlotCount>;

// The flags with extended 3DNow! dropped when 3DNow! itself is absent.
uint32_t NormaliseCpuFlags(uint32_t flags);
// An Intel processor of the Pentium class or later.
bool IsIntelPentiumOrLater(uint32_t flags);

TRoutineChoice ChooseRoutines(uint32_t flags);

}  // namespace tunewell
