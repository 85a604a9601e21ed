#include "app/entities.h"

#include "app/model.h"

namespace app {

EntityObject::EntityObject(store::ObjectPtr object, std::string_view entityName) {
  if (object && object->entity().name == entityName) object_ = std::move(object);
}

std::optional<std::string> EntityObject::textAt(size_t attribute) const {
  if (!object_) return std::nullopt;
  const auto* s = object_->value(attribute).string();
  return s ? std::optional<std::string>(*s) : std::nullopt;
}

std::optional<foundation::Date> EntityObject::dateAt(size_t attribute) const {
  if (!object_) return std::nullopt;
  const auto* d = object_->value(attribute).date();
  return d ? std::optional<foundation::Date>(*d) : std::nullopt;
}

std::optional<bool> EntityObject::boolAt(size_t attribute) const {
  if (!object_) return std::nullopt;
  const foundation::Value& v = object_->value(attribute);
  if (const auto* b = v.boolean()) return *b;
  if (auto d = v.toDouble()) return *d != 0;
  return std::nullopt;
}

std::optional<int> EntityObject::intAt(size_t attribute) const {
  if (!object_) return std::nullopt;
  auto i = object_->value(attribute).toInteger();
  return i ? std::optional<int>(static_cast<int>(*i)) : std::nullopt;
}

std::optional<foundation::Decimal> EntityObject::decimalAt(size_t attribute) const {
  if (!object_) return std::nullopt;
  const foundation::Value& v = object_->value(attribute);
  if (const auto* d = v.decimal()) return *d;
  if (auto i = v.integer()) return foundation::Decimal::fromInteger(*i);
  if (auto r = v.real()) return foundation::Decimal::fromDouble(*r);
  return std::nullopt;
}

std::optional<float> EntityObject::floatAt(size_t attribute) const {
  if (!object_) return std::nullopt;
  auto d = object_->value(attribute).toDouble();
  return d ? std::optional<float>(static_cast<float>(*d)) : std::nullopt;
}

void EntityObject::setValueAt(size_t attribute, foundation::Value value) const {
  // The typed setters pass values of the attribute's type, so this fails only for an object
  // that has left its context, which ignores writes.
  if (object_) (void)object_->setValue(attribute, std::move(value));
}

store::ObjectPtr EntityObject::toOneAt(std::string_view relationship) const {
  return object_ ? object_->toOne(relationship) : nullptr;
}

void EntityObject::setToOneAt(std::string_view relationship, const EntityObject& destination) const {
  if (object_) (void)object_->setToOne(relationship, destination.object_);
}

void EntityObject::addToManyAt(std::string_view relationship, const EntityObject& member) const {
  if (object_ && member.object_) (void)object_->addToMany(relationship, member.object_);
}

void EntityObject::removeFromManyAt(std::string_view relationship, const EntityObject& member) const {
  if (object_ && member.object_) (void)object_->removeFromMany(relationship, member.object_);
}

std::vector<Note> Baby::babyToNote() const { return toManyAt<Note>("babyToNote"); }
void Baby::addBabyToNoteObject(const Note& value) const { addToManyAt("babyToNote", value); }
void Baby::removeBabyToNoteObject(const Note& value) const { removeFromManyAt("babyToNote", value); }
std::vector<PhotoInfo> Baby::babyToPhotoInfo() const { return toManyAt<PhotoInfo>("babyToPhotoInfo"); }
void Baby::addBabyToPhotoInfoObject(const PhotoInfo& value) const { addToManyAt("babyToPhotoInfo", value); }
void Baby::removeBabyToPhotoInfoObject(const PhotoInfo& value) const {
  removeFromManyAt("babyToPhotoInfo", value);
}
std::vector<Tooth> Baby::babyToTooth() const { return toManyAt<Tooth>("babyToTooth"); }
void Baby::addBabyToToothObject(const Tooth& value) const { addToManyAt("babyToTooth", value); }
void Baby::removeBabyToToothObject(const Tooth& value) const { removeFromManyAt("babyToTooth", value); }
std::vector<Allergy> Baby::babyToAllergy() const { return toManyAt<Allergy>("babyToAllergy"); }
void Baby::addBabyToAllergyObject(const Allergy& value) const { addToManyAt("babyToAllergy", value); }
void Baby::removeBabyToAllergyObject(const Allergy& value) const { removeFromManyAt("babyToAllergy", value); }
std::vector<Info> Baby::babyToInfo() const { return toManyAt<Info>("babyToInfo"); }
void Baby::addBabyToInfoObject(const Info& value) const { addToManyAt("babyToInfo", value); }
void Baby::removeBabyToInfoObject(const Info& value) const { removeFromManyAt("babyToInfo", value); }
std::vector<Contact> Baby::babyToContact() const { return toManyAt<Contact>("babyToContact"); }
void Baby::addBabyToContactObject(const Contact& value) const { addToManyAt("babyToContact", value); }
void Baby::removeBabyToContactObject(const Contact& value) const { removeFromManyAt("babyToContact", value); }
std::vector<BabyParameter> Baby::babyToParameter() const {
  return toManyAt<BabyParameter>("babyToParameter");
}
void Baby::addBabyToParameterObject(const BabyParameter& value) const {
  addToManyAt("babyToParameter", value);
}
void Baby::removeBabyToParameterObject(const BabyParameter& value) const {
  removeFromManyAt("babyToParameter", value);
}

Baby Note::noteToBaby() const { return Baby(toOneAt("noteToBaby")); }
void Note::setNoteToBaby(const Baby& value) const { setToOneAt("noteToBaby", value); }
PhotoInfo Note::noteToPhotoInfo() const { return PhotoInfo(toOneAt("noteToPhotoInfo")); }
void Note::setNoteToPhotoInfo(const PhotoInfo& value) const { setToOneAt("noteToPhotoInfo", value); }

Baby PhotoInfo::photoInfoToBaby() const { return Baby(toOneAt("photoInfoToBaby")); }
void PhotoInfo::setPhotoInfoToBaby(const Baby& value) const { setToOneAt("photoInfoToBaby", value); }
Note PhotoInfo::photoInfoToNote() const { return Note(toOneAt("photoInfoToNote")); }
void PhotoInfo::setPhotoInfoToNote(const Note& value) const { setToOneAt("photoInfoToNote", value); }

Baby Tooth::toothToBaby() const { return Baby(toOneAt("toothToBaby")); }
void Tooth::setToothToBaby(const Baby& value) const { setToOneAt("toothToBaby", value); }

Baby Allergy::allergyToBaby() const { return Baby(toOneAt("allergyToBaby")); }
void Allergy::setAllergyToBaby(const Baby& value) const { setToOneAt("allergyToBaby", value); }

Baby Info::infoToBaby() const { return Baby(toOneAt("infoToBaby")); }
void Info::setInfoToBaby(const Baby& value) const { setToOneAt("infoToBaby", value); }

Baby Contact::contactToBaby() const { return Baby(toOneAt("contactToBaby")); }
void Contact::setContactToBaby(const Baby& value) const { setToOneAt("contactToBaby", value); }

std::vector<StrValue> ValueType::valueTypeToStrValue() const {
  return toManyAt<StrValue>("valueTypeToStrValue");
}
void ValueType::addValueTypeToStrValueObject(const StrValue& value) const {
  addToManyAt("valueTypeToStrValue", value);
}
void ValueType::removeValueTypeToStrValueObject(const StrValue& value) const {
  removeFromManyAt("valueTypeToStrValue", value);
}

ValueType StrValue::strValueToValueType() const { return ValueType(toOneAt("strValueToValueType")); }
void StrValue::setStrValueToValueType(const ValueType& value) const {
  setToOneAt("strValueToValueType", value);
}

Baby BabyParameter::parameterToBaby() const { return Baby(toOneAt("parameterToBaby")); }
void BabyParameter::setParameterToBaby(const Baby& value) const { setToOneAt("parameterToBaby", value); }

std::optional<std::string> Note::makeSI() const {
  auto stop = note_DateStop();
  if (!stop) return std::nullopt;
  return dayKey(*stop);
}

}  // namespace app
