#include "platform/foundation/number_formatter.h"

#include <unicode/numberformatter.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "platform/foundation/icu_bridge.h"

namespace foundation {

namespace {

constexpr int kMostDigits = 20;

// The root locale writes "." and "-" and no grouping separators are asked for, so no user
// setting can change what the text looks like.
icu::number::LocalizedNumberFormatter makeFormatter(int maximumFractionDigits, int minimumFractionDigits) {
  return icu::number::NumberFormatter::withLocale(icu::Locale::getRoot())
      .precision(icu::number::Precision::minMaxFraction(minimumFractionDigits, maximumFractionDigits))
      .roundingMode(UNUM_ROUND_HALFUP)
      .grouping(UNUM_GROUPING_OFF)
      .integerWidth(icu::number::IntegerWidth::zeroFillTo(1))
      .sign(UNUM_SIGN_NEGATIVE);
}

}  // namespace

struct NumberFormatter::Impl {
  int maximumFractionDigits = 0;
  int minimumFractionDigits = 0;
  icu::number::LocalizedNumberFormatter formatter;

  void rebuild() { formatter = makeFormatter(maximumFractionDigits, minimumFractionDigits); }
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

namespace {

// Whole numbers well inside a double's exact range are only their digits under the rule (no
// fraction digits wanted, no minus sign on zero), written here without ICU's machinery: totals
// and amounts are mostly whole.
constexpr double kLargestPlainWhole = 1e15;

bool isPlainWhole(double value, int minimumFractionDigits) {
  return minimumFractionDigits == 0 && std::fabs(value) < kLargestPlainWhole && std::trunc(value) == value;
}

std::string formatWith(const icu::number::LocalizedNumberFormatter& formatter, double value) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString text = formatter.formatDouble(value, status).toString(status);
  if (U_FAILURE(status)) return {};
  return icu_bridge::toUtf8(text);
}

// One-off formatting happens per table row (summary totals, cell values), and building an ICU
// formatter costs far more than using one. The locale is fixed (the root), so a formatter is
// known by its digits alone; each is made once and kept for the process. ICU's localized
// formatters are immutable and may be used from several threads at once, so only making them
// takes the lock.
const icu::number::LocalizedNumberFormatter& sharedFormatter(int maximumFractionDigits,
                                                             int minimumFractionDigits) {
  // The same bounds as the constructor's.
  const int least = std::clamp(minimumFractionDigits, 0, kMostDigits);
  const int most = std::max(std::clamp(maximumFractionDigits, 0, kMostDigits), least);
  using Made = std::unique_ptr<const icu::number::LocalizedNumberFormatter>;
  // Never destroyed: a thread still formatting while the process exits must find them.
  static auto* const mutex = new std::mutex;
  static auto* const made = new std::array<Made, (kMostDigits + 1) * (kMostDigits + 1)>;
  const auto slot = static_cast<size_t>(most * (kMostDigits + 1) + least);
  std::lock_guard lock(*mutex);
  Made& formatter = (*made)[slot];
  if (!formatter)
    formatter = std::make_unique<const icu::number::LocalizedNumberFormatter>(makeFormatter(most, least));
  return *formatter;
}

}  // namespace

std::string NumberFormatter::stringFromNumber(double value) const {
  if (isPlainWhole(value, impl_->minimumFractionDigits)) return std::to_string(static_cast<long long>(value));
  return formatWith(impl_->formatter, value);
}

std::string NumberFormatter::format(double value, int maximumFractionDigits, int minimumFractionDigits) {
  // The same few values come back row after row and refresh after refresh (a day's totals): each
  // thread keeps the latest texts, one per slot of a small table.
  const int least = std::clamp(minimumFractionDigits, 0, kMostDigits);
  if (isPlainWhole(value, least)) return std::to_string(static_cast<long long>(value));
  struct Kept {
    bool filled = false;
    std::uint64_t bits = 0;
    int mostDigits = 0, leastDigits = 0;
    std::string text;
  };
  constexpr std::size_t kSlots = 64;
  thread_local std::array<Kept, kSlots> kept;
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const std::size_t slot = static_cast<std::size_t>(
      (bits ^ (bits >> 29) ^ (bits >> 47) ^
       static_cast<std::uint64_t>(maximumFractionDigits * 31 + minimumFractionDigits)) %
      kSlots);
  Kept& entry = kept[slot];
  if (entry.filled && entry.bits == bits && entry.mostDigits == maximumFractionDigits &&
      entry.leastDigits == minimumFractionDigits)
    return entry.text;
  std::string text = formatWith(sharedFormatter(maximumFractionDigits, minimumFractionDigits), value);
  entry = Kept{true, bits, maximumFractionDigits, minimumFractionDigits, text};
  return text;
}

}  // namespace foundation
