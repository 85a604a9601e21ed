#include "platform/foundation/value.h"

#include <charconv>
#include <cmath>
#include <ctime>

#include "platform/foundation/text.h"

namespace foundation {
namespace {

constexpr size_t kIndexThreshold = 16;

const Value& nullValue() {
  static const Value null;
  return null;
}

bool isPlainWord(const std::string& s) {
  if (s.empty()) return false;
  for (unsigned char c : s) {
    if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == '/' || c >= 0x80)) return false;
  }
  return true;
}

// A string in a container's description, escaped as JSON escapes it, so that quotes and line
// breaks inside it never break the layout.
std::string quoted(const std::string& s) {
  std::string out = "\"";
  text::appendEscaped(out, s);
  return out + "\"";
}

std::string formatReal(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, d);
  return std::string(buffer, r.ptr);
}

std::string formatDate(Date date) {
  const double unix = std::floor(date.unix());
  const std::time_t t = static_cast<std::time_t>(unix);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return buffer;
}

void describe(const Value& value, int level, bool nested, std::string& out) {
  const std::string pad(static_cast<size_t>(level) * 4, ' ');
  const std::string inner(static_cast<size_t>(level + 1) * 4, ' ');
  switch (value.type()) {
    case Value::Type::String: {
      const std::string& s = *value.string();
      out += nested && !isPlainWord(s) ? quoted(s) : s;
      return;
    }
    case Value::Type::Array: {
      const Array& a = *value.array();
      out += "(";
      for (size_t i = 0; i < a.size(); ++i) {
        out += i ? ",\n" : "\n";
        out += inner;
        describe(a[i], level + 1, true, out);
      }
      out += a.empty() ? ")" : "\n" + pad + ")";
      return;
    }
    case Value::Type::Dictionary: {
      out += "{\n";
      for (const auto& [key, item] : *value.dictionary()) {
        out += inner;
        out += isPlainWord(key) ? key : quoted(key);
        out += " = ";
        describe(item, level + 1, true, out);
        out += ";\n";
      }
      out += pad + "}";
      return;
    }
    default:
      out += value.description();
  }
}

}  // namespace

// ---- Dictionary -------------------------------------------------------------------------

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
  for (const auto& e : entries) set(e.first, e.second);
}

Dictionary::Dictionary(std::vector<Entry> entries) : entries_(std::move(entries)) {
  bool repeated = false;
  if (entries_.size() > kIndexThreshold) {
    rebuildIndex();
    repeated = index_->size() != entries_.size();
  } else {
    // Keys of one object mostly differ in their length or their first or last byte: each key's
    // are packed into one number, compared side by side, and only equal numbers compare keys.
    std::uint32_t shapes[kIndexThreshold];
    for (size_t i = 0; i < entries_.size() && !repeated; ++i) {
      const std::string& key = entries_[i].first;
      shapes[i] = key.empty() ? 0
                              : static_cast<std::uint32_t>(key.size()) << 16 |
                                    static_cast<std::uint32_t>(static_cast<unsigned char>(key.front())) << 8 |
                                    static_cast<unsigned char>(key.back());
      for (size_t j = 0; j < i; ++j) {
        if (shapes[j] == shapes[i] && entries_[j].first == key) {
          repeated = true;
          break;
        }
      }
    }
  }
  if (!repeated) return;
  std::vector<Entry> given = std::move(entries_);
  clear();
  for (Entry& entry : given) set(std::move(entry.first), std::move(entry.second));
}

Dictionary::Dictionary(const Dictionary& other) : entries_(other.entries_) {
  if (other.index_) rebuildIndex();
}

Dictionary& Dictionary::operator=(const Dictionary& other) {
  if (this != &other) {
    entries_ = other.entries_;
    index_.reset();
    if (entries_.size() > kIndexThreshold) rebuildIndex();
  }
  return *this;
}

Dictionary::~Dictionary() = default;

std::ptrdiff_t Dictionary::indexOf(std::string_view key) const {
  if (index_) {
    const auto it = index_->find(std::string(key));
    return it == index_->end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
  }
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].first == key) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

void Dictionary::rebuildIndex() {
  index_ = std::make_unique<std::unordered_map<std::string, size_t>>();
  index_->reserve(entries_.size() * 2);
  for (size_t i = 0; i < entries_.size(); ++i) index_->emplace(entries_[i].first, i);
}

const Value* Dictionary::find(std::string_view key) const {
  const auto i = indexOf(key);
  return i < 0 ? nullptr : &entries_[static_cast<size_t>(i)].second;
}

Value* Dictionary::find(std::string_view key) {
  const auto i = indexOf(key);
  return i < 0 ? nullptr : &entries_[static_cast<size_t>(i)].second;
}

const Value& Dictionary::operator[](std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : nullValue();
}

void Dictionary::set(std::string key, Value value) {
  if (Value* existing = find(key)) {
    *existing = std::move(value);
    return;
  }
  if (index_) index_->emplace(key, entries_.size());
  entries_.emplace_back(std::move(key), std::move(value));
  if (!index_ && entries_.size() > kIndexThreshold) rebuildIndex();
}

bool Dictionary::erase(std::string_view key) {
  const auto i = indexOf(key);
  if (i < 0) return false;
  entries_.erase(entries_.begin() + i);
  if (index_) rebuildIndex();
  return true;
}

void Dictionary::clear() {
  entries_.clear();
  index_.reset();
}

std::vector<std::string> Dictionary::keys() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.push_back(e.first);
  return out;
}

bool operator==(const Dictionary& a, const Dictionary& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [key, value] : a) {
    const Value* other = b.find(key);
    if (!other || !(*other == value)) return false;
  }
  return true;
}

// ---- Value ------------------------------------------------------------------------------

bool Value::isNumber() const {
  const Type t = type();
  return t == Type::Integer || t == Type::Real || t == Type::Decimal;
}

std::optional<double> Value::toDouble() const {
  switch (type()) {
    case Type::Bool:
      return *boolean() ? 1.0 : 0.0;
    case Type::Integer:
      return static_cast<double>(*integer());
    case Type::Real:
      return *real();
    case Type::Decimal:
      return decimal()->toDouble();
    default:
      return std::nullopt;
  }
}

std::optional<std::int64_t> Value::toInteger() const {
  switch (type()) {
    case Type::Bool:
      return *boolean() ? 1 : 0;
    case Type::Integer:
      return *integer();
    case Type::Real: {
      const double d = *real();
      if (!std::isfinite(d) || d >= 9.2233720368547758e18 || d < -9.2233720368547758e18) return std::nullopt;
      return static_cast<std::int64_t>(d);
    }
    case Type::Decimal: {
      if (auto i = decimal()->toInteger()) return i;
      const double d = decimal()->toDouble();
      if (!std::isfinite(d) || d >= 9.2233720368547758e18 || d < -9.2233720368547758e18) return std::nullopt;
      return static_cast<std::int64_t>(d);
    }
    default:
      return std::nullopt;
  }
}

std::string Value::stringOr(std::string_view fallback) const {
  if (const std::string* s = string()) return *s;
  return std::string(fallback);
}

std::string_view typeName(Value::Type type) {
  switch (type) {
    case Value::Type::Null:
      return "NSNull";
    case Value::Type::Bool:
      return "NSNumber";
    case Value::Type::Integer:
      return "NSNumber";
    case Value::Type::Real:
      return "NSNumber";
    case Value::Type::Decimal:
      return "NSDecimalNumber";
    case Value::Type::String:
      return "NSString";
    case Value::Type::Data:
      return "NSData";
    case Value::Type::Date:
      return "NSDate";
    case Value::Type::Array:
      return "NSArray";
    case Value::Type::Dictionary:
      return "NSDictionary";
  }
  return "NSObject";
}

std::string_view Value::typeName() const { return foundation::typeName(type()); }

std::string Value::description() const {
  switch (type()) {
    case Type::Null:
      return "<null>";
    case Type::Bool:
      return *boolean() ? "1" : "0";
    case Type::Integer:
      return std::to_string(*integer());
    case Type::Real:
      return formatReal(*real());
    case Type::Decimal:
      return decimal()->toString();
    case Type::String:
      return *string();
    case Type::Data: {
      static constexpr char kHex[] = "0123456789abcdef";
      std::string out = "<";
      const Bytes& b = *data();
      for (size_t i = 0; i < b.size(); ++i) {
        if (i && i % 4 == 0) out += ' ';
        out += kHex[b[i] >> 4];
        out += kHex[b[i] & 15];
      }
      return out + ">";
    }
    case Type::Date:
      return formatDate(*date());
    case Type::Array:
    case Type::Dictionary: {
      std::string out;
      describe(*this, 0, false, out);
      return out;
    }
  }
  return {};
}

bool operator==(const Value& a, const Value& b) {
  if (a.isNumber() && b.isNumber() && a.type() != b.type()) {
    if (a.decimal() || b.decimal()) {
      const auto da =
          a.decimal() ? std::optional<Decimal>(*a.decimal())
                      : (a.integer() ? Decimal::fromInteger(*a.integer()) : Decimal::fromDouble(*a.real()));
      const auto db =
          b.decimal() ? std::optional<Decimal>(*b.decimal())
                      : (b.integer() ? Decimal::fromInteger(*b.integer()) : Decimal::fromDouble(*b.real()));
      return da && db && *da == *db;
    }
    return *a.toDouble() == *b.toDouble();
  }
  return a.v_ == b.v_;
}

}  // namespace foundation
