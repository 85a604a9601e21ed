#pragma once
// What the baby screens share: the interface's texts, the running application's store, file store
// and current baby (for a screen its opener gave none), the plain table and cell they show, the way
// back out of a screen that may have been pushed or presented, and a fetch of one baby's rows.
// Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/local_saves.h"
#include "platform/graphics/image.h"
#include "platform/store/context.h"
#include "platform/ui/alert.h"
#include "platform/ui/table_view.h"
#include "platform/ui/view_controller.h"

namespace babies {

// The key's text in the interface language.
std::string localized(std::string_view key);

// The application delegate's context, file store and current baby; empty without a delegate.
std::shared_ptr<store::Context> applicationContext();
std::shared_ptr<app::localSaves> applicationSaves();
std::optional<std::string> applicationBabyName();

// A table over the whole of the screen's view, resizing with it.
std::shared_ptr<ui::TableView> fullTable(ui::ViewController& owner);
// A reused cell of the identifier, or a new one of the style.
std::shared_ptr<ui::TableViewCell> plainCell(ui::TableView& table, const char* identifier, ui::CellStyle style);
// The picture scaled to `side` points on its longer edge: a row's image view takes an image's own
// width, and a photo's or a chosen icon's would leave its texts no room.
std::shared_ptr<const graphics::Image> thumbnail(const graphics::Image& picture, double side);

// Leaves a screen that may have been pushed or presented: pops it off a stack it is not the root
// of, else dismisses it (or what holds it).
void leave(ui::ViewController& screen);

// Shows a child screen: pushed on the opener's navigation controller, else presented in one of its own.
void showChild(ui::ViewController& opener, std::shared_ptr<ui::ViewController> child);
// Takes back a child screen shown so: popped when it is on top of the opener's stack, else dismissed.
void takeAwayChild(ui::ViewController& opener, ui::ViewController& child);

// Asks before a deletion: a sheet over the screen with the destructive "Delete" and "Cancel".
std::shared_ptr<ui::ActionSheet> askToDelete(ui::ViewController& screen, ui::ActionSheetDelegate* delegate);

// The rows of `entity` matching `format` (one "%@", given `name`), in the store's order; empty when
// the predicate or the fetch fails.
std::vector<store::ObjectPtr> rowsOfBaby(store::Context& context, std::string_view entity,
                                         std::string_view format, const std::string& name);

}  // namespace babies
