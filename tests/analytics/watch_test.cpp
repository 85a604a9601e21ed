// The watch-extension interface: its checks in order, the limit of parameters, and that a refused
// call starts no work on the watch queue.
#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>

#include "analytics/data_sender.h"
#include "analytics/global_variable_storage.h"
#include "analytics/tally_util.h"
#include "analytics/watch_tally.h"
#include "platform/files/file_ops.h"
#include "platform/runtime/bundle.h"
#include "support/temp_dir.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

using foundation::Dictionary;
using foundation::Value;

// Keeps what the interface handed over, as text.
struct RecordingWatchSession : TallyWatchSession {
  std::mutex mutex;
  std::vector<std::string> calls;
  TallyEventRecordStatus recordWatchEvent(const std::string& name,
                                          const std::optional<Dictionary>& params) override {
    std::lock_guard lock(mutex);
    calls.push_back("event " + name + " " + std::to_string(params ? params->size() : 0));
    return kTallyEventRecorded;
  }
  void recordWatchError(const std::string& id, const std::string& message, const std::string& text,
                        std::int32_t type, const foundation::Bytes& report) override {
    std::lock_guard lock(mutex);
    calls.push_back("error " + id + " " + message + " " + text + " " + std::to_string(type) + " " +
                    std::to_string(report.size()));
  }
};

class WatchTest : public SdkFixture {
 protected:
  WatchTest() { TallyDataSender::cleanup(); }
  ~WatchTest() override {
    TallyWatch::reset();
    if (previous_) runtime::Bundle::setMain(previous_);
  }

  // A main bundle whose property list holds `entries` (XML of key and value elements).
  void bundleWith(const std::string& entries) { previous_ = installMainBundle(bundle_, entries, previous_); }
  void start(bool inExtension) {
    TallyWatch::setExtensionCheck([inExtension] { return inExtension; });
    TallyWatch::setSessionProvider([session = session_] { return session; });
  }
  std::vector<std::string> calls() {
    TallyWatch::queue().drain();
    return session_->calls;
  }

  testing_support::TempDir bundle_;
  std::shared_ptr<runtime::Bundle> previous_;
  std::shared_ptr<RecordingWatchSession> session_ = std::make_shared<RecordingWatchSession>();
};

Dictionary params(int n) {
  Dictionary d;
  for (int i = 0; i < n; ++i) d.set("k" + std::to_string(i), i);
  return d;
}

TEST_F(WatchTest, InsideAnExtensionCallsAreCheckedInOrderAndHandedToTheWatchSession) {
  bundleWith("<key>Tally Watch API Key</key><string> WK 42 </string>");
  start(true);
  std::runtime_error failure("disk full");
  struct Case {
    Value name;
    Value parameters;
    TallyEventRecordStatus expected;
  } cases[] = {{Value("tap"), Value(params(10)), kTallyEventRecorded},
               {Value("tap"), Value(params(11)), kTallyEventParamsCountExceeded},
               {Value(""), Value(), kTallyEventFailed},
               {Value(7), Value(), kTallyEventFailed},
               {Value("open"), Value(), kTallyEventRecorded}};
  for (const auto& c : cases)
    EXPECT_EQ(TallyWatch::logWatchEventWithParameters(c.name, c.parameters), c.expected)
        << c.name.description();
  TallyWatch::logWatchErrorWithException(Value("E1"), Value("m"), &failure);
  TallyWatch::logWatchErrorWithError(Value("E2"), Value("m"), foundation::Error::make("D", 1, "gone"));
  foundation::Error withReason = foundation::Error::make("D", 2, "gone");
  withReason.userInfo.set(std::string(foundation::Error::kLocalizedFailureReasonKey), "full");
  TallyWatch::logWatchErrorWithError(Value("E4"), Value("m"), withReason);
  TallyWatch::logWatchErrorWithError(Value(3), Value("m"), std::nullopt);
  TallyWatch::logWatchErrorWithError(Value("E3"), Value(), std::nullopt);

  EXPECT_EQ(calls(), (std::vector<std::string>{"event tap 10", "event open 0",
                                               "error E1 m std::runtime_error: disk full 2 0",
                                               "error E2 m gone: (null) 1 0", "error E4 m gone: full 1 0"}));
  // The key, spaces removed by the settings, and the watch's own upload queue.
  EXPECT_EQ(TallyGlobalVariableStorage::sharedInstance()->apiKey(), "WK42");
  EXPECT_NE(TallyDataSender::instance(), nullptr);
}

TEST_F(WatchTest, OutsideAnExtensionOrWithoutAKeyNothingIsQueued) {
  for (bool withKey : {true, false}) {
    TallyWatch::reset();
    TallyDataSender::cleanup();
    bundleWith(withKey ? "<key>Tally Watch API Key</key><string>WK</string>" : "");
    start(!withKey);
    EXPECT_EQ(TallyWatch::logWatchEvent(Value("tap")), kTallyEventFailed);
    TallyWatch::logWatchErrorWithError(Value("E"), Value("m"), std::nullopt);
    EXPECT_EQ(TallyWatch::apiKey().has_value(), withKey);
    // No work reached the queue: its first piece would have set up the upload queue.
    EXPECT_EQ(TallyDataSender::instance(), nullptr) << withKey;
    EXPECT_TRUE(calls().empty());
  }
}

}  // namespace
}  // namespace analytics
