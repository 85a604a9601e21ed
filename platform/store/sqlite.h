#pragma once
// A thin layer over one SQLite connection: prepared statements cached by their text (or, for
// those run once per row, kept in numbered slots), binding of values (never spliced into SQL),
// and errors as values. Used only inside the store, from one thread at a time per connection.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace store::sql {

class Connection;

// A prepared statement borrowed from a connection's cache; reset and unbound when it goes.
class Statement {
 public:
  Statement() = default;
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  sqlite3_stmt* get() const { return stmt_; }

  void bindNull(int index);
  void bindInt(int index, std::int64_t value);
  void bindDouble(int index, double value);
  void bindText(int index, std::string_view value);
  // The text must stay unchanged until the statement is stepped or rebound; no copy is made.
  void bindTextNoCopy(int index, std::string_view value);
  void bindBlob(int index, const foundation::Bytes& value);

  // SQLITE_ROW, SQLITE_DONE, or an error code.
  int step();
  // Ready to run again; the bindings stay until rebound.
  void rewind() { sqlite3_reset(stmt_); }

  int columnType(int index) const { return sqlite3_column_type(stmt_, index); }
  bool isNull(int index) const { return columnType(index) == SQLITE_NULL; }
  std::int64_t columnInt(int index) const { return sqlite3_column_int64(stmt_, index); }
  double columnDouble(int index) const { return sqlite3_column_double(stmt_, index); }
  std::string_view columnText(int index) const;
  foundation::Bytes columnBlob(int index) const;

 private:
  friend class Connection;
  Statement(sqlite3_stmt* stmt, bool* inUse) : stmt_(stmt), inUse_(inUse) {}
  void release();

  sqlite3_stmt* stmt_ = nullptr;
  bool* inUse_ = nullptr;  // flag of the cached statement; nullptr for a one-off to finalize
};

class Connection {
 public:
  enum class Mode { ReadWrite, ReadWriteCreate, ReadOnly };

  static foundation::Result<std::unique_ptr<Connection>> open(const std::filesystem::path& path, Mode mode);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* handle() const { return db_; }
  const std::filesystem::path& path() const { return path_; }
  bool readOnly() const { return readOnly_; }

  // Runs one or more statements that take no parameters.
  foundation::Status exec(const std::string& sql);
  // A statement from the cache, prepared on first use.
  foundation::Result<Statement> prepare(const std::string& sql);
  // The statement kept in a numbered slot, prepared from `sql()` on first use. For statements
  // run once per row, where building the text and looking it up would cost more than the step.
  // The caller keeps one meaning per slot for the connection's life.
  foundation::Result<Statement> prepareSlot(size_t slot, const std::function<std::string()>& sql);

  // The connection's last error as a store error with the SQLite code in its user info.
  foundation::Error lastError(std::int64_t code, std::string_view what) const;
  foundation::Error errorFor(int rc, std::int64_t code, std::string_view what) const;

  // Statements kept at most; the cache is emptied of idle statements past this.
  static constexpr size_t kCacheLimit = 256;

 private:
  Connection() = default;
  struct Cached {
    sqlite3_stmt* stmt = nullptr;
    std::unique_ptr<bool> inUse;
  };
  void trimCache();
  foundation::Result<Statement> prepareOneOff(const std::string& sql);

  sqlite3* db_ = nullptr;
  std::filesystem::path path_;
  bool readOnly_ = false;
  std::unordered_map<std::string, Cached> cache_;
  std::vector<Cached> slots_;  // by slot number; never trimmed
};

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(Connection& connection) : connection_(connection) {}
  ~Transaction();
  foundation::Status begin();
  foundation::Status commit();

 private:
  Connection& connection_;
  bool open_ = false;
};

}  // namespace store::sql
