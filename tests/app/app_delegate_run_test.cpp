// The headless diary on a data root: a first and a second run, a store with babies and notes, a
// store that cannot be opened, a data root that cannot be made.
#include <gtest/gtest.h>

#include <sstream>

#include "app_delegate_fixture.h"

namespace app_delegate_test {
namespace {

class RunDiaryTest : public ::testing::Test {
 protected:
  RunDiaryTest() : loop_(clock_), mainLoop_(loop_), device_(ui::DeviceProfile::phone568()) {
    resetProcessServices();
    previousDefaults_ = runtime::UserDefaults::setStandard(nullptr);
  }
  ~RunDiaryTest() override {
    resetProcessServices();
    runtime::UserDefaults::setStandard(previousDefaults_);
  }

  int run() {
    out_.str("");
    err_.str("");
    const int status = app::runDiary(home_, out_, err_);
    resetProcessServices();
    return status;
  }
  std::filesystem::path storeFile() const { return home_.documents() / "dataBase.sqlite"; }

  testing_support::TempDir dir_;
  files::AppHome home_{dir_.path() / "diary"};
  foundation::ManualClock clock_{foundation::Date{600000000}};
  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop mainLoop_;
  ui::ScopedDevice device_;
  std::shared_ptr<runtime::UserDefaults> previousDefaults_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(RunDiaryTest, AFreshDataRootGetsAnEmptyStoreAndASecondRunReadsIt) {
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(run(), 0) << err_.str();
    EXPECT_EQ(out_.str(), "diary: data root " + home_.root().string() + "\nbabies: 0, notes: 0\n");
    EXPECT_TRUE(files::isDirectory(home_.library()));
    EXPECT_TRUE(files::exists(storeFile()));
  }
}

TEST_F(RunDiaryTest, TheReportCountsTheBabiesAndTheirNotes) {
  ASSERT_TRUE(home_.create().ok());
  {
    auto store = store::Store::open(storeFile(), app::managedObjectModel());
    ASSERT_TRUE(store.ok());
    auto context = *(*store)->newContext();
    auto ben = app::Baby::insertIn(*context);
    ben.setBaby_Name("Ben");
    auto anna = app::Baby::insertIn(*context);
    anna.setBaby_Name("Anna");
    app::Baby::insertIn(*context).setBaby_Name("Mia Ö");
    for (const auto& [baby, type] :
         std::vector<std::pair<app::Baby, std::string>>{{anna, "Sleep"}, {anna, "WC"}, {ben, "Food"}}) {
      auto note = app::Note::insertIn(*context);
      note.setNote_Type(type);
      note.setNote_DateStop(foundation::Date{500000000});
      note.setNoteToBaby(baby);
    }
    // A note of nobody counts among the notes only.
    app::Note::insertIn(*context).setNote_Type("Bath");
    ASSERT_TRUE(context->save().ok());
    ASSERT_TRUE((*store)->close().ok());
  }
  EXPECT_EQ(run(), 0) << err_.str();
  EXPECT_EQ(out_.str(), "diary: data root " + home_.root().string() +
                            "\nbabies: 3, notes: 4\n  Anna: 2 notes\n  Ben: 1 note\n  Mia Ö: 0 notes\n");
}

TEST_F(RunDiaryTest, ACorruptStoreEndsTheRunWithAMessageAndStaysByteForByte) {
  ASSERT_TRUE(home_.create().ok());
  foundation::Bytes garbage;
  for (int i = 0; i < 8192; ++i) garbage.push_back(static_cast<std::uint8_t>((i * 31 + 7) % 256));
  ASSERT_TRUE(files::writeAtomic(storeFile(), garbage).ok());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(run(), 2);
    EXPECT_NE(err_.str().find("diary: cannot open the data store"), std::string::npos) << err_.str();
    EXPECT_EQ(out_.str(), "diary: data root " + home_.root().string() + "\n");
    auto bytes = files::readFile(storeFile());
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(*bytes, garbage);
    auto listing = files::listDirectory(home_.documents());
    ASSERT_TRUE(listing.ok());
    EXPECT_EQ(*listing, std::vector<std::string>{"dataBase.sqlite"});
  }
}

TEST_F(RunDiaryTest, ADataRootThatCannotBeMadeIsReported) {
  ASSERT_TRUE(files::writeAtomic(dir_.path() / "diary", std::string_view("a file, not a folder")).ok());
  EXPECT_EQ(run(), 1);
  EXPECT_NE(err_.str().find("diary: cannot prepare the data root"), std::string::npos) << err_.str();
  EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace app_delegate_test
