// The processor's capabilities as the component names them, and the word that routine
// selection reads.

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

}  // namespace

TMP3CpuCapabilities DetectCpuCapabilities() {
  const uint32_t flags = DecoderDetectCpu();
  TMP3CpuCapabilities result;
  for (const TCapabilityBit& bit : kCapabilityBits) {
    if (flags & bit.Flag) result.Include(bit.Member);
  }
  return result;
}

uint32_t SelectedCpuFlags(TMP3CpuCapabilities allowed) {
  const uint32_t detected = DecoderDetectCpu();
  uint32_t flags = detected & ~kCapabilityFlags;
  for (const TCapabilityBit& bit : kCapabilityBits) {
    if (allowed.Contains(bit.Member) && (detected & bit.Flag)) flags |= bit.Flag;
  }
  return flags;
}

}  // namespace tunewell
