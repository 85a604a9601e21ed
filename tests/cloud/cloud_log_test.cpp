#include "cloud/cloud_log.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/foundation/log.h"

namespace cloud {
namespace {

TEST(CloudLog, PrintedLevelsCarryTheirNameInFrontAndLevelsBelowWarningPrintNothing) {
  foundation::ScopedLogCapture log;
  CloudLogInfo("CloudSDK: user cancelled Cloud link");
  CloudLogMessage(kCloudLogLevelAnalytics, "analytics %d", {1});
  CloudLogMessage(-1, "negative", {});
  CloudLogWarning("CloudSDK: error saving credentials (%i)", -25299);
  CloudLogError("CloudSDK: unable to link; app isn't registered for correct URL scheme (%@)", "cloud-abc");
  CloudLogMessage(kCloudLogLevelFatal, "stop", {});
  CloudLogMessage(7, "level %d", {7});
  // The caller's arguments fill only the caller's format: positions count from the caller's first
  // argument, and text in an argument is not a format.
  CloudLogError("%2$@ before %1$@", "first", "second");
  CloudLogWarning("CloudSDK: error loading CloudConnectController - %@", "100% %@ done");
  EXPECT_EQ(log.messages(),
            (std::vector<std::string>{
                "[WARNING] CloudSDK: error saving credentials (-25299)",
                "[ERROR] CloudSDK: unable to link; app isn't registered for correct URL scheme (cloud-abc)",
                "[FATAL] stop",
                "[] level 7",
                "[ERROR] second before first",
                "[WARNING] CloudSDK: error loading CloudConnectController - 100% %@ done",
            }));
  EXPECT_EQ(CloudLogLevelName(1), "ANALYTICS");
  EXPECT_EQ(CloudLogLevelName(5), "");
}

TEST(CloudLog, MayBeCalledFromAnyThread) {
  foundation::ScopedLogCapture log;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) CloudLogWarning("thread %d message %d", t, i);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(log.messages().size(), 200u);
  EXPECT_TRUE(log.contains("[WARNING] thread 3 message 49"));
}

}  // namespace
}  // namespace cloud
