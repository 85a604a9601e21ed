// The application object, the device profile, animations and the mail composer.

#include "platform/ui/application.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/plist/property_list.h"
#include "platform/runtime/notification_center.h"
#include "platform/ui/animation.h"
#include "platform/ui/device.h"
#include "platform/ui/mail_composer.h"
#include "platform/ui/text_input.h"
#include "platform/ui/touch.h"
#include "support/temp_dir.h"
#include "ui_fixture.h"

namespace {

using ::testing::ElementsAre;

class Delegate : public ui::ApplicationDelegate {
 public:
  std::vector<std::string> calls;
  bool didFinishLaunchingWithOptions(ui::Application& app, const foundation::Dictionary& options) override {
    calls.push_back("launch");
    if (const foundation::Value* n = options.find(ui::kLaunchOptionsLocalNotificationKey)) {
      if (auto notification = ui::LocalNotification::fromValue(*n)) {
        calls.push_back("launched by " + notification->userInfo["type"].stringOr(""));
      }
    }
    app.setApplicationIconBadgeNumber(0);
    return true;
  }
  void willResignActive(ui::Application&) override { calls.push_back("resign"); }
  void didEnterBackground(ui::Application&) override { calls.push_back("background"); }
  void willEnterForeground(ui::Application&) override { calls.push_back("foreground"); }
  void didBecomeActive(ui::Application&) override { calls.push_back("active"); }
  void willTerminate(ui::Application&) override { calls.push_back("terminate"); }
  void didReceiveLocalNotification(ui::Application&, const ui::LocalNotification& n) override {
    calls.push_back("reminder " + n.userInfo["babyName"].stringOr(""));
  }
  void didRegisterUserNotificationSettings(ui::Application&) override { calls.push_back("registered"); }
  bool handleOpenURL(ui::Application&, const std::string& url) override {
    calls.push_back("url " + url);
    return url.starts_with("db-");
  }
};

class ApplicationTest : public ui_testing::UiTest {
 protected:
  ApplicationTest() { app.setDelegate(&delegate); }
  ui::Application& app = ui::Application::shared();
  Delegate delegate;
};

TEST_F(ApplicationTest, TheLifecycleReachesTheDelegateAndTheNotificationCenterInOrder) {
  std::vector<std::string> posted;
  auto token = runtime::NotificationCenter::defaultCenter().addObserver(
      "", &app, [&](const runtime::Notification& n) { posted.push_back(n.name); });
  ui::LocalNotification reminder;
  reminder.userInfo.set("type", "Sleep");
  foundation::Dictionary options{{std::string(ui::kLaunchOptionsLocalNotificationKey), reminder.toValue()}};
  app.setApplicationIconBadgeNumber(3);
  EXPECT_TRUE(app.launch(options));
  EXPECT_EQ(app.state(), ui::ApplicationState::kActive);
  EXPECT_EQ(app.applicationIconBadgeNumber(), 0);
  app.enterBackground();
  app.enterForeground();
  app.terminate();
  EXPECT_THAT(delegate.calls, ElementsAre("launch", "launched by Sleep", "active", "resign", "background",
                                          "foreground", "active", "terminate"));
  EXPECT_THAT(
      posted,
      ElementsAre("UIApplicationDidFinishLaunchingNotification", "UIApplicationDidBecomeActiveNotification",
                  "UIApplicationWillResignActiveNotification", "UIApplicationDidEnterBackgroundNotification",
                  "UIApplicationWillEnterForegroundNotification", "UIApplicationDidBecomeActiveNotification",
                  "UIApplicationWillTerminateNotification"));
}

TEST_F(ApplicationTest, LocalNotificationsFireWhenDueAndWaitInTheBackground) {
  app.launch();
  foundation::Date now{600000000};
  ui::LocalNotification later;
  later.fireDate = now + 3600;
  later.userInfo.set("babyName", "Anna");
  ui::LocalNotification sooner = later;
  sooner.fireDate = now + 60;
  sooner.userInfo.set("babyName", "Ben");
  app.scheduleLocalNotification(later);
  app.scheduleLocalNotification(sooner);
  app.deliverDueNotifications(now);
  EXPECT_EQ(app.scheduledLocalNotifications().size(), 2u);
  app.deliverDueNotifications(now + 3600);
  EXPECT_THAT(delegate.calls, ElementsAre("launch", "active", "reminder Ben", "reminder Anna"));
  app.scheduleLocalNotification(sooner);
  app.scheduleLocalNotification(later);
  app.cancelLocalNotification(
      [](const ui::LocalNotification& n) { return n.userInfo["babyName"].stringOr("") == "Ben"; });
  ASSERT_EQ(app.scheduledLocalNotifications().size(), 1u);
  app.enterBackground();
  app.deliverDueNotifications(now + 7200);
  EXPECT_EQ(app.deliveredInBackground().size(), 1u);
  app.registerUserNotificationSettings();
  EXPECT_NE(delegate.calls.back(), "registered");
  runLoop();
  EXPECT_EQ(delegate.calls.back(), "registered");
  // A notification survives a round trip through a Value.
  auto back = ui::LocalNotification::fromValue(later.toValue());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->fireDate, later.fireDate);
  EXPECT_FALSE(ui::LocalNotification::fromValue(foundation::Value("not a notification")));
}

ui::LocalNotification reminderFor(const std::string& baby, foundation::Date fireDate) {
  ui::LocalNotification reminder;
  reminder.fireDate = fireDate;
  reminder.alertBody = "Sleep";
  reminder.userInfo.set("type", "Sleep");
  reminder.userInfo.set("babyName", baby);
  return reminder;
}

std::vector<std::string> scheduledBabies(const ui::Application& app) {
  std::vector<std::string> babies;
  for (const auto& n : app.scheduledLocalNotifications())
    babies.push_back(n.userInfo["babyName"].stringOr(""));
  return babies;
}

// Each "run" is the application made fresh, as a new process finds it, keeping the same home.
TEST_F(ApplicationTest, AKeptScheduleOutlivesTheProcessAndWhatFellDueMeanwhileComesAtTheNextLaunch) {
  testing_support::TempDir dir;
  const files::AppHome home(dir.path());
  const auto file = dir.path() / std::string(ui::kScheduledNotificationsFileName);
  const foundation::Date now = clock_.now();
  const auto nextRun = [&] {
    app.reset();
    app.setDelegate(&delegate);
    delegate.calls.clear();
    app.keepScheduledNotifications(home);
  };

  app.keepScheduledNotifications(home);
  EXPECT_FALSE(files::exists(file));  // nothing kept yet, nothing written
  app.launch();
  for (const char* baby : {"Ann", "Ben", "Cid"}) app.scheduleLocalNotification(reminderFor(baby, now + 60));
  app.scheduleLocalNotification(reminderFor("Dora", now + 86400));
  app.cancelLocalNotification([](const ui::LocalNotification& n) { return n.userInfo["babyName"] == "Cid"; });
  app.terminate();

  nextRun();
  EXPECT_THAT(scheduledBabies(app), ElementsAre("Ann", "Ben", "Dora"));
  EXPECT_EQ(app.scheduledLocalNotifications().front().alertBody, "Sleep");
  EXPECT_EQ(app.scheduledLocalNotifications().front().fireDate, now + 60);
  // Started after the first two fell due: they come once the launch is over, the later one waits.
  clock_.advance(3600);
  app.launch();
  EXPECT_THAT(delegate.calls, ElementsAre("launch", "active"));
  runLoop();
  EXPECT_THAT(delegate.calls, ElementsAre("launch", "active", "reminder Ann", "reminder Ben"));
  app.terminate();

  nextRun();
  EXPECT_THAT(scheduledBabies(app), ElementsAre("Dora"));
  app.deliverDueNotifications(now + 86400);
  nextRun();
  EXPECT_TRUE(app.scheduledLocalNotifications().empty());
}

TEST_F(ApplicationTest, AKeptScheduleThatCannotBeReadIsLoggedAndCountsAsEmpty) {
  const auto good = plist::writePropertyList(
      foundation::Value(foundation::Array{reminderFor("Ann", clock_.now() + 60).toValue()}),
      plist::Format::Binary);
  ASSERT_TRUE(good.ok());
  const auto bytes = [](const foundation::Result<foundation::Bytes>& written) {
    return std::string(written->begin(), written->end());
  };
  struct Case {
    const char* name;
    std::optional<std::string> content;  // nothing: a folder stands in the file's place
    bool writable;
  };
  const Case cases[] = {
      {"not a property list", std::string("no schedule here"), true},
      {"cut short", bytes(good).substr(0, bytes(good).size() / 2), true},
      {"not a list",
       bytes(plist::writePropertyList(foundation::Value(foundation::Dictionary{}), plist::Format::Xml)),
       true},
      {"an entry that is no notification",
       bytes(plist::writePropertyList(foundation::Value(foundation::Array{
                                          reminderFor("Ann", clock_.now()).toValue(), foundation::Value(7)}),
                                      plist::Format::Binary)),
       true},
      {"a folder", std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir dir;
    const auto file = dir.path() / std::string(ui::kScheduledNotificationsFileName);
    if (c.content)
      ASSERT_TRUE(files::writeAtomic(file, *c.content).ok());
    else
      ASSERT_TRUE(files::createDirectory(file / "inside").ok());
    app.reset();
    foundation::ScopedLogCapture log;
    app.keepScheduledNotifications(files::AppHome(dir.path()));
    EXPECT_TRUE(app.scheduledLocalNotifications().empty());
    EXPECT_TRUE(log.contains("cannot be read")) << ::testing::PrintToString(log.messages());
    // The next change replaces the file with a sound one, or lives on in memory when it cannot.
    app.scheduleLocalNotification(reminderFor("Ben", clock_.now() + 60));
    EXPECT_EQ(log.contains("cannot be kept"), !c.writable);
    EXPECT_EQ(app.scheduledLocalNotifications().size(), 1u);
    app.reset();
    app.keepScheduledNotifications(files::AppHome(dir.path()));
    EXPECT_EQ(scheduledBabies(app),
              c.writable ? std::vector<std::string>{"Ben"} : std::vector<std::string>{});
  }
}

TEST_F(ApplicationTest, URLsOpenedAreRecordedAndIncomingOnesGoToTheDelegate) {
  EXPECT_TRUE(app.openURL("mailto:support@example.com?&subject=Hi"));
  EXPECT_FALSE(app.openURL("no scheme at all"));
  app.setOpenableSchemes(std::vector<std::string>{"https"});
  EXPECT_FALSE(app.openURL("mailto:x@y"));
  EXPECT_TRUE(app.openURL("HTTPS://store.example.com/app"));
  EXPECT_THAT(app.openedURLs(),
              ElementsAre("mailto:support@example.com?&subject=Hi", "HTTPS://store.example.com/app"));
  EXPECT_TRUE(app.handleOpenURL("db-abc://1/connect"));
  EXPECT_FALSE(app.handleOpenURL("other://x"));
}

TEST_F(ApplicationTest, BackgroundTasksEndOnceAndExpireThroughTheirHandlers) {
  int expired = 0;
  auto a = app.beginBackgroundTask([&] { ++expired; });
  auto b = app.beginBackgroundTask({});
  EXPECT_NE(a, ui::Application::kInvalidBackgroundTask);
  EXPECT_NE(a, b);
  app.endBackgroundTask(b);
  app.endBackgroundTask(b);
  EXPECT_EQ(app.runningBackgroundTasks(), 1u);
  app.expireBackgroundTasks();
  EXPECT_EQ(expired, 1);
  EXPECT_EQ(app.runningBackgroundTasks(), 0u);
}

TEST_F(ApplicationTest, TheDeviceProfileTellsTheLayoutsApart) {
  EXPECT_FALSE(ui::DeviceProfile::phone568().isStandardPhone667());
  EXPECT_TRUE(ui::DeviceProfile::phone667().isStandardPhone667());
  EXPECT_FALSE(ui::DeviceProfile::phone667Zoomed().isStandardPhone667());
  ui::DeviceProfile old667 = ui::DeviceProfile::phone667();
  old667.systemVersion = "7.1.2";
  EXPECT_FALSE(old667.isStandardPhone667());
  EXPECT_DOUBLE_EQ(old667.systemVersionNumber(), 7.1);
  EXPECT_TRUE(ui::DeviceProfile::phone736().isPhone736());
  EXPECT_TRUE(ui::DeviceProfile::pad().isPad());
  EXPECT_FALSE(ui::DeviceProfile::pad().isPhone736());
  ui::DeviceProfile odd;
  odd.systemVersion = "beta";
  EXPECT_EQ(odd.systemVersionNumber(), 0);
  {
    ui::ScopedDevice pad(ui::DeviceProfile::pad());
    EXPECT_TRUE(ui::device().isPad());
  }
  EXPECT_FALSE(ui::device().isPad());
  app.setStatusBarHidden(true, true);
  EXPECT_TRUE(ui::device().statusBarHidden);
}

TEST_F(ApplicationTest, AnimationsApplyAtOnceAndCompleteOnTheRunLoop) {
  auto view = std::make_shared<ui::View>(ui::Rect(0, 0, 10, 10));
  bool finished = false;
  ui::animate(
      0.2, [&] { view->setAlpha(0); }, [&](bool done) { finished = done; });
  EXPECT_EQ(view->alpha(), 0);
  EXPECT_FALSE(finished);
  runLoop();
  EXPECT_TRUE(finished);
  ASSERT_EQ(ui::animationLog().size(), 1u);
  EXPECT_EQ(ui::animationLog()[0].duration, 0.2);
}

// Played, as in a window on real time: the views take their new values at once, what is drawn goes
// there over the duration on the run loop's clock, and the completion runs at the end, where a
// chained animation starts.
TEST_F(ApplicationTest, PlayedAnimationsMoveWhatIsDrawnOverTheirDurationAndCompleteAtTheEnd) {
  ui::setAnimationMode(ui::AnimationMode::kPlayed);
  auto root = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 480));
  auto badge = std::make_shared<ui::View>(ui::Rect(100, 200, 20, 20));
  root->addSubview(badge);
  badge->setAlpha(0);
  std::vector<double> ends;
  ui::animate(
      0.4,
      [&] {
        badge->setAlpha(1);
        badge->setFrame(ui::Rect(90, 190, 40, 40));
      },
      [&](bool finished) {
        EXPECT_TRUE(finished);
        ends.push_back(clock_.now().sinceReference);
        // The next step starts where this one ended.
        ui::animate(0.2, 0.1, [&] { badge->setCenter(ui::Point(110, 110)); },
                    [&](bool) { ends.push_back(clock_.now().sinceReference); });
      });
  const double start = clock_.now().sinceReference;
  // The views hold the end state from the start.
  EXPECT_EQ(badge->alpha(), 1);
  EXPECT_EQ(badge->frame(), ui::Rect(90, 190, 40, 40));
  EXPECT_TRUE(ui::animationsPlaying());
  const struct {
    double at;  // seconds after the start
    double alpha, x, y, side;
    int ended;
  } samples[] = {
      {0, 0, 100, 200, 20, 0},
      {0.2, 0.5, 95, 195, 30, 0},  // half way in time is half way on the eased curve
      {0.4, 1, 90, 190, 40, 1},
      {0.45, 1, 90, 190, 40, 1},   // the second step's delay holds the old place
      {0.6, 1, 90, 140, 40, 1},    // half way up from 190 to 90
      {0.7, 1, 90, 90, 40, 2},
  };
  for (const auto& s : samples) {
    loop_.advance(start + s.at - clock_.now().sinceReference);
    const ui::Rect shown = ui::presentedFrame(*badge);
    // The clock counts from 2001 in doubles: a tenth of a microsecond is its grain here.
    EXPECT_NEAR(ui::presentedAlpha(*badge), s.alpha, 1e-4) << s.at;
    EXPECT_NEAR(shown.x(), s.x, 1e-4) << s.at;
    EXPECT_NEAR(shown.y(), s.y, 1e-4) << s.at;
    EXPECT_NEAR(shown.width(), s.side, 1e-4) << s.at;
    EXPECT_EQ(static_cast<int>(ends.size()), s.ended) << s.at;
  }
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_NEAR(ends[0] - start, 0.4, 1e-6);
  EXPECT_NEAR(ends[1] - start, 0.7, 1e-6);
  EXPECT_FALSE(ui::animationsPlaying());
  // Slow at both ends: a tenth of the time covers less than a tenth of the way.
  EXPECT_LT(ui::easeInOut(0.1), 0.05);
  EXPECT_GT(ui::easeInOut(0.9), 0.95);
  // Eased out: quick at first, slowing to the end.
  EXPECT_GT(ui::eased(ui::AnimationCurve::kEaseOut, 0.1), 0.1);
  EXPECT_GT(ui::eased(ui::AnimationCurve::kEaseOut, 0.5), 0.6);
  // Eased in: slow at first, quick to the end.
  EXPECT_LT(ui::eased(ui::AnimationCurve::kEaseIn, 0.5), 0.4);
  EXPECT_GT(ui::eased(ui::AnimationCurve::kEaseIn, 0.95), 0.9);

  // A change made without animation wins over one playing; changes that move nothing complete at
  // once, as does everything when not played.
  bool moved = false, still = false;
  ui::animate(1, [&] { badge->setAlpha(0); }, [&](bool) { moved = true; });
  badge->setAlpha(0.3);
  EXPECT_EQ(ui::presentedAlpha(*badge), 0.3);
  ui::animate(1, [&] { badge->setAlpha(0.3); }, [&](bool) { still = true; });
  runLoop();
  EXPECT_TRUE(still);
  EXPECT_FALSE(moved);
  loop_.advance(1);
  EXPECT_TRUE(moved);
}

class MailWatcher : public ui::MailComposeDelegate {
 public:
  std::vector<ui::MailComposeResult> results;
  std::optional<foundation::Error> error;
  void mailComposeControllerDidFinish(ui::MailComposeViewController&, ui::MailComposeResult result,
                                      const std::optional<foundation::Error>& e) override {
    results.push_back(result);
    error = e;
  }
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST_F(ApplicationTest, TheMailComposerWritesSentMailToTheOutbox) {
  testing_support::TempDir dir;
  ui::MailComposeViewController::setOutboxFolder(dir / "Outbox");
  MailWatcher watcher;
  auto mail = std::make_shared<ui::MailComposeViewController>();
  mail->setMailComposeDelegate(&watcher);
  mail->setToRecipients({"support@example.com"});
  mail->setSubject("Feedback: [ iPhone / 8.00 ]\r\nBcc: someone@example.com");
  mail->setMessageBody("Line one\nLine two", false);
  mail->addAttachmentData(foundation::Bytes{'%', 'P', 'D', 'F'}, "text/pdf", "report.pdf");
  mail->send();
  ASSERT_THAT(watcher.results, ElementsAre(ui::MailComposeResult::kSent));
  ASSERT_TRUE(mail->sentFile());
  EXPECT_EQ(mail->sentFile()->filename(), "mail-0001.eml");
  std::string text = readFile(*mail->sentFile());
  EXPECT_THAT(text, ::testing::HasSubstr("To: support@example.com\r\n"));
  // A line break in the subject cannot smuggle in a header.
  EXPECT_THAT(text,
              ::testing::HasSubstr("Subject: Feedback: [ iPhone / 8.00 ]  Bcc: someone@example.com\r\n"));
  EXPECT_THAT(text, ::testing::Not(::testing::HasSubstr("\r\nBcc:")));
  EXPECT_THAT(text, ::testing::HasSubstr("Line one\r\nLine two"));
  EXPECT_THAT(text, ::testing::HasSubstr("Content-Type: text/pdf; name=\"report.pdf\""));
  EXPECT_THAT(text, ::testing::HasSubstr("JVBERg==\r\n"));
  mail->send();
  EXPECT_EQ(mail->sentFile()->filename(), "mail-0002.eml");
  mail->cancel();
  mail->saveDraft();
  EXPECT_THAT(watcher.results, ElementsAre(ui::MailComposeResult::kSent, ui::MailComposeResult::kSent,
                                           ui::MailComposeResult::kCancelled, ui::MailComposeResult::kSaved));
}

TEST_F(ApplicationTest, AnOutboxThatCannotBeMadeFailsTheSend) {
  testing_support::TempDir dir;
  std::ofstream(dir / "blocker") << "a file where the folder should be";
  ui::MailComposeViewController::setOutboxFolder(dir / "blocker" / "Outbox");
  MailWatcher watcher;
  auto mail = std::make_shared<ui::MailComposeViewController>();
  mail->setMailComposeDelegate(&watcher);
  mail->send();
  ASSERT_THAT(watcher.results, ElementsAre(ui::MailComposeResult::kFailed));
  EXPECT_TRUE(watcher.error);
  EXPECT_FALSE(mail->sentFile());
  ui::ScopedDevice noMail([] {
    ui::DeviceProfile d;
    d.canSendMail = false;
    return d;
  }());
  EXPECT_FALSE(ui::MailComposeViewController::canSendMail());
}

// A screen that presents the composer and, as the diary's screens do, dismisses it when told.
class Composing : public ui::ViewController, public ui::MailComposeDelegate {
 public:
  void mailComposeControllerDidFinish(ui::MailComposeViewController&, ui::MailComposeResult result,
                                      const std::optional<foundation::Error>&) override {
    results.push_back(result);
    dismissViewControllerAnimated(true);
  }
  std::vector<ui::MailComposeResult> results;
};

template <class T>
T* findView(ui::View& view, const std::function<bool(T&)>& wanted) {
  if (auto* t = dynamic_cast<T*>(&view); t && wanted(*t)) return t;
  for (auto& sub : view.subviews())
    if (auto* found = findView(*sub, wanted)) return found;
  return nullptr;
}

TEST_F(ApplicationTest, TheComposerIsAScreenAPersonFillsInAndSendsOrCancels) {
  testing_support::TempDir dir;
  ui::MailComposeViewController::setOutboxFolder(dir / "Outbox");
  auto window = std::make_shared<ui::Window>();
  auto presenter = std::make_shared<Composing>();
  window->setRootViewController(presenter);
  window->makeKeyAndVisible();
  for (const bool sending : {true, false}) {
    auto mail = std::make_shared<ui::MailComposeViewController>();
    mail->setMailComposeDelegate(presenter.get());
    mail->setToRecipients({"a@b.c"});
    mail->setSubject("Report: Ada");
    mail->addAttachmentData(foundation::Bytes{'%', 'P', 'D', 'F'}, "text/pdf", "report.pdf");
    presenter->presentViewController(mail, true);
    runLoop();
    ui::View& screen = *mail->view();
    auto* to = findView<ui::TextField>(screen, [](ui::TextField& f) { return f.text() == "a@b.c"; });
    auto* subject = findView<ui::TextField>(screen, [](ui::TextField& f) { return f.text() == "Report: Ada"; });
    auto* body = findView<ui::TextView>(screen, [](ui::TextView&) { return true; });
    ASSERT_TRUE(to && subject && body);
    EXPECT_NE(findView<ui::Label>(screen, [](ui::Label& l) { return l.text() == "report.pdf"; }), nullptr);
    // What the person types is what goes.
    to->setText("a@b.c, d@e.f");
    body->setText("Two days");
    auto* button = findView<ui::Button>(screen, [sending](ui::Button& b) {
      return b.currentTitle() == (sending ? "Send" : "Cancel");
    });
    ASSERT_NE(button, nullptr);
    ui::TouchInjector touch(*window);
    touch.tap(button->convertRectToView(button->bounds(), window.get()).center());
    runLoop();
    EXPECT_EQ(presenter->presentedViewController(), nullptr);
    EXPECT_EQ(presenter->results.back(), sending ? ui::MailComposeResult::kSent : ui::MailComposeResult::kCancelled);
    EXPECT_EQ(mail->sentFile().has_value(), sending);
    if (sending) {
      const std::string text = readFile(*mail->sentFile());
      EXPECT_THAT(text, ::testing::HasSubstr("To: a@b.c, d@e.f\r\n"));
      EXPECT_THAT(text, ::testing::HasSubstr("Two days"));
      EXPECT_THAT(text, ::testing::HasSubstr("filename=\"report.pdf\""));
    }
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "Outbox"), {}), 1);
}

}  // namespace
