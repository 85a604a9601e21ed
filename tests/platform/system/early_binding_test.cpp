#include "platform/system/early_binding.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace sys {
namespace {

std::size_t openDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// Binding makes its calls for nothing: the caller's errno and descriptors are as they were, also when
// it runs again.
TEST(EarlyBinding, LeavesErrnoAndDescriptorsAsTheyWere) {
  const std::size_t before = openDescriptors();
  for (int round = 0; round < 2; ++round) {
    errno = ERANGE;
    bindSignalHandlerCalls();
    EXPECT_EQ(errno, ERANGE) << round;
  }
  EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
}  // namespace sys
