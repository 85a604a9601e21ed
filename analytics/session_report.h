#pragma once
// The session report format: a finished session becomes a session block; one or more blocks are
// wrapped in an upload envelope that describes the device and the application and ends in a CRC-32;
// the server answers with a reply that carries cookies for the next uploads. Big-endian throughout
// (protocol_data.h).
//
// Tracked properties (locale, time zone, system version, model, boot time, screen size) are sent
// with a mark: 1 changed since it was last sent, 2 unchanged. What was last sent is kept as salted
// MD5 hashes in the persistent globals map. A block's marks are kept at once, since the block is
// stored and will be delivered; an envelope's marks are handed back with it and kept only once an
// upload that carried them has succeeded (commitMarks), so a failed upload never makes the next
// envelope call a property unchanged that the server has not seen.
//
// "device.arch" names the architecture this program was built for (kTallyBuildArchitecture), not a
// fixed phone architecture: the service groups its reports by it, and a build for another machine
// would otherwise report a processor it does not run on.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analytics/server_reply.h"
#include "analytics/tally_event.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace analytics {

inline constexpr std::uint16_t kTallySessionBlockVersion = 7;
inline constexpr std::uint16_t kTallyEnvelopeFormat = 31;
inline constexpr std::uint16_t kTallyAgentVersionNumber = 155;

#if defined(__aarch64__)
inline constexpr std::string_view kTallyBuildArchitecture = "arm64";
#elif defined(__x86_64__)
inline constexpr std::string_view kTallyBuildArchitecture = "x86_64";
#elif defined(__i386__)
inline constexpr std::string_view kTallyBuildArchitecture = "i386";
#elif defined(__arm__)
inline constexpr std::string_view kTallyBuildArchitecture = "armv7";
#else
inline constexpr std::string_view kTallyBuildArchitecture = "unknown";
#endif

// Marks of tracked properties, decided while a block or an envelope is written.
class TallyPropertyMarks {
 public:
  // Hash of the key to hash of the value, waiting to be kept.
  using Pending = std::vector<std::pair<std::string, std::string>>;

  static bool isTracked(std::string_view key);
  // 0 for an untracked key, 1 changed, 2 unchanged; the same value twice gives 1, then 2.
  std::uint8_t mark(std::string_view value, std::string_view key);
  const Pending& pending() const { return pending_; }
  // Puts the hashes into the globals map (in memory; saved with the other maps).
  static void commitMarks(const Pending& pending);

 private:
  Pending pending_;
};

// The fields of a session that its block is written from.
struct TallySessionReport {
  std::string appVersion;
  foundation::Date startTime;
  std::optional<foundation::Date> endTime;
  std::int64_t totalPauseIntervalMillis = 0;
  bool backgroundSessionEnabled = false;
  std::int32_t appApplicationState = 0;
  std::optional<std::string> sessionOriginName;
  std::optional<std::string> deepLinkName;
  foundation::Dictionary sessionPropertyParams;
  foundation::Dictionary sessionParams;
  std::string locale;
  std::string timeZone;
  std::string userID;
  double latitude = 0;
  double longitude = 0;
  float accuracy = 0;
  std::int32_t pageViewCount = 0;
  // 1 male, 0 female, 0xFF not set.
  std::uint8_t gender = 0xFF;
  std::optional<foundation::Date> birthDate;
  TallySessionEvents events;
  // The crash report left by the previous run, attached as an error of type 3.
  std::optional<foundation::Bytes> crashReportData;

  // Copies the settings the block carries (background sessions, application state, origin, deep
  // link, session properties) into the session, then writes the block.
  foundation::Bytes data();
};

// What an envelope says about the session that builds it.
struct TallyEnvelopeFacts {
  std::string apiKey;
  std::string appVersion;
  bool sentReportSuccessful = false;
  std::optional<foundation::Date> initialTimestamp;
  foundation::Date startTime;
};

struct TallyEnvelope {
  foundation::Bytes body;
  // Marks to keep once an upload of this envelope has succeeded.
  TallyPropertyMarks::Pending marks;
};

// The envelope around the blocks; nothing when the device has none of its three identifiers.
std::optional<TallyEnvelope> dataForSessions(const TallyEnvelopeFacts& facts,
                                             const std::vector<foundation::Bytes>& blocks);

// Applies the reply to the cookie map; every cookie is saved with the other maps, an empty reply
// only empties the map in memory.
void applyServerReply(const TallyServerReply& reply);

}  // namespace analytics
