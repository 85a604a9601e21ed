#include "app/note_timer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/plist/property_list.h"

namespace app {
namespace {

using foundation::Date;
using foundation::Value;

std::shared_ptr<noteTimer> breastFeeding() {
  auto timer = std::make_shared<noteTimer>();
  timer->setParam_Type("Breast Feeding");
  timer->setParam_DateStart(Date{450000000.5});
  timer->setParam_strValue("Right Breast");
  timer->setParam_numValue(Value(754L));
  timer->setParam_numMeasureCurrent("312");
  timer->setParam_Notice("Сон после купания");
  timer->setParam_DateLast(Date{450001066});
  timer->setParam_Paused(true);
  timer->setParam_ImgPathNum(2);
  return timer;
}

std::shared_ptr<noteTimer> stopwatch(std::string type, std::int64_t photo) {
  auto timer = std::make_shared<noteTimer>();
  timer->setParam_Type(std::move(type));
  timer->setParam_DateStart(Date{450000000});
  timer->setParam_numValue(Value(36.6));
  timer->setParam_numMeasureCurrent("Notation_celsius");
  timer->setParam_ImgPathNum(photo);
  return timer;
}

NoteTimerArray roundTrip(const NoteTimerArray& timers) {
  auto bytes = archiveTimerArray(timers);
  EXPECT_TRUE(bytes.ok());
  if (!bytes) return {};
  auto back = unarchiveTimerArray(*bytes);
  EXPECT_TRUE(back.ok()) << back.error().description();
  return back ? *back : NoteTimerArray{};
}

TEST(NoteTimerTest, EveryFieldSurvivesTheArchiveWithItsKind) {
  const auto original = breastFeeding();
  const NoteTimerArray back = roundTrip({original});
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(*back[0], *original);
  // The left side's seconds stay an integer, a real stays a real.
  EXPECT_NE(back[0]->param_numValue().integer(), nullptr);
  const NoteTimerArray other = roundTrip({stopwatch("Temperature", 0)});
  ASSERT_EQ(other.size(), 1u);
  ASSERT_NE(other[0]->param_numValue().real(), nullptr);
  EXPECT_DOUBLE_EQ(*other[0]->param_numValue().real(), 36.6);
}

TEST(NoteTimerTest, RecordWithoutBreastFieldsReadsThemEmpty) {
  const NoteTimerArray back = roundTrip({stopwatch("Sleep", -1)});
  ASSERT_EQ(back.size(), 1u);
  EXPECT_FALSE(back[0]->param_DateLast().has_value());
  EXPECT_FALSE(back[0]->param_Paused().has_value());
  EXPECT_FALSE(back[0]->param_strValue().has_value());
  EXPECT_FALSE(back[0]->param_Notice().has_value());
  // No photo stays "no photo", not photo number 0.
  EXPECT_EQ(back[0]->param_ImgPathNum(), std::optional<std::int64_t>(-1));
}

TEST(NoteTimerTest, ArrayKeepsOrderOfDifferentTypes) {
  const NoteTimerArray back = roundTrip({stopwatch("Walk", 0), breastFeeding(), stopwatch("Sleep", 1)});
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0]->param_Type(), std::optional<std::string>("Walk"));
  EXPECT_EQ(back[1]->param_Type(), std::optional<std::string>("Breast Feeding"));
  EXPECT_EQ(back[2]->param_Type(), std::optional<std::string>("Sleep"));
  EXPECT_TRUE(roundTrip({}).empty());
}

bool holds(const foundation::Bytes& data, std::string_view text) {
  return std::search(data.begin(), data.end(), text.begin(), text.end()) != data.end();
}

TEST(NoteTimerTest, ArchiveIsAPlatformKeyedArchiveWithEveryKey) {
  auto bytes = archiveTimerArray({stopwatch("Sleep", -1)});
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(plist::detectFormat(bytes->data(), bytes->size()), plist::Format::Binary);
  EXPECT_TRUE(holds(*bytes, "NSKeyedArchiver"));
  EXPECT_TRUE(holds(*bytes, "noteTimer"));
  EXPECT_TRUE(holds(*bytes, "NSArray"));
  // Every field has its key, the empty ones too (written as nil).
  for (const char* key :
       {"param_Type", "param_DateStart", "param_numMeasureCurrent", "param_numValue", "param_strValue",
        "param_Notice", "param_Paused", "param_DateLast", "param_ImgPathNum"}) {
    EXPECT_TRUE(holds(*bytes, key)) << key;
  }
}

TEST(NoteTimerTest, DamagedOrForeignDataIsAnErrorNotACrash) {
  auto bytes = archiveTimerArray({breastFeeding(), stopwatch("Sleep", 0)});
  ASSERT_TRUE(bytes.ok());
  for (size_t cut : {size_t{0}, size_t{8}, bytes->size() / 2, bytes->size() - 1}) {
    foundation::Bytes truncated(bytes->begin(), bytes->begin() + static_cast<long>(cut));
    EXPECT_FALSE(unarchiveTimerArray(truncated).ok()) << cut;
  }
  // A keyed archive whose root is text, and one of another class.
  auto text = plist::archiveRootValue(Value("not timers"));
  ASSERT_TRUE(text.ok());
  EXPECT_FALSE(unarchiveTimerArray(*text).ok());
  auto xml = plist::writePropertyList(Value(foundation::Array{Value("a")}), plist::Format::Xml);
  ASSERT_TRUE(xml.ok());
  EXPECT_FALSE(unarchiveTimerArray(*xml).ok());
}

TEST(NoteTimerTest, FieldOfTheWrongKindIsLeftEmptyAndTheRestKept) {
  struct Odd : plist::Archivable {
    std::string className() const override { return "noteTimer"; }
    void encodeWithCoder(plist::Coder& coder) const override {
      coder.encodeValue("param_Type", Value(12));
      coder.encodeValue("param_DateStart", Value("yesterday"));
      coder.encodeValue("param_numValue", Value("many"));
      coder.encodeValue("param_Notice", Value("kept"));
      coder.encodeValue("param_ImgPathNum", Value(3));
    }
  };
  auto bytes = plist::archiveRootObjectArray(std::vector<std::shared_ptr<Odd>>{std::make_shared<Odd>()});
  ASSERT_TRUE(bytes.ok());
  auto back = unarchiveTimerArray(*bytes);
  ASSERT_TRUE(back.ok());
  ASSERT_EQ(back->size(), 1u);
  const noteTimer& timer = *(*back)[0];
  EXPECT_FALSE(timer.param_Type().has_value());
  EXPECT_FALSE(timer.param_DateStart().has_value());
  EXPECT_TRUE(timer.param_numValue().isNull());
  EXPECT_EQ(timer.param_Notice(), std::optional<std::string>("kept"));
  EXPECT_EQ(timer.param_ImgPathNum(), std::optional<std::int64_t>(3));
}

TEST(NoteTimerTest, ArrayWithAnEmptySlotIsRefused) {
  EXPECT_FALSE(archiveTimerArray({breastFeeding(), nullptr}).ok());
}

}  // namespace
}  // namespace app
