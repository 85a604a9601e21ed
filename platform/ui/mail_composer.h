#pragma once
// The mail composer: a screen holding a message (recipients, subject, body, attachments). Sending
// writes the message as an RFC 5322 file ("mail-0001.eml", ...) into the outbox folder; the
// delegate then hears how the composing ended.
//
// On screen it is what a person fills in: a bar with "Cancel", the subject (or "New Message") and
// "Send" (offered only while there is a recipient); a "To:" field with the recipients
// (comma-separated), a "Subject:" field, a line naming each attachment, and the body. What the
// person typed is what is sent. The composer does not close itself: as on the platform, the
// delegate dismisses it when it hears the result. Its own texts (buttons, row names, the empty
// fields' names) are in the interface language (platformText).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/ui/text_input.h"
#include "platform/ui/view_controller.h"

namespace ui {

class MailComposeViewController;

// The platform's values.
enum class MailComposeResult { kCancelled = 0, kSaved = 1, kSent = 2, kFailed = 3 };

// Non-owning.
class MailComposeDelegate {
 public:
  virtual ~MailComposeDelegate() = default;
  virtual void mailComposeControllerDidFinish(MailComposeViewController& composer, MailComposeResult result,
                                              const std::optional<foundation::Error>& error) = 0;
};

class MailComposeViewController : public ViewController {
 public:
  struct Attachment {
    foundation::Bytes data;
    std::string mimeType;
    std::string fileName;
  };

  // Whether the device has a mail account (the device profile says).
  static bool canSendMail();
  // Where sent mail goes; "Outbox" under the data root until set.
  static void setOutboxFolder(std::filesystem::path folder);
  static std::filesystem::path outboxFolder();

  MailComposeDelegate* mailComposeDelegate() const { return delegate_; }
  void setMailComposeDelegate(MailComposeDelegate* delegate) { delegate_ = delegate; }

  const std::vector<std::string>& toRecipients() const { return to_; }
  void setToRecipients(std::vector<std::string> recipients) { to_ = std::move(recipients); }
  const std::string& subject() const { return subject_; }
  void setSubject(std::string subject) { subject_ = std::move(subject); }
  const std::string& messageBody() const { return body_; }
  bool isBodyHTML() const { return bodyIsHTML_; }
  void setMessageBody(std::string body, bool isHTML);
  const std::vector<Attachment>& attachments() const { return attachments_; }
  void addAttachmentData(foundation::Bytes data, std::string mimeType, std::string fileName);
  const std::optional<Color>& navigationBarTintColor() const { return barTint_; }
  void setNavigationBarTintColor(Color color) { barTint_ = color; }

  // The message as it is written: headers, then a plain body or a multipart body with the
  // attachments in base64.
  std::string messageText() const;

  // The user's buttons. send() writes the message atomically into the outbox and reports kSent, or
  // kFailed with the error when it cannot be written.
  void send();
  void saveDraft();
  void cancel();
  // Where send() wrote the message.
  const std::optional<std::filesystem::path>& sentFile() const { return sentFile_; }

  // The fields show the message as it was set before the view loaded.
  void loadView() override;

 private:
  void finish(MailComposeResult result, const std::optional<foundation::Error>& error);
  // Takes what the person typed into the message; fills the fields from the message.
  void readFields();
  void fillFields();
  // Send is offered only while the "To:" field names a recipient.
  void enableSend();

  MailComposeDelegate* delegate_ = nullptr;
  std::vector<std::string> to_;
  std::string subject_;
  std::string body_;
  bool bodyIsHTML_ = false;
  std::vector<Attachment> attachments_;
  std::optional<Color> barTint_;
  std::optional<std::filesystem::path> sentFile_;
  std::shared_ptr<NavigationBar> bar_;
  std::shared_ptr<TextField> toField_;
  std::shared_ptr<TextField> subjectField_;
  std::shared_ptr<TextView> bodyView_;
  std::vector<std::shared_ptr<Label>> attachmentLabels_;
};

}  // namespace ui
