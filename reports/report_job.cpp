#include "reports/report_job.h"

#include "app/entities.h"
#include "app/local_saves.h"
#include "notes_list/note_predicates.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/log.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/serial_queue.h"

namespace reports {

using foundation::Date;
using foundation::Status;
using foundation::Value;

namespace {

constexpr std::string_view kPhotosKey = "Photos";

bool hasText(const std::optional<std::string>& text) { return text && !text->empty(); }

app::InterfaceText languageOf(const ReportJobInput& input) {
  return input.language ? *input.language : app::InterfaceText::current();
}

// The day after the end date's day: the period's end date is the start of its last day.
std::optional<Date> dayAfter(Date day) {
  const auto calendar = foundation::Calendar::current();
  auto parts = calendar.components(foundation::CalendarUnits(foundation::CalendarUnit::Year) |
                                       foundation::CalendarUnit::Month | foundation::CalendarUnit::Day,
                                   day);
  if (!parts) return std::nullopt;
  foundation::DateComponents next;
  next.year = parts->year;
  next.month = parts->month;
  next.day = parts->day ? std::optional<int>(*parts->day + 1) : std::nullopt;
  return calendar.dateFromComponents(next);
}

std::optional<store::Predicate> notesPredicate(const ReportJobInput& input) {
  const ReportOptions& o = input.options;
  if (!o.beginDate || !o.endDate) return std::nullopt;
  const auto end = dayAfter(*o.endDate);
  if (!end) return std::nullopt;
  std::string format =
      "noteToBaby.baby_Name == %@ AND (note_DateStop >= %@) AND (note_DateStop < %@) AND note_Type IN %@";
  std::vector<Value> arguments{Value(input.babyName), Value(*o.beginDate), Value(*end),
                               notes_list::stringArray(o.types)};
  if (o.detailed) {
    format += " AND (note_strValue IN %@)";
    arguments.push_back(notes_list::stringArray(o.subTypes));
  }
  return notes_list::fixedPredicate(format, std::move(arguments));
}

// The day's totals: "Sleep[2] 1 h 30 min, Food[1] 120 g".
std::string sumLine(const noteStatisticHelper& statistic, const app::InterfaceText& language) {
  std::string line;
  for (const TypeStatistic& type : statistic.getAllStatistic()) {
    if (!line.empty()) line += ", ";
    line += language.localized(type.id) + "[" + type.get_count + "]";
    if (type.time) line += " " + *type.time;
    if (type.valWithMeasure) line += (type.time ? ", " : " ") + *type.valWithMeasure;
  }
  return line;
}

void completeDay(PdfDayInfo* day, std::vector<ReportRow>& rows, std::vector<std::string>& photoKeys,
                 noteStatisticHelper& statistic, const app::InterfaceText& language) {
  if (day) {
    day->noteInfos = rows;
    day->images = photoKeys;
    day->sumStr = sumLine(statistic, language);
  }
  rows.clear();
  photoKeys.clear();
  statistic.clearAllStatistic();
}

}  // namespace

void prepareValueTypes(const app::NoteEditHelper& mainHelper) {
  for (const std::string& type : mainHelper.getTypeIds(std::string_view{}))
    (void)mainHelper.getValueType(type);
}

ReportRow reportRowOfNote(const app::Note& note, const app::NoteEditHelper& neh, const ReportJobInput& input,
                          std::vector<std::string>& photoKeys) {
  const app::InterfaceText language = languageOf(input);
  const auto type = note.note_Type();
  const auto subValue = note.note_strValue();
  const auto unit = note.note_numMeasureCurrent();
  const auto number = note.note_numValue();
  const std::optional<double> numberValue = number ? std::optional(number->toDouble()) : std::nullopt;

  ReportRow row;
  row.type = language.localized(type.value_or(""));
  if (input.options.useTime) {
    const auto texts = neh.getDateAndDurationStrings(type, note.note_DateStart(), note.note_DateStop(),
                                                     numberValue, unit, false);
    if (!texts.empty())
      row.date =
          neh.howManyDates(type) == 2 && texts.size() > 1 ? texts[0] + " [" + texts[1] + "]" : texts[0];
  }

  std::optional<std::string> currentUnit;
  if (numberValue) {
    if (auto valueType = neh.getValueType(type)) currentUnit = valueType.vt_NumMeasureCurrent();
  }
  std::string value;
  if (numberValue && hasText(currentUnit)) {
    double shown = static_cast<float>(*numberValue);
    if (unit != currentUnit) shown = neh.convertNotationToOpposite(type, unit, currentUnit, shown);
    value = neh.getCurrentValues(type, subValue, shown, currentUnit);
  } else {
    value = neh.getCurrentValues(type, subValue, numberValue, unit);
  }
  if (const auto notice = note.note_Notice(); hasText(notice)) {
    row.notice = notice;
    if (hasText(subValue) || hasText(unit)) value += ".";
  }
  row.val = value;

  if (input.options.photosType != kNoPhotos) {
    if (const auto photo = note.noteToPhotoInfo()) {
      if (const auto key = photo.photo_Path(); hasText(key)) {
        photoKeys.push_back(*key);
        row.img = "[" + language.localized(kPhotosKey) + " " + std::to_string(photoKeys.size()) + "]";
      }
    }
  }
  return row;
}

std::vector<PdfDayInfo> gatherReportDays(store::Context& context, const app::NoteEditHelper& neh,
                                         noteStatisticHelper& statistic, const ReportJobInput& input,
                                         const std::function<void(double)>& progress,
                                         const std::function<bool()>& cancelled) {
  std::vector<PdfDayInfo> days;
  statistic.clearAllStatistic();
  const auto predicate = notesPredicate(input);
  if (!predicate) return days;
  store::FetchRequest request("Note");
  request.predicate = *predicate;
  request.sortDescriptors.push_back({"note_DateStop", !input.options.descending});
  auto notes = context.fetch(request);
  if (!notes) {
    foundation::log("The report's notes could not be read: " + notes.error().description());
    return days;
  }

  const app::InterfaceText language = languageOf(input);
  const auto dayFormatter = foundation::DateFormatter::withStyles(
      foundation::DateFormatterStyle::Long, foundation::DateFormatterStyle::None, reportLocale(language));
  std::optional<std::string> currentDay;
  std::vector<ReportRow> rows;
  std::vector<std::string> photoKeys;
  const double count = static_cast<double>(notes->size());
  double done = 0;
  for (const auto& object : *notes) {
    if (cancelled && cancelled()) return {};
    const app::Note note(object);
    const Date stop = note.note_DateStop().value_or(Date{});
    const std::string dayText = dayFormatter.stringFromDate(stop);
    if (currentDay != dayText) {
      if (currentDay) completeDay(&days.back(), rows, photoKeys, statistic, language);
      currentDay = dayText;
      PdfDayInfo day;
      // Every day has its heading; the age only when the birthday is known.
      day.dayStr = dayText;
      if (input.birthday) day.daySinceBornStr = neh.getIntervalBetween2DatesString(*input.birthday, stop);
      days.push_back(std::move(day));
    }
    statistic.countNote(note);
    rows.push_back(reportRowOfNote(note, neh, input, photoKeys));
    if (progress) progress(done / count);
    done += 1;
  }
  if (!days.empty()) {
    completeDay(&days.back(), rows, photoKeys, statistic, language);
    if (progress) progress(1.0);
  }
  return days;
}

Status ReportJob::run(const ReportJobInput& input, const std::function<void(double)>& progress,
                      const std::function<bool()>& cancelled) {
  if (!input.store) return foundation::Error::make(std::string(kReportErrorDomain), 3, "No data store");
  auto context = input.store->newReadOnlyContext();
  if (!context) return context.error();
  app::NoteEditHelper::Environment environment = input.helper;
  std::shared_ptr<store::Context> own = *context;
  environment.context = [own] { return own; };
  const app::NoteEditHelper neh(environment);
  // The report's language is the first preferred one (the screen took it from there).
  noteStatisticHelper statistic(neh, {[&input] { return languageOf(input); },
                                      [&input]() -> std::optional<std::string> {
                                        return languageOf(input).language();
                                      }});

  PdfReportRequest request;
  request.days = gatherReportDays(*own, neh, statistic, input, progress, cancelled);
  if (cancelled && cancelled())
    return foundation::Error::make(std::string(kReportErrorDomain), 4, "Cancelled");

  store::FetchRequest babies("Baby");
  babies.predicate = notes_list::fixedPredicate("baby_Name  == %@", {Value(input.babyName)});
  auto found = own->fetch(babies);
  if (!found || found->empty())
    return foundation::Error::make(std::string(kReportErrorDomain),
                                   static_cast<std::int64_t>(ReportError::kNoBaby),
                                   "No baby named " + input.babyName);
  request.baby = app::Baby(found->front());
  app::localSaves saves(input.home);
  if (auto icon = saves.getIcon(input.babyName)) {
    request.icon = std::make_shared<const graphics::Image>(std::move(*icon));
  } else {
    request.icon = request.baby.baby_Gender().value_or(false) ? input.girlIcon : input.boyIcon;
  }
  request.imgType = input.options.photosType;
  request.forPrinting = input.options.forPrinting;
  request.outputPath = input.pdfPath;
  request.photosFolder = saves.getPhotosDir();
  request.reportDate = input.reportDate;
  request.language = input.language;
  request.screenScale = input.screenScale;
  return generatePdfReport(request);
}

// --- The job on its queue

struct ReportJob::Queue {
  runtime::SerialQueue queue{"report job"};
};

ReportJob::ReportJob() : queue_(std::make_unique<Queue>()) {}

ReportJob::~ReportJob() {
  cancel();
  queue_.reset();  // waits for the job's thread
}

void ReportJob::cancel() { cancelled_->store(true); }

bool ReportJob::start(ReportJobInput input, std::weak_ptr<ReportJobListener> listener) {
  if (running_->exchange(true)) return false;
  cancelled_->store(false);
  runtime::RunLoop& main = runtime::RunLoop::main();
  auto cancelled = cancelled_;
  auto running = running_;
  queue_->queue.async([input = std::move(input), listener, cancelled, running, &main] {
    // A listener that went away cancels the job: nothing more is posted for it.
    const auto post = [&](std::function<void(ReportJobListener&)> tell) {
      main.performSoon([listener, cancelled, tell = std::move(tell)] {
        if (cancelled->load()) return;
        if (auto l = listener.lock()) tell(*l);
      });
    };
    const Status result = run(
        input, [&](double p) { post([p](ReportJobListener& l) { l.reportJobProgress(p); }); },
        [&] { return cancelled->load() || listener.expired(); });
    if (!result) foundation::log("The report was not made: " + result.error().description());
    running->store(false);
    post([result](ReportJobListener& l) { l.reportJobFinished(result); });
  });
  return true;
}

}  // namespace reports
