#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Threads.h"

namespace tunewell {
namespace {

TEST(Event, ManualResetAnswersZeroUntilReset) {
  Event event;
  EXPECT_EQ(event.Wait(0), WAIT_TIMEOUT);
  EXPECT_EQ(event.Wait(5), WAIT_TIMEOUT);
  event.Signal();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(event.Wait(0), WAIT_OBJECT_0) << "pass " << i;
  event.Signal();  // twice signalled is still one reset away from clear
  event.Reset();
  EXPECT_EQ(event.Wait(0), WAIT_TIMEOUT);
  event.Reset();  // resetting a clear event is harmless
  EXPECT_EQ(event.Wait(0), WAIT_TIMEOUT);
  EXPECT_EQ(Event(true).Wait(0), WAIT_OBJECT_0);
}

TEST(Event, InfiniteWaitReturnsWhenAnotherThreadSignals) {
  Event event;
  std::thread signaller([&] { event.Signal(); });
  EXPECT_EQ(event.Wait(INFINITE), WAIT_OBJECT_0);
  signaller.join();
}

TEST(Event, WaitForAnyNamesTheFirstSignalled) {
  Event a, b;
  EXPECT_EQ(WaitForAny({&a, &b}, 0), WAIT_TIMEOUT);
  b.Signal();
  EXPECT_EQ(WaitForAny({&a, &b}, INFINITE), 1u);
  a.Signal();
  EXPECT_EQ(WaitForAny({&a, &b}, INFINITE), 0u);
}

TEST(MessageQueue, KeepsOrderPeeksAndRemovesByRange) {
  auto queue = MessageQueue::Create();
  for (uint32_t m : {5u, 7u, 5u, 9u}) queue->Post({m, m * 10, 0});
  EXPECT_FALSE(queue->PostOnce({7, 0, 0}));
  EXPECT_TRUE(queue->PostOnce({11, 0, 0}));
  Message m;
  ASSERT_TRUE(queue->Peek(m, false));
  EXPECT_EQ(m.message, 5u);
  ASSERT_TRUE(queue->Peek(m, false, 6, 10));
  EXPECT_EQ(m.message, 7u);
  EXPECT_EQ(queue->RemovePending(5, 5), 2u);
  std::vector<uint32_t> rest;
  while (queue->Peek(m, true)) rest.push_back(m.message);
  EXPECT_EQ(rest, (std::vector<uint32_t>{7, 9, 11}));
  EXPECT_TRUE(queue->Empty());
}

TEST(MessageQueue, PostsFromManyThreadsArriveInEachThreadsOrder) {
  auto queue = MessageQueue::Create();
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        EXPECT_TRUE(PostThreadMessage(queue->Id(), {static_cast<uint32_t>(t), WPARAM(i), 0}));
      }
    });
  }
  for (auto& p : posters) p.join();
  std::vector<int> next(kThreads, 0);
  Message m;
  int count = 0;
  while (queue->Peek(m, true)) {
    EXPECT_EQ(static_cast<int>(m.wParam), next[m.message]++);
    ++count;
  }
  EXPECT_EQ(count, kThreads * kEach);
}

TEST(MessageQueue, PostingToAQueueThatIsGoneFails) {
  uint32_t id = 0;
  {
    auto queue = MessageQueue::Create();
    id = queue->Id();
    EXPECT_TRUE(PostThreadMessage(id, {1, 0, 0}));
  }
  EXPECT_FALSE(PostThreadMessage(id, {1, 0, 0}));
}

TEST(MessageQueue, WaitsForTheEventOrAMessage) {
  auto queue = MessageQueue::Create();
  Event event;
  EXPECT_EQ(queue->WaitEventOrMessage(event, 0), WAIT_TIMEOUT);
  std::thread poster([&] { queue->Post({42, 0, 0}); });
  EXPECT_EQ(queue->WaitEventOrMessage(event, INFINITE), WAIT_OBJECT_0 + 1);
  poster.join();
  event.Signal();
  EXPECT_EQ(queue->WaitEventOrMessage(event, 0), WAIT_OBJECT_0) << "the event wins";
}

TEST(TThread, OwnQueueFromTheStartAndEndEvent) {
  Event go;
  std::atomic<uint32_t> seen{0};
  TThread thread([&] {
    go.Wait(INFINITE);
    Message m;
    if (CurrentThreadQueue().Peek(m, true)) seen = m.message;
  });
  // Posting before the thread runs must not be lost.
  EXPECT_TRUE(PostThreadMessage(thread.Id(), {77, 0, 0}));
  thread.Start();
  Event never;
  EXPECT_EQ(WaitForAny({&never, &thread.Ended()}, 0), WAIT_TIMEOUT);
  go.Signal();
  EXPECT_EQ(WaitForAny({&never, &thread.Ended()}, INFINITE), 1u);
  thread.Join();
  EXPECT_EQ(seen.load(), 77u);
}

}  // namespace
}  // namespace tunewell
