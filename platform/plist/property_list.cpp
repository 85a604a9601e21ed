#include "platform/plist/property_list.h"

#include "platform/plist/plist_node.h"

namespace plist {

using foundation::Bytes;
using foundation::Result;
using foundation::Value;

Result<Value> readPropertyList(const void* data, size_t size, Format* format) {
  auto root = detail::parse(data, size, format);
  if (!root) return root.error();
  return detail::toValue(root->get());
}

Result<Value> readPropertyList(const Bytes& data, Format* format) {
  return readPropertyList(data.data(), data.size(), format);
}

Result<Bytes> writePropertyList(const Value& value, Format format) {
  auto root = detail::fromValue(value);
  if (!root) return root.error();
  return detail::serialize(root->get(), format);
}

foundation::Status validatePropertyList(const Value& value) {
  auto root = detail::fromValue(value);
  if (!root) return root.error();
  return {};
}

}  // namespace plist
