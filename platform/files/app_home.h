#pragma once
// The application's home: every folder the system writes to lives under one data root.

#include <filesystem>

#include "platform/foundation/error.h"

namespace files {

class AppHome {
 public:
  explicit AppHome(std::filesystem::path root);
  // The root named by DIARY_HOME, else "./var/diary", made absolute.
  static AppHome fromEnvironment();

  // Creates the root and every home folder; succeeds when they already exist.
  foundation::Status create() const;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path documents() const { return root_ / "Documents"; }
  std::filesystem::path library() const { return root_ / "Library"; }
  std::filesystem::path caches() const { return library() / "Caches"; }
  std::filesystem::path applicationSupport() const { return library() / "Application Support"; }
  std::filesystem::path preferences() const { return library() / "Preferences"; }
  std::filesystem::path tmp() const { return root_ / "tmp"; }

 private:
  std::filesystem::path root_;
};

}  // namespace files
