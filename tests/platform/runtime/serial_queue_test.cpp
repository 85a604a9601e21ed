#include "platform/runtime/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/foundation/log.h"

namespace runtime {
namespace {

using foundation::Date;
using foundation::ManualClock;

TEST(SerialQueueTest, WorkFromManyThreadsRunsOneAtATimeInQueueOrderOnTheQueueThread) {
  SerialQueue queue("com.Tally.Analytics.Session");
  EXPECT_FALSE(queue.isCurrent());
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::vector<int>> seen(kThreads);  // touched only on the queue
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false}, allCurrent{true};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        queue.async([&, t, i] {
          if (inside.fetch_add(1) != 0) overlapped = true;
          if (!queue.isCurrent()) allCurrent = false;
          seen[t].push_back(i);
          inside.fetch_sub(1);
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  queue.drain();
  EXPECT_FALSE(overlapped);
  EXPECT_TRUE(allCurrent);
  std::vector<int> inOrder(kEach);
  std::iota(inOrder.begin(), inOrder.end(), 0);
  for (const auto& one : seen) EXPECT_EQ(one, inOrder);
  // Sync runs after everything queued before it and hands its result back.
  queue.async([&] { seen[0].push_back(kEach); });
  EXPECT_EQ(queue.sync([&] { return seen[0].size(); }), size_t{kEach + 1});
}

TEST(SerialQueueTest, SyncFromTheQueueItselfRunsInlineInsteadOfDeadlocking) {
  SerialQueue queue("test.reentrant");
  std::vector<std::string> steps;
  queue.sync([&] {
    steps.push_back("outer");
    queue.sync([&] { steps.push_back("inner"); });
    steps.push_back("after inner");
  });
  std::promise<void> finished;
  queue.async([&] {
    queue.sync([&] { steps.push_back("from async"); });
    queue.drain();  // returns at once on the queue's own thread
    finished.set_value();
  });
  finished.get_future().wait();
  queue.drain();
  EXPECT_EQ(steps, (std::vector<std::string>{"outer", "inner", "after inner", "from async"}));
}

TEST(SerialQueueTest, SyncHandsBackExceptionsAndAsyncOnesAreLoggedAndTheQueueGoesOn) {
  foundation::ScopedLogCapture log;
  SerialQueue queue("test.throws");
  EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("bad"); }), std::runtime_error);
  queue.async([] { throw std::runtime_error("boom"); });
  EXPECT_EQ(queue.sync([] { return std::string("value"); }), "value");
  EXPECT_TRUE(log.contains("test.throws") && log.contains("boom"));
}

TEST(SerialQueueTest, AsyncAfterWaitsForTheQueueClock) {
  ManualClock clock(Date{500.0});
  SerialQueue queue("test.delayed", clock);
  std::vector<std::string> ran;  // touched only on the queue
  queue.asyncAfter(5.0, [&] { ran.push_back("five"); });
  queue.asyncAfter(2.0, [&] { ran.push_back("two-first"); });
  queue.asyncAfter(2.0, [&] { ran.push_back("two-second"); });
  queue.asyncAfter(0.0, [&] { ran.push_back("now"); });
  queue.drain();
  EXPECT_EQ(queue.sync([&] { return ran; }), (std::vector<std::string>{"now"}));

  clock.advance(2.0);
  queue.async([&] { ran.push_back("plain"); });  // queued after the delayed work that came due
  queue.drain();
  EXPECT_EQ(queue.sync([&] { return ran; }),
            (std::vector<std::string>{"now", "two-first", "two-second", "plain"}));

  clock.advance(3.0);
  queue.drain();
  EXPECT_EQ(queue.sync([&] { return ran.back(); }), "five");
}

TEST(SerialQueueTest, DestructionFinishesQueuedWorkDropsDelayedWorkAndMayComeFromTheQueuesOwnWork) {
  ManualClock clock;
  auto count = std::make_shared<std::atomic<int>>(0);
  bool delayedRan = false;
  {
    SerialQueue queue("test.shutdown", clock);
    queue.asyncAfter(60.0, [&] { delayedRan = true; });
    for (int i = 0; i < 500; ++i) queue.async([count] { ++*count; });
  }
  EXPECT_EQ(std::tuple(count->load(), delayedRan), std::tuple(500, false));

  auto queue = std::make_unique<SerialQueue>("test.self-destroy");
  std::promise<void> posted, done;
  queue->async([&] {
    posted.get_future().wait();  // the async call below has returned
    queue.reset();
    done.set_value();
  });
  posted.set_value();
  EXPECT_EQ(done.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(queue, nullptr);
}

}  // namespace
}  // namespace runtime
