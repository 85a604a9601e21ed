#include "analytics/relay_avro.h"

#include <cstdlib>
#include <limits>
#include <vector>

#include "analytics/relay_schema_texts.h"

namespace analytics::relay_avro {
namespace {

constexpr std::string_view kDomain = "TallyRelayAvro";
// The exchange's schemas nest a few levels; a deeper walk means a schema we did not write.
constexpr int kMaxDepth = 32;

foundation::Error avroError(std::int64_t code, std::string what) {
  return foundation::Error::make(std::string(kDomain), code, std::move(what));
}

// Walks one binary value. Avro's grammar, as far as it is read here:
//   long/int   zig-zag varint, at most 10 (long) or 5 (int, and within 32 bits) bytes
//   boolean    one byte, 0 or 1;  float 4 bytes;  double 8 bytes;  null nothing
//   string     long length >= 0, then that many bytes;  bytes alike;  fixed its declared size
//   enum       int symbol index;  union  long branch index, then the branch's value
//   record     its fields in order
//   array/map  blocks: long count (0 ends; negative: |count| items after a long byte size), then
//              the items (a map's each a string key and a value)
class Walker {
 public:
  explicit Walker(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  foundation::Status walk(avro_schema_t schema, int depth) {
    if (depth > kMaxDepth) return avroError(1, "the schema nests too deeply");
    switch (avro_typeof(schema)) {
      case AVRO_NULL:
        return {};
      case AVRO_BOOLEAN: {
        if (left() < 1 || bytes_[at_] > 1) return avroError(2, "a boolean is not 0 or 1");
        ++at_;
        return {};
      }
      case AVRO_INT32:
        return int32().ok() ? foundation::Status{} : avroError(3, "an int does not decode");
      case AVRO_INT64:
        return varint(10).ok() ? foundation::Status{} : avroError(3, "a long does not decode");
      case AVRO_FLOAT:
        return skip(4);
      case AVRO_DOUBLE:
        return skip(8);
      case AVRO_STRING:
      case AVRO_BYTES: {
        auto length = varint(10);
        if (!length || *length < 0) return avroError(4, "a length does not decode");
        return skip(static_cast<std::uint64_t>(*length));
      }
      case AVRO_FIXED:
        return skip(static_cast<std::uint64_t>(avro_schema_fixed_size(schema)));
      case AVRO_ENUM: {
        auto index = int32();
        if (!index || *index < 0 || *index >= avro_schema_enum_number_of_symbols(schema))
          return avroError(5, "an enum symbol is out of range");
        return {};
      }
      case AVRO_UNION: {
        auto branch = varint(10);
        if (!branch || *branch < 0 || static_cast<std::uint64_t>(*branch) >= avro_schema_union_size(schema))
          return avroError(6, "a union branch is out of range");
        return walk(avro_schema_union_branch(schema, static_cast<int>(*branch)), depth + 1);
      }
      case AVRO_RECORD: {
        size_t fields = avro_schema_record_size(schema);
        for (size_t i = 0; i < fields; ++i) {
          auto status = walk(avro_schema_record_field_get_by_index(schema, static_cast<int>(i)), depth + 1);
          if (!status) return status;
        }
        return {};
      }
      case AVRO_ARRAY:
        return blocks(avro_schema_array_items(schema), false, depth);
      case AVRO_MAP:
        return blocks(avro_schema_map_values(schema), true, depth);
      case AVRO_LINK:
        return walk(avro_schema_link_target(schema), depth + 1);
    }
    return avroError(7, "unknown schema type");
  }

 private:
  std::uint64_t left() const { return bytes_.size() - at_; }

  foundation::Status skip(std::uint64_t count) {
    if (count > left()) return avroError(8, "a length runs past the end");
    at_ += count;
    return {};
  }

  // A zig-zag varint of at most maxBytes bytes.
  foundation::Result<std::int64_t> varint(int maxBytes) {
    std::uint64_t raw = 0;
    for (int i = 0; i < maxBytes; ++i) {
      if (left() < 1) break;
      std::uint8_t byte = bytes_[at_++];
      raw |= std::uint64_t{byte & 0x7Fu} << (7 * i);
      if ((byte & 0x80) == 0) return static_cast<std::int64_t>((raw >> 1) ^ (~(raw & 1) + 1));
    }
    return avroError(3, "a number does not decode");
  }

  // An int: a varint whose value fits 32 bits, as Avro C's reader demands.
  foundation::Result<std::int64_t> int32() {
    auto value = varint(5);
    if (value && (*value < std::numeric_limits<std::int32_t>::min() ||
                  *value > std::numeric_limits<std::int32_t>::max()))
      return avroError(3, "an int is out of range");
    return value;
  }

  foundation::Status blocks(avro_schema_t items, bool keyed, int depth) {
    for (;;) {
      auto count = varint(10);
      if (!count) return count.error();
      if (*count == 0) return {};
      if (*count == std::numeric_limits<std::int64_t>::min()) return avroError(9, "a block count overflows");
      if (*count < 0) {
        auto size = varint(10);
        if (!size || *size < 0) return avroError(9, "a block size does not decode");
        count = -*count;
      }
      // Each item of the exchange's schemas takes a byte at least; a count beyond the bytes left is a lie.
      if (static_cast<std::uint64_t>(*count) > left()) return avroError(9, "a block count runs past the end");
      for (std::int64_t i = 0; i < *count; ++i) {
        if (keyed) {
          auto length = varint(10);
          if (!length || *length < 0 || !skip(static_cast<std::uint64_t>(*length)))
            return avroError(4, "a map key does not decode");
        }
        auto status = walk(items, depth + 1);
        if (!status) return status;
      }
    }
  }

  std::span<const std::uint8_t> bytes_;
  std::uint64_t at_ = 0;
};

struct WriterRelease {
  void operator()(avro_writer_t writer) const { avro_writer_free(writer); }
};
struct ReaderRelease {
  void operator()(avro_reader_t reader) const { avro_reader_free(reader); }
};

}  // namespace

foundation::Result<Schema> parseSchema(std::string_view json) {
  avro_schema_t schema = nullptr;
  if (avro_schema_from_json_length(json.data(), json.size(), &schema) != 0 || schema == nullptr)
    return avroError(10, lastError());
  return Schema(schema);
}

std::string_view schemaJson(SchemaName name) {
  return name == SchemaName::kConfigRequest ? kConfigRequestSchemaJson : kConfigResponseSchemaJson;
}

avro_schema_t fieldSchema(avro_schema_t record, const char* field) {
  if (record == nullptr || !is_avro_record(record)) return nullptr;
  return avro_schema_record_field_get(record, field);
}

avro_schema_t branchSchema(avro_schema_t unionSchema, int branch) {
  if (unionSchema == nullptr || !is_avro_union(unionSchema) || branch < 0 ||
      static_cast<size_t>(branch) >= avro_schema_union_size(unionSchema))
    return nullptr;
  return avro_schema_union_branch(unionSchema, branch);
}

avro_schema_t itemSchema(avro_schema_t array) {
  if (array == nullptr || !is_avro_array(array)) return nullptr;
  return avro_schema_array_items(array);
}

std::string lastError() {
  const char* text = avro_strerror();
  return text ? text : "";
}

foundation::Status checkBinary(avro_schema_t schema, std::span<const std::uint8_t> bytes) {
  if (schema == nullptr) return avroError(11, "no schema");
  return Walker(bytes).walk(schema, 0);
}

foundation::Result<std::string> toJson(avro_datum_t datum) {
  // Through the value interface: avro_datum_to_json keeps a reference to the datum in this Avro C,
  // so the whole record would leak at every request.
  avro_value_t value;
  if (avro_datum_as_value(&value, datum) != 0) return avroError(14, lastError());
  char* json = nullptr;
  int failed = avro_value_to_json(&value, 1, &json);
  avro_value_decref(&value);
  if (failed != 0 || json == nullptr) return avroError(14, lastError());
  std::string text(json);
  std::free(json);
  return text;
}

foundation::Result<std::vector<std::uint8_t>> writeBinary(avro_schema_t schema, avro_datum_t datum) {
  // Measured first, so the one buffer is exactly as large as the value.
  std::unique_ptr<avro_writer_t_, WriterRelease> sizer(avro_writer_memory(nullptr, 0));
  std::int64_t size = sizer ? avro_size_data(sizer.get(), schema, datum) : -1;
  if (size < 0) return avroError(12, lastError());
  std::vector<std::uint8_t> buffer(static_cast<size_t>(size));
  std::unique_ptr<avro_writer_t_, WriterRelease> writer(
      avro_writer_memory(reinterpret_cast<const char*>(buffer.data()), size));
  if (!writer || avro_write_data(writer.get(), schema, datum) != 0) return avroError(12, lastError());
  buffer.resize(static_cast<size_t>(avro_writer_tell(writer.get())));
  return buffer;
}

foundation::Result<Datum> readBinary(avro_schema_t schema, std::span<const std::uint8_t> bytes) {
  auto fits = checkBinary(schema, bytes);
  if (!fits) return fits.error();
  std::unique_ptr<avro_reader_t_, ReaderRelease> reader(avro_reader_memory(
      reinterpret_cast<const char*>(bytes.data()), static_cast<std::int64_t>(bytes.size())));
  avro_datum_t datum = nullptr;
  if (!reader || avro_read_data(reader.get(), schema, schema, &datum) != 0 || datum == nullptr) {
    if (datum) avro_datum_decref(datum);
    return avroError(13, lastError());
  }
  return Datum(datum);
}

}  // namespace analytics::relay_avro
