#pragma once
// Events, re-entrant locks, per-thread message queues and the waits between them, over eventfd
// and poll. Results follow the wave of the system the engine was first written for: a wait
// answers 0 (signalled) or 258 (timed out), and -1 milliseconds waits without limit.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tunewell {

constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_TIMEOUT = 258;
constexpr int32_t INFINITE = -1;

// Message parameters wide enough to carry a pointer.
using WPARAM = uintptr_t;
using LPARAM = intptr_t;

// The first message number free for the program's own use.
constexpr uint32_t WM_USER = 0x400;

// A manual-reset event: signalled until reset, however many waiters see it. The descriptor is
// readable exactly while the event is signalled, so it can join any poll set.
class Event {
 public:
  // Throws std::system_error when the system refuses a descriptor.
  explicit Event(bool signalled = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  bool Signal();
  bool Reset();
  // WAIT_OBJECT_0 or WAIT_TIMEOUT. 0 ms tests without blocking.
  uint32_t Wait(int32_t milliseconds) const;
  bool IsSignalled() const { return Wait(0) == WAIT_OBJECT_0; }
  int Fd() const { return fd_; }
  // Orders everything the signalling thread did up to the end of Signal before what the
  // waiter does next (a wait on the descriptor alone is invisible to the memory model), so a
  // waiter may free the event at once. Waits call it.
  void Acquire() const { std::lock_guard lock(mutex_); }

 private:
  int fd_ = -1;
  mutable std::mutex mutex_;
};

// Waits until any of the descriptors is readable: the index of the first readable one, or
// WAIT_TIMEOUT. Interrupted waits resume with the time that is left.
uint32_t WaitForAnyFd(std::initializer_list<int> fds, int32_t milliseconds);
uint32_t WaitForAnyFd(const std::vector<int>& fds, int32_t milliseconds);

// Waits for any of the events: the index of the first signalled one (earlier ones win), or
// WAIT_TIMEOUT.
uint32_t WaitForAny(std::initializer_list<const Event*> events, int32_t milliseconds);

// The re-entrant lock: the holder may take it again and releases it as often.
using CriticalSection = std::recursive_mutex;

struct Message {
  uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// A queue of messages handled in the order posted. Any thread may post; the owner peeks and
// removes. Each queue has a process-wide id that posters address it by.
class MessageQueue {
 public:
  static std::shared_ptr<MessageQueue> Create();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  uint32_t Id() const { return id_; }
  void Post(const Message& message);
  // Posts unless a message with that number is already waiting; true when posted.
  bool PostOnce(const Message& message);
  // The first waiting message with a number in [low, high], optionally removing it.
  bool Peek(Message& out, bool remove, uint32_t low = 0, uint32_t high = UINT32_MAX);
  bool Contains(uint32_t message);
  // Removes every waiting message with a number in [low, high]; returns how many.
  size_t RemovePending(uint32_t low, uint32_t high);
  bool Empty();
  // Ends the owner's current wait as a message would, without a message.
  void Wake();
  // Readable while messages are waiting.
  int Fd() const { return ready_.Fd(); }

  // Waits for the event or for any message in the queue: WAIT_OBJECT_0 for the event (which
  // wins when both are ready), WAIT_OBJECT_0 + 1 for a message, or WAIT_TIMEOUT.
  uint32_t WaitEventOrMessage(const Event& event, int32_t milliseconds) const;

 private:
  MessageQueue();
  void UpdateReady();

  uint32_t id_ = 0;
  std::mutex mutex_;
  std::deque<Message> messages_;
  Event ready_;
};

// Posts to the queue with that id; false when no such queue exists (any more).
bool PostThreadMessage(uint32_t threadId, const Message& message);

// The queue of the calling thread, created on first use, as the thread's own messages go to it.
// A thread that was started by TThread already has one.
MessageQueue& CurrentThreadQueue();
uint32_t CurrentThreadId();

// A thread with a message queue from its first instruction and an event that is signalled
// once its body has returned, so others may wait for "my event or that thread's end".
class TThread {
 public:
  // The body starts only when Start is called.
  explicit TThread(std::function<void()> body);
  ~TThread();  // joins
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  // Best effort: a priority the system refuses is ignored. Higher is more urgent (-15 … 15).
  void SetPriority(int priority);
  void Join();
  uint32_t Id() const { return queue_->Id(); }
  const Event& Ended() const { return ended_; }
  // Ends the thread's current wait for its queue.
  void Wake() { queue_->Wake(); }

 private:
  std::function<void()> body_;
  std::shared_ptr<MessageQueue> queue_;
  Event ended_;
  std::thread thread_;
  std::mutex startMutex_;
  int pendingPriority_ = 0;
  bool priorityPending_ = false;
  int tid_ = 0;
};

}  // namespace tunewell
