#include "crash_reporter/async_util.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "crash_reporter/errors.h"

namespace crash {
namespace {

const crash_task_t self = crash_async_task_self();

TEST(AsyncErrors, EveryCodeHasItsTextAndOthersAreUnhandled) {
  const char* texts[] = {"No error",
                         "Unknown error",
                         "Output file can not be opened (or written to)",
                         "No memory available",
                         "Operation not supported",
                         "Invalid argument",
                         "Internal error",
                         "Access denied",
                         "Not found",
                         "The input data is in an unknown or invalid format."};
  for (int code = 0; code <= 9; ++code) EXPECT_STREQ(crash_async_strerror(code), texts[code]) << code;
  EXPECT_STREQ(crash_async_strerror(10), "Unhandled error code");
  EXPECT_STREQ(crash_async_strerror(-1), "Unhandled error code");
}

TEST(AsyncAddresses, OffsetsThatWrapAreRefused) {
  std::uintptr_t result = 7;
  EXPECT_FALSE(crash_async_address_apply_offset(0, -1, &result));
  EXPECT_FALSE(crash_async_address_apply_offset(UINTPTR_MAX, 1, &result));
  EXPECT_FALSE(crash_async_address_apply_offset(5, INTPTR_MIN, &result));
  EXPECT_EQ(result, 7u);
  ASSERT_TRUE(crash_async_address_apply_offset(10, -10, &result));
  EXPECT_EQ(result, 0u);
  ASSERT_TRUE(crash_async_address_apply_offset(UINTPTR_MAX - 1, 1, &result));
  EXPECT_EQ(result, UINTPTR_MAX);
  ASSERT_TRUE(crash_async_address_apply_offset(UINTPTR_MAX, INTPTR_MIN, &result));
  EXPECT_EQ(result, UINTPTR_MAX - (UINTPTR_MAX / 2 + 1));
}

TEST(AsyncTaskRead, ReadsMemoryAndNamesWhyItCannot) {
  // One readable page followed by one that cannot be read, and a page where nothing is mapped.
  const long page = getpagesize();
  auto* readable =
      static_cast<char*>(mmap(nullptr, page * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  mprotect(readable + page, page, PROT_NONE);
  const auto at = reinterpret_cast<std::uintptr_t>(readable), prot = at + page;
  void* gone = mmap(nullptr, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  munmap(gone, page);
  const auto unmapped = reinterpret_cast<std::uintptr_t>(gone);

  std::memcpy(readable + 100, "crashlg", 8);
  char out[8] = {};
  EXPECT_EQ(crash_async_task_read(self, at, 100, out, 8), CRASH_ESUCCESS);
  EXPECT_STREQ(out, "crashlg");
  EXPECT_EQ(crash_async_task_read(self, at + 108, -8, out, 8), CRASH_ESUCCESS);
  EXPECT_EQ(crash_async_task_read(self, unmapped, 0, out, 4), CRASH_ENOTFOUND);
  EXPECT_EQ(crash_async_task_read(self, 0, 0, out, 4), CRASH_ENOTFOUND);
  EXPECT_EQ(crash_async_task_read(self, prot, 0, out, 4), CRASH_EACCESS);
  // A read that starts readable and runs into the protected page fails as a whole.
  EXPECT_EQ(crash_async_task_read(self, prot - 4, 0, out, 8), CRASH_EACCESS);
  EXPECT_EQ(crash_async_task_memcpy(self, prot, out, 4), sys::MemoryReadResult::kProtectionFailure);
  // An address plus offset past either end is refused without reading.
  std::memcpy(out, "keep", 4);
  EXPECT_EQ(crash_async_task_read(self, UINTPTR_MAX - 3, 8, out, 4), CRASH_ENOMEM);
  EXPECT_EQ(crash_async_task_read(self, 4, -8, out, 4), CRASH_ENOMEM);
  EXPECT_EQ(std::string(out, 4), "keep");

  std::uint32_t u32 = 0xdeadbeef;
  EXPECT_EQ(crash_async_task_read_uint32(self, &crash_async_byteorder_direct, unmapped, 0, &u32),
            CRASH_ENOTFOUND);
  EXPECT_EQ(u32, 0xdeadbeefu);
  munmap(readable, page * 2);
}

TEST(AsyncTaskRead, TypedReadsConvertThroughTheByteOrderTable) {
  const unsigned char bytes[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  const auto at = reinterpret_cast<std::uintptr_t>(bytes);
  std::uint8_t u8 = 0;
  std::uint16_t u16 = 0, u16swapped = 0;
  std::uint32_t u32 = 0;
  std::uint64_t u64 = 0, u64swapped = 0;
  const auto* direct = &crash_async_byteorder_direct;
  const auto* swapped = &crash_async_byteorder_swapped;
  ASSERT_EQ(crash_async_task_read_uint8(self, swapped, at, 7, &u8), CRASH_ESUCCESS);
  ASSERT_EQ(crash_async_task_read_uint16(self, direct, at, 0, &u16), CRASH_ESUCCESS);
  ASSERT_EQ(crash_async_task_read_uint16(self, swapped, at, 0, &u16swapped), CRASH_ESUCCESS);
  ASSERT_EQ(crash_async_task_read_uint32(self, swapped, at, 4, &u32), CRASH_ESUCCESS);
  ASSERT_EQ(crash_async_task_read_uint64(self, direct, at, 0, &u64), CRASH_ESUCCESS);
  ASSERT_EQ(crash_async_task_read_uint64(self, swapped, at, 0, &u64swapped), CRASH_ESUCCESS);
  EXPECT_EQ(u8, 0x08);
  EXPECT_EQ(u16, 0x0201);
  EXPECT_EQ(u16swapped, 0x0102);
  EXPECT_EQ(u32, 0x05060708u);
  EXPECT_EQ(u64, 0x0807060504030201ull);
  EXPECT_EQ(u64swapped, 0x0102030405060708ull);
}

int sign(int value) { return (value > 0) - (value < 0); }

TEST(AsyncStrings, CompareAndCopyLikeTheCLibrary) {
  const char* words[] = {"", "a", "ab", "abd", "abc", "\xff", "A", "ab\xc3\xa9"};
  for (const char* a : words) {
    for (const char* b : words) {
      EXPECT_EQ(sign(crash_async_strcmp(a, b)), sign(std::strcmp(a, b))) << a << " / " << b;
      for (std::size_t n : {0u, 2u, 10u}) {
        EXPECT_EQ(sign(crash_async_strncmp(a, b, n)), sign(std::strncmp(a, b, n)))
            << a << " / " << b << " " << n;
      }
    }
  }
  char buffer[8] = "abcdefg";
  EXPECT_EQ(crash_async_memcpy(buffer + 1, "XYZ", 3), buffer + 1);
  EXPECT_EQ(crash_async_memset(buffer, 0x141, 2), buffer);  // only the low byte counts, as in memset
  EXPECT_EQ(crash_async_memcpy(buffer, "q", 0), buffer);
  EXPECT_STREQ(buffer, "AAYZefg");
}

TEST(AsyncThreads, ThreadSelfIsTheKernelThreadId) {
  EXPECT_EQ(crash_async_mach_thread_self(), static_cast<crash_thread_t>(syscall(SYS_gettid)));
  crash_thread_t other = 0;
  std::thread([&] { other = crash_async_mach_thread_self(); }).join();
  EXPECT_NE(other, crash_async_mach_thread_self());
  EXPECT_GT(other, 0);
}

TEST(CrashReporterErrors, CarryTheDomainCodeDescriptionAndUnderlyingError) {
  crash_populate_error(nullptr, kCrashReporterErrorResourceBusy, "ignored");  // no out-pointer: nothing to do
  foundation::Error error;
  crash_populate_error(&error, kCrashReporterErrorResourceBusy,
                       "A CrashReporter instance has already been enabled");
  EXPECT_EQ(error, crash_make_error(3, "A CrashReporter instance has already been enabled"));
  EXPECT_EQ(error.domain, "CrashReporterErrorDomain");
  EXPECT_EQ(error.code, 3);
  EXPECT_EQ(error.localizedDescription(), "A CrashReporter instance has already been enabled");
  EXPECT_EQ(error.underlying, nullptr);

  auto cause = std::make_shared<const foundation::Error>("Other", 5);
  crash_populate_error(&error, kCrashReporterErrorUnknown, "wrapped", cause);
  EXPECT_EQ(*error.underlying, *cause);

  // Operating-system failures: code 1 with the system's number as the underlying error.
  const struct {
    void (*populate)(foundation::Error*, int, std::string);
    foundation::Error (*make)(int, std::string);
    int number;
    const char* description;
    const char* domain;
  } systemCases[] = {{crash_populate_posix_error, crash_make_posix_error, ENOMEM,
                      "Could not initialize alternative signal stack", "NSPOSIXErrorDomain"},
                     {crash_populate_mach_error, crash_make_mach_error, 5,
                      "Failed to set the target task's mach exception ports.", "NSMachErrorDomain"}};
  for (const auto& c : systemCases) {
    c.populate(nullptr, c.number, c.description);
    c.populate(&error, c.number, c.description);
    EXPECT_EQ(error, c.make(c.number, c.description));
    EXPECT_EQ(error.domain, "CrashReporterErrorDomain");
    EXPECT_EQ(error.code, kCrashReporterErrorOperatingSystem);
    EXPECT_EQ(error.localizedDescription(), c.description);
    ASSERT_TRUE(error.underlying);
    EXPECT_EQ(error.underlying->domain, c.domain);
    EXPECT_EQ(error.underlying->code, c.number);
  }
}

}  // namespace
}  // namespace crash
