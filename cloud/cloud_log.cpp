#include "cloud/cloud_log.h"

#include "platform/foundation/log.h"
#include "platform/foundation/text.h"

namespace cloud {

std::string_view CloudLogLevelName(int level) {
  switch (level) {
    case kCloudLogLevelInfo:
      return "INFO";
    case kCloudLogLevelAnalytics:
      return "ANALYTICS";
    case kCloudLogLevelWarning:
      return "WARNING";
    case kCloudLogLevelError:
      return "ERROR";
    case kCloudLogLevelFatal:
      return "FATAL";
    default:
      return "";
  }
}

void CloudLogMessage(int level, std::string_view format, const foundation::Array& args) {
  if (level < kCloudLogMinimumLevel) return;
  // The prefix is put in front of the formatted text, not into the format: the caller's
  // directives and positions then refer to the caller's arguments only.
  std::string line = "[";
  line += CloudLogLevelName(level);
  line += "] ";
  line += foundation::text::format(format, args);
  foundation::log(line);
}

}  // namespace cloud
