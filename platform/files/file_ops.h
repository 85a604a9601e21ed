#pragma once
// File operations the system needs, each reporting failure as an Error in the domain
// "NSCocoaErrorDomain" (with the path in the user info) instead of throwing.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace files {

namespace fs = std::filesystem;

inline constexpr std::string_view kErrorDomain = "NSCocoaErrorDomain";

// Creates the folder and any missing parents; succeeds when it exists already.
foundation::Status createDirectory(const fs::path& path);
bool exists(const fs::path& path);
bool isDirectory(const fs::path& path);
// Every entry under the folder, relative to it, sorted by path; folders themselves included
// when withDirectories is set. Symbolic links are listed, never followed.
foundation::Result<std::vector<fs::path>> listRecursive(const fs::path& folder, bool withDirectories = false);
// Names of the folder's direct entries, sorted.
foundation::Result<std::vector<std::string>> listDirectory(const fs::path& folder);
// Moves a file or folder; fails when the destination exists.
foundation::Status move(const fs::path& from, const fs::path& to);
foundation::Status copyFile(const fs::path& from, const fs::path& to);
// Removes a file or a folder with its contents; succeeds when nothing is there.
foundation::Status remove(const fs::path& path);

foundation::Result<foundation::Date> modificationDate(const fs::path& path);
foundation::Status setModificationDate(const fs::path& path, foundation::Date date);

foundation::Result<foundation::Bytes> readFile(const fs::path& path);
// Writes to a temporary file beside the target, flushes it, then renames it over the target:
// readers see the old or the new contents, never a mix.
foundation::Status writeAtomic(const fs::path& path, const void* data, size_t size);
foundation::Status writeAtomic(const fs::path& path, const foundation::Bytes& data);
foundation::Status writeAtomic(const fs::path& path, std::string_view text);

enum class TextEncoding { Utf8, Utf16 };
// UTF-16 is written little-endian after the byte-order mark FF FE.
foundation::Status writeText(const fs::path& path, std::string_view utf8, TextEncoding encoding);
// Reads UTF-8 (with or without its byte-order mark) or UTF-16 in either byte order by its
// byte-order mark; UTF-16 without a mark is refused, as is text that does not decode.
foundation::Result<std::string> readText(const fs::path& path);

}  // namespace files
