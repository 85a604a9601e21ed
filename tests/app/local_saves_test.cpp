#include "app/local_saves.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "support/temp_dir.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Date;
using foundation::Value;

graphics::Image picture(std::uint8_t shade) {
  graphics::Image image(16, 12);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 16; ++x) {
      image.setPixel(x, y,
                     {static_cast<std::uint8_t>(shade + x * 8), static_cast<std::uint8_t>(y * 16), 90, 255});
    }
  }
  return image;
}

std::shared_ptr<noteTimer> timerWithPhoto(std::string type, std::int64_t photo) {
  auto timer = std::make_shared<noteTimer>();
  timer->setParam_Type(std::move(type));
  timer->setParam_DateStart(Date{470000000});
  timer->setParam_ImgPathNum(photo);
  return timer;
}

Bytes bytesOf(const fs::path& path) {
  auto read = files::readFile(path);
  return read ? *read : Bytes{};
}

class LocalSavesTest : public ::testing::Test {
 protected:
  LocalSavesTest() : home_(temp_.path() / "home"), saves_(home_) { EXPECT_TRUE(home_.create().ok()); }

  // Every file under the home, relative to it.
  std::set<std::string> allFiles() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(home_.root())) {
      if (entry.is_regular_file()) names.insert(fs::relative(entry.path(), home_.root()).generic_string());
    }
    return names;
  }

  testing_support::TempDir temp_;
  files::AppHome home_;
  localSaves saves_;
};

// --- Names in file names -----------------------------------------------------------------------

TEST(FileNameForNameTest, OrdinaryNamesAreUsedAsTheyAre) {
  for (const char* name : {"Anna", "Маша", "Baby 2", "50% cotton", "a.b", "x..", "Tom's", "%2F"}) {
    auto file = fileNameForName(name);
    ASSERT_TRUE(file.ok()) << name;
    EXPECT_EQ(*file, name);
    EXPECT_EQ(nameForFileName(*file), std::optional<std::string>(name));
  }
}

TEST(FileNameForNameTest, NamesThatCouldLeaveTheirFolderAreEscapedAndRoundTrip) {
  const std::vector<std::string> names = {"a/b",    "../../etc/passwd",        "..",   ".", ".hidden", "/",
                                          "a%2Fb/", std::string("nul\0in", 6), ".%2E", "%"};
  std::set<std::string> seen;
  for (const auto& name : names) {
    auto file = fileNameForName(name);
    ASSERT_TRUE(file.ok()) << name;
    EXPECT_EQ(file->find('/'), std::string::npos) << name;
    EXPECT_EQ(file->find('\0'), std::string::npos) << name;
    EXPECT_NE(*file, ".");
    EXPECT_NE(*file, "..");
    EXPECT_EQ(nameForFileName(*file), std::optional<std::string>(name)) << *file;
    EXPECT_TRUE(seen.insert(*file).second) << "two names share " << *file;
  }
  // No escaped form equals an ordinary name's.
  EXPECT_EQ(*fileNameForName("a/b"), ".a%2Fb");
  EXPECT_EQ(*fileNameForName(".."), ".%2E.");
}

TEST(FileNameForNameTest, EmptyNameIsRefusedAndStrayFileNamesNameNoBaby) {
  EXPECT_FALSE(fileNameForName("").ok());
  EXPECT_EQ(nameForFileName(""), std::nullopt);
  EXPECT_EQ(nameForFileName(".a%2"), std::nullopt);
  EXPECT_EQ(nameForFileName(".a%ZZ"), std::nullopt);
  EXPECT_EQ(nameForFileName(".plain"), std::nullopt);  // never made: "plain" needs no escape
  EXPECT_EQ(nameForFileName("a/b"), std::nullopt);
}

// --- Folders and timers --------------------------------------------------------------------------

TEST_F(LocalSavesTest, FoldersAreMadeWhereTheyBelong) {
  EXPECT_EQ(saves_.getTimerDir(), home_.library() / "Timers");
  EXPECT_EQ(saves_.getBabyInfoDir(), home_.documents() / "BabyInfo");
  EXPECT_EQ(saves_.getPhotosDir(), home_.documents() / "Photos");
  for (const fs::path& dir :
       {home_.library() / "Timers", home_.documents() / "BabyInfo", home_.documents() / "Photos"}) {
    EXPECT_TRUE(fs::is_directory(dir)) << dir;
  }
}

TEST_F(LocalSavesTest, LoadingTimersOfNoOneOrOfABabyWithoutTimers) {
  EXPECT_EQ(saves_.loadTimerArray(""), std::nullopt);
  auto none = saves_.loadTimerArray("Anna");
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->empty());
  EXPECT_TRUE(allFiles().empty()) << "reading made a file";
}

TEST_F(LocalSavesTest, TimersRoundTripPerBaby) {
  const NoteTimerArray anna = {timerWithPhoto("Sleep", -1), timerWithPhoto("Walk", 0)};
  ASSERT_TRUE(saves_.saveTimerArrayById(anna, "Anna").ok());
  ASSERT_TRUE(saves_.saveTimerArrayById({timerWithPhoto("Bath", 1)}, "Маша").ok());
  EXPECT_TRUE(fs::is_regular_file(home_.library() / "Timers" / "Anna.plist"));
  EXPECT_TRUE(fs::is_regular_file(home_.library() / "Timers" / "Маша.plist"));

  localSaves another(home_);  // all state is on disk
  auto back = another.loadTimerArray("Anna");
  ASSERT_TRUE(back.has_value());
  ASSERT_EQ(back->size(), 2u);
  EXPECT_EQ(*(*back)[0], *anna[0]);
  EXPECT_EQ(*(*back)[1], *anna[1]);
  EXPECT_EQ(another.loadTimerArray("Маша")->size(), 1u);

  ASSERT_TRUE(saves_.deleteTimerArray("Anna").ok());
  EXPECT_TRUE(saves_.loadTimerArray("Anna")->empty());
  EXPECT_TRUE(saves_.deleteTimerArray("Anna").ok()) << "removing what is gone is no failure";
  EXPECT_FALSE(saves_.saveTimerArrayById(anna, "").ok());
}

TEST_F(LocalSavesTest, HostileBabyNamesStayInsideTheTimersFolder) {
  for (const std::string name : {"../../Documents/dataBase.sqlite", "a/b", "..", ".", ".profile"}) {
    ASSERT_TRUE(saves_.saveTimerArrayById({timerWithPhoto("Sleep", -1)}, name).ok()) << name;
    auto back = saves_.loadTimerArray(name);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->size(), 1u) << name;
  }
  for (const auto& file : allFiles()) EXPECT_EQ(file.rfind("Library/Timers/", 0), 0u) << file;
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(home_.library() / "Timers")) {
    EXPECT_TRUE(entry.is_regular_file());
    ++count;
  }
  EXPECT_EQ(count, 5u);
}

TEST_F(LocalSavesTest, MissingEmptyTruncatedAndForeignTimerFilesReadAsNoTimers) {
  ASSERT_TRUE(
      saves_.saveTimerArrayById({timerWithPhoto("Sleep", -1), timerWithPhoto("Walk", 0)}, "Anna").ok());
  const fs::path file = home_.library() / "Timers" / "Anna.plist";
  const Bytes good = bytesOf(file);
  foundation::ScopedLogCapture log;
  const std::vector<Bytes> bad = {Bytes{},
                                  Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)),
                                  Bytes{'h', 'e', 'l', 'l', 'o'}, Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 0}};
  for (const Bytes& contents : bad) {
    ASSERT_TRUE(files::writeAtomic(file, contents).ok());
    auto back = saves_.loadTimerArray("Anna");
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(back->empty());
  }
  ASSERT_TRUE(files::remove(file).ok());
  ASSERT_TRUE(files::createDirectory(file).ok());
  EXPECT_TRUE(saves_.loadTimerArray("Anna")->empty());
}

TEST_F(LocalSavesTest, FailedTimerWriteIsReportedAndLoggedAndKeepsTheOldFile) {
  ASSERT_TRUE(saves_.saveTimerArrayById({timerWithPhoto("Sleep", -1)}, "Anna").ok());
  fs::permissions(home_.library() / "Timers", fs::perms::owner_read | fs::perms::owner_exec);
  const bool writable = ::access((home_.library() / "Timers").c_str(), W_OK) == 0;  // root ignores modes
  foundation::ScopedLogCapture log;
  auto status = saves_.saveTimerArrayById({timerWithPhoto("Walk", -1), timerWithPhoto("Bath", -1)}, "Anna");
  fs::permissions(home_.library() / "Timers", fs::perms::owner_all);
  if (writable) GTEST_SKIP() << "running with permissions that ignore file modes";
  EXPECT_FALSE(status.ok());
  EXPECT_TRUE(log.contains("Cannot save the timers of Anna"));
  EXPECT_EQ(saves_.loadTimerArray("Anna")->size(), 1u);
}

TEST_F(LocalSavesTest, FailedWriteOverAFolderIsReported) {
  ASSERT_TRUE(files::createDirectory(home_.library() / "Timers" / "Anna.plist" / "inside").ok());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(saves_.saveTimerArrayById({timerWithPhoto("Sleep", -1)}, "Anna").ok());
  EXPECT_TRUE(log.contains("Cannot save the timers of Anna"));
}

// --- Images ----------------------------------------------------------------------------------------

TEST_F(LocalSavesTest, IconsAndPhotosAreBestQualityJpegsInDocuments) {
  ASSERT_TRUE(saves_.saveIcon(picture(10), "Anna").ok());
  ASSERT_TRUE(saves_.savePhoto(picture(60), "_2015_March_05_10_20_7").ok());
  const fs::path icon = home_.documents() / "BabyInfo" / "Anna_ava.jpg";
  const fs::path photo = home_.documents() / "Photos" / "_2015_March_05_10_20_7.jpg";
  ASSERT_TRUE(fs::is_regular_file(icon));
  ASSERT_TRUE(fs::is_regular_file(photo));
  EXPECT_EQ(bytesOf(icon), *picture(10).jpegData(1.0));
  EXPECT_EQ(bytesOf(photo), *picture(60).jpegData(1.0));

  auto readIcon = saves_.getIcon("Anna");
  ASSERT_TRUE(readIcon.has_value());
  EXPECT_EQ(readIcon->pixelWidth(), 16);
  EXPECT_EQ(readIcon->pixelHeight(), 12);
  EXPECT_TRUE(saves_.getPhoto("_2015_March_05_10_20_7").has_value());
  EXPECT_EQ(saves_.getIcon("Boris"), std::nullopt);

  ASSERT_TRUE(saves_.deleteIcon("Anna").ok());
  ASSERT_TRUE(saves_.deletePhoto("_2015_March_05_10_20_7").ok());
  EXPECT_FALSE(fs::exists(icon));
  EXPECT_FALSE(fs::exists(photo));
  EXPECT_EQ(saves_.getIcon("Anna"), std::nullopt);
  EXPECT_FALSE(saves_.saveIcon(picture(1), "").ok());
  EXPECT_FALSE(saves_.saveIcon(graphics::Image(), "Anna").ok()) << "an empty image makes no icon";
}

TEST_F(LocalSavesTest, DamagedImagesReadAsNone) {
  ASSERT_TRUE(saves_.saveIcon(picture(10), "Anna").ok());
  const fs::path icon = home_.documents() / "BabyInfo" / "Anna_ava.jpg";
  const Bytes good = bytesOf(icon);
  foundation::ScopedLogCapture log;
  for (const Bytes& bad :
       {Bytes{}, Bytes(good.begin(), good.begin() + 40), Bytes{'G', 'I', 'F', '8', '9', 'a'}}) {
    ASSERT_TRUE(files::writeAtomic(icon, bad).ok());
    EXPECT_EQ(saves_.getIcon("Anna"), std::nullopt);
  }
  ASSERT_TRUE(files::remove(icon).ok());
  ASSERT_TRUE(files::createDirectory(icon).ok());
  EXPECT_EQ(saves_.getIcon("Anna"), std::nullopt);
}

TEST_F(LocalSavesTest, TimerPhotosLiveInTheHomesOwnTemporaryFolder) {
  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(20), "Anna", 3).ok());
  const fs::path file = home_.tmp() / "AnnaPhotoTmp3.jpg";
  EXPECT_TRUE(fs::is_regular_file(file));
  EXPECT_EQ(saves_.tempPhotoFilePath("Anna", 3), std::optional<fs::path>(file));
  EXPECT_TRUE(saves_.getTempPhotoPhotoNum("Anna", 3).has_value());
  EXPECT_EQ(saves_.getTempPhotoPhotoNum("Anna", 4), std::nullopt);
  ASSERT_TRUE(saves_.deleteTempPhotoPhotoNum("Anna", 3).ok());
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(saves_.deleteTempPhotoPhotoNum("Anna", -1).ok());

  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(20), "../x", 0).ok());
  for (const auto& name : allFiles()) EXPECT_EQ(name.rfind("tmp/", 0), 0u) << name;
}

// --- Renaming ------------------------------------------------------------------------------------------

TEST_F(LocalSavesTest, RenamingCarriesEveryTimerPhotoByItsNumber) {
  // Two timers whose photos carry the numbers 1 and 2 (number 0 was freed earlier).
  const NoteTimerArray timers = {timerWithPhoto("Sleep", 1), timerWithPhoto("Walk", 2),
                                 timerWithPhoto("Bath", -1)};
  ASSERT_TRUE(saves_.saveTimerArrayById(timers, "Anna").ok());
  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(1), "Anna", 1).ok());
  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(2), "Anna", 2).ok());
  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(3), "Anna", 7).ok());  // no record carries 7
  const Bytes photo2 = bytesOf(home_.tmp() / "AnnaPhotoTmp2.jpg");

  ASSERT_TRUE(saves_.replaceTempInfo("Anna", "Anna Maria").ok());
  EXPECT_FALSE(fs::exists(home_.library() / "Timers" / "Anna.plist"));
  auto moved = saves_.loadTimerArray("Anna Maria");
  ASSERT_TRUE(moved.has_value());
  ASSERT_EQ(moved->size(), 3u);
  EXPECT_EQ(*(*moved)[1], *timers[1]);
  EXPECT_TRUE(fs::exists(home_.tmp() / "Anna MariaPhotoTmp1.jpg"));
  EXPECT_EQ(bytesOf(home_.tmp() / "Anna MariaPhotoTmp2.jpg"), photo2);
  EXPECT_FALSE(fs::exists(home_.tmp() / "AnnaPhotoTmp1.jpg"));
  EXPECT_FALSE(fs::exists(home_.tmp() / "AnnaPhotoTmp2.jpg"));
  EXPECT_TRUE(fs::exists(home_.tmp() / "AnnaPhotoTmp7.jpg"))
      << "a photo no timer carries is not the rename's";
}

TEST_F(LocalSavesTest, RenamingWithoutTimersOrWithoutAnOldNameDoesNothing) {
  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(1), "Anna", 0).ok());
  EXPECT_TRUE(saves_.replaceTempInfo("Anna", "Boris").ok());
  EXPECT_TRUE(saves_.replaceTempInfo("", "Boris").ok());
  ASSERT_TRUE(saves_.saveTimerArrayById({timerWithPhoto("Sleep", 0)}, "Anna").ok());
  EXPECT_TRUE(saves_.replaceTempInfo("Anna", "Anna").ok());
  EXPECT_TRUE(fs::exists(home_.library() / "Timers" / "Anna.plist"));
  EXPECT_FALSE(saves_.replaceTempInfo("Anna", "").ok());
  EXPECT_TRUE(fs::exists(home_.library() / "Timers" / "Anna.plist"));
  EXPECT_TRUE(fs::exists(home_.tmp() / "AnnaPhotoTmp0.jpg"));
}

TEST_F(LocalSavesTest, FailedRenameRemovesNothingOld) {
  ASSERT_TRUE(
      saves_.saveTimerArrayById({timerWithPhoto("Sleep", 0), timerWithPhoto("Walk", 1)}, "Anna").ok());
  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(1), "Anna", 0).ok());
  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(2), "Anna", 1).ok());
  // The second photo's new place is taken by a folder, so it cannot be written.
  ASSERT_TRUE(files::createDirectory(home_.tmp() / "BorisPhotoTmp1.jpg" / "x").ok());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(saves_.replaceTempInfo("Anna", "Boris").ok());
  EXPECT_TRUE(log.contains("Cannot move the timer photo"));
  EXPECT_TRUE(fs::exists(home_.library() / "Timers" / "Anna.plist"));
  EXPECT_FALSE(fs::exists(home_.library() / "Timers" / "Boris.plist"));
  EXPECT_TRUE(fs::exists(home_.tmp() / "AnnaPhotoTmp0.jpg"));
  EXPECT_TRUE(fs::exists(home_.tmp() / "AnnaPhotoTmp1.jpg"));
  EXPECT_FALSE(fs::exists(home_.tmp() / "BorisPhotoTmp0.jpg"))
      << "the copy made before the failure is taken back";
}

// --- Clearing ------------------------------------------------------------------------------------------

TEST_F(LocalSavesTest, ClearingAFolderKeepsTheFolder) {
  const fs::path folder = home_.documents() / "Photos";
  ASSERT_TRUE(files::createDirectory(folder / "a" / "b").ok());
  ASSERT_TRUE(files::writeAtomic(folder / "a" / "b" / "c.jpg", std::string_view("x")).ok());
  ASSERT_TRUE(files::writeAtomic(folder / "d.jpg", std::string_view("y")).ok());
  EXPECT_TRUE(saves_.clearFolderByPath(folder).ok());
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_TRUE(saves_.clearFolderByPath(home_.root() / "nowhere").ok());
}

TEST_F(LocalSavesTest, RemovingBackupFilesSparesRunningTimerPhotos) {
  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(1), "Anna", 0).ok());
  ASSERT_TRUE(files::createDirectory(saves_.backUpDir() / "restore").ok());
  ASSERT_TRUE(files::writeAtomic(saves_.backUpArchivePath(), std::string_view("zip")).ok());
  ASSERT_TRUE(
      files::writeAtomic(saves_.backUpDir() / "restore" / "dataBase.sqlite", std::string_view("db")).ok());
  EXPECT_EQ(saves_.backUpDir().parent_path(), home_.tmp());
  EXPECT_TRUE(saves_.removeBackUpFiles().ok());
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
  EXPECT_TRUE(fs::exists(home_.tmp() / "AnnaPhotoTmp0.jpg"));
}

}  // namespace
}  // namespace app
