#pragma once
// The wave-out device: open a PCM device with a thread as callback, queue prepared buffers,
// pause, restart, reset, close, per-device volume. Buffers are played in order by a device
// thread and come back as MM_WOM_DONE (wParam = device, lParam = the WAVEHDR) once their last
// frame has been played. Result codes keep the classic wave-out numbering.
//
// WAVE_MAPPER opens the mapper device: ALSA's "default" unless SetWaveMapperDevice named
// another one. Ids 0 … N-1 are the ALSA playback devices in the order ALSA lists them.

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tunewell {

using MMRESULT = uint32_t;
using UINT = uint32_t;
using DWORD = uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);
constexpr DWORD CALLBACK_NULL = 0x00000;
constexpr DWORD CALLBACK_THREAD = 0x20000;
constexpr DWORD WAVE_ALLOWSYNC = 0x0002;
constexpr uint16_t WAVE_FORMAT_PCM = 1;

constexpr uint32_t MM_WOM_DONE = 0x3BD;

constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_INQUEUE = 0x10;

constexpr size_t MAXERRORLENGTH = 256;

struct WAVEFORMATEX {
  uint16_t wFormatTag = WAVE_FORMAT_PCM;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
};

// A buffer and its bookkeeping. The device owns dwFlags while the header is queued; read it
// only through the device calls.
struct WAVEHDR {
  char* lpData = nullptr;
  DWORD dwBufferLength = 0;
  DWORD dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  DWORD dwFlags = 0;
  DWORD dwLoops = 0;
  WAVEHDR* lpNext = nullptr;
  uintptr_t reserved = 0;
};

class WaveOutDevice;
using HWAVEOUT = WaveOutDevice*;

// callback is a thread id (CALLBACK_THREAD) or ignored (CALLBACK_NULL).
MMRESULT waveOutOpen(HWAVEOUT* device, UINT deviceId, const WAVEFORMATEX* format,
                     uintptr_t callback, uintptr_t instance, DWORD flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size);
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, UINT size);
MMRESULT waveOutPause(HWAVEOUT device);
MMRESULT waveOutRestart(HWAVEOUT device);
MMRESULT waveOutReset(HWAVEOUT device);
MMRESULT waveOutClose(HWAVEOUT device);
// Low word left, high word right; 0xFFFF is full volume.
MMRESULT waveOutSetVolume(HWAVEOUT device, DWORD volume);
MMRESULT waveOutGetVolume(HWAVEOUT device, DWORD* volume);
// The volume of a device that is not open, by id.
MMRESULT waveOutGetDeviceVolume(UINT deviceId, DWORD* volume);
UINT waveOutGetNumDevs();
MMRESULT waveOutGetErrorTextA(MMRESULT result, char* text, UINT size);

// The device WAVE_MAPPER opens (the command line's --device); empty restores "default".
void SetWaveMapperDevice(const std::string& name);
std::string WaveMapperDevice();

// What a device thread drives: ALSA, or the test device. Only the device thread calls the
// operations after Open. Frame counts; negative results are -errno, -EAGAIN meaning "not now,
// ask again".
class PcmSink {
 public:
  virtual ~PcmSink() = default;
  virtual MMRESULT Open(const WAVEFORMATEX& format) = 0;
  // Why the last Open failed, in the system's words; empty when it has none.
  virtual std::string OpenErrorText() { return {}; }
  // Frames that can be written now.
  virtual long Avail() = 0;
  virtual long Write(const void* frames, long count) = 0;
  // Frames written but not yet played.
  virtual long Delay() = 0;
  // After an underrun: the data counts as played and writing goes on.
  virtual int Recover(int error) = 0;
  virtual bool CanPause() = 0;
  virtual int Pause(bool on) = 0;
  // Forgets every frame not yet played and makes the sink ready for new ones.
  virtual int Drop() = 0;
  // Starts playing what was written, when it is less than the start threshold.
  virtual void Start() {}
  // Descriptors that become ready when there may be room to write.
  virtual std::vector<pollfd> PollFds() = 0;
  // The system's text for a sink error.
  virtual std::string ErrorText(int error) = 0;
};

// Opens a sink by device name; tests register their own devices under a name.
using SinkFactory = std::unique_ptr<PcmSink> (*)(const std::string& name);
std::unique_ptr<PcmSink> CreateAlsaSink(const std::string& name);
std::vector<std::string> AlsaPlaybackDevices();

// A device whose clock the test controls: nothing plays until Advance is called. While it
// exists, opening its name opens it, so SetWaveMapperDevice(name) selects it for WAVE_MAPPER
// the way --device does.
class TTestWaveDevice {
 public:
  explicit TTestWaveDevice(std::string name = "tunewell-test", long capacityFrames = 4410);
  ~TTestWaveDevice();
  TTestWaveDevice(const TTestWaveDevice&) = delete;
  TTestWaveDevice& operator=(const TTestWaveDevice&) = delete;

  const std::string& Name() const;
  // Plays that many frames of what was written (or fewer, when less is waiting).
  void Advance(long frames);
  // Simulates an underrun on the next hand-off, or the device going away.
  void Underrun();
  void Lose();
  void SetCanPause(bool canPause);
  // Every byte played so far, in order, after the device's volume.
  std::vector<uint8_t> Played() const;
  // Frames written and not yet played.
  long Pending() const;
  bool IsOpen() const;
  bool IsPaused() const;
  // Blocks until Pending() is at least frames, or the time has passed; true when reached.
  bool WaitPending(long frames, int milliseconds) const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace tunewell
