// Saving: the checks first, then every change in one transaction.
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

enum StatementKind : size_t {
  kInsertStatement,
  kUpdateStatement,
  kDeleteStatement,
  kInsertBatchStatement,
  kStatementKinds
};

// Rows an insert statement takes at most. One step of a statement costs its set-up and tear-down
// (the cursors on the table and each of its indexes opened and closed, the program halted) beside
// the rows' own b-tree work; a statement of many rows pays that once for all of them.
constexpr size_t kInsertBatchRows = 64;

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

// The parameters an inserted row takes: its key, its entity number, then its values.
size_t insertParameters(const EntityDescription& entity) { return 2 + valueColumns(entity).size(); }

// An insert of `rows` rows at once.
std::string insertSql(const EntityDescription& entity, size_t rows = 1) {
  std::string columns = "Z_PK, Z_ENT, Z_OPT";
  const auto values = valueColumns(entity);
  for (const std::string* column : values) columns += ", " + *column;
  const std::string row =
      "(?, ?, 1" + (values.empty() ? std::string() : ", " + placeholders(values.size())) + ")";
  std::string sql = "INSERT INTO " + entity.table + " (" + columns + ") VALUES " + row;
  for (size_t r = 1; r < rows; ++r) sql += ", " + row;
  return sql;
}

// How many rows a batched insert of the entity takes on this connection: no more parameters than
// the connection allows.
size_t insertBatchRows(sql::Connection& db, const EntityDescription& entity) {
  const size_t allowed = static_cast<size_t>(sqlite3_limit(db.handle(), SQLITE_LIMIT_VARIABLE_NUMBER, -1));
  return std::max<size_t>(1, std::min(kInsertBatchRows, allowed / insertParameters(entity)));
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
  sql::Connection& db = *connection_;
  // Binds one row's parameters from `first` on; returns the index after them.
  auto bindRow = [&](sql::Statement& statement, const Object& o, int first) {
    statement.bindInt(first, o.primaryKey_);
    statement.bindInt(first + 1, store_->entityNumber(*o.entity_));
    std::int64_t& highest = highestKeys[o.entity_->index];
    highest = std::max(highest, o.primaryKey_);
    return bindObject(statement, o, first + 2);
  };
  // Each entity's run goes in whole batches, in key order; what is left over, one row a statement.
  std::vector<Object*> rest;
  for (size_t begin = 0; begin < objects.size();) {
    const EntityDescription& entity = *objects[begin]->entity_;
    size_t end = begin;
    while (end < objects.size() && objects[end]->entity_ == &entity) ++end;
    const size_t rows = insertBatchRows(db, entity);
    size_t at = begin;
    if (rows > 1 && end - begin >= rows) {
      auto batch =
          db.prepareSlot(slotOf(entity, kInsertBatchStatement), [&] { return insertSql(entity, rows); });
      if (!batch) return batch.error();
      for (; end - at >= rows; at += rows) {
        int index = 1;
        for (size_t r = 0; r < rows; ++r) index = bindRow(*batch, *objects[at + r], index);
        if (auto status = stepDone(db, *batch, "Cannot insert a ", entity.name); !status) return status;
        batch->rewind();
      }
    }
    rest.insert(rest.end(), objects.begin() + static_cast<std::ptrdiff_t>(at),
                objects.begin() + static_cast<std::ptrdiff_t>(end));
    begin = end;
  }
  return writeRows(
      rest, kInsertStatement, "Cannot insert a ",
      [&](sql::Statement& statement, const Object& o) { bindRow(statement, o, 1); },
      [](const Object&) { return foundation::Status(); });
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
