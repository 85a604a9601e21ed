// The diary's ten entities, the day key of a note, and the store they make on disk.

#include "app/model.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/entities.h"
#include "note_helper_fixture.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/time_zone.h"
#include "platform/store/store.h"
#include "support/temp_dir.h"

namespace {

using foundation::Date;
using note_helper_test::at;
using store::AttributeType;
using store::Predicate;

// Makes `zone` the device's time zone for one scope.
foundation::ScopedDefaultTimeZone inZone(const char* zone) {
  return foundation::ScopedDefaultTimeZone(foundation::TimeZone::withIdentifier(zone).value());
}

TEST(DiaryModel, TenEntitiesWithTheirFieldsInOrderAndConsistentLinks) {
  // Attributes in position order (the entity classes index by position) with their types: S text,
  // D date, B boolean, I 16-bit integer, N decimal, F float; "~" marks the one transient.
  const std::map<std::string, std::string> attributes{
      {"Baby", "baby_Name:S baby_BirthDay:D baby_Gender:B baby_Bood:I"},
      {"Note",
       "note_Type:S note_DateStart:D note_DateStop:D note_strValue:S note_numValue:N "
       "note_numMeasureCurrent:S note_Notice:S sectionIdentifier:S~"},
      {"PhotoInfo", "photo_Date:D photo_Path:S"},
      {"Tooth", "tooth_Num:I tooth_State:I tooth_Date:D tooth_Description:S"},
      {"Allergy", "allergy_Id:S allergy_Note:S"},
      {"Info", "info_Title:S info_Description:S"},
      {"Contact",
       "contact_FirstName:S contact_LastName:S contact_Phone:S contact_Mail:S contact_Address:S "
       "contact_Description:S"},
      {"ValueType", "vt_Type:S vt_StrCurrent:S vt_NumCurrent:F vt_NumMeasureCurrent:S"},
      {"StrValue", "strValue:S"},
      {"BabyParameter",
       "param_Type:S param_DateStart:D param_DateStop:D param_strValue:S param_numValue:N "
       "param_numMeasureCurrent:S param_Notice:S"}};
  const std::map<AttributeType, char> letters{{AttributeType::String, 'S'},  {AttributeType::Date, 'D'},
                                              {AttributeType::Boolean, 'B'}, {AttributeType::Integer16, 'I'},
                                              {AttributeType::Decimal, 'N'}, {AttributeType::Float, 'F'}};
  auto model = app::managedObjectModel();
  ASSERT_EQ(model->entities().size(), 10u);
  for (const auto& entity : model->entities()) {
    std::string fields;
    for (size_t i = 0; i < entity.attributes.size(); ++i) {
      const auto& a = entity.attributes[i];
      EXPECT_EQ(a.index, i) << a.name;
      fields += (i ? " " : "") + a.name + ":" + letters.at(a.type) + (a.transient ? "~" : "");
    }
    EXPECT_EQ(fields, attributes.at(entity.name));
    // Every link has its inverse; to-many links cascade, to-one links nullify.
    for (const auto& r : entity.relationships) {
      const auto* inverse = r.destination->relationship(r.inverseName);
      ASSERT_NE(inverse, nullptr) << r.name;
      EXPECT_EQ(inverse->inverseName, r.name);
      EXPECT_EQ(inverse->destination->name, entity.name) << r.name;
      EXPECT_EQ(r.deleteRule, r.toMany ? store::DeleteRule::Cascade : store::DeleteRule::Nullify) << r.name;
    }
  }
  EXPECT_EQ(model->entity("Note")->attribute("sectionIdentifier")->index, app::Note::kSectionIdentifier);
  EXPECT_EQ(model->entity("BabyParameter")->attribute("param_Notice")->index,
            app::BabyParameter::kParam_Notice);
  EXPECT_EQ(model->entity("Contact")->attribute("contact_Description")->index,
            app::Contact::kContact_Description);
  EXPECT_EQ(app::Note::keyPathsForValuesAffectingSectionIdentifier(),
            (std::vector<std::string>{"note_DateStop"}));
}

TEST(DayKey, YearThenTwoDigitMonthAndDayInTheCurrentZone) {
  const char *ny = "America/New_York", *saoPaulo = "America/Sao_Paulo";
  const struct {
    const char* zone;
    Date date;
    const char* key;
  } cases[] = {
      {"UTC", at("UTC", 2015, 3, 5, 12), "20150305"},
      {"UTC", at("UTC", 2016, 1, 1), "20160101"},
      {"UTC", at("UTC", 2016, 1, 1) - 0.001, "20151231"},
      {ny, at("UTC", 2015, 3, 5, 2), "20150304"},  // the evening before in New York
      {ny, at(ny, 2015, 3, 8), "20150308"},        // the day of the spring change
      {ny, at(ny, 2015, 3, 8, 23, 30), "20150308"},
      {ny, at(ny, 2015, 3, 9), "20150309"},
      {"UTC", at("UTC", 2015, 3, 5, 2), "20150305"},  // the zone in force counts, not a remembered one
      // A day that begins at 1:00, midnight being skipped.
      {saoPaulo, at(saoPaulo, 2014, 10, 18, 23, 59), "20141018"},
      {saoPaulo, at(saoPaulo, 2014, 10, 19, 1), "20141019"},
      {saoPaulo, at(saoPaulo, 2014, 10, 19, 1) - 0.001, "20141018"},
  };
  for (const auto& c : cases) {
    auto zone = inZone(c.zone);
    EXPECT_EQ(app::dayKey(c.date), c.key) << c.zone;
  }
}

class DiaryStore : public ::testing::Test {
 protected:
  void SetUp() override { open(); }
  void open() {
    store_ = store::Store::open(dir_ / "dataBase.sqlite", app::managedObjectModel()).value();
    context_ = store_->newContext().value();
  }
  void saveAndReopen() {
    ASSERT_TRUE(context_->save().ok());
    context_.reset();
    ASSERT_TRUE(store_->close().ok());
    open();
  }
  app::Baby baby(const std::string& name) {
    auto b = app::Baby::insertIn(*context_);
    b.setBaby_Name(name);
    return b;
  }
  app::Note note(const app::Baby& owner, const std::string& type, Date stop) {
    auto n = app::Note::insertIn(*context_);
    n.setNote_Type(type);
    n.setNote_DateStop(stop);
    n.setNoteToBaby(owner);
    return n;
  }
  std::vector<store::ObjectPtr> fetch(const char* entity, const char* format, const char* arg) {
    store::FetchRequest request(entity);
    request.predicate = *Predicate::parse(format, {arg});
    if (std::string_view(entity) == "Note")
      request.sortDescriptors = {{"note_DateStop", true, store::StringComparison::LocalizedCaseInsensitive}};
    return context_->fetch(request).value();
  }

  foundation::ScopedDefaultTimeZone zone_ = inZone("UTC");
  testing_support::TempDir dir_;
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
};

TEST_F(DiaryStore, NoteDayKeysFollowTheStopDate) {
  auto anna = baby("Anna");
  auto late = note(anna, "Sleep", at("UTC", 2015, 12, 31, 23, 59));
  note(anna, "Sleep", at("UTC", 2016, 1, 1, 0, 0));
  EXPECT_EQ(late.sectionIdentifier(), "20151231");
  late.setNote_DateStop(at("UTC", 2016, 2, 3, 4, 5));
  EXPECT_EQ(late.sectionIdentifier(), "20160203") << "replaced at once";
  EXPECT_EQ(late.makeSI(), "20160203");
  late.setNote_DateStop(at("UTC", 2016, 2, 3, 20, 0));
  {
    // Setting the same date again takes the key anew, in the zone then in force.
    auto tokyo = inZone("Asia/Tokyo");
    EXPECT_EQ(late.sectionIdentifier(), "20160203") << "a kept key stays until the date is set";
    late.setNote_DateStop(late.note_DateStop());
    EXPECT_EQ(late.sectionIdentifier(), "20160204");
  }
  late.setNote_DateStop(at("UTC", 2015, 12, 31, 23, 59));
  saveAndReopen();

  auto notes = fetch("Note", "noteToBaby.baby_Name == %@", "Anna");
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(app::Note(notes[0]).sectionIdentifier(), "20151231") << "computed on first access after loading";
  EXPECT_EQ(app::Note(notes[1]).sectionIdentifier(), "20160101");
}

TEST_F(DiaryStore, DeletingABabyLeavesNothingBehind) {
  auto anna = baby("Anna");
  for (int i = 0; i < 5; ++i) note(anna, "Sleep", Date{i * 3600.0});
  auto withPhoto = note(anna, "Note", Date{99999});
  auto photo = app::PhotoInfo::insertIn(*context_);
  photo.setPhoto_Path("_2016_January_01_08_00_7");
  photo.setPhotoInfoToBaby(anna);
  photo.setPhotoInfoToNote(withPhoto);
  EXPECT_EQ(withPhoto.noteToPhotoInfo(), photo);
  app::Tooth::insertIn(*context_).setToothToBaby(anna);
  app::Allergy::insertIn(*context_).setAllergyToBaby(anna);
  app::Info::insertIn(*context_).setInfoToBaby(anna);
  app::Contact::insertIn(*context_).setContactToBaby(anna);
  app::BabyParameter::insertIn(*context_).setParameterToBaby(anna);
  note(baby("Bob"), "WC", Date{5});
  EXPECT_EQ(anna.babyToNote().size(), 6u);
  saveAndReopen();

  context_->deleteObject(fetch("Baby", "baby_Name == %@", "Anna").at(0));
  saveAndReopen();
  for (const char* entity : {"Note", "PhotoInfo", "Tooth", "Allergy", "Info", "Contact", "BabyParameter"})
    EXPECT_EQ(context_->count(store::FetchRequest(entity)).value(), std::string(entity) == "Note" ? 1u : 0u)
        << entity;
  EXPECT_EQ(app::Note(fetch("Note", "noteToBaby.baby_Name == %@", "Bob").at(0)).note_Type(), "WC");
}

TEST_F(DiaryStore, ValuesOfEveryKindSurviveTheStoreThroughTheEntityClasses) {
  auto anna = baby("Anna");
  anna.setBaby_Gender(true);
  anna.setBaby_Bood(4);
  auto n = note(anna, "Breast Feeding", Date{600});
  n.setNote_DateStart(Date{500});
  n.setNote_strValue("Left Breast");
  n.setNote_numValue(foundation::Decimal::fromInteger(5));
  n.setNote_numMeasureCurrent("12");
  n.setNote_Notice("Сон");
  auto tooth = app::Tooth::insertIn(*context_);
  tooth.setTooth_Num(3);
  tooth.setTooth_State(10);
  tooth.setToothToBaby(anna);
  auto vt = app::ValueType::insertIn(*context_);
  vt.setVt_Type("Temperature");
  vt.setVt_NumCurrent(98.6f);
  auto sub = app::StrValue::insertIn(*context_);
  sub.setStrValue("Сurd");
  vt.addValueTypeToStrValueObject(sub);
  saveAndReopen();

  app::Baby loadedBaby(fetch("Baby", "baby_Name == %@", "Anna").at(0));
  EXPECT_EQ(loadedBaby.baby_Gender(), true);
  EXPECT_EQ(loadedBaby.baby_Bood(), 4);
  const app::Note loadedNote = loadedBaby.babyToNote().at(0);
  EXPECT_EQ(loadedNote.noteToBaby(), loadedBaby);
  EXPECT_EQ(loadedNote.note_DateStart(), Date{500});
  EXPECT_EQ(loadedNote.note_strValue(), "Left Breast");
  EXPECT_EQ(loadedNote.note_numValue(), foundation::Decimal::fromInteger(5));
  EXPECT_EQ(loadedNote.note_numMeasureCurrent(), "12");
  EXPECT_EQ(loadedNote.note_Notice(), "Сон");
  EXPECT_EQ(loadedBaby.babyToTooth().at(0).tooth_Num(), 3);
  EXPECT_EQ(loadedBaby.babyToTooth().at(0).tooth_State(), 10);
  auto rows = fetch("ValueType", "vt_Type == %@", "Temperature");
  app::ValueType loaded(rows.at(0));
  EXPECT_EQ(loaded.vt_NumCurrent(), 98.6f);
  ASSERT_EQ(loaded.valueTypeToStrValue().size(), 1u);
  EXPECT_EQ(loaded.valueTypeToStrValue()[0].strValue(), "Сurd");
  EXPECT_FALSE(app::Note(rows[0])) << "a ValueType is not a Note";
}

}  // namespace
