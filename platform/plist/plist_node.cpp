#include "platform/plist/plist_node.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

#include "platform/foundation/text.h"

namespace plist::detail {

using foundation::Bytes;
using foundation::Error;
using foundation::Result;
using foundation::Value;

namespace {

constexpr char kBinaryMagic[] = "bplist00";
constexpr size_t kBinaryMagicSize = 8;
constexpr size_t kTrailerSize = 32;

// Frees what libplist hands out with malloc.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Malloced = std::unique_ptr<T, FreeDeleter>;

std::uint64_t bigEndian(const std::uint8_t* p, size_t size) {
  std::uint64_t v = 0;
  for (size_t i = 0; i < size; ++i) v = (v << 8) | p[i];
  return v;
}

// The trailer of a binary property list: sizes, object count, top object and where the offset table
// starts, checked to fit the data.
struct Trailer {
  size_t offsetSize = 0;
  size_t refSize = 0;
  std::uint64_t count = 0;
  std::uint64_t top = 0;
  std::uint64_t tableOffset = 0;
};

// The trailer, or why it cannot be one: every offset of the table then lies inside the data.
std::optional<std::string> readTrailer(const std::uint8_t* p, size_t n, Trailer& out) {
  if (n < kBinaryMagicSize + kTrailerSize) return "the binary property list is truncated";
  const std::uint8_t* trailer = p + n - kTrailerSize;
  out = Trailer{trailer[6], trailer[7], bigEndian(trailer + 8, 8), bigEndian(trailer + 16, 8),
                bigEndian(trailer + 24, 8)};
  if (out.offsetSize < 1 || out.offsetSize > 8 || out.refSize < 1 || out.refSize > 8)
    return "the binary property list has a damaged trailer";
  if (out.tableOffset < kBinaryMagicSize || out.tableOffset > n - kTrailerSize)
    return "the binary property list is truncated";
  if (out.count == 0 || out.top >= out.count ||
      out.count > (n - kTrailerSize - out.tableOffset) / out.offsetSize)
    return "the binary property list has a damaged offset table";
  return std::nullopt;
}

std::uint64_t objectOffset(const std::uint8_t* p, const Trailer& t, std::uint64_t i) {
  return bigEndian(p + t.tableOffset + i * t.offsetSize, t.offsetSize);
}

// The marker and count of an object; `pos` is where its contents start.
struct Header {
  int kind;             // the marker's high nibble
  std::uint64_t items;  // the count of a container or string
  std::uint64_t pos;
};

// The header of the object at `offset`; nothing when it lies outside the object area.
std::optional<Header> headerAt(const std::uint8_t* p, std::uint64_t tableOffset, std::uint64_t offset) {
  if (offset < kBinaryMagicSize || offset >= tableOffset) return std::nullopt;
  const std::uint8_t marker = p[offset];
  Header header{marker >> 4, static_cast<std::uint64_t>(marker & 0x0F), offset + 1};
  const bool counted = header.kind >= 0x4 && header.kind != 0x8;  // data, strings, collections
  if (counted && header.items == 0x0F) {
    if (header.pos >= tableOffset || (p[header.pos] >> 4) != 0x1) return std::nullopt;
    const size_t width = size_t{1} << (p[header.pos] & 0x0F);
    if (width > 8 || header.pos + 1 + width > tableOffset) return std::nullopt;
    header.items = bigEndian(p + header.pos + 1, width);
    header.pos += 1 + width;
  }
  return header;
}

bool isContainer(int kind) { return kind == 0xA || kind == 0xB || kind == 0xC || kind == 0xD; }

// The references a container holds (a dictionary's keys, then its values).
std::uint64_t referenceCount(const Header& header) {
  return header.kind == 0xD ? header.items * 2 : header.items;
}

// Walks the object graph of a binary property list from its top object without decoding any
// value: the trailer and offset table must hold together, every container reference must name
// an object, no container may contain itself, and containers may nest at most kMaxDepth deep.
std::optional<std::string> checkBinaryStructure(const std::uint8_t* p, size_t n) {
  Trailer t;
  if (auto problem = readTrailer(p, n, t)) return problem;
  const std::uint64_t count = t.count;
  const std::uint64_t tableOffset = t.tableOffset;
  const size_t refSize = t.refSize;
  auto headerOf = [&](std::uint64_t i) { return headerAt(p, tableOffset, objectOffset(p, t, i)); };

  // References of a container; false when they are damaged.
  auto referencesOf = [&](const Header& header, std::vector<std::uint64_t>& out) -> bool {
    out.clear();
    const std::uint64_t room = (tableOffset - header.pos) / refSize;
    if (header.items > room || (header.kind == 0xD && header.items > room / 2)) return false;
    const std::uint64_t refs = referenceCount(header);
    out.reserve(refs);
    for (std::uint64_t r = 0; r < refs; ++r) {
      const std::uint64_t ref = bigEndian(p + header.pos + r * refSize, refSize);
      if (ref >= count) return false;
      out.push_back(ref);
    }
    return true;
  };

  // Strings must lie inside the object area and hold no U+0000: libplist assumes C strings.
  auto stringIsSound = [&](const Header& header) -> bool {
    const std::uint64_t unit = header.kind == 0x6 ? 2 : 1;
    if (header.items > (tableOffset - header.pos) / unit) return false;
    const std::uint8_t* text = p + header.pos;
    for (std::uint64_t i = 0; i < header.items; ++i) {
      if (unit == 1 ? text[i] == 0 : (text[2 * i] == 0 && text[2 * i + 1] == 0)) return false;
    }
    return true;
  };

  enum : std::uint8_t { kUnseen, kOnPath, kDone };
  std::vector<std::uint8_t> state(count, kUnseen);
  std::vector<std::uint16_t> height(count, 0);  // containers below and including the object
  struct Frame {
    std::uint64_t object;
    std::vector<std::uint64_t> refs;
    size_t next = 0;
    std::uint16_t height = 0;
  };
  std::vector<Frame> path;
  std::vector<std::uint64_t> refs;

  // Enters object i below the current path; the problem when it is malformed or too deep.
  auto enter = [&](std::uint64_t i) -> std::optional<std::string> {
    if (state[i] == kOnPath) return "the binary property list contains itself";
    if (state[i] == kDone) {
      if (path.size() + height[i] > static_cast<size_t>(kMaxDepth))
        return "the property list nests too deeply";
      if (!path.empty()) path.back().height = std::max<std::uint16_t>(path.back().height, height[i]);
      return std::nullopt;
    }
    auto header = headerOf(i);
    if (!header) return "the binary property list has a damaged object";
    if (!isContainer(header->kind)) {
      if ((header->kind == 0x5 || header->kind == 0x6) && !stringIsSound(*header))
        return "the binary property list has a damaged string";
      state[i] = kDone;
      return std::nullopt;
    }
    if (!referencesOf(*header, refs)) return "the binary property list has a damaged object";
    if (path.size() + 1 > static_cast<size_t>(kMaxDepth)) return "the property list nests too deeply";
    state[i] = kOnPath;
    path.push_back(Frame{i, refs, 0, 0});
    return std::nullopt;
  };

  if (auto problem = enter(t.top)) return problem;
  while (!path.empty()) {
    Frame& frame = path.back();
    if (frame.next < frame.refs.size()) {
      const std::uint64_t child = frame.refs[frame.next++];
      if (auto problem = enter(child)) return problem;
      continue;
    }
    const std::uint64_t object = frame.object;
    const std::uint16_t h = static_cast<std::uint16_t>(frame.height + 1);
    path.pop_back();
    state[object] = kDone;
    height[object] = h;
    if (!path.empty()) path.back().height = std::max(path.back().height, h);
  }
  return std::nullopt;
}

// The fewest bytes (1, 2, 4 or 8) that hold `value`, as libplist sizes references and offsets.
size_t bytesFor(std::uint64_t value) {
  if (value < (std::uint64_t{1} << 8)) return 1;
  if (value < (std::uint64_t{1} << 16)) return 2;
  if (value < (std::uint64_t{1} << 32)) return 4;
  return 8;
}

void putBigEndian(Bytes& out, std::uint64_t value, size_t size) {
  for (size_t i = size; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// libplist shares one object between equal data values only when their nodes' addresses happen to
// meet in its lookup table (about one write in a thousand, for a list holding the same bytes twice),
// so one value could be written as two different byte strings. This rewrites what it wrote with
// every repeated data object shared, as libplist itself does for equal strings and numbers: the
// bytes then follow from the value alone. Objects keep libplist's order and encoding; only the
// references, the offset table and the trailer are written anew. Nothing when the input is not
// laid out as libplist writes (objects one after another in the order of the table).
std::optional<Bytes> shareRepeatedData(const Bytes& written) {
  const std::uint8_t* p = written.data();
  Trailer t;
  if (readTrailer(p, written.size(), t)) return std::nullopt;
  std::vector<std::uint64_t> start(t.count + 1);
  for (std::uint64_t i = 0; i < t.count; ++i) start[i] = objectOffset(p, t, i);
  start[t.count] = t.tableOffset;
  std::vector<Header> headers;
  headers.reserve(t.count);
  for (std::uint64_t i = 0; i < t.count; ++i) {
    auto header = headerAt(p, t.tableOffset, start[i]);
    if (!header || start[i + 1] <= start[i]) return std::nullopt;
    if (isContainer(header->kind) &&
        header->pos + referenceCount(*header) * t.refSize != start[i + 1])
      return std::nullopt;
    headers.push_back(*header);
  }
  // Each object's new number; a repeated data object takes the number of its first occurrence.
  std::vector<std::uint64_t> renumbered(t.count);
  std::vector<bool> kept(t.count, true);
  std::unordered_map<std::string_view, std::uint64_t> firstData;
  std::uint64_t next = 0;
  for (std::uint64_t i = 0; i < t.count; ++i) {
    if (headers[i].kind == 0x4) {
      const std::string_view whole(reinterpret_cast<const char*>(p + start[i]), start[i + 1] - start[i]);
      const auto [first, isNew] = firstData.emplace(whole, next);
      if (!isNew) {
        renumbered[i] = first->second;
        kept[i] = false;
        continue;
      }
    }
    renumbered[i] = next++;
  }
  const size_t refSize = bytesFor(next);
  Bytes out(p, p + kBinaryMagicSize);
  std::vector<std::uint64_t> offsets;
  offsets.reserve(next);
  for (std::uint64_t i = 0; i < t.count; ++i) {
    if (!kept[i]) continue;
    offsets.push_back(out.size());
    if (!isContainer(headers[i].kind)) {
      out.insert(out.end(), p + start[i], p + start[i + 1]);
      continue;
    }
    out.insert(out.end(), p + start[i], p + headers[i].pos);
    for (std::uint64_t r = 0; r < referenceCount(headers[i]); ++r) {
      const std::uint64_t ref = bigEndian(p + headers[i].pos + r * t.refSize, t.refSize);
      if (ref >= t.count) return std::nullopt;
      putBigEndian(out, renumbered[ref], refSize);
    }
  }
  const std::uint64_t tableOffset = out.size();
  const size_t offsetSize = bytesFor(tableOffset);
  for (std::uint64_t offset : offsets) putBigEndian(out, offset, offsetSize);
  const std::uint8_t* trailer = p + written.size() - kTrailerSize;
  out.insert(out.end(), trailer, trailer + 6);
  out.push_back(static_cast<std::uint8_t>(offsetSize));
  out.push_back(static_cast<std::uint8_t>(refSize));
  putBigEndian(out, next, 8);
  putBigEndian(out, renumbered[t.top], 8);
  putBigEndian(out, tableOffset, 8);
  return out;
}

bool startsWith(std::string_view text, size_t at, std::string_view prefix) {
  return text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

// Counts the nesting of <array> and <dict> elements in XML, skipping comments, CDATA sections,
// processing instructions and declarations, so that libplist never sees input deeper than
// kMaxDepth.
std::optional<std::string> checkXmlDepth(std::string_view xml) {
  int depth = 0;
  size_t i = 0;
  while ((i = xml.find('<', i)) != std::string_view::npos) {
    auto skipPast = [&](std::string_view end) {
      const size_t at = xml.find(end, i);
      i = at == std::string_view::npos ? xml.size() : at + end.size();
    };
    if (startsWith(xml, i, "<!--")) {
      skipPast("-->");
    } else if (startsWith(xml, i, "<![CDATA[")) {
      skipPast("]]>");
    } else if (startsWith(xml, i, "<?")) {
      skipPast("?>");
    } else if (startsWith(xml, i, "<!")) {
      skipPast(">");
    } else {
      const size_t close = xml.find('>', i);
      if (close == std::string_view::npos) break;  // libplist reports the broken tag
      std::string_view tag = xml.substr(i + 1, close - i - 1);
      const bool closing = !tag.empty() && tag.front() == '/';
      if (closing) tag.remove_prefix(1);
      const bool empty = !tag.empty() && tag.back() == '/';
      const size_t nameEnd = tag.find_first_of(" \t\r\n/");
      const std::string_view name = tag.substr(0, nameEnd);
      if (name == "array" || name == "dict") {
        if (closing) {
          --depth;
        } else if (!empty && ++depth > kMaxDepth) {
          return "the property list nests too deeply";
        }
      }
      i = close + 1;
    }
  }
  return std::nullopt;
}

Result<Value> dateToValue(plist_t node) {
  std::int32_t sec = 0;
  std::int32_t usec = 0;
  plist_get_date_val(node, &sec, &usec);
  // libplist reports a date it cannot express in 32-bit seconds as the lowest value.
  if (sec == std::numeric_limits<std::int32_t>::min())
    return readError("a date lies outside the supported range");
  // libplist hands out whole seconds truncated toward zero and the fraction's magnitude
  // truncated to microseconds, which loses the sign between -1 and 0 and may lose a
  // microsecond. Find the exact microsecond by comparing candidates with the node.
  const std::int64_t magnitude = static_cast<std::int64_t>(sec) * 1000000;
  std::vector<std::int64_t> bases{sec < 0 ? magnitude - usec : magnitude + usec};
  if (sec == 0) bases.push_back(-static_cast<std::int64_t>(usec));
  for (std::int64_t base : bases) {
    for (std::int64_t delta : {0, 1, -1, 2, -2}) {
      const std::int64_t micros = base + delta;
      std::int64_t s = micros / 1000000;
      std::int64_t u = micros % 1000000;
      if (u < 0) {
        s -= 1;
        u += 1000000;
      }
      if (s < std::numeric_limits<std::int32_t>::min() || s > std::numeric_limits<std::int32_t>::max())
        continue;
      NodePtr candidate(plist_new_date(static_cast<std::int32_t>(s), static_cast<std::int32_t>(u)));
      if (plist_compare_node_value(candidate.get(), node)) {
        return Value(foundation::Date{static_cast<double>(s) + static_cast<double>(u) / 1000000});
      }
    }
  }
  return Value(foundation::Date{static_cast<double>(bases.front()) / 1000000});
}

Result<NodePtr> dateToNode(foundation::Date date) {
  const double d = date.sinceReference;
  if (!std::isfinite(d)) return writeError("a date is not a finite time");
  double s = std::floor(d);
  double u = std::round((d - s) * 1000000);
  if (u >= 1000000) {
    s += 1;
    u = 0;
  }
  // The lowest second is what libplist reports for dates it cannot hold, so it is left out.
  if (s <= std::numeric_limits<std::int32_t>::min() || s > std::numeric_limits<std::int32_t>::max())
    return writeError("a date lies outside the supported range");
  return NodePtr(plist_new_date(static_cast<std::int32_t>(s), static_cast<std::int32_t>(u)));
}

Result<Value> toValueAt(plist_t node, int depth, bool uids) {
  if (depth > kMaxDepth) return readError("the property list nests too deeply");
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN:
    case PLIST_UINT:
    case PLIST_REAL:
      return *numberOf(node);
    case PLIST_STRING: {
      auto text = stringOf(node);
      if (!text) return readError("a string is not valid text");
      return Value(std::move(*text));
    }
    case PLIST_DATA:
      return Value(*dataOf(node));
    case PLIST_DATE:
      return dateToValue(node);
    case PLIST_ARRAY: {
      foundation::Array items;
      const std::uint32_t size = plist_array_get_size(node);
      items.reserve(size);
      for (std::uint32_t i = 0; i < size; ++i) {
        auto item = toValueAt(plist_array_get_item(node, i), depth + 1, uids);
        if (!item) return item.error();
        items.push_back(std::move(*item));
      }
      return Value(std::move(items));
    }
    case PLIST_DICT: {
      foundation::Dictionary entries;
      entries.reserve(plist_dict_get_size(node));
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      Malloced<void> iterOwner(iter);
      for (;;) {
        char* rawKey = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &rawKey, &item);
        Malloced<char> key(rawKey);
        if (!item) break;
        if (!key || !foundation::text::isValidUtf8(key.get()))
          return readError("a dictionary key is not valid text");
        auto value = toValueAt(item, depth + 1, uids);
        if (!value) return value.error();
        entries.set(key.get(), std::move(*value));
      }
      return Value(std::move(entries));
    }
    case PLIST_UID: {
      if (!uids) return readError("a keyed-archive reference is not a property-list value");
      std::uint64_t uid = 0;
      plist_get_uid_val(node, &uid);
      return Value(foundation::Dictionary{{"CF$UID", static_cast<long long>(uid)}});
    }
    default:
      return readError("the property list holds an unknown kind of value");
  }
}

Result<NodePtr> fromValueAt(const Value& value, int depth) {
  if (depth > kMaxDepth) return writeError("the property list nests too deeply");
  switch (value.type()) {
    case Value::Type::Null:
      return writeError("null cannot be written in a property list");
    case Value::Type::Bool:
      return NodePtr(plist_new_bool(*value.boolean() ? 1 : 0));
    case Value::Type::Integer:
      return NodePtr(plist_new_uint(static_cast<std::uint64_t>(*value.integer())));
    case Value::Type::Real:
      return NodePtr(plist_new_real(*value.real()));
    case Value::Type::Decimal:
      return NodePtr(plist_new_real(value.toDouble().value_or(0)));
    case Value::Type::String: {
      if (auto problem = checkText(*value.string())) return writeError(*problem);
      return newString(*value.string());
    }
    case Value::Type::Data: {
      const Bytes& bytes = *value.data();
      return NodePtr(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    case Value::Type::Date:
      return dateToNode(*value.date());
    case Value::Type::Array: {
      NodePtr array(plist_new_array());
      for (const Value& item : *value.array()) {
        auto node = fromValueAt(item, depth + 1);
        if (!node) return node.error();
        plist_array_append_item(array.get(), node->release());
      }
      return array;
    }
    case Value::Type::Dictionary: {
      NodePtr dict(plist_new_dict());
      for (const auto& [key, item] : *value.dictionary()) {
        if (auto problem = checkText(key)) return writeError("a dictionary key: " + *problem);
        auto node = fromValueAt(item, depth + 1);
        if (!node) return node.error();
        plist_dict_set_item(dict.get(), key.c_str(), node->release());
      }
      return dict;
    }
  }
  return writeError("unknown value type");
}

}  // namespace

Error readError(std::string message) {
  return Error::make(std::string(kErrorDomain), kReadCorruptError,
                     "The data couldn’t be read: " + message + ".");
}

Error writeError(std::string message) {
  return Error::make(std::string(kErrorDomain), kWriteInvalidError,
                     "The property list couldn’t be written: " + message + ".");
}

Result<NodePtr> parse(const void* data, size_t size, Format* format) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (size == 0 || !data) return readError("the data is empty");
  if (size > std::numeric_limits<std::uint32_t>::max()) return readError("the data is too large");
  const Format found = detectFormat(data, size);
  if (format) *format = found;
  if (found == Format::Binary) {
    if (auto problem = checkBinaryStructure(bytes, size)) return readError(*problem);
  } else {
    // A UTF-8 byte-order mark in front of the XML is allowed.
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
      bytes += 3;
      size -= 3;
    }
    const std::string_view xml(reinterpret_cast<const char*>(bytes), size);
    // XML cannot hold U+0000, and libplist would take it for the end of a string.
    if (xml.find('\0') != std::string_view::npos) return readError("the text holds a NUL character");
    if (auto problem = checkXmlDepth(xml)) return readError(*problem);
  }
  plist_t root = nullptr;
  if (found == Format::Binary) {
    plist_from_bin(reinterpret_cast<const char*>(bytes), static_cast<std::uint32_t>(size), &root);
  } else {
    plist_from_xml(reinterpret_cast<const char*>(bytes), static_cast<std::uint32_t>(size), &root);
  }
  if (!root) {
    return readError(found == Format::Binary ? "the binary property list is damaged"
                                             : "the text is not a well-formed XML property list");
  }
  return NodePtr(root);
}

Result<Bytes> serialize(plist_t root, Format format) {
  char* out = nullptr;
  std::uint32_t length = 0;
  if (format == Format::Xml) {
    plist_to_xml(root, &out, &length);
  } else {
    plist_to_bin(root, &out, &length);
  }
  if (!out) return writeError("the library could not write it");
  Bytes bytes(reinterpret_cast<const std::uint8_t*>(out),
              reinterpret_cast<const std::uint8_t*>(out) + length);
  if (format == Format::Xml) {
    plist_to_xml_free(out);
    return bytes;
  }
  plist_to_bin_free(out);
  auto shared = shareRepeatedData(bytes);
  if (!shared) return writeError("the library wrote a binary property list out of its own layout");
  return std::move(*shared);
}

Result<Value> toValue(plist_t node, bool uidsAsDictionaries) {
  return toValueAt(node, 0, uidsAsDictionaries);
}

Result<NodePtr> fromValue(const Value& value) { return fromValueAt(value, 0); }

std::optional<std::string> stringOf(plist_t node) {
  if (plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  char* raw = nullptr;
  plist_get_string_val(node, &raw);
  Malloced<char> owner(raw);
  std::string text = raw ? raw : "";
  if (!foundation::text::isValidUtf8(text)) return std::nullopt;
  return text;
}

std::optional<Bytes> dataOf(plist_t node) {
  if (plist_get_node_type(node) != PLIST_DATA) return std::nullopt;
  char* raw = nullptr;
  std::uint64_t length = 0;
  plist_get_data_val(node, &raw, &length);
  Malloced<char> owner(raw);
  if (!raw) return Bytes{};
  return Bytes(reinterpret_cast<const std::uint8_t*>(raw),
               reinterpret_cast<const std::uint8_t*>(raw) + length);
}

std::optional<Value> numberOf(plist_t node) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value(b != 0);
    }
    case PLIST_UINT: {
      std::uint64_t v = 0;
      plist_get_uint_val(node, &v);
      return Value(static_cast<long long>(v));
    }
    case PLIST_REAL: {
      double v = 0;
      plist_get_real_val(node, &v);
      return Value(v);
    }
    default:
      return std::nullopt;
  }
}

std::optional<std::string> checkText(std::string_view text) {
  if (!foundation::text::isValidUtf8(text)) return "a string is not valid UTF-8";
  if (text.find('\0') != std::string_view::npos) return "a string holds a NUL character";
  return std::nullopt;
}

NodePtr newString(std::string_view text) {
  if (checkText(text)) return nullptr;
  return NodePtr(plist_new_string(std::string(text).c_str()));
}

}  // namespace plist::detail

namespace plist {

Format detectFormat(const void* data, size_t size) {
  if (data && size >= detail::kBinaryMagicSize &&
      std::memcmp(data, detail::kBinaryMagic, detail::kBinaryMagicSize) == 0)
    return Format::Binary;
  return Format::Xml;
}

}  // namespace plist
