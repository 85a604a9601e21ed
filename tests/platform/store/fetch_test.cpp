// Fetch requests: predicates compiled to SQL and the same predicates judged in memory for
// unsaved changes, sorting, windows, counts, batches and sections.

#include <gtest/gtest.h>

#include "platform/store/fetched_results.h"
#include "store_fixture.h"

namespace {

using foundation::Array;
using foundation::Date;
using foundation::Value;
using store::FetchRequest;
using store::Predicate;
using store::SortDescriptor;
using store::StringComparison;
using store_test::StoreTest;

class FetchTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    anna_ = person("Anna");
    bob_ = person("Bob");
    struct Row {
      const char* title;
      double when;
      int count;
      bool anna;
    };
    const Row rows[] = {{"apple", 30, 3, true},  {"Banana", 10, 1, true}, {"cherry", 20, 2, false},
                        {"Éclair", 20, 5, true}, {"date", 40, 4, false},  {"100% \"fig\"", 50, 0, true}};
    for (const Row& r : rows) {
      auto i = item(r.anna ? anna_ : bob_, r.title, r.when);
      ASSERT_TRUE(i->setValue("count", r.count).ok());
    }
    item(nullptr, "orphan", 60);
    saveOrFail();
  }

  // Titles of the items the predicate finds, in title order, both from the store and with the
  // same rows judged in memory (by touching every row so it counts as changed).
  std::vector<std::string> titles(const std::string& format, std::vector<Value> args = {},
                                  std::vector<SortDescriptor> sorts = {{"title", true}}) {
    FetchRequest request("Item");
    auto predicate = Predicate::parse(format, std::move(args));
    EXPECT_TRUE(predicate.ok()) << format;
    if (!predicate.ok()) return {};
    request.predicate = *predicate;
    request.sortDescriptors = sorts;
    auto stored = ctx().fetch(request);
    EXPECT_TRUE(stored.ok()) << format << ": " << (stored.ok() ? "" : stored.error().description());
    if (!stored.ok()) return {};
    // Make every item (and person) dirty, so the whole fetch runs through the in-memory path.
    for (const auto& entity : {"Item", "Person"}) {
      auto all = ctx().fetch(FetchRequest(entity)).value();
      for (auto& o : all) {
        const char* key = std::string(entity) == "Item" ? "count" : "small";
        const Value old = o->value(key);
        EXPECT_TRUE(o->setValue(key, 999).ok());
        EXPECT_TRUE(o->setValue(key, old).ok());
      }
    }
    auto judged = ctx().fetch(request);
    EXPECT_TRUE(judged.ok());
    EXPECT_EQ(store_test::names(*stored, "title"), store_test::names(*judged, "title"))
        << "SQL and memory disagree on " << format;
    ctx().rollback();
    return store_test::names(*stored, "title");
  }

  store::ObjectPtr anna_, bob_;
};

using V = std::vector<std::string>;

TEST_F(FetchTest, ComparisonsAgreeInSqlAndInMemory) {
  EXPECT_EQ(titles("owner.name == %@", {"Anna"}), (V{"100% \"fig\"", "Banana", "apple", "Éclair"}));
  EXPECT_EQ(titles("owner.name  == %@", {"Bob"}), (V{"cherry", "date"}));
  EXPECT_EQ(titles("title IN %@", {Array{"apple", "date", "nothing"}}), (V{"apple", "date"}));
  EXPECT_EQ(titles("title IN %@", {Array{}}), V{});
  EXPECT_EQ(titles("(when >= %@) AND (when < %@)", {Date{20}, Date{40}}), (V{"apple", "cherry", "Éclair"}));
  EXPECT_EQ(titles("count > 2 AND count <= 4"), (V{"apple", "date"}));
  EXPECT_EQ(titles("count != 3 AND count BETWEEN {2, 4}"), (V{"cherry", "date"}));
  EXPECT_EQ(titles("NOT (count < 4) OR title == 'apple'"), (V{"apple", "date", "orphan", "Éclair"}))
      << "a missing count is not below 4";
  EXPECT_EQ(titles("owner == nil"), (V{"orphan"}));
  EXPECT_EQ(titles("owner != nil AND owner.name != %@", {"Anna"}), (V{"cherry", "date"}));
  EXPECT_EQ(titles("owner.name != %@", {"Anna"}), (V{"cherry", "date", "orphan"})) << "nil is not Anna";
  EXPECT_EQ(titles("NOT owner.name == %@", {"Anna"}), (V{"cherry", "date", "orphan"}));
  EXPECT_EQ(titles("owner.name == nil"), (V{"orphan"}));
  EXPECT_EQ(titles("count > nil"), V{});
  EXPECT_EQ(titles("2 < count AND 5 > count"), (V{"apple", "date"})) << "constant on the left";
  EXPECT_EQ(titles("TRUEPREDICATE AND NOT FALSEPREDICATE AND title BEGINSWITH 'c'"), (V{"cherry"}));
}

TEST_F(FetchTest, ComparisonsThroughAToOneMatchEveryDestinationThatMeetsThem) {
  // The link column is searched for the destinations' keys: none, one or several of them.
  auto otherBob = person("Bob");
  item(otherBob, "elder", 70);
  item(person("Carl"), "fern", 80);
  saveOrFail();
  EXPECT_EQ(titles("owner.name == %@", {"Bob"}), (V{"cherry", "date", "elder"}));
  EXPECT_EQ(titles("owner.name == %@", {"Nobody"}), V{});
  EXPECT_EQ(titles("owner.name != %@", {"Bob"}),
            (V{"100% \"fig\"", "Banana", "apple", "fern", "orphan", "Éclair"}));
  EXPECT_EQ(titles("owner.name IN %@", {Array{"Bob", "Carl"}}), (V{"cherry", "date", "elder", "fern"}));
  EXPECT_EQ(titles("owner.name BEGINSWITH 'B' AND count == nil"), (V{"elder"}));
  FetchRequest request("Item");
  request.predicate = *Predicate::parse("owner.name == %@", {"Bob"});
  EXPECT_EQ(*ctx().count(request), 3u);
}

TEST_F(FetchTest, StringOperatorsAndOptions) {
  EXPECT_EQ(titles("title BEGINSWITH 'b'"), V{});
  EXPECT_EQ(titles("title BEGINSWITH[c] 'b'"), (V{"Banana"}));
  EXPECT_EQ(titles("title ==[c] 'BANANA'"), (V{"Banana"}));
  EXPECT_EQ(titles("title ==[cd] 'eclair'"), (V{"Éclair"}));
  EXPECT_EQ(titles("title !=[c] 'BANANA' AND owner.name == 'Anna'"), (V{"100% \"fig\"", "apple", "Éclair"}));
  EXPECT_EQ(titles("title CONTAINS 'an'"), (V{"Banana", "orphan"}));
  EXPECT_EQ(titles("title ENDSWITH 'y'"), (V{"cherry"}));
  EXPECT_EQ(titles("title LIKE 'd?t*'"), (V{"date"}));
  EXPECT_EQ(titles("title LIKE[c] '*A*A*'"), (V{"Banana"}));
}

TEST_F(FetchTest, QuotesAndPercentSignsInValues) {
  EXPECT_EQ(titles("title == %@", {"100% \"fig\""}), (V{"100% \"fig\""}));
  EXPECT_EQ(titles("title CONTAINS %@", {"%"}), (V{"100% \"fig\""}));
  EXPECT_EQ(titles("title LIKE %@", {"*\"fig\""}), (V{"100% \"fig\""}));
  EXPECT_EQ(titles("title == %@", {"x' OR '1'='1"}), V{});
  EXPECT_EQ(titles("title == %@ OR title == %@", {"'; DROP TABLE ZITEM; --", "apple"}), (V{"apple"}));
  EXPECT_EQ(*ctx().count(FetchRequest("Item")), 7u);
}

TEST_F(FetchTest, PredicatesThatCannotBeCompiledFail) {
  auto fails = [&](const std::string& format, std::vector<Value> args = {}) {
    FetchRequest request("Item");
    request.predicate = *Predicate::parse(format, std::move(args));
    EXPECT_FALSE(ctx().fetch(request).ok()) << format;
  };
  fails("nothing == 1");
  fails("owner.items.title == 'x'");
  fails("owner == 'Anna'");
  fails("when > 'yesterday'");
  fails("count BEGINSWITH '1'");
  fails("owner.nickname == 'x'");
  fails("count <[c] 3");
  EXPECT_FALSE(ctx().fetch(FetchRequest("Nothing")).ok());
}

TEST_F(FetchTest, SortingSelectorsAndTies) {
  FetchRequest request("Item");
  request.sortDescriptors = {{"title", true, StringComparison::Binary}};
  EXPECT_EQ(store_test::names(*ctx().fetch(request), "title"),
            (V{"100% \"fig\"", "Banana", "apple", "cherry", "date", "orphan", "Éclair"}));
  request.sortDescriptors = {{"title", true, StringComparison::LocalizedCaseInsensitive}};
  EXPECT_EQ(store_test::names(*ctx().fetch(request), "title"),
            (V{"100% \"fig\"", "apple", "Banana", "cherry", "date", "Éclair", "orphan"}));
  request.sortDescriptors = {{"title", false, StringComparison::CaseInsensitive}};
  EXPECT_EQ(store_test::names(*ctx().fetch(request), "title")[0], "Éclair");

  // A date sorted with a string selector sorts by time; equal times keep key order.
  request.sortDescriptors = {{"when", false, StringComparison::LocalizedCaseInsensitive}};
  EXPECT_EQ(store_test::names(*ctx().fetch(request), "title"),
            (V{"orphan", "100% \"fig\"", "date", "apple", "cherry", "Éclair", "Banana"}));
  request.sortDescriptors = {{"owner.name", true}, {"count", false}};
  EXPECT_EQ(store_test::names(*ctx().fetch(request), "title"),
            (V{"orphan", "Éclair", "apple", "Banana", "100% \"fig\"", "date", "cherry"}));
}

TEST_F(FetchTest, WindowsCountsAndIdentifiers) {
  FetchRequest request("Item");
  request.sortDescriptors = {{"when", true}};
  request.fetchLimit = 2;
  request.fetchOffset = 1;
  EXPECT_EQ(store_test::names(*ctx().fetch(request), "title"), (V{"cherry", "Éclair"}));
  EXPECT_EQ(*ctx().count(request), 2u);
  auto ids = ctx().fetchObjectIDs(request);
  ASSERT_TRUE(ids.ok());
  ASSERT_EQ(ids->size(), 2u);
  EXPECT_EQ(ctx().objectWithID((*ids)[0])->value("title"), Value("cherry"));
  request.fetchOffset = 6;
  EXPECT_EQ(*ctx().count(request), 1u);
  request.fetchOffset = 10;
  EXPECT_EQ(*ctx().count(request), 0u);
  EXPECT_TRUE(ctx().fetch(request)->empty());
}

// A request run again (pages of a list) reuses its compilation, whose search through the to-one
// was made against the file as it was: every change to the file, by this context or by another,
// is seen by the next run, and unsaved changes still take part.
TEST_F(FetchTest, ARepeatedRequestFollowsChangesToTheFile) {
  FetchRequest request("Item");
  request.predicate = *Predicate::parse("owner.name == %@", {Value("Anna")});
  request.sortDescriptors = {{"when", false}};
  request.fetchLimit = 2;
  auto page = [&](size_t offset) {
    request.fetchOffset = offset;
    auto found = ctx().fetch(request);
    EXPECT_TRUE(found.ok());
    return found.ok() ? store_test::names(*found, "title") : V{};
  };
  EXPECT_EQ(page(0), (V{"100% \"fig\"", "apple"}));
  EXPECT_EQ(page(2), (V{"Éclair", "Banana"}));

  // Bob becomes "Anna" through another connection: his items join at the next run.
  auto other = store_->newContext().value();
  FetchRequest byName("Person");
  byName.predicate = *Predicate::parse("name == %@", {Value("Bob")});
  auto bobs = other->fetch(byName).value();
  ASSERT_EQ(bobs.size(), 1u);
  ASSERT_TRUE(bobs[0]->setValue("name", Value("Anna")).ok());
  ASSERT_TRUE(other->save().ok());
  EXPECT_EQ(page(0), (V{"100% \"fig\"", "date"}));

  // A new owner saved here, and an unsaved one.
  auto carl = person("Anna");
  item(carl, "grape", 70);
  EXPECT_EQ(page(0), (V{"grape", "100% \"fig\""}));
  saveOrFail();
  item(carl, "kiwi", 80);
  EXPECT_EQ(page(0), (V{"kiwi", "grape"}));
  ctx().rollback();
  EXPECT_EQ(page(0), (V{"grape", "100% \"fig\""}));
}

// Rows as values read what the objects would hold, unsaved changes included, and make no objects.
TEST_F(FetchTest, RowsAsValuesMatchTheObjects) {
  FetchRequest request("Item");
  request.sortDescriptors = {{"when", false}};
  request.fetchLimit = 3;
  auto expect = [&](const V& titles, bool unsaved) {
    auto rows = ctx().fetchValues(request);
    ASSERT_TRUE(rows.ok());
    const store::EntityDescription& item = *rows->entity;
    const size_t title = item.attribute("title")->index, owner = item.relationship("owner")->toOneSlot;
    V found;
    for (size_t row = 0; row < rows->keys.size(); ++row) {
      found.push_back(*rows->value(row, title).string());
      auto object = ctx().objectWithID({&item, rows->keys[row]});
      EXPECT_EQ(rows->link(row, owner), object->relatedKey(*item.relationship("owner")));
      EXPECT_EQ(rows->value(row, item.attribute("count")->index), object->value("count"));
    }
    EXPECT_EQ(found, titles);
    // A visit meets the same rows with the same values, and stops where the visitor does.
    const size_t when = item.attribute("when")->index;
    size_t row = 0;
    auto visited = ctx().visitValues(request, [&](const store::Context::ValueRowView& view) {
      for (size_t a = 0; a < item.attributes.size(); ++a) EXPECT_EQ(view.value(a), rows->value(row, a)) << a;
      EXPECT_EQ(view.key(), rows->keys[row]);
      EXPECT_EQ(view.link(owner), rows->link(row, owner));
      EXPECT_EQ(view.text(title), std::optional<std::string_view>(*rows->value(row, title).string()));
      EXPECT_EQ(view.date(when),
                rows->value(row, when).date() ? std::optional(*rows->value(row, when).date()) : std::nullopt);
      EXPECT_EQ(view.text(when), std::nullopt);
      // A stored whole number as it is stored; none for a text, or where unsaved changes took part.
      const size_t count = item.attribute("count")->index;
      const auto* whole = rows->value(row, count).integer();
      EXPECT_EQ(view.storedInteger(count), whole && !unsaved ? std::optional(*whole) : std::nullopt);
      EXPECT_EQ(view.storedInteger(title), std::nullopt);
      return ++row < 2;
    });
    ASSERT_TRUE(visited.ok());
    EXPECT_EQ(*visited, 2u);
  };
  expect(V{"orphan", "100% \"fig\"", "date"}, false);
  ctx().reset();
  expect(V{"orphan", "100% \"fig\"", "date"}, false);
  item(nullptr, "kiwi", 55);
  expect(V{"orphan", "kiwi", "100% \"fig\""}, true);

  // Without a limit, each read has every row, whether more or fewer than the one before.
  saveOrFail();
  request.fetchLimit = 0;
  auto readAll = [&](size_t expected) {
    auto rows = ctx().fetchValues(request);
    ASSERT_TRUE(rows.ok());
    EXPECT_EQ(rows->keys.size(), expected);
    EXPECT_EQ(rows->values.size(), expected * rows->entity->attributes.size());
  };
  readAll(8);
  item(nullptr, "lime", 1);
  item(nullptr, "mango", 2);
  saveOrFail();
  readAll(10);
  request.predicate = *Predicate::parse("when > %@", {Value(Date{5})});
  readAll(8);

  // Only the attributes asked for are read (the others stay null, the links are there); the same
  // request asking for all of them again reads them all; an unknown name fails.
  const auto all = ctx().fetchValues(request);
  ASSERT_TRUE(all.ok());
  const store::EntityDescription& item = *all->entity;
  const size_t title = item.attribute("title")->index;
  for (const bool some : {true, false, true}) {
    request.propertiesToFetch = some ? std::vector<std::string>{"title"} : std::vector<std::string>{};
    auto rows = ctx().fetchValues(request);
    ASSERT_TRUE(rows.ok());
    ASSERT_EQ(rows->keys, all->keys);
    EXPECT_EQ(rows->links, all->links);
    for (size_t i = 0; i < rows->values.size(); ++i)
      EXPECT_EQ(rows->values[i], some && i % item.attributes.size() != title ? Value() : all->values[i]) << i;
  }
  request.propertiesToFetch = {"flavour"};
  EXPECT_FALSE(ctx().fetchValues(request).ok());
}

TEST_F(FetchTest, UnsavedChangesTakePart) {
  FetchRequest request("Item");
  request.predicate = *Predicate::parse("owner.name == %@", {"Bob"});
  request.sortDescriptors = {{"when", true}};

  auto fresh = item(bob_, "fresh", 15);
  auto cherry = (*ctx().fetch(request))[1];
  EXPECT_EQ(cherry->value("title"), Value("cherry"));
  ASSERT_TRUE(cherry->setValue("when", Date{100}).ok());
  auto apple = *ctx().fetch([] {
    FetchRequest r("Item");
    r.predicate = *Predicate::parse("title == 'apple'");
    return r;
  }());
  ASSERT_TRUE(apple[0]->setToOne("owner", bob_).ok());
  auto date = *ctx().fetch([] {
    FetchRequest r("Item");
    r.predicate = *Predicate::parse("title == 'date'");
    return r;
  }());
  ctx().deleteObject(date[0]);

  EXPECT_EQ(store_test::names(*ctx().fetch(request), "title"), (V{"fresh", "apple", "cherry"}));
  EXPECT_EQ(*ctx().count(request), 3u);
  request.fetchLimit = 1;
  request.fetchOffset = 1;
  EXPECT_EQ(store_test::names(*ctx().fetch(request), "title"), (V{"apple"}));
  request.fetchLimit = 0;
  request.fetchOffset = 0;
  request.includesPendingChanges = false;
  EXPECT_EQ(store_test::names(*ctx().fetch(request), "title"), (V{"cherry", "date"}));
  request.includesPendingChanges = true;

  // Renaming the owner moves its unchanged items as well.
  ASSERT_TRUE(anna_->setValue("name", "Bob").ok());
  EXPECT_EQ(store_test::names(*ctx().fetch(request), "title").size(), 6u);
  ctx().rollback();
  EXPECT_EQ(store_test::names(*ctx().fetch(request), "title"), (V{"cherry", "date"}));
  EXPECT_EQ(fresh->context(), nullptr);
}

TEST_F(FetchTest, BatchedFetchLoadsFaultsTogether) {
  reopen();
  FetchRequest request("Item");
  request.sortDescriptors = {{"when", true}};
  request.fetchBatchSize = 3;
  auto items = *ctx().fetch(request);
  ASSERT_EQ(items.size(), 7u);
  for (const auto& i : items) EXPECT_TRUE(i->isFault());
  EXPECT_EQ(items[4]->value("title"), Value("date"));
  EXPECT_FALSE(items[3]->isFault());
  EXPECT_FALSE(items[5]->isFault());
  EXPECT_TRUE(items[2]->isFault());
  EXPECT_TRUE(items[6]->isFault());
  EXPECT_EQ(store_test::names(items, "title"),
            (V{"Banana", "cherry", "Éclair", "apple", "date", "100% \"fig\"", "orphan"}));
}

TEST_F(FetchTest, SectionsByADerivedTransient) {
  FetchRequest request("Person");
  request.sortDescriptors = {{"name", true}};
  for (const char* name : {"Alice", "Carl", "Cleo", "Dora"}) person(name);
  saveOrFail();
  auto dana = person("Dan");

  store::FetchedResultsController controller(context_, request, "initial");
  ASSERT_TRUE(controller.performFetch().ok());
  const auto& sections = controller.sections();
  ASSERT_EQ(sections.size(), 4u);
  EXPECT_EQ(sections[0].name, "A");
  EXPECT_EQ(sections[0].numberOfObjects, 2u);
  EXPECT_EQ(sections[2].name, "C");
  EXPECT_EQ(sections[2].numberOfObjects, 2u);
  EXPECT_EQ(sections[3].name, "D");
  EXPECT_EQ(store_test::names(controller.objectsInSection(3)), (V{"Dan", "Dora"}))
      << "unsaved insert included";
  EXPECT_EQ(controller.objectAtIndexPath({1, 0})->value("name"), Value("Bob"));
  EXPECT_EQ(controller.objectAtIndexPath({9, 0}), nullptr);
  EXPECT_EQ(controller.fetchedCount(), 7u);
  auto path = controller.indexPathForObject(dana);
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, (store::FetchedResultsController::IndexPath{3, 0}));

  store::FetchedResultsController plain(context_, request, "");
  ASSERT_TRUE(plain.performFetch().ok());
  ASSERT_EQ(plain.sections().size(), 1u);
  EXPECT_EQ(plain.fetchedObjects().size(), 7u);

  store::FetchedResultsController stored(context_, request, "name");
  ASSERT_TRUE(stored.performFetch().ok());
  EXPECT_EQ(stored.sections().size(), 7u);
}

}  // namespace
