#pragma once
// Comparison rules shared by the SQL the store generates and the in-memory evaluation of
// unsaved objects, so both give the same answers and orders. Used only inside the store.

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "platform/foundation/value.h"
#include "platform/store/fetch_request.h"
#include "platform/store/predicate.h"

namespace store {

// String operators of predicates.
enum class StringOp { Equal, NotEqual, BeginsWith, EndsWith, Contains, Like };

int compareStrings(std::string_view a, std::string_view b, StringComparison comparison);

// Orders values as SQLite does: nothing first, then numbers (booleans, integers, reals,
// decimals and dates by their numeric value), then strings, then data.
int compareValues(const foundation::Value& a, const foundation::Value& b,
                  StringComparison comparison = StringComparison::Binary);

// The text with case folded and/or diacritics removed, as the options ask.
std::string foldString(std::string_view text, unsigned options);

// The string operator on two texts; false when either is missing.
bool evaluateStringOp(StringOp op, unsigned options, std::string_view lhs, std::string_view rhs);

// SQL names of the collations for a string comparison ("" for binary).
std::string_view collationName(StringComparison comparison);

// Installs the collations and the "diary_strop(op, options, lhs, rhs)" function.
void registerFunctions(sqlite3* db);

}  // namespace store
