#include "babies/baby_profile.h"

#include <algorithm>

#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/store/predicate.h"

namespace babies {

using foundation::Error;
using foundation::Status;
using foundation::Value;

namespace {

Error profileError(BabyProfileErrorCode code, std::string_view key = {}) {
  foundation::Dictionary info;
  if (!key.empty()) info.set("key", Value(std::string(key)));
  return Error(std::string(kBabyProfileErrorDomain), code, std::move(info));
}

std::vector<store::ObjectPtr> fetchWhere(store::Context& context, std::string_view entity,
                                         std::string_view format, std::string_view name) {
  store::FetchRequest request{std::string(entity)};
  auto predicate = store::Predicate::parse(format, {Value(std::string(name))});
  if (!predicate) return {};
  request.predicate = predicate.value();
  auto rows = context.fetch(request);
  return rows ? std::move(rows).value() : std::vector<store::ObjectPtr>{};
}

void logFileFailure(std::string_view what, const Status& status) {
  if (!status) foundation::log(std::string(what) + ": " + status.error().description());
}

}  // namespace

std::string_view bloodGroupText(std::optional<int> index) {
  if (!index || *index < 0 || *index >= kBloodGroupCount) return kBloodGroupTexts[0];
  return kBloodGroupTexts[static_cast<size_t>(*index)];
}

std::string trimmedName(std::string_view name) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!name.empty() && blank(name.front())) name.remove_prefix(1);
  while (!name.empty() && blank(name.back())) name.remove_suffix(1);
  return std::string(name);
}

BabyProfileRules::BabyProfileRules(std::shared_ptr<store::Context> context,
                                   std::shared_ptr<app::localSaves> saves)
    : context_(std::move(context)), saves_(std::move(saves)) {}

std::vector<app::Baby> BabyProfileRules::allBabies() const {
  std::vector<app::Baby> out;
  if (!context_) return out;
  auto rows = context_->fetch(store::FetchRequest{std::string(app::Baby::kEntityName)});
  if (!rows) return out;
  for (auto& row : rows.value()) out.emplace_back(row);
  return out;
}

app::Baby BabyProfileRules::babyNamed(std::string_view name) const {
  if (!context_) return {};
  auto rows = fetchWhere(*context_, app::Baby::kEntityName, "baby_Name == %@", name);
  return rows.empty() ? app::Baby() : app::Baby(rows.front());
}

Status BabyProfileRules::checkName(std::string_view name, const app::Baby& self) const {
  const std::string trimmed = trimmedName(name);
  if (trimmed.empty()) return profileError(kBabyProfileEmptyName, kCantBeEmptyKey);
  if (!context_) return profileError(kBabyProfileNoContext);
  for (auto& row : fetchWhere(*context_, app::Baby::kEntityName, "baby_Name == %@", trimmed)) {
    if (!self || row != self.object()) return profileError(kBabyProfileSameName, kTheSameNameKey);
  }
  return {};
}

Status BabyProfileRules::saveOrRollBack() {
  auto saved = context_->save();
  if (!saved) context_->rollback();
  return saved;
}

namespace {

void applyFields(const app::Baby& baby, const std::string& name, const BabyProfileInput& input) {
  baby.setBaby_Name(name);
  baby.setBaby_BirthDay(input.birthday);
  baby.setBaby_Gender(input.gender != kBoy);
  baby.setBaby_Bood(std::clamp(input.bloodGroup, 0, kBloodGroupCount - 1));
}

}  // namespace

foundation::Result<app::Baby> BabyProfileRules::addBaby(const BabyProfileInput& input) {
  if (auto checked = checkName(input.name, {}); !checked) return checked.error();
  const std::string name = trimmedName(input.name);
  auto baby = app::Baby::insertIn(*context_);
  if (!baby) return profileError(kBabyProfileNoContext);
  applyFields(baby, name, input);
  if (auto saved = saveOrRollBack(); !saved) {
    foundation::log("Failed to save the new MainData. Error = " + saved.error().description());
    return saved.error();
  }
  if (saves_) {
    // Files a baby of the same name left behind are not this baby's.
    logFileFailure("Stale timers of the new baby stay", saves_->deleteTimerArray(name));
    logFileFailure("Stale icon of the new baby stays", saves_->deleteIcon(name));
    if (input.icon)
      logFileFailure("The icon of the new baby was not stored", saves_->saveIcon(*input.icon, name));
  }
  return baby;
}

Status BabyProfileRules::updateBaby(const app::Baby& baby, const BabyProfileInput& input) {
  if (!baby || baby.isDeleted()) return profileError(kBabyProfileNoBaby);
  if (auto checked = checkName(input.name, baby); !checked) return checked.error();
  const std::optional<std::string> oldName = baby.baby_Name();
  const std::string name = trimmedName(input.name);
  applyFields(baby, name, input);
  if (auto saved = saveOrRollBack(); !saved) {
    foundation::log("Failed to save the new MainData. Error = " + saved.error().description());
    return saved.error();
  }
  if (!saves_) return {};

  const bool renamed = oldName && !oldName->empty() && *oldName != name;
  if (!renamed) {
    if (input.icon) return saves_->saveIcon(*input.icon, name);
    if (input.removeIcon) return saves_->deleteIcon(name);
    return {};
  }

  // The store holds the new name now; the files follow. Should one of them not move, the ones
  // moved go back and the old name is saved again, so store and files still agree.
  auto putBack = [&](const Error& error) -> Status {
    logFileFailure("Restoring the timers of a baby whose rename failed",
                   saves_->replaceTempInfo(name, *oldName));
    baby.setBaby_Name(*oldName);
    if (auto saved = saveOrRollBack(); !saved)
      foundation::log("Failed to save the new MainData. Error = " + saved.error().description());
    return error;
  };
  if (auto moved = saves_->replaceTempInfo(*oldName, name); !moved) {
    baby.setBaby_Name(*oldName);
    if (auto saved = saveOrRollBack(); !saved)
      foundation::log("Failed to save the new MainData. Error = " + saved.error().description());
    return moved.error();
  }
  std::optional<graphics::Image> icon = input.icon;
  if (!icon && !input.removeIcon) icon = saves_->getIcon(*oldName);
  if (icon) {
    if (auto stored = saves_->saveIcon(*icon, name); !stored) return putBack(stored.error());
  }
  logFileFailure("The old icon of a renamed baby stays", saves_->deleteIcon(*oldName));
  return {};
}

Status BabyProfileRules::deleteBaby(const app::Baby& baby) {
  if (!context_) return profileError(kBabyProfileNoContext);
  if (!baby || baby.isDeleted()) return profileError(kBabyProfileNoBaby);
  const std::optional<std::string> name = baby.baby_Name();

  std::vector<std::string> photoKeys;
  if (name) {
    for (auto& row :
         fetchWhere(*context_, app::PhotoInfo::kEntityName, "photoInfoToBaby.baby_Name == %@", *name)) {
      if (auto key = app::PhotoInfo(row).photo_Path()) photoKeys.push_back(*key);
      context_->deleteObject(row);
    }
  }
  context_->deleteObject(baby.object());
  if (auto saved = saveOrRollBack(); !saved) {
    foundation::log("Failed to delete the baby. Error = " + saved.error().description());
    return saved.error();
  }

  // The rows are gone for good; now their files may go.
  if (!saves_) return {};
  for (const auto& key : photoKeys)
    logFileFailure("A photo of a deleted baby stays", saves_->deletePhoto(key));
  if (name && !name->empty()) {
    if (auto timers = saves_->loadTimerArray(*name)) {
      for (const auto& timer : *timers) {
        if (timer && timer->param_ImgPathNum() && *timer->param_ImgPathNum() >= 0)
          logFileFailure("A timer photo of a deleted baby stays",
                         saves_->deleteTempPhotoPhotoNum(*name, *timer->param_ImgPathNum()));
      }
    }
    logFileFailure("The timers of a deleted baby stay", saves_->deleteTimerArray(*name));
    logFileFailure("The icon of a deleted baby stays", saves_->deleteIcon(*name));
  }
  return {};
}

}  // namespace babies
