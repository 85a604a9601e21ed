#pragma once
// Universally unique identifiers in the platform's text form: 36 characters, upper-case
// hexadecimal digits in groups of 8-4-4-4-12 joined by hyphens
// ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

class Uuid {
 public:
  using Bytes = std::array<std::uint8_t, 16>;

  // The nil UUID, all zero.
  Uuid() = default;
  explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

  // A new random (version 4) UUID.
  static Uuid random();
  // Reads the 36-character form, in either case; nothing for anything else (no braces,
  // no missing hyphens, no surrounding white space).
  static std::optional<Uuid> parse(std::string_view text);

  const Bytes& bytes() const { return bytes_; }
  bool isNil() const { return bytes_ == Bytes{}; }
  // The upper-case 36-character form.
  std::string string() const;

  friend bool operator==(const Uuid&, const Uuid&) = default;

 private:
  Bytes bytes_{};
};

// A new random UUID in the upper-case 36-character form.
std::string makeUuid();
// Whether the text is a UUID in the 36-character form (either case).
bool isValidUuid(std::string_view text);

}  // namespace foundation
