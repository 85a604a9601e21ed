#pragma once
// Linking an account: how the session sends the user to the cloud service and takes the answer.
//
//   linkFromController ──► nonce into the user defaults ("cloud.sync.nonce")
//        ├─ service's own application installed: open "cloudapi-2://1/connect?k=&s=&state=[&u=]"
//        └─ otherwise: present CloudConnectController on
//                      "https://<web host>/1/connect_login?k=&s=&state=&easl=1[&u=]"
//   either answers "cloud-<key>://1/connect?oauth_token=&oauth_token_secret=&uid=&state="
//   (or ".../cancel"), which the application delegate hands to CloudSession::handleOpenURL.
//
// The promise: only the answer to the latest attempt links anyone, and nothing is stored for an
// answer that does not verify. Everything here runs on the main thread.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cloud/cloud_session.h"
#include "platform/ui/view_controller.h"

namespace cloud {

// The scheme of the service's own application and the path it is opened with.
inline constexpr std::string_view kCloudServiceAppScheme = "cloudapi-2";
// The query value that asks the login page for its embedded (in-application) form.
inline constexpr std::string_view kCloudEmbeddedLoginParameter = "easl=1";

// The key check value "s": the last four bytes of SHA-1(secret), big-endian, as lower-case hex
// without leading zeros.
std::string cloudKeyCheckValue(std::string_view appSecret);

// True when the main bundle's "CFBundleURLTypes" lists the session's scheme under any entry's
// "CFBundleURLSchemes".
bool appConformsToScheme(const CloudSession& session);

// Starts a link attempt for no particular user.
void linkFromController(const std::shared_ptr<CloudSession>& session, ui::ViewController& presenting);
// Starts a link attempt, hinting the user id to the service unless it is empty or "unknown".
// Without a declared scheme the error is logged and nothing happens; the nonce replaces that of any
// earlier attempt.
void linkUserIdFromController(const std::shared_ptr<CloudSession>& session,
                              std::optional<std::string_view> userId, ui::ViewController& presenting);

// The URLs of an attempt (for the service's application and for the web login page).
std::string cloudServiceAppURL(const CloudSession& session, std::string_view nonce,
                               std::optional<std::string_view> userId);
std::string cloudWebLoginURL(const CloudSession& session, std::string_view nonce,
                             std::optional<std::string_view> userId);

}  // namespace cloud
