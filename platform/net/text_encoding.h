#pragma once
// Character sets of replies: the charset a "Content-Type" names, and text in such a set turned into
// UTF-8 through ICU's converters.
//
//   "text/plain; charset=\"ISO-8859-1\"" ─► charsetOfContentType ─► "ISO-8859-1"
//   StringEncoding::forIANACharSetName("ISO-8859-1") ─► decode("caf\xE9") ─► "café" (UTF-8)
//
// Trust model: the name and the bytes come from the server. A name is looked up only when it is a
// plain token of at most 40 characters (letters, digits and "-_.:+()"), so that no converter option
// (ICU reads ",swaplfnl" and the like after a name) rides in with it, and only sets that have an IANA
// or MIME name are taken. Bytes that are not valid in the set make the decoding fail; they are never
// replaced by guesses.

#include <optional>
#include <string>
#include <string_view>

namespace net {

// A character set, by ICU's canonical name of its converter ("UTF-8", "ISO-8859-1").
class StringEncoding {
 public:
  static StringEncoding utf8() { return StringEncoding("UTF-8"); }
  // The set an IANA charset name or one of its aliases names (any case); nothing when the name is
  // not one.
  static std::optional<StringEncoding> forIANACharSetName(std::string_view name);

  const std::string& name() const { return name_; }
  // The bytes as UTF-8 text; nothing when they are not valid in this set.
  std::optional<std::string> decode(std::string_view bytes) const;

  bool operator==(const StringEncoding&) const = default;

 private:
  explicit StringEncoding(std::string name) : name_(std::move(name)) {}
  std::string name_;
};

// The "charset" parameter of a "Content-Type" value, unquoted; nothing when there is none.
//   media-type = type "/" subtype *( OWS ";" OWS name "=" ( token / quoted-string ) )
std::optional<std::string> charsetOfContentType(std::string_view contentType);

}  // namespace net
