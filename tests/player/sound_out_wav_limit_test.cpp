#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "player/MP3Plyr.h"

namespace tunewell {
namespace {

// A WAV file's size fields are 32 bits: past 4 GiB they would wrap, so the writer must fail
// instead of finishing a file whose header lies. /dev/null takes the bytes without storing them.
TEST(SoundOutWavLimit, FailsBeforeTheSizeFieldsWrap) {
  TSoundOut out;
  out.SetSampleRate(10000000);  // 20 MB buffers: 4 GiB in about 215 of them
  out.SetOutputFileName("/dev/null");
  std::mutex mutex;
  std::vector<std::string> errors;
  TMPSimpleEvent failed;
  out.SetOnError([&](TSoundOut&, const std::exception& e, bool& handled) {
    std::lock_guard lock(mutex);
    errors.push_back(e.what());
    handled = true;
    failed.Signal();
  });
  out.Open();
  const int32_t size = out.BufferSize();
  ASSERT_EQ(size, 20000000);
  const std::vector<char> buffer(static_cast<size_t>(size), 1);
  uint64_t fed = 0;
  TMPSimpleEvent wake;
  while (failed.Wait(0) != 0 && fed < 5ull << 30) {
    if (out.CanWrite()) {
      fed += static_cast<uint64_t>(out.Write(buffer.data(), size));
    } else {
      wake.Reset();
      out.SetWaitEvent(&wake);
      WaitForAny({&wake.Handle(), &failed.Handle()}, INFINITE);
    }
  }
  out.SetWaitEvent(nullptr);
  out.Flush();
  out.WaitDone();
  out.Close();
  std::lock_guard lock(mutex);
  ASSERT_FALSE(errors.empty()) << "5 GiB written without an error";
  EXPECT_EQ(errors.front(), "WAV file would pass 4 GiB(TSoundOut.WriteBuffer)");
  // 214 buffers end at 44 + 4.28e9 bytes; the 215th would pass 2^32 + 8.
  EXPECT_GE(fed, 215ull * 20000000);
  EXPECT_LT(fed, 222ull * 20000000);
}

}  // namespace
}  // namespace tunewell
