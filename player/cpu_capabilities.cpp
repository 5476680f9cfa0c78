// The processor's capabilities as the component names them, and the word that routine
// selection reads.

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "player/MP3Plyr.h"

namespace tunewell {

namespace {

struct TCapabilityBit {
  TMP3CpuCapability Member;
  uint32_t Flag;
};

constexpr TCapabilityBit kCapabilityBits[] = {
    {mccMMX, CpuMMX},       {mcc3DNow, Cpu3DNow}, {mccKNI, CpuSSE},
    {mccE3DNow, CpuE3DNow}, {mccCMOV, CpuCMOV},   {mccEMMX, CpuMMXExt},
};

constexpr uint32_t kCapabilityFlags = CpuMMX | Cpu3DNow | CpuSSE | CpuE3DNow | CpuCMOV | CpuMMXExt;

#if defined(__i386__) || defined(__x86_64__)
uint32_t DetectedFlags() {
  uint32_t flags = CpuFpu | CpuClassP6;
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(0, &a, &b, &c, &d) == 0) return flags | CpuVendorOther;
  // The vendor string is in EBX, EDX, ECX: "GenuineIntel", "AuthenticAMD".
  if (b == 0x756E6547) {
    flags |= CpuVendorIntel;
  } else if (b == 0x68747541) {
    flags |= CpuVendorAMD;
  } else {
    flags |= CpuVendorOther;
  }
  if (__get_cpuid(1, &a, &b, &c, &d) != 0) {
    if (d & (1u << 23)) flags |= CpuMMX;
    if (d & (1u << 15)) flags |= CpuCMOV;
    if (d & (1u << 25)) flags |= CpuSSE | CpuMMXExt;
  }
  if (__get_cpuid(0x80000001, &a, &b, &c, &d) != 0) {
    if (d & (1u << 31)) flags |= Cpu3DNow;
    if (d & (1u << 30)) flags |= CpuE3DNow;
    if (d & (1u << 22)) flags |= CpuMMXExt;
  }
  return flags;
}
#else
uint32_t DetectedFlags() {
  return CpuFpu | CpuVendorOther | CpuClassP6;
}
#endif

}  // namespace

TMP3CpuCapabilities DetectCpuCapabilities() {
  const uint32_t flags = DetectedFlags();
  TMP3CpuCapabilities result;
  for (const TCapabilityBit& bit : kCapabilityBits) {
    if (flags & bit.Flag) result.Include(bit.Member);
  }
  return result;
}

uint32_t SelectedCpuFlags(TMP3CpuCapabilities allowed) {
  const uint32_t detected = DetectedFlags();
  uint32_t flags = detected & ~kCapabilityFlags;
  for (const TCapabilityBit& bit : kCapabilityBits) {
    if (allowed.Contains(bit.Member) && (detected & bit.Flag)) flags |= bit.Flag;
  }
  return flags;
}

}  // namespace tunewell
