// The command mode driving a small screen of its own: what a person names is what gets tapped, and
// a command that names nothing is refused without touching anything.
#include "app/diary_console.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>

#include "platform/graphics/text_measure.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/serial_queue.h"
#include "platform/ui/alert.h"
#include "platform/ui/application.h"
#include "platform/ui/controls.h"
#include "platform/ui/device.h"
#include "platform/ui/keyboard.h"
#include "platform/ui/table_view.h"
#include "platform/ui/text_input.h"
#include "platform/ui/view_controller.h"
#include "support/temp_dir.h"

namespace {

using app::DiaryConsole;

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
  void alertViewClickedButtonAtIndex(ui::AlertView&, int index) override { answers.push_back(index); }

  std::vector<std::string> rows{"Breast left", "Breast right", "Bottle", "Sleep",
                                "Nappy",       "Bath",         "Walk",   "Doctor"};
  std::shared_ptr<ui::Button> save;
  std::shared_ptr<ui::TextField> field;
  std::shared_ptr<ui::TableView> table;
  std::shared_ptr<SpeedDial> dial;
  int saves = 0;
  int noticeTaps = 0;
  std::vector<int> picked;
  std::vector<int> answers;
};

class DiaryConsoleTest : public ::testing::Test {
 protected:
  DiaryConsoleTest() : loop_(clock_), main_(loop_), device_(ui::DeviceProfile::phone568()) {
    ui::removeAllAlerts();
    ui::Application::shared().reset();
    ui::Keyboard::reset();
    screen_ = std::make_shared<FeedScreen>();
    auto window = std::make_shared<ui::Window>();
    window->setRootViewController(std::make_shared<ui::NavigationController>(screen_));
    ui::Application::shared().setKeyWindow(window);
    window->makeKeyAndVisible();
    loop_.runUntilIdle();
  }
  ~DiaryConsoleTest() override {
    if (ui::View* responder = ui::View::currentFirstResponder()) responder->resignFirstResponder();
    ui::removeAllAlerts();
    ui::Application::shared().reset();
    ui::Keyboard::reset();
  }
  DiaryConsole::Step run(std::string_view line) { return console_.execute(line); }

  foundation::ManualClock clock_{foundation::Date{600000000}};
  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop main_;
  ui::ScopedDevice device_;
  graphics::ScopedTextMeasurer measurer_;
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

TEST(DiaryArguments, ReadsTheProgramsOptions) {
  auto options = app::parseDiaryArguments({"--script", "day.diary", "--no-window", "--screens", "out"});
  ASSERT_TRUE(options.ok());
  EXPECT_EQ(options->script, std::filesystem::path("day.diary"));
  EXPECT_EQ(options->screens, std::filesystem::path("out"));
  EXPECT_FALSE(options->window);
  EXPECT_FALSE(app::parseDiaryArguments({"--script"}).ok());
  EXPECT_FALSE(app::parseDiaryArguments({"--fast"}).ok());
}

}  // namespace
