#pragma once
// A base-10 number that keeps the digits it was written with: up to 38 significant digits and
// an exponent from -128 to 127, like the platform's decimal numbers.

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

class Decimal {
 public:
  static constexpr int kMaxDigits = 38;
  static constexpr int kMinExponent = -128;
  static constexpr int kMaxExponent = 127;

  Decimal() = default;
  static Decimal fromInteger(std::int64_t value);
  // Shortest decimal text that reads back as the same double; nothing for NaN or infinity.
  static std::optional<Decimal> fromDouble(double value);
  // JSON number syntax: optional '-', digits, optional fraction, optional exponent.
  // Digits past the 38th are rounded away; nothing when the exponent leaves the range.
  static std::optional<Decimal> parse(std::string_view text);

  bool isNegative() const { return negative_ && mantissa_ != 0; }
  bool isZero() const { return mantissa_ == 0; }
  int exponent() const { return exponent_; }

  // Plain notation without an exponent: "120000", "0.0005", "-1.5".
  std::string toString() const;
  double toDouble() const;
  // The value when it is a whole number that fits, else nothing.
  std::optional<std::int64_t> toInteger() const;

  friend bool operator==(const Decimal& a, const Decimal& b);
  friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b);

 private:
  Decimal(unsigned __int128 mantissa, int exponent, bool negative);
  void normalise();

  unsigned __int128 mantissa_ = 0;  // at most 38 decimal digits
  int exponent_ = 0;
  bool negative_ = false;
};

}  // namespace foundation
