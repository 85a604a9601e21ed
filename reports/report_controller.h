#pragma once
// The "Report" screen: the note filter in report mode fills the screen; "Start" builds the report
// of the current baby on the report job's thread while a ring shows how far it has come, a
// one-second poll on the main loop notices the end and opens the PDF viewer, and the viewer's
// send action mails the file through the mail base class.
//
//   Start -> overlay fades in -> ValueType rows made (main) -> job (own thread, own context)
//         -> progress posted to the ring -> finished: ready | failed (spinner ends, Start back)
//   poll (1 s) -> ready: overlay hidden, Start back, viewer pushed on the file
//   viewer's send -> composer with its own copy of the file -> finished: viewer popped, file removed
//
// A baby that is not in the store (or none at all) is said so on Start; nothing old is opened.
// A closed screen cancels its job and poll: no progress, no viewer reaches it. Main thread only.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/local_saves.h"
#include "app/note_edit_helper.h"
#include "navigation/mail_delegate.h"
#include "navigation/settings_controller.h"
#include "note_editor/note_view_delegate.h"
#include "notes_list/filter_view_controller.h"
#include "platform/runtime/run_loop.h"
#include "platform/store/context.h"
#include "platform/store/store.h"
#include "platform/ui/alert.h"
#include "platform/ui/storyboard.h"
#include "reports/pdf_viewer_controller.h"
#include "reports/report_job.h"

namespace reports {

inline constexpr const char* kMailReportId = "mail_report_id";

// The ring: one arc from 12 o'clock clockwise, its length the progress.
class circleProgressView : public ui::View {
 public:
  using ui::View::View;
  float progress() const { return progress_; }
  float frameWidth() const { return frameWidth_; }
  void setFrameWidth(float width) { frameWidth_ = width; }
  void updateProgress(float progress);
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;

 private:
  float progress_ = 0;
  float frameWidth_ = 0;
};

struct ReportServices {
  files::AppHome home{files::AppHome::fromEnvironment()};
  // The store the job reads on its own connection.
  std::function<std::shared_ptr<store::Store>()> store;
  // Library, clock and language of the note helpers (the context is the screen's or the job's).
  app::NoteEditHelper::Environment helper;
  std::optional<app::InterfaceText> language;
  // The report's date; the main run loop's clock when null.
  const foundation::Clock* clock = nullptr;

  static ReportServices fromApplication();
};

class mailSenderController : public navigation::mailDelegate,
                             public mailSendDelegate,
                             public ReportJobListener,
                             public ui::AlertViewDelegate,
                             public navigation::reportScreenInput {
 public:
  explicit mailSenderController(ReportServices services = ReportServices::fromApplication());
  ~mailSenderController() override;

  // --- Set by the opener
  void setManagedObjectContext(std::shared_ptr<store::Context> context) override {
    managedObjectContext_ = std::move(context);
  }
  void setCurrentBabyName(std::optional<std::string> name) override { currentBabyName_ = std::move(name); }
  void setNoteView_delegate(note_editor::noteViewDelegate* delegate) { noteView_delegate_ = delegate; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  // --- Actions
  // "Start": builds a report (nothing while one is built).
  void sendMail();
  void cancel();
  void sendReport() override;
  void mailComposeControllerDidFinish(ui::MailComposeViewController& composer, ui::MailComposeResult result,
                                      const std::optional<foundation::Error>& error) override;
  void alertViewClickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) override;

  // The poll: opens the viewer once the report is ready.
  void checkIfEnd();

  // --- The job's news, on the main thread
  void reportJobProgress(double progress) override;
  void reportJobFinished(const foundation::Status& result) override;

  // -1 idle, 0 building, 1 ready.
  int reportState() const { return reportState_; }
  const std::optional<foundation::Date>& currentBabyBirthDay() const { return currentBabyBirthDay_; }
  const std::filesystem::path& pdfPath() const { return pdfPath_; }
  ui::View* progressView() const { return progressView_.get(); }
  circleProgressView* ringView() const { return circleProgressView_.get(); }
  notes_list::filterViewController* filterViewCtrl() const { return filterViewCtrl_.get(); }
  ui::BarButtonItem* startButton() const { return navigationItem().rightBarButtonItem().get(); }
  bool isClosed() const { return closed_; }

 private:
  std::string localized(std::string_view key) const;
  app::NoteEditHelper mainHelper() const;
  void setUpOnFirstAppearance();
  void startJob();
  void schedulePoll();
  void backToIdle();
  void sayNoBaby();
  void say(const std::string& title);
  void close();

  ReportServices services_;
  int reportState_ = -1;
  bool closed_ = false;
  note_editor::noteViewDelegate* noteView_delegate_ = nullptr;
  std::shared_ptr<store::Context> managedObjectContext_;
  std::optional<std::string> currentBabyName_;
  std::optional<foundation::Date> currentBabyBirthDay_;
  std::shared_ptr<ui::View> progressView_;
  std::shared_ptr<circleProgressView> circleProgressView_;
  std::shared_ptr<notes_list::filterViewController> filterViewCtrl_;
  std::shared_ptr<notes_list::filterDelegate> filterDelegate_;
  std::filesystem::path pdfPath_;
  bool setUp_ = false;
  std::unique_ptr<ReportJob> job_;
  runtime::Timer poll_;
  std::shared_ptr<ui::AlertView> alert_;
};

// Adds the report screen, its PDF viewer and the cloud backup screen to the storyboard, and the
// screens of the developer screenshot walk under the names it asks for.
void registerReportScreens(ui::Storyboard& storyboard);

}  // namespace reports
