// Compiling a fetch request. What holds across the file:
// - a key path is a column of t0 (the entity) or of t<i> (the destination of a to-one, joined
//   once with LEFT JOIN however often it is named), so a row without that link still counts;
// - every constant becomes a binding, in the order of its ? in `where`; no value is spliced;
// - what a fetch cannot answer (to-many or transient keys, a constant of the wrong type) fails
//   here, while compiling, never later while running;
// - the compiled tree is also evaluated in memory for unsaved objects, with the same rules for
//   nil and for strings (collation.cpp) as the SQL, so both answer alike: nil is never less,
//   greater, in or between anything, and equals only nil.
#include "platform/store/query.h"

#include <algorithm>
#include <cstddef>
#include <optional>

#include "platform/store/collation.h"
#include "platform/store/errors.h"
#include "platform/store/sqlite.h"

namespace store::detail {

namespace {

using foundation::Value;

foundation::Error queryError(std::string description) {
  return makeError(kCoreDataError, std::move(description));
}

bool isNumeric(const Value& v) { return v.isNumber() || v.boolean(); }

std::string keyName(const KeyRef& key) {
  std::string name = key.hop ? key.hop->name + "." : "";
  return name + (key.attribute ? key.attribute->name : key.link->name);
}

// Converts a constant compared with a key to the key's type.
foundation::Result<Value> coerceConstant(const KeyRef& key, const Value& v) {
  if (v.isNull()) return Value();
  if (key.link) return queryError("Relationship " + keyName(key) + " can only be compared with nil");
  const AttributeDescription& a = *key.attribute;
  auto mismatch = [&]() {
    return queryError("Cannot compare " + keyName(key) + " (" + std::string(attributeTypeName(a.type)) +
                      ") with " + std::string(v.typeName()));
  };
  switch (a.type) {
    case AttributeType::String:
      if (!v.string()) return mismatch();
      return v;
    case AttributeType::Date:
      if (!v.date()) return mismatch();
      return v;
    case AttributeType::Binary:
      if (!v.data()) return mismatch();
      return v;
    case AttributeType::Float:
      if (!isNumeric(v)) return mismatch();
      return Value(static_cast<double>(static_cast<float>(*v.toDouble())));
    default:
      if (!isNumeric(v)) return mismatch();
      return v;
  }
}

Operator flip(Operator op) {
  switch (op) {
    case Operator::Less:
      return Operator::Greater;
    case Operator::LessEqual:
      return Operator::GreaterEqual;
    case Operator::Greater:
      return Operator::Less;
    case Operator::GreaterEqual:
      return Operator::LessEqual;
    default:
      return op;
  }
}

bool isStringOp(Operator op) {
  return op == Operator::BeginsWith || op == Operator::EndsWith || op == Operator::Contains ||
         op == Operator::Like;
}

StringOp stringOpOf(Operator op) {
  switch (op) {
    case Operator::Equal:
      return StringOp::Equal;
    case Operator::NotEqual:
      return StringOp::NotEqual;
    case Operator::BeginsWith:
      return StringOp::BeginsWith;
    case Operator::EndsWith:
      return StringOp::EndsWith;
    case Operator::Contains:
      return StringOp::Contains;
    default:
      return StringOp::Like;
  }
}

bool nullSafeEqual(const Value& a, const Value& b) {
  if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
  return compareValues(a, b) == 0;
}

// Evaluates a comparison of two values by the operator's rules (shared by constants folded at
// compile time and objects in memory).
bool compareWith(Operator op, unsigned options, const Value& l, const Value& r) {
  switch (op) {
    case Operator::Equal:
      if (options)
        return l.string() && r.string() &&
               evaluateStringOp(StringOp::Equal, options, *l.string(), *r.string());
      return nullSafeEqual(l, r);
    case Operator::NotEqual:
      if (options) {
        if (l.isNull()) return true;
        return l.string() && r.string() &&
               evaluateStringOp(StringOp::NotEqual, options, *l.string(), *r.string());
      }
      return !nullSafeEqual(l, r);
    case Operator::Less:
      return !l.isNull() && !r.isNull() && compareValues(l, r) < 0;
    case Operator::LessEqual:
      return !l.isNull() && !r.isNull() && compareValues(l, r) <= 0;
    case Operator::Greater:
      return !l.isNull() && !r.isNull() && compareValues(l, r) > 0;
    case Operator::GreaterEqual:
      return !l.isNull() && !r.isNull() && compareValues(l, r) >= 0;
    case Operator::In: {
      if (l.isNull() || !r.array()) return false;
      for (const Value& item : *r.array())
        if (!item.isNull() && compareValues(l, item) == 0) return true;
      return false;
    }
    case Operator::Between: {
      if (l.isNull() || !r.array() || r.array()->size() != 2) return false;
      const Value& lo = (*r.array())[0];
      const Value& hi = (*r.array())[1];
      return !lo.isNull() && !hi.isNull() && compareValues(l, lo) >= 0 && compareValues(l, hi) <= 0;
    }
    default:
      return l.string() && r.string() && evaluateStringOp(stringOpOf(op), options, *l.string(), *r.string());
  }
}

class Compiler {
 public:
  Compiler(QueryPlan& plan, const DestinationSearch& search) : plan_(plan), search_(search) {}

  // The first failure of a destination search while emitting, if any.
  const std::optional<foundation::Error>& error() const { return error_; }

  foundation::Result<CompiledNode> compileNode(const PredicateNode& node) {
    CompiledNode out;
    out.kind = node.kind;
    switch (node.kind) {
      case PredicateNode::Kind::True:
      case PredicateNode::Kind::False:
        return out;
      case PredicateNode::Kind::And:
      case PredicateNode::Kind::Or:
      case PredicateNode::Kind::Not:
        for (const auto& child : node.children) {
          auto compiled = compileNode(*child);
          if (!compiled) return compiled.error();
          out.children.push_back(std::move(*compiled));
        }
        return out;
      case PredicateNode::Kind::Comparison:
        return compileComparison(node);
    }
    return out;
  }

  void emit(const CompiledNode& node, std::string& sql) {
    switch (node.kind) {
      case PredicateNode::Kind::True:
        sql += "1";
        return;
      case PredicateNode::Kind::False:
        sql += "0";
        return;
      case PredicateNode::Kind::Not:
        sql += "NOT COALESCE(";
        emit(node.children[0], sql);
        sql += ", 0)";
        return;
      case PredicateNode::Kind::And:
      case PredicateNode::Kind::Or: {
        const bool isAnd = node.kind == PredicateNode::Kind::And;
        if (node.children.empty()) {
          sql += isAnd ? "1" : "0";
          return;
        }
        sql += "(";
        for (size_t i = 0; i < node.children.size(); ++i) {
          if (i) sql += isAnd ? " AND " : " OR ";
          emit(node.children[i], sql);
        }
        sql += ")";
        return;
      }
      case PredicateNode::Kind::Comparison:
        emitComparison(node, sql);
        return;
    }
  }

 private:
  foundation::Result<CompiledNode> compileComparison(const PredicateNode& node) {
    CompiledNode out;
    out.kind = PredicateNode::Kind::Comparison;
    out.op = node.op;
    out.options = node.options;
    const Expression* lhs = &node.lhs;
    const Expression* rhs = &node.rhs;
    if (!lhs->isKeyPath() && rhs->isKeyPath()) {
      if (node.op == Operator::In || node.op == Operator::Between || isStringOp(node.op))
        return queryError("A constant on the left of " + std::string(operatorName(node.op)) +
                          " is not supported");
      std::swap(lhs, rhs);
      out.op = flip(node.op);
    }
    if (!lhs->isKeyPath()) {
      // Two constants: decide now.
      out.kind = compareWith(out.op, out.options, lhs->constant, rhs->constant) ? PredicateNode::Kind::True
                                                                                : PredicateNode::Kind::False;
      return out;
    }
    const bool linkAllowed = node.op == Operator::Equal || node.op == Operator::NotEqual;
    auto key = plan_.resolve(join(lhs->keyPath), linkAllowed);
    if (!key) return key.error();
    out.lhs.isKey = true;
    out.lhs.key = *key;
    if (out.options && (!key->attribute || key->attribute->type != AttributeType::String))
      return queryError("String options on " + keyName(*key) + ", which is not a string");
    if (out.options && !(out.op == Operator::Equal || out.op == Operator::NotEqual || isStringOp(out.op)))
      return queryError("String options are not supported with " + std::string(operatorName(out.op)));
    if (isStringOp(out.op) && (!key->attribute || key->attribute->type != AttributeType::String))
      return queryError(std::string(operatorName(out.op)) + " needs a string attribute, not " +
                        keyName(*key));

    if (rhs->isKeyPath()) {
      if (out.op == Operator::In || out.op == Operator::Between)
        return queryError(std::string(operatorName(out.op)) + " needs a list of constants");
      auto other = plan_.resolve(join(rhs->keyPath), linkAllowed);
      if (!other) return other.error();
      out.rhs.isKey = true;
      out.rhs.key = *other;
      return out;
    }
    if (out.op == Operator::In || out.op == Operator::Between) {
      if (out.options) return queryError("String options are not supported with IN or BETWEEN");
      if (!rhs->constant.array()) return queryError(std::string(operatorName(out.op)) + " needs a list");
      foundation::Array items;
      for (const Value& item : *rhs->constant.array()) {
        auto coerced = coerceConstant(*key, item);
        if (!coerced) return coerced.error();
        if (out.op == Operator::In && coerced->isNull()) continue;
        items.push_back(std::move(*coerced));
      }
      out.rhs.constant = Value(std::move(items));
      return out;
    }
    if (isStringOp(out.op) && !rhs->constant.string() && !rhs->constant.isNull())
      return queryError(std::string(operatorName(out.op)) + " needs a string");
    auto coerced = coerceConstant(*key, rhs->constant);
    if (!coerced) return coerced.error();
    out.rhs.constant = std::move(*coerced);
    if (out.rhs.constant.isNull() && (out.op == Operator::Equal || out.op == Operator::NotEqual))
      out.options = 0;
    return out;
  }

  static std::string join(const std::vector<std::string>& parts) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? "." : "") + parts[i];
    return out;
  }

  void bind(const Value& v, std::string& sql) {
    plan_.bindings.push_back(v);
    sql += "?";
  }

  // A comparison through a to-one that can only hold when the destination exists and matches
  // becomes a search of the destination table: "t0.ZREL IN (SELECT Z_PK FROM ZDEST WHERE ...)",
  // which lets the index on the link do the work instead of joining every row.
  static bool searchesDestination(const CompiledNode& node) {
    if (!node.lhs.key.hop || node.rhs.isKey) return false;
    if (node.op == Operator::Equal || node.op == Operator::NotEqual) return !node.rhs.constant.isNull();
    return true;
  }

  // IN lists up to this long are written as equalities joined by OR.
  static constexpr size_t kMaxChainedEqualities = 8;

  // Beyond this many destination rows the link is tested against the subquery instead of a list.
  static constexpr size_t kMaxListedKeys = 64;

  // "t0.ZLINK = ?" for one destination key, "t0.ZLINK IN (?, ...)" for a few, "0" for none; false
  // (nothing emitted) when there are too many to list or the search failed.
  bool emitLinkTest(const CompiledNode& inner, bool negate, std::string& sql) {
    const KeyRef& key = inner.lhs.key;
    const size_t mark = plan_.bindings.size();
    std::string condition;
    emitComparisonOn(inner, "s." + key.columnName(), condition);
    std::vector<Value> bindings(plan_.bindings.begin() + static_cast<std::ptrdiff_t>(mark),
                                plan_.bindings.end());
    plan_.bindings.resize(mark);
    auto keys = search_(key.hop->destination->table, condition, bindings);
    if (!keys) {
      if (!error_) error_ = keys.error();
      return false;
    }
    if (keys->size() > kMaxListedKeys) return false;
    std::string test;
    const std::string column = "t0." + key.hop->column;
    if (keys->empty()) {
      test = "0";
    } else if (keys->size() == 1) {
      test = column + " = ";
      bind(Value(static_cast<long long>(keys->front())), test);
    } else {
      test = column + " IN (";
      for (size_t i = 0; i < keys->size(); ++i) {
        if (i) test += ", ";
        bind(Value(static_cast<long long>((*keys)[i])), test);
      }
      test += ")";
    }
    sql += negate ? "NOT COALESCE(" + test + ", 0)" : test;
    return true;
  }

  void emitComparison(const CompiledNode& node, std::string& sql) {
    const KeyRef& key = node.lhs.key;
    if (searchesDestination(node)) {
      // "a.b != x" holds where "a.b == x" does not, a missing destination included.
      const bool negate = node.op == Operator::NotEqual;
      CompiledNode inner = node;
      if (negate) inner.op = Operator::Equal;
      if (search_ && emitLinkTest(inner, negate, sql)) return;
      std::string search =
          "t0." + key.hop->column + " IN (SELECT s.Z_PK FROM " + key.hop->destination->table + " s WHERE ";
      emitComparisonOn(inner, "s." + key.columnName(), search);
      search += ")";
      sql += negate ? "NOT COALESCE(" + search + ", 0)" : search;
      return;
    }
    emitComparisonOn(node, plan_.columnOf(key), sql);
  }

  void emitComparisonOn(const CompiledNode& node, const std::string& col, std::string& sql) {
    const std::string op = std::to_string(static_cast<int>(stringOpOf(node.op)));
    const std::string options = std::to_string(node.options);
    if (node.rhs.isKey) {
      const std::string other = plan_.columnOf(node.rhs.key);
      if (node.options || isStringOp(node.op)) {
        if (node.op == Operator::NotEqual) sql += "(" + col + " IS NULL OR ";
        sql += "diary_strop(" + op + ", " + options + ", " + col + ", " + other + ")";
        if (node.op == Operator::NotEqual) sql += ")";
        return;
      }
      switch (node.op) {
        case Operator::Equal:
          sql += col + " IS " + other;
          return;
        case Operator::NotEqual:
          sql += col + " IS NOT " + other;
          return;
        case Operator::Less:
          sql += col + " < " + other;
          return;
        case Operator::LessEqual:
          sql += col + " <= " + other;
          return;
        case Operator::Greater:
          sql += col + " > " + other;
          return;
        default:
          sql += col + " >= " + other;
          return;
      }
    }
    const Value& c = node.rhs.constant;
    switch (node.op) {
      case Operator::Equal:
        if (c.isNull()) {
          sql += col + " IS NULL";
        } else if (node.options) {
          sql += "diary_strop(" + op + ", " + options + ", " + col + ", ";
          bind(c, sql);
          sql += ")";
        } else {
          sql += col + " = ";
          bind(c, sql);
        }
        return;
      case Operator::NotEqual:
        if (c.isNull()) {
          sql += col + " IS NOT NULL";
        } else if (node.options) {
          sql += "(" + col + " IS NULL OR diary_strop(" + op + ", " + options + ", " + col + ", ";
          bind(c, sql);
          sql += "))";
        } else {
          sql += col + " IS NOT ";
          bind(c, sql);
        }
        return;
      case Operator::Less:
      case Operator::LessEqual:
      case Operator::Greater:
      case Operator::GreaterEqual: {
        if (c.isNull()) {
          sql += "0";
          return;
        }
        static const char* const kOps[] = {"<", "<=", ">", ">="};
        sql += col + " " + kOps[static_cast<int>(node.op) - static_cast<int>(Operator::Less)] + " ";
        bind(c, sql);
        return;
      }
      case Operator::In: {
        const auto& items = *c.array();
        if (items.empty()) {
          sql += "0";
          return;
        }
        // A short list is a chain of equalities: for IN SQLite fills a temporary table first,
        // which costs more than the list's few comparisons (the list holds no nil: see above).
        if (items.size() <= kMaxChainedEqualities) {
          sql += "(";
          for (size_t i = 0; i < items.size(); ++i) {
            sql += (i ? " OR " : "") + col + " = ";
            bind(items[i], sql);
          }
          sql += ")";
          return;
        }
        sql += col + " IN (";
        for (size_t i = 0; i < items.size(); ++i) {
          if (i) sql += ", ";
          bind(items[i], sql);
        }
        sql += ")";
        return;
      }
      case Operator::Between: {
        const auto& items = *c.array();
        if (items[0].isNull() || items[1].isNull()) {
          sql += "0";
          return;
        }
        sql += col + " BETWEEN ";
        bind(items[0], sql);
        sql += " AND ";
        bind(items[1], sql);
        return;
      }
      default:
        if (c.isNull()) {
          sql += "0";
          return;
        }
        sql += "diary_strop(" + op + ", " + options + ", " + col + ", ";
        bind(c, sql);
        sql += ")";
        return;
    }
  }

  QueryPlan& plan_;
  const DestinationSearch& search_;
  std::optional<foundation::Error> error_;
};

}  // namespace

std::string QueryPlan::columnOf(const KeyRef& key) {
  if (!key.hop) return "t0." + key.columnName();
  size_t index = 0;
  while (index < joins.size() && joins[index] != key.hop) ++index;
  if (index == joins.size()) joins.push_back(key.hop);
  return "t" + std::to_string(index + 1) + "." + key.columnName();
}

std::string QueryPlan::fromClause() const {
  std::string from = entity->table + " t0";
  for (size_t i = 0; i < joins.size(); ++i) {
    const std::string alias = "t" + std::to_string(i + 1);
    from += " LEFT JOIN " + joins[i]->destination->table + " " + alias + " ON " + alias + ".Z_PK = t0." +
            joins[i]->column;
  }
  return from;
}

foundation::Result<KeyRef> QueryPlan::resolve(const std::string& path, bool allowLink) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    const size_t dot = path.find('.', from);
    parts.push_back(path.substr(from, dot == std::string::npos ? std::string::npos : dot - from));
    if (dot == std::string::npos) break;
    from = dot + 1;
  }
  if (parts.size() > 2)
    return queryError("Key path \"" + path + "\" follows more than one relationship, which is not supported");
  KeyRef key;
  const EntityDescription* target = entity;
  if (parts.size() == 2) {
    const RelationshipDescription* hop = entity->relationship(parts[0]);
    if (!hop) return queryError("Keypath \"" + path + "\" not found in entity " + entity->name);
    if (hop->toMany) return queryError("To-many key path \"" + path + "\" is not supported in a fetch");
    key.hop = hop;
    if (std::find(hops.begin(), hops.end(), hop) == hops.end()) hops.push_back(hop);
    target = hop->destination;
  }
  const std::string& name = parts.back();
  if (const AttributeDescription* a = target->attribute(name)) {
    if (a->transient) return queryError("Transient attribute \"" + path + "\" cannot be used in a fetch");
    key.attribute = a;
    return key;
  }
  if (const RelationshipDescription* r = target->relationship(name)) {
    if (r->toMany) return queryError("To-many key path \"" + path + "\" is not supported in a fetch");
    if (!allowLink) return queryError("Relationship \"" + path + "\" cannot be used here");
    key.link = r;
    return key;
  }
  return queryError("Keypath \"" + path + "\" not found in entity " + target->name);
}

// The predicate first (it may join), then the sorts; Z_PK ends every order so that ties come out
// the same in SQL and in memory, fetch after fetch.
foundation::Result<QueryPlan> compile(const EntityDescription& entity, const FetchRequest& request,
                                      const DestinationSearch& search) {
  QueryPlan plan;
  plan.entity = &entity;
  Compiler compiler(plan, search);
  if (request.predicate && request.predicate->root().kind != PredicateNode::Kind::True) {
    auto node = compiler.compileNode(request.predicate->root());
    if (!node) return node.error();
    plan.predicate = std::make_unique<CompiledNode>(std::move(*node));
    compiler.emit(*plan.predicate, plan.where);
    if (compiler.error()) return *compiler.error();
  }
  for (const SortDescriptor& sort : request.sortDescriptors) {
    auto key = plan.resolve(sort.key, false);
    if (!key) return key.error();
    CompiledSort compiled{*key, sort.ascending, sort.comparison};
    // A string comparison selector means nothing for numbers and dates.
    const bool text = key->attribute->type == AttributeType::String;
    if (!text) compiled.comparison = StringComparison::Binary;
    plan.orderBy += plan.columnOf(*key);
    const std::string_view collation = collationName(compiled.comparison);
    if (!collation.empty()) plan.orderBy += " COLLATE " + std::string(collation);
    plan.orderBy += sort.ascending ? " ASC, " : " DESC, ";
    plan.sorts.push_back(compiled);
  }
  plan.orderBy += "t0.Z_PK";
  return plan;
}

void bindValue(sql::Statement& statement, int index, const Value& v) {
  using T = Value::Type;
  switch (v.type()) {
    case T::Null:
      statement.bindNull(index);
      return;
    case T::Bool:
      statement.bindInt(index, *v.boolean() ? 1 : 0);
      return;
    case T::Integer:
      statement.bindInt(index, *v.integer());
      return;
    case T::Real:
      statement.bindDouble(index, *v.real());
      return;
    case T::Decimal: {
      if (auto whole = v.decimal()->toInteger()) {
        statement.bindInt(index, *whole);
      } else {
        statement.bindDouble(index, v.decimal()->toDouble());
      }
      return;
    }
    case T::String:
      statement.bindText(index, *v.string());
      return;
    case T::Data:
      statement.bindBlob(index, *v.data());
      return;
    case T::Date:
      statement.bindDouble(index, v.date()->sinceReference);
      return;
    default:
      statement.bindNull(index);
      return;
  }
}

Value readKey(Object& object, const KeyRef& key) {
  Object* target = &object;
  ObjectPtr destination;
  if (key.hop) {
    destination = object.toOne(*key.hop);
    if (!destination) return Value();
    target = destination.get();
  }
  if (key.attribute) return target->value(key.attribute->index);
  const std::int64_t related = target->relatedKey(*key.link);
  return related ? Value(static_cast<long long>(related)) : Value();
}

bool evaluate(const CompiledNode& node, Object& object) {
  switch (node.kind) {
    case PredicateNode::Kind::True:
      return true;
    case PredicateNode::Kind::False:
      return false;
    case PredicateNode::Kind::Not:
      return !evaluate(node.children[0], object);
    case PredicateNode::Kind::And:
      for (const auto& child : node.children)
        if (!evaluate(child, object)) return false;
      return true;
    case PredicateNode::Kind::Or:
      for (const auto& child : node.children)
        if (evaluate(child, object)) return true;
      return false;
    case PredicateNode::Kind::Comparison: {
      const Value lhs = readKey(object, node.lhs.key);
      if (node.rhs.isKey) return compareWith(node.op, node.options, lhs, readKey(object, node.rhs.key));
      return compareWith(node.op, node.options, lhs, node.rhs.constant);
    }
  }
  return false;
}

int compareSortKeys(const std::vector<CompiledSort>& sorts, const Value* a, const Value* b) {
  for (size_t i = 0; i < sorts.size(); ++i) {
    const int c = compareValues(a[i], b[i], sorts[i].comparison);
    if (c != 0) return sorts[i].ascending ? c : -c;
  }
  return 0;
}

}  // namespace store::detail
