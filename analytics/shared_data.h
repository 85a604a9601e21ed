#pragma once
// The app-cloud user identifier, kept in the standard user preferences under
// "com.tally.appclouduser". One process-wide instance; thread-safe (the preferences are).

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace analytics {

inline constexpr std::string_view kTallyAppCloudUserKey = "com.tally.appclouduser";

class TallySharedData {
 public:
  static std::shared_ptr<TallySharedData> instance();

  // Stores a non-empty identifier; an empty one removes the entry.
  void storeAppCloudUserID(std::string_view userId);
  std::optional<std::string> storedAppCloudUserID() const;
};

}  // namespace analytics
