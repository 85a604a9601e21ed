#include "app/model.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "platform/foundation/log.h"

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
      .toOne("noteToPhotoInfo", "PhotoInfo", "photoInfoToNote", DeleteRule::Nullify);
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
  // Notes come sorted by date, so most keys fall in the day of the one before: keep that day's
  // bounds (and the time zone they were computed in) per thread.
  struct Cache {
    double start = 1;
    double end = 0;
    std::string zone;
    std::string key;
  };
  thread_local Cache cache;
  const double unixSeconds = date.unix();
  const char* zoneVariable = std::getenv("TZ");
  const std::string_view zone = zoneVariable ? zoneVariable : "";
  if (unixSeconds >= cache.start && unixSeconds < cache.end && zone == cache.zone) return cache.key;

  tzset();
  const std::time_t t = static_cast<std::time_t>(std::floor(unixSeconds));
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%d%s%d%s%d", local.tm_year + 1900, local.tm_mon + 1 < 10 ? "0" : "",
                local.tm_mon + 1, local.tm_mday < 10 ? "0" : "", local.tm_mday);

  std::tm midnight = local;
  midnight.tm_hour = midnight.tm_min = midnight.tm_sec = 0;
  midnight.tm_isdst = -1;
  std::tm next = midnight;
  next.tm_mday += 1;
  const std::time_t start = std::mktime(&midnight);
  const std::time_t end = std::mktime(&next);
  if (start != -1 && end != -1 && static_cast<double>(start) <= unixSeconds &&
      unixSeconds < static_cast<double>(end)) {
    cache.start = static_cast<double>(start);
    cache.end = static_cast<double>(end);
    cache.zone = std::string(zone);
    cache.key = text;
  }
  return text;
}

}  // namespace app
