#include "platform/store/collation.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <cstring>
#include <memory>
#include <vector>

namespace store {

namespace {

std::u16string toUtf16(std::string_view text) {
  std::u16string out(text.size() + 1, u'\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                       static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return std::u16string();
  out.resize(static_cast<size_t>(length));
  return out;
}

std::string toUtf8(const std::u16string& text) {
  std::string out(text.size() * 3 + 1, '\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                     static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return std::string();
  out.resize(static_cast<size_t>(length));
  return out;
}

bool isAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// One collator per thread and strength: ICU collators are not to be shared between threads.
UCollator* collator(bool caseInsensitive) {
  struct Holder {
    UCollator* collator = nullptr;
    ~Holder() {
      if (collator) ucol_close(collator);
    }
  };
  thread_local Holder holders[2];
  Holder& holder = holders[caseInsensitive ? 1 : 0];
  if (!holder.collator) {
    UErrorCode status = U_ZERO_ERROR;
    // The POSIX locale orders ASCII by code point; localised comparison means the root order.
    const std::string_view locale = uloc_getDefault();
    const bool posix = locale.find("POSIX") != std::string_view::npos || locale == "c" || locale.empty();
    holder.collator = ucol_open(posix ? "" : locale.data(), &status);
    if (U_FAILURE(status)) {
      status = U_ZERO_ERROR;
      holder.collator = ucol_open("", &status);
    }
    if (holder.collator) ucol_setStrength(holder.collator, caseInsensitive ? UCOL_SECONDARY : UCOL_TERTIARY);
  }
  return holder.collator;
}

int sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

int compareBinary(std::string_view a, std::string_view b) { return sign(a.compare(b)); }

// Numeric rank of a value for ordering, as SQLite ranks storage classes.
enum Rank { kNull = 0, kNumber = 1, kText = 2, kBlob = 3, kOther = 4 };

Rank rank(const foundation::Value& v) {
  using T = foundation::Value::Type;
  switch (v.type()) {
    case T::Null:
      return kNull;
    case T::Bool:
    case T::Integer:
    case T::Real:
    case T::Decimal:
    case T::Date:
      return kNumber;
    case T::String:
      return kText;
    case T::Data:
      return kBlob;
    default:
      return kOther;
  }
}

double numeric(const foundation::Value& v) {
  if (const auto* d = v.date()) return d->sinceReference;
  return v.toDouble().value_or(0);
}

std::u32string codePoints(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  int32_t i = 0;
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t length = static_cast<int32_t>(text.size());
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    out.push_back(c < 0 ? 0xFFFD : static_cast<char32_t>(c));
  }
  return out;
}

// Wildcard match with '*' (any run) and '?' (one character).
bool like(const std::u32string& text, const std::u32string& pattern) {
  size_t t = 0, p = 0, starP = std::u32string::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == text[t])) {
      ++t;
      ++p;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      starP = p++;
      starT = t;
    } else if (starP != std::u32string::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

int collate(void* arg, int lengthA, const void* a, int lengthB, const void* b) {
  const auto comparison = static_cast<StringComparison>(reinterpret_cast<intptr_t>(arg));
  return compareStrings(std::string_view(static_cast<const char*>(a), static_cast<size_t>(lengthA)),
                        std::string_view(static_cast<const char*>(b), static_cast<size_t>(lengthB)),
                        comparison);
}

std::string_view textArg(sqlite3_value* v) {
  const unsigned char* text = sqlite3_value_text(v);
  return std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(v)));
}

void stropFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (argc != 4 || sqlite3_value_type(argv[2]) == SQLITE_NULL || sqlite3_value_type(argv[3]) == SQLITE_NULL) {
    sqlite3_result_int(context, 0);
    return;
  }
  const auto op = static_cast<StringOp>(sqlite3_value_int(argv[0]));
  const auto options = static_cast<unsigned>(sqlite3_value_int(argv[1]));
  const std::string lhs(textArg(argv[2]));
  const std::string_view rhs = textArg(argv[3]);
  sqlite3_result_int(context, evaluateStringOp(op, options, lhs, rhs) ? 1 : 0);
}

}  // namespace

int compareStrings(std::string_view a, std::string_view b, StringComparison comparison) {
  switch (comparison) {
    case StringComparison::Binary:
      return compareBinary(a, b);
    case StringComparison::CaseInsensitive:
      if (isAscii(a) && isAscii(b)) {
        const size_t n = std::min(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
          const int ca = (a[i] >= 'A' && a[i] <= 'Z') ? a[i] + 32 : a[i];
          const int cb = (b[i] >= 'A' && b[i] <= 'Z') ? b[i] + 32 : b[i];
          if (ca != cb) return ca < cb ? -1 : 1;
        }
        return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
      }
      return compareBinary(foldString(a, kCaseInsensitive), foldString(b, kCaseInsensitive));
    case StringComparison::Localized:
    case StringComparison::LocalizedCaseInsensitive: {
      UCollator* c = collator(comparison == StringComparison::LocalizedCaseInsensitive);
      if (!c) return compareBinary(a, b);
      UErrorCode status = U_ZERO_ERROR;
      const UCollationResult r = ucol_strcollUTF8(c, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                                  static_cast<int32_t>(b.size()), &status);
      if (U_FAILURE(status)) return compareBinary(a, b);
      return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
    }
  }
  return compareBinary(a, b);
}

int compareValues(const foundation::Value& a, const foundation::Value& b, StringComparison comparison) {
  const Rank ra = rank(a), rb = rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  switch (ra) {
    case kNull:
      return 0;
    case kNumber: {
      const auto* ia = a.integer();
      const auto* ib = b.integer();
      if (ia && ib) return *ia < *ib ? -1 : (*ia > *ib ? 1 : 0);
      const double da = numeric(a), db = numeric(b);
      return da < db ? -1 : (da > db ? 1 : 0);
    }
    case kText:
      return compareStrings(*a.string(), *b.string(), comparison);
    case kBlob: {
      const auto& x = *a.data();
      const auto& y = *b.data();
      const size_t n = std::min(x.size(), y.size());
      const int c = n ? std::memcmp(x.data(), y.data(), n) : 0;
      if (c != 0) return sign(c);
      return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
    }
    default:
      return 0;
  }
}

std::string foldString(std::string_view text, unsigned options) {
  if (options == 0) return std::string(text);
  if (options == kCaseInsensitive && isAscii(text)) {
    std::string out(text);
    for (char& c : out)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
  }
  std::u16string s = toUtf16(text);
  UErrorCode status = U_ZERO_ERROR;
  if (options & kDiacriticInsensitive) {
    const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
    if (U_SUCCESS(status)) {
      std::u16string decomposed(s.size() * 4 + 8, u'\0');
      const int32_t n = unorm2_normalize(nfd, s.data(), static_cast<int32_t>(s.size()), decomposed.data(),
                                         static_cast<int32_t>(decomposed.size()), &status);
      if (U_SUCCESS(status)) {
        decomposed.resize(static_cast<size_t>(n));
        std::u16string stripped;
        stripped.reserve(decomposed.size());
        for (size_t i = 0; i < decomposed.size();) {
          UChar32 c;
          U16_NEXT(decomposed.data(), i, decomposed.size(), c);
          if (u_charType(c) == U_NON_SPACING_MARK) continue;
          if (U_IS_BMP(c)) {
            stripped.push_back(static_cast<char16_t>(c));
          } else {
            stripped.push_back(U16_LEAD(c));
            stripped.push_back(U16_TRAIL(c));
          }
        }
        s = std::move(stripped);
      }
    }
    status = U_ZERO_ERROR;
  }
  if (options & kCaseInsensitive) {
    std::u16string folded(s.size() * 3 + 8, u'\0');
    const int32_t n = u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()), s.data(),
                                    static_cast<int32_t>(s.size()), U_FOLD_CASE_DEFAULT, &status);
    if (U_SUCCESS(status)) {
      folded.resize(static_cast<size_t>(n));
      s = std::move(folded);
    }
  }
  return toUtf8(s);
}

bool evaluateStringOp(StringOp op, unsigned options, std::string_view lhs, std::string_view rhs) {
  std::string foldedL, foldedR;
  if (options) {
    foldedL = foldString(lhs, options);
    foldedR = foldString(rhs, options);
    lhs = foldedL;
    rhs = foldedR;
  }
  switch (op) {
    case StringOp::Equal:
      return lhs == rhs;
    case StringOp::NotEqual:
      return lhs != rhs;
    case StringOp::BeginsWith:
      return lhs.substr(0, rhs.size()) == rhs;
    case StringOp::EndsWith:
      return lhs.size() >= rhs.size() && lhs.substr(lhs.size() - rhs.size()) == rhs;
    case StringOp::Contains:
      return lhs.find(rhs) != std::string_view::npos;
    case StringOp::Like:
      return like(codePoints(lhs), codePoints(rhs));
  }
  return false;
}

std::string_view collationName(StringComparison comparison) {
  switch (comparison) {
    case StringComparison::Binary:
      return "";
    case StringComparison::CaseInsensitive:
      return "DIARY_NOCASE";
    case StringComparison::Localized:
      return "DIARY_LOCALIZED";
    case StringComparison::LocalizedCaseInsensitive:
      return "DIARY_LOCALIZED_NOCASE";
  }
  return "";
}

void registerFunctions(sqlite3* db) {
  for (StringComparison c : {StringComparison::CaseInsensitive, StringComparison::Localized,
                             StringComparison::LocalizedCaseInsensitive}) {
    sqlite3_create_collation_v2(db, std::string(collationName(c)).c_str(), SQLITE_UTF8,
                                reinterpret_cast<void*>(static_cast<intptr_t>(c)), collate, nullptr);
  }
  sqlite3_create_function_v2(db, "diary_strop", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, stropFunction,
                             nullptr, nullptr, nullptr);
}

}  // namespace store
