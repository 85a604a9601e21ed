#include "platform/system/signal_stack.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/system/memory.h"

namespace sys {
namespace {

// Each case runs on a fresh thread, so the test process's own threads keep their stacks. The thread
// starts without an alternate stack (a sanitizer runtime would otherwise have given it one).
template <class Body>
void onFreshThread(Body body) {
  std::thread([&] {
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    body();
  }).join();
}

TEST(AlternateSignalStack, FreshThreadGetsAStackOfTheSizeAskedWithAGuardBelow) {
  onFreshThread([] {
    EXPECT_FALSE(currentAlternateSignalStack());
    ASSERT_EQ(ensureAlternateSignalStack(65536), 0);
    const auto stack = currentAlternateSignalStack();
    ASSERT_TRUE(stack);
    EXPECT_EQ(stack->ss_size, 65536u);
    EXPECT_EQ(stack->ss_flags, 0);
    EXPECT_FALSE(isOnAlternateSignalStack());

    const auto low = reinterpret_cast<std::uintptr_t>(stack->ss_sp);
    char byte = 0;
    EXPECT_EQ(readMemory(taskSelf(), low, &byte, 1), MemoryReadResult::kSuccess);
    EXPECT_EQ(readMemory(taskSelf(), low + 65535, &byte, 1), MemoryReadResult::kSuccess);
    EXPECT_EQ(readMemory(taskSelf(), low - 1, &byte, 1), MemoryReadResult::kProtectionFailure);

    // Asking again keeps the stack.
    ASSERT_EQ(ensureAlternateSignalStack(65536), 0);
    EXPECT_EQ(currentAlternateSignalStack()->ss_sp, stack->ss_sp);
  });
}

TEST(AlternateSignalStack, KeepsALargeEnoughStackAndReplacesASmallOne) {
  onFreshThread([] {
    static char theirs[128 * 1024];
    stack_t big{};
    big.ss_sp = theirs;
    big.ss_size = sizeof(theirs);
    ASSERT_EQ(sigaltstack(&big, nullptr), 0);
    ASSERT_EQ(ensureAlternateSignalStack(65536), 0);
    EXPECT_EQ(currentAlternateSignalStack()->ss_sp, theirs);

    static char small[16 * 1024];
    stack_t tiny{};
    tiny.ss_sp = small;
    tiny.ss_size = sizeof(small);
    ASSERT_EQ(sigaltstack(&tiny, nullptr), 0);
    ASSERT_EQ(ensureAlternateSignalStack(65536), 0);
    const auto now = currentAlternateSignalStack();
    ASSERT_TRUE(now);
    EXPECT_NE(now->ss_sp, small);
    EXPECT_EQ(now->ss_size, 65536u);

    // A larger request replaces our own smaller stack too.
    ASSERT_EQ(ensureAlternateSignalStack(131072), 0);
    EXPECT_EQ(currentAlternateSignalStack()->ss_size, 131072u);
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
  });
}

}  // namespace
}  // namespace sys
