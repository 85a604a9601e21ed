#pragma once
// The 20-tooth chart's data: where each tooth's spot sits, the state a baby's Tooth records give it,
// and the rules of recording a tooth event. The chart screen and the report's tooth page both draw
// from here, so a tooth stands in the same place on both.
//
// A tooth moves one way only:
//
//   not appeared --record (state 10, a date)--> appeared --record (state 20, a date no earlier
//   than the appearance)--> lost
//
// A record is saved at once; a failed save is rolled back, logged and returned, so the store holds
// either the whole event or nothing of it. Main thread only.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/entities.h"
#include "babies/tooth_spot_info.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/graphics/color.h"
#include "platform/store/context.h"

namespace babies {

inline constexpr int kToothCount = 20;
// `tooth_State` values.
inline constexpr int kToothAppeared = 10;
inline constexpr int kToothLost = 20;

// One spot of the chart, in the chart's own coordinates: the image named (mirrored for the right-hand
// teeth), its centre and the factor its touch area takes of its drawn size.
struct ToothSpotPlace {
  const char* image;
  bool mirrored;
  double x, y;
  float radiusK;
};
// Spots 0-4 upper left, 5-9 upper right, 10-14 lower right, 15-19 lower left (the tooth number).
const std::array<ToothSpotPlace, kToothCount>& toothSpotPlaces();
// The lower jaw's spots are drawn this far above their centres, closing the gap between the jaws.
inline constexpr double kLowerJawLift = 20;
// The chart's size in its own coordinates: every spot lies inside it.
inline constexpr double kChartWidth = 320;
inline constexpr double kChartHeight = 400;

// The three colours of a spot: not appeared, appeared, lost.
struct ToothColors {
  graphics::Color notAppeared, appeared, lost;
};
// The chart's colours on the screen's white (those of the printed report).
ToothColors chartToothColors();
// The 20 spots, in tooth order, each in state 0.
std::vector<toothSpotInfo> makeToothSpots(const ToothColors& colors);
// Where spot `num` is drawn: its drawRect, the lower jaw lifted.
graphics::Rect toothDrawnRect(const toothSpotInfo& spot, int num);
// Where it takes a touch: its touchRect, lifted alike.
graphics::Rect toothTouchRect(const toothSpotInfo& spot, int num);

// The spot state of tooth `num` from a baby's records: the highest `tooth_State` among its records
// divided by 10 (1 appeared, 2 lost), 0 when it has none.
int toothStateOf(const std::vector<app::Tooth>& teeth, int num);
// The date of the first record of tooth `num` with that state, if any.
std::optional<foundation::Date> toothDateOf(const std::vector<app::Tooth>& teeth, int num, int state);

inline constexpr std::string_view kTeethErrorDomain = "TeethErrorDomain";
enum TeethErrorCode : std::int64_t {
  kTeethNoBaby = 1,                // no context, or no baby of the name
  kTeethNoSuchTooth = 2,           // a number outside 0-19
  kTeethAlreadyLost = 3,           // nothing follows a loss
  kTeethLostBeforeAppearing = 4,   // a loss dated before the appearance
};

class TeethRecords {
 public:
  TeethRecords(std::shared_ptr<store::Context> context, std::optional<std::string> babyName);

  // The baby's Tooth records, in the store's order; empty without the baby.
  std::vector<app::Tooth> teeth() const;
  // The state `tooth_State` the next event of tooth `num` records: 10 for a tooth with no record,
  // 20 for an appeared one, nothing for a lost one or a number outside 0-19.
  std::optional<int> nextState(int num) const;
  // The earliest date the next event may carry: the appearance date for a loss, else none.
  std::optional<foundation::Date> earliestNextDate(int num) const;
  // Records the next event of tooth `num` on `date` and saves (description left empty).
  foundation::Result<app::Tooth> recordNextEvent(int num, foundation::Date date);

 private:
  app::Baby baby() const;

  std::shared_ptr<store::Context> context_;
  std::optional<std::string> babyName_;
};

}  // namespace babies
