// ValueType rows: created on first use with their type's defaults, translated sub-values, found
// again with unsaved changes, and the failures of creating and saving them.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/note_edit_helper.h"
#include "note_helper_fixture.h"
#include "platform/foundation/log.h"
#include "platform/store/fetch_request.h"

namespace {

using note_helper_test::NoteHelperTest;
using Texts = std::vector<std::string>;

class ValueTypeTest : public NoteHelperTest {
 protected:
  static Texts subValues(const app::ValueType& row) {
    Texts out;
    for (const auto& sub : row.valueTypeToStrValue()) out.push_back(sub.strValue().value_or("<none>"));
    return out;
  }
  size_t count(const std::string& entity) {
    auto n = context_->count(store::FetchRequest(entity));
    return n.ok() ? *n : 999;
  }
  // Makes the store refuse every new ValueType row.
  void refuseNewValueTypes() {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((home_.path() / "dataBase.sqlite").c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    const int rc = sqlite3_exec(db,
                                "CREATE TRIGGER refuse BEFORE INSERT ON ZVALUETYPE "
                                "BEGIN SELECT RAISE(ABORT, 'refused'); END",
                                nullptr, nullptr, &message);
    EXPECT_EQ(rc, SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
  }
};

TEST_F(ValueTypeTest, FirstTemperatureRow) {
  auto row = helper().getValueType("Temperature");
  ASSERT_TRUE(row);
  EXPECT_EQ(row.vt_Type(), "Temperature");
  EXPECT_EQ(row.vt_NumCurrent(), 36.6f);
  EXPECT_EQ(row.vt_NumMeasureCurrent(), "Notation_celsius");
  EXPECT_TRUE(subValues(row).empty());
  EXPECT_FALSE(row.vt_StrCurrent().has_value());
  EXPECT_FALSE(context_->hasChanges()) << "the new row is saved";

  // The stored number is the single-precision 36.6 after a trip through the file.
  context_->reset();
  auto again = helper().getValueType("Temperature");
  ASSERT_TRUE(again);
  EXPECT_EQ(again.vt_NumCurrent(), 36.6f);
}

TEST_F(ValueTypeTest, DefaultsOfEveryType) {
  struct Defaults {
    std::optional<float> number;
    std::optional<std::string> unit;
    Texts subs;
  };
  const std::map<std::string, Defaults> expected{
      {"Food", {0.0f, "Notation_g", {"Fruit", "Vegetable", "Curd", "Porridge", "Meat"}}},
      {"Drink", {0.0f, "Notation_ml", {"Milk", "Water", "Formula", "Juice"}}},
      {"Pumping", {0.0f, "Notation_ml", {}}},
      {"WC", {std::nullopt, std::nullopt, {"Wet", "Dry", "Poopy"}}},
      {"Bath", {37.0f, "Notation_celsius", {}}},
      {"Mood", {std::nullopt, std::nullopt, {"Happy", "Sad", "Angry", "Scared", "Crying"}}},
      {"Activity", {std::nullopt, std::nullopt, {"Playing with toys", "Playing with friends", "Dancing"}}},
      {"Health", {std::nullopt, std::nullopt, {"Runny nose", "Coughing", "Fever", "Diarrhea", "Teething"}}},
      {"Temperature", {36.6f, "Notation_celsius", {}}},
      {"Medicine", {std::nullopt, std::nullopt, {"Panadol"}}},
      {"Vaccine", {std::nullopt, std::nullopt, {"BCG"}}},
      {"Weight", {0.0f, "Notation_kg", {}}},
      {"Height", {0.0f, "Notation_cm", {}}},
      {"\xD0\xA1hest Size", {0.0f, "Notation_cm", {}}},
      {"Head Size", {0.0f, "Notation_cm", {}}},
      {"Doctor", {std::nullopt, std::nullopt, {"Pediatrician", "Physiotherapist"}}},
      {"Procedure", {std::nullopt, std::nullopt, {"Ultrasonography", "Massage"}}},
  };
  auto h = helper("en");
  for (const auto& type : app::defaultTypeIds()) {
    SCOPED_TRACE(type);
    auto row = h.getValueType(type);
    ASSERT_TRUE(row);
    auto it = expected.find(type);
    const Defaults none{};
    const Defaults& want = it == expected.end() ? none : it->second;
    EXPECT_EQ(row.vt_NumCurrent(), want.number);
    EXPECT_EQ(row.vt_NumMeasureCurrent(), want.unit);
    EXPECT_EQ(subValues(row), want.subs);
    EXPECT_EQ(row.vt_StrCurrent(),
              want.subs.empty() ? std::nullopt : std::optional<std::string>(want.subs[0]));
  }
  EXPECT_EQ(count("ValueType"), 24u);
  // A Latin C makes another key, with no defaults of its own.
  auto latin = h.getValueType("Chest Size");
  ASSERT_TRUE(latin);
  EXPECT_FALSE(latin.vt_NumMeasureCurrent().has_value());
  EXPECT_EQ(count("ValueType"), 25u);
}

TEST_F(ValueTypeTest, MoodRowAndSecondLookup) {
  auto h = helper("en");
  auto row = h.getValueType("Mood");
  ASSERT_TRUE(row);
  EXPECT_EQ(subValues(row), (Texts{"Happy", "Sad", "Angry", "Scared", "Crying"}));
  EXPECT_EQ(row.vt_StrCurrent(), "Happy");
  EXPECT_EQ(h.getValueType("Mood"), row);
  EXPECT_EQ(count("ValueType"), 1u);
  EXPECT_EQ(count("StrValue"), 5u);
}

TEST_F(ValueTypeTest, SubValuesAreStoredInTheLanguageOfTheirCreation) {
  auto row = helper("ru").getValueType("Food");
  ASSERT_TRUE(row);
  EXPECT_EQ(subValues(row), (Texts{"Фрукты", "Овощи", "Творог", "Каша", "Мясо"}));
  EXPECT_EQ(row.vt_StrCurrent(), "Фрукты");
  // Later, in another language, they stay as they were.
  auto en = helper("en").getValueType("Food");
  EXPECT_EQ(subValues(en), (Texts{"Фрукты", "Овощи", "Творог", "Каша", "Мясо"}));
  EXPECT_EQ(subValues(helper("ja").getValueType("Mood")),
            (Texts{"ご機嫌", "悲しい", "怒っている", "怖がっている", "泣いている"}));
}

TEST_F(ValueTypeTest, AddingSubValues) {
  auto h = helper("de");
  auto row = h.getValueType("Mood");
  ASSERT_TRUE(row);
  ASSERT_EQ(row.vt_StrCurrent(), "Fröhlich");
  h.setStrValueToValueType(row, "Sad");         // a key of the table: translated
  h.setStrValueToValueType(row, "Sleepy");      // a text of the user's: kept as written
  h.setStrValueToValueType(row, std::nullopt);  // nothing
  EXPECT_EQ(subValues(row),
            (Texts{"Fröhlich", "Traurig", "Wütend", "Ängstlich", "Weint", "Traurig", "Sleepy"}));
  EXPECT_EQ(row.vt_StrCurrent(), "Fröhlich") << "a current sub-value is kept";
  EXPECT_TRUE(context_->hasChanges()) << "adding does not save";

  // A row without a current sub-value takes the first one added.
  auto note = h.getValueType("Note");
  h.setStrValueToValueType(note, "Sleepy");
  EXPECT_EQ(note.vt_StrCurrent(), "Sleepy");
  note.setVt_StrCurrent(std::string());
  h.setStrValueToValueType(note, "Dry");
  EXPECT_EQ(note.vt_StrCurrent(), "Trocken");

  // An empty row does nothing.
  h.setStrValueToValueType(app::ValueType(), "Dry");
}

TEST_F(ValueTypeTest, FoundWithUnsavedChanges) {
  auto row = app::ValueType::insertIn(*context_);
  row.setVt_Type(std::string("Bath"));
  row.setVt_NumMeasureCurrent(std::string("Notation_fahrenheit"));
  auto found = helper().getValueType("Bath");
  EXPECT_EQ(found, row);
  EXPECT_EQ(found.vt_NumMeasureCurrent(), "Notation_fahrenheit");
  EXPECT_TRUE(context_->hasChanges()) << "a found row is not saved";
}

TEST_F(ValueTypeTest, AFailedSaveLeavesTheRowToBeFoundNextTime) {
  refuseNewValueTypes();
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

TEST_F(ValueTypeTest, NoContextNoKeyOrAClosedContext) {
  EXPECT_FALSE(helper("en", false).getValueType("Food"));
  EXPECT_FALSE(helper().getValueType(std::nullopt));

  context_->close();
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(helper().getValueType("Food"));
  EXPECT_TRUE(log.contains("Failed to create the new ValueType."));
}

TEST_F(ValueTypeTest, ScreenshotSubValues) {
  auto h = helper("es");
  const std::map<std::string, std::string> demo{{"Food", "Fruta"},
                                                {"Drink", "Leche"},
                                                {"WC", "Mojado"},
                                                {"Mood", "Feliz"},
                                                {"Activity", "Jugando con juguetes"},
                                                {"Health", "Tos"},
                                                {"Medicine", "Panadol"},
                                                {"Vaccine", "BCG"},
                                                {"Doctor", "Pediatra"},
                                                {"Procedure", "Ecografía"}};
  for (const auto& type : app::defaultTypeIds()) {
    auto row = app::ValueType::insertIn(*context_);
    row.setVt_Type(type);
    row.setVt_StrCurrent(std::string("mine"));
    h.setUpForScreenshots(row);
    auto it = demo.find(type);
    EXPECT_EQ(row.vt_StrCurrent(), it == demo.end() ? "mine" : it->second) << type;
  }
}

}  // namespace
