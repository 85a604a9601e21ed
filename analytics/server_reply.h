#pragma once
// The analytics server's reply to an upload, read whole before anything is taken from it:
//
//   u16 0x011E, i32 length (not used), u16 (not used), i16 n, n x (i16 k, k bytes key, i16 v, v bytes
//   value), u16 (must be present)
//
// The reply comes from the network, so nothing in it is trusted: every length is checked against the
// bytes received, and a reply that does not read as a whole is refused, its cookies not taken. The
// reader has no other dependency than the report primitives, so it can be fuzzed alone.

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace analytics {

inline constexpr std::int16_t kTallyReplyChunkType = 0x011E;

// A server reply, read in full before anything is applied.
struct TallyServerReply {
  // An empty body: the cookie map is emptied (in memory only).
  bool clearCookies = false;
  std::vector<std::pair<foundation::Bytes, foundation::Bytes>> cookies;
};

// What a reader met on the way that the sender tells in its log (the reader itself logs nothing).
struct TallyServerReplyNotes {
  std::optional<std::uint16_t> unexpectedChunkType;  // the reply is of another chunk type
  std::optional<int> cookiesReadBeforeTheEnd;        // the cookie list ended before its count
};

// Reads a reply. Any length that points outside the data, a negative length, a cookie list that ends
// early, a missing closing field or another chunk type make the reply malformed ("Malformed data").
foundation::Result<TallyServerReply> parseServerReply(std::span<const std::uint8_t> body,
                                                      TallyServerReplyNotes* notes = nullptr);
// The offset just behind the cookies of the cookie part (after the chunk header and its 16-bit
// field), with the cookies read; an error when a cookie does not lie wholly inside the part. A list
// that ends before its count gives the offset of its end, and the count read in `*readBeforeTheEnd`.
foundation::Result<size_t> parseCookies(
    std::span<const std::uint8_t> part,
    std::vector<std::pair<foundation::Bytes, foundation::Bytes>>& cookies,
    std::optional<int>* readBeforeTheEnd = nullptr);

}  // namespace analytics
