#include "app/app_delegate.h"

#include <ostream>
#include <utility>

#include "analytics/tally.h"
#include "analytics/tally_session.h"
#include "analytics/tally_util.h"
#include "app/entities.h"
#include "app/model.h"
#include "app/note_edit_helper.h"
#include "cloud/cloud_keychain.h"
#include "cloud/cloud_request.h"
#include "cloud/cloud_session.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/foundation/uuid.h"
#include "platform/graphics/color.h"
#include "platform/graphics/font.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/user_defaults.h"
#include "platform/security/keychain.h"
#include "platform/store/fetch_request.h"
#include "platform/store/predicate.h"
#include "platform/ui/alert.h"
#include "platform/ui/device.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/view_controller.h"

namespace app {

namespace {

// The window's background: red 250, green 249, blue 253.
graphics::Color windowBackgroundColor() { return graphics::Color::rgb255(250, 249, 253); }

void post(std::string_view name, const void* object) {
  runtime::NotificationCenter::defaultCenter().post(std::string(name), object);
}

// A user-info entry as non-empty text.
std::optional<std::string> nonEmptyText(const foundation::Dictionary& info, std::string_view key) {
  const foundation::Value* value = info.find(key);
  if (!value || !value->string() || value->string()->empty()) return std::nullopt;
  return *value->string();
}

}  // namespace

AppDelegate::AppDelegate(Environment environment)
    : home_(std::move(environment.home)),
      bundle_(environment.bundle ? std::move(environment.bundle) : runtime::Bundle::main()),
      userDefaults_(environment.userDefaults ? std::move(environment.userDefaults)
                                             : runtime::UserDefaults::standard()),
      clock_(environment.clock ? environment.clock : &foundation::Clock::system()),
      self_(std::make_shared<AppDelegate*>(this)) {}

AppDelegate::~AppDelegate() {
  for (auto& weak : reminderAlerts_) {
    if (auto alert = weak.lock(); alert && alert->delegate() == this) alert->setDelegate(nullptr);
  }
  auto& application = ui::Application::shared();
  if (application.delegate() == this) application.setDelegate(nullptr);
  if (&analytics::TallyUtil::clock() == clock_) analytics::TallyUtil::setClock(nullptr);
}

AppDelegate* AppDelegate::shared() {
  return dynamic_cast<AppDelegate*>(ui::Application::shared().delegate());
}

// --- The data store

std::shared_ptr<const store::Model> AppDelegate::managedObjectModel() {
  if (!model_) model_ = app::managedObjectModel();
  return model_;
}

std::shared_ptr<store::Store> AppDelegate::persistentStoreCoordinator() {
  if (store_ && !store_->isClosed()) return store_;
  store_.reset();
  // The folder is there on a device; made here so a fresh data root opens as well.
  if (auto made = files::createDirectory(applicationDocumentsDirectory()); !made) {
    storeError_ = made.error();
    logUnresolved(made.error());
    return nullptr;
  }
  auto opened = store::Store::open(applicationDocumentsDirectory() / kDataBaseFileName, managedObjectModel());
  if (!opened) {
    // The file stays as it is: the user's data are never thrown away to make room for a new store.
    storeError_ = opened.error();
    logUnresolved(opened.error());
    return nullptr;
  }
  storeError_.reset();
  store_ = *opened;
  return store_;
}

std::shared_ptr<store::Context> AppDelegate::managedObjectContext() {
  if (context_ && !context_->isClosed()) return context_;
  context_.reset();
  auto coordinator = persistentStoreCoordinator();
  if (!coordinator) return nullptr;
  auto made = coordinator->newContext();
  if (!made) {
    storeError_ = made.error();
    logUnresolved(made.error());
    return nullptr;
  }
  context_ = *made;
  return context_;
}

foundation::Status AppDelegate::saveContext() {
  if (!context_ || !context_->hasChanges()) return {};
  foundation::Status saved = context_->save();
  if (!saved) logUnresolved(saved.error());
  return saved;
}

foundation::Status AppDelegate::preReloadDataBase() {
  if (context_) context_->reset();
  foundation::Status closed;
  if (store_) closed = store_->close();
  store_.reset();
  context_.reset();
  model_.reset();
  if (!closed) foundation::log("The data store did not close cleanly: " + closed.error().description());
  return closed;
}

void AppDelegate::updateDataBase() {
  initTutorialStatus(true);
  if (ui::device().isPhone()) {
    post(kUpdateDataBaseNotification, this);
  } else if (window_) {
    if (auto* root = dynamic_cast<RootScreen*>(window_->rootViewController())) root->updateDataBase();
  }
}

// --- The tutorial step

TutorialEnvironment AppDelegate::tutorialEnvironment() const {
  TutorialEnvironment environment;
  environment.versionNumber = applicationVersionNumber(*bundle_);
  environment.clock = clock_;
  auto languages = userDefaults_->arrayForKey(runtime::UserDefaults::kAppleLanguagesKey);
  environment.hasPreferredLanguages = languages && !languages->empty();
  environment.logEvent = [](std::string event, foundation::Dictionary parameters) {
    analytics::Tally::logEventWithParameters(foundation::Value(std::move(event)),
                                             foundation::Value(std::move(parameters)));
  };
  return environment;
}

void AppDelegate::initTutorialStatus(bool finished) {
  tutorialState_ = app::initTutorialStatus(finished, SettingsRecords(home_), tutorialEnvironment());
}

foundation::Status AppDelegate::saveTutorialState() {
  return app::saveTutorialState(tutorialState_, SettingsRecords(home_), tutorialEnvironment());
}

// --- Launch

std::string AppDelegate::localizedString(std::string_view key) const {
  auto languages = userDefaults_->preferredLanguages();
  if (languages.empty()) return std::string(key);
  return bundle_->localizedStringInLanguage(key, languages.front());
}

bool AppDelegate::preferredLanguageHasBundle() const {
  auto languages = userDefaults_->preferredLanguages();
  if (languages.empty()) return false;
  auto path = bundle_->pathForResource(languages.front(), "lproj");
  return path && files::isDirectory(*path);
}

std::string AppDelegate::vendorIdentifier() const {
  auto kept = ui::identifierForVendor(home_);
  if (kept) return *kept;
  // This launch still gets an identifier of its own rather than one every such install would share;
  // the next launch tries to keep one again.
  foundation::log("The vendor identifier cannot be kept: " + kept.error().description());
  return foundation::makeUuid();
}

void AppDelegate::installHelperEnvironment() {
  NoteEditHelper::Environment environment;
  std::weak_ptr<AppDelegate*> weak = self_;
  environment.context = [weak]() -> std::shared_ptr<store::Context> {
    auto self = weak.lock();
    return self ? (*self)->managedObjectContext() : nullptr;
  };
  environment.library = home_.library();
  environment.clock = clock_;
  NoteEditHelper::setApplicationEnvironment(std::move(environment));
}

void logUnresolved(const foundation::Error& error) {
  foundation::log(foundation::text::format("Unresolved error %@, %@", {foundation::Value(error.description()),
                                                                       foundation::Value(error.userInfo)}));
}

void installNavigationBarLook() {
  auto& bar = ui::NavigationBar::appearance();
  bar.backgroundImageName = "iPhone_nav_bar";
  bar.tintColor = graphics::Color::white();
  bar.barTintColor = graphics::Color::white();
  bar.titleFont = graphics::Font::fontWithNameSize("AvenirNext-Medium", 18.0);
  if (!bar.titleFont) bar.titleFont = graphics::Font::systemFontOfSize(18.0);
  bar.titleColor = graphics::Color::white();
}

bool AppDelegate::didFinishLaunchingWithOptions(ui::Application& app, const foundation::Dictionary& options) {
  // 1. The window's background.
  if (window_) window_->setBackgroundColor(windowBackgroundColor());

  // 2. The look of every navigation bar.
  installNavigationBarLook();

  // 3. The status bar.
  app.setStatusBarStyle(ui::StatusBarStyle::kLightContent);

  // 4. The shared file store; helpers made from now on find the store and the Library folder.
  babysLocalSaves_ = std::make_shared<localSaves>(home_);
  // Before anything else writes: a restore or a write cut short by a kill is finished or undone.
  if (auto recovered = babysLocalSaves_->recoverAtLaunch(); !recovered) {
    foundation::log("Recovery at launch: " + recovered.error().localizedDescription());
  }
  installHelperEnvironment();

  // 5. The tutorial step.
  initTutorialStatus(false);

  // 6. Whether the interface language has its texts.
  const bool hasLanguageBundle = preferredLanguageHasBundle();

  // 7. The screenshot tools are off.
  screenShotState_ = 0;
  screenShotLang_ = 0;
  screenShotScreenNum_ = 0;

  // 8. Analytics, with its files under this data root. Its sessions are real ones (kept on disk and
  // uploaded); a SIGTERM or SIGINT ends the running session first, since nothing keeps the process
  // alive for it here. Its times are the diary's: a session's length is what the diary's clock says.
  analytics::TallyUtil::setHome(home_);
  analytics::TallyUtil::setClock(clock_);
  analytics::TallyImpl::install();
  if (auto ending = analytics::TallyImpl::endSessionOnTerminationSignals(); !ending) {
    foundation::log("Analytics cannot end its session on a termination signal: " +
                    ending.error().description());
  }
  analytics::Tally::setUserID(vendorIdentifier());
  analytics::Tally::setCrashReportingEnabled(false);
  const foundation::Value version =
      bundle_->objectForInfoDictionaryKey(runtime::kBundleShortVersionStringKey);
  if (const std::string* text = version.string()) analytics::Tally::setAppVersion(*text);
  analytics::Tally::startSession(kAnalyticsApiKey);

  // 9. The cloud session.
  cloud::CloudSession::setSharedSession(
      std::make_shared<cloud::CloudSession>(std::string(kCloudAppKey), std::string(kCloudAppSecret),
                                            std::string(kCloudRoot), userDefaults_, *clock_));

  // 10. The tablet's root screen gets the store and the file store; on the phone the notes screen
  // asks for them itself.
  if (ui::device().isPad() && window_) {
    if (auto* root = dynamic_cast<RootScreen*>(window_->rootViewController())) {
      root->setShouldChooseTheLanguage(!hasLanguageBundle);
      root->setManagedObjectContext(managedObjectContext());
      root->setLocSaves(babysLocalSaves_);
    }
  }

  // 11. Launched by a reminder.
  if (const foundation::Value* value = options.find(ui::kLaunchOptionsLocalNotificationKey)) {
    if (auto notification = ui::LocalNotification::fromValue(*value)) {
      appReminderReceiveLaunchedApp(app, *notification, true);
    }
  }
  return true;
}

// --- The lifecycle

void AppDelegate::willResignActive(ui::Application&) { (void)saveContext(); }
void AppDelegate::didEnterBackground(ui::Application&) {}
void AppDelegate::willEnterForeground(ui::Application&) {}
void AppDelegate::didBecomeActive(ui::Application&) {}
void AppDelegate::willTerminate(ui::Application&) { (void)saveContext(); }

void AppDelegate::didReceiveLocalNotification(ui::Application& app,
                                              const ui::LocalNotification& notification) {
  appReminderReceiveLaunchedApp(app, notification, false);
}

void AppDelegate::didRegisterUserNotificationSettings(ui::Application&) {
  post(kUpdateNotificationsStatusInfoNotification, this);
}

bool AppDelegate::handleOpenURL(ui::Application&, const std::string& url) {
  auto session = cloud::CloudSession::sharedSession();
  if (!session || !session->handleOpenURL(url)) return false;
  if (session->isLinked()) {
    post(kCloudLinkedEventNotification, nullptr);
    foundation::log("App linked successfully!");
  }
  return true;
}

// --- Reminders

void AppDelegate::appReminderReceiveLaunchedApp(ui::Application& app,
                                                const ui::LocalNotification& notification,
                                                bool /*launchedApp*/) {
  app.setApplicationIconBadgeNumber(0);
  const foundation::Dictionary& info = notification.userInfo;
  if (info.empty()) return;
  auto type = nonEmptyText(info, kReminderTypeKey);
  if (!type) return;
  const std::string typeText = localizedString(*type);
  if (typeText.empty()) return;

  std::string message = typeText;
  if (auto babyName = nonEmptyText(info, kReminderBabyNameKey)) {
    message = foundation::text::format("%@ (%@)", {typeText, *babyName});
  } else if (!notification.alertBody.empty()) {
    message = foundation::text::format("%@ (%@)", {typeText, notification.alertBody});
  }

  auto alert = ui::AlertView::create(localizedString("Reminder"), message, this, localizedString("OK"));
  alert->setTag(0);
  std::erase_if(reminderAlerts_, [](const std::weak_ptr<ui::AlertView>& weak) { return weak.expired(); });
  reminderAlerts_.push_back(alert);
  alert->show();
}

void AppDelegate::alertViewClickedButtonAtIndex(ui::AlertView&, int) {
  post(kReminderDidComeNotification, this);
}

// --- The platform's start and end

void closeScreens(AppDelegate& delegate) {
  ui::removeAllAlerts();
  ui::Application::shared().setKeyWindow(nullptr);
  delegate.setWindow(nullptr);
  runtime::RunLoop::main().runUntilIdle();
}

bool applicationMain(AppDelegate& delegate, ui::Storyboard* storyboard,
                     const foundation::Dictionary& options) {
  auto& application = ui::Application::shared();
  auto window = std::make_shared<ui::Window>();
  // The root's services look the delegate up when they are made.
  application.setDelegate(&delegate);
  if (storyboard) {
    if (auto root = storyboard->instantiateInitialViewController())
      window->setRootViewController(std::move(root));
  }
  delegate.setWindow(window);
  application.setKeyWindow(window);
  // The installation's reminders, as the phone kept them since the last run.
  application.keepScheduledNotifications(delegate.home());
  const bool answer = application.launch(options);
  window->makeKeyAndVisible();
  return answer;
}

namespace {

// Writes the store's babies and notes; false (explained on `err`) when it cannot be read.
bool reportStore(store::Context& context, std::ostream& out, std::ostream& err) {
  store::FetchRequest babies{std::string(Baby::kEntityName)};
  babies.sortDescriptors.push_back({"baby_Name", true, store::StringComparison::Binary});
  auto fetched = context.fetch(babies);
  auto notes = context.count(store::FetchRequest{std::string(Note::kEntityName)});
  if (!fetched || !notes) {
    err << "diary: the data store cannot be read: "
        << (!fetched ? fetched.error() : notes.error()).localizedDescription() << "\n";
    return false;
  }
  out << "babies: " << fetched->size() << ", notes: " << *notes << "\n";
  for (const auto& object : *fetched) {
    const std::optional<std::string> name = Baby(object).baby_Name();
    size_t count = 0;
    if (name) {
      auto predicate = store::Predicate::parse("noteToBaby.baby_Name == %@", {foundation::Value(*name)});
      if (!predicate) {
        err << "diary: " << predicate.error().localizedDescription() << "\n";
        return false;
      }
      store::FetchRequest ofBaby{std::string(Note::kEntityName)};
      ofBaby.predicate = *predicate;
      auto counted = context.count(ofBaby);
      if (!counted) {
        err << "diary: the data store cannot be read: " << counted.error().localizedDescription() << "\n";
        return false;
      }
      count = *counted;
    }
    out << "  " << name.value_or("(no name)") << ": " << count << (count == 1 ? " note" : " notes") << "\n";
  }
  return true;
}

}  // namespace

int runDiary(const files::AppHome& home, std::ostream& out, std::ostream& err,
             const std::function<void(ui::Storyboard&)>& registerScreens) {
  if (auto status = home.create(); !status) {
    err << "diary: cannot prepare the data root " << home.root().string() << ": "
        << status.error().localizedDescription() << "\n";
    return 1;
  }
  out << "diary: data root " << home.root().string() << "\n";

  auto bundle = runtime::Bundle::main();
  auto defaults = std::make_shared<runtime::UserDefaults>(
      runtime::UserDefaults::fileFor(home, bundle->bundleIdentifier()));
  runtime::UserDefaults::setStandard(defaults);
  cloud::CloudKeychain::configure(std::make_shared<security::Keychain>(home), bundle->bundleIdentifier());

  AppDelegate::Environment environment{home, bundle, defaults, nullptr};
  AppDelegate delegate(std::move(environment));
  // No other application is installed here: links go to the web (the cloud login then runs in its
  // own screen rather than through the service's application).
  ui::Application::shared().setOpenableSchemes(std::vector<std::string>{"http", "https"});
  // The stand-in cloud service when the environment names one.
  if (auto service = cloud::CloudService::fromEnvironment()) cloud::CloudService::setCurrent(*service);

  ui::Storyboard storyboard("Main");
  if (registerScreens) registerScreens(storyboard);
  applicationMain(delegate, &storyboard);
  runtime::RunLoop::main().runUntilIdle();

  int status = 0;
  // What the first screen does on the phone: ask for the context, which opens the store.
  if (auto context = delegate.managedObjectContext()) {
    if (!reportStore(*context, out, err)) status = 2;
  } else {
    err << "diary: cannot open the data store: "
        << (delegate.storeError() ? delegate.storeError()->localizedDescription()
                                  : std::string("unknown error"))
        << "\n"
        << "diary: " << (delegate.applicationDocumentsDirectory() / kDataBaseFileName).string()
        << " was left as it is\n";
    status = 2;
  }

  ui::Application::shared().terminate();
  runtime::RunLoop::main().runUntilIdle();
  // The termination ended the analytics session; this waits until it is on disk.
  analytics::Tally::shutdown();
  closeScreens(delegate);
  (void)defaults->synchronize();
  return status;
}

}  // namespace app
