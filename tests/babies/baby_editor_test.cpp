// The profile editor's picture, chosen through the photo screen and its library and stored or removed
// at save; its name field's return key; and the "baby_names" event of a saved name.

#include <fstream>

#include "babies/baby_list_controller.h"
#include "babies_fixture.h"
#include "note_editor/photo_view_controller.h"
#include "platform/ui/image_library.h"

namespace babies {
namespace {

namespace fs = std::filesystem;
using note_editor::photoLibraryController;
using note_editor::photoViewController;

graphics::Image filled(int side, std::uint8_t red) {
  graphics::Image image(side, side);
  for (size_t i = 0; i < image.pixels().size(); i += 4) {
    image.pixels()[i] = red;
    image.pixels()[i + 3] = 255;
  }
  return image;
}

class BabyEditorTest : public babies_test::BabiesTest {
 protected:
  BabyEditorTest() {
    registerBabyScreens(storyboard_);
    storyboard_.registerController(photoViewController::kStoryboardIdentifier,
                                   [this] { return std::make_shared<photoViewController>(library_); });
  }

  // The editor of the baby (a new one when empty), shown in a navigation controller.
  addBabyController& openEditor(const app::Baby& baby = {}) {
    auto editor = std::dynamic_pointer_cast<addBabyController>(storyboard_.instantiateViewControllerWithIdentifier(kAddBabyId));
    editor->setManagedObjectContext(context_);
    editor->setLocSaves(saves_);
    editor->setClock(&clock_);
    editor->setBaby(baby);
    editor->setLogEvent([this](std::string event, foundation::Dictionary parameters) {
      events_.emplace_back(std::move(event), std::move(parameters));
    });
    navigation_ = std::make_shared<ui::NavigationController>(editor);
    window_.setRootViewController(navigation_);
    window_.makeKeyAndVisible();
    runLoop();
    return *editor;
  }
  ui::ViewController* top() { return navigation_->topViewController(); }

  ui::Storyboard storyboard_;
  ui::Window window_;
  std::shared_ptr<ui::NavigationController> navigation_;
  fs::path library_ = temp_.path() / "Media" / "DCIM";
  std::vector<std::pair<std::string, foundation::Dictionary>> events_;
};

TEST_F(BabyEditorTest, APictureChosenFromTheLibraryIsStoredAtSave) {
  auto& editor = openEditor();
  EXPECT_EQ(ui::imageName(editor.pictureButton().backgroundImageForState(ui::ControlState::kNormal)), "babyBoy");
  editor.genderSegment().tapSegment(kGirl);
  EXPECT_EQ(ui::imageName(editor.pictureButton().backgroundImageForState(ui::ControlState::kNormal)), "babyGirl");

  // No icon yet: straight into the library, which the photo screen made and which is empty.
  editor.pictureButton().tap();
  runLoop();
  EXPECT_TRUE(fs::is_directory(library_));
  auto* library = dynamic_cast<photoLibraryController*>(top());
  ASSERT_NE(library, nullptr);
  ASSERT_NE(library->emptyLabel(), nullptr);
  EXPECT_NE(library->emptyLabel()->text().find(library_.string()), std::string::npos);
  library->cancel();
  runLoop();
  EXPECT_EQ(top(), &editor) << "a cancelled choice goes back to the editor";
  EXPECT_FALSE(editor.shownIcon());

  const auto png = filled(64, 200).pngData();
  std::ofstream(library_ / "mine.png", std::ios::binary).write(reinterpret_cast<const char*>(png->data()),
                                                                static_cast<std::streamsize>(png->size()));
  editor.pictureButton().tap();
  runLoop();
  library = dynamic_cast<photoLibraryController*>(top());
  ASSERT_NE(library, nullptr);
  ASSERT_TRUE(library->tableView().tapRowAtIndexPath({0, 0}));
  runLoop();
  auto* photo = dynamic_cast<photoViewController*>(top());
  ASSERT_NE(photo, nullptr);
  EXPECT_FALSE(photo->removeButton().isHidden());
  navigation_->popViewControllerAnimated(false);
  runLoop();
  ASSERT_TRUE(editor.shownIcon());
  EXPECT_GT(editor.pictureButton().cornerRadius(), 0) << "a chosen picture shows as a circle";
  EXPECT_FALSE(saves_->getIcon("Ada")) << "nothing is stored before the save";

  editor.nameField().setText("Ada");
  editor.save();
  runLoop();
  const auto icon = saves_->getIcon("Ada");
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->pixelWidth(), 64);
}

TEST_F(BabyEditorTest, WhatThePhotoScreenHandsBackDecidesTheStoredIcon) {
  const graphics::Image stored = filled(8, 10), other = filled(8, 250);
  struct Case {
    const char* name;
    std::optional<graphics::Image> handedBack;
    std::optional<std::uint8_t> storedRed;  // the red of the icon after the save, none when gone
  };
  const Case cases[] = {
      {"removed", std::nullopt, std::nullopt},
      {"the same picture", stored, 10},
      {"another picture", other, 250},
  };
  for (const Case& c : cases) {
    const app::Baby baby = addBaby(c.name);
    ASSERT_TRUE(saves_->saveIcon(stored, c.name).ok());
    const auto before = fs::last_write_time(saves_->getBabyInfoDir() / (std::string(c.name) + "_ava.jpg"));
    auto& editor = openEditor(baby);
    EXPECT_TRUE(editor.shownIcon()) << c.name;
    editor.setPhoto(c.handedBack);
    editor.save();
    runLoop();
    const auto icon = saves_->getIcon(c.name);
    ASSERT_EQ(icon.has_value(), c.storedRed.has_value()) << c.name;
    if (!icon) continue;
    EXPECT_NEAR(icon->pixels()[0], *c.storedRed, 3) << c.name;
    if (c.handedBack && c.handedBack->pixels() == stored.pixels()) {
      // The unchanged picture is not written again (a JPEG written again loses a little each time).
      EXPECT_EQ(fs::last_write_time(saves_->getBabyInfoDir() / (std::string(c.name) + "_ava.jpg")), before);
    }
  }
  // Chosen, then the editor cancelled: nothing stored.
  auto& editor = openEditor(addBaby("Cancelled"));
  editor.setPhoto(other);
  editor.cancel();
  runLoop();
  EXPECT_FALSE(saves_->getIcon("Cancelled"));
}

TEST_F(BabyEditorTest, TheReturnKeyClosesTheKeyboard) {
  auto& editor = openEditor();
  editor.nameField().insertText("Ada");
  ASSERT_TRUE(editor.nameField().isEditing());
  editor.nameField().tapReturnKey();
  EXPECT_FALSE(editor.nameField().isEditing());
  EXPECT_EQ(ui::View::currentFirstResponder(), nullptr);
}

TEST_F(BabyEditorTest, ASavedNewNameIsLoggedAsBabyNames) {
  const app::Baby ada = addBaby("Ada");
  struct Case {
    const char* name;
    app::Baby baby;
    std::string typed;
    std::vector<std::string> logged;
  };
  const Case cases[] = {
      {"a new baby", {}, "Bea", {"Bea"}},
      {"a rename", ada, "Ava", {"Ava"}},
      {"the same name", ada, "Ava", {}},
      {"an empty name, refused", {}, " ", {}},
      {"a name taken, refused", {}, "Ava", {}},
  };
  for (const Case& c : cases) {
    events_.clear();
    auto& editor = openEditor(c.baby);
    editor.nameField().setText(c.typed);
    editor.save();
    runLoop();
    std::vector<std::string> logged;
    for (const auto& [event, parameters] : events_) {
      EXPECT_EQ(event, "baby_names");
      EXPECT_EQ(*parameters["lang"].string(), "en") << c.name;
      EXPECT_TRUE(parameters["country"].string()) << c.name;
      logged.push_back(*parameters["name"].string());
    }
    EXPECT_EQ(logged, c.logged) << c.name;
  }
}


// Every part of the editor lies inside the frame it is shown in: the phone's screen, the tablet's
// form sheet, and the popover the tablet's main screen shows the baby list in after a restore into
// an empty store (where the birthday wheel once ran past the popover's bottom edge).
TEST_F(BabyEditorTest, EveryPartLiesInsideTheFrameItIsShownIn) {
  enum class Shown { kScreen, kFormSheet, kPopover };
  struct Case {
    const char* name;
    ui::DeviceProfile device;
    Shown shown;
    bool existing;
  };
  const Case cases[] = {
      {"phone, new baby", ui::DeviceProfile::phone568(), Shown::kScreen, false},
      {"phone, a baby with its Delete", ui::DeviceProfile::phone568(), Shown::kScreen, true},
      {"tablet form sheet, new baby", ui::DeviceProfile::pad(), Shown::kFormSheet, false},
      {"tablet form sheet, a baby", ui::DeviceProfile::pad(), Shown::kFormSheet, true},
      {"tablet popover, new baby", ui::DeviceProfile::pad(), Shown::kPopover, false},
      {"tablet popover, a baby", ui::DeviceProfile::pad(), Shown::kPopover, true},
  };
  const app::Baby ada = addBaby("Ada");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui::ScopedDevice device(c.device);
    ui::Window window;
    auto root = std::make_shared<ui::ViewController>();
    window.setRootViewController(root);
    window.makeKeyAndVisible();
    auto editor = std::dynamic_pointer_cast<addBabyController>(
        storyboard_.instantiateViewControllerWithIdentifier(kAddBabyId));
    editor->setManagedObjectContext(context_);
    editor->setLocSaves(saves_);
    editor->setClock(&clock_);
    if (c.existing) editor->setBaby(ada);
    // The baby list's navigation controller, which the editor is pushed on.
    auto holder = std::make_shared<ui::NavigationController>(std::make_shared<ui::ViewController>());
    std::shared_ptr<ui::PopoverController> popover;
    if (c.shown == Shown::kPopover) {
      // As the tablet's main screen shows the baby list after a restore.
      popover = ui::PopoverController::create(holder);
      popover->presentPopoverFromRect(ui::Rect(50, 50, 50, 50), root->view().get(), ui::kPopoverArrowLeft, false);
    } else {
      if (c.shown == Shown::kFormSheet) holder->setModalPresentationStyle(ui::ModalPresentationStyle::kFormSheet);
      root->presentViewController(holder, false);
    }
    runLoop();
    holder->pushViewController(editor, false);
    runLoop();
    ASSERT_TRUE(editor->isViewLoaded());
    const ui::Rect frame = holder->view()->convertRectToView(holder->view()->bounds(), &window);
    const ui::Rect content = editor->view()->convertRectToView(editor->view()->bounds(), &window);
    EXPECT_GE(content.y(), frame.y());
    EXPECT_LE(content.maxY(), frame.maxY());
    ASSERT_GE(editor->view()->subviews().size(), c.existing ? 6u : 5u);
    for (const auto& part : editor->view()->subviews()) {
      const ui::Rect r = part->convertRectToView(part->bounds(), &window);
      const std::string at = std::to_string(r.x()) + "," + std::to_string(r.y()) + " " +
                             std::to_string(r.width()) + "x" + std::to_string(r.height());
      EXPECT_GE(r.x(), frame.x()) << at;
      EXPECT_GE(r.y(), content.y()) << at;
      EXPECT_LE(r.maxX(), frame.maxX()) << at;
      EXPECT_LE(r.maxY(), frame.maxY()) << at;
      EXPECT_GT(r.height(), 30) << "a part squeezed out of sight: " << at;
    }
    // The wheels still answer: the birthday is the one picked.
    editor->birthdayPicker().setDate(foundation::Date{400000000});
    editor->nameField().setText(c.existing ? "Ada" : std::string("Bea ") + c.name);
    editor->save();
    runLoop();
    if (popover) popover->dismissPopoverAnimated(false);
    else if (root->presentedViewController()) root->dismissViewControllerAnimated(false);
    runLoop();
    const auto saved = BabyProfileRules(context_, saves_).babyNamed(c.existing ? "Ada" : std::string("Bea ") + c.name);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved.baby_BirthDay(), foundation::Date{400000000});
  }
}

}  // namespace
}  // namespace babies
