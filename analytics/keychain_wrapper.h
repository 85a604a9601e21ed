#pragma once
// Small values of the analytics SDK kept in the keychain, where they outlive the application's data:
// one generic-password item per key, under the service made of the main bundle's identifier followed
// directly by the wrapper's identifier (the identifier alone for a bundle without one). The key
// names the item twice, as its account and as its generic attribute. Failures are answered as false
// or nothing and are not logged. Thread-safe (the keychain serialises its operations).

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace analytics {

class TallyKeychainWrapper {
 public:
  // Nothing for an empty identifier.
  static std::shared_ptr<TallyKeychainWrapper> keychainWrapperWithIdentifier(std::string_view identifier);

  // The service name of the items.
  const std::string& identifier() const { return identifier_; }

  // The query that finds the key's item: class and service, plus account and generic attribute for a
  // non-empty key.
  foundation::Dictionary setupSearchForKey(std::string_view key) const;

  std::optional<foundation::Bytes> dataForKey(std::string_view key) const;
  std::optional<std::string> stringForKey(std::string_view key) const;
  // The plain value kept as a keyed archive in the item.
  std::optional<foundation::Value> objectForKey(std::string_view key) const;

  // Adds the item, or updates it when it exists. False for an empty key or a failure.
  bool setData(const foundation::Bytes& data, std::string_view key);
  bool setString(std::string_view value, std::string_view key);
  // A null value or an empty key gives false.
  bool setObject(const foundation::Value& value, std::string_view key);
  bool updateValueData(const foundation::Bytes& data, std::string_view key);
  void removeObjectForKey(std::string_view key);

  explicit TallyKeychainWrapper(std::string identifier) : identifier_(std::move(identifier)) {}

 private:
  std::string identifier_;
};

}  // namespace analytics
