#pragma once
// Where the cloud client keeps its users' tokens between launches: one generic-password keychain
// item whose service is "<main bundle identifier>.cloud.auth" and whose data is a keyed archive of
// one dictionary (the session decides what it holds).
//
// Class operations only, as the session calls them. The keychain and the bundle identifier are
// given once at start-up with configure(), which builds the base query (class and service) kept
// for the life of the process; until then every operation fails as "keychain not available".
// Failures never reach the caller: they are logged as warnings and read as "no credentials".

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"
#include "platform/security/keychain.h"

namespace cloud {

class CloudKeychain {
 public:
  // The service of the item for a bundle identifier: "%@.cloud.auth".
  static std::string serviceForBundleIdentifier(std::string_view bundleIdentifier);

  // Uses `keychain` (shared with the rest of the application; nullptr makes the keychain
  // unavailable) for the item of the application `bundleIdentifier`.
  static void configure(std::shared_ptr<security::Keychain> keychain, std::string_view bundleIdentifier);
  // The base query: class generic password and the service.
  static foundation::Dictionary baseQuery();

  // The stored dictionary; nothing when there is no item or it cannot be read (logged, except
  // when there is simply no item).
  static std::optional<foundation::Dictionary> credentials();
  // Archives the dictionary and stores it, updating the item when one exists and adding it
  // otherwise; an item that exists but cannot be read is replaced. On systems of major version 4
  // or later the item is readable after the first unlock. The keychain's status: kSuccess once the
  // item holds the dictionary (callers that move older stored forms wait for it before they
  // delete those).
  static security::KeychainStatus setCredentials(const foundation::Dictionary& credentials);
  // Deletes the item. A missing item is logged like any other failure.
  static security::KeychainStatus deleteCredentials();
};

}  // namespace cloud
