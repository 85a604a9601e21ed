#include "platform/net/http.h"

#include <curl/curl.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/foundation/text.h"
#include "platform/security/digest.h"

namespace net {

using foundation::Error;

bool isDerCertificate(const foundation::Bytes& der) {
  const unsigned char* p = der.data();
  X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  bool whole = cert != nullptr && p == der.data() + der.size();
  X509_free(cert);
  return whole;
}

std::optional<std::string> headerValue(const Headers& headers, std::string_view name) {
  std::optional<std::string> found;
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) found = value;
  }
  return found;
}

struct HttpConnection::Shared : std::enable_shared_from_this<Shared> {
  // The worker may outlive the loop (a test or a screen that closes first): it posts through a
  // handle, and what it posts after the loop has gone is dropped.
  runtime::LoopHandle loop;
  HttpCallbacks callbacks;  // touched on the loop's thread only
  std::atomic<bool> cancelled{false};
  std::mutex mutex;
  CURLM* multi = nullptr;  // while the worker runs; guarded by mutex, for waking it

  // Hands work to the loop; it is dropped there when the connection was cancelled meanwhile.
  void post(std::function<void(HttpCallbacks&)> work) {
    loop.performSoon([self = shared_from_this(), work = std::move(work)] {
      if (!self->cancelled.load()) work(self->callbacks);
    });
  }
};

class HttpWorker {
 public:
  std::thread thread;
};

namespace {

Error urlError(std::int64_t code, std::string description,
               std::shared_ptr<const Error> underlying = nullptr) {
  return Error::make(std::string(kURLErrorDomain), code, std::move(description), std::move(underlying));
}

std::shared_ptr<const Error> posixError(int number) {
  return std::make_shared<Error>(Error::make("NSPOSIXErrorDomain", number, std::strerror(number)));
}

void initializeCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// DER certificates as the PEM text that libcurl takes as a CA bundle.
std::string pemBundle(const std::vector<foundation::Bytes>& certificates) {
  std::string pem;
  for (const auto& der : certificates) {
    std::string b64 = security::base64Encode(der);
    pem += "-----BEGIN CERTIFICATE-----\n";
    for (size_t i = 0; i < b64.size(); i += 64) pem += b64.substr(i, 64) + "\n";
    pem += "-----END CERTIFICATE-----\n";
  }
  return pem;
}

// What one transfer keeps while it runs on the worker.
struct Transfer {
  HttpConnection::Shared* shared = nullptr;
  const HttpRequest* request = nullptr;
  CURL* easy = nullptr;
  HttpResponse response;
  bool responsePosted = false;
  bool bodyStarted = false;
  int downloadFd = -1;
  bool downloadCreated = false;
  int uploadFd = -1;
  std::optional<Error> localError;  // a failure of ours that ended the transfer
  std::int64_t postedReceived = -1;
  std::int64_t postedSent = -1;
  std::chrono::steady_clock::time_point postedAt{};

  void postResponse() {
    if (responsePosted) return;
    responsePosted = true;
    HttpResponse head;
    head.status = response.status;
    head.headers = response.headers;
    shared->post([head](HttpCallbacks& c) {
      // A copy runs: the callback may destroy the connection and with it the stored one.
      if (auto callback = c.response) callback(head);
    });
  }
};

size_t onHeader(char* data, size_t size, size_t count, void* context) {
  auto* t = static_cast<Transfer*>(context);
  std::string_view line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.starts_with("HTTP/")) {
    // A new header block: a redirect's or an interim reply's headers are forgotten.
    t->response.headers.clear();
    size_t space = line.find(' ');
    t->response.status =
        space == std::string_view::npos ? 0 : std::atol(std::string(line.substr(space + 1, 3)).c_str());
  } else if (size_t colon = line.find(':'); colon != std::string_view::npos) {
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    t->response.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
  }
  return size * count;
}

bool writeAll(int fd, const char* data, size_t size, int* failure) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *failure = n < 0 ? errno : ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Makes the download file of a 200 reply (new, never an existing one); false with the error kept.
bool openDownloadFile(Transfer* t) {
  t->downloadFd = ::open(t->request->downloadFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (t->downloadFd < 0) {
    t->localError = urlError(kURLErrorCannotCreateFile, "The file could not be created.", posixError(errno));
    return false;
  }
  t->downloadCreated = true;
  t->response.bodyInFile = true;
  return true;
}

bool wantsDownloadFile(const Transfer& t) {
  return !t.request->downloadFile.empty() && t.response.status == 200 && t.request->method != "HEAD";
}

size_t onBody(char* data, size_t size, size_t count, void* context) {
  auto* t = static_cast<Transfer*>(context);
  const size_t length = size * count;
  if (!t->bodyStarted) {
    t->bodyStarted = true;
    if (wantsDownloadFile(*t) && !openDownloadFile(t)) return 0;
    t->postResponse();
  }
  if (t->response.bodyInFile) {
    int failure = 0;
    if (!writeAll(t->downloadFd, data, length, &failure)) {
      t->localError =
          urlError(kURLErrorCannotWriteToFile, "The file could not be written.", posixError(failure));
      return 0;
    }
  } else {
    if (static_cast<std::int64_t>(t->response.body.size() + length) > t->request->maxBodyInMemory) {
      t->localError = urlError(kURLErrorDataLengthExceedsMaximum, "The reply is too large.");
      return 0;
    }
    t->response.body.append(data, length);
  }
  t->response.bodyBytes += static_cast<std::int64_t>(length);
  return length;
}

size_t onUploadRead(char* buffer, size_t size, size_t count, void* context) {
  auto* t = static_cast<Transfer*>(context);
  for (;;) {
    ssize_t n = ::read(t->uploadFd, buffer, size * count);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno == EINTR) continue;
    t->localError =
        urlError(kURLErrorCannotOpenFile, "The file to send could not be read.", posixError(errno));
    return CURL_READFUNC_ABORT;
  }
}

// Progress goes to the loop at most about a hundred times per transfer and at most once a frame
// (each report wakes the loop's thread, and no screen shows more), and always at the end.
constexpr auto kProgressFrame = std::chrono::microseconds(16667);

int onProgress(void* context, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal,
               curl_off_t upNow) {
  auto* t = static_cast<Transfer*>(context);
  if (t->shared->cancelled.load()) return 1;
  auto ended = [](std::int64_t now, std::int64_t last, std::int64_t total) {
    return now != last && total > 0 && now >= total;
  };
  auto stepped = [](std::int64_t now, std::int64_t last, std::int64_t total) {
    std::int64_t step = std::max<std::int64_t>(total / 100, 64 * 1024);
    return now != last && now - std::max<std::int64_t>(last, 0) >= step;
  };
  const auto now = std::chrono::steady_clock::now();
  const auto since = now - t->postedAt;
  const bool moved = downNow != t->postedReceived || upNow != t->postedSent;
  const bool due = ended(downNow, t->postedReceived, downTotal) || ended(upNow, t->postedSent, upTotal) ||
                   (since >= kProgressFrame && (stepped(downNow, t->postedReceived, downTotal) ||
                                                stepped(upNow, t->postedSent, upTotal))) ||
                   // A slow transfer still reports now and then.
                   (moved && since >= std::chrono::milliseconds(200));
  if (!due) return 0;
  t->postedAt = now;
  t->postedReceived = downNow;
  t->postedSent = upNow;
  HttpProgress progress{downNow, downTotal > 0 ? downTotal : -1, upNow, upTotal};
  t->shared->post([progress](HttpCallbacks& c) {
    if (auto callback = c.progress) callback(progress);
  });
  return 0;
}

// Whether an interface other than the loopback is up with an address that leads past its link. A
// machine without one is offline: a name that does not resolve, or a host that cannot be reached,
// then says that, as the platform does, rather than that the host is unknown.
bool hasRoutableInterface() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return true;  // cannot tell: the resolver's word stands
  bool found = false;
  for (const ifaddrs* a = list; a != nullptr && !found; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || (a->ifa_flags & IFF_UP) == 0 || (a->ifa_flags & IFF_LOOPBACK) != 0) continue;
    if (a->ifa_addr->sa_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
      found = (ntohl(in->sin_addr.s_addr) >> 16) != 0xA9FE;  // not 169.254/16
    } else if (a->ifa_addr->sa_family == AF_INET6) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr);
      found = !IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr);
    }
  }
  ::freeifaddrs(list);
  return found;
}

Error errorForCurl(CURLcode code, CURL* easy) {
  long osErrno = 0;
  curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
  std::string text = curl_easy_strerror(code);
  switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
      return urlError(kURLErrorCancelled, "cancelled");
    case CURLE_URL_MALFORMAT:
      return urlError(kURLErrorBadURL, text);
    case CURLE_UNSUPPORTED_PROTOCOL:
      return urlError(kURLErrorUnsupportedURL, text);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      if (!hasRoutableInterface()) return urlError(kURLErrorNotConnectedToInternet, text);
      return urlError(kURLErrorCannotFindHost, text);
    case CURLE_COULDNT_CONNECT:
      if (osErrno == ENETUNREACH || osErrno == ENETDOWN)
        return urlError(kURLErrorNotConnectedToInternet, text, posixError(static_cast<int>(osErrno)));
      // A refusal came from the host itself; anything else may be the machine's being offline.
      if (osErrno != ECONNREFUSED && !hasRoutableInterface())
        return urlError(kURLErrorNotConnectedToInternet, text, posixError(static_cast<int>(osErrno)));
      return urlError(kURLErrorCannotConnectToHost, text);
    case CURLE_OPERATION_TIMEDOUT:
      return urlError(kURLErrorTimedOut, text);
    case CURLE_TOO_MANY_REDIRECTS:
      return urlError(kURLErrorHTTPTooManyRedirects, text);
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return urlError(kURLErrorNetworkConnectionLost, text);
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      return urlError(kURLErrorServerCertificateUntrusted, text);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
      return urlError(kURLErrorSecureConnectionFailed, text);
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
      return urlError(kURLErrorBadServerResponse, text);
    case CURLE_FILESIZE_EXCEEDED:
      return urlError(kURLErrorDataLengthExceedsMaximum, text);
    default:
      return urlError(kURLErrorUnknown, text);
  }
}

struct Slist {
  curl_slist* list = nullptr;
  ~Slist() { curl_slist_free_all(list); }
  void add(const std::string& line) { list = curl_slist_append(list, line.c_str()); }
};

// Sets the transfer up; an error when the request cannot be made at all.
std::optional<Error> configure(Transfer& t, Slist& headers, std::string& pem) {
  const HttpRequest& r = *t.request;
  CURL* e = t.easy;
  curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  // A request cancelled while its host name is being looked up (as the diary quits) ends at once,
  // leaving the lookup to finish on its own, rather than waiting out a name server that never answers.
  curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  // AES-128 first among the TLS 1.3 suites, as browsers order them: as safe, and less work for
  // every byte of a large upload or download than the library's AES-256 first.
  curl_easy_setopt(e, CURLOPT_TLS13_CIPHERS,
                   "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256");
  if (r.followRedirects) {
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  }
  if (!r.anchorCertificates.empty()) {
    pem = pemBundle(r.anchorCertificates);
    curl_blob blob{pem.data(), pem.size(), CURL_BLOB_NOCOPY};
    curl_easy_setopt(e, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(e, CURLOPT_CAINFO_BLOB, &blob);
  }
  const long timeoutMs = std::lround(std::max(r.timeoutSeconds, 0.001) * 1000);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, std::max(1L, (timeoutMs + 999) / 1000));
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 256L * 1024);
  // A file is sent in pieces of 256 KB: each piece is one read of the file and one round of the
  // transfer loop (a quarter of what curl makes), and is still in the processor's cache when it is
  // encrypted (larger pieces are read back from memory).
  curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);

  const bool post = r.method == "POST";
  if (!r.bodyFile.empty()) {
    t.uploadFd = ::open(r.bodyFile.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (t.uploadFd < 0 || ::fstat(t.uploadFd, &info) != 0 || !S_ISREG(info.st_mode))
      return urlError(kURLErrorCannotOpenFile, "The file to send could not be opened.",
                      posixError(errno ? errno : EISDIR));
    curl_easy_setopt(e, CURLOPT_READFUNCTION, onUploadRead);
    curl_easy_setopt(e, CURLOPT_READDATA, &t);
    if (post) {
      curl_easy_setopt(e, CURLOPT_POST, 1L);
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(info.st_size));
    } else {
      curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
      curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(info.st_size));
    }
  } else if (post || !r.body.empty()) {
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body.data());
  }
  if (r.method != "GET" && r.method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method.c_str());
  if (r.method == "HEAD") curl_easy_setopt(e, CURLOPT_NOBODY, 1L);

  for (const auto& [name, value] : r.headers) {
    // The length is libcurl's to send, from the body it actually sends.
    if (strcasecmp(name.c_str(), "Content-Length") == 0) continue;
    headers.add(name + ": " + value);
  }
  // No waiting for a "100 Continue" that a server may never send.
  headers.add("Expect:");
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.list);
  return std::nullopt;
}

foundation::Result<HttpResponse> perform(Transfer& t) {
  Slist headers;
  std::string pem;
  if (auto failure = configure(t, headers, pem)) return *failure;

  CURLM* multi = curl_multi_init();
  curl_multi_add_handle(multi, t.easy);
  {
    std::lock_guard lock(t.shared->mutex);
    t.shared->multi = multi;
  }
  int running = 1;
  while (running > 0 && !t.shared->cancelled.load()) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    if (running > 0) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
  }
  CURLcode code = CURLE_ABORTED_BY_CALLBACK;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
    if (message->msg == CURLMSG_DONE) code = message->data.result;
  }
  {
    std::lock_guard lock(t.shared->mutex);
    t.shared->multi = nullptr;
  }
  curl_multi_remove_handle(multi, t.easy);
  curl_multi_cleanup(multi);

  if (t.shared->cancelled.load()) return urlError(kURLErrorCancelled, "cancelled");
  if (t.localError) return *t.localError;
  if (code == CURLE_PARTIAL_FILE) {
    t.response.truncated = true;
  } else if (code != CURLE_OK) {
    return errorForCurl(code, t.easy);
  }
  // An empty body is a body too: the caller's file exists, with nothing in it.
  if (!t.bodyStarted && wantsDownloadFile(t) && !openDownloadFile(&t)) return *t.localError;
  if (t.downloadFd >= 0 && ::fsync(t.downloadFd) != 0)
    return urlError(kURLErrorCannotWriteToFile, "The file could not be written.", posixError(errno));
  return std::move(t.response);
}

void run(std::shared_ptr<HttpConnection::Shared> shared, HttpRequest request) {
  Transfer t;
  t.shared = shared.get();
  t.request = &request;
  t.easy = curl_easy_init();
  foundation::Result<HttpResponse> result = t.easy ? perform(t) : urlError(kURLErrorUnknown, "no transfer");
  if (t.downloadFd >= 0) ::close(t.downloadFd);
  if (t.uploadFd >= 0) ::close(t.uploadFd);
  // A failed or cancelled download leaves no file behind.
  if (t.downloadCreated && !result.ok()) ::unlink(request.downloadFile.c_str());
  if (t.easy) curl_easy_cleanup(t.easy);
  if (result.ok()) t.postResponse();
  shared->post([result = std::move(result)](HttpCallbacks& c) {
    auto callback = std::move(c.completion);
    c = HttpCallbacks{};
    if (callback) callback(result);
  });
}

}  // namespace

std::unique_ptr<HttpConnection> HttpConnection::start(HttpRequest request, HttpCallbacks callbacks,
                                                      runtime::RunLoop& loop) {
  initializeCurlOnce();
  std::unique_ptr<HttpConnection> connection(new HttpConnection());
  auto shared = std::make_shared<Shared>();
  shared->loop = loop.handle();
  shared->callbacks = std::move(callbacks);
  connection->shared_ = shared;
  connection->worker_ = std::make_unique<HttpWorker>();
  connection->worker_->thread = std::thread(run, shared, std::move(request));
  return connection;
}

HttpConnection::~HttpConnection() {
  cancel();
  if (worker_ && worker_->thread.joinable()) worker_->thread.join();
  // The callbacks are released on the loop's thread, where they were made to run.
  if (shared_) shared_->callbacks = HttpCallbacks{};
}

void HttpConnection::cancel() {
  if (!shared_) return;
  shared_->cancelled.store(true);
  std::lock_guard lock(shared_->mutex);
  if (shared_->multi) curl_multi_wakeup(shared_->multi);
}

bool HttpConnection::cancelled() const { return shared_ && shared_->cancelled.load(); }

}  // namespace net
