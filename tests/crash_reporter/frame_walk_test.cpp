// Register records and stack walks over stacks laid out by hand: the phone's processors cannot run
// here, but their walks are logic over memory reads and must end on every damaged stack. Then the
// images really loaded here, and stacks really walked: a test module with frame pointers and exported
// functions is loaded, unloaded, and crashed in, and its functions must be found by name.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "crash_child.h"
#include "crash_reporter/frame_cursor.h"
#include "crash_reporter/image_list.h"
#include "crash_reporter/thread_state.h"
#include "platform/system/elf_image.h"
#include "support/temp_dir.h"

namespace crash {
namespace {

// The test process; a forked child asks for its own.
const crash_task_t self = crash_async_task_self();

crash_async_thread_state stateFor(std::int32_t cpu, std::uint64_t pc, std::uint64_t fp) {
  crash_async_thread_state state;
  EXPECT_EQ(crash_async_thread_state_init(&state, cpu), CRASH_ESUCCESS);
  crash_async_thread_state_set_reg(&state, CRASH_REG_IP, pc);
  crash_async_thread_state_set_reg(&state, CRASH_REG_FP, fp);
  crash_async_thread_state_set_reg(&state, CRASH_REG_SP, fp);
  return state;
}

// Walks from `state` and returns the pcs of every frame and the error that ended the walk.
std::vector<std::uint64_t> walk(const crash_async_thread_state& state, crash_frame_error_t* end,
                                crash_async_image_list* list = nullptr) {
  crash_async_frame_cursor cursor;
  crash_frame_cursor_init(&cursor, self, &state, list);
  std::vector<std::uint64_t> pcs;
  for (int i = 0; i < 64; ++i) {
    *end = crash_frame_cursor_next(&cursor);
    if (*end != CRASH_FRAME_ESUCCESS) break;
    std::uint64_t pc = 0;
    EXPECT_EQ(crash_frame_cursor_get_reg(&cursor, CRASH_REG_IP, &pc), CRASH_FRAME_ESUCCESS);
    pcs.push_back(pc);
    // Only the first frame knows more than its pc and frame pointer.
    std::uint64_t sp;
    EXPECT_EQ(crash_frame_cursor_get_reg(&cursor, CRASH_REG_SP, &sp),
              i == 0 ? CRASH_FRAME_ESUCCESS : CRASH_FRAME_ENOTSUP);
  }
  crash_frame_cursor_free(&cursor);
  return pcs;
}

TEST(ThreadState, RegisterNamesFollowEachProcessorsTableAndUnknownOnesAreRefused) {
  struct Case {
    std::int32_t cpu;
    std::size_t count;
    std::size_t index;
    const char* name;
  } cases[] = {
      {CRASH_CPU_TYPE_ARM64, 34, 0, "pc"},    {CRASH_CPU_TYPE_ARM64, 34, 1, "fp"},
      {CRASH_CPU_TYPE_ARM64, 34, 3, "x0"},    {CRASH_CPU_TYPE_ARM64, 34, 31, "x28"},
      {CRASH_CPU_TYPE_ARM64, 34, 32, "lr"},   {CRASH_CPU_TYPE_ARM64, 34, 33, "cpsr"},
      {CRASH_CPU_TYPE_ARM, 17, 1, "r7"},      {CRASH_CPU_TYPE_ARM, 17, 9, "r6"},
      {CRASH_CPU_TYPE_ARM, 17, 10, "r8"},     {CRASH_CPU_TYPE_ARM, 17, 15, "lr"},
      {CRASH_CPU_TYPE_ARM, 17, 16, "cpsr"},   {CRASH_CPU_TYPE_X86_64, 21, 0, "rip"},
      {CRASH_CPU_TYPE_X86_64, 21, 1, "rbp"},  {CRASH_CPU_TYPE_X86_64, 21, 2, "rsp"},
      {CRASH_CPU_TYPE_X86_64, 21, 16, "r15"}, {CRASH_CPU_TYPE_X86_64, 21, 20, "gs"},
  };
  for (const Case& c : cases) {
    crash_async_thread_state state;
    ASSERT_EQ(crash_async_thread_state_init(&state, c.cpu), CRASH_ESUCCESS);
    EXPECT_EQ(crash_async_thread_state_get_reg_count(&state), c.count);
    EXPECT_STREQ(crash_async_thread_state_get_reg_name(&state, c.index), c.name) << c.cpu << " " << c.index;
    EXPECT_EQ(state.stack_direction, CRASH_STACK_DIRECTION_DOWN);
  }

  // Unknown processors and indices are refused without ending the process.
  crash_async_thread_state state;
  EXPECT_EQ(crash_async_thread_state_init(&state, 18), CRASH_ENOTSUP);
  EXPECT_EQ(crash_async_thread_state_get_reg_count(&state), 0u);

  ASSERT_EQ(crash_async_thread_state_init(&state, CRASH_CPU_TYPE_ARM), CRASH_ESUCCESS);
  EXPECT_EQ(state.greg_size, 4u);
  crash_async_thread_state_set_reg(&state, 17, 5);
  EXPECT_FALSE(crash_async_thread_state_has_reg(&state, 17));
  EXPECT_EQ(crash_async_thread_state_get_reg(&state, 17), 0u);
  EXPECT_EQ(crash_async_thread_state_get_reg_name(&state, 17), nullptr);
  crash_async_thread_state_set_reg(&state, 2, 0x1'2345'6789);  // cut to the register's 32 bits
  EXPECT_EQ(crash_async_thread_state_get_reg(&state, 2), 0x2345'6789u);
}

TEST(ThreadState, VolatileRegistersAreClearedAndPreservedOnesKeptOnlyWhenValid) {
  struct Case {
    std::int32_t cpu;
    std::vector<std::size_t> kept;
  } cases[] = {{CRASH_CPU_TYPE_ARM64, {22, 23, 24, 25, 26, 27, 28, 29, 30, 31}},
               {CRASH_CPU_TYPE_ARM, {1, 7, 8, 9, 10, 12, 13}},
               {CRASH_CPU_TYPE_X86_64, {1, 4, 13, 14, 15, 16}}};
  for (const Case& c : cases) {
    crash_async_thread_state state;
    crash_async_thread_state_init(&state, c.cpu);
    const std::size_t count = crash_async_thread_state_get_reg_count(&state);
    for (std::size_t i = 0; i < count; ++i) crash_async_thread_state_set_reg(&state, i, 100 + i);
    crash_async_thread_state_clear_reg(&state, c.kept.front());
    crash_async_thread_state_clear_volatile_regs(&state);
    for (std::size_t i = 0; i < count; ++i) {
      const bool keep = i != c.kept.front() && std::find(c.kept.begin(), c.kept.end(), i) != c.kept.end();
      EXPECT_EQ(crash_async_thread_state_has_reg(&state, i), keep) << c.cpu << " " << i;
    }
  }
}

TEST(ThreadState, DwarfNumbersMapBothWays) {
  struct Case {
    std::int32_t cpu;
    std::size_t index;
    std::uint64_t dwarf;
  } cases[] = {{CRASH_CPU_TYPE_ARM64, 3, 0},   {CRASH_CPU_TYPE_ARM64, 31, 28}, {CRASH_CPU_TYPE_ARM64, 1, 29},
               {CRASH_CPU_TYPE_ARM64, 32, 30}, {CRASH_CPU_TYPE_ARM64, 2, 31},  {CRASH_CPU_TYPE_ARM, 1, 7},
               {CRASH_CPU_TYPE_ARM, 14, 12},   {CRASH_CPU_TYPE_ARM, 2, 13},    {CRASH_CPU_TYPE_ARM, 0, 15},
               {CRASH_CPU_TYPE_X86_64, 3, 0},  {CRASH_CPU_TYPE_X86_64, 1, 6},  {CRASH_CPU_TYPE_X86_64, 2, 7},
               {CRASH_CPU_TYPE_X86_64, 0, 16}};
  for (const Case& c : cases) {
    crash_async_thread_state state;
    crash_async_thread_state_init(&state, c.cpu);
    std::uint64_t dwarf = 99;
    std::size_t index = 99;
    ASSERT_TRUE(crash_async_thread_state_map_reg_to_dwarf(&state, c.index, &dwarf));
    EXPECT_EQ(dwarf, c.dwarf);
    ASSERT_TRUE(crash_async_thread_state_map_dwarf_to_reg(&state, c.dwarf, &index));
    EXPECT_EQ(index, c.index);
  }
  crash_async_thread_state arm64;
  crash_async_thread_state_init(&arm64, CRASH_CPU_TYPE_ARM64);
  std::uint64_t dwarf;
  EXPECT_FALSE(crash_async_thread_state_map_reg_to_dwarf(&arm64, 0, &dwarf));  // the pc has no number
}

// A stack of 64-bit words: each frame record is {caller's frame pointer, return address}.
TEST(FrameWalk, ASoundStackEndsAtANullReturnAddressAndDamagedOnesEndTheWalk) {
  std::uint64_t stack[8] = {};
  const auto at = [&](int i) { return reinterpret_cast<std::uint64_t>(&stack[i]); };
  struct Case {
    const char* what;
    std::uint64_t words[6];
    std::vector<std::uint64_t> pcs;
    crash_frame_error_t end;
  } cases[] = {
      {"sound",
       {at(2), 0x200000, at(4), 0x300000, at(6), 0},
       {0x100000, 0x200000, 0x300000},
       CRASH_FRAME_ENOFRAME},
      // The second caller's frame lies below the first: the pointer moved backwards.
      {"decreasing",
       {at(4), 0x200000, 0, 0, at(2), 0x300000},
       {0x100000, 0x200000, 0x300000},
       CRASH_FRAME_EBADFRAME},
      // A frame that names itself as its caller would repeat for ever.
      {"loop",
       {at(2), 0x200000, at(2), 0x300000, 0, 0},
       {0x100000, 0x200000, 0x300000},
       CRASH_FRAME_EBADFRAME},
      {"tiny return address",
       {at(2), 0x200000, at(4), 16384, 0, 0},
       {0x100000, 0x200000},
       CRASH_FRAME_ENOFRAME},
      {"null frame pointer",
       {at(2), 0x200000, 0, 0x300000, 0, 0},
       {0x100000, 0x200000, 0x300000},
       CRASH_FRAME_ENOFRAME},
      {"unmapped frame pointer",
       {at(2), 0x200000, 0x10, 0x300000, 0, 0},
       {0x100000, 0x200000, 0x300000},
       CRASH_FRAME_EBADFRAME},
  };
  for (const Case& c : cases) {
    std::memcpy(stack, c.words, sizeof c.words);
    crash_frame_error_t end;
    EXPECT_EQ(walk(stateFor(CRASH_CPU_TYPE_ARM64, 0x100000, at(0)), &end), c.pcs) << c.what;
    EXPECT_EQ(end, c.end) << c.what;
  }
}

// With an image list, a return address in no listed image's code ends the walk: code that keeps no
// frame pointer left some other value where the walk looks for one.
TEST(FrameWalk, AReturnAddressOutsideEveryListedImageEndsTheWalkWhenThereIsAList) {
  crash_async_image_list list;
  crash_async_image_list_init(&list, self);
  crash_async_image_list_sync(&list);
  const auto code = reinterpret_cast<std::uint64_t>(&stateFor);
  std::uint64_t stack[6] = {};
  const auto at = [&](int i) { return reinterpret_cast<std::uint64_t>(&stack[i]); };
  const std::uint64_t words[6] = {at(2), code + 1, at(4), 0x10000, 0, 0};
  std::memcpy(stack, words, sizeof words);
  for (crash_async_image_list* given : {static_cast<crash_async_image_list*>(nullptr), &list}) {
    crash_frame_error_t end;
    const auto pcs = walk(stateFor(CRASH_CPU_TYPE_ARM64, code, at(0)), &end, given);
    const std::vector<std::uint64_t> listed{code, code + 1}, unlisted{code, code + 1, 0x10000};
    EXPECT_EQ(pcs, given ? listed : unlisted);
    EXPECT_EQ(end, CRASH_FRAME_ENOFRAME);
  }
  crash_async_image_list_free(&list);
}

// Stacks read ahead together serve the walks that follow as they were when read, also one whose
// window the end of its mapping cuts short and the one read after it; the next claim of the walk cache
// forgets them, so a stack that changed since is walked as it is now.
TEST(FrameWalk, StacksReadAheadAreWalkedAsReadUntilTheNextClaim) {
  const std::size_t page = static_cast<std::size_t>(getpagesize());
  auto* mapping = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(mapping, MAP_FAILED);
  munmap(mapping + page, page);
  std::uint64_t before[4] = {}, after[4] = {};
  std::uint64_t* stacks[] = {before, reinterpret_cast<std::uint64_t*>(mapping + page - 4 * 8), after};
  // Two frame records on each: the first names the second, which ends the walk.
  std::uint64_t stackPointers[3];
  for (std::size_t i = 0; i < 3; ++i) {
    std::uint64_t* words = stacks[i];
    const std::uint64_t code = 0x500000 + 0x100000 * i;
    words[0] = reinterpret_cast<std::uint64_t>(&words[2]);
    words[1] = code + 0x10;
    words[2] = 0;
    words[3] = code + 0x20;
    stackPointers[i] = reinterpret_cast<std::uint64_t>(words);
  }
  const auto walkAll = [&] {
    std::vector<std::vector<std::uint64_t>> all;
    for (std::uint64_t sp : stackPointers) {
      crash_frame_error_t end;
      all.push_back(walk(stateFor(CRASH_CPU_TYPE_ARM64, 0x400000, sp), &end));
    }
    return all;
  };
  const auto asRead = walkAll();
  ASSERT_EQ(asRead[1], (std::vector<std::uint64_t>{0x400000, 0x600010, 0x600020}));

  ASSERT_TRUE(crash_frame_walk_cache_claim());
  EXPECT_EQ(crash_frame_walk_cache_read_stacks(self, stackPointers, 3), 3u);
  for (std::uint64_t* words : stacks) words[3] += 1;  // the stacks move on after they were read
  EXPECT_EQ(walkAll(), asRead);
  crash_frame_walk_cache_release();

  ASSERT_TRUE(crash_frame_walk_cache_claim());
  const auto now = walkAll();
  crash_frame_walk_cache_release();
  for (std::size_t i = 0; i < 3; ++i) {
    auto moved = asRead[i];
    moved.back() += 1;
    EXPECT_EQ(now[i], moved) << i;
  }
  munmap(mapping, page);
}

#if defined(__x86_64__)
// 32-bit ARM frames hold 32-bit addresses, so the stack must lie in the lowest 4 GB.
TEST(FrameWalk, ArmStackOfThreeFramesThenTheEnd) {
  void* low = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  ASSERT_NE(low, MAP_FAILED);
  auto* stack = static_cast<std::uint32_t*>(low);
  const auto at = [&](int i) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&stack[i]));
  };
  const std::uint32_t words[] = {at(2), 0x20000, at(4), 0x30000, 0, 0};
  std::memcpy(stack, words, sizeof words);
  crash_frame_error_t end;
  EXPECT_EQ(walk(stateFor(CRASH_CPU_TYPE_ARM, 0x10000, at(0)), &end),
            (std::vector<std::uint64_t>{0x10000, 0x20000, 0x30000}));
  EXPECT_EQ(end, CRASH_FRAME_ENOFRAME);
  munmap(low, 4096);
}
#endif

TEST(FrameWalk, ReadersAreTriedInOrderAndAnEmptyListIsInvalid) {
  crash_async_frame_cursor cursor;
  const auto state = stateFor(CRASH_CPU_TYPE_ARM64, 0x100000, 0);
  crash_frame_cursor_init(&cursor, self, &state, nullptr);
  ASSERT_EQ(crash_frame_cursor_next_with_readers(&cursor, nullptr, 0),
            CRASH_FRAME_ESUCCESS);  // the first frame
  EXPECT_EQ(crash_frame_cursor_next_with_readers(&cursor, nullptr, 0), CRASH_FRAME_EINVAL);
  const crash_frame_reader_t readers[] = {
      [](crash_task_t, crash_async_image_list*, const crash_async_thread_state*,
         const crash_async_thread_state*, crash_async_thread_state*) noexcept { return CRASH_FRAME_ENOTSUP; },
      [](crash_task_t, crash_async_image_list*, const crash_async_thread_state* current,
         const crash_async_thread_state*, crash_async_thread_state* next) noexcept {
        // A caller lies further up the stack than its callee.
        crash_async_thread_state_copy(next, current);
        crash_async_thread_state_set_reg(next, CRASH_REG_IP, 0x500000);
        crash_async_thread_state_set_reg(next, CRASH_REG_SP, crash_async_thread_state_get_reg(current, CRASH_REG_SP) + 16);
        return CRASH_FRAME_ESUCCESS;
      }};
  ASSERT_EQ(crash_frame_cursor_next_with_readers(&cursor, readers, 2), CRASH_FRAME_ESUCCESS);
  std::uint64_t pc;
  crash_frame_cursor_get_reg(&cursor, CRASH_REG_IP, &pc);
  EXPECT_EQ(pc, 0x500000u);
  EXPECT_EQ(crash_frame_cursor_next_with_readers(&cursor, readers, 1), CRASH_FRAME_ENOTSUP);
}

TEST(FrameWalk, AReaderThatFindsTheStacksEndIsNotSecondGuessed) {
  crash_async_frame_cursor cursor;
  const auto state = stateFor(CRASH_CPU_TYPE_X86_64, 0x100000, 0x7000);
  crash_frame_cursor_init(&cursor, self, &state, nullptr);
  ASSERT_EQ(crash_frame_cursor_next(&cursor), CRASH_FRAME_ESUCCESS);
  const crash_frame_reader_t readers[] = {
      [](crash_task_t, crash_async_image_list*, const crash_async_thread_state*, const crash_async_thread_state*,
         crash_async_thread_state*) noexcept { return CRASH_FRAME_ENOFRAME; },
      [](crash_task_t, crash_async_image_list*, const crash_async_thread_state* current,
         const crash_async_thread_state*, crash_async_thread_state* next) noexcept {
        crash_async_thread_state_copy(next, current);
        crash_async_thread_state_set_reg(next, CRASH_REG_IP, 0x500000);
        return CRASH_FRAME_ESUCCESS;
      }};
  // The first reader says the outermost function has no caller: the second one, which would make one
  // up, is not asked.
  EXPECT_EQ(crash_frame_cursor_next_with_readers(&cursor, readers, 2), CRASH_FRAME_ENOFRAME);
  EXPECT_EQ(cursor.depth, 1u);
}

#if defined(__x86_64__)
// A return address inside the caller's body, where its frame is set up: there its call-frame rules
// take the CFA from the frame pointer.
__attribute__((noinline)) std::uint64_t returnAddressHere() {
  return reinterpret_cast<std::uint64_t>(__builtin_return_address(0));
}

// A damaged stack whose frames stand still, stepped by the call-frame reader and the frame-pointer
// reader in turn: each step alone would refuse to stay put, so the walk must refuse it as a whole.
TEST(FrameWalk, FramesThatDoNotMoveTowardTheStacksBaseEndTheWalkWhicheverReaderMadeThem) {
  crash_async_image_list list;
  crash_async_image_list_init(&list, self);
  crash_async_image_list_sync(&list);
  const std::uint64_t code = returnAddressHere();
  std::uint64_t stack[8] = {};
  const auto at = [&](int i) { return reinterpret_cast<std::uint64_t>(&stack[i]); };
  const struct {
    const char* what;
    std::uint64_t savedFramePointer;  // at stack[2], the frame pointer; the return address above it
    std::size_t frames;
  } cases[] = {
      // The frame pointer saved there is its own address: every caller would be the same frame.
      {"a frame that is its own caller", at(2), 2},
      // A saved frame pointer below: the caller would lie nearer the top of the stack.
      {"a caller below its callee", at(0), 2},
  };
  for (const auto& c : cases) {
    stack[2] = c.savedFramePointer;
    stack[3] = code;
    crash_async_thread_state state = stateFor(CRASH_CPU_TYPE_X86_64, code, at(2));
    crash_async_thread_state_set_reg(&state, CRASH_REG_SP, at(0));
    crash_async_frame_cursor cursor;
    crash_frame_cursor_init(&cursor, self, &state, &list);
    std::size_t frames = 0;
    crash_frame_error_t end = CRASH_FRAME_ESUCCESS;
    while (frames < 64 && (end = crash_frame_cursor_next(&cursor)) == CRASH_FRAME_ESUCCESS) ++frames;
    EXPECT_EQ(frames, c.frames) << c.what;
    EXPECT_EQ(end, CRASH_FRAME_EBADFRAME) << c.what;
  }
  crash_async_image_list_free(&list);
}
#endif

// ---- Images really loaded, stacks really walked.

using crash_child::Module;
using crash_child::openModule;

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

TEST(ImageList, ListsLoadedImagesWithTheirBuildIdSpanAndDynamicSymbolsAndNoHeaderThatIsNone) {
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

  // Headers that are no image are not listed.
  crash_async_image_list empty;
  crash_async_image_list_init(&empty, self);
  static const char notAnImage[64] = "#!/bin/sh\n";
  char brokenElf[64] = {0x7f, 'E', 'L', 'F'};  // right magic, nothing else
  EXPECT_EQ(crash_async_image_list_append(&empty, reinterpret_cast<std::uintptr_t>(notAnImage), "text"),
            CRASH_EINVAL);
  EXPECT_EQ(crash_async_image_list_append(&empty, reinterpret_cast<std::uintptr_t>(brokenElf), "elf"),
            CRASH_EINVAL);
  EXPECT_EQ(crash_async_image_list_append(&empty, 16, "nothing"), CRASH_EINTERNAL);
  crash_async_image_list_set_reading(&empty, true);
  EXPECT_EQ(crash_async_image_list_next(&empty, nullptr), nullptr);
  crash_async_image_list_set_reading(&empty, false);
  crash_async_image_list_free(&empty);
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

// A few reads tell the crash path that the loader's list is as the last sync saw it, and show every
// library opened or closed since: the look then takes it in.
TEST(ImageList, TheLoaderListIsSeenUnchangedUntilALibraryIsOpenedOrClosed) {
  crash_async_image_list list;
  crash_async_image_list_init(&list, self);
  crash_async_image_list_sync(&list);
  EXPECT_TRUE(sys::loaderListUnchanged(self));
  EXPECT_FALSE(crash_async_image_list_sync_async(&list));

  Module module = openModule();
  ASSERT_NE(module.handle, nullptr) << dlerror();
  EXPECT_FALSE(sys::loaderListUnchanged(self));
  EXPECT_TRUE(crash_async_image_list_sync_async(&list));
  EXPECT_TRUE(listed(&list, CRASH_TEST_FRAMES_MODULE));
  crash_async_image_list_sync(&list);
  EXPECT_TRUE(sys::loaderListUnchanged(self));

  dlclose(module.handle);
  EXPECT_FALSE(sys::loaderListUnchanged(self));
  EXPECT_TRUE(crash_async_image_list_sync_async(&list));
  // Marked unloaded once; a later look finds nothing more to change.
  EXPECT_FALSE(crash_async_image_list_sync_async(&list));
  crash_async_image_list_set_reading(&list, true);
  bool unloaded = false;
  for (auto* node = crash_async_image_list_next(&list, nullptr); node; node = crash_async_image_list_next(&list, node))
    unloaded |= node->value.name == CRASH_TEST_FRAMES_MODULE && node->value.unloaded;
  crash_async_image_list_set_reading(&list, false);
  EXPECT_TRUE(unloaded);
  crash_async_image_list_free(&list);
}

// The crash path's look at the loader reads a link map longer than one gathered read takes, a batch
// at a time, and finds the libraries closed since the list was made wherever they lay in it: first,
// inside a batch, last.
TEST(ImageList, ACrashTimeLookFindsLibrariesClosedAnywhereInALongLoaderList) {
  testing_support::TempDir dir;
  std::vector<void*> handles;
  std::vector<std::string> paths;
  for (int i = 0; i < 70; ++i) {
    paths.push_back((dir / ("frames" + std::to_string(i) + ".so")).string());
    std::filesystem::copy_file(CRASH_TEST_FRAMES_MODULE, paths.back());
    handles.push_back(dlopen(paths.back().c_str(), RTLD_NOW | RTLD_LOCAL));
    ASSERT_NE(handles.back(), nullptr) << dlerror();
  }
  crash_async_image_list list;
  crash_async_image_list_init(&list, self);
  crash_async_image_list_sync(&list);
  EXPECT_FALSE(crash_async_image_list_sync_async(&list));  // nothing changed since

  const std::vector<int> closed = {0, 33, 69};
  for (int i : closed) ASSERT_EQ(dlclose(handles[i]), 0);
  EXPECT_TRUE(crash_async_image_list_sync_async(&list));
  std::vector<std::string> unloaded;
  crash_async_image_list_set_reading(&list, true);
  for (auto* node = crash_async_image_list_next(&list, nullptr); node; node = crash_async_image_list_next(&list, node))
    if (node->value.unloaded) unloaded.push_back(node->value.name);
  crash_async_image_list_set_reading(&list, false);
  EXPECT_EQ(unloaded, (std::vector<std::string>{paths[0], paths[33], paths[69]}));
  EXPECT_FALSE(crash_async_image_list_sync_async(&list));

  for (std::size_t i = 0; i < handles.size(); ++i)
    if (std::find(closed.begin(), closed.end(), static_cast<int>(i)) == closed.end()) dlclose(handles[i]);
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

// Through the C library, which keeps no frame pointers: a walk from inside a qsort comparator reaches
// the function that called qsort, and every caller's pc is a return address looked up before it.
struct QsortWalk {
  crash_async_image_list* list;
  std::vector<std::string> names;
  bool returnAddresses = true;  // every frame after the first is marked as one
};
QsortWalk* gQsortWalk = nullptr;

int compareAndWalk(const void* a, const void* b) {
  if (gQsortWalk && gQsortWalk->names.empty()) {
    crash_async_thread_state_current(
        [](crash_async_thread_state* state, void*) {
          QsortWalk& walk = *gQsortWalk;
          crash_async_frame_cursor cursor;
          crash_frame_cursor_init(&cursor, crash_async_task_self(), state, walk.list);
          crash_async_image_list_set_reading(walk.list, true);
          for (int i = 0; i < 64 && crash_frame_cursor_next(&cursor) == CRASH_FRAME_ESUCCESS; ++i) {
            if (i > 0 && !cursor.frame.return_address) walk.returnAddresses = false;
            const std::uint64_t pc = crash_async_thread_state_get_reg(&cursor.frame, CRASH_REG_IP);
            const std::uint64_t lookup = crash_async_lookup_address(pc, cursor.frame.return_address);
            Named named;
            const crash_async_image* image = crash_async_image_containing_address(walk.list, lookup);
            walk.names.push_back(image && crash_async_find_symbol(image, CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr,
                                                                  lookup, keepName, &named) == CRASH_ESUCCESS
                                     ? named.name
                                     : "?");
          }
          crash_async_image_list_set_reading(walk.list, false);
          return CRASH_ESUCCESS;
        },
        nullptr);
  }
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

extern "C" [[gnu::noinline]] int frame_walk_sorts_through_the_c_library(int* values, std::size_t count) {
  std::qsort(values, count, sizeof *values, compareAndWalk);
  return values[0] + 1;
}

TEST(FrameWalk, GoesOnThroughTheCLibraryByItsCallFrameInformation) {
  SKIP_UNDER_ADDRESS_SANITIZER();
  crash_async_image_list list;
  crash_async_image_list_init(&list, self);
  crash_async_image_list_sync(&list);
  QsortWalk walk{&list, {}};
  gQsortWalk = &walk;
  int values[] = {3, 1, 2};
  EXPECT_EQ(frame_walk_sorts_through_the_c_library(values, 3), 2);
  gQsortWalk = nullptr;
  std::string all;
  for (const auto& name : walk.names) all += name + ",";
  const auto qsort = std::find_if(walk.names.begin(), walk.names.end(),
                                  [](const std::string& name) { return name.starts_with("qsort"); });
  ASSERT_NE(qsort, walk.names.end()) << all;
  const auto caller = std::find(qsort, walk.names.end(), "frame_walk_sorts_through_the_c_library");
  EXPECT_NE(caller, walk.names.end()) << all;
  EXPECT_LE(caller - qsort, 3) << all;  // qsort's own frames, then its caller
  EXPECT_TRUE(walk.returnAddresses);
  crash_async_image_list_free(&list);
}

// ---- A real crash in a child process.

crash_async_image_list gImages;
sys::ParkedThreads gParked;
std::atomic<sys::ThreadId> gWorker{0}, gBlocker{0};
volatile int gWorkerState = 0;

FrameNames gReport;  // the child's report

void onCrash(int, siginfo_t*, void* uap) noexcept {
  crash_async_image_list_set_reading(&gImages, true);
  // Long enough for the spinning worker to answer on a loaded machine; the blocker costs all of it.
  if (sys::parkOtherThreads(&gParked, 1'000'000'000) != sys::ParkResult::kParked)
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
