#pragma once
// Images by name from the main bundle, as the platform's image-by-name does: the variant for the
// screen's scale preferred ("name@2x.png" on a 2x screen), decoded once and kept.

#include <memory>
#include <string>
#include <string_view>

#include "platform/graphics/image.h"

namespace ui {

using ImageRef = std::shared_ptr<const graphics::Image>;

// The named image of the main bundle, or null when the bundle has none or it does not decode.
ImageRef imageNamed(std::string_view name);
// The name an image was loaded by, or empty for one not loaded by name.
std::string imageName(const ImageRef& image);
// Forgets the decoded images (after the main bundle or the device's scale changed).
void clearImageCache();

}  // namespace ui
