#include "platform/ui/mail_composer.h"

#include <cstdio>
#include <mutex>
#include <system_error>

#include "platform/files/app_home.h"
#include "platform/files/file_ops.h"
#include "platform/security/digest.h"

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

}  // namespace ui
