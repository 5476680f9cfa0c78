#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <vector>

#include "platform/NotifyWindow.h"

namespace tunewell {
namespace {

TEST(NotifyWindow, PumpsInOrderOnItsOwnThread) {
  std::vector<uint32_t> handled;
  const auto owner = std::this_thread::get_id();
  TNotifyWindow window([&](const Message& m) {
    EXPECT_EQ(std::this_thread::get_id(), owner);
    handled.push_back(m.message);
  });
  std::thread worker([&] {
    for (uint32_t m = 1; m <= 3; ++m) window.Post(WM_USER + m);
  });
  worker.join();
  EXPECT_TRUE(window.PostOnce(WM_USER + 9));
  EXPECT_FALSE(window.PostOnce(WM_USER + 2)) << "PostOnce looks into the queue";
  EXPECT_EQ(ProcessMessages(), 4u);
  EXPECT_EQ(handled, (std::vector<uint32_t>{WM_USER + 1, WM_USER + 2, WM_USER + 3, WM_USER + 9}));
  EXPECT_TRUE(window.PostOnce(WM_USER + 2)) << "nothing waits any more";
  EXPECT_EQ(window.RemovePending(WM_USER, WM_USER + 5), 1u);
  EXPECT_EQ(ProcessMessages(), 0u);
}

TEST(NotifyWindow, HandlerMayPumpAndDestroyOtherWindows) {
  std::vector<int> order;
  std::unique_ptr<TNotifyWindow> second;
  TNotifyWindow first([&](const Message& m) {
    order.push_back(1);
    if (m.message == WM_USER) ProcessMessages();  // "process pending messages" in a handler
    if (m.message == WM_USER + 1) second.reset();
  });
  second = std::make_unique<TNotifyWindow>([&](const Message&) { order.push_back(2); });
  first.Post(WM_USER);
  first.Post(WM_USER + 1);
  first.Post(WM_USER + 2);
  second->Post(WM_USER);
  ProcessMessages();
  // The nested pump handled the rest of the first window; the second was gone before its turn.
  EXPECT_EQ(order, (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(second, nullptr);
}

TEST(MessageLoop, RunsUntilQuitFromAnotherThread) {
  TMessageLoop loop;
  int handled = 0;
  std::thread quitter;
  TNotifyWindow window([&](const Message& m) {
    ++handled;
    if (m.message == WM_USER + 1) quitter = std::thread([&loop] { loop.Quit(3); });
  });
  window.Post(WM_USER);
  window.Post(WM_USER + 1);
  EXPECT_EQ(loop.Run(), 3);
  quitter.join();
  EXPECT_EQ(handled, 2);
}

TEST(MessageLoop, DeliversSignalsOnTheLoopThread) {
  WatchSignals({SIGHUP});
  TMessageLoop loop;
  int caught = 0;
  loop.OnSignal([&](int signo) {
    caught = signo;
    loop.Quit(0);
  });
  TNotifyWindow window([](const Message&) { raise(SIGHUP); });
  window.Post(WM_USER);
  loop.Run();
  EXPECT_EQ(caught, SIGHUP);
}

}  // namespace
}  // namespace tunewell
