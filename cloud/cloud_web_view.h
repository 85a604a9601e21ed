#pragma once
// The login screen's web view: a headless stand-in that loads pages of the cloud service over
// HTTPS, trusting only the service's anchor set (CloudService::current()).
//
//   loadRequest(url) ─► delegate.shouldStartLoad(url)? ─ no ─► nothing happens
//                         │ yes
//                         ▼
//        didStartLoad, GET ─► 3xx + Location ─► delegate.shouldStartLoad(location)? ─ yes ─► GET …
//                         │                                    │ no
//                         ▼                                    ▼
//        didFinishLoad (any other status: the page)   didFail(WebKitErrorDomain 102)
//
// Every URL that would be loaded, redirects included, goes through the delegate first; the HTTP
// layer follows nothing by itself. Only https URLs are fetched: anything else the delegate lets
// through fails as an unsupported URL. Pages are held as text and never run; scripts are recorded.
// Callbacks run on the main run loop. Trust model: pages and redirects are outside input; a
// Location is resolved against the page's URL and must be an absolute or path-absolute reference.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/ui/view.h"

namespace net {
class HttpConnection;
}

namespace cloud {

inline constexpr std::string_view kWebKitErrorDomain = "WebKitErrorDomain";
// A load interrupted by a new one (or refused by the delegate midway).
inline constexpr std::int64_t kWebKitErrorFrameLoadInterrupted = 102;
// Redirects followed for one load before it fails as too many.
inline constexpr int kCloudWebViewMaxRedirects = 10;

// The platform's navigation types.
enum class WebViewNavigationType {
  kLinkClicked = 0,
  kFormSubmitted = 1,
  kBackForward = 2,
  kReload = 3,
  kFormResubmitted = 4,
  kOther = 5
};

struct WebRequest {
  std::string url;
  double timeoutSeconds = 20;
  // The platform's cache policy (2: cached data else load); kept, not acted on.
  int cachePolicy = 0;
};

// The scheme of a URL text in lower case ("HTTPS://x" gives "https"); empty when it has none.
std::string urlScheme(std::string_view url);
// The path's components as the platform lists them: "/" first for an absolute path, then each
// non-empty segment ("https://h/1/connect_login?k=v" gives "/", "1", "connect_login").
std::vector<std::string> cloudPathComponents(std::string_view url);
// A redirect's Location resolved against the URL it answered: an absolute URL stays as it is, a
// path-absolute one ("/x") takes the base's scheme and authority; nothing for any other form.
std::optional<std::string> resolveLocation(std::string_view base, std::string_view location);

class CloudWebView;

// Non-owning; clear it (setDelegate(nullptr)) before the delegate goes.
class CloudWebViewDelegate {
 public:
  virtual ~CloudWebViewDelegate() = default;
  virtual bool webViewShouldStartLoadWithRequest(CloudWebView& webView, const WebRequest& request,
                                                 WebViewNavigationType type) = 0;
  virtual void webViewDidStartLoad(CloudWebView& /*webView*/) {}
  virtual void webViewDidFinishLoad(CloudWebView& /*webView*/) {}
  virtual void webViewDidFailLoadWithError(CloudWebView& /*webView*/, const foundation::Error& /*error*/) {}
};

class CloudWebView : public ui::View {
 public:
  CloudWebView();
  ~CloudWebView() override;

  CloudWebViewDelegate* delegate() const { return delegate_; }
  void setDelegate(CloudWebViewDelegate* delegate) { delegate_ = delegate; }
  bool scalesPageToFit() const { return scalesPageToFit_; }
  void setScalesPageToFit(bool scales) { scalesPageToFit_ = scales; }
  unsigned dataDetectorTypes() const { return dataDetectorTypes_; }
  void setDataDetectorTypes(unsigned types) { dataDetectorTypes_ = types; }

  // Asks the delegate, then loads (interrupting a running load).
  void loadRequest(const WebRequest& request);
  // The user follows a link of the page: the same, as a clicked link.
  void followLink(std::string_view url);
  // Cancels a running load without telling the delegate.
  void stopLoading();
  bool isLoading() const { return connection_ != nullptr; }

  // The request of the page shown (or being loaded) and the page's text.
  const std::optional<WebRequest>& request() const { return request_; }
  const std::string& pageText() const { return page_; }
  long pageStatus() const { return status_; }

  // Scripts are not run; each is recorded and answers the empty text.
  std::string stringByEvaluatingJavaScriptFromString(std::string_view script);
  const std::vector<std::string>& evaluatedScripts() const { return scripts_; }

 private:
  bool ask(const WebRequest& request, WebViewNavigationType type);
  void start(const WebRequest& request, int redirects);
  void fail(foundation::Error error);

  CloudWebViewDelegate* delegate_ = nullptr;
  bool scalesPageToFit_ = false;
  unsigned dataDetectorTypes_ = 0;
  std::unique_ptr<net::HttpConnection> connection_;
  std::optional<WebRequest> request_;
  std::string page_;
  long status_ = 0;
  std::vector<std::string> scripts_;
};

}  // namespace cloud
