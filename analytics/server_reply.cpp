#include "analytics/server_reply.h"

#include <cstdio>
#include <string>

#include "analytics/protocol_data.h"

namespace analytics {
namespace {

using foundation::Bytes;
using P = TallyProtocolData;

foundation::Error malformed(std::string why, size_t length, size_t at) {
  return foundation::Error::make(std::string(kTallyMalformedDataDomain), 2,
                                 why + ", data len=" + std::to_string(length) + ", ix=" + std::to_string(at));
}

// Whether `size` bytes from `at` lie inside the part (a negative size never does).
bool fits(std::span<const std::uint8_t> part, size_t at, std::int16_t size) {
  return size >= 0 && at <= part.size() && part.size() - at >= static_cast<size_t>(size);
}

}  // namespace

foundation::Result<size_t> parseCookies(std::span<const std::uint8_t> part,
                                        std::vector<std::pair<Bytes, Bytes>>& cookies,
                                        std::optional<int>* readBeforeTheEnd) {
  auto count = P::getInt16FromData(part, 0);
  if (!count) return count.error();
  if (*count < 1) return size_t{2};
  size_t offset = 2;
  int read = 0;
  while (offset < part.size()) {
    auto k = P::getInt16FromData(part, static_cast<std::int64_t>(offset));
    if (!k) return k.error();
    if (!fits(part, offset + 2, *k))
      return malformed("-[TallyDataSender parseCookies:]: a cookie key runs past the reply", part.size(),
                       offset);
    size_t valueAt = offset + 2 + static_cast<size_t>(*k);
    auto v = P::getInt16FromData(part, static_cast<std::int64_t>(valueAt));
    if (!v) return v.error();
    if (!fits(part, valueAt + 2, *v))
      return malformed("-[TallyDataSender parseCookies:]: a cookie value runs past the reply", part.size(),
                       valueAt);
    auto begin = part.begin();
    cookies.emplace_back(
        Bytes(begin + static_cast<std::ptrdiff_t>(offset + 2), begin + static_cast<std::ptrdiff_t>(valueAt)),
        Bytes(begin + static_cast<std::ptrdiff_t>(valueAt + 2),
              begin + static_cast<std::ptrdiff_t>(valueAt + 2 + static_cast<size_t>(*v))));
    offset = valueAt + 2 + static_cast<size_t>(*v);
    if (++read == *count) return offset;
  }
  // Fewer cookies than announced: the closing field cannot follow, the reader of the whole refuses it.
  if (readBeforeTheEnd) *readBeforeTheEnd = read;
  return offset;
}

foundation::Result<TallyServerReply> parseServerReply(std::span<const std::uint8_t> body,
                                                      TallyServerReplyNotes* notes) {
  TallyServerReply reply;
  if (body.empty()) {
    reply.clearCookies = true;
    return reply;
  }
  auto chunk = P::getInt16FromData(body, 0);
  if (!chunk) return chunk.error();
  if (auto length = P::getInt32FromData(body, 2); !length) return length.error();
  if (*chunk != kTallyReplyChunkType) {
    if (notes) notes->unexpectedChunkType = static_cast<std::uint16_t>(*chunk);
    char type[8];
    std::snprintf(type, sizeof type, "%x", static_cast<unsigned>(static_cast<std::uint16_t>(*chunk)));
    return malformed(std::string("-[TallyDataSender parseResponse:]: Got unexpected chunk typd ") + type,
                     body.size(), 0);
  }
  std::span<const std::uint8_t> rest = body.subspan(6);
  if (auto unused = P::getInt16FromData(rest, 0); !unused) return unused.error();
  std::span<const std::uint8_t> part = rest.subspan(2);
  auto end = parseCookies(part, reply.cookies, notes ? &notes->cookiesReadBeforeTheEnd : nullptr);
  if (!end) return end.error();
  if (auto closing = P::getInt16FromData(part, static_cast<std::int64_t>(*end)); !closing)
    return closing.error();
  return reply;
}

}  // namespace analytics
