#include "analytics/shared_data.h"

#include "analytics/process_wide.h"
#include "platform/runtime/user_defaults.h"

namespace analytics {

std::shared_ptr<TallySharedData> TallySharedData::instance() {
  static ProcessWide<TallySharedData> shared;
  return shared.getOrMake([] { return std::make_shared<TallySharedData>(); });
}

void TallySharedData::storeAppCloudUserID(std::string_view userId) {
  auto defaults = runtime::UserDefaults::standard();
  if (!defaults) return;
  if (userId.empty()) {
    defaults->removeObjectForKey(kTallyAppCloudUserKey);
  } else {
    (void)defaults->setString(kTallyAppCloudUserKey, userId);  // only text that is no UTF-8 fails
  }
}

std::optional<std::string> TallySharedData::storedAppCloudUserID() const {
  auto defaults = runtime::UserDefaults::standard();
  if (!defaults) return std::nullopt;
  return defaults->stringForKey(kTallyAppCloudUserKey);
}

}  // namespace analytics
