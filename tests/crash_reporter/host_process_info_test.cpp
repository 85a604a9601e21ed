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

TEST(HostInfo, ReadsThreeNumbersAndKeepsWhatItReadOfAnotherForm) {
  foundation::ScopedLogCapture log;
  EXPECT_EQ(TallyCrashHostInfo("19.6.0").darwinVersion(), (CrashHostInfoVersion{19, 6, 0}));
  EXPECT_EQ(TallyCrashHostInfo("6.8.12-45-generic").darwinVersion(), (CrashHostInfoVersion{6, 8, 12}));
  EXPECT_TRUE(log.messages().empty());
  EXPECT_EQ(TallyCrashHostInfo("5").darwinVersion(), (CrashHostInfoVersion{5, 0, 0}));
  EXPECT_EQ(log.messages(), std::vector<std::string>{"Unexpected kern.osrelease string format: 5"});
  EXPECT_EQ(TallyCrashHostInfo("7.2").darwinVersion(), (CrashHostInfoVersion{7, 2, 0}));
  EXPECT_EQ(TallyCrashHostInfo("").darwinVersion(), (CrashHostInfoVersion{0, 0, 0}));
  EXPECT_EQ(TallyCrashHostInfo("x.1.2").darwinVersion(), (CrashHostInfoVersion{0, 0, 0}));
  EXPECT_EQ(log.messages().size(), 4u);
}

TEST(HostInfo, CurrentHostAndSysctlAnswerForTheRunningKernel) {
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
#if defined(__x86_64__)
  ASSERT_TRUE(crash_sysctl_int("hw.cputype", &value));
  EXPECT_EQ(value, 0x1000007);
  ASSERT_TRUE(crash_sysctl_int("hw.cpusubtype", &value));
  EXPECT_EQ(value, 3);
#endif
  value = -5;
  errno = 0;
  EXPECT_FALSE(crash_sysctl_int("sysctl.proc_native", &value));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(value, -5);
}

TEST(ProcessInfo, CurrentProcessAndProcessesThatDoNotExist) {
  const auto info = TallyCrashProcessInfo::currentProcessInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->processID(), getpid());
  EXPECT_EQ(info->parentProcessID(), getppid());
  std::string name;
  std::getline(std::ifstream("/proc/self/comm"), name);
  EXPECT_EQ(info->processName(), name);
  EXPECT_LE(info->startTime().tv_sec, time(nullptr) + 5);
  EXPECT_TRUE(info->startTime().tv_usec >= 0 && info->startTime().tv_usec < 1000000);

  long pidMax = 0;
  ASSERT_TRUE(std::ifstream("/proc/sys/kernel/pid_max") >> pidMax);
  for (pid_t pid : {static_cast<pid_t>(pidMax), 0, -1})
    EXPECT_FALSE(TallyCrashProcessInfo::withProcessID(pid));
}

// A child that sets its command name, is traced by us when the system allows it, and waits for us to
// read its record.
TEST(ProcessInfo, ChildWithAnAwkwardNameAndATracerIsReadCorrectly) {
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  timeval before{};
  gettimeofday(&before, nullptr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(ready[0]);
    close(release[1]);
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
  EXPECT_EQ(info->processID(), pid);
  EXPECT_EQ(info->processName(), "a) b (c");
  EXPECT_EQ(info->parentProcessID(), getpid());
  if (traced == 'T') {
    EXPECT_TRUE(info->isTraced());
  }
  // The kernel counts start times in clock ticks from a boot time kept in whole seconds.
  EXPECT_NEAR(info->startTime().tv_sec, before.tv_sec, 5);
}

}  // namespace
}  // namespace crash
