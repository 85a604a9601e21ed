#pragma once
// What the context's files share: the fault batch, the rows of one fetch, and the readers of a
// row's columns. context.cpp keeps the bookkeeping (identity map, changes, rollback, reset),
// context_load.cpp loading rows and faults, context_fetch.cpp fetching, context_save.cpp saving.
// Used only inside the store.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/store/context.h"
#include "platform/store/object.h"
#include "platform/store/sqlite.h"

namespace store {

// Faults handed out together (by one fetch or one to-many read) load together.
struct Object::FaultBatch {
  std::vector<std::weak_ptr<Object>> members;
  size_t batchSize = 0;
};

namespace detail {

struct FetchRows {
  const EntityDescription* entity = nullptr;
  std::vector<std::int64_t> keys;
  std::vector<foundation::Value> keyValues;  // one per row while unsaved changes are merged in
  std::vector<Context::KeyRun> keyRuns;      // runs of equal keys when a key path was asked for
  std::vector<ObjectPtr> objects;            // when objects were asked for
};

// Rows loaded per statement when filling faults.
constexpr size_t kLoadChunk = 256;

// Reads one column as the attribute's type (null columns read as null).
foundation::Value readColumn(const sql::Statement& s, int column, AttributeType type);
// The columns of an object's row, in the order Context::loadRow reads them, each after ", ".
std::string objectColumns(const EntityDescription& entity, const std::string& alias);
// "?, ?, ..." with `count` placeholders.
std::string placeholders(size_t count);
foundation::Error closedError();

}  // namespace detail
}  // namespace store
