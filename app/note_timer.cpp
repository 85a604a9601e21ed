#include "app/note_timer.h"

namespace app {

using foundation::Value;

namespace {

// Text fields written as nil when empty.
Value textValue(const std::optional<std::string>& text) { return text ? Value(*text) : Value(); }
Value dateValue(const std::optional<foundation::Date>& date) { return date ? Value(*date) : Value(); }

std::optional<std::string> readText(plist::Decoder& decoder, std::string_view key) {
  Value value = decoder.decodeValue(key);
  if (const std::string* text = value.string()) return *text;
  return std::nullopt;
}

std::optional<foundation::Date> readDate(plist::Decoder& decoder, std::string_view key) {
  Value value = decoder.decodeValue(key);
  if (const foundation::Date* date = value.date()) return *date;
  return std::nullopt;
}

bool isNumeric(const Value& value) { return value.isNumber() || value.boolean() != nullptr; }

}  // namespace

void noteTimer::setParam_numValue(Value value) {
  param_numValue_ = isNumeric(value) ? std::move(value) : Value();
}

void noteTimer::encodeWithCoder(plist::Coder& coder) const {
  coder.encodeValue("param_Type", textValue(param_Type_));
  coder.encodeValue("param_DateStart", dateValue(param_DateStart_));
  coder.encodeValue("param_numMeasureCurrent", textValue(param_numMeasureCurrent_));
  coder.encodeValue("param_numValue", param_numValue_);
  coder.encodeValue("param_strValue", textValue(param_strValue_));
  coder.encodeValue("param_Notice", textValue(param_Notice_));
  coder.encodeValue("param_Paused", param_Paused_ ? Value(*param_Paused_) : Value());
  coder.encodeValue("param_DateLast", dateValue(param_DateLast_));
  coder.encodeValue("param_ImgPathNum",
                    param_ImgPathNum_ ? Value(static_cast<long long>(*param_ImgPathNum_)) : Value());
}

std::shared_ptr<noteTimer> noteTimer::initWithCoder(plist::Decoder& decoder) {
  auto timer = std::make_shared<noteTimer>();
  timer->param_Type_ = readText(decoder, "param_Type");
  timer->param_DateStart_ = readDate(decoder, "param_DateStart");
  timer->param_numMeasureCurrent_ = readText(decoder, "param_numMeasureCurrent");
  timer->setParam_numValue(decoder.decodeValue("param_numValue"));
  timer->param_strValue_ = readText(decoder, "param_strValue");
  timer->param_Notice_ = readText(decoder, "param_Notice");
  {
    Value paused = decoder.decodeValue("param_Paused");
    if (const bool* flag = paused.boolean()) {
      timer->param_Paused_ = *flag;
    } else if (auto number = paused.isNumber() ? paused.toDouble() : std::nullopt) {
      timer->param_Paused_ = *number != 0;
    }
  }
  timer->param_DateLast_ = readDate(decoder, "param_DateLast");
  {
    Value number = decoder.decodeValue("param_ImgPathNum");
    if (number.isNumber()) {
      // A real that does not fit an integer is no photo number.
      const double asDouble = number.toDouble().value_or(0);
      if (asDouble >= -9.0e18 && asDouble <= 9.0e18) timer->param_ImgPathNum_ = number.toInteger();
    }
  }
  return timer;
}

const plist::ClassRegistry& noteTimer::classRegistry() {
  static const plist::ClassRegistry* const registry = [] {
    auto* made = new plist::ClassRegistry;
    made->add(std::string(kClassName),
              [](plist::Decoder& decoder) -> plist::ObjectPtr { return initWithCoder(decoder); });
    return made;
  }();
  return *registry;
}

bool operator==(const noteTimer& a, const noteTimer& b) {
  return a.param_Type_ == b.param_Type_ && a.param_DateStart_ == b.param_DateStart_ &&
         a.param_strValue_ == b.param_strValue_ && a.param_numValue_ == b.param_numValue_ &&
         a.param_numValue_.type() == b.param_numValue_.type() &&
         a.param_numMeasureCurrent_ == b.param_numMeasureCurrent_ && a.param_Notice_ == b.param_Notice_ &&
         a.param_DateLast_ == b.param_DateLast_ && a.param_Paused_ == b.param_Paused_ &&
         a.param_ImgPathNum_ == b.param_ImgPathNum_;
}

foundation::Result<foundation::Bytes> archiveTimerArray(const NoteTimerArray& timers) {
  for (const auto& timer : timers) {
    if (!timer) {
      return foundation::Error::make(std::string(plist::kErrorDomain), plist::kCoderInvalidValueError,
                                     "A timer array cannot hold an empty slot.");
    }
  }
  return plist::archiveRootObjectArray(timers);
}

foundation::Result<NoteTimerArray> unarchiveTimerArray(const foundation::Bytes& data) {
  return plist::unarchiveRootObjectArray<noteTimer>(data, noteTimer::classRegistry());
}

}  // namespace app
