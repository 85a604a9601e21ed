// JSON writer: compact or indented text, keys in the dictionary's order or sorted by UTF-16 units.

#include <algorithm>
#include <charconv>
#include <cmath>

#include "cloud/json.h"
#include "platform/foundation/text.h"

namespace cloud {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

std::optional<std::string> CloudJsonWriter::stringWithObject(const Value& value) {
  if (value.isDictionary() || value.isArray()) return stringWithFragment(value);
  clearErrorTrace();
  addError(kJsonNotContainer, "Not valid type for JSON");
  return std::nullopt;
}

std::optional<std::string> CloudJsonWriter::stringWithFragment(const Value& value) {
  clearErrorTrace();
  depth_ = 0;
  std::string out;
  out.reserve(128);
  if (!appendValue(value, out)) return std::nullopt;
  return out;
}

void CloudJsonWriter::appendIndentation(std::string& out) const {
  out += '\n';
  out.append(static_cast<size_t>(depth_) * 2, ' ');
}

// Containers recurse through here, so this frame stays small: everything else is in appendScalar.
bool CloudJsonWriter::appendValue(const Value& value, std::string& out) {
  if (const Dictionary* dictionary = value.dictionary()) return appendDictionary(*dictionary, out);
  if (const Array* array = value.array()) return appendArray(*array, out);
  return appendScalar(value, out);
}

bool CloudJsonWriter::appendScalar(const Value& value, std::string& out) {
  switch (value.type()) {
    case Value::Type::String:
      return appendString(*value.string(), out);
    case Value::Type::Bool:
      out += *value.boolean() ? "true" : "false";
      return true;
    case Value::Type::Null:
      out += "null";
      return true;
    case Value::Type::Decimal:
      out += value.decimal()->toString();
      return true;
    case Value::Type::Integer: {
      char buffer[24];
      const auto end = std::to_chars(buffer, buffer + sizeof buffer, *value.integer()).ptr;
      out.append(buffer, end);
      return true;
    }
    case Value::Type::Real: {
      // NaN and the infinities have no JSON form; the shortest round-trip text of any finite
      // double ("0.1", "1e+300") is valid JSON.
      const double real = *value.real();
      if (!std::isfinite(real)) break;
      char buffer[32];
      const auto end = std::to_chars(buffer, buffer + sizeof buffer, real).ptr;
      out.append(buffer, end);
      return true;
    }
    case Value::Type::Dictionary:
    case Value::Type::Array:
    case Value::Type::Data:
    case Value::Type::Date:
      break;
  }
  addErrorWithCodeDescription(kJsonUnsupportedValue,
                              "JSON serialisation not supported for " + std::string(value.typeName()));
  return false;
}

void CloudJsonWriter::addKeyedError(const std::string& key) {
  addErrorWithCodeDescription(kJsonUnsupportedValue, "Unsupported value for key " + key + " in object");
}

bool CloudJsonWriter::appendArray(const Array& array, std::string& out) {
  if (!enterLevel()) return false;
  out += '[';
  bool first = true;
  for (const Value& element : array) {
    if (!first) out += ',';
    first = false;
    if (humanReadable_) appendIndentation(out);
    if (!appendValue(element, out)) return false;
  }
  leaveLevel();
  if (humanReadable_ && !array.empty()) appendIndentation(out);
  out += ']';
  return true;
}

bool CloudJsonWriter::appendDictionary(const Dictionary& dictionary, std::string& out) {
  if (!enterLevel()) return false;
  out += '{';
  bool first = true;
  if (sortKeys_) {
    std::vector<const Dictionary::Entry*> entries;
    entries.reserve(dictionary.size());
    for (const auto& entry : dictionary) entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(), [](const Dictionary::Entry* a, const Dictionary::Entry* b) {
      return foundation::text::compare(a->first, b->first) == foundation::text::Ordering::Ascending;
    });
    for (const Dictionary::Entry* entry : entries) {
      if (!appendMember(*entry, first, out)) return false;
    }
  } else {
    for (const auto& entry : dictionary) {
      if (!appendMember(entry, first, out)) return false;
    }
  }
  leaveLevel();
  if (humanReadable_ && !dictionary.empty()) appendIndentation(out);
  out += '}';
  return true;
}

bool CloudJsonWriter::appendMember(const foundation::Dictionary::Entry& entry, bool& first,
                                   std::string& out) {
  if (!first) out += ',';
  first = false;
  if (humanReadable_) appendIndentation(out);
  if (!appendString(entry.first, out)) {
    addError(kJsonUnsupportedValue, "JSON object key must be string");
    return false;
  }
  out += humanReadable_ ? " : " : ":";
  if (!appendValue(entry.second, out)) {
    addKeyedError(entry.first);
    return false;
  }
  return true;
}

bool CloudJsonWriter::appendString(std::string_view text, std::string& out) {
  // A text that is not UTF-8 would make text that no reader accepts.
  if (!foundation::text::isValidUtf8(text)) {
    addError(kJsonUnsupportedValue, "String is not valid UTF-8");
    return false;
  }
  out += '"';
  foundation::text::appendEscaped(out, text);
  out += '"';
  return true;
}

}  // namespace cloud
