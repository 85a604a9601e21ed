// A parent links the diary to the cloud through the service's sign-in page, at the `diary` console:
// Connect shows the page, the parent types an email and a password into its fields and presses
// return in the last (the page's own button is tapped in the cloud tests), and the backup screen
// then offers to disconnect. The screens go to
// test-output/cloud_login_walk.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/files/file_ops.h"
#include "program_run.h"
#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace {

using namespace program_run;

TEST(CloudLoginWalk, AParentSignsInOnTheServicesPage) {
  testing_support::TempDir dir;
  testing_support::CloudServer::Options options;
  options.loginForm = true;
  testing_support::CloudServer server(dir / "server", options);
  ASSERT_TRUE(server.running());
  const auto& der = server.rootCertificate();
  ASSERT_TRUE(files::writeAtomic(dir / "root.der", std::string(der.begin(), der.end())).ok());
  const std::string environment =
      "DIARY_CLOUD_HOST=" + server.host() + " DIARY_CLOUD_ROOT=" + (dir / "root.der").string();

  testing_support::TempDir home;
  const DiaryRun run =
      runDiaryScript(home,
                     std::string(kNewBabyFirstRun) +
                         "tap iPhone_list_button\ntap Settings\ntap Cloud\ntap Connect\nwait 10\nlook\n"
                         "tap you@example.com\ntype parent@example.com\ntap \"Your password\"\ntype hunter2\nlook\n"
                         "key return\nwait 10\nlook\nquit\n",
                     testing_support::testOutput() / "cloud_login_walk", "", environment);
  ASSERT_EQ(run.status, 0) << run.out;
  const auto looks = lookTexts(run.out);
  ASSERT_EQ(looks.size(), 3u) << run.out;
  for (const char* shown : {"Welcome back", "Email", "you@example.com", "Your password", "Sign in"})
    EXPECT_TRUE(lists(looks[0], shown)) << shown << "\n" << run.out;
  // The typed password is listed as the field draws it, never as typed.
  EXPECT_TRUE(lists(looks[1], "\u2022\u2022\u2022\u2022\u2022\u2022\u2022")) << run.out;
  EXPECT_EQ(run.out.find("hunter2"), std::string::npos) << run.out;
  EXPECT_TRUE(lists(looks[2], "Disconnect")) << run.out;
  EXPECT_FALSE(lists(looks[2], "Sign in")) << run.out;

  bool posted = false;
  for (const auto& seen : server.requests())
    if (seen.method == "POST" && seen.path == "/1/connect_login")
      posted = seen.params.count("login_email") && seen.params.at("login_email") == "parent@example.com" &&
               seen.params.count("login_password") && seen.params.at("login_password") == "hunter2";
  EXPECT_TRUE(posted) << run.out;
}

}  // namespace
