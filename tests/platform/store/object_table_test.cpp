#include "platform/store/object_table.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>

namespace store {
namespace {

using Table = KeyTable<std::shared_ptr<std::int64_t>>;

// The table holds what a map would, through growth, erasure from the middle of runs and keys that
// share a home, with keys of every sign.
TEST(ObjectTable, HoldsWhatAMapHolds) {
  Table table;
  std::map<std::int64_t, std::int64_t> expected;
  std::mt19937_64 random(7);
  const auto check = [&] {
    ASSERT_EQ(table.size(), expected.size());
    for (const auto& [key, value] : expected) {
      const auto* found = table.find(key);
      ASSERT_TRUE(found) << key;
      EXPECT_EQ(**found, value);
    }
    std::size_t visited = 0;
    table.forEach([&](std::int64_t key, const std::shared_ptr<std::int64_t>& value) {
      ++visited;
      EXPECT_EQ(expected.at(key), *value);
    });
    EXPECT_EQ(visited, expected.size());
  };
  for (int round = 0; round < 20000; ++round) {
    // Few distinct keys, so that runs form and are cut; sequences as a store hands them out.
    const std::int64_t key = round % 3 == 0 ? round / 3 : static_cast<std::int64_t>(random() % 512) - 256;
    if (random() % 3 == 0) {
      table.erase(key);
      expected.erase(key);
      EXPECT_FALSE(table.find(key));
    } else {
      auto& slot = table.slot(key);
      if (!slot) slot = std::make_shared<std::int64_t>(0);
      *slot = round;
      expected[key] = round;
    }
    if (round % 997 == 0) check();
  }
  check();
  table.reserve(100000);
  check();
  table.clear();
  EXPECT_EQ(table.size(), 0u);
  EXPECT_FALSE(table.find(1));
  table.erase(1);
  *(table.slot(INT64_MIN) = std::make_shared<std::int64_t>(0)) = 5;
  EXPECT_EQ(**table.find(INT64_MIN), 5);
}

// Keys a table size apart, or far beyond it, share a home only by chance: a table filled with runs
// at such distances finds every key, through growth and erasure, and misses what it lacks.
TEST(ObjectTable, KeysFarApartAndInRuns) {
  Table table;
  std::map<std::int64_t, std::int64_t> expected;
  for (std::int64_t run = 0; run < 40; ++run)
    for (std::int64_t step = 0; step < 50; ++step) {
      const std::int64_t key = run * 4096 + step + (run % 2 ? (std::int64_t{1} << 40) : 0);
      table.slot(key) = std::make_shared<std::int64_t>(key);
      expected[key] = key;
    }
  for (auto it = expected.begin(); it != expected.end();) {
    if (it->first % 3 == 0) {
      table.erase(it->first);
      it = expected.erase(it);
    } else {
      ++it;
    }
  }
  ASSERT_EQ(table.size(), expected.size());
  for (const auto& [key, value] : expected) {
    const auto* found = table.find(key);
    ASSERT_TRUE(found) << key;
    EXPECT_EQ(**found, value);
  }
  for (std::int64_t key : {std::int64_t{3}, std::int64_t{4096 * 41}, std::int64_t{-1}, INT64_MAX})
    EXPECT_FALSE(table.find(key)) << key;
}

// What an erased entry's release does finds the table whole: every other key still there.
TEST(ObjectTable, ReleasesAnErasedEntryOnlyOnceTheTableIsWhole) {
  Table table;
  for (std::int64_t key = 0; key < 64; ++key) table.slot(key) = std::make_shared<std::int64_t>(key);
  int seen = 0;
  table.slot(64) = std::shared_ptr<std::int64_t>(new std::int64_t(64), [&](std::int64_t* value) {
    for (std::int64_t key = 0; key < 64; ++key) seen += table.find(key) != nullptr;
    seen += table.find(64) != nullptr;
    delete value;
  });
  table.erase(64);
  EXPECT_EQ(seen, 64);
}

}  // namespace
}  // namespace store
