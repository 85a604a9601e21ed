#include "platform/files/app_home.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <optional>

#include "platform/files/file_ops.h"
#include "support/temp_dir.h"

namespace files {
namespace {

using testing_support::TempDir;

// Sets an environment variable for the test's lifetime.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) previous_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (previous_)
      ::setenv(name_, previous_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

TEST(AppHome, CreatesEveryHomeFolderAndCanRepeat) {
  TempDir dir;
  const AppHome home(dir / "root");
  ASSERT_TRUE(home.create());
  for (const char* folder : {"Documents", "Library", "Library/Caches", "Library/Application Support",
                             "Library/Preferences", "tmp"}) {
    EXPECT_TRUE(isDirectory(dir / "root" / folder)) << folder;
  }
  EXPECT_EQ(home.documents(), dir / "root/Documents");
  EXPECT_EQ(home.library(), dir / "root/Library");
  EXPECT_EQ(home.caches(), dir / "root/Library/Caches");
  EXPECT_EQ(home.applicationSupport(), dir / "root/Library/Application Support");
  EXPECT_EQ(home.preferences(), dir / "root/Library/Preferences");
  EXPECT_EQ(home.tmp(), dir / "root/tmp");
  std::ofstream(home.documents() / "dataBase.sqlite") << "store";
  ASSERT_TRUE(home.create());
  EXPECT_EQ(readText(home.documents() / "dataBase.sqlite").value(), "store");
}

TEST(AppHome, FailsWhenAFileStandsForAFolder) {
  TempDir dir;
  std::ofstream(dir / "Library") << "not a folder";
  const auto status = AppHome(dir.path()).create();
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error().code, kWriteFileExistsError);
}

TEST(AppHome, HonoursDiaryHomeAndMakesItAbsolute) {
  TempDir dir;
  {
    ScopedEnv home("DIARY_HOME", (dir / "custom").c_str());
    EXPECT_EQ(AppHome::fromEnvironment().root(), dir / "custom");
  }
  {
    ScopedEnv home("DIARY_HOME", "relative/home");
    EXPECT_EQ(AppHome::fromEnvironment().root(), fs::current_path() / "relative/home");
  }
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    ScopedEnv home("DIARY_HOME", unset);
    EXPECT_EQ(AppHome::fromEnvironment().root(), fs::current_path() / "var/diary");
  }
  EXPECT_EQ(AppHome(dir / "a/../b/").root(), dir / "b/");
}

TEST(AppHome, KeepsItsTemporaryFolderUnderTheRoot) {
  TempDir dir;
  ScopedEnv tmpdir("TMPDIR", (dir / "system-tmp").c_str());
  ScopedEnv home("DIARY_HOME", (dir / "home").c_str());
  const AppHome appHome = AppHome::fromEnvironment();
  ASSERT_TRUE(appHome.create());
  EXPECT_EQ(appHome.tmp(), dir / "home/tmp");
  EXPECT_FALSE(files::exists(dir / "system-tmp"));
  for (const auto& folder : {appHome.documents(), appHome.caches(), appHome.tmp()}) {
    const auto relative = folder.lexically_relative(appHome.root());
    EXPECT_FALSE(relative.empty() || *relative.begin() == "..") << folder;
  }
}

}  // namespace
}  // namespace files
