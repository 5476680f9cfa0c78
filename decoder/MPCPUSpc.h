#pragma once
// Processor detection: the DecoderCpuFlags word that routine selection reads.

#include <cstdint>

namespace tunewell {

// What the probes of one processor found. Detection reads only what its steps need, so a probe
// past a step that stops may hold anything.
struct TCpuProbe {
  uint16_t FpuStatusWord = 0;   // after initialising the FPU
  uint16_t FpuControlWord = 0;  // after initialising the FPU
  bool AlignmentCheckToggles = false;
  bool IdentificationToggles = false;
  bool DivisionKeepsFlags = false;  // the Cyrix test
  uint32_t Leaf0Ecx = 0;            // the last four characters of the vendor string
  uint32_t Leaf1Eax = 0;
  uint32_t Leaf1Edx = 0;
  uint32_t Extended1Edx = 0;     // leaf 0x80000001
  bool SseControlLoads = false;  // loading the SSE control register did not fault
};

// The DecoderCpuFlags word of a processor with these probe results.
uint32_t DetectCpuFlags(const TCpuProbe& probe);

#if defined(__x86_64__)
// Probes this processor, step by step as detection reads the results. The FPU, the flags and the
// SSE control register are left as they were.
TCpuProbe ProbeThisCpu();
#endif

// Declared in decoder/MP3decdr.h: the word of this processor, cached once non-zero.
uint32_t DecoderDetectCpu();

}  // namespace tunewell
