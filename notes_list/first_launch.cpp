#include "notes_list/first_launch.h"

#include <cmath>
#include <string>

#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/log.h"
#include "platform/foundation/time_zone.h"

namespace notes_list {

using foundation::Date;

namespace {

// Calendars earlier versions may have written the date in, after the fixed Gregorian one.
constexpr const char* kReadingLocales[] = {"en_US_POSIX", "th_TH"};
// Imperial years count from the start of their era: Reiwa (2019) or, before it, Heisei (1989).
constexpr int kImperialEraOffsets[] = {2018, 1988};

// The file's text, if it is a file that can be read.
std::optional<std::string> readFirstLaunchText(const app::SettingsRecords& records) {
  const auto path = records.pathOf(app::kFirstLaunchFileName);
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  auto text = files::readText(path);
  if (!text.ok()) return std::nullopt;
  return *text;
}

std::optional<Date> firstLaunchDateFromText(const std::string& text, Date now) {
  std::optional<Date> best;
  // A reading a day or more ahead of now came from another calendar.
  const Date latestAllowed = now + 86400.0;
  for (const char* locale : kReadingLocales) {
    auto formatter = foundation::DateFormatter::withPattern(
        app::kFirstLaunchDateFormat, foundation::Locale(locale), foundation::TimeZone::local());
    auto date = formatter.dateFromString(text);
    if (!date || *date > latestAllowed) continue;
    if (!best || *date > *best) best = date;
  }
  // A year below 100 is an imperial year; the later era that does not lie ahead is meant.
  const auto calendar =
      foundation::Calendar::gregorian(foundation::TimeZone::local(), foundation::Locale::posix());
  const auto year = best ? calendar.component(foundation::CalendarUnit::Year, *best) : std::nullopt;
  if (year && *year < 100) {
    for (int offset : kImperialEraOffsets) {
      auto shifted = calendar.dateByAddingUnit(foundation::CalendarUnit::Year, offset, *best);
      if (shifted && *shifted <= latestAllowed) return shifted;
    }
  }
  return best;
}

}  // namespace

std::optional<Date> readFirstLaunchDate(const app::SettingsRecords& records, Date now) {
  auto text = readFirstLaunchText(records);
  return text ? firstLaunchDateFromText(*text, now) : std::nullopt;
}

std::optional<long long> daysSinceFirstLaunch(const app::SettingsRecords& records, Date now) {
  auto text = readFirstLaunchText(records);
  auto first = text ? firstLaunchDateFromText(*text, now) : std::nullopt;
  if (!first) return std::nullopt;
  // The text as the file holds it, whichever calendar wrote it.
  foundation::log("str:" + *text);
  return static_cast<long long>(std::trunc((now - *first) / 86400.0));
}

foundation::Status saveFirstLaunchFile(const app::SettingsRecords& records, Date now) {
  return records.writeFirstLaunchDate(now);
}

foundation::Status saveNotations(const app::NoteEditHelper& neh, store::Context& context,
                                 const UnitChoice& choice) {
  auto setUnit = [&neh](const char* type, unsigned number) -> app::ValueType {
    app::ValueType row = neh.getValueType(type);
    if (!row) return row;
    auto units = neh.notationByTypeId(type);
    if (number >= 1 && number <= units.size()) row.setVt_NumMeasureCurrent(units[number - 1]);
    return row;
  };
  setUnit("Weight", choice.weightNum);
  setUnit("Height", choice.heightNum);
  if (auto row = setUnit("Temperature", choice.temperNum)) {
    foundation::log(row.vt_NumMeasureCurrent().value_or(""));
    if (choice.temperNum >= 2) row.setVt_NumCurrent(98.6f);
  }
  if (auto row = setUnit("Bath", choice.temperNum); row && choice.temperNum >= 2) row.setVt_NumCurrent(98.8f);

  const bool metric = choice.weightNum == 1 || choice.heightNum == 1;
  for (const char* type : {"Food", "Drink", "Pumping", "\xD0\xA1hest Size", "Head Size"}) {
    auto units = neh.notationByTypeId(type);
    app::ValueType row = neh.getValueType(type);
    if (row && units.size() == 2) row.setVt_NumMeasureCurrent(units[metric ? 0 : 1]);
  }
  auto saved = context.save();
  if (!saved) {
    foundation::log("The chosen units could not be saved: " + saved.error().description());
    context.rollback();
  }
  return saved;
}

}  // namespace notes_list
