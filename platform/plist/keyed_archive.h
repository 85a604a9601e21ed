#pragma once
// Keyed archives in the platform's own layout, so that files the system writes read like the
// platform's: a binary property list with "$archiver" = "NSKeyedArchiver", "$version" = 100000,
// "$top" (the root object under "root"), and "$objects", which starts with "$null" and holds
// every object once. An object of one of our classes is a dictionary of its fields plus
// "$class", a reference to a class record {"$classname", "$classes"}. References are UIDs
// (indexes into "$objects"; 0 is nil); archives are written in binary form, and read in either
// form, the XML form writing each reference as a dictionary {"CF$UID": index}. Strings, numbers and data
// referenced as objects are stored as themselves; dates are NSDate records with "NS.time" (seconds since
// 2001), arrays NSArray records with "NS.objects", dictionaries NSDictionary records with "NS.keys" and
// "NS.objects", null inside a collection an NSNull record. Integers, reals and booleans
// encoded as plain fields are written inline. Field names starting with "$" are written with a
// second "$" in front, as the platform does.
//
// A class of ours implements Archivable and registers a decoder for its class name:
//
//   class Timer : public plist::Archivable {
//     std::string className() const override { return "noteTimer"; }
//     void encodeWithCoder(plist::Coder& c) const override { c.encodeString("param_Type", type); ... }
//   };
//   registry.add("noteTimer", [](plist::Decoder& d) -> plist::ObjectPtr {
//     auto t = std::make_shared<Timer>();
//     t->type = d.decodeString("param_Type").value_or("");
//     return t;
//   });
//
// Decoding never throws and never trusts the file: unknown classes, fields of the wrong type,
// references out of range, cycles, excessive nesting and damaged files make the whole
// unarchive fail with an Error (domain "NSCocoaErrorDomain", code kCoderReadCorruptError, or
// kReadCorruptError when the property list itself cannot be read).
//
// The platform takes any object as a dictionary key; a reader here holds text keys (decodeEntries
// also data and integers), and skips an entry keyed by anything else (a real, a date, a boolean, an
// object), keeping the others, as the platform's own readers, which look entries up by text, never
// see such an entry either. A class that must account for every entry it was given (to delete what
// an entry names, or to read number keys by value) asks for all of them (EntryKeys::kAll,
// decodeObjectArrayEntries).

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/plist/property_list.h"

namespace plist {

class Coder;
class Decoder;
namespace detail {
class ArchiveWriter;
class ArchiveReader;
}  // namespace detail

// The key under "$top" that holds the root object.
inline constexpr std::string_view kRootKey = "root";

class Archivable {
 public:
  virtual ~Archivable() = default;
  // The name written in the class record and looked up in the registry when reading.
  virtual std::string className() const = 0;
  // The classes above it, nearest first, written after the class name in "$classes".
  virtual std::vector<std::string> superclassNames() const { return {"NSObject"}; }
  virtual void encodeWithCoder(Coder& coder) const = 0;
};

using ObjectPtr = std::shared_ptr<Archivable>;

// One entry of an NSDictionary that the plain values cannot hold: its key is text, data or an integer
// (an NSNumber key, as the platform writes one), its value an object of our classes (`object`, when
// set) or a plain value (`value`).
struct DictionaryEntry {
  foundation::Value key;
  foundation::Value value;
  ObjectPtr object;
};

// Which entries of a dictionary a reader hands back: those keyed by the kinds it holds, or every
// entry, each key as a plain value (null for a key that is an object of a class).
enum class EntryKeys { kHeld, kAll };

// Decoders of our classes by class name. A decoder reads the fields it needs from the Decoder
// and returns the object; it returns nullptr to decode as nil (an object that declines the
// archive), or calls Decoder::fail to reject the archive as damaged.
class ClassRegistry {
 public:
  using Factory = std::function<ObjectPtr(Decoder&)>;

  ClassRegistry() = default;
  ClassRegistry(const ClassRegistry&) = delete;
  ClassRegistry& operator=(const ClassRegistry&) = delete;

  // Replaces any decoder registered under the same name.
  void add(std::string className, Factory factory);
  std::optional<Factory> find(std::string_view className) const;

  // The process-wide registry that the unarchive functions use unless given another.
  static ClassRegistry& shared();

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Factory, std::less<>> factories_;
};

// Writes the fields of one object (or the top level of the archive). Failures, such as text
// that is not UTF-8, a null in a place only an object may be, or an object that contains
// itself, are kept and make the whole archive fail.
class Coder {
 public:
  Coder(const Coder&) = delete;
  Coder& operator=(const Coder&) = delete;

  // Plain fields, written inline.
  void encodeInt(std::string_view key, std::int64_t value);
  void encodeDouble(std::string_view key, double value);
  void encodeBool(std::string_view key, bool value);

  // Values written as objects by reference; null is written as nil.
  void encodeValue(std::string_view key, const foundation::Value& value);
  void encodeString(std::string_view key, std::string_view value) {
    encodeValue(key, foundation::Value(value));
  }
  void encodeData(std::string_view key, const foundation::Bytes& value) {
    encodeValue(key, foundation::Value(value));
  }
  void encodeDate(std::string_view key, foundation::Date value) {
    encodeValue(key, foundation::Value(value));
  }

  // Objects of our classes; nullptr is written as nil. An object handed over as a shared
  // pointer is written once however often it is reached (here, in arrays or in maps) and
  // decodes as one shared object; one handed over as a plain pointer is written each time.
  void encodeObject(std::string_view key, const Archivable* object);
  template <class T>
  void encodeObject(std::string_view key, const std::shared_ptr<T>& object) {
    encodeSharedObject(key, object);
  }
  // An NSArray of objects of our classes (none may be nullptr).
  template <class T>
  void encodeObjectArray(std::string_view key, const std::vector<std::shared_ptr<T>>& objects) {
    encodeObjectList(key, std::vector<std::shared_ptr<const Archivable>>(objects.begin(), objects.end()));
  }
  // An NSDictionary from text keys to objects of our classes; takes any container of
  // (string, shared_ptr) pairs and keeps its order.
  template <class Map>
  void encodeObjectMap(std::string_view key, const Map& entries) {
    std::vector<std::pair<std::string, std::shared_ptr<const Archivable>>> items;
    for (const auto& [name, object] : entries) items.emplace_back(name, object);
    encodeObjectEntries(key, items);
  }
  // An NSDictionary from text keys to NSArrays of objects of our classes; takes any container of
  // (string, vector of shared_ptr) pairs and keeps its order.
  template <class Map>
  void encodeObjectArrayMap(std::string_view key, const Map& entries) {
    std::vector<std::pair<std::string, std::vector<std::shared_ptr<const Archivable>>>> items;
    for (const auto& [name, objects] : entries) items.emplace_back(name, std::vector<std::shared_ptr<const Archivable>>(objects.begin(), objects.end()));
    encodeObjectListEntries(key, items);
  }

  // An NSDictionary written entry by entry, in order; a key that is neither text, data nor an integer
  // fails the archive.
  void encodeEntries(std::string_view key, const std::vector<DictionaryEntry>& entries);

  // Makes the archive fail with this reason.
  void fail(std::string reason);

 private:
  friend class detail::ArchiveWriter;
  Coder(detail::ArchiveWriter& writer, void* fields) : writer_(writer), fields_(fields) {}
  void encodeSharedObject(std::string_view key, const std::shared_ptr<const Archivable>& object);
  void encodeObjectList(std::string_view key, const std::vector<std::shared_ptr<const Archivable>>& objects);
  void encodeObjectEntries(
      std::string_view key,
      const std::vector<std::pair<std::string, std::shared_ptr<const Archivable>>>& entries);
  void encodeObjectListEntries(
      std::string_view key,
      const std::vector<std::pair<std::string, std::vector<std::shared_ptr<const Archivable>>>>& entries);

  detail::ArchiveWriter& writer_;
  void* fields_;
};

// Reads the fields of one object (or the top level of the archive). A missing field, or one
// that holds nil, reads as nothing (nullopt, nullptr or null). A field of the wrong type fails
// the whole unarchive; after a failure every read gives nothing.
class Decoder {
 public:
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // The class name of the object being read ("" at the top level).
  const std::string& className() const { return className_; }
  bool containsValue(std::string_view key) const;

  // Numbers, inline or by reference. Booleans read as 0 and 1; a real read as an integer is
  // truncated toward zero (and fails when it does not fit); any number reads as a boolean
  // (non-zero is true).
  std::optional<std::int64_t> decodeInteger(std::string_view key);
  std::optional<double> decodeDouble(std::string_view key);
  std::optional<bool> decodeBool(std::string_view key);

  std::optional<std::string> decodeString(std::string_view key);
  std::optional<foundation::Bytes> decodeData(std::string_view key);
  std::optional<foundation::Date> decodeDate(std::string_view key);
  // Any plain value (string, number, data, date, array, dictionary, null), but no object of
  // our classes.
  foundation::Value decodeValue(std::string_view key);

  // An object of one of our classes; nullptr for nil.
  ObjectPtr decodeObject(std::string_view key);
  // Fails the unarchive when the object is of another class.
  template <class T>
  std::shared_ptr<T> decodeObjectOfClass(std::string_view key) {
    return cast<T>(decodeObject(key));
  }
  template <class T>
  std::optional<std::vector<std::shared_ptr<T>>> decodeObjectArray(std::string_view key) {
    auto items = decodeObjectList(key);
    return items ? castAll<T>(std::move(*items)) : std::nullopt;
  }
  template <class T>
  std::optional<std::vector<std::pair<std::string, std::shared_ptr<T>>>> decodeObjectMap(
      std::string_view key) {
    auto entries = decodeObjectEntries(key);
    if (!entries) return std::nullopt;
    std::vector<std::pair<std::string, std::shared_ptr<T>>> typed;
    typed.reserve(entries->size());
    for (auto& [name, item] : *entries) {
      typed.emplace_back(std::move(name), cast<T>(std::move(item)));
      if (failed()) return std::nullopt;
    }
    return typed;
  }
  template <class T>
  std::optional<std::vector<std::pair<std::string, std::vector<std::shared_ptr<T>>>>> decodeObjectArrayMap(
      std::string_view key) {
    return castLists<T>(decodeObjectListEntries(key));
  }
  // As decodeObjectArrayMap, but every entry whatever its key (EntryKeys::kAll).
  template <class T>
  std::optional<std::vector<std::pair<foundation::Value, std::vector<std::shared_ptr<T>>>>>
  decodeObjectArrayEntries(std::string_view key) {
    return castLists<T>(decodeObjectListEntriesOfAnyKey(key));
  }

  // An NSDictionary entry by entry, in the file's order: keys of text, data or integers, each value an
  // object of our classes or a plain value. An entry keyed by anything else is skipped, unless `keys`
  // asks for all.
  std::optional<std::vector<DictionaryEntry>> decodeEntries(std::string_view key,
                                                            EntryKeys keys = EntryKeys::kHeld);

  // Rejects the archive as damaged, for a class that finds its fields inconsistent.
  void fail(std::string reason);
  bool failed() const;

 private:
  friend class detail::ArchiveReader;
  Decoder(detail::ArchiveReader& reader, void* fields, std::string className)
      : reader_(reader), fields_(fields), className_(std::move(className)) {}

  template <class T>
  std::shared_ptr<T> cast(ObjectPtr object) {
    if (!object) return nullptr;
    auto typed = std::dynamic_pointer_cast<T>(object);
    if (!typed) fail("an object of class " + object->className() + " is not of the expected class");
    return typed;
  }
  // Each object as a T; nothing once one is of another class (the unarchive has failed then).
  template <class T>
  std::optional<std::vector<std::shared_ptr<T>>> castAll(std::vector<ObjectPtr> items) {
    std::vector<std::shared_ptr<T>> typed;
    typed.reserve(items.size());
    for (auto& item : items) {
      typed.push_back(cast<T>(std::move(item)));
      if (failed()) return std::nullopt;
    }
    return typed;
  }
  // Each entry's objects as Ts; nothing once one is of another class.
  template <class T, class K>
  std::optional<std::vector<std::pair<K, std::vector<std::shared_ptr<T>>>>> castLists(
      std::optional<std::vector<std::pair<K, std::vector<ObjectPtr>>>> entries) {
    if (!entries) return std::nullopt;
    std::vector<std::pair<K, std::vector<std::shared_ptr<T>>>> typed;
    typed.reserve(entries->size());
    for (auto& [name, items] : *entries) {
      auto list = castAll<T>(std::move(items));
      if (!list) return std::nullopt;
      typed.emplace_back(std::move(name), std::move(*list));
    }
    return typed;
  }
  std::optional<std::vector<ObjectPtr>> decodeObjectList(std::string_view key);
  std::optional<std::vector<std::pair<std::string, ObjectPtr>>> decodeObjectEntries(std::string_view key);
  std::optional<std::vector<std::pair<std::string, std::vector<ObjectPtr>>>> decodeObjectListEntries(
      std::string_view key);
  std::optional<std::vector<std::pair<foundation::Value, std::vector<ObjectPtr>>>>
  decodeObjectListEntriesOfAnyKey(std::string_view key);
  // The objects of the NSArray record `uid`; `what` names it in a failure.
  std::optional<std::vector<ObjectPtr>> objectListAt(std::uint64_t uid, std::string_view what);
  void* field(std::string_view key) const;

  detail::ArchiveReader& reader_;
  void* fields_;
  std::string className_;
};

// Writing. `fill` encodes the top-level fields; the platform's archivers put the root object
// under kRootKey.
foundation::Result<foundation::Bytes> archive(const std::function<void(Coder&)>& fill);
foundation::Result<foundation::Bytes> archiveRootObject(const Archivable& root);
foundation::Result<foundation::Bytes> archiveRootValue(const foundation::Value& root);
template <class T>
foundation::Result<foundation::Bytes> archiveRootObjectArray(const std::vector<std::shared_ptr<T>>& objects) {
  return archive([&](Coder& top) { top.encodeObjectArray(kRootKey, objects); });
}

// Reading. `read` decodes the top-level fields.
foundation::Status unarchive(const foundation::Bytes& data, const std::function<void(Decoder&)>& read,
                             const ClassRegistry& registry = ClassRegistry::shared());
// The root object; nullptr when the root is nil or its class declined the archive.
foundation::Result<ObjectPtr> unarchiveRootObject(const foundation::Bytes& data,
                                                  const ClassRegistry& registry = ClassRegistry::shared());
// The root as a plain value (null for nil); an object of our classes inside fails.
foundation::Result<foundation::Value> unarchiveRootValue(const foundation::Bytes& data);

template <class T>
foundation::Result<std::shared_ptr<T>> unarchiveRootObjectOfClass(
    const foundation::Bytes& data, const ClassRegistry& registry = ClassRegistry::shared()) {
  std::shared_ptr<T> root;
  auto status = unarchive(
      data, [&](Decoder& top) { root = top.decodeObjectOfClass<T>(kRootKey); }, registry);
  if (!status) return status.error();
  return root;
}

// The root as an array of objects of class T; a nil root reads as an empty array.
template <class T>
foundation::Result<std::vector<std::shared_ptr<T>>> unarchiveRootObjectArray(
    const foundation::Bytes& data, const ClassRegistry& registry = ClassRegistry::shared()) {
  std::vector<std::shared_ptr<T>> items;
  auto status = unarchive(
      data,
      [&](Decoder& top) {
        items = top.decodeObjectArray<T>(kRootKey).value_or(std::vector<std::shared_ptr<T>>{});
      },
      registry);
  if (!status) return status.error();
  return items;
}

}  // namespace plist
