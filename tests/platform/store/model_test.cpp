#include "platform/store/model.h"

#include <gtest/gtest.h>

#include "store_fixture.h"

namespace {

using store::AttributeType;
using store::DeleteRule;
using store::ModelBuilder;

TEST(StoreModel, ResolvesTablesColumnsInversesAndEntityOrder) {
  auto model = store_test::testModel();
  ASSERT_EQ(model->entities().size(), 6u);
  // Entities are numbered in name order.
  EXPECT_EQ(model->entities()[0].name, "Card");
  EXPECT_EQ(model->entities()[4].name, "Person");
  EXPECT_EQ(model->entities()[5].name, "Pet");
  const auto* item = model->entity("Item");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->table, "ZITEM");
  EXPECT_EQ(item->attribute("when")->column, "ZWHEN");
  const auto* owner = item->relationship("owner");
  EXPECT_EQ(owner->column, "ZOWNER");
  EXPECT_EQ(owner->indexName, "ZITEM_ZOWNER_INDEX");
  EXPECT_EQ(owner->inverse, model->entity("Person")->relationship("items"));
  EXPECT_EQ(model->entity("Person")->attribute("nickname")->column, "");
  EXPECT_EQ(model->entity("Person")->attribute("name")->dependents.size(), 1u);
  EXPECT_EQ(store::storeName("note_DateStop"), "ZNOTE_DATESTOP");
}

TEST(StoreModel, RefusesInconsistentDeclarations) {
  {
    ModelBuilder b;
    b.entity("A").toOne("b", "B", "a");
    EXPECT_FALSE(b.build().ok()) << "unknown destination";
  }
  {
    ModelBuilder b;
    b.entity("A").toOne("b", "B", "as");
    b.entity("B").toMany("as", "A", "other");
    EXPECT_FALSE(b.build().ok()) << "inverse that does not point back";
  }
  {
    ModelBuilder b;
    b.entity("A").toMany("bs", "B", "as");
    b.entity("B").toMany("as", "A", "bs");
    EXPECT_FALSE(b.build().ok()) << "many-to-many needs a join table";
  }
  {
    ModelBuilder b;
    b.entity("A").toMany("bs", "B", "");
    b.entity("B");
    EXPECT_FALSE(b.build().ok()) << "to-many without inverse";
  }
  {
    ModelBuilder b;
    b.entity("A").attribute("x", AttributeType::String).attribute("x", AttributeType::Date);
    EXPECT_FALSE(b.build().ok()) << "duplicate attribute";
  }
  {
    ModelBuilder b;
    b.entity("A").attribute("x y", AttributeType::String);
    EXPECT_FALSE(b.build().ok()) << "name that is no identifier";
  }
  {
    ModelBuilder b;
    b.entity("A").attribute("x", AttributeType::String).attribute("X", AttributeType::String);
    EXPECT_FALSE(b.build().ok()) << "two names for one column";
  }
  {
    ModelBuilder b;
    b.entity("A").transient("t", AttributeType::String, {"missing"},
                            [](std::span<const foundation::Value>) { return foundation::Value(); });
    EXPECT_FALSE(b.build().ok()) << "derived from unknown attribute";
  }
  for (const char* key : {"missing", "t", "bs"}) {
    ModelBuilder b;
    b.entity("A")
        .attribute("x", AttributeType::Date)
        .transient("t", AttributeType::String)
        .toMany("bs", "B", "a")
        .index({{"x", false}, {key, true}});
    b.entity("B").toOne("a", "A", "bs");
    EXPECT_FALSE(b.build().ok()) << "index on " << key;
  }
}

}  // namespace
