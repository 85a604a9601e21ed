// The device statistics a session carries in its parameters, measured at its start (phase 0) and at
// its end (phase 1): memory by kind, the process's CPU use, the boot time, the disk and the battery.
// All values are text, as the report carries them.
#include <cstdio>
#include <string>

#include "analytics/tally_session.h"
#include "analytics/tally_util.h"

namespace analytics {
namespace {

std::string decimal(std::uint64_t value) { return std::to_string(value); }

// "%f", the platform's way of printing a float parameter.
std::string fixed(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  return text;
}

}  // namespace

void TallySession::getSessionParametersAtPhase(std::int32_t phase) {
  auto& params = report_.sessionParams;
  std::uint64_t wired = tallyWiredMemory();
  std::uint64_t active = tallyActiveMemory();
  std::uint64_t inactive = tallyInactiveMemory();
  params.set("memory.total", decimal(wired + active + inactive + tallyFreeMemory()));
  const char* suffix = phase == 0 ? ".start" : phase == 1 ? ".end" : nullptr;
  if (suffix) {
    params.set(std::string("memory.used.wired") + suffix, decimal(wired));
    params.set(std::string("memory.used.active") + suffix, decimal(active));
    params.set(std::string("memory.used.inactive") + suffix, decimal(inactive));
    params.set(std::string("cpu.load") + suffix, fixed(tallyCpuLoad()));
  }
  params.set("boot.time", std::to_string(TallyUtil::lastBootTime()));
  std::uint64_t size = TallyUtil::getDiskSize();
  std::uint64_t free = TallyUtil::getFreeDiskspace();
  params.set("disk.size.total", decimal(size));
  // A free count above the size (a file system that changed between the two reads) reads as none used.
  params.set("disk.size.used", decimal(size >= free ? size - free : 0));
  if (suffix) {
    params.set(std::string("battery.remaining") + suffix, fixed(TallyUtil::getBatteryLevel()));
    params.set(std::string("battery.charging") + suffix, TallyUtil::getBatteryState() == 2 ? "1" : "0");
  }
}

}  // namespace analytics
