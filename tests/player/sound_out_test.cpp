#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "player/MP3Plyr.h"

namespace tunewell {
namespace {

using namespace std::chrono_literals;

TEST(SoundBufferSize, QuarterOfTwoSecondsRoundedUpToFourBytes) {
  struct Case {
    int32_t rate, channels, bits, size;
  };
  for (const Case& c :
       {Case{44100, 2, 16, 88200}, Case{22050, 1, 16, 22052}, Case{8000, 1, 8, 4000},
        Case{11025, 1, 8, 5512}, Case{48000, 2, 8, 48000}}) {
    EXPECT_EQ(SoundBufferSize(c.channels, c.bits, c.rate), c.size)
        << c.rate << " Hz, " << c.channels << " ch, " << c.bits << " bits";
  }
}

std::vector<char> Pattern(size_t size, size_t seed = 0) {
  std::vector<char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i + seed) * 7 % 251);
  return bytes;
}

// A TSoundOut on a test device that plays only when told to: 8000 Hz mono 8-bit, so a buffer
// is 4000 bytes (frames).
class SoundOutTest : public ::testing::Test {
 protected:
  // Each test has a device of its own, since a device keeps its volume.
  SoundOutTest()
      : device_(std::string("sound-out-") +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                1000000) {
    SetWaveMapperDevice(device_.Name());
  }
  ~SoundOutTest() override {
    if (out_) out_->Reset();  // as Stop does: Close waits for whatever is still queued
    out_.reset();
    SetWaveMapperDevice("");
  }

  void Open(int32_t rate = 8000, int32_t bits = 8, int32_t channels = 1) {
    out_ = std::make_unique<TSoundOut>();
    out_->SetSampleRate(rate);
    out_->SetBitsPerSample(bits);
    out_->SetChannels(channels);
    out_->Open();
  }

  int32_t Write(const std::vector<char>& bytes) {
    return out_->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  }

  // Lets the device play that many frames once it has them.
  void Play(long frames) {
    ASSERT_TRUE(device_.WaitPending(frames, 5000));
    device_.Advance(frames);
  }

  void WaitQueued(int32_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (out_->QueuedCount() != count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(out_->QueuedCount(), count);
  }

  TTestWaveDevice device_;
  std::unique_ptr<TSoundOut> out_;
};

TEST_F(SoundOutTest, FreePercentFollowsTheRing) {
  Open();
  ASSERT_EQ(out_->BufferSize(), 4000);
  EXPECT_EQ(out_->FreePercent(), 100);
  // Filling a buffer exactly queues it from inside Write: RingLock is taken twice.
  EXPECT_EQ(Write(Pattern(4000)), 4000);
  EXPECT_EQ(out_->QueuedCount(), 1);
  EXPECT_EQ(out_->FreePercent(), 75);
  EXPECT_EQ(Write(Pattern(1000)), 1000);
  EXPECT_EQ(out_->FreePercent(), 68);  // (3 * 4000 - 1000) * 100 / 16000, truncated
  EXPECT_EQ(Write(Pattern(20000)), 11000) << "what does not fit stays with the caller";
  EXPECT_EQ(out_->QueuedCount(), 4);
  EXPECT_EQ(out_->FreePercent(), 0);
  EXPECT_FALSE(out_->CanWrite());
  out_->Reset();
  out_->Close();
  EXPECT_EQ(out_->FreePercent(), 0) << "closed";
}

TEST_F(SoundOutTest, WriteSpansTwoBuffersInOrder) {
  Open();
  const std::vector<char> first = Pattern(3000, 1);
  const std::vector<char> frame = Pattern(4608, 2);
  ASSERT_EQ(Write(first), 3000);
  ASSERT_EQ(Write(frame), 4608);
  EXPECT_EQ(out_->QueuedCount(), 1);
  EXPECT_EQ(out_->FreePercent(), (3 * 4000 - 3608) * 100 / 16000);
  out_->Flush();  // queues the 3608 bytes of the second buffer
  EXPECT_EQ(out_->QueuedCount(), 2);
  Play(7608);
  out_->WaitDone();
  std::vector<uint8_t> expected(first.begin(), first.end());
  expected.insert(expected.end(), frame.begin(), frame.end());
  EXPECT_EQ(device_.Played(), expected);
}

TEST_F(SoundOutTest, WaitEventIsSignalledWhenABufferComesBack) {
  Open();
  ASSERT_EQ(Write(Pattern(16000)), 16000);
  ASSERT_FALSE(out_->CanWrite());
  TMPSimpleEvent wake;
  out_->SetWaitEvent(&wake);
  EXPECT_EQ(wake.Wait(0), 258u) << "the ring is still full";
  Play(4000);
  EXPECT_EQ(wake.Wait(5000), 0u);
  EXPECT_TRUE(out_->CanWrite());
  // The event was forgotten with the signal: the next return leaves it alone.
  wake.Reset();
  Play(4000);
  WaitQueued(2);
  EXPECT_EQ(wake.Wait(0), 258u);
}

TEST_F(SoundOutTest, BufferReturnedBetweenCanWriteAndSetWaitEventStillWakes) {
  Open();
  ASSERT_EQ(Write(Pattern(16000)), 16000);
  ASSERT_FALSE(out_->CanWrite());  // the decode thread decides to wait...
  Play(4000);                      // ...a buffer comes back before it hands over its event
  WaitQueued(3);
  TMPSimpleEvent wake;
  out_->SetWaitEvent(&wake);
  EXPECT_EQ(wake.Wait(0), 0u) << "a missed wake-up would sleep forever";
}

TEST_F(SoundOutTest, PositionTicksOnlyWhileBuffersAreQueued) {
  Open();
  std::atomic<int> ticks{0};
  out_->SetNotifyInterval(10);
  out_->SetOnPosition([&](TSoundOut&) { ++ticks; });
  ASSERT_EQ(Write(Pattern(8000)), 8000);
  std::this_thread::sleep_for(150ms);
  EXPECT_GT(ticks.load(), 0) << "queued buffers tick";
  out_->Pause();
  const int beforePause = ticks.load();
  std::this_thread::sleep_for(150ms);
  EXPECT_GT(ticks.load(), beforePause) << "a paused device with queued buffers still ticks";
  out_->Unpause();
  Play(8000);
  WaitQueued(0);
  out_->OutputThread().Sync();
  const int idle = ticks.load();
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(ticks.load(), idle) << "no ticks while nothing plays";
  out_->SetOnPosition(nullptr);
}

TEST_F(SoundOutTest, WaitDoneReturnsOncePlayed) {
  Open();
  out_->WaitDone();  // nothing queued: at once
  ASSERT_EQ(Write(Pattern(6000)), 6000);
  out_->Flush();
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    out_->WaitDone();
    done = true;
  });
  Play(4000);
  WaitQueued(1);
  EXPECT_FALSE(done.load());
  Play(2000);
  waiter.join();
  EXPECT_TRUE(done.load());
  EXPECT_EQ(out_->QueuedCount(), 0);
}

TEST_F(SoundOutTest, ResetReturnsEverythingAndDropsThePartialBuffer) {
  Open();
  ASSERT_EQ(Write(Pattern(13000)), 13000);
  ASSERT_EQ(out_->QueuedCount(), 3);
  out_->Reset();
  out_->OutputThread().Sync();  // the device posted every return before Reset came back
  EXPECT_EQ(out_->QueuedCount(), 0);
  EXPECT_EQ(out_->FreePercent(), 100);
  out_->WaitDone();
  out_->Close();
  EXPECT_TRUE(device_.Played().empty());
  EXPECT_FALSE(device_.IsOpen());
}

TEST_F(SoundOutTest, VolumeWordsSentToTheDevice) {
  struct Case {
    int32_t volume, balance;
    DWORD word;
  };
  Open();
  for (const Case& c :
       {Case{100, -50, 65535u + 32768u * 65536u}, Case{50, 0, 0x80008000u},
        Case{100, 50, 32768u + 65535u * 65536u}, Case{0, 0, 0u}, Case{100, 0, 0xFFFFFFFFu}}) {
    out_->SetVolume(c.volume);
    out_->SetBalance(c.balance);
    DWORD word = 0;
    ASSERT_EQ(waveOutGetDeviceVolume(WAVE_MAPPER, &word), MMSYSERR_NOERROR);
    EXPECT_EQ(word, c.word) << "volume " << c.volume << ", balance " << c.balance;
  }
  out_->SetVolume(150);  // ignored
  out_->SetBalance(-101);
  EXPECT_EQ(out_->Volume(), 100);
  EXPECT_EQ(out_->Balance(), 0);
}

TEST_F(SoundOutTest, CreationReadsTheDeviceVolume) {
  Open();
  EXPECT_EQ(out_->Volume(), 100) << "a fresh device is at full volume";
  out_->SetVolume(100);
  out_->SetBalance(-50);  // left 0xFFFF, right 0x8000: the louder channel counts
  out_->Close();
  TSoundOut second;
  EXPECT_EQ(second.Volume(), 100);
  out_->Open();
  out_->SetVolume(75);
  out_->SetBalance(0);  // 49151 both: (49151 * 100 + 32767) / 65535 = 75
  out_->Close();
  TSoundOut third;
  EXPECT_EQ(third.Volume(), 75);
}

TEST_F(SoundOutTest, LostDeviceFreesTheRingAndFailsTheNextWrite) {
  Open();
  ASSERT_EQ(Write(Pattern(16000)), 16000);
  ASSERT_TRUE(device_.WaitPending(4000, 5000));
  device_.Lose();
  out_->WaitDone();  // every queued buffer came back
  EXPECT_EQ(out_->QueuedCount(), 0);
  try {
    Write(Pattern(4000));
    FAIL() << "writing to a lost device succeeded";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), std::string(std::strerror(ENODEV)) + "(TSoundOut.WaveWrite)");
  }
  EXPECT_EQ(out_->QueuedCount(), 0) << "a buffer the device refused is not waited for";
  out_->Reset();
  out_->Close();  // must not wait forever
  EXPECT_FALSE(out_->IsOpen());
}

TEST_F(SoundOutTest, OpenFailureReportsTheOperationAndStaysClosed) {
  SetWaveMapperDevice("tunewell-no-such-device");
  out_ = std::make_unique<TSoundOut>();
  try {
    out_->Open();
    FAIL() << "opened a device that does not exist";
  } catch (const std::runtime_error& e) {
    const std::string text = e.what();
    EXPECT_TRUE(text.ends_with("(TSoundOut.Open:WaveOutOpen)")) << text;
    EXPECT_GT(text.size(), std::strlen("(TSoundOut.Open:WaveOutOpen)")) << "the system's text";
  }
  EXPECT_FALSE(out_->IsOpen());
}

std::vector<uint8_t> ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t LE32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

class SoundOutWav : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tw-wav-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Feeds the PCM as the decode thread does: write what fits, sleep until a buffer is free.
  static void Feed(TSoundOut& out, const std::vector<char>& pcm) {
    TMPSimpleEvent wake;
    size_t at = 0;
    while (at < pcm.size()) {
      const int32_t chunk = static_cast<int32_t>(std::min<size_t>(4608, pcm.size() - at));
      if (out.CanWrite()) {
        at += static_cast<size_t>(out.Write(pcm.data() + at, chunk));
      } else {
        wake.Reset();
        out.SetWaitEvent(&wake);
        wake.Wait(INFINITE);
      }
    }
  }

  std::filesystem::path dir_;
};

TEST_F(SoundOutWav, OneSecondOfCdAudioIsByteExact) {
  const std::string name = (dir_ / "one.wav").string();
  const std::vector<char> pcm = Pattern(176400, 3);
  TSoundOut out;
  out.SetOutputFileName(name);
  out.Open();
  Feed(out, pcm);
  out.Flush();
  out.WaitDone();
  out.Close();
  const std::vector<uint8_t> file = ReadFile(name);
  ASSERT_EQ(file.size(), 176444u);
  // clang-format off
  const uint8_t header[44] = {
      'R', 'I', 'F', 'F', 0x34, 0xB1, 0x02, 0x00,  // file size - 8 = 176436
      'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
      16, 0, 0, 0,                                  // format chunk size
      1, 0, 2, 0,                                   // PCM, 2 channels
      0x44, 0xAC, 0, 0,                             // 44100 Hz
      0x10, 0xB1, 0x02, 0,                          // 176400 bytes per second
      4, 0, 16, 0,                                  // block align 4, 16 bits
      'd', 'a', 't', 'a', 0x10, 0xB1, 0x02, 0x00};  // 176400 data bytes
  // clang-format on
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 44),
            std::vector<uint8_t>(header, header + 44));
  EXPECT_EQ(LE32(file, 4), 176436u);
  EXPECT_EQ(LE32(file, 40), 176400u);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), file.begin() + 44,
                         [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
}

TEST_F(SoundOutWav, CloseDrainsQueuedBufferWrites) {
  const std::string name = (dir_ / "drain.wav").string();
  TSoundOut out;
  out.SetSampleRate(8000);
  out.SetBitsPerSample(8);
  out.SetChannels(1);
  out.SetOutputFileName(name);
  out.Open();
  const std::vector<char> pcm = Pattern(12000, 4);
  ASSERT_EQ(out.Write(pcm.data(), 12000), 12000);  // three buffers handed to the output thread
  out.Close();                                     // at once: no Flush, no WaitDone
  const std::vector<uint8_t> file = ReadFile(name);
  ASSERT_EQ(file.size(), 12044u);
  EXPECT_EQ(LE32(file, 4), 12036u);
  EXPECT_EQ(LE32(file, 40), 12000u);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), file.begin() + 44,
                         [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
}

TEST_F(SoundOutWav, ReplacesTheFileInPlace) {
  const std::string name = (dir_ / "old.wav").string();
  std::ofstream(name) << std::string(100000, 'x');
  struct stat before = {};
  ASSERT_EQ(stat(name.c_str(), &before), 0);
  TSoundOut out;
  out.SetOutputFileName(name);
  out.Open();
  out.Close();
  struct stat after = {};
  ASSERT_EQ(stat(name.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced by another one";
  EXPECT_EQ(after.st_size, 44);
}

TEST_F(SoundOutWav, DevNullStaysWhatItIs) {
  struct stat before = {};
  ASSERT_EQ(stat("/dev/null", &before), 0);
  TSoundOut out;
  out.SetOutputFileName("/dev/null");
  out.Open();
  const std::vector<char> pcm = Pattern(200000);
  Feed(out, pcm);
  out.Flush();
  out.WaitDone();
  out.Close();
  struct stat after = {};
  ASSERT_EQ(stat("/dev/null", &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode));
  EXPECT_EQ(after.st_rdev, before.st_rdev);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(SoundOutWav, UncreatableFileFailsOpen) {
  TSoundOut out;
  out.SetOutputFileName((dir_ / "missing" / "x.wav").string());
  EXPECT_THROW(out.Open(), std::runtime_error);
  EXPECT_FALSE(out.IsOpen());
  out.SetOutputFileName("");  // accepted again once closed
}

}  // namespace
}  // namespace tunewell
