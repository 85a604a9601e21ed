#include "platform/foundation/log.h"

#include <cstdio>
#include <cstdlib>

namespace foundation {
namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

LogSink& currentSink() {
  static LogSink sink;
  return sink;
}

FatalHook& currentFatalHook() {
  static FatalHook hook;
  return hook;
}

}  // namespace

void log(std::string_view message) {
  std::lock_guard lock(sinkMutex());
  if (currentSink()) {
    currentSink()(message);
  } else {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
  }
}

LogSink setLogSink(LogSink sink) {
  std::lock_guard lock(sinkMutex());
  return std::exchange(currentSink(), std::move(sink));
}

ScopedLogCapture::ScopedLogCapture() {
  previous_ = setLogSink([this](std::string_view message) {
    std::lock_guard lock(mutex_);
    messages_.emplace_back(message);
  });
}

ScopedLogCapture::~ScopedLogCapture() { setLogSink(std::move(previous_)); }

std::vector<std::string> ScopedLogCapture::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

bool ScopedLogCapture::contains(std::string_view fragment) const {
  std::lock_guard lock(mutex_);
  for (const auto& m : messages_) {
    if (m.find(fragment) != std::string::npos) return true;
  }
  return false;
}

FatalHook setFatalHook(FatalHook hook) { return std::exchange(currentFatalHook(), std::move(hook)); }

void fatal(std::string_view message) {
  if (currentFatalHook()) {
    currentFatalHook()(message);
    throw FatalError(std::string(message));
  }
  std::fprintf(stderr, "fatal: %.*s\n", static_cast<int>(message.size()), message.data());
  std::exit(1);
}

}  // namespace foundation
