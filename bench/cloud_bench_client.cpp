// The client side of cloud_bench: one transfer by the REST client, as the diary makes it, in a
// process started for it alone. It is a program of its own, linked with the cloud client only, so
// that its start costs what a client's does, not what loading the stand-in server's and the
// benchmark library's code would add.
//
//   cloud_bench_client <download|upload> <folder> <file> <consumer key> <consumer secret>
//
// The server's host and root certificate are read from the folder (as cloud_bench writes them);
// the user's token is the one cloud_bench's server knows. Exits 0 when the transfer succeeded.

#include <signal.h>
#include <sys/prctl.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "cloud/cloud_keychain.h"
#include "cloud/cloud_rest_client.h"
#include "platform/security/digest.h"

namespace {

namespace fs = std::filesystem;

struct Done : cloud::CloudRestClientDelegate {
  bool done = false;
  bool failed = false;
  void restClientLoadedFile(Client&, const std::string&) override { done = true; }
  void restClientLoadFileFailedWithError(Client&, const Error&) override { done = failed = true; }
  void restClientUploadedFileFrom(Client&, const std::string&, const std::string&) override { done = true; }
  void restClientUploadFileFailedWithError(Client&, const Error&) override { done = failed = true; }
};

int runClient(const std::string& kind, const fs::path& folder, const fs::path& file, const std::string& key,
              const std::string& secret) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  std::ifstream hostIn(folder / "host"), rootIn(folder / "root.b64");
  std::string host, b64;
  std::getline(hostIn, host);
  std::getline(rootIn, b64);
  const auto root = security::base64Decode(b64);
  if (host.empty() || !root) return 2;
  cloud::CloudService::setCurrent({host, host, host, {*root}});
  const files::AppHome home{folder / "client-home"};
  cloud::CloudKeychain::configure(std::make_shared<security::Keychain>(home), "org.example.diary");
  int status = 1;
  {
    auto session = std::make_shared<cloud::CloudSession>(
        key, secret, "sandbox", std::make_shared<runtime::UserDefaults>(folder / "client.plist"));
    session->setAccessTokenAccessTokenSecretForUserId("tok", "sec", "31337");
    runtime::RunLoop loop;
    auto client = cloud::CloudRestClient::make(session, loop);
    Done delegate;
    client->setDelegate(&delegate);
    if (kind == "download") {
      client->loadFileIntoPath("/big.bin", file.string());
    } else {
      client->uploadFileToPathFromPath("up.bin", "/", file.string());
    }
    loop.runUntil([&] { return delegate.done; }, 600);
    if (delegate.done && !delegate.failed) status = 0;
  }
  cloud::CloudService::setCurrent({});
  cloud::CloudKeychain::configure(nullptr, "");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  return runClient(argv[1], argv[2], argv[3], argv[4], argv[5]);
}
