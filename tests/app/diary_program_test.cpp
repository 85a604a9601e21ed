// The diary program as a person runs it: the sample day on a fresh data root, and the window under a
// virtual display taking a click.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace {

std::filesystem::path diaryProgram() { return testing_support::testOutput().parent_path() / "app" / "diary"; }

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a shell command line; its exit status.
int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quotedPath(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

TEST(DiaryProgram, TheSampleDayRunsOnAFreshDataRoot) {
  if (!std::filesystem::exists(diaryProgram())) GTEST_SKIP() << "the diary program is not built";
  testing_support::TempDir home;
  const auto screens = testing_support::testOutput() / "diary_sample_day";
  std::filesystem::remove_all(screens);
  const std::string command = "env -u DISPLAY DIARY_HOME=" + quotedPath(home / "root") +
                              " DIARY_RESOURCES=" + quotedPath(testing_support::resourcesFolder()) + " " +
                              quotedPath(diaryProgram()) + " --no-window --script " +
                              quotedPath(testing_support::sourceRoot() / "app/examples/new_baby_day.diary") +
                              " --screens " + quotedPath(screens) + " </dev/null >" +
                              quotedPath(home / "out") + " 2>" + quotedPath(home / "err");
  ASSERT_EQ(shell(command), 0) << readFile(home / "err");
  const std::string out = readFile(home / "out");
  EXPECT_NE(out.find("screen: " + (screens / "step-001.png").string()), std::string::npos) << out;
  EXPECT_NE(out.find("diary: ended"), std::string::npos) << out;
  EXPECT_TRUE(std::filesystem::exists(screens / "step-003.png"));
  EXPECT_TRUE(std::filesystem::exists(home / "root" / "Documents" / "dataBase.sqlite"));
}

TEST(DiaryProgram, AScriptStopsAtACommandThatNamesNothing) {
  if (!std::filesystem::exists(diaryProgram())) GTEST_SKIP() << "the diary program is not built";
  testing_support::TempDir home;
  std::ofstream(home / "script") << "tap \"No such button\"\nadvance 1h\nquit\n";
  const std::string command = "env -u DISPLAY DIARY_HOME=" + quotedPath(home / "root") +
                              " DIARY_RESOURCES=" + quotedPath(testing_support::resourcesFolder()) + " " +
                              quotedPath(diaryProgram()) + " --script " + quotedPath(home / "script") +
                              " --screens " + quotedPath(home / "s") + " </dev/null >" +
                              quotedPath(home / "out") + " 2>" + quotedPath(home / "err");
  const int status = shell(command);
  const std::string err = readFile(home / "err");
  EXPECT_EQ(status, 1) << err;
  EXPECT_NE(err.find("no control \"No such button\""), std::string::npos) << err;
  // Nothing ran after it: only the first screen was drawn.
  EXPECT_TRUE(std::filesystem::exists(home / "s" / "step-001.png"));
  EXPECT_FALSE(std::filesystem::exists(home / "s" / "step-002.png"));
}

TEST(DiaryProgram, TheWindowTakesAClickUnderAVirtualDisplay) {
  if (!std::filesystem::exists(diaryProgram())) GTEST_SKIP() << "the diary program is not built";
  if (shell("command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null") !=
      0)
    GTEST_SKIP() << "Xvfb, xdotool or import is missing";
  testing_support::TempDir home;
  const auto shot = testing_support::testOutput() / "diary_window.png";
  std::filesystem::remove(shot);
  // A free display number, the program fed through a pipe, a click, a screenshot, then quit. Every
  // wait is bounded, and only the processes started here are stopped.
  std::ofstream(home / "run.sh") << R"(set -u
d=90; while [ -e /tmp/.X11-unix/X$d ] || [ -e /tmp/.X$d-lock ]; do d=$((d+1)); done
Xvfb :$d -screen 0 1024x1280x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
for i in $(seq 100); do [ -e /tmp/.X11-unix/X$d ] && break; sleep 0.1; done
mkfifo "$HOME_DIR/in"
DISPLAY=:$d DIARY_HOME="$HOME_DIR/root" "$DIARY" --screens "$HOME_DIR/s" <"$HOME_DIR/in" >"$HOME_DIR/out" 2>"$HOME_DIR/err" & diary=$!
exec 3>"$HOME_DIR/in"
win=$(DISPLAY=:$d timeout 30 xdotool search --sync --onlyvisible --name '^diary$' | head -1)
DISPLAY=:$d xdotool mousemove --window "$win" 200 300 click 1
for i in $(seq 100); do grep -q step-002 "$HOME_DIR/out" && break; sleep 0.1; done
DISPLAY=:$d import -window "$win" "$SHOT"
echo quit >&3
exec 3>&-
status=0; wait $diary || status=$?
kill $xvfb; wait $xvfb 2>/dev/null
exit $status
)";
  const std::string command = "HOME_DIR=" + quotedPath(home.path()) + " DIARY=" + quotedPath(diaryProgram()) +
                              " SHOT=" + quotedPath(shot) +
                              " DIARY_RESOURCES=" + quotedPath(testing_support::resourcesFolder()) +
                              " bash " + quotedPath(home / "run.sh");
  ASSERT_EQ(shell(command), 0) << readFile(home / "err");
  const std::string out = readFile(home / "out");
  // The click reached the screen as a tap: a second picture was drawn after it.
  EXPECT_NE(out.find("step-002.png"), std::string::npos) << out << readFile(home / "err");
  EXPECT_NE(out.find("diary: ended"), std::string::npos) << out;
  ASSERT_TRUE(std::filesystem::exists(shot));
  EXPECT_GT(std::filesystem::file_size(shot), 1000u);
}

}  // namespace
