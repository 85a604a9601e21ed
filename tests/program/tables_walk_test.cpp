// A parent edits the diary's lists through the `diary` program: the note types' order by the grip at
// a row's right edge, a sub-value deleted by its delete control in "Edit" mode, a feeding timed in an
// editor left open a while, and the phone's and the tablet's ways to a new note. Each walk is a
// script; what `look` lists and what the store and the settings files hold afterwards are read
// back. The screens go to test-output/tables_walk/<walk>.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "app/app_delegate.h"
#include "app/entities.h"
#include "app/model.h"
#include "platform/foundation/clock.h"
#include "platform/graphics/image.h"
#include "platform/plist/property_list.h"
#include "platform/runtime/bundle.h"
#include "platform/store/store.h"
#include "linked_cloud.h"
#include "program_run.h"
#include "support/temp_dir.h"

namespace {

using namespace program_run;

std::set<std::string> subValues(const testing_support::TempDir& home) {
  OpenStore keep;
  std::set<std::string> values;
  for (auto& row : storedRows(home, app::StrValue::kEntityName, keep))
    values.insert(app::StrValue(row).strValue().value_or(""));
  return values;
}

struct Walk {
  const char* name;
  std::string device;  // "" for the phone
  std::string script;  // after the first run
  // Checks the run: the looks in order, the home it left.
  std::function<void(const std::vector<std::vector<std::string>>&, const testing_support::TempDir&)> check;
};

std::vector<Walk> walks() {
  return {
      {"order-grip-to-the-end", "",
       // The grip of the first row, pushed past the list's bottom edge: the list moves on to its end
       // and the row goes last. Then the chooser, at its top and scrolled to its end.
       "tap +\ntap Edit\nlook\ndrag 300 86 300 1200\nlook\nback\nlook\ndrag 160 500 160 60\nlook\n",
       [](const auto& looks, const auto& home) {
         ASSERT_EQ(looks.size(), 4u);
         EXPECT_TRUE(lists(looks[0], "Reorder Breast Feeding"));
         EXPECT_FALSE(lists(looks[0], "Delete Breast Feeding"));  // rows are moved, never deleted
         EXPECT_TRUE(lists(looks[1], "Reorder Breast Feeding"));  // in sight at the end
         const auto order = storedOrder(home);
         ASSERT_EQ(order.size(), 24u);
         EXPECT_EQ(order.front(), "Sleep");
         EXPECT_EQ(order.back(), "Breast Feeding");
         EXPECT_FALSE(lists(looks[2], "Breast Feeding"));  // the chooser's first rows
         EXPECT_TRUE(lists(looks[3], "Breast Feeding"));   // and its last
       }},
      {"order-grips-to-the-very-top", "",
       // The third to sixth rows' grips, each carried to the top of the list, above it, onto the
       // bar's edge and up into the status bar: each row goes first.
       "tap +\ntap Edit\ndrag 300 174 300 100\ndrag 300 218 300 70\ndrag 300 262 300 64\n"
       "drag 300 306 300 20\nback\n",
       [](const auto&, const auto& home) {
         const auto order = storedOrder(home);
         ASSERT_EQ(order.size(), 24u);
         EXPECT_EQ(
             std::vector<std::string>(order.begin(), order.begin() + 7),
             (std::vector<std::string>{"Drink", "Food", "Walk", "WC", "Breast Feeding", "Sleep", "Pumping"}));
       }},
      {"order-drags-off-the-grip", "",
       // A drag at the row's left edge and one in its middle scroll; the order stays, and leaving
       // still writes it.
       "tap +\ntap Edit\ndrag 30 86 30 400\ndrag 160 86 160 400\ndrag 160 400 160 86\nback\n",
       [](const auto&, const auto& home) {
         const auto order = storedOrder(home);
         ASSERT_EQ(order.size(), 24u);
         EXPECT_EQ(order.front(), "Breast Feeding");
         EXPECT_EQ(order[1], "Sleep");
       }},
      {"sub-value-deleted-in-edit-mode", "",
       "tap Diaper\ntap Wet\nlook\ntap Edit\nlook\ntap \"Delete Dry\"\nlook\ntap Delete\nlook\nback\n"
       "tap iPhone_ok_button_white\n",
       [](const auto& looks, const auto& home) {
         ASSERT_EQ(looks.size(), 4u);
         // No delete control outside "Edit" mode; in it every row has one and the button reads Done.
         EXPECT_FALSE(lists(looks[0], "Delete Dry"));
         EXPECT_TRUE(lists(looks[0], "Edit"));
         EXPECT_TRUE(lists(looks[1], "Delete Dry") && lists(looks[1], "Delete Wet"));
         EXPECT_TRUE(lists(looks[1], "Done"));
         EXPECT_FALSE(lists(looks[1], "Edit"));
         EXPECT_TRUE(lists(looks[2], "Delete"));  // the row's Delete button
         EXPECT_FALSE(lists(looks[3], "Dry"));
         EXPECT_TRUE(lists(looks[3], "Done"));
         EXPECT_EQ(subValues(home).count("Dry"), 0u);
         EXPECT_EQ(subValues(home).count("Wet"), 1u);
         EXPECT_EQ(subValues(home).count("Poopy"), 1u);
       }},
      {"feeding-begins-when-the-editor-set-it", "",
       // Opened, left three minutes, the left side timed five, stopped and saved.
       "tap \"Breast Feeding\"\nadvance 3m\ntap Left\nadvance 5m\ntap Stop\ntap Stop\n"
       "tap iPhone_ok_button_white\n",
       [](const auto&, const auto& home) {
         OpenStore keep;
         const auto notes = storedNotes(home, keep);
         ASSERT_EQ(notes.count("Breast Feeding"), 1u);
         const app::Note& feeding = notes.find("Breast Feeding")->second;
         ASSERT_TRUE(feeding.note_DateStart() && feeding.note_DateStop());
         EXPECT_EQ(*feeding.note_DateStop() - *feeding.note_DateStart(), 480);
         EXPECT_EQ(feeding.note_strValue(), "Left Breast");
         ASSERT_TRUE(feeding.note_numValue());
         EXPECT_EQ(feeding.note_numValue()->toInteger(), 5);
         // It began when the editor opened, just after the first run: not three minutes later.
         EXPECT_LT(*feeding.note_DateStart() - foundation::Clock::system().now(), 60);
       }},
      {"badged-edit-opens-the-order-editor", "",
       // At the tutorial's fourth step the chooser's "Edit" wears a badge over half its text; a
       // person still reads it and taps it. Once there, the chooser's button is plain again.
       "tap +\ntap Weight\ntap iPhone_ok_button_white\ntap iPhone_list_button_badge\ntap \"Growth graph\"\n"
       "tap Done\ntap iPhone_sum_button_badge\ntap iPhone_ok_button_white\ntap +\nlook\ntap Edit\nlook\nback\nlook\n",
       [](const auto& looks, const auto&) {
         ASSERT_EQ(looks.size(), 3u);
         EXPECT_TRUE(lists(looks[0], "Edit") && lists(looks[0], "iPhone_badge"));
         EXPECT_TRUE(lists(looks[1], "Reorder Breast Feeding"));
         EXPECT_TRUE(lists(looks[2], "Edit"));
         EXPECT_FALSE(lists(looks[2], "iPhone_badge"));
       }},
      {"tablet-records-close-by-done", "--device ipad",
       "tap Allergies\nlook\ntap Done\nlook\ntap Contacts\nlook\ntap Done\nlook\n",
       [](const auto& looks, const auto&) {
         ASSERT_EQ(looks.size(), 4u);
         for (std::size_t i : {0u, 2u}) EXPECT_TRUE(lists(looks[i], "Done")) << i;
         // Closed: the panel is in front again, and nothing of the sheet is left.
         for (std::size_t i : {1u, 3u}) EXPECT_TRUE(lists(looks[i], "List") && !lists(looks[i], "Done")) << i;
       }},
      {"tablet-note-text-put-away-and-saved", "--device ipad",
       // The tablet's notice has no done button: the keyboard's own key puts the text away, twice.
       "tap iPhone_more\ntap Sleep\ntap Note\ntype slept well\nlook\nkey hide\nlook\ntap \"slept well\"\n"
       "key space\ntype \"then fed\"\nkey hide\nlook\ntap iPhone_ok_button_white\n",
       [](const auto& looks, const auto& home) {
         ASSERT_EQ(looks.size(), 3u);
         EXPECT_TRUE(lists(looks[0], "slept well") && !lists(looks[0], "Done"));
         for (std::size_t i : {1u, 2u}) EXPECT_TRUE(lists(looks[i], "iPhone_ok_button_white")) << i;
         EXPECT_TRUE(lists(looks[2], "slept well then fed"));
         OpenStore keep;
         const auto notes = storedNotes(home, keep);
         ASSERT_EQ(notes.count("Sleep"), 1u);
         EXPECT_EQ(notes.find("Sleep")->second.note_Notice(), "slept well then fed");
       }},
      {"tablet-add-button-opens-the-chooser", "--device ipad",
       "look\ntap iPhone_more\nlook\ntap Sleep\ntap iPhone_ok_button_white\nlook\n",
       [](const auto& looks, const auto& home) {
         ASSERT_EQ(looks.size(), 3u);
         EXPECT_TRUE(lists(looks[0], "iPhone_more"));
         EXPECT_TRUE(lists(looks[1], "Categories") && lists(looks[1], "Cancel"));
         // The chooser had the context, the baby and this screen to answer: the note is stored
         // for Ada and the list is back.
         EXPECT_TRUE(lists(looks[2], "List"));
         OpenStore keep;
         const auto notes = storedNotes(home, keep);
         ASSERT_EQ(notes.count("Sleep"), 1u);
         const auto baby = notes.find("Sleep")->second.noteToBaby();
         ASSERT_TRUE(baby);
         EXPECT_EQ(baby.baby_Name(), "Ada");
       }},
  };
}

TEST(TablesWalk, ListsEditedByHand) {
  for (const Walk& walk : walks()) {
    SCOPED_TRACE(walk.name);
    testing_support::TempDir home;
    const DiaryRun run =
        runDiaryScript(home, std::string(kNewBabyFirstRun) + walk.script + "quit\n",
                       testing_support::testOutput() / "tables_walk" / walk.name, walk.device);
    ASSERT_EQ(run.status, 0) << run.out;
    const bool failedBefore = HasFailure();
    walk.check(lookTexts(run.out), home);
    if (!failedBefore && HasFailure()) ADD_FAILURE() << "what the program said:\n" << run.out;
  }
}

// The number pad's bar in every language and on both devices: its buttons keep their titles whole
// ("Abbrechen" is longer than the 80 points the bar gives "Cancel").
TEST(TablesWalk, TheNumberPadsButtonsKeepTheirTitlesWhole) {
  const runtime::Bundle bundle(testing_support::resourcesFolder());
  const struct {
    std::string language, device;
  } cases[] = {{"en", ""}, {"de", ""}, {"ru", ""}, {"de", "--device ipad"}, {"ru", "--device ipad"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language + " " + c.device);
    testing_support::TempDir home;
    const auto screens = testing_support::testOutput() / "tables_walk" / ("number-pad-" + c.language);
    ASSERT_EQ(runDiaryScript(home, std::string(kNewBabyFirstRun) + "quit\n", screens, c.device).status, 0);
    const auto text = [&](const char* key) { return bundle.localizedStringInLanguage(key, c.language); };
    const DiaryRun run = runDiaryScript(
        home, "tap +\ntap \"" + text("Drink") + "\"\ntap \"0 " + text("Notation_ml") + "\"\nlook\nquit\n",
        screens.string() + (c.device.empty() ? "" : "-tablet"), c.device + " --language " + c.language);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto looks = lookTexts(run.out);
    ASSERT_EQ(looks.size(), 1u) << run.out;
    EXPECT_TRUE(lists(looks[0], text("Cancel")) && lists(looks[0], text("Done"))) << run.out;
    EXPECT_TRUE(cutTexts(run.out).empty()) << run.out;
  }
}

// A nappy and a feeding saved in a language whose type names are long, on both devices: the
// feeding's counters, the list's rows and the summary's row show their texts whole, and each row's
// name is still named and reached apart from the strip's.
TEST(TablesWalk, TheListsRowsShowLongTypeNamesWhole) {
  const runtime::Bundle bundle(testing_support::resourcesFolder());
  const struct {
    std::string language, device;
  } cases[] = {{"ru", ""}, {"de", ""}, {"ru", "--device ipad"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language + " " + c.device);
    testing_support::TempDir home;
    const auto screens = testing_support::testOutput() / "tables_walk" /
                         ("list-rows-" + c.language + (c.device.empty() ? "" : "-tablet"));
    ASSERT_EQ(runDiaryScript(home, std::string(kNewBabyFirstRun) + "quit\n", screens, c.device).status, 0);
    const auto text = [&](const char* key) { return bundle.localizedStringInLanguage(key, c.language); };
    const std::string feeding = text("Breast Feeding");
    const DiaryRun run = runDiaryScript(home,
                                        "tap \"" + text("WC") + "\"\ntap iPhone_ok_button_white\n" +
                                            "tap \"" + feeding + "\"\nlook\ntap \"" + text("Left Breast") + "\"\nadvance 5m\n" +
                                            "tap \"" + text("Stop") + "\"\ntap \"" + text("Stop") + "\"\n" +
                                            "tap iPhone_ok_button_white\nlook\ntap \"" + text("Summary") + "\"\nlook\nquit\n",
                                        screens, c.device + " --language " + c.language);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto looks = lookTexts(run.out);
    ASSERT_EQ(looks.size(), 3u) << run.out;
    EXPECT_TRUE(lists(looks[0], "00:00")) << run.out;  // the editor's counters, whole too
    EXPECT_TRUE(lists(looks[1], feeding)) << run.out;
    EXPECT_TRUE(lists(looks[2], feeding + " (1)")) << run.out;
    // The row's name is still a control of its own beside the strip's (nothing drawn over it).
    const auto repeated = quotedLines(run.out, "shown by several controls");
    ASSERT_FALSE(repeated.empty()) << run.out;
    EXPECT_TRUE(std::any_of(repeated.begin(), repeated.end(), [&](const auto& line) {
      return lists(line, feeding) && lists(line, text("WC"));
    })) << run.out;
    EXPECT_TRUE(cutTexts(run.out).empty()) << run.out;
  }
}

// A note's photo, once chosen, shows in place of the camera and is what a finger opens: the photo
// screen, where it is removed, and the camera is back.
TEST(TablesWalk, ANotesPhotoIsOpenedByAFingerAndRemoved) {
  for (const std::string device : {"", "--device ipad"}) {
    SCOPED_TRACE(device);
    testing_support::TempDir home;
    ASSERT_TRUE(putLibraryPicture(home, "nap.png", graphics::Image(64, 48)).ok());
    const DiaryRun run = runDiaryScript(
        home,
        std::string(kNewBabyFirstRun) +
            "tap Diaper\ntap edit_photo_white\ntap \"Choose Photo\"\ntap nap.png\nback\nlook\n"
            "tap Photo\nlook\ntap Delete\nback\nlook\ntap iPhone_ok_button_white\nquit\n",
        testing_support::testOutput() / "tables_walk" / ("note-photo" + std::string(device.empty() ? "" : "-tablet")),
        device);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto looks = lookTexts(run.out);
    ASSERT_EQ(looks.size(), 3u) << run.out;
    EXPECT_TRUE(lists(looks[0], "Photo") && !lists(looks[0], "edit_photo_white")) << run.out;
    EXPECT_TRUE(lists(looks[1], "Delete") && lists(looks[1], "Choose Photo")) << run.out;
    EXPECT_TRUE(lists(looks[2], "edit_photo_white") && !lists(looks[2], "Photo")) << run.out;
    OpenStore keep;
    EXPECT_TRUE(storedRows(home, app::PhotoInfo::kEntityName, keep).empty()) << run.out;
  }
}

// --- A restore, as a parent makes one from the cloud screen, on each device.

TEST(RestoreWalk, TheListTakesTheRestoredBabyOrAsksForOneWithoutCoveringItself) {
  // The stand-in cloud service, and the diary of each data root linked to it as if the parent had
  // linked it: its keychain and preferences hold the account's token.
  LinkedCloud cloud;
  // To the cloud screen, the restore and its alerts, then back on the main screen.
  const std::string phoneToCloud = "tap iPhone_list_button\ntap Settings\ntap Cloud\n";
  const std::string tabletToCloud = "tap Settings\ntap Cloud\n";
  const std::string restore = "tap \"Restore data\"\nwait 30\ntap Yes\nwait 30\ntap OK\nlook\n";
  struct Case {
    const char* name;
    std::string device, toCloud;
    std::vector<std::string> babies;
    std::vector<std::string> shown, notShown;
  };
  const Case cases[] = {
      {"phone-restores-a-baby", "", phoneToCloud, {"Carl"}, {"Carl", "List", "Summary"}, {"Ada", "Babies"}},
      // The baby list comes up over the list and leads to a new baby.
      {"phone-restores-no-baby", "", phoneToCloud, {}, {"New baby", "Name"}, {"Ada", "Carl"}},
      {"tablet-restores-a-baby", "--device ipad", tabletToCloud, {"Carl"}, {"Carl", "List", "Summary"}, {"Ada"}},
      // The baby list in its popover over the cloud sheet, which still holds the list out of reach.
      {"tablet-restores-no-baby", "--device ipad", tabletToCloud, {}, {"New baby", "Name"}, {"Ada", "List"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir home;
    LinkedCloud::link(home);
    // The account's backup: the diary's own archive of a data root whose store holds these babies.
    cloud.putBackUp(c.babies);
    const DiaryRun run = runDiaryScript(home, std::string(kNewBabyFirstRun) + c.toCloud + restore + "quit\n",
                                         testing_support::testOutput() / "tables_walk" / c.name, c.device);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto looks = lookTexts(run.out);
    ASSERT_FALSE(looks.empty()) << run.out;
    for (const auto& text : c.shown) EXPECT_TRUE(lists(looks.back(), text)) << text << "\n" << run.out;
    for (const auto& text : c.notShown) EXPECT_FALSE(lists(looks.back(), text)) << text << "\n" << run.out;
  }
}

}  // namespace
