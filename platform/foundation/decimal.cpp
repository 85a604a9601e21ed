#include "platform/foundation/decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace foundation {
namespace {

using u128 = unsigned __int128;

constexpr u128 pow10(int n) {
  u128 r = 1;
  while (n-- > 0) r *= 10;
  return r;
}

constexpr u128 kLimit = pow10(Decimal::kMaxDigits);  // first 39-digit value

int digitCount(u128 v) {
  int n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

std::string digitsOf(u128 v) {
  std::string out;
  do {
    out.push_back(static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  std::reverse(out.begin(), out.end());
  return out;
}

}  // namespace

Decimal::Decimal(u128 mantissa, int exponent, bool negative)
    : mantissa_(mantissa), exponent_(exponent), negative_(negative) {
  normalise();
}

void Decimal::normalise() {
  if (mantissa_ == 0) {
    exponent_ = 0;
    negative_ = false;
    return;
  }
  while (mantissa_ % 10 == 0 && exponent_ < kMaxExponent) {
    mantissa_ /= 10;
    ++exponent_;
  }
}

Decimal Decimal::fromInteger(std::int64_t value) {
  const bool negative = value < 0;
  const u128 magnitude = negative ? static_cast<u128>(-(value + 1)) + 1 : static_cast<u128>(value);
  return Decimal(magnitude, 0, negative);
}

std::optional<Decimal> Decimal::fromDouble(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return parse(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

std::optional<Decimal> Decimal::parse(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  bool negative = false;
  if (i < n && text[i] == '-') {
    negative = true;
    ++i;
  }
  u128 mantissa = 0;
  long exponent = 0;
  int digits = 0;  // significant digits kept in the mantissa
  bool anyDigit = false;
  bool roundUp = false;
  bool dropped = false;  // a digit past the 38th has been seen
  auto take = [&](char c, bool fraction) {
    anyDigit = true;
    const int d = c - '0';
    if (digits == 0 && d == 0) {
      if (fraction) --exponent;  // leading zeros carry no significance
      return;
    }
    if (digits < kMaxDigits) {
      mantissa = mantissa * 10 + static_cast<unsigned>(d);
      ++digits;
      if (fraction) --exponent;
    } else {
      if (!dropped) roundUp = d >= 5;
      dropped = true;
      if (!fraction) ++exponent;
    }
  };
  while (i < n && text[i] >= '0' && text[i] <= '9') take(text[i++], false);
  if (i < n && text[i] == '.') {
    ++i;
    if (i == n || text[i] < '0' || text[i] > '9') return std::nullopt;
    while (i < n && text[i] >= '0' && text[i] <= '9') take(text[i++], true);
  }
  if (!anyDigit) return std::nullopt;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    long e = 0;
    bool expDigit = false;
    // The digits move the exponent by at most their count, so an exponent past the text's length
    // (plus the range) is out of range however it goes on; stop there rather than overflow.
    const long saturated = static_cast<long>(n) + 2 * (kMaxExponent + 1);
    while (i < n && text[i] >= '0' && text[i] <= '9') {
      expDigit = true;
      if (e <= saturated) e = e * 10 + (text[i] - '0');
      ++i;
    }
    if (!expDigit) return std::nullopt;
    exponent += expNegative ? -e : e;
  }
  if (i != n) return std::nullopt;
  if (roundUp) {
    ++mantissa;
    if (mantissa == kLimit) {
      mantissa /= 10;
      ++exponent;
    }
  }
  if (mantissa == 0) return Decimal(0, 0, false);
  // Bring the exponent into range where trailing zeros or spare digits allow it.
  while (exponent > kMaxExponent && mantissa * 10 < kLimit) {
    mantissa *= 10;
    --exponent;
  }
  while (exponent < kMinExponent && mantissa % 10 == 0) {
    mantissa /= 10;
    ++exponent;
  }
  if (exponent > kMaxExponent || exponent < kMinExponent) return std::nullopt;
  return Decimal(mantissa, static_cast<int>(exponent), negative);
}

std::string Decimal::toString() const {
  if (mantissa_ == 0) return "0";
  std::string digits = digitsOf(mantissa_);
  std::string out = isNegative() ? "-" : "";
  if (exponent_ >= 0) {
    out += digits;
    out.append(static_cast<size_t>(exponent_), '0');
  } else {
    const long point = static_cast<long>(digits.size()) + exponent_;
    if (point > 0) {
      out += digits.substr(0, static_cast<size_t>(point));
      out += '.';
      out += digits.substr(static_cast<size_t>(point));
    } else {
      out += "0.";
      out.append(static_cast<size_t>(-point), '0');
      out += digits;
    }
  }
  return out;
}

double Decimal::toDouble() const {
  if (mantissa_ == 0) return 0.0;
  // A mantissa that a double holds exactly, scaled by a power of ten that a double also holds
  // exactly (up to 1e22), needs one rounding only: the product or quotient is the correctly
  // rounded value strtod would give, without writing the digits out.
  static constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (mantissa_ <= (u128{1} << 53) && exponent_ >= -22 && exponent_ <= 22) {
    const double m = static_cast<double>(static_cast<std::uint64_t>(mantissa_));
    const double magnitude = exponent_ >= 0 ? m * kExactPowers[exponent_] : m / kExactPowers[-exponent_];
    return isNegative() ? -magnitude : magnitude;
  }
  std::string text = (isNegative() ? "-" : "") + digitsOf(mantissa_) + "e" + std::to_string(exponent_);
  return std::strtod(text.c_str(), nullptr);
}

std::optional<std::int64_t> Decimal::toInteger() const {
  if (mantissa_ == 0) return 0;
  if (exponent_ < 0) return std::nullopt;
  if (digitCount(mantissa_) + exponent_ > 19) return std::nullopt;
  const u128 magnitude = mantissa_ * pow10(exponent_);
  const u128 max = static_cast<u128>(INT64_MAX);
  if (isNegative()) {
    if (magnitude > max + 1) return std::nullopt;
    return static_cast<std::int64_t>(-static_cast<__int128>(magnitude));
  }
  if (magnitude > max) return std::nullopt;
  return static_cast<std::int64_t>(magnitude);
}

bool operator==(const Decimal& a, const Decimal& b) {
  return a.mantissa_ == b.mantissa_ && a.exponent_ == b.exponent_ && a.isNegative() == b.isNegative();
}

std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) {
  if (a.isNegative() != b.isNegative()) {
    return a.isNegative() ? std::strong_ordering::less : std::strong_ordering::greater;
  }
  // Compare magnitudes by order of magnitude first, then digit by digit.
  auto magnitudeOrder = [](const Decimal& x, const Decimal& y) {
    if (x.mantissa_ == 0 || y.mantissa_ == 0) return x.mantissa_ <=> y.mantissa_;
    const int xm = digitCount(x.mantissa_) + x.exponent_;
    const int ym = digitCount(y.mantissa_) + y.exponent_;
    if (xm != ym) return xm <=> ym;
    std::string xd = digitsOf(x.mantissa_), yd = digitsOf(y.mantissa_);
    const size_t len = std::max(xd.size(), yd.size());
    xd.resize(len, '0');
    yd.resize(len, '0');
    return xd.compare(yd) <=> 0;
  };
  const auto order = magnitudeOrder(a, b);
  if (a.isNegative()) return 0 <=> order;
  return order;
}

}  // namespace foundation
