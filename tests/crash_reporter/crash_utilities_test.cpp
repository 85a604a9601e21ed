// The smaller pieces beside the crash path: the guard-page arena, the parked worker thread, and the
// log of a registration that cannot hold its port.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crash_reporter/async_allocator.h"
#include "crash_reporter/crash_child.h"
#include "crash_reporter/frame_cursor.h"
#include "crash_reporter/mach_exception_server.h"
#include "platform/foundation/log.h"
#include "platform/system/threads.h"

namespace crash {
namespace {

// What a call writes to standard error.
template <class Body>
std::string standardErrorOf(const Body& body) {
  testing::internal::CaptureStderr();
  body();
  return testing::internal::GetCapturedStderr();
}

// ---- The guard-page arena.

TEST(AsyncAllocator, RoundsToWholePagesHandsOutAlignedDistinctPiecesAndRefusesPastItsEnd) {
  const std::size_t page = static_cast<std::size_t>(getpagesize());
  const struct {
    std::size_t asked;
    bool guards;
    std::size_t usable;
  } cases[] = {{1, false, page}, {page, true, page}, {page + 1, true, 2 * page}, {5 * page - 3, false, 5 * page}};
  for (const auto& c : cases) {
    crash_async_allocator* arena = nullptr;
    const std::string printed =
        standardErrorOf([&] { ASSERT_EQ(crash_async_allocator_create(&arena, c.asked, c.guards), CRASH_ESUCCESS); });
    ASSERT_NE(arena, nullptr);
    EXPECT_EQ(printed, "allocated: " + std::to_string(c.usable) + "\n");
    EXPECT_EQ(arena->size, c.usable);
    EXPECT_EQ(arena->mapping_size, c.usable + (c.guards ? 2 * CRASH_ASYNC_ALLOCATOR_GUARD_SIZE : 0));
    // Pieces of 24 bytes take 32 each, until the area is used up; each is writable whole.
    std::set<std::uintptr_t> pieces;
    while (void* piece = crash_async_allocator_alloc(arena, 24)) {
      const auto at = reinterpret_cast<std::uintptr_t>(piece);
      EXPECT_EQ(at % 16, 0u);
      EXPECT_GE(at, arena->base);
      EXPECT_LE(at + 24, arena->base + arena->size);
      std::memset(piece, 0xa5, 24);
      EXPECT_TRUE(pieces.insert(at).second);
    }
    EXPECT_EQ(pieces.size(), c.usable / 32);
    EXPECT_EQ(crash_async_allocator_alloc(arena, 1), nullptr);
    crash_async_allocator_free(arena);
  }
  crash_async_allocator* none = reinterpret_cast<crash_async_allocator*>(1);
  EXPECT_EQ(crash_async_allocator_create(&none, 0, true), CRASH_EINVAL);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(crash_async_allocator_create(&none, SIZE_MAX - 4096, true), CRASH_ENOMEM);
}

TEST(AsyncAllocator, AWriteOffEitherEndFaultsInTheGuardAndNotWithoutGuards) {
  const struct {
    const char* name;
    bool guards;
    std::ptrdiff_t at;  // from the area's start (negative: before it) or its end (past: positive)
    bool fromEnd;
    const char* ended;
  } cases[] = {
      {"before, guarded", true, -1, false, "signal 11"},
      {"far before, guarded", true, -static_cast<std::ptrdiff_t>(CRASH_ASYNC_ALLOCATOR_GUARD_SIZE), false, "signal 11"},
      {"after, guarded", true, 0, true, "signal 11"},
      {"last byte", true, -1, true, "exit 0"},
  };
  for (const auto& c : cases) {
    const auto outcome = crash_child::runInChild([&] {
      crash_async_allocator* arena = nullptr;
      if (crash_async_allocator_create(&arena, 3 * 4096, c.guards) != CRASH_ESUCCESS) _exit(3);
      const std::uintptr_t origin = c.fromEnd ? arena->base + arena->size : arena->base;
      *reinterpret_cast<volatile char*>(origin + c.at) = 1;
    });
    EXPECT_EQ(outcome.second, c.ended) << c.name;
  }
}

TEST(AsyncAllocator, PiecesTakenFromManyThreadsAtOnceNeverOverlap) {
  crash_async_allocator* arena = nullptr;
  standardErrorOf([&] { crash_async_allocator_create(&arena, 64 * 1024, true); });
  ASSERT_NE(arena, nullptr);
  constexpr int kThreads = 8;
  std::vector<std::vector<std::uintptr_t>> taken(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      while (void* piece = crash_async_allocator_alloc(arena, 16)) taken[t].push_back(reinterpret_cast<std::uintptr_t>(piece));
    });
  for (auto& thread : threads) thread.join();
  std::set<std::uintptr_t> all;
  for (const auto& list : taken) all.insert(list.begin(), list.end());
  EXPECT_EQ(all.size(), 64u * 1024 / 16);
  crash_async_allocator_free(arena);
}

// ---- The parked worker.

std::set<sys::ThreadId> threadIds() {
  sys::ThreadId listed[sys::kMaxThreads];
  const int count = sys::listThreads(listed, sys::kMaxThreads);
  return std::set<sys::ThreadId>(listed, listed + (count < 0 ? 0 : count));
}

std::string stateOf(sys::ThreadId id) {
  std::string line = crash_child::readFile("/proc/self/task/" + std::to_string(id) + "/stat");
  const auto close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() ? "?" : line.substr(close + 2, 1);
}

TEST(ParkedWorker, StartsAThreadThatWaitsAndStopJoinsIt) {
  const std::set<sys::ThreadId> before = threadIds();
  crash_frame_parked_worker worker{};
  crash_frame_parked_worker_stop(&worker);  // never started: nothing happens
  ASSERT_EQ(crash_frame_parked_worker_start(&worker), CRASH_FRAME_ESUCCESS);
  EXPECT_EQ(crash_frame_parked_worker_start(&worker), CRASH_FRAME_EINVAL);
  std::set<sys::ThreadId> during = threadIds();
  for (const auto& id : before) during.erase(id);
  ASSERT_EQ(during.size(), 1u);
  // It sleeps in its wait (give the scheduler a moment to take it off the processor).
  std::string state;
  for (int i = 0; i < 1000 && (state = stateOf(*during.begin())) != "S"; ++i) sched_yield();
  EXPECT_EQ(state, "S");
  crash_frame_parked_worker_stop(&worker);
  EXPECT_FALSE(worker.running);
  EXPECT_EQ(threadIds(), before);
  crash_frame_parked_worker_stop(&worker);  // stopped already: nothing happens
  // It can be started again.
  ASSERT_EQ(crash_frame_parked_worker_start(&worker), CRASH_FRAME_ESUCCESS);
  crash_frame_parked_worker_stop(&worker);
  EXPECT_EQ(threadIds(), before);
}

// ---- The walk cache: one report's walks at a time.

TEST(WalkCache, IsHeldByOneThreadAtATimeAndGoesBackWhenReleased) {
  ASSERT_TRUE(crash_frame_walk_cache_claim());
  bool otherGotIt = true;
  std::thread([&] {
    otherGotIt = crash_frame_walk_cache_claim();
    crash_frame_walk_cache_release();  // not its own: nothing happens
  }).join();
  EXPECT_FALSE(otherGotIt);
  EXPECT_FALSE(crash_frame_walk_cache_claim());  // nested on the same thread: still the first claim's
  crash_frame_walk_cache_release();
  std::thread([&] {
    otherGotIt = crash_frame_walk_cache_claim();
    crash_frame_walk_cache_release();
  }).join();
  EXPECT_TRUE(otherGotIt);
  crash_frame_walk_cache_prepare();  // claims and releases
  EXPECT_TRUE(crash_frame_walk_cache_claim());
  crash_frame_walk_cache_release();
}

// ---- A registration whose port cannot be held.

TEST(MachExceptionServer, ARegistrationThatCannotTakeAReferenceToItsPortSaysSo) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const int closed = fds[0];
  close(fds[0]);
  close(fds[1]);
  foundation::ScopedLogCapture log;
  TallyCrashMachExceptionPort port(closed, 2, CRASH_EXCEPTION_DEFAULT, 1);
  EXPECT_EQ(port.port(), CRASH_MACH_PORT_NULL);
  EXPECT_TRUE(log.contains("Unexpected error incrementing mach port reference: " + std::to_string(EBADF)));
  foundation::ScopedLogCapture quiet;
  TallyCrashMachExceptionPort none(CRASH_MACH_PORT_NULL, 2, CRASH_EXCEPTION_DEFAULT, 1);
  EXPECT_TRUE(quiet.messages().empty());
}

}  // namespace
}  // namespace crash
