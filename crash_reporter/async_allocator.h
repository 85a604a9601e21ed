#pragma once
// A guard-page arena for memory a crash handler may need: one area of whole pages, taken up front,
// handed out by moving a mark forward, never given back piece by piece. Optionally an inaccessible
// region of 16384 bytes lies before and after it, so a write that runs off either end faults at once
// instead of damaging a neighbour. Nothing in the system uses it yet.
//
// Creating and freeing are not safe in a signal handler (they map and unmap memory and print);
// crash_async_allocator_alloc is (an atomic add on the mark).

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "crash_reporter/async_util.h"

namespace crash {

inline constexpr std::size_t CRASH_ASYNC_ALLOCATOR_GUARD_SIZE = 16384;

struct crash_async_allocator {
  std::uintptr_t mapping;        // the whole mapping, guards included
  std::size_t mapping_size;
  std::uintptr_t base;           // the usable area: whole pages
  std::size_t size;
  std::atomic<std::size_t> used;  // bytes handed out from base
};

// Maps an area of at least `initial_size` bytes (rounded up to whole pages), with guards when asked,
// and prints "allocated: <usable bytes>" to standard error. CRASH_EINVAL for a size of 0,
// CRASH_ENOMEM when the memory cannot be had (`*out` is then null).
crash_error_t crash_async_allocator_create(crash_async_allocator** out, std::size_t initial_size,
                                           bool guard_pages);

// `size` bytes of the area, aligned to 16, or null when the area has not that much left (or for 0).
// Safe in a signal handler, from any number of threads at once.
void* crash_async_allocator_alloc(crash_async_allocator* allocator, std::size_t size) noexcept;

// Unmaps the area and frees the record; everything handed out goes with it.
void crash_async_allocator_free(crash_async_allocator* allocator);

}  // namespace crash
