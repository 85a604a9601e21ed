#include "platform/store/fetched_results.h"

#include <algorithm>

namespace store {

namespace {

constexpr size_t kDefaultBatch = 100;

std::string sectionName(const foundation::Value& key) {
  if (key.isNull()) return "";
  if (const auto* s = key.string()) return *s;
  return key.description();
}

}  // namespace

FetchedResultsController::FetchedResultsController(std::shared_ptr<Context> context, FetchRequest request,
                                                   std::string sectionNameKeyPath)
    : context_(std::move(context)), request_(std::move(request)), keyPath_(std::move(sectionNameKeyPath)) {}

foundation::Status FetchedResultsController::performFetch() {
  keys_.clear();
  objects_.clear();
  sections_.clear();
  if (!context_) return foundation::Error::make("NSCocoaErrorDomain", 134060, "No context to fetch from");
  auto rows = context_->fetchKeyed(request_, keyPath_);
  if (!rows) return rows.error();
  entity_ = rows->entity;
  keys_ = std::move(rows->primaryKeys);
  objects_.resize(keys_.size());
  if (keyPath_.empty()) {
    if (!keys_.empty()) sections_.push_back(SectionInfo{"", keys_.size(), 0});
    return {};
  }
  size_t offset = 0;
  for (const auto& run : rows->runs) {
    std::string name = sectionName(run.key);
    if (!sections_.empty() && sections_.back().name == name) {
      sections_.back().numberOfObjects += run.count;  // distinct keys with one name
    } else {
      sections_.push_back(SectionInfo{std::move(name), run.count, offset});
    }
    offset += run.count;
  }
  return {};
}

void FetchedResultsController::loadRange(size_t begin, size_t end) {
  std::vector<std::int64_t> wanted;
  std::vector<size_t> positions;
  for (size_t i = begin; i < end; ++i) {
    if (objects_[i] && objects_[i]->context()) continue;
    wanted.push_back(keys_[i]);
    positions.push_back(i);
  }
  if (wanted.empty()) return;
  std::vector<ObjectPtr> loaded = context_->objectsWithKeys(*entity_, wanted);
  for (size_t j = 0; j < loaded.size(); ++j) objects_[positions[j]] = std::move(loaded[j]);
}

ObjectPtr FetchedResultsController::objectAt(size_t index) {
  if (index >= keys_.size() || !context_) return nullptr;
  if (!objects_[index] || !objects_[index]->context()) {
    const size_t batch = request_.fetchBatchSize ? request_.fetchBatchSize : kDefaultBatch;
    const size_t begin = index / batch * batch;
    loadRange(begin, std::min(keys_.size(), begin + batch));
  }
  return objects_[index];
}

ObjectPtr FetchedResultsController::objectAtIndexPath(IndexPath path) {
  if (path.section >= sections_.size() || path.row >= sections_[path.section].numberOfObjects) return nullptr;
  return objectAt(sections_[path.section].offset + path.row);
}

std::vector<ObjectPtr> FetchedResultsController::objectsInSection(size_t section) {
  if (section >= sections_.size() || !context_) return {};
  const SectionInfo& info = sections_[section];
  // Load whole batches around the section, so walking the sections in order costs one query
  // per batch rather than one per section.
  const size_t batch = request_.fetchBatchSize ? request_.fetchBatchSize : kDefaultBatch;
  const size_t begin = info.offset / batch * batch;
  const size_t end = (info.offset + info.numberOfObjects + batch - 1) / batch * batch;
  loadRange(begin, std::min(keys_.size(), end));
  return std::vector<ObjectPtr>(
      objects_.begin() + static_cast<std::ptrdiff_t>(info.offset),
      objects_.begin() + static_cast<std::ptrdiff_t>(info.offset + info.numberOfObjects));
}

std::vector<ObjectPtr> FetchedResultsController::fetchedObjects() {
  if (!context_) return {};
  loadRange(0, keys_.size());
  return objects_;
}

std::optional<FetchedResultsController::IndexPath> FetchedResultsController::indexPathForObject(
    const ObjectPtr& object) const {
  if (!object || &object->entity() != entity_) return std::nullopt;
  auto it = std::find(keys_.begin(), keys_.end(), object->primaryKey());
  if (it == keys_.end()) return std::nullopt;
  const size_t index = static_cast<size_t>(it - keys_.begin());
  auto section = std::upper_bound(sections_.begin(), sections_.end(), index,
                                  [](size_t i, const SectionInfo& s) { return i < s.offset; });
  const size_t s = static_cast<size_t>(section - sections_.begin()) - 1;
  return IndexPath{s, index - sections_[s].offset};
}

}  // namespace store
