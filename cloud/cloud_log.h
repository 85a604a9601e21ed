#pragma once
// The cloud client's log function: every class of the client writes its warnings and errors
// through it. A message is printed to the process log as "[<LEVEL>] " followed by the text made
// from the format and its arguments (the %@-style formatting of foundation::text::format), and
// only when its level is at least the minimum level, WARNING, fixed for the process. Safe from any
// thread.

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace cloud {

enum CloudLogLevel : int {
  kCloudLogLevelInfo = 0,
  kCloudLogLevelAnalytics = 1,
  kCloudLogLevelWarning = 2,
  kCloudLogLevelError = 3,
  kCloudLogLevelFatal = 4,
};

// Messages below this level are dropped.
inline constexpr int kCloudLogMinimumLevel = kCloudLogLevelWarning;

// "INFO", "ANALYTICS", "WARNING", "ERROR", "FATAL"; the empty text for any other level.
std::string_view CloudLogLevelName(int level);

void CloudLogMessage(int level, std::string_view format, const foundation::Array& args);

template <class... Args>
void CloudLogInfo(std::string_view format, Args&&... args) {
  CloudLogMessage(kCloudLogLevelInfo, format,
                  foundation::Array{foundation::Value(std::forward<Args>(args))...});
}

template <class... Args>
void CloudLogWarning(std::string_view format, Args&&... args) {
  CloudLogMessage(kCloudLogLevelWarning, format,
                  foundation::Array{foundation::Value(std::forward<Args>(args))...});
}

template <class... Args>
void CloudLogError(std::string_view format, Args&&... args) {
  CloudLogMessage(kCloudLogLevelError, format,
                  foundation::Array{foundation::Value(std::forward<Args>(args))...});
}

}  // namespace cloud
