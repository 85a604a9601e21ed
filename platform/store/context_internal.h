#pragma once
// What the context's files share: the fault batch, the rows of one fetch, and the readers of a
// row's columns. context.cpp keeps the bookkeeping (identity map, changes, rollback, reset),
// context_load.cpp loading rows and faults, context_fetch.cpp fetching, context_save.cpp saving.
// Used only inside the store.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/store/context.h"
#include "platform/store/object.h"
#include "platform/store/query.h"
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
  std::vector<foundation::Value> values;     // when values were asked for: attributes, row by row
  std::vector<std::int64_t> links;           // and to-one keys, row by row
  size_t visited = 0;                        // rows handed to a visitor
};

// Rows loaded per statement when filling faults.
constexpr size_t kLoadChunk = 256;

// A fetch request compiled to SQL, kept by the context for the next run of the same request. What
// it reads depends on the file only through the destination searches made while compiling, so it
// holds while the file's data version is the one it was compiled at.
struct CompiledFetch {
  // What the request was: the predicate is kept, so that its nodes stay and compare by identity.
  const EntityDescription* entity = nullptr;
  std::optional<Predicate> predicate;
  std::vector<SortDescriptor> sorts;
  bool window = false;  // a limit or an offset
  std::string keyPath;
  std::vector<std::string> properties;  // the request's propertiesToFetch
  struct Shape {
    QueryPlan plan;
    // The key path asked for beside each row, if any: a stored attribute (or one reached through a
    // to-one), or a transient derived from stored attributes of the entity.
    bool wantKey = false;
    const AttributeDescription* derived = nullptr;  // the transient, when the key is one
    std::vector<std::string> keyColumns;            // the key's column, or the transient's sources
    std::vector<AttributeType> keyTypes;            // one per key column
    KeyRef keyRef;                                  // the stored key, when it is not derived
    bool loadInline = false;           // objects are read with the rows instead of as faults afterwards
    bool readValues = false;           // the rows' values are read instead of objects
    std::vector<bool> readsAttribute;  // while reading values: by attribute, empty for all
    // While reading values: by attribute, its column after the row's first value column, or -1
    // for one not read (a transient, or one the request leaves out).
    std::vector<int> valueColumnOf;
    int valueColumns = 0;  // how many there are: the links come after them
    std::string sql;           // the statement that reads the stored rows
    unsigned dataVersion = 0;  // of the file when the statement first ran
  } shape;
};

// Reads one column as the attribute's type (null columns read as null).
foundation::Value readColumn(const sql::Statement& s, int column, AttributeType type);
// A stored value as a text attribute reads it (a null is none, any other value without text the
// empty text; the view lives as long as the value), and as a date attribute reads it (a null, a
// text or a blob is none).
std::optional<std::string_view> columnText(sqlite3_value* v);
std::optional<foundation::Date> columnDate(sqlite3_value* v);
// The columns of an object's row, in the order Context::loadRow reads them, each after ", "; with
// `reads` (by attribute), only the attributes it marks and then every link.
std::string objectColumns(const EntityDescription& entity, const std::string& alias,
                          const std::vector<bool>& reads = {});
// "?, ?, ..." with `count` placeholders.
std::string placeholders(size_t count);
foundation::Error closedError();

}  // namespace detail
}  // namespace store
