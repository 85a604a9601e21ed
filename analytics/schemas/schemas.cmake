# The Avro schemas of the relay configuration exchange are kept as schema files; each is compiled in
# as a string constant of generated/analytics/relay_schema_texts.h, so the file stays the one source
# and the SDK needs no resource folder for them. Editing a schema file reconfigures.
file(GLOB relay_schema_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.avsc)
set(relay_schema_text "#pragma once\n// Made from analytics/schemas/*.avsc at configure time; edit those.\n#include <string_view>\nnamespace analytics {\n")
foreach(schema_file ${relay_schema_files})
  file(READ ${schema_file} schema_json)
  get_filename_component(schema_name ${schema_file} NAME_WE)
  string(APPEND relay_schema_text "inline constexpr std::string_view k${schema_name}SchemaJson = R\"avsc(${schema_json})avsc\";\n")
endforeach()
string(APPEND relay_schema_text "}  // namespace analytics\n")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/analytics/relay_schema_texts.h CONTENT "${relay_schema_text}" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${relay_schema_files})
