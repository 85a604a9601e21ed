#pragma once
// pdfViewerController: the screen that shows the finished report before it is mailed. The report
// screen makes it, gives it the file's path and itself as the mail delegate, and pushes it; its one
// action, "Send", hands the mailing back to the report screen.
//
// The report is shown by a PdfWebView: the file's pages, rendered by poppler, scaled to the view's
// width and stacked from the top, scrolled through with a finger as a web view is. The view stays
// invisible until its content has loaded and its grey backdrop has been cleared, then fades in. Main
// thread only.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/graphics/image.h"
#include "platform/ui/scroll_view.h"
#include "platform/ui/view.h"
#include "platform/ui/view_controller.h"

namespace ui {
class Storyboard;
}

namespace reports {

// The storyboard identifier the report screen makes the viewer by.
inline constexpr std::string_view kPdfViewerControllerId = "pdfViewerController";

// Mails the report the viewer shows; adopted by the report screen.
class mailSendDelegate {
 public:
  virtual ~mailSendDelegate() = default;
  virtual void sendReport() = 0;
};

// The pages of a loaded PDF, drawn one under another at the view's width with a gap between them.
class PdfPagesView : public ui::View {
 public:
  static constexpr double kPageGap = 8;

  // Opens the document; an error for a file that is missing or no PDF (the view then shows nothing).
  foundation::Status loadFile(const std::filesystem::path& path);
  size_t pageCount() const { return pageSizes_.size(); }
  // Each page's size in points.
  const std::vector<graphics::Size>& pageSizes() const { return pageSizes_; }
  // The height of every page scaled to `width` and stacked with the gaps between them.
  double stackedHeight(double width) const;
  void drawRect(graphics::Canvas& canvas, const ui::Rect& rect) override;

 private:
  struct Document;
  std::shared_ptr<Document> document_;
  std::vector<graphics::Size> pageSizes_;
  // Rendered pages, kept for the width they were rendered at.
  std::vector<std::shared_ptr<const graphics::Image>> rendered_;
  int renderedPixelWidth_ = 0;
};

// The web view of the screen: a grey backdrop holding the pages view as its first subview, which
// scrolls over the pages' whole stack.
class PdfWebView : public ui::ScrollView {
 public:
  PdfWebView();
  // Loads the file at the path; when done (on the next run-loop turn) calls `finished` with the result.
  void loadRequest(const std::filesystem::path& path,
                   std::function<void(const foundation::Status&)> finished);
  void setScalesPageToFit(bool scales) { scalesPageToFit_ = scales; }
  bool scalesPageToFit() const { return scalesPageToFit_; }
  PdfPagesView& pagesView() { return *pages_; }
  void layoutSubviews() override;

 private:
  std::shared_ptr<PdfPagesView> pages_;
  bool scalesPageToFit_ = false;
};

class pdfViewerController : public ui::ViewController {
 public:
  pdfViewerController();

  void viewDidLoad() override;

  void loadContentByPath(const std::filesystem::path& path);
  void webViewDidFinishLoad(PdfWebView& webView);
  // Clears the pages' backdrop and fades the web view in.
  void clearBackground();
  void sendMail();

  const std::shared_ptr<mailSendDelegate>& mailSend_delegate() const { return mailSend_delegate_; }
  void setMailSend_delegate(std::shared_ptr<mailSendDelegate> delegate) {
    mailSend_delegate_ = std::move(delegate);
  }
  const std::shared_ptr<PdfWebView>& pdfWebView() const { return pdfWebView_; }
  const std::string& contentPath() const { return contentPath_; }
  void setContentPath(std::string path) { contentPath_ = std::move(path); }
  // The last load's result (ok before any load).
  const foundation::Status& loadStatus() const { return loadStatus_; }

 private:
  std::shared_ptr<mailSendDelegate> mailSend_delegate_;
  std::shared_ptr<PdfWebView> pdfWebView_;
  std::string contentPath_;
  foundation::Status loadStatus_;
};

// Registers the viewer under kPdfViewerControllerId.
void registerPdfViewer(ui::Storyboard& storyboard);

}  // namespace reports
