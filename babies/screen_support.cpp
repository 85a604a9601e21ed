#include "babies/screen_support.h"

#include <algorithm>

#include "app/app_delegate.h"
#include "app/value_texts.h"
#include "platform/graphics/image_effects.h"
#include "platform/store/predicate.h"

namespace babies {

std::string localized(std::string_view key) { return app::InterfaceText::current().localized(key); }

std::shared_ptr<store::Context> applicationContext() {
  auto* delegate = app::AppDelegate::shared();
  return delegate ? delegate->managedObjectContext() : nullptr;
}

std::shared_ptr<app::localSaves> applicationSaves() {
  auto* delegate = app::AppDelegate::shared();
  return delegate ? delegate->babysLocalSaves() : nullptr;
}

std::optional<std::string> applicationBabyName() {
  auto* delegate = app::AppDelegate::shared();
  return delegate ? delegate->currentBabyName() : std::nullopt;
}

std::shared_ptr<ui::TableView> fullTable(ui::ViewController& owner) {
  auto table = std::make_shared<ui::TableView>(owner.view()->bounds());
  table->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  owner.view()->addSubview(table);
  return table;
}

std::shared_ptr<ui::TableViewCell> plainCell(ui::TableView& table, const char* identifier, ui::CellStyle style) {
  auto cell = table.dequeueReusableCellWithIdentifier(identifier);
  return cell ? cell : std::make_shared<ui::TableViewCell>(style, identifier);
}

std::shared_ptr<const graphics::Image> thumbnail(const graphics::Image& picture, double side) {
  const double factor = side / std::max(picture.pointWidth(), picture.pointHeight());
  return std::make_shared<const graphics::Image>(
      graphics::scaledImage(picture, picture.pointWidth() * factor, picture.pointHeight() * factor, 2.0));
}

void leave(ui::ViewController& screen) {
  auto* navigation = screen.navigationController();
  if (navigation && navigation->viewControllers().size() > 1 && navigation->topViewController() == &screen) {
    navigation->popViewControllerAnimated(true);
    return;
  }
  screen.dismissViewControllerAnimated(true);
}

void showChild(ui::ViewController& opener, std::shared_ptr<ui::ViewController> child) {
  if (auto* navigation = opener.navigationController()) {
    navigation->pushViewController(std::move(child), true);
  } else {
    opener.presentViewController(std::make_shared<ui::NavigationController>(std::move(child)), true);
  }
}

void takeAwayChild(ui::ViewController& opener, ui::ViewController& child) {
  if (auto* navigation = opener.navigationController(); navigation && navigation->topViewController() == &child) {
    navigation->popViewControllerAnimated(true);
  } else if (opener.presentedViewController()) {
    opener.dismissViewControllerAnimated(true);
  }
}

std::shared_ptr<ui::ActionSheet> askToDelete(ui::ViewController& screen, ui::ActionSheetDelegate* delegate) {
  auto sheet = ui::ActionSheet::create(std::nullopt, delegate, localized("Cancel"), localized("Delete"));
  sheet->showInView(screen.view().get());
  return sheet;
}

std::vector<store::ObjectPtr> rowsOfBaby(store::Context& context, std::string_view entity,
                                         std::string_view format, const std::string& name) {
  store::FetchRequest request{std::string(entity)};
  auto predicate = store::Predicate::parse(format, {foundation::Value(name)});
  if (!predicate) return {};
  request.predicate = predicate.value();
  auto rows = context.fetch(request);
  return rows ? std::move(rows).value() : std::vector<store::ObjectPtr>{};
}

}  // namespace babies
