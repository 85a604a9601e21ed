#pragma once
// A cache of plain values in keyed-archive files of the SDK folder, one file per prefix, named after
// the API key and the agent version the cache was made with:
// "<SDK folder>/tallyCache_<prefix>_<API key>_<agent version>.archive" (an empty version for the
// forms that do not tie the file to the current agent). One process-wide instance, made once by the
// session start; thread-safe.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace analytics {

class TallyFileCache {
 public:
  // Makes the instance the first time; later calls keep the first one.
  static std::shared_ptr<TallyFileCache> createInstanceWithApiKey(std::string_view apiKey,
                                                                  std::string_view agentVersion);
  // Nothing before createInstanceWithApiKey.
  static std::shared_ptr<TallyFileCache> instance();
  static void cleanup();

  TallyFileCache(std::string apiKey, std::string agentVersion)
      : apiKey_(std::move(apiKey)), agentVersion_(std::move(agentVersion)) {}

  const std::string& apiKey() const { return apiKey_; }
  const std::string& agentVersion() const { return agentVersion_; }

  // The file's path, or nothing without an SDK folder.
  std::optional<std::filesystem::path> createFilePath(std::string_view prefix,
                                                      bool forCurrentAgentVersion = true) const;
  // Archives the value into the prefix's file; the path, or nothing (logged) when it cannot be saved.
  std::optional<std::filesystem::path> save(const foundation::Value& object, std::string_view prefix,
                                            bool forCurrentAgentVersion = true) const;
  // The value kept for the prefix; nothing without a readable file.
  std::optional<foundation::Value> get(std::string_view prefix, bool forCurrentAgentVersion = true) const;
  // Deletes the prefix's file; false when it could not be deleted.
  bool remove(std::string_view prefix, bool forCurrentAgentVersion = true) const;

 private:
  const std::string apiKey_;
  const std::string agentVersion_;
};

}  // namespace analytics
