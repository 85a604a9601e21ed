#include "app/local_saves.h"

#include <gtest/gtest.h>

#include <set>

#include "file_store_fixture.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"

namespace app {
namespace {

using namespace file_store_test;

graphics::Image picture(std::uint8_t shade) {
  graphics::Image image(16, 12);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 16; ++x)
      image.setPixel(x, y,
                     {static_cast<std::uint8_t>(shade + x * 8), static_cast<std::uint8_t>(y * 16), 90, 255});
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

class LocalSavesTest : public FileStoreTest {
 protected:
  // Every file under the home, relative to it.
  std::set<std::string> allFiles() const {
    std::set<std::string> names;
    for (const auto& [name, contents] : snapshot(home_.root())) names.insert(name);
    return names;
  }
  size_t timersOf(std::string_view baby) { return saves_.loadTimerArray(baby).value().size(); }
  fs::path timerFile(std::string_view baby) {
    return home_.library() / "Timers" / (std::string(baby) + ".plist");
  }
};

// --- Names in file names

TEST(FileNameForNameTest, OnlyNamesWithSlashOrNulAreEscapedAndAllRoundTrip) {
  // Expected file names; "" where only the round trip matters.
  const std::vector<std::pair<std::string, std::string>> names = {{"Anna", "Anna"},
                                                                  {"Маша", "Маша"},
                                                                  {"50% cotton", "50% cotton"},
                                                                  {"..", ".."},
                                                                  {".", "."},
                                                                  {".Anna", ".Anna"},
                                                                  {"a/b", ".a%2Fb"},
                                                                  {".%2E.", ".%2E."},
                                                                  {".a%2Fb", ""},
                                                                  {"/", ""},
                                                                  {"../../etc/passwd", ""},
                                                                  {"a%2Fb/", ""},
                                                                  {".%2Ea%252Fb", ""},
                                                                  {"%", "%"},
                                                                  {".a%~0123456789ABCDEF", ".%2Ea%25~0123456789ABCDEF"},
                                                                  {std::string("nul\0in", 6), ""}};
  std::set<std::string> seen;
  for (const auto& [name, expected] : names) {
    auto file = fileNameForName(name);
    ASSERT_TRUE(file.ok()) << name;
    if (!expected.empty()) {
      EXPECT_EQ(*file, expected);
    }
    EXPECT_EQ(file->find_first_of(std::string("/\0", 2)), std::string::npos) << name;
    EXPECT_EQ(nameForFileName(*file), std::optional<std::string>(name)) << *file;
    EXPECT_TRUE(seen.insert(*file).second) << "two names share " << *file;
  }
  EXPECT_FALSE(fileNameForName("").ok());
  for (const char* stray : {"", "a/b"}) EXPECT_EQ(nameForFileName(stray), std::nullopt);
}

// --- Folders and timers

TEST_F(LocalSavesTest, TimersRoundTripPerBaby) {
  EXPECT_EQ(saves_.loadTimerArray(""), std::nullopt);
  EXPECT_EQ(timersOf("Anna"), 0u);
  EXPECT_TRUE(allFiles().empty()) << "reading made a file";

  const NoteTimerArray anna = {timerWithPhoto("Sleep", -1), timerWithPhoto("Walk", 0)};
  ASSERT_TRUE(saves_.saveTimerArrayById(anna, "Anna").ok());
  ASSERT_TRUE(saves_.saveTimerArrayById({timerWithPhoto("Bath", 1)}, "Маша").ok());
  EXPECT_EQ(saves_.timerFilePath("Anna"), std::optional<fs::path>(timerFile("Anna")));
  EXPECT_TRUE(fs::is_regular_file(timerFile("Маша")));
  auto back = localSaves(home_).loadTimerArray("Anna");  // all state is on disk
  ASSERT_EQ(back.value().size(), 2u);
  EXPECT_EQ(*(*back)[0], *anna[0]);
  EXPECT_EQ(*(*back)[1], *anna[1]);
  EXPECT_EQ(timersOf("Маша"), 1u);

  ASSERT_TRUE(saves_.deleteTimerArray("Anna").ok());
  EXPECT_EQ(timersOf("Anna"), 0u);
  EXPECT_TRUE(saves_.deleteTimerArray("Anna").ok()) << "removing what is gone is no failure";
  EXPECT_FALSE(saves_.saveTimerArrayById(anna, "").ok());
}

TEST_F(LocalSavesTest, HostileBabyNamesStayInsideTheTimersFolder) {
  for (const std::string name : {"../../Documents/dataBase.sqlite", "a/b", "..", ".", ".profile"}) {
    ASSERT_TRUE(saves_.saveTimerArrayById({timerWithPhoto("Sleep", -1)}, name).ok()) << name;
    EXPECT_EQ(timersOf(name), 1u) << name;
  }
  const auto names = allFiles();
  EXPECT_EQ(names.size(), 5u);
  for (const auto& file : names) EXPECT_EQ(file.rfind("Library/Timers/", 0), 0u) << file;
  EXPECT_TRUE(names.count("Library/Timers/.profile.plist")) << "a leading \".\" is kept as it is";
}

TEST_F(LocalSavesTest, FilesOfEarlierVersionsUnderEscapedNamesAreFoundAndRenamed) {
  // Earlier versions escaped a leading "."; the phone application never did.
  ASSERT_TRUE(saves_.saveTimerArrayById({timerWithPhoto("Sleep", 4)}, "Anna").ok());
  ASSERT_TRUE(files::move(timerFile("Anna"), timerFile(".%2EAnna")).ok());
  ASSERT_TRUE(saves_.saveIcon(picture(10), "Anna").ok());
  ASSERT_TRUE(files::move(home_.documents() / "BabyInfo" / "Anna_ava.jpg",
                          home_.documents() / "BabyInfo" / ".%2EAnna_ava.jpg")
                  .ok());
  put(home_.tmp() / ".%2EAnnaPhotoTmp4.jpg", "photo");

  EXPECT_EQ(timersOf(".Anna"), 1u);
  EXPECT_TRUE(saves_.getIcon(".Anna").has_value());
  EXPECT_EQ(saves_.tempPhotoFilePath(".Anna", 4),
            std::optional<fs::path>(home_.tmp() / ".AnnaPhotoTmp4.jpg"));
  EXPECT_EQ(allFiles(), (std::set<std::string>{"Documents/BabyInfo/.Anna_ava.jpg",
                                               "Library/Timers/.Anna.plist", "tmp/.AnnaPhotoTmp4.jpg"}));
}

TEST_F(LocalSavesTest, UnreadableTimerFilesReadAsNoTimersOrAnErrorAndFailedWritesAreReported) {
  ASSERT_TRUE(
      saves_.saveTimerArrayById({timerWithPhoto("Sleep", -1), timerWithPhoto("Walk", 0)}, "Anna").ok());
  const Bytes good = readAll(timerFile("Anna"));
  foundation::ScopedLogCapture log;
  for (const Bytes& contents : {Bytes(good.begin(), good.begin() + good.size() / 2), bytes("hello")}) {
    ASSERT_TRUE(files::writeAtomic(timerFile("Anna"), contents).ok());
    EXPECT_EQ(timersOf("Anna"), 0u);
    // A writer asks the other way and is told the file is there but unreadable.
    EXPECT_FALSE(saves_.readTimerArray("Anna").ok());
  }
  EXPECT_EQ(saves_.readTimerArray("Mia").value().size(), 0u) << "no file: no timers";
  EXPECT_FALSE(saves_.readTimerArray("").ok());
  ASSERT_TRUE(files::remove(timerFile("Anna")).ok());
  ASSERT_TRUE(files::createDirectory(timerFile("Anna") / "inside").ok());
  EXPECT_EQ(timersOf("Anna"), 0u);
  EXPECT_FALSE(saves_.readTimerArray("Anna").ok());
  EXPECT_FALSE(saves_.saveTimerArrayById({timerWithPhoto("Sleep", -1)}, "Anna").ok());
  EXPECT_TRUE(log.contains("Cannot save the timers of Anna"));
}

// --- Images

TEST_F(LocalSavesTest, IconsAndPhotosAreBestQualityJpegsInDocuments) {
  ASSERT_TRUE(saves_.saveIcon(picture(10), "Anna").ok());
  ASSERT_TRUE(saves_.savePhoto(picture(60), "_2015_March_05_10_20_7").ok());
  const fs::path icon = home_.documents() / "BabyInfo" / "Anna_ava.jpg";
  const fs::path photo = home_.documents() / "Photos" / "_2015_March_05_10_20_7.jpg";
  EXPECT_EQ(readAll(icon), *picture(10).jpegData(1.0));
  EXPECT_EQ(readAll(photo), *picture(60).jpegData(1.0));
  auto readIcon = saves_.getIcon("Anna");
  ASSERT_TRUE(readIcon.has_value());
  EXPECT_EQ(readIcon->pixelWidth(), 16);
  EXPECT_TRUE(saves_.getPhoto("_2015_March_05_10_20_7").has_value());
  EXPECT_EQ(saves_.getIcon("Boris"), std::nullopt);

  ASSERT_TRUE(saves_.deleteIcon("Anna").ok());
  ASSERT_TRUE(saves_.deletePhoto("_2015_March_05_10_20_7").ok());
  EXPECT_FALSE(fs::exists(icon) || fs::exists(photo));
  EXPECT_EQ(saves_.getIcon("Anna"), std::nullopt);
  EXPECT_FALSE(saves_.saveIcon(picture(1), "").ok());
  EXPECT_FALSE(saves_.saveIcon(graphics::Image(), "Anna").ok()) << "an empty image makes no icon";

  // A damaged file, or a folder in the file's place, reads as no image.
  foundation::ScopedLogCapture log;
  put(icon, "GIF89a");
  EXPECT_EQ(saves_.getIcon("Anna"), std::nullopt);
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

// Names too long for a file name with their suffix keep their files under a shortened form.
TEST_F(LocalSavesTest, LongNamesKeepTheirFilesUnderAShortenedForm) {
  std::string cyrillic;
  for (int i = 0; i < 200; ++i) cyrillic += "ж";  // 400 bytes
  const std::vector<std::string> names = {std::string(249, 'a'),  // ".plist" fits, "_ava.jpg" does not
                                          std::string(300, 'a'), std::string(299, 'a') + "b", cyrillic,
                                          "a/" + std::string(260, 'a')};
  for (const auto& name : names) {
    ASSERT_TRUE(saves_.saveTimerArrayById({timerWithPhoto("Sleep", 2)}, name).ok()) << name.size();
    ASSERT_TRUE(saves_.saveIcon(picture(30), name).ok()) << name.size();
    ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(40), name, 2).ok()) << name.size();
  }
  for (const auto& name : names) {
    EXPECT_EQ(timersOf(name), 1u) << name.size();
    EXPECT_TRUE(saves_.getIcon(name).has_value()) << name.size();
    EXPECT_TRUE(saves_.getTempPhotoPhotoNum(name, 2).has_value()) << name.size();
  }
  EXPECT_TRUE(fs::is_regular_file(timerFile(std::string(249, 'a')))) << "a name that fits stays as it is";
  const auto files = allFiles();
  EXPECT_EQ(files.size(), names.size() * 3) << "every long name has files of its own";
  for (const auto& file : files) {
    const std::string leaf = fs::path(file).filename().string();
    EXPECT_LE(leaf.size(), 255u) << file;
    EXPECT_TRUE(foundation::text::isValidUtf8(leaf)) << file;
  }

  ASSERT_TRUE(saves_.replaceTempInfo(names[1], names[2] + "c").ok());
  EXPECT_EQ(timersOf(names[1]), 0u);
  EXPECT_EQ(timersOf(names[2] + "c"), 1u);
  EXPECT_TRUE(saves_.getTempPhotoPhotoNum(names[2] + "c", 2).has_value());
  EXPECT_EQ(timersOf(names[2]), 1u);
}

// --- Renaming

TEST_F(LocalSavesTest, RenamingCarriesEveryTimerPhotoByItsNumber) {
  // Two timers whose photos carry the numbers 1 and 2 (number 0 was freed earlier).
  const NoteTimerArray timers = {timerWithPhoto("Sleep", 1), timerWithPhoto("Walk", 2),
                                 timerWithPhoto("Bath", -1)};
  ASSERT_TRUE(saves_.saveTimerArrayById(timers, "Anna").ok());
  for (int n : {1, 2, 7}) ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(n), "Anna", n).ok());
  const Bytes photo2 = readAll(home_.tmp() / "AnnaPhotoTmp2.jpg");

  ASSERT_TRUE(saves_.replaceTempInfo("Anna", "Anna Maria").ok());
  EXPECT_FALSE(fs::exists(timerFile("Anna")));
  auto moved = saves_.loadTimerArray("Anna Maria");
  ASSERT_EQ(moved.value().size(), 3u);
  EXPECT_EQ(*(*moved)[1], *timers[1]);
  EXPECT_TRUE(fs::exists(home_.tmp() / "Anna MariaPhotoTmp1.jpg"));
  EXPECT_EQ(readAll(home_.tmp() / "Anna MariaPhotoTmp2.jpg"), photo2);
  EXPECT_FALSE(fs::exists(home_.tmp() / "AnnaPhotoTmp1.jpg") ||
               fs::exists(home_.tmp() / "AnnaPhotoTmp2.jpg"));
  EXPECT_TRUE(fs::exists(home_.tmp() / "AnnaPhotoTmp7.jpg"))
      << "a photo no timer carries is not the rename's";
}

// A rename with nothing to carry does nothing; one that fails removes nothing old.
TEST_F(LocalSavesTest, RenamingWithNothingToCarryOrThatFailsRemovesNothingOld) {
  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(0), "Anna", 0).ok());
  EXPECT_TRUE(saves_.replaceTempInfo("Anna", "Boris").ok());  // no timers
  EXPECT_TRUE(saves_.replaceTempInfo("", "Boris").ok());
  EXPECT_TRUE(fs::exists(home_.tmp() / "AnnaPhotoTmp0.jpg"));
  ASSERT_TRUE(
      saves_.saveTimerArrayById({timerWithPhoto("Sleep", 0), timerWithPhoto("Walk", 1)}, "Anna").ok());
  EXPECT_TRUE(saves_.replaceTempInfo("Anna", "Anna").ok());
  EXPECT_FALSE(saves_.replaceTempInfo("Anna", "").ok());
  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(1), "Anna", 1).ok());
  // The second photo's new place is taken by a folder, so it cannot be written.
  ASSERT_TRUE(files::createDirectory(home_.tmp() / "BorisPhotoTmp1.jpg" / "x").ok());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(saves_.replaceTempInfo("Anna", "Boris").ok());
  EXPECT_TRUE(log.contains("Cannot move the timer photo"));
  EXPECT_TRUE(fs::exists(timerFile("Anna")));
  EXPECT_FALSE(fs::exists(timerFile("Boris")));
  EXPECT_TRUE(fs::exists(home_.tmp() / "AnnaPhotoTmp0.jpg") && fs::exists(home_.tmp() / "AnnaPhotoTmp1.jpg"));
  EXPECT_FALSE(fs::exists(home_.tmp() / "BorisPhotoTmp0.jpg"))
      << "the copy made before the failure is taken back";
}

// --- Clearing

TEST_F(LocalSavesTest, ClearingKeepsTheFolderAndRemovingBackupFilesSparesTimerPhotos) {
  const fs::path folder = home_.documents() / "Photos";
  put(folder / "a" / "b" / "c.jpg", "x");
  put(folder / "d.jpg", "y");
  EXPECT_TRUE(saves_.clearFolderByPath(folder).ok());
  EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder));
  EXPECT_TRUE(saves_.clearFolderByPath(home_.root() / "nowhere").ok());

  ASSERT_TRUE(saves_.saveTempPhotoPhotoPathPhotoNum(picture(1), "Anna", 0).ok());
  put(saves_.backUpArchivePath(), "zip");
  put(saves_.backUpDir() / "restore" / "dataBase.sqlite", "db");
  EXPECT_TRUE(saves_.removeBackUpFiles().ok());
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
  EXPECT_TRUE(fs::exists(home_.tmp() / "AnnaPhotoTmp0.jpg"));
}

}  // namespace
}  // namespace app
