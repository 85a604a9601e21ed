// The PDF report of a year: 365 days of notes with a photo a day, about 185 pages, written to a file.
// Measured next to the same pages drawn by plain cairo and Pango calls in the same process, both
// warmed and then timed in alternated rounds (`vs_plain`: the median of the report's wall times over
// the plain one's), and the report's size next to the sum of its photos' sizes (`size_vs_photos`).
// The plain pages show each photo through a one-pixel surface carrying the JPEG stream, as the report
// does: the PDF surface embeds the stream and never reads the stand-in's pixels, so a full-size blank
// surface would only time clearing memory the file never holds. They set their text at the report's
// sizes (72 units an inch, as a PDF's points), draw its tooth chart and put their file in place as
// the report does (a temporary file, flushed to the disk, renamed). Everything is written under a
// temporary folder that is removed at exit, also on SIGINT or SIGTERM.

#include <benchmark/benchmark.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <fcntl.h>
#include <pango/pangocairo.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/model.h"
#include "babies/teeth.h"
#include "bench/cpu_stopwatch.h"
#include "bench/scratch_folder.h"
#include "platform/files/file_ops.h"
#include "platform/graphics/image.h"
#include "platform/runtime/bundle.h"
#include "platform/store/store.h"
#include "reports/jpeg_info.h"
#include "reports/pdf_generator.h"

namespace {


constexpr int kDays = 365;
constexpr int kDistinctPhotos = 12;

// A year of report days over one baby, with its photos in a folder; made once per run.
class Year {
 public:
  static Year& get() {
    static Year year;
    return year;
  }
  bench_support::ScratchFolder scratch_{"diary-report-bench"};
  std::filesystem::path folder_ = scratch_.path();
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
  reports::PdfReportRequest request_;
  std::vector<std::shared_ptr<foundation::Bytes>> photos_;
  double photoBytes_ = 0;  // the sum over the report's days

 private:
  Year() {
    store_ = store::Store::open(folder_ / "dataBase.sqlite", app::managedObjectModel()).value();
    context_ = store_->newContext().value();
    auto baby = app::Baby::insertIn(*context_);
    baby.setBaby_Name(std::string("Anna"));
    baby.setBaby_BirthDay(foundation::Date{7.5e8});
    baby.setBaby_Bood(3);
    for (int n = 0; n < 8; ++n) {
      auto tooth = app::Tooth::insertIn(*context_);
      tooth.setTooth_Num(n * 2);
      tooth.setTooth_State(babies::kToothAppeared);
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
      // Every day's texts are its own, as in a real diary.
      const std::string m = std::to_string(10 + d % 50), g = std::to_string(80 + d % 97);
      day.noteInfos = {{"Sleep", "10:" + m + " PM - 6:30 AM [8h " + m + "m]", "", {}, {}},
                       {"Food", "8:" + m + " AM", "Porridge " + g + " g.", "Ate it all, day " + std::to_string(d),
                        "[Photos 1]"}};
      day.sumStr = "Sleep[1] 8h " + m + "m, Food[1] " + g + " g";
      const int photo = d % kDistinctPhotos;
      day.images = {"photo" + std::to_string(photo)};
      photoBytes_ += static_cast<double>(photos_[photo]->size());
      request_.days.push_back(std::move(day));
    }
  }
};

// ---- The same pages by hand: plain cairo and Pango, as a careful person would write them.
//
// One Pango layout a text, laid out once and both measured and drawn from; each photo read from its
// file and shown through a one-pixel surface carrying the JPEG stream, the surfaces kept until their
// page is written (so cairo embeds the stream and copies nothing); each tooth's picture its PNG's
// shape filled with its colour (the PNG as the mask, decoded once as the platform keeps named
// images); the same fonts, sizes, colours, fills, rounded clips and overlays as the report's pages.

// The tooth pictures by name, decoded once for the process.
cairo_surface_t* toothPicture(const std::string& name) {
  static std::map<std::string, cairo_surface_t*> decoded;
  auto [it, added] = decoded.try_emplace(name, nullptr);
  if (added) {
    if (auto resource = runtime::Bundle::main()->pathForImage(name, 2))
      it->second = cairo_image_surface_create_from_png(resource->path.c_str());
  }
  return it->second;
}

struct Plain {
  cairo_t* cr;
  PangoContext* context;
  const reports::PdfReportRequest& request;
  double y = 50;
  int pages = 0;
  std::vector<cairo_surface_t*> pageSurfaces;  // released once their page is written

  ~Plain() { releaseSurfaces(); }
  void releaseSurfaces() {
    for (cairo_surface_t* s : pageSurfaces) cairo_surface_destroy(s);
    pageSurfaces.clear();
  }
  void violet(double alpha = 1) { cairo_set_source_rgba(cr, 140 / 255.0, 127 / 255.0, 243 / 255.0, alpha); }
  void light() { cairo_set_source_rgb(cr, 242 / 255.0, 239 / 255.0, 252 / 255.0); }

  void page(bool background = true) {
    if (pages++ > 0) {
      cairo_show_page(cr);
      releaseSurfaces();
    }
    if (background) {
      violet();
      cairo_paint(cr);
    }
    y = 50;
  }

  // One text of runs (text, font): laid out once, moved to a new page when it does not fit, drawn.
  // Returns the padded height.
  double text(const std::vector<std::pair<std::string, const char*>>& runs, double x, double width,
              bool fillBack = false) {
    PangoLayout* layout = pango_layout_new(context);
    std::string whole;
    PangoAttrList* attributes = pango_attr_list_new();
    for (const auto& [part, font] : runs) {
      PangoFontDescription* description = pango_font_description_from_string(font);
      PangoAttribute* attribute = pango_attr_font_desc_new(description);
      pango_font_description_free(description);
      attribute->start_index = static_cast<guint>(whole.size());
      whole += part;
      attribute->end_index = static_cast<guint>(whole.size());
      pango_attr_list_insert(attributes, attribute);
    }
    pango_layout_set_text(layout, whole.data(), static_cast<int>(whole.size()));
    pango_layout_set_attributes(layout, attributes);
    pango_attr_list_unref(attributes);
    if (width > 0) pango_layout_set_width(layout, static_cast<int>(width * PANGO_SCALE));
    int w = 0, h = 0;
    pango_layout_get_size(layout, &w, &h);
    const double height = std::trunc(static_cast<double>(h) / PANGO_SCALE) + 4;
    if (y + height >= 742) page();
    if (fillBack) {
      violet();
      cairo_rectangle(cr, x, y - 1, 512, height + 2);
      cairo_fill(cr);
    }
    light();
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    return height;
  }

  // A tooth's picture over `rect` in one colour, mirrored left to right when asked.
  void tooth(cairo_surface_t* picture, double x, double y, bool mirrored, const double (&rgba)[4]) {
    if (!picture || cairo_surface_status(picture) != CAIRO_STATUS_SUCCESS) return;
    const int pw = cairo_image_surface_get_width(picture);
    cairo_save(cr);
    cairo_translate(cr, x, y);
    if (mirrored) {
      cairo_translate(cr, pw / 4.0, 0);
      cairo_scale(cr, -1, 1);
    }
    cairo_scale(cr, 0.25, 0.25);  // 2x pixels, drawn at half their size in points
    cairo_set_source_rgba(cr, rgba[0], rgba[1], rgba[2], rgba[3]);
    cairo_mask_surface(cr, picture, 0, 0);
    cairo_restore(cr);
  }

  void line(double x0, double y0, double x1, double y1) {
    cairo_set_source_rgb(cr, 242 / 255.0, 239 / 255.0, 252 / 255.0);
    cairo_set_line_width(cr, 0.5);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_stroke(cr);
  }

  void photo(const std::string& key, double x, double side) {
    auto read = files::readFile(request.photosFolder / (key + ".jpg"));
    if (!read.ok()) return;
    auto* jpeg = new foundation::Bytes(std::move(read).value());
    const auto info = reports::readJpegInfo(jpeg->data(), jpeg->size());
    if (!info) {
      delete jpeg;
      return;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_surface_set_mime_data(surface, CAIRO_MIME_TYPE_JPEG, jpeg->data(), jpeg->size(),
                                [](void* p) { delete static_cast<foundation::Bytes*>(p); }, jpeg);
    cairo_save(cr);
    const double r = side / 10;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + side - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + side - r, y + side - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + side - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
    cairo_clip(cr);
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, side, side);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    violet(0.2);
    cairo_rectangle(cr, x, y, side, side);
    cairo_fill(cr);
    cairo_restore(cr);
    pageSurfaces.push_back(surface);
  }
};

constexpr const char* kPlainFont = "DejaVu Sans Condensed";

std::string font(const char* weight, int size) {
  return std::string(kPlainFont) + " " + weight + " " + std::to_string(size);
}

// The chart: every tooth in the colour of its state, and for each dated one its label and leader.
void toothChart(Plain& p, const Year& year, const std::string& labelFont) {
  static constexpr double kColours[3][4] = {
      {242 / 255.0, 239 / 255.0, 252 / 255.0, 0.4}, {1, 1, 1, 1}, {108 / 255.0, 91 / 255.0, 236 / 255.0, 1}};
  const auto teeth = year.request_.baby.babyToTooth();
  for (int n = 0; n < babies::kToothCount; ++n) {
    const babies::ToothSpotPlace& place = babies::toothSpotPlaces()[static_cast<size_t>(n)];
    cairo_surface_t* picture = toothPicture(place.image);
    if (!picture) continue;
    const double w = cairo_image_surface_get_width(picture) / 4.0, h = cairo_image_surface_get_height(picture) / 4.0;
    const double x = place.x - w / 2 + 146, y = place.y - h / 2 + (n >= 10 ? 196 : 216);
    std::optional<foundation::Date> appeared;
    for (const auto& tooth : teeth)
      if (tooth.tooth_Num() == n && tooth.tooth_State() == babies::kToothAppeared) appeared = tooth.tooth_Date();
    p.tooth(picture, x, y, place.mirrored, kColours[appeared ? 1 : 0]);
    if (!appeared) continue;
    const std::time_t t = static_cast<std::time_t>(appeared->unix());
    std::tm parts{};
    gmtime_r(&t, &parts);
    char label[48];
    std::snprintf(label, sizeof label, "Tooth Appeared: %d/%d/%02d", parts.tm_mon + 1, parts.tm_mday,
                  parts.tm_year % 100);
    // The label beside the tooth's outer side, above the upper jaw and below the lower one.
    const bool right = n >= 5 && n <= 14;
    const double ax = right ? x + w - 10 : x + 10, ly = n >= 10 ? y + h + 40 : y - 40;
    p.y = ly - 20;
    p.text({{label, labelFont.c_str()}}, right ? ax + 5 : std::max(0.0, ax - 125), 0);
    p.line(ax, n >= 10 ? y + h : y, ax, ly);
    p.line(ax, ly, right ? ax + 130 : ax - 130, ly);
  }
}

// Written as the report is, so that no half-written file is ever at `path`: to a temporary file
// beside it, flushed to the disk, then renamed over it.
int plainReport(const Year& year, const std::filesystem::path& path) {
  const std::string temporary = path.string() + ".partial";
  cairo_surface_t* surface = cairo_pdf_surface_create(temporary.c_str(), 612, 792);
  cairo_t* cr = cairo_create(surface);
  PangoContext* context = pango_cairo_create_context(cr);
  pango_cairo_context_set_resolution(context, 72);  // a font's size in the PDF's points
  int pages = 0;
  {
    const reports::PdfReportRequest& request = year.request_;
    Plain p{cr, context, request, 50, 0, {}};
    const std::string f50 = font("", 50), f46 = font("", 46), f30 = font("", 30), f28 = font("", 28),
                      f20 = font("", 20), f16 = font("", 16), f16m = font("Bold", 16), f14 = font("", 14),
                      f13 = font("", 13), blank = "DejaVu Sans 12";
    p.page(false);  // title
    p.y = 80;
    p.y += p.text({{"Baby Diary", f50.c_str()}}, 200, 0) + 40;
    p.y += p.text({{"Anna", f46.c_str()}}, 250, 0) + 40;
    p.y += p.text({{"Birthday: October 8, 2024", f28.c_str()}}, 50, 0);
    p.text({{"Blood Type: A(II) Rh\u2212", f28.c_str()}}, 50, 0);
    p.y = 702;
    p.text({{"Date: January 13, 2026", f20.c_str()}}, 50, 0);
    p.page();  // teeth
    p.text({{"Teeth", f30.c_str()}}, 260, 0);
    toothChart(p, year, font("", 14));
    p.page();
    for (const auto& day : request.days) {
      p.y += p.text({{*day.dayStr + " (" + *day.daySinceBornStr + ")", f20.c_str()}}, 50, 0, true);
      for (const auto& row : day.noteInfos) {
        const double saved = p.y;
        p.text({{*row.date, f16.c_str()}}, 50, 0);
        p.y = saved;
        std::vector<std::pair<std::string, const char*>> line{{*row.type, f16m.c_str()}};
        const std::pair<const std::optional<std::string>*, const char*> parts[] = {
            {&row.val, f16.c_str()}, {&row.notice, f14.c_str()}, {&row.img, f13.c_str()}};
        for (const auto& [part, partFont] : parts) {
          if (!*part || (*part)->empty()) continue;
          line.push_back({" ", blank.c_str()});
          line.push_back({**part, partFont});
        }
        p.y += p.text(line, 230, 282);
      }
      p.y = std::trunc(p.y + 4);
      p.y += p.text({{"\u2211 ", f13.c_str()}, {*day.sumStr, f14.c_str()}}, 50, 462) + 12;
      for (const auto& key : day.images) {
        if (p.y + 166 >= 767) p.page();
        p.photo(key, 50, 166);
      }
      p.y += 166 + 6 + 20;
    }
    pages = p.pages;
  }
  g_object_unref(context);
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  cairo_surface_destroy(surface);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) return 0;
  return pages;
}

// The report and the plain pages, both warmed, then timed in rounds that alternate which goes first,
// so that a change of load on a shared machine meets both alike; medians of the rounds' wall times.
void BM_YearReport_VsPlain(benchmark::State& state) {
  Year& year = Year::get();
  const int rounds = static_cast<int>(state.range(0));
  bench_support::AlternatedLaps laps;
  int pages = 0;
  bool failed = false;
  for (auto _ : state) {
    (void)plainReport(year, year.folder_ / "plain.pdf");
    failed = !reports::generatePdfReport(year.request_).ok();
    for (int round = 0; round < rounds && !failed; ++round) {
      laps.round(
          [&] { return bench_support::wallLap([&] { failed = !reports::generatePdfReport(year.request_).ok(); }); },
          [&] { return bench_support::wallLap([&] { pages = plainReport(year, year.folder_ / "plain.pdf"); }); });
    }
  }
  if (failed) {
    state.SkipWithError("the report was not written");
    return;
  }
  const double size = static_cast<double>(std::filesystem::file_size(year.request_.outputPath));
  state.counters["pages"] = pages;
  state.counters["plain_ms"] = laps.reference() * 1e3;
  state.counters["report_ms"] = laps.ours() * 1e3;
  state.counters["vs_plain"] = laps.ratio();
  state.counters["size_vs_photos"] = size / year.photoBytes_;
  state.counters["MB"] = size / 1e6;
}
BENCHMARK(BM_YearReport_VsPlain)->Arg(7)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
