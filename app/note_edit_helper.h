#pragma once
// NoteEditHelper: the stateless rules of the 24 note types that every screen showing or editing
// notes asks: type lists and the user's order, icons, dates, summary measures, the ValueType row
// of a type with its defaults and sub-values, units and conversions, number-picker ranges, and the
// texts of values, time ranges, durations, ages and elapsed time.
//
// A screen makes its own helper. The helper reaches the application's store context, its Library
// folder, the clock and the interface language through an Environment; the application installs
// its own once at launch (setApplicationEnvironment) and default-constructed helpers use it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/entities.h"
#include "app/note_types.h"
#include "app/units.h"
#include "app/value_texts.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/store/context.h"

namespace app {

class NoteEditHelper {
 public:
  struct Environment {
    // The application delegate's context; nullptr while there is none.
    std::function<std::shared_ptr<store::Context>()> context;
    // The application's Library folder (the order file lives in its "Settings" folder).
    std::filesystem::path library;
    // "Now" for durations measured from the present; the main run loop's clock when null.
    const foundation::Clock* clock = nullptr;
    // The interface language; InterfaceText::current() at each use when empty.
    std::function<InterfaceText()> language;
  };

  // The application's environment (as installed), or an empty one: no context, the Library of
  // the home named by the environment variables.
  NoteEditHelper();
  explicit NoteEditHelper(Environment environment);

  // Installs the environment default-constructed helpers use.
  static void setApplicationEnvironment(Environment environment);

  // --- Type lists, icons, dates and sums

  // "growthTypes": the four growth types; "userList": the user's order; anything else (empty and
  // nothing included): the 24 keys in default order.
  std::vector<std::string> getTypeIds(std::optional<std::string_view> listName) const;
  // Writes the user's order (after the order editor changed it); nothing for no list.
  foundation::Status saveNewTypeList(const std::optional<std::vector<std::string>>& keys) const;
  std::optional<std::string> getIconPath(std::optional<std::string_view> type) const;
  int howManyDates(std::optional<std::string_view> type) const;
  bool shouldSplitTheTimeBy24h(std::optional<std::string_view> type) const;
  bool canUseValueForSums(std::optional<std::string_view> type) const;
  // The summary chart's measures: "show_count", "show_hours" for two-date types and the current
  // unit of a summed type, in reverse order when there is more than one.
  std::vector<std::string> getSumsForType(std::optional<std::string_view> type) const;

  // --- Value types

  // The type's row, fetched with unsaved changes included and created with the type's defaults
  // (and saved) on first use. Empty without a context or a key, or when creating or saving fails
  // (logged; a row whose save failed stays in the context and is found next time).
  ValueType getValueType(std::optional<std::string_view> type) const;
  // Applies the defaults of the row's type; does not save.
  void initValueType(const ValueType& valueType) const;
  // Adds one sub-value, translated into the interface language when the table knows it; it
  // becomes the current one when there is none yet. Does not save.
  void setStrValueToValueType(const ValueType& valueType, std::optional<std::string_view> text) const;
  // For the screenshot tools: a fixed demo sub-value as the current one.
  void setUpForScreenshots(const ValueType& valueType) const;

  // --- Units

  std::vector<std::string> notationByTypeId(std::optional<std::string_view> type) const;
  double convetrMl_to_Oz(double x) const { return convertMlToOz(x); }
  double convetrOz_to_Ml(double x) const { return convertOzToMl(x); }
  double convetrG_to_Oz(double x) const { return convertGToOz(x); }
  double convetrOz_to_G(double x) const { return convertOzToG(x); }
  double convetrCelsius_to_Fahrenheit(double x) const { return convertCelsiusToFahrenheit(x); }
  double convetrFahrenheit_to_Celsius(double x) const { return convertFahrenheitToCelsius(x); }
  double convetrCm_to_Inch(double x) const { return convertCmToInch(x); }
  double convetrInch_to_Cm(double x) const { return convertInchToCm(x); }
  double convetrKg_to_Lbs(double x) const { return convertKgToLbs(x); }
  double convetrLbs_to_Kg(double x) const { return convertLbsToKg(x); }
  double convertNotationToOpposite(std::optional<std::string_view> type,
                                   std::optional<std::string_view> source,
                                   std::optional<std::string_view> target, double value) const;
  IntegerRange getTypeIntegerRange(std::optional<std::string_view> type,
                                   std::optional<std::string_view> unitKey) const;

  // --- Texts, in the interface language

  // The language the texts below are written in now (a caller writing many takes it once).
  InterfaceText language() const;
  std::string getCurrentNumValueStr(std::optional<std::string_view> type, std::optional<double> number,
                                    std::optional<std::string_view> unitKey) const;
  std::string getCurrentValues(std::optional<std::string_view> type, std::optional<std::string_view> subValue,
                               std::optional<double> number, std::optional<std::string_view> unitText) const;
  std::vector<std::string> getDateAndDurationStrings(std::optional<std::string_view> type,
                                                     std::optional<foundation::Date> start,
                                                     std::optional<foundation::Date> stop,
                                                     std::optional<double> number,
                                                     std::optional<std::string_view> unitText,
                                                     bool shortWeekdays) const;
  std::string getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(foundation::Date from,
                                                                          foundation::Date to, bool addAgo,
                                                                          bool useShortVers) const;
  std::string getIntervalBetween2DatesString(foundation::Date from, foundation::Date to) const;
  std::string getDayString(std::int32_t count) const;
  std::string getMonthString(std::int32_t count) const;
  std::string getYearString(std::int32_t count) const;

 private:
  const foundation::Clock& clock() const;

  Environment environment_;
};

}  // namespace app
