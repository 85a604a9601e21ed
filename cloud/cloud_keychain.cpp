#include "cloud/cloud_keychain.h"

#include <cstdlib>
#include <mutex>
#include <utility>

#include "cloud/cloud_log.h"
#include "platform/plist/keyed_archive.h"
#include "platform/ui/device.h"

namespace cloud {
namespace {

using security::Keychain;
using security::KeychainStatus;

struct State {
  std::mutex mutex;
  std::shared_ptr<Keychain> keychain;
  foundation::Dictionary baseQuery;
};

State& state() {
  static State s;
  return s;
}

std::shared_ptr<Keychain> keychain() {
  std::lock_guard lock(state().mutex);
  return state().keychain;
}

// The integer before the first "." of the system version ("8.0" gives 8, "" gives 0).
int systemMajorVersion() { return std::atoi(ui::device().systemVersion.c_str()); }

// Reads the item: its status, and its data when it has any.
KeychainStatus readItem(std::optional<foundation::Bytes>* data) {
  auto chain = keychain();
  if (!chain) return Keychain::kNotAvailable;
  foundation::Dictionary query = CloudKeychain::baseQuery();
  query.set(std::string(Keychain::kMatchLimitKey), std::string(Keychain::kMatchLimitOne));
  query.set(std::string(Keychain::kReturnAttributesKey), true);
  query.set(std::string(Keychain::kReturnDataKey), true);
  foundation::Value result;
  KeychainStatus status = chain->copyMatching(query, &result);
  if (status == Keychain::kSuccess) {
    if (const foundation::Dictionary* found = result.dictionary()) {
      if (const foundation::Bytes* bytes = (*found)[Keychain::kValueDataKey].data()) *data = *bytes;
    }
  }
  return status;
}

}  // namespace

std::string CloudKeychain::serviceForBundleIdentifier(std::string_view bundleIdentifier) {
  return std::string(bundleIdentifier) + ".cloud.auth";
}

void CloudKeychain::configure(std::shared_ptr<Keychain> keychain, std::string_view bundleIdentifier) {
  std::lock_guard lock(state().mutex);
  state().keychain = std::move(keychain);
  state().baseQuery = foundation::Dictionary{
      {std::string(Keychain::kClassKey), std::string(Keychain::kClassGenericPassword)},
      {std::string(Keychain::kServiceKey), serviceForBundleIdentifier(bundleIdentifier)}};
}

foundation::Dictionary CloudKeychain::baseQuery() {
  std::lock_guard lock(state().mutex);
  return state().baseQuery;
}

std::optional<foundation::Dictionary> CloudKeychain::credentials() {
  std::optional<foundation::Bytes> data;
  KeychainStatus status = readItem(&data);
  if (status == Keychain::kItemNotFound) return std::nullopt;
  if (status != Keychain::kSuccess || !data) {
    CloudLogWarning("CloudSDK: error reading stored credentials (%i)", status);
    return std::nullopt;
  }
  // The item may hold anything by now: what does not unarchive to a dictionary is not credentials.
  auto root = plist::unarchiveRootValue(*data);
  if (!root.ok() || !root->isDictionary()) {
    CloudLogWarning("CloudSDK: error reading stored credentials (%i)", Keychain::kDecode);
    return std::nullopt;
  }
  return *root->dictionary();
}

security::KeychainStatus CloudKeychain::setCredentials(const foundation::Dictionary& credentials) {
  auto chain = keychain();
  auto archived = plist::archiveRootValue(foundation::Value(credentials));
  KeychainStatus status = Keychain::kNotAvailable;
  if (!archived.ok()) {
    status = Keychain::kParam;
  } else if (chain) {
    foundation::Dictionary attributes = baseQuery();
    attributes.set(std::string(Keychain::kValueDataKey), *archived);
    if (systemMajorVersion() >= 4) {
      attributes.set(std::string(Keychain::kAccessibleKey),
                     std::string(Keychain::kAccessibleAfterFirstUnlock));
    }
    bool exists = CloudKeychain::credentials().has_value();
    if (!exists) status = chain->add(attributes);
    // An item that exists but could not be read is replaced rather than left to block every save.
    if (exists || status == Keychain::kDuplicateItem) {
      attributes.erase(Keychain::kClassKey);
      status = chain->update(baseQuery(), attributes);
    }
  }
  if (status != Keychain::kSuccess) CloudLogWarning("CloudSDK: error saving credentials (%i)", status);
  return status;
}

security::KeychainStatus CloudKeychain::deleteCredentials() {
  auto chain = keychain();
  KeychainStatus status = chain ? chain->remove(baseQuery()) : Keychain::kNotAvailable;
  if (status != Keychain::kSuccess) CloudLogWarning("CloudSDK: error deleting credentials (%i)", status);
  return status;
}

}  // namespace cloud
