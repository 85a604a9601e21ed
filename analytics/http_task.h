#pragma once
// The analytics SDK's one way to talk HTTP: a request run asynchronously over the platform's
// connections (platform/net), whose outcome reaches the caller's delegate on the run loop the task
// was started in, as a TallyHTTPResponse.
//
//   TallyHttpAsyncTask::post(url, body, headers, delegate)   main thread
//     -> requestSuccessful   status 200-299
//     -> requestDidFail      any other final status (last network error: "Failed to load url", 4),
//                            a transport failure (its error), a reply cut short or over the size cap
//   cancelTask(): no callback follows.
//
// Safety: only http and https are spoken, for the request and for every redirect, and at most
// kTallyMaxRedirects redirects are followed; a redirect elsewhere (file:, ftp:) fails the task, and so
// does a 301, 302 or 303 answering a request other than GET or HEAD (it would go on as a GET without
// its body, and whatever answered that would not have received the request). 307 and 308 repeat the
// request whole. The
// server's certificate is always verified against the system's trust store and its name checked;
// a TLS challenge is never answered with a credential it proposes itself. Replies larger than
// kTallyMaxReplyBytes fail instead of filling memory. Nothing is cached and no cookies are handled
// by the connection (the SDK keeps its own cookie map).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/runtime/run_loop.h"

namespace net {
class HttpConnection;
struct HttpResponse;
}  // namespace net

namespace analytics {

inline constexpr int kTallyMaxRedirects = 10;
inline constexpr std::int64_t kTallyMaxReplyBytes = std::int64_t{4} << 20;
inline constexpr int kTallyDefaultTimeoutSeconds = 20;
// The platform's "reload ignoring local and remote cache data".
inline constexpr int kTallyDefaultCachePolicy = 4;

struct TallyHTTPResponse {
  foundation::Bytes body;
  std::int32_t statusCode = 0;
  std::optional<foundation::Error> error;
  // Header names in lower case.
  foundation::Dictionary headers;

  // From a received reply (body, status clamped to 32 bits, headers); without one, only the error.
  static TallyHTTPResponse initWithResponse(const net::HttpResponse* response, foundation::Bytes body,
                                            std::optional<foundation::Error> error);
  static TallyHTTPResponse initWithBody(foundation::Bytes body, std::int64_t statusCode,
                                        const foundation::Dictionary& headers,
                                        std::optional<foundation::Error> error);

  // Status 200 to 399.
  bool isSuccess() const { return statusCode >= 200 && statusCode <= 399; }
  bool isError() const { return !isSuccess(); }
  // "status:%ld error:%@ body:%@".
  std::string description() const;

  // Writes {"statusCode", "body", "headers"} as a property list to filePath(now), mode 0600.
  std::optional<std::filesystem::path> saveToDisk() const;
  static std::optional<TallyHTTPResponse> readFromURL(const std::filesystem::path& path);
  // "<SDK folder>/tallyResponse<seconds>".
  static std::optional<std::filesystem::path> filePath(std::int32_t seconds);
};

class TallyHttpAsyncTask;

// Each call is optional; all run on the run loop the task was started in.
class TallyHttpAsyncTaskDelegate {
 public:
  virtual ~TallyHttpAsyncTaskDelegate() = default;
  virtual void requestDidFail(TallyHttpAsyncTask& /*task*/, const TallyHTTPResponse& /*response*/) {}
  virtual void requestDidCancel(TallyHttpAsyncTask& /*task*/, const TallyHTTPResponse& /*response*/) {}
  virtual void requestSuccessful(TallyHttpAsyncTask& /*task*/, const TallyHTTPResponse& /*response*/) {}
};

class TallyHttpAsyncTask : public std::enable_shared_from_this<TallyHttpAsyncTask> {
 public:
  using Delegate = std::shared_ptr<TallyHttpAsyncTaskDelegate>;

  static std::shared_ptr<TallyHttpAsyncTask> get(std::string_view url, Delegate delegate,
                                                 const foundation::Dictionary& headerFields = {});
  static std::shared_ptr<TallyHttpAsyncTask> post(std::string_view url, const foundation::Bytes& body,
                                                  Delegate delegate,
                                                  const foundation::Dictionary& headerFields = {});
  // Timeout 20 seconds, cache policy 4.
  static std::shared_ptr<TallyHttpAsyncTask> sendMethod(std::string_view method, std::string_view url,
                                                        const foundation::Bytes& body,
                                                        const foundation::Dictionary& headerFields,
                                                        Delegate delegate, bool startImmediately = true);
  // The full form: with startImmediately the task starts in the main run loop, else the caller starts it.
  static std::shared_ptr<TallyHttpAsyncTask> sendMethod(std::string_view method, std::string_view url,
                                                        const foundation::Bytes& body,
                                                        const foundation::Dictionary& headerFields,
                                                        int timeoutSeconds, int cachePolicy,
                                                        Delegate delegate, bool startImmediately);

  // "k=v" joined with "&" in the dictionary's order; no escaping.
  static std::string queryDictionaryToString(const foundation::Dictionary& query);
  // Pieces between "&"; "k" gives "k" = "", "k=v=w" gives "k" = "v".
  static foundation::Dictionary stringToQueryDictionary(std::string_view text);
  // protocol ("http" when none) "://" host [":" port unless 0 or 80] ["/" path] ["?" query]; the query
  // is a string or a dictionary.
  static std::string urlWithProtocol(std::optional<std::string_view> protocol,
                                     std::optional<std::string_view> host, int port,
                                     std::optional<std::string_view> path, const foundation::Value& query);

  ~TallyHttpAsyncTask();
  TallyHttpAsyncTask(const TallyHttpAsyncTask&) = delete;
  TallyHttpAsyncTask& operator=(const TallyHttpAsyncTask&) = delete;

  // Starts the request; the callbacks come on `loop`, which must outlive the task's run. The task
  // keeps itself alive until its delegate has been told.
  void startInRunLoop(runtime::RunLoop& loop);
  // Stops the request; no callback follows. From the loop's thread.
  void cancelTask();
  bool isDone() const;

  std::string tag() const;
  void setTag(std::string tag);
  foundation::Dictionary taskParams() const;
  void setTaskParam(std::string key, foundation::Value value);
  // There are no background tasks to hold here: always the invalid identifier 0.
  std::uint64_t backgroundTask() const { return 0; }

  struct Request {
    std::string method;
    std::string url;
    foundation::Dictionary headers;
    foundation::Bytes body;
    int timeoutSeconds = kTallyDefaultTimeoutSeconds;
    int cachePolicy = kTallyDefaultCachePolicy;
  };
  explicit TallyHttpAsyncTask(Request request, Delegate delegate);

 private:
  void startConnection();
  void finished(foundation::Result<net::HttpResponse> result);
  // Ends the run: the delegate is told through `tell`, the connection goes away later on the loop.
  template <class Tell>
  void finish(Tell&& tell);

  Request request_;
  Delegate delegate_;
  // The loop the task runs on: connections start there (on its thread); what is handed to it later,
  // perhaps from another thread, goes through the handle, which drops it once the loop is gone.
  runtime::RunLoop* loop_ = nullptr;
  runtime::LoopHandle loopHandle_;
  std::unique_ptr<net::HttpConnection> connection_;
  std::shared_ptr<TallyHttpAsyncTask> keepAlive_;
  std::optional<TallyHTTPResponse> lastHeaders_;
  int redirects_ = 0;
  bool done_ = false;

  mutable std::mutex mutex_;
  std::string tag_;
  foundation::Dictionary taskParams_;
};

}  // namespace analytics
