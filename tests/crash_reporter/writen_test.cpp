// The crash path's write loop against what write(2) may answer: interrupted calls, short writes, a
// failure, a device that takes nothing. This test executable's own write() stands in front of the C
// library's: unarmed it passes every call through, armed it answers from a script first.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "crash_reporter/crash_child.h"
#include "crash_reporter/log_writer.h"
#include "support/temp_dir.h"

namespace {

// One scripted answer: `interrupt` fails with EINTR, `error` fails with that number, otherwise at
// most `bytes` bytes are really written (0: the call takes nothing and returns 0).
struct Answer {
  bool interrupt = false;
  int error = 0;
  std::size_t bytes = 0;
};

std::vector<Answer> gScript;
std::atomic<std::size_t> gNext{0};
std::atomic<bool> gArmed{false};
int gScriptedFd = -1;

}  // namespace

extern "C" ssize_t write(int fd, const void* data, std::size_t length) {
  if (gArmed.load() && fd == gScriptedFd && gNext.load() < gScript.size()) {
    const Answer answer = gScript[gNext++];
    if (answer.interrupt || answer.error != 0) {
      errno = answer.interrupt ? EINTR : answer.error;
      return -1;
    }
    if (answer.bytes == 0) return 0;
    length = length < answer.bytes ? length : answer.bytes;
  }
  return syscall(SYS_write, fd, data, length);
}

namespace crash {
namespace {

TEST(CrashAsyncWriten, RetriesInterruptedAndShortWritesAndStopsOnFailure) {
  const struct {
    const char* name;
    std::vector<Answer> script;
    ssize_t result;
    std::size_t written;  // bytes in the file afterwards
  } cases[] = {
      {"interrupted twice", {{true}, {true}}, 10, 10},
      {"short, interrupted, short", {{false, 0, 3}, {true}, {false, 0, 4}}, 10, 10},
      {"interrupted after a short one", {{false, 0, 6}, {true}}, 10, 10},
      {"failure after a short one", {{false, 0, 4}, {false, EIO}}, -1, 4},
      {"takes nothing", {{false, 0, 0}}, -1, 0},
  };
  testing_support::TempDir dir;
  for (const auto& c : cases) {
    const auto path = dir / "out";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    gScript = c.script;
    gNext = 0;
    gScriptedFd = fd;
    gArmed = true;
    const ssize_t result = crash_async_writen(fd, "0123456789", 10);
    gArmed = false;
    close(fd);
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(gNext.load(), c.script.size()) << c.name;  // every scripted answer was asked for
    EXPECT_EQ(crash_child::readFile(path), std::string("0123456789").substr(0, c.written)) << c.name;
  }
}

}  // namespace
}  // namespace crash
