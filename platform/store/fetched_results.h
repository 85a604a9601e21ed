#pragma once
// The result of a fetch grouped into sections by a key path (typically a transient such as a
// day key): each section has a name, a count and its objects. Rows are known after
// performFetch(); objects load in batches as they are asked for.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/store/context.h"
#include "platform/store/fetch_request.h"

namespace store {

class FetchedResultsController {
 public:
  struct SectionInfo {
    std::string name;
    size_t numberOfObjects = 0;
    size_t offset = 0;  // index of the section's first object among all fetched objects
  };
  struct IndexPath {
    size_t section = 0;
    size_t row = 0;
    friend bool operator==(const IndexPath&, const IndexPath&) = default;
  };

  // An empty key path gives one section named "" holding every object. The request's sort
  // descriptors must keep each section's rows together (sections are runs of equal keys).
  FetchedResultsController(std::shared_ptr<Context> context, FetchRequest request,
                           std::string sectionNameKeyPath);

  const FetchRequest& fetchRequest() const { return request_; }
  const std::string& sectionNameKeyPath() const { return keyPath_; }

  // Runs the fetch again; the sections and objects reflect the context at this moment.
  foundation::Status performFetch();

  const std::vector<SectionInfo>& sections() const { return sections_; }
  size_t fetchedCount() const { return keys_.size(); }
  ObjectPtr objectAtIndexPath(IndexPath path);
  std::vector<ObjectPtr> objectsInSection(size_t section);
  std::vector<ObjectPtr> fetchedObjects();
  std::optional<IndexPath> indexPathForObject(const ObjectPtr& object) const;

 private:
  ObjectPtr objectAt(size_t index);
  void loadRange(size_t begin, size_t end);

  std::shared_ptr<Context> context_;
  FetchRequest request_;
  std::string keyPath_;
  const EntityDescription* entity_ = nullptr;
  std::vector<std::int64_t> keys_;
  std::vector<ObjectPtr> objects_;  // filled as asked for
  std::vector<SectionInfo> sections_;
};

}  // namespace store
