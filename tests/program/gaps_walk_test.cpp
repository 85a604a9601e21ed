// A parent walks the diary program: a diaper note whose picked sub-value is deleted or renamed in
// the sub-value list, which the note keeps all the same; and a running sleep timer, whose row on
// the notes list shows its stopwatch on a phone and on the tablet. Each walk is a script the
// `diary` program runs; what `look` lists and what the store holds afterwards are read back. The
// screens go to test-output/gaps_walk/<walk>.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/entities.h"
#include "program_run.h"
#include "support/temp_dir.h"

namespace {

using namespace program_run;

DiaryRun runWalk(const testing_support::TempDir& home, const std::string& script, const std::string& walk,
                 const std::string& arguments = "") {
  return runDiaryScript(home, script + "quit\n", testing_support::testOutput() / "gaps_walk" / walk,
                        arguments);
}

TEST(GapsWalk, ANoteKeepsItsSubValueWhenTheListLosesIt) {
  // A new diaper note on "Wet"; in the list's editing mode "Wet" is deleted or renamed, then the
  // parent goes back to the note and saves it.
  const struct {
    const char* name;
    const char* change;
    std::vector<std::string> listed;  // the type's sub-values afterwards
  } cases[] = {
      {"deleted", "tap \"Delete Wet\"\ntap Delete\n", {"Dry", "Poopy"}},
      {"renamed",
       "tap Wet\nkey delete\nkey delete\nkey delete\ntype Soaked\ntap iPhone_back_button\n",
       {"Dry", "Poopy", "Soaked"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir home;
    const DiaryRun run =
        runWalk(home,
                std::string(kNewBabyFirstRun) + "tap Diaper\ntap Wet\ntap Edit\n" + c.change +
                    "look\ntap iPhone_back_button\nlook\ntap iPhone_ok_button_white\nlook\n",
                std::string("sub-value-") + c.name);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto looks = lookTexts(run.out);
    ASSERT_EQ(looks.size(), 3u) << run.out;
    EXPECT_FALSE(lists(looks[0], "Wet")) << "the list still holds it: " << run.out;
    EXPECT_TRUE(lists(looks[1], "Wet")) << "the editor lost it: " << run.out;
    EXPECT_TRUE(lists(looks[2], "Wet")) << "the notes list lost it: " << run.out;

    OpenStore keep;
    const auto notes = storedNotes(home, keep);
    ASSERT_EQ(notes.count("WC"), 1u) << run.out;
    EXPECT_EQ(notes.find("WC")->second.note_strValue(), "Wet");
    std::vector<std::string> listed;
    for (auto& row : storedRows(home, "StrValue", keep))
      if (app::StrValue value(row); value.strValueToValueType().vt_Type() == "WC")
        listed.push_back(value.strValue().value_or("?"));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, c.listed);
    std::vector<std::optional<std::string>> remembered;
    for (auto& row : storedRows(home, "ValueType", keep))
      if (app::ValueType type(row); type.vt_Type() == "WC") remembered.push_back(type.vt_StrCurrent());
    EXPECT_EQ(remembered, std::vector<std::optional<std::string>>{"Wet"});
  }
}

TEST(GapsWalk, ARunningTimersRowShowsItsStopwatch) {
  // The stopwatch shows only while the timer runs; a finger on it opens the running timer, which
  // is stopped and saved as a note.
  for (const char* device : {"", "--device ipad"}) {
    SCOPED_TRACE(*device ? device : "phone");
    testing_support::TempDir home;
    const DiaryRun run =
        runWalk(home,
                std::string(kNewBabyFirstRun) +
                    "look\ntap Sleep\ntap Start\ntap iPhone_to_mainscreen_button\nlook\n"
                    "advance 5m\ntap stopwatch_icon\nlook\ntap Stop\ntap Stop\ntap iPhone_ok_button_white\n"
                    "look\n",
                *device ? "timer-tablet" : "timer-phone", device);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto looks = lookTexts(run.out);
    ASSERT_EQ(looks.size(), 4u) << run.out;
    EXPECT_FALSE(lists(looks[0], "stopwatch_icon")) << run.out;
    EXPECT_TRUE(lists(looks[1], "stopwatch_icon")) << "the running timer's row: " << run.out;
    EXPECT_TRUE(lists(looks[2], "Stop")) << "the running timer did not open: " << run.out;
    EXPECT_FALSE(lists(looks[3], "stopwatch_icon")) << "the saved note's row: " << run.out;
    OpenStore keep;
    EXPECT_EQ(storedNotes(home, keep).count("Sleep"), 1u) << run.out;
  }
}

}  // namespace
