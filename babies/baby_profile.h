#pragma once
// The rules of a baby's profile: a new baby, a rename, an edit and a deletion, each kept in step
// with the files the baby owns beside the store (its running-timer file and their photos, its
// icon, the photos of its notes).
//
// The store is the record of which babies exist, so it is written first and the files follow only
// once the save has succeeded:
//
//   new     insert Baby, save  -> drop stale files left under the name, store the icon
//   rename  set name, save     -> move timers (and their photos) and the icon to the new name;
//                                 if a move fails, the files go back and the old name is saved again
//   delete  delete PhotoInfo rows and the Baby, save -> remove photo files, timer file, icon
//
// A failed save is rolled back, logged, returned, and touches no file. Main thread only.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/entities.h"
#include "app/local_saves.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/graphics/image.h"
#include "platform/store/context.h"

namespace babies {

inline constexpr std::string_view kBabyProfileErrorDomain = "BabyProfileErrorDomain";
enum BabyProfileErrorCode : std::int64_t {
  kBabyProfileEmptyName = 1,  // user info "key": "CantBeEmpty"
  kBabyProfileSameName = 2,   // user info "key": "TheSameName"
  kBabyProfileNoContext = 3,
  kBabyProfileNoBaby = 4,
};

// Localisation keys of the two name checks.
inline constexpr std::string_view kCantBeEmptyKey = "CantBeEmpty";
inline constexpr std::string_view kTheSameNameKey = "TheSameName";

// Gender as stored: 0 a boy, 1 a girl.
enum BabyGender : int { kBoy = 0, kGirl = 1 };

// Blood groups by their stored index; 0 is "Not set" (a localisation key), the others are shown
// as they stand.
inline constexpr int kBloodGroupCount = 9;
inline constexpr std::array<std::string_view, kBloodGroupCount> kBloodGroupTexts = {
    "Not set", "O(I)−", "O(I)+", "A(II)−", "A(II)+", "B(III)−", "B(III)+", "AB(IV)−", "AB(IV)+"};
// The text of a stored index; "Not set" for one out of range.
std::string_view bloodGroupText(std::optional<int> index);

// What the profile editor hands over.
struct BabyProfileInput {
  std::string name;  // trimmed of spaces and tabs before it is checked
  int gender = kBoy;
  int bloodGroup = 0;  // held to 0..8
  std::optional<foundation::Date> birthday;
  // A new icon to store; none keeps the one there is.
  std::optional<graphics::Image> icon;
  // The user removed the icon.
  bool removeIcon = false;
};

class BabyProfileRules {
 public:
  BabyProfileRules(std::shared_ptr<store::Context> context, std::shared_ptr<app::localSaves> saves);

  // Every Baby row (no order); empty without a context or when the fetch fails.
  std::vector<app::Baby> allBabies() const;
  // The baby of that name; empty when there is none.
  app::Baby babyNamed(std::string_view name) const;

  // The name checks: an error whose user info "key" is "CantBeEmpty" or "TheSameName" (another
  // baby than `self` already has the name); success otherwise.
  foundation::Status checkName(std::string_view name, const app::Baby& self = {}) const;

  // A new baby; its files follow the save as above. A file that cannot be written or removed
  // after the save is logged: the baby exists, and the icon can be set again.
  foundation::Result<app::Baby> addBaby(const BabyProfileInput& input);
  // Changes a baby, renaming it when the name differs.
  foundation::Status updateBaby(const app::Baby& baby, const BabyProfileInput& input);
  // Deletes the baby with its photos, timer file (and the photos of its running timers) and icon;
  // "Failed to delete the baby. Error = %@" is logged when the save fails, and then every file
  // stays. A file that cannot be removed after the save is logged; the baby is gone all the same.
  foundation::Status deleteBaby(const app::Baby& baby);

 private:
  foundation::Status saveOrRollBack();

  std::shared_ptr<store::Context> context_;
  std::shared_ptr<app::localSaves> saves_;
};

// The name with leading and trailing spaces and tabs removed.
std::string trimmedName(std::string_view name);

}  // namespace babies
