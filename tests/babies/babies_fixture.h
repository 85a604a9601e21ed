#pragma once
// What the baby tests share: the diary's store in a temporary home with its file store, English
// texts, and a way to make the store refuse a change (a trigger), as a full disk or a locked file
// would.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>

#include "app/local_saves.h"
#include "app/model.h"
#include "platform/files/app_home.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/user_defaults.h"
#include "platform/store/store.h"
#include "platform/ui/ui_fixture.h"
#include "support/temp_dir.h"

namespace babies_test {

class BabiesTest : public ui_testing::UiTest {
 protected:
  BabiesTest() {
    EXPECT_TRUE(home_.create().ok());
    store_ = store::Store::open(storePath(), app::managedObjectModel()).value();
    context_ = store_->newContext().value();
    previousBundle_ =
        runtime::Bundle::setMain(std::make_shared<runtime::Bundle>(testing_support::resourcesFolder()));
    previousDefaults_ = runtime::UserDefaults::setStandard(std::make_shared<runtime::UserDefaults>(
        temp_.path() / "prefs.plist", std::vector<std::string>{"en"}));
  }
  ~BabiesTest() override {
    runtime::Bundle::setMain(previousBundle_);
    runtime::UserDefaults::setStandard(previousDefaults_);
  }

  std::filesystem::path storePath() const { return home_.documents() / "dataBase.sqlite"; }

  app::Baby addBaby(const std::string& name, bool girl = false) {
    auto baby = app::Baby::insertIn(*context_);
    baby.setBaby_Name(name);
    baby.setBaby_Gender(girl);
    baby.setBaby_BirthDay(foundation::Date{500000000});
    EXPECT_TRUE(context_->save().ok());
    return baby;
  }

  void sql(const std::string& statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << statement;
    sqlite3_close(db);
  }
  // The store refuses every change of the kind ("UPDATE", "DELETE", "INSERT") to Baby rows.
  void refuseBabyChanges(const std::string& kind) {
    sql("CREATE TRIGGER refuse BEFORE " + kind + " ON ZBABY BEGIN SELECT RAISE(ABORT, 'refused'); END");
  }
  void acceptBabyChanges() { sql("DROP TRIGGER refuse"); }

  testing_support::TempDir temp_;
  files::AppHome home_{temp_.path() / "home"};
  std::shared_ptr<app::localSaves> saves_ = std::make_shared<app::localSaves>(home_);
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
  std::shared_ptr<runtime::Bundle> previousBundle_;
  std::shared_ptr<runtime::UserDefaults> previousDefaults_;
};

}  // namespace babies_test
