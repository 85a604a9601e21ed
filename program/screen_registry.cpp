#include "program/screen_registry.h"

#include "babies/baby_list_controller.h"
#include "charts/chart_screens.h"
#include "navigation/language_controller.h"
#include "navigation/note_type_chooser.h"
#include "navigation/reminder_controller.h"
#include "navigation/settings_controller.h"
#include "note_editor/note_edit_controller.h"
#include "note_editor/sub_value_list.h"
#include "notes_list/list_extras_impl.h"
#include "notes_list/main_screens.h"
#include "platform/files/app_home.h"
#include "reports/report_controller.h"
#include "reports/screenshot_helper.h"

namespace program {

void registerDiaryScreens(ui::Storyboard& storyboard, const files::AppHome& home,
                          std::shared_ptr<reports::ScreenshotMode> screenshots) {
  note_editor::registerNoteEditorScreens(
      storyboard, [] { return note_editor::EditorServices::fromApplication(); }, home.root() / "Media" / "DCIM");
  note_editor::registerSubValueScreens(storyboard, [] { return note_editor::EditorServices::fromApplication(); });
  navigation::registerChooserScreens(storyboard, [] { return navigation::ChooserServices::fromApplication(); });
  // After the chooser: the reminders' date screen replaces the chooser's plain one.
  navigation::registerReminderScreens(storyboard);
  navigation::registerSettingsScreens(storyboard);
  navigation::registerLanguageScreens(storyboard);
  babies::registerBabyScreens(storyboard);
  charts::registerChartScreens(storyboard);
  notes_list::registerListExtrasScreens(storyboard);
  reports::registerReportScreens(storyboard);
  notes_list::registerMainScreens(storyboard, [screenshots] {
    auto services = notes_list::MainScreenServices::fromApplication();
    if (screenshots) screenshots->attach(services);
    return services;
  });
}

}  // namespace program
