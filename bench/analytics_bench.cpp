// The analytics upload path: writing a session's block and putting it in the upload queue, and a
// retransmission of queued blocks to the stand-in collector over loopback HTTP.
//
//   BM_EncodeAndEnqueue1000Events  the block of a session with 1,000 logged events (10 parameters
//                                  each), stored as a block file and entered in the index;
//                                  counter "bytes_per_event" is the block's size / 1,000
//   BM_Retransmit100Blocks         100 queued blocks (10 events each) grouped, wrapped in envelopes,
//                                  posted and acknowledged until the queue is empty

#include <benchmark/benchmark.h>

#include "analytics/data_sender.h"
#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/tally_util.h"
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
