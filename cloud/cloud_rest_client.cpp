#include "cloud/cloud_rest_client.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cloud/cloud_log.h"
#include "cloud/oauth_escaping.h"
#include "cloud/oauth_parameter.h"
#include "cloud/oauth_request.h"
#include "cloud/oauth_signature.h"
#include "platform/foundation/text.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/user_defaults.h"

namespace cloud {
namespace {

using foundation::Dictionary;
using foundation::Error;
using foundation::Value;
using Delegate = CloudRestClientDelegate;

constexpr double kTimeoutSeconds = 20.0;
constexpr std::int64_t kChunkSize = 2097152;

std::string s(std::string_view text) { return std::string(text); }

// The user information's text under a key ("" when absent).
std::string info(const CloudRequest& request, std::string_view key) {
  return request.userInfo()[key].stringOr("");
}

// A path joined with a name as a path component ("/a" and "b" give "/a/b"; "/" and "b" give "/b").
std::string joinPath(const std::string& folder, const std::string& name) {
  std::string joined = folder;
  while (joined.size() > 1 && joined.back() == '/') joined.pop_back();
  if (joined.empty() || joined.back() != '/') joined += '/';
  return joined + name;
}

Error clientError(std::int64_t code, Dictionary userInfo) {
  return Error(s(kCloudErrorDomain), code, std::move(userInfo));
}

std::optional<CloudMetadataPtr> metadataOf(const std::optional<Value>& json) {
  if (!json || !json->dictionary()) return std::nullopt;
  CloudMetadataPtr made = CloudMetadata::withDictionary(*json->dictionary());
  if (!made) return std::nullopt;
  return made;
}

}  // namespace

// --- creation and bookkeeping ----------------------------------------------------------------------

CloudRestClient::CloudRestClient(std::shared_ptr<CloudSession> session, std::optional<std::string> userId,
                                 runtime::RunLoop& loop)
    : session_(std::move(session)), userId_(std::move(userId)), root_(session_->root()), loop_(loop) {}

std::unique_ptr<CloudRestClient> CloudRestClient::make(std::shared_ptr<CloudSession> session,
                                                       std::optional<std::string> userId,
                                                       runtime::RunLoop& loop) {
  if (!session) {
    CloudLogError("CloudSDK: cannot initialize a CloudRestClient with a nil session");
    return nullptr;
  }
  return std::unique_ptr<CloudRestClient>(new CloudRestClient(std::move(session), std::move(userId), loop));
}

std::unique_ptr<CloudRestClient> CloudRestClient::make(std::shared_ptr<CloudSession> session,
                                                       runtime::RunLoop& loop) {
  std::optional<std::string> first;
  if (session && !session->userIds().empty()) first = session->userIds().front();
  return make(std::move(session), std::move(first), loop);
}

CloudRestClient::~CloudRestClient() {
  cancelAllRequests();
  alive_.reset();
  // Finishes parsing already queued; its results find the client gone and are dropped.
  parseQueue_.reset();
}

CloudSession::StorePtr CloudRestClient::credentialStore() const {
  return session_->credentialStoreForUserId(userId_ ? std::optional<std::string_view>(*userId_)
                                                    : std::nullopt);
}

size_t CloudRestClient::requestCount() const {
  return requests_.size() + loadRequests_.size() + imageLoadRequests_.size() + uploadRequests_.size();
}

void CloudRestClient::cancelAllRequests() {
  ++generation_;
  for (auto& request : std::exchange(requests_, {})) request->cancel();
  for (auto* table : {&loadRequests_, &imageLoadRequests_, &uploadRequests_}) {
    for (auto& [key, request] : std::exchange(*table, {})) request->cancel();
  }
}

void CloudRestClient::cancelFileLoad(const std::string& path) {
  if (auto node = loadRequests_.extract(path)) node.mapped()->cancel();
}

void CloudRestClient::cancelThumbnailLoad(const std::string& path, const std::string& size) {
  if (auto node = imageLoadRequests_.extract(path + "##" + size)) node.mapped()->cancel();
}

void CloudRestClient::cancelFileUpload(const std::string& path) {
  if (auto node = uploadRequests_.extract(path)) node.mapped()->cancel();
}

std::map<std::string, CloudRestClient::RequestPtr>* CloudRestClient::tableFor(Table table) {
  switch (table) {
    case Table::Loads:
      return &loadRequests_;
    case Table::Thumbnails:
      return &imageLoadRequests_;
    case Table::Uploads:
      return &uploadRequests_;
    case Table::Requests:
      return nullptr;
  }
  return nullptr;
}

void CloudRestClient::send(const std::string& host, const std::string& path, const Dictionary& params,
                           std::string_view method, Fail failure, Dictionary userInfo,
                           Completion completion) {
  if (auto request = signedRequest(host, path, params, method, failure))
    start(std::move(*request), {.userInfo = std::move(userInfo)}, completion);
}

CloudRestClient::RequestPtr CloudRestClient::start(net::HttpRequest request, CloudRequest::Options options,
                                                   Completion completion, Table table,
                                                   const std::string& key) {
  options.completion = [this, completion](CloudRequest& r) { (this->*completion)(r); };
  if (auto* keyed = tableFor(table)) {
    // The older request of the same path stops and hears why, rather than losing its callbacks
    // to the newer one.
    if (auto node = keyed->extract(key)) {
      node.mapped()->cancel();
      Fail failure = table == Table::Loads        ? &Delegate::restClientLoadFileFailedWithError
                     : table == Table::Thumbnails ? &Delegate::restClientLoadThumbnailFailedWithError
                                                  : &Delegate::restClientUploadFileFailedWithError;
      failSoon(failure, Error(s(net::kURLErrorDomain), net::kURLErrorCancelled, node.mapped()->userInfo()));
    }
  }
  auto made = std::make_shared<CloudRequest>(std::move(request), std::move(options), loop_);
  if (auto* keyed = tableFor(table)) {
    (*keyed)[key] = made;
  } else {
    requests_.push_back(made);
  }
  return made;
}

CloudRestClient::RequestPtr CloudRestClient::take(CloudRequest& request, Table table,
                                                  const std::string& key) {
  if (auto* keyed = tableFor(table)) {
    auto it = keyed->find(key);
    if (it == keyed->end() || it->second.get() != &request) return nullptr;
    RequestPtr taken = std::move(it->second);
    keyed->erase(it);
    return taken;
  }
  auto it = std::find_if(requests_.begin(), requests_.end(),
                         [&](const RequestPtr& r) { return r.get() == &request; });
  if (it == requests_.end()) return nullptr;
  RequestPtr taken = std::move(*it);
  requests_.erase(it);
  return taken;
}

void CloudRestClient::fail(Fail callback, const Error& error) {
  offer([&](Delegate& d) { (d.*callback)(*this, error); });
}

void CloudRestClient::failSoon(Fail callback, Error error) {
  std::weak_ptr<int> alive = alive_;
  loop_.performSoon([this, alive, callback, error = std::move(error)] {
    if (!alive.expired()) fail(callback, error);
  });
}

void CloudRestClient::checkForAuthenticationFailure(const CloudRequest& request) {
  const auto& error = request.error();
  if (!error || error->domain != kCloudErrorDomain || error->code != 401) return;
  if (CloudSessionDelegate* sessionDelegate = session_->delegate())
    sessionDelegate->sessionDidReceiveAuthorizationFailureUserId(*session_, userId_.value_or(""));
}

// --- building requests -----------------------------------------------------------------------------

std::string CloudRestClient::escapePath(std::string_view path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '/') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

std::string CloudRestClient::normalizedCloudPath(std::string_view path) {
  if (path == "/") return "";
  return foundation::text::toLower(foundation::text::toNFC(path));
}

bool CloudRestClient::isEqualToCloudPath(std::string_view a, std::string_view b) {
  return normalizedCloudPath(a) == normalizedCloudPath(b);
}

foundation::Dictionary CloudRestClient::dictionaryWithQueryString(std::string_view query) {
  Dictionary result;
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view piece = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    size_t eq = piece.find('=');
    auto name = stringByReplacingPercentEscapes(piece.substr(0, eq));
    auto value = eq == std::string_view::npos ? foundation::Result<std::string>(std::string())
                                              : stringByReplacingPercentEscapes(piece.substr(eq + 1));
    if (name.ok() && value.ok()) result.set(*name, *value);
  }
  return result;
}

std::string CloudRestClient::urlRepresentation(const foundation::Dictionary& dictionary) {
  std::string out;
  for (const auto& [name, value] : dictionary) {
    if (!out.empty()) out += '&';
    const std::string text = value.string() ? *value.string() : value.description();
    out += stringByAddingURIPercentEscapesUsingEncoding(name) + "=" +
           stringByAddingURIPercentEscapesUsingEncoding(text);
  }
  return out;
}

std::string CloudRestClient::bestLanguage() {
  static const std::string language = [] {
    std::vector<std::string> preferred = runtime::systemPreferredLanguages();
    auto bundle = runtime::Bundle::main();
    if (!preferred.empty() && bundle && bundle->hasLocalization(preferred.front())) return preferred.front();
    return std::string("en");
  }();
  return language;
}

std::string CloudRestClient::userAgent() {
  static const std::string agent = [] {
    auto bundle = runtime::Bundle::main();
    std::string name = bundle ? bundle->objectForInfoDictionaryKey("CFBundleDisplayName").stringOr("") : "";
    std::erase(name, ' ');
    std::string version =
        bundle ? bundle->objectForInfoDictionaryKey("CFBundleShortVersionString").stringOr("") : "";
    return name + "/" + version + " OfficialCloudIosSdk/" + std::string(kSDKVersion);
  }();
  return agent;
}

namespace {

// The signed request in the network layer's form, with the client's time-out and agent.
net::HttpRequest toNet(HttpRequest signed_) {
  net::HttpRequest r;
  r.method = std::move(signed_.method);
  r.url = std::move(signed_.url);
  r.headers = std::move(signed_.headers);
  r.body = std::move(signed_.body);
  r.timeoutSeconds = kTimeoutSeconds;
  r.headers.emplace_back("User-Agent", CloudRestClient::userAgent());
  return r;
}

}  // namespace

std::optional<net::HttpRequest> CloudRestClient::signedRequest(const std::string& host,
                                                               const std::string& path,
                                                               const Dictionary& params,
                                                               std::string_view method, Fail failure,
                                                               bool withLocale) {
  auto store = credentialStore();
  if (!store) {
    // The user was unlinked meanwhile: nothing goes out unsigned or signed by someone else.
    failSoon(failure, clientError(401, Dictionary{{"error", "no credentials for the user"}}));
    return std::nullopt;
  }
  std::string url = "https://" + host + "/" + std::string(kAPIVersion) + escapePath(path);
  Dictionary all;
  if (withLocale) all.set("locale", bestLanguage());
  for (const auto& [name, value] : params) all.set(name, value);
  std::vector<OAuthURLRequestParameter> list = store->oauthParameters();
  for (auto& p : OAuthURLRequestParameter::parametersFromDictionary(all)) list.push_back(std::move(p));
  OAuthURLRequest request(url, std::move(list));
  request.HTTPMethod = std::string(method);
  auto signed_ = request.urlRequestSignedWithSecretUsingMethod(store->signingKey(),
                                                               store->signatureMethod().value_or(""));
  if (!signed_.ok()) {
    failSoon(failure, signed_.error());
    return std::nullopt;
  }
  return toNet(std::move(*signed_));
}

// --- metadata and delta ----------------------------------------------------------------------------

void CloudRestClient::loadMetadata(const std::string& path) { loadMetadataWithHash(path, std::nullopt); }

void CloudRestClient::loadMetadataWithHash(const std::string& path, const std::optional<std::string>& hash) {
  Dictionary params;
  if (hash) params.set("hash", *hash);
  auto request = signedRequest(CloudService::current().apiHost, "/metadata/" + root() + path, params, "GET",
                               &Delegate::restClientLoadMetadataFailedWithError);
  if (!request) return;
  Dictionary userInfo = params;
  userInfo.set("path", path);
  start(std::move(*request), {.userInfo = std::move(userInfo)}, &CloudRestClient::completeMetadata);
}

void CloudRestClient::loadMetadataAtRev(const std::string& path, const std::optional<std::string>& rev) {
  Dictionary params;
  if (rev) params.set("rev", *rev);
  auto request = signedRequest(CloudService::current().apiHost, "/metadata/" + root() + path, params, "GET",
                               &Delegate::restClientLoadMetadataFailedWithError);
  if (!request) return;
  Dictionary userInfo = params;
  userInfo.set("path", path);
  start(std::move(*request), {.userInfo = std::move(userInfo)}, &CloudRestClient::completeMetadata);
}

void CloudRestClient::loadDelta(const std::optional<std::string>& cursor) {
  Dictionary params;
  if (cursor) params.set("cursor", *cursor);
  auto request = signedRequest(CloudService::current().apiHost, "/delta", params, "POST",
                               &Delegate::restClientLoadDeltaFailedWithError);
  if (!request) return;
  start(std::move(*request), {.userInfo = params}, &CloudRestClient::completeDelta);
}

void CloudRestClient::completeMetadata(CloudRequest& request) {
  RequestPtr held = take(request, Table::Requests);
  if (!held) return;
  if (const auto& error = request.error()) {
    if (error->domain == kCloudErrorDomain && error->code == 304) {
      std::string path = info(request, "path");
      offer([&](Delegate& d) { d.restClientMetadataUnchangedAtPath(*this, path); });
      return;
    }
    checkForAuthenticationFailure(request);
    fail(&Delegate::restClientLoadMetadataFailedWithError, *error);
    return;
  }
  parseOnWorker(held, false);
}

void CloudRestClient::completeDelta(CloudRequest& request) {
  RequestPtr held = take(request, Table::Requests);
  if (!held) return;
  if (const auto& error = request.error()) {
    checkForAuthenticationFailure(request);
    fail(&Delegate::restClientLoadDeltaFailedWithError, *error);
    return;
  }
  parseOnWorker(held, true);
}

void CloudRestClient::parseOnWorker(const RequestPtr& request, bool delta) {
  if (!parseQueue_) parseQueue_ = std::make_unique<runtime::SerialQueue>("CloudRestClient.parse");
  std::weak_ptr<int> alive = alive_;
  const std::uint64_t generation = generation_;
  // The loop may go while the parse runs; its records are then dropped.
  runtime::LoopHandle loop = loop_.handle();
  parseQueue_->async([this, request, delta, alive, generation, loop] {
    // Built here, away from the requesting thread; only the finished records go back.
    struct Parsed {
      CloudMetadataPtr metadata;
      CloudDeltaEntryList entries;
      bool reset = false;
      std::string cursor;
      bool hasMore = false;
      std::optional<Error> error;
    };
    auto parsed = std::make_shared<Parsed>();
    auto json = request->parseResponseAsType(Value::Type::Dictionary);
    bool ok = json.has_value();
    if (ok && !delta) {
      parsed->metadata = CloudMetadata::withDictionary(*json->dictionary());
      ok = parsed->metadata != nullptr;
    } else if (ok) {
      const Dictionary& reply = *json->dictionary();
      const foundation::Array* entries = reply["entries"].array();
      ok = entries != nullptr;
      for (const Value& entry : entries ? *entries : foundation::Array{}) {
        auto made = entry.array() ? CloudDeltaEntry::withArray(*entry.array()) : nullptr;
        if (!made) {
          ok = false;
          break;
        }
        parsed->entries.push_back(std::move(made));
      }
      parsed->reset = reply["reset"].boolean() && *reply["reset"].boolean();
      parsed->cursor = reply["cursor"].stringOr("");
      parsed->hasMore = reply["has_more"].boolean() && *reply["has_more"].boolean();
    }
    if (!ok) {
      CloudLogWarning("CloudSDK: error parsing metadata");
      parsed->error = clientError(kCloudErrorInvalidResponse, request->userInfo());
    }
    loop.performSoon([this, alive, generation, parsed, delta] {
      if (alive.expired() || generation != generation_) return;
      if (parsed->error) {
        fail(delta ? &Delegate::restClientLoadDeltaFailedWithError
                   : &Delegate::restClientLoadMetadataFailedWithError,
             *parsed->error);
      } else if (delta) {
        offer([&](Delegate& d) {
          d.restClientLoadedDeltaEntriesResetCursorHasMore(*this, parsed->entries, parsed->reset,
                                                           parsed->cursor, parsed->hasMore);
        });
      } else {
        offer([&](Delegate& d) { d.restClientLoadedMetadata(*this, parsed->metadata); });
      }
    });
  });
}

// --- files and thumbnails --------------------------------------------------------------------------

void CloudRestClient::loadFileIntoPath(const std::string& path, const std::string& destinationPath) {
  loadFileAtRevIntoPath(path, std::nullopt, destinationPath);
}

void CloudRestClient::loadFileAtRevIntoPath(const std::string& path, const std::optional<std::string>& rev,
                                            const std::string& destinationPath) {
  Dictionary params;
  if (rev) params.set("rev", *rev);
  auto request = signedRequest(CloudService::current().contentHost, "/files/" + root() + path, params, "GET",
                               &Delegate::restClientLoadFileFailedWithError);
  if (!request) return;
  Dictionary userInfo{{"path", path}, {"destinationPath", destinationPath}};
  if (rev) userInfo.set("rev", *rev);
  CloudRequest::Options options{.resultFilename = destinationPath, .userInfo = std::move(userInfo)};
  options.downloadProgress = [this](CloudRequest& r) {
    std::string destination = info(r, "destinationPath");
    offer([&](Delegate& d) { d.restClientLoadProgressForFile(*this, r.downloadProgress(), destination); });
  };
  start(std::move(*request), std::move(options), &CloudRestClient::completeLoadFile, Table::Loads, path);
}

void CloudRestClient::completeLoadFile(CloudRequest& request) {
  RequestPtr held = take(request, Table::Loads, info(request, "path"));
  if (!held) return;
  if (const auto& error = request.error()) {
    checkForAuthenticationFailure(request);
    fail(&Delegate::restClientLoadFileFailedWithError, *error);
    return;
  }
  const std::string destination = info(request, "destinationPath");
  const std::string contentType = request.response()->header("Content-Type").value_or("");
  CloudMetadataPtr metadata =
      request.xCloudMetadataJSON() ? CloudMetadata::withDictionary(*request.xCloudMetadataJSON()) : nullptr;
  const std::string eTag = request.response()->header("Etag").value_or("");
  offer([&](Delegate& d) { d.restClientLoadedFile(*this, destination); }) || offer([&](Delegate& d) {
    d.restClientLoadedFileContentTypeMetadata(*this, destination, contentType, metadata);
  }) ||
      offer([&](Delegate& d) { d.restClientLoadedFileContentType(*this, destination, contentType); }) ||
      offer(
          [&](Delegate& d) { d.restClientLoadedFileContentTypeETag(*this, destination, contentType, eTag); });
}

void CloudRestClient::loadThumbnailOfSizeIntoPath(const std::string& path,
                                                  const std::optional<std::string>& size,
                                                  const std::string& destinationPath) {
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const bool png = upper.size() >= 5 && (upper.ends_with(".PNG") || upper.ends_with(".GIF"));
  Dictionary params{{"format", png ? "PNG" : "JPEG"}};
  if (size) params.set("size", *size);
  auto request = signedRequest(CloudService::current().contentHost, "/thumbnails/" + root() + path, params,
                               "GET", &Delegate::restClientLoadThumbnailFailedWithError);
  if (!request) return;
  const std::string key = path + "##" + size.value_or("");
  Dictionary userInfo{{"path", path}, {"destinationPath", destinationPath}, {"key", key}};
  start(std::move(*request), {.resultFilename = destinationPath, .userInfo = std::move(userInfo)},
        &CloudRestClient::completeThumbnail, Table::Thumbnails, key);
}

void CloudRestClient::completeThumbnail(CloudRequest& request) {
  RequestPtr held = take(request, Table::Thumbnails, info(request, "key"));
  if (!held) return;
  if (const auto& error = request.error()) {
    checkForAuthenticationFailure(request);
    fail(&Delegate::restClientLoadThumbnailFailedWithError, *error);
    return;
  }
  const std::string destination = info(request, "destinationPath");
  CloudMetadataPtr metadata =
      request.xCloudMetadataJSON() ? CloudMetadata::withDictionary(*request.xCloudMetadataJSON()) : nullptr;
  offer([&](Delegate& d) { d.restClientLoadedThumbnailMetadata(*this, destination, metadata); }) ||
      offer([&](Delegate& d) { d.restClientLoadedThumbnail(*this, destination); });
}

// --- uploads ---------------------------------------------------------------------------------------

void CloudRestClient::uploadFileToPathWithParentRevFromPath(const std::string& filename,
                                                            const std::string& path,
                                                            const std::optional<std::string>& parentRev,
                                                            const std::string& sourcePath) {
  Dictionary params{{"overwrite", "false"}};
  if (parentRev) params.set("parent_rev", *parentRev);
  uploadFile(filename, path, sourcePath, params);
}

void CloudRestClient::uploadFileToPathFromPath(const std::string& filename, const std::string& path,
                                               const std::string& sourcePath) {
  uploadFile(filename, path, sourcePath, Dictionary{});
}

void CloudRestClient::uploadFile(const std::string& filename, const std::string& path,
                                 const std::string& sourcePath, const Dictionary& params) {
  const std::string destination = joinPath(path, filename);
  Dictionary userInfo{{"sourcePath", sourcePath}, {"destinationPath", destination}};
  struct stat st {};
  const bool readable = ::stat(sourcePath.c_str(), &st) == 0 && ::access(sourcePath.c_str(), R_OK) == 0;
  if (!readable || S_ISDIR(st.st_mode)) {
    const bool folder = readable && S_ISDIR(st.st_mode);
    CloudLogWarning("CloudSDK: %@ (%@)", folder ? "Unable to upload folders" : "File does not exist",
                    sourcePath);
    fail(&Delegate::restClientUploadFileFailedWithError,
         clientError(folder ? kCloudErrorFolderUpload : kCloudErrorFileNotFound, std::move(userInfo)));
    return;
  }
  const std::string url = "https://" + CloudService::current().contentHost + "/" + std::string(kAPIVersion) +
                          "/files_put/" + root() + escapePath(destination);
  auto request = signedUploadRequest(url, params, &Delegate::restClientUploadFileFailedWithError);
  if (!request) return;
  CloudRequest::Options options{.userInfo = std::move(userInfo), .sourcePath = sourcePath};
  options.uploadProgress = [this](CloudRequest& r) {
    std::string to = info(r, "destinationPath");
    std::string from = info(r, "sourcePath");
    offer([&](Delegate& d) { d.restClientUploadProgressForFileFrom(*this, r.uploadProgress(), to, from); });
  };
  start(std::move(*request), std::move(options), &CloudRestClient::completeUpload, Table::Uploads,
        destination);
}

std::optional<net::HttpRequest> CloudRestClient::signedUploadRequest(const std::string& url,
                                                                     const Dictionary& params, Fail failure) {
  auto store = credentialStore();
  if (!store) {
    failSoon(failure, clientError(401, Dictionary{{"error", "no credentials for the user"}}));
    return std::nullopt;
  }
  std::vector<OAuthURLRequestParameter> list = store->oauthParameters();
  for (auto& p : OAuthURLRequestParameter::parametersFromDictionary(params)) list.push_back(std::move(p));
  std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.compare(b) < 0; });
  const std::string text = OAuthURLRequestParameter::parameterStringForParameters(list);
  OAuthURLRequest signing(url, list);
  signing.HTTPMethod = "POST";
  auto signature = OAuthSignatureParameter::withTextAndSecretForRequestUsingMethod(
      text, store->signingKey(), signing, store->signatureMethod().value_or(""));
  if (!signature.ok()) {
    failSoon(failure, signature.error());
    return std::nullopt;
  }
  net::HttpRequest request;
  request.method = "POST";
  request.url = url + "?" + text + "&" + signature->URLEncodedParameterString();
  request.timeoutSeconds = kTimeoutSeconds;
  request.headers = {{"Content-Type", "application/octet-stream"}, {"User-Agent", userAgent()}};
  return request;
}

void CloudRestClient::completeUpload(CloudRequest& request) {
  RequestPtr held = take(request, Table::Uploads, info(request, "destinationPath"));
  if (!held) return;
  auto metadata = metadataOf(request.parseResponseAsType(Value::Type::Dictionary));
  if (!metadata) {
    if (!request.error()) request.setError(clientError(kCloudErrorInvalidResponse, request.userInfo()));
    checkForAuthenticationFailure(request);
    fail(&Delegate::restClientUploadFileFailedWithError, *request.error());
    return;
  }
  const std::string to = info(request, "destinationPath");
  const std::string from = info(request, "sourcePath");
  offer([&](Delegate& d) { d.restClientUploadedFileFromMetadata(*this, to, from, *metadata); }) ||
      offer([&](Delegate& d) { d.restClientUploadedFileFrom(*this, to, from); });
}

void CloudRestClient::uploadFileChunkOffsetFromPath(const std::optional<std::string>& uploadId,
                                                    std::uint64_t offset, const std::string& localPath) {
  std::string chunk;
  int fd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Dictionary userInfo{{"fromPath", localPath}, {"offset", static_cast<std::int64_t>(offset)}};
    if (uploadId) userInfo.set("upload_id", *uploadId);
    bool told = offer([&](Delegate& d) {
      d.restClientUploadFileChunkFailedWithError(*this, clientError(kCloudErrorFileNotFound, userInfo));
    });
    if (!told)
      CloudLogWarning(
          "CloudSDK: unable to read file in -[CloudRestClient uploadFileChunk:offset:fromPath:] "
          "(fromPath=%@)",
          localPath);
    return;
  }
  chunk.resize(kChunkSize);
  ssize_t n = ::pread(fd, chunk.data(), chunk.size(), static_cast<off_t>(offset));
  ::close(fd);
  chunk.resize(n > 0 ? static_cast<size_t>(n) : 0);
  if (chunk.empty()) CloudLogWarning("CloudSDK: did not read any data from file (fromPath=%@)", localPath);

  Dictionary params{{"offset", std::to_string(offset)}};
  if (uploadId) params.set("upload_id", *uploadId);
  const std::string url =
      "https://" + CloudService::current().contentHost + "/" + std::string(kAPIVersion) + "/chunked_upload";
  auto request = signedUploadRequest(url, params, &Delegate::restClientUploadFileChunkFailedWithError);
  if (!request) return;
  request->body = std::move(chunk);
  Dictionary userInfo{{"fromPath", localPath}, {"offset", static_cast<std::int64_t>(offset)}};
  if (uploadId) userInfo.set("upload_id", *uploadId);
  CloudRequest::Options options{.userInfo = std::move(userInfo)};
  options.uploadProgress = [this](CloudRequest& r) {
    std::string id = info(r, "upload_id");
    std::int64_t at = r.userInfo()["offset"].toInteger().value_or(0);
    std::string from = info(r, "fromPath");
    offer([&](Delegate& d) {
      d.restClientUploadFileChunkProgressForFileOffsetFromPath(*this, r.uploadProgress(), id, at, from);
    });
  };
  start(std::move(*request), std::move(options), &CloudRestClient::completeChunk);
}

void CloudRestClient::completeChunk(CloudRequest& request) {
  RequestPtr held = take(request, Table::Requests);
  if (!held) return;
  auto json = request.parseResponseAsType(Value::Type::Dictionary);
  const Dictionary* reply = json ? json->dictionary() : nullptr;
  if (!reply) {
    fail(&Delegate::restClientUploadFileChunkFailedWithError, *request.error());
    return;
  }
  std::string id = (*reply)["upload_id"].stringOr("");
  std::int64_t offset = (*reply)["offset"].toInteger().value_or(0);
  std::optional<foundation::Date> expires;
  if (const std::string* text = (*reply)["expires"].string())
    expires = CloudMetadata::dateFormatter().dateFromString(*text);
  std::string from = info(request, "fromPath");
  offer([&](Delegate& d) {
    d.restClientUploadedFileChunkNewOffsetFromFileExpires(*this, id, offset, from, expires);
  });
}

void CloudRestClient::uploadFileToPathWithParentRevFromUploadId(const std::string& filename,
                                                                const std::string& path,
                                                                const std::optional<std::string>& parentRev,
                                                                const std::string& uploadId) {
  std::string destination = path.ends_with('/') ? path + filename : path + "/" + filename;
  Dictionary params{{"upload_id", uploadId}, {"overwrite", "false"}};
  if (parentRev) params.set("parent_rev", *parentRev);
  auto request =
      signedRequest(CloudService::current().contentHost, "/commit_chunked_upload/" + root() + destination,
                    params, "POST", &Delegate::restClientUploadFromUploadIdFailedWithError);
  if (!request) return;
  Dictionary userInfo = params;
  userInfo.set("destinationPath", destination);
  start(std::move(*request), {.userInfo = std::move(userInfo)}, &CloudRestClient::completeCommit);
}

void CloudRestClient::completeCommit(CloudRequest& request) {
  finishWithMetadata(request, &Delegate::restClientUploadFromUploadIdFailedWithError, false,
                     [&](Delegate& d, const CloudMetadataPtr& m) {
                       d.restClientUploadedFileFromUploadIdMetadata(*this, info(request, "destinationPath"),
                                                                    info(request, "upload_id"), m);
                     });
}

// --- revisions, restore and file operations --------------------------------------------------------

void CloudRestClient::loadRevisionsForFile(const std::string& path) { loadRevisionsForFileLimit(path, 10); }

void CloudRestClient::loadRevisionsForFileLimit(const std::string& path, long limit) {
  Dictionary params{{"rev_limit", std::to_string(limit)}};
  auto request = signedRequest(CloudService::current().apiHost, "/revisions/" + root() + path, params, "GET",
                               &Delegate::restClientLoadRevisionsFailedWithError);
  if (!request) return;
  Dictionary userInfo = params;
  userInfo.set("path", path);
  start(std::move(*request), {.userInfo = std::move(userInfo)}, &CloudRestClient::completeRevisions);
}

void CloudRestClient::completeRevisions(CloudRequest& request) {
  RequestPtr held = take(request, Table::Requests);
  if (!held) return;
  auto json = request.parseResponseAsType(Value::Type::Array);
  std::optional<CloudMetadataList> revisions;
  if (json) {
    revisions.emplace();
    for (const Value& element : *json->array()) {
      auto made = metadataOf(element);
      if (!made) {
        revisions.reset();
        request.setError(clientError(kCloudErrorInvalidResponse, request.userInfo()));
        break;
      }
      revisions->push_back(*made);
    }
  }
  if (!revisions) {
    fail(&Delegate::restClientLoadRevisionsFailedWithError, *request.error());
    return;
  }
  std::string path = info(request, "path");
  offer([&](Delegate& d) { d.restClientLoadedRevisionsForFile(*this, *revisions, path); });
}

void CloudRestClient::restoreFileToRev(const std::string& path, const std::string& rev) {
  Dictionary params{{"rev", rev}};
  auto request = signedRequest(CloudService::current().apiHost, "/restore/" + root() + path, params, "GET",
                               &Delegate::restClientRestoreFileFailedWithError);
  if (!request) return;
  Dictionary userInfo = params;
  userInfo.set("path", path);
  start(std::move(*request), {.userInfo = std::move(userInfo)}, &CloudRestClient::completeRestore);
}

void CloudRestClient::completeRestore(CloudRequest& request) {
  finishWithMetadata(request, &Delegate::restClientRestoreFileFailedWithError, false,
                     [&](Delegate& d, const CloudMetadataPtr& m) { d.restClientRestoredFile(*this, m); });
}

void CloudRestClient::finishWithMetadata(
    CloudRequest& request, Fail failure, bool reportsAuthorization,
    const std::function<void(CloudRestClientDelegate&, const CloudMetadataPtr&)>& success) {
  RequestPtr held = take(request, Table::Requests);
  if (!held) return;
  auto metadata = metadataOf(request.parseResponseAsType(Value::Type::Dictionary));
  if (!metadata) {
    // A reply of the right type whose values are of the wrong kind is no reply either.
    if (!request.error()) request.setError(clientError(kCloudErrorInvalidResponse, request.userInfo()));
    if (reportsAuthorization) checkForAuthenticationFailure(request);
    fail(failure, *request.error());
    return;
  }
  offer([&](Delegate& d) { success(d, *metadata); });
}

void CloudRestClient::finishWithDictionary(
    CloudRequest& request, Fail failure, const std::function<void(const foundation::Dictionary&)>& success) {
  RequestPtr held = take(request, Table::Requests);
  if (!held) return;
  auto json = request.parseResponseAsType(Value::Type::Dictionary);
  if (!json) {
    checkForAuthenticationFailure(request);
    fail(failure, *request.error());
    return;
  }
  success(*json->dictionary());
}

void CloudRestClient::moveFromToPath(const std::string& fromPath, const std::string& toPath) {
  Dictionary params{{"root", root()}, {"from_path", fromPath}, {"to_path", toPath}};
  send(CloudService::current().apiHost, "/fileops/move", params, "POST",
       &Delegate::restClientMovePathFailedWithError, params, &CloudRestClient::completeMove);
}

void CloudRestClient::completeMove(CloudRequest& request) {
  finishWithMetadata(request, &Delegate::restClientMovePathFailedWithError, true,
                     [&](Delegate& d, const CloudMetadataPtr& m) {
                       d.restClientMovedPathTo(*this, info(request, "from_path"), m);
                     });
}

void CloudRestClient::copyFromToPath(const std::string& fromPath, const std::string& toPath) {
  Dictionary params{{"root", root()}, {"from_path", fromPath}, {"to_path", toPath}};
  send(CloudService::current().apiHost, "/fileops/copy", params, "POST",
       &Delegate::restClientCopyPathFailedWithError, params, &CloudRestClient::completeCopy);
}

void CloudRestClient::completeCopy(CloudRequest& request) {
  finishWithMetadata(request, &Delegate::restClientCopyPathFailedWithError, true,
                     [&](Delegate& d, const CloudMetadataPtr& m) {
                       d.restClientCopiedPathTo(*this, info(request, "from_path"), m);
                     });
}

void CloudRestClient::createCopyRef(const std::string& path) {
  auto request = signedRequest(CloudService::current().apiHost, "/copy_ref/" + root() + path, Dictionary{},
                               "POST", &Delegate::restClientCreateCopyRefFailedWithError);
  if (request)
    start(std::move(*request), {.userInfo = Dictionary{{"path", path}}},
          &CloudRestClient::completeCreateCopyRef);
}

void CloudRestClient::completeCreateCopyRef(CloudRequest& request) {
  finishWithDictionary(request, &Delegate::restClientCreateCopyRefFailedWithError,
                       [&](const Dictionary& reply) {
                         std::string ref = reply["copy_ref"].stringOr("");
                         std::string path = info(request, "path");
                         offer([&](Delegate& d) { d.restClientCreatedCopyRefForPath(*this, ref, path); }) ||
                             offer([&](Delegate& d) { d.restClientCreatedCopyRef(*this, ref); });
                       });
}

void CloudRestClient::copyFromRefToPath(const std::string& copyRef, const std::string& toPath) {
  Dictionary params{{"from_copy_ref", copyRef}, {"root", root()}, {"to_path", toPath}};
  send(CloudService::current().apiHost, "/fileops/copy/", params, "POST",
       &Delegate::restClientCopyFromRefFailedWithError, params, &CloudRestClient::completeCopyFromRef);
}

void CloudRestClient::completeCopyFromRef(CloudRequest& request) {
  finishWithMetadata(request, &Delegate::restClientCopyFromRefFailedWithError, true,
                     [&](Delegate& d, const CloudMetadataPtr& m) {
                       d.restClientCopiedRefTo(*this, info(request, "from_copy_ref"), m);
                     });
}

void CloudRestClient::deletePath(const std::string& path) {
  Dictionary params{{"root", root()}, {"path", path}};
  send(CloudService::current().apiHost, "/fileops/delete", params, "POST",
       &Delegate::restClientDeletePathFailedWithError, params, &CloudRestClient::completeDelete);
}

void CloudRestClient::completeDelete(CloudRequest& request) {
  RequestPtr held = take(request, Table::Requests);
  if (!held) return;
  if (const auto& error = request.error()) {
    checkForAuthenticationFailure(request);
    fail(&Delegate::restClientDeletePathFailedWithError, *error);
    return;
  }
  std::string path = info(request, "path");
  offer([&](Delegate& d) { d.restClientDeletedPath(*this, path); });
}

void CloudRestClient::createFolder(const std::string& path) {
  Dictionary params{{"root", root()}, {"path", path}};
  send(CloudService::current().apiHost, "/fileops/create_folder", params, "POST",
       &Delegate::restClientCreateFolderFailedWithError, params, &CloudRestClient::completeCreateFolder);
}

void CloudRestClient::completeCreateFolder(CloudRequest& request) {
  finishWithMetadata(request, &Delegate::restClientCreateFolderFailedWithError, true,
                     [&](Delegate& d, const CloudMetadataPtr& m) { d.restClientCreatedFolder(*this, m); });
}

// --- account, search, links ------------------------------------------------------------------------

void CloudRestClient::loadAccountInfo() {
  auto request = signedRequest(CloudService::current().apiHost, "/account/info", Dictionary{}, "GET",
                               &Delegate::restClientLoadAccountInfoFailedWithError);
  if (request) start(std::move(*request), {}, &CloudRestClient::completeAccountInfo);
}

void CloudRestClient::completeAccountInfo(CloudRequest& request) {
  RequestPtr held = take(request, Table::Requests);
  if (!held) return;
  auto json = request.parseResponseAsType(Value::Type::Dictionary);
  std::shared_ptr<const CloudAccountInfo> account =
      json ? CloudAccountInfo::withDictionary(*json->dictionary()) : nullptr;
  if (!account) {
    if (!request.error()) request.setError(clientError(kCloudErrorInvalidResponse, request.userInfo()));
    checkForAuthenticationFailure(request);
    fail(&Delegate::restClientLoadAccountInfoFailedWithError, *request.error());
    return;
  }
  offer([&](Delegate& d) { d.restClientLoadedAccountInfo(*this, account); });
}

void CloudRestClient::searchPathForKeyword(const std::string& path, const std::string& keyword) {
  Dictionary params{{"query", keyword}};
  send(CloudService::current().apiHost, "/search/" + root() + path, params, "GET",
       &Delegate::restClientSearchFailedWithError, Dictionary{{"path", path}, {"keyword", keyword}},
       &CloudRestClient::completeSearch);
}

void CloudRestClient::completeSearch(CloudRequest& request) {
  RequestPtr held = take(request, Table::Requests);
  if (!held) return;
  if (const auto& error = request.error()) {
    checkForAuthenticationFailure(request);
    fail(&Delegate::restClientSearchFailedWithError, *error);
    return;
  }
  std::optional<CloudMetadataList> results;
  if (auto json = request.resultJSON(); json && json->array()) {
    results.emplace();
    for (const Value& element : *json->array()) {
      if (auto made = metadataOf(element)) results->push_back(*made);
    }
  }
  std::string path = info(request, "path");
  std::string keyword = info(request, "keyword");
  offer([&](Delegate& d) { d.restClientLoadedSearchResultsForPathKeyword(*this, results, path, keyword); });
}

void CloudRestClient::loadSharableLinkForFile(const std::string& path) {
  loadSharableLinkForFileShortUrl(path, true);
}

void CloudRestClient::loadSharableLinkForFileShortUrl(const std::string& path, bool shortUrl) {
  Dictionary params{{"short_url", shortUrl ? "true" : "false"}};
  send(CloudService::current().apiHost, "/shares/" + root() + path, params, "GET",
       &Delegate::restClientLoadSharableLinkFailedWithError, Dictionary{{"path", path}},
       &CloudRestClient::completeSharableLink);
}

void CloudRestClient::completeSharableLink(CloudRequest& request) {
  finishWithDictionary(
      request, &Delegate::restClientLoadSharableLinkFailedWithError, [&](const Dictionary& reply) {
        offer([&](Delegate& d) {
          d.restClientLoadedSharableLinkForFile(*this, reply["url"].stringOr(""), info(request, "path"));
        });
      });
}

void CloudRestClient::loadStreamableURLForFile(const std::string& path) {
  auto request = signedRequest(CloudService::current().apiHost, "/media/" + root() + path, Dictionary{},
                               "GET", &Delegate::restClientLoadStreamableURLFailedWithError);
  if (request)
    start(std::move(*request), {.userInfo = Dictionary{{"path", path}}},
          &CloudRestClient::completeStreamableURL);
}

void CloudRestClient::completeStreamableURL(CloudRequest& request) {
  finishWithDictionary(
      request, &Delegate::restClientLoadStreamableURLFailedWithError, [&](const Dictionary& reply) {
        offer([&](Delegate& d) {
          d.restClientLoadedStreamableURLForFile(*this, reply["url"].stringOr(""), info(request, "path"));
        });
      });
}

// --- desktop token steps ---------------------------------------------------------------------------

bool CloudRestClient::parseIntoTokenSecretUserId(std::string_view reply, std::string* token,
                                                 std::string* secret, std::string* userId) {
  while (!reply.empty()) {
    size_t amp = reply.find('&');
    std::string_view piece = reply.substr(0, amp);
    reply = amp == std::string_view::npos ? std::string_view() : reply.substr(amp + 1);
    size_t eq = piece.find('=');
    if (eq == std::string_view::npos || piece.find('=', eq + 1) != std::string_view::npos) {
      CloudLogError("CloudRestClient+OSX: error parsing oauth result");
      return false;
    }
    std::string_view name = piece.substr(0, eq);
    std::string value(piece.substr(eq + 1));
    if (name == "oauth_token") {
      *token = value;
    } else if (name == "oauth_token_secret") {
      *secret = value;
    } else if (name == "uid") {
      if (userId) *userId = value;
    } else {
      CloudLogError("CloudRestClient+Cloud: unknown parameter received");
    }
  }
  return true;
}

void CloudRestClient::loadRequestToken() {
  auto request = signedRequest(CloudService::current().apiHost, "/oauth/request_token", Dictionary{}, "GET",
                               &Delegate::restClientLoadRequestTokenFailedWithError);
  if (request) start(std::move(*request), {}, &CloudRestClient::completeRequestToken);
}

void CloudRestClient::completeRequestToken(CloudRequest& request) {
  RequestPtr held = take(request, Table::Requests);
  if (!held) return;
  if (const auto& error = request.error()) {
    fail(&Delegate::restClientLoadRequestTokenFailedWithError, *error);
    return;
  }
  std::string token, secret;
  parseIntoTokenSecretUserId(request.resultString(), &token, &secret, nullptr);
  if (auto store = credentialStore()) {
    (void)store->setRequestToken(token);
    (void)store->setRequestTokenSecret(secret);
  }
  offer([&](Delegate& d) { d.restClientLoadedRequestToken(*this); });
}

bool CloudRestClient::requestTokenLoaded() const {
  auto store = credentialStore();
  return store && store->requestToken().has_value();
}

std::optional<std::string> CloudRestClient::authorizeURL() const {
  auto store = credentialStore();
  if (!store || !store->requestToken()) {
    CloudLogError("CloudRestClient: You must get a request token before creating the authorize url");
    return std::nullopt;
  }
  return "https://" + CloudService::current().webHost + "/" + std::string(kAPIVersion) +
         "/oauth/authorize?oauth_token=" + *store->requestToken() + "&osx_protocol=cloud-" +
         store->consumerKey().value_or("") + "&embedded=1";
}

void CloudRestClient::loadAccessToken() {
  if (!requestTokenLoaded()) {
    CloudLogError(
        "CloudRestClient: You must get a request token and authorize it before getting an access token");
    return;
  }
  auto request = signedRequest(CloudService::current().apiHost, "/oauth/access_token", Dictionary{}, "GET",
                               &Delegate::restClientLoadAccessTokenFailedWithError);
  if (request) start(std::move(*request), {}, &CloudRestClient::completeAccessToken);
}

void CloudRestClient::completeAccessToken(CloudRequest& request) {
  RequestPtr held = take(request, Table::Requests);
  if (!held) return;
  auto store = credentialStore();
  if (const auto& error = request.error()) {
    if (store && error->domain == kCloudErrorDomain && (error->code == 401 || error->code == 403)) {
      (void)store->setRequestToken(std::nullopt);
      (void)store->setRequestTokenSecret(std::nullopt);
    }
    fail(&Delegate::restClientLoadAccessTokenFailedWithError, *error);
    return;
  }
  if (store) {
    (void)store->setRequestToken(std::nullopt);
    (void)store->setRequestTokenSecret(std::nullopt);
  }
  std::string token, secret, uid;
  parseIntoTokenSecretUserId(request.resultString(), &token, &secret, &uid);
  session_->updateAccessTokenAccessTokenSecretForUserId(token, secret, uid);
  if (!userId_) userId_ = uid;
  offer([&](Delegate& d) { d.restClientLoadedAccessToken(*this); });
}

}  // namespace cloud
