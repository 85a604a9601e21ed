// Reminders, settings, units and language as the main screens open them.

#include <gtest/gtest.h>

#include "app/app_delegate.h"
#include "app/model.h"
#include "navigation/language_controller.h"
#include "navigation/reminder_controller.h"
#include "navigation/settings_controller.h"
#include "navigation/url_helper.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/notification_center.h"
#include "platform/store/store.h"
#include "platform/ui/ui_fixture.h"
#include "support/temp_dir.h"

namespace navigation {
namespace {

struct Opener : note_editor::noteViewDelegate {
  std::vector<bool> answers;
  void noteViewChildDone(ui::ViewController&, bool changed) override { answers.push_back(changed); }
  void noteEditWasClosedAndSaved(ui::ViewController&, bool) override {}
};

class NavigationScreensTest : public ui_testing::UiTest {
 protected:
  NavigationScreensTest() {
    previousBundle_ =
        runtime::Bundle::setMain(std::make_shared<runtime::Bundle>(testing_support::resourcesFolder()));
    previousDefaults_ = runtime::UserDefaults::setStandard(defaults_);
  }
  ~NavigationScreensTest() override {
    window_.setRootViewController(nullptr);
    runLoop();
    runtime::Bundle::setMain(previousBundle_);
    runtime::UserDefaults::setStandard(previousDefaults_);
  }

  ChooserServices services() {
    ChooserServices s;
    s.language = [] { return app::InterfaceText::current(); };
    s.library = temp_.path() / "Library";
    s.tutorialState = [] { return -1; };
    return s;
  }

  void show(std::shared_ptr<ui::ViewController> root) {
    window_.setRootViewController(std::move(root));
    window_.makeKeyAndVisible();
    runLoop();
  }

  testing_support::TempDir temp_;
  std::shared_ptr<runtime::UserDefaults> defaults_ = std::make_shared<runtime::UserDefaults>(
      temp_.path() / "prefs.plist", std::vector<std::string>{"de", "en"});
  std::shared_ptr<runtime::Bundle> previousBundle_;
  std::shared_ptr<runtime::UserDefaults> previousDefaults_;
  ui::Window window_;
};

TEST_F(NavigationScreensTest, SchedulerKeepsOnlyValidRemindersSoonestFirst) {
  ReminderScheduler scheduler(ui::Application::shared(), &clock_);
  const auto now = clock_.now();
  struct Case {
    Reminder reminder;
    std::int64_t error;  // 0: scheduled
  } cases[] = {{{now + 600, "Sleep", "Anna"}, 0},
               {{now + 60, "WC", "Anna"}, 0},
               {{now + 120, "Sleep", "Bob"}, 0},
               {{now, "Sleep", "Anna"}, kReminderInThePast},
               {{now + 60, "Nap", "Anna"}, kReminderNoType},
               {{now + 60, "Sleep", ""}, kReminderNoBaby}};
  for (const auto& c : cases) {
    auto status = scheduler.schedule(c.reminder, "text");
    EXPECT_EQ(status.ok() ? 0 : status.error().code, c.error) << c.reminder.type;
  }
  ui::LocalNotification other;  // not a reminder
  other.fireDate = now + 30;
  ui::Application::shared().scheduleLocalNotification(other);

  const auto anna = scheduler.reminders(std::string("Anna"));
  ASSERT_EQ(anna.size(), 2u);
  EXPECT_EQ(anna[0].type, "WC");
  EXPECT_EQ(scheduler.reminders().size(), 3u);
  scheduler.cancel(anna[0]);
  EXPECT_EQ(scheduler.reminders(std::string("Anna")).size(), 1u);
  EXPECT_EQ(ui::Application::shared().scheduledLocalNotifications().size(), 3u);
}

TEST_F(NavigationScreensTest, AReminderAddedThroughTheChooserShowsInTheList) {
  ui::Storyboard storyboard;
  registerChooserScreens(storyboard, [this] { return services(); });
  registerReminderScreens(storyboard, &clock_);
  auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(
      storyboard.instantiateViewControllerWithIdentifier(kRemindersNavId));
  ASSERT_TRUE(navigation);
  auto* list = dynamic_cast<reminderController*>(navigation->topViewController());
  auto opener = std::make_shared<Opener>();
  list->setNoteView_delegate(opener);
  list->setCurrentBaby("Anna");
  show(navigation);
  EXPECT_TRUE(list->reminders().empty());

  list->addReminder();
  runLoop();
  auto* chooser = dynamic_cast<noteTypeTableController*>(navigation->topViewController());
  ASSERT_NE(chooser, nullptr);
  const auto& types = chooser->noteTypeArray();
  const auto sleep = std::find(types.begin(), types.end(), "Sleep") - types.begin();
  chooser->noteTypeFromNum(static_cast<int>(sleep));
  runLoop();
  auto* date = dynamic_cast<reminderDateScreen*>(navigation->topViewController());
  ASSERT_NE(date, nullptr);
  date->cancel();  // back to the chooser, nothing scheduled
  runLoop();
  ASSERT_EQ(navigation->topViewController(), chooser);
  EXPECT_TRUE(ui::Application::shared().scheduledLocalNotifications().empty());
  chooser->noteTypeFromNum(static_cast<int>(sleep));
  runLoop();
  date = dynamic_cast<reminderDateScreen*>(navigation->topViewController());
  ASSERT_NE(date, nullptr);
  date->datePicker().spinToDate(clock_.now() + 3600);
  date->save();
  runLoop();
  EXPECT_EQ(navigation->topViewController(), list);
  ASSERT_EQ(list->reminders().size(), 1u);
  EXPECT_EQ(list->reminders()[0], (Reminder{clock_.now() + 3600, "Sleep", "Anna"}));
  EXPECT_EQ(ui::Application::shared().scheduledLocalNotifications()[0].alertBody,
            "Erinnerung: Schlaf (Anna)");

  // Scheduled elsewhere: the list follows the application delegate's notification.
  ASSERT_TRUE(ReminderScheduler(ui::Application::shared(), &clock_)
                  .schedule({clock_.now() + 60, "WC", "Anna"}, "")
                  .ok());
  runtime::NotificationCenter::defaultCenter().post(std::string(app::kReminderDidComeNotification));
  EXPECT_EQ(list->reminders().size(), 2u);

  list->reminderTable().swipeToDeleteRowAtIndexPath({0, 0});
  list->reminderTable().tapDeleteConfirmationButton();
  EXPECT_EQ(list->reminders().size(), 1u);

  list->back();
  EXPECT_EQ(opener->answers, std::vector<bool>{false});
}

TEST_F(NavigationScreensTest, SettingsBackAndUnits) {
  for (bool pad : {true, false}) {
    ui::ScopedDevice device(pad ? ui::DeviceProfile::pad() : ui::DeviceProfile::phone568());
    Opener opener;
    auto settings = std::make_shared<settingsController>();
    settings->setNoteView_delegate(&opener);
    auto navigation = std::make_shared<ui::NavigationController>(std::make_shared<ui::ViewController>());
    navigation->pushViewController(settings, false);
    show(navigation);
    settings->navigationItem().leftBarButtonItem()->tap();
    runLoop();
    EXPECT_EQ(opener.answers, pad ? std::vector<bool>{true} : std::vector<bool>{}) << pad;
    EXPECT_EQ(navigation->viewControllers().size(), pad ? 2u : 1u) << pad;
  }

  auto store = store::Store::open(temp_.path() / "dataBase.sqlite", app::managedObjectModel()).value();
  std::shared_ptr<store::Context> context = store->newContext().value();
  app::NoteEditHelper::Environment environment;
  environment.context = [context] { return context; };
  environment.library = temp_.path() / "Library";
  unitsController units{app::NoteEditHelper(environment)};
  ASSERT_FALSE(units.types().empty());
  EXPECT_TRUE(std::find(units.types().begin(), units.types().end(), "Weight") != units.types().end());
  EXPECT_TRUE(std::find(units.types().begin(), units.types().end(), "Sleep") == units.types().end());
  // Each remembered value keeps its quantity through every switch of its unit.
  struct Remembered {
    const char* type;
    float value;
    std::vector<std::pair<const char*, float>> switches;  // unit, value then remembered
  };
  const Remembered remembered[] = {
      {"Weight", 3.62f, {{"Notation_lbs", 7.98075f}, {"Notation_lbs_oz", 7.98075f}, {"Notation_kg", 3.62f}}},
      {"Height", 50.8f, {{"Notation_ft_inch", 20}, {"Notation_inch", 20}, {"Notation_cm", 50.8f}}},
      {"Temperature", 36.6f, {{"Notation_fahrenheit", 97.88f}, {"Notation_celsius", 36.6f}}},
      {"Drink", 100, {{"Notation_oz", 3.3814f}}},
  };
  for (const auto& r : remembered) {
    auto row = app::NoteEditHelper(environment).getValueType(r.type);
    row.setVt_NumCurrent(r.value);
    ASSERT_TRUE(context->save().ok());
    for (const auto& [unit, expected] : r.switches) {
      ASSERT_TRUE(units.setUnit(r.type, unit).ok()) << r.type << " " << unit;
      context->reset();
      const auto stored = app::NoteEditHelper(environment).getValueType(r.type);
      EXPECT_EQ(stored.vt_NumMeasureCurrent(), unit);
      ASSERT_TRUE(stored.vt_NumCurrent()) << r.type;
      EXPECT_NEAR(*stored.vt_NumCurrent(), expected, 1e-3) << r.type << " " << unit;
    }
  }
  ASSERT_TRUE(units.setUnit("Weight", "Notation_lbs").ok());
  EXPECT_FALSE(units.setUnit("Weight", "Notation_ml").ok());
  context->reset();
  EXPECT_EQ(units.unitOf("Weight"), "Notation_lbs");
  const auto before = units.unitOf("Temperature");
  units.view();
  const auto row =
      std::find(units.types().begin(), units.types().end(), "Temperature") - units.types().begin();
  units.unitsTable().tapRowAtIndexPath({0, static_cast<int>(row)});
  EXPECT_NE(units.unitOf("Temperature"), before);
}

TEST_F(NavigationScreensTest, LanguageChoiceIsStoredFirstAndTheScreenLeavesAsOpened) {
  for (bool fromMain : {true, false}) {
    auto language = std::make_shared<languageController>(defaults_);
    language->setLaunchedFromMainScreen(fromMain);
    auto root = std::make_shared<ui::ViewController>();
    show(root);
    std::shared_ptr<ui::NavigationController> navigation;
    if (fromMain) {
      navigation = std::make_shared<ui::NavigationController>(language);
      root->presentViewController(navigation, false);
    } else {
      navigation = std::make_shared<ui::NavigationController>(std::make_shared<ui::ViewController>());
      root->presentViewController(navigation, false);
      navigation->pushViewController(language, false);
    }
    runLoop();
    ASSERT_EQ(language->selectedIndex(), 1u);  // "de", the language in force
    language->languageTable().tapRowAtIndexPath({0, 6});
    language->done();
    runLoop();
    EXPECT_EQ(defaults_->stringArrayForKey("AppleLanguages"), (std::vector<std::string>{"ru", "de", "en"}));
    if (fromMain) {
      EXPECT_EQ(root->presentedViewController(), nullptr);
      EXPECT_FALSE(ui::screenEvents().back().animated);
    } else {
      EXPECT_EQ(navigation->topViewController(), navigation->viewControllers().front().get());
    }
    ASSERT_TRUE(
        defaults_->setArray("AppleLanguages", {foundation::Value("de"), foundation::Value("en")}).ok());
  }
}

// The phone's first launch hides the bar, and with it the bar's "OK": the screen confirms with its
// own, and its list clears the status bar. Where the bar shows, its "OK" is the one.
TEST_F(NavigationScreensTest, TheLanguageScreenWithoutABarConfirmsWithItsOwnOk) {
  struct Case {
    bool barHidden;
    bool statusBarHidden;
    double listTop;  // in the window
  };
  const Case cases[] = {{true, false, 20}, {true, true, 0}, {false, false, 64}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "bar hidden " << c.barHidden << ", status bar hidden " << c.statusBarHidden);
    ui::Application::shared().setStatusBarHidden(c.statusBarHidden);
    // A language the diary has no texts for: nothing is marked at first.
    ASSERT_TRUE(defaults_->setArray("AppleLanguages", {foundation::Value("it")}).ok());
    auto language = std::make_shared<languageController>(defaults_);
    language->setLaunchedFromMainScreen(true);
    auto root = std::make_shared<ui::ViewController>();
    show(root);
    auto navigation = std::make_shared<ui::NavigationController>(language);
    navigation->setNavigationBarHidden(c.barHidden);
    root->presentViewController(navigation, false);
    runLoop();
    ui::Button& own = language->confirmButton();
    const ui::Rect list =
        language->languageTable().convertRectToView(language->languageTable().bounds(), &window_);
    EXPECT_DOUBLE_EQ(list.y(), c.listTop);
    EXPECT_EQ(own.isHidden(), !c.barHidden);
    if (!c.barHidden) continue;
    // Below the list, wholly on the screen.
    const ui::Rect ok = own.convertRectToView(own.bounds(), &window_);
    EXPECT_GE(ok.y(), list.maxY());
    EXPECT_LE(ok.maxY(), window_.bounds().maxY());
    EXPECT_EQ(own.currentTitle(), "OK");
    // "OK" waits for a choice.
    ASSERT_FALSE(language->selectedIndex());
    own.tap();
    EXPECT_NE(root->presentedViewController(), nullptr);
    language->languageTable().tapRowAtIndexPath({0, 0});
    own.tap();
    runLoop();
    EXPECT_EQ(defaults_->stringArrayForKey("AppleLanguages"), (std::vector<std::string>{"en", "it"}));
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_FALSE(ui::screenEvents().back().animated);
  }
}

TEST_F(NavigationScreensTest, TheReviewLinkCountsTheVoteAndTheFeedbackSubjectCountsTheStore) {
  auto store = store::Store::open(temp_.path() / "dataBase.sqlite", app::managedObjectModel()).value();
  std::shared_ptr<store::Context> context = store->newContext().value();
  for (const char* name : {"Ada", "Bo"}) app::Baby::insertIn(*context).setBaby_Name(std::string(name));
  for (int i = 0; i < 3; ++i) app::Note::insertIn(*context).setNote_Type(std::string("Sleep"));
  ASSERT_TRUE(context->save().ok());

  // Device, languages, and what the link logs and the subject reads.
  struct Case {
    bool pad;
    std::vector<std::string> languages;
    bool withStore;
    std::vector<std::string> events;
    std::string subject;
  };
  const Case cases[] = {
      {false, {"de", "en"}, true, {"tried_to_vote lang=de country=AT deviceType=iPhone"},
       "Feedback: [ iPhone / 8.00 / 2.3 / b:2 / de / n:3 / AT("},
      {true, {"ru"}, false, {"tried_to_vote lang=ru country=AT deviceType=iPad"},
       "Feedback: [ iPad / 8.00 / 2.3 / b:0 / ru / n:0 / AT("},
      {false, {}, true, {}, "Feedback: [ iPhone / 8.00 / 2.3 / b:2 /  / n:3 / AT("},
  };
  for (const auto& c : cases) {
    ui::DeviceProfile profile = c.pad ? ui::DeviceProfile::pad() : ui::DeviceProfile::phone568();
    profile.model = c.pad ? "iPad" : "iPhone";
    profile.systemVersion = "8.0";
    ui::ScopedDevice device(profile);
    std::vector<std::string> events;
    urlHelper::Services services;
    services.logEvent = [&events](std::string event, foundation::Dictionary parameters) {
      for (const char* key : {"lang", "country", "deviceType"}) {
        const std::string* value = parameters[key].string();
        event += std::string(" ") + key + "=" + (value ? *value : "?");
      }
      events.push_back(event);
    };
    services.preferredLanguages = [&c] { return c.languages; };
    services.countryCode = [] { return std::string("AT"); };
    services.appVersion = [] { return std::string("2.3"); };
    const urlHelper helper(services);
    EXPECT_EQ(helper.rait_URL(), kReviewPageURL);
    EXPECT_EQ(events, c.events) << c.pad;
    const std::string subject = helper.reportSubjectForMoc(c.withStore ? context.get() : nullptr);
    EXPECT_EQ(subject.substr(0, c.subject.size()), c.subject);
    EXPECT_EQ(subject.substr(subject.size() - 3), ") ]");
  }
}

}  // namespace
}  // namespace navigation
