// The device-independent half of the wave-out layer: the buffer queue, the device thread that
// hands buffers to a sink and returns them once played, pause, reset and close, volume at
// hand-off, error texts.

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/Threads.h"
#include "platform/WaveOut.h"
#include "platform/wave_out_internal.h"

namespace tunewell {

namespace {

// Volume words by device name: a per-device volume, as the system keeps one.
struct VolumeTable {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<std::atomic<DWORD>>> volumes;
};

VolumeTable& Volumes() {
  static VolumeTable* table = new VolumeTable;
  return *table;
}

std::shared_ptr<std::atomic<DWORD>> VolumeOf(const std::string& name) {
  VolumeTable& table = Volumes();
  std::lock_guard lock(table.mutex);
  auto& slot = table.volumes[name];
  if (!slot) slot = std::make_shared<std::atomic<DWORD>>(0xFFFFFFFFu);  // fresh: full volume
  return slot;
}

std::mutex mapperMutex;
std::string mapperName = "default";

// Texts of the last failures in this thread, as the sink told them, by result code.
thread_local std::map<MMRESULT, std::string> sinkTexts;

MMRESULT Fail(MMRESULT result, const std::string& text) {
  if (!text.empty()) sinkTexts[result] = text;
  return result;
}

// Resolves a device id to the name to open.
bool DeviceName(UINT deviceId, std::string& name) {
  if (deviceId == WAVE_MAPPER) {
    name = WaveMapperDevice();
    return true;
  }
  const std::vector<std::string> devices = AlsaPlaybackDevices();
  if (deviceId >= devices.size()) return false;
  name = devices[deviceId];
  return true;
}

bool IsUnderrun(long error) {
  return error == -EPIPE || error == -ESTRPIPE || error == -EINTR;
}

}  // namespace

void SetWaveMapperDevice(const std::string& name) {
  std::lock_guard lock(mapperMutex);
  mapperName = name.empty() ? "default" : name;
}

std::string WaveMapperDevice() {
  std::lock_guard lock(mapperMutex);
  return mapperName;
}

// One open device. The device thread owns the sink; the API calls hand it commands and wait
// for their results, so the sink is never used by two threads.
class WaveOutDevice {
 public:
  WaveOutDevice(std::unique_ptr<PcmSink> sink, const std::string& name, const WAVEFORMATEX& format,
                uint32_t callbackThread)
      : sink_(std::move(sink)),
        format_(format),
        callbackThread_(callbackThread),
        volume_(VolumeOf(name)) {}

  ~WaveOutDevice() {
    Command(Quit);
    if (thread_.joinable()) thread_.join();
  }

  void Start() {
    thread_ = std::thread([this] { Run(); });
  }

  MMRESULT Write(WAVEHDR* header) {
    std::lock_guard lock(mutex_);
    if (lost_) return Fail(MMSYSERR_NODRIVER, lostText_);
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE) return MMSYSERR_INVALPARAM;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    const uint64_t frames = header->dwBufferLength / format_.nBlockAlign;
    const uint64_t start = queue_.empty() ? handFrame_ : queue_.back().end;
    queue_.push_back({header, start, start + frames});
    wake_.Signal();
    return MMSYSERR_NOERROR;
  }

  MMRESULT Prepare(WAVEHDR* header) {
    std::lock_guard lock(mutex_);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }

  MMRESULT Unprepare(WAVEHDR* header) {
    std::lock_guard lock(mutex_);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }

  MMRESULT Pause() { return Command(PauseCmd); }
  MMRESULT Restart() { return Command(RestartCmd); }
  MMRESULT Reset() { return Command(ResetCmd); }

  bool Busy() {
    std::lock_guard lock(mutex_);
    return !queue_.empty();
  }

  MMRESULT SetVolume(DWORD volume) {
    std::lock_guard lock(mutex_);
    if (lost_) return Fail(MMSYSERR_NODRIVER, lostText_);
    volume_->store(volume);
    return MMSYSERR_NOERROR;
  }

  DWORD Volume() const { return volume_->load(); }

 private:
  enum CommandKind { None, PauseCmd, RestartCmd, ResetCmd, Quit };

  struct Queued {
    WAVEHDR* header;
    uint64_t start;  // stream frame of its first frame
    uint64_t end;    // one past its last frame
  };

  MMRESULT Command(CommandKind kind) {
    std::lock_guard call(callMutex_);
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) return MMSYSERR_NOERROR;
    command_ = kind;
    wake_.Signal();
    commandDone_.wait(lock, [this] { return command_ == None; });
    return commandResult_;
  }

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (command_ != None) {
        if (command_ == Quit) {
          command_ = None;
          commandDone_.notify_all();
          return;
        }
        commandResult_ = Execute(command_);
        command_ = None;
        commandDone_.notify_all();
      }
      const int timeout = lost_ ? -1 : Service();
      std::vector<pollfd> set{{wake_.Fd(), POLLIN, 0}};
      if (wantRoom_) {
        const std::vector<pollfd> sinkFds = sink_->PollFds();
        set.insert(set.end(), sinkFds.begin(), sinkFds.end());
      }
      lock.unlock();
      poll(set.data(), set.size(), timeout);
      wake_.Reset();
      lock.lock();
    }
  }

  MMRESULT Execute(CommandKind kind) {
    switch (kind) {
      case PauseCmd:
        return DoPause();
      case RestartCmd:
        return DoRestart();
      case ResetCmd:
        DoReset();
        return MMSYSERR_NOERROR;
      default:
        return MMSYSERR_NOERROR;
    }
  }

  MMRESULT DoPause() {
    if (lost_) return Fail(MMSYSERR_NODRIVER, lostText_);
    if (paused_) return MMSYSERR_NOERROR;
    paused_ = true;
    if (sink_->CanPause() && sink_->Pause(true) == 0) {
      sinkPaused_ = true;
      return MMSYSERR_NOERROR;
    }
    // The device cannot hold its buffer: forget what it has not played and send that again
    // on restart.
    const long delay = sink_->Delay();
    if (delay >= 0) handFrame_ -= std::min<uint64_t>(static_cast<uint64_t>(delay), handFrame_);
    handFrame_ = std::max(handFrame_, playedFrame_);
    playedFrame_ = handFrame_;
    sink_->Drop();
    return MMSYSERR_NOERROR;
  }

  MMRESULT DoRestart() {
    if (lost_) return Fail(MMSYSERR_NODRIVER, lostText_);
    if (!paused_) return MMSYSERR_NOERROR;
    paused_ = false;
    if (sinkPaused_) {
      sinkPaused_ = false;
      const int error = sink_->Pause(false);
      if (error < 0) {
        Lose(error);
        return Fail(MMSYSERR_NODRIVER, lostText_);
      }
    }
    return MMSYSERR_NOERROR;
  }

  void DoReset() {
    if (!lost_) sink_->Drop();
    sinkPaused_ = false;
    ReturnAll();
  }

  void ReturnAll() {
    while (!queue_.empty()) Done();
    handFrame_ = playedFrame_ = 0;
  }

  void Done() {
    WAVEHDR* header = queue_.front().header;
    queue_.pop_front();
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (callbackThread_ != 0) {
      PostThreadMessage(callbackThread_, {MM_WOM_DONE, reinterpret_cast<WPARAM>(this),
                                          reinterpret_cast<LPARAM>(header)});
    }
  }

  void Lose(long error) {
    lost_ = true;
    lostText_ = sink_->ErrorText(static_cast<int>(error));
    ReturnAll();
  }

  // Handles a sink error; false when the device is gone.
  bool Recover(long error) {
    if (!IsUnderrun(error)) {
      Lose(error);
      return false;
    }
    // An underrun played everything that was handed over.
    playedFrame_ = handFrame_;
    ReturnPlayed();
    if (sink_->Recover(static_cast<int>(error)) < 0) {
      Lose(error);
      return false;
    }
    return true;
  }

  void ReturnPlayed() {
    while (!queue_.empty() && queue_.front().end <= playedFrame_) Done();
  }

  // Hands what it can to the sink and returns what has been played. Answers how long to sleep.
  int Service() {
    wantRoom_ = false;
    if (queue_.empty()) return -1;
    if (!UpdatePlayed()) return -1;
    if (paused_) return -1;
    const uint64_t end = queue_.back().end;
    while (handFrame_ < end) {
      const long avail = sink_->Avail();
      if (avail == -EAGAIN) return 10;  // not ready yet: look again soon
      if (avail < 0) {
        if (!Recover(avail)) return -1;
        continue;
      }
      if (avail == 0) {
        wantRoom_ = true;
        return 50;
      }
      const long written = HandOver(avail);
      if (written == -EAGAIN) {
        wantRoom_ = true;
        return 50;
      }
      if (written < 0) {
        if (!Recover(written)) return -1;
        continue;
      }
      if (written == 0) break;
    }
    if (queue_.empty()) return -1;
    sink_->Start();
    // Everything is with the device: look again when the oldest buffer should be done.
    const uint64_t left = queue_.front().end - std::min(queue_.front().end, playedFrame_);
    const uint64_t ms = left * 1000 / format_.nSamplesPerSec;
    return static_cast<int>(std::clamp<uint64_t>(ms, 1, 10));
  }

  bool UpdatePlayed() {
    for (;;) {
      const long delay = sink_->Delay();
      if (delay == -EAGAIN) return true;  // unknown for now: nothing counts as played yet
      if (delay < 0) {
        if (!Recover(delay)) return false;
        continue;
      }
      const uint64_t inDevice = std::min<uint64_t>(static_cast<uint64_t>(delay), handFrame_);
      playedFrame_ = std::max(playedFrame_, handFrame_ - inDevice);
      ReturnPlayed();
      return true;
    }
  }

  // Writes the next frames of the buffer at handFrame_, at the device's volume.
  long HandOver(long avail) {
    const auto it = std::find_if(queue_.begin(), queue_.end(),
                                 [this](const Queued& q) { return q.end > handFrame_; });
    if (it == queue_.end()) return 0;
    const uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(avail), it->end - handFrame_);
    const size_t bytes = count * format_.nBlockAlign;
    const char* from = it->header->lpData + (handFrame_ - it->start) * format_.nBlockAlign;
    scratch_.assign(from, from + bytes);
    ApplyVolume(scratch_, volume_->load());
    const long written = sink_->Write(scratch_.data(), static_cast<long>(count));
    if (written > 0) handFrame_ += static_cast<uint64_t>(written);
    return written;
  }

  void ApplyVolume(std::vector<char>& data, DWORD volume) const {
    const int32_t left = static_cast<int32_t>(volume & 0xFFFF);
    const int32_t right = format_.nChannels == 2 ? static_cast<int32_t>(volume >> 16) : left;
    if (left == 0xFFFF && right == 0xFFFF) return;
    const size_t channels = format_.nChannels;
    if (format_.wBitsPerSample == 16) {
      const size_t samples = data.size() / 2;
      for (size_t i = 0; i < samples; ++i) {
        int16_t s;
        std::memcpy(&s, &data[i * 2], 2);
        s = static_cast<int16_t>(s * (i % channels == 0 ? left : right) / 0xFFFF);
        std::memcpy(&data[i * 2], &s, 2);
      }
    } else {
      for (size_t i = 0; i < data.size(); ++i) {
        const int32_t centred = static_cast<uint8_t>(data[i]) - 128;
        const int32_t scaled = centred * (i % channels == 0 ? left : right) / 0xFFFF;
        data[i] = static_cast<char>(static_cast<uint8_t>(scaled + 128));
      }
    }
  }

  std::unique_ptr<PcmSink> sink_;
  const WAVEFORMATEX format_;
  const uint32_t callbackThread_;
  std::shared_ptr<std::atomic<DWORD>> volume_;

  std::mutex callMutex_;  // one command at a time
  std::mutex mutex_;      // everything below
  std::condition_variable commandDone_;
  CommandKind command_ = None;
  MMRESULT commandResult_ = MMSYSERR_NOERROR;
  std::deque<Queued> queue_;
  uint64_t handFrame_ = 0;    // next stream frame to hand to the sink
  uint64_t playedFrame_ = 0;  // stream frames played so far
  bool paused_ = false;
  bool sinkPaused_ = false;
  bool wantRoom_ = false;
  bool lost_ = false;
  std::string lostText_;
  std::vector<char> scratch_;
  Event wake_;
  std::thread thread_;
};

namespace {

bool ValidFormat(const WAVEFORMATEX* f) {
  return f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM &&
         (f->nChannels == 1 || f->nChannels == 2) &&
         (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) && f->nSamplesPerSec > 0 &&
         f->nBlockAlign == f->nChannels * f->wBitsPerSample / 8;
}

}  // namespace

MMRESULT waveOutOpen(HWAVEOUT* device, UINT deviceId, const WAVEFORMATEX* format,
                     uintptr_t callback, uintptr_t /*instance*/, DWORD flags) {
  if (device == nullptr) return MMSYSERR_INVALPARAM;
  *device = nullptr;
  if (!ValidFormat(format)) return WAVERR_BADFORMAT;
  std::string name;
  if (!DeviceName(deviceId, name)) return MMSYSERR_BADDEVICEID;
  std::unique_ptr<PcmSink> sink = CreateTestSink(name);
  if (!sink) sink = CreateAlsaSink(name);
  const MMRESULT opened = sink->Open(*format);
  if (opened != MMSYSERR_NOERROR) return Fail(opened, sink->OpenErrorText());
  const uint32_t thread = (flags & CALLBACK_THREAD) ? static_cast<uint32_t>(callback) : 0;
  auto opened_device = std::make_unique<WaveOutDevice>(std::move(sink), name, *format, thread);
  opened_device->Start();
  *device = opened_device.release();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, UINT /*size*/) {
  if (device == nullptr) return MMSYSERR_INVALHANDLE;
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  return device->Prepare(header);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, UINT /*size*/) {
  if (device == nullptr) return MMSYSERR_INVALHANDLE;
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  return device->Unprepare(header);
}

MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, UINT /*size*/) {
  if (device == nullptr) return MMSYSERR_INVALHANDLE;
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  return device->Write(header);
}

MMRESULT waveOutPause(HWAVEOUT device) {
  return device == nullptr ? MMSYSERR_INVALHANDLE : device->Pause();
}

MMRESULT waveOutRestart(HWAVEOUT device) {
  return device == nullptr ? MMSYSERR_INVALHANDLE : device->Restart();
}

MMRESULT waveOutReset(HWAVEOUT device) {
  return device == nullptr ? MMSYSERR_INVALHANDLE : device->Reset();
}

MMRESULT waveOutClose(HWAVEOUT device) {
  if (device == nullptr) return MMSYSERR_INVALHANDLE;
  if (device->Busy()) return WAVERR_STILLPLAYING;
  delete device;  // the handle is the device's only owner
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutSetVolume(HWAVEOUT device, DWORD volume) {
  return device == nullptr ? MMSYSERR_INVALHANDLE : device->SetVolume(volume);
}

MMRESULT waveOutGetVolume(HWAVEOUT device, DWORD* volume) {
  if (device == nullptr) return MMSYSERR_INVALHANDLE;
  if (volume == nullptr) return MMSYSERR_INVALPARAM;
  *volume = device->Volume();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetDeviceVolume(UINT deviceId, DWORD* volume) {
  if (volume == nullptr) return MMSYSERR_INVALPARAM;
  std::string name;
  if (!DeviceName(deviceId, name)) return MMSYSERR_BADDEVICEID;
  *volume = VolumeOf(name)->load();
  return MMSYSERR_NOERROR;
}

UINT waveOutGetNumDevs() {
  return static_cast<UINT>(AlsaPlaybackDevices().size());
}

MMRESULT waveOutGetErrorTextA(MMRESULT result, char* text, UINT size) {
  static const std::map<MMRESULT, const char*> generic = {
      {MMSYSERR_NOERROR, "The operation completed successfully."},
      {MMSYSERR_ERROR, "Unspecified error."},
      {MMSYSERR_BADDEVICEID, "The device id is out of range."},
      {MMSYSERR_ALLOCATED, "The device is already in use."},
      {MMSYSERR_INVALHANDLE, "The device handle is invalid."},
      {MMSYSERR_NODRIVER, "The sound device is gone."},
      {MMSYSERR_NOMEM, "Out of memory."},
      {MMSYSERR_NOTSUPPORTED, "The device does not support this operation."},
      {MMSYSERR_INVALFLAG, "An invalid flag was given."},
      {MMSYSERR_INVALPARAM, "An invalid parameter was given."},
      {WAVERR_BADFORMAT, "The device does not support this wave format."},
      {WAVERR_STILLPLAYING, "Buffers are still queued on the device."},
      {WAVERR_UNPREPARED, "The buffer was not prepared."},
  };
  if (text == nullptr || size == 0) return MMSYSERR_INVALPARAM;
  std::string message;
  if (const auto own = sinkTexts.find(result); own != sinkTexts.end()) {
    message = own->second;
  } else if (const auto known = generic.find(result); known != generic.end()) {
    message = known->second;
  } else {
    text[0] = '\0';
    return MMSYSERR_BADERRNUM;
  }
  const size_t n = std::min<size_t>(message.size(), size - 1);
  std::memcpy(text, message.data(), n);
  text[n] = '\0';
  return MMSYSERR_NOERROR;
}

}  // namespace tunewell
