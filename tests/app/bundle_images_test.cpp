// Every picture the diary asks the bundle for is there, decodes and shows something, and every picture
// the bundle holds is asked for by a screen: a button whose picture is missing, transparent or never
// handed to it shows nothing a person can find.

#include <gtest/gtest.h>

#include <filesystem>
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

// A picture's name without its scale and extension: "iPhone_more@2x.png" is "iPhone_more".
std::string bareName(std::string name) {
  if (name.ends_with(".png")) name.resize(name.size() - 4);
  if (const auto at = name.find('@'); at != std::string::npos) name.resize(at);
  return name;
}

// Some pixel a person can see: not every pixel (nearly) transparent.
bool showsSomething(const graphics::Image& image) {
  const auto& pixels = image.pixels();
  for (size_t i = 3; i < pixels.size(); i += 4)
    if (pixels[i] >= 32) return true;
  return false;
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
  std::set<std::string> missing, blank;
  for (const auto& name : names) {
    for (double scale : {1.0, 2.0, 3.0}) {
      const auto resource = bundle.pathForImage(name, scale);
      if (!resource) {
        missing.insert(name);
      } else if (auto image = graphics::Image::fromFile(resource->path); !image.ok()) {
        missing.insert(name);
      } else if (!showsSomething(*image)) {
        blank.insert(name);
      }
    }
  }
  EXPECT_TRUE(missing.empty()) << "pictures missing from the bundle: " << testing::PrintToString(missing);
  EXPECT_TRUE(blank.empty()) << "pictures that show nothing: " << testing::PrintToString(blank);
}

TEST(BundleImagesTest, EveryPictureInTheBundleIsAskedForByAScreen) {
  std::set<std::string> asked;
  for (std::string name : pictureNamesInSources()) asked.insert(bareName(name));
  for (const auto& type : app::defaultTypeIds())
    if (auto icon = app::iconNameForType(type)) asked.insert(bareName(*icon));
  std::set<std::string> unused;
  for (const auto& entry : std::filesystem::directory_iterator(testing_support::resourcesFolder())) {
    if (entry.path().extension() != ".png") continue;
    const std::string name = bareName(entry.path().filename().string());
    if (!asked.count(name)) unused.insert(name);
  }
  EXPECT_TRUE(unused.empty()) << "pictures no screen shows: " << testing::PrintToString(unused);
}

}  // namespace
