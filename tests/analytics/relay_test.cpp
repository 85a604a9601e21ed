// Relay: the configuration exchange against the stand-in collector (request read with Avro C's own
// reader, responses that change the settings or nothing), and the callbacks made from the templates.
#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/relay_event_controller.h"
#include "analytics/relay_request.h"
#include "analytics/relay_response.h"
#include "analytics/tally_util.h"
#include "platform/foundation/log.h"
#include "platform/plist/keyed_archive.h"
#include "platform/runtime/run_loop.h"
#include "support/analytics_collector.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Dictionary;
using foundation::Value;
using testing_support::AnalyticsCollector;
using testing_support::ConfigResponseFields;
using testing_support::ConfigTemplateFields;

constexpr double kNow = 600000000;  // 2020-01-05, seconds since 2001

class RelayTest : public SdkFixture {
 protected:
  RelayTest() : scope_(loop_) {
    storage()->setApiKey("ZK4PW8RX");
    TallyNetworkUtil::setConfigServerUrl(collector_.configUrl());
  }
  ~RelayTest() override {
    TallyRelayEventController::cleanup();
    loop_.runUntilIdle();
    TallyNetworkUtil::reset();
  }

  static std::int64_t nowMillis() { return static_cast<std::int64_t>(foundation::Date{kNow}.unix()) * 1000; }

  // Runs one exchange to its end.
  void exchange(TallyRelayRequest& request) {
    ASSERT_TRUE(request.invokeRelayWithParams());
    ASSERT_TRUE(loop_.runUntil([&] { return request.runningTaskCount() == 0; }, 20));
    EXPECT_FALSE(storage()->relayRequestPending());
  }

  static ConfigTemplateFields partnerTemplate(const std::string& uri) {
    ConfigTemplateFields t;
    t.partner = "adnet";
    t.events = {"tally.session_end"};
    t.method = "POST";
    t.uriTemplate = uri;
    t.connectTimeout = 7;
    return t;
  }

  runtime::RunLoop loop_{clock_};
  runtime::ScopedMainRunLoop scope_;
  AnalyticsCollector collector_;
};

TEST_F(RelayTest, TheCollectorReadsTheRequestWithAvroAndTheResponseBecomesTheSettings) {
  ConfigResponseFields fields;
  fields.issuedAt = 1578000000;
  fields.logLevel = "DEBUG";
  fields.analyticsEnabled = true;
  ConfigTemplateFields blank = partnerTemplate("");
  blank.bodyTemplate = "";
  ConfigTemplateFields full = partnerTemplate("https://p.example/c?d=%{session_duration_millis}");
  full.bodyTemplate = "b";
  full.method = "PUT";
  fields.templates = {full, blank};
  collector_.setConfigResponse(200, testing_support::encodeConfigResponse(fields));

  auto request = TallyRelayRequest::create();
  exchange(*request);

  ASSERT_EQ(collector_.rejected(), std::vector<std::string>{});
  ASSERT_EQ(collector_.configRequests().size(), 1u);
  const auto r = collector_.configRequests()[0];
  EXPECT_EQ(r.projectKey, "ZK4PW8RX");
  EXPECT_EQ(r.sdkVersion, 155);
  EXPECT_EQ(r.platform, 2);
  EXPECT_EQ(r.platformVersion, "8.0");
  EXPECT_FALSE(r.limitAdTracking);
  EXPECT_EQ(r.hwMachine, TallyUtil::devicePlatform());
  auto vendor = TallyUtil::getIdentifierForVendor();
  ASSERT_TRUE(vendor);
  ASSERT_EQ(r.deviceIds.size(), 1u);
  EXPECT_EQ(r.deviceIds[0], std::make_pair(6, Bytes(vendor->begin(), vendor->end())));
  EXPECT_EQ(r.geo, std::make_tuple(0.0, 0.0, 0.0f));
  EXPECT_EQ(r.contentType, "application/vnd.tally.sdk-avrobin;version=1");
  EXPECT_EQ(r.accept, "application/vnd.tally.sdk-avrobin; version=1");

  auto settings = storedRelaySettings();
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->lastResponseTime, 1578000000);
  EXPECT_EQ(settings->nextRefreshTTL, nowMillis() + 86400000);
  EXPECT_EQ(settings->expirationTTL, nowMillis() + 604800000);
  ASSERT_EQ(settings->callbacks.size(), 2u);
  EXPECT_EQ(settings->callbacks[0].method, 1);
  EXPECT_EQ(settings->callbacks[0].bodyTemplate, "b");
  EXPECT_EQ(settings->callbacks[0].connectTimeout, 7);
  EXPECT_EQ(settings->callbacks[1].uriTemplate, std::nullopt);
  EXPECT_EQ(settings->callbacks[1].bodyTemplate, std::nullopt);
  auto globals = *storage()->persistentMap(TallyPersistentMap::kGlobals);
  EXPECT_EQ(globals["logLevel"], Value("DEBUG"));
  EXPECT_EQ(globals["analyticsEnabled"], Value(true));

  // While one is pending, no second request goes out.
  storage()->setRelayRequestPending(true);
  EXPECT_FALSE(request->invokeRelayWithParams());
  EXPECT_EQ(request->runningTaskCount(), 0u);
  storage()->setRelayRequestPending(false);

  // A request that cannot be encoded (a key that is not UTF-8 has no JSON form) is not posted and
  // keeps the exchange off: a later call, even with a good key, stops before building anything.
  storage()->setApiKey("ZK\xFF");
  EXPECT_FALSE(request->invokeRelayWithParams());
  EXPECT_TRUE(storage()->relayRequestPending());
  storage()->setApiKey("ZK4PW8RX");
  TallyUtil::setLogLevel(2);
  {
    foundation::ScopedLogCapture log;
    EXPECT_FALSE(request->invokeRelayWithParams());
    EXPECT_EQ(log.messages(), std::vector<std::string>{});
  }
  TallyUtil::setLogLevel(0);
  EXPECT_TRUE(storage()->relayRequestPending());
  EXPECT_EQ(request->runningTaskCount(), 0u);
  loop_.runUntilIdle();
  EXPECT_EQ(collector_.configRequests().size(), 1u);
}

TEST_F(RelayTest, ABadAnswerChangesNothingAndFreesTheNextExchange) {
  TallyRelaySettings before;
  before.lastResponseTime = 5;
  before.expirationTTL = nowMillis() + 1000;
  ASSERT_TRUE((TallyRelayResponseContent{before, "WARN", false}.store()));
  auto globals = storage()->persistentMap(TallyPersistentMap::kGlobals);

  Bytes valid = testing_support::encodeConfigResponse({});
  Bytes cut(valid.begin(), valid.end() - 1);
  auto request = TallyRelayRequest::create();
  struct Case {
    unsigned status;
    Bytes body;
    AnalyticsCollector::Fault fault;
  } cases[] = {{200, cut, AnalyticsCollector::Fault::kNone},
               {200, Bytes{0xFF, 0xFF}, AnalyticsCollector::Fault::kNone},
               {404, valid, AnalyticsCollector::Fault::kNone},
               {200, valid, AnalyticsCollector::Fault::kStatus500},
               {200, valid, AnalyticsCollector::Fault::kNoAnswer}};
  for (const auto& c : cases) {
    collector_.setFault(c.fault);
    collector_.setConfigResponse(c.status, c.body);
    exchange(*request);
    EXPECT_EQ(storage()->persistentMap(TallyPersistentMap::kGlobals), globals) << c.status;
  }
}

TEST_F(RelayTest, HostileResponseBytesAreRefusedBeforeAvroAllocatesAndHugeTtlsClamped) {
  TallyRelayResponse response;
  Bytes valid = testing_support::encodeConfigResponse({});
  ASSERT_TRUE(response.parseRelayResponse(valid));
  // issued_at 0, ttls 0: global settings begin at byte 3 (log level index, analytics switch), then
  // max_callbacks, then the template array's block count.
  auto with = [&](std::initializer_list<std::uint8_t> tail) {
    Bytes b{0, 0, 0, 0x0A, 0, 6};
    b.insert(b.end(), tail);
    return b;
  };
  const Bytes hostile[] = {
      // A template whose partner string claims 2^40 bytes.
      with({2, 0x80, 0x80, 0x80, 0x80, 0x80, 0x40}),
      // A block count of a billion templates.
      with({0x80, 0xA8, 0xD6, 0xB9, 0x07}),
      // The most negative block count, which cannot be negated.
      with({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}),
      // A log level symbol beyond the enum.
      Bytes{0, 0, 0, 0x7E, 0, 6, 0},
      // A boolean that is neither 0 nor 1.
      Bytes{0, 0, 0, 0x0A, 7, 6, 0},
      // A varint that never ends.
      Bytes(12, 0x80),
      Bytes{},
  };
  ASSERT_TRUE(response.initSchema());
  auto schema = relay_avro::parseSchema(relay_avro::schemaJson(relay_avro::SchemaName::kConfigResponse));
  ASSERT_TRUE(schema);
  for (const auto& bytes : hostile) {
    // Refused by the walk, before Avro C could allocate what a length claims.
    EXPECT_FALSE(relay_avro::checkBinary(schema->get(), bytes)) << bytes.size();
    EXPECT_FALSE(response.parseRelayResponse(bytes)) << bytes.size();
  }
  Bytes large = valid;
  large.resize(kRelayMaxResponseBytes + 1);
  EXPECT_FALSE(response.parseRelayResponse(large));

  // Time to live in seconds, clamped before it becomes milliseconds.
  for (const auto& [ttl, expected] : std::vector<std::pair<std::int64_t, std::int64_t>>{
           {std::numeric_limits<std::int64_t>::max(), nowMillis() + kRelayMaxTtlSeconds * 1000},
           {std::numeric_limits<std::int64_t>::min(), nowMillis()},
           {-1, nowMillis()}}) {
    ConfigResponseFields fields;
    fields.refreshTtl = fields.expirationTtl = ttl;
    auto content = response.parseRelayResponse(testing_support::encodeConfigResponse(fields));
    ASSERT_TRUE(content) << ttl;
    EXPECT_EQ(std::pair(content->settings.nextRefreshTTL, content->settings.expirationTTL),
              std::pair(expected, expected))
        << ttl;
  }
}

TEST(RelayTemplate, SubstitutionIsOnePassAndNamesMapBothWays) {
  Dictionary values{{"%{a}", "1"}, {"%{b}", "%{a}"}, {"%{c}", "{a}"}};
  struct Case {
    const char* url;
    const char* expected;
  } cases[] = {{"x?a=%{a}&b=%{b}&c=%{c}", "x?a=1&b=%{a}&c={a}"},
               {"x={a}&y=%{zz}&z=%{}", "x=&y=&z="},
               {"100%&{a&%{a", "100%&{a&%{a"},
               {"%%{a}}", "%1}"}};
  for (const auto& c : cases)
    EXPECT_EQ(TallyRelayEventController::substituteParamsInURL(c.url, values), c.expected) << c.url;

  EXPECT_EQ(TallyRelayAppTemplate::relayMethodStringToEnum("DELETE"), 0);
  EXPECT_EQ(TallyRelayAppTemplate::relayMethodStringToEnum("POST"), 2);
  EXPECT_EQ(TallyRelayAppTemplate::relayEventEnumToString(2), "tally.session_end");
  EXPECT_EQ(TallyRelayAppTemplate::relayEventStringToEnum(std::nullopt), 0);

  // Both stored forms keep every field, the connect timeout under its own key.
  TallyRelaySettings settings;
  settings.nextRefreshTTL = std::numeric_limits<std::int64_t>::max();
  TallyRelayAppTemplate t;
  t.partner = "p";
  t.events = {"tally.session_end", "tally.session_end"};
  t.method = 2;
  t.uriTemplate = "u";
  t.connectTimeout = 9;
  settings.callbacks = {t, TallyRelayAppTemplate{}};
  EXPECT_EQ(TallyRelaySettings::initWithDictionary(settings.dataDictionary()), settings);
  TallyRelaySettings::registerClass();
  auto archived = plist::archiveRootObject(settings);
  ASSERT_TRUE(archived);
  auto read = plist::unarchiveRootObjectOfClass<TallyRelaySettings>(*archived);
  ASSERT_TRUE(read && *read);
  EXPECT_EQ(**read, settings);
  EXPECT_EQ(t.dataDictionary()["connectionTimeout"], Value(9));
}

class RelayCallbackTest : public RelayTest {
 protected:
  RelayCallbackTest() {
    storage()->setRelayMonitoringEnabled(true);
    // The switch as this device has it, so preparing does not ask for new settings.
    storage()->setLastAdTrackingEnabledSetting(TallyUtil::isAdTrackingEnabled());
    TallyRelaySettings settings;
    settings.nextRefreshTTL = settings.expirationTTL = nowMillis() + 3600000;
    TallyRelayAppTemplate t;
    t.events = {"tally.session_end", "tally.session_end", "tally.session_start"};
    t.method = 0;
    t.uriTemplate =
        collector_.partnerUrl() + "/cb?d=%{session_duration_millis}&s=%{timestamp_epoch_millis}&x={name}";
    settings.callbacks = {t};
    EXPECT_TRUE((TallyRelayResponseContent{settings, std::nullopt, std::nullopt}.store()));
  }

  static TallyRelaySessionTimes session(double startMillis, std::optional<double> endMillis) {
    auto at = [](double ms) { return foundation::Date::fromUnix(ms / 1000); };
    return {at(startMillis), endMillis ? std::optional(at(*endMillis)) : std::nullopt};
  }
  static Dictionary pending() { return *storage()->persistentMap(TallyPersistentMap::kRelayUrls); }
  static Dictionary prepared() { return *storage()->persistentMap(TallyPersistentMap::kRelayPrepUrls); }
  // Runs the loop until the collector saw `calls` calls and none is in flight.
  bool settle(size_t calls) {
    auto controller = TallyRelayEventController::sharedInstance();
    return loop_.runUntil(
        [&] { return collector_.partnerCalls().size() >= calls && controller->runningCallCount() == 0; }, 20);
  }
};

TEST_F(RelayCallbackTest, APausePreparesFilledCallsThatTheNextSessionFires) {
  TallyRelayEventController::sessionPaused(session(1000000, 1030000), 0);
  // A second pause of the same session replaces the calls of the first.
  TallyRelayEventController::sessionPaused(session(1000000, 1060000), 0);
  TallyRelayEventController::sessionPaused(session(2000000, std::nullopt), 0);
  Dictionary list = prepared();
  ASSERT_EQ(list.size(), 2u);
  const Value& calls = (*list["1000000"].dictionary())["tally.session_end"];
  ASSERT_EQ(calls.array()->size(), 2u);
  EXPECT_EQ((*(*calls.array())[0].dictionary())["invokeURL"],
            Value(collector_.partnerUrl() + "/cb?d=60000&s=1000000&x="));

  TallyRelayEventController::sessionCreated();
  ASSERT_TRUE(settle(4));
  EXPECT_TRUE(prepared().empty());
  EXPECT_TRUE(pending().empty());
  std::multiset<std::string> durations;
  for (const auto& call : collector_.partnerCalls()) {
    EXPECT_EQ(call.method, "GET");
    durations.insert(call.query[0].second);
  }
  EXPECT_EQ(durations, (std::multiset<std::string>{"0", "0", "60000", "60000"}));
  EXPECT_TRUE(collector_.configRequests().empty());
}

TEST_F(RelayCallbackTest, AFailedCallIsKeptAndRetriedUntilItExpires) {
  collector_.setFault(AnalyticsCollector::Fault::kStatus500);
  TallyRelayEventController::earlierSessionFound(session(1000000, 1060000), 0);
  // Both calls (the template lists the event twice) failed and wait for their retry.
  ASSERT_TRUE(loop_.runUntil([] { return storage()->pendingUrlTimerCount() == 2; }, 20));
  ASSERT_EQ(pending().size(), 1u);
  Dictionary item = *pending().begin()->second.dictionary();
  EXPECT_EQ(item["beingFired"], Value(false));
  EXPECT_EQ(item["expiration"],
            Value(std::to_string(static_cast<std::int64_t>(foundation::Date{kNow}.unix()) + 259200)));

  collector_.setFault(AnalyticsCollector::Fault::kNone);
  loop_.advance(89);
  EXPECT_EQ(collector_.partnerCalls().size(), 2u);
  loop_.advance(1);
  ASSERT_TRUE(settle(4));
  EXPECT_TRUE(pending().empty());

  // A stored call whose expiration passed is dropped without a call.
  ASSERT_TRUE(storage()->updatePersistentMap(TallyPersistentMap::kRelayUrls, [&](Dictionary& map) {
    Dictionary old = item;
    old.set("expiration", "100");
    map.set("http://127.0.0.1:1/old", old);
  }));
  TallyRelayEventController::sharedInstance()->firePendingUrls();
  EXPECT_TRUE(pending().empty());
  EXPECT_EQ(collector_.partnerCalls().size(), 4u);
}

TEST_F(RelayCallbackTest, ACallInFlightAtARestartIsFiredAgain) {
  std::string url = collector_.partnerUrl() + "/restart";
  ASSERT_TRUE(storage()->updatePersistentMap(TallyPersistentMap::kRelayUrls, [&](Dictionary& map) {
    map.set(url, Dictionary{{"invokeURL", url},
                            {"method", "GET"},
                            {"beingFired", true},
                            {"repeatDuration", 30},
                            {"expiration", "99999999999"}});
  }));
  ASSERT_TRUE(storage()->savePersistentGlobalsToDisk());
  // The next process reads the maps back and makes a new controller.
  TallyGlobalVariableStorage::cleanup();
  storage()->setApiKey("ZK4PW8RX");
  TallyRelayEventController::sharedInstance()->firePendingUrls();
  ASSERT_TRUE(settle(1));
  EXPECT_EQ(collector_.partnerCalls()[0].path, "/partner/restart");
  EXPECT_TRUE(pending().empty());
}

}  // namespace
}  // namespace analytics
