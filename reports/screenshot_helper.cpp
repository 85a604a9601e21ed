#include "reports/screenshot_helper.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "app/app_delegate.h"
#include "babies/baby_list_controller.h"
#include "charts/chart_screens.h"
#include "cloud/cloud_link.h"
#include "navigation/note_type_chooser.h"
#include "note_editor/note_edit_controller.h"
#include "notes_list/latest_updates.h"
#include "notes_list/main_view_controller_ipad.h"
#include "notes_list/notes_view_controller_iphone.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/graphics/cairo_canvas.h"
#include "platform/runtime/run_loop.h"
#include "platform/store/fetch_request.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"
#include "platform/ui/screen_render.h"
#include "platform/ui/storyboard.h"

namespace reports {

namespace {

constexpr const char* kErrorDomain = "ScreenshotModeErrorDomain";
constexpr double kStepInterval = 2.0;
constexpr double kNextLanguageDelay = 1.0;
constexpr const char* kBreastFeeding = "Breast Feeding";

// Storyboard identifiers the walk presents; one the storyboard does not know presents nothing.
constexpr const char* kGraphicsNavigationId = "graphics_navigation_id";
constexpr const char* kDayTrackNavigationId = "day_track_navigation_id";
constexpr const char* kSumChartNavigationId = "sum_chart_navigation_id";
constexpr const char* kPhotoAlbumNavId = "photoAlbumNav_id";

// What a presented screen is handed (bits of ScreenshotMode::Setup::flags).
enum SetupFlag : unsigned { kContext = 1, kBabyName = 2, kDelegate = 4, kLocalId = 8, kBabyList = 16 };

constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kSampleNames{{
    {"en", "Emma"},
    {"de", "Lena"},
    {"es", "Lucía"},
    {"pt", "Alice"},
    {"fr", "Chloé"},
    {"it", "Giulia"},
    {"ru", "Маша"},
    {"nl", "Sanne"},
    {"tr", "Elif"},
    {"zh-Hans", "美美"},
    {"ja", "さくら"},
}};

// The uploads after the first: remote name and the capture it comes from, per device.
struct UploadStep {
  const char* remote;
  const char* phone;
  const char* pad;  // null: the pad is done before this step
};
constexpr std::array<UploadStep, 7> kUploads{{
    {"1.jpg", "1.jpg", "1.jpg"},
    {"2.jpg", "2.jpg", "2.jpg"},
    {"3.jpg", "4.jpg", "3.jpg"},
    {"4.jpg", "5.jpg", "4.jpg"},
    {"5.jpg", "6.jpg", "5.jpg"},
    {"6.jpg", "7.jpg", nullptr},
    {"7.jpg", "9.jpg", nullptr},
}};

foundation::Status failure(std::int64_t code, std::string description) {
  return foundation::Error::make(kErrorDomain, code, std::move(description));
}

bool isSampleName(std::string_view name) {
  return std::any_of(kSampleNames.begin(), kSampleNames.end(),
                     [&](const auto& entry) { return entry.second == name; });
}

store::FetchRequest babiesRequest() { return store::FetchRequest{std::string(app::Baby::kEntityName)}; }

std::vector<app::Baby> fetchBabies(store::Context& context) {
  std::vector<app::Baby> babies;
  auto fetched = context.fetch(babiesRequest());
  if (!fetched) return babies;
  for (const auto& object : *fetched) babies.emplace_back(object);
  return babies;
}

}  // namespace

const std::vector<std::string>& screenshotLanguages() {
  static const std::vector<std::string> languages{"en"};
  return languages;
}

std::string babyNameForLocal(std::string_view code) {
  for (const auto& [language, name] : kSampleNames)
    if (language == code) return std::string(name);
  return "N";
}

ScreenshotServices ScreenshotServices::fromApplication() {
  ScreenshotServices services;
  if (auto* delegate = app::AppDelegate::shared()) services.context = delegate->managedObjectContext();
  services.userDefaults = runtime::UserDefaults::standard();
  services.session = [] { return cloud::CloudSession::sharedSession(); };
  return services;
}

// ---------------------------------------------------------------------------------------------
// screenShotHelper

screenShotHelper::screenShotHelper(const ScreenshotServices& services)
    : services_(services),
      neh_([&] {
        app::NoteEditHelper::Environment environment;
        environment.context = [context = services.context] { return context; };
        environment.library = services.home.library();
        environment.clock = services.clock;
        return environment;
      }()),
      locSaves_(std::make_shared<app::localSaves>(services.home)) {}

std::optional<app::Baby> screenShotHelper::templateBaby() {
  if (!services_.context) return std::nullopt;
  for (auto& baby : fetchBabies(*services_.context))
    if (baby.baby_Name() == kScreenshotTemplateName) return baby;
  return std::nullopt;
}

foundation::Status screenShotHelper::checkScratchStore() {
  if (!services_.context) return failure(1, "Screenshots: no store");
  auto fetched = services_.context->fetch(babiesRequest());
  if (!fetched) return fetched.error();
  bool hasTemplate = false;
  for (const auto& object : *fetched) {
    const auto name = app::Baby(object).baby_Name().value_or("");
    if (name == kScreenshotTemplateName) {
      hasTemplate = true;
    } else if (!isSampleName(name)) {
      return failure(2, "Screenshots refused: the store holds the baby \"" + name +
                            "\"; the mode runs only on a scratch data root");
    }
  }
  if (!hasTemplate)
    return failure(3,
                   "Screenshots refused: no template baby \"" + std::string(kScreenshotTemplateName) + "\"");
  return {};
}

foundation::Status screenShotHelper::makeTemplateBaby() {
  auto& context = *services_.context;
  auto fetched = context.count(babiesRequest());
  if (!fetched) return fetched.error();
  if (*fetched != 0) return {};
  const foundation::Clock& clock = services_.clock ? *services_.clock : runtime::RunLoop::main().clock();
  const foundation::Date now = clock.now();
  auto baby = app::Baby::insertIn(context);
  baby.setBaby_Name(std::string(kScreenshotTemplateName));
  baby.setBaby_BirthDay(now - 150 * 86400.0);
  baby.setBaby_Gender(false);
  baby.setBaby_Bood(3);
  for (int tooth = 0; tooth < 2; ++tooth) {
    auto record = app::Tooth::insertIn(context);
    record.setTooth_Num(tooth);
    record.setTooth_State(10);
    record.setTooth_Date(now - (20 - tooth * 5) * 86400.0);
    record.setToothToBaby(baby);
  }
  // A few days of the usual notes: feedings on both sides, sleep, a walk and a weight.
  for (int day = 0; day < 3; ++day) {
    const foundation::Date morning = now - (day + 1) * 86400.0;
    const auto add = [&](const char* type, double start, double stop, std::optional<std::string> notice = {},
                         std::optional<double> number = {}) {
      auto note = app::Note::insertIn(context);
      note.setNote_Type(std::string(type));
      note.setNote_DateStart(morning + start);
      note.setNote_DateStop(morning + stop);
      note.setNote_Notice(std::move(notice));
      if (number) note.setNote_numValue(foundation::Decimal::fromDouble(*number));
      note.setNoteToBaby(baby);
    };
    add(kBreastFeeding, 0, 900, std::string("S1"), 10);
    add(kBreastFeeding, 3 * 3600.0, 3 * 3600.0 + 720, std::string("S1"), 8);
    add("Sleep", 4 * 3600.0, 6 * 3600.0);
    add("Walk", 7 * 3600.0, 8 * 3600.0);
    if (day == 0) add("Weight", 9 * 3600.0, 9 * 3600.0, {}, 6.4);
  }
  auto saved = context.save();
  if (!saved) context.rollback();
  return saved;
}

std::vector<app::Note> screenShotHelper::notesOf(const std::string& name, bool ascending) {
  std::vector<app::Note> notes;
  store::FetchRequest request{std::string(app::Note::kEntityName)};
  auto predicate = store::Predicate::parse("noteToBaby.baby_Name == %@", {foundation::Value(name)});
  if (!predicate) return notes;
  request.predicate = *predicate;
  request.sortDescriptors = {{"note_DateStop", ascending}};
  auto fetched = services_.context->fetch(request);
  if (!fetched) return notes;
  for (const auto& object : *fetched) notes.emplace_back(object);
  return notes;
}

foundation::Status screenShotHelper::makeLocalizedBabys() {
  // The check comes before any deletion: a store that is not scratch is left as it is.
  if (auto scratch = checkScratchStore(); !scratch) return scratch;
  auto& context = *services_.context;
  for (auto& baby : fetchBabies(context))
    if (baby.baby_Name() != kScreenshotTemplateName) context.deleteObject(baby.object());
  if (auto saved = context.save(); !saved) {
    context.rollback();
    return saved;
  }
  auto templ = templateBaby();
  if (!templ) return failure(3, "Screenshots: the template baby went");

  // The template's birthday: five months back, on the 24th.
  const foundation::Clock& clock = services_.clock ? *services_.clock : runtime::RunLoop::main().clock();
  const auto& calendar = services_.calendar;
  auto today = calendar.components(
      foundation::CalendarUnit::Year | foundation::CalendarUnit::Month | foundation::CalendarUnit::Day,
      clock.now());
  std::optional<foundation::Date> birthday;
  if (today) {
    today->day = 24;
    if (auto day24 = calendar.dateFromComponents(*today))
      birthday = calendar.dateByAddingUnit(foundation::CalendarUnit::Month, -5, *day24);
  }
  if (!birthday) return failure(4, "Screenshots: no birthday for the template");
  foundation::log("BDp:" +
                  (templ->baby_BirthDay() ? std::to_string(templ->baby_BirthDay()->sinceReference) : ""));
  templ->setBaby_BirthDay(*birthday);
  foundation::log("BDn:" + std::to_string(birthday->sinceReference));

  // Every note moves by the same whole number of days, the earliest to just after the birthday.
  auto notes = notesOf(std::string(kScreenshotTemplateName), true);
  if (!notes.empty() && notes.front().note_DateStop()) {
    const double days = std::trunc((*birthday - *notes.front().note_DateStop()) / 86400.0) + 1;
    const double shift = days * 86400.0;
    for (auto& note : notes) {
      if (auto stop = note.note_DateStop()) note.setNote_DateStop(*stop + shift);
      if (auto start = note.note_DateStart()) note.setNote_DateStart(*start + shift);
    }
  }
  if (auto saved = context.save(); !saved) {
    context.rollback();
    return saved;
  }

  for (const auto& language : screenshotLanguages()) {
    const auto name = babyNameForLocal(language);
    if (name == "N") continue;
    foundation::log(language + ":" + name);
    if (!newMakeBabyWithName(name, language, *templ))
      return failure(5, "Screenshots: the sample baby " + name + " was not made");
  }
  return {};
}

std::optional<app::Baby> screenShotHelper::newMakeBabyWithName(const std::string& name,
                                                               const std::optional<std::string>& local,
                                                               const app::Baby& templ) {
  auto& context = *services_.context;
  if (local && services_.userDefaults) {
    (void)services_.userDefaults->setObject("AppleLanguages", foundation::Value(foundation::Array{*local}));
    (void)services_.userDefaults->synchronize();
  }
  auto baby = app::Baby::insertIn(context);
  baby.setBaby_Name(name);
  baby.setBaby_BirthDay(templ.baby_BirthDay());
  baby.setBaby_Bood(templ.baby_Bood());
  baby.setBaby_Gender(false);
  for (const auto& tooth : templ.babyToTooth()) {
    auto copy = app::Tooth::insertIn(context);
    copy.setTooth_Num(tooth.tooth_Num());
    copy.setTooth_Date(tooth.tooth_Date());
    copy.setTooth_State(tooth.tooth_State());
    copy.setTooth_Description(std::string());
    copy.setToothToBaby(baby);
  }
  if (const auto templName = templ.baby_Name(); templName && !name.empty())
    if (auto icon = locSaves_->getIcon(*templName)) (void)locSaves_->saveIcon(*icon, name);

  // Breast feedings marked "S1" alternate their side in the copy order.
  bool right = true;
  for (const auto& note : notesOf(templ.baby_Name().value_or(""), false)) {
    auto copy = app::Note::insertIn(context);
    copy.setNote_Type(note.note_Type());
    copy.setNote_DateStop(note.note_DateStop());
    copy.setNote_DateStart(note.note_DateStart());
    copy.setNote_numValue(note.note_numValue());
    copy.setNote_numMeasureCurrent(note.note_numMeasureCurrent());
    copy.setNote_Notice(note.note_Notice());
    if (const auto valueType = neh_.getValueType(note.note_Type());
        valueType.object() && valueType.vt_StrCurrent()) {
      neh_.setUpForScreenshots(valueType);
      copy.setNote_strValue(valueType.vt_StrCurrent());
    }
    if (note.note_Type() == kBreastFeeding && note.note_Notice() == "S1") {
      copy.setNote_strValue(std::string(right ? "Right Breast" : "Left Breast"));
      right = !right;
    }
    copy.setNoteToBaby(baby);
  }
  if (auto saved = context.save(); !saved) {
    foundation::log("Failed to save the new Baby. Error = " + saved.error().description());
    context.rollback();
    return std::nullopt;
  }
  return baby;
}

foundation::Status screenShotHelper::removeBabys() {
  if (auto scratch = checkScratchStore(); !scratch) return scratch;
  auto& context = *services_.context;
  for (auto& baby : fetchBabies(context))
    if (isSampleName(baby.baby_Name().value_or(""))) context.deleteObject(baby.object());
  auto saved = context.save();
  if (!saved) context.rollback();
  return saved;
}

// ---------------------------------------------------------------------------------------------
// ScreenshotMode

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
    return mode ? mode->screenShotState() : 0;
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
  if (ended_) return;
  screenShotState_ = 2;
  root_ = screen.weak_from_this();
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
  debugScreenShotSetLang();
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
  if (screenShotLang_ >= static_cast<std::int32_t>(languages.size())) {
    // All languages done: the samples go, the template stays.
    screenShotHelper helper(services_);
    auto removed = helper.removeBabys();
    end(removed ? std::nullopt : std::optional<std::string>(removed.error().localizedDescription()));
    return;
  }
  const auto& language = languages[static_cast<std::size_t>(screenShotLang_)];
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
  screenShotScreenNum_ = 0;
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
    list->setLocSaves(screen->locSaves());
    list->setDevelopBabyName(screen->currentBabyName());
    list->updateList();
  }
  (void)(prepareAs<navigation::noteTypeTableController>(top, *screen, setup) ||
         prepareAs<charts::graphicsViewController>(top, *screen, setup) ||
         prepareAs<charts::DayTrackController>(top, *screen, setup) ||
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

constexpr std::array<WalkStep, 12> kPhoneWalk{{
    {StepAction::kNone},
    {StepAction::kSummary},
    {StepAction::kPresent, navigation::kAddNoteNavigationId, kContext | kBabyName | kDelegate, true},
    {StepAction::kPresent, kGraphicsNavigationId, kDelegate | kLocalId, true},
    {StepAction::kPresent, kDayTrackNavigationId, kDelegate | kLocalId, true},
    {StepAction::kPresent, kSumChartNavigationId, kLocalId, true},
    {StepAction::kPresent, kPhotoAlbumNavId, kDelegate | kLocalId, true},
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
    {StepAction::kPresent, kGraphicsNavigationId, kDelegate | kLocalId, false},
    {StepAction::kPresent, kDayTrackNavigationId, kDelegate | kLocalId, false},
    {StepAction::kPresent, kSumChartNavigationId, kLocalId, true},
    {StepAction::kUpload},
}};

}  // namespace

void ScreenshotMode::walkStep(int n) {
  auto* screen = root();
  if (!screen) return;
  const WalkStep& step =
      screen->iPad() ? kPadWalk[static_cast<std::size_t>(n)] : kPhoneWalk[static_cast<std::size_t>(n)];
  if (n >= 1) captureViewWithName(std::to_string(n));
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
  const int n = screenShotScreenNum_;
  const int last = static_cast<int>(screen->iPad() ? kPadWalk.size() : kPhoneWalk.size()) - 1;
  if (n < 0 || n > last) return;
  if (n < last) screenShotScreenNum_ = n + 1;
  walkStep(n);
  if (n < last) after(kStepInterval, &ScreenshotMode::debugScreenShotNextScreenTick);
}

void ScreenshotMode::captureViewWithName(const std::string& name) {
  std::optional<graphics::Image> image;
  if (services_.captureScreen) {
    image = services_.captureScreen();
  } else if (auto window = ui::Application::shared().keyWindow()) {
    const foundation::Clock& clock = services_.clock ? *services_.clock : runtime::RunLoop::main().clock();
    auto rendered = ui::renderScreenToImage(*window, ui::device().scale, {clock.now()});
    if (rendered) image = std::move(*rendered);
  }
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
  if (screenShotLang_ < 11) {
    ++screenShotLang_;
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

// ---------------------------------------------------------------------------------------------
// screenShotsToCloud

screenShotsToCloud::screenShotsToCloud(std::weak_ptr<ScreenshotMode> mode, bool iPhone)
    : mode_(std::move(mode)), iPhone_(iPhone) {}

screenShotsToCloud::~screenShotsToCloud() {
  linkTimeout_.invalidate();
  if (restClient_) {
    restClient_->setDelegate(nullptr);
    restClient_->cancelAllRequests();
  }
}

void screenShotsToCloud::viewDidLoad() {
  ui::ViewController::viewDidLoad();
  state_ = 1;
  auto mode = mode_.lock();
  if (!mode) return;
  if (auto language = mode->language()) {
    allScreenShotsDirPath_ = mode->services().home.documents() / kScreenshotsFolder;
    dirPath_ = *mode->captureFolder();
    cloudDirPath_ =
        std::string(kScreenshotCloudRoot) + "/" + *language + "/" + std::string(kScreenshotDeviceFolder);
  }
}

void screenShotsToCloud::redrawPhoneCaptures() {
  constexpr graphics::Size kPixels{750, 1334};
  for (int n = 1; n <= 10; ++n) {
    const auto path = dirPath_ / (std::to_string(n) + ".jpg");
    if (!files::exists(path)) continue;  // a capture that was not made is skipped
    auto image = graphics::Image::fromFile(path);
    if (!image) continue;
    auto canvas = graphics::CairoCanvas::createBitmap(kPixels, 1.0);
    if (!canvas) return;
    graphics::Canvas& drawing = **canvas;
    drawing.drawImage(*image, graphics::Rect{{0, 0}, kPixels});
    auto redrawn = (*canvas)->image();
    if (!redrawn) continue;
    if (auto jpeg = redrawn->jpegData(1.0)) (void)files::writeAtomic(path, *jpeg);
  }
}

void screenShotsToCloud::viewDidAppear(bool animated) {
  ui::ViewController::viewDidAppear(animated);
  auto mode = mode_.lock();
  if (!mode || uploading_ || done_) return;
  if (cloudDirPath_.empty()) {
    finish("Screenshots: no language for the captures");
    return;
  }
  if (iPhone_) redrawPhoneCaptures();
  auto session = mode->services().session ? mode->services().session() : nullptr;
  if (!session) {
    finish("Screenshots: no cloud session");
    return;
  }
  if (session->isLinked()) {
    cloudLinked();
    return;
  }
  // The uploads wait for the link, but not for ever.
  linkedObserver_ = runtime::NotificationCenter::defaultCenter().addObserver(
      std::string(app::kCloudLinkedEventNotification), nullptr,
      [this](const runtime::Notification&) { cloudLinked(); });
  auto& loop = mode->services().loop ? *mode->services().loop : runtime::RunLoop::main();
  linkTimeout_ = loop.scheduleTimer(kScreenshotLinkTimeout, false, [this](runtime::Timer&) {
    finish("Screenshots: the cloud account was not linked; nothing was uploaded");
  });
  cloud::linkFromController(session, *this);
}

void screenShotsToCloud::cloudLinked() {
  auto mode = mode_.lock();
  if (!mode || uploading_ || done_) return;
  auto session = mode->services().session ? mode->services().session() : nullptr;
  if (!session || !session->isLinked()) return;
  linkTimeout_.invalidate();
  linkedObserver_.remove();
  auto& loop = mode->services().loop ? *mode->services().loop : runtime::RunLoop::main();
  restClient_ = cloud::CloudRestClient::make(session, loop);
  if (!restClient_) {
    finish("Screenshots: no cloud client");
    return;
  }
  restClient_->setDelegate(this);
  uploading_ = true;
  uploadCurrent();
}

void screenShotsToCloud::uploadCurrent() {
  while (state_ >= 1 && state_ <= kUploads.size()) {
    const auto& step = kUploads[state_ - 1];
    const char* local = iPhone_ ? step.phone : step.pad;
    if (!local) break;
    const auto path = dirPath_ / local;
    if (files::exists(path)) {
      restClient_->uploadFileToPathWithParentRevFromPath(step.remote, cloudDirPath_, std::nullopt,
                                                         path.string());
      return;
    }
    ++state_;  // a capture that does not exist is skipped
  }
  finish(std::nullopt);
}

void screenShotsToCloud::restClientUploadedFileFromMetadata(Client&, const std::string&, const std::string&,
                                                            const cloud::CloudMetadataPtr&) {
  if (done_) return;
  ++state_;
  uploadCurrent();
}

void screenShotsToCloud::restClientUploadFileFailedWithError(Client&, const Error& error) {
  finish("Screenshots: an upload failed: " + error.localizedDescription());
}

void screenShotsToCloud::finish(const std::optional<std::string>& failure) {
  if (done_) return;
  done_ = true;
  linkTimeout_.invalidate();
  linkedObserver_.remove();
  if (!allScreenShotsDirPath_.empty()) (void)files::remove(allScreenShotsDirPath_);
  auto mode = mode_.lock();
  if (!mode) return;
  if (failure)
    mode->end(failure);
  else
    mode->uploadFinished();
}

// ---------------------------------------------------------------------------------------------

foundation::Result<std::shared_ptr<ScreenshotMode>> startScreenshotMode(ScreenshotServices services) {
  // Without a store yet, the root's store is checked when the root starts the mode.
  if (!services.context) return std::make_shared<ScreenshotMode>(std::move(services));
  screenShotHelper helper(services);
  if (auto made = helper.makeTemplateBaby(); !made) return made.error();
  if (auto scratch = helper.checkScratchStore(); !scratch) return scratch.error();
  return std::make_shared<ScreenshotMode>(std::move(services));
}

}  // namespace reports
