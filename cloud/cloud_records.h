#pragma once
// The records the REST client hands to the application, made from the service's decoded JSON
// replies: CloudMetadata (a file or folder, with its children), CloudDeltaEntry (one change of a
// delta listing), CloudAccountInfo and CloudQuota. Each is immutable once made, so it may be read
// from any thread; values derived from others (filename, totalConsumedBytes) are worked out when
// the record is made. Each is also a keyed-archive class under its own name.
//
// Trust model: a reply is outside input. A key that is missing (or JSON null) leaves its field
// empty (nullopt, false or 0), as the service leaves out what does not apply. A value of the wrong
// kind (a number where a text is due, "contents" that is no array, a byte count that is negative,
// fractional or past 64 bits) makes no record at all: the make functions return nullptr and log
// the reason as a warning, never a half-filled record. The same holds for a record's children.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/value.h"
#include "platform/plist/keyed_archive.h"

namespace cloud {

class CloudMetadata;
using CloudMetadataPtr = std::shared_ptr<const CloudMetadata>;

class CloudMetadata : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "CloudMetadata";

  static std::shared_ptr<CloudMetadata> withDictionary(const foundation::Dictionary& reply);

  // The metadata date format: "EEE, dd MMM yyyy HH:mm:ss Z" in "en_US_POSIX", written in UTC. One
  // formatter per thread, made on the thread's first use, as replies are parsed on worker threads.
  static const foundation::DateFormatter& dateFormatter();
  // A date text of replies in that format, as dateFormatter() reads it; the form servers write is
  // read without making the formatter.
  static std::optional<foundation::Date> dateFromString(std::string_view text);

  bool thumbnailExists() const { return thumbnailExists_; }
  std::int64_t totalBytes() const { return totalBytes_; }
  const std::optional<foundation::Date>& lastModifiedDate() const { return lastModifiedDate_; }
  const std::optional<foundation::Date>& clientMtime() const { return clientMtime_; }
  const std::optional<std::string>& path() const { return path_; }
  bool isDirectory() const { return isDirectory_; }
  // Nothing when the reply had no "contents"; an empty list for an empty folder.
  const std::optional<std::vector<CloudMetadataPtr>>& contents() const { return contents_; }
  const std::optional<std::string>& hash() const { return hash_; }
  const std::optional<std::string>& humanReadableSize() const { return humanReadableSize_; }
  const std::optional<std::string>& root() const { return root_; }
  const std::optional<std::string>& icon() const { return icon_; }
  const std::optional<std::string>& rev() const { return rev_; }
  std::int64_t revision() const { return revision_; }
  bool isDeleted() const { return isDeleted_; }
  // The last component of the path ("/" for "/", "" without a path).
  const std::string& filename() const { return filename_; }

  // The same record, or one with an equal "rev" (two records without one differ).
  bool isEqual(const CloudMetadata& other) const;

  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  static std::shared_ptr<CloudMetadata> decode(plist::Decoder& decoder);

 private:
  void deriveFilename();

  bool thumbnailExists_ = false;
  std::int64_t totalBytes_ = 0;
  std::optional<foundation::Date> lastModifiedDate_;
  std::optional<foundation::Date> clientMtime_;
  std::optional<std::string> path_;
  bool isDirectory_ = false;
  std::optional<std::vector<CloudMetadataPtr>> contents_;
  std::optional<std::string> hash_;
  std::optional<std::string> humanReadableSize_;
  std::optional<std::string> root_;
  std::optional<std::string> icon_;
  std::optional<std::string> rev_;
  std::int64_t revision_ = 0;
  bool isDeleted_ = false;
  std::string filename_;
};

class CloudDeltaEntry : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "CloudDeltaEntry";

  // From a two-element array [path, metadata or null].
  static std::shared_ptr<CloudDeltaEntry> withArray(const foundation::Array& entry);

  const std::string& lowercasePath() const { return lowercasePath_; }
  // nullptr when the path was deleted.
  const CloudMetadataPtr& metadata() const { return metadata_; }

  // Equal paths and equal metadata (two missing ones count as equal).
  bool isEqualToDeltaEntry(const CloudDeltaEntry& other) const;

  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  static std::shared_ptr<CloudDeltaEntry> decode(plist::Decoder& decoder);

 private:
  std::string lowercasePath_;
  CloudMetadataPtr metadata_;
};

class CloudQuota : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "CloudQuota";

  static std::shared_ptr<CloudQuota> withDictionary(const foundation::Dictionary& reply);

  std::int64_t normalConsumedBytes() const { return normal_; }
  std::int64_t sharedConsumedBytes() const { return shared_; }
  std::int64_t totalBytes() const { return total_; }
  // Normal plus shared, held at the largest 64-bit value rather than wrapping.
  std::int64_t totalConsumedBytes() const { return totalConsumed_; }

  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  static std::shared_ptr<CloudQuota> decode(plist::Decoder& decoder);

 private:
  void derive();

  std::int64_t normal_ = 0;
  std::int64_t shared_ = 0;
  std::int64_t total_ = 0;
  std::int64_t totalConsumed_ = 0;
};

class CloudAccountInfo : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "CloudAccountInfo";

  static std::shared_ptr<CloudAccountInfo> withDictionary(const foundation::Dictionary& reply);

  const std::optional<std::string>& country() const { return country_; }
  const std::optional<std::string>& displayName() const { return displayName_; }
  const std::shared_ptr<const CloudQuota>& quota() const { return quota_; }
  // The decimal text of "uid".
  const std::optional<std::string>& userId() const { return userId_; }
  const std::optional<std::string>& referralLink() const { return referralLink_; }
  // The whole reply; it alone is archived.
  const foundation::Dictionary& original() const { return original_; }

  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  // Also reads the older archive form without "original" (one field per property).
  static std::shared_ptr<CloudAccountInfo> decode(plist::Decoder& decoder);

 private:
  std::optional<std::string> country_;
  std::optional<std::string> displayName_;
  std::shared_ptr<const CloudQuota> quota_;
  std::optional<std::string> userId_;
  std::optional<std::string> referralLink_;
  foundation::Dictionary original_;
};

// Registers the four classes with a registry (the shared one by default); safe to call again.
void registerCloudRecordClasses(plist::ClassRegistry& registry = plist::ClassRegistry::shared());

}  // namespace cloud
