// Fuzz target for the analytics server reply and its cookie list: any bytes are read whole or refused
// with "Malformed data", never read past; what is read must account for every byte of the reply.
// With an empty corpus folder, the seeds are well-formed replies written here at start.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "analytics/protocol_data.h"
#include "analytics/server_reply.h"
#include "fuzz/seed_corpus.h"

namespace {

using foundation::Bytes;

void require(bool condition) {
  if (!condition) std::abort();
}

Bytes reply(const std::vector<std::pair<std::string, std::string>>& cookies) {
  Bytes out;
  analytics::TallyProtocolData::appendUshort(0x011E, out);
  analytics::TallyProtocolData::appendInt(0, out);
  analytics::TallyProtocolData::appendUshort(0, out);
  analytics::TallyProtocolData::appendUshort(static_cast<std::int64_t>(cookies.size()), out);
  for (const auto& [key, value] : cookies) {
    analytics::TallyProtocolData::appendUshort(static_cast<std::int64_t>(key.size()), out);
    out.insert(out.end(), key.begin(), key.end());
    analytics::TallyProtocolData::appendUshort(static_cast<std::int64_t>(value.size()), out);
    out.insert(out.end(), value.begin(), value.end());
  }
  analytics::TallyProtocolData::appendUshort(0, out);
  return out;
}

void writeSeeds(const std::filesystem::path& corpus) {
  fuzz_support::writeSeedFiles(
      corpus, {reply({}), reply({{"sid", "42"}}), reply({{"a", ""}, {"", "b"}, {"key", "value"}})});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_support::seedEmptyCorpus(*argc, *argv, writeSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  auto parsed = analytics::parseServerReply({data, size});
  if (!parsed) {
    require(parsed.error().domain == analytics::kTallyMalformedDataDomain);
    return 0;
  }
  if (size == 0) {
    require(parsed->clearCookies);
    return 0;
  }
  // Header (10), one (k, v) pair of lengths per cookie with its bytes, and the closing field.
  size_t accounted = 10 + 2;
  for (const auto& [key, value] : parsed->cookies) accounted += 4 + key.size() + value.size();
  require(accounted <= size);
  return 0;
}
