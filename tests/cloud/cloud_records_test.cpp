// Metadata, delta, account and quota records: made from replies, refused for values of the wrong
// kind, and carried through keyed archives.
#include "cloud/cloud_records.h"

#include <gtest/gtest.h>

#include "cloud/json.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/log.h"

namespace cloud {
namespace {

using foundation::Dictionary;
using foundation::Value;

Value json(std::string_view text) {
  CloudJsonParser parser;
  auto value = parser.fragmentWithString(text);
  EXPECT_TRUE(value) << text;
  return value.value_or(Value());
}

std::shared_ptr<CloudMetadata> metadata(std::string_view text) {
  return CloudMetadata::withDictionary(*json(text).dictionary());
}

// Every field of a record but its contents.
auto fields(const CloudMetadata& m) {
  return std::tuple(m.thumbnailExists(), m.totalBytes(), m.lastModifiedDate(), m.clientMtime(), m.path(),
                    m.isDirectory(), m.hash(), m.humanReadableSize(), m.root(), m.icon(), m.rev(),
                    m.revision(), m.isDeleted(), m.filename());
}

constexpr std::string_view kFolder = R"({
  "hash": "37eb1ba1849d4b0fb0b28caf7ef3af52", "thumb_exists": false, "bytes": 0,
  "path": "/Photos", "is_dir": true, "icon": "folder", "root": "app_folder", "size": "0 bytes",
  "modified": "Wed, 27 Apr 2011 22:18:51 +0000",
  "contents": [
    {"size": "2.3 MB", "rev": "38af1b183490", "thumb_exists": true, "bytes": 2453963,
     "modified": "Mon, 07 Apr 2014 23:13:16 +0000", "client_mtime": "Thu, 29 Aug 2013 01:12:02 +0200",
     "path": "/Photos/flower.jpg", "is_dir": false, "icon": "page_white_picture",
     "root": "app_folder", "mime_type": "image/jpeg", "revision": 14511}
  ]})";

TEST(CloudRecords, AFolderReplyBecomesRecordsThatSurviveAnArchive) {
  auto folder = metadata(kFolder);
  ASSERT_NE(folder, nullptr);
  EXPECT_TRUE(folder->isDirectory());
  EXPECT_EQ(folder->filename(), "Photos");
  EXPECT_EQ(folder->hash(), "37eb1ba1849d4b0fb0b28caf7ef3af52");
  EXPECT_EQ(folder->clientMtime(), std::nullopt);
  EXPECT_EQ(std::tuple(folder->humanReadableSize(), folder->icon(), folder->root()),
            std::tuple("0 bytes", "folder", "app_folder"));
  ASSERT_TRUE(folder->contents());
  ASSERT_EQ(folder->contents()->size(), 1u);
  const CloudMetadata& file = *(*folder->contents())[0];
  EXPECT_EQ(file.filename(), "flower.jpg");
  EXPECT_EQ(file.totalBytes(), 2453963);
  EXPECT_EQ(file.revision(), 14511);
  EXPECT_TRUE(file.thumbnailExists());
  // 2013-08-28 23:12:02 UTC.
  EXPECT_EQ(file.clientMtime(), foundation::Date{399424322});

  auto bytes = plist::archiveRootObject(*folder);
  ASSERT_TRUE(bytes.ok());
  auto back = plist::unarchiveRootObjectOfClass<CloudMetadata>(*bytes);
  ASSERT_TRUE(back.ok());
  const CloudMetadata& copy = **back;
  EXPECT_EQ(fields(copy), fields(*folder));
  ASSERT_TRUE(copy.contents() && copy.contents()->size() == 1);
  EXPECT_EQ(fields(*(*copy.contents())[0]), fields(file));
}

TEST(CloudRecords, MissingKeysLeaveFieldsEmptyAndNamesFollowThePath) {
  auto bare = metadata(R"({"path": "/"})");
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->filename(), "/");
  EXPECT_EQ(bare->contents(), std::nullopt);
  EXPECT_EQ(bare->rev(), std::nullopt);
  EXPECT_EQ(bare->totalBytes(), 0);
  EXPECT_FALSE(bare->isEqual(*metadata("{}")));
  EXPECT_TRUE(bare->isEqual(*bare));
  EXPECT_EQ(metadata(R"({"contents": []})")->contents()->size(), 0u);
  EXPECT_EQ(metadata(R"({"path": "/backUp.zip", "rev": "a"})")->filename(), "backUp.zip");
  EXPECT_EQ(metadata(R"({"path": "/a/b/"})")->filename(), "b");
  // The same rev is the same file, whatever else differs; a date that does not match is no date.
  auto other = metadata(R"({"path": "/elsewhere", "rev": "a", "modified": "yesterday"})");
  EXPECT_TRUE(other->isEqual(*metadata(R"({"path": "/backUp.zip", "rev": "a"})")));
  EXPECT_EQ(other->lastModifiedDate(), std::nullopt);
}

TEST(CloudRecords, ValuesOfTheWrongKindMakeNoRecordAndSayWhy) {
  const std::string_view cases[] = {
      R"({"path": 7})",
      R"({"rev": ["x"]})",
      R"({"contents": {"path": "/a"}})",
      R"({"contents": [{"path": "/a"}, "b"]})",
      R"({"contents": [{"bytes": -1}]})",
      R"({"bytes": 1e30})",
      R"({"bytes": 2.5})",
      R"({"bytes": -4})",
      R"({"bytes": "12"})",
      R"({"revision": 9223372036854775808})",
      R"({"is_dir": "yes"})",
      R"({"modified": 1300000000})",
  };
  for (std::string_view text : cases) {
    foundation::ScopedLogCapture log;
    EXPECT_EQ(metadata(text), nullptr) << text;
    ASSERT_FALSE(log.messages().empty()) << text;  // a child's reason, then its parent's
    EXPECT_TRUE(log.messages().back().starts_with("[WARNING] CloudSDK: no CloudMetadata made: ")) << text;
  }
  // The largest 64-bit count and JSON null are fine.
  auto big = metadata(R"({"bytes": 9223372036854775807, "rev": null, "is_dir": 1})");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->totalBytes(), 9223372036854775807);
  EXPECT_TRUE(big->isDirectory());
}

TEST(CloudRecords, DatesReadTheSameUnderAnyProcessLocale) {
  for (const char* id : {"de_DE", "ja_JP", "en_US"}) {
    foundation::Locale::setDefault(foundation::Locale(id));
    auto record = metadata(R"({"client_mtime": "Tue, 01 Jan 2030 07:00:00 -0500"})");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->clientMtime(), foundation::Date{915192000}) << id;
    EXPECT_EQ(CloudMetadata::dateFormatter().stringFromDate(foundation::Date{915192000}),
              "Tue, 01 Jan 2030 12:00:00 +0000")
        << id;
  }
  foundation::Locale::setDefault(std::nullopt);
}

TEST(CloudRecords, DatesInTheServersFormReadAsTheFormatterReadsThem) {
  const std::string_view texts[] = {
      "Tue, 29 Feb 2028 23:59:59 +1400", "Wed, 27 Apr 2011 22:18:51 -0000",
      "Sun, 31 Dec 1899 12:00:00 +0000",  // before the years read straight
      "Mon, 01 Jan 2030 07:00:00 -0500",  // a day name that does not fit the date
      "tue, 01 Jan 2030 07:00:00 -0500", "Tue, 1 Jan 2030 07:00:00 -0500",
      "Thu, 29 Feb 2029 00:00:00 +0000", "Tue, 01 Jan 2030 24:00:00 +0000",
      "Tue, 01 Jan 2030 07:60:00 +0000", "Tue, 01 Jan 2030 07:00:60 +0000",
      "Tue, 01 Jan 2030 07:00:00 +2359", "Tue, 01 Jan 2030 07:00:00 +0060",
      "Tue, 01 Jan 2030 07:00:00 GMT",   "Tue, 01 Jan 2030 07:00:00 +0000 ",
      "Tue, 01 Foo 2030 07:00:00 +0000", "Tue, 01 Jan 2030 07:00:00 +00:0",
  };
  for (std::string_view text : texts)
    EXPECT_EQ(CloudMetadata::dateFromString(text), CloudMetadata::dateFormatter().dateFromString(text))
        << text;
  EXPECT_EQ(CloudMetadata::dateFromString(texts[0]), foundation::Date::fromUnix(1835431199));
}

TEST(CloudRecords, DeltaEntries) {
  auto deleted = CloudDeltaEntry::withArray(*json(R"(["/old.zip", null])").array());
  ASSERT_NE(deleted, nullptr);
  EXPECT_EQ(deleted->metadata(), nullptr);
  auto changed =
      CloudDeltaEntry::withArray(*json(R"(["/old.zip", {"rev": "1", "path": "/Old.zip"}])").array());
  ASSERT_NE(changed, nullptr);
  EXPECT_EQ(changed->metadata()->filename(), "Old.zip");
  EXPECT_FALSE(deleted->isEqualToDeltaEntry(*changed));
  EXPECT_TRUE(
      deleted->isEqualToDeltaEntry(*CloudDeltaEntry::withArray(*json(R"(["/old.zip", null])").array())));

  auto bytes = plist::archiveRootObject(*changed);
  ASSERT_TRUE(bytes.ok());
  auto back = plist::unarchiveRootObjectOfClass<CloudDeltaEntry>(*bytes);
  ASSERT_TRUE(back.ok());
  EXPECT_TRUE((*back)->isEqualToDeltaEntry(*changed));

  foundation::ScopedLogCapture log;
  for (std::string_view bad : {R"(["/a"])", R"([3, null])", R"(["/a", 4])", R"(["/a", {"bytes": 0.5}])"})
    EXPECT_EQ(CloudDeltaEntry::withArray(*json(bad).array()), nullptr) << bad;
  EXPECT_GE(log.messages().size(), 4u);
}

TEST(CloudRecords, AccountAndQuotaInBothArchiveForms) {
  constexpr std::string_view kAccount = R"({"referral_link": "https://www.example.com/referrals/r1a2n3d4m5",
    "display_name": "John P. User", "uid": 12345678, "country": "US", "email": "john@example.com",
    "quota_info": {"shared": 253738410565, "quota": 107374182400000, "normal": 680031877871}})";
  auto account = CloudAccountInfo::withDictionary(*json(kAccount).dictionary());
  ASSERT_NE(account, nullptr);
  EXPECT_EQ(account->userId(), "12345678");
  EXPECT_EQ(account->quota()->totalConsumedBytes(), 253738410565 + 680031877871);

  auto bytes = plist::archiveRootObject(*account);
  ASSERT_TRUE(bytes.ok());
  auto back = plist::unarchiveRootObjectOfClass<CloudAccountInfo>(*bytes);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ((*back)->displayName(), "John P. User");
  EXPECT_EQ((*back)->quota()->totalBytes(), 107374182400000);

  // The older form: one field per property, the quota as its own record.
  auto quota = CloudQuota::withDictionary(Dictionary{{"normal", 5}, {"shared", 6}, {"quota", 100}});
  auto older = plist::archive([&](plist::Coder& top) {
    struct Older : plist::Archivable {
      std::shared_ptr<CloudQuota> quota;
      std::string className() const override { return "CloudAccountInfo"; }
      void encodeWithCoder(plist::Coder& c) const override {
        c.encodeString("country", "DE");
        c.encodeString("displayName", "Erika");
        c.encodeString("userId", "77");
        c.encodeString("referralLink", "https://r");
        c.encodeObject("quota", quota);
      }
    } record;
    record.quota = quota;
    top.encodeObject(plist::kRootKey, &record);
  });
  ASSERT_TRUE(older.ok());
  auto converted = plist::unarchiveRootObjectOfClass<CloudAccountInfo>(*older);
  ASSERT_TRUE(converted.ok());
  EXPECT_EQ((*converted)->userId(), "77");
  EXPECT_EQ((*converted)->country(), "DE");
  EXPECT_EQ((*converted)->quota()->totalConsumedBytes(), 11);
  EXPECT_EQ((*converted)->original()["display_name"], Value("Erika"));

  foundation::ScopedLogCapture log;
  EXPECT_EQ(CloudAccountInfo::withDictionary(Dictionary{{"uid", "12"}}), nullptr);
  EXPECT_EQ(CloudAccountInfo::withDictionary(Dictionary{{"quota_info", 3}}), nullptr);
  // Near the top of the range the sum is held, not wrapped.
  auto full = CloudQuota::withDictionary(Dictionary{{"normal", std::int64_t{9223372036854775807}},
                                                    {"shared", std::int64_t{9223372036854775807}}});
  EXPECT_EQ(full->totalConsumedBytes(), 9223372036854775807);
}

}  // namespace
}  // namespace cloud
