#include "platform/system/signal_stack.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace sys {
namespace {

// The stack this file mapped for the current thread, removed when the thread ends.
struct ThreadStack {
  void* mapping = nullptr;
  std::size_t mappingSize = 0;
  void* base = nullptr;

  ~ThreadStack() { release(); }

  void release() {
    if (!mapping) return;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == base && !(current.ss_flags & SS_ONSTACK)) {
      stack_t off{};
      off.ss_flags = SS_DISABLE;
      sigaltstack(&off, nullptr);
    }
    munmap(mapping, mappingSize);
    mapping = nullptr;
    base = nullptr;
  }
};

thread_local ThreadStack tStack;

}  // namespace

int ensureAlternateSignalStack(std::size_t size) {
  stack_t current{};
  if (sigaltstack(nullptr, &current) != 0) return errno;
  if (!(current.ss_flags & SS_DISABLE) && current.ss_size >= size) return 0;
  if (current.ss_flags & SS_ONSTACK) return EPERM;

  const std::size_t page = static_cast<std::size_t>(getpagesize());
  const std::size_t mappingSize = page + (size + page - 1) / page * page;
  // Populated now, so that a crash handler does not stop for a page fault at every page of its stack.
  void* mapping =
      mmap(nullptr, mappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (mapping == MAP_FAILED) return errno;
  if (mprotect(mapping, page, PROT_NONE) != 0) {
    const int error = errno;
    munmap(mapping, mappingSize);
    return error;
  }
  // The top of the stack lies at the end of the mapping; the guard page sits below its lowest byte.
  void* base = static_cast<char*>(mapping) + mappingSize - size;
  stack_t stack{};
  stack.ss_sp = base;
  stack.ss_size = size;
  stack.ss_flags = 0;
  if (sigaltstack(&stack, nullptr) != 0) {
    const int error = errno;
    munmap(mapping, mappingSize);
    return error;
  }
  tStack.release();  // a smaller stack of ours that was just replaced
  tStack.mapping = mapping;
  tStack.mappingSize = mappingSize;
  tStack.base = base;
  return 0;
}

std::optional<stack_t> currentAlternateSignalStack() noexcept {
  stack_t current{};
  if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE)) return std::nullopt;
  return current;
}

bool isOnAlternateSignalStack() noexcept {
  stack_t current{};
  return sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_ONSTACK);
}

}  // namespace sys
