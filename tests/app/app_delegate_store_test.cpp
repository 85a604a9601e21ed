// The application delegate's data store: built on request, a store that cannot be opened, saves
// that fail, dropping the stack before a restore and reading the store again after it, and the
// tutorial step.
#include <gtest/gtest.h>

#include "app/settings_records.h"
#include "app_delegate_fixture.h"
#include "platform/foundation/log.h"
#include "platform/store/sqlite.h"

namespace app_delegate_test {
namespace {

using foundation::Bytes;

// Writes a store with the named babies at `path` and closes it.
void writeStore(const std::filesystem::path& path, const std::vector<std::string>& names) {
  auto store = store::Store::open(path, app::managedObjectModel());
  ASSERT_TRUE(store.ok()) << store.error().description();
  auto context = (*store)->newContext();
  ASSERT_TRUE(context.ok());
  for (const auto& name : names) app::Baby::insertIn(**context).setBaby_Name(name);
  ASSERT_TRUE((*context)->save().ok());
  ASSERT_TRUE((*store)->close().ok());
}

std::vector<std::string> babyNames(store::Context& context) {
  store::FetchRequest request{"Baby"};
  request.sortDescriptors.push_back({"baby_Name", true, store::StringComparison::Binary});
  auto babies = context.fetch(request);
  EXPECT_TRUE(babies.ok());
  std::vector<std::string> names;
  if (babies.ok()) {
    for (const auto& b : *babies) names.push_back(app::Baby(b).baby_Name().value_or(""));
  }
  return names;
}

Bytes readBytes(const std::filesystem::path& path) {
  auto bytes = files::readFile(path);
  EXPECT_TRUE(bytes.ok());
  return bytes.ok() ? *bytes : Bytes{};
}

// Runs SQL on the store file through a connection of its own.
void execOnFile(const std::filesystem::path& path, const std::string& sql) {
  auto connection = store::sql::Connection::open(path, store::sql::Connection::Mode::ReadWrite);
  ASSERT_TRUE(connection.ok()) << connection.error().description();
  auto done = (*connection)->exec(sql);
  ASSERT_TRUE(done.ok()) << done.error().description();
}

// --- Building the stack --------------------------------------------------------------------------------

TEST_F(AppDelegateTest, AMissingDocumentsFolderIsMade) {
  ASSERT_TRUE(files::remove(home_.documents()).ok());
  ASSERT_NE(delegate().managedObjectContext(), nullptr);
  EXPECT_TRUE(files::exists(storeFile()));
}

TEST_F(AppDelegateTest, AStoreThatCannotBeOpenedIsLoggedAndLeftExactlyAsItWas) {
  Bytes garbage;
  for (int i = 0; i < 5000; ++i) garbage.push_back(static_cast<std::uint8_t>((i * 7919) % 251));
  ASSERT_TRUE(files::writeAtomic(storeFile(), garbage).ok());
  for (const Bytes& content : {garbage, Bytes{'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't',
                                              ' ', '3', 0, 'x', 'y', 'z'}}) {
    ASSERT_TRUE(files::writeAtomic(storeFile(), content).ok());
    foundation::ScopedLogCapture log;
    EXPECT_EQ(delegate().managedObjectContext(), nullptr);
    EXPECT_EQ(delegate().persistentStoreCoordinator(), nullptr);
    ASSERT_TRUE(delegate().storeError().has_value());
    EXPECT_TRUE(log.contains("Unresolved error "));
    // Asked again, it tries again and still touches nothing.
    EXPECT_EQ(delegate().managedObjectContext(), nullptr);
    EXPECT_EQ(readBytes(storeFile()), content);
    auto listing = files::listDirectory(home_.documents());
    ASSERT_TRUE(listing.ok());
    EXPECT_EQ(*listing, std::vector<std::string>{"dataBase.sqlite"});
    // Saving without a context does nothing and fails nothing.
    EXPECT_TRUE(delegate().saveContext().ok());
  }
  // Once the file is a store again, the next request opens it.
  ASSERT_TRUE(files::remove(storeFile()).ok());
  writeStore(storeFile(), {"Anna"});
  auto context = delegate().managedObjectContext();
  ASSERT_NE(context, nullptr);
  EXPECT_FALSE(delegate().storeError().has_value());
  EXPECT_EQ(babyNames(*context), std::vector<std::string>{"Anna"});
}

TEST_F(PadAppDelegateTest, ATabletLaunchOverAnUnreadableStoreGoesOnWithoutAContext) {
  ASSERT_TRUE(files::writeAtomic(storeFile(), std::string_view("not a database at all")).ok());
  auto root = std::make_shared<RootStandIn>();
  foundation::ScopedLogCapture log;
  EXPECT_TRUE(launch(root));
  EXPECT_EQ(root->calls.size(), 3u);
  EXPECT_EQ(root->context, nullptr);
  EXPECT_NE(root->saves, nullptr);
  EXPECT_TRUE(log.contains("Unresolved error "));
  ui::Application::shared().terminate();
  EXPECT_EQ(readBytes(storeFile()), (Bytes{'n', 'o', 't', ' ', 'a', ' ', 'd', 'a', 't', 'a', 'b',
                                           'a', 's', 'e', ' ', 'a', 't', ' ', 'a', 'l', 'l'}));
}

// --- Saves that fail ---------------------------------------------------------------------------------

class FailingSaveTest : public AppDelegateTest {
 protected:
  void SetUp() override {
    launch();
    context_ = delegate().managedObjectContext();
    ASSERT_NE(context_, nullptr);
    // Every new baby is refused by the file, as a full disk would refuse it.
    execOnFile(
        storeFile(),
        "CREATE TRIGGER refuse BEFORE INSERT ON ZBABY BEGIN SELECT RAISE(ABORT, 'disk is full'); END;");
    previousHook_ = foundation::setFatalHook([this](std::string_view) { ++fatalCalls_; });
  }
  void TearDown() override { foundation::setFatalHook(previousHook_); }

  std::shared_ptr<store::Context> context_;
  foundation::FatalHook previousHook_;
  int fatalCalls_ = 0;
};

TEST_F(FailingSaveTest, AFailedSaveAtResignIsLoggedAndTheApplicationKeepsItsChanges) {
  app::Baby anna = app::Baby::insertIn(*context_);
  anna.setBaby_Name("Anna");
  foundation::ScopedLogCapture log;
  ui::Application::shared().resignActive();
  EXPECT_EQ(fatalCalls_, 0);
  EXPECT_TRUE(log.contains("Unresolved error "));
  EXPECT_TRUE(log.contains("disk is full"));
  EXPECT_EQ(ui::Application::shared().state(), ui::ApplicationState::kInactive);
  EXPECT_TRUE(context_->hasChanges());
  EXPECT_EQ(anna.baby_Name(), "Anna");
  EXPECT_EQ(babyNames(*context_), std::vector<std::string>{"Anna"});
  EXPECT_TRUE(savedBabyNames().empty());

  // The application goes on: once the file takes rows again, the same changes are saved.
  ui::Application::shared().becomeActive();
  execOnFile(storeFile(), "DROP TRIGGER refuse;");
  ui::Application::shared().resignActive();
  EXPECT_FALSE(context_->hasChanges());
  EXPECT_EQ(savedBabyNames(), std::vector<std::string>{"Anna"});
}

TEST_F(FailingSaveTest, AFailedSaveAtTerminateIsLoggedAndReturnedNotFatal) {
  app::Baby::insertIn(*context_).setBaby_Name("Ben");
  foundation::ScopedLogCapture log;
  ui::Application::shared().terminate();
  EXPECT_EQ(fatalCalls_, 0);
  auto messages = log.messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0].rfind("Unresolved error Error Domain=", 0), 0u) << messages[0];
  EXPECT_TRUE(context_->hasChanges());
  auto saved = delegate().saveContext();
  ASSERT_FALSE(saved.ok());
  EXPECT_NE(saved.error().description().find("disk is full"), std::string::npos);
  EXPECT_TRUE(savedBabyNames().empty());
}

// --- Before and after a restore ------------------------------------------------------------------------

TEST_F(AppDelegateTest, AfterPreReloadTheNextRequestReadsTheStoreThenOnDisk) {
  writeStore(storeFile(), {"Anna"});
  auto before = delegate().managedObjectContext();
  ASSERT_NE(before, nullptr);
  auto babies = before->fetch(store::FetchRequest{"Baby"});
  ASSERT_TRUE(babies.ok());
  ASSERT_EQ(babies->size(), 1u);
  auto anna = (*babies)[0];
  auto oldStore = delegate().persistentStoreCoordinator();

  ASSERT_TRUE(delegate().preReloadDataBase().ok());
  EXPECT_EQ(anna->context(), nullptr);
  EXPECT_TRUE(oldStore->isClosed());
  EXPECT_TRUE(before->isClosed());

  // The restore puts another store in place.
  const auto replacement = dir_.path() / "restored.sqlite";
  writeStore(replacement, {"Ben", "Cleo"});
  ASSERT_TRUE(files::remove(storeFile()).ok());
  ASSERT_TRUE(files::copyFile(replacement, storeFile()).ok());

  auto after = delegate().managedObjectContext();
  ASSERT_NE(after, nullptr);
  EXPECT_NE(after, before);
  EXPECT_NE(delegate().persistentStoreCoordinator(), oldStore);
  EXPECT_EQ(babyNames(*after), (std::vector<std::string>{"Ben", "Cleo"}));
}

TEST_F(AppDelegateTest, PreReloadLeavesTheFileStandingAloneWithUnsavedChangesForgotten) {
  auto context = delegate().managedObjectContext();
  app::Baby::insertIn(*context).setBaby_Name("Saved");
  ASSERT_TRUE(delegate().saveContext().ok());
  app::Baby::insertIn(*context).setBaby_Name("Unsaved");
  ASSERT_TRUE(delegate().preReloadDataBase().ok());
  // The file alone, without its log, holds what was saved.
  EXPECT_FALSE(files::exists(home_.documents() / "dataBase.sqlite-wal") &&
               files::readFile(home_.documents() / "dataBase.sqlite-wal")->size() > 0);
  const auto copy = dir_.path() / "copy.sqlite";
  ASSERT_TRUE(files::copyFile(storeFile(), copy).ok());
  auto reopened = store::Store::open(copy, app::managedObjectModel());
  ASSERT_TRUE(reopened.ok());
  auto reader = (*reopened)->newContext();
  ASSERT_TRUE(reader.ok());
  EXPECT_EQ(babyNames(**reader), std::vector<std::string>{"Saved"});
  EXPECT_EQ(babyNames(*delegate().managedObjectContext()), std::vector<std::string>{"Saved"});
}

TEST_F(AppDelegateTest, PreReloadWithoutAStackDoesNothing) {
  EXPECT_TRUE(delegate().preReloadDataBase().ok());
  EXPECT_FALSE(files::exists(storeFile()));
}

TEST_F(AppDelegateTest, UpdateDataBaseOnThePhoneEndsTheTutorialAndTellsTheNotesList) {
  auto root = std::make_shared<RootStandIn>();
  launch(root);
  delegate().setTutorialState(2);
  Observed update(app::kUpdateDataBaseNotification);
  delegate().updateDataBase();
  EXPECT_EQ(delegate().tutorialState(), -1);
  auto record = app::SettingsRecords(home_).readTutorialStatus();
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(*record, app::tutorialStatus(22, -1));
  ASSERT_EQ(update.count(), 1u);
  EXPECT_EQ(update.senders[0], &delegate());
  EXPECT_TRUE(root->calls.empty());
}

TEST_F(PadAppDelegateTest, UpdateDataBaseOnTheTabletTellsTheRootScreen) {
  auto root = std::make_shared<RootStandIn>();
  launch(root);
  root->calls.clear();
  Observed update(app::kUpdateDataBaseNotification);
  delegate().updateDataBase();
  EXPECT_EQ(root->calls, std::vector<std::string>{"updateDataBase"});
  EXPECT_EQ(update.count(), 0u);
  EXPECT_EQ(delegate().tutorialState(), -1);

  // A root screen that takes nothing is left alone.
  delegate().window()->setRootViewController(std::make_shared<ui::ViewController>());
  delegate().updateDataBase();
  EXPECT_EQ(update.count(), 0u);
}

// --- The tutorial step
// ----------------------------------------------------------------------------------------

TEST_F(AppDelegateTest, AnUpdateEndsTheTutorialAtLaunchAndANewerRecordIsTakenAsItIs) {
  app::SettingsRecords records(home_);
  ASSERT_TRUE(records.writeTutorialStatus(app::tutorialStatus(21, 2)).ok());
  launch();
  EXPECT_EQ(delegate().tutorialState(), -1);
  EXPECT_EQ(records.readTutorialStatus(), app::tutorialStatus(22, -1));

  ASSERT_TRUE(records.writeTutorialStatus(app::tutorialStatus(23, 3)).ok());
  delegate().initTutorialStatus(false);
  EXPECT_EQ(delegate().tutorialState(), 3);
  EXPECT_EQ(records.readTutorialStatus(), app::tutorialStatus(23, 3));
}

TEST_F(AppDelegateTest, SavingTheFinishedTutorialLogsHowManyDaysItTook) {
  app::SettingsRecords records(home_);
  ASSERT_TRUE(records.writeFirstLaunchDate(clock_.now()).ok());
  auto firstDay = records.readFirstLaunchDate();
  ASSERT_TRUE(firstDay.has_value());
  launch();
  clock_.set(foundation::Date{firstDay->sinceReference + 10 * 86400 + 5 * 3600});
  delegate().setTutorialState(-1);
  ASSERT_TRUE(delegate().saveTutorialState().ok());
  EXPECT_EQ(records.readTutorialStatus(), app::tutorialStatus(22, -1));
  auto session = analyticsSession();
  ASSERT_NE(session, nullptr);
  auto events = session->events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().name, "tutorial_finished");
  ASSERT_TRUE(events.back().params.has_value());
  EXPECT_EQ((*events.back().params)["dayNum"], foundation::Value("10"));

  // A step still running is saved without an event.
  delegate().setTutorialState(1);
  ASSERT_TRUE(delegate().saveTutorialState().ok());
  EXPECT_EQ(records.readTutorialStatus(), app::tutorialStatus(22, 1));
  EXPECT_EQ(session->events().size(), events.size());
}

}  // namespace
}  // namespace app_delegate_test
