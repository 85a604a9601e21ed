#include "notes_list/main_screens.h"

#include "app/app_delegate.h"
#include "app/entities.h"
#include "babies/screen_support.h"
#include "charts/chart_screens.h"
#include "charts/sum_chart.h"
#include "navigation/language_controller.h"
#include "navigation/reminder_controller.h"
#include "navigation/settings_controller.h"
#include "navigation/side_menu_controller.h"
#include "note_editor/note_edit_controller.h"
#include "note_editor/note_editor.h"
#include "notes_list/filter_view_controller.h"
#include "notes_list/latest_updates.h"
#include "notes_list/list_extras_impl.h"
#include "notes_list/main_view_controller_ipad.h"
#include "notes_list/notes_view_controller_iphone.h"
#include "notes_list/quick_start.h"
#include "platform/files/file_ops.h"
#include "platform/runtime/bundle.h"
#include "platform/store/fetch_request.h"
#include "platform/ui/image_library.h"

namespace notes_list {

namespace {

// The baby list keeps its delegate strongly; this one hands the choice on only while the screen
// lives, so the list never keeps the screen that presents it alive.
class BabyChoice : public babies::babyListControllerDelegate {
 public:
  explicit BabyChoice(std::weak_ptr<ui::ViewController> screen) : screen_(std::move(screen)) {}
  void babyListControllerDone(const std::optional<std::string>& name, int gender,
                              const std::optional<foundation::Date>& birthday) override {
    auto strong = screen_.lock();
    if (auto* screen = dynamic_cast<MainScreen*>(strong.get()))
      screen->babyListControllerDone(name, gender, birthday);
  }

 private:
  std::weak_ptr<ui::ViewController> screen_;
};

// The screen that opened a child, while it lives (for children that keep their delegate).
class WeakNoteViewDelegate : public note_editor::noteViewDelegate {
 public:
  explicit WeakNoteViewDelegate(std::weak_ptr<ui::ViewController> screen) : screen_(std::move(screen)) {}
  void noteViewChildDone(ui::ViewController& child, bool changed) override {
    if (auto* screen = target()) screen->noteViewChildDone(child, changed);
  }
  void noteEditWasClosedAndSaved(ui::ViewController& editor, bool saved) override {
    if (auto* screen = target()) screen->noteEditWasClosedAndSaved(editor, saved);
  }
  void noteViewChildFilter(ui::ViewController& child) override {
    if (auto* screen = target()) screen->noteViewChildFilter(child);
  }

 private:
  MainScreen* target() {
    strong_ = screen_.lock();
    return dynamic_cast<MainScreen*>(strong_.get());
  }
  std::weak_ptr<ui::ViewController> screen_;
  std::shared_ptr<ui::ViewController> strong_;
};

// The list takes a new context or file store where it can be handed one.
template <typename List>
void handContext(List& list, const std::shared_ptr<store::Context>& context) {
  if constexpr (requires { list.setManagedObjectContext(context); }) list.setManagedObjectContext(context);
}
template <typename List>
void handSaves(List& list, const std::shared_ptr<app::localSaves>& saves) {
  if constexpr (requires { list.setLocSaves(saves); }) list.setLocSaves(saves);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Services

MainScreenServices MainScreenServices::fromApplication() {
  MainScreenServices services;
  // The storyboard makes the first screen before the launch installs the helpers' environment, so
  // a helper copied now would have no store for good (no units, no value rows): this one asks the
  // application delegate for its context at each use.
  app::NoteEditHelper::Environment helper;
  helper.context = babies::applicationContext;
  auto* launching = app::AppDelegate::shared();
  helper.library = launching ? launching->home().library() : files::AppHome::fromEnvironment().library();
  services.neh = app::NoteEditHelper(std::move(helper));
  services.chooser = navigation::ChooserServices::fromApplication();
  const auto editor = note_editor::EditorServices::fromApplication();
  services.saves = editor.saves;
  services.statistics.language = [] { return app::InterfaceText::current(); };
  services.statistics.preferredLanguage = editor.preferredLanguage;
  services.applicationContext = babies::applicationContext;
  services.setApplicationBabyName = [](const std::optional<std::string>& name) {
    if (auto* delegate = app::AppDelegate::shared()) delegate->setCurrentBabyName(name);
  };
  services.updateDataBaseSender = []() -> const void* { return app::AppDelegate::shared(); };
  services.screenShotState = [] {
    auto* delegate = app::AppDelegate::shared();
    return delegate ? delegate->screenShotState() : 0;
  };
  services.setScreenShotState = [](std::int32_t state) {
    if (auto* delegate = app::AppDelegate::shared()) delegate->setScreenShotState(state);
  };
  services.preferredLanguageHasBundle = [preferred = editor.preferredLanguage] {
    const auto language = preferred ? preferred() : std::nullopt;
    if (!language) return false;
    const auto path = runtime::Bundle::main()->pathForResource(*language, "lproj");
    return path && files::isDirectory(*path);
  };
  services.extras = std::make_shared<ListExtrasImpl>(ListExtrasImpl::Services::fromApplication());
  if (auto* delegate = app::AppDelegate::shared()) {
    services.statistics.context = delegate->managedObjectContext();
    if (delegate->babysLocalSaves()) services.saves = delegate->babysLocalSaves();
  }
  return services;
}

// ---------------------------------------------------------------------------------------------
// MainScreen

MainScreen::MainScreen(MainScreenServices services, bool iPad)
    : noteTableController_Base(services.neh, services.statistics, services.saves, iPad),
      context_(services.statistics.context),
      services_(std::move(services)) {
  setListExtras(services_.extras.get());
}

MainScreen::~MainScreen() = default;

void MainScreen::viewDidLoad() {
  noteTableController_Base::viewDidLoad();
  auto root = view();
  filterButton_ = std::make_shared<ui::Button>();
  filterButton_->setImage(ui::imageNamed("iPhone_filter_button"));
  filterButton_->addTarget([this](ui::Control&) { openFilter(); }, ui::kControlEventTouchUpInside);
  filterOnButton_ = std::make_shared<ui::Button>();
  filterOnButton_->setImage(ui::imageNamed("iPhone_filter_on_button"));
  filterOnButton_->addTarget([this](ui::Control&) { resetFilterOnPressed(); },
                             ui::kControlEventTouchUpInside);
  filterOnButton_->setHidden(true);
  tableStyleSegment_ = std::make_shared<ui::SegmentedControl>(std::vector<std::string>{"", ""});
  tableStyleSegment_->addTarget([this](ui::Control&) { tableStyleChanged(); }, ui::kControlEventValueChanged);
  for (const auto& control :
       std::vector<std::shared_ptr<ui::View>>{filterButton_, filterOnButton_, tableStyleSegment_})
    root->addSubview(control);
  noUserBlockLayer_ = std::make_shared<ui::View>(root->bounds());
  noUserBlockLayer_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  noUserBlockLayer_->setBackgroundColor(graphics::Color::white());
  root->addSubview(noUserBlockLayer_);
  root->bringSubviewToFront(noUserBlockLayer_.get());
  setSumStyle(false);
  updateLanguageStuff();
  tableStyleSegment_->setSelectedSegmentIndex(0);
}

void MainScreen::viewDidAppear(bool animated) {
  noteTableController_Base::viewDidAppear(animated);
  if (!services_.screenShotState || services_.screenShotState() != 1) return;
  if (noUserBlockLayer_) noUserBlockLayer_->setHidden(true);
  if (services_.setScreenShotState) services_.setScreenShotState(2);
  if (services_.startScreenshots) services_.startScreenshots(*this);
}

void MainScreen::layerOverlays() {
  // Until the units are chosen no tap may reach the strip, the switch or a button.
  if (fstLaunchView()) view()->bringSubviewToFront(fstLaunchView().get());
  if (noUserBlockLayer_) view()->bringSubviewToFront(noUserBlockLayer_.get());
}

ui::ModalPresentationStyle MainScreen::openStyle() const {
  return iPad() ? ui::ModalPresentationStyle::kFormSheet : ui::ModalPresentationStyle::kFullScreen;
}

void MainScreen::updateLanguageStuff() {
  noteTableController_Base::updateLanguageStuff();
  if (!tableStyleSegment_) return;
  tableStyleSegment_->setTitleForSegmentAtIndex(services_.chooser.localized("List"), 0);
  tableStyleSegment_->setTitleForSegmentAtIndex(services_.chooser.localized("Summary"), 1);
}

void MainScreen::performFetch() {
  noteTableController_Base::performFetch();
  if (filterOnButton_) filterOnButton_->setHidden(!filtering());
}

void MainScreen::takeApplicationContext() {
  if (services_.applicationContext) adoptContext(services_.applicationContext());
}

void MainScreen::adoptContext(std::shared_ptr<store::Context> context) {
  context_ = std::move(context);
  handContext(static_cast<noteTableController_Base&>(*this), context_);
}

void MainScreen::adoptSaves(std::shared_ptr<app::localSaves> saves) {
  if (!saves) return;
  services_.saves = saves;
  handSaves(static_cast<noteTableController_Base&>(*this), saves);
}

// --- The baby

void MainScreen::babyListControllerDone(const std::optional<std::string>& name, int gender,
                                        const std::optional<foundation::Date>& birthday) {
  setCurrentBabyName(name);
  setCurrentbabyGender(gender);
  setBirthDayDate(birthday);
  showBabyName(name);
  if (services_.setApplicationBabyName) services_.setApplicationBabyName(name);
  resetAllFilteres();
  refreshStrip();
  // A list answer without a name leaves the screen without a baby: the layer stays.
  if (noUserBlockLayer_) noUserBlockLayer_->setHidden(name.has_value());
  dismissViewControllerAnimated(true);
}

bool MainScreen::chooseFirstBaby() {
  if (!context_) return false;
  store::FetchRequest request{std::string(app::Baby::kEntityName)};
  request.fetchLimit = 1;
  auto babies = context_->fetch(request);
  if (!babies || babies->empty()) return false;
  const app::Baby baby(babies->front());
  babyListControllerDone(baby.baby_Name(), baby.baby_Gender().value_or(false) ? 1 : 0, baby.baby_BirthDay());
  return true;
}

void MainScreen::prepareBabyList(ui::ViewController& destination) {
  auto* list = dynamic_cast<babies::babyListController*>(&destination);
  if (auto* navigation = dynamic_cast<ui::NavigationController*>(&destination);
      navigation && !navigation->viewControllers().empty())
    list = dynamic_cast<babies::babyListController*>(navigation->viewControllers().back().get());
  if (!list) return;
  if (!babyChoice_) babyChoice_ = std::make_shared<BabyChoice>(weak_from_this());
  list->setManagedObjectContext(context_);
  list->setBabyList_delegate(babyChoice_);
  list->setLocSaves(services_.saves);
  list->updateList();
}

std::shared_ptr<ui::NavigationController> MainScreen::navigationFor(
    const std::string& identifier, const std::function<void(ui::ViewController&)>& prepare) {
  if (!storyboard()) return nullptr;
  auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(
      storyboard()->instantiateViewControllerWithIdentifier(identifier));
  if (!navigation || navigation->viewControllers().empty()) return nullptr;
  if (prepare) prepare(*navigation->viewControllers().back());
  return navigation;
}

std::shared_ptr<ui::NavigationController> MainScreen::babyListNavigation() {
  return navigationFor(babies::kBabyNavigationId,
                       [this](ui::ViewController& list) { prepareBabyList(list); });
}

void MainScreen::presentOpened(std::shared_ptr<ui::ViewController> controller) {
  if (!controller) return;
  closePopover();
  controller->setModalPresentationStyle(openStyle());
  presentViewController(std::move(controller), true);
}

// --- Hooks of the list

void MainScreen::quickStartNumWasClicked(int slot) {
  // Nothing is started while no baby is chosen (an empty store after a restore).
  if (!currentBabyName()) return;
  if (slot < 0) {
    presentOpened(navigationFor(navigation::kAddNoteNavigationId, [this](ui::ViewController& screen) {
      if (auto* chooser = dynamic_cast<navigation::noteTypeTableController*>(&screen)) {
        chooser->setManagedObjectContext(context_);
        chooser->setCurrentBabyName(currentBabyName());
        chooser->setNoteView_delegate(this);
      }
    }));
    return;
  }
  if (static_cast<std::size_t>(slot) >= quickStartTypeArr().size()) return;
  const std::string type = quickStartTypeArr()[static_cast<std::size_t>(slot)];
  presentOpened(navigationFor(note_editor::kEditNoteNavigationId, [this, &type](ui::ViewController& screen) {
    if (auto* editor = dynamic_cast<note_editor::noteEditController*>(&screen)) {
      editor->setManagedObjectContext(context_);
      editor->setCurrentBabyName(currentBabyName());
      editor->setNoteView_delegate(this);
      editor->setNote_Type(type);
    }
  }));
}

void MainScreen::openTimerWithNum(std::size_t number) {
  if (!currentBabyName()) return;
  auto navigation =
      navigationFor(note_editor::kEditNoteNavigationId, [this, number](ui::ViewController& screen) {
        if (auto* editor = dynamic_cast<note_editor::noteEditController*>(&screen)) {
          editor->setManagedObjectContext(context_);
          editor->setCurrentBabyName(currentBabyName());
          editor->setNoteView_delegate(this);
          editor->setStopWatchOn(true);
          editor->setStopWatchNum(static_cast<std::int32_t>(number));
        }
      });
  if (!navigation) return;
  closePopover();
  if (presentedViewController()) {
    // The editor comes up once the screen in front has gone.
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    dismissViewControllerAnimated(true, [weak, this, navigation] {
      if (weak.lock()) presentOpened(navigation);
    });
    return;
  }
  presentOpened(navigation);
}

void MainScreen::noteEditWasClosedAndSaved(ui::ViewController&, bool saved) {
  closePopover();
  dismissViewControllerAnimated(true);
  refreshStrip();
  if (saved) noteEditWasSaved();
}

void MainScreen::noteViewChildDone(ui::ViewController&, bool changed) {
  updateLanguageStuff();
  closePopover();
  dismissViewControllerAnimated(true);
  refreshStrip();
  if (changed)
    performFetch();
  else
    updateTable();
}

void MainScreen::noteViewChildFilter(ui::ViewController& child) {
  if (auto* filter = dynamic_cast<filterViewController*>(&child)) {
    std::vector<std::string> types, subTypes;
    types.reserve(10);
    subTypes.reserve(10);
    const bool withSubtypes = filter->getSelectedTypesAndSubTypes(types, subTypes);
    ListFilter chosen;
    chosen.beginDate = filter->getBeginDate();
    chosen.endDate = filter->getEndDate();
    chosen.types = std::move(types);
    if (withSubtypes) chosen.subTypes = std::move(subTypes);
    setFilter(std::move(chosen));
    setupFetchedResultsController();
    scrollToFirstDay();
  }
  dismissViewControllerAnimated(true);
}

// --- Actions

void MainScreen::openFilter() {
  closePopover();
  if (!storyboard()) return;
  auto filter = std::dynamic_pointer_cast<filterViewController>(
      storyboard()->instantiateViewControllerWithIdentifier(std::string(kFilterViewControllerId)));
  if (!filter) return;
  filter->setNoteView_delegate(this);
  filter->setAllStuffWithMail(false);
  if (const auto& current = model().filter()) {
    filter->setFilterWithTypesAndSubTypesUseSubTypesAndBeginDateAndEndDate(
        current->types, current->subTypes, current->subTypes.has_value(), current->beginDate,
        current->endDate);
  } else {
    filter->setFilterWithTypesAndSubTypesUseSubTypesAndBeginDateAndEndDate(std::nullopt, std::nullopt, false,
                                                                           std::nullopt, std::nullopt);
  }
  presentOpened(std::make_shared<ui::NavigationController>(filter));
}

void MainScreen::resetFilterOnPressed() { resetAllFilteres(); }

void MainScreen::tableStyleChanged() {
  setSumStyle(tableStyleSegment_ && tableStyleSegment_->selectedSegmentIndex() == 1);
  // The other style reads its own rows: the day totals, or the list's first page.
  performFetch();
}

void MainScreen::presentLanguageScreen(bool barHidden) {
  if (!storyboard()) return;
  auto language = std::dynamic_pointer_cast<navigation::languageController>(
      storyboard()->instantiateViewControllerWithIdentifier(navigation::kLanguageControllerId));
  if (!language) return;
  language->setLaunchedFromMainScreen(true);
  auto navigation = std::make_shared<ui::NavigationController>(language);
  navigation->setNavigationBarHidden(barHidden);
  std::weak_ptr<ui::ViewController> weak = weak_from_this();
  presentViewController(navigation, false, [weak, this] {
    if (weak.lock()) setShouldChooseTheLanguage(false);
  });
}

void showPicture(ui::ImageView& view, const std::string& name) {
  if (auto image = ui::imageNamed(name)) view.setImage(std::move(image));
}

std::shared_ptr<note_editor::noteViewDelegate> MainScreen::weakDelegate() {
  return std::make_shared<WeakNoteViewDelegate>(weak_from_this());
}

void MainScreen::prepareLatestUpdates(ui::ViewController& screen) {
  if (auto* latest = dynamic_cast<lastNotesController*>(&screen)) {
    latest->setCurrentBabyName(currentBabyName());
    latest->setNoteView_delegate(this);
  }
}

void MainScreen::showStripBadge(bool badge) {
  if (!noteQuickStartView()) return;
  if (auto* strip = quickStartView::in(*noteQuickStartView())) {
    strip->showTheBadge = badge;
    strip->setNeedsDisplay();
  }
}

void MainScreen::refreshStrip() {
  updateQuickStartView();
  if (badges_) showStripBadge(badges_->stripBadge);
}

void MainScreen::updateTutorial() {
  auto badges = refreshTutorial(services_.chooser, context_.get());
  if (!badges) return;
  badges_ = badges;
  showBadges(*badges);
}

// ---------------------------------------------------------------------------------------------
// Registration

namespace {

const std::vector<navigation::SidebarItem>& sidebarItems() {
  static const std::vector<navigation::SidebarItem> items{
      {"Growth graph", navigation::kGrowGraphSidebarShow},
      {"Graph of the day", "day_track_sidebar_show"},
      {navigation::kSumChartSidebarTitle, navigation::kSumChartSidebarShow},
      {"Teeth", navigation::kTeethSidebarShow},
      {"Reminders", "reminders_sidebar_show"},
      {"Photos", "photos_sidebar_show"},
      {"Allergies", "allergies_sidebar_show"},
      {"Contacts", "contacts_sidebar_show"},
      {"Settings", "settings_sidebar_show"},
  };
  return items;
}

// What a screen opened from the sidebar is handed: the notes screen's context and baby, and the
// notes screen as the delegate of those that answer one.
void prepareFromSidebar(MainScreen& notes, const std::string& segue, ui::ViewController& destination) {
  const auto context = notes.screenContext();
  const auto baby = notes.currentBabyName();
  if (auto* graph = dynamic_cast<charts::graphicsViewController*>(&destination)) {
    graph->setManagedObjectContext(context);
    graph->setCurrentBabyName(baby);
  } else if (auto* track = dynamic_cast<charts::DayTrackController*>(&destination)) {
    track->setManagedObjectContext(context);
    track->setCurrentBabyName(baby);
  } else if (auto* sums = dynamic_cast<charts::sumChartController*>(&destination)) {
    sums->setManagedObjectContext(context);
    sums->setCurrentBabyName(baby);
  } else if (auto* reminders = dynamic_cast<navigation::reminderController*>(&destination)) {
    reminders->setNoteView_delegate(notes.weakDelegate());
    reminders->setCurrentBaby(baby);
    reminders->setManagedObjectContext(context);
  } else if (auto* photos = dynamic_cast<babies::photoCollectionController*>(&destination)) {
    photos->setCurrentBabyName(baby);
    photos->setManagedObjectContext(context);
    photos->setLocSaves(notes.locSaves());
  } else if (auto* info = dynamic_cast<babies::babyInfoTableViewController*>(&destination)) {
    info->setInfoType(std::string(segue == "contacts_sidebar_show" ? babies::kInfoTypeContacts
                                                                   : babies::kInfoTypeAllergies));
    info->setCurrentBabyName(baby);
    info->setManagedObjectContext(context);
  } else if (auto* settings = dynamic_cast<navigation::settingsController*>(&destination)) {
    settings->setManagedObjectContext(context);
    settings->setCurrentBabyName(baby);
  }
}

}  // namespace

void registerMainScreens(ui::Storyboard& storyboard, std::function<MainScreenServices()> services) {
  storyboard.registerController(kNotesViewControllerIPhoneId, [services] {
    return std::make_shared<notesViewController_iPhone>(services());
  });
  storyboard.registerController(kMainViewControllerIPadId,
                                [services] { return std::make_shared<mainViewController_iPad>(services()); });
  storyboard.registerController(kSideMenuId, [services] {
    MainScreenServices made = services();
    navigation::ChooserServices chooser = made.chooser;
    auto notes = std::make_shared<notesViewController_iPhone>(std::move(made));
    std::weak_ptr<ui::ViewController> weakNotes = notes;
    auto sidebar = std::make_shared<navigation::sidebarMenuController>(
        std::move(chooser), sidebarItems(),
        [weakNotes](const std::string& segue, ui::ViewController& destination) {
          auto strong = weakNotes.lock();
          if (auto* screen = dynamic_cast<MainScreen*>(strong.get()))
            prepareFromSidebar(*screen, segue, destination);
        });
    return std::static_pointer_cast<ui::ViewController>(std::make_shared<navigation::SideMenuController>(
        sidebar, std::make_shared<ui::NavigationController>(notes)));
  });
  // The launch makes the root of the device in force.
  ui::Storyboard* board = &storyboard;
  storyboard.registerController(kMainRootId, [board] { return makeMainRoot(*board); });
  storyboard.setInitialViewControllerIdentifier(kMainRootId);
  // The tablet's latest updates come up in a popover.
  storyboard.registerSegue(kLastNotesSegue, std::string(kLastNotesControllerNavId), ui::SegueKind::kPopover);
  // The sidebar's rows: pushed on the notes screen's navigation controller, the reminder list
  // (a navigation controller of its own) presented over it.
  storyboard.registerSegue(navigation::kGrowGraphSidebarShow, charts::kGraphicsId, ui::SegueKind::kPush);
  storyboard.registerSegue("day_track_sidebar_show", charts::kDayTrackId, ui::SegueKind::kPush);
  storyboard.registerSegue("reminders_sidebar_show", navigation::kRemindersNavId, ui::SegueKind::kModal);
  storyboard.registerSegue("photos_sidebar_show", babies::kPhotoCollectionId, ui::SegueKind::kPush);
  storyboard.registerSegue("allergies_sidebar_show", babies::kBabyInfoTableId, ui::SegueKind::kPush);
  storyboard.registerSegue("contacts_sidebar_show", babies::kBabyInfoTableId, ui::SegueKind::kPush);
  storyboard.registerSegue("settings_sidebar_show", navigation::kSettingsId, ui::SegueKind::kPush);
}

std::shared_ptr<ui::ViewController> makeMainRoot(ui::Storyboard& storyboard) {
  return storyboard.instantiateViewControllerWithIdentifier(ui::device().isPad() ? kMainViewControllerIPadId
                                                                                 : kSideMenuId);
}

}  // namespace notes_list
