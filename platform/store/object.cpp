#include "platform/store/object.h"

#include <cmath>
#include <limits>

#include "platform/store/context.h"
#include "platform/store/errors.h"

namespace store {

namespace {

using foundation::Value;

const Value& nullValue() {
  static const Value kNull;
  return kNull;
}

bool isNumeric(const Value& v) { return v.isNumber() || v.boolean(); }

// A value that coerceValue would return unchanged: what the typed setters pass, set without a
// conversion's copies. Whole numbers are left to coerceValue for their range check.
bool keptAsIs(const AttributeDescription& attribute, const Value& v) {
  switch (attribute.type) {
    case AttributeType::String:
      return v.string() != nullptr;
    case AttributeType::Date:
      return v.date() != nullptr;
    case AttributeType::Decimal:
      return v.decimal() != nullptr;
    default:
      return v.isNull();  // null stays null
  }
}

}  // namespace

// Values are converted to the attribute's type when they are set, so that what is in memory is
// exactly what a load from the file would give (an integer attribute never holds 2.5).
foundation::Result<Value> coerceValue(const AttributeDescription& attribute, Value value) {
  if (value.isNull()) return Value();
  auto mismatch = [&]() {
    return makeError(kManagedObjectValidationError,
                     "Unacceptable type of value for attribute: property = \"" + attribute.name +
                         "\"; desired type = " + std::string(attributeTypeName(attribute.type)) +
                         "; given type = " + std::string(value.typeName()));
  };
  switch (attribute.type) {
    case AttributeType::String:
      if (!value.string()) return mismatch();
      return value;
    case AttributeType::Date:
      if (!value.date()) return mismatch();
      return value;
    case AttributeType::Binary:
      if (!value.data()) return mismatch();
      return value;
    case AttributeType::Boolean:
      if (value.boolean()) return value;
      if (!isNumeric(value)) return mismatch();
      return Value(*value.toDouble() != 0);
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Integer64: {
      if (!isNumeric(value)) return mismatch();
      const double d = *value.toDouble();
      if (!std::isfinite(d)) return mismatch();
      const auto whole = value.toInteger();
      if (!whole) return mismatch();
      const std::int64_t limit =
          attribute.type == AttributeType::Integer16   ? std::numeric_limits<std::int16_t>::max()
          : attribute.type == AttributeType::Integer32 ? std::numeric_limits<std::int32_t>::max()
                                                       : std::numeric_limits<std::int64_t>::max();
      if (*whole > limit || *whole < -limit - 1)
        return makeError(
            kManagedObjectValidationError,
            "Value " + value.description() + " is out of range for attribute \"" + attribute.name + "\"");
      return Value(static_cast<long long>(*whole));
    }
    case AttributeType::Decimal: {
      if (value.decimal()) return value;
      if (value.boolean()) return Value(foundation::Decimal::fromInteger(*value.boolean() ? 1 : 0));
      if (value.integer()) return Value(foundation::Decimal::fromInteger(*value.integer()));
      if (value.real()) {
        auto d = foundation::Decimal::fromDouble(*value.real());
        if (!d) return mismatch();
        return Value(*d);
      }
      return mismatch();
    }
    case AttributeType::Float: {
      if (!isNumeric(value)) return mismatch();
      return Value(static_cast<double>(static_cast<float>(*value.toDouble())));
    }
    case AttributeType::Double:
      if (!isNumeric(value)) return mismatch();
      return Value(*value.toDouble());
  }
  return mismatch();
}

Object::Object(Context* context, const EntityDescription& entity, std::int64_t primaryKey)
    : context_(context), entity_(&entity), primaryKey_(primaryKey) {
  values_.resize(entity.attributes.size());
  toOne_.resize(entity.toOneCount());
}

void Object::ensureLoaded() {
  if (fault_ && context_) context_->fireFault(*this);
}

foundation::Status Object::checkWritable() const {
  if (!context_)
    return makeError(kCoreDataError, "The " + entity_->name + " object is no longer in a context");
  return {};
}

const Value& Object::value(std::string_view key) {
  const AttributeDescription* attribute = entity_->attribute(key);
  return attribute ? value(attribute->index) : nullValue();
}

const Value& Object::value(size_t attributeIndex) {
  if (attributeIndex >= values_.size()) return nullValue();
  ensureLoaded();
  const AttributeDescription& attribute = entity_->attributes[attributeIndex];
  if (attribute.derive && !derivedReady_.test(attributeIndex)) computeDerived(attributeIndex);
  return values_[attributeIndex];
}

void Object::computeDerived(size_t attributeIndex) {
  const AttributeDescription& attribute = entity_->attributes[attributeIndex];
  if (attribute.sourceIndexes.size() == 1) {
    // The common case (a day key from a date) reads its one source in place, without a copy.
    const std::span<const Value> source(&values_[attribute.sourceIndexes[0]], 1);
    detail::remakeInPlace(values_[attributeIndex], [&] { return attribute.derive(source); });
  } else {
    std::vector<Value> sources;
    sources.reserve(attribute.sourceIndexes.size());
    for (size_t source : attribute.sourceIndexes) sources.push_back(values_[source]);
    values_[attributeIndex] = attribute.derive(sources);
  }
  derivedReady_.set(attributeIndex, true);
}

foundation::Status Object::setValue(std::string_view key, Value value) {
  const AttributeDescription* attribute = entity_->attribute(key);
  if (!attribute)
    return makeError(kManagedObjectValidationError,
                     "The entity " + entity_->name + " has no attribute \"" + std::string(key) + "\"");
  return setValue(attribute->index, std::move(value));
}

foundation::Status Object::setValue(size_t attributeIndex, Value value) {
  if (auto status = checkWritable(); !status) return status;
  if (attributeIndex >= values_.size()) return makeError(kManagedObjectValidationError, "No such attribute");
  const AttributeDescription& attribute = entity_->attributes[attributeIndex];
  if (!keptAsIs(attribute, value)) {
    auto coerced = coerceValue(attribute, std::move(value));
    if (!coerced) return coerced.error();
    value = std::move(*coerced);
  }
  ensureLoaded();
  if (attribute.transient) {
    values_[attributeIndex] = std::move(value);
    derivedReady_.set(attributeIndex, true);
    return {};
  }
  Value& slot = values_[attributeIndex];
  if (!(slot.type() == value.type() && slot == value)) {
    willChange();
    slot = std::move(value);
  }
  // Derived transients follow every set, an unchanged value included: what they derive may
  // depend on more than the value (a day key on the time zone in force).
  for (size_t dependent : attribute.dependents) computeDerived(dependent);
  return {};
}

Value Object::committedValue(std::string_view key) {
  const AttributeDescription* attribute = entity_->attribute(key);
  if (!attribute) return Value();
  if (inserted_) return Value();
  if (snapshot_) return snapshot_->values[attribute->index];
  return value(attribute->index);
}

// The first change after a save keeps the saved state, for rollback and committedValue; an
// inserted object has no saved state to keep.
void Object::willChange() {
  if (!context_) return;
  if (!inserted_ && !snapshot_)
    snapshot_ = std::make_unique<Snapshot>(Snapshot{values_.copy(), toOne_.copy()});
  context_->markUpdated(*this);
}

std::int64_t Object::toOneKey(size_t slot) {
  ensureLoaded();
  return toOne_[slot];
}

void Object::setToOneKey(size_t slot, std::int64_t key) {
  ensureLoaded();
  if (toOne_[slot] == key) return;
  willChange();
  toOne_[slot] = key;
}

std::int64_t Object::relatedKey(const RelationshipDescription& relationship) {
  if (relationship.toMany || relationship.owner != entity_) return 0;
  return toOneKey(relationship.toOneSlot);
}

ObjectPtr Object::toOne(std::string_view relationship) {
  const RelationshipDescription* r = entity_->relationship(relationship);
  return r ? toOne(*r) : nullptr;
}

ObjectPtr Object::toOne(const RelationshipDescription& relationship) {
  if (relationship.toMany || relationship.owner != entity_ || !context_) return nullptr;
  const std::int64_t key = toOneKey(relationship.toOneSlot);
  if (!key) return nullptr;
  return context_->objectWithID(ObjectID{relationship.destination, key});
}

foundation::Status Object::setToOne(std::string_view relationship, const ObjectPtr& destination) {
  const RelationshipDescription* r = entity_->relationship(relationship);
  if (!r)
    return makeError(
        kManagedObjectValidationError,
        "The entity " + entity_->name + " has no relationship \"" + std::string(relationship) + "\"");
  return setToOne(*r, destination);
}

foundation::Status Object::setToOne(const RelationshipDescription& relationship,
                                    const ObjectPtr& destination) {
  if (auto status = checkWritable(); !status) return status;
  if (relationship.toMany || relationship.owner != entity_)
    return makeError(kManagedObjectValidationError,
                     "\"" + relationship.name + "\" is not a to-one relationship of " + entity_->name);
  if (destination && destination->entity_ != relationship.destination)
    return makeError(kManagedObjectValidationError, "\"" + relationship.name + "\" takes " +
                                                        relationship.destination->name + ", not " +
                                                        destination->entity_->name);
  if (destination && destination->context_ != context_)
    return makeError(
        kManagedObjectValidationError,
        "Illegal attempt to relate objects of different contexts (\"" + relationship.name + "\")");
  const size_t slot = relationship.toOneSlot;
  const std::int64_t newKey = destination ? destination->primaryKey_ : 0;
  const std::int64_t oldKey = toOneKey(slot);
  if (newKey == oldKey) return {};
  const RelationshipDescription* inverse = relationship.inverse;
  if (inverse && !inverse->toMany) {
    // One-to-one: the old destination lets go of us, and the new one of its old source.
    if (oldKey) {
      ObjectPtr old = context_->objectWithID(ObjectID{relationship.destination, oldKey});
      if (old && old->toOneKey(inverse->toOneSlot) == primaryKey_) old->setToOneKey(inverse->toOneSlot, 0);
    }
    if (destination) {
      const std::int64_t previous = destination->toOneKey(inverse->toOneSlot);
      if (previous && previous != primaryKey_) {
        ObjectPtr formerSource = context_->objectWithID(ObjectID{entity_, previous});
        if (formerSource && formerSource->toOneKey(slot) == newKey) formerSource->setToOneKey(slot, 0);
      }
      destination->setToOneKey(inverse->toOneSlot, primaryKey_);
    }
  }
  setToOneKey(slot, newKey);
  return {};
}

std::vector<ObjectPtr> Object::toMany(std::string_view relationship) {
  const RelationshipDescription* r = entity_->relationship(relationship);
  return r ? toMany(*r) : std::vector<ObjectPtr>();
}

std::vector<ObjectPtr> Object::toMany(const RelationshipDescription& relationship) {
  if (!relationship.toMany || relationship.owner != entity_ || !context_) return {};
  return context_->membersOf(*this, relationship);
}

foundation::Status Object::addToMany(std::string_view relationship, const ObjectPtr& member) {
  const RelationshipDescription* r = entity_->relationship(relationship);
  if (!r || !r->toMany)
    return makeError(
        kManagedObjectValidationError,
        "\"" + std::string(relationship) + "\" is not a to-many relationship of " + entity_->name);
  if (!member) return makeError(kManagedObjectValidationError, "No object to add to \"" + r->name + "\"");
  if (member->entity_ != r->destination)
    return makeError(kManagedObjectValidationError,
                     "\"" + r->name + "\" holds " + r->destination->name + ", not " + member->entity_->name);
  if (auto status = checkWritable(); !status) return status;
  return member->setToOne(*r->inverse, shared_from_this());
}

foundation::Status Object::removeFromMany(std::string_view relationship, const ObjectPtr& member) {
  const RelationshipDescription* r = entity_->relationship(relationship);
  if (!r || !r->toMany)
    return makeError(
        kManagedObjectValidationError,
        "\"" + std::string(relationship) + "\" is not a to-many relationship of " + entity_->name);
  if (!member || member->entity_ != r->destination) return {};
  if (auto status = checkWritable(); !status) return status;
  if (member->relatedKey(*r->inverse) != primaryKey_) return {};
  return member->setToOne(*r->inverse, nullptr);
}

std::vector<std::string> Object::changedKeys() {
  std::vector<std::string> keys;
  ensureLoaded();
  for (size_t a : entity_->storedAttributes) {
    const bool changed = inserted_ ? !values_[a].isNull()
                                   : snapshot_ && !(snapshot_->values[a].type() == values_[a].type() &&
                                                    snapshot_->values[a] == values_[a]);
    if (changed) keys.push_back(entity_->attributes[a].name);
  }
  for (size_t r : entity_->toOneRelationships) {
    const size_t slot = entity_->relationships[r].toOneSlot;
    const bool changed = inserted_ ? toOne_[slot] != 0 : snapshot_ && snapshot_->toOne[slot] != toOne_[slot];
    if (changed) keys.push_back(entity_->relationships[r].name);
  }
  return keys;
}

}  // namespace store
