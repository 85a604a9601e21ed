// Fetching: a request compiled to SQL, its rows read in one statement, the context's unsaved
// changes laid over them, and objects handed out.
#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "platform/store/collation.h"
#include "platform/store/context.h"
#include "platform/store/context_internal.h"
#include "platform/store/errors.h"
#include "platform/store/query.h"
#include "platform/store/sqlite.h"
#include "platform/store/store.h"

namespace store {

using detail::closedError;
using detail::kLoadChunk;
using detail::objectColumns;
using detail::placeholders;
using detail::readColumn;
using foundation::Value;

namespace {

void appendKey(std::vector<Context::KeyRun>& runs, Value key) {
  if (!runs.empty() && runs.back().key.type() == key.type() && runs.back().key == key) {
    ++runs.back().count;
  } else {
    runs.push_back(Context::KeyRun{std::move(key), 1});
  }
}

// A read transaction that a fetch opens when it needs more than one statement (a destination
// search, then the rows), so that both read the same state of the file and share one lock instead
// of taking it twice. Only opened where no transaction is open already; ended when it goes.
class ReadTransaction {
 public:
  explicit ReadTransaction(sql::Connection& connection) : connection_(connection) {}
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;
  ~ReadTransaction() {
    if (!open_) return;
    auto commit = connection_.prepare("COMMIT");
    if (!commit || commit->step() != SQLITE_DONE) (void)connection_.exec("ROLLBACK");
  }
  void open() {
    if (open_ || !sqlite3_get_autocommit(connection_.handle())) return;
    auto begin = connection_.prepare("BEGIN");
    open_ = begin && begin->step() == SQLITE_DONE;
  }

 private:
  sql::Connection& connection_;
  bool open_ = false;
};

// Answers the compiler's destination searches on this connection, before the fetch itself runs.
detail::DestinationSearch destinationSearchOn(sql::Connection& connection, ReadTransaction& transaction) {
  return [&connection, &transaction](
             const std::string& table, const std::string& condition,
             const std::vector<Value>& bindings) -> foundation::Result<std::vector<std::int64_t>> {
    transaction.open();
    auto statement = connection.prepare("SELECT s.Z_PK FROM " + table + " s WHERE " + condition);
    if (!statement) return statement.error();
    int index = 1;
    for (const Value& v : bindings) detail::bindValue(*statement, index++, v);
    std::vector<std::int64_t> keys;
    int rc;
    while ((rc = statement->step()) == SQLITE_ROW) keys.push_back(statement->columnInt(0));
    if (rc != SQLITE_DONE) return connection.errorFor(rc, kCoreDataError, "Fetch failed");
    return keys;
  };
}
foundation::Error noEntityError(const std::string& name) {
  return makeError(kCoreDataError, "No entity named \"" + name + "\"");
}

}  // namespace

// A fetch runs in steps: compile the request (query.cpp), resolve the key path asked for beside
// each row, read the stored rows in one statement, lay this context's unsaved changes over them
// when an entity the fetch touches has any, and hand out objects (loaded with the rows, or as
// faults that load in batches).

namespace detail {

// What the steps of one fetch share.
struct FetchPass {
  explicit FetchPass(const FetchRequest& r, QueryPlan p) : request(r), plan(std::move(p)) {}
  const FetchRequest& request;
  QueryPlan plan;
  // The key path asked for beside each row, if any: a stored attribute (or one reached through a
  // to-one), or a transient derived from stored attributes of the entity.
  bool wantKey = false;
  const AttributeDescription* derived = nullptr;  // the transient, when the key is one
  std::vector<std::string> keyColumns;            // the key's column, or the transient's sources
  std::vector<AttributeType> keyTypes;            // one per key column
  KeyRef keyRef;                                  // the stored key, when it is not derived
  bool pending = false;           // unsaved changes of a touched entity must be laid over the rows
  bool loadInline = false;        // objects are read with the rows instead of as faults afterwards
  std::vector<Value> sortValues;  // while pending: the sort keys of every row, plan.sorts per row
  FetchRows rows;
};

}  // namespace detail

foundation::Status Context::resolveGroupKey(detail::FetchPass& pass, std::string_view keyPath) {
  pass.wantKey = !keyPath.empty();
  if (!pass.wantKey) return {};
  const EntityDescription& entity = *pass.rows.entity;
  const AttributeDescription* attribute = entity.attribute(keyPath);
  if (attribute && attribute->transient) {
    if (!attribute->derive)
      return makeError(kCoreDataError, "Transient \"" + attribute->name + "\" has no value to group by");
    pass.derived = attribute;
    for (size_t source : attribute->sourceIndexes) {
      pass.keyColumns.push_back("t0." + entity.attributes[source].column);
      pass.keyTypes.push_back(entity.attributes[source].type);
    }
    return {};
  }
  auto key = pass.plan.resolve(std::string(keyPath), false);
  if (!key) return key.error();
  pass.keyRef = *key;
  pass.keyColumns.push_back(pass.plan.columnOf(*key));
  pass.keyTypes.push_back(key->attribute->type);
  return {};
}

bool Context::hasPendingChanges(const detail::QueryPlan& plan, const FetchRequest& request) const {
  if (!request.includesPendingChanges) return false;
  if (pendingPerEntity_[plan.entity->index] > 0) return true;
  for (const RelationshipDescription* hop : plan.hops)
    if (pendingPerEntity_[hop->destination->index] > 0) return true;
  return false;
}

foundation::Status Context::readStoredRows(detail::FetchPass& pass) {
  const detail::QueryPlan& plan = pass.plan;
  const FetchRequest& request = pass.request;
  const EntityDescription& entity = *pass.rows.entity;
  // While changes are pending the window and the order are applied after the merge, so the sort
  // keys come along with every row.
  std::string sql = "SELECT t0.Z_PK";
  if (pass.pending)
    for (const auto& sort : plan.sorts) sql += ", " + pass.plan.columnOf(sort.key);
  for (const auto& column : pass.keyColumns) sql += ", " + column;
  if (pass.loadInline) sql += objectColumns(entity, "t0");
  sql += " FROM " + plan.fromClause();
  if (!plan.where.empty()) sql += " WHERE " + plan.where;
  sql += " ORDER BY " + plan.orderBy;
  // Only a real window gets LIMIT: with one SQLite sorts through a b-tree, which is slower than
  // its merge sort when every row is wanted.
  const bool window = !pass.pending && (request.fetchLimit || request.fetchOffset);
  if (window) sql += " LIMIT ? OFFSET ?";

  auto statement = connection_->prepare(sql);
  if (!statement) return statement.error();
  int index = 1;
  for (const Value& v : plan.bindings) detail::bindValue(*statement, index++, v);
  if (window) {
    statement->bindInt(index++, request.fetchLimit ? static_cast<std::int64_t>(request.fetchLimit) : -1);
    statement->bindInt(index++, static_cast<std::int64_t>(request.fetchOffset));
  }

  detail::FetchRows& rows = pass.rows;
  if (window && request.fetchLimit) {
    // A page of the list: room for it at once rather than growing row by row.
    rows.keys.reserve(request.fetchLimit);
    if (pass.loadInline) rows.objects.reserve(request.fetchLimit);
  }
  const size_t sortCount = pass.pending ? plan.sorts.size() : 0;
  std::vector<Value> sources(pass.keyColumns.size());
  auto keyFromStatement = [&](int firstColumn) -> Value {
    if (!pass.derived) return readColumn(*statement, firstColumn, pass.keyTypes[0]);
    for (size_t i = 0; i < pass.keyColumns.size(); ++i)
      sources[i] = readColumn(*statement, firstColumn + static_cast<int>(i), pass.keyTypes[i]);
    return pass.derived->derive(sources);
  };
  const int keyColumn = 1 + static_cast<int>(sortCount);
  const int objectColumn = keyColumn + static_cast<int>(pass.keyColumns.size());
  int rc;
  while ((rc = statement->step()) == SQLITE_ROW) {
    const std::int64_t key = statement->columnInt(0);
    rows.keys.push_back(key);
    for (size_t i = 0; i < sortCount; ++i)
      pass.sortValues.push_back(
          readColumn(*statement, 1 + static_cast<int>(i), plan.sorts[i].key.attribute->type));
    if (pass.wantKey) {
      // Keys are grouped into runs only once the final order is known.
      if (pass.pending) {
        rows.keyValues.push_back(keyFromStatement(keyColumn));
      } else {
        appendKey(rows.keyRuns, keyFromStatement(keyColumn));
      }
    }
    if (pass.loadInline) {
      ObjectPtr object = registerObject(entity, key);
      if (object->fault_) loadRow(*object, &*statement, objectColumn);
      rows.objects.push_back(std::move(object));
    }
  }
  if (rc != SQLITE_DONE) return connection_->errorFor(rc, kCoreDataError, "Fetch failed");
  return {};
}

foundation::Result<std::vector<ObjectPtr>> Context::changedCandidates(
    const detail::FetchPass& pass, std::unordered_set<std::int64_t>& judged) {
  const EntityDescription* entity = pass.rows.entity;
  std::vector<ObjectPtr> candidates;
  auto consider = [&](Object* o) {
    if (o->entity_ == entity && judged.insert(o->primaryKey_).second)
      candidates.push_back(o->shared_from_this());
  };
  for (Object* o : inserted_) consider(o);
  for (Object* o : updated_) consider(o);
  for (Object* o : deleted_) consider(o);
  // Rows whose key path leads to an object changed here: their stored answer may be stale.
  for (const RelationshipDescription* join : pass.plan.hops) {
    std::vector<std::int64_t> changedKeys;
    for (auto* set : {&updated_, &deleted_})
      for (Object* o : *set)
        if (o->entity_ == join->destination && !o->inserted_) changedKeys.push_back(o->primaryKey_);
    for (size_t start = 0; start < changedKeys.size(); start += kLoadChunk) {
      const size_t count = std::min(kLoadChunk, changedKeys.size() - start);
      auto linked = connection_->prepare("SELECT Z_PK FROM " + entity->table + " WHERE " + join->column +
                                         " IN (" + placeholders(count) + ")");
      if (!linked) return linked.error();
      for (size_t i = 0; i < count; ++i) linked->bindInt(static_cast<int>(i + 1), changedKeys[start + i]);
      std::vector<std::int64_t> found;
      while (linked->step() == SQLITE_ROW) found.push_back(linked->columnInt(0));
      *linked = sql::Statement();
      for (std::int64_t key : found) consider(registerObject(*entity, key).get());
    }
  }
  return candidates;
}

foundation::Status Context::overlayUnsavedChanges(detail::FetchPass& pass) {
  // Objects changed here are judged in memory; the store's rows stand for the rest.
  std::unordered_set<std::int64_t> judged;
  auto candidates = changedCandidates(pass, judged);
  if (!candidates) return candidates.error();

  const detail::QueryPlan& plan = pass.plan;
  detail::FetchRows& rows = pass.rows;
  std::vector<Value>& sortValues = pass.sortValues;
  const size_t sortCount = plan.sorts.size();
  struct Row {
    std::int64_t key;
    size_t sortOffset;  // into sortValues
    Value keyValue;
  };
  std::vector<Row> merged;
  merged.reserve(rows.keys.size() + candidates->size());
  for (size_t i = 0; i < rows.keys.size(); ++i) {
    if (judged.count(rows.keys[i])) continue;
    merged.push_back(Row{rows.keys[i], i * sortCount, pass.wantKey ? std::move(rows.keyValues[i]) : Value()});
  }
  for (const ObjectPtr& o : *candidates) {
    if (o->deleted_) continue;
    if (plan.predicate && !detail::evaluate(*plan.predicate, *o)) continue;
    const size_t offset = sortValues.size();
    for (const auto& sort : plan.sorts) sortValues.push_back(detail::readKey(*o, sort.key));
    Value keyValue;
    if (pass.wantKey)
      keyValue = pass.derived ? o->value(pass.derived->index) : detail::readKey(*o, pass.keyRef);
    merged.push_back(Row{o->primaryKey_, offset, std::move(keyValue)});
  }
  std::sort(merged.begin(), merged.end(), [&](const Row& a, const Row& b) {
    const int c = detail::compareSortKeys(plan.sorts, sortValues.data() + a.sortOffset,
                                          sortValues.data() + b.sortOffset);
    return c != 0 ? c < 0 : a.key < b.key;
  });

  const size_t begin = std::min(pass.request.fetchOffset, merged.size());
  const size_t end =
      pass.request.fetchLimit ? std::min(merged.size(), begin + pass.request.fetchLimit) : merged.size();
  rows.keys.clear();
  rows.keyValues.clear();
  for (size_t i = begin; i < end; ++i) {
    rows.keys.push_back(merged[i].key);
    if (pass.wantKey) appendKey(rows.keyRuns, std::move(merged[i].keyValue));
  }
  return {};
}

void Context::attachObjects(detail::FetchPass& pass) {
  detail::FetchRows& rows = pass.rows;
  if (pass.request.fetchBatchSize == 0) {
    rows.objects = objectsWithKeys(*rows.entity, rows.keys);
    return;
  }
  // Faults that load a batch at a time as they are first read.
  auto batch = std::make_shared<Object::FaultBatch>();
  batch->batchSize = pass.request.fetchBatchSize;
  for (std::int64_t key : rows.keys) {
    ObjectPtr object = registerObject(*rows.entity, key);
    if (object->fault_) {
      object->batch_ = batch;
      object->batchIndex_ = batch->members.size();
    }
    batch->members.push_back(object);
    rows.objects.push_back(std::move(object));
  }
}

foundation::Result<detail::FetchRows> Context::runFetch(const FetchRequest& request, std::string_view keyPath,
                                                        bool wantObjects) {
  if (!connection_) return closedError();
  const EntityDescription* entity = model_->entity(request.entityName);
  if (!entity) return noEntityError(request.entityName);
  ReadTransaction transaction(*connection_);
  auto compiled = detail::compile(*entity, request, destinationSearchOn(*connection_, transaction));
  if (!compiled) return compiled.error();
  detail::FetchPass pass(request, std::move(*compiled));
  pass.rows.entity = entity;
  if (auto status = resolveGroupKey(pass, keyPath); !status) return status.error();
  pass.pending = hasPendingChanges(pass.plan, request);
  pass.loadInline = wantObjects && !pass.pending && request.fetchBatchSize == 0;
  if (auto status = readStoredRows(pass); !status) return status.error();
  if (pass.pending) {
    if (auto status = overlayUnsavedChanges(pass); !status) return status.error();
  }
  if (wantObjects && !pass.loadInline) attachObjects(pass);
  return std::move(pass.rows);
}

foundation::Result<std::vector<ObjectPtr>> Context::fetch(const FetchRequest& request) {
  auto rows = runFetch(request, {}, true);
  if (!rows) return rows.error();
  return std::move(rows->objects);
}

foundation::Result<std::vector<ObjectID>> Context::fetchObjectIDs(const FetchRequest& request) {
  auto rows = runFetch(request, {}, false);
  if (!rows) return rows.error();
  std::vector<ObjectID> ids;
  ids.reserve(rows->keys.size());
  for (std::int64_t key : rows->keys) ids.push_back(ObjectID{rows->entity, key});
  return ids;
}

foundation::Result<size_t> Context::count(const FetchRequest& request) {
  if (!connection_) return closedError();
  const EntityDescription* entity = model_->entity(request.entityName);
  if (!entity) return noEntityError(request.entityName);
  ReadTransaction transaction(*connection_);
  auto plan = detail::compile(*entity, request, destinationSearchOn(*connection_, transaction));
  if (!plan) return plan.error();
  if (hasPendingChanges(*plan, request)) {
    auto rows = runFetch(request, {}, false);
    if (!rows) return rows.error();
    return rows->keys.size();
  }
  std::string sql = "SELECT COUNT(*) FROM " + plan->fromClause();
  if (!plan->where.empty()) sql += " WHERE " + plan->where;
  auto statement = connection_->prepare(sql);
  if (!statement) return statement.error();
  int index = 1;
  for (const Value& v : plan->bindings) detail::bindValue(*statement, index++, v);
  if (statement->step() != SQLITE_ROW) return connection_->lastError(kCoreDataError, "Count failed");
  size_t total = static_cast<size_t>(statement->columnInt(0));
  total = total > request.fetchOffset ? total - request.fetchOffset : 0;
  if (request.fetchLimit) total = std::min(total, request.fetchLimit);
  return total;
}

foundation::Result<Context::KeyedRows> Context::fetchKeyed(const FetchRequest& request,
                                                           std::string_view keyPath) {
  auto rows = runFetch(request, keyPath, false);
  if (!rows) return rows.error();
  KeyedRows keyed;
  keyed.entity = rows->entity;
  keyed.primaryKeys = std::move(rows->keys);
  keyed.runs = std::move(rows->keyRuns);
  return keyed;
}

}  // namespace store
