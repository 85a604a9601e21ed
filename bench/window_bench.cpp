// The diary's window as a parent meets it: how soon a click shows what it did, and whether a slide
// plays at the display's pace. The diary runs in its window on a virtual display of the benchmark's
// own (Xvfb picks a free display number), on a data root in a scratch folder, without step pictures
// (as a parent runs it); commands that only lead to a screen go through its terminal, and the clicks
// that are timed go to the window through XTest, as a mouse's do. The window's pictures are watched
// through the X server's DAMAGE extension: whenever the window was painted, its pixels are read
// (through shared memory, MIT-SHM) and compared with the picture before; a painting that changed
// nothing (the same picture drawn again) does not count.
//
// One run of each benchmark is a session of the diary on one device: the first run (a new baby and
// the units), then the clicks below, each taken once the window has settled (nothing changed for
// half a second). The counters are medians over the clicks of each kind, in milliseconds:
//
//   list_ms         from a click on the notes list's "Summary" or "List" (in turn) to the first
//                   changed picture
//   new_baby_ms     from a click on the babies list's "+" to the first picture of New baby
//   date_ms         from a click on the note editor's Date row to the first picture of its date
//                   panel on its way up (and, on the phone, the bar on its way out)
//   cancel_ms       from a click on the date panel's Cancel to the first picture of it going
//   slide_gap_ms    the largest gap between two changed pictures while the date panel slides up
//   slide_pictures  how many changed pictures that slide shows (it lasts 0.3 seconds)
//
// A display's frames come every 16.7 ms: a click shows within two frames at 33 ms, and a slide that
// keeps the display's pace has no gap much over a frame.
//
// Everything the benchmark starts (the display, the diary) is stopped on the way out, also when the
// run is interrupted, and the scratch folder goes with it. The diary runs without a network where
// the benchmark may make a network namespace (as root), so that its services' name lookups are no
// part of the times. `window_bench --diary PATH` measures another build of the diary (an earlier
// one, to compare).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/cpu_stopwatch.h"
#include "bench/scratch_folder.h"
#include "tests/program/first_run_script.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the names of the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using bench_support::median;
using bench_support::wallSeconds;

// The diary this benchmark was built with, or the one named by --diary.
std::string& diaryProgram() {
  static std::string path = DIARY_PROGRAM;
  return path;
}

// Clicks of each kind a session times.
constexpr int kClicks = 15;
// The window has settled once no picture changed for this long.
constexpr double kQuiet = 0.5;
// A click that changed nothing within this long is counted as this long.
constexpr double kAtMost = 3;

struct Point {
  double x = 0, y = 0;
};

// A device the diary runs as, and where its controls are, in the screen's points.
struct Device {
  const char* argument;  // for --device, empty for the default phone
  double width, height;  // the screen in points
  Point summary, list;   // the notes list's two halves
  Point date;            // the note editor's Date row
  Point cancel;          // the date panel's Cancel
  Point plus;            // the babies list's "+"
};

constexpr Device kPhone{"", 320, 568, {215, 86}, {105, 86}, {40, 88}, {40, 285}, {282, 42}};
constexpr Device kTablet{"ipad", 768, 1024, {620, 40}, {430, 40}, {140, 290}, {154, 538}, {614, 242}};

[[noreturn]] void fail(const std::string& what, const fs::path& log = {}) {
  std::cerr << "window_bench: " << what << "\n";
  if (std::ifstream in(log); !log.empty() && in) std::cerr << in.rdbuf();
  std::cerr << std::flush;
  std::exit(1);
}

// The processes started here, ended on an interrupt before the scratch folder goes.
std::atomic<pid_t> displayPid{0}, diaryPid{0};

// Starts a program with `environment` added to ours and the descriptors `moves` (from, to) in place;
// its output goes to `log`.
pid_t start(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
            const std::vector<std::pair<int, int>>& moves, const fs::path& log) {
  std::vector<char*> argv, envp;
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> all(environment);
  for (char** e = environ; *e; ++e) all.emplace_back(*e);
  for (auto& e : all) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (auto [from, to] : moves) posix_spawn_file_actions_adddup2(&actions, from, to);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) fail("cannot start " + arguments[0]);
  return pid;
}

// Waits up to `seconds` for the process to end; true once it has (and is reaped).
bool awaitEnd(pid_t pid, double seconds) {
  for (const double until = wallSeconds() + seconds; wallSeconds() < until; ::usleep(20'000))
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return true;
  return false;
}

void stop(std::atomic<pid_t>& process, double grace) {
  const pid_t pid = process.exchange(0);
  if (pid <= 0) return;
  if (awaitEnd(pid, grace)) return;
  ::kill(pid, SIGTERM);
  if (!awaitEnd(pid, 2)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

// An Xvfb of our own, on the display number it finds free.
class VirtualDisplay {
 public:
  VirtualDisplay(const fs::path& folder, const std::string& size) {
    int numberPipe[2];
    if (::pipe2(numberPipe, O_CLOEXEC) != 0) fail("cannot make a pipe");
    displayPid = start({"Xvfb", "-displayfd", "3", "-screen", "0", size + "x24", "-nolisten", "tcp"}, {},
                       {{numberPipe[1], 3}}, folder / "xvfb.log");
    ::close(numberPipe[1]);
    std::string number;
    pollfd wait{numberPipe[0], POLLIN, 0};
    char c = 0;
    while (::poll(&wait, 1, 20'000) == 1 && ::read(numberPipe[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(numberPipe[0]);
    if (number.empty()) fail("the virtual display did not start", folder / "xvfb.log");
    name_ = ":" + number;
  }
  ~VirtualDisplay() { stop(displayPid, 0); }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

// The diary in its window, fed commands through a pipe; what it prints goes to a log.
class DiaryWindow {
 public:
  DiaryWindow(const fs::path& folder, const std::string& display, const Device& device) : log_(folder / "diary.log") {
    int commands[2];
    if (::pipe2(commands, O_CLOEXEC) != 0) fail("cannot make a pipe");
    std::vector<std::string> arguments{diaryProgram()};
    if (*device.argument) arguments.insert(arguments.end(), {"--device", device.argument});
    diaryPid = start(arguments, {"DISPLAY=" + display, "DIARY_HOME=" + (folder / "root").string()},
                     {{commands[0], STDIN_FILENO}}, log_);
    ::close(commands[0]);
    input_ = commands[1];
  }
  ~DiaryWindow() {
    send("quit\n");
    ::close(input_);
    stop(diaryPid, 30);
  }
  DiaryWindow(const DiaryWindow&) = delete;
  DiaryWindow& operator=(const DiaryWindow&) = delete;

  void send(const std::string& lines) {
    for (size_t done = 0; done < lines.size();) {
      const ssize_t n = ::write(input_, lines.data() + done, lines.size() - done);
      if (n <= 0) return;  // the diary has gone: its log tells why
      done += static_cast<size_t>(n);
    }
  }
  // Runs the commands, then a look, and waits until the look is printed: the commands are done.
  void run(const std::string& lines) {
    const int before = looks();
    send(lines + "look\n");
    for (const double until = wallSeconds() + 30; looks() == before; ::usleep(20'000))
      if (wallSeconds() > until) fail("the diary did not answer", log_);
  }
  const fs::path& log() const { return log_; }

 private:
  int looks() const {
    std::ifstream in(log_);
    int count = 0;
    for (std::string line; std::getline(in, line);) count += line.starts_with("on the screen");
    return count;
  }

  fs::path log_;
  int input_ = -1;
};

// The diary's window as the display shows it: clicks sent to it, and the times its picture changed.
class WindowWatch {
 public:
  WindowWatch(const std::string& display, const Device& device, const fs::path& log) : device_(device), log_(log) {
    for (const double until = wallSeconds() + 30; !(x_ = XOpenDisplay(display.c_str())); ::usleep(50'000))
      if (wallSeconds() > until) fail("cannot open the display " + display);
    int eventBase = 0, errorBase = 0, major = 0, minor = 0, opcode = 0;
    if (!XDamageQueryExtension(x_, &damageEvent_, &errorBase) ||
        !XTestQueryExtension(x_, &eventBase, &errorBase, &major, &minor) ||
        !XQueryExtension(x_, "MIT-SHM", &opcode, &eventBase, &errorBase))
      fail("the display lacks DAMAGE, XTEST or MIT-SHM");
    for (const double until = wallSeconds() + 30; !(window_ = find(DefaultRootWindow(x_))); ::usleep(50'000))
      if (wallSeconds() > until) fail("the diary's window did not show", log_);
    damage_ = XDamageCreate(x_, window_, XDamageReportNonEmpty);
    settle();
  }
  ~WindowWatch() {
    release();
    XDamageDestroy(x_, damage_);
    XCloseDisplay(x_);
  }
  WindowWatch(const WindowWatch&) = delete;
  WindowWatch& operator=(const WindowWatch&) = delete;

  // Waits until the window has settled.
  void settle() { watch(wallSeconds()); }

  // Clicks at a point of the screen, and returns the times (seconds from the click) of every
  // changed picture until the window settled again.
  std::vector<double> click(Point point) {
    settle();
    XWindowAttributes shown{};
    XGetWindowAttributes(x_, window_, &shown);
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(x_, window_, DefaultRootWindow(x_), 0, 0, &rootX, &rootY, &child);
    // As the window fits the screen in: whole, centred, its proportions kept.
    const double scale = std::min(shown.width / device_.width, shown.height / device_.height);
    const double left = (shown.width - device_.width * scale) / 2, top = (shown.height - device_.height * scale) / 2;
    XTestFakeMotionEvent(x_, -1, rootX + static_cast<int>(left + point.x * scale),
                         rootY + static_cast<int>(top + point.y * scale), CurrentTime);
    XSync(x_, False);
    const double clicked = wallSeconds();
    XTestFakeButtonEvent(x_, 1, True, CurrentTime);
    XTestFakeButtonEvent(x_, 1, False, CurrentTime);
    XFlush(x_);
    return watch(clicked);
  }

 private:
  // The top-level window named "diary" that is shown, or 0.
  Window find(Window parent) {
    Window root = 0, up = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(x_, parent, &root, &up, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
      char* name = nullptr;
      XWindowAttributes a{};
      if (XFetchName(x_, children[i], &name) && name && std::strcmp(name, "diary") == 0 &&
          XGetWindowAttributes(x_, children[i], &a) && a.map_state == IsViewable)
        found = children[i];
      if (name) XFree(name);
    }
    if (children) XFree(children);
    return found;
  }

  // The shared image for the window's present size.
  void prepare(int width, int height) {
    if (image_ && image_->width == width && image_->height == height) return;
    release();
    XWindowAttributes a{};
    XGetWindowAttributes(x_, window_, &a);
    image_ = XShmCreateImage(x_, a.visual, static_cast<unsigned>(a.depth), ZPixmap, nullptr, &shm_,
                             static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (!image_) fail("cannot make a shared image");
    const size_t bytes = static_cast<size_t>(image_->bytes_per_line) * static_cast<size_t>(height);
    shm_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (shm_.shmid < 0) fail("cannot share memory with the display");
    shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
    shm_.readOnly = False;
    XShmAttach(x_, &shm_);
    XSync(x_, False);
    // Gone once both sides have let go of it.
    shmctl(shm_.shmid, IPC_RMID, nullptr);
    last_.clear();
  }
  void release() {
    if (!image_) return;
    XShmDetach(x_, &shm_);
    XSync(x_, False);
    XDestroyImage(image_);
    shmdt(shm_.shmaddr);
    image_ = nullptr;
  }

  // Whether the window's picture differs from the one seen before.
  bool changed() {
    XWindowAttributes a{};
    XGetWindowAttributes(x_, window_, &a);
    prepare(a.width, a.height);
    XShmGetImage(x_, window_, image_, 0, 0, AllPlanes);
    const size_t bytes = static_cast<size_t>(image_->bytes_per_line) * static_cast<size_t>(image_->height);
    if (last_.size() == bytes && std::memcmp(last_.data(), image_->data, bytes) == 0) return false;
    last_.assign(image_->data, image_->data + bytes);
    return true;
  }

  // The times (seconds since `from`) of the changed pictures until none changed for kQuiet.
  std::vector<double> watch(double from) {
    std::vector<double> changes;
    double lastChange = from;
    const int fd = ConnectionNumber(x_);
    for (;;) {
      const double now = wallSeconds();
      if (now - lastChange >= kQuiet || now - from > kAtMost + kQuiet) break;
      if (!XPending(x_)) {
        pollfd wait{fd, POLLIN, 0};
        ::poll(&wait, 1, static_cast<int>((kQuiet - (now - lastChange)) * 1000) + 1);
        if (!XPending(x_)) continue;
      }
      // The moment the painting was told of; every painting told of by then is read at once.
      const double painted = wallSeconds();
      bool damaged = false;
      while (XPending(x_)) {
        XEvent event;
        XNextEvent(x_, &event);
        damaged = damaged || event.type == damageEvent_ + XDamageNotify;
      }
      if (!damaged) continue;
      XDamageSubtract(x_, damage_, 0, 0);
      if (changed()) {
        changes.push_back(painted - from);
        lastChange = painted;
      }
    }
    return changes;
  }

  const Device& device_;
  fs::path log_;
  Display* x_ = nullptr;
  Window window_ = 0;
  Damage damage_ = 0;
  int damageEvent_ = 0;
  XImage* image_ = nullptr;
  XShmSegmentInfo shm_{};
  std::vector<char> last_;
};

// The figures of one kind of click over a session.
struct Laps {
  std::vector<double> firstChange, largestGap, pictures;

  void add(const std::vector<double>& changes) {
    firstChange.push_back(changes.empty() ? kAtMost : changes.front());
    double gap = 0;
    for (size_t i = 1; i < changes.size(); ++i) gap = std::max(gap, changes[i] - changes[i - 1]);
    largestGap.push_back(gap);
    pictures.push_back(static_cast<double>(changes.size()));
  }
};

void runSession(benchmark::State& state, const Device& device) {
  bench_support::ScratchFolder folder("window-bench");
  static const int hook = bench_support::addStopHook([] {
    for (auto* process : {&diaryPid, &displayPid})
      if (pid_t pid = process->load(); pid > 0) ::kill(pid, SIGKILL);
  });
  (void)hook;
  Laps list, date, cancel, newBaby;
  for (auto _ : state) {
    VirtualDisplay display(folder.path(), "1024x1280");
    DiaryWindow diary(folder.path(), display.name(), device);
    WindowWatch window(display.name(), device, diary.log());
    const double began = wallSeconds();
    diary.run(program_run::kNewBabyFirstRun);
    for (int i = 0; i < kClicks; ++i) list.add(window.click(i % 2 == 0 ? device.summary : device.list));
    diary.run("tap List\ntap Diaper\n");
    for (int i = 0; i < kClicks; ++i) {
      date.add(window.click(device.date));
      cancel.add(window.click(device.cancel));
    }
    diary.run("tap iPhone_cancel_button\ntap Ada\n");
    for (int i = 0; i < kClicks; ++i) {
      newBaby.add(window.click(device.plus));
      diary.run("tap Cancel\n");
    }
    state.SetIterationTime(wallSeconds() - began);
  }
  state.counters["list_ms"] = median(list.firstChange) * 1e3;
  state.counters["new_baby_ms"] = median(newBaby.firstChange) * 1e3;
  state.counters["date_ms"] = median(date.firstChange) * 1e3;
  state.counters["cancel_ms"] = median(cancel.firstChange) * 1e3;
  state.counters["slide_gap_ms"] = median(date.largestGap) * 1e3;
  state.counters["slide_pictures"] = median(date.pictures);
}

void BM_PhoneWindow(benchmark::State& state) { runSession(state, kPhone); }
void BM_TabletWindow(benchmark::State& state) { runSession(state, kTablet); }
BENCHMARK(BM_PhoneWindow)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();
BENCHMARK(BM_TabletWindow)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  // The diary's analytics and cloud look their hosts' names up; without a network (a namespace of
  // our own, where we may make one) that fails at once and takes no time from the window. The
  // display is reached through its local socket all the same.
  if (::unshare(CLONE_NEWNET) != 0)
    std::fprintf(stderr, "window_bench: running with the network: the diary's name lookups run meanwhile\n");
  if (argc >= 3 && std::strcmp(argv[1], "--diary") == 0) {
    diaryProgram() = fs::absolute(argv[2]).string();
    argv[2] = argv[0];
    argc -= 2;
    argv += 2;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
