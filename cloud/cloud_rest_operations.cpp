// The REST operations: what each sends, and its entry in the operation table, which says how its
// reply is read and which delegate callbacks hear of it. Everything else (signing, tables,
// cancelling, the completion path) is the client's, the same for all.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

#include "cloud/cloud_log.h"
#include "cloud/cloud_rest_client.h"
#include "cloud/cloud_rest_internal.h"

namespace cloud {

using foundation::Dictionary;
using foundation::Value;
using Delegate = CloudRestClientDelegate;
using namespace rest_internal;

namespace {

constexpr std::int64_t kChunkSize = 2097152;

// A path joined with a name as a path component ("/a" and "b" give "/a/b"; "/" and "b" give "/b").
std::string joinPath(const std::string& folder, const std::string& name) {
  std::string joined = folder;
  while (joined.size() > 1 && joined.back() == '/') joined.pop_back();
  if (joined.empty() || joined.back() != '/') joined += '/';
  return joined + name;
}

Dictionary with(Dictionary dictionary, const std::string& key, const std::string& value) {
  dictionary.set(key, value);
  return dictionary;
}

// The record the file's "X-Cloud-Metadata" header describes; null when there is none.
CloudMetadataPtr headerMetadata(const CloudRequest& request) {
  return request.xCloudMetadataJSON() ? CloudMetadata::withDictionary(*request.xCloudMetadataJSON()) : nullptr;
}

}  // namespace

// --- the operation table ---------------------------------------------------------------------------

const CloudRestClient::Operation& CloudRestClient::operation(Op op) {
  using Host = Operation::Host;
  using Read = Operation::Read;
  using C = CloudRestClient;
  using R = const RequestPtr&;
  static constexpr Operation kTable[] = {
      // Metadata: 304 is "unchanged"; the record is parsed on the worker.
      {.op = Op::Metadata,
       .host = Host::Api,
       .failure = &Delegate::restClientLoadMetadataFailedWithError,
       .success = [](C& c, CloudRequest&, R held, const Reply&) { c.parseOnWorker(held, false); },
       .onError = [](C& c, CloudRequest& r) {
         if (r.error()->domain != kCloudErrorDomain || r.error()->code != 304) return false;
         std::string path = info(r, "path");
         c.offer([&](Delegate& d) { d.restClientMetadataUnchangedAtPath(c, path); });
         return true;
       }},
      // Delta: parsed on the worker.
      {.op = Op::Delta,
       .host = Host::Api,
       .httpMethod = "POST",
       .failure = &Delegate::restClientLoadDeltaFailedWithError,
       .success = [](C& c, CloudRequest&, R held, const Reply&) { c.parseOnWorker(held, true); }},
      // LoadFile: the first form of the callback the delegate takes.
      {.op = Op::LoadFile,
       .host = Host::Content,
       .failure = &Delegate::restClientLoadFileFailedWithError,
       .table = Table::Loads,
       .tableKey = "path",
       .success =
           [](C& c, CloudRequest& r, R, const Reply&) {
             const std::string destination = info(r, "destinationPath");
             const std::string type = r.response()->header("Content-Type").value_or("");
             const CloudMetadataPtr metadata = headerMetadata(r);
             const std::string eTag = r.response()->header("Etag").value_or("");
             c.offer([&](Delegate& d) { d.restClientLoadedFile(c, destination); }) ||
                 c.offer([&](Delegate& d) {
                   d.restClientLoadedFileContentTypeMetadata(c, destination, type, metadata);
                 }) ||
                 c.offer([&](Delegate& d) { d.restClientLoadedFileContentType(c, destination, type); }) ||
                 c.offer([&](Delegate& d) { d.restClientLoadedFileContentTypeETag(c, destination, type, eTag); });
           }},
      // Thumbnail.
      {.op = Op::Thumbnail,
       .host = Host::Content,
       .failure = &Delegate::restClientLoadThumbnailFailedWithError,
       .table = Table::Thumbnails,
       .tableKey = "key",
       .success =
           [](C& c, CloudRequest& r, R, const Reply&) {
             const std::string destination = info(r, "destinationPath");
             const CloudMetadataPtr metadata = headerMetadata(r);
             c.offer([&](Delegate& d) { d.restClientLoadedThumbnailMetadata(c, destination, metadata); }) ||
                 c.offer([&](Delegate& d) { d.restClientLoadedThumbnail(c, destination); });
           }},
      // Upload.
      {.op = Op::Upload,
       .host = Host::Content,
       .httpMethod = "POST",
       .failure = &Delegate::restClientUploadFileFailedWithError,
       .read = Read::Metadata,
       .table = Table::Uploads,
       .tableKey = "destinationPath",
       .success =
           [](C& c, CloudRequest& r, R, const Reply& reply) {
             const std::string to = info(r, "destinationPath");
             const std::string from = info(r, "sourcePath");
             c.offer([&](Delegate& d) { d.restClientUploadedFileFromMetadata(c, to, from, reply.metadata); }) ||
                 c.offer([&](Delegate& d) { d.restClientUploadedFileFrom(c, to, from); });
           }},
      // Chunk.
      {.op = Op::Chunk,
       .host = Host::Content,
       .httpMethod = "POST",
       .failure = &Delegate::restClientUploadFileChunkFailedWithError,
       .read = Read::Dictionary,
       .reportsAuthorization = false,
       .success =
           [](C& c, CloudRequest& r, R, const Reply& reply) {
             const Dictionary& answer = reply.dictionary();
             const std::string id = answer["upload_id"].stringOr("");
             const std::int64_t offset = answer["offset"].toInteger().value_or(0);
             std::optional<foundation::Date> expires;
             if (const std::string* text = answer["expires"].string())
               expires = CloudMetadata::dateFromString(*text);
             const std::string from = info(r, "fromPath");
             c.offer([&](Delegate& d) {
               d.restClientUploadedFileChunkNewOffsetFromFileExpires(c, id, offset, from, expires);
             });
           }},
      // Commit.
      {.op = Op::Commit,
       .host = Host::Content,
       .httpMethod = "POST",
       .failure = &Delegate::restClientUploadFromUploadIdFailedWithError,
       .read = Read::Metadata,
       .reportsAuthorization = false,
       .success =
           [](C& c, CloudRequest& r, R, const Reply& reply) {
             c.offer([&](Delegate& d) {
               d.restClientUploadedFileFromUploadIdMetadata(c, info(r, "destinationPath"), info(r, "upload_id"),
                                                            reply.metadata);
             });
           }},
      // Revisions.
      {.op = Op::Revisions,
       .host = Host::Api,
       .failure = &Delegate::restClientLoadRevisionsFailedWithError,
       .read = Read::MetadataList,
       .reportsAuthorization = false,
       .success =
           [](C& c, CloudRequest& r, R, const Reply& reply) {
             const std::string path = info(r, "path");
             c.offer([&](Delegate& d) { d.restClientLoadedRevisionsForFile(c, reply.list, path); });
           }},
      // Restore.
      {.op = Op::Restore,
       .host = Host::Api,
       .failure = &Delegate::restClientRestoreFileFailedWithError,
       .read = Read::Metadata,
       .reportsAuthorization = false,
       .success =
           [](C& c, CloudRequest&, R, const Reply& reply) {
             c.offer([&](Delegate& d) { d.restClientRestoredFile(c, reply.metadata); });
           }},
      // Move.
      {.op = Op::Move,
       .host = Host::Api,
       .httpMethod = "POST",
       .failure = &Delegate::restClientMovePathFailedWithError,
       .read = Read::Metadata,
       .success =
           [](C& c, CloudRequest& r, R, const Reply& reply) {
             c.offer([&](Delegate& d) { d.restClientMovedPathTo(c, info(r, "from_path"), reply.metadata); });
           }},
      // Copy.
      {.op = Op::Copy,
       .host = Host::Api,
       .httpMethod = "POST",
       .failure = &Delegate::restClientCopyPathFailedWithError,
       .read = Read::Metadata,
       .success =
           [](C& c, CloudRequest& r, R, const Reply& reply) {
             c.offer([&](Delegate& d) { d.restClientCopiedPathTo(c, info(r, "from_path"), reply.metadata); });
           }},
      // CreateCopyRef: the longer callback first.
      {.op = Op::CreateCopyRef,
       .host = Host::Api,
       .httpMethod = "POST",
       .failure = &Delegate::restClientCreateCopyRefFailedWithError,
       .read = Read::Dictionary,
       .success =
           [](C& c, CloudRequest& r, R, const Reply& reply) {
             const std::string ref = reply.dictionary()["copy_ref"].stringOr("");
             const std::string path = info(r, "path");
             c.offer([&](Delegate& d) { d.restClientCreatedCopyRefForPath(c, ref, path); }) ||
                 c.offer([&](Delegate& d) { d.restClientCreatedCopyRef(c, ref); });
           }},
      // CopyFromRef.
      {.op = Op::CopyFromRef,
       .host = Host::Api,
       .httpMethod = "POST",
       .failure = &Delegate::restClientCopyFromRefFailedWithError,
       .read = Read::Metadata,
       .success =
           [](C& c, CloudRequest& r, R, const Reply& reply) {
             c.offer([&](Delegate& d) { d.restClientCopiedRefTo(c, info(r, "from_copy_ref"), reply.metadata); });
           }},
      // Delete.
      {.op = Op::Delete,
       .host = Host::Api,
       .httpMethod = "POST",
       .failure = &Delegate::restClientDeletePathFailedWithError,
       .success =
           [](C& c, CloudRequest& r, R, const Reply&) {
             const std::string path = info(r, "path");
             c.offer([&](Delegate& d) { d.restClientDeletedPath(c, path); });
           }},
      // CreateFolder.
      {.op = Op::CreateFolder,
       .host = Host::Api,
       .httpMethod = "POST",
       .failure = &Delegate::restClientCreateFolderFailedWithError,
       .read = Read::Metadata,
       .success =
           [](C& c, CloudRequest&, R, const Reply& reply) {
             c.offer([&](Delegate& d) { d.restClientCreatedFolder(c, reply.metadata); });
           }},
      // AccountInfo.
      {.op = Op::AccountInfo,
       .host = Host::Api,
       .failure = &Delegate::restClientLoadAccountInfoFailedWithError,
       .read = Read::AccountInfo,
       .success =
           [](C& c, CloudRequest&, R, const Reply& reply) {
             c.offer([&](Delegate& d) { d.restClientLoadedAccountInfo(c, reply.account); });
           }},
      // Search: the records of an array reply (those of the record's shape); nothing for another.
      {.op = Op::Search,
       .host = Host::Api,
       .failure = &Delegate::restClientSearchFailedWithError,
       .success =
           [](C& c, CloudRequest& r, R, const Reply&) {
             std::optional<CloudMetadataList> results;
             if (auto json = r.resultJSON(); json && json->array()) {
               results.emplace();
               for (const Value& element : *json->array()) {
                 if (auto made = metadataOf(element)) results->push_back(*made);
               }
             }
             const std::string path = info(r, "path");
             const std::string keyword = info(r, "keyword");
             c.offer([&](Delegate& d) { d.restClientLoadedSearchResultsForPathKeyword(c, results, path, keyword); });
           }},
      // SharableLink.
      {.op = Op::SharableLink,
       .host = Host::Api,
       .failure = &Delegate::restClientLoadSharableLinkFailedWithError,
       .read = Read::Dictionary,
       .success =
           [](C& c, CloudRequest& r, R, const Reply& reply) {
             c.offer([&](Delegate& d) {
               d.restClientLoadedSharableLinkForFile(c, reply.dictionary()["url"].stringOr(""), info(r, "path"));
             });
           }},
      // StreamableURL.
      {.op = Op::StreamableURL,
       .host = Host::Api,
       .failure = &Delegate::restClientLoadStreamableURLFailedWithError,
       .read = Read::Dictionary,
       .success =
           [](C& c, CloudRequest& r, R, const Reply& reply) {
             c.offer([&](Delegate& d) {
               d.restClientLoadedStreamableURLForFile(c, reply.dictionary()["url"].stringOr(""), info(r, "path"));
             });
           }},
      // RequestToken: kept in the user's store.
      {.op = Op::RequestToken,
       .host = Host::Api,
       .failure = &Delegate::restClientLoadRequestTokenFailedWithError,
       .reportsAuthorization = false,
       .success =
           [](C& c, CloudRequest& r, R, const Reply&) {
             std::string token, secret;
             parseIntoTokenSecretUserId(r.resultString().value_or(""), &token, &secret, nullptr);
             // A reply without a token would leave an empty one that every later step signs with.
             if (token.empty() || secret.empty())
               return c.fail(&Delegate::restClientLoadRequestTokenFailedWithError,
                             clientError(kCloudErrorInvalidResponse, r.userInfo()));
             if (auto store = c.credentialStore()) {
               (void)store->setRequestToken(token);
               (void)store->setRequestTokenSecret(secret);
             }
             c.offer([&](Delegate& d) { d.restClientLoadedRequestToken(c); });
           }},
      // AccessToken: the request token goes either way (on a refusal, or once exchanged).
      {.op = Op::AccessToken,
       .host = Host::Api,
       .failure = &Delegate::restClientLoadAccessTokenFailedWithError,
       .reportsAuthorization = false,
       .success =
           [](C& c, CloudRequest& r, R, const Reply&) {
             if (auto store = c.credentialStore()) {
               (void)store->setRequestToken(std::nullopt);
               (void)store->setRequestTokenSecret(std::nullopt);
             }
             std::string token, secret, uid;
             parseIntoTokenSecretUserId(r.resultString().value_or(""), &token, &secret, &uid);
             // An incomplete reply links no one (not a user "" with an empty token).
             if (token.empty() || secret.empty() || uid.empty())
               return c.fail(&Delegate::restClientLoadAccessTokenFailedWithError,
                             clientError(kCloudErrorInvalidResponse, r.userInfo()));
             c.session_->updateAccessTokenAccessTokenSecretForUserId(token, secret, uid);
             if (!c.userId_) c.userId_ = uid;
             c.offer([&](Delegate& d) { d.restClientLoadedAccessToken(c); });
           },
       .onError = [](C& c, CloudRequest& r) {
         auto store = c.credentialStore();
         const auto& error = *r.error();
         if (store && error.domain == kCloudErrorDomain && (error.code == 401 || error.code == 403)) {
           (void)store->setRequestToken(std::nullopt);
           (void)store->setRequestTokenSecret(std::nullopt);
         }
         return false;
       }},
  };
  static_assert(
      [] {
        for (size_t i = 0; i < std::size(kTable); ++i)
          if (kTable[i].op != static_cast<Op>(i)) return false;
        return std::size(kTable) == static_cast<size_t>(Op::AccessToken) + 1;
      }(),
      "one entry per operation, in the order of Op");
  return kTable[static_cast<size_t>(op)];
}

// --- metadata and delta ----------------------------------------------------------------------------

void CloudRestClient::loadMetadata(const std::string& path) { loadMetadataWithHash(path, std::nullopt); }

void CloudRestClient::loadMetadataWithHash(const std::string& path, const std::optional<std::string>& hash) {
  Dictionary params;
  if (hash) params.set("hash", *hash);
  send(Op::Metadata, "/metadata/" + root() + path, params, {.userInfo = with(params, "path", path)});
}

void CloudRestClient::loadMetadataAtRev(const std::string& path, const std::optional<std::string>& rev) {
  Dictionary params;
  if (rev) params.set("rev", *rev);
  send(Op::Metadata, "/metadata/" + root() + path, params, {.userInfo = with(params, "path", path)});
}

void CloudRestClient::loadDelta(const std::optional<std::string>& cursor) {
  Dictionary params;
  if (cursor) params.set("cursor", *cursor);
  send(Op::Delta, "/delta", params, {.userInfo = params});
}

// --- files and thumbnails --------------------------------------------------------------------------

void CloudRestClient::loadFileIntoPath(const std::string& path, const std::string& destinationPath) {
  loadFileAtRevIntoPath(path, std::nullopt, destinationPath);
}

void CloudRestClient::loadFileAtRevIntoPath(const std::string& path, const std::optional<std::string>& rev,
                                            const std::string& destinationPath) {
  Dictionary params;
  if (rev) params.set("rev", *rev);
  Dictionary userInfo{{"path", path}, {"destinationPath", destinationPath}};
  if (rev) userInfo.set("rev", *rev);
  CloudRequest::Options options{.resultFilename = destinationPath, .userInfo = std::move(userInfo)};
  options.downloadProgress = [this](CloudRequest& r) {
    std::string destination = info(r, "destinationPath");
    offer([&](Delegate& d) { d.restClientLoadProgressForFile(*this, r.downloadProgress(), destination); });
  };
  send(Op::LoadFile, "/files/" + root() + path, params, std::move(options));
}

void CloudRestClient::loadThumbnailOfSizeIntoPath(const std::string& path,
                                                  const std::optional<std::string>& size,
                                                  const std::string& destinationPath) {
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const bool png = upper.size() >= 5 && (upper.ends_with(".PNG") || upper.ends_with(".GIF"));
  Dictionary params{{"format", png ? "PNG" : "JPEG"}};
  if (size) params.set("size", *size);
  const std::string key = path + "##" + size.value_or("");
  Dictionary userInfo{{"path", path}, {"destinationPath", destinationPath}, {"key", key}};
  send(Op::Thumbnail, "/thumbnails/" + root() + path, params,
       {.resultFilename = destinationPath, .userInfo = std::move(userInfo)});
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

// Uploads stream the file as the body, so their signed parameters travel in the query.
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
  start(std::move(*request), std::move(options), Op::Upload, destination);
}

void CloudRestClient::uploadFileChunkOffsetFromPath(const std::optional<std::string>& uploadId,
                                                    std::uint64_t offset, const std::string& localPath) {
  Dictionary userInfo{{"fromPath", localPath}, {"offset", static_cast<std::int64_t>(offset)}};
  if (uploadId) userInfo.set("upload_id", *uploadId);
  std::string chunk;
  int fd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
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
  CloudRequest::Options options{.userInfo = std::move(userInfo)};
  options.uploadProgress = [this](CloudRequest& r) {
    std::string id = info(r, "upload_id");
    std::int64_t at = r.userInfo()["offset"].toInteger().value_or(0);
    std::string from = info(r, "fromPath");
    offer([&](Delegate& d) {
      d.restClientUploadFileChunkProgressForFileOffsetFromPath(*this, r.uploadProgress(), id, at, from);
    });
  };
  start(std::move(*request), std::move(options), Op::Chunk);
}

void CloudRestClient::uploadFileToPathWithParentRevFromUploadId(const std::string& filename,
                                                                const std::string& path,
                                                                const std::optional<std::string>& parentRev,
                                                                const std::string& uploadId) {
  std::string destination = path.ends_with('/') ? path + filename : path + "/" + filename;
  Dictionary params{{"upload_id", uploadId}, {"overwrite", "false"}};
  if (parentRev) params.set("parent_rev", *parentRev);
  send(Op::Commit, "/commit_chunked_upload/" + root() + destination, params,
       {.userInfo = with(params, "destinationPath", destination)});
}

// --- revisions, restore and file operations --------------------------------------------------------

void CloudRestClient::loadRevisionsForFile(const std::string& path) { loadRevisionsForFileLimit(path, 10); }

void CloudRestClient::loadRevisionsForFileLimit(const std::string& path, long limit) {
  Dictionary params{{"rev_limit", std::to_string(limit)}};
  send(Op::Revisions, "/revisions/" + root() + path, params, {.userInfo = with(params, "path", path)});
}

void CloudRestClient::restoreFileToRev(const std::string& path, const std::string& rev) {
  Dictionary params{{"rev", rev}};
  send(Op::Restore, "/restore/" + root() + path, params, {.userInfo = with(params, "path", path)});
}

void CloudRestClient::moveFromToPath(const std::string& fromPath, const std::string& toPath) {
  Dictionary params{{"root", root()}, {"from_path", fromPath}, {"to_path", toPath}};
  send(Op::Move, "/fileops/move", params, {.userInfo = params});
}

void CloudRestClient::copyFromToPath(const std::string& fromPath, const std::string& toPath) {
  Dictionary params{{"root", root()}, {"from_path", fromPath}, {"to_path", toPath}};
  send(Op::Copy, "/fileops/copy", params, {.userInfo = params});
}

void CloudRestClient::createCopyRef(const std::string& path) {
  send(Op::CreateCopyRef, "/copy_ref/" + root() + path, Dictionary{}, {.userInfo = Dictionary{{"path", path}}});
}

void CloudRestClient::copyFromRefToPath(const std::string& copyRef, const std::string& toPath) {
  Dictionary params{{"from_copy_ref", copyRef}, {"root", root()}, {"to_path", toPath}};
  send(Op::CopyFromRef, "/fileops/copy/", params, {.userInfo = params});
}

void CloudRestClient::deletePath(const std::string& path) {
  Dictionary params{{"root", root()}, {"path", path}};
  send(Op::Delete, "/fileops/delete", params, {.userInfo = params});
}

void CloudRestClient::createFolder(const std::string& path) {
  Dictionary params{{"root", root()}, {"path", path}};
  send(Op::CreateFolder, "/fileops/create_folder", params, {.userInfo = params});
}

// --- account, search, links ------------------------------------------------------------------------

void CloudRestClient::loadAccountInfo() { send(Op::AccountInfo, "/account/info", Dictionary{}, {}); }

void CloudRestClient::searchPathForKeyword(const std::string& path, const std::string& keyword) {
  send(Op::Search, "/search/" + root() + path, Dictionary{{"query", keyword}},
       {.userInfo = Dictionary{{"path", path}, {"keyword", keyword}}});
}

void CloudRestClient::loadSharableLinkForFile(const std::string& path) {
  loadSharableLinkForFileShortUrl(path, true);
}

void CloudRestClient::loadSharableLinkForFileShortUrl(const std::string& path, bool shortUrl) {
  send(Op::SharableLink, "/shares/" + root() + path, Dictionary{{"short_url", shortUrl ? "true" : "false"}},
       {.userInfo = Dictionary{{"path", path}}});
}

void CloudRestClient::loadStreamableURLForFile(const std::string& path) {
  send(Op::StreamableURL, "/media/" + root() + path, Dictionary{}, {.userInfo = Dictionary{{"path", path}}});
}

// --- desktop token steps ---------------------------------------------------------------------------

void CloudRestClient::loadRequestToken() { send(Op::RequestToken, "/oauth/request_token", Dictionary{}, {}); }

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
  send(Op::AccessToken, "/oauth/access_token", Dictionary{}, {});
}

}  // namespace cloud
