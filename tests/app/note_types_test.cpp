// The 24 note types: keys, lists, icons, dates, sums, and the user's order file.

#include "app/note_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
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

const std::string kCyrillicChest = "\xD0\xA1hest Size";
const Keys kDefaultOrder{"Breast Feeding", "Sleep",     "WC",        "Walk",   "Food",        "Drink",
                         "Pumping",        "Bath",      "Activity",  "Mood",   "Weight",      "Height",
                         kCyrillicChest,   "Head Size", "Procedure", "Health", "Temperature", "Medicine",
                         "Vaccine",        "Doctor",    "Milestone", "Pool",   "Event",       "Note"};

// The defaults with the given keys moved to the front, in that order.
Keys frontThenDefaults(const Keys& front) {
  Keys out = front;
  for (const auto& key : kDefaultOrder) {
    if (std::find(front.begin(), front.end(), key) == front.end()) out.push_back(key);
  }
  return out;
}

TEST_F(NoteHelperTest, KeysListsIconsDatesAndSums) {
  EXPECT_EQ(app::defaultTypeIds(), kDefaultOrder);
  for (const char* notAKey : {"Chest Size", "sleep", "Sleep "}) EXPECT_FALSE(app::isKnownType(notAKey));
  EXPECT_TRUE(app::isKnownType(kCyrillicChest));

  auto h = helper();
  EXPECT_EQ(h.getTypeIds("growthTypes"), (Keys{"Weight", "Height", kCyrillicChest, "Head Size"}));
  for (std::optional<std::string> other : {std::optional<std::string>(), {""}, {"anything"}, {"GrowthTypes"}})
    EXPECT_EQ(h.getTypeIds(other), kDefaultOrder) << other.value_or("(none)");

  const std::set<std::string> twoDates{"Breast Feeding", "Pumping", "Sleep",   "Bath",
                                       "Walk",           "Health",  "Activity"};
  for (const auto& type : kDefaultOrder) {
    // Icons are "icon_" and the key in lower case with underscores.
    std::string icon = type == kCyrillicChest ? "chest size" : type;
    std::transform(icon.begin(), icon.end(), icon.begin(),
                   [](char c) { return c == ' ' ? '_' : static_cast<char>(std::tolower(c)); });
    EXPECT_EQ(h.getIconPath(type), "icon_" + icon);
    EXPECT_EQ(h.howManyDates(type), twoDates.count(type) ? 2 : 1) << type;
    EXPECT_EQ(h.shouldSplitTheTimeBy24h(type),
              twoDates.count(type) && type != "Breast Feeding" && type != "Pumping")
        << type;
    EXPECT_EQ(h.canUseValueForSums(type), type == "Food" || type == "Drink" || type == "Pumping") << type;
  }
  EXPECT_EQ(h.getIconPath("Chest Size"), std::nullopt);
  EXPECT_EQ(h.getIconPath(std::nullopt), std::nullopt);
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
  EXPECT_EQ(h.getSumsForType(std::nullopt), (Keys{"show_count"}));
  // The measure follows the type's current unit; without a store there is no unit to offer.
  h.getValueType("Drink").setVt_NumMeasureCurrent(std::string("Notation_oz"));
  EXPECT_EQ(h.getSumsForType("Drink"), (Keys{"Notation_oz", "show_count"}));
  EXPECT_EQ(helper("en", false).getSumsForType("Food"), (Keys{"show_count"}));
}

// --- The user's order file

class UserOrderTest : public NoteHelperTest {
 protected:
  void writeRaw(const foundation::Bytes& bytes) {
    ASSERT_TRUE(files::createDirectory(orderFile().parent_path()).ok());
    ASSERT_TRUE(files::writeAtomic(orderFile(), bytes).ok());
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
};

TEST_F(UserOrderTest, StoredOrdersAreMergedWithTheDefaultsAndNeverRewritten) {
  const Keys reversed(kDefaultOrder.rbegin(), kDefaultOrder.rend());
  struct Case {
    const char* what;
    foundation::Array stored;
    Keys expected;
  } cases[] = {
      {"unknown and repeated keys",
       {"Note", "Sleep", "no such type", "Sleep"},
       frontThenDefaults({"Note", "Sleep"})},
      {"Latin C",
       {"Chest Size", "Head Size", kCyrillicChest},
       frontThenDefaults({"Head Size", kCyrillicChest})},
      {"entries that are not text",
       {42, "Pool", foundation::Array{"Note"}, foundation::Dictionary{{"Sleep", "Sleep"}}, true, "Bath"},
       frontThenDefaults({"Pool", "Bath"})},
      {"a full reversed order", foundation::Array(reversed.begin(), reversed.end()), reversed},
      {"an empty array", {}, kDefaultOrder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (auto format : {plist::Format::Xml, plist::Format::Binary}) {
      writeRaw(*plist::writePropertyList(foundation::Value(c.stored), format));
      const auto before = files::readFile(orderFile());
      EXPECT_EQ(helper().getTypeIds("userList"), c.expected);
      EXPECT_EQ(files::readFile(orderFile()).valueOr({}), before.valueOr({}));
    }
  }
}

TEST_F(UserOrderTest, MissingOrUnusableFilesAreReplacedByTheDefaults) {
  ASSERT_FALSE(std::filesystem::exists(library()));
  EXPECT_EQ(helper().getTypeIds("userList"), kDefaultOrder);
  EXPECT_EQ(storedOrder(), kDefaultOrder) << "the Settings folder is created and the defaults written";
  auto bytes = files::readFile(orderFile());
  EXPECT_EQ(plist::detectFormat(bytes->data(), bytes->size()), plist::Format::Xml);

  const std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (const std::string& text :
       {std::string(), std::string("Sleep, Note, Food"), std::string("bplist00\xA1\x01", 9),
        xml + "<dict><key>a</key><string>Note</string></dict></plist>"}) {
    SCOPED_TRACE(text);
    writeRaw(foundation::Bytes(text.begin(), text.end()));
    EXPECT_EQ(helper().getTypeIds("userList"), kDefaultOrder);
    EXPECT_EQ(storedOrder(), kDefaultOrder);
  }
  // A folder in the file's place: the defaults, and the folder is left alone.
  ASSERT_TRUE(files::remove(orderFile()).ok());
  ASSERT_TRUE(files::createDirectory(orderFile()).ok());
  foundation::ScopedLogCapture log;
  EXPECT_EQ(helper().getTypeIds("userList"), kDefaultOrder);
  EXPECT_TRUE(files::isDirectory(orderFile()));
}

TEST_F(UserOrderTest, SavingWritesTheListAsGivenButDoesNotMakeTheFolder) {
  auto h = helper();
  EXPECT_FALSE(h.saveNewTypeList(Keys{"Note"}).ok());
  EXPECT_FALSE(std::filesystem::exists(orderFile().parent_path()));

  EXPECT_EQ(h.getTypeIds("userList"), kDefaultOrder);  // makes the folder, as the order editor does
  const Keys mine = frontThenDefaults({"Temperature", "Bath"});
  ASSERT_TRUE(h.saveNewTypeList(mine).ok());
  EXPECT_EQ(storedOrder(), mine);
  EXPECT_EQ(h.getTypeIds("userList"), mine);
  ASSERT_TRUE(h.saveNewTypeList(std::nullopt).ok());  // no list: nothing happens
  EXPECT_EQ(storedOrder(), mine);
}

}  // namespace
