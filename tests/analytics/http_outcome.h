#pragma once
// What an SDK HTTP task told its delegate, and a way to run one to its end on a test's loop.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "analytics/http_task.h"
#include "platform/runtime/run_loop.h"

namespace analytics {

struct Outcome : TallyHttpAsyncTaskDelegate {
  // "success", "fail", or empty while nothing came.
  std::string kind;
  TallyHTTPResponse response;
  void requestDidFail(TallyHttpAsyncTask&, const TallyHTTPResponse& r) override {
    kind = "fail", response = r;
  }
  void requestSuccessful(TallyHttpAsyncTask&, const TallyHTTPResponse& r) override {
    kind = "success", response = r;
  }
};

// Starts the request on the main loop (`loop`) and runs the loop until the delegate hears (20 s at most).
inline std::shared_ptr<Outcome> sendAndWait(runtime::RunLoop& loop, std::string_view method,
                                            const std::string& url, const foundation::Bytes& body,
                                            const foundation::Dictionary& headers = {}) {
  auto outcome = std::make_shared<Outcome>();
  auto task = TallyHttpAsyncTask::sendMethod(method, url, body, headers, outcome);
  EXPECT_TRUE(loop.runUntil([&] { return !outcome->kind.empty(); }, 20)) << url;
  EXPECT_TRUE(task->isDone()) << url;
  return outcome;
}

}  // namespace analytics
