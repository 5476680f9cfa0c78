// Processor detection: the DecoderCpuFlags word from probe results, and on this processor.

#include <gtest/gtest.h>

#include <xmmintrin.h>

#include "decoder/MP3decdr.h"
#include "decoder/MPCPUSpc.h"

namespace tunewell {
namespace {

constexpr uint32_t Leaf0Intel = 0x6C65746E;    // "ntel"
constexpr uint32_t Leaf0Amd = 0x444D4163;      // "cAMD"
constexpr uint32_t Leaf0Cyrix = 0x64616574;    // "tead"
constexpr uint32_t Leaf0Centaur = 0x736C7561;  // "auls"

constexpr uint32_t Bit(int n) {
  return 1u << n;
}

// A processor with the identification instruction, of family byte `family`.
TCpuProbe Identified(uint32_t vendor, uint32_t family, uint32_t leaf1Edx, uint32_t ext1Edx) {
  TCpuProbe p;
  p.FpuStatusWord = 0;
  p.FpuControlWord = 0x37F;
  p.AlignmentCheckToggles = true;
  p.IdentificationToggles = true;
  p.Leaf0Ecx = vendor;
  p.Leaf1Eax = family << 8;
  p.Leaf1Edx = leaf1Edx;
  p.Extended1Edx = ext1Edx;
  p.SseControlLoads = true;
  return p;
}

TEST(CpuDetection, WordFromProbeResults) {
  struct Case {
    const char* What;
    TCpuProbe Probe;
    uint32_t Flags;
  };
  TCpuProbe noFpuStatus = Identified(Leaf0Intel, 6, 0, 0);
  noFpuStatus.FpuStatusWord = 0x0001;
  TCpuProbe noFpuControl = Identified(Leaf0Intel, 6, 0, 0);
  noFpuControl.FpuControlWord = 0x137F;
  TCpuProbe i386 = noFpuControl;
  i386.FpuControlWord = 0x37F;
  i386.AlignmentCheckToggles = false;
  TCpuProbe cyrix486 = i386;
  cyrix486.AlignmentCheckToggles = true;
  cyrix486.IdentificationToggles = false;
  cyrix486.DivisionKeepsFlags = true;
  TCpuProbe intel486 = cyrix486;
  intel486.DivisionKeepsFlags = false;
  TCpuProbe sseRefused = Identified(Leaf0Intel, 6, Bit(25), 0);
  sseRefused.SseControlLoads = false;
  const uint32_t everything = Bit(31) | Bit(30) | Bit(22) | Bit(15);
  const Case cases[] = {
      {"FPU status byte not 0", noFpuStatus, 0},
      {"FPU control word wrong", noFpuControl, 0},
      {"386: alignment flag fixed", i386, CpuFpu},
      {"no identification, Cyrix division", cyrix486, CpuFpu | CpuVendorCyrix | CpuClass486},
      {"no identification, other division", intel486, CpuFpu | CpuVendorIntel | CpuClass486},
      {"Cyrix family 4: no feature bits read",
       Identified(Leaf0Cyrix, 4, Bit(23) | Bit(15) | Bit(25), everything),
       CpuFpu | CpuVendorCyrix | CpuClass486},
      {"Intel Pentium MMX", Identified(Leaf0Intel, 5, Bit(23), 0),
       CpuFpu | CpuVendorIntel | CpuClassPentium | CpuMMX},
      {"Intel P6 with CMOV from leaf 1", Identified(Leaf0Intel, 6, Bit(15) | Bit(23), 0),
       CpuFpu | CpuVendorIntel | CpuClassP6 | CpuCMOV | CpuMMX},
      {"SSE brings the MMX extensions", Identified(Leaf0Intel, 6, Bit(25), 0),
       CpuFpu | CpuVendorIntel | CpuClassP6 | CpuSSE | CpuMMXExt},
      {"SSE control load faults: 0x8 cleared, 0x40 kept", sseRefused,
       CpuFpu | CpuVendorIntel | CpuClassP6 | CpuMMXExt},
      {"AMD Athlon: extended leaf", Identified(Leaf0Amd, 6, Bit(23) | Bit(15), everything),
       CpuFpu | CpuVendorAMD | CpuClassP6 | CpuMMX | Cpu3DNow | CpuE3DNow | CpuMMXExt | CpuCMOV},
      {"AMD K6-2: 3DNow! only", Identified(Leaf0Amd, 5, Bit(23), Bit(31)),
       CpuFpu | CpuVendorAMD | CpuClassPentium | CpuMMX | Cpu3DNow},
      {"family byte 0x0F counts as any other value", Identified(Leaf0Amd, 0x0F, 0, 0),
       CpuFpu | CpuVendorAMD | CpuClassP6},
      {"family byte taken whole with the type bits", Identified(Leaf0Intel, 0x15, 0, 0),
       CpuFpu | CpuVendorIntel | CpuClassP6},
      {"Centaur", Identified(Leaf0Centaur, 6, 0, 0), CpuFpu | CpuVendorCentaur | CpuClassP6},
      {"other vendor", Identified(0x12345678, 6, 0, 0), CpuFpu | CpuVendorOther | CpuClassP6},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DetectCpuFlags(c.Probe), c.Flags)
        << c.What << std::hex << " got 0x" << DetectCpuFlags(c.Probe);
  }
}

#if defined(__x86_64__)
TEST(CpuDetection, ThisProcessor) {
  const unsigned before = _mm_getcsr();
  const uint32_t probed = DetectCpuFlags(ProbeThisCpu());
  EXPECT_EQ(_mm_getcsr(), before) << "the SSE control register was not restored";
  const uint32_t flags = DecoderDetectCpu();
  EXPECT_EQ(flags, probed);
  EXPECT_EQ(DecoderDetectCpu(), flags);
  // Every x86-64 processor has these.
  constexpr uint32_t baseline = CpuFpu | CpuMMX | CpuSSE | CpuCMOV | CpuMMXExt;
  EXPECT_EQ(flags & baseline, baseline) << std::hex << flags;
  EXPECT_EQ(flags & CpuClass486, 0u);
}
#endif

}  // namespace
}  // namespace tunewell
