#include "platform/runtime/run_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/log.h"

namespace runtime {
namespace {

using foundation::Date;
using foundation::ManualClock;

class RunLoopTest : public ::testing::Test {
 protected:
  double now() const { return clock.now().sinceReference; }

  ManualClock clock{Date{1000.0}};
  RunLoop loop{clock};
};

TEST_F(RunLoopTest, PerformSoonRunsInOrderIncludingWorkPostedWhileRunning) {
  std::vector<std::string> ran;
  loop.performSoon([&] {
    ran.push_back("a");
    loop.performSoon([&] { ran.push_back("c"); });
  });
  loop.performSoon([&] { ran.push_back("b"); });
  EXPECT_TRUE(ran.empty());  // nothing runs before the loop does
  loop.runUntilIdle();
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(now(), 1000.0);
}

TEST_F(RunLoopTest, TimersFireInTimeOrderEachAtItsOwnTime) {
  std::vector<std::pair<std::string, double>> fired;
  auto record = [&](std::string name) { return [&, name](Timer&) { fired.emplace_back(name, now()); }; };
  loop.scheduleTimer(3.0, false, record("three"));
  loop.scheduleTimer(1.0, false, record("one"));
  loop.scheduleTimer(2.0, false, record("two-first"));
  loop.scheduleTimer(2.0, false, record("two-second"));
  loop.scheduleTimer(10.0, false, record("later"));

  loop.runUntilIdle();
  EXPECT_TRUE(fired.empty());
  loop.advance(5.0);
  const std::vector<std::pair<std::string, double>> expected = {
      {"one", 1001.0}, {"two-first", 1002.0}, {"two-second", 1002.0}, {"three", 1003.0}};
  EXPECT_EQ(fired, expected);
  EXPECT_EQ(now(), 1005.0);
  loop.advance(5.0);
  ASSERT_EQ(fired.size(), 5u);
  EXPECT_EQ(fired.back(), std::make_pair(std::string("later"), 1010.0));
}

TEST_F(RunLoopTest, WorkPostedByATimerRunsBeforeTheNextTimer) {
  std::vector<std::pair<std::string, double>> ran;
  loop.scheduleTimer(1.0, false, [&](Timer&) {
    ran.emplace_back("timer1", now());
    loop.performSoon([&] { ran.emplace_back("posted", now()); });
    loop.performAfter(0.0, [&] { ran.emplace_back("zero-delay", now()); });
  });
  loop.scheduleTimer(2.0, false, [&](Timer&) { ran.emplace_back("timer2", now()); });
  loop.advance(2.0);
  const std::vector<std::pair<std::string, double>> expected = {
      {"timer1", 1001.0}, {"posted", 1001.0}, {"zero-delay", 1001.0}, {"timer2", 1002.0}};
  EXPECT_EQ(ran, expected);
}

TEST_F(RunLoopTest, OneShotTimerFiresOnceAndThenIsNoLongerValid) {
  int fires = 0;
  Timer timer = loop.performAfter(1.0, [&] { ++fires; });
  EXPECT_TRUE(timer.isValid());
  EXPECT_FALSE(timer.repeats());
  EXPECT_EQ(timer.fireDate(), Date{1001.0});
  loop.advance(0.999);
  EXPECT_EQ(fires, 0);
  loop.advance(0.001);
  EXPECT_EQ(fires, 1);
  EXPECT_FALSE(timer.isValid());
  loop.advance(10.0);
  EXPECT_EQ(fires, 1);
}

TEST_F(RunLoopTest, TimerKeepsFiringWhenEveryHandleIsDropped) {
  int fires = 0;
  loop.scheduleTimer(1.0, true, [&](Timer&) { ++fires; });
  loop.advance(3.0);
  EXPECT_EQ(fires, 3);
}

TEST_F(RunLoopTest, RepeatingTimerKeepsItsScheduleWhenCallbacksRunLate) {
  std::vector<double> fireTimes;
  Timer timer = loop.scheduleTimer(1.0, true, [&](Timer&) {
    fireTimes.push_back(now());
    clock.advance(0.3);  // a slow callback
  });
  loop.advance(3.5);
  EXPECT_EQ(fireTimes, (std::vector<double>{1001.0, 1002.0, 1003.0}));
  EXPECT_EQ(timer.fireDate(), Date{1004.0});
  EXPECT_TRUE(timer.isValid());
  EXPECT_TRUE(timer.repeats());
  EXPECT_EQ(timer.interval(), 1.0);
}

TEST_F(RunLoopTest, RepeatingTimerThatMissedFiresFiresOnceThenResumesItsSchedule) {
  int fires = 0;
  Timer timer = loop.scheduleTimer(1.0, true, [&](Timer&) { ++fires; });
  clock.advance(5.5);  // the loop was busy elsewhere for five intervals
  loop.runUntilIdle();
  EXPECT_EQ(fires, 1);
  EXPECT_EQ(timer.fireDate(), Date{1006.0});
  loop.advance(0.5);
  EXPECT_EQ(fires, 2);
}

TEST_F(RunLoopTest, TimerInvalidatedFromItsOwnCallbackDoesNotFireAgain) {
  int fires = 0;
  Timer timer = loop.scheduleTimer(1.0, true, [&](Timer& self) {
    if (++fires == 3) self.invalidate();
  });
  loop.advance(10.0);
  EXPECT_EQ(fires, 3);
  EXPECT_FALSE(timer.isValid());
}

TEST_F(RunLoopTest, TimerInvalidatedByAnotherCallbackDueAtTheSameTimeDoesNotFire) {
  Timer victim;
  int victimFires = 0;
  loop.scheduleTimer(1.0, false, [&](Timer&) { victim.invalidate(); });
  victim = loop.scheduleTimer(1.0, true, [&](Timer&) { ++victimFires; });
  loop.advance(5.0);
  EXPECT_EQ(victimFires, 0);
  EXPECT_FALSE(victim.isValid());
}

TEST_F(RunLoopTest, InvalidateReleasesTheCallbackAndItsCaptures) {
  auto owned = std::make_shared<int>(7);
  std::weak_ptr<int> watch = owned;
  Timer timer = loop.scheduleTimer(1.0, true, [owned](Timer&) {});
  owned.reset();
  EXPECT_FALSE(watch.expired());
  timer.invalidate();
  EXPECT_TRUE(watch.expired());
  timer.invalidate();  // twice is harmless
}

TEST_F(RunLoopTest, ChainedOneShotTimersAdvanceStepByStep) {
  // A refresh that re-arms itself every 30 seconds.
  std::vector<double> refreshes;
  std::function<void()> arm = [&] {
    loop.performAfter(30.0, [&] {
      refreshes.push_back(now());
      arm();
    });
  };
  arm();
  loop.advance(95.0);
  EXPECT_EQ(refreshes, (std::vector<double>{1030.0, 1060.0, 1090.0}));
}

TEST_F(RunLoopTest, RunForOnAManualClockAdvancesIt) {
  int fires = 0;
  loop.performAfter(2.0, [&] { ++fires; });
  loop.runFor(2.0);
  EXPECT_EQ(fires, 1);
  EXPECT_EQ(now(), 1002.0);
}

TEST_F(RunLoopTest, NegativeAdvanceNeverMovesTheClockBack) {
  loop.advance(-5.0);
  EXPECT_EQ(now(), 1000.0);
}

TEST_F(RunLoopTest, AdvanceNeedsAManualClock) {
  RunLoop real(foundation::Clock::system());
  foundation::FatalHook previous = foundation::setFatalHook([](std::string_view) {});
  EXPECT_THROW(real.advance(1.0), foundation::FatalError);
  foundation::setFatalHook(std::move(previous));
}

TEST_F(RunLoopTest, WorkPostedFromOtherThreadsRunsOnTheLoopThreadInPostingOrder) {
  constexpr int kThreads = 4;
  constexpr int kEach = 250;
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> total{0};
  std::atomic<bool> allOnLoopThread{true};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        loop.performSoon([&, t, i] {
          if (!loop.isCurrent()) allOnLoopThread = false;
          seen[t].push_back(i);
          ++total;
        });
      }
    });
  }
  EXPECT_TRUE(loop.runUntil([&] { return total == kThreads * kEach; }, 30.0));
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(allOnLoopThread);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kEach));
    for (int i = 0; i < kEach; ++i) EXPECT_EQ(seen[t][i], i);
  }
}

TEST_F(RunLoopTest, TimerScheduledFromAnotherThreadFiresOnTheLoopThread) {
  std::thread::id firedOn;
  std::thread([&] {
    loop.scheduleTimer(1.0, false, [&](Timer&) { firedOn = std::this_thread::get_id(); });
  }).join();
  loop.advance(1.0);
  EXPECT_EQ(firedOn, std::this_thread::get_id());
}

TEST_F(RunLoopTest, RunUntilReturnsWhenTheConditionHoldsOrTheTimeIsUp) {
  EXPECT_FALSE(loop.runUntil([] { return false; }, 0.0));
  bool done = false;
  loop.performSoon([&] { done = true; });
  EXPECT_TRUE(loop.runUntil([&] { return done; }, 30.0));
}

TEST_F(RunLoopTest, IsCurrentOnlyOnTheThreadThatRunsIt) {
  EXPECT_TRUE(loop.isCurrent());
  bool currentElsewhere = true;
  std::thread([&] { currentElsewhere = loop.isCurrent(); }).join();
  EXPECT_FALSE(currentElsewhere);

  // A worker that takes over running the loop becomes its thread.
  bool currentInWorker = false;
  std::thread([&] {
    loop.runUntilIdle();
    currentInWorker = loop.isCurrent();
  }).join();
  EXPECT_TRUE(currentInWorker);
  EXPECT_FALSE(loop.isCurrent());
}

TEST_F(RunLoopTest, TimerHandlesOutliveTheirLoop) {
  Timer timer;
  {
    RunLoop shortLived(clock);
    timer = shortLived.scheduleTimer(1.0, true, [](Timer&) {});
    EXPECT_TRUE(timer.isValid());
  }
  EXPECT_FALSE(timer.isValid());
  timer.invalidate();
  EXPECT_FALSE(Timer().isValid());
}

TEST(MainRunLoopTest, ScopedLoopStandsInForTheMainLoopWhileItLives) {
  RunLoop& processLoop = RunLoop::main();
  EXPECT_TRUE(processLoop.isCurrent());  // tests run on the process's initial thread
  bool currentElsewhere = true;
  std::thread([&] { currentElsewhere = RunLoop::main().isCurrent(); }).join();
  EXPECT_FALSE(currentElsewhere);

  ManualClock clock;
  RunLoop testLoop(clock);
  {
    ScopedMainRunLoop scope(testLoop);
    EXPECT_EQ(&RunLoop::main(), &testLoop);
    RunLoop inner(clock);
    {
      ScopedMainRunLoop nested(inner);
      EXPECT_EQ(&RunLoop::main(), &inner);
    }
    EXPECT_EQ(&RunLoop::main(), &testLoop);
  }
  EXPECT_EQ(&RunLoop::main(), &processLoop);
}

}  // namespace
}  // namespace runtime
