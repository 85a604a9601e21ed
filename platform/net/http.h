#pragma once
// Asynchronous HTTP(S) requests over libcurl, the platform's URL loading in our own words.
//
//   HttpConnection::start(request, callbacks, loop)
//     worker thread: connect, TLS, send (a text body or a file streamed from disk), receive
//     loop's thread:  callbacks.response (once the headers are in), callbacks.progress (now and
//                     then), callbacks.completion (exactly once, last) - unless cancelled first
//
// Each connection runs on a worker thread of its own; every callback is handed back to the given
// run loop, so callers see the connection only on their own thread. After cancel() (or destroying
// the connection) no callback runs any more.
//
// Safety: TLS peers are always verified and host names always checked. With anchor certificates
// the connection trusts those roots only and never consults the system's store. Redirects are not
// followed unless asked, and then only to https. No "Accept-Encoding" is sent: callers compare the
// bytes they receive with the length the server announced. A body held in memory is capped.
//
// A body of a 200 reply can be streamed into a file the caller names: the file is created new
// (never an existing one), mode 0600, also for an empty body, and removed again when the request fails or is cancelled;
// on success it stays for the caller to check and move. Failures are foundation::Errors in
// "NSURLErrorDomain" with the platform's codes; an early end of the body is no failure but a
// response marked `truncated`, so that callers can apply their own size rules.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/runtime/run_loop.h"

namespace net {

inline constexpr std::string_view kURLErrorDomain = "NSURLErrorDomain";

enum URLErrorCode : std::int64_t {
  kURLErrorUnknown = -1,
  kURLErrorCancelled = -999,
  kURLErrorBadURL = -1000,
  kURLErrorTimedOut = -1001,
  kURLErrorUnsupportedURL = -1002,
  kURLErrorCannotFindHost = -1003,
  kURLErrorCannotConnectToHost = -1004,
  kURLErrorNetworkConnectionLost = -1005,
  kURLErrorHTTPTooManyRedirects = -1007,
  kURLErrorNotConnectedToInternet = -1009,
  kURLErrorRedirectToNonExistentLocation = -1010,
  kURLErrorBadServerResponse = -1011,
  kURLErrorUserCancelledAuthentication = -1012,
  kURLErrorDataLengthExceedsMaximum = -1103,
  kURLErrorSecureConnectionFailed = -1200,
  kURLErrorServerCertificateUntrusted = -1202,
  kURLErrorCannotCreateFile = -3000,
  kURLErrorCannotOpenFile = -3001,
  kURLErrorCannotWriteToFile = -3003,
};

using Headers = std::vector<std::pair<std::string, std::string>>;

// Whether the bytes are exactly one DER-encoded X.509 certificate.
bool isDerCertificate(const foundation::Bytes& der);

// The value of the last header of that name (names compare without case).
std::optional<std::string> headerValue(const Headers& headers, std::string_view name);
// The character set the "Content-Type" of `headers` names (its "charset", unquoted); nothing when it
// names none.
std::optional<std::string> textEncodingNameOf(const Headers& headers);

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  Headers headers;
  // The body, unless bodyFile is set; then the file is streamed, and "Content-Length" is its size.
  std::string body;
  std::filesystem::path bodyFile;
  // Seconds to connect, and seconds without a byte moving before the request times out.
  double timeoutSeconds = 60;
  // DER certificates; when any are given they are the only roots trusted.
  std::vector<foundation::Bytes> anchorCertificates;
  // Follows redirects to https locations only (at most 10).
  bool followRedirects = false;
  // When set, the body of a 200 reply goes into this new file instead of memory.
  std::filesystem::path downloadFile;
  // The most body bytes held in memory; more fails with kURLErrorDataLengthExceedsMaximum.
  std::int64_t maxBodyInMemory = std::int64_t{64} << 20;
};

struct HttpResponse {
  long status = 0;
  Headers headers;
  // The body when it was kept in memory.
  std::string body;
  // True when the body went into the request's downloadFile.
  bool bodyInFile = false;
  // Body bytes received (in memory or in the file).
  std::int64_t bodyBytes = 0;
  // The connection ended before the announced "Content-Length" arrived.
  bool truncated = false;

  std::optional<std::string> header(std::string_view name) const { return headerValue(headers, name); }
  // The character set "Content-Type" names (its "charset", unquoted); nothing when it names none.
  std::optional<std::string> textEncodingName() const { return textEncodingNameOf(headers); }
};

struct HttpProgress {
  std::int64_t received = 0;
  std::int64_t expectedToReceive = -1;  // -1 when unknown
  std::int64_t sent = 0;
  std::int64_t expectedToSend = 0;
};

struct HttpCallbacks {
  std::function<void(const HttpResponse&)> response;
  std::function<void(const HttpProgress&)> progress;
  std::function<void(foundation::Result<HttpResponse>)> completion;
};

class HttpConnection {
 public:
  // Starts the request at once; the callbacks run on `loop`. When the loop goes before the
  // connection, nothing more is handed to it and no callback runs.
  static std::unique_ptr<HttpConnection> start(HttpRequest request, HttpCallbacks callbacks,
                                               runtime::RunLoop& loop = runtime::RunLoop::main());
  // Cancels, and waits for the worker to let go of the request (it stops at once).
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // No callback runs after this, not even one already handed to the loop. Safe from the loop's
  // thread only (the one the callbacks run on), also from inside a callback.
  void cancel();
  bool cancelled() const;

  struct Shared;

 private:
  HttpConnection() = default;
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<class HttpWorker> worker_;
};

}  // namespace net
