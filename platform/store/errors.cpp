#include "platform/store/errors.h"

namespace store {

foundation::Error makeError(std::int64_t code, std::string description) {
  return foundation::Error::make(std::string(kErrorDomain), code, std::move(description));
}

}  // namespace store
