#include "platform/system/read_string.h"

namespace sys {

StringReadResult readString(Task task, std::uintptr_t address, std::size_t limit, char* out,
                            std::size_t capacity) noexcept {
  std::size_t copied = 0;
  StringReadResult result = StringReadResult::kUnterminated;
  for (std::size_t at = 0; at < limit;) {
    char chunk[64];
    std::size_t n = limit - at < sizeof chunk ? limit - at : sizeof chunk;
    if (readMemory(task, address + at, chunk, n) != MemoryReadResult::kSuccess) {
      if (n == 1 || readMemory(task, address + at, chunk, 1) != MemoryReadResult::kSuccess) {
        result = StringReadResult::kUnreadable;
        break;
      }
      n = 1;
    }
    std::size_t i = 0;
    while (i < n && chunk[i] != '\0') {
      if (copied + 1 < capacity) out[copied++] = chunk[i];
      ++i;
    }
    if (i < n) {
      result = StringReadResult::kTerminated;
      break;
    }
    at += n;
  }
  out[copied] = '\0';
  return result;
}

}  // namespace sys
