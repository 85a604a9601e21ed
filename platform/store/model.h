#pragma once
// The object model, declared in code: entities with typed optional attributes, transient
// attributes derived from stored ones, and to-one / to-many relationships with inverses and
// delete rules. A Model is built once, validated, and then shared read-only by every store and
// context that uses it.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace store {

enum class AttributeType {
  String,
  Date,
  Integer16,
  Integer32,
  Integer64,
  Boolean,
  Decimal,
  Float,
  Double,
  Binary
};

std::string_view attributeTypeName(AttributeType type);

// What happens to the destination of a relationship when its source object is deleted.
enum class DeleteRule {
  NoAction,  // leave the destination as it is (it may keep pointing at the deleted object)
  Nullify,   // clear the destination's inverse link
  Cascade,   // delete the destination too
  Deny,      // refuse to save while the destination exists
};

// Computes a transient attribute from the current values of its source attributes, given in the
// order of `derivedFrom`.
using DeriveFunction = std::function<foundation::Value(std::span<const foundation::Value> sources)>;

struct AttributeDescription {
  std::string name;
  AttributeType type = AttributeType::String;
  bool transient = false;
  // A transient attribute may be derived: recomputed whenever one of these stored attributes is
  // set, and computed on first read after loading.
  std::vector<std::string> derivedFrom;
  DeriveFunction derive;

  // Resolved when the model is built.
  size_t index = 0;                   // slot among the entity's attributes
  std::string column;                 // "Z" + upper-cased name; empty for transients
  std::vector<size_t> sourceIndexes;  // indexes of derivedFrom
  std::vector<size_t> dependents;     // derived transients that read this attribute
};

struct EntityDescription;

struct RelationshipDescription {
  std::string name;
  std::string destinationName;
  std::string inverseName;  // may be empty for a to-one without inverse
  bool toMany = false;
  DeleteRule deleteRule = DeleteRule::Nullify;

  // Resolved when the model is built.
  const EntityDescription* destination = nullptr;
  const RelationshipDescription* inverse = nullptr;
  const EntityDescription* owner = nullptr;
  size_t index = 0;       // slot among the entity's relationships
  size_t toOneSlot = 0;   // slot among the entity's to-one relationships (to-one only)
  std::string column;     // "Z" + upper-cased name (to-one only)
  std::string indexName;  // "Z<ENTITY>_Z<REL>_INDEX" (to-one only)
};

// One key of an index: a stored attribute or a to-one relationship, and its direction.
struct IndexKey {
  std::string name;
  bool descending = false;
};

// An index the store keeps on an entity's table. It always ends with the primary key in ascending
// order, the tie-breaker of every sort, so that a sort on its keys is read straight from it.
struct IndexDescription {
  std::vector<IndexKey> keys;

  // Resolved when the model is built.
  std::string name;                  // "Z<ENTITY>_<COLUMN>_..._INDEX"
  std::vector<std::string> columns;  // one per key
};

struct EntityDescription {
  std::string name;
  std::vector<AttributeDescription> attributes;
  std::vector<RelationshipDescription> relationships;
  std::vector<IndexDescription> indexes;

  // Resolved when the model is built.
  size_t index = 0;                        // position in the model (entities sorted by name)
  std::string table;                       // "Z" + upper-cased name
  std::vector<size_t> storedAttributes;    // indexes of the non-transient attributes
  std::vector<size_t> toOneRelationships;  // indexes of the to-one relationships

  const AttributeDescription* attribute(std::string_view name) const;
  const RelationshipDescription* relationship(std::string_view name) const;
  size_t toOneCount() const { return toOneRelationships.size(); }

  std::unordered_map<std::string, size_t> attributeByName;
  std::unordered_map<std::string, size_t> relationshipByName;
};

class Model {
 public:
  // Entities in name order; their `index` is their position here.
  const std::vector<EntityDescription>& entities() const { return entities_; }
  const EntityDescription* entity(std::string_view name) const;

 private:
  friend class ModelBuilder;
  std::vector<EntityDescription> entities_;
};

// Declares entities, then checks and resolves them into a Model.
class ModelBuilder {
 public:
  class Entity {
   public:
    Entity& attribute(std::string name, AttributeType type);
    // A transient attribute: kept in memory only. With `derivedFrom` and `derive` it is computed
    // from those stored attributes.
    Entity& transient(std::string name, AttributeType type, std::vector<std::string> derivedFrom = {},
                      DeriveFunction derive = nullptr);
    Entity& toOne(std::string name, std::string destination, std::string inverse,
                  DeleteRule rule = DeleteRule::Nullify);
    Entity& toMany(std::string name, std::string destination, std::string inverse,
                   DeleteRule rule = DeleteRule::Nullify);
    // An index on these keys (stored attributes or to-one relationships), for the sorts and
    // searches that the screens run often. Creating it never changes what a fetch answers.
    Entity& index(std::vector<IndexKey> keys);

   private:
    friend class ModelBuilder;
    Entity& relationship(std::string name, std::string destination, std::string inverse, DeleteRule rule,
                         bool toMany);
    EntityDescription description_;
  };

  Entity& entity(std::string name);

  // Fails on duplicate or malformed names, unknown destinations, inverses that do not point
  // back, to-many relationships without a to-one inverse (no join tables), transients
  // derived from unknown or transient attributes, and indexes on anything but stored columns.
  foundation::Result<std::shared_ptr<const Model>> build();

 private:
  std::vector<std::unique_ptr<Entity>> entities_;
};

// "Z" followed by the name in ASCII upper case: the table or column of a model name.
std::string storeName(std::string_view name);

}  // namespace store
