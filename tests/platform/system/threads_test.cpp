// Parking the other threads of this process: a running thread stops with its registers recorded and
// runs on once released; a thread that blocks the signal is given up on after the bound; a thread
// started while threads are being parked is parked too, also between asking and awaiting; threads
// that never answer cost one bound together, not one each; released threads all run on.
#include "platform/system/threads.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace sys {
namespace {

const ParkedThreads::Entry* entryOf(const ParkedThreads& parked, ThreadId thread) {
  for (std::size_t i = 0; i < parked.count; ++i) {
    if (parked.entries[i].thread == thread) return &parked.entries[i];
  }
  return nullptr;
}

// A thread that counts until told to stop.
struct Spinner {
  std::atomic<ThreadId> id{0};
  std::atomic<long> count{0};
  std::atomic<bool> stop{false};
  std::thread thread{[this] {
    id = threadSelf();
    while (!stop) count.fetch_add(1, std::memory_order_relaxed);
  }};
  Spinner() {
    while (id == 0) std::this_thread::yield();
  }
  ~Spinner() {
    stop = true;
    thread.join();
  }
};

void blockParkingSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, threadParkingSignal());
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TEST(Threads, ListsEveryThreadOfTheProcess) {
  Spinner spinner;
  ThreadId listed[kMaxThreads];
  const int count = listThreads(listed, kMaxThreads);
  ASSERT_GE(count, 2);
  EXPECT_NE(std::find(listed, listed + count, threadSelf()), listed + count);
  EXPECT_NE(std::find(listed, listed + count, spinner.id.load()), listed + count);
  EXPECT_EQ(listThreads(listed, 1), 1);
}

TEST(Threads, ParksRunningThreadsAndGivesUpOnOnesThatBlockTheSignal) {
  ASSERT_EQ(prepareThreadParking(), 0);
  Spinner spinner;
  std::atomic<ThreadId> blocker{0};
  std::atomic<bool> unblock{false}, survived{false};
  std::thread blocking([&] {
    blockParkingSignal();
    blocker = threadSelf();
    while (!unblock) std::this_thread::yield();
    // The signal it held back arrives now, long after the parker gave up: it must change nothing.
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    survived = true;
  });
  while (blocker == 0) std::this_thread::yield();

  // A bound a loaded machine's scheduler meets for the spinning thread; the blocking one costs all of it.
  static ParkedThreads parked;
  ASSERT_EQ(parkOtherThreads(&parked, 1'000'000'000), ParkResult::kParked);
  const ParkedThreads::Entry* spun = entryOf(parked, spinner.id);
  const ParkedThreads::Entry* blocked = entryOf(parked, blocker);
  ASSERT_NE(spun, nullptr);
  ASSERT_NE(blocked, nullptr);
  EXPECT_EQ(spun->result, ParkResult::kParked);
  EXPECT_EQ(blocked->result, ParkResult::kTimedOut);
  EXPECT_NE(parkedThreadContext(&parked, static_cast<std::size_t>(spun - parked.entries)), nullptr);
  EXPECT_EQ(parkedThreadContext(&parked, static_cast<std::size_t>(blocked - parked.entries)), nullptr);
  ASSERT_NE(entryOf(parked, threadSelf()), nullptr);
  EXPECT_EQ(entryOf(parked, threadSelf())->result, ParkResult::kCaller);

  // A parked thread does not run; while one thread parks others, nobody else may.
  const long before = spinner.count;
  ParkResult second = ParkResult::kParked;
  std::thread([&] {
    static ParkedThreads other;
    second = parkOtherThreads(&other, 1'000'000);
  }).join();
  EXPECT_EQ(second, ParkResult::kBusy);
  EXPECT_EQ(spinner.count, before);

  releaseParkedThreads(&parked);
  while (spinner.count == before) std::this_thread::yield();
  unblock = true;
  blocking.join();
  EXPECT_TRUE(survived);

  // The table is free again for the next parker.
  ASSERT_EQ(parkOtherThreads(&parked, 1'000'000'000), ParkResult::kParked);
  EXPECT_EQ(entryOf(parked, spinner.id)->result, ParkResult::kParked);
  releaseParkedThreads(&parked);
}

TEST(Threads, AThreadStartedWhileOthersAreParkedIsParkedToo) {
  ASSERT_EQ(prepareThreadParking(), 0);
  // The starter holds the signal back and starts a new thread once it sees the signal waiting, that
  // is while the parker waits for it.
  std::atomic<ThreadId> starter{0}, late{0};
  std::atomic<bool> stop{false};
  std::thread starting([&] {
    blockParkingSignal();
    starter = threadSelf();
    for (;;) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, threadParkingSignal())) break;
      std::this_thread::yield();
    }
    std::thread lateThread([&] {
      sigset_t none;  // a new thread inherits its starter's mask
      sigemptyset(&none);
      pthread_sigmask(SIG_SETMASK, &none, nullptr);
      late = threadSelf();
      while (!stop) std::this_thread::yield();
    });
    while (late == 0) std::this_thread::yield();
    while (!stop) std::this_thread::yield();
    lateThread.join();
  });
  while (starter == 0) std::this_thread::yield();

  static ParkedThreads parked;
  ASSERT_EQ(parkOtherThreads(&parked, 1'000'000'000), ParkResult::kParked);
  EXPECT_EQ(entryOf(parked, starter)->result, ParkResult::kTimedOut);
  const ParkedThreads::Entry* entry = entryOf(parked, late);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->result, ParkResult::kParked);
  releaseParkedThreads(&parked);
  stop = true;
  starting.join();
}

// Parking in two halves: threads asked first may run on (and start others) until the caller awaits
// them; then the asked ones and those started meanwhile are all parked.
TEST(Threads, ThreadsAskedAheadAndThoseStartedBeforeTheAwaitAreAllParked) {
  ASSERT_EQ(prepareThreadParking(), 0);
  Spinner asked;
  static ParkedThreads parked;
  ASSERT_EQ(requestParking(&parked), ParkResult::kParked);
  Spinner meanwhile;
  std::thread([] {
    static ParkedThreads other;
    EXPECT_EQ(requestParking(&other), ParkResult::kBusy);
    EXPECT_EQ(awaitParking(&other, 1'000'000), ParkResult::kBusy);
  }).join();
  ASSERT_EQ(awaitParking(&parked, 1'000'000'000), ParkResult::kParked);
  for (const Spinner* spinner : {&asked, &meanwhile}) {
    const ParkedThreads::Entry* entry = entryOf(parked, spinner->id);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->result, ParkResult::kParked);
  }
  const long before = meanwhile.count;
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(meanwhile.count, before);
  releaseParkedThreads(&parked);
}

TEST(Threads, ThreadsThatNeverAnswerAreGivenUpOnTogether) {
  ASSERT_EQ(prepareThreadParking(), 0);
  constexpr int kBlockers = 4;
  // Long enough that the spinning thread answers in time on a loaded machine, and that one bound
  // after another (four of them) cannot pass for one.
  constexpr std::int64_t kBound = 500'000'000;
  Spinner spinner;
  std::atomic<int> ready{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> blockers;
  for (int i = 0; i < kBlockers; ++i) {
    blockers.emplace_back([&] {
      blockParkingSignal();
      ++ready;
      while (!stop) std::this_thread::yield();
    });
  }
  while (ready < kBlockers) std::this_thread::yield();

  static ParkedThreads parked;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(parkOtherThreads(&parked, kBound), ParkResult::kParked);
  const auto waited = std::chrono::steady_clock::now() - start;
  int timedOut = 0;
  for (std::size_t i = 0; i < parked.count; ++i)
    timedOut += parked.entries[i].result == ParkResult::kTimedOut;
  EXPECT_EQ(timedOut, kBlockers);
  EXPECT_EQ(entryOf(parked, spinner.id)->result, ParkResult::kParked);
  // One after another they would take four bounds; side by side one, with room for a loaded machine.
  EXPECT_LT(waited, std::chrono::nanoseconds(kBound * 5 / 2));
  releaseParkedThreads(&parked);
  stop = true;
  for (std::thread& blocker : blockers) blocker.join();
}

// Released threads wake one another in turn: every one of them runs on, also when the next parking
// begins while the last release is still passing along.
TEST(Threads, EveryReleasedThreadRunsOnAndCanBeParkedAgainAtOnce) {
  ASSERT_EQ(prepareThreadParking(), 0);
  Spinner spinners[6];
  static ParkedThreads parked;
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(parkOtherThreads(&parked, 1'000'000'000), ParkResult::kParked);
    long before[6];
    for (int i = 0; i < 6; ++i) {
      ASSERT_EQ(entryOf(parked, spinners[i].id)->result, ParkResult::kParked) << "round " << round;
      before[i] = spinners[i].count;
    }
    releaseParkedThreads(&parked);
    if (round % 2 == 1) continue;  // parked again before they had a chance to go on
    for (int i = 0; i < 6; ++i)
      while (spinners[i].count == before[i]) std::this_thread::yield();
  }
}

}  // namespace
}  // namespace sys
