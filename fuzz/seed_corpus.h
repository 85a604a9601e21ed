#pragma once
// Seeds for a fuzz target whose corpus folder starts empty: the target's own writers make them on
// the first run, so that no input file is kept in the source tree.

#include <filesystem>
#include <functional>
#include <string_view>
#include <system_error>

namespace fuzz_support {

// Calls `write` with the corpus folder (the first argument that names a folder) when it is empty.
inline void seedEmptyCorpus(int argc, char** argv,
                            const std::function<void(const std::filesystem::path&)>& write) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    std::error_code ec;
    if (arg.empty() || arg.front() == '-' || !std::filesystem::is_directory(arg, ec)) continue;
    if (std::filesystem::is_empty(arg, ec)) write(std::filesystem::path(arg));
    return;
  }
}

}  // namespace fuzz_support
