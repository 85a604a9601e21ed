#pragma once
// The stand-in cloud service for walks that back up or restore: a server with the one account the
// diary links to, named to the program through DIARY_CLOUD_HOST and DIARY_CLOUD_ROOT while it lives;
// a data root linked to it as if the parent had linked it; and the account's backup made by the
// diary's own archiver from a store holding the babies asked for.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "app/backup_restore.h"
#include "app/entities.h"
#include "app/model.h"
#include "cloud/cloud_keychain.h"
#include "cloud/cloud_session.h"
#include "platform/files/app_home.h"
#include "platform/files/file_ops.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/user_defaults.h"
#include "platform/security/keychain.h"
#include "platform/store/store.h"
#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace program_run {

class LinkedCloud {
 public:
  LinkedCloud() : server_(dir_ / "server") {
    server_.addUser("31337", "tok", "sec");
    const auto& der = server_.rootCertificate();
    EXPECT_TRUE(files::writeAtomic(dir_ / "root.der", std::string(der.begin(), der.end())).ok());
    ::setenv("DIARY_CLOUD_HOST", server_.host().c_str(), 1);
    ::setenv("DIARY_CLOUD_ROOT", (dir_ / "root.der").c_str(), 1);
  }
  ~LinkedCloud() {
    ::unsetenv("DIARY_CLOUD_HOST");
    ::unsetenv("DIARY_CLOUD_ROOT");
    cloud::CloudKeychain::configure(nullptr, "");
  }
  LinkedCloud(const LinkedCloud&) = delete;
  LinkedCloud& operator=(const LinkedCloud&) = delete;

  // The keychain and preferences of the data root home/"root" hold the account's token.
  static void link(const testing_support::TempDir& home) {
    const files::AppHome app(home / "root");
    ASSERT_TRUE(app.create().ok());
    const std::string bundleId = runtime::Bundle(testing_support::resourcesFolder()).bundleIdentifier();
    cloud::CloudKeychain::configure(std::make_shared<security::Keychain>(app), bundleId);
    auto defaults = std::make_shared<runtime::UserDefaults>(runtime::UserDefaults::fileFor(app, bundleId));
    cloud::CloudSession session(std::string(app::kCloudAppKey), std::string(app::kCloudAppSecret),
                                std::string(app::kCloudRoot), defaults);
    session.updateAccessTokenAccessTokenSecretForUserId("tok", "sec", "31337");
    ASSERT_TRUE(defaults->synchronize().ok());
    cloud::CloudKeychain::configure(nullptr, "");
  }

  // The account's "/backUp.zip": the archive of a data root whose store holds these babies.
  void putBackUp(const std::vector<std::string>& babies) {
    testing_support::TempDir other;
    const files::AppHome app(other / "root");
    ASSERT_TRUE(app.create().ok());
    {
      auto store = store::Store::open(app.documents() / std::string(app::kDataBaseFileName),
                                      app::managedObjectModel());
      ASSERT_TRUE(store.ok());
      auto context = (*store)->newContext().value();
      for (const auto& name : babies) app::Baby::insertIn(*context).setBaby_Name(name);
      ASSERT_TRUE(context->save().ok());
      ASSERT_TRUE((*store)->close().ok());
    }
    app::localSaves saves(app);
    app::BackupRestore backup(saves, app::BackUpHooks{[] { return foundation::Status{}; }, {}});
    auto archive = backup.makeBackUp();
    ASSERT_TRUE(archive.ok());
    auto bytes = files::readFile(*archive);
    ASSERT_TRUE(bytes.ok());
    server_.putFile("/backUp.zip", std::string(bytes->begin(), bytes->end()));
  }

  testing_support::CloudServer& server() { return server_; }

 private:
  testing_support::TempDir dir_;
  testing_support::CloudServer server_;
};

}  // namespace program_run
