// Moving a 100 MB file over loopback HTTPS: the REST client against the curl program, on the same
// stand-in server in one run. Each side runs in a process of its own, started afresh for every
// transfer (the client is cloud_bench_client, beside this program), so that neither is timed warm
// while the other pays for its start; each iteration times both on the same transfer, in an order that
// alternates, so that a busy machine slows both alike. The counters are the medians of the
// iterations (at least five), in wall time and in CPU time:
//
//   BM_DownloadVsCurl  loadFileIntoPath (temporary file, size check, flush, rename) vs curl -o file
//                      and then the file flushed to the disk
//   BM_UploadVsCurl    uploadFileToPathFromPath (streamed from the file) vs curl -X POST -T file,
//                      curl's streaming form, with the client's headers
//
//   client_s, curl_s, x_curl              median wall seconds and their ratio
//   client_cpu_s, curl_cpu_s, x_curl_cpu  median CPU seconds (user + system) and their ratio
//
// The server runs in a child process too (--serve), and each side's CPU time is read from its own
// usage at exit. Everything lives in one scratch folder that goes when the run ends, also when it
// is interrupted.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "bench/cpu_stopwatch.h"
#include "bench/program_run.h"
#include "bench/scratch_folder.h"
#include "cloud/cloud_keychain.h"
#include "cloud/cloud_rest_client.h"
#include "platform/security/digest.h"
#include "support/cloud_server.h"

namespace {

namespace fs = std::filesystem;
using cloud::CloudRestClient;

constexpr std::int64_t kSize = 100'000'000;
constexpr const char* kConsumerKey = "qwv3rtnpa8sdkmz";
constexpr const char* kConsumerSecret = "hxb7ytrefo2lmcu";

// The server's process, ended on an interrupt before the folder goes (runProgram ends a transfer).
std::atomic<pid_t> serverPid{0};

// --- the server side (the child) -------------------------------------------------------------------

// "--serve <folder> <source file>": serves a user and the source file as "/big.bin", prints the
// host and the root certificate (base64) on two lines, and serves until its standard input ends
// (the parent closes it, or dies).
int serve(const fs::path& folder, const fs::path& source) {
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  testing_support::CloudServer server(folder);
  if (!server.running()) return 1;
  server.addUser("31337", "tok", "sec");
  std::ifstream in(source, std::ios::binary);
  server.putFile("/big.bin", std::string(std::istreambuf_iterator<char>(in), {}));
  std::cout << server.host() << "\n" << security::base64Encode(server.rootCertificate()) << std::endl;
  char byte;
  while (::read(STDIN_FILENO, &byte, 1) > 0) {
  }
  return 0;
}

using Usage = bench_support::ProgramUsage;

// A 100 MB file, the server in its child process, and what the client's and curl's processes need;
// all in one scratch folder.
struct Rig {
  bench_support::ScratchFolder dir{"cloud-bench"};
  fs::path source = dir / "source.bin";
  fs::path rootPem = dir / "root.pem";
  int serverInput = -1;
  std::string host;
  int stopHook = 0;

  Rig() {
    stopHook = bench_support::addStopHook([] {
      if (pid_t child = serverPid.load(); child > 0) ::kill(child, SIGKILL);
    });
    writeSource();
    startServer();
  }

  ~Rig() {
    if (serverInput >= 0) ::close(serverInput);
    if (pid_t pid = serverPid.exchange(0); pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
    bench_support::removeStopHook(stopHook);
  }

  void writeSource() const {
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 2654435761u >> 24);
    std::ofstream out(source, std::ios::binary);
    for (std::int64_t written = 0; written < kSize; written += static_cast<std::int64_t>(block.size()))
      out.write(block.data(),
                static_cast<std::streamsize>(std::min<std::int64_t>(block.size(), kSize - written)));
  }

  void startServer() {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    const std::string self = bench_support::selfPath();
    const std::string folder = (dir / "server").string();
    std::vector<char*> argv{const_cast<char*>(self.c_str()), const_cast<char*>("--serve"),
                            const_cast<char*>(folder.c_str()), const_cast<char*>(source.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ) != 0) std::abort();
    posix_spawn_file_actions_destroy(&actions);
    serverPid = pid;
    ::close(toChild[0]);
    ::close(fromChild[1]);
    serverInput = toChild[1];

    std::string reply;
    char buffer[4096];
    for (ssize_t n; std::count(reply.begin(), reply.end(), '\n') < 2 &&
                    (n = ::read(fromChild[0], buffer, sizeof buffer)) > 0;)
      reply.append(buffer, static_cast<size_t>(n));
    ::close(fromChild[0]);
    const size_t line = reply.find('\n');
    if (line == std::string::npos) {
      std::fprintf(stderr, "the server did not start\n");
      std::exit(1);
    }
    host = reply.substr(0, line);
    std::string b64 = reply.substr(line + 1);
    while (!b64.empty() && (b64.back() == '\n' || b64.back() == '\r')) b64.pop_back();
    auto root = security::base64Decode(b64);
    if (!root) {
      std::fprintf(stderr, "the server's root certificate did not arrive\n");
      std::exit(1);
    }
    std::ofstream(dir / "host") << host << "\n";
    std::ofstream(dir / "root.b64") << b64 << "\n";
    std::ofstream pem(rootPem);
    pem << "-----BEGIN CERTIFICATE-----\n";
    for (size_t i = 0; i < b64.size(); i += 64) pem << b64.substr(i, 64) << "\n";
    pem << "-----END CERTIFICATE-----\n";
  }

  // The signed query the client sends (PLAINTEXT), for curl.
  std::string url(const std::string& path) const {
    return "https://" + host + path + "?oauth_consumer_key=" + kConsumerKey +
           "&oauth_token=tok&oauth_signature_method=PLAINTEXT&oauth_signature=" + kConsumerSecret +
           "%26sec&oauth_version=1.0";
  }

  // One transfer by the client in a process of its own; nothing when it failed.
  std::optional<Usage> timeClient(const std::string& kind, const fs::path& file) {
    const std::string client =
        (fs::path(bench_support::selfPath()).parent_path() / "cloud_bench_client").string();
    return bench_support::runProgram(
        {client, kind, dir.path().string(), file.string(), kConsumerKey, kConsumerSecret});
  }

  // curl with the client's trust and agent; nothing when it failed.
  std::optional<Usage> timeCurl(std::vector<std::string> arguments) {
    std::vector<std::string> all{"curl", "-sS", "--fail", "--cacert", rootPem.string(), "-H",
                                 "User-Agent: " + CloudRestClient::userAgent()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return bench_support::runProgram(std::move(all));
  }

  // curl, and then the file it wrote flushed to the disk, as the client flushes what it downloads:
  // the flush's wall and CPU time count as curl's.
  std::optional<Usage> timeCurlSynced(std::vector<std::string> arguments, const fs::path& written) {
    auto usage = timeCurl(std::move(arguments));
    if (!usage) return usage;
    const double wall = bench_support::wallSeconds(), cpu = bench_support::threadCpuSeconds();
    const int fd = ::open(written.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!synced) return std::nullopt;
    usage->wall += bench_support::wallSeconds() - wall;
    usage->cpu += bench_support::threadCpuSeconds() - cpu;
    return usage;
  }

};

std::unique_ptr<Rig>& rigSlot() {
  static std::unique_ptr<Rig> rig;
  return rig;
}

Rig& rig() {
  if (!rigSlot()) rigSlot() = std::make_unique<Rig>();
  return *rigSlot();
}

// The client against curl: ProgramLaps' counters, and the client's rate.
void report(benchmark::State& state, const bench_support::ProgramLaps& laps) {
  laps.report(state, "client", "curl");
  state.counters["MB_per_s"] = static_cast<double>(kSize) / 1e6 / bench_support::median(laps.a.wall);
}

// The client's and curl's transfer of one iteration, timed in an order that alternates from one
// iteration to the next (bench_support::inTurn).
struct Pair {
  std::optional<Usage> client, curl;
};
Pair timeInTurn(int iteration, const std::function<std::optional<Usage>()>& client,
                const std::function<std::optional<Usage>()>& curl) {
  Pair pair;
  bench_support::inTurn(iteration, [&] { pair.client = client(); }, [&] { pair.curl = curl(); });
  return pair;
}

void BM_DownloadVsCurl(benchmark::State& state) {
  Rig& r = rig();
  const fs::path clientFile = r.dir / "client.bin";
  const fs::path curlFile = r.dir / "curl.bin";
  bench_support::ProgramLaps laps;
  int iteration = 0;
  for (auto _ : state) {
    fs::remove(clientFile);
    fs::remove(curlFile);
    const Pair pair = timeInTurn(
        iteration++, [&] { return r.timeClient("download", clientFile); },
        [&] {
          return r.timeCurlSynced({"-o", curlFile.string(), r.url("/1/files/sandbox/big.bin")}, curlFile);
        });
    if (!pair.client || !pair.curl || fs::file_size(clientFile) != static_cast<std::uintmax_t>(kSize)) {
      state.SkipWithError("download failed");
      break;
    }
    state.SetIterationTime(pair.client->wall);
    laps.add(*pair.client, *pair.curl);
  }
  fs::remove(clientFile);
  fs::remove(curlFile);
  report(state, laps);
}

void BM_UploadVsCurl(benchmark::State& state) {
  Rig& r = rig();
  bench_support::ProgramLaps laps;
  int iteration = 0;
  for (auto _ : state) {
    const Pair pair = timeInTurn(
        iteration++, [&] { return r.timeClient("upload", r.source); },
        [&] {
          return r.timeCurl({"-X", "POST", "-T", r.source.string(), "-H", "Content-Type: application/octet-stream",
                             "-H", "Expect:", "-o", "/dev/null", r.url("/1/files_put/sandbox/curl.bin")});
        });
    if (!pair.client || !pair.curl) {
      state.SkipWithError("upload failed");
      break;
    }
    state.SetIterationTime(pair.client->wall);
    laps.add(*pair.client, *pair.curl);
  }
  report(state, laps);
}

BENCHMARK(BM_DownloadVsCurl)->Iterations(6)->Unit(benchmark::kSecond)->UseManualTime();
BENCHMARK(BM_UploadVsCurl)->Iterations(6)->Unit(benchmark::kSecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--serve") == 0) return serve(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  rigSlot().reset();
  return 0;
}
