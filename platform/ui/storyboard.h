#pragma once
// The storyboard: screens made by identifier, and segues between them. The application registers a
// factory for each identifier and each segue's destination and kind; an identifier nobody
// registered gives nothing, and so does a segue nobody registered.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/view_controller.h"

namespace ui {

enum class SegueKind { kPush, kModal, kFormSheet, kPopover };

class StoryboardSegue {
 public:
  StoryboardSegue(std::string identifier, ViewController* source, std::shared_ptr<ViewController> destination,
                  SegueKind kind);

  const std::string& identifier() const { return identifier_; }
  ViewController* sourceViewController() const { return source_; }
  const std::shared_ptr<ViewController>& destinationViewController() const { return destination_; }
  SegueKind kind() const { return kind_; }
  // A popover segue's popover controller, made before the source prepares the segue.
  const std::shared_ptr<PopoverController>& popoverController() const { return popover_; }

 private:
  friend class ViewController;
  std::string identifier_;
  ViewController* source_;
  std::shared_ptr<ViewController> destination_;
  SegueKind kind_;
  std::shared_ptr<PopoverController> popover_;
};

class Storyboard {
 public:
  using Factory = std::function<std::shared_ptr<ViewController>()>;
  struct Segue {
    std::string destinationIdentifier;
    SegueKind kind = SegueKind::kPush;
  };

  explicit Storyboard(std::string name = "Main");
  Storyboard(const Storyboard&) = delete;
  Storyboard& operator=(const Storyboard&) = delete;

  const std::string& name() const { return name_; }

  // Registers (or replaces) the factory of an identifier.
  void registerController(std::string identifier, Factory factory);
  bool hasController(const std::string& identifier) const;
  // A new screen for the identifier, which remembers this storyboard and the identifier; null for
  // an identifier nobody registered or a factory that makes nothing.
  std::shared_ptr<ViewController> instantiateViewControllerWithIdentifier(const std::string& identifier);
  void setInitialViewControllerIdentifier(std::string identifier) { initial_ = std::move(identifier); }
  std::shared_ptr<ViewController> instantiateInitialViewController();

  void registerSegue(std::string identifier, std::string destinationIdentifier, SegueKind kind);
  std::optional<Segue> segue(const std::string& identifier) const;

 private:
  std::string name_;
  std::map<std::string, Factory> factories_;
  std::map<std::string, Segue> segues_;
  std::string initial_;
};

}  // namespace ui
