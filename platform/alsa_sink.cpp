// The wave-out layer's sink over ALSA: non-blocking interleaved writes into a short buffer, so
// that the volume applied at hand-off is heard at once.

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>

#include "platform/WaveOut.h"

namespace tunewell {

namespace {

constexpr unsigned kBufferMicroseconds = 50000;
constexpr unsigned kPeriodMicroseconds = 10000;
constexpr std::chrono::seconds kNotReadyLimit{2};

// alsa-lib prints its own complaints (an unknown default device on a machine without sound, for
// one) to stderr; failures reach our callers as result codes with snd_strerror's text instead.
void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsaLib() {
  static const bool silenced = (snd_lib_error_set_handler(IgnoreAlsaMessage), true);
  (void)silenced;
}

class AlsaSink : public PcmSink {
 public:
  explicit AlsaSink(std::string name) : name_(std::move(name)) {}
  ~AlsaSink() override {
    if (pcm_ != nullptr) {
      snd_pcm_drop(pcm_);
      snd_pcm_close(pcm_);
    }
  }

  MMRESULT Open(const WAVEFORMATEX& format) override {
    int error = snd_pcm_open(&pcm_, name_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (error < 0) {
      pcm_ = nullptr;
      openError_ = error;
      return error == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_BADDEVICEID;
    }
    error = Configure(format);
    if (error < 0) {
      openError_ = error;
      snd_pcm_close(pcm_);
      pcm_ = nullptr;
      return WAVERR_BADFORMAT;
    }
    return MMSYSERR_NOERROR;
  }

  std::string OpenErrorText() override {
    return openError_ == 0 ? std::string() : ErrorText(openError_);
  }

  long Avail() override { return Transient(snd_pcm_avail(pcm_)); }

  long Write(const void* frames, long count) override {
    return snd_pcm_writei(pcm_, frames, static_cast<snd_pcm_uframes_t>(count));
  }

  // Some plugins (pulse) answer 0 until they have timing information; what still waits in
  // the buffer is played later than that in any case.
  long Delay() override {
    switch (snd_pcm_state(pcm_)) {
      case SND_PCM_STATE_DISCONNECTED:
        return -ENODEV;
      case SND_PCM_STATE_XRUN:
        return -EPIPE;
      default:
        break;
    }
    snd_pcm_sframes_t delay = 0;
    const int error = snd_pcm_delay(pcm_, &delay);
    if (error < 0) return Transient(error);
    const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
    if (avail >= 0) delay = std::max(delay, static_cast<snd_pcm_sframes_t>(bufferSize_) - avail);
    return std::max<long>(delay, 0);
  }

  int Recover(int error) override { return snd_pcm_recover(pcm_, error, 1); }

  void Start() override {
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED && snd_pcm_delay(pcm_, &delay) == 0 &&
        delay > 0) {
      snd_pcm_start(pcm_);
    }
  }

  bool CanPause() override { return canPause_; }

  int Pause(bool on) override {
    const snd_pcm_state_t state = snd_pcm_state(pcm_);
    if (on && state != SND_PCM_STATE_RUNNING) return -EBADFD;  // nothing plays: drop instead
    if (!on && state != SND_PCM_STATE_PAUSED) return 0;
    return snd_pcm_pause(pcm_, on ? 1 : 0);
  }

  int Drop() override {
    const int error = snd_pcm_drop(pcm_);
    return error < 0 ? error : snd_pcm_prepare(pcm_);
  }

  std::vector<pollfd> PollFds() override {
    std::vector<pollfd> fds(static_cast<size_t>(snd_pcm_poll_descriptors_count(pcm_)));
    const int n = snd_pcm_poll_descriptors(pcm_, fds.data(), static_cast<unsigned>(fds.size()));
    fds.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return fds;
  }

  std::string ErrorText(int error) override { return snd_strerror(error); }

 private:
  // A sound server's stream answers EIO while it is not ready: after connecting, and for a
  // moment after it ran dry. Only when that lasts is the device gone.
  long Transient(long result) {
    if (result != -EIO) {
      ioErrorSince_.reset();
      return result;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!ioErrorSince_) ioErrorSince_ = now;
    return now - *ioErrorSince_ < kNotReadyLimit ? -EAGAIN : -ENODEV;
  }

  int Configure(const WAVEFORMATEX& format) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    int error = snd_pcm_hw_params_any(pcm_, hw);
    if (error < 0) return error;
    const snd_pcm_format_t sampleFormat =
        format.wBitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    unsigned rate = format.nSamplesPerSec;
    unsigned bufferTime = kBufferMicroseconds;
    unsigned periodTime = kPeriodMicroseconds;
    if ((error = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (error = snd_pcm_hw_params_set_format(pcm_, hw, sampleFormat)) < 0 ||
        (error = snd_pcm_hw_params_set_channels(pcm_, hw, format.nChannels)) < 0 ||
        (error = snd_pcm_hw_params_set_rate_resample(pcm_, hw, 1)) < 0 ||
        (error = snd_pcm_hw_params_set_rate(pcm_, hw, rate, 0)) < 0 ||
        (error = snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &bufferTime, nullptr)) < 0 ||
        (error = snd_pcm_hw_params_set_period_time_near(pcm_, hw, &periodTime, nullptr)) < 0 ||
        (error = snd_pcm_hw_params(pcm_, hw)) < 0) {
      return error;
    }
    canPause_ = snd_pcm_hw_params_can_pause(hw) != 0;
    snd_pcm_uframes_t bufferSize = 0;
    snd_pcm_uframes_t periodSize = 0;
    snd_pcm_hw_params_get_buffer_size(hw, &bufferSize);
    bufferSize_ = bufferSize;
    snd_pcm_hw_params_get_period_size(hw, &periodSize, nullptr);

    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if ((error = snd_pcm_sw_params_current(pcm_, sw)) < 0 ||
        (error = snd_pcm_sw_params_set_start_threshold(pcm_, sw, bufferSize - periodSize)) < 0 ||
        (error = snd_pcm_sw_params_set_avail_min(pcm_, sw, periodSize)) < 0 ||
        (error = snd_pcm_sw_params(pcm_, sw)) < 0) {
      return error;
    }
    return snd_pcm_prepare(pcm_);
  }

  std::string name_;
  snd_pcm_t* pcm_ = nullptr;
  snd_pcm_uframes_t bufferSize_ = 0;
  std::optional<std::chrono::steady_clock::time_point> ioErrorSince_;
  int openError_ = 0;
  bool canPause_ = false;
};

}  // namespace

std::unique_ptr<PcmSink> CreateAlsaSink(const std::string& name) {
  SilenceAlsaLib();
  return std::make_unique<AlsaSink>(name);
}

std::vector<std::string> AlsaPlaybackDevices() {
  std::vector<std::string> names;
  SilenceAlsaLib();
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0) return names;
  for (void** hint = hints; *hint != nullptr; ++hint) {
    char* name = snd_device_name_get_hint(*hint, "NAME");
    char* io = snd_device_name_get_hint(*hint, "IOID");
    if (name != nullptr && (io == nullptr || std::string(io) == "Output")) names.push_back(name);
    free(name);
    free(io);
  }
  snd_device_name_free_hint(hints);
  return names;
}

}  // namespace tunewell
