// Failing to reach a host on a machine that is offline: each case runs in a child process with a
// network of its own that has nothing but a loopback interface, down or up.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "platform/net/http.h"
#include "platform/runtime/run_loop.h"

namespace net {
namespace {

constexpr int kNoNetworkOfItsOwn = 99;

bool bringLoopbackUp() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  ::close(fd);
  return up;
}

// The error code the request ends with, run in a child without a network (code -1000 - n exits
// with n); nothing when the system gives no process a network of its own.
std::optional<std::int64_t> codeWhenOffline(const std::string& url, bool loopbackUp) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) ::_exit(kNoNetworkOfItsOwn);
    if (loopbackUp && !bringLoopbackUp()) ::_exit(kNoNetworkOfItsOwn);
    runtime::RunLoop loop;
    std::optional<foundation::Result<HttpResponse>> result;
    HttpRequest request;
    request.url = url;
    request.timeoutSeconds = 10;
    HttpCallbacks callbacks;
    callbacks.completion = [&](foundation::Result<HttpResponse> r) { result = std::move(r); };
    auto connection = HttpConnection::start(request, std::move(callbacks), loop);
    if (!loop.runUntil([&] { return result.has_value(); }, 30) || result->ok()) ::_exit(1);
    const std::int64_t code = result->error().code;
    ::_exit(code <= -1000 && code > -1000 - kNoNetworkOfItsOwn ? static_cast<int>(-1000 - code) : 2);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 0;
  if (WEXITSTATUS(status) == kNoNetworkOfItsOwn) return std::nullopt;
  return -1000 - WEXITSTATUS(status);
}

TEST(HttpOffline, AHostThatCannotBeReachedSaysTheMachineIsOffline) {
  struct Case {
    std::string url;
    bool loopbackUp;
    std::int64_t code;
  };
  const Case cases[] = {
      // No name resolves, and no address is reachable, without a network.
      {"https://api.cloudstorage.example/1/account/info", false, kURLErrorNotConnectedToInternet},
      {"https://127.0.0.1:1/", false, kURLErrorNotConnectedToInternet},
      // A refusal comes from a host that was reached.
      {"https://127.0.0.1:1/", true, kURLErrorCannotConnectToHost},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url + (c.loopbackUp ? " (loopback up)" : ""));
    auto code = codeWhenOffline(c.url, c.loopbackUp);
    if (!code) GTEST_SKIP() << "no process may have a network of its own here";
    EXPECT_EQ(*code, c.code);
  }
}

}  // namespace
}  // namespace net
