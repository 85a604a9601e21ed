#pragma once
// The entity classes of the diary's store: typed views of store objects with the property names
// the screens use (`baby_Name`, `note_DateStop`, `noteToBaby`, ...). Each wraps a shared object
// of its context; an empty one (no object) reads nothing and ignores writes, as does one whose
// object has left its context.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/decimal.h"
#include "platform/foundation/value.h"
#include "platform/store/context.h"
#include "platform/store/object.h"

namespace app {

class Baby;
class Note;
class PhotoInfo;
class Tooth;
class Allergy;
class Info;
class Contact;
class ValueType;
class StrValue;
class BabyParameter;

class EntityObject {
 public:
  EntityObject() = default;

  const store::ObjectPtr& object() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  bool isDeleted() const { return object_ && object_->isDeleted(); }
  friend bool operator==(const EntityObject& a, const EntityObject& b) { return a.object_ == b.object_; }

 protected:
  // Keeps the object only when it belongs to the named entity.
  EntityObject(store::ObjectPtr object, std::string_view entityName);

  std::optional<std::string> textAt(size_t attribute) const;
  std::optional<foundation::Date> dateAt(size_t attribute) const;
  std::optional<bool> boolAt(size_t attribute) const;
  std::optional<int> intAt(size_t attribute) const;
  std::optional<foundation::Decimal> decimalAt(size_t attribute) const;
  std::optional<float> floatAt(size_t attribute) const;
  template <class T>
  void setAt(size_t attribute, const std::optional<T>& value) const {
    setValueAt(attribute, value ? foundation::Value(*value) : foundation::Value());
  }
  void setAt(size_t attribute, const std::optional<float>& value) const {
    setValueAt(attribute, value ? foundation::Value(static_cast<double>(*value)) : foundation::Value());
  }
  void setValueAt(size_t attribute, foundation::Value value) const;

  store::ObjectPtr toOneAt(std::string_view relationship) const;
  void setToOneAt(std::string_view relationship, const EntityObject& destination) const;
  template <class T>
  std::vector<T> toManyAt(std::string_view relationship) const {
    std::vector<T> out;
    if (!object_) return out;
    for (auto& member : object_->toMany(relationship)) out.push_back(T(std::move(member)));
    return out;
  }
  void addToManyAt(std::string_view relationship, const EntityObject& member) const;
  void removeFromManyAt(std::string_view relationship, const EntityObject& member) const;

  store::ObjectPtr object_;
};

// One baby; its name is its identity.
class Baby : public EntityObject {
 public:
  static constexpr std::string_view kEntityName = "Baby";
  // Positions of the attributes in the entity.
  enum Attribute : size_t { kBaby_Name, kBaby_BirthDay, kBaby_Gender, kBaby_Bood };

  Baby() = default;
  // The object as a Baby; empty when it is of another entity.
  explicit Baby(store::ObjectPtr object) : EntityObject(std::move(object), kEntityName) {}
  // A new Baby inserted into the context.
  static Baby insertIn(store::Context& context) { return Baby(context.insertNewObject(kEntityName)); }

  std::optional<std::string> baby_Name() const { return textAt(kBaby_Name); }
  void setBaby_Name(std::optional<std::string> value) const { setAt(kBaby_Name, value); }
  std::optional<foundation::Date> baby_BirthDay() const { return dateAt(kBaby_BirthDay); }
  void setBaby_BirthDay(std::optional<foundation::Date> value) const { setAt(kBaby_BirthDay, value); }
  std::optional<bool> baby_Gender() const { return boolAt(kBaby_Gender); }
  void setBaby_Gender(std::optional<bool> value) const { setAt(kBaby_Gender, value); }
  std::optional<int> baby_Bood() const { return intAt(kBaby_Bood); }
  void setBaby_Bood(std::optional<int> value) const { setAt(kBaby_Bood, value); }
  std::vector<Note> babyToNote() const;
  void addBabyToNoteObject(const Note& value) const;
  void removeBabyToNoteObject(const Note& value) const;
  std::vector<PhotoInfo> babyToPhotoInfo() const;
  void addBabyToPhotoInfoObject(const PhotoInfo& value) const;
  void removeBabyToPhotoInfoObject(const PhotoInfo& value) const;
  std::vector<Tooth> babyToTooth() const;
  void addBabyToToothObject(const Tooth& value) const;
  void removeBabyToToothObject(const Tooth& value) const;
  std::vector<Allergy> babyToAllergy() const;
  void addBabyToAllergyObject(const Allergy& value) const;
  void removeBabyToAllergyObject(const Allergy& value) const;
  std::vector<Info> babyToInfo() const;
  void addBabyToInfoObject(const Info& value) const;
  void removeBabyToInfoObject(const Info& value) const;
  std::vector<Contact> babyToContact() const;
  void addBabyToContactObject(const Contact& value) const;
  void removeBabyToContactObject(const Contact& value) const;
  std::vector<BabyParameter> babyToParameter() const;
  void addBabyToParameterObject(const BabyParameter& value) const;
  void removeBabyToParameterObject(const BabyParameter& value) const;
};

// One diary entry.
class Note : public EntityObject {
 public:
  static constexpr std::string_view kEntityName = "Note";
  // Positions of the attributes in the entity.
  enum Attribute : size_t {
    kNote_Type,
    kNote_DateStart,
    kNote_DateStop,
    kNote_strValue,
    kNote_numValue,
    kNote_numMeasureCurrent,
    kNote_Notice,
    kSectionIdentifier
  };

  Note() = default;
  // The object as a Note; empty when it is of another entity.
  explicit Note(store::ObjectPtr object) : EntityObject(std::move(object), kEntityName) {}
  // A new Note inserted into the context.
  static Note insertIn(store::Context& context) { return Note(context.insertNewObject(kEntityName)); }

  std::optional<std::string> note_Type() const { return textAt(kNote_Type); }
  void setNote_Type(std::optional<std::string> value) const { setAt(kNote_Type, value); }
  std::optional<foundation::Date> note_DateStart() const { return dateAt(kNote_DateStart); }
  void setNote_DateStart(std::optional<foundation::Date> value) const { setAt(kNote_DateStart, value); }
  std::optional<foundation::Date> note_DateStop() const { return dateAt(kNote_DateStop); }
  // Stores the stop date and recomputes the day key at once.
  void setNote_DateStop(std::optional<foundation::Date> value) const { setAt(kNote_DateStop, value); }
  std::optional<std::string> note_strValue() const { return textAt(kNote_strValue); }
  void setNote_strValue(std::optional<std::string> value) const { setAt(kNote_strValue, value); }
  std::optional<foundation::Decimal> note_numValue() const { return decimalAt(kNote_numValue); }
  void setNote_numValue(std::optional<foundation::Decimal> value) const { setAt(kNote_numValue, value); }
  std::optional<std::string> note_numMeasureCurrent() const { return textAt(kNote_numMeasureCurrent); }
  void setNote_numMeasureCurrent(std::optional<std::string> value) const {
    setAt(kNote_numMeasureCurrent, value);
  }
  std::optional<std::string> note_Notice() const { return textAt(kNote_Notice); }
  void setNote_Notice(std::optional<std::string> value) const { setAt(kNote_Notice, value); }
  Baby noteToBaby() const;
  void setNoteToBaby(const Baby& value) const;
  PhotoInfo noteToPhotoInfo() const;
  void setNoteToPhotoInfo(const PhotoInfo& value) const;

  // The day key of the note's stop date: the stored one, else computed now and kept.
  std::optional<std::string> sectionIdentifier() const { return textAt(kSectionIdentifier); }
  // The day key of the current stop date.
  std::optional<std::string> makeSI() const;
  // Keys whose change changes the day key.
  static std::vector<std::string> keyPathsForValuesAffectingSectionIdentifier() { return {"note_DateStop"}; }
};

// The photo of a note.
class PhotoInfo : public EntityObject {
 public:
  static constexpr std::string_view kEntityName = "PhotoInfo";
  // Positions of the attributes in the entity.
  enum Attribute : size_t { kPhoto_Date, kPhoto_Path };

  PhotoInfo() = default;
  // The object as a PhotoInfo; empty when it is of another entity.
  explicit PhotoInfo(store::ObjectPtr object) : EntityObject(std::move(object), kEntityName) {}
  // A new PhotoInfo inserted into the context.
  static PhotoInfo insertIn(store::Context& context) {
    return PhotoInfo(context.insertNewObject(kEntityName));
  }

  std::optional<foundation::Date> photo_Date() const { return dateAt(kPhoto_Date); }
  void setPhoto_Date(std::optional<foundation::Date> value) const { setAt(kPhoto_Date, value); }
  std::optional<std::string> photo_Path() const { return textAt(kPhoto_Path); }
  void setPhoto_Path(std::optional<std::string> value) const { setAt(kPhoto_Path, value); }
  Baby photoInfoToBaby() const;
  void setPhotoInfoToBaby(const Baby& value) const;
  Note photoInfoToNote() const;
  void setPhotoInfoToNote(const Note& value) const;
};

// One tooth event: 10 appeared, 20 lost.
class Tooth : public EntityObject {
 public:
  static constexpr std::string_view kEntityName = "Tooth";
  // Positions of the attributes in the entity.
  enum Attribute : size_t { kTooth_Num, kTooth_State, kTooth_Date, kTooth_Description };

  Tooth() = default;
  // The object as a Tooth; empty when it is of another entity.
  explicit Tooth(store::ObjectPtr object) : EntityObject(std::move(object), kEntityName) {}
  // A new Tooth inserted into the context.
  static Tooth insertIn(store::Context& context) { return Tooth(context.insertNewObject(kEntityName)); }

  std::optional<int> tooth_Num() const { return intAt(kTooth_Num); }
  void setTooth_Num(std::optional<int> value) const { setAt(kTooth_Num, value); }
  std::optional<int> tooth_State() const { return intAt(kTooth_State); }
  void setTooth_State(std::optional<int> value) const { setAt(kTooth_State, value); }
  std::optional<foundation::Date> tooth_Date() const { return dateAt(kTooth_Date); }
  void setTooth_Date(std::optional<foundation::Date> value) const { setAt(kTooth_Date, value); }
  std::optional<std::string> tooth_Description() const { return textAt(kTooth_Description); }
  void setTooth_Description(std::optional<std::string> value) const { setAt(kTooth_Description, value); }
  Baby toothToBaby() const;
  void setToothToBaby(const Baby& value) const;
};

// An allergy of a baby.
class Allergy : public EntityObject {
 public:
  static constexpr std::string_view kEntityName = "Allergy";
  // Positions of the attributes in the entity.
  enum Attribute : size_t { kAllergy_Id, kAllergy_Note };

  Allergy() = default;
  // The object as a Allergy; empty when it is of another entity.
  explicit Allergy(store::ObjectPtr object) : EntityObject(std::move(object), kEntityName) {}
  // A new Allergy inserted into the context.
  static Allergy insertIn(store::Context& context) { return Allergy(context.insertNewObject(kEntityName)); }

  std::optional<std::string> allergy_Id() const { return textAt(kAllergy_Id); }
  void setAllergy_Id(std::optional<std::string> value) const { setAt(kAllergy_Id, value); }
  std::optional<std::string> allergy_Note() const { return textAt(kAllergy_Note); }
  void setAllergy_Note(std::optional<std::string> value) const { setAt(kAllergy_Note, value); }
  Baby allergyToBaby() const;
  void setAllergyToBaby(const Baby& value) const;
};

// An information text of a baby.
class Info : public EntityObject {
 public:
  static constexpr std::string_view kEntityName = "Info";
  // Positions of the attributes in the entity.
  enum Attribute : size_t { kInfo_Title, kInfo_Description };

  Info() = default;
  // The object as a Info; empty when it is of another entity.
  explicit Info(store::ObjectPtr object) : EntityObject(std::move(object), kEntityName) {}
  // A new Info inserted into the context.
  static Info insertIn(store::Context& context) { return Info(context.insertNewObject(kEntityName)); }

  std::optional<std::string> info_Title() const { return textAt(kInfo_Title); }
  void setInfo_Title(std::optional<std::string> value) const { setAt(kInfo_Title, value); }
  std::optional<std::string> info_Description() const { return textAt(kInfo_Description); }
  void setInfo_Description(std::optional<std::string> value) const { setAt(kInfo_Description, value); }
  Baby infoToBaby() const;
  void setInfoToBaby(const Baby& value) const;
};

// A contact of a baby.
class Contact : public EntityObject {
 public:
  static constexpr std::string_view kEntityName = "Contact";
  // Positions of the attributes in the entity.
  enum Attribute : size_t {
    kContact_FirstName,
    kContact_LastName,
    kContact_Phone,
    kContact_Mail,
    kContact_Address,
    kContact_Description
  };

  Contact() = default;
  // The object as a Contact; empty when it is of another entity.
  explicit Contact(store::ObjectPtr object) : EntityObject(std::move(object), kEntityName) {}
  // A new Contact inserted into the context.
  static Contact insertIn(store::Context& context) { return Contact(context.insertNewObject(kEntityName)); }

  std::optional<std::string> contact_FirstName() const { return textAt(kContact_FirstName); }
  void setContact_FirstName(std::optional<std::string> value) const { setAt(kContact_FirstName, value); }
  std::optional<std::string> contact_LastName() const { return textAt(kContact_LastName); }
  void setContact_LastName(std::optional<std::string> value) const { setAt(kContact_LastName, value); }
  std::optional<std::string> contact_Phone() const { return textAt(kContact_Phone); }
  void setContact_Phone(std::optional<std::string> value) const { setAt(kContact_Phone, value); }
  std::optional<std::string> contact_Mail() const { return textAt(kContact_Mail); }
  void setContact_Mail(std::optional<std::string> value) const { setAt(kContact_Mail, value); }
  std::optional<std::string> contact_Address() const { return textAt(kContact_Address); }
  void setContact_Address(std::optional<std::string> value) const { setAt(kContact_Address, value); }
  std::optional<std::string> contact_Description() const { return textAt(kContact_Description); }
  void setContact_Description(std::optional<std::string> value) const { setAt(kContact_Description, value); }
  Baby contactToBaby() const;
  void setContactToBaby(const Baby& value) const;
};

// One row per note type: its last values, unit and sub-values.
class ValueType : public EntityObject {
 public:
  static constexpr std::string_view kEntityName = "ValueType";
  // Positions of the attributes in the entity.
  enum Attribute : size_t { kVt_Type, kVt_StrCurrent, kVt_NumCurrent, kVt_NumMeasureCurrent };

  ValueType() = default;
  // The object as a ValueType; empty when it is of another entity.
  explicit ValueType(store::ObjectPtr object) : EntityObject(std::move(object), kEntityName) {}
  // A new ValueType inserted into the context.
  static ValueType insertIn(store::Context& context) {
    return ValueType(context.insertNewObject(kEntityName));
  }

  std::optional<std::string> vt_Type() const { return textAt(kVt_Type); }
  void setVt_Type(std::optional<std::string> value) const { setAt(kVt_Type, value); }
  std::optional<std::string> vt_StrCurrent() const { return textAt(kVt_StrCurrent); }
  void setVt_StrCurrent(std::optional<std::string> value) const { setAt(kVt_StrCurrent, value); }
  std::optional<float> vt_NumCurrent() const { return floatAt(kVt_NumCurrent); }
  void setVt_NumCurrent(std::optional<float> value) const { setAt(kVt_NumCurrent, value); }
  std::optional<std::string> vt_NumMeasureCurrent() const { return textAt(kVt_NumMeasureCurrent); }
  void setVt_NumMeasureCurrent(std::optional<std::string> value) const {
    setAt(kVt_NumMeasureCurrent, value);
  }
  std::vector<StrValue> valueTypeToStrValue() const;
  void addValueTypeToStrValueObject(const StrValue& value) const;
  void removeValueTypeToStrValueObject(const StrValue& value) const;
};

// One sub-value of a note type.
class StrValue : public EntityObject {
 public:
  static constexpr std::string_view kEntityName = "StrValue";
  // Positions of the attributes in the entity.
  enum Attribute : size_t { kStrValue };

  StrValue() = default;
  // The object as a StrValue; empty when it is of another entity.
  explicit StrValue(store::ObjectPtr object) : EntityObject(std::move(object), kEntityName) {}
  // A new StrValue inserted into the context.
  static StrValue insertIn(store::Context& context) { return StrValue(context.insertNewObject(kEntityName)); }

  std::optional<std::string> strValue() const { return textAt(kStrValue); }
  void setStrValue(std::optional<std::string> value) const { setAt(kStrValue, value); }
  ValueType strValueToValueType() const;
  void setStrValueToValueType(const ValueType& value) const;
};

// Declared for completeness; nothing reads or writes it.
class BabyParameter : public EntityObject {
 public:
  static constexpr std::string_view kEntityName = "BabyParameter";
  // Positions of the attributes in the entity.
  enum Attribute : size_t {
    kParam_Type,
    kParam_DateStart,
    kParam_DateStop,
    kParam_strValue,
    kParam_numValue,
    kParam_numMeasureCurrent,
    kParam_Notice
  };

  BabyParameter() = default;
  // The object as a BabyParameter; empty when it is of another entity.
  explicit BabyParameter(store::ObjectPtr object) : EntityObject(std::move(object), kEntityName) {}
  // A new BabyParameter inserted into the context.
  static BabyParameter insertIn(store::Context& context) {
    return BabyParameter(context.insertNewObject(kEntityName));
  }

  std::optional<std::string> param_Type() const { return textAt(kParam_Type); }
  void setParam_Type(std::optional<std::string> value) const { setAt(kParam_Type, value); }
  std::optional<foundation::Date> param_DateStart() const { return dateAt(kParam_DateStart); }
  void setParam_DateStart(std::optional<foundation::Date> value) const { setAt(kParam_DateStart, value); }
  std::optional<foundation::Date> param_DateStop() const { return dateAt(kParam_DateStop); }
  void setParam_DateStop(std::optional<foundation::Date> value) const { setAt(kParam_DateStop, value); }
  std::optional<std::string> param_strValue() const { return textAt(kParam_strValue); }
  void setParam_strValue(std::optional<std::string> value) const { setAt(kParam_strValue, value); }
  std::optional<foundation::Decimal> param_numValue() const { return decimalAt(kParam_numValue); }
  void setParam_numValue(std::optional<foundation::Decimal> value) const { setAt(kParam_numValue, value); }
  std::optional<std::string> param_numMeasureCurrent() const { return textAt(kParam_numMeasureCurrent); }
  void setParam_numMeasureCurrent(std::optional<std::string> value) const {
    setAt(kParam_numMeasureCurrent, value);
  }
  std::optional<std::string> param_Notice() const { return textAt(kParam_Notice); }
  void setParam_Notice(std::optional<std::string> value) const { setAt(kParam_Notice, value); }
  Baby parameterToBaby() const;
  void setParameterToBaby(const Baby& value) const;
};

}  // namespace app
