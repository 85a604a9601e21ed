#include "cloud/cloud_request.h"

#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>

#include "cloud/cloud_log.h"
#include "cloud/json.h"
#include "cloud/oauth_base64.h"
#include "cloud/oauth_url.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/text.h"
#include "platform/foundation/uuid.h"

namespace cloud {
namespace {

using foundation::Dictionary;
using foundation::Error;
using foundation::Value;
namespace fs = std::filesystem;

std::atomic<CloudNetworkRequestDelegate*> networkDelegate{nullptr};

std::mutex& serviceMutex() {
  static std::mutex m;
  return m;
}

CloudService& serviceSlot() {
  static CloudService service;
  return service;
}

Error posixError(int number) { return Error::make("NSPOSIXErrorDomain", number, std::strerror(number)); }

// The errno a network-layer error carries underneath, or 0.
int underlyingErrno(const Error& error) {
  return error.underlying && error.underlying->domain == "NSPOSIXErrorDomain"
             ? static_cast<int>(error.underlying->code)
             : 0;
}

// The platform's name of the authentication method a 401 reply asks for in "WWW-Authenticate";
// nothing when it asks for none.
std::optional<std::string> authenticationMethodOf(const net::HttpResponse& reply) {
  auto challenge = reply.header("WWW-Authenticate");
  if (!challenge) return std::nullopt;
  std::string scheme = challenge->substr(0, challenge->find_first_of(" ,"));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme == "oauth") return "NSURLAuthenticationMethodOAuth";
  if (scheme == "bearer" || scheme == "oauth2") return "NSURLAuthenticationMethodOAuth2";
  if (scheme == "basic") return "NSURLAuthenticationMethodHTTPBasic";
  if (scheme == "digest") return "NSURLAuthenticationMethodHTTPDigest";
  if (scheme == "ntlm") return "NSURLAuthenticationMethodNTLM";
  if (scheme == "negotiate") return "NSURLAuthenticationMethodNegotiate";
  return "NSURLAuthenticationMethodDefault";
}

}  // namespace

std::optional<CloudService> CloudService::fromEnvironment() {
  const char* host = std::getenv("DIARY_CLOUD_HOST");
  const char* root = std::getenv("DIARY_CLOUD_ROOT");
  if (host == nullptr || *host == 0) return std::nullopt;
  auto bytes = files::readFile(root ? root : "");
  std::optional<foundation::Bytes> der;
  if (bytes.ok()) {
    std::string text(bytes->begin(), bytes->end());
    if (size_t begin = text.find("-----BEGIN CERTIFICATE-----"); begin != std::string::npos) {
      begin = text.find('\n', begin);
      size_t end = text.find("-----END", begin);
      if (begin != std::string::npos && end != std::string::npos) {
        std::string body = text.substr(begin, end - begin);
        std::erase_if(body, [](char c) { return c == '\n' || c == '\r' || c == ' '; });
        if (auto decoded = OAuthBase64Decode(body); decoded.ok()) der = *decoded;
      }
    } else {
      der = *bytes;
    }
  }
  if (!der || !net::isDerCertificate(*der)) {
    CloudLogError("CloudSDK: DIARY_CLOUD_ROOT names no certificate");
    return std::nullopt;
  }
  return CloudService{host, host, host, {*der}};
}

CloudService CloudService::current() {
  std::lock_guard lock(serviceMutex());
  return serviceSlot();
}

void CloudService::setCurrent(CloudService service) {
  std::lock_guard lock(serviceMutex());
  serviceSlot() = std::move(service);
}

CloudNetworkRequestDelegate* CloudRequest::networkRequestDelegate() { return networkDelegate.load(); }

void CloudRequest::setNetworkRequestDelegate(CloudNetworkRequestDelegate* delegate) {
  networkDelegate = delegate;
}

const std::vector<foundation::Bytes>& CloudRequest::rootCertificates() {
  static const std::vector<foundation::Bytes> certificates = [] {
    std::vector<foundation::Bytes> made;
    for (std::string_view text : rootCertificateTexts()) {
      auto der = OAuthBase64Decode(text);
      if (!der.ok()) {
        CloudLogError("Root certificate base64 decoding failed!");
      } else if (!net::isDerCertificate(*der)) {
        CloudLogError("Invalid root certificate!");
      } else {
        made.push_back(std::move(*der));
      }
    }
    return made;
  }();
  return certificates;
}

CloudRequest::CloudRequest(net::HttpRequest request, Options options, runtime::RunLoop& loop)
    : request_(std::move(request)), options_(std::move(options)) {
  CloudService service = CloudService::current();
  request_.anchorCertificates =
      service.anchorCertificates.empty() ? rootCertificates() : std::move(service.anchorCertificates);
  if (!options_.resultFilename.empty()) {
    // Beside the result, so that the final rename stays on one file system and replaces the old
    // file in one step.
    tempFilename_ = options_.resultFilename.parent_path() / ("." + foundation::makeUuid() + ".download");
    request_.downloadFile = tempFilename_;
  }
  if (!options_.sourcePath.empty()) request_.bodyFile = options_.sourcePath;

  if (auto* delegate = networkDelegate.load()) delegate->networkRequestStarted();
  net::HttpCallbacks callbacks;
  callbacks.response = [this](const net::HttpResponse& head) { onResponse(head); };
  callbacks.progress = [this](const net::HttpProgress& progress) { onProgress(progress); };
  callbacks.completion = [this](foundation::Result<net::HttpResponse> result) {
    onCompletion(std::move(result));
  };
  connection_ = net::HttpConnection::start(request_, std::move(callbacks), loop);
}

CloudRequest::~CloudRequest() { cancel(); }

std::string CloudRequest::urlPath() const {
  std::string_view url = request_.url;
  size_t scheme = url.find("://");
  size_t start = url.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
  if (start == std::string_view::npos) return "/";
  std::string_view path = url.substr(start);
  return std::string(path.substr(0, path.find_first_of("?#")));
}

void CloudRequest::cancel() {
  if (cancelled_ || stopped_) return;
  cancelled_ = true;
  // Waits for the worker, which removes a file it was writing.
  connection_.reset();
  options_.completion = nullptr;
  options_.failure = nullptr;
  options_.downloadProgress = nullptr;
  options_.uploadProgress = nullptr;
  removeTempFile("CloudRequest#cancel Error removing temp file: %@");
  stopped_ = true;
  if (auto* delegate = networkDelegate.load()) delegate->networkRequestStopped();
}

void CloudRequest::removeTempFile(std::string_view logFormat) {
  if (tempFilename_.empty()) return;
  std::error_code ec;
  fs::remove(tempFilename_, ec);
  if (ec) CloudLogError(logFormat, posixError(ec.value()).description());
  tempFilename_.clear();
}

std::optional<std::string> CloudRequest::resultString() const {
  if (!foundation::text::isValidUtf8(resultData_)) return std::nullopt;
  return resultData_;
}

std::optional<Value> CloudRequest::resultJSON() const {
  // A reply that should be JSON and is not is worth its trace in the log. A body that is not
  // UTF-8 has no text, and so no JSON either.
  return JSONValue(resultString());
}

std::optional<Value> CloudRequest::parseResponseAsType(Value::Type type) {
  if (error_) return std::nullopt;
  auto json = resultJSON();
  if (json && json->type() == type) return json;
  setError(Error(std::string(kCloudErrorDomain), kCloudErrorInvalidResponse, options_.userInfo));
  return std::nullopt;
}

std::int64_t CloudRequest::responseBodySize() const {
  if (response_) {
    if (auto length = response_->header("Content-Length")) {
      char* end = nullptr;
      errno = 0;
      long long n = std::strtoll(length->c_str(), &end, 10);
      if (errno == 0 && end != length->c_str() && n > 0) return n;
    }
  }
  if (xCloudMetadata_) {
    const Value& bytes = (*xCloudMetadata_)["bytes"];
    if (auto n = bytes.isNumber() ? bytes.toInteger() : std::nullopt) return *n;
  }
  return 0;
}

void CloudRequest::setError(Error error) {
  error_ = std::move(error);
  if (error_->domain == kCloudErrorDomain && error_->code == 304) return;
  const std::string* serverError = error_->userInfo["error"].string();
  CloudLogWarning("CloudSDK: error making request to %@ - (%ld) %@", urlPath(), error_->code,
                  serverError ? *serverError : error_->description());
}

void CloudRequest::onResponse(const net::HttpResponse& head) {
  response_ = head;
  if (auto parsed = JSONValue(head.header("X-Cloud-Metadata")); parsed && parsed->dictionary())
    xCloudMetadata_ = *parsed->dictionary();
}

void CloudRequest::onProgress(const net::HttpProgress& progress) {
  Callback upload;
  Callback download;
  if (progress.expectedToSend > 0 && progress.sent > 0) {
    double now = static_cast<double>(progress.sent) / static_cast<double>(progress.expectedToSend);
    if (now != uploadProgress_) {
      uploadProgress_ = now;
      upload = options_.uploadProgress;
    }
  }
  if (progress.received != bytesDownloaded_) {
    bytesDownloaded_ = progress.received;
    std::int64_t size = responseBodySize();
    if (size >= 1) {
      downloadProgress_ = static_cast<double>(bytesDownloaded_) / static_cast<double>(size);
      download = options_.downloadProgress;
    }
  }
  // A callback may cancel or release the request.
  std::weak_ptr<int> alive = alive_;
  if (upload) upload(*this);
  if (download && !alive.expired() && !cancelled_) download(*this);
}

void CloudRequest::failWith(const Error& cause, std::optional<std::int64_t> code) {
  if (code) {
    setError(Error(std::string(kCloudErrorDomain), *code, options_.userInfo));
  } else {
    setError(Error(cause.domain, cause.code, options_.userInfo));
  }
}

void CloudRequest::onCompletion(foundation::Result<net::HttpResponse> result) {
  if (result.ok() && result->status == 401) {
    // The service's own challenge (OAuth) is answered without a credential, so its 401 stands;
    // any other is refused, which fails the request as a refused challenge does.
    auto method = authenticationMethodOf(*result);
    if (method && *method != "NSURLAuthenticationMethodOAuth" && *method != "NSURLAuthenticationMethodOAuth2") {
      CloudLogError("CloudSDK: SSL Error. Unknown authentication method %@ for Cloud host: %@", *method,
                    urlHost(request_.url));
      result = Error::make(std::string(net::kURLErrorDomain), net::kURLErrorUserCancelledAuthentication,
                           "The authentication was refused.");
    }
  }
  if (!result.ok()) {
    const Error& cause = result.error();
    if (cause.domain == net::kURLErrorDomain && cause.code == net::kURLErrorCannotCreateFile) {
      int number = underlyingErrno(cause);
      CloudLogError("CloudRequest#connection:didReceiveData: Error creating temp file: (%d) %s", number,
                    std::string(std::strerror(number)));
      // The reply is over for us: the finish finds no file to read and reports that file error.
      finishDownload();
      finish();
      return;
    }
    bytesDownloaded_ = 0;
    downloadProgress_ = 0;
    uploadProgress_ = 0;
    // The network layer removed the file it was writing; anything left is ours to remove.
    removeTempFile("CloudRequest#connection:didFailWithError: error removing temporary file: %@");
    if (cause.domain == net::kURLErrorDomain && cause.code == net::kURLErrorCannotWriteToFile) {
      failWith(cause, kCloudErrorFileWrite);
    } else {
      // The chain ends at none of the trusted roots, or the certificate is not the host's.
      if (cause.domain == net::kURLErrorDomain && cause.code == net::kURLErrorServerCertificateUntrusted)
        CloudLogError("CloudSDK: SSL Error. Cannot validate a certificate for the host: %@", urlHost(request_.url));
      failWith(cause);
    }
    finish();
    return;
  }

  net::HttpResponse& reply = *result;
  resultData_ = std::move(reply.body);
  bytesDownloaded_ = reply.bodyBytes;
  const bool inFile = reply.bodyInFile;
  const bool truncated = reply.truncated;
  // The head came before (the connection hands it over ahead of every reply); this keeps the
  // reply's own fields as well, such as its truncation, for the download's size check.
  response_ = reply;

  if (reply.status != 200) {
    Dictionary info = options_.userInfo;
    if (!resultData_.empty()) {
      // Read quietly: an error body need not be JSON, and its fields are only a bonus.
      CloudJsonParser parser;
      if (auto json = parser.objectWithString(resultData_); json && json->dictionary()) {
        for (const auto& [key, value] : *json->dictionary()) info.set(key, value);
      }
    }
    removeTempFile("CloudRequest#connectionDidFinishLoading: error removing temp file: %@");
    setError(Error(std::string(kCloudErrorDomain), reply.status, std::move(info)));
  } else if (inFile) {
    finishDownload();
  } else if (truncated) {
    // A body shorter than announced is no reply, whether it was bound for a file or for memory.
    setError(Error(std::string(kCloudErrorDomain), kCloudErrorSizeMismatch, options_.userInfo));
  }
  finish();
}

void CloudRequest::finishDownload() {
  struct stat info {};
  if (::stat(tempFilename_.c_str(), &info) != 0) {
    Error failure = posixError(errno);
    CloudLogError("CloudRequest#connectionDidFinishLoading: error getting file attrs: %@",
                  failure.description());
    removeTempFile("CloudRequest#connectionDidFinishLoading: error removing temp file: %@");
    failWith(failure);
    return;
  }
  const std::int64_t announced = responseBodySize();
  const bool truncated = response_ && response_->truncated;
  if (truncated || (announced != 0 && announced != static_cast<std::int64_t>(info.st_size))) {
    removeTempFile("CloudRequest#connectionDidFinishLoading: error removing temp file: %@");
    failWith(Error(), kCloudErrorSizeMismatch);
    return;
  }
  // One rename replaces the old file: readers see the old content or the new, never a mix.
  std::error_code ec;
  fs::rename(tempFilename_, options_.resultFilename, ec);
  if (ec) {
    Error failure = posixError(ec.value());
    CloudLogError("CloudRequest#connectionDidFinishLoading: error moving temp file to desired location: %@",
                  failure.description());
    removeTempFile("CloudRequest#connectionDidFinishLoading: error removing temp file: %@");
    failWith(failure);
    return;
  }
  tempFilename_.clear();
}

void CloudRequest::finish() {
  // Nothing of this object is touched after the callback: it may release the request.
  CloudNetworkRequestDelegate* delegate = stopped_ ? nullptr : networkDelegate.load();
  stopped_ = true;
  Callback callback = error_ && options_.failure ? options_.failure : options_.completion;
  if (callback) callback(*this);
  if (delegate) delegate->networkRequestStopped();
}

}  // namespace cloud
