#pragma once
// toothSpotInfo: one tooth of the 20-tooth chart: where it sits, how big its spot is, its state and
// its picture in each state. The three pictures are the named image's shape filled with one colour
// each (not appeared, appeared, lost), mirrored left to right for the right-hand teeth, whose
// images are the left-hand ones.

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/graphics/color.h"
#include "platform/graphics/geometry.h"
#include "platform/graphics/image.h"

namespace babies {

class toothSpotInfo {
 public:
  using ImageRef = std::shared_ptr<const graphics::Image>;

  // A spot in state 0 at `center`. Without the named image in the bundle the three pictures are
  // null and both rectangles are empty at the centre.
  toothSpotInfo(graphics::Point center, float radiusK, std::string_view imgPath, bool rightSide,
                const graphics::Color& color1, const graphics::Color& color2, const graphics::Color& color3);
  // The same from an image already at hand (null: none).
  toothSpotInfo(graphics::Point center, float radiusK, const ImageRef& image, bool rightSide,
                const graphics::Color& color1, const graphics::Color& color2, const graphics::Color& color3);

  // 0 not appeared, 1 appeared, 2 lost.
  std::int32_t toothState = 0;

  // Centred on the point, half as wide and high as the appeared picture (in points).
  const graphics::Rect& drawRect() const { return drawRect_; }
  // Centred on the point, the drawn size times the radius factor.
  const graphics::Rect& touchRect() const { return touchRect_; }
  const ImageRef& noToothImg() const { return noToothImg_; }
  const ImageRef& appearToothImg() const { return appearToothImg_; }
  const ImageRef& disappearToothImg() const { return disappearToothImg_; }

 private:
  graphics::Rect drawRect_;
  graphics::Rect touchRect_;
  ImageRef noToothImg_;
  ImageRef appearToothImg_;
  ImageRef disappearToothImg_;
};

// One picture of a spot: the shape filled with the colour, mirrored left to right for a right-hand
// tooth (`mirrored`). The printed report draws the chart from these too.
graphics::Image filledToothPicture(const graphics::Image& shape, const graphics::Color& color, bool mirrored);
// Where a spot centred on `center` draws `picture`: half its size in points, centred on the point.
graphics::Rect toothPictureRect(graphics::Point center, const graphics::Image& picture);

}  // namespace babies
