// A parent walks the diary program over the notes list: a photo note whose picture file went
// missing, opened again; and the quick-start strip's time labels after the data were restored from
// the cloud. Each walk is a script the `diary` program runs on a phone; what `look` lists and what
// the store holds afterwards are read back. The screens go to test-output/list_walk/<walk>.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "linked_cloud.h"
#include "platform/graphics/image.h"
#include "program_run.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace program_run;

DiaryRun runWalk(const testing_support::TempDir& home, const std::string& script, const std::string& walk) {
  return runDiaryScript(home, script + "quit\n", testing_support::testOutput() / "list_walk" / walk);
}

// The texts of a look that the strip writes over its icons ("5m ago").
std::vector<std::string> timeLabels(const std::vector<std::string>& look) {
  std::vector<std::string> labels;
  std::copy_if(look.begin(), look.end(), std::back_inserter(labels),
               [](const std::string& text) { return text.ends_with(" ago"); });
  return labels;
}

TEST(ListWalk, APhotoWhoseFileIsGoneLosesItsRecordWhenTheNoteIsOpened) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& photo)> change;
    const char* leave;  // how the parent leaves the editor
    bool recordKept;
  };
  const Case cases[] = {
      {"removed, saved", [](const fs::path& photo) { fs::remove(photo); }, "tap iPhone_ok_button_white\n", false},
      {"removed, cancelled", [](const fs::path& photo) { fs::remove(photo); }, "tap iPhone_cancel_button\n",
       false},
      // A file that is there but does not read as a picture may be read later: its record stays.
      {"unreadable, saved", [](const fs::path& photo) { std::ofstream(photo) << "not a picture"; },
       "tap iPhone_ok_button_white\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir home;
    graphics::Image red(40, 40);
    for (size_t i = 0; i < red.pixels().size(); i += 4) red.pixels()[i] = red.pixels()[i + 3] = 255;
    ASSERT_TRUE(putLibraryPicture(home, "red.png", red).ok());

    const DiaryRun taken = runWalk(home,
                                   std::string(kNewBabyFirstRun) +
                                       "tap Diaper\ntap edit_photo_white\ntap \"Choose Photo\"\ntap red.png\n"
                                       "back\ntap iPhone_ok_button_white\n",
                                   "photo-taken");
    ASSERT_EQ(taken.status, 0) << taken.out;
    std::vector<fs::path> photos;
    for (const auto& entry : fs::directory_iterator(home / "root" / "Documents" / "Photos"))
      photos.push_back(entry.path());
    ASSERT_EQ(photos.size(), 1u) << taken.out;
    c.change(photos[0]);

    const DiaryRun opened = runWalk(home, std::string("tap Wet\n") + c.leave + "look\n", "photo-gone");
    ASSERT_EQ(opened.status, 0) << opened.out;
    EXPECT_TRUE(lastLookTexts(opened.out).count("Wet")) << "back on the list: " << opened.out;
    OpenStore keep;
    ASSERT_EQ(storedRows(home, "Note", keep).size(), 1u) << opened.out;
    EXPECT_EQ(storedRows(home, "PhotoInfo", keep).size(), c.recordKept ? 1u : 0u) << opened.out;
    EXPECT_EQ(fs::exists(photos[0]), c.recordKept);
  }
}

TEST(ListWalk, TheStripLabelsNotesSavedBeforeAndAfterARestore) {
  LinkedCloud cloud;
  ASSERT_TRUE(cloud.server().running());
  testing_support::TempDir home;
  // A diaper five minutes before the backup; after the restore the list shows, then a walk is
  // recorded from the strip.
  const DiaryRun run =
      runWalk(home,
              std::string(kNewBabyFirstRun) + "look\ntap Diaper\ntap iPhone_ok_button_white\nadvance 5m\n" +
                  kBackUpAndRestore + "look\ntap Walk\ntap iPhone_ok_button_white\nlook\n",
              "strip-after-restore");
  ASSERT_EQ(run.status, 0) << run.out;
  const auto looks = lookTexts(run.out);
  ASSERT_EQ(looks.size(), 3u) << run.out;
  EXPECT_TRUE(lists(looks[0], "quick launch")) << "nothing recorded yet: " << run.out;
  EXPECT_TRUE(timeLabels(looks[0]).empty()) << run.out;

  // The diaper saved before the restore is labelled from the restored store.
  EXPECT_EQ(timeLabels(looks[1]).size(), 1u) << run.out;
  EXPECT_FALSE(lists(looks[1], "quick launch")) << run.out;
  // The walk saved after it too.
  EXPECT_EQ(timeLabels(looks[2]).size(), 2u) << run.out;
  EXPECT_FALSE(lists(looks[2], "quick launch")) << run.out;
}

}  // namespace
