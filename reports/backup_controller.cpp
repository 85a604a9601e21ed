#include "reports/backup_controller.h"

#include <algorithm>

#include "analytics/tally.h"
#include "app/app_delegate.h"
#include "app/backup_restore.h"
#include "app/value_texts.h"
#include "cloud/cloud_link.h"
#include "navigation/interface_locale.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/log.h"
#include "platform/ui/animation.h"

namespace reports {

namespace fs = std::filesystem;
using foundation::Status;

namespace {

// Keys of the screen's texts.
namespace text_key {
inline constexpr std::string_view kTitle = "Cloud";
inline constexpr std::string_view kDoBackUp = "DoBackUp";
inline constexpr std::string_view kDoRestore = "DoRestore";
inline constexpr std::string_view kConnect = "Connect";
inline constexpr std::string_view kDisconnect = "Disconnect";
inline constexpr std::string_view kAskBackUp = "Backup data?";
inline constexpr std::string_view kAskRestore = "Restore data?";
inline constexpr std::string_view kWrongVersion = "Restore wrong vers";
inline constexpr std::string_view kBackedUp = "BackUped";
inline constexpr std::string_view kBackUpFailed = "BackUp fail";
inline constexpr std::string_view kRestored = "Restored";
inline constexpr std::string_view kRestoreFailed = "Restore fail";
inline constexpr std::string_view kBackUpDate = "BackUpDate";
inline constexpr std::string_view kNo = "No";
inline constexpr std::string_view kYes = "Yes";
inline constexpr std::string_view kCancel = "Cancel";
inline constexpr std::string_view kContinue = "Continue";
inline constexpr std::string_view kPreparing = "Preparing BackUp...";
inline constexpr std::string_view kUploading = "Uploading...";
inline constexpr std::string_view kLoading = "Loading...";
}  // namespace text_key

constexpr double kPanelAnimation = 0.2;
constexpr std::string_view kFailedUploadEvent = "cloud_up_failed";
constexpr std::string_view kBackUpErrorDomain = "BackUpErrorDomain";
enum BackUpErrorCode : std::int64_t { kNoCloudSession = 1, kStoredUnderAnotherName = 2 };

struct AlertShape {
  std::string_view title;
  std::optional<std::string_view> cancel;  // nothing: "OK", shown as it stands
  std::optional<std::string_view> other;
};

AlertShape shapeOf(backUpController::AlertRole role) {
  using Role = backUpController::AlertRole;
  switch (role) {
    case Role::kAskBackUp:
      return {text_key::kAskBackUp, text_key::kNo, text_key::kYes};
    case Role::kAskRestore:
      return {text_key::kAskRestore, text_key::kNo, text_key::kYes};
    case Role::kWrongVersion:
      return {text_key::kWrongVersion, text_key::kCancel, text_key::kContinue};
    case Role::kBackedUp:
      return {text_key::kBackedUp, {}, {}};
    case Role::kBackUpFailed:
      return {text_key::kBackUpFailed, {}, {}};
    case Role::kRestored:
      return {text_key::kRestored, {}, {}};
    case Role::kRestoreFailed:
      return {text_key::kRestoreFailed, {}, {}};
  }
  return {};
}

}  // namespace

// --- Services

BackupServices BackupServices::fromApplication() {
  BackupServices services;
  services.localized = [](std::string_view key) { return app::InterfaceText::current().localized(key); };
  services.dateLocale = [] { return navigation::interfaceLocale(); };
  services.session = [] { return cloud::CloudSession::sharedSession(); };
  services.userDefaults = runtime::UserDefaults::standard();
  services.logEvent = [](std::string event, foundation::Dictionary parameters) {
    analytics::Tally::logEventWithParameters(foundation::Value(std::move(event)),
                                             foundation::Value(std::move(parameters)));
  };
  auto* delegate = app::AppDelegate::shared();
  if (!delegate) return services;
  services.home = delegate->home();
  services.checkpointStore = []() -> Status {
    auto* d = app::AppDelegate::shared();
    auto store = d ? d->persistentStoreCoordinator() : nullptr;
    return store ? store->checkpoint() : Status{};
  };
  services.preReloadDataBase = []() -> Status {
    auto* d = app::AppDelegate::shared();
    return d ? d->preReloadDataBase() : Status{};
  };
  services.updateDataBase = [] {
    if (auto* d = app::AppDelegate::shared()) d->updateDataBase();
  };
  return services;
}

// --- Progress bar

void BackUpProgressBar::setProgress(double progress) {
  progress_ = std::clamp(progress, 0.0, 1.0);
  setNeedsDisplay();
}

void BackUpProgressBar::drawRect(graphics::Canvas& canvas, const graphics::Rect& /*rect*/) {
  const graphics::Rect b = bounds();
  canvas.setFillColor(graphics::Color::rgb255(225, 222, 240));
  canvas.fillRect(b);
  canvas.setFillColor(graphics::Color::rgb255(140, 127, 243));
  canvas.fillRect({b.origin, {b.size.width * progress_, b.size.height}});
}

// --- The screen

backUpController::backUpController(BackupServices services) : services_(std::move(services)) {}

backUpController::~backUpController() { close(); }

std::string backUpController::localized(std::string_view key) const {
  return services_.localized ? services_.localized(key) : std::string(key);
}

std::string backUpController::remoteArchivePath() const { return "/" + std::string(kRemoteBackUpName); }

void backUpController::viewDidLoad() {
  locSaves_ = std::make_unique<app::localSaves>(services_.home);
  buildViews();
  for (ui::View* hidden :
       {updateInfoView_.get(), backUpProgressView_.get(), static_cast<ui::View*>(progressView_.get()),
        static_cast<ui::View*>(packingIndicator_.get())})
    hidden->setAlpha(0);

  const float width = static_cast<float>(view()->bounds().size.width);
  backLineDrawerView_->linesArr = {{0, 60}, {width, 60}, {55, 104}, {width, 104}, {55, 148}, {width, 148}};

  std::weak_ptr<ui::ViewController> weak = weak_from_this();
  navigationItem().setLeftBarButtonItem(app::FlatBarButtonItems::backBarButtonItemWithTargetSelector([weak] {
    if (auto self = std::dynamic_pointer_cast<backUpController>(weak.lock())) self->back();
  }));
  setTitle(localized(text_key::kTitle));
  backUpLabel_->setText(localized(text_key::kDoBackUp));
  restorelable_->setText(localized(text_key::kDoRestore));

  linkedObservation_ = runtime::NotificationCenter::defaultCenter().addObserver(
      std::string(app::kCloudLinkedEventNotification), nullptr,
      [this](const runtime::Notification&) { cloudLinkedEvent(); });
  (void)locSaves_->removeBackUpFiles();
}

void backUpController::buildViews() {
  ui::View& root = *view();
  const double width = root.bounds().size.width;
  root.setBackgroundColor(graphics::Color::white());

  backLineDrawerView_ = std::make_shared<app::lineDrawerView>(root.bounds());
  backLineDrawerView_->setUserInteractionEnabled(false);
  backLineDrawerView_->setOpaque(false);
  root.addSubview(backLineDrawerView_);

  std::weak_ptr<ui::ViewController> weak = weak_from_this();
  const auto action = [weak](void (backUpController::*step)()) {
    return [weak, step](ui::Control&) {
      if (auto self = std::dynamic_pointer_cast<backUpController>(weak.lock())) ((*self).*step)();
    };
  };
  const auto row = [&](double y, std::shared_ptr<ui::Label>& label, std::shared_ptr<ui::Button>& button,
                       void (backUpController::*step)()) {
    button = std::make_shared<ui::Button>(graphics::Rect{0, y, width, 44});
    button->addTarget(action(step), ui::kControlEventTouchUpInside);
    label = std::make_shared<ui::Label>(graphics::Rect{55, 0, width - 70, 44});
    label->setUserInteractionEnabled(false);
    button->addSubview(label);
    root.addSubview(button);
  };
  row(16, connectDisconnectLable_, connectButton_, &backUpController::connectStateChange);
  connectDisconnectImageView_ = std::make_shared<ui::ImageView>(ui::imageNamed("cloud_icon"));
  connectDisconnectImageView_->setFrame({10, 7, 30, 30});
  connectButton_->addSubview(connectDisconnectImageView_);
  row(60, backUpLabel_, backUpButton_, &backUpController::backUp);
  row(104, restorelable_, restoreButton_, &backUpController::restore);

  // Covers the two actions while no account is linked.
  frontView_ = std::make_shared<ui::View>(graphics::Rect{0, 60.5, width, 88});
  frontView_->setBackgroundColor(graphics::Color::rgb255(255, 255, 255, 0.85));
  root.addSubview(frontView_);

  const graphics::Rect panel{0, 160, width, 90};
  updateInfoView_ = std::make_shared<ui::View>(panel);
  // The panels' spinners turn for the screen's life; the panels and the alpha show and hide them.
  auto spinner = std::make_shared<ui::ActivityIndicatorView>(ui::ActivityIndicatorViewStyle::kGray);
  spinner->setFrame(graphics::Rect{width / 2 - 10, 35, 20, 20});
  updateInfoView_->addSubview(spinner);
  spinner->startAnimating();
  root.addSubview(updateInfoView_);

  backUpProgressView_ = std::make_shared<ui::View>(panel);
  progressLable_ = std::make_shared<ui::Label>(graphics::Rect{20, 10, width - 40, 30});
  progressLable_->setTextAlignment(ui::TextAlignment::kCenter);
  backUpProgressView_->addSubview(progressLable_);
  progressView_ = std::make_shared<BackUpProgressBar>(graphics::Rect{20, 50, width - 40, 4});
  backUpProgressView_->addSubview(progressView_);
  packingIndicator_ = std::make_shared<ui::ActivityIndicatorView>(ui::ActivityIndicatorViewStyle::kGray);
  packingIndicator_->setFrame(graphics::Rect{width / 2 - 10, 45, 20, 20});
  backUpProgressView_->addSubview(packingIndicator_);
  packingIndicator_->startAnimating();
  root.addSubview(backUpProgressView_);
}

void backUpController::viewWillAppear(bool /*animated*/) { updateBackUpState(); }

void backUpController::viewDidDisappear(bool /*animated*/) {
  // Gone from its navigation stack (a presented login screen leaves it there).
  if (parentViewController() == nullptr && presentingViewController() == nullptr) close();
}

// --- Link state

void backUpController::updateBackUpState() {
  if (!isViewLoaded()) return;
  auto session = services_.session ? services_.session() : nullptr;
  const bool linked = session && session->isLinked();
  frontView_->setAlpha(linked ? 0 : 1);
  frontView_->setUserInteractionEnabled(!linked);
  connectDisconnectLable_->setText(localized(linked ? text_key::kDisconnect : text_key::kConnect));
}

void backUpController::cloudLinkedEvent() { updateBackUpState(); }

void backUpController::connectStateChange() {
  if (busy_ || closed_) return;
  auto session = services_.session ? services_.session() : nullptr;
  if (!session) return;
  if (session->isLinked()) {
    session->unlinkAll();
    // The client speaks for the user that was linked; the next account gets a client of its own.
    if (restClient_) {
      restClient_->setDelegate(nullptr);
      restClient_.reset();
    }
    updateBackUpState();
    return;
  }
  ui::ViewController* presenting = navigationController();
  cloud::linkFromController(session, presenting ? *presenting : *this);
}

cloud::CloudRestClient* backUpController::restClient() {
  auto session = services_.session ? services_.session() : nullptr;
  if (!session) return nullptr;
  const auto users = session->userIds();
  const std::optional<std::string> user = users.empty() ? std::nullopt : std::optional(users.front());
  if (restClient_ && restClient_->userId() != user) {
    restClient_->setDelegate(nullptr);
    restClient_.reset();
  }
  if (!restClient_) {
    restClient_ = cloud::CloudRestClient::make(session, user);
    if (restClient_) restClient_->setDelegate(this);
  }
  return restClient_.get();
}

void backUpController::back() {
  if (auto* navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

// --- Shared steps

void backUpController::setBusy(bool busy) {
  busy_ = busy;
  for (ui::Button* button : {backUpButton_.get(), restoreButton_.get(), connectButton_.get()})
    if (button) button->setEnabled(!busy);
}

void backUpController::showAlert(AlertRole role, std::string message) {
  if (closed_) return;
  const AlertShape shape = shapeOf(role);
  std::vector<std::string> others;
  if (shape.other) others.push_back(localized(*shape.other));
  alert_ =
      ui::AlertView::create(localized(shape.title), std::move(message), this,
                            shape.cancel ? localized(*shape.cancel) : std::string("OK"), std::move(others));
  alert_->setTag(static_cast<int>(role));
  alert_->show();
}

std::function<void(bool)> backUpController::whileOpen(std::function<void()> step) {
  std::weak_ptr<ui::ViewController> weak = weak_from_this();
  return [weak, step = std::move(step)](bool) {
    auto self = std::dynamic_pointer_cast<backUpController>(weak.lock());
    if (self && !self->closed_) step();
  };
}

void backUpController::hideProgressPanel() {
  ui::animate(kPanelAnimation, [this] { backUpProgressView_->setAlpha(0); });
}

void backUpController::alertViewClickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) {
  if (&alert != alert_.get()) return;
  const auto role = static_cast<AlertRole>(alert.tag());
  alert_.reset();
  const bool confirmed = buttonIndex == 1;
  switch (role) {
    case AlertRole::kAskBackUp:
      if (confirmed) return startBackUp();
      return setBusy(false);
    case AlertRole::kAskRestore:
      if (confirmed) {
        progressView_->setProgress(0);
        progressView_->setAlpha(1);
        packingIndicator_->setAlpha(0);
        progressLable_->setText(localized(text_key::kLoading));
        ui::animate(
            kPanelAnimation, [this] { backUpProgressView_->setAlpha(1); },
            whileOpen([this] { startDownload(); }));
        return;
      }
      ui::animate(kPanelAnimation, [this] { updateInfoView_->setAlpha(0); });
      return setBusy(false);
    case AlertRole::kWrongVersion:
      if (confirmed) {
        (void)doRestoreFromZip();
        return;
      }
      staged_.reset();
      (void)locSaves_->removeBackUpFiles();
      hideProgressPanel();
      return setBusy(false);
    case AlertRole::kBackedUp:
    case AlertRole::kBackUpFailed:
      hideProgressPanel();
      return setBusy(false);
    case AlertRole::kRestored:
      // The restore is over: where the screen stays open (the tablet's sheet) it is ready for the
      // next backup, with its panel gone, before the application takes the restored store up.
      hideProgressPanel();
      setBusy(false);
      if (services_.updateDataBase) services_.updateDataBase();
      return;
    case AlertRole::kRestoreFailed:
      updateInfoView_->setAlpha(0);
      hideProgressPanel();
      return setBusy(false);
  }
}

// --- Backup

void backUpController::backUp() {
  if (busy_ || closed_) return;
  auto session = services_.session ? services_.session() : nullptr;
  if (!session || !session->isLinked()) return;
  setBusy(true);
  showAlert(AlertRole::kAskBackUp);
}

void backUpController::startBackUp() {
  progressView_->setProgress(0);
  progressView_->setAlpha(0);
  packingIndicator_->setAlpha(1);
  progressLable_->setText(localized(text_key::kPreparing));
  ui::animate(
      kPanelAnimation, [this] { backUpProgressView_->setAlpha(1); }, whileOpen([this] { packAndUpload(); }));
}

void backUpController::packAndUpload() {
  // The live store's log goes into its file first, so the archive's copy stands alone.
  Status packed = services_.checkpointStore ? services_.checkpointStore() : Status{};
  if (packed) packed = locSaves_->createZip();
  if (!packed) return backUpFailed(packed.error());
  ui::animate(
      kPanelAnimation,
      [this] {
        progressLable_->setText(localized(text_key::kUploading));
        progressView_->setAlpha(1);
        packingIndicator_->setAlpha(0);
      },
      whileOpen([this] {
        if (auto* client = restClient()) return client->loadRevisionsForFile(remoteArchivePath());
        backUpFailed(foundation::Error::make(std::string(kBackUpErrorDomain), kNoCloudSession,
                                             "No cloud session to upload with"));
      }));
}

void backUpController::restClientLoadedRevisionsForFile(Client&, const cloud::CloudMetadataList& revisions,
                                                        const std::string&) {
  // No revision yet (or none left): a first upload, without a parent.
  std::optional<std::string> parent;
  if (!revisions.empty() && revisions.front()) parent = revisions.front()->rev();
  uploadArchive(parent);
}

void backUpController::restClientLoadRevisionsFailedWithError(Client&, const Error&) {
  uploadArchive(std::nullopt);
}

void backUpController::uploadArchive(const std::optional<std::string>& parentRev) {
  auto* client = restClient();
  if (!client) return;
  client->uploadFileToPathWithParentRevFromPath(std::string(kRemoteBackUpName),
                                                std::string(kRemoteBackUpFolder), parentRev,
                                                locSaves_->backUpArchivePath().string());
}

void backUpController::restClientUploadProgressForFileFrom(Client&, double progress, const std::string&,
                                                           const std::string&) {
  progressView_->setProgress(progress);
}

void backUpController::restClientUploadedFileFromMetadata(Client&, const std::string&, const std::string&,
                                                          const cloud::CloudMetadataPtr& metadata) {
  // The service keeps a newer archive and stores ours beside it under another name when our parent
  // was not its latest: that copy is no backup a restore would find.
  const std::optional<std::string> stored = metadata ? metadata->path() : std::nullopt;
  if (!stored || !cloud::CloudRestClient::isEqualToCloudPath(*stored, remoteArchivePath())) {
    const std::string where = stored.value_or("nowhere");
    return backUpFailed(foundation::Error::make(std::string(kBackUpErrorDomain), kStoredUnderAnotherName,
                                                "The archive was stored as " + where));
  }
  (void)locSaves_->removeBackUpFiles();
  showAlert(AlertRole::kBackedUp);
}

void backUpController::restClientUploadFileFailedWithError(Client&, const Error& error) {
  backUpFailed(error);
}

void backUpController::backUpFailed(const Error& error) {
  foundation::log("The backup failed: " + error.description());
  const auto languages = services_.userDefaults
                             ? services_.userDefaults->arrayForKey(runtime::UserDefaults::kAppleLanguagesKey)
                             : std::nullopt;
  if (languages && !languages->empty() && services_.logEvent) {
    // The parameters end at the first missing one.
    foundation::Dictionary parameters;
    const std::string country = foundation::Locale::current().countryCode();
    if (!country.empty()) {
      parameters.set("country", foundation::Value(country));
      parameters.set("code", foundation::Value(static_cast<std::int64_t>(error.code)));
      if (!error.domain.empty()) parameters.set("domain", foundation::Value(error.domain));
    }
    services_.logEvent(std::string(kFailedUploadEvent), std::move(parameters));
  }
  (void)locSaves_->removeBackUpFiles();
  showAlert(AlertRole::kBackUpFailed);
}

// --- Restore

void backUpController::restore() {
  if (busy_ || closed_) return;
  auto session = services_.session ? services_.session() : nullptr;
  if (!session || !session->isLinked()) return;
  setBusy(true);
  ui::animate(
      kPanelAnimation, [this] { updateInfoView_->setAlpha(1); }, whileOpen([this] {
        if (auto* client = restClient()) return client->loadMetadata(std::string(kRemoteBackUpFolder));
        showAlert(AlertRole::kRestoreFailed);
      }));
}

void backUpController::restClientLoadedMetadata(Client&, const cloud::CloudMetadataPtr& metadata) {
  if (!metadata || !metadata->isDirectory()) return showAlert(AlertRole::kRestoreFailed);
  foundation::log("Folder '" + metadata->path().value_or("") + "' contains:");
  cloud::CloudMetadataPtr archive;
  for (const auto& child : metadata->contents().value_or(std::vector<cloud::CloudMetadataPtr>{})) {
    if (!child) continue;
    foundation::log("Folder '" + child->filename() + "' contains:");
    if (child->filename() == kRemoteBackUpName) {
      archive = child;
      break;
    }
  }
  if (!archive) return showAlert(AlertRole::kRestoreFailed);
  // Written as the screen speaks: a Japanese screen dates its backup "2026年12月7日 13:15".
  const auto formatter = foundation::DateFormatter::withStyles(
      foundation::DateFormatterStyle::Long, foundation::DateFormatterStyle::Short,
      services_.dateLocale ? services_.dateLocale() : foundation::Locale::current());
  const std::string when = archive->clientMtime() ? formatter.stringFromDate(*archive->clientMtime()) : "";
  showAlert(AlertRole::kAskRestore, localized(text_key::kBackUpDate) + ": " + when);
}

void backUpController::restClientLoadMetadataFailedWithError(Client&, const Error& error) {
  foundation::log("The cloud folder could not be listed: " + error.description());
  showAlert(AlertRole::kRestoreFailed);
}

void backUpController::startDownload() {
  updateInfoView_->setAlpha(0);
  auto* client = restClient();
  const fs::path archive = locSaves_->backUpArchivePath();
  if (!client || !files::createDirectory(archive.parent_path())) return endRestoreWithFailure();
  client->loadFileIntoPath(remoteArchivePath(), archive.string());
}

void backUpController::restClientLoadProgressForFile(Client&, double progress, const std::string&) {
  foundation::log("File upload progress: " + std::to_string(progress));
  progressView_->setProgress(progress);
}

void backUpController::restClientLoadedFileContentTypeMetadata(Client&, const std::string& destPath,
                                                               const std::string&,
                                                               const cloud::CloudMetadataPtr&) {
  foundation::log("File loaded into path: " + destPath);
  // The whole archive is extracted and checked aside before anything is asked or changed: one
  // that is cut short, damaged or not ours is refused here, with no way to go on over it.
  app::localSaves::StoreCheck check = services_.checkStore;
  if (!check) {
    const fs::path scratch = locSaves_->backUpDir() / "storeCheck";
    check = [scratch](const fs::path& storeFile) { return app::openStoreCopy(storeFile, scratch); };
  }
  auto staged = locSaves_->stageBackUp(check);
  if (!staged) return endRestoreWithFailure();
  staged_ = std::move(*staged);
  if (locSaves_->checkArchiveVers()) {
    (void)doRestoreFromZip();
    return;
  }
  showAlert(AlertRole::kWrongVersion);
}

void backUpController::restClientLoadFileFailedWithError(Client&, const Error& error) {
  foundation::log("There was an error loading the file - " + error.description());
  endRestoreWithFailure();
}

void backUpController::endRestoreWithFailure() {
  staged_.reset();
  (void)locSaves_->removeBackUpFiles();
  showAlert(AlertRole::kRestoreFailed);
}

bool backUpController::doRestoreFromZip() {
  if (!staged_) {
    endRestoreWithFailure();
    return false;
  }
  const app::localSaves::StagedBackUp staged = std::move(*staged_);
  staged_.reset();
  Status done = services_.preReloadDataBase ? services_.preReloadDataBase() : Status{};
  if (done) done = locSaves_->installStagedBackUp(staged);
  (void)locSaves_->removeBackUpFiles();
  if (!done) {
    foundation::log("The backup was not restored: " + done.error().description());
    // The store was dropped; the application takes the old one up again.
    if (services_.updateDataBase) services_.updateDataBase();
    showAlert(AlertRole::kRestoreFailed);
    return false;
  }
  showAlert(AlertRole::kRestored);
  return true;
}

// --- Closing

void backUpController::close() {
  if (closed_) return;
  closed_ = true;
  if (restClient_) {
    restClient_->setDelegate(nullptr);
    restClient_->cancelAllRequests();
    restClient_.reset();
  }
  runtime::NotificationCenter::defaultCenter().removeObserver(linkedObservation_);
  if (alert_) {
    const auto role = static_cast<AlertRole>(alert_->tag());
    alert_->setDelegate(nullptr);
    if (alert_->isVisible()) alert_->dismissWithClickedButtonIndex(alert_->cancelButtonIndex(), false);
    alert_.reset();
    // The data were replaced already: the application must not keep the dropped store.
    if (role == AlertRole::kRestored && services_.updateDataBase) services_.updateDataBase();
  }
  if (locSaves_) (void)locSaves_->removeBackUpFiles();
  staged_.reset();
}

}  // namespace reports
