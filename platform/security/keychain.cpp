#include "platform/security/keychain.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <optional>
#include <system_error>
#include <tuple>
#include <utility>

#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/security/digest.h"

namespace security {

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Dictionary;
using foundation::Value;

namespace detail {

enum class KeychainClass : std::uint8_t { kGeneric, kInternet };

struct KeychainItem {
  std::string account;
  // Internet passwords only.
  std::string securityDomain;
  std::optional<std::int64_t> type;
  std::optional<Bytes> generic;
  std::optional<std::string> label;
  std::optional<std::string> description;
  std::optional<std::string> comment;
  std::string accessible;
  std::optional<Bytes> data;
  foundation::Date created;
  foundation::Date modified;
};

struct KeychainServiceFile {
  KeychainClass itemClass = KeychainClass::kGeneric;
  // The service, or for internet passwords the server.
  std::string service;
  std::vector<KeychainItem> items;
};

// The attributes a dictionary names, parsed and checked.
struct KeychainFields {
  KeychainClass itemClass = KeychainClass::kGeneric;
  std::optional<std::string> service;
  std::optional<std::string> server;
  std::optional<std::string> securityDomain;
  std::optional<std::int64_t> type;
  std::optional<std::string> account;
  std::optional<Bytes> generic;
  std::optional<std::string> label;
  std::optional<std::string> description;
  std::optional<std::string> comment;
  std::optional<std::string> accessible;
  std::optional<Bytes> data;
  bool returnData = false;
  bool returnAttributes = false;
  bool matchAll = false;
};

}  // namespace detail

namespace {

constexpr std::string_view kFileSuffix = ".keychain";
constexpr std::string_view kDamagedSuffix = ".damaged";
constexpr char kMagic[4] = {'K', 'C', 'H', 'N'};
constexpr char kInternetMagic[4] = {'K', 'C', 'I', 'N'};
constexpr std::uint8_t kFormatVersion = 1;
// Longer escaped names are replaced by a digest, to stay within the file system's name limit.
constexpr size_t kMaxPlainFileName = 200;

enum Tag : std::uint8_t {
  kEnd = 0,
  kAccountTag = 1,
  kGenericTag = 2,
  kLabelTag = 3,
  kDescriptionTag = 4,
  kCommentTag = 5,
  kAccessibleTag = 6,
  kDataTag = 7,
  kCreatedTag = 8,
  kModifiedTag = 9,
  kSecurityDomainTag = 10,
  kTypeTag = 11,
};

// Where a dictionary is used: the keys allowed differ.
enum class Role { kAdd, kSearch, kMatchOnly, kUpdate };

using Item = detail::KeychainItem;
using Fields = detail::KeychainFields;
using ServiceFile = detail::KeychainServiceFile;
using ItemClass = detail::KeychainClass;

// The attribute that picks an item's file: the service, or for internet passwords the server.
const std::optional<std::string>& fileKey(const Fields& fields) {
  return fields.itemClass == ItemClass::kInternet ? fields.server : fields.service;
}

// Two items of one file with the same name cannot both exist.
bool sameName(const Item& a, const Item& b) {
  return a.account == b.account && a.securityDomain == b.securityDomain;
}

// Attributes of the other class are refused rather than ignored, so a query never silently
// matches more than it names.
KeychainStatus checkClassAttributes(const Fields& fields) {
  if (fields.itemClass == ItemClass::kInternet)
    return fields.service || fields.generic ? Keychain::kParam : Keychain::kSuccess;
  return fields.server || fields.securityDomain || fields.type ? Keychain::kParam : Keychain::kSuccess;
}

bool isAccessibility(std::string_view value) {
  return value == Keychain::kAccessibleWhenUnlocked || value == Keychain::kAccessibleAfterFirstUnlock ||
         value == Keychain::kAccessibleAlways ||
         value == Keychain::kAccessibleWhenPasscodeSetThisDeviceOnly ||
         value == Keychain::kAccessibleWhenUnlockedThisDeviceOnly ||
         value == Keychain::kAccessibleAfterFirstUnlockThisDeviceOnly ||
         value == Keychain::kAccessibleAlwaysThisDeviceOnly;
}

// Text attributes also take bytes, and the generic attribute also takes text, as the platform
// bridges the two.
bool readText(const Value& value, std::optional<std::string>* out) {
  if (const std::string* s = value.string()) {
    *out = *s;
    return true;
  }
  if (const Bytes* b = value.data()) {
    *out = std::string(b->begin(), b->end());
    return true;
  }
  return false;
}

bool readBytes(const Value& value, std::optional<Bytes>* out) {
  if (const Bytes* b = value.data()) {
    *out = *b;
    return true;
  }
  if (const std::string* s = value.string()) {
    *out = Bytes(s->begin(), s->end());
    return true;
  }
  return false;
}

KeychainStatus parse(const Dictionary& dictionary, Role role, Fields* fields) {
  bool hasClass = false;
  for (const auto& [key, value] : dictionary) {
    bool ok = true;
    if (key == Keychain::kClassKey) {
      if (role == Role::kUpdate) return Keychain::kParam;
      const std::string* itemClass = value.string();
      if (itemClass == nullptr) return Keychain::kParam;
      if (*itemClass == Keychain::kClassInternetPassword) {
        fields->itemClass = ItemClass::kInternet;
      } else if (*itemClass == Keychain::kClassGenericPassword) {
        fields->itemClass = ItemClass::kGeneric;
      } else {
        return Keychain::kParam;
      }
      hasClass = true;
    } else if (key == Keychain::kServiceKey) {
      ok = readText(value, &fields->service);
    } else if (key == Keychain::kServerKey) {
      ok = readText(value, &fields->server);
    } else if (key == Keychain::kSecurityDomainKey) {
      ok = readText(value, &fields->securityDomain);
    } else if (key == Keychain::kTypeKey) {
      ok = value.integer() != nullptr;
      if (ok) fields->type = *value.integer();
    } else if (key == Keychain::kAccountKey) {
      ok = readText(value, &fields->account);
    } else if (key == Keychain::kGenericKey) {
      ok = readBytes(value, &fields->generic);
    } else if (key == Keychain::kLabelKey) {
      ok = value.string() != nullptr && readText(value, &fields->label);
    } else if (key == Keychain::kDescriptionKey) {
      ok = value.string() != nullptr && readText(value, &fields->description);
    } else if (key == Keychain::kCommentKey) {
      ok = value.string() != nullptr && readText(value, &fields->comment);
    } else if (key == Keychain::kAccessibleKey) {
      const std::string* accessible = value.string();
      ok = accessible != nullptr && isAccessibility(*accessible);
      if (ok) fields->accessible = *accessible;
    } else if (key == Keychain::kValueDataKey) {
      ok = (role == Role::kAdd || role == Role::kUpdate) && value.data() != nullptr;
      if (ok) fields->data = *value.data();
    } else if (key == Keychain::kReturnDataKey || key == Keychain::kReturnAttributesKey) {
      ok = role == Role::kSearch && value.boolean() != nullptr;
      if (ok)
        (key == Keychain::kReturnDataKey ? fields->returnData : fields->returnAttributes) = *value.boolean();
    } else if (key == Keychain::kMatchLimitKey) {
      const std::string* limit = value.string();
      ok = role == Role::kSearch && limit != nullptr &&
           (*limit == Keychain::kMatchLimitOne || *limit == Keychain::kMatchLimitAll);
      if (ok) fields->matchAll = *limit == Keychain::kMatchLimitAll;
    } else {
      ok = false;
    }
    if (!ok) return Keychain::kParam;
  }
  // The changes of an update take the class of its query, which the caller checks them against.
  if (role == Role::kUpdate) return Keychain::kSuccess;
  if (!hasClass) return Keychain::kParam;
  return checkClassAttributes(*fields);
}

// --- the file format -----------------------------------------------------------------------------
// "KCHN" ("KCIN" for internet passwords), a version byte, the service or server (length-prefixed),
// the item count, then each item as tagged fields (tag byte, 32-bit length, bytes) closed by a zero
// tag. Integers are big-endian.

void putU32(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void putField(Bytes& out, Tag tag, const void* bytes, size_t size) {
  out.push_back(tag);
  putU32(out, static_cast<std::uint32_t>(size));
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  out.insert(out.end(), p, p + size);
}

void putText(Bytes& out, Tag tag, const std::string& text) { putField(out, tag, text.data(), text.size()); }

void putU64(Bytes& out, Tag tag, std::uint64_t bits) {
  std::uint8_t raw[8];
  for (int i = 0; i < 8; ++i) raw[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  putField(out, tag, raw, sizeof raw);
}

void putDate(Bytes& out, Tag tag, foundation::Date date) {
  putU64(out, tag, std::bit_cast<std::uint64_t>(date.sinceReference));
}

class Reader {
 public:
  explicit Reader(const Bytes& bytes) : bytes_(bytes) {}
  bool take(void* out, size_t n) {
    if (bytes_.size() - pos_ < n) return false;
    std::memcpy(out, bytes_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  bool u8(std::uint8_t* v) { return take(v, 1); }
  bool u32(std::uint32_t* v) {
    std::uint8_t raw[4];
    if (!take(raw, 4)) return false;
    *v =
        (std::uint32_t{raw[0]} << 24) | (std::uint32_t{raw[1]} << 16) | (std::uint32_t{raw[2]} << 8) | raw[3];
    return true;
  }
  bool bytes(size_t n, Bytes* out) {
    if (bytes_.size() - pos_ < n) return false;
    out->assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
    pos_ += n;
    return true;
  }
  size_t remaining() const { return bytes_.size() - pos_; }

 private:
  const Bytes& bytes_;
  size_t pos_ = 0;
};

std::string asText(const Bytes& b) { return std::string(b.begin(), b.end()); }

bool asU64(const Bytes& b, std::uint64_t* bits) {
  if (b.size() != 8) return false;
  *bits = 0;
  for (std::uint8_t byte : b) *bits = (*bits << 8) | byte;
  return true;
}

bool asDate(const Bytes& b, foundation::Date* date) {
  std::uint64_t bits = 0;
  if (!asU64(b, &bits)) return false;
  date->sinceReference = std::bit_cast<double>(bits);
  return true;
}

const char* magicOf(ItemClass itemClass) {
  return itemClass == ItemClass::kInternet ? kInternetMagic : kMagic;
}

Bytes encodeFile(ItemClass itemClass, const std::string& service, const std::vector<Item>& items) {
  const char* magic = magicOf(itemClass);
  Bytes out(magic, magic + sizeof kMagic);
  out.push_back(kFormatVersion);
  putU32(out, static_cast<std::uint32_t>(service.size()));
  out.insert(out.end(), service.begin(), service.end());
  putU32(out, static_cast<std::uint32_t>(items.size()));
  for (const auto& item : items) {
    putText(out, kAccountTag, item.account);
    if (itemClass == ItemClass::kInternet) {
      putText(out, kSecurityDomainTag, item.securityDomain);
      if (item.type) putU64(out, kTypeTag, static_cast<std::uint64_t>(*item.type));
    }
    if (item.generic) putField(out, kGenericTag, item.generic->data(), item.generic->size());
    if (item.label) putText(out, kLabelTag, *item.label);
    if (item.description) putText(out, kDescriptionTag, *item.description);
    if (item.comment) putText(out, kCommentTag, *item.comment);
    putText(out, kAccessibleTag, item.accessible);
    if (item.data) putField(out, kDataTag, item.data->data(), item.data->size());
    putDate(out, kCreatedTag, item.created);
    putDate(out, kModifiedTag, item.modified);
    out.push_back(kEnd);
  }
  return out;
}

// False for anything that is not a whole, well-formed file of this format.
bool decodeFile(ItemClass itemClass, const Bytes& bytes, std::string* service, std::vector<Item>* items) {
  Reader r(bytes);
  char magic[4];
  std::uint8_t version = 0;
  std::uint32_t length = 0;
  Bytes raw;
  if (!r.take(magic, 4) || std::memcmp(magic, magicOf(itemClass), 4) != 0) return false;
  const bool internet = itemClass == ItemClass::kInternet;
  const std::uint8_t lastTag = internet ? kTypeTag : kModifiedTag;
  if (!r.u8(&version) || version != kFormatVersion) return false;
  if (!r.u32(&length) || !r.bytes(length, &raw)) return false;
  *service = asText(raw);
  std::uint32_t count = 0;
  if (!r.u32(&count)) return false;
  // Every item takes at least its end tag: a count beyond the bytes left is damage, not a reason to
  // reserve memory.
  if (count > r.remaining()) return false;
  items->clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    Item item;
    std::uint32_t seen = 0;
    for (;;) {
      std::uint8_t tag = 0;
      if (!r.u8(&tag)) return false;
      if (tag == kEnd) break;
      if (tag > lastTag || (internet && tag == kGenericTag) || (seen & (1u << tag)) != 0) return false;
      seen |= 1u << tag;
      if (!r.u32(&length) || !r.bytes(length, &raw)) return false;
      switch (tag) {
        case kAccountTag:
          item.account = asText(raw);
          break;
        case kGenericTag:
          item.generic = raw;
          break;
        case kLabelTag:
          item.label = asText(raw);
          break;
        case kDescriptionTag:
          item.description = asText(raw);
          break;
        case kCommentTag:
          item.comment = asText(raw);
          break;
        case kAccessibleTag:
          item.accessible = asText(raw);
          if (!isAccessibility(item.accessible)) return false;
          break;
        case kDataTag:
          item.data = raw;
          break;
        case kCreatedTag:
          if (!asDate(raw, &item.created)) return false;
          break;
        case kModifiedTag:
          if (!asDate(raw, &item.modified)) return false;
          break;
        case kSecurityDomainTag:
          item.securityDomain = asText(raw);
          break;
        case kTypeTag: {
          std::uint64_t bits = 0;
          if (!asU64(raw, &bits)) return false;
          item.type = static_cast<std::int64_t>(bits);
          break;
        }
        default:
          return false;
      }
    }
    std::uint32_t required =
        (1u << kAccountTag) | (1u << kAccessibleTag) | (1u << kCreatedTag) | (1u << kModifiedTag);
    if (internet) required |= 1u << kSecurityDomainTag;
    if ((seen & required) != required) return false;
    for (const auto& other : *items) {
      if (sameName(other, item)) return false;
    }
    items->push_back(std::move(item));
  }
  return r.remaining() == 0;
}

bool matches(const Fields& query, const std::string& service, const Item& item) {
  if (fileKey(query) && *fileKey(query) != service) return false;
  if (query.account && *query.account != item.account) return false;
  if (query.securityDomain && *query.securityDomain != item.securityDomain) return false;
  if (query.type && query.type != item.type) return false;
  if (query.generic && query.generic != item.generic) return false;
  if (query.label && query.label != item.label) return false;
  if (query.description && query.description != item.description) return false;
  if (query.comment && query.comment != item.comment) return false;
  if (query.accessible && *query.accessible != item.accessible) return false;
  return true;
}

void apply(const Fields& fields, Item* item) {
  if (fields.account) item->account = *fields.account;
  if (fields.securityDomain) item->securityDomain = *fields.securityDomain;
  if (fields.type) item->type = fields.type;
  if (fields.generic) item->generic = fields.generic;
  if (fields.label) item->label = fields.label;
  if (fields.description) item->description = fields.description;
  if (fields.comment) item->comment = fields.comment;
  if (fields.accessible) item->accessible = *fields.accessible;
  if (fields.data) item->data = fields.data;
}

Value describe(const Fields& query, const std::string& service, const Item& item) {
  Dictionary attributes;
  if (query.returnAttributes) {
    if (query.itemClass == ItemClass::kInternet) {
      attributes.set(std::string(Keychain::kClassKey), std::string(Keychain::kClassInternetPassword));
      attributes.set(std::string(Keychain::kServerKey), service);
      attributes.set(std::string(Keychain::kSecurityDomainKey), item.securityDomain);
      if (item.type) attributes.set(std::string(Keychain::kTypeKey), *item.type);
    } else {
      attributes.set(std::string(Keychain::kClassKey), std::string(Keychain::kClassGenericPassword));
      attributes.set(std::string(Keychain::kServiceKey), service);
    }
    attributes.set(std::string(Keychain::kAccountKey), item.account);
    if (item.generic) attributes.set(std::string(Keychain::kGenericKey), *item.generic);
    if (item.label) attributes.set(std::string(Keychain::kLabelKey), *item.label);
    if (item.description) attributes.set(std::string(Keychain::kDescriptionKey), *item.description);
    if (item.comment) attributes.set(std::string(Keychain::kCommentKey), *item.comment);
    attributes.set(std::string(Keychain::kAccessibleKey), item.accessible);
    attributes.set(std::string(Keychain::kCreationDateKey), item.created);
    attributes.set(std::string(Keychain::kModificationDateKey), item.modified);
  }
  Bytes data = item.data.value_or(Bytes{});
  if (!query.returnAttributes) return data;
  if (query.returnData) attributes.set(std::string(Keychain::kValueDataKey), std::move(data));
  return attributes;
}

void sortItems(std::vector<Item>* items) {
  std::sort(items->begin(), items->end(), [](const auto& a, const auto& b) {
    return std::tie(a.securityDomain, a.account) < std::tie(b.securityDomain, b.account);
  });
}

bool isPlainNameByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-';
}

}  // namespace

Keychain::Keychain(const files::AppHome& home, foundation::Clock& clock)
    : folder_(folderFor(home)), internetFolder_(folder_ / "Internet"), clock_(clock) {}

fs::path Keychain::folderFor(const files::AppHome& home) { return home.library() / "Keychains"; }

fs::path Keychain::fileForService(std::string_view service) const {
  return fileFor(ItemClass::kGeneric, service);
}

fs::path Keychain::fileForServer(std::string_view server) const {
  return fileFor(ItemClass::kInternet, server);
}

const fs::path& Keychain::folderOf(ItemClass itemClass) const {
  return itemClass == ItemClass::kInternet ? internetFolder_ : folder_;
}

fs::path Keychain::fileFor(ItemClass itemClass, std::string_view service) const {
  // Letters, digits, "_", "-" and "." stand for themselves (but a leading "." is escaped, so no name
  // is hidden or "." or ".."); every other byte is "%XX". The empty service is "%".
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string name;
  for (size_t i = 0; i < service.size(); ++i) {
    auto c = static_cast<unsigned char>(service[i]);
    if (isPlainNameByte(c) && !(i == 0 && c == '.')) {
      name.push_back(static_cast<char>(c));
    } else {
      name.push_back('%');
      name.push_back(kHex[c >> 4]);
      name.push_back(kHex[c & 15]);
    }
  }
  if (service.empty()) name = "%";
  if (name.size() > kMaxPlainFileName) {
    auto digest = sha1(service);
    name = "%sha1-" + (digest.ok() ? toHex(*digest) : std::string("unavailable"));
  }
  return folderOf(itemClass) / (name + std::string(kFileSuffix));
}

KeychainStatus Keychain::loadService(ItemClass itemClass, const std::string& service,
                                     ServiceFile* file) const {
  file->itemClass = itemClass;
  file->service = service;
  file->items.clear();
  fs::path path = fileFor(itemClass, service);
  if (!files::exists(path)) return kSuccess;
  auto bytes = files::readFile(path);
  if (!bytes.ok()) return kIO;
  std::string stored;
  // A file of another service under this name can only come from a digest collision or tampering;
  // either way it does not hold this service's items.
  if (!decodeFile(itemClass, *bytes, &stored, &file->items) || stored != service) {
    file->items.clear();
    return kDecode;
  }
  return kSuccess;
}

KeychainStatus Keychain::setAside(const fs::path& path) {
  fs::path aside = path;
  aside += std::string(kDamagedSuffix);
  std::error_code ec;
  fs::rename(path, aside, ec);
  if (ec) return kIO;
  foundation::log("Keychain: moved the unreadable item file " + path.string() + " aside to " +
                  aside.string());
  return kSuccess;
}

KeychainStatus Keychain::loadForChange(ItemClass itemClass, const std::string& service, ServiceFile* file) {
  KeychainStatus status = loadService(itemClass, service, file);
  if (status != kDecode) return status;
  return setAside(fileFor(itemClass, service));
}

KeychainStatus Keychain::loadMatching(const Fields& query, bool forChange, std::vector<ServiceFile>* result) {
  result->clear();
  const ItemClass itemClass = query.itemClass;
  if (const auto& key = fileKey(query)) {
    ServiceFile file;
    KeychainStatus status =
        forChange ? loadForChange(itemClass, *key, &file) : loadService(itemClass, *key, &file);
    if (status != kSuccess) return status;
    result->push_back(std::move(file));
    return kSuccess;
  }
  const fs::path& folder = folderOf(itemClass);
  if (!files::exists(folder)) return kSuccess;
  auto names = files::listDirectory(folder);
  if (!names.ok()) return kIO;
  bool damaged = false;
  for (const auto& name : *names) {
    if (name.size() <= kFileSuffix.size() || !name.ends_with(kFileSuffix)) continue;
    fs::path path = folder / name;
    auto bytes = files::readFile(path);
    if (!bytes.ok()) return kIO;
    ServiceFile file;
    file.itemClass = itemClass;
    if (!decodeFile(itemClass, *bytes, &file.service, &file.items) ||
        fileFor(itemClass, file.service).filename() != name) {
      if (!forChange) {
        damaged = true;
      } else if (KeychainStatus status = setAside(path); status != kSuccess) {
        return status;
      }
      continue;
    }
    result->push_back(std::move(file));
  }
  std::sort(result->begin(), result->end(),
            [](const auto& a, const auto& b) { return a.service < b.service; });
  // The items of an unreadable file may be the ones asked for: say so rather than "not found".
  if (damaged) {
    bool any = false;
    for (const auto& file : *result) {
      for (const auto& item : file.items) any = any || matches(query, file.service, item);
    }
    if (!any) return kDecode;
  }
  return kSuccess;
}

KeychainStatus Keychain::save(const ServiceFile& file) {
  fs::path path = fileFor(file.itemClass, file.service);
  if (file.items.empty()) return files::remove(path).ok() ? kSuccess : kIO;
  const fs::path& folder = folderOf(file.itemClass);
  if (!files::createDirectory(folder).ok()) return kIO;
  std::error_code ec;
  fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace, ec);
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
  Bytes bytes = encodeFile(file.itemClass, file.service, file.items);
  auto status =
      files::writeAtomic(path, bytes.data(), bytes.size(), fs::perms::owner_read | fs::perms::owner_write);
  return status.ok() ? kSuccess : kIO;
}

KeychainStatus Keychain::add(const Dictionary& attributes) {
  Fields fields;
  if (KeychainStatus status = parse(attributes, Role::kAdd, &fields); status != kSuccess) return status;
  std::lock_guard lock(mutex_);
  ServiceFile file;
  if (KeychainStatus status = loadForChange(fields.itemClass, fileKey(fields).value_or(""), &file);
      status != kSuccess)
    return status;
  Item item;
  item.accessible = std::string(kAccessibleWhenUnlocked);
  apply(fields, &item);
  for (const auto& other : file.items) {
    if (sameName(other, item)) return kDuplicateItem;
  }
  item.created = item.modified = clock_.now();
  file.items.push_back(std::move(item));
  sortItems(&file.items);
  return save(file);
}

KeychainStatus Keychain::copyMatching(const Dictionary& query, Value* result) {
  Fields fields;
  if (KeychainStatus status = parse(query, Role::kSearch, &fields); status != kSuccess) return status;
  std::lock_guard lock(mutex_);
  std::vector<ServiceFile> loaded;
  if (KeychainStatus status = loadMatching(fields, false, &loaded); status != kSuccess) {
    return status;
  }
  foundation::Array found;
  for (const auto& file : loaded) {
    for (const auto& item : file.items) {
      if (matches(fields, file.service, item)) found.push_back(describe(fields, file.service, item));
    }
  }
  if (found.empty()) return kItemNotFound;
  if (result != nullptr) {
    if (!fields.returnData && !fields.returnAttributes) {
      *result = Value();
    } else if (fields.matchAll) {
      *result = std::move(found);
    } else {
      *result = std::move(found.front());
    }
  }
  return kSuccess;
}

KeychainStatus Keychain::update(const Dictionary& query, const Dictionary& attributes) {
  Fields match;
  Fields change;
  if (KeychainStatus status = parse(query, Role::kMatchOnly, &match); status != kSuccess) return status;
  if (KeychainStatus status = parse(attributes, Role::kUpdate, &change); status != kSuccess) return status;
  change.itemClass = match.itemClass;
  if (KeychainStatus status = checkClassAttributes(change); status != kSuccess) return status;
  std::lock_guard lock(mutex_);
  std::vector<ServiceFile> loaded;
  if (KeychainStatus status = loadMatching(match, true, &loaded); status != kSuccess) {
    return status;
  }
  std::map<std::string, ServiceFile> touched;
  std::vector<std::pair<std::string, Item>> moved;
  for (auto& file : loaded) {
    auto keep = std::partition(file.items.begin(), file.items.end(),
                               [&](const Item& item) { return !matches(match, file.service, item); });
    if (keep == file.items.end()) continue;
    for (auto it = keep; it != file.items.end(); ++it) {
      Item item = std::move(*it);
      apply(change, &item);
      item.modified = clock_.now();
      moved.emplace_back(fileKey(change).value_or(file.service), std::move(item));
    }
    file.items.erase(keep, file.items.end());
    touched[file.service] = std::move(file);
  }
  if (moved.empty()) return kItemNotFound;
  for (auto& [service, item] : moved) {
    if (!touched.contains(service)) {
      ServiceFile target;
      if (KeychainStatus status = loadForChange(match.itemClass, service, &target); status != kSuccess)
        return status;
      touched[service] = std::move(target);
    }
    auto& items = touched[service].items;
    for (const auto& other : items) {
      if (sameName(other, item)) return kDuplicateItem;
    }
    items.push_back(std::move(item));
  }
  for (auto& [service, file] : touched) {
    sortItems(&file.items);
    if (KeychainStatus status = save(file); status != kSuccess) return status;
  }
  return kSuccess;
}

KeychainStatus Keychain::remove(const Dictionary& query) {
  Fields match;
  if (KeychainStatus status = parse(query, Role::kMatchOnly, &match); status != kSuccess) return status;
  std::lock_guard lock(mutex_);
  std::vector<ServiceFile> loaded;
  if (KeychainStatus status = loadMatching(match, true, &loaded); status != kSuccess) {
    return status;
  }
  bool removed = false;
  for (auto& file : loaded) {
    size_t before = file.items.size();
    std::erase_if(file.items, [&](const Item& item) { return matches(match, file.service, item); });
    if (file.items.size() == before) continue;
    removed = true;
    if (KeychainStatus status = save(file); status != kSuccess) return status;
  }
  return removed ? kSuccess : kItemNotFound;
}

}  // namespace security
