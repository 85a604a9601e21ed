#pragma once
// Reading a zero-terminated string out of a process's memory without faulting: the names in loaded
// images' symbol tables and class metadata. The string may end right before an unmapped page, so
// reads go in small chunks and fall back to single bytes where a chunk cannot be read.

#include <cstddef>
#include <cstdint>

#include "platform/system/memory.h"

namespace sys {

enum class StringReadResult {
  kTerminated,    // a terminator lies within the limit
  kUnterminated,  // `limit` bytes were read without one
  kUnreadable,    // a byte before the terminator and within the limit could not be read
};

// Reads the string at `address`, looking for its terminator within `limit` bytes. Copies its first
// `capacity - 1` bytes to `out` and ends them with a zero (`capacity` must be at least 1), whatever
// the result. Safe in a signal handler (readMemory only, no allocation).
StringReadResult readString(Task task, std::uintptr_t address, std::size_t limit, char* out,
                            std::size_t capacity) noexcept;

}  // namespace sys
