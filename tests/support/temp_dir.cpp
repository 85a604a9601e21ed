#include "support/temp_dir.h"

#include <stdexcept>
#include <system_error>

namespace testing_support {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "diary-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path sourceRoot() { return DIARY_SOURCE_DIR; }

std::filesystem::path resourcesFolder() { return sourceRoot() / "resources"; }

std::filesystem::path sharedData(const std::string& relative) {
  // shared/ lies beside the checkout.
  return sourceRoot().parent_path() / "shared" / "data" / relative;
}

std::filesystem::path testOutput() {
  const std::filesystem::path folder = std::filesystem::path(DIARY_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(folder);
  return folder;
}

}  // namespace testing_support
