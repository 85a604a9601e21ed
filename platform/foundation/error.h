#pragma once
// Failure as a value: an Error (domain, code, user info, underlying error) and Result<T>.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "platform/foundation/value.h"

namespace foundation {

struct Error {
  // User-info keys with the platform's values, so stored or logged user info reads the same.
  static constexpr std::string_view kLocalizedDescriptionKey = "NSLocalizedDescription";
  static constexpr std::string_view kLocalizedFailureReasonKey = "NSLocalizedFailureReason";
  static constexpr std::string_view kUnderlyingErrorKey = "NSUnderlyingError";
  static constexpr std::string_view kFilePathKey = "NSFilePath";

  std::string domain;
  std::int64_t code = 0;
  Dictionary userInfo;
  std::shared_ptr<const Error> underlying;

  Error() = default;
  Error(std::string domain, std::int64_t code, Dictionary userInfo = {},
        std::shared_ptr<const Error> underlying = nullptr)
      : domain(std::move(domain)),
        code(code),
        userInfo(std::move(userInfo)),
        underlying(std::move(underlying)) {}

  // An error whose user info holds only a localised description.
  static Error make(std::string domain, std::int64_t code, std::string description,
                    std::shared_ptr<const Error> underlying = nullptr);

  // The user info's description, else "The operation couldn’t be completed. (<domain> error <code>.)".
  std::string localizedDescription() const;
  // The user info's failure reason; nothing when it holds none.
  std::optional<std::string> localizedFailureReason() const;
  // "Error Domain=<domain> Code=<code> \"<description>\" UserInfo={...}", with the underlying error.
  std::string description() const;

  friend bool operator==(const Error& a, const Error& b);
};

// Either a value or the Error that kept it from being made.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return checked(); }
  const T& value() const& { return const_cast<Result*>(this)->checked(); }
  T&& value() && { return std::move(checked()); }
  T& operator*() & { return checked(); }
  const T& operator*() const& { return const_cast<Result*>(this)->checked(); }
  T* operator->() { return &checked(); }
  const T* operator->() const { return &const_cast<Result*>(this)->checked(); }
  T valueOr(T fallback) const { return ok() ? std::get<0>(v_) : std::move(fallback); }

  const Error& error() const {
    if (ok()) throw std::logic_error("Result holds a value, not an error");
    return std::get<1>(v_);
  }

 private:
  T& checked() {
    if (!ok()) throw std::logic_error("Result holds an error: " + std::get<1>(v_).description());
    return std::get<0>(v_);
  }
  std::variant<T, Error> v_;
};

// Success or an Error, for operations that make nothing.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::make_shared<Error>(std::move(error))) {}

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const {
    if (ok()) throw std::logic_error("Result holds no error");
    return *error_;
  }

 private:
  std::shared_ptr<Error> error_;
};

using Status = Result<void>;

}  // namespace foundation
