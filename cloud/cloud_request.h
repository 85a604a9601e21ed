#pragma once
// One HTTPS request of the cloud client from start to end: it runs the signed request, keeps the
// reply in memory or streams a 200 reply into a temporary file beside the result file, reports
// progress, trusts only the service's pinned roots, turns failures into errors and finally calls
// back whoever made it (the REST client).
//
//   CloudRequest(request, options)  - starts at once; callbacks run on the given run loop
//     downloadProgress / uploadProgress callbacks, now and then
//     completion (or failure when set), exactly once - never after cancel()
//
// A download replaces the result file only after it arrived whole and its size matched the
// announced one ("Content-Length", else the "bytes" of "X-Cloud-Metadata"): until then it lies in
// a temporary file, which every failure removes, so the old file stays byte for byte.
//
// Full URLs are never logged: with PLAINTEXT signing they carry both secrets. Only the path is.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/net/http.h"
#include "platform/runtime/run_loop.h"

namespace cloud {

// The SDK's error domain, and its own codes beside the HTTP statuses.
inline constexpr std::string_view kCloudErrorDomain = "cloud.storage.sdk";
enum CloudErrorCode : std::int64_t {
  kCloudErrorSizeMismatch = 1000,     // a download's size differs from the announced size
  kCloudErrorFileNotFound = 1001,     // a local file to upload is missing or unreadable
  kCloudErrorFileWrite = 1002,        // writing a downloaded file failed
  kCloudErrorFolderUpload = 1003,     // the local path to upload is a folder
  kCloudErrorInvalidResponse = 1004,  // the reply is not of the expected JSON type
};

// Told around every request (the application sets none).
class CloudNetworkRequestDelegate {
 public:
  virtual ~CloudNetworkRequestDelegate() = default;
  virtual void networkRequestStarted() = 0;
  virtual void networkRequestStopped() = 0;
};

// Where the service is: its three hosts ("host" or "host:port") and the roots its certificates
// chain to. The defaults are the service's; the stand-in server's tests and the diary run against
// it set their own.
struct CloudService {
  std::string apiHost = "api.cloudstorage.example";
  std::string contentHost = "api-content.cloudstorage.example";
  std::string webHost = "www.cloudstorage.example";
  // DER certificates; empty means the pinned roots (CloudRequest::rootCertificates()).
  std::vector<foundation::Bytes> anchorCertificates;

  // The stand-in service, for running the diary without the real one: DIARY_CLOUD_HOST
  // ("127.0.0.1:<port>", every role) and DIARY_CLOUD_ROOT (its root certificate file, DER or PEM).
  // Nothing when DIARY_CLOUD_HOST is unset, or when the root cannot be read (logged).
  static std::optional<CloudService> fromEnvironment();

  static CloudService current();
  static void setCurrent(CloudService service);
};

class CloudRequest {
 public:
  using Callback = std::function<void(CloudRequest&)>;

  struct Options {
    Callback completion{};
    // Failures go here when set, else to completion.
    Callback failure{};
    Callback downloadProgress{};
    Callback uploadProgress{};
    // A 200 reply's body goes to this file instead of memory.
    std::filesystem::path resultFilename{};
    // The operation's parameters: the user information of every error of this request.
    foundation::Dictionary userInfo{};
    // The file an upload's body is streamed from.
    std::filesystem::path sourcePath{};
  };

  // Starts the request at once. The anchors are those of CloudService::current().
  CloudRequest(net::HttpRequest request, Options options, runtime::RunLoop& loop = runtime::RunLoop::main());
  // Cancels first.
  ~CloudRequest();
  CloudRequest(const CloudRequest&) = delete;
  CloudRequest& operator=(const CloudRequest&) = delete;

  // Stops the request: no completion or progress call follows, a temporary file is removed.
  void cancel();

  const net::HttpRequest& request() const { return request_; }
  // The request URL's path (what is logged).
  std::string urlPath() const;
  const foundation::Dictionary& userInfo() const { return options_.userInfo; }
  const std::filesystem::path& resultFilename() const { return options_.resultFilename; }
  const std::filesystem::path& sourcePath() const { return options_.sourcePath; }

  // The reply's status and headers, once they arrived.
  const std::optional<net::HttpResponse>& response() const { return response_; }
  long statusCode() const { return response_ ? response_->status : 0; }
  // "X-Cloud-Metadata" parsed as JSON (JSONValue, so a header that does not parse is logged), when
  // it is a dictionary.
  const std::optional<foundation::Dictionary>& xCloudMetadataJSON() const { return xCloudMetadata_; }
  std::int64_t bytesDownloaded() const { return bytesDownloaded_; }
  double downloadProgress() const { return downloadProgress_; }
  double uploadProgress() const { return uploadProgress_; }
  // The body when it was kept in memory (always so for error replies).
  const std::string& resultData() const { return resultData_; }
  // The body as UTF-8 text; nothing when it is not valid UTF-8.
  std::optional<std::string> resultString() const;
  // That text parsed as JSON (JSONValue: a text that does not parse is logged); nothing when it
  // does not parse.
  std::optional<foundation::Value> resultJSON() const;
  const std::optional<foundation::Error>& error() const { return error_; }

  // Nothing when the request failed; the JSON reply when it is of the type (dictionary or array);
  // otherwise sets error 1004 and gives nothing.
  std::optional<foundation::Value> parseResponseAsType(foundation::Value::Type type);
  // "Content-Length" when above 0, else the "bytes" of "X-Cloud-Metadata", else 0.
  std::int64_t responseBodySize() const;
  // Keeps the error, logging it unless it is the SDK's 304.
  void setError(foundation::Error error);

  static void setNetworkRequestDelegate(CloudNetworkRequestDelegate* delegate);
  static CloudNetworkRequestDelegate* networkRequestDelegate();
  // The pinned roots as DER, decoded once per process (entries that do not decode are logged and
  // left out).
  static const std::vector<foundation::Bytes>& rootCertificates();
  // Their stored Base64 texts.
  static const std::vector<std::string_view>& rootCertificateTexts();

 private:
  void onResponse(const net::HttpResponse& head);
  void onProgress(const net::HttpProgress& progress);
  void onCompletion(foundation::Result<net::HttpResponse> result);
  void finishDownload();
  void failWith(const foundation::Error& cause, std::optional<std::int64_t> code = std::nullopt);
  void finish();
  void removeTempFile(std::string_view logFormat);

  net::HttpRequest request_;
  Options options_;
  std::unique_ptr<net::HttpConnection> connection_;
  std::filesystem::path tempFilename_;
  std::optional<net::HttpResponse> response_;
  std::optional<foundation::Dictionary> xCloudMetadata_;
  std::int64_t bytesDownloaded_ = 0;
  double downloadProgress_ = 0;
  double uploadProgress_ = 0;
  std::string resultData_;
  std::optional<foundation::Error> error_;
  bool stopped_ = false;  // the observer was told
  bool cancelled_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace cloud
