#include "platform/plist/keyed_archive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "platform/plist/plist_node.h"

using foundation::Array;
using foundation::Bytes;
using foundation::Date;
using foundation::Dictionary;
using foundation::Value;

namespace {

Bytes fixture(const std::string& name) {
  std::ifstream in("platform/plist/fixtures/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The archive's property list with references shown as {"CF$UID": n}.
Value layoutOf(const Bytes& archive) {
  auto root = plist::detail::parse(archive.data(), archive.size(), nullptr);
  EXPECT_TRUE(root.ok());
  if (!root) return Value();
  auto value = plist::detail::toValue(root->get(), true);
  EXPECT_TRUE(value.ok());
  return value.ok() ? *value : Value();
}

Value uid(long long n) { return Value(Dictionary{{"CF$UID", n}}); }

// A record with a field of every kind the platform's coders write.
struct TestTimer : plist::Archivable {
  std::optional<std::string> type;
  std::optional<Date> start;
  Value numValue;
  std::optional<bool> paused;
  std::int64_t imgPathNum = 0;
  std::optional<std::string> notice;
  std::optional<std::string> strValue;
  double inlineReal = 0;
  bool inlineBool = false;
  std::optional<Bytes> photo;
  std::shared_ptr<TestTimer> child;
  Value extra;
  std::optional<std::string> dollar;

  std::string className() const override { return "TestTimer"; }
  void encodeWithCoder(plist::Coder& c) const override {
    c.encodeValue("param_Type", type ? Value(*type) : Value());
    c.encodeValue("param_DateStart", start ? Value(*start) : Value());
    c.encodeValue("param_numValue", numValue);
    c.encodeValue("param_Paused", paused ? Value(*paused) : Value());
    c.encodeInt("param_ImgPathNum", imgPathNum);
    c.encodeValue("param_Notice", notice ? Value(*notice) : Value());
    if (strValue) c.encodeString("param_strValue", *strValue);
    c.encodeDouble("inlineReal", inlineReal);
    c.encodeBool("inlineBool", inlineBool);
    if (photo) c.encodeData("photo", *photo);
    c.encodeObject("child", child);
    c.encodeValue("extra", extra);
    if (dollar) c.encodeString("$dollar", *dollar);
  }

  static plist::ObjectPtr decode(plist::Decoder& d) {
    auto t = std::make_shared<TestTimer>();
    t->type = d.decodeString("param_Type");
    t->start = d.decodeDate("param_DateStart");
    t->numValue = d.decodeValue("param_numValue");
    t->paused = d.decodeBool("param_Paused");
    t->imgPathNum = d.decodeInteger("param_ImgPathNum").value_or(0);
    t->notice = d.decodeString("param_Notice");
    t->strValue = d.decodeString("param_strValue");
    t->inlineReal = d.decodeDouble("inlineReal").value_or(0);
    t->inlineBool = d.decodeBool("inlineBool").value_or(false);
    t->photo = d.decodeData("photo");
    t->child = d.decodeObjectOfClass<TestTimer>("child");
    t->extra = d.decodeValue("extra");
    t->dollar = d.decodeString("$dollar");
    return t;
  }
};

// A holder of collections of records.
struct Album : plist::Archivable {
  std::vector<std::shared_ptr<TestTimer>> timers;
  std::vector<std::pair<std::string, std::shared_ptr<TestTimer>>> byName;
  std::string className() const override { return "Album"; }
  std::vector<std::string> superclassNames() const override { return {"Collection", "NSObject"}; }
  void encodeWithCoder(plist::Coder& c) const override {
    c.encodeObjectArray("timers", timers);
    c.encodeObjectMap("byName", byName);
  }
  static plist::ObjectPtr decode(plist::Decoder& d) {
    auto a = std::make_shared<Album>();
    a->timers = d.decodeObjectArray<TestTimer>("timers").value_or(std::vector<std::shared_ptr<TestTimer>>{});
    a->byName = d.decodeObjectMap<TestTimer>("byName").value_or(a->byName);
    return a;
  }
};

class KeyedArchiveTest : public ::testing::Test {
 protected:
  KeyedArchiveTest() {
    registry.add("TestTimer", TestTimer::decode);
    registry.add("Album", Album::decode);
  }
  plist::ClassRegistry registry;
};

std::shared_ptr<TestTimer> fullTimer() {
  auto t = std::make_shared<TestTimer>();
  t->type = "Breast Feeding";
  t->start = Date{456789012.5};
  t->numValue = Value(1800);
  t->paused = true;
  t->imgPathNum = -1;
  t->strValue = "Left Breast";
  t->inlineReal = 2.75;
  t->inlineBool = true;
  t->photo = Bytes{0x89, 'P', 'N', 'G', 0};
  t->extra = Value(Dictionary{{"lang", "ru"},
                              {"list", Value(Array{"a", 1, 2.5, Value(), Value(Date{0}), Value(Bytes{7})})},
                              {"nested", Value(Dictionary{{"k", Value(Dictionary{})}})}});
  t->dollar = "kept";
  return t;
}

void expectSameTimer(const TestTimer& a, const TestTimer& b) {
  EXPECT_EQ(a.type, b.type);
  EXPECT_EQ(a.start, b.start);
  EXPECT_EQ(a.numValue, b.numValue);
  EXPECT_EQ(a.paused, b.paused);
  EXPECT_EQ(a.imgPathNum, b.imgPathNum);
  EXPECT_EQ(a.notice, b.notice);
  EXPECT_EQ(a.strValue, b.strValue);
  EXPECT_EQ(a.inlineReal, b.inlineReal);
  EXPECT_EQ(a.inlineBool, b.inlineBool);
  EXPECT_EQ(a.photo, b.photo);
  EXPECT_EQ(a.extra, b.extra);
  EXPECT_EQ(a.dollar, b.dollar);
}

TEST_F(KeyedArchiveTest, ObjectsRoundTripWithEveryFieldKind) {
  auto original = fullTimer();
  original->child = std::make_shared<TestTimer>();
  original->child->type = "Sleep";
  original->child->numValue = Value(3.5);
  auto bytes = plist::archiveRootObject(*original);
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();

  auto back = plist::unarchiveRootObjectOfClass<TestTimer>(*bytes, registry);
  ASSERT_TRUE(back.ok()) << back.error().description();
  ASSERT_NE(*back, nullptr);
  expectSameTimer(**back, *original);
  ASSERT_NE((*back)->child, nullptr);
  expectSameTimer(*(*back)->child, *original->child);
  // Missing fields and nil fields read as nothing.
  EXPECT_FALSE((*back)->notice.has_value());
  EXPECT_FALSE((*back)->child->paused.has_value());
  EXPECT_FALSE((*back)->child->photo.has_value());
  EXPECT_TRUE((*back)->child->extra.isNull());
  // Integers by reference stay integers, reals stay reals.
  EXPECT_NE((*back)->numValue.integer(), nullptr);
  EXPECT_NE((*back)->child->numValue.real(), nullptr);
}

TEST_F(KeyedArchiveTest, WritesThePlatformsLayout) {
  auto timer = std::make_shared<TestTimer>();
  timer->type = "Walk";
  timer->start = Date{100.5};
  timer->imgPathNum = -1;
  timer->paused = false;
  auto bytes = plist::archiveRootObjectArray(std::vector<std::shared_ptr<TestTimer>>{timer});
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();
  EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 8), "bplist00");

  const Value layout = layoutOf(*bytes);
  const Dictionary& top = *layout.dictionary();
  EXPECT_EQ(top.keys(), (std::vector<std::string>{"$version", "$archiver", "$top", "$objects"}));
  EXPECT_EQ(top["$archiver"], Value("NSKeyedArchiver"));
  EXPECT_EQ(top["$version"], Value(100000));
  EXPECT_EQ(top["$top"], Value(Dictionary{{"root", uid(1)}}));
  const Array& objects = *top["$objects"].array();
  ASSERT_GE(objects.size(), 2u);
  EXPECT_EQ(objects[0], Value("$null"));

  // The root array: its elements by reference, its class record after its contents.
  const Dictionary& array = *objects[1].dictionary();
  EXPECT_EQ(array["NS.objects"], Value(Array{uid(2)}));
  const auto arrayClass = *array["$class"].dictionary()->find("CF$UID")->integer();
  EXPECT_EQ(objects[arrayClass],
            Value(Dictionary{{"$classname", "NSArray"}, {"$classes", Value(Array{"NSArray", "NSObject"})}}));

  const Dictionary& record = *objects[2].dictionary();
  auto deref = [&](const Value& ref) -> const Value& {
    return objects[*ref.dictionary()->find("CF$UID")->integer()];
  };
  EXPECT_EQ(deref(record["param_Type"]), Value("Walk"));
  EXPECT_EQ(record["param_Notice"], uid(0));               // nil
  EXPECT_EQ(record["param_ImgPathNum"], Value(-1));        // inline integer
  EXPECT_EQ(record["inlineBool"], Value(false));           // inline boolean
  EXPECT_EQ(deref(record["param_Paused"]), Value(false));  // number object by reference
  const Dictionary& date = *deref(record["param_DateStart"]).dictionary();
  EXPECT_EQ(date["NS.time"], Value(100.5));
  EXPECT_EQ(deref(date["$class"]),
            Value(Dictionary{{"$classname", "NSDate"}, {"$classes", Value(Array{"NSDate", "NSObject"})}}));
  EXPECT_EQ(deref(record["$class"]), Value(Dictionary{{"$classname", "TestTimer"},
                                                      {"$classes", Value(Array{"TestTimer", "NSObject"})}}));
  EXPECT_FALSE(record.contains("$dollar"));
}

TEST_F(KeyedArchiveTest, ValueCollectionsAndEscapedKeysUseThePlatformsRecords) {
  auto timer = std::make_shared<TestTimer>();
  timer->extra = Value(Dictionary{{"k", Value(Array{Value()})}});
  timer->dollar = "x";
  auto bytes = plist::archiveRootObject(*timer);
  ASSERT_TRUE(bytes.ok());
  const Value layout = layoutOf(*bytes);
  const Array& objects = *(*layout.dictionary())["$objects"].array();
  auto deref = [&](const Value& ref) -> const Value& {
    return objects[*ref.dictionary()->find("CF$UID")->integer()];
  };
  const Dictionary& record = *objects[1].dictionary();
  EXPECT_EQ(deref(record["$$dollar"]), Value("x"));
  const Dictionary& dict = *deref(record["extra"]).dictionary();
  EXPECT_EQ(*deref(dict["$class"]).dictionary()->find("$classname"), Value("NSDictionary"));
  ASSERT_EQ(dict["NS.keys"].array()->size(), 1u);
  EXPECT_EQ(deref((*dict["NS.keys"].array())[0]), Value("k"));
  const Dictionary& array = *deref((*dict["NS.objects"].array())[0]).dictionary();
  // Null inside a collection is an NSNull record, never nil.
  const Dictionary& null = *deref((*array["NS.objects"].array())[0]).dictionary();
  EXPECT_EQ(*deref(null["$class"]).dictionary()->find("$classname"), Value("NSNull"));
}

TEST_F(KeyedArchiveTest, SharedObjectsAreWrittenOnceAndStayShared) {
  auto album = std::make_shared<Album>();
  auto a = fullTimer();
  auto b = std::make_shared<TestTimer>();
  b->type = "Bath";
  b->child = a;
  album->timers = {a, b, a};
  album->byName = {{"first", a}, {"second", b}};
  auto bytes = plist::archiveRootObject(*album);
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();

  auto back = plist::unarchiveRootObjectOfClass<Album>(*bytes, registry);
  ASSERT_TRUE(back.ok()) << back.error().description();
  const Album& decoded = **back;
  ASSERT_EQ(decoded.timers.size(), 3u);
  EXPECT_EQ(decoded.timers[0], decoded.timers[2]);
  EXPECT_EQ(decoded.timers[1]->child, decoded.timers[0]);
  ASSERT_EQ(decoded.byName.size(), 2u);
  EXPECT_EQ(decoded.byName[0].first, "first");
  EXPECT_EQ(decoded.byName[0].second, decoded.timers[0]);
  EXPECT_EQ(decoded.byName[1].second, decoded.timers[1]);
  expectSameTimer(*decoded.timers[0], *a);

  const Value layout = layoutOf(*bytes);
  const Array& objects = *(*layout.dictionary())["$objects"].array();
  int timerRecords = 0;
  for (const Value& object : objects) {
    if (object.dictionary() && object.dictionary()->contains("inlineBool")) ++timerRecords;
  }
  EXPECT_EQ(timerRecords, 2);
  // The class record lists the declared superclasses.
  bool sawAlbum = false;
  for (const Value& object : objects) {
    if (object.dictionary() && (*object.dictionary())["$classname"] == Value("Album")) {
      sawAlbum = true;
      EXPECT_EQ((*object.dictionary())["$classes"], Value(Array{"Album", "Collection", "NSObject"}));
    }
  }
  EXPECT_TRUE(sawAlbum);
}

TEST_F(KeyedArchiveTest, RootArraysAndValuesRoundTrip) {
  std::vector<std::shared_ptr<TestTimer>> timers{fullTimer(), std::make_shared<TestTimer>()};
  timers[1]->type = "Note";
  auto bytes = plist::archiveRootObjectArray(timers);
  ASSERT_TRUE(bytes.ok());
  auto back = plist::unarchiveRootObjectArray<TestTimer>(*bytes, registry);
  ASSERT_TRUE(back.ok()) << back.error().description();
  ASSERT_EQ(back->size(), 2u);
  expectSameTimer(*(*back)[0], *timers[0]);
  EXPECT_EQ((*back)[1]->type, "Note");

  auto empty = plist::archiveRootObjectArray(std::vector<std::shared_ptr<TestTimer>>{});
  ASSERT_TRUE(empty.ok());
  auto none = plist::unarchiveRootObjectArray<TestTimer>(*empty, registry);
  ASSERT_TRUE(none.ok());
  EXPECT_TRUE(none->empty());

  const Value values(Dictionary{{"maxBitRateKbps", 500},
                                {"analyticsEnabled", true},
                                {"cookies", Value(Dictionary{{"id", Value(Bytes{1, 2, 3})}})},
                                {"when", Value(Date{-12.25})},
                                {"list", Value(Array{Value(), "x", Value(Array{})})}});
  for (const Value& root : {values, Value(), Value("text"), Value(Date{1}), Value(Array{})}) {
    auto archived = plist::archiveRootValue(root);
    ASSERT_TRUE(archived.ok()) << root.description();
    auto restored = plist::unarchiveRootValue(*archived);
    ASSERT_TRUE(restored.ok()) << restored.error().description();
    EXPECT_EQ(*restored, root);
  }
}

TEST_F(KeyedArchiveTest, TopLevelKeysBesideTheRoot) {
  auto bytes = plist::archive([](plist::Coder& top) {
    top.encodeString("name", "session");
    top.encodeInt("count", 3);
  });
  ASSERT_TRUE(bytes.ok());
  std::optional<std::string> name;
  std::optional<std::int64_t> count;
  bool hasRoot = true;
  auto status = plist::unarchive(*bytes, [&](plist::Decoder& top) {
    name = top.decodeString("name");
    count = top.decodeInteger("count");
    hasRoot = top.containsValue(plist::kRootKey);
  });
  ASSERT_TRUE(status.ok());
  EXPECT_EQ(name, "session");
  EXPECT_EQ(count, 3);
  EXPECT_FALSE(hasRoot);
}

TEST_F(KeyedArchiveTest, ReadsAnArchiveBuiltByHandWithPlistlib) {
  auto back = plist::unarchiveRootObjectArray<TestTimer>(fixture("python_keyed_archive.plist"), registry);
  ASSERT_TRUE(back.ok()) << back.error().description();
  ASSERT_EQ(back->size(), 2u);
  const TestTimer& first = *(*back)[0];
  EXPECT_EQ(first.type, "Breast Feeding");
  // 2015-06-01 12:30:00.25 UTC
  EXPECT_EQ(first.start, Date::fromUnix(1433161800.25));
  EXPECT_EQ(first.numValue, Value(1800));
  EXPECT_EQ(first.paused, true);
  EXPECT_EQ(first.imgPathNum, -1);
  EXPECT_FALSE(first.notice.has_value());
  EXPECT_EQ(first.inlineReal, 2.5);
  EXPECT_TRUE(first.inlineBool);
  EXPECT_EQ(first.photo, (Bytes{0x89, 'P', 'N', 'G'}));
  EXPECT_EQ(first.dollar, "Breast Feeding");

  const TestTimer& second = *(*back)[1];
  EXPECT_EQ(second.type, "Sleep");
  EXPECT_EQ(second.strValue, "Right Breast");  // an NSMutableString record
  EXPECT_EQ(second.numValue, Value(3.75));
  EXPECT_EQ(second.child, (*back)[0]);  // the same object, not a copy
  EXPECT_EQ(second.extra, Value(Dictionary{{"lang", "ru"}, {"when", Value(Date::fromUnix(1433161800.25))}}));

  auto values = plist::unarchiveRootValue(fixture("python_value_archive.plist"));
  ASSERT_TRUE(values.ok()) << values.error().description();
  EXPECT_EQ(*values, Value(Dictionary{{"list", Value(Array{"a", 5, Value(Bytes{1, 2})})},
                                      {"when", Value(Date{0})},
                                      {"none", Value()}}));
}

TEST_F(KeyedArchiveTest, DamagedArchivesAreErrors) {
  struct Case {
    const char* file;
    const char* fragment;
  };
  for (const Case& c :
       {Case{"dangling_uid_archive.plist", "past the end"}, Case{"cycle_archive.plist", "contains itself"},
        Case{"unknown_class_archive.plist", "cannot decode object of class (NoSuchClass)"},
        Case{"wrong_type_archive.plist", "\"param_Type\""},
        Case{"expanding_archive.plist", "expands too far"}, Case{"deep_archive.plist", "nest too deeply"}}) {
    auto back = plist::unarchiveRootObjectArray<TestTimer>(fixture(c.file), registry);
    if (std::string(c.file) == "expanding_archive.plist" || std::string(c.file) == "deep_archive.plist") {
      auto value = plist::unarchiveRootValue(fixture(c.file));
      ASSERT_FALSE(value.ok()) << c.file;
      EXPECT_NE(value.error().localizedDescription().find(c.fragment), std::string::npos)
          << value.error().localizedDescription();
    } else {
      ASSERT_FALSE(back.ok()) << c.file;
      EXPECT_EQ(back.error().domain, plist::kErrorDomain);
      EXPECT_EQ(back.error().code, plist::kCoderReadCorruptError);
      EXPECT_NE(back.error().localizedDescription().find(c.fragment), std::string::npos)
          << back.error().localizedDescription();
    }
  }
}

TEST_F(KeyedArchiveTest, WrongRootsAndNonArchivesAreErrors) {
  auto timer = plist::archiveRootObject(*fullTimer());
  ASSERT_TRUE(timer.ok());
  // An object where an array is expected, an array where an object is, a class of ours in a
  // plain value, and another class where TestTimer is expected.
  EXPECT_FALSE(plist::unarchiveRootObjectArray<TestTimer>(*timer, registry).ok());
  EXPECT_FALSE(plist::unarchiveRootObject(fixture("python_keyed_archive.plist"), registry).ok());
  EXPECT_FALSE(plist::unarchiveRootValue(*timer).ok());
  EXPECT_FALSE(plist::unarchiveRootObjectOfClass<Album>(*timer, registry).ok());
  // A registry without the class.
  plist::ClassRegistry empty;
  EXPECT_FALSE(plist::unarchiveRootObject(*timer, empty).ok());

  // Property lists that are not keyed archives.
  auto plain =
      plist::writePropertyList(Value(Dictionary{{"$top", Value(Dictionary{})}}), plist::Format::Binary);
  ASSERT_TRUE(plain.ok());
  EXPECT_FALSE(plist::unarchiveRootValue(*plain).ok());
  auto array = plist::unarchiveRootValue(fixture("python_array_root.binary.plist"));
  ASSERT_FALSE(array.ok());
  EXPECT_EQ(array.error().code, plist::kCoderReadCorruptError);
  auto wrongVersion = plist::writePropertyList(Value(Dictionary{{"$archiver", "NSKeyedArchiver"},
                                                                {"$version", 99999},
                                                                {"$top", Value(Dictionary{})},
                                                                {"$objects", Value(Array{"$null"})}}),
                                               plist::Format::Xml);
  ASSERT_TRUE(wrongVersion.ok());
  EXPECT_FALSE(plist::unarchiveRootValue(*wrongVersion).ok());
  auto noNull = plist::writePropertyList(Value(Dictionary{{"$archiver", "NSKeyedArchiver"},
                                                          {"$version", 100000},
                                                          {"$top", Value(Dictionary{})},
                                                          {"$objects", Value(Array{"first"})}}),
                                         plist::Format::Xml);
  ASSERT_TRUE(noNull.ok());
  EXPECT_FALSE(plist::unarchiveRootValue(*noNull).ok());
}

TEST_F(KeyedArchiveTest, TruncatedAndCorruptedBytesNeverCrash) {
  auto bytes =
      plist::archiveRootObjectArray(std::vector<std::shared_ptr<TestTimer>>{fullTimer(), fullTimer()});
  ASSERT_TRUE(bytes.ok());
  for (size_t size = 0; size < bytes->size(); ++size) {
    Bytes truncated(bytes->begin(), bytes->begin() + static_cast<std::ptrdiff_t>(size));
    auto back = plist::unarchiveRootObjectArray<TestTimer>(truncated, registry);
    ASSERT_FALSE(back.ok()) << size;
    EXPECT_EQ(back.error().code, plist::kReadCorruptError) << size;
  }
  int survived = 0;
  for (size_t at = 0; at < bytes->size(); ++at) {
    for (std::uint8_t flip : {0x01, 0x04, 0x20, 0x80}) {
      Bytes damaged = *bytes;
      damaged[at] ^= flip;
      auto back = plist::unarchiveRootObjectArray<TestTimer>(damaged, registry);
      if (back.ok()) ++survived;
    }
  }
  // Some flips land in text or numbers and still read; the rest fail cleanly.
  EXPECT_GT(survived, 0);
}

TEST_F(KeyedArchiveTest, DecodersConvertNumbersAndRejectOtherTypes) {
  auto bytes = plist::archive([](plist::Coder& top) {
    top.encodeDouble("real", -3.9);
    top.encodeValue("realRef", Value(7.9));
    top.encodeInt("one", 1);
    top.encodeBool("yes", true);
    top.encodeDouble("huge", 1e300);
    top.encodeString("text", "12");
  });
  ASSERT_TRUE(bytes.ok());
  auto status = plist::unarchive(*bytes, [](plist::Decoder& top) {
    EXPECT_EQ(top.decodeInteger("real"), -3);
    EXPECT_EQ(top.decodeInteger("realRef"), 7);
    EXPECT_EQ(top.decodeBool("one"), true);
    EXPECT_EQ(top.decodeInteger("yes"), 1);
    EXPECT_EQ(top.decodeDouble("one"), 1.0);
    EXPECT_EQ(top.decodeString("missing"), std::nullopt);
    EXPECT_EQ(top.decodeInteger("missing"), std::nullopt);
    EXPECT_FALSE(top.failed());
  });
  EXPECT_TRUE(status.ok());

  auto huge = plist::unarchive(*bytes, [](plist::Decoder& top) { (void)top.decodeInteger("huge"); });
  EXPECT_FALSE(huge.ok());
  auto textAsNumber = plist::unarchive(*bytes, [](plist::Decoder& top) { (void)top.decodeInteger("text"); });
  EXPECT_FALSE(textAsNumber.ok());
  auto numberAsText = plist::unarchive(*bytes, [](plist::Decoder& top) { (void)top.decodeString("one"); });
  EXPECT_FALSE(numberAsText.ok());
  auto numberAsDate = plist::unarchive(*bytes, [](plist::Decoder& top) { (void)top.decodeDate("realRef"); });
  EXPECT_FALSE(numberAsDate.ok());
  auto valueAsObject = plist::unarchive(*bytes, [](plist::Decoder& top) { (void)top.decodeObject("text"); });
  EXPECT_FALSE(valueAsObject.ok());
  auto rejected = plist::unarchive(*bytes, [](plist::Decoder& top) { top.fail("inconsistent fields"); });
  ASSERT_FALSE(rejected.ok());
  EXPECT_NE(rejected.error().localizedDescription().find("inconsistent fields"), std::string::npos);
}

TEST_F(KeyedArchiveTest, AClassMayDeclineAnArchiveAsNil) {
  plist::ClassRegistry declining;
  declining.add("TestTimer", [](plist::Decoder& d) -> plist::ObjectPtr {
    if (d.decodeInteger("param_ImgPathNum") != 7) return nullptr;
    return std::make_shared<TestTimer>();
  });
  auto bytes = plist::archiveRootObject(*fullTimer());
  ASSERT_TRUE(bytes.ok());
  auto back = plist::unarchiveRootObject(*bytes, declining);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(*back, nullptr);
  // Inside an array a declined object has no place.
  auto list = plist::archiveRootObjectArray(std::vector<std::shared_ptr<TestTimer>>{fullTimer()});
  ASSERT_TRUE(list.ok());
  EXPECT_FALSE(plist::unarchiveRootObjectArray<TestTimer>(*list, declining).ok());
}

struct SelfHolder : plist::Archivable {
  std::string className() const override { return "SelfHolder"; }
  void encodeWithCoder(plist::Coder& c) const override { c.encodeObject("me", this); }
};

struct Chain : plist::Archivable {
  std::shared_ptr<Chain> next;
  std::string className() const override { return "Chain"; }
  void encodeWithCoder(plist::Coder& c) const override { c.encodeObject("next", next); }
};

TEST_F(KeyedArchiveTest, UnwritableObjectsFailTheArchive) {
  auto cycle = plist::archiveRootObject(SelfHolder{});
  ASSERT_FALSE(cycle.ok());
  EXPECT_EQ(cycle.error().code, plist::kCoderInvalidValueError);

  auto badText = std::make_shared<TestTimer>();
  badText->type = std::string("\xC3\x28");
  EXPECT_FALSE(plist::archiveRootObject(*badText).ok());

  EXPECT_FALSE(plist::archiveRootObjectArray(std::vector<std::shared_ptr<TestTimer>>{nullptr}).ok());
  EXPECT_FALSE(plist::archive([](plist::Coder& top) { top.fail("no"); }).ok());

  auto head = std::make_shared<Chain>();
  auto tail = head;
  for (int i = 0; i < plist::kMaxDepth + 10; ++i) {
    tail->next = std::make_shared<Chain>();
    tail = tail->next;
  }
  EXPECT_FALSE(plist::archiveRootObject(*head).ok());
  // Break the chain iteratively so its destruction does not recurse deeply.
  while (head) head = std::exchange(head->next, nullptr);
}

}  // namespace
