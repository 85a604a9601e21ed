#include "platform/files/app_home.h"

#include <cstdlib>
#include <system_error>

#include "platform/files/file_ops.h"

namespace files {

AppHome::AppHome(std::filesystem::path root) : root_(std::filesystem::absolute(root).lexically_normal()) {}

AppHome AppHome::fromEnvironment() {
  const char* env = std::getenv("DIARY_HOME");
  return AppHome(env && *env ? std::filesystem::path(env) : std::filesystem::path("var/diary"));
}

foundation::Status AppHome::create() const {
  for (const auto& folder : {documents(), caches(), applicationSupport(), preferences(), tmp()}) {
    if (auto status = createDirectory(folder); !status) return status;
  }
  return {};
}

}  // namespace files
