// Writing keyed archives: objects are laid out in "$objects" in the order the platform's
// archiver uses (a record's slot first, then what it holds, then its class record), strings and
// class records once each, shared objects once however often they are reached. Any failure is
// kept and fails the whole archive; nothing is half written because the bytes come only at the end.
#include <exception>
#include <unordered_map>
#include <unordered_set>

#include "platform/plist/archive_layout.h"
#include "platform/plist/keyed_archive.h"
#include "platform/plist/plist_node.h"

namespace plist {

using namespace detail;  // the layout's names and types, shared with the other side

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
        return textKeyedReference(*value.dictionary(),
                                  [&](const Value& item) { return valueReference(item, true); });
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
    return textKeyedReference(entries, [&](const std::shared_ptr<const Archivable>& object) {
      if (!object) fail("a dictionary of objects holds nil");
      return objectReference(object.get(), object);
    });
  }

  std::uint64_t objectListEntriesReference(
      const std::vector<std::pair<std::string, std::vector<std::shared_ptr<const Archivable>>>>& entries) {
    return textKeyedReference(entries, [&](const std::vector<std::shared_ptr<const Archivable>>& objects) {
      return objectListReference(objects);
    });
  }

  std::uint64_t entriesReference(const std::vector<DictionaryEntry>& entries) {
    return dictionaryReference(
        entries,
        [&](const DictionaryEntry& entry) -> std::uint64_t {
          if (entry.key.isString() || entry.key.data() || entry.key.integer()) return valueReference(entry.key, true);
          fail("a dictionary key is neither text, data nor an integer");
          return 0;
        },
        [&](const DictionaryEntry& entry) {
          return entry.object ? objectReference(entry.object.get(), entry.object)
                              : valueReference(entry.value, true);
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

  // An NSDictionary from text keys to whatever `objectOf` writes for each entry's value.
  template <class Entries, class ObjectOf>
  std::uint64_t textKeyedReference(const Entries& entries, ObjectOf objectOf) {
    return dictionaryReference(
        entries, [&](const auto& entry) { return stringReference(entry.first); },
        [&](const auto& entry) { return objectOf(entry.second); });
  }

  // An NSDictionary of what `keyOf` and `objectOf` write for each entry.
  template <class Entries, class KeyOf, class ObjectOf>
  std::uint64_t dictionaryReference(const Entries& entries, KeyOf keyOf, ObjectOf objectOf) {
    if (failed()) return 0;
    return nested([&] {
      return record("NSDictionary", {"NSObject"}, [&](plist_t fields) {
        NodePtr keys(plist_new_array());
        NodePtr objects(plist_new_array());
        for (const auto& entry : entries) {
          plist_array_append_item(keys.get(), reference(keyOf(entry)).release());
          plist_array_append_item(objects.get(), reference(objectOf(entry)).release());
        }
        plist_dict_set_item(fields, "NS.keys", keys.release());
        plist_dict_set_item(fields, "NS.objects", objects.release());
      });
    });
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

void Coder::encodeObjectListEntries(
    std::string_view key,
    const std::vector<std::pair<std::string, std::vector<std::shared_ptr<const Archivable>>>>& entries) {
  const std::uint64_t uid = writer_.objectListEntriesReference(entries);
  writer_.setField(static_cast<plist_t>(fields_), key, writer_.reference(uid));
}

void Coder::encodeEntries(std::string_view key, const std::vector<DictionaryEntry>& entries) {
  const std::uint64_t uid = writer_.entriesReference(entries);
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
}  // namespace plist
