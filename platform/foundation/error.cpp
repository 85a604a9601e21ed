#include "platform/foundation/error.h"

namespace foundation {

Error Error::make(std::string domain, std::int64_t code, std::string description,
                  std::shared_ptr<const Error> underlying) {
  Dictionary info;
  info.set(std::string(kLocalizedDescriptionKey), std::move(description));
  return Error(std::move(domain), code, std::move(info), std::move(underlying));
}

std::string Error::localizedDescription() const {
  if (const std::string* text = userInfo[kLocalizedDescriptionKey].string()) return *text;
  return "The operation couldn\u2019t be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

std::optional<std::string> Error::localizedFailureReason() const {
  if (const std::string* text = userInfo[kLocalizedFailureReasonKey].string()) return *text;
  return std::nullopt;
}

std::string Error::description() const {
  std::string out =
      "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + localizedDescription() + "\"";
  if (!userInfo.empty() || underlying) {
    Dictionary shown = userInfo;
    if (underlying) shown.set(std::string(kUnderlyingErrorKey), underlying->description());
    out += " UserInfo=" + Value(std::move(shown)).description();
  }
  return out;
}

bool operator==(const Error& a, const Error& b) {
  if (a.domain != b.domain || a.code != b.code || !(a.userInfo == b.userInfo)) return false;
  if (!a.underlying || !b.underlying) return !a.underlying && !b.underlying;
  return *a.underlying == *b.underlying;
}

}  // namespace foundation
