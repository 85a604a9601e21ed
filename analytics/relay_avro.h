#pragma once
// What of Avro C the relay configuration exchange shares: owning handles of schemas and values,
// the two schemas of the exchange (compiled in from analytics/schemas/*.avsc), and a check of binary
// bytes against a schema that runs before Avro C reads them.
//
// Why the check: Avro C's binary reader allocates the length a string or bytes field announces
// before it looks at how many bytes are left, and believes array block counts, so one hostile
// length in a reply could ask for gigabytes. checkBinary walks the bytes by the schema first and
// refuses any length or count that the remaining bytes cannot hold, any union branch or enum symbol
// out of range, and any variable-length number longer than its type allows. Bytes it accepts can be
// read by avro_read_data with the same schema, and every allocation that reading makes is bounded by
// the size of the input.
//
// Internal to the analytics library (and its fuzz target): the rest of the SDK never sees Avro types.

#include <avro.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace analytics::relay_avro {

struct SchemaRelease {
  void operator()(avro_obj_t* schema) const { avro_schema_decref(schema); }
};
struct DatumRelease {
  void operator()(avro_obj_t* datum) const { avro_datum_decref(datum); }
};
// An owned schema or value; a null handle owns nothing.
using Schema = std::unique_ptr<avro_obj_t, SchemaRelease>;
using Datum = std::unique_ptr<avro_obj_t, DatumRelease>;

enum class SchemaName { kConfigRequest, kConfigResponse };

// Parses the schema's JSON text; the error carries Avro's message.
foundation::Result<Schema> parseSchema(std::string_view json);
// The compiled-in text of one of the exchange's schemas.
std::string_view schemaJson(SchemaName name);

// The schema of a record's field, of a union's branch, of an array's items (borrowed from the
// parent); nullptr when there is no such thing.
avro_schema_t fieldSchema(avro_schema_t record, const char* field);
avro_schema_t branchSchema(avro_schema_t unionSchema, int branch);
avro_schema_t itemSchema(avro_schema_t array);

// Avro C's text of its last error.
std::string lastError();

// Whether `bytes` start with one binary value of `schema` that Avro C may read without an
// allocation the bytes do not justify (see above). Bytes after the value are not looked at.
foundation::Status checkBinary(avro_schema_t schema, std::span<const std::uint8_t> bytes);

// The value's one-line JSON text; fails (with Avro's message) for text that is not UTF-8.
foundation::Result<std::string> toJson(avro_datum_t datum);

// Writes the value in binary form; the error carries Avro's message.
foundation::Result<std::vector<std::uint8_t>> writeBinary(avro_schema_t schema, avro_datum_t datum);
// Reads one value of the schema (writer's and reader's alike) after checkBinary accepted the bytes.
foundation::Result<Datum> readBinary(avro_schema_t schema, std::span<const std::uint8_t> bytes);

}  // namespace analytics::relay_avro
