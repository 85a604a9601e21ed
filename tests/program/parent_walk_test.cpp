// A parent walks the diary program on a phone and on the tablet, in English, German and Russian:
// the tooth chart keeps the tooth its date wheel asks about in sight, and the report's tooth page
// keeps every date label whole and on the paper. Each case is a script the `diary` program runs; the
// screens go to test-output/parent_walk/<walk>.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

#include "program_run.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace program_run;

// The texts a language's menu and report are reached by (its first run is program_run's).
struct Language {
  const char* code;
  const char *done, *start, *settings, *report, *teeth;
};
const Language kEnglish{"en", "Done", "Start", "Settings", "Report", "Teeth"};
const Language kGerman{"de", "Fertig", "Start", "Einstellungen", "Bericht", "Zähne"};
const Language kRussian{"ru", "Готово", "Старт", "Настройки", "Отчёт", "Зубы"};

// A new girl, Ada, and the metric first-run units, typed in the language.
std::string firstRun(const Language& l) { return program_run::firstRun("Ada", l.code); }

DiaryRun runWalk(const testing_support::TempDir& home, const std::string& script, const std::string& walk,
                 const std::string& arguments) {
  return runDiaryScript(home, script + "quit\n", testing_support::testOutput() / "parent_walk" / walk, arguments);
}

TEST(ParentWalk, TheToothTheDateWheelAsksAboutStaysInSight) {
  // The wheel's panel covers part of the chart; whichever jaw the tooth is in, it is not that part.
  struct Case {
    const char* name;
    const char* arguments;
    const char* toTeeth;
    std::string taps;  // the last tap opens the wheel for this tooth
    const char* tooth;
    const char* asks;
  };
  const Case cases[] = {
      {"phone-upper", "", "tap iPhone_list_button\ntap Teeth\n", "tap \"tooth 3\"\n", "tooth 3", "Tooth Appeared"},
      {"phone-lower", "", "tap iPhone_list_button\ntap Teeth\n", "tap \"tooth 12\"\n", "tooth 12", "Tooth Appeared"},
      {"phone-lower-lost", "", "tap iPhone_list_button\ntap Teeth\n", "tap \"tooth 19\"\ntap Done\ntap \"tooth 19\"\n",
       "tooth 19", "Lost Tooth"},
      {"tablet-upper", "--device ipad", "tap Teeth\n", "tap \"tooth 6\"\n", "tooth 6", "Tooth Appeared"},
      {"tablet-lower", "--device ipad", "tap Teeth\n", "tap \"tooth 15\"\n", "tooth 15", "Tooth Appeared"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir home;
    const DiaryRun run = runWalk(home, firstRun(kEnglish) + c.toTeeth + c.taps + "look\n", c.name, c.arguments);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto looks = lookTexts(run.out);
    ASSERT_EQ(looks.size(), 1u) << run.out;
    const std::set<std::string> shown(looks[0].begin(), looks[0].end());
    EXPECT_TRUE(shown.count(c.asks)) << run.out;
    EXPECT_TRUE(shown.count(c.tooth)) << "the wheel hides the tooth it asks about\n" << run.out;
  }
}

// The words of the report's tooth page with their boxes, as pdftotext reads them.
struct Word {
  double xMin, xMax;
  std::string text;
};
std::vector<Word> toothPageWords(const fs::path& pdf, const fs::path& html) {
  EXPECT_EQ(shell("pdftotext -bbox -f 2 -l 2 " + quotedPath(pdf) + " " + quotedPath(html)), 0);
  std::vector<Word> words;
  const std::string page = readFile(html);
  const std::regex word(R"re(<word xMin="([\d.]+)" yMin="[\d.]+" xMax="([\d.]+)" yMax="[\d.]+">([^<]*)</word>)re");
  for (std::sregex_iterator m(page.begin(), page.end(), word), end; m != end; ++m)
    words.push_back({std::stod((*m)[1]), std::stod((*m)[2]), (*m)[3]});
  return words;
}

TEST(ParentWalk, TheReportsToothLabelsStayWholeOnThePaper) {
  // The outermost teeth (1, 10, 11, 20) have the least room beside them; their labels in the longer
  // languages once ran off the paper or broke over two lines.
  struct Case {
    Language language;
    const char* appeared;  // the label's own words
  };
  const Case cases[] = {{kEnglish, "Tooth Appeared:"}, {kGerman, "Zahn erschienen:"}, {kRussian, "Зуб прорезался:"}};
  for (const Case& c : cases) {
    const Language& l = c.language;
    SCOPED_TRACE(l.code);
    std::string teeth = std::string("tap iPhone_list_button\ntap ") + l.teeth + "\n";
    for (const char* tooth : {"tooth 1", "tooth 10", "tooth 11", "tooth 20"})
      teeth += std::string("tap \"") + tooth + "\"\ntap " + l.done + "\n";
    teeth += std::string("tap ") + l.done + "\ntap iPhone_list_button\ntap " + l.settings + "\ntap " + l.report +
             "\ntap " + l.start + "\nwait 60\n";
    testing_support::TempDir home;
    const DiaryRun run = runWalk(home, firstRun(l) + teeth, std::string("report-teeth-") + l.code,
                                 std::string("--language ") + l.code);
    ASSERT_EQ(run.status, 0) << run.out;
    const fs::path pdf = home / "root" / "tmp" / "report.pdf";
    ASSERT_TRUE(fs::exists(pdf)) << run.out;
    // The page as a person sees it.
    const fs::path picture = testing_support::testOutput() / "parent_walk" / (std::string("report-teeth-") + l.code);
    EXPECT_EQ(shell("pdftoppm -r 60 -f 2 -l 2 -png " + quotedPath(pdf) + " " + quotedPath(picture / "tooth-page")), 0);

    const auto words = toothPageWords(pdf, home / "page.html");
    ASSERT_FALSE(words.empty());
    for (const Word& w : words) {
      EXPECT_GE(w.xMin, 0) << w.text << " starts off the paper";
      EXPECT_LE(w.xMax, 612) << w.text << " ends off the paper";
    }
    // Each label whole on its line: its words, then the date.
    EXPECT_EQ(shell("pdftotext -layout -f 2 -l 2 " + quotedPath(pdf) + " " + quotedPath(home / "page.txt")), 0);
    const std::string text = readFile(home / "page.txt");
    const std::regex label(std::string(c.appeared) + R"( \d{1,2}[./]\d{1,2}[./]\d{2,4})");
    EXPECT_EQ(std::distance(std::sregex_iterator(text.begin(), text.end(), label), std::sregex_iterator()), 4)
        << text;
  }
}

// The screens the program drew, in order.
std::vector<fs::path> screensOf(const std::string& walk) {
  std::vector<fs::path> steps;
  for (const auto& entry : fs::directory_iterator(testing_support::testOutput() / "parent_walk" / walk))
    if (entry.path().extension() == ".png" && entry.path().filename().string().starts_with("step-"))
      steps.push_back(entry.path());
  std::sort(steps.begin(), steps.end());
  return steps;
}

TEST(ParentWalk, TheReportViewerScrollsOnToTheLaterPages) {
  // The viewer shows the title page first; a finger's drag up brings the tooth page into view, and
  // one more at the end of the report changes nothing.
  struct Case {
    const char* name;
    const char* arguments;
    std::string toReport;
  };
  const Case cases[] = {
      {"viewer-phone", "", "tap iPhone_list_button\ntap Settings\ntap Report\n"},
      {"viewer-tablet", "--device ipad", "tap Settings\ntap Report\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir home;
    const DiaryRun run = runWalk(home,
                                 firstRun(kEnglish) + c.toReport +
                                     "tap Start\nwait 60\ndrag 200 450 200 150\ndrag 200 450 200 150\n"
                                     "drag 200 450 200 150\ndrag 200 450 200 150\n",
                                 c.name, c.arguments);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto steps = screensOf(c.name);
    ASSERT_GE(steps.size(), 6u);
    // The last five: the viewer as it opened, then after each drag.
    const std::string opened = readFile(steps[steps.size() - 5]);
    const std::string dragged = readFile(steps[steps.size() - 4]);
    EXPECT_NE(opened, dragged) << "the drag left the report where it was";
    EXPECT_EQ(readFile(steps[steps.size() - 2]), readFile(steps.back())) << "the report scrolled past its end";
  }
}

}  // namespace
