#include "platform/net/text_encoding.h"

#include <strings.h>
#include <unicode/ucnv.h>

#include <cstdint>
#include <memory>

#include "platform/foundation/text.h"
#include "platform/net/http.h"

namespace net {
namespace {

constexpr size_t kMaxCharsetNameLength = 40;

bool isCharsetNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == ':' || c == '+' || c == '(' || c == ')';
}

bool isPlainCharsetName(std::string_view name) {
  if (name.empty() || name.size() > kMaxCharsetNameLength) return false;
  for (char c : name)
    if (!isCharsetNameCharacter(c)) return false;
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// A converter that stops at the first byte sequence the set does not define.
Converter openStrict(const std::string& name) {
  UErrorCode status = U_ZERO_ERROR;
  Converter converter(ucnv_open(name.c_str(), &status));
  if (U_FAILURE(status)) return nullptr;
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  return U_SUCCESS(status) ? std::move(converter) : nullptr;
}

}  // namespace

std::optional<StringEncoding> StringEncoding::forIANACharSetName(std::string_view name) {
  if (!isPlainCharsetName(name)) return std::nullopt;
  const std::string text(name);
  UErrorCode status = U_ZERO_ERROR;
  const bool iana = ucnv_getStandardName(text.c_str(), "IANA", &status) != nullptr && U_SUCCESS(status);
  status = U_ZERO_ERROR;
  const bool mime = ucnv_getStandardName(text.c_str(), "MIME", &status) != nullptr && U_SUCCESS(status);
  if (!iana && !mime) return std::nullopt;
  Converter converter = openStrict(text);
  if (!converter) return std::nullopt;
  status = U_ZERO_ERROR;
  const char* canonical = ucnv_getName(converter.get(), &status);
  if (U_FAILURE(status) || canonical == nullptr) return std::nullopt;
  return StringEncoding(canonical);
}

std::optional<std::string> StringEncoding::decode(std::string_view bytes) const {
  if (name_ == "UTF-8") {
    if (!foundation::text::isValidUtf8(bytes)) return std::nullopt;
    return std::string(bytes);
  }
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) return std::nullopt;
  Converter converter = openStrict(name_);
  if (!converter) return std::nullopt;
  // Measured first: a few sets map one byte sequence to more than one character.
  UErrorCode status = U_ZERO_ERROR;
  const auto size = static_cast<int32_t>(bytes.size());
  const int32_t needed = ucnv_toUChars(converter.get(), nullptr, 0, bytes.data(), size, &status);
  if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR) return std::nullopt;
  std::u16string units(static_cast<size_t>(needed) + 1, u'\0');
  status = U_ZERO_ERROR;
  const int32_t length = ucnv_toUChars(converter.get(), units.data(), static_cast<int32_t>(units.size()),
                                       bytes.data(), size, &status);
  if (U_FAILURE(status)) return std::nullopt;
  units.resize(static_cast<size_t>(length));
  auto utf8 = foundation::text::fromUtf16(units);
  if (!utf8.ok()) return std::nullopt;
  return std::move(*utf8);
}

std::optional<std::string> charsetOfContentType(std::string_view contentType) {
  size_t at = contentType.find(';');
  while (at != std::string_view::npos && at < contentType.size()) {
    ++at;  // past ";"
    size_t end = at;
    while (end < contentType.size() && contentType[end] != '=' && contentType[end] != ';') ++end;
    const std::string_view name = trimmed(contentType.substr(at, end - at));
    std::string value;
    at = end;
    if (at < contentType.size() && contentType[at] == '=') {
      ++at;
      while (at < contentType.size() && (contentType[at] == ' ' || contentType[at] == '\t')) ++at;
      if (at < contentType.size() && contentType[at] == '"') {
        for (++at; at < contentType.size() && contentType[at] != '"'; ++at) {
          if (contentType[at] == '\\' && at + 1 < contentType.size()) ++at;
          value += contentType[at];
        }
        end = contentType.find(';', at);
      } else {
        end = contentType.find(';', at);
        value = std::string(trimmed(contentType.substr(at, end == std::string_view::npos ? end : end - at)));
      }
      at = end;
    }
    if (name.size() == 7 && strncasecmp(name.data(), "charset", 7) == 0) {
      if (value.empty()) return std::nullopt;
      return value;
    }
  }
  return std::nullopt;
}

std::optional<std::string> textEncodingNameOf(const Headers& headers) {
  auto contentType = headerValue(headers, "Content-Type");
  return contentType ? charsetOfContentType(*contentType) : std::nullopt;
}

}  // namespace net
