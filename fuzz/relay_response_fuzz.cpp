// Fuzz target for the Relay configuration response reader: any bytes are read whole or refused,
// without an allocation the bytes do not justify (AddressSanitizer stops at a huge one) and without
// reading past them. Bytes the pre-read walk accepts must also read with Avro C, so the walk is never
// looser than the reader it guards. With an empty corpus folder the seeds are well-formed responses
// written here at start.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "analytics/relay_avro.h"
#include "analytics/relay_response.h"
#include "fuzz/seed_corpus.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Names the property that failed before stopping, so a crash file explains itself.
void require(bool condition, const char* property) {
  if (condition) return;
  std::fprintf(stderr, "relay_response_fuzz: %s does not hold\n", property);
  std::abort();
}

// Avro binary by hand: zig-zag varints and length-prefixed strings.
void varint(Bytes& out, std::int64_t value) {
  auto raw = (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
  do {
    std::uint8_t byte = raw & 0x7F;
    raw >>= 7;
    out.push_back(raw ? byte | 0x80 : byte);
  } while (raw);
}
void text(Bytes& out, const std::string& s) {
  varint(out, static_cast<std::int64_t>(s.size()));
  out.insert(out.end(), s.begin(), s.end());
}

// issued_at, the two ttls, log level "OFF", analytics off, max_callbacks 3, then `templates` templates.
Bytes response(int templates, bool withBody) {
  Bytes out;
  for (std::int64_t n : {1578000000, 86400, 604800}) varint(out, n);
  varint(out, 5);
  out.push_back(0);
  varint(out, 3);
  if (templates > 0) {
    varint(out, templates);
    for (int i = 0; i < templates; ++i) {
      text(out, "partner");
      varint(out, 2);
      text(out, "tally.session_end");
      text(out, "tally.session_start");
      varint(out, 2);
      text(out, "https://p.example/c?d=%{session_duration_millis}&s=%{timestamp_epoch_millis}");
      varint(out, withBody ? 1 : 0);
      if (withBody) text(out, "{\"a\":1}");
      for (std::int64_t n : {5, 20, 20}) varint(out, n);
    }
  }
  varint(out, 0);
  return out;
}

void writeSeeds(const std::filesystem::path& corpus) {
  fuzz_support::writeSeedFiles(corpus, {response(0, false), response(1, true), response(3, false)});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_support::seedEmptyCorpus(*argc, *argv, writeSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  static analytics::TallyRelayResponse reader;
  static auto schema = analytics::relay_avro::parseSchema(
      analytics::relay_avro::schemaJson(analytics::relay_avro::SchemaName::kConfigResponse));
  require(schema.ok(), "the schema parses");
  std::span<const std::uint8_t> bytes(data, size);
  bool walked = analytics::relay_avro::checkBinary(schema->get(), bytes).ok();
  if (walked) {
    auto read = analytics::relay_avro::readBinary(schema->get(), bytes);
    if (!read.ok()) std::fprintf(stderr, "%s\n", read.error().localizedDescription().c_str());
    require(read.ok(), "what the walk accepts reads");
  }

  auto content = reader.parseRelayResponse(bytes);
  if (!content) return 0;
  require(walked && size <= analytics::kRelayMaxResponseBytes, "what is read was walked and fits the cap");
  // Every text came out of the body, so together they cannot be longer than it.
  size_t texts = 0;
  for (const auto& t : content->settings.callbacks) {
    texts += t.partner.size() + t.uriTemplate.value_or("").size() + t.bodyTemplate.value_or("").size();
    for (const auto& event : t.events) texts += event.size();
  }
  require(texts <= size, "the texts came out of the body");
  return 0;
}
