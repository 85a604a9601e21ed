#include "platform/system/process.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace sys {
namespace {

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

template <class T>
std::optional<T> parseNumber(std::string_view text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The number after "<key>:" on its own line of a /proc status-style text.
std::optional<long long> fieldOfStatus(std::string_view text, std::string_view key) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == ':') {
      line.remove_prefix(key.size() + 1);
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
      return parseNumber<long long>(line);
    }
    at = end + 1;
  }
  return std::nullopt;
}

std::optional<long long> bootTime() {
  const auto text = readFile("/proc/stat");
  if (!text) return std::nullopt;
  // "btime 1700000000" is one line of /proc/stat; it has no colon, so look for it by hand.
  std::istringstream lines(*text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("btime ", 0) == 0) return parseNumber<long long>(std::string_view(line).substr(6));
  }
  return std::nullopt;
}

}  // namespace

std::optional<ProcessRecord> parseProcessRecord(std::string_view statLine, pid_t tracerPid,
                                                long long bootTimeSeconds, long ticksPerSecond) {
  const std::size_t open = statLine.find(" (");
  const std::size_t close = statLine.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open + 2 ||
      ticksPerSecond <= 0) {
    return std::nullopt;
  }
  ProcessRecord record;
  const auto pid = parseNumber<pid_t>(statLine.substr(0, open));
  if (!pid) return std::nullopt;
  record.pid = *pid;
  record.name = std::string(statLine.substr(open + 2, close - open - 2));

  // Fields after the name, counted from the state (the third field of the line).
  std::vector<std::string_view> fields;
  std::string_view rest = statLine.substr(close + 1);
  while (!rest.empty()) {
    const std::size_t start = rest.find_first_not_of(" \n");
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    const std::size_t end = rest.find_first_of(" \n");
    fields.push_back(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  }
  constexpr std::size_t kParent = 4 - 3;
  constexpr std::size_t kStartTime = 22 - 3;
  if (fields.size() <= kStartTime) return std::nullopt;
  const auto parent = parseNumber<pid_t>(fields[kParent]);
  const auto ticks = parseNumber<unsigned long long>(fields[kStartTime]);
  if (!parent || !ticks) return std::nullopt;
  record.parentPid = *parent;
  record.traced = tracerPid != 0;
  const auto perSecond = static_cast<unsigned long long>(ticksPerSecond);
  record.startTime.tv_sec = static_cast<time_t>(bootTimeSeconds + static_cast<long long>(*ticks / perSecond));
  record.startTime.tv_usec = static_cast<suseconds_t>((*ticks % perSecond) * 1000000ULL / perSecond);
  return record;
}

std::optional<ProcessRecord> processRecord(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  const std::string folder = "/proc/" + std::to_string(pid);
  const auto stat = readFile(folder + "/stat");
  const auto status = readFile(folder + "/status");
  if (!stat || !status) return std::nullopt;
  const auto tracer = fieldOfStatus(*status, "TracerPid");
  const auto boot = bootTime();
  if (!tracer || !boot) return std::nullopt;
  return parseProcessRecord(*stat, static_cast<pid_t>(*tracer), *boot, sysconf(_SC_CLK_TCK));
}

std::optional<std::string> executablePath() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace sys
