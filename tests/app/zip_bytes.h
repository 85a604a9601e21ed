#pragma once
// Zip archives at the byte level, for tests: a reader that walks the end record, the central
// directory and the local headers on its own, and a writer of hand-made archives (including
// broken and hostile ones). Written apart from the archiver it checks; zlib does the deflate.

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zip_bytes {

using Bytes = std::vector<std::uint8_t>;

inline std::uint16_t u16(const Bytes& b, size_t at) {
  if (at + 2 > b.size()) throw std::runtime_error("zip too short");
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t u32(const Bytes& b, size_t at) {
  if (at + 4 > b.size()) throw std::runtime_error("zip too short");
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline void put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put32(Bytes& b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

struct Entry {
  // Central directory.
  std::uint16_t versionMadeBy = 0, versionNeeded = 0, flags = 0, method = 0, time = 0, date = 0;
  std::uint32_t crc = 0, compressedSize = 0, size = 0, externalAttributes = 0, localOffset = 0;
  std::string name;
  std::uint16_t centralExtraLength = 0, commentLength = 0;
  // Local header.
  std::uint16_t localVersionNeeded = 0, localFlags = 0, localMethod = 0, localExtraLength = 0;
  std::string localName;
  Bytes compressed;
};

inline Bytes inflateRaw(const Bytes& in, size_t expected) {
  Bytes out(expected);
  z_stream s{};
  if (inflateInit2(&s, -MAX_WBITS) != Z_OK) throw std::runtime_error("inflateInit2");
  s.next_in = const_cast<Bytef*>(in.data());
  s.avail_in = static_cast<uInt>(in.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&s, Z_FINISH);
  const size_t produced = expected - s.avail_out;
  inflateEnd(&s);
  if (rc != Z_STREAM_END || produced != expected) throw std::runtime_error("inflate");
  return out;
}

inline Bytes deflateRaw(const Bytes& in) {
  z_stream s{};
  if (deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  Bytes out(deflateBound(&s, static_cast<uLong>(in.size())));
  s.next_in = const_cast<Bytef*>(in.data());
  s.avail_in = static_cast<uInt>(in.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  if (deflate(&s, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(out.size() - s.avail_out);
  deflateEnd(&s);
  return out;
}

inline std::uint32_t crc(const Bytes& data) {
  return static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

// The entries in central-directory order, each with its local header and stored data.
inline std::vector<Entry> parse(const Bytes& zip) {
  if (zip.size() < 22) throw std::runtime_error("no end record");
  size_t end = zip.size() - 22;
  while (u32(zip, end) != 0x06054b50) {
    if (end == 0) throw std::runtime_error("no end record");
    --end;
  }
  const std::uint16_t count = u16(zip, end + 10);
  size_t at = u32(zip, end + 16);
  std::vector<Entry> entries;
  for (std::uint16_t i = 0; i < count; ++i) {
    if (u32(zip, at) != 0x02014b50) throw std::runtime_error("bad central header");
    Entry e;
    e.versionMadeBy = u16(zip, at + 4);
    e.versionNeeded = u16(zip, at + 6);
    e.flags = u16(zip, at + 8);
    e.method = u16(zip, at + 10);
    e.time = u16(zip, at + 12);
    e.date = u16(zip, at + 14);
    e.crc = u32(zip, at + 16);
    e.compressedSize = u32(zip, at + 20);
    e.size = u32(zip, at + 24);
    const std::uint16_t nameLength = u16(zip, at + 28);
    e.centralExtraLength = u16(zip, at + 30);
    e.commentLength = u16(zip, at + 32);
    e.externalAttributes = u32(zip, at + 38);
    e.localOffset = u32(zip, at + 42);
    e.name.assign(zip.begin() + static_cast<long>(at + 46),
                  zip.begin() + static_cast<long>(at + 46 + nameLength));
    at += 46 + nameLength + e.centralExtraLength + e.commentLength;

    const size_t local = e.localOffset;
    if (u32(zip, local) != 0x04034b50) throw std::runtime_error("bad local header");
    e.localVersionNeeded = u16(zip, local + 4);
    e.localFlags = u16(zip, local + 6);
    e.localMethod = u16(zip, local + 8);
    const std::uint16_t localNameLength = u16(zip, local + 26);
    e.localExtraLength = u16(zip, local + 28);
    e.localName.assign(zip.begin() + static_cast<long>(local + 30),
                       zip.begin() + static_cast<long>(local + 30 + localNameLength));
    const size_t data = local + 30 + localNameLength + e.localExtraLength;
    if (data + e.compressedSize > zip.size()) throw std::runtime_error("data beyond the end");
    e.compressed.assign(zip.begin() + static_cast<long>(data),
                        zip.begin() + static_cast<long>(data + e.compressedSize));
    entries.push_back(std::move(e));
  }
  return entries;
}

// The uncompressed data of a parsed entry.
inline Bytes contents(const Entry& e) {
  if (e.method == 0) return e.compressed;
  if (e.method == 8) return inflateRaw(e.compressed, e.size);
  throw std::runtime_error("unknown method");
}

struct NewEntry {
  std::string name;
  Bytes data;
  std::uint16_t method = 8;  // 0 stored, 8 deflate
  std::uint16_t flags = 0;
  std::uint32_t dosDateTime = (45u << 25) | (1u << 21) | (1u << 16);  // 2025-01-01 00:00
  bool wrongCrc = false;
};

inline Bytes build(const std::vector<NewEntry>& entries) {
  Bytes zip, central;
  for (const auto& e : entries) {
    const Bytes stored = e.method == 8 ? deflateRaw(e.data) : e.data;
    std::uint32_t sum = crc(e.data);
    if (e.wrongCrc) sum ^= 0xDEADBEEF;
    const auto offset = static_cast<std::uint32_t>(zip.size());
    const auto header = [&](Bytes& out, bool isCentral) {
      put32(out, isCentral ? 0x02014b50 : 0x04034b50);
      if (isCentral) put16(out, 0);
      put16(out, 20);
      put16(out, e.flags);
      put16(out, e.method);
      put32(out, e.dosDateTime);
      put32(out, sum);
      put32(out, static_cast<std::uint32_t>(stored.size()));
      put32(out, static_cast<std::uint32_t>(e.data.size()));
      put16(out, static_cast<std::uint32_t>(e.name.size()));
      put16(out, 0);
      if (isCentral) {
        put16(out, 0);
        put16(out, 0);
        put16(out, 0);
        put32(out, 0);
        put32(out, offset);
      }
      out.insert(out.end(), e.name.begin(), e.name.end());
    };
    header(zip, false);
    zip.insert(zip.end(), stored.begin(), stored.end());
    header(central, true);
  }
  const auto centralOffset = static_cast<std::uint32_t>(zip.size());
  zip.insert(zip.end(), central.begin(), central.end());
  put32(zip, 0x06054b50);
  put16(zip, 0);
  put16(zip, 0);
  put16(zip, static_cast<std::uint32_t>(entries.size()));
  put16(zip, static_cast<std::uint32_t>(entries.size()));
  put32(zip, static_cast<std::uint32_t>(central.size()));
  put32(zip, centralOffset);
  put16(zip, 0);
  return zip;
}

inline Bytes utf16Text(const std::string& ascii) {
  Bytes out{0xFF, 0xFE};
  for (char c : ascii) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(0);
  }
  return out;
}

}  // namespace zip_bytes
