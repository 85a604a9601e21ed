#include "app/model.h"

#include <cstdint>
#include <cstdio>
#include <optional>

#include "platform/foundation/calendar.h"
#include "platform/foundation/log.h"
#include "platform/foundation/time_zone.h"

namespace app {

namespace {

using store::AttributeType;
using store::DeleteRule;

foundation::Value sectionIdentifierOf(std::span<const foundation::Value> sources) {
  const foundation::Date* stop = sources.empty() ? nullptr : sources[0].date();
  if (!stop) return foundation::Value();
  return foundation::Value(dayKey(*stop));
}

std::shared_ptr<const store::Model> buildModel() {
  // Attributes are declared in the order the entity classes index them.
  store::ModelBuilder builder;
  builder.entity("Baby")
      .attribute("baby_Name", AttributeType::String)
      .attribute("baby_BirthDay", AttributeType::Date)
      .attribute("baby_Gender", AttributeType::Boolean)
      .attribute("baby_Bood", AttributeType::Integer16)
      .toMany("babyToNote", "Note", "noteToBaby", DeleteRule::Cascade)
      .toMany("babyToPhotoInfo", "PhotoInfo", "photoInfoToBaby", DeleteRule::Cascade)
      .toMany("babyToTooth", "Tooth", "toothToBaby", DeleteRule::Cascade)
      .toMany("babyToAllergy", "Allergy", "allergyToBaby", DeleteRule::Cascade)
      .toMany("babyToInfo", "Info", "infoToBaby", DeleteRule::Cascade)
      .toMany("babyToContact", "Contact", "contactToBaby", DeleteRule::Cascade)
      .toMany("babyToParameter", "BabyParameter", "parameterToBaby", DeleteRule::Cascade);
  builder.entity("Note")
      .attribute("note_Type", AttributeType::String)
      .attribute("note_DateStart", AttributeType::Date)
      .attribute("note_DateStop", AttributeType::Date)
      .attribute("note_strValue", AttributeType::String)
      .attribute("note_numValue", AttributeType::Decimal)
      .attribute("note_numMeasureCurrent", AttributeType::String)
      .attribute("note_Notice", AttributeType::String)
      .transient("sectionIdentifier", AttributeType::String, {"note_DateStop"}, sectionIdentifierOf)
      .toOne("noteToBaby", "Baby", "babyToNote", DeleteRule::Nullify)
      .toOne("noteToPhotoInfo", "PhotoInfo", "photoInfoToNote", DeleteRule::Nullify)
      // A baby's notes newest first: the notes list, its day statistics and the editor read them so.
      .index({{"noteToBaby", false}, {"note_DateStop", true}});
  builder.entity("PhotoInfo")
      .attribute("photo_Date", AttributeType::Date)
      .attribute("photo_Path", AttributeType::String)
      .toOne("photoInfoToBaby", "Baby", "babyToPhotoInfo", DeleteRule::Nullify)
      .toOne("photoInfoToNote", "Note", "noteToPhotoInfo", DeleteRule::Nullify);
  builder.entity("Tooth")
      .attribute("tooth_Num", AttributeType::Integer16)
      .attribute("tooth_State", AttributeType::Integer16)
      .attribute("tooth_Date", AttributeType::Date)
      .attribute("tooth_Description", AttributeType::String)
      .toOne("toothToBaby", "Baby", "babyToTooth", DeleteRule::Nullify);
  builder.entity("Allergy")
      .attribute("allergy_Id", AttributeType::String)
      .attribute("allergy_Note", AttributeType::String)
      .toOne("allergyToBaby", "Baby", "babyToAllergy", DeleteRule::Nullify);
  builder.entity("Info")
      .attribute("info_Title", AttributeType::String)
      .attribute("info_Description", AttributeType::String)
      .toOne("infoToBaby", "Baby", "babyToInfo", DeleteRule::Nullify);
  builder.entity("Contact")
      .attribute("contact_FirstName", AttributeType::String)
      .attribute("contact_LastName", AttributeType::String)
      .attribute("contact_Phone", AttributeType::String)
      .attribute("contact_Mail", AttributeType::String)
      .attribute("contact_Address", AttributeType::String)
      .attribute("contact_Description", AttributeType::String)
      .toOne("contactToBaby", "Baby", "babyToContact", DeleteRule::Nullify);
  builder.entity("ValueType")
      .attribute("vt_Type", AttributeType::String)
      .attribute("vt_StrCurrent", AttributeType::String)
      .attribute("vt_NumCurrent", AttributeType::Float)
      .attribute("vt_NumMeasureCurrent", AttributeType::String)
      .toMany("valueTypeToStrValue", "StrValue", "strValueToValueType", DeleteRule::Cascade);
  builder.entity("StrValue")
      .attribute("strValue", AttributeType::String)
      .toOne("strValueToValueType", "ValueType", "valueTypeToStrValue", DeleteRule::Nullify);
  builder.entity("BabyParameter")
      .attribute("param_Type", AttributeType::String)
      .attribute("param_DateStart", AttributeType::Date)
      .attribute("param_DateStop", AttributeType::Date)
      .attribute("param_strValue", AttributeType::String)
      .attribute("param_numValue", AttributeType::Decimal)
      .attribute("param_numMeasureCurrent", AttributeType::String)
      .attribute("param_Notice", AttributeType::String)
      .toOne("parameterToBaby", "Baby", "babyToParameter", DeleteRule::Nullify);
  auto model = builder.build();
  // The declaration above is fixed; it can only fail through a programming error.
  if (!model) foundation::fatal("The diary's model is invalid: " + model.error().description());
  return *model;
}

}  // namespace

std::shared_ptr<const store::Model> managedObjectModel() {
  static const std::shared_ptr<const store::Model> model = buildModel();
  return model;
}

std::string dayKey(foundation::Date date) {
  // The device's current calendar: the Gregorian one in the zone local times are taken in (the
  // default zone when one is set, else the system's), the same zone the day texts and day
  // statistics use. Notes come sorted by date, so most keys fall in the day of the one before:
  // keep that day's bounds per thread, with the zone's generation they were computed under. Taking
  // the zone itself costs a lock; its generation is one load, and any change of zone changes it.
  struct Cache {
    double start = 1;
    double end = 0;
    std::uint64_t generation = 0;
    std::string key;
    std::optional<foundation::Calendar> calendar;
  };
  thread_local Cache cache;
  const std::uint64_t generation = foundation::TimeZone::localGeneration();
  const double seconds = date.sinceReference;
  if (seconds >= cache.start && seconds < cache.end && generation == cache.generation) return cache.key;

  // The generation is read before the zone: a change in between leaves a stale generation
  // behind, so the next call computes again rather than trusting the wrong zone.
  const foundation::TimeZone zone = foundation::TimeZone::local();
  if (!cache.calendar || !(cache.calendar->timeZone() == zone))
    cache.calendar = foundation::Calendar::gregorian(zone);
  const foundation::Calendar& calendar = *cache.calendar;
  using foundation::CalendarUnit;
  const auto parts = calendar.components(CalendarUnit::Year | CalendarUnit::Month | CalendarUnit::Day, date);
  if (!parts || !parts->year || !parts->month || !parts->day) return std::string();
  const int month = *parts->month;
  const int day = *parts->day;
  char text[32];
  std::snprintf(text, sizeof text, "%d%s%d%s%d", *parts->year, month < 10 ? "0" : "", month,
                day < 10 ? "0" : "", day);

  const auto start = calendar.startOfDay(date);
  const auto end = start ? calendar.dateByAddingUnit(CalendarUnit::Day, 1, *start) : std::nullopt;
  if (start && end && *start <= date && date < *end) {
    cache.start = start->sinceReference;
    cache.end = end->sinceReference;
    cache.generation = generation;
    cache.key = text;
  }
  return text;
}

}  // namespace app
