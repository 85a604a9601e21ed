// The application delegate: the launch on phone and tablet, reminders, the cloud login hand-back,
// saving over the application's life, a store that cannot be opened or saved, the restore hooks, and
// the headless diary.
#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/session_sink.h"
#include "analytics/tally.h"
#include "analytics/tally_util.h"
#include "app/entities.h"
#include "app/model.h"
#include "app/note_edit_helper.h"
#include "cloud/cloud_keychain.h"
#include "cloud/cloud_session.h"
#include "file_store_fixture.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uuid.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/user_defaults.h"
#include "platform/security/keychain.h"
#include "platform/store/fetch_request.h"
#include "platform/ui/device.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/view_controller.h"
#include "support/analytics_collector.h"
#include "support/temp_dir.h"

namespace {

using file_store_test::babyNames;
using file_store_test::Names;
using file_store_test::writeStore;
using foundation::Bytes;
using foundation::Dictionary;
using foundation::Value;
using Senders = std::vector<const void*>;

// A stand-in for the tablet's main screen: records what the delegate hands it, and how many alerts
// were up when it got the file store (the launch's last hand-over).
class RootStandIn : public ui::ViewController, public app::RootScreen {
 public:
  void setShouldChooseTheLanguage(bool choose) override { chooseLanguage = choose; }
  void setManagedObjectContext(std::shared_ptr<store::Context> value) override { context = std::move(value); }
  void setLocSaves(std::shared_ptr<app::localSaves> value) override {
    saves = std::move(value);
    alertsWhenHandedTheStore = ui::shownAlerts().size();
  }
  void updateDataBase() override { ++updates; }

  std::optional<bool> chooseLanguage;
  std::shared_ptr<store::Context> context;
  std::shared_ptr<app::localSaves> saves;
  size_t alertsWhenHandedTheStore = 0;
  int updates = 0;
};

// The senders of every notification of one name.
struct Observed {
  explicit Observed(std::string_view name)
      : token(runtime::NotificationCenter::defaultCenter().addObserver(
            std::string(name), nullptr,
            [this](const runtime::Notification& n) { senders.push_back(n.object); })) {}
  Senders senders;
  runtime::ObserverToken token;
};

ui::LocalNotification reminder(Dictionary info, std::string body = "") {
  ui::LocalNotification n;
  n.alertBody = std::move(body);
  n.userInfo = std::move(info);
  return n;
}

void resetProcessServices() {
  ui::removeAllAlerts();
  ui::clearScreenEvents();
  ui::Application::shared().reset();
  analytics::Tally::shutdown();
  // Uploads still in flight are cancelled on the main loop: let that happen before the next test.
  runtime::RunLoop::main().runUntilIdle();
  analytics::CurrentSession::setFactory(nullptr);
  analytics::CurrentSession::clearPreCache();
  analytics::TallyUtil::setLogLevel(0);
  // Uploads are refused at once unless a test gives its own collector.
  analytics::TallyNetworkUtil::setServerURL("http://127.0.0.1:9/ingest.do");
  cloud::CloudSession::setSharedSession(nullptr);
  cloud::CloudKeychain::configure(nullptr, "");
  ui::NavigationBar::appearance() = ui::NavigationBarAppearance{};
  // Back to what helpers use when no application installed anything.
  app::NoteEditHelper::Environment plain;
  plain.library = files::AppHome::fromEnvironment().library();
  app::NoteEditHelper::setApplicationEnvironment(std::move(plain));
}

// A data root and a small bundle (German texts, version 2.2), preferences and a keychain of their
// own, a main run loop on a manual clock, a phone, and every process-wide service reset around.
class AppDelegateTest : public ::testing::Test {
 protected:
  AppDelegateTest() : loop_(clock_), mainLoop_(loop_), device_(ui::DeviceProfile::phone568()) {
    resetProcessServices();
    analytics::TallyUtil::setClock(&clock_);
    const auto root = dir_.path() / "bundle";
    EXPECT_TRUE(files::createDirectory(root / "de.lproj").ok());
    for (const auto& [file, text] : std::vector<std::pair<std::string, std::string_view>>{
             {"Info.plist", R"(<plist version="1.0"><dict><key>CFBundleShortVersionString</key>
                               <string>2.2</string></dict></plist>)"},
             {"de.lproj/Localizable.strings", R"("Reminder" = "Erinnerung"; "OK" = "Gut"; "Sleep" = "Schlaf";
                                                 "Silent" = "";)"}}) {
      EXPECT_TRUE(files::writeAtomic(root / file, text).ok());
    }
    bundle_ = std::make_shared<runtime::Bundle>(root, Names{"de"});
    EXPECT_TRUE(home_.create().ok());
    cloud::CloudKeychain::configure(std::make_shared<security::Keychain>(home_, clock_), "org.example.diary");
  }
  ~AppDelegateTest() override {
    delegate_.reset();
    loop_.runUntilIdle();
    resetProcessServices();
    analytics::TallyUtil::setClock(nullptr);
  }

  // The delegate, made on first use with `languages` as the preferred ones.
  app::AppDelegate& delegate(Names languages = {"de"}) {
    if (!delegate_) {
      defaults_ = std::make_shared<runtime::UserDefaults>(dir_.path() / "prefs.plist", std::move(languages));
      delegate_ = std::make_unique<app::AppDelegate>(
          app::AppDelegate::Environment{home_, bundle_, defaults_, &clock_});
    }
    return *delegate_;
  }
  void dropDelegate() {
    delegate_.reset();
    ui::Application::shared().reset();
  }

  // Launches as the platform does, with `root` as the storyboard's first screen when given.
  bool launch(std::shared_ptr<ui::ViewController> root = nullptr, const Dictionary& options = {}) {
    if (root) {
      storyboard_.registerController("root", [root] { return root; });
      storyboard_.setInitialViewControllerIdentifier("root");
    }
    const bool answer = app::applicationMain(delegate(), &storyboard_, options);
    loop_.runUntilIdle();
    return answer;
  }

  std::filesystem::path storeFile() const { return home_.documents() / "dataBase.sqlite"; }

  // The babies' names as another connection reads them from the file.
  Names savedBabyNames() {
    auto reader = delegate().persistentStoreCoordinator()->newReadOnlyContext();
    EXPECT_TRUE(reader.ok());
    return reader.ok() ? babyNames(**reader) : Names{};
  }

  // The headless diary on `home` (its status, what it wrote and what it said went wrong), with the
  // standard preferences it installs put back afterwards.
  std::tuple<int, std::string, std::string> runDiary(const files::AppHome& home) {
    auto previous = runtime::UserDefaults::setStandard(nullptr);
    std::ostringstream out, err;
    const int status = app::runDiary(home, out, err);
    resetProcessServices();
    runtime::UserDefaults::setStandard(previous);
    return {status, out.str(), err.str()};
  }

  testing_support::TempDir dir_;
  files::AppHome home_{dir_.path() / "home"};
  foundation::ManualClock clock_{foundation::Date{600000000}};
  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop mainLoop_;
  ui::ScopedDevice device_;
  std::shared_ptr<runtime::Bundle> bundle_;
  std::shared_ptr<runtime::UserDefaults> defaults_;
  ui::Storyboard storyboard_;
  std::unique_ptr<app::AppDelegate> delegate_;
};

// --- Launch ------------------------------------------------------------------------------------------

TEST_F(AppDelegateTest, ThePhoneLaunchStartsTheServicesAndBuildsTheStoreOnlyWhenAsked) {
  auto root = std::make_shared<RootStandIn>();
  ASSERT_TRUE(launch(root));

  auto& app = ui::Application::shared();
  EXPECT_EQ(app::AppDelegate::shared(), &delegate());
  EXPECT_EQ(app.state(), ui::ApplicationState::kActive);
  ASSERT_NE(delegate().window(), nullptr);
  EXPECT_EQ(app.keyWindow(), delegate().window());
  EXPECT_EQ(delegate().window()->rootViewController(), root.get());
  EXPECT_TRUE(delegate().window()->isVisible());
  ASSERT_NE(delegate().babysLocalSaves(), nullptr);
  EXPECT_EQ(delegate().babysLocalSaves()->home().root(), home_.root());
  // A first launch: step 0, and no tutorial file written.
  EXPECT_EQ(delegate().tutorialState(), 0);
  EXPECT_FALSE(files::exists(home_.library() / "Settings" / "tutorialStatus.txt"));

  auto settings = analytics::TallyGlobalVariableStorage::sharedInstance();
  EXPECT_EQ(settings->appVersion(), "2.2");
  EXPECT_FALSE(settings->crashReportingEnabled());
  EXPECT_TRUE(analytics::Tally::activeSessionExists());
  auto cloud = cloud::CloudSession::sharedSession();
  ASSERT_NE(cloud, nullptr);
  EXPECT_EQ(std::tuple(cloud->root(), cloud->appScheme()), std::tuple("sandbox", "cloud-qwv3rtnpa8sdkmz"));

  // The phone leaves the root screen alone, and a trip to the background has nothing to save: the
  // store is built by the first request for it.
  app.enterBackground();
  app.enterForeground();
  EXPECT_FALSE(root->chooseLanguage || root->saves);
  EXPECT_FALSE(files::exists(storeFile()));
  auto context = delegate().managedObjectContext();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(delegate().managedObjectContext(), context);
}

TEST_F(AppDelegateTest, TheTabletRootScreenGetsTheLanguageFlagTheStoreAndTheFileStoreBeforeAReminder) {
  ui::ScopedDevice pad(ui::DeviceProfile::pad());
  // A root screen that takes nothing is left alone, and the store waits.
  EXPECT_TRUE(launch(std::make_shared<ui::ViewController>()));
  EXPECT_FALSE(files::exists(storeFile()));
  // German has its texts in the bundle; only the first language counts, and none at all asks too.
  // The reminder that launched the application comes up last, in the interface language.
  const Dictionary byReminder{{std::string(ui::kLaunchOptionsLocalNotificationKey),
                               reminder(Dictionary{{"type", "Sleep"}, {"babyName", "Anna"}}).toValue()}};
  for (const auto& [languages, chooseLanguage, title, message] :
       std::vector<std::tuple<Names, bool, std::string, std::string>>{
           {{"de"}, false, "Erinnerung", "Schlaf (Anna)"},
           {{"it", "de"}, true, "Reminder", "Sleep (Anna)"},
           {{}, true, "Reminder", "Sleep (Anna)"}}) {
    dropDelegate();
    delegate(languages);
    auto root = std::make_shared<RootStandIn>();
    ui::Application::shared().setApplicationIconBadgeNumber(4);
    EXPECT_TRUE(launch(root, byReminder));
    EXPECT_EQ(root->chooseLanguage, chooseLanguage);
    ASSERT_NE(root->context, nullptr);
    EXPECT_EQ(root->context, delegate().managedObjectContext());
    EXPECT_EQ(root->saves, delegate().babysLocalSaves());
    EXPECT_EQ(root->alertsWhenHandedTheStore, 0u);
    ASSERT_EQ(ui::shownAlerts().size(), 1u);
    EXPECT_EQ(std::tuple(ui::topAlert()->title(), ui::topAlert()->message()), std::tuple(title, message));
    EXPECT_EQ(ui::Application::shared().applicationIconBadgeNumber(), 0);
    ui::removeAllAlerts();
  }
}

TEST_F(AppDelegateTest, EachDataRootSendsAVendorIdentifierOfItsOwnOnEveryLaunch) {
  auto sentUserID = [] {
    return analytics::TallyGlobalVariableStorage::sharedInstance()->userID().value_or("");
  };
  const auto idFile = home_.root() / "identifierForVendor";
  launch();
  const std::string first = sentUserID();
  EXPECT_TRUE(foundation::isValidUuid(first) && first != "00000000-0000-0000-0000-000000000000") << first;
  EXPECT_EQ(files::readText(idFile).value(), first + "\n");
  dropDelegate();
  launch();
  EXPECT_EQ(sentUserID(), first);
  const files::AppHome other(dir_.path() / "other");
  EXPECT_NE(ui::identifierForVendor(other).value(), first);

  // Analytics reads the identifier on its own queue: it is stopped first, so only this test touches
  // the record from here on.
  analytics::Tally::shutdown();
  // A damaged record gets a new identifier; a record in lower case is the same identifier.
  for (const auto& [kept, answer] : std::vector<std::pair<std::string, std::string>>{
           {"", ""},
           {"E621E1F8-C36C-495A-93FC", ""},
           {"00000000-0000-0000-0000-000000000000", ""},
           {"e621e1f8-c36c-495a-93fc-0c247a3e6e5f\r\n", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"}}) {
    ASSERT_TRUE(files::writeAtomic(idFile, kept).ok());
    const std::string now = ui::identifierForVendor(home_).value();
    if (!answer.empty()) {
      EXPECT_EQ(now, answer);
      continue;
    }
    EXPECT_TRUE(foundation::isValidUuid(now) && now != first && now != kept) << now;
    EXPECT_EQ(ui::identifierForVendor(home_).value(), now);
  }
  // One that cannot be read is left alone; the launch still sends an identifier nobody shares.
  ASSERT_TRUE(files::remove(idFile).ok());
  ASSERT_TRUE(files::createDirectory(idFile / "inside").ok());
  EXPECT_FALSE(ui::identifierForVendor(home_).ok());
  dropDelegate();
  launch();
  EXPECT_TRUE(foundation::isValidUuid(sentUserID()) && sentUserID() != first) << sentUserID();
  EXPECT_TRUE(files::isDirectory(idFile / "inside"));
}

// --- Reminders ---------------------------------------------------------------------------------------

TEST_F(AppDelegateTest, TheReminderAlertNamesTheTypeAndTheBabyOrTheBodyAndAlwaysClearsTheBadge) {
  launch();
  auto& app = ui::Application::shared();
  const std::vector<std::tuple<Dictionary, std::string, std::string>> cases = {
      // info, body, message
      {Dictionary{{"type", "Sleep"}, {"babyName", "Anna"}}, "Zeit", "Schlaf (Anna)"},
      {Dictionary{{"type", "Sleep"}, {"babyName", ""}}, "Zeit zum Schlafen", "Schlaf (Zeit zum Schlafen)"},
      {Dictionary{{"type", "Sleep"}}, "Zeit", "Schlaf (Zeit)"},
      {Dictionary{{"type", "Sleep"}, {"babyName", 42}}, "", "Schlaf"},
      // A type the table lacks shows its key; names are shown as they are, "%" and all.
      {Dictionary{{"type", "Walk"}, {"babyName", "Ben 100% (2)"}}, "", "Walk (Ben 100% (2))"},
      // Without a type text there is no alert ("Silent" has an empty one).
      {Dictionary{}, "body", ""},
      {Dictionary{{"type", ""}, {"babyName", "Anna"}}, "body", ""},
      {Dictionary{{"type", 7}, {"babyName", "Anna"}}, "body", ""},
      {Dictionary{{"type", "Silent"}, {"babyName", "Anna"}}, "body", ""},
  };
  for (const auto& [info, body, message] : cases) {
    SCOPED_TRACE(Value(info).description());
    ui::removeAllAlerts();
    app.setApplicationIconBadgeNumber(3);
    delegate().appReminderReceiveLaunchedApp(app, reminder(info, body), false);
    EXPECT_EQ(app.applicationIconBadgeNumber(), 0);
    ASSERT_EQ(ui::shownAlerts().size(), message.empty() ? 0u : 1u);
    if (message.empty()) continue;
    auto alert = ui::topAlert();
    EXPECT_EQ(std::tuple(alert->title(), alert->message(), alert->buttonTitleAtIndex(0)),
              std::tuple("Erinnerung", message, "Gut"));
    EXPECT_EQ(alert->delegate(), &delegate());
  }
}

TEST_F(AppDelegateTest, RemindersAndSettingsTellTheReminderListAndNothingKeepsAGoneDelegate) {
  launch();
  auto& app = ui::Application::shared();
  Observed came(app::kReminderDidComeNotification), status(app::kUpdateNotificationsStatusInfoNotification);
  app.presentLocalNotificationNow(reminder(Dictionary{{"type", "Sleep"}, {"babyName", "Mia"}}));
  ASSERT_NE(ui::topAlert(), nullptr);
  EXPECT_EQ(ui::topAlert()->message(), "Schlaf (Mia)");
  EXPECT_TRUE(came.senders.empty());
  EXPECT_TRUE(ui::topAlert()->tapButton(0));
  EXPECT_EQ(came.senders, Senders{&delegate()});
  EXPECT_TRUE(ui::shownAlerts().empty());
  app.registerUserNotificationSettings();
  EXPECT_TRUE(status.senders.empty());
  loop_.runUntilIdle();
  EXPECT_EQ(status.senders, Senders{&delegate()});

  // Helpers made after the launch reach the delegate's store...
  auto valueType = app::NoteEditHelper().getValueType("Sleep");
  ASSERT_TRUE(valueType);
  EXPECT_EQ(valueType.object()->context(), delegate().managedObjectContext().get());
  app.presentLocalNotificationNow(reminder(Dictionary{{"type", "Sleep"}}));
  auto alert = ui::topAlert();
  ASSERT_NE(alert, nullptr);
  // ...but neither they, an alert still up nor the application keep the delegate once it is gone.
  delegate_.reset();
  EXPECT_EQ(alert->delegate(), nullptr);
  EXPECT_EQ(app.delegate(), nullptr);
  EXPECT_TRUE(alert->tapButton(0));
  EXPECT_FALSE(app::NoteEditHelper().getValueType("Sleep"));
}

// --- The cloud login hand-back -----------------------------------------------------------------------

TEST_F(AppDelegateTest, TheCloudHandBackIsTakenWhenTheSessionTakesItAndAnnouncedOnlyWhenLinked) {
  launch();
  auto& app = ui::Application::shared();
  Observed linked(app::kCloudLinkedEventNotification);
  foundation::ScopedLogCapture log;
  const std::string connect =
      "cloud-qwv3rtnpa8sdkmz://1/connect?oauth_token=tok&oauth_token_secret=sec&uid=77&state=";
  // Another scheme, another application's key, nothing, an answer to another attempt.
  ASSERT_TRUE(defaults_->setString(cloud::kCloudLinkNonceKey, "N0NCE").ok());
  for (const std::string& url :
       Names{"https://www.example.com/connect", "cloud-otherkey0000000://1/connect?state=N0NCE", "",
             connect + "OTHER"}) {
    EXPECT_FALSE(app.handleOpenURL(url)) << url;
  }
  // Taken, but nobody was linked.
  EXPECT_TRUE(app.handleOpenURL("cloud-qwv3rtnpa8sdkmz://1/cancel"));
  EXPECT_TRUE(linked.senders.empty());
  EXPECT_FALSE(log.contains("App linked successfully!"));
  // An answer uses up its attempt; the answer to a new one links.
  ASSERT_TRUE(defaults_->setString(cloud::kCloudLinkNonceKey, "N0NCE").ok());
  EXPECT_TRUE(app.handleOpenURL(connect + "N0NCE"));
  EXPECT_EQ(linked.senders, Senders{nullptr});
  EXPECT_TRUE(log.contains("App linked successfully!"));
  EXPECT_EQ(cloud::CloudSession::sharedSession()->userIds(), Names{"77"});
  // Without a session nothing is taken.
  cloud::CloudSession::setSharedSession(nullptr);
  EXPECT_FALSE(app.handleOpenURL("cloud-qwv3rtnpa8sdkmz://1/cancel"));
}

// --- Saving and the store ------------------------------------------------------------------------------

TEST_F(AppDelegateTest, ResignAndTerminateSaveAndAFailedSaveIsLoggedNotFatalAndKeepsTheChanges) {
  launch();
  auto& app = ui::Application::shared();
  auto context = delegate().managedObjectContext();
  ASSERT_NE(context, nullptr);
  // Every new baby is refused by the file, as a full disk would refuse it.
  file_store_test::runSql(
      storeFile(),
      "CREATE TRIGGER refuse BEFORE INSERT ON ZBABY BEGIN SELECT RAISE(ABORT, 'disk is full'); END;");
  app::Baby::insertIn(*context).setBaby_Name("Anna");
  foundation::ScopedLogCapture log;
  int fatalCalls = 0;
  auto previousHook = foundation::setFatalHook([&fatalCalls](std::string_view) { ++fatalCalls; });
  app.resignActive();
  foundation::setFatalHook(previousHook);
  EXPECT_EQ(fatalCalls, 0);
  ASSERT_FALSE(log.messages().empty());
  EXPECT_EQ(log.messages()[0].rfind("Unresolved error Error Domain=", 0), 0u) << log.messages()[0];
  EXPECT_TRUE(log.contains("disk is full"));
  EXPECT_EQ(app.state(), ui::ApplicationState::kInactive);
  EXPECT_TRUE(context->hasChanges());
  EXPECT_EQ(babyNames(*context), Names{"Anna"});
  EXPECT_TRUE(savedBabyNames().empty());
  auto saved = delegate().saveContext();
  ASSERT_FALSE(saved.ok());
  EXPECT_NE(saved.error().description().find("disk is full"), std::string::npos);
  // Once the file takes rows again, the same changes are saved; terminating saves as well.
  app.becomeActive();
  file_store_test::runSql(storeFile(), "DROP TRIGGER refuse;");
  app.resignActive();
  EXPECT_FALSE(context->hasChanges());
  EXPECT_EQ(savedBabyNames(), Names{"Anna"});
  app.becomeActive();
  app::Baby::insertIn(*context).setBaby_Name("Ben");
  app.terminate();
  EXPECT_FALSE(context->hasChanges());
  EXPECT_EQ(savedBabyNames(), (Names{"Anna", "Ben"}));
}

TEST_F(AppDelegateTest, PreReloadLeavesTheSavedFileAloneAndTheNextRequestReadsTheFileThenOnDisk) {
  EXPECT_TRUE(delegate().preReloadDataBase().ok());  // no stack yet: nothing to do
  EXPECT_FALSE(files::exists(storeFile()));
  auto before = delegate().managedObjectContext();
  auto anna = app::Baby::insertIn(*before);
  anna.setBaby_Name("Anna");
  ASSERT_TRUE(delegate().saveContext().ok());
  app::Baby::insertIn(*before).setBaby_Name("Unsaved");
  auto oldStore = delegate().persistentStoreCoordinator();

  ASSERT_TRUE(delegate().preReloadDataBase().ok());
  EXPECT_EQ(anna.object()->context(), nullptr);
  EXPECT_TRUE(oldStore->isClosed());
  EXPECT_TRUE(before->isClosed());
  // The file alone, without its log, holds what was saved.
  ASSERT_TRUE(files::copyFile(storeFile(), dir_.path() / "copy.sqlite").ok());
  auto copy = store::Store::open(dir_.path() / "copy.sqlite", app::managedObjectModel());
  ASSERT_TRUE(copy.ok());
  EXPECT_EQ(babyNames(**(*copy)->newContext()), Names{"Anna"});
  // The restore puts another store in place.
  ASSERT_TRUE(files::remove(storeFile()).ok());
  writeStore(storeFile(), {"Ben", "Cleo"});
  auto after = delegate().managedObjectContext();
  ASSERT_NE(after, nullptr);
  EXPECT_NE(after, before);
  EXPECT_EQ(babyNames(*after), (Names{"Ben", "Cleo"}));
}

TEST_F(AppDelegateTest, UpdateDataBaseEndsTheTutorialAndHasTheRootScreenReadTheStoreAgain) {
  const app::SettingsRecords records(home_);
  ASSERT_TRUE(records.writeFirstLaunchDate(clock_.now()).ok());
  for (bool pad : {false, true}) {
    ui::ScopedDevice device(pad ? ui::DeviceProfile::pad() : ui::DeviceProfile::phone568());
    dropDelegate();
    auto root = std::make_shared<RootStandIn>();
    launch(root);
    delegate().setTutorialState(2);
    Observed update(app::kUpdateDataBaseNotification);
    delegate().updateDataBase();
    EXPECT_EQ(delegate().tutorialState(), -1);
    EXPECT_EQ(records.readTutorialStatus(), app::tutorialStatus(22, -1));
    EXPECT_EQ(update.senders, pad ? Senders{} : Senders{&delegate()});
    EXPECT_EQ(root->updates, pad ? 1 : 0);
  }
}

// The diary's own events reach the analytics service, in the order they were logged and with their
// parameters: a note saved (as the note editor logs it), then the tutorial finished, whose day count
// runs from the first launch.
TEST_F(AppDelegateTest, TheDiarysOwnEventsReachTheAnalyticsServiceInOrder) {
  testing_support::AnalyticsCollector collector;
  ASSERT_TRUE(collector.running());
  analytics::TallyNetworkUtil::setServerURL(collector.ingestUrl());
  const app::SettingsRecords records(home_);
  ASSERT_TRUE(records.writeFirstLaunchDate(clock_.now()).ok());
  launch();
  analytics::Tally::logEventWithParameters("new_Notation_ml",
                                           Dictionary{{"lang", "de"}, {"country", "DE"}, {"type", "Drink"}});
  clock_.set(foundation::Date{records.readFirstLaunchDate()->sinceReference + 10 * 86400 + 5 * 3600});
  delegate().setTutorialState(-1);
  ASSERT_TRUE(delegate().saveTutorialState().ok());
  ui::Application::shared().terminate();

  auto events = [&] {
    std::vector<testing_support::CollectedEvent> all;
    for (const auto& upload : collector.uploads())
      for (const auto& session : upload.sessions)
        all.insert(all.end(), session.events.begin(), session.events.end());
    return all;
  };
  loop_.runUntil([&] { return events().size() >= 2; }, 20);
  analytics::Tally::shutdown();
  auto arrived = events();
  ASSERT_EQ(arrived.size(), 2u);
  EXPECT_EQ(arrived[0].name, "new_Notation_ml");
  EXPECT_EQ(arrived[0].parameters,
            (testing_support::KeyValues{{"lang", "de"}, {"country", "DE"}, {"type", "Drink"}}));
  EXPECT_EQ(arrived[1].name, "tutorial_finished");
  ASSERT_EQ(arrived[1].parameters.size(), 2u);
  EXPECT_EQ(arrived[1].parameters[0], (std::pair<std::string, std::string>("dayNum", "10")));
  EXPECT_EQ(arrived[1].parameters[1].first, "country");
  EXPECT_TRUE(collector.rejected().empty());
}

// --- The headless diary ------------------------------------------------------------------------------

TEST_F(AppDelegateTest, TheDiaryReportsAFreshDataRootAndAStoreWithBabiesAndNotes) {
  const files::AppHome fresh(dir_.path() / "fresh");
  EXPECT_EQ(runDiary(fresh),
            std::tuple(0, "diary: data root " + fresh.root().string() + "\nbabies: 0, notes: 0\n", ""));
  EXPECT_TRUE(files::exists(fresh.documents() / "dataBase.sqlite"));
  // Babies by name; a note of nobody counts among the notes only.
  writeStore(storeFile(), {"Ben", "Anna", "Mia Ö"}, {1, 1, 0, -1});
  EXPECT_EQ(runDiary(home_),
            std::tuple(0,
                       "diary: data root " + home_.root().string() +
                           "\nbabies: 3, notes: 4\n  Anna: 2 notes\n  Ben: 1 note\n  Mia Ö: 0 notes\n",
                       ""));
}

TEST_F(AppDelegateTest, ACorruptStoreIsLoggedLeftByteForByteAndTriedAgainAndTheDiaryEndsWithTwo) {
  Bytes garbage{'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't', ' ', '3', 0};
  for (int i = 0; i < 8192; ++i) garbage.push_back(static_cast<std::uint8_t>((i * 31 + 7) % 256));
  ASSERT_TRUE(files::writeAtomic(storeFile(), garbage).ok());
  {
    foundation::ScopedLogCapture log;
    EXPECT_EQ(delegate().managedObjectContext(), nullptr);
    EXPECT_EQ(delegate().persistentStoreCoordinator(), nullptr);
    EXPECT_TRUE(delegate().storeError().has_value());
    EXPECT_TRUE(log.contains("Unresolved error "));
    EXPECT_TRUE(delegate().saveContext().ok());
  }
  auto [status, out, err] = runDiary(home_);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(out, "diary: data root " + home_.root().string() + "\n");
  EXPECT_NE(err.find("diary: cannot open the data store"), std::string::npos) << err;
  EXPECT_EQ(files::readFile(storeFile()).value(), garbage);
  EXPECT_EQ(files::listDirectory(home_.documents()).value(), Names{"dataBase.sqlite"});
  // Once the file is a store again, the next request opens it.
  ASSERT_TRUE(files::remove(storeFile()).ok());
  writeStore(storeFile(), {"Anna"});
  ASSERT_NE(delegate().managedObjectContext(), nullptr);
  EXPECT_FALSE(delegate().storeError().has_value());
  EXPECT_EQ(babyNames(*delegate().managedObjectContext()), Names{"Anna"});
  // A data root that cannot be made ends the run with 1.
  ASSERT_TRUE(files::writeAtomic(dir_.path() / "file", std::string_view("a file, not a folder")).ok());
  std::tie(status, out, err) = runDiary(files::AppHome(dir_.path() / "file"));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("diary: cannot prepare the data root"), std::string::npos) << err;
}

}  // namespace
