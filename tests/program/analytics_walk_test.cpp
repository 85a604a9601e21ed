// The diary's analytics session as a person ends it: after a spell of use and `quit`, what the SDK
// left on the data root (the blocks queued for upload and the saved sessions) reports the session's
// end, with its length and the end's device figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "analytics/data_sender.h"
#include "analytics/global_variable_storage.h"
#include "analytics/tally_session.h"
#include "analytics/tally_util.h"
#include "platform/files/app_home.h"
#include "program_run.h"
#include "support/analytics_collector.h"
#include "support/temp_dir.h"

namespace {

using namespace program_run;
using testing_support::CollectedSession;

bool hasEndFigures(const CollectedSession& session) {
  return std::any_of(session.parameters.begin(), session.parameters.end(),
                     [](const auto& parameter) { return parameter.key.ends_with(".end"); });
}

// The SDK's files of the data root, read as the diary's next start would read them.
struct LeftBehind {
  std::vector<CollectedSession> queued;
  std::vector<CollectedSession> saved;
};

LeftBehind readLeftBehind(const std::filesystem::path& root) {
  analytics::TallyUtil::setHome(files::AppHome(root));
  analytics::TallyGlobalVariableStorage::sharedInstance()->setApiKey(std::string(app::kAnalyticsApiKey));
  auto decoded = [](const foundation::Bytes& block) {
    auto session = testing_support::decodeSessionBlock(block);
    EXPECT_TRUE(session.ok()) << session.error().localizedDescription();
    return session.ok() ? *session : CollectedSession{};
  };
  LeftBehind left;
  auto index = analytics::TallyDataSenderIndex::instantiatedIndex();
  for (const auto& block : index->notSentBlocksForDataKey(*analytics::TallyDataSender::dataKey())) {
    auto bytes = block->data();
    EXPECT_TRUE(bytes) << block->identifier;
    if (bytes) left.queued.push_back(decoded(*bytes));
  }
  for (const auto& block : analytics::TallySession::savedSessions()) left.saved.push_back(decoded(block));
  analytics::TallyGlobalVariableStorage::cleanup();
  analytics::TallyUtil::setHome(std::nullopt);
  return left;
}

TEST(AnalyticsWalk, QuittingReportsTheSessionsEndWithItsLength) {
  struct Walk {
    std::string script;
    std::int64_t lengthMillis;
  };
  for (const Walk& walk : std::vector<Walk>{
           {"advance 5\nquit\n", 5000}, {"advance 2m\nadvance 30\nquit\n", 150000}, {"quit\n", 0}}) {
    SCOPED_TRACE(walk.script);
    testing_support::TempDir home;
    std::ofstream(home / "script") << walk.script;
    // No analytics server answers here: every block the session handed over stays queued.
    const int status = shell("env -u DISPLAY DIARY_HOME=" + quotedPath(home / "root") +
                             " DIARY_RESOURCES=" + quotedPath(testing_support::resourcesFolder()) + " " +
                             quotedPath(diaryProgram()) + " --no-window --script " +
                             quotedPath(home / "script") + " --screens " + quotedPath(home / "screens") +
                             " </dev/null >" + quotedPath(home / "out") + " 2>&1");
    ASSERT_EQ(status, 0) << readFile(home / "out");

    const LeftBehind left = readLeftBehind(home / "root");
    // The start's block, then the end's: the length and the end's figures.
    std::multiset<std::int64_t> ended, lengths;
    for (const auto& session : left.queued) {
      lengths.insert(session.lengthMillis);
      if (hasEndFigures(session)) ended.insert(session.lengthMillis);
    }
    EXPECT_EQ(lengths, (std::multiset<std::int64_t>{-1, walk.lengthMillis}));
    EXPECT_EQ(ended, std::multiset<std::int64_t>{walk.lengthMillis});
    // And once more, without its events, for the next start.
    ASSERT_EQ(left.saved.size(), 1u);
    EXPECT_EQ(left.saved[0].lengthMillis, walk.lengthMillis);
    EXPECT_TRUE(left.saved[0].events.empty());
  }
}

}  // namespace
