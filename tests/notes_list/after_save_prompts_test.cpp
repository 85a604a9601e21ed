#include "notes_list/after_save_prompts.h"

#include <gtest/gtest.h>

#include "notes_list/first_launch.h"
#include "notes_list/list_extras_impl.h"
#include "notes_list/list_fixture.h"
#include "notes_list/notes_table_controller.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/ui/mail_composer.h"

namespace {

using list_test::at;
using notes_list::AfterSavePrompts;

std::string L(std::string_view key) { return list_test::english().localized(key); }

class PromptsTest : public list_test::ListTest {
 protected:
  AfterSavePrompts::Services services(int version = 231) {
    AfterSavePrompts::Services services;
    services.home = home_;
    services.versionNumber = version;
    services.clock = &clock_;
    services.language = list_test::english;
    services.hasPreferredLanguages = [] { return true; };
    services.countryCode = [] { return std::string("US"); };
    services.logEvent = [this](std::string event, foundation::Dictionary parameters) {
      events_.emplace_back(std::move(event), std::move(parameters));
    };
    services.reviewURL = [] { return std::string("https://review"); };
    services.openURL = [this](const std::string& url) { opened_.push_back(url); };
    services.sendFeedbackMail = [this] { ++mails_; };
    return services;
  }

  // Taps a button of the alert on top and answers its title.
  std::string tap(int button) {
    auto alert = ui::topAlert();
    if (!alert) return "";
    std::string title = alert->title();
    alert->tapButton(button);
    return title;
  }
  std::string shown() {
    auto alert = ui::topAlert();
    return alert ? alert->title() : "";
  }
  std::optional<app::askRateData> record() const { return app::SettingsRecords(home_).readRateRequestData(); }
  std::string parameter(std::size_t event, const std::string& key) const {
    const foundation::Value* value = events_.at(event).second.find(key);
    return value && value->string() ? *value->string() : "";
  }

  std::vector<std::pair<std::string, foundation::Dictionary>> events_;
  std::vector<std::string> opened_;
  int mails_ = 0;
};

TEST_F(PromptsTest, ErrorNoticeShowsOnceAtTenAndAtFortyAndEndsTheCountdown) {
  AfterSavePrompts prompts(services());
  ASSERT_TRUE(app::SettingsRecords(home_).writeRateRequestData(app::askRateData(231, false, 7)).ok());
  for (std::uint64_t count : {9u, 10u}) prompts.noteEditWasSaved(count);
  EXPECT_EQ(tap(0), L("About Errors"));
  prompts.noteEditWasSaved(10);  // one deleted, one saved
  EXPECT_EQ(shown(), "");
  prompts.noteEditWasSaved(40);
  EXPECT_EQ(tap(0), L("About Errors"));
  EXPECT_EQ(record(), app::askRateData(231, false, 0));
}

TEST_F(PromptsTest, RateMachineAsksCountsDownAndLogsItsEvents) {
  // First launch 18 days ago.
  ASSERT_TRUE(notes_list::saveFirstLaunchFile(app::SettingsRecords(home_), at(2, 9)).ok());
  AfterSavePrompts prompts(services());
  std::optional<foundation::ScopedLogCapture> log(std::in_place);
  prompts.noteEditWasSaved(50);
  // The first-launch date as its file holds it.
  const auto text = files::readText(app::SettingsRecords(home_).pathOf(app::kFirstLaunchFileName));
  EXPECT_TRUE(text.ok() && log->contains("str:" + *text));
  log.reset();
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].first, "entry_added_50");
  EXPECT_EQ(parameter(0, "days_interval"), "15 - 20 ");
  EXPECT_EQ(parameter(0, "country"), "US");

  // "No", then "Yes" to feedback: the mail opens with a notice whose "OK" ends the countdown, so
  // the next save asks again.
  EXPECT_EQ(tap(1), L("Do you like this app?"));
  EXPECT_EQ(events_.back().first, "userSaid_NO");
  EXPECT_EQ(parameter(1, "dayNum"), "18");
  EXPECT_EQ(tap(0), L("Feedback text"));
  EXPECT_EQ(mails_, 1);
  EXPECT_EQ(record(), app::askRateData(231, false, 300));
  EXPECT_EQ(tap(0), L("BugsOrSuggestion"));
  EXPECT_EQ(record(), app::askRateData(231, false, 0));
  prompts.noteEditWasSaved(51);
  EXPECT_EQ(tap(1), L("Do you like this app?"));
  EXPECT_EQ(tap(1), L("Feedback text"));
  EXPECT_EQ(record(), app::askRateData(231, false, 300));

  // Agreeing to review with 400 notes: the page opens and the question never returns...
  ASSERT_TRUE(app::SettingsRecords(home_).writeRateRequestData(app::askRateData(231, false, 0)).ok());
  prompts.noteEditWasSaved(400);
  EXPECT_EQ(events_.back().first, "entry_added_400");
  EXPECT_EQ(tap(0), L("Do you like this app?"));
  EXPECT_EQ(events_.back().first, "userSaid_YES");
  EXPECT_EQ(tap(0), L("Write an app review"));
  EXPECT_EQ(opened_, std::vector<std::string>{"https://review"});
  EXPECT_EQ(record(), app::askRateData(231, true, -1));
  for (int i = 0; i < 3; ++i) prompts.noteEditWasSaved(401);
  EXPECT_EQ(shown(), "");

  // ...until an update: the countdown restarts at 5 and the seventh save asks again.
  AfterSavePrompts updated(services(232));
  for (int save = 1; save <= 6; ++save) {
    updated.noteEditWasSaved(401);
    EXPECT_EQ(shown(), "") << save;
  }
  updated.noteEditWasSaved(401);
  EXPECT_EQ(shown(), L("Do you like this app?"));
}

TEST_F(PromptsTest, ReviewCountdownFollowsTheNoteCountAndUnreadableFilesCountAsAbsent) {
  const struct {
    std::uint64_t notes;
    std::int64_t countdown;
  } cases[] = {{149, 50}, {150, 100}, {349, 100}, {350, -1}};
  for (const auto& c : cases) {
    ASSERT_TRUE(app::SettingsRecords(home_).createSettingsDir().ok());
    ASSERT_TRUE(
        files::writeAtomic(home_.library() / "Settings" / "rateRequestData.txt", std::string_view("x")).ok());
    AfterSavePrompts prompts(services());
    prompts.noteEditWasSaved(c.notes);
    EXPECT_EQ(tap(0), L("Do you like this app?")) << c.notes;
    EXPECT_EQ(tap(0), L("Write an app review"));
    EXPECT_EQ(record(), app::askRateData(231, true, c.countdown)) << c.notes;
  }
  // No first-launch file: no events at all.
  EXPECT_TRUE(events_.empty());
}

TEST_F(PromptsTest, FeedbackMailGoesToTheOutboxWithTheDiarysFacts) {
  ui::MailComposeViewController::setOutboxFolder(temp_.path() / "Outbox");
  auto list =
      std::make_shared<notes_list::noteTableController_Base>(neh(), this->ListTest::services(), saves_);
  notes_list::ListExtrasImpl::Services extrasServices;
  extrasServices.prompts = services();
  extrasServices.prompts.sendFeedbackMail = nullptr;
  extrasServices.language = list_test::english;
  notes_list::ListExtrasImpl extras(extrasServices);
  list->setListExtras(&extras);
  auto window = std::make_shared<ui::Window>(graphics::Rect(0, 0, 320, 568));
  window->setRootViewController(list);
  window->makeKeyAndVisible();
  add("Sleep", at(3, 1), at(3, 3));
  list->noteEditWasSaved();
  EXPECT_EQ(list->allEntriesNum(), 1u);

  auto question =
      ui::AlertView::create(L("Feedback text"), "", &extras.prompts(), std::string("Yes"), {"No"});
  question->show();
  question->tapButton(0);
  runLoop();
  ASSERT_NE(list->presentedViewController(), nullptr);
  auto composer = std::dynamic_pointer_cast<ui::MailComposeViewController>(
      list->presentedViewController()->shared_from_this());
  ASSERT_NE(composer, nullptr);
  composer->send();
  runLoop();
  ASSERT_TRUE(composer->sentFile());
  auto mail = files::readText(*composer->sentFile());
  ASSERT_TRUE(mail.ok());
  EXPECT_NE(mail->find("To: support@babydiary.app"), std::string::npos) << *mail;
  EXPECT_NE(mail->find("Subject: Feedback: [ iPhone / 8.00 / "), std::string::npos) << *mail;
  EXPECT_NE(mail->find(" / b:1 / "), std::string::npos) << *mail;
  EXPECT_NE(mail->find(" / n:1 / "), std::string::npos) << *mail;
  EXPECT_EQ(list->presentedViewController(), nullptr);
  window->setRootViewController(nullptr);
  runLoop();
}

}  // namespace
