// Routine selection: the member each of the six slots gets for a capability word, and the
// arithmetic of the chosen output members.

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "decoder/MP3decdr.h"
#include "decoder/decoder_state.h"
#include "decoder/pcm_output.h"
#include "decoder/synthesis.h"

namespace tunewell {
namespace {

using TNames = std::array<std::string, RoutineSlotCount>;

TNames SelectedMembers(uint32_t flags) {
  DecoderSelectRoutines(flags);
  TNames names;
  for (int32_t slot = 0; slot < RoutineSlotCount; ++slot) names[slot] = DecoderRoutineMember(slot);
  return names;
}

// Runs first in this program: nothing has been selected yet.
TEST(RoutineSelection, NoMemberBeforeTheFirstSelection) {
  for (int32_t slot = 0; slot < RoutineSlotCount; ++slot)
    EXPECT_STREQ(DecoderRoutineMember(slot), "");
}

TEST(RoutineSelection, MembersOfEverySlot) {
  constexpr uint32_t intelP6 = CpuFpu | CpuVendorIntel | CpuClassP6;
  constexpr uint32_t amd = CpuFpu | CpuVendorAMD | CpuClassP6;
  struct Case {
    const char* What;
    uint32_t Flags;
    TNames Names;  // antialias, hybrid, imdct36, imdct12, synth mono, synth stereo
  };
  const Case cases[] = {
      {"nothing", 0, {"portable", "portable", "portable", "portable", "portable", "portable"}},
      {"FPU only",
       CpuFpu,
       {"portable", "portable", "portable", "portable", "portable", "portable"}},
      {"MMX and SSE select nothing by themselves",
       CpuFpu | CpuMMX | CpuSSE | CpuMMXExt,
       {"portable", "portable", "portable", "portable", "portable", "portable"}},
      {"Intel P6 with CMOV",
       intelP6 | CpuCMOV,
       {"portable", "pentium", "pentium", "pentium", "pentium-cmov", "pentium-cmov"}},
      {"Intel Pentium",
       CpuFpu | CpuVendorIntel | CpuClassPentium,
       {"portable", "pentium", "pentium", "pentium", "pentium", "pentium"}},
      {"Intel 486 with CMOV",
       CpuFpu | CpuVendorIntel | CpuClass486 | CpuCMOV,
       {"portable", "portable", "portable", "portable", "portable", "portable"}},
      {"AMD with everything",
       amd | CpuMMX | Cpu3DNow | CpuE3DNow | CpuMMXExt | CpuCMOV | CpuSSE,
       {"e3dnow", "e3dnow", "e3dnow", "e3dnow", "e3dnow", "e3dnow"}},
      {"AMD 3DNow! and extended 3DNow!, no CMOV, no MMX extensions",
       amd | Cpu3DNow | CpuE3DNow,
       {"e3dnow", "portable", "e3dnow", "e3dnow", "3dnow", "3dnow"}},
      {"AMD 3DNow! only",
       amd | Cpu3DNow | CpuCMOV,
       {"3dnow", "portable", "portable", "portable", "3dnow", "3dnow"}},
      {"AMD without 3DNow!",
       amd | CpuCMOV | CpuMMXExt,
       {"portable", "portable", "portable", "portable", "portable", "portable"}},
      {"the Cyrix 486 word",
       CpuFpu | CpuVendorCyrix | CpuClass486,
       {"portable", "portable", "portable", "portable", "portable", "portable"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SelectedMembers(c.Flags), c.Names) << c.What;
}

TEST(RoutineSelection, ExtendedThreeDNowWithoutThreeDNowCountsAsNeither) {
  constexpr uint32_t others[] = {CpuFpu | CpuVendorAMD | CpuClassP6 | CpuCMOV | CpuMMXExt,
                                 CpuFpu | CpuVendorIntel | CpuClassP6 | CpuCMOV,
                                 CpuFpu | CpuVendorIntel | CpuClassPentium | CpuMMXExt};
  for (const uint32_t flags : others) {
    EXPECT_EQ(SelectedMembers(flags | CpuE3DNow), SelectedMembers(flags)) << std::hex << flags;
  }
}

TEST(RoutineSelection, SlotNumbersOutOfRangeNameNothing) {
  DecoderSelectRoutines(CpuFpu);
  EXPECT_STREQ(DecoderRoutineMember(-1), "");
  EXPECT_STREQ(DecoderRoutineMember(RoutineSlotCount), "");
}

// Sample 1 of the output slot for a ring whose only non-zero value is X_0[17]: it meets
// D[1] = -1/65536 there (and D[481] in sample 31), so the sum is exactly `sum`.
int16_t SampleThroughSlot(uint32_t flags, double sum, bool stereo) {
  EnsureSynthesisTables();
  const TSynthesisState& syn = TheDecoder.Synthesis;
  EXPECT_EQ(syn.Window[1] * (syn.PolarityInverted != 0 ? 65536.0f : -65536.0f), 1.0f);
  std::array<float, SynthesisRingSize> ring{};
  ring[17] = static_cast<float>(sum / syn.Window[1]);
  std::array<int16_t, 64> out{};
  DecoderSelectRoutines(flags);
  const TRoutineSlots& slots = TheDecoder.Routines;
  (stereo ? slots.SynthStereoRoutine : slots.SynthMonoRoutine)(ring.data(), 0, out.data());
  return out[stereo ? 2 : 1];
}

TEST(RoutineSelection, ChosenOutputMembersRoundAsTheirKind) {
  constexpr uint32_t amd = CpuFpu | CpuVendorAMD | CpuClassP6;
  struct Case {
    const char* What;
    uint32_t Flags;
    int16_t Positive, Negative;  // 2.5 and -2.5
  };
  const Case cases[] = {
      {"portable", CpuFpu, 2, -2},
      {"pentium", CpuFpu | CpuVendorIntel | CpuClassPentium, 2, -2},
      {"pentium-cmov", CpuFpu | CpuVendorIntel | CpuClassP6 | CpuCMOV, 2, -2},
      {"3dnow", amd | Cpu3DNow, 3, -3},
      {"e3dnow", amd | Cpu3DNow | CpuE3DNow | CpuMMXExt | CpuCMOV, 3, -3},
  };
  for (const Case& c : cases) {
    for (const bool stereo : {false, true}) {
      EXPECT_EQ(SampleThroughSlot(c.Flags, 2.5, stereo), c.Positive) << c.What;
      EXPECT_EQ(SampleThroughSlot(c.Flags, -2.5, stereo), c.Negative) << c.What;
    }
  }
}

TEST(RoutineSelection, ThreeDNowConversion) {
  struct Case {
    float Sum;
    int16_t Sample;
  };
  const Case cases[] = {{0.0f, 0},           {0.49f, 0},          {-0.49f, 0},
                        {0.5f, 1},           {-0.5f, -1},         {1.5f, 2},
                        {-1.5f, -2},         {-1.0f, -1},         {32767.5f, 32767},
                        {-32768.4f, -32768}, {-32768.5f, -32768}, {1.0e12f, 32767},
                        {-1.0e12f, -32768}};
  for (const Case& c : cases) EXPECT_EQ(ConvertSampleThreeDNow(c.Sum), c.Sample) << c.Sum;
}

}  // namespace
}  // namespace tunewell
