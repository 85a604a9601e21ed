#pragma once
// A small model that exercises every attribute type, every delete rule and both kinds of
// relationship, a store in a temporary folder, and raw SQLite access to look at the file.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/store/context.h"
#include "platform/store/model.h"
#include "platform/store/store.h"
#include "support/temp_dir.h"

namespace store_test {

inline std::shared_ptr<const store::Model> testModel() {
  using store::AttributeType;
  using store::DeleteRule;
  store::ModelBuilder b;
  b.entity("Person")
      .attribute("name", AttributeType::String)
      .attribute("birthday", AttributeType::Date)
      .attribute("flag", AttributeType::Boolean)
      .attribute("small", AttributeType::Integer16)
      .attribute("medium", AttributeType::Integer32)
      .attribute("large", AttributeType::Integer64)
      .attribute("amount", AttributeType::Decimal)
      .attribute("ratio", AttributeType::Float)
      .attribute("precise", AttributeType::Double)
      .attribute("photo", AttributeType::Binary)
      .transient("nickname", AttributeType::String)
      .transient("initial", AttributeType::String, {"name"},
                 [](std::span<const foundation::Value> s) -> foundation::Value {
                   const auto* name = s[0].string();
                   if (!name || name->empty()) return foundation::Value();
                   return foundation::Value(name->substr(0, 1));
                 })
      .toMany("items", "Item", "owner", DeleteRule::Cascade)
      .toMany("cards", "Card", "holder", DeleteRule::Deny)
      .toMany("pets", "Pet", "keeper", DeleteRule::Nullify)
      .toMany("memos", "Memo", "author", DeleteRule::NoAction);
  b.entity("Item")
      .attribute("title", AttributeType::String)
      .attribute("when", AttributeType::Date)
      .attribute("count", AttributeType::Integer32)
      .toOne("owner", "Person", "items", DeleteRule::Nullify)
      .toOne("label", "Label", "item", DeleteRule::Nullify)
      .index({{"owner", false}, {"when", true}});
  b.entity("Label")
      .attribute("text", AttributeType::String)
      .toOne("item", "Item", "label", DeleteRule::Nullify);
  b.entity("Card").attribute("number", AttributeType::String).toOne("holder", "Person", "cards");
  b.entity("Pet").attribute("kind", AttributeType::String).toOne("keeper", "Person", "pets");
  b.entity("Memo").attribute("text", AttributeType::String).toOne("author", "Person", "memos");
  auto model = b.build();
  if (!model) throw std::runtime_error(model.error().description());
  return *model;
}

// Runs SQL on the file directly, bypassing the store.
class RawDatabase {
 public:
  explicit RawDatabase(const std::filesystem::path& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK)
      throw std::runtime_error("cannot open " + path.string());
  }
  ~RawDatabase() { sqlite3_close(db_); }
  void exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      std::string text = message ? message : "?";
      sqlite3_free(message);
      throw std::runtime_error(sql + ": " + text);
    }
  }
  // Every row of a query, each column as text ("NULL" for null).
  std::vector<std::vector<std::string>> rows(const std::string& sql) {
    std::vector<std::vector<std::string>> out;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const unsigned char* text = sqlite3_column_text(stmt, i);
        row.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
      }
      out.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return out;
  }
  std::string scalar(const std::string& sql) {
    auto r = rows(sql);
    return r.empty() || r[0].empty() ? "" : r[0][0];
  }
  std::vector<std::string> columns(const std::string& table) {
    std::vector<std::string> out;
    for (auto& row : rows("PRAGMA table_info(" + table + ")")) out.push_back(row[1]);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

// A store file in a fresh folder, opened with the test model.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { open(); }

  void open() {
    auto opened = store::Store::open(path(), model_);
    ASSERT_TRUE(opened.ok()) << opened.error().description();
    store_ = *opened;
    auto context = store_->newContext();
    ASSERT_TRUE(context.ok()) << context.error().description();
    context_ = *context;
  }
  void reopen() {
    context_.reset();
    if (store_) {
      ASSERT_TRUE(store_->close().ok());
    }
    store_.reset();
    open();
  }
  std::filesystem::path path() const { return dir_ / "dataBase.sqlite"; }
  store::Context& ctx() { return *context_; }

  store::ObjectPtr person(const std::string& name) {
    auto p = ctx().insertNewObject("Person");
    EXPECT_TRUE(p->setValue("name", name).ok());
    return p;
  }
  store::ObjectPtr item(const store::ObjectPtr& owner, const std::string& title, double when = 0) {
    auto i = ctx().insertNewObject("Item");
    EXPECT_TRUE(i->setValue("title", title).ok());
    EXPECT_TRUE(i->setValue("when", foundation::Date{when}).ok());
    if (owner) {
      EXPECT_TRUE(i->setToOne("owner", owner).ok());
    }
    return i;
  }
  void saveOrFail() {
    auto status = ctx().save();
    ASSERT_TRUE(status.ok()) << status.error().description();
  }

  testing_support::TempDir dir_;
  std::shared_ptr<const store::Model> model_ = testModel();
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
};

// Names of the objects, read from one string attribute.
inline std::vector<std::string> names(const std::vector<store::ObjectPtr>& objects,
                                      const char* key = "name") {
  std::vector<std::string> out;
  for (const auto& o : objects) out.push_back(o->value(key).stringOr("<nil>"));
  return out;
}

}  // namespace store_test
