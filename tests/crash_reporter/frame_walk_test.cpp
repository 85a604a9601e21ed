// Register records and stack walks over stacks laid out by hand: the phone's processors cannot run
// here, but their walks are logic over memory reads and must end on every damaged stack.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crash_reporter/frame_cursor.h"
#include "crash_reporter/thread_state.h"

namespace crash {
namespace {

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
std::vector<std::uint64_t> walk(const crash_async_thread_state& state, crash_frame_error_t* end) {
  crash_async_frame_cursor cursor;
  crash_frame_cursor_init(&cursor, self, &state, nullptr);
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

TEST(ThreadState, RegisterNamesFollowEachProcessorsTable) {
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
}

TEST(ThreadState, UnknownProcessorsAndIndicesAreRefusedWithoutEndingTheProcess) {
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

TEST(FrameErrors, CodesPastTheTableAreUnhandled) {
  EXPECT_STREQ(crash_frame_strerror(CRASH_FRAME_EBADFRAME), "Corrupted frame");
  EXPECT_STREQ(crash_frame_strerror(7), "Invalid register");
  for (int code : {8, -1}) EXPECT_STREQ(crash_frame_strerror(code), "Unhandled error code");
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
        crash_async_thread_state_copy(next, current);
        crash_async_thread_state_set_reg(next, CRASH_REG_IP, 0x500000);
        return CRASH_FRAME_ESUCCESS;
      }};
  ASSERT_EQ(crash_frame_cursor_next_with_readers(&cursor, readers, 2), CRASH_FRAME_ESUCCESS);
  std::uint64_t pc;
  crash_frame_cursor_get_reg(&cursor, CRASH_REG_IP, &pc);
  EXPECT_EQ(pc, 0x500000u);
  EXPECT_EQ(crash_frame_cursor_next_with_readers(&cursor, readers, 1), CRASH_FRAME_ENOTSUP);
}

}  // namespace
}  // namespace crash
