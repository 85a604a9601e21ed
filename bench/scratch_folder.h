#pragma once
// A benchmark's scratch folder: made new under the system's temporary folder (TMPDIR, else /tmp)
// and removed with everything in it when the benchmark is done with it, or when the process is
// stopped by SIGINT, SIGTERM or SIGHUP.
//
// On such a signal a small handler only writes the signal's number to a pipe; a watcher thread
// wakes, runs the stop hooks (which end the child processes still writing into a folder), removes
// every scratch folder still alive, and then ends the process by the same signal with its default
// action, so the caller sees the interruption as it would without us. Header only, so that
// benchmarks that link no test support can use it.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

namespace bench_support {

namespace scratch_detail {

struct Registry {
  std::mutex mutex;
  int next = 0;
  std::map<int, std::filesystem::path> folders;
  std::map<int, std::function<void()>> stopHooks;
  int pipe[2] = {-1, -1};
  std::atomic<bool> stopping{false};
};

inline Registry& registry() {
  // Never destroyed: the watcher may still read it while static objects go at exit.
  static Registry* made = new Registry;
  return *made;
}

inline void removeAll(const std::filesystem::path& folder) {
  // A writer that was still running may add a file while we remove: try again a few times.
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (!std::filesystem::exists(folder, ignored)) return;
  }
}

inline void onSignal(int number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  // Async-signal-safe: one write; the watcher does the rest.
  [[maybe_unused]] const ssize_t written = ::write(registry().pipe[1], &byte, 1);
  errno = saved;
}

inline void watch() {
  Registry& r = registry();
  unsigned char number = 0;
  for (;;) {
    const ssize_t n = ::read(r.pipe[0], &number, 1);
    if (n == 1) break;
    if (n < 0 && errno == EINTR) continue;
    return;
  }
  r.stopping = true;
  {
    std::lock_guard lock(r.mutex);
    for (auto& [id, hook] : r.stopHooks) hook();
    for (auto& [id, folder] : r.folders) removeAll(folder);
    r.folders.clear();
  }
  ::signal(number, SIG_DFL);
  ::raise(number);
  ::_exit(128 + number);
}

// Installs the handlers and the watcher once.
inline void installOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    Registry& r = registry();
    if (::pipe2(r.pipe, O_CLOEXEC) != 0) throw std::runtime_error("cannot make the signal pipe");
    std::thread(watch).detach();
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(number, &action, nullptr);
  });
}

}  // namespace scratch_detail

class ScratchFolder {
 public:
  // A new folder "<prefix>-XXXXXX" under the system's temporary folder.
  explicit ScratchFolder(const std::string& prefix) {
    scratch_detail::installOnce();
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch folder");
    path_ = pattern;
    auto& r = scratch_detail::registry();
    std::lock_guard lock(r.mutex);
    id_ = ++r.next;
    r.folders[id_] = path_;
  }
  ~ScratchFolder() {
    auto& r = scratch_detail::registry();
    std::lock_guard lock(r.mutex);
    if (r.folders.erase(id_) != 0) scratch_detail::removeAll(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
  int id_ = 0;
};

// Runs `hook` on an interrupting signal before the scratch folders go (on the watcher thread, so
// it may do anything but touch the folders' owners). Keep the returned id to remove it again.
inline int addStopHook(std::function<void()> hook) {
  scratch_detail::installOnce();
  auto& r = scratch_detail::registry();
  std::lock_guard lock(r.mutex);
  const int id = ++r.next;
  r.stopHooks[id] = std::move(hook);
  return id;
}

// True once an interrupting signal came: the process is about to end by it. Work that failed
// because a stop hook ended its child should wait for that rather than report the failure.
inline bool stopping() { return scratch_detail::registry().stopping.load(); }

// For a thread that finds the process stopping: waits for the end.
[[noreturn]] inline void awaitStop() {
  for (;;) ::pause();
}

inline void removeStopHook(int id) {
  auto& r = scratch_detail::registry();
  std::lock_guard lock(r.mutex);
  r.stopHooks.erase(id);
}

}  // namespace bench_support
