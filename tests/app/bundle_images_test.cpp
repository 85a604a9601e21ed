// Every picture the diary asks the bundle for is there and decodes, so that no screen draws a blank
// where its artwork belongs.

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "app/note_types.h"
#include "platform/files/file_ops.h"
#include "platform/graphics/image.h"
#include "platform/runtime/bundle.h"
#include "support/temp_dir.h"

namespace {

using testing_support::sourceRoot;

constexpr const char* kDiaryFolders[] = {"app",    "note_editor", "notes_list", "babies",
                                         "charts", "navigation",  "reports",    "cloud"};

// The names the sources hand to an image lookup, and every literal shaped like one of the bundle's
// picture names (chosen by a condition or kept in a table before the lookup).
std::set<std::string> pictureNamesInSources() {
  const std::regex lookup(
      R"re((?:imageNamed|ImgPathWithTargetSelector|imageItem|backgroundImageName\s*=)\s*\(?\s*"([^"\\]+)")re");
  const std::regex shaped(
      R"re("((?:icon|iPhone|iPad|filter)_\w+(?:\.png)?|tooth_left_\w+|baby(?:Boy|Girl))")re");
  std::set<std::string> names;
  for (const char* folder : kDiaryFolders) {
    auto files = files::listRecursive(sourceRoot() / folder);
    if (!files) continue;  // a folder not begun yet
    for (const auto& file : *files) {
      if (file.extension() != ".cpp" && file.extension() != ".h") continue;
      const std::string source = files::readText(sourceRoot() / folder / file).value();
      for (const std::regex* pattern : {&lookup, &shaped}) {
        for (std::sregex_iterator m(source.begin(), source.end(), *pattern), end; m != end; ++m)
          names.insert((*m)[1]);
      }
    }
  }
  return names;
}

TEST(BundleImagesTest, EveryPictureTheDiaryAsksForIsInTheBundle) {
  std::set<std::string> names = pictureNamesInSources();
  // The scan must see the sources: a bar button, a quick-start frame, a badge and a type icon.
  for (const char* known : {"iPhone_ok_button_white", "iPhone_mainscreen_quick_launch_icon_frame",
                            "iPhone_list_button_badge.png", "icon_sleep", "check_mark"})
    ASSERT_TRUE(names.count(known)) << known << " not found under " << sourceRoot();
  // Icons named by data: each note type's.
  for (const auto& type : app::defaultTypeIds()) names.insert(app::iconNameForType(type).value_or(type));

  const runtime::Bundle bundle(testing_support::resourcesFolder());
  std::set<std::string> missing;
  for (const auto& name : names) {
    for (double scale : {1.0, 2.0, 3.0}) {
      const auto resource = bundle.pathForImage(name, scale);
      if (!resource || !graphics::Image::fromFile(resource->path).ok()) missing.insert(name);
    }
  }
  EXPECT_TRUE(missing.empty()) << "pictures missing from the bundle: " << testing::PrintToString(missing);
}

}  // namespace
