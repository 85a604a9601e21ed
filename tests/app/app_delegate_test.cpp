// The application delegate's launch on phone and tablet, the reminder alert, the cloud login
// hand-back and the lifecycle.
#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include "app_delegate_fixture.h"
#include "platform/foundation/log.h"
#include "platform/graphics/color.h"

namespace app_delegate_test {
namespace {

using foundation::Dictionary;
using foundation::Value;

ui::LocalNotification reminder(Dictionary userInfo, std::string alertBody = "") {
  ui::LocalNotification n;
  n.userInfo = std::move(userInfo);
  n.alertBody = std::move(alertBody);
  return n;
}

// --- Launch -----------------------------------------------------------------------------------------

TEST_F(AppDelegateTest, LaunchOnThePhoneStartsTheServicesButNotTheStore) {
  auto root = std::make_shared<RootStandIn>();
  delegate().setScreenShotState(3);
  delegate().setScreenShotLang(4);
  delegate().setScreenShotScreenNum(5);
  EXPECT_TRUE(launch(root));

  auto& app = ui::Application::shared();
  EXPECT_EQ(app::AppDelegate::shared(), &delegate());
  EXPECT_EQ(app.state(), ui::ApplicationState::kActive);
  EXPECT_EQ(app.keyWindow(), delegate().window());
  ASSERT_NE(delegate().window(), nullptr);
  EXPECT_EQ(delegate().window()->rootViewController(), root.get());
  EXPECT_TRUE(delegate().window()->isVisible());
  EXPECT_EQ(delegate().window()->backgroundColor(),
            graphics::Color(0.9803921580314636, 0.9764705896377563, 0.9921568632125854, 1));

  const auto& bar = ui::NavigationBar::appearance();
  EXPECT_EQ(bar.backgroundImageName, "iPhone_nav_bar");
  EXPECT_EQ(bar.tintColor, graphics::Color::white());
  EXPECT_EQ(bar.barTintColor, graphics::Color::white());
  EXPECT_EQ(bar.titleColor, graphics::Color::white());
  ASSERT_TRUE(bar.titleFont.has_value());
  EXPECT_EQ(bar.titleFont->name(), "AvenirNext-Medium");
  EXPECT_EQ(bar.titleFont->pointSize(), 18.0);
  EXPECT_EQ(app.statusBarStyle(), ui::StatusBarStyle::kLightContent);

  ASSERT_NE(delegate().babysLocalSaves(), nullptr);
  EXPECT_EQ(delegate().babysLocalSaves()->home().root(), home_.root());
  // A first launch: step 0, and no tutorial file written.
  EXPECT_EQ(delegate().tutorialState(), 0);
  EXPECT_FALSE(files::exists(home_.library() / "Settings" / "tutorialStatus.txt"));
  EXPECT_EQ(delegate().screenShotState(), 0);
  EXPECT_EQ(delegate().screenShotLang(), 0);
  EXPECT_EQ(delegate().screenShotScreenNum(), 0);

  auto settings = analytics::TallyGlobalVariableStorage::sharedInstance();
  EXPECT_EQ(settings->userID(), ui::device().identifierForVendor);
  EXPECT_EQ(settings->appVersion(), "2.2");
  EXPECT_FALSE(settings->crashReportingEnabled());
  auto session = analyticsSession();
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->apiKey(), app::kAnalyticsApiKey);
  EXPECT_EQ(app::kAnalyticsApiKey.size(), 20u);
  for (char c : app::kAnalyticsApiKey) EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) << c;

  auto cloud = cloud::CloudSession::sharedSession();
  ASSERT_NE(cloud, nullptr);
  EXPECT_EQ(cloud->root(), "sandbox");
  EXPECT_EQ(cloud->appScheme(), "cloud-qwv3rtnpa8sdkmz");
  EXPECT_EQ(cloud->baseCredentials()["kOAuthCredentialConsumerSecret"], Value("hxb7ytrefo2lmcu"));

  // The phone leaves the root screen and the store alone; the first request builds the store.
  EXPECT_TRUE(root->calls.empty());
  EXPECT_FALSE(files::exists(storeFile()));
  auto context = delegate().managedObjectContext();
  ASSERT_NE(context, nullptr);
  EXPECT_FALSE(context->isReadOnly());
  EXPECT_TRUE(files::exists(storeFile()));
  EXPECT_EQ(delegate().managedObjectContext(), context);
  EXPECT_EQ(delegate().persistentStoreCoordinator()->path(), storeFile());
  EXPECT_EQ(delegate().managedObjectModel(), app::managedObjectModel());
  EXPECT_EQ(delegate().applicationDocumentsDirectory(), home_.documents());
}

TEST_F(AppDelegateTest, HelpersMadeAfterTheLaunchFindTheDelegatesStore) {
  launch();
  EXPECT_FALSE(files::exists(storeFile()));
  app::NoteEditHelper helper;
  auto valueType = helper.getValueType("Sleep");
  ASSERT_TRUE(valueType);
  EXPECT_EQ(valueType.object()->context(), delegate().managedObjectContext().get());
  EXPECT_TRUE(files::exists(storeFile()));

  // Once the delegate is gone, helpers reach no store.
  delegate_.reset();
  EXPECT_FALSE(app::NoteEditHelper().getValueType("Sleep"));
}

TEST_F(PadAppDelegateTest, LaunchOnTheTabletHandsTheRootScreenTheStoreAndTheFileStore) {
  auto root = std::make_shared<RootStandIn>();
  EXPECT_TRUE(launch(root));
  EXPECT_EQ(root->calls, (std::vector<std::string>{"setShouldChooseTheLanguage", "setManagedObjectContext",
                                                   "setLocSaves"}));
  // German has its texts in the bundle.
  EXPECT_EQ(root->shouldChooseTheLanguage, false);
  ASSERT_NE(root->context, nullptr);
  EXPECT_EQ(root->context, delegate().managedObjectContext());
  EXPECT_EQ(root->saves, delegate().babysLocalSaves());
  EXPECT_TRUE(files::exists(storeFile()));
  EXPECT_TRUE(root->cloudSessionWhenHandedTheStore);
  EXPECT_TRUE(root->analyticsStartedWhenHandedTheStore);
}

TEST_F(PadAppDelegateTest, ALanguageWithoutTextsMakesTheTabletOpenTheLanguageScreenFirst) {
  // Only the first language counts; none at all asks as well.
  for (std::vector<std::string> languages :
       {std::vector<std::string>{"it", "de"}, std::vector<std::string>{}}) {
    delegate_.reset();
    ui::Application::shared().reset();
    useLanguages(languages);
    auto root = std::make_shared<RootStandIn>();
    launch(root);
    EXPECT_EQ(root->shouldChooseTheLanguage, true);
  }
}

TEST_F(PadAppDelegateTest, ARootScreenThatTakesNothingIsLeftAloneAndTheStoreWaits) {
  auto root = std::make_shared<ui::ViewController>();
  EXPECT_TRUE(launch(root));
  EXPECT_FALSE(files::exists(storeFile()));
  // Without any root screen as well.
  delegate_.reset();
  ui::Application::shared().reset();
  storyboard_.setInitialViewControllerIdentifier("");
  EXPECT_TRUE(launch());
  EXPECT_EQ(delegate().window()->rootViewController(), nullptr);
  EXPECT_FALSE(files::exists(storeFile()));
}

TEST_F(PadAppDelegateTest, ALaunchByAReminderShowsItsAlertAfterEverythingElseIsSetUp) {
  auto root = std::make_shared<RootStandIn>();
  ui::Application::shared().setApplicationIconBadgeNumber(4);
  Dictionary options{{std::string(ui::kLaunchOptionsLocalNotificationKey),
                      reminder(Dictionary{{"type", "Sleep"}, {"babyName", "Anna"}}).toValue()}};
  EXPECT_TRUE(launch(root, options));

  EXPECT_EQ(root->calls.size(), 3u);
  EXPECT_EQ(root->alertsWhenHandedTheStore, 0u);
  auto alert = ui::topAlert();
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->title(), "Erinnerung");
  EXPECT_EQ(alert->message(), "Schlaf (Anna)");
  EXPECT_EQ(ui::Application::shared().applicationIconBadgeNumber(), 0);
}

// --- The reminder alert ------------------------------------------------------------------------------

TEST_F(AppDelegateTest, TheReminderAlertNamesTheTypeAndTheBabyOrTheAlertBody) {
  launch();
  struct Case {
    Dictionary info;
    std::string body;
    std::string message;
  };
  const std::vector<Case> cases = {
      {Dictionary{{"type", "Sleep"}, {"babyName", "Anna"}}, "Zeit", "Schlaf (Anna)"},
      {Dictionary{{"type", "Sleep"}, {"babyName", ""}}, "Zeit zum Schlafen", "Schlaf (Zeit zum Schlafen)"},
      {Dictionary{{"type", "Sleep"}}, "Zeit zum Schlafen", "Schlaf (Zeit zum Schlafen)"},
      {Dictionary{{"type", "Sleep"}, {"babyName", 42}}, "", "Schlaf"},
      {Dictionary{{"type", "Sleep"}, {"babyName", ""}}, "", "Schlaf"},
      // A type the table lacks shows its key; names are shown as they are, "%" and all.
      {Dictionary{{"type", "Walk"}, {"babyName", "Ben 100% (2)"}}, "", "Walk (Ben 100% (2))"},
  };
  for (const auto& c : cases) {
    ui::removeAllAlerts();
    ui::Application::shared().setApplicationIconBadgeNumber(3);
    delegate().appReminderReceiveLaunchedApp(ui::Application::shared(), reminder(c.info, c.body), false);
    auto alert = ui::topAlert();
    ASSERT_NE(alert, nullptr) << c.message;
    EXPECT_EQ(ui::shownAlerts().size(), 1u);
    EXPECT_EQ(alert->title(), "Erinnerung");
    EXPECT_EQ(alert->message(), c.message);
    EXPECT_EQ(alert->numberOfButtons(), 1);
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->buttonTitleAtIndex(0), "Gut");
    EXPECT_EQ(alert->tag(), 0);
    EXPECT_EQ(alert->delegate(), &delegate());
    EXPECT_EQ(ui::Application::shared().applicationIconBadgeNumber(), 0);
  }
}

TEST_F(AppDelegateTest, AReminderWithoutATypeTextShowsNothingButClearsTheBadge) {
  launch();
  const std::vector<Dictionary> infos = {
      Dictionary{},
      Dictionary{{"babyName", "Anna"}},
      Dictionary{{"type", ""}, {"babyName", "Anna"}},
      Dictionary{{"type", 7}, {"babyName", "Anna"}},
      // The table gives this type an empty text.
      Dictionary{{"type", "Silent"}, {"babyName", "Anna"}},
  };
  for (const auto& info : infos) {
    ui::Application::shared().setApplicationIconBadgeNumber(9);
    delegate().appReminderReceiveLaunchedApp(ui::Application::shared(), reminder(info, "body"), true);
    EXPECT_TRUE(ui::shownAlerts().empty()) << Value(info).description();
    EXPECT_EQ(ui::Application::shared().applicationIconBadgeNumber(), 0);
  }
}

TEST_F(AppDelegateTest, AReminderFiredWhileRunningIsShownAndItsButtonTellsTheReminderList) {
  launch();
  Observed came(app::kReminderDidComeNotification);
  ui::Application::shared().presentLocalNotificationNow(
      reminder(Dictionary{{"type", "Sleep"}, {"babyName", "Mia"}}));
  auto alert = ui::topAlert();
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->message(), "Schlaf (Mia)");
  EXPECT_EQ(came.count(), 0u);
  EXPECT_TRUE(alert->tapButton(0));
  ASSERT_EQ(came.count(), 1u);
  EXPECT_EQ(came.senders[0], &delegate());
  EXPECT_TRUE(ui::shownAlerts().empty());
}

TEST_F(AppDelegateTest, AnAlertOutlivingTheDelegateNoLongerPointsAtIt) {
  launch();
  delegate().appReminderReceiveLaunchedApp(ui::Application::shared(), reminder(Dictionary{{"type", "Sleep"}}),
                                           false);
  auto alert = ui::topAlert();
  ASSERT_NE(alert, nullptr);
  delegate_.reset();
  EXPECT_EQ(alert->delegate(), nullptr);
  EXPECT_EQ(ui::Application::shared().delegate(), nullptr);
  EXPECT_TRUE(alert->tapButton(0));
}

TEST_F(AppDelegateTest, RegisteringTheNotificationSettingsTellsTheReminderList) {
  launch();
  Observed status(app::kUpdateNotificationsStatusInfoNotification);
  ui::Application::shared().registerUserNotificationSettings();
  EXPECT_EQ(status.count(), 0u);
  loop_.runUntilIdle();
  ASSERT_EQ(status.count(), 1u);
  EXPECT_EQ(status.senders[0], &delegate());
}

// --- The cloud login hand-back -------------------------------------------------------------------------

class HandBackTest : public AppDelegateTest {
 protected:
  void SetUp() override {
    launch();
    ASSERT_TRUE(defaults_->setString(cloud::kCloudLinkNonceKey, "N0NCE").ok());
  }
  static std::string connect(std::string_view state) {
    return "cloud-qwv3rtnpa8sdkmz://1/connect?oauth_token=tok&oauth_token_secret=sec&uid=77&state=" +
           std::string(state);
  }
  Observed linked_{app::kCloudLinkedEventNotification};
};

TEST_F(HandBackTest, AURLTheSessionRejectsIsNotTakenAndPostsNothing) {
  foundation::ScopedLogCapture log;
  for (std::string url :
       {"https://www.example.com/connect", "cloud-otherkey0000000://1/connect?state=N0NCE", ""}) {
    EXPECT_FALSE(ui::Application::shared().handleOpenURL(url)) << url;
  }
  // An answer to another attempt: the session refuses it.
  EXPECT_FALSE(ui::Application::shared().handleOpenURL(connect("OTHER")));
  EXPECT_EQ(linked_.count(), 0u);
  EXPECT_FALSE(log.contains("App linked successfully!"));
  EXPECT_FALSE(cloud::CloudSession::sharedSession()->isLinked());
}

TEST_F(HandBackTest, ATakenURLThatLinksNobodyAnswersYesWithoutPosting) {
  foundation::ScopedLogCapture log;
  EXPECT_TRUE(ui::Application::shared().handleOpenURL("cloud-qwv3rtnpa8sdkmz://1/cancel"));
  EXPECT_EQ(linked_.count(), 0u);
  EXPECT_FALSE(log.contains("App linked successfully!"));
}

TEST_F(HandBackTest, AVerifiedLinkPostsTheEventAndSaysSo) {
  foundation::ScopedLogCapture log;
  EXPECT_TRUE(ui::Application::shared().handleOpenURL(connect("N0NCE")));
  ASSERT_EQ(linked_.count(), 1u);
  EXPECT_EQ(linked_.senders[0], nullptr);
  EXPECT_TRUE(log.contains("App linked successfully!"));
  EXPECT_EQ(cloud::CloudSession::sharedSession()->userIds(), std::vector<std::string>{"77"});
}

TEST_F(AppDelegateTest, WithoutACloudSessionNoURLIsTaken) {
  delegate();
  Observed linked(app::kCloudLinkedEventNotification);
  EXPECT_FALSE(delegate().handleOpenURL(ui::Application::shared(), "cloud-qwv3rtnpa8sdkmz://1/cancel"));
  EXPECT_EQ(linked.count(), 0u);
}

// --- The lifecycle
// ------------------------------------------------------------------------------------------

TEST_F(AppDelegateTest, ResigningActiveSavesTheChanges) {
  launch();
  auto context = delegate().managedObjectContext();
  app::Baby::insertIn(*context).setBaby_Name("Anna");
  ui::Application::shared().resignActive();
  EXPECT_FALSE(context->hasChanges());
  EXPECT_EQ(savedBabyNames(), std::vector<std::string>{"Anna"});
}

TEST_F(AppDelegateTest, TerminatingSavesTheChanges) {
  launch();
  auto context = delegate().managedObjectContext();
  app::Baby::insertIn(*context).setBaby_Name("Ben");
  ui::Application::shared().terminate();
  EXPECT_FALSE(context->hasChanges());
  EXPECT_EQ(savedBabyNames(), std::vector<std::string>{"Ben"});
}

TEST_F(AppDelegateTest, TheOtherLifecycleEventsLeaveTheChangesAlone) {
  launch();
  auto& app = ui::Application::shared();
  auto context = delegate().managedObjectContext();
  app::Baby::insertIn(*context).setBaby_Name("Cleo");
  delegate().didEnterBackground(app);
  delegate().willEnterForeground(app);
  delegate().didBecomeActive(app);
  EXPECT_TRUE(context->hasChanges());
  EXPECT_TRUE(savedBabyNames().empty());
}

TEST_F(AppDelegateTest, ResigningBeforeAnyoneAskedForTheStoreDoesNotOpenIt) {
  launch();
  ui::Application::shared().enterBackground();
  ui::Application::shared().enterForeground();
  ui::Application::shared().terminate();
  EXPECT_FALSE(files::exists(storeFile()));
  EXPECT_TRUE(delegate().saveContext().ok());
  EXPECT_FALSE(files::exists(storeFile()));
}

}  // namespace
}  // namespace app_delegate_test
