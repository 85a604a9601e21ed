#include "platform/store/predicate.h"

#include <gtest/gtest.h>

namespace {

using foundation::Value;
using store::Operator;
using store::Predicate;
using store::PredicateNode;

Predicate parse(std::string_view format, std::vector<Value> args = {}) {
  auto p = Predicate::parse(format, std::move(args));
  if (!p) ADD_FAILURE() << format << ": " << p.error().description();
  return p.ok() ? *p : Predicate();
}

TEST(Predicate, ParsesTheFormsTheScreensWrite) {
  auto byBaby = parse("noteToBaby.baby_Name == %@", {"Anna"});
  ASSERT_EQ(byBaby.root().kind, PredicateNode::Kind::Comparison);
  EXPECT_EQ(byBaby.root().lhs.keyPath, (std::vector<std::string>{"noteToBaby", "baby_Name"}));
  EXPECT_EQ(byBaby.root().rhs.constant, Value("Anna"));

  auto twoBlanks = parse("baby_Name  == %@", {"Anna"});
  EXPECT_EQ(twoBlanks.root().op, Operator::Equal);

  auto in = parse("(note_Type IN %@)", {foundation::Array{"Sleep", "WC"}});
  EXPECT_EQ(in.root().op, Operator::In);

  auto range =
      parse("(note_DateStop >= %@) AND (note_DateStop < %@)", {foundation::Date{10}, foundation::Date{20}});
  ASSERT_EQ(range.root().kind, PredicateNode::Kind::And);
  ASSERT_EQ(range.root().children.size(), 2u);
  EXPECT_EQ(range.root().children[1]->op, Operator::Less);
}

TEST(Predicate, OperatorsKeywordsAndPrecedence) {
  auto p = parse("a == 1 OR b == 2 AND NOT c != nil");
  ASSERT_EQ(p.root().kind, PredicateNode::Kind::Or);
  EXPECT_EQ(p.root().children[1]->kind, PredicateNode::Kind::And);
  EXPECT_EQ(p.root().children[1]->children[1]->kind, PredicateNode::Kind::Not);

  const std::pair<const char*, Operator> spellings[] = {{"x = 3", Operator::Equal},
                                                        {"x =< 3", Operator::LessEqual},
                                                        {"x => 3", Operator::GreaterEqual},
                                                        {"x <> 3", Operator::NotEqual},
                                                        {"x between {1, 5}", Operator::Between},
                                                        {"x in {1, 5}", Operator::In},
                                                        {"s contains 'a'", Operator::Contains},
                                                        {"s EndsWith 'a'", Operator::EndsWith},
                                                        {"s LIKE[c] 'a*'", Operator::Like}};
  for (const auto& [text, op] : spellings) EXPECT_EQ(parse(text).root().op, op) << text;
  auto s = parse("name BEGINSWITH[cd] 'é'");
  EXPECT_EQ(s.root().op, Operator::BeginsWith);
  EXPECT_EQ(s.root().options, store::kCaseInsensitive | store::kDiacriticInsensitive);
  EXPECT_EQ(parse("x == 1 && y == 2 || !(z == 3)").root().kind, PredicateNode::Kind::Or);
  EXPECT_EQ(parse("TRUEPREDICATE").root().kind, PredicateNode::Kind::True);
  EXPECT_EQ(parse("%K == %d", {"count", 4}).root().lhs.keyPath[0], "count");
  EXPECT_EQ(parse("flag == YES").root().rhs.constant, Value(true));
  EXPECT_EQ(parse("x == -2.5").root().rhs.constant, Value(-2.5));
}

TEST(Predicate, QuotesAndPercentSignsInValuesStayValues) {
  // Arguments are values, never text to re-read: quotes and format characters in them stay.
  auto p = parse("name == %@", {"O'Brien \"50%\" %@ %K"});
  EXPECT_EQ(p.root().rhs.constant, Value("O'Brien \"50%\" %@ %K"));
  // A format specifier inside a quoted literal is literal text.
  auto literal = parse("name == '%@' AND other == \"it\\'s\"");
  EXPECT_EQ(literal.root().children[0]->rhs.constant, Value("%@"));
  EXPECT_EQ(literal.root().children[1]->rhs.constant, Value("it's"));
}

TEST(Predicate, MalformedTextIsAnErrorNotACrash) {
  const char* bad[] = {"",        "name ==",    "== 3",        "(a == 1",       "a == 1)",
                       "a ~ 1",   "a == 'open", "a IN 3",      "a BETWEEN {1}", "a == %@",
                       "a == %x", "ANY a == 1", "a.b..c == 1", "a == 1 b == 2", "a[c] == 1"};
  for (const char* text : bad) EXPECT_FALSE(Predicate::parse(text).ok()) << text;
  EXPECT_FALSE(Predicate::parse("a == %@", {1, 2}).ok()) << "more arguments than specifiers";
  EXPECT_FALSE(Predicate::parse("%K == 1", {3}).ok()) << "%K needs a key name";
}

TEST(Predicate, CompoundsAndDescription) {
  auto a = parse("x == %@", {"a\"b"});
  auto b = parse("y IN %@", {foundation::Array{1, 2}});
  auto both = Predicate::andPredicates({a, b});
  EXPECT_EQ(both.description(), "x == \"a\\\"b\" AND y IN {1, 2}");
  EXPECT_EQ(Predicate::notPredicate(Predicate::orPredicates({a, b})).description(),
            "NOT (x == \"a\\\"b\" OR y IN {1, 2})");
  EXPECT_EQ(Predicate::andPredicates({}).root().children.size(), 0u);
}

}  // namespace
