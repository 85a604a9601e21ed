#pragma once
// A persistent store: one SQLite file in the platform's own layout (tables Z<ENTITY> with Z_PK,
// Z_ENT, Z_OPT and Z<ATTRIBUTE> columns, to-one links as indexed key columns, dates as seconds
// since 2001-01-01, Z_PRIMARYKEY and Z_METADATA), so that a store written on a device opens.
// Opening migrates lightly: missing tables, columns and indexes are added; unknown ones are left
// alone. The file runs in WAL mode; close() checkpoints so that the file stands alone.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/store/model.h"

namespace store {

class Context;
namespace sql {
class Connection;
}

class Store : public std::enable_shared_from_this<Store> {
 public:
  // Opens the store at the path, creating the file when it does not exist. A file that is not
  // a store of this layout (or not a database) is refused with an error and left untouched.
  static foundation::Result<std::shared_ptr<Store>> open(const std::filesystem::path& path,
                                                         std::shared_ptr<const Model> model);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const Model& model() const { return *model_; }
  std::shared_ptr<const Model> modelPointer() const { return model_; }
  const std::filesystem::path& path() const { return path_; }
  // Z_UUID of the store's metadata.
  const std::string& uuid() const { return uuid_; }
  bool isClosed() const;

  // A context that reads and writes, for the thread that creates it.
  foundation::Result<std::shared_ptr<Context>> newContext();
  // A context that only reads, on its own connection, for use on another thread.
  foundation::Result<std::shared_ptr<Context>> newReadOnlyContext();

  // Moves the write-ahead log into the database file.
  foundation::Status checkpoint();
  // Closes every context of the store (their objects are forgotten), checkpoints and releases
  // the file, so it can be copied or replaced. Contexts used on other threads must be idle.
  foundation::Status close();

  // Z_ENT of an entity in this file.
  std::int64_t entityNumber(const EntityDescription& entity) const { return entityNumbers_[entity.index]; }
  // A new primary key for a row of the entity.
  std::int64_t allocatePrimaryKey(const EntityDescription& entity);

 private:
  friend class Context;
  Store() = default;
  foundation::Status migrate();
  foundation::Result<std::shared_ptr<Context>> makeContext(bool readOnly);
  void unregister(Context* context);

  std::filesystem::path path_;
  std::shared_ptr<const Model> model_;
  std::unique_ptr<sql::Connection> connection_;
  std::string uuid_;
  std::vector<std::int64_t> entityNumbers_;
  mutable std::mutex mutex_;
  std::vector<std::int64_t> maxKeys_;
  std::vector<Context*> contexts_;
};

}  // namespace store
