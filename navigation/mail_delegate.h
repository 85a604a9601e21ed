#pragma once
// mailDelegate: the base of every screen that sends mail (the notes list, the settings screen, the
// report screen). It opens the mail composer when the device has a mail account, and otherwise
// hands a "mailto:" link to the system (the attachment cannot travel that way and is dropped).
//
//   launchMailAppOnDevice(to, subject, body, attachment)
//     canSendMail ──yes──> displayComposerSheet ──> composer presented ──> did finish: logged
//                 ──no───> openURL("mailto:<to>?&subject=<subject>&body=<body>")
//
// The link escapes each part on its own as UTF-8, so a subject holding "&" or "=" stays one
// subject. The screen does not dismiss the composer; subclasses that want it gone do so in their
// override after calling this one. Main thread only.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/mail_composer.h"
#include "platform/ui/view_controller.h"

namespace navigation {

class mailDelegate : public ui::ViewController, public ui::MailComposeDelegate {
 public:
  // Each argument may be absent; an absent one is left out of the message (and of the link).
  // An attachment is a file path; it travels as "report.pdf" of type "text/pdf".
  void launchMailAppOnDevice(const std::optional<std::string>& recipient,
                             const std::optional<std::string>& subject,
                             const std::optional<std::string>& body,
                             const std::optional<std::string>& attachmentPath);

  // Presents a composer with this screen as its delegate. An attachment that cannot be read is
  // logged and left out; the message can still be sent.
  void displayComposerSheet(const std::vector<std::string>& recipients,
                            const std::optional<std::string>& subject, const std::optional<std::string>& body,
                            const std::optional<std::string>& attachmentPath);

  // Logs how the composing ended. It does not dismiss the composer.
  void mailComposeControllerDidFinish(ui::MailComposeViewController& composer, ui::MailComposeResult result,
                                      const std::optional<foundation::Error>& error) override;

  // The "mailto:" link for the device without a mail account; absent parts are empty.
  static std::string mailtoURL(std::string_view recipient, std::string_view subject, std::string_view body);
};

}  // namespace navigation
