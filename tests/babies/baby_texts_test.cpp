// The baby screens in the longest languages, on the smallest phone and on the tablet: every text is
// drawn whole and every control lies on the screen.

#include "app/app_delegate.h"
#include "babies/baby_list_controller.h"
#include "babies/teeth_view_controller.h"
#include "babies_fixture.h"
#include "navigation/screen_fit.h"

namespace babies_test {
namespace {

using babies::addBabyController;
using babies::babyInfoTableViewController;
using babies::babyListController;
using babies::photoCollectionController;

class BabyTextsTest : public BabiesTest {
 protected:
  BabyTextsTest() { app::installNavigationBarLook(); }
  ~BabyTextsTest() override { ui::NavigationBar::appearance() = plainBars_; }

  graphics::ScopedTextMeasurer realFonts_{std::make_shared<graphics::PangoTextMeasurer>()};
  const ui::NavigationBarAppearance plainBars_ = ui::NavigationBar::appearance();
};

TEST_F(BabyTextsTest, EveryTextIsWholeAndEveryControlOnTheScreen) {
  const app::Baby baby = addBaby("Anna", true);
  for (bool pad : {false, true}) {
    ui::ScopedDevice device(pad ? ui::DeviceProfile::pad() : ui::DeviceProfile::phone568());
    for (const char* language : {"en", "ru", "de", "fr", "es", "pt", "ja", "zh-Hans"}) {
      ASSERT_TRUE(runtime::UserDefaults::standard()->setArray(
          runtime::UserDefaults::kAppleLanguagesKey, foundation::Array{foundation::Value(language)}));
      auto list = std::make_shared<babyListController>();
      list->setManagedObjectContext(context_);
      auto newBaby = std::make_shared<addBabyController>();
      newBaby->setManagedObjectContext(context_);
      newBaby->setClock(&clock_);
      auto edited = std::make_shared<addBabyController>();
      edited->setManagedObjectContext(context_);
      edited->setClock(&clock_);
      edited->setBaby(baby);
      auto allergies = std::make_shared<babyInfoTableViewController>();
      allergies->setInfoType("Allergies");
      auto photos = std::make_shared<photoCollectionController>();
      auto teeth = std::make_shared<babies::teethViewController>();
      teeth->setManagedObjectContext(context_);
      teeth->setCurrentBabyName("Anna");
      auto editorOf = [&](const babies::RecordKind& kind) {
        return std::make_shared<babies::babyRecordEditController>(kind, context_, "Anna");
      };
      const std::pair<const char*, std::shared_ptr<ui::ViewController>> screens[] = {
                                                                                     {"teeth", teeth},
                                                                                     {"new allergy", editorOf(babies::allergyRecords())},
                                                                                     {"new information", editorOf(babies::infoRecords())},
                                                                                     {"new contact", editorOf(babies::contactRecords())},
                                                                                     {"baby list", list},
                                                                                     {"new baby", newBaby},
                                                                                     {"baby profile", edited},
                                                                                     {"allergies", allergies},
                                                                                     {"photos", photos}};
      for (const auto& [name, screen] : screens) {
        auto window = std::make_shared<ui::Window>();
        window->setRootViewController(std::make_shared<ui::NavigationController>(screen));
        window->makeKeyAndVisible();
        if (screen == list) list->updateList();
        loop_.runUntilIdle();
        window->layoutIfNeeded();
        EXPECT_EQ(screen_fit::problems(*window), std::vector<std::string>{})
            << name << " in " << language << (pad ? " on the tablet" : " on the phone");
        window->setRootViewController(nullptr);
        loop_.runUntilIdle();
      }
    }
  }
}

}  // namespace
}  // namespace babies_test
