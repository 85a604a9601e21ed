// The two main screens over a real store: the baby they choose, the tutorial badges across a
// restart, the restore hand-back, and both roots drawn for people.

#include "notes_list/main_screens.h"

#include <gtest/gtest.h>

#include "app/app_delegate.h"
#include "app/settings_records.h"
#include "babies/baby_list_controller.h"
#include "charts/chart_screens.h"
#include "navigation/side_menu_controller.h"
#include "note_editor/note_edit_controller.h"
#include "note_editor/note_editor.h"
#include "notes_list/list_extras_impl.h"
#include "notes_list/list_fixture.h"
#include "notes_list/main_view_controller_ipad.h"
#include "notes_list/notes_view_controller_iphone.h"
#include "notes_list/quick_start.h"
#include "notes_list/units_overlay.h"
#include "platform/files/file_ops.h"
#include "platform/ui/render.h"
#include "platform/ui/touch.h"

namespace {

using list_test::at;
using notes_list::DayRow;
using notes_list::MainScreen;
using notes_list::mainViewController_iPad;
using notes_list::notesViewController_iPhone;

class MainScreensTest : public list_test::ListTest {
 protected:
  MainScreensTest() {
    appContext_ = context_;
    babies::registerBabyScreens(storyboard_);
    charts::registerChartScreens(storyboard_);
    registerEditorScreens(storyboard_);
    navigation::registerChooserScreens(storyboard_, [this] { return chooser(); });
    notes_list::registerListExtrasScreens(storyboard_, [this] {
      notes_list::ListExtrasScreenServices services;
      services.neh = neh();
      services.context = [this] { return appContext_; };
      services.clock = &clock_;
      services.language = list_test::english;
      return services;
    });
    notes_list::registerMainScreens(storyboard_, [this] { return mainServices(); });
  }

  ~MainScreensTest() override {
    if (window_) window_->setRootViewController(nullptr);
    runLoop();
  }

  app::TutorialEnvironment tutorialEnvironment() {
    app::TutorialEnvironment environment;
    environment.versionNumber = 10;
    environment.clock = &clock_;
    return environment;
  }

  navigation::ChooserServices chooser() {
    navigation::ChooserServices services;
    services.language = list_test::english;
    services.library = home_.library();
    services.tutorialState = [this] { return step_; };
    services.setTutorialState = [this](std::int32_t step) {
      step_ = step;
      return app::saveTutorialState(step, records_, tutorialEnvironment());
    };
    return services;
  }

  notes_list::MainScreenServices mainServices() {
    notes_list::MainScreenServices services;
    services.neh = neh();
    services.statistics = this->services();
    services.statistics.context = appContext_;
    services.saves = saves_;
    services.chooser = chooser();
    services.applicationContext = [this] { return appContext_; };
    services.setApplicationBabyName = [this](const std::optional<std::string>& name) { appBaby_ = name; };
    services.preferredLanguageHasBundle = [] { return true; };
    services.updateDataBaseSender = [this]() -> const void* { return &applicationDelegate_; };
    services.screenShotState = [this] { return screenShotState_; };
    services.setScreenShotState = [this](std::int32_t state) { screenShotState_ = state; };
    services.startScreenshots = [this](MainScreen& screen) { screenshotsOf_ = &screen; };
    notes_list::ListExtrasImpl::Services extras;
    extras.prompts.home = home_;
    extras.prompts.clock = &clock_;
    extras.language = list_test::english;
    services.extras = std::make_shared<notes_list::ListExtrasImpl>(std::move(extras));
    return services;
  }

  // The application starts again: the step as the launch reads it back.
  void restart() {
    if (window_) window_->setRootViewController(nullptr);
    runLoop();
    step_ = app::initTutorialStatus(false, records_, tutorialEnvironment());
  }

  std::shared_ptr<ui::ViewController> launch() {
    window_ = std::make_shared<ui::Window>();
    auto root = storyboard_.instantiateInitialViewController();
    window_->setRootViewController(root);
    window_->makeKeyAndVisible();
    runLoop();
    return root;
  }

  notesViewController_iPhone& launchPhone() {
    auto root = std::dynamic_pointer_cast<navigation::SideMenuController>(launch());
    EXPECT_NE(root, nullptr);
    auto& front = dynamic_cast<ui::NavigationController&>(*root->frontViewController());
    return dynamic_cast<notesViewController_iPhone&>(*front.viewControllers().front());
  }

  // A store beside the first one, as a restore leaves it, with the given babies.
  std::shared_ptr<store::Context> restoredStore(const std::vector<std::string>& babies) {
    const auto path = temp_.path() / ("restored" + std::to_string(++restores_) + ".sqlite");
    restoredStores_.push_back(store::Store::open(path, app::managedObjectModel()).value());
    auto& restoredStore_ = restoredStores_.back();
    auto context = restoredStore_->newContext().value();
    for (const auto& name : babies) app::Baby::insertIn(*context).setBaby_Name(name);
    EXPECT_TRUE(context->save().ok());
    return context;
  }

  static int rowCount(MainScreen& screen) {
    int rows = 0;
    for (int s = 0; s < screen.table()->numberOfSections(); ++s)
      rows += screen.table()->numberOfRowsInSection(s);
    return rows;
  }

  static babies::babyListController* presentedBabyList(ui::ViewController* presented) {
    auto* navigation = dynamic_cast<ui::NavigationController*>(presented);
    if (!navigation || navigation->viewControllers().empty()) return nullptr;
    // An empty list has its profile editor pushed over it already.
    return dynamic_cast<babies::babyListController*>(navigation->viewControllers().front().get());
  }

  app::SettingsRecords records_{home_};
  std::int32_t step_ = 0;
  int applicationDelegate_ = 0;
  std::int32_t screenShotState_ = 0;
  MainScreen* screenshotsOf_ = nullptr;
  std::shared_ptr<store::Context> appContext_;
  std::vector<std::shared_ptr<store::Store>> restoredStores_;
  int restores_ = 0;
  std::optional<std::string> appBaby_;
  ui::Storyboard storyboard_;
  std::shared_ptr<ui::Window> window_;
};

TEST_F(MainScreensTest, PhoneChoosesTheFirstBabyAndSwitchingReloadsTheList) {
  add("Sleep", at(3, 1), at(3, 3));
  add("Walk", at(3, 10), at(3, 11));
  auto ben = app::Baby::insertIn(*context_);
  ben.setBaby_Name("Ben");
  ASSERT_TRUE(context_->save().ok());

  auto& screen = launchPhone();
  EXPECT_EQ(screen.currentBabyName(), "Anna");
  EXPECT_EQ(appBaby_, "Anna");
  EXPECT_EQ(screen.babyNameButton().currentTitle(), "Anna");
  EXPECT_TRUE(screen.noUserBlockLayer().isHidden());
  EXPECT_EQ(rowCount(screen), 2);

  // The name opens the baby list; choosing Ben there reloads the list for him.
  screen.babyNameButton().tap();
  runLoop();
  auto* list = presentedBabyList(screen.presentedViewController());
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->babies().size(), 2u);
  const int benRow = list->babies()[0].baby_Name() == std::optional<std::string>("Ben") ? 0 : 1;
  ASSERT_TRUE(list->babyTable().tapRowAtIndexPath({0, benRow}));
  runLoop();
  EXPECT_EQ(screen.presentedViewController(), nullptr);
  EXPECT_EQ(rowCount(screen), 0);
  EXPECT_EQ(screen.babyNameButton().currentTitle(), "Ben");
  EXPECT_EQ(appBaby_, "Ben");

  // The strip: a slot past the types opens nothing, the more slot the note-type chooser.
  screen.quickStartNumWasClicked(static_cast<int>(screen.quickStartTypeArr().size()));
  runLoop();
  EXPECT_EQ(screen.presentedViewController(), nullptr);
  screen.quickStartNumWasClicked(-1);
  runLoop();
  auto* chooser = dynamic_cast<ui::NavigationController*>(screen.presentedViewController());
  ASSERT_NE(chooser, nullptr);
  EXPECT_NE(dynamic_cast<navigation::noteTypeTableController*>(chooser->viewControllers().front().get()),
            nullptr);
  screen.noteViewChildDone(*chooser, false);
  runLoop();

  // The style switch, and the filter's reset button with the switch moved aside.
  screen.tableStyleSegment().tapSegment(1);
  EXPECT_TRUE(screen.sumStyle());
  notes_list::ListFilter filter;
  filter.types = std::vector<std::string>{"Sleep"};
  screen.setFilter(filter);
  screen.performFetch();
  EXPECT_FALSE(screen.filterOnButton().isHidden());
  EXPECT_EQ(screen.tableStyleSegment().frame().origin.x, 94);
  screen.filterOnButton().tap();
  EXPECT_TRUE(screen.filterOnButton().isHidden());
  EXPECT_EQ(screen.tableStyleSegment().frame().origin.x, 50);
}

// On a first launch the units overlay lies over everything on the list's view but the block
// layer: a tap on the strip, the filter or the style switch reaches the overlay, not the control,
// until the units are chosen. The same tap opens the editor afterwards.
TEST_F(MainScreensTest, FirstRunOverlayTakesEveryTapUntilTheUnitsAreChosen) {
  for (const bool pad : {false, true}) {
    SCOPED_TRACE(pad ? "tablet" : "phone");
    restart();
    (void)files::remove(home_.library() / "Settings" / "firstLaunch.txt");
    std::optional<ui::ScopedDevice> device;
    if (pad) device.emplace(ui::DeviceProfile::pad());
    MainScreen& screen = pad ? static_cast<MainScreen&>(*launch()) : launchPhone();
    auto* overlay = dynamic_cast<notes_list::firstLaunchView*>(screen.fstLaunchView().get());
    ASSERT_NE(overlay, nullptr);
    ASSERT_TRUE(screen.noUserBlockLayer().isHidden());
    const auto& order = screen.view()->subviews();
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order.back().get(), &screen.noUserBlockLayer());
    EXPECT_EQ(order[order.size() - 2].get(), overlay);
    EXPECT_TRUE(overlay->frame().contains(screen.view()->bounds()));

    auto centre = [this](ui::View& view, graphics::Point at) {
      return view.convertPointToView(at, window_.get());
    };
    ui::View& strip = *screen.noteQuickStartView();
    const graphics::Point firstSlot = centre(strip, {10, strip.bounds().height() / 2});
    const graphics::Rect segment = screen.tableStyleSegment().bounds();
    ui::View& button =
        pad ? static_cast<ui::View&>(
                  *dynamic_cast<mainViewController_iPad&>(screen).panelButton(charts::kGraphicsSegue))
            : dynamic_cast<notesViewController_iPhone&>(screen).remindersButton();
    for (const graphics::Point point :
         {firstSlot, centre(screen.filterButton(), screen.filterButton().bounds().center()),
          centre(screen.tableStyleSegment(), {segment.width() * 0.75, segment.height() / 2}),
          centre(button, button.bounds().center())}) {
      ui::TouchInjector finger(*window_);
      EXPECT_EQ(finger.tap(point), overlay) << point.x << "," << point.y;
      runLoop();
    }
    EXPECT_EQ(screen.presentedViewController(), nullptr);
    EXPECT_FALSE(screen.sumStyle());

    overlay->weightNum = overlay->heightNum = overlay->temperNum = 1;
    overlay->checkPoint({10, overlay->superview()->bounds().height() - 10});
    ASSERT_NE(ui::topActionSheet(), nullptr);
    ui::topActionSheet()->tapButton(0);
    runLoop();
    EXPECT_EQ(screen.fstLaunchView(), nullptr);
    ui::TouchInjector finger(*window_);
    finger.tap(firstSlot);
    runLoop();
    EXPECT_NE(screen.presentedViewController(), nullptr);
  }
}

// The launch makes its first screen before it installs the helpers' environment. The services
// made then still reach the delegate's store: the units are read and kept, and the summary sums a
// Drink of 100 ml as 100 ml, not as a bare number of ounces.
TEST_F(MainScreensTest, ServicesMadeBeforeTheLaunchReachTheDelegatesStore) {
  app::NoteEditHelper::Environment beforeLaunch;
  beforeLaunch.library = home_.library();
  app::NoteEditHelper::setApplicationEnvironment(beforeLaunch);
  app::AppDelegate::Environment environment;
  environment.home = home_;
  environment.bundle = std::make_shared<runtime::Bundle>(testing_support::resourcesFolder());
  environment.clock = &clock_;
  app::AppDelegate delegate(environment);
  ui::Application::shared().setDelegate(&delegate);
  auto services = notes_list::MainScreenServices::fromApplication();
  auto context = delegate.managedObjectContext();
  ASSERT_NE(context, nullptr);
  auto baby = app::Baby::insertIn(*context);
  baby.setBaby_Name("Anna");
  auto drink = app::Note::insertIn(*context);
  drink.setNote_Type("Drink");
  drink.setNote_DateStart(at(20, 9));
  drink.setNote_DateStop(at(20, 9));
  drink.setNote_numValue(foundation::Decimal::fromInteger(100));
  drink.setNote_numMeasureCurrent("Notation_ml");
  drink.setNoteToBaby(baby);
  ASSERT_TRUE(context->save().ok());

  services.statistics = this->services();
  services.statistics.context = context;
  notes_list::NotesListModel list(services.neh, services.statistics, nullptr);
  list.setCurrentBabyName("Anna");
  list.setSumStyle(true);
  ASSERT_TRUE(list.performFetch().ok());
  const DayRow* row = list.sumRowAt(0, 0);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->valWithMeasure, "100 " + list_test::english().localized("Notation_ml"));
  EXPECT_EQ(services.neh.getValueType("Weight").vt_NumMeasureCurrent(), "Notation_kg");

  ui::Application::shared().setDelegate(nullptr);
  app::NoteEditHelper::setApplicationEnvironment(beforeLaunch);
}

// A filter applied while the list is scrolled far down shows its first day.
TEST_F(MainScreensTest, AnAppliedFilterShowsTheFirstDay) {
  for (int i = 0; i < 60; ++i)
    add(i % 2 ? "WC" : "Sleep", at(20, 12) - i * 43200.0 - 600, at(20, 12) - i * 43200.0);
  auto& screen = launchPhone();
  auto& table = *screen.table();
  table.setContentOffset(graphics::Point(0, table.contentSize().height - table.bounds().height()));
  runLoop();
  ASSERT_GT(table.contentOffset().y, 0);
  screen.filterButton().tap();
  runLoop();
  auto* navigation = dynamic_cast<ui::NavigationController*>(screen.presentedViewController());
  ASSERT_NE(navigation, nullptr);
  auto& filter = *navigation->viewControllers().front();
  ASSERT_NE(filter.navigationItem().rightBarButtonItem(), nullptr);
  filter.navigationItem().rightBarButtonItem()->tap();  // "Apply"
  runLoop();
  EXPECT_TRUE(screen.filtering());
  EXPECT_EQ(table.contentOffset().y, 0);
  EXPECT_NE(table.cellForRowAtIndexPath({0, 0}), nullptr);
}

TEST_F(MainScreensTest, PhoneWithoutBabiesAsksForOneAndStartsNoNote) {
  context_->deleteObject(baby_.object());
  ASSERT_TRUE(context_->save().ok());
  auto& screen = launchPhone();
  EXPECT_NE(presentedBabyList(screen.presentedViewController()), nullptr);
  EXPECT_FALSE(screen.noUserBlockLayer().isHidden());
  EXPECT_EQ(screenShotState_, 0);
}

TEST_F(MainScreensTest, ScreenshotModeStartsFromTheRootsAppearance) {
  screenShotState_ = 1;
  auto& screen = launchPhone();
  EXPECT_EQ(screenShotState_, 2);
  EXPECT_EQ(screenshotsOf_, &screen);
  EXPECT_TRUE(screen.noUserBlockLayer().isHidden());
}

TEST_F(MainScreensTest, TutorialMovesThroughItsStepsAcrossRestarts) {
  {
    auto& screen = launchPhone();
    ASSERT_TRUE(screen.tutorialBadges());
    EXPECT_EQ(screen.tutorialBadges()->step, 0);
    EXPECT_TRUE(screen.tutorialBadges()->stripBadge);
    auto* strip = notes_list::quickStartView::in(*screen.noteQuickStartView());
    ASSERT_NE(strip, nullptr);
    EXPECT_TRUE(strip->showTheBadge);
    EXPECT_EQ(screen.menuImageName(), "iPhone_list_button.png");

    add("Weight", at(5, 9), at(5, 9), 3.5, "Notation_kg");
    screen.updateTable();
    EXPECT_EQ(step_, 1);
    EXPECT_FALSE(screen.tutorialBadges()->stripBadge);
    EXPECT_EQ(screen.menuImageName(), "iPhone_list_button_badge.png");
  }
  restart();
  {
    auto& screen = launchPhone();
    ASSERT_EQ(step_, 1);
    EXPECT_EQ(screen.menuImageName(), "iPhone_list_button_badge.png");
    // The growth graph from the sidebar: 1 -> 2, and the screen hears of it at once.
    auto* container = navigation::revealViewController(screen);
    auto* sidebar = dynamic_cast<navigation::sidebarMenuController*>(container->rearViewController().get());
    ASSERT_NE(sidebar, nullptr);
    ASSERT_FALSE(sidebar->rows().empty());
    ASSERT_EQ(sidebar->rows().front().segueIdentifier, navigation::kGrowGraphSidebarShow);
    sidebar->openRow(0);
    runLoop();
    EXPECT_EQ(step_, 2);
    EXPECT_EQ(screen.menuImageName(), "iPhone_list_button.png");
    EXPECT_EQ(screen.lastUpdatesImageName(), "iPhone_sum_button_badge.png");
    screen.navigationController()->popViewControllerAnimated(false);
  }
  restart();
  {
    auto& screen = launchPhone();
    ASSERT_EQ(step_, 2);
    // The latest updates: 2 -> 3; the badge moves to the strip.
    screen.lastUpdatesButton().tap();
    runLoop();
    EXPECT_EQ(step_, 3);
    screen.noteViewChildDone(*screen.presentedViewController(), false);
    runLoop();
    EXPECT_TRUE(screen.tutorialBadges()->stripBadge);
    EXPECT_EQ(screen.lastUpdatesImageName(), "iPhone_sum_button.png");
    // The note-type order editor moves it to 4 (a stand-in for it).
    ASSERT_TRUE(chooser().setTutorialState(4).ok());
  }
  restart();
  {
    ASSERT_EQ(step_, 4);
    auto& screen = launchPhone();
    EXPECT_EQ(step_, -1);
    EXPECT_FALSE(screen.tutorialBadges()->stripBadge);
  }
  restart();
  EXPECT_EQ(step_, -1);
}

TEST_F(MainScreensTest, ThePhonesBarShowsThePictureBehindItWithNoLineUnderIt) {
  auto& screen = launchPhone();
  auto* navigation = screen.navigationController();
  ASSERT_NE(navigation, nullptr);
  const ui::NavigationBar& bar = navigation->navigationBar();
  ASSERT_TRUE(bar.backgroundImage() && bar.shadowImage());
  EXPECT_TRUE(bar.backgroundImage()->isEmpty() && bar.shadowImage()->isEmpty());
  EXPECT_TRUE(bar.isTranslucent());
  auto drawn = ui::renderToImage(*navigation->view(), 1.0);
  ASSERT_TRUE(drawn.ok());
  // Right of the title, from the status bar down to the bar's last row: one surface, the bar's
  // picture (not the window's near-white), with no hairline at the bottom.
  const int bottom = static_cast<int>(bar.frame().maxY()) - 1;
  const auto top = drawn->pixel(250, 2);
  EXPECT_EQ(drawn->pixel(250, bottom), top);
  EXPECT_EQ(drawn->pixel(250, bottom - 2), top);
  EXPECT_NE(top, (graphics::Image::Rgba{250, 249, 253, 255}));
  EXPECT_GT(top.a, 0);
}

TEST_F(MainScreensTest, PhoneRestoreHandBackTakesTheNewStore) {
  auto& screen = launchPhone();
  ASSERT_EQ(screen.currentBabyName(), "Anna");
  // Only the application delegate's notice counts.
  runtime::NotificationCenter::defaultCenter().post(std::string(app::kUpdateDataBaseNotification), nullptr);
  EXPECT_EQ(screen.currentBabyName(), "Anna");

  appContext_ = restoredStore({"Carl"});
  runtime::NotificationCenter::defaultCenter().post(std::string(app::kUpdateDataBaseNotification),
                                                    &applicationDelegate_);
  runLoop();
  EXPECT_EQ(screen.currentBabyName(), "Carl");
  EXPECT_EQ(appBaby_, "Carl");
  EXPECT_EQ(screen.screenContext(), appContext_);
  EXPECT_TRUE(screen.noUserBlockLayer().isHidden());

  // A restored store without babies: the baby list over the list; the layer is not shown again.
  appContext_ = restoredStore({});
  runtime::NotificationCenter::defaultCenter().post(std::string(app::kUpdateDataBaseNotification),
                                                    &applicationDelegate_);
  runLoop();
  EXPECT_EQ(screen.currentBabyName(), std::nullopt);
  EXPECT_EQ(appBaby_, std::nullopt);
  EXPECT_NE(presentedBabyList(screen.presentedViewController()), nullptr);
  EXPECT_TRUE(screen.noUserBlockLayer().isHidden());
}

class TabletScreenTest : public MainScreensTest {
 protected:
  mainViewController_iPad& launchPad() { return dynamic_cast<mainViewController_iPad&>(*launch()); }
  ui::ScopedDevice pad_{ui::DeviceProfile::pad()};
};

TEST_F(TabletScreenTest, RestoreIntoAnEmptyStoreAsksInAPopoverAndStartsNoNote) {
  auto& screen = launchPad();
  ASSERT_EQ(screen.currentBabyName(), "Anna");
  EXPECT_EQ(screen.babyNameLable().text(), "Anna");
  EXPECT_EQ(screen.babyImageName(), "babyBoy");

  appContext_ = restoredStore({});
  screen.updateDataBase();
  runLoop();
  const auto& popover = screen.myPopoverController();
  ASSERT_NE(popover, nullptr);
  EXPECT_TRUE(popover->isPopoverVisible());
  EXPECT_EQ(popover->presentedFromRect(), graphics::Rect(50, 50, 50, 50));
  EXPECT_EQ(popover->permittedArrowDirections(), unsigned{ui::kPopoverArrowLeft});
  EXPECT_NE(presentedBabyList(popover->contentViewController().get()), nullptr);
  EXPECT_TRUE(screen.noUserBlockLayer().isHidden());

  // The user closes the popover: still no baby, so neither the strip, a timer nor the add button
  // opens the editor.
  ASSERT_TRUE(popover->dismissByUser());
  runLoop();
  screen.quickStartNumWasClicked(-1);
  screen.quickStartNumWasClicked(0);
  screen.openTimerWithNum(0);
  screen.addNoteButton().sendActionsForControlEvents(ui::kControlEventTouchUpInside);
  runLoop();
  EXPECT_EQ(screen.presentedViewController(), nullptr);
  EXPECT_TRUE(screen.noUserBlockLayer().isHidden());

  // A baby of the restored store is chosen: notes can be started again.
  auto dora = app::Baby::insertIn(*appContext_);
  dora.setBaby_Name("Dora");
  dora.setBaby_Gender(true);
  ASSERT_TRUE(appContext_->save().ok());
  screen.babyListControllerDone("Dora", 1, std::nullopt);
  runLoop();
  EXPECT_TRUE(screen.noUserBlockLayer().isHidden());
  EXPECT_EQ(screen.babyImageName(), "babyGirl");
  screen.quickStartNumWasClicked(-1);
  runLoop();
  EXPECT_NE(screen.presentedViewController(), nullptr);
}

TEST_F(TabletScreenTest, GrowthGraphAndLatestUpdatesMoveTheTutorial) {
  step_ = 1;
  auto& screen = launchPad();
  EXPECT_EQ(screen.graphImageName(), "iPad_icon_graphs_badge.png");
  ASSERT_NE(screen.panelButton(charts::kGraphicsSegue), nullptr);
  EXPECT_TRUE(screen.performSegueWithIdentifier(charts::kGraphicsSegue));
  runLoop();
  EXPECT_EQ(step_, 2);
  screen.noteViewChildDone(*screen.presentedViewController(), false);
  runLoop();
  EXPECT_EQ(screen.latestNotesImageName(), "iPhone_sum_button_badge.png");

  // The latest updates in a popover: 2 -> 3 at once, its badge gone while the popover is up; any
  // other way off the list closes the popover first.
  auto* latest = screen.panelButton(notes_list::kLastNotesSegue);
  ASSERT_NE(latest, nullptr);
  latest->tap();
  runLoop();
  EXPECT_EQ(step_, 3);
  EXPECT_EQ(screen.latestNotesImageName(), "iPhone_sum_button.png");
  ASSERT_NE(screen.myPopoverController(), nullptr);
  EXPECT_TRUE(screen.myPopoverController()->isPopoverVisible());
  auto popover = screen.myPopoverController();
  screen.openFilter();
  runLoop();
  EXPECT_FALSE(popover->isPopoverVisible());
  EXPECT_EQ(screen.myPopoverController(), nullptr);
  EXPECT_NE(screen.presentedViewController(), nullptr);
}

TEST_F(MainScreensTest, BothRootsDrawnForPeople) {
  add("Sleep", at(20, 1), at(20, 3));
  add("Weight", at(20, 9), at(20, 9), 3.5, "Notation_kg");
  // Drawn with the bars the launch gives the application.
  const ui::NavigationBarAppearance plainBars = ui::NavigationBar::appearance();
  app::installNavigationBarLook();
  launchPhone();
  EXPECT_TRUE(ui::renderToPng(*window_, testing_support::testOutput() / "main_screen_phone.png", 2).ok());
  {
    ui::ScopedDevice pad(ui::DeviceProfile::pad());
    auto& screen = dynamic_cast<mainViewController_iPad&>(*launch());
    EXPECT_TRUE(ui::renderToPng(*window_, testing_support::testOutput() / "main_screen_tablet.png", 2).ok());
    const double portraitWidth = screen.table()->frame().size.width;
    window_->rotateTo(ui::Orientation::kLandscapeLeft);
    runLoop();
    EXPECT_GT(screen.table()->frame().size.width, portraitWidth);
    EXPECT_TRUE(
        ui::renderToPng(*window_, testing_support::testOutput() / "main_screen_tablet_landscape.png", 2)
            .ok());
  }
  ui::NavigationBar::appearance() = plainBars;
}

}  // namespace
