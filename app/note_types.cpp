#include "app/note_types.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/foundation/value.h"
#include "platform/plist/property_list.h"

namespace app {

namespace {

struct TypeRow {
  std::string_view key;
  std::string_view icon;
  int dates;
};

namespace nt = note_type;

// The user's order lives in Library/Settings beside the other settings records.
constexpr std::string_view kOrderFolder = "Settings";
constexpr std::string_view kOrderFile = "categoriesSequence.txt";

constexpr std::array<TypeRow, 24> kTypeTable{{
    {nt::kBreastFeeding, "icon_breast_feeding", 2},
    {nt::kSleep, "icon_sleep", 2},
    {nt::kWC, "icon_wc", 1},
    {nt::kWalk, "icon_walk", 2},
    {nt::kFood, "icon_food", 1},
    {nt::kDrink, "icon_drink", 1},
    {nt::kPumping, "icon_pumping", 2},
    {nt::kBath, "icon_bath", 2},
    {nt::kActivity, "icon_activity", 2},
    {nt::kMood, "icon_mood", 1},
    {nt::kWeight, "icon_weight", 1},
    {nt::kHeight, "icon_height", 1},
    {nt::kChestSize, "icon_chest_size", 1},
    {nt::kHeadSize, "icon_head_size", 1},
    {nt::kProcedure, "icon_procedure", 1},
    {nt::kHealth, "icon_health", 2},
    {nt::kTemperature, "icon_temperature", 1},
    {nt::kMedicine, "icon_medicine", 1},
    {nt::kVaccine, "icon_vaccine", 1},
    {nt::kDoctor, "icon_doctor", 1},
    {nt::kMilestone, "icon_milestone", 1},
    {nt::kPool, "icon_pool", 1},
    {nt::kEvent, "icon_event", 1},
    {nt::kNote, "icon_note", 1},
}};

const TypeRow* rowOf(std::string_view type) {
  for (const auto& row : kTypeTable) {
    if (row.key == type) return &row;
  }
  return nullptr;
}

}  // namespace

const std::vector<std::string>& defaultTypeIds() {
  static const std::vector<std::string> ids = [] {
    std::vector<std::string> out;
    for (const auto& row : kTypeTable) out.emplace_back(row.key);
    return out;
  }();
  return ids;
}

const std::vector<std::string>& growthTypeIds() {
  static const std::vector<std::string> ids{std::string(nt::kWeight), std::string(nt::kHeight),
                                            std::string(nt::kChestSize), std::string(nt::kHeadSize)};
  return ids;
}

bool isKnownType(std::string_view type) { return rowOf(type) != nullptr; }

std::optional<std::string> iconNameForType(std::string_view type) {
  const TypeRow* row = rowOf(type);
  if (!row) return std::nullopt;
  return std::string(row->icon);
}

int datesOfType(std::optional<std::string_view> type) {
  if (!type) return 1;
  const TypeRow* row = rowOf(*type);
  return row ? row->dates : 1;
}

bool splitsAtDayBoundaries(std::optional<std::string_view> type) {
  return datesOfType(type) == 2 && *type != nt::kBreastFeeding && *type != nt::kPumping;
}

bool isSummedType(std::optional<std::string_view> type) {
  return type && (*type == nt::kFood || *type == nt::kDrink || *type == nt::kPumping);
}

CategoriesSequence::CategoriesSequence(const std::filesystem::path& library)
    : path_(library / kOrderFolder / kOrderFile) {}

std::vector<std::string> CategoriesSequence::merged(const std::vector<std::string>& stored) {
  std::vector<std::string> pending = defaultTypeIds();
  std::vector<std::string> result;
  result.reserve(pending.size());
  for (const auto& entry : stored) {
    auto it = std::find(pending.begin(), pending.end(), entry);
    if (it == pending.end()) continue;  // unknown, or already placed
    result.push_back(std::move(*it));
    pending.erase(it);
  }
  for (auto& key : pending) result.push_back(std::move(key));
  return result;
}

std::vector<std::string> CategoriesSequence::read() const {
  std::optional<std::vector<std::string>> stored;
  if (auto bytes = files::readFile(path_); bytes.ok()) {
    if (auto value = plist::readPropertyList(*bytes); value.ok() && value->isArray()) {
      stored.emplace();
      for (const auto& entry : *value->array()) {
        // Entries that are not text cannot be keys; they are dropped like unknown ones.
        if (const std::string* text = entry.string()) stored->push_back(*text);
      }
    }
  }
  if (stored) return merged(*stored);

  // No usable order: put the default one in its place so the order editor starts from it.
  const std::vector<std::string>& defaults = defaultTypeIds();
  if (auto made = files::createDirectory(path_.parent_path()); !made.ok()) {
    foundation::log("Cannot create the settings folder: " + made.error().description());
  } else if (auto saved = save(defaults); !saved.ok()) {
    foundation::log("Cannot write the note-type order: " + saved.error().description());
  }
  return defaults;
}

foundation::Status CategoriesSequence::save(const std::vector<std::string>& keys) const {
  foundation::Array array;
  array.reserve(keys.size());
  for (const auto& key : keys) array.emplace_back(key);
  auto bytes = plist::writePropertyList(foundation::Value(std::move(array)), plist::Format::Xml);
  if (!bytes.ok()) return bytes.error();
  return files::writeAtomic(path_, *bytes);
}

}  // namespace app
