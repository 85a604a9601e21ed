#include "analytics/tally_util.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>

#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/ui/device.h"

namespace analytics {
namespace {

std::atomic<std::uint32_t> gLogLevel{1};
std::atomic<bool> gShowErrors{false};
std::atomic<foundation::Clock*> gClock{nullptr};

std::string typeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(type.name());
}

void print(std::string_view format, std::initializer_list<foundation::Value> args = {}) {
  TallyUtil::log(2, format, args);
}

}  // namespace

void TallyUtil::setLogLevel(std::uint32_t level) { gLogLevel = level; }
std::uint32_t TallyUtil::logLevel() { return gLogLevel; }
void TallyUtil::setShowErrorInLogEnabled(bool enabled) { gShowErrors = enabled; }
bool TallyUtil::showErrorInLogEnabled() { return gShowErrors; }

void TallyUtil::log(std::uint32_t level, std::string_view format,
                    std::initializer_list<foundation::Value> args) {
  std::uint32_t current = gLogLevel;
  bool shown = level >= 2 ? current >= 2 : current != 0;
  if (shown) foundation::log(foundation::text::format(format, args));
}

void TallyUtil::handleException(std::exception_ptr exception) noexcept {
  if (!gShowErrors || !exception) return;
  try {
    try {
      std::rethrow_exception(exception);
    } catch (const std::exception& e) {
      print("Tally: Caught Exception in Tally Analytics Code");
      print("Tally: -----------------------------------------");
      print("Tally: Name:%@ Reason:%@", {typeName(typeid(e)), e.what()});
      print("Tally: %@", {"(null)"});
    } catch (...) {
      print("Tally: Caught Error in Tally Analytics Code");
      print("Tally: %@", {"an exception of unknown type"});
    }
  } catch (...) {
    // Printing failed as well (out of memory): nothing more can be done.
  }
}

std::int64_t TallyUtil::getSystemVersionAsAnInteger() {
  const std::string& version = ui::device().systemVersion;
  std::int64_t parts[3] = {0, 0, 0};
  size_t start = 0;
  for (int i = 0; i < 3 && start <= version.size(); ++i) {
    size_t dot = version.find('.', start);
    parts[i] =
        std::atoll(version.substr(start, dot == std::string::npos ? std::string::npos : dot - start).c_str());
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts[0] * 10000 + parts[1] * 100 + parts[2];
}

foundation::Clock& TallyUtil::clock() {
  foundation::Clock* clock = gClock;
  return clock != nullptr ? *clock : foundation::Clock::system();
}

void TallyUtil::setClock(foundation::Clock* clock) { gClock = clock; }

}  // namespace analytics
