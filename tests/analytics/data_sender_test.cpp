// The upload queue against the stand-in collector: blocks stored before sending, acknowledged by the
// reply, kept through failures, bad replies and a restart, retransmitted in groups, within limits.
#include "analytics/data_sender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/tally_util.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/application.h"
#include "support/analytics_collector.h"
#include "tests/analytics/hand_made_archive.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

using foundation::Bytes;
using testing_support::AnalyticsCollector;

// The session side: wraps the blocks in a real envelope, or records the groups it was given.
struct Session : TallyDataSenderDelegate {
  std::vector<std::vector<Bytes>> groups;
  std::optional<TallyEnvelope> prepareForSendingSessions(const std::vector<Bytes>& blocks) override {
    groups.push_back(blocks);
    return dataForSessions({"ZK4PW8RX", "1.4", false, std::nullopt, foundation::Date{}}, blocks);
  }
};

class DataSenderTest : public SdkFixture {
 protected:
  DataSenderTest() : scope_(loop_) {
    storage()->setApiKey("ZK4PW8RX");
    TallyNetworkUtil::setServerURL(collector_.ingestUrl());
    start();
  }
  ~DataSenderTest() override {
    TallyDataSender::cleanup();
    loop_.runUntilIdle();
    TallyNetworkUtil::reset();
  }

  // A new process: a new sender over what is on disk.
  void start() {
    TallyDataSender::cleanup();
    sender_ = TallyDataSender::setupInstanceWithQueue([](std::function<void()> work) { work(); });
    sender_->setDataSenderDelegate(session_);
  }

  // A block the collector tells apart by its user id.
  static Bytes block(const std::string& name) {
    TallySessionReport report;
    report.userID = name;
    return report.data();
  }

  void settle() {
    ASSERT_TRUE(loop_.runUntil([&] { return sender_->runningTaskCount() == 0; }, 20));
  }
  size_t queued() { return sender_->dataIndex().notSentBlocksForDataKey(*TallyDataSender::dataKey()).size(); }
  // How often the collector received each block.
  std::map<std::string, int> deliveries() {
    std::map<std::string, int> seen;
    for (const auto& upload : collector_.uploads())
      for (const auto& session : upload.sessions) ++seen[session.userId];
    return seen;
  }
  void networkChanged() {
    runtime::NotificationCenter::defaultCenter().post(std::string(kTallyNetworkStatusChangedNotification));
  }

  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop scope_;
  AnalyticsCollector collector_;
  std::shared_ptr<Session> session_ = std::make_shared<Session>();
  std::shared_ptr<TallyDataSender> sender_;
};

TEST_F(DataSenderTest, ABlockIsStoredPostedAndLeavesOnlyWithTheReply) {
  collector_.setReplyCookies({{Bytes{'s'}, Bytes{'1'}}});
  auto& app = ui::Application::shared();
  size_t tasks = app.runningBackgroundTasks();
  sender_->sendSessionsData(block("a"));
  EXPECT_EQ(queued(), 1u);
  // The upload runs inside a background task, ended with the last upload.
  EXPECT_TRUE(loop_.runUntil([&] { return app.runningBackgroundTasks() == tasks + 1; }, 5));
  settle();
  EXPECT_TRUE(loop_.runUntil([&] { return app.runningBackgroundTasks() == tasks; }, 5));
  EXPECT_EQ(deliveries(), (std::map<std::string, int>{{"a", 1}}));
  EXPECT_EQ(queued(), 0u);
  EXPECT_TRUE(sender_->everSentReportSuccessfully());
  auto cookies = TallyGlobalVariableStorage::sharedInstance()->persistentMap(TallyPersistentMap::kCookies);
  EXPECT_EQ((*cookies)["s"], foundation::Value(Bytes{'1'}));
  // Only the index is left in the SDK folder (the settings' maps are hidden files).
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(*TallyUtil::filePathDirectory()))
    files += entry.path().filename().string()[0] != '.';
  EXPECT_EQ(files, 1u);
}

TEST_F(DataSenderTest, FailuresKeepEveryBlockUntilARetransmissionDeliversItOnce) {
  // A 302 to a page that answers an empty 200 is no delivery: the collector never got the envelope.
  for (auto [fault, name] : std::vector<std::pair<AnalyticsCollector::Fault, std::string>>{
           {AnalyticsCollector::Fault::kStatus500, "y"},
           {AnalyticsCollector::Fault::kNoAnswer, "x"},
           {AnalyticsCollector::Fault::kRedirectToGet, "w"}}) {
    collector_.setFault(fault);
    sender_->sendSessionsData(block(name));
    settle();
  }
  EXPECT_EQ(queued(), 3u);
  EXPECT_TRUE(deliveries().empty());
  EXPECT_FALSE(sender_->everSentReportSuccessfully());
  collector_.setFault(AnalyticsCollector::Fault::kNone);
  networkChanged();
  settle();
  EXPECT_EQ(deliveries(), (std::map<std::string, int>{{"w", 1}, {"x", 1}, {"y", 1}}));
  EXPECT_EQ(session_->groups.back().size(), 3u);
  EXPECT_EQ(queued(), 0u);
  // The device's marks were never kept while uploads failed; the delivered envelope kept them.
  EXPECT_EQ(collector_.uploads().back().deviceProperties[0].mark, 1);
  sender_->sendSessionsData(block("z"));
  settle();
  EXPECT_EQ(collector_.uploads().back().deviceProperties[0].mark, 2);
}

// A 2xx is the receipt: a reply that does not read costs only its cookies, never a second delivery.
TEST_F(DataSenderTest, ABrokenReplyStillAcknowledgesTheBlocksAndLeavesTheCookies) {
  collector_.setReplyCookies({{Bytes{'s'}, Bytes{'1'}}});
  sender_->sendSessionsData(block("first"));
  settle();
  collector_.setReplyCookies({{Bytes{'s'}, Bytes{'2'}}});
  collector_.setFault(AnalyticsCollector::Fault::kMalformedReply);
  sender_->sendSessionsData(block("a"));
  settle();
  EXPECT_EQ(queued(), 0u);
  auto cookies = TallyGlobalVariableStorage::sharedInstance()->persistentMap(TallyPersistentMap::kCookies);
  EXPECT_EQ((*cookies)["s"], foundation::Value(Bytes{'1'}));
  collector_.setFault(AnalyticsCollector::Fault::kNone);
  sender_->sendSessionsData(block("b"));
  networkChanged();
  settle();
  EXPECT_EQ(deliveries(), (std::map<std::string, int>{{"a", 1}, {"b", 1}, {"first", 1}}));
  EXPECT_EQ(queued(), 0u);
}

// Each way a 2xx reply can fail to read says so in the log, takes no cookie and still acknowledges.
TEST_F(DataSenderTest, AnUnreadableReplySaysWhyInTheLog) {
  const struct {
    AnalyticsCollector::Fault fault;
    const char* line;  // "" when no line but the parse failure's is expected
  } cases[] = {
      {AnalyticsCollector::Fault::kMalformedReply, ""},
      {AnalyticsCollector::Fault::kOtherChunkType, "-[TallyDataSender parseResponse:]: Got unexpected chunk typd 11f"},
      {AnalyticsCollector::Fault::kFewerCookies,
       "-[TallyDataSender parseCookies:]: Unable to read all cookies from response, number read 1"},
  };
  const std::string lines[] = {"Got unexpected chunk typd", "Unable to read all cookies"};
  collector_.setReplyCookies({{Bytes{'s'}, Bytes{'1'}}});
  sender_->sendSessionsData(block("first"));
  settle();
  int sent = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    collector_.setReplyCookies({{Bytes{'s'}, Bytes{'2'}}});
    collector_.setFault(c.fault);
    TallyUtil::setLogLevel(2);
    foundation::ScopedLogCapture log;
    const std::string name = "block " + std::to_string(++sent);
    sender_->sendSessionsData(block(name));
    settle();
    TallyUtil::setLogLevel(0);
    EXPECT_TRUE(log.contains("Failed to parse response with exception"));
    for (const std::string& line : lines) {
      EXPECT_EQ(log.contains(line), std::string(c.line).find(line) != std::string::npos) << line;
    }
    if (*c.line != '\0') {
      EXPECT_TRUE(log.contains(c.line));
    }
    EXPECT_EQ(queued(), 0u);
    EXPECT_EQ(deliveries()[name], 1);
    auto cookies = TallyGlobalVariableStorage::sharedInstance()->persistentMap(TallyPersistentMap::kCookies);
    EXPECT_EQ((*cookies)["s"], foundation::Value(Bytes{'1'}));
  }
}

TEST_F(DataSenderTest, TheQueueSurvivesARestartBetweenSendAndReplyButNotAChangeOfKey) {
  sender_->sendSessionsData(block("a"));
  EXPECT_EQ(sender_->runningTaskCount(), 1u);
  start();  // the upload never started: the process ended first
  loop_.runUntilIdle();
  EXPECT_EQ(queued(), 1u);
  networkChanged();
  settle();
  EXPECT_EQ(deliveries(), (std::map<std::string, int>{{"a", 1}}));
  start();
  EXPECT_EQ(queued(), 0u);
  EXPECT_TRUE(sender_->everSentReportSuccessfully());

  // Blocks of another key are dropped at start-up.
  sender_->storeData(block("old"));
  auto file = *TallyUtil::filePathDirectory() /
              sender_->dataIndex().notSentBlocksForDataKey(*TallyDataSender::dataKey())[0]->identifier;
  storage()->setApiKey("OTHERKEY");
  start();
  EXPECT_TRUE(sender_->dataIndex().indexMap.empty());
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(DataSenderTest, RetransmissionGroupsBySizeAndDropsBlocksWhoseFilesAreGone) {
  collector_.setFault(AnalyticsCollector::Fault::kStatus500);
  for (int i = 0; i < 5; ++i) sender_->storeData(block("b"));
  // The queue only sees sizes: give the stored files the sizes wanted.
  auto blocks = sender_->dataIndex().notSentBlocksForDataKey(*TallyDataSender::dataKey());
  const size_t sizes[] = {300000, 250000, 10, 200000, 300000};
  for (size_t i = 0; i < blocks.size(); ++i) {
    auto path = *TallyUtil::filePathDirectory() / blocks[i]->identifier;
    ASSERT_TRUE(TallyUtil::writeSdkFile(path, Bytes(sizes[i], 0)).ok());
  }
  std::filesystem::remove(*TallyUtil::filePathDirectory() / blocks[2]->identifier);
  session_->groups.clear();
  sender_->retransmitNotSentBlocks();
  std::vector<size_t> groupSizes;
  for (const auto& group : session_->groups) groupSizes.push_back(group.size());
  EXPECT_EQ(groupSizes, (std::vector<size_t>{1, 2, 1}));  // 300k | 250k+200k | 300k
  EXPECT_EQ(queued(), 4u);
  settle();
}

// A block already in flight is passed over, but a group still closes where that block would have
// taken it past the limit: the blocks on either side of it travel apart.
TEST_F(DataSenderTest, ABlockInFlightClosesTheGroupItWouldOverfill) {
  collector_.setFault(AnalyticsCollector::Fault::kStatus500);
  const struct {
    const char* name;
    size_t inFlight;  // the size of the middle block, which is being sent
    std::vector<size_t> groups;
  } cases[] = {
      {"too large to join", 250000, {1, 1}},  // 300k | (250k in flight) | 100k
      {"small enough to join", 100000, {2}},  // 300k + 100k, the 100k in flight passed over
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (int i = 0; i < 3; ++i) sender_->storeData(block("b"));
    auto blocks = sender_->dataIndex().notSentBlocksForDataKey(*TallyDataSender::dataKey());
    ASSERT_EQ(blocks.size(), 3u);
    const size_t sizes[] = {300000, c.inFlight, 100000};
    for (size_t i = 0; i < blocks.size(); ++i)
      ASSERT_TRUE(TallyUtil::writeSdkFile(*TallyUtil::filePathDirectory() / blocks[i]->identifier, Bytes(sizes[i], 0)).ok());
    sender_->sendData(session_->prepareForSendingSessions({block("b")}), blocks[1]->identifier);
    session_->groups.clear();
    sender_->retransmitNotSentBlocks();
    std::vector<size_t> groupSizes;
    for (const auto& group : session_->groups) groupSizes.push_back(group.size());
    EXPECT_EQ(groupSizes, c.groups);
    settle();
    for (const auto& block : blocks) sender_->removeStoredDataWithIdentifier(block->identifier);
    ASSERT_EQ(queued(), 0u);
  }
}

TEST_F(DataSenderTest, LimitsOfRunningUploadsAndStoredBlocks) {
  collector_.setFault(AnalyticsCollector::Fault::kStatus500);
  for (int i = 0; i < 9; ++i) sender_->sendSessionsData(block("r" + std::to_string(i)));
  EXPECT_FALSE(sender_->hasOngoingTasksWindow());
  size_t posted = session_->groups.size();
  sender_->sendSessionsData(block("waiting"));
  EXPECT_EQ(session_->groups.size(), posted);
  for (int i = 0; i < 41; ++i) sender_->storeData(block("s"));
  EXPECT_EQ(queued(), 51u);
  settle();
  EXPECT_EQ(queued(), 50u);
  // The oldest went.
  EXPECT_EQ(sender_->dataIndex().notSentBlocksForDataKey(*TallyDataSender::dataKey()).front()->data(),
            block("r1"));
}

// A stored block rewritten: the file and its facts change together, or not at all.
TEST_F(DataSenderTest, RewritingAStoredBlock) {
  struct Case {
    std::string name;
    std::optional<Bytes> data;
    // The block's file is a folder: no write can replace it.
    bool blocked;
    bool written;
  };
  for (const Case& c : std::vector<Case>{{"new bytes", block("rewritten"), false, true},
                                         {"empty bytes", Bytes{}, false, true},
                                         {"no data", std::nullopt, false, false},
                                         {"an unwritable file", block("lost"), true, false}}) {
    SCOPED_TRACE(c.name);
    auto stored = TallyDataSenderBlockInfo::initWithData(block("original"));
    ASSERT_NE(stored, nullptr);
    auto path = *TallyUtil::filePathDirectory() / stored->identifier;
    if (c.blocked) {
      std::filesystem::remove(path);
      std::filesystem::create_directories(path / "inside");
    }
    const auto before = std::tuple(stored->data(), stored->dataSize, stored->creationDate);
    clock_.advance(60);
    TallyUtil::setLogLevel(2);
    foundation::ScopedLogCapture log;
    EXPECT_EQ(stored->setData(c.data), c.written);
    TallyUtil::setLogLevel(0);
    if (c.written) {
      EXPECT_EQ(stored->data(), c.data);
      EXPECT_EQ(stored->dataSize, c.data->size());
      EXPECT_EQ(stored->creationDate, clock_.now());
    } else {
      EXPECT_EQ(std::tuple(stored->data(), stored->dataSize, stored->creationDate), before);
    }
    EXPECT_EQ(log.contains("Tally: Failed store block with id [" + stored->identifier + "]"), c.blocked);
    std::filesystem::remove_all(path);
  }
}

// Garbage, or an index whose block names a file outside the SDK folder: the index goes, the queue
// starts empty, and nothing outside the folder is read or deleted.
TEST_F(DataSenderTest, ADamagedIndexStartsTheQueueEmpty) {
  auto folder = *TallyUtil::filePathDirectory();
  auto outside = folder.parent_path() / "outside.bin";
  ASSERT_TRUE(TallyUtil::writeSdkFile(outside, Bytes{'k', 'e', 'e', 'p'}).ok());
  auto index = folder / kTallySenderIndexFileName;
  for (bool garbage : {true, false}) {
    sender_->storeData(block("a"));
    if (garbage) {
      ASSERT_TRUE(TallyUtil::writeSdkFile(index, Bytes{'b', 'p', 'l', 'i', 's', 't', 0, 0, 1}).ok());
    } else {
      sender_->dataIndex().notSentBlocksForDataKey(*TallyDataSender::dataKey()).back()->identifier =
          "../outside.bin";
      ASSERT_TRUE(sender_->dataIndex().saveState().ok());
    }
    start();
    EXPECT_EQ(queued(), 0u) << garbage;
    EXPECT_FALSE(std::filesystem::exists(index)) << garbage;
    sender_->sendSessionsData(block("b"));
    settle();
    EXPECT_EQ(std::filesystem::file_size(outside), 4u) << garbage;
  }
  EXPECT_EQ(deliveries(), (std::map<std::string, int>{{"b", 2}}));
}

// An index file as another writer lays it out, built object by object in XML: each key (given as its
// XML) maps to an array of one block (or, as earlier builds wrote it, to an object wrapping that array).
std::string handMadeIndex(const std::vector<std::pair<std::string, std::string>>& keysAndIdentifiers,
                          bool wrapped) {
  HandMadeArchive a;
  auto uid = HandMadeArchive::uid;
  size_t date = a.record("NSDate", "<key>NS.time</key><real>800000000</real>");
  std::vector<std::pair<size_t, size_t>> entries;
  for (const auto& [key, identifier] : keysAndIdentifiers) {
    size_t block = a.record("TallyDataSenderBlockInfo",
                            "<key>identifier</key>" + uid(a.add(HandMadeArchive::text(identifier))) +
                                "<key>dataSize</key><integer>3</integer><key>creationDate</key>" + uid(date));
    size_t list = a.array({block});
    if (wrapped) list = a.record("TallyDataSenderBlockList", "<key>blocks</key>" + uid(list));
    entries.emplace_back(a.add(key), list);
  }
  size_t map = a.dictionary(entries);
  size_t root = a.record("TallyDataSenderIndex",
                         "<key>index</key>" + uid(map) + "<key>TallySentReportSuccessfulKey</key><true/>");
  return a.finish(root);
}

// Both layouts keep their block and the "ever sent" mark; the next save writes the plain layout.
TEST_F(DataSenderTest, AnIndexLaidOutByAnotherWriterKeepsItsBlocks) {
  auto folder = *TallyUtil::filePathDirectory();
  auto index = folder / kTallySenderIndexFileName;
  for (bool wrapped : {false, true}) {
    const std::string name = wrapped ? "wrapped" : "plain";
    const std::string id = "6F9619FF-8B86-D011-B42D-00C04FC964F" + std::to_string(wrapped);
    ASSERT_TRUE(TallyUtil::writeSdkFile(folder / id, block(name)).ok());
    std::string xml = handMadeIndex({{HandMadeArchive::text(*TallyDataSender::dataKey()), id}}, wrapped);
    ASSERT_TRUE(TallyUtil::writeSdkFile(index, Bytes(xml.begin(), xml.end())).ok());
    start();
    EXPECT_EQ(queued(), 1u) << name;
    EXPECT_TRUE(sender_->everSentReportSuccessfully()) << name;
    networkChanged();
    settle();
    EXPECT_EQ(deliveries()[name], 1);
    EXPECT_EQ(queued(), 0u);
    EXPECT_FALSE(std::filesystem::exists(folder / id));
    auto saved = *files::readFile(index);
    const std::string wrapper = "TallyDataSenderBlockList";
    EXPECT_EQ(std::search(saved.begin(), saved.end(), wrapper.begin(), wrapper.end()), saved.end()) << name;
  }
}

// Blocks filed under a number (as another writer may key them) or under another data key are
// deleted with their files at start-up, and the saved index keeps the current key alone.
TEST_F(DataSenderTest, BlocksUnderANumberOrAnotherKeyLoseTheirFilesAtStartUp) {
  auto folder = *TallyUtil::filePathDirectory();
  const std::string numbered = "6F9619FF-8B86-D011-B42D-00C04FC90001";
  const std::string otherKey = "6F9619FF-8B86-D011-B42D-00C04FC90002";
  const std::string current = "6F9619FF-8B86-D011-B42D-00C04FC90003";
  for (const auto& id : {numbered, otherKey, current})
    ASSERT_TRUE(TallyUtil::writeSdkFile(folder / id, block(id)).ok());
  std::string xml = handMadeIndex({{HandMadeArchive::integer(12345), numbered},
                                   {HandMadeArchive::text("Data_999_155"), otherKey},
                                   {HandMadeArchive::text(*TallyDataSender::dataKey()), current}},
                                  false);
  ASSERT_TRUE(
      TallyUtil::writeSdkFile(folder / kTallySenderIndexFileName, Bytes(xml.begin(), xml.end())).ok());
  for (const char* round : {"as laid out", "as saved"}) {
    start();
    EXPECT_FALSE(std::filesystem::exists(folder / numbered)) << round;
    EXPECT_FALSE(std::filesystem::exists(folder / otherKey)) << round;
    EXPECT_TRUE(std::filesystem::exists(folder / current)) << round;
    const auto& map = sender_->dataIndex().indexMap;
    ASSERT_EQ(map.size(), 1u) << round;
    EXPECT_EQ(map[0].first, *TallyDataSender::dataKey()) << round;
    ASSERT_EQ(map[0].second.size(), 1u) << round;
    EXPECT_EQ(map[0].second[0]->identifier, current) << round;
  }
}

}  // namespace
}  // namespace analytics
