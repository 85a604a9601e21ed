#pragma once
// Compiles fetch requests against an entity: predicates to parameterised SQL (values become
// bindings, never SQL text), sort descriptors to ORDER BY, key paths to joined columns; and
// evaluates the same compiled predicate on objects in memory. Used only inside the store.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/store/fetch_request.h"
#include "platform/store/model.h"
#include "platform/store/object.h"

namespace store::sql {
class Statement;
}

namespace store::detail {

// A key path resolved against an entity: an attribute or a to-one link, of the entity itself or
// of the destination of one of its to-one relationships.
struct KeyRef {
  const RelationshipDescription* hop = nullptr;     // the to-one followed first, if any
  const AttributeDescription* attribute = nullptr;  // the attribute read
  const RelationshipDescription* link = nullptr;    // or the to-one whose key is read
  const std::string& columnName() const { return attribute ? attribute->column : link->column; }
};

struct CompiledExpression {
  bool isKey = false;
  KeyRef key;
  foundation::Value constant;  // converted to the compared attribute's type
};

struct CompiledNode {
  PredicateNode::Kind kind = PredicateNode::Kind::True;
  std::vector<CompiledNode> children;
  Operator op = Operator::Equal;
  unsigned options = 0;
  CompiledExpression lhs, rhs;  // after compiling, a key (if any) is on the left
};

struct CompiledSort {
  KeyRef key;
  bool ascending = true;
  StringComparison comparison = StringComparison::Binary;
};

struct QueryPlan {
  const EntityDescription* entity = nullptr;
  std::vector<const RelationshipDescription*> hops;   // every to-one a key path follows
  std::vector<const RelationshipDescription*> joins;  // those joined as columns: alias t<i + 1>
  std::unique_ptr<CompiledNode> predicate;            // null: every row
  std::vector<CompiledSort> sorts;
  std::string where;                        // SQL condition, "" for none
  std::vector<foundation::Value> bindings;  // for the ? of `where`, in order
  std::string orderBy;                      // ORDER BY clause, ending with t0.Z_PK

  std::string fromClause() const;
  // Resolves a key path against the entity.
  foundation::Result<KeyRef> resolve(const std::string& path, bool allowLink);
  // The SQL column of a key ("t0.ZNAME"), joining the destination of its hop when needed.
  std::string columnOf(const KeyRef& key);
};

// The primary keys of the rows of `table` (aliased "s") that meet `condition`, whose ? take
// `bindings` in order. The store answers it while compiling, so that a comparison through a to-one
// ("noteToBaby.baby_Name == %@") becomes a comparison of the link column itself
// ("t0.ZNOTETOBABY = ?"), which an index that starts with the link both searches and orders.
using DestinationSearch = std::function<foundation::Result<std::vector<std::int64_t>>(
    const std::string& table, const std::string& condition, const std::vector<foundation::Value>& bindings)>;

// Without a search, comparisons through a to-one stay subqueries of the destination table.
foundation::Result<QueryPlan> compile(const EntityDescription& entity, const FetchRequest& request,
                                      const DestinationSearch& search = {});

// Binds a value of any type as SQLite stores it.
void bindValue(sql::Statement& statement, int index, const foundation::Value& value);

// The value of a key on an object (loading it, and the destination of a hop, when needed).
foundation::Value readKey(Object& object, const KeyRef& key);
bool evaluate(const CompiledNode& node, Object& object);
// Orders two rows by the compiled sorts; ties are left to the caller.
int compareSortKeys(const std::vector<CompiledSort>& sorts, const foundation::Value* a,
                    const foundation::Value* b);

}  // namespace store::detail
