#pragma once
// The error trace of a JSON worker as one line, for compact expectations.

#include <string>

#include "cloud/json.h"

namespace cloud {

// The trace as "<code> <description>" of each error, innermost first, joined by " | ".
inline std::string traceOf(const CloudJsonBase& worker) {
  std::string out;
  for (const auto& error : worker.errorTrace()) {
    out += (out.empty() ? "" : " | ") + std::to_string(error.code) + " " + error.localizedDescription();
  }
  return out;
}

}  // namespace cloud
