#pragma once
// Keyed archives laid out object by object in XML, as another writer (the platform's own) may lay
// them out: every add() appends one entry of "$objects" and answers its index, so a test states each
// record, reference and class record itself instead of trusting the archiver under test.
//
//   HandMadeArchive a;
//   size_t name = a.add(HandMadeArchive::text("sid"));
//   size_t map = a.add("<dict><key>NS.keys</key><array>" + a.uid(name) + "</array>...");
//   std::string xml = a.finish(map);

#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace analytics {

class HandMadeArchive {
 public:
  size_t add(std::string xml) {
    objects_.push_back(std::move(xml));
    return objects_.size() - 1;
  }
  // A reference in the XML form ({"CF$UID": n}); 0 is nil.
  static std::string uid(size_t n) {
    return "<dict><key>CF$UID</key><integer>" + std::to_string(n) + "</integer></dict>";
  }
  static std::string text(std::string_view value) { return "<string>" + std::string(value) + "</string>"; }
  // A number stored as itself, as the platform stores an NSNumber.
  static std::string integer(long long value) { return "<integer>" + std::to_string(value) + "</integer>"; }
  // A reference to a new class record of the name, whose superclass is NSObject.
  std::string classOf(std::string_view name) {
    const std::string n(name);
    return uid(add("<dict><key>$classname</key><string>" + n + "</string><key>$classes</key><array><string>" + n +
                   "</string><string>NSObject</string></array></dict>"));
  }
  // A record of the class whose fields are given as XML key and value elements.
  size_t record(std::string_view className, const std::string& fields) {
    return add("<dict>" + fields + "<key>$class</key>" + classOf(className) + "</dict>");
  }
  // An NSArray record of the references.
  size_t array(const std::vector<size_t>& items) {
    std::string refs;
    for (size_t item : items) refs += uid(item);
    return record("NSArray", "<key>NS.objects</key><array>" + refs + "</array>");
  }
  // An NSDictionary record of (key, value) references.
  size_t dictionary(const std::vector<std::pair<size_t, size_t>>& entries) {
    std::string keys;
    std::string values;
    for (const auto& [key, value] : entries) keys += uid(key), values += uid(value);
    return record("NSDictionary",
                  "<key>NS.keys</key><array>" + keys + "</array><key>NS.objects</key><array>" + values + "</array>");
  }
  // The archive with `root` under "$top"'s "root".
  std::string finish(size_t root) const {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
        "<key>$archiver</key><string>NSKeyedArchiver</string><key>$version</key><integer>100000</integer>"
        "<key>$top</key><dict><key>root</key>" +
        uid(root) + "</dict><key>$objects</key><array>";
    for (const auto& object : objects_) xml += object;
    return xml + "</array></dict></plist>";
  }
  foundation::Bytes bytes(size_t root) const {
    std::string xml = finish(root);
    return foundation::Bytes(xml.begin(), xml.end());
  }

 private:
  std::vector<std::string> objects_{"<string>$null</string>"};
};

}  // namespace analytics
