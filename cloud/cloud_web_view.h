#pragma once
// The login screen's web view: the least browser a plain login page needs. It loads pages of the
// cloud service over HTTPS, trusting only the service's anchor set (CloudService::current()), reads
// them with the login page reader (html_page.h) and shows them as platform views on opaque white:
// text as labels top to bottom, links as blue buttons, fields as boxed text fields (passwords as
// bullets) that take the keyboard when tapped, submit buttons that send their form.
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
// through fails as an unsupported URL. A tapped link loads as a clicked link, a submitted form as a
// submitted form (GET with the fields as the query, or POST with them as a form-encoded body); a
// redirect after either is fetched with GET. Pages are never run; scripts are recorded.
// Callbacks run on the main run loop. Trust model: pages and redirects are outside input; a
// Location is resolved against the page's URL and must be an absolute or path-absolute reference.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cloud/html_page.h"
#include "platform/foundation/error.h"
#include "platform/ui/text_input.h"
#include "platform/ui/view.h"

namespace net {
class HttpConnection;
}
namespace ui {
class ScrollView;
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
  // "GET", or "POST" with the body in the content type (a submitted form).
  std::string method = "GET";
  std::string body = {};
  std::string contentType = {};
};

inline constexpr std::string_view kFormContentType = "application/x-www-form-urlencoded";

// The scheme of a URL text in lower case ("HTTPS://x" gives "https"); empty when it has none.
std::string urlScheme(std::string_view url);
// The path's components as the platform lists them: "/" first for an absolute path, then each
// non-empty segment ("https://h/1/connect_login?k=v" gives "/", "1", "connect_login").
std::vector<std::string> cloudPathComponents(std::string_view url);
// A redirect's Location resolved against the URL it answered: an absolute URL stays as it is, a
// path-absolute one ("/x") takes the base's scheme and authority; nothing for any other form.
std::optional<std::string> resolveLocation(std::string_view base, std::string_view location);
// A link's or a form action's reference resolved against the page's URL: besides what
// resolveLocation takes, "" (the page itself), "?query", "#fragment" and a relative path (against
// the page's folder); nothing for a scheme-relative "//host" or a base without an authority.
std::optional<std::string> resolveReference(std::string_view base, std::string_view reference);

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

class CloudWebView : public ui::View, private ui::TextFieldDelegate {
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
  // The user submits a form of the page (by its index in page().forms), with the fields as typed
  // and the name and value of the submit button used, when it has a name.
  void submitForm(size_t form, std::string_view submitName = {}, std::string_view submitValue = {});
  // Shows the page as if it had been loaded from the base URL (its links and forms resolve against
  // it), interrupting a running load; the delegate hears of the start and the finish.
  void loadHTMLString(std::string html, std::string baseUrl);
  // Cancels a running load without telling the delegate.
  void stopLoading();
  bool isLoading() const { return connection_ != nullptr; }

  // The request of the page shown (or being loaded) and the page's text.
  const std::optional<WebRequest>& request() const { return request_; }
  const std::string& pageText() const { return page_; }
  long pageStatus() const { return status_; }
  // The page as read and shown.
  const HtmlPage& page() const { return shown_; }
  // The text field shown for a field of a form; null for a hidden field or one not shown.
  ui::TextField* fieldView(size_t form, size_t field) const;

  // Scripts are not run; each is recorded and answers the empty text.
  std::string stringByEvaluatingJavaScriptFromString(std::string_view script);
  const std::vector<std::string>& evaluatedScripts() const { return scripts_; }

  void layoutSubviews() override;

 private:
  struct ShownField {
    size_t form = 0;
    size_t field = 0;
    std::shared_ptr<ui::TextField> view;
  };
  // Replaces the views of the page shown with those of `shown_`.
  void showPage();
  // Return in a field sends its form, as its first submit button would.
  bool textFieldShouldReturn(ui::TextField& field) override;
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
  HtmlPage shown_;
  std::shared_ptr<ui::ScrollView> content_;
  // One view a block of shown_ (null for a block past what is shown), and the fields among them.
  std::vector<std::shared_ptr<ui::View>> blockViews_;
  std::vector<ShownField> fields_;
};

}  // namespace cloud
