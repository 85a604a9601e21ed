// The diary's ten entities, the day key of a note, and the store they make on disk.

#include "app/model.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <string>

#include "app/entities.h"
#include "platform/store/fetched_results.h"
#include "platform/store/store.h"
#include "support/temp_dir.h"

namespace {

using foundation::Date;
using store::AttributeType;
using store::DeleteRule;

// Pins the process time zone for one test.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> previous_;
};

// Seconds since 2001 of a wall-clock time in the current time zone.
Date localDate(int year, int month, int day, int hour = 0, int minute = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  return Date::fromUnix(static_cast<double>(std::mktime(&t)));
}

std::string scalar(const std::filesystem::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  std::string out = "<error>";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
    out = "";
    if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0))
      out = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

TEST(DiaryModel, DeclaresTheTenEntitiesWithTheirFields) {
  auto model = app::managedObjectModel();
  struct Attr {
    const char* entity;
    const char* name;
    AttributeType type;
  };
  const Attr attributes[] = {
      {"Baby", "baby_Name", AttributeType::String},
      {"Baby", "baby_BirthDay", AttributeType::Date},
      {"Baby", "baby_Gender", AttributeType::Boolean},
      {"Baby", "baby_Bood", AttributeType::Integer16},
      {"Note", "note_Type", AttributeType::String},
      {"Note", "note_DateStart", AttributeType::Date},
      {"Note", "note_DateStop", AttributeType::Date},
      {"Note", "note_strValue", AttributeType::String},
      {"Note", "note_numValue", AttributeType::Decimal},
      {"Note", "note_numMeasureCurrent", AttributeType::String},
      {"Note", "note_Notice", AttributeType::String},
      {"Note", "sectionIdentifier", AttributeType::String},
      {"PhotoInfo", "photo_Date", AttributeType::Date},
      {"PhotoInfo", "photo_Path", AttributeType::String},
      {"Tooth", "tooth_Num", AttributeType::Integer16},
      {"Tooth", "tooth_State", AttributeType::Integer16},
      {"Tooth", "tooth_Date", AttributeType::Date},
      {"Tooth", "tooth_Description", AttributeType::String},
      {"Allergy", "allergy_Id", AttributeType::String},
      {"Allergy", "allergy_Note", AttributeType::String},
      {"Info", "info_Title", AttributeType::String},
      {"Info", "info_Description", AttributeType::String},
      {"Contact", "contact_FirstName", AttributeType::String},
      {"Contact", "contact_LastName", AttributeType::String},
      {"Contact", "contact_Phone", AttributeType::String},
      {"Contact", "contact_Mail", AttributeType::String},
      {"Contact", "contact_Address", AttributeType::String},
      {"Contact", "contact_Description", AttributeType::String},
      {"ValueType", "vt_Type", AttributeType::String},
      {"ValueType", "vt_StrCurrent", AttributeType::String},
      {"ValueType", "vt_NumCurrent", AttributeType::Float},
      {"ValueType", "vt_NumMeasureCurrent", AttributeType::String},
      {"StrValue", "strValue", AttributeType::String},
      {"BabyParameter", "param_Type", AttributeType::String},
      {"BabyParameter", "param_DateStart", AttributeType::Date},
      {"BabyParameter", "param_DateStop", AttributeType::Date},
      {"BabyParameter", "param_strValue", AttributeType::String},
      {"BabyParameter", "param_numValue", AttributeType::Decimal},
      {"BabyParameter", "param_numMeasureCurrent", AttributeType::String},
      {"BabyParameter", "param_Notice", AttributeType::String},
  };
  std::map<std::string, size_t> perEntity;
  for (const Attr& a : attributes) {
    const auto* entity = model->entity(a.entity);
    ASSERT_NE(entity, nullptr) << a.entity;
    const auto* attribute = entity->attribute(a.name);
    ASSERT_NE(attribute, nullptr) << a.name;
    EXPECT_EQ(attribute->type, a.type) << a.name;
    EXPECT_EQ(attribute->transient, std::string(a.name) == "sectionIdentifier") << a.name;
    ++perEntity[a.entity];
  }
  EXPECT_EQ(model->entities().size(), 10u);
  for (const auto& entity : model->entities())
    EXPECT_EQ(entity.attributes.size(), perEntity[entity.name]) << entity.name;

  struct Rel {
    const char* entity;
    const char* name;
    const char* destination;
    const char* inverse;
    bool toMany;
    DeleteRule rule;
  };
  const Rel relationships[] = {
      {"Baby", "babyToNote", "Note", "noteToBaby", true, DeleteRule::Cascade},
      {"Baby", "babyToPhotoInfo", "PhotoInfo", "photoInfoToBaby", true, DeleteRule::Cascade},
      {"Baby", "babyToTooth", "Tooth", "toothToBaby", true, DeleteRule::Cascade},
      {"Baby", "babyToAllergy", "Allergy", "allergyToBaby", true, DeleteRule::Cascade},
      {"Baby", "babyToInfo", "Info", "infoToBaby", true, DeleteRule::Cascade},
      {"Baby", "babyToContact", "Contact", "contactToBaby", true, DeleteRule::Cascade},
      {"Baby", "babyToParameter", "BabyParameter", "parameterToBaby", true, DeleteRule::Cascade},
      {"Note", "noteToBaby", "Baby", "babyToNote", false, DeleteRule::Nullify},
      {"Note", "noteToPhotoInfo", "PhotoInfo", "photoInfoToNote", false, DeleteRule::Nullify},
      {"PhotoInfo", "photoInfoToBaby", "Baby", "babyToPhotoInfo", false, DeleteRule::Nullify},
      {"PhotoInfo", "photoInfoToNote", "Note", "noteToPhotoInfo", false, DeleteRule::Nullify},
      {"Tooth", "toothToBaby", "Baby", "babyToTooth", false, DeleteRule::Nullify},
      {"Allergy", "allergyToBaby", "Baby", "babyToAllergy", false, DeleteRule::Nullify},
      {"Info", "infoToBaby", "Baby", "babyToInfo", false, DeleteRule::Nullify},
      {"Contact", "contactToBaby", "Baby", "babyToContact", false, DeleteRule::Nullify},
      {"ValueType", "valueTypeToStrValue", "StrValue", "strValueToValueType", true, DeleteRule::Cascade},
      {"StrValue", "strValueToValueType", "ValueType", "valueTypeToStrValue", false, DeleteRule::Nullify},
      {"BabyParameter", "parameterToBaby", "Baby", "babyToParameter", false, DeleteRule::Nullify},
  };
  std::map<std::string, size_t> relCount;
  for (const Rel& r : relationships) {
    const auto* rel = model->entity(r.entity)->relationship(r.name);
    ASSERT_NE(rel, nullptr) << r.name;
    EXPECT_EQ(rel->destination->name, r.destination) << r.name;
    EXPECT_EQ(rel->inverseName, r.inverse) << r.name;
    EXPECT_EQ(rel->toMany, r.toMany) << r.name;
    EXPECT_EQ(rel->deleteRule, r.rule) << r.name;
    ++relCount[r.entity];
  }
  for (const auto& entity : model->entities())
    EXPECT_EQ(entity.relationships.size(), relCount[entity.name]) << entity.name;

  // The entity classes index attributes by position.
  const auto* note = model->entity("Note");
  EXPECT_EQ(note->attribute("note_DateStop")->index, app::Note::kNote_DateStop);
  EXPECT_EQ(note->attribute("sectionIdentifier")->index, app::Note::kSectionIdentifier);
  EXPECT_EQ(model->entity("BabyParameter")->attribute("param_Notice")->index,
            app::BabyParameter::kParam_Notice);
  EXPECT_EQ(model->entity("Contact")->attribute("contact_Description")->index,
            app::Contact::kContact_Description);
  EXPECT_EQ(model->entity("ValueType")->attribute("vt_NumMeasureCurrent")->index,
            app::ValueType::kVt_NumMeasureCurrent);
  EXPECT_EQ(app::Note::keyPathsForValuesAffectingSectionIdentifier(),
            (std::vector<std::string>{"note_DateStop"}));
}

TEST(DayKey, YearThenTwoDigitMonthAndDayInTheCurrentZone) {
  ScopedTimeZone zone("UTC");
  EXPECT_EQ(app::dayKey(localDate(2015, 3, 5, 12)), "20150305");
  EXPECT_EQ(app::dayKey(localDate(2015, 12, 31, 23, 59)), "20151231");
  EXPECT_EQ(app::dayKey(localDate(2016, 1, 1, 0, 0)), "20160101");
  EXPECT_EQ(app::dayKey(localDate(2016, 1, 1, 0, 0) - 0.001), "20151231");
  const Date instant = localDate(2015, 3, 5, 2);
  {
    ScopedTimeZone newYork("America/New_York");
    EXPECT_EQ(app::dayKey(instant), "20150304") << "2:00 UTC is the evening before in New York";
    EXPECT_EQ(app::dayKey(localDate(2015, 3, 8, 0)), "20150308") << "day of the spring change";
    EXPECT_EQ(app::dayKey(localDate(2015, 3, 8, 23, 30)), "20150308");
    EXPECT_EQ(app::dayKey(localDate(2015, 3, 9, 0)), "20150309");
  }
  EXPECT_EQ(app::dayKey(instant), "20150305") << "the zone in force counts, not a remembered one";
}

class DiaryStore : public ::testing::Test {
 protected:
  void SetUp() override { open(); }
  void open() {
    auto opened = store::Store::open(path(), app::managedObjectModel());
    ASSERT_TRUE(opened.ok()) << opened.error().description();
    store_ = *opened;
    context_ = *store_->newContext();
  }
  void reopen() {
    context_.reset();
    ASSERT_TRUE(store_->close().ok());
    open();
  }
  std::filesystem::path path() const { return dir_ / "dataBase.sqlite"; }
  store::Context& ctx() { return *context_; }
  app::Baby baby(const std::string& name) {
    auto b = app::Baby::insertIn(ctx());
    b.setBaby_Name(name);
    return b;
  }
  app::Note note(const app::Baby& owner, const std::string& type, Date stop) {
    auto n = app::Note::insertIn(ctx());
    n.setNote_Type(type);
    n.setNote_DateStart(stop);
    n.setNote_DateStop(stop);
    n.setNoteToBaby(owner);
    return n;
  }
  void save() {
    auto status = ctx().save();
    ASSERT_TRUE(status.ok()) << status.error().description();
  }

  ScopedTimeZone zone_{"UTC"};
  testing_support::TempDir dir_;
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
};

TEST_F(DiaryStore, NoteDayKeysFollowTheStopDate) {
  auto anna = baby("Anna");
  auto late = note(anna, "Sleep", localDate(2015, 12, 31, 23, 59));
  auto early = note(anna, "Sleep", localDate(2016, 1, 1, 0, 0));
  EXPECT_EQ(late.sectionIdentifier(), "20151231");
  EXPECT_EQ(early.sectionIdentifier(), "20160101");
  late.setNote_DateStop(localDate(2016, 2, 3, 4, 5));
  EXPECT_EQ(late.sectionIdentifier(), "20160203") << "replaced at once";
  EXPECT_EQ(late.makeSI(), "20160203");
  late.setNote_DateStop(localDate(2015, 12, 31, 23, 59));
  save();
  reopen();

  store::FetchRequest request("Note");
  request.sortDescriptors = {{"note_DateStop", true, store::StringComparison::LocalizedCaseInsensitive}};
  auto notes = *ctx().fetch(request);
  ASSERT_EQ(notes.size(), 2u);
  app::Note first(notes[0]), second(notes[1]);
  EXPECT_EQ(first.sectionIdentifier(), "20151231") << "computed on first access after loading";
  EXPECT_EQ(second.sectionIdentifier(), "20160101") << "the new year's note sorts after";
  EXPECT_EQ(first.noteToBaby().baby_Name(), "Anna");
}

TEST_F(DiaryStore, NotesListGroupsByDayNewestFirst) {
  auto anna = baby("Anna");
  auto bob = baby("Bob");
  note(anna, "Sleep", localDate(2016, 1, 1, 8));
  note(anna, "WC", localDate(2016, 1, 1, 9));
  note(anna, "Сhest Size", localDate(2016, 1, 2, 7));
  note(bob, "Sleep", localDate(2016, 1, 2, 8));
  save();
  note(anna, "Walk", localDate(2015, 12, 30, 10));  // unsaved

  store::FetchRequest request("Note");
  request.sortDescriptors = {{"note_DateStop", false, store::StringComparison::LocalizedCaseInsensitive}};
  request.predicate = store::Predicate::andPredicates(
      {*store::Predicate::parse("noteToBaby.baby_Name == %@", {"Anna"}),
       *store::Predicate::parse("(note_Type IN %@)",
                                {foundation::Array{"Sleep", "WC", "Сhest Size", "Walk"}})});
  request.fetchBatchSize = 100;
  store::FetchedResultsController list(context_, request, "sectionIdentifier");
  ASSERT_TRUE(list.performFetch().ok());
  ASSERT_EQ(list.sections().size(), 3u);
  EXPECT_EQ(list.sections()[0].name, "20160102");
  EXPECT_EQ(list.sections()[1].name, "20160101");
  EXPECT_EQ(list.sections()[1].numberOfObjects, 2u);
  EXPECT_EQ(list.sections()[2].name, "20151230");
  EXPECT_EQ(app::Note(list.objectAtIndexPath({1, 0})).note_Type(), "WC");
  EXPECT_EQ(app::Note(list.objectAtIndexPath({0, 0})).note_Type(), "Сhest Size");

  // The Cyrillic "С" is not a Latin "C".
  store::FetchRequest latin("Note");
  latin.predicate = *store::Predicate::parse("note_Type == %@", {"Chest Size"});
  EXPECT_EQ(*ctx().count(latin), 0u);

  // A day window, as the statistics ask for it.
  store::FetchRequest day("Note");
  day.predicate = *store::Predicate::parse("(note_DateStop >= %@) AND (note_DateStop < %@)",
                                           {localDate(2016, 1, 1), localDate(2016, 1, 2)});
  EXPECT_EQ(*ctx().count(day), 2u);
}

TEST_F(DiaryStore, DeletingABabyLeavesNothingBehind) {
  auto anna = baby("Anna");
  auto bob = baby("Bob");
  for (int i = 0; i < 5; ++i) note(anna, "Sleep", Date{i * 3600.0});
  auto withPhoto = note(anna, "Note", Date{99999});
  auto photo = app::PhotoInfo::insertIn(ctx());
  photo.setPhoto_Path("_2016_January_01_08_00_7");
  photo.setPhotoInfoToBaby(anna);
  photo.setPhotoInfoToNote(withPhoto);
  EXPECT_EQ(withPhoto.noteToPhotoInfo(), photo);
  auto tooth = app::Tooth::insertIn(ctx());
  tooth.setTooth_Num(3);
  tooth.setTooth_State(10);
  tooth.setToothToBaby(anna);
  auto allergy = app::Allergy::insertIn(ctx());
  allergy.setAllergyToBaby(anna);
  auto info = app::Info::insertIn(ctx());
  info.setInfoToBaby(anna);
  auto contact = app::Contact::insertIn(ctx());
  contact.setContactToBaby(anna);
  auto parameter = app::BabyParameter::insertIn(ctx());
  parameter.setParameterToBaby(anna);
  note(bob, "WC", Date{5});
  save();
  EXPECT_EQ(anna.babyToNote().size(), 6u);
  reopen();

  store::FetchRequest byName("Baby");
  byName.predicate = *store::Predicate::parse("baby_Name == %@", {"Anna"});
  auto found = *ctx().fetch(byName);
  ASSERT_EQ(found.size(), 1u);
  ctx().deleteObject(found[0]);
  save();
  for (const char* table : {"ZPHOTOINFO", "ZTOOTH", "ZALLERGY", "ZINFO", "ZCONTACT", "ZBABYPARAMETER"})
    EXPECT_EQ(scalar(path(), std::string("SELECT count(*) FROM ") + table), "0") << table;
  EXPECT_EQ(scalar(path(), "SELECT count(*) FROM ZNOTE"), "1");
  EXPECT_EQ(scalar(path(), "SELECT count(*) FROM ZNOTE WHERE ZNOTETOBABY NOT IN (SELECT Z_PK FROM ZBABY)"),
            "0");
}

TEST_F(DiaryStore, LayoutAndValuesOfTheDiaryTables) {
  auto anna = baby("Anna");
  anna.setBaby_Gender(true);
  anna.setBaby_Bood(4);
  auto n = note(anna, "Breast Feeding", Date{600});
  n.setNote_numValue(foundation::Decimal::fromInteger(5));
  n.setNote_numMeasureCurrent("12");
  n.setNote_strValue("Left Breast");
  auto vt = app::ValueType::insertIn(ctx());
  vt.setVt_Type("Temperature");
  vt.setVt_NumCurrent(98.6f);
  auto sub = app::StrValue::insertIn(ctx());
  sub.setStrValue("Сurd");
  vt.addValueTypeToStrValueObject(sub);
  save();
  ASSERT_TRUE(store_->close().ok());

  EXPECT_EQ(scalar(path(), "SELECT ZNOTE_DATESTOP = 600 FROM ZNOTE"), "1") << "seconds since 2001";
  EXPECT_EQ(scalar(path(), "SELECT ZNOTETOBABY FROM ZNOTE"), std::to_string(anna.object()->primaryKey()));
  EXPECT_EQ(scalar(path(), "SELECT ZNOTE_NUMVALUE || '/' || ZNOTE_NUMMEASURECURRENT FROM ZNOTE"), "5/12");
  EXPECT_EQ(
      scalar(path(), "SELECT count(*) FROM pragma_table_info('ZPHOTOINFO') WHERE name = 'ZPHOTOINFOTONOTE'"),
      "1");
  EXPECT_EQ(scalar(path(), "SELECT count(*) FROM sqlite_master WHERE name = 'ZNOTE_ZNOTETOBABY_INDEX'"), "1");
  EXPECT_EQ(scalar(path(), "SELECT ZBABY_GENDER || ZBABY_BOOD FROM ZBABY"), "14");
  EXPECT_EQ(scalar(path(), "SELECT ZSTRVALUETOVALUETYPE FROM ZSTRVALUE"),
            std::to_string(vt.object()->primaryKey()));

  open();
  store::FetchRequest types("ValueType");
  types.predicate = *store::Predicate::parse("vt_Type == %@", {"Temperature"});
  auto rows = *ctx().fetch(types);
  ASSERT_EQ(rows.size(), 1u);
  app::ValueType loaded(rows[0]);
  EXPECT_EQ(loaded.vt_NumCurrent(), 98.6f);
  ASSERT_EQ(loaded.valueTypeToStrValue().size(), 1u);
  EXPECT_EQ(loaded.valueTypeToStrValue()[0].strValue(), "Сurd");
  EXPECT_FALSE(app::Note(rows[0])) << "a ValueType is not a Note";
}

TEST_F(DiaryStore, AStoreOfAnOlderModelOpens) {
  context_.reset();
  ASSERT_TRUE(store_->close().ok());
  store_.reset();
  std::filesystem::remove(path());
  {
    // An older model: notes without a notice, no parameters.
    store::ModelBuilder b;
    b.entity("Baby").attribute("baby_Name", AttributeType::String).toMany("babyToNote", "Note", "noteToBaby");
    b.entity("Note")
        .attribute("note_Type", AttributeType::String)
        .attribute("note_DateStop", AttributeType::Date)
        .toOne("noteToBaby", "Baby", "babyToNote");
    auto old = store::Store::open(path(), *b.build());
    ASSERT_TRUE(old.ok());
    auto context = *(*old)->newContext();
    auto b1 = context->insertNewObject("Baby");
    ASSERT_TRUE(b1->setValue("baby_Name", "Anna").ok());
    auto n1 = context->insertNewObject("Note");
    ASSERT_TRUE(n1->setValue("note_Type", "Sleep").ok());
    ASSERT_TRUE(n1->setValue("note_DateStop", Date{86400 * 10}).ok());
    ASSERT_TRUE(n1->setToOne("noteToBaby", b1).ok());
    ASSERT_TRUE(context->save().ok());
    ASSERT_TRUE((*old)->close().ok());
  }
  open();
  store::FetchRequest request("Note");
  request.predicate = *store::Predicate::parse("noteToBaby.baby_Name == %@", {"Anna"});
  auto notes = *ctx().fetch(request);
  ASSERT_EQ(notes.size(), 1u);
  app::Note n(notes[0]);
  EXPECT_EQ(n.note_Type(), "Sleep");
  EXPECT_FALSE(n.note_Notice());
  EXPECT_EQ(n.sectionIdentifier(), "20010111");
  n.setNote_Notice("added later");
  auto parameter = app::BabyParameter::insertIn(ctx());
  parameter.setParameterToBaby(n.noteToBaby());
  save();
  EXPECT_EQ(scalar(path(), "SELECT ZNOTE_NOTICE FROM ZNOTE"), "added later");
}

}  // namespace
