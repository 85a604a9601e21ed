// The profile rules: the name checks, and the files of a baby following the store only once it
// has saved (and going back when a rename cannot move them).

#include "babies/baby_profile.h"

#include "babies_fixture.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/store/predicate.h"

namespace babies {
namespace {

namespace fs = std::filesystem;

class BabyProfileTest : public babies_test::BabiesTest {
 protected:
  BabyProfileRules rules() { return BabyProfileRules(context_, saves_); }

  // A running timer with a photo, an icon, and a note whose photo has its file.
  void giveFiles(const app::Baby& baby, const std::string& photoKey = "_photo_1") {
    const std::string name = *baby.baby_Name();
    auto timer = std::make_shared<app::noteTimer>();
    timer->setParam_Type("Sleep");
    timer->setParam_ImgPathNum(3);
    ASSERT_TRUE(saves_->saveTimerArrayById({timer}, name).ok());
    ASSERT_TRUE(saves_->saveTempPhotoPhotoPathPhotoNum(image_, name, 3).ok());
    ASSERT_TRUE(saves_->saveIcon(image_, name).ok());
    ASSERT_TRUE(saves_->savePhoto(image_, photoKey).ok());
    auto note = app::Note::insertIn(*context_);
    note.setNote_Type("Sleep");
    note.setNote_DateStop(foundation::Date{600000000});
    note.setNoteToBaby(baby);
    auto photo = app::PhotoInfo::insertIn(*context_);
    photo.setPhoto_Path(photoKey);
    photo.setPhotoInfoToBaby(baby);
    photo.setPhotoInfoToNote(note);
    ASSERT_TRUE(context_->save().ok());
  }

  // Which of the baby's files exist: timers, timer photo, icon.
  std::array<bool, 3> filesOf(const std::string& name) {
    return {fs::exists(*saves_->timerFilePath(name)), fs::exists(*saves_->tempPhotoFilePath(name, 3)),
            saves_->getIcon(name).has_value()};
  }
  static constexpr std::array<bool, 3> kAll{true, true, true};
  static constexpr std::array<bool, 3> kNone{false, false, false};

  size_t count(const char* entity) { return context_->count(store::FetchRequest{entity}).valueOr(99); }

  BabyProfileInput input(std::string name) {
    BabyProfileInput in;
    in.name = std::move(name);
    in.gender = kGirl;
    in.bloodGroup = 4;
    in.birthday = foundation::Date{400000000};
    return in;
  }

  graphics::Image image_{4, 4};
};

TEST_F(BabyProfileTest, NameChecks) {
  const auto anna = addBaby("Anna");
  struct Case {
    const char* name;
    bool asAnna;
    const char* key;  // nullptr: accepted
  } cases[] = {{"", false, "CantBeEmpty"},     {" \t ", false, "CantBeEmpty"},
               {"Anna", false, "TheSameName"}, {" Anna\t", false, "TheSameName"},
               {"Anna", true, nullptr},        {"anna", false, nullptr},
               {"Bob", true, nullptr}};
  for (const auto& c : cases) {
    auto status = rules().checkName(c.name, c.asAnna ? anna : app::Baby());
    if (!c.key) {
      EXPECT_TRUE(status.ok()) << c.name;
      continue;
    }
    ASSERT_FALSE(status.ok()) << c.name;
    EXPECT_EQ(status.error().userInfo["key"], foundation::Value(c.key)) << c.name;
  }
  EXPECT_EQ(bloodGroupText(0), "Not set");
  EXPECT_EQ(bloodGroupText(8), "AB(IV)+");
  EXPECT_EQ(bloodGroupText(9), "Not set");
}

TEST_F(BabyProfileTest, NewBabyIsSavedThenTakesOverItsNameCleanly) {
  // Files a deleted baby of the same name left behind.
  ASSERT_TRUE(saves_->saveTimerArrayById({std::make_shared<app::noteTimer>()}, "Mia").ok());
  ASSERT_TRUE(saves_->saveIcon(image_, "Mia").ok());

  refuseBabyChanges("INSERT");
  EXPECT_FALSE(rules().addBaby(input("Mia")).ok());
  EXPECT_EQ(count("Baby"), 0u);
  EXPECT_TRUE(fs::exists(*saves_->timerFilePath("Mia")));  // nothing touched before the save
  acceptBabyChanges();

  auto in = input(" Mia ");
  in.icon = graphics::Image(8, 8);
  auto mia = rules().addBaby(in);
  ASSERT_TRUE(mia.ok());
  EXPECT_EQ(mia->baby_Name(), "Mia");
  EXPECT_EQ(mia->baby_Gender(), true);
  EXPECT_EQ(mia->baby_Bood(), 4);
  EXPECT_EQ(mia->baby_BirthDay(), foundation::Date{400000000});
  EXPECT_FALSE(fs::exists(*saves_->timerFilePath("Mia")));
  ASSERT_TRUE(saves_->getIcon("Mia"));
  EXPECT_EQ(saves_->getIcon("Mia")->pixelWidth(), 8);
}

TEST_F(BabyProfileTest, DeletionSavesFirstAndRemovesFilesOnlyAfterwards) {
  const auto anna = addBaby("Anna");
  const auto bob = addBaby("Bob");
  giveFiles(anna, "_anna_1");
  giveFiles(bob, "_bob_1");

  refuseBabyChanges("DELETE");
  {
    foundation::ScopedLogCapture log;
    EXPECT_FALSE(rules().deleteBaby(anna).ok());
    ASSERT_FALSE(log.messages().empty());
    EXPECT_EQ(log.messages().back().rfind("Failed to delete the baby. Error = ", 0), 0u);
  }
  EXPECT_EQ(filesOf("Anna"), kAll);
  EXPECT_TRUE(saves_->getPhoto("_anna_1"));
  EXPECT_EQ(count("Baby"), 2u);
  EXPECT_EQ(count("PhotoInfo"), 2u);  // the context holds nothing half-deleted
  EXPECT_FALSE(context_->hasChanges());
  acceptBabyChanges();

  ASSERT_TRUE(rules().deleteBaby(anna).ok());
  EXPECT_EQ(filesOf("Anna"), kNone);
  EXPECT_FALSE(saves_->getPhoto("_anna_1"));
  EXPECT_EQ(count("Baby"), 1u);
  EXPECT_EQ(count("PhotoInfo"), 1u);
  EXPECT_EQ(filesOf("Bob"), kAll);  // another baby's files stay
  EXPECT_TRUE(saves_->getPhoto("_bob_1"));
  EXPECT_FALSE(rules().deleteBaby(anna).ok());  // once only
}

TEST_F(BabyProfileTest, RenameMovesFilesOnlyAfterTheSaveAndPutsThemBackWhenTheyCannotMove) {
  const auto anna = addBaby("Anna");
  giveFiles(anna);

  // The store refuses: nothing moves, the old name stays.
  refuseBabyChanges("UPDATE");
  EXPECT_FALSE(rules().updateBaby(anna, input("Hanna")).ok());
  EXPECT_EQ(anna.baby_Name(), "Anna");
  EXPECT_EQ(filesOf("Anna"), kAll);
  EXPECT_EQ(filesOf("Hanna"), kNone);
  acceptBabyChanges();

  // The new icon's place is taken: the timers come back and the old name is stored again.
  const fs::path blocked = saves_->getBabyInfoDir() / "Hanna_ava.jpg";
  ASSERT_TRUE(files::createDirectory(blocked / "inside").ok());
  EXPECT_FALSE(rules().updateBaby(anna, input("Hanna")).ok());
  EXPECT_EQ(filesOf("Anna"), kAll);
  EXPECT_FALSE(fs::exists(*saves_->timerFilePath("Hanna")));
  EXPECT_EQ(rules().babyNamed("Anna"), anna);
  EXPECT_FALSE(rules().babyNamed("Hanna"));
  fs::remove_all(blocked);

  ASSERT_TRUE(rules().updateBaby(anna, input("Hanna")).ok());
  EXPECT_EQ(filesOf("Hanna"), kAll);
  EXPECT_EQ(filesOf("Anna"), kNone);
  EXPECT_EQ(count("PhotoInfo"), 1u);  // note photos are named by key, not by baby
  EXPECT_EQ(anna.baby_Bood(), 4);
}

}  // namespace
}  // namespace babies
