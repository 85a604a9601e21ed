// Recursive-descent JSON reader working on the text's UTF-8 bytes in place: runs of plain
// characters are checked and appended in one step, numbers are converted from their exact bytes.
//
//   value   = ws ( object | array | string | number | "true" | "false" | "null" )
//   object  = "{" ws [ string ws ":" value ws { "," ws string ws ":" value ws } ] "}"
//   array   = "[" ws [ value ws { "," value ws } ] "]"
//   string  = quote { UTF-8 character but quote, backslash and U+0000-U+001F | escape } quote
//   escape  = backslash ( quote | backslash | "/" | "b" | "f" | "n" | "r" | "t" | "u" 4 * hex )
//   number  = [ "-" ] ( "0" | nonzero { digit } ) [ "." digit { digit } ] [ exponent ]
//   exponent = ( "e" | "E" ) [ "+" | "-" ] digit { digit }
//   ws      = { blank | tab | line feed | vertical tab | form feed | carriage return }
//
// Every text is hostile until read: every read is bounded by the text's end (a NUL inside it is an
// ordinary byte), nesting is bounded by maxDepth and kStackSafetyDepth, strings must be well-formed
// UTF-8, and a failure leaves nothing but the error trace.

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cloud/json.h"
#include "platform/foundation/text.h"

namespace cloud {

using foundation::Array;
using foundation::Decimal;
using foundation::Dictionary;
using foundation::Value;

namespace {

// Bytes that end a run of plain string characters: the quote, the backslash and controls.
constexpr std::array<bool, 256> kStringStop = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[static_cast<size_t>(c)] = true;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Bit 7 of each byte of the result is set where the word holds a byte that ends a run of plain
// string characters: a quote, a backslash or a control (the lowest such byte is exact; bytes above
// it may be false alarms). "Lowest" must be the first in memory, or a stop byte could be skipped
// unseen. Bytes of 0x80 and above never count: they are checked as UTF-8 once the run is known.
static_assert(std::endian::native == std::endian::little,
              "the word-at-a-time string scan assumes little endian");
inline std::uint64_t stopBytes(std::uint64_t w) {
  const std::uint64_t control = (w - kOnes * 0x20) & ~w;
  const std::uint64_t q = w ^ (kOnes * '"');
  const std::uint64_t quote = (q - kOnes) & ~q;
  const std::uint64_t b = w ^ (kOnes * '\\');
  const std::uint64_t backslash = (b - kOnes) & ~b;
  return (control | quote | backslash) & kHighBits;
}

// The first stop byte at or after p (or end), sixteen bytes at a time where the processor has
// SSE2, then eight at a time where it can; *high collects the bytes passed (their bit 7 is all
// that counts), so that a run without a byte of 0x80 or above skips the UTF-8 check.
inline const char* findStop(const char* p, const char* end, std::uint64_t* high) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\'), space = _mm_set1_epi8(0x20);
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // A byte is a control where it is below the space, as an unsigned number: where the larger of
    // it and the space is not itself.
    const __m128i printable = _mm_cmpeq_epi8(_mm_max_epu8(bytes, space), bytes);
    const __m128i stops =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                     _mm_andnot_si128(printable, _mm_set1_epi8(-1)));
    const unsigned stopMask = static_cast<unsigned>(_mm_movemask_epi8(stops));
    unsigned highMask = static_cast<unsigned>(_mm_movemask_epi8(bytes));  // bit 7 of each byte
    if (stopMask != 0) highMask &= (1u << std::countr_zero(stopMask)) - 1;
    if (highMask != 0) *high |= kHighBits;
    if (stopMask != 0) return p + std::countr_zero(stopMask);
    p += 16;
  }
#endif
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const std::uint64_t stops = stopBytes(word);
    if (stops != 0) {
      const int plain = std::countr_zero(stops) / 8;
      *high |= word & ((std::uint64_t{1} << (plain * 8)) - 1);
      return p + plain;
    }
    *high |= word;
    p += 8;
  }
  while (p != end && !kStringStop[static_cast<unsigned char>(*p)]) *high |= static_cast<unsigned char>(*p++);
  return p;
}

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Makes a value in its slot, which holds the null value every element, member and the whole text
// start with: straight in place, without the temporary and the move an assignment goes through
// (most of a large reply's values are made here). Should making it throw, the slot is null again.
template <class... From>
void make(Value& slot, From&&... from) {
  std::destroy_at(&slot);
  try {
    std::construct_at(&slot, std::forward<From>(from)...);
  } catch (...) {
    std::construct_at(&slot);
    throw;
  }
}

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string withHex(const char* pattern, unsigned value) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

}  // namespace

std::optional<Value> CloudJsonParser::objectWithString(std::optional<std::string_view> text) {
  auto value = fragmentWithString(text);
  if (value && !value->isDictionary() && !value->isArray()) {
    addError(kJsonNotContainer, "Valid fragment, but not JSON");
    return std::nullopt;
  }
  return value;
}

std::optional<Value> CloudJsonParser::fragmentWithString(std::optional<std::string_view> text) {
  clearErrorTrace();
  if (!text) {
    addError(kJsonNoInput, "Input was 'nil'");
    return std::nullopt;
  }
  depth_ = 0;
  c_ = text->data();
  end_ = c_ + text->size();
  Value value;
  const bool ok = scanValue(value);
  if (ok) {
    skipWhitespace();
    // The text ends at its length: a NUL byte inside it is garbage like any other.
    if (c_ != end_) addError(kJsonGarbage, "Garbage after JSON");
  }
  c_ = end_ = nullptr;
  if (!errorTrace_.empty()) return std::nullopt;
  return value;
}

bool CloudJsonParser::scanValue(Value& out) {
  skipWhitespace();
  if (c_ != end_) {
    if (*c_ == '[') {
      ++c_;
      return scanRestOfArray(out);
    }
    if (*c_ == '{') {
      ++c_;
      return scanRestOfObject(out);
    }
  }
  return scanScalar(out);
}

bool CloudJsonParser::scanScalar(Value& out) {
  if (c_ == end_) {
    addError(kJsonEndOfInput, "Unexpected end of string");
    return false;
  }
  switch (*c_) {
    case '"': {
      ++c_;
      // Most strings hold no escape and are made straight from the input; the others are read
      // again piece by piece.
      std::uint64_t high = 0;
      const char* stop = findStop(c_, end_, &high);
      const std::string_view plain(c_, static_cast<size_t>(stop - c_));
      if (stop != end_ && *stop == '"' && ((high & kHighBits) == 0 || foundation::text::isValidUtf8(plain))) {
        make(out, plain);
        c_ = stop + 1;
        return true;
      }
      std::string text;
      if (!scanRestOfString(text)) return false;
      make(out, std::move(text));
      return true;
    }
    case 't':
      if (!scanLiteral("true", "Expected 'true'")) return false;
      make(out, true);
      return true;
    case 'f':
      if (!scanLiteral("false", "Expected 'false'")) return false;
      make(out, false);
      return true;
    case 'n':
      if (!scanLiteral("null", "Expected 'null'")) return false;
      out = Value();
      return true;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      return scanNumber(out);
    case '+':
      addError(kJsonBadNumber, "Leading + disallowed in number");
      return false;
    default:
      addError(kJsonSyntax, "Unrecognised leading character");
      return false;
  }
}

bool CloudJsonParser::scanLiteral(std::string_view word, std::string_view failure) {
  if (static_cast<size_t>(end_ - c_) < word.size() || std::memcmp(c_, word.data(), word.size()) != 0) {
    addErrorWithCodeDescription(kJsonSyntax, std::string(failure));
    return false;
  }
  c_ += word.size();
  return true;
}

// Each container is read straight into a vector of its own, each value into its place there (a
// nested container too: the levels below touch only their own vectors). The vector starts with
// room for as many entries as the container last finished at the same depth held (up to
// kMostHinted, so that a hostile text cannot make many small containers each hold the room of a
// big one), and a list of records of one shape is read without growing or moving anything.
// Nesting recurses from a container scanner through scanValue to the next, two frames a level.
namespace {
constexpr std::uint32_t kMostHinted = 64;
}  // namespace

size_t CloudJsonParser::sizeHint(const std::vector<std::uint32_t>& hints) const {
  return depth_ < hints.size() ? hints[depth_] : 0;
}

void CloudJsonParser::rememberSize(std::vector<std::uint32_t>& hints, size_t size) {
  if (depth_ >= hints.size()) hints.resize(depth_ + 1, 0);
  hints[depth_] = static_cast<std::uint32_t>(std::min<size_t>(size, kMostHinted));
}

bool CloudJsonParser::scanRestOfArray(Value& out) {
  if (!enterLevel()) return false;
  Array elements;
  elements.reserve(sizeHint(elementHints_));
  while (c_ != end_) {
    skipWhitespace();
    if (c_ != end_ && *c_ == ']') {
      ++c_;
      rememberSize(elementHints_, elements.size());
      leaveLevel();
      make(out, std::move(elements));
      return true;
    }
    if (!scanValue(elements.emplace_back())) {
      addError(kJsonSyntax, "Expected value while parsing array");
      return false;
    }
    skipWhitespace();
    if (c_ == end_) break;
    if (!scanSeparator(']', "Trailing comma disallowed in array", "Expected ',' or ']' after array element"))
      return false;
  }
  addError(kJsonEndOfInput, "End of input while parsing array");
  return false;
}

bool CloudJsonParser::scanRestOfObject(Value& out) {
  if (!enterLevel()) return false;
  if (c_ == end_) {
    addError(kJsonEndOfInput, "End of input while parsing object");
    return false;
  }
  std::vector<Dictionary::Entry> members;
  members.reserve(sizeHint(memberHints_));
  for (;;) {
    skipWhitespace();
    if (c_ != end_ && *c_ == '}') {
      ++c_;
      rememberSize(memberHints_, members.size());
      leaveLevel();
      make(out, Dictionary(std::move(members)));
      return true;
    }
    if (c_ == end_ || *c_ != '"') {
      addError(kJsonSyntax, "Object key string expected");
      return false;
    }
    ++c_;
    Dictionary::Entry& member = members.emplace_back();
    if (!scanRestOfString(member.first)) {
      addError(kJsonSyntax, "Object key string expected");
      return false;
    }
    skipWhitespace();
    if (c_ == end_ || *c_ != ':') {
      addError(kJsonSyntax, "Expected ':' separating key and value");
      return false;
    }
    ++c_;
    if (!scanValue(member.second)) {
      addKeyedError(member.first);
      return false;
    }
    skipWhitespace();
    if (c_ == end_) {
      addError(kJsonEndOfInput, "End of input while parsing object");
      return false;
    }
    if (!scanSeparator('}', "Trailing comma disallowed in object", "Expected ',' or '}' after object member"))
      return false;
  }
}

// After an element or member, at a byte of the input: a comma (then no closing bracket), or the
// closing bracket itself, left for the caller to consume.
bool CloudJsonParser::scanSeparator(char close, const char* trailingComma, const char* missingComma) {
  if (*c_ == ',') {
    ++c_;
    skipWhitespace();
    if (c_ != end_ && *c_ == close) {
      addError(kJsonTrailingComma, trailingComma);
      return false;
    }
  } else if (*c_ != close) {
    // Two elements or members without a comma between them.
    addError(kJsonSyntax, missingComma);
    return false;
  }
  return true;
}

void CloudJsonParser::addKeyedError(const std::string& key) {
  addErrorWithCodeDescription(kJsonSyntax, "Object value expected for key: " + key);
}

bool CloudJsonParser::scanRestOfString(std::string& out) {
  for (;;) {
    const char* run = c_;
    std::uint64_t high = 0;
    c_ = findStop(c_, end_, &high);
    if ((high & kHighBits) != 0) {
      const std::string_view text(run, static_cast<size_t>(c_ - run));
      const size_t valid = foundation::text::validUtf8Length(text);
      if (valid != text.size()) {
        const auto byte = static_cast<unsigned char>(text[valid]);
        addErrorWithCodeDescription(kJsonInvalidUtf8, withHex("Invalid UTF-8 byte '0x%x' in string", byte));
        return false;
      }
    }
    out.append(run, static_cast<size_t>(c_ - run));
    if (c_ == end_) {
      // The input ends inside the string: reported like the terminating NUL of a C string.
      addError(kJsonControlCharacter, "Unescaped control character '0x0'");
      return false;
    }
    const auto stop = static_cast<unsigned char>(*c_);
    if (stop == '"') {
      ++c_;
      return true;
    }
    if (stop != '\\') {
      addErrorWithCodeDescription(kJsonControlCharacter, withHex("Unescaped control character '0x%x'", stop));
      return false;
    }
    ++c_;
    if (!scanEscape(out)) return false;
    if (c_ == end_) {
      addError(kJsonEndOfInput, "Unexpected EOF while parsing string");
      return false;
    }
  }
}

bool CloudJsonParser::scanEscape(std::string& out) {
  const char letter = c_ != end_ ? *c_ : '\0';
  char replacement;
  switch (letter) {
    case '"':
    case '\\':
    case '/':
      replacement = letter;
      break;
    case 'b':
      replacement = '\b';
      break;
    case 'f':
      replacement = '\f';
      break;
    case 'n':
      replacement = '\n';
      break;
    case 'r':
      replacement = '\r';
      break;
    case 't':
      replacement = '\t';
      break;
    case 'u':
      ++c_;
      if (!scanUnicodeEscape(out)) {
        addError(kJsonBadUnicodeEscape, "Broken unicode character");
        return false;
      }
      return true;
    default: {
      // The byte as a signed character widened to 16 bits: 0x80 and above print as ffXX.
      const auto widened =
          static_cast<std::uint16_t>(static_cast<std::int16_t>(static_cast<signed char>(letter)));
      addErrorWithCodeDescription(kJsonIllegalEscape, withHex("Illegal escape sequence '0x%x'", widened));
      return false;
    }
  }
  out += replacement;
  ++c_;
  return true;
}

bool CloudJsonParser::scanHexQuad(std::uint32_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = c_ != end_ ? hexValue(static_cast<unsigned char>(*c_)) : -1;
    if (digit < 0) {
      addError(kJsonBadUnicodeEscape, "Missing hex digit in quad");
      addError(kJsonBadUnicodeEscape, "Missing hex quad");
      return false;
    }
    value = value * 16 + static_cast<std::uint32_t>(digit);
    ++c_;
  }
  return true;
}

bool CloudJsonParser::scanUnicodeEscape(std::string& out) {
  std::uint32_t high;
  if (!scanHexQuad(high)) return false;
  std::uint32_t character = high;
  if (high >= 0xDC00 && high <= 0xDFFF) {
    addError(kJsonBadUnicodeEscape, "Invalid high character in surrogate pair");
    return false;
  }
  if (high >= 0xD800 && high <= 0xDBFF) {
    if (end_ - c_ < 2 || c_[0] != '\\' || c_[1] != 'u') {
      addError(kJsonBadUnicodeEscape, "Missing low character in surrogate pair");
      return false;
    }
    c_ += 2;
    std::uint32_t low;
    if (!scanHexQuad(low)) {
      addError(kJsonBadUnicodeEscape, "Missing low character in surrogate pair");
      return false;
    }
    if (low < 0xDC00 || low > 0xDFFF) {
      addError(kJsonBadUnicodeEscape, "Invalid low surrogate char");
      return false;
    }
    character = 0x10000 + (high - 0xD800) * 0x400 + (low - 0xDC00);
  }
  // Our strings are UTF-8: a pair becomes its one four-byte character, and 0000 a NUL byte.
  foundation::text::appendCodePoint(out, character);
  return true;
}

bool CloudJsonParser::scanNumber(Value& out) {
  const char* start = c_;
  const bool negative = *c_ == '-';
  if (negative) ++c_;
  std::uint64_t magnitude = 0;
  int integerDigits = 0;
  if (c_ != end_ && *c_ == '0') {
    ++c_;
    integerDigits = 1;
    if (c_ != end_ && isDigit(*c_)) {
      addError(kJsonBadNumber, "Leading 0 disallowed in number");
      return false;
    }
  } else if (c_ != end_ && isDigit(*c_)) {
    while (c_ != end_ && isDigit(*c_)) {
      magnitude = magnitude * 10 + static_cast<std::uint64_t>(*c_ - '0');  // used only up to 18 digits
      ++integerDigits;
      ++c_;
    }
  } else {
    addError(kJsonBadNumber, "No digits after initial minus");
    return false;
  }
  bool plainInteger = true;
  if (c_ != end_ && *c_ == '.') {
    plainInteger = false;
    ++c_;
    if (c_ == end_ || !isDigit(*c_)) {
      addError(kJsonBadNumber, "No digits after decimal point");
      return false;
    }
    while (c_ != end_ && isDigit(*c_)) ++c_;
  }
  if (c_ != end_ && (*c_ == 'e' || *c_ == 'E')) {
    plainInteger = false;
    ++c_;
    if (c_ != end_ && (*c_ == '+' || *c_ == '-')) ++c_;
    if (c_ == end_ || !isDigit(*c_)) {
      addError(kJsonBadNumber, "No digits after exponent");
      return false;
    }
    while (c_ != end_ && isDigit(*c_)) ++c_;
  }
  if (plainInteger && integerDigits <= 18) {
    // Fits a 64-bit integer exactly: the same Decimal the full conversion would make.
    const auto value = static_cast<std::int64_t>(magnitude);
    make(out, Decimal::fromInteger(negative ? -value : value));
    return true;
  }
  // A number the Decimal cannot hold (its exponent, once the digits are cut to 38 and trailing zeros
  // folded, outside -128 to 127) is refused rather than read approximately.
  const auto decimal = Decimal::parse(std::string_view(start, static_cast<size_t>(c_ - start)));
  if (!decimal) {
    addError(kJsonBadNumber, "Failed creating decimal instance");
    return false;
  }
  make(out, *decimal);
  return true;
}

}  // namespace cloud
