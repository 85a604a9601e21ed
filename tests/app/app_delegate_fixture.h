#pragma once
// What the application-delegate tests share: a data root and a small bundle in a temporary folder
// (German texts, version 2.2), preferences and a keychain of their own, a main run loop on a manual
// clock, a chosen device, and every process-wide service (application, analytics, cloud session,
// alerts, bar appearance, helper environment) reset before and after each test.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "analytics/global_variable_storage.h"
#include "analytics/recording_session.h"
#include "analytics/session_sink.h"
#include "analytics/tally.h"
#include "analytics/tally_util.h"
#include "app/app_delegate.h"
#include "app/entities.h"
#include "app/model.h"
#include "app/note_edit_helper.h"
#include "cloud/cloud_keychain.h"
#include "cloud/cloud_session.h"
#include "platform/files/app_home.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/clock.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/user_defaults.h"
#include "platform/security/keychain.h"
#include "platform/store/fetch_request.h"
#include "platform/store/store.h"
#include "platform/ui/alert.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/view_controller.h"
#include "support/temp_dir.h"

namespace app_delegate_test {

// A stand-in for the tablet's main screen: records what the delegate hands it, and what was
// already in place when it got the file store (the last of the launch's hand-overs).
class RootStandIn : public ui::ViewController, public app::RootScreen {
 public:
  void setShouldChooseTheLanguage(bool shouldChoose) override {
    calls.push_back("setShouldChooseTheLanguage");
    shouldChooseTheLanguage = shouldChoose;
  }
  void setManagedObjectContext(std::shared_ptr<store::Context> value) override {
    calls.push_back("setManagedObjectContext");
    context = std::move(value);
  }
  void setLocSaves(std::shared_ptr<app::localSaves> value) override {
    calls.push_back("setLocSaves");
    saves = std::move(value);
    alertsWhenHandedTheStore = ui::shownAlerts().size();
    cloudSessionWhenHandedTheStore = cloud::CloudSession::sharedSession() != nullptr;
    analyticsStartedWhenHandedTheStore =
        analytics::TallyGlobalVariableStorage::sharedInstance()->apiKey().has_value();
  }
  void updateDataBase() override { calls.push_back("updateDataBase"); }

  std::vector<std::string> calls;
  std::optional<bool> shouldChooseTheLanguage;
  std::shared_ptr<store::Context> context;
  std::shared_ptr<app::localSaves> saves;
  size_t alertsWhenHandedTheStore = 0;
  bool cloudSessionWhenHandedTheStore = false;
  bool analyticsStartedWhenHandedTheStore = false;
};

// Counts the notifications of one name and keeps their senders.
class Observed {
 public:
  explicit Observed(std::string_view name)
      : token_(runtime::NotificationCenter::defaultCenter().addObserver(
            std::string(name), nullptr,
            [this](const runtime::Notification& n) { senders.push_back(n.object); })) {}
  size_t count() const { return senders.size(); }
  std::vector<const void*> senders;

 private:
  runtime::ObserverToken token_;
};

inline void resetProcessServices() {
  ui::removeAllAlerts();
  ui::clearScreenEvents();
  ui::Application::shared().reset();
  analytics::Tally::shutdown();
  analytics::CurrentSession::setFactory(nullptr);
  analytics::CurrentSession::clearPreCache();
  analytics::TallyUtil::setLogLevel(0);
  cloud::CloudSession::setSharedSession(nullptr);
  cloud::CloudKeychain::configure(nullptr, "");
  ui::NavigationBar::appearance() = ui::NavigationBarAppearance{};
  // Back to what helpers use when no application installed anything.
  app::NoteEditHelper::Environment plain;
  plain.library = files::AppHome::fromEnvironment().library();
  app::NoteEditHelper::setApplicationEnvironment(std::move(plain));
}

class AppDelegateTest : public ::testing::Test {
 protected:
  explicit AppDelegateTest(const ui::DeviceProfile& profile = ui::DeviceProfile::phone568())
      : home_(dir_.path() / "home"), loop_(clock_), mainLoop_(loop_), device_(profile) {
    resetProcessServices();
    analytics::TallyUtil::setClock(&clock_);
    writeBundle();
    EXPECT_TRUE(home_.create().ok());
    keychain_ = std::make_shared<security::Keychain>(home_, clock_);
    cloud::CloudKeychain::configure(keychain_, "org.example.diary");
  }
  ~AppDelegateTest() override {
    delegate_.reset();
    loop_.runUntilIdle();
    resetProcessServices();
    analytics::TallyUtil::setClock(nullptr);
  }

  void writeBundle() {
    const auto root = dir_.path() / "bundle";
    ASSERT_TRUE(files::createDirectory(root / "de.lproj").ok());
    ASSERT_TRUE(
        files::writeAtomic(root / "Info.plist", std::string_view(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>CFBundleIdentifier</key><string>org.example.diary</string>
<key>CFBundleShortVersionString</key><string>2.2</string>
</dict></plist>
)"))
            .ok());
    ASSERT_TRUE(files::writeAtomic(root / "de.lproj" / "Localizable.strings",
                                   std::string_view("\"Reminder\" = \"Erinnerung\";\n\"OK\" = \"Gut\";\n"
                                                    "\"Sleep\" = \"Schlaf\";\n\"Silent\" = \"\";\n"))
                    .ok());
    bundle_ = std::make_shared<runtime::Bundle>(root, std::vector<std::string>{"de"});
  }

  // Preferences whose interface language is `language` (none for an empty list).
  void useLanguages(std::vector<std::string> languages) {
    defaults_ = std::make_shared<runtime::UserDefaults>(dir_.path() / "prefs.plist", std::move(languages));
  }

  app::AppDelegate& delegate() {
    if (!delegate_) {
      if (!defaults_) useLanguages({"de"});
      delegate_ = std::make_unique<app::AppDelegate>(
          app::AppDelegate::Environment{home_, bundle_, defaults_, &clock_});
    }
    return *delegate_;
  }

  // Launches as the platform does, with `root` as the storyboard's first screen when given.
  bool launch(std::shared_ptr<ui::ViewController> root = nullptr,
              const foundation::Dictionary& options = {}) {
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
  std::vector<std::string> savedBabyNames() {
    auto store = delegate().persistentStoreCoordinator();
    if (!store) return {};
    auto reader = store->newReadOnlyContext();
    EXPECT_TRUE(reader.ok());
    if (!reader.ok()) return {};
    store::FetchRequest request{"Baby"};
    request.sortDescriptors.push_back({"baby_Name", true, store::StringComparison::Binary});
    auto babies = (*reader)->fetch(request);
    EXPECT_TRUE(babies.ok());
    std::vector<std::string> names;
    if (babies.ok()) {
      for (const auto& b : *babies) names.push_back(app::Baby(b).baby_Name().value_or(""));
    }
    return names;
  }

  static std::shared_ptr<analytics::RecordingSession> analyticsSession() {
    return std::dynamic_pointer_cast<analytics::RecordingSession>(analytics::CurrentSession::get());
  }

  testing_support::TempDir dir_;
  files::AppHome home_;
  foundation::ManualClock clock_{foundation::Date{600000000}};
  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop mainLoop_;
  ui::ScopedDevice device_;
  std::shared_ptr<runtime::Bundle> bundle_;
  std::shared_ptr<runtime::UserDefaults> defaults_;
  std::shared_ptr<security::Keychain> keychain_;
  ui::Storyboard storyboard_;
  std::unique_ptr<app::AppDelegate> delegate_;
};

class PadAppDelegateTest : public AppDelegateTest {
 protected:
  PadAppDelegateTest() : AppDelegateTest(ui::DeviceProfile::pad()) {}
};

}  // namespace app_delegate_test
