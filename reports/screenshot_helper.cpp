// The screenshot mode's sample data: the template baby, its copies per language, their removal,
// and the switch that checks the store before the mode may start.
#include "reports/screenshot_helper.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/app_delegate.h"
#include "navigation/language_controller.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/user_defaults.h"
#include "reports/screenshot_detail.h"

namespace reports {

namespace screenshot_detail {

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

}  // namespace screenshot_detail

using namespace screenshot_detail;

namespace {

// A log line with the platform's descriptions of its values ("%@" of a date, a text or nil).
void logf(std::string_view pattern, std::initializer_list<foundation::Value> values) {
  foundation::log(foundation::text::format(pattern, values));
}

foundation::Value dateValue(const std::optional<foundation::Date>& date) {
  return date ? foundation::Value(*date) : foundation::Value();
}

// A language's name in its own language ("English", "Deutsch"); the code for one the diary lacks.
std::string languageName(const std::string& code) {
  for (const auto& language : navigation::interfaceLanguages())
    if (language.code == code) return std::string(language.name);
  return code;
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

std::vector<app::Note> screenShotHelper::notesOf(const std::string& name, bool ascending) {
  std::vector<app::Note> notes;
  if (!services_.context) return notes;
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
  // Past the check every baby but the template is one of the mode's samples.
  if (auto removed = removeSamples(); !removed) return removed;
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
  logf("BDp:%@", {dateValue(templ->baby_BirthDay())});
  templ->setBaby_BirthDay(*birthday);
  logf("BDn:%@", {dateValue(*birthday)});
  logf("FST:%@", {dateValue(*birthday)});

  // Every note moves by the same whole number of days, the earliest to just after the birthday.
  auto notes = notesOf(std::string(kScreenshotTemplateName), true);
  if (!notes.empty() && notes.front().note_DateStop()) {
    const auto earliest = *notes.front().note_DateStop();
    logf("ERL:%@", {dateValue(earliest)});
    const double days = std::trunc((*birthday - earliest) / 86400.0) + 1;
    const double shift = days * 86400.0;
    for (auto& note : notes) {
      logf("OldDate:%@", {dateValue(note.note_DateStop())});
      if (auto stop = note.note_DateStop()) note.setNote_DateStop(*stop + shift);
      if (auto start = note.note_DateStart()) note.setNote_DateStart(*start + shift);
      logf("NewDate:%@", {dateValue(note.note_DateStop())});
    }
  }
  if (auto saved = context.save(); !saved) {
    context.rollback();
    return saved;
  }

  for (const auto& language : screenshotLanguages()) {
    const auto name = babyNameForLocal(language);
    if (name == "N") continue;
    logf("%@[%@]:%@", {foundation::Value(language), foundation::Value(languageName(language)),
                       foundation::Value(name)});
    if (!newMakeBabyWithName(name, language, *templ))
      return failure(5, "Screenshots: the sample baby " + name + " was not made");
  }
  return {};
}

std::optional<app::Baby> screenShotHelper::newMakeBabyWithName(const std::string& name,
                                                               const std::optional<std::string>& local,
                                                               const app::Baby& templ) {
  if (!services_.context) return std::nullopt;
  auto& context = *services_.context;
  if (local && services_.userDefaults) {
    (void)services_.userDefaults->setObject("AppleLanguages", foundation::Value(foundation::Array{*local}));
    (void)services_.userDefaults->synchronize();
  }
  auto baby = app::Baby::insertIn(context);
  if (!baby) {
    foundation::log("Failed to create the new Baby.");
    return std::nullopt;
  }
  baby.setBaby_Name(name);
  baby.setBaby_BirthDay(templ.baby_BirthDay());
  baby.setBaby_Bood(templ.baby_Bood());
  baby.setBaby_Gender(false);
  // Whatever fails, the sample goes as a whole: the teeth saved one by one, its icon too.
  const auto discard = [&] {
    context.rollback();
    if (baby.object() && baby.object()->context() == &context) {
      context.deleteObject(baby.object());
      if (!context.save()) context.rollback();
    }
    if (!name.empty()) (void)locSaves_->deleteIcon(name);
    return std::nullopt;
  };
  for (const auto& tooth : templ.babyToTooth()) {
    auto copy = app::Tooth::insertIn(context);
    copy.setTooth_Num(tooth.tooth_Num());
    copy.setTooth_Date(tooth.tooth_Date());
    copy.setTooth_State(tooth.tooth_State());
    copy.setTooth_Description(std::string());
    copy.setToothToBaby(baby);
    if (auto saved = context.save(); !saved) {
      logf("Failed to save the new Tooth. Error = %@", {foundation::Value(saved.error().description())});
      return discard();
    }
  }
  if (const auto templName = templ.baby_Name(); templName && !name.empty())
    if (auto icon = locSaves_->getIcon(*templName)) (void)locSaves_->saveIcon(*icon, name);

  // Breast feedings marked "S1" alternate their side in the copy order.
  bool right = true;
  const auto notes = notesOf(templ.baby_Name().value_or(""), false);
  if (!notes.empty()) {
    const foundation::Clock& clock = services_.clock ? *services_.clock : runtime::RunLoop::main().clock();
    logf("%@", {dateValue(notes.front().note_DateStop())});
    logf("%@", {dateValue(clock.now())});
  }
  for (const auto& note : notes) {
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
      logf("__%@", {foundation::Value(valueType.vt_StrCurrent().value_or(""))});
    }
    if (note.note_Type() == kBreastFeeding && note.note_Notice() == "S1") {
      copy.setNote_strValue(std::string(right ? "Right Breast" : "Left Breast"));
      right = !right;
    }
    copy.setNoteToBaby(baby);
  }
  if (auto saved = context.save(); !saved) {
    logf("Failed to save the new Baby. Error = %@", {foundation::Value(saved.error().description())});
    return discard();
  }
  return baby;
}

foundation::Status screenShotHelper::removeBabys() {
  if (auto scratch = checkScratchStore(); !scratch) return scratch;
  return removeSamples();
}

foundation::Status screenShotHelper::removeSamples() {
  auto& context = *services_.context;
  std::vector<std::string> names;
  std::vector<std::string> photoKeys;
  for (auto& baby : fetchBabies(context)) {
    auto name = baby.baby_Name().value_or("");
    if (!isSampleName(name)) continue;
    for (const auto& photo : baby.babyToPhotoInfo())
      if (auto key = photo.photo_Path()) photoKeys.push_back(std::move(*key));
    context.deleteObject(baby.object());
    names.push_back(std::move(name));
  }
  if (auto saved = context.save(); !saved) {
    context.rollback();
    return saved;
  }
  // The files go once the rows are gone: a row never points at a file that is not there.
  for (const auto& key : photoKeys) (void)locSaves_->deletePhoto(key);
  for (const auto& name : names)
    if (!name.empty()) (void)locSaves_->deleteIcon(name);
  return {};
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
