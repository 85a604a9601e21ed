#include "analytics/http_task.h"

#include <cmath>
#include <utility>

#include "analytics/network_util.h"
#include "analytics/tally_util.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/text.h"
#include "platform/net/http.h"
#include "platform/plist/property_list.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Dictionary;
using foundation::Value;

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// "http" or "https" in any case.
bool isWebScheme(std::string_view url) {
  std::string head = lowerAscii(url.substr(0, 8));
  return head.rfind("http://", 0) == 0 || head.rfind("https://", 0) == 0;
}

// The redirect's target against the URL it came from: absolute ("scheme:..."), host-relative
// ("//host/..."), path-absolute ("/...") or relative to the current folder. Nothing when the URL has no
// scheme and host to resolve against.
std::optional<std::string> resolveLocation(const std::string& base, std::string_view location) {
  size_t colon = location.find(':');
  size_t slash = location.find('/');
  if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash))
    return std::string(location);
  size_t schemeEnd = base.find("://");
  if (schemeEnd == std::string::npos) return std::nullopt;
  if (location.rfind("//", 0) == 0) return base.substr(0, schemeEnd + 1) + std::string(location);
  size_t pathStart = base.find('/', schemeEnd + 3);
  std::string origin = base.substr(0, pathStart);
  if (location.rfind("/", 0) == 0) return origin + std::string(location);
  std::string path = pathStart == std::string::npos ? "/" : base.substr(pathStart);
  path = path.substr(0, path.find_first_of("?#"));
  return origin + path.substr(0, path.rfind('/') + 1) + std::string(location);
}

Dictionary lowerCasedHeaders(const net::Headers& headers) {
  Dictionary out;
  for (const auto& [name, value] : headers) out.set(lowerAscii(name), Value(value));
  return out;
}

foundation::Error urlError(std::int64_t code, std::string description) {
  return foundation::Error::make(std::string(net::kURLErrorDomain), code, std::move(description));
}

}  // namespace

// ---- Responses

TallyHTTPResponse TallyHTTPResponse::initWithResponse(const net::HttpResponse* response, Bytes body,
                                                      std::optional<foundation::Error> error) {
  if (response == nullptr) {
    TallyHTTPResponse bare;
    bare.error = std::move(error);
    return bare;
  }
  return initWithBody(std::move(body), response->status, lowerCasedHeaders(response->headers),
                      std::move(error));
}

TallyHTTPResponse TallyHTTPResponse::initWithBody(Bytes body, std::int64_t statusCode,
                                                  const Dictionary& headers,
                                                  std::optional<foundation::Error> error) {
  TallyHTTPResponse made;
  made.body = std::move(body);
  made.statusCode = TallyUtil::int32FromNSInteger(statusCode);
  for (const auto& [name, value] : headers) made.headers.set(lowerAscii(name), value);
  made.error = std::move(error);
  return made;
}

std::string TallyHTTPResponse::description() const {
  std::string text(body.begin(), body.end());
  return foundation::text::format("status:%ld error:%@ body:%@",
                                  {statusCode, error ? Value(error->localizedDescription()) : Value("(null)"),
                                   foundation::text::isValidUtf8(text) ? Value(text) : Value("(null)")});
}

std::optional<std::filesystem::path> TallyHTTPResponse::filePath(std::int32_t seconds) {
  auto folder = TallyUtil::filePathDirectory();
  if (!folder) return std::nullopt;
  return *folder / ("tallyResponse" + std::to_string(seconds));
}

std::optional<std::filesystem::path> TallyHTTPResponse::saveToDisk() const {
  double now = TallyUtil::clock().now().unix();
  auto path = filePath(TallyUtil::int32FromNSInteger(static_cast<std::int64_t>(std::floor(now))));
  auto bytes = plist::writePropertyList(
      Value(
          Dictionary{{"statusCode", Value(statusCode)}, {"body", Value(body)}, {"headers", Value(headers)}}),
      plist::Format::Binary);
  if (!path || !bytes || !TallyUtil::writeSdkFile(*path, *bytes)) return std::nullopt;
  return path;
}

std::optional<TallyHTTPResponse> TallyHTTPResponse::readFromURL(const std::filesystem::path& path) {
  auto bytes = files::readFile(path);
  if (!bytes) return std::nullopt;
  auto value = plist::readPropertyList(*bytes);
  if (!value || !value->dictionary()) return std::nullopt;
  const Dictionary& saved = *value->dictionary();
  const Dictionary* headers = saved["headers"].dictionary();
  return initWithBody(saved["body"].data() ? *saved["body"].data() : Bytes{},
                      saved["statusCode"].toInteger().value_or(0), headers ? *headers : Dictionary{},
                      std::nullopt);
}

// ---- Tasks

TallyHttpAsyncTask::TallyHttpAsyncTask(Request request, Delegate delegate)
    : request_(std::move(request)), delegate_(std::move(delegate)) {}

TallyHttpAsyncTask::~TallyHttpAsyncTask() = default;

std::shared_ptr<TallyHttpAsyncTask> TallyHttpAsyncTask::get(std::string_view url, Delegate delegate,
                                                            const Dictionary& headerFields) {
  return sendMethod("GET", url, {}, headerFields, std::move(delegate));
}

std::shared_ptr<TallyHttpAsyncTask> TallyHttpAsyncTask::post(std::string_view url, const Bytes& body,
                                                             Delegate delegate,
                                                             const Dictionary& headerFields) {
  return sendMethod("POST", url, body, headerFields, std::move(delegate));
}

std::shared_ptr<TallyHttpAsyncTask> TallyHttpAsyncTask::sendMethod(std::string_view method,
                                                                   std::string_view url, const Bytes& body,
                                                                   const Dictionary& headerFields,
                                                                   Delegate delegate, bool startImmediately) {
  return sendMethod(method, url, body, headerFields, kTallyDefaultTimeoutSeconds, kTallyDefaultCachePolicy,
                    std::move(delegate), startImmediately);
}

std::shared_ptr<TallyHttpAsyncTask> TallyHttpAsyncTask::sendMethod(std::string_view method,
                                                                   std::string_view url, const Bytes& body,
                                                                   const Dictionary& headerFields,
                                                                   int timeoutSeconds, int cachePolicy,
                                                                   Delegate delegate, bool startImmediately) {
  Request request{std::string(method), std::string(url), headerFields, body, timeoutSeconds, cachePolicy};
  auto task = std::make_shared<TallyHttpAsyncTask>(std::move(request), std::move(delegate));
  if (startImmediately) task->startInRunLoop(runtime::RunLoop::main());
  return task;
}

std::string TallyHttpAsyncTask::queryDictionaryToString(const Dictionary& query) {
  std::string text;
  for (const auto& [key, value] : query) {
    if (!text.empty()) text += '&';
    text += foundation::text::format("%@=%@", {key, value});
  }
  return text;
}

Dictionary TallyHttpAsyncTask::stringToQueryDictionary(std::string_view text) {
  Dictionary query;
  while (!text.empty()) {
    size_t amp = text.find('&');
    std::string_view piece = text.substr(0, amp);
    size_t eq = piece.find('=');
    if (eq == std::string_view::npos) {
      if (!piece.empty()) query.set(std::string(piece), Value(""));
    } else {
      std::string_view value = piece.substr(eq + 1);
      query.set(std::string(piece.substr(0, eq)), Value(value.substr(0, value.find('='))));
    }
    if (amp == std::string_view::npos) break;
    text.remove_prefix(amp + 1);
  }
  return query;
}

std::string TallyHttpAsyncTask::urlWithProtocol(std::optional<std::string_view> protocol,
                                                std::optional<std::string_view> host, int port,
                                                std::optional<std::string_view> path, const Value& query) {
  std::string url = std::string(protocol.value_or("http")) + "://";
  if (host) url += *host;
  if (port != 0 && port != 80) url += ":" + std::to_string(port);
  if (path) url += "/" + std::string(*path);
  if (const Dictionary* entries = query.dictionary()) {
    url += "?" + queryDictionaryToString(*entries);
  } else if (!query.isNull()) {
    url += "?" + query.stringOr(query.description());
  }
  return url;
}

std::string TallyHttpAsyncTask::tag() const {
  std::lock_guard lock(mutex_);
  return tag_;
}
void TallyHttpAsyncTask::setTag(std::string tag) {
  std::lock_guard lock(mutex_);
  tag_ = std::move(tag);
}
Dictionary TallyHttpAsyncTask::taskParams() const {
  std::lock_guard lock(mutex_);
  return taskParams_;
}
void TallyHttpAsyncTask::setTaskParam(std::string key, Value value) {
  std::lock_guard lock(mutex_);
  taskParams_.set(std::move(key), std::move(value));
}

bool TallyHttpAsyncTask::isDone() const { return done_; }

void TallyHttpAsyncTask::startInRunLoop(runtime::RunLoop& loop) {
  if (connection_ || done_) return;
  loop_ = &loop;
  loopHandle_ = loop.handle();
  keepAlive_ = shared_from_this();
  startConnection();
}

void TallyHttpAsyncTask::startConnection() {
  if (!isWebScheme(request_.url)) {
    // Told on the loop, as a connection's failure would be, never inside the caller's start.
    std::weak_ptr<TallyHttpAsyncTask> weak = weak_from_this();
    std::string url = request_.url;
    loopHandle_.performSoon([weak, url] {
      if (auto self = weak.lock(); self && !self->done_) {
        self->finished(urlError(net::kURLErrorUnsupportedURL, "only http and https are spoken: " + url));
      }
    });
    return;
  }
  net::HttpRequest request;
  request.method = request_.method;
  request.url = request_.url;
  for (const auto& [name, value] : request_.headers)
    request.headers.emplace_back(name, value.stringOr(value.description()));
  request.body.assign(request_.body.begin(), request_.body.end());
  request.timeoutSeconds = request_.timeoutSeconds;
  // Redirects are followed here, so that http ones are allowed too and other schemes refused.
  request.followRedirects = false;
  request.maxBodyInMemory = kTallyMaxReplyBytes;

  std::weak_ptr<TallyHttpAsyncTask> weak = weak_from_this();
  net::HttpCallbacks callbacks;
  callbacks.response = [weak](const net::HttpResponse& response) {
    auto self = weak.lock();
    if (!self) return;
    TallyUtil::log(2, "Tally: HTTP connection delegate received response[%@]",
                   {foundation::text::format("%ld %@", {response.status, self->request_.url})});
    self->lastHeaders_ = TallyHTTPResponse::initWithResponse(&response, {}, std::nullopt);
  };
  callbacks.completion = [weak](foundation::Result<net::HttpResponse> result) {
    if (auto self = weak.lock()) self->finished(std::move(result));
  };
  connection_ = net::HttpConnection::start(std::move(request), std::move(callbacks), *loop_);
}

void TallyHttpAsyncTask::cancelTask() {
  if (done_) return;
  if (connection_) connection_->cancel();
  finish([] {});
}

template <class Tell>
void TallyHttpAsyncTask::finish(Tell&& tell) {
  done_ = true;
  auto self = std::move(keepAlive_);
  // The connection may be the one whose callback is running: it goes once the callback is over.
  if (connection_) {
    std::shared_ptr<net::HttpConnection> ending(std::move(connection_));
    loopHandle_.performSoon([ending] {});
  }
  tell();
}

void TallyHttpAsyncTask::finished(foundation::Result<net::HttpResponse> result) {
  if (!result) {
    foundation::Error error = result.error();
    TallyNetworkUtil::setLastNetworkOperationError(error);
    std::optional<TallyHTTPResponse> partial = lastHeaders_;
    finish([&] {
      TallyHTTPResponse response = partial ? *partial : TallyHTTPResponse{};
      response.error = error;
      if (delegate_) delegate_->requestDidFail(*this, response);
    });
    return;
  }
  const net::HttpResponse& reply = *result;
  if (reply.truncated) {
    finished(urlError(net::kURLErrorNetworkConnectionLost, "the reply ended before its announced length"));
    return;
  }
  if (reply.status >= 300 && reply.status < 400 && reply.status != 304) {
    if (auto location = reply.header("Location")) {
      if (++redirects_ > kTallyMaxRedirects) {
        finished(urlError(net::kURLErrorHTTPTooManyRedirects, "too many redirects"));
        return;
      }
      auto target = resolveLocation(request_.url, *location);
      if (!target || !isWebScheme(*target)) {
        finished(urlError(net::kURLErrorUnsupportedURL, "a redirect may lead to http or https only"));
        return;
      }
      // 301, 302 and 303 would go on as a GET without the body: what answered then never saw the
      // request, and its answer must not read as the request's. Only 307 and 308 repeat it whole.
      bool repeatsWhole = reply.status == 307 || reply.status == 308;
      if (!repeatsWhole && request_.method != "GET" && request_.method != "HEAD") {
        finished(
            urlError(net::kURLErrorBadServerResponse, "a redirect would drop the request's method and body"));
        return;
      }
      TallyUtil::log(2, "Tally: HTTP redirect to %@", {*target});
      request_.url = *target;
      lastHeaders_.reset();
      if (connection_) {
        std::shared_ptr<net::HttpConnection> ending(std::move(connection_));
        loopHandle_.performSoon([ending] {});
      }
      startConnection();
      return;
    }
  }
  TallyHTTPResponse response =
      TallyHTTPResponse::initWithResponse(&reply, Bytes(reply.body.begin(), reply.body.end()), std::nullopt);
  bool success = reply.status >= 200 && reply.status <= 299;
  if (success) {
    TallyNetworkUtil::setLastNetworkOperationError(std::nullopt);
  } else {
    TallyNetworkUtil::setLastNetworkOperationError(
        foundation::Error(std::string(kTallyFailedToLoadUrlDomain), kTallyFailedToLoadUrlCode));
  }
  finish([&] {
    if (!delegate_) return;
    if (success) {
      delegate_->requestSuccessful(*this, response);
    } else {
      delegate_->requestDidFail(*this, response);
    }
  });
}

}  // namespace analytics
