#include "analytics/auto_increment.h"

#include <cstdlib>
#include <limits>

#include "analytics/process_wide.h"

namespace analytics {
namespace {

constexpr std::string_view kCountersKey = "autoIncrementCounters";

ProcessWide<TallyAutoIncrement>& slot() {
  static ProcessWide<TallyAutoIncrement> s;
  return s;
}

}  // namespace

std::shared_ptr<TallyAutoIncrement> TallyAutoIncrement::instance() {
  return slot().getOrMake([] { return std::make_shared<TallyAutoIncrement>(); });
}

void TallyAutoIncrement::setWatchInstance(std::shared_ptr<TallyAutoIncrement> counters) {
  slot().reset(std::move(counters));
}

void TallyAutoIncrement::registerClass(plist::ClassRegistry& registry) {
  registry.add(std::string(kClassName),
               [](plist::Decoder& decoder) -> plist::ObjectPtr { return initWithCoder(decoder); });
}

std::int32_t TallyAutoIncrement::nextCountFor(std::int32_t counter) {
  std::lock_guard lock(mutex_);
  std::int32_t& value = counters_[counter];
  // The numbers travel as signed 32-bit values: after the largest one the count starts again at 1.
  value = value == std::numeric_limits<std::int32_t>::max() ? 1 : value + 1;
  return value;
}

void TallyAutoIncrement::resetAll() {
  std::lock_guard lock(mutex_);
  counters_.clear();
}

void TallyAutoIncrement::encodeWithCoder(plist::Coder& coder) const {
  foundation::Dictionary counters;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [counter, value] : counters_)
      counters.set(std::to_string(counter), foundation::Value(value));
  }
  coder.encodeValue(kCountersKey, foundation::Value(std::move(counters)));
}

std::shared_ptr<TallyAutoIncrement> TallyAutoIncrement::initWithCoder(plist::Decoder& decoder) {
  auto restored = std::make_shared<TallyAutoIncrement>();
  foundation::Value stored = decoder.decodeValue(kCountersKey);
  if (stored.isNull()) return restored;
  const foundation::Dictionary* counters = stored.dictionary();
  if (counters == nullptr) {
    decoder.fail("the counters are no dictionary");
    return nullptr;
  }
  for (const auto& [name, value] : *counters) {
    char* end = nullptr;
    long counter = std::strtol(name.c_str(), &end, 10);
    auto number = value.toInteger();
    if (name.empty() || *end != '\0' || !number || counter < std::numeric_limits<std::int32_t>::min() ||
        counter > std::numeric_limits<std::int32_t>::max() || *number < 0 ||
        *number > std::numeric_limits<std::int32_t>::max()) {
      decoder.fail("a counter is not a 32-bit number");
      return nullptr;
    }
    restored->counters_[static_cast<std::int32_t>(counter)] = static_cast<std::int32_t>(*number);
  }
  return restored;
}

}  // namespace analytics
