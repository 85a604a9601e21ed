// The session report format: primitives, a known session's block and envelope read back by the
// collector's own decoder, the tracked-property marks, and server replies of every bad shape.
#include <gtest/gtest.h>

#include "analytics/auto_increment.h"
#include "analytics/global_variable_storage.h"
#include "analytics/protocol_data.h"
#include "analytics/session_report.h"
#include "analytics/tally_util.h"
#include "support/analytics_collector.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Date;
using foundation::Dictionary;
using P = TallyProtocolData;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

class ReportFormatTest : public SdkFixture {
 protected:
  ReportFormatTest() {
    clock_.set(Date{600000000.25});
    storage()->setApiKey("ZK4PW8RX");
    TallyAutoIncrement::instance()->resetAll();
  }
};

TEST_F(ReportFormatTest, StringsAreCutOnCodePointsAndReadersNeverLookPastTheData) {
  struct Case {
    std::string text;
    size_t length;
  };
  std::string pairAtLimit = std::string(254, 'a') + "\xF0\x9F\x98\x80";  // the pair would straddle 255
  const Case cases[] = {{"abc", 3},
                        {"", 0},
                        {std::string(300, 'x'), 255},
                        {[] {
                           std::string s;
                           for (int i = 0; i < 300; ++i) s += "\xC3\xA9";
                           return s;
                         }(),
                         510},
                        {pairAtLimit, 254},
                        {std::string(255, 'a'), 255}};
  for (const auto& c : cases) {
    Bytes out;
    P::appendString(c.text, out);
    ASSERT_EQ(out.size(), 2 + c.length) << c.text.size();
    EXPECT_EQ((out[0] << 8) | out[1], static_cast<int>(c.length));
    EXPECT_EQ(std::string(out.begin() + 2, out.end()), c.text.substr(0, c.length));
  }
  Bytes none;
  P::appendString(std::nullopt, none);
  EXPECT_EQ(none, (Bytes{0, 0}));

  // Readers never look past the data.
  Bytes data{0x80, 0x01, 0x02};
  EXPECT_EQ(*P::getInt16FromData(data, 0), -32767);
  EXPECT_FALSE(P::getInt16FromData(data, 2).ok());
  EXPECT_FALSE(P::getInt16FromData(data, -1).ok());
  EXPECT_FALSE(P::getInt32FromData(data, 0).ok());
  EXPECT_EQ(P::getInt16FromData(data, 2).error().domain, kTallyMalformedDataDomain);
}

TEST_F(ReportFormatTest, AKnownSessionDecodesFieldByField) {
  TallySessionReport s;
  s.appVersion = "1.4";
  s.startTime = clock_.now() - 60;
  s.endTime = clock_.now();
  s.totalPauseIntervalMillis = 1500;
  s.locale = "de_DE";
  s.timeZone = "Europe/Berlin";
  s.userID = "u1";
  s.latitude = 52.5;
  s.gender = 1;
  s.events.recordEvent("feed", Dictionary{{"ml", 120}}, false, false);
  s.events.recordEvent(std::string(254, 'n') + "\xF0\x9F\x98\x80 tail", std::nullopt, false, false);
  s.events.recordError("e", "m", "x", 2, std::nullopt);
  s.events.errors[0]->errorID = 4;
  s.events.recordError("e", "m", "x", 1, std::nullopt);
  s.events.errors[1]->errorID = 9;
  s.crashReportData = Bytes{0xC0, 0xDE};
  Bytes block = s.data();

  TallyEnvelopeFacts facts{"ZK4PW8RX", "1.4", true, s.startTime - 100, s.startTime};
  auto envelope = dataForSessions(facts, {block, block});
  ASSERT_TRUE(envelope);
  const Bytes& body = envelope->body;
  const Bytes head{0x00, 0x1F, 0x00, 0x04, 0x00, 0x01, 0,    0,    0,    0,
                   0,    0,    0,    0,    0x00, 0x00, 0x00, 0x02, 0x00, 0x9B};
  EXPECT_TRUE(std::equal(head.begin(), head.end(), body.begin()));

  auto decoded = testing_support::decodeUpload(body);
  ASSERT_TRUE(decoded.ok()) << decoded.error().localizedDescription();
  const auto& u = *decoded;
  EXPECT_EQ(u.apiKey, "ZK4PW8RX");
  EXPECT_EQ(u.agentVersion, 155);
  EXPECT_EQ(u.nowMillis, 978307200000 + 600000000250);
  EXPECT_TRUE(u.everSent);
  EXPECT_EQ(u.sessionStartMillis - u.firstUseMillis, 100000);
  ASSERT_EQ(u.deviceProperties.size(), 5u);
  EXPECT_EQ(u.deviceProperties[2].key, "device.arch");
  EXPECT_EQ(u.deviceProperties[2].value, kTallyBuildArchitecture);
  EXPECT_EQ(u.deviceProperties[2].mark, 0);
  EXPECT_EQ(u.deviceProperties[0].mark, 1);
  ASSERT_EQ(u.sessions.size(), 2u);
  const auto& b = u.sessions[0];
  EXPECT_EQ(b.lengthMillis, 60000);
  EXPECT_EQ(b.totalPauseMillis, 1500);
  EXPECT_EQ(b.locale, "de_DE");
  EXPECT_EQ(b.userId, "u1");
  EXPECT_EQ(b.latitude, 52.5);
  EXPECT_EQ(b.gender, 1);
  EXPECT_EQ(b.jailbreak, 0xFF);
  ASSERT_EQ(b.parameters.size(), 2u);
  EXPECT_EQ(b.parameters[0].mark, 1);
  ASSERT_EQ(b.events.size(), 2u);
  EXPECT_EQ(b.events[0].name, "feed");
  EXPECT_EQ(b.events[1].name, std::string(254, 'n'));
  EXPECT_EQ(b.events[0].parameters, (testing_support::KeyValues{{"ml", "120"}}));
  EXPECT_EQ(b.events[0].startOffsetMillis, 60000);
  EXPECT_EQ(b.eventCounts.size(), 2u);
  EXPECT_EQ(b.totalErrors, 3);
  ASSERT_EQ(b.errors.size(), 3u);
  EXPECT_EQ(b.errors[2].id, 10);
  EXPECT_EQ(b.errors[2].type, 3);
  EXPECT_EQ(b.errors[2].report, (Bytes{0xC0, 0xDE}));
  EXPECT_FALSE(b.errors[0].report.has_value());

  // The same session once more: its parameters were kept when its first block was written.
  EXPECT_EQ(testing_support::decodeUpload(dataForSessions(facts, {s.data()})->body)
                .value()
                .sessions[0]
                .parameters[0]
                .mark,
            2);

  Bytes damaged = body;
  damaged[40] ^= 1;
  EXPECT_FALSE(testing_support::decodeUpload(damaged).ok());
  auto empty = dataForSessions(facts, {});
  ASSERT_TRUE(empty);
  EXPECT_TRUE(testing_support::decodeUpload(empty->body).value().sessions.empty());
}

TEST_F(ReportFormatTest, EnvelopeMarksHoldOnlyOnceCommitted) {
  TallyEnvelopeFacts facts{"K", "1", false, std::nullopt, clock_.now()};
  auto marksOf = [&] {
    auto envelope = dataForSessions(facts, {});
    auto decoded = testing_support::decodeUpload(envelope->body).value();
    return std::make_pair(decoded.deviceProperties[0].mark, envelope->marks);
  };
  auto [first, pending] = marksOf();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(marksOf().first, 1);  // the first upload never succeeded
  TallyPropertyMarks::commitMarks(pending);
  EXPECT_EQ(marksOf().first, 2);

  TallyPropertyMarks marks;
  EXPECT_EQ(marks.mark("v", "boot.time"), 1);
  EXPECT_EQ(marks.mark("v", "boot.time"), 2);
  EXPECT_EQ(marks.mark("w", "boot.time"), 1);
  EXPECT_EQ(marks.mark("v", "other"), 0);
}

TEST_F(ReportFormatTest, RepliesAreReadWholeOrRefused) {
  using Cookies = std::vector<std::pair<Bytes, Bytes>>;
  const Bytes good = testing_support::encodeReply({{bytesOf("sid"), bytesOf("42")}, {bytesOf("x"), {}}});
  auto parsed = parseServerReply(good);
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed->cookies, (Cookies{{bytesOf("sid"), bytesOf("42")}, {bytesOf("x"), {}}}));

  auto withKeyLength = [&](std::uint8_t length) {
    Bytes reply = good;
    reply[11] = length;  // the first cookie's key length
    return reply;
  };
  Bytes header{0x01, 0x1E, 0, 0, 0, 4, 0, 0, 0, 0};
  Bytes negativeCount{0x01, 0x1E, 0, 0, 0, 4, 0, 0, 0xFF, 0xFF, 0, 0};
  Bytes otherChunk = good;
  otherChunk[1] = 0x1F;
  struct Case {
    const char* what;
    Bytes body;
    bool ok;
    size_t cookies;
  };
  const Case cases[] = {
      {"key length too long", withKeyLength(200), false, 0},
      {"key length too short", withKeyLength(1), false, 0},
      {"key length zero", withKeyLength(0), false, 0},
      {"cut mid-cookie", Bytes(good.begin(), good.begin() + 14), false, 0},
      {"cut before the closing field", Bytes(good.begin(), good.end() - 2), false, 0},
      {"count 0 without the closing field", header, false, 0},
      {"negative count is skipped", negativeCount, true, 0},
      {"another chunk type", otherChunk, false, 0},
      {"shorter than the header", Bytes{0x01, 0x1E, 0}, false, 0},
  };
  for (const auto& c : cases) {
    auto reply = parseServerReply(c.body);
    EXPECT_EQ(reply.ok(), c.ok) << c.what;
    if (reply.ok()) {
      EXPECT_EQ(reply->cookies.size(), c.cookies) << c.what;
    }
  }
  EXPECT_TRUE(parseServerReply(Bytes{})->clearCookies);
}

}  // namespace
}  // namespace analytics
