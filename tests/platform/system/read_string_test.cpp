// Strings read out of memory that may end right at an unmapped page.
#include "platform/system/read_string.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace sys {
namespace {

TEST(ReadString, EndsAtTheTerminatorTheLimitOrTheFirstUnreadableByte) {
  // A readable page followed by an unreadable one; strings are placed against the boundary.
  const std::size_t page = static_cast<std::size_t>(getpagesize());
  auto* pages =
      static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  mprotect(pages + page, page, PROT_NONE);
  char* end = pages + page;
  std::memcpy(pages, "a longer name that is cut", 26);
  const auto check = [](const char* what, const char* at, std::size_t limit, std::size_t capacity,
                        StringReadResult result, const std::string& text) {
    char out[64];
    EXPECT_EQ(readString(taskSelf(), reinterpret_cast<std::uintptr_t>(at), limit, out, capacity), result)
        << what;
    EXPECT_EQ(std::string(out), text) << what;
  };
  check("cut to the capacity", pages, 100, 8, StringReadResult::kTerminated, "a longe");
  check("past the limit", pages, 5, 64, StringReadResult::kUnterminated, "a lon");
  std::memcpy(end - 5, "last", 5);  // the terminator is the page's last byte
  check("at the boundary", end - 5, 100, 64, StringReadResult::kTerminated, "last");
  std::memset(end - 40, 'y', 40);  // runs into the unreadable page
  check("into the unreadable page", end - 40, 100, 64, StringReadResult::kUnreadable, std::string(40, 'y'));
  munmap(pages, 2 * page);
}

}  // namespace
}  // namespace sys
