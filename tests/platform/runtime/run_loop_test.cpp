#include "platform/runtime/run_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <numeric>
#include <optional>
#include <sstream>
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
  // Work or a timer callback that logs "<name>@<seconds since the start>" when it runs.
  auto note(std::string name) {
    return [this, name](auto&&...) {
      std::ostringstream entry;
      entry << (ran.empty() ? "" : " ") << name << "@" << now() - 1000.0;
      ran += entry.str();
    };
  }

  ManualClock clock{Date{1000.0}};
  RunLoop loop{clock};
  std::string ran;
};

TEST_F(RunLoopTest, WorkAndTimersRunInOrderEachTimerAtItsOwnTimeWithItsWorkBeforeTheNext) {
  loop.performSoon([&] {
    note("a")();
    loop.performSoon(note("c"));
  });
  loop.performSoon(note("b"));
  loop.scheduleTimer(3.0, false, note("three"));
  loop.scheduleTimer(1.0, false, [&](Timer&) {
    note("one")();
    loop.performSoon(note("posted"));
    loop.performAfter(0.0, note("zero-delay"));
  });
  loop.scheduleTimer(2.0, false, note("two-first"));
  loop.scheduleTimer(2.0, false, note("two-second"));
  loop.scheduleTimer(10.0, false, note("later"));
  EXPECT_TRUE(ran.empty());  // nothing runs before the loop does

  loop.runUntilIdle();
  EXPECT_EQ(ran, "a@0 b@0 c@0");
  loop.advance(5.0);
  EXPECT_EQ(ran, "a@0 b@0 c@0 one@1 posted@1 zero-delay@1 two-first@2 two-second@2 three@3");
  EXPECT_EQ(now(), 1005.0);
  loop.advance(5.0);
  EXPECT_TRUE(ran.ends_with(" three@3 later@10"));
  // The clock never moves back; runFor on a manual clock is advance.
  loop.advance(-5.0);
  EXPECT_EQ(now(), 1010.0);
  loop.performAfter(2.0, note("runFor"));
  loop.runFor(2.0);
  EXPECT_TRUE(ran.ends_with(" later@10 runFor@12"));
}

TEST_F(RunLoopTest, OneShotTimersFireOnceAndMayChainThemselves) {
  Timer timer = loop.performAfter(1.0, note("once"));
  EXPECT_EQ(timer.fireDate(), Date{1001.0});
  loop.advance(0.999);
  EXPECT_TRUE(ran.empty());
  loop.advance(0.001);
  EXPECT_FALSE(timer.isValid());

  // A refresh that re-arms itself every 30 seconds fires within one advance.
  std::function<void()> arm = [&] {
    loop.performAfter(30.0, [&] {
      note("refresh")();
      arm();
    });
  };
  arm();
  loop.advance(95.0);
  EXPECT_EQ(ran, "once@1 refresh@31 refresh@61 refresh@91");
}

TEST_F(RunLoopTest, RepeatingTimerKeepsItsSchedule) {
  Timer timer = loop.scheduleTimer(1.0, true, [&](Timer&) {
    note("slow")();
    clock.advance(0.3);  // a slow callback
  });
  loop.advance(3.5);
  EXPECT_EQ(ran, "slow@1 slow@2 slow@3");
  EXPECT_EQ(timer.fireDate(), Date{1004.0});
  timer.invalidate();

  // Without a handle it keeps firing; missed intervals fire once, then the schedule resumes.
  int fires = 0;
  loop.scheduleTimer(1.0, true, [&](Timer&) { ++fires; });
  clock.advance(5.5);
  loop.runUntilIdle();
  EXPECT_EQ(fires, 1);
  loop.advance(0.25);
  EXPECT_EQ(fires, 1);
  loop.advance(0.25);
  EXPECT_EQ(fires, 2);
}

TEST_F(RunLoopTest, AnInvalidatedTimerNeverFiresAgainAndReleasesItsCallback) {
  int fires = 0;
  Timer selfStopping = loop.scheduleTimer(1.0, true, [&](Timer& self) {
    if (++fires == 3) self.invalidate();
  });
  // A timer invalidated by another callback due at the same time does not fire.
  Timer victim;
  loop.scheduleTimer(1.0, false, [&](Timer&) { victim.invalidate(); });
  victim = loop.scheduleTimer(1.0, true, note("victim"));
  loop.advance(10.0);
  EXPECT_EQ(fires, 3);
  EXPECT_FALSE(selfStopping.isValid());
  EXPECT_TRUE(ran.empty());

  auto owned = std::make_shared<int>(7);
  std::weak_ptr<int> watch = owned;
  Timer timer = loop.scheduleTimer(1.0, true, [owned](Timer&) {});
  owned.reset();
  EXPECT_FALSE(watch.expired());
  timer.invalidate();
  EXPECT_TRUE(watch.expired());
  timer.invalidate();  // twice is harmless
  {
    RunLoop shortLived(clock);
    timer = shortLived.scheduleTimer(1.0, true, [](Timer&) {});
  }
  EXPECT_FALSE(timer.isValid());  // handles outlive their loop
}

TEST_F(RunLoopTest, WorkAndTimersFromOtherThreadsRunOnTheLoopThreadInPostingOrder) {
  constexpr int kThreads = 4, kEach = 250;
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
  std::vector<int> inOrder(kEach);
  std::iota(inOrder.begin(), inOrder.end(), 0);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], inOrder);

  std::thread([&] { loop.scheduleTimer(1.0, false, note("from another thread")); }).join();
  loop.advance(1.0);
  EXPECT_EQ(ran, "from another thread@1");
  EXPECT_FALSE(loop.runUntil([] { return false; }, 0.0));
}

TEST(LoopHandleTest, AWorkerPostingWhileItsLoopGoesLosesItsWorkQuietly) {
  ManualClock clock;
  auto loop = std::make_unique<RunLoop>(clock);
  LoopHandle handle = loop->handle();
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  std::atomic<int> ran{0}, queued{0};
  // Posts until the loop is gone; every piece keeps `captured` alive until it ran or was dropped.
  std::thread worker([&, handle, captured]() mutable {
    while (handle.performSoon([&ran, captured] { ++ran; })) ++queued;
    captured.reset();
  });
  captured.reset();
  EXPECT_TRUE(loop->runUntil([&] { return ran >= 100; }, 30));
  EXPECT_TRUE(handle.alive());
  loop.reset();  // the worker is still posting
  worker.join();
  EXPECT_FALSE(handle.alive());
  EXPECT_FALSE(handle.isCurrent());
  EXPECT_FALSE(handle.performSoon([] {}));
  EXPECT_FALSE(LoopHandle().performSoon([] {}));
  EXPECT_GE(queued.load(), ran.load());
  EXPECT_TRUE(watch.expired());  // run, released with the loop, or dropped by the poster
}

TEST(LoopHandleTest, TheMainHandleFollowsTheInstalledLoopAndNeverOneThatWent) {
  ManualClock clock;
  RunLoop& processLoop = RunLoop::main();
  RunLoop installed(clock);
  int ranOnInstalled = 0;
  {
    ScopedMainRunLoop scope(installed);
    LoopHandle handle;
    std::thread([&] { handle = RunLoop::mainHandle(); }).join();
    EXPECT_TRUE(handle.performSoon([&] { ++ranOnInstalled; }));
    EXPECT_TRUE(handle.isCurrent());
    installed.runUntilIdle();
    EXPECT_EQ(ranOnInstalled, 1);
    // A loop that goes while installed is the main one no more, nor is it brought back later.
    for (bool whileCovered : {false, true}) {
      auto shortLived = std::make_unique<RunLoop>(clock);
      ScopedMainRunLoop nested(*shortLived);
      LoopHandle gone = RunLoop::mainHandle();
      {
        std::optional<ScopedMainRunLoop> over;
        if (whileCovered) over.emplace(installed);
        shortLived.reset();
      }
      EXPECT_FALSE(gone.performSoon([] {}));
      EXPECT_EQ(&RunLoop::main(), &processLoop) << whileCovered;
    }
    EXPECT_EQ(&RunLoop::main(), &installed);
  }
  EXPECT_EQ(&RunLoop::main(), &processLoop);
  EXPECT_TRUE(RunLoop::mainHandle().alive());
}

TEST(MainRunLoopTest, ScopedLoopStandsInForTheMainLoopWhileItLives) {
  RunLoop& processLoop = RunLoop::main();
  EXPECT_TRUE(processLoop.isCurrent());  // tests run on the process's initial thread
  bool currentElsewhere = true;
  std::thread([&] { currentElsewhere = RunLoop::main().isCurrent(); }).join();
  EXPECT_FALSE(currentElsewhere);

  ManualClock clock;
  RunLoop testLoop(clock), inner(clock);
  // A worker that takes over running a loop becomes its thread.
  bool currentInWorker = false;
  std::thread([&] {
    testLoop.runUntilIdle();
    currentInWorker = testLoop.isCurrent();
  }).join();
  EXPECT_TRUE(currentInWorker && !testLoop.isCurrent());
  {
    ScopedMainRunLoop scope(testLoop);
    EXPECT_EQ(&RunLoop::main(), &testLoop);
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
