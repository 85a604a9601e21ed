#pragma once
// The "Cloud" screen: links a cloud-storage account, backs every file of the diary up as the one
// archive "/backUp.zip" of the account's application folder, and restores the data from it.
//
//   backup:  "Backup data?" Yes -> pack (main thread) -> revisions of /backUp.zip -> upload with
//            the newest rev as parent (none when the list is empty or the lookup failed)
//            -> the reply's path must be /backUp.zip -> "BackUped" | "BackUp fail"
//   restore: list "/" -> "Restore data?" (archive date) Yes -> download into the file store's
//            archive place -> extract and check it aside -> newer format: "Restore wrong vers"
//            (Cancel | Continue) -> close the store, put the checked copy in place -> "Restored"
//            (OK: the panel goes, and the application takes the store again) | "Restore fail"
//
// The promise: whatever fails (a broken, cut or foreign archive, a failed transfer, a full
// disk), the user's Documents and first-launch date stay as they were; an archive that cannot be
// extracted and checked is refused before anything is asked or changed.
//
// The screen knows its alerts by the role it gave them, never by their titles (two texts may be
// equal in a language). While a flow runs its actions are disabled. A closed screen (popped or
// destroyed) cancels its requests, leaves the client and stops observing "cloudLinkedEvent", so a
// late reply never acts for nobody. The client is bound to one user: after Disconnect it goes,
// and the next request makes one for whoever is linked then.
//
// Everything runs on the main thread: the actions, alerts, notification and client callbacks.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/flat_widgets.h"
#include "app/local_saves.h"
#include "cloud/cloud_rest_client.h"
#include "cloud/cloud_session.h"
#include "platform/files/app_home.h"
#include "platform/foundation/error.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/value.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/user_defaults.h"
#include "platform/ui/activity_indicator.h"
#include "platform/ui/alert.h"
#include "platform/ui/controls.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/view_controller.h"

namespace reports {

inline constexpr const char* kBackUpControllerId = "backUpController";
// The archive's name locally and in the root of the cloud folder.
inline constexpr std::string_view kRemoteBackUpName = "backUp.zip";
inline constexpr std::string_view kRemoteBackUpFolder = "/";

// What the screen needs of the application; fromApplication() wires the application delegate,
// the shared cloud session, the standard preferences and analytics.
struct BackupServices {
  files::AppHome home{files::AppHome::fromEnvironment()};
  std::function<std::string(std::string_view key)> localized;
  // The locale dates are written in (the backup's date): the interface language's; the host's
  // when null.
  std::function<foundation::Locale()> dateLocale;
  std::function<std::shared_ptr<cloud::CloudSession>()> session;
  // Before packing: the live store's log folded into its file; the store stays open.
  std::function<foundation::Status()> checkpointStore;
  // Before the checked archive is put in place: the store closed and dropped.
  std::function<foundation::Status()> preReloadDataBase;
  // After "Restored": the application reads the new store.
  std::function<void()> updateDataBase;
  std::function<void(std::string event, foundation::Dictionary parameters)> logEvent;
  // Where "AppleLanguages" is read for the failed-upload event.
  std::shared_ptr<runtime::UserDefaults> userDefaults;
  // The check of the archive's store file; by default a copy is opened with the diary's model.
  app::localSaves::StoreCheck checkStore;

  static BackupServices fromApplication();
};

// A bar from 0 to 1, the transfer's progress.
class BackUpProgressBar : public ui::View {
 public:
  using ui::View::View;
  double progress() const { return progress_; }
  void setProgress(double progress);
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;

 private:
  double progress_ = 0;
};

class backUpController : public ui::ViewController,
                         public cloud::CloudRestClientDelegate,
                         public ui::AlertViewDelegate {
 public:
  // What each alert of the screen stands for; kept in the alert's tag.
  enum class AlertRole {
    kAskBackUp = 1,
    kAskRestore,
    kWrongVersion,
    kBackedUp,
    kBackUpFailed,
    kRestored,
    kRestoreFailed,
  };

  explicit backUpController(BackupServices services = BackupServices::fromApplication());
  ~backUpController() override;

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  // --- Actions (the screen's controls send them)
  void connectStateChange();
  void backUp();
  void restore();
  void back();

  // The link state into the front view and the connect control's text.
  void updateBackUpState();
  void cloudLinkedEvent();
  // The client for the session's first user, made when there is none or it serves another user;
  // null without a session.
  cloud::CloudRestClient* restClient();
  // True from the first step of a backup or restore until its last alert is answered.
  bool isBusy() const { return busy_; }
  bool isClosed() const { return closed_; }

  // --- Views (made at view load)
  app::lineDrawerView* backLineDrawerView() const { return backLineDrawerView_.get(); }
  ui::Button* connectButton() const { return connectButton_.get(); }
  ui::Label* connectDisconnectLable() const { return connectDisconnectLable_.get(); }
  ui::View* updateInfoView() const { return updateInfoView_.get(); }
  ui::Button* backUpButton() const { return backUpButton_.get(); }
  ui::Button* restoreButton() const { return restoreButton_.get(); }
  ui::Label* backUpLabel() const { return backUpLabel_.get(); }
  ui::Label* restorelable() const { return restorelable_.get(); }
  ui::View* frontView() const { return frontView_.get(); }
  ui::View* backUpProgressView() const { return backUpProgressView_.get(); }
  ui::ActivityIndicatorView* packingIndicator() const { return packingIndicator_.get(); }
  ui::Label* progressLable() const { return progressLable_.get(); }
  BackUpProgressBar* progressView() const { return progressView_.get(); }

  // --- Alerts
  void alertViewClickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) override;

  // --- Client callbacks
  void restClientLoadedRevisionsForFile(Client& client, const cloud::CloudMetadataList& revisions,
                                        const std::string& path) override;
  void restClientLoadRevisionsFailedWithError(Client& client, const Error& error) override;
  void restClientUploadProgressForFileFrom(Client& client, double progress, const std::string& destPath,
                                           const std::string& srcPath) override;
  void restClientUploadedFileFromMetadata(Client& client, const std::string& destPath,
                                          const std::string& srcPath,
                                          const cloud::CloudMetadataPtr& metadata) override;
  void restClientUploadFileFailedWithError(Client& client, const Error& error) override;
  void restClientLoadedMetadata(Client& client, const cloud::CloudMetadataPtr& metadata) override;
  void restClientLoadMetadataFailedWithError(Client& client, const Error& error) override;
  void restClientLoadProgressForFile(Client& client, double progress, const std::string& destPath) override;
  void restClientLoadedFileContentTypeMetadata(Client& client, const std::string& destPath,
                                               const std::string& contentType,
                                               const cloud::CloudMetadataPtr& metadata) override;
  void restClientLoadFileFailedWithError(Client& client, const Error& error) override;

 private:
  std::string localized(std::string_view key) const;
  std::string remoteArchivePath() const;
  void buildViews();
  void setBusy(bool busy);
  void showAlert(AlertRole role, std::string message = {});
  // Runs `step` on the main loop after an animation, unless the screen was closed meanwhile.
  std::function<void(bool)> whileOpen(std::function<void()> step);
  void hideProgressPanel();
  void endRestoreWithFailure();

  // Backup steps.
  void startBackUp();
  void packAndUpload();
  void uploadArchive(const std::optional<std::string>& parentRev);
  void backUpFailed(const Error& error);

  // Restore steps.
  void startDownload();
  // Replaces Documents with the checked archive; false when nothing was replaced.
  bool doRestoreFromZip();
  void finishRestore();

  // Ends the screen's part in every flow: requests cancelled, client and observation dropped,
  // alerts taken off screen without a reply.
  void close();

  BackupServices services_;
  std::unique_ptr<app::localSaves> locSaves_;
  std::unique_ptr<cloud::CloudRestClient> restClient_;
  std::optional<app::localSaves::StagedBackUp> staged_;
  runtime::ObserverToken linkedObservation_;
  std::shared_ptr<ui::AlertView> alert_;
  bool busy_ = false;
  bool closed_ = false;

  std::shared_ptr<app::lineDrawerView> backLineDrawerView_;
  std::shared_ptr<ui::Button> connectButton_;
  std::shared_ptr<ui::Label> connectDisconnectLable_;
  std::shared_ptr<ui::ImageView> connectDisconnectImageView_;
  std::shared_ptr<ui::View> updateInfoView_;
  std::shared_ptr<ui::Button> backUpButton_;
  std::shared_ptr<ui::Button> restoreButton_;
  std::shared_ptr<ui::Label> backUpLabel_;
  std::shared_ptr<ui::Label> restorelable_;
  std::shared_ptr<ui::View> frontView_;
  std::shared_ptr<ui::View> backUpProgressView_;
  std::shared_ptr<ui::ActivityIndicatorView> packingIndicator_;
  std::shared_ptr<ui::Label> progressLable_;
  std::shared_ptr<BackUpProgressBar> progressView_;
};

}  // namespace reports
