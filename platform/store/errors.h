#pragma once
// Errors of the object store: the platform's domain and codes, so logged errors read the same.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace store {

inline constexpr std::string_view kErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::string_view kSQLiteErrorDomain = "NSSQLiteErrorDomain";

enum ErrorCode : std::int64_t {
  kManagedObjectValidationError = 1550,
  kValidationRelationshipDeniedDeleteError = 1600,
  kManagedObjectReferentialIntegrityError = 133000,
  kPersistentStoreIncompatibleSchemaError = 134020,
  kPersistentStoreSaveError = 134030,
  kCoreDataError = 134060,
  kPersistentStoreOperationError = 134070,
  kPersistentStoreOpenError = 134080,
  kMigrationError = 134110,
  kSQLiteError = 134180,
};

// An error of the store's domain with a description.
foundation::Error makeError(std::int64_t code, std::string description);

}  // namespace store
