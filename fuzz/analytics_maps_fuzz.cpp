// Fuzz target for the reader of the analytics SDK's persistent map files (what a device's Library, a
// backup or an earlier build leaves in the SDK folder): any bytes in the cookie file or the globals
// file are read or refused (a refused file goes and its map starts empty), never a crash. A map that
// was read saves, and what it saved reads back to a fixed point after one more round (the Relay
// settings' dictionary form becomes the archived object on the first save, and stays so).
//
// The input's first byte chooses the file; the rest is the file. With an empty corpus folder the
// seeds are files the SDK's own writer makes: cookies keyed by text and by bytes that are not text,
// and Relay settings with a callback beside the bit rate.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analytics/global_variable_storage.h"
#include "analytics/relay_settings.h"
#include "analytics/tally_util.h"
#include "fuzz/seed_corpus.h"
#include "platform/files/file_ops.h"

namespace {

namespace fs = std::filesystem;
using analytics::TallyGlobalVariableStorage;
using analytics::TallyPersistentMap;
using foundation::Bytes;
using foundation::Dictionary;
using foundation::Value;

void require(bool condition) {
  if (!condition) std::abort();
}

constexpr TallyPersistentMap kMaps[] = {TallyPersistentMap::kCookies, TallyPersistentMap::kGlobals};
constexpr const char* kApiKey = "FUZZKEY";

// A data root of this process's own, removed at exit, holding the SDK folder.
void useScratchHome() {
  static const bool ready = [] {
    analytics::TallyUtil::setHome(files::AppHome(fuzz_support::scratchFolder("analytics_maps_fuzz")));
    analytics::TallyUtil::setLogLevel(0);
    return true;
  }();
  require(ready);
}

std::shared_ptr<TallyGlobalVariableStorage> freshSettings() {
  TallyGlobalVariableStorage::cleanup();
  auto settings = TallyGlobalVariableStorage::sharedInstance();
  settings->setApiKey(kApiKey);
  return settings;
}

fs::path fileOf(TallyPersistentMap map) {
  auto path = freshSettings()->getPersistentFilePath(analytics::persistentMapStem(map));
  require(path.has_value());
  return *path;
}

// The files as the SDK writes them, each prefixed with its map's choice byte.
void writeSeeds(const fs::path& corpus) {
  useScratchHome();
  std::vector<Bytes> seeds;
  for (size_t choice = 0; choice < std::size(kMaps); ++choice) {
    auto settings = freshSettings();
    if (kMaps[choice] == TallyPersistentMap::kCookies) {
      (void)analytics::TallyUtil::updateIfChangedCookieValue({'4', '2'}, {'s', 'i', 'd'});
      (void)analytics::TallyUtil::updateIfChangedCookieValue({'v'}, {0xFF, 0x6B});
    } else {
      analytics::TallyRelaySettings relay;
      relay.expirationTTL = 1700604800000;
      analytics::TallyRelayAppTemplate callback;
      callback.events = {"tally.session_end"};
      callback.uriTemplate = "https://p/%{session_duration_millis}";
      relay.callbacks = {callback};
      settings->setMaxBitRateKbps(250);
      settings->updatePersistentMap(TallyPersistentMap::kGlobals, [&](Dictionary& globals) {
        globals.set(std::string(analytics::kRelaySettingsKey), relay.dataDictionary());
      });
    }
    require(settings->savePersistentGlobalsToDisk());
    auto file = files::readFile(fileOf(kMaps[choice]));
    require(file.ok());
    Bytes seed{static_cast<std::uint8_t>(choice)};
    seed.insert(seed.end(), file->begin(), file->end());
    seeds.push_back(std::move(seed));
  }
  fuzz_support::writeSeedFiles(corpus, {seeds[0], seeds[1]});
}

// The map after a fresh settings object has read the files.
std::optional<Dictionary> reread(TallyPersistentMap map) { return freshSettings()->persistentMap(map); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_support::seedEmptyCorpus(*argc, *argv, writeSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size == 0) return 0;
  useScratchHome();
  const TallyPersistentMap map = kMaps[data[0] % std::size(kMaps)];
  const fs::path file = fileOf(map);
  require(analytics::TallyUtil::writeSdkFile(file, Bytes(data + 1, data + size)).ok());

  auto first = reread(map);
  require(first.has_value());  // a file that does not read gives an empty map, never none
  require(TallyGlobalVariableStorage::sharedInstance()->savePersistentGlobalsToDisk());
  auto second = reread(map);
  require(TallyGlobalVariableStorage::sharedInstance()->savePersistentGlobalsToDisk());
  require(reread(map) == second);
  if (map == TallyPersistentMap::kCookies) require(second == first);
  return 0;
}
