#include <gtest/gtest.h>

#include <memory>

#include "app/note_helper_fixture.h"
#include "platform/files/file_ops.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/render.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/touch.h"
#include "platform/ui/view_controller.h"
#include "reports/pdf_generator.h"
#include "reports/pdf_viewer_controller.h"
#include "support/temp_dir.h"

namespace {

struct CountingSender : reports::mailSendDelegate {
  int sent = 0;
  void sendReport() override { ++sent; }
};

class PdfViewerTest : public note_helper_test::NoteHelperTest {
 protected:
  PdfViewerTest() : loop_(clock_), main_(loop_) {}

  std::filesystem::path writeReport(bool forPrinting) {
    auto baby = app::Baby::insertIn(*context_);
    baby.setBaby_Name(std::string("Anna"));
    reports::PdfReportRequest r;
    r.baby = baby;
    r.forPrinting = forPrinting;
    r.outputPath = home_.path() / "report.pdf";
    r.reportDate = note_helper_test::at("UTC", 2026, 12, 6);
    r.language = note_helper_test::language("en");
    reports::PdfDayInfo day;
    day.dayStr = "December 6, 2026";
    day.daySinceBornStr = "1 month";
    day.noteInfos.push_back({"Sleep", "9:00 AM - 10:00 AM [1h]", "", {}, {}});
    r.days.push_back(day);
    EXPECT_TRUE(reports::generatePdfReport(r).ok());
    return r.outputPath;
  }

  foundation::ManualClock clock_;
  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop main_;
};

TEST_F(PdfViewerTest, PagesFadeInAfterLoadingAndSendCallsTheOpenerBack) {
  ui::Storyboard storyboard("Main");
  reports::registerPdfViewer(storyboard);
  auto viewer = std::dynamic_pointer_cast<reports::pdfViewerController>(
      storyboard.instantiateViewControllerWithIdentifier("pdfViewerController"));
  ASSERT_TRUE(viewer);
  viewer->setContentPath(writeReport(false).string());
  auto window = std::make_shared<ui::Window>();
  window->setRootViewController(viewer);
  window->makeKeyAndVisible();

  auto web = viewer->pdfWebView();
  ASSERT_TRUE(web);
  EXPECT_EQ(web->alpha(), 0);
  // "Send" works while the view is still invisible; without a delegate it does nothing.
  viewer->navigationItem().rightBarButtonItem()->tap();
  auto sender = std::make_shared<CountingSender>();
  viewer->setMailSend_delegate(sender);
  viewer->navigationItem().rightBarButtonItem()->tap();
  EXPECT_EQ(sender->sent, 1);

  loop_.runUntilIdle();
  EXPECT_TRUE(viewer->loadStatus().ok());
  EXPECT_EQ(web->pagesView().pageCount(), 3u);
  EXPECT_EQ(web->alpha(), 0);  // the backdrop is cleared a tenth of a second after the load
  loop_.advance(0.1);
  loop_.runUntilIdle();
  EXPECT_EQ(web->alpha(), 1);
  EXPECT_EQ(web->pagesView().backgroundColor(), ui::Color::clear());

  auto image = ui::renderToImage(*window, 1).value();
  // The title page is white at its top left; a page's violet shows further down the screen.
  const auto top = image.pixel(5, 5);
  EXPECT_EQ(top, (graphics::Image::Rgba{255, 255, 255, 255}));
  EXPECT_TRUE(ui::renderToPng(*window, testing_support::testOutput() / "report_viewer.png", 2).ok());
}

// The report's later pages (the teeth, the days) are reached by scrolling: the pages stack at the
// view's width and a finger's drag moves through them, to the end of the last page and no further.
TEST_F(PdfViewerTest, AFingerScrollsThroughEveryPage) {
  const auto report = writeReport(true);
  for (const ui::Rect screen : {ui::Rect(0, 0, 320, 504), ui::Rect(0, 0, 540, 556)}) {
    SCOPED_TRACE(std::to_string(screen.width()));
    auto viewer = std::make_shared<reports::pdfViewerController>();
    viewer->setContentPath(report.string());
    auto window = std::make_shared<ui::Window>(screen);
    window->setRootViewController(viewer);
    window->makeKeyAndVisible();
    loop_.runUntilIdle();
    loop_.advance(0.1);
    loop_.runUntilIdle();
    auto web = viewer->pdfWebView();
    ASSERT_EQ(web->pagesView().pageCount(), 3u);
    // Three US Letter pages at the screen's width, two gaps between them.
    const double stacked = 3 * 792 * screen.width() / 612 + 2 * reports::PdfPagesView::kPageGap;
    EXPECT_NEAR(web->pagesView().frame().height(), stacked, 1);
    ASSERT_TRUE(web->canScrollVertically());
    EXPECT_NEAR(web->maximumContentOffset().y, stacked - web->bounds().height(), 1);
    const auto before = ui::renderToImage(*window, 1).value();
    // A finger drags the pages up, then on past the end.
    ui::TouchInjector(*window).drag(ui::Point(100, 400), ui::Point(100, 100));
    loop_.runUntilIdle();
    EXPECT_NEAR(web->contentOffset().y, 300, 1);
    EXPECT_NE(ui::renderToImage(*window, 1).value().pixels(), before.pixels());
    for (int i = 0; i < 10; ++i) web->scrollBy(ui::Point(0, 400));
    EXPECT_NEAR(web->contentOffset().y, web->maximumContentOffset().y, 1);
  }
}

TEST_F(PdfViewerTest, AFileThatIsNoPdfLoadsNothing) {
  auto viewer = std::make_shared<reports::pdfViewerController>();
  const auto path = home_.path() / "not.pdf";
  ASSERT_TRUE(files::writeAtomic(path, std::string_view("hello")).ok());
  viewer->setContentPath(path.string());
  viewer->view();
  loop_.runUntilIdle();
  EXPECT_FALSE(viewer->loadStatus().ok());
  EXPECT_EQ(viewer->pdfWebView()->pagesView().pageCount(), 0u);
}

}  // namespace
