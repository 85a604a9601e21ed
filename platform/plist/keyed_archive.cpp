#include "platform/plist/keyed_archive.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <unordered_map>
#include <unordered_set>

#include "platform/plist/plist_node.h"

namespace plist {

using detail::NodePtr;
using foundation::Bytes;
using foundation::Error;
using foundation::Result;
using foundation::Value;

namespace {

constexpr std::string_view kArchiverName = "NSKeyedArchiver";
constexpr std::uint64_t kArchiveVersion = 100000;
constexpr std::string_view kNullName = "$null";
constexpr char kClassKey[] = "$class";
constexpr char kClassNameKey[] = "$classname";
constexpr char kClassesKey[] = "$classes";

bool isArrayClass(std::string_view name) { return name == "NSArray" || name == "NSMutableArray"; }
bool isDictionaryClass(std::string_view name) {
  return name == "NSDictionary" || name == "NSMutableDictionary";
}
bool isBuiltinClass(std::string_view name) {
  return isArrayClass(name) || isDictionaryClass(name) || name == "NSString" || name == "NSMutableString" ||
         name == "NSData" || name == "NSMutableData" || name == "NSDate" || name == "NSNull";
}

// Field names the archive reserves start with "$"; a field of ours that does gets another.
std::string escapeKey(std::string_view key) {
  std::string escaped;
  if (!key.empty() && key.front() == '$') escaped.push_back('$');
  escaped.append(key);
  return escaped;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Registry

void ClassRegistry::add(std::string className, Factory factory) {
  std::lock_guard lock(mutex_);
  factories_[std::move(className)] = std::move(factory);
}

std::optional<ClassRegistry::Factory> ClassRegistry::find(std::string_view className) const {
  std::lock_guard lock(mutex_);
  auto it = factories_.find(className);
  if (it == factories_.end()) return std::nullopt;
  return it->second;
}

ClassRegistry& ClassRegistry::shared() {
  static ClassRegistry registry;
  return registry;
}

// ---------------------------------------------------------------------------------------------
// Writing

namespace detail {

class ArchiveWriter {
 public:
  ArchiveWriter() { objects_.push_back(NodePtr(plist_new_string(std::string(kNullName).c_str()))); }

  bool failed() const { return error_.has_value(); }
  void fail(std::string reason) {
    if (!error_) {
      error_ = Error::make(std::string(kErrorDomain), kCoderInvalidValueError,
                           "The data couldn’t be archived: " + reason + ".");
    }
  }

  Coder coderFor(plist_t fields) { return Coder(*this, fields); }

  void setField(plist_t fields, std::string_view key, NodePtr node) {
    if (failed() || !node) return;
    if (auto problem = checkText(key)) {
      fail("a field name: " + *problem);
      return;
    }
    plist_dict_set_item(fields, escapeKey(key).c_str(), node.release());
  }

  NodePtr reference(std::uint64_t uid) { return NodePtr(plist_new_uid(uid)); }

  // A value referenced as an object. Null is nil in a field and NSNull inside a collection,
  // where nil has no place.
  std::uint64_t valueReference(const Value& value, bool inCollection) {
    if (failed()) return 0;
    switch (value.type()) {
      case Value::Type::Null:
        if (!inCollection) return 0;
        return record("NSNull", {"NSObject"}, [](plist_t) {});
      case Value::Type::Bool:
      case Value::Type::Integer:
      case Value::Type::Real:
      case Value::Type::Decimal:
        return append(scalar(value));
      case Value::Type::String:
        return stringReference(*value.string());
      case Value::Type::Data:
        return append(scalar(value));
      case Value::Type::Date: {
        const double time = value.date()->sinceReference;
        return record("NSDate", {"NSObject"},
                      [&](plist_t fields) { plist_dict_set_item(fields, "NS.time", plist_new_real(time)); });
      }
      case Value::Type::Array:
        return nested([&] {
          return record("NSArray", {"NSObject"}, [&](plist_t fields) {
            NodePtr refs(plist_new_array());
            for (const Value& item : *value.array()) {
              plist_array_append_item(refs.get(), reference(valueReference(item, true)).release());
            }
            plist_dict_set_item(fields, "NS.objects", refs.release());
          });
        });
      case Value::Type::Dictionary:
        return nested([&] {
          return record("NSDictionary", {"NSObject"}, [&](plist_t fields) {
            NodePtr keys(plist_new_array());
            NodePtr objects(plist_new_array());
            for (const auto& [key, item] : *value.dictionary()) {
              plist_array_append_item(keys.get(), reference(stringReference(key)).release());
              plist_array_append_item(objects.get(), reference(valueReference(item, true)).release());
            }
            plist_dict_set_item(fields, "NS.keys", keys.release());
            plist_dict_set_item(fields, "NS.objects", objects.release());
          });
        });
    }
    fail("a value of unknown type");
    return 0;
  }

  // An object of our classes. Objects handed over as shared pointers keep their identity (one
  // record however often they are reached); the writer holds them so that no address is reused
  // while it runs.
  std::uint64_t objectReference(const Archivable* object, std::shared_ptr<const Archivable> keep) {
    if (failed() || !object) return 0;
    if (keep) {
      if (auto it = written_.find(object); it != written_.end()) return it->second;
    }
    if (inProgress_.count(object)) {
      fail("an object of class " + object->className() + " contains itself");
      return 0;
    }
    const std::string name = object->className();
    if (auto problem = checkText(name); problem || name.empty()) {
      fail("a class name is empty or not valid text");
      return 0;
    }
    inProgress_.insert(object);
    const std::uint64_t uid = nested([&] {
      return record(name, object->superclassNames(), [&](plist_t fields) {
        Coder coder(*this, fields);
        object->encodeWithCoder(coder);
      });
    });
    inProgress_.erase(object);
    if (keep) {
      written_[object] = uid;
      kept_.push_back(std::move(keep));
    }
    return uid;
  }

  std::uint64_t objectListReference(const std::vector<std::shared_ptr<const Archivable>>& objects) {
    if (failed()) return 0;
    return nested([&] {
      return record("NSArray", {"NSObject"}, [&](plist_t fields) {
        NodePtr refs(plist_new_array());
        for (const auto& object : objects) {
          if (!object) fail("an array of objects holds nil");
          plist_array_append_item(refs.get(), reference(objectReference(object.get(), object)).release());
        }
        plist_dict_set_item(fields, "NS.objects", refs.release());
      });
    });
  }

  std::uint64_t objectEntriesReference(
      const std::vector<std::pair<std::string, std::shared_ptr<const Archivable>>>& entries) {
    if (failed()) return 0;
    return nested([&] {
      return record("NSDictionary", {"NSObject"}, [&](plist_t fields) {
        NodePtr keys(plist_new_array());
        NodePtr objects(plist_new_array());
        for (const auto& [key, object] : entries) {
          if (!object) fail("a dictionary of objects holds nil");
          plist_array_append_item(keys.get(), reference(stringReference(key)).release());
          plist_array_append_item(objects.get(), reference(objectReference(object.get(), object)).release());
        }
        plist_dict_set_item(fields, "NS.keys", keys.release());
        plist_dict_set_item(fields, "NS.objects", objects.release());
      });
    });
  }

  Result<Bytes> finish(NodePtr top) {
    if (failed()) return *error_;
    NodePtr root(plist_new_dict());
    plist_dict_set_item(root.get(), "$version", plist_new_uint(kArchiveVersion));
    plist_dict_set_item(root.get(), "$archiver", plist_new_string(std::string(kArchiverName).c_str()));
    plist_dict_set_item(root.get(), "$top", top.release());
    NodePtr objects(plist_new_array());
    for (auto& object : objects_) plist_array_append_item(objects.get(), object.release());
    objects_.clear();
    plist_dict_set_item(root.get(), "$objects", objects.release());
    return serialize(root.get(), Format::Binary);
  }

 private:
  std::uint64_t append(NodePtr node) {
    if (!node) {
      fail("a value cannot be written");
      return 0;
    }
    objects_.push_back(std::move(node));
    return objects_.size() - 1;
  }

  NodePtr scalar(const Value& value) {
    auto node = fromValue(value);
    if (!node) {
      fail(node.error().localizedDescription());
      return nullptr;
    }
    return std::move(*node);
  }

  std::uint64_t stringReference(const std::string& text) {
    if (auto problem = checkText(text)) {
      fail(*problem);
      return 0;
    }
    if (auto it = strings_.find(text); it != strings_.end()) return it->second;
    const std::uint64_t uid = append(newString(text));
    strings_.emplace(text, uid);
    return uid;
  }

  // One record: its slot is taken first, its contents (which may append further objects)
  // written next and its class record last, in the order the platform's archiver uses.
  template <class Fill>
  std::uint64_t record(const std::string& className, const std::vector<std::string>& superclasses,
                       Fill fill) {
    const std::uint64_t uid = append(NodePtr(plist_new_dict()));
    plist_t fields = objects_[uid].get();
    fill(fields);
    plist_dict_set_item(fields, kClassKey, plist_new_uid(classReference(className, superclasses)));
    return uid;
  }

  std::uint64_t classReference(const std::string& name, const std::vector<std::string>& superclasses) {
    if (auto it = classes_.find(name); it != classes_.end()) return it->second;
    NodePtr record(plist_new_dict());
    NodePtr chain(plist_new_array());
    plist_array_append_item(chain.get(), plist_new_string(name.c_str()));
    for (const auto& super : superclasses) {
      NodePtr node = newString(super);
      if (!node) {
        fail("a class name is not valid text");
        return 0;
      }
      plist_array_append_item(chain.get(), node.release());
    }
    plist_dict_set_item(record.get(), kClassNameKey, plist_new_string(name.c_str()));
    plist_dict_set_item(record.get(), kClassesKey, chain.release());
    const std::uint64_t uid = append(std::move(record));
    classes_.emplace(name, uid);
    return uid;
  }

  template <class Body>
  std::uint64_t nested(Body body) {
    if (depth_ >= kMaxDepth) {
      fail("the objects nest too deeply");
      return 0;
    }
    ++depth_;
    const std::uint64_t uid = body();
    --depth_;
    return uid;
  }

  std::vector<NodePtr> objects_;
  std::unordered_map<std::string, std::uint64_t> strings_;
  std::unordered_map<std::string, std::uint64_t> classes_;
  std::unordered_map<const Archivable*, std::uint64_t> written_;
  std::unordered_set<const Archivable*> inProgress_;
  std::vector<std::shared_ptr<const Archivable>> kept_;
  int depth_ = 0;
  std::optional<Error> error_;
};

}  // namespace detail

void Coder::encodeInt(std::string_view key, std::int64_t value) {
  writer_.setField(static_cast<plist_t>(fields_), key,
                   NodePtr(plist_new_uint(static_cast<std::uint64_t>(value))));
}

void Coder::encodeDouble(std::string_view key, double value) {
  writer_.setField(static_cast<plist_t>(fields_), key, NodePtr(plist_new_real(value)));
}

void Coder::encodeBool(std::string_view key, bool value) {
  writer_.setField(static_cast<plist_t>(fields_), key, NodePtr(plist_new_bool(value ? 1 : 0)));
}

void Coder::encodeValue(std::string_view key, const Value& value) {
  const std::uint64_t uid = writer_.valueReference(value, false);
  writer_.setField(static_cast<plist_t>(fields_), key, writer_.reference(uid));
}

void Coder::encodeObject(std::string_view key, const Archivable* object) {
  const std::uint64_t uid = writer_.objectReference(object, nullptr);
  writer_.setField(static_cast<plist_t>(fields_), key, writer_.reference(uid));
}

void Coder::encodeSharedObject(std::string_view key, const std::shared_ptr<const Archivable>& object) {
  const std::uint64_t uid = writer_.objectReference(object.get(), object);
  writer_.setField(static_cast<plist_t>(fields_), key, writer_.reference(uid));
}

void Coder::encodeObjectList(std::string_view key,
                             const std::vector<std::shared_ptr<const Archivable>>& objects) {
  const std::uint64_t uid = writer_.objectListReference(objects);
  writer_.setField(static_cast<plist_t>(fields_), key, writer_.reference(uid));
}

void Coder::encodeObjectEntries(
    std::string_view key,
    const std::vector<std::pair<std::string, std::shared_ptr<const Archivable>>>& entries) {
  const std::uint64_t uid = writer_.objectEntriesReference(entries);
  writer_.setField(static_cast<plist_t>(fields_), key, writer_.reference(uid));
}

void Coder::fail(std::string reason) { writer_.fail(std::move(reason)); }

Result<Bytes> archive(const std::function<void(Coder&)>& fill) {
  detail::ArchiveWriter writer;
  NodePtr top(plist_new_dict());
  try {
    Coder coder = writer.coderFor(top.get());
    fill(coder);
  } catch (const std::exception& e) {
    writer.fail(std::string("an object failed to encode itself: ") + e.what());
  }
  return writer.finish(std::move(top));
}

Result<Bytes> archiveRootObject(const Archivable& root) {
  return archive([&](Coder& top) { top.encodeObject(kRootKey, &root); });
}

Result<Bytes> archiveRootValue(const Value& root) {
  return archive([&](Coder& top) { top.encodeValue(kRootKey, root); });
}

// ---------------------------------------------------------------------------------------------
// Reading

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

  std::optional<std::string> keyAt(std::uint64_t uid) {
    Value key = valueAt(uid);
    if (failed()) return std::nullopt;
    if (!key.isString()) {
      fail("a dictionary key is not text");
      return std::nullopt;
    }
    return *key.string();
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
    if (!classRef || plist_get_node_type(classRef) != PLIST_UID) {
      fail("a record has no class");
      return std::nullopt;
    }
    std::uint64_t uid = 0;
    plist_get_uid_val(classRef, &uid);
    plist_t classRecord = node(uid);
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
      plist_t item = plist_array_get_item(list, i);
      if (plist_get_node_type(item) != PLIST_UID) {
        fail("a collection holds something other than references");
        return std::nullopt;
      }
      std::uint64_t uid = 0;
      plist_get_uid_val(item, &uid);
      uids.push_back(uid);
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
        auto key = keyAt(keyUid);
        if (!key) return Value();
        Value item = valueAt(objectUid);
        if (failed()) return Value();
        dict.set(std::move(*key), std::move(item));
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
  if (plist_get_node_type(field) == PLIST_UID) {
    std::uint64_t uid = 0;
    plist_get_uid_val(field, &uid);
    if (uid == 0) return std::nullopt;
    target = reader.node(uid);
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
  switch (plist_get_node_type(node)) {
    case PLIST_UID: {
      std::uint64_t uid = 0;
      plist_get_uid_val(node, &uid);
      return reader_.valueAt(uid);
    }
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
  if (plist_get_node_type(node) != PLIST_UID) {
    decoder.fail("the field \"" + std::string(key) + "\" is not a reference to an object");
    return std::nullopt;
  }
  std::uint64_t uid = 0;
  plist_get_uid_val(node, &uid);
  if (uid == 0) return std::nullopt;
  return uid;
}

}  // namespace

ObjectPtr Decoder::decodeObject(std::string_view key) {
  auto uid = referenceField(static_cast<plist_t>(field(key)), key, *this);
  if (!uid) return nullptr;
  return reader_.objectAt(*uid);
}

std::optional<std::vector<ObjectPtr>> Decoder::decodeObjectList(std::string_view key) {
  auto uid = referenceField(static_cast<plist_t>(field(key)), key, *this);
  if (!uid) return std::nullopt;
  if (!reader_.enter(*uid)) return std::nullopt;
  std::optional<std::vector<ObjectPtr>> result;
  if (auto uids = reader_.arrayAt(*uid)) {
    std::vector<ObjectPtr> objects;
    objects.reserve(uids->size());
    for (std::uint64_t item : *uids) {
      ObjectPtr object = reader_.objectAt(item);
      if (failed()) break;
      if (!object) {
        fail("the array \"" + std::string(key) + "\" holds nil");
        break;
      }
      objects.push_back(std::move(object));
    }
    if (!failed()) result = std::move(objects);
  }
  reader_.leave(*uid);
  return result;
}

std::optional<std::vector<std::pair<std::string, ObjectPtr>>> Decoder::decodeObjectEntries(
    std::string_view key) {
  auto uid = referenceField(static_cast<plist_t>(field(key)), key, *this);
  if (!uid) return std::nullopt;
  if (!reader_.enter(*uid)) return std::nullopt;
  std::optional<std::vector<std::pair<std::string, ObjectPtr>>> result;
  if (auto pairs = reader_.dictionaryAt(*uid)) {
    std::vector<std::pair<std::string, ObjectPtr>> entries;
    entries.reserve(pairs->size());
    for (const auto& [keyUid, objectUid] : *pairs) {
      auto name = reader_.keyAt(keyUid);
      if (!name) break;
      ObjectPtr object = reader_.objectAt(objectUid);
      if (failed()) break;
      if (!object) {
        fail("the dictionary \"" + std::string(key) + "\" holds nil");
        break;
      }
      entries.emplace_back(std::move(*name), std::move(object));
    }
    if (!failed()) result = std::move(entries);
  }
  reader_.leave(*uid);
  return result;
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
