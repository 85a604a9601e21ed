#include "notes_list/after_save_prompts.h"

#include "navigation/url_helper.h"
#include "notes_list/first_launch.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/text.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/user_defaults.h"
#include "platform/ui/application.h"

namespace notes_list {

using foundation::Value;

namespace {
constexpr std::string_view kAboutErrors = "About Errors";
constexpr std::string_view kDoYouLike = "Do you like this app?";
constexpr std::string_view kWriteReview = "Write an app review";
constexpr std::string_view kFeedbackText = "Feedback text";
constexpr std::string_view kBugsOrSuggestion = "BugsOrSuggestion";
}  // namespace

AfterSavePrompts::Services AfterSavePrompts::Services::fromApplication() {
  Services services;
  services.versionNumber = app::applicationVersionNumber(*runtime::Bundle::main());
  services.hasPreferredLanguages = [] {
    return !runtime::UserDefaults::standard()->preferredLanguages().empty();
  };
  services.countryCode = [] { return foundation::Locale::current().countryCode(); };
  services.logEvent = navigation::tallyEventSink();
  services.reviewURL = [] { return navigation::urlHelper().rait_URL(); };
  services.openURL = [](const std::string& url) { ui::Application::shared().openURL(url); };
  services.clock = &runtime::RunLoop::main().clock();
  return services;
}

AfterSavePrompts::AfterSavePrompts(Services services)
    : services_(std::move(services)), records_(services_.home) {}

AfterSavePrompts::~AfterSavePrompts() {
  if (alert_ && alert_->delegate() == this) alert_->setDelegate(nullptr);
}

std::string AfterSavePrompts::localized(std::string_view key) const {
  return (services_.language ? services_.language() : app::InterfaceText::current()).localized(key);
}

std::string AfterSavePrompts::country() const {
  return services_.countryCode ? services_.countryCode() : foundation::Locale::current().countryCode();
}

bool AfterSavePrompts::mayLog() const {
  return services_.logEvent && (!services_.hasPreferredLanguages || services_.hasPreferredLanguages());
}

void AfterSavePrompts::show(std::string_view titleKey, std::optional<std::string> cancel,
                            std::vector<std::string> others) {
  if (alert_ && alert_->delegate() == this) alert_->setDelegate(nullptr);
  alert_ = ui::AlertView::create(localized(titleKey), "", this, std::move(cancel), std::move(others));
  alert_->show();
}

void AfterSavePrompts::storeRecord(bool rated, std::int64_t countdown) const {
  // A failed write is logged by the records; the prompt simply comes again.
  (void)records_.writeRateRequestData(app::askRateData(services_.versionNumber, rated, countdown));
}

void AfterSavePrompts::noteEditWasSaved(std::uint64_t allEntriesNum) {
  allEntriesNum_ = allEntriesNum;
  const std::uint64_t count = allEntriesNum;
  if (count < 50) {
    if (count != 10 && count != 40) return;
    if (auto shown = records_.readAlertAboutErrors(); shown && *shown >= static_cast<int>(count)) return;
    (void)records_.createSettingsDir();
    (void)records_.writeAlertAboutErrors(static_cast<int>(count));
    show(kAboutErrors, std::nullopt, {localized("OK")});
    return;
  }
  tallyStatistic(count);
  auto decision = app::ratePromptAfterSave(records_.readRateRequestData(), services_.versionNumber);
  if (decision.store) (void)records_.writeRateRequestData(*decision.store);
  if (decision.ask) show(kDoYouLike, localized("Yes"), {localized("No")});
}

void AfterSavePrompts::tallyStatistic(std::uint64_t count) {
  if (count < 50 || count > 500 || count % 50 != 0) return;
  auto days = daysSinceFirstLaunch(records_, services_.clock->now());
  if (!days || !mayLog()) return;
  const long long from = *days < 1 ? 0 : 5 * (*days / 5);
  services_.logEvent(
      foundation::text::format("entry_added_%d", {Value(static_cast<long long>(count))}),
      foundation::Dictionary{
          {"days_interval", foundation::text::format("%d - %d ", {Value(from), Value(from + 5)})},
          {"country", country()}});
}

void AfterSavePrompts::userWasSatisfied(bool satisfied) {
  auto days = daysSinceFirstLaunch(records_, services_.clock->now());
  if (!days || !mayLog()) return;
  const long long dayNum = *days < 0 ? 0 : *days;
  services_.logEvent(satisfied ? "userSaid_YES" : "userSaid_NO",
                     foundation::Dictionary{{"dayNum", foundation::text::format("%d", {Value(dayNum)})},
                                            {"country", country()}});
}

void AfterSavePrompts::alertViewClickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) {
  auto record = records_.readRateRequestData();
  const bool rated = record && record->hadRateAtLeastOnce();
  const std::string& title = alert.title();
  if (title == localized(kDoYouLike)) {
    if (buttonIndex == 0) {
      if (!rated) userWasSatisfied(true);
      show(kWriteReview, localized("Yes"), {localized("No")});
    } else {
      if (!rated) userWasSatisfied(false);
      storeRecord(rated, 300);
      show(kFeedbackText, localized("Yes"), {localized("No")});
    }
  } else if (title == localized(kWriteReview)) {
    if (buttonIndex == 0) {
      const std::int64_t countdown = allEntriesNum_ < 150 ? 50 : allEntriesNum_ < 350 ? 100 : -1;
      storeRecord(true, countdown);
      if (services_.reviewURL && services_.openURL) services_.openURL(services_.reviewURL());
    } else {
      storeRecord(rated, 50);
    }
  } else if (title == localized(kFeedbackText)) {
    if (buttonIndex == 0) {
      show(kBugsOrSuggestion, "OK", {});
      if (services_.sendFeedbackMail) services_.sendFeedbackMail();
    }
  } else {
    // A notice ("About Errors", "BugsOrSuggestion") ends the countdown: the next save asks.
    storeRecord(rated, 0);
  }
}

}  // namespace notes_list
