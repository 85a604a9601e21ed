#include "platform/ui/mail_composer.h"

#include <cstdio>
#include <mutex>
#include <system_error>

#include "platform/files/app_home.h"
#include "platform/files/file_ops.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/platform_texts.h"
#include "platform/security/digest.h"
#include "platform/ui/application.h"

namespace ui {

namespace {

struct Outbox {
  std::mutex mutex;
  std::optional<std::filesystem::path> folder;
};

Outbox& outbox() {
  static Outbox o;
  return o;
}

// Mail bodies end every line with CR LF, a short last one too.
std::string base64Lines(const foundation::Bytes& data) {
  std::string out = security::base64Encode(data, 76);
  if (!out.empty() && !out.ends_with("\r\n")) out += "\r\n";
  return out;
}

bool isPlainAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80 || c == '\r' || c == '\n') return false;
  }
  return true;
}

// A header value: as it is when plain ASCII, else an encoded word. Line breaks never pass into a
// header (they would start headers of their own).
std::string headerValue(const std::string& text) {
  if (isPlainAscii(text)) return text;
  std::string flat;
  for (char c : text) flat += (c == '\r' || c == '\n') ? ' ' : c;
  if (isPlainAscii(flat)) return flat;
  return "=?UTF-8?B?" + security::base64Encode(flat) + "?=";
}

// A quoted file name for a MIME parameter, without quotes or line breaks of its own.
std::string parameterValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\' || c == '\r' || c == '\n') continue;
    out += c;
  }
  return headerValue(out);
}

std::string joined(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& item : list) {
    if (!out.empty()) out += ", ";
    out += headerValue(item);
  }
  return out;
}

std::string normalisedBody(const std::string& body) {
  std::string out;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\r') continue;
    if (body[i] == '\n') {
      out += "\r\n";
    } else {
      out += body[i];
    }
  }
  return out;
}

}  // namespace

bool MailComposeViewController::canSendMail() { return device().canSendMail; }

void MailComposeViewController::setOutboxFolder(std::filesystem::path folder) {
  std::lock_guard lock(outbox().mutex);
  outbox().folder = std::move(folder);
}

std::filesystem::path MailComposeViewController::outboxFolder() {
  std::lock_guard lock(outbox().mutex);
  if (outbox().folder) return *outbox().folder;
  return files::AppHome::fromEnvironment().root() / "Outbox";
}

void MailComposeViewController::setMessageBody(std::string body, bool isHTML) {
  body_ = std::move(body);
  bodyIsHTML_ = isHTML;
}

void MailComposeViewController::addAttachmentData(foundation::Bytes data, std::string mimeType,
                                                  std::string fileName) {
  attachments_.push_back({std::move(data), std::move(mimeType), std::move(fileName)});
}

std::string MailComposeViewController::messageText() const {
  std::string text;
  text += "To: " + joined(to_) + "\r\n";
  text += "Subject: " + headerValue(subject_) + "\r\n";
  text += "MIME-Version: 1.0\r\n";
  std::string bodyType = std::string(bodyIsHTML_ ? "text/html" : "text/plain") + "; charset=UTF-8";
  if (attachments_.empty()) {
    text += "Content-Type: " + bodyType + "\r\n";
    text += "Content-Transfer-Encoding: 8bit\r\n\r\n";
    text += normalisedBody(body_);
    return text;
  }
  const std::string boundary = "=_diary_mail_boundary_0";
  text += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  text += "--" + boundary + "\r\n";
  text += "Content-Type: " + bodyType + "\r\n";
  text += "Content-Transfer-Encoding: 8bit\r\n\r\n";
  text += normalisedBody(body_) + "\r\n";
  for (const auto& a : attachments_) {
    std::string name = parameterValue(a.fileName);
    text += "--" + boundary + "\r\n";
    text += "Content-Type: " + parameterValue(a.mimeType) + "; name=\"" + name + "\"\r\n";
    text += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n";
    text += "Content-Transfer-Encoding: base64\r\n\r\n";
    text += base64Lines(a.data);
  }
  text += "--" + boundary + "--\r\n";
  return text;
}

void MailComposeViewController::send() {
  readFields();
  std::filesystem::path folder = outboxFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    finish(MailComposeResult::kFailed,
           foundation::Error::make("MFMailComposeErrorDomain", 1,
                                   "The outbox could not be made: " + ec.message()));
    return;
  }
  std::filesystem::path file;
  for (int n = 1; n < 100000; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "mail-%04d.eml", n);
    if (!std::filesystem::exists(folder / name, ec)) {
      file = folder / name;
      break;
    }
  }
  if (file.empty()) {
    finish(MailComposeResult::kFailed,
           foundation::Error::make("MFMailComposeErrorDomain", 1, "The outbox is full"));
    return;
  }
  foundation::Status written = files::writeAtomic(file, messageText());
  if (!written.ok()) {
    finish(MailComposeResult::kFailed, written.error());
    return;
  }
  sentFile_ = file;
  finish(MailComposeResult::kSent, std::nullopt);
}

void MailComposeViewController::saveDraft() { finish(MailComposeResult::kSaved, std::nullopt); }

void MailComposeViewController::cancel() { finish(MailComposeResult::kCancelled, std::nullopt); }

void MailComposeViewController::finish(MailComposeResult result,
                                       const std::optional<foundation::Error>& error) {
  auto keep = weak_from_this().lock();
  if (delegate_) delegate_->mailComposeControllerDidFinish(*this, result, error);
}

// --- The screen

namespace {

constexpr double kRowHeight = 44;
constexpr double kInset = 15;
const Color kHairline = Color::rgb255(200, 199, 204);

std::shared_ptr<View> hairline(double y, double width) {
  auto line = std::make_shared<View>(Rect(kInset, y - 0.5, width - kInset, 0.5));
  line->setBackgroundColor(kHairline);
  line->setAutoresizingMask(kFlexibleWidth);
  return line;
}

std::shared_ptr<Label> rowLabel(const std::string& text, double y, double width) {
  // A longer word of another language widens its row's label, never cuts it.
  const Font font = Font::systemFontOfSize(15);
  width = std::max(width, graphics::defaultTextMeasurer()->sizeOf(text, font).width + 6);
  auto label = std::make_shared<Label>(Rect(kInset, y, width, kRowHeight));
  label->setText(text);
  label->setFont(font);
  label->setTextColor(Color::white(0.56));
  return label;
}

std::vector<std::string> splitRecipients(const std::string& text) {
  std::vector<std::string> out;
  std::string item;
  auto flush = [&] {
    const size_t first = item.find_first_not_of(" \t");
    if (first != std::string::npos) out.push_back(item.substr(first, item.find_last_not_of(" \t") - first + 1));
    item.clear();
  };
  for (char c : text) {
    if (c == ',' || c == ';')
      flush();
    else
      item += c;
  }
  flush();
  return out;
}

}  // namespace

void MailComposeViewController::loadView() {
  const Rect frame = presentationFrame(modalPresentationStyle());
  auto root = std::make_shared<View>(frame);
  root->setBackgroundColor(Color::white());
  const double width = frame.width();
  const double inset = Application::shared().isStatusBarHidden() ? 0 : 20;

  bar_ = std::make_shared<NavigationBar>();
  bar_->setFrame(Rect(0, 0, width, NavigationBar::kBarHeight + inset));
  if (barTint_) bar_->setBackgroundColor(*barTint_);
  root->addSubview(bar_);
  std::weak_ptr<ViewController> weak = weak_from_this();
  navigationItem().setLeftBarButtonItem(
      BarButtonItem::withTitle(platformText("Cancel"), BarButtonItemStyle::kPlain, [weak](BarButtonItem&) {
        if (auto self = weak.lock()) static_cast<MailComposeViewController&>(*self).cancel();
      }));
  navigationItem().setRightBarButtonItem(
      BarButtonItem::withTitle(platformText("Send"), BarButtonItemStyle::kDone, [weak](BarButtonItem&) {
        if (auto self = weak.lock()) static_cast<MailComposeViewController&>(*self).send();
      }));

  double y = bar_->frame().maxY();
  auto toLabel = rowLabel(platformText("To:"), y, 40);
  root->addSubview(toLabel);
  const double toWidth = toLabel->frame().width();
  toField_ = std::make_shared<TextField>(
      Rect(kInset + toWidth, y + 6, width - 2 * kInset - toWidth, kRowHeight - 12));
  toField_->setKeyboardType(KeyboardType::kEmailAddress);
  // What a screen reader (and the diary's console) calls the fields while they are empty.
  toField_->setAccessibilityLabel(platformText("Recipients"));
  toField_->addTarget(
      [weak](Control&) {
        if (auto self = weak.lock()) static_cast<MailComposeViewController&>(*self).enableSend();
      },
      kControlEventEditingChanged);
  root->addSubview(toField_);
  y += kRowHeight;
  root->addSubview(hairline(y, width));
  auto subjectLabel = rowLabel(platformText("Subject:"), y, 65);
  root->addSubview(subjectLabel);
  const double subjectWidth = subjectLabel->frame().width();
  subjectField_ = std::make_shared<TextField>(
      Rect(kInset + subjectWidth, y + 6, width - 2 * kInset - subjectWidth, kRowHeight - 12));
  subjectField_->setAccessibilityLabel(platformText("Subject"));
  root->addSubview(subjectField_);
  y += kRowHeight;
  root->addSubview(hairline(y, width));
  attachmentLabels_.clear();
  for (const auto& attachment : attachments_) {
    auto label = std::make_shared<Label>(Rect(kInset, y, width - 2 * kInset, kRowHeight));
    label->setText(attachment.fileName);
    label->setFont(Font::systemFontOfSize(15));
    label->setTextColor(Color::systemBlue());
    root->addSubview(label);
    attachmentLabels_.push_back(label);
    y += kRowHeight;
    root->addSubview(hairline(y, width));
  }
  bodyView_ = std::make_shared<TextView>(Rect(kInset, y + 4, width - 2 * kInset, std::max(0.0, frame.height() - y - 4)));
  bodyView_->setFont(Font::systemFontOfSize(15));
  bodyView_->setAccessibilityLabel(platformText("Message"));
  root->addSubview(bodyView_);
  setView(root);
  fillFields();
}

void MailComposeViewController::fillFields() {
  if (!bar_) return;
  navigationItem().setTitle(subject_.empty() ? platformText("New Message") : subject_);
  bar_->showItem(&navigationItem(), std::nullopt, {});
  std::string recipients;
  for (const auto& r : to_) recipients += (recipients.empty() ? "" : ", ") + r;
  toField_->setText(recipients);
  subjectField_->setText(subject_);
  bodyView_->setText(body_);
  enableSend();
}

void MailComposeViewController::enableSend() {
  // A message with no one to go to cannot be sent.
  if (const auto& item = navigationItem().rightBarButtonItem())
    item->setEnabled(!splitRecipients(toField_->text()).empty());
}

void MailComposeViewController::readFields() {
  if (!bar_) return;
  to_ = splitRecipients(toField_->text());
  subject_ = subjectField_->text();
  body_ = bodyView_->text();
}

}  // namespace ui
