// The decode thread's step, the hand-off of worker exceptions, and the notification window's
// handlers on the main thread.

#include <cstring>
#include <mutex>
#include <thread>

#include "platform/Application.h"
#include "player/MP3Plyr.h"
#include "player/player_shared.h"
#include "stream/MPAssert.h"

namespace tunewell {

namespace {

constexpr int32_t kResyncLimit = 4096;
constexpr const char* kWatchEventCheck = "TMP3Player.MPMWatchEvent";

}  // namespace

// Notification window.

void TMP3Player::Post(uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (window_) window_->Post(message, wParam, lParam);
}

void TMP3Player::PostOnce(uint32_t message) {
  if (window_) window_->PostOnce(message);
}

void TMP3Player::RemovePending(uint32_t low, uint32_t high) {
  MPAssert(high >= low);
  if (window_) window_->RemovePending(low, high);
}

int TMP3Player::NotifyFd() const {
  return window_->Fd();
}

void TMP3Player::ProcessNotifications() {
  // The window outlives this call even when a handler destroys the component.
  TNotifyWindow* window = window_.get();
  window->Pump();
}

void TMP3Player::WindowProc(const Message& message) {
  const std::shared_ptr<TShared> shared = shared_;
  try {
    switch (message.message) {
      case MPM_CHANGEPOSITION:
        HandleChangePosition();
        break;
      case MPM_THREADERROR:
        HandleThreadError(message);
        break;
      case MPM_ENDOFSTREAM:
        HandleEndOfStream(message);
        break;
      case MPM_CHANGESTATUS:
        RemovePending(MPM_CHANGESTATUS, MPM_CHANGESTATUS);
        DoChangeStatus();
        break;
      case MPM_ENDPLAY:
        RemovePending(MPM_ENDPLAY, MPM_ENDPLAY);
        DoEndPlay();
        break;
      case MPM_EQUALIZER:
        ApplyEqualizer();
        break;
      case WM_DESTROY:
      case WM_ENDSESSION:
        Close();
        break;
      default:
        break;
    }
  } catch (...) {
    // An exception escaping an event handler is shown, and the program goes on.
    const std::exception_ptr error = std::current_exception();
    if (shared->Alive) {
      ShowError(error);
    } else {
      ShowError(error, {});
    }
  }
}

void TMP3Player::ShowError(std::exception_ptr error) {
  ShowError(error, errorDisplay_);
}

void TMP3Player::ShowError(std::exception_ptr error, const TErrorDisplay& display) {
  if (display) {
    display(error);
    return;
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    ApplicationShowException(e);
  } catch (...) {
    ApplicationShowException(std::runtime_error("unknown exception"));
  }
}

void TMP3Player::HandleChangePosition() {
  const std::shared_ptr<TShared> shared = shared_;
  // Ticks that piled up while this thread was busy come out as one.
  RemovePending(MPM_CHANGEPOSITION, MPM_CHANGEPOSITION);
  if (processMessages_) {
    processMessages_();
  } else {
    ProcessMessages();
  }
  if (!shared->Alive) return;
  RemovePending(MPM_CHANGEPOSITION, MPM_CHANGEPOSITION);
  DoChangePosition();
}

void TMP3Player::HandleThreadError(const Message&) {
  const std::shared_ptr<TShared> shared = shared_;
  std::shared_ptr<TThreadError> error;
  {
    std::lock_guard lock(shared->Mutex);
    if (shared->Errors.empty()) return;
    error = shared->Errors.front();
    shared->Errors.pop_front();
  }
  // The worker is answered whatever happens below.
  struct TAnswer {
    TThreadError& Error;
    ~TAnswer() { Error.Answered.Signal(); }
  } answer{*error};
  // One failure often raises more (every buffer still queued for a full disk): a playback
  // shows its first.
  if (error->Playback != lastErrorPlayback_) {
    lastErrorPlayback_ = error->Playback;
    try {
      ShowError(error->Error);
    } catch (...) {
      // Showing failed; the playback still ends.
    }
  }
  if (!shared->Alive || destroying_) return;
  // An error of a playback that has ended already does not stop the next one.
  if (error->Playback == playback_.load() && status_ != mpsStop) {
    endReason_ = mepError;
    Stop();
  }
}

void TMP3Player::HandleEndOfStream(const Message& message) {
  if (message.wParam != playback_.load() || status_ == mpsStop) return;
  endReason_ = mepEndOfStream;
  if (seekable_) {
    Stop();
  } else {
    Close();
  }
}

void TMP3Player::DoChangeStatus() {
  if (!destroying_ && OnChangeStatus) OnChangeStatus(*this);
}

void TMP3Player::DoChangePosition() {
  if (!destroying_ && OnChangePosition) OnChangePosition(*this);
}

void TMP3Player::DoEndPlay() {
  if (destroying_) return;
  const TMP3EndPlayReason reason = endReason_;
  endReason_ = mepStop;
  if (OnEndPlay) OnEndPlay(*this, reason);
}

// Worker threads.

void TMP3Player::ForwardThreadException(bool fromSound, bool& handled) {
  auto error = std::make_shared<TThreadError>();
  error->Error = std::current_exception();
  if (fromSound) {
    try {
      std::rethrow_exception(error->Error);
    } catch (const ESoundOutError&) {
      // Already says what failed.
    } catch (const std::exception& e) {
      error->Error = std::make_exception_ptr(ESoundOutError(e.what()));
    } catch (...) {
    }
  }
  error->Playback = playback_.load();
  {
    std::lock_guard lock(shared_->Mutex);
    shared_->Errors.push_back(error);
  }
  Post(MPM_THREADERROR, 0, 0);
  WaitForAny({&error->Answered.Handle(), &shared_->MainBusy.Handle()}, INFINITE);
  handled = true;
}

void TMP3Player::Dispatch(const Message& message) {
  if (message.message == MPM_WATCHEVENT) MPMWatchEvent();
}

void TMP3Player::MPMWatchEvent() {
  uint64_t playback = 0;
  int32_t free = 0;
  {
    std::unique_lock decoder(decoderLock_);
    if (decodeThread_->WakeEvent.Wait(0) != WAIT_OBJECT_0) return;
    playback = playback_.load();
    if (pcmPending_ == 0) {
      if (reader_.Position() - audioStart_ >= audioSize_) {
        decoder.unlock();
        Drain(playback);
        return;
      }
      if (!NextFrame()) return;
    }
    MPAssert(pcmPending_ > 0);
    free = Feed();
    // Checked while the lock still keeps the main thread from closing the file.
    MPAssert(reader_.Stream() != nullptr, kWatchEventCheck);
  }
  ReadAhead(playback, free);
  if (free <= 25) std::this_thread::yield();
}

// Hands the decoded PCM to the sound output; a failure there is the device's.
int32_t TMP3Player::Feed() {
  std::lock_guard out(outputLock_);
  try {
    if (soundOut_->CanWrite()) {
      const int32_t n = soundOut_->Write(pcmBuffer_.get(), pcmPending_);
      pcmPending_ -= n;
      std::memmove(pcmBuffer_.get(), pcmBuffer_.get() + n, static_cast<size_t>(pcmPending_));
    } else {
      decodeThread_->WakeEvent.Reset();
      soundOut_->SetWaitEvent(&decodeThread_->WakeEvent);
    }
    return soundOut_->FreePercent();
  } catch (const EAssertionFailed&) {
    throw;
  } catch (const std::runtime_error& e) {
    throw ESoundOutError(e.what());
  }
}

// Decodes the next frame into PcmBuffer; false when this step found none.
bool TMP3Player::NextFrame() {
  if (pendingFrameLength_ <= 0) {
    if (!reader_.Ensure(4)) {
      EndAudioHere();
      return false;
    }
    pendingFrameLength_ = ParseFrameHeader(reader_.Current(), pendingHeader_);
    if (pendingFrameLength_ <= 0) {
      Resync();
      return false;
    }
  }
  if (needDecoderOpen_ && OpenDecoder(pendingHeader_, pendingFrameLength_) <= 0) {
    Resync();
    return false;
  }
  if (!reader_.Ensure(pendingFrameLength_)) {
    // The last frame is cut short.
    EndAudioHere();
    return false;
  }
  const TDecodeResult result = DecoderDecodeFrame(
      reader_.Current(), static_cast<uint32_t>(pendingFrameLength_), pcmBuffer_.get());
  reader_.Skip(pendingFrameLength_);
  pendingFrameLength_ = 0;
  resyncCount_ = 0;
  pcmPending_ = bytesPerFrame_;
  // An undecodable frame plays as a frame of silence.
  if (result.Consumed < 1) std::memset(pcmBuffer_.get(), 0, static_cast<size_t>(bytesPerFrame_));
  return true;
}

void TMP3Player::Resync() {
  if (resyncCount_ >= kResyncLimit) {
    EndAudioHere();
  } else {
    reader_.Skip(1);
    ++resyncCount_;
  }
  pendingFrameLength_ = 0;
}

void TMP3Player::EndAudioHere() {
  audioSize_ = reader_.Position() - audioStart_;
  pendingFrameLength_ = 0;
}

// Plays out what is queued, without DecoderLock, so that Stop and Close (which reset the device
// and so end the wait) are never held up by the drain, also while the device is paused.
void TMP3Player::Drain(uint64_t playback) {
  {
    std::lock_guard out(outputLock_);
    if (playback_.load() != playback) return;
    soundOut_->SetWaitEvent(nullptr);
    try {
      soundOut_->Flush();
    } catch (const EAssertionFailed&) {
      throw;
    } catch (const std::runtime_error& e) {
      throw ESoundOutError(e.what());
    }
  }
  soundOut_->WaitDone();
  std::lock_guard decoder(decoderLock_);
  // Stopped meanwhile, perhaps with another file playing now: that playback is not ours.
  if (playback_.load() != playback || decodeThread_->WakeEvent.Wait(0) != WAIT_OBJECT_0) return;
  decodeThread_->WakeEvent.Reset();
  Post(MPM_ENDOFSTREAM, static_cast<WPARAM>(playback), 0);
}

void TMP3Player::ReadAhead(uint64_t playback, int32_t free) {
  while (free == 0) {
    {
      std::lock_guard decoder(decoderLock_);
      if (playback_.load() != playback || decodeThread_->WakeEvent.Wait(0) != WAIT_OBJECT_0) {
        return;
      }
      MPAssert(reader_.Stream() != nullptr, kWatchEventCheck);
      if (!reader_.ReadAhead()) return;
    }
    std::lock_guard out(outputLock_);
    free = soundOut_->FreePercent();
  }
}

}  // namespace tunewell
