// Fuzz target for the cloud records: a service reply (JSON) and a stored record (keyed archive)
// are outside input. Any bytes must give a whole record or none, never a crash; a record that
// archives (a reply may hold what an archive cannot, such as a NUL in a text) must read back.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cloud/cloud_records.h"
#include "cloud/json.h"
#include "platform/plist/keyed_archive.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

template <typename Record>
void roundTrip(const std::shared_ptr<Record>& record) {
  if (!record) return;
  auto bytes = plist::archiveRootObject(*record);
  if (!bytes) return;
  require(bool(plist::unarchiveRootObjectOfClass<Record>(*bytes)));
}

template <typename Record>
void readArchive(const foundation::Bytes& bytes) {
  if (auto record = plist::unarchiveRootObjectOfClass<Record>(bytes)) roundTrip(*record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  cloud::CloudJsonParser parser;
  if (auto value = parser.fragmentWithString(text)) {
    if (const auto* reply = value->dictionary()) {
      roundTrip(cloud::CloudMetadata::withDictionary(*reply));
      roundTrip(cloud::CloudQuota::withDictionary(*reply));
      roundTrip(cloud::CloudAccountInfo::withDictionary(*reply));
    } else if (const auto* entry = value->array()) {
      roundTrip(cloud::CloudDeltaEntry::withArray(*entry));
    }
  }
  const foundation::Bytes bytes(data, data + size);
  readArchive<cloud::CloudMetadata>(bytes);
  readArchive<cloud::CloudDeltaEntry>(bytes);
  readArchive<cloud::CloudAccountInfo>(bytes);
  return 0;
}
