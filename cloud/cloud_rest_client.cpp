// The REST client's core: the tables of running requests, signing and sending, and the one
// completion path every operation ends in. What each operation sends and how its reply is handed
// on stand in its table (cloud_rest_operations.cpp); the text helpers in cloud_rest_text.cpp.
#include "cloud/cloud_rest_client.h"

#include <algorithm>

#include "cloud/cloud_log.h"
#include "cloud/cloud_rest_internal.h"
#include "cloud/oauth_parameter.h"
#include "cloud/oauth_request.h"
#include "cloud/oauth_signature.h"

namespace cloud {

using foundation::Dictionary;
using foundation::Error;
using foundation::Value;
using Delegate = CloudRestClientDelegate;
using namespace rest_internal;

namespace rest_internal {

std::string info(const CloudRequest& request, std::string_view key) {
  return request.userInfo()[key].stringOr("");
}

Error clientError(std::int64_t code, Dictionary userInfo) {
  return Error(std::string(kCloudErrorDomain), code, std::move(userInfo));
}

std::optional<CloudMetadataPtr> metadataOf(const std::optional<Value>& json) {
  if (!json || !json->dictionary()) return std::nullopt;
  CloudMetadataPtr made = CloudMetadata::withDictionary(*json->dictionary());
  if (!made) return std::nullopt;
  return made;
}

}  // namespace rest_internal

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

CloudRestClient::RequestPtr CloudRestClient::start(net::HttpRequest request, CloudRequest::Options options,
                                                   Op op, const std::string& key) {
  const Operation& operation = CloudRestClient::operation(op);
  options.completion = [this, &operation](CloudRequest& r) { complete(r, operation); };
  auto* keyed = tableFor(operation.table);
  if (keyed != nullptr) {
    // The older request of the same path stops and hears why, rather than losing its callbacks
    // to the newer one.
    if (auto node = keyed->extract(key)) {
      node.mapped()->cancel();
      failSoon(operation.failure,
               Error(std::string(net::kURLErrorDomain), net::kURLErrorCancelled, node.mapped()->userInfo()));
    }
  }
  auto made = std::make_shared<CloudRequest>(std::move(request), std::move(options), loop_);
  if (keyed != nullptr) {
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

// --- sending ---------------------------------------------------------------------------------------

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

void CloudRestClient::send(Op op, const std::string& path, const Dictionary& params,
                           CloudRequest::Options options) {
  const Operation& operation = CloudRestClient::operation(op);
  const CloudService& service = CloudService::current();
  const std::string& host = operation.host == Operation::Host::Api ? service.apiHost : service.contentHost;
  auto request = signedRequest(host, path, params, operation.httpMethod, operation.failure);
  if (!request) return;
  const std::string key = operation.tableKey.empty() ? std::string() : options.userInfo[operation.tableKey].stringOr("");
  start(std::move(*request), std::move(options), op, key);
}

// --- completing ------------------------------------------------------------------------------------

void CloudRestClient::complete(CloudRequest& request, const Operation& op) {
  RequestPtr held = take(request, op.table, op.tableKey.empty() ? std::string() : info(request, op.tableKey));
  if (!held) return;
  Reply reply;
  bool read = !request.error();
  switch (op.read) {
    case Operation::Read::Nothing:
      break;
    case Operation::Read::Metadata:
      if (auto metadata = metadataOf(request.parseResponseAsType(Value::Type::Dictionary))) {
        reply.metadata = *metadata;
      } else {
        read = false;
      }
      break;
    case Operation::Read::Dictionary:
      reply.json = request.parseResponseAsType(Value::Type::Dictionary);
      read = reply.json.has_value();
      break;
    case Operation::Read::MetadataList:
      reply.json = request.parseResponseAsType(Value::Type::Array);
      read = reply.json.has_value();
      for (const Value& element : read ? *reply.json->array() : foundation::Array{}) {
        auto made = metadataOf(element);
        if (!made) {
          read = false;
          break;
        }
        reply.list.push_back(*made);
      }
      break;
    case Operation::Read::AccountInfo:
      reply.json = request.parseResponseAsType(Value::Type::Dictionary);
      reply.account = reply.json ? CloudAccountInfo::withDictionary(reply.dictionary()) : nullptr;
      read = reply.account != nullptr;
      break;
  }
  if (!read) {
    // A reply of the right type whose values are of the wrong kind is no reply either.
    if (!request.error()) request.setError(clientError(kCloudErrorInvalidResponse, request.userInfo()));
    if (op.onError != nullptr && op.onError(*this, request)) return;
    if (op.reportsAuthorization) checkForAuthenticationFailure(request);
    fail(op.failure, *request.error());
    return;
  }
  op.success(*this, request, held, reply);
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

}  // namespace cloud
