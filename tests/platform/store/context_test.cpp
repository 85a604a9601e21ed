// Identity, change tracking, saving, rolling back, delete rules and other threads.

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "platform/store/errors.h"
#include "store_fixture.h"

namespace {

using foundation::Date;
using foundation::Value;
using store::FetchRequest;
using store_test::RawDatabase;
using store_test::StoreTest;

using ContextTest = StoreTest;

std::string fileDigest(const std::filesystem::path& path) {
  // The database content as rows, read through a separate connection.
  RawDatabase raw(path);
  std::string out;
  for (const char* table : {"ZPERSON", "ZITEM", "ZCARD", "ZPET", "ZLABEL", "ZMEMO", "Z_PRIMARYKEY"})
    for (const auto& row : raw.rows(std::string("SELECT * FROM ") + table + " ORDER BY 1")) {
      out += table;
      for (const auto& v : row) out += "|" + v;
      out += "\n";
    }
  return out;
}

TEST_F(ContextTest, OneObjectPerRowInAContext) {
  auto anna = person("Anna");
  saveOrFail();
  auto first = ctx().fetch(FetchRequest("Person"));
  auto second = ctx().fetch(FetchRequest("Person"));
  ASSERT_TRUE(first.ok() && second.ok());
  EXPECT_EQ((*first)[0], anna);
  EXPECT_EQ((*second)[0], anna);
  EXPECT_EQ(ctx().objectWithID(anna->objectID()), anna);

  auto i = item(anna, "x");
  EXPECT_EQ(i->toOne("owner"), anna);
  saveOrFail();
  reopen();
  auto items = *ctx().fetch(FetchRequest("Item"));
  auto people = *ctx().fetch(FetchRequest("Person"));
  EXPECT_EQ(items[0]->toOne("owner"), people[0]) << "a link resolves to the context's one object";
}

TEST_F(ContextTest, TracksChangesAndSavesThem) {
  EXPECT_FALSE(ctx().hasChanges());
  auto anna = person("Anna");
  EXPECT_TRUE(ctx().hasChanges());
  EXPECT_TRUE(anna->isInserted());
  EXPECT_EQ(ctx().insertedObjects().size(), 1u);
  saveOrFail();
  EXPECT_FALSE(ctx().hasChanges());
  EXPECT_FALSE(anna->isInserted());

  ASSERT_TRUE(anna->setValue("name", "Anna").ok());
  EXPECT_FALSE(ctx().hasChanges()) << "setting the same value changes nothing";
  ASSERT_TRUE(anna->setValue("nickname", "Annie").ok());
  EXPECT_FALSE(ctx().hasChanges()) << "transients are not saved";
  ASSERT_TRUE(anna->setValue("name", "Ann").ok());
  EXPECT_TRUE(anna->isUpdated());
  EXPECT_EQ(ctx().updatedObjects().size(), 1u);
  EXPECT_EQ(anna->changedKeys(), (std::vector<std::string>{"name"}));
  EXPECT_EQ(anna->committedValue("name"), Value("Anna"));
  EXPECT_EQ(anna->value("initial"), Value("A"));
  saveOrFail();
  RawDatabase raw(path());
  EXPECT_EQ(raw.scalar("SELECT ZNAME || ':' || Z_OPT FROM ZPERSON"), "Ann:2");
}

TEST_F(ContextTest, RefusesValuesOfTheWrongType) {
  auto p = person("P");
  EXPECT_FALSE(p->setValue("name", 3).ok());
  EXPECT_FALSE(p->setValue("birthday", "yesterday").ok());
  EXPECT_FALSE(p->setValue("small", 40000).ok()) << "out of range for 16 bits";
  EXPECT_FALSE(p->setValue("unknown", 1).ok());
  EXPECT_TRUE(p->setValue("flag", 2).ok());
  EXPECT_EQ(p->value("flag"), Value(true));
  EXPECT_TRUE(p->setValue("amount", 1.25).ok());
  EXPECT_EQ(p->value("amount").decimal()->toString(), "1.25");
  EXPECT_TRUE(p->setValue("medium", 7.9).ok());
  EXPECT_EQ(p->value("medium"), Value(7));
  EXPECT_FALSE(p->setToOne("items", nullptr).ok()) << "to-many is not set as to-one";
  EXPECT_FALSE(item(nullptr, "i")->setToOne("owner", ctx().insertNewObject("Card")).ok());
  EXPECT_EQ(ctx().insertNewObject("Nothing"), nullptr);
}

TEST_F(ContextTest, RollbackRestoresTheSavedState) {
  auto anna = person("Anna");
  auto kept = item(anna, "kept");
  saveOrFail();
  ASSERT_TRUE(anna->setValue("name", "Changed").ok());
  auto added = item(anna, "added");
  ctx().deleteObject(kept);
  EXPECT_EQ(anna->toMany("items").size(), 1u);
  ctx().rollback();
  EXPECT_FALSE(ctx().hasChanges());
  EXPECT_EQ(anna->value("name"), Value("Anna"));
  EXPECT_EQ(anna->value("initial"), Value("A"));
  EXPECT_FALSE(kept->isDeleted());
  EXPECT_EQ(added->context(), nullptr) << "an unsaved insert leaves the context";
  EXPECT_EQ(store_test::names(anna->toMany("items"), "title"), (std::vector<std::string>{"kept"}));
}

TEST_F(ContextTest, ResetForgetsEveryObject) {
  auto anna = person("Anna");
  saveOrFail();
  ASSERT_TRUE(anna->setValue("name", "Unsaved").ok());
  ctx().reset();
  EXPECT_FALSE(ctx().hasChanges());
  EXPECT_EQ(anna->context(), nullptr);
  EXPECT_FALSE(anna->setValue("name", "x").ok()) << "a forgotten object refuses changes";
  auto again = *ctx().fetch(FetchRequest("Person"));
  ASSERT_EQ(again.size(), 1u);
  EXPECT_NE(again[0], anna);
  EXPECT_EQ(again[0]->value("name"), Value("Anna"));
}

TEST_F(ContextTest, DeletingAnOwnerCascadesNullifiesAndLeavesNoActionLinks) {
  auto anna = person("Anna");
  auto bob = person("Bob");
  auto i1 = item(anna, "i1");
  auto i2 = item(anna, "i2");
  auto label = ctx().insertNewObject("Label");
  ASSERT_TRUE(label->setToOne("item", i1).ok());
  auto pet = ctx().insertNewObject("Pet");
  ASSERT_TRUE(pet->setToOne("keeper", anna).ok());
  auto memo = ctx().insertNewObject("Memo");
  ASSERT_TRUE(memo->setToOne("author", anna).ok());
  auto other = item(bob, "bob's");
  saveOrFail();

  ctx().deleteObject(anna);
  EXPECT_TRUE(i1->isDeleted());
  EXPECT_TRUE(i2->isDeleted());
  EXPECT_EQ(pet->toOne("keeper"), nullptr) << "nullify";
  EXPECT_EQ(label->toOne("item"), nullptr) << "the deleted item's one-to-one partner lets go";
  EXPECT_FALSE(other->isDeleted());
  saveOrFail();

  RawDatabase raw(path());
  EXPECT_EQ(raw.scalar("SELECT group_concat(ZTITLE) FROM ZITEM"), "bob's");
  EXPECT_EQ(raw.scalar("SELECT ZKEEPER FROM ZPET"), "NULL");
  EXPECT_EQ(raw.scalar("SELECT ZITEM FROM ZLABEL"), "NULL");
  EXPECT_EQ(raw.scalar("SELECT ZAUTHOR FROM ZMEMO"), std::to_string(anna->primaryKey())) << "no action";
  EXPECT_EQ(anna->context(), nullptr);
}

TEST_F(ContextTest, CascadeReachesRowsNeverLoaded) {
  auto anna = person("Anna");
  for (int i = 0; i < 600; ++i) item(anna, "n" + std::to_string(i));
  saveOrFail();
  reopen();
  auto people = *ctx().fetch(FetchRequest("Person"));
  ctx().deleteObject(people[0]);
  EXPECT_EQ(ctx().deletedObjects().size(), 601u);
  EXPECT_EQ(*ctx().count(FetchRequest("Item")), 0u) << "pending deletions count";
  saveOrFail();
  RawDatabase raw(path());
  EXPECT_EQ(raw.scalar("SELECT count(*) FROM ZITEM"), "0");
}

TEST_F(ContextTest, DenyRefusesTheSaveAndLeavesTheFileUnchanged) {
  auto anna = person("Anna");
  auto card = ctx().insertNewObject("Card");
  ASSERT_TRUE(card->setToOne("holder", anna).ok());
  saveOrFail();
  const std::string before = fileDigest(path());

  ASSERT_TRUE(anna->setValue("name", "Renamed").ok());
  item(nullptr, "new");
  ctx().deleteObject(anna);
  auto status = ctx().save();
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code, store::kValidationRelationshipDeniedDeleteError);
  EXPECT_EQ(fileDigest(path()), before);
  EXPECT_TRUE(ctx().hasChanges()) << "the context keeps its changes";
  EXPECT_TRUE(anna->isDeleted());

  // Deleting the card as well lets the save through.
  ctx().deleteObject(card);
  saveOrFail();
  RawDatabase raw(path());
  EXPECT_EQ(raw.scalar("SELECT count(*) FROM ZPERSON"), "0");
  EXPECT_EQ(raw.scalar("SELECT count(*) FROM ZITEM"), "1");
}

TEST_F(ContextTest, AFailureHalfwayWritesNothing) {
  auto anna = person("Anna");
  saveOrFail();
  {
    // The store will fail on the last write of the next save.
    RawDatabase raw(path());
    raw.exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON ZITEM WHEN NEW.ZTITLE = 'bad' "
        "BEGIN SELECT RAISE(ABORT, 'refused'); END");
  }
  const std::string before = fileDigest(path());
  ASSERT_TRUE(anna->setValue("name", "Changed").ok());
  item(anna, "good");
  auto bad = item(anna, "bad");
  auto status = ctx().save();
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code, store::kPersistentStoreSaveError);
  EXPECT_NE(status.error().localizedDescription().find("refused"), std::string::npos);
  EXPECT_EQ(fileDigest(path()), before);
  EXPECT_TRUE(ctx().hasChanges());
  EXPECT_EQ(anna->value("name"), Value("Changed"));

  ASSERT_TRUE(bad->setValue("title", "fine").ok());
  saveOrFail();
  RawDatabase raw(path());
  EXPECT_EQ(raw.scalar("SELECT group_concat(ZTITLE) FROM (SELECT ZTITLE FROM ZITEM ORDER BY Z_PK)"),
            "good,fine");
  EXPECT_EQ(raw.scalar("SELECT ZNAME FROM ZPERSON"), "Changed");
}

// A save of many new rows writes them several to a statement: rows on both sides of every batch's
// edge, of two entities at once, land whole, in key order, with their links; a row refused in the
// middle of a batch leaves the file as it was and the changes in place.
TEST_F(ContextTest, ManyNewRowsAcrossStatementsLandWholeOrNotAtAll) {
  {
    RawDatabase raw(path());
    raw.exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON ZITEM WHEN NEW.ZTITLE = 'bad' "
        "BEGIN SELECT RAISE(ABORT, 'refused'); END");
  }
  const std::string before = fileDigest(path());
  std::vector<store::ObjectPtr> owners, items;
  for (int n = 0; n < 3; ++n) owners.push_back(person("P" + std::to_string(n)));
  // 64 rows make a batch: two whole ones and a rest, with a row refused in the second.
  for (int n = 0; n < 150; ++n)
    items.push_back(item(n % 4 == 3 ? nullptr : owners[static_cast<size_t>(n % 4)],
                         n == 100 ? "bad" : "t" + std::to_string(n), n * 60.0));
  auto status = ctx().save();
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code, store::kPersistentStoreSaveError);
  EXPECT_EQ(fileDigest(path()), before);
  EXPECT_EQ(ctx().insertedObjects().size(), 153u);

  ASSERT_TRUE(items[100]->setValue("title", "t100").ok());
  saveOrFail();
  RawDatabase raw(path());
  const auto rows = raw.rows("SELECT Z_PK, ZTITLE, ZWHEN, ZOWNER FROM ZITEM ORDER BY Z_PK");
  ASSERT_EQ(rows.size(), 150u);
  for (size_t n = 0; n < rows.size(); ++n) {
    EXPECT_EQ(rows[n][0], std::to_string(items[n]->primaryKey()));
    EXPECT_EQ(rows[n][1], "t" + std::to_string(n));
    EXPECT_EQ(std::stod(rows[n][2]), static_cast<double>(n) * 60.0);
    EXPECT_EQ(rows[n][3], n % 4 == 3 ? "NULL" : std::to_string(owners[n % 4]->primaryKey()));
  }
  EXPECT_EQ(raw.scalar("SELECT count(*) FROM ZPERSON"), "3");
  EXPECT_EQ(raw.scalar("SELECT Z_MAX FROM Z_PRIMARYKEY WHERE Z_NAME = 'Item'"),
            std::to_string(items.back()->primaryKey()));
}

TEST_F(ContextTest, ADanglingLinkToADeletedObjectIsRefused) {
  auto anna = person("Anna");
  auto memo = ctx().insertNewObject("Memo");
  saveOrFail();
  ctx().deleteObject(anna);
  ASSERT_TRUE(memo->setToOne("author", anna).ok());
  auto status = ctx().save();
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code, store::kManagedObjectReferentialIntegrityError);
}

TEST_F(ContextTest, RelationshipsStayConsistentWithTheirInverses) {
  auto anna = person("Anna");
  auto bob = person("Bob");
  auto i = item(anna, "i");
  EXPECT_EQ(anna->toMany("items").size(), 1u);
  ASSERT_TRUE(bob->addToMany("items", i).ok());
  EXPECT_EQ(i->toOne("owner"), bob);
  EXPECT_TRUE(anna->toMany("items").empty());
  ASSERT_TRUE(bob->removeFromMany("items", i).ok());
  EXPECT_EQ(i->toOne("owner"), nullptr);

  // One-to-one: moving a label from one item to another clears the first item's side.
  auto first = item(nullptr, "first");
  auto second = item(nullptr, "second");
  auto label = ctx().insertNewObject("Label");
  ASSERT_TRUE(first->setToOne("label", label).ok());
  EXPECT_EQ(label->toOne("item"), first);
  ASSERT_TRUE(label->setToOne("item", second).ok());
  EXPECT_EQ(first->toOne("label"), nullptr);
  EXPECT_EQ(second->toOne("label"), label);
  saveOrFail();
  reopen();
  auto labels = *ctx().fetch(FetchRequest("Label"));
  EXPECT_EQ(labels[0]->toOne("item")->value("title"), Value("second"));
  EXPECT_EQ(labels[0]->toOne("item")->toOne("label"), labels[0]);
}

TEST_F(ContextTest, ToManyMergesSavedAndUnsavedMembers) {
  auto anna = person("Anna");
  auto bob = person("Bob");
  item(anna, "saved1");
  auto moved = item(anna, "saved2");
  saveOrFail();
  reopen();
  auto people = *ctx().fetch(FetchRequest("Person"));
  auto a = people[0]->value("name") == Value("Anna") ? people[0] : people[1];
  auto b = a == people[0] ? people[1] : people[0];
  auto fresh = ctx().insertNewObject("Item");
  ASSERT_TRUE(fresh->setValue("title", "fresh").ok());
  ASSERT_TRUE(fresh->setToOne("owner", a).ok());
  auto members = a->toMany("items");
  ASSERT_EQ(members.size(), 3u);
  ASSERT_TRUE(members[1]->setToOne("owner", b).ok());
  EXPECT_EQ(store_test::names(a->toMany("items"), "title"), (std::vector<std::string>{"saved1", "fresh"}));
  EXPECT_EQ(store_test::names(b->toMany("items"), "title"), (std::vector<std::string>{"saved2"}));
}

TEST_F(ContextTest, AReadOnlyContextReadsOnAnotherThread) {
  auto anna = person("Anna");
  for (int i = 0; i < 50; ++i) item(anna, "i" + std::to_string(i), i);
  saveOrFail();
  auto reader = store_->newReadOnlyContext();
  ASSERT_TRUE(reader.ok());
  ASSERT_TRUE(anna->setValue("name", "Unsaved").ok());

  size_t seen = 0;
  std::string ownerName;
  bool saveRefused = false;
  std::thread worker([&] {
    store::FetchRequest request("Item");
    request.predicate = *store::Predicate::parse("owner.name == %@", {"Anna"});
    auto items = (*reader)->fetch(request);
    if (items.ok()) {
      seen = items->size();
      ownerName = (*items)[0]->toOne("owner")->value("name").stringOr("");
    }
    (*items)[0]->setValue("title", "changed").ok();
    saveRefused = !(*reader)->save().ok();
  });
  worker.join();
  EXPECT_EQ(seen, 50u) << "the reader sees saved data only";
  EXPECT_EQ(ownerName, "Anna");
  EXPECT_TRUE(saveRefused);
  EXPECT_NE((*reader)->fetch(FetchRequest("Person")).value()[0], anna) << "its own objects";
  saveOrFail();
  EXPECT_EQ((*reader)->fetch(FetchRequest("Person")).value()[0]->value("name"), Value("Anna"))
      << "objects already loaded keep their values";
  (*reader)->reset();
  EXPECT_EQ((*reader)->fetch(FetchRequest("Person")).value()[0]->value("name"), Value("Unsaved"));
}

TEST_F(ContextTest, FaultsOfRowsRemovedElsewhere) {
  auto anna = person("Anna");
  saveOrFail();
  const auto id = anna->objectID();
  {
    RawDatabase raw(path());
    raw.exec("DELETE FROM ZPERSON");
  }
  ctx().reset();
  auto missing = ctx().existingObjectWithID(id);
  EXPECT_FALSE(missing.ok());
  auto fault = ctx().objectWithID(id);
  ASSERT_TRUE(fault);
  EXPECT_TRUE(fault->value("name").isNull());
  ASSERT_TRUE(fault->setValue("name", "Ghost").ok());
  EXPECT_FALSE(ctx().save().ok()) << "updating a row that is gone fails";

  // Asking for it again finds it gone and forgets it, change and all: nothing is left to save,
  // even once the last reference to the object has gone.
  fault.reset();
  EXPECT_FALSE(ctx().existingObjectWithID(id).ok());
  EXPECT_FALSE(ctx().hasChanges());
  EXPECT_TRUE(ctx().save().ok());
}

}  // namespace
