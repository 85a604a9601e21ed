#pragma once
// A managed object: one row of an entity as seen by one context. Attributes are read and written
// by name (or by their index in the entity) as foundation values of the attribute's type;
// relationships are kept consistent with their inverses. An object may be a fault: a known row
// whose values load when first read.

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/store/model.h"

namespace store {

class Context;
class Object;
using ObjectPtr = std::shared_ptr<Object>;

// The identity of a row: its entity and primary key (Z_PK).
struct ObjectID {
  const EntityDescription* entity = nullptr;
  std::int64_t primaryKey = 0;

  bool isNull() const { return entity == nullptr; }
  friend bool operator==(const ObjectID& a, const ObjectID& b) {
    return a.entity == b.entity && a.primaryKey == b.primaryKey;
  }
};

namespace detail {

// A fixed number of elements, chosen when the object is made, kept inside the object up to N of
// them and in a vector beyond: the values of every entity the diary has fit, so making an object
// of a fetched row costs no allocation for them.
template <class T, size_t N>
class InlineSlots {
 public:
  InlineSlots() = default;
  InlineSlots(const InlineSlots&) = delete;
  InlineSlots& operator=(const InlineSlots&) = delete;

  void resize(size_t count) {
    size_ = count;
    if (count > N) spill_.resize(count);
  }
  size_t size() const { return size_; }
  T* begin() { return size_ > N ? spill_.data() : slots_.data(); }
  T* end() { return begin() + size_; }
  const T* begin() const { return size_ > N ? spill_.data() : slots_.data(); }
  const T* end() const { return begin() + size_; }
  T& operator[](size_t i) { return begin()[i]; }
  const T& operator[](size_t i) const { return begin()[i]; }
  std::vector<T> copy() const { return std::vector<T>(begin(), end()); }
  // Takes over a copy made earlier (same size).
  void restore(std::vector<T>&& from) {
    for (size_t i = 0; i < size_ && i < from.size(); ++i) (*this)[i] = std::move(from[i]);
  }

 private:
  std::array<T, N> slots_{};
  std::vector<T> spill_;
  size_t size_ = 0;
};

// Replaces the value in `slot` by make()'s, made in the slot itself: the value make() returns is
// never moved. Reading a page of rows makes many values, and moving each one costs a visit of its
// alternatives. A slot whose make() throws is left null, never unmade.
template <class Make>
void remakeInPlace(foundation::Value& slot, Make&& make) {
  std::destroy_at(&slot);
  try {
    ::new (static_cast<void*>(&slot)) foundation::Value(make());
  } catch (...) {
    ::new (static_cast<void*>(&slot)) foundation::Value();
    throw;
  }
}

}  // namespace detail

class Object : public std::enable_shared_from_this<Object> {
 public:
  Object(Context* context, const EntityDescription& entity, std::int64_t primaryKey);
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  const EntityDescription& entity() const { return *entity_; }
  ObjectID objectID() const { return ObjectID{entity_, primaryKey_}; }
  std::int64_t primaryKey() const { return primaryKey_; }

  // The context that owns the object; nullptr once the context was reset or closed, or the
  // object's deletion was saved. Such an object keeps the values it had and refuses changes.
  Context* context() const { return context_; }
  bool isInserted() const { return inserted_; }
  bool isUpdated() const { return updated_; }
  bool isDeleted() const { return deleted_; }
  bool isFault() const { return fault_; }
  bool hasChanges() const { return inserted_ || updated_ || deleted_; }

  // The attribute's value (null when unset or unknown). Reading a derived transient that has no
  // value yet computes it from its sources.
  const foundation::Value& value(std::string_view key);
  const foundation::Value& value(size_t attributeIndex);
  // Sets an attribute; the value is converted to the attribute's type (a number to a decimal,
  // a float keeps single precision...) and fails when it cannot be. Derived transients of the
  // attribute are recomputed at once.
  foundation::Status setValue(std::string_view key, foundation::Value value);
  foundation::Status setValue(size_t attributeIndex, foundation::Value value);

  // The attribute's value before the unsaved changes of the object.
  foundation::Value committedValue(std::string_view key);

  ObjectPtr toOne(std::string_view relationship);
  ObjectPtr toOne(const RelationshipDescription& relationship);
  // Primary key of the to-one destination, 0 for none (no destination is loaded).
  std::int64_t relatedKey(const RelationshipDescription& relationship);
  // Sets a to-one relationship and keeps the inverse side in step.
  foundation::Status setToOne(std::string_view relationship, const ObjectPtr& destination);
  foundation::Status setToOne(const RelationshipDescription& relationship, const ObjectPtr& destination);

  // The members of a to-many relationship, unsaved changes included, in primary-key order.
  std::vector<ObjectPtr> toMany(std::string_view relationship);
  std::vector<ObjectPtr> toMany(const RelationshipDescription& relationship);
  foundation::Status addToMany(std::string_view relationship, const ObjectPtr& member);
  foundation::Status removeFromMany(std::string_view relationship, const ObjectPtr& member);

  // Names of the stored attributes and relationships changed since the last save.
  std::vector<std::string> changedKeys();

 private:
  friend class Context;
  struct Snapshot {
    std::vector<foundation::Value> values;
    std::vector<std::int64_t> toOne;
  };
  struct FaultBatch;

  void ensureLoaded();
  void computeDerived(size_t attributeIndex);
  void willChange();
  // Sets the key of a to-one slot, with change tracking, without touching the inverse.
  void setToOneKey(size_t slot, std::int64_t key);
  std::int64_t toOneKey(size_t slot);
  foundation::Status checkWritable() const;

  Context* context_;
  const EntityDescription* entity_;
  std::int64_t primaryKey_;
  bool fault_ = true;
  bool inserted_ = false;
  bool updated_ = false;
  bool deleted_ = false;
  bool missing_ = false;  // the row was not found when the fault fired
  detail::InlineSlots<foundation::Value, 8> values_;
  // Per attribute: a derived transient holds its computed value. Bits kept in the object for the
  // first 64 attributes (every entity the diary has), so that making an object costs no allocation
  // for them; a vector beyond.
  class ReadyFlags {
   public:
    bool test(size_t i) const { return i < 64 ? (bits_ >> i) & 1 : i - 64 < more_.size() && more_[i - 64]; }
    void set(size_t i, bool ready) {
      if (i < 64) {
        bits_ = ready ? bits_ | (std::uint64_t{1} << i) : bits_ & ~(std::uint64_t{1} << i);
        return;
      }
      if (i - 64 >= more_.size()) more_.resize(i - 63, false);
      more_[i - 64] = ready;
    }
    void clear() {
      bits_ = 0;
      more_.clear();
    }

   private:
    std::uint64_t bits_ = 0;
    std::vector<bool> more_;
  };
  ReadyFlags derivedReady_;
  detail::InlineSlots<std::int64_t, 2> toOne_;  // primary key of each to-one destination, 0 for none
  std::unique_ptr<Snapshot> snapshot_;          // committed state while the object has unsaved changes
  std::shared_ptr<FaultBatch> batch_;           // faults that load together with this one
  size_t batchIndex_ = 0;
};

// Converts a value to an attribute's type; null stays null.
foundation::Result<foundation::Value> coerceValue(const AttributeDescription& attribute,
                                                  foundation::Value value);

}  // namespace store
