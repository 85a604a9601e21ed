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

TEST(NoteTimerTest, ArraysRoundTripAsPlatformKeyedArchivesWithEveryFieldAndItsKind) {
  const NoteTimerArray timers{stopwatch("Walk", 0), breastFeeding(), stopwatch("Sleep", -1)};
  const foundation::Bytes bytes = archiveTimerArray(timers).value();
  EXPECT_EQ(plist::detectFormat(bytes.data(), bytes.size()), plist::Format::Binary);
  // Every field has its key, the empty ones too (written as nil).
  for (std::string_view key : {"NSKeyedArchiver", "noteTimer", "NSArray", "param_Type", "param_DateStart",
                               "param_numMeasureCurrent", "param_numValue", "param_strValue", "param_Notice",
                               "param_Paused", "param_DateLast", "param_ImgPathNum"}) {
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), key.begin(), key.end()), bytes.end()) << key;
  }
  auto back = unarchiveTimerArray(bytes);
  ASSERT_TRUE(back.ok()) << back.error().description();
  ASSERT_EQ(back->size(), 3u);
  // Equality includes the kind of number: the left side's seconds stay an integer, 36.6 a real.
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(*(*back)[i], *timers[i]) << i;
  // Fields a stopwatch leaves empty come back empty; no photo stays -1, not photo number 0.
  const noteTimer& sleep = *(*back)[2];
  EXPECT_FALSE(sleep.param_DateLast() || sleep.param_Paused() || sleep.param_strValue() ||
               sleep.param_Notice());
  EXPECT_EQ(sleep.param_ImgPathNum(), std::optional<std::int64_t>(-1));
  EXPECT_TRUE(unarchiveTimerArray(*archiveTimerArray({})).value().empty());
  EXPECT_FALSE(archiveTimerArray({breastFeeding(), nullptr}).ok()) << "an empty slot is refused";

  // Damaged or foreign data is an error, not a crash: truncated archives, a keyed archive whose root
  // is text, a property list that is no keyed archive.
  for (size_t cut : {size_t{0}, bytes.size() / 2, bytes.size() - 1})
    EXPECT_FALSE(unarchiveTimerArray(foundation::Bytes(bytes.begin(), bytes.begin() + cut)).ok()) << cut;
  EXPECT_FALSE(unarchiveTimerArray(*plist::archiveRootValue(Value("not timers"))).ok());
  EXPECT_FALSE(
      unarchiveTimerArray(*plist::writePropertyList(Value(foundation::Array{"a"}), plist::Format::Xml)).ok());
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

}  // namespace
}  // namespace app
