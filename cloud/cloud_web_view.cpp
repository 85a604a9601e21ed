#include "cloud/cloud_web_view.h"

#include <cctype>

#include "cloud/cloud_request.h"
#include "platform/net/http.h"

namespace cloud {
namespace {

// Scheme, then "//" authority; the rest of the text is path, query and fragment.
struct UrlParts {
  std::string_view scheme;
  std::string_view authority;
  std::string_view rest;
};

std::optional<UrlParts> split(std::string_view url) {
  size_t colon = url.find(':');
  if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
  for (size_t i = 0; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
  }
  UrlParts parts{url.substr(0, colon), {}, url.substr(colon + 1)};
  if (parts.rest.starts_with("//")) {
    std::string_view after = parts.rest.substr(2);
    size_t end = after.find_first_of("/?#");
    parts.authority = after.substr(0, end);
    parts.rest = end == std::string_view::npos ? std::string_view() : after.substr(end);
  }
  return parts;
}

foundation::Error webError(std::string domain, std::int64_t code, std::string description) {
  return foundation::Error::make(std::move(domain), code, std::move(description));
}

}  // namespace

std::string urlScheme(std::string_view url) {
  auto parts = split(url);
  if (!parts) return {};
  std::string scheme(parts->scheme);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme;
}

std::vector<std::string> cloudPathComponents(std::string_view url) {
  auto parts = split(url);
  std::string_view path = parts ? parts->rest : url;
  path = path.substr(0, path.find_first_of("?#"));
  std::vector<std::string> components;
  if (path.starts_with('/')) components.emplace_back("/");
  while (!path.empty()) {
    size_t slash = path.find('/');
    std::string_view segment = path.substr(0, slash);
    if (!segment.empty()) components.emplace_back(segment);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  }
  return components;
}

std::optional<std::string> resolveLocation(std::string_view base, std::string_view location) {
  if (split(location)) return std::string(location);
  if (!location.starts_with('/') || location.starts_with("//")) return std::nullopt;
  auto parts = split(base);
  if (!parts || parts->authority.empty()) return std::nullopt;
  return std::string(parts->scheme) + "://" + std::string(parts->authority) + std::string(location);
}

CloudWebView::CloudWebView() = default;
CloudWebView::~CloudWebView() = default;

void CloudWebView::loadRequest(const WebRequest& request) {
  if (!ask(request, WebViewNavigationType::kOther)) return;
  start(request, 0);
}

void CloudWebView::followLink(std::string_view url) {
  std::string target =
      request_ ? resolveLocation(request_->url, url).value_or(std::string(url)) : std::string(url);
  WebRequest request{target, request_ ? request_->timeoutSeconds : 20, 0};
  if (!ask(request, WebViewNavigationType::kLinkClicked)) return;
  start(request, 0);
}

void CloudWebView::stopLoading() { connection_.reset(); }

std::string CloudWebView::stringByEvaluatingJavaScriptFromString(std::string_view script) {
  scripts_.emplace_back(script);
  return {};
}

bool CloudWebView::ask(const WebRequest& request, WebViewNavigationType type) {
  // The delegate may drop the last owner of this view (a screen that dismisses itself).
  auto keep = shared_from_this();
  return delegate_ == nullptr || delegate_->webViewShouldStartLoadWithRequest(*this, request, type);
}

void CloudWebView::fail(foundation::Error error) {
  auto keep = shared_from_this();
  connection_.reset();
  if (delegate_) delegate_->webViewDidFailLoadWithError(*this, error);
}

void CloudWebView::start(const WebRequest& request, int redirects) {
  auto keep = shared_from_this();
  if (connection_) {
    connection_.reset();
    if (delegate_)
      delegate_->webViewDidFailLoadWithError(
          *this, webError(std::string(kWebKitErrorDomain), kWebKitErrorFrameLoadInterrupted,
                          "Frame load interrupted"));
  }
  request_ = request;
  if (urlScheme(request.url) != "https") {
    return fail(webError(std::string(net::kURLErrorDomain), net::kURLErrorUnsupportedURL, "unsupported URL"));
  }
  if (redirects == 0 && delegate_) delegate_->webViewDidStartLoad(*this);

  net::HttpRequest http;
  http.url = request.url;
  http.timeoutSeconds = request.timeoutSeconds;
  http.anchorCertificates = CloudService::current().anchorCertificates;
  if (http.anchorCertificates.empty()) http.anchorCertificates = CloudRequest::rootCertificates();
  http.maxBodyInMemory = std::int64_t{4} << 20;
  std::weak_ptr<View> weak = shared_from_this();
  net::HttpCallbacks callbacks;
  callbacks.completion = [this, weak, redirects](foundation::Result<net::HttpResponse> result) {
    auto self = weak.lock();
    if (!self) return;
    // The connection is done; drop it only after this callback has returned.
    auto done = std::move(connection_);
    if (!result) return fail(result.error());
    const net::HttpResponse& response = result.value();
    auto location = response.header("Location");
    if (response.status >= 300 && response.status < 400 && location) {
      auto next = resolveLocation(request_->url, *location);
      if (!next) {
        return fail(webError(std::string(net::kURLErrorDomain), net::kURLErrorRedirectToNonExistentLocation,
                             "redirect to an unusable location"));
      }
      if (redirects + 1 > kCloudWebViewMaxRedirects) {
        return fail(webError(std::string(net::kURLErrorDomain), net::kURLErrorHTTPTooManyRedirects,
                             "too many redirects"));
      }
      WebRequest nextRequest{*next, request_->timeoutSeconds, request_->cachePolicy};
      if (!ask(nextRequest, WebViewNavigationType::kOther)) {
        return fail(webError(std::string(kWebKitErrorDomain), kWebKitErrorFrameLoadInterrupted,
                             "Frame load interrupted"));
      }
      return start(nextRequest, redirects + 1);
    }
    page_ = response.body;
    status_ = response.status;
    if (delegate_) delegate_->webViewDidFinishLoad(*this);
  };
  connection_ = net::HttpConnection::start(std::move(http), std::move(callbacks));
}

}  // namespace cloud
