#include "platform/runtime/bundle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <tuple>

#include "platform/foundation/log.h"
#include "platform/plist/property_list.h"
#include "platform/runtime/strings_file.h"
#include "platform/runtime/user_defaults.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Dictionary;
using foundation::Value;

namespace {

void writeFile(const fs::path& path, std::string_view contents) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

void writeFile(const fs::path& path, const Bytes& contents) {
  writeFile(path, std::string_view(reinterpret_cast<const char*>(contents.data()), contents.size()));
}

class BundleTest : public ::testing::Test {
 protected:
  BundleTest() {
    writeFile(root() / "Info.plist",
              *plist::writePropertyList(Value(Dictionary{{"CFBundleIdentifier", "com.example.diary"},
                                                         {"CFBundleVersion", "213"},
                                                         {"CFBundleDevelopmentRegion", "en"}}),
                                        plist::Format::Binary));
    writeFile(root() / "en.lproj" / "Localizable.strings",
              "\"Sleep\" = \"Sleep\";\n\"Walk\" = \"Walk\";\n\"Blank\" = \"\";\n");
    writeFile(root() / "ru.lproj" / "Localizable.strings", "\"Sleep\" = \"Сон\";\n");
    writeFile(root() / "ru.lproj" / "Other.strings", "\"Sleep\" = \"Другой\";\n");
    fs::create_directories(root() / "fr.lproj");  // a language with a folder but no table
    for (const char* file : {"Model.momd/Model.mom", "chart.png", "chart@2x.png", "only@2x.png", "photo.jpg",
                             "docs/terms.html", "ru.lproj/flag.png"}) {
      writeFile(root() / file, file);
    }
  }

  fs::path root() const { return home.path() / "Bundle"; }

  testing_support::TempDir home;
};

TEST(BundleResourcesTest, TheRepositoryBundleDeclaresTheApplicationAndItsTablesParse) {
  runtime::Bundle bundle(testing_support::resourcesFolder());
  EXPECT_EQ(bundle.bundleIdentifier(), "com.quennivore.babydiary");
  EXPECT_EQ(bundle.objectForInfoDictionaryKey(runtime::kBundleDisplayNameKey), Value("Baby Diary"));
  EXPECT_EQ(bundle.localizedStringInLanguage("AppName", "en"), "Baby Diary");
  const auto keysOf = [](const std::string& language) {
    const fs::path table = testing_support::resourcesFolder() / (language + ".lproj") / "Localizable.strings";
    std::ifstream in(table, std::ios::binary);
    auto parsed = runtime::parseStringsFile(
        Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    EXPECT_TRUE(parsed.ok()) << table << ": " << (parsed.ok() ? "" : parsed.error().localizedDescription());
    std::set<std::string> keys;
    if (parsed.ok())
      for (const auto& [key, text] : *parsed) keys.insert(key);
    return keys;
  };
  // Every language has every text the English table has, so no screen falls back to English.
  const std::set<std::string> english = keysOf("en");
  EXPECT_TRUE(english.count("Internet connection lost"));
  for (const auto& language : bundle.localizations()) EXPECT_EQ(keysOf(language), english) << language;
}

TEST_F(BundleTest, ReadsItsInformationAndTakesADamagedInfoPlistAsEmpty) {
  runtime::Bundle bundle(root());
  EXPECT_EQ(bundle.bundlePath(), root());
  EXPECT_EQ(bundle.bundleIdentifier(), "com.example.diary");
  EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleVersion"), Value("213"));
  EXPECT_TRUE(bundle.objectForInfoDictionaryKey("Missing").isNull());
  EXPECT_EQ(bundle.infoDictionary().size(), 3u);

  runtime::Bundle empty(home.path() / "Nothing");
  EXPECT_TRUE(empty.infoDictionary().empty());
  EXPECT_EQ(empty.bundleIdentifier(), "");
  EXPECT_EQ(empty.localizedStringForKey("Sleep"), "Sleep");

  writeFile(root() / "Info.plist", "<?xml version=\"1.0\"?><plist><dict><key>CFBundleIdentifier</key>");
  foundation::ScopedLogCapture capture;
  EXPECT_TRUE(runtime::Bundle(root()).infoDictionary().empty());
  EXPECT_TRUE(capture.contains("Info.plist"));
  writeFile(root() / "Info.plist",
            *plist::writePropertyList(Value(foundation::Array{"x"}), plist::Format::Xml));
  EXPECT_TRUE(runtime::Bundle(root()).infoDictionary().empty());
}

TEST_F(BundleTest, FindsResourcesByNameAndTypeButNeverOutsideTheBundle) {
  runtime::Bundle bundle(root(), {"ru"});
  EXPECT_EQ(bundle.pathForResource("Model", "momd"), root() / "Model.momd");
  EXPECT_EQ(bundle.pathForResource("chart", "png"), root() / "chart.png");
  EXPECT_EQ(bundle.pathForResource("chart.png", ""), root() / "chart.png");
  EXPECT_EQ(bundle.pathForResource("terms", "html", "docs"), root() / "docs" / "terms.html");
  EXPECT_EQ(bundle.pathForResource("ru", "lproj"), root() / "ru.lproj");
  // Resources of the preferred localisation are found after the bundle's own.
  EXPECT_EQ(bundle.pathForResource("flag", "png"), root() / "ru.lproj" / "flag.png");
  EXPECT_FALSE(runtime::Bundle(root(), {"en"}).pathForResource("flag", "png"));
  EXPECT_FALSE(bundle.pathForResource("de", "lproj"));
  EXPECT_FALSE(bundle.pathForResource("", "png"));
  writeFile(home.path() / "secret.txt", "secret");
  EXPECT_FALSE(bundle.pathForResource("../secret", "txt"));
  EXPECT_FALSE(bundle.pathForResource("secret", "txt", ".."));
  EXPECT_FALSE(bundle.pathForResource("secret", "txt", home.path().string()));
  EXPECT_FALSE(bundle.pathForResource("..", ""));
}

TEST_F(BundleTest, ListsLocalizationsAndChoosesTheBestOne) {
  EXPECT_EQ(runtime::Bundle(root()).localizations(), (std::vector<std::string>{"en", "fr", "ru"}));
  EXPECT_EQ(runtime::Bundle(root(), {"de", "ru", "en"}).preferredLocalizations(),
            std::vector<std::string>{"ru"});
  // No preferred language matches: the development region.
  EXPECT_EQ(runtime::Bundle(root(), {"de"}).preferredLocalizations(), std::vector<std::string>{"en"});
  EXPECT_TRUE(runtime::Bundle(root() / "Model.momd").preferredLocalizations().empty());
}

TEST_F(BundleTest, FindsImagesForTheScreenScale) {
  runtime::Bundle bundle(root());
  using Case = std::tuple<const char*, double, const char*, double>;  // name, screen, file, scale
  for (const auto& [name, screen, file, scale] :
       {Case{"chart", 2, "chart@2x.png", 2}, Case{"chart", 1, "chart.png", 1},
        Case{"chart.png", 3, "chart@2x.png", 2},
        Case{"only", 1, "only@2x.png", 2},  // only a 2x file: a 1x screen takes it
        Case{"photo.jpg", 2, "photo.jpg", 1}}) {
    auto image = bundle.pathForImage(name, screen);
    ASSERT_TRUE(image) << name;
    EXPECT_EQ(image->path, root() / file) << name << " " << screen;
    EXPECT_EQ(image->scale, scale) << name << " " << screen;
  }
  EXPECT_FALSE(bundle.pathForImage("missing", 2));
  EXPECT_FALSE(bundle.pathForImage("Model.momd", 1));  // a folder is no image
}

TEST_F(BundleTest, LocalisedTextFallsBackToTheKey) {
  runtime::Bundle bundle(root());
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "ru"), "Сон");
  EXPECT_EQ(bundle.localizedStringInLanguage("Blank", "en"), "");  // an empty entry is found, and empty
  // A key the table lacks, a language without a table, without a folder, or no language at all.
  EXPECT_EQ(bundle.localizedStringInLanguage("Walk", "ru"), "Walk");
  for (const char* language : {"fr", "de", "", "../ru.lproj"})
    EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", language), "Sleep") << language;
  EXPECT_TRUE(bundle.hasLocalization("fr"));
  EXPECT_FALSE(bundle.hasLocalization("de"));
  // Each language's folder is found once and kept apart: back to Russian after the others.
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "ru"), "Сон");

  runtime::Bundle russian(root(), {"ru"});
  EXPECT_EQ(russian.localizedStringForKey("Sleep"), "Сон");
  EXPECT_EQ(russian.localizedStringForKey("Sleep", "", "Other"), "Другой");
  EXPECT_EQ(russian.localizedStringForKey("Nope", "Fallback"), "Fallback");
  EXPECT_EQ(russian.localizedStringForKey("Nope", ""), "Nope");
  EXPECT_EQ(russian.localizedStringForKey("Sleep", "", "NoSuchTable"), "Sleep");
}

// The encodings a table may come in are the table reader's own cases.
TEST_F(BundleTest, TablesAreReadOnceAndADamagedOneShowsKeys) {
  runtime::Bundle bundle(root());
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "ru"), "Сон");
  fs::remove(root() / "ru.lproj" / "Localizable.strings");
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "ru"), "Сон");

  writeFile(root() / "ru.lproj" / "Localizable.strings", "\"Sleep\" = \"Сон\"\n\"Walk\" = ");
  foundation::ScopedLogCapture capture;
  EXPECT_EQ(runtime::Bundle(root()).localizedStringInLanguage("Sleep", "ru"), "Sleep");
  EXPECT_TRUE(capture.contains("Localizable.strings"));
}

TEST_F(BundleTest, TheSystemRuleUsesTheMainBundleAndTheFirstOfAppleLanguages) {
  auto previousBundle = runtime::Bundle::setMain(std::make_shared<runtime::Bundle>(root()));
  auto defaults =
      std::make_shared<runtime::UserDefaults>(home.path() / "prefs.plist", std::vector<std::string>{"ru"});
  auto previousDefaults = runtime::UserDefaults::setStandard(defaults);

  EXPECT_EQ(runtime::localizedString("Sleep"), "Сон");
  // The language screen writes "AppleLanguages"; text follows at once.
  for (const foundation::Array& languages :
       {foundation::Array{"en"}, foundation::Array{"de", "ru"}, foundation::Array{}}) {
    ASSERT_TRUE(defaults->setArray(runtime::UserDefaults::kAppleLanguagesKey, languages).ok());
    EXPECT_EQ(runtime::localizedString("Sleep"), "Sleep") << languages.size();
  }
  // The bundle's own lookups follow the choice too, to the best localisation it has.
  for (const auto& [languages, text] : {std::pair{foundation::Array{"de", "ru"}, "Сон"}, {{"en"}, "Sleep"}}) {
    ASSERT_TRUE(defaults->setArray(runtime::UserDefaults::kAppleLanguagesKey, languages).ok());
    EXPECT_EQ(runtime::Bundle::main()->localizedStringForKey("Sleep"), text);
  }
  runtime::UserDefaults::setStandard(previousDefaults);
  runtime::Bundle::setMain(previousBundle);
}

}  // namespace
