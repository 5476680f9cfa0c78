// DecoderSelectRoutines: fills the processor-dependent routine slots.

#include "decoder/routine_select.h"

#include "decoder/MP3decdr.h"
#include "decoder/decoder_state.h"
#include "decoder/pcm_output.h"

namespace tunewell {

namespace {

struct TOutputPair {
  TSynthOutputRoutine Mono;
  TSynthOutputRoutine Stereo;
};

// Only the portable pair exists so far; every kind maps to it.
TOutputPair OutputPairFor(TOutputMember /*member*/) {
  return {SynthMonoPortable, SynthStereoPortable};
}

}  // namespace

uint32_t NormaliseCpuFlags(uint32_t flags) {
  return (flags & Cpu3DNow) != 0 ? flags : flags & ~CpuE3DNow;
}

bool IsIntelPentiumOrLater(uint32_t flags) {
  return (flags & CpuVendorIntel) != 0 && (flags & (CpuClassPentium | CpuClassP6)) != 0;
}

TOutputMember OutputMemberFor(uint32_t flags) {
  flags = NormaliseCpuFlags(flags);
  if ((flags & CpuE3DNow) != 0 && (flags & CpuMMXExt) != 0) return TOutputMember::Extended3DNow;
  if ((flags & Cpu3DNow) != 0) return TOutputMember::ThreeDNow;
  if (IsIntelPentiumOrLater(flags)) {
    return (flags & CpuCMOV) != 0 ? TOutputMember::PentiumCmov : TOutputMember::Pentium;
  }
  return TOutputMember::Portable;
}

void DecoderSelectRoutines(uint32_t flags) {
  const TOutputPair output = OutputPairFor(OutputMemberFor(flags));
  TheDecoder.Routines.SynthMonoRoutine = output.Mono;
  TheDecoder.Routines.SynthStereoRoutine = output.Stereo;
  // Only the portable Layer III members exist so far.
  TheDecoder.Routines.Layer3 = PortableLayer3Routines;
}

}  // namespace tunewell
