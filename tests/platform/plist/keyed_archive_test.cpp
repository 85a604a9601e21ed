#include "platform/plist/keyed_archive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include "platform/plist/plist_node.h"
#include "support/temp_dir.h"

using foundation::Array;
using foundation::Bytes;
using foundation::Date;
using foundation::Dictionary;
using foundation::Value;

namespace {

Bytes fixture(const std::string& name) {
  std::ifstream in(testing_support::sourceRoot() / "tests/platform/plist/fixtures" / name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The "$objects" of an archive, with references shown as {"CF$UID": n}.
Array objectsOf(const Bytes& archive) {
  auto root = plist::detail::parse(archive.data(), archive.size(), nullptr);
  auto value = plist::detail::toValue(root->get(), true);
  return *(*value->dictionary())["$objects"].array();
}

Value uid(long long n) { return Value(Dictionary{{"CF$UID", n}}); }

// What a reference of an archive's objects points at.
const Value& deref(const Array& objects, const Value& ref) {
  return objects[static_cast<size_t>(*ref.dictionary()->find("CF$UID")->integer())];
}

Value classRecord(const Array& classes) {
  return Value(Dictionary{{"$classname", classes.front()}, {"$classes", Value(classes)}});
}

// The archive of an object; decoding and writing again must give the same bytes.
Bytes archived(const plist::Archivable& object) { return *plist::archiveRootObject(object); }

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

TEST_F(KeyedArchiveTest, ObjectsRoundTripWithEveryFieldKind) {
  auto original = fullTimer();
  original->child = std::make_shared<TestTimer>();
  original->child->type = "Sleep";
  original->child->numValue = Value(3.5);
  auto back = plist::unarchiveRootObjectOfClass<TestTimer>(archived(*original), registry);
  ASSERT_TRUE(back.ok()) << back.error().description();
  ASSERT_NE(*back, nullptr);
  EXPECT_EQ(archived(**back), archived(*original));
  // Missing fields and nil fields read as nothing; integers by reference stay integers.
  EXPECT_FALSE((*back)->notice.has_value());
  EXPECT_FALSE((*back)->child->paused.has_value());
  EXPECT_TRUE((*back)->child->extra.isNull());
  EXPECT_NE((*back)->numValue.integer(), nullptr);
  EXPECT_NE((*back)->child->numValue.real(), nullptr);
}

TEST_F(KeyedArchiveTest, WritesThePlatformsLayout) {
  auto timer = std::make_shared<TestTimer>();
  timer->type = "Walk";
  timer->start = Date{100.5};
  timer->imgPathNum = -1;
  timer->paused = false;
  timer->extra = Value(Dictionary{{"k", Value(Array{Value()})}});
  timer->dollar = "x";
  auto bytes = plist::archiveRootObjectArray(std::vector<std::shared_ptr<TestTimer>>{timer});
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();
  EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 8), "bplist00");
  auto top = plist::detail::toValue(plist::detail::parse(bytes->data(), bytes->size(), nullptr)->get(), true);
  EXPECT_EQ(top->dictionary()->keys(),
            (std::vector<std::string>{"$version", "$archiver", "$top", "$objects"}));
  EXPECT_EQ((*top->dictionary())["$archiver"], Value("NSKeyedArchiver"));
  EXPECT_EQ((*top->dictionary())["$version"], Value(100000));
  EXPECT_EQ((*top->dictionary())["$top"], Value(Dictionary{{"root", uid(1)}}));
  const Array objects = objectsOf(*bytes);
  auto at = [&](const Value& ref) -> const Value& { return deref(objects, ref); };
  EXPECT_EQ(objects[0], Value("$null"));

  // The root array: its elements by reference, its class record after its contents.
  const Dictionary& array = *objects[1].dictionary();
  EXPECT_EQ(array["NS.objects"], Value(Array{uid(2)}));
  EXPECT_EQ(at(array["$class"]), classRecord({"NSArray", "NSObject"}));

  const Dictionary& record = *objects[2].dictionary();
  EXPECT_EQ(at(record["$class"]), classRecord({"TestTimer", "NSObject"}));
  EXPECT_EQ(at(record["param_Type"]), Value("Walk"));
  EXPECT_EQ(record["param_Notice"], uid(0));            // nil
  EXPECT_EQ(record["param_ImgPathNum"], Value(-1));     // inline integer
  EXPECT_EQ(record["inlineBool"], Value(false));        // inline boolean
  EXPECT_EQ(at(record["param_Paused"]), Value(false));  // number object by reference
  EXPECT_EQ(at(record["$$dollar"]), Value("x"));        // "$" keys escaped
  EXPECT_FALSE(record.contains("$dollar"));
  const Dictionary& date = *at(record["param_DateStart"]).dictionary();
  EXPECT_EQ(date["NS.time"], Value(100.5));
  EXPECT_EQ(at(date["$class"]), classRecord({"NSDate", "NSObject"}));
  // Value collections are NSDictionary and NSArray records; null inside one is NSNull, never nil.
  const Dictionary& dict = *at(record["extra"]).dictionary();
  EXPECT_EQ(at(dict["$class"]), classRecord({"NSDictionary", "NSObject"}));
  ASSERT_EQ(dict["NS.keys"].array()->size(), 1u);
  EXPECT_EQ(at((*dict["NS.keys"].array())[0]), Value("k"));
  const Dictionary& list = *at((*dict["NS.objects"].array())[0]).dictionary();
  const Dictionary& null = *at((*list["NS.objects"].array())[0]).dictionary();
  EXPECT_EQ(at(null["$class"]), classRecord({"NSNull", "NSObject"}));
}

TEST_F(KeyedArchiveTest, SharedObjectsAreWrittenOnceAndStayShared) {
  auto album = std::make_shared<Album>();
  auto a = fullTimer();
  auto b = std::make_shared<TestTimer>();
  b->type = "Bath";
  b->child = a;
  album->timers = {a, b, a};
  album->byName = {{"first", a}, {"second", b}};
  const Bytes bytes = archived(*album);
  auto back = plist::unarchiveRootObjectOfClass<Album>(bytes, registry);
  ASSERT_TRUE(back.ok()) << back.error().description();
  const Album& decoded = **back;
  ASSERT_EQ(decoded.timers.size(), 3u);
  EXPECT_EQ(decoded.timers[0], decoded.timers[2]);
  EXPECT_EQ(decoded.timers[1]->child, decoded.timers[0]);
  ASSERT_EQ(decoded.byName.size(), 2u);
  EXPECT_EQ(decoded.byName[0].first, "first");
  EXPECT_EQ(decoded.byName[0].second, decoded.timers[0]);
  EXPECT_EQ(decoded.byName[1].second, decoded.timers[1]);
  EXPECT_EQ(archived(decoded), bytes);

  int timerRecords = 0;
  for (const Value& object : objectsOf(bytes)) {
    if (object.dictionary() && object.dictionary()->contains("inlineBool")) ++timerRecords;
  }
  EXPECT_EQ(timerRecords, 2);
  // The class record lists the declared superclasses.
  const Array objects = objectsOf(bytes);
  EXPECT_EQ(deref(objects, (*objects[1].dictionary())["$class"]),
            classRecord({"Album", "Collection", "NSObject"}));
}

TEST_F(KeyedArchiveTest, RootArraysValuesAndTopLevelKeysRoundTrip) {
  std::vector<std::shared_ptr<TestTimer>> timers{fullTimer(), std::make_shared<TestTimer>()};
  timers[1]->type = "Note";
  auto back = plist::unarchiveRootObjectArray<TestTimer>(*plist::archiveRootObjectArray(timers), registry);
  ASSERT_TRUE(back.ok()) << back.error().description();
  ASSERT_EQ(back->size(), 2u);
  EXPECT_EQ(archived(*(*back)[0]), archived(*timers[0]));
  EXPECT_EQ((*back)[1]->type, "Note");
  auto none = plist::unarchiveRootObjectArray<TestTimer>(
      *plist::archiveRootObjectArray(std::vector<std::shared_ptr<TestTimer>>{}), registry);
  ASSERT_TRUE(none.ok());
  EXPECT_TRUE(none->empty());

  const Value values(Dictionary{{"maxBitRateKbps", 500},
                                {"analyticsEnabled", true},
                                {"cookies", Value(Dictionary{{"id", Value(Bytes{1, 2, 3})}})},
                                {"when", Value(Date{-12.25})},
                                {"list", Value(Array{Value(), "x", Value(Array{})})}});
  for (const Value& root : {values, Value(), Value("text"), Value(Date{1}), Value(Array{})}) {
    auto restored = plist::unarchiveRootValue(*plist::archiveRootValue(root));
    ASSERT_TRUE(restored.ok()) << restored.error().description();
    EXPECT_EQ(*restored, root);
  }

  auto bytes = plist::archive([](plist::Coder& top) {
    top.encodeString("name", "session");
    top.encodeInt("count", 3);
  });
  ASSERT_TRUE(bytes.ok());
  auto status = plist::unarchive(*bytes, [&](plist::Decoder& top) {
    EXPECT_EQ(top.className(), "");
    EXPECT_EQ(top.decodeString("name"), "session");
    EXPECT_EQ(top.decodeInteger("count"), 3);
    EXPECT_FALSE(top.containsValue(plist::kRootKey));
  });
  EXPECT_TRUE(status.ok());
}

// The same archive in XML form, where every reference is a dictionary {"CF$UID": n}.
Bytes asXml(const Bytes& binary) {
  auto tree = plist::detail::parse(binary.data(), binary.size(), nullptr);
  return *plist::detail::serialize(tree->get(), plist::Format::Xml);
}

TEST_F(KeyedArchiveTest, ArchivesInXmlFormReadAsTheirBinaryForm) {
  auto album = std::make_shared<Album>();
  auto a = fullTimer();
  a->child = std::make_shared<TestTimer>();
  auto b = std::make_shared<TestTimer>();
  b->child = a;
  album->timers = {a, b, a};
  album->byName = {{"first", a}};
  const Bytes binary = archived(*album);
  const Bytes xml = asXml(binary);
  ASSERT_NE(std::string(xml.begin(), xml.end()).find("<key>CF$UID</key>"), std::string::npos);
  auto back = plist::unarchiveRootObjectOfClass<Album>(xml, registry);
  ASSERT_TRUE(back.ok()) << back.error().description();
  EXPECT_EQ((*back)->timers[0], (*back)->timers[2]);
  // Written again, an archive read from XML is the binary one it came from, to the byte.
  EXPECT_EQ(archived(**back), binary);

  const Value values(Dictionary{{"list", Value(Array{Value(), "x", 2.5})}, {"when", Value(Date{-12})}});
  auto value = plist::unarchiveRootValue(asXml(*plist::archiveRootValue(values)));
  ASSERT_TRUE(value.ok()) << value.error().description();
  EXPECT_EQ(*value, values);

  // A dictionary that only looks like a reference is refused like any other damage.
  for (const Value& notReference :
       {Value(Dictionary{{"CF$UID", "1"}}), Value(Dictionary{{"CF$UID", 1}, {"extra", 1}}),
        Value(Dictionary{{"CF$UID", 99}})}) {
    const Value archive(Dictionary{{"$archiver", "NSKeyedArchiver"},
                                   {"$version", 100000},
                                   {"$top", Value(Dictionary{{"root", notReference}})},
                                   {"$objects", Value(Array{"$null", "text"})}});
    auto read = plist::unarchiveRootObject(*plist::writePropertyList(archive, plist::Format::Xml), registry);
    ASSERT_FALSE(read.ok()) << notReference.description();
    EXPECT_EQ(read.error().code, plist::kCoderReadCorruptError);
  }
}

TEST_F(KeyedArchiveTest, ReadsAnArchiveBuiltByHandWithPlistlib) {
  auto back = plist::unarchiveRootObjectArray<TestTimer>(fixture("python_keyed_archive.plist"), registry);
  ASSERT_TRUE(back.ok()) << back.error().description();
  ASSERT_EQ(back->size(), 2u);
  const TestTimer& first = *(*back)[0];
  EXPECT_EQ(first.type, "Breast Feeding");
  EXPECT_EQ(first.start, Date::fromUnix(1433161800.25));  // 2015-06-01 12:30:00.25 UTC
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

  EXPECT_EQ(
      *plist::unarchiveRootValue(fixture("python_value_archive.plist")),
      Value(Dictionary{
          {"list", Value(Array{"a", 5, Value(Bytes{1, 2})})}, {"when", Value(Date{0})}, {"none", Value()}}));
}

TEST_F(KeyedArchiveTest, DamagedArchivesAreErrorsThatSayWhy) {
  for (const auto& [file, fragment] : std::vector<std::pair<std::string, std::string>>{
           {"dangling_uid_archive.plist", "past the end"},
           {"cycle_archive.plist", "contains itself"},
           {"unknown_class_archive.plist", "cannot decode object of class (NoSuchClass)"},
           {"wrong_type_archive.plist", "\"param_Type\""}}) {
    auto back = plist::unarchiveRootObjectArray<TestTimer>(fixture(file), registry);
    ASSERT_FALSE(back.ok()) << file;
    EXPECT_EQ(back.error().domain, plist::kErrorDomain);
    EXPECT_EQ(back.error().code, plist::kCoderReadCorruptError);
    EXPECT_NE(back.error().localizedDescription().find(fragment), std::string::npos)
        << back.error().localizedDescription();
  }
  // Values that would expand into 2^64 copies, or nest 2000 deep.
  for (const auto& [file, fragment] : std::vector<std::pair<std::string, std::string>>{
           {"expanding_archive.plist", "expands too far"}, {"deep_archive.plist", "nest too deeply"}}) {
    auto value = plist::unarchiveRootValue(fixture(file));
    ASSERT_FALSE(value.ok()) << file;
    EXPECT_NE(value.error().localizedDescription().find(fragment), std::string::npos)
        << value.error().localizedDescription();
  }
}

TEST_F(KeyedArchiveTest, WrongRootsAndNonArchivesAreErrors) {
  const Bytes timer = archived(*fullTimer());
  // An object where an array is expected, an array where an object is, a class of ours in a
  // plain value, another class where TestTimer is expected, and a registry without the class.
  EXPECT_FALSE(plist::unarchiveRootObjectArray<TestTimer>(timer, registry).ok());
  EXPECT_FALSE(plist::unarchiveRootObject(fixture("python_keyed_archive.plist"), registry).ok());
  EXPECT_FALSE(plist::unarchiveRootValue(timer).ok());
  EXPECT_FALSE(plist::unarchiveRootObjectOfClass<Album>(timer, registry).ok());
  plist::ClassRegistry empty;
  EXPECT_FALSE(plist::unarchiveRootObject(timer, empty).ok());

  // Property lists that are not keyed archives: a dictionary without the archiver's keys, another
  // root, another version, objects that do not start with "$null".
  auto array = plist::unarchiveRootValue(fixture("python_array_root.binary.plist"));
  ASSERT_FALSE(array.ok());
  EXPECT_EQ(array.error().code, plist::kCoderReadCorruptError);
  for (const Dictionary& top : {Dictionary{{"$top", Value(Dictionary{})}},
                                Dictionary{{"$archiver", "NSKeyedArchiver"},
                                           {"$version", 99999},
                                           {"$top", Value(Dictionary{})},
                                           {"$objects", Value(Array{"$null"})}},
                                Dictionary{{"$archiver", "NSKeyedArchiver"},
                                           {"$version", 100000},
                                           {"$top", Value(Dictionary{})},
                                           {"$objects", Value(Array{"first"})}}}) {
    EXPECT_FALSE(plist::unarchiveRootValue(*plist::writePropertyList(Value(top), plist::Format::Xml)).ok())
        << Value(top).description();
  }
}

TEST_F(KeyedArchiveTest, TruncatedAndCorruptedBytesNeverCrash) {
  auto bytes =
      *plist::archiveRootObjectArray(std::vector<std::shared_ptr<TestTimer>>{fullTimer(), fullTimer()});
  for (size_t size = 0; size < bytes.size(); ++size) {
    auto back = plist::unarchiveRootObjectArray<TestTimer>(
        Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)), registry);
    ASSERT_FALSE(back.ok()) << size;
    EXPECT_EQ(back.error().code, plist::kReadCorruptError) << size;
  }
  int survived = 0;
  for (size_t at = 0; at < bytes.size(); ++at) {
    for (std::uint8_t flip : {0x01, 0x04, 0x20, 0x80}) {
      Bytes damaged = bytes;
      damaged[at] ^= flip;
      if (plist::unarchiveRootObjectArray<TestTimer>(damaged, registry).ok()) ++survived;
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
    top.encodeDate("when", Date{-1.5});
  });
  ASSERT_TRUE(bytes.ok());
  auto status = plist::unarchive(*bytes, [](plist::Decoder& top) {
    EXPECT_EQ(top.decodeInteger("real"), -3);
    EXPECT_EQ(top.decodeInteger("realRef"), 7);
    EXPECT_EQ(top.decodeBool("one"), true);
    EXPECT_EQ(top.decodeInteger("yes"), 1);
    EXPECT_EQ(top.decodeDouble("one"), 1.0);
    EXPECT_EQ(top.decodeDate("when"), Date{-1.5});
    EXPECT_EQ(top.decodeString("missing"), std::nullopt);
    EXPECT_EQ(top.decodeInteger("missing"), std::nullopt);
    EXPECT_FALSE(top.failed());
  });
  EXPECT_TRUE(status.ok());

  const std::function<void(plist::Decoder&)> refused[] = {
      [](plist::Decoder& top) { (void)top.decodeInteger("huge"); },
      [](plist::Decoder& top) { (void)top.decodeInteger("text"); },
      [](plist::Decoder& top) { (void)top.decodeString("one"); },
      [](plist::Decoder& top) { (void)top.decodeDate("realRef"); },
      [](plist::Decoder& top) { (void)top.decodeData("text"); },
      [](plist::Decoder& top) { (void)top.decodeObject("text"); },
  };
  for (const auto& read : refused) EXPECT_FALSE(plist::unarchive(*bytes, read).ok());
  auto rejected = plist::unarchive(*bytes, [](plist::Decoder& top) { top.fail("inconsistent fields"); });
  ASSERT_FALSE(rejected.ok());
  EXPECT_NE(rejected.error().localizedDescription().find("inconsistent fields"), std::string::npos);
}

TEST_F(KeyedArchiveTest, AClassMayDeclineAnArchiveAsNilButNotInsideAnArray) {
  plist::ClassRegistry declining;
  declining.add("TestTimer", [](plist::Decoder& d) -> plist::ObjectPtr {
    if (d.decodeInteger("param_ImgPathNum") != 7) return nullptr;
    return std::make_shared<TestTimer>();
  });
  auto back = plist::unarchiveRootObject(archived(*fullTimer()), declining);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(*back, nullptr);
  // The process-wide registry is the default one; a later decoder replaces an earlier one.
  plist::ClassRegistry::shared().add("TestTimer", TestTimer::decode);
  plist::ClassRegistry::shared().add("TestTimer", *declining.find("TestTimer"));
  EXPECT_EQ(*plist::unarchiveRootObject(archived(*fullTimer())), nullptr);
  EXPECT_FALSE(declining.find("Album"));
  auto list = plist::archiveRootObjectArray(std::vector<std::shared_ptr<TestTimer>>{fullTimer()});
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
  for (int i = 0; i < plist::kMaxDepth + 10; ++i) tail = tail->next = std::make_shared<Chain>();
  EXPECT_FALSE(plist::archiveRootObject(*head).ok());
  // Break the chain iteratively so its destruction does not recurse deeply.
  while (head) head = std::exchange(head->next, nullptr);
}

// A dictionary written entry by entry keeps keys of text, data and integers (NSNumber keys, as the
// platform writes them) in both forms; keys of any other kind are refused on writing.
TEST_F(KeyedArchiveTest, EntriesKeepTextDataAndIntegerKeysAndRefuseOthers) {
  const std::vector<plist::DictionaryEntry> entries{{Value("name"), Value(1), nullptr},
                                                    {Value(Bytes{0xFF, 0x00}), Value("bytes"), nullptr},
                                                    {Value(7), Value(Array{}), nullptr},
                                                    {Value(-3), Value(), fullTimer()}};
  auto bytes = plist::archive([&](plist::Coder& top) { top.encodeEntries("map", entries); });
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();
  for (const Bytes& form : {*bytes, asXml(*bytes)}) {
    std::optional<std::vector<plist::DictionaryEntry>> back;
    auto status = plist::unarchive(
        form, [&](plist::Decoder& top) { back = top.decodeEntries("map"); }, registry);
    ASSERT_TRUE(status.ok()) << status.error().description();
    ASSERT_EQ(back->size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ((*back)[i].key, entries[i].key) << i;
      EXPECT_EQ((*back)[i].value, entries[i].value) << i;
    }
    auto timer = std::dynamic_pointer_cast<TestTimer>((*back)[3].object);
    ASSERT_TRUE(timer);
    EXPECT_EQ(archived(*timer), archived(*fullTimer()));
  }

  for (const Value& key : {Value(2.5), Value(true), Value(Date{0}), Value(), Value(Array{})}) {
    auto written = plist::archive([&](plist::Coder& top) {
      top.encodeEntries("map", {{key, Value(1), nullptr}});
    });
    EXPECT_FALSE(written.ok()) << key.description();
  }
  // An entry keyed by any other kind is skipped on reading, the others kept, whether the dictionary
  // is read entry by entry or as a plain value; asked for all entries, the reader hands it back with
  // its key as a plain value (null for an object of a class).
  const std::tuple<Value, const char*, Value> others[] = {
      {Value(2.5), "NSObject", Value(2.5)},
      {Value(true), "NSObject", Value(true)},
      {Value(Dictionary{{"NS.time", 5.0}, {"$class", uid(6)}}), "NSDate", Value(Date{5})},
      {Value(Dictionary{{"$class", uid(6)}}), "TestTimer", Value()},
  };
  for (const auto& [key, keyClass, handedBack] : others) {
    const Value archive(Dictionary{
        {"$archiver", "NSKeyedArchiver"},
        {"$version", 100000},
        {"$top", Value(Dictionary{{"map", uid(1)}, {"root", uid(1)}})},
        {"$objects", Value(Array{"$null",
                                 Value(Dictionary{{"NS.keys", Value(Array{uid(2), uid(3)})},
                                                  {"NS.objects", Value(Array{uid(4), uid(4)})},
                                                  {"$class", uid(5)}}),
                                 key, "kept", 1, classRecord({"NSDictionary", "NSObject"}),
                                 classRecord({keyClass, "NSObject"})})}});
    const Bytes xml = *plist::writePropertyList(archive, plist::Format::Xml);
    std::vector<Value> keys;
    std::vector<Value> allKeys;
    auto read = plist::unarchive(
        xml,
        [&](plist::Decoder& top) {
          for (const auto& entry : top.decodeEntries("map").value_or(std::vector<plist::DictionaryEntry>{}))
            keys.push_back(entry.key);
          for (const auto& entry : top.decodeEntries("map", plist::EntryKeys::kAll)
                                       .value_or(std::vector<plist::DictionaryEntry>{}))
            allKeys.push_back(entry.key);
        },
        registry);
    ASSERT_TRUE(read.ok()) << key.description() << ": " << read.error().localizedDescription();
    EXPECT_EQ(keys, std::vector<Value>{Value("kept")}) << key.description();
    EXPECT_EQ(allKeys, (std::vector<Value>{handedBack, Value("kept")})) << key.description();
    EXPECT_EQ(plist::unarchiveRootValue(xml).valueOr(Value()), Value(Dictionary{{"kept", 1}})) << key.description();
  }
}

}  // namespace
