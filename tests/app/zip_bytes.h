#pragma once
// Zip archives at the byte level, for tests: a reader that walks the end record, the central
// directory and the local headers on its own, and a writer of hand-made archives (including
// broken and hostile ones). Written apart from the archiver it checks; zlib does the deflate.

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zip_bytes {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t read(const Bytes& b, size_t at, int width) {
  if (at + width > b.size()) throw std::runtime_error("zip too short");
  std::uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | b[at + i];
  return v;
}
inline void put(Bytes& b, std::uint32_t v, int width) {
  for (int i = 0; i < width; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

struct Entry {
  // Central directory, then the local header's copies.
  std::uint32_t versionNeeded, flags, method, time, date, crc, compressedSize, size, centralExtraLength,
      commentLength;
  std::uint32_t localVersionNeeded, localFlags, localMethod, localExtraLength;
  std::string name, localName;
  Bytes compressed;
};

// Raw deflate (no zlib header) both ways.
inline Bytes zlibRaw(const Bytes& in, bool compress, size_t expected = 0) {
  z_stream s{};
  const int init =
      compress ? deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY)
               : inflateInit2(&s, -MAX_WBITS);
  if (init != Z_OK) throw std::runtime_error("zlib init");
  Bytes out(compress ? deflateBound(&s, static_cast<uLong>(in.size())) : expected);
  s.next_in = const_cast<Bytef*>(in.data());
  s.avail_in = static_cast<uInt>(in.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  const int rc = compress ? deflate(&s, Z_FINISH) : inflate(&s, Z_FINISH);
  compress ? deflateEnd(&s) : inflateEnd(&s);
  if (rc != Z_STREAM_END || (!compress && s.avail_out != 0)) throw std::runtime_error("zlib");
  out.resize(out.size() - s.avail_out);
  return out;
}

inline std::uint32_t crc(const Bytes& data) {
  return static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

// The entries in central-directory order, each with its local header and stored data.
inline std::vector<Entry> parse(const Bytes& zip) {
  if (zip.size() < 22) throw std::runtime_error("no end record");
  size_t end = zip.size() - 22;
  while (read(zip, end, 4) != 0x06054b50) {
    if (end-- == 0) throw std::runtime_error("no end record");
  }
  size_t at = read(zip, end + 16, 4);
  std::vector<Entry> entries(read(zip, end + 10, 2));
  for (Entry& e : entries) {
    if (read(zip, at, 4) != 0x02014b50) throw std::runtime_error("bad central header");
    e.versionNeeded = read(zip, at + 6, 2), e.flags = read(zip, at + 8, 2), e.method = read(zip, at + 10, 2);
    e.time = read(zip, at + 12, 2), e.date = read(zip, at + 14, 2), e.crc = read(zip, at + 16, 4);
    e.compressedSize = read(zip, at + 20, 4), e.size = read(zip, at + 24, 4);
    const size_t nameLength = read(zip, at + 28, 2), local = read(zip, at + 42, 4);
    e.centralExtraLength = read(zip, at + 30, 2), e.commentLength = read(zip, at + 32, 2);
    e.name.assign(zip.begin() + static_cast<long>(at + 46),
                  zip.begin() + static_cast<long>(at + 46 + nameLength));
    at += 46 + nameLength + e.centralExtraLength + e.commentLength;

    if (read(zip, local, 4) != 0x04034b50) throw std::runtime_error("bad local header");
    e.localVersionNeeded = read(zip, local + 4, 2), e.localFlags = read(zip, local + 6, 2);
    e.localMethod = read(zip, local + 8, 2), e.localExtraLength = read(zip, local + 28, 2);
    const size_t localNameLength = read(zip, local + 26, 2);
    const size_t data = local + 30 + localNameLength + e.localExtraLength;
    if (data + e.compressedSize > zip.size()) throw std::runtime_error("data beyond the end");
    e.localName.assign(zip.begin() + static_cast<long>(local + 30),
                       zip.begin() + static_cast<long>(local + 30 + localNameLength));
    e.compressed.assign(zip.begin() + static_cast<long>(data),
                        zip.begin() + static_cast<long>(data + e.compressedSize));
  }
  return entries;
}

// The uncompressed data of a parsed entry.
inline Bytes contents(const Entry& e) {
  if (e.method == 0) return e.compressed;
  if (e.method == 8) return zlibRaw(e.compressed, false, e.size);
  throw std::runtime_error("unknown method");
}

// The date and time fields of a zip entry.
inline std::uint32_t dosDate(int year, int month, int day) {
  return ((year - 1980) << 9) | (month << 5) | day;
}
inline std::uint32_t dosTime(int hour, int minute, int second) {
  return (hour << 11) | (minute << 5) | (second / 2);
}

struct NewEntry {
  std::string name;
  Bytes data;
  std::uint16_t method = 8;  // 0 stored, 8 deflate
  std::uint16_t flags = 0;
  std::uint32_t dosDateTime = dosDate(2025, 1, 1) << 16;
  bool wrongCrc = false;
  // A size to declare instead of the data's own.
  std::optional<std::uint32_t> declaredSize = std::nullopt;
};

inline Bytes build(const std::vector<NewEntry>& entries) {
  Bytes zip, central;
  for (const auto& e : entries) {
    const Bytes stored = e.method == 8 ? zlibRaw(e.data, true) : e.data;
    const auto offset = static_cast<std::uint32_t>(zip.size());
    const std::uint32_t size = e.declaredSize.value_or(static_cast<std::uint32_t>(e.data.size()));
    for (Bytes* out : {&zip, &central}) {
      const bool isCentral = out == &central;
      put(*out, isCentral ? 0x02014b50 : 0x04034b50, 4);
      if (isCentral) put(*out, 0, 2);
      for (std::uint32_t v : {20u, std::uint32_t{e.flags}, std::uint32_t{e.method}}) put(*out, v, 2);
      put(*out, e.dosDateTime, 4);
      put(*out, crc(e.data) ^ (e.wrongCrc ? 0xDEADBEEF : 0), 4);
      put(*out, static_cast<std::uint32_t>(stored.size()), 4);
      put(*out, size, 4);
      put(*out, static_cast<std::uint32_t>(e.name.size()), 2);
      put(*out, 0, 2);
      if (isCentral) {
        out->insert(out->end(), 10, 0);  // comment length, disk, attributes
        put(*out, offset, 4);
      }
      out->insert(out->end(), e.name.begin(), e.name.end());
      if (!isCentral) out->insert(out->end(), stored.begin(), stored.end());
    }
  }
  const auto centralOffset = static_cast<std::uint32_t>(zip.size());
  zip.insert(zip.end(), central.begin(), central.end());
  put(zip, 0x06054b50, 4);
  put(zip, 0, 4);
  put(zip, static_cast<std::uint32_t>(entries.size()), 2);
  put(zip, static_cast<std::uint32_t>(entries.size()), 2);
  put(zip, static_cast<std::uint32_t>(central.size()), 4);
  put(zip, centralOffset, 4);
  put(zip, 0, 2);
  return zip;
}

inline Bytes utf16Text(const std::string& ascii) {
  Bytes out{0xFF, 0xFE};
  for (char c : ascii) out.insert(out.end(), {static_cast<std::uint8_t>(c), 0});
  return out;
}

}  // namespace zip_bytes
