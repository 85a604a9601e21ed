// Fuzz target for the photo header reader of the PDF report: any bytes give a size and an
// orientation in range, or nothing; never a read past the end.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "reports/jpeg_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  // A copy of exactly `size` bytes, so the sanitizer sees any read beyond them.
  const std::vector<std::uint8_t> bytes(data, data + size);
  const auto info = reports::readJpegInfo(bytes.data(), bytes.size());
  if (info && (info->width <= 0 || info->height <= 0 || info->orientation < 1 || info->orientation > 8))
    std::abort();
  return 0;
}
