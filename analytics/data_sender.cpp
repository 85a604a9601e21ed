#include "analytics/data_sender.h"

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/process_wide.h"
#include "analytics/server_reply.h"
#include "analytics/tally_util.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/text.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/application.h"

namespace analytics {
namespace {

namespace fs = std::filesystem;
using foundation::Bytes;
using Block = TallyDataSenderBlockInfo;

ProcessWide<TallyDataSender>& slot() {
  static ProcessWide<TallyDataSender> s;
  return s;
}

std::optional<fs::path> blockPath(const std::string& identifier) {
  if (identifier.empty()) return std::nullopt;
  auto folder = TallyUtil::filePathDirectory();
  if (!folder) return std::nullopt;
  return *folder / identifier;
}

// Index files written by earlier builds wrapped each data key's blocks in an object of this class
// ("blocks" holding the array); they are still read, so that no stored block is lost on the way, and
// the next save writes the plain array.
class LegacyBlockList : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "TallyDataSenderBlockList";
  std::vector<Block::Ptr> blocks;
  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder&) const override {}  // read only
};

// Decoders for the wrapped layout: the index reads its map through LegacyBlockList.
plist::ClassRegistry& legacyRegistry() {
  static plist::ClassRegistry registry;
  return registry;
}

void registerOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    TallyDataSenderIndex::registerClasses();
    auto& legacy = legacyRegistry();
    Block::registerClass(legacy);
    legacy.add(std::string(LegacyBlockList::kClassName), [](plist::Decoder& d) -> plist::ObjectPtr {
      auto list = std::make_shared<LegacyBlockList>();
      list->blocks = d.decodeObjectArray<Block>("blocks").value_or(std::vector<Block::Ptr>{});
      return list;
    });
    legacy.add(std::string(TallyDataSenderIndex::kClassName), [](plist::Decoder& d) -> plist::ObjectPtr {
      auto index = std::make_shared<TallyDataSenderIndex>();
      index->sentReportSuccessfully = d.decodeBool("TallySentReportSuccessfulKey").value_or(false);
      if (auto lists = d.decodeObjectMap<LegacyBlockList>("index"))
        for (auto& [key, list] : *lists) index->indexMap.emplace_back(key, list->blocks);
      return index;
    });
  });
}

// Where the index keeps blocks read under a key that is not text; data keys all start with "Data_".
constexpr std::string_view kForeignDataKey = "(not text)";

bool contains(const std::vector<std::string>& tags, const Block& block) {
  auto has = [&](const std::string& s) { return std::find(tags.begin(), tags.end(), s) != tags.end(); };
  return has(block.identifier) || (block.groupIdentifier && has(*block.groupIdentifier));
}

}  // namespace

// ---- Block info

Block::Ptr Block::initWithData(const Bytes& data) {
  auto block = std::make_shared<Block>();
  block->identifier = TallyUtil::generateCFUUID();
  auto path = blockPath(block->identifier);
  if (!path || !TallyUtil::writeSdkFile(*path, data).ok()) {
    TallyUtil::log(2, "Failed to create TallyDataSenderBlockInfo for data size %lu",
                   {static_cast<std::int64_t>(data.size())});
    return nullptr;
  }
  block->dataSize = data.size();
  block->creationDate = TallyUtil::clock().now();
  return block;
}

bool Block::setData(const std::optional<Bytes>& data) {
  auto path = blockPath(identifier);
  if (!data || !path) return false;
  if (!TallyUtil::writeSdkFile(*path, *data).ok()) {
    TallyUtil::log(2, "Tally: Failed store block with id [%@]", {identifier});
    return false;
  }
  // On disk now: the file is what the block holds from here on.
  memory_.reset();
  dataSize = data->size();
  creationDate = TallyUtil::clock().now();
  return true;
}

Block::Ptr Block::heldInMemory(Bytes data) {
  auto block = std::make_shared<Block>();
  block->identifier = TallyUtil::generateCFUUID();
  block->dataSize = data.size();
  block->creationDate = TallyUtil::clock().now();
  block->memory_ = std::move(data);
  return block;
}

void Block::registerClass(plist::ClassRegistry& registry) {
  registry.add(std::string(kClassName),
               [](plist::Decoder& d) -> plist::ObjectPtr { return initWithCoder(d); });
}

std::optional<Bytes> Block::data() const {
  if (memory_) return memory_;
  auto path = blockPath(identifier);
  if (!path) return std::nullopt;
  auto bytes = files::readFile(*path);
  if (!bytes) return std::nullopt;
  return std::move(*bytes);
}

bool Block::deletePersistentData() const {
  if (memory_) return true;
  auto path = blockPath(identifier);
  std::error_code ignored;
  return path && fs::remove(*path, ignored);
}

std::string Block::description() const {
  return foundation::text::format(
      "Block [%@, %@, %@]",
      {identifier, groupIdentifier ? foundation::Value(*groupIdentifier) : foundation::Value(),
       creationDate});
}

void Block::encodeWithCoder(plist::Coder& coder) const {
  coder.encodeString("identifier", identifier);
  coder.encodeInt("dataSize", static_cast<std::int64_t>(dataSize));
  coder.encodeDate("creationDate", creationDate);
}

Block::Ptr Block::initWithCoder(plist::Decoder& decoder) {
  auto block = std::make_shared<Block>();
  auto identifier = decoder.decodeString("identifier");
  // The identifier names a file in the SDK folder: it must stay a plain name.
  if (!identifier || identifier->empty() || identifier->find('/') != std::string::npos ||
      *identifier == "." || *identifier == "..") {
    decoder.fail("a block without a usable identifier");
    return nullptr;
  }
  block->identifier = std::move(*identifier);
  block->dataSize =
      static_cast<std::uint64_t>(std::max<std::int64_t>(0, decoder.decodeInteger("dataSize").value_or(0)));
  block->creationDate = decoder.decodeDate("creationDate").value_or(foundation::Date{});
  return block;
}

// ---- Index

void TallyDataSenderIndex::registerClasses(plist::ClassRegistry& registry) {
  Block::registerClass(registry);
  registry.add(std::string(kClassName),
               [](plist::Decoder& d) -> plist::ObjectPtr { return initWithCoder(d); });
}

std::shared_ptr<TallyDataSenderIndex> TallyDataSenderIndex::instantiatedIndex() {
  registerOnce();
  if (auto folder = TallyUtil::filePathDirectory()) {
    fs::path path = *folder / kTallySenderIndexFileName;
    if (auto bytes = files::readFile(path)) {
      auto index = plist::unarchiveRootObjectOfClass<TallyDataSenderIndex>(*bytes);
      if (!index.ok() || !*index)
        index = plist::unarchiveRootObjectOfClass<TallyDataSenderIndex>(*bytes, legacyRegistry());
      if (index.ok() && *index) return *index;
      // A damaged index would never read better: start afresh (the block files stay).
      TallyUtil::log(2, "TallyDataSenderIndex: damaged index file removed");
      std::error_code ignored;
      fs::remove(path, ignored);
    }
  }
  return std::make_shared<TallyDataSenderIndex>();
}

foundation::Status TallyDataSenderIndex::saveState() const {
  auto folder = TallyUtil::filePathDirectory();
  if (!folder) return folder.error();
  auto bytes = plist::archiveRootObject(*this);
  if (!bytes) return bytes.error();
  return TallyUtil::writeSdkFile(*folder / kTallySenderIndexFileName, *bytes);
}

void TallyDataSenderIndex::encodeWithCoder(plist::Coder& coder) const {
  std::vector<std::pair<std::string, Blocks>> stored;
  for (const auto& [key, blocks] : indexMap) {
    auto& list = stored.emplace_back(key, Blocks{}).second;
    for (const auto& block : blocks)
      if (!block->isHeldInMemory()) list.push_back(block);
  }
  coder.encodeObjectArrayMap("index", stored);
  coder.encodeBool("TallySentReportSuccessfulKey", sentReportSuccessfully);
}

std::shared_ptr<TallyDataSenderIndex> TallyDataSenderIndex::initWithCoder(plist::Decoder& decoder) {
  auto index = std::make_shared<TallyDataSenderIndex>();
  index->sentReportSuccessfully = decoder.decodeBool("TallySentReportSuccessfulKey").value_or(false);
  // Blocks filed under a key that is not text (a number, as another writer may key them) belong to no
  // data key of ours. They are kept under a name no data key can take, so that start-up deletes their
  // files with the other keys' blocks rather than losing track of the files for good.
  if (auto map = decoder.decodeObjectArrayEntries<Block>("index")) {
    for (auto& [key, blocks] : *map) {
      const std::string* text = key.string();
      index->indexMap.emplace_back(text ? *text : std::string(kForeignDataKey), std::move(blocks));
    }
  }
  return index;
}

TallyDataSenderIndex::Blocks* TallyDataSenderIndex::blocksFor(const std::string& dataKey) {
  for (auto& [key, blocks] : indexMap)
    if (key == dataKey) return &blocks;
  return nullptr;
}

void TallyDataSenderIndex::addBlockInfo(const Block::Ptr& block, const std::string& dataKey) {
  if (!block) return;
  Blocks* blocks = blocksFor(dataKey);
  if (!blocks) blocks = &indexMap.emplace_back(dataKey, Blocks{}).second;
  blocks->push_back(block);
  (void)saveState();
}

void TallyDataSenderIndex::removeBlockInfoWithIdentifier(const std::string& id, const std::string& dataKey) {
  if (Blocks* blocks = blocksFor(dataKey)) {
    std::erase_if(*blocks, [&](const Block::Ptr& block) {
      if (block->identifier != id && block->groupIdentifier != id) return false;
      block->deletePersistentData();
      return true;
    });
  }
  (void)saveState();
}

void TallyDataSenderIndex::setupForCurrentDataKey(const std::string& dataKey) {
  bool removed = false;
  std::erase_if(indexMap, [&](auto& entry) {
    if (entry.first == dataKey) return false;
    for (const auto& block : entry.second) block->deletePersistentData();
    removed = true;
    return true;
  });
  if (removed && !discardOutdatedBlocksForDataKey(dataKey)) (void)saveState();
}

bool TallyDataSenderIndex::discardOutdatedBlocksForDataKey(const std::string& dataKey) {
  Blocks* blocks = blocksFor(dataKey);
  if (!blocks || blocks->size() <= kTallyMaxStoredBlocks) return false;
  auto excess = static_cast<std::ptrdiff_t>(blocks->size() - kTallyMaxStoredBlocks);
  for (auto it = blocks->begin(); it != blocks->begin() + excess; ++it) (*it)->deletePersistentData();
  blocks->erase(blocks->begin(), blocks->begin() + excess);
  (void)saveState();
  return true;
}

TallyDataSenderIndex::Blocks TallyDataSenderIndex::notSentBlocksForDataKey(const std::string& dataKey) const {
  for (const auto& [key, blocks] : indexMap)
    if (key == dataKey) return blocks;
  return {};
}

// ---- Sender

std::shared_ptr<TallyDataSender> TallyDataSender::setupInstanceWithQueue(Queue queue) {
  return slot().getOrMake([&] { return std::make_shared<TallyDataSender>(std::move(queue)); });
}

void TallyDataSender::setDataSenderDelegate(std::weak_ptr<TallyDataSenderDelegate> delegate) {
  std::lock_guard lock(delegateMutex_);
  delegate_ = std::move(delegate);
}

bool TallyDataSender::clearDataSenderDelegateIf(const std::weak_ptr<TallyDataSenderDelegate>& delegate) {
  std::lock_guard lock(delegateMutex_);
  // By owner: a delegate going away can no longer be locked, but still names its own.
  if (delegate_.owner_before(delegate) || delegate.owner_before(delegate_)) return false;
  delegate_.reset();
  return true;
}

std::shared_ptr<TallyDataSenderDelegate> TallyDataSender::currentDelegate() const {
  std::lock_guard lock(delegateMutex_);
  return delegate_.lock();
}

std::shared_ptr<TallyDataSender> TallyDataSender::instance() { return slot().get(); }

void TallyDataSender::cleanup() {
  if (auto sender = slot().get()) sender->cancelTasks();
  slot().reset();
}

std::optional<std::string> TallyDataSender::dataKey() {
  auto key = TallyGlobalVariableStorage::sharedInstance()->apiKey();
  if (!key) return std::nullopt;
  auto hash = static_cast<std::uint32_t>(TallyUtil::stableHash(*key));
  return "Data_" + std::to_string(hash) + "_" + std::to_string(kTallyAgentVersionNumber);
}

TallyDataSender::TallyDataSender(Queue queue)
    : queue_(std::move(queue)), index_(TallyDataSenderIndex::instantiatedIndex()) {
  if (auto key = dataKey()) index_->setupForCurrentDataKey(*key);
  networkObserver_ = runtime::NotificationCenter::defaultCenter().addObserver(
      std::string(kTallyNetworkStatusChangedNotification), nullptr, [this](const runtime::Notification&) {
        bool reachable = TallyNetworkUtil::isNetworkReachable();
        TallyUtil::log(2, "TallyDataSenderBase: networkStatusChanged to %@ reachable",
                       {reachable ? "" : "not"});
        if (reachable) onQueue([](TallyDataSender& sender) { sender.performRetransmitNotSentBlocks(); });
      });
}

TallyDataSender::~TallyDataSender() {
  networkObserver_.remove();
  stopBackgroundTasksTracking();
}

// The application's background tasks belong to the main thread: both ends of the tracking run there,
// in the order the queue asked for them.
void TallyDataSender::startBackgroundTaskTrackingIfNeeded() {
  if (TallyUtil::getSystemVersionAsAnInteger() < 40000 || TallyUtil::isInWatchExtension()) return;
  runtime::RunLoop::mainHandle().performSoon([tracking = tracking_] {
    if (tracking->task != ui::Application::kInvalidBackgroundTask) return;
    TallyUtil::log(2, "Tally: start background task");
    tracking->task = ui::Application::shared().beginBackgroundTask(
        [] { TallyUtil::log(2, "Tally: expiration handler reached"); });
  });
}

void TallyDataSender::stopBackgroundTasksTracking() {
  runtime::RunLoop::mainHandle().performSoon([tracking = tracking_] {
    if (tracking->task == ui::Application::kInvalidBackgroundTask) return;
    TallyUtil::log(2, "Tally: stop background task");
    ui::Application::shared().endBackgroundTask(tracking->task);
    tracking->task = ui::Application::kInvalidBackgroundTask;
  });
}

void TallyDataSender::onQueue(std::function<void(TallyDataSender&)> work) {
  std::weak_ptr<TallyDataSender> weak = weak_from_this();
  queue_([weak, work = std::move(work)] {
    if (auto sender = weak.lock()) work(*sender);
  });
}

std::optional<std::string> TallyDataSender::storeData(const Bytes& block) {
  auto key = dataKey();
  if (!key) return std::nullopt;
  auto info = Block::initWithData(block);
  // Not written: keep it in memory rather than lose it when its one upload fails.
  if (!info) info = Block::heldInMemory(block);
  index_->addBlockInfo(info, *key);
  return info->identifier;
}

void TallyDataSender::removeStoredDataWithIdentifier(const std::string& id) {
  if (auto key = dataKey()) index_->removeBlockInfoWithIdentifier(id, *key);
}

void TallyDataSender::sendSessionsData(const Bytes& block) {
  auto delegate = currentDelegate();
  if (!delegate) {
    if (!TallyUtil::isInWatchExtension() && TallyUtil::logLevel() != 0)
      TallyUtil::log(1, "%s: Unable to send session data", {"-[TallyDataSender sendSessionsData:]"});
    return;
  }
  auto identifier = storeData(block);
  if (!identifier || !hasOngoingTasksWindow()) return;
  sendData(delegate->prepareForSendingSessions({block}), *identifier);
}

void TallyDataSender::sendData(std::optional<TallyEnvelope> envelope, const std::string& tag) {
  if (!envelope) return;
  foundation::Dictionary headers{{"content-type", "application/octet-stream"}};
  auto task = TallyHttpAsyncTask::sendMethod("POST", TallyNetworkUtil::serverURL(), envelope->body, headers,
                                             shared_from_this(), false);
  task->setTag(tag);
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  startBackgroundTaskTrackingIfNeeded();
  running_.push_back({task, cancelled, tag, std::move(envelope->marks)});
  runtime::RunLoop::mainHandle().performSoon([task, cancelled] {
    if (!*cancelled) task->startInRunLoop(runtime::RunLoop::main());
  });
}

void TallyDataSender::requestDidFail(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) {
  TallyUtil::log(2, "TallySession: Could not connect to server: %@",
                 {response.error ? response.error->description() : std::string("(null)")});
  const TallyHttpAsyncTask* id = &task;
  onQueue([id](TallyDataSender& sender) {
    sender.takeTask(id);
    sender.unregisterTask(false);
  });
}

void TallyDataSender::requestDidCancel(TallyHttpAsyncTask& task, const TallyHTTPResponse&) {
  const TallyHttpAsyncTask* id = &task;
  onQueue([id](TallyDataSender& sender) {
    sender.takeTask(id);
    sender.unregisterTask(false);
  });
}

void TallyDataSender::requestSuccessful(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) {
  const TallyHttpAsyncTask* id = &task;
  onQueue([id, response](TallyDataSender& sender) { sender.requestSuccessComplete(id, response); });
}

void TallyDataSender::requestSuccessComplete(const TallyHttpAsyncTask* task,
                                             const TallyHTTPResponse& response) {
  auto running = takeTask(task);
  std::string tag = running ? running->tag : std::string();
  TallyUtil::log(2, "TallySession: async http response code: %d, id [%@]", {response.statusCode, tag});
  // A 2xx is the server's receipt: the envelope was taken, whatever its reply says, so its blocks
  // leave the queue now; sending them again would count them twice.
  index_->sentReportSuccessfully = true;
  if (!tag.empty()) {
    removeStoredDataWithIdentifier(tag);
  } else {
    (void)index_->saveState();
  }
  if (running) TallyPropertyMarks::commitMarks(running->marks);
  TallyServerReplyNotes notes;
  auto reply = parseServerReply(response.body, &notes);
  if (notes.unexpectedChunkType)
    TallyUtil::log(2, "%s: Got unexpected chunk typd %x",
                   {"-[TallyDataSender parseResponse:]", static_cast<std::int64_t>(*notes.unexpectedChunkType)});
  if (notes.cookiesReadBeforeTheEnd)
    TallyUtil::log(2, "%s: Unable to read all cookies from response, number read %d",
                   {"-[TallyDataSender parseCookies:]", static_cast<std::int64_t>(*notes.cookiesReadBeforeTheEnd)});
  if (reply) {
    applyServerReply(*reply);
  } else {
    // Only the cookies are lost: they stay as they were.
    TallyUtil::log(2, "Failed to parse response with exception %@", {reply.error().description()});
  }
  unregisterTask(true);
}

std::optional<TallyDataSender::Running> TallyDataSender::takeTask(const TallyHttpAsyncTask* task) {
  auto it =
      std::find_if(running_.begin(), running_.end(), [&](const Running& r) { return r.task.get() == task; });
  if (it == running_.end()) return std::nullopt;
  Running running = std::move(*it);
  running_.erase(it);
  return running;
}

void TallyDataSender::unregisterTask(bool succeeded) {
  if (succeeded) performRetransmitNotSentBlocks();
  if (running_.empty()) {
    if (auto key = dataKey()) index_->discardOutdatedBlocksForDataKey(*key);
    stopBackgroundTasksTracking();
  }
}

void TallyDataSender::performRetransmitNotSentBlocks() {
  // The application's own state: the settings' copy is only written at the start and on becoming
  // active, so it never says background.
  if (TallyUtil::getSystemVersionAsAnInteger() >= 40000 &&
      ui::Application::shared().state() == ui::ApplicationState::kBackground) {
    TallyUtil::log(2, "Tally: application is in background, skipping sending data.");
    return;
  }
  retransmitNotSentBlocks();
}

void TallyDataSender::retransmitNotSentBlocks() {
  if (!hasOngoingTasksWindow()) return;
  auto delegate = currentDelegate();
  if (!delegate) {
    if (!TallyUtil::isInWatchExtension() && TallyUtil::logLevel() != 0)
      TallyUtil::log(1, "%s: Unable to send session data", {"-[TallyDataSender retransmitNotSentBlocks]"});
    return;
  }
  auto key = dataKey();
  if (!key) return;
  std::vector<std::string> tags;
  for (const auto& r : running_)
    if (!r.tag.empty()) tags.push_back(r.tag);
  auto blocks = index_->notSentBlocksForDataKey(*key);
  TallyUtil::log(2, "%s: Not sent blocks count [%lu]",
                 {"-[TallyDataSender retransmitNotSentBlocks]", static_cast<std::int64_t>(blocks.size())});
  size_t i = 0;
  while (i < blocks.size()) {
    const auto& first = blocks[i];
    if (contains(tags, *first)) {
      ++i;
      continue;
    }
    if (!hasOngoingTasksWindow()) return;
    std::string group = TallyUtil::generateCFUUID();
    first->groupIdentifier = group;
    auto firstData = first->data();
    if (!firstData) {
      index_->removeBlockInfoWithIdentifier(group, *key);
      ++i;
      continue;
    }
    std::uint64_t total = firstData->size();
    std::vector<Bytes> list{std::move(*firstData)};
    size_t j = i + 1;
    bool full = false;
    for (; j < blocks.size(); ++j) {
      const auto& next = blocks[j];
      // The size first, a block in flight's too: the group closes where the next block would overfill
      // it, and the pass goes on from there.
      auto data = next->data();
      if (total + (data ? data->size() : 0) > kTallyMaxRetransmissionBytes) {
        full = true;
        break;
      }
      if (!data) {
        index_->removeBlockInfoWithIdentifier(next->identifier, *key);
        continue;
      }
      if (contains(tags, *next)) continue;
      next->groupIdentifier = group;
      total += data->size();
      list.push_back(std::move(*data));
    }
    TallyUtil::log(2, "%s, Payload size %lu, sessions added %d",
                   {"-[TallyDataSender retransmitNotSentBlocks]", static_cast<std::int64_t>(total),
                    static_cast<std::int64_t>(list.size())});
    sendData(delegate->prepareForSendingSessions(list), group);
    i = full ? j : blocks.size();
  }
}

void TallyDataSender::cancelTasks() {
  auto running = std::move(running_);
  running_.clear();
  for (auto& r : running) {
    *r.cancelled = true;
    runtime::RunLoop::mainHandle().performSoon([task = r.task] { task->cancelTask(); });
  }
  stopBackgroundTasksTracking();
}

}  // namespace analytics
