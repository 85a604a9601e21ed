// The screenshot mode's walk: the root set up per language, the screens presented one by one on a
// 2-second pace, each captured as "<n>.jpg", then the upload tool.
#include "reports/screenshot_helper.h"

#include <array>
#include <utility>

#include "app/app_delegate.h"
#include "babies/baby_list_controller.h"
#include "babies/photo_lib_controller.h"
#include "charts/chart_screens.h"
#include "charts/sum_chart.h"
#include "navigation/note_type_chooser.h"
#include "note_editor/note_edit_controller.h"
#include "notes_list/first_launch.h"
#include "notes_list/latest_updates.h"
#include "notes_list/main_view_controller_ipad.h"
#include "notes_list/notes_view_controller_iphone.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/graphics/cairo_canvas.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"
#include "platform/ui/screen_render.h"
#include "platform/ui/storyboard.h"
#include "reports/screenshot_detail.h"

namespace reports {

using namespace screenshot_detail;

namespace {

constexpr double kStepInterval = 2.0;
constexpr double kNextLanguageDelay = 1.0;

// What a presented screen is handed (bits of ScreenshotMode::Setup::flags).
enum SetupFlag : unsigned { kContext = 1, kBabyName = 2, kDelegate = 4, kLocalId = 8, kBabyList = 16 };

// The baby list keeps its delegate strongly: this one hands the choice to the root while it lives.
class BabyChoice : public babies::babyListControllerDelegate {
 public:
  explicit BabyChoice(std::weak_ptr<ui::ViewController> root) : root_(std::move(root)) {}
  void babyListControllerDone(const std::optional<std::string>& name, int gender,
                              const std::optional<foundation::Date>& birthday) override {
    auto strong = root_.lock();
    if (auto* root = dynamic_cast<notes_list::MainScreen*>(strong.get()))
      root->babyListControllerDone(name, gender, birthday);
  }

 private:
  std::weak_ptr<ui::ViewController> root_;
};

}  // namespace

struct ScreenshotMode::Setup {
  unsigned flags = 0;
  std::optional<std::string> noteType = std::nullopt;
};

namespace {

// Hands the top screen what the step names, through whichever setters its class has.
template <typename Screen>
bool prepareAs(ui::ViewController& top, notes_list::MainScreen& root, const auto& setup) {
  auto* screen = dynamic_cast<Screen*>(&top);
  if (!screen) return false;
  if constexpr (requires { screen->setManagedObjectContext(root.screenContext()); })
    if (setup.flags & kContext) screen->setManagedObjectContext(root.screenContext());
  if constexpr (requires { screen->setCurrentBabyName(root.currentBabyName()); })
    if (setup.flags & kBabyName) screen->setCurrentBabyName(root.currentBabyName());
  if constexpr (requires { screen->setLocSaves(root.locSaves()); })
    if (setup.flags & kContext) screen->setLocSaves(root.locSaves());
  if constexpr (requires { screen->setNoteView_delegate(&root); })
    if (setup.flags & kDelegate) screen->setNoteView_delegate(&root);
  if constexpr (requires { screen->setLocal_ID(root.local_ID()); })
    if (setup.flags & kLocalId) screen->setLocal_ID(root.local_ID());
  if constexpr (requires { screen->setNote_Type(setup.noteType); })
    if (setup.noteType) screen->setNote_Type(setup.noteType);
  return true;
}

}  // namespace

ScreenshotMode::ScreenshotMode(ScreenshotServices services) : services_(std::move(services)) {}

ScreenshotMode::~ScreenshotMode() = default;

// The state is the application delegate's when an application runs: its root screens read it there.
std::int32_t ScreenshotMode::screenShotState() const {
  auto* delegate = app::AppDelegate::shared();
  return delegate ? delegate->screenShotState() : screenShotState_;
}
void ScreenshotMode::setScreenShotState(std::int32_t state) {
  if (auto* delegate = app::AppDelegate::shared()) delegate->setScreenShotState(state);
  screenShotState_ = state;
}
std::int32_t ScreenshotMode::screenShotLang() const {
  auto* delegate = app::AppDelegate::shared();
  return delegate ? delegate->screenShotLang() : screenShotLang_;
}
void ScreenshotMode::setScreenShotLang(std::int32_t lang) {
  if (auto* delegate = app::AppDelegate::shared()) delegate->setScreenShotLang(lang);
  screenShotLang_ = lang;
}
std::int32_t ScreenshotMode::screenShotScreenNum() const {
  auto* delegate = app::AppDelegate::shared();
  return delegate ? delegate->screenShotScreenNum() : screenShotScreenNum_;
}
void ScreenshotMode::setScreenShotScreenNum(std::int32_t step) {
  if (auto* delegate = app::AppDelegate::shared()) delegate->setScreenShotScreenNum(step);
  screenShotScreenNum_ = step;
}

runtime::RunLoop& ScreenshotMode::loop() const {
  return services_.loop ? *services_.loop : runtime::RunLoop::main();
}

notes_list::MainScreen* ScreenshotMode::root() const {
  auto strong = root_.lock();
  return dynamic_cast<notes_list::MainScreen*>(strong.get());
}

void ScreenshotMode::attach(notes_list::MainScreenServices& services) {
  std::weak_ptr<ScreenshotMode> weak = weak_from_this();
  services.screenShotState = [weak] {
    auto mode = weak.lock();
    if (!mode) return 0;
    // The screens are made before the launch puts the state to 0: the switch arms the mode again
    // when the root first asks, until the root has started it.
    if (!mode->started_ && !mode->ended_ && mode->screenShotState() == 0) mode->setScreenShotState(1);
    return mode->screenShotState();
  };
  services.setScreenShotState = [weak](std::int32_t state) {
    if (auto mode = weak.lock()) mode->setScreenShotState(state);
  };
  services.startScreenshots = [weak](notes_list::MainScreen& screen) {
    if (auto mode = weak.lock()) mode->start(screen);
  };
}

void ScreenshotMode::after(double seconds, void (ScreenshotMode::*step)()) {
  std::weak_ptr<ScreenshotMode> weak = weak_from_this();
  loop().performAfter(seconds, [weak, step] {
    if (auto mode = weak.lock(); mode && !mode->ended_) ((*mode).*step)();
  });
}

void ScreenshotMode::start(notes_list::MainScreen& screen) {
  if (ended_ || started_) return;
  started_ = true;
  setScreenShotState(2);
  root_ = screen.weak_from_this();
  if (auto* delegate = app::AppDelegate::shared()) {
    std::weak_ptr<ScreenshotMode> weak = weak_from_this();
    delegate->setScreenshotCapture({[weak](const std::string& name) {
                                      if (auto mode = weak.lock()) mode->captureViewWithName(name);
                                    },
                                    [weak]() -> std::optional<graphics::Image> {
                                      auto mode = weak.lock();
                                      return mode ? mode->makeMyScreenshot() : std::nullopt;
                                    }});
  }
  ScreenshotServices services = services_;
  services.context = screen.screenContext() ? screen.screenContext() : services_.context;
  services_.context = services.context;
  screenShotHelper helper(services);
  auto made = helper.makeTemplateBaby();
  if (made) made = helper.makeLocalizedBabys();
  if (!made) {
    end(made.error().localizedDescription());
    return;
  }
  settleFirstRunUnits(screen);
  debugScreenShotSetLang();
}

void ScreenshotMode::settleFirstRunUnits(notes_list::MainScreen& screen) {
  if (!screen.fstLaunchView() || !services_.context) return;
  screenShotHelper helper(services_);
  if (auto saved = notes_list::saveNotations(helper.neh(), *services_.context, {1, 1, 1}); !saved) {
    foundation::log("Screenshots: the units could not be saved: " + saved.error().description());
    return;
  }
  // The first-launch file is written and the overlay goes, as after the person's "Start".
  if (auto* extras = screen.listExtras()) extras->saveFirstLaunchFile(screen);
}

std::optional<std::string> ScreenshotMode::language() const {
  if (!services_.userDefaults) return std::nullopt;
  auto languages = services_.userDefaults->stringArrayForKey("AppleLanguages");
  if (!languages || languages->empty()) return std::nullopt;
  return languages->front();
}

std::optional<std::filesystem::path> ScreenshotMode::captureFolder() const {
  auto lang = language();
  if (!lang) return std::nullopt;
  return services_.home.documents() / kScreenshotsFolder / *lang / kScreenshotDeviceFolder;
}

void ScreenshotMode::changeTheLangAndName(const std::string& language, const std::string& name) {
  auto* screen = root();
  if (!screen) return;
  if (services_.userDefaults) {
    (void)services_.userDefaults->setObject("AppleLanguages", foundation::Value(foundation::Array{language}));
    (void)services_.userDefaults->synchronize();
  }
  screen->setLocal_ID(language);
  if (!services_.context) return;
  store::FetchRequest request = babiesRequest();
  auto predicate = store::Predicate::parse("baby_Name == %@", {foundation::Value(name)});
  if (!predicate) return;
  request.predicate = *predicate;
  auto found = services_.context->fetch(request);
  if (!found || found->size() != 1) return;
  const app::Baby baby(found->front());
  // The same path as a choice in the baby list: name, gender, birthday and the list follow.
  screen->babyListControllerDone(baby.baby_Name(), baby.baby_Gender().value_or(false) ? 1 : 0,
                                 baby.baby_BirthDay());
  if (auto* pad = dynamic_cast<notes_list::mainViewController_iPad*>(screen)) {
    const foundation::Clock& clock = services_.clock ? *services_.clock : runtime::RunLoop::main().clock();
    if (auto birthday = baby.baby_BirthDay())
      pad->daysLable().setText(
          screenShotHelper(services_).neh().getIntervalBetween2DatesString(*birthday, clock.now()));
    pad->setupFetchedResultsController();
    pad->updateTable();
  }
}

void ScreenshotMode::debugScreenShotSetLang() {
  auto* screen = root();
  if (!screen || ended_) return;
  const auto& languages = screenshotLanguages();
  if (screenShotLang() >= static_cast<std::int32_t>(languages.size())) {
    // All languages done: the samples go, the template stays.
    screenShotHelper helper(services_);
    auto removed = helper.removeBabys();
    end(removed ? std::nullopt : std::optional<std::string>(removed.error().localizedDescription()));
    return;
  }
  const auto& language = languages[static_cast<std::size_t>(screenShotLang())];
  const auto name = babyNameForLocal(language);
  if (name != "N") changeTheLangAndName(language, name);

  // Every type with units shows its first unit.
  screenShotHelper helper(services_);
  auto& neh = helper.neh();
  for (const auto& type : neh.getTypeIds(std::nullopt)) {
    const auto valueType = neh.getValueType(type);
    if (!valueType.object() || !valueType.vt_NumMeasureCurrent()) continue;
    const auto units = neh.notationByTypeId(type);
    if (units.empty()) continue;
    valueType.setVt_NumMeasureCurrent(units.front());
    if (auto saved = services_.context->save(); !saved)
      foundation::log("Failed to save the new MainData. Error = " + saved.error().description());
  }

  screen->tableStyleSegment().setSelectedSegmentIndex(0);
  screen->setSumStyle(false);
  screen->updateLanguageStuff();
  screen->tableStyleSegment().setNeedsDisplay();
  screen->setupFetchedResultsController();
  if (!screen->iPad()) {
    // The quick-start strip makes room for the list.
    if (const auto& strip = screen->noteQuickStartView(); strip && screen->table()) {
      strip->setHidden(true);
      auto frame = screen->table()->frame();
      frame.origin.y -= strip->frame().size.height;
      frame.size.height += strip->frame().size.height;
      screen->table()->setFrame(frame);
    }
  }
  setScreenShotScreenNum(0);
  after(kStepInterval, &ScreenshotMode::debugScreenShotNextScreenTick);
}

void ScreenshotMode::present(const std::string& identifier, const Setup& setup, bool animated) {
  auto* screen = root();
  if (!screen || !screen->storyboard()) return;
  auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(
      screen->storyboard()->instantiateViewControllerWithIdentifier(identifier));
  if (!navigation || navigation->viewControllers().empty()) return;
  auto& top = *navigation->viewControllers().back();
  if (auto* list = dynamic_cast<babies::babyListController*>(&top); list && (setup.flags & kBabyList)) {
    list->setManagedObjectContext(screen->screenContext());
    list->setBabyList_delegate(std::make_shared<BabyChoice>(root_));
    list->setLocSaves(screen->locSaves());
    list->setDevelopBabyName(screen->currentBabyName());
    list->updateList();
  }
  (void)(prepareAs<navigation::noteTypeTableController>(top, *screen, setup) ||
         prepareAs<charts::graphicsViewController>(top, *screen, setup) ||
         prepareAs<charts::DayTrackController>(top, *screen, setup) ||
         prepareAs<charts::sumChartController>(top, *screen, setup) ||
         prepareAs<babies::photoLibController>(top, *screen, setup) ||
         prepareAs<babies::photoCollectionController>(top, *screen, setup) ||
         prepareAs<notes_list::lastNotesController>(top, *screen, setup) ||
         prepareAs<note_editor::noteEditController>(top, *screen, setup));
  screen->presentViewController(navigation, animated);
}

void ScreenshotMode::dismiss() {
  if (auto* screen = root(); screen && screen->presentedViewController())
    screen->dismissViewControllerAnimated(false);
}

namespace {

// One step of the walk: what it does after its capture (and the dismissal of the screen before).
enum class StepAction { kNone, kRefresh, kSummary, kPresent, kUpload };
struct WalkStep {
  StepAction action;
  const char* identifier = nullptr;
  unsigned flags = 0;
  bool animated = false;
  const char* noteType = nullptr;
};

// The charts and the photo list show the root's baby from its store, as when the root opens them.
constexpr unsigned kShown = kContext | kBabyName;

constexpr std::array<WalkStep, 12> kPhoneWalk{{
    {StepAction::kNone},
    {StepAction::kSummary},
    {StepAction::kPresent, navigation::kAddNoteNavigationId, kContext | kBabyName | kDelegate, true},
    {StepAction::kPresent, kGraphicsNavigationId.data(), kShown | kDelegate | kLocalId, true},
    {StepAction::kPresent, kDayTrackNavigationId.data(), kShown | kDelegate | kLocalId, true},
    {StepAction::kPresent, kSumChartNavigationId.data(), kShown | kLocalId, true},
    {StepAction::kPresent, kPhotoAlbumNavId.data(), kShown | kDelegate | kLocalId, true},
    {StepAction::kPresent, notes_list::kLastNotesControllerNavId.data(), kBabyName, true},
    {StepAction::kNone},
    {StepAction::kPresent, babies::kBabyNavigationId, kContext | kBabyList, false},
    {StepAction::kPresent, note_editor::kEditNoteNavigationId, kContext | kBabyName | kDelegate | kLocalId,
     true, kBreastFeeding},
    {StepAction::kUpload},
}};

constexpr std::array<WalkStep, 6> kPadWalk{{
    {StepAction::kRefresh},
    {StepAction::kSummary},
    {StepAction::kPresent, kGraphicsNavigationId.data(), kShown | kDelegate | kLocalId, false},
    {StepAction::kPresent, kDayTrackNavigationId.data(), kShown | kDelegate | kLocalId, false},
    {StepAction::kPresent, kSumChartNavigationId.data(), kShown | kLocalId, true},
    {StepAction::kUpload},
}};

}  // namespace

void ScreenshotMode::walkStep(int n) {
  auto* screen = root();
  if (!screen) return;
  const WalkStep& step =
      screen->iPad() ? kPadWalk[static_cast<std::size_t>(n)] : kPhoneWalk[static_cast<std::size_t>(n)];
  if (n >= 1) {
    if (auto* delegate = app::AppDelegate::shared())
      delegate->captureViewWithName(std::to_string(n));
    else
      captureViewWithName(std::to_string(n));
  }
  if (n >= 3) dismiss();
  switch (step.action) {
    case StepAction::kNone:
      break;
    case StepAction::kRefresh:
      screen->updateLanguageStuff();
      screen->tableStyleSegment().setNeedsDisplay();
      screen->setupFetchedResultsController();
      break;
    case StepAction::kSummary:
      screen->tableStyleSegment().setSelectedSegmentIndex(1);
      screen->setSumStyle(true);
      screen->updateTable();
      screen->setupFetchedResultsController();
      break;
    case StepAction::kPresent:
      present(step.identifier,
              {step.flags, step.noteType ? std::optional<std::string>(step.noteType) : std::nullopt},
              step.animated);
      break;
    case StepAction::kUpload:
      presentUploadTool();
      break;
  }
}

void ScreenshotMode::debugScreenShotNextScreenTick() {
  auto* screen = root();
  if (!screen || ended_) return;
  const int n = screenShotScreenNum();
  const int last = static_cast<int>(screen->iPad() ? kPadWalk.size() : kPhoneWalk.size()) - 1;
  if (n < 0 || n > last) return;
  if (n < last) setScreenShotScreenNum(n + 1);
  walkStep(n);
  if (n < last) after(kStepInterval, &ScreenshotMode::debugScreenShotNextScreenTick);
}

std::optional<graphics::Image> ScreenshotMode::makeMyScreenshot() const {
  // The application's windows: the delegate's and the key one, each once. Alerts, sheets and the
  // keyboard, which the phone keeps in windows of their own, are drawn with the window they cover.
  std::vector<std::shared_ptr<ui::Window>> windows;
  auto add = [&windows](std::shared_ptr<ui::Window> window) {
    if (window && std::find(windows.begin(), windows.end(), window) == windows.end())
      windows.push_back(std::move(window));
  };
  if (auto* delegate = app::AppDelegate::shared()) add(delegate->window());
  add(ui::Application::shared().keyWindow());
  if (windows.empty()) return std::nullopt;
  // The main screen's bounds, which the application's window fills in whatever orientation.
  auto canvas = graphics::CairoCanvas::createBitmap(windows.front()->bounds().size, ui::device().scale);
  if (!canvas) return std::nullopt;
  graphics::ScopedCurrentCanvas current(**canvas);
  const foundation::Clock& clock = services_.clock ? *services_.clock : runtime::RunLoop::main().clock();
  for (const auto& window : windows) {
    // Windows here carry no transform: each is drawn at its place on the screen, upright.
    (*canvas)->save();
    (*canvas)->translate(window->frame().x(), window->frame().y());
    ui::renderScreen(*window, **canvas, {clock.now()});
    (*canvas)->restore();
  }
  auto image = (*canvas)->image();
  if (!image) return std::nullopt;
  return std::move(*image);
}

void ScreenshotMode::captureViewWithName(const std::string& name) {
  std::optional<graphics::Image> image = services_.captureScreen ? services_.captureScreen() : makeMyScreenshot();
  auto folder = captureFolder();
  if (!image || !folder) return;
  auto jpeg = image->jpegData(1.0);
  if (!jpeg || !files::createDirectory(*folder) || !files::writeAtomic(*folder / (name + ".jpg"), *jpeg))
    foundation::log("Screenshots: capture " + name + " was not written");
}

void ScreenshotMode::presentUploadTool() {
  auto* screen = root();
  if (!screen) return;
  uploadTool_ = std::make_shared<screenShotsToCloud>(weak_from_this(), !screen->iPad());
  screen->presentViewController(uploadTool_, false);
}

void ScreenshotMode::uploadFinished() {
  if (screenShotLang() < 11) {
    setScreenShotLang(screenShotLang() + 1);
    after(kNextLanguageDelay, &ScreenshotMode::debugScreenShotSetLang);
  }
  dismiss();
}

void ScreenshotMode::end(const std::optional<std::string>& failure) {
  if (ended_) return;
  ended_ = true;
  failure_ = failure;
  if (failure) foundation::log(*failure);
  if (uploadTool_ && root() && root()->presentedViewController() == uploadTool_.get()) dismiss();
  if (services_.finished) services_.finished(failure);
}

}  // namespace reports
