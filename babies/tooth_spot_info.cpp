#include "babies/tooth_spot_info.h"

#include <algorithm>

#include "app/image_effects.h"
#include "platform/ui/image_library.h"

namespace babies {

namespace {

// The image mirrored left to right, at its scale.
graphics::Image mirroredImage(const graphics::Image& image) {
  graphics::Image out = image;
  const int w = image.pixelWidth();
  const size_t stride = image.stride();
  auto& pixels = out.pixels();
  for (int y = 0; y < image.pixelHeight(); ++y) {
    auto* row = pixels.data() + stride * static_cast<size_t>(y);
    for (int left = 0, right = w - 1; left < right; ++left, --right)
      std::swap_ranges(row + left * 4, row + left * 4 + 4, row + right * 4);
  }
  return out;
}

}  // namespace

graphics::Image filledToothPicture(const graphics::Image& shape, const graphics::Color& color, bool mirrored) {
  graphics::Image filled = app::multiplyImageByConstantColor(shape, color);
  if (mirrored) return mirroredImage(filled);
  return filled;
}

graphics::Rect toothPictureRect(graphics::Point center, const graphics::Image& picture) {
  const double w = picture.pointWidth() / 2, h = picture.pointHeight() / 2;
  return graphics::Rect(center.x - w / 2, center.y - h / 2, w, h);
}

toothSpotInfo::toothSpotInfo(graphics::Point center, float radiusK, std::string_view imgPath, bool rightSide,
                             const graphics::Color& color1, const graphics::Color& color2,
                             const graphics::Color& color3)
    : toothSpotInfo(center, radiusK, ui::imageNamed(imgPath), rightSide, color1, color2, color3) {}

toothSpotInfo::toothSpotInfo(graphics::Point center, float radiusK, const ImageRef& image, bool rightSide,
                             const graphics::Color& color1, const graphics::Color& color2,
                             const graphics::Color& color3)
    : drawRect_(center.x, center.y, 0, 0), touchRect_(center.x, center.y, 0, 0) {
  if (!image || image->isEmpty()) return;
  auto picture = [&](const graphics::Color& color) {
    return std::make_shared<const graphics::Image>(filledToothPicture(*image, color, rightSide));
  };
  noToothImg_ = picture(color1);
  appearToothImg_ = picture(color2);
  disappearToothImg_ = picture(color3);
  drawRect_ = toothPictureRect(center, *appearToothImg_);
  const double tw = drawRect_.width() * radiusK, th = drawRect_.height() * radiusK;
  touchRect_ = graphics::Rect(center.x - tw / 2, center.y - th / 2, tw, th);
}

}  // namespace babies
