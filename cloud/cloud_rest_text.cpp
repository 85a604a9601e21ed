// The REST client's text helpers: path escaping and comparison, query strings, the language and
// agent it announces, and the form-encoded token replies of the desktop steps.
#include <cctype>

#include "cloud/cloud_log.h"
#include "cloud/cloud_rest_client.h"
#include "cloud/oauth_escaping.h"
#include "platform/foundation/text.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/user_defaults.h"

namespace cloud {

using foundation::Dictionary;

std::string CloudRestClient::escapePath(std::string_view path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '/') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

std::string CloudRestClient::normalizedCloudPath(std::string_view path) {
  if (path == "/") return "";
  return foundation::text::toLower(foundation::text::toNFC(path));
}

bool CloudRestClient::isEqualToCloudPath(std::string_view a, std::string_view b) {
  return normalizedCloudPath(a) == normalizedCloudPath(b);
}

foundation::Dictionary CloudRestClient::dictionaryWithQueryString(std::string_view query) {
  Dictionary result;
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view piece = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    size_t eq = piece.find('=');
    auto name = stringByReplacingPercentEscapes(piece.substr(0, eq));
    auto value = eq == std::string_view::npos ? foundation::Result<std::string>(std::string())
                                              : stringByReplacingPercentEscapes(piece.substr(eq + 1));
    if (name.ok() && value.ok()) result.set(*name, *value);
  }
  return result;
}

std::string CloudRestClient::urlRepresentation(const foundation::Dictionary& dictionary) {
  std::string out;
  for (const auto& [name, value] : dictionary) {
    if (!out.empty()) out += '&';
    const std::string text = value.string() ? *value.string() : value.description();
    out += stringByAddingURIPercentEscapesUsingEncoding(name) + "=" +
           stringByAddingURIPercentEscapesUsingEncoding(text);
  }
  return out;
}

std::string CloudRestClient::bestLanguage() {
  static const std::string language = [] {
    // The user's languages are the application's preferences ("AppleLanguages": the language screen
    // writes them); the system's own only where those hold none.
    std::vector<std::string> preferred = runtime::UserDefaults::standard()->preferredLanguages();
    if (preferred.empty()) preferred = runtime::systemPreferredLanguages();
    auto bundle = runtime::Bundle::main();
    if (!preferred.empty() && bundle && bundle->hasLocalization(preferred.front())) return preferred.front();
    return std::string("en");
  }();
  return language;
}

std::string CloudRestClient::userAgent() {
  static const std::string agent = [] {
    auto bundle = runtime::Bundle::main();
    std::string name = bundle ? bundle->objectForInfoDictionaryKey("CFBundleDisplayName").stringOr("") : "";
    std::erase(name, ' ');
    std::string version =
        bundle ? bundle->objectForInfoDictionaryKey("CFBundleShortVersionString").stringOr("") : "";
    return name + "/" + version + " OfficialCloudIosSdk/" + std::string(kSDKVersion);
  }();
  return agent;
}

bool CloudRestClient::parseIntoTokenSecretUserId(std::string_view reply, std::string* token,
                                                 std::string* secret, std::string* userId) {
  // Every piece between the "&"s counts, the empty ones too: "a=1&" and "" hold a piece without "=".
  for (bool more = true; more;) {
    size_t amp = reply.find('&');
    std::string_view piece = reply.substr(0, amp);
    more = amp != std::string_view::npos;
    reply = more ? reply.substr(amp + 1) : std::string_view();
    size_t eq = piece.find('=');
    if (eq == std::string_view::npos || piece.find('=', eq + 1) != std::string_view::npos) {
      CloudLogError("CloudRestClient+OSX: error parsing oauth result");
      return false;
    }
    std::string_view name = piece.substr(0, eq);
    std::string value(piece.substr(eq + 1));
    if (name == "oauth_token") {
      *token = value;
    } else if (name == "oauth_token_secret") {
      *secret = value;
    } else if (name == "uid") {
      if (userId) *userId = value;
    } else {
      CloudLogError("CloudRestClient+Cloud: unknown parameter received");
    }
  }
  return true;
}

}  // namespace cloud
