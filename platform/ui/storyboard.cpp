#include "platform/ui/storyboard.h"

namespace ui {

StoryboardSegue::StoryboardSegue(std::string identifier, ViewController* source,
                                 std::shared_ptr<ViewController> destination, SegueKind kind)
    : identifier_(std::move(identifier)),
      source_(source),
      destination_(std::move(destination)),
      kind_(kind) {}

Storyboard::Storyboard(std::string name) : name_(std::move(name)) {}

void Storyboard::registerController(std::string identifier, Factory factory) {
  factories_[std::move(identifier)] = std::move(factory);
}

bool Storyboard::hasController(const std::string& identifier) const {
  return factories_.count(identifier) > 0;
}

std::shared_ptr<ViewController> Storyboard::instantiateViewControllerWithIdentifier(
    const std::string& identifier) {
  auto it = factories_.find(identifier);
  if (it == factories_.end() || !it->second) return nullptr;
  std::shared_ptr<ViewController> controller = it->second();
  if (!controller) return nullptr;
  controller->storyboard_ = this;
  controller->storyboardIdentifier_ = identifier;
  // A navigation controller of the storyboard brings its screens from the same storyboard.
  for (const auto& child : controller->childViewControllers()) {
    if (!child->storyboard_) child->storyboard_ = this;
  }
  return controller;
}

std::shared_ptr<ViewController> Storyboard::instantiateInitialViewController() {
  if (initial_.empty()) return nullptr;
  return instantiateViewControllerWithIdentifier(initial_);
}

void Storyboard::registerSegue(std::string identifier, std::string destinationIdentifier, SegueKind kind) {
  segues_[std::move(identifier)] = Segue{std::move(destinationIdentifier), kind};
}

std::optional<Storyboard::Segue> Storyboard::segue(const std::string& identifier) const {
  auto it = segues_.find(identifier);
  if (it == segues_.end()) return std::nullopt;
  return it->second;
}

}  // namespace ui
