// The baby list as the main screens use it: choosing a baby, the first baby made from the empty
// list, and the records and photo lists the tablet opens.

#include "babies/baby_list_controller.h"
#include "babies_fixture.h"
#include "platform/ui/render.h"

namespace babies {
namespace {

struct Chooser : babyListControllerDelegate {
  struct Choice {
    std::optional<std::string> name;
    int gender;
    std::optional<foundation::Date> birthday;
  };
  std::vector<Choice> choices;
  void babyListControllerDone(const std::optional<std::string>& name, int gender,
                              const std::optional<foundation::Date>& birthday) override {
    choices.push_back({name, gender, birthday});
  }
};

class BabyListTest : public babies_test::BabiesTest {
 protected:
  // The list as the main screens open it: from the storyboard, given the three values, then told
  // to update, and shown.
  babyListController& openList() {
    registerBabyScreens(storyboard_);
    navigation_ = std::dynamic_pointer_cast<ui::NavigationController>(
        storyboard_.instantiateViewControllerWithIdentifier(kBabyNavigationId));
    auto* list = dynamic_cast<babyListController*>(navigation_->topViewController());
    list->setManagedObjectContext(context_);
    list->setBabyList_delegate(chooser_);
    list->setLocSaves(saves_);
    list->setClock(&clock_);
    list->updateList();
    window_.setRootViewController(navigation_);
    window_.makeKeyAndVisible();
    runLoop();
    return *list;
  }

  ui::Storyboard storyboard_;
  ui::Window window_;
  std::shared_ptr<ui::NavigationController> navigation_;
  std::shared_ptr<Chooser> chooser_ = std::make_shared<Chooser>();
};

TEST_F(BabyListTest, RowsChooseTheirBaby) {
  addBaby("Anna");
  addBaby("Mia", true);
  babyListController detached;
  detached.updateList();  // no context: nothing, and no crash
  EXPECT_TRUE(detached.babies().empty());

  auto& list = openList();
  ASSERT_EQ(list.babyTable().numberOfRowsInSection(0), 2);
  EXPECT_EQ(navigation_->viewControllers().size(), 1u);  // babies exist: no editor opens
  ASSERT_TRUE(list.babyTable().tapRowAtIndexPath({0, 1}));
  ASSERT_EQ(chooser_->choices.size(), 1u);
  EXPECT_EQ(chooser_->choices[0].name, "Mia");
  EXPECT_EQ(chooser_->choices[0].gender, kGirl);
  EXPECT_EQ(chooser_->choices[0].birthday, foundation::Date{500000000});
}

TEST_F(BabyListTest, TheFirstBabyIsMadeFromTheEmptyListAndChosen) {
  auto& list = openList();
  auto* editor = dynamic_cast<addBabyController*>(navigation_->topViewController());
  ASSERT_NE(editor, nullptr);

  editor->save();  // no name yet
  ASSERT_TRUE(editor->alert() && editor->alert()->isVisible());
  EXPECT_EQ(editor->alert()->title(), "The name cannot be empty.");
  EXPECT_TRUE(chooser_->choices.empty());

  editor->nameField().setText("Anna");
  editor->genderSegment().tapSegment(kGirl);
  editor->bloodPicker().spinToRow(2, 0);
  EXPECT_EQ(editor->bloodPicker().titleForRow(2, 0), "O(I)+");
  const auto out = testing_support::testOutput() / "babies";
  std::filesystem::create_directories(out);
  EXPECT_TRUE(ui::renderToPng(window_, out / "baby_editor.png", 2).ok());
  editor->save();
  runLoop();
  ASSERT_EQ(chooser_->choices.size(), 1u);
  EXPECT_EQ(chooser_->choices[0].name, "Anna");
  EXPECT_EQ(chooser_->choices[0].gender, kGirl);
  EXPECT_EQ(chooser_->choices[0].birthday, clock_.now());  // born today unless told otherwise
  EXPECT_EQ(list.babies().size(), 1u);
  EXPECT_EQ(navigation_->topViewController(), &list);

  // A second baby is not chosen for the user.
  list.addBaby();
  runLoop();
  editor = dynamic_cast<addBabyController*>(navigation_->topViewController());
  ASSERT_NE(editor, nullptr);
  editor->nameField().setText("Anna");
  editor->save();
  EXPECT_EQ(editor->alert()->title(), "A baby with this name already exists.");
  editor->nameField().setText("Bob");
  editor->save();
  runLoop();
  EXPECT_EQ(chooser_->choices.size(), 1u);
  EXPECT_EQ(list.babies().size(), 2u);
}

TEST_F(BabyListTest, TheOpenerFollowsItsBabyThroughARenameAndADeletion) {
  addBaby("Anna");
  addBaby("Bob");
  addBaby("Cleo");
  auto& list = openList();
  list.setCurrentBabyName("Anna");
  auto editorOf = [&](const std::string& name) -> addBabyController& {
    for (size_t i = 0; i < list.babies().size(); ++i) {
      if (list.babies()[i].baby_Name() == name) list.editBabyAtIndex(i);
    }
    runLoop();
    return *dynamic_cast<addBabyController*>(navigation_->topViewController());
  };
  auto names = [&] {
    std::vector<std::string> out;
    for (const auto& choice : chooser_->choices) out.push_back(choice.name.value_or("-"));
    return out;
  };

  auto& cleo = editorOf("Cleo");  // not the opener's baby: nothing to tell
  cleo.nameField().setText("Clea");
  cleo.save();
  runLoop();
  EXPECT_TRUE(chooser_->choices.empty());

  auto& anna = editorOf("Anna");
  anna.nameField().setText("Hanna");
  anna.save();
  runLoop();
  EXPECT_EQ(names(), std::vector<std::string>{"Hanna"});

  auto& hanna = editorOf("Hanna");
  hanna.deleteBaby();
  ASSERT_TRUE(ui::topActionSheet());
  ui::topActionSheet()->tapButton(ui::topActionSheet()->destructiveButtonIndex());
  runLoop();
  ASSERT_EQ(chooser_->choices.size(), 2u);
  EXPECT_NE(chooser_->choices[1].name, "Hanna");
  EXPECT_EQ(list.babies().size(), 2u);
  EXPECT_TRUE(ui::renderToPng(window_, testing_support::testOutput() / "babies" / "baby_list.png", 2).ok());
}

TEST_F(BabyListTest, RecordListsShowTheCurrentBabysRows) {
  const auto anna = addBaby("Anna");
  const auto bob = addBaby("Bob");
  for (const auto& [baby, id] : {std::pair{anna, "Milk"}, std::pair{bob, "Nuts"}}) {
    auto allergy = app::Allergy::insertIn(*context_);
    allergy.setAllergy_Id(id);
    allergy.setAllergyToBaby(baby);
  }
  auto contact = app::Contact::insertIn(*context_);
  contact.setContact_FirstName("Dr.");
  contact.setContact_LastName("Who");
  contact.setContactToBaby(anna);
  ASSERT_TRUE(context_->save().ok());

  for (const auto& [type, row] :
       {std::pair{kInfoTypeAllergies, "Milk"}, std::pair{kInfoTypeContacts, "Dr. Who"}}) {
    babyInfoTableViewController screen;
    screen.setInfoType(std::string(type));
    screen.setCurrentBabyName("Anna");
    screen.setManagedObjectContext(context_);
    screen.view();
    screen.reload();
    EXPECT_EQ(screen.rows(), std::vector<std::string>{row}) << type;
  }

  // Photos: newest first, a row whose file is gone left out.
  for (const auto& [key, date, file] :
       {std::tuple{"_a", 100.0, true}, std::tuple{"_b", 200.0, true}, std::tuple{"_gone", 300.0, false}}) {
    auto photo = app::PhotoInfo::insertIn(*context_);
    photo.setPhoto_Path(std::string(key));
    photo.setPhoto_Date(foundation::Date{date});
    photo.setPhotoInfoToBaby(anna);
    if (file) {
      ASSERT_TRUE(saves_->savePhoto(graphics::Image(2, 2), key).ok());
    }
  }
  ASSERT_TRUE(context_->save().ok());
  photoCollectionController photos;
  photos.setCurrentBabyName("Anna");
  photos.setManagedObjectContext(context_);
  photos.setLocSaves(saves_);
  photos.view();
  photos.reload();
  EXPECT_EQ(photos.photoKeys(), (std::vector<std::string>{"_b", "_a"}));
  EXPECT_EQ(photos.photoTable().numberOfRowsInSection(0), 2);
}

// A photo's row shows a thumbnail beside its whole date, whatever the photo's size: a photo at its
// own size once filled the row and pushed the date out of sight.
TEST_F(BabyListTest, APhotosRowShowsAThumbnailAndItsWholeDate) {
  const app::Baby anna = addBaby("Anna");
  struct Case {
    int width, height;  // the photo's pixels
  };
  const Case photos[] = {{200, 200}, {640, 480}, {480, 640}, {1600, 1200}};
  for (const double screenWidth : {320.0, 540.0}) {
    for (const Case& c : photos) {
      SCOPED_TRACE(std::to_string(screenWidth) + ": " + std::to_string(c.width) + "x" + std::to_string(c.height));
      const std::string key = "_" + std::to_string(c.width) + "x" + std::to_string(c.height);
      auto photo = app::PhotoInfo::insertIn(*context_);
      photo.setPhoto_Path(key);
      photo.setPhoto_Date(foundation::Date{600000000});
      photo.setPhotoInfoToBaby(anna);
      ASSERT_TRUE(saves_->savePhoto(graphics::Image(c.width, c.height), key).ok());
      ASSERT_TRUE(context_->save().ok());
      auto screen = std::make_shared<photoCollectionController>();
      screen->setCurrentBabyName("Anna");
      screen->setManagedObjectContext(context_);
      screen->setLocSaves(saves_);
      ui::Window window(ui::Rect(0, 0, screenWidth, 480));
      window.setRootViewController(std::make_shared<ui::NavigationController>(screen));
      window.makeKeyAndVisible();
      runLoop();
      auto& table = screen->photoTable();
      table.layoutIfNeeded();
      ASSERT_EQ(table.numberOfRowsInSection(0), 1);
      auto cell = table.cellForRowAtIndexPath({0, 0});
      ASSERT_TRUE(cell);
      cell->layoutIfNeeded();
      ASSERT_TRUE(cell->imageView().image());
      EXPECT_LE(cell->imageView().frame().width(), 80);
      EXPECT_GT(cell->imageView().frame().width(), 40);
      EXPECT_FALSE(cell->textLabel().text().empty());
      EXPECT_FALSE(cell->textLabel().isTextCut()) << cell->textLabel().text();
      context_->deleteObject(photo.object());
      ASSERT_TRUE(context_->save().ok());
    }
  }
}

}  // namespace
}  // namespace babies
