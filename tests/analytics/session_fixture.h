#pragma once
// What the analytics tests of whole sessions share: a process of the SDK on a manual clock and a
// data root of its own, sending to the stand-in collector; "kill" and "start again" keep only what is
// on disk. Also a main bundle with a property list of the test's choosing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/data_sender.h"
#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/relay_event_controller.h"
#include "analytics/tally.h"
#include "analytics/tally_session.h"
#include "analytics/tally_util.h"
#include "platform/files/file_ops.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/application.h"
#include "support/analytics_collector.h"
#include "support/temp_dir.h"

namespace analytics {

inline constexpr std::string_view kApiKey = "ZK4PW8RXT2MQ6VNB3LHD";

// Makes a main bundle in `folder` whose property list holds `entries`; answers the bundle to put
// back at the end (the one before the first call).
inline std::shared_ptr<runtime::Bundle> installMainBundle(const testing_support::TempDir& folder,
                                                          const std::string& entries,
                                                          std::shared_ptr<runtime::Bundle> earlier) {
  EXPECT_TRUE(files::writeAtomic(folder / "Info.plist",
                                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" +
                                     entries + "</dict></plist>\n")
                  .ok());
  auto previous = runtime::Bundle::setMain(std::make_shared<runtime::Bundle>(folder.path()));
  return earlier ? earlier : previous;
}

// The SDK in a data root of its own, on a manual clock, logging quietly, with fresh settings.
class SdkFixture : public ::testing::Test {
 protected:
  SdkFixture() {
    TallyUtil::setHome(files::AppHome(home_.path()));
    TallyUtil::setClock(&clock_);
    TallyUtil::setLogLevel(0);
    TallyGlobalVariableStorage::cleanup();
  }
  ~SdkFixture() override {
    TallyGlobalVariableStorage::cleanup();
    TallyUtil::setClock(nullptr);
    TallyUtil::setHome(std::nullopt);
    TallyUtil::setLogLevel(1);
  }
  static std::shared_ptr<TallyGlobalVariableStorage> storage() {
    return TallyGlobalVariableStorage::sharedInstance();
  }

  testing_support::TempDir home_;
  foundation::ManualClock clock_{foundation::Date{600000000}};
};

class SessionFixture : public SdkFixture {
 protected:
  SessionFixture() : scope_(loop_) {
    // The crash reporter finds its folder through the environment once per process: keep it in this
    // process's home, never in a folder that tests run at the same time share.
    ::setenv("DIARY_HOME", home_.path().c_str(), 1);
    TallyNetworkUtil::setServerURL(collector_.ingestUrl());
    freshProcess();
  }
  ~SessionFixture() override {
    // Every block any test sent must read as the format says.
    EXPECT_EQ(collector_.rejected(), std::vector<std::string>{});
    killProcess();
    loop_.runUntilIdle();
    CurrentSession::setFactory(nullptr);
    TallyNetworkUtil::reset();
    if (previousBundle_) runtime::Bundle::setMain(previousBundle_);
  }

  // Everything in memory goes; what is on disk stays, as after a kill.
  void killProcess() {
    TallyImpl::cleanup();
    Tally::shutdown();
    CurrentSession::clearPreCache();
  }
  void freshProcess() {
    ui::Application::shared().reset();
    TallyImpl::install();
  }
  void start() {
    ui::Application::shared().launch();
    Tally::startSession(kApiKey);
    settle();
  }
  std::shared_ptr<TallySession> current() { return TallyImpl::instance()->session(); }
  // Lets the queue, the uploads and the Relay calls finish.
  // The upload's end is counted on the session queue, which does not wake the main run loop: poll.
  void settle() {
    auto idle = [] {
      auto sender = TallyDataSender::instance();
      auto relay = TallyRelayEventController::existingInstance();
      bool relayIdle =
          !relay || (relay->runningCallCount() == 0 && relay->relayRequest()->runningTaskCount() == 0);
      return (!sender || sender->runningTaskCount() == 0) && relayIdle;
    };
    int quietRounds = 0;
    for (int round = 0; round < 4000 && quietRounds < 3; ++round) {
      TallyImpl::instance()->flush();
      loop_.runUntilIdle();
      quietRounds = idle() ? quietRounds + 1 : 0;
      if (!quietRounds) loop_.runUntil(idle, 0.005);
    }
    ASSERT_EQ(quietRounds, 3);
  }
  std::vector<testing_support::CollectedSession> delivered() {
    std::vector<testing_support::CollectedSession> sessions;
    for (const auto& upload : collector_.uploads())
      for (const auto& session : upload.sessions) sessions.push_back(session);
    return sessions;
  }
  std::optional<testing_support::CollectedSession> withEvent(const std::string& name) {
    for (const auto& session : delivered())
      for (const auto& event : session.events)
        if (event.name == name) return session;
    return std::nullopt;
  }
  std::vector<std::string> deliveredEventNames() {
    std::vector<std::string> names;
    for (const auto& session : delivered())
      for (const auto& event : session.events) names.push_back(event.name);
    return names;
  }

  // Makes the main bundle one whose property list holds `entries` (XML key and value elements).
  void bundleWith(const std::string& entries) {
    previousBundle_ = installMainBundle(bundle_, entries, previousBundle_);
  }

  testing_support::TempDir bundle_;
  std::shared_ptr<runtime::Bundle> previousBundle_;
  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop scope_;
  testing_support::AnalyticsCollector collector_;
};

}  // namespace analytics
