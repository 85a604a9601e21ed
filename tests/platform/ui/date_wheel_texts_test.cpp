// A date picker keeps what it writes its wheels with from one draw to the next; whatever it kept,
// a change of language, locale, time zone or mode shows on the very next draw.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/civil_time.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"
#include "platform/graphics/recording_canvas.h"
#include "platform/ui/picker_view.h"
#include "platform/ui/render.h"
#include "ui_fixture.h"

namespace {

using foundation::testing_dates::at;

class DateWheelTexts : public ui_testing::UiTest {
 protected:
  DateWheelTexts() : locale_(foundation::Locale("en_US")), zone_(foundation::TimeZone::utc()) {
    picker.setDate(at(2026, 12, 7, 23, 30));
  }

  // The texts in the selection band, left to right, as drawn now.
  std::vector<std::string> middle() {
    graphics::RecordingCanvas canvas;
    ui::renderView(picker, canvas);
    std::vector<std::string> shown;
    for (const auto& text : canvas.texts())
      if (text.font.pointSize() == 21) shown.push_back(text.text);
    return shown;
  }

  foundation::ScopedDefaultLocale locale_;
  foundation::ScopedDefaultTimeZone zone_;
  ui::DatePicker picker{ui::Rect(0, 0, 320, 216)};
};

TEST_F(DateWheelTexts, ALanguageOrLocaleChangeShowsAtOnce) {
  picker.setMode(ui::DatePickerMode::kDate);
  EXPECT_EQ(middle(), (std::vector<std::string>{"December", "7", "2026"}));
  {
    // The interface language changes the current locale: the month's own name, in its own order.
    foundation::ScopedDefaultLocale russian(foundation::Locale("ru_RU"));
    EXPECT_EQ(middle(), (std::vector<std::string>{"7", "декабрь", "2026"}));
    EXPECT_EQ(picker.shownText(), "7 декабря 2026\u202Fг.");
  }
  EXPECT_EQ(middle(), (std::vector<std::string>{"December", "7", "2026"}));
  // A locale of the picker's own wins over the current one, and giving it up falls back again.
  picker.setLocale(foundation::Locale("de_DE"));
  EXPECT_EQ(middle(), (std::vector<std::string>{"7", "Dezember", "2026"}));
  picker.setLocale(std::nullopt);
  EXPECT_EQ(middle(), (std::vector<std::string>{"December", "7", "2026"}));
}

TEST_F(DateWheelTexts, ATimeZoneOrModeChangeShowsAtOnce) {
  struct Step {
    ui::DatePickerMode mode;
    const char* zone;  // the local zone from this step on
    std::vector<std::string> middle;
    const char* shown;
  };
  using M = ui::DatePickerMode;
  const Step steps[] = {
      {M::kDateAndTime, "UTC", {"Mon Dec 7", "11", "30", "PM"}, "Dec 7, 2026, 11:30\u202FPM"},
      {M::kDateAndTime, "Asia/Tokyo", {"Tue Dec 8", "8", "30", "AM"}, "Dec 8, 2026, 8:30\u202FAM"},
      {M::kDate, "America/New_York", {"December", "7", "2026"}, "December 7, 2026"},
      {M::kTime, "Asia/Kolkata", {"5", "00", "AM"}, "5:00\u202FAM"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.shown);
    foundation::TimeZone::setDefault(foundation::TimeZone::withIdentifier(step.zone));
    picker.setMode(step.mode);
    EXPECT_EQ(middle(), step.middle);
    EXPECT_EQ(picker.shownText(), step.shown);
  }
  // A turn of the hour wheel counts in the zone shown: 5 AM in Kolkata and two hours on.
  picker.turnWheel(0, 2);
  EXPECT_EQ(middle(), (std::vector<std::string>{"7", "00", "AM"}));
  EXPECT_EQ(picker.date(), at(2026, 12, 8, 1, 30));
}

}  // namespace
