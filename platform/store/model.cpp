#include "platform/store/model.h"

#include <algorithm>
#include <set>

#include "platform/store/errors.h"

namespace store {

namespace {

bool isIdentifier(std::string_view name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

foundation::Error modelError(std::string description) {
  return makeError(kCoreDataError, std::move(description));
}

}  // namespace

std::string_view attributeTypeName(AttributeType type) {
  switch (type) {
    case AttributeType::String:
      return "String";
    case AttributeType::Date:
      return "Date";
    case AttributeType::Integer16:
      return "Integer 16";
    case AttributeType::Integer32:
      return "Integer 32";
    case AttributeType::Integer64:
      return "Integer 64";
    case AttributeType::Boolean:
      return "Boolean";
    case AttributeType::Decimal:
      return "Decimal";
    case AttributeType::Float:
      return "Float";
    case AttributeType::Double:
      return "Double";
    case AttributeType::Binary:
      return "Binary";
  }
  return "?";
}

std::string storeName(std::string_view name) {
  std::string out = "Z";
  out.reserve(name.size() + 1);
  for (char c : name) out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  return out;
}

const AttributeDescription* EntityDescription::attribute(std::string_view name) const {
  auto it = attributeByName.find(std::string(name));
  return it == attributeByName.end() ? nullptr : &attributes[it->second];
}

const RelationshipDescription* EntityDescription::relationship(std::string_view name) const {
  auto it = relationshipByName.find(std::string(name));
  return it == relationshipByName.end() ? nullptr : &relationships[it->second];
}

const EntityDescription* Model::entity(std::string_view name) const {
  for (const auto& e : entities_)
    if (e.name == name) return &e;
  return nullptr;
}

ModelBuilder::Entity& ModelBuilder::Entity::attribute(std::string name, AttributeType type) {
  AttributeDescription a;
  a.name = std::move(name);
  a.type = type;
  description_.attributes.push_back(std::move(a));
  return *this;
}

ModelBuilder::Entity& ModelBuilder::Entity::transient(std::string name, AttributeType type,
                                                      std::vector<std::string> derivedFrom,
                                                      DeriveFunction derive) {
  AttributeDescription a;
  a.name = std::move(name);
  a.type = type;
  a.transient = true;
  a.derivedFrom = std::move(derivedFrom);
  a.derive = std::move(derive);
  description_.attributes.push_back(std::move(a));
  return *this;
}

ModelBuilder::Entity& ModelBuilder::Entity::relationship(std::string name, std::string destination,
                                                         std::string inverse, DeleteRule rule, bool toMany) {
  RelationshipDescription r;
  r.name = std::move(name);
  r.destinationName = std::move(destination);
  r.inverseName = std::move(inverse);
  r.toMany = toMany;
  r.deleteRule = rule;
  description_.relationships.push_back(std::move(r));
  return *this;
}

ModelBuilder::Entity& ModelBuilder::Entity::toOne(std::string name, std::string destination,
                                                  std::string inverse, DeleteRule rule) {
  return relationship(std::move(name), std::move(destination), std::move(inverse), rule, false);
}

ModelBuilder::Entity& ModelBuilder::Entity::toMany(std::string name, std::string destination,
                                                   std::string inverse, DeleteRule rule) {
  return relationship(std::move(name), std::move(destination), std::move(inverse), rule, true);
}

ModelBuilder::Entity& ModelBuilder::Entity::index(std::vector<IndexKey> keys) {
  IndexDescription index;
  index.keys = std::move(keys);
  description_.indexes.push_back(std::move(index));
  return *this;
}

ModelBuilder::Entity& ModelBuilder::entity(std::string name) {
  entities_.push_back(std::make_unique<Entity>());
  entities_.back()->description_.name = std::move(name);
  return *entities_.back();
}

// Building checks everything a store will rely on, so that no later step has to: names are
// identifiers (they become SQL names), no two properties share a column, every inverse names
// its partner back, derived transients read stored attributes only. Entities are sorted by name
// so that their indexes, and a new file's entity numbers, do not depend on declaration order.
foundation::Result<std::shared_ptr<const Model>> ModelBuilder::build() {
  auto model = std::make_shared<Model>();
  std::vector<EntityDescription>& entities = model->entities_;
  for (const auto& e : entities_) entities.push_back(e->description_);
  std::sort(entities.begin(), entities.end(),
            [](const EntityDescription& a, const EntityDescription& b) { return a.name < b.name; });

  std::set<std::string> tables;
  for (size_t i = 0; i < entities.size(); ++i) {
    EntityDescription& e = entities[i];
    if (!isIdentifier(e.name)) return modelError("Invalid entity name \"" + e.name + "\"");
    e.index = i;
    e.table = storeName(e.name);
    if (!tables.insert(e.table).second) return modelError("Duplicate entity \"" + e.name + "\"");
    std::set<std::string> columns = {"Z_PK", "Z_ENT", "Z_OPT"};
    for (size_t a = 0; a < e.attributes.size(); ++a) {
      AttributeDescription& attr = e.attributes[a];
      if (!isIdentifier(attr.name)) return modelError("Invalid attribute name \"" + attr.name + "\"");
      if (!e.attributeByName.emplace(attr.name, a).second)
        return modelError("Duplicate property \"" + attr.name + "\" in " + e.name);
      attr.index = a;
      if (!attr.transient) {
        attr.column = storeName(attr.name);
        if (!columns.insert(attr.column).second)
          return modelError("Property \"" + attr.name + "\" of " + e.name + " clashes with another column");
        e.storedAttributes.push_back(a);
      }
    }
    for (size_t r = 0; r < e.relationships.size(); ++r) {
      RelationshipDescription& rel = e.relationships[r];
      if (!isIdentifier(rel.name)) return modelError("Invalid relationship name \"" + rel.name + "\"");
      if (e.attributeByName.count(rel.name) || !e.relationshipByName.emplace(rel.name, r).second)
        return modelError("Duplicate property \"" + rel.name + "\" in " + e.name);
      rel.index = r;
      if (!rel.toMany) {
        rel.toOneSlot = e.toOneRelationships.size();
        e.toOneRelationships.push_back(r);
        rel.column = storeName(rel.name);
        rel.indexName = e.table + "_" + rel.column + "_INDEX";
        if (!columns.insert(rel.column).second)
          return modelError("Relationship \"" + rel.name + "\" of " + e.name +
                            " clashes with another column");
      }
    }
  }

  for (EntityDescription& e : entities) {
    for (AttributeDescription& attr : e.attributes) {
      if (!attr.derivedFrom.empty() && !attr.derive)
        return modelError("Transient \"" + attr.name + "\" names sources but no derivation");
      if (attr.derive && !attr.transient) return modelError("Only transients may be derived: " + attr.name);
      for (const std::string& source : attr.derivedFrom) {
        auto it = e.attributeByName.find(source);
        if (it == e.attributeByName.end() || e.attributes[it->second].transient)
          return modelError("Transient \"" + attr.name + "\" derives from unknown stored attribute \"" +
                            source + "\"");
        attr.sourceIndexes.push_back(it->second);
        e.attributes[it->second].dependents.push_back(attr.index);
      }
    }
    std::set<std::string> indexNames;
    for (IndexDescription& index : e.indexes) {
      if (index.keys.empty()) return modelError("An index of " + e.name + " has no key");
      index.name = e.table;
      for (const IndexKey& key : index.keys) {
        const AttributeDescription* attr = e.attribute(key.name);
        const RelationshipDescription* rel = e.relationship(key.name);
        std::string column = attr && !attr->transient ? attr->column : rel && !rel->toMany ? rel->column : "";
        if (column.empty())
          return modelError("Index key \"" + key.name + "\" of " + e.name + " is not a stored column");
        index.name += "_" + column;
        index.columns.push_back(std::move(column));
      }
      index.name += "_INDEX";
      if (!indexNames.insert(index.name).second)
        return modelError("Duplicate index " + index.name + " in " + e.name);
    }
    for (RelationshipDescription& rel : e.relationships) {
      rel.owner = &e;
      const EntityDescription* dest = model->entity(rel.destinationName);
      if (!dest)
        return modelError("Relationship \"" + rel.name + "\" of " + e.name + " names unknown entity \"" +
                          rel.destinationName + "\"");
      rel.destination = dest;
      if (rel.inverseName.empty()) {
        if (rel.toMany) return modelError("To-many relationship \"" + rel.name + "\" needs a to-one inverse");
        continue;
      }
      const RelationshipDescription* inverse = dest->relationship(rel.inverseName);
      if (!inverse || inverse->inverseName != rel.name || inverse->destinationName != e.name)
        return modelError("Relationship \"" + rel.name + "\" of " + e.name + " has no matching inverse \"" +
                          rel.inverseName + "\" in " + dest->name);
      if (rel.toMany && inverse->toMany)
        return modelError("Many-to-many relationship \"" + rel.name + "\" is not supported");
      rel.inverse = inverse;
    }
  }
  return std::shared_ptr<const Model>(std::move(model));
}

}  // namespace store
