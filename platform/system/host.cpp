#include "platform/system/host.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>

namespace sys {
namespace {

std::optional<long> readNumberFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  long value = 0;
  if (!(in >> value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<KernelNames> kernelNames() {
  utsname names{};
  if (uname(&names) != 0) return std::nullopt;
  return KernelNames{names.sysname, names.nodename, names.release, names.version, names.machine};
}

std::optional<std::int32_t> logicalProcessorCount() {
  const long count = sysconf(_SC_NPROCESSORS_CONF);
  if (count < 1) return std::nullopt;
  return static_cast<std::int32_t>(count);
}

std::optional<std::int32_t> physicalProcessorCount() {
  std::error_code error;
  std::filesystem::directory_iterator cpus("/sys/devices/system/cpu", error);
  if (error) return std::nullopt;
  std::set<std::pair<long, long>> cores;
  for (const auto& entry : cpus) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 4 || name.compare(0, 3, "cpu") != 0 ||
        name.find_first_not_of("0123456789", 3) != std::string::npos) {
      continue;
    }
    const auto package = readNumberFile(entry.path() / "topology" / "physical_package_id");
    const auto core = readNumberFile(entry.path() / "topology" / "core_id");
    if (package && core) cores.emplace(*package, *core);
  }
  if (cores.empty()) return std::nullopt;
  return static_cast<std::int32_t>(cores.size());
}

std::optional<std::int32_t> platformCpuType() {
#if defined(__x86_64__)
  return 0x1000007;
#elif defined(__aarch64__)
  return 0x100000c;
#else
  return std::nullopt;
#endif
}

std::optional<std::int32_t> platformCpuSubtype() {
#if defined(__x86_64__)
  return 3;
#elif defined(__aarch64__)
  return 0;
#else
  return std::nullopt;
#endif
}

std::optional<std::string> sysctlString(std::string_view name) {
  std::string KernelNames::*field = nullptr;
  if (name == "kern.osrelease") {
    field = &KernelNames::release;
  } else if (name == "kern.osversion") {
    field = &KernelNames::version;
  } else if (name == "hw.machine") {
    field = &KernelNames::machine;
  } else {
    errno = ENOENT;
    return std::nullopt;
  }
  auto names = kernelNames();
  if (!names) return std::nullopt;
  return std::move(*names.*field);
}

std::optional<std::int32_t> sysctlInt(std::string_view name) {
  std::optional<std::int32_t> value;
  if (name == "hw.cputype") {
    value = platformCpuType();
  } else if (name == "hw.cpusubtype") {
    value = platformCpuSubtype();
  } else if (name == "hw.logicalcpu_max") {
    value = logicalProcessorCount();
  } else if (name == "hw.physicalcpu_max") {
    value = physicalProcessorCount();
  } else {
    errno = ENOENT;
    return std::nullopt;
  }
  if (!value) errno = ENOENT;
  return value;
}

}  // namespace sys
