#pragma once
// TSoundOut: plays PCM through the wave-out device, or writes it to a WAV file, through a ring
// of four buffers of half a second each.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/WaveOut.h"
#include "player/MP3Trds.h"
#include "player/MPLoopThread.h"

namespace tunewell {

constexpr uint32_t MPM_WRITEBUFFER = 0x414;

class TSoundOut final : public TMPMessageOwner {
 public:
  using NotifyEvent = std::function<void(TSoundOut& sender)>;
  using ErrorEvent = std::function<void(TSoundOut& sender, const std::exception& e, bool& handled)>;

  static constexpr int kBufferCount = 4;

  TSoundOut();
  ~TSoundOut();
  TSoundOut(const TSoundOut&) = delete;
  TSoundOut& operator=(const TSoundOut&) = delete;

  // Settings; out-of-range values are ignored.
  void SetSampleRate(int32_t rate);
  void SetBitsPerSample(int32_t bits);
  void SetChannels(int32_t channels);
  void SetVolume(int32_t volume);
  void SetBalance(int32_t balance);
  void SetOutputFileName(const std::string& name);  // only while closed
  int32_t SampleRate() const { return sampleRate_; }
  int32_t BitsPerSample() const { return bitsPerSample_; }
  int32_t Channels() const { return channels_; }
  int32_t Volume() const { return volume_; }
  int32_t Balance() const { return balance_; }
  bool IsOpen() const { return open_; }

  // Plain settings of the component. The callbacks run in the output thread.
  UINT DeviceId = WAVE_MAPPER;
  void SetNotifyInterval(int32_t milliseconds) { notifyInterval_.store(milliseconds); }
  int32_t NotifyInterval() const { return notifyInterval_.load(); }
  // Once this returns, the previous callback is not running and will not be called again.
  void SetOnPosition(NotifyEvent handler);
  void SetOnError(ErrorEvent handler);

  void Open();
  void Close();
  void Pause();
  void Unpause();
  void Reset();
  bool CanWrite();
  int32_t Write(const void* data, int32_t length);
  void WaveWrite();
  int32_t FreePercent();
  void Flush();
  void WaitDone();
  void SetWaitEvent(TMPEvent* event);
  void NotifyWaiter();
  void SetVolumeToWaveDevice();
  int32_t GetWaveVolume();

  int32_t BufferSize() const { return bufferSize_; }
  int32_t QueuedCount() const { return queuedCount_.load(); }
  // Bytes of the buffers the device has played (or the file has taken) since Open.
  int64_t PlayedBytes() const { return playedBytes_.load(); }
  TMPLoopThread& OutputThread() { return *thread_; }

  // The output thread's messages.
  void Dispatch(const Message& message) override;

 private:
  void SetupBuffers();
  void ReleaseBuffers();
  void CreateWav();
  void FinishWav();
  void WriteBuffer(int index);
  void BufferDone(bool tick);
  void PositionTick();
  void CloseDevice();
  WAVEFORMATEX Format() const;

  int32_t sampleRate_ = 44100;
  int32_t channels_ = 2;
  int32_t bitsPerSample_ = 16;
  std::atomic<bool> open_{false};
  int32_t volume_ = 100;
  int32_t balance_ = 0;
  std::atomic<int32_t> notifyInterval_{-1};
  std::atomic<uint32_t> lastNotification_{0};
  HWAVEOUT device_ = nullptr;
  std::array<WAVEHDR, kBufferCount> headers_{};
  std::array<std::unique_ptr<char[]>, kBufferCount> buffers_;
  int outputFile_ = -1;
  std::atomic<bool> fileMode_{false};
  uint64_t wavBytes_ = 0;  // written so far, header included; output thread while open
  int32_t currentIndex_ = 0;
  int32_t currentFill_ = 0;
  std::atomic<int32_t> queuedCount_{0};
  std::atomic<int64_t> playedBytes_{0};
  int32_t bufferSize_ = 0;
  std::string outputFileName_;

  TMPSimpleMutex waitLock_;
  TMPEvent* waitEvent_ = nullptr;
  TMPSimpleEvent allDoneEvent_;
  TMPSimpleMutex ringLock_;

  std::mutex positionMutex_;  // held while OnPosition runs
  NotifyEvent onPosition_;
  std::mutex errorMutex_;
  ErrorEvent onError_;

  std::unique_ptr<TMPLoopThread> thread_;
};

// A quarter of two seconds of audio, rounded up to a multiple of 4 bytes.
int32_t SoundBufferSize(int32_t channels, int32_t bitsPerSample, int32_t sampleRate);

// Raises the "%s(%s)" report for a failed wave-out call; nothing for 0.
void CheckWaveResult(MMRESULT result, const char* where);

}  // namespace tunewell
