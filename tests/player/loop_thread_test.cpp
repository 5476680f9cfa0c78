#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/Application.h"
#include "player/MP3Plyr.h"

namespace tunewell {
namespace {

TEST(TMPSimpleMutex, HolderLocksTwiceAndMustUnlockTwice) {
  TMPSimpleMutex mutex;
  mutex.Lock();
  mutex.Lock();
  std::atomic<bool> taken{false};
  std::thread other([&] {
    std::lock_guard hold(mutex);
    taken = true;
  });
  mutex.Unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(taken.load());
  mutex.Unlock();
  other.join();
  EXPECT_TRUE(taken.load());
}

TEST(TMPSimpleEvent, WaitZeroTestsAndTheEventStaysSignalled) {
  TMPSimpleEvent event;
  EXPECT_EQ(event.Wait(0), 258u);
  event.Signal();
  EXPECT_EQ(event.Wait(0), 0u);
  EXPECT_EQ(event.Wait(INFINITE), 0u);
  event.Reset();
  EXPECT_EQ(event.Wait(0), 258u);
}

// Records what the loop dispatches, on which thread.
class Recorder : public TMPMessageOwner {
 public:
  void Dispatch(const Message& m) override {
    std::lock_guard lock(mutex);
    threads.push_back(std::this_thread::get_id());
    messages.push_back(m.message);
    if (onMessage) onMessage(m);
  }
  std::vector<uint32_t> Messages() {
    std::lock_guard lock(mutex);
    return messages;
  }
  size_t Count(uint32_t message) {
    std::lock_guard lock(mutex);
    return static_cast<size_t>(std::count(messages.begin(), messages.end(), message));
  }

  std::mutex mutex;
  std::vector<uint32_t> messages;
  std::vector<std::thread::id> threads;
  std::function<void(const Message&)> onMessage;
};

TEST(TMPLoopThread, SyncReturnsAfterEverythingPostedBefore) {
  Recorder owner;
  owner.onMessage = [](const Message& m) {
    if (m.message == WM_USER) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  };
  TMPLoopThread thread(&owner);
  thread.Resume();
  for (uint32_t m = WM_USER; m < WM_USER + 5; ++m) thread.Post(m, 0, 0);
  thread.Sync();
  EXPECT_EQ(owner.Messages(),
            (std::vector<uint32_t>{WM_USER, WM_USER + 1, WM_USER + 2, WM_USER + 3, WM_USER + 4}));
  std::lock_guard lock(owner.mutex);
  for (auto id : owner.threads) EXPECT_NE(id, std::this_thread::get_id());
}

TEST(TMPLoopThread, SyncAndStopReturnOnceTheThreadHasEnded) {
  Recorder owner;
  TMPLoopThread thread(&owner);
  thread.Resume();
  thread.PostQuit();
  thread.Sync();  // would wait forever for a thread that no longer reads its queue
  thread.StopAndWait();
  thread.Post(WM_USER, 0, 0);
  EXPECT_TRUE(owner.Messages().empty());
}

TEST(TMPLoopThread, WakeEventDispatchesWatchEventUntilReset) {
  Recorder owner;
  TMPLoopThread thread(&owner);
  TMPSimpleEvent fifth;
  owner.onMessage = [&](const Message& m) {
    if (m.message == MPM_WATCHEVENT && owner.messages.size() == 5) {
      thread.WakeEvent.Reset();
      fifth.Signal();
    }
  };
  thread.Resume();
  thread.WakeEvent.Signal();
  ASSERT_EQ(fifth.Wait(5000), 0u);
  thread.Sync();
  EXPECT_EQ(owner.Count(MPM_WATCHEVENT), 5u);
  EXPECT_EQ(owner.Count(MPM_TIMEOUT), 0u) << "Timeout starts at -1";
}

TEST(TMPLoopThread, TimeoutDispatchesTimeoutWhileSet) {
  Recorder owner;
  TMPLoopThread thread(&owner);
  TMPSimpleEvent ticked;
  owner.onMessage = [&](const Message& m) {
    if (m.message == MPM_TIMEOUT && owner.messages.size() == 3) ticked.Signal();
  };
  thread.Resume();
  thread.SetTimeout(5);
  ASSERT_EQ(ticked.Wait(5000), 0u);
  thread.SetTimeout(INFINITE);
  thread.Post(WM_USER, 0, 0);  // wakes the loop so the new timeout takes effect
  thread.Sync();
  const size_t after = owner.Count(MPM_TIMEOUT);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(owner.Count(MPM_TIMEOUT), after);
}

TEST(TMPLoopThread, ExceptionReachesOnExceptionAndTheLoopGoesOn) {
  Recorder owner;
  owner.onMessage = [](const Message& m) {
    if (m.message == WM_USER) throw std::runtime_error("decode failed");
  };
  TMPLoopThread thread(&owner);
  std::string seen;
  std::thread::id where;
  thread.OnException = [&](TMPLoopThread& sender, const std::exception& e, bool& handled) {
    EXPECT_EQ(&sender, &thread);
    EXPECT_FALSE(handled);
    seen = e.what();
    where = std::this_thread::get_id();
    handled = true;
  };
  thread.Resume();
  thread.Post(WM_USER, 0, 0);
  thread.Post(WM_USER + 1, 0, 0);
  thread.Sync();
  EXPECT_EQ(seen, "decode failed");
  EXPECT_NE(where, std::this_thread::get_id());
  EXPECT_EQ(owner.Messages(), (std::vector<uint32_t>{WM_USER, WM_USER + 1}));
}

TEST(TMPLoopThread, UnhandledExceptionIsShownByTheApplication) {
  std::vector<std::string> shown;
  std::mutex shownMutex;
  SetApplicationShowException([&](const std::exception& e) {
    std::lock_guard lock(shownMutex);
    shown.push_back(e.what());
  });
  Recorder owner;
  owner.onMessage = [](const Message&) { throw std::runtime_error("nobody handled me"); };
  TMPLoopThread thread(&owner);
  thread.Resume();
  thread.Post(WM_USER, 0, 0);
  thread.Sync();
  SetApplicationShowException(nullptr);
  std::lock_guard lock(shownMutex);
  EXPECT_EQ(shown, (std::vector<std::string>{"nobody handled me"}));
}

}  // namespace
}  // namespace tunewell
