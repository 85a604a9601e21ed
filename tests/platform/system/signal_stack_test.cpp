#include "platform/system/signal_stack.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/system/memory.h"

namespace sys {
namespace {

// Installs a stack by hand, as other code (or a sanitizer runtime) would; nullptr disables it.
void installStack(char* memory, std::size_t size) {
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = size;
  stack.ss_flags = memory ? 0 : SS_DISABLE;
  ASSERT_EQ(sigaltstack(&stack, nullptr), 0);
}

// Each case runs on a fresh thread without an alternate stack, so the test process's own threads
// keep theirs.
template <class Body>
void onFreshThread(Body body) {
  std::thread([&] {
    installStack(nullptr, 0);
    body();
  }).join();
}

volatile sig_atomic_t gRanOnAlternateStack = -1;

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

    // Asking again keeps the stack, and a handler installed with SA_ONSTACK runs on it.
    ASSERT_EQ(ensureAlternateSignalStack(65536), 0);
    EXPECT_EQ(currentAlternateSignalStack()->ss_sp, stack->ss_sp);
    struct sigaction action {
    }, previous{};
    action.sa_handler = [](int) { gRanOnAlternateStack = isOnAlternateSignalStack() ? 1 : 0; };
    action.sa_flags = SA_ONSTACK;
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    raise(SIGUSR1);
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(gRanOnAlternateStack, 1);
  });
}

TEST(AlternateSignalStack, KeepsALargeEnoughStackAndReplacesASmallOne) {
  onFreshThread([] {
    static char theirs[128 * 1024];
    installStack(theirs, sizeof(theirs));
    ASSERT_EQ(ensureAlternateSignalStack(65536), 0);
    EXPECT_EQ(currentAlternateSignalStack()->ss_sp, theirs);

    static char small[16 * 1024];
    installStack(small, sizeof(small));
    ASSERT_EQ(ensureAlternateSignalStack(65536), 0);
    const auto now = currentAlternateSignalStack();
    ASSERT_TRUE(now);
    EXPECT_NE(now->ss_sp, small);
    EXPECT_EQ(now->ss_size, 65536u);

    // A larger request replaces our own smaller stack too.
    ASSERT_EQ(ensureAlternateSignalStack(131072), 0);
    EXPECT_EQ(currentAlternateSignalStack()->ss_size, 131072u);
    installStack(nullptr, 0);
  });
}

}  // namespace
}  // namespace sys
