#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/Threads.h"

namespace tunewell {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

using Clock = std::chrono::steady_clock;

}  // namespace

Event::Event(bool signalled) {
  fd_ = eventfd(signalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd_ < 0) ThrowErrno("eventfd");
}

Event::~Event() {
  close(fd_);
}

// The counter is never read down by waiters, so the descriptor stays readable until Reset.
bool Event::Signal() {
  std::lock_guard lock(mutex_);
  const uint64_t one = 1;
  return write(fd_, &one, sizeof one) == sizeof one;
}

bool Event::Reset() {
  std::lock_guard lock(mutex_);
  uint64_t value = 0;
  return read(fd_, &value, sizeof value) == sizeof value || errno == EAGAIN;
}

uint32_t Event::Wait(int32_t milliseconds) const {
  const uint32_t result = WaitForAnyFd({fd_}, milliseconds);
  if (result == WAIT_OBJECT_0) Acquire();
  return result;
}

uint32_t WaitForAnyFd(std::initializer_list<int> fds, int32_t milliseconds) {
  return WaitForAnyFd(std::vector<int>(fds), milliseconds);
}

uint32_t WaitForAnyFd(const std::vector<int>& fds, int32_t milliseconds) {
  std::vector<pollfd> set;
  for (int fd : fds) set.push_back({fd, POLLIN, 0});
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
  for (;;) {
    int timeout = -1;
    if (milliseconds >= 0) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeout = static_cast<int>(std::max<int64_t>(left, 0));
    }
    const int n = poll(set.data(), set.size(), timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("poll");
    }
    for (size_t i = 0; i < set.size(); ++i) {
      if (set[i].revents & (POLLIN | POLLERR | POLLHUP)) return static_cast<uint32_t>(i);
    }
    if (n == 0 && timeout >= 0) return WAIT_TIMEOUT;
  }
}

uint32_t WaitForAny(std::initializer_list<const Event*> events, int32_t milliseconds) {
  std::vector<int> fds;
  for (const Event* e : events) fds.push_back(e->Fd());
  const uint32_t result = WaitForAnyFd(fds, milliseconds);
  if (result < fds.size()) std::data(events)[result]->Acquire();
  return result;
}

// Queues by id. Posters hold only a weak reference, so a queue that goes away turns later
// posts into failures instead of dangling writes.
namespace {

struct QueueRegistry {
  std::mutex mutex;
  uint32_t nextId = 1;
  std::unordered_map<uint32_t, std::weak_ptr<MessageQueue>> queues;
};

QueueRegistry& Registry() {
  static QueueRegistry* registry = new QueueRegistry;  // outlives every thread's queue
  return *registry;
}

}  // namespace

MessageQueue::MessageQueue() = default;

std::shared_ptr<MessageQueue> MessageQueue::Create() {
  std::shared_ptr<MessageQueue> queue(new MessageQueue);
  QueueRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  queue->id_ = registry.nextId++;
  registry.queues.emplace(queue->id_, queue);
  return queue;
}

MessageQueue::~MessageQueue() {
  QueueRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.queues.erase(id_);
}

void MessageQueue::UpdateReady() {
  if (messages_.empty()) {
    ready_.Reset();
  } else {
    ready_.Signal();
  }
}

void MessageQueue::Post(const Message& message) {
  std::lock_guard lock(mutex_);
  messages_.push_back(message);
  UpdateReady();
}

bool MessageQueue::PostOnce(const Message& message) {
  std::lock_guard lock(mutex_);
  for (const Message& m : messages_) {
    if (m.message == message.message) return false;
  }
  messages_.push_back(message);
  UpdateReady();
  return true;
}

bool MessageQueue::Peek(Message& out, bool remove, uint32_t low, uint32_t high) {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(messages_.begin(), messages_.end(), [&](const Message& m) {
    return m.message >= low && m.message <= high;
  });
  if (it == messages_.end()) {
    if (remove) UpdateReady();  // clears a Wake
    return false;
  }
  out = *it;
  if (remove) {
    messages_.erase(it);
    UpdateReady();
  }
  return true;
}

bool MessageQueue::Contains(uint32_t message) {
  Message unused;
  return Peek(unused, false, message, message);
}

size_t MessageQueue::RemovePending(uint32_t low, uint32_t high) {
  std::lock_guard lock(mutex_);
  const size_t before = messages_.size();
  std::erase_if(messages_, [&](const Message& m) { return m.message >= low && m.message <= high; });
  UpdateReady();
  return before - messages_.size();
}

void MessageQueue::Wake() {
  std::lock_guard lock(mutex_);
  ready_.Signal();
}

bool MessageQueue::Empty() {
  std::lock_guard lock(mutex_);
  return messages_.empty();
}

uint32_t MessageQueue::WaitEventOrMessage(const Event& event, int32_t milliseconds) const {
  const uint32_t result = WaitForAnyFd({event.Fd(), ready_.Fd()}, milliseconds);
  if (result == WAIT_OBJECT_0) event.Acquire();
  return result;
}

bool PostThreadMessage(uint32_t threadId, const Message& message) {
  std::shared_ptr<MessageQueue> queue;
  {
    QueueRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    const auto it = registry.queues.find(threadId);
    if (it != registry.queues.end()) queue = it->second.lock();
  }
  if (!queue) return false;
  queue->Post(message);
  return true;
}

namespace {

thread_local std::shared_ptr<MessageQueue> threadQueue;

}  // namespace

MessageQueue& CurrentThreadQueue() {
  if (!threadQueue) threadQueue = MessageQueue::Create();
  return *threadQueue;
}

uint32_t CurrentThreadId() {
  return CurrentThreadQueue().Id();
}

TThread::TThread(std::function<void()> body)
    : body_(std::move(body)), queue_(MessageQueue::Create()) {}

TThread::~TThread() {
  Join();
}

void TThread::Start() {
  thread_ = std::thread([this] {
    threadQueue = queue_;
    int priority = 0;
    bool applyPriority = false;
    {
      std::lock_guard lock(startMutex_);
      tid_ = gettid();
      applyPriority = priorityPending_;
      priority = pendingPriority_;
    }
    if (applyPriority) SetPriority(priority);
    body_();
    threadQueue.reset();
    ended_.Signal();
  });
}

namespace {

// Higher priority is a lower nice value.
int NiceFor(int priority) {
  if (priority <= -15) return 19;
  if (priority >= 15) return -20;
  return std::clamp(-5 * priority, -19, 18);
}

}  // namespace

void TThread::SetPriority(int priority) {
  std::lock_guard lock(startMutex_);
  if (tid_ == 0) {
    pendingPriority_ = priority;
    priorityPending_ = true;
    return;
  }
  priorityPending_ = false;
  setpriority(PRIO_PROCESS, static_cast<id_t>(tid_), NiceFor(priority));  // refusals are fine
}

void TThread::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace tunewell
