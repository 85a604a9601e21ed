// The images really loaded here, and stacks really walked: a test module with frame pointers and
// exported functions is loaded, unloaded, and crashed in, and its functions must be found by name.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "crash_child.h"
#include "crash_reporter/frame_cursor.h"
#include "crash_reporter/image_list.h"

namespace crash {
namespace {

using crash_child::Module;
using crash_child::openModule;

// The test process; a forked child asks for its own.
const crash_task_t self = crash_async_task_self();

bool listed(crash_async_image_list* list, const char* path) {
  bool found = false;
  crash_async_image_list_set_reading(list, true);
  for (auto* node = crash_async_image_list_next(list, nullptr); node;
       node = crash_async_image_list_next(list, node)) {
    found = found || node->value.name == path;
  }
  crash_async_image_list_set_reading(list, false);
  return found;
}

struct Named {
  std::uintptr_t address = 0;
  char name[256] = {};
};

void keepName(std::uintptr_t address, const char* name, void* context) {
  auto* named = static_cast<Named*>(context);
  named->address = address;
  std::strncpy(named->name, name, sizeof named->name - 1);
}

// The names of the test module's functions among the frames of a walk, in order, each followed by ",".
// Async-signal-safe: the text is gathered in place (a pipe takes up to 4096 bytes in one write).
struct FrameNames {
  char text[4096];
  std::size_t length = 0;

  void add(const char* part) noexcept {
    while (*part != '\0' && length < sizeof text) text[length++] = *part++;
  }
  void addWalk(crash_async_image_list* list, crash_async_frame_cursor* cursor) noexcept {
    for (int i = 0; i < 64 && crash_frame_cursor_next(cursor) == CRASH_FRAME_ESUCCESS; ++i) {
      std::uint64_t pc;
      if (crash_frame_cursor_get_reg(cursor, CRASH_REG_IP, &pc) != CRASH_FRAME_ESUCCESS) break;
      const crash_async_image* image = crash_async_image_containing_address(list, pc);
      Named named;
      if (image &&
          crash_async_find_symbol(image, CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr, pc, keepName, &named) ==
              CRASH_ESUCCESS &&
          std::strncmp(named.name, "crash_test_", 11) == 0) {
        add(named.name);
        add(",");
      }
    }
  }
  std::string str() const { return std::string(text, length); }
};

TEST(ImageList, ListsLoadedImagesWithTheirBuildIdSpanAndDynamicSymbols) {
  crash_async_image_list list;
  crash_async_image_list_init(&list, self);
  crash_async_image_list_sync(&list);
  crash_async_image_list_set_reading(&list, true);

  const auto function = reinterpret_cast<std::uintptr_t>(&getpid);
  const crash_async_image* libc = crash_async_image_containing_address(&list, function);
  ASSERT_NE(libc, nullptr);
  EXPECT_NE(libc->name.find("libc"), std::string::npos);
  EXPECT_EQ(libc->format, CRASH_IMAGE_ELF);
  EXPECT_EQ(libc->uuid_length, 20u);  // a SHA-1 build id
  EXPECT_EQ(libc->cpu_type, crash_async_thread_state_native_cpu_type());
  EXPECT_LT(crash_async_image_base(libc), function);

  Named named;
  ASSERT_EQ(crash_async_find_symbol(libc, CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr, function + 1, keepName,
                                    &named),
            CRASH_ESUCCESS);
  EXPECT_EQ(named.address, function);
  EXPECT_NE(std::string(named.name).find("getpid"), std::string::npos) << named.name;
  EXPECT_EQ(crash_async_find_symbol(libc, 0, nullptr, function, keepName, &named), CRASH_ENOTFOUND);

  // The test program is listed under its own path, and its code lies in its span.
  const auto code = reinterpret_cast<std::uintptr_t>(&openModule);
  const crash_async_image* program = crash_async_image_containing_address(&list, code);
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program->name, crash_async_image_list_next(&list, nullptr)->value.name);
  crash_async_image_list_set_reading(&list, false);
  crash_async_image_list_free(&list);
}

TEST(ImageList, HeadersThatAreNoImageAreNotListed) {
  crash_async_image_list list;
  crash_async_image_list_init(&list, self);
  static const char notAnImage[64] = "#!/bin/sh\n";
  char brokenElf[64] =
      "\x7f"
      "ELF";  // right magic, nothing else
  EXPECT_EQ(crash_async_image_list_append(&list, reinterpret_cast<std::uintptr_t>(notAnImage), "text"),
            CRASH_EINVAL);
  EXPECT_EQ(crash_async_image_list_append(&list, reinterpret_cast<std::uintptr_t>(brokenElf), "elf"),
            CRASH_EINVAL);
  EXPECT_EQ(crash_async_image_list_append(&list, 16, "nothing"), CRASH_EINTERNAL);
  crash_async_image_list_set_reading(&list, true);
  EXPECT_EQ(crash_async_image_list_next(&list, nullptr), nullptr);
  crash_async_image_list_set_reading(&list, false);
  crash_async_image_list_free(&list);
}

TEST(ImageList, FollowsALibraryLoadedAndUnloadedWhileItIsRead) {
  crash_async_image_list list;
  crash_async_image_list_init(&list, self);
  crash_async_image_list_sync(&list);

  // A reader that does what the crash path does with every record, also with records of a library
  // that is being unloaded under it: the reads fail, nothing faults.
  std::atomic<bool> done{false};
  std::atomic<int> passes{0};
  std::thread reader([&] {
    while (!done.load()) {
      crash_async_image_list_set_reading(&list, true);
      for (auto* node = crash_async_image_list_next(&list, nullptr); node;
           node = crash_async_image_list_next(&list, node)) {
        const std::uintptr_t pc =
            crash_async_image_base(&node->value) + crash_async_image_size(&node->value) / 2;
        Named named;
        crash_async_find_symbol(&node->value, CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr, pc, keepName,
                                &named);
      }
      crash_async_image_list_set_reading(&list, false);
      passes.fetch_add(1);
    }
  });

  for (int round = 0; round < 40; ++round) {
    Module module = openModule();
    ASSERT_NE(module.enter, nullptr) << dlerror();
    crash_async_image_list_sync(&list);
    ASSERT_TRUE(listed(&list, CRASH_TEST_FRAMES_MODULE)) << round;
    crash_async_image_list_set_reading(&list, true);
    const crash_async_image* image =
        crash_async_image_containing_address(&list, reinterpret_cast<std::uintptr_t>(module.enter));
    Named named;
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(crash_async_find_symbol(image, CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr,
                                      reinterpret_cast<std::uintptr_t>(module.enter), keepName, &named),
              CRASH_ESUCCESS);
    EXPECT_STREQ(named.name, "crash_test_frame_a");
    crash_async_image_list_set_reading(&list, false);
    dlclose(module.handle);
    crash_async_image_list_sync(&list);
    ASSERT_FALSE(listed(&list, CRASH_TEST_FRAMES_MODULE)) << round;
  }
  while (passes.load() < 3) std::this_thread::yield();
  done = true;
  reader.join();
  crash_async_image_list_free(&list);
}

// The calling thread's own registers: the walk starts in the capturing function and reaches the
// module's callers through their frame pointers.
TEST(FrameWalk, CapturesTheCallingThreadAndWalksOnIntoItsCallers) {
  crash_async_image_list list;
  crash_async_image_list_init(&list, self);
  Module module = openModule();
  ASSERT_NE(module.enter, nullptr);
  crash_async_image_list_sync(&list);
  struct Walk {
    crash_async_image_list* list;
    std::uintptr_t local;
    std::uint64_t sp;
    FrameNames names;
  } walk{&list, 0, 0, {}};
  module.enter(
      2, nullptr,
      [](void* context) {
        auto* walk = static_cast<Walk*>(context);
        volatile int here = 0;
        walk->local = reinterpret_cast<std::uintptr_t>(&here);
        crash_async_thread_state_current(
            [](crash_async_thread_state* state, void* context) {
              auto* walk = static_cast<Walk*>(context);
              walk->sp = crash_async_thread_state_get_reg(state, CRASH_REG_SP);
              crash_async_frame_cursor cursor;
              crash_frame_cursor_init(&cursor, crash_async_task_self(), state, walk->list);
              crash_async_image_list_set_reading(walk->list, true);
              walk->names.addWalk(walk->list, &cursor);
              crash_async_image_list_set_reading(walk->list, false);
              return CRASH_ESUCCESS;
            },
            walk);
      },
      &walk);
  // The stack pointer at the capture lies a little below the caller's local variable.
  EXPECT_LT(walk.sp, walk.local);
  EXPECT_LT(walk.local - walk.sp, 4096u);
  EXPECT_NE(walk.names.str().find("crash_test_frame_b,crash_test_frame_a,"), std::string::npos)
      << walk.names.str();
  crash_async_image_list_free(&list);
  dlclose(module.handle);
}

// ---- A real crash in a child process.

crash_async_image_list gImages;
sys::ParkedThreads gParked;
std::atomic<sys::ThreadId> gWorker{0}, gBlocker{0};
volatile int gWorkerState = 0;

FrameNames gReport;  // the child's report

void onCrash(int, siginfo_t*, void* uap) noexcept {
  crash_async_image_list_set_reading(&gImages, true);
  if (sys::parkOtherThreads(&gParked, 200'000'000) != sys::ParkResult::kParked)
    gReport.add("could not park;");
  crash_async_frame_cursor cursor;
  crash_async_thread_state state;
  crash_async_thread_state_mcontext_init(&state, &static_cast<ucontext_t*>(uap)->uc_mcontext);
  crash_frame_cursor_init(&cursor, crash_async_task_self(), &state, &gImages);
  gReport.add("crashed:");
  gReport.addWalk(&gImages, &cursor);
  gReport.add(";");
  for (std::size_t i = 0; i < gParked.count; ++i) {
    const sys::ThreadId thread = gParked.entries[i].thread;
    const bool worker = thread == gWorker.load(), blocker = thread == gBlocker.load();
    if (!worker && !blocker) continue;
    if (crash_frame_cursor_thread_init(&cursor, crash_async_task_self(), &gParked, i, &gImages) !=
        CRASH_FRAME_ESUCCESS) {
      gReport.add(worker ? "worker:no registers;" : "blocker:no registers;");
      continue;
    }
    gReport.add(worker ? "worker:" : "blocker:");
    gReport.addWalk(&gImages, &cursor);
    gReport.add(";");
  }
  sys::releaseParkedThreads(&gParked);
  crash_async_image_list_set_reading(&gImages, false);
  _exit(write(crash_child::gReportFd, gReport.text, gReport.length) == static_cast<ssize_t>(gReport.length)
            ? 0
            : 5);
}

TEST(FrameWalk, RealCrashWalksTheCrashedAndParkedThreadsAndSkipsOneThatBlocksSignals) {
  const auto [got, ended] = crash_child::runInChild([] {
    Module module = openModule();
    if (!module.enter || sys::prepareThreadParking() != 0) _exit(3);
    crash_async_image_list_init(&gImages, crash_async_task_self());
    crash_async_image_list_sync(&gImages);

    std::thread([module] {
      gWorker = sys::threadSelf();
      module.enter(1, &gWorkerState, nullptr, nullptr);
    }).detach();
    std::thread([] {
      sigset_t all;
      sigfillset(&all);
      pthread_sigmask(SIG_BLOCK, &all, nullptr);
      gBlocker = sys::threadSelf();
      for (;;) pause();
    }).detach();
    while (gWorkerState != 1 || gBlocker.load() == 0) std::this_thread::yield();

    struct sigaction action {};
    action.sa_sigaction = onCrash;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &action, nullptr);
    crash_child::crashInModule(module.enter);
    _exit(4);
  });
  ASSERT_EQ(ended, "exit 0") << got;
  const std::string frames = "crash_test_frame_c,crash_test_frame_b,crash_test_frame_a,;";
  EXPECT_EQ(got, "crashed:" + frames + "worker:" + frames + "blocker:no registers;");
}

}  // namespace
}  // namespace crash
