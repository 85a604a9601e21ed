// Fuzz target for the JSON reader: any bytes must be read or refused cleanly, and whatever is read
// must write back to text that reads as the same tree.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cloud/json.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// A failure leaves a trace in the reader's domain whose errors each link the one before.
void checkTrace(const cloud::CloudJsonBase& worker) {
  const auto& trace = worker.errorTrace();
  require(!trace.empty());
  for (size_t i = 0; i < trace.size(); ++i) {
    require(trace[i].domain == cloud::kJsonErrorDomain);
    require(trace[i].code >= cloud::kJsonUnsupportedValue && trace[i].code <= cloud::kJsonInvalidUtf8);
    require(!trace[i].localizedDescription().empty());
    if (i == 0) {
      require(trace[i].underlying == nullptr);
    } else {
      require(trace[i].underlying != nullptr && trace[i].underlying->code == trace[i - 1].code);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  cloud::CloudJsonParser parser;
  const auto value = parser.fragmentWithString(text);
  require(value.has_value() == parser.errorTrace().empty());

  // Lifting the limit never turns a success into a failure, nor changes what is read.
  cloud::CloudJsonParser unlimited;
  unlimited.setMaxDepth(0);
  const auto unlimitedValue = unlimited.fragmentWithString(text);
  if (value) require(unlimitedValue && *unlimitedValue == *value);
  if (!unlimitedValue) checkTrace(unlimited);
  if (!value) {
    checkTrace(parser);
    return 0;
  }

  // The object entry agrees with the fragment entry.
  const auto object = parser.objectWithString(text);
  require(object.has_value() == (value->isArray() || value->isDictionary()));

  cloud::CloudJsonWriter writer;
  const auto written = writer.stringWithFragment(*value);
  require(written.has_value());
  const auto reread = parser.fragmentWithString(*written);
  require(reread && *reread == *value);
  // Writing is stable: the same tree gives the same text, keys in the same order.
  require(writer.stringWithFragment(*reread) == written);

  writer.setHumanReadable(true);
  writer.setSortKeys(true);
  const auto pretty = writer.stringWithFragment(*value);
  require(pretty.has_value());
  const auto prettyReread = parser.fragmentWithString(*pretty);
  require(prettyReread && *prettyReread == *value);
  return 0;
}
