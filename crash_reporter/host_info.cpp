#include "crash_reporter/host_info.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/foundation/log.h"
#include "platform/system/host.h"

namespace crash {
namespace {

// Reads a number at the front of `text` and drops it from there; false when there is none.
bool takeNumber(std::string_view& text, std::intptr_t* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  if (error != std::errc()) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return true;
}

bool takeDot(std::string_view& text) {
  if (text.empty() || text.front() != '.') return false;
  text.remove_prefix(1);
  return true;
}

}  // namespace

char* crash_sysctl_string(const char* name) {
  auto value = sys::sysctlString(name);
  if (!value) return nullptr;
  char* copy = static_cast<char*>(std::malloc(value->size() + 1));
  if (!copy) {
    errno = ENOMEM;
    return nullptr;
  }
  std::memcpy(copy, value->c_str(), value->size() + 1);
  return copy;
}

bool crash_sysctl_int(const char* name, std::int32_t* result) {
  const auto value = sys::sysctlInt(name);
  if (!value) return false;
  *result = *value;
  return true;
}

std::optional<TallyCrashHostInfo> TallyCrashHostInfo::currentHostInfo() {
  char* release = crash_sysctl_string("kern.osrelease");
  if (!release) {
    const int error = errno;
    foundation::log("Failed to fetch kern.osrelease value " + std::to_string(error) + ": " +
                    std::strerror(error));
    return std::nullopt;
  }
  TallyCrashHostInfo info(release);
  std::free(release);
  return info;
}

TallyCrashHostInfo::TallyCrashHostInfo(std::string_view osRelease) {
  std::string_view rest = osRelease;
  const bool wellFormed = takeNumber(rest, &darwinVersion_.major) && takeDot(rest) &&
                          takeNumber(rest, &darwinVersion_.minor) && takeDot(rest) &&
                          takeNumber(rest, &darwinVersion_.revision);
  if (!wellFormed) {
    foundation::log("Unexpected kern.osrelease string format: " + std::string(osRelease));
  }
}

}  // namespace crash
