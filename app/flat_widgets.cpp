#include "app/flat_widgets.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/text_measure.h"
#include "platform/runtime/bundle.h"
#include "platform/ui/gesture.h"
#include "platform/ui/image_library.h"

namespace app {

namespace {

std::mutex& localizerMutex() {
  static std::mutex m;
  return m;
}

FlatBarButtonItems::Localizer& localizerSlot() {
  static FlatBarButtonItems::Localizer localizer;
  return localizer;
}

// A tap anywhere on the view runs the action.
void addTapAction(ui::View& view, FlatBarButtonItems::Action action) {
  view.addGestureRecognizer(std::make_shared<ui::TapGestureRecognizer>([action](ui::GestureRecognizer&) {
    if (action) action();
  }));
}

}  // namespace

graphics::Color flatHairlineColor() { return graphics::Color::rgb255(201, 203, 206, 1.0); }

void beginFlatRowDrawing(graphics::Canvas& canvas, const graphics::Rect& bounds) {
  canvas.setFillColor(graphics::Color::white());
  canvas.fillRect(bounds);
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setStrokeColor(flatHairlineColor());
}

// -------------------------------------------------------------------------------- FlatBarButtonItems

void FlatBarButtonItems::setLocalizer(Localizer localizer) {
  std::lock_guard lock(localizerMutex());
  localizerSlot() = std::move(localizer);
}

std::string FlatBarButtonItems::localized(std::string_view key) {
  Localizer localizer;
  {
    std::lock_guard lock(localizerMutex());
    localizer = localizerSlot();
  }
  return localizer ? localizer(key) : runtime::localizedString(key);
}

std::shared_ptr<ui::BarButtonItem> FlatBarButtonItems::imageItem(const std::string& imgPath,
                                                                 const graphics::Rect& viewFrame,
                                                                 const graphics::Rect& imageFrame,
                                                                 Action action) {
  auto container = std::make_shared<ui::View>(viewFrame);
  auto image = std::make_shared<ui::ImageView>(imageFrame);
  image->setImage(ui::imageNamed(imgPath));
  container->addSubview(image);
  addTapAction(*container, std::move(action));
  return ui::BarButtonItem::withCustomView(container);
}

std::shared_ptr<ui::BarButtonItem> FlatBarButtonItems::leftButtonWithImgPathWithTargetSelector(
    const std::string& imgPath, Action action) {
  return imageItem(imgPath, graphics::Rect(0, 0, 44, 44), graphics::Rect(-16, 0, 44, 44), std::move(action));
}

std::shared_ptr<ui::BarButtonItem> FlatBarButtonItems::rightButtonWithImgPathWithTargetSelector(
    const std::string& imgPath, Action action) {
  return imageItem(imgPath, graphics::Rect(0, 0, 44, 44), graphics::Rect(16, 0, 44, 44), std::move(action));
}

std::shared_ptr<ui::BarButtonItem> FlatBarButtonItems::backBarButtonItemWithTargetSelector(Action action) {
  return imageItem("iPhone_back_button", graphics::Rect(0, 0, 20, 44), graphics::Rect(-16, 0, 44, 44),
                   std::move(action));
}

std::shared_ptr<ui::BarButtonItem> FlatBarButtonItems::barButtonItemWithTextWithTargetSelector(
    const std::string& textKey, Action action) {
  ui::BarButtonItem::Action itemAction;
  if (action) itemAction = [action](ui::BarButtonItem&) { action(); };
  return ui::BarButtonItem::withTitle(localized(textKey), ui::BarButtonItemStyle::kPlain,
                                      std::move(itemAction));
}

std::shared_ptr<ui::BarButtonItem> FlatBarButtonItems::rightButtonEditTextWithBadgeWithTargetSelector(
    Action action) {
  auto label = std::make_shared<ui::Label>(graphics::Rect(0, 0, 120, 44));
  label->setOpaque(true);
  label->setBackgroundColor(graphics::Color::clear());
  label->setTextColor(graphics::Color::white());
  label->setFont(graphics::Font("HelveticaNeue", 16));
  label->setTextAlignment(graphics::TextAlignment::kRight);
  label->setText(localized("Edit"));

  // The text's box from the first line's top, within the label's size.
  graphics::TextMetrics metrics = graphics::defaultTextMeasurer()->measure(
      graphics::AttributedText(label->text(), label->font()), label->bounds().width());
  graphics::Rect r(0, 0, metrics.size.width, metrics.size.height);
  double w = std::trunc(r.width()) + 1;

  auto badge = std::make_shared<ui::ImageView>(graphics::Rect(w - 20, -6, 44, 44));
  badge->setImage(ui::imageNamed("iPhone_badge.png"));

  auto container = std::make_shared<ui::View>(graphics::Rect(r.x(), r.y(), w, 44));
  container->addSubview(label);
  container->addSubview(badge);
  label->setFrame(graphics::Rect(r.x() + 8, r.y(), w, 44));
  addTapAction(*container, std::move(action));
  return ui::BarButtonItem::withCustomView(container);
}

// -------------------------------------------------------------------------------------- FlatSettings

FlatSettings::FlatSettings()
    : secondColor_(graphics::Color::clear()),
      iconImageColor_(graphics::Color::white()),
      textFieldPlaceHolderColor_(graphics::Color::clear()),
      font_("AvenirNext-Regular", 15) {}

FlatSettings& FlatSettings::sharedInstance() {
  // Made once, on first use from any thread.
  static FlatSettings instance;
  return instance;
}

graphics::Color FlatSettings::secondColor() const {
  std::lock_guard lock(mutex_);
  return secondColor_;
}

void FlatSettings::setSecondColor(graphics::Color color) {
  std::lock_guard lock(mutex_);
  secondColor_ = color;
}

graphics::Color FlatSettings::iconImageColor() const {
  std::lock_guard lock(mutex_);
  return iconImageColor_;
}

void FlatSettings::setIconImageColor(graphics::Color color) {
  std::lock_guard lock(mutex_);
  iconImageColor_ = color;
}

graphics::Color FlatSettings::textFieldPlaceHolderColor() const {
  std::lock_guard lock(mutex_);
  return textFieldPlaceHolderColor_;
}

void FlatSettings::setTextFieldPlaceHolderColor(graphics::Color color) {
  std::lock_guard lock(mutex_);
  textFieldPlaceHolderColor_ = color;
}

graphics::Font FlatSettings::font() const {
  std::lock_guard lock(mutex_);
  return font_;
}

void FlatSettings::setFont(graphics::Font font) {
  std::lock_guard lock(mutex_);
  font_ = std::move(font);
}

// ----------------------------------------------------------------------------- tableSectionSeparator

tableSectionSeparator::tableSectionSeparator(const graphics::Rect& frame) : ui::View(frame) {
  setBackgroundColor(graphics::Color::white(1.0, 0.96));
  setAutoresizingMask(ui::kFlexibleLeftMargin | ui::kFlexibleWidth | ui::kFlexibleRightMargin);
}

void tableSectionSeparator::drawRect(graphics::Canvas& canvas, const graphics::Rect& /*rect*/) {
  double w = bounds().width();
  double h = bounds().height();
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setStrokeColor(flatHairlineColor());
  if (firstSection) canvas.strokeLine(graphics::Point(0, 0.5), graphics::Point(w, 0.5));
  if (showBottomLine) canvas.strokeLine(graphics::Point(0, h), graphics::Point(w, h));
}

// -------------------------------------------------------------------------------------- justListCell

justListCell::justListCell(ui::CellStyle style, std::string reuseIdentifier)
    : ui::TableViewCell(style, std::move(reuseIdentifier)) {
  // The row's own outlets: the type's picture on the left, its name after it.
  typeImg = std::make_shared<ui::ImageView>(graphics::Rect(10, 7, 30, 30));
  typeImg->setContentMode(ui::ContentMode::kScaleAspectFit);
  idLable = std::make_shared<ui::Label>(
      graphics::Rect(50, 0, std::max(0.0, bounds().width() - 60), bounds().height()));
  idLable->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  contentView().addSubview(typeImg);
  contentView().addSubview(idLable);
}

void justListCell::drawRect(graphics::Canvas& canvas, const graphics::Rect& /*rect*/) {
  graphics::Rect b = bounds();
  double w = b.width();
  double h = b.height();
  canvas.setShouldAntialias(false);
  canvas.setFillColor(graphics::Color::white());
  canvas.fillRect(b);
  canvas.setLineWidth(0.5);
  canvas.setStrokeColor(flatHairlineColor());
  if (firstInSection) canvas.strokeLine(graphics::Point(0, 0.5), graphics::Point(w, 0.5));
  double x0 = lastInSection ? 0 : 50;
  canvas.strokeLine(graphics::Point(x0, h), graphics::Point(w, h));
}

// ------------------------------------------------------------------------------------ lineDrawerView

lineDrawerView::lineDrawerView(const graphics::Rect& frame) : ui::View(frame) {}

void lineDrawerView::drawRect(graphics::Canvas& canvas, const graphics::Rect& /*rect*/) {
  double w = bounds().width();
  double h = bounds().height();
  if (!rectsArr.empty() && rectColor) {
    canvas.setFillColor(*rectColor);
    for (const auto& r : rectsArr) canvas.fillRect(r);
  }
  if (!linesArr.empty()) {
    canvas.setShouldAntialias(false);
    canvas.setLineWidth(0.5);
    canvas.setStrokeColor(flatHairlineColor());
    std::vector<graphics::Point> points;
    points.reserve(linesArr.size());
    for (const auto& c : linesArr) points.emplace_back(static_cast<double>(c.x), static_cast<double>(c.y));
    if (points.size() % 2 == 1) points.pop_back();
    if (!points.empty()) canvas.strokeLineSegments(points);
  }
  if (drawFrameRect) {
    canvas.setShouldAntialias(false);
    canvas.setLineWidth(0.5);
    canvas.setStrokeColor(flatHairlineColor());
    canvas.strokeLineSegments({graphics::Point(0, 0.5), graphics::Point(0, h),              //
                               graphics::Point(0, 0.5), graphics::Point(w - 0.5, 0.5),      //
                               graphics::Point(w - 0.5, 0.5), graphics::Point(w - 0.5, h),  //
                               graphics::Point(0, h), graphics::Point(w - 0.5, h)});
  }
}

}  // namespace app
