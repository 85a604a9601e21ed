#pragma once
// The 24 note types: their keys, default order, icons, how many dates they carry, which are cut at
// day boundaries and which are summed, and the user's own order of them kept in
// Library/Settings/categoriesSequence.txt.
//
// Keys are compared exactly (case-sensitive, byte for byte). "Сhest Size" begins with U+0421
// CYRILLIC CAPITAL LETTER ES; the same words with a Latin C are no key at all.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"

namespace app {

namespace note_type {
inline constexpr std::string_view kBreastFeeding = "Breast Feeding";
inline constexpr std::string_view kSleep = "Sleep";
inline constexpr std::string_view kWC = "WC";
inline constexpr std::string_view kWalk = "Walk";
inline constexpr std::string_view kFood = "Food";
inline constexpr std::string_view kDrink = "Drink";
inline constexpr std::string_view kPumping = "Pumping";
inline constexpr std::string_view kBath = "Bath";
inline constexpr std::string_view kActivity = "Activity";
inline constexpr std::string_view kMood = "Mood";
inline constexpr std::string_view kWeight = "Weight";
inline constexpr std::string_view kHeight = "Height";
inline constexpr std::string_view kChestSize = "\u0421hest Size";  // Cyrillic Es, not a Latin C
inline constexpr std::string_view kHeadSize = "Head Size";
inline constexpr std::string_view kProcedure = "Procedure";
inline constexpr std::string_view kHealth = "Health";
inline constexpr std::string_view kTemperature = "Temperature";
inline constexpr std::string_view kMedicine = "Medicine";
inline constexpr std::string_view kVaccine = "Vaccine";
inline constexpr std::string_view kDoctor = "Doctor";
inline constexpr std::string_view kMilestone = "Milestone";
inline constexpr std::string_view kPool = "Pool";
inline constexpr std::string_view kEvent = "Event";
inline constexpr std::string_view kNote = "Note";
}  // namespace note_type

// Names of the lists NoteEditHelper::getTypeIds knows besides the full one.
inline constexpr std::string_view kGrowthTypesList = "growthTypes";
inline constexpr std::string_view kUserList = "userList";

// Measures of the summary chart besides unit keys.
inline constexpr std::string_view kShowCount = "show_count";
inline constexpr std::string_view kShowHours = "show_hours";

// The 24 keys in the default order.
const std::vector<std::string>& defaultTypeIds();
// "Weight", "Height", "Сhest Size", "Head Size".
const std::vector<std::string>& growthTypeIds();
bool isKnownType(std::string_view type);

// The icon image name of a type; nothing for an unknown key.
std::optional<std::string> iconNameForType(std::string_view type);
// 2 for the types with a start and a stop, 1 for every other key (unknown ones included).
int datesOfType(std::optional<std::string_view> type);
// Two-date types other than "Breast Feeding" and "Pumping": their durations are cut at midnight.
bool splitsAtDayBoundaries(std::optional<std::string_view> type);
// "Food", "Drink" and "Pumping": their values add up per day.
bool isSummedType(std::optional<std::string_view> type);

// The user's order of the note types.
class CategoriesSequence {
 public:
  // The order file under the Library folder: Library/Settings/categoriesSequence.txt.
  explicit CategoriesSequence(const std::filesystem::path& library);

  const std::filesystem::path& path() const { return path_; }

  // The user's order merged with the defaults: stored keys first, in stored order, each known key
  // once at its first place (unknown entries dropped), then the keys the file lacks in default
  // order. When there is no usable file (missing, unreadable, not an array) the default order is
  // written in its place (the Settings folder is created) and returned. Reading never rewrites
  // a usable file.
  std::vector<std::string> read() const;

  // Writes the keys as they are, atomically, as an XML property-list array. The Settings folder
  // is not created here; writing fails when it is missing.
  foundation::Status save(const std::vector<std::string>& keys) const;

  // The merge rule on its own: the known keys of `stored` in order, each once, then the rest of
  // the defaults in default order.
  static std::vector<std::string> merged(const std::vector<std::string>& stored);

 private:
  std::filesystem::path path_;
};

}  // namespace app
