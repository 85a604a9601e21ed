#pragma once
// Running the diary in its window on a virtual display of its own, driven by the shell lines of a
// test: typed commands through a pipe, clicks and keys through xdotool, pictures of the window
// through import or xwd. Whatever happens to the diary (it may end early, or stop answering), the
// run ends within bounded time and stops the display and the program it started, and nothing else.

#include <filesystem>
#include <fstream>
#include <string>

#include "program_run.h"
#include "support/temp_dir.h"

namespace program_run {

// Whether the tools of a virtual display and its screenshots are here.
inline bool virtualDisplayTools() {
  return shell("command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null") == 0;
}

// The phone's first run of a boy, Ben, with the metric units, typed into the pipe: the notes list
// with its strip follows (picture 10).
inline constexpr const char* kBenFirstRun =
    R"(printf 'tap Name\ntype Ben\nkey return\ntap Done\ntap kg\ntap cm\ntap °C\ntap Start\ntap Start\n' >&3
)";

// Runs the diary in its window on a virtual display of its own (the server picks a free number, so
// that tests running side by side never share one), fed through a pipe (descriptor 3) by the shell
// lines of `body`, which may use $d (the display), $win (the window), $diary (its process), $SHOT and
// these helpers; then quits it:
//   step NNN   waits for that screen's picture
//   x ARGS     xdotool on the display
//   look       asks for a look and waits until it is printed
//   looks      how many looks were printed; shots: how many pictures were drawn
//   after N    waits until N pictures were drawn
// The display is `display` pixels wide and high; `arguments` go to the diary, and with `screens` its
// step pictures go to home/"s".
//
// Every wait is bounded: step and look give up after 20 seconds and after after 30; xdotool, import
// and xwd are given 20 seconds a call, the diary 30 seconds to end after its quit (then it is
// stopped); a write to a diary that has ended fails instead of ending the run. The display and the diary are stopped on the way out however the body ends. The
// program's exit status (124 when it had to be stopped).
inline int runInWindow(const testing_support::TempDir& home, const std::filesystem::path& shot,
                       const std::string& body, const std::string& display = "1024x1280",
                       const std::string& arguments = "", bool screens = true) {
  std::ofstream(home / "run.sh") << "set -u\n" << R"SH(trap '' PIPE
xvfb=; diary=
stop() {
  exec 3>&-
  if [ -n "$diary" ]; then
    for i in $(seq 300); do kill -0 $diary 2>/dev/null || break; sleep 0.1; done
    if kill -0 $diary 2>/dev/null; then kill $diary; sleep 1; kill -9 $diary 2>/dev/null; fi
  fi
  if [ -n "$xvfb" ]; then kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; fi
}
trap stop EXIT
xdotool() { timeout 20 env xdotool "$@"; }
import() { timeout 20 env import "$@"; }
xwd() { timeout 20 env xwd "$@"; }
exec 4>"$HOME_DIR/display"
Xvfb -displayfd 4 -screen 0 ${SCREEN}x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
exec 4>&-
d=; for i in $(seq 100); do d=$(cat "$HOME_DIR/display"); [ -n "$d" ] && break; sleep 0.1; done
mkfifo "$HOME_DIR/in"
pictures=(); [ "$PICTURES" = 1 ] && pictures=(--screens "$HOME_DIR/s")
DISPLAY=:$d DIARY_HOME="$HOME_DIR/root" "$DIARY" "${pictures[@]}" $ARGUMENTS <"$HOME_DIR/in" >"$HOME_DIR/out" 2>"$HOME_DIR/err" & diary=$!
exec 3>"$HOME_DIR/in"
win=$(DISPLAY=:$d timeout 30 xdotool search --sync --onlyvisible --name '^diary$' | head -1)
step() { for i in $(seq 200); do grep -q "step-$1" "$HOME_DIR/out" && return; sleep 0.1; done; }
x() { DISPLAY=:$d xdotool "$@"; }
looks() { grep -c "on the screen" "$HOME_DIR/out"; }
look() { n=$(looks); echo look >&3; for i in $(seq 200); do [ "$(looks)" -gt "$n" ] && return; sleep 0.1; done; }
shots() { grep -c "^screen:" "$HOME_DIR/out"; }
after() { for i in $(seq 300); do [ "$(shots)" -ge "$1" ] && return; sleep 0.1; done; }
)SH" << body << R"(echo quit >&3
exec 3>&-
status=124
for i in $(seq 300); do kill -0 $diary 2>/dev/null || { wait $diary; status=$?; break; }; sleep 0.1; done
exit $status
)";
  return shell("SCREEN=" + display + " ARGUMENTS='" + arguments + "' PICTURES=" + (screens ? "1" : "0") +
               " HOME_DIR=" + quotedPath(home.path()) + " DIARY=" + quotedPath(diaryProgram()) +
               " SHOT=" + quotedPath(shot) + " DIARY_RESOURCES=" + quotedPath(testing_support::resourcesFolder()) +
               " bash " + quotedPath(home / "run.sh"));
}

}  // namespace program_run
