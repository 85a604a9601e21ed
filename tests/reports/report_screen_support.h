#pragma once
// What the report and backup screen tests share: a screen pushed over a root screen on a
// navigation controller that is on screen, so the pushed one gets its appearance callbacks.

#include <memory>

#include "platform/runtime/run_loop.h"
#include "platform/ui/view_controller.h"

namespace reports {

inline std::shared_ptr<ui::NavigationController> showPushed(std::shared_ptr<ui::ViewController> screen,
                                                            runtime::RunLoop& loop) {
  auto navigation = std::make_shared<ui::NavigationController>(std::make_shared<ui::ViewController>());
  (void)navigation->view();
  navigation->beginAppearanceTransition(true, false);
  navigation->endAppearanceTransition();
  navigation->pushViewController(std::move(screen), false);
  loop.runUntilIdle();
  return navigation;
}

}  // namespace reports
