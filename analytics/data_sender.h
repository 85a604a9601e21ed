#pragma once
// The upload queue: no finished session block is lost before the server has accepted it.
//
//   sendSessionsData(block)      the block is written to a file of its own in the SDK folder and
//                                entered in the index ("TallySenderIndex.info"), then, while fewer
//                                than 9 uploads run, wrapped in an envelope and posted (tag: the block)
//   reply 2xx                    every block the envelope carried leaves the index, the envelope's
//                                property marks are kept, the reply's cookies taken (a reply that does
//                                not read leaves the cookies as they were), and waiting blocks are
//                                retransmitted in groups of at most 509,952 bytes (tag: the group)
//   failure, cancel              the blocks stay; a reachability change or the next success
//                                retransmits them, unless the application is in the background
//
// At most 50 blocks are kept per data key (the oldest go when the last upload ends); blocks under
// another data key (another API key or agent version) are deleted at start-up. A block whose file
// cannot be written is kept in memory and sent like the others, so it is lost only when the process
// ends before it was delivered. A 2xx is the server's receipt: the protocol gives the server no way
// to tell a repeat, so a block acknowledged is never sent again, whatever the reply's body holds.
//
// Every operation runs on the sender's queue (the session queue); the HTTP callbacks arrive on the
// main run loop and are handed to that queue before they touch the index. While uploads run, the
// sender holds one background task of the application (begun and ended on the main thread).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analytics/http_task.h"
#include "analytics/session_report.h"
#include "platform/foundation/date.h"
#include "platform/foundation/value.h"
#include "platform/plist/keyed_archive.h"
#include "platform/runtime/notification_center.h"

namespace analytics {

inline constexpr size_t kTallyMaxStoredBlocks = 50;
inline constexpr size_t kTallyMaxRunningUploads = 9;
inline constexpr std::uint64_t kTallyMaxRetransmissionBytes = 509952;
inline constexpr std::string_view kTallySenderIndexFileName = "TallySenderIndex.info";

// Turns a list of session blocks into one envelope (the session).
class TallyDataSenderDelegate {
 public:
  virtual ~TallyDataSenderDelegate() = default;
  virtual std::optional<TallyEnvelope> prepareForSendingSessions(
      const std::vector<foundation::Bytes>& blocks) = 0;
};

// One stored block.
class TallyDataSenderBlockInfo : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "TallyDataSenderBlockInfo";
  using Ptr = std::shared_ptr<TallyDataSenderBlockInfo>;

  // Writes the block to a new file named by a fresh identifier; nullptr when it cannot be written.
  static Ptr initWithData(const foundation::Bytes& data);
  // A block that could not be written, held in memory; never archived.
  static Ptr heldInMemory(foundation::Bytes data);
  static void registerClass(plist::ClassRegistry& registry = plist::ClassRegistry::shared());

  // The retransmission group the block was last put in (memory only).
  std::optional<std::string> groupIdentifier;
  std::string identifier;
  std::uint64_t dataSize = 0;
  foundation::Date creationDate;

  bool isHeldInMemory() const { return memory_.has_value(); }
  // The block's bytes; nothing when its file cannot be read.
  std::optional<foundation::Bytes> data() const;
  bool deletePersistentData() const;
  // Rewrites the block's file atomically, then takes its size and the time; false (the file as it
  // was) for no data, a block without a usable name, or a failed write.
  bool setData(const std::optional<foundation::Bytes>& data);
  std::string description() const;

  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  static Ptr initWithCoder(plist::Decoder& decoder);

 private:
  std::optional<foundation::Bytes> memory_;
};

// The persistent index: data key to its blocks, oldest first.
class TallyDataSenderIndex : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "TallyDataSenderIndex";
  using Blocks = std::vector<TallyDataSenderBlockInfo::Ptr>;

  // From the index file; a damaged file is deleted and the index starts empty.
  static std::shared_ptr<TallyDataSenderIndex> instantiatedIndex();
  static void registerClasses(plist::ClassRegistry& registry = plist::ClassRegistry::shared());

  bool sentReportSuccessfully = false;
  std::vector<std::pair<std::string, Blocks>> indexMap;

  foundation::Status saveState() const;
  void addBlockInfo(const TallyDataSenderBlockInfo::Ptr& block, const std::string& dataKey);
  // Removes (and deletes the files of) every block whose identifier or group identifier is `id`.
  void removeBlockInfoWithIdentifier(const std::string& id, const std::string& dataKey);
  // Drops the blocks of every other key.
  void setupForCurrentDataKey(const std::string& dataKey);
  // Keeps the newest 50; true when some went.
  bool discardOutdatedBlocksForDataKey(const std::string& dataKey);
  Blocks notSentBlocksForDataKey(const std::string& dataKey) const;

  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  static std::shared_ptr<TallyDataSenderIndex> initWithCoder(plist::Decoder& decoder);

 private:
  Blocks* blocksFor(const std::string& dataKey);
};

class TallyDataSender : public TallyHttpAsyncTaskDelegate,
                        public std::enable_shared_from_this<TallyDataSender> {
 public:
  // Runs work on the sender's queue, in order.
  using Queue = std::function<void(std::function<void()>)>;

  // Makes the one sender the first time; later calls give the existing one.
  static std::shared_ptr<TallyDataSender> setupInstanceWithQueue(Queue queue);
  static std::shared_ptr<TallyDataSender> instance();
  // Cancels the uploads under way and forgets the sender.
  static void cleanup();
  // "Data_<hash of the API key>_155"; nothing before an API key is set.
  static std::optional<std::string> dataKey();

  explicit TallyDataSender(Queue queue);
  ~TallyDataSender() override;

  // Not retained: the session clears it when it goes away.
  void setDataSenderDelegate(std::weak_ptr<TallyDataSenderDelegate> delegate);
  // Forgets the delegate when it is `delegate` (which may be going away); true when it was.
  bool clearDataSenderDelegateIf(const std::weak_ptr<TallyDataSenderDelegate>& delegate);
  TallyDataSenderIndex& dataIndex() { return *index_; }
  bool everSentReportSuccessfully() const { return index_->sentReportSuccessfully; }

  // The entry point of the session layer.
  void sendSessionsData(const foundation::Bytes& block);
  std::optional<std::string> storeData(const foundation::Bytes& block);
  void removeStoredDataWithIdentifier(const std::string& id);
  void sendData(std::optional<TallyEnvelope> envelope, const std::string& tag);
  void retransmitNotSentBlocks();
  // Unless the application is in the background.
  void performRetransmitNotSentBlocks();
  bool hasOngoingTasksWindow() const { return running_.size() < kTallyMaxRunningUploads; }
  size_t runningTaskCount() const { return running_.size(); }
  void cancelTasks();

  // TallyHttpAsyncTaskDelegate (main run loop)
  void requestSuccessful(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) override;
  void requestDidFail(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) override;
  void requestDidCancel(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) override;

 private:
  struct Running {
    std::shared_ptr<TallyHttpAsyncTask> task;
    // Set when the upload is cancelled before the main run loop got to start it.
    std::shared_ptr<std::atomic<bool>> cancelled;
    std::string tag;
    TallyPropertyMarks::Pending marks;
  };

  // A background task is held while uploads run, so the application is not suspended in the middle
  // of one (from system version 4.0, never in a watch extension).
  struct BackgroundTracking {
    // Touched on the main thread only.
    std::uint64_t task = 0;
  };
  void startBackgroundTaskTrackingIfNeeded();
  void stopBackgroundTasksTracking();

  void onQueue(std::function<void(TallyDataSender&)> work);
  void requestSuccessComplete(const TallyHttpAsyncTask* task, const TallyHTTPResponse& response);
  // Removes the task; the marks it carried come back.
  std::optional<Running> takeTask(const TallyHttpAsyncTask* task);
  void unregisterTask(bool succeeded);

  Queue queue_;
  std::shared_ptr<TallyDataSenderIndex> index_;
  std::shared_ptr<TallyDataSenderDelegate> currentDelegate() const;

  // The delegate is set and cleared from the session's side, which may be another thread when a
  // session goes away.
  mutable std::mutex delegateMutex_;
  std::weak_ptr<TallyDataSenderDelegate> delegate_;
  std::vector<Running> running_;
  runtime::ObserverToken networkObserver_;
  std::shared_ptr<BackgroundTracking> tracking_ = std::make_shared<BackgroundTracking>();
};

}  // namespace analytics
