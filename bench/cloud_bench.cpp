// Moving a 100 MB file over loopback HTTPS: the REST client against the curl program, on the same
// stand-in server in one run. Each iteration times the client and then curl on the same transfer,
// so that a busy machine slows both alike; the counter "x_curl" is client time / curl time.
//
//   BM_DownloadVsCurl  loadFileIntoPath (temporary file, size check, rename) vs curl -o
//   BM_UploadVsCurl    uploadFileToPathFromPath (streamed from the file) vs curl --data-binary @file

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cloud/cloud_keychain.h"
#include "cloud/cloud_rest_client.h"
#include "platform/security/digest.h"
#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using cloud::CloudRestClient;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kSize = 100'000'000;

struct Done : cloud::CloudRestClientDelegate {
  bool done = false;
  bool failed = false;
  void restClientLoadedFile(Client&, const std::string&) override { done = true; }
  void restClientLoadFileFailedWithError(Client&, const Error&) override { done = failed = true; }
  void restClientUploadedFileFrom(Client&, const std::string&, const std::string&) override { done = true; }
  void restClientUploadFileFailedWithError(Client&, const Error&) override { done = failed = true; }
};

// A server with one user and a 100 MB file, a client for that user, and the files curl needs.
struct Rig {
  testing_support::TempDir dir;
  files::AppHome home{dir / "home"};
  testing_support::CloudServer server{dir / "server"};
  runtime::RunLoop loop;
  std::shared_ptr<cloud::CloudSession> session;
  std::unique_ptr<CloudRestClient> client;
  Done delegate;
  fs::path source = dir / "source.bin";
  fs::path rootPem = dir / "root.pem";

  Rig() {
    cloud::CloudKeychain::configure(std::make_shared<security::Keychain>(home), "org.example.diary");
    server.addUser("31337", "tok", "sec");
    cloud::CloudService::setCurrent(
        {server.host(), server.host(), server.host(), {server.rootCertificate()}});
    session = std::make_shared<cloud::CloudSession>("qwv3rtnpa8sdkmz", "hxb7ytrefo2lmcu", "sandbox",
                                                    std::make_shared<runtime::UserDefaults>(dir / "d.plist"));
    session->setAccessTokenAccessTokenSecretForUserId("tok", "sec", "31337");
    client = CloudRestClient::make(session, loop);
    client->setDelegate(&delegate);

    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 2654435761u >> 24);
    std::ofstream out(source, std::ios::binary);
    for (std::int64_t written = 0; written < kSize; written += static_cast<std::int64_t>(block.size()))
      out.write(block.data(),
                static_cast<std::streamsize>(std::min<std::int64_t>(block.size(), kSize - written)));
    out.close();
    std::ifstream in(source, std::ios::binary);
    server.putFile("/big.bin", std::string(std::istreambuf_iterator<char>(in), {}));

    std::string b64 = security::base64Encode(server.rootCertificate());
    std::ofstream pem(rootPem);
    pem << "-----BEGIN CERTIFICATE-----\n";
    for (size_t i = 0; i < b64.size(); i += 64) pem << b64.substr(i, 64) << "\n";
    pem << "-----END CERTIFICATE-----\n";
  }
  ~Rig() {
    client.reset();
    cloud::CloudService::setCurrent({});
    cloud::CloudKeychain::configure(nullptr, "");
  }

  // The signed query the client sends (PLAINTEXT), for curl.
  std::string url(const std::string& path, const std::string& extra = "") const {
    return "https://" + server.host() + path +
           "?oauth_consumer_key=qwv3rtnpa8sdkmz&oauth_token=tok&oauth_signature_method=PLAINTEXT"
           "&oauth_signature=hxb7ytrefo2lmcu%26sec&oauth_version=1.0" +
           extra;
  }

  double timeClient(const std::function<void()>& start) {
    delegate = Done{};
    auto begin = Clock::now();
    start();
    loop.runUntil([&] { return delegate.done; }, 600);
    return std::chrono::duration<double>(Clock::now() - begin).count();
  }

  double timeCurl(const std::string& arguments) {
    std::string command = "curl -sS --fail --cacert '" + rootPem.string() + "' " + arguments + " > /dev/null";
    auto begin = Clock::now();
    int status = std::system(command.c_str());
    double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return status == 0 ? seconds : -1;
  }
};

Rig& rig() {
  static Rig* made = new Rig;
  return *made;
}

void report(benchmark::State& state, double client, double curl) {
  state.counters["client_s"] = client;
  state.counters["curl_s"] = curl;
  state.counters["x_curl"] = curl > 0 ? client / curl : -1;
  state.counters["MB_per_s"] = static_cast<double>(kSize) / 1e6 / client;
}

void BM_DownloadVsCurl(benchmark::State& state) {
  Rig& r = rig();
  double client = 0, curl = 0;
  int n = 0;
  for (auto _ : state) {
    client += r.timeClient([&] { r.client->loadFileIntoPath("/big.bin", (r.dir / "client.bin").string()); });
    curl +=
        r.timeCurl("-o '" + (r.dir / "curl.bin").string() + "' '" + r.url("/1/files/sandbox/big.bin") + "'");
    ++n;
    if (r.delegate.failed || fs::file_size(r.dir / "client.bin") != static_cast<std::uintmax_t>(kSize))
      state.SkipWithError("download failed");
  }
  report(state, client / n, curl / n);
}

void BM_UploadVsCurl(benchmark::State& state) {
  Rig& r = rig();
  double client = 0, curl = 0;
  int n = 0;
  for (auto _ : state) {
    client += r.timeClient([&] { r.client->uploadFileToPathFromPath("up.bin", "/", r.source.string()); });
    curl += r.timeCurl("-H 'Content-Type: application/octet-stream' -H 'Expect:' --data-binary '@" +
                       r.source.string() + "' '" + r.url("/1/files_put/sandbox/curl.bin") + "'");
    ++n;
    if (r.delegate.failed) state.SkipWithError("upload failed");
  }
  report(state, client / n, curl / n);
}

BENCHMARK(BM_DownloadVsCurl)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_UploadVsCurl)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
