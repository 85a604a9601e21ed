#include "navigation/side_menu_controller.h"

#include <algorithm>

#include "platform/foundation/log.h"
#include "platform/runtime/notification_center.h"
#include "platform/ui/animation.h"
#include "platform/ui/device.h"
#include "platform/ui/storyboard.h"

namespace navigation {

// ---------------------------------------------------------------------------------------------
// SideMenuController

SideMenuController::SideMenuController(std::shared_ptr<ui::ViewController> rear,
                                       std::shared_ptr<ui::ViewController> front)
    : rear_(std::move(rear)), front_(std::move(front)) {}

void SideMenuController::loadView() {
  ui::ViewController::loadView();
  auto root = view();
  const graphics::Rect bounds = root->bounds();
  // The rear first, so the front screen covers it until it slides away.
  for (const auto& child : {rear_, front_}) {
    if (!child) continue;
    addChildViewController(child);
    child->view()->setFrame(bounds);
    child->view()->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
    root->addSubview(child->view());
  }
  updateTransparentView();
}

void SideMenuController::viewDidLayoutSubviews() { placeFront(rearShown_ ? kRearRevealWidth : 0); }

void SideMenuController::placeFront(double x) {
  if (!front_ || !front_->isViewLoaded()) return;
  graphics::Rect frame = front_->view()->frame();
  frame.origin.x = x;
  front_->view()->setFrame(frame);
}

void SideMenuController::updateTransparentView() {
  if (!front_) return;
  std::vector<ui::ViewController*> candidates{front_.get()};
  if (auto* navigation = dynamic_cast<ui::NavigationController*>(front_.get())) {
    for (const auto& screen : navigation->viewControllers()) candidates.push_back(screen.get());
  }
  for (auto* candidate : candidates) {
    if (auto* screen = dynamic_cast<SideMenuFrontScreen*>(candidate)) {
      if (ui::View* overlay = screen->transparentView()) overlay->setHidden(!rearShown_);
    }
  }
}

void SideMenuController::setRearShown(bool shown, bool animated) {
  // The menu is about to come into sight: it reads its texts again (the language may have changed).
  if (shown && !rearShown_ && rear_ && rear_->isViewLoaded()) rear_->viewWillAppear(animated);
  rearShown_ = shown;
  const double x = shown ? kRearRevealWidth : 0;
  if (animated) {
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    ui::animate(0.25, [weak, this, x] {
      if (weak.lock()) placeFront(x);
    });
  } else {
    placeFront(x);
  }
  updateTransparentView();
}

void SideMenuController::revealToggle() { setRearShown(!rearShown_, true); }

const std::shared_ptr<ui::PanGestureRecognizer>& SideMenuController::panGestureRecognizer() {
  if (!pan_) {
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    pan_ = std::make_shared<ui::PanGestureRecognizer>([weak, this](ui::GestureRecognizer& recognizer) {
      if (weak.lock()) handlePan(static_cast<ui::PanGestureRecognizer&>(recognizer));
    });
  }
  return pan_;
}

void SideMenuController::handlePan(ui::PanGestureRecognizer& pan) {
  if (!front_ || !front_->isViewLoaded()) return;
  switch (pan.state()) {
    case ui::GestureState::kBegan:
      panStartX_ = front_->view()->frame().origin.x;
      if (!rearShown_ && rear_ && rear_->isViewLoaded()) rear_->viewWillAppear(true);
      break;
    case ui::GestureState::kChanged:
      placeFront(std::clamp(panStartX_ + pan.translationInView(view().get()).x, 0.0, kRearRevealWidth));
      break;
    case ui::GestureState::kEnded:
    case ui::GestureState::kCancelled:
      // The menu stays open once the front screen is past half way.
      setRearShown(front_->view()->frame().origin.x > kRearRevealWidth / 2, true);
      break;
    default:
      break;
  }
}

SideMenuController* revealViewController(const ui::ViewController& controller) {
  for (auto* at = const_cast<ui::ViewController*>(&controller); at; at = at->parentViewController()) {
    if (auto* container = dynamic_cast<SideMenuController*>(at)) return container;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// sidebarMenuController

sidebarMenuController::sidebarMenuController(ChooserServices services, std::vector<SidebarItem> items,
                                             Prepare prepare)
    : services_(std::move(services)), items_(std::move(items)), prepare_(std::move(prepare)) {}

void sidebarMenuController::viewDidLoad() {
  view()->setBackgroundColor(graphics::Color::rgb255(64, 66, 87));
  rows_.clear();
  if (ui::Storyboard* board = storyboard()) {
    for (const auto& item : items_) {
      // A row only for a screen the storyboard can make.
      const auto segue = board->segue(item.segueIdentifier);
      if (segue && board->hasController(segue->destinationIdentifier)) rows_.push_back(item);
    }
  }
  // The rows start under the status bar, which stays drawn over the menu.
  const double statusBar = ui::device().statusBarHidden ? 0 : 20;
  graphics::Rect frame = view()->bounds();
  frame.origin.y += statusBar;
  frame.size.height -= statusBar;
  table_ = std::make_shared<ui::TableView>(frame);
  table_->setDataSource(this);
  table_->setDelegate(this);
  table_->setBackgroundColor(graphics::Color::clear());
  table_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  view()->addSubview(table_);
}

void sidebarMenuController::viewWillAppear(bool animated) {
  ui::ViewController::viewWillAppear(animated);
  if (table_) table_->reloadData();
}

int sidebarMenuController::numberOfRowsInSection(ui::TableView&, int) {
  return static_cast<int>(rows_.size());
}

std::shared_ptr<ui::TableViewCell> sidebarMenuController::cellForRowAtIndexPath(ui::TableView&,
                                                                                const ui::IndexPath& path) {
  auto cell = std::make_shared<ui::TableViewCell>(ui::CellStyle::kDefault, "sidebarCell");
  cell->setBackgroundColor(graphics::Color::clear());
  if (path.row >= 0 && static_cast<std::size_t>(path.row) < rows_.size()) {
    cell->textLabel().setText(services_.localized(rows_[static_cast<std::size_t>(path.row)].titleKey));
    cell->textLabel().setTextColor(graphics::Color::white());
  }
  return cell;
}

void sidebarMenuController::didSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& path) {
  if (path.row >= 0) openRow(static_cast<std::size_t>(path.row));
}

void sidebarMenuController::openRow(std::size_t row) {
  ui::Storyboard* board = storyboard();
  if (row >= rows_.size() || !board) return;
  const std::string segue = rows_[row].segueIdentifier;
  auto found = board->segue(segue);
  if (!found) return;
  auto destination = board->instantiateViewControllerWithIdentifier(found->destinationIdentifier);
  if (!destination) return;
  auto* navigation = dynamic_cast<ui::NavigationController*>(destination.get());
  ui::ViewController* receiver = destination.get();
  if (navigation) {
    if (navigation->viewControllers().empty()) return;
    receiver = navigation->viewControllers().back().get();
  }

  if (segue == kGrowGraphSidebarShow && services_.tutorial() == 1 && services_.setTutorialState) {
    if (auto saved = services_.setTutorialState(2); !saved)
      foundation::log("The tutorial step could not be stored: " + saved.error().description());
    runtime::NotificationCenter::defaultCenter().post(kUpdateTutorialNotification, nullptr);
  }
  if (prepare_) prepare_(segue, *receiver);

  SideMenuController* container = revealViewController(*this);
  ui::ViewController* front = container ? container->frontViewController().get() : nullptr;
  if (!front) return;
  if (navigation) {
    front->presentViewController(destination, true);
  } else if (auto* frontNavigation = dynamic_cast<ui::NavigationController*>(front)) {
    frontNavigation->pushViewController(destination, true);
  } else {
    front->presentViewController(destination, true);
  }
  container->setRearShown(false, true);
}

}  // namespace navigation
