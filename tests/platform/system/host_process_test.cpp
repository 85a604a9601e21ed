#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/system/host.h"
#include "platform/system/process.h"

namespace sys {
namespace {

TEST(Host, KernelNamesAndSysctlNamesComeFromUname) {
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  const auto kernel = kernelNames();
  ASSERT_TRUE(kernel);
  EXPECT_EQ(kernel->release, names.release);
  EXPECT_EQ(sysctlString("kern.osrelease"), std::string(names.release));
  EXPECT_EQ(sysctlString("kern.osversion"), std::string(names.version));
  EXPECT_EQ(sysctlString("hw.machine"), std::string(names.machine));
  errno = 0;
  EXPECT_FALSE(sysctlString("kern.hostname"));
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_FALSE(sysctlInt("hw.memsize"));
  EXPECT_EQ(errno, ENOENT);
}

TEST(Host, ProcessorCountsAndCpuType) {
  const auto logical = logicalProcessorCount();
  ASSERT_TRUE(logical);
  EXPECT_EQ(*logical, sysconf(_SC_NPROCESSORS_CONF));
  EXPECT_EQ(sysctlInt("hw.logicalcpu_max"), logical);
  // Containers may hide the topology; when it is there, cores never outnumber logical processors.
  if (const auto physical = physicalProcessorCount()) {
    EXPECT_GE(*physical, 1);
    EXPECT_LE(*physical, *logical);
    EXPECT_EQ(sysctlInt("hw.physicalcpu_max"), physical);
  }
  EXPECT_EQ(sysctlInt("hw.cputype"), platformCpuType());
  EXPECT_EQ(sysctlInt("hw.cpusubtype"), platformCpuSubtype());
#if defined(__x86_64__)
  EXPECT_EQ(sysctlInt("hw.cputype"), 0x1000007);
  EXPECT_EQ(sysctlInt("hw.cpusubtype"), 3);
#elif defined(__aarch64__)
  EXPECT_EQ(sysctlInt("hw.cputype"), 0x100000c);
  EXPECT_EQ(sysctlInt("hw.cpusubtype"), 0);
#endif
}

TEST(Process, ParsesStatLinesWhoseNameHoldsParenthesesAndSpaces) {
  // pid (comm) state ppid ... with the start time (22nd field) 12345 ticks after boot.
  const std::string line =
      "4242 (we (ird) name)) S 17 4242 4242 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 12345 1000 10 "
      "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0\n";
  const auto record = parseProcessRecord(line, 0, 1700000000, 100);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->pid, 4242);
  EXPECT_EQ(record->name, "we (ird) name)");
  EXPECT_EQ(record->parentPid, 17);
  EXPECT_FALSE(record->traced);
  EXPECT_EQ(record->startTime.tv_sec, 1700000123);
  EXPECT_EQ(record->startTime.tv_usec, 450000);
  EXPECT_TRUE(parseProcessRecord(line, 99, 1700000000, 100)->traced);
}

TEST(Process, MalformedStatLinesGiveNothing) {
  const std::string fields = " S 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 5";  // the start time is field 22
  for (const std::string& bad :
       {std::string(), std::string("12 (name S 1 2 3"), std::string("12 (name) S 1 2 3"), "x (n)" + fields,
        "1 (n) S p" + fields.substr(4)}) {
    EXPECT_FALSE(parseProcessRecord(bad, 0, 0, 100)) << bad;
  }
  EXPECT_FALSE(parseProcessRecord("1 (n)" + fields, 0, 0, 0));  // no clock ticks
  EXPECT_TRUE(parseProcessRecord("1 (n)" + fields, 0, 0, 100));
}

TEST(Process, OwnRecordAndExecutablePath) {
  const auto record = processRecord(getpid());
  ASSERT_TRUE(record);
  EXPECT_EQ(record->pid, getpid());
  EXPECT_EQ(record->parentPid, getppid());
  EXPECT_FALSE(processRecord(0));
  const auto path = executablePath();
  ASSERT_TRUE(path);
  EXPECT_EQ(std::filesystem::path(*path).filename(), "test_platform_system");
  EXPECT_TRUE(std::filesystem::path(*path).is_absolute());
}

}  // namespace
}  // namespace sys
