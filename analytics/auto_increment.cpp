#include "analytics/auto_increment.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "analytics/process_wide.h"

namespace analytics {
namespace {

constexpr std::string_view kCountersKey = "autoIncrementCounters";

// The counter number of a key: an integer, as the platform writes it, or decimal text, as earlier
// builds wrote it; a whole real or a boolean is the number it holds, as the platform compares number
// keys by value (1.0 and YES find counter 1). Nothing for any other key or a number outside 32 bits.
std::optional<std::int32_t> counterNumber(const foundation::Value& key) {
  std::optional<std::int64_t> whole;
  if (const std::int64_t* integer = key.integer()) whole = *integer;
  if (const bool* flag = key.boolean()) whole = *flag ? 1 : 0;
  if (const double* real = key.real();
      real && std::trunc(*real) == *real &&
      std::fabs(*real) <= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    whole = static_cast<std::int64_t>(*real);  // in range for the cast; the 32-bit test follows
  if (whole) {
    if (*whole < std::numeric_limits<std::int32_t>::min() ||
        *whole > std::numeric_limits<std::int32_t>::max())
      return std::nullopt;
    return static_cast<std::int32_t>(*whole);
  }
  const std::string* text = key.string();
  if (!text) return std::nullopt;
  std::int32_t number = 0;
  const char* last = text->data() + text->size();
  auto [end, error] = std::from_chars(text->data(), last, number);
  if (error != std::errc() || end != last) return std::nullopt;
  return number;
}

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
  std::vector<plist::DictionaryEntry> counters;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [counter, value] : counters_)
      counters.push_back({foundation::Value(counter), foundation::Value(value), nullptr});
  }
  coder.encodeEntries(kCountersKey, counters);
}

std::shared_ptr<TallyAutoIncrement> TallyAutoIncrement::initWithCoder(plist::Decoder& decoder) {
  auto restored = std::make_shared<TallyAutoIncrement>();
  auto counters = decoder.decodeEntries(kCountersKey, plist::EntryKeys::kAll);
  if (!counters) return decoder.failed() ? nullptr : restored;  // no field, or nil: nothing handed out yet
  for (const auto& entry : *counters) {
    auto counter = counterNumber(entry.key);
    // A fraction, a date or an object names no counter the platform would look up: passed over.
    if (!counter && !entry.key.isString() && !entry.key.integer() && !entry.key.data()) continue;
    auto number = entry.object ? std::nullopt : entry.value.toInteger();
    if (!counter || !number || *number < 0 || *number > std::numeric_limits<std::int32_t>::max()) {
      decoder.fail("a counter is not a 32-bit number");
      return nullptr;
    }
    restored->counters_[*counter] = static_cast<std::int32_t>(*number);
  }
  return restored;
}

}  // namespace analytics
