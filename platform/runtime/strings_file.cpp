#include "platform/runtime/strings_file.h"

#include <optional>
#include <string>

#include "platform/foundation/text.h"
#include "platform/plist/property_list.h"

namespace runtime {

using foundation::Bytes;
using foundation::Dictionary;
using foundation::Error;
using foundation::Result;
using foundation::Value;

namespace {

constexpr std::string_view kErrorDomain = "NSCocoaErrorDomain";
constexpr std::int64_t kParseError = 3840;

Error parseError(std::string message) {
  return Error::make(std::string(kErrorDomain), kParseError, std::move(message));
}

bool isUnquotedCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c == '/' || c == ':' || c == '.' || c == '-';
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  Result<Dictionary> parse() {
    Dictionary table;
    if (!skipSpace()) return *error_;
    while (i_ < s_.size()) {
      const size_t keyStart = i_;
      auto key = parseString();
      if (!key) return *error_;
      if (!skipSpace()) return *error_;
      std::string value;
      if (i_ < s_.size() && s_[i_] == ';') {
        value = *key;
      } else if (i_ < s_.size() && s_[i_] == '=') {
        ++i_;
        if (!skipSpace()) return *error_;
        auto text = parseString();
        if (!text) return *error_;
        value = std::move(*text);
        if (!skipSpace()) return *error_;
        if (i_ >= s_.size() || s_[i_] != ';') return fail("Missing ';' after the entry", keyStart);
      } else {
        return fail("Missing '=' or ';' after the key", keyStart);
      }
      ++i_;  // the ';'
      table.set(std::move(*key), Value(std::move(value)));
      if (!skipSpace()) return *error_;
    }
    return table;
  }

 private:
  size_t lineAt(size_t at) const {
    size_t line = 1;
    for (size_t k = 0; k < at && k < s_.size(); ++k) line += s_[k] == '\n';
    return line;
  }

  Error fail(std::string what, size_t at) {
    error_ = parseError(what + " on line " + std::to_string(lineAt(at)) + ".");
    return *error_;
  }

  // Skips white space and comments; false for a comment that never ends.
  bool skipSpace() {
    while (i_ < s_.size()) {
      if (isSpace(s_[i_])) {
        ++i_;
      } else if (s_.compare(i_, 2, "//") == 0) {
        const size_t end = s_.find('\n', i_);
        i_ = end == std::string_view::npos ? s_.size() : end + 1;
      } else if (s_.compare(i_, 2, "/*") == 0) {
        const size_t end = s_.find("*/", i_ + 2);
        if (end == std::string_view::npos) {
          fail("Unterminated comment starting", i_);
          return false;
        }
        i_ = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  std::optional<std::string> parseString() {
    if (i_ >= s_.size()) {
      fail("Unexpected end of text", i_);
      return std::nullopt;
    }
    const char c = s_[i_];
    if (c == '"' || c == '\'') return parseQuoted(c);
    if (isUnquotedCharacter(c)) {
      const size_t start = i_;
      while (i_ < s_.size() && isUnquotedCharacter(s_[i_])) ++i_;
      return std::string(s_.substr(start, i_ - start));
    }
    std::string shown = (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
                            ? "a control or non-ASCII character"
                            : std::string("'") + c + "'";
    fail("Unexpected " + shown, i_);
    return std::nullopt;
  }

  // Up to `max` digits of the given base; the count read goes to `digits`.
  std::uint32_t readDigits(int base, int max, int& digits) {
    std::uint32_t value = 0;
    digits = 0;
    while (digits < max && i_ < s_.size()) {
      const int d = base == 16 ? hexDigit(s_[i_]) : (s_[i_] >= '0' && s_[i_] <= '7' ? s_[i_] - '0' : -1);
      if (d < 0) break;
      value = value * base + static_cast<std::uint32_t>(d);
      ++digits;
      ++i_;
    }
    return value;
  }

  std::optional<std::string> parseQuoted(char quote) {
    const size_t start = i_;
    ++i_;
    std::string out;
    char16_t pendingHigh = 0;  // a \U high surrogate waiting for its low half, or 0
    auto flushPending = [&] {
      if (pendingHigh) foundation::text::appendCodePoint(out, 0xFFFD);
      pendingHigh = 0;
    };
    while (i_ < s_.size()) {
      const char c = s_[i_];
      if (c == quote) {
        flushPending();
        ++i_;
        return out;
      }
      if (c != '\\') {
        flushPending();
        out.push_back(c);
        ++i_;
        continue;
      }
      ++i_;
      if (i_ >= s_.size()) break;
      const char e = s_[i_];
      if (e == 'U' || e == 'u') {
        ++i_;
        int digits = 0;
        const auto unit = static_cast<char16_t>(readDigits(16, 4, digits));
        if (digits == 0) {
          flushPending();
          out.push_back(e);
          continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          flushPending();
          pendingHigh = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
          if (pendingHigh) {
            foundation::text::appendCodePoint(
                out, 0x10000 + ((static_cast<char32_t>(pendingHigh) - 0xD800) << 10) + (unit - 0xDC00));
            pendingHigh = 0;
          } else {
            foundation::text::appendCodePoint(out, 0xFFFD);
          }
        } else {
          flushPending();
          foundation::text::appendCodePoint(out, unit);
        }
        continue;
      }
      flushPending();
      if (e >= '0' && e <= '7') {
        int digits = 0;
        foundation::text::appendCodePoint(out, readDigits(8, 3, digits) & 0xFF);
        continue;
      }
      switch (e) {
        case 'a':
          out.push_back('\a');
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'v':
          out.push_back('\v');
          break;
        default:
          out.push_back(e);
          break;  // \" \' \\ and any other character stand for themselves
      }
      ++i_;
    }
    fail("Unterminated quoted string starting", start);
    return std::nullopt;
  }

  std::string_view s_;
  size_t i_ = 0;
  std::optional<Error> error_;
};

// A table compiled into a property list: a dictionary whose values are all strings.
Result<Dictionary> fromPropertyList(const Bytes& data) {
  auto value = plist::readPropertyList(data);
  if (!value) return value.error();
  const Dictionary* dict = value->dictionary();
  if (!dict) return parseError("The string table is a property list but not a dictionary.");
  for (const auto& [key, entry] : *dict) {
    if (!entry.isString()) return parseError("The string table's entry \"" + key + "\" is not text.");
  }
  return *dict;
}

bool looksLikeXmlPropertyList(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  text.remove_prefix(i);
  return text.starts_with("<?xml") || text.starts_with("<!DOCTYPE") || text.starts_with("<plist");
}

}  // namespace

Result<Dictionary> parseStringsText(std::string_view utf8) {
  if (!foundation::text::isValidUtf8(utf8)) return parseError("The string table is not valid UTF-8 text.");
  return Parser(utf8).parse();
}

Result<Dictionary> parseStringsFile(const Bytes& data) {
  if (plist::detectFormat(data.data(), data.size()) == plist::Format::Binary) return fromPropertyList(data);
  if (data.size() >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) {
    const bool little = data[0] == 0xFF;
    if (data.size() % 2 != 0) return parseError("The UTF-16 string table has an odd number of bytes.");
    std::u16string units;
    units.reserve(data.size() / 2 - 1);
    for (size_t k = 2; k + 1 < data.size(); k += 2) {
      units.push_back(little ? static_cast<char16_t>(data[k] | (data[k + 1] << 8))
                             : static_cast<char16_t>((data[k] << 8) | data[k + 1]));
    }
    auto text = foundation::text::fromUtf16(units);
    if (!text) return parseError("The UTF-16 string table does not decode.");
    return parseStringsText(*text);
  }
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (looksLikeXmlPropertyList(text)) return fromPropertyList(Bytes(text.begin(), text.end()));
  return parseStringsText(text);
}

}  // namespace runtime
