#pragma once
// noteStatisticHelper: the per-type totals of one day of the PDF report and their texts. The report
// job counts every note of a day with countNote(), reads the totals with getAllStatistic() when
// the day is complete, and empties the object with clearAllStatistic() before the next day.
//
// Durations are summed for the types with a start and a stop (for "Breast Feeding" the stored left
// and right minutes), values for the summable types in the unit the user had when the object was
// made. Used by one thread at a time (the report job's).

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/note_edit_helper.h"
#include "app/value_texts.h"

namespace reports {

// The running totals of one note type.
struct sumInfo {
  std::int64_t count = 0;
  double period = 0;       // seconds
  double periodLeft = 0;   // seconds, "Breast Feeding" only
  double periodRight = 0;  // seconds, "Breast Feeding" only
  double val = 0;          // in the type's current unit
  bool gotPeriod = false;
  bool gotVal = false;
};

// The texts of one type's totals; the optional ones only when that kind of total was added.
struct TypeStatistic {
  std::string id;         // the type key
  std::string get_count;  // "%ld"
  std::optional<std::string> valWithMeasure;
  std::optional<std::string> time;
  std::optional<std::string> time_l;  // "Breast Feeding" with left minutes
  std::optional<std::string> time_r;  // "Breast Feeding" with right minutes
  friend bool operator==(const TypeStatistic&, const TypeStatistic&) = default;
};

class noteStatisticHelper {
 public:
  struct Services {
    // The interface language of the texts; InterfaceText::current() when empty.
    std::function<app::InterfaceText()> language;
    // The device's first preferred language; durations lose their blanks for "ja" and "zh-Hans".
    std::function<std::optional<std::string>()> preferredLanguage;
  };

  // Captures the current unit of every summable type (creating its ValueType row when missing).
  // Without a helper nothing is ever summed.
  explicit noteStatisticHelper(std::optional<app::NoteEditHelper> neh, Services services = {});

  void countNote(const app::Note& note);
  void clearAllStatistic() { sumDict_.clear(); }
  // Nothing when no note of the type was counted.
  std::optional<TypeStatistic> getStatistic(const std::string& type) const;
  // The counted types in the default type order (never the user's order).
  std::vector<TypeStatistic> getAllStatistic() const;
  std::string getTimeIntervalAndCount(double seconds) const;

  const std::map<std::string, std::string>& valTypesDictionary() const { return valTypesDictionary_; }

 private:
  void updateValTypesInfo();
  app::InterfaceText language() const;

  std::optional<app::NoteEditHelper> neh_;
  Services services_;
  std::map<std::string, std::string> valTypesDictionary_;
  std::map<std::string, sumInfo> sumDict_;
};

}  // namespace reports
