#include "platform/runtime/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/log.h"

namespace runtime {
namespace {

using foundation::Date;
using foundation::ManualClock;

TEST(SerialQueueTest, SyncAfterManyAsyncsReturnsAfterAllOfThem) {
  SerialQueue queue("com.Tally.Analytics.Session");
  EXPECT_EQ(queue.label(), "com.Tally.Analytics.Session");
  std::vector<int> order;  // touched only on the queue
  for (int i = 0; i < 2000; ++i) queue.async([&order, i] { order.push_back(i); });
  const size_t seen = queue.sync([&] { return order.size(); });
  EXPECT_EQ(seen, 2000u);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(order[i], i);
}

TEST(SerialQueueTest, AsyncsFromManyThreadsAllRunBeforeALaterSync) {
  SerialQueue queue("test.many");
  int count = 0;  // touched only on the queue
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) queue.async([&count] { ++count; });
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(queue.sync([&] { return count; }), 2000);
}

TEST(SerialQueueTest, WorkRunsOneAtATimeOnTheQueueThread) {
  SerialQueue queue("test.serial");
  EXPECT_FALSE(queue.isCurrent());
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::atomic<bool> allCurrent{true};
  std::thread::id worker;
  for (int i = 0; i < 200; ++i) {
    queue.async([&] {
      if (inside.fetch_add(1) != 0) overlapped = true;
      if (!queue.isCurrent()) allCurrent = false;
      worker = std::this_thread::get_id();
      inside.fetch_sub(1);
    });
  }
  queue.drain();
  EXPECT_FALSE(overlapped);
  EXPECT_TRUE(allCurrent);
  EXPECT_NE(worker, std::this_thread::get_id());
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

TEST(SerialQueueTest, SyncHandsBackResultsAndExceptions) {
  SerialQueue queue("test.results");
  EXPECT_EQ(queue.sync([] { return std::string("value"); }), "value");
  EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("bad"); }), std::runtime_error);
  EXPECT_EQ(queue.sync([] { return 5; }), 5);  // the queue still works
}

TEST(SerialQueueTest, ExceptionEscapingAsyncWorkIsLoggedAndTheQueueGoesOn) {
  foundation::ScopedLogCapture log;
  SerialQueue queue("test.throws");
  queue.async([] { throw std::runtime_error("boom"); });
  bool ranAfter = false;
  queue.async([&] { ranAfter = true; });
  queue.drain();
  EXPECT_TRUE(ranAfter);
  EXPECT_TRUE(log.contains("test.throws"));
  EXPECT_TRUE(log.contains("boom"));
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

TEST(SerialQueueTest, AsyncAfterOnTheSystemClockRunsByItself) {
  SerialQueue queue("test.real-delay");
  std::promise<void> ran;
  queue.asyncAfter(0.001, [&] { ran.set_value(); });
  EXPECT_EQ(ran.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
}

TEST(SerialQueueTest, DestructionFinishesQueuedWorkAndDropsDelayedWork) {
  ManualClock clock;
  auto count = std::make_shared<std::atomic<int>>(0);
  bool delayedRan = false;
  {
    SerialQueue queue("test.shutdown", clock);
    queue.asyncAfter(60.0, [&] { delayedRan = true; });
    for (int i = 0; i < 500; ++i) queue.async([count] { ++*count; });
  }
  EXPECT_EQ(count->load(), 500);
  EXPECT_FALSE(delayedRan);
}

TEST(SerialQueueTest, WorkMayDestroyItsOwnQueue) {
  auto queue = std::make_unique<SerialQueue>("test.self-destroy");
  std::promise<void> posted;
  std::promise<void> done;
  queue->async([&] {
    posted.get_future().wait();  // the async call below has returned
    queue.reset();
    done.set_value();
  });
  posted.set_value();
  EXPECT_EQ(done.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(queue, nullptr);
}

TEST(SerialQueueTest, DrainWaitsForWorkInProgress) {
  SerialQueue queue("test.drain");
  std::atomic<int> finished{0};
  for (int i = 0; i < 100; ++i) {
    queue.async([&finished, i] {
      std::vector<int> busy(1000, i);  // a little real work
      finished += busy.empty() ? 0 : 1;
    });
  }
  queue.drain();
  EXPECT_EQ(finished.load(), 100);
}

}  // namespace
}  // namespace runtime
