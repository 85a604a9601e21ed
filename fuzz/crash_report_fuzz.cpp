// Fuzz target for the crash report reader: any bytes must be read or refused with an error of the
// reporter's domain, and whatever is read must format. With an empty corpus folder, the seed is a
// report of the calling thread made by the writer itself at start.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crash_reporter/crash_report.h"
#include "crash_reporter/errors.h"
#include "crash_reporter/log_writer.h"
#include "crash_reporter/signal_numbers.h"
#include "crash_reporter/text_formatter.h"
#include "fuzz/seed_corpus.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

struct SeedWrite {
  crash::crash_log_writer* writer;
  crash::crash_async_image_list* images;
  crash::crash_async_file* file;
};

crash::crash_error_t writeSeed(crash::crash_async_thread_state* state, void* context) {
  auto* seed = static_cast<SeedWrite*>(context);
  crash::crash_log_signal_info signal{};
  signal.bsd = {crash::CRASH_SIGSEGV, crash::CRASH_SEGV_MAPERR, 16};
  const std::uint64_t codes[] = {1, 16};
  signal.mach = {true, 1, codes, 2};
  return crash::crash_log_writer_write(seed->writer, crash::crash_async_mach_thread_self(), seed->images,
                                       seed->file, &signal, state);
}

void writeSeeds(const std::filesystem::path& corpus) {
  crash::crash_log_writer writer;
  if (crash::crash_log_writer_init(&writer, "com.example.diary", "1.0",
                                   crash::CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, true) != crash::CRASH_ESUCCESS)
    return;
  const std::uint64_t stack[] = {reinterpret_cast<std::uintptr_t>(&writeSeeds)};
  crash::crash_log_writer_set_exception(&writer, "std::runtime_error", "seed", stack, 1);
  static crash::crash_async_image_list images;
  crash::crash_async_image_list_init(&images, crash::crash_async_task_self());
  crash::crash_async_image_list_sync(&images);
  crash::crash_async_file file;
  crash::crash_async_file_init(&file,
                               open((corpus / "seed.crashlg").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600),
                               crash::CRASH_LOG_SIZE_LIMIT);
  SeedWrite seed{&writer, &images, &file};
  crash::crash_async_thread_state_current(writeSeed, &seed);
  crash::crash_async_file_close(&file);
  crash::crash_log_writer_free(&writer);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_support::seedEmptyCorpus(*argc, *argv, writeSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const auto report =
      crash::TallyCrashReport::initWithDataError(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!report.ok()) {
    require(report.error().domain == crash::kCrashReporterErrorDomain);
    require(report.error().code == crash::kCrashReporterErrorCrashReportInvalid);
    require(!report.error().localizedDescription().empty());
    return 0;
  }
  const std::string text = crash::TallyCrashReportTextFormatter::stringValueForCrashReportWithTextFormat(
      *report, crash::TallyCrashReportTextFormatiOS);
  require(text.find("Report Version:  104\n") != std::string::npos);
  return 0;
}
