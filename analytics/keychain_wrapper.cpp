#include "analytics/keychain_wrapper.h"

#include "analytics/tally_util.h"
#include "platform/plist/keyed_archive.h"
#include "platform/runtime/bundle.h"
#include "platform/security/keychain.h"

namespace analytics {

using security::Keychain;

std::shared_ptr<TallyKeychainWrapper> TallyKeychainWrapper::keychainWrapperWithIdentifier(
    std::string_view identifier) {
  if (identifier.empty()) return nullptr;
  std::string service;
  if (auto bundle = runtime::Bundle::main()) service = bundle->bundleIdentifier();
  service += identifier;
  return std::make_shared<TallyKeychainWrapper>(std::move(service));
}

foundation::Dictionary TallyKeychainWrapper::setupSearchForKey(std::string_view key) const {
  foundation::Dictionary query{{std::string(Keychain::kClassKey), Keychain::kClassGenericPassword},
                               {std::string(Keychain::kServiceKey), identifier_}};
  if (!key.empty()) {
    foundation::Bytes bytes(key.begin(), key.end());
    query.set(std::string(Keychain::kGenericKey), bytes);
    query.set(std::string(Keychain::kAccountKey), std::string(key));
  }
  return query;
}

std::optional<foundation::Bytes> TallyKeychainWrapper::dataForKey(std::string_view key) const {
  foundation::Dictionary query = setupSearchForKey(key);
  query.set(std::string(Keychain::kMatchLimitKey), Keychain::kMatchLimitOne);
  query.set(std::string(Keychain::kReturnDataKey), true);
  foundation::Value result;
  if (TallyUtil::keychain()->copyMatching(query, &result) != Keychain::kSuccess || !result.data()) {
    return std::nullopt;
  }
  return *result.data();
}

std::optional<std::string> TallyKeychainWrapper::stringForKey(std::string_view key) const {
  auto data = dataForKey(key);
  if (!data) return std::nullopt;
  return std::string(data->begin(), data->end());
}

std::optional<foundation::Value> TallyKeychainWrapper::objectForKey(std::string_view key) const {
  auto data = dataForKey(key);
  if (!data) return std::nullopt;
  auto value = plist::unarchiveRootValue(*data);
  if (!value || value->isNull()) return std::nullopt;
  return std::move(*value);
}

bool TallyKeychainWrapper::setData(const foundation::Bytes& data, std::string_view key) {
  if (key.empty()) return false;
  foundation::Dictionary attributes = setupSearchForKey(key);
  attributes.set(std::string(Keychain::kValueDataKey), data);
  attributes.set(std::string(Keychain::kAccessibleKey), Keychain::kAccessibleWhenUnlocked);
  security::KeychainStatus status = TallyUtil::keychain()->add(attributes);
  if (status == Keychain::kDuplicateItem) return updateValueData(data, key);
  return status == Keychain::kSuccess;
}

bool TallyKeychainWrapper::setString(std::string_view value, std::string_view key) {
  return setData(foundation::Bytes(value.begin(), value.end()), key);
}

bool TallyKeychainWrapper::setObject(const foundation::Value& value, std::string_view key) {
  if (value.isNull() || key.empty()) return false;
  auto bytes = plist::archiveRootValue(value);
  return bytes && setData(*bytes, key);
}

bool TallyKeychainWrapper::updateValueData(const foundation::Bytes& data, std::string_view key) {
  foundation::Dictionary change{{std::string(Keychain::kValueDataKey), data}};
  return TallyUtil::keychain()->update(setupSearchForKey(key), change) == Keychain::kSuccess;
}

void TallyKeychainWrapper::removeObjectForKey(std::string_view key) {
  (void)TallyUtil::keychain()->remove(setupSearchForKey(key));
}

}  // namespace analytics
