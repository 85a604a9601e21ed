#pragma once
// The small tools the crash path stands on: its error codes and their texts, reads of process
// memory that never fault, byte-order conversion of values read from loaded images, and string and
// memory functions. Everything in this header is safe to call from a signal handler: nothing here
// allocates, takes a lock or touches state that another thread could hold half-changed.

#include <cstddef>
#include <cstdint>

#include "platform/system/memory.h"

namespace crash {

// Error codes of the crash path (the writer, the image and symbol readers, the memory reads).
enum crash_error_t : int {
  CRASH_ESUCCESS = 0,       // "No error"
  CRASH_EUNKNOWN = 1,       // "Unknown error"
  CRASH_OUTPUT_ERR = 2,     // "Output file can not be opened (or written to)"
  CRASH_ENOMEM = 3,         // "No memory available"
  CRASH_ENOTSUP = 4,        // "Operation not supported"
  CRASH_EINVAL = 5,         // "Invalid argument"
  CRASH_EINTERNAL = 6,      // "Internal error"
  CRASH_EACCESS = 7,        // "Access denied"
  CRASH_ENOTFOUND = 8,      // "Not found"
  CRASH_EINVALID_DATA = 9,  // "The input data is in an unknown or invalid format."
};

// The text of an error code; any code outside the table gives "Unhandled error code".
// Safe in a signal handler.
const char* crash_async_strerror(int error) noexcept;

// A process whose memory the crash path reads (always this one, see crash_async_task_self).
using crash_task_t = sys::Task;
// A kernel thread id.
using crash_thread_t = sys::ThreadId;

// This process. Safe in a signal handler.
crash_task_t crash_async_task_self() noexcept;

// The calling thread's id. Obtaining it holds no reference that would need releasing.
// Safe in a signal handler.
crash_thread_t crash_async_mach_thread_self() noexcept;

// Converters for 16-, 32- and 64-bit values read from an image, which may have been written in the
// other byte order. An image record points at one of the two tables below.
struct crash_async_byteorder {
  std::uint16_t (*swap16)(std::uint16_t value) noexcept;
  std::uint32_t (*swap32)(std::uint32_t value) noexcept;
  std::uint64_t (*swap64)(std::uint64_t value) noexcept;
};
// Reverses the bytes of every value. Safe in a signal handler.
extern const crash_async_byteorder crash_async_byteorder_swapped;
// Returns every value unchanged. Safe in a signal handler.
extern const crash_async_byteorder crash_async_byteorder_direct;

// Copies `length` bytes at `address` of `task` to `dest`, returning the kernel's result.
// Safe in a signal handler.
sys::MemoryReadResult crash_async_task_memcpy(crash_task_t task, std::uintptr_t address, void* dest,
                                              std::size_t length) noexcept;

// Stores address + offset in `result`, or returns false when the sum would fall below 0 or past the
// largest address. Safe in a signal handler.
bool crash_async_address_apply_offset(std::uintptr_t address, std::intptr_t offset,
                                      std::uintptr_t* result) noexcept;

// Reads `length` bytes at address + offset: CRASH_ENOMEM when the sum wraps (nothing is read),
// otherwise CRASH_ESUCCESS, CRASH_ENOTFOUND for an unmapped address, CRASH_EACCESS for a protected
// one and CRASH_EUNKNOWN for any other failure. Safe in a signal handler.
crash_error_t crash_async_task_read(crash_task_t task, std::uintptr_t address, std::intptr_t offset,
                                    void* dest, std::size_t length) noexcept;

// Typed reads: crash_async_task_read of the value's size, then the value passed through the table
// (an 8-bit value needs no conversion). `*result` is left alone on failure. Safe in a signal handler.
crash_error_t crash_async_task_read_uint8(crash_task_t task, const crash_async_byteorder* byteorder,
                                          std::uintptr_t address, std::intptr_t offset,
                                          std::uint8_t* result) noexcept;
crash_error_t crash_async_task_read_uint16(crash_task_t task, const crash_async_byteorder* byteorder,
                                           std::uintptr_t address, std::intptr_t offset,
                                           std::uint16_t* result) noexcept;
crash_error_t crash_async_task_read_uint32(crash_task_t task, const crash_async_byteorder* byteorder,
                                           std::uintptr_t address, std::intptr_t offset,
                                           std::uint32_t* result) noexcept;
crash_error_t crash_async_task_read_uint64(crash_task_t task, const crash_async_byteorder* byteorder,
                                           std::uintptr_t address, std::intptr_t offset,
                                           std::uint64_t* result) noexcept;

// Byte-wise versions of the C library functions, with the same results (bytes compare as unsigned).
// Safe in a signal handler.
int crash_async_strcmp(const char* s1, const char* s2) noexcept;
int crash_async_strncmp(const char* s1, const char* s2, std::size_t n) noexcept;
void* crash_async_memcpy(void* dest, const void* source, std::size_t n) noexcept;
void* crash_async_memset(void* dest, int value, std::size_t n) noexcept;

}  // namespace crash
