#pragma once
// The cloud service's REST interface, version "1", for one user of a CloudSession: each operation
// becomes one signed CloudRequest, and its outcome reaches the delegate through exactly one of the
// delegate's callbacks (or none when the delegate does not take it).
//
//   operation call --> its entry in the operation table --> signed CloudRequest (in one of four
//   tables) --> the one completion path on the caller's loop --> the entry's reply handler
//                                                       \--> metadata and delta replies are parsed
//                                                            on a worker and handed back
//
// Threading: a client is used on one thread, the one whose run loop it is given; every callback
// arrives there. Results parsed on the worker never reach a client that was destroyed, or whose
// requests were cancelled after the reply came in.
//
// Failures are errors (CloudRequest's domain and codes, or the connection's) through the failure
// callbacks; a 401 of most operations is also reported to the session's delegate. An operation for
// a user whose credentials are gone fails with a 401 error and sends nothing: no request is ever
// signed without credentials. Two operations on the same path of the same kind (load, upload,
// thumbnail) never share callbacks: the older one is cancelled and told so (NSURLErrorDomain -999).

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cloud/cloud_records.h"
#include "cloud/cloud_request.h"
#include "cloud/cloud_session.h"
#include "platform/foundation/error.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/serial_queue.h"

namespace cloud {

class CloudRestClient;
using CloudMetadataList = std::vector<CloudMetadataPtr>;
using CloudDeltaEntryList = std::vector<std::shared_ptr<const CloudDeltaEntry>>;

// Every callback is optional: one the delegate does not override counts as not implemented, and
// the client then tries the next form where the operation has several.
class CloudRestClientDelegate {
 public:
  using Error = foundation::Error;
  using Client = CloudRestClient;
  virtual ~CloudRestClientDelegate() = default;

  virtual void restClientLoadedMetadata(Client&, const CloudMetadataPtr&) { declined(); }
  virtual void restClientMetadataUnchangedAtPath(Client&, const std::string&) { declined(); }
  virtual void restClientLoadMetadataFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientLoadedDeltaEntriesResetCursorHasMore(Client&, const CloudDeltaEntryList&, bool,
                                                              const std::string&, bool) {
    declined();
  }
  virtual void restClientLoadDeltaFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientLoadedFile(Client&, const std::string&) { declined(); }
  virtual void restClientLoadedFileContentTypeMetadata(Client&, const std::string&, const std::string&,
                                                       const CloudMetadataPtr&) {
    declined();
  }
  virtual void restClientLoadedFileContentType(Client&, const std::string&, const std::string&) {
    declined();
  }
  virtual void restClientLoadedFileContentTypeETag(Client&, const std::string&, const std::string&,
                                                   const std::string&) {
    declined();
  }
  virtual void restClientLoadProgressForFile(Client&, double, const std::string&) { declined(); }
  virtual void restClientLoadFileFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientLoadedThumbnailMetadata(Client&, const std::string&, const CloudMetadataPtr&) {
    declined();
  }
  virtual void restClientLoadedThumbnail(Client&, const std::string&) { declined(); }
  virtual void restClientLoadThumbnailFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientUploadedFileFromMetadata(Client&, const std::string&, const std::string&,
                                                  const CloudMetadataPtr&) {
    declined();
  }
  virtual void restClientUploadedFileFrom(Client&, const std::string&, const std::string&) { declined(); }
  virtual void restClientUploadProgressForFileFrom(Client&, double, const std::string&, const std::string&) {
    declined();
  }
  virtual void restClientUploadFileFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientUploadedFileChunkNewOffsetFromFileExpires(Client&, const std::string&, std::int64_t,
                                                                   const std::string&,
                                                                   const std::optional<foundation::Date>&) {
    declined();
  }
  virtual void restClientUploadFileChunkProgressForFileOffsetFromPath(Client&, double, const std::string&,
                                                                      std::int64_t, const std::string&) {
    declined();
  }
  virtual void restClientUploadFileChunkFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientUploadedFileFromUploadIdMetadata(Client&, const std::string&, const std::string&,
                                                          const CloudMetadataPtr&) {
    declined();
  }
  virtual void restClientUploadFromUploadIdFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientLoadedRevisionsForFile(Client&, const CloudMetadataList&, const std::string&) {
    declined();
  }
  virtual void restClientLoadRevisionsFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientRestoredFile(Client&, const CloudMetadataPtr&) { declined(); }
  virtual void restClientRestoreFileFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientMovedPathTo(Client&, const std::string&, const CloudMetadataPtr&) { declined(); }
  virtual void restClientMovePathFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientCopiedPathTo(Client&, const std::string&, const CloudMetadataPtr&) { declined(); }
  virtual void restClientCopyPathFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientCreatedCopyRefForPath(Client&, const std::string&, const std::string&) {
    declined();
  }
  virtual void restClientCreatedCopyRef(Client&, const std::string&) { declined(); }
  virtual void restClientCreateCopyRefFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientCopiedRefTo(Client&, const std::string&, const CloudMetadataPtr&) { declined(); }
  virtual void restClientCopyFromRefFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientDeletedPath(Client&, const std::string&) { declined(); }
  virtual void restClientDeletePathFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientCreatedFolder(Client&, const CloudMetadataPtr&) { declined(); }
  virtual void restClientCreateFolderFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientLoadedAccountInfo(Client&, const std::shared_ptr<const CloudAccountInfo>&) {
    declined();
  }
  virtual void restClientLoadAccountInfoFailedWithError(Client&, const Error&) { declined(); }
  // The results are nothing when the reply was not an array.
  virtual void restClientLoadedSearchResultsForPathKeyword(Client&, const std::optional<CloudMetadataList>&,
                                                           const std::string&, const std::string&) {
    declined();
  }
  virtual void restClientSearchFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientLoadedSharableLinkForFile(Client&, const std::string&, const std::string&) {
    declined();
  }
  virtual void restClientLoadSharableLinkFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientLoadedStreamableURLForFile(Client&, const std::string&, const std::string&) {
    declined();
  }
  virtual void restClientLoadStreamableURLFailedWithError(Client&, const Error&) { declined(); }
  // The desktop token steps.
  virtual void restClientLoadedRequestToken(Client&) { declined(); }
  virtual void restClientLoadRequestTokenFailedWithError(Client&, const Error&) { declined(); }
  virtual void restClientLoadedAccessToken(Client&) { declined(); }
  virtual void restClientLoadAccessTokenFailedWithError(Client&, const Error&) { declined(); }

 protected:
  void declined() { declined_ = true; }

 private:
  friend class CloudRestClient;
  bool declined_ = false;
};

class CloudRestClient {
 public:
  static constexpr std::string_view kAPIVersion = "1";
  static constexpr std::string_view kSDKVersion = "1.3.11";

  // A client for the session's user `userId` (nothing: requests carry the application's
  // credentials only). Callbacks run on `loop`, which must outlive the client. A null session
  // logs an error and yields nullptr.
  static std::unique_ptr<CloudRestClient> make(std::shared_ptr<CloudSession> session,
                                               std::optional<std::string> userId,
                                               runtime::RunLoop& loop = runtime::RunLoop::main());
  // The same for the session's first user (none when the session is unlinked).
  static std::unique_ptr<CloudRestClient> make(std::shared_ptr<CloudSession> session,
                                               runtime::RunLoop& loop = runtime::RunLoop::main());
  // Cancels every request.
  ~CloudRestClient();
  CloudRestClient(const CloudRestClient&) = delete;
  CloudRestClient& operator=(const CloudRestClient&) = delete;

  CloudRestClientDelegate* delegate() const { return delegate_; }
  // Not owned.
  void setDelegate(CloudRestClientDelegate* delegate) { delegate_ = delegate; }
  const std::optional<std::string>& userId() const { return userId_; }
  // The session's store for the user, looked up on every use; nullptr once the user is unlinked.
  CloudSession::StorePtr credentialStore() const;

  size_t requestCount() const;
  void cancelAllRequests();
  void cancelFileLoad(const std::string& path);
  void cancelThumbnailLoad(const std::string& path, const std::string& size);
  void cancelFileUpload(const std::string& path);

  void loadMetadata(const std::string& path);
  void loadMetadataWithHash(const std::string& path, const std::optional<std::string>& hash);
  void loadMetadataAtRev(const std::string& path, const std::optional<std::string>& rev);
  void loadDelta(const std::optional<std::string>& cursor);
  void loadFileAtRevIntoPath(const std::string& path, const std::optional<std::string>& rev,
                             const std::string& destinationPath);
  void loadFileIntoPath(const std::string& path, const std::string& destinationPath);
  void loadThumbnailOfSizeIntoPath(const std::string& path, const std::optional<std::string>& size,
                                   const std::string& destinationPath);
  void uploadFileToPathWithParentRevFromPath(const std::string& filename, const std::string& path,
                                             const std::optional<std::string>& parentRev,
                                             const std::string& sourcePath);
  void uploadFileToPathFromPath(const std::string& filename, const std::string& path,
                                const std::string& sourcePath);
  void uploadFileChunkOffsetFromPath(const std::optional<std::string>& uploadId, std::uint64_t offset,
                                     const std::string& localPath);
  void uploadFileToPathWithParentRevFromUploadId(const std::string& filename, const std::string& path,
                                                 const std::optional<std::string>& parentRev,
                                                 const std::string& uploadId);
  void loadRevisionsForFile(const std::string& path);
  void loadRevisionsForFileLimit(const std::string& path, long limit);
  void restoreFileToRev(const std::string& path, const std::string& rev);
  void moveFromToPath(const std::string& fromPath, const std::string& toPath);
  void copyFromToPath(const std::string& fromPath, const std::string& toPath);
  void createCopyRef(const std::string& path);
  void copyFromRefToPath(const std::string& copyRef, const std::string& toPath);
  void deletePath(const std::string& path);
  void createFolder(const std::string& path);
  void loadAccountInfo();
  void searchPathForKeyword(const std::string& path, const std::string& keyword);
  void loadSharableLinkForFileShortUrl(const std::string& path, bool shortUrl);
  void loadSharableLinkForFile(const std::string& path);
  void loadStreamableURLForFile(const std::string& path);

  // The desktop token steps (no caller in the diary). A reply without a token (and, for the access
  // token, its secret and user id) fails with 1004 and stores nothing.
  void loadRequestToken();
  bool requestTokenLoaded() const;
  // Nothing (logged) before a request token was loaded.
  std::optional<std::string> authorizeURL() const;
  void loadAccessToken();
  // Splits a form-encoded token reply; false (logged) at the first piece that is not "name=value",
  // an empty piece included; the values found before it stay.
  static bool parseIntoTokenSecretUserId(std::string_view reply, std::string* token, std::string* secret,
                                         std::string* userId);

  // Every character but letters, digits, "-", ".", "_" and "/" as %XX of its UTF-8 bytes ("%"
  // itself included, so that no path can smuggle an escape in).
  static std::string escapePath(std::string_view path);
  // Remote paths compared as the service does: "/" is "", any other path its lower case in
  // canonical composition.
  static std::string normalizedCloudPath(std::string_view path);
  static bool isEqualToCloudPath(std::string_view a, std::string_view b);
  // "a=1&b=x%20y" as a dictionary, escapes removed (UTF-8); a piece without "=" maps its name to
  // the empty text, and a piece whose escapes do not decode is left out.
  static foundation::Dictionary dictionaryWithQueryString(std::string_view query);
  // "name=value" pairs in the dictionary's order joined by "&", each side the value's description
  // with every character but letters, digits and "-._~" escaped.
  static std::string urlRepresentation(const foundation::Dictionary& dictionary);
  // The first preferred language when the main bundle has a localisation of that name, else "en".
  static std::string bestLanguage();
  // "<display name without blanks>/<short version> OfficialCloudIosSdk/1.3.11".
  static std::string userAgent();

 private:
  enum class Table { Requests, Loads, Thumbnails, Uploads };
  // Every REST operation; each has one entry in the operation table (cloud_rest_operations.cpp),
  // which says how its request is sent and how its reply is read and handed on.
  enum class Op {
    Metadata, Delta, LoadFile, Thumbnail, Upload, Chunk, Commit, Revisions, Restore, Move, Copy,
    CreateCopyRef, CopyFromRef, Delete, CreateFolder, AccountInfo, Search, SharableLink, StreamableURL,
    RequestToken, AccessToken,
  };
  struct Operation;
  struct Reply;
  using RequestPtr = std::shared_ptr<CloudRequest>;
  using Fail = void (CloudRestClientDelegate::*)(CloudRestClient&, const foundation::Error&);

  CloudRestClient(std::shared_ptr<CloudSession> session, std::optional<std::string> userId,
                  runtime::RunLoop& loop);

  static const Operation& operation(Op op);

  // A signed request for host and path with "locale" and the caller's parameters; nothing (the
  // failure already sent) when there are no credentials.
  std::optional<net::HttpRequest> signedRequest(const std::string& host, const std::string& path,
                                                const foundation::Dictionary& params, std::string_view method,
                                                Fail fail, bool withLocale = true);
  // A POST whose signed parameters travel in the query, the body being the file or chunk.
  std::optional<net::HttpRequest> signedUploadRequest(const std::string& url,
                                                      const foundation::Dictionary& params, Fail failure);
  // The operation's signed request for the path (under the API version) and parameters, started
  // with the options (the user information, files, progress); nothing is sent without credentials.
  void send(Op op, const std::string& path, const foundation::Dictionary& params,
            CloudRequest::Options options);
  // Starts the request in the operation's table (keyed tables: under `key`).
  RequestPtr start(net::HttpRequest request, CloudRequest::Options options, Op op, const std::string& key = {});
  // The request out of its table (the table forgets it); nullptr when another took its place.
  RequestPtr take(CloudRequest& request, Table table, const std::string& key = {});
  std::map<std::string, RequestPtr>* tableFor(Table table);
  // The one completion path of every operation: the request leaves its table, the reply is read
  // as the operation says, and a failure (an error, or a reply of the wrong shape: 1004) goes to
  // the operation's failure callback, else its success handler runs.
  void complete(CloudRequest& request, const Operation& op);

  // Calls one delegate callback; false when the delegate does not take it.
  // The delegate may release the client from inside the callback: nothing of the client is
  // touched after it.
  template <class F>
  bool offer(F&& call) {
    CloudRestClientDelegate* delegate = delegate_;
    if (delegate == nullptr) return false;
    delegate->declined_ = false;
    call(*delegate);
    return !delegate->declined_;
  }
  void fail(Fail callback, const foundation::Error& error);
  // The failure, sent later on the loop (for failures found before any request runs).
  void failSoon(Fail callback, foundation::Error error);
  void checkForAuthenticationFailure(const CloudRequest& request);
  std::string root() const { return root_; }
  void uploadFile(const std::string& filename, const std::string& path, const std::string& sourcePath,
                  const foundation::Dictionary& params);
  void parseOnWorker(const RequestPtr& request, bool delta);

  std::shared_ptr<CloudSession> session_;
  std::optional<std::string> userId_;
  std::string root_;
  runtime::RunLoop& loop_;
  CloudRestClientDelegate* delegate_ = nullptr;
  std::vector<RequestPtr> requests_;
  std::map<std::string, RequestPtr> loadRequests_;
  std::map<std::string, RequestPtr> imageLoadRequests_;
  std::map<std::string, RequestPtr> uploadRequests_;
  std::unique_ptr<runtime::SerialQueue> parseQueue_;
  // Results coming back from the worker check both: the client still lives, and no cancel came
  // between the reply and its hand-back.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::uint64_t generation_ = 0;
};

}  // namespace cloud
