#include "cloud/cloud_connect_controller.h"

#include <cmath>

#include "cloud/cloud_link.h"
#include "cloud/cloud_log.h"
#include "cloud/cloud_request.h"
#include "platform/net/http.h"
#include "platform/runtime/bundle.h"
#include "platform/ui/animation.h"
#include "platform/ui/application.h"

namespace cloud {
namespace {

constexpr double kLoginTimeoutSeconds = 20.0;
constexpr int kReturnCacheDataElseLoad = 2;

// The "embed_title" query value of a URL, escapes removed; nothing when there is none.
std::optional<std::string> embedTitle(std::string_view url) {
  size_t question = url.find('?');
  if (question == std::string_view::npos) return std::nullopt;
  std::string_view query = url.substr(question + 1);
  query = query.substr(0, query.find('#'));
  const foundation::Dictionary params = CloudSession::parseURLParams(query);
  const std::string* title = params["embed_title"].string();
  if (title == nullptr || title->empty()) return std::nullopt;
  return *title;
}

// The Foundation version number of the system the device profile runs: 993.0 is system 6.1, the
// last whose screens never extend under the bars; every later system has a higher number.
double foundationVersionNumber() {
  // The platform's numbers: 6.0 is 992.0, 6.1 is 993.0, 7.0 is 1047.20, 8.0 is 1140.11.
  const double system = ui::device().systemVersionNumber();
  if (system >= 8.0) return 1140.11;
  if (system >= 7.0) return 1047.20;
  return system >= 6.1 ? 993.0 : 992.0;
}

std::string localized(std::string_view key) {
  auto bundle = runtime::Bundle::main();
  return bundle ? bundle->localizedStringForKey(key, "", "") : std::string(key);
}

}  // namespace

WebRequest CloudConnectController::requestForUrl(std::string url) {
  return WebRequest{
      .url = std::move(url), .timeoutSeconds = kLoginTimeoutSeconds, .cachePolicy = kReturnCacheDataElseLoad};
}

CloudConnectController::CloudConnectController(std::string url, ui::ViewController* rootController)
    : CloudConnectController(std::move(url), rootController, CloudSession::sharedSession()) {}

CloudConnectController::CloudConnectController(std::string url, ui::ViewController* rootController,
                                               std::shared_ptr<CloudSession> session)
    : CloudConnectController(requestForUrl(std::move(url)), rootController, std::move(session)) {}

CloudConnectController::CloudConnectController(WebRequest request, ui::ViewController* rootController,
                                               std::shared_ptr<CloudSession> session)
    : rootController_(rootController),
      session_(std::move(session)),
      url_(request.url),
      request_(std::move(request)) {
  setTitle("Cloud");
  cancelItem_ =
      ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::kCancel, [this](ui::BarButtonItem&) {
        // The tap may end this screen's life: keep it until the action is over.
        auto keep = shared_from_this();
        cancel();
      });
  navigationItem().setRightBarButtonItem(cancelItem_);
  // Systems after 6.1 would lay the page under the navigation bar.
  if (foundationVersionNumber() > 993.0) setEdgesForExtendedLayout(ui::kRectEdgeNone);
}

CloudConnectController::~CloudConnectController() {
  setAlertView(nullptr);
  dropWebView();
}

void CloudConnectController::viewDidLoad() {
  auto root = view();
  root->setBackgroundColor(graphics::Color::rgb(241 / 255.0, 249 / 255.0, 1.0));
  root->setOpaque(true);
  const ui::Rect bounds = root->bounds();

  // A grey indicator, centred, 20 points above the middle, turning until the page covers it.
  activityIndicator_ = std::make_shared<ui::ActivityIndicatorView>(ui::ActivityIndicatorViewStyle::kGray);
  const ui::Size side = activityIndicator_->frame().size;
  activityIndicator_->setFrame(graphics::Rect{std::floor(bounds.size.width / 2 - side.width / 2),
                                              std::floor(bounds.size.height / 2 - side.height / 2 - 20),
                                              side.width, side.height});
  activityIndicator_->setAutoresizingMask(ui::kFlexibleLeftMargin | ui::kFlexibleRightMargin |
                                          ui::kFlexibleTopMargin | ui::kFlexibleBottomMargin);
  root->addSubview(activityIndicator_);
  activityIndicator_->startAnimating();

  webView_ = std::make_shared<CloudWebView>();
  webView_->setFrame(bounds);
  webView_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  webView_->setScalesPageToFit(true);
  webView_->setDataDetectorTypes(0);
  webView_->setHidden(true);
  webView_->setDelegate(this);
  root->addSubview(webView_);
  loadRequest();
}

void CloudConnectController::viewDidUnload() { dropWebView(); }

void CloudConnectController::dropWebView() {
  if (!webView_) return;
  webView_->stopLoading();
  webView_->setDelegate(nullptr);
  webView_->removeFromSuperview();
  webView_.reset();
}

void CloudConnectController::loadRequest() {
  if (webView_) webView_->loadRequest(request_);
}

bool CloudConnectController::shouldAutorotateToInterfaceOrientation(ui::Orientation orientation) const {
  if (ui::device().isPad()) return true;
  // On the phone the login screen turns as the screen under it does.
  return rootController_ ? rootController_->shouldAutorotateToInterfaceOrientation(orientation)
                         : ui::ViewController::shouldAutorotateToInterfaceOrientation(orientation);
}

void CloudConnectController::cancelAnimated(bool animated) {
  auto keep = shared_from_this();
  dismissAnimated(animated);
  const std::string scheme = session_ ? session_->appScheme() : std::string("cloud-");
  (void)openUrl(scheme + "://" + std::string(kCloudAPIVersion) + "/cancel");
}

void CloudConnectController::dismissAnimated(bool animated) {
  if (webView_) webView_->stopLoading();
  ui::ViewController* shown = navigationController();
  if (shown == nullptr) shown = this;
  shown->dismissViewControllerAnimated(animated);
}

bool CloudConnectController::openUrl(const std::string& url) {
  ui::Application& app = ui::Application::shared();
  if (app.delegate() == nullptr) {
    CloudLogError(
        "CloudSDK: app delegate does not implement application:openURL:sourceApplication:annotation:");
    return false;
  }
  (void)app.handleOpenURL(url);
  return true;
}

bool CloudConnectController::webViewShouldStartLoadWithRequest(CloudWebView&, const WebRequest& request,
                                                               WebViewNavigationType) {
  auto keep = shared_from_this();
  const std::string scheme = urlScheme(request.url);
  if (session_ && scheme == urlScheme(session_->appScheme() + ":")) {
    if (openUrl(request.url) && !session_->isLinked()) {
      CloudLogError(
          "CloudSDK: credentials not saved. Make sure you call -[CloudSession handleOpenUrl:] in your app "
          "delegate's application:openURL:sourceApplication:annotation: method");
    }
    dismissAnimated(true);
    return false;
  }
  if (scheme == "itms-apps") {
    (void)ui::Application::shared().openURL(request.url);
    cancelAnimated(false);
    return false;
  }
  if (cloudPathComponents(request.url) == cloudPathComponents(url_)) return true;

  ui::NavigationController* navigation = navigationController();
  if (navigation == nullptr) return false;
  auto next = std::make_shared<CloudConnectController>(request, rootController_, session_);
  next->setTitle(embedTitle(request.url).value_or(title()));
  next->navigationItem().setRightBarButtonItem(nullptr);
  navigation->pushViewController(next, true);
  return false;
}

void CloudConnectController::webViewDidStartLoad(CloudWebView&) {
  if (auto* observer = CloudRequest::networkRequestDelegate()) observer->networkRequestStarted();
}

void CloudConnectController::webViewDidFinishLoad(CloudWebView& webView) {
  (void)webView.stringByEvaluatingJavaScriptFromString(
      "document.documentElement.style.webkitTouchCallout = \"none\";");
  (void)webView.stringByEvaluatingJavaScriptFromString(
      "document.documentElement.style.webkitUserSelect = \"none\";");
  webView.setFrame(view()->bounds());
  // The page fades in, speeding up.
  webView.setAlpha(0);
  webView.setHidden(false);
  ui::animate(0.25, 0, ui::AnimationCurve::kEaseIn, [&webView] { webView.setAlpha(1); });
  hasLoaded_ = true;
  if (auto* observer = CloudRequest::networkRequestDelegate()) observer->networkRequestStopped();
}

void CloudConnectController::webViewDidFailLoadWithError(CloudWebView&, const foundation::Error& error) {
  if (auto* observer = CloudRequest::networkRequestDelegate()) observer->networkRequestStopped();
  const bool urlDomain = error.domain == net::kURLErrorDomain;
  if ((error.domain == kWebKitErrorDomain && error.code == kWebKitErrorFrameLoadInterrupted) ||
      (urlDomain && error.code == net::kURLErrorCancelled)) {
    return;
  }
  CloudLogWarning("CloudSDK: error loading CloudConnectController - %@", error.description());
  std::string title = "Unknown Error Occurred";
  std::string message = "There was an error loading Cloud. Please try again.";
  if (urlDomain && error.code == net::kURLErrorNotConnectedToInternet) {
    title = "No internet connection";
    message = "Try again once you have an internet connection.";
  } else if (urlDomain &&
             (error.code == net::kURLErrorTimedOut || error.code == net::kURLErrorCannotConnectToHost)) {
    title = "Internet connection lost";
    message = "Please try again.";
  }
  std::shared_ptr<ui::AlertView> alert;
  if (hasLoaded_) {
    alert = ui::AlertView::create(localized(title), localized(message), nullptr, std::nullopt, {"OK"});
  } else {
    alert = ui::AlertView::create(localized(title), localized(message), this, "Cancel", {"Retry"});
  }
  setAlertView(alert);
  alert->show();
}

void CloudConnectController::alertViewClickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) {
  auto keep = shared_from_this();
  if (buttonIndex == alert.cancelButtonIndex()) {
    ui::NavigationController* navigation = navigationController();
    if (navigation != nullptr && navigation->viewControllers().size() >= 2) {
      (void)navigation->popViewControllerAnimated(true);
    } else {
      cancel();
    }
  } else {
    loadRequest();
  }
  setAlertView(nullptr);
}

void CloudConnectController::setAlertView(std::shared_ptr<ui::AlertView> alert) {
  if (alertView_ && alertView_ != alert) alertView_->setDelegate(nullptr);
  alertView_ = std::move(alert);
}

}  // namespace cloud
