#pragma once
// Seeds for a fuzz target whose corpus folder starts empty: the target's own writers make them on
// the first run, so that no input file is kept in the source tree. And a scratch folder for the
// targets that read their input from files.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

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

// Writes the seeds into the corpus folder as "seed0", "seed1", ... in the order given.
inline void writeSeedFiles(const std::filesystem::path& corpus,
                           std::initializer_list<std::vector<std::uint8_t>> seeds) {
  int n = 0;
  for (const auto& seed : seeds) {
    std::ofstream(corpus / ("seed" + std::to_string(n++)), std::ios::binary)
        .write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
  }
}

// A folder of this process's own, "<target>-XXXXXX", made on the first call and removed at exit;
// later calls give the same folder whatever they name. Memory-backed where there is such a folder:
// the targets write, and some sync, files there for every input.
inline const std::filesystem::path& scratchFolder(std::string_view target) {
  static const std::filesystem::path folder = [&] {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / (std::string(target) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return std::filesystem::path(pattern);
  }();
  // Registered once the path is whole, so that the path outlives its removal at exit.
  static const bool removedAtExit = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }) == 0;
  (void)removedAtExit;
  return folder;
}

}  // namespace fuzz_support
