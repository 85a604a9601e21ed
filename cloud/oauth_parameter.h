#pragma once
// One parameter of a request to be signed, and the conversions between parameter lists and
// query or form texts.

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace cloud {

class OAuthURLRequestParameter {
 public:
  OAuthURLRequestParameter() = default;
  OAuthURLRequestParameter(std::string name, std::optional<std::string> value)
      : name(std::move(name)), value(std::move(value)) {}
  OAuthURLRequestParameter(const OAuthURLRequestParameter&) = default;
  OAuthURLRequestParameter(OAuthURLRequestParameter&&) = default;
  OAuthURLRequestParameter& operator=(const OAuthURLRequestParameter&) = default;
  OAuthURLRequestParameter& operator=(OAuthURLRequestParameter&&) = default;
  virtual ~OAuthURLRequestParameter() = default;

  // "name=value", both escaped; an absent value is written as the empty text.
  std::string URLEncodedParameterString() const;

  // Order of the signature's parameter list: by escaped name, then by escaped value, comparing
  // bytes. Servers sort the escaped forms, so this is the order they sign in.
  std::strong_ordering compare(const OAuthURLRequestParameter& other) const;

  // "<ClassName: 0x... name=value>".
  std::string description() const;
  virtual std::string_view className() const { return "OAuthURLRequestParameter"; }

  friend bool operator==(const OAuthURLRequestParameter& a, const OAuthURLRequestParameter& b) {
    return a.name == b.name && a.value == b.value;
  }

  // Parameters of a query or form text "a=1&b=x%20y": pairs split at "&", name and value at the
  // first "="; the name is taken as written, the value unescaped ("+" stays "+"). A pair without
  // "=" is a name with the empty value; empty pairs ("&&") are skipped; a value with a bad escape
  // is absent, the other pairs stand.
  static std::vector<OAuthURLRequestParameter> parametersFromString(std::string_view text);
  // The parameters a server reads from a query or form text, for a request to be signed and sent
  // afresh: as parametersFromString, but the names are unescaped too (a server signs "c%40" as
  // "c@"), and a bad escape is an error (kOAuthMalformedParameterString) rather than a request
  // sent with other values than the ones written.
  static foundation::Result<std::vector<OAuthURLRequestParameter>> decodedParametersFromString(
      std::string_view text);
  // One parameter per key in the dictionary's order; a null value is absent, a non-string value is
  // written by its description.
  static std::vector<OAuthURLRequestParameter> parametersFromDictionary(
      const foundation::Dictionary& dictionary);
  // Name to unescaped value (parametersFromString); a later repeat of a name replaces the earlier,
  // and a pair whose value is absent is left out.
  static foundation::Dictionary parameterDictionaryFromString(std::string_view text);
  // The encoded texts joined with "&", in list order.
  static std::string parameterStringForParameters(const std::vector<OAuthURLRequestParameter>& parameters);
  static std::string parameterStringForDictionary(const foundation::Dictionary& dictionary);

  std::string name;                  // not escaped
  std::optional<std::string> value;  // not escaped; may be absent
};

}  // namespace cloud
