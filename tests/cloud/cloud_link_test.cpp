// The link flow end to end against the stand-in service: through the service's own application and
// through the login screen, the hand-back through the application delegate, and hostile hand-backs.
#include "cloud/cloud_link.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>

#include "cloud/cloud_connect_controller.h"
#include "cloud/cloud_keychain.h"
#include "cloud/cloud_request.h"
#include "cloud/cloud_rest_client.h"
#include "platform/files/app_home.h"
#include "platform/foundation/log.h"
#include "platform/net/http.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/user_defaults.h"
#include "platform/ui/animation.h"
#include "platform/ui/alert.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"
#include "platform/ui/render.h"
#include "platform/ui/text_input.h"
#include "platform/ui/touch.h"
#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace cloud {
namespace {

constexpr const char* kKey = "qwv3rtnpa8sdkmz";
constexpr const char* kSecret = "hxb7ytrefo2lmcu";

TEST(CloudKeyCheckValue, LastFourDigestBytesInHexWithoutLeadingZeros) {
  EXPECT_EQ(cloudKeyCheckValue(kSecret), "ef963cbf");
  EXPECT_EQ(cloudKeyCheckValue(""), "afd80709");
  EXPECT_EQ(cloudKeyCheckValue("k362"), "fa548");
}

// Hands every URL to the session, as the application's delegate does, and keeps them.
struct HandingDelegate : ui::ApplicationDelegate {
  std::shared_ptr<CloudSession> session;
  std::vector<std::string> urls;
  bool handleOpenURL(ui::Application&, const std::string& url) override {
    urls.push_back(url);
    return session && session->handleOpenURL(url);
  }
};

class CloudLinkFlowTest : public ::testing::Test {
 protected:
  explicit CloudLinkFlowTest(testing_support::CloudServer::Options options = {})
      : server_(dir_ / "server", std::move(options)), home_(dir_ / "home") {
    CloudService::setCurrent({server_.host(), server_.host(), server_.host(), {server_.rootCertificate()}});
    CloudKeychain::configure(std::make_shared<security::Keychain>(home_), "org.example.diary");
    writeBundle({std::string("cloud-") + kKey});
    defaults_ = std::make_shared<runtime::UserDefaults>(dir_ / "defaults.plist");
    session_ = std::make_shared<CloudSession>(kKey, kSecret, "sandbox", defaults_);
    app().reset();
    delegate_.session = session_;
    app().setDelegate(&delegate_);
    presenting_ = std::make_shared<ui::ViewController>();
  }
  ~CloudLinkFlowTest() override {
    presenting_.reset();
    ui::removeAllAlerts();
    app().reset();
    runtime::Bundle::setMain(previousBundle_);
    CloudKeychain::configure(nullptr, "");
    CloudService::setCurrent({});
  }

  static ui::Application& app() { return ui::Application::shared(); }
  static runtime::RunLoop& loop() { return runtime::RunLoop::main(); }

  void writeBundle(const std::vector<std::string>& schemes) {
    const auto root = dir_ / "bundle";
    std::filesystem::create_directories(root);
    std::ofstream out(root / "Info.plist", std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>org.example.diary</string>"
           "<key>CFBundleURLTypes</key><array><dict><key>CFBundleURLSchemes</key><array>";
    for (const auto& scheme : schemes) out << "<string>" << scheme << "</string>";
    out << "</array></dict></array></dict></plist>\n";
    out.close();
    auto previous = runtime::Bundle::setMain(std::make_shared<runtime::Bundle>(root));
    if (!previousBundle_) previousBundle_ = previous;
  }

  // The login screen the link flow presented, once its view is up.
  CloudConnectController* presentedLogin() {
    auto* navigation = dynamic_cast<ui::NavigationController*>(presenting_->presentedViewController());
    if (navigation == nullptr) return nullptr;
    auto* login = dynamic_cast<CloudConnectController*>(navigation->topViewController());
    if (login) (void)login->view();
    return login;
  }

  bool storedUser(const std::string& uid) {
    auto stored = CloudKeychain::credentials();
    if (!stored) return false;
    const foundation::Array* users = (*stored)[kCloudUserCredentialsKey].array();
    if (!users) return false;
    for (const auto& user : *users)
      if (user.dictionary() && (*user.dictionary())[kCloudUserIdKey].stringOr("") == uid) return true;
    return false;
  }

  testing_support::TempDir dir_;
  testing_support::CloudServer server_;
  files::AppHome home_;
  std::shared_ptr<runtime::Bundle> previousBundle_;
  std::shared_ptr<runtime::UserDefaults> defaults_;
  std::shared_ptr<CloudSession> session_;
  HandingDelegate delegate_;
  std::shared_ptr<ui::ViewController> presenting_;
};

TEST_F(CloudLinkFlowTest, ThroughTheServicesOwnApplication) {
  linkFromController(session_, *presenting_);
  ASSERT_EQ(app().openedURLs().size(), 1u);
  const std::string opened = app().openedURLs()[0];
  const std::string nonce = defaults_->stringForKey(kCloudLinkNonceKey).value_or("");
  EXPECT_EQ(nonce.size(), 36u);
  EXPECT_EQ(opened, "cloudapi-2://1/connect?k=" + std::string(kKey) + "&s=ef963cbf&state=" + nonce);
  EXPECT_EQ(presenting_->presentedViewController(), nullptr);

  auto answer = server_.serviceAppAnswer(opened);
  ASSERT_TRUE(answer);
  EXPECT_TRUE(app().handleOpenURL(*answer));
  ASSERT_TRUE(session_->isLinked());
  EXPECT_TRUE(storedUser(session_->userIds()[0]));
  EXPECT_FALSE(defaults_->stringForKey(kCloudLinkNonceKey));
  // A wrong key check value is refused by the service.
  EXPECT_FALSE(server_.serviceAppAnswer("cloudapi-2://1/connect?k=" + std::string(kKey) + "&s=0&state=x"));
}

TEST_F(CloudLinkFlowTest, ThroughTheLoginScreenWithAUserHint) {
  app().setOpenableSchemes(std::vector<std::string>{"https"});
  linkUserIdFromController(session_, "12345", *presenting_);
  EXPECT_TRUE(app().openedURLs().empty());
  CloudConnectController* login = presentedLogin();
  ASSERT_NE(login, nullptr);
  EXPECT_TRUE(login->url().ends_with("&easl=1&u=12345"));
  EXPECT_EQ(login->title(), "Cloud");
  // The system's Cancel item; the page is not laid under the bar.
  ASSERT_TRUE(login->cancelItem());
  EXPECT_EQ(login->navigationItem().rightBarButtonItem(), login->cancelItem());
  EXPECT_EQ(login->cancelItem()->systemItem(), ui::BarButtonSystemItem::kCancel);
  EXPECT_EQ(login->edgesForExtendedLayout(), ui::kRectEdgeNone);
  // A grey indicator turns 20 points above the middle until the page shows.
  ui::ActivityIndicatorView* indicator = login->activityIndicator();
  ASSERT_NE(indicator, nullptr);
  EXPECT_EQ(indicator->activityIndicatorViewStyle(), ui::ActivityIndicatorViewStyle::kGray);
  EXPECT_TRUE(indicator->isAnimating());
  EXPECT_FALSE(indicator->isHidden());
  const ui::Rect bounds = login->view()->bounds();
  EXPECT_EQ(indicator->frame().size, ui::Size(20, 20));
  // (Its flexible margins share out the change when the screen's view is sized after loading.)
  EXPECT_NEAR(indicator->center().x, bounds.width() / 2, 1);
  EXPECT_NEAR(indicator->center().y, bounds.height() / 2 - 20, 3);

  // The page redirects to the application's scheme; the screen hands it back and goes.
  ASSERT_TRUE(loop().runUntil([&] { return session_->isLinked(); }, 30));
  loop().runUntilIdle();
  EXPECT_TRUE(storedUser(session_->userIds()[0]));
  ASSERT_EQ(delegate_.urls.size(), 1u);
  EXPECT_TRUE(delegate_.urls[0].starts_with(session_->appScheme() + "://1/connect?"));
  EXPECT_EQ(presenting_->presentedViewController(), nullptr);

  // The service accepts the linked user's signed requests.
  struct Account : CloudRestClientDelegate {
    std::string uid;
    void restClientLoadedAccountInfo(Client&, const std::shared_ptr<const CloudAccountInfo>& a) override {
      uid = a->userId().value_or("");
    }
  } account;
  auto client = CloudRestClient::make(session_, loop());
  client->setDelegate(&account);
  client->loadAccountInfo();
  EXPECT_TRUE(loop().runUntil([&] { return !account.uid.empty(); }, 30));
  EXPECT_EQ(account.uid, session_->userIds()[0]);
}

TEST_F(CloudLinkFlowTest, UnknownUserSendsNoHintAndAnUndeclaredSchemeLinksNothing) {
  linkUserIdFromController(session_, std::string(kCloudUnknownUserId), *presenting_);
  ASSERT_EQ(app().openedURLs().size(), 1u);
  EXPECT_EQ(app().openedURLs()[0].find("&u="), std::string::npos);

  writeBundle({"cloud-another"});
  defaults_->removeObjectForKey(kCloudLinkNonceKey);
  foundation::ScopedLogCapture log;
  linkFromController(session_, *presenting_);
  EXPECT_EQ(app().openedURLs().size(), 1u);
  EXPECT_EQ(presenting_->presentedViewController(), nullptr);
  EXPECT_FALSE(defaults_->stringForKey(kCloudLinkNonceKey));
  ASSERT_FALSE(log.messages().empty());
  EXPECT_NE(
      log.messages().back().find("app isn't registered for correct URL scheme (cloud-" + std::string(kKey)),
      std::string::npos);
}

TEST(CloudLoginScreen, StaysOutFromUnderTheTranslucentBarOnSystemsAfter61) {
  const ui::DeviceProfile saved = ui::device();
  for (const char* version : {"6.1", "7.0"}) {
    ui::DeviceProfile profile = saved;
    profile.systemVersion = version;
    ui::setDevice(profile);
    // Before 7.0 the kit's default keeps it below the bar; from 7.0 on the screen asks for it.
    auto login = std::make_shared<CloudConnectController>("https://example.com/", nullptr, nullptr);
    auto navigation = std::make_shared<ui::NavigationController>(login);
    navigation->navigationBar().setTranslucent(true);
    (void)navigation->view();
    EXPECT_EQ(login->edgesForExtendedLayout(), ui::kRectEdgeNone) << version;
    EXPECT_EQ(login->view()->frame().y(), navigation->navigationBar().frame().maxY()) << version;
  }
  ui::setDevice(saved);
}

TEST_F(CloudLinkFlowTest, LoginScreenCancelAndPagesElsewhere) {
  // A page that leads elsewhere stacks a new screen with the page's title and no Cancel button.
  auto navigation = std::make_shared<ui::NavigationController>(std::make_shared<CloudConnectController>(
      "https://" + server_.host() + "/1/connect_login?k=x", presenting_.get(), session_));
  presenting_->presentViewController(navigation, false);
  auto* login = dynamic_cast<CloudConnectController*>(navigation->topViewController());
  ASSERT_NE(login, nullptr);
  (void)login->view();
  ASSERT_TRUE(loop().runUntil([&] { return login->hasLoaded(); }, 30));  // a 403 page is still a page
  login->webView()->followLink("/1/help?embed_title=Help%20page");
  ASSERT_EQ(navigation->viewControllers().size(), 2u);
  auto* pushed = dynamic_cast<CloudConnectController*>(navigation->topViewController());
  ASSERT_NE(pushed, nullptr);
  EXPECT_EQ(pushed->title(), "Help page");
  EXPECT_FALSE(pushed->navigationItem().rightBarButtonItem());
  // The same path loads in place.
  login->webView()->followLink("/1/connect_login?k=y");
  EXPECT_EQ(navigation->viewControllers().size(), 2u);
  EXPECT_TRUE(login->webView()->isLoading());

  // Cancel dismisses the whole flow and reports the cancel URL.
  login->navigationItem().rightBarButtonItem()->tap();
  loop().runUntilIdle();
  EXPECT_EQ(presenting_->presentedViewController(), nullptr);
  ASSERT_EQ(delegate_.urls.size(), 1u);
  EXPECT_EQ(delegate_.urls[0], session_->appScheme() + "://1/cancel");
  EXPECT_FALSE(session_->isLinked());
}

TEST_F(CloudLinkFlowTest, AFailedFirstPageOffersRetryAndCancel) {
  CloudService service = CloudService::current();
  service.webHost = "127.0.0.1:1";  // nothing listens there
  CloudService::setCurrent(service);
  app().setOpenableSchemes(std::vector<std::string>{});
  linkFromController(session_, *presenting_);
  CloudConnectController* login = presentedLogin();
  ASSERT_NE(login, nullptr);
  ASSERT_TRUE(loop().runUntil([&] { return login->alertView() != nullptr; }, 30));
  auto alert = login->alertView();
  EXPECT_EQ(alert->title(), "Internet connection lost");
  ASSERT_EQ(alert->numberOfButtons(), 2);
  EXPECT_EQ(alert->buttonTitleAtIndex(1), "Retry");
  EXPECT_TRUE(alert->tapButton(1));
  EXPECT_EQ(login->alertView(), nullptr);
  ASSERT_TRUE(loop().runUntil([&] { return login->alertView() != nullptr; }, 30));
  EXPECT_TRUE(login->alertView()->tapButton(login->alertView()->cancelButtonIndex()));
  loop().runUntilIdle();
  EXPECT_EQ(presenting_->presentedViewController(), nullptr);
  ASSERT_EQ(delegate_.urls.size(), 1u);
  EXPECT_TRUE(delegate_.urls[0].ends_with("://1/cancel"));
}

// The login page's alerts and its Cancel item speak the language chosen in the diary, whatever the
// system's: the application's bundle, made as the program makes it, follows "AppleLanguages".
TEST_F(CloudLinkFlowTest, LoginFailuresSpeakTheDiarysLanguageNotTheSystems) {
  struct Case {
    const char* system;  // LANG
    const char* chosen;  // the language screen's choice
    bool dropped;        // the server drops the page's connection, else nothing listens
    const char* title;
    const char* message;
    const char* cancel;  // the navigation bar's system item
  };
  const Case cases[] = {
      {"en_US.UTF-8", "ru", false, "Подключение к Интернету потеряно", "Повторите попытку.", "Отменить"},
      {"ru_RU.UTF-8", "en", true, "Unknown Error Occurred", "There was an error loading Cloud. Please try again.",
       "Cancel"},
  };
  const char* const variables[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG", "DIARY_RESOURCES"};
  std::vector<std::optional<std::string>> saved;
  for (const char* name : variables) {
    const char* value = std::getenv(name);
    saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    ::unsetenv(name);
  }
  for (const char* language : {"en", "ru"})
    std::filesystem::copy(testing_support::resourcesFolder() / (std::string(language) + ".lproj"),
                          dir_ / "bundle" / (std::string(language) + ".lproj"));
  ::setenv("DIARY_RESOURCES", (dir_ / "bundle").c_str(), 1);
  app().setOpenableSchemes(std::vector<std::string>{});
  const CloudService reachable = CloudService::current();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen);
    ::setenv("LANG", c.system, 1);
    runtime::Bundle::setMain(nullptr);  // made anew on this system
    auto standard = std::make_shared<runtime::UserDefaults>(dir_ / (std::string(c.chosen) + ".plist"));
    ASSERT_TRUE(standard->setArray(runtime::UserDefaults::kAppleLanguagesKey,
                                   {foundation::Value(c.chosen), runtime::systemPreferredLanguages().front()})
                    .ok());
    auto previousDefaults = runtime::UserDefaults::setStandard(standard);
    CloudService service = reachable;
    if (c.dropped)
      server_.setFault(testing_support::CloudServer::Fault::DropConnection, 1);
    else
      service.webHost = "127.0.0.1:1";
    CloudService::setCurrent(service);

    linkFromController(session_, *presenting_);
    CloudConnectController* login = presentedLogin();
    ASSERT_NE(login, nullptr);
    EXPECT_EQ(login->cancelItem()->title(), c.cancel);
    ASSERT_TRUE(loop().runUntil([&] { return login->alertView() != nullptr; }, 30));
    EXPECT_EQ(login->alertView()->title(), c.title);
    EXPECT_EQ(login->alertView()->message(), c.message);
    EXPECT_TRUE(login->alertView()->tapButton(login->alertView()->cancelButtonIndex()));
    loop().runUntilIdle();
    EXPECT_EQ(presenting_->presentedViewController(), nullptr);
    runtime::UserDefaults::setStandard(previousDefaults);
  }
  for (size_t i = 0; i < std::size(variables); ++i)
    saved[i] ? ::setenv(variables[i], saved[i]->c_str(), 1) : ::unsetenv(variables[i]);
}

TEST_F(CloudLinkFlowTest, LoadFailuresPickTheirAlert) {
  struct Case {
    std::string domain;
    std::int64_t code;
    bool afterAPage;
    std::string title;  // empty: no alert
    int buttons;
  };
  const std::string url(net::kURLErrorDomain);
  const Case cases[] = {
      {url, net::kURLErrorCancelled, false, "", 0},
      {std::string(kWebKitErrorDomain), kWebKitErrorFrameLoadInterrupted, true, "", 0},
      {url, net::kURLErrorNotConnectedToInternet, false, "No internet connection", 2},
      {url, net::kURLErrorTimedOut, true, "Internet connection lost", 1},
      {"OtherDomain", net::kURLErrorTimedOut, false, "Unknown Error Occurred", 2},
  };
  auto webView = std::make_shared<CloudWebView>();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ui::removeAllAlerts();
    auto login = std::make_shared<CloudConnectController>(
        "https://" + server_.host() + "/1/connect_login?k=x", presenting_.get(), session_);
    if (c.afterAPage) {
      (void)login->view();
      ASSERT_TRUE(loop().runUntil([&] { return login->hasLoaded(); }, 30));
    }
    login->webViewDidFailLoadWithError(*webView, foundation::Error(c.domain, c.code));
    auto shown = ui::shownAlerts();
    if (c.title.empty()) {
      EXPECT_TRUE(shown.empty());
      continue;
    }
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]->title(), c.title);
    EXPECT_EQ(shown[0]->numberOfButtons(), c.buttons);
    EXPECT_EQ(shown[0]->delegate(), c.afterAPage ? nullptr : login.get());
  }
}

// A screen that turns to landscape only, standing in for one that does not stay upright.
struct LandscapeScreen : ui::ViewController {
  bool shouldAutorotateToInterfaceOrientation(ui::Orientation orientation) const override {
    return ui::isLandscape(orientation);
  }
};

// On a tablet the login screen turns to any side; on a phone it answers as the screen that presented
// the flow does (a navigation controller answering for its top screen).
TEST(CloudConnectControllerRotation, TabletAnySidePhoneAsThePresentingScreen) {
  using O = ui::Orientation;
  struct Case {
    std::string name;
    ui::DeviceProfile device;
    std::string presenter;  // "plain", "landscape", "navigation of landscape", "none"
    std::vector<O> turns;   // of portrait, upside down, landscape right, landscape left
  };
  const Case cases[] = {
      {"tablet", ui::DeviceProfile::pad(), "plain",
       {O::kPortrait, O::kPortraitUpsideDown, O::kLandscapeRight, O::kLandscapeLeft}},
      {"phone, upright presenter", ui::DeviceProfile::phone568(), "plain", {O::kPortrait}},
      {"phone, landscape presenter", ui::DeviceProfile::phone667(), "landscape",
       {O::kLandscapeRight, O::kLandscapeLeft}},
      {"phone, its navigation controller", ui::DeviceProfile::phone568(), "navigation of landscape",
       {O::kLandscapeRight, O::kLandscapeLeft}},
      {"phone, no presenter", ui::DeviceProfile::phone568(), "none", {O::kPortrait}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui::ScopedDevice device(c.device);
    std::shared_ptr<ui::ViewController> presenter;
    if (c.presenter == "plain") presenter = std::make_shared<ui::ViewController>();
    if (c.presenter == "landscape") presenter = std::make_shared<LandscapeScreen>();
    if (c.presenter == "navigation of landscape")
      presenter = std::make_shared<ui::NavigationController>(std::make_shared<LandscapeScreen>());
    CloudConnectController login("https://127.0.0.1:1/1/connect_login", presenter.get(), nullptr);
    std::vector<O> turns;
    for (O o : {O::kPortrait, O::kPortraitUpsideDown, O::kLandscapeRight, O::kLandscapeLeft})
      if (login.shouldAutorotateToInterfaceOrientation(o)) turns.push_back(o);
    EXPECT_EQ(turns, c.turns);
  }
}

// The stand-in service asks for an email and a password on a sign-in page before it hands back.
class CloudLoginFormTest : public CloudLinkFlowTest {
 protected:
  static testing_support::CloudServer::Options withLoginForm() {
    testing_support::CloudServer::Options options;
    options.loginForm = true;
    return options;
  }
  CloudLoginFormTest() : CloudLinkFlowTest(withLoginForm()) {}

  template <class T>
  static void collect(ui::View& view, std::vector<T*>& out) {
    if (auto* t = dynamic_cast<T*>(&view)) out.push_back(t);
    for (const auto& sub : view.subviews()) collect(*sub, out);
  }
  static ui::TextField* field(ui::View& root, const std::string& placeholder) {
    std::vector<ui::TextField*> fields;
    collect(root, fields);
    for (auto* f : fields)
      if (f->placeholder() == placeholder) return f;
    return nullptr;
  }
  static ui::Button* button(ui::View& root, const std::string& title) {
    std::vector<ui::Button*> buttons;
    collect(root, buttons);
    for (auto* b : buttons)
      if (b->currentTitle() == title) return b;
    return nullptr;
  }
  // A finger on the middle of the view, hit-tested from the top of its tree as the screen does;
  // answers whether the view itself took it.
  static bool tapOn(ui::View& view) {
    ui::View* root = &view;
    while (root->superview()) root = root->superview();
    const ui::Point point = view.convertPointToView(view.bounds().center(), root);
    return ui::TouchInjector(*root).tap(point) == &view;
  }
  static bool showsText(ui::View& root, const std::string& text) {
    std::vector<ui::Label*> labels;
    collect(root, labels);
    return std::any_of(labels.begin(), labels.end(), [&](ui::Label* l) { return l->text() == text; });
  }
};

// A person links through the sign-in page: the page shows its texts and fields on white over the
// spinner, a submit left empty shows the page again, and the filled-in form links the session.
TEST_F(CloudLoginFormTest, APersonSignsInThroughTheLoginPage) {
  app().setOpenableSchemes(std::vector<std::string>{});
  ui::setAnimationMode(ui::AnimationMode::kPlayed);
  linkFromController(session_, *presenting_);
  CloudConnectController* login = presentedLogin();
  ASSERT_NE(login, nullptr);
  ASSERT_TRUE(loop().runUntil([&] { return login->hasLoaded(); }, 30));
  CloudWebView& web = *login->webView();
  EXPECT_FALSE(web.isHidden());
  // The page fades in over a quarter second, slowly at first.
  EXPECT_LT(ui::presentedAlpha(web), 0.5);
  EXPECT_TRUE(loop().runUntil([] { return !ui::animationsPlaying(); }, 5));
  EXPECT_EQ(ui::presentedAlpha(web), 1);
  ui::setAnimationMode(ui::AnimationMode::kAtOnce);
  EXPECT_EQ(web.backgroundColor(), graphics::Color::white());
  EXPECT_TRUE(web.isOpaque());
  EXPECT_EQ(web.page().title, "Sign in & link");
  EXPECT_TRUE(showsText(web, "Welcome back"));
  EXPECT_TRUE(showsText(web, "Email"));
  EXPECT_FALSE(showsText(web, "<b>never</b>"));  // the script in the head is skipped
  ui::TextField* email = field(web, "you@example.com");
  ui::TextField* password = field(web, "Your password");
  ui::Button* signIn = button(web, "Sign in");
  ASSERT_TRUE(email && password && signIn);
  EXPECT_TRUE(password->isSecureTextEntry());
  EXPECT_EQ(email->keyboardType(), ui::KeyboardType::kEmailAddress);
  // Laid out top to bottom, inside the view.
  const ui::Rect emailFrame = email->convertRectToView(email->bounds(), &web);
  const ui::Rect passwordFrame = password->convertRectToView(password->bounds(), &web);
  EXPECT_LT(emailFrame.maxY(), passwordFrame.y());
  EXPECT_LT(passwordFrame.maxY(), signIn->convertRectToView(signIn->bounds(), &web).y());
  EXPECT_LE(signIn->convertRectToView(signIn->bounds(), &web).maxY(), web.bounds().height());
  const auto pictures = testing_support::testOutput() / "cloud_login";
  std::filesystem::create_directories(pictures);
  EXPECT_TRUE(ui::renderToPng(*login->view(), pictures / "sign_in.png", 2).ok());

  // Nothing filled in: the service answers with the page again, asking for both.
  server_.clearRequests();
  ASSERT_TRUE(tapOn(*signIn));
  ASSERT_TRUE(loop().runUntil([&] { return showsText(web, "Enter your email and your password."); }, 30));
  ASSERT_FALSE(server_.requests().empty());
  EXPECT_EQ(server_.requests()[0].method, "POST");
  EXPECT_FALSE(session_->isLinked());

  // A tap on a field makes it the one typed into, as the keyboard delivers the text.
  email = field(web, "you@example.com");
  password = field(web, "Your password");
  signIn = button(web, "Sign in");
  ASSERT_TRUE(email && password && signIn);
  ASSERT_TRUE(tapOn(*email));
  EXPECT_TRUE(email->isFirstResponder());
  email->insertText("parent@example.com");
  ASSERT_TRUE(tapOn(*password));
  EXPECT_TRUE(password->isFirstResponder());
  password->insertText("s3cret & more");
  server_.clearRequests();
  ASSERT_TRUE(tapOn(*signIn));
  ASSERT_TRUE(loop().runUntil([&] { return session_->isLinked(); }, 30));
  loop().runUntilIdle();
  const auto seen = server_.requests();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].params.at("login_email"), "parent@example.com");
  EXPECT_EQ(seen[0].params.at("login_password"), "s3cret & more");
  EXPECT_EQ(seen[0].params.at("state").size(), 36u);
  EXPECT_TRUE(storedUser(session_->userIds()[0]));
  EXPECT_EQ(presenting_->presentedViewController(), nullptr);
}

}  // namespace
}  // namespace cloud
