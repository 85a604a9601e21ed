#pragma once
// A stand-in for the cloud-storage service: a real HTTPS server on 127.0.0.1 (libmicrohttpd with
// GnuTLS) on a free port, with its own root and server certificate made at start. It answers, for
// all three host roles on the one port, the REST interface version "1" under the root "sandbox":
//
//   GET  /1/metadata/sandbox<path>        hash (304 when unchanged), rev, list
//   POST /1/delta                         cursor
//   GET  /1/files/sandbox<path>           rev; the body with "X-Cloud-Metadata", "Content-Length"
//   GET  /1/thumbnails/sandbox<path>      size, format (the file itself, with its metadata)
//   POST /1/files_put/sandbox<path>       overwrite, parent_rev: a stale parent without overwrite
//                                         stores a renamed copy "name (1).ext" and answers its path
//   POST /1/chunked_upload                upload_id, offset
//   POST /1/commit_chunked_upload/sandbox<path>   upload_id, overwrite, parent_rev
//   GET  /1/revisions/sandbox<path>       rev_limit; newest first
//   GET  /1/restore/sandbox<path>         rev
//   POST /1/fileops/{move,copy,delete,create_folder}   root, from_path, to_path, path, from_copy_ref
//   POST /1/copy_ref/sandbox<path>
//   GET  /1/account/info, /1/search/sandbox<path> (query), /1/shares/sandbox<path>, /1/media/...
//   GET  /1/oauth/request_token, /1/oauth/access_token   form-encoded replies
//
// Every request must carry a PLAINTEXT OAuth signature of the consumer and, but for the OAuth
// paths, a token of a known user (401 {"error": ...} otherwise). Files and their revisions are kept
// in the given folder. Fault modes make the next replies go wrong on purpose. The test paths
// "/test/..." (no signature) serve the network layer's own tests:
//
//   GET  /test/bytes?n                    n bytes "abc...", with "X-Cloud-Metadata" "bytes"
//   GET  /test/text?body&charset&status&metadata   the body's bytes as "text/plain; charset=<charset>",
//                                         with that status (200) and "X-Cloud-Metadata" (none)
//   *    /test/echo                       {"bytes": the size of the request's body}
//   GET  /test/redirect?to                302 to the location given
//   GET  /test/challenge?scheme           401 {"error": ...} asking for that "WWW-Authenticate" scheme
//
//   GET  /1/connect_login                 k, s, state: a new user, handed back (302) to
//                                         "cloud-<key>://1/connect?oauth_token&oauth_token_secret&uid&state"
//                                         (with Options::loginForm: a sign-in page whose form
//   POST /1/connect_login                 posts k, s, state, login_email, login_password here; both
//                                         filled in: the hand-back above, else the page again)
//
// It also stands behind the service's own application: serviceAppAnswer takes the URL the
// application would open ("cloudapi-2://1/connect?k&s&state") and gives the URL that application
// would hand back, for a test's URL opener to pass to the application.
//
// Run by hand through runCloudServer (a program's main): it prints DIARY_CLOUD_HOST and
// DIARY_CLOUD_ROOT for the diary (see CloudService::fromEnvironment) and serves until interrupted.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace testing_support {

class CloudServer {
 public:
  enum class Fault {
    None,
    TruncatedBody,   // downloads announce their length and stop one byte short
    NoLength,        // downloads are sent chunked, without "Content-Length"
    WrongBytes,      // downloads without a length whose "X-Cloud-Metadata" "bytes" is one too many
    SlowTrickle,     // downloads send one byte every 20 ms
    DropConnection,  // the connection is closed without a reply
    ServerError,     // 500 {"error": "Internal server error"}
    Unauthorized,    // 401, whatever the signature
    ShortForm,       // form-encoded token replies lose their last "name=value" pair
    BrokenJson,      // 200 JSON bodies and "X-Cloud-Metadata" headers lose their last character
  };

  struct Options {
    std::string consumerKey = "qwv3rtnpa8sdkmz";
    std::string consumerSecret = "hxb7ytrefo2lmcu";
    // Serve a certificate under a second root, one a client does not trust.
    bool foreignRoot = false;
    // 0: any free port.
    std::uint16_t port = 0;
    // The web login asks for an email and a password on a page of its own first.
    bool loginForm = false;
  };

  struct Seen {
    std::string method;
    std::string path;  // decoded
    std::map<std::string, std::string> params;
    std::map<std::string, std::string> headers;  // names in lower case
  };

  CloudServer(std::filesystem::path folder, Options options);
  explicit CloudServer(std::filesystem::path folder) : CloudServer(std::move(folder), Options{}) {}
  ~CloudServer();
  CloudServer(const CloudServer&) = delete;
  CloudServer& operator=(const CloudServer&) = delete;

  bool running() const;
  std::uint16_t port() const;
  // "127.0.0.1:<port>": the host of every role.
  std::string host() const;
  // The root the client must trust (DER), and the other root (for the refusal tests).
  const foundation::Bytes& rootCertificate() const;
  const foundation::Bytes& otherRootCertificate() const;

  void addUser(std::string uid, std::string token, std::string secret);
  // The fault for the next `times` requests it applies to (-1: until changed).
  void setFault(Fault fault, int times = -1);

  // Stores a file as an upload would (a new revision); returns its rev.
  std::string putFile(const std::string& path, std::string_view content);
  // The current content of a file; nothing when there is none (or it is deleted).
  std::optional<std::string> fileContent(const std::string& path) const;
  // The hand-back for a "cloudapi-2" link URL; nothing when its "k" or "s" is wrong.
  std::optional<std::string> serviceAppAnswer(std::string_view url);
  std::vector<Seen> requests() const;
  void clearRequests();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// main() of the stand-in run by hand: "<program> <folder> [port]"; "--help" (or "-h") prints the usage
// and returns 0; other wrong arguments print it to standard error and return 2, making nothing.
int runCloudServer(int argc, char** argv);

}  // namespace testing_support
