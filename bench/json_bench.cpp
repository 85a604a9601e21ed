// Reading a large folder listing: our reader against rapidjson and nlohmann::json on the same text,
// in one run. The listing is a folder of 20,000 files in the cloud service's metadata shape (about
// 5 MB), written by our writer. BM_CloudJsonVsRapidjson times the two readers in turn in thread
// CPU time, the one that goes first changing every round, so that a busy machine (or a warm cache)
// meets both alike, and reports the median read of each side ("ours_ms", "rapidjson_ms") and
// their ratio as the counter "x_rapidjson".

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "bench/cpu_stopwatch.h"
#include "cloud/json.h"

namespace {

using foundation::Array;
using foundation::Decimal;
using foundation::Dictionary;
using foundation::Value;

constexpr int kEntries = 20000;

std::string hexRevision(int i) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%x%08x", 0x35e9 + i, 0x7029684f ^ (i * 2654435761u));
  return buffer;
}

Dictionary fileMetadata(int i) {
  static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  char path[96], modified[64], size[32];
  std::snprintf(path, sizeof path, "/Photos/Holiday %d/IMG_%05d.jpg", 2011 + i % 5, i);
  std::snprintf(modified, sizeof modified, "%s, %02d Jul 2011 %02d:%02d:%02d +0000", kDays[i % 7], 1 + i % 28,
                i % 24, i % 60, (i * 7) % 60);
  const long bytes = 1000L + (i * 7919L) % 9000000L;
  std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(bytes) / 1048576.0);
  Dictionary entry;
  entry.set("size", std::string(size));
  entry.set("rev", hexRevision(i));
  entry.set("thumb_exists", i % 3 != 0);
  entry.set("bytes", Decimal::fromInteger(bytes));
  entry.set("modified", std::string(modified));
  entry.set("path", std::string(path));
  entry.set("is_dir", false);
  entry.set("icon", "page_white_picture");
  entry.set("root", "app_folder");
  entry.set("mime_type", "image/jpeg");
  entry.set("revision", Decimal::fromInteger(13000 + i));
  return entry;
}

const std::string& listing() {
  static const std::string text = [] {
    Array contents;
    contents.reserve(kEntries);
    for (int i = 0; i < kEntries; ++i) contents.emplace_back(fileMetadata(i));
    Dictionary folder;
    folder.set("hash", "37eb1ba1849d4b0fb0b28caf7ef3af52");
    folder.set("thumb_exists", false);
    folder.set("bytes", Decimal::fromInteger(0));
    folder.set("path", "/Photos");
    folder.set("is_dir", true);
    folder.set("size", "0 bytes");
    folder.set("root", "app_folder");
    folder.set("contents", std::move(contents));
    folder.set("icon", "folder_photos");
    folder.set("revision", Decimal::fromInteger(12999));
    cloud::CloudJsonWriter writer;
    return writer.stringWithObject(folder).value();
  }();
  return text;
}

void BM_CloudJsonParse(benchmark::State& state) {
  const std::string& text = listing();
  for (auto _ : state) {
    cloud::CloudJsonParser parser;
    auto value = parser.objectWithString(text);
    if (!value || (*value->dictionary())["contents"].array()->size() != kEntries) {
      state.SkipWithError("listing did not parse");
      break;
    }
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_CloudJsonParse)->Unit(benchmark::kMillisecond);

// rapidjson's DOM with its default flags: strings copied, numbers read as int64 or double.
bool rapidjsonParse(const std::string& text) {
  rapidjson::Document document;
  document.Parse(text.data(), text.size());
  if (document.HasParseError()) return false;
  // HasMember rather than comparing member iterators: clang finds that comparison ambiguous in C++20.
  const bool ok = document.HasMember("contents") && document["contents"].Size() == kEntries;
  benchmark::DoNotOptimize(document);
  return ok;
}

void BM_RapidjsonParse(benchmark::State& state) {
  const std::string& text = listing();
  for (auto _ : state) {
    if (!rapidjsonParse(text)) {
      state.SkipWithError("listing did not parse");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_RapidjsonParse)->Unit(benchmark::kMillisecond);

// Each iteration reads the listing once with each reader, the tree's release included, the reader
// that goes first changing from one iteration to the next; the iteration time is ours. The ratio is
// of the medians, not of each side's luckiest read.
void BM_CloudJsonVsRapidjson(benchmark::State& state) {
  const std::string& text = listing();
  bench_support::AlternatedLaps laps;
  bool ourRead = true, theirRead = true;
  for (auto _ : state) {
    const double lap = laps.round(
        [&] {
          return bench_support::cpuLap([&] {
            cloud::CloudJsonParser parser;
            auto value = parser.objectWithString(text);
            ourRead = value.has_value();
            benchmark::DoNotOptimize(value);
          });
        },
        [&] { return bench_support::cpuLap([&] { theirRead = rapidjsonParse(text); }); });
    if (!ourRead || !theirRead) {
      state.SkipWithError(ourRead ? "rapidjson did not parse the listing" : "listing did not parse");
      break;
    }
    state.SetIterationTime(lap);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["ours_ms"] = laps.ours() * 1e3;
  state.counters["rapidjson_ms"] = laps.reference() * 1e3;
  state.counters["x_rapidjson"] = laps.ratio();
}
BENCHMARK(BM_CloudJsonVsRapidjson)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

void BM_NlohmannParse(benchmark::State& state) {
  const std::string& text = listing();
  for (auto _ : state) {
    auto value = nlohmann::json::parse(text);
    if (value["contents"].size() != kEntries) {
      state.SkipWithError("listing did not parse");
      break;
    }
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_NlohmannParse)->Unit(benchmark::kMillisecond);

// Insertion-ordered objects, like ours.
void BM_NlohmannOrderedParse(benchmark::State& state) {
  const std::string& text = listing();
  for (auto _ : state) {
    auto value = nlohmann::ordered_json::parse(text);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_NlohmannOrderedParse)->Unit(benchmark::kMillisecond);

void BM_CloudJsonWrite(benchmark::State& state) {
  cloud::CloudJsonParser parser;
  const Value value = *parser.objectWithString(listing());
  for (auto _ : state) {
    cloud::CloudJsonWriter writer;
    auto text = writer.stringWithObject(value);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * listing().size()));
}
BENCHMARK(BM_CloudJsonWrite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
