// The context's bookkeeping, loading, fetching and saving. What holds between calls:
// - each object the context knows is in objects_ under its entity and key and points back at
//   this context; a forgotten object points at no context and is never handed out again;
// - an object's inserted_, updated_ and deleted_ flags match its membership in the three sets,
//   and pendingPerEntity_ counts each changed object once, under its entity;
// - a fault holds no values yet; loading it (alone or with its batch) clears fault_, and a row
//   that is gone leaves an empty object marked missing_ rather than a fault that retries forever;
// - nothing reaches the file except through save(), which writes everything in one transaction
//   or nothing, and leaves the changes in place when it fails.
#include "platform/store/context.h"

#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "platform/store/collation.h"
#include "platform/store/errors.h"
#include "platform/store/query.h"
#include "platform/store/sqlite.h"
#include "platform/store/store.h"

namespace store {

using foundation::Value;

// Faults handed out together (by one fetch or one to-many read) load together.
struct Object::FaultBatch {
  std::vector<std::weak_ptr<Object>> members;
  size_t batchSize = 0;
};

namespace detail {

struct FetchRows {
  const EntityDescription* entity = nullptr;
  std::vector<std::int64_t> keys;
  std::vector<Value> keyValues;          // one per row while unsaved changes are merged in
  std::vector<Context::KeyRun> keyRuns;  // runs of equal keys when a key path was asked for
  std::vector<ObjectPtr> objects;        // when objects were asked for
};

}  // namespace detail

namespace {

// Rows loaded per statement when filling faults.
constexpr size_t kLoadChunk = 256;
// Faults of one to-many read load in batches of this size.
constexpr size_t kMemberBatch = 256;

void appendKey(std::vector<Context::KeyRun>& runs, Value key) {
  if (!runs.empty() && runs.back().key.type() == key.type() && runs.back().key == key) {
    ++runs.back().count;
  } else {
    runs.push_back(Context::KeyRun{std::move(key), 1});
  }
}

// Reads one column as the attribute's type. Text and numbers that cannot be mistaken for another
// storage class are read in one call: SQLite answers a null column with no text and with zero, so
// the storage class is asked for only when it decides the value.
Value readColumn(const sql::Statement& s, int column, AttributeType type) {
  switch (type) {
    case AttributeType::String: {
      const unsigned char* text = sqlite3_column_text(s.get(), column);
      if (!text) return s.isNull(column) ? Value() : Value(std::string());
      return Value(std::string(reinterpret_cast<const char*>(text),
                               static_cast<size_t>(sqlite3_column_bytes(s.get(), column))));
    }
    case AttributeType::Float:
    case AttributeType::Double: {
      const double d = s.columnDouble(column);
      if (d == 0 && s.isNull(column)) return Value();
      return Value(type == AttributeType::Float ? static_cast<double>(static_cast<float>(d)) : d);
    }
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Integer64: {
      const std::int64_t i = s.columnInt(column);
      if (i == 0 && s.isNull(column)) return Value();
      return Value(static_cast<long long>(i));
    }
    default:
      break;
  }
  const int t = s.columnType(column);
  if (t == SQLITE_NULL) return Value();
  switch (type) {
    case AttributeType::Date:
      if (t == SQLITE_TEXT || t == SQLITE_BLOB) return Value();
      return Value(foundation::Date{s.columnDouble(column)});
    case AttributeType::Boolean:
      return Value(s.columnDouble(column) != 0);
    case AttributeType::Decimal: {
      if (t == SQLITE_INTEGER) return Value(foundation::Decimal::fromInteger(s.columnInt(column)));
      if (t == SQLITE_FLOAT) {
        auto d = foundation::Decimal::fromDouble(s.columnDouble(column));
        return d ? Value(*d) : Value();
      }
      auto d = foundation::Decimal::parse(s.columnText(column));
      return d ? Value(*d) : Value();
    }
    case AttributeType::Binary:
      return Value(s.columnBlob(column));
    default:
      return Value();
  }
}

// The columns of an object's row, in the order loadRow reads them.
std::string objectColumns(const EntityDescription& entity, const std::string& alias) {
  std::string columns;
  for (size_t a : entity.storedAttributes) columns += ", " + alias + "." + entity.attributes[a].column;
  for (size_t r : entity.toOneRelationships) columns += ", " + alias + "." + entity.relationships[r].column;
  return columns;
}

std::string placeholders(size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += i ? ", ?" : "?";
  return out;
}

size_t paddedCount(size_t count) {
  size_t padded = 1;
  while (padded < count) padded *= 2;
  return padded;
}

foundation::Error closedError() { return makeError(kPersistentStoreOperationError, "The context is closed"); }

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

Context::Context(std::shared_ptr<Store> store, std::unique_ptr<sql::Connection> connection, bool readOnly)
    : store_(std::move(store)),
      model_(store_->modelPointer()),
      connection_(std::move(connection)),
      readOnly_(readOnly) {
  objects_.resize(model_->entities().size());
  pendingPerEntity_.assign(model_->entities().size(), 0);
}

Context::~Context() {
  reset();
  connection_.reset();
  store_->unregister(this);
}

foundation::Status Context::checkOpen() const {
  if (!connection_) return closedError();
  return {};
}

ObjectPtr Context::lookup(const EntityDescription& entity, std::int64_t key) const {
  const auto& map = objects_[entity.index];
  auto it = map.find(key);
  return it == map.end() ? nullptr : it->second;
}

ObjectPtr Context::registerObject(const EntityDescription& entity, std::int64_t key) {
  ObjectPtr& slot = objects_[entity.index][key];
  if (!slot) slot = std::make_shared<Object>(this, entity, key);
  return slot;
}

ObjectPtr Context::insertNewObject(std::string_view entityName) {
  if (!connection_) return nullptr;
  const EntityDescription* entity = model_->entity(entityName);
  if (!entity) return nullptr;
  const std::int64_t key = store_->allocatePrimaryKey(*entity);
  auto object = std::make_shared<Object>(this, *entity, key);
  object->fault_ = false;
  object->inserted_ = true;
  objects_[entity->index][key] = object;
  inserted_.push_back(object.get());
  ++pendingPerEntity_[entity->index];
  return object;
}

void Context::markUpdated(Object& object) {
  if (object.inserted_ || object.updated_) return;
  if (!object.deleted_) ++pendingPerEntity_[object.entity_->index];
  object.updated_ = true;
  updated_.push_back(&object);
}

void Context::deleteObject(const ObjectPtr& object) {
  std::vector<ObjectPtr> pending{object};
  while (!pending.empty()) {
    ObjectPtr current = std::move(pending.back());
    pending.pop_back();
    if (!current || current->context_ != this || current->deleted_) continue;
    current->ensureLoaded();
    if (!current->inserted_ && !current->snapshot_)
      current->snapshot_ = std::make_unique<Object::Snapshot>(
          Object::Snapshot{current->values_.copy(), current->toOne_.copy()});
    if (!current->inserted_ && !current->updated_) ++pendingPerEntity_[current->entity_->index];
    current->deleted_ = true;
    deleted_.push_back(current.get());
    for (const RelationshipDescription& rel : current->entity_->relationships) {
      if (rel.deleteRule != DeleteRule::Cascade && rel.deleteRule != DeleteRule::Nullify) continue;
      std::vector<ObjectPtr> targets;
      if (rel.toMany) {
        targets = membersOf(*current, rel);
      } else if (ObjectPtr target = current->toOne(rel)) {
        targets.push_back(std::move(target));
      }
      if (rel.deleteRule == DeleteRule::Cascade) {
        pending.insert(pending.end(), targets.begin(), targets.end());
      } else if (rel.inverse && !rel.inverse->toMany) {
        // The destinations keep a key to us: clear it. (A to-many inverse is read from the
        // keys of its members, so a deleted member simply drops out of it.)
        for (const ObjectPtr& target : targets)
          if (target->toOneKey(rel.inverse->toOneSlot) == current->primaryKey_)
            target->setToOneKey(rel.inverse->toOneSlot, 0);
      }
    }
  }
}

std::vector<ObjectPtr> Context::insertedObjects() const {
  std::vector<ObjectPtr> out;
  for (Object* o : inserted_)
    if (!o->deleted_) out.push_back(o->shared_from_this());
  return out;
}

std::vector<ObjectPtr> Context::updatedObjects() const {
  std::vector<ObjectPtr> out;
  for (Object* o : updated_)
    if (!o->deleted_ && !o->inserted_) out.push_back(o->shared_from_this());
  return out;
}

std::vector<ObjectPtr> Context::deletedObjects() const {
  std::vector<ObjectPtr> out;
  for (Object* o : deleted_)
    if (!o->inserted_) out.push_back(o->shared_from_this());
  return out;
}

void Context::forget(Object& object) {
  // A forgotten object takes its unsaved change with it: the lists must not outlive it.
  bool listed = false;
  for (auto* list : {&inserted_, &updated_, &deleted_}) listed = std::erase(*list, &object) > 0 || listed;
  if (listed) --pendingPerEntity_[object.entity_->index];
  object.context_ = nullptr;
  object.inserted_ = false;
  object.updated_ = false;
  object.snapshot_.reset();
  object.batch_.reset();
  objects_[object.entity_->index].erase(object.primaryKey_);  // may release the object: last use
}

void Context::rollback() {
  std::vector<ObjectPtr> inserted;
  for (Object* o : inserted_) inserted.push_back(o->shared_from_this());
  // An object both updated and deleted comes twice; the second time finds nothing left to undo.
  std::vector<Object*> changed = updated_;
  changed.insert(changed.end(), deleted_.begin(), deleted_.end());
  for (Object* o : changed) {
    if (o->inserted_) continue;
    if (o->snapshot_) {
      o->values_.restore(std::move(o->snapshot_->values));
      o->toOne_.restore(std::move(o->snapshot_->toOne));
      o->snapshot_.reset();
      o->derivedReady_.clear();
    }
    o->updated_ = false;
    o->deleted_ = false;
  }
  inserted_.clear();
  updated_.clear();
  deleted_.clear();
  std::fill(pendingPerEntity_.begin(), pendingPerEntity_.end(), 0);
  for (const ObjectPtr& o : inserted) {
    o->deleted_ = false;
    forget(*o);
  }
}

void Context::reset() {
  for (auto& map : objects_) {
    for (auto& [key, object] : map) {
      object->context_ = nullptr;
      object->snapshot_.reset();
      object->batch_.reset();
    }
    map.clear();
  }
  inserted_.clear();
  updated_.clear();
  deleted_.clear();
  std::fill(pendingPerEntity_.begin(), pendingPerEntity_.end(), 0);
}

void Context::closeConnection() {
  reset();
  connection_.reset();
}

void Context::close() { closeConnection(); }

// --- Loading -----------------------------------------------------------------------------

void Context::loadRow(Object& object, void* statement, int firstColumn) {
  const auto& s = *static_cast<const sql::Statement*>(statement);
  const EntityDescription& entity = *object.entity_;
  int column = firstColumn;
  for (size_t a : entity.storedAttributes) {
    detail::remakeInPlace(object.values_[a],
                          [&] { return readColumn(s, column, entity.attributes[a].type); });
    ++column;
  }
  // A null link reads as 0, which is "no destination".
  for (size_t r = 0; r < entity.toOneRelationships.size(); ++r) object.toOne_[r] = s.columnInt(column++);
  object.derivedReady_.clear();
  object.fault_ = false;
  object.missing_ = false;
  object.batch_.reset();
}

void Context::fireFault(Object& object) {
  if (!object.fault_) return;
  std::vector<Object*> faults;
  if (object.batch_) {
    // Load the batch around this object, keeping the batch alive while we do.
    std::shared_ptr<Object::FaultBatch> batch = object.batch_;
    const size_t size = std::max<size_t>(batch->batchSize, 1);
    const size_t start = object.batchIndex_ / size * size;
    const size_t end = std::min(batch->members.size(), start + size);
    std::vector<ObjectPtr> alive;
    for (size_t i = start; i < end; ++i) {
      if (ObjectPtr member = batch->members[i].lock()) {
        if (member->fault_ && member->context_ == this) {
          faults.push_back(member.get());
          alive.push_back(std::move(member));
        }
      }
    }
    if (std::find(faults.begin(), faults.end(), &object) == faults.end()) faults.push_back(&object);
    loadFaults(*object.entity_, faults);
    return;
  }
  faults.push_back(&object);
  loadFaults(*object.entity_, faults);
}

void Context::loadFaults(const EntityDescription& entity, const std::vector<Object*>& faults) {
  if (!connection_) return;
  const std::string columns = objectColumns(entity, "t0");
  for (size_t start = 0; start < faults.size(); start += kLoadChunk) {
    const size_t count = std::min(kLoadChunk, faults.size() - start);
    const size_t padded = paddedCount(count);
    std::unordered_map<std::int64_t, Object*> byKey;
    for (size_t i = 0; i < count; ++i) byKey[faults[start + i]->primaryKey_] = faults[start + i];
    const std::string sql = "SELECT t0.Z_PK" + columns + " FROM " + entity.table + " t0 WHERE t0.Z_PK" +
                            (padded == 1 ? " = ?" : " IN (" + placeholders(padded) + ")");
    auto statement = connection_->prepare(sql);
    if (statement) {
      for (size_t i = 0; i < padded; ++i)
        statement->bindInt(static_cast<int>(i + 1), faults[start + std::min(i, count - 1)]->primaryKey_);
      while (statement->step() == SQLITE_ROW) {
        auto it = byKey.find(statement->columnInt(0));
        if (it != byKey.end() && it->second->fault_) loadRow(*it->second, &*statement, 1);
      }
    }
    // Rows that are gone (or could not be read) leave empty objects rather than faults that
    // would try again on every access.
    for (size_t i = 0; i < count; ++i) {
      Object* o = faults[start + i];
      if (o->fault_) {
        o->fault_ = false;
        o->missing_ = true;
        o->batch_.reset();
      }
    }
  }
}

ObjectPtr Context::objectWithID(const ObjectID& id) {
  if (!connection_ || !id.entity || id.entity->index >= model_->entities().size() ||
      &model_->entities()[id.entity->index] != id.entity || id.primaryKey <= 0)
    return nullptr;
  return registerObject(*id.entity, id.primaryKey);
}

foundation::Result<ObjectPtr> Context::existingObjectWithID(const ObjectID& id) {
  if (!connection_) return closedError();
  ObjectPtr object = objectWithID(id);
  if (!object) return makeError(kCoreDataError, "No such object");
  object->ensureLoaded();
  if (object->missing_) {
    const std::string name = object->entity_->name;
    forget(*object);
    return makeError(kCoreDataError, "The " + name + " object " + std::to_string(id.primaryKey) +
                                         " could not be found in the store");
  }
  return object;
}

std::vector<ObjectPtr> Context::objectsWithKeys(const EntityDescription& entity,
                                                std::span<const std::int64_t> keys) {
  std::vector<ObjectPtr> out;
  if (!connection_) return out;
  out.reserve(keys.size());
  std::vector<Object*> faults;
  for (std::int64_t key : keys) {
    ObjectPtr object = registerObject(entity, key);
    if (object->fault_) faults.push_back(object.get());
    out.push_back(std::move(object));
  }
  if (!faults.empty()) loadFaults(entity, faults);
  return out;
}

std::vector<ObjectPtr> Context::membersOf(Object& owner, const RelationshipDescription& relationship) {
  std::vector<ObjectPtr> members;
  const RelationshipDescription* inverse = relationship.inverse;
  if (!connection_ || !inverse || inverse->toMany) return members;
  const EntityDescription& destination = *relationship.destination;
  const size_t slot = inverse->toOneSlot;
  std::unordered_set<std::int64_t> seen;
  std::shared_ptr<Object::FaultBatch> batch;
  if (!owner.inserted_) {
    auto statement = connection_->prepare("SELECT Z_PK FROM " + destination.table + " WHERE " +
                                          inverse->column + " = ? ORDER BY Z_PK");
    if (statement) {
      statement->bindInt(1, owner.primaryKey_);
      while (statement->step() == SQLITE_ROW) {
        const std::int64_t key = statement->columnInt(0);
        ObjectPtr member = lookup(destination, key);
        if (member) {
          // A loaded member speaks for itself: it may have been moved or deleted here.
          if (member->deleted_ || (!member->fault_ && member->toOne_[slot] != owner.primaryKey_)) continue;
        } else {
          member = registerObject(destination, key);
          if (!batch) {
            batch = std::make_shared<Object::FaultBatch>();
            batch->batchSize = kMemberBatch;
          }
          member->batch_ = batch;
          member->batchIndex_ = batch->members.size();
          batch->members.push_back(member);
        }
        seen.insert(key);
        members.push_back(std::move(member));
      }
    }
  }
  // Members linked here and not saved yet.
  if (pendingPerEntity_[destination.index]) {
    for (auto* set : {&inserted_, &updated_}) {
      for (Object* o : *set) {
        if (o->entity_ != &destination || o->deleted_ || o->fault_ || o->toOne_[slot] != owner.primaryKey_)
          continue;
        if (seen.insert(o->primaryKey_).second) members.push_back(o->shared_from_this());
      }
    }
  }
  std::sort(members.begin(), members.end(),
            [](const ObjectPtr& a, const ObjectPtr& b) { return a->primaryKey_ < b->primaryKey_; });
  return members;
}

// --- Fetching ----------------------------------------------------------------------------
//
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

// --- Saving ------------------------------------------------------------------------------

foundation::Status Context::validateForSave() {
  for (Object* o : deleted_) {
    for (const RelationshipDescription& rel : o->entity_->relationships) {
      if (rel.deleteRule != DeleteRule::Deny) continue;
      std::vector<ObjectPtr> targets;
      if (rel.toMany) {
        targets = membersOf(*o, rel);
      } else if (ObjectPtr target = o->toOne(rel)) {
        targets.push_back(std::move(target));
      }
      for (const ObjectPtr& target : targets) {
        if (target->deleted_) continue;
        foundation::Dictionary info;
        info.set(
            std::string(foundation::Error::kLocalizedDescriptionKey),
            "The " + o->entity_->name + " cannot be deleted while its \"" + rel.name + "\" holds objects");
        info.set("NSValidationErrorKey", rel.name);
        return foundation::Error(std::string(kErrorDomain), kValidationRelationshipDeniedDeleteError,
                                 std::move(info));
      }
    }
  }
  // Only an object deleted here can leave a reference dangling.
  if (deleted_.empty()) return {};
  for (auto* set : {&inserted_, &updated_}) {
    for (Object* o : *set) {
      if (o->deleted_) continue;
      for (size_t r : o->entity_->toOneRelationships) {
        const RelationshipDescription& rel = o->entity_->relationships[r];
        const std::int64_t key = o->toOne_[rel.toOneSlot];
        if (!key) continue;
        ObjectPtr target = lookup(*rel.destination, key);
        if (target && target->deleted_)
          return makeError(kManagedObjectReferentialIntegrityError,
                           "Dangling reference to a deleted " + rel.destination->name + " in \"" + rel.name +
                               "\" of " + o->entity_->name);
      }
    }
  }
  return {};
}

// Writing runs in one transaction: deletes, then inserts, then updates, each in entity and key
// order so that the file's pages fill in order; then the key counters. Statements that run once
// per object are prepared once per entity and kept in the connection's numbered slots.

namespace {

enum StatementKind : size_t { kInsertStatement, kUpdateStatement, kDeleteStatement, kStatementKinds };

size_t slotOf(const EntityDescription& entity, StatementKind kind) {
  return entity.index * kStatementKinds + kind;
}

// The columns an object's values go to, in the order bindObject binds them.
std::vector<const std::string*> valueColumns(const EntityDescription& entity) {
  std::vector<const std::string*> columns;
  for (size_t a : entity.storedAttributes) columns.push_back(&entity.attributes[a].column);
  for (size_t r : entity.toOneRelationships) columns.push_back(&entity.relationships[r].column);
  return columns;
}

std::string insertSql(const EntityDescription& entity) {
  std::string columns = "Z_PK, Z_ENT, Z_OPT";
  const auto values = valueColumns(entity);
  for (const std::string* column : values) columns += ", " + *column;
  return "INSERT INTO " + entity.table + " (" + columns + ") VALUES (?, ?, 1" +
         (values.empty() ? std::string() : ", " + placeholders(values.size())) + ")";
}

std::string updateSql(const EntityDescription& entity) {
  std::string assignments = "Z_OPT = COALESCE(Z_OPT, 0) + 1";
  for (const std::string* column : valueColumns(entity)) assignments += ", " + *column + " = ?";
  return "UPDATE " + entity.table + " SET " + assignments + " WHERE Z_PK = ?";
}

std::string deleteSql(const EntityDescription& entity) {
  return "DELETE FROM " + entity.table + " WHERE Z_PK = ?";
}

std::string statementSql(const EntityDescription& entity, StatementKind kind) {
  switch (kind) {
    case kInsertStatement:
      return insertSql(entity);
    case kUpdateStatement:
      return updateSql(entity);
    default:
      return deleteSql(entity);
  }
}

// Steps a statement that returns no rows; the message is only built when it fails.
foundation::Status stepDone(sql::Connection& db, sql::Statement& statement, std::string_view what,
                            const std::string& entityName) {
  const int rc = statement.step();
  if (rc != SQLITE_DONE) return db.errorFor(rc, kPersistentStoreSaveError, std::string(what) + entityName);
  return {};
}

}  // namespace

template <class Keep>
std::vector<Object*> Context::inEntityAndKeyOrder(const std::vector<Object*>& objects, Keep keep) const {
  // Objects come in the order they were changed; within an entity that is mostly key order
  // already (keys are handed out in rising order), so each entity's run is sorted only if needed.
  std::vector<std::vector<Object*>> byEntity(model_->entities().size());
  for (Object* o : objects)
    if (keep(*o)) byEntity[o->entity_->index].push_back(o);
  std::vector<Object*> ordered;
  ordered.reserve(objects.size());
  auto byKey = [](const Object* a, const Object* b) { return a->primaryKey_ < b->primaryKey_; };
  for (auto& run : byEntity) {
    if (!std::is_sorted(run.begin(), run.end(), byKey)) std::sort(run.begin(), run.end(), byKey);
    ordered.insert(ordered.end(), run.begin(), run.end());
  }
  return ordered;
}

int Context::bindObject(sql::Statement& statement, const Object& object, int first) {
  int index = first;
  for (size_t a : object.entity_->storedAttributes) {
    const Value& value = object.values_[a];
    // The object outlives the step, so its text needs no copy.
    if (const std::string* text = value.string()) {
      statement.bindTextNoCopy(index++, *text);
    } else {
      detail::bindValue(statement, index++, value);
    }
  }
  for (std::int64_t key : object.toOne_) {
    if (key) {
      statement.bindInt(index++, key);
    } else {
      statement.bindNull(index++);
    }
  }
  return index;
}

template <class Bind, class Check>
foundation::Status Context::writeRows(const std::vector<Object*>& objects, size_t kind, const char* failure,
                                      Bind bind, Check check) {
  sql::Connection& db = *connection_;
  const EntityDescription* entity = nullptr;
  sql::Statement statement;
  for (Object* o : objects) {
    // Objects come grouped by entity: one borrow of the kept statement serves the whole run.
    if (o->entity_ != entity) {
      entity = o->entity_;
      statement = sql::Statement();
      auto kept = db.prepareSlot(slotOf(*entity, static_cast<StatementKind>(kind)),
                                 [&] { return statementSql(*entity, static_cast<StatementKind>(kind)); });
      if (!kept) return kept.error();
      statement = std::move(*kept);
    }
    bind(statement, *o);
    const int rc = statement.step();
    if (rc != SQLITE_DONE) return db.errorFor(rc, kPersistentStoreSaveError, failure + entity->name);
    statement.rewind();
    if (auto status = check(*o); !status) return status;
  }
  return {};
}

foundation::Status Context::writeDeletes(const std::vector<Object*>& objects) {
  return writeRows(
      objects, kDeleteStatement, "Cannot delete a ",
      [](sql::Statement& statement, const Object& o) { statement.bindInt(1, o.primaryKey_); },
      [](const Object&) { return foundation::Status(); });
}

foundation::Status Context::writeInserts(const std::vector<Object*>& objects,
                                         std::vector<std::int64_t>& highestKeys) {
  return writeRows(
      objects, kInsertStatement, "Cannot insert a ",
      [&](sql::Statement& statement, const Object& o) {
        statement.bindInt(1, o.primaryKey_);
        statement.bindInt(2, store_->entityNumber(*o.entity_));
        bindObject(statement, o, 3);
      },
      [&](const Object& o) {
        std::int64_t& highest = highestKeys[o.entity_->index];
        highest = std::max(highest, o.primaryKey_);
        return foundation::Status();
      });
}

foundation::Status Context::writeUpdates(const std::vector<Object*>& objects) {
  return writeRows(
      objects, kUpdateStatement, "Cannot update a ",
      [](sql::Statement& statement, const Object& o) {
        const int last = bindObject(statement, o, 1);
        statement.bindInt(last, o.primaryKey_);
      },
      [&](const Object& o) -> foundation::Status {
        // A row removed behind this context's back must not count as saved.
        if (sqlite3_changes(connection_->handle()) == 1) return {};
        return makeError(kPersistentStoreSaveError, "The " + o.entity_->name + " object " +
                                                        std::to_string(o.primaryKey_) +
                                                        " is no longer in the store");
      });
}

foundation::Status Context::recordPrimaryKeys(const std::vector<std::int64_t>& highestKeys) {
  sql::Connection& db = *connection_;
  for (const EntityDescription& entity : model_->entities()) {
    const std::int64_t highest = highestKeys[entity.index];
    if (!highest) continue;
    auto statement =
        db.prepare("UPDATE Z_PRIMARYKEY SET Z_MAX = ? WHERE Z_ENT = ? AND (Z_MAX IS NULL OR Z_MAX < ?)");
    if (!statement) return statement.error();
    statement->bindInt(1, highest);
    statement->bindInt(2, store_->entityNumber(entity));
    statement->bindInt(3, highest);
    if (auto status = stepDone(db, *statement, "Cannot record primary keys of ", entity.name); !status)
      return status;
  }
  return {};
}

foundation::Status Context::writeChanges() {
  // An object inserted and deleted before saving never reaches the file.
  auto deleted = inEntityAndKeyOrder(deleted_, [](const Object& o) { return !o.inserted_; });
  auto inserted = inEntityAndKeyOrder(inserted_, [](const Object& o) { return !o.deleted_; });
  auto updated = inEntityAndKeyOrder(updated_, [](const Object& o) { return !o.deleted_ && !o.inserted_; });

  sql::Transaction transaction(*connection_);
  if (auto status = transaction.begin(); !status) return status;
  std::vector<std::int64_t> highestKeys(model_->entities().size(), 0);
  if (auto status = writeDeletes(deleted); !status) return status;
  if (auto status = writeInserts(inserted, highestKeys); !status) return status;
  if (auto status = writeUpdates(updated); !status) return status;
  if (auto status = recordPrimaryKeys(highestKeys); !status) return status;
  return transaction.commit();
}

foundation::Status Context::save() {
  if (!connection_) return closedError();
  if (!hasChanges()) return {};
  if (readOnly_)
    return makeError(kPersistentStoreSaveError, "Cannot save changes through a read-only context");
  if (auto status = validateForSave(); !status) return status;
  if (auto status = writeChanges(); !status) return status;

  std::vector<ObjectPtr> gone;
  for (Object* o : deleted_) gone.push_back(o->shared_from_this());
  for (Object* o : inserted_) {
    o->inserted_ = false;
    o->snapshot_.reset();
  }
  for (Object* o : updated_) {
    o->updated_ = false;
    o->snapshot_.reset();
  }
  inserted_.clear();
  updated_.clear();
  deleted_.clear();
  std::fill(pendingPerEntity_.begin(), pendingPerEntity_.end(), 0);
  for (const ObjectPtr& o : gone) forget(*o);
  return {};
}

}  // namespace store
