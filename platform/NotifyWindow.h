#pragma once
// The hidden notification window: a message queue owned by the thread that created it, whose
// handler runs on that thread when the host loop pumps it. Two hosts pump windows: the plain
// TMessageLoop below (terminal front end, tests) and a GUI event loop, which watches Fd().

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

#include "platform/Threads.h"

namespace tunewell {

constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_ENDSESSION = 0x0016;

class TNotifyWindow {
 public:
  using Handler = std::function<void(const Message&)>;

  explicit TNotifyWindow(Handler handler);
  ~TNotifyWindow();
  TNotifyWindow(const TNotifyWindow&) = delete;
  TNotifyWindow& operator=(const TNotifyWindow&) = delete;

  // Any thread.
  void Post(uint32_t message, WPARAM wParam = 0, LPARAM lParam = 0);
  // Posts (message, 0, 0) unless a message with that number is already waiting.
  bool PostOnce(uint32_t message);
  size_t RemovePending(uint32_t low, uint32_t high);
  bool IsPending(uint32_t message);

  // Owner thread: hands every waiting message to the handler, in the order posted, until the
  // queue is empty. Returns how many were handled.
  size_t Pump();
  // Calls the handler at once, as a sent (not posted) message.
  void Send(uint32_t message, WPARAM wParam = 0, LPARAM lParam = 0) {
    handler_({message, wParam, lParam});
  }
  // Readable while messages wait.
  int Fd() const { return queue_->Fd(); }

 private:
  std::shared_ptr<MessageQueue> queue_;
  Handler handler_;
};

// Pumps every notification window of the calling thread until none has a waiting message
// (the application's "process pending messages"). Returns how many were handled.
size_t ProcessMessages();

// Routes the given signals into the message loop through a self-pipe: the signal handler only
// writes the signal number, and the loop delivers it on its own thread. Call once, early.
void WatchSignals(std::initializer_list<int> signals);

// The plain message loop: sleeps until a window of this thread has messages, a watched signal
// arrives or Quit is called, and pumps.
class TMessageLoop {
 public:
  TMessageLoop() = default;
  TMessageLoop(const TMessageLoop&) = delete;
  TMessageLoop& operator=(const TMessageLoop&) = delete;

  void OnSignal(std::function<void(int)> handler) { onSignal_ = std::move(handler); }
  // Returns the code given to Quit.
  int Run();
  // Any thread; the loop returns after its current pass.
  void Quit(int code);

 private:
  std::function<void(int)> onSignal_;
  Event quit_;
  std::atomic<int> code_{0};
};

}  // namespace tunewell
