#include "notes_list/main_view_controller_ipad.h"

#include <map>

#include "babies/baby_list_controller.h"
#include "charts/chart_screens.h"
#include "navigation/reminder_controller.h"
#include "navigation/settings_controller.h"
#include "notes_list/note_predicates.h"
#include "platform/foundation/clock.h"
#include "platform/runtime/run_loop.h"
#include "platform/store/fetch_request.h"
#include "platform/ui/gesture.h"
#include "platform/ui/image_library.h"


namespace notes_list {

namespace {

constexpr double kPanelWidth = 240;
constexpr double kStatusBar = 20;
constexpr double kBarHeight = 30;
constexpr double kStripHeight = 80;
constexpr double kPanelRow = 46;
// The least the baby's name shrinks to (of its 20 points) before it is cut: still read at a glance.
constexpr double kNameMinimumScale = 0.6;

// The growth-information caption is this fixed text, whatever the interface language.
constexpr const char* kGrowthInfoCaption = "Развитие";

const std::vector<mainViewController_iPad::PanelEntry>& panelEntries() {
  static const std::vector<mainViewController_iPad::PanelEntry> entries{
      {"Reminders", navigation::kReminderSegue},
      {"Summary Chart", "summaryChartSegue"},
      {"Graph of the day", charts::kDayTrackSegue},
      {"Growth graph", charts::kGraphicsSegue},
      {"Teeth", "teethSegue"},
      {"Allergies", babies::kBabyInfoTableSegue},
      {"Contacts", babies::kBabyInfoTableSegue2},
      {"Photos", babies::kPhotoCollectionSegue},
      {"Settings", navigation::kSettingsSegue},
      {"", "growthInfoSegue"},
      {"Latest Updates", kLastNotesSegue},
  };
  return entries;
}

// The picture beside an entry's caption; the growth graph's and the latest updates' pictures
// follow the tutorial badges instead.
std::string panelPictureName(const std::string& segue) {
  static const std::map<std::string, std::string> pictures{
      {navigation::kReminderSegue, "iPad_icon_reminders"},
      {"summaryChartSegue", "iPad_icon_summary_chart"},
      {charts::kDayTrackSegue, "iPad_icon_day_graph"},
      {"teethSegue", "iPad_icon_teeth"},
      {babies::kBabyInfoTableSegue, "iPad_icon_allergies"},
      {babies::kBabyInfoTableSegue2, "iPad_icon_contacts"},
      {babies::kPhotoCollectionSegue, "iPad_icon_photos"},
      {navigation::kSettingsSegue, "iPad_icon_settings"},
      {"growthInfoSegue", "iPad_icon_growth_info"},
  };
  const auto found = pictures.find(segue);
  return found == pictures.end() ? std::string() : found->second;
}

// The screen a segue's values go to: the last screen of a navigation controller, or the screen.
ui::ViewController* receiver(const std::shared_ptr<ui::ViewController>& destination) {
  if (auto* navigation = dynamic_cast<ui::NavigationController*>(destination.get()))
    return navigation->viewControllers().empty() ? nullptr : navigation->viewControllers().back().get();
  return destination.get();
}

}  // namespace

mainViewController_iPad::mainViewController_iPad(MainScreenServices services)
    : MainScreen(std::move(services), true) {}

void mainViewController_iPad::setManagedObjectContext(std::shared_ptr<store::Context> context) {
  adoptContext(std::move(context));
}

void mainViewController_iPad::setLocSaves(std::shared_ptr<app::localSaves> saves) {
  adoptSaves(std::move(saves));
}

ui::Button* mainViewController_iPad::panelButton(const std::string& segue) const {
  for (std::size_t i = 0; i < panelEntries_.size(); ++i)
    if (panelEntries_[i].segue == segue) return panelButtons_[i].get();
  return nullptr;
}

ui::Label* mainViewController_iPad::panelLabel(const std::string& segue) const {
  for (std::size_t i = 0; i < panelEntries_.size(); ++i)
    if (panelEntries_[i].segue == segue) return panelLabels_[i].get();
  return nullptr;
}

void mainViewController_iPad::viewDidLoad() {
  MainScreen::viewDidLoad();
  view()->setBackgroundColor(graphics::Color::white());
  view()->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  buildPanel();
  // A new note of any type, through the chooser; nothing is started while no baby is chosen.
  addNoteButton_ = std::make_shared<ui::Button>();
  addNoteButton_->setImage(ui::imageNamed("iPhone_more"));
  addNoteButton_->addTarget(
      [this](ui::Control&) {
        if (currentBabyName()) performSegueWithIdentifier(navigation::kAddNoteSegue, addNoteButton_.get());
      },
      ui::kControlEventTouchUpInside);
  view()->addSubview(addNoteButton_);
  if (noteQuickStartView() && !noteQuickStartView()->superview()) view()->addSubview(noteQuickStartView());
  // 1. The block layer over everything; a tap on it asks for a baby again when none is chosen.
  auto tap = std::make_shared<ui::TapGestureRecognizer>([this](ui::GestureRecognizer&) {
    if (!currentBabyName() && !presentedViewController()) askForBabyInPopover();
  });
  noUserBlockLayer_->addGestureRecognizer(tap);
  layerOverlays();
  // 2. No baby yet.
  babyNameLable_->setText("");
  daysLable_->setText("");
  // 4. Texts, and the list style.
  updateLanguageStuff();
  tableStyleSegment_->setSelectedSegmentIndex(0);
  layoutScreen();
}

void mainViewController_iPad::buildPanel() {
  auto root = view();
  const double height = root->bounds().size.height;
  // 3. One vertical line along the backdrop's left edge.
  leftSideBackView_ = std::make_shared<app::lineDrawerView>(graphics::Rect(0, 0, kPanelWidth, height));
  leftSideBackView_->setAutoresizingMask(ui::kFlexibleHeight);
  leftSideBackView_->setBackgroundColor(graphics::Color::rgb255(245, 244, 250));
  leftSideBackView_->linesArr = {{0, 0}, {0, static_cast<float>(leftSideBackView_->bounds().size.height)}};
  leftSideBackView_->setNeedsDisplay();
  root->addSubview(leftSideBackView_);

  babyImage_ = std::make_shared<ui::ImageView>(graphics::Rect((kPanelWidth - 100) / 2, 30, 100, 100));
  root->addSubview(babyImage_);
  babyNameButton_ = std::make_shared<ui::Button>(graphics::Rect(10, 136, kPanelWidth - 20, 30));
  babyNameButton_->addTarget([this](ui::Control&) { performSegueWithIdentifier(babies::kChangeBabySegue); },
                             ui::kControlEventTouchUpInside);
  root->addSubview(babyNameButton_);
  babyNameLable_ = std::make_shared<ui::Label>(graphics::Rect(10, 136, kPanelWidth - 20, 30));
  babyNameLable_->setTextAlignment(graphics::TextAlignment::kCenter);
  babyNameLable_->setFont(graphics::Font("AvenirNext-Medium", 20));
  // A long name shrinks to the panel's width before it is cut.
  babyNameLable_->setAdjustsFontSizeToFitWidth(true);
  babyNameLable_->setMinimumScaleFactor(kNameMinimumScale);
  babyNameLable_->setUserInteractionEnabled(false);
  root->addSubview(babyNameLable_);
  daysLable_ = std::make_shared<ui::Label>(graphics::Rect(10, 166, kPanelWidth - 20, 22));
  daysLable_->setTextAlignment(graphics::TextAlignment::kCenter);
  daysLable_->setFont(graphics::Font("AvenirNext-Regular", 14));
  root->addSubview(daysLable_);

  graphImg_ = std::make_shared<ui::ImageView>();
  latestNotesImg_ = std::make_shared<ui::ImageView>();
  ui::Storyboard* board = storyboard();
  double y = 200;
  for (const auto& entry : panelEntries()) {
    auto button = std::make_shared<ui::Button>(graphics::Rect(16, y, kPanelWidth - 32, kPanelRow - 6));
    button->setBackgroundColor(graphics::Color::rgb255(140, 127, 243).withAlpha(0.12));
    const std::string segue = entry.segue;
    button->addTarget(
        [this, segue, raw = button.get()](ui::Control&) { performSegueWithIdentifier(segue, raw); },
        ui::kControlEventTouchUpInside);
    auto label = std::make_shared<ui::Label>(graphics::Rect(56, 0, kPanelWidth - 80, kPanelRow - 6));
    label->setFont(graphics::Font("AvenirNext-Regular", 15));
    label->setUserInteractionEnabled(false);
    button->addSubview(label);
    std::shared_ptr<ui::ImageView> picture;
    if (segue == charts::kGraphicsSegue || segue == kLastNotesSegue) {
      picture = segue == charts::kGraphicsSegue ? graphImg_ : latestNotesImg_;
    } else if (const std::string name = panelPictureName(segue); !name.empty()) {
      picture = std::make_shared<ui::ImageView>();
      showPicture(*picture, name);
    }
    if (picture) {
      picture->setFrame(graphics::Rect(8, 4, 32, 32));
      picture->setUserInteractionEnabled(false);
      button->addSubview(picture);
    }
    if (segue == babies::kPhotoCollectionSegue) photoButton_ = button;
    // A screen the storyboard cannot reach gets no button.
    const auto declared = board ? board->segue(segue) : std::nullopt;
    const bool reachable = declared && board->hasController(declared->destinationIdentifier);
    button->setHidden(!reachable);
    if (segue == "growthInfoSegue" && reachable) growthInfo_ = button;
    if (reachable) y += kPanelRow;
    root->addSubview(button);
    panelEntries_.push_back(entry);
    panelButtons_.push_back(button);
    panelLabels_.push_back(label);
  }
  if (!photoButton_) photoButton_ = std::make_shared<ui::Button>();
}

void mainViewController_iPad::layoutScreen() {
  if (!filterButton_) return;
  const double width = view()->bounds().size.width;
  const double height = view()->bounds().size.height;
  const double left = kPanelWidth;
  const double top = kStatusBar + 7;
  filterButton_->setFrame(graphics::Rect(left + 6, top, 38, kBarHeight));
  filterOnButton_->setFrame(graphics::Rect(left + 50, top, 38, kBarHeight));
  tableStyleSegment_->setFrame(graphics::Rect(left + 94, top, width - left - 144, kBarHeight));
  if (addNoteButton_) addNoteButton_->setFrame(graphics::Rect(width - 44, top, 38, kBarHeight));
  double listTop = kStatusBar + 44;
  if (noteQuickStartView() && noteQuickStartView()->superview() == view().get()) {
    noteQuickStartView()->setFrame(graphics::Rect(left, listTop, width - left, kStripHeight));
    listTop += kStripHeight;
  }
  if (table())
    table()->setFrame(graphics::Rect(left, listTop, width - left, std::max(0.0, height - listTop)));
  leftSideBackView_->setFrame(graphics::Rect(0, 0, kPanelWidth, height));
}

void mainViewController_iPad::viewDidLayoutSubviews() { layoutScreen(); }

void mainViewController_iPad::viewWillAppear(bool animated) {
  adjustViewsForOrientation(ui::device().statusBarOrientation);
  MainScreen::viewWillAppear(animated);
}

void mainViewController_iPad::willRotateToInterfaceOrientation(ui::Orientation to, double duration) {
  MainScreen::willRotateToInterfaceOrientation(to, duration);
  adjustViewsForOrientation(to);
}

void mainViewController_iPad::didRotateFromInterfaceOrientation(ui::Orientation from) {
  MainScreen::didRotateFromInterfaceOrientation(from);
  // The screen has its new size now: the list and the strip take the width they got.
  layoutScreen();
  refreshStrip();
}

void mainViewController_iPad::adjustViewsForOrientation(ui::Orientation) {
  if (const auto& overlay = fstLaunchView()) {
    if (ui::device().systemVersionNumber() < 8.0) {
      const auto size = view()->bounds().size;
      const double side = std::max(size.width, size.height);
      overlay->setFrame(graphics::Rect(0, 0, side, side));
    }
    overlay->setNeedsDisplay();
  }
  layoutScreen();
  refreshStrip();
  if (table()) table()->reloadData();
}

void mainViewController_iPad::viewDidAppear(bool animated) {
  MainScreen::viewDidAppear(animated);
  closePopover();
  if (shouldChooseTheLanguage()) return presentLanguageScreen(false);
  if (currentBabyName()) return;
  if (fstLaunchView()) fstLaunchView()->setNeedsDisplay();
  if (chooseFirstBaby()) return;
  noUserBlockLayer_->setBackgroundColor(graphics::Color(0.5490196347, 0.4980392158, 0.9529411793, 1));
  if (auto list = babyListNavigation()) {
    list->setModalPresentationStyle(ui::ModalPresentationStyle::kFormSheet);
    presentViewController(list, false);
  }
}

void mainViewController_iPad::updateLanguageStuff() {
  MainScreen::updateLanguageStuff();
  for (std::size_t i = 0; i < panelEntries_.size(); ++i) {
    const auto& entry = panelEntries_[i];
    if (entry.segue == "growthInfoSegue")
      panelLabels_[i]->setText(kGrowthInfoCaption);
    else if (!entry.captionKey.empty())
      panelLabels_[i]->setText(services().chooser.localized(entry.captionKey));
  }
  // The growth information is written for Russian readers only.
  if (growthInfo_) growthInfo_->setHidden(!showGrowthInfo());
}

void mainViewController_iPad::updateTable() {
  refreshStrip();
  MainScreen::updateTable();
  const foundation::Clock& clock =
      services().statistics.clock ? *services().statistics.clock : runtime::RunLoop::main().clock();
  daysLable_->setText(birthDayDate() ? neh().getIntervalBetween2DatesString(*birthDayDate(), clock.now())
                                     : "");
  babyNameLable_->setText(currentBabyName().value_or(""));
  showBabyPicture();
  updateTutorial();
}

void mainViewController_iPad::showBabyPicture() {
  if (!currentBabyName() || !screenContext()) return;
  store::FetchRequest request{std::string(app::Baby::kEntityName)};
  request.predicate = fixedPredicate("baby_Name == %@", {*currentBabyName()});
  request.fetchLimit = 1;
  auto found = screenContext()->fetch(request);
  // No such baby (or a failed fetch) leaves the picture as it is.
  if (!found || found->empty()) return;
  const app::Baby baby(found->front());
  std::optional<graphics::Image> icon;
  if (const auto& saves = services().saves) icon = saves->getIcon(*currentBabyName());
  if (icon) {
    babyImageName_.clear();
    babyImage_->setImage(std::make_shared<const graphics::Image>(std::move(*icon)));
    babyImage_->setCornerRadius(babyImage_->bounds().size.width / 2);
    babyImage_->setClipsToBounds(true);
    return;
  }
  babyImageName_ = baby.baby_Gender().value_or(false) ? "babyGirl" : "babyBoy";
  babyImage_->setCornerRadius(0);
  babyImage_->setClipsToBounds(false);
  showPicture(*babyImage_, babyImageName_);
}

void mainViewController_iPad::showBadges(const TutorialBadges& badges) {
  graphImageName_ = graphsButtonImageName(badges.menuBadge);
  latestNotesImageName_ = latestUpdatesImageName(badges.latestUpdatesBadge);
  showPicture(*graphImg_, graphImageName_);
  showPicture(*latestNotesImg_, latestNotesImageName_);
  showStripBadge(badges.stripBadge);
}

void mainViewController_iPad::showBabyName(const std::optional<std::string>& name) {
  if (babyNameLable_) babyNameLable_->setText(name.value_or(""));
}

void mainViewController_iPad::closePopover() {
  if (myPopoverController_ && myPopoverController_->isPopoverVisible()) {
    myPopoverController_->dismissPopoverAnimated(true);
    myPopoverController_.reset();
  }
}

void mainViewController_iPad::popoverControllerDidDismissPopover(ui::PopoverController&) {
  closePopover();
  myPopoverController_.reset();
  setupFetchedResultsController();
}

void mainViewController_iPad::prepareForSegue(ui::StoryboardSegue& segue, ui::View*) {
  closePopover();
  ui::ViewController* screen = receiver(segue.destinationViewController());
  if (!screen) return;
  const std::string& id = segue.identifier();
  const auto baby = currentBabyName();
  if (id == babies::kChangeBabySegue) {
    prepareBabyList(*screen);
  } else if (auto* chooser = dynamic_cast<navigation::noteTypeTableController*>(screen);
             chooser && id == navigation::kAddNoteSegue) {
    chooser->setManagedObjectContext(screenContext());
    chooser->setCurrentBabyName(baby);
    chooser->setNoteView_delegate(this);
  } else if (auto* graph = dynamic_cast<charts::graphicsViewController*>(screen);
             graph && id == charts::kGraphicsSegue) {
    moveTutorial(services().chooser, 1, 2);
    graph->setNoteView_delegate(this);
    graph->setManagedObjectContext(screenContext());
    graph->setCurrentBabyName(baby);
  } else if (auto* track = dynamic_cast<charts::DayTrackController*>(screen);
             track && id == charts::kDayTrackSegue) {
    track->setNoteView_delegate(this);
    track->setManagedObjectContext(screenContext());
    track->setCurrentBabyName(baby);
  } else if (auto* info = dynamic_cast<babies::babyInfoTableViewController*>(screen);
             info && (id == babies::kBabyInfoTableSegue || id == babies::kBabyInfoTableSegue2)) {
    info->setInfoType(std::string(id == babies::kBabyInfoTableSegue ? babies::kInfoTypeAllergies
                                                                    : babies::kInfoTypeContacts));
    info->setCurrentBabyName(baby);
    info->setManagedObjectContext(screenContext());
    info->setNoteView_delegate(this);
    // The records come up in a popover: tracked like the latest updates, so that their "Done"
    // (which answers this screen) closes it.
    myPopoverController_ = segue.popoverController();
    if (myPopoverController_) myPopoverController_->setDelegate(this);
  } else if (auto* reminders = dynamic_cast<navigation::reminderController*>(screen);
             reminders && id == navigation::kReminderSegue) {
    reminders->setNoteView_delegate(weakDelegate());
    reminders->setCurrentBaby(baby);
    reminders->setManagedObjectContext(screenContext());
  } else if (id == kLastNotesSegue) {
    if (moveTutorial(services().chooser, 2, 3)) updateTable();
    prepareLatestUpdates(*screen);
    myPopoverController_ = segue.popoverController();
    if (myPopoverController_) myPopoverController_->setDelegate(this);
  } else if (auto* settings = dynamic_cast<navigation::settingsController*>(screen);
             settings && id == navigation::kSettingsSegue) {
    segue.destinationViewController()->setModalInPopover(true);
    settings->setNoteView_delegate(this);
    settings->setManagedObjectContext(screenContext());
    settings->setCurrentBabyName(currentBabyName());
  } else if (auto* photos = dynamic_cast<babies::photoCollectionController*>(screen);
             photos && id == babies::kPhotoCollectionSegue) {
    photos->setCurrentBabyName(baby);
    photos->setManagedObjectContext(screenContext());
    photos->setLocSaves(services().saves);
    photos->setNoteView_delegate(this);
  }
}

void mainViewController_iPad::askForBabyInPopover() {
  auto list = babyListNavigation();
  if (!list) return;
  if (myPopoverController_) myPopoverController_->dismissPopoverAnimated(false);
  myPopoverController_ = ui::PopoverController::create(list);
  myPopoverController_->setDelegate(this);
  myPopoverController_->presentPopoverFromRect(graphics::Rect(50, 50, 50, 50), view().get(),
                                               ui::kPopoverArrowLeft, false);
}

void mainViewController_iPad::updateDataBase() {
  closePopover();
  if (services().setApplicationBabyName) services().setApplicationBabyName(std::nullopt);
  takeApplicationContext();
  setCurrentBabyName(std::nullopt);
  showBabyName(std::nullopt);
  updateLanguageStuff();
  if (chooseFirstBaby()) return;
  askForBabyInPopover();
  // The baby list asks in its popover; the list stays in sight beside it. Nothing can be started
  // for the baby that is gone meanwhile: the list's ways to a new note want a chosen baby.
  noUserBlockLayer_->setHidden(true);
}

}  // namespace notes_list
