#pragma once
// Internal to platform/plist: the names and conventions of the keyed-archive layout that the
// writer (keyed_archive_writer.cpp) and the reader (keyed_archive_reader.cpp) share. The layout
// itself is described in keyed_archive.h.

#include <plist/plist.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace plist::detail {

using foundation::Bytes;
using foundation::Error;
using foundation::Result;
using foundation::Value;

inline constexpr std::string_view kArchiverName = "NSKeyedArchiver";
inline constexpr std::uint64_t kArchiveVersion = 100000;
inline constexpr std::string_view kNullName = "$null";
inline constexpr char kClassKey[] = "$class";
inline constexpr char kClassNameKey[] = "$classname";
inline constexpr char kClassesKey[] = "$classes";
// The one key of a reference in the XML form of an archive, where UIDs have no syntax.
inline constexpr char kXmlReferenceKey[] = "CF$UID";

inline bool isArrayClass(std::string_view name) { return name == "NSArray" || name == "NSMutableArray"; }
inline bool isDictionaryClass(std::string_view name) {
  return name == "NSDictionary" || name == "NSMutableDictionary";
}
inline bool isBuiltinClass(std::string_view name) {
  return isArrayClass(name) || isDictionaryClass(name) || name == "NSString" || name == "NSMutableString" ||
         name == "NSData" || name == "NSMutableData" || name == "NSDate" || name == "NSNull";
}

// Field names the archive reserves start with "$"; a field of ours that does gets another.
inline std::string escapeKey(std::string_view key) {
  std::string escaped;
  if (!key.empty() && key.front() == '$') escaped.push_back('$');
  escaped.append(key);
  return escaped;
}

// The index a reference names, in either form: a UID node (binary archives) or a dictionary
// whose one entry is "CF$UID" with a non-negative integer (XML archives, which libplist reads as
// plain dictionaries). Nothing for any other node.
std::optional<std::uint64_t> referenceOf(plist_t node);

}  // namespace plist::detail
