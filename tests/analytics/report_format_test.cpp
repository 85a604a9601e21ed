// The session report format: primitives, a known session's block and envelope read back by the
// collector's own decoder, the tracked-property marks, and server replies of every bad shape.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

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

// Texts short enough to need no cut are copied in fixed-width moves that overlap: every length gives
// its bytes in order, the same as the appending writer, and not one byte beyond them.
TEST_F(ReportFormatTest, ShortTextsAreWrittenWholeAtEveryLengthAndNothingPastThem) {
  std::string text;
  for (size_t length = 0; length <= kTallyMaxStringUtf16Length; ++length) {
    Bytes room(2 + length + 32, 0xEE);
    const std::uint8_t* end = P::putShortString(text, room.data());
    ASSERT_EQ(end, room.data() + 2 + length);
    Bytes appended;
    P::appendString(text, appended);
    EXPECT_TRUE(std::equal(appended.begin(), appended.end(), room.begin())) << length;
    EXPECT_TRUE(std::all_of(room.begin() + 2 + static_cast<std::ptrdiff_t>(length), room.end(),
                            [](std::uint8_t b) { return b == 0xEE; }))
        << length;
    text += static_cast<char>('!' + length % 90);  // no two neighbours alike: a misplaced move shows
  }
  Bytes numbers(14);
  std::uint8_t* at = P::putBigEndian<2>(0xA1B2, numbers.data());
  at = P::putBigEndian<4>(0xC3D4E5F6, at);
  P::putBigEndian<8>(0x0102030405060708, at);
  EXPECT_EQ(numbers, (Bytes{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 1, 2, 3, 4, 5, 6, 7, 8}));
}

// A block writes runs of short records in place and the others field by field; whatever the mix,
// the collector reads every event back as logged.
TEST_F(ReportFormatTest, EveryEventOfABlockDecodesWhateverTheLengthsAndKindsOfItsValues) {
  TallySessionReport s;
  s.startTime = clock_.now() - 10;
  struct Expected {
    std::string name;
    testing_support::KeyValues parameters;
    std::int64_t durationMillis = 0;
  };
  std::vector<Expected> expected;
  const size_t lengths[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 18, 31, 32, 33, 100, 254, 255, 256, 300};
  for (size_t i = 0; i < std::size(lengths); ++i) {
    std::string text;
    for (size_t k = 0; k < lengths[i]; ++k) text += static_cast<char>('a' + (k + i) % 26);
    const std::string cut = text.substr(0, kTallyMaxStringUtf16Length);
    const std::string name = "e" + text;
    Dictionary parameters{{"k" + std::to_string(i), text}};
    Expected e{name.substr(0, kTallyMaxStringUtf16Length), {{"k" + std::to_string(i), cut}}};
    if (i % 3 == 1) {  // a number among the texts: this record is written field by field
      parameters.set("n", 7);
      e.parameters.emplace_back("n", "7");
    }
    ASSERT_EQ(
        s.events.recordEvent(name, i % 4 == 3 ? std::nullopt : std::optional(parameters), i == 6, false),
        kTallyEventRecorded);
    if (i % 4 == 3) e.parameters.clear();
    expected.push_back(std::move(e));
  }
  // A timed event ended with a number: its short record becomes a long one.
  clock_.advance(2);
  ASSERT_TRUE(s.events.endTimedEvent(expected[6].name, Dictionary{{"ml", 120}}));
  expected[6].parameters.emplace_back("ml", "120");
  expected[6].durationMillis = 2000;

  auto block = testing_support::decodeSessionBlock(s.data());
  ASSERT_TRUE(block.ok()) << block.error().localizedDescription();
  ASSERT_EQ(block->events.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const auto& got = block->events[i];
    EXPECT_EQ(got.id, i + 1);
    EXPECT_EQ(got.name, expected[i].name) << i;
    EXPECT_EQ(got.parameters, expected[i].parameters) << i;
    EXPECT_EQ(got.startOffsetMillis, 10000) << i;
    EXPECT_EQ(got.durationMillis, expected[i].durationMillis) << i;
  }
}

// The public interface ends timed events while the session queue writes the block: every block
// written meanwhile reads back whole, each record as it stood before or after its change.
TEST_F(ReportFormatTest, BlocksWrittenWhileTheirEventsChangeReadBackWhole) {
  // Ten parameters once merged, all numbers: the record's size and kind change.
  Dictionary ten{{"k", 0}};
  for (int i = 1; i < 10; ++i) ten.set("p" + std::to_string(i), i);
  std::string fault;
  int blocks = 0;
  for (int round = 0; round < 10 && fault.empty(); ++round) {
    TallySessionReport s;
    s.startTime = clock_.now();
    for (size_t i = 0; i < kTallyMaxLoggedEvents; ++i)
      s.events.recordEvent("walk", Dictionary{{"k", "v"}}, true, false);
    std::atomic<bool> started{false}, done{false};
    std::thread other([&] {
      while (!started) std::this_thread::yield();
      for (const auto& event : s.events.eventLog) {
        event->updateParameters(ten);
        event->end(clock_.now() + 1, false);
      }
      done = true;
    });
    for (bool last = false; !last && fault.empty();) {
      last = done;
      started = true;
      ++blocks;
      auto block = testing_support::decodeSessionBlock(s.data());
      if (!block.ok()) {
        fault = block.error().localizedDescription();
        break;
      }
      for (const auto& event : block->events) {
        const size_t count = event.parameters.size();
        if (count != 1 && count != 10) fault = "an event with " + std::to_string(count) + " parameters";
      }
    }
    other.join();
  }
  EXPECT_EQ(fault, "") << "block " << blocks;
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
