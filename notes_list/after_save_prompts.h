#pragma once
// What the notes list does after each saved note, from the number of notes in the whole store:
//
//   count 10 or 40   the "About Errors" notice, once per count (the count is kept in
//                    "alertAboutErrors.txt")
//   count >= 50      the milestone event "entry_added_<count>" at 50, 100 ... 500, then the rate
//                    rule: a countdown kept in "rateRequestData.txt" decides when to ask
//                    "Do you like this app?"
//
// The prompt chain:
//   "Do you like this app?"  Yes -> "Write an app review"  Yes -> the review page, rated
//                                                          No  -> asked again after 50 saves
//                            No  -> "Feedback text"        Yes -> "BugsOrSuggestion" + feedback mail
//                                   (asked again after 300 saves)  No -> nothing more
// Dismissing a notice ("About Errors", "BugsOrSuggestion") sets the countdown to 0, keeping the
// rated flag: the next save of 50 notes or more asks again.
//
// Files that cannot be read count as absent; failed writes are logged and the prompts go on.
// Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/settings_records.h"
#include "app/value_texts.h"
#include "platform/foundation/clock.h"
#include "platform/ui/alert.h"

namespace notes_list {

class AfterSavePrompts : public ui::AlertViewDelegate {
 public:
  struct Services {
    files::AppHome home{files::AppHome::fromEnvironment()};
    // The running application's version number ("2.3.1" is 231).
    int versionNumber = 0;
    const foundation::Clock* clock = &foundation::Clock::system();
    // The interface language; InterfaceText::current() when empty.
    std::function<app::InterfaceText()> language;
    // Whether "AppleLanguages" holds an entry; events are logged only then.
    std::function<bool()> hasPreferredLanguages;
    std::function<std::string()> countryCode;
    app::AnalyticsEventSink logEvent;
    // The review page's URL (urlHelper's rait_URL, which logs its own event), and how to open it.
    std::function<std::string()> reviewURL;
    std::function<void(const std::string& url)> openURL;
    // Opens the feedback mail to the support address.
    std::function<void()> sendFeedbackMail;

    // The running application's: its home, bundle version, Tally, preferences, URL opener.
    // sendFeedbackMail is left to the screen that owns the mail composer.
    static Services fromApplication();
  };

  explicit AfterSavePrompts(Services services);
  ~AfterSavePrompts() override;

  // After a save that left `allEntriesNum` notes in the store.
  void noteEditWasSaved(std::uint64_t allEntriesNum);
  // The milestone event, for 50, 100 ... 500 notes.
  void tallyStatistic(std::uint64_t count);
  // The answer to "Do you like this app?".
  void userWasSatisfied(bool satisfied);

  void alertViewClickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) override;

  // The alert of the chain on screen, if any.
  const std::shared_ptr<ui::AlertView>& currentAlert() const { return alert_; }

 private:
  std::string localized(std::string_view key) const;
  void show(std::string_view titleKey, std::optional<std::string> cancel, std::vector<std::string> others);
  void storeRecord(bool rated, std::int64_t countdown) const;
  std::string country() const;
  bool mayLog() const;

  Services services_;
  app::SettingsRecords records_;
  std::uint64_t allEntriesNum_ = 0;
  std::shared_ptr<ui::AlertView> alert_;
};

}  // namespace notes_list
