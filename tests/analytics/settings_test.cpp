// The SDK's settings and persistent stores: maps that outlive the settings object, the rules of
// session parameters and origin sets, readers and writers on several threads, the event and error
// counters and the file cache.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "analytics/auto_increment.h"
#include "analytics/file_cache.h"
#include "analytics/global_variable_storage.h"
#include "analytics/relay_settings.h"
#include "analytics/tally_util.h"
#include "platform/files/file_ops.h"
#include "platform/runtime/run_loop.h"
#include "tests/analytics/hand_made_archive.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

namespace fs = std::filesystem;
using foundation::Dictionary;
using foundation::Value;

class SettingsTest : public SdkFixture {
 protected:
  ~SettingsTest() override { TallyFileCache::cleanup(); }
  static std::shared_ptr<TallyGlobalVariableStorage> settings() { return storage(); }
  fs::path sdkFolder() const { return home_.path() / "Library" / "Application Support" / "TallyFiles"; }
};

Dictionary numbered(std::string_view prefix, int count) {
  Dictionary d;
  for (int i = 0; i < count; ++i) d.set(std::string(prefix) + std::to_string(i), Value(i));
  return d;
}

TEST_F(SettingsTest, MapsWrittenByOneInstanceAreReadByTheNextAndDamagedOnesReplaced) {
  EXPECT_EQ(settings()->persistentMap(TallyPersistentMap::kGlobals), std::nullopt);
  settings()->setApiKey(" ZK4P W8RX ");
  EXPECT_EQ(settings()->apiKey(), "ZK4PW8RX");
  // The file names carry a fixed hash of the trimmed key, so the next build finds them again.
  std::string suffix = std::to_string(TallyUtil::stableHash("ZK4PW8RX")) + "_155.archive";
  for (auto map : kTallyPersistentMaps) {
    fs::path file = sdkFolder() / ("." + std::string(persistentMapStem(map)) + suffix);
    EXPECT_TRUE(files::exists(file)) << file;
    EXPECT_EQ(settings()->getPersistentFilePath(persistentMapStem(map)), file);
  }
  settings()->setMaxBitRateKbps(0);
  EXPECT_EQ(settings()->maxBitRateKbps(), 500);
  settings()->setMaxBitRateKbps(64);
  EXPECT_TRUE(settings()->lastAdTrackingEnabledSetting());
  settings()->updatePersistentMap(TallyPersistentMap::kRelayUrls,
                                  [](Dictionary& urls) { urls.set("https://r/1", Value(3)); });
  ASSERT_TRUE(settings()->savePersistentGlobalsToDisk());

  TallyGlobalVariableStorage::cleanup();
  settings()->setApiKey("ZK4PW8RX");
  EXPECT_EQ(settings()->maxBitRateKbps(), 64);
  EXPECT_EQ((*settings()->persistentMap(TallyPersistentMap::kGlobals))["isAdTrackingEnabled"], Value(true));
  EXPECT_EQ(settings()->persistentMap(TallyPersistentMap::kRelayUrls),
            (Dictionary{{"https://r/1", Value(3)}}));
  EXPECT_FALSE(settings()->analyticsEnabled());
  EXPECT_EQ(settings()->logLevel(), 0);

  TallyGlobalVariableStorage::cleanup();
  EXPECT_EQ(settings()->getPersistentFilePath("tallyPropertiesData"), std::nullopt);  // no key yet

  // A damaged map starts empty and is replaced.
  settings()->setApiKey("KEY");
  fs::path globals = *settings()->persistentGlobalsFilePath();
  ASSERT_TRUE(files::writeAtomic(globals, std::string_view("not an archive")));
  TallyGlobalVariableStorage::cleanup();
  settings()->setApiKey("KEY");
  EXPECT_EQ(settings()->persistentMap(TallyPersistentMap::kGlobals), Dictionary{});
  settings()->setMaxBitRateKbps(8);
  ASSERT_TRUE(settings()->savePersistentGlobalsToDisk());
  EXPECT_EQ(TallyUtil::safeUnarchiveObjectWithFile(globals), Value(Dictionary{{"maxBitRateKbps", Value(8)}}));
}

// A cookie file, a settings file and a watch session's counters file laid out record by record: in the
// platform's layout (cookie keys as data, one of them not text; the Relay settings as their archived
// object; counter numbers as integers, one number stored once for a key and a value) and as earlier
// builds wrote them (text keys; the settings' dictionary form). Each is read whole (but for entries
// keyed by a kind no map holds) and left on disk, then saved back in the platform's layout, which
// reads whole again.
TEST_F(SettingsTest, CookieSettingsAndCounterFilesLaidOutByHandReadBackWhole) {
  using foundation::Bytes;
  TallyRelaySettings relay;
  relay.lastResponseTime = 1700000000;
  relay.nextRefreshTTL = 1700086400000;
  relay.expirationTTL = 1700604800000;
  TallyRelayAppTemplate callback;
  callback.partner = "partner-a";
  callback.events = {"tally.session_end"};
  callback.method = 2;
  callback.uriTemplate = "https://p/d=%{session_duration_millis}";
  callback.maxRedirects = 5;
  callback.connectTimeout = 20;
  callback.requestTimeout = 30;
  relay.callbacks = {callback};

  auto uid = HandMadeArchive::uid;
  auto integer = HandMadeArchive::integer;
  auto text = [](HandMadeArchive& a, std::string_view t) { return a.add(HandMadeArchive::text(t)); };
  auto number = [](HandMadeArchive& a, long long n) { return a.add(HandMadeArchive::integer(n)); };
  // The Relay settings as the object (numbers by reference and inline, a nil body template) or in
  // dictionary form; the map around them also holds the bit rate.
  auto settingsFile = [&](bool asObject) {
    HandMadeArchive a;
    size_t events = a.array({text(a, "tally.session_end")});
    size_t relayRecord;
    if (asObject) {
      size_t callbackRecord = a.record(
          "TallyRelayAppTemplate",
          "<key>partner</key>" + uid(text(a, "partner-a")) + "<key>events</key>" + uid(events) +
              "<key>method</key>" + integer(2) + "<key>uriTemplate</key>" +
              uid(text(a, "https://p/d=%{session_duration_millis}")) + "<key>bodyTemplate</key>" + uid(0) +
              "<key>maxRedirects</key>" + integer(5) + "<key>connectionTimeout</key>" + integer(20) +
              "<key>requestTimeout</key>" + integer(30));
      relayRecord =
          a.record("TallyRelaySettings",
                   "<key>lastResponseTime</key>" + uid(number(a, 1700000000)) +
                       "<key>nextRefreshTTL</key>" + uid(number(a, 1700086400000)) +
                       "<key>expirationTTL</key>" + uid(number(a, 1700604800000)) +
                       "<key>callbacks</key>" + uid(a.array({callbackRecord})));
    } else {
      size_t callbackDictionary =
          a.dictionary({{text(a, "partner"), text(a, "partner-a")},
                        {text(a, "events"), events},
                        {text(a, "method"), number(a, 2)},
                        {text(a, "uriTemplate"), text(a, "https://p/d=%{session_duration_millis}")},
                        {text(a, "maxRedirects"), number(a, 5)},
                        {text(a, "connectionTimeout"), number(a, 20)},
                        {text(a, "requestTimeout"), number(a, 30)}});
      relayRecord = a.dictionary({{text(a, "lastResponseTime"), number(a, 1700000000)},
                                  {text(a, "nextRefreshTTL"), number(a, 1700086400000)},
                                  {text(a, "expirationTTL"), number(a, 1700604800000)},
                                  {text(a, "callbacks"), a.array({callbackDictionary})}});
    }
    return a.bytes(a.dictionary({{text(a, "maxBitRateKbps"), number(a, 250)},
                                 {text(a, "relaySettings"), relayRecord}}));
  };
  // Cookies keyed by data ("sid" and the bytes FF 6B) or by text.
  auto cookieFile = [&](bool dataKeys) {
    HandMadeArchive a;
    auto data = [&](std::string_view base64) { return a.add("<data>" + std::string(base64) + "</data>"); };
    if (!dataKeys) return a.bytes(a.dictionary({{text(a, "sid"), data("NDI=")}}));
    return a.bytes(a.dictionary({{data("c2lk"), data("NDI=")}, {data("/2s="), data("dg==")}}));
  };
  // Cookies keyed by a real number and by a date around a good one: only those two entries are lost.
  auto oddlyKeyedCookies = [&] {
    HandMadeArchive a;
    size_t value = a.add("<data>NDI=</data>");
    size_t date = a.record("NSDate", "<key>NS.time</key><real>5</real>");
    return a.bytes(a.dictionary({{a.add("<real>2.5</real>"), value}, {text(a, "sid"), value}, {date, value}}));
  };
  // The counters: errors (1) at 7, events (2) at 1.
  auto counterFile = [&](bool integerKeys) {
    HandMadeArchive a;
    size_t one = number(a, 1);
    size_t seven = number(a, 7);
    size_t counters = integerKeys ? a.dictionary({{one, seven}, {number(a, 2), one}})
                                  : a.dictionary({{text(a, "1"), seven}, {text(a, "2"), one}});
    return a.bytes(a.record("TallyAutoIncrement", "<key>autoIncrementCounters</key>" + uid(counters)));
  };
  // The same counters keyed by YES and 2.0, which the platform finds by value, and a fraction that
  // names no counter.
  auto oddlyKeyedCounters = [&] {
    HandMadeArchive a;
    size_t counters = a.dictionary({{a.add("<true/>"), number(a, 7)},
                                    {a.add("<real>2.0</real>"), number(a, 1)},
                                    {a.add("<real>2.5</real>"), number(a, 9)}});
    return a.bytes(a.record("TallyAutoIncrement", "<key>autoIncrementCounters</key>" + uid(counters)));
  };
  const Dictionary settingsMap{{"maxBitRateKbps", Value(250)}, {"relaySettings", relay.dataDictionary()}};
  const Dictionary nextNumbers{{"error", Value(8)}, {"event", Value(2)}};
  const Value sid(Bytes{'4', '2'});
  const struct {
    const char* name;
    std::optional<TallyPersistentMap> map;  // nothing: the watch session's counters
    Bytes file;
    Dictionary expected;  // the map, or the numbers the counters hand out next
  } cases[] = {
      {"settings, object", TallyPersistentMap::kGlobals, settingsFile(true), settingsMap},
      {"settings, dictionary form", TallyPersistentMap::kGlobals, settingsFile(false), settingsMap},
      {"cookies, data keys", TallyPersistentMap::kCookies, cookieFile(true),
       Dictionary{{"sid", sid}, {"\xFF\x6B", Value(Bytes{'v'})}}},
      {"cookies, text keys", TallyPersistentMap::kCookies, cookieFile(false), Dictionary{{"sid", sid}}},
      {"cookies, real and date keys", TallyPersistentMap::kCookies, oddlyKeyedCookies(), Dictionary{{"sid", sid}}},
      {"counters, integer keys", std::nullopt, counterFile(true), nextNumbers},
      {"counters, text keys", std::nullopt, counterFile(false), nextNumbers},
      {"counters, boolean and real keys", std::nullopt, oddlyKeyedCounters(), nextNumbers},
  };
  plist::ClassRegistry classes;
  TallyRelaySettings::registerClass(classes);
  TallyAutoIncrement::registerClass(classes);
  // The counters as the watch session restores them; saved back before they hand out the next numbers.
  auto readAndSaveCounters = [&](const fs::path& file) -> std::optional<Dictionary> {
    auto bytes = files::readFile(file);
    auto counters = plist::unarchiveRootObjectOfClass<TallyAutoIncrement>(bytes ? *bytes : Bytes{}, classes);
    if (!counters || !*counters) return std::nullopt;
    if (!TallyUtil::writeSdkFile(file, *plist::archiveRootObject(**counters)).ok()) return std::nullopt;
    return Dictionary{{"error", Value((*counters)->nextCountFor(kTallyErrorCounter))},
                      {"event", Value((*counters)->nextCountFor(kTallyEventCounter))}};
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TallyGlobalVariableStorage::cleanup();
    settings()->setApiKey("KEY");
    fs::path file = c.map ? *settings()->getPersistentFilePath(persistentMapStem(*c.map))
                          : TallySession::currentWatchAutoIncrementFilePath();
    ASSERT_TRUE(TallyUtil::writeSdkFile(file, c.file).ok());
    for (const char* round : {"as laid out", "as saved back"}) {
      TallyGlobalVariableStorage::cleanup();
      settings()->setApiKey("KEY");
      if (!c.map) {
        EXPECT_EQ(readAndSaveCounters(file), c.expected) << round;
        continue;
      }
      EXPECT_EQ(settings()->persistentMap(*c.map), c.expected) << round;
      ASSERT_TRUE(files::exists(file)) << round;
      if (c.map == TallyPersistentMap::kGlobals) {
        EXPECT_EQ(storedRelaySettings(), relay) << round;
        EXPECT_EQ(settings()->maxBitRateKbps(), 250) << round;
      }
      ASSERT_TRUE(settings()->savePersistentGlobalsToDisk());
    }
    if (!c.map) {
      // Saved back, the counter numbers are integers again, as the platform writes them.
      plist::ClassRegistry probe;
      std::vector<Value> keys;
      probe.add(std::string(TallyAutoIncrement::kClassName), [&](plist::Decoder& d) -> plist::ObjectPtr {
        for (const auto& entry :
             d.decodeEntries("autoIncrementCounters").value_or(std::vector<plist::DictionaryEntry>{}))
          keys.push_back(entry.key);
        return nullptr;
      });
      ASSERT_TRUE(plist::unarchiveRootObject(*files::readFile(file), probe));
      EXPECT_EQ(keys, (std::vector<Value>{Value(1), Value(2)}));
      continue;
    }
    auto saved = TallyUtil::safeUnarchiveEntriesWithFile(file, classes);
    ASSERT_TRUE(saved);
    for (const auto& entry : *saved) {
      if (c.map == TallyPersistentMap::kCookies) {
        EXPECT_TRUE(entry.key.data()) << entry.key.description();
      } else if (entry.key == Value("relaySettings")) {
        EXPECT_TRUE(std::dynamic_pointer_cast<TallyRelaySettings>(entry.object));
      }
    }
  }
}

TEST_F(SettingsTest, SessionParametersMergeUpToTwenty) {
  struct Case {
    std::optional<Dictionary> current;
    std::optional<Dictionary> given;
    std::optional<Dictionary> expected;
  };
  Dictionary five = numbered("old", 5);
  Dictionary sixteen = numbered("new", 16);
  Dictionary fiveAndFifteen = five;
  for (int i = 0; i < 15; ++i) fiveAndFifteen.set("new" + std::to_string(i), Value(i));
  for (const Case& c : std::vector<Case>{
           {Dictionary{{"a", 1}}, Dictionary{{"b", 2}}, Dictionary{{"b", 2}}},  // one entry: replaced
           {five, sixteen, fiveAndFifteen},
           {five, numbered("new", 20), five},  // twenty at once: refused, nothing changes
           {five, Dictionary{{"old1", "x"}},
            [&] {
              Dictionary d = five;
              d.set("old1", "x");
              return d;
            }()},
           {five, std::nullopt, std::nullopt},
           {five, Dictionary{}, std::nullopt},
       }) {
    settings()->setSessionParameters(c.current);
    settings()->recordSessionProperties(c.given);
    EXPECT_EQ(settings()->sessionParameters(), c.expected);
  }
}

TEST_F(SettingsTest, OriginSetsReplaceTheirNamesakeAtTheEnd) {
  settings()->recordOrigin("A", "1", Dictionary{{"p", 1}});
  settings()->recordOrigin("Tally_Adnet_iOS", "2", {});
  EXPECT_TRUE(settings()->isAdNetIntegration());
  settings()->recordOrigin("A", "3", Dictionary{{"q", 2}});
  settings()->recordOrigin("", "4", {});
  settings()->recordOrigin("B", "5", numbered("k", 10));
  foundation::Array sets = settings()->originSets();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ((*sets[0].dictionary())["originName"], Value("Tally_Adnet_iOS"));
  EXPECT_EQ(sets[1],
            Value(Dictionary{{"originName", "A"},
                             {"parameters", Value(Dictionary{{"tallyOriginVersion", "3"}, {"q", 2}})}}));
}

TEST_F(SettingsTest, PendingUrlTimersAreStoppedAndForgotten) {
  foundation::ManualClock clock{foundation::Date{0}};
  runtime::RunLoop testLoop(clock);
  runtime::ScopedMainRunLoop scope(testLoop);
  int fired = 0;
  settings()->addPendingUrlTimer(
      runtime::RunLoop::main().scheduleTimer(1, false, [&](runtime::Timer&) { ++fired; }));
  settings()->addPendingUrlTimer(
      runtime::RunLoop::main().scheduleTimer(2, true, [&](runtime::Timer&) { ++fired; }));
  settings()->removePendingUrlTimers();
  EXPECT_EQ(settings()->pendingUrlTimerCount(), 0u);
  runtime::RunLoop::main().advance(5);
  EXPECT_EQ(fired, 0);
}

// Settings are used from the session queue and the main thread at once (run under ThreadSanitizer too).
TEST_F(SettingsTest, ConcurrentReadersAndWriters) {
  settings()->setApiKey("KEY");
  auto shared = settings();
  std::atomic<bool> sawTorn{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        std::string id = "user-" + std::to_string(t) + "-" + std::to_string(i);
        shared->setUserID(id);
        auto seen = shared->userID();
        if (!seen || seen->rfind("user-", 0) != 0) sawTorn = true;
        shared->setGender(t % 2 ? "m" : "f");
        shared->recordSessionProperties(Dictionary{{"t" + std::to_string(t), Value(i)}, {"i", Value(i)}});
        shared->updatePersistentMap(TallyPersistentMap::kGlobals,
                                    [&](Dictionary& g) { g.set("t" + std::to_string(t), Value(i)); });
        if (i % 50 == 0) (void)shared->savePersistentGlobalsToDisk();
        (void)shared->maxBitRateKbps();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(sawTorn);
  ASSERT_TRUE(shared->savePersistentGlobalsToDisk());
  TallyGlobalVariableStorage::cleanup();
  settings()->setApiKey("KEY");
  auto globals = settings()->persistentMap(TallyPersistentMap::kGlobals);
  ASSERT_TRUE(globals);
  for (int t = 0; t < 4; ++t) EXPECT_EQ((*globals)["t" + std::to_string(t)], Value(199));
}

TEST_F(SettingsTest, CountersNumberFromOneAndSurviveArchiving) {
  TallyAutoIncrement counters;
  EXPECT_EQ(counters.nextCountFor(kTallyEventCounter), 1);
  EXPECT_EQ(counters.nextCountFor(kTallyEventCounter), 2);
  EXPECT_EQ(counters.nextCountFor(kTallyErrorCounter), 1);
  auto bytes = plist::archiveRootObject(counters);
  ASSERT_TRUE(bytes);
  plist::ClassRegistry registry;
  TallyAutoIncrement::registerClass(registry);
  auto restored = plist::unarchiveRootObjectOfClass<TallyAutoIncrement>(*bytes, registry);
  ASSERT_TRUE(restored && *restored);
  EXPECT_EQ((*restored)->nextCountFor(kTallyEventCounter), 3);
  (*restored)->resetAll();
  EXPECT_EQ((*restored)->nextCountFor(kTallyEventCounter), 1);

  // Counters that are not 32-bit numbers make the archive fail rather than restore garbage.
  struct Bad : plist::Archivable {
    plist::DictionaryEntry counter;
    std::string className() const override { return "TallyAutoIncrement"; }
    void encodeWithCoder(plist::Coder& c) const override {
      c.encodeEntries("autoIncrementCounters", {counter});
    }
  };
  const std::pair<Value, Value> bad[] = {
      {Value("two"), Value("x")},
      {Value("2"), Value("x")},
      {Value("two"), Value(1)},
      {Value(""), Value(1)},
      {Value(" 2"), Value(1)},
      {Value("4294967298"), Value(1)},
      {Value(std::int64_t{1} << 40), Value(1)},
      {Value(foundation::Bytes{'2'}), Value(1)},
      {Value(2), Value(-1)},
      {Value(2), Value(std::int64_t{1} << 31)},
  };
  for (const auto& [key, value] : bad) {
    Bad counters;
    counters.counter = {key, value, nullptr};
    auto bytes = plist::archiveRootObject(counters);
    ASSERT_TRUE(bytes) << key.description();
    EXPECT_FALSE(plist::unarchiveRootObjectOfClass<TallyAutoIncrement>(*bytes, registry))
        << key.description();
  }
}

TEST_F(SettingsTest, TheFileCacheKeepsValuesPerPrefixAndVersion) {
  auto cache = TallyFileCache::createInstanceWithApiKey("KEY", "155");
  EXPECT_EQ(TallyFileCache::createInstanceWithApiKey("OTHER", "1"), cache);
  auto path = cache->save(Value(Dictionary{{"a", 1}}), "p");
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, sdkFolder() / "tallyCache_p_KEY_155.archive");
  EXPECT_EQ(cache->get("p"), Value(Dictionary{{"a", 1}}));
  EXPECT_EQ(cache->get("p", false), std::nullopt);
  EXPECT_EQ(*cache->createFilePath("p", false), sdkFolder() / "tallyCache_p_KEY_.archive");
  EXPECT_TRUE(cache->remove("p"));
  EXPECT_EQ(cache->get("p"), std::nullopt);
}

}  // namespace
}  // namespace analytics
