#include "reports/pdf_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <utility>

#include "app/image_effects.h"
#include "babies/teeth.h"
#include "babies/tooth_spot_info.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/log.h"
#include "platform/graphics/cairo_canvas.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/image_library.h"
#include "reports/jpeg_info.h"
#include "reports/pdf_layout.h"

namespace reports {

using graphics::AttributedText;
using graphics::Canvas;
using graphics::Color;
using graphics::Font;
using graphics::Point;
using graphics::Rect;
using graphics::Size;
using pdf::rgb255;

namespace {

constexpr std::string_view kRegular = "AvenirNext-Regular";
constexpr std::string_view kMedium = "AvenirNext-Medium";

// The colours of one style.
struct Style {
  bool forPrint = false;
  Color text, notAppeared, appeared, lost, leader;

  explicit Style(bool print) : forPrint(print) {
    if (print) {
      text = rgb255(64, 66, 87);
      notAppeared = rgb255(201, 203, 206);
      appeared = pdf::violet();
      lost = rgb255(160, 94, 255, static_cast<float>(0.88));
      leader = rgb255(169, 169, 169);
    } else {
      text = rgb255(242, 239, 252);
      notAppeared = rgb255(242, 239, 252, static_cast<float>(0.4));
      appeared = Color(1, 1, 1, 1);
      lost = rgb255(108, 91, 236);
      leader = rgb255(242, 239, 252);
    }
  }
};

Color overlayColor() { return rgb255(140, 127, 243, static_cast<float>(0.2)); }

bool hasText(const std::optional<std::string>& s) { return s && !s->empty(); }

// Everything one drawing of the report needs, so the steps below take one argument.
struct Report {
  Canvas& canvas;
  const PdfReportRequest& request;
  Style style;
  app::InterfaceText lang;

  AttributedText text(std::string s, double size) const {
    return AttributedText(std::move(s), Font(std::string(kRegular), size), style.text);
  }
  std::shared_ptr<const graphics::TextMeasurer> measurer = graphics::defaultTextMeasurer();

  Size measure(const AttributedText& t) const { return measurer->measure(t, 0).size; }
  Point draw(const AttributedText& t, Point at, Size bounds = {}, bool fillBack = false,
             bool nextLine = true) {
    return pdf::drawText(canvas, t, at, bounds, fillBack, nextLine, style.forPrint);
  }
  // Centred across the page; a text wider than the margins wraps within them, centred.
  Point drawCentred(AttributedText t, double y) {
    const double width = measure(t).width;
    if (width <= pdf::kPageWidth - 2 * pdf::kMargin) return draw(t, Point{306 - width / 2, y});
    t.alignment = graphics::TextAlignment::kCenter;
    return draw(t, Point{pdf::kMargin, y}, Size{pdf::kPageWidth - 2 * pdf::kMargin, 0});
  }
  void newPage() { pdf::beginPage(canvas, style.forPrint); }
};

std::string joined(const std::string& a, const std::string& b) { return a + ": " + b; }

std::string bloodTypeText(const app::InterfaceText& lang, std::optional<int> index) {
  static constexpr const char* kLabels[] = {"O(I) Rh\u2212",   "O(I) Rh+",   "A(II) Rh\u2212",  "A(II) Rh+",
                                            "B(III) Rh\u2212", "B(III) Rh+", "AB(IV) Rh\u2212", "AB(IV) Rh+"};
  if (index && *index >= 1 && *index <= 8) return kLabels[*index - 1];
  return lang.localized("Not set");
}

// ---- Title page

void drawTitlePage(Report& r) {
  Canvas& canvas = r.canvas;
  const app::Baby& baby = r.request.baby;
  const auto& icon = r.request.icon;
  canvas.beginPage();
  if (!r.style.forPrint && icon && !icon->isEmpty()) {
    auto blurred = app::applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(
        *icon, 5.0, 792.0, rgb255(140, 127, 243, static_cast<float>(0.7)), 0.4, nullptr, r.request.screenScale);
    if (blurred) canvas.drawImage(*blurred, Rect(-90, 0, 792, 792));
  }
  Point at = r.drawCentred(r.text(r.lang.localized("AppName"), 50), 80);
  double y = at.y + 40;
  if (icon && !icon->isEmpty()) {
    const Rect circle(186, y, 240, 240);
    canvas.save();
    canvas.clipToPath(graphics::Path::roundedRect(circle, 120));
    canvas.drawImage(*icon, circle);
    if (!r.style.forPrint) canvas.drawImage(app::multiplyImageByConstantColor(*icon, overlayColor()), circle);
    canvas.restore();
    y += 260;
  }
  if (auto name = baby.baby_Name(); hasText(name)) y = r.drawCentred(r.text(*name, 46), y).y + 40;
  const auto longDate = foundation::DateFormatter::withStyles(
      foundation::DateFormatterStyle::Long, foundation::DateFormatterStyle::None, reportLocale(r.lang));
  if (auto birthday = baby.baby_BirthDay()) {
    const std::string line = joined(r.lang.localized("Birthday"), longDate.stringFromDate(*birthday));
    y = r.draw(r.text(line, 28), Point{50, y}).y;
  }
  if (auto blood = baby.baby_Bood()) {
    const std::string line = joined(r.lang.localized("Blood Type"), bloodTypeText(r.lang, blood));
    r.draw(r.text(line, 28), Point{50, y});
  }
  const std::string date = joined(r.lang.localized("Date"), longDate.stringFromDate(r.request.reportDate));
  r.draw(r.text(date, 20), Point{50, 702});
}

// ---- Tooth page

// Where a spot's leader starts (ax, ay) and the y of its label line, from the drawn edges.
struct Anchor {
  double ax, ay, ly;
};

Anchor anchorFor(int spot, const Rect& drawn) {
  // Per pair of mirrored spots: inset from the outer edge, offset of ay, and ly relative to ay.
  struct Row {
    double inset, dy, dly;
  };
  static constexpr Row kUpper[5] = {{10, 0, -20}, {14, 7, -30}, {20, 14, -50}, {24, 16, -80}, {30, 12, -120}};
  static constexpr Row kLower[5] = {
      {10, -8, 22}, {18, -12, 25}, {24, -16, 50}, {24, -18, 90}, {30, -16, 130}};
  const double left = drawn.x(), right = drawn.x() + drawn.width();
  const double top = drawn.y(), bottom = drawn.y() + drawn.height();
  if (spot < 10) {
    const bool leftSide = spot < 5;
    const Row& row = kUpper[leftSide ? spot : 9 - spot];
    const double ay = top + row.dy;
    return {leftSide ? left + row.inset : right - row.inset, ay, ay + row.dly};
  }
  const bool leftSide = spot >= 15;
  const Row& row = kLower[leftSide ? 19 - spot : spot - 10];
  const double ay = bottom + row.dy;
  return {leftSide ? left + row.inset : right - row.inset, ay, ay + row.dly};
}

// The size of a tooth's date labels: 14 points, or less where the longer label and its leader would
// not fit between the anchor and the paper's edge (`room` away), as the longer translations of
// "Tooth Appeared" beside the outermost teeth would not; both labels of a tooth take the same size.
double toothLabelSize(const Report& r, const std::vector<std::string>& lines, double room) {
  // The leader runs 10 points past the label, and stops 10 points short of the edge.
  const double fits = room - 20;
  double size = 14;
  auto widest = [&](double points) {
    double w = 0;
    for (const auto& line : lines) w = std::max(w, r.measure(r.text(line, points)).width);
    return w;
  };
  const double atFull = widest(size);
  if (atFull <= fits || fits <= 0) return size;
  size = std::max(6.0, std::floor(size * fits / atFull * 2) / 2);
  while (size > 6 && widest(size) > fits) size -= 0.5;
  return size;
}

// One tooth of the chart as its spot shows it in one state: the spot's picture in the state's colour
// and the rectangle the spot draws it in, made by babies' own steps, but only the picture the page
// shows: the page draws each tooth in one state, and filling a picture is most of the page's own work.
struct ToothPicture {
  std::shared_ptr<const graphics::Image> image;  // null for a state without a picture
  Rect drawRect;
};

// The filled pictures, kept for the process: every report fills the same few shapes in the same few
// colours again. Keyed by the shape itself, the colour as it is filled in (8 bits a channel) and the
// side; a style has three colours, so two styles need at most six per spot, and past that the set
// starts over. Any thread.
class FilledPictures {
 public:
  static FilledPictures& get() {
    static FilledPictures* made = new FilledPictures;  // never destroyed: a report may run at exit
    return *made;
  }

  std::shared_ptr<const graphics::Image> filled(const ui::ImageRef& shape, const Color& colour, bool mirrored) {
    const Color::Rgba8 key = colour.toRgba8();
    {
      std::lock_guard lock(mutex_);
      for (const Entry& e : entries_)
        if (e.shape == shape && e.colour == key && e.mirrored == mirrored) return e.picture;
    }
    auto made = std::make_shared<const graphics::Image>(babies::filledToothPicture(*shape, colour, mirrored));
    std::lock_guard lock(mutex_);
    if (entries_.size() >= kMost) entries_.clear();
    entries_.push_back({shape, key, mirrored, made});
    return made;
  }

 private:
  struct Entry {
    ui::ImageRef shape;
    Color::Rgba8 colour;
    bool mirrored;
    std::shared_ptr<const graphics::Image> picture;
  };
  static constexpr size_t kMost = 6 * babies::kToothCount;
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

ToothPicture toothPicture(int n, int state, const Style& style) {
  if (state < 0 || state > 2) return {};
  const babies::ToothSpotPlace& place = babies::toothSpotPlaces()[static_cast<size_t>(n)];
  const ui::ImageRef shape = ui::imageNamed(place.image);
  if (!shape || shape->isEmpty()) return {};
  const Color& colour = state == 0 ? style.notAppeared : state == 1 ? style.appeared : style.lost;
  auto filled = FilledPictures::get().filled(shape, colour, place.mirrored);
  const Rect drawRect = babies::toothPictureRect({place.x, place.y}, *filled);
  return {std::move(filled), drawRect};
}

void drawToothPage(Report& r) {
  const Style& style = r.style;
  const std::vector<app::Tooth> teeth = r.request.baby.babyToTooth();
  r.newPage();
  r.drawCentred(r.text(r.lang.localized("Teeth"), 30), 50);
  const auto shortDate = foundation::DateFormatter::withStyles(
      foundation::DateFormatterStyle::Short, foundation::DateFormatterStyle::None, reportLocale(r.lang));
  bool anyShown = false;
  for (int n = 0; n < babies::kToothCount; ++n) {
    const int state = babies::toothStateOf(teeth, n);
    const ToothPicture picture = toothPicture(n, state, style);
    if (!picture.image) continue;
    const Rect& d = picture.drawRect;
    const Rect drawn(d.x() + 146, d.y() + (n >= 10 ? 196 : 216), d.width(), d.height());
    r.canvas.drawSharedImage(picture.image, drawn);
    if (state != 1 && state != 2) continue;
    anyShown = true;

    const Anchor anchor = anchorFor(n, drawn);
    std::optional<foundation::Date> appeared, lost;
    bool seenAppeared = false, seenLost = false;
    for (const auto& tooth : teeth) {
      if (tooth.tooth_Num() != n) continue;
      // The first record of each kind gives the date; a record without one gives no label (not
      // the reference date printed as a day).
      if (tooth.tooth_State() == 10) {
        if (!seenAppeared) appeared = tooth.tooth_Date();
        seenAppeared = true;
      } else {
        if (!seenLost) lost = tooth.tooth_Date();
        seenLost = true;
      }
    }
    const bool toTheRight = n >= 5 && n <= 14;
    std::vector<std::string> lines;
    if (appeared) lines.push_back(joined(r.lang.localized("Tooth Appeared"), shortDate.stringFromDate(*appeared)));
    if (lost) lines.push_back(joined(r.lang.localized("Lost Tooth"), shortDate.stringFromDate(*lost)));
    const double size = toothLabelSize(r, lines, toTheRight ? pdf::kPageWidth - anchor.ax : anchor.ax);
    double widest = 0;
    auto label = [&](const std::string& line, bool above) {
      const AttributedText t = r.text(line, size);
      const Size measured = r.measure(t);
      widest = std::max(widest, measured.width);
      const double x = toTheRight ? anchor.ax + 5 : anchor.ax - (measured.width + 5);
      r.draw(t, Point{x, above ? anchor.ly - (measured.height + 3) : anchor.ly + 3});
    };
    for (size_t i = 0; i < lines.size(); ++i) label(lines[i], appeared && i == 0);
    const double m = std::trunc(widest);
    const double ex = toTheRight ? anchor.ax + m + 10 : anchor.ax - (m + 10);
    pdf::drawLineFromPointToPointWithColor(r.canvas, {anchor.ax, anchor.ay}, {anchor.ax, anchor.ly},
                                           style.leader);
    pdf::drawLineFromPointToPointWithColor(r.canvas, {anchor.ax, anchor.ly}, {ex, anchor.ly}, style.leader);
  }
  if (!anyShown) {
    const AttributedText t = r.text(r.lang.localized("Not enough data"), 18);
    r.drawCentred(t, 396 + r.measure(t).height / 2);
  }
}

// ---- Day pages

// The line of one note: the type in the medium face, then value, notice and photo mark, each after
// a blank that carries no attributes of its own.
AttributedText noteLine(const Report& r, const ReportRow& row) {
  static const Font medium(std::string(kMedium), 16), value(std::string(kRegular), 16),
      notice(std::string(kRegular), 14), mark(std::string(kRegular), 13);
  static const Font plain("Helvetica", 12);  // what text without attributes is drawn in
  AttributedText line;
  line.runs.reserve(7);
  line.append(row.type.value_or(""), medium, r.style.text);
  const std::pair<const std::optional<std::string>*, const Font*> parts[] = {
      {&row.val, &value}, {&row.notice, &notice}, {&row.img, &mark}};
  for (const auto& [part, font] : parts) {
    if (!hasText(*part)) continue;
    line.append(" ", plain, Color::black());
    line.append(**part, *font, r.style.text);
  }
  return line;
}

// Draws the JPEG `bytes` into `rect`: the file's own bytes when it is upright, else its pixels
// turned as its EXIF orientation says. False when the file is no readable image.
bool drawPhotoFile(Canvas& canvas, const std::shared_ptr<const foundation::Bytes>& bytes, const Rect& rect) {
  const auto info = readJpegInfo(bytes->data(), bytes->size());
  if (info && info->orientation == 1) {
    canvas.drawJpegData(bytes, Size(info->width, info->height), rect);
    return true;
  }
  auto decoded = graphics::Image::decode(*bytes);
  if (!decoded.ok()) return false;
  const int o = info ? info->orientation : 1;
  const double x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
  // Raw pixels (u, v) to the page: the EXIF orientations 1-8.
  const graphics::AffineTransform turns[8] = {
      {1, 0, 0, 1, x, y}, {-1, 0, 0, 1, x + w, y}, {-1, 0, 0, -1, x + w, y + h}, {1, 0, 0, -1, x, y + h},
      {0, 1, 1, 0, x, y}, {0, 1, -1, 0, x + w, y}, {0, -1, -1, 0, x + w, y + h}, {0, -1, 1, 0, x, y + h},
  };
  const bool swapped = o >= 5;
  canvas.save();
  canvas.concat(turns[o - 1]);
  canvas.drawImage(*decoded, Rect(0, 0, swapped ? h : w, swapped ? w : h));
  canvas.restore();
  return true;
}

double drawPhotos(Report& r, const PdfDayInfo& day, double y) {
  const std::uint32_t type = r.request.imgType;
  y += 12;
  const double side = type == kBigPhotos ? 512 : 166;
  auto columnX = [&](int c) { return type == kBigPhotos ? 50.0 : std::trunc(c * (side + 6) + 50); };
  int c = 0;
  for (const auto& key : day.images) {
    if ((type == kBigPhotos && c != 0) || c >= 3) {
      c = 0;
      y += side + 6;
    }
    const int column = c++;
    if (key.empty()) continue;
    auto read = files::readFile(r.request.photosFolder / (key + ".jpg"));
    if (!read.ok()) continue;
    const auto bytes = std::make_shared<const foundation::Bytes>(std::move(read).value());
    double x = columnX(column);
    if (y + side >= 767) {
      r.newPage();
      y = 50;
      // The row starts again at the left on the new page, so the next photo cannot fall on this one.
      x = columnX(0);
      c = 1;
    }
    const Rect rect(x, y, side, side);
    r.canvas.save();
    r.canvas.clipToPath(graphics::Path::roundedRect(rect, side / 10));
    const bool drawn = drawPhotoFile(r.canvas, bytes, rect);
    if (drawn && !r.style.forPrint) pdf::fillRectInFrameWithColor(r.canvas, rect, overlayColor());
    r.canvas.restore();
  }
  return y + side + 6;
}

void drawDay(Report& r, const PdfDayInfo& day, double& y) {
  const Color textColour = r.style.text;
  if (hasText(day.dayStr)) {
    // The age in parentheses only when there is one: no birthday, no "()".
    std::string heading = *day.dayStr;
    if (hasText(day.daySinceBornStr)) heading += " (" + *day.daySinceBornStr + ")";
    y = r.draw(r.text(heading, 20), Point{50, y}, {}, true).y;
  }
  // The widest time of the leading rows that have one sets the column.
  double w = 0;
  for (const auto& row : day.noteInfos) {
    if (!row.date) break;
    w = std::max(w, r.measure(r.text(*row.date, 16)).width);
  }
  w = std::trunc(w);
  double column = 50;
  for (const auto& row : day.noteInfos) {
    if (row.date) column = w + 55;
    const AttributedText line = noteLine(r, row);
    const Size bounds(std::trunc(512 - column), 0);
    if (row.date) {
      const AttributedText time = r.text(*row.date, 16);
      const double timeX = (w + 50) - std::trunc(r.measure(time).width);
      // The time and its line go to the next page together.
      const double tall = std::max(pdf::textBlockSize(time, {timeX, y}, {}).height,
                                   pdf::textBlockSize(line, {column, y}, bounds).height);
      if (!pdf::contains_page(Rect(column, std::trunc(y), 0, tall)) &&
          tall < pdf::kTextBottom - pdf::kPageTop) {
        r.newPage();
        y = pdf::kPageTop;
      }
      y = r.draw(time, Point{timeX, y}, {}, false, false).y;
    }
    y = r.draw(line, Point{column, y}, bounds).y;
  }
  if (hasText(day.sumStr)) {
    y = std::trunc(y + 4);
    AttributedText sum("\u2211 ", Font(std::string(kRegular), 13), textColour);
    sum.append(*day.sumStr, Font(std::string(kRegular), 14), textColour);
    const Size bounds(462, 0);
    if (r.style.forPrint) {
      // The rule stays with its totals when they go to the next page.
      if (!pdf::contains_page(Rect(50, y + 3, 0, pdf::textBlockSize(sum, {50, y + 3}, bounds).height))) {
        r.newPage();
        y = pdf::kPageTop;
      }
      pdf::drawLineFromPointToPointWithColor(r.canvas, {50, y}, {562, y}, textColour);
      y += 3;
    }
    y = r.draw(sum, Point{50, y}, bounds).y;
  }
  if (r.request.imgType != kNoPhotos && !day.images.empty()) y = drawPhotos(r, day, y);
  y += 20;
}

}  // namespace

foundation::Locale reportLocale(const app::InterfaceText& language) { return app::interfaceLocale(language); }

void drawPdfReport(Canvas& canvas, const PdfReportRequest& request) {
  Report r{canvas, request, Style(request.forPrinting),
           request.language ? *request.language : app::InterfaceText::current()};
  drawTitlePage(r);
  drawToothPage(r);
  if (request.days.empty()) return;
  r.newPage();
  double y = 50;
  for (const auto& day : request.days) drawDay(r, day, y);
}

foundation::Status generatePdfReport(const PdfReportRequest& request) {
  if (!request.baby || request.baby.isDeleted())
    return foundation::Error::make(std::string(kReportErrorDomain),
                                   static_cast<std::int64_t>(ReportError::kNoBaby), "The report has no baby");
  auto created =
      graphics::CairoCanvas::createPdf(request.outputPath, Size(pdf::kPageWidth, pdf::kPageHeight));
  if (!created.ok()) {
    foundation::log("error creating PDF context");
    return foundation::Error::make(std::string(kReportErrorDomain),
                                   static_cast<std::int64_t>(ReportError::kPdfFailed),
                                   "error creating PDF context");
  }
  auto canvas = std::move(created).value();
  drawPdfReport(*canvas, request);
  // finish() writes a temporary file beside the path and renames it: no half-written report.
  auto finished = canvas->finish();
  if (!finished.ok()) {
    foundation::log("error writing PDF: " + finished.error().localizedDescription());
    return foundation::Error::make(std::string(kReportErrorDomain),
                                   static_cast<std::int64_t>(ReportError::kPdfFailed), "error writing PDF");
  }
  return {};
}

}  // namespace reports
