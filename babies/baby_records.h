#pragma once
// The records a baby keeps beside its notes: allergies (`Allergy`), information texts (`Info`) and
// contacts (`Contact`). Each kind is a table of its text fields, so one set of rules and one editor
// serve all three:
//
//   kind      fields (in the editor's order)                          row text
//   allergy   allergy_Id, allergy_Note                                "Id: Note"
//   info      info_Title, info_Description                            "Title: Description"
//   contact   contact_FirstName, _LastName, _Phone, _Mail, _Address,  "First Last, Phone"
//             _Description
//
// A record belongs to the baby through its to-one link and is found by the baby's name, as every
// per-baby query is. A record with every field blank is refused; a change is saved at once, and a
// failed save is rolled back, logged and returned, so the store holds the whole change or none of
// it. Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/store/context.h"

namespace babies {

// One text field of a record kind: its attribute, the text key of its label, and how it joins the
// row text after the fields before it (none: left out of the row text).
struct RecordField {
  std::string_view attribute;
  std::string_view labelKey;
  std::optional<std::string_view> rowJoiner;
};

struct RecordKind {
  std::string_view entity;
  // The to-one link to the Baby.
  std::string_view babyLink;
  // The text key of the row that adds one.
  std::string_view addKey;
  std::vector<RecordField> fields;
};

const RecordKind& allergyRecords();
const RecordKind& infoRecords();
const RecordKind& contactRecords();

// The record's fields, in the kind's order ("" for an unset one).
std::vector<std::string> recordValues(const RecordKind& kind, const store::ObjectPtr& record);
// The row a list shows for the record.
std::string recordRowText(const RecordKind& kind, const store::ObjectPtr& record);

inline constexpr std::string_view kRecordErrorDomain = "BabyRecordErrorDomain";
enum RecordErrorCode : std::int64_t {
  kRecordEmpty = 1,   // user info "key": "RecordIsEmpty"
  kRecordNoBaby = 2,  // no context, or no baby of the name
  kRecordWrongKind = 3,
};
inline constexpr std::string_view kRecordIsEmptyKey = "RecordIsEmpty";

class BabyRecords {
 public:
  BabyRecords(std::shared_ptr<store::Context> context, std::optional<std::string> babyName);

  // The baby's records of the kind, in the store's order; empty without the baby.
  std::vector<store::ObjectPtr> records(const RecordKind& kind) const;
  // Stores `values` (in the kind's field order; missing ones blank) in `record`, or in a new record
  // of the baby when `record` is null, and saves.
  foundation::Result<store::ObjectPtr> save(const RecordKind& kind, const store::ObjectPtr& record,
                                            const std::vector<std::string>& values);
  // Deletes the record and saves.
  foundation::Status remove(const store::ObjectPtr& record);

 private:
  foundation::Status saveOrRollBack(std::string_view failure);

  std::shared_ptr<store::Context> context_;
  std::optional<std::string> babyName_;
};

}  // namespace babies
