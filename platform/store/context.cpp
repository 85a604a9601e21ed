// The context's bookkeeping: the identity map, unsaved changes, rollback, reset and close.
// What holds between calls:
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

Context::Context(std::shared_ptr<Store> store, std::unique_ptr<sql::Connection> connection, bool readOnly)
    : store_(std::move(store)),
      model_(store_->modelPointer()),
      connection_(std::move(connection)),
      readOnly_(readOnly) {
  objects_.resize(model_->entities().size());
  pendingPerEntity_.assign(model_->entities().size(), 0);
  valueRowsRead_.assign(model_->entities().size(), 0);
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
  const ObjectPtr* found = objects_[entity.index].find(key);
  return found ? *found : nullptr;
}

ObjectPtr Context::registerObject(const EntityDescription& entity, std::int64_t key) {
  ObjectPtr& slot = objects_[entity.index].slot(key);
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
  objects_[entity->index].slot(key) = object;
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
  for (ObjectTable& table : objects_) {
    table.forEach([](std::int64_t, const ObjectPtr& object) {
      object->context_ = nullptr;
      object->snapshot_.reset();
      object->batch_.reset();
    });
    table.clear();
  }
  inserted_.clear();
  updated_.clear();
  deleted_.clear();
  std::fill(pendingPerEntity_.begin(), pendingPerEntity_.end(), 0);
}

void Context::closeConnection() {
  reset();
  compiledFetches_.clear();
  connection_.reset();
}

void Context::close() { closeConnection(); }

}  // namespace store
