#include "platform/runtime/bundle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

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
  std::ofstream out(path, std::ios::binary);
  out << contents;
}

void writeFile(const fs::path& path, const Bytes& contents) {
  writeFile(path, std::string_view(reinterpret_cast<const char*>(contents.data()), contents.size()));
}

class BundleTest : public ::testing::Test {
 protected:
  BundleTest() {
    auto info = plist::writePropertyList(Value(Dictionary{{"CFBundleIdentifier", "com.example.diary"},
                                                          {"CFBundleShortVersionString", "2.1.3"},
                                                          {"CFBundleVersion", "213"},
                                                          {"CFBundleDevelopmentRegion", "en"},
                                                          {"CFBundleURLTypes", Value(foundation::Array{})}}),
                                         plist::Format::Binary);
    writeFile(root() / "Info.plist", *info);
    writeFile(root() / "en.lproj" / "Localizable.strings",
              "\"Sleep\" = \"Sleep\";\n\"Walk\" = \"Walk\";\n\"Blank\" = \"\";\n");
    writeFile(root() / "ru.lproj" / "Localizable.strings", "\"Sleep\" = \"Сон\";\n");
    writeFile(root() / "ru.lproj" / "Other.strings", "\"Sleep\" = \"Другой\";\n");
    fs::create_directories(root() / "fr.lproj");  // a language with a folder but no table
    writeFile(root() / "Model.momd" / "Model.mom", "model");
    writeFile(root() / "chart.png", "1x");
    writeFile(root() / "chart@2x.png", "2x");
    writeFile(root() / "only@2x.png", "2x");
    writeFile(root() / "photo.jpg", "jpg");
    writeFile(root() / "docs" / "terms.html", "terms");
    writeFile(root() / "ru.lproj" / "flag.png", "ru flag");
  }

  fs::path root() const { return home.path() / "Bundle"; }

  testing_support::TempDir home;
};

TEST(BundleResourcesTest, TheRepositoryBundleDeclaresTheApplication) {
  runtime::Bundle bundle("../resources");
  EXPECT_EQ(bundle.bundleIdentifier(), "com.quennivore.babydiary");
  EXPECT_EQ(bundle.objectForInfoDictionaryKey(runtime::kBundleShortVersionStringKey), Value("4.1"));
  EXPECT_EQ(bundle.objectForInfoDictionaryKey(runtime::kBundleVersionKey), Value("41"));
  EXPECT_EQ(bundle.objectForInfoDictionaryKey(runtime::kBundleDisplayNameKey), Value("Baby Diary"));
  EXPECT_TRUE(bundle.hasLocalization("en"));
  EXPECT_EQ(bundle.localizedStringInLanguage("AppName", "en"), "Baby Diary");
}

TEST(BundleResourcesTest, EveryRepositoryStringTableParses) {
  runtime::Bundle bundle("../resources");
  for (const auto& language : bundle.localizations()) {
    const fs::path table = fs::path("../resources") / (language + ".lproj") / "Localizable.strings";
    if (!fs::exists(table)) continue;
    std::ifstream in(table, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto parsed = runtime::parseStringsFile(bytes);
    EXPECT_TRUE(parsed.ok()) << table << ": " << (parsed.ok() ? "" : parsed.error().localizedDescription());
  }
}

TEST_F(BundleTest, ReadsItsInformation) {
  runtime::Bundle bundle(root());
  EXPECT_EQ(bundle.bundlePath(), root());
  EXPECT_EQ(bundle.bundleIdentifier(), "com.example.diary");
  EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleVersion"), Value("213"));
  EXPECT_TRUE(bundle.objectForInfoDictionaryKey("Missing").isNull());
  EXPECT_EQ(bundle.infoDictionary().size(), 5u);

  runtime::Bundle empty(home.path() / "Nothing");
  EXPECT_TRUE(empty.infoDictionary().empty());
  EXPECT_EQ(empty.bundleIdentifier(), "");
  EXPECT_EQ(empty.localizedStringForKey("Sleep"), "Sleep");
  EXPECT_FALSE(empty.pathForResource("chart", "png"));
}

TEST_F(BundleTest, ADamagedInfoPlistIsLoggedAndReadsAsEmpty) {
  writeFile(root() / "Info.plist", "<?xml version=\"1.0\"?><plist><dict><key>CFBundleIdentifier</key>");
  foundation::ScopedLogCapture capture;
  runtime::Bundle bundle(root());
  EXPECT_TRUE(bundle.infoDictionary().empty());
  EXPECT_TRUE(capture.contains("Info.plist"));

  writeFile(root() / "Info.plist",
            *plist::writePropertyList(Value(foundation::Array{"x"}), plist::Format::Xml));
  runtime::Bundle arrayRoot(root());
  EXPECT_TRUE(arrayRoot.infoDictionary().empty());
}

TEST_F(BundleTest, FindsResourcesByNameAndType) {
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
  // Names never lead out of the bundle.
  writeFile(home.path() / "secret.txt", "secret");
  EXPECT_FALSE(bundle.pathForResource("../secret", "txt"));
  EXPECT_FALSE(bundle.pathForResource("secret", "txt", ".."));
  EXPECT_FALSE(bundle.pathForResource("secret", "txt", (home.path()).string()));
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
  auto twice = bundle.pathForImage("chart", 2);
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->path, root() / "chart@2x.png");
  EXPECT_EQ(twice->scale, 2);
  auto once = bundle.pathForImage("chart", 1);
  ASSERT_TRUE(once);
  EXPECT_EQ(once->path, root() / "chart.png");
  EXPECT_EQ(once->scale, 1);
  auto thrice = bundle.pathForImage("chart.png", 3);
  ASSERT_TRUE(thrice);
  EXPECT_EQ(thrice->path, root() / "chart@2x.png");
  // Only a 2x file: a 1x screen takes it, at scale 2.
  auto only = bundle.pathForImage("only", 1);
  ASSERT_TRUE(only);
  EXPECT_EQ(only->path, root() / "only@2x.png");
  EXPECT_EQ(only->scale, 2);
  auto jpeg = bundle.pathForImage("photo.jpg", 2);
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->path, root() / "photo.jpg");
  EXPECT_FALSE(bundle.pathForImage("missing", 2));
  EXPECT_FALSE(bundle.pathForImage("Model.momd", 1));  // a folder is no image
}

TEST_F(BundleTest, LocalisedTextFollowsTheLanguagesFolder) {
  runtime::Bundle bundle(root());
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "ru"), "Сон");
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "en"), "Sleep");
  // A key the table lacks, a language without a table, without a folder, or no language at all:
  // the key itself.
  EXPECT_EQ(bundle.localizedStringInLanguage("Walk", "ru"), "Walk");
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "fr"), "Sleep");
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "de"), "Sleep");
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", ""), "Sleep");
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "../ru.lproj"), "Sleep");
  // An entry that is empty is found, and empty.
  EXPECT_EQ(bundle.localizedStringInLanguage("Blank", "en"), "");
  EXPECT_TRUE(bundle.hasLocalization("fr"));
  EXPECT_FALSE(bundle.hasLocalization("de"));
}

TEST_F(BundleTest, LocalizedStringForKeyUsesTheBestLocalisationAndNamedTables) {
  runtime::Bundle russian(root(), {"ru"});
  EXPECT_EQ(russian.localizedStringForKey("Sleep"), "Сон");
  EXPECT_EQ(russian.localizedStringForKey("Sleep", "", "Other"), "Другой");
  EXPECT_EQ(russian.localizedStringForKey("Nope", "Fallback"), "Fallback");
  EXPECT_EQ(russian.localizedStringForKey("Nope", ""), "Nope");
  EXPECT_EQ(russian.localizedStringForKey("Sleep", "", "NoSuchTable"), "Sleep");
  EXPECT_EQ(runtime::Bundle(root(), {"de"}).localizedStringForKey("Walk"), "Walk");
}

TEST_F(BundleTest, ADamagedTableShowsKeysAndIsLogged) {
  writeFile(root() / "ru.lproj" / "Localizable.strings", "\"Sleep\" = \"Сон\"\n\"Walk\" = ");
  runtime::Bundle bundle(root());
  foundation::ScopedLogCapture capture;
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "ru"), "Sleep");
  EXPECT_TRUE(capture.contains("Localizable.strings"));
}

TEST_F(BundleTest, ReadsUtf16TablesAndKeepsThemAfterTheFirstRead) {
  const std::u16string text = u"\"Sleep\" = \"Сон\";";
  Bytes bytes{0xFF, 0xFE};
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  writeFile(root() / "ru.lproj" / "Localizable.strings", bytes);
  runtime::Bundle bundle(root());
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "ru"), "Сон");
  fs::remove(root() / "ru.lproj" / "Localizable.strings");
  EXPECT_EQ(bundle.localizedStringInLanguage("Sleep", "ru"), "Сон");
}

TEST_F(BundleTest, TheSystemRuleUsesTheMainBundleAndAppleLanguages) {
  auto previousBundle = runtime::Bundle::setMain(std::make_shared<runtime::Bundle>(root()));
  auto defaults =
      std::make_shared<runtime::UserDefaults>(home.path() / "prefs.plist", std::vector<std::string>{"ru"});
  auto previousDefaults = runtime::UserDefaults::setStandard(defaults);

  EXPECT_EQ(runtime::localizedString("Sleep"), "Сон");
  // The language screen writes "AppleLanguages"; text follows at once.
  ASSERT_TRUE(defaults->setArray(runtime::UserDefaults::kAppleLanguagesKey, {"en"}).ok());
  EXPECT_EQ(runtime::localizedString("Sleep"), "Sleep");
  ASSERT_TRUE(defaults->setArray(runtime::UserDefaults::kAppleLanguagesKey, {"de", "ru"}).ok());
  EXPECT_EQ(runtime::localizedString("Sleep"), "Sleep");  // only the first language counts
  ASSERT_TRUE(defaults->setArray(runtime::UserDefaults::kAppleLanguagesKey, {}).ok());
  EXPECT_EQ(runtime::localizedString("Sleep"), "Sleep");

  runtime::UserDefaults::setStandard(previousDefaults);
  runtime::Bundle::setMain(previousBundle);
}

}  // namespace
