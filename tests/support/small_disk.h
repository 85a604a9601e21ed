#pragma once
// A small file system for tests of a full disk.

#include <filesystem>
#include <functional>
#include <optional>

namespace testing_support {

// Runs `body` in a child process that sees a fresh file system of `bytes` bytes at `folder`, and
// returns its exit code (-1 when the child did not exit normally); nothing when the system lets no
// process mount one. The child shares nothing with the parent but what fork copies: make no
// network request in the parent before it, as its worker threads do not come along.
std::optional<int> onSmallDisk(const std::filesystem::path& folder, size_t bytes,
                               const std::function<int()>& body);

}  // namespace testing_support
