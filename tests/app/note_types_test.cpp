// The 24 note types: keys, lists, icons, dates, sums, and the user's order file.

#include "app/note_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/note_edit_helper.h"
#include "note_helper_fixture.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/plist/property_list.h"

namespace {

using note_helper_test::NoteHelperTest;
using Keys = std::vector<std::string>;

const Keys kDefaultOrder{"Breast Feeding",    "Sleep",     "WC",        "Walk",   "Food",        "Drink",
                         "Pumping",           "Bath",      "Activity",  "Mood",   "Weight",      "Height",
                         "\xD0\xA1hest Size", "Head Size", "Procedure", "Health", "Temperature", "Medicine",
                         "Vaccine",           "Doctor",    "Milestone", "Pool",   "Event",       "Note"};

TEST(NoteTypeKeys, TheTwentyFourKeysInDefaultOrder) {
  EXPECT_EQ(app::defaultTypeIds(), kDefaultOrder);
  EXPECT_EQ(std::set<std::string>(kDefaultOrder.begin(), kDefaultOrder.end()).size(), 24u);
  // "Сhest Size" starts with the two bytes of U+0421, not with an ASCII 'C'.
  EXPECT_EQ(std::string(app::note_type::kChestSize).substr(0, 2), "\xD0\xA1");
  EXPECT_TRUE(app::isKnownType("\xD0\xA1hest Size"));
  EXPECT_FALSE(app::isKnownType("Chest Size"));
  EXPECT_FALSE(app::isKnownType("sleep"));
  EXPECT_FALSE(app::isKnownType("Sleep "));
}

TEST_F(NoteHelperTest, ListsByName) {
  auto h = helper();
  EXPECT_EQ(h.getTypeIds("growthTypes"), (Keys{"Weight", "Height", "\xD0\xA1hest Size", "Head Size"}));
  EXPECT_EQ(h.getTypeIds(""), kDefaultOrder);
  EXPECT_EQ(h.getTypeIds(std::nullopt), kDefaultOrder);
  EXPECT_EQ(h.getTypeIds("anything"), kDefaultOrder);
  EXPECT_EQ(h.getTypeIds("GrowthTypes"), kDefaultOrder) << "list names compare exactly";
}

TEST_F(NoteHelperTest, IconsDatesAndSplitting) {
  auto h = helper();
  const std::vector<std::pair<std::string, std::string>> icons{{"Breast Feeding", "icon_breast_feeding"},
                                                               {"Sleep", "icon_sleep"},
                                                               {"WC", "icon_wc"},
                                                               {"Walk", "icon_walk"},
                                                               {"Food", "icon_food"},
                                                               {"Drink", "icon_drink"},
                                                               {"Pumping", "icon_pumping"},
                                                               {"Bath", "icon_bath"},
                                                               {"Activity", "icon_activity"},
                                                               {"Mood", "icon_mood"},
                                                               {"Weight", "icon_weight"},
                                                               {"Height", "icon_height"},
                                                               {"\xD0\xA1hest Size", "icon_chest_size"},
                                                               {"Head Size", "icon_head_size"},
                                                               {"Procedure", "icon_procedure"},
                                                               {"Health", "icon_health"},
                                                               {"Temperature", "icon_temperature"},
                                                               {"Medicine", "icon_medicine"},
                                                               {"Vaccine", "icon_vaccine"},
                                                               {"Doctor", "icon_doctor"},
                                                               {"Milestone", "icon_milestone"},
                                                               {"Pool", "icon_pool"},
                                                               {"Event", "icon_event"},
                                                               {"Note", "icon_note"}};
  for (const auto& [type, icon] : icons) EXPECT_EQ(h.getIconPath(type), icon) << type;
  EXPECT_EQ(h.getIconPath("Chest Size"), std::nullopt);
  EXPECT_EQ(h.getIconPath(std::nullopt), std::nullopt);

  const std::set<std::string> twoDates{"Breast Feeding", "Pumping", "Sleep",   "Bath",
                                       "Walk",           "Health",  "Activity"};
  for (const auto& type : kDefaultOrder) {
    EXPECT_EQ(h.howManyDates(type), twoDates.count(type) ? 2 : 1) << type;
    const bool split = twoDates.count(type) && type != "Breast Feeding" && type != "Pumping";
    EXPECT_EQ(h.shouldSplitTheTimeBy24h(type), split) << type;
    const bool summed = type == "Food" || type == "Drink" || type == "Pumping";
    EXPECT_EQ(h.canUseValueForSums(type), summed) << type;
  }
  EXPECT_EQ(h.howManyDates(std::nullopt), 1);
  EXPECT_EQ(h.howManyDates("Unknown"), 1);
  EXPECT_FALSE(h.shouldSplitTheTimeBy24h(std::nullopt));
  EXPECT_FALSE(h.canUseValueForSums(std::nullopt));
}

TEST_F(NoteHelperTest, SummaryMeasures) {
  auto h = helper();
  EXPECT_EQ(h.getSumsForType("Food"), (Keys{"Notation_g", "show_count"}));
  EXPECT_EQ(h.getSumsForType("Pumping"), (Keys{"Notation_ml", "show_hours", "show_count"}));
  EXPECT_EQ(h.getSumsForType("Sleep"), (Keys{"show_hours", "show_count"}));
  EXPECT_EQ(h.getSumsForType("Mood"), (Keys{"show_count"}));
  EXPECT_EQ(h.getSumsForType(std::nullopt), (Keys{"show_count"}));

  // The measure follows the type's current unit.
  h.getValueType("Drink").setVt_NumMeasureCurrent(std::string("Notation_oz"));
  EXPECT_EQ(h.getSumsForType("Drink"), (Keys{"Notation_oz", "show_count"}));

  // Without a store there is no unit to offer.
  EXPECT_EQ(helper("en", false).getSumsForType("Food"), (Keys{"show_count"}));
}

// --- The user's order file

class UserOrderTest : public NoteHelperTest {
 protected:
  void writeOrder(const foundation::Array& keys, plist::Format format = plist::Format::Xml) {
    ASSERT_TRUE(files::createDirectory(orderFile().parent_path()).ok());
    auto bytes = plist::writePropertyList(foundation::Value(keys), format);
    ASSERT_TRUE(bytes.ok());
    ASSERT_TRUE(files::writeAtomic(orderFile(), *bytes).ok());
  }
  void writeRaw(std::string_view text) {
    ASSERT_TRUE(files::createDirectory(orderFile().parent_path()).ok());
    ASSERT_TRUE(files::writeAtomic(orderFile(), text).ok());
  }
  std::optional<Keys> storedOrder() {
    auto bytes = files::readFile(orderFile());
    if (!bytes.ok()) return std::nullopt;
    auto value = plist::readPropertyList(*bytes);
    if (!value.ok() || !value->isArray()) return std::nullopt;
    Keys out;
    for (const auto& v : *value->array()) out.push_back(v.stringOr("<not text>"));
    return out;
  }
  // The defaults with the given keys moved to the front, in that order.
  static Keys frontThenDefaults(const Keys& front) {
    Keys out = front;
    for (const auto& key : kDefaultOrder) {
      if (std::find(front.begin(), front.end(), key) == front.end()) out.push_back(key);
    }
    return out;
  }
};

TEST_F(UserOrderTest, MissingFileGivesDefaultsAndLeavesThemInAFile) {
  ASSERT_FALSE(std::filesystem::exists(library()));
  EXPECT_EQ(helper().getTypeIds("userList"), kDefaultOrder);
  EXPECT_EQ(storedOrder(), kDefaultOrder) << "the Settings folder is created and the defaults written";
  EXPECT_EQ(plist::detectFormat(files::readFile(orderFile())->data(), files::readFile(orderFile())->size()),
            plist::Format::Xml);
}

TEST_F(UserOrderTest, UnknownAndRepeatedKeysAreDroppedMissingOnesFollowInDefaultOrder) {
  writeOrder({"Note", "Sleep", "no such type", "Sleep"});
  EXPECT_EQ(helper().getTypeIds("userList"), frontThenDefaults({"Note", "Sleep"}));
  // Reading leaves the file as it was.
  EXPECT_EQ(storedOrder(), (Keys{"Note", "Sleep", "no such type", "Sleep"}));
}

TEST_F(UserOrderTest, LatinCIsAnotherKey) {
  writeOrder({"Chest Size", "Head Size", "\xD0\xA1hest Size"});
  EXPECT_EQ(helper().getTypeIds("userList"), frontThenDefaults({"Head Size", "\xD0\xA1hest Size"}));
}

TEST_F(UserOrderTest, EntriesThatAreNotTextAreSkipped) {
  writeOrder(
      {42, "Pool", foundation::Array{"Note"}, foundation::Dictionary{{"Sleep", "Sleep"}}, true, "Bath"});
  EXPECT_EQ(helper().getTypeIds("userList"), frontThenDefaults({"Pool", "Bath"}));
}

TEST_F(UserOrderTest, AFullReversedOrderIsKept) {
  Keys reversed(kDefaultOrder.rbegin(), kDefaultOrder.rend());
  foundation::Array stored(reversed.begin(), reversed.end());
  writeOrder(stored, plist::Format::Binary);
  EXPECT_EQ(helper().getTypeIds("userList"), reversed);
}

TEST_F(UserOrderTest, AnEmptyArrayMeansDefaultsButIsNotRewritten) {
  writeOrder({});
  EXPECT_EQ(helper().getTypeIds("userList"), kDefaultOrder);
  EXPECT_EQ(storedOrder(), Keys{});
}

TEST_F(UserOrderTest, UnusableFilesAreReplacedByTheDefaults) {
  const std::vector<std::pair<std::string, std::string>> broken{
      {"empty file", ""},
      {"not a property list", "Sleep, Note, Food"},
      {"truncated XML", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>Note</string>"},
      {"truncated binary", std::string("bplist00\xA1\x01", 9)},
      {"a dictionary",
       "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><string>Note</string>"
       "</dict></plist>"},
      {"a string", "<?xml version=\"1.0\"?><plist version=\"1.0\"><string>Note</string></plist>"},
  };
  for (const auto& [what, text] : broken) {
    SCOPED_TRACE(what);
    writeRaw(text);
    EXPECT_EQ(helper().getTypeIds("userList"), kDefaultOrder);
    EXPECT_EQ(storedOrder(), kDefaultOrder);
  }
}

TEST_F(UserOrderTest, AFolderInPlaceOfTheFileFallsBackWithoutHarm) {
  ASSERT_TRUE(files::createDirectory(orderFile()).ok());
  foundation::ScopedLogCapture log;
  EXPECT_EQ(helper().getTypeIds("userList"), kDefaultOrder);
  EXPECT_TRUE(files::isDirectory(orderFile()));
}

TEST_F(UserOrderTest, SavingWritesTheListAsGiven) {
  auto h = helper();
  EXPECT_EQ(h.getTypeIds("userList"), kDefaultOrder);  // makes the folder, as the order editor does
  const Keys mine = frontThenDefaults({"Temperature", "Bath"});
  ASSERT_TRUE(h.saveNewTypeList(mine).ok());
  EXPECT_EQ(storedOrder(), mine);
  EXPECT_EQ(h.getTypeIds("userList"), mine);

  // No list: nothing happens.
  ASSERT_TRUE(h.saveNewTypeList(std::nullopt).ok());
  EXPECT_EQ(storedOrder(), mine);
}

TEST_F(UserOrderTest, SavingDoesNotMakeTheFolder) {
  auto status = helper().saveNewTypeList(Keys{"Note"});
  EXPECT_FALSE(status.ok());
  EXPECT_FALSE(std::filesystem::exists(orderFile().parent_path()));
}

TEST(CategoriesSequenceMerge, RuleOnItsOwn) {
  EXPECT_EQ(app::CategoriesSequence::merged({}), kDefaultOrder);
  EXPECT_EQ(app::CategoriesSequence::merged(kDefaultOrder), kDefaultOrder);
  auto merged = app::CategoriesSequence::merged({"Note", "Note", "Note"});
  EXPECT_EQ(merged.front(), "Note");
  EXPECT_EQ(merged.size(), 24u);
  EXPECT_EQ(std::count(merged.begin(), merged.end(), "Note"), 1);
}

}  // namespace
