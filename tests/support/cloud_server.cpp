#include "support/cloud_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <jansson.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <thread>

#include "support/test_certificates.h"

namespace testing_support {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kRoot = "sandbox";
constexpr size_t kFormLimit = 1 << 20;
constexpr size_t kBlockSize = 256 * 1024;

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The service's own date form, always in English and UTC.
std::string dateText(std::time_t when) {
  std::tm tm{};
  gmtime_r(&when, &tm);
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[tm.tm_wday], tm.tm_mday,
                months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

// RFC 3986 escaping, as OAuth's PLAINTEXT signature uses it.
std::string oauthEscape(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string formDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out.push_back(' ');
    } else if (text[i] == '%' && i + 2 < text.size() &&
               std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

void parseForm(std::string_view body, std::map<std::string, std::string>* params) {
  while (!body.empty()) {
    size_t amp = body.find('&');
    std::string_view piece = body.substr(0, amp);
    body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
    size_t eq = piece.find('=');
    if (eq == std::string_view::npos) continue;
    (*params)[formDecode(piece.substr(0, eq))] = formDecode(piece.substr(eq + 1));
  }
}

struct JsonRef {
  json_t* j;
  explicit JsonRef(json_t* value) : j(value) {}
  ~JsonRef() { json_decref(j); }
  JsonRef(const JsonRef&) = delete;
  JsonRef& operator=(const JsonRef&) = delete;
  std::string text() const {
    char* s = json_dumps(j, JSON_COMPACT | JSON_ENCODE_ANY);
    std::string out = s ? s : "";
    free(s);
    return out;
  }
};

std::string parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// "/a/b.zip" and n = 1 give "/a/b (1).zip".
std::string renamedCopy(const std::string& path, int n) {
  std::string name = nameOf(path);
  std::string stem = name, ext;
  if (size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
    stem = name.substr(0, dot);
    ext = name.substr(dot);
  }
  std::string folder = parentOf(path);
  return (folder == "/" ? "" : folder) + "/" + stem + " (" + std::to_string(n) + ")" + ext;
}

struct Revision {
  std::string rev;
  std::int64_t revision = 0;
  std::int64_t size = 0;
  std::time_t modified = 0;
  bool deleted = false;
  fs::path blob;
};

struct FileEntry {
  std::string path;                 // as first stored
  std::vector<Revision> revisions;  // oldest first
  const Revision& current() const { return revisions.back(); }
  bool live() const { return !revisions.empty() && !current().deleted; }
};

// One request while it arrives.
struct Pending {
  bool first = true;
  bool toFile = false;
  std::string body;
  bool bodyTooLarge = false;
  fs::path upload;
  int uploadFd = -1;
  std::int64_t uploadSize = 0;
  ~Pending() {
    if (uploadFd >= 0) ::close(uploadFd);
    if (!upload.empty()) {
      std::error_code ignored;
      fs::remove(upload, ignored);
    }
  }
};

struct Reply {
  unsigned status = 200;
  std::string body;
  std::string contentType = "application/json";
  std::vector<std::pair<std::string, std::string>> headers;
  // A file body instead of `body`.
  std::optional<fs::path> file;
  std::int64_t fileSize = 0;
  bool drop = false;
};

// Serves a file body, whole or damaged on purpose.
struct BodySource {
  int fd = -1;
  std::int64_t size = 0;
  std::int64_t stopAt = 0;  // bytes sent before the end (short of size for a truncated body)
  bool trickle = false;
  std::atomic<bool>* stopping = nullptr;
  ~BodySource() {
    if (fd >= 0) ::close(fd);
  }
};

ssize_t readBody(void* context, std::uint64_t pos, char* buffer, size_t max) {
  auto* source = static_cast<BodySource*>(context);
  const auto at = static_cast<std::int64_t>(pos);
  if (at >= source->stopAt) {
    return source->stopAt < source->size ? MHD_CONTENT_READER_END_WITH_ERROR
                                         : MHD_CONTENT_READER_END_OF_STREAM;
  }
  if (source->trickle) {
    if (source->stopping->load()) return MHD_CONTENT_READER_END_WITH_ERROR;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    max = 1;
  }
  size_t want =
      static_cast<size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(max), source->stopAt - at));
  ssize_t n = ::pread(source->fd, buffer, want, static_cast<off_t>(pos));
  return n > 0 ? n : MHD_CONTENT_READER_END_WITH_ERROR;
}

void freeBody(void* context) { delete static_cast<BodySource*>(context); }

}  // namespace

struct CloudServer::State {
  fs::path folder;
  Options options;
  TestCertificates certificates;
  TestCertificates other;
  MHD_Daemon* daemon = nullptr;
  std::uint16_t port = 0;
  std::atomic<bool> stopping{false};

  mutable std::mutex mutex;
  std::map<std::string, FileEntry> files;                               // by lower-case path
  std::map<std::string, std::string> folders;                           // lower-case path to path
  std::map<std::string, std::pair<std::string, std::string>> users;     // token to (uid, secret)
  std::map<std::string, std::string> requestTokens;                     // token to secret
  std::map<std::string, std::pair<std::string, std::string>> copyRefs;  // ref to (path, rev)
  std::map<std::string, std::pair<fs::path, std::int64_t>> chunked;     // upload id to (file, size)
  std::int64_t nextRevision = 1;
  std::int64_t nextId = 1;
  Fault fault = Fault::None;
  int faultTimes = 0;
  std::vector<Seen> seen;

  // --- faults ---
  bool takeFault(std::initializer_list<Fault> kinds, Fault* which) {
    std::lock_guard lock(mutex);
    if (fault == Fault::None || std::find(kinds.begin(), kinds.end(), fault) == kinds.end()) return false;
    *which = fault;
    if (faultTimes > 0 && --faultTimes == 0) fault = Fault::None;
    return true;
  }

  // --- the store (mutex held) ---
  std::string newRev(std::int64_t revision) const {
    char text[32];
    std::snprintf(text, sizeof text, "%llx0d1a2b3c", static_cast<unsigned long long>(revision));
    return text;
  }

  bool folderExists(const std::string& path) const { return path == "/" || folders.count(lower(path)) > 0; }

  void addFolders(const std::string& path) {
    for (std::string p = path; p != "/"; p = parentOf(p)) folders.emplace(lower(p), p);
  }

  // A new revision of `path` whose content is the file `from` (moved in) or nothing (a deletion).
  const Revision& addRevision(const std::string& path, const std::optional<fs::path>& from, bool deleted) {
    Revision r;
    r.revision = nextRevision++;
    r.rev = newRev(r.revision);
    r.modified = std::time(nullptr);
    r.deleted = deleted;
    if (from) {
      r.blob = folder / "blobs" / r.rev;
      fs::create_directories(r.blob.parent_path());
      fs::rename(*from, r.blob);
      r.size = static_cast<std::int64_t>(fs::file_size(r.blob));
    }
    FileEntry& entry = files[lower(path)];
    if (entry.revisions.empty()) entry.path = path;
    entry.revisions.push_back(std::move(r));
    addFolders(parentOf(path));
    return entry.revisions.back();
  }

  fs::path copyOfBlob(const fs::path& blob) {
    fs::path copy = folder / "incoming" / ("copy-" + std::to_string(nextId++));
    fs::create_directories(copy.parent_path());
    fs::copy_file(blob, copy, fs::copy_options::overwrite_existing);
    return copy;
  }

  json_t* fileJson(const FileEntry& entry, const Revision& r) const {
    json_t* j = json_object();
    json_object_set_new(j, "size", json_string((std::to_string(r.size) + " bytes").c_str()));
    json_object_set_new(j, "rev", json_string(r.rev.c_str()));
    json_object_set_new(j, "thumb_exists", json_boolean(false));
    json_object_set_new(j, "bytes", json_integer(r.size));
    json_object_set_new(j, "modified", json_string(dateText(r.modified).c_str()));
    json_object_set_new(j, "client_mtime", json_string(dateText(r.modified).c_str()));
    json_object_set_new(j, "path", json_string(entry.path.c_str()));
    json_object_set_new(j, "is_dir", json_boolean(false));
    json_object_set_new(j, "icon", json_string("page_white"));
    json_object_set_new(j, "root", json_string("app_folder"));
    json_object_set_new(j, "mime_type", json_string("application/octet-stream"));
    json_object_set_new(j, "revision", json_integer(r.revision));
    if (r.deleted) json_object_set_new(j, "is_deleted", json_boolean(true));
    return j;
  }

  std::vector<std::string> childFolders(const std::string& path) const {
    std::vector<std::string> out;
    for (const auto& [key, display] : folders)
      if (lower(parentOf(display)) == lower(path)) out.push_back(display);
    return out;
  }
  std::vector<const FileEntry*> childFiles(const std::string& path) const {
    std::vector<const FileEntry*> out;
    for (const auto& [key, entry] : files)
      if (entry.live() && lower(parentOf(entry.path)) == lower(path)) out.push_back(&entry);
    return out;
  }

  std::string folderHash(const std::string& path) const {
    std::string listing;
    for (const auto& f : childFolders(path)) listing += "d" + f + "\n";
    for (const auto* e : childFiles(path)) listing += "f" + e->path + e->current().rev + "\n";
    char text[32];
    std::snprintf(text, sizeof text, "%016zx", std::hash<std::string>{}(listing));
    return text;
  }

  json_t* folderJson(const std::string& path, bool withContents) const {
    json_t* j = json_object();
    std::string display = path == "/" ? "/" : folders.at(lower(path));
    json_object_set_new(j, "hash", json_string(folderHash(path).c_str()));
    json_object_set_new(j, "thumb_exists", json_boolean(false));
    json_object_set_new(j, "bytes", json_integer(0));
    json_object_set_new(j, "path", json_string(display.c_str()));
    json_object_set_new(j, "is_dir", json_boolean(true));
    json_object_set_new(j, "icon", json_string("folder"));
    json_object_set_new(j, "root", json_string("app_folder"));
    json_object_set_new(j, "size", json_string("0 bytes"));
    if (withContents) {
      json_t* contents = json_array();
      for (const auto& f : childFolders(path)) json_array_append_new(contents, folderJson(f, false));
      for (const auto* e : childFiles(path)) json_array_append_new(contents, fileJson(*e, e->current()));
      json_object_set_new(j, "contents", contents);
    }
    return j;
  }

  const FileEntry* liveFile(const std::string& path) const {
    auto it = files.find(lower(path));
    return it != files.end() && it->second.live() ? &it->second : nullptr;
  }
};

namespace {

using State = CloudServer::State;
using Fault = CloudServer::Fault;
using Params = std::map<std::string, std::string>;

Reply json(unsigned status, json_t* value) {
  JsonRef ref(value);
  Reply r;
  r.status = status;
  r.body = ref.text();
  return r;
}

Reply error(unsigned status, const std::string& message) {
  json_t* j = json_object();
  json_object_set_new(j, "error", json_string(message.c_str()));
  return json(status, j);
}

Reply form(std::string body) {
  Reply r;
  r.body = std::move(body);
  r.contentType = "application/x-www-form-urlencoded";
  return r;
}

std::string param(const Params& p, const std::string& name) {
  auto it = p.find(name);
  return it == p.end() ? "" : it->second;
}

// The HMAC-SHA1 signature a request of this method to this path with these parameters must carry:
// Base64 of HMAC-SHA1(key, METHOD "&" escaped URL "&" escaped sorted "name=value" pairs), worked
// out here on its own, apart from the client's signer.
std::string hmacSignature(const State& s, const std::string& method, const std::string& path, const Params& p,
                          const std::string& key) {
  std::vector<std::string> pairs;
  for (const auto& [name, value] : p)
    if (name != "oauth_signature") pairs.push_back(oauthEscape(name) + "=" + oauthEscape(value));
  std::sort(pairs.begin(), pairs.end());
  std::string joined;
  for (const auto& pair : pairs) joined += (joined.empty() ? "" : "&") + pair;
  const std::string base = method + "&" + oauthEscape("https://127.0.0.1:" + std::to_string(s.port) + path) +
                           "&" + oauthEscape(joined);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(base.data()), base.size(), digest, &length);
  unsigned char encoded[64];
  int n = EVP_EncodeBlock(encoded, digest, static_cast<int>(length));
  return std::string(reinterpret_cast<char*>(encoded), static_cast<size_t>(n));
}

// The signature check (PLAINTEXT, or HMAC-SHA1 for the general OAuth client); on success the user
// id of the token (empty for the OAuth paths).
std::optional<std::string> authorise(State& s, const std::string& method, const std::string& path,
                                     const Params& p) {
  if (param(p, "oauth_consumer_key") != s.options.consumerKey) return std::nullopt;
  const std::string signatureMethod = param(p, "oauth_signature_method");
  if (signatureMethod != "PLAINTEXT" && signatureMethod != "HMAC-SHA1") return std::nullopt;
  std::string token = param(p, "oauth_token");
  std::string tokenSecret;
  std::string uid;
  std::lock_guard lock(s.mutex);
  if (path == "/1/oauth/request_token") {
    if (!token.empty()) return std::nullopt;
  } else if (path == "/1/oauth/access_token") {
    auto it = s.requestTokens.find(token);
    if (it == s.requestTokens.end()) return std::nullopt;
    tokenSecret = it->second;
  } else {
    auto it = s.users.find(token);
    if (it == s.users.end()) return std::nullopt;
    uid = it->second.first;
    tokenSecret = it->second.second;
  }
  const std::string key = oauthEscape(s.options.consumerSecret) + "&" + oauthEscape(tokenSecret);
  const std::string expected = signatureMethod == "PLAINTEXT" ? key : hmacSignature(s, method, path, p, key);
  if (param(p, "oauth_signature") != expected) return std::nullopt;
  return uid;
}

// The remote path after "/1/<operation>/sandbox"; nothing when the root is another.
std::optional<std::string> remotePath(std::string_view url, std::string_view operation) {
  std::string prefix = "/1/" + std::string(operation) + "/" + std::string(kRoot);
  if (!url.starts_with(prefix)) return std::nullopt;
  std::string path(url.substr(prefix.size()));
  if (path.empty()) path = "/";
  if (path[0] != '/') return std::nullopt;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Stores an uploaded file by the service's rules and answers its metadata.
Reply storeUpload(State& s, const std::string& path, const fs::path& upload, const Params& p) {
  std::lock_guard lock(s.mutex);
  std::string target = path;
  if (const FileEntry* existing = s.liveFile(path)) {
    bool replace = param(p, "overwrite") == "true" || param(p, "parent_rev") == existing->current().rev;
    if (!replace) {
      for (int n = 1; s.liveFile(target = renamedCopy(path, n)); ++n) {
      }
    }
  }
  const Revision& r = s.addRevision(target, upload, false);
  return json(200, s.fileJson(s.files.at(lower(target)), r));
}

Reply download(State& s, const std::string& path, const Params& p) {
  std::unique_lock lock(s.mutex);
  auto it = s.files.find(lower(path));
  if (it == s.files.end() || (!it->second.live() && param(p, "rev").empty()))
    return error(404, "File not found");
  const FileEntry& entry = it->second;
  const Revision* r = &entry.current();
  if (std::string rev = param(p, "rev"); !rev.empty()) {
    auto found = std::find_if(entry.revisions.begin(), entry.revisions.end(),
                              [&](const Revision& x) { return x.rev == rev; });
    if (found == entry.revisions.end() || found->deleted) return error(404, "Revision not found");
    r = &*found;
  }
  JsonRef metadata(s.fileJson(entry, *r));
  Reply reply;
  reply.contentType = "application/octet-stream";
  reply.file = r->blob;
  reply.fileSize = r->size;
  reply.headers.emplace_back("Etag", r->rev);
  reply.headers.emplace_back("X-Cloud-Metadata", metadata.text());
  return reply;
}

Reply metadata(State& s, const std::string& path, const Params& p) {
  std::lock_guard lock(s.mutex);
  if (s.folderExists(path)) {
    if (!param(p, "hash").empty() && param(p, "hash") == s.folderHash(path)) {
      Reply r;
      r.status = 304;
      r.contentType.clear();
      return r;
    }
    return json(200, s.folderJson(path, param(p, "list") != "false"));
  }
  auto it = s.files.find(lower(path));
  if (it == s.files.end()) return error(404, "Path '" + path + "' not found");
  const Revision* r = &it->second.current();
  if (std::string rev = param(p, "rev"); !rev.empty()) {
    for (const auto& x : it->second.revisions)
      if (x.rev == rev) r = &x;
  }
  return json(200, s.fileJson(it->second, *r));
}

Reply fileOperation(State& s, const std::string& op, const Params& p) {
  if (param(p, "root") != kRoot) return error(400, "Invalid root");
  std::lock_guard lock(s.mutex);
  if (op == "create_folder") {
    std::string path = param(p, "path");
    if (s.folderExists(path) || s.liveFile(path))
      return error(403, "A file or folder exists at '" + path + "'");
    s.addFolders(path);
    return json(200, s.folderJson(path, false));
  }
  if (op == "delete") {
    std::string path = param(p, "path");
    if (const FileEntry* e = s.liveFile(path)) {
      std::string display = e->path;
      const Revision& r = s.addRevision(display, std::nullopt, true);
      return json(200, s.fileJson(s.files.at(lower(display)), r));
    }
    if (path != "/" && s.folderExists(path)) {
      json_t* j = s.folderJson(path, false);
      std::string prefix = lower(path) + "/";
      for (auto& [key, entry] : s.files)
        if (key.starts_with(prefix) && entry.live()) s.addRevision(entry.path, std::nullopt, true);
      std::erase_if(s.folders,
                    [&](const auto& f) { return f.first == lower(path) || f.first.starts_with(prefix); });
      json_object_set_new(j, "is_deleted", json_boolean(true));
      return json(200, j);
    }
    return error(404, "Path '" + path + "' not found");
  }
  if (op == "copy" || op == "move") {
    std::string from = param(p, "from_path");
    std::string to = param(p, "to_path");
    std::optional<fs::path> source;
    if (std::string ref = param(p, "from_copy_ref"); !ref.empty() && op == "copy") {
      auto it = s.copyRefs.find(ref);
      if (it == s.copyRefs.end()) return error(404, "Invalid copy reference");
      const FileEntry* e = s.liveFile(it->second.first);
      if (!e) return error(404, "The copied file is gone");
      source = e->current().blob;
    } else if (const FileEntry* e = s.liveFile(from)) {
      source = e->current().blob;
    } else {
      return error(404, "Path '" + from + "' not found");
    }
    if (s.liveFile(to) || s.folderExists(to)) return error(403, "A file exists at '" + to + "'");
    const Revision& r = s.addRevision(to, s.copyOfBlob(*source), false);
    json_t* j = s.fileJson(s.files.at(lower(to)), r);
    if (op == "move") s.addRevision(s.liveFile(from)->path, std::nullopt, true);
    return json(200, j);
  }
  return error(404, "Unknown operation");
}

Reply handle(State& s, const std::string& method, const std::string& url, const Params& p,
             const Pending& pending) {
  const bool get = method == "GET";
  const bool post = method == "POST";
  std::time_t inADay = std::time(nullptr) + 86400;
  if (url == "/1/oauth/request_token" && get) {
    std::lock_guard lock(s.mutex);
    std::string n = std::to_string(s.nextId++);
    s.requestTokens["rt" + n] = "rs" + n;
    return form("oauth_token_secret=rs" + n + "&oauth_token=rt" + n);
  }
  if (url == "/1/oauth/access_token" && get) {
    std::lock_guard lock(s.mutex);
    s.requestTokens.erase(param(p, "oauth_token"));
    std::string n = std::to_string(s.nextId++);
    std::string uid = "1000" + n;
    s.users["at" + n] = {uid, "as" + n};
    return form("oauth_token_secret=as" + n + "&oauth_token=at" + n + "&uid=" + uid);
  }
  if (url == "/1/account/info" && get) {
    std::lock_guard lock(s.mutex);
    std::int64_t used = 0;
    for (const auto& [key, e] : s.files)
      if (e.live()) used += e.current().size;
    std::string uid;
    for (const auto& [token, user] : s.users)
      if (token == param(p, "oauth_token")) uid = user.first;
    json_t* j = json_object();
    json_object_set_new(j, "referral_link", json_string("https://example.com/referrals/r1a2n3d4m5"));
    json_object_set_new(j, "display_name", json_string("Diary Tester"));
    json_object_set_new(j, "uid", json_integer(std::atoll(uid.c_str())));
    json_object_set_new(j, "country", json_string("DE"));
    json_object_set_new(j, "email", json_string("tester@example.com"));
    json_t* quota = json_object();
    json_object_set_new(quota, "shared", json_integer(0));
    json_object_set_new(quota, "quota", json_integer(std::int64_t{2} << 30));
    json_object_set_new(quota, "normal", json_integer(used));
    json_object_set_new(j, "quota_info", quota);
    return json(200, j);
  }
  if (url == "/1/delta" && post) {
    std::lock_guard lock(s.mutex);
    std::string cursor = param(p, "cursor");
    std::int64_t since = cursor.size() > 1 ? std::atoll(cursor.c_str() + 1) : 0;
    json_t* entries = json_array();
    if (since == 0) {
      for (const auto& [key, display] : s.folders) {
        json_t* e = json_array();
        json_array_append_new(e, json_string(key.c_str()));
        json_array_append_new(e, s.folderJson(display, false));
        json_array_append_new(entries, e);
      }
    }
    for (const auto& [key, entry] : s.files) {
      if (entry.current().revision < since) continue;
      json_t* e = json_array();
      json_array_append_new(e, json_string(key.c_str()));
      json_array_append_new(e, entry.live() ? s.fileJson(entry, entry.current()) : json_null());
      json_array_append_new(entries, e);
    }
    json_t* j = json_object();
    json_object_set_new(j, "entries", entries);
    json_object_set_new(j, "reset", json_boolean(since == 0));
    json_object_set_new(j, "cursor", json_string(("c" + std::to_string(s.nextRevision)).c_str()));
    json_object_set_new(j, "has_more", json_boolean(false));
    return json(200, j);
  }
  if (url == "/1/chunked_upload" && post) {
    std::lock_guard lock(s.mutex);
    std::string id = param(p, "upload_id");
    std::int64_t offset = std::atoll(param(p, "offset").c_str());
    if (id.empty()) {
      id = "u" + std::to_string(s.nextId++);
      s.chunked[id] = {s.folder / "incoming" / ("chunked-" + id), 0};
    }
    auto it = s.chunked.find(id);
    if (it == s.chunked.end()) return error(404, "Unknown upload id");
    auto& [file, size] = it->second;
    // A chunk for another offset is refused with the offset the service expects.
    const bool fits = offset == size;
    if (fits && pending.uploadSize > 0) {
      std::ofstream out(file, std::ios::binary | std::ios::app);
      std::ifstream in(pending.upload, std::ios::binary);
      out << in.rdbuf();
      size += pending.uploadSize;
    }
    json_t* j = json_object();
    json_object_set_new(j, "upload_id", json_string(id.c_str()));
    json_object_set_new(j, "offset", json_integer(size));
    json_object_set_new(j, "expires", json_string(dateText(inADay).c_str()));
    return json(fits ? 200 : 400, j);
  }
  if (auto path = remotePath(url, "commit_chunked_upload"); path && post) {
    fs::path file;
    {
      std::lock_guard lock(s.mutex);
      auto it = s.chunked.find(param(p, "upload_id"));
      if (it == s.chunked.end()) return error(400, "Unknown upload id");
      file = it->second.first;
      if (!fs::exists(file)) std::ofstream(file, std::ios::binary).flush();
      s.chunked.erase(it);
    }
    return storeUpload(s, *path, file, p);
  }
  if (auto path = remotePath(url, "files_put"); path && (post || method == "PUT")) {
    return storeUpload(s, *path, pending.upload, p);
  }
  if (auto path = remotePath(url, "files"); path && get) return download(s, *path, p);
  if (auto path = remotePath(url, "thumbnails"); path && get) return download(s, *path, p);
  if (auto path = remotePath(url, "metadata"); path && get) return metadata(s, *path, p);
  if (auto path = remotePath(url, "revisions"); path && get) {
    std::lock_guard lock(s.mutex);
    auto it = s.files.find(lower(*path));
    if (it == s.files.end()) return error(404, "File not found");
    long limit = param(p, "rev_limit").empty() ? 10 : std::atol(param(p, "rev_limit").c_str());
    json_t* list = json_array();
    const auto& revisions = it->second.revisions;
    for (auto r = revisions.rbegin(); r != revisions.rend() && limit-- > 0; ++r)
      json_array_append_new(list, s.fileJson(it->second, *r));
    return json(200, list);
  }
  if (auto path = remotePath(url, "restore"); path && get) {
    std::lock_guard lock(s.mutex);
    auto it = s.files.find(lower(*path));
    if (it == s.files.end()) return error(404, "File not found");
    for (const auto& r : it->second.revisions) {
      if (r.rev == param(p, "rev") && !r.deleted) {
        std::string display = it->second.path;
        const Revision& restored = s.addRevision(display, s.copyOfBlob(r.blob), false);
        return json(200, s.fileJson(s.files.at(lower(display)), restored));
      }
    }
    return error(404, "Revision not found");
  }
  if (url.starts_with("/1/fileops/") && post) {
    std::string op = url.substr(11);
    if (op.ends_with('/')) op.pop_back();
    return fileOperation(s, op, p);
  }
  if (auto path = remotePath(url, "copy_ref"); path && post) {
    std::lock_guard lock(s.mutex);
    const FileEntry* e = s.liveFile(*path);
    if (!e) return error(404, "File not found");
    std::string ref = "ref" + std::to_string(s.nextId++);
    s.copyRefs[ref] = {e->path, e->current().rev};
    json_t* j = json_object();
    json_object_set_new(j, "copy_ref", json_string(ref.c_str()));
    json_object_set_new(j, "expires", json_string(dateText(inADay).c_str()));
    return json(200, j);
  }
  if (auto path = remotePath(url, "search"); path && get) {
    std::lock_guard lock(s.mutex);
    std::string query = lower(param(p, "query"));
    std::string prefix = *path == "/" ? "/" : lower(*path) + "/";
    json_t* list = json_array();
    for (const auto& [key, e] : s.files)
      if (e.live() && key.starts_with(prefix) && lower(nameOf(e.path)).find(query) != std::string::npos)
        json_array_append_new(list, s.fileJson(e, e.current()));
    return json(200, list);
  }
  for (const char* kind : {"shares", "media"}) {
    if (auto path = remotePath(url, kind); path && get) {
      std::lock_guard lock(s.mutex);
      if (!s.liveFile(*path) && !s.folderExists(*path)) return error(404, "Path not found");
      json_t* j = json_object();
      std::string link =
          "https://127.0.0.1:" + std::to_string(s.port) + "/" + kind + "/" + std::to_string(s.nextId++);
      json_object_set_new(j, "url", json_string(link.c_str()));
      json_object_set_new(j, "expires", json_string(dateText(inADay).c_str()));
      return json(200, j);
    }
  }
  return error(404, "Unknown path");
}

// The web login page: it signs a new user in at once and hands the answer back to the
// application's scheme, as the real page does after the user agreed.
// The key check value a link attempt must send as "s": the last four bytes of SHA-1(secret),
// big-endian, in lower-case hex. Worked out here on its own, apart from the client's routine.
std::string keyCheckValue(const std::string& secret) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(secret.data()), secret.size(), digest);
  unsigned long value = 0;
  for (int i = SHA_DIGEST_LENGTH - 4; i < SHA_DIGEST_LENGTH; ++i) value = (value << 8) | digest[i];
  char text[16];
  std::snprintf(text, sizeof text, "%lx", value);
  return text;
}

std::string htmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out.push_back(c);
  }
  return out;
}

// The sign-in page of the login form mode, posting the link request's values back with the
// person's email and password. Its head carries a script and a style, as a real page's does.
Reply loginPage(const Params& p, bool failed) {
  Reply r;
  r.contentType = "text/html; charset=utf-8";
  r.body =
      "<!DOCTYPE html>\n<html><head><title>Sign in &amp; link</title>"
      "<style>body { font-family: sans-serif }</style>"
      "<script>if (1 < 2) document.title = '<b>never</b>';</script></head>\n<body>"
      "<h1>Welcome back</h1><p>Sign in to link the diary with your account.</p>";
  if (failed) r.body += "<p>Enter your email and your password.</p>";
  r.body += "<form action=\"/1/connect_login\" method=\"post\">";
  for (const char* name : {"k", "s", "state"})
    r.body += std::string("<input type=\"hidden\" name=\"") + name + "\" value=\"" +
              htmlEscaped(param(p, name)) + "\">";
  r.body +=
      "<label for=\"e\">Email</label><input id=\"e\" type=\"email\" name=\"login_email\" "
      "placeholder=\"you@example.com\">"
      "<label for=\"w\">Password</label><input id=\"w\" type=\"password\" name=\"login_password\" "
      "placeholder=\"Your password\">"
      "<button type=\"submit\">Sign in</button></form></body></html>\n";
  return r;
}

// `method`: that of the web login's request; empty for the service's own application, which never
// shows the sign-in page.
Reply connectLogin(State& s, const std::string& method, const Params& p) {
  if (param(p, "k") != s.options.consumerKey) return error(403, "Unknown application");
  if (param(p, "s") != keyCheckValue(s.options.consumerSecret)) return error(403, "Bad key check value");
  if (s.options.loginForm && method == "GET") return loginPage(p, false);
  if (s.options.loginForm && method == "POST" &&
      (param(p, "login_email").empty() || param(p, "login_password").empty()))
    return loginPage(p, true);
  std::string n;
  {
    std::lock_guard lock(s.mutex);
    n = std::to_string(s.nextId++);
    s.users["at" + n] = {"1000" + n, "as" + n};
  }
  std::string answer = "cloud-" + s.options.consumerKey + "://1/connect?oauth_token=at" + n +
                       "&oauth_token_secret=as" + n + "&uid=1000" + n + "&state=" + param(p, "state");
  Reply r;
  r.status = 302;
  r.contentType = "text/html";
  r.headers.emplace_back("Location", answer);
  r.body = "<html><body><a href=\"" + answer + "\">Continue</a></body></html>";
  return r;
}

// Paths for the network layer's tests, answered without a signature.
std::optional<Reply> handleTest(State& s, const std::string& url, const Params& p, const Pending& pending) {
  if (!url.starts_with("/test/")) return std::nullopt;
  if (url == "/test/challenge") {
    Reply r = error(401, "Unauthorized");
    r.headers.emplace_back("WWW-Authenticate", param(p, "scheme") + " realm=\"test\"");
    return r;
  }
  if (url == "/test/redirect") {
    Reply r;
    r.status = 302;
    r.headers.emplace_back("Location", param(p, "to"));
    return r;
  }
  if (url == "/test/echo") {
    json_t* j = json_object();
    json_object_set_new(
        j, "bytes",
        json_integer(pending.toFile ? pending.uploadSize : static_cast<std::int64_t>(pending.body.size())));
    return json(200, j);
  }
  if (url == "/test/text") {
    Reply r;
    if (!param(p, "status").empty()) r.status = static_cast<unsigned>(std::atoi(param(p, "status").c_str()));
    r.contentType = "text/plain";
    if (!param(p, "charset").empty()) r.contentType += "; charset=" + param(p, "charset");
    if (p.count("metadata")) r.headers.emplace_back("X-Cloud-Metadata", param(p, "metadata"));
    r.body = param(p, "body");
    return r;
  }
  if (url == "/test/bytes") {
    std::int64_t n = std::atoll(param(p, "n").c_str());
    fs::path blob = s.folder / "incoming" / ("bytes-" + std::to_string(n));
    if (!fs::exists(blob)) {
      fs::create_directories(blob.parent_path());
      std::string content(static_cast<size_t>(n), '\0');
      for (std::int64_t i = 0; i < n; ++i) content[static_cast<size_t>(i)] = static_cast<char>('a' + i % 26);
      std::ofstream(blob, std::ios::binary) << content;
    }
    Reply r;
    r.contentType = "application/octet-stream";
    r.file = blob;
    r.fileSize = n;
    json_t* j = json_object();
    json_object_set_new(j, "bytes", json_integer(n));
    r.headers.emplace_back("X-Cloud-Metadata", JsonRef(j).text());
    return r;
  }
  return error(404, "Unknown test path");
}

MHD_Result addToMap(void* context, MHD_ValueKind, const char* key, const char* value) {
  (*static_cast<Params*>(context))[key ? key : ""] = value ? value : "";
  return MHD_YES;
}

MHD_Result addHeader(void* context, MHD_ValueKind, const char* key, const char* value) {
  (*static_cast<Params*>(context))[lower(key ? key : "")] = value ? value : "";
  return MHD_YES;
}

MHD_Result send(State& s, MHD_Connection* connection, Reply reply) {
  if (reply.drop) return MHD_NO;
  MHD_Response* response = nullptr;
  if (reply.file) {
    Fault fault = Fault::None;
    s.takeFault({Fault::TruncatedBody, Fault::NoLength, Fault::WrongBytes, Fault::SlowTrickle}, &fault);
    auto* source = new BodySource;
    source->fd = ::open(reply.file->c_str(), O_RDONLY | O_CLOEXEC);
    source->size = reply.fileSize;
    source->stopAt =
        fault == Fault::TruncatedBody ? std::max<std::int64_t>(reply.fileSize - 1, 0) : reply.fileSize;
    source->trickle = fault == Fault::SlowTrickle;
    source->stopping = &s.stopping;
    bool unknownLength = fault == Fault::NoLength || fault == Fault::WrongBytes;
    if (fault == Fault::WrongBytes) {
      for (auto& [name, value] : reply.headers) {
        if (name != "X-Cloud-Metadata") continue;
        json_error_t ignored;
        json_t* j = json_loads(value.c_str(), 0, &ignored);
        if (j) {
          json_object_set_new(j, "bytes", json_integer(reply.fileSize + 1));
          value = JsonRef(j).text();
        }
      }
    }
    response = MHD_create_response_from_callback(
        unknownLength ? MHD_SIZE_UNKNOWN : static_cast<std::uint64_t>(reply.fileSize), kBlockSize, readBody,
        source, freeBody);
  } else {
    response = MHD_create_response_from_buffer(reply.body.size(), reply.body.data(), MHD_RESPMEM_MUST_COPY);
  }
  if (!reply.contentType.empty())
    MHD_add_response_header(response, "Content-Type", reply.contentType.c_str());
  for (const auto& [name, value] : reply.headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
  MHD_Result result = MHD_queue_response(connection, reply.status, response);
  MHD_destroy_response(response);
  return result;
}

bool receivesFile(const std::string& url) {
  return url.starts_with("/1/files_put/") || url == "/1/chunked_upload" || url == "/test/echo";
}

MHD_Result onRequest(void* context, MHD_Connection* connection, const char* url, const char* method,
                     const char*, const char* data, size_t* dataSize, void** requestContext) {
  auto& s = *static_cast<State*>(context);
  auto* pending = static_cast<Pending*>(*requestContext);
  if (pending == nullptr) {
    pending = new Pending;
    *requestContext = pending;
    pending->toFile = receivesFile(url);
    if (pending->toFile) {
      std::lock_guard lock(s.mutex);
      pending->upload = s.folder / "incoming" / ("upload-" + std::to_string(s.nextId++));
      fs::create_directories(pending->upload.parent_path());
      pending->uploadFd = ::open(pending->upload.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    return MHD_YES;
  }
  if (*dataSize > 0) {
    if (pending->toFile) {
      if (pending->uploadFd >= 0 &&
          ::write(pending->uploadFd, data, *dataSize) != static_cast<ssize_t>(*dataSize)) {
        ::close(pending->uploadFd);
        pending->uploadFd = -1;
      }
      pending->uploadSize += static_cast<std::int64_t>(*dataSize);
    } else if (pending->body.size() + *dataSize <= kFormLimit) {
      pending->body.append(data, *dataSize);
    } else {
      pending->bodyTooLarge = true;
    }
    *dataSize = 0;
    return MHD_YES;
  }
  if (pending->uploadFd >= 0) {
    ::close(pending->uploadFd);
    pending->uploadFd = -1;
  }

  Params params;
  Params headers;
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, addToMap, &params);
  MHD_get_connection_values(connection, MHD_HEADER_KIND, addHeader, &headers);
  if (!pending->toFile && headers["content-type"].starts_with("application/x-www-form-urlencoded"))
    parseForm(pending->body, &params);
  {
    std::lock_guard lock(s.mutex);
    s.seen.push_back(CloudServer::Seen{method, url, params, headers});
  }

  Fault fault = Fault::None;
  if (s.takeFault({Fault::DropConnection, Fault::ServerError, Fault::Unauthorized}, &fault)) {
    if (fault == Fault::DropConnection) return MHD_NO;
    if (fault == Fault::ServerError) return send(s, connection, error(500, "Internal server error"));
    return send(s, connection, error(401, "Unauthorized"));
  }
  if (auto test = handleTest(s, url, params, *pending)) return send(s, connection, std::move(*test));
  if (std::string_view(url) == "/1/connect_login" &&
      (std::string_view(method) == "GET" || (s.options.loginForm && std::string_view(method) == "POST")))
    return send(s, connection, connectLogin(s, method, params));
  if (pending->bodyTooLarge) return send(s, connection, error(413, "Request too large"));
  if (!authorise(s, method, url, params)) return send(s, connection, error(401, "Unauthorized"));
  Reply reply = handle(s, method, url, params, *pending);
  if (reply.contentType == "application/x-www-form-urlencoded" && s.takeFault({Fault::ShortForm}, &fault))
    reply.body.erase(std::min(reply.body.rfind('&'), reply.body.size()));
  if (reply.status == 200 && s.takeFault({Fault::BrokenJson}, &fault)) {
    if (reply.contentType == "application/json" && !reply.body.empty()) reply.body.pop_back();
    for (auto& [name, value] : reply.headers)
      if (name == "X-Cloud-Metadata" && !value.empty()) value.pop_back();
  }
  // An upload that was stored was moved away; nothing is left to remove.
  if (!fs::exists(pending->upload)) pending->upload.clear();
  return send(s, connection, std::move(reply));
}

void onCompleted(void*, MHD_Connection*, void** requestContext, MHD_RequestTerminationCode) {
  delete static_cast<Pending*>(*requestContext);
  *requestContext = nullptr;
}

}  // namespace

CloudServer::CloudServer(fs::path folder, Options options) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.folder = std::move(folder);
  s.options = std::move(options);
  s.certificates = TestCertificates::make("Diary Test Root");
  s.other = TestCertificates::make("Diary Other Root");
  const TestCertificates& serving = s.options.foreignRoot ? s.other : s.certificates;
  fs::create_directories(s.folder);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(s.options.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  s.daemon = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_TLS, 0, nullptr, nullptr,
      onRequest, &s, MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_HTTPS_MEM_KEY, serving.serverKeyPem.c_str(),
      MHD_OPTION_HTTPS_MEM_CERT, serving.serverCertificatePem.c_str(), MHD_OPTION_NOTIFY_COMPLETED,
      onCompleted, nullptr, MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(1 << 20), MHD_OPTION_END);
  if (s.daemon) {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(s.daemon, MHD_DAEMON_INFO_BIND_PORT);
    s.port = info ? info->port : 0;
  }
}

CloudServer::~CloudServer() {
  state_->stopping.store(true);
  if (state_->daemon) MHD_stop_daemon(state_->daemon);
}

bool CloudServer::running() const { return state_->daemon != nullptr && state_->port != 0; }
std::uint16_t CloudServer::port() const { return state_->port; }
std::string CloudServer::host() const { return "127.0.0.1:" + std::to_string(state_->port); }
const foundation::Bytes& CloudServer::rootCertificate() const { return state_->certificates.rootDer; }
const foundation::Bytes& CloudServer::otherRootCertificate() const { return state_->other.rootDer; }

namespace {

constexpr const char* kCloudServerUsage =
    "usage: cloud_server <folder> [port]\n"
    "Serves a stand-in for the cloud-storage service over HTTPS on 127.0.0.1, on the port given or a\n"
    "free one, keeping uploaded files under <folder> (made when missing). It prints the two settings\n"
    "that point the diary at it, and serves until interrupted (Ctrl-C or SIGTERM):\n"
    "  DIARY_CLOUD_HOST=127.0.0.1:<port>    the service's host, for its API, files and login page\n"
    "  DIARY_CLOUD_ROOT=<folder>/root.der   the root certificate the diary is to trust for it\n"
    "Start the diary with both in its environment; Connect on the Cloud screen then links a new user.\n"
    "Each start makes a new root certificate and forgets users and files: start the diary again\n"
    "after restarting the server, and connect again.\n";

// The port argument: a number from 1 to 65535, or 0 for a free one.
std::optional<std::uint16_t> parsePort(std::string_view text) {
  unsigned value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

int runCloudServer(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kCloudServerUsage, stdout);
    return 0;
  }
  // A folder whose name starts with "-" is taken for a mistyped option, never made.
  std::optional<std::uint16_t> port = args.size() > 1 ? parsePort(args[1]) : std::optional<std::uint16_t>(0);
  if (args.empty() || args.size() > 2 || args[0].empty() || args[0].starts_with("-") || !port) {
    std::fputs(kCloudServerUsage, stderr);
    return 2;
  }
  CloudServer::Options options;
  options.port = *port;
  CloudServer server(argv[1], options);
  if (!server.running()) {
    std::fprintf(stderr, "cannot start the server\n");
    return 1;
  }
  const fs::path root = fs::path(argv[1]) / "root.der";
  std::ofstream(root, std::ios::binary)
      .write(reinterpret_cast<const char*>(server.rootCertificate().data()),
             static_cast<std::streamsize>(server.rootCertificate().size()));
  std::printf("DIARY_CLOUD_HOST=%s\nDIARY_CLOUD_ROOT=%s\n", server.host().c_str(), root.c_str());
  std::fflush(stdout);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  int received = 0;
  sigwait(&stop, &received);
  return 0;
}

void CloudServer::addUser(std::string uid, std::string token, std::string secret) {
  std::lock_guard lock(state_->mutex);
  state_->users[std::move(token)] = {std::move(uid), std::move(secret)};
}

void CloudServer::setFault(Fault fault, int times) {
  std::lock_guard lock(state_->mutex);
  state_->fault = fault;
  state_->faultTimes = times;
}

std::string CloudServer::putFile(const std::string& path, std::string_view content) {
  std::lock_guard lock(state_->mutex);
  fs::path incoming = state_->folder / "incoming" / ("put-" + std::to_string(state_->nextId++));
  fs::create_directories(incoming.parent_path());
  std::ofstream(incoming, std::ios::binary) << content;
  return state_->addRevision(path, incoming, false).rev;
}

std::optional<std::string> CloudServer::fileContent(const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  const FileEntry* e = state_->liveFile(path);
  if (!e) return std::nullopt;
  std::ifstream in(e->current().blob, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<CloudServer::Seen> CloudServer::requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->seen;
}

void CloudServer::clearRequests() {
  std::lock_guard lock(state_->mutex);
  state_->seen.clear();
}

std::optional<std::string> CloudServer::serviceAppAnswer(std::string_view url) {
  constexpr std::string_view kPrefix = "cloudapi-2://1/connect?";
  if (!url.starts_with(kPrefix)) return std::nullopt;
  Params params;
  parseForm(url.substr(kPrefix.size()), &params);
  Reply reply = connectLogin(*state_, "", params);
  if (reply.status != 302) return std::nullopt;
  for (const auto& [name, value] : reply.headers)
    if (name == "Location") return value;
  return std::nullopt;
}

}  // namespace testing_support
