// The signal-safe pieces under the reporter: the list readers walk while writers change it, memory reads
// that never fault, byte order, string helpers and error values.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "crash_reporter/async_list.h"
#include "crash_reporter/async_util.h"
#include "crash_reporter/errors.h"
#include "crash_reporter/frame_cursor.h"

namespace crash {
namespace {

using List = crash_async_list<int>;

std::vector<int> walk(List* list) {
  std::vector<int> values;
  crash_async_list_set_reading(list, true);
  for (auto* node = crash_async_list_next(list, nullptr); node; node = crash_async_list_next(list, node)) {
    values.push_back(node->value);
  }
  crash_async_list_set_reading(list, false);
  return values;
}

struct ListTest : testing::Test {
  ~ListTest() override { crash_async_list_free(&list); }
  List list;
};

TEST_F(ListTest, AddsAtEitherEndRemovesAnyNodeAndIgnoresStrangers) {
  auto* two = crash_async_list_prepend(&list, 2);  // into an empty list
  auto* three = crash_async_list_append(&list, 3);
  auto* one = crash_async_list_prepend(&list, 1);
  auto* four = crash_async_list_append(&list, 4);
  EXPECT_EQ(walk(&list), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(list.tail->prev, three);

  List other;
  crash_async_list_remove(&list, crash_async_list_append(&other, 9));
  crash_async_list_free(&other);
  crash_async_list_remove(&list, two);
  crash_async_list_remove(&list, four);
  EXPECT_EQ(walk(&list), (std::vector<int>{1, 3}));
  EXPECT_EQ(list.tail, three);
  crash_async_list_remove(&list, one);
  EXPECT_EQ(list.tail->prev, nullptr);
  crash_async_list_remove(&list, three);
  EXPECT_TRUE(walk(&list).empty());
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.free_list, nullptr) << "with nobody reading, removed nodes are freed";
  crash_async_list_append(&list, 5);
  EXPECT_EQ(walk(&list), (std::vector<int>{5}));
}

TEST_F(ListTest, NodeRemovedUnderAReaderIsParkedAndTheReaderWalksOnIntoTheLiveList) {
  crash_async_list_append(&list, 1);
  auto* two = crash_async_list_append(&list, 2);
  crash_async_list_append(&list, 3);

  crash_async_list_set_reading(&list, true);
  auto* standingOn = crash_async_list_next(&list, crash_async_list_next(&list, nullptr));
  ASSERT_EQ(standingOn, two);
  crash_async_list_remove(&list, two);
  EXPECT_EQ(list.free_list, two);
  auto* following = crash_async_list_next(&list, standingOn);
  ASSERT_NE(following, nullptr);
  EXPECT_EQ(following->value, 3);
  EXPECT_EQ(crash_async_list_next(&list, following), nullptr);

  // While the reader is still in, a new node must not reuse the one it may stand on.
  EXPECT_NE(crash_async_list_append(&list, 4), two);
  EXPECT_EQ(standingOn->value, 2);
  crash_async_list_set_reading(&list, false);

  // Once nobody reads, the parked node is reused instead of allocating.
  EXPECT_EQ(crash_async_list_prepend(&list, 5), two);
  EXPECT_EQ(list.free_list, nullptr);
  EXPECT_EQ(walk(&list), (std::vector<int>{5, 1, 3, 4}));
}

TEST_F(ListTest, ReadersOnAnotherThreadOnlySeeListedValuesWhileWritersChurn) {
  // Values 0..99 are added and removed over and over; a reader must only ever see such values and
  // never touch a freed node (which a sanitizer build would report).
  std::atomic<bool> done{false};
  std::atomic<bool> strange{false};
  std::thread reader([&] {
    while (!done.load()) {
      crash_async_list_set_reading(&list, true);
      for (auto* node = crash_async_list_next(&list, nullptr); node;
           node = crash_async_list_next(&list, node)) {
        if (node->value < 0 || node->value >= 100) strange = true;
      }
      crash_async_list_set_reading(&list, false);
    }
  });
  std::vector<crash_async_list_node<int>*> nodes;
  for (int round = 0; round < 200; ++round) {
    for (int value = 0; value < 100; ++value) {
      nodes.push_back(value % 2 ? crash_async_list_append(&list, value)
                                : crash_async_list_prepend(&list, value));
    }
    for (auto* node : nodes) crash_async_list_remove(&list, node);
    nodes.clear();
  }
  done = true;
  reader.join();
  EXPECT_FALSE(strange.load());
  EXPECT_TRUE(walk(&list).empty());
}

const crash_task_t self = crash_async_task_self();

TEST(AsyncAddresses, OffsetsThatWrapAreRefused) {
  const struct {
    std::uintptr_t address;
    std::intptr_t offset;
    bool ok;
    std::uintptr_t result;
  } cases[] = {{0, -1, false, 7},
               {UINTPTR_MAX, 1, false, 7},
               {5, INTPTR_MIN, false, 7},
               {10, -10, true, 0},
               {UINTPTR_MAX - 1, 1, true, UINTPTR_MAX},
               {UINTPTR_MAX, INTPTR_MIN, true, UINTPTR_MAX / 2}};
  for (const auto& c : cases) {
    std::uintptr_t result = 7;
    EXPECT_EQ(crash_async_address_apply_offset(c.address, c.offset, &result), c.ok) << c.address;
    EXPECT_EQ(result, c.result) << c.address;
  }
}

TEST(AsyncTaskRead, ReadsMemoryNamesWhyItCannotAndConvertsByteOrder) {
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
  EXPECT_EQ(crash_async_task_read(self, at + 108, -8, out, 8), CRASH_ESUCCESS);
  EXPECT_STREQ(out, "crashlg");
  EXPECT_EQ(crash_async_task_read(self, unmapped, 0, out, 4), CRASH_ENOTFOUND);
  EXPECT_EQ(crash_async_task_read(self, 0, 0, out, 4), CRASH_ENOTFOUND);
  // A read that starts readable and runs into the protected page fails as a whole.
  EXPECT_EQ(crash_async_task_read(self, prot - 4, 0, out, 8), CRASH_EACCESS);
  // An address plus offset past either end is refused without reading.
  std::memcpy(out, "keep", 4);
  EXPECT_EQ(crash_async_task_read(self, UINTPTR_MAX - 3, 8, out, 4), CRASH_ENOMEM);
  EXPECT_EQ(crash_async_task_read(self, 4, -8, out, 4), CRASH_ENOMEM);
  EXPECT_EQ(std::string(out, 4), "keep");

  std::uint32_t u32 = 0xdeadbeef;
  EXPECT_EQ(crash_async_task_read_uint32(self, &crash_async_byteorder_direct, unmapped, 0, &u32),
            CRASH_ENOTFOUND);
  EXPECT_EQ(u32, 0xdeadbeefu);
  const unsigned char bytes[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  const auto b = reinterpret_cast<std::uintptr_t>(bytes);
  std::uint16_t u16 = 0;
  std::uint64_t u64 = 0;
  ASSERT_EQ(crash_async_task_read_uint16(self, &crash_async_byteorder_swapped, b, 0, &u16), CRASH_ESUCCESS);
  ASSERT_EQ(crash_async_task_read_uint32(self, &crash_async_byteorder_swapped, b, 4, &u32), CRASH_ESUCCESS);
  ASSERT_EQ(crash_async_task_read_uint64(self, &crash_async_byteorder_direct, b, 0, &u64), CRASH_ESUCCESS);
  EXPECT_EQ(std::tuple(u16, u32, u64), std::tuple(0x0102, 0x05060708u, 0x0807060504030201ull));
  munmap(readable, page * 2);
}

int sign(int value) { return (value > 0) - (value < 0); }

TEST(AsyncStrings, CompareAndSetLikeTheCLibrary) {
  const char* words[] = {"", "a", "ab", "abd", "abc", "\xff", "A", "ab\xc3\xa9"};
  for (const char* a : words) {
    for (const char* b : words) {
      EXPECT_EQ(sign(crash_async_strcmp(a, b)), sign(std::strcmp(a, b))) << a << " / " << b;
      for (std::size_t n : {0u, 2u, 10u})
        EXPECT_EQ(sign(crash_async_strncmp(a, b, n)), sign(std::strncmp(a, b, n))) << a << " / " << b << n;
    }
  }
  char buffer[8] = "abcdefg";
  EXPECT_EQ(crash_async_memset(buffer, 0x141, 2), buffer);  // only the low byte counts, as in memset
  EXPECT_STREQ(buffer, "AAcdefg");
}

TEST(CrashReporterErrors, CodesOutsideTheTablesAreUnhandledAndSystemFailuresCarryTheSystemsNumber) {
  EXPECT_STREQ(crash_async_strerror(CRASH_EINVALID_DATA),
               "The input data is in an unknown or invalid format.");
  EXPECT_STREQ(crash_frame_strerror(CRASH_FRAME_EBADFRAME), "Corrupted frame");
  EXPECT_STREQ(crash_frame_strerror(7), "Invalid register");
  for (int code : {10, -1}) EXPECT_STREQ(crash_async_strerror(code), "Unhandled error code");
  for (int code : {8, -1}) EXPECT_STREQ(crash_frame_strerror(code), "Unhandled error code");

  const struct {
    void (*populate)(foundation::Error*, int, std::string);
    foundation::Error (*make)(int, std::string);
    int number;
    const char* domain;
  } cases[] = {{crash_populate_posix_error, crash_make_posix_error, ENOMEM, "NSPOSIXErrorDomain"},
               {crash_populate_mach_error, crash_make_mach_error, 5, "NSMachErrorDomain"}};
  for (const auto& c : cases) {
    c.populate(nullptr, c.number, "no out-pointer: nothing to do");
    foundation::Error error;
    c.populate(&error, c.number, "Could not initialize alternative signal stack");
    EXPECT_EQ(error, c.make(c.number, "Could not initialize alternative signal stack"));
    EXPECT_EQ(std::tuple(error.domain, error.code, error.localizedDescription()),
              std::tuple("CrashReporterErrorDomain", kCrashReporterErrorOperatingSystem,
                         "Could not initialize alternative signal stack"));
    ASSERT_TRUE(error.underlying);
    EXPECT_EQ(std::tuple(error.underlying->domain, error.underlying->code), std::tuple(c.domain, c.number));
  }
}

}  // namespace
}  // namespace crash
