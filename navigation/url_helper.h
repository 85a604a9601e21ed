#pragma once
// urlHelper: the links the diary hands out: the review page of the application store, and the
// subject line of a feedback mail with the facts a support reply needs. Stateless; make one for
// each use. Main thread.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings_records.h"
#include "platform/store/context.h"

namespace navigation {

// Configuration values: the review page and the address that feedback mail goes to.
inline constexpr std::string_view kReviewPageURL =
    "https://apps.apple.com/app/id948541240?action=write-review";
inline constexpr std::string_view kSupportMailAddress = "support@babydiary.app";

// The analytics entry point as an event sink: Tally's logEvent with parameters.
app::AnalyticsEventSink tallyEventSink();

class urlHelper {
 public:
  struct Services {
    // Where "tried_to_vote" goes; dropped when empty.
    app::AnalyticsEventSink logEvent;
    // The "AppleLanguages" entries.
    std::function<std::vector<std::string>()> preferredLanguages;
    // The current locale's country code.
    std::function<std::string()> countryCode;
    // The bundle's short version text.
    std::function<std::string()> appVersion;
  };

  // The running application's: Tally, the standard preferences, the current locale, the bundle.
  urlHelper();
  explicit urlHelper(Services services) : services_(std::move(services)) {}

  // The review page. Logs "tried_to_vote" ("lang", "country", "deviceType") first when there is
  // a preferred language.
  std::string rait_URL() const;

  // "Feedback: [ <device model> / <system version> / <app version> / b:<babies> / <language> /
  // n:<notes> / <country>(<locale>) ]". Counts the store cannot give read as 0.
  std::string reportSubjectForMoc(store::Context* context) const;

 private:
  Services services_;
};

}  // namespace navigation
