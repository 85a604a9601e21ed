#include "platform/store/store.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>

#include "platform/foundation/uuid.h"
#include "platform/store/context.h"
#include "platform/store/errors.h"
#include "platform/store/sqlite.h"

namespace store {

namespace {

std::string columnType(AttributeType type) {
  switch (type) {
    case AttributeType::String:
      return "VARCHAR";
    case AttributeType::Date:
      return "TIMESTAMP";
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Integer64:
    case AttributeType::Boolean:
      return "INTEGER";
    case AttributeType::Decimal:
      return "DECIMAL";
    case AttributeType::Float:
    case AttributeType::Double:
      return "FLOAT";
    case AttributeType::Binary:
      return "BLOB";
  }
  return "";
}

std::string upperAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The metadata property list: store type and identity, in binary form.
foundation::Bytes metadataPlist(const std::string& uuid) {
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "NSStoreType", plist_new_string("SQLite"));
  plist_dict_set_item(dict, "NSStoreUUID", plist_new_string(uuid.c_str()));
  plist_t identifiers = plist_new_array();
  plist_array_append_item(identifiers, plist_new_string(""));
  plist_dict_set_item(dict, "NSStoreModelVersionIdentifiers", identifiers);
  char* data = nullptr;
  uint32_t length = 0;
  plist_to_bin(dict, &data, &length);
  foundation::Bytes bytes;
  if (data) {
    bytes.assign(reinterpret_cast<std::uint8_t*>(data), reinterpret_cast<std::uint8_t*>(data) + length);
    std::free(data);  // plist_to_bin allocates with malloc
  }
  plist_free(dict);
  return bytes;
}

foundation::Error openError(const std::filesystem::path& path, std::string description,
                            std::shared_ptr<const foundation::Error> underlying = nullptr) {
  foundation::Dictionary info;
  info.set(std::string(foundation::Error::kLocalizedDescriptionKey), std::move(description));
  info.set(std::string(foundation::Error::kFilePathKey), path.string());
  return foundation::Error(std::string(kErrorDomain), kPersistentStoreOpenError, std::move(info),
                           std::move(underlying));
}

// The names of the file's tables, upper-cased. Reading the schema first refuses a file that is
// not a database before anything is written.
foundation::Result<std::set<std::string>> tableNames(sql::Connection& db) {
  std::set<std::string> tables;
  auto statement = db.prepare("SELECT name FROM sqlite_master WHERE type = 'table'");
  if (!statement) return statement.error();
  int rc;
  while ((rc = statement->step()) == SQLITE_ROW)
    tables.insert(upperAscii(std::string(statement->columnText(0))));
  if (rc != SQLITE_DONE) return db.errorFor(rc, kPersistentStoreOpenError, "Cannot read the store's schema");
  return tables;
}

// The tables every store has beside its entities': key counters and metadata.
foundation::Status createBookkeepingTables(sql::Connection& db, const std::set<std::string>& tables) {
  if (!tables.count("Z_PRIMARYKEY")) {
    auto status = db.exec(
        "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, "
        "Z_MAX INTEGER)");
    if (!status) return status;
  }
  if (!tables.count("Z_METADATA")) {
    auto status =
        db.exec("CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB)");
    if (!status) return status;
  }
  return {};
}

// An entity's table as the model wants it: created when missing, otherwise given the columns it
// lacks (never dropping any); an index on every to-one link, and the indexes the model declares.
foundation::Status migrateEntityTable(sql::Connection& db, const EntityDescription& entity,
                                      const std::set<std::string>& tables) {
  std::vector<std::pair<std::string, std::string>> wanted;  // column and declared type
  for (size_t r : entity.toOneRelationships) wanted.emplace_back(entity.relationships[r].column, "INTEGER");
  for (size_t a : entity.storedAttributes)
    wanted.emplace_back(entity.attributes[a].column, columnType(entity.attributes[a].type));
  if (!tables.count(entity.table)) {
    std::string create =
        "CREATE TABLE " + entity.table + " ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER";
    for (const auto& [column, type] : wanted) create += ", " + column + " " + type;
    create += " )";
    if (auto status = db.exec(create); !status) return status;
  } else {
    std::set<std::string> existing;
    auto info = db.prepare("PRAGMA table_info(" + entity.table + ")");
    if (!info) return info.error();
    while (info->step() == SQLITE_ROW) existing.insert(upperAscii(std::string(info->columnText(1))));
    *info = sql::Statement();
    if (!existing.count("Z_PK"))
      return makeError(kMigrationError, "Table " + entity.table + " has no Z_PK column");
    wanted.insert(wanted.begin(), {{"Z_ENT", "INTEGER"}, {"Z_OPT", "INTEGER"}});
    for (const auto& [column, type] : wanted) {
      if (existing.count(column)) continue;
      if (auto status = db.exec("ALTER TABLE " + entity.table + " ADD COLUMN " + column + " " + type);
          !status)
        return status;
    }
  }
  for (size_t r : entity.toOneRelationships) {
    const RelationshipDescription& rel = entity.relationships[r];
    auto status = db.exec("CREATE INDEX IF NOT EXISTS " + rel.indexName + " ON " + entity.table + " (" +
                          rel.column + ")");
    if (!status) return status;
  }
  for (const IndexDescription& index : entity.indexes) {
    std::string columns;
    for (size_t k = 0; k < index.keys.size(); ++k)
      columns += index.columns[k] + (index.keys[k].descending ? " DESC, " : ", ");
    auto status = db.exec("CREATE INDEX IF NOT EXISTS " + index.name + " ON " + entity.table + " (" +
                          columns + "Z_PK)");
    if (!status) return status;
  }
  return {};
}

// Entity numbers (Z_ENT) and key counters: those the file has, new numbers for new entities.
// A counter is never below the highest key in its table, whatever Z_MAX says.
foundation::Status readEntityNumbers(sql::Connection& db, const Model& model,
                                     std::vector<std::int64_t>& numbers, std::vector<std::int64_t>& maxKeys) {
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> known;  // name -> (Z_ENT, Z_MAX)
  std::int64_t highestNumber = 0;
  {
    auto rows = db.prepare("SELECT Z_ENT, Z_NAME, Z_MAX FROM Z_PRIMARYKEY");
    if (!rows) return rows.error();
    while (rows->step() == SQLITE_ROW) {
      const std::int64_t number = rows->columnInt(0);
      highestNumber = std::max(highestNumber, number);
      known[std::string(rows->columnText(1))] = {number, rows->columnInt(2)};
    }
  }
  numbers.assign(model.entities().size(), 0);
  maxKeys.assign(model.entities().size(), 0);
  for (const EntityDescription& entity : model.entities()) {
    auto it = known.find(entity.name);
    if (it == known.end()) {
      const std::int64_t number = ++highestNumber;
      auto insert =
          db.prepare("INSERT INTO Z_PRIMARYKEY (Z_ENT, Z_NAME, Z_SUPER, Z_MAX) VALUES (?, ?, 0, 0)");
      if (!insert) return insert.error();
      insert->bindInt(1, number);
      insert->bindText(2, entity.name);
      if (int rc = insert->step(); rc != SQLITE_DONE)
        return db.errorFor(rc, kMigrationError, "Cannot record entity " + entity.name);
      numbers[entity.index] = number;
    } else {
      numbers[entity.index] = it->second.first;
      maxKeys[entity.index] = it->second.second;
    }
    auto highest = db.prepare("SELECT MAX(Z_PK) FROM " + entity.table);
    if (!highest) return highest.error();
    if (highest->step() == SQLITE_ROW && !highest->isNull(0))
      maxKeys[entity.index] = std::max(maxKeys[entity.index], highest->columnInt(0));
  }
  return {};
}

// The store's identity: the UUID in its metadata, written with a new one when there is none.
foundation::Result<std::string> readOrWriteIdentity(sql::Connection& db) {
  std::string uuid;
  {
    auto meta = db.prepare("SELECT Z_UUID FROM Z_METADATA ORDER BY Z_VERSION LIMIT 1");
    if (!meta) return meta.error();
    if (meta->step() == SQLITE_ROW) uuid = std::string(meta->columnText(0));
  }
  if (!uuid.empty()) return uuid;
  uuid = foundation::makeUuid();
  auto insert = db.prepare("INSERT OR REPLACE INTO Z_METADATA (Z_VERSION, Z_UUID, Z_PLIST) VALUES (1, ?, ?)");
  if (!insert) return insert.error();
  insert->bindText(1, uuid);
  insert->bindBlob(2, metadataPlist(uuid));
  if (int rc = insert->step(); rc != SQLITE_DONE)
    return db.errorFor(rc, kMigrationError, "Cannot write metadata");
  return uuid;
}

}  // namespace

foundation::Result<std::shared_ptr<Store>> Store::open(const std::filesystem::path& path,
                                                       std::shared_ptr<const Model> model) {
  if (!model) return openError(path, "No model for the store");
  std::shared_ptr<Store> store(new Store());
  store->path_ = path;
  store->model_ = std::move(model);
  auto connection = sql::Connection::open(path, sql::Connection::Mode::ReadWriteCreate);
  if (!connection) return connection.error();
  store->connection_ = std::move(*connection);
  if (auto status = store->migrate(); !status) {
    store->connection_.reset();
    return openError(
        path, "The store at " + path.string() + " cannot be opened: " + status.error().localizedDescription(),
        std::make_shared<const foundation::Error>(status.error()));
  }
  return store;
}

Store::~Store() {
  // Contexts hold the store alive, so none is left by now.
  connection_.reset();
}

bool Store::isClosed() const { return connection_ == nullptr; }

foundation::Status Store::migrate() {
  sql::Connection& db = *connection_;
  auto tables = tableNames(db);
  if (!tables) return tables.error();
  if (!tables->empty() && (!tables->count("Z_PRIMARYKEY") || !tables->count("Z_METADATA")))
    return makeError(kPersistentStoreIncompatibleSchemaError,
                     "The file holds a database that is not a store");

  if (auto status = db.exec("PRAGMA journal_mode = WAL"); !status) return status;
  if (auto status = db.exec("PRAGMA synchronous = FULL"); !status) return status;

  // Every change of the schema lands together or not at all.
  sql::Transaction transaction(db);
  if (auto status = transaction.begin(); !status) return status;
  if (auto status = createBookkeepingTables(db, *tables); !status) return status;
  for (const EntityDescription& entity : model_->entities())
    if (auto status = migrateEntityTable(db, entity, *tables); !status) return status;
  if (auto status = readEntityNumbers(db, *model_, entityNumbers_, maxKeys_); !status) return status;
  auto uuid = readOrWriteIdentity(db);
  if (!uuid) return uuid.error();
  uuid_ = std::move(*uuid);
  return transaction.commit();
}

std::int64_t Store::allocatePrimaryKey(const EntityDescription& entity) {
  std::lock_guard lock(mutex_);
  return ++maxKeys_[entity.index];
}

foundation::Result<std::shared_ptr<Context>> Store::makeContext(bool readOnly) {
  {
    std::lock_guard lock(mutex_);
    if (!connection_) return makeError(kPersistentStoreOperationError, "The store is closed");
  }
  auto connection = sql::Connection::open(
      path_, readOnly ? sql::Connection::Mode::ReadOnly : sql::Connection::Mode::ReadWrite);
  if (!connection) return connection.error();
  if (!readOnly) {
    if (auto status = (*connection)->exec("PRAGMA synchronous = FULL"); !status) return status.error();
  }
  std::shared_ptr<Context> context(new Context(shared_from_this(), std::move(*connection), readOnly));
  std::lock_guard lock(mutex_);
  contexts_.push_back(context.get());
  return context;
}

foundation::Result<std::shared_ptr<Context>> Store::newContext() { return makeContext(false); }
foundation::Result<std::shared_ptr<Context>> Store::newReadOnlyContext() { return makeContext(true); }

void Store::unregister(Context* context) {
  std::lock_guard lock(mutex_);
  contexts_.erase(std::remove(contexts_.begin(), contexts_.end(), context), contexts_.end());
}

foundation::Status Store::checkpoint() {
  if (!connection_) return makeError(kPersistentStoreOperationError, "The store is closed");
  return connection_->exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

foundation::Status Store::close() {
  std::vector<Context*> contexts;
  {
    std::lock_guard lock(mutex_);
    contexts = contexts_;
  }
  for (Context* context : contexts) context->closeConnection();
  if (!connection_) return {};
  foundation::Status status = checkpoint();
  std::lock_guard lock(mutex_);
  connection_.reset();
  return status;
}

}  // namespace store
