#pragma once
// The two facts the report needs of a photo file before it embeds the file's bytes unchanged: its
// pixel size and its EXIF orientation.
//
// Trust model: the bytes are a file from the Photos folder, which a restored backup may have
// replaced with anything. Every length is checked against the end of the data before it is
// followed, segments are walked forward only, and anything that does not parse gives nothing, so
// the caller falls back to decoding the file (and skipping it when that fails too).

#include <cstddef>
#include <cstdint>
#include <optional>

namespace reports {

struct JpegInfo {
  int width = 0;
  int height = 0;
  // EXIF orientation 1-8; 1 (upright) when the file has none.
  int orientation = 1;
};

// Nothing for bytes that are not a baseline or progressive JPEG with a frame header.
std::optional<JpegInfo> readJpegInfo(const std::uint8_t* data, size_t size);

}  // namespace reports
