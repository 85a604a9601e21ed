#pragma once
// The JPEG (libjpeg-turbo) and PNG (libpng) codecs behind graphics::Image. Use Image instead.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/graphics/image.h"

namespace graphics::codec {

foundation::Error imageError(ImageError code, std::string description);

foundation::Result<Image> decodeJpeg(const std::uint8_t* data, size_t size, double scale);
foundation::Result<Image> decodePng(const std::uint8_t* data, size_t size, double scale);
foundation::Result<foundation::Bytes> encodeJpeg(const Image& image, double quality);
foundation::Result<foundation::Bytes> encodePng(const Image& image);

}  // namespace graphics::codec
