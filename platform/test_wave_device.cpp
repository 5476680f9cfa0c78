// A wave-out sink whose clock the test drives: written frames wait until Advance plays them.

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/Threads.h"
#include "platform/WaveOut.h"
#include "platform/wave_out_internal.h"

namespace tunewell {

struct TTestWaveDevice::State {
  std::string name;
  long capacity = 0;
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  Event room;
  size_t blockAlign = 1;
  std::vector<uint8_t> pending;
  std::vector<uint8_t> played;
  bool open = false;
  bool paused = false;
  bool canPause = true;
  bool underrun = false;
  bool lost = false;

  long PendingFrames() const { return static_cast<long>(pending.size() / blockAlign); }
};

namespace {

std::mutex registryMutex;
std::map<std::string, std::weak_ptr<TTestWaveDevice::State>> registry;

class TestSink : public PcmSink {
 public:
  explicit TestSink(std::shared_ptr<TTestWaveDevice::State> state) : state_(std::move(state)) {}
  ~TestSink() override {
    std::lock_guard lock(state_->mutex);
    state_->open = false;
    state_->pending.clear();
    state_->changed.notify_all();
  }

  MMRESULT Open(const WAVEFORMATEX& format) override {
    std::lock_guard lock(state_->mutex);
    if (state_->lost) return MMSYSERR_NODRIVER;
    if (state_->open) return MMSYSERR_ALLOCATED;
    state_->open = true;
    state_->paused = false;
    state_->blockAlign = format.nBlockAlign;
    return MMSYSERR_NOERROR;
  }

  long Avail() override {
    std::lock_guard lock(state_->mutex);
    if (const long error = Error(); error < 0) return error;
    state_->room.Reset();
    return state_->capacity - state_->PendingFrames();
  }

  long Write(const void* frames, long count) override {
    std::lock_guard lock(state_->mutex);
    if (const long error = Error(); error < 0) return error;
    const long n = std::min(count, state_->capacity - state_->PendingFrames());
    const auto* bytes = static_cast<const uint8_t*>(frames);
    state_->pending.insert(state_->pending.end(), bytes, bytes + n * state_->blockAlign);
    state_->changed.notify_all();
    return n;
  }

  long Delay() override {
    std::lock_guard lock(state_->mutex);
    if (const long error = Error(); error < 0) return error;
    return state_->PendingFrames();
  }

  int Recover(int /*error*/) override {
    std::lock_guard lock(state_->mutex);
    return state_->lost ? -ENODEV : 0;
  }

  bool CanPause() override {
    std::lock_guard lock(state_->mutex);
    return state_->canPause;
  }

  int Pause(bool on) override {
    std::lock_guard lock(state_->mutex);
    if (state_->lost) return -ENODEV;
    state_->paused = on;
    state_->changed.notify_all();
    return 0;
  }

  int Drop() override {
    std::lock_guard lock(state_->mutex);
    state_->pending.clear();
    state_->paused = false;
    state_->changed.notify_all();
    return state_->lost ? -ENODEV : 0;
  }

  std::vector<pollfd> PollFds() override { return {{state_->room.Fd(), POLLIN, 0}}; }

  std::string ErrorText(int error) override { return std::strerror(-error); }

 private:
  // Under the state's lock. An underrun plays what was written, as a real device's would.
  long Error() {
    if (state_->lost) return -ENODEV;
    if (state_->underrun) {
      state_->underrun = false;
      state_->played.insert(state_->played.end(), state_->pending.begin(), state_->pending.end());
      state_->pending.clear();
      state_->changed.notify_all();
      return -EPIPE;
    }
    return 0;
  }

  std::shared_ptr<TTestWaveDevice::State> state_;
};

}  // namespace

std::unique_ptr<PcmSink> CreateTestSink(const std::string& name) {
  std::lock_guard lock(registryMutex);
  const auto it = registry.find(name);
  if (it == registry.end()) return nullptr;
  std::shared_ptr<TTestWaveDevice::State> state = it->second.lock();
  if (!state) return nullptr;
  return std::make_unique<TestSink>(std::move(state));
}

TTestWaveDevice::TTestWaveDevice(std::string name, long capacityFrames)
    : state_(std::make_shared<State>()) {
  state_->name = std::move(name);
  state_->capacity = capacityFrames;
  std::lock_guard lock(registryMutex);
  registry[state_->name] = state_;
}

TTestWaveDevice::~TTestWaveDevice() {
  std::lock_guard lock(registryMutex);
  registry.erase(state_->name);
}

const std::string& TTestWaveDevice::Name() const {
  return state_->name;
}

void TTestWaveDevice::Advance(long frames) {
  std::lock_guard lock(state_->mutex);
  if (state_->paused || state_->lost) return;
  const size_t bytes =
      std::min(state_->pending.size(), static_cast<size_t>(frames) * state_->blockAlign);
  state_->played.insert(state_->played.end(), state_->pending.begin(),
                        state_->pending.begin() + static_cast<std::ptrdiff_t>(bytes));
  state_->pending.erase(state_->pending.begin(),
                        state_->pending.begin() + static_cast<std::ptrdiff_t>(bytes));
  state_->room.Signal();
  state_->changed.notify_all();
}

void TTestWaveDevice::Underrun() {
  std::lock_guard lock(state_->mutex);
  state_->underrun = true;
  state_->room.Signal();
}

void TTestWaveDevice::Lose() {
  std::lock_guard lock(state_->mutex);
  state_->lost = true;
  state_->room.Signal();
}

void TTestWaveDevice::SetCanPause(bool canPause) {
  std::lock_guard lock(state_->mutex);
  state_->canPause = canPause;
}

std::vector<uint8_t> TTestWaveDevice::Played() const {
  std::lock_guard lock(state_->mutex);
  return state_->played;
}

long TTestWaveDevice::Pending() const {
  std::lock_guard lock(state_->mutex);
  return state_->PendingFrames();
}

bool TTestWaveDevice::IsOpen() const {
  std::lock_guard lock(state_->mutex);
  return state_->open;
}

bool TTestWaveDevice::IsPaused() const {
  std::lock_guard lock(state_->mutex);
  return state_->paused;
}

bool TTestWaveDevice::WaitPending(long frames, int milliseconds) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [&] { return state_->PendingFrames() >= frames; });
}

}  // namespace tunewell
