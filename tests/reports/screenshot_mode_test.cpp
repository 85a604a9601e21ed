// The developer screenshot mode on the phone's root against the stand-in cloud service: a whole run
// on a scratch root, its refusal on a root with real babies, and the ways an upload can fail.

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <regex>

#include "app/app_delegate.h"
#include "babies/baby_list_controller.h"
#include "babies/photo_lib_controller.h"
#include "charts/chart_screens.h"
#include "charts/sum_chart.h"
#include "navigation/note_type_chooser.h"
#include "notes_list/list_extras_impl.h"
#include "reports/report_controller.h"
#include "cloud/cloud_keychain.h"
#include "notes_list/list_fixture.h"
#include "notes_list/main_screens.h"
#include "platform/foundation/log.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/user_defaults.h"
#include "platform/security/keychain.h"
#include "platform/ui/application.h"
#include "reports/screenshot_helper.h"
#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace reports {
namespace {

using testing_support::CloudServer;

constexpr const char* kKey = "qwv3rtnpa8sdkmz";
constexpr const char* kSecret = "hxb7ytrefo2lmcu";

std::vector<std::string> babyNames(store::Context& context) {
  std::vector<std::string> names;
  auto fetched = context.fetch(store::FetchRequest{"Baby"});
  if (!fetched) return names;
  for (const auto& object : *fetched) names.push_back(app::Baby(object).baby_Name().value_or(""));
  std::sort(names.begin(), names.end());
  return names;
}

class ScreenshotModeTest : public list_test::ListTest {
 protected:
  ScreenshotModeTest() : server_(temp_.path() / "server") {
    cloud::CloudKeychain::configure(std::make_shared<security::Keychain>(home_), "org.example.diary");
    cloud::CloudService::setCurrent(
        {server_.host(), server_.host(), server_.host(), {server_.rootCertificate()}});
    server_.addUser("31337", "tok", "sec");
    defaults_ =
        std::make_shared<runtime::UserDefaults>(temp_.path() / "prefs.plist", std::vector<std::string>{"de"});
    session_ = std::make_shared<cloud::CloudSession>(kKey, kSecret, "sandbox", defaults_);
    // The screens as the diary registers them.
    registerEditorScreens(storyboard_);
    navigation::registerChooserScreens(storyboard_, [this] {
      navigation::ChooserServices chooser;
      chooser.language = list_test::english;
      chooser.library = home_.library();
      return chooser;
    });
    babies::registerBabyScreens(storyboard_);
    charts::registerChartScreens(storyboard_);
    notes_list::registerListExtrasScreens(storyboard_, [this] {
      notes_list::ListExtrasScreenServices screens;
      screens.neh = neh();
      screens.context = [this] { return context_; };
      screens.clock = &clock_;
      screens.language = list_test::english;
      return screens;
    });
    registerReportScreens(storyboard_);
    notes_list::registerMainScreens(storyboard_, [this] { return mainServices(); });
  }

  ~ScreenshotModeTest() override {
    if (window_) window_->setRootViewController(nullptr);
    mode_.reset();
    runLoop();
    cloud::CloudService::setCurrent({});
    cloud::CloudKeychain::configure(nullptr, "");
  }

  void scratchRoot() {
    context_->deleteObject(baby_.object());
    ASSERT_TRUE(context_->save().ok());
  }

  ScreenshotServices services() {
    ScreenshotServices services;
    services.home = home_;
    services.context = context_;
    services.userDefaults = defaults_;
    services.clock = &clock_;
    services.calendar = foundation::Calendar::gregorian(foundation::TimeZone::withIdentifier("UTC").value());
    services.session = [this] { return session_; };
    services.finished = [this](const std::optional<std::string>& failure) {
      ++finishes_;
      failure_ = failure;
    };
    return services;
  }

  notes_list::MainScreenServices mainServices() {
    notes_list::MainScreenServices services;
    services.neh = neh();
    services.statistics = list_test::ListTest::services();
    services.saves = saves_;
    services.chooser.language = list_test::english;
    services.chooser.library = home_.library();
    services.applicationContext = [this] { return noStore_ ? nullptr : context_; };
    if (noStore_) services.statistics.context = nullptr;
    services.preferredLanguageHasBundle = [] { return true; };
    notes_list::ListExtrasImpl::Services extras;
    extras.prompts.home = home_;
    extras.prompts.clock = &clock_;
    extras.prompts.language = list_test::english;
    extras.language = list_test::english;
    extras_ = std::make_shared<notes_list::ListExtrasImpl>(extras);
    services.extras = extras_;
    if (mode_) mode_->attach(services);
    return services;
  }

  // The mode started by the switch, and the phone's root shown in the key window.
  void launch(const char* rootId = notes_list::kNotesViewControllerIPhoneId, bool storeKnown = true) {
    auto given = services();
    if (!storeKnown) given.context = nullptr;
    auto started = startScreenshotMode(given);
    ASSERT_TRUE(started.ok()) << started.error().description();
    mode_ = *started;
    window_ = std::make_shared<ui::Window>();
    ui::Application::shared().setKeyWindow(window_);
    window_->setRootViewController(storyboard_.instantiateViewControllerWithIdentifier(rootId));
    window_->makeKeyAndVisible();
    runLoop();
  }

  // Moves the clock a step at a time, letting replies come in, until `done`.
  bool drive(const std::function<bool()>& done, double step = 1.0) {
    for (int i = 0; i < 400 && !done(); ++i) {
      loop_.advance(step);
      (void)loop_.runUntil(done, 0.05);
    }
    return done();
  }

  bool uploadToolUp() const {
    auto* root = window_->rootViewController();
    return root && dynamic_cast<screenShotsToCloud*>(root->presentedViewController());
  }

  void link() {
    session_->setAccessTokenAccessTokenSecretForUserId("tok", "sec", "31337");
    runtime::NotificationCenter::defaultCenter().post(std::string(app::kCloudLinkedEventNotification));
  }

  void expectEndsWithMessage(bool linked, CloudServer::Fault fault);

  std::filesystem::path captures() const { return home_.documents() / "ScreenShots" / "en" / "iPhone_5.5"; }
  // Each of the captures `names` is a picture of its own: no screen was left out or shown twice.
  void expectDistinct(const std::vector<int>& names) {
    std::vector<foundation::Bytes> pictures;
    for (int n : names) {
      auto read = files::readFile(captures() / (std::to_string(n) + ".jpg"));
      ASSERT_TRUE(read.ok()) << n;
      pictures.push_back(std::move(read).value());
    }
    for (std::size_t i = 0; i < pictures.size(); ++i)
      for (std::size_t j = i + 1; j < pictures.size(); ++j)
        EXPECT_NE(pictures[i], pictures[j]) << "captures " << names[i] << " and " << names[j] << " are one picture";
  }

  // "<name>.jpg" of the four names drawn as the tool's 2 x 2 grid: each cell's mean colour is its
  // capture's, and the captures differ enough for a cell in the wrong place to show.
  void expectGrid(screenShotsToCloud& tool, const std::vector<std::string>& names) {
    ASSERT_TRUE(tool.imageByCombiningImagesAndResultName(names, "grid").ok());
    auto grid = screenShotsToCloud::getScreenshotImgWithPath(captures() / "grid.jpg");
    ASSERT_TRUE(grid);
    ASSERT_EQ(grid->pixelWidth(), 750);
    ASSERT_EQ(grid->pixelHeight(), 1334);
    const auto mean = [](const graphics::Image& image, int x0, int y0, int w, int h) {
      double sum[3] = {0, 0, 0};
      for (int y = y0; y < y0 + h; y += 3)
        for (int x = x0; x < x0 + w; x += 3) {
          const auto p = image.pixel(x, y);
          sum[0] += p.r, sum[1] += p.g, sum[2] += p.b;
        }
      const double n = std::ceil(w / 3.0) * std::ceil(h / 3.0);
      return std::array<double, 3>{sum[0] / n, sum[1] / n, sum[2] / n};
    };
    const int cells[4][2] = {{0, 0}, {0, 667}, {375, 0}, {375, 667}};
    for (std::size_t i = 0; i < 4; ++i) {
      auto capture = screenShotsToCloud::getScreenshotImgWithPath(captures() / (names[i] + ".jpg"));
      ASSERT_TRUE(capture) << names[i];
      const auto want = mean(*capture, 0, 0, capture->pixelWidth(), capture->pixelHeight());
      const auto got = mean(*grid, cells[i][0], cells[i][1], 375, 667);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], 4.0) << "cell " << i << " (" << names[i] << ")";
    }
  }

  // "1.jpg" to "<count>.jpg" arrived in the cloud folder as JPEGs of that many pixels, and no more.
  void expectUploads(int count, int width, int height) {
    const std::string folder = "/ScreenShots/en/iPhone_5.5/";
    for (int n = 1; n <= count; ++n) {
      auto content = server_.fileContent(folder + std::to_string(n) + ".jpg");
      ASSERT_TRUE(content) << n;
      auto image = graphics::Image::decode(foundation::Bytes(content->begin(), content->end()));
      ASSERT_TRUE(image.ok()) << n;
      EXPECT_EQ(image->pixelWidth(), width);
      EXPECT_EQ(image->pixelHeight(), height);
    }
    EXPECT_FALSE(server_.fileContent(folder + std::to_string(count + 1) + ".jpg"));
  }

  CloudServer server_;
  ui::Storyboard storyboard_;
  std::shared_ptr<runtime::UserDefaults> defaults_;
  std::shared_ptr<cloud::CloudSession> session_;
  std::shared_ptr<ui::Window> window_;
  std::shared_ptr<ScreenshotMode> mode_;
  std::shared_ptr<notes_list::ListExtrasImpl> extras_;
  bool noStore_ = false;
  int finishes_ = 0;
  std::optional<std::string> failure_;
};

TEST_F(ScreenshotModeTest, RunOnScratchRootUploadsTheChosenCapturesAsJpegs) {
  scratchRoot();
  screenShotHelper helper(services());
  ASSERT_TRUE(helper.makeTemplateBaby().ok());
  const auto stops = [this] {
    std::vector<double> dates;
    auto fetched = context_->fetch(store::FetchRequest{"Note"});
    for (const auto& object : fetched.value())
      if (app::Note(object).noteToBaby().baby_Name() == kScreenshotTemplateName)
        dates.push_back(app::Note(object).note_DateStop()->sinceReference);
    return dates;
  };
  const auto before = stops();
  foundation::ScopedLogCapture log;
  launch();
  ASSERT_TRUE(mode_->running());
  // The sample data's log: dates as dates, the language by its own name, each copied sub-value.
  const std::regex date("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000");
  const auto logged = [&](const std::string& prefix, bool dated) {
    for (const auto& line : log.messages())
      if (line.starts_with(prefix) && (!dated || std::regex_match(line.substr(prefix.size()), date))) return true;
    return false;
  };
  for (const char* prefix : {"BDp:", "BDn:", "FST:", "ERL:", "OldDate:", "NewDate:"})
    EXPECT_TRUE(logged(prefix, true)) << prefix;
  EXPECT_TRUE(logged("en[English]:Emma", false));
  EXPECT_TRUE(logged("__", false));
  // The first-run units were settled as a person would: no overlay over the captures.
  auto* root = dynamic_cast<notes_list::MainScreen*>(window_->rootViewController());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->fstLaunchView(), nullptr);
  EXPECT_TRUE(files::exists(home_.library() / "Settings" / "firstLaunch.txt"));
  // Every template note moved by the same whole number of days.
  const auto after = stops();
  ASSERT_EQ(after.size(), before.size());
  ASSERT_FALSE(before.empty());
  const double shift = after[0] - before[0];
  EXPECT_EQ(std::fmod(shift, 86400.0), 0.0);
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i] - before[i], shift);
  EXPECT_EQ(babyNames(*context_), (std::vector<std::string>{"Emma", "Screenshot Template"}));
  EXPECT_EQ(defaults_->stringArrayForKey("AppleLanguages").value(), std::vector<std::string>{"en"});

  // Step 4 hid the quick-start strip: after the fetches that follow, the list still starts where
  // the strip stood, with no empty band between.
  ASSERT_TRUE(drive([this] { return mode_->screenShotScreenNum() == 3; }));
  ASSERT_TRUE(root->noteQuickStartView() && root->table());
  EXPECT_TRUE(root->noteQuickStartView()->isHidden());
  root->setupFetchedResultsController();
  root->view()->layoutIfNeeded();
  EXPECT_EQ(root->table()->frame().y(), root->noteQuickStartView()->frame().y());

  // The charts and the photo list come up with the root's local_ID, each its own screen.
  const auto topShown = [&]() -> ui::ViewController* {
    auto* shown = dynamic_cast<ui::NavigationController*>(root->presentedViewController());
    return shown && !shown->viewControllers().empty() ? shown->viewControllers().back().get() : nullptr;
  };
  ASSERT_TRUE(drive([this] { return mode_->screenShotScreenNum() == 5; }));
  auto* track = dynamic_cast<charts::DayTrackController*>(topShown());
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(track->local_ID(), "en");
  ASSERT_TRUE(drive([this] { return mode_->screenShotScreenNum() == 6; }));
  auto* sums = dynamic_cast<charts::sumChartController*>(topShown());
  ASSERT_NE(sums, nullptr);
  EXPECT_EQ(sums->local_ID(), "en");
  EXPECT_EQ(sums->type(), "Breast Feeding");
  ASSERT_TRUE(drive([this] { return mode_->screenShotScreenNum() == 7; }));
  auto* photos = dynamic_cast<babies::photoLibController*>(topShown());
  ASSERT_NE(photos, nullptr);
  EXPECT_EQ(photos->local_ID(), "en");

  // The baby list of step 9 hands a choice back to the root.
  // The walk reaches the upload tool, which waits for the link.
  ASSERT_TRUE(drive([this] { return uploadToolUp(); }));
  const auto forPeople = testing_support::testOutput() / "screenshot_mode";
  (void)files::remove(forPeople);
  EXPECT_TRUE(files::copyFile(captures(), forPeople).ok());
  for (int n = 1; n <= 11; ++n) EXPECT_TRUE(files::exists(captures() / (std::to_string(n) + ".jpg"))) << n;
  // The list, its summary, the chooser, graph, day track, summary chart, photos, latest updates,
  // baby list and editor. 9 shows the summary list again (step 8 presents none).
  expectDistinct({1, 2, 3, 4, 5, 6, 7, 8, 10, 11});

  // The four captures of a grid, each in its cell: first top left, second below, third top right.
  auto* tool = dynamic_cast<screenShotsToCloud*>(root->presentedViewController());
  ASSERT_NE(tool, nullptr);
  EXPECT_EQ(tool->screenW(), 375u);
  EXPECT_EQ(tool->screenH(), 667u);
  EXPECT_EQ(tool->newImageSize(), (graphics::Size{750, 1334}));
  expectGrid(*tool, {"1", "4", "6", "7"});
  // Not four names: nothing is written. A file that is no picture reads as none.
  EXPECT_FALSE(tool->imageByCombiningImagesAndResultName({"1", "2", "3"}, "three").ok());
  EXPECT_FALSE(files::exists(captures() / "three.jpg"));
  struct Unreadable {
    const char* name;
    std::optional<std::string> content;
  } unreadable[] = {{"missing", std::nullopt}, {"empty", ""}, {"text", "not a picture"}, {"cut", "\xff\xd8\xff\xe0"}};
  for (const auto& u : unreadable) {
    const auto path = temp_.path() / (std::string(u.name) + ".jpg");
    if (u.content) {
      ASSERT_TRUE(files::writeAtomic(path, std::string_view(*u.content)).ok());
    }
    EXPECT_FALSE(screenShotsToCloud::getScreenshotImgWithPath(path)) << u.name;
  }
  EXPECT_FALSE(screenShotsToCloud::getScreenshotImgWithPath(captures()));  // a folder
  loop_.advance(30);
  EXPECT_TRUE(mode_->running());
  EXPECT_TRUE(server_.requests().empty());

  link();
  ASSERT_TRUE(drive([this] { return finishes_ > 0; }));
  EXPECT_EQ(failure_, std::nullopt);
  expectUploads(7, 750, 1334);
  // The captures and the sample go; the template stays.
  EXPECT_FALSE(files::exists(home_.documents() / "ScreenShots"));
  EXPECT_EQ(babyNames(*context_), std::vector<std::string>{"Screenshot Template"});
}

TEST_F(ScreenshotModeTest, PadWalkUploadsItsFiveCapturesAsTaken) {
  ui::ScopedDevice pad(ui::DeviceProfile::pad());
  scratchRoot();
  launch(notes_list::kMainViewControllerIPadId);
  ASSERT_TRUE(drive([this] { return uploadToolUp(); }));
  // The list, its summary, the graph, the day track and the summary chart.
  expectDistinct({1, 2, 3, 4, 5});
  // The tablet's captures are uploaded as taken: no grid cells.
  auto* tool = dynamic_cast<screenShotsToCloud*>(window_->rootViewController()->presentedViewController());
  ASSERT_NE(tool, nullptr);
  EXPECT_EQ(tool->screenW(), 0u);
  EXPECT_FALSE(tool->imageByCombiningImagesAndResultName({"1", "2", "3", "4"}, "grid").ok());
  link();
  ASSERT_TRUE(drive([this] { return finishes_ > 0; }));
  EXPECT_EQ(failure_, std::nullopt);
  expectUploads(5, 1536, 2048);
}

TEST_F(ScreenshotModeTest, RootWithRealBabiesIsRefusedAndKeptAsItWas) {
  // "Anna" alone, and "Anna" beside a template: neither is scratch.
  EXPECT_FALSE(startScreenshotMode(services()).ok());
  EXPECT_EQ(babyNames(*context_), std::vector<std::string>{"Anna"});

  app::Baby::insertIn(*context_).setBaby_Name(std::string(kScreenshotTemplateName));
  ASSERT_TRUE(context_->save().ok());
  EXPECT_FALSE(startScreenshotMode(services()).ok());
  screenShotHelper helper(services());
  EXPECT_FALSE(helper.makeLocalizedBabys().ok());
  EXPECT_EQ(babyNames(*context_), (std::vector<std::string>{"Anna", "Screenshot Template"}));

  // Switched on before the store was known: the root's start refuses it the same way.
  launch(notes_list::kNotesViewControllerIPhoneId, false);
  EXPECT_EQ(finishes_, 1);
  EXPECT_TRUE(failure_);
  EXPECT_FALSE(mode_->running());
  EXPECT_EQ(babyNames(*context_), (std::vector<std::string>{"Anna", "Screenshot Template"}));
}

// A failed upload, or a link that never comes, ends the mode with a message; nothing runs on.
void ScreenshotModeTest::expectEndsWithMessage(bool linked, CloudServer::Fault fault) {
  scratchRoot();
  server_.setFault(fault);
  if (linked) session_->setAccessTokenAccessTokenSecretForUserId("tok", "sec", "31337");
  launch();
  ASSERT_TRUE(drive([this] { return finishes_ > 0; }, linked ? 1.0 : 20.0));
  ASSERT_TRUE(failure_);
  EXPECT_FALSE(mode_->running());
  EXPECT_FALSE(uploadToolUp());
  EXPECT_TRUE(files::exists(captures() / "1.jpg"));
  const auto requests = server_.requests().size();
  loop_.advance(60);
  EXPECT_EQ(server_.requests().size(), requests);
  EXPECT_EQ(finishes_, 1);
}

TEST_F(ScreenshotModeTest, AStoreThatCouldNotBeOpenedEndsTheModeWithAMessage) {
  scratchRoot();
  auto given = services();
  given.context = nullptr;
  mode_ = startScreenshotMode(given).value();
  noStore_ = true;  // as when the diary's store could not be opened
  window_ = std::make_shared<ui::Window>();
  window_->setRootViewController(
      storyboard_.instantiateViewControllerWithIdentifier(notes_list::kNotesViewControllerIPhoneId));
  window_->makeKeyAndVisible();
  runLoop();
  EXPECT_EQ(finishes_, 1);
  ASSERT_TRUE(failure_);
  EXPECT_NE(failure_->find("no store"), std::string::npos) << *failure_;
}

TEST_F(ScreenshotModeTest, FailedUploadEndsTheMode) {
  expectEndsWithMessage(true, CloudServer::Fault::ServerError);
}

TEST_F(ScreenshotModeTest, LinkThatNeverComesEndsTheMode) {
  expectEndsWithMessage(false, CloudServer::Fault::None);
}

// What a failed run captured stays; a later run that reaches the service sends the captures and
// only then clears them.
TEST_F(ScreenshotModeTest, CapturesOfAFailedRunStayUntilARunSendsThem) {
  expectEndsWithMessage(false, CloudServer::Fault::None);
  for (int n = 1; n <= 11; ++n) EXPECT_TRUE(files::exists(captures() / (std::to_string(n) + ".jpg"))) << n;
  window_->setRootViewController(nullptr);
  finishes_ = 0;
  failure_.reset();
  session_->setAccessTokenAccessTokenSecretForUserId("tok", "sec", "31337");
  launch();
  ASSERT_TRUE(drive([this] { return finishes_ > 0; }));
  EXPECT_EQ(failure_, std::nullopt);
  expectUploads(7, 750, 1334);
  EXPECT_FALSE(files::exists(home_.documents() / "ScreenShots"));
}

app::Baby babyNamed(store::Context& context, std::string_view name) {
  auto fetched = context.fetch(store::FetchRequest{"Baby"});
  for (const auto& object : fetched.value())
    if (app::Baby(object).baby_Name() == name) return app::Baby(object);
  return {};
}

// A baby's tooth events as (number, state, date, description), in order.
std::vector<std::tuple<int, int, double, std::string>> toothEvents(const app::Baby& baby) {
  std::vector<std::tuple<int, int, double, std::string>> events;
  for (const auto& tooth : baby.babyToTooth())
    events.emplace_back(tooth.tooth_Num().value_or(-1), tooth.tooth_State().value_or(-1),
                        tooth.tooth_Date() ? tooth.tooth_Date()->sinceReference : -1,
                        tooth.tooth_Description().value_or("(none)"));
  std::sort(events.begin(), events.end());
  return events;
}

// The share of an image's pixels within 14 of `colour` on every channel.
double shareOf(const graphics::Image& image, graphics::Image::Rgba colour) {
  long near = 0, all = 0;
  for (int y = 0; y < image.pixelHeight(); y += 2)
    for (int x = 0; x < image.pixelWidth(); x += 2, ++all) {
      const auto p = image.pixel(x, y);
      if (std::abs(p.r - colour.r) <= 14 && std::abs(p.g - colour.g) <= 14 && std::abs(p.b - colour.b) <= 14) ++near;
    }
  return all ? static_cast<double>(near) / static_cast<double>(all) : 0;
}

// The sample baby carries what the copy takes of the template: every tooth event and the icon, and
// its notes without their photos. Removing the samples takes their icons and leaves the template's
// files.
TEST_F(ScreenshotModeTest, SampleBabyCarriesTheTemplatesTeethAndIcon) {
  scratchRoot();
  screenShotHelper helper(services());
  ASSERT_TRUE(helper.makeTemplateBaby().ok());
  const auto templ = babyNamed(*context_, kScreenshotTemplateName);
  ASSERT_TRUE(templ);
  // The template itself: teeth that came and one that went, an icon, and walks with photos.
  const auto templateTeeth = toothEvents(templ);
  const auto hasState = [&](int state) {
    return std::any_of(templateTeeth.begin(), templateTeeth.end(), [&](const auto& e) { return std::get<1>(e) == state; });
  };
  EXPECT_TRUE(hasState(10));
  EXPECT_TRUE(hasState(20));
  const auto templateIcon = saves_->getIcon(kScreenshotTemplateName);
  ASSERT_TRUE(templateIcon && !templateIcon->isEmpty());
  std::vector<app::PhotoInfo> templatePhotos = templ.babyToPhotoInfo();
  ASSERT_EQ(templatePhotos.size(), 3u);
  std::sort(templatePhotos.begin(), templatePhotos.end(),
            [](const auto& a, const auto& b) { return a.photo_Path() < b.photo_Path(); });

  ASSERT_TRUE(helper.makeLocalizedBabys().ok());
  const auto emma = babyNamed(*context_, "Emma");
  ASSERT_TRUE(emma);
  // Teeth: each event with its number, state and date; no description.
  auto expectedTeeth = templateTeeth;
  for (auto& event : expectedTeeth) std::get<3>(event) = "";
  EXPECT_EQ(toothEvents(emma), expectedTeeth);
  // The icon, stored for the sample's name.
  const auto icon = saves_->getIcon("Emma");
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->pixelWidth(), templateIcon->pixelWidth());
  EXPECT_EQ(icon->pixel(4, 4), templateIcon->pixel(4, 4));
  // A copied note takes the fields the copy names, and no photo: the template's photos stay its own.
  EXPECT_EQ(emma.babyToNote().size(), templ.babyToNote().size());
  EXPECT_TRUE(emma.babyToPhotoInfo().empty());
  for (const auto& note : emma.babyToNote()) EXPECT_FALSE(note.noteToPhotoInfo()) << note.note_Type().value_or("");

  // The sample goes with its files; the template keeps its own.
  ASSERT_TRUE(helper.removeBabys().ok());
  EXPECT_FALSE(saves_->getIcon("Emma"));
  EXPECT_TRUE(saves_->getPhoto(*templatePhotos[0].photo_Path()));
  EXPECT_TRUE(saves_->getIcon(kScreenshotTemplateName));
}

// With the application's delegate in place, as in the diary, the baby editor's capture shows the
// sample's picture: its drawn colour is on the capture.
TEST_F(ScreenshotModeTest, CapturesShowTheSamplesPicture) {
  scratchRoot();
  app::AppDelegate::Environment environment;
  environment.home = home_;
  environment.bundle = std::make_shared<runtime::Bundle>(testing_support::resourcesFolder());
  environment.clock = &clock_;
  environment.userDefaults = defaults_;
  auto delegate = std::make_unique<app::AppDelegate>(environment);
  delegate->setBabysLocalSaves(saves_);
  ui::Application::shared().setDelegate(delegate.get());
  struct Uninstall {
    ~Uninstall() { ui::Application::shared().setDelegate(nullptr); }
  } uninstall;
  launch();
  ASSERT_TRUE(drive([this] { return uploadToolUp(); }));
  struct Case {
    int capture;
    const char* what;
    graphics::Image::Rgba colour;
  } cases[] = {
      {10, "the icon's background", {255, 214, 224, 255}},
  };
  for (const auto& c : cases) {
    auto capture = screenShotsToCloud::getScreenshotImgWithPath(captures() / (std::to_string(c.capture) + ".jpg"));
    ASSERT_TRUE(capture) << c.capture;
    EXPECT_GT(shareOf(*capture, c.colour), 0.004) << c.capture << ": " << c.what;
  }
  // The list, whose notes hold no such colour, tells a capture with pictures from one without.
  auto list = screenShotsToCloud::getScreenshotImgWithPath(captures() / "1.jpg");
  ASSERT_TRUE(list);
  for (const auto& c : cases) EXPECT_LT(shareOf(*list, c.colour), 0.001) << c.what;
}

}  // namespace
}  // namespace reports
