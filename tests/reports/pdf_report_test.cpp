#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <string>
#include <tuple>

#include "app/note_helper_fixture.h"
#include "babies/teeth.h"
#include "babies/tooth_spot_info.h"
#include "pdf_tools.h"
#include "platform/files/file_ops.h"
#include "platform/graphics/recording_canvas.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/image_library.h"
#include "reports/jpeg_info.h"
#include "reports/pdf_generator.h"
#include "reports/pdf_layout.h"
#include "support/temp_dir.h"

namespace {

using graphics::Rect;
using note_helper_test::at;
using reports::commandOutput;
using reports::PdfDayInfo;
using reports::pdfText;
using reports::PdfReportRequest;
using reports::ReportRow;

// A JPEG of one colour; with an EXIF block saying `orientation` when it is not 0.
foundation::Bytes jpeg(int w, int h, std::uint8_t shade, int orientation = 0) {
  graphics::Image image(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, {shade, static_cast<std::uint8_t>(x), 90, 255});
  foundation::Bytes bytes = image.jpegData(0.8).value();
  if (orientation == 0) return bytes;
  // APP1: "Exif\0\0", a little-endian TIFF header and one IFD entry (0x0112, SHORT, 1, value).
  // clang-format off
  const std::uint8_t exif[] = {0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,
                               1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, static_cast<std::uint8_t>(orientation), 0,
                               0, 0, 0, 0, 0, 0};
  // clang-format on
  bytes.insert(bytes.begin() + 2, std::begin(exif), std::end(exif));
  return bytes;
}

class PdfReportTest : public note_helper_test::NoteHelperTest {
 protected:
  void SetUp() override {
    NoteHelperTest::SetUp();
    pin("en_US", "UTC");
    baby_ = app::Baby::insertIn(*context_);
    baby_.setBaby_Name(std::string("Anna"));
    baby_.setBaby_BirthDay(at("UTC", 2026, 1, 15));
    baby_.setBaby_Bood(8);
    ASSERT_TRUE(files::createDirectory(photos()).ok());
    ASSERT_TRUE(files::createDirectory(home_.path() / "tmp").ok());
  }

  void tooth(int number, int state, foundation::Date date) {
    auto t = app::Tooth::insertIn(*context_);
    t.setTooth_Num(number);
    t.setTooth_State(state);
    t.setTooth_Date(date);
    baby_.addBabyToToothObject(t);
  }
  std::filesystem::path photos() const { return home_.path() / "Documents" / "Photos"; }
  void photo(const std::string& key, const foundation::Bytes& bytes) {
    ASSERT_TRUE(files::writeAtomic(photos() / (key + ".jpg"), bytes).ok());
  }

  PdfReportRequest request(std::vector<PdfDayInfo> days, std::uint32_t imgType, bool forPrinting) {
    PdfReportRequest r;
    r.days = std::move(days);
    r.baby = baby_;
    r.imgType = imgType;
    r.forPrinting = forPrinting;
    r.outputPath = home_.path() / "tmp" / "report.pdf";
    r.photosFolder = photos();
    r.reportDate = at("UTC", 2026, 12, 6, 12);
    r.language = note_helper_test::language("en");
    return r;
  }

  static PdfDayInfo day(std::string heading, std::vector<ReportRow> rows,
                        std::vector<std::string> images = {}, std::string sum = "") {
    PdfDayInfo d;
    d.dayStr = std::move(heading);
    d.daySinceBornStr = "10 months";
    d.sumStr = std::move(sum);
    d.noteInfos = std::move(rows);
    d.images = std::move(images);
    return d;
  }

  app::Baby baby_;
};

TEST_F(PdfReportTest, ReportPdfHasItsPagesTextsInOrderAndUprightPhotosAsTheirOwnJpeg) {
  tooth(0, 10, at("UTC", 2026, 7, 1));
  tooth(0, 20, at("UTC", 2026, 11, 2));
  tooth(5, 20, at("UTC", 2026, 11, 3));
  photo("p1", jpeg(320, 240, 10));
  photo("p2", jpeg(200, 200, 200));
  photo("turned", jpeg(240, 320, 120, 6));
  std::vector<PdfDayInfo> days = {
      day("December 1, 2026",
          {{"Sleep", "10:00 PM - 7:00 AM [9h]", "", {}, {}},
           {"Food", "8:00 AM", "120 g.", "with milk", "[Photos 1]"}},
          {"p1", "missing", "turned"}, "Sleep[1] 9h, Food[1] 120 g"),
      day("December 2, 2026", {{"Bath", "6:00 PM - 6:20 PM [20m]", "", {}, "[Photos 1]"}}, {"p2"}),
  };
  auto r = request(days, reports::kSmallPhotos, true);
  ASSERT_TRUE(reports::generatePdfReport(r).ok());
  const std::string pdf = r.outputPath.string();

  const std::string info = commandOutput("pdfinfo '" + pdf + "'");
  EXPECT_TRUE(std::regex_search(info, std::regex(R"(Pages:\s+3\n)"))) << info;
  EXPECT_TRUE(std::regex_search(info, std::regex(R"(Page size:\s+612 x 792 pts)"))) << info;

  // Texts in reading order, across the title, tooth and day pages.
  const std::string text = commandOutput("pdftotext -layout '" + pdf + "' -");
  size_t from = 0;
  for (const char* expected :
       {"Baby Diary", "Anna", "Birthday: January 15, 2026", "Blood Type: AB(IV) Rh+",
        "Date: December 6, 2026", "Teeth", "Tooth Appeared: 7/1/26", "Lost Tooth: 11/2/26",
        "December 1, 2026 (10 months)", "10:00 PM - 7:00 AM [9h]", "Sleep", "8:00 AM",
        "Food 120 g. with milk [Photos 1]", "Sleep[1] 9h, Food[1] 120 g", "December 2, 2026 (10 months)",
        "Bath"}) {
    const size_t found = text.find(expected, from);
    ASSERT_NE(found, std::string::npos) << expected << "\n" << text;
    from = found;
  }
  EXPECT_EQ(text.find("Not enough data"), std::string::npos);

  // Two upright photos pass through as JPEG; the turned one is drawn from its pixels.
  const std::string images = commandOutput("pdfimages -list '" + pdf + "'");
  const std::regex jpegRow(R"(\n\s*\d+\s+\d+\s+image\s+(\d+)\s+(\d+)\s+\S+\s+\d+\s+\d+\s+jpeg)");
  std::vector<std::string> sizes;
  for (std::sregex_iterator m(images.begin(), images.end(), jpegRow), end; m != end; ++m)
    sizes.push_back((*m)[1].str() + "x" + (*m)[2].str());
  EXPECT_EQ(sizes, (std::vector<std::string>{"320x240", "200x200"})) << images;
  EXPECT_TRUE(std::regex_search(images, std::regex(R"(image\s+240\s+320\s+rgb\s+3\s+8\s+image)"))) << images;
}

TEST_F(PdfReportTest, EmptyDaysGiveTitleAndToothPagesAndNoBabyWritesNothing) {
  auto r = request({}, reports::kNoPhotos, false);
  ASSERT_TRUE(reports::generatePdfReport(r).ok());
  EXPECT_TRUE(std::regex_search(commandOutput("pdfinfo '" + r.outputPath.string() + "'"),
                                std::regex(R"(Pages:\s+2\n)")));
  EXPECT_NE(pdfText(r.outputPath).find("Not enough data"), std::string::npos);

  // A Russian interface on an English device: Russian dates.
  r.language = note_helper_test::language("ru");
  ASSERT_TRUE(reports::generatePdfReport(r).ok());
  const std::string russian = pdfText(r.outputPath);
  EXPECT_NE(russian.find("15 января 2026 г."), std::string::npos) << russian;
  EXPECT_NE(russian.find("6 декабря 2026 г."), std::string::npos) << russian;
  r.language = note_helper_test::language("en");

  const auto before = files::readFile(r.outputPath).value();
  r.baby = app::Baby();
  r.days.push_back(day("x", {}));
  const auto status = reports::generatePdfReport(r);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code, static_cast<std::int64_t>(reports::ReportError::kNoBaby));
  EXPECT_EQ(files::readFile(r.outputPath).value(), before);
}

// What one report keeps for the next (the filled tooth pictures, their surfaces, the measured
// lines) changes nothing in it: the same days give the same document, but for its date of making,
// in either style and after a report in the other style.
TEST_F(PdfReportTest, TheSameDaysGiveTheSameDocumentAgain) {
  tooth(0, 10, at("UTC", 2026, 7, 1));
  tooth(7, 20, at("UTC", 2026, 11, 2));
  photo("p", jpeg(64, 48, 30));
  const std::vector<PdfDayInfo> days = {
      day("December 1, 2026",
          {{"Food", "8:00 AM", "Porridge 120 g.", "Ate it all", "[Photos 1]"},
           {"Sleep", "10:00 PM - 7:00 AM [9h]", "", {}, {}}},
          {"p"}, "Sleep[1] 9h, Food[1] 120 g")};
  auto document = [&](bool print) {
    auto r = request(days, reports::kSmallPhotos, print);
    EXPECT_TRUE(reports::generatePdfReport(r).ok());
    const auto read = files::readFile(r.outputPath);
    if (!read.ok()) return std::string();
    const std::string bytes(read.value().begin(), read.value().end());
    return std::regex_replace(bytes, std::regex(R"(/CreationDate \(D:\d+Z\))"), "");
  };
  const std::string colourful = document(false), printing = document(true);
  ASSERT_GT(colourful.size(), 1000u);
  ASSERT_EQ(colourful.find("/CreationDate"), std::string::npos) << "the date of making is left out";
  EXPECT_NE(colourful, printing);
  EXPECT_EQ(document(false), colourful);
  EXPECT_EQ(document(true), printing);
}

// Both styles, with an icon, teeth, times, totals and photos, for people to look at.
TEST_F(PdfReportTest, EachStyleIsWrittenForPeopleToLookAt) {
  tooth(4, 10, at("UTC", 2026, 6, 1));
  tooth(12, 10, at("UTC", 2026, 8, 9));
  tooth(19, 20, at("UTC", 2026, 10, 2));
  for (int i = 0; i < 5; ++i)
    photo("photo" + std::to_string(i), jpeg(400, 300, static_cast<std::uint8_t>(40 * i)));
  std::vector<PdfDayInfo> days;
  for (int d = 1; d <= 6; ++d)
    days.push_back(day("December " + std::to_string(d) + ", 2026",
                       {{"Sleep", "10:00 PM - 7:00 AM [9h]", "", {}, {}},
                        {"Food", "8:00 AM", "Porridge 120 g.", "Ate it all and asked for more", "[Photos 1]"},
                        {"Walk", "11:00 AM - 12:10 PM [1h 10m]", "", {}, "[Photos 2]"}},
                       {"photo" + std::to_string(d % 5), "photo" + std::to_string((d + 1) % 5)},
                       "Sleep[1] 9h, Food[1] 120 g, Walk[1] 1h 10m"));
  for (const auto& [name, print, photos] :
       {std::tuple{"report_colourful_small.pdf", false, reports::kSmallPhotos},
        std::tuple{"report_printing_big.pdf", true, reports::kBigPhotos}}) {
    auto r = request(days, photos, print);
    r.icon = ui::imageNamed("babyGirl");
    ASSERT_TRUE(r.icon) << "the report pictures are missing from resources/";
    r.outputPath = testing_support::testOutput() / name;
    ASSERT_TRUE(reports::generatePdfReport(r).ok());
    EXPECT_TRUE(std::regex_search(commandOutput("pdfinfo '" + r.outputPath.string() + "'"),
                                  std::regex(R"(Pages:\s+([3-9]|\d\d)\n)")));
  }
}

// Exact places on the recording canvas, with a measurer whose sizes are known.
class PdfReportLayoutTest : public PdfReportTest {
 protected:
  graphics::ScopedTextMeasurer measurer_{std::make_shared<graphics::FixedAdvanceTextMeasurer>(0.5, 1.0)};
  graphics::RecordingCanvas canvas_{graphics::Size(612, 792)};

  std::vector<Rect> photoRects() const {
    std::vector<Rect> out;
    for (const auto& image : canvas_.images())
      if (image.rect.width() == 166 || image.rect.width() == 512) out.push_back(image.rect);
    return out;
  }
};

TEST_F(PdfReportLayoutTest, SmallPhotosRunThreeARowAndRestartAtTheLeftAfterABreak) {
  photo("p", jpeg(40, 40, 50));
  PdfDayInfo d;  // no heading, no rows: the photos start at 50 + 12
  d.images = {"", "p", "p", "p", "p", "p", "p", "p", "p", "p", "p", "p", "", "p", "p"};
  reports::drawPdfReport(canvas_, request({d}, reports::kSmallPhotos, true));
  // Rows at 62, 234, 406, 578 (578 + 166 = 744 < 767); the fifth row at 750 breaks. Its first key is
  // empty, so the break comes with the photo chosen for x = 222: it goes to the left of the new page
  // and the next one beside it, not onto it.
  const std::vector<Rect> expected = {
      {222, 62, 166, 166},  {394, 62, 166, 166},  {50, 234, 166, 166},  {222, 234, 166, 166},
      {394, 234, 166, 166}, {50, 406, 166, 166},  {222, 406, 166, 166}, {394, 406, 166, 166},
      {50, 578, 166, 166},  {222, 578, 166, 166}, {394, 578, 166, 166}, {50, 50, 166, 166},
      {222, 50, 166, 166},
  };
  EXPECT_EQ(photoRects(), expected);
  EXPECT_EQ(canvas_.pageCount(), 4);
}

TEST_F(PdfReportLayoutTest, RowsAlignTimesOnTheWidestAndATimeBreaksWithItsLine) {
  std::vector<ReportRow> rows;
  // 16-point times: "10:00" is 40 wide, "9:00" 32; the text column is 40 + 55.
  rows.push_back({"Food", "9:00", "1", {}, {}});
  rows.push_back({"Walk", "10:00", "2", {}, {}});
  for (int i = 0; i < 40; ++i) rows.push_back({"Note", "10:00", std::to_string(i), {}, {}});
  reports::drawPdfReport(canvas_, request({day("Monday", rows)}, reports::kNoPhotos, true));
  // The texts after the day's heading: a time, then its line, for every row.
  std::vector<graphics::RecordedText> texts = canvas_.texts();
  while (!texts.empty() && texts.front().text != "Monday (10 months)") texts.erase(texts.begin());
  ASSERT_FALSE(texts.empty());
  texts.erase(texts.begin());
  ASSERT_EQ(texts.size(), 2 * rows.size());
  // The heading: 20 + 4 high at 50, so the first row is at 74.
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[0].rect->origin, (graphics::Point{58, 74}));  // right-aligned on 90
  EXPECT_EQ(texts[1].rect->origin, (graphics::Point{95, 74}));
  EXPECT_EQ(texts[1].rect->width(), 4 * 8 + 6 + 8 + 4);  // "Food", a 12-point blank, "1"
  // Every time stands on the same y as its line, across the page break.
  EXPECT_EQ(canvas_.pageCount(), 4);
  for (size_t i = 0; i + 1 < texts.size(); i += 2) {
    EXPECT_EQ(texts[i].rect->y(), texts[i + 1].rect->y()) << texts[i + 1].text;
    EXPECT_LT(texts[i].rect->y() + texts[i].rect->height(), 742);
  }
}

// In the printing style a day's totals stand under a rule; when the totals go to the next page,
// the rule goes with them rather than closing the page before.
TEST_F(PdfReportLayoutTest, TheRuleOverTheTotalsGoesToTheirPage) {
  bool broke = false;
  for (int count = 28; count <= 40; ++count) {
    SCOPED_TRACE(count);
    std::vector<ReportRow> rows(static_cast<size_t>(count), ReportRow{"Note", {}, "x", {}, {}});
    graphics::RecordingCanvas canvas(graphics::Size(612, 792));
    reports::drawPdfReport(canvas, request({day("Monday", rows, {}, "Note[1]")}, reports::kNoPhotos, true));
    std::optional<graphics::RecordedText> sum;
    for (const auto& t : canvas.texts())
      if (t.text.starts_with("\u2211")) sum = t;
    std::optional<graphics::RecordedLine> rule;
    for (const auto& line : canvas.lines())
      if (line.from.x == 50 && line.to.x == 562) rule = line;
    ASSERT_TRUE(sum && sum->rect && rule);
    EXPECT_EQ(rule->from.y + 3, sum->rect->y());
    EXPECT_LT(sum->rect->y() + sum->rect->height(), 742);
    broke = broke || sum->rect->y() == 53;
  }
  EXPECT_TRUE(broke);  // one of the days put its totals at the top of a new page
}

TEST_F(PdfReportLayoutTest, LongNameWrapsWithinThePageAndToothChartWithoutRecordsSaysSo) {
  baby_.setBaby_Name(std::string(40, 'W'));  // 40 x 23 points unlimited: wider than the page
  reports::drawPdfReport(canvas_, request({}, reports::kNoPhotos, true));
  bool sawName = false, sawNotEnough = false;
  for (const auto& t : canvas_.texts()) {
    EXPECT_GE(t.rect->x(), 0) << t.text;
    EXPECT_LE(t.rect->x() + t.rect->width(), 612) << t.text;
    sawName |= t.text == std::string(40, 'W');
    if (t.text == "Not enough data") {
      sawNotEnough = true;
      EXPECT_EQ(t.rect->origin, (graphics::Point{std::trunc(306 - 15 * 9 / 2.0), 396 + 9}));
    }
  }
  EXPECT_TRUE(sawName);
  EXPECT_TRUE(sawNotEnough);
  EXPECT_EQ(canvas_.pageCount(), 2);
}

// The tooth page shows each tooth as the chart's spot shows it in the tooth's state, in the style's
// colours, at the chart's place on the page: appeared, lost and never recorded teeth, both styles.
TEST_F(PdfReportLayoutTest, ToothPicturesAreTheChartSpotsInTheirStates) {
  tooth(0, 10, at("UTC", 2026, 7, 1));
  tooth(7, 10, at("UTC", 2026, 7, 2));
  tooth(7, 20, at("UTC", 2026, 11, 2));
  tooth(12, 10, at("UTC", 2026, 8, 1));
  const std::map<int, int> states = {{0, 1}, {7, 2}, {12, 1}};
  // The colourful style again last: its pictures then come from those the first drawing kept.
  for (bool print : {false, true, false}) {
    SCOPED_TRACE(print);
    using reports::pdf::rgb255;
    const babies::ToothColors colours =
        print ? babies::ToothColors{rgb255(201, 203, 206), reports::pdf::violet(), rgb255(160, 94, 255, 0.88)}
              : babies::ToothColors{rgb255(242, 239, 252, 0.4), graphics::Color(1, 1, 1, 1), rgb255(108, 91, 236)};
    const auto spots = babies::makeToothSpots(colours);
    graphics::RecordingCanvas canvas{graphics::Size(612, 792)};
    reports::drawPdfReport(canvas, request({}, reports::kNoPhotos, print));
    std::vector<graphics::RecordedImage> teeth;
    for (const auto& image : canvas.images())
      if (image.rect.width() < 100) teeth.push_back(image);
    ASSERT_EQ(teeth.size(), static_cast<size_t>(babies::kToothCount));
    for (int n = 0; n < babies::kToothCount; ++n) {
      SCOPED_TRACE(n);
      const auto& spot = spots[static_cast<size_t>(n)];
      const int state = states.count(n) ? states.at(n) : 0;
      const auto& expected = state == 0 ? spot.noToothImg() : state == 1 ? spot.appearToothImg() : spot.disappearToothImg();
      const Rect& d = spot.drawRect();
      EXPECT_EQ(teeth[static_cast<size_t>(n)].rect, Rect(d.x() + 146, d.y() + (n >= 10 ? 196 : 216), d.width(), d.height()));
      EXPECT_TRUE(graphics::Image::samePicture(*teeth[static_cast<size_t>(n)].image, *expected));
    }
  }
}

// Every tooth appeared and lost: each spot carries two date labels. In the longer languages the
// outermost teeth's labels would run off the paper (or wrap, and their leader past the edge); they
// come smaller instead, on one line each, while labels that fit keep their 14 points.
TEST_F(PdfReportLayoutTest, ToothLabelsAndLeadersStayOnThePageInEveryLanguage) {
  for (int n = 0; n < 20; ++n) {
    tooth(n, 10, at("UTC", 2026, 7, 1));
    tooth(n, 20, at("UTC", 2026, 11, 2));
  }
  struct Case {
    const char* language;
    bool print;
    bool allFull;  // every label keeps 14 points
  };
  const Case cases[] = {{"en", true, true}, {"en", false, true}, {"de", true, false}, {"ru", true, false},
                        {"ru", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.language) + (c.print ? ", printing" : ", colourful"));
    graphics::RecordingCanvas canvas{graphics::Size(612, 792)};
    auto r = request({}, reports::kNoPhotos, c.print);
    r.language = note_helper_test::language(c.language);
    reports::drawPdfReport(canvas, r);
    const std::string appeared = r.language->localized("Tooth Appeared") + ": ";
    const std::string lost = r.language->localized("Lost Tooth") + ": ";
    int labels = 0;
    bool shrunk = false;
    for (const auto& t : canvas.texts()) {
      if (!t.text.starts_with(appeared) && !t.text.starts_with(lost)) continue;
      ++labels;
      const double size = t.font.pointSize();
      EXPECT_LE(size, 14) << t.text;
      shrunk |= size < 14;
      EXPECT_GE(t.rect->x(), 0) << t.text;
      EXPECT_LE(t.rect->maxX(), 612) << t.text;
      EXPECT_LT(t.rect->height(), 2 * size) << t.text << ": wrapped";
    }
    EXPECT_EQ(labels, 40);
    EXPECT_EQ(shrunk, !c.allFull);
    const auto leader = c.print ? reports::pdf::rgb255(169, 169, 169) : reports::pdf::rgb255(242, 239, 252);
    int leaders = 0;
    for (const auto& line : canvas.lines()) {
      if (line.color != leader) continue;
      ++leaders;
      for (double x : {line.from.x, line.to.x}) {
        EXPECT_GE(x, 0);
        EXPECT_LE(x, 612);
      }
    }
    EXPECT_EQ(leaders, 40);
  }
}

TEST(JpegInfo, ReadsSizeAndOrientationAndRefusesDamagedHeaders) {
  const auto upright = jpeg(30, 20, 1);
  const auto turned = jpeg(30, 20, 1, 8);
  auto info = reports::readJpegInfo(upright.data(), upright.size());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->width, 30);
  EXPECT_EQ(info->height, 20);
  EXPECT_EQ(info->orientation, 1);
  EXPECT_EQ(reports::readJpegInfo(turned.data(), turned.size())->orientation, 8);
  for (size_t cut : {size_t{0}, size_t{3}, size_t{10}, size_t{30}})
    EXPECT_FALSE(reports::readJpegInfo(turned.data(), cut)) << cut;
  auto longSegment = upright;
  longSegment[4] = 0xFF;  // the first segment claims more bytes than there are
  EXPECT_FALSE(reports::readJpegInfo(longSegment.data(), 200));
}

}  // namespace

namespace {

TEST(ToothSpot, PicturesAreTheShapeInEachColourMirroredOnTheRightAndDrawnAtHalfSize) {
  graphics::Image shape(40, 20);  // opaque in its left quarter only
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 10; ++x) shape.setPixel(x, y, {9, 9, 9, 255});
  const auto image = std::make_shared<const graphics::Image>(shape);
  const graphics::Color red(1, 0, 0), green(0, 1, 0), blue(0, 0, 1);
  const babies::toothSpotInfo left({100, 50}, 0.5f, image, false, red, green, blue);
  const babies::toothSpotInfo right({100, 50}, 0.5f, image, true, red, green, blue);
  EXPECT_EQ(left.toothState, 0);
  EXPECT_EQ(left.drawRect(), Rect(90, 45, 20, 10));
  EXPECT_EQ(left.touchRect(), Rect(95, 47.5, 10, 5));
  EXPECT_EQ(left.noToothImg()->pixel(0, 0), (graphics::Image::Rgba{255, 0, 0, 255}));
  EXPECT_EQ(left.disappearToothImg()->pixel(39, 0).a, 0);
  EXPECT_EQ(right.appearToothImg()->pixel(39, 0), (graphics::Image::Rgba{0, 255, 0, 255}));
  EXPECT_EQ(right.appearToothImg()->pixel(0, 0).a, 0);

  const babies::toothSpotInfo missing({1, 2}, 1.0f, "no_such_tooth", false, red, green, blue);
  EXPECT_FALSE(missing.noToothImg());
  EXPECT_EQ(missing.drawRect(), Rect(1, 2, 0, 0));
}

}  // namespace

// The colourful title page blurs the baby's picture at the main screen's scale: a 2x screen gives
// a picture of twice the pixels, drawn in the same place.
TEST_F(PdfReportLayoutTest, TheTitlePagesBlurFollowsTheScreensScale) {
  for (double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    auto r = request({}, reports::kNoPhotos, false);
    r.icon = std::make_shared<const graphics::Image>(40, 30);
    r.screenScale = scale;
    graphics::RecordingCanvas canvas{graphics::Size(612, 792)};
    reports::drawPdfReport(canvas, r);
    const auto images = canvas.images();
    ASSERT_FALSE(images.empty());
    EXPECT_EQ(images.front().rect, Rect(-90, 0, 792, 792));
    EXPECT_EQ(images.front().image->pixelWidth(), static_cast<int>(40 * scale));
  }
}
