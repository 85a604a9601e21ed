// Fuzz target for the archive reader: any bytes, opened as an archive, must be listed, verified,
// read and extracted or refused cleanly, and extraction must never write outside its folder nor
// leave anything but folders and regular files there.
//
// With an empty corpus folder, seeds are made at start by the archive writer itself (no archive
// is kept in the source tree).

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "app/zip_packer.h"
#include "fuzz/seed_corpus.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"

namespace {

namespace fs = std::filesystem;

void require(bool condition) {
  if (!condition) std::abort();
}

// Sound archives to start from: deflated and level-0 entries, a folder entry, a name written
// with "\", an empty entry.
void writeSeeds(const fs::path& corpus) {
  const fs::path source = fuzz_support::scratchFolder("zip_fuzz") / "seed-source.txt";
  (void)files::writeAtomic(source, std::string_view("SQLite format 3 and a little text, text, text"));
  for (int seed = 0; seed < 2; ++seed) {
    app::ZipPacker zip;
    const fs::path out = corpus / ("seed" + std::to_string(seed) + ".zip");
    if (!zip.CreateZipFile2(out)) return;
    (void)zip.addDataToZip({0xFF, 0xFE, '0', 0}, "backUp.vers", std::nullopt);
    (void)zip.addFileToZipNewname(source, seed == 0 ? "dataBase.sqlite" : "Photos\\a.jpg");
    (void)zip.addDataToZip({}, seed == 0 ? "firstLaunch.txt" : "Empty/", foundation::Date{470000000});
    (void)zip.CloseZipFile2();
  }
}

// Nothing but folders and regular files below the folder.
bool onlyFoldersAndFiles(const fs::path& folder) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(folder, ec))) return true;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::file_type type = it->symlink_status(ec).type();
    if (type != fs::file_type::directory && type != fs::file_type::regular) return false;
  }
  return !ec;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  foundation::setLogSink([](std::string_view) {});
  fuzz_support::seedEmptyCorpus(*argc, *argv, writeSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const fs::path& scratch = fuzz_support::scratchFolder("zip_fuzz");
  const fs::path archive = scratch / "input.zip";
  const fs::path out = scratch / "out";
  {
    std::ofstream out(archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    require(static_cast<bool>(out.flush()));
  }

  app::ZipPacker zip;
  if (!zip.UnzipOpenFile(archive)) return 0;
  const auto names = zip.entryNames();
  const auto verified = zip.verifyEntries();
  // A verified archive lists its entries.
  if (verified) require(names.ok());
  (void)zip.readEntry("backUp.vers");

  const auto extracted = zip.UnzipFileToOverWrite(out, true);
  // Nothing is written before every name has been checked.
  if (!names) require(!files::exists(out) || fs::is_empty(out));
  if (extracted) require(names.ok());
  require(onlyFoldersAndFiles(out));
  require(static_cast<bool>(zip.UnzipCloseFile()));

  // Only the input and the extraction folder are in the scratch folder.
  for (const auto& entry : fs::directory_iterator(scratch)) {
    const std::string name = entry.path().filename().string();
    require(name == "input.zip" || name == "out" || name == "seed-source.txt");
  }
  require(static_cast<bool>(files::remove(out)));
  return 0;
}
