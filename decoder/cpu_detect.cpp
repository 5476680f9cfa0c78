// Processor detection: the FPU test, flag probes, the identification instruction and the SSE
// control-register probe, turned into a DecoderCpuFlags word.

#include <atomic>

#include "decoder/MP3decdr.h"
#include "decoder/MPCPUSpc.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace tunewell {

namespace {

constexpr uint32_t AlignmentCheckFlag = 1u << 18;
constexpr uint32_t IdentificationFlag = 1u << 21;

// The last four characters of the vendor string, as leaf 0 leaves them in ECX.
constexpr uint32_t VendorTail(const char (&tail)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(tail[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(tail[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(tail[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(tail[3])) << 24;
}

uint32_t VendorFlag(uint32_t ecx) {
  if (ecx == VendorTail("ntel")) return CpuVendorIntel;
  if (ecx == VendorTail("cAMD")) return CpuVendorAMD;
  if (ecx == VendorTail("tead")) return CpuVendorCyrix;
  if (ecx == VendorTail("auls")) return CpuVendorCentaur;
  return CpuVendorOther;
}

bool Bit(uint32_t word, int bit) {
  return ((word >> bit) & 1u) != 0;
}

}  // namespace

uint32_t DetectCpuFlags(const TCpuProbe& probe) {
  if ((probe.FpuStatusWord & 0xFF) != 0 || (probe.FpuControlWord & 0x103F) != 0x3F) return 0;
  uint32_t flags = CpuFpu;
  if (!probe.AlignmentCheckToggles) return flags;  // a 386
  if (!probe.IdentificationToggles) {
    flags |= probe.DivisionKeepsFlags ? CpuVendorCyrix : CpuVendorIntel;
    return flags | CpuClass486;
  }
  flags |= VendorFlag(probe.Leaf0Ecx);
  // The family byte is taken whole, processor-type bits included.
  const uint32_t family = (probe.Leaf1Eax >> 8) & 0xFF;
  if (family == 4) return flags | CpuClass486;
  flags |= family == 5 ? CpuClassPentium : CpuClassP6;

  const uint32_t ext = probe.Extended1Edx;
  if (Bit(ext, 31)) flags |= Cpu3DNow;
  if (Bit(ext, 15)) flags |= CpuCMOV;
  if (Bit(ext, 30)) flags |= CpuE3DNow;
  if (Bit(ext, 22)) flags |= CpuMMXExt;
  const uint32_t std = probe.Leaf1Edx;
  if (Bit(std, 23)) flags |= CpuMMX;
  if (Bit(std, 15)) flags |= CpuCMOV;
  if (Bit(std, 25)) flags |= CpuSSE | CpuMMXExt;
  if ((flags & CpuSSE) != 0 && !probe.SseControlLoads) flags &= ~CpuSSE;
  return flags;
}

#if defined(__x86_64__)

namespace {

void ProbeFpu(TCpuProbe& probe) {
  alignas(16) unsigned char saved[108];
  uint16_t status = 0xFFFF;
  uint16_t control = 0;
  asm volatile(
      "fnsave %2\n\t"
      "fninit\n\t"
      "fnstsw %0\n\t"
      "fnstcw %1\n\t"
      "frstor %2"
      : "=m"(status), "=m"(control), "+m"(saved)
      :
      : "memory");
  probe.FpuStatusWord = status;
  probe.FpuControlWord = control;
}

// Tries to flip one bit of the flags register; the register is restored either way.
bool FlagToggles(uint32_t bit) {
  uint64_t before = 0;
  uint64_t after = 0;
  const uint64_t mask = bit;
  // The pushes go below the red zone the compiler may be using.
  asm volatile(
      "sub $128, %%rsp\n\t"
      "pushfq\n\t"
      "pop %0\n\t"
      "mov %0, %1\n\t"
      "xor %2, %1\n\t"
      "push %1\n\t"
      "popfq\n\t"
      "pushfq\n\t"
      "pop %1\n\t"
      "push %0\n\t"
      "popfq\n\t"
      "add $128, %%rsp"
      : "=&r"(before), "=&r"(after)
      : "r"(mask)
      : "cc", "memory");
  return ((before ^ after) & mask) != 0;
}

// Divides 5 by 2 with the arithmetic flags cleared; a Cyrix processor leaves them alone.
bool DivisionKeepsFlags() {
  uint64_t flags = 0;
  asm volatile(
      "sub $128, %%rsp\n\t"
      "pushfq\n\t"
      "andb $0, (%%rsp)\n\t"
      "popfq\n\t"
      "mov $5, %%ax\n\t"
      "mov $2, %%cl\n\t"
      "divb %%cl\n\t"
      "pushfq\n\t"
      "pop %0\n\t"
      "add $128, %%rsp"
      : "=r"(flags)
      :
      : "eax", "ecx", "cc", "memory");
  return (flags & 0xFF) == 0x02;
}

// Loads the SSE control register with every exception masked and flush to zero, then puts the
// old value back: the rest of the program computes through this register. On x86-64 the load
// cannot fault (the ABI requires an operating system that saves the SSE state).
bool SseControlLoads() {
  uint32_t saved = 0;
  uint32_t probe = 0x9F80;
  asm volatile(
      "stmxcsr %0\n\t"
      "ldmxcsr %1\n\t"
      "ldmxcsr %0"
      : "+m"(saved)
      : "m"(probe)
      : "memory");
  return true;
}

}  // namespace

TCpuProbe ProbeThisCpu() {
  TCpuProbe probe;
  ProbeFpu(probe);
  probe.AlignmentCheckToggles = FlagToggles(AlignmentCheckFlag);
  if (!probe.AlignmentCheckToggles) return probe;
  probe.IdentificationToggles = FlagToggles(IdentificationFlag);
  if (!probe.IdentificationToggles) {
    probe.DivisionKeepsFlags = DivisionKeepsFlags();
    return probe;
  }
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(0, a, b, c, d);
  probe.Leaf0Ecx = c;
  __cpuid(1, a, b, c, d);
  probe.Leaf1Eax = a;
  probe.Leaf1Edx = d;
  // Asked without checking the highest extended leaf first, as detection has always done.
  __cpuid(0x80000001u, a, b, c, d);
  probe.Extended1Edx = d;
  if (Bit(probe.Leaf1Edx, 25)) probe.SseControlLoads = SseControlLoads();
  return probe;
}

#endif

uint32_t DecoderDetectCpu() {
  // Concurrent first calls both detect and store the same word.
  static std::atomic<uint32_t> cached{0};
  const uint32_t known = cached.load(std::memory_order_relaxed);
  if (known != 0) return known;
#if defined(__x86_64__)
  const uint32_t flags = DetectCpuFlags(ProbeThisCpu());
#else
  const uint32_t flags = CpuFpu | CpuVendorOther | CpuClassP6;
#endif
  if (flags != 0) cached.store(flags, std::memory_order_relaxed);
  return flags;
}

}  // namespace tunewell
