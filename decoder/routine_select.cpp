// DecoderSelectRoutines: fills the processor-dependent routine slots.

#include "decoder/routine_select.h"

#include "decoder/decoder_state.h"
#include "decoder/pcm_output.h"

namespace tunewell {

namespace {

bool Has(uint32_t flags, uint32_t bits) {
  return (flags & bits) == bits;
}

TRoutineMember AntialiasMemberFor(uint32_t flags) {
  if (Has(flags, CpuE3DNow)) return TRoutineMember::Extended3DNow;
  if (Has(flags, Cpu3DNow)) return TRoutineMember::ThreeDNow;
  return TRoutineMember::Portable;
}

TRoutineMember OutputMemberFor(uint32_t flags) {
  if (Has(flags, CpuE3DNow | CpuMMXExt)) return TRoutineMember::Extended3DNow;
  if (Has(flags, Cpu3DNow)) return TRoutineMember::ThreeDNow;
  if (IsIntelPentiumOrLater(flags)) {
    return Has(flags, CpuCMOV) ? TRoutineMember::PentiumCmov : TRoutineMember::Pentium;
  }
  return TRoutineMember::Portable;
}

TRoutineMember HybridMemberFor(uint32_t flags) {
  if (Has(flags, CpuE3DNow | CpuCMOV)) return TRoutineMember::Extended3DNow;
  if (IsIntelPentiumOrLater(flags)) return TRoutineMember::Pentium;
  return TRoutineMember::Portable;
}

TRoutineMember KernelMemberFor(uint32_t flags) {
  if (Has(flags, CpuE3DNow)) return TRoutineMember::Extended3DNow;
  if (IsIntelPentiumOrLater(flags)) return TRoutineMember::Pentium;
  return TRoutineMember::Portable;
}

bool UsesThreeDNowArithmetic(TRoutineMember member) {
  return member == TRoutineMember::ThreeDNow || member == TRoutineMember::Extended3DNow;
}

// The Pentium members compute exactly what the portable ones do, and the extended-3DNow! members
// what the 3DNow! ones do; they share code.
Layer3Routines Layer3MembersOf(const TRoutineChoice& choice) {
  const bool singleKernels = choice[Imdct36Slot] == TRoutineMember::Extended3DNow;
  return {UsesThreeDNowArithmetic(choice[AntialiasSlot]) ? AntialiasThreeDNow : AntialiasPortable,
          HybridPortable, singleKernels ? Imdct36ThreeDNow : Imdct36Portable,
          singleKernels ? Imdct12ThreeDNow : Imdct12Portable};
}

}  // namespace

const char* RoutineMemberName(TRoutineMember member) {
  switch (member) {
    case TRoutineMember::Portable:
      return "portable";
    case TRoutineMember::Pentium:
      return "pentium";
    case TRoutineMember::PentiumCmov:
      return "pentium-cmov";
    case TRoutineMember::ThreeDNow:
      return "3dnow";
    case TRoutineMember::Extended3DNow:
      return "e3dnow";
  }
  return "";
}

uint32_t NormaliseCpuFlags(uint32_t flags) {
  return (flags & Cpu3DNow) != 0 ? flags : flags & ~CpuE3DNow;
}

bool IsIntelPentiumOrLater(uint32_t flags) {
  return (flags & CpuVendorIntel) != 0 && (flags & (CpuClassPentium | CpuClassP6)) != 0;
}

TRoutineChoice ChooseRoutines(uint32_t flags) {
  flags = NormaliseCpuFlags(flags);
  const TRoutineMember output = OutputMemberFor(flags);
  const TRoutineMember kernels = KernelMemberFor(flags);
  TRoutineChoice choice{};
  choice[AntialiasSlot] = AntialiasMemberFor(flags);
  choice[HybridSlot] = HybridMemberFor(flags);
  choice[Imdct36Slot] = kernels;
  choice[Imdct12Slot] = kernels;
  choice[SynthMonoSlot] = output;
  choice[SynthStereoSlot] = output;
  return choice;
}

void DecoderSelectRoutines(uint32_t flags) {
  const TRoutineChoice choice = ChooseRoutines(flags);
  TRoutineSlots& slots = TheDecoder.Routines;
  const bool threeDNowOutput = UsesThreeDNowArithmetic(choice[SynthMonoSlot]);
  slots.SynthMonoRoutine = threeDNowOutput ? SynthMonoThreeDNow : SynthMonoPortable;
  slots.SynthStereoRoutine = threeDNowOutput ? SynthStereoThreeDNow : SynthStereoPortable;
  slots.Layer3 = Layer3MembersOf(choice);
  for (size_t slot = 0; slot < choice.size(); ++slot) {
    slots.MemberNames[slot] = RoutineMemberName(choice[slot]);
  }
}

const char* DecoderRoutineMember(int32_t slot) {
  if (slot < 0 || slot >= RoutineSlotCount) return "";
  const char* name = TheDecoder.Routines.MemberNames[static_cast<size_t>(slot)];
  return name != nullptr ? name : "";
}

}  // namespace tunewell
