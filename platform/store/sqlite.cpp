#include "platform/store/sqlite.h"

#include <utility>

#include "platform/store/collation.h"
#include "platform/store/errors.h"

namespace store::sql {

Statement::Statement(Statement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)), inUse_(std::exchange(other.inUse_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    release();
    stmt_ = std::exchange(other.stmt_, nullptr);
    inUse_ = std::exchange(other.inUse_, nullptr);
  }
  return *this;
}

Statement::~Statement() { release(); }

void Statement::release() {
  if (!stmt_) return;
  if (inUse_) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    *inUse_ = false;
  } else {
    sqlite3_finalize(stmt_);
  }
  stmt_ = nullptr;
  inUse_ = nullptr;
}

void Statement::bindNull(int index) { sqlite3_bind_null(stmt_, index); }
void Statement::bindInt(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
void Statement::bindDouble(int index, double value) { sqlite3_bind_double(stmt_, index, value); }
void Statement::bindText(int index, std::string_view value) {
  sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}
void Statement::bindBlob(int index, const foundation::Bytes& value) {
  sqlite3_bind_blob64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT);
}

void Statement::bindTextNoCopy(int index, std::string_view value) {
  sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_STATIC, SQLITE_UTF8);
}

int Statement::step() { return sqlite3_step(stmt_); }

std::string_view Statement::columnText(int index) const {
  const unsigned char* text = sqlite3_column_text(stmt_, index);
  const int size = sqlite3_column_bytes(stmt_, index);
  return text ? std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(size))
              : std::string_view();
}

foundation::Bytes Statement::columnBlob(int index) const {
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, index));
  const int size = sqlite3_column_bytes(stmt_, index);
  return data ? foundation::Bytes(data, data + size) : foundation::Bytes();
}

foundation::Result<std::unique_ptr<Connection>> Connection::open(const std::filesystem::path& path,
                                                                 Mode mode) {
  int flags = SQLITE_OPEN_NOMUTEX;
  switch (mode) {
    case Mode::ReadWrite:
      flags |= SQLITE_OPEN_READWRITE;
      break;
    case Mode::ReadWriteCreate:
      flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
      break;
    case Mode::ReadOnly:
      flags |= SQLITE_OPEN_READONLY;
      break;
  }
  std::unique_ptr<Connection> connection(new Connection());
  connection->path_ = path;
  connection->readOnly_ = mode == Mode::ReadOnly;
  const int rc = sqlite3_open_v2(path.c_str(), &connection->db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    foundation::Error error = connection->errorFor(rc, kPersistentStoreOpenError, "Cannot open the store");
    return error;
  }
  sqlite3_extended_result_codes(connection->db_, 1);
  sqlite3_busy_timeout(connection->db_, 5000);
  registerFunctions(connection->db_);
  return connection;
}

Connection::~Connection() {
  for (auto& [sql, cached] : cache_) sqlite3_finalize(cached.stmt);
  cache_.clear();
  for (Cached& cached : slots_) sqlite3_finalize(cached.stmt);
  slots_.clear();
  if (db_) sqlite3_close_v2(db_);
}

foundation::Status Connection::exec(const std::string& sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  if (message) sqlite3_free(message);
  if (rc != SQLITE_OK) return errorFor(rc, kSQLiteError, "SQL failed");
  return {};
}

// A statement is lent to one user at a time (its flag says so); a second user of the same text,
// as when a fetch runs while another one's rows are still being read, gets a one-off copy.
foundation::Result<Statement> Connection::prepare(const std::string& sql) {
  auto it = cache_.find(sql);
  if (it != cache_.end()) {
    if (!*it->second.inUse) {
      *it->second.inUse = true;
      return Statement(it->second.stmt, it->second.inUse.get());
    }
    return prepareOneOff(sql);  // already stepping elsewhere
  }
  if (cache_.size() >= kCacheLimit) trimCache();
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                    &stmt, nullptr);
  if (rc != SQLITE_OK) return errorFor(rc, kSQLiteError, "Cannot prepare a statement");
  Cached cached;
  cached.stmt = stmt;
  cached.inUse = std::make_unique<bool>(true);
  bool* flag = cached.inUse.get();
  cache_.emplace(sql, std::move(cached));
  return Statement(stmt, flag);
}

foundation::Result<Statement> Connection::prepareSlot(size_t slot, const std::function<std::string()>& sql) {
  if (slot >= slots_.size()) slots_.resize(slot + 1);
  Cached& cached = slots_[slot];
  if (!cached.stmt) {
    const std::string text = sql();
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v3(db_, text.c_str(), static_cast<int>(text.size()),
                                      SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) return errorFor(rc, kSQLiteError, "Cannot prepare a statement");
    cached.stmt = stmt;
    cached.inUse = std::make_unique<bool>(false);
  }
  if (*cached.inUse) return prepareOneOff(sql());
  *cached.inUse = true;
  return Statement(cached.stmt, cached.inUse.get());
}

foundation::Result<Statement> Connection::prepareOneOff(const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), 0, &stmt, nullptr);
  if (rc != SQLITE_OK) return errorFor(rc, kSQLiteError, "Cannot prepare a statement");
  return Statement(stmt, nullptr);
}

// Only idle statements go: a lent one is still being stepped by its user.
void Connection::trimCache() {
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (!*it->second.inUse) {
      sqlite3_finalize(it->second.stmt);
      it = cache_.erase(it);
    } else {
      ++it;
    }
  }
}

foundation::Error Connection::errorFor(int rc, std::int64_t code, std::string_view what) const {
  std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  foundation::Error underlying(std::string(kSQLiteErrorDomain), rc & 0xff,
                               {{std::string(foundation::Error::kLocalizedDescriptionKey), message}});
  foundation::Dictionary info;
  info.set(std::string(foundation::Error::kLocalizedDescriptionKey), std::string(what) + ": " + message);
  info.set(std::string(kSQLiteErrorDomain), static_cast<long long>(rc & 0xff));
  info.set(std::string(foundation::Error::kFilePathKey), path_.string());
  return foundation::Error(std::string(kErrorDomain), code, std::move(info),
                           std::make_shared<const foundation::Error>(std::move(underlying)));
}

foundation::Error Connection::lastError(std::int64_t code, std::string_view what) const {
  return errorFor(sqlite3_extended_errcode(db_), code, what);
}

Transaction::~Transaction() {
  if (open_) (void)connection_.exec("ROLLBACK");
}

foundation::Status Transaction::begin() {
  auto status = connection_.exec(connection_.readOnly() ? "BEGIN" : "BEGIN IMMEDIATE");
  if (status) open_ = true;
  return status;
}

foundation::Status Transaction::commit() {
  auto status = connection_.exec("COMMIT");
  if (status) open_ = false;
  return status;
}

}  // namespace store::sql
