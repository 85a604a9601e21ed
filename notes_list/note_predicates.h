#pragma once
// The parts of the notes list's fetches that the list and its day statistics share.

#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/store/predicate.h"

namespace notes_list {

// One of our own fixed formats parsed; a parse failure would be a programming fault, and matching
// nothing is the safe answer to it.
inline store::Predicate fixedPredicate(std::string_view format, std::vector<foundation::Value> arguments) {
  auto predicate = store::Predicate::parse(format, std::move(arguments));
  return predicate.ok() ? predicate.value() : store::Predicate::falsePredicate();
}

inline foundation::Value stringArray(const std::vector<std::string>& items) {
  foundation::Array array;
  for (const auto& item : items) array.emplace_back(item);
  return foundation::Value(std::move(array));
}

}  // namespace notes_list
