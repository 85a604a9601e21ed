// Loading rows into objects: single faults, batches of faults, objects by key and the members of
// a to-many relationship.
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
namespace detail {

using foundation::Value;

// Reads one column as the attribute's type. The column is taken once as SQLite's own value, which
// is then read without the per-call checks the column functions make. Text and numbers that cannot
// be mistaken for another storage class are read in one call: SQLite answers a null with no text
// and with zero, so the storage class is asked for only when it decides the value.
std::optional<std::string_view> columnText(sqlite3_value* v) {
  const unsigned char* text = sqlite3_value_text(v);
  if (!text) return sqlite3_value_type(v) == SQLITE_NULL ? std::nullopt : std::optional<std::string_view>("");
  return std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(v)));
}

std::optional<foundation::Date> columnDate(sqlite3_value* v) {
  const int t = sqlite3_value_type(v);
  if (t == SQLITE_NULL || t == SQLITE_TEXT || t == SQLITE_BLOB) return std::nullopt;
  return foundation::Date{sqlite3_value_double(v)};
}

Value readColumn(const sql::Statement& s, int column, AttributeType type) {
  sqlite3_value* v = sqlite3_column_value(s.get(), column);
  switch (type) {
    case AttributeType::String: {
      const auto text = columnText(v);
      return text ? Value(std::string(*text)) : Value();
    }
    case AttributeType::Float:
    case AttributeType::Double: {
      const double d = sqlite3_value_double(v);
      if (d == 0 && sqlite3_value_type(v) == SQLITE_NULL) return Value();
      return Value(type == AttributeType::Float ? static_cast<double>(static_cast<float>(d)) : d);
    }
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Integer64: {
      const std::int64_t i = sqlite3_value_int64(v);
      if (i == 0 && sqlite3_value_type(v) == SQLITE_NULL) return Value();
      return Value(static_cast<long long>(i));
    }
    default:
      break;
  }
  const int t = sqlite3_value_type(v);
  if (t == SQLITE_NULL) return Value();
  switch (type) {
    case AttributeType::Date: {
      const auto date = columnDate(v);
      return date ? Value(*date) : Value();
    }
    case AttributeType::Boolean:
      return Value(sqlite3_value_double(v) != 0);
    case AttributeType::Decimal: {
      if (t == SQLITE_INTEGER) return Value(foundation::Decimal::fromInteger(sqlite3_value_int64(v)));
      if (t == SQLITE_FLOAT) {
        auto d = foundation::Decimal::fromDouble(sqlite3_value_double(v));
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
std::string objectColumns(const EntityDescription& entity, const std::string& alias,
                          const std::vector<bool>& reads) {
  std::string columns;
  for (size_t a : entity.storedAttributes)
    if (reads.empty() || reads[a]) columns += ", " + alias + "." + entity.attributes[a].column;
  for (size_t r : entity.toOneRelationships) columns += ", " + alias + "." + entity.relationships[r].column;
  return columns;
}

std::string placeholders(size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += i ? ", ?" : "?";
  return out;
}

foundation::Error closedError() { return makeError(kPersistentStoreOperationError, "The context is closed"); }

}  // namespace detail

using detail::closedError;
using detail::kLoadChunk;
using detail::objectColumns;
using detail::placeholders;
using detail::readColumn;
using foundation::Value;

namespace {

// Faults of one to-many read load in batches of this size.
constexpr size_t kMemberBatch = 256;

size_t paddedCount(size_t count) {
  size_t padded = 1;
  while (padded < count) padded *= 2;
  return padded;
}

}  // namespace

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

}  // namespace store
