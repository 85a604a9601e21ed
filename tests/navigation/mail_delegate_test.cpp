#include "navigation/mail_delegate.h"

#include <gtest/gtest.h>

#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/ui/application.h"
#include "platform/ui/ui_fixture.h"
#include "support/temp_dir.h"

namespace navigation {
namespace {

class MailDelegateTest : public ui_testing::UiTest {
 protected:
  std::shared_ptr<mailDelegate> screen() {
    auto screen = std::make_shared<mailDelegate>();
    window_ = std::make_shared<ui::Window>();
    window_->setRootViewController(screen);
    window_->makeKeyAndVisible();
    runLoop();
    return screen;
  }
  ~MailDelegateTest() override {
    if (window_) window_->setRootViewController(nullptr);
    runLoop();
  }

  testing_support::TempDir temp_;
  std::shared_ptr<ui::Window> window_;
};

TEST_F(MailDelegateTest, WithoutAMailAccountALinkEscapedAsUtf8OpensAndTheAttachmentIsDropped) {
  ui::DeviceProfile profile = ui::device();
  profile.canSendMail = false;
  ui::ScopedDevice noMail(profile);
  auto list = screen();
  list->launchMailAppOnDevice(std::string("help+diary@example.com"), std::string("Bugs & ideas: ёжик"),
                              std::nullopt, std::string("/nowhere/report.pdf"));
  ASSERT_EQ(ui::Application::shared().openedURLs().size(), 1u);
  EXPECT_EQ(
      ui::Application::shared().openedURLs()[0],
      "mailto:help%2Bdiary@example.com?&subject=Bugs%20%26%20ideas%3A%20%D1%91%D0%B6%D0%B8%D0%BA&body=");
  EXPECT_EQ(list->presentedViewController(), nullptr);
}

TEST_F(MailDelegateTest, TheComposerCarriesTheReportAndTheEndIsLoggedWithoutClosingIt) {
  const auto report = temp_.path() / "r.pdf";
  ASSERT_TRUE(files::writeAtomic(report, std::string_view("%PDF-1.4")).ok());
  auto list = screen();
  list->launchMailAppOnDevice(std::string("a@b.c"), std::string("Report"), std::string("Hello"),
                              report.string());
  runLoop();
  auto* composer = dynamic_cast<ui::MailComposeViewController*>(list->presentedViewController());
  ASSERT_NE(composer, nullptr);
  EXPECT_EQ(composer->toRecipients(), std::vector<std::string>{"a@b.c"});
  EXPECT_EQ(composer->messageBody(), "Hello");
  ASSERT_EQ(composer->attachments().size(), 1u);
  EXPECT_EQ(composer->attachments()[0].mimeType, "text/pdf");
  EXPECT_EQ(composer->attachments()[0].fileName, "report.pdf");
  EXPECT_EQ(ui::Application::shared().statusBarStyle(), ui::StatusBarStyle::kLightContent);

  foundation::ScopedLogCapture log;
  composer->cancel();
  EXPECT_TRUE(log.contains("Mail cancelled"));
  EXPECT_EQ(list->presentedViewController(), composer);
}

TEST_F(MailDelegateTest, AnUnreadableAttachmentIsLeftOutAndTheMailStillOpens) {
  auto list = screen();
  foundation::ScopedLogCapture log;
  list->launchMailAppOnDevice(std::nullopt, std::nullopt, std::nullopt, (temp_.path() / "gone.pdf").string());
  auto* composer = dynamic_cast<ui::MailComposeViewController*>(list->presentedViewController());
  ASSERT_NE(composer, nullptr);
  EXPECT_TRUE(composer->attachments().empty());
  EXPECT_TRUE(composer->toRecipients().empty());
  EXPECT_TRUE(log.contains("Mail attachment left out"));
}

}  // namespace
}  // namespace navigation
