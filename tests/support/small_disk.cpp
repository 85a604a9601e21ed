#include "support/small_disk.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace testing_support {

std::optional<int> onSmallDisk(const std::filesystem::path& folder, size_t bytes,
                               const std::function<int()>& body) {
  constexpr int kCannotMount = 99;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const std::string uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
    const auto write = [](const char* file, const std::string& text) { std::ofstream(file) << text; };
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ::_exit(kCannotMount);
    write("/proc/self/setgroups", "deny");
    write("/proc/self/uid_map", "0 " + uid + " 1");
    write("/proc/self/gid_map", "0 " + gid + " 1");
    const std::string options = "size=" + std::to_string(bytes);
    if (::mount("none", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) ::_exit(kCannotMount);
    ::_exit(body());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  if (WEXITSTATUS(status) == kCannotMount) return std::nullopt;
  return WEXITSTATUS(status);
}

}  // namespace testing_support
