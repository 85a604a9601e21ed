#include "babies/teeth.h"

#include <algorithm>

#include "babies/screen_support.h"
#include "platform/foundation/log.h"

namespace babies {

namespace {

foundation::Error teethError(TeethErrorCode code, std::string_view what) {
  return foundation::Error::make(std::string(kTeethErrorDomain), code, std::string(what));
}

graphics::Rect lifted(const graphics::Rect& rect, int num) {
  return graphics::Rect(rect.x(), rect.y() - (num >= 10 ? kLowerJawLift : 0), rect.width(), rect.height());
}

}  // namespace

const std::array<ToothSpotPlace, kToothCount>& toothSpotPlaces() {
  static constexpr std::array<ToothSpotPlace, kToothCount> kSpots = {{
      {"tooth_left_up5", false, 48, 159, 0.8f},    {"tooth_left_up4", false, 58, 110, 0.7f},
      {"tooth_left_up3", false, 78, 73.5, 0.5f},   {"tooth_left_up2", false, 103, 50, 0.5f},
      {"tooth_left_up1", false, 138, 43, 0.5f},    {"tooth_left_up1", true, 182, 43, 0.5f},
      {"tooth_left_up2", true, 217, 50, 0.5f},     {"tooth_left_up3", true, 242, 73.5, 0.5f},
      {"tooth_left_up4", true, 262, 110, 0.7f},    {"tooth_left_up5", true, 272, 159, 0.8f},
      {"tooth_left_down1", true, 264, 269, 0.96f}, {"tooth_left_down2", true, 249, 324, 0.7f},
      {"tooth_left_down3", true, 224, 353, 0.44f}, {"tooth_left_down4", true, 198, 367, 0.4f},
      {"tooth_left_down5", true, 173, 374, 0.34f}, {"tooth_left_down5", false, 147, 374, 0.34f},
      {"tooth_left_down4", false, 122, 367, 0.4f}, {"tooth_left_down3", false, 96, 353, 0.44f},
      {"tooth_left_down2", false, 71, 324, 0.7f},  {"tooth_left_down1", false, 56, 269, 0.96f},
  }};
  return kSpots;
}

ToothColors chartToothColors() {
  return {graphics::Color::rgb255(201, 203, 206), graphics::Color::rgb255(140, 127, 243),
          graphics::Color::rgb255(160, 94, 255, 0.88f)};
}

std::vector<toothSpotInfo> makeToothSpots(const ToothColors& colors) {
  std::vector<toothSpotInfo> spots;
  spots.reserve(kToothCount);
  for (const auto& place : toothSpotPlaces())
    spots.emplace_back(graphics::Point{place.x, place.y}, place.radiusK, place.image, place.mirrored,
                       colors.notAppeared, colors.appeared, colors.lost);
  return spots;
}

graphics::Rect toothDrawnRect(const toothSpotInfo& spot, int num) { return lifted(spot.drawRect(), num); }

graphics::Rect toothTouchRect(const toothSpotInfo& spot, int num) { return lifted(spot.touchRect(), num); }

int toothStateOf(const std::vector<app::Tooth>& teeth, int num) {
  std::optional<int> highest;
  for (const auto& tooth : teeth)
    if (tooth.tooth_Num() == num) highest = std::max(highest.value_or(0), tooth.tooth_State().value_or(0));
  return highest ? *highest / 10 : 0;
}

std::optional<foundation::Date> toothDateOf(const std::vector<app::Tooth>& teeth, int num, int state) {
  for (const auto& tooth : teeth)
    if (tooth.tooth_Num() == num && tooth.tooth_State() == state) return tooth.tooth_Date();
  return std::nullopt;
}

TeethRecords::TeethRecords(std::shared_ptr<store::Context> context, std::optional<std::string> babyName)
    : context_(std::move(context)), babyName_(std::move(babyName)) {}

app::Baby TeethRecords::baby() const {
  if (!context_ || !babyName_) return {};
  auto rows = rowsOfBaby(*context_, app::Baby::kEntityName, "baby_Name == %@", *babyName_);
  return rows.empty() ? app::Baby() : app::Baby(rows.front());
}

std::vector<app::Tooth> TeethRecords::teeth() const {
  std::vector<app::Tooth> out;
  if (!context_ || !babyName_) return out;
  for (auto& row : rowsOfBaby(*context_, app::Tooth::kEntityName, "toothToBaby.baby_Name == %@", *babyName_))
    out.emplace_back(row);
  return out;
}

std::optional<int> TeethRecords::nextState(int num) const {
  if (num < 0 || num >= kToothCount) return std::nullopt;
  switch (toothStateOf(teeth(), num)) {
    case 0: return kToothAppeared;
    case 1: return kToothLost;
    default: return std::nullopt;
  }
}

std::optional<foundation::Date> TeethRecords::earliestNextDate(int num) const {
  if (nextState(num) != kToothLost) return std::nullopt;
  return toothDateOf(teeth(), num, kToothAppeared);
}

foundation::Result<app::Tooth> TeethRecords::recordNextEvent(int num, foundation::Date date) {
  const app::Baby owner = baby();
  if (!owner) return teethError(kTeethNoBaby, "no baby to record the tooth for");
  if (num < 0 || num >= kToothCount) return teethError(kTeethNoSuchTooth, "no such tooth");
  const auto state = nextState(num);
  if (!state) return teethError(kTeethAlreadyLost, "the tooth is lost already");
  if (auto earliest = earliestNextDate(num); earliest && date < *earliest)
    return teethError(kTeethLostBeforeAppearing, "a tooth cannot be lost before it appeared");
  auto tooth = app::Tooth::insertIn(*context_);
  tooth.setTooth_Num(num);
  tooth.setTooth_State(*state);
  tooth.setTooth_Date(date);
  tooth.setTooth_Description(std::string());
  tooth.setToothToBaby(owner);
  if (auto saved = context_->save(); !saved) {
    context_->rollback();
    foundation::log("Failed to save the tooth. Error = " + saved.error().description());
    return saved.error();
  }
  return tooth;
}

}  // namespace babies
