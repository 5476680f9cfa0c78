// Routine selection: which member kind the output slots get for a capability word.

#include <gtest/gtest.h>

#include "decoder/MP3decdr.h"
#include "decoder/decoder_state.h"
#include "decoder/routine_select.h"

namespace tunewell {
namespace {

TEST(RoutineSelection, OutputMemberByTheFirstMatchingRule) {
  struct Case {
    uint32_t Flags;
    TOutputMember Member;
  };
  const Case cases[] = {
      {0, TOutputMember::Portable},
      {CpuFpu, TOutputMember::Portable},
      {CpuFpu | CpuMMX | CpuSSE, TOutputMember::Portable},
      {CpuVendorIntel | CpuClassP6 | CpuCMOV, TOutputMember::PentiumCmov},
      {CpuVendorIntel | CpuClassPentium, TOutputMember::Pentium},
      {CpuVendorIntel | CpuClass486 | CpuCMOV, TOutputMember::Portable},
      {CpuVendorAMD | CpuClassP6 | CpuCMOV, TOutputMember::Portable},
      {CpuVendorAMD | CpuClassP6 | Cpu3DNow | CpuE3DNow | CpuMMXExt | CpuCMOV,
       TOutputMember::Extended3DNow},
      {CpuVendorAMD | CpuClassP6 | Cpu3DNow | CpuE3DNow, TOutputMember::ThreeDNow},
      // Extended 3DNow! without 3DNow! counts as neither.
      {CpuVendorIntel | CpuClassP6 | CpuE3DNow | CpuMMXExt, TOutputMember::Pentium},
      {CpuVendorAMD | CpuE3DNow | CpuMMXExt, TOutputMember::Portable},
  };
  for (const Case& c : cases) EXPECT_EQ(OutputMemberFor(c.Flags), c.Member) << std::hex << c.Flags;
}

TEST(RoutineSelection, FillsBothOutputSlots) {
  DecoderSelectRoutines(CpuVendorAMD | Cpu3DNow);
  EXPECT_NE(TheDecoder.Routines.SynthMonoRoutine, nullptr);
  EXPECT_NE(TheDecoder.Routines.SynthStereoRoutine, nullptr);
}

}  // namespace
}  // namespace tunewell
