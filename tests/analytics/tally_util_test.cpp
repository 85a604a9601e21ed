// The SDK's utilities: checksums and hashes on known inputs, number and URL helpers, the screen and
// orientation facts, the choice of the reported address, the SDK folder and its files, cookies,
// opt-out and the keychain wrapper.
#include "analytics/tally_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "analytics/global_variable_storage.h"
#include "analytics/keychain_wrapper.h"
#include "analytics/network_interfaces.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/ui/device.h"
#include "support/temp_dir.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Dictionary;
using foundation::Value;

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

unsigned modeOf(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 0777;
}

TEST(TallyUtilHashes, KnownInputs) {
  struct Case {
    std::string_view input;
    std::uint32_t crc;
    std::string_view fmChecksum;
    std::int32_t stableHash;
  };
  for (const Case& c : std::vector<Case>{
           {"", 0, "0", -2128831035},
           {"123456789", 0xCBF43926u, "-873187034", static_cast<std::int32_t>(0xBB86B11Cu)},
           {"abc", 0x352441C2u, "891568578", static_cast<std::int32_t>(0x1A47E90Bu)},
           {"The quick brown fox jumps over the lazy dog", 0x414FA339u, "1095738169",
            static_cast<std::int32_t>(0x048FFF90u)},
       }) {
    EXPECT_EQ(TallyUtil::dataChecksum(bytesOf(c.input)), c.crc) << c.input;
    EXPECT_EQ(TallyUtil::fmChecksum(bytesOf(c.input)), c.fmChecksum) << c.input;
    EXPECT_EQ(TallyUtil::stableHash(c.input), c.stableHash) << c.input;
  }
  EXPECT_EQ(TallyUtil::md5String(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(TallyUtil::md5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(TallyUtil::hashDataToHexString(TallyUtil::hashData(bytesOf("abc"))),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(TallyUtilNumbers, ClampsAndPrecision) {
  EXPECT_EQ(TallyUtil::uint32FromNSUInteger(0x100000000ull), 0xFFFFFFFFu);
  EXPECT_EQ(TallyUtil::uint32FromNSUInteger(7), 7u);
  EXPECT_EQ(TallyUtil::int32FromNSInteger(-5000000000ll), INT32_MIN);
  EXPECT_EQ(TallyUtil::int32FromNSInteger(5000000000ll), INT32_MAX);
  EXPECT_EQ(TallyUtil::int32FromNSInteger(-12), -12);
  EXPECT_DOUBLE_EQ(TallyUtil::reduceLocationPrecision(-12.34567), -12.345);
  EXPECT_DOUBLE_EQ(TallyUtil::reduceLocationPrecision(52.5209999), 52.520);
  EXPECT_DOUBLE_EQ(TallyUtil::reduceLocationPrecision(0.001), 0.001);
}

TEST(TallyUtilUrls, EscapingAndDecoding) {
  EXPECT_EQ(TallyUtil::encodeToPercentEscapeString("a b&c=d/é~"), "a%20b%26c%3Dd%2F%C3%A9~");
  EXPECT_EQ(TallyUtil::encodeIllegalCharsToPercentEscapeString("a b&c=d/é?%41"), "a%20b&c=d/%C3%A9?%41");
  EXPECT_EQ(TallyUtil::decodeFromPercentEscapeString("a%20b%C3%A9+"), "a bé+");
  for (std::string_view bad : {"%", "%4", "%G1", "%FF"}) {
    EXPECT_EQ(TallyUtil::decodeFromPercentEscapeString(bad), std::nullopt) << bad;
  }
}

TEST(TallyUtilUrls, ParametersRangesAndPlaceholders) {
  std::string header, query;
  auto params = TallyUtil::createParamKeysDictFromUrlParams("https://h/p?a=1&b&c=2=3&=4", &header, &query);
  ASSERT_TRUE(params);
  EXPECT_EQ(header, "https://h/p");
  EXPECT_EQ(query, "a=1&b&c=2=3&=4");
  EXPECT_EQ(*params, (Dictionary{{"a", "1"}, {"c", "2"}, {"", "4"}}));
  EXPECT_EQ(TallyUtil::createParamKeysDictFromUrlParams("https://h/p", &header, nullptr), std::nullopt);
  EXPECT_EQ(header, "https://h/p");

  EXPECT_EQ(TallyUtil::tallyRangeOfData(bytesOf("cd"), bytesOf("abcdcd")),
            std::make_pair(size_t{2}, size_t{2}));
  EXPECT_EQ(TallyUtil::tallyRangeOfData(bytesOf("xy"), bytesOf("abcd")),
            std::make_pair(size_t{0}, size_t{0}));
  EXPECT_EQ(TallyUtil::tallyRangeOfData(bytesOf(""), bytesOf("abcd")), std::make_pair(size_t{0}, size_t{0}));
  EXPECT_EQ(TallyUtil::tallyRangeOfData(bytesOf("abcde"), bytesOf("abcd")),
            std::make_pair(size_t{0}, size_t{0}));

  std::string url = "https://x/?id=$(ID)&v=$(VERSION)&n=$(NO_SUCH)&keep=$(1)";
  TallyUtil::substituteParamsInURL(url, Dictionary{{"$(ID)", "$(VERSION)-7"}, {"$(VERSION)", "155"}});
  EXPECT_EQ(url, "https://x/?id=155-7&v=155&n=&keep=$(1)");
  // A value that names itself is expanded a bounded number of times, not forever.
  std::string loop = "$(SELF)";
  TallyUtil::substituteParamsInURL(loop, Dictionary{{"$(SELF)", "a$(SELF)"}});
  EXPECT_EQ(loop, std::string(TallyUtil::kMaxSubstitutions, 'a') + "$(SELF)");
}

TEST(TallyUtilDevice, ScreenAndOrientation) {
  ui::DeviceProfile profile = ui::DeviceProfile::phone667();
  profile.statusBarOrientation = ui::Orientation::kLandscapeLeft;
  ui::ScopedDevice device(profile);
  EXPECT_EQ(TallyUtil::deviceScreenBounds(), graphics::Rect(0, 0, 375, 667));
  EXPECT_EQ(TallyUtil::screenBounds(), graphics::Rect(0, 0, 667.1, 375));
  EXPECT_EQ(TallyUtil::screenBounds("portrait"), graphics::Rect(0, 0, 375, 667.1));
  EXPECT_EQ(TallyUtil::screenBounds("LANDSCAPERIGHT"), graphics::Rect(0, 0, 667.1, 375));
  EXPECT_TRUE(TallyUtil::canvasInLandscapeLeft());
  EXPECT_FALSE(TallyUtil::canvasInLandscapeRight());
  EXPECT_EQ(TallyUtil::getCanvasOrientation(), "landscapeLeft");
  EXPECT_EQ(TallyUtil::getOrientationStrFromInterfaceOrientation(2), "portraitUpsideDown");
  EXPECT_EQ(TallyUtil::getOrientationStrFromInterfaceOrientation(0), std::nullopt);
  EXPECT_TRUE(TallyUtil::isRetina());
  EXPECT_FALSE(TallyUtil::isIPad());
  EXPECT_EQ(TallyUtil::deviceIsJailbroken(), -1);
}

TEST(TallyUtilDevice, TheReportedAddressFollowsTheInterfacesRoles) {
  auto kinds = [](std::string_view name) {
    if (name == "lo") return InterfaceKind::kLoopback;
    if (name.starts_with("wwan")) return InterfaceKind::kCellular;
    return InterfaceKind::kLocal;
  };
  struct Case {
    Dictionary addresses;
    bool preferIPv4;
    std::string expected;
  };
  for (const Case& c : std::vector<Case>{
           {{}, true, "0.0.0.0"},
           {{{"lo/ipv4", "127.0.0.1"}}, true, "0.0.0.0"},
           {{{"wwan0/ipv4", "10.1.1.1"}, {"wlp2s0/ipv6", "fe80::1"}, {"wlp2s0/ipv4", "192.168.1.5"}},
            true,
            "192.168.1.5"},
           {{{"wlp2s0/ipv6", "fe80::1"}, {"wlp2s0/ipv4", "192.168.1.5"}}, false, "fe80::1"},
           {{{"wwan0/ipv4", "10.1.1.1"}, {"lo/ipv4", "127.0.0.1"}}, false, "10.1.1.1"},
           // An interface really named en0 keeps its role before any other local one.
           {{{"eth0/ipv4", "192.168.1.9"}, {"en0/ipv4", "192.168.1.7"}}, true, "192.168.1.7"},
       }) {
    EXPECT_EQ(chooseIPAddress(c.addresses, c.preferIPv4, kinds), c.expected);
  }
}

TEST(TallyUtilDevice, InterfaceKindsComeFromTheDeviceType) {
  testing_support::TempDir sys;
  auto make = [&](const std::string& name, const std::string& type, const std::string& uevent) {
    fs::create_directories(sys / name);
    std::ofstream(sys / name / "type") << type << "\n";
    std::ofstream(sys / name / "uevent") << uevent;
  };
  make("lo", "772", "INTERFACE=lo\n");
  make("wlp2s0", "1", "DEVTYPE=wlan\nINTERFACE=wlp2s0\n");
  make("wwan0", "1", "DEVTYPE=wwan\n");
  make("ppp0", "512", "");
  make("tun0", "65535", "");
  std::string root = sys.path().string();
  EXPECT_EQ(interfaceKind("lo", root), InterfaceKind::kLoopback);
  EXPECT_EQ(interfaceKind("wlp2s0", root), InterfaceKind::kLocal);
  EXPECT_EQ(interfaceKind("wwan0", root), InterfaceKind::kCellular);
  EXPECT_EQ(interfaceKind("ppp0", root), InterfaceKind::kCellular);
  EXPECT_EQ(interfaceKind("tun0", root), InterfaceKind::kOther);
  EXPECT_EQ(interfaceKind("missing", root), InterfaceKind::kOther);
}

TEST(TallyUtilDevice, AddressesArePrintedOnlyAtTheDebugLevel) {
  for (std::uint32_t level : {1u, 2u}) {
    TallyUtil::setLogLevel(level);
    foundation::ScopedLogCapture log;
    (void)TallyUtil::getIPAddress(true);
    EXPECT_EQ(log.contains("addresses:"), level == 2) << level;
  }
  TallyUtil::setLogLevel(1);
}

using TallyUtilFiles = SdkFixture;

TEST_F(TallyUtilFiles, TheSdkFolderAndItsFilesAreTheOwnersOnly) {
  auto folder = TallyUtil::filePathDirectory();
  ASSERT_TRUE(folder);
  EXPECT_EQ(*folder, home_.path() / "Library" / "Application Support" / "TallyFiles");
  EXPECT_EQ(modeOf(*folder), 0700u);
  fs::path file = *folder / "map.archive";
  // Whether or not this file system takes the backup attribute, the file is written.
  ASSERT_TRUE(TallyUtil::archiveDictionary(Value(Dictionary{{"k", "v"}}), file));
  EXPECT_EQ(modeOf(file), 0600u);
  EXPECT_EQ(TallyUtil::safeUnarchiveObjectWithFile(file), Value(Dictionary{{"k", "v"}}));
  // So are the session archives, which hold the user id and location: the current session's and the
  // saved sessions'.
  TallyGlobalVariableStorage::sharedInstance()->setApiKey(std::string(kApiKey));
  auto session = TallySession::initWithAPIKey(std::string(kApiKey), "1", clock_.now());
  session->setUserID("parent-7");
  ASSERT_TRUE(session->saveToDisk());
  ASSERT_TRUE(TallySession::setSavedSessions({Bytes{1, 2, 3}}));
  for (const fs::path& archive : {TallySession::currentSessionFilePath(), TallySession::sessionsFilePath()})
    EXPECT_EQ(modeOf(archive), 0600u) << archive;
  EXPECT_FALSE(TallyUtil::archiveDictionary(Value("not a dictionary"), file));
  EXPECT_EQ(TallyUtil::safeUnarchiveObjectWithFile(file), Value(Dictionary{{"k", "v"}}));

  // A damaged file reads as nothing and goes, so the next save starts afresh.
  ASSERT_TRUE(files::writeAtomic(file, std::string_view("bplist00 cut short")));
  EXPECT_EQ(TallyUtil::safeUnarchiveObjectWithFile(file), std::nullopt);
  EXPECT_FALSE(files::exists(file));
  EXPECT_EQ(TallyUtil::safeUnarchiveObjectWithFile(""), std::nullopt);

  ui::DeviceProfile old;
  old.systemVersion = "5.0.1";
  ui::ScopedDevice device(old);
  EXPECT_EQ(*TallyUtil::filePathDirectory(), home_.path() / "Library" / "Caches");
  EXPECT_EQ(*TallyUtil::oldFilePathDirectoryUptilAgentVersion109(), home_.path() / "Library" / "TallyFiles");
}

TEST_F(TallyUtilFiles, CookiesAreCappedButChangeable) {
  auto bytes = [](std::string_view text) { return Bytes(text.begin(), text.end()); };
  // Without maps (no API key yet) nothing changes.
  EXPECT_FALSE(TallyUtil::updateIfChangedCookieValue(bytes("v"), bytes("k")));
  auto settings = TallyGlobalVariableStorage::sharedInstance();
  settings->setApiKey("KEY");
  for (size_t i = 0; i < kTallyMaxCookies; ++i) {
    ASSERT_TRUE(TallyUtil::updateIfChangedCookieValue(bytes("v"), bytes("k" + std::to_string(i))));
  }
  EXPECT_FALSE(TallyUtil::updateIfChangedCookieValue(bytes("v"), bytes("one more")));
  EXPECT_FALSE(TallyUtil::updateIfChangedCookieValue(bytes("v"), bytes("k1")));
  EXPECT_TRUE(TallyUtil::updateIfChangedCookieValue(bytes("changed"), bytes("k1")));
  EXPECT_TRUE(TallyUtil::updateIfChangedCookieValue({}, bytes("k2")));
  // A key is any bytes but none: one that is not text takes the place k2 left.
  EXPECT_FALSE(TallyUtil::updateIfChangedCookieValue(bytes("v"), Bytes{}));
  EXPECT_TRUE(TallyUtil::updateIfChangedCookieValue(bytes("v"), Bytes{0xFF, 0xFE}));
  auto cookies = settings->persistentMap(TallyPersistentMap::kCookies);
  ASSERT_TRUE(cookies);
  EXPECT_EQ(cookies->size(), kTallyMaxCookies);
  EXPECT_EQ((*cookies)["k1"], Value(bytes("changed")));
  EXPECT_EQ((*cookies)["\xFF\xFE"], Value(bytes("v")));
}

TEST_F(TallyUtilFiles, OptOutAndKeychainItems) {
  EXPECT_FALSE(TallyUtil::hasUserOptedOut());
  TallyUtil::setTallyOptOut(true);
  EXPECT_TRUE(TallyUtil::hasUserOptedOut());
  TallyUtil::setTallyOptOut(false);
  EXPECT_FALSE(TallyUtil::hasUserOptedOut());

  EXPECT_EQ(TallyKeychainWrapper::keychainWrapperWithIdentifier(""), nullptr);
  auto wrapper = TallyKeychainWrapper::keychainWrapperWithIdentifier(kTallyKeychainIdentifier);
  ASSERT_NE(wrapper, nullptr);
  EXPECT_TRUE(wrapper->identifier().ends_with("com.tally.analytics"));
  EXPECT_TRUE(wrapper->setString("first", "TallyAPIKey"));
  EXPECT_TRUE(wrapper->setString("second", "TallyAPIKey"));
  EXPECT_EQ(wrapper->stringForKey("TallyAPIKey"), "second");
  EXPECT_FALSE(wrapper->setString("x", ""));
  EXPECT_FALSE(wrapper->setObject(Value(), "TallySessionTimestampKey"));
  EXPECT_TRUE(wrapper->setObject(Value(foundation::Date{5.5}), "TallySessionTimestampKey"));
  EXPECT_EQ(wrapper->objectForKey("TallySessionTimestampKey"), Value(foundation::Date{5.5}));

  EXPECT_TRUE(wrapper->setString("old identifier", "TallyDataKey"));
  TallyUtil::cleanupStoredIdentifierForVendor();
  EXPECT_EQ(wrapper->dataForKey("TallyDataKey"), std::nullopt);
  EXPECT_EQ(wrapper->stringForKey("TallyAPIKey"), "second");
}

}  // namespace
}  // namespace analytics
