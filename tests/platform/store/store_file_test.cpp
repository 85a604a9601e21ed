// The file layout, reopening, migration and refusal of files that are not stores.

#include <gtest/gtest.h>

#include <fstream>

#include "platform/store/errors.h"
#include "store_fixture.h"

namespace {

using foundation::Date;
using foundation::Value;
using store_test::RawDatabase;
using store_test::StoreTest;

std::string fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

using StoreFile = StoreTest;

TEST_F(StoreFile, WritesThePlatformLayout) {
  auto p = person("Anna");
  ASSERT_TRUE(p->setValue("birthday", Date{86400.5}).ok());
  ASSERT_TRUE(p->setValue("flag", true).ok());
  auto i = item(p, "first", 100);
  saveOrFail();
  ASSERT_TRUE(store_->close().ok());

  RawDatabase raw(path());
  EXPECT_EQ(raw.scalar("PRAGMA journal_mode"), "wal");
  EXPECT_EQ(raw.columns("ZPERSON"),
            (std::vector<std::string>{"Z_PK", "Z_ENT", "Z_OPT", "ZNAME", "ZBIRTHDAY", "ZFLAG", "ZSMALL",
                                      "ZMEDIUM", "ZLARGE", "ZAMOUNT", "ZRATIO", "ZPRECISE", "ZPHOTO"}));
  EXPECT_EQ(raw.columns("ZITEM"), (std::vector<std::string>{"Z_PK", "Z_ENT", "Z_OPT", "ZOWNER", "ZLABEL",
                                                            "ZTITLE", "ZWHEN", "ZCOUNT"}));
  EXPECT_EQ(raw.scalar("SELECT type FROM pragma_table_info('ZPERSON') WHERE name = 'ZBIRTHDAY'"),
            "TIMESTAMP");
  EXPECT_EQ(raw.scalar("SELECT type FROM pragma_table_info('ZPERSON') WHERE name = 'ZAMOUNT'"), "DECIMAL");
  EXPECT_EQ(
      raw.scalar("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name = 'ZITEM_ZOWNER_INDEX'"),
      "1");
  // Dates are seconds since 2001, booleans integers, links the destination's Z_PK.
  EXPECT_EQ(raw.scalar("SELECT ZBIRTHDAY FROM ZPERSON"), "86400.5");
  EXPECT_EQ(raw.scalar("SELECT typeof(ZFLAG) || ZFLAG FROM ZPERSON"), "integer1");
  EXPECT_EQ(raw.scalar("SELECT ZOWNER FROM ZITEM"), std::to_string(p->primaryKey()));
  EXPECT_EQ(raw.scalar("SELECT Z_OPT FROM ZITEM"), "1");
  // Z_ENT follows the entity numbers of Z_PRIMARYKEY, which counts the keys handed out.
  EXPECT_EQ(raw.scalar("SELECT Z_ENT FROM ZITEM"),
            raw.scalar("SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = 'Item'"));
  EXPECT_EQ(raw.scalar("SELECT Z_MAX FROM Z_PRIMARYKEY WHERE Z_NAME = 'Item'"),
            std::to_string(i->primaryKey()));
  EXPECT_EQ(raw.scalar("SELECT Z_SUPER FROM Z_PRIMARYKEY WHERE Z_NAME = 'Person'"), "0");
  auto meta = raw.rows("SELECT Z_VERSION, Z_UUID, length(Z_PLIST), substr(Z_PLIST, 1, 6) FROM Z_METADATA");
  ASSERT_EQ(meta.size(), 1u);
  EXPECT_EQ(meta[0][1].size(), 36u);
  EXPECT_EQ(meta[0][3], "bplist");
}

TEST_F(StoreFile, ValuesOfEveryTypeSurviveCloseAndReopen) {
  auto p = person("Zoë \"Z\" O'Neil");
  ASSERT_TRUE(p->setValue("birthday", Date{-12345.25}).ok());
  ASSERT_TRUE(p->setValue("flag", false).ok());
  ASSERT_TRUE(p->setValue("small", -32768).ok());
  ASSERT_TRUE(p->setValue("medium", 2147483647).ok());
  ASSERT_TRUE(p->setValue("large", 9007199254740993LL).ok());
  ASSERT_TRUE(p->setValue("amount", *foundation::Decimal::parse("2.54")).ok());
  ASSERT_TRUE(p->setValue("ratio", 98.6).ok());
  ASSERT_TRUE(p->setValue("precise", 0.1 + 0.2).ok());
  ASSERT_TRUE(p->setValue("photo", foundation::Bytes{0, 1, 255}).ok());
  const auto key = p->objectID();
  saveOrFail();
  reopen();

  auto loaded = ctx().existingObjectWithID({model_->entity("Person"), key.primaryKey});
  ASSERT_TRUE(loaded.ok());
  auto& o = **loaded;
  EXPECT_EQ(o.value("name"), Value("Zoë \"Z\" O'Neil"));
  EXPECT_EQ(*o.value("birthday").date(), Date{-12345.25});
  EXPECT_EQ(o.value("flag"), Value(false));
  EXPECT_NE(o.value("flag").boolean(), nullptr);
  EXPECT_EQ(o.value("small"), Value(-32768));
  EXPECT_EQ(o.value("medium"), Value(2147483647));
  EXPECT_EQ(*o.value("large").integer(), 9007199254740993LL);
  EXPECT_EQ(o.value("amount").decimal()->toString(), "2.54");
  // A float keeps single precision both ways.
  EXPECT_EQ(static_cast<float>(*o.value("ratio").real()), 98.6f);
  EXPECT_EQ(*o.value("precise").real(), 0.1 + 0.2);
  EXPECT_EQ(*o.value("photo").data(), (foundation::Bytes{0, 1, 255}));
  EXPECT_TRUE(o.value("nickname").isNull());
  EXPECT_EQ(o.value("initial"), Value("Z")) << "derived transient computed on first read";
}

TEST_F(StoreFile, OpensAStoreWithAnUnknownColumnAndKeepsIt) {
  saveOrFail();
  ASSERT_TRUE(store_->close().ok());
  context_.reset();
  store_.reset();
  {
    RawDatabase raw(path());
    raw.exec("ALTER TABLE ZPERSON ADD COLUMN ZFAVOURITE VARCHAR");
    raw.exec("CREATE TABLE ZLEGACY (Z_PK INTEGER PRIMARY KEY, ZWHAT VARCHAR)");
    raw.exec("INSERT INTO ZPERSON (Z_PK, Z_ENT, Z_OPT, ZNAME, ZFAVOURITE) VALUES (7, 6, 1, 'Old', 'blue')");
  }
  open();
  store::FetchRequest request("Person");
  auto people = ctx().fetch(request);
  ASSERT_TRUE(people.ok());
  ASSERT_EQ(people->size(), 1u);
  ASSERT_TRUE((*people)[0]->setValue("name", "Renamed").ok());
  saveOrFail();
  ASSERT_TRUE(store_->close().ok());
  RawDatabase raw(path());
  EXPECT_EQ(raw.rows("SELECT ZNAME, ZFAVOURITE FROM ZPERSON"),
            (std::vector<std::vector<std::string>>{{"Renamed", "blue"}}));
  EXPECT_EQ(raw.scalar("SELECT count(*) FROM sqlite_master WHERE name = 'ZLEGACY'"), "1");
}

TEST_F(StoreFile, AddsMissingColumnsTablesAndIndexes) {
  context_.reset();
  ASSERT_TRUE(store_->close().ok());
  store_.reset();
  std::filesystem::remove(path());
  {
    // A store written by an older model: Person without "photo" and "ratio", no Memo table,
    // no index on Item.owner, and entity numbers of its own.
    RawDatabase raw(path());
    raw.exec(
        "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX "
        "INTEGER);"
        "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);"
        "CREATE TABLE Z_MODELCACHE (Z_CONTENT BLOB);"
        "INSERT INTO Z_METADATA VALUES (1, 'B2E5A1D4-0000-4000-8000-000000000001', x'62706c697374');"
        "CREATE TABLE ZPERSON (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZFLAG INTEGER, ZSMALL "
        "INTEGER,"
        " ZMEDIUM INTEGER, ZLARGE INTEGER, ZBIRTHDAY TIMESTAMP, ZPRECISE FLOAT, ZAMOUNT DECIMAL, ZNAME "
        "VARCHAR);"
        "CREATE TABLE ZITEM (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCOUNT INTEGER, ZOWNER "
        "INTEGER,"
        " ZLABEL INTEGER, ZWHEN TIMESTAMP, ZTITLE VARCHAR);"
        "INSERT INTO Z_PRIMARYKEY VALUES (1, 'Person', 0, 9), (2, 'Item', 0, 3);"
        "INSERT INTO ZPERSON (Z_PK, Z_ENT, Z_OPT, ZNAME, ZAMOUNT, ZFLAG) VALUES (9, 1, 3, 'Device', 1.5, 1);"
        "INSERT INTO ZITEM (Z_PK, Z_ENT, Z_OPT, ZTITLE, ZOWNER, ZWHEN) VALUES (2, 2, 1, 'a', 9, 5.0),"
        " (3, 2, 1, 'b', 9, 4.0);");
  }
  open();
  EXPECT_EQ(store_->uuid(), "B2E5A1D4-0000-4000-8000-000000000001");
  store::FetchRequest request("Item");
  request.predicate = *store::Predicate::parse("owner.name == %@", {"Device"});
  request.sortDescriptors = {{"when", true}};
  auto items = ctx().fetch(request);
  ASSERT_TRUE(items.ok()) << items.error().description();
  EXPECT_EQ(store_test::names(*items, "title"), (std::vector<std::string>{"b", "a"}));
  auto owner = (*items)[0]->toOne("owner");
  ASSERT_TRUE(owner);
  EXPECT_EQ(owner->value("amount").decimal()->toString(), "1.5");
  EXPECT_TRUE(owner->value("photo").isNull());
  EXPECT_EQ(owner->toMany("items").size(), 2u);

  // New rows keep the file's numbering and never reuse a key.
  auto memo = ctx().insertNewObject("Memo");
  ASSERT_TRUE(memo->setToOne("author", owner).ok());
  auto extra = item(owner, "c");
  EXPECT_EQ(extra->primaryKey(), 4);
  saveOrFail();
  ASSERT_TRUE(store_->close().ok());
  RawDatabase raw(path());
  EXPECT_EQ(raw.scalar("SELECT Z_ENT FROM ZITEM WHERE Z_PK = 4"), "2");
  EXPECT_EQ(raw.scalar("SELECT Z_MAX FROM Z_PRIMARYKEY WHERE Z_NAME = 'Item'"), "4");
  EXPECT_EQ(raw.scalar("SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = 'Memo'"), "5")
      << "new entities numbered after the file's own";
  EXPECT_EQ(raw.scalar("SELECT ZAUTHOR FROM ZMEMO"), "9");
  EXPECT_EQ(
      raw.scalar("SELECT count(*) FROM pragma_table_info('ZPERSON') WHERE name IN ('ZPHOTO', 'ZRATIO')"),
      "2");
  EXPECT_EQ(raw.scalar("SELECT count(*) FROM sqlite_master WHERE name = 'ZITEM_ZOWNER_INDEX'"), "1");
  EXPECT_EQ(raw.scalar("SELECT sql FROM sqlite_master WHERE name = 'ZITEM_ZOWNER_ZWHEN_INDEX'"),
            "CREATE INDEX ZITEM_ZOWNER_ZWHEN_INDEX ON ZITEM (ZOWNER, ZWHEN DESC, Z_PK)");
  EXPECT_EQ(raw.scalar("SELECT count(*) FROM sqlite_master WHERE name = 'Z_MODELCACHE'"), "1");
}

TEST_F(StoreFile, KeysNeverCollideWithRowsBeyondTheRecordedMaximum) {
  context_.reset();
  ASSERT_TRUE(store_->close().ok());
  store_.reset();
  {
    RawDatabase raw(path());
    raw.exec("INSERT INTO ZPERSON (Z_PK, Z_ENT, Z_OPT, ZNAME) VALUES (40, 6, 1, 'Stray')");
  }
  open();
  auto p = person("New");
  EXPECT_EQ(p->primaryKey(), 41);
  saveOrFail();
}

TEST(StoreOpen, RefusesFilesThatAreNotStoresAndLeavesThemAlone) {
  testing_support::TempDir dir;
  auto model = store_test::testModel();

  const auto garbage = dir / "garbage.sqlite";
  {
    std::ofstream out(garbage, std::ios::binary);
    out << std::string(4096, 'x');
  }
  const std::string before = fileBytes(garbage);
  auto opened = store::Store::open(garbage, model);
  ASSERT_FALSE(opened.ok());
  EXPECT_EQ(opened.error().code, store::kPersistentStoreOpenError);
  EXPECT_EQ(fileBytes(garbage), before);
  EXPECT_FALSE(std::filesystem::exists(dir / "garbage.sqlite-wal"));

  const auto other = dir / "other.sqlite";
  {
    store_test::RawDatabase raw(other);
    raw.exec("CREATE TABLE t (x); INSERT INTO t VALUES (1)");
  }
  const std::string otherBefore = fileBytes(other);
  EXPECT_FALSE(store::Store::open(other, model).ok());
  EXPECT_EQ(fileBytes(other), otherBefore);

  EXPECT_FALSE(store::Store::open(dir / "missing" / "dataBase.sqlite", model).ok());
}

TEST_F(StoreFile, CloseCheckpointsSoTheFileStandsAlone) {
  person("Anna");
  saveOrFail();
  EXPECT_TRUE(std::filesystem::exists(path().string() + "-wal"));
  ASSERT_TRUE(store_->close().ok());
  EXPECT_FALSE(std::filesystem::exists(path().string() + "-wal"));
  EXPECT_TRUE(ctx().isClosed());
  EXPECT_FALSE(ctx().save().ok());
  EXPECT_FALSE(store_->newContext().ok());

  // A copy of the bare file holds everything.
  const auto copy = dir_ / "copy.sqlite";
  std::filesystem::copy_file(path(), copy);
  auto reopened = store::Store::open(copy, model_);
  ASSERT_TRUE(reopened.ok());
  auto context = (*reopened)->newContext();
  ASSERT_TRUE(context.ok());
  EXPECT_EQ(*(*context)->count(store::FetchRequest("Person")), 1u);
}

TEST_F(StoreFile, AStoreReplacedOnDiskIsTheOneReadAfterClosing) {
  person("Before");
  saveOrFail();
  // Another store file with different content.
  const auto otherPath = dir_ / "other.sqlite";
  {
    auto other = store::Store::open(otherPath, model_);
    ASSERT_TRUE(other.ok());
    auto context = *(*other)->newContext();
    ASSERT_TRUE(context->insertNewObject("Person")->setValue("name", "After").ok());
    ASSERT_TRUE(context->save().ok());
    ASSERT_TRUE((*other)->close().ok());
  }
  ASSERT_TRUE(store_->close().ok());
  context_.reset();
  store_.reset();
  std::filesystem::rename(otherPath, path());
  open();
  auto people = ctx().fetch(store::FetchRequest("Person"));
  ASSERT_TRUE(people.ok());
  EXPECT_EQ(store_test::names(*people), (std::vector<std::string>{"After"}));
}

}  // namespace
