#include "notes_list/notes_view_controller_iphone.h"

#include "app/app_delegate.h"
#include "navigation/reminder_controller.h"
#include "notes_list/latest_updates.h"
#include "platform/ui/image_library.h"

namespace notes_list {

namespace {

constexpr double kBarTop = 7;
constexpr double kBarHeight = 30;
constexpr double kControlsHeight = 44;
constexpr double kStripHeight = 66;

// A button with a picture that the tutorial may badge.
std::shared_ptr<ui::Button> pictureButton(const std::shared_ptr<ui::ImageView>& picture,
                                          graphics::Rect frame) {
  auto button = std::make_shared<ui::Button>(frame);
  picture->setFrame(graphics::Rect(0, 0, frame.size.width, frame.size.height));
  picture->setUserInteractionEnabled(false);
  button->addSubview(picture);
  return button;
}

}  // namespace

notesViewController_iPhone::notesViewController_iPhone(MainScreenServices services)
    : MainScreen(std::move(services), false) {}

void notesViewController_iPhone::viewDidLoad() {
  MainScreen::viewDidLoad();
  auto root = view();

  // 1. The restore hand-back (from the application delegate only) and the sidebar's tutorial move.
  auto& center = runtime::NotificationCenter::defaultCenter();
  std::weak_ptr<ui::ViewController> weak = weak_from_this();
  const void* sender = services().updateDataBaseSender ? services().updateDataBaseSender() : nullptr;
  updateDataBaseObserver_ =
      center.addObserver(std::string(app::kUpdateDataBaseNotification), sender, [weak, this](const auto&) {
        if (weak.lock()) updateDataBase();
      });
  updateTutorialObserver_ =
      center.addObserver(navigation::kUpdateTutorialNotification, nullptr, [weak, this](const auto&) {
        if (weak.lock()) updateTutorial();
      });

  // The bar: the menu button, the baby's name, the latest updates.
  menuImg_ = std::make_shared<ui::ImageView>();
  menuButton_ = pictureButton(menuImg_, graphics::Rect(0, 0, 40, 30));
  sidebarButton_ = ui::BarButtonItem::withCustomView(menuButton_);
  navigationItem().setLeftBarButtonItem(sidebarButton_);
  babyNameButton_ = std::make_shared<ui::Button>(graphics::Rect(0, 0, 180, 30));
  babyNameButton_->setTitleColor(graphics::Color::rgb255(64, 66, 87));
  babyNameButton_->addTarget([this](ui::Control&) { changeBaby(); }, ui::kControlEventTouchUpInside);
  navigationItem().setTitleView(babyNameButton_);
  lastUpdatesImg_ = std::make_shared<ui::ImageView>();
  lastUpdatesButton_ = pictureButton(lastUpdatesImg_, graphics::Rect(0, 0, 40, 30));
  lastUpdatesButton_->addTarget([this](ui::Control&) { showOtherData(); }, ui::kControlEventTouchUpInside);
  navigationItem().setRightBarButtonItem(ui::BarButtonItem::withCustomView(lastUpdatesButton_));

  remindersButton_ = std::make_shared<ui::Button>();
  remindersButton_->setImage(ui::imageNamed("iPhone_reminder_button"));
  remindersButton_->addTarget([this](ui::Control&) { openReminder(); }, ui::kControlEventTouchUpInside);
  root->addSubview(remindersButton_);
  if (noteQuickStartView() && !noteQuickStartView()->superview()) root->addSubview(noteQuickStartView());

  transparentView_ = std::make_shared<ui::View>(root->bounds());
  transparentView_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  transparentView_->setBackgroundColor(graphics::Color(0, 0, 0, 0.2));
  transparentView_->setHidden(true);
  root->addSubview(transparentView_);

  // 4. White behind the list.
  root->setBackgroundColor(graphics::Color::white());
  // 5. A bar that draws nothing of its own, no hairline under it, translucent.
  seeThroughBar();
  // 6. The language screen first when the first preferred language has no texts.
  setShouldChooseTheLanguage(
      !(services().preferredLanguageHasBundle && services().preferredLanguageHasBundle()));
  // 7. The application's store.
  takeApplicationContext();
  // 8. The side menu: the button and a horizontal drag move it.
  if (auto* container = navigation::revealViewController(*this)) {
    std::weak_ptr<ui::ViewController> weakContainer = container->weak_from_this();
    auto toggle = [weakContainer] {
      if (auto strong = weakContainer.lock())
        static_cast<navigation::SideMenuController&>(*strong).revealToggle();
    };
    sidebarButton_->setAction([toggle](ui::BarButtonItem&) { toggle(); });
    menuButton_->addTarget([toggle](ui::Control&) { toggle(); }, ui::kControlEventTouchUpInside);
    root->addGestureRecognizer(container->panGestureRecognizer());
  }
  layerOverlays();
  layoutControls();
}

void notesViewController_iPhone::seeThroughBar() {
  auto* navigation = navigationController();
  if (!navigation) return;
  auto& bar = navigation->navigationBar();
  const auto empty = std::make_shared<const graphics::Image>();
  bar.setBackgroundImage(empty);
  bar.setShadowImage(empty);
  bar.setTranslucent(true);
  // The bar's picture lies behind the bar as the scene's own header, so the bar and the screen
  // below it read as one surface, without a line between them.
  if (!barBackdrop_) {
    barBackdrop_ = std::make_shared<ui::ImageView>(ui::imageNamed("iPhone_nav_bar"));
    barBackdrop_->setContentMode(ui::ContentMode::kScaleToFill);
    barBackdrop_->setAutoresizingMask(ui::kFlexibleWidth);
    barBackdrop_->setUserInteractionEnabled(false);
  }
  barBackdrop_->setFrame(bar.frame());
  navigation->view()->insertSubviewAtIndex(barBackdrop_, 0);
}

void notesViewController_iPhone::viewDidLayoutSubviews() { layoutControls(); }

void notesViewController_iPhone::layoutControls() {
  if (!filterButton_) return;
  const double width = view()->bounds().size.width;
  const double height = view()->bounds().size.height;
  filterButton_->setFrame(graphics::Rect(6, kBarTop, 38, kBarHeight));
  filterOnButton_->setFrame(graphics::Rect(50, kBarTop, 38, kBarHeight));
  // The switch moves right and narrows while the reset button shows.
  const bool filtered = filtering();
  tableStyleSegment_->setFrame(
      graphics::Rect(filtered ? 94 : 50, kBarTop, width - 100 - (filtered ? 44 : 0), kBarHeight));
  remindersButton_->setFrame(graphics::Rect(width - 44, kBarTop, 38, kBarHeight));
  double top = kControlsHeight;
  // A hidden strip takes no room: the list starts under the controls.
  if (noteQuickStartView() && noteQuickStartView()->superview() == view().get() &&
      !noteQuickStartView()->isHidden()) {
    noteQuickStartView()->setFrame(graphics::Rect(0, top, width, kStripHeight));
    top += kStripHeight;
  }
  if (table()) table()->setFrame(graphics::Rect(0, top, width, std::max(0.0, height - top)));
}

void notesViewController_iPhone::chooseBabyOrAsk() {
  if (chooseFirstBaby()) return;
  auto list = babyListNavigation();
  if (!list) return;
  if (presentedViewController()) {
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    dismissViewControllerAnimated(false, [weak, this, list] {
      if (weak.lock()) presentViewController(list, false);
    });
    return;
  }
  presentViewController(list, false);
}

void notesViewController_iPhone::viewDidAppear(bool animated) {
  MainScreen::viewDidAppear(animated);
  // The language screen comes first (its bar hidden); the baby at the next appearance.
  if (shouldChooseTheLanguage()) return presentLanguageScreen(true);
  if (currentBabyName()) return;
  if (fstLaunchView()) fstLaunchView()->setNeedsDisplay();
  chooseBabyOrAsk();
}

void notesViewController_iPhone::updateTable() {
  MainScreen::updateTable();
  updateTutorial();
}

void notesViewController_iPhone::performFetch() {
  MainScreen::performFetch();
  layoutControls();
}

void notesViewController_iPhone::showBadges(const TutorialBadges& badges) {
  menuImageName_ = menuButtonImageName(badges.menuBadge);
  lastUpdatesImageName_ = latestUpdatesImageName(badges.latestUpdatesBadge);
  if (menuImg_) showPicture(*menuImg_, menuImageName_);
  if (lastUpdatesImg_) showPicture(*lastUpdatesImg_, lastUpdatesImageName_);
  showStripBadge(badges.stripBadge);
}

void notesViewController_iPhone::showBabyName(const std::optional<std::string>& name) {
  if (babyNameButton_) babyNameButton_->setTitle(name.value_or(""));
}

// --- Actions

void notesViewController_iPhone::openReminder() {
  auto navigation = navigationFor(navigation::kRemindersNavId, [this](ui::ViewController& screen) {
    if (auto* reminders = dynamic_cast<navigation::reminderController*>(&screen)) {
      reminders->setNoteView_delegate(weakDelegate());
      reminders->setCurrentBaby(currentBabyName());
      reminders->setManagedObjectContext(screenContext());
    }
  });
  if (navigation) presentViewController(navigation, true);
}

void notesViewController_iPhone::showOtherData() {
  auto navigation = navigationFor(std::string(kLastNotesControllerNavId), [this](ui::ViewController& screen) {
    moveTutorial(services().chooser, 2, 3);
    prepareLatestUpdates(screen);
  });
  if (navigation) presentViewController(navigation, true);
}

void notesViewController_iPhone::changeBaby() { performSegueWithIdentifier(babies::kChangeBabySegue); }

void notesViewController_iPhone::prepareForSegue(ui::StoryboardSegue& segue, ui::View*) {
  if (segue.identifier() == babies::kChangeBabySegue && segue.destinationViewController())
    prepareBabyList(*segue.destinationViewController());
}

void notesViewController_iPhone::updateDataBase() {
  // Screens pushed over the list (settings, then the backup screen) go first.
  if (auto* navigation = navigationController()) {
    navigation->popViewControllerAnimated(false);
    navigation->popViewControllerAnimated(false);
  }
  if (services().setApplicationBabyName) services().setApplicationBabyName(std::nullopt);
  takeApplicationContext();
  setCurrentBabyName(std::nullopt);
  showBabyName(std::nullopt);
  updateLanguageStuff();
  // The layer is not shown again: the baby list comes up over the list when the store has no baby.
  chooseBabyOrAsk();
}

}  // namespace notes_list
