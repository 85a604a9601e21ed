// Fuzz target for what arrives as URLs from outside: the login hand-back's query and the login
// screen's page addresses and redirect targets. Any bytes must be parsed or refused, never crash.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cloud/cloud_session.h"
#include "cloud/cloud_web_view.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto params = cloud::CloudSession::parseURLParams(text);
  for (const auto& [name, value] : params) {
    // Every value kept is text: a value whose escapes do not decode is left out.
    if (!value.string()) std::abort();
  }
  (void)cloud::cloudPathComponents(text);
  // A redirect: the page's address, a line break, then the Location the server sent.
  const size_t split = text.find('\n');
  if (split != std::string_view::npos) {
    (void)cloud::resolveLocation(text.substr(0, split), text.substr(split + 1));
  }
  return 0;
}
