// Reading keyed archives in binary or XML form. Trust model: the bytes are hostile. Every
// reference is range-checked, every record's class looked up before it is used, cycles and
// nesting beyond kMaxDepth refused, and the number of objects visited is bounded in proportion
// to the input so that shared references cannot expand a small file into a huge value. The
// first failure is kept; after it every read gives nothing and the unarchive reports it.
#include <algorithm>
#include <cmath>
#include <exception>
#include <unordered_map>

#include "platform/plist/archive_layout.h"
#include "platform/plist/keyed_archive.h"
#include "platform/plist/plist_node.h"

namespace plist {

using namespace detail;  // the layout's names and types, shared with the other side

namespace detail {

class ArchiveReader {
 public:
  ArchiveReader(plist_t objects, const ClassRegistry& registry, size_t budget)
      : objects_(objects),
        count_(plist_array_get_size(objects)),
        registry_(registry),
        onPath_(count_, false),
        budget_(budget) {}

  bool failed() const { return error_.has_value(); }
  const Error& error() const { return *error_; }
  void fail(std::string reason) {
    if (!error_) {
      error_ =
          Error::make(std::string(kErrorDomain), kCoderReadCorruptError,
                      "The data couldn’t be read because it isn’t in the correct format: " + reason + ".");
    }
  }

  Decoder decoderFor(plist_t fields, std::string className) {
    return Decoder(*this, fields, std::move(className));
  }

  // The entry of "$objects" a reference names; nullptr (and a failure) when out of range.
  plist_t node(std::uint64_t uid) {
    if (uid >= count_) {
      fail("a reference points past the end of the objects");
      return nullptr;
    }
    return plist_array_get_item(objects_, static_cast<std::uint32_t>(uid));
  }

  // The value a reference names; null for nil.
  Value valueAt(std::uint64_t uid) {
    if (failed() || uid == 0) return Value();
    plist_t n = node(uid);
    if (!n || !visit()) return Value();
    switch (plist_get_node_type(n)) {
      case PLIST_STRING: {
        auto text = stringOf(n);
        if (!text) {
          fail("a string is not valid text");
          return Value();
        }
        return Value(std::move(*text));
      }
      case PLIST_BOOLEAN:
      case PLIST_UINT:
      case PLIST_REAL:
        return *numberOf(n);
      case PLIST_DATA:
        return Value(*dataOf(n));
      case PLIST_DICT: {
        auto name = classOf(n);
        if (!name) return Value();
        if (!enter(uid)) return Value();
        Value value = builtinValue(n, *name);
        leave(uid);
        return value;
      }
      default:
        fail("an object is neither a value nor a record");
        return Value();
    }
  }

  // The object of our classes a reference names; nullptr for nil or a declined object.
  ObjectPtr objectAt(std::uint64_t uid) {
    if (failed() || uid == 0) return nullptr;
    if (auto it = decoded_.find(uid); it != decoded_.end()) return it->second;
    plist_t n = node(uid);
    if (!n || !visit()) return nullptr;
    if (plist_get_node_type(n) != PLIST_DICT) {
      fail("a plain value is where an object is expected");
      return nullptr;
    }
    auto name = classOf(n);
    if (!name) return nullptr;
    if (isBuiltinClass(*name)) {
      fail("an object of class " + *name + " is where an object of another class is expected");
      return nullptr;
    }
    auto factory = registry_.find(*name);
    if (!factory) {
      fail("cannot decode object of class (" + *name + ")");
      return nullptr;
    }
    if (!enter(uid)) return nullptr;
    Decoder decoder(*this, n, *name);
    ObjectPtr object;
    try {
      object = (*factory)(decoder);
    } catch (const std::exception& e) {
      fail("an object of class " + *name + " failed to decode itself: " + e.what());
    }
    leave(uid);
    if (failed()) return nullptr;
    decoded_.emplace(uid, object);
    return object;
  }

  // The references inside an NSArray record, which must be one.
  std::optional<std::vector<std::uint64_t>> arrayAt(std::uint64_t uid) {
    plist_t n = node(uid);
    if (!n) return std::nullopt;
    auto name = plist_get_node_type(n) == PLIST_DICT ? classOf(n) : std::nullopt;
    if (failed()) return std::nullopt;
    if (!name || !isArrayClass(*name)) {
      fail("an array is expected");
      return std::nullopt;
    }
    return references(n, "NS.objects");
  }

  // The key and object references inside an NSDictionary record, which must be one.
  std::optional<std::vector<std::pair<std::uint64_t, std::uint64_t>>> dictionaryAt(std::uint64_t uid) {
    plist_t n = node(uid);
    if (!n) return std::nullopt;
    auto name = plist_get_node_type(n) == PLIST_DICT ? classOf(n) : std::nullopt;
    if (failed()) return std::nullopt;
    if (!name || !isDictionaryClass(*name)) {
      fail("a dictionary is expected");
      return std::nullopt;
    }
    return entries(n);
  }

  // A dictionary entry's key as a plain value. The platform takes any object as a key, while our
  // readers hold text keys (some also data and integers) and skip an entry keyed by anything else,
  // keeping the rest: a key that is an object of a class (ours or one we cannot read) gives null
  // unread, so that its entry is skipped as one keyed by a real or a date is.
  Value keyAt(std::uint64_t uid) {
    if (namesObject(uid)) return Value();
    return valueAt(uid);
  }

  // Whether the reference names a record of one of our classes rather than a plain value.
  bool namesObject(std::uint64_t uid) {
    if (failed() || uid == 0 || uid >= count_) return false;
    plist_t n = plist_array_get_item(objects_, static_cast<std::uint32_t>(uid));
    if (plist_get_node_type(n) != PLIST_DICT) return false;
    auto name = classOf(n);
    return name && !isBuiltinClass(*name);
  }

  // Marks a record as being decoded, refusing cycles and excessive depth.
  bool enter(std::uint64_t uid) {
    if (uid >= count_) {
      fail("a reference points past the end of the objects");
      return false;
    }
    if (onPath_[uid]) {
      fail("an object contains itself");
      return false;
    }
    if (depth_ >= kMaxDepth) {
      fail("the objects nest too deeply");
      return false;
    }
    onPath_[uid] = true;
    ++depth_;
    return true;
  }
  void leave(std::uint64_t uid) {
    onPath_[uid] = false;
    --depth_;
  }

 private:
  // Every object reached counts against a budget in proportion to the input, so that shared
  // references cannot make a small file expand into a huge value.
  bool visit() {
    if (++visits_ > budget_) {
      fail("the archive expands too far");
      return false;
    }
    return true;
  }

  // The class name of a record, through its "$class" reference.
  std::optional<std::string> classOf(plist_t record) {
    plist_t classRef = plist_dict_get_item(record, kClassKey);
    auto uid = classRef ? detail::referenceOf(classRef) : std::nullopt;
    if (!uid) {
      fail("a record has no class");
      return std::nullopt;
    }
    plist_t classRecord = node(*uid);
    if (!classRecord) return std::nullopt;
    plist_t nameNode = plist_get_node_type(classRecord) == PLIST_DICT
                           ? plist_dict_get_item(classRecord, kClassNameKey)
                           : nullptr;
    auto name = nameNode ? stringOf(nameNode) : std::nullopt;
    if (!name) {
      fail("a class record is damaged");
      return std::nullopt;
    }
    return name;
  }

  std::optional<std::vector<std::uint64_t>> references(plist_t record, const char* key) {
    plist_t list = plist_dict_get_item(record, key);
    if (!list || plist_get_node_type(list) != PLIST_ARRAY) {
      fail(std::string("a collection has no ") + key);
      return std::nullopt;
    }
    std::vector<std::uint64_t> uids;
    const std::uint32_t size = plist_array_get_size(list);
    uids.reserve(size);
    for (std::uint32_t i = 0; i < size; ++i) {
      auto uid = detail::referenceOf(plist_array_get_item(list, i));
      if (!uid) {
        fail("a collection holds something other than references");
        return std::nullopt;
      }
      uids.push_back(*uid);
    }
    return uids;
  }

  std::optional<std::vector<std::pair<std::uint64_t, std::uint64_t>>> entries(plist_t record) {
    auto keys = references(record, "NS.keys");
    if (!keys) return std::nullopt;
    auto objects = references(record, "NS.objects");
    if (!objects) return std::nullopt;
    if (keys->size() != objects->size()) {
      fail("a dictionary has as many keys as values");
      return std::nullopt;
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs;
    pairs.reserve(keys->size());
    for (size_t i = 0; i < keys->size(); ++i) pairs.emplace_back((*keys)[i], (*objects)[i]);
    return pairs;
  }

  Value builtinValue(plist_t record, const std::string& name) {
    if (isArrayClass(name)) {
      auto uids = references(record, "NS.objects");
      if (!uids) return Value();
      foundation::Array items;
      items.reserve(uids->size());
      for (std::uint64_t uid : *uids) {
        items.push_back(valueAt(uid));
        if (failed()) return Value();
      }
      return Value(std::move(items));
    }
    if (isDictionaryClass(name)) {
      auto pairs = entries(record);
      if (!pairs) return Value();
      foundation::Dictionary dict;
      dict.reserve(pairs->size());
      for (const auto& [keyUid, objectUid] : *pairs) {
        Value key = keyAt(keyUid);
        if (failed()) return Value();
        const std::string* text = key.string();
        if (!text) continue;  // a plain dictionary holds text keys only
        Value item = valueAt(objectUid);
        if (failed()) return Value();
        dict.set(*text, std::move(item));
      }
      return Value(std::move(dict));
    }
    if (name == "NSString" || name == "NSMutableString") {
      plist_t text = plist_dict_get_item(record, "NS.string");
      auto value = text ? stringOf(text) : std::nullopt;
      if (!value) {
        fail("a string record has no text");
        return Value();
      }
      return Value(std::move(*value));
    }
    if (name == "NSData" || name == "NSMutableData") {
      plist_t bytes = plist_dict_get_item(record, "NS.data");
      auto value = bytes ? dataOf(bytes) : std::nullopt;
      if (!value) {
        fail("a data record has no bytes");
        return Value();
      }
      return Value(std::move(*value));
    }
    if (name == "NSDate") {
      plist_t time = plist_dict_get_item(record, "NS.time");
      auto seconds = time ? numberOf(time) : std::nullopt;
      if (!seconds || seconds->boolean()) {
        fail("a date record has no time");
        return Value();
      }
      return Value(foundation::Date{*seconds->toDouble()});
    }
    if (name == "NSNull") return Value();
    if (registry_.find(name)) {
      fail("an object of class " + name + " is where a plain value is expected");
    } else {
      fail("cannot decode object of class (" + name + ")");
    }
    return Value();
  }

  plist_t objects_;
  std::uint32_t count_;
  const ClassRegistry& registry_;
  std::vector<bool> onPath_;
  std::unordered_map<std::uint64_t, ObjectPtr> decoded_;
  int depth_ = 0;
  size_t visits_ = 0;
  size_t budget_;
  std::optional<Error> error_;
};

}  // namespace detail

namespace {

// A number field, inline or by reference; nothing for a missing field or nil.
std::optional<Value> numberField(detail::ArchiveReader& reader, plist_t field, std::string_view key,
                                 const std::string& className, Decoder& decoder) {
  if (!field) return std::nullopt;
  plist_t target = field;
  if (auto uid = detail::referenceOf(field)) {
    if (*uid == 0) return std::nullopt;
    target = reader.node(*uid);
    if (!target) return std::nullopt;
  }
  auto number = detail::numberOf(target);
  if (!number) {
    decoder.fail("the field \"" + std::string(key) + "\" of " +
                 (className.empty() ? "the archive" : className) + " is not a number");
  }
  return number;
}

}  // namespace

void* Decoder::field(std::string_view key) const {
  if (reader_.failed()) return nullptr;
  return plist_dict_get_item(static_cast<plist_t>(fields_), escapeKey(key).c_str());
}

bool Decoder::containsValue(std::string_view key) const { return field(key) != nullptr; }

void Decoder::fail(std::string reason) { reader_.fail(std::move(reason)); }

bool Decoder::failed() const { return reader_.failed(); }

std::optional<std::int64_t> Decoder::decodeInteger(std::string_view key) {
  auto number = numberField(reader_, static_cast<plist_t>(field(key)), key, className_, *this);
  if (!number) return std::nullopt;
  if (const double* real = number->real()) {
    // Doubles from 2^63 up do not fit; everything below truncates toward zero.
    if (!std::isfinite(*real) || *real >= 9223372036854775808.0 || *real < -9223372036854775808.0) {
      fail("the field \"" + std::string(key) + "\" holds a number too large for an integer");
      return std::nullopt;
    }
  }
  return number->toInteger();
}

std::optional<double> Decoder::decodeDouble(std::string_view key) {
  auto number = numberField(reader_, static_cast<plist_t>(field(key)), key, className_, *this);
  if (!number) return std::nullopt;
  return number->toDouble();
}

std::optional<bool> Decoder::decodeBool(std::string_view key) {
  auto number = numberField(reader_, static_cast<plist_t>(field(key)), key, className_, *this);
  if (!number) return std::nullopt;
  if (const bool* b = number->boolean()) return *b;
  return number->toDouble().value_or(0) != 0;
}

Value Decoder::decodeValue(std::string_view key) {
  auto* node = static_cast<plist_t>(field(key));
  if (!node) return Value();
  if (auto uid = detail::referenceOf(node)) return reader_.valueAt(*uid);
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN:
    case PLIST_UINT:
    case PLIST_REAL:
      return *detail::numberOf(node);
    case PLIST_DATA:
      return Value(*detail::dataOf(node));
    case PLIST_STRING: {
      auto text = detail::stringOf(node);
      if (text) return Value(std::move(*text));
      break;
    }
    default:
      break;
  }
  fail("the field \"" + std::string(key) + "\" holds neither a value nor a reference");
  return Value();
}

std::optional<std::string> Decoder::decodeString(std::string_view key) {
  Value value = decodeValue(key);
  if (value.isNull() || failed()) return std::nullopt;
  if (!value.isString()) {
    fail("the field \"" + std::string(key) + "\" is not text");
    return std::nullopt;
  }
  return *value.string();
}

std::optional<Bytes> Decoder::decodeData(std::string_view key) {
  Value value = decodeValue(key);
  if (value.isNull() || failed()) return std::nullopt;
  if (!value.data()) {
    fail("the field \"" + std::string(key) + "\" is not data");
    return std::nullopt;
  }
  return *value.data();
}

std::optional<foundation::Date> Decoder::decodeDate(std::string_view key) {
  Value value = decodeValue(key);
  if (value.isNull() || failed()) return std::nullopt;
  if (!value.date()) {
    fail("the field \"" + std::string(key) + "\" is not a date");
    return std::nullopt;
  }
  return *value.date();
}

namespace {

// The reference a field holds; nothing for a missing field, nil, or (after a failure) a field
// that is not a reference.
std::optional<std::uint64_t> referenceField(plist_t node, std::string_view key, Decoder& decoder) {
  if (!node) return std::nullopt;
  auto uid = detail::referenceOf(node);
  if (!uid) {
    decoder.fail("the field \"" + std::string(key) + "\" is not a reference to an object");
    return std::nullopt;
  }
  if (*uid == 0) return std::nullopt;
  return uid;
}

}  // namespace

ObjectPtr Decoder::decodeObject(std::string_view key) {
  auto uid = referenceField(static_cast<plist_t>(field(key)), key, *this);
  if (!uid) return nullptr;
  return reader_.objectAt(*uid);
}

std::optional<std::vector<ObjectPtr>> Decoder::objectListAt(std::uint64_t uid, std::string_view what) {
  if (!reader_.enter(uid)) return std::nullopt;
  std::optional<std::vector<ObjectPtr>> result;
  if (auto uids = reader_.arrayAt(uid)) {
    std::vector<ObjectPtr> objects;
    objects.reserve(uids->size());
    for (std::uint64_t item : *uids) {
      ObjectPtr object = reader_.objectAt(item);
      if (failed()) break;
      if (!object) {
        fail("the array \"" + std::string(what) + "\" holds nil");
        break;
      }
      objects.push_back(std::move(object));
    }
    if (!failed()) result = std::move(objects);
  }
  reader_.leave(uid);
  return result;
}

std::optional<std::vector<ObjectPtr>> Decoder::decodeObjectList(std::string_view key) {
  auto uid = referenceField(static_cast<plist_t>(field(key)), key, *this);
  if (!uid) return std::nullopt;
  return objectListAt(*uid, key);
}

namespace {

// The entries of the NSDictionary in field `key`, each made by `entryAt(keyUid, objectUid)`, which
// gives nothing for an entry that fails the archive, and nothing without a failure for an entry it
// skips (one keyed by a kind of key the reader does not hold).
template <class E, class EntryAt>
std::optional<std::vector<E>> dictionaryEntries(Decoder& decoder, detail::ArchiveReader& reader, plist_t field,
                                                std::string_view key, EntryAt entryAt) {
  auto uid = referenceField(field, key, decoder);
  if (!uid) return std::nullopt;
  if (!reader.enter(*uid)) return std::nullopt;
  std::optional<std::vector<E>> result;
  if (auto pairs = reader.dictionaryAt(*uid)) {
    std::vector<E> entries;
    entries.reserve(pairs->size());
    for (const auto& [keyUid, objectUid] : *pairs) {
      std::optional<E> entry = entryAt(keyUid, objectUid);
      if (decoder.failed()) break;
      if (entry) entries.push_back(std::move(*entry));
    }
    if (!decoder.failed()) result = std::move(entries);
  }
  reader.leave(*uid);
  return result;
}

// An entry reader: the key through keyAt, kept as `keyOf` makes it (an entry it gives nothing for is
// skipped), the value through `valueAt` (which gives nothing for a value that fails the archive).
template <class K, class T, class KeyOf, class ValueAt>
auto keyedBy(detail::ArchiveReader& reader, KeyOf keyOf, ValueAt valueAt) {
  return [&reader, keyOf, valueAt](std::uint64_t keyUid,
                                   std::uint64_t objectUid) -> std::optional<std::pair<K, T>> {
    Value key = reader.keyAt(keyUid);
    if (reader.failed()) return std::nullopt;
    std::optional<K> name = keyOf(std::move(key));
    if (!name) return std::nullopt;
    std::optional<T> value = valueAt(objectUid);
    if (!value) return std::nullopt;
    return std::pair<K, T>(std::move(*name), std::move(*value));
  };
}

// For dictionaries keyed by text: an entry keyed by anything else is skipped.
template <class T, class ValueAt>
auto textKeyed(detail::ArchiveReader& reader, ValueAt valueAt) {
  return keyedBy<std::string, T>(
      reader,
      [](const Value& key) -> std::optional<std::string> {
        if (const std::string* name = key.string()) return *name;
        return std::nullopt;
      },
      valueAt);
}

}  // namespace

std::optional<std::vector<std::pair<std::string, ObjectPtr>>> Decoder::decodeObjectEntries(
    std::string_view key) {
  return dictionaryEntries<std::pair<std::string, ObjectPtr>>(
      *this, reader_, static_cast<plist_t>(field(key)), key,
      textKeyed<ObjectPtr>(reader_, [&](std::uint64_t uid) -> std::optional<ObjectPtr> {
        ObjectPtr object = reader_.objectAt(uid);
        if (failed()) return std::nullopt;
        if (!object) {
          fail("the dictionary \"" + std::string(key) + "\" holds nil");
          return std::nullopt;
        }
        return object;
      }));
}

std::optional<std::vector<std::pair<std::string, std::vector<ObjectPtr>>>> Decoder::decodeObjectListEntries(
    std::string_view key) {
  return dictionaryEntries<std::pair<std::string, std::vector<ObjectPtr>>>(
      *this, reader_, static_cast<plist_t>(field(key)), key,
      textKeyed<std::vector<ObjectPtr>>(reader_, [&](std::uint64_t uid) { return objectListAt(uid, key); }));
}

std::optional<std::vector<std::pair<Value, std::vector<ObjectPtr>>>> Decoder::decodeObjectListEntriesOfAnyKey(
    std::string_view key) {
  return dictionaryEntries<std::pair<Value, std::vector<ObjectPtr>>>(
      *this, reader_, static_cast<plist_t>(field(key)), key,
      keyedBy<Value, std::vector<ObjectPtr>>(
          reader_, [](Value name) { return std::optional<Value>(std::move(name)); },
          [&](std::uint64_t uid) { return objectListAt(uid, key); }));
}

std::optional<std::vector<DictionaryEntry>> Decoder::decodeEntries(std::string_view key, EntryKeys keys) {
  return dictionaryEntries<DictionaryEntry>(
      *this, reader_, static_cast<plist_t>(field(key)), key,
      [&](std::uint64_t keyUid, std::uint64_t objectUid) -> std::optional<DictionaryEntry> {
        DictionaryEntry entry;
        entry.key = reader_.keyAt(keyUid);
        if (failed()) return std::nullopt;
        bool held = entry.key.isString() || entry.key.data() || entry.key.integer();
        if (!held && keys == EntryKeys::kHeld) return std::nullopt;  // skipped
        if (reader_.namesObject(objectUid)) {
          entry.object = reader_.objectAt(objectUid);
        } else {
          entry.value = reader_.valueAt(objectUid);
        }
        if (failed()) return std::nullopt;
        return entry;
      });
}

foundation::Status unarchive(const Bytes& data, const std::function<void(Decoder&)>& read,
                             const ClassRegistry& registry) {
  auto parsed = detail::parse(data.data(), data.size(), nullptr);
  if (!parsed) return parsed.error();
  plist_t root = parsed->get();
  auto notAnArchive = [](std::string reason) {
    return Error::make(std::string(kErrorDomain), kCoderReadCorruptError,
                       "The data couldn’t be read because it isn’t in the correct format: " + reason + ".");
  };
  if (plist_get_node_type(root) != PLIST_DICT)
    return notAnArchive("the property list is not a keyed archive");
  plist_t archiver = plist_dict_get_item(root, "$archiver");
  auto archiverName = archiver ? detail::stringOf(archiver) : std::nullopt;
  if (!archiverName || *archiverName != kArchiverName)
    return notAnArchive("the property list is not a keyed archive");
  plist_t version = plist_dict_get_item(root, "$version");
  std::uint64_t versionNumber = 0;
  if (version && plist_get_node_type(version) == PLIST_UINT) plist_get_uint_val(version, &versionNumber);
  if (versionNumber != kArchiveVersion) return notAnArchive("the archive has an unknown version");
  plist_t top = plist_dict_get_item(root, "$top");
  plist_t objects = plist_dict_get_item(root, "$objects");
  if (!top || plist_get_node_type(top) != PLIST_DICT || !objects ||
      plist_get_node_type(objects) != PLIST_ARRAY || plist_array_get_size(objects) == 0) {
    return notAnArchive("the archive has no objects");
  }
  auto first = detail::stringOf(plist_array_get_item(objects, 0));
  if (!first || *first != kNullName) return notAnArchive("the archive's objects do not start with $null");

  const size_t budget = std::max<size_t>(1'000'000, data.size());
  detail::ArchiveReader reader(objects, registry, budget);
  try {
    Decoder decoder = reader.decoderFor(top, "");
    read(decoder);
  } catch (const std::exception& e) {
    reader.fail(std::string("reading the archive failed: ") + e.what());
  }
  if (reader.failed()) return reader.error();
  return {};
}

Result<ObjectPtr> unarchiveRootObject(const Bytes& data, const ClassRegistry& registry) {
  ObjectPtr root;
  auto status = unarchive(
      data, [&](Decoder& top) { root = top.decodeObject(kRootKey); }, registry);
  if (!status) return status.error();
  return root;
}

Result<Value> unarchiveRootValue(const Bytes& data) {
  Value root;
  // No class of ours can appear in a plain value, so an empty registry serves.
  static const ClassRegistry none;
  auto status = unarchive(
      data, [&](Decoder& top) { root = top.decodeValue(kRootKey); }, none);
  if (!status) return status.error();
  return root;
}

}  // namespace plist
