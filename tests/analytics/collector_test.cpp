// The stand-in collector: an envelope posted by the SDK's HTTP task is decoded field by field and
// answered with the cookies; each failure mode reaches the task's delegate; damaged envelopes are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "analytics/tally_util.h"
#include "http_outcome.h"
#include "platform/runtime/run_loop.h"
#include "support/analytics_collector.h"

namespace analytics {
namespace {

using foundation::Bytes;
using testing_support::AnalyticsCollector;

// Writes the upload format for the test, by hand, the way the format's table reads.
struct Writer {
  Bytes out;
  void n(std::uint64_t value, size_t size) {
    for (size_t i = size; i > 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
  }
  void str(std::string_view text) {
    n(text.size(), 2);
    out.insert(out.end(), text.begin(), text.end());
  }
  void f64(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    n(bits, 8);
  }
  void f32(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    n(bits, 4);
  }
  void block() {
    n(7, 2), str("1.4"), n(1000, 8), n(5000, 8), n(200, 8), n(0, 1), n(0, 1);
    n(1, 1), str("push");  // origin
    n(0, 1);               // no deep link
    n(1, 2), str("plan"), str("free");
    n(1, 2), str("device.locale"), str("en_US"), n(1, 1);
    str("en_US"), str("Europe/Berlin"), n(2, 1), n(1, 1), str("user-7"), n(1, 1);
    f64(52.52), f64(13.405), f32(65.f), n(3, 4), n(0xFF, 1), n(0, 1), n(0xFF, 1), n(0, 1);
    n(1, 2), str("Sleep"), n(2, 4);
    n(1, 2), n(1, 2), str("Sleep"), n(1, 2), str("minutes"), str("30"), n(10, 8), n(0, 8);
    n(1, 1), n(2, 4);
    n(2, 2);
    n(4, 2), n(2000, 8), str("E"), str("M"), str(""), n(1, 1), n(0, 1);
    n(5, 2), n(3000, 8), str(""), str(""), str(""), n(3, 1), n(1, 1), n(3, 4),
        out.insert(out.end(), {'c', 'r', 'l'});
    n(0, 4), n(0, 2), n(0, 2), n(0, 2);
  }
  void envelope(int blocks) {
    n(31, 2), n(4, 2), n(1, 2), n(0, 8), n(0, 2), n(2, 2), n(155, 2), n(9000, 8);
    str("ZK4PW8RX"), str("1.4"), n(1, 1);
    n(1, 2), n(6, 2), str("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    n(0, 1), n(1, 1), n(1, 1), n(500, 8), n(1000, 8);
    n(1, 2), str("device.arch"), str("arm64"), n(1, 1);
    n(0, 2), n(0, 1), n(0, 2);
    n(1, 2), str("push"), n(1, 2), str("tallyOriginVersion"), str("2");
    str("com.example.diary");
    n(static_cast<std::uint64_t>(blocks), 2);
    for (int i = 0; i < blocks; ++i) block();
    n(1, 2), n(1, 2), out.push_back('k'), n(1, 2), out.push_back('v');
    n(TallyUtil::dataChecksum(out), 4);
  }
};

class CollectorTest : public ::testing::Test {
 protected:
  CollectorTest() : scope_(loop_) {}

  std::shared_ptr<Outcome> upload(const Bytes& body) {
    return sendAndWait(loop_, "POST", collector_.ingestUrl(), body,
                       {{"content-type", "application/octet-stream"}});
  }

  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop scope_;
  AnalyticsCollector collector_;
};

TEST_F(CollectorTest, AnUploadIsDecodedAndAnsweredWithTheCookies) {
  ASSERT_TRUE(collector_.running());
  std::vector<std::pair<Bytes, Bytes>> cookies{{Bytes{'s', 'i', 'd'}, Bytes{'4', '2'}}};
  collector_.setReplyCookies(cookies);
  Writer w;
  w.envelope(2);
  auto outcome = upload(w.out);
  ASSERT_EQ(outcome->kind, "success");
  EXPECT_EQ(outcome->response.body, testing_support::encodeReply(cookies));
  EXPECT_EQ(outcome->response.body,
            (Bytes{0x01, 0x1E, 0, 0, 0, 15, 0, 0, 0, 1, 0, 3, 's', 'i', 'd', 0, 2, '4', '2', 0, 0}));

  auto uploads = collector_.uploads();
  ASSERT_EQ(uploads.size(), 1u);
  const auto& u = uploads[0];
  EXPECT_EQ(u.apiKey, "ZK4PW8RX");
  EXPECT_EQ(u.agentVersion, 155);
  EXPECT_EQ(u.bundleIdentifier, "com.example.diary");
  ASSERT_EQ(u.ids.size(), 1u);
  EXPECT_EQ(u.ids[0].first, 6);
  ASSERT_EQ(u.sessions.size(), 2u);
  const auto& s = u.sessions[1];
  EXPECT_EQ(s.origin, "push");
  EXPECT_EQ(s.parameters, (std::vector<testing_support::MarkedValue>{{"device.locale", "en_US", 1}}));
  EXPECT_EQ(s.timeZone, "Europe/Berlin");
  EXPECT_DOUBLE_EQ(s.latitude, 52.52);
  ASSERT_EQ(s.events.size(), 1u);
  EXPECT_EQ(s.events[0].parameters, (testing_support::KeyValues{{"minutes", "30"}}));
  ASSERT_EQ(s.errors.size(), 2u);
  EXPECT_EQ(s.errors[1].type, 3);
  EXPECT_EQ(s.errors[1].report, (Bytes{'c', 'r', 'l'}));
  ASSERT_EQ(u.cookies.size(), 1u);
  EXPECT_TRUE(collector_.rejected().empty());
}

TEST_F(CollectorTest, FailureModesReachTheDelegateAndDamagedEnvelopesAreRefused) {
  Writer w;
  w.envelope(0);
  Bytes full = testing_support::encodeReply({});
  struct Case {
    AnalyticsCollector::Fault fault;
    std::string kind;
    std::int32_t status;
    bool error;
    size_t bodySize;
  };
  for (const Case& c : std::vector<Case>{
           {AnalyticsCollector::Fault::kStatus500, "fail", 500, false, 0},
           {AnalyticsCollector::Fault::kNoAnswer, "fail", 0, true, 0},
           {AnalyticsCollector::Fault::kMalformedReply, "success", 200, false, full.size() - 2},
       }) {
    collector_.setFault(c.fault);
    auto outcome = upload(w.out);
    EXPECT_EQ(outcome->kind, c.kind);
    EXPECT_EQ(outcome->response.statusCode, c.status);
    EXPECT_EQ(outcome->response.error.has_value(), c.error);
    EXPECT_EQ(outcome->response.body.size(), c.bodySize);
  }

  // Damaged envelopes are refused.
  collector_.setFault(AnalyticsCollector::Fault::kNone);
  const size_t uploads = collector_.uploads().size();
  w.out.clear();
  w.envelope(1);
  Bytes flipped = w.out;
  flipped[20] ^= 0x40;
  Bytes cut(w.out.begin(), w.out.end() - 40);
  Writer resealed;
  resealed.out = cut;
  resealed.n(TallyUtil::dataChecksum(cut), 4);
  for (const Bytes& body : {flipped, resealed.out, Bytes{1, 2}}) {
    EXPECT_EQ(upload(body)->response.statusCode, 400);
  }
  auto rejected = collector_.rejected();
  ASSERT_EQ(rejected.size(), 3u);
  EXPECT_NE(rejected[0].find("checksum"), std::string::npos);
  EXPECT_EQ(collector_.uploads().size(), uploads);
}

}  // namespace
}  // namespace analytics
