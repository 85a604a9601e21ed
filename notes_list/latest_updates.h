#pragma once
// lastNotesController: "Latest Updates", the most recent note of every note type of the current
// baby that has one, newest first: the type's icon and name, the note's date and time and how long
// ago that was. Read-only; built once per opening, which logs "latest_changes". Opened by the
// storyboard identifier "lastNotesControllerNav_id" (a navigation controller holding it) on the
// phone, as the popover "lastNotesController" on the tablet. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/note_edit_helper.h"
#include "app/settings_records.h"
#include "note_editor/note_view_delegate.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/date_formatter.h"
#include "platform/store/context.h"
#include "platform/ui/table_view.h"
#include "platform/ui/view_controller.h"

namespace notes_list {

inline constexpr std::string_view kLastNotesControllerNavId = "lastNotesControllerNav_id";
inline constexpr std::string_view kLastNotesControllerId = "lastNotesController";

// The latest note of the baby and type that stopped before `now`; empty when there is none or the
// fetch fails.
app::Note latestNoteOfType(store::Context& context, const std::string& babyName, const std::string& type,
                           foundation::Date now);

class lastNoteCell : public ui::TableViewCell {
 public:
  static constexpr const char* kIdentifier = "lastNoteCell";
  lastNoteCell();
  std::shared_ptr<ui::Label> typeLable;
  std::shared_ptr<ui::Label> detailLable;  // left as the row has it
  std::shared_ptr<ui::Label> toTimeLable;
  std::shared_ptr<ui::Label> timeAgoLable;
  std::shared_ptr<ui::ImageView> mainImage;
  void layoutSubviews() override;
  // White row; a grey hairline along the bottom from x = 60.
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

class lastNotesController : public ui::ViewController,
                            public ui::TableViewDataSource,
                            public ui::TableViewDelegate {
 public:
  struct Services {
    app::NoteEditHelper neh;
    // The store's context; none: an empty list.
    std::shared_ptr<store::Context> context;
    const foundation::Clock* clock = &foundation::Clock::system();
    std::function<app::InterfaceText()> language;
    app::AnalyticsEventSink logEvent;
  };

  explicit lastNotesController(Services services);

  void setNoteView_delegate(note_editor::noteViewDelegate* delegate) { noteView_delegate_ = delegate; }
  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }
  const std::vector<app::Note>& lastNotesArray() const { return lastNotesArray_; }
  bool cutBreastWord() const { return cutBreastWord_; }
  const std::shared_ptr<ui::TableView>& table() const { return table_; }

  // The close button (phone): tells the delegate that nothing changed.
  void back();

  void viewDidLoad() override;
  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  bool canEditRowAtIndexPath(ui::TableView& /*table*/, const ui::IndexPath& /*path*/) override {
    return false;
  }
  std::optional<ui::IndexPath> willSelectRowAtIndexPath(ui::TableView& /*table*/,
                                                        const ui::IndexPath& /*path*/) override {
    return std::nullopt;
  }

 private:
  Services services_;
  note_editor::noteViewDelegate* noteView_delegate_ = nullptr;
  std::optional<std::string> currentBabyName_;
  std::vector<app::Note> lastNotesArray_;
  foundation::DateFormatter dateFormatter_;
  bool cutBreastWord_ = true;
  std::shared_ptr<ui::TableView> table_;
};

}  // namespace notes_list
