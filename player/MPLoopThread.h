#pragma once
// The engine's events and its worker thread, which sleeps until its wake event is signalled, a
// message arrives or its timeout expires, and dispatches messages to its owner.

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include "platform/Threads.h"

namespace tunewell {

// Numbers of the loop's own messages.
constexpr uint32_t MPM_QUIT = 0x41E;
constexpr uint32_t MPM_WATCHEVENT = 0x41F;
constexpr uint32_t MPM_SYNC = 0x420;
constexpr uint32_t MPM_TIMEOUT = 0x421;

// A manual-reset event, not signalled when created. Creation failure throws the system's
// error (std::system_error).
class TMPEvent {
 public:
  TMPEvent() = default;
  virtual ~TMPEvent() = default;
  TMPEvent(const TMPEvent&) = delete;
  TMPEvent& operator=(const TMPEvent&) = delete;

  bool Signal() { return handle_.Signal(); }
  bool Reset() { return handle_.Reset(); }
  // WAIT_OBJECT_0 when signalled, WAIT_TIMEOUT otherwise; INFINITE waits without limit.
  uint32_t Wait(int32_t milliseconds) const { return handle_.Wait(milliseconds); }
  const Event& Handle() const { return handle_; }

 private:
  Event handle_;
};

class TMPSimpleEvent : public TMPEvent {};

// Receives the messages a loop thread dispatches: its message-handler table.
class TMPMessageOwner {
 public:
  virtual void Dispatch(const Message& message) = 0;

 protected:
  ~TMPMessageOwner() = default;
};

class TMPLoopThread {
 public:
  using ExceptionHandler =
      std::function<void(TMPLoopThread& sender, const std::exception& e, bool& handled)>;

  // The thread is created suspended: set OnException, then Resume.
  explicit TMPLoopThread(TMPMessageOwner* owner);
  ~TMPLoopThread();
  TMPLoopThread(const TMPLoopThread&) = delete;
  TMPLoopThread& operator=(const TMPLoopThread&) = delete;

  void Resume();
  void SetPriority(int priority);
  void Post(uint32_t message, WPARAM wParam, LPARAM lParam);
  void PostQuit() { Post(MPM_QUIT, 0, 0); }
  // Returns once everything posted before has been handled, or the thread has ended.
  void Sync();
  void StopAndWait();

  uint32_t ThreadId() const { return threadId_; }
  // The end of the thread; null when it could not be created.
  const Event* Handle() const { return handle_ ? &handle_->Ended() : nullptr; }
  // Both the loop and other threads set it; a change takes effect at once.
  int32_t Timeout() const { return timeout_.load(); }
  void SetTimeout(int32_t milliseconds);

  TMPSimpleEvent WakeEvent;
  // Set before Resume: the thread reads it without a lock.
  ExceptionHandler OnException;

 private:
  void Execute();
  void DispatchOnce(MessageQueue& queue, bool& quit);

  TMPMessageOwner* owner_;
  std::unique_ptr<TThread> handle_;
  uint32_t threadId_ = 0;
  std::atomic<int32_t> timeout_{INFINITE};
};

}  // namespace tunewell
