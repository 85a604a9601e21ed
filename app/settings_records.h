#pragma once
// The small settings files in Library/"Settings" and the two records kept there: the step the
// first-use badges have reached (`tutorialStatus`) and the state of the rate prompt
// (`askRateData`). Both carry the application version number that wrote them, so that an
// update can start them again.
//
// Reading never fails loudly: a file that is missing, a folder, empty, truncated or of another
// kind reads as absent. Writing is atomic and a failure is logged and returned.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/app_home.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/plist/keyed_archive.h"

namespace runtime {
class Bundle;
}

namespace app {

inline constexpr std::string_view kSettingsFolderName = "Settings";
inline constexpr std::string_view kTutorialStatusFileName = "tutorialStatus.txt";
inline constexpr std::string_view kFirstLaunchFileName = "firstLaunch.txt";
inline constexpr std::string_view kRateRequestDataFileName = "rateRequestData.txt";
inline constexpr std::string_view kAlertAboutErrorsFileName = "alertAboutErrors.txt";
// The pattern of the first-launch date.
inline constexpr std::string_view kFirstLaunchDateFormat = "yyyy.MM.dd";

// The application version number: the short version with every "." removed, its leading digits
// read as a decimal number ("2.1.3" is 213); 0 when it does not start with a digit.
int applicationVersionNumber(std::string_view shortVersion);
// The same for the bundle's "CFBundleShortVersionString".
int applicationVersionNumber(const runtime::Bundle& bundle);

// The text's integer value the way the platform reads one: leading white space, an optional
// sign and the digits that follow; 0 when there are none; held at the limits of int.
int integerValueOfText(std::string_view text);

class tutorialStatus : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "tutorialStatus";

  tutorialStatus() = default;
  tutorialStatus(std::int64_t vers, std::int64_t stateNum) : vers_(vers), stateNum_(stateNum) {}

  std::string className() const override { return std::string(kClassName); }
  // "vers" then "state", both as number objects.
  void encodeWithCoder(plist::Coder& coder) const override;
  // A missing or non-numeric field reads as 0.
  static std::shared_ptr<tutorialStatus> initWithCoder(plist::Decoder& decoder);

  std::int64_t vers() const { return vers_; }
  void setVers(std::int64_t value) { vers_ = value; }
  std::int64_t stateNum() const { return stateNum_; }
  void setStateNum(std::int64_t value) { stateNum_ = value; }

  friend bool operator==(const tutorialStatus& a, const tutorialStatus& b) {
    return a.vers_ == b.vers_ && a.stateNum_ == b.stateNum_;
  }

 private:
  std::int64_t vers_ = 0;
  std::int64_t stateNum_ = 0;
};

class askRateData : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "askRateData";

  askRateData() = default;
  askRateData(std::int64_t appVers, bool hadRateAtLeastOnce, std::int64_t numBeforeAskToRate)
      : appVers_(appVers), hadRateAtLeastOnce_(hadRateAtLeastOnce), numBeforeAskToRate_(numBeforeAskToRate) {}

  std::string className() const override { return std::string(kClassName); }
  // "vers", "rated", "tilask", as number objects.
  void encodeWithCoder(plist::Coder& coder) const override;
  static std::shared_ptr<askRateData> initWithCoder(plist::Decoder& decoder);

  std::int64_t appVers() const { return appVers_; }
  void setAppVers(std::int64_t value) { appVers_ = value; }
  bool hadRateAtLeastOnce() const { return hadRateAtLeastOnce_; }
  void setHadRateAtLeastOnce(bool value) { hadRateAtLeastOnce_ = value; }
  // Saved notes still to go before the next prompt; negative: never again.
  std::int64_t numBeforeAskToRate() const { return numBeforeAskToRate_; }
  void setNumBeforeAskToRate(std::int64_t value) { numBeforeAskToRate_ = value; }

  friend bool operator==(const askRateData& a, const askRateData& b) {
    return a.appVers_ == b.appVers_ && a.hadRateAtLeastOnce_ == b.hadRateAtLeastOnce_ &&
           a.numBeforeAskToRate_ == b.numBeforeAskToRate_;
  }

 private:
  std::int64_t appVers_ = 0;
  bool hadRateAtLeastOnce_ = false;
  std::int64_t numBeforeAskToRate_ = 0;
};

// The registry that knows both record classes.
const plist::ClassRegistry& settingsClassRegistry();

// The files of Library/"Settings".
class SettingsRecords {
 public:
  explicit SettingsRecords(files::AppHome home);

  std::filesystem::path settingsDir() const;
  std::filesystem::path pathOf(std::string_view fileName) const { return settingsDir() / fileName; }
  // Makes Library/"Settings" with any missing parents.
  foundation::Status createSettingsDir() const;

  // "tutorialStatus.txt". Writing makes the folder when it is missing.
  std::optional<tutorialStatus> readTutorialStatus() const;
  foundation::Status writeTutorialStatus(const tutorialStatus& record) const;

  // "rateRequestData.txt". Writing makes the folder when it is missing.
  std::optional<askRateData> readRateRequestData() const;
  foundation::Status writeRateRequestData(const askRateData& record) const;

  // "firstLaunch.txt": the date as "yyyy.MM.dd" in UTF-16 with a byte-order mark, in the local
  // time zone. Reading gives the start of that day; nothing when the file is not a plain file
  // whose text is such a date.
  std::optional<foundation::Date> readFirstLaunchDate() const;
  // Makes the folder when it is missing.
  foundation::Status writeFirstLaunchDate(foundation::Date date) const;

  // "alertAboutErrors.txt": a note count as "%d" in UTF-16. Reading gives the text's integer
  // value; nothing when the file is not a plain file holding text.
  std::optional<int> readAlertAboutErrors() const;
  foundation::Status writeAlertAboutErrors(int count) const;

 private:
  files::AppHome home_;
};

// Where analytics events go: the event name and its parameters. An empty sink drops them.
using AnalyticsEventSink = std::function<void(std::string event, foundation::Dictionary parameters)>;

// What the tutorial rules need from the running application.
struct TutorialEnvironment {
  int versionNumber = 0;
  const foundation::Clock* clock = &foundation::Clock::system();
  // Whether the "AppleLanguages" preference holds at least one entry.
  bool hasPreferredLanguages = true;
  // The current locale's country code; the process's current locale when not given.
  std::optional<std::string> countryCode;
  AnalyticsEventSink logEvent;
};

// The tutorial step at launch (finished NO) or after a restore (finished YES): 0 without a
// usable record; the stored step when the record's version is the running one or newer; -1
// (finished) after an update or a restore, which also rewrites the record with the running
// version.
int initTutorialStatus(bool finished, const SettingsRecords& records, const TutorialEnvironment& environment);
// Writes the step with the running version. When the tutorial is finished (-1), there is a
// preferred language and the first-launch date is known, logs "tutorial_finished" with
// "dayNum" (whole days since the first launch, at least 0) and "country".
foundation::Status saveTutorialState(int state, const SettingsRecords& records,
                                     const TutorialEnvironment& environment);

// The rate prompt's decision after a save that brought the store to 50 notes or more, from the
// stored record (nothing when it is unusable) and the running version: whether to ask, and the
// record to store (asking stores nothing).
struct RatePromptDecision {
  bool ask = false;
  std::optional<askRateData> store;
};
RatePromptDecision ratePromptAfterSave(const std::optional<askRateData>& record, int versionNumber);

}  // namespace app
