// The REST client against the stand-in service: every operation, the fault modes, cancel, the
// 401 path and the renamed copy of a stale upload.
#include "cloud/cloud_rest_client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cloud/cloud_keychain.h"
#include "platform/foundation/log.h"
#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace cloud {
namespace {

using foundation::Error;
using testing_support::CloudServer;
namespace fs = std::filesystem;
using Fault = CloudServer::Fault;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const fs::path& path, std::string_view content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string describe(const Error& e) { return e.domain + " " + std::to_string(e.code); }

// Records as one line each callback the tests wait for; the metadata, when any, is kept.
struct Recorder : CloudRestClientDelegate {
  std::vector<std::string> events;
  CloudMetadataPtr metadata;
  CloudMetadataList list;
  std::optional<Error> error;
  int loadProgress = 0;
  int uploadProgress = 0;
  bool takesPlainLoadedFile = false;

  void failed(std::string what, const Error& e) {
    error = e;
    events.push_back(what + " " + describe(e));
  }
  void got(std::string what, const CloudMetadataPtr& m) {
    metadata = m;
    events.push_back(what + " " + (m && m->path() ? *m->path() : "-"));
  }

  void restClientLoadedMetadata(Client&, const CloudMetadataPtr& m) override { got("metadata", m); }
  void restClientMetadataUnchangedAtPath(Client&, const std::string& p) override {
    events.push_back("unchanged " + p);
  }
  void restClientLoadMetadataFailedWithError(Client&, const Error& e) override {
    failed("metadata failed", e);
  }
  void restClientLoadedDeltaEntriesResetCursorHasMore(Client&, const CloudDeltaEntryList& entries, bool reset,
                                                      const std::string& cursor, bool) override {
    events.push_back("delta " + std::to_string(entries.size()) + (reset ? " reset " : " ") + cursor);
  }
  void restClientLoadedFile(Client& c, const std::string& p) override {
    if (!takesPlainLoadedFile) return CloudRestClientDelegate::restClientLoadedFile(c, p);
    events.push_back("loaded " + p);
  }
  void restClientLoadedFileContentTypeMetadata(Client&, const std::string& p, const std::string& type,
                                               const CloudMetadataPtr& m) override {
    metadata = m;
    events.push_back("loaded " + p + " " + type + " " + (m ? m->rev().value_or("") : "-"));
  }
  void restClientLoadProgressForFile(Client&, double, const std::string&) override { ++loadProgress; }
  void restClientLoadFileFailedWithError(Client&, const Error& e) override { failed("load failed", e); }
  void restClientLoadedThumbnailMetadata(Client&, const std::string& p, const CloudMetadataPtr& m) override {
    got("thumbnail " + p, m);
  }
  void restClientUploadedFileFromMetadata(Client&, const std::string& to, const std::string&,
                                          const CloudMetadataPtr& m) override {
    got("uploaded " + to, m);
  }
  void restClientUploadProgressForFileFrom(Client&, double, const std::string&, const std::string&) override {
    ++uploadProgress;
  }
  void restClientUploadFileFailedWithError(Client&, const Error& e) override { failed("upload failed", e); }
  void restClientUploadedFileChunkNewOffsetFromFileExpires(
      Client&, const std::string& id, std::int64_t offset, const std::string&,
      const std::optional<foundation::Date>& expires) override {
    events.push_back("chunk " + id + " " + std::to_string(offset) + (expires ? " expires" : ""));
  }
  void restClientUploadedFileFromUploadIdMetadata(Client&, const std::string& to, const std::string&,
                                                  const CloudMetadataPtr& m) override {
    got("committed " + to, m);
  }
  void restClientLoadedRevisionsForFile(Client&, const CloudMetadataList& revisions,
                                        const std::string& p) override {
    list = revisions;
    events.push_back("revisions " + p + " " + std::to_string(revisions.size()));
  }
  void restClientRestoredFile(Client&, const CloudMetadataPtr& m) override { got("restored", m); }
  void restClientMovedPathTo(Client&, const std::string& from, const CloudMetadataPtr& m) override {
    got("moved " + from, m);
  }
  void restClientCopiedPathTo(Client&, const std::string& from, const CloudMetadataPtr& m) override {
    got("copied " + from, m);
  }
  void restClientCreatedCopyRefForPath(Client&, const std::string& ref, const std::string&) override {
    events.push_back("ref " + ref);
  }
  void restClientCopiedRefTo(Client&, const std::string&, const CloudMetadataPtr& m) override {
    got("copied ref", m);
  }
  void restClientDeletedPath(Client&, const std::string& p) override { events.push_back("deleted " + p); }
  void restClientCreatedFolder(Client&, const CloudMetadataPtr& m) override { got("folder", m); }
  void restClientCreateFolderFailedWithError(Client&, const Error& e) override { failed("folder failed", e); }
  void restClientLoadedAccountInfo(Client&, const std::shared_ptr<const CloudAccountInfo>& a) override {
    events.push_back("account " + a->userId().value_or("") + " " + a->displayName().value_or(""));
  }
  void restClientLoadedSearchResultsForPathKeyword(Client&, const std::optional<CloudMetadataList>& found,
                                                   const std::string&, const std::string& keyword) override {
    events.push_back("search " + keyword + " " + std::to_string(found ? found->size() : 0));
  }
  void restClientLoadedSharableLinkForFile(Client&, const std::string& url, const std::string&) override {
    events.push_back(std::string("share ") + (url.empty() ? "none" : "url"));
  }
  void restClientLoadedStreamableURLForFile(Client&, const std::string& url, const std::string&) override {
    events.push_back(std::string("media ") + (url.empty() ? "none" : "url"));
  }
  void restClientLoadedRequestToken(Client&) override { events.push_back("request token"); }
  void restClientLoadRequestTokenFailedWithError(Client&, const Error& e) override {
    failed("request token failed", e);
  }
  void restClientLoadedAccessToken(Client&) override { events.push_back("access token"); }
  void restClientLoadAccessTokenFailedWithError(Client&, const Error& e) override {
    failed("access token failed", e);
  }
};

struct SessionWatcher : CloudSessionDelegate {
  std::vector<std::string> users;
  void sessionDidReceiveAuthorizationFailureUserId(CloudSession&, const std::string& userId) override {
    users.push_back(userId);
  }
};

class CloudRestClientTest : public ::testing::Test {
 protected:
  CloudRestClientTest()
      : home_(dir_ / "home"),
        keychain_(std::make_shared<security::Keychain>(home_)),
        server_(dir_ / "server") {
    CloudKeychain::configure(keychain_, "org.example.diary");
    server_.addUser("31337", "tok", "sec");
    CloudService::setCurrent({server_.host(), server_.host(), server_.host(), {server_.rootCertificate()}});
    session_ =
        std::make_shared<CloudSession>("qwv3rtnpa8sdkmz", "hxb7ytrefo2lmcu", "sandbox",
                                       std::make_shared<runtime::UserDefaults>(dir_ / "defaults.plist"));
    session_->setAccessTokenAccessTokenSecretForUserId("tok", "sec", "31337");
    session_->setDelegate(&watcher_);
    client_ = CloudRestClient::make(session_, loop_);
    client_->setDelegate(&recorder_);
  }
  ~CloudRestClientTest() override {
    client_.reset();
    loop_.runUntilIdle();
    CloudService::setCurrent({});
    CloudKeychain::configure(nullptr, "");
  }

  // Runs the loop until `count` more callbacks arrived and the client has nothing in flight.
  void settle(size_t count = 1) {
    size_t target = recorder_.events.size() + count;
    EXPECT_TRUE(loop_.runUntil(
        [&] { return recorder_.events.size() >= target && client_->requestCount() == 0; }, 30));
    loop_.runUntilIdle();
  }
  std::string last() const { return recorder_.events.empty() ? "" : recorder_.events.back(); }

  fs::path local(const std::string& name) { return dir_.path() / name; }
  // Temporary download files left beside the results.
  int leftovers() const {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir_.path()))
      n += entry.path().string().ends_with(".download");
    return n;
  }

  testing_support::TempDir dir_;
  files::AppHome home_;
  std::shared_ptr<security::Keychain> keychain_;
  CloudServer server_;
  runtime::RunLoop loop_;
  std::shared_ptr<CloudSession> session_;
  SessionWatcher watcher_;
  Recorder recorder_;
  std::unique_ptr<CloudRestClient> client_;
};

TEST_F(CloudRestClientTest, MetadataOfTheRootAndAnUnchangedHash) {
  ASSERT_TRUE(server_.running());
  server_.putFile("/backUp.zip", "zip");
  client_->loadMetadata("/");
  EXPECT_EQ(client_->requestCount(), 1u);
  settle();
  EXPECT_EQ(last(), "metadata /");
  ASSERT_TRUE(recorder_.metadata->contents());
  EXPECT_EQ((*recorder_.metadata->contents())[0]->filename(), "backUp.zip");
  auto seen = server_.requests().back();
  EXPECT_EQ(seen.path, "/1/metadata/sandbox/");
  EXPECT_EQ(seen.params.at("locale"), CloudRestClient::bestLanguage());
  EXPECT_EQ(seen.params.at("oauth_token"), "tok");
  EXPECT_EQ(seen.params.at("oauth_signature"), "hxb7ytrefo2lmcu&sec");
  EXPECT_EQ(seen.headers.at("user-agent"), CloudRestClient::userAgent());

  client_->loadMetadataWithHash("/", recorder_.metadata->hash());
  settle();
  EXPECT_EQ(last(), "unchanged /");
  EXPECT_FALSE(recorder_.error);
}

TEST_F(CloudRestClientTest, UploadsRenameOnAStaleParentAndDownloadsReplaceWholeFiles) {
  write(local("backup.zip"), "first");
  client_->uploadFileToPathWithParentRevFromPath("backUp.zip", "/", std::nullopt, local("backup.zip"));
  settle();
  EXPECT_EQ(last(), "uploaded /backUp.zip /backUp.zip");
  const std::string firstRev = recorder_.metadata->rev().value();
  EXPECT_GE(recorder_.uploadProgress, 1);
  EXPECT_EQ(server_.requests().back().params.count("locale"), 0u);
  EXPECT_EQ(server_.requests().back().params.at("overwrite"), "false");

  // Without the current parent the service keeps both and names the new one apart.
  write(local("backup.zip"), "second");
  client_->uploadFileToPathWithParentRevFromPath("backUp.zip", "/", std::nullopt, local("backup.zip"));
  settle();
  EXPECT_EQ(last(), "uploaded /backUp.zip /backUp (1).zip");
  EXPECT_EQ(server_.fileContent("/backUp.zip"), "first");
  client_->uploadFileToPathWithParentRevFromPath("backUp.zip", "/", firstRev, local("backup.zip"));
  settle();
  EXPECT_EQ(last(), "uploaded /backUp.zip /backUp.zip");
  EXPECT_EQ(server_.fileContent("/backUp.zip"), "second");

  client_->loadRevisionsForFile("/backUp.zip");
  settle();
  EXPECT_EQ(last(), "revisions /backUp.zip 2");
  EXPECT_NE(recorder_.list[0]->rev(), firstRev);  // newest first
  EXPECT_EQ(recorder_.list[1]->rev(), firstRev);

  write(local("restored.zip"), "old");
  client_->loadFileIntoPath("/backUp.zip", local("restored.zip"));
  settle();
  EXPECT_EQ(last(), "loaded " + local("restored.zip").string() + " application/octet-stream " +
                        recorder_.list[0]->rev().value());
  EXPECT_EQ(slurp(local("restored.zip")), "second");
  // Only the first form the delegate takes is sent.
  recorder_.takesPlainLoadedFile = true;
  client_->loadFileAtRevIntoPath("/backUp.zip", firstRev, local("restored.zip"));
  settle();
  EXPECT_EQ(last(), "loaded " + local("restored.zip").string());
  EXPECT_EQ(slurp(local("restored.zip")), "first");
  // An empty file replaces the old content as well.
  server_.putFile("/empty.txt", "");
  write(local("restored.zip"), "OLD CONTENT");
  client_->loadFileIntoPath("/empty.txt", local("restored.zip"));
  settle();
  EXPECT_EQ(last(), "loaded " + local("restored.zip").string());
  EXPECT_TRUE(fs::exists(local("restored.zip")));
  EXPECT_EQ(slurp(local("restored.zip")), "");
  EXPECT_EQ(leftovers(), 0);
}

TEST_F(CloudRestClientTest, EveryDownloadFaultEndsInItsErrorAndLeavesTheLocalFileAlone) {
  server_.putFile("/backUp.zip", std::string(50000, 'n'));
  const std::pair<Fault, std::string> cases[] = {
      {Fault::TruncatedBody, "load failed cloud.storage.sdk 1000"},
      {Fault::WrongBytes, "load failed cloud.storage.sdk 1000"},
      {Fault::DropConnection, "load failed NSURLErrorDomain -1005"},
      {Fault::ServerError, "load failed cloud.storage.sdk 500"},
      {Fault::Unauthorized, "load failed cloud.storage.sdk 401"},
  };
  for (const auto& [fault, expected] : cases) {
    write(local("restored.zip"), "old");
    server_.setFault(fault, 1);
    foundation::ScopedLogCapture log;
    client_->loadFileIntoPath("/backUp.zip", local("restored.zip"));
    settle();
    EXPECT_EQ(last(), expected);
    EXPECT_EQ(slurp(local("restored.zip")), "old") << expected;
    EXPECT_EQ(leftovers(), 0) << expected;
    for (const std::string& line : log.messages()) EXPECT_EQ(line.find("oauth_signature"), std::string::npos);
  }
  EXPECT_EQ(recorder_.error->userInfo["path"], foundation::Value("/backUp.zip"));
  EXPECT_EQ(recorder_.error->userInfo["error"], foundation::Value("Unauthorized"));
  EXPECT_EQ(watcher_.users, std::vector<std::string>{"31337"});
  EXPECT_TRUE(session_->isLinked());

  // A temporary file that cannot be made ends the load at its finish, with the file error.
  {
    foundation::ScopedLogCapture log;
    client_->loadFileIntoPath("/backUp.zip", (dir_.path() / "no-such-folder" / "restored.zip").string());
    settle();
    EXPECT_EQ(last(), "load failed NSPOSIXErrorDomain 2");
    ASSERT_GE(log.messages().size(), 2u);
    EXPECT_TRUE(log.messages()[0].starts_with(
        "[ERROR] CloudRequest#connection:didReceiveData: Error creating temp file: (2) "))
        << log.messages()[0];
    EXPECT_TRUE(log.messages()[1].starts_with(
        "[ERROR] CloudRequest#connectionDidFinishLoading: error getting file attrs: "))
        << log.messages()[1];
  }

  // Without a length the metadata's "bytes" decides, and a whole body passes.
  server_.setFault(Fault::NoLength, 1);
  client_->loadFileIntoPath("/backUp.zip", local("restored.zip"));
  settle();
  EXPECT_EQ(slurp(local("restored.zip")).size(), 50000u);
}

// A reply that does not parse fails its operation with 1004 and leaves the parse trace in the log;
// a file whose metadata header does not parse still arrives, without a record.
TEST_F(CloudRestClientTest, RepliesThatDoNotParseAreLoggedWithTheirTrace) {
  server_.putFile("/backUp.zip", "zip");
  write(local("backup.zip"), "new");
  struct Case {
    std::function<void()> call;
    std::string expected;
    std::string warning;  // the client's own line beside the trace, if any
  };
  const Case cases[] = {
      {[&] { client_->loadMetadata("/"); }, "metadata failed cloud.storage.sdk 1004",
       "[WARNING] CloudSDK: error parsing metadata"},
      {[&] { client_->uploadFileToPathWithParentRevFromPath("b.zip", "/", std::nullopt, local("backup.zip")); },
       "upload failed cloud.storage.sdk 1004", ""},
      {[&] { client_->loadFileIntoPath("/backUp.zip", local("restored.zip")); },
       "loaded " + local("restored.zip").string() + " application/octet-stream -", ""},
  };
  for (const Case& c : cases) {
    server_.setFault(Fault::BrokenJson, 1);
    foundation::ScopedLogCapture log;
    c.call();
    settle();
    EXPECT_EQ(last(), c.expected);
    EXPECT_TRUE(log.contains("-JSONValue failed. Error trace is: ")) << c.expected;
    EXPECT_TRUE(c.warning.empty() || log.contains(c.warning)) << c.warning;
  }
}

TEST_F(CloudRestClientTest, ACancelledLoadCallsNothingAndAnotherRootIsRefused) {
  server_.putFile("/backUp.zip", std::string(100000, 'n'));
  write(local("restored.zip"), "old");
  server_.setFault(Fault::SlowTrickle, 1);
  client_->loadFileIntoPath("/backUp.zip", local("restored.zip"));
  ASSERT_TRUE(loop_.runUntil([&] { return recorder_.loadProgress > 0; }, 30));
  client_->cancelFileLoad("/backUp.zip");
  client_->cancelFileLoad("/backUp.zip");  // nothing in flight any more
  EXPECT_EQ(client_->requestCount(), 0u);
  loop_.runUntilIdle();
  EXPECT_TRUE(recorder_.events.empty());
  EXPECT_EQ(slurp(local("restored.zip")), "old");
  server_.setFault(Fault::None);

  CloudService::setCurrent(
      {server_.host(), server_.host(), server_.host(), {server_.otherRootCertificate()}});
  client_->loadFileIntoPath("/backUp.zip", local("restored.zip"));
  settle();
  EXPECT_EQ(last(), "load failed NSURLErrorDomain -1202");
  EXPECT_EQ(slurp(local("restored.zip")), "old");
}

TEST_F(CloudRestClientTest, ASecondLoadOfAPathStopsTheFirstAndTellsIt) {
  server_.putFile("/a.bin", "aaaa");
  server_.setFault(Fault::SlowTrickle, 1);
  client_->loadFileIntoPath("/a.bin", local("one.bin"));
  client_->loadFileIntoPath("/a.bin", local("two.bin"));
  settle(2);
  EXPECT_EQ(recorder_.events[0], "load failed NSURLErrorDomain -999");
  EXPECT_EQ(recorder_.events[1], "loaded " + local("two.bin").string() + " application/octet-stream " +
                                     recorder_.metadata->rev().value());
  EXPECT_FALSE(fs::exists(local("one.bin")));
}

TEST_F(CloudRestClientTest, ReservedCharactersAreEscapedAndLocalFilesChecked) {
  write(local("odd.txt"), "x");
  client_->uploadFileToPathFromPath("a b#c?d%e&f+.txt", "/in", local("odd.txt"));
  settle();
  EXPECT_EQ(last(), "uploaded /in/a b#c?d%e&f+.txt /in/a b#c?d%e&f+.txt");
  EXPECT_EQ(server_.requests().back().path, "/1/files_put/sandbox/in/a b#c?d%e&f+.txt");

  const size_t sent = server_.requests().size();
  client_->uploadFileToPathFromPath("x", "/", dir_.path());
  EXPECT_EQ(last(), "upload failed cloud.storage.sdk 1003");
  client_->uploadFileToPathFromPath("x", "/", local("absent"));
  EXPECT_EQ(last(), "upload failed cloud.storage.sdk 1001");
  EXPECT_EQ(recorder_.error->userInfo["destinationPath"], foundation::Value("/x"));
  EXPECT_EQ(server_.requests().size(), sent);
}

TEST_F(CloudRestClientTest, WithoutCredentialsNothingIsSent) {
  session_->unlinkAll();
  client_->loadMetadata("/");
  client_->uploadFileToPathFromPath("x", "/", dir_.path());
  write(local("y"), "y");
  client_->uploadFileToPathFromPath("y", "/", local("y"));
  settle(2);
  EXPECT_EQ(recorder_.events[0], "upload failed cloud.storage.sdk 1003");
  EXPECT_EQ(recorder_.events[1], "metadata failed cloud.storage.sdk 401");
  EXPECT_EQ(recorder_.events[2], "upload failed cloud.storage.sdk 401");
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(CloudRestClientTest, ResultsParsedAfterACancelNeverArrive) {
  client_->loadMetadata("/");
  ASSERT_TRUE(loop_.runUntil([&] { return client_->requestCount() == 0; }, 30));
  client_->cancelAllRequests();
  // Replies are parsed in order on one worker: the second result comes back after the first.
  client_->loadMetadata("/");
  settle();
  EXPECT_EQ(recorder_.events, std::vector<std::string>{"metadata /"});

  client_->loadDelta(std::nullopt);
  ASSERT_TRUE(loop_.runUntil([&] { return client_->requestCount() == 0; }, 30));
  client_.reset();  // finishes the parsing under way
  loop_.runUntilIdle();
  EXPECT_EQ(recorder_.events.size(), 1u);
}

TEST_F(CloudRestClientTest, ADelegateMayReleaseTheClientInsideACallback) {
  struct Releasing : CloudRestClientDelegate {
    std::unique_ptr<CloudRestClient>* client = nullptr;
    int failures = 0;
    void restClientLoadFileFailedWithError(Client&, const Error&) override {
      ++failures;
      client->reset();
    }
  } releasing;
  releasing.client = &client_;
  client_->setDelegate(&releasing);
  client_->loadFileIntoPath("/missing.zip", local("x.zip"));
  EXPECT_TRUE(loop_.runUntil([&] { return releasing.failures == 1; }, 30));
  EXPECT_EQ(client_, nullptr);
  loop_.runUntilIdle();
}

TEST_F(CloudRestClientTest, EveryOtherOperation) {
  server_.putFile("/docs/report.pdf", "pdf");
  const std::vector<std::pair<std::function<void()>, std::string>> steps = {
      {[&] { client_->createFolder("/photos"); }, "folder /photos"},
      {[&] { client_->createFolder("/photos"); }, "folder failed cloud.storage.sdk 403"},
      {[&] { client_->copyFromToPath("/docs/report.pdf", "/photos/copy.pdf"); },
       "copied /docs/report.pdf /photos/copy.pdf"},
      {[&] { client_->moveFromToPath("/photos/copy.pdf", "/moved.pdf"); },
       "moved /photos/copy.pdf /moved.pdf"},
      {[&] { client_->createCopyRef("/moved.pdf"); }, "ref ref"},
      {[&] { client_->deletePath("/moved.pdf"); }, "deleted /moved.pdf"},
      {[&] { client_->loadAccountInfo(); }, "account 31337 Diary Tester"},
      {[&] { client_->searchPathForKeyword("/", "REPORT"); }, "search REPORT 1"},
      {[&] { client_->loadSharableLinkForFile("/docs/report.pdf"); }, "share url"},
      {[&] { client_->loadStreamableURLForFile("/docs/report.pdf"); }, "media url"},
      {[&] { client_->loadDelta(std::nullopt); }, "delta"},
      {[&] { client_->loadThumbnailOfSizeIntoPath("/docs/report.pdf", "s", local("thumb").string()); },
       "thumbnail " + local("thumb").string() + " /docs/report.pdf"},
      {[&] { client_->loadMetadata("/nowhere"); }, "metadata failed cloud.storage.sdk 404"},
  };
  for (const auto& [step, expected] : steps) {
    step();
    settle();
    EXPECT_TRUE(last().starts_with(expected)) << last() << " / " << expected;
  }
  // Thumbnails of PNG and GIF files are asked for as PNG, of anything else as JPEG.
  for (const auto& [path, format] : std::vector<std::pair<std::string, std::string>>{
           {"/shot.PNG", "PNG"}, {"/anim.gif", "PNG"}, {"/shot.jpeg", "JPEG"}, {"/png", "JPEG"}}) {
    server_.putFile(path, "image");
    client_->loadThumbnailOfSizeIntoPath(path, std::nullopt, local("thumb").string());
    settle();
    EXPECT_EQ(server_.requests().back().params.at("format"), format) << path;
  }

  // A copy reference copies the file it was made for.
  client_->createCopyRef("/docs/report.pdf");
  settle();
  client_->copyFromRefToPath(last().substr(4), "/fromref.pdf");
  settle();
  EXPECT_EQ(last(), "copied ref /fromref.pdf");
  EXPECT_EQ(server_.fileContent("/fromref.pdf"), "pdf");

  // Restoring an older revision makes it the newest.
  std::string first = server_.putFile("/r.txt", "one");
  server_.putFile("/r.txt", "two");
  client_->restoreFileToRev("/r.txt", first);
  settle();
  EXPECT_EQ(last(), "restored /r.txt");
  EXPECT_EQ(server_.fileContent("/r.txt"), "one");

  // Chunks, then the commit.
  write(local("big.bin"), std::string(3000000, 'c'));
  client_->uploadFileChunkOffsetFromPath(std::nullopt, 0, local("big.bin"));
  settle();
  ASSERT_TRUE(last().starts_with("chunk u"));
  std::string id = last().substr(6, last().find(' ', 6) - 6);
  EXPECT_EQ(last(), "chunk " + id + " 2097152 expires");
  client_->uploadFileChunkOffsetFromPath(id, 2097152, local("big.bin"));
  settle();
  EXPECT_EQ(last(), "chunk " + id + " 3000000 expires");
  client_->uploadFileToPathWithParentRevFromUploadId("big.bin", "/up", std::nullopt, id);
  settle();
  EXPECT_EQ(last(), "committed /up/big.bin /up/big.bin");
  EXPECT_EQ(server_.fileContent("/up/big.bin")->size(), 3000000u);
}

TEST_F(CloudRestClientTest, TheDesktopTokenStepsLinkTheUserTheServiceNames) {
  auto desktop = CloudRestClient::make(session_, std::nullopt, loop_);
  desktop->setDelegate(&recorder_);
  {
    foundation::ScopedLogCapture log;
    EXPECT_FALSE(desktop->authorizeURL());
    desktop->loadAccessToken();
    EXPECT_TRUE(log.contains("You must get a request token before creating the authorize url"));
    EXPECT_TRUE(log.contains("You must get a request token and authorize it before getting an access token"));
  }
  EXPECT_TRUE(server_.requests().empty());

  // Replies that lose their last pair store nothing and link no one.
  server_.setFault(Fault::ShortForm, 1);
  desktop->loadRequestToken();
  settle();
  EXPECT_EQ(last(), "request token failed cloud.storage.sdk 1004");
  EXPECT_FALSE(desktop->requestTokenLoaded());

  desktop->loadRequestToken();
  settle();
  EXPECT_EQ(last(), "request token");
  EXPECT_EQ(server_.requests().back().params.count("oauth_token"), 0u);  // the application's credentials only
  const std::string url = desktop->authorizeURL().value_or("");
  EXPECT_TRUE(url.starts_with("https://" + server_.host() + "/1/oauth/authorize?oauth_token=rt")) << url;
  EXPECT_TRUE(url.ends_with("&osx_protocol=cloud-qwv3rtnpa8sdkmz&embedded=1")) << url;
  server_.setFault(Fault::ShortForm, 1);
  desktop->loadAccessToken();
  settle();
  EXPECT_EQ(last(), "access token failed cloud.storage.sdk 1004");
  EXPECT_EQ(session_->userIds(), std::vector<std::string>{"31337"});

  desktop->loadRequestToken();
  settle();
  desktop->loadAccessToken();
  settle();
  EXPECT_EQ(last(), "access token");
  EXPECT_FALSE(desktop->requestTokenLoaded());
  ASSERT_TRUE(desktop->userId());
  EXPECT_EQ(session_->userIds().back(), *desktop->userId());
  desktop->loadAccountInfo();
  settle();
  EXPECT_EQ(last(), "account " + *desktop->userId() + " Diary Tester");
}

TEST(CloudRestClientText, TokenRepliesAreReadUpToTheFirstBadPiece) {
  struct Case {
    std::string reply;
    bool ok;
    std::string token, secret, uid;
  };
  const Case cases[] = {
      {"oauth_token=t&oauth_token_secret=s&uid=7", true, "t", "s", "7"},
      {"uid=7&colour=blue", true, "", "", "7"},  // an unknown name is logged and passed over
      {"oauth_token=t&a=b=c&uid=7", false, "t", "", ""},
      {"oauth_token=t&", false, "t", "", ""},
      {"", false, "", "", ""},
  };
  for (const Case& c : cases) {
    std::string token, secret, uid;
    EXPECT_EQ(CloudRestClient::parseIntoTokenSecretUserId(c.reply, &token, &secret, &uid), c.ok) << c.reply;
    EXPECT_EQ(token + "|" + secret + "|" + uid, c.token + "|" + c.secret + "|" + c.uid) << c.reply;
  }
}

}  // namespace
}  // namespace cloud
