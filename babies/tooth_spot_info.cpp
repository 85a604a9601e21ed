#include "babies/tooth_spot_info.h"

#include <algorithm>

#include "app/image_effects.h"
#include "platform/ui/image_library.h"

namespace babies {

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
    graphics::Image filled = app::multiplyImageByConstantColor(*image, color);
    return std::make_shared<const graphics::Image>(rightSide ? mirroredImage(filled) : std::move(filled));
  };
  noToothImg_ = picture(color1);
  appearToothImg_ = picture(color2);
  disappearToothImg_ = picture(color3);
  const double w = appearToothImg_->pointWidth() / 2, h = appearToothImg_->pointHeight() / 2;
  drawRect_ = graphics::Rect(center.x - w / 2, center.y - h / 2, w, h);
  const double tw = w * radiusK, th = h * radiusK;
  touchRect_ = graphics::Rect(center.x - tw / 2, center.y - th / 2, tw, th);
}

}  // namespace babies
