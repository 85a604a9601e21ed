#pragma once
// The fields of a report file (log_writer.h tells the file's layout) and the buffered file they go to.
// Both the writer and the image list encode with them: the list encodes each image's section once,
// when the image is listed, and the writer copies it into every report; a reader of images (and its
// fuzz target) thus needs this unit, not the whole writer.
//
// Everything here is safe in a signal handler except crash_writer_binary_image_record.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace crash {

struct crash_async_image;

// ---- Async file: a buffered writer over a descriptor, with an optional total size limit. The buffer
// is a page: a report of a few kilobytes then takes a write or two, where a smaller one made a system
// call for every few hundred bytes of the crash path.

struct crash_async_file {
  int fd;
  std::size_t limit;        // 0: none
  std::size_t total_bytes;  // bytes accepted so far (written or buffered)
  std::size_t buflen;       // bytes in the buffer
  bool failed;              // a write to the descriptor failed: nothing more is written
  char buffer[4096];
};

void crash_async_file_init(crash_async_file* file, int fd, std::size_t limit) noexcept;
// Accepts `length` bytes. False, with nothing taken, when they would pass the limit or an earlier
// write to the descriptor failed; false when writing out the buffer fails.
bool crash_async_file_write(crash_async_file* file, const void* data, std::size_t length) noexcept;
bool crash_async_file_flush(crash_async_file* file) noexcept;
// Flushes, then closes the descriptor; true when both succeeded and no write failed before.
bool crash_async_file_close(crash_async_file* file) noexcept;
// Writes every byte, retrying on EINTR: `length`, or -1 when a write fails otherwise.
ssize_t crash_async_writen(int fd, const void* data, std::size_t length) noexcept;

// ---- Field encoding.

enum crash_writer_field_type : int {
  CRASH_FIELD_INT32,
  CRASH_FIELD_SINT32,
  CRASH_FIELD_SFIXED32,
  CRASH_FIELD_FIXED32,
  CRASH_FIELD_FLOAT,
  CRASH_FIELD_INT64,
  CRASH_FIELD_UINT64,
  CRASH_FIELD_SINT64,
  CRASH_FIELD_SFIXED64,
  CRASH_FIELD_FIXED64,
  CRASH_FIELD_DOUBLE,
  CRASH_FIELD_UINT32,
  CRASH_FIELD_ENUM,
  CRASH_FIELD_BOOL,
  CRASH_FIELD_STRING,   // value: const char* (a C string)
  CRASH_FIELD_BYTES,    // value: const crash_writer_bytes*
  CRASH_FIELD_MESSAGE,  // value: const std::uint32_t* (the body length; the caller writes the body)
};

struct crash_writer_bytes {
  std::size_t length;
  const void* data;
};

// Encodes field `field` of `type` with the value `value` points at (an integer or floating value of
// the type's C type; see above for the others) and returns its encoded size; with a null file only the
// size is computed. An unknown type encodes nothing and returns 0 (the writer never passes one).
std::size_t crash_writer_pack(crash_async_file* file, std::uint32_t field, crash_writer_field_type type,
                              const void* value) noexcept;

// ---- Sections both encoders write. Each returns its encoded size, and with a file, appends it.

// A crashlg.ProcessorInfo: a CPU type and subtype, the Mach way.
std::size_t crash_writer_write_processor_info(crash_async_file* file, std::int32_t type,
                                              std::int32_t subtype) noexcept;
// A crashlg.BinaryImage: the image's report_record when it has one, else encoded from its fields.
std::size_t crash_writer_write_binary_image(crash_async_file* file, const crash_async_image* image) noexcept;
// The report's section for `image` (crashlg.BinaryImage), encoded for crash_async_image::report_record;
// empty when it would not fit a file's buffer. Not safe in a signal handler.
std::string crash_writer_binary_image_record(const crash_async_image* image);

// ---- The encoders' own tools: the writer's sections call these directly, rather than through
// crash_writer_pack, so that sizing a field with a constant key is a few inlined instructions. Not an
// interface for anything outside the reporter's encoders.

namespace fields {

enum : std::uint32_t { kWireVarint = 0, kWireFixed64 = 1, kWireLength = 2, kWireFixed32 = 5 };

constexpr std::uint64_t fieldKey(std::uint32_t field, std::uint32_t wire) noexcept {
  return (static_cast<std::uint64_t>(field) << 3) | wire;
}

inline std::size_t putVarint(std::uint8_t* out, std::uint64_t value) noexcept {
  std::size_t n = 0;
  while (value >= 0x80) {
    out[n++] = static_cast<std::uint8_t>(value | 0x80);
    value >>= 7;
  }
  out[n++] = static_cast<std::uint8_t>(value);
  return n;
}

// The bytes putVarint writes for `value`: one for every 7 significant bits, at least one.
inline std::size_t varintSize(std::uint64_t value) noexcept {
  return (64 - static_cast<std::size_t>(__builtin_clzll(value | 1)) + 6) / 7;
}

// A field's head: its key, then its number as a varint, or in `fixedSize` little-endian bytes (a
// fixed-width value). Returns the bytes written, at most 18.
inline std::size_t putHead(std::uint8_t* out, std::uint64_t key, std::uint64_t number,
                           std::size_t fixedSize) noexcept {
  const std::size_t at = putVarint(out, key);
  if (fixedSize == 0) return at + putVarint(out + at, number);
  for (std::size_t i = 0; i < fixedSize; ++i) out[at + i] = static_cast<std::uint8_t>(number >> (8 * i));
  return at + fixedSize;
}

// putField's way when the buffer lacks room or the limit may be reached: through
// crash_async_file_write, which decides.
[[gnu::noinline]] void writeFieldHead(crash_async_file* file, std::uint64_t key, std::uint64_t number,
                                      std::size_t fixedSize, std::size_t head) noexcept;

// One field: its head (putHead) and the `dataLength` bytes that follow a length; its encoded size, and
// with a file, the field appended to it. The head goes straight into the file's buffer when it has
// room and no limit is near. A report makes about a thousand fields and sizes most of them first, so
// this is inlined: sizing with a constant key is a few instructions, and so is writing a small field.
[[gnu::always_inline]] inline std::size_t putField(crash_async_file* file, std::uint64_t key,
                                                   std::uint64_t number, std::size_t fixedSize,
                                                   const void* data, std::size_t dataLength) noexcept {
  const std::size_t head = varintSize(key) + (fixedSize > 0 ? fixedSize : varintSize(number));
  if (!file) return head + dataLength;
  if (__builtin_expect(!file->failed && file->buflen + head <= sizeof file->buffer &&
                           (file->limit == 0 || file->total_bytes + head <= file->limit),
                       1)) {
    putHead(reinterpret_cast<std::uint8_t*>(file->buffer) + file->buflen, key, number, fixedSize);
    file->buflen += head;
    file->total_bytes += head;
  } else {
    writeFieldHead(file, key, number, fixedSize, head);
  }
  if (dataLength > 0) crash_async_file_write(file, data, dataLength);
  return head + dataLength;
}

// The fields the sections are made of, encoded as crash_writer_pack would encode them.
inline std::size_t packString(crash_async_file* file, std::uint32_t field, const char* text) noexcept {
  if (!text) text = "";
  const std::size_t length = std::strlen(text);
  return putField(file, fieldKey(field, kWireLength), length, 0, text, length);
}
inline std::size_t packU64(crash_async_file* file, std::uint32_t field, std::uint64_t value) noexcept {
  return putField(file, fieldKey(field, kWireVarint), value, 0, nullptr, 0);
}
inline std::size_t packEnum(crash_async_file* file, std::uint32_t field, std::uint32_t value) noexcept {
  return packU64(file, field, value);
}
inline std::size_t packLength(crash_async_file* file, std::uint32_t field, std::uint32_t length) noexcept {
  return putField(file, fieldKey(field, kWireLength), length, 0, nullptr, 0);
}

// A sub-message: the body is sized by a dry run, then key, length and body are written.
template <class Body>
std::size_t packMessage(crash_async_file* file, std::uint32_t field, const Body& body) noexcept {
  const auto length = static_cast<std::uint32_t>(body(nullptr));
  const std::size_t head = packLength(file, field, length);
  if (file) body(file);
  return head + length;
}

}  // namespace fields

}  // namespace crash
