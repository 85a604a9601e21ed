// A person walks the diary program through every screen the main screen leads to, on a phone and on
// the tablet, in English, Russian and German, and through the first things a parent does: open the
// chooser's last row, scroll the list to an earlier day, back-date a note, turn the birthday's wheel,
// delete by a swipe, mail a report, find the filter button. Each is a script the `diary` program runs;
// after each screen `look` must list what the screen places (so it lies on the screen and shows
// something a person can name), and what was done is read back from the store. A case whose control
// the program does not offer yet is skipped, naming the control. The screens go to
// test-output/person_walk/<walk>.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "app/app_delegate.h"
#include "app/entities.h"
#include "app/model.h"
#include "linked_cloud.h"
#include "platform/foundation/clock.h"
#include "platform/runtime/bundle.h"
#include "platform/store/store.h"
#include "program_run.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace program_run;

// One run of the program on home/"root" with a script, its pictures in test-output/person_walk/<walk>.
DiaryRun runDiary(const testing_support::TempDir& home, const std::string& script, const std::string& walk,
                  const std::string& arguments = "") {
  return runDiaryScript(home, script, testing_support::testOutput() / "person_walk" / walk, arguments);
}

// The interface's texts in one language.
class Texts {
 public:
  explicit Texts(std::string language) : language_(std::move(language)) {}
  std::string operator()(std::string_view key) const {
    return bundle().localizedStringInLanguage(key, language_);
  }
  const std::string& language() const { return language_; }

  // Fills "{Key}" with the key's quoted text.
  std::string fill(const std::string& pattern) const {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
      const size_t close = pattern[i] == '{' ? pattern.find('}', i) : std::string::npos;
      if (close == std::string::npos) {
        out += pattern[i];
        continue;
      }
      out += "\"" + (*this)(pattern.substr(i + 1, close - i - 1)) + "\"";
      i = close;
    }
    return out;
  }

 private:
  static const runtime::Bundle& bundle() {
    static const runtime::Bundle b(testing_support::resourcesFolder());
    return b;
  }
  std::string language_;
};

// A stop of a walk: the commands that reach a screen, then what `look` must list there (keys of the
// interface's texts; a leading "@" names a picture or a text shown as it stands).
struct Stop {
  std::string commands;
  std::vector<std::string> shows;
};

// The new baby and the first-run units, in English: the language is chosen afterwards, as a parent
// who finds the setting would.
constexpr const char* kFirstRun = kNewBabyFirstRun;

// The language's own name on the language screen.
std::string languageRow(const std::string& language) {
  static const std::map<std::string, std::string> names{
      {"ru", "Русский"}, {"de", "Deutsch"}, {"en", "English"}};
  return names.at(language);
}

std::string chooseLanguage(const Texts& t) {
  if (t.language() == "en") return "";
  return "tap iPhone_list_button\ntap Settings\ntap Language\ntap \"" + languageRow(t.language()) +
         "\"\ntap OK\n" + t.fill("tap {Done}\n");
}

// Every screen the phone's main screen leads to, and back.
std::vector<Stop> phoneStops() {
  return {
      {"", {"List", "Summary", "@iPhone_list_button", "@iPhone_sum_button", "@+", "@Ada"}},
      {"tap {Summary}", {"List", "Summary"}},
      {"tap {List}\ntap +", {"Categories", "Cancel", "Edit", "Breast Feeding", "Sleep", "WC"}},
      {"drag 160 500 160 60", {"Pool", "Event", "Note"}},
      {"tap {Edit}", {"Breast Feeding", "Sleep"}},
      {"back\ntap {Weight}",
       {"@iPhone_ok_button_white", "@iPhone_cancel_button", "@edit_photo_white", "Date"}},
      {"tap {Date}", {"Now", "Cancel", "Done"}},
      {"tap {Cancel}\ntap iPhone_cancel_button\ntap {WC}\ntap {Wet}",
       {"Search", "Wet", "Dry", "Poopy", "Edit", "@iPhone_back_button"}},
      {"back\ntap iPhone_cancel_button", {"List", "Summary"}},
      {"tap iPhone_sum_button", {"Latest Updates", "@iPhone_ok_button_white"}},
      {"tap iPhone_ok_button_white\ntap iPhone_list_button",
       {"Settings", "Contacts", "Allergies", "Photos", "Reminders", "Graph of the day", "Growth graph"}},
      {"tap {Settings}", {"Measurement units", "Language", "Report", "Cloud", "Feedback", "Done"}},
      {"tap {Measurement units}",
       {"Measurement units", "Weight", "Height", "Temperature", "@iPhone_back_button"}},
      {"back\ntap {Language}", {"@English", "@Deutsch", "@Русский"}},
      {"back\ntap {Report}", {"Report", "Begin", "End", "Basic Filter", "Detailed Filter", "Start"}},
      {"back\ntap {Cloud}", {"Cloud", "@cloud_icon"}},
      {"back\ntap {Done}\ntap iPhone_list_button\ntap {Contacts}", {"Contacts", "Done"}},
      {"tap {Done}\ntap iPhone_list_button\ntap {Allergies}", {"Allergies", "Done"}},
      {"tap {Done}\ntap iPhone_list_button\ntap {Photos}", {"Photos", "Done"}},
      {"tap {Done}\ntap iPhone_list_button\ntap {Reminders}", {"Reminders", "Done", "@+"}},
      {"tap +", {"Categories", "Sleep", "Edit"}},
      {"tap {Sleep}", {"Sleep", "@iPhone_cancel_button", "@iPhone_ok_button_white"}},
      {"tap iPhone_cancel_button\nback\ntap {Done}\ntap iPhone_list_button\ntap {Graph of the day}",
       {"Graph of the day", "Done", "@<", "@>"}},
      {"tap {Done}\ntap iPhone_list_button\ntap {Growth graph}",
       {"Growth graph", "Weight", "Height", "Done"}},
      {"tap {Done}\ntap Ada", {"Babies", "@Ada", "@+"}},
      {"tap +", {"New baby", "Name", "Cancel", "Done"}},
      {"tap {Cancel}\ntap Ada", {"List", "Summary"}},
  };
}

// The script of a walk and the texts each of its looks must list.
struct Walk {
  std::string script;
  std::vector<std::vector<std::string>> expected;
};

Walk walkOf(const std::vector<Stop>& stops, const Texts& t, const std::string& prelude) {
  Walk walk;
  walk.script = prelude;
  for (const auto& stop : stops) {
    walk.script += t.fill(stop.commands) + (stop.commands.empty() ? "" : "\n") + "look\n";
    std::vector<std::string> texts;
    for (const auto& shown : stop.shows) texts.push_back(shown.starts_with("@") ? shown.substr(1) : t(shown));
    walk.expected.push_back(std::move(texts));
  }
  walk.script += "quit\n";
  return walk;
}

// Runs a walk: every command must be taken, and every look must list what its stop expects.
void walkThrough(const Walk& walk, const std::string& name, const std::string& arguments = "") {
  testing_support::TempDir home;
  const DiaryRun run = runDiary(home, walk.script, name, arguments);
  ASSERT_EQ(run.status, 0) << run.out;
  const auto seen = lookTexts(run.out);
  ASSERT_EQ(seen.size(), walk.expected.size()) << run.out;
  for (size_t i = 0; i < seen.size(); ++i) {
    const std::set<std::string> listed(seen[i].begin(), seen[i].end());
    std::string shown;
    for (const auto& text : seen[i]) shown += (shown.empty() ? "\"" : ", \"") + text + "\"";
    for (const auto& text : walk.expected[i])
      EXPECT_TRUE(listed.count(text))
          << name << ", stop " << i << ": \"" << text << "\" is not on the screen; it lists " << shown;
  }
}

class PersonWalk : public ::testing::Test {};

TEST_F(PersonWalk, EveryScreenOfThePhoneInEachLanguage) {
  for (const char* language : {"en", "ru", "de"}) {
    const Texts t(language);
    walkThrough(walkOf(phoneStops(), t, kFirstRun + chooseLanguage(t)), std::string("phone-") + language);
  }
}

// --- The first things a parent does, each as a script the program runs.

// A date as the wheels show one ("Dec 5, 2026"), `days` from now.
std::string wheelDate(int days) {
  const std::time_t when = std::time(nullptr) + days * 86400;
  char date[32];
  std::strftime(date, sizeof date, "%b %-d, %Y", std::localtime(&when));
  return date;
}

TEST_F(PersonWalk, TheChoosersLastRowOpensANote) {
  testing_support::TempDir home;
  const DiaryRun run = runDiary(home, std::string(kFirstRun) + R"(tap +
drag 160 500 160 60
tap Note
tap iPhone_ok_button_white
quit
)",
                                "chooser-last-row");
  ASSERT_EQ(run.status, 0) << run.out;
  OpenStore keep;
  EXPECT_EQ(storedNotes(home, keep).count("Note"), 1u) << run.out;
}

TEST_F(PersonWalk, TheListScrollsToAnEarlierDay) {
  testing_support::TempDir home;
  // The first day's diaper carries a notice; a walk on each of the seven days after it.
  std::string script = std::string(kFirstRun) +
                       "tap Diaper\ntap Note\ntype the very first\ntap Done\n"
                       "tap iPhone_ok_button_white\n";
  // The strip's walk is the top one once the list shows a walk too.
  for (int day = 0; day < 7; ++day) script += "advance 1d\ntap Walk #1\ntap iPhone_ok_button_white\n";
  script += "look\n";
  for (int i = 0; i < 8; ++i) script += "drag 160 520 160 140\n";
  script += "look\nquit\n";
  const DiaryRun run = runDiary(home, script, "list-scrolled");
  ASSERT_EQ(run.status, 0) << run.out;
  const auto all = lookTexts(run.out);
  ASSERT_EQ(all.size(), 2u) << run.out;
  const std::set<std::string> before(all[0].begin(), all[0].end()), after(all[1].begin(), all[1].end());
  EXPECT_FALSE(before.count("the very first")) << "the first day should start out of sight";
  EXPECT_TRUE(after.count("the very first")) << run.out;
}

TEST_F(PersonWalk, ANoteBackDatedThroughThePanelIsStoredSo) {
  testing_support::TempDir home;
  const DiaryRun run = runDiary(home,
                                std::string(kFirstRun) + "tap Diaper\ntap Date\npick \"" + wheelDate(-2) +
                                    "\"\ntap Done\ntap iPhone_ok_button_white\nquit\n",
                                "back-dated");
  ASSERT_EQ(run.status, 0) << run.out;
  OpenStore keep;
  const auto notes = storedNotes(home, keep);
  ASSERT_EQ(notes.count("WC"), 1u) << run.out;
  const auto start = notes.find("WC")->second.note_DateStart();
  ASSERT_TRUE(start);
  const double ago = foundation::Clock::system().now() - *start;
  EXPECT_GT(ago, 86400) << run.out;
  EXPECT_LT(ago, 3 * 86400) << run.out;
}

TEST_F(PersonWalk, ASwipeDeletesTheRow) {
  testing_support::TempDir home;
  const DiaryRun run = runDiary(home,
                                std::string(kFirstRun) +
                                    "tap Diaper\ntap iPhone_ok_button_white\n"
                                    "swipe left Wet\nlook\nquit\n",
                                "swipe-delete");
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_TRUE(lastLookTexts(run.out).count("Delete")) << run.out;
  testing_support::TempDir again;
  const DiaryRun deleted = runDiary(again,
                                    std::string(kFirstRun) +
                                        "tap Diaper\ntap iPhone_ok_button_white\n"
                                        "swipe left Wet\ntap Delete\nquit\n",
                                    "swipe-delete");
  ASSERT_EQ(deleted.status, 0) << deleted.out;
  OpenStore keep;
  EXPECT_EQ(storedNotes(again, keep).count("WC"), 0u) << deleted.out;
}

TEST_F(PersonWalk, AReportIsMailedWithItsAttachment) {
  testing_support::TempDir home;
  const std::string toReport =
      std::string(kFirstRun) +
      "tap Diaper\ntap iPhone_ok_button_white\n"
      "tap iPhone_list_button\ntap Settings\ntap Report\ntap Start\nwait 60\ntap Send\n";
  const DiaryRun composing = runDiary(home, toReport + "look\nquit\n", "report-mailed");
  ASSERT_EQ(composing.status, 0) << composing.out;
  ASSERT_TRUE(lastLookTexts(composing.out).count("Send")) << composing.out;
  testing_support::TempDir sent;
  // Send does nothing while the mail has no recipient; once one is typed it sends, once.
  const DiaryRun run =
      runDiary(sent, toReport + "tap Send\ntap Recipients\ntype parent@example.com\ntap Send\nlook\nquit\n",
               "report-mailed");
  ASSERT_EQ(run.status, 0) << run.out;
  std::vector<fs::path> mails;
  for (const auto& entry : fs::recursive_directory_iterator(sent / "root"))
    if (entry.path().extension() == ".eml") mails.push_back(entry.path());
  ASSERT_EQ(mails.size(), 1u) << run.out;
  const std::string mail = readFile(mails.front());
  EXPECT_NE(mail.find("To: parent@example.com"), std::string::npos) << mail.substr(0, 2000);
  EXPECT_NE(mail.find("Content-Disposition: attachment"), std::string::npos) << mail.substr(0, 2000);
  EXPECT_NE(mail.find(".pdf"), std::string::npos) << mail.substr(0, 2000);
  // The composer went: the report screen is back.
  EXPECT_FALSE(lastLookTexts(run.out).empty()) << run.out;
}

TEST_F(PersonWalk, TheRunningTimersRowIsNamedApartFromTheStrip) {
  // A feeding timer runs while the main screen shows: its row and the strip's slot show the same
  // text. Named alone, the text is refused with both candidates; named by its number, the row opens
  // the running timer, which is stopped and saved as one note.
  const std::string running = std::string(kFirstRun) +
                              "tap \"Breast Feeding\"\ntap Right\ntap iPhone_to_mainscreen_button\nadvance 5m\n";
  const struct {
    std::string name;
    std::string commands;
    int status;
    std::vector<std::string> says;
    size_t feedings;
  } cases[] = {
      {"timer-ambiguous", "tap \"Breast Feeding\"\n", 1,
       {"\"Breast Feeding\" names 2 controls", "#1 a drawn button at", "#2 a text in a list row at",
        "tap \"Breast Feeding\" #2"},
       0},
      {"timer-by-number", "tap \"Breast Feeding\" #2\nlook\nadvance 2m\ntap Stop\ntap Stop\ntap iPhone_ok_button_white\n",
       0, {"\"05:00\""}, 1},
  };
  for (const auto& c : cases) {
    testing_support::TempDir home;
    const DiaryRun run = runDiary(home, running + c.commands + "quit\n", c.name);
    EXPECT_EQ(run.status, c.status) << c.name << ": " << run.out;
    for (const auto& text : c.says) EXPECT_NE(run.out.find(text), std::string::npos) << c.name << ": " << text << "\n" << run.out;
    OpenStore keep;
    const auto notes = storedNotes(home, keep);
    ASSERT_EQ(notes.count("Breast Feeding"), c.feedings) << c.name << ": " << run.out;
    if (c.feedings) {
      const auto& note = notes.find("Breast Feeding")->second;
      ASSERT_TRUE(note.note_DateStart() && note.note_DateStop()) << c.name;
      EXPECT_DOUBLE_EQ((*note.note_DateStop() - *note.note_DateStart()) / 60, 7) << c.name;
    }
  }
}

TEST_F(PersonWalk, ThePlatformsOwnTextsSpeakTheInterfaceLanguage) {
  // A row's delete button, then the mail screen: its buttons, its rows' names, its empty fields.
  // Every text is whole, the mail's title too (between the Russian buttons it shrinks to fit).
  const struct {
    std::string language;
    std::string deleteButton;
    std::vector<std::string> mail;
    std::vector<std::string> cut;
  } cases[] = {
      {"de", "Löschen", {"Abbrechen", "Senden", "An:", "Betreff:", "Empfänger", "Nachricht"}, {}},
      {"ru", "Удалить", {"Отменить", "Отправить", "Кому:", "Тема:", "Получатели", "Сообщение"}, {}},
      {"en", "Delete", {"Cancel", "Send", "To:", "Subject:", "Recipients", "Message"}, {}},
  };
  for (const auto& c : cases) {
    const Texts t(c.language);
    const std::string script =
        t.fill("tap {Name}\ntype Ada\nkey return\ntap {Girl}\ntap {Done}\ntap {Notation_kg}\ntap {Notation_cm}\n"
               "tap {Notation_celsius}\ntap {Start}\ntap {Start}\ntap {WC}\ntap iPhone_ok_button_white\n"
               "swipe left {WC} #2\nlook\n") +
        "tap \"" + c.deleteButton + "\"\n" +
        t.fill("tap iPhone_list_button\ntap {Settings}\ntap {Report}\ntap {Start}\nwait 60\ntap {Send}\nlook\nquit\n");
    testing_support::TempDir home;
    const DiaryRun run = runDiary(home, script, "platform-texts-" + c.language, "--language " + c.language);
    ASSERT_EQ(run.status, 0) << c.language << ": " << run.out;
    const auto seen = lookTexts(run.out);
    ASSERT_EQ(seen.size(), 2u) << c.language << ": " << run.out;
    const std::set<std::string> swiped(seen[0].begin(), seen[0].end()), mail(seen[1].begin(), seen[1].end());
    EXPECT_TRUE(swiped.count(c.deleteButton)) << c.language << ": " << run.out;
    for (const auto& text : c.mail) EXPECT_TRUE(mail.count(text)) << c.language << ": " << text << "\n" << run.out;
    EXPECT_EQ(cutTexts(run.out), c.cut) << c.language << ": " << run.out;
    if (c.language != "en") {
      EXPECT_FALSE(swiped.count("Delete")) << c.language;
      for (const char* english : {"Cancel", "To:", "Subject:", "Recipients", "Message"})
        EXPECT_FALSE(mail.count(english)) << c.language << ": " << english;
    }
    OpenStore keep;
    EXPECT_EQ(storedNotes(home, keep).count("WC"), 0u) << c.language << ": the row was deleted\n" << run.out;
  }
}

TEST_F(PersonWalk, TheBirthdayWheelTurnsToAnEarlierDay) {
  testing_support::TempDir home;
  const DiaryRun run = runDiary(
      home, "tap Name\ntype Ada\nkey return\ntap Girl\npick \"" + wheelDate(-10) + "\"\ntap Done\nquit\n",
      "birthday");
  ASSERT_EQ(run.status, 0) << run.out;
  auto opened = store::Store::open(home / "root" / "Documents" / std::string(app::kDataBaseFileName),
                                   app::managedObjectModel());
  ASSERT_TRUE(opened.ok());
  auto context = (*opened)->newReadOnlyContext();
  ASSERT_TRUE(context.ok());
  auto babies = (*context)->fetch(store::FetchRequest(std::string(app::Baby::kEntityName)));
  ASSERT_TRUE(babies.ok());
  ASSERT_EQ(babies->size(), 1u);
  const auto birthday = app::Baby(babies->front()).baby_BirthDay();
  ASSERT_TRUE(birthday);
  EXPECT_NEAR((foundation::Clock::system().now() - *birthday) / 86400, 10, 1.01) << run.out;
}

TEST_F(PersonWalk, AReminderIsSetForTomorrowOnItsWheel) {
  testing_support::TempDir home;
  const DiaryRun run = runDiary(home,
                                std::string(kFirstRun) +
                                    "tap iPhone_list_button\ntap Reminders\ntap +\n"
                                    "tap Sleep\npick \"" +
                                    wheelDate(1) + "\"\ntap iPhone_ok_button_white\nlook\nquit\n",
                                "reminder");
  ASSERT_EQ(run.status, 0) << run.out;
  // Back on the list, which shows the new reminder.
  const auto shown = lastLookTexts(run.out);
  EXPECT_TRUE(shown.count("Reminders") && shown.count("Sleep") && !shown.count("iPhone_ok_button_white"))
      << run.out;
}

TEST_F(PersonWalk, TheListsFilterButtonShowsItsPicture) {
  testing_support::TempDir home;
  const DiaryRun run = runDiary(home, std::string(kFirstRun) + "look\nquit\n", "filter-button");
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_TRUE(lastLookTexts(run.out).count("iPhone_filter_button")) << run.out;
  testing_support::TempDir again;
  const DiaryRun filtering =
      runDiary(again, std::string(kFirstRun) + "tap iPhone_filter_button\nlook\nquit\n", "filter-button");
  ASSERT_EQ(filtering.status, 0) << filtering.out;
  EXPECT_TRUE(lastLookTexts(filtering.out).count("Apply")) << filtering.out;
}

TEST_F(PersonWalk, EveryScreenOfTheTabletsPanel) {
  const std::string tablet = "ipad";
  // Started in Russian and in German: the first run and the main screen with its panel.
  for (const char* language : {"ru", "de"}) {
    const Texts t(language);
    const std::string firstRun = t.fill(
        "tap {Name}\ntype Ada\nkey return\ntap {Girl}\ntap {Done}\ntap {Notation_kg}\ntap {Notation_cm}\n"
        "tap {Notation_celsius}\ntap {Start}\ntap {Start}\n");
    walkThrough(
        walkOf({{"", {"List", "Summary", "Reminders", "Graph of the day", "Growth graph", "Settings"}}}, t,
               firstRun),
        std::string("tablet-") + language, "--device " + tablet + " --language " + language);
  }
  const Texts t("en");
  // Each of the panel's screens opens and closes again; every entry shows its picture.
  std::vector<Stop> stops{
      {"",
       {"List", "Summary", "Reminders", "Graph of the day", "Growth graph", "Settings", "@iPad_icon_reminders",
        "@iPad_icon_day_graph", "@iPad_icon_graphs", "@iPad_icon_allergies", "@iPad_icon_contacts",
        "@iPad_icon_photos", "@iPad_icon_settings", "@iPhone_sum_button"}}};
  for (const char* screen :
       {"Reminders", "Graph of the day", "Growth graph", "Allergies", "Contacts", "Photos", "Settings"})
    stops.push_back({std::string("tap {") + screen + "}", {screen}});
  Walk walk = walkOf({stops.front()}, t, kFirstRun);
  // Screens shown as form sheets close by their own buttons, which differ: each is walked alone.
  walkThrough(walk, "tablet", "--device " + tablet);
  for (size_t i = 1; i < stops.size(); ++i)
    walkThrough(walkOf({stops[i]}, t, kFirstRun), "tablet-" + std::to_string(i), "--device " + tablet);
}

// --- The bar's buttons once the tutorial is over, after a restart.

// A weight note, the growth graph from the menu, the latest updates, the type order: each moves the
// badge on, and the next refresh ends the tutorial.
constexpr const char* kWholeTutorial = R"(tap +
tap Weight
tap iPhone_ok_button_white
tap iPhone_list_button_badge
tap "Growth graph"
tap Done
tap iPhone_sum_button_badge
tap iPhone_ok_button_white
tap +
tap iPhone_badge
back
tap Cancel
)";

TEST_F(PersonWalk, TheMenuAndLatestUpdatesStayOnTheBarAfterTheTutorialAndARestart) {
  LinkedCloud cloud;
  ASSERT_TRUE(cloud.server().running());
  const struct {
    std::string name;
    std::string script;
  } cases[] = {
      {"tutorial-finished", std::string(kFirstRun) + kWholeTutorial},
      {"restored", std::string(kFirstRun) + kBackUpAndRestore},
  };
  // After the restart the buttons are there by their plain pictures, and each opens its screen.
  const std::string restart =
      "look\ntap iPhone_list_button\ntap Settings\nlook\ntap Done\ntap iPhone_sum_button\nlook\nquit\n";
  for (const auto& c : cases) {
    testing_support::TempDir home;
    const DiaryRun first = runDiary(home, c.script + "quit\n", c.name);
    ASSERT_EQ(first.status, 0) << c.name << ": " << first.out;
    const DiaryRun again = runDiary(home, restart, c.name + "-restarted");
    ASSERT_EQ(again.status, 0) << c.name << ": " << again.out;
    const auto seen = lookTexts(again.out);
    ASSERT_EQ(seen.size(), 3u) << c.name << ": " << again.out;
    const std::set<std::string> bar(seen[0].begin(), seen[0].end());
    EXPECT_TRUE(bar.count("iPhone_list_button") && bar.count("iPhone_sum_button") && bar.count("Ada"))
        << c.name << ": " << again.out;
    EXPECT_FALSE(bar.count("iPhone_list_button_badge") || bar.count("iPhone_sum_button_badge")) << c.name;
    EXPECT_TRUE(std::set<std::string>(seen[1].begin(), seen[1].end()).count("Measurement units")) << c.name;
    EXPECT_TRUE(std::set<std::string>(seen[2].begin(), seen[2].end()).count("Latest Updates")) << c.name;
  }
}

}  // namespace
