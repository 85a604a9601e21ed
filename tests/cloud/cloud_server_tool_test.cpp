// The stand-in service's program, as a person starts it by hand: asking for help, or giving wrong
// arguments, prints the usage and makes nothing.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;

TEST(CloudServerTool, HelpAndWrongArgumentsPrintTheUsageAndMakeNothing) {
  TempDir dir;
  const std::string folder = (dir / "served").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    bool usageOnStdout;
  };
  const Case cases[] = {
      {{"--help"}, 0, true},
      {{"-h"}, 0, true},
      {{}, 2, false},
      {{"--port", "8443"}, 2, false},
      {{""}, 2, false},
      {{folder, "port"}, 2, false},
      {{folder, "65536"}, 2, false},
      {{folder, "8443x"}, 2, false},
      {{folder, "8443", "more"}, 2, false},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const auto& arg : c.args) line += " '" + arg + "'";
    SCOPED_TRACE(line);
    std::vector<std::string> storage{"cloud_server"};
    storage.insert(storage.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (auto& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);

    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = runCloudServer(static_cast<int>(storage.size()), argv.data());
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(status, c.status);
    const std::string& usage = c.usageOnStdout ? out : err;
    EXPECT_TRUE(usage.starts_with("usage: cloud_server <folder> [port]\n")) << usage;
    EXPECT_NE(usage.find("DIARY_CLOUD_HOST="), std::string::npos);
    EXPECT_NE(usage.find("DIARY_CLOUD_ROOT="), std::string::npos);
    EXPECT_TRUE((c.usageOnStdout ? err : out).empty());
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(fs::exists("--help"));
    EXPECT_FALSE(fs::exists("-h"));
  }
}

}  // namespace
}  // namespace testing_support
