#pragma once
// The login screen: the cloud service's web login page in a web view, inside a navigation
// controller that the link flow presents. The page ends the flow by loading a URL of the
// application's scheme, which this screen hands to the application delegate (as the system would)
// and then dismisses itself; a page that leads elsewhere in the service stacks a further login
// screen; Cancel reports "<scheme>://1/cancel" the same way. Network failures become alerts: before
// the first page, with Retry and Cancel; afterwards with OK only.
//
// Main thread only. The screen holds its session; the presenting screen is not held.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cloud/cloud_session.h"
#include "cloud/cloud_web_view.h"
#include "platform/ui/activity_indicator.h"
#include "platform/ui/alert.h"
#include "platform/ui/view_controller.h"

namespace cloud {

// The bundle identifier of the service's own application, given as the source of the URLs this
// screen hands to the application.
inline constexpr std::string_view kCloudServiceAppBundleIdentifier = "com.cloudstorage.Cloud";

class CloudConnectController : public ui::ViewController,
                               public CloudWebViewDelegate,
                               public ui::AlertViewDelegate {
 public:
  // With the shared session.
  CloudConnectController(std::string url, ui::ViewController* rootController);
  CloudConnectController(std::string url, ui::ViewController* rootController,
                         std::shared_ptr<CloudSession> session);
  CloudConnectController(WebRequest request, ui::ViewController* rootController,
                         std::shared_ptr<CloudSession> session);
  ~CloudConnectController() override;

  // A request for the URL: cached data else load (2), 20 seconds.
  static WebRequest requestForUrl(std::string url);

  // Dismisses (animated as asked), then reports "<scheme>://1/cancel" to the application delegate.
  void cancel() { cancelAnimated(true); }
  void cancelAnimated(bool animated);
  // Stops a running load and dismisses the navigation controller that shows this screen.
  void dismiss() { dismissAnimated(true); }
  void dismissAnimated(bool animated);
  // Hands the URL to the application delegate; false (logged) when the application has none.
  bool openUrl(const std::string& url);
  void loadRequest();

  const std::string& url() const { return url_; }
  const WebRequest& request() const { return request_; }
  bool hasLoaded() const { return hasLoaded_; }
  CloudWebView* webView() const { return webView_.get(); }
  ui::ActivityIndicatorView* activityIndicator() const { return activityIndicator_.get(); }
  // The system Cancel item this screen was made with (a screen pushed for another page shows none).
  const std::shared_ptr<ui::BarButtonItem>& cancelItem() const { return cancelItem_; }
  const std::shared_ptr<ui::AlertView>& alertView() const { return alertView_; }
  const std::shared_ptr<CloudSession>& session() const { return session_; }
  // Any orientation on a tablet; on a phone, the answer of the screen that presented the flow.
  bool shouldAutorotateToInterfaceOrientation(ui::Orientation orientation) const override;

  void viewDidLoad() override;
  void viewDidUnload();

  bool webViewShouldStartLoadWithRequest(CloudWebView& webView, const WebRequest& request,
                                         WebViewNavigationType type) override;
  void webViewDidStartLoad(CloudWebView& webView) override;
  void webViewDidFinishLoad(CloudWebView& webView) override;
  void webViewDidFailLoadWithError(CloudWebView& webView, const foundation::Error& error) override;
  void alertViewClickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) override;

 private:
  void setAlertView(std::shared_ptr<ui::AlertView> alert);
  void dropWebView();

  bool hasLoaded_ = false;
  std::shared_ptr<ui::AlertView> alertView_;
  ui::ViewController* rootController_ = nullptr;
  std::shared_ptr<CloudSession> session_;
  std::string url_;
  std::shared_ptr<CloudWebView> webView_;
  WebRequest request_;
  std::shared_ptr<ui::ActivityIndicatorView> activityIndicator_;
  std::shared_ptr<ui::BarButtonItem> cancelItem_;
};

}  // namespace cloud
