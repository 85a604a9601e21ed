#include "platform/plist/keyed_archive.h"

#include "platform/plist/archive_layout.h"

namespace plist {

void ClassRegistry::add(std::string className, Factory factory) {
  std::lock_guard lock(mutex_);
  factories_[std::move(className)] = std::move(factory);
}

std::optional<ClassRegistry::Factory> ClassRegistry::find(std::string_view className) const {
  std::lock_guard lock(mutex_);
  auto it = factories_.find(className);
  if (it == factories_.end()) return std::nullopt;
  return it->second;
}

ClassRegistry& ClassRegistry::shared() {
  static ClassRegistry registry;
  return registry;
}

std::optional<std::uint64_t> detail::referenceOf(plist_t node) {
  std::uint64_t uid = 0;
  switch (plist_get_node_type(node)) {
    case PLIST_UID:
      plist_get_uid_val(node, &uid);
      return uid;
    case PLIST_DICT: {
      if (plist_dict_get_size(node) != 1) return std::nullopt;
      plist_t value = plist_dict_get_item(node, kXmlReferenceKey);
      if (!value || plist_get_node_type(value) != PLIST_UINT) return std::nullopt;
      plist_get_uint_val(value, &uid);
      return uid;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace plist
