#include "crash_reporter/async_allocator.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <new>

namespace crash {

crash_error_t crash_async_allocator_create(crash_async_allocator** out, std::size_t initial_size,
                                           bool guard_pages) {
  *out = nullptr;
  if (initial_size == 0) return CRASH_EINVAL;
  const std::size_t page = static_cast<std::size_t>(getpagesize());
  if (initial_size > SIZE_MAX - 2 * CRASH_ASYNC_ALLOCATOR_GUARD_SIZE - page) return CRASH_ENOMEM;
  const std::size_t size = (initial_size + page - 1) / page * page;
  const std::size_t guard = guard_pages ? CRASH_ASYNC_ALLOCATOR_GUARD_SIZE : 0;
  const std::size_t mappingSize = size + 2 * guard;
  void* mapping = mmap(nullptr, mappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return CRASH_ENOMEM;
  const auto start = reinterpret_cast<std::uintptr_t>(mapping);
  if (guard != 0 && (mprotect(mapping, guard, PROT_NONE) != 0 ||
                     mprotect(reinterpret_cast<void*>(start + guard + size), guard, PROT_NONE) != 0)) {
    munmap(mapping, mappingSize);
    return CRASH_ENOMEM;
  }
  auto* allocator = new (std::nothrow) crash_async_allocator{start, mappingSize, start + guard, size, {0}};
  if (!allocator) {
    munmap(mapping, mappingSize);
    return CRASH_ENOMEM;
  }
  std::fprintf(stderr, "allocated: %lu\n", static_cast<unsigned long>(size));
  *out = allocator;
  return CRASH_ESUCCESS;
}

void* crash_async_allocator_alloc(crash_async_allocator* allocator, std::size_t size) noexcept {
  constexpr std::size_t kAlignment = 16;
  if (size == 0 || size > allocator->size) return nullptr;
  const std::size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
  std::size_t used = allocator->used.load(std::memory_order_relaxed);
  do {
    if (rounded > allocator->size - used) return nullptr;
  } while (!allocator->used.compare_exchange_weak(used, used + rounded, std::memory_order_relaxed));
  return reinterpret_cast<void*>(allocator->base + used);
}

void crash_async_allocator_free(crash_async_allocator* allocator) {
  if (!allocator) return;
  munmap(reinterpret_cast<void*>(allocator->mapping), allocator->mapping_size);
  delete allocator;
}

}  // namespace crash
