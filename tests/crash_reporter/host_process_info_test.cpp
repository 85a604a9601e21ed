#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "crash_reporter/host_info.h"
#include "crash_reporter/process_info.h"
#include "platform/foundation/log.h"

namespace crash {
namespace {

TEST(HostInfo, ReadsThreeNumbersKeepsWhatItReadOfAnotherFormAndAnswersForTheRunningKernel) {
  const std::tuple<const char*, CrashHostInfoVersion, bool> cases[] = {
      {"19.6.0", {19, 6, 0}, false},
      {"6.8.12-45-generic", {6, 8, 12}, false},
      {"5", {5, 0, 0}, true},
      {"7.2", {7, 2, 0}, true},
      {"x.1.2", {0, 0, 0}, true}};
  for (const auto& [release, version, logged] : cases) {
    foundation::ScopedLogCapture log;
    EXPECT_EQ(TallyCrashHostInfo(release).darwinVersion(), version) << release;
    EXPECT_EQ(log.contains(std::string("Unexpected kern.osrelease string format: ") + release), logged);
  }
  // The current host and sysctl answer for the running kernel.
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(TallyCrashHostInfo::currentHostInfo()->darwinVersion(),
            TallyCrashHostInfo(names.release).darwinVersion());
  for (auto [name, expected] :
       {std::pair{"kern.osrelease", names.release}, std::pair{"hw.machine", names.machine}}) {
    char* value = crash_sysctl_string(name);
    ASSERT_NE(value, nullptr) << name;
    EXPECT_STREQ(value, expected);
    std::free(value);
  }
  errno = 0;
  EXPECT_EQ(crash_sysctl_string("kern.nonsense"), nullptr);
  EXPECT_EQ(errno, ENOENT);

  std::int32_t value = -5;
  ASSERT_TRUE(crash_sysctl_int("hw.logicalcpu_max", &value));
  EXPECT_EQ(value, sysconf(_SC_NPROCESSORS_CONF));
  value = -5;
  errno = 0;
  EXPECT_FALSE(crash_sysctl_int("sysctl.proc_native", &value));
  EXPECT_EQ(std::tuple(errno, value), std::tuple(ENOENT, -5));
}

// A child that sets an awkward command name, is traced by us when the system allows it, and waits
// for us to read its record; then processes that do not exist.
TEST(ProcessInfo, ChildWithAnAwkwardNameAndATracerAndProcessesThatDoNotExist) {
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  timeval before{};
  gettimeofday(&before, nullptr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(ready[0]);
    close(release[1]);  // so that our read ends when the parent closes its end
    prctl(PR_SET_NAME, "a) b (c");
    const char traced = ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0 ? 'T' : 'N';
    (void)!write(ready[1], &traced, 1);
    char ignored;
    (void)!read(release[0], &ignored, 1);
    _exit(0);
  }
  char traced = 0;
  ASSERT_EQ(read(ready[0], &traced, 1), 1);
  const auto info = TallyCrashProcessInfo::withProcessID(pid);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ASSERT_TRUE(info);
  EXPECT_EQ(std::tuple(info->processID(), info->processName(), info->parentProcessID()),
            std::tuple(pid, "a) b (c", getpid()));
  EXPECT_EQ(info->isTraced(), traced == 'T');
  // The kernel counts start times in clock ticks from a boot time kept in whole seconds.
  EXPECT_NEAR(info->startTime().tv_sec, before.tv_sec, 5);
  EXPECT_TRUE(info->startTime().tv_usec >= 0 && info->startTime().tv_usec < 1000000);

  EXPECT_EQ(TallyCrashProcessInfo::currentProcessInfo()->parentProcessID(), getppid());
  long pidMax = 0;
  ASSERT_TRUE(std::ifstream("/proc/sys/kernel/pid_max") >> pidMax);
  for (pid_t gone : {static_cast<pid_t>(pidMax), 0, -1})
    EXPECT_FALSE(TallyCrashProcessInfo::withProcessID(gone));
}

}  // namespace
}  // namespace crash
