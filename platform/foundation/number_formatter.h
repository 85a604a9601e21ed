#pragma once
// Numbers for people to read, by the one rule the diary uses everywhere: round half up (away from
// zero), "." as the decimal separator whatever the locale, no grouping, at least one integer digit
// and no trailing zeros beyond the minimum fraction digits ("3", "3.46", "0.5").
//
// A NumberFormatter is used by one thread at a time; the one-off format() may be called from any
// thread (it shares one kept formatter per pair of digit bounds).

#include <memory>
#include <string>

namespace foundation {

class NumberFormatter {
 public:
  // At most `maximumFractionDigits` and at least `minimumFractionDigits` digits after the point.
  explicit NumberFormatter(int maximumFractionDigits = 0, int minimumFractionDigits = 0);
  NumberFormatter(NumberFormatter&&) noexcept;
  NumberFormatter& operator=(NumberFormatter&&) noexcept;
  ~NumberFormatter();

  int maximumFractionDigits() const;
  int minimumFractionDigits() const;
  // Each is kept within 0-20; raising the minimum above the maximum raises the maximum with it,
  // lowering the maximum below the minimum lowers the minimum.
  void setMaximumFractionDigits(int digits);
  void setMinimumFractionDigits(int digits);

  // The rounded text. A value that rounds to zero is written without a minus sign; not-a-number
  // is "NaN" and infinities "∞" and "-∞".
  std::string stringFromNumber(double value) const;

  // A one-off formatting with the rule above, as a new formatter with these bounds would give.
  static std::string format(double value, int maximumFractionDigits, int minimumFractionDigits = 0);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace foundation
