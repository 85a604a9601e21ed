#include "platform/foundation/number_formatter.h"

#include <unicode/numberformatter.h>

#include <algorithm>

#include "platform/foundation/icu_bridge.h"

namespace foundation {

namespace {
constexpr int kMostDigits = 20;
}

struct NumberFormatter::Impl {
  int maximumFractionDigits = 0;
  int minimumFractionDigits = 0;
  // The root locale writes "." and "-" and no grouping separators are asked for, so no user
  // setting can change what the text looks like.
  icu::number::LocalizedNumberFormatter formatter;

  void rebuild() {
    formatter =
        icu::number::NumberFormatter::withLocale(icu::Locale::getRoot())
            .precision(icu::number::Precision::minMaxFraction(minimumFractionDigits, maximumFractionDigits))
            .roundingMode(UNUM_ROUND_HALFUP)
            .grouping(UNUM_GROUPING_OFF)
            .integerWidth(icu::number::IntegerWidth::zeroFillTo(1))
            .sign(UNUM_SIGN_NEGATIVE);
  }
};

NumberFormatter::NumberFormatter(int maximumFractionDigits, int minimumFractionDigits)
    : impl_(std::make_unique<Impl>()) {
  impl_->maximumFractionDigits = std::clamp(maximumFractionDigits, 0, kMostDigits);
  impl_->minimumFractionDigits = std::clamp(minimumFractionDigits, 0, kMostDigits);
  impl_->maximumFractionDigits = std::max(impl_->maximumFractionDigits, impl_->minimumFractionDigits);
  impl_->rebuild();
}

NumberFormatter::NumberFormatter(NumberFormatter&&) noexcept = default;
NumberFormatter& NumberFormatter::operator=(NumberFormatter&&) noexcept = default;
NumberFormatter::~NumberFormatter() = default;

int NumberFormatter::maximumFractionDigits() const { return impl_->maximumFractionDigits; }
int NumberFormatter::minimumFractionDigits() const { return impl_->minimumFractionDigits; }

void NumberFormatter::setMaximumFractionDigits(int digits) {
  impl_->maximumFractionDigits = std::clamp(digits, 0, kMostDigits);
  impl_->minimumFractionDigits = std::min(impl_->minimumFractionDigits, impl_->maximumFractionDigits);
  impl_->rebuild();
}

void NumberFormatter::setMinimumFractionDigits(int digits) {
  impl_->minimumFractionDigits = std::clamp(digits, 0, kMostDigits);
  impl_->maximumFractionDigits = std::max(impl_->minimumFractionDigits, impl_->maximumFractionDigits);
  impl_->rebuild();
}

std::string NumberFormatter::stringFromNumber(double value) const {
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString text = impl_->formatter.formatDouble(value, status).toString(status);
  if (U_FAILURE(status)) return {};
  return icu_bridge::toUtf8(text);
}

std::string NumberFormatter::format(double value, int maximumFractionDigits, int minimumFractionDigits) {
  return NumberFormatter(maximumFractionDigits, minimumFractionDigits).stringFromNumber(value);
}

}  // namespace foundation
