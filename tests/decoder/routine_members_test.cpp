// Every member of the routine slots decodes the conformance streams within one unit of the
// portable members.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iterator>
#include <string>

#include "decoder/MP3decdr.h"
#include "tests/decoder/conformance_support.h"

namespace tunewell::test {
namespace {

const char* const Streams[] = {
    "l1-fl1",      "l1-fl2",      "l1-fl3",     "l1-fl4",      "l1-fl5",     "l1-fl6",
    "l1-fl7",      "l1-fl8",      "l2-fl10",    "l2-fl11",     "l2-fl12",    "l2-fl13",
    "l2-fl14",     "l2-fl15",     "l2-fl16",    "l2-test32",   "l3-compl",   "l3-he_32khz",
    "l3-he_44khz", "l3-he_48khz", "l3-he_mode", "l3-hecommon", "l3-si",      "l3-si_block",
    "l3-si_huff",  "l3-sin1k0db", "l3-test45",  "l3-test46",   "M2L3_noise", "M2L3_compl24"};

constexpr uint32_t Amd = CpuFpu | CpuVendorAMD | CpuClassP6;

struct TMemberSet {
  const char* What;
  uint32_t Flags;
  bool SameArithmetic;  // as the portable members: the output is identical
};
const TMemberSet MemberSets[] = {
    {"pentium", CpuFpu | CpuVendorIntel | CpuClassPentium, true},
    {"pentium-cmov", CpuFpu | CpuVendorIntel | CpuClassP6 | CpuCMOV, true},
    {"3dnow", Amd | Cpu3DNow, false},
    {"e3dnow kernels, 3dnow output", Amd | Cpu3DNow | CpuE3DNow, false},
    {"e3dnow everywhere", Amd | Cpu3DNow | CpuE3DNow | CpuMMXExt | CpuCMOV, false},
};

TEST(RoutineMembers, WithinOneUnitOfThePortableMembers) {
  if (VectorPath("l1-fl1.bit").empty()) GTEST_SKIP() << "../shared/vectors is absent";
  std::array<size_t, std::size(MemberSets)> differing{};
  for (const char* name : Streams) {
    const auto bytes = ReadBytes(VectorPath(std::string(name) + ".bit"));
    const TDecodedStream portable = DecodeStream(bytes, 0, CpuFpu);
    ASSERT_GT(portable.Frames, 0) << name;
    for (size_t m = 0; m < std::size(MemberSets); ++m) {
      const TMemberSet& set = MemberSets[m];
      const TDecodedStream member = DecodeStream(bytes, 0, set.Flags);
      ASSERT_EQ(member.Pcm.size(), portable.Pcm.size()) << name << " " << set.What;
      int32_t worst = 0;
      for (size_t i = 0; i < member.Pcm.size(); ++i) {
        worst = std::max(worst, std::abs(member.Pcm[i] - portable.Pcm[i]));
        if (member.Pcm[i] != portable.Pcm[i]) ++differing[m];
      }
      EXPECT_LE(worst, 1) << name << " " << set.What;
    }
  }
  // The selection shows in the output wherever the arithmetic differs.
  for (size_t m = 0; m < std::size(MemberSets); ++m) {
    EXPECT_EQ(differing[m] == 0, MemberSets[m].SameArithmetic)
        << MemberSets[m].What << ": " << differing[m] << " samples differ";
  }
}

}  // namespace
}  // namespace tunewell::test
