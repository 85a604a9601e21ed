#include "platform/foundation/text.h"

#include <locale.h>
#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <span>

#include "platform/foundation/locale.h"

namespace foundation::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct CodePoint {
  char32_t value;
  unsigned size;  // bytes taken in the UTF-8 text
  bool valid;
};

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes the well-formed sequence at `i`, or reports the single byte there as malformed.
// Overlong forms, surrogates and values above U+10FFFF are malformed.
CodePoint decodeAt(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  const size_t left = s.size() - i;
  if (b0 < 0x80) return {b0, 1, true};
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (left >= 2 && isContinuation(byte(i + 1))) {
      return {static_cast<char32_t>(((b0 & 0x1F) << 6) | (byte(i + 1) & 0x3F)), 2, true};
    }
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (left >= 3) {
      const unsigned char b1 = byte(i + 1);
      const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80;
      const unsigned char hi = b0 == 0xED ? 0x9F : 0xBF;
      if (b1 >= lo && b1 <= hi && isContinuation(byte(i + 2))) {
        return {static_cast<char32_t>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (byte(i + 2) & 0x3F)), 3,
                true};
      }
    }
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (left >= 4) {
      const unsigned char b1 = byte(i + 1);
      const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80;
      const unsigned char hi = b0 == 0xF4 ? 0x8F : 0xBF;
      if (b1 >= lo && b1 <= hi && isContinuation(byte(i + 2)) && isContinuation(byte(i + 3))) {
        return {static_cast<char32_t>(((b0 & 0x07) << 18) | ((b1 & 0x3F) << 12) |
                                      ((byte(i + 2) & 0x3F) << 6) | (byte(i + 3) & 0x3F)),
                4, true};
      }
    }
  }
  return {kReplacement, 1, false};
}

size_t unitsOf(char32_t cp) { return cp >= 0x10000 ? 2 : 1; }

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16 of the text with every malformed byte read as U+FFFD.
std::u16string lenientUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const CodePoint cp = decodeAt(s, i);
    appendUtf16(out, cp.value);
    i += cp.size;
  }
  return out;
}

// UTF-8 of well-formed UTF-16 (as every ICU result is); a stray surrogate becomes U+FFFD.
std::string utf8Of(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    appendUtf8(out, c);
  }
  return out;
}

Ordering orderingOf(int r) {
  return r < 0 ? Ordering::Ascending : (r > 0 ? Ordering::Descending : Ordering::Same);
}

Ordering compareUnits(std::u16string_view a, std::u16string_view b) { return orderingOf(a.compare(b)); }

// Runs an ICU string transform that may need a larger buffer than the input.
std::u16string transform(std::u16string_view in,
                         const std::function<int32_t(UChar*, int32_t, UErrorCode*)>& run) {
  std::u16string out(in.size() + in.size() / 2 + 8, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = run(out.data(), static_cast<int32_t>(out.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<size_t>(n), u'\0');
    status = U_ZERO_ERROR;
    n = run(out.data(), static_cast<int32_t>(out.size()), &status);
  }
  if (U_FAILURE(status)) return std::u16string(in);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::u16string foldCase(std::u16string_view s) {
  return transform(s, [&](UChar* dest, int32_t capacity, UErrorCode* status) {
    return u_strFoldCase(dest, capacity, s.data(), static_cast<int32_t>(s.size()), U_FOLD_CASE_DEFAULT,
                         status);
  });
}

Error encodingError(std::string description) {
  return Error::make(std::string(kErrorDomain), kInapplicableStringEncodingError, std::move(description));
}

// One collator per locale and thread: collators are costly to open and not meant to be shared.
UCollator* collatorFor(std::string_view localeId) {
  struct Close {
    void operator()(UCollator* c) const { ucol_close(c); }
  };
  thread_local std::map<std::string, std::unique_ptr<UCollator, Close>, std::less<>> cache;
  std::string id(localeId.empty() ? Locale::current().identifier() : std::string(localeId));
  std::string lower = id;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  // The POSIX locale's collation orders by code point and would tell "a" from "A" first;
  // the language-neutral order is what sorting for people wants there.
  if (lower == "c" || lower == "posix" || lower.starts_with("en_us_posix") || lower.starts_with("c."))
    id = "";
  if (auto it = cache.find(id); it != cache.end()) return it->second.get();
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = ucol_open(id.c_str(), &status);
  if (U_FAILURE(status) || !collator) return nullptr;
  ucol_setStrength(collator, UCOL_SECONDARY);
  cache.emplace(id, std::unique_ptr<UCollator, Close>(collator));
  return collator;
}

// ---- formatting ---------------------------------------------------------------------------

struct Directive {
  bool left = false, plus = false, space = false, alternate = false, zero = false;
  std::optional<int> width;
  std::optional<int> precision;
  std::string length;  // "", "hh", "h", "l", "ll", "q", "L", "z", "j", "t"
  char conversion = 0;
};

constexpr int kMaxWidth = 100000;

// A C locale for the number conversions, so a process locale never turns "." into ",".
locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

std::string cFormat(const std::string& directive, auto value) {
  const locale_t previous = cLocale() ? uselocale(cLocale()) : static_cast<locale_t>(nullptr);
  char small[128];
  int n = std::snprintf(small, sizeof small, directive.c_str(), value);
  std::string out;
  if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
  } else if (n >= 0) {
    out.assign(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), directive.c_str(), value);
    out.resize(static_cast<size_t>(n));
  }
  if (previous) uselocale(previous);
  return out;
}

std::string cSpec(const Directive& s, std::string_view length, char conversion) {
  std::string directive = "%";
  if (s.left) directive += '-';
  if (s.plus) directive += '+';
  if (s.space) directive += ' ';
  if (s.alternate) directive += '#';
  if (s.zero) directive += '0';
  if (s.width) directive += std::to_string(*s.width);
  if (s.precision) directive += "." + std::to_string(*s.precision);
  directive += length;
  directive += conversion;
  return directive;
}

// Pads text to the width in UTF-16 units, on the right for '-', else on the left.
std::string padded(std::string text, const Directive& s) {
  if (!s.width) return text;
  const size_t units = utf16Length(text);
  if (units >= static_cast<size_t>(*s.width)) return text;
  const std::string fill(static_cast<size_t>(*s.width) - units, ' ');
  return s.left ? text + fill : fill + text;
}

std::string formatString(std::string text, const Directive& s) {
  if (s.precision) text = prefixUtf16(text, static_cast<size_t>(*s.precision));
  return padded(std::move(text), s);
}

// A value that is no number in a numeric directive: its description, padded to the width.
std::string mismatched(const Value& arg, const Directive& s) { return padded(arg.description(), s); }

std::string formatOne(const Directive& s, const Value& arg) {
  switch (s.conversion) {
    case 'd':
    case 'i': {
      const auto v = arg.toInteger();
      if (!v) return mismatched(arg, s);
      long long n = *v;
      if (s.length == "hh") n = static_cast<signed char>(n);
      if (s.length == "h") n = static_cast<short>(n);
      return cFormat(cSpec(s, "ll", 'd'), n);
    }
    case 'u':
    case 'o':
    case 'x':
    case 'X': {
      const auto v = arg.toInteger();
      if (!v) return mismatched(arg, s);
      auto n = static_cast<unsigned long long>(*v);
      // Without a length a directive takes 32 bits, so -1 prints as ffffffff; a value that
      // needs more keeps them, since the argument carries its own width.
      if (s.length == "hh") {
        n &= 0xFFull;
      } else if (s.length == "h") {
        n &= 0xFFFFull;
      } else if (s.length.empty() && *v >= INT32_MIN && *v <= static_cast<std::int64_t>(UINT32_MAX)) {
        n &= 0xFFFFFFFFull;
      }
      return cFormat(cSpec(s, "ll", s.conversion), n);
    }
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A': {
      const auto v = arg.toDouble();
      if (!v) return mismatched(arg, s);
      return cFormat(cSpec(s, "", s.conversion), *v);
    }
    case 'c':
    case 'C': {
      const auto v = arg.toInteger();
      if (!v) return mismatched(arg, s);
      std::string out;
      const bool valid = *v >= 0 && *v <= 0x10FFFF && !(*v >= 0xD800 && *v <= 0xDFFF);
      appendUtf8(out, valid ? static_cast<char32_t>(*v) : kReplacement);
      return padded(std::move(out), s);
    }
    case 'p': {
      const auto v = arg.toInteger();
      if (!v) return mismatched(arg, s);
      Directive p = s;
      p.alternate = false;
      return padded("0x" + cFormat(cSpec(Directive{}, "ll", 'x'), static_cast<unsigned long long>(*v)), p);
    }
    default:  // '@', 's', 'S'
      return formatString(arg.description(), s);
  }
}

// Reads a decimal number at `i`; nothing when there are no digits or it is absurdly large.
std::optional<int> readNumber(std::string_view p, size_t& i) {
  if (i >= p.size() || p[i] < '0' || p[i] > '9') return std::nullopt;
  long long n = 0;
  while (i < p.size() && p[i] >= '0' && p[i] <= '9') {
    n = std::min<long long>(n * 10 + (p[i] - '0'), kMaxWidth + 1);
    ++i;
  }
  return static_cast<int>(n);
}

// Reads "n$" at `i` (an argument position); leaves `i` alone when there is none.
std::optional<int> readPosition(std::string_view p, size_t& i) {
  size_t j = i;
  const auto n = readNumber(p, j);
  if (!n || j >= p.size() || p[j] != '$') return std::nullopt;
  i = j + 1;
  return n;
}

std::string formatArgs(std::string_view pattern, std::span<const Value> args) {
  std::string out;
  out.reserve(pattern.size() + 16 * args.size());
  size_t next = 0;  // the next argument taken in order
  for (size_t i = 0; i < pattern.size();) {
    const size_t percent = pattern.find('%', i);
    if (percent == std::string_view::npos) {
      out.append(pattern.substr(i));
      break;
    }
    out.append(pattern.substr(i, percent - i));
    size_t j = percent + 1;
    if (j < pattern.size() && pattern[j] == '%') {
      out += '%';
      i = j + 1;
      continue;
    }
    bool ok = true;
    // Fetches argument `position` (1-based) or the next in order.
    const auto take = [&](std::optional<int> position) -> const Value* {
      size_t index;
      if (position) {
        if (*position < 1) return nullptr;
        index = static_cast<size_t>(*position - 1);
      } else {
        index = next++;
      }
      return index < args.size() ? &args[index] : nullptr;
    };
    const auto position = readPosition(pattern, j);
    Directive directive;
    const auto readFlags = [&](bool allowZero) {
      for (; j < pattern.size(); ++j) {
        switch (pattern[j]) {
          case '-':
            directive.left = true;
            continue;
          case '+':
            directive.plus = true;
            continue;
          case ' ':
            directive.space = true;
            continue;
          case '#':
            directive.alternate = true;
            continue;
          case '\'':
            continue;  // grouping: no separators outside a locale
          case '0':
            if (!allowZero) return;
            directive.zero = true;
            continue;
          default:
            return;
        }
      }
    };
    readFlags(true);
    if (j < pattern.size() && pattern[j] == '*') {
      ++j;
      const Value* w = take(readPosition(pattern, j));
      const auto width = w ? w->toInteger() : std::nullopt;
      if (!width) {
        ok = false;
      } else if (*width < 0) {
        directive.left = true;
        directive.width = *width < -kMaxWidth ? kMaxWidth + 1 : static_cast<int>(-*width);
      } else {
        directive.width = static_cast<int>(std::min<std::int64_t>(*width, kMaxWidth + 1));
      }
    } else {
      directive.width = readNumber(pattern, j);
    }
    readFlags(false);  // the platform also takes flags after the width ("%18#llx")
    if (j < pattern.size() && pattern[j] == '.') {
      ++j;
      if (j < pattern.size() && pattern[j] == '*') {
        ++j;
        const Value* p = take(readPosition(pattern, j));
        const auto precision = p ? p->toInteger() : std::nullopt;
        if (!precision)
          ok = false;
        else if (*precision >= 0)
          directive.precision = static_cast<int>(std::min<std::int64_t>(*precision, kMaxWidth + 1));
      } else {
        directive.precision = readNumber(pattern, j).value_or(0);
      }
    }
    for (const char* length : {"hh", "h", "ll", "l", "q", "L", "z", "j", "t"}) {
      if (pattern.substr(j).starts_with(length)) {
        directive.length = length;
        j += std::string_view(length).size();
        break;
      }
    }
    if (directive.length == "q") directive.length = "ll";
    if (j >= pattern.size()) {
      out.append(pattern.substr(percent));
      break;
    }
    directive.conversion = pattern[j++];
    static constexpr std::string_view kConversions = "@dDiuUoOxXfFeEgGaAcCsSp";
    if (kConversions.find(directive.conversion) == std::string_view::npos) ok = false;
    if (directive.conversion == 'D') directive.conversion = 'd';
    if (directive.conversion == 'U') directive.conversion = 'u';
    if (directive.conversion == 'O') directive.conversion = 'o';
    if ((directive.width && *directive.width > kMaxWidth) ||
        (directive.precision && *directive.precision > kMaxWidth))
      ok = false;
    const Value* arg = ok ? take(position) : nullptr;
    if (arg) {
      out += formatOne(directive, *arg);
    } else {
      out.append(pattern.substr(percent, j - percent));
    }
    i = j;
  }
  return out;
}

}  // namespace

size_t validUtf8Length(std::string_view utf8) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  size_t i = 0;
  while (i < utf8.size()) {
    std::uint64_t word;
    if (utf8.size() - i >= sizeof word) {
      std::memcpy(&word, utf8.data() + i, sizeof word);
      if ((word & kHighBits) == 0) {
        i += sizeof word;
        continue;
      }
    }
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      ++i;
      continue;
    }
    const CodePoint cp = decodeAt(utf8, i);
    if (!cp.valid) return i;
    i += cp.size;
  }
  return utf8.size();
}

bool isValidUtf8(std::string_view utf8) { return validUtf8Length(utf8) == utf8.size(); }

void appendCodePoint(std::string& out, char32_t codePoint) { appendUtf8(out, codePoint); }

std::string percentEscaped(std::string_view text, std::string_view keep) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                            byte == '~';
    if (unreserved || (byte < 0x80 && keep.find(ch) != std::string_view::npos)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    }
  }
  return out;
}

void appendEscaped(std::string& out, std::string_view text) {
  const char* run = text.data();
  const char* const end = text.data() + text.size();
  for (const char* p = run; p != end; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte >= 0x20 && byte != '"' && byte != '\\') continue;
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
        static constexpr char kHex[] = "0123456789abcdef";
        const char escape[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
        out.append(escape, sizeof escape);
      }
    }
  }
  out.append(run, static_cast<size_t>(end - run));
}

size_t utf16Length(std::string_view utf8) {
  size_t units = 0;
  for (size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      ++units;
      ++i;
      continue;
    }
    const CodePoint cp = decodeAt(utf8, i);
    units += unitsOf(cp.value);
    i += cp.size;
  }
  return units;
}

Result<std::u16string> toUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const CodePoint cp = decodeAt(utf8, i);
    if (!cp.valid)
      return encodingError("The text is not valid UTF-8 (malformed byte at offset " + std::to_string(i) +
                           ").");
    appendUtf16(out, cp.value);
    i += cp.size;
  }
  return out;
}

Result<std::string> fromUtf16(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= utf16.size() || utf16[i + 1] < 0xDC00 || utf16[i + 1] > 0xDFFF) {
        return encodingError("The text is not valid UTF-16 (unpaired surrogate at unit " + std::to_string(i) +
                             ").");
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return encodingError("The text is not valid UTF-16 (unpaired surrogate at unit " + std::to_string(i) +
                           ").");
    }
    appendUtf8(out, c);
  }
  return out;
}

std::string prefixUtf16(std::string_view utf8, size_t units) {
  size_t used = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    const CodePoint cp = decodeAt(utf8, i);
    if (used + unitsOf(cp.value) > units) break;
    used += unitsOf(cp.value);
    i += cp.size;
  }
  return std::string(utf8.substr(0, i));
}

std::string substringUtf16(std::string_view utf8, size_t start, size_t length) {
  if (length == 0) return {};
  const size_t end = length > SIZE_MAX - start ? SIZE_MAX : start + length;
  size_t unit = 0;
  size_t i = 0;
  std::optional<size_t> from;
  while (i < utf8.size() && unit < end) {
    const CodePoint cp = decodeAt(utf8, i);
    const size_t next = unit + unitsOf(cp.value);
    if (!from && next > start) from = i;  // the code point holding unit `start`
    unit = next;
    i += cp.size;
  }
  if (!from) return {};
  return std::string(utf8.substr(*from, i - *from));
}

Ordering compare(std::string_view a, std::string_view b) {
  return compareUnits(lenientUtf16(a), lenientUtf16(b));
}

Ordering caseInsensitiveCompare(std::string_view a, std::string_view b) {
  return compareUnits(foldCase(lenientUtf16(a)), foldCase(lenientUtf16(b)));
}

Ordering numericCompare(std::string_view a, std::string_view b) {
  const std::u16string x = lenientUtf16(a);
  const std::u16string y = lenientUtf16(b);
  const auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
  size_t i = 0, j = 0;
  while (i < x.size() && j < y.size()) {
    if (isDigit(x[i]) && isDigit(y[j])) {
      // Compare the runs as numbers: skip leading zeros, then the longer run is larger,
      // else the first differing digit decides.
      while (i < x.size() && x[i] == u'0') ++i;
      while (j < y.size() && y[j] == u'0') ++j;
      size_t ei = i, ej = j;
      while (ei < x.size() && isDigit(x[ei])) ++ei;
      while (ej < y.size() && isDigit(y[ej])) ++ej;
      if (ei - i != ej - j) return ei - i < ej - j ? Ordering::Ascending : Ordering::Descending;
      const int r =
          std::u16string_view(x).substr(i, ei - i).compare(std::u16string_view(y).substr(j, ej - j));
      if (r != 0) return orderingOf(r);
      i = ei;
      j = ej;
      continue;
    }
    if (x[i] != y[j]) return x[i] < y[j] ? Ordering::Ascending : Ordering::Descending;
    ++i;
    ++j;
  }
  if (i < x.size()) return Ordering::Descending;
  if (j < y.size()) return Ordering::Ascending;
  return Ordering::Same;
}

Ordering localizedCaseInsensitiveCompare(std::string_view a, std::string_view b, std::string_view localeId) {
  const std::u16string x = lenientUtf16(a);
  const std::u16string y = lenientUtf16(b);
  UCollator* collator = collatorFor(localeId);
  if (!collator) return caseInsensitiveCompare(a, b);
  const UCollationResult r = ucol_strcoll(collator, x.data(), static_cast<int32_t>(x.size()), y.data(),
                                          static_cast<int32_t>(y.size()));
  return r == UCOL_LESS ? Ordering::Ascending : (r == UCOL_GREATER ? Ordering::Descending : Ordering::Same);
}

std::string toNFC(std::string_view utf8) {
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
  const std::u16string in = lenientUtf16(utf8);
  if (U_FAILURE(status)) return utf8Of(in);
  return utf8Of(transform(in, [&](UChar* dest, int32_t capacity, UErrorCode* s) {
    return unorm2_normalize(nfc, in.data(), static_cast<int32_t>(in.size()), dest, capacity, s);
  }));
}

std::string toLower(std::string_view utf8) {
  const std::u16string in = lenientUtf16(utf8);
  return utf8Of(transform(in, [&](UChar* dest, int32_t capacity, UErrorCode* s) {
    return u_strToLower(dest, capacity, in.data(), static_cast<int32_t>(in.size()), "", s);
  }));
}

std::string toUpper(std::string_view utf8) {
  const std::u16string in = lenientUtf16(utf8);
  return utf8Of(transform(in, [&](UChar* dest, int32_t capacity, UErrorCode* s) {
    return u_strToUpper(dest, capacity, in.data(), static_cast<int32_t>(in.size()), "", s);
  }));
}

std::string trim(std::string_view utf8) {
  std::optional<size_t> first;
  size_t last = 0;  // end of the last code point that is not white space
  for (size_t i = 0; i < utf8.size();) {
    const CodePoint cp = decodeAt(utf8, i);
    const bool space = cp.valid && u_hasBinaryProperty(static_cast<UChar32>(cp.value), UCHAR_WHITE_SPACE);
    if (!space) {
      if (!first) first = i;
      last = i + cp.size;
    }
    i += cp.size;
  }
  if (!first) return {};
  return std::string(utf8.substr(*first, last - *first));
}

std::string format(std::string_view pattern, std::initializer_list<Value> args) {
  return formatArgs(pattern, std::span<const Value>(args.begin(), args.size()));
}

std::string format(std::string_view pattern, const Array& args) {
  return formatArgs(pattern, std::span<const Value>(args.data(), args.size()));
}

}  // namespace foundation::text
