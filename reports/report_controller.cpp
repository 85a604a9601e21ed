#include "reports/report_controller.h"

#include "reports/screenshot_helper.h"

#include <cmath>
#include <numbers>

#include "app/app_delegate.h"
#include "app/entities.h"
#include "app/flat_widgets.h"
#include "notes_list/note_predicates.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/animation.h"
#include "platform/ui/device.h"
#include "platform/ui/image_library.h"
#include "reports/backup_controller.h"
#include "reports/screenshot_helper.h"

namespace reports {

namespace {

namespace text_key {
inline constexpr std::string_view kReport = "Report";
inline constexpr std::string_view kStart = "Start";
inline constexpr std::string_view kNoBaby = "No baby for the report";
inline constexpr std::string_view kReportNotWritten = "The report could not be written";
}  // namespace text_key

constexpr double kPollSeconds = 1.0;
constexpr double kFadeSeconds = 0.2;

// The filter keeps its delegate strongly; this one stands for the screen without keeping it.
class FilterDelegateForScreen : public notes_list::filterDelegate {
 public:
  explicit FilterDelegateForScreen(std::weak_ptr<ui::ViewController> screen) : screen_(std::move(screen)) {}
  void setHiddenNavigationController(bool hidden) override {
    auto screen = screen_.lock();
    if (auto* navigation = screen ? screen->navigationController() : nullptr)
      navigation->setNavigationBarHidden(hidden, true);
  }

 private:
  std::weak_ptr<ui::ViewController> screen_;
};

}  // namespace

// --- Services

ReportServices ReportServices::fromApplication() {
  ReportServices services;
  services.helper.language = [] { return app::InterfaceText::current(); };
  auto* delegate = app::AppDelegate::shared();
  if (!delegate) return services;
  services.home = delegate->home();
  services.helper.library = delegate->home().library();
  services.store = [] {
    auto* d = app::AppDelegate::shared();
    return d ? d->persistentStoreCoordinator() : nullptr;
  };
  return services;
}

// --- Ring

void circleProgressView::updateProgress(float progress) {
  frameWidth_ = 0;
  progress_ = progress;
  setNeedsDisplay();
}

void circleProgressView::drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) {
  if (progress_ <= 0) return;
  const double margin = frameWidth_ + 5;
  const double radius = std::min(rect.size.width, rect.size.height) / 2 - margin;
  const double start = -std::numbers::pi / 2;
  graphics::Path arc;
  arc.addArc(rect.center(), radius, start, start + progress_ * 2 * std::numbers::pi, true);
  canvas.setStrokeColor(graphics::Color::rgb255(242, 239, 252));
  canvas.setLineWidth(3);
  canvas.strokePath(arc);
}

// --- The screen

mailSenderController::mailSenderController(ReportServices services)
    : services_(std::move(services)), job_(std::make_unique<ReportJob>()) {}

mailSenderController::~mailSenderController() { close(); }

std::string mailSenderController::localized(std::string_view key) const {
  return (services_.language ? *services_.language : app::InterfaceText::current()).localized(key);
}

app::NoteEditHelper mailSenderController::mainHelper() const {
  app::NoteEditHelper::Environment environment = services_.helper;
  auto context = managedObjectContext_;
  environment.context = [context] { return context; };
  return app::NoteEditHelper(environment);
}

void mailSenderController::viewDidLoad() {
  pdfPath_ = services_.home.tmp() / "report.pdf";
  (void)files::remove(pdfPath_);
  reportState_ = -1;

  const graphics::Rect bounds = view()->bounds();
  progressView_ = std::make_shared<ui::View>(bounds);
  progressView_->setBackgroundColor(graphics::Color::rgb255(140, 127, 243, 0.8));
  circleProgressView_ = std::make_shared<circleProgressView>(
      graphics::Rect{bounds.size.width / 2 - 50, bounds.size.height / 2 - 50, 100, 100});
  circleProgressView_->setOpaque(false);
  progressView_->addSubview(circleProgressView_);
  progressView_->setAlpha(0);
  view()->addSubview(progressView_);
}

void mailSenderController::viewWillAppear(bool /*animated*/) {
  if (!setUp_) setUpOnFirstAppearance();
}

void mailSenderController::setUpOnFirstAppearance() {
  setUp_ = true;
  setTitle(localized(text_key::kReport));
  std::weak_ptr<ui::ViewController> weak = weak_from_this();
  navigationItem().setRightBarButtonItem(
      app::FlatBarButtonItems::barButtonItemWithTextWithTargetSelector(std::string(text_key::kStart), [weak] {
        if (auto self = std::dynamic_pointer_cast<mailSenderController>(weak.lock())) self->sendMail();
      }));

  if (currentBabyName_ && !currentBabyName_->empty() && managedObjectContext_) {
    store::FetchRequest request("Baby");
    request.predicate =
        notes_list::fixedPredicate("baby_Name  == %@", {foundation::Value(*currentBabyName_)});
    if (auto babies = managedObjectContext_->fetch(request); babies && !babies->empty())
      currentBabyBirthDay_ = app::Baby(babies->front()).baby_BirthDay();
  }

  if (auto* board = storyboard()) {
    filterViewCtrl_ = std::dynamic_pointer_cast<notes_list::filterViewController>(
        board->instantiateViewControllerWithIdentifier(std::string(notes_list::kFilterViewControllerId)));
  }
  if (filterViewCtrl_) {
    filterDelegate_ = std::make_shared<FilterDelegateForScreen>(weak);
    filterViewCtrl_->setFilter_delegate(filterDelegate_);
    filterViewCtrl_->setAllStuffWithMail(true);
    // The navigation controller lays this screen out below its bar already, so the filter takes
    // the whole view on both idioms.
    const graphics::Rect frame = view()->bounds();
    filterViewCtrl_->view()->setFrame(frame);
    addChildViewController(filterViewCtrl_);
    view()->addSubview(filterViewCtrl_->view());
    filterViewCtrl_->setFilterWithTypesAndSubTypesUseSubTypesAndBeginDateAndEndDate(
        std::nullopt, std::nullopt, false, std::nullopt, std::nullopt);
  }
  progressView_->setAlpha(0);
  view()->bringSubviewToFront(progressView_.get());
}

void mailSenderController::viewDidDisappear(bool /*animated*/) {
  if (parentViewController() == nullptr && presentingViewController() == nullptr) close();
}

// --- Building

void mailSenderController::sendMail() {
  if (reportState_ != -1 || closed_ || job_->isRunning()) return;
  // Nothing can be built for a baby the store does not hold; say so rather than show an old file.
  bool babyKnown = false;
  if (currentBabyName_ && !currentBabyName_->empty() && managedObjectContext_) {
    store::FetchRequest request("Baby");
    request.predicate =
        notes_list::fixedPredicate("baby_Name  == %@", {foundation::Value(*currentBabyName_)});
    auto count = managedObjectContext_->count(request);
    babyKnown = count && *count > 0;
  }
  if (!babyKnown) return sayNoBaby();
  if (!filterViewCtrl_ || !services_.store) {
    foundation::log("The report cannot be built: no filter or no data store");
    return;
  }

  circleProgressView_->updateProgress(0);
  if (auto* start = startButton()) start->setEnabled(false);
  reportState_ = 0;
  std::weak_ptr<ui::ViewController> weak = weak_from_this();
  ui::animate(
      kFadeSeconds, [this] { progressView_->setAlpha(1); },
      [weak](bool) {
        auto self = std::dynamic_pointer_cast<mailSenderController>(weak.lock());
        if (self && !self->closed_) self->startJob();
      });
}

void mailSenderController::startJob() {
  // The rows the job reads are made here, on the context that may write them.
  const app::NoteEditHelper neh = mainHelper();
  prepareValueTypes(neh);

  ReportJobInput input;
  input.store = services_.store();
  input.babyName = *currentBabyName_;
  input.birthday = currentBabyBirthDay_;
  const notes_list::FilterResult chosen = filterViewCtrl_->result();
  input.options.types = chosen.types;
  input.options.subTypes = chosen.subTypes;
  input.options.detailed = chosen.detailed;
  input.options.beginDate = chosen.beginDate;
  input.options.endDate = chosen.endDate;
  input.options.photosType = static_cast<std::uint32_t>(chosen.photos);
  input.options.useTime = chosen.useTime;
  input.options.descending = chosen.descending;
  input.options.forPrinting = chosen.forPrinting;
  input.pdfPath = pdfPath_;
  input.home = services_.home;
  input.helper = services_.helper;
  input.language = services_.language;
  input.reportDate = (services_.clock ? *services_.clock : runtime::RunLoop::main().clock()).now();
  input.girlIcon = ui::imageNamed("babyGirl");
  input.boyIcon = ui::imageNamed("babyBoy");
  input.screenScale = ui::device().scale;

  auto self = std::dynamic_pointer_cast<mailSenderController>(shared_from_this());
  if (!job_->start(std::move(input), std::weak_ptr<ReportJobListener>(self))) return backToIdle();
  schedulePoll();
}

void mailSenderController::schedulePoll() {
  std::weak_ptr<ui::ViewController> weak = weak_from_this();
  poll_ = runtime::RunLoop::main().performAfter(kPollSeconds, [weak] {
    if (auto self = std::dynamic_pointer_cast<mailSenderController>(weak.lock())) self->checkIfEnd();
  });
}

void mailSenderController::reportJobProgress(double progress) {
  if (!closed_) circleProgressView_->updateProgress(static_cast<float>(progress));
}

void mailSenderController::reportJobFinished(const foundation::Status& result) {
  if (closed_) return;
  if (result) {
    reportState_ = 1;
    return;
  }
  // A failed job ends its spinner at once; no file from before is opened.
  backToIdle();
  if (result.error().domain != kReportErrorDomain) return;
  if (result.error().code == static_cast<std::int64_t>(ReportError::kNoBaby)) sayNoBaby();
  // A file that could not be made (a full disk, a folder in the way) is said, not passed over.
  if (result.error().code == static_cast<std::int64_t>(ReportError::kPdfFailed))
    say(localized(text_key::kReportNotWritten));
}

void mailSenderController::checkIfEnd() {
  if (closed_) return;
  if (reportState_ == 0) return schedulePoll();
  if (reportState_ != 1) return;
  backToIdle();
  auto* board = storyboard();
  auto viewer = std::dynamic_pointer_cast<pdfViewerController>(
      board ? board->instantiateViewControllerWithIdentifier(std::string(kPdfViewerControllerId)) : nullptr);
  auto* navigation = navigationController();
  if (!viewer || !navigation) return;
  viewer->setMailSend_delegate(std::dynamic_pointer_cast<mailSenderController>(shared_from_this()));
  viewer->setContentPath(pdfPath_.string());
  navigation->pushViewController(viewer, true);
}

void mailSenderController::backToIdle() {
  reportState_ = -1;
  poll_.invalidate();
  progressView_->setAlpha(0);
  if (auto* start = startButton()) start->setEnabled(true);
}

void mailSenderController::sayNoBaby() { say(localized(text_key::kNoBaby)); }

void mailSenderController::say(const std::string& title) {
  alert_ = ui::AlertView::create(title, "", this, std::string("OK"));
  alert_->show();
}

void mailSenderController::alertViewClickedButtonAtIndex(ui::AlertView& alert, int /*buttonIndex*/) {
  if (&alert == alert_.get()) alert_.reset();
}

// --- Mailing

void mailSenderController::sendReport() {
  const std::string subject = localized(text_key::kReport) + ": " + currentBabyName_.value_or("");
  launchMailAppOnDevice(std::string(), subject, std::nullopt, pdfPath_.string());
}

void mailSenderController::mailComposeControllerDidFinish(ui::MailComposeViewController& composer,
                                                          ui::MailComposeResult result,
                                                          const std::optional<foundation::Error>& error) {
  // The viewer goes; this screen stays.
  auto* stack = navigationController();
  if (stack && stack->topViewController() != this) stack->popViewControllerAnimated(false);
  // The composer holds its own copy of the file.
  (void)files::remove(pdfPath_);
  navigation::mailDelegate::mailComposeControllerDidFinish(composer, result, error);
  dismissViewControllerAnimated(true);
}

void mailSenderController::cancel() {
  if (noteView_delegate_) noteView_delegate_->noteViewChildDone(*this, false);
}

void mailSenderController::close() {
  if (closed_) return;
  closed_ = true;
  poll_.invalidate();
  if (job_) job_->cancel();
  if (alert_) {
    alert_->setDelegate(nullptr);
    if (alert_->isVisible()) alert_->dismissWithClickedButtonIndex(alert_->cancelButtonIndex(), false);
    alert_.reset();
  }
}

// --- Storyboard

void registerReportScreens(ui::Storyboard& storyboard) {
  storyboard.registerController(kMailReportId, [] { return std::make_shared<mailSenderController>(); });
  registerPdfViewer(storyboard);
  storyboard.registerController(kBackUpControllerId, [] { return std::make_shared<backUpController>(); });
  registerScreenshotScreens(storyboard);
}

}  // namespace reports
