// A parent quits the diary where the name server never answers: the analytics upload that quitting
// starts is cancelled with the diary, and the diary does not wait out the lookup of its host. The
// diary runs in network and mount namespaces of its own, whose resolver points at a socket that takes
// every query and answers none; without the rights to make them the walk is skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>

#include "program_run.h"
#include "support/temp_dir.h"

namespace {

using namespace program_run;

TEST(QuitWalk, QuittingDoesNotWaitForANameServerThatNeverAnswers) {
  if (shell("unshare -n -m true >/dev/null 2>&1 && command -v python3 >/dev/null") != 0)
    GTEST_SKIP() << "no rights to make namespaces, or no python3";
  testing_support::TempDir home;
  std::ofstream(home / "script") << "quit\n";
  std::ofstream(home / "resolv.conf") << "nameserver 127.0.0.1\n";
  // The silent name server lives as long as the diary's run, inside the same namespaces.
  std::ofstream(home / "inside.sh")
      << "ip link set lo up && mount --bind " << quotedPath(home / "resolv.conf") << " /etc/resolv.conf || exit 3\n"
      << "python3 -c 'import socket, time; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); "
         "s.bind((\"127.0.0.1\", 53)); time.sleep(60)' &\n"
      << "sleep 0.3\n"
      << diaryCommand(home, home / "script", home / "screens", "--no-window") << " >" << quotedPath(home / "out")
      << " 2>&1\nstatus=$?\nkill $!\nexit $status\n";
  const auto begin = std::chrono::steady_clock::now();
  const int status = shell("unshare -n -m sh " + quotedPath(home / "inside.sh"));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  ASSERT_EQ(status, 0) << readFile(home / "out");
  EXPECT_LT(seconds, 3.0) << readFile(home / "out");
}

}  // namespace
