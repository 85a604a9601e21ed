#include "platform/files/app_home.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "platform/files/file_ops.h"
#include "support/temp_dir.h"

namespace files {
namespace {

using testing_support::TempDir;

// Sets (or, given nullptr, clears) an environment variable for the test's lifetime.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name), had_(::getenv(name) != nullptr) {
    if (had_) previous_ = ::getenv(name);
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { had_ ? ::setenv(name_, previous_.c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  bool had_;
  std::string previous_;
};

TEST(AppHome, CreatesEveryHomeFolderUnderTheRootAndCanRepeat) {
  TempDir dir;
  ScopedEnv tmpdir("TMPDIR", (dir / "system-tmp").c_str());
  const AppHome home(dir / "root");
  ASSERT_TRUE(home.create());
  const std::pair<fs::path, const char*> folders[] = {
      {home.documents(), "Documents"},
      {home.library(), "Library"},
      {home.caches(), "Library/Caches"},
      {home.applicationSupport(), "Library/Application Support"},
      {home.preferences(), "Library/Preferences"},
      {home.tmp(), "tmp"}};
  for (const auto& [folder, relative] : folders) {
    EXPECT_EQ(folder, dir / "root" / relative);
    EXPECT_TRUE(isDirectory(folder)) << relative;
  }
  EXPECT_FALSE(files::exists(dir / "system-tmp"));
  std::ofstream(home.documents() / "dataBase.sqlite") << "store";
  ASSERT_TRUE(home.create());
  EXPECT_EQ(readText(home.documents() / "dataBase.sqlite").value(), "store");

  std::ofstream(dir / "Library") << "not a folder";
  EXPECT_EQ(AppHome(dir.path()).create().error().code, kWriteFileExistsError);
}

TEST(AppHome, HonoursDiaryHomeAndMakesItAbsolute) {
  TempDir dir;
  const fs::path custom = dir / "custom", here = fs::current_path();
  const std::pair<const char*, fs::path> cases[] = {{custom.c_str(), custom},
                                                    {"relative/home", here / "relative/home"},
                                                    {nullptr, here / "var/diary"},
                                                    {"", here / "var/diary"}};
  for (const auto& [value, root] : cases) {
    ScopedEnv home("DIARY_HOME", value);
    EXPECT_EQ(AppHome::fromEnvironment().root(), root) << (value ? value : "(unset)");
  }
  EXPECT_EQ(AppHome(dir / "a/../b/").root(), dir / "b/");
}

}  // namespace
}  // namespace files
