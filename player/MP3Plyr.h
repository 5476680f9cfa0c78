#pragma once
// The playback component TMP3Player: opens an MPEG audio file, plays it on its decode thread
// through TSoundOut, and reports status, position and the end of playback as events on the
// thread that created it.

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "decoder/MP3decdr.h"
#include "info/MP3Info.h"
#include "platform/NotifyWindow.h"
#include "player/MP3Trds.h"
#include "player/MPLoopThread.h"
#include "player/MPSoundOut.h"
#include "stream/MPStreamReader.h"

namespace tunewell {

// No end of the audio was given.
constexpr int32_t UnboundedAudioSize = INT32_MAX;

enum class TVbrHeaderKind { None, Xing, Vbri };
// Which variable-bit-rate header a first frame carries; `inView` bytes of the frame are readable.
TVbrHeaderKind FindVbrHeader(const uint8_t* frame, int32_t inView, const TMPEGHeader& first);

// Looks for a Xing or VBRI header in the first frame, which stands whole at the reader's
// Current. When one is there, the frame is skipped and taken off the audio range, and a byte
// count it carries replaces audioSize. False when the header frame cannot be skipped.
bool ReadVbrHeader(TMPStreamReader& reader, const TMPEGHeader& first, int32_t& pendingFrameLength,
                   int32_t& audioStart, int32_t& audioSize);

// The component's notifications, posted to its window and handled on the main thread.
constexpr uint32_t MPM_CHANGEPOSITION = 0x40A;
constexpr uint32_t MPM_THREADERROR = 0x40B;
constexpr uint32_t MPM_ENDOFSTREAM = 0x40C;
constexpr uint32_t MPM_CHANGESTATUS = 0x40E;
constexpr uint32_t MPM_ENDPLAY = 0x40F;
constexpr uint32_t MPM_EQUALIZER = 0x410;

inline constexpr const char* UnknownFormatMessage = "unknown MPEG Audio format.";

// The general exception of the component: a file it cannot play.
class EMP3PlayerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The sound device (or the WAV file standing in for it) failed. A play queue stops on these
// instead of failing every song.
class ESoundOutError : public EMP3PlayerError {
 public:
  using EMP3PlayerError::EMP3PlayerError;
};

// A list index out of range ("SListIndexError").
class EListError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// A small set of enumeration members, bit n for the member of value n.
template <typename E>
class TEnumSet {
 public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> members) {
    for (E member : members) Include(member);
  }
  static constexpr TEnumSet FromBits(uint32_t bits) {
    TEnumSet set;
    set.bits_ = bits;
    return set;
  }

  constexpr bool Contains(E member) const { return (bits_ & Bit(member)) != 0; }
  constexpr void Include(E member) { bits_ |= Bit(member); }
  constexpr void Exclude(E member) { bits_ &= ~Bit(member); }
  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TEnumSet operator*(TEnumSet other) const { return FromBits(bits_ & other.bits_); }
  constexpr TEnumSet operator+(TEnumSet other) const { return FromBits(bits_ | other.bits_); }
  constexpr bool operator==(const TEnumSet&) const = default;

 private:
  static constexpr uint32_t Bit(E member) { return 1u << static_cast<uint32_t>(member); }
  uint32_t bits_ = 0;
};

enum TMP3PlayerStatus : uint8_t { mpsStop, mpsPlay, mpsPause };
enum TMP3EndPlayReason : uint8_t { mepEndOfStream, mepStop, mepError };

enum TMP3PlayerCapability : uint8_t {
  mpcOpen,
  mpcClose,
  mpcPlay,
  mpcStop,
  mpcPause,
  mpcResume,
  mpcSeek,
  mpcStopped
};
using TMP3PlayerCapabilities = TEnumSet<TMP3PlayerCapability>;

enum TMP3CpuCapability : uint8_t { mccMMX, mcc3DNow, mccKNI, mccE3DNow, mccCMOV, mccEMMX };
using TMP3CpuCapabilities = TEnumSet<TMP3CpuCapability>;
inline constexpr TMP3CpuCapabilities AllCpuCapabilities{mccMMX,    mcc3DNow, mccKNI,
                                                        mccE3DNow, mccCMOV,  mccEMMX};

enum TMP3EqualizerMode : uint8_t { memSubBand, memFreq };

enum TThreadPriority : uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// What the processor offers, as the component's capability set.
TMP3CpuCapabilities DetectCpuCapabilities();
// The DecoderCpuFlags word for routine selection: the detected word with its capability bits
// replaced by those of `allowed` the processor has.
uint32_t SelectedCpuFlags(TMP3CpuCapabilities allowed);

// Centre frequency (Hz, rounded half to even) of a polyphase subband (0 … 31) and of a Layer III
// frequency line (0 … 575) at the given output rate.
int32_t SubbandCentreFrequency(int32_t sampleRate, int32_t subband);
int32_t LineCentreFrequency(int32_t sampleRate, int32_t line);

class TMP3Player : private TMPMessageOwner {
 public:
  using TNotifyEvent = std::function<void(TMP3Player& sender)>;
  using TMP3EndPlayEvent = std::function<void(TMP3Player& sender, TMP3EndPlayReason reason)>;
  // Shows an exception to the user (the application's default error display).
  using TErrorDisplay = std::function<void(std::exception_ptr error)>;

  // Bits of the flags Open takes.
  static constexpr uint8_t StreamSeekable = 1;
  static constexpr uint8_t StreamOwned = 2;

  TMP3Player();
  virtual ~TMP3Player();
  TMP3Player(const TMP3Player&) = delete;
  TMP3Player& operator=(const TMP3Player&) = delete;

  // Stored settings are applied between BeginLoading and Loaded, as a form being read does.
  void BeginLoading();
  virtual void Loaded();

  // Published properties.
  bool AutoOpen() const { return autoOpen_; }
  void SetAutoOpen(bool value);
  bool AutoPlay() const { return autoPlay_; }
  void SetAutoPlay(bool value);
  int32_t ChangePosStep() const { return changePosStep_; }
  void SetChangePosStep(int32_t milliseconds);
  TThreadPriority DecodePriority() const { return decodePriority_; }
  void SetDecodePriority(TThreadPriority priority);
  bool EqualizerEnabled() const { return equalizerEnabled_; }
  void SetEqualizerEnabled(bool value);
  int32_t EqualizerCount() const { return equalizerCount_; }
  void SetEqualizerCount(int32_t count);
  TMP3EqualizerMode EqualizerMode() const { return equalizerMode_; }
  void SetEqualizerMode(TMP3EqualizerMode mode);
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name);
  TMP3InfoType NeedInfoType() const { return info_.NeedInfoType(); }
  void SetNeedInfoType(TMP3InfoType kinds) { info_.SetNeedInfoType(kinds); }
  bool NoisySeek() const { return noisySeek_; }
  void SetNoisySeek(bool value) { noisySeek_ = value; }
  bool InvertPolarity();
  void SetInvertPolarity(bool value);
  TMP3CpuCapabilities UsingCpuCapabilities() const { return usingCpuCapabilities_; }
  void SetUsingCpuCapabilities(TMP3CpuCapabilities capabilities);
  int32_t VolBalance() const { return volBalance_; }
  void SetVolBalance(int32_t balance);
  int32_t Volume() const { return volume_; }
  void SetVolume(int32_t volume);

  // Events, always called on the thread that created the component, after the operation that
  // caused them has returned.
  TNotifyEvent OnChangePosition;
  TNotifyEvent OnChangeStatus;
  TMP3EndPlayEvent OnEndPlay;

  // When not empty at Play, the audio goes to this WAV file instead of the device; Stop clears
  // it.
  const std::string& OutputFileName() const { return outputFileName_; }
  void SetOutputFileName(const std::string& name) { outputFileName_ = name; }
  // The wave-out device Play opens; WAVE_MAPPER is the system's default.
  UINT DeviceId() const { return deviceId_; }
  void SetDeviceId(UINT id) { deviceId_ = id; }

  // Operations.
  void OpenFile();
  // Opens a stream the component owns and frees on Close, or one the caller keeps alive until
  // Close.
  void Open(std::unique_ptr<TByteStream> stream, bool seekable);
  void Open(TByteStream& stream, bool seekable);
  void Close();
  void Play();
  void Pause();
  void Resume();
  void Stop();
  bool IsOpen() const { return stream_ != nullptr; }
  TMP3PlayerStatus Status() const { return status_; }
  TMP3PlayerCapabilities Capabilities() const;

  // Tag values; Title falls back to the file's name.
  std::string Title() const;
  std::string Artist() const;
  std::string Album() const;
  std::string Year() const;
  std::string Comment() const;
  std::string Genre() const;

  // Equalizer settings.
  void SetEqualizerValue(int32_t index, int32_t value);
  int32_t EqualizerValue(int32_t index) const;
  void SetEqualizerFrequencyRange(int32_t low, int32_t high);
  int32_t EqualizerFrequency(int32_t index) const;
  void ApplyEqualizer();

  // What is known of the open file.
  int32_t AudioStart() const { return audioStart_; }
  int32_t AudioSize() const { return audioSize_; }
  TMP3InfoType FoundInfo() const { return info_.FoundInfo(); }
  const TMP3Info& Info() const { return info_; }
  const TMPEGHeader& FirstHeader() const { return header_; }
  uint32_t FirstHeaderWord() const { return firstHeader_; }
  bool HasVbrHeader() const { return vbrHeader_; }
  int32_t SampleRate() const { return sampleRate_; }
  const TDecoderOutputFormat& OutputFormat() const { return outputFormat_; }
  // Milliseconds of this playback the device has played (as heard, not as decoded).
  int64_t ElapsedMilliseconds();

  // The host's loop: the plain TMessageLoop of platform/ pumps the component by itself; another
  // loop watches NotifyFd (readable while notifications wait) and calls ProcessNotifications.
  int NotifyFd() const;
  void ProcessNotifications();
  // What "process pending messages" means to the host, run before a position notification is
  // handled; the default pumps the plain loop's windows.
  void SetProcessMessages(std::function<void()> process);
  // The application's default error display, used for exceptions of the worker threads; the
  // default writes to standard error.
  void SetErrorDisplay(TErrorDisplay display);

 protected:
  virtual void DoChangeStatus();
  virtual void DoChangePosition();
  virtual void DoEndPlay();

 private:
  struct TShared;
  struct TThreadError;

  void Dispatch(const Message& message) override;
  void WindowProc(const Message& message);
  void Post(uint32_t message, WPARAM wParam = 0, LPARAM lParam = 0);
  void PostOnce(uint32_t message);
  void RemovePending(uint32_t low, uint32_t high);

  void OpenStream(TByteStream* stream, bool seekable);
  void OpenSteps();
  int32_t ParseFrameHeader(const uint8_t* bytes, TMPEGHeader& header) const;
  int32_t OpenDecoder(const TMPEGHeader& header, int32_t length);
  void SetStatus(TMP3PlayerStatus status);
  void ResetDecodeState();
  void StopPlayback();

  void MPMWatchEvent();
  bool NextFrame();
  int32_t Feed();
  void Drain(uint64_t playback);
  void Resync();
  void EndAudioHere();
  void ReadAhead(uint64_t playback, int32_t free);
  void ForwardThreadException(bool fromSound, bool& handled);

  void ShowError(std::exception_ptr error);
  static void ShowError(std::exception_ptr error, const TErrorDisplay& display);
  void HandleThreadError(const Message& message);
  void HandleEndOfStream(const Message& message);
  void HandleChangePosition();
  bool Loading() const { return loading_; }

  std::shared_ptr<TShared> shared_;

  bool autoOpen_ = true;
  bool autoPlay_ = true;
  int32_t changePosStep_ = 400;
  TThreadPriority decodePriority_ = tpNormal;
  bool equalizerEnabled_ = false;
  int32_t equalizerCount_ = 6;
  TMP3EqualizerMode equalizerMode_ = memSubBand;
  std::string fileName_;
  bool noisySeek_ = true;
  TMP3CpuCapabilities usingCpuCapabilities_ = AllCpuCapabilities;
  int32_t volBalance_ = 0;
  int32_t volume_ = 100;
  std::array<int32_t, 32> equalizerValues_{};
  std::array<int32_t, 32> equalizerFrequencies_{};

  bool loading_ = false;
  bool destroying_ = false;
  std::string outputFileName_;
  UINT deviceId_ = WAVE_MAPPER;
  TErrorDisplay errorDisplay_;
  std::function<void()> processMessages_;

  // The open stream; owned_ holds it when the component frees it.
  TByteStream* stream_ = nullptr;
  std::unique_ptr<TByteStream> owned_;
  bool seekable_ = false;
  TMP3Info info_;
  TMPStreamReader reader_{65536};
  TMPEGHeader header_{};
  uint32_t firstHeader_ = 0;
  bool vbrHeader_ = false;
  TDecoderOutputFormat outputFormat_{};
  int32_t audioStart_ = 0;
  int32_t audioSize_ = UnboundedAudioSize;
  int32_t sampleRate_ = 0;
  int32_t bytesPerFrame_ = 0;
  TMP3PlayerStatus status_ = mpsStop;
  TMP3EndPlayReason endReason_ = mepStop;

  // Decode state: the decode thread's under decoderLock_.
  struct TAlignedFree {
    void operator()(uint8_t* block) const { FreeAligned(block); }
  };
  std::unique_ptr<uint8_t, TAlignedFree> pcmBuffer_;
  int32_t pcmPending_ = 0;
  int32_t pendingFrameLength_ = 0;
  TMPEGHeader pendingHeader_{};
  int32_t resyncCount_ = 0;
  bool needDecoderOpen_ = false;
  // Counts playbacks: what a worker posts names the playback it belongs to.
  std::atomic<uint64_t> playback_{0};
  // The playback whose worker error was shown last (main thread).
  uint64_t lastErrorPlayback_ = UINT64_MAX;

  TMPSimpleMutex decoderLock_;
  TMPSimpleMutex outputLock_;
  std::unique_ptr<TNotifyWindow> window_;
  std::unique_ptr<TSoundOut> soundOut_;
  std::unique_ptr<TMPLoopThread> decodeThread_;
};

}  // namespace tunewell
