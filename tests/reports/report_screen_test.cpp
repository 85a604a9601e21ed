// The report screen and its job: a report built, viewed and mailed; day records without a birthday;
// no baby; a failed job; the screen closed while the job runs; a note saved while it runs.
#include <gtest/gtest.h>

#include "app/entities.h"
#include "app/model.h"
#include "pdf_tools.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/decimal.h"
#include "platform/foundation/log.h"
#include "platform/foundation/time_zone.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/alert.h"
#include "platform/ui/device.h"
#include "platform/ui/mail_composer.h"
#include "platform/ui/render.h"
#include "report_screen_support.h"
#include "reports/report_controller.h"
#include "support/diary_store.h"
#include "support/temp_dir.h"

namespace reports {
namespace {

namespace fs = std::filesystem;
using foundation::Date;

Date utc(int year, int month, int day, int hour = 0, int minute = 0) {
  foundation::DateComponents parts;
  parts.year = year, parts.month = month, parts.day = day, parts.hour = hour, parts.minute = minute;
  return foundation::Calendar::gregorian(foundation::TimeZone::utc()).dateFromComponents(parts).value();
}

class ReportScreenTest : public ::testing::Test {
 protected:
  ReportScreenTest()
      : clock_(utc(2015, 3, 10, 12)),
        mainLoop_(loop_),
        zone_(foundation::TimeZone::utc()),
        device_(ui::DeviceProfile::phone568()),
        home_(dir_ / "home") {
    store_ = testing_support::openDiaryStore(home_);
    context_ = store_->newContext().value();
    ui::MailComposeViewController::setOutboxFolder(dir_ / "outbox");
    environment_.library = home_.library();
    environment_.clock = &clock_;
    environment_.language = [] { return language(); };
    environment_.context = [this] { return context_; };

    board_.registerController(std::string(notes_list::kFilterViewControllerId), [this] {
      notes_list::filterViewController::Services services{app::NoteEditHelper(environment_), &clock_,
                                                          [] { return language(); }, std::nullopt};
      return std::make_shared<notes_list::filterViewController>(services);
    });
    registerPdfViewer(board_);
    board_.registerController(kMailReportId, [this] {
      ReportServices services;
      services.home = home_;
      services.store = [this] { return store_; };
      services.helper = environment_;
      services.language = language();
      services.clock = &clock_;
      return std::make_shared<mailSenderController>(services);
    });
  }
  ~ReportScreenTest() override {
    navigation_.reset();
    screen_.reset();
    loop_.runUntilIdle();
    ui::removeAllAlerts();
  }

  static app::InterfaceText language() {
    return app::InterfaceText("en", [](std::string_view key) { return std::string(key); });
  }

  app::Baby addBaby(const std::string& name) {
    auto baby = app::Baby::insertIn(*context_);
    baby.setBaby_Name(name);
    return baby;
  }
  app::Note addNote(const app::Baby& baby, const std::string& type, Date stop,
                    std::optional<std::string> notice = std::nullopt) {
    auto note = app::Note::insertIn(*context_);
    note.setNote_Type(type);
    note.setNote_DateStart(stop - 1800);
    note.setNote_DateStop(stop);
    note.setNote_Notice(std::move(notice));
    note.setNoteToBaby(baby);
    return note;
  }
  void save() { ASSERT_TRUE(context_->save().ok()); }

  mailSenderController& open(const std::string& babyName) {
    screen_ = std::dynamic_pointer_cast<mailSenderController>(
        board_.instantiateViewControllerWithIdentifier(kMailReportId));
    screen_->setManagedObjectContext(context_);
    screen_->setCurrentBabyName(babyName);
    navigation_ = showPushed(screen_, loop_);
    return *screen_;
  }
  // Taps "Start" and lets the job run; the poll ticks each second until the job has ended.
  void build() {
    screen_->startButton()->tap();
    loop_.runUntilIdle();
    for (int i = 0; i < 30 && screen_->reportState() == 0; ++i) {
      (void)loop_.runUntil([&] { return screen_->reportState() != 0; }, 30);
      loop_.advance(1.0);
    }
    loop_.runUntilIdle();
  }
  pdfViewerController* viewer() const {
    return dynamic_cast<pdfViewerController*>(navigation_->topViewController());
  }

  testing_support::TempDir dir_;
  foundation::ManualClock clock_;
  runtime::RunLoop loop_{clock_};
  runtime::ScopedMainRunLoop mainLoop_;
  foundation::ScopedDefaultTimeZone zone_;
  ui::ScopedDevice device_;
  files::AppHome home_;
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
  app::NoteEditHelper::Environment environment_;
  ui::Storyboard board_;
  std::shared_ptr<ui::NavigationController> navigation_;
  std::shared_ptr<mailSenderController> screen_;
};

TEST_F(ReportScreenTest, AReportIsBuiltViewedMailedAndItsFileRemoved) {
  auto anna = addBaby("Anna");
  auto tooth = app::Tooth::insertIn(*context_);  // appeared, on a day nobody wrote down
  tooth.setTooth_Num(3);
  tooth.setTooth_State(10);
  anna.addBabyToToothObject(tooth);
  addNote(anna, "Sleep", utc(2015, 3, 1, 7));
  addNote(anna, "Bath", utc(2015, 3, 2, 19));
  save();
  open("Anna");
  EXPECT_EQ(screen_->title(), "Report");
  ASSERT_NE(screen_->filterViewCtrl(), nullptr);
  EXPECT_FALSE(screen_->currentBabyBirthDay());
  EXPECT_TRUE(
      ui::renderToPng(*navigation_->view(), testing_support::testOutput() / "report_screen.png", 2).ok());

  build();
  EXPECT_EQ(screen_->reportState(), -1);
  EXPECT_EQ(screen_->progressView()->alpha(), 0);
  EXPECT_TRUE(screen_->startButton()->isEnabled());
  EXPECT_FLOAT_EQ(screen_->ringView()->progress(), 1.0f);
  ASSERT_NE(viewer(), nullptr);
  EXPECT_EQ(viewer()->contentPath(), screen_->pdfPath().string());
  ASSERT_TRUE(fs::exists(screen_->pdfPath()));
  fs::copy_file(screen_->pdfPath(), testing_support::testOutput() / "report_screen.pdf",
                fs::copy_options::overwrite_existing);
  // As drawn: no birthday gives headings without an empty age, a dateless tooth no label.
  const std::string text = pdfText(screen_->pdfPath());
  EXPECT_NE(text.find("March 1, 2015\n"), std::string::npos) << text;
  EXPECT_NE(text.find("March 2, 2015\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("()"), std::string::npos) << text;
  EXPECT_EQ(text.find("Tooth Appeared"), std::string::npos) << text;
  EXPECT_EQ(text.find("Not enough data"), std::string::npos) << text;

  viewer()->sendMail();
  loop_.runUntilIdle();
  auto* presented = screen_->presentedViewController();
  ASSERT_NE(presented, nullptr);
  auto composer = std::dynamic_pointer_cast<ui::MailComposeViewController>(presented->shared_from_this());
  ASSERT_NE(composer, nullptr);
  EXPECT_EQ(composer->subject(), "Report: Anna");
  ASSERT_EQ(composer->attachments().size(), 1u);
  EXPECT_EQ(composer->attachments()[0].mimeType, "text/pdf");
  EXPECT_EQ(composer->attachments()[0].fileName, "report.pdf");
  composer->send();
  loop_.runUntilIdle();
  EXPECT_FALSE(fs::exists(screen_->pdfPath()));
  EXPECT_EQ(navigation_->topViewController(), screen_.get());
  EXPECT_EQ(screen_->presentedViewController(), nullptr);
  ASSERT_TRUE(composer->sentFile());
  EXPECT_GT(fs::file_size(*composer->sentFile()), 1000u);  // the copy travelled
}

TEST_F(ReportScreenTest, TheSettingsOpenTheReportOnTheirStoreForTheirBaby) {
  addNote(addBaby("Anna"), "Bath", utc(2015, 3, 2, 19));
  save();
  board_.registerController(navigation::kSettingsId,
                            [] { return std::make_shared<navigation::settingsController>(); });
  auto settings = board_.instantiateViewControllerWithIdentifier(navigation::kSettingsId);
  auto& screen = dynamic_cast<navigation::settingsController&>(*settings);
  screen.setManagedObjectContext(context_);
  screen.setCurrentBabyName("Anna");
  navigation_ = showPushed(settings, loop_);
  screen.didSelectRowAtIndexPath(screen.settingsTable(), {0, navigation::settingsController::kReportRow});
  loop_.runUntilIdle();
  screen_ = std::dynamic_pointer_cast<mailSenderController>(navigation_->viewControllers().back());
  ASSERT_NE(screen_, nullptr);
  build();
  EXPECT_EQ(screen_->reportState(), -1);
  EXPECT_NE(viewer(), nullptr);
}

TEST_F(ReportScreenTest, DaysGetHeadingsWithoutABirthdayRowsTheirTextsAndTotals) {
  const auto anna = addBaby("Anna");
  addNote(anna, "Bath", utc(2015, 3, 1, 7), std::string("warm"));
  auto withPhoto = addNote(anna, "Bath", utc(2015, 3, 1, 9));
  auto photo = app::PhotoInfo::insertIn(*context_);
  photo.setPhoto_Path(std::string("p1"));
  withPhoto.setNoteToPhotoInfo(photo);
  addNote(anna, "Bath", utc(2015, 3, 4, 23, 59));  // the end day is included
  addNote(anna, "Bath", utc(2015, 3, 5, 0, 0));    // the next day is not
  save();

  ReportJobInput input;
  input.babyName = "Anna";
  input.options.types = {"Bath"};
  input.options.beginDate = utc(2015, 3, 1);
  input.options.endDate = utc(2015, 3, 4);
  input.options.descending = false;
  input.options.photosType = kSmallPhotos;
  input.language = language();
  const app::NoteEditHelper neh(environment_);
  noteStatisticHelper statistic(neh, {[] { return language(); }, {}});
  std::vector<double> progress;
  const auto days =
      gatherReportDays(*context_, neh, statistic, input, [&](double p) { progress.push_back(p); });

  ASSERT_EQ(days.size(), 2u);
  EXPECT_TRUE(days[0].dayStr && !days[0].dayStr->empty());
  EXPECT_FALSE(days[0].daySinceBornStr);
  ASSERT_EQ(days[0].noteInfos.size(), 2u);
  EXPECT_EQ(days[0].noteInfos[0].notice, "warm");
  EXPECT_EQ(days[0].noteInfos[1].img, "[Photos 1]");
  EXPECT_EQ(days[0].images, std::vector<std::string>{"p1"});
  EXPECT_TRUE(days[0].sumStr->starts_with("Bath[2]"));
  EXPECT_EQ(days[1].noteInfos.size(), 1u);
  EXPECT_EQ(progress, (std::vector<double>{0, 1.0 / 3, 2.0 / 3, 1}));

  // The day texts follow the interface language, not the device's.
  input.language = app::InterfaceText("ru", [](std::string_view key) { return std::string(key); });
  EXPECT_EQ(gatherReportDays(*context_, neh, statistic, input).front().dayStr, "1 марта 2015\u202fг.");
}

TEST_F(ReportScreenTest, WithoutTheBabyOrWithAnUnwritableFileTheScreenSaysSoAndEndsItsSpinner) {
  // The job ended without a report: Start works again, no viewer opened, and an alert says why.
  const auto expectEndedWith = [&](const char* title) {
    EXPECT_EQ(screen_->reportState(), -1);
    EXPECT_TRUE(screen_->startButton()->isEnabled());
    EXPECT_EQ(viewer(), nullptr);
    ASSERT_NE(ui::topAlert(), nullptr);
    EXPECT_EQ(ui::topAlert()->title(), title);
    ui::topAlert()->tapButton(0);
  };
  addBaby("Anna");
  save();
  ASSERT_TRUE(files::writeAtomic(home_.tmp() / "report.pdf", "an old report").ok());
  open("Boris");
  EXPECT_FALSE(fs::exists(home_.tmp() / "report.pdf"));
  screen_->startButton()->tap();
  loop_.runUntilIdle();
  expectEndedWith("No baby for the report");

  // The baby goes while the job starts: the job fails, the spinner ends, no viewer opens.
  screen_.reset();
  navigation_.reset();
  open("Anna");
  screen_->startButton()->tap();
  context_->deleteObject(context_->fetch(store::FetchRequest("Baby")).value().front());
  save();
  foundation::ScopedLogCapture log;
  build();
  EXPECT_EQ(screen_->progressView()->alpha(), 0);
  expectEndedWith("No baby for the report");

  // A folder in the report file's way: the file cannot be written, and the screen says so.
  addBaby("Anna");
  save();
  fs::create_directories(screen_->pdfPath() / "in the way");
  build();
  expectEndedWith("The report could not be written");
}

TEST_F(ReportScreenTest, AClosedScreenGetsNoProgressAndNoViewer) {
  const auto anna = addBaby("Anna");
  for (int i = 0; i < 400; ++i) addNote(anna, "Bath", utc(2015, 3, 1 + i % 9, i % 24));
  save();
  open("Anna");
  screen_->startButton()->tap();
  loop_.runUntilIdle();
  ASSERT_EQ(screen_->reportState(), 0);
  navigation_->popViewControllerAnimated(false);
  loop_.runUntilIdle();
  EXPECT_TRUE(screen_->isClosed());
  const float progressAtClose = screen_->ringView()->progress();
  for (int i = 0; i < 5; ++i) {
    (void)loop_.runUntil([] { return false; }, 0.2);
    loop_.advance(1.0);
  }
  EXPECT_EQ(screen_->ringView()->progress(), progressAtClose);
  EXPECT_EQ(navigation_->viewControllers().size(), 1u);
  std::weak_ptr<mailSenderController> gone = screen_;
  screen_.reset();  // waits for the cancelled job
  EXPECT_TRUE(gone.expired());
}

TEST_F(ReportScreenTest, AReportMadeWhileTheListSavesANote) {
  const auto anna = addBaby("Anna");
  for (int i = 0; i < 200; ++i) addNote(anna, "Bath", utc(2015, 3, 1 + i % 9, i % 24));
  save();
  open("Anna");
  screen_->startButton()->tap();
  loop_.runUntilIdle();
  for (int i = 0; i < 20; ++i) {
    addNote(anna, "Sleep", utc(2015, 3, 9, i));
    save();
  }
  build();
  ASSERT_NE(viewer(), nullptr);
  EXPECT_GT(fs::file_size(screen_->pdfPath()), 1000u);
}

}  // namespace
}  // namespace reports
