// The analytics upload path: recording a long session, writing a session's block and putting it in
// the upload queue, and a retransmission of queued blocks to the stand-in collector over loopback HTTP.
//
//   BM_Record1000Events            1,000 events (10 parameters each) recorded by a real session on
//                                  the session queue, waited for; "ms_per_100_last" over
//                                  "ms_per_100_first" shows whether an event costs more the more
//                                  the session holds (1.0: linear)
//   BM_EncodeBlock1000Events       the block of a session with 1,000 logged events (10 parameters
//                                  each); counter "x_plain" is its time over the plain encoder's,
//                                  both measured in each iteration, in an order that alternates
//                                  (the median of each side's laps)
//   BM_PlainEncodeBlock1000Events  the reference: the same bytes written by a plain encoder from
//                                  plain structures (strings and integers, no shared objects, no
//                                  locks), sized first and then written in place, what a person
//                                  writing only this block would write
//   BM_EncodeAndEnqueue1000Events  the block, stored as a block file and entered in the index;
//                                  counter "bytes_per_event" is the block's size / 1,000
//   BM_Retransmit100Blocks         100 queued blocks (10 events each) grouped, wrapped in envelopes,
//                                  posted and acknowledged until the queue is empty
//
// Run with --benchmark_repetitions=5 (the encoders repeat 7 times on their own) and compare medians.

#include <benchmark/benchmark.h>

#include <chrono>

#include "analytics/data_sender.h"
#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/protocol_data.h"
#include "analytics/tally_session.h"
#include "analytics/tally_util.h"
#include "cpu_stopwatch.h"
#include "platform/runtime/run_loop.h"
#include "support/analytics_collector.h"
#include "support/temp_dir.h"

namespace {

using foundation::Bytes;
using namespace analytics;

struct Session : TallyDataSenderDelegate {
  std::optional<TallyEnvelope> prepareForSendingSessions(const std::vector<Bytes>& blocks) override {
    return dataForSessions({"ZK4PW8RX", "1.4", true, std::nullopt, foundation::Date{}}, blocks);
  }
};

struct Rig {
  testing_support::TempDir home;
  runtime::RunLoop loop;
  runtime::ScopedMainRunLoop scope{loop};
  testing_support::AnalyticsCollector collector;
  std::shared_ptr<Session> session = std::make_shared<Session>();
  std::shared_ptr<TallyDataSender> sender;

  Rig() {
    TallyUtil::setHome(files::AppHome(home.path()));
    TallyUtil::setLogLevel(0);
    TallyGlobalVariableStorage::sharedInstance()->setApiKey("ZK4PW8RX");
    TallyNetworkUtil::setServerURL(collector.ingestUrl());
    sender = TallyDataSender::setupInstanceWithQueue([](std::function<void()> work) { work(); });
    sender->setDataSenderDelegate(session);
  }
  ~Rig() {
    TallyDataSender::cleanup();
    loop.runUntilIdle();
    TallyNetworkUtil::reset();
    TallyGlobalVariableStorage::cleanup();
    TallyUtil::setHome(std::nullopt);
  }
};

TallySessionReport sessionWith(int events) {
  TallySessionReport report;
  report.appVersion = "1.4";
  report.locale = "de_DE";
  report.timeZone = "Europe/Berlin";
  foundation::Dictionary parameters;
  for (int i = 0; i < 10; ++i) parameters.set("param" + std::to_string(i), "value " + std::to_string(i));
  for (int i = 0; i < events; ++i)
    report.events.recordEvent("event" + std::to_string(i % 50), parameters, false, false);
  return report;
}

// ---- The plain encoder: the same block from plain values.

struct PlainEvent {
  std::uint16_t id = 0;
  std::string name;
  std::vector<std::pair<std::string, std::string>> parameters;
  std::int64_t startOffset = 0;
  std::int64_t duration = 0;
};

struct PlainBlock {
  std::string appVersion;
  std::int64_t startMillis = 0;
  std::vector<std::pair<std::string, std::string>> sessionParams;
  std::vector<std::uint8_t> marks;
  std::string locale, timeZone, userID;
  std::uint8_t networkStatus = 0, orientation = 0, applicationState = 0;
  std::vector<std::pair<std::string, std::int32_t>> counts;
  std::vector<PlainEvent> events;
  bool complete = true;
};

// The block is sized first by the same walk over the fields that writes it, then written into a
// buffer of that size: one allocation, no growth and no check per field.
struct PlainCounter {
  size_t size = 0;
  void u8(std::uint8_t) { size += 1; }
  void u16(std::uint64_t) { size += 2; }
  void u32(std::uint64_t) { size += 4; }
  void u64(std::uint64_t) { size += 8; }
  void str(const std::string& s) { size += 2 + cut(s); }
  // The 255-unit cut is checked but never needed: every string here is short ASCII.
  static size_t cut(const std::string& s) {
    return s.size() <= kTallyMaxStringUtf16Length ? s.size() : kTallyMaxStringUtf16Length;
  }
};

// Numbers and texts go through the encoder's own primitives (a number in one swap and one store, a
// short text in a few fixed-width moves): the quickest ways found for them, here as there, so that
// the two sides differ only in what lies around them.
struct PlainWriter {
  using P = TallyProtocolData;
  std::uint8_t* at;
  void u8(std::uint8_t v) { *at++ = v; }
  void u16(std::uint64_t v) { at = P::putBigEndian<2>(v, at); }
  void u32(std::uint64_t v) { at = P::putBigEndian<4>(v, at); }
  void u64(std::uint64_t v) { at = P::putBigEndian<8>(v, at); }
  void str(const std::string& s) {
    at = P::putShortString(std::string_view(s).substr(0, PlainCounter::cut(s)), at);
  }
};

template <class W>
void plainWrite(const PlainBlock& b, W& w) {
  w.u16(kTallySessionBlockVersion);
  w.str(b.appVersion);
  w.u64(static_cast<std::uint64_t>(b.startMillis));
  w.u64(static_cast<std::uint64_t>(-1));  // no end
  w.u64(0);                               // pauses
  w.u8(0);                                // background sessions
  w.u8(b.applicationState);
  w.u8(0);   // no origin
  w.u8(0);   // no deep link
  w.u16(0);  // no properties
  w.u16(b.sessionParams.size());
  for (size_t i = 0; i < b.sessionParams.size(); ++i) {
    w.str(b.sessionParams[i].first);
    w.str(b.sessionParams[i].second);
    w.u8(b.marks[i]);
  }
  w.str(b.locale);
  w.str(b.timeZone);
  w.u8(b.networkStatus);
  w.u8(b.orientation);
  w.str(b.userID);
  w.u8(1);
  w.u64(0);  // latitude, longitude, accuracy
  w.u64(0);
  w.u32(0);
  w.u32(0);    // page views
  w.u8(0xFF);  // jailbreak unknown
  w.u8(0);
  w.u8(0xFF);  // gender not set
  w.u8(0);     // no birth date
  w.u16(b.counts.size());
  for (const auto& [name, count] : b.counts) {
    w.str(name);
    w.u32(static_cast<std::uint32_t>(count));
  }
  w.u16(b.events.size());
  for (const auto& e : b.events) {
    w.u16(e.id);
    w.str(e.name);
    w.u16(e.parameters.size());
    for (const auto& [key, value] : e.parameters) {
      w.str(key);
      w.str(value);
    }
    w.u64(static_cast<std::uint64_t>(e.startOffset));
    w.u64(static_cast<std::uint64_t>(e.duration));
  }
  w.u8(b.complete ? 1 : 0);
  w.u32(0);  // errors
  w.u16(0);
  w.u32(0);
  for (int i = 0; i < 3; ++i) w.u16(0);
}

Bytes plainEncode(const PlainBlock& b) {
  PlainCounter counter;
  plainWrite(b, counter);
  Bytes out(counter.size);
  PlainWriter writer{out.data()};
  plainWrite(b, writer);
  return out;
}

// The plain values of the report, taken as data() writes them (its marks, the device's status).
PlainBlock plainOf(TallySessionReport& report, const Bytes& encoded) {
  PlainBlock b;
  b.appVersion = report.appVersion;
  b.startMillis = TallyProtocolData::timestampMillis(report.startTime);
  for (const auto& [key, value] : report.sessionParams) b.sessionParams.emplace_back(key, *value.string());
  b.locale = report.locale;
  b.timeZone = report.timeZone;
  b.userID = report.userID;
  b.applicationState = static_cast<std::uint8_t>(report.appApplicationState);
  b.networkStatus = static_cast<std::uint8_t>(TallyNetworkUtil::networkStatus());
  b.orientation = TallyUtil::canvasInLandscape() ? 2 : 1;
  b.counts = report.events.eventCounts;
  for (const auto& event : report.events.eventLog) {
    PlainEvent e{static_cast<std::uint16_t>(event->eventLogId()),
                 event->name(),
                 {},
                 event->startOffsetFromSessionStart(report.startTime),
                 event->duration()};
    foundation::Dictionary parameters = event->parameters().value_or(foundation::Dictionary{});
    for (const auto& [key, value] : parameters) e.parameters.emplace_back(key, *value.string());
    b.events.push_back(std::move(e));
  }
  b.complete = report.events.eventLogComplete;
  // The marks are the one thing the plain encoder does not decide: take them from the real block.
  size_t at = 2 + 2 + b.appVersion.size() + 8 + 8 + 8 + 1 + 1 + 1 + 1 + 2 + 2;
  for (const auto& [key, value] : b.sessionParams) {
    at += 2 + key.size() + 2 + value.size();
    b.marks.push_back(encoded[at]);
    at += 1;
  }
  return b;
}

// The report and its plain twin, checked to give the same bytes.
struct EncodeCase {
  Rig rig;
  TallySessionReport report = sessionWith(1000);
  PlainBlock plain;
  bool same = false;
  EncodeCase() {
    Bytes ours = report.data();
    plain = plainOf(report, ours);
    same = plainEncode(plain) == ours;
  }
};

void BM_EncodeBlock1000Events(benchmark::State& state) {
  EncodeCase c;
  if (!c.same) {
    state.SkipWithError("the plain encoder does not write the same bytes");
    return;
  }
  // Each side's lap is its thread's CPU time; our wall time is the iteration's.
  bench_support::AlternatedLaps laps;
  for (auto _ : state) {
    double wall = 0;
    laps.round(
        [&] {
          const auto begun = std::chrono::steady_clock::now();
          const double cpu = bench_support::threadCpuSeconds();
          Bytes block = c.report.data();
          const double lap = bench_support::threadCpuSeconds() - cpu;
          wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
          benchmark::DoNotOptimize(block.data());
          return lap;
        },
        [&] {
          const double cpu = bench_support::threadCpuSeconds();
          Bytes reference = plainEncode(c.plain);
          const double lap = bench_support::threadCpuSeconds() - cpu;
          benchmark::DoNotOptimize(reference.data());
          return lap;
        });
    state.SetIterationTime(wall);
  }
  state.counters["x_plain"] = laps.ratio();
}
BENCHMARK(BM_EncodeBlock1000Events)->UseManualTime()->Repetitions(7)->Unit(benchmark::kMicrosecond);

void BM_PlainEncodeBlock1000Events(benchmark::State& state) {
  EncodeCase c;
  if (!c.same) {
    state.SkipWithError("the plain encoder does not write the same bytes");
    return;
  }
  for (auto _ : state) {
    Bytes block = plainEncode(c.plain);
    benchmark::DoNotOptimize(block.data());
  }
}
BENCHMARK(BM_PlainEncodeBlock1000Events)->Repetitions(7)->Unit(benchmark::kMicrosecond);

// A real session records on the session queue; the archive is written only where the session saves.
void BM_Record1000Events(benchmark::State& state) {
  Rig rig;
  foundation::Dictionary parameters;
  for (int i = 0; i < 10; ++i) parameters.set("param" + std::to_string(i), "value " + std::to_string(i));
  double first = 0, last = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto session = TallySession::sessionWithApiKey("ZK4PW8RX", TallyUtil::clock().now());
    state.ResumeTiming();
    for (int block = 0; block < 10; ++block) {
      auto begun = std::chrono::steady_clock::now();
      for (int i = 0; i < 100; ++i) session->recordEvent("event" + std::to_string(i % 50), parameters, false);
      double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begun).count();
      if (block == 0) first += ms;
      if (block == 9) last += ms;
    }
    state.PauseTiming();
    session.reset();
    TallySession::removeCurrentSessionFile();
    state.ResumeTiming();
  }
  state.counters["ms_per_100_first"] = first / static_cast<double>(state.iterations());
  state.counters["ms_per_100_last"] = last / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Record1000Events)->Unit(benchmark::kMillisecond);

void BM_EncodeAndEnqueue1000Events(benchmark::State& state) {
  Rig rig;
  TallySessionReport report = sessionWith(1000);
  size_t blockSize = 0;
  for (auto _ : state) {
    Bytes block = report.data();
    blockSize = block.size();
    auto id = rig.sender->storeData(block);
    state.PauseTiming();
    rig.sender->removeStoredDataWithIdentifier(*id);
    state.ResumeTiming();
  }
  state.counters["bytes_per_event"] = static_cast<double>(blockSize) / 1000.0;
  state.counters["block_bytes"] = static_cast<double>(blockSize);
}
BENCHMARK(BM_EncodeAndEnqueue1000Events)->Unit(benchmark::kMillisecond);

void BM_Retransmit100Blocks(benchmark::State& state) {
  Rig rig;
  Bytes block = sessionWith(10).data();
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < 100; ++i) rig.sender->storeData(block);
    state.ResumeTiming();
    rig.sender->retransmitNotSentBlocks();
    bool done = rig.loop.runUntil([&] { return rig.sender->runningTaskCount() == 0; }, 30);
    if (!done || !rig.sender->dataIndex().notSentBlocksForDataKey(*TallyDataSender::dataKey()).empty()) {
      state.SkipWithError("the queue did not empty");
      break;
    }
  }
  state.counters["block_bytes"] = static_cast<double>(block.size());
}
BENCHMARK(BM_Retransmit100Blocks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
