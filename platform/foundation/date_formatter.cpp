#include "platform/foundation/date_formatter.h"

#include <unicode/datefmt.h>
#include <unicode/dtptngen.h>
#include <unicode/gregocal.h>
#include <unicode/smpdtfmt.h>

#include <cmath>

#include "platform/foundation/icu_bridge.h"

namespace foundation {

struct DateFormatter::Impl {
  Locale locale;
  TimeZone zone = TimeZone::utc();
  DateFormatterStyle dateStyle = DateFormatterStyle::None;
  DateFormatterStyle timeStyle = DateFormatterStyle::None;
  bool fixedPattern = false;
  std::string pattern;
  // Nothing while there is no pattern, or when the set pattern is not one ICU accepts.
  std::unique_ptr<icu::SimpleDateFormat> format;

  void rebuild();
};

namespace {

icu::DateFormat::EStyle icuStyle(DateFormatterStyle style) {
  switch (style) {
    case DateFormatterStyle::None:
      return icu::DateFormat::kNone;
    case DateFormatterStyle::Short:
      return icu::DateFormat::kShort;
    case DateFormatterStyle::Medium:
      return icu::DateFormat::kMedium;
    case DateFormatterStyle::Long:
      return icu::DateFormat::kLong;
    case DateFormatterStyle::Full:
      return icu::DateFormat::kFull;
  }
  return icu::DateFormat::kNone;
}

// 1 January 2000, 00:00 in the zone: where parsing takes the fields a pattern lacks from.
UDate parseDefaultMillis(const icu::TimeZone& zone) {
  UErrorCode status = U_ZERO_ERROR;
  icu::GregorianCalendar gregorian(zone, icu::Locale::getRoot(), status);
  gregorian.clear();
  gregorian.set(2000, UCAL_JANUARY, 1, 0, 0, 0);
  const UDate millis = gregorian.getTime(status);
  return U_SUCCESS(status) ? millis : 946684800000.0;
}

}  // namespace

void DateFormatter::Impl::rebuild() {
  format.reset();
  const icu::Locale icuLocale = IcuAccess::locale(locale);
  if (fixedPattern) {
    const auto text = icu_bridge::toUnicode(pattern);
    if (!text || pattern.empty()) return;
    UErrorCode status = U_ZERO_ERROR;
    auto made = std::make_unique<icu::SimpleDateFormat>(*text, icuLocale, status);
    if (U_FAILURE(status)) return;
    format = std::move(made);
  } else {
    pattern.clear();
    if (dateStyle == DateFormatterStyle::None && timeStyle == DateFormatterStyle::None) return;
    std::unique_ptr<icu::DateFormat> made(
        icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle), icuStyle(timeStyle), icuLocale));
    auto* simple = dynamic_cast<icu::SimpleDateFormat*>(made.get());
    if (simple == nullptr) return;
    made.release();
    format.reset(simple);
    icu::UnicodeString derived;
    format->toPattern(derived);
    pattern = icu_bridge::toUtf8(derived);
  }
  format->setTimeZone(IcuAccess::zone(zone));
  format->setLenient(false);
  // ICU accepts any pattern and only fails when formatting meets a letter that is no field; such
  // a pattern is treated as no pattern at all.
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Calendar> probe(format->getCalendar()->clone());
  icu::UnicodeString ignored;
  format->format(*probe, ignored, nullptr, status);
  if (U_FAILURE(status)) format.reset();
}

DateFormatter::DateFormatter() : impl_(std::make_unique<Impl>()) {
  impl_->locale = Locale::current();
  impl_->zone = TimeZone::local();
}

DateFormatter::DateFormatter(DateFormatter&&) noexcept = default;
DateFormatter& DateFormatter::operator=(DateFormatter&&) noexcept = default;
DateFormatter::~DateFormatter() = default;

DateFormatter DateFormatter::withPattern(std::string_view pattern, Locale locale, TimeZone zone) {
  DateFormatter formatter;
  formatter.impl_->locale = std::move(locale);
  formatter.impl_->zone = std::move(zone);
  formatter.setDateFormat(pattern);
  return formatter;
}

DateFormatter DateFormatter::withStyles(DateFormatterStyle dateStyle, DateFormatterStyle timeStyle,
                                        Locale locale, TimeZone zone) {
  DateFormatter formatter;
  formatter.impl_->locale = std::move(locale);
  formatter.impl_->zone = std::move(zone);
  formatter.impl_->dateStyle = dateStyle;
  formatter.impl_->timeStyle = timeStyle;
  formatter.impl_->rebuild();
  return formatter;
}

void DateFormatter::setDateFormat(std::string_view pattern) {
  impl_->fixedPattern = true;
  impl_->pattern = std::string(pattern);
  impl_->rebuild();
}

void DateFormatter::setDateStyle(DateFormatterStyle style) {
  impl_->dateStyle = style;
  impl_->fixedPattern = false;
  impl_->rebuild();
}

void DateFormatter::setTimeStyle(DateFormatterStyle style) {
  impl_->timeStyle = style;
  impl_->fixedPattern = false;
  impl_->rebuild();
}

void DateFormatter::setLocale(Locale locale) {
  impl_->locale = std::move(locale);
  impl_->rebuild();
}

void DateFormatter::setTimeZone(TimeZone zone) {
  impl_->zone = std::move(zone);
  if (impl_->format) impl_->format->setTimeZone(IcuAccess::zone(impl_->zone));
}

const std::string& DateFormatter::dateFormat() const { return impl_->pattern; }
DateFormatterStyle DateFormatter::dateStyle() const { return impl_->dateStyle; }
DateFormatterStyle DateFormatter::timeStyle() const { return impl_->timeStyle; }
const Locale& DateFormatter::locale() const { return impl_->locale; }
const TimeZone& DateFormatter::timeZone() const { return impl_->zone; }

std::string DateFormatter::stringFromDate(Date date) const {
  if (!impl_->format || !std::isfinite(date.sinceReference)) return {};
  icu::UnicodeString text;
  impl_->format->format(icu_bridge::toUDate(date), text);
  return icu_bridge::toUtf8(text);
}

std::optional<Date> DateFormatter::dateFromString(std::string_view text) const {
  if (!impl_->format || text.empty()) return std::nullopt;
  const auto unicode = icu_bridge::toUnicode(text);
  if (!unicode) return std::nullopt;

  std::unique_ptr<icu::Calendar> calendar(impl_->format->getCalendar()->clone());
  UErrorCode status = U_ZERO_ERROR;
  calendar->setTime(parseDefaultMillis(IcuAccess::zone(impl_->zone)), status);
  const int era = calendar->get(UCAL_ERA, status);
  const int year = calendar->get(UCAL_YEAR, status);
  const int month = calendar->get(UCAL_MONTH, status);
  const int day = calendar->get(UCAL_DATE, status);
  if (U_FAILURE(status)) return std::nullopt;
  calendar->clear();
  calendar->set(UCAL_ERA, era);
  calendar->set(year, month, day, 0, 0, 0);

  icu::ParsePosition position(0);
  impl_->format->parse(*unicode, *calendar, position);
  if (position.getErrorIndex() >= 0 || position.getIndex() != unicode->length()) return std::nullopt;
  const UDate millis = calendar->getTime(status);
  if (U_FAILURE(status) || !std::isfinite(millis)) return std::nullopt;
  return icu_bridge::fromUDate(millis);
}

std::optional<std::string> DateFormatter::dateFormatFromTemplate(std::string_view tmpl,
                                                                 const Locale& locale) {
  const auto skeleton = icu_bridge::toUnicode(tmpl);
  if (!skeleton || tmpl.empty()) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::DateTimePatternGenerator> generator(
      icu::DateTimePatternGenerator::createInstance(IcuAccess::locale(locale), status));
  if (U_FAILURE(status) || !generator) return std::nullopt;
  const icu::UnicodeString best = generator->getBestPattern(*skeleton, status);
  if (U_FAILURE(status) || best.isEmpty()) return std::nullopt;
  return icu_bridge::toUtf8(best);
}

}  // namespace foundation
