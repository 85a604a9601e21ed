#include "babies/baby_records.h"

#include <algorithm>

#include "babies/baby_profile.h"
#include "babies/screen_support.h"
#include "platform/foundation/log.h"

namespace babies {

using foundation::Value;

namespace {

foundation::Error recordError(RecordErrorCode code, std::string_view what, std::string_view key = {}) {
  foundation::Error error = foundation::Error::make(std::string(kRecordErrorDomain), code, std::string(what));
  if (!key.empty()) error.userInfo.set("key", Value(std::string(key)));
  return error;
}

bool blank(const std::string& text) { return trimmedName(text).empty(); }

}  // namespace

const RecordKind& allergyRecords() {
  static const RecordKind kind{"Allergy", "allergyToBaby", "Add allergy",
                               {{"allergy_Id", "Allergen", ""}, {"allergy_Note", "Note", ": "}}};
  return kind;
}

const RecordKind& infoRecords() {
  static const RecordKind kind{"Info", "infoToBaby", "Add information",
                               {{"info_Title", "Title", ""}, {"info_Description", "Description", ": "}}};
  return kind;
}

const RecordKind& contactRecords() {
  static const RecordKind kind{"Contact",
                               "contactToBaby",
                               "Add contact",
                               {{"contact_FirstName", "First name", ""},
                                {"contact_LastName", "Last name", " "},
                                {"contact_Phone", "Phone", ", "},
                                {"contact_Mail", "E-mail", std::nullopt},
                                {"contact_Address", "Address", std::nullopt},
                                {"contact_Description", "Description", std::nullopt}}};
  return kind;
}

std::vector<std::string> recordValues(const RecordKind& kind, const store::ObjectPtr& record) {
  std::vector<std::string> values;
  for (const auto& field : kind.fields) {
    const std::string* text = record ? record->value(field.attribute).string() : nullptr;
    values.push_back(text ? *text : std::string());
  }
  return values;
}

std::string recordRowText(const RecordKind& kind, const store::ObjectPtr& record) {
  const auto values = recordValues(kind, record);
  std::string text;
  for (size_t i = 0; i < kind.fields.size(); ++i) {
    const auto& joiner = kind.fields[i].rowJoiner;
    if (!joiner || values[i].empty()) continue;
    if (!text.empty()) text += *joiner;
    text += values[i];
  }
  return text;
}

BabyRecords::BabyRecords(std::shared_ptr<store::Context> context, std::optional<std::string> babyName)
    : context_(std::move(context)), babyName_(std::move(babyName)) {}

std::vector<store::ObjectPtr> BabyRecords::records(const RecordKind& kind) const {
  if (!context_ || !babyName_) return {};
  return rowsOfBaby(*context_, kind.entity, std::string(kind.babyLink) + ".baby_Name == %@", *babyName_);
}

foundation::Status BabyRecords::saveOrRollBack(std::string_view failure) {
  auto saved = context_->save();
  if (!saved) {
    context_->rollback();
    foundation::log(std::string(failure) + " Error = " + saved.error().description());
  }
  return saved;
}

foundation::Result<store::ObjectPtr> BabyRecords::save(const RecordKind& kind, const store::ObjectPtr& record,
                                                       const std::vector<std::string>& values) {
  if (std::all_of(values.begin(), values.end(), blank))
    return recordError(kRecordEmpty, "every field of the record is blank", kRecordIsEmptyKey);
  if (!context_ || !babyName_) return recordError(kRecordNoBaby, "no baby to keep the record");
  if (record && record->entity().name != kind.entity)
    return recordError(kRecordWrongKind, "the record is of another kind");
  store::ObjectPtr target = record;
  if (!target) {
    auto babies = rowsOfBaby(*context_, "Baby", "baby_Name == %@", *babyName_);
    if (babies.empty()) return recordError(kRecordNoBaby, "no baby of that name");
    target = context_->insertNewObject(kind.entity);
    if (auto linked = target->setToOne(kind.babyLink, babies.front()); !linked) {
      context_->rollback();
      return linked.error();
    }
  }
  for (size_t i = 0; i < kind.fields.size(); ++i) {
    const std::string value = i < values.size() ? values[i] : std::string();
    if (auto set = target->setValue(kind.fields[i].attribute, Value(value)); !set) {
      context_->rollback();
      return set.error();
    }
  }
  if (auto saved = saveOrRollBack("Failed to save the record."); !saved) return saved.error();
  return target;
}

foundation::Status BabyRecords::remove(const store::ObjectPtr& record) {
  if (!context_ || !record || record->isDeleted()) return recordError(kRecordNoBaby, "no record to delete");
  context_->deleteObject(record);
  return saveOrRollBack("Failed to delete the record.");
}

}  // namespace babies
