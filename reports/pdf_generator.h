#pragma once
// The PDF report: a title page with the baby's data, a page with the tooth chart, then the days of
// the report, each with its heading, one line per note, a totals line and optionally its photos.
//
// The report job builds the day records (PdfDayInfo) from the notes that pass the filter and calls
// generatePdfReport() once, on its own thread, with the Baby read through the job's own store
// context (the tooth records are read through that Baby, so through the same context). Every page
// is US Letter, 612 x 792 points; the layout primitives are in pdf_layout.h.
//
// The file appears under `outputPath` only when it is complete: it is written whole to a temporary
// file beside it and renamed. A failure leaves whatever was at the path before untouched.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/value_texts.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/locale.h"
#include "platform/graphics/canvas.h"
#include "platform/graphics/image.h"

namespace reports {

inline constexpr std::string_view kReportErrorDomain = "ReportErrorDomain";

enum class ReportError : std::int64_t {
  kNoBaby = 1,     // the Baby is empty or has left its context: nothing is written
  kPdfFailed = 2,  // the PDF could not be made or written ("error creating PDF context")
};

// One line of a day: the texts of one note. `date` only when the report shows times, `notice` only
// for a non-empty notice, `img` only when photos are included and the note has one.
struct ReportRow {
  std::optional<std::string> type;
  std::optional<std::string> date;
  std::optional<std::string> val;
  std::optional<std::string> notice;
  std::optional<std::string> img;
  friend bool operator==(const ReportRow&, const ReportRow&) = default;
};

// One day of the report, filled by the report job and only read here.
struct PdfDayInfo {
  std::optional<std::string> dayStr;           // the day's heading; none: no heading
  std::optional<std::string> daySinceBornStr;  // the age on that day, shown in parentheses
  std::optional<std::string> sumStr;           // the totals line; none or empty: no totals
  std::vector<ReportRow> noteInfos;            // in report order
  std::vector<std::string> images;             // photo keys: "<photosFolder>/<key>.jpg"
};

// What photos the report carries (the filter's photosType).
enum PhotosType : std::uint32_t { kNoPhotos = 0, kSmallPhotos = 1, kBigPhotos = 2 };

struct PdfReportRequest {
  std::vector<PdfDayInfo> days;
  // The baby, fetched from the report job's context; its Tooth records are read through it.
  app::Baby baby;
  // The baby's picture (a stored icon, else "babyGirl"/"babyBoy"); null for none.
  std::shared_ptr<const graphics::Image> icon;
  // 0 none, 2 big, any other value small.
  std::uint32_t imgType = kNoPhotos;
  // True: the printing style (white pages, dark text); false: the colourful style.
  bool forPrinting = false;
  // The report file, "report.pdf" in the temporary folder for the report screen.
  std::filesystem::path outputPath;
  // The folder "Photos" of Documents, where a photo key names "<key>.jpg".
  std::filesystem::path photosFolder;
  // The title page's date: now, from the job's clock.
  foundation::Date reportDate;
  // The interface language of the texts; InterfaceText::current() when empty.
  std::optional<app::InterfaceText> language;
  // The main screen's scale, at which the title page's blurred picture is made.
  double screenScale = 1;
};

// The locale the report's dates are written in: the one every date in the interface language takes
// (app::interfaceLocale: "ru" on an en_US host gives ru_US). Any thread.
foundation::Locale reportLocale(const app::InterfaceText& language);

// Writes the whole report to `request.outputPath`. Any thread (the canvas and its fonts are the
// calling thread's); the Baby's context must not be used by another thread meanwhile.
// A photo file that is missing or unreadable is skipped without a message.
[[nodiscard]] foundation::Status generatePdfReport(const PdfReportRequest& request);

// The same pages drawn on any canvas (a RecordingCanvas in tests); pages begin with beginPage().
void drawPdfReport(graphics::Canvas& canvas, const PdfReportRequest& request);

}  // namespace reports
