#pragma once
// The one dynamic value of the system: property lists, keyed archives, JSON, user info of
// errors and notifications, and analytics parameters all travel as a Value.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/decimal.h"

namespace foundation {

class Value;
using Bytes = std::vector<std::uint8_t>;
using Array = std::vector<Value>;

// String-keyed dictionary that keeps its keys in insertion order. Setting an existing key
// replaces its value in place. Large dictionaries keep a hash index for lookups.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Value>;

  Dictionary() = default;
  Dictionary(std::initializer_list<Entry> entries);
  // Takes the entries over as they stand, without copying them one by one; a repeated key keeps its
  // first place and its last value, as set() in order would give.
  explicit Dictionary(std::vector<Entry> entries);
  Dictionary(const Dictionary& other);
  Dictionary(Dictionary&&) noexcept = default;
  Dictionary& operator=(const Dictionary& other);
  Dictionary& operator=(Dictionary&&) noexcept = default;
  ~Dictionary();

  size_t size() const;
  bool empty() const;
  void reserve(size_t n);

  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  // The value for key, or the null value when it is absent.
  const Value& operator[](std::string_view key) const;

  void set(std::string key, Value value);
  bool erase(std::string_view key);
  void clear();

  std::vector<std::string> keys() const;
  std::vector<Entry>::const_iterator begin() const;
  std::vector<Entry>::const_iterator end() const;

  // Same keys with equal values, in any order.
  friend bool operator==(const Dictionary& a, const Dictionary& b);

 private:
  std::ptrdiff_t indexOf(std::string_view key) const;
  void rebuildIndex();

  std::vector<Entry> entries_;
  std::unique_ptr<std::unordered_map<std::string, size_t>> index_;
};

class Value {
 public:
  enum class Type { Null, Bool, Integer, Real, Decimal, String, Data, Date, Array, Dictionary };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int i) : v_(static_cast<std::int64_t>(i)) {}
  Value(long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(long long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(unsigned i) : v_(static_cast<std::int64_t>(i)) {}
  Value(double d) : v_(d) {}
  Value(foundation::Decimal d) : v_(d) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(Bytes b) : v_(std::move(b)) {}
  Value(foundation::Date d) : v_(d) {}
  Value(foundation::Array a) : v_(std::move(a)) {}
  Value(foundation::Dictionary d) : v_(std::move(d)) {}

  Type type() const { return static_cast<Type>(v_.index()); }
  bool isNull() const { return type() == Type::Null; }
  bool isNumber() const;  // integer, real, decimal (not bool)
  bool isString() const { return type() == Type::String; }
  bool isArray() const { return type() == Type::Array; }
  bool isDictionary() const { return type() == Type::Dictionary; }

  // Typed access: nullptr when the value holds another type.
  const bool* boolean() const { return std::get_if<bool>(&v_); }
  const std::int64_t* integer() const { return std::get_if<std::int64_t>(&v_); }
  const double* real() const { return std::get_if<double>(&v_); }
  const foundation::Decimal* decimal() const { return std::get_if<foundation::Decimal>(&v_); }
  const std::string* string() const { return std::get_if<std::string>(&v_); }
  const Bytes* data() const { return std::get_if<Bytes>(&v_); }
  const foundation::Date* date() const { return std::get_if<foundation::Date>(&v_); }
  const foundation::Array* array() const { return std::get_if<foundation::Array>(&v_); }
  foundation::Array* array() { return std::get_if<foundation::Array>(&v_); }
  const foundation::Dictionary* dictionary() const { return std::get_if<foundation::Dictionary>(&v_); }
  foundation::Dictionary* dictionary() { return std::get_if<foundation::Dictionary>(&v_); }

  // Numeric views of bool, integer, real and decimal values; nothing for other types.
  std::optional<double> toDouble() const;
  std::optional<std::int64_t> toInteger() const;  // reals are truncated toward zero
  // The string, or the fallback for any other type.
  std::string stringOr(std::string_view fallback) const;

  // Name of the value's type as the platform's classes call it ("NSString", "NSDate", ...).
  std::string_view typeName() const;
  // Readable text: a string as itself, containers in the old-style property-list layout.
  std::string description() const;

  // Deep equality. Integer, real and decimal values compare by numeric value.
  friend bool operator==(const Value& a, const Value& b);

 private:
  std::variant<std::monostate, bool, std::int64_t, double, foundation::Decimal, std::string, Bytes,
               foundation::Date, foundation::Array, foundation::Dictionary>
      v_;
};

inline size_t Dictionary::size() const { return entries_.size(); }
inline bool Dictionary::empty() const { return entries_.empty(); }
inline void Dictionary::reserve(size_t n) { entries_.reserve(n); }
inline std::vector<Dictionary::Entry>::const_iterator Dictionary::begin() const { return entries_.begin(); }
inline std::vector<Dictionary::Entry>::const_iterator Dictionary::end() const { return entries_.end(); }

std::string_view typeName(Value::Type type);

}  // namespace foundation
