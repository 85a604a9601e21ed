#pragma once
// A fresh folder for one test, removed with everything in it when the test ends.

#include <filesystem>
#include <string>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The checkout the tests were built from: fixed at build time, so a test binary passes from any
// working folder.
std::filesystem::path sourceRoot();
// The application's resources folder (its bundle) in that checkout.
std::filesystem::path resourcesFolder();
// Outside test data, by its path relative to the shared data folder beside the checkout.
std::filesystem::path sharedData(const std::string& relative);
// Where tests put what people look at (screens as PNG, reports as PDF): build/<preset>/test-output,
// made on first use.
std::filesystem::path testOutput();

}  // namespace testing_support
