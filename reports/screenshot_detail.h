#pragma once
// What the screenshot mode's parts share: its error domain, the sample names and the store reads
// of its babies. Private to the mode's files.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/entities.h"
#include "platform/foundation/error.h"
#include "platform/store/context.h"
#include "platform/store/fetch_request.h"

namespace reports::screenshot_detail {

inline constexpr const char* kErrorDomain = "ScreenshotModeErrorDomain";
inline constexpr const char* kBreastFeeding = "Breast Feeding";

inline constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kSampleNames{{
    {"en", "Emma"},
    {"de", "Lena"},
    {"es", "Lucía"},
    {"pt", "Alice"},
    {"fr", "Chloé"},
    {"it", "Giulia"},
    {"ru", "Маша"},
    {"nl", "Sanne"},
    {"tr", "Elif"},
    {"zh-Hans", "美美"},
    {"ja", "さくら"},
}};

inline foundation::Status failure(std::int64_t code, std::string description) {
  return foundation::Error::make(kErrorDomain, code, std::move(description));
}

bool isSampleName(std::string_view name);
store::FetchRequest babiesRequest();
std::vector<app::Baby> fetchBabies(store::Context& context);

}  // namespace reports::screenshot_detail
