#pragma once
// Predicates written in the platform's format-string language, parsed once into a tree:
//   "noteToBaby.baby_Name == %@", "note_Type IN %@", "(note_DateStop >= %@) AND (note_DateStop < %@)",
//   "name BEGINSWITH[c] 'a'", "NOT (x == nil) OR y != 3", "value BETWEEN {1, 5}".
// Arguments are kept as values in the tree; they are bound as parameters when the predicate is
// compiled to SQL and never spliced into SQL text.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace store {

enum class Operator {
  Equal,
  NotEqual,
  Less,
  LessEqual,
  Greater,
  GreaterEqual,
  In,
  Between,
  BeginsWith,
  EndsWith,
  Contains,
  Like,
};

// Options of a string comparison: [c] and [d].
enum StringOptions : unsigned { kCaseInsensitive = 1, kDiacriticInsensitive = 2 };

// One side of a comparison: a key path (one name, or a to-one relationship and a name of its
// destination) or a constant value.
struct Expression {
  enum class Kind { KeyPath, Constant };
  Kind kind = Kind::Constant;
  std::vector<std::string> keyPath;
  foundation::Value constant;

  static Expression key(std::vector<std::string> path);
  static Expression value(foundation::Value value);
  bool isKeyPath() const { return kind == Kind::KeyPath; }
  std::string description() const;
};

struct PredicateNode {
  enum class Kind { True, False, And, Or, Not, Comparison };
  Kind kind = Kind::True;
  std::vector<std::shared_ptr<const PredicateNode>> children;  // And, Or, Not
  Operator op = Operator::Equal;                               // Comparison
  unsigned options = 0;                                        // StringOptions of [c], [d]
  Expression lhs, rhs;
};

class Predicate {
 public:
  // The predicate that always holds.
  Predicate();

  // Parses a format string; %@ takes a value, %K a key path given as a string, %d %i %ld %lld
  // %u %lu %f %lf %g take numbers. Fails on malformed text or a wrong number of arguments.
  static foundation::Result<Predicate> parse(std::string_view format,
                                             std::vector<foundation::Value> arguments = {});

  static Predicate andPredicates(const std::vector<Predicate>& predicates);
  static Predicate orPredicates(const std::vector<Predicate>& predicates);
  static Predicate notPredicate(const Predicate& predicate);
  static Predicate falsePredicate();

  // The predicate written back in the format language, values filled in.
  std::string description() const;

  const PredicateNode& root() const { return *root_; }

 private:
  explicit Predicate(std::shared_ptr<const PredicateNode> root) : root_(std::move(root)) {}
  std::shared_ptr<const PredicateNode> root_;
};

std::string_view operatorName(Operator op);

}  // namespace store
