#pragma once
// What to fetch: an entity, an optional predicate, sort descriptors, a window, and how eagerly
// the objects are loaded.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/store/predicate.h"

namespace store {

// How strings compare in a sort: the comparison selector of a sort descriptor
// (compare:, caseInsensitiveCompare:, localizedCompare:, localizedCaseInsensitiveCompare:).
// It applies to string attributes only; dates and numbers always sort by their value, so a date
// sorted "with localizedCaseInsensitiveCompare:" sorts chronologically.
enum class StringComparison { Binary, CaseInsensitive, Localized, LocalizedCaseInsensitive };

struct SortDescriptor {
  std::string key;  // an attribute, or a to-one relationship and an attribute of its destination
  bool ascending = true;
  StringComparison comparison = StringComparison::Binary;
};

struct FetchRequest {
  FetchRequest() = default;
  explicit FetchRequest(std::string entity) : entityName(std::move(entity)) {}

  std::string entityName;
  std::optional<Predicate> predicate;
  // Applied in order; objects equal under all of them keep the order of their primary keys.
  std::vector<SortDescriptor> sortDescriptors;
  size_t fetchLimit = 0;  // 0: no limit
  size_t fetchOffset = 0;
  // 0: every fetched object is loaded at once; otherwise objects come back as faults that load
  // in batches of this size when one of them is first touched.
  size_t fetchBatchSize = 0;
  // Unsaved inserts, changes and deletions of the context take part in the fetch.
  bool includesPendingChanges = true;
  // For a fetch of values: the stored attributes read, by name; the others read as null. Empty:
  // every attribute. A fetch of objects reads them whole.
  std::vector<std::string> propertiesToFetch;
};

}  // namespace store
