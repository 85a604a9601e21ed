#include "crash_reporter/async_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace crash
