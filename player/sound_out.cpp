// TSoundOut: the ring of four device buffers, the output thread's messages, the WAV file mode.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "player/MPSoundOut.h"
#include "stream/MPAssert.h"

namespace tunewell {

namespace {

constexpr size_t kWavHeaderSize = 44;
// The RIFF size field (file size - 8) must fit in 32 bits.
constexpr uint64_t kMaxWavFileSize = 0xFFFFFFFFull + 8;

// Milliseconds on a 32-bit counter that wraps, as the system's tick count does.
uint32_t TickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void PutLE(uint8_t* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& name) {
  throw std::runtime_error(what + " \"" + name + "\". " + std::strerror(errno));
}

void WriteAll(int fd, const void* data, size_t size, off_t offset, const std::string& name) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = offset < 0 ? write(fd, bytes, size) : pwrite(fd, bytes, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ThrowFileError("Cannot write to file", name);
    bytes += n;
    size -= static_cast<size_t>(n);
    if (offset >= 0) offset += n;
  }
}

}  // namespace

int32_t SoundBufferSize(int32_t channels, int32_t bitsPerSample, int32_t sampleRate) {
  const int64_t twoSeconds = int64_t{channels} * (bitsPerSample / 8) * sampleRate * 2000 / 1000;
  return static_cast<int32_t>((twoSeconds / 4 + 3) / 4 * 4);
}

void CheckWaveResult(MMRESULT result, const char* where) {
  if (result == MMSYSERR_NOERROR) return;
  char text[129] = {};
  std::string message;
  if (waveOutGetErrorTextA(result, text, 129) == MMSYSERR_NOERROR) {
    message = text;
  } else {
    message = "unknown wave out API error.";
  }
  throw std::runtime_error(message + "(" + where + ")");
}

TSoundOut::TSoundOut() {
  volume_ = GetWaveVolume();
  thread_ = std::make_unique<TMPLoopThread>(this);
  thread_->OnException = [this](TMPLoopThread&, const std::exception& e, bool& handled) {
    ErrorEvent handler;
    {
      std::lock_guard lock(errorMutex_);
      handler = onError_;
    }
    // Outside the lock: the handler may wait for the main thread.
    if (handler) handler(*this, e, handled);
  };
  thread_->Resume();
}

TSoundOut::~TSoundOut() {
  try {
    Close();
  } catch (const std::exception&) {
    // A failure while closing cannot be reported from a destructor.
  }
  thread_->StopAndWait();
}

void TSoundOut::SetSampleRate(int32_t rate) {
  if (rate > 0) sampleRate_ = rate;
}

void TSoundOut::SetBitsPerSample(int32_t bits) {
  if (bits == 8 || bits == 16) bitsPerSample_ = bits;
}

void TSoundOut::SetChannels(int32_t channels) {
  if (channels == 1 || channels == 2) channels_ = channels;
}

void TSoundOut::SetVolume(int32_t volume) {
  if (volume < 0 || volume > 100) return;
  volume_ = volume;
  if (open_ && device_ != nullptr) SetVolumeToWaveDevice();
}

void TSoundOut::SetBalance(int32_t balance) {
  if (balance < -100 || balance > 100) return;
  balance_ = balance;
  if (open_ && device_ != nullptr) SetVolumeToWaveDevice();
}

void TSoundOut::SetOutputFileName(const std::string& name) {
  if (!open_) outputFileName_ = name;
}

void TSoundOut::SetOnPosition(NotifyEvent handler) {
  std::lock_guard lock(positionMutex_);
  onPosition_ = std::move(handler);
}

void TSoundOut::SetOnError(ErrorEvent handler) {
  std::lock_guard lock(errorMutex_);
  onError_ = std::move(handler);
}

WAVEFORMATEX TSoundOut::Format() const {
  WAVEFORMATEX format;
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<uint16_t>(channels_);
  format.nSamplesPerSec = static_cast<uint32_t>(sampleRate_);
  format.nBlockAlign = static_cast<uint16_t>(channels_ * bitsPerSample_ / 8);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  format.wBitsPerSample = static_cast<uint16_t>(bitsPerSample_);
  format.cbSize = 0;
  return format;
}

int32_t TSoundOut::GetWaveVolume() {
  int32_t result = 100;
  try {
    const WAVEFORMATEX format = Format();
    HWAVEOUT probe = nullptr;
    DWORD volume = 0;
    if (waveOutOpen(&probe, DeviceId, &format, 0, 0, CALLBACK_NULL | WAVE_ALLOWSYNC) ==
        MMSYSERR_NOERROR) {
      const MMRESULT r = waveOutGetVolume(probe, &volume);
      waveOutClose(probe);
      CheckWaveResult(r, "TSoundOut.GetWaveVolume");
    } else if (waveOutGetNumDevs() == 0) {
      return result;
    } else {
      CheckWaveResult(waveOutGetDeviceVolume(0, &volume), "TSoundOut.GetWaveVolume");
    }
    const uint32_t loudest = std::max(volume & 0xFFFF, volume >> 16);
    result = static_cast<int32_t>((loudest * 100 + 32767) / 65535);
  } catch (const std::exception&) {
    result = 100;
  }
  return result;
}

void TSoundOut::SetVolumeToWaveDevice() {
  const uint32_t v = static_cast<uint32_t>((volume_ * 65535 + 50) / 100);
  uint32_t left = v;
  uint32_t right = v;
  if (balance_ < 0) right = static_cast<uint32_t>(((balance_ + 100) * int64_t{v} + 50) / 100);
  if (balance_ > 0) left = static_cast<uint32_t>(((100 - balance_) * int64_t{v} + 50) / 100);
  const MMRESULT r = waveOutSetVolume(device_, left + right * 65536);
  if (r != MMSYSERR_NOTSUPPORTED) CheckWaveResult(r, "TSoundOut.SetVolumeToWaveDevice");
}

void TSoundOut::SetupBuffers() {
  bufferSize_ = SoundBufferSize(channels_, bitsPerSample_, sampleRate_);
  for (int i = 0; i < kBufferCount; ++i) {
    buffers_[i] = std::make_unique<char[]>(static_cast<size_t>(bufferSize_));
    headers_[i] = WAVEHDR{};
    headers_[i].lpData = buffers_[i].get();
    headers_[i].dwBufferLength = static_cast<DWORD>(bufferSize_);
  }
}

void TSoundOut::ReleaseBuffers() {
  for (auto& buffer : buffers_) buffer.reset();
}

void TSoundOut::Open() {
  if (open_) return;
  open_ = true;
  {
    std::lock_guard ring(ringLock_);
    currentIndex_ = 0;
    currentFill_ = 0;
    queuedCount_ = 0;
  }
  try {
    if (outputFileName_.empty()) {
      fileMode_ = false;
      const WAVEFORMATEX format = Format();
      CheckWaveResult(waveOutOpen(&device_, DeviceId, &format, thread_->ThreadId(), 0,
                                  CALLBACK_THREAD | WAVE_ALLOWSYNC),
                      "TSoundOut.Open:WaveOutOpen");
      SetVolumeToWaveDevice();
      SetupBuffers();
      for (WAVEHDR& header : headers_) {
        CheckWaveResult(waveOutPrepareHeader(device_, &header, sizeof header),
                        "TSoundOut.Open:WaveOutPreperHeader");
      }
      thread_->SetTimeout(NotifyInterval());
    } else {
      fileMode_ = true;
      CreateWav();
      SetupBuffers();
    }
    {
      std::lock_guard ring(ringLock_);
      currentIndex_ = 0;
      currentFill_ = 0;
      queuedCount_ = 0;
    }
    lastNotification_ = TickCount();
    playedBytes_ = 0;
    allDoneEvent_.Signal();
  } catch (...) {
    Close();
    throw;
  }
}

// Replaces the file's contents in place: a special file such as /dev/null stays what it is.
void TSoundOut::CreateWav() {
  outputFile_ = open(outputFileName_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (outputFile_ < 0) ThrowFileError("Cannot create file", outputFileName_);
  struct stat info = {};
  if (fstat(outputFile_, &info) == 0 && S_ISREG(info.st_mode) && ftruncate(outputFile_, 0) != 0) {
    ThrowFileError("Cannot create file", outputFileName_);
  }
  const uint16_t blockAlign = static_cast<uint16_t>(channels_ * bitsPerSample_ / 8);
  uint8_t header[kWavHeaderSize] = {};
  std::memcpy(header, "RIFF", 4);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  PutLE(header + 16, 16, 4);
  PutLE(header + 20, 1, 2);
  PutLE(header + 22, static_cast<uint32_t>(channels_), 2);
  PutLE(header + 24, static_cast<uint32_t>(sampleRate_), 4);
  PutLE(header + 28, static_cast<uint32_t>(sampleRate_) * blockAlign, 4);
  PutLE(header + 32, blockAlign, 2);
  PutLE(header + 34, static_cast<uint32_t>(bitsPerSample_), 2);
  std::memcpy(header + 36, "data", 4);
  WriteAll(outputFile_, header, sizeof header, -1, outputFileName_);
  wavBytes_ = kWavHeaderSize;
}

void TSoundOut::FinishWav() {
  uint8_t size[4];
  PutLE(size, static_cast<uint32_t>(wavBytes_ - 8), 4);
  WriteAll(outputFile_, size, 4, 4, outputFileName_);
  PutLE(size, static_cast<uint32_t>(wavBytes_ - kWavHeaderSize), 4);
  WriteAll(outputFile_, size, 4, 40, outputFileName_);
}

void TSoundOut::Close() {
  if (!open_) return;
  {
    std::lock_guard lock(waitLock_);
    waitEvent_ = nullptr;
  }
  std::exception_ptr failure;
  try {
    if (outputFile_ >= 0) {
      // Buffer writes still queued for the output thread go to the file first.
      thread_->Sync();
      FinishWav();
    }
  } catch (...) {
    failure = std::current_exception();
  }
  if (outputFile_ >= 0) {
    close(outputFile_);
    outputFile_ = -1;
  }
  if (device_ != nullptr) {
    try {
      CloseDevice();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  ReleaseBuffers();
  open_ = false;
  if (failure) std::rethrow_exception(failure);
}

void TSoundOut::CloseDevice() {
  thread_->SetTimeout(INFINITE);
  std::exception_ptr failure;
  try {
    Flush();
  } catch (...) {
    failure = std::current_exception();  // the device must still be closed
  }
  WaitDone();
  for (WAVEHDR& header : headers_) {
    while (waveOutUnprepareHeader(device_, &header, sizeof header) == WAVERR_STILLPLAYING) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  waveOutClose(device_);
  device_ = nullptr;
  if (failure) std::rethrow_exception(failure);
}

void TSoundOut::Pause() {
  if (open_ && device_ != nullptr) CheckWaveResult(waveOutPause(device_), "TSoundOut.Pause");
}

void TSoundOut::Unpause() {
  if (open_ && device_ != nullptr) CheckWaveResult(waveOutRestart(device_), "TSoundOut.Unpause");
}

void TSoundOut::Reset() {
  if (!open_ || device_ == nullptr) return;
  {
    std::lock_guard ring(ringLock_);
    currentFill_ = 0;
  }
  waveOutReset(device_);
}

bool TSoundOut::CanWrite() {
  std::lock_guard ring(ringLock_);
  return queuedCount_.load() < kBufferCount && currentFill_ < bufferSize_;
}

int32_t TSoundOut::Write(const void* data, int32_t length) {
  int32_t taken = 0;
  const auto* bytes = static_cast<const char*>(data);
  while (length > 0 && CanWrite()) {
    std::lock_guard ring(ringLock_);
    const int32_t n = std::min(bufferSize_ - currentFill_, length);
    std::memcpy(buffers_[currentIndex_].get() + currentFill_, bytes + taken,
                static_cast<size_t>(n));
    currentFill_ += n;
    if (currentFill_ >= bufferSize_) WaveWrite();
    taken += n;
    length -= n;
  }
  return taken;
}

void TSoundOut::WaveWrite() {
  std::lock_guard ring(ringLock_);
  const int index = currentIndex_;
  ++queuedCount_;
  allDoneEvent_.Reset();
  MPAssert(queuedCount_.load() <= kBufferCount);
  headers_[index].dwBufferLength = static_cast<DWORD>(currentFill_);
  currentFill_ = 0;
  currentIndex_ = (currentIndex_ + 1) % kBufferCount;
  if (fileMode_) {
    thread_->Post(MPM_WRITEBUFFER, 0, index);
    return;
  }
  MPAssert(device_ != nullptr);
  thread_->SetTimeout(NotifyInterval());  // position ticks while something is queued
  const MMRESULT r = waveOutWrite(device_, &headers_[index], sizeof headers_[index]);
  if (r != MMSYSERR_NOERROR) {
    // The device never took the buffer: it will not come back, so it must not stay counted.
    if (--queuedCount_ <= 0) allDoneEvent_.Signal();
    CheckWaveResult(r, "TSoundOut.WaveWrite");
  }
}

int32_t TSoundOut::FreePercent() {
  if (!open_) return 0;
  std::lock_guard ring(ringLock_);
  const int64_t free = int64_t{kBufferCount - queuedCount_.load()} * bufferSize_ - currentFill_;
  return static_cast<int32_t>(free * 100 / (int64_t{kBufferCount} * bufferSize_));
}

void TSoundOut::Flush() {
  bool pending = false;
  {
    std::lock_guard ring(ringLock_);
    pending = open_ && currentFill_ > 0;
  }
  if (pending) WaveWrite();
  thread_->Sync();
}

void TSoundOut::WaitDone() {
  const Event* ended = thread_->Handle();
  if (ended == nullptr) return;
  WaitForAny({&allDoneEvent_.Handle(), ended}, INFINITE);
}

void TSoundOut::SetWaitEvent(TMPEvent* event) {
  {
    std::lock_guard lock(waitLock_);
    waitEvent_ = event;
  }
  NotifyWaiter();
}

void TSoundOut::NotifyWaiter() {
  if (!CanWrite()) return;
  std::lock_guard lock(waitLock_);
  if (waitEvent_ == nullptr) return;
  waitEvent_->Signal();
  waitEvent_ = nullptr;
}

void TSoundOut::Dispatch(const Message& message) {
  switch (message.message) {
    case MM_WOM_DONE:
      playedBytes_ += reinterpret_cast<const WAVEHDR*>(message.lParam)->dwBufferLength;
      BufferDone(!fileMode_);
      break;
    case MPM_WRITEBUFFER:
      WriteBuffer(static_cast<int>(message.lParam));
      break;
    case MPM_TIMEOUT:
      if (!fileMode_) PositionTick();
      break;
    default:
      break;
  }
}

void TSoundOut::WriteBuffer(int index) {
  MPAssert(outputFile_ >= 0);
  const WAVEHDR& header = headers_[static_cast<size_t>(index)];
  try {
    if (wavBytes_ + header.dwBufferLength > kMaxWavFileSize) {
      throw std::runtime_error("WAV file would pass 4 GiB(TSoundOut.WriteBuffer)");
    }
    WriteAll(outputFile_, header.lpData, header.dwBufferLength, -1, outputFileName_);
    wavBytes_ += header.dwBufferLength;
    playedBytes_ += header.dwBufferLength;
    PositionTick();
  } catch (...) {
    BufferDone(false);  // the slot is free again, or WaitDone would never return
    throw;
  }
  BufferDone(false);
}

// A returned buffer: free its slot, wake a waiting writer, and only then tell WaitDone, so
// that Close cannot go on while this still runs.
void TSoundOut::BufferDone(bool tick) {
  const int32_t left = --queuedCount_;
  thread_->SetTimeout(left <= 0 ? INFINITE : NotifyInterval());
  MPAssert(left >= 0);
  NotifyWaiter();
  if (tick) PositionTick();
  std::lock_guard ring(ringLock_);
  if (queuedCount_.load() <= 0) allDoneEvent_.Signal();
}

void TSoundOut::PositionTick() {
  std::lock_guard lock(positionMutex_);
  const int32_t interval = NotifyInterval();
  if (!onPosition_ || interval == -1) return;
  const uint32_t now = TickCount();
  if (now - lastNotification_.load() > static_cast<uint32_t>(interval)) {
    onPosition_(*this);
    lastNotification_ = now;
  }
}

}  // namespace tunewell
