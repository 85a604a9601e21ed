#pragma once
// The small pieces every screen shares, all in the same flat look: white surfaces and 0.5-point
// hairlines in one grey (RGB 201/203/206), drawn without antialiasing.
//
// - FlatBarButtonItems: the navigation-bar items (image buttons, the back button, text buttons and
//   the "Edit" button with the tutorial badge).
// - FlatSettings: the shared flat-style colours and font.
// - tableSectionSeparator: a section header strip with optional top and bottom hairlines.
// - justListCell: the row of a plain single-choice list.
// - lineDrawerView with lineDrawerViewCoord: hairline segments given as points, the decoration
//   behind text fields and panels.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/graphics/canvas.h"
#include "platform/graphics/color.h"
#include "platform/graphics/font.h"
#include "platform/ui/controls.h"
#include "platform/ui/table_view.h"
#include "platform/ui/view.h"
#include "platform/ui/view_controller.h"

namespace app {

// The hairline grey of the flat look.
graphics::Color flatHairlineColor();
// Starts drawing a flat row: fills the bounds white and sets the pen to a 0.5-point hairline in
// that grey, without antialiasing.
void beginFlatRowDrawing(graphics::Canvas& canvas, const graphics::Rect& bounds);

// Bar items whose custom view sends the action through a tap recogniser on the whole view. The
// action stands for the target and selector: it runs when the item is tapped.
class FlatBarButtonItems : public ui::BarButtonItem {
 public:
  using Action = std::function<void()>;
  using Localizer = std::function<std::string(std::string_view key)>;

  // A 44 × 44 view holding an image view of the named image at (-16, 0, 44, 44).
  static std::shared_ptr<ui::BarButtonItem> leftButtonWithImgPathWithTargetSelector(
      const std::string& imgPath, Action action);
  // A 44 × 44 view holding the image view at (16, 0, 44, 44).
  static std::shared_ptr<ui::BarButtonItem> rightButtonWithImgPathWithTargetSelector(
      const std::string& imgPath, Action action);
  // A 20 × 44 view holding the image "iPhone_back_button" at (-16, 0, 44, 44).
  static std::shared_ptr<ui::BarButtonItem> backBarButtonItemWithTargetSelector(Action action);
  // A plain item titled with the localised text of the key; no custom view. An empty action makes
  // an item that does nothing.
  static std::shared_ptr<ui::BarButtonItem> barButtonItemWithTextWithTargetSelector(
      const std::string& textKey, Action action);
  // The localised "Edit" with the badge image "iPhone_badge.png" at its right end; the view is as
  // wide as the text measures.
  static std::shared_ptr<ui::BarButtonItem> rightButtonEditTextWithBadgeWithTargetSelector(Action action);

  // Where the texts come from: the bundle's localisation unless replaced (tests). An empty function
  // restores the bundle's.
  static void setLocalizer(Localizer localizer);
  static std::string localized(std::string_view key);

 private:
  static std::shared_ptr<ui::BarButtonItem> imageItem(const std::string& imgPath,
                                                      const graphics::Rect& viewFrame,
                                                      const graphics::Rect& imageFrame, Action action);
};

// One shared record of the flat colours and font; its properties may be read and set from any thread.
class FlatSettings {
 public:
  static FlatSettings& sharedInstance();

  graphics::Color secondColor() const;
  void setSecondColor(graphics::Color color);
  graphics::Color iconImageColor() const;
  void setIconImageColor(graphics::Color color);
  graphics::Color textFieldPlaceHolderColor() const;
  void setTextFieldPlaceHolderColor(graphics::Color color);
  graphics::Font font() const;
  void setFont(graphics::Font font);

 private:
  FlatSettings();
  mutable std::mutex mutex_;
  graphics::Color secondColor_;
  graphics::Color iconImageColor_;
  graphics::Color textFieldPlaceHolderColor_;
  graphics::Font font_;
};

// A section header strip: white at alpha 0.96, stretching with its superview's width.
class tableSectionSeparator : public ui::View {
 public:
  explicit tableSectionSeparator(const graphics::Rect& frame);

  // Draw the top line.
  bool firstSection = false;
  // Draw the bottom line.
  bool showBottomLine = false;

  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

// The row of a plain single-choice list: a white surface with a top line for the first row and a
// bottom line, inset 50 points except under the last row.
class justListCell : public ui::TableViewCell {
 public:
  explicit justListCell(ui::CellStyle style = ui::CellStyle::kDefault, std::string reuseIdentifier = "");

  std::shared_ptr<ui::Label> idLable;
  std::shared_ptr<ui::ImageView> typeImg;
  bool firstInSection = false;
  bool lastInSection = false;

  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

// One point of a lineDrawerView, in the view's coordinates.
struct lineDrawerViewCoord {
  float x = 0;
  float y = 0;
};

class lineDrawerView : public ui::View {
 public:
  explicit lineDrawerView(const graphics::Rect& frame);

  // Points taken two by two as segments; an odd last point is ignored.
  std::vector<lineDrawerViewCoord> linesArr;
  // Rectangles filled with rectColor (only when it is set).
  std::vector<graphics::Rect> rectsArr;
  std::optional<graphics::Color> rectColor;
  // A hairline frame around the view.
  bool drawFrameRect = false;

  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

}  // namespace app
