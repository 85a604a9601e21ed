#include "crash_reporter/report_fields.h"

#include <unistd.h>

#include <cerrno>

#include "crash_reporter/async_util.h"
#include "crash_reporter/image_list.h"

namespace crash {

using namespace fields;

// ---- Async file.

void crash_async_file_init(crash_async_file* file, int fd, std::size_t limit) noexcept {
  file->fd = fd;
  file->limit = limit;
  file->total_bytes = 0;
  file->buflen = 0;
  file->failed = false;
}

ssize_t crash_async_writen(int fd, const void* data, std::size_t length) noexcept {
  const char* at = static_cast<const char*>(data);
  std::size_t left = length;
  while (left > 0) {
    const ssize_t n = write(fd, at, left);
    if (n < 1) {
      if (n < 0 && errno == EINTR) continue;
      return -1;  // an error, or a device that takes nothing: retrying would spin
    }
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(length);
}

bool crash_async_file_flush(crash_async_file* file) noexcept {
  if (file->failed) return false;
  if (file->buflen == 0) return true;
  const bool ok = crash_async_writen(file->fd, file->buffer, file->buflen) >= 0;
  file->buflen = 0;
  if (!ok) file->failed = true;
  return ok;
}

bool crash_async_file_write(crash_async_file* file, const void* data, std::size_t length) noexcept {
  if (file->failed) return false;
  if (file->limit != 0) {
    if (file->total_bytes + length > file->limit) return false;
    file->total_bytes += length;
  } else {
    file->total_bytes += length;
  }
  if (file->buflen + length > sizeof file->buffer && !crash_async_file_flush(file)) return false;
  if (length <= 16) {  // most writes are a field's key and value: copied here rather than by a call
    const auto* bytes = static_cast<const char*>(data);
    for (std::size_t i = 0; i < length; ++i) file->buffer[file->buflen + i] = bytes[i];
    file->buflen += length;
    return true;
  }
  if (length <= sizeof file->buffer) {
    crash_async_memcpy(file->buffer + file->buflen, data, length);
    file->buflen += length;
    return true;
  }
  if (crash_async_writen(file->fd, data, length) < 0) {
    file->failed = true;
    return false;
  }
  return true;
}

bool crash_async_file_close(crash_async_file* file) noexcept {
  const bool flushed = crash_async_file_flush(file);
  const bool closed = close(file->fd) == 0;
  file->fd = -1;
  return flushed && closed;
}

// ---- Field encoding.

namespace {

template <class T>
T load(const void* value) noexcept {
  T result;
  __builtin_memcpy(&result, value, sizeof result);  // a load of the value's size, made in place
  return result;
}

}  // namespace

void fields::writeFieldHead(crash_async_file* file, std::uint64_t key, std::uint64_t number,
                            std::size_t fixedSize, std::size_t head) noexcept {
  std::uint8_t bytes[24];
  putHead(bytes, key, number, fixedSize);
  crash_async_file_write(file, bytes, head);
}

std::size_t crash_writer_pack(crash_async_file* file, std::uint32_t field, crash_writer_field_type type,
                              const void* value) noexcept {
  // The value as one number, written as a varint or in `fixedSize` little-endian bytes; string and byte
  // data follow it. Sizing (no file) stops at the lengths.
  std::uint32_t wire = kWireVarint;
  std::uint64_t number = 0;
  std::size_t fixedSize = 0;
  const void* data = nullptr;
  std::size_t dataLength = 0;
  switch (type) {
    case CRASH_FIELD_INT32:  // sign-extended: a negative value takes 10 bytes
      number = static_cast<std::uint64_t>(static_cast<std::int64_t>(load<std::int32_t>(value)));
      break;
    case CRASH_FIELD_SINT32: {
      const std::int32_t v = load<std::int32_t>(value);
      number = (static_cast<std::uint32_t>(v) << 1) ^ static_cast<std::uint32_t>(v >> 31);
      break;
    }
    case CRASH_FIELD_SFIXED32:
    case CRASH_FIELD_FIXED32:
    case CRASH_FIELD_FLOAT:
      wire = kWireFixed32;
      number = load<std::uint32_t>(value);
      fixedSize = 4;
      break;
    case CRASH_FIELD_INT64:
    case CRASH_FIELD_UINT64:
      number = load<std::uint64_t>(value);
      break;
    case CRASH_FIELD_SINT64: {
      const std::int64_t v = load<std::int64_t>(value);
      number = (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
      break;
    }
    case CRASH_FIELD_SFIXED64:
    case CRASH_FIELD_FIXED64:
    case CRASH_FIELD_DOUBLE:
      wire = kWireFixed64;
      number = load<std::uint64_t>(value);
      fixedSize = 8;
      break;
    case CRASH_FIELD_UINT32:
    case CRASH_FIELD_ENUM:
      number = load<std::uint32_t>(value);
      break;
    case CRASH_FIELD_BOOL:
      number = load<bool>(value) ? 1 : 0;
      break;
    case CRASH_FIELD_STRING:
      wire = kWireLength;
      data = value;
      dataLength = std::strlen(static_cast<const char*>(value));
      number = dataLength;
      break;
    case CRASH_FIELD_BYTES: {
      wire = kWireLength;
      const auto* bytes = static_cast<const crash_writer_bytes*>(value);
      data = bytes->data;
      dataLength = bytes->length;
      number = dataLength;
      break;
    }
    case CRASH_FIELD_MESSAGE:
      wire = kWireLength;
      number = load<std::uint32_t>(value);
      break;
    default:
      return 0;
  }
  return putField(file, fieldKey(field, wire), number, fixedSize, data, dataLength);
}

// ---- Sections.

namespace {

// A CPU type as reports carry it: the 32-bit number, never sign-extended.
std::uint64_t cpuNumber(std::int32_t value) noexcept { return static_cast<std::uint32_t>(value); }

}  // namespace

std::size_t crash_writer_write_processor_info(crash_async_file* file, std::int32_t type,
                                              std::int32_t subtype) noexcept {
  constexpr std::uint32_t kTypeEncodingMach = 1;
  return packEnum(file, 1, kTypeEncodingMach) + packU64(file, 2, cpuNumber(type)) +
         packU64(file, 3, cpuNumber(subtype));
}

std::size_t crash_writer_write_binary_image(crash_async_file* file, const crash_async_image* image) noexcept {
  // Encoded when the image was listed: copied as it is.
  if (!image->report_record.empty()) {
    if (file) crash_async_file_write(file, image->report_record.data(), image->report_record.size());
    return image->report_record.size();
  }
  std::size_t n = packU64(file, 2, crash_async_image_size(image));
  n += packU64(file, 1, crash_async_image_base(image));
  n += packString(file, 3, image->name.c_str());
  if (image->uuid_length > 0) {
    const crash_writer_bytes uuid{image->uuid_length, image->uuid};
    n += crash_writer_pack(file, 4, CRASH_FIELD_BYTES, &uuid);
  }
  return n + packMessage(file, 5, [&](crash_async_file* f) {
           return crash_writer_write_processor_info(f, image->cpu_type, image->cpu_subtype);
         });
}

std::string crash_writer_binary_image_record(const crash_async_image* image) {
  // A file with no descriptor and a limit of its buffer's size keeps everything in the buffer, and
  // refuses what would not fit there.
  crash_async_file scratch;
  crash_async_file_init(&scratch, -1, sizeof scratch.buffer);
  const std::size_t length = crash_writer_write_binary_image(&scratch, image);
  if (scratch.failed || length != scratch.buflen) return {};
  return std::string(scratch.buffer, scratch.buflen);
}

}  // namespace crash
