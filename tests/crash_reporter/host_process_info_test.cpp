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

TEST(HostInfo, ReleaseOfThreeNumbersGivesThem) {
  foundation::ScopedLogCapture log;
  EXPECT_EQ(TallyCrashHostInfo("19.6.0").darwinVersion(), (CrashHostInfoVersion{19, 6, 0}));
  EXPECT_EQ(TallyCrashHostInfo("6.8.12-45-generic").darwinVersion(), (CrashHostInfoVersion{6, 8, 12}));
  EXPECT_TRUE(log.messages().empty());
}

TEST(HostInfo, ReleaseOfAnotherFormKeepsWhatWasReadAndLogs) {
  foundation::ScopedLogCapture log;
  EXPECT_EQ(TallyCrashHostInfo("5").darwinVersion(), (CrashHostInfoVersion{5, 0, 0}));
  EXPECT_TRUE(log.contains("Unexpected kern.osrelease string format: 5"));
  EXPECT_EQ(TallyCrashHostInfo("7.2").darwinVersion(), (CrashHostInfoVersion{7, 2, 0}));
  EXPECT_EQ(TallyCrashHostInfo("").darwinVersion(), (CrashHostInfoVersion{0, 0, 0}));
  EXPECT_EQ(TallyCrashHostInfo("x.1.2").darwinVersion(), (CrashHostInfoVersion{0, 0, 0}));
  EXPECT_EQ(log.messages().size(), 4u);
}

TEST(HostInfo, CurrentHostIsTheRunningKernel) {
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  const auto info = TallyCrashHostInfo::currentHostInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->darwinVersion(), TallyCrashHostInfo(names.release).darwinVersion());
  EXPECT_GT(info->darwinVersion().major, 2);
}

TEST(HostSysctl, AnswersKnownNamesAndRefusesOthers) {
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  char* release = crash_sysctl_string("kern.osrelease");
  ASSERT_NE(release, nullptr);
  EXPECT_STREQ(release, names.release);
  std::free(release);
  char* machine = crash_sysctl_string("hw.machine");
  ASSERT_NE(machine, nullptr);
  EXPECT_STREQ(machine, names.machine);
  std::free(machine);

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

std::string commandName(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

TEST(ProcessInfo, CurrentProcessHasItsIdNameAndParent) {
  const auto info = TallyCrashProcessInfo::currentProcessInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->processID(), getpid());
  EXPECT_EQ(info->parentProcessID(), getppid());
  EXPECT_EQ(info->processName(), commandName(getpid()));
  EXPECT_FALSE(info->processName().empty());
  EXPECT_LE(info->startTime().tv_sec, time(nullptr) + 5);
  EXPECT_GE(info->startTime().tv_usec, 0);
  EXPECT_LT(info->startTime().tv_usec, 1000000);
}

TEST(ProcessInfo, ProcessThatDoesNotExistGivesNothing) {
  std::ifstream in("/proc/sys/kernel/pid_max");
  long pidMax = 0;
  ASSERT_TRUE(in >> pidMax);
  EXPECT_FALSE(TallyCrashProcessInfo::withProcessID(static_cast<pid_t>(pidMax)));
  EXPECT_FALSE(TallyCrashProcessInfo::withProcessID(0));
  EXPECT_FALSE(TallyCrashProcessInfo::withProcessID(-1));
}

// A child that sets its command name, is optionally traced by us, and waits for us to read its record.
TEST(ProcessInfo, ChildWithAnAwkwardNameAndATracerIsReadCorrectly) {
  int ready[2];
  int release[2];
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
  close(ready[1]);
  close(release[0]);
  char traced = 0;
  ASSERT_EQ(read(ready[0], &traced, 1), 1);
  const auto info = TallyCrashProcessInfo::withProcessID(pid);
  close(release[1]);
  close(ready[0]);
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
  EXPECT_GE(info->startTime().tv_sec, before.tv_sec - 5);
  EXPECT_LE(info->startTime().tv_sec, before.tv_sec + 5);
}

}  // namespace
}  // namespace crash
