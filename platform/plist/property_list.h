#pragma once
// Property lists in the platform's XML and binary formats, read into and written from Value.
//
// Types map one to one: booleans, integers (signed 64-bit), reals, strings, data, dates,
// arrays and dictionaries. A decimal is written as a real. Null has no place in a property
// list: writing it is an error. Dates are kept to the microsecond and must lie within about
// 68 years of 2001-01-01 (1933 to 2069), the range the underlying library can hold; XML keeps
// whole seconds only, as the platform's XML does.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace plist {

// Failures use the platform's domain and codes, so logged errors read the same.
inline constexpr std::string_view kErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::int64_t kReadCorruptError = 3840;
inline constexpr std::int64_t kWriteInvalidError = 3851;
inline constexpr std::int64_t kCoderReadCorruptError = 4864;
inline constexpr std::int64_t kCoderInvalidValueError = 4866;

// Deepest nesting of arrays and dictionaries (and of archived objects) read or written.
inline constexpr int kMaxDepth = 512;

enum class Format { Xml, Binary };

// Binary for bytes that start with "bplist00", XML for anything else.
Format detectFormat(const void* data, size_t size);

// Reads either format; `format`, when given, receives the one found.
foundation::Result<foundation::Value> readPropertyList(const void* data, size_t size,
                                                       Format* format = nullptr);
foundation::Result<foundation::Value> readPropertyList(const foundation::Bytes& data,
                                                       Format* format = nullptr);

foundation::Result<foundation::Bytes> writePropertyList(const foundation::Value& value, Format format);

// Succeeds exactly when writePropertyList would accept the value.
foundation::Status validatePropertyList(const foundation::Value& value);

}  // namespace plist
