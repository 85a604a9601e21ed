#pragma once
// Internal to platform/plist: owning handles on libplist nodes, the guards that keep hostile
// input away from libplist's recursive parser, and the conversions between nodes and Value.
// Nothing outside this folder includes it.

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/plist/property_list.h"

namespace plist::detail {

struct NodeDeleter {
  void operator()(void* node) const {
    if (node) plist_free(static_cast<plist_t>(node));
  }
};
using NodePtr = std::unique_ptr<void, NodeDeleter>;

foundation::Error readError(std::string message);
foundation::Error writeError(std::string message);

// Parses XML or binary bytes into a libplist tree, after checking that the nesting stays
// within kMaxDepth (libplist recurses once per level, in parsing and in freeing).
foundation::Result<NodePtr> parse(const void* data, size_t size, Format* format);
foundation::Result<foundation::Bytes> serialize(plist_t root, Format format);

// A node of a tree that came from parse(); fails for anything a Value cannot hold. A UID fails
// too, unless `uidsAsDictionaries` asks for the XML form {"CF$UID": n} (for inspecting archives).
foundation::Result<foundation::Value> toValue(plist_t node, bool uidsAsDictionaries = false);
// A new tree; fails for null, malformed text, dates libplist cannot hold and excessive depth.
foundation::Result<NodePtr> fromValue(const foundation::Value& value);

// Scalar helpers shared with the keyed archive.
std::optional<std::string> stringOf(plist_t node);  // strings only
std::optional<foundation::Bytes> dataOf(plist_t node);
// Integer, real or boolean node as a Value number; nothing for other nodes.
std::optional<foundation::Value> numberOf(plist_t node);
std::optional<std::string> checkText(std::string_view text);  // why text cannot be written, if it cannot
// A string node, or nothing when the text cannot be written (invalid UTF-8 or holding NUL).
NodePtr newString(std::string_view text);

}  // namespace plist::detail
