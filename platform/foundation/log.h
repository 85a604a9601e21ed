#pragma once
// The process log, and the hook that ends the process on an unrecoverable fault.
// Tests capture the log with ScopedLogCapture and replace the fatal hook.

#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace foundation {

using LogSink = std::function<void(std::string_view message)>;

// Writes one message to the current sink (standard error by default). Thread-safe.
void log(std::string_view message);
// Installs a sink and returns the one it replaces; an empty sink restores the default.
LogSink setLogSink(LogSink sink);

// Collects every logged message while it lives, then restores the previous sink.
class ScopedLogCapture {
 public:
  ScopedLogCapture();
  ~ScopedLogCapture();
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

  std::vector<std::string> messages() const;
  bool contains(std::string_view fragment) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
  LogSink previous_;
};

// Raised by fatal() when the installed hook returns instead of ending the process.
class FatalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using FatalHook = std::function<void(std::string_view message)>;

// The default hook prints the message to standard error and exits with status 1.
FatalHook setFatalHook(FatalHook hook);
[[noreturn]] void fatal(std::string_view message);

}  // namespace foundation
