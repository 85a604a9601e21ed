// A baby's records: each kind stored and shown as its row, blank or ownerless records refused, a
// refused save leaving the store and the objects as they were, and the records screen and its editor
// adding, changing and deleting by their controls.

#include "babies/baby_records.h"

#include "babies/baby_list_controller.h"
#include "babies_fixture.h"
#include "platform/ui/alert.h"
#include "platform/ui/keyboard.h"

namespace babies {
namespace {

class BabyRecordsTest : public babies_test::BabiesTest {
 protected:
  BabyRecords records(std::optional<std::string> name = "Anna") { return BabyRecords(context_, std::move(name)); }
  size_t count(const char* entity) { return context_->count(store::FetchRequest{entity}).valueOr(99); }

  // Anna's records screen of the type, the root of a navigation controller in a window of its own
  // (the device's screen when no frame is given), after it has appeared.
  struct Shown {
    std::shared_ptr<babyInfoTableViewController> screen;
    std::shared_ptr<ui::NavigationController> navigation;
    std::shared_ptr<ui::Window> window;
  };
  Shown show(const char* infoType, std::optional<ui::Rect> frame = std::nullopt) {
    Shown shown;
    shown.screen = std::make_shared<babyInfoTableViewController>();
    shown.screen->setInfoType(infoType);
    shown.screen->setCurrentBabyName("Anna");
    shown.screen->setManagedObjectContext(context_);
    shown.navigation = std::make_shared<ui::NavigationController>(shown.screen);
    shown.window = frame ? std::make_shared<ui::Window>(*frame) : std::make_shared<ui::Window>();
    shown.window->setRootViewController(shown.navigation);
    shown.window->makeKeyAndVisible();
    runLoop();
    return shown;
  }
};

TEST_F(BabyRecordsTest, EachKindIsStoredWithItsFieldsAndShownAsItsRow) {
  addBaby("Anna");
  struct Case {
    const RecordKind* kind;
    std::vector<std::string> values;
    std::string row;
  };
  const Case cases[] = {
      {&allergyRecords(), {"Milk", "rash"}, "Milk: rash"},
      {&allergyRecords(), {"", "after eggs"}, "after eggs"},
      {&allergyRecords(), {"Nuts"}, "Nuts"},  // a missing value is blank
      {&infoRecords(), {"Blood", "checked in May"}, "Blood: checked in May"},
      {&contactRecords(), {"Ann", "Lee", "+1 555", "ann@lee.org", "Main St 1", "pediatrician"}, "Ann Lee, +1 555"},
      {&contactRecords(), {"", "", "112", "", "", ""}, "112"},
      {&contactRecords(), {"", "", "", "", "Main St 1", ""}, ""},  // only fields the row leaves out
  };
  for (const Case& c : cases) {
    auto stored = records().save(*c.kind, nullptr, c.values);
    ASSERT_TRUE(stored.ok()) << c.row << ": " << stored.error().description();
    EXPECT_EQ((*stored)->entity().name, c.kind->entity);
    EXPECT_EQ(recordRowText(*c.kind, *stored), c.row);
    auto values = c.values;
    values.resize(c.kind->fields.size());
    EXPECT_EQ(recordValues(*c.kind, *stored), values) << c.row;
  }
  // Read back from the store, by the baby.
  context_->reset();
  EXPECT_EQ(records().records(allergyRecords()).size(), 3u);
  EXPECT_EQ(records().records(infoRecords()).size(), 1u);
  EXPECT_EQ(records().records(contactRecords()).size(), 3u);
  EXPECT_TRUE(BabyRecords(context_, "Bob").records(allergyRecords()).empty());
}

TEST_F(BabyRecordsTest, BlankOrOwnerlessRecordsAreRefusedAndNothingIsStored) {
  addBaby("Anna");
  auto contact = records().save(contactRecords(), nullptr, {"Ann"});
  ASSERT_TRUE(contact.ok());
  struct Case {
    const char* name;
    BabyRecords records;
    const RecordKind* kind;
    store::ObjectPtr record;
    std::vector<std::string> values;
    std::int64_t code;
  };
  const Case cases[] = {
      {"all blank", records(), &allergyRecords(), nullptr, {"", ""}, kRecordEmpty},
      {"only spaces and tabs", records(), &infoRecords(), nullptr, {"  ", "\t"}, kRecordEmpty},
      {"no values", records(), &contactRecords(), nullptr, {}, kRecordEmpty},
      {"an edit to blank", records(), &contactRecords(), *contact, {"", " "}, kRecordEmpty},
      {"no such baby", records("Nobody"), &allergyRecords(), nullptr, {"Milk"}, kRecordNoBaby},
      {"no baby at all", records(std::nullopt), &allergyRecords(), nullptr, {"Milk"}, kRecordNoBaby},
      {"a contact as an allergy", records(), &allergyRecords(), *contact, {"Milk"}, kRecordWrongKind},
  };
  for (const Case& c : cases) {
    BabyRecords target = c.records;
    auto saved = target.save(*c.kind, c.record, c.values);
    ASSERT_FALSE(saved.ok()) << c.name;
    EXPECT_EQ(saved.error().code, c.code) << c.name;
    if (c.code == kRecordEmpty) {
      EXPECT_EQ(*saved.error().userInfo["key"].string(), "RecordIsEmpty");
    }
    EXPECT_FALSE(context_->hasChanges()) << c.name;
  }
  EXPECT_EQ(count("Allergy") + count("Info"), 0u);
  EXPECT_EQ(recordValues(contactRecords(), *contact)[0], "Ann");
}

TEST_F(BabyRecordsTest, ARefusedSaveLeavesTheRecordAsStored) {
  addBaby("Anna");
  auto allergy = records().save(allergyRecords(), nullptr, {"Milk", "rash"});
  ASSERT_TRUE(allergy.ok());
  sql("CREATE TRIGGER refuse BEFORE UPDATE ON ZALLERGY BEGIN SELECT RAISE(ABORT, 'refused'); END");
  EXPECT_FALSE(records().save(allergyRecords(), *allergy, {"Eggs", "hives"}).ok());
  EXPECT_EQ(recordRowText(allergyRecords(), *allergy), "Milk: rash");
  EXPECT_FALSE(context_->hasChanges());
  sql("DROP TRIGGER refuse");
  sql("CREATE TRIGGER refuse BEFORE DELETE ON ZALLERGY BEGIN SELECT RAISE(ABORT, 'refused'); END");
  EXPECT_FALSE(records().remove(*allergy).ok());
  EXPECT_EQ(records().records(allergyRecords()).size(), 1u);
  sql("DROP TRIGGER refuse");
  EXPECT_TRUE(records().remove(*allergy).ok());
  EXPECT_EQ(count("Allergy"), 0u);
  EXPECT_FALSE(records().remove(*allergy).ok());  // gone already
}

TEST_F(BabyRecordsTest, TheScreenAddsChangesAndDeletesThroughItsEditor) {
  addBaby("Anna");
  const Shown shown = show("Allergies");
  const auto& screen = shown.screen;
  const auto& navigation = shown.navigation;
  // Allergies, then information texts, each ending in its adding row.
  ASSERT_EQ(screen->infoTable().numberOfSections(), 2);
  EXPECT_EQ(screen->infoTable().cellForRowAtIndexPath({1, 0})->textLabel().text(), "Add information");

  auto editor = [&]() -> babyRecordEditController& {
    runLoop();
    auto* top = dynamic_cast<babyRecordEditController*>(navigation->topViewController());
    EXPECT_NE(top, nullptr);
    return *top;
  };
  ASSERT_TRUE(screen->infoTable().tapRowAtIndexPath({1, 0}));
  auto& adding = editor();
  ASSERT_EQ(adding.fields().size(), 2u);
  // The return key goes from the title on to the description, and from there closes the keyboard.
  adding.fields()[0]->insertText("Blood");
  adding.fields()[0]->tapReturnKey();
  EXPECT_TRUE(adding.fields()[1]->isEditing());
  adding.fields()[1]->insertText("A+");
  adding.fields()[1]->tapReturnKey();
  EXPECT_EQ(ui::View::currentFirstResponder(), nullptr);
  adding.save();
  runLoop();
  EXPECT_EQ(navigation->topViewController(), screen.get());
  EXPECT_EQ(screen->rows(), std::vector<std::string>{"Blood: A+"});

  ASSERT_TRUE(screen->infoTable().tapRowAtIndexPath({1, 0}));
  auto& changing = editor();
  changing.fields()[1]->setText("B+");
  changing.save();
  runLoop();
  EXPECT_EQ(screen->rows(), std::vector<std::string>{"Blood: B+"});

  ASSERT_TRUE(screen->infoTable().tapRowAtIndexPath({1, 0}));
  auto& deleting = editor();
  deleting.deleteRecord();
  ASSERT_TRUE(ui::topActionSheet());
  ui::topActionSheet()->tapButton(ui::topActionSheet()->cancelButtonIndex());
  EXPECT_EQ(count("Info"), 1u);
  deleting.deleteRecord();
  ui::topActionSheet()->tapButton(ui::topActionSheet()->destructiveButtonIndex());
  runLoop();
  EXPECT_EQ(count("Info"), 0u);
  EXPECT_TRUE(screen->rows().empty());
}

// A record's whole text shows in its row, however long: an allergy's reaction and a contact's phone
// number come last in the row and were once cut off, on the phone and in the tablet's popover alike.
TEST_F(BabyRecordsTest, ARecordsRowShowsItsWholeText) {
  addBaby("Anna");
  struct Case {
    const char* infoType;
    const RecordKind* kind;
    std::vector<std::string> values;
  };
  const Case cases[] = {
      {"Allergies", &allergyRecords(), {"Milk", "rash"}},
      {"Allergies", &allergyRecords(), {"Арахис и другие орехи", "Сильная сыпь, отёк, вызвать скорую помощь немедленно"}},
      {"Allergies", &infoRecords(), {"Blutgruppe", "beim Kinderarzt im Mai bestimmt, Impfpass liegt im Schrank"}},
      {"Contacts", &contactRecords(), {"Dr. Eva", "Schmidt-Leutheusser", "+49 30 1234567", "", "", ""}},
  };
  for (const double width : {320.0, 540.0}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(width) + ": " + c.values[1]);
      auto stored = records().save(*c.kind, nullptr, c.values);
      ASSERT_TRUE(stored.ok());
      const Shown shown = show(c.infoType, ui::Rect(0, 0, width, 480));
      auto& table = shown.screen->infoTable();
      table.layoutIfNeeded();
      const int section = c.kind == &infoRecords() ? 1 : 0;
      ASSERT_EQ(table.numberOfRowsInSection(section), 2);
      auto cell = table.cellForRowAtIndexPath({section, 0});
      ASSERT_TRUE(cell);
      cell->layoutIfNeeded();
      EXPECT_EQ(cell->textLabel().text(), recordRowText(*c.kind, *stored));
      EXPECT_FALSE(cell->textLabel().isTextCut()) << cell->textLabel().text();
      // The adding row keeps the table's own height.
      EXPECT_EQ(table.rectForRowAtIndexPath({section, 1}).height(), table.rowHeight());
      ASSERT_TRUE(records().remove(*stored).ok());
    }
  }
}

// Whichever field of a record is typed into, the keyboard leaves it in sight: a contact's last
// field was half under the keyboard on the smallest phone.
TEST_F(BabyRecordsTest, TheFieldBeingTypedIntoStaysAboveTheKeyboard) {
  addBaby("Anna");
  struct Case {
    const char* name;
    ui::DeviceProfile device;
    const char* infoType;
    int section;
    size_t fields;
  };
  const Case cases[] = {
      {"contact, 568 phone", ui::DeviceProfile::phone568(), "Contacts", 0, 6},
      {"contact, 667 phone", ui::DeviceProfile::phone667(), "Contacts", 0, 6},
      {"allergy, 568 phone", ui::DeviceProfile::phone568(), "Allergies", 0, 2},
      {"information, 568 phone", ui::DeviceProfile::phone568(), "Allergies", 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui::ScopedDevice device(c.device);
    const Shown shown = show(c.infoType);
    ui::Window& window = *shown.window;
    ASSERT_TRUE(shown.screen->infoTable().tapRowAtIndexPath({c.section, 0}));
    runLoop();
    auto* editor = dynamic_cast<babyRecordEditController*>(shown.navigation->topViewController());
    ASSERT_NE(editor, nullptr);
    ASSERT_EQ(editor->fields().size(), c.fields);
    for (size_t i = 0; i < c.fields; ++i) {
      auto& field = *editor->fields()[i];
      field.becomeFirstResponder();
      runLoop();
      ASSERT_TRUE(ui::Keyboard::isVisible());
      const ui::Rect at = field.convertRectToView(field.bounds(), &window);
      EXPECT_LE(at.maxY(), ui::Keyboard::shownFrame().y()) << "field " << i + 1;
      EXPECT_GE(at.height(), 40);
      if (i > 0) {
        const auto& above = *editor->fields()[i - 1];
        EXPECT_GE(at.y() - above.convertRectToView(above.bounds(), &window).maxY(), 4) << "fields run together";
      }
    }
    editor->fields().back()->resignFirstResponder();
    runLoop();
  }
}

}  // namespace
}  // namespace babies
