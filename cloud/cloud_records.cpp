#include "cloud/cloud_records.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>

#include "cloud/cloud_log.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"

namespace cloud {
namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

// A byte count or revision: a whole number from 0 to the largest 64-bit value, whatever number
// type it arrived as. Nothing for fractions, negatives and values past 64 bits, which a cast would
// turn into undefined behaviour or nonsense.
std::optional<std::int64_t> wholeCount(const Value& value) {
  std::optional<std::int64_t> n;
  if (const std::int64_t* i = value.integer()) {
    n = *i;
  } else if (const foundation::Decimal* d = value.decimal()) {
    n = d->toInteger();
  } else if (const double* r = value.real()) {
    if (std::isfinite(*r) && *r == std::floor(*r) && *r >= 0 && *r < 9.2233720368547758e18)
      n = static_cast<std::int64_t>(*r);
  }
  if (n && *n < 0) return std::nullopt;
  return n;
}

// Reads the fields of one reply dictionary, remembering the first value of the wrong kind.
class ReplyReader {
 public:
  ReplyReader(const Dictionary& reply, std::string_view record) : reply_(reply), record_(record) {}

  // The value under the key, or nullptr when it is missing or JSON null.
  const Value* present(std::string_view key) const {
    const Value* v = reply_.find(key);
    return v == nullptr || v->isNull() ? nullptr : v;
  }
  std::optional<std::string> text(std::string_view key) {
    const Value* v = present(key);
    if (v == nullptr) return std::nullopt;
    if (const std::string* s = v->string()) return *s;
    return wrong(key, "a text"), std::nullopt;
  }
  // JSON gives booleans; a number counts as the platform's boolValue reads it.
  bool flag(std::string_view key) {
    const Value* v = present(key);
    if (v == nullptr) return false;
    if (const bool* b = v->boolean()) return *b;
    if (v->isNumber()) return v->toDouble().value_or(0) != 0;
    return wrong(key, "a boolean"), false;
  }
  std::int64_t count(std::string_view key) {
    const Value* v = present(key);
    if (v == nullptr) return 0;
    if (auto n = wholeCount(*v)) return *n;
    return wrong(key, "a whole number from 0 to 2^63-1"), 0;
  }
  // A date text that does not match the format is no date, as the platform's formatter reads it.
  std::optional<foundation::Date> date(std::string_view key) {
    auto t = text(key);
    if (!t) return std::nullopt;
    return CloudMetadata::dateFromString(*t);
  }
  void wrong(std::string_view key, std::string_view expected) {
    if (problem_.empty()) problem_ = "\"" + std::string(key) + "\" is not " + std::string(expected);
  }
  void fail(std::string reason) {
    if (problem_.empty()) problem_ = std::move(reason);
  }
  // True when every field read was of its kind; otherwise logs why the record is not made.
  bool finish() const {
    if (problem_.empty()) return true;
    CloudLogWarning("CloudSDK: no %@ made: %@", record_, problem_);
    return false;
  }

 private:
  const Dictionary& reply_;
  std::string record_;
  std::string problem_;
};

// Two to four digits at `at` as a number; nothing when any is no digit.
std::optional<int> digitsAt(std::string_view text, size_t at, size_t count) {
  int n = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    n = n * 10 + (text[i] - '0');
  }
  return n;
}

// The date as servers write it, read straight from its fixed places:
//
//   "Tue, 01 Jan 2030 07:00:00 -0500"   day name, day, month name, year, time, offset (+hhmm/-hhmm)
//
// A process that handles one reply would otherwise pay more for making the formatter and its first
// parse than for the rest of the reply. Only a text the formatter reads the same way is taken: English
// names as written, the day name that fits the date, fields in range, years 1900 to 9999 (no calendar
// reform in between), an offset of at most 14 hours. Nothing for anything else, which then goes to
// the formatter.
std::optional<foundation::Date> serverDate(std::string_view t) {
  if (t.size() != 31 || t.substr(3, 2) != ", " || t[7] != ' ' || t[11] != ' ' || t[16] != ' ' ||
      t[19] != ':' || t[22] != ':' || t[25] != ' ' || (t[26] != '+' && t[26] != '-'))
    return std::nullopt;
  constexpr std::string_view kDays = "SunMonTueWedThuFriSat";
  constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const size_t dayName = kDays.find(t.substr(0, 3));
  const size_t monthName = kMonths.find(t.substr(8, 3));
  if (dayName % 3 != 0 || monthName % 3 != 0) return std::nullopt;  // also npos, which is no multiple of 3
  const auto day = digitsAt(t, 5, 2), year = digitsAt(t, 12, 4), hour = digitsAt(t, 17, 2),
             minute = digitsAt(t, 20, 2), second = digitsAt(t, 23, 2), offsetHours = digitsAt(t, 27, 2),
             offsetMinutes = digitsAt(t, 29, 2);
  if (!day || !year || !hour || !minute || !second || !offsetHours || !offsetMinutes) return std::nullopt;
  if (*year < 1900 || *hour > 23 || *minute > 59 || *second > 59 || *offsetHours > 14 || *offsetMinutes > 59)
    return std::nullopt;
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{*year}, month{static_cast<unsigned>(monthName / 3 + 1)},
                            std::chrono::day{static_cast<unsigned>(*day)}};
  if (!date.ok()) return std::nullopt;
  const sys_days days{date};
  if (weekday{days}.c_encoding() != dayName / 3) return std::nullopt;
  const int offset = (t[26] == '-' ? -1 : 1) * (*offsetHours * 3600 + *offsetMinutes * 60);
  const double unixSeconds = static_cast<double>(days.time_since_epoch().count()) * 86400.0 +
                             (*hour * 3600 + *minute * 60 + *second - offset);
  return foundation::Date::fromUnix(unixSeconds);
}

std::string lastPathComponent(std::string_view path) {
  if (path.empty()) return "";
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return "/";
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

void encodeText(plist::Coder& coder, std::string_view key, const std::optional<std::string>& text) {
  if (text) coder.encodeString(key, *text);
}

void encodeDate(plist::Coder& coder, std::string_view key, const std::optional<foundation::Date>& date) {
  if (date) coder.encodeDate(key, *date);
}

// An archived 64-bit count; the archive is outside input as much as a reply is.
std::int64_t decodeCount(plist::Decoder& decoder, std::string_view key) {
  std::int64_t n = decoder.decodeInteger(key).value_or(0);
  if (n < 0) decoder.fail("\"" + std::string(key) + "\" is negative");
  return n;
}

}  // namespace

// --- CloudMetadata ---------------------------------------------------------------------------------

const foundation::DateFormatter& CloudMetadata::dateFormatter() {
  thread_local const foundation::DateFormatter formatter = foundation::DateFormatter::withPattern(
      "EEE, dd MMM yyyy HH:mm:ss Z", foundation::Locale::posix(), foundation::TimeZone::utc());
  return formatter;
}

std::optional<foundation::Date> CloudMetadata::dateFromString(std::string_view text) {
  if (auto date = serverDate(text)) return date;
  return dateFormatter().dateFromString(text);
}

std::shared_ptr<CloudMetadata> CloudMetadata::withDictionary(const Dictionary& reply) {
  auto record = std::make_shared<CloudMetadata>();
  ReplyReader read(reply, kClassName);
  record->thumbnailExists_ = read.flag("thumb_exists");
  record->totalBytes_ = read.count("bytes");
  record->lastModifiedDate_ = read.date("modified");
  record->clientMtime_ = read.date("client_mtime");
  record->path_ = read.text("path");
  record->isDirectory_ = read.flag("is_dir");
  record->hash_ = read.text("hash");
  record->humanReadableSize_ = read.text("size");
  record->root_ = read.text("root");
  record->icon_ = read.text("icon");
  record->rev_ = read.text("rev");
  record->revision_ = read.count("revision");
  record->isDeleted_ = read.flag("is_deleted");
  if (const Value* contents = read.present("contents")) {
    const Array* children = contents->array();
    if (children == nullptr) read.wrong("contents", "an array");
    record->contents_.emplace();
    for (const Value& child : children ? *children : Array{}) {
      const Dictionary* fields = child.dictionary();
      auto made = fields ? withDictionary(*fields) : nullptr;
      if (!made) {
        read.fail("an element of \"contents\" is no metadata");
        break;
      }
      record->contents_->push_back(std::move(made));
    }
  }
  if (!read.finish()) return nullptr;
  record->deriveFilename();
  return record;
}

void CloudMetadata::deriveFilename() { filename_ = lastPathComponent(path_.value_or("")); }

bool CloudMetadata::isEqual(const CloudMetadata& other) const {
  if (this == &other) return true;
  return rev_ && other.rev_ && *rev_ == *other.rev_;
}

void CloudMetadata::encodeWithCoder(plist::Coder& coder) const {
  coder.encodeBool("thumbnailExists", thumbnailExists_);
  coder.encodeInt("totalBytes", totalBytes_);
  encodeDate(coder, "lastModifiedDate", lastModifiedDate_);
  encodeDate(coder, "clientMtime", clientMtime_);
  encodeText(coder, "path", path_);
  coder.encodeBool("isDirectory", isDirectory_);
  if (contents_) coder.encodeObjectArray("contents", *contents_);
  encodeText(coder, "hash", hash_);
  encodeText(coder, "humanReadableSize", humanReadableSize_);
  encodeText(coder, "root", root_);
  encodeText(coder, "icon", icon_);
  encodeText(coder, "rev", rev_);
  coder.encodeInt("revision", revision_);
  coder.encodeBool("isDeleted", isDeleted_);
}

std::shared_ptr<CloudMetadata> CloudMetadata::decode(plist::Decoder& decoder) {
  auto record = std::make_shared<CloudMetadata>();
  record->thumbnailExists_ = decoder.decodeBool("thumbnailExists").value_or(false);
  record->totalBytes_ = decodeCount(decoder, "totalBytes");
  record->lastModifiedDate_ = decoder.decodeDate("lastModifiedDate");
  record->clientMtime_ = decoder.decodeDate("clientMtime");
  record->path_ = decoder.decodeString("path");
  record->isDirectory_ = decoder.decodeBool("isDirectory").value_or(false);
  if (auto children = decoder.decodeObjectArray<CloudMetadata>("contents")) {
    record->contents_.emplace(children->begin(), children->end());
  }
  record->hash_ = decoder.decodeString("hash");
  record->humanReadableSize_ = decoder.decodeString("humanReadableSize");
  record->root_ = decoder.decodeString("root");
  record->icon_ = decoder.decodeString("icon");
  record->rev_ = decoder.decodeString("rev");
  record->revision_ = decodeCount(decoder, "revision");
  record->isDeleted_ = decoder.decodeBool("isDeleted").value_or(false);
  record->deriveFilename();
  return record;
}

// --- CloudDeltaEntry -------------------------------------------------------------------------------

std::shared_ptr<CloudDeltaEntry> CloudDeltaEntry::withArray(const Array& entry) {
  const std::string* path = entry.size() == 2 ? entry[0].string() : nullptr;
  if (path == nullptr) {
    CloudLogWarning("CloudSDK: no %@ made: %@", kClassName, "an entry is not [path, metadata]");
    return nullptr;
  }
  auto record = std::make_shared<CloudDeltaEntry>();
  record->lowercasePath_ = *path;
  if (!entry[1].isNull()) {
    const Dictionary* fields = entry[1].dictionary();
    record->metadata_ = fields ? CloudMetadata::withDictionary(*fields) : nullptr;
    if (!record->metadata_) {
      CloudLogWarning("CloudSDK: no %@ made: %@", kClassName, "its metadata is not a record");
      return nullptr;
    }
  }
  return record;
}

bool CloudDeltaEntry::isEqualToDeltaEntry(const CloudDeltaEntry& other) const {
  if (this == &other) return true;
  if (lowercasePath_ != other.lowercasePath_) return false;
  if (!metadata_ || !other.metadata_) return !metadata_ && !other.metadata_;
  return metadata_->isEqual(*other.metadata_);
}

void CloudDeltaEntry::encodeWithCoder(plist::Coder& coder) const {
  coder.encodeString("lowercasePath", lowercasePath_);
  coder.encodeObject("metadata", metadata_);
}

std::shared_ptr<CloudDeltaEntry> CloudDeltaEntry::decode(plist::Decoder& decoder) {
  auto record = std::make_shared<CloudDeltaEntry>();
  record->lowercasePath_ = decoder.decodeString("lowercasePath").value_or("");
  record->metadata_ = decoder.decodeObjectOfClass<CloudMetadata>("metadata");
  return record;
}

// --- CloudQuota ------------------------------------------------------------------------------------

std::shared_ptr<CloudQuota> CloudQuota::withDictionary(const Dictionary& reply) {
  auto record = std::make_shared<CloudQuota>();
  ReplyReader read(reply, kClassName);
  record->normal_ = read.count("normal");
  record->shared_ = read.count("shared");
  record->total_ = read.count("quota");
  if (!read.finish()) return nullptr;
  record->derive();
  return record;
}

void CloudQuota::derive() {
  // Both are at least 0 here, so only the upper end can be passed.
  totalConsumed_ = normal_ > std::numeric_limits<std::int64_t>::max() - shared_
                       ? std::numeric_limits<std::int64_t>::max()
                       : normal_ + shared_;
}

void CloudQuota::encodeWithCoder(plist::Coder& coder) const {
  coder.encodeInt("normalConsumedBytes", normal_);
  coder.encodeInt("sharedConsumedBytes", shared_);
  coder.encodeInt("totalBytes", total_);
}

std::shared_ptr<CloudQuota> CloudQuota::decode(plist::Decoder& decoder) {
  auto record = std::make_shared<CloudQuota>();
  record->normal_ = decodeCount(decoder, "normalConsumedBytes");
  record->shared_ = decodeCount(decoder, "sharedConsumedBytes");
  record->total_ = decodeCount(decoder, "totalBytes");
  record->derive();
  return record;
}

// --- CloudAccountInfo ------------------------------------------------------------------------------

std::shared_ptr<CloudAccountInfo> CloudAccountInfo::withDictionary(const Dictionary& reply) {
  auto record = std::make_shared<CloudAccountInfo>();
  ReplyReader read(reply, kClassName);
  record->original_ = reply;
  record->country_ = read.text("country");
  record->displayName_ = read.text("display_name");
  record->referralLink_ = read.text("referral_link");
  if (const Value* uid = read.present("uid")) {
    if (auto n = wholeCount(*uid)) {
      record->userId_ = std::to_string(*n);
    } else {
      read.wrong("uid", "a whole number");
    }
  }
  if (const Value* quota = read.present("quota_info")) {
    const Dictionary* fields = quota->dictionary();
    record->quota_ = fields ? CloudQuota::withDictionary(*fields) : nullptr;
    if (!record->quota_) read.fail("\"quota_info\" is no quota");
  }
  if (!read.finish()) return nullptr;
  return record;
}

void CloudAccountInfo::encodeWithCoder(plist::Coder& coder) const {
  coder.encodeValue("original", Value(original_));
}

std::shared_ptr<CloudAccountInfo> CloudAccountInfo::decode(plist::Decoder& decoder) {
  Dictionary original;
  if (decoder.containsValue("original")) {
    Value stored = decoder.decodeValue("original");
    if (const Dictionary* fields = stored.dictionary()) original = *fields;
  } else {
    // The older form kept one field per property; it is turned into the reply it came from.
    auto setText = [&](std::string key, std::string_view field) {
      if (auto text = decoder.decodeString(field)) original.set(std::move(key), *text);
    };
    setText("country", "country");
    setText("display_name", "displayName");
    if (auto quota = decoder.decodeObjectOfClass<CloudQuota>("quota")) {
      original.set("quota_info", Dictionary{{"normal", quota->normalConsumedBytes()},
                                            {"shared", quota->sharedConsumedBytes()},
                                            {"quota", quota->totalBytes()}});
    }
    if (auto userId = decoder.decodeString("userId")) {
      if (auto number = foundation::Decimal::parse(*userId)) original.set("uid", *number);
    }
    setText("referral_link", "referralLink");
    setText("email", "email");
  }
  if (decoder.failed()) return nullptr;
  auto record = withDictionary(original);
  if (!record) decoder.fail("the archived account is not an account");
  return record;
}

// --- registration ----------------------------------------------------------------------------------

void registerCloudRecordClasses(plist::ClassRegistry& registry) {
  registry.add(std::string(CloudMetadata::kClassName),
               [](plist::Decoder& d) -> plist::ObjectPtr { return CloudMetadata::decode(d); });
  registry.add(std::string(CloudDeltaEntry::kClassName),
               [](plist::Decoder& d) -> plist::ObjectPtr { return CloudDeltaEntry::decode(d); });
  registry.add(std::string(CloudQuota::kClassName),
               [](plist::Decoder& d) -> plist::ObjectPtr { return CloudQuota::decode(d); });
  registry.add(std::string(CloudAccountInfo::kClassName),
               [](plist::Decoder& d) -> plist::ObjectPtr { return CloudAccountInfo::decode(d); });
}

namespace {
// The shared registry knows the records from the start, as the platform's classes are known.
const bool registered = (registerCloudRecordClasses(), true);
}  // namespace

}  // namespace cloud
