// The session's side of the link flow: starting an attempt and taking the login hand-back URL.
#include <cstdio>
#include <optional>

#include "cloud/cloud_connect_controller.h"
#include "cloud/cloud_link.h"
#include "cloud/cloud_log.h"
#include "cloud/cloud_request.h"
#include "cloud/cloud_session.h"
#include "cloud/oauth_escaping.h"
#include "platform/foundation/text.h"
#include "platform/foundation/uuid.h"
#include "platform/runtime/bundle.h"
#include "platform/security/digest.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"

namespace cloud {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%XX" escapes replaced by their bytes; nothing when an escape is incomplete or the result is not
// UTF-8. Nothing else is changed ("+" stays "+").
std::optional<std::string> removePercentEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int high = hexDigit(text[i + 1]);
    int low = hexDigit(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  if (!foundation::text::isValidUtf8(out)) return std::nullopt;
  return out;
}

std::optional<std::string> param(const foundation::Dictionary& params, std::string_view name) {
  const std::string* value = params[name].string();
  if (value == nullptr || value->empty()) return std::nullopt;
  return *value;
}

// The query pieces every attempt sends: key, check value, nonce, and the user hint when there is one.
std::string linkQuery(const CloudSession& session, std::string_view nonce,
                      std::optional<std::string_view> userId, bool embedded) {
  const foundation::Dictionary& base = session.baseCredentials();
  std::string query =
      "k=" + stringByAddingURIPercentEscapesUsingEncoding(base[kOAuthCredentialConsumerKey].stringOr(""));
  query += "&s=" + cloudKeyCheckValue(base[kOAuthCredentialConsumerSecret].stringOr(""));
  query += "&state=" + stringByAddingURIPercentEscapesUsingEncoding(nonce);
  if (embedded) query += "&" + std::string(kCloudEmbeddedLoginParameter);
  if (userId && !userId->empty() && *userId != kCloudUnknownUserId)
    query += "&u=" + stringByAddingURIPercentEscapesUsingEncoding(*userId);
  return query;
}

}  // namespace

std::string cloudKeyCheckValue(std::string_view appSecret) {
  auto digest = security::sha1(appSecret);
  if (!digest || digest->size() < 4) return "0";
  const foundation::Bytes& d = *digest;
  const size_t n = d.size();
  std::uint32_t value = (std::uint32_t{d[n - 4]} << 24) | (std::uint32_t{d[n - 3]} << 16) |
                        (std::uint32_t{d[n - 2]} << 8) | std::uint32_t{d[n - 1]};
  char text[9];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

bool appConformsToScheme(const CloudSession& session) {
  auto bundle = runtime::Bundle::main();
  if (!bundle) return false;
  const std::string scheme = session.appScheme();
  const foundation::Value urlTypes = bundle->objectForInfoDictionaryKey("CFBundleURLTypes");
  const foundation::Array* types = urlTypes.array();
  if (types == nullptr) return false;
  for (const foundation::Value& type : *types) {
    const foundation::Dictionary* entry = type.dictionary();
    if (entry == nullptr) continue;
    const foundation::Array* schemes = (*entry)["CFBundleURLSchemes"].array();
    if (schemes == nullptr) continue;
    for (const foundation::Value& candidate : *schemes) {
      if (const std::string* text = candidate.string(); text && *text == scheme) return true;
    }
  }
  return false;
}

std::string cloudServiceAppURL(const CloudSession& session, std::string_view nonce,
                               std::optional<std::string_view> userId) {
  return std::string(kCloudServiceAppScheme) + "://" + std::string(kCloudAPIVersion) + "/connect?" +
         linkQuery(session, nonce, userId, false);
}

std::string cloudWebLoginURL(const CloudSession& session, std::string_view nonce,
                             std::optional<std::string_view> userId) {
  return "https://" + CloudService::current().webHost + "/" + std::string(kCloudAPIVersion) +
         "/connect_login?" + linkQuery(session, nonce, userId, true);
}

void linkFromController(const std::shared_ptr<CloudSession>& session, ui::ViewController& presenting) {
  linkUserIdFromController(session, std::nullopt, presenting);
}

void linkUserIdFromController(const std::shared_ptr<CloudSession>& session,
                              std::optional<std::string_view> userId, ui::ViewController& presenting) {
  if (!session) return;
  if (!appConformsToScheme(*session)) {
    CloudLogError("CloudSDK: unable to link; app isn't registered for correct URL scheme (%@)",
                  session->appScheme());
    return;
  }
  const std::string nonce = foundation::makeUuid();
  const auto& defaults = session->userDefaults();
  (void)defaults->setString(kCloudLinkNonceKey, nonce);
  (void)defaults->synchronize();

  ui::Application& app = ui::Application::shared();
  const std::string serviceApp =
      std::string(kCloudServiceAppScheme) + "://" + std::string(kCloudAPIVersion) + "/connect";
  if (app.canOpenURL(serviceApp)) {
    (void)app.openURL(cloudServiceAppURL(*session, nonce, userId));
    return;
  }
  auto login = std::make_shared<CloudConnectController>(cloudWebLoginURL(*session, nonce, userId),
                                                        &presenting, session);
  auto navigation = std::make_shared<ui::NavigationController>(login);
  if (ui::device().isPad()) {
    login->setModalPresentationStyle(ui::ModalPresentationStyle::kFormSheet);
    navigation->setModalPresentationStyle(ui::ModalPresentationStyle::kFormSheet);
  }
  presenting.presentViewController(navigation, true);
}

std::string CloudSession::appScheme() const {
  return "cloud-" + baseCredentials_[kOAuthCredentialConsumerKey].stringOr("");
}

foundation::Dictionary CloudSession::parseURLParams(std::string_view query) {
  foundation::Dictionary params;
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view piece = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    size_t eq = piece.find('=');
    if (eq == std::string_view::npos) continue;
    if (auto value = removePercentEscapes(piece.substr(eq + 1)))
      params.set(std::string(piece.substr(0, eq)), *value);
  }
  return params;
}

bool CloudSession::handleOpenURL(std::string_view url) {
  const std::string prefix = appScheme() + "://" + std::string(kCloudAPIVersion) + "/";
  if (!url.starts_with(prefix)) return false;

  // The path starts at the "/" after the host and runs to the query or the fragment.
  std::string_view rest = url.substr(prefix.size());
  size_t end = rest.find_first_of("?#");
  std::string_view path = rest.substr(0, end);
  std::string_view query;
  if (end != std::string_view::npos && rest[end] == '?') {
    query = rest.substr(end + 1);
    query = query.substr(0, query.find('#'));
  }
  // The first component after "/", skipping empty ones as the platform's path components do.
  while (path.starts_with('/')) path.remove_prefix(1);
  std::string_view raw = path.substr(0, path.find('/'));
  std::string action = removePercentEscapes(raw).value_or(std::string(raw));

  if (action == "connect") {
    foundation::Dictionary params = parseURLParams(query);
    std::optional<std::string> nonce = userDefaults_->stringForKey(kCloudLinkNonceKey);
    userDefaults_->removeObjectForKey(kCloudLinkNonceKey);
    (void)userDefaults_->synchronize();
    std::optional<std::string> state = param(params, "state");
    if (!nonce || nonce->empty() || !state || *state != *nonce) {
      CloudLogError("unable to verify link request");
      return false;
    }
    auto token = param(params, "oauth_token");
    auto secret = param(params, "oauth_token_secret");
    auto uid = param(params, "uid");
    if (!token || !secret || !uid) {
      // A verified answer without a complete token cannot link anyone.
      CloudLogError("CloudSDK: link answer without credentials");
      return false;
    }
    updateAccessTokenAccessTokenSecretForUserId(*token, *secret, *uid);
    return true;
  }
  if (action == "cancel") {
    CloudLogInfo("CloudSDK: user cancelled Cloud link");
    return true;
  }
  return true;
}

}  // namespace cloud
