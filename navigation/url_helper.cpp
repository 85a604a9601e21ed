#include "navigation/url_helper.h"

#include "analytics/tally.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/text.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/user_defaults.h"
#include "platform/ui/device.h"

namespace navigation {

using foundation::Value;

app::AnalyticsEventSink tallyEventSink() {
  return [](std::string event, foundation::Dictionary parameters) {
    analytics::Tally::logEventWithParameters(Value(std::move(event)), Value(std::move(parameters)));
  };
}

urlHelper::urlHelper() {
  services_.logEvent = tallyEventSink();
  services_.preferredLanguages = [] { return runtime::UserDefaults::standard()->preferredLanguages(); };
  services_.countryCode = [] { return foundation::Locale::current().countryCode(); };
  services_.appVersion = [] {
    Value version = runtime::Bundle::main()->objectForInfoDictionaryKey("CFBundleShortVersionString");
    const std::string* text = version.string();
    return text ? *text : std::string();
  };
}

std::string urlHelper::rait_URL() const {
  auto languages = services_.preferredLanguages ? services_.preferredLanguages() : std::vector<std::string>{};
  if (!languages.empty() && services_.logEvent) {
    services_.logEvent("tried_to_vote", foundation::Dictionary{
                                            {"lang", languages.front()},
                                            {"country", services_.countryCode ? services_.countryCode() : ""},
                                            {"deviceType", ui::device().isPad() ? "iPad" : "iPhone"}});
  }
  return std::string(kReviewPageURL);
}

std::string urlHelper::reportSubjectForMoc(store::Context* context) const {
  auto countOf = [context](const char* entity) -> long long {
    if (!context) return 0;
    auto count = context->count(store::FetchRequest(entity));
    return count.ok() ? static_cast<long long>(*count) : 0;
  };
  auto languages = services_.preferredLanguages ? services_.preferredLanguages() : std::vector<std::string>{};
  const foundation::Locale locale = foundation::Locale::current();
  return foundation::text::format(
      "Feedback: [ %@ / %.2f / %@ / b:%d / %@ / n:%d / %@(%@) ]",
      {Value(ui::device().model), Value(ui::device().systemVersionNumber()),
       Value(services_.appVersion ? services_.appVersion() : std::string()), Value(countOf("Baby")),
       Value(languages.empty() ? std::string() : languages.front()), Value(countOf("Note")),
       Value(services_.countryCode ? services_.countryCode() : locale.countryCode()),
       Value(locale.identifier())});
}

}  // namespace navigation
