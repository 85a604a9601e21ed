#pragma once
// The report job: the notes of one baby that pass the filter, as day records, then the PDF.
//
//   main thread: ReportJob::prepareValueTypes (missing ValueType rows made and saved), the
//                filter's choices copied into ReportJobInput, start()
//   job queue:   its own read-only context on the store -> notes fetched by baby, period, types
//                (and sub-values) -> one row per note, one day record per day of note_DateStop
//                with the day's totals -> the Baby -> generatePdfReport
//   main thread: progress (0, 1/n, ... then 1) and the end, through the listener
//
// Nothing is shared with the main thread but the input (copied in), the cancel flag and the
// listener calls posted to the main run loop. A job whose listener went away is cancelled and
// posts nothing more; it stops at its next note.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/note_edit_helper.h"
#include "app/value_texts.h"
#include "platform/files/app_home.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/store/context.h"
#include "platform/store/store.h"
#include "reports/note_statistic_helper.h"
#include "reports/pdf_generator.h"

namespace reports {

// The filter's choices, read once on the main thread.
struct ReportOptions {
  std::vector<std::string> types;
  std::vector<std::string> subTypes;
  bool detailed = false;  // one type with its ticked sub-values
  std::optional<foundation::Date> beginDate;
  std::optional<foundation::Date> endDate;  // start of the last day; the day is included
  std::uint32_t photosType = kNoPhotos;
  bool useTime = true;
  bool descending = true;
  bool forPrinting = false;
};

struct ReportJobInput {
  std::shared_ptr<store::Store> store;
  std::string babyName;
  std::optional<foundation::Date> birthday;
  ReportOptions options;
  std::filesystem::path pdfPath;
  files::AppHome home{files::AppHome::fromEnvironment()};
  // The helper's Library, clock and language; the job gives it its own context.
  app::NoteEditHelper::Environment helper;
  std::optional<app::InterfaceText> language;
  foundation::Date reportDate;
  // The pictures of a baby without an icon ("babyGirl", "babyBoy"), looked up on the main thread.
  std::shared_ptr<const graphics::Image> girlIcon;
  std::shared_ptr<const graphics::Image> boyIcon;
  // The main screen's scale, read on the main thread: the title page's blur works at it.
  double screenScale = 1;
};

// Main thread: the ValueType rows the job will read, made (and saved) where missing, so the
// job's read-only context finds them all.
void prepareValueTypes(const app::NoteEditHelper& mainHelper);

// The day records of the notes that pass the filter, in fetch order. `progress` hears
// done ÷ count before each note, then 1 when any note was walked; `cancelled` is asked before
// each note. Any thread, with a context of that thread.
std::vector<PdfDayInfo> gatherReportDays(store::Context& context, const app::NoteEditHelper& neh,
                                         noteStatisticHelper& statistic, const ReportJobInput& input,
                                         const std::function<void(double)>& progress = {},
                                         const std::function<bool()>& cancelled = {});

// One note's report row; its photo key is appended to `photoKeys` when the report shows photos.
ReportRow reportRowOfNote(const app::Note& note, const app::NoteEditHelper& neh, const ReportJobInput& input,
                          std::vector<std::string>& photoKeys);

// Told on the main thread.
class ReportJobListener {
 public:
  virtual ~ReportJobListener() = default;
  virtual void reportJobProgress(double progress) = 0;
  // The file is written (ok) or why not: ReportErrorDomain kNoBaby when the baby is gone.
  virtual void reportJobFinished(const foundation::Status& result) = 0;
};

// Runs the job on the queue; the whole job runs there and is told to the listener through the
// main run loop. Cancel before the listener goes away.
class ReportJob {
 public:
  ReportJob();
  ~ReportJob();  // cancels, and waits for the job's thread
  ReportJob(const ReportJob&) = delete;
  ReportJob& operator=(const ReportJob&) = delete;

  // False (and nothing runs) while a job runs.
  bool start(ReportJobInput input, std::weak_ptr<ReportJobListener> listener);
  void cancel();
  bool isRunning() const { return running_->load(); }

  // The job's body, on the calling thread.
  static foundation::Status run(const ReportJobInput& input, const std::function<void(double)>& progress,
                                const std::function<bool()>& cancelled);

 private:
  std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<std::atomic<bool>> running_ = std::make_shared<std::atomic<bool>>(false);
  struct Queue;
  std::unique_ptr<Queue> queue_;
};

}  // namespace reports
