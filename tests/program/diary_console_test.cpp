// The command mode driving a small screen of its own: what a person names is what gets tapped, and
// a command that names nothing is refused without touching anything.
#include "program/diary_console.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>

#include "note_editor/keypad.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"
#include "platform/graphics/text_measure.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/serial_queue.h"
#include "platform/ui/alert.h"
#include "platform/ui/application.h"
#include "platform/ui/controls.h"
#include "platform/ui/keyboard.h"
#include "platform/ui/picker_view.h"
#include "platform/ui/table_view.h"
#include "platform/ui/text_input.h"
#include "platform/ui/view_controller.h"
#include "platform/ui/ui_fixture.h"
#include "support/temp_dir.h"

namespace {

using program::DiaryConsole;

// A view that draws its two buttons itself and names them for the console.
class SpeedDial : public ui::View {
 public:
  explicit SpeedDial(graphics::Rect frame) : ui::View(frame) {}
  std::vector<AccessibilityElement> accessibilityElements() const override {
    return {{"Slow", graphics::Rect(0, 0, 50, 30)}, {"Fast", graphics::Rect(50, 0, 50, 30)}};
  }
  void touchesEnded(const ui::TouchSet& touches) override {
    taps.push_back(touches.front().locationInView(this).x < 50 ? "Slow" : "Fast");
  }
  std::vector<std::string> taps;
};

class FeedScreen : public ui::ViewController,
                   public ui::TableViewDataSource,
                   public ui::TableViewDelegate,
                   public ui::AlertViewDelegate {
 public:
  void viewDidLoad() override {
    auto root = view();
    root->setBackgroundColor(graphics::Color::white());
    save = addButton("Save", graphics::Rect(20, 80, 100, 40), [this] { ++saves; });
    addButton("Ask", graphics::Rect(140, 80, 100, 40), [this] {
      ui::AlertView::create("Delete the note?", "It cannot be undone.", this, "Cancel", {"Delete"})->show();
    });
    addButton("Push", graphics::Rect(20, 130, 100, 40), [this] {
      navigationController()->pushViewController(std::make_shared<ui::ViewController>(), false);
    });
    addButton("Feed\u00A0now", graphics::Rect(130, 130, 60, 40), [this] { ++feeds; });
    // A button that shows the text of a row of the list below.
    addButton("Sleep", graphics::Rect(250, 80, 60, 40), [this] { ++sleeps; });
    field = std::make_shared<ui::TextField>(graphics::Rect(20, 180, 280, 32));
    field->setPlaceholder("Name");
    root->addSubview(field);
    dial = std::make_shared<SpeedDial>(graphics::Rect(200, 130, 100, 30));
    root->addSubview(dial);
    // A text under an invisible button that takes its taps, as an editor's notice row has.
    auto notice = std::make_shared<ui::Label>(graphics::Rect(20, 430, 200, 30));
    notice->setText("Notice");
    root->addSubview(notice);
    auto cover = std::make_shared<ui::Button>(graphics::Rect(0, 425, 320, 40));
    cover->addTarget([this](ui::Control&) { ++noticeTaps; }, ui::kControlEventTouchUpInside);
    root->addSubview(cover);
    table = std::make_shared<ui::TableView>(graphics::Rect(0, 220, 320, 200));
    table->setDataSource(this);
    table->setDelegate(this);
    root->addSubview(table);
    clock = std::make_shared<ui::DatePicker>(graphics::Rect(0, 465, 320, 38));
    clock->setMode(ui::DatePickerMode::kTime);
    clock->setDate(foundation::Date{600000000});
    clock->setMaximumDate(foundation::Date{600000000 + 12 * 3600});
    clock->addTarget([this](ui::Control&) { ++clockTurns; }, ui::kControlEventValueChanged);
    root->addSubview(clock);
  }
  std::shared_ptr<ui::Button> addButton(const std::string& title, graphics::Rect frame,
                                        std::function<void()> action) {
    auto button = std::make_shared<ui::Button>(frame);
    button->setTitle(title);
    button->addTarget([action](ui::Control&) { action(); }, ui::kControlEventTouchUpInside);
    view()->addSubview(button);
    return button;
  }
  int numberOfRowsInSection(ui::TableView&, int) override { return static_cast<int>(rows.size()); }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&,
                                                           const ui::IndexPath& path) override {
    auto cell = std::make_shared<ui::TableViewCell>();
    cell->textLabel().setText(rows[static_cast<size_t>(path.row)]);
    return cell;
  }
  void didSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& path) override {
    picked.push_back(path.row);
  }
  void commitEditingStyle(ui::TableView& tv, ui::CellEditingStyle, const ui::IndexPath& path) override {
    rows.erase(rows.begin() + path.row);
    tv.deleteRowsAtIndexPaths({path});
  }
  void alertViewClickedButtonAtIndex(ui::AlertView&, int index) override { answers.push_back(index); }

  std::vector<std::string> rows{"Breast left", "Breast right", "Bottle", "Sleep",
                                "Nappy",       "Bath",         "Walk",   "Doctor",
                                "7:05\u202FAM"};
  std::shared_ptr<ui::Button> save;
  std::shared_ptr<ui::TextField> field;
  std::shared_ptr<ui::TableView> table;
  std::shared_ptr<SpeedDial> dial;
  std::shared_ptr<ui::DatePicker> clock;
  int clockTurns = 0;
  int saves = 0;
  int feeds = 0;
  int sleeps = 0;
  int noticeTaps = 0;
  std::vector<int> picked;
  std::vector<int> answers;
};

class DiaryConsoleTest : public ui_testing::UiTest {
 protected:
  DiaryConsoleTest() {
    screen_ = std::make_shared<FeedScreen>();
    auto window = std::make_shared<ui::Window>();
    window->setRootViewController(std::make_shared<ui::NavigationController>(screen_));
    ui::Application::shared().setKeyWindow(window);
    window->makeKeyAndVisible();
    loop_.runUntilIdle();
  }
  DiaryConsole::Step run(std::string_view line) { return console_.execute(line); }

  foundation::ScopedDefaultLocale locale_{foundation::Locale("en_US")};
  foundation::ScopedDefaultTimeZone zone_{foundation::TimeZone::utc()};
  testing_support::TempDir dir_;
  std::shared_ptr<FeedScreen> screen_;
  DiaryConsole console_{clock_, loop_, dir_.path(), 2};
};

TEST_F(DiaryConsoleTest, CommandsReachTheScreenAPersonSees) {
  EXPECT_TRUE(run("tap Save").ok);
  EXPECT_EQ(screen_->saves, 1);

  EXPECT_TRUE(run("tap Name").ok);
  EXPECT_TRUE(ui::Keyboard::isVisible());
  EXPECT_TRUE(run("type Ada").ok);
  EXPECT_TRUE(run("key delete").ok);
  EXPECT_TRUE(run("type \"a Lovelace\"").ok);
  EXPECT_EQ(screen_->field->text(), "Ada Lovelace");
  // Only a tablet's keyboard has a key that puts it away.
  EXPECT_FALSE(run("key hide").ok);
  EXPECT_TRUE(ui::Keyboard::isVisible());

  // A row below the fold is scrolled to; a row by its numbers.
  EXPECT_TRUE(run("pick Doctor").ok);
  EXPECT_TRUE(run("pick 0 1").ok);
  EXPECT_EQ(screen_->picked, (std::vector<int>{7, 1}));

  // While the alert is up only its buttons take taps.
  EXPECT_TRUE(run("tap Ask").ok);
  auto covered = run("tap Save");
  EXPECT_FALSE(covered.ok);
  EXPECT_NE(covered.message.find("\"Delete\""), std::string::npos) << covered.message;
  EXPECT_EQ(screen_->saves, 1);
  EXPECT_TRUE(run("tap Delete").ok);
  EXPECT_EQ(screen_->answers, std::vector<int>{1});

  // Controls a view draws itself, and a text under an invisible button, go by what they show.
  EXPECT_TRUE(run("tap Fast").ok);
  EXPECT_TRUE(run("tap Slow").ok);
  EXPECT_EQ(screen_->dial->taps, (std::vector<std::string>{"Fast", "Slow"}));
  EXPECT_TRUE(run("tap Notice").ok);
  EXPECT_EQ(screen_->noticeTaps, 1);

  EXPECT_FALSE(run("back").ok);
  EXPECT_TRUE(run("tap Push").ok);
  EXPECT_EQ(screen_->navigationController()->viewControllers().size(), 2u);
  EXPECT_TRUE(run("back").ok);
  EXPECT_EQ(screen_->navigationController()->viewControllers().size(), 1u);

  const foundation::Date before = clock_.now();
  bool fired = false;
  loop_.performAfter(90, [&fired] { fired = true; });
  EXPECT_TRUE(run("advance 2m").ok);
  EXPECT_TRUE(fired);
  EXPECT_DOUBLE_EQ(clock_.now().sinceReference - before.sinceReference, 120);

  // A job still running on its queue keeps the wait going; once it is done, what it handed to the
  // screen is there before the wait ends.
  bool reported = false;
  {
    std::promise<void> release;
    runtime::SerialQueue job("report");
    job.async([this, &reported, done = release.get_future().share()] {
      done.wait();
      loop_.performSoon([&reported] { reported = true; });
    });
    const auto still = run("wait 2");
    EXPECT_FALSE(still.ok);
    EXPECT_NE(still.message.find("still runs"), std::string::npos) << still.message;
    release.set_value();
    EXPECT_TRUE(run("wait 10").ok);
  }
  EXPECT_TRUE(reported);

  auto path = console_.renderStep();
  ASSERT_TRUE(path.ok());
  EXPECT_GT(std::filesystem::file_size(*path), 1000u);
}

TEST_F(DiaryConsoleTest, APersonScrollsTurnsAndDeletesByWhatTheyRead) {
  // The date picker shows 10:40 AM (UTC) and goes at most twelve hours on; it is turned by a time
  // written as the screen writes one, and stops at its limit.
  auto look = run("look");
  EXPECT_NE(look.message.find("\"10:40\u202FAM\""), std::string::npos) << look.message;
  EXPECT_TRUE(run("pick \"9:30 PM\"").ok);
  EXPECT_EQ(screen_->clock->date().sinceReference, 600000000 + (21 * 60 + 30 - (10 * 60 + 40)) * 60.0);
  auto held = run("pick \"11:55 PM\"");
  EXPECT_TRUE(held.ok);
  EXPECT_NE(held.message.find("no further than"), std::string::npos) << held.message;
  EXPECT_EQ(screen_->clockTurns, 2);

  // A title whose blank is a no-break space is named with a plain one.
  EXPECT_TRUE(run("tap \"Feed now\"").ok);
  EXPECT_EQ(screen_->feeds, 1);

  // A time whose blank is a narrow space is named with a plain one; a row that shows it is what
  // the person means, not the date picker.
  EXPECT_TRUE(run("pick Doctor").ok);
  EXPECT_TRUE(run("pick \"7:05 AM\"").ok);
  EXPECT_EQ(screen_->picked, (std::vector<int>{7, 8}));
  EXPECT_EQ(screen_->clockTurns, 2);
  screen_->table->setContentOffset(graphics::Point(0, 0));

  // The window's mouse: held and moved it drags, the wheel scrolls, a click without a move taps.
  EXPECT_TRUE(console_.touchDown(graphics::Point(160, 400)).ok);
  EXPECT_TRUE(console_.touchMove(graphics::Point(160, 380)).ok);
  EXPECT_EQ(screen_->table->contentOffset().y, 20);
  EXPECT_TRUE(console_.touchUp(graphics::Point(160, 380)).ok);
  EXPECT_TRUE(console_.wheel(graphics::Point(160, 300), graphics::Point(0, -120)).ok);
  EXPECT_EQ(screen_->table->contentOffset().y, 0);
  EXPECT_FALSE(console_.wheel(graphics::Point(160, 300), graphics::Point(0, -40)).ok);
  EXPECT_EQ(screen_->picked.size(), 2u);
  // The list starts at y 284 in the window: row 1 at 328.
  EXPECT_TRUE(console_.touchDown(graphics::Point(160, 340)).ok);
  EXPECT_TRUE(console_.touchUp(graphics::Point(161, 341)).ok);
  EXPECT_EQ(screen_->picked.back(), 1);

  // A swipe up or down with nothing named goes across the list, wherever it lies.
  EXPECT_TRUE(run("swipe up").ok);
  EXPECT_EQ(screen_->table->contentOffset().y, 120);
  EXPECT_TRUE(run("swipe down").ok);
  EXPECT_EQ(screen_->table->contentOffset().y, 0);

  // A finger drawn up the list scrolls it and opens nothing.
  EXPECT_TRUE(run("drag 160 400 160 300").ok);
  EXPECT_EQ(screen_->table->contentOffset().y, 100);
  EXPECT_EQ(screen_->picked.size(), 3u);

  // Swiped left, a row shows its Delete button; a tap on it deletes the row.
  EXPECT_TRUE(run("swipe left Bath").ok);
  look = run("look");
  EXPECT_NE(look.message.find("\"Delete\""), std::string::npos) << look.message;
  EXPECT_TRUE(run("tap Delete").ok);
  EXPECT_EQ(std::count(screen_->rows.begin(), screen_->rows.end(), "Bath"), 0);
  EXPECT_EQ(screen_->rows.size(), 8u);

  // A clock that would have to run for ever is refused at once.
  auto endless = run("advance 1e9d");
  EXPECT_FALSE(endless.ok);
  EXPECT_NE(endless.message.find("at most"), std::string::npos) << endless.message;
  EXPECT_EQ(clock_.now().sinceReference, 600000000);
}

TEST_F(DiaryConsoleTest, RefusedCommandsChangeNothing) {
  const struct {
    std::string_view line;
    std::string_view says;
  } cases[] = {
      {"tap Delete", "no control \"Delete\""},
      {"pick Swim", "no row \"Swim\""},
      {"pick 3 0", "no row 3 0"},
      {"type Ada", "no field is being edited"},
      {"swipe sideways", "no direction"},
      {"advance soon", "usage: advance"},
      {"advance 400000d", "at most"},
      {"pick \"the day after\"", "no row"},
      {"dance", "no command \"dance\""},
  };
  for (const auto& c : cases) {
    auto step = run(c.line);
    EXPECT_FALSE(step.ok) << c.line;
    EXPECT_FALSE(step.changed) << c.line;
    EXPECT_NE(step.message.find(c.says), std::string::npos) << c.line << ": " << step.message;
  }
  EXPECT_EQ(screen_->saves, 0);
  EXPECT_TRUE(screen_->picked.empty());
  EXPECT_EQ(screen_->table->contentOffset().y, 0);
  EXPECT_TRUE(run("# a comment").ok);
  EXPECT_TRUE(run("quit").quit);
}

TEST_F(DiaryConsoleTest, ATextSeveralControlsShowIsRefusedUntilItsNumberNamesOne) {
  // "Sleep" is the button at the top right and the list's fourth row; "Save" and "Notice" (a text
  // under the invisible button it names) are one control each.
  const struct {
    std::string_view line;
    bool ok;
    std::string_view says;
    int sleeps;
    size_t picked;
  } cases[] = {
      {"tap Sleep", false, "#1 a button at 280 164", 0, 0},
      {"tap Sleep", false, "#2 a text in a list row at", 0, 0},
      {"swipe left Sleep", false, "swipe left \"Sleep\" #2", 0, 0},
      {"tap Sleep #3", false, "only 2 show that text", 0, 0},
      {"tap \"Sleep #0\"", false, "no control \"Sleep #0\"", 0, 0},
      {"tap Sleep #2", true, "", 0, 1},
      {"tap Sleep #1", true, "", 1, 1},
      {"tap Save", true, "", 1, 1},
      {"tap Notice", true, "", 1, 1},
  };
  for (const auto& c : cases) {
    const auto step = run(c.line);
    EXPECT_EQ(step.ok, c.ok) << c.line << ": " << step.message;
    EXPECT_NE(step.message.find(c.says), std::string::npos) << c.line << ": " << step.message;
    EXPECT_EQ(screen_->sleeps, c.sleeps) << c.line;
    EXPECT_EQ(screen_->picked.size(), c.picked) << c.line;
  }
  EXPECT_EQ(screen_->picked, std::vector<int>{3});
  const auto look = run("look");
  EXPECT_NE(look.message.find("shown by several controls (tap TEXT #N, 1 the top): \"Sleep\""), std::string::npos)
      << look.message;
  EXPECT_EQ(look.message.find("\"Save\"", look.message.find("several")), std::string::npos) << look.message;
  // Swiped by its number, the row offers its Delete button.
  EXPECT_TRUE(run("swipe left Sleep #2").ok);
  EXPECT_TRUE(run("tap Delete").ok);
  EXPECT_EQ(std::count(screen_->rows.begin(), screen_->rows.end(), "Sleep"), 0);
  EXPECT_TRUE(run("tap Sleep").ok);
  EXPECT_EQ(screen_->sleeps, 2);
}

// The editor's drawn keypad under a display of what was keyed, as a value panel lays them out.
class PadScreen : public ui::ViewController {
 public:
  void viewDidLoad() override {
    view()->setBackgroundColor(graphics::Color::white());
    keypad = std::make_shared<note_editor::noteEditPickerPanelView>();
    keypad->setFrame(graphics::Rect(0, 268, 320, 300));
    keypad->setKeySink([this](int key) {
      static const char* const kKeys[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", ".", "0"};
      if (key == 11) {
        if (!keyed.empty()) keyed.pop_back();
      } else {
        keyed += kKeys[key];
      }
      display->setText(keyed);
    });
    view()->addSubview(keypad);
    display = std::make_shared<ui::Label>(graphics::Rect(20, 268, 280, 44));
    view()->addSubview(display);
  }
  std::shared_ptr<note_editor::noteEditPickerPanelView> keypad;
  std::shared_ptr<ui::Label> display;
  std::string keyed;
};

TEST_F(DiaryConsoleTest, TheDrawnKeypadTakesTypedDigitsAndItsKeysByNumber) {
  auto pad = std::make_shared<PadScreen>();
  auto window = std::make_shared<ui::Window>();
  window->setRootViewController(pad);
  ui::Application::shared().setKeyWindow(window);
  window->makeKeyAndVisible();
  loop_.runUntilIdle();
  const struct {
    std::string_view line;
    bool ok;
    std::string_view says;
    std::string_view keyed;
  } cases[] = {
      {"tap 9", true, "", "9"},
      // The display shows "9" over the keypad's band: the key is named by its number.
      {"tap 9", false, "#2 a drawn button at 267", "9"},
      {"tap 9 #2", true, "", "99"},
      {"type 75", true, "", "9975"},
      {"type 7a", false, "digits", "9975"},
      {"key delete", true, "", "997"},
      {"type \",5\"", true, "", "997.5"},
      {"key return", false, "no field", "997.5"},
  };
  for (const auto& c : cases) {
    const auto step = run(c.line);
    EXPECT_EQ(step.ok, c.ok) << c.line << ": " << step.message;
    EXPECT_NE(step.message.find(c.says), std::string::npos) << c.line << ": " << step.message;
    EXPECT_EQ(pad->keyed, c.keyed) << c.line;
  }
  // A keypad slid off the screen takes nothing.
  pad->keypad->setFrame(graphics::Rect(0, 568, 320, 300));
  const auto gone = run("type 1");
  EXPECT_FALSE(gone.ok);
  EXPECT_NE(gone.message.find("no field"), std::string::npos) << gone.message;
  EXPECT_EQ(pad->keyed, "997.5");
}

TEST(DiaryArguments, ReadsTheProgramsOptions) {
  auto options = program::parseDiaryArguments({"--script", "day.diary", "--no-window", "--screens", "out"});
  ASSERT_TRUE(options.ok());
  EXPECT_EQ(options->script, std::filesystem::path("day.diary"));
  EXPECT_EQ(options->screens, std::filesystem::path("out"));
  EXPECT_FALSE(options->window);
  EXPECT_FALSE(program::parseDiaryArguments({"--script"}).ok());
  EXPECT_FALSE(program::parseDiaryArguments({"--fast"}).ok());

  // Every device in portrait and landscape; the tablet turned is wider than high.
  for (const auto& name : program::diaryDeviceNames()) {
    for (const std::string& form : {name, name + "-portrait", name + "-landscape"}) {
      auto parsed = program::parseDiaryArguments({"--device", form, "--language", "ru"});
      ASSERT_TRUE(parsed.ok()) << form;
      EXPECT_EQ(parsed->device, form);
      EXPECT_EQ(parsed->language, "ru");
    }
  }
  auto pad = program::diaryDeviceProfile("ipad-landscape");
  ASSERT_TRUE(pad.ok());
  EXPECT_TRUE(pad->isPad());
  EXPECT_TRUE(pad->isLandscape());
  auto unknown = program::parseDiaryArguments({"--device", "pager"});
  ASSERT_FALSE(unknown.ok());
  EXPECT_NE(unknown.error().localizedDescription().find("ipad"), std::string::npos);
  EXPECT_FALSE(program::parseDiaryArguments({"--language", "../etc"}).ok());
}

}  // namespace
