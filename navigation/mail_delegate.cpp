#include "navigation/mail_delegate.h"

#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/ui/application.h"

namespace navigation {

namespace {

using foundation::text::percentEscaped;

}  // namespace

std::string mailDelegate::mailtoURL(std::string_view recipient, std::string_view subject,
                                    std::string_view body) {
  return "mailto:" + percentEscaped(recipient, "@") + "?&subject=" + percentEscaped(subject) +
         "&body=" + percentEscaped(body);
}

void mailDelegate::launchMailAppOnDevice(const std::optional<std::string>& recipient,
                                         const std::optional<std::string>& subject,
                                         const std::optional<std::string>& body,
                                         const std::optional<std::string>& attachmentPath) {
  if (ui::MailComposeViewController::canSendMail()) {
    std::vector<std::string> recipients;
    if (recipient) recipients.push_back(*recipient);
    displayComposerSheet(recipients, subject, body, attachmentPath);
    return;
  }
  ui::Application::shared().openURL(
      mailtoURL(recipient.value_or(""), subject.value_or(""), body.value_or("")));
}

void mailDelegate::displayComposerSheet(const std::vector<std::string>& recipients,
                                        const std::optional<std::string>& subject,
                                        const std::optional<std::string>& body,
                                        const std::optional<std::string>& attachmentPath) {
  auto composer = std::make_shared<ui::MailComposeViewController>();
  composer->setMailComposeDelegate(this);
  composer->setNavigationBarTintColor(ui::Color(0, 0.47843137383461, 1, 1));
  composer->setToRecipients(recipients);
  composer->setSubject(subject.value_or(""));
  composer->setMessageBody(body.value_or(""), false);
  if (attachmentPath) {
    auto bytes = files::readFile(*attachmentPath);
    if (bytes.ok())
      composer->addAttachmentData(std::move(bytes).value(), "text/pdf", "report.pdf");
    else
      foundation::log("Mail attachment left out: " + bytes.error().localizedDescription());
  }
  std::weak_ptr<ui::ViewController> weak = weak_from_this();
  presentViewController(composer, true, [weak] {
    ui::Application::shared().setStatusBarStyle(ui::StatusBarStyle::kLightContent);
    if (auto self = weak.lock()) self->setNeedsStatusBarAppearanceUpdate();
  });
}

void mailDelegate::mailComposeControllerDidFinish(ui::MailComposeViewController&,
                                                  ui::MailComposeResult result,
                                                  const std::optional<foundation::Error>& error) {
  switch (result) {
    case ui::MailComposeResult::kCancelled:
      foundation::log("Mail cancelled");
      break;
    case ui::MailComposeResult::kSaved:
      foundation::log("Mail saved");
      break;
    case ui::MailComposeResult::kSent:
      foundation::log("Mail sent");
      break;
    case ui::MailComposeResult::kFailed:
      foundation::log("Mail sent failure: " +
                      (error ? error->localizedDescription() : std::string("(null)")));
      break;
  }
}

}  // namespace navigation
