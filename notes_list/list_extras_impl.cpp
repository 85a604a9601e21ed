#include "notes_list/list_extras_impl.h"

#include "app/app_delegate.h"
#include "babies/screen_support.h"
#include "navigation/url_helper.h"
#include "notes_list/filter_view_controller.h"
#include "notes_list/first_launch.h"
#include "notes_list/latest_updates.h"
#include "notes_list/notes_table_controller.h"
#include "platform/runtime/run_loop.h"

namespace notes_list {

ListExtrasImpl::Services ListExtrasImpl::Services::fromApplication() {
  Services services;
  services.prompts = AfterSavePrompts::Services::fromApplication();
  if (auto* delegate = app::AppDelegate::shared()) services.prompts.home = delegate->home();
  services.context = babies::applicationContext;
  return services;
}

ListExtrasImpl::ListExtrasImpl(Services services)
    : services_(std::move(services)), prompts_([this] {
        AfterSavePrompts::Services prompts = services_.prompts;
        if (!prompts.language) prompts.language = services_.language;
        prompts.sendFeedbackMail = [this] {
          if (!list_) return;
          auto* context = list_->managedObjectContext().get();
          list_->launchMailAppOnDevice(std::string(navigation::kSupportMailAddress),
                                       navigation::urlHelper().reportSubjectForMoc(context), std::nullopt,
                                       std::nullopt);
        };
        return prompts;
      }()) {}

ListExtrasImpl::~ListExtrasImpl() {
  if (sheet_ && sheet_->delegate() == this) sheet_->setDelegate(nullptr);
}

std::string ListExtrasImpl::localized(std::string_view key) const {
  return (services_.language ? services_.language() : app::InterfaceText::current()).localized(key);
}

std::shared_ptr<ui::View> ListExtrasImpl::makeFirstLaunchView(noteTableController_Base& list,
                                                              const graphics::Rect& frame) {
  list_ = &list;
  auto overlay = std::make_shared<firstLaunchView>(frame, services_.language);
  overlay->firstLaunchView_delegate = this;
  return overlay;
}

void ListExtrasImpl::saveFirstLaunchFile(noteTableController_Base& list) {
  // A failed write is logged; the next launch simply asks again.
  (void)notes_list::saveFirstLaunchFile(app::SettingsRecords(services_.prompts.home),
                                        services_.prompts.clock->now());
  if (auto overlay = list.fstLaunchView()) {
    overlay->removeFromSuperview();
    list.setFstLaunchView(nullptr);
  }
}

void ListExtrasImpl::firstLaunchViewDoClose() {
  if (!list_) return;
  if (sheet_ && sheet_->delegate() == this) sheet_->setDelegate(nullptr);
  sheet_ = ui::ActionSheet::create(std::nullopt, this, localized("Cancel"), localized("Start"));
  sheet_->showInView(list_->view().get());
}

void ListExtrasImpl::actionSheetClickedButtonAtIndex(ui::ActionSheet& /*sheet*/, int buttonIndex) {
  if (buttonIndex != 0 || !list_) return;
  auto* overlay = dynamic_cast<firstLaunchView*>(list_->fstLaunchView().get());
  if (!overlay) return;
  auto context = list_->managedObjectContext();
  foundation::Status saved = context
                                 ? saveNotations(list_->neh(), *context, overlay->choice())
                                 : foundation::Status(foundation::Error::make("diary", 1, "No data store"));
  if (!saved.ok()) {
    // The overlay stays with the user's choices, so "Start" can be tried again.
    unitsAlert_ =
        ui::AlertView::create(localized("The units could not be saved."), "", nullptr, localized("OK"));
    unitsAlert_->show();
    return;
  }
  saveFirstLaunchFile(*list_);
}

void ListExtrasImpl::updateQuickStartView(noteTableController_Base& list, ui::View& slot,
                                          const std::vector<std::string>& quickStartTypeArr) {
  list_ = &list;
  quickStartView* strip = quickStartView::in(slot);
  if (!strip) {
    auto context = services_.context;
    if (!context) {
      context = [weak = list.weak_from_this()]() -> std::shared_ptr<store::Context> {
        auto held = std::dynamic_pointer_cast<noteTableController_Base>(weak.lock());
        return held ? held->managedObjectContext() : nullptr;
      };
    }
    auto made = std::make_shared<quickStartView>(slot.bounds(), list.neh(), std::move(context), services_.language);
    made->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
    slot.addSubview(made);
    strip = made.get();
  }
  strip->setFrame(slot.bounds());
  strip->quickStartView_delegate = this;
  strip->typeIconArr.clear();
  for (const auto& type : quickStartTypeArr)
    strip->typeIconArr.push_back(list.neh().getIconPath(type).value_or(""));
  strip->typeIdArr = quickStartTypeArr;
  strip->currentBabyName = list.currentBabyName();
  strip->setNeedsDisplay();
}

void ListExtrasImpl::quickStartNumWasClicked(int slot) {
  if (list_) list_->quickStartNumWasClicked(slot);
}

void ListExtrasImpl::noteEditWasSaved(noteTableController_Base& list) {
  list_ = &list;
  std::uint64_t count = 0;
  if (auto context = list.managedObjectContext()) {
    auto counted = context->count(store::FetchRequest(std::string(app::Note::kEntityName)));
    if (counted.ok()) count = *counted;
  }
  list.setAllEntriesNum(count);
  prompts_.noteEditWasSaved(count);
}

// --- Screens

ListExtrasScreenServices ListExtrasScreenServices::fromApplication() {
  ListExtrasScreenServices services;
  services.context = babies::applicationContext;
  services.logEvent = navigation::tallyEventSink();
  services.clock = &runtime::RunLoop::main().clock();
  return services;
}

void registerListExtrasScreens(ui::Storyboard& storyboard,
                               std::function<ListExtrasScreenServices()> services) {
  if (!services) services = [] { return ListExtrasScreenServices::fromApplication(); };
  storyboard.registerController(std::string(kFilterViewControllerId), [services] {
    auto made = services();
    filterViewController::Services filter;
    filter.neh = made.neh;
    filter.clock = made.clock;
    filter.language = made.language;
    return std::make_shared<filterViewController>(std::move(filter));
  });
  auto latest = [services] {
    auto made = services();
    lastNotesController::Services screen;
    screen.neh = made.neh;
    screen.context = made.context ? made.context() : nullptr;
    screen.clock = made.clock;
    screen.language = made.language;
    screen.logEvent = made.logEvent;
    return std::make_shared<lastNotesController>(std::move(screen));
  };
  storyboard.registerController(std::string(kLastNotesControllerId), latest);
  storyboard.registerController(std::string(kLastNotesControllerNavId),
                                [latest] { return std::make_shared<ui::NavigationController>(latest()); });
}

}  // namespace notes_list
