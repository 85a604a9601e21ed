#include "analytics/file_cache.h"

#include "analytics/process_wide.h"
#include "analytics/tally_util.h"
#include "platform/files/file_ops.h"
#include "platform/plist/keyed_archive.h"

namespace analytics {
namespace {

ProcessWide<TallyFileCache>& slot() {
  static ProcessWide<TallyFileCache> s;
  return s;
}

}  // namespace

std::shared_ptr<TallyFileCache> TallyFileCache::createInstanceWithApiKey(std::string_view apiKey,
                                                                         std::string_view agentVersion) {
  return slot().getOrMake(
      [&] { return std::make_shared<TallyFileCache>(std::string(apiKey), std::string(agentVersion)); });
}

std::shared_ptr<TallyFileCache> TallyFileCache::instance() { return slot().get(); }

void TallyFileCache::cleanup() { slot().reset(); }

std::optional<std::filesystem::path> TallyFileCache::createFilePath(std::string_view prefix,
                                                                    bool forCurrentAgentVersion) const {
  auto folder = TallyUtil::filePathDirectory();
  if (!folder) return std::nullopt;
  std::string name = "tallyCache_" + std::string(prefix) + "_" + apiKey_ + "_" +
                     (forCurrentAgentVersion ? agentVersion_ : std::string()) + ".archive";
  return *folder / name;
}

std::optional<std::filesystem::path> TallyFileCache::save(const foundation::Value& object,
                                                          std::string_view prefix,
                                                          bool forCurrentAgentVersion) const {
  auto path = createFilePath(prefix, forCurrentAgentVersion);
  auto bytes = plist::archiveRootValue(object);
  if (path && bytes && TallyUtil::writeSdkFile(*path, *bytes)) return path;
  TallyUtil::log(2, "TallyFileCache: object[%@] cannot be saved to disk", {object});
  return std::nullopt;
}

std::optional<foundation::Value> TallyFileCache::get(std::string_view prefix,
                                                     bool forCurrentAgentVersion) const {
  auto path = createFilePath(prefix, forCurrentAgentVersion);
  if (!path) return std::nullopt;
  return TallyUtil::safeUnarchiveObjectWithFile(*path);
}

bool TallyFileCache::remove(std::string_view prefix, bool forCurrentAgentVersion) const {
  auto path = createFilePath(prefix, forCurrentAgentVersion);
  return path && files::remove(*path).ok();
}

}  // namespace analytics
