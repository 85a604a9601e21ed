// JSON writer: compact or indented text, keys in the dictionary's order or sorted by UTF-16 units.

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "cloud/json.h"
#include "cloud/json_utf8.h"

namespace cloud {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

// Bytes a string must escape: the controls, the double quote and the backslash. Every other byte,
// the slash and all of UTF-8's multi-byte characters included, is written as it stands.
constexpr std::array<bool, 256> kNeedsEscape = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[static_cast<size_t>(c)] = true;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

bool needsEscaping(std::string_view text) {
  for (char c : text) {
    if (kNeedsEscape[static_cast<unsigned char>(c)]) return true;
  }
  return false;
}

bool isAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

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
      return json_utf8::utf16Less(a->first, b->first);
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
  if (!isAscii(text) && !json_utf8::isValid(text)) {
    addError(kJsonUnsupportedValue, "String is not valid UTF-8");
    return false;
  }
  out += '"';
  if (!needsEscaping(text)) {
    out += text;
  } else {
    const char* run = text.data();
    const char* end = text.data() + text.size();
    for (const char* p = run; p != end; ++p) {
      const auto byte = static_cast<unsigned char>(*p);
      if (!kNeedsEscape[byte]) continue;
      out.append(run, static_cast<size_t>(p - run));
      run = p + 1;
      switch (byte) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\b':
          out += "\\b";
          break;
        case '\t':
          out += "\\t";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\f':
          out += "\\f";
          break;
        case '\r':
          out += "\\r";
          break;
        default: {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", byte);
          out += buffer;
        }
      }
    }
    out.append(run, static_cast<size_t>(end - run));
  }
  out += '"';
  return true;
}

}  // namespace cloud
