#pragma once
// Internet-password items in memory for the OAuth stores; a test can make adding or removing answer
// a given status, and count the calls.
#include <map>
#include <string>
#include <tuple>

#include "cloud/oauth_credential_store.h"

namespace cloud {

class MemoryOAuthKeychain : public OAuthKeychain {
 public:
  using Key = std::tuple<std::string, std::string, std::string>;  // security domain, server, account
  static Key key(const Item& item) { return {item.securityDomain, item.server, item.account}; }

  std::int32_t find(const Item& item, std::string* value) override {
    ++calls;
    auto it = items.find(key(item));
    if (it == items.end()) return kItemNotFound;
    if (value) *value = it->second;
    return kSuccess;
  }
  std::int32_t add(const Item& item, std::string_view value) override {
    ++calls;
    if (addStatus != kSuccess) return addStatus;
    return items.emplace(key(item), value).second ? kSuccess : kDuplicateItem;
  }
  std::int32_t update(const Item& item, std::string_view value) override {
    ++calls, ++updates;
    auto it = items.find(key(item));
    if (it == items.end()) return kItemNotFound;
    it->second = value;
    return kSuccess;
  }
  std::int32_t remove(const Item& item) override {
    ++calls;
    if (removeStatus != kSuccess) return removeStatus;
    return items.erase(key(item)) ? kSuccess : kItemNotFound;
  }
  bool holds(std::string_view account) const {
    for (const auto& [k, v] : items)
      if (std::get<2>(k) == account) return true;
    return false;
  }

  std::map<Key, std::string> items;
  std::int32_t addStatus = kSuccess, removeStatus = kSuccess;
  int calls = 0, updates = 0;
};

}  // namespace cloud
