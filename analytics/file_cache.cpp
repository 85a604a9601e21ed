#include "analytics/file_cache.h"

#include <mutex>

#include "analytics/tally_util.h"
#include "platform/files/file_ops.h"
#include "platform/plist/keyed_archive.h"

namespace analytics {
namespace {

std::mutex& classMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<TallyFileCache>& slot() {
  static std::shared_ptr<TallyFileCache> instance;
  return instance;
}

}  // namespace

std::shared_ptr<TallyFileCache> TallyFileCache::createInstanceWithApiKey(std::string_view apiKey,
                                                                         std::string_view agentVersion) {
  std::lock_guard lock(classMutex());
  if (!slot()) slot() = std::make_shared<TallyFileCache>(std::string(apiKey), std::string(agentVersion));
  return slot();
}

std::shared_ptr<TallyFileCache> TallyFileCache::instance() {
  std::lock_guard lock(classMutex());
  return slot();
}

void TallyFileCache::cleanup() {
  std::shared_ptr<TallyFileCache> dropped;
  std::lock_guard lock(classMutex());
  dropped = std::move(slot());
}

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
