#include "app/settings_records.h"

#include <cctype>
#include <climits>
#include <cmath>

#include "platform/files/file_ops.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/plist/property_list.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/run_loop.h"

namespace app {

namespace fs = std::filesystem;
using foundation::Status;
using foundation::Value;

int applicationVersionNumber(std::string_view shortVersion) {
  std::string digits;
  for (char c : shortVersion) {
    if (c != '.') digits += c;
  }
  return integerValueOfText(digits);
}

int applicationVersionNumber(const runtime::Bundle& bundle) {
  const Value version = bundle.objectForInfoDictionaryKey(runtime::kBundleShortVersionStringKey);
  return applicationVersionNumber(version.stringOr(""));
}

int integerValueOfText(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  long long value = 0;
  for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

namespace {

std::int64_t numberField(plist::Decoder& decoder, std::string_view key) {
  const Value value = decoder.decodeValue(key);
  if (const bool* flag = value.boolean()) return *flag ? 1 : 0;
  if (!value.isNumber()) return 0;
  const double asDouble = value.toDouble().value_or(0);
  if (!(asDouble >= -9.0e18 && asDouble <= 9.0e18)) return 0;
  return value.toInteger().value_or(0);
}

Status logFailure(Status status, std::string_view what) {
  if (!status) foundation::log(std::string(what) + ": " + status.error().description());
  return status;
}

// A plain file's bytes; nothing for a folder, a missing file or one that cannot be read.
std::optional<foundation::Bytes> readPlainFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  auto bytes = files::readFile(path);
  if (!bytes) return std::nullopt;
  return std::move(*bytes);
}

std::optional<std::string> readPlainText(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  auto text = files::readText(path);
  if (!text) return std::nullopt;
  return std::move(*text);
}

template <class Record>
std::optional<Record> readRecord(const fs::path& path) {
  auto bytes = readPlainFile(path);
  if (!bytes || bytes->empty()) return std::nullopt;
  auto root = plist::unarchiveRootObjectOfClass<Record>(*bytes, settingsClassRegistry());
  if (!root) {
    foundation::log("Unreadable settings record " + path.string() + ": " + root.error().description());
    return std::nullopt;
  }
  if (!*root) return std::nullopt;
  return **root;
}

foundation::DateFormatter firstLaunchFormatter() {
  return foundation::DateFormatter::withPattern(kFirstLaunchDateFormat, foundation::Locale::posix(),
                                                foundation::TimeZone::local());
}

}  // namespace

void tutorialStatus::encodeWithCoder(plist::Coder& coder) const {
  coder.encodeValue("vers", Value(static_cast<long long>(vers_)));
  coder.encodeValue("state", Value(static_cast<long long>(stateNum_)));
}

std::shared_ptr<tutorialStatus> tutorialStatus::initWithCoder(plist::Decoder& decoder) {
  return std::make_shared<tutorialStatus>(numberField(decoder, "vers"), numberField(decoder, "state"));
}

void askRateData::encodeWithCoder(plist::Coder& coder) const {
  coder.encodeValue("vers", Value(static_cast<long long>(appVers_)));
  coder.encodeValue("rated", Value(hadRateAtLeastOnce_));
  coder.encodeValue("tilask", Value(static_cast<long long>(numBeforeAskToRate_)));
}

std::shared_ptr<askRateData> askRateData::initWithCoder(plist::Decoder& decoder) {
  return std::make_shared<askRateData>(numberField(decoder, "vers"), numberField(decoder, "rated") != 0,
                                       numberField(decoder, "tilask"));
}

const plist::ClassRegistry& settingsClassRegistry() {
  static const plist::ClassRegistry* const registry = [] {
    auto* made = new plist::ClassRegistry;
    made->add(std::string(tutorialStatus::kClassName), [](plist::Decoder& decoder) -> plist::ObjectPtr {
      return tutorialStatus::initWithCoder(decoder);
    });
    made->add(std::string(askRateData::kClassName), [](plist::Decoder& decoder) -> plist::ObjectPtr {
      return askRateData::initWithCoder(decoder);
    });
    return made;
  }();
  return *registry;
}

// ---------------------------------------------------------------------------------------------

SettingsRecords::SettingsRecords(files::AppHome home) : home_(std::move(home)) {}

fs::path SettingsRecords::settingsDir() const { return home_.library() / kSettingsFolderName; }

Status SettingsRecords::createSettingsDir() const {
  return logFailure(files::createDirectory(settingsDir()), "Cannot create the settings folder");
}

std::optional<tutorialStatus> SettingsRecords::readTutorialStatus() const {
  return readRecord<tutorialStatus>(pathOf(kTutorialStatusFileName));
}

Status SettingsRecords::writeTutorialStatus(const tutorialStatus& record) const {
  auto bytes = plist::archiveRootObject(record);
  if (!bytes) return logFailure(bytes.error(), "Cannot archive the tutorial state");
  if (auto status = createSettingsDir(); !status) return status;
  return logFailure(files::writeAtomic(pathOf(kTutorialStatusFileName), *bytes),
                    "Cannot save the tutorial state");
}

std::optional<askRateData> SettingsRecords::readRateRequestData() const {
  return readRecord<askRateData>(pathOf(kRateRequestDataFileName));
}

Status SettingsRecords::writeRateRequestData(const askRateData& record) const {
  auto bytes = plist::archiveRootObject(record);
  if (!bytes) return logFailure(bytes.error(), "Cannot archive the rate request data");
  if (auto status = createSettingsDir(); !status) return status;
  return logFailure(files::writeAtomic(pathOf(kRateRequestDataFileName), *bytes),
                    "Cannot save the rate request data");
}

std::optional<foundation::Date> SettingsRecords::readFirstLaunchDate() const {
  auto text = readPlainText(pathOf(kFirstLaunchFileName));
  if (!text) return std::nullopt;
  return firstLaunchFormatter().dateFromString(*text);
}

Status SettingsRecords::writeFirstLaunchDate(foundation::Date date) const {
  if (auto status = createSettingsDir(); !status) return status;
  const std::string text = firstLaunchFormatter().stringFromDate(date);
  return logFailure(files::writeText(pathOf(kFirstLaunchFileName), text, files::TextEncoding::Utf16),
                    "Cannot save the first-launch date");
}

std::optional<int> SettingsRecords::readAlertAboutErrors() const {
  auto text = readPlainText(pathOf(kAlertAboutErrorsFileName));
  if (!text) return std::nullopt;
  return integerValueOfText(*text);
}

Status SettingsRecords::writeAlertAboutErrors(int count) const {
  return logFailure(
      files::writeText(pathOf(kAlertAboutErrorsFileName), std::to_string(count), files::TextEncoding::Utf16),
      "Cannot save the error notice count");
}

// ---------------------------------------------------------------------------------------------

int initTutorialStatus(bool finished, const SettingsRecords& records,
                       const TutorialEnvironment& environment) {
  if (finished) {
    (void)records.writeTutorialStatus(tutorialStatus(environment.versionNumber, -1));
    return -1;
  }
  auto record = records.readTutorialStatus();
  if (!record) return 0;
  if (record->vers() >= environment.versionNumber) {
    const std::int64_t state = record->stateNum();
    return state < INT_MIN ? INT_MIN : state > INT_MAX ? INT_MAX : static_cast<int>(state);
  }
  // The application was updated since: the tutorial counts as done.
  (void)records.writeTutorialStatus(tutorialStatus(environment.versionNumber, -1));
  return -1;
}

Status saveTutorialState(int state, const SettingsRecords& records, const TutorialEnvironment& environment) {
  Status saved = records.writeTutorialStatus(tutorialStatus(environment.versionNumber, state));
  if (state == -1 && environment.hasPreferredLanguages) {
    if (auto firstLaunch = records.readFirstLaunchDate()) {
      const foundation::Clock& clock =
          environment.clock ? *environment.clock : runtime::RunLoop::main().clock();
      const double days = std::trunc((clock.now() - *firstLaunch) / 86400.0);
      const int dayNum = days < 0 ? 0 : days > INT_MAX ? INT_MAX : static_cast<int>(days);
      const std::string country =
          environment.countryCode ? *environment.countryCode : foundation::Locale::current().countryCode();
      if (environment.logEvent) {
        environment.logEvent("tutorial_finished",
                             foundation::Dictionary{{"dayNum", foundation::text::format("%d", {dayNum})},
                                                    {"country", country}});
      }
    }
  }
  return saved;
}

RatePromptDecision ratePromptAfterSave(const std::optional<askRateData>& record, int versionNumber) {
  RatePromptDecision decision;
  if (!record) {
    decision.ask = true;
    return decision;
  }
  const bool rated = record->hadRateAtLeastOnce();
  const std::int64_t countdown = record->numBeforeAskToRate();
  if (record->appVers() < versionNumber) {
    decision.store = askRateData(versionNumber, rated, 5);
  } else if (!rated) {
    if (countdown >= 1) {
      decision.store = askRateData(versionNumber, false, countdown - 1);
    } else {
      decision.ask = true;
    }
  } else if (countdown == 0) {
    decision.ask = true;
  } else if (countdown >= 1) {
    decision.store = askRateData(versionNumber, true, countdown - 1);
  }
  return decision;
}

}  // namespace app
