// The report reader against files that are cut, damaged, too new or lack a piece the format
// requires, built with protobuf-c's own encoder so the reader is checked against more than our
// writer; and the writer's size cap and frame cap on a report of the calling thread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "crash_reporter/crash_report.h"
#include "crash_reporter/crash_report.pb-c.h"
#include "crash_reporter/errors.h"
#include "crash_reporter/log_writer.h"
#include "crash_reporter/text_formatter.h"
#include "platform/system/threads.h"
#include "support/temp_dir.h"

namespace crash {
namespace {

// A complete report with one of every section, whose parts a case may change before packing.
struct Message {
  Crashlg__CrashReport report = CRASHLG__CRASH_REPORT__INIT;
  Crashlg__CrashReport__SystemInfo system = CRASHLG__CRASH_REPORT__SYSTEM_INFO__INIT;
  Crashlg__CrashReport__ApplicationInfo app = CRASHLG__CRASH_REPORT__APPLICATION_INFO__INIT;
  Crashlg__CrashReport__Processor cpu = CRASHLG__CRASH_REPORT__PROCESSOR__INIT;
  Crashlg__CrashReport__MachineInfo machine = CRASHLG__CRASH_REPORT__MACHINE_INFO__INIT;
  Crashlg__CrashReport__ProcessInfo process = CRASHLG__CRASH_REPORT__PROCESS_INFO__INIT;
  Crashlg__CrashReport__Symbol symbol = CRASHLG__CRASH_REPORT__SYMBOL__INIT;
  Crashlg__CrashReport__Thread__StackFrame frame = CRASHLG__CRASH_REPORT__THREAD__STACK_FRAME__INIT;
  Crashlg__CrashReport__Thread__StackFrame* frames[1] = {&frame};
  Crashlg__CrashReport__Thread__RegisterValue reg = CRASHLG__CRASH_REPORT__THREAD__REGISTER_VALUE__INIT;
  Crashlg__CrashReport__Thread__RegisterValue* regs[5] = {&reg, &reg, &reg, &reg, &reg};
  Crashlg__CrashReport__Thread thread = CRASHLG__CRASH_REPORT__THREAD__INIT;
  Crashlg__CrashReport__Thread* threads[1] = {&thread};
  Crashlg__CrashReport__BinaryImage image = CRASHLG__CRASH_REPORT__BINARY_IMAGE__INIT;
  Crashlg__CrashReport__BinaryImage* images[1] = {&image};
  Crashlg__CrashReport__Exception exception = CRASHLG__CRASH_REPORT__EXCEPTION__INIT;
  Crashlg__CrashReport__Signal signal = CRASHLG__CRASH_REPORT__SIGNAL__INIT;
  Crashlg__CrashReport__Signal__MachException mach = CRASHLG__CRASH_REPORT__SIGNAL__MACH_EXCEPTION__INIT;
  std::vector<std::uint64_t> codes{1, 2};
  Crashlg__CrashReport__ReportInfo info = CRASHLG__CRASH_REPORT__REPORT_INFO__INIT;
  std::uint8_t uuid[16] = {0xe6, 0x21, 0xe1, 0xf8, 0xc3, 0x6c, 0x49, 0x5a,
                           0x93, 0xfc, 0x0c, 0x24, 0x7a, 0x3e, 0x6e, 0x5f};
  std::uint8_t imageUuid[3] = {0x01, 0xab, 0xff};

  Message() {
    system.os_version = const_cast<char*>("9.3");
    system.has_architecture = system.has_timestamp = system.has_operating_system = true;
    system.architecture = CRASHLG__ARCHITECTURE__ARMV7;
    system.operating_system = CRASHLG__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__IPHONE_OS;
    system.timestamp = 1'500'000'000;
    app.identifier = const_cast<char*>("com.example.diary");
    app.version = const_cast<char*>("1.2");
    cpu.has_type = cpu.has_subtype = cpu.has_encoding = true;
    cpu.encoding = CRASHLG__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
    cpu.type = 12;
    cpu.subtype = 9;
    machine.processor = &cpu;
    machine.has_processor_count = machine.has_logical_processor_count = true;
    machine.processor_count = machine.logical_processor_count = 2;
    process.has_process_id = process.has_parent_process_id = process.has_native = true;
    process.process_id = 42;
    process.process_path = const_cast<char*>("/app/Diary");
    symbol.name = const_cast<char*>("_ZN5diary4saveEv");
    symbol.has_start_address = true;
    symbol.start_address = 0x1000;
    frame.has_pc = true;
    frame.pc = 0x1010;
    frame.symbol = &symbol;
    reg.name = const_cast<char*>("r12");
    reg.has_value = true;
    reg.value = 7;
    thread.has_thread_number = thread.has_crashed = true;
    thread.crashed = true;
    thread.n_frames = 1;
    thread.frames = frames;
    thread.n_registers = 5;
    thread.registers = regs;
    image.has_base_address = image.has_size = true;
    image.base_address = 0x1000;
    image.size = 0;
    image.name = const_cast<char*>("/app/Diary");
    image.has_uuid = true;
    image.uuid = {sizeof imageUuid, imageUuid};
    image.code_type = &cpu;
    exception.name = const_cast<char*>("NSRangeException");
    exception.reason = const_cast<char*>("index 3 beyond bounds");
    signal.name = const_cast<char*>("SIGABRT");
    signal.code = const_cast<char*>("#0");
    signal.has_address = true;
    mach.has_type = true;
    mach.type = 1;
    mach.n_codes = codes.size();
    mach.codes = codes.data();
    signal.mach_exception = &mach;
    info.has_user_requested = info.has_uuid = true;
    info.uuid = {sizeof uuid, uuid};
    report.system_info = &system;
    report.application_info = &app;
    report.machine_info = &machine;
    report.process_info = &process;
    report.n_threads = 1;
    report.threads = threads;
    report.n_binary_images = 1;
    report.binary_images = images;
    report.exception = &exception;
    report.signal = &signal;
    report.report_info = &info;
  }

  std::string file() const {
    std::string bytes("crashlg\x01", 8);
    std::string body(crashlg__crash_report__get_packed_size(&report), '\0');
    crashlg__crash_report__pack(&report, reinterpret_cast<std::uint8_t*>(body.data()));
    return bytes + body;
  }
};

TEST(CrashReportParser, ACompleteReportReadsAndFormatsInTheClassicLayout) {
  Message message;
  auto report = TallyCrashReport::initWithDataError(message.file());
  ASSERT_TRUE(report.ok()) << report.error().description();
  EXPECT_EQ(report->images()[0].imageUUID, "01abff");
  ASSERT_TRUE(report->machExceptionInfo().has_value());
  EXPECT_EQ(report->machExceptionInfo()->codes, (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(report->imageForAddress(0x1000), nullptr);  // an image of size 0 holds no address

  const std::string text = TallyCrashReportTextFormatter::stringValueForCrashReportWithTextFormat(
      *report, TallyCrashReportTextFormatiOS);
  for (const char* line : {
           "Incident Identifier: E621E1F8-C36C-495A-93FC-0C247A3E6E5F\n",
           "Hardware Model:      ???\n",
           "Code Type:       ARM\n",
           "OS Version:      iPhone OS 9.3 (\?\?\?)\n",
           "Exception Codes: #0 at 0x0\nCrashed Thread:  0\n",
           // The C++ name is demangled whole, its leading underscore not stripped first.
           "0   ???                                 0x00001010 diary::save() + 16\n",
           // 32-bit ARM shows r12 as ip; four registers a line.
           "Thread 0 crashed with ARM Thread State:\n    ip: 0x00000007     ip: 0x00000007     ip: "
           "0x00000007 "
           "    ip: 0x00000007 \n    ip: 0x00000007 \n\n",
           "    0x1000 -     0x1000 +Diary armv7  <01abff> /app/Diary\n",
       })
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

struct Damage {
  const char* expected;
  std::function<void(Message&)> change;
  std::function<std::string(std::string)> bytes = [](std::string file) { return file; };
};

TEST(CrashReportParser, EachMissingOrBadPieceIsNamed) {
  const Damage cases[] = {
      {"Could not decode truncated crash log", {}, [](std::string) { return std::string("crashlg\x01", 8); }},
      {"Could not decode invalid crash log header",
       {},
       [](std::string f) { return f.replace(0, 7, "crashLG"); }},
      {"Could not decode unsupported crash report version: 2",
       {},
       [](std::string f) { return f.replace(7, 1, "\x02"); }},
      {"An unknown error occured decoding the crash report",
       {},
       [](std::string f) { return f.substr(0, f.size() - 3); }},
      {"An unknown error occured decoding the crash report",
       {},
       [](std::string f) { return f + "\xff\xff\xff"; }},
      {"Report UUID value is not a standard 16 bytes", [](Message& m) { m.info.uuid.len = 15; }},
      {"Crash report is missing System Information section",
       [](Message& m) { m.report.system_info = nullptr; }},
      {"Crash report is missing System Information OS version field",
       [](Message& m) { m.system.os_version = nullptr; }},
      {"Crash report is missing processor info section", [](Message& m) { m.machine.processor = nullptr; }},
      {"Crash report is missing Machine Information section",
       [](Message& m) { m.machine.has_processor_count = false; }},
      {"Crash report is missing Application Information section",
       [](Message& m) { m.report.application_info = nullptr; }},
      {"Crash report is missing Application Information app identifier field",
       [](Message& m) { m.app.identifier = nullptr; }},
      {"Crash report is missing Application Information app version field",
       [](Message& m) { m.app.version = nullptr; }},
      {"Crash report is missing Process Information section",
       [](Message& m) { m.process.has_process_id = false; }},
      {"Crash report is missing symbol information", [](Message& m) { m.symbol.name = nullptr; }},
      {"Crash report is missing stack frame information", [](Message& m) { m.frame.has_pc = false; }},
      {"Crash report is missing thread state information", [](Message& m) { m.thread.has_crashed = false; }},
      {"Missing register name in register value", [](Message& m) { m.reg.name = nullptr; }},
      {"Crash report is missing binary image information", [](Message& m) { m.report.n_binary_images = 0; }},
      {"Missing image name in image record", [](Message& m) { m.image.name = nullptr; }},
      {"Crash report is missing exception name field", [](Message& m) { m.exception.name = nullptr; }},
      {"Crash report is missing exception reason field", [](Message& m) { m.exception.reason = nullptr; }},
      {"Crash report is missing Signal Information section", [](Message& m) { m.report.signal = nullptr; }},
      {"Crash report is missing signal name field", [](Message& m) { m.signal.name = nullptr; }},
      {"Crash report is missing signal code field", [](Message& m) { m.signal.code = nullptr; }},
      {"Crash report includes too many Mach Exception codes",
       [](Message& m) {
         m.codes.assign(256, 0);
         m.mach.n_codes = 256;
         m.mach.codes = m.codes.data();
       }},
      {"Crash report is missing Mach Exception Information section",
       [](Message& m) { m.mach.has_type = false; }},
  };
  for (const Damage& c : cases) {
    Message message;
    if (c.change) c.change(message);
    auto report = TallyCrashReport::initWithDataError(c.bytes(message.file()));
    ASSERT_FALSE(report.ok()) << c.expected;
    EXPECT_EQ(report.error().domain, kCrashReporterErrorDomain);
    EXPECT_EQ(report.error().code, kCrashReporterErrorCrashReportInvalid);
    EXPECT_EQ(report.error().localizedDescription(), c.expected);
  }
}

TEST(CrashReportParser, AReportWithoutThreadsOrACutOneWithoutImagesStillReads) {
  Message message;
  message.report.n_threads = 0;
  EXPECT_TRUE(TallyCrashReport::initWithDataError(message.file()).ok());
  message.report.n_binary_images = 0;
  message.report.has_truncated = message.report.truncated = true;
  auto report = TallyCrashReport::initWithDataError(message.file());
  ASSERT_TRUE(report.ok());
  EXPECT_TRUE(report->truncated());
}

// ---- The writer on the calling thread.

struct LiveWrite {
  crash_async_image_list* images;
  crash_log_writer* writer;
  crash_async_file* file;
  crash_error_t result;
};

crash_error_t writeWithState(crash_async_thread_state* state, void* context) {
  auto* live = static_cast<LiveWrite*>(context);
  crash_log_signal_info signal{};
  signal.bsd = {5, 2, 0};
  live->result = crash_log_writer_write(live->writer, crash_async_mach_thread_self(), live->images,
                                        live->file, &signal, state);
  return CRASH_ESUCCESS;
}

// Writes a report of the calling thread with a file size limit and an exception of `frames` addresses.
std::pair<crash_error_t, std::string> liveReport(std::size_t limit, std::size_t frames) {
  testing_support::TempDir dir;
  const auto path = dir / "report";
  crash_log_writer writer;
  EXPECT_EQ(crash_log_writer_init(&writer, "id", "1", 0, true), CRASH_ESUCCESS);
  const std::vector<std::uint64_t> stack(frames, 0x4000);
  crash_log_writer_set_exception(&writer, "E", "R", stack.data(), stack.size());
  crash_async_file file;
  crash_async_file_init(&file, open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600), limit);
  static crash_async_image_list images;
  static const bool listed = (crash_async_image_list_init(&images, crash_async_task_self()), true);
  (void)listed;
  crash_async_image_list_sync(&images);
  LiveWrite live{&images, &writer, &file, CRASH_EUNKNOWN};
  crash_async_thread_state_current(writeWithState, &live);
  EXPECT_TRUE(crash_async_file_close(&file));
  crash_log_writer_free(&writer);
  std::string bytes;
  if (FILE* in = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.append(buffer, n);
    std::fclose(in);
  }
  return {live.result, bytes};
}

TEST(CrashLogWriter, AnExceptionStackIsCutAt512FramesAndASectionPastTheCapIsLeftOutWhole) {
  ASSERT_EQ(sys::prepareThreadParking(), 0);
  const auto [whole, wholeBytes] = liveReport(CRASH_LOG_SIZE_LIMIT, 600);
  EXPECT_EQ(whole, CRASH_ESUCCESS);
  auto report = TallyCrashReport::initWithDataError(wholeBytes);
  ASSERT_TRUE(report.ok()) << report.error().description();
  ASSERT_TRUE(report->hasExceptionInfo());
  EXPECT_EQ(report->exceptionInfo()->stackFrames.size(), 512u);
  EXPECT_FALSE(report->truncated());

  // A cap below the whole report: the exception (the last big section) is left out, the report still
  // reads, says it was cut, and the writer does not call it a success.
  const auto [cut, cutBytes] = liveReport(wholeBytes.size() - 100, 600);
  EXPECT_EQ(cut, CRASH_OUTPUT_ERR);
  EXPECT_LE(cutBytes.size(), wholeBytes.size() - 100);
  auto cutReport = TallyCrashReport::initWithDataError(cutBytes);
  ASSERT_TRUE(cutReport.ok()) << cutReport.error().description();
  EXPECT_TRUE(cutReport->truncated());
  EXPECT_FALSE(cutReport->hasExceptionInfo());
  EXPECT_EQ(cutReport->signalInfo().name, "SIGTRAP");
}

TEST(CrashLogWriter, FieldsEncodeAsProtobufDoes) {
  struct Case {
    crash_writer_field_type type;
    std::uint64_t value;
    std::string bytes;
  } cases[] = {
      {CRASH_FIELD_INT32, static_cast<std::uint32_t>(-1),
       std::string("\x08\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01", 11)},
      {CRASH_FIELD_SINT32, static_cast<std::uint32_t>(-2), std::string("\x08\x03", 2)},
      {CRASH_FIELD_SINT64, static_cast<std::uint64_t>(-1), std::string("\x08\x01", 2)},
      {CRASH_FIELD_UINT64, 300, std::string("\x08\xac\x02", 3)},
      {CRASH_FIELD_FIXED32, 1, std::string("\x0d\x01\x00\x00\x00", 5)},
      {CRASH_FIELD_FIXED64, 1, std::string("\x09\x01\x00\x00\x00\x00\x00\x00\x00", 9)},
  };
  testing_support::TempDir dir;
  for (const Case& c : cases) {
    const auto path = dir / "field";
    crash_async_file file;
    crash_async_file_init(&file, open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600), 0);
    EXPECT_EQ(crash_writer_pack(nullptr, 1, c.type, &c.value), c.bytes.size());
    EXPECT_EQ(crash_writer_pack(&file, 1, c.type, &c.value), c.bytes.size());
    ASSERT_TRUE(crash_async_file_close(&file));
    char buffer[32];
    const int fd = open(path.c_str(), O_RDONLY);
    const ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), c.bytes) << c.type;
  }
}

}  // namespace
}  // namespace crash
