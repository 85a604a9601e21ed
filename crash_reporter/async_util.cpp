#include "crash_reporter/async_util.h"

namespace crash {
namespace {

std::uint16_t swap16(std::uint16_t value) noexcept { return __builtin_bswap16(value); }
std::uint32_t swap32(std::uint32_t value) noexcept { return __builtin_bswap32(value); }
std::uint64_t swap64(std::uint64_t value) noexcept { return __builtin_bswap64(value); }
std::uint16_t same16(std::uint16_t value) noexcept { return value; }
std::uint32_t same32(std::uint32_t value) noexcept { return value; }
std::uint64_t same64(std::uint64_t value) noexcept { return value; }

template <class T>
crash_error_t readTyped(crash_task_t task, const crash_async_byteorder* byteorder, std::uintptr_t address,
                        std::intptr_t offset, T* result,
                        T (*convert)(const crash_async_byteorder*, T)) noexcept {
  T value;
  const crash_error_t error = crash_async_task_read(task, address, offset, &value, sizeof(value));
  if (error != CRASH_ESUCCESS) return error;
  *result = convert(byteorder, value);
  return CRASH_ESUCCESS;
}

}  // namespace

const crash_async_byteorder crash_async_byteorder_swapped = {swap16, swap32, swap64};
const crash_async_byteorder crash_async_byteorder_direct = {same16, same32, same64};

const char* crash_async_strerror(int error) noexcept {
  switch (error) {
    case CRASH_ESUCCESS:
      return "No error";
    case CRASH_EUNKNOWN:
      return "Unknown error";
    case CRASH_OUTPUT_ERR:
      return "Output file can not be opened (or written to)";
    case CRASH_ENOMEM:
      return "No memory available";
    case CRASH_ENOTSUP:
      return "Operation not supported";
    case CRASH_EINVAL:
      return "Invalid argument";
    case CRASH_EINTERNAL:
      return "Internal error";
    case CRASH_EACCESS:
      return "Access denied";
    case CRASH_ENOTFOUND:
      return "Not found";
    case CRASH_EINVALID_DATA:
      return "The input data is in an unknown or invalid format.";
    default:
      return "Unhandled error code";
  }
}

crash_task_t crash_async_task_self() noexcept { return sys::taskSelf(); }

crash_thread_t crash_async_mach_thread_self() noexcept { return sys::threadSelf(); }

sys::MemoryReadResult crash_async_task_memcpy(crash_task_t task, std::uintptr_t address, void* dest,
                                              std::size_t length) noexcept {
  return sys::readMemory(task, address, dest, length);
}

bool crash_async_address_apply_offset(std::uintptr_t address, std::intptr_t offset,
                                      std::uintptr_t* result) noexcept {
  if (offset >= 0) {
    const auto forward = static_cast<std::uintptr_t>(offset);
    if (forward > UINTPTR_MAX - address) return false;
    *result = address + forward;
  } else {
    // The magnitude of the most negative offset does not fit an intptr_t; take it unsigned.
    const std::uintptr_t backward = ~static_cast<std::uintptr_t>(offset) + 1;
    if (backward > address) return false;
    *result = address - backward;
  }
  return true;
}

crash_error_t crash_async_task_read(crash_task_t task, std::uintptr_t address, std::intptr_t offset,
                                    void* dest, std::size_t length) noexcept {
  std::uintptr_t target;
  if (!crash_async_address_apply_offset(address, offset, &target)) return CRASH_ENOMEM;
  switch (crash_async_task_memcpy(task, target, dest, length)) {
    case sys::MemoryReadResult::kSuccess:
      return CRASH_ESUCCESS;
    case sys::MemoryReadResult::kInvalidAddress:
      return CRASH_ENOTFOUND;
    case sys::MemoryReadResult::kProtectionFailure:
      return CRASH_EACCESS;
    case sys::MemoryReadResult::kFailure:
      break;
  }
  return CRASH_EUNKNOWN;
}

crash_error_t crash_async_task_read_uint8(crash_task_t task, const crash_async_byteorder* byteorder,
                                          std::uintptr_t address, std::intptr_t offset,
                                          std::uint8_t* result) noexcept {
  return readTyped<std::uint8_t>(task, byteorder, address, offset, result,
                                 [](const crash_async_byteorder*, std::uint8_t v) noexcept { return v; });
}

crash_error_t crash_async_task_read_uint16(crash_task_t task, const crash_async_byteorder* byteorder,
                                           std::uintptr_t address, std::intptr_t offset,
                                           std::uint16_t* result) noexcept {
  return readTyped<std::uint16_t>(
      task, byteorder, address, offset, result,
      [](const crash_async_byteorder* order, std::uint16_t v) noexcept { return order->swap16(v); });
}

crash_error_t crash_async_task_read_uint32(crash_task_t task, const crash_async_byteorder* byteorder,
                                           std::uintptr_t address, std::intptr_t offset,
                                           std::uint32_t* result) noexcept {
  return readTyped<std::uint32_t>(
      task, byteorder, address, offset, result,
      [](const crash_async_byteorder* order, std::uint32_t v) noexcept { return order->swap32(v); });
}

crash_error_t crash_async_task_read_uint64(crash_task_t task, const crash_async_byteorder* byteorder,
                                           std::uintptr_t address, std::intptr_t offset,
                                           std::uint64_t* result) noexcept {
  return readTyped<std::uint64_t>(
      task, byteorder, address, offset, result,
      [](const crash_async_byteorder* order, std::uint64_t v) noexcept { return order->swap64(v); });
}

int crash_async_strcmp(const char* s1, const char* s2) noexcept {
  const auto* a = reinterpret_cast<const unsigned char*>(s1);
  const auto* b = reinterpret_cast<const unsigned char*>(s2);
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return static_cast<int>(*a) - static_cast<int>(*b);
}

int crash_async_strncmp(const char* s1, const char* s2, std::size_t n) noexcept {
  const auto* a = reinterpret_cast<const unsigned char*>(s1);
  const auto* b = reinterpret_cast<const unsigned char*>(s2);
  for (; n > 0; --n, ++a, ++b) {
    if (*a != *b || *a == 0) return static_cast<int>(*a) - static_cast<int>(*b);
  }
  return 0;
}

void* crash_async_memcpy(void* dest, const void* source, std::size_t n) noexcept {
  auto* to = static_cast<unsigned char*>(dest);
  const auto* from = static_cast<const unsigned char*>(source);
  // A word at a time while it can: the crash path copies symbol names and stack windows.
  std::size_t i = 0;
  for (; i + sizeof(std::uint64_t) <= n; i += sizeof(std::uint64_t)) {
    std::uint64_t word;
    __builtin_memcpy(&word, from + i, sizeof word);
    __builtin_memcpy(to + i, &word, sizeof word);
  }
  for (; i < n; ++i) to[i] = from[i];
  return dest;
}

void* crash_async_memset(void* dest, int value, std::size_t n) noexcept {
  auto* to = static_cast<unsigned char*>(dest);
  for (std::size_t i = 0; i < n; ++i) to[i] = static_cast<unsigned char>(value);
  return dest;
}

}  // namespace crash
