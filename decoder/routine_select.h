#pragma once
// Choice of the processor-specific members of the routine slots.

#include <cstdint>

namespace tunewell {

// Member kinds of the PCM output slots, in the order the selection rule tries them.
enum class TOutputMember { Extended3DNow, ThreeDNow, PentiumCmov, Pentium, Portable };

// The flags with extended 3DNow! dropped when 3DNow! itself is absent.
uint32_t NormaliseCpuFlags(uint32_t flags);
// An Intel processor of the Pentium class or later.
bool IsIntelPentiumOrLater(uint32_t flags);

TOutputMember OutputMemberFor(uint32_t flags);

}  // namespace tunewell
