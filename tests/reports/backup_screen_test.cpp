// The cloud backup screen against the stand-in service: a backup and restore round trip, the
// service's faults and hostile archives leaving the local data as they were, a renamed copy, the
// link state and a new client after a new link, and a screen closed while a download runs.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "app/app_delegate.h"
#include "app/entities.h"
#include "app/model.h"
#include "app/zip_bytes.h"
#include "cloud/cloud_keychain.h"
#include "cloud/cloud_request.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/log.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "platform/security/keychain.h"
#include "platform/store/store.h"
#include "platform/ui/alert.h"
#include "platform/ui/render.h"
#include "report_screen_support.h"
#include "reports/backup_controller.h"
#include "support/cloud_server.h"
#include "support/small_disk.h"
#include "support/temp_dir.h"

namespace reports {
namespace {

namespace fs = std::filesystem;
using testing_support::CloudServer;
using Fault = CloudServer::Fault;
using Snapshot = std::map<std::string, foundation::Bytes>;

constexpr const char* kKey = "qwv3rtnpa8sdkmz";
constexpr const char* kSecret = "hxb7ytrefo2lmcu";

// Every file under Documents, and the first-launch date, by their bytes.
Snapshot snapshot(const files::AppHome& home) {
  Snapshot files;
  for (const auto& entry : fs::recursive_directory_iterator(home.documents()))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), home.documents()).generic_string()] =
          files::readFile(entry.path()).valueOr({});
  files["firstLaunch"] = files::readFile(home.library() / "Settings" / "firstLaunch.txt").valueOr({});
  return files;
}

foundation::Bytes bytesOf(std::string_view text) { return foundation::Bytes(text.begin(), text.end()); }

class BackupScreenTest : public ::testing::Test {
 protected:
  BackupScreenTest()
      : mainLoop_(loop_),
        home_(dir_ / "home"),
        server_(dir_ / "server"),
        locale_(foundation::Locale("en_US")) {
    EXPECT_TRUE(home_.create().ok());
    cloud::CloudKeychain::configure(std::make_shared<security::Keychain>(home_), "org.example.diary");
    cloud::CloudService::setCurrent(
        {server_.host(), server_.host(), server_.host(), {server_.rootCertificate()}});
    server_.addUser("31337", "tok", "sec");
    defaults_ = std::make_shared<runtime::UserDefaults>(dir_ / "prefs.plist", std::vector<std::string>{"en"});
    session_ = std::make_shared<cloud::CloudSession>(kKey, kSecret, "sandbox", defaults_);
    session_->setAccessTokenAccessTokenSecretForUserId("tok", "sec", "31337");
    writeData("Anna", "2015.03.05");
  }
  ~BackupScreenTest() override {
    navigation_.reset();
    loop_.runUntilIdle();
    ui::removeAllAlerts();
    cloud::CloudService::setCurrent({});
    cloud::CloudKeychain::configure(nullptr, "");
  }

  // A store with one baby, a photo, an icon and the first-launch date.
  void writeData(const std::string& baby, std::string_view firstLaunch) {
    const fs::path storeFile = home_.documents() / "dataBase.sqlite";
    (void)files::remove(storeFile);
    auto store = store::Store::open(storeFile, app::managedObjectModel()).value();
    auto context = store->newContext().value();
    app::Baby::insertIn(*context).setBaby_Name(baby);
    ASSERT_TRUE(context->save().ok());
    ASSERT_TRUE(store->close().ok());
    ASSERT_TRUE(files::createDirectory(home_.documents() / "Photos").ok());
    ASSERT_TRUE(files::writeAtomic(home_.documents() / "Photos" / "p1.jpg", "photo of " + baby).ok());
    ASSERT_TRUE(files::createDirectory(home_.library() / "Settings").ok());
    ASSERT_TRUE(files::writeText(home_.library() / "Settings" / "firstLaunch.txt", firstLaunch,
                                 files::TextEncoding::Utf16)
                    .ok());
  }

  BackupServices services() {
    BackupServices s;
    s.home = home_;
    s.localized = [](std::string_view key) { return std::string(key); };
    if (dateLocale_) s.dateLocale = [this] { return *dateLocale_; };
    s.session = [this] { return session_; };
    s.preReloadDataBase = [this] {
      ++closes_;
      return foundation::Status{};
    };
    s.updateDataBase = [this] { ++updates_; };
    s.logEvent = [this](std::string event, foundation::Dictionary parameters) {
      events_.push_back(event + " " + std::to_string(parameters.size()));
    };
    s.userDefaults = defaults_;
    return s;
  }

  // The screen pushed over a root screen and shown.
  backUpController& open() {
    screen_ = std::make_shared<backUpController>(services());
    navigation_ = showPushed(screen_, loop_);
    return *screen_;
  }

  // Runs until an alert is up (or the time runs out) and answers its title.
  std::string awaitAlert() {
    EXPECT_TRUE(loop_.runUntil([] { return ui::topAlert() != nullptr; }, 30));
    loop_.runUntilIdle();
    return ui::topAlert() ? ui::topAlert()->title() : "";
  }
  void tap(int index) {
    ASSERT_TRUE(ui::topAlert());
    ASSERT_TRUE(ui::topAlert()->tapButton(index));
    loop_.runUntilIdle();
  }
  // The backup flow to its last alert, whose title it answers; the alert is answered.
  std::string backUp() {
    screen_->backUpButton()->tap();
    EXPECT_EQ(awaitAlert(), "Backup data?");
    tap(1);
    const std::string last = awaitAlert();
    tap(0);
    return last;
  }
  // The restore flow up to the alert after "Restore data?" was answered Yes.
  std::string restoreUntilAfterYes(const std::function<void()>& beforeYes = {}) {
    screen_->restoreButton()->tap();
    const std::string asked = awaitAlert();
    if (asked != "Restore data?") return asked;
    if (beforeYes) beforeYes();
    tap(1);
    return awaitAlert();
  }

  testing_support::TempDir dir_;
  foundation::ManualClock clock_;
  runtime::RunLoop loop_{clock_};
  runtime::ScopedMainRunLoop mainLoop_;
  files::AppHome home_;
  CloudServer server_;
  foundation::ScopedDefaultLocale locale_;
  std::shared_ptr<runtime::UserDefaults> defaults_;
  std::shared_ptr<cloud::CloudSession> session_;
  std::shared_ptr<ui::NavigationController> navigation_;
  std::shared_ptr<backUpController> screen_;
  std::optional<foundation::Locale> dateLocale_;
  int closes_ = 0;
  int updates_ = 0;
  std::vector<std::string> events_;
};

TEST_F(BackupScreenTest, BackUpThenRestoreGivesTheSameDocumentsAndFirstLaunchDate) {
  foundation::ScopedLogCapture log;
  dateLocale_ = foundation::Locale("ja_JP");
  open();
  EXPECT_EQ(screen_->title(), "Cloud");
  EXPECT_EQ(screen_->connectDisconnectLable()->text(), "Disconnect");
  EXPECT_EQ(screen_->frontView()->alpha(), 0);
  // The packing spinner turns, out of sight until a backup packs.
  EXPECT_TRUE(screen_->packingIndicator()->isAnimating());
  EXPECT_EQ(screen_->packingIndicator()->alpha(), 0);
  const Snapshot before = snapshot(home_);

  EXPECT_TRUE(
      ui::renderToPng(*navigation_->view(), testing_support::testOutput() / "backup_screen.png", 2).ok());
  EXPECT_EQ(backUp(), "BackUped");
  EXPECT_FALSE(screen_->isBusy());
  EXPECT_EQ(screen_->backUpProgressView()->alpha(), 0);
  ASSERT_TRUE(server_.fileContent("/backUp.zip"));
  // A second backup names the first as its parent and replaces it.
  EXPECT_EQ(backUp(), "BackUped");
  EXPECT_EQ(server_.requests().back().params.count("parent_rev"), 1u);
  EXPECT_TRUE(fs::is_empty(home_.tmp() / "backUp"));

  writeData("Boris", "2016.01.01");
  ASSERT_NE(snapshot(home_), before);
  // The question dates the backup in the screen's language, whatever the host's.
  std::string asked;
  EXPECT_EQ(restoreUntilAfterYes([&] { asked = ui::topAlert()->message(); }), "Restored");
  EXPECT_TRUE(asked.starts_with("BackUpDate: ") && asked.find("\u5e74") != std::string::npos) << asked;
  EXPECT_EQ(snapshot(home_), before);
  EXPECT_EQ(closes_, 1);
  EXPECT_EQ(updates_, 0);
  tap(0);
  EXPECT_EQ(updates_, 1);
  EXPECT_EQ(screen_->backUpProgressView()->alpha(), 0);  // ready again once the restore is over
  EXPECT_FALSE(screen_->isBusy());
  EXPECT_TRUE(events_.empty());
}

TEST_F(BackupScreenTest, FaultsOfTheServiceLeaveTheLocalDataAsTheyWere) {
  open();
  ASSERT_EQ(backUp(), "BackUped");
  const std::string good = *server_.fileContent("/backUp.zip");
  writeData("Boris", "2016.01.01");
  const Snapshot local = snapshot(home_);

  struct Case {
    const char* name;
    Fault fault;
    bool download;  // during the download, else during a backup
    const char* alert;
  };
  const Case cases[] = {
      {"truncated download", Fault::TruncatedBody, true, "Restore fail"},
      {"dropped download", Fault::DropConnection, true, "Restore fail"},
      {"500 on download", Fault::ServerError, true, "Restore fail"},
      {"500 on upload", Fault::ServerError, false, "BackUp fail"},
      {"dropped upload", Fault::DropConnection, false, "BackUp fail"},
  };
  foundation::ScopedLogCapture log;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    if (c.download) {
      EXPECT_EQ(restoreUntilAfterYes([&] { server_.setFault(c.fault); }), c.alert);
      tap(0);
    } else {
      server_.setFault(c.fault);
      EXPECT_EQ(backUp(), c.alert);
      EXPECT_EQ(events_, std::vector<std::string>{"cloud_up_failed 3"});
    }
    server_.setFault(Fault::None);
    EXPECT_EQ(snapshot(home_), local);
    EXPECT_EQ(closes_, 0);
    EXPECT_FALSE(screen_->isBusy());
    EXPECT_TRUE(fs::is_empty(home_.tmp() / "backUp"));
    EXPECT_EQ(server_.fileContent("/backUp.zip"), good);
  }
}

// The service holds a good archive that the temporary folder of the data root has no room for: as
// a download (photos that do not compress) or as an extraction (ones that do).
TEST_F(BackupScreenTest, AFullDiskLeavesTheLocalDataAsTheyWere) {
  struct Case {
    const char* name;
    bool compressible;
  };
  for (const Case c : {Case{"download", false}, Case{"extraction", true}}) {
    SCOPED_TRACE(c.name);
    std::string photo(2 << 20, '\0');
    std::mt19937 random(7);
    if (!c.compressible)
      for (char& byte : photo) byte = static_cast<char>(random());
    ASSERT_TRUE(files::writeAtomic(home_.documents() / "Photos" / "big.jpg", photo).ok());
    // Packed here and put on the service directly: no request is made before the child runs.
    app::localSaves saves(home_);
    ASSERT_TRUE(saves.createZip().ok());
    const auto archive = files::readFile(saves.backUpArchivePath()).value();
    ASSERT_TRUE(saves.removeBackUpFiles().ok());
    server_.putFile("/backUp.zip", std::string(archive.begin(), archive.end()));
    writeData("Boris", "2016.01.01");
    const Snapshot local = snapshot(home_);

    const auto result = testing_support::onSmallDisk(home_.tmp(), 512 << 10, [&] {
      foundation::ScopedLogCapture log;
      open();
      if (restoreUntilAfterYes() != "Restore fail") return 1;
      if (snapshot(home_) != local) return 2;
      return closes_ == 0 ? 0 : 3;
    });
    if (!result) GTEST_SKIP() << "no file system of a given size can be made here";
    EXPECT_EQ(*result, 0) << "1: no failure shown, 2: local data changed, 3: the store was closed";
  }
}

TEST_F(BackupScreenTest, BrokenOrForeignArchivesAreRefusedAndANewerOneIsAskedAbout) {
  open();
  const Snapshot local = snapshot(home_);
  const auto store = files::readFile(home_.documents() / "dataBase.sqlite").value();
  const auto vers = [](const char* version) {
    return zip_bytes::NewEntry{"backUp.vers", zip_bytes::utf16Text(version)};
  };
  const auto archive = [](std::vector<zip_bytes::NewEntry> entries) {
    const auto bytes = zip_bytes::build(entries);
    return std::string(bytes.begin(), bytes.end());
  };
  const std::string sound = archive({vers("0"), {"dataBase.sqlite", store}});
  struct Case {
    const char* name;
    std::string content;
  };
  const Case refused[] = {
      {"not a zip", "PK but nothing more"},
      {"cut short", sound.substr(0, sound.size() / 2)},
      {"foreign", archive({{"readme.txt", bytesOf("hello")}})},
      {"damaged entry", archive({vers("0"), {"dataBase.sqlite", store, 8, 0, 0, true}})},
      {"newer but damaged", archive({vers("1"), {"dataBase.sqlite", bytesOf("no store")}})},
  };
  foundation::ScopedLogCapture log;
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    server_.putFile("/backUp.zip", c.content);
    // No "Continue" is offered over an archive that cannot be restored.
    EXPECT_EQ(restoreUntilAfterYes(), "Restore fail");
    tap(0);
    EXPECT_EQ(snapshot(home_), local);
    EXPECT_EQ(closes_, 0);
  }

  server_.putFile("/backUp.zip", archive({vers("1"), {"dataBase.sqlite", store}}));
  EXPECT_EQ(restoreUntilAfterYes(), "Restore wrong vers");
  tap(0);
  EXPECT_EQ(screen_->backUpProgressView()->alpha(), 0);
  EXPECT_EQ(snapshot(home_), local);
  EXPECT_EQ(restoreUntilAfterYes(), "Restore wrong vers");
  tap(1);
  EXPECT_EQ(awaitAlert(), "Restored");
  EXPECT_EQ(closes_, 1);
  EXPECT_FALSE(fs::exists(home_.documents() / "Photos"));
}

TEST_F(BackupScreenTest, ARenamedCopyIsNoBackupAndAnArchiveNamedOtherwiseIsNotRestored) {
  open();
  server_.putFile("/backUp.zip", "someone else's");
  // Without the revisions the upload goes without a parent, and the service stores it apart.
  foundation::ScopedLogCapture log;
  server_.setFault(Fault::ServerError, 1);
  EXPECT_EQ(backUp(), "BackUp fail");
  EXPECT_EQ(server_.fileContent("/backUp.zip"), "someone else's");
  EXPECT_TRUE(server_.fileContent("/backUp (1).zip"));
  ASSERT_EQ(events_.size(), 1u);

  CloudServer other(dir_ / "other");
  other.addUser("31337", "tok", "sec");
  cloud::CloudService::setCurrent({other.host(), other.host(), other.host(), {other.rootCertificate()}});
  other.putFile("/BackUp.zip", "case differs");
  screen_->restoreButton()->tap();
  EXPECT_EQ(awaitAlert(), "Restore fail");
  tap(0);
  EXPECT_EQ(screen_->updateInfoView()->alpha(), 0);
}

// A language may word two alerts alike: each answer still goes to the alert the screen raised.
TEST_F(BackupScreenTest, AlertsWhoseTitlesReadAlikeAreToldApartByWhatTheyAsk) {
  BackupServices alike = services();
  alike.localized = [](std::string_view) { return std::string("?"); };
  screen_ = std::make_shared<backUpController>(alike);
  navigation_ = showPushed(screen_, loop_);

  screen_->backUpButton()->tap();
  ASSERT_EQ(awaitAlert(), "?");
  tap(1);  // "Backup data?" Yes
  ASSERT_EQ(awaitAlert(), "?");
  tap(0);  // "BackUped" OK
  EXPECT_TRUE(server_.fileContent("/backUp.zip"));
  EXPECT_EQ(screen_->backUpProgressView()->alpha(), 0);

  CloudServer empty(dir_ / "empty");  // a folder without the archive
  empty.addUser("31337", "tok", "sec");
  cloud::CloudService::setCurrent({empty.host(), empty.host(), empty.host(), {empty.rootCertificate()}});
  screen_->restoreButton()->tap();
  ASSERT_EQ(awaitAlert(), "?");
  tap(0);  // "Restore fail" OK
  EXPECT_EQ(screen_->updateInfoView()->alpha(), 0);
  EXPECT_FALSE(screen_->isBusy());
  EXPECT_EQ(updates_, 0);
}

TEST_F(BackupScreenTest, ActionsWaitForTheFlowAndANewLinkGetsANewClient) {
  open();
  screen_->backUpButton()->tap();
  ASSERT_EQ(awaitAlert(), "Backup data?");
  EXPECT_TRUE(screen_->isBusy());
  EXPECT_FALSE(screen_->restoreButton()->isEnabled());
  screen_->restore();  // a second flow cannot start
  EXPECT_EQ(screen_->updateInfoView()->alpha(), 0);
  tap(0);  // "No" changes nothing
  EXPECT_FALSE(screen_->isBusy());
  EXPECT_EQ(screen_->backUpProgressView()->alpha(), 0);

  ASSERT_EQ(backUp(), "BackUped");
  EXPECT_EQ(server_.requests().back().params.at("oauth_token"), "tok");
  screen_->connectButton()->tap();  // Disconnect
  EXPECT_FALSE(session_->isLinked());
  EXPECT_EQ(screen_->connectDisconnectLable()->text(), "Connect");
  EXPECT_EQ(screen_->frontView()->alpha(), 1);

  // The login hands another account back; the application posts the event.
  server_.addUser("4242", "tok2", "sec2");
  session_->setAccessTokenAccessTokenSecretForUserId("tok2", "sec2", "4242");
  runtime::NotificationCenter::defaultCenter().post(std::string(app::kCloudLinkedEventNotification));
  EXPECT_EQ(screen_->connectDisconnectLable()->text(), "Disconnect");
  ASSERT_EQ(backUp(), "BackUped");
  EXPECT_EQ(server_.requests().back().params.at("oauth_token"), "tok2");
}

TEST_F(BackupScreenTest, AScreenClosedDuringADownloadRestoresNothing) {
  open();
  ASSERT_EQ(backUp(), "BackUped");
  writeData("Boris", "2016.01.01");
  const Snapshot local = snapshot(home_);

  screen_->restoreButton()->tap();
  ASSERT_EQ(awaitAlert(), "Restore data?");
  server_.setFault(Fault::SlowTrickle);
  tap(1);
  ASSERT_TRUE(loop_.runUntil([&] { return screen_->progressView()->progress() > 0; }, 30));
  screen_->back();
  loop_.runUntilIdle();
  EXPECT_TRUE(screen_->isClosed());
  std::weak_ptr<backUpController> gone = screen_;
  screen_.reset();
  EXPECT_TRUE(gone.expired());
  // Whatever still arrives finds nobody, and the event reaches no dead observer.
  server_.setFault(Fault::None);
  runtime::NotificationCenter::defaultCenter().post(std::string(app::kCloudLinkedEventNotification));
  (void)loop_.runUntil([] { return false; }, 0.5);
  EXPECT_EQ(ui::topAlert(), nullptr);
  EXPECT_EQ(closes_, 0);
  EXPECT_EQ(snapshot(home_), local);
  EXPECT_TRUE(fs::is_empty(home_.tmp() / "backUp"));
}

}  // namespace
}  // namespace reports
