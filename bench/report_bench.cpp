// The PDF report of a year: 365 days of notes with a photo a day, about a hundred pages, written to
// a file. Measured next to the same pages drawn by plain cairo and Pango calls in the same run
// (`vs_plain`: the report's time over the plain one), and the report's size next to the sum of its
// photos' sizes (`size_vs_photos`). The plain benchmark is registered first so that it runs first.

#include <benchmark/benchmark.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/model.h"
#include "bench/cpu_stopwatch.h"
#include "platform/files/file_ops.h"
#include "platform/graphics/image.h"
#include "platform/store/store.h"
#include "reports/pdf_generator.h"

namespace {

using bench_support::plainTimes;
using bench_support::Stopwatch;

constexpr int kDays = 365;
constexpr int kDistinctPhotos = 12;

// A year of report days over one baby, with its photos in a folder; made once per run.
class Year {
 public:
  static Year& get() {
    static Year year;
    return year;
  }
  ~Year() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::filesystem::path folder_;
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
  reports::PdfReportRequest request_;
  std::vector<std::shared_ptr<foundation::Bytes>> photos_;
  double photoBytes_ = 0;  // the sum over the report's days

 private:
  Year() {
    std::string pattern = (std::filesystem::temp_directory_path() / "diary-report-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) folder_ = pattern;
    store_ = store::Store::open(folder_ / "dataBase.sqlite", app::managedObjectModel()).value();
    context_ = store_->newContext().value();
    auto baby = app::Baby::insertIn(*context_);
    baby.setBaby_Name(std::string("Anna"));
    baby.setBaby_BirthDay(foundation::Date{7.5e8});
    baby.setBaby_Bood(3);
    for (int n = 0; n < 8; ++n) {
      auto tooth = app::Tooth::insertIn(*context_);
      tooth.setTooth_Num(n * 2);
      tooth.setTooth_State(10);
      tooth.setTooth_Date(foundation::Date{7.6e8 + n * 1e6});
      baby.addBabyToToothObject(tooth);
    }
    files::createDirectory(folder_ / "Photos").ok();
    for (int i = 0; i < kDistinctPhotos; ++i) {
      graphics::Image image(800, 600);
      for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
          image.setPixel(x, y,
                         {static_cast<std::uint8_t>(x * 255 / 800), static_cast<std::uint8_t>(y * 255 / 600),
                          static_cast<std::uint8_t>(i * 20 + ((x / 40 + y / 40) % 2) * 40), 255});
      auto bytes = std::make_shared<foundation::Bytes>(image.jpegData(0.8).value());
      files::writeAtomic(folder_ / "Photos" / ("photo" + std::to_string(i) + ".jpg"), *bytes).ok();
      photos_.push_back(bytes);
    }
    request_.baby = baby;
    request_.imgType = reports::kSmallPhotos;
    request_.forPrinting = false;
    request_.outputPath = folder_ / "report.pdf";
    request_.photosFolder = folder_ / "Photos";
    request_.reportDate = foundation::Date{7.9e8};
    request_.language = app::InterfaceText("en", [](std::string_view key) { return std::string(key); });
    for (int d = 0; d < kDays; ++d) {
      reports::PdfDayInfo day;
      day.dayStr = "Day " + std::to_string(d + 1) + " of the year";
      day.daySinceBornStr = std::to_string(d / 30) + " months";
      day.noteInfos = {{"Sleep", "10:00 PM - 6:30 AM [8h 30m]", "", {}, {}},
                       {"Food", "8:15 AM", "Porridge 120 g.", "Ate it all", "[Photos 1]"}};
      day.sumStr = "Sleep[1] 8h 30m, Food[1] 120 g";
      const int photo = d % kDistinctPhotos;
      day.images = {"photo" + std::to_string(photo)};
      photoBytes_ += static_cast<double>(photos_[photo]->size());
      request_.days.push_back(std::move(day));
    }
  }
};

// ---- The same pages by hand: plain cairo and Pango, no canvas, no measuring twice.

struct Plain {
  cairo_t* cr;
  double y = 50;
  int pages = 0;
  // One layout a font, as a careful hand would keep them: Pango then reuses its font lookups.
  std::map<std::string, PangoLayout*> layouts;

  ~Plain() {
    for (auto& [font, layout] : layouts) g_object_unref(layout);
  }
  PangoLayout* layoutFor(const char* font) {
    auto [it, added] = layouts.try_emplace(font, nullptr);
    if (added) {
      it->second = pango_cairo_create_layout(cr);
      PangoFontDescription* description = pango_font_description_from_string(font);
      pango_layout_set_font_description(it->second, description);
      pango_font_description_free(description);
    }
    return it->second;
  }

  void page() {
    if (pages++ > 0) cairo_show_page(cr);
    cairo_set_source_rgb(cr, 140 / 255.0, 127 / 255.0, 243 / 255.0);
    cairo_paint(cr);
    y = 50;
  }
  // Lays out, breaks the page when needed and draws; returns the block's height.
  double text(const std::string& s, const char* font, double x, double width, double atY = -1) {
    PangoLayout* layout = layoutFor(font);
    pango_layout_set_width(layout, width > 0 ? static_cast<int>(width * PANGO_SCALE) : -1);
    pango_layout_set_text(layout, s.data(), static_cast<int>(s.size()));
    int w = 0, h = 0;
    pango_layout_get_size(layout, &w, &h);
    const double height = std::trunc(static_cast<double>(h) / PANGO_SCALE) + 4;
    double top = atY >= 0 ? atY : y;
    if (top + height >= 742) {
      page();
      top = y;
    }
    cairo_set_source_rgb(cr, 242 / 255.0, 239 / 255.0, 252 / 255.0);
    cairo_move_to(cr, x, top);
    pango_cairo_show_layout(cr, layout);
    return height;
  }
  void photo(const std::shared_ptr<foundation::Bytes>& jpeg, double x, double side) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 800, 600);
    auto* keep = new std::shared_ptr<foundation::Bytes>(jpeg);
    cairo_surface_set_mime_data(
        surface, CAIRO_MIME_TYPE_JPEG, jpeg->data(), jpeg->size(),
        [](void* p) { delete static_cast<std::shared_ptr<foundation::Bytes>*>(p); }, keep);
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_rectangle(cr, x, y, side, side);
    cairo_clip(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, side / 800, side / 600);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(surface);
  }
};

int plainReport(const Year& year, const std::filesystem::path& path) {
  cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 612, 792);
  cairo_t* cr = cairo_create(surface);
  int pages = 0;
  {
    Plain p{cr, 50, 0, {}};
    p.page();  // title
    p.text("Baby Diary", "DejaVu Sans Condensed 50", 200, 0, 80);
    p.text("Anna", "DejaVu Sans Condensed 46", 250, 0, 200);
    p.page();  // teeth
    p.text("Teeth", "DejaVu Sans Condensed 30", 260, 0, 50);
    p.page();
    int photoIndex = 0;
    for (const auto& day : year.request_.days) {
      p.y += p.text(*day.dayStr + " (" + *day.daySinceBornStr + ")", "DejaVu Sans Condensed 20", 50, 0);
      for (const auto& row : day.noteInfos) {
        const double h = p.text(*row.date, "DejaVu Sans Condensed 16", 50, 0);
        p.text(*row.type + " " + *row.val + " " + row.notice.value_or("") + " " + row.img.value_or(""),
               "DejaVu Sans Condensed 16", 230, 282, p.y);
        p.y += h;
      }
      p.y += p.text("\u2211 " + *day.sumStr, "DejaVu Sans Condensed 14", 50, 462) + 12;
      if (p.y + 166 >= 767) p.page();
      p.photo(year.photos_[photoIndex++ % kDistinctPhotos], 50, 166);
      p.y += 166 + 6 + 20;
    }
    pages = p.pages;
  }
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  cairo_surface_destroy(surface);
  return pages;
}

void BM_Plain_YearReport(benchmark::State& state) {
  Year& year = Year::get();
  Stopwatch watch;
  int pages = 0;
  for (auto _ : state) {
    watch.start();
    pages = plainReport(year, year.folder_ / "plain.pdf");
    watch.stop();
  }
  state.counters["pages"] = pages;
  plainTimes()["year"] = watch.fastest();
}
BENCHMARK(BM_Plain_YearReport)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Report_YearReport(benchmark::State& state) {
  Year& year = Year::get();
  Stopwatch watch;
  for (auto _ : state) {
    watch.start();
    auto status = reports::generatePdfReport(year.request_);
    watch.stop();
    if (!status.ok()) state.SkipWithError(status.error().localizedDescription().c_str());
  }
  const double size = static_cast<double>(std::filesystem::file_size(year.request_.outputPath));
  state.counters["size_vs_photos"] = size / year.photoBytes_;
  state.counters["MB"] = size / 1e6;
  auto plain = plainTimes().find("year");
  if (plain != plainTimes().end()) state.counters["vs_plain"] = watch.fastest() / plain->second;
}
BENCHMARK(BM_Report_YearReport)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
