#pragma once
// What every part of the analytics SDK leans on: the process-wide log level behind which the SDK's
// diagnostics are printed, the handler that swallows exceptions at the SDK's entry points, the
// system version as a number, and the SDK's clock.

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string_view>

#include "platform/foundation/clock.h"
#include "platform/foundation/value.h"

namespace analytics {

class TallyUtil {
 public:
  TallyUtil() = delete;

  // 0 is silent, 1 (the default) prints the few level-1 messages, 2 and above the debug ones too.
  static void setLogLevel(std::uint32_t level);
  static std::uint32_t logLevel();
  // Whether handleException prints what it caught (off by default).
  static void setShowErrorInLogEnabled(bool enabled);
  static bool showErrorInLogEnabled();

  // Prints the formatted message (foundation::text::format) when the log level lets it through:
  // a level-2 message when the log level is 2 or more, a level-1 message when it is not 0.
  static void log(std::uint32_t level, std::string_view format,
                  std::initializer_list<foundation::Value> args = {});

  // Takes an exception caught at an entry point; never rethrows. Prints it (at log level 2 or
  // more) only when showing errors is enabled.
  static void handleException(std::exception_ptr exception) noexcept;

  // The device's system version as major * 10000 + minor * 100 + patch ("8.0" is 80000).
  static std::int64_t getSystemVersionAsAnInteger();
  // The application is never a watch extension here.
  static bool isInWatchExtension() { return false; }

  // Where the SDK takes "now" from: the system clock unless a test installs another (nullptr
  // restores the system clock). The clock must outlive its use.
  static foundation::Clock& clock();
  static void setClock(foundation::Clock* clock);
};

}  // namespace analytics
