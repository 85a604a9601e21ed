#pragma once
// The keychain: small secret values that outlive a launch, kept as generic-password items.
//
// Items are addressed the platform's way, with attribute dictionaries under the platform's keys
// ("class", "svce", "acct", ...), and every operation answers with the platform's status codes, so
// code written against the phone's keychain reads the same here. All items of one service live in
// one file of the keychain folder (Library/Keychains under the application's home), readable by
// the owner only (mode 0600) and replaced atomically on every change.
//
// What the items hold: the class, service and account (text; an absent one counts as empty, and the
// pair names the item), the generic attribute (bytes), label, description and comment (text), the
// accessibility (kept and returned, not enforced: there is no lock screen), the data (bytes), and
// the creation and modification dates.
//
// Internet passwords ("inet") hold the server, security domain and account instead of the service
// (text; absent counts as empty, and the three name the item), the item type (an integer), and the
// label, description, comment, accessibility, data and dates as above. All internet passwords of
// one server live in one file of the "Internet" folder under the keychain folder, so the two
// classes never share a file. Every query names its class and reaches only items of that class.
//
// Queries match every attribute they name; the ones they leave out match anything. A key the
// keychain does not know, a value of the wrong type, or a key in the wrong place (the data in a
// query, a return key in an update) is refused with kParam before anything is touched.
//
// A file that cannot be decoded is never read as items and never silently overwritten: reads report
// kDecode, and the first change to its service moves it aside (the same name with ".damaged") and
// starts the service afresh.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/app_home.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/value.h"

namespace security {

namespace detail {
struct KeychainItem;
struct KeychainFields;
struct KeychainServiceFile;
enum class KeychainClass : std::uint8_t;
}  // namespace detail

// A keychain status code, with the platform's values.
using KeychainStatus = std::int32_t;

class Keychain {
 public:
  // Status codes.
  static constexpr KeychainStatus kSuccess = 0;
  static constexpr KeychainStatus kUnimplemented = -4;
  static constexpr KeychainStatus kIO = -36;
  static constexpr KeychainStatus kParam = -50;
  static constexpr KeychainStatus kAllocate = -108;
  static constexpr KeychainStatus kNotAvailable = -25291;
  static constexpr KeychainStatus kDuplicateItem = -25299;
  static constexpr KeychainStatus kItemNotFound = -25300;
  static constexpr KeychainStatus kInteractionNotAllowed = -25308;
  static constexpr KeychainStatus kDecode = -26275;

  // Item class.
  static constexpr std::string_view kClassKey = "class";
  static constexpr std::string_view kClassGenericPassword = "genp";
  static constexpr std::string_view kClassInternetPassword = "inet";

  // Attributes.
  static constexpr std::string_view kServiceKey = "svce";
  static constexpr std::string_view kAccountKey = "acct";
  static constexpr std::string_view kGenericKey = "gena";
  static constexpr std::string_view kLabelKey = "labl";
  static constexpr std::string_view kDescriptionKey = "desc";
  static constexpr std::string_view kCommentKey = "icmt";
  static constexpr std::string_view kCreationDateKey = "cdat";
  static constexpr std::string_view kModificationDateKey = "mdat";
  static constexpr std::string_view kAccessibleKey = "pdmn";
  // Attributes of internet passwords.
  static constexpr std::string_view kSecurityDomainKey = "sdmn";
  static constexpr std::string_view kServerKey = "srvr";
  static constexpr std::string_view kTypeKey = "type";

  // Accessibility values.
  static constexpr std::string_view kAccessibleWhenUnlocked = "ak";
  static constexpr std::string_view kAccessibleAfterFirstUnlock = "ck";
  static constexpr std::string_view kAccessibleAlways = "dk";
  static constexpr std::string_view kAccessibleWhenPasscodeSetThisDeviceOnly = "akpu";
  static constexpr std::string_view kAccessibleWhenUnlockedThisDeviceOnly = "aku";
  static constexpr std::string_view kAccessibleAfterFirstUnlockThisDeviceOnly = "cku";
  static constexpr std::string_view kAccessibleAlwaysThisDeviceOnly = "dku";

  // The item's data.
  static constexpr std::string_view kValueDataKey = "v_Data";

  // What a search returns and how many it matches.
  static constexpr std::string_view kReturnDataKey = "r_Data";
  static constexpr std::string_view kReturnAttributesKey = "r_Attributes";
  static constexpr std::string_view kMatchLimitKey = "m_Limit";
  static constexpr std::string_view kMatchLimitOne = "m_LimitOne";
  static constexpr std::string_view kMatchLimitAll = "m_LimitAll";

  // The keychain of the application whose home this is; its folder is made on the first write.
  // Dates come from the clock, which must outlive the keychain.
  explicit Keychain(const files::AppHome& home, foundation::Clock& clock = foundation::Clock::system());
  Keychain(const Keychain&) = delete;
  Keychain& operator=(const Keychain&) = delete;

  // Library/Keychains under the home.
  static std::filesystem::path folderFor(const files::AppHome& home);
  const std::filesystem::path& folder() const { return folder_; }

  // Adds an item from its attributes and data. The accessibility defaults to "when unlocked".
  // kDuplicateItem when an item of the same name (service and account; for internet passwords
  // server, security domain and account) exists.
  KeychainStatus add(const foundation::Dictionary& attributes);

  // Finds items. With neither return key the answer is only the status; with one, the data (bytes)
  // or the attributes (a dictionary); with both, the attributes with the data under kValueDataKey.
  // With kMatchLimitAll the result is an array of those, in the order of service (or server), then
  // security domain, then account.
  // `result` may be null; it is set only on success.
  KeychainStatus copyMatching(const foundation::Dictionary& query, foundation::Value* result);

  // Changes every matching item. `attributes` may change the data and any attribute but the class;
  // an update that would make two items of the same name fails with
  // kDuplicateItem and changes nothing.
  KeychainStatus update(const foundation::Dictionary& query, const foundation::Dictionary& attributes);

  // Deletes every matching item; kItemNotFound when there is none.
  KeychainStatus remove(const foundation::Dictionary& query);

  // The file that holds the items of a service (it need not exist).
  std::filesystem::path fileForService(std::string_view service) const;
  // The file that holds the internet passwords of a server (it need not exist).
  std::filesystem::path fileForServer(std::string_view server) const;

 private:
  using ServiceFile = detail::KeychainServiceFile;
  using Fields = detail::KeychainFields;
  using ItemClass = detail::KeychainClass;

  const std::filesystem::path& folderOf(ItemClass itemClass) const;
  std::filesystem::path fileFor(ItemClass itemClass, std::string_view name) const;
  // `name` is the service, or for internet passwords the server.
  KeychainStatus loadService(ItemClass itemClass, const std::string& name, ServiceFile* file) const;
  KeychainStatus loadForChange(ItemClass itemClass, const std::string& name, ServiceFile* file);
  KeychainStatus setAside(const std::filesystem::path& path);
  // The files of the query's service, or of every service when it names none. For a change,
  // unreadable files are moved aside instead of failing the operation.
  KeychainStatus loadMatching(const Fields& query, bool forChange, std::vector<ServiceFile>* files);
  KeychainStatus save(const ServiceFile& file);

  std::filesystem::path folder_;
  std::filesystem::path internetFolder_;
  foundation::Clock& clock_;
  std::mutex mutex_;
};

}  // namespace security
