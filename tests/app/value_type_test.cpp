// ValueType rows: created on first use with their type's defaults, translated sub-values, found
// again with unsaved changes, and the failures of creating and saving them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/entities.h"
#include "app/note_edit_helper.h"
#include "file_store_fixture.h"
#include "note_helper_fixture.h"
#include "platform/foundation/log.h"
#include "platform/store/fetch_request.h"

namespace {

using Texts = std::vector<std::string>;

class ValueTypeTest : public note_helper_test::NoteHelperTest {
 protected:
  static Texts subValues(const app::ValueType& row) {
    Texts out;
    for (const auto& sub : row.valueTypeToStrValue()) out.push_back(sub.strValue().value_or("<none>"));
    return out;
  }
  size_t count(const std::string& entity) {
    return context_->count(store::FetchRequest(entity)).valueOr(999);
  }
};

TEST_F(ValueTypeTest, EachTypesRowIsCreatedOnceWithItsDefaultsAndSaved) {
  const struct {
    const char* type;
    std::optional<float> number;
    std::optional<std::string> unit;
    Texts subs;
  } cases[] = {
      {"Food", 0.0f, "Notation_g", {"Fruit", "Vegetable", "Curd", "Porridge", "Meat"}},
      {"WC", {}, {}, {"Wet", "Dry", "Poopy"}},
      {"Bath", 37.0f, "Notation_celsius", {}},
      {"Mood", {}, {}, {"Happy", "Sad", "Angry", "Scared", "Crying"}},
      {"Temperature", 36.6f, "Notation_celsius", {}},
      {"Weight", 0.0f, "Notation_kg", {}},
      {"\xD0\xA1hest Size", 0.0f, "Notation_cm", {}},
      {"Procedure", {}, {}, {"Ultrasonography", "Massage"}},
      {"Sleep", {}, {}, {}},
      {"Chest Size", {}, {}, {}},  // a Latin C makes another key, with no defaults of its own
  };
  auto h = helper("en");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    auto row = h.getValueType(c.type);
    ASSERT_TRUE(row);
    EXPECT_EQ(row.vt_Type(), c.type);
    EXPECT_EQ(row.vt_NumCurrent(), c.number);
    EXPECT_EQ(row.vt_NumMeasureCurrent(), c.unit);
    EXPECT_EQ(subValues(row), c.subs);
    EXPECT_EQ(row.vt_StrCurrent(), c.subs.empty() ? std::nullopt : std::optional<std::string>(c.subs[0]));
    EXPECT_FALSE(context_->hasChanges()) << "the new row is saved";
    EXPECT_EQ(h.getValueType(c.type), row) << "found again, not made twice";
  }
  EXPECT_EQ(count("ValueType"), std::size(cases));
  EXPECT_EQ(count("StrValue"), 15u);

  // The stored number is the single-precision 36.6 after a trip through the file.
  context_->reset();
  EXPECT_EQ(helper().getValueType("Temperature").vt_NumCurrent(), 36.6f);
  EXPECT_EQ(count("ValueType"), std::size(cases));
}

TEST_F(ValueTypeTest, SubValuesAreTranslatedWhenAddedAndStayAsStored) {
  auto row = helper("ru").getValueType("Food");
  EXPECT_EQ(subValues(row), (Texts{"Фрукты", "Овощи", "Творог", "Каша", "Мясо"}));
  EXPECT_EQ(row.vt_StrCurrent(), "Фрукты");
  EXPECT_EQ(subValues(helper("en").getValueType("Food")), subValues(row))
      << "kept in the language of creation";
  EXPECT_EQ(subValues(helper("ja").getValueType("Mood")),
            (Texts{"ご機嫌", "悲しい", "怒っている", "怖がっている", "泣いている"}));

  auto h = helper("de");
  auto health = h.getValueType("Health");
  ASSERT_EQ(health.vt_StrCurrent(), "Schnupfen");
  h.setStrValueToValueType(health, "Dry");            // a key of the table: translated
  h.setStrValueToValueType(health, "Sleepy");         // a text of the user's: kept as written
  h.setStrValueToValueType(health, std::nullopt);     // nothing
  h.setStrValueToValueType(app::ValueType(), "Dry");  // no row: nothing
  const Texts subs = subValues(health);
  ASSERT_EQ(subs.size(), 7u);
  EXPECT_EQ(Texts(subs.begin() + 5, subs.end()), (Texts{"Trocken", "Sleepy"}));
  EXPECT_EQ(health.vt_StrCurrent(), "Schnupfen") << "a current sub-value is kept";
  EXPECT_TRUE(context_->hasChanges()) << "adding does not save";

  // A row without a current sub-value takes the first one added.
  auto note = h.getValueType("Note");
  h.setStrValueToValueType(note, "Sleepy");
  EXPECT_EQ(note.vt_StrCurrent(), "Sleepy");
  note.setVt_StrCurrent(std::string());
  h.setStrValueToValueType(note, "Dry");
  EXPECT_EQ(note.vt_StrCurrent(), "Trocken");

  // Screenshots show a sub-value of the screenshot's language in place of the user's.
  auto demo = [&](const std::string& type) {
    auto row = app::ValueType::insertIn(*context_);
    row.setVt_Type(type);
    row.setVt_StrCurrent(std::string("mine"));
    helper("es").setUpForScreenshots(row);
    return row.vt_StrCurrent();
  };
  for (const auto& [type, shown] : std::vector<std::pair<std::string, std::string>>{
           {"Food", "Fruta"}, {"Health", "Tos"}, {"Procedure", "Ecografía"}, {"Sleep", "mine"}})
    EXPECT_EQ(demo(type), shown) << type;
}

TEST_F(ValueTypeTest, FoundWithUnsavedChangesAndNothingWithoutAContextOrAKey) {
  auto row = app::ValueType::insertIn(*context_);
  row.setVt_Type(std::string("Bath"));
  row.setVt_NumMeasureCurrent(std::string("Notation_fahrenheit"));
  auto found = helper().getValueType("Bath");
  EXPECT_EQ(found, row);
  EXPECT_EQ(found.vt_NumMeasureCurrent(), "Notation_fahrenheit");
  EXPECT_TRUE(context_->hasChanges()) << "a found row is not saved";

  EXPECT_FALSE(helper("en", false).getValueType("Food"));
  EXPECT_FALSE(helper().getValueType(std::nullopt));
  context_->close();
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(helper().getValueType("Food"));
  EXPECT_TRUE(log.contains("Failed to create the new ValueType."));
}

TEST_F(ValueTypeTest, AFailedSaveLeavesTheRowToBeFoundNextTime) {
  file_store_test::runSql(
      home_.path() / "dataBase.sqlite",
      "CREATE TRIGGER refuse BEFORE INSERT ON ZVALUETYPE BEGIN SELECT RAISE(ABORT, 'refused'); END");

  foundation::ScopedLogCapture log;
  auto h = helper();
  EXPECT_FALSE(h.getValueType("Temperature"));
  EXPECT_TRUE(log.contains("Failed to save the new ValueType 'Temperature'. Error = "));
  EXPECT_TRUE(log.contains("refused"));
  auto second = h.getValueType("Temperature");
  ASSERT_TRUE(second);
  EXPECT_TRUE(second.object()->isInserted());
  EXPECT_EQ(second.vt_NumCurrent(), 36.6f);
  EXPECT_EQ(count("ValueType"), 1u);
}

}  // namespace
