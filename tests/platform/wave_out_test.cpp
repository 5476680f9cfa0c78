#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "platform/Threads.h"
#include "platform/WaveOut.h"

namespace tunewell {
namespace {

WAVEFORMATEX Pcm(uint16_t channels, uint16_t bits, uint32_t rate) {
  WAVEFORMATEX f;
  f.nChannels = channels;
  f.wBitsPerSample = bits;
  f.nSamplesPerSec = rate;
  f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

// A test device selected the way --device selects one, opened with this thread as callback.
class WaveOutTest : public ::testing::Test {
 protected:
  explicit WaveOutTest(long capacity = 1000) : device_("wave-out-test", capacity) {
    SetWaveMapperDevice(device_.Name());
  }
  ~WaveOutTest() override {
    if (handle_ != nullptr) {
      waveOutReset(handle_);
      for (auto& h : headers_) waveOutUnprepareHeader(handle_, &h, sizeof h);
      waveOutClose(handle_);
    }
    SetWaveMapperDevice("");
  }

  void Open(const WAVEFORMATEX& format = Pcm(1, 16, 8000)) {
    format_ = format;
    ASSERT_EQ(waveOutOpen(&handle_, WAVE_MAPPER, &format_, CurrentThreadId(), 0,
                          CALLBACK_THREAD | WAVE_ALLOWSYNC),
              MMSYSERR_NOERROR);
    ASSERT_TRUE(device_.IsOpen());
  }

  // Queues buffers of the given frame counts, filled with a running byte pattern.
  void Queue(std::vector<long> frames) {
    headers_.resize(frames.size());
    data_.resize(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
      data_[i].resize(static_cast<size_t>(frames[i]) * format_.nBlockAlign);
      for (size_t b = 0; b < data_[i].size(); ++b) {
        data_[i][b] = static_cast<char>(1 + (sent_++ % 250));
      }
      headers_[i] = WAVEHDR{};
      headers_[i].lpData = data_[i].data();
      headers_[i].dwBufferLength = static_cast<DWORD>(data_[i].size());
      ASSERT_EQ(waveOutPrepareHeader(handle_, &headers_[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    for (auto& h : headers_) ASSERT_EQ(waveOutWrite(handle_, &h, sizeof h), MMSYSERR_NOERROR);
  }

  std::vector<uint8_t> AllQueued() const {
    std::vector<uint8_t> all;
    for (const auto& d : data_) all.insert(all.end(), d.begin(), d.end());
    return all;
  }

  // The next MM_WOM_DONE's header, or null when none comes within the time.
  WAVEHDR* NextDone(int milliseconds = 5000) {
    MessageQueue& queue = CurrentThreadQueue();
    Event never;
    Message m;
    if (queue.WaitEventOrMessage(never, milliseconds) == WAIT_TIMEOUT) return nullptr;
    if (!queue.Peek(m, true)) return nullptr;
    EXPECT_EQ(m.message, MM_WOM_DONE);
    EXPECT_EQ(m.wParam, reinterpret_cast<WPARAM>(handle_));
    return reinterpret_cast<WAVEHDR*>(m.lParam);
  }

  TTestWaveDevice device_;
  WAVEFORMATEX format_;
  HWAVEOUT handle_ = nullptr;
  std::vector<WAVEHDR> headers_;
  std::vector<std::vector<char>> data_;
  size_t sent_ = 0;
};

TEST_F(WaveOutTest, BuffersComeBackInOrderOnlyOncePlayed) {
  Open();
  Queue({100, 100, 100});
  ASSERT_TRUE(device_.WaitPending(300, 5000));
  EXPECT_EQ(NextDone(50), nullptr) << "returned before a frame was played";
  device_.Advance(150);
  EXPECT_EQ(NextDone(), &headers_[0]);
  EXPECT_EQ(NextDone(50), nullptr) << "the second buffer is half played";
  device_.Advance(150);
  EXPECT_EQ(NextDone(), &headers_[1]);
  EXPECT_EQ(NextDone(), &headers_[2]);
  for (auto& h : headers_) {
    EXPECT_EQ(h.dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED), WHDR_DONE | WHDR_PREPARED);
  }
  EXPECT_EQ(device_.Played(), AllQueued());
}

TEST_F(WaveOutTest, CloseRefusesWhileBuffersAreQueued) {
  Open();
  Queue({50});
  EXPECT_EQ(waveOutClose(handle_), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutUnprepareHeader(handle_, &headers_[0], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  ASSERT_TRUE(device_.WaitPending(50, 5000));
  device_.Advance(50);
  ASSERT_EQ(NextDone(), &headers_[0]);
  EXPECT_EQ(waveOutUnprepareHeader(handle_, &headers_[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(handle_), MMSYSERR_NOERROR);
  handle_ = nullptr;
  EXPECT_FALSE(device_.IsOpen());
}

TEST_F(WaveOutTest, ResetReturnsEveryQueuedBufferInOrder) {
  Open();
  Queue({100, 100, 100});
  ASSERT_TRUE(device_.WaitPending(300, 5000));
  device_.Advance(10);
  EXPECT_EQ(waveOutReset(handle_), MMSYSERR_NOERROR);
  for (auto& h : headers_) EXPECT_EQ(NextDone(), &h);
  EXPECT_EQ(device_.Pending(), 0);
  // The device goes on from a clean start.
  headers_.clear();
  data_.clear();
  Queue({20});
  ASSERT_TRUE(device_.WaitPending(20, 5000));
  device_.Advance(20);
  EXPECT_EQ(NextDone(), &headers_[0]);
}

class WaveOutPause : public WaveOutTest, public ::testing::WithParamInterface<bool> {};

// A device that cannot hold its buffer drops it and is sent the unplayed rest again: either
// way every frame is played once, in order.
TEST_P(WaveOutPause, HoldsBuffersAndLosesNothing) {
  device_.SetCanPause(GetParam());
  Open();
  Queue({100, 100});
  ASSERT_TRUE(device_.WaitPending(200, 5000));
  device_.Advance(50);
  ASSERT_EQ(waveOutPause(handle_), MMSYSERR_NOERROR);
  device_.Advance(1000);  // time passes while paused
  EXPECT_EQ(NextDone(50), nullptr);
  EXPECT_EQ(device_.Played().size(), 50u * format_.nBlockAlign);
  ASSERT_EQ(waveOutRestart(handle_), MMSYSERR_NOERROR);
  ASSERT_TRUE(device_.WaitPending(150, 5000));
  device_.Advance(150);
  EXPECT_EQ(NextDone(), &headers_[0]);
  EXPECT_EQ(NextDone(), &headers_[1]);
  EXPECT_EQ(device_.Played(), AllQueued());
}

INSTANTIATE_TEST_SUITE_P(CanPause, WaveOutPause, ::testing::Bool());

TEST_F(WaveOutTest, UnderrunCountsAsPlayedAndGoesOn) {
  Open();
  Queue({100, 100, 100});
  ASSERT_TRUE(device_.WaitPending(300, 5000));
  device_.Advance(50);
  device_.Underrun();
  EXPECT_EQ(NextDone(), &headers_[0]);
  EXPECT_EQ(NextDone(), &headers_[1]);
  EXPECT_EQ(NextDone(), &headers_[2]);
  EXPECT_EQ(device_.Played(), AllQueued());
}

TEST_F(WaveOutTest, LostDeviceReturnsEverythingAndFailsLaterCalls) {
  Open();
  Queue({100, 100, 100});
  ASSERT_TRUE(device_.WaitPending(300, 5000));
  device_.Lose();
  for (auto& h : headers_) EXPECT_EQ(NextDone(), &h);
  WAVEHDR extra{};
  std::vector<char> bytes(20);
  extra.lpData = bytes.data();
  extra.dwBufferLength = 20;
  ASSERT_EQ(waveOutPrepareHeader(handle_, &extra, sizeof extra), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutWrite(handle_, &extra, sizeof extra), MMSYSERR_NODRIVER);
  EXPECT_EQ(waveOutPause(handle_), MMSYSERR_NODRIVER);
  EXPECT_EQ(waveOutSetVolume(handle_, 0), MMSYSERR_NODRIVER);
  char text[128];
  ASSERT_EQ(waveOutGetErrorTextA(MMSYSERR_NODRIVER, text, sizeof text), MMSYSERR_NOERROR);
  EXPECT_STREQ(text, std::strerror(ENODEV)) << "the sink's own text";
  EXPECT_EQ(waveOutUnprepareHeader(handle_, &extra, sizeof extra), MMSYSERR_NOERROR);
}

struct VolumeCase {
  uint16_t channels, bits;
  DWORD volume;
  std::vector<uint8_t> in, out;
};

class WaveOutVolume : public WaveOutTest, public ::testing::WithParamInterface<VolumeCase> {};

// Volume applies at hand-off: left is the low word; 8-bit samples scale around 128.
TEST_P(WaveOutVolume, ScalesSamplesAtHandOff) {
  const VolumeCase& c = GetParam();
  Open(Pcm(c.channels, c.bits, 8000));
  ASSERT_EQ(waveOutSetVolume(handle_, c.volume), MMSYSERR_NOERROR);
  DWORD read = 0;
  ASSERT_EQ(waveOutGetVolume(handle_, &read), MMSYSERR_NOERROR);
  EXPECT_EQ(read, c.volume);
  std::vector<char> data(c.in.begin(), c.in.end());
  WAVEHDR h{};
  h.lpData = data.data();
  h.dwBufferLength = static_cast<DWORD>(data.size());
  headers_.push_back(h);
  ASSERT_EQ(waveOutPrepareHeader(handle_, &headers_[0], sizeof h), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(handle_, &headers_[0], sizeof h), MMSYSERR_NOERROR);
  const long frames = static_cast<long>(data.size()) / format_.nBlockAlign;
  ASSERT_TRUE(device_.WaitPending(frames, 5000));
  device_.Advance(frames);
  ASSERT_EQ(NextDone(), &headers_[0]);
  EXPECT_EQ(device_.Played(), c.out);
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.end()), c.in) << "the buffer is untouched";
  waveOutSetVolume(handle_, 0xFFFFFFFF);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveOutVolume,
    ::testing::Values(
        // 16-bit stereo, left full, right half: (1000, -1000) -> (1000, -500)
        VolumeCase{2, 16, 0x8000FFFF, {0xE8, 0x03, 0x18, 0xFC}, {0xE8, 0x03, 0x0C, 0xFE}},
        // 16-bit mono follows the low word: 32767 * 0x4000 / 0xFFFF = 8191, truncated
        VolumeCase{1, 16, 0xFFFF4000, {0xFF, 0x7F}, {0xFF, 0x1F}},
        // 8-bit mono at half: 255 -> 128 + 127*32768/65535 = 191, 0 -> 64, 128 stays
        VolumeCase{1, 8, 0x80008000, {255, 0, 128}, {191, 64, 128}},
        // silence at zero volume, for both sample kinds
        VolumeCase{2, 8, 0, {10, 250}, {128, 128}}, VolumeCase{1, 16, 0, {0x34, 0x12}, {0, 0}}));

TEST_F(WaveOutTest, VolumeBelongsToTheDeviceAndStartsFull) {
  DWORD volume = 0;
  ASSERT_EQ(waveOutGetDeviceVolume(WAVE_MAPPER, &volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0xFFFFFFFFu);
  Open();
  ASSERT_EQ(waveOutSetVolume(handle_, 0x12345678), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(handle_), MMSYSERR_NOERROR);
  handle_ = nullptr;
  ASSERT_EQ(waveOutGetDeviceVolume(WAVE_MAPPER, &volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0x12345678u);
  Open();
  ASSERT_EQ(waveOutGetVolume(handle_, &volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0x12345678u);
  waveOutSetVolume(handle_, 0xFFFFFFFF);
}

TEST(WaveOut, RefusesBadIdsFormatsAndDevices) {
  HWAVEOUT h = nullptr;
  WAVEFORMATEX f = Pcm(2, 16, 44100);
  EXPECT_EQ(waveOutOpen(&h, waveOutGetNumDevs(), &f, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  WAVEFORMATEX bad = Pcm(3, 16, 44100);
  EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
  bad = Pcm(2, 24, 44100);
  EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);

  SetWaveMapperDevice("tunewell-no-such-device");
  const MMRESULT r = waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL);
  SetWaveMapperDevice("");
  EXPECT_NE(r, MMSYSERR_NOERROR);
  EXPECT_EQ(h, nullptr);
  char text[128] = {};
  EXPECT_EQ(waveOutGetErrorTextA(r, text, sizeof text), MMSYSERR_NOERROR);
  EXPECT_GT(std::strlen(text), 0u) << "ALSA's reason";
  EXPECT_EQ(waveOutGetErrorTextA(999, text, sizeof text), MMSYSERR_BADERRNUM);
  EXPECT_EQ(WaveMapperDevice(), "default");
}

}  // namespace
}  // namespace tunewell
