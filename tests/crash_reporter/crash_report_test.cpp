// The report reader against files that are cut, damaged, too new or lack a piece the format
// requires, built with protobuf-c's own encoder so the reader is checked against more than our
// writer; and the writer's size cap and frame cap on a report of the calling thread. Then report files
// from real crashes: each child sets a writer up, crashes on purpose inside the test module's functions
// (whose names the symbol lookup finds), and writes its report from the signal handler; the parent
// reads the file back, parses and formats it.
#include "crash_reporter/crash_report.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "crash_reporter/crash_child.h"
#include "crash_reporter/crash_report.pb-c.h"
#include "crash_reporter/errors.h"
#include "crash_reporter/log_writer.h"
#include "crash_reporter/signal_numbers.h"
#include "crash_reporter/text_formatter.h"
#include "platform/foundation/log.h"
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

TEST(CrashReportParser, ACompleteReportReadsAndFormatsInTheClassicLayoutAndPartialOnesRead) {
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
           // No build: shown as the platform shows a missing object.
           "OS Version:      iPhone OS 9.3 ((null))\n",
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

  // A report without threads, or a cut one without images, still reads.
  message.report.n_threads = 0;
  EXPECT_TRUE(TallyCrashReport::initWithDataError(message.file()).ok());
  message.report.n_binary_images = 0;
  message.report.has_truncated = message.report.truncated = true;
  auto cut = TallyCrashReport::initWithDataError(message.file());
  ASSERT_TRUE(cut.ok());
  EXPECT_TRUE(cut->truncated());
}

TEST(CrashReportFormatter, KeepsNamesWholeAndSaysSoForASystemWhosePrefixRulesItDoesNotKnow) {
  const struct {
    Crashlg__CrashReport__SystemInfo__OperatingSystem operatingSystem;
    const char* frame;  // how the frame's symbol is shown
    bool logged;
  } cases[] = {
      {CRASHLG__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__IPHONE_OS, " diary::save() + 16\n", false},
      {CRASHLG__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X, " diary::save() + 16\n", false},
      {CRASHLG__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__IPHONE_SIMULATOR, " diary::save() + 16\n", false},
      {CRASHLG__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN, " _ZN5diary4saveEv + 16\n", true},
  };
  for (const auto& c : cases) {
    Message message;
    message.system.operating_system = c.operatingSystem;
    const auto report = TallyCrashReport::initWithDataError(message.file());
    ASSERT_TRUE(report.ok()) << report.error().description();
    foundation::ScopedLogCapture log;
    const std::string text = TallyCrashReportTextFormatter::stringValueForCrashReportWithTextFormat(
        *report, TallyCrashReportTextFormatiOS);
    EXPECT_NE(text.find(c.frame), std::string::npos) << c.operatingSystem << "\n" << text;
    EXPECT_EQ(log.contains("Symbol prefix rules are unknown for this OS!"), c.logged) << c.operatingSystem;
  }
}

// The image column is 35 characters as the platform counts them (UTF-16 units), whatever the name's
// script, so every name puts the address in the same column; a longer name pushes it along whole.
TEST(CrashReportFormatter, PadsTheImageNameToThirtyFiveCharactersNotBytes) {
  const struct {
    const char* path;
    const char* name;  // as shown
    int units;         // its UTF-16 units
  } cases[] = {
      {"/app/Diary", "Diary", 5},
      {"/app/B\u00e9b\u00e9", "B\u00e9b\u00e9", 4},                      // 2 bytes a letter
      {"/app/\u5b9d\u5b9d\u65e5\u8bb0", "\u5b9d\u5b9d\u65e5\u8bb0", 4},  // 3 bytes a letter
      {"/app/Baby\U0001F37C", "Baby\U0001F37C", 6},                      // 4 bytes, 2 units
      {"/app/DiaryWithANameLongerThanItsColumnIs", "DiaryWithANameLongerThanItsColumnIs", 35},
      {"/app/DiaryWithANameLongerThanItsColumnIsWide", "DiaryWithANameLongerThanItsColumnIsWide", 39},
  };
  for (const auto& c : cases) {
    Message message;
    message.image.name = const_cast<char*>(c.path);
    message.image.size = 0x100;  // holds the frame's pc 0x1010
    const auto report = TallyCrashReport::initWithDataError(message.file());
    ASSERT_TRUE(report.ok()) << report.error().description();
    const std::string text = TallyCrashReportTextFormatter::stringValueForCrashReportWithTextFormat(
        *report, TallyCrashReportTextFormatiOS);
    const std::string line = std::string("0   ") + c.name +
                             std::string(c.units < 35 ? 35 - c.units : 0, ' ') +
                             " 0x00001010 diary::save() + 16\n";
    EXPECT_NE(text.find(line), std::string::npos) << c.name << "\n" << text;
  }
}

TEST(CrashReportFormatter, WritesTheTextInItsEncodingLossilyAndRefusesUnknownEncodings) {
  using Bytes = std::vector<std::uint8_t>;
  const std::string text = "Caf\u00e9 \u2713";  // "Café ✓"
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const Bytes unicode = {0xff, 0xfe, 'C', 0, 'a', 0, 'f', 0, 0xe9, 0, ' ', 0, 0x13, 0x27};
#else
  const Bytes unicode = {0xfe, 0xff, 0, 'C', 0, 'a', 0, 'f', 0, 0xe9, 0, ' ', 0x27, 0x13};
#endif
  const struct {
    std::uint64_t encoding;
    Bytes bytes;
  } cases[] = {
      {TallyCrashStringEncodingUTF8, Bytes(text.begin(), text.end())},
      {TallyCrashStringEncodingASCII, {'C', 'a', 'f', '?', ' ', '?'}},
      {TallyCrashStringEncodingISOLatin1, {'C', 'a', 'f', 0xe9, ' ', '?'}},
      {TallyCrashStringEncodingUnicode, unicode},
      {TallyCrashStringEncodingUTF16BigEndian, {0, 'C', 0, 'a', 0, 'f', 0, 0xe9, 0, ' ', 0x27, 0x13}},
  };
  for (const auto& c : cases) {
    auto encoded = TallyCrashReportTextFormatter::encode(text, c.encoding);
    ASSERT_TRUE(encoded.ok()) << c.encoding;
    EXPECT_EQ(*encoded, c.bytes) << c.encoding;
  }
  auto refused = TallyCrashReportTextFormatter::encode(text, 99);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().code, 261);

  Message message;
  auto report = TallyCrashReport::initWithDataError(message.file());
  ASSERT_TRUE(report.ok());
  auto formatted = TallyCrashReportTextFormatter(TallyCrashReportTextFormatiOS, TallyCrashStringEncodingUTF16BigEndian)
                       .formatReportError(*report);
  ASSERT_TRUE(formatted.ok());
  ASSERT_GE(formatted->size(), 4u);
  EXPECT_EQ(Bytes(formatted->begin(), formatted->begin() + 4), (Bytes{0, 'I', 0, 'n'}));  // "Incident..."
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

// ---- The writer on the calling thread.

// The images of this process, listed once and brought up to date at every call.
crash_async_image_list& processImages() {
  static crash_async_image_list images;
  static const bool listed = (crash_async_image_list_init(&images, crash_async_task_self()), true);
  (void)listed;
  crash_async_image_list_sync(&images);
  return images;
}

// Writes a report of the calling thread (as SIGTRAP, TRAP_TRACE) with a file size limit and an exception
// of `frames` addresses.
std::pair<crash_error_t, std::string> liveReport(std::size_t limit, std::size_t frames) {
  testing_support::TempDir dir;
  const auto path = dir / "report";
  struct Live {
    crash_log_writer writer;
    crash_async_file file;
    crash_async_image_list* images;
    crash_error_t result = CRASH_EUNKNOWN;
  } live;
  live.images = &processImages();
  EXPECT_EQ(crash_log_writer_init(&live.writer, "id", "1", 0, true), CRASH_ESUCCESS);
  const std::vector<std::uint64_t> stack(frames, 0x4000);
  crash_log_writer_set_exception(&live.writer, "E", "R", stack.data(), stack.size());
  crash_async_file_init(&live.file, open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600), limit);
  crash_async_thread_state_current(
      [](crash_async_thread_state* state, void* context) {
        auto* live = static_cast<Live*>(context);
        crash_log_signal_info signal{};
        signal.bsd = {5, 2, 0};
        live->result = crash_log_writer_write(&live->writer, crash_async_mach_thread_self(), live->images,
                                              &live->file, &signal, state);
        return CRASH_ESUCCESS;
      },
      &live);
  EXPECT_TRUE(crash_async_file_close(&live.file));
  crash_log_writer_free(&live.writer);
  return {live.result, crash_child::readFile(path)};
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
  // reads and says it was cut, and the writer hands it back as a report (cut short, not failed).
  const auto [cut, cutBytes] = liveReport(wholeBytes.size() - 100, 600);
  EXPECT_EQ(cut, CRASH_ESUCCESS);
  EXPECT_LE(cutBytes.size(), wholeBytes.size() - 100);
  auto cutReport = TallyCrashReport::initWithDataError(cutBytes);
  ASSERT_TRUE(cutReport.ok()) << cutReport.error().description();
  EXPECT_TRUE(cutReport->truncated());
  EXPECT_FALSE(cutReport->hasExceptionInfo());
  EXPECT_EQ(cutReport->signalInfo().name, "SIGTRAP");
}

// Every listed image is in a report as it was listed, whether its section was encoded when the image
// was listed (as every image the sync lists is) or at the crash (as an image the crash path finds).
TEST(CrashLogWriter, ListsEveryImageAsListedWhenEncodedAheadOrAtTheCrash) {
  ASSERT_EQ(sys::prepareThreadParking(), 0);
  crash_async_image_list& images = processImages();
  struct Listed {
    std::string name, uuid;
    std::uint64_t size;
    std::int32_t cpu;
  };
  std::map<std::uint64_t, Listed> listed;
  bool everyOther = false;
  for (auto* node = crash_async_image_list_next(&images, nullptr); node; node = crash_async_image_list_next(&images, node)) {
    crash_async_image& image = node->value;
    std::string uuid;
    for (std::size_t i = 0; i < image.uuid_length; ++i) {
      static const char kHex[] = "0123456789abcdef";
      uuid += kHex[image.uuid[i] >> 4];
      uuid += kHex[image.uuid[i] & 15];
    }
    ASSERT_FALSE(image.report_record.empty()) << image.name;
    if ((everyOther = !everyOther)) image.report_record.clear();
    listed[crash_async_image_base(&image)] = {image.name, uuid, crash_async_image_size(&image), image.cpu_type};
  }
  ASSERT_GE(listed.size(), 2u);
  const auto [result, bytes] = liveReport(0, 0);
  ASSERT_EQ(result, CRASH_ESUCCESS);
  auto report = TallyCrashReport::initWithDataError(bytes);
  ASSERT_TRUE(report.ok()) << report.error().description();
  ASSERT_EQ(report->images().size(), listed.size());
  for (const auto& image : report->images()) {
    const auto found = listed.find(image.imageBaseAddress);
    ASSERT_NE(found, listed.end()) << image.imageName;
    const Listed& expected = found->second;
    EXPECT_EQ(image.imageName, expected.name);
    EXPECT_EQ(image.imageSize, expected.size) << expected.name;
    EXPECT_EQ(image.hasImageUUID, !expected.uuid.empty()) << expected.name;
    EXPECT_EQ(image.imageUUID, expected.uuid) << expected.name;
    ASSERT_TRUE(image.codeType.has_value()) << expected.name;
    EXPECT_EQ(image.codeType->type, static_cast<std::uint32_t>(expected.cpu)) << expected.name;
  }
  // Listed again, the images encoded at the crash have their sections made ahead once more.
  crash_async_image_list_free(&images);
  crash_async_image_list_init(&images, crash_async_task_self());
}

// Threads whose exceptions escape at once: the writer keeps one of them whole, never one's name with
// another's reason or stack.
TEST(CrashLogWriter, OfExceptionsRecordedAtOnceOneIsKeptWhole) {
  constexpr int kThreads = 8, kRounds = 200;
  for (int round = 0; round < kRounds; ++round) {
    crash_log_writer writer;
    ASSERT_EQ(crash_log_writer_init(&writer, "id", "1", 0, false), CRASH_ESUCCESS);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        const std::string name = "E" + std::to_string(i), reason = "R" + std::to_string(i);
        const std::vector<std::uint64_t> stack(static_cast<std::size_t>(i) + 1, 0x4000u + static_cast<unsigned>(i));
        ++ready;
        while (ready.load() < kThreads) std::this_thread::yield();
        crash_log_writer_set_exception(&writer, name.c_str(), reason.c_str(), stack.data(), stack.size());
      });
    }
    for (std::thread& thread : threads) thread.join();
    ASSERT_TRUE(writer.exception.has_exception);
    const std::string name = writer.exception.name, reason = writer.exception.reason;
    ASSERT_EQ(name.size(), 2u) << round;
    const int kept = name[1] - '0';
    EXPECT_EQ(reason, "R" + std::to_string(kept)) << round;
    ASSERT_EQ(writer.exception.call_stack_count, static_cast<std::size_t>(kept) + 1) << round;
    for (std::size_t i = 0; i < writer.exception.call_stack_count; ++i)
      EXPECT_EQ(writer.exception.call_stack[i], 0x4000u + static_cast<unsigned>(kept)) << round;
    crash_log_writer_free(&writer);
  }
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
    EXPECT_EQ(crash_child::readFile(path), c.bytes) << c.type;
  }
  // A string with its length, and a field number past 15, whose key takes two bytes.
  const auto path = dir / "fields";
  crash_async_file file;
  crash_async_file_init(&file, open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600), 0);
  const bool yes = true;
  EXPECT_EQ(crash_writer_pack(nullptr, 2, CRASH_FIELD_STRING, "ab"), 4u);
  EXPECT_EQ(crash_writer_pack(&file, 2, CRASH_FIELD_STRING, "ab"), 4u);
  EXPECT_EQ(crash_writer_pack(&file, 16, CRASH_FIELD_BOOL, &yes), 3u);
  ASSERT_TRUE(crash_async_file_close(&file));
  EXPECT_EQ(crash_child::readFile(path), std::string("\x12\x02" "ab" "\x80\x01\x01", 7));
}

// ---- Report files from real crashes.

using crash_child::FrameFunction;
using crash_child::readFile;

crash_log_writer gWriter;
crash_async_image_list gImages;
char gPath[512], gTempPath[512];

void onCrash(int nativeSignal, siginfo_t* info, void* uap) noexcept {
  crash_async_thread_state state;
  crash_async_thread_state_mcontext_init(&state, &static_cast<ucontext_t*>(uap)->uc_mcontext);
  crash_log_signal_info signal{};
  signal.bsd.signo = crash_signal_from_native(nativeSignal);
  signal.bsd.code = crash_signal_code_from_native(nativeSignal, info->si_code);
  signal.bsd.address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  const crash_error_t result = crash_write_report_file(
      &gWriter, gPath, gTempPath, crash_async_mach_thread_self(), &gImages, &signal, &state);
  _exit(result == CRASH_ESUCCESS ? 0 : 10 + result);
}

// Runs `crash` in a forked child whose crash handler writes the report to `path`; returns how the
// child ended ("exit 0": the report was written whole).
std::string crashInChild(const std::filesystem::path& path, const std::function<void(FrameFunction)>& crash) {
  return crash_child::runInChild([&] {
           const FrameFunction enter = crash_child::openModule().enter;
           if (!enter || sys::prepareThreadParking() != 0) _exit(3);
           std::snprintf(gPath, sizeof gPath, "%s", path.c_str());
           std::snprintf(gTempPath, sizeof gTempPath, "%s.tmp", path.c_str());
           crash_async_image_list_init(&gImages, crash_async_task_self());
           crash_async_image_list_sync(&gImages);
           if (crash_log_writer_init(&gWriter, "com.example.diary", "1.2", CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE,
                                     false) != CRASH_ESUCCESS)
             _exit(4);
           struct sigaction action {};
           action.sa_sigaction = onCrash;
           action.sa_flags = SA_SIGINFO;
           for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGTRAP})
             sigaction(sig, &action, nullptr);
           crash(enter);
           _exit(5);
         })
      .second;
}

// A frame named `name`, or (for a name ending in ".so.6") a frame inside that library.
bool hasFrameNamed(const TallyCrashReport& report, const std::vector<TallyCrashReportStackFrameInfo>& frames,
                   const std::string& name) {
  for (const auto& frame : frames) {
    if (frame.symbolInfo && frame.symbolInfo->symbolName == name) return true;
    const auto* image = report.imageForAddress(frame.instructionPointer);
    if (image && image->imageName.ends_with("/" + name)) return true;
  }
  return false;
}

volatile int gZero = 0;
volatile int gWorkerState = 0;
volatile int gQuotient = 0;

struct CrashCase {
  const char* label;
  const char* signal;
  const char* frame;      // a frame the crashed thread must show: a function, or a library
  void (*action)(void*);  // run from inside crash_test_frame_c; null: a store to an unmapped page there
};

const CrashCase kCrashes[] = {
    {"segv", "SIGSEGV", "crash_test_frame_c", nullptr},
    {"abort", "SIGABRT", "libc.so.6", [](void*) { std::abort(); }},
    {"fpe", "SIGFPE", "crash_test_frame_b",
     [](void*) {
       // In assembly, so that a sanitizer's check of the division cannot stop it first.
       int quotient;
       __asm__ volatile("cltd; idivl %1" : "=a"(quotient) : "r"(gZero), "a"(10) : "edx");
       gQuotient = quotient;
     }},
    {"ill", "SIGILL", "crash_test_frame_b", [](void*) { __builtin_trap(); }},
    {"trap", "SIGTRAP", "crash_test_frame_b", [](void*) { __asm__ volatile("int3"); }},
    {"bus", "SIGBUS", "crash_test_frame_b",
     [](void* path) {
       // A page of a file that has no byte there.
       const int fd = open(static_cast<const char*>(path), O_RDWR | O_CREAT | O_TRUNC, 0600);
       auto* page =
           static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
       page[0] = 1;
     }},
};

TEST(CrashReportFile, EachCrashKindIsWrittenParsedAndFormatted) {
  testing_support::TempDir dir;
  for (const CrashCase& c : kCrashes) {
    const auto path = dir / (std::string(c.label) + ".crashlg");
    const std::string busFile = (dir / "bus").string();
    // What a crash that died mid-write leaves: the report must still be a fresh, whole, private file.
    { std::ofstream(path.string() + ".tmp") << std::string(100000, 'x'); }
    std::filesystem::permissions(path.string() + ".tmp", std::filesystem::perms(0644));
    const std::string status = crashInChild(path, [&](FrameFunction enter) {
      // A worker parked in the module's frames, to be listed beside the crashed thread.
      std::thread([enter] { enter(1, &gWorkerState, nullptr, nullptr); }).detach();
      while (gWorkerState != 1) std::this_thread::yield();
      if (c.action)
        enter(2, nullptr, c.action, const_cast<char*>(busFile.c_str()));
      else
        crash_child::crashInModule(enter);
    });
    ASSERT_EQ(status, "exit 0") << c.label;
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp")) << c.label;
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    const std::string bytes = readFile(path);
    ASSERT_EQ(bytes.substr(0, 8), std::string("crashlg\x01", 8)) << c.label;
    auto report = TallyCrashReport::initWithDataError(bytes);
    ASSERT_TRUE(report.ok()) << c.label << ": " << report.error().description();
    EXPECT_EQ(report->signalInfo().name, c.signal) << c.label;
    EXPECT_FALSE(report->signalInfo().code.empty());
    EXPECT_EQ(report->applicationInfo().applicationIdentifier, "com.example.diary");
    EXPECT_EQ(report->systemInfo().operatingSystem, TallyCrashReportOperatingSystemiPhoneOS);
    EXPECT_EQ(report->systemInfo().architecture, TallyCrashReportArchitectureUnknown);
    EXPECT_FALSE(report->userRequested());
    EXPECT_FALSE(report->truncated());
    ASSERT_TRUE(report->uuidRef().has_value());

    int crashed = 0;
    for (std::size_t i = 0; i < report->threads().size(); ++i) {
      const auto& thread = report->threads()[i];
      EXPECT_EQ(thread.threadNumber, static_cast<std::int64_t>(i));
      if (!thread.crashed) continue;
      ++crashed;
      EXPECT_FALSE(thread.registers.empty());
      EXPECT_EQ(thread.registers[0].registerName, "rip");
      // The crash happened in crash_test_frame_c or in an action it called, whose callers a
      // frame-pointer walk finds; abort crashes inside the C library, which keeps no frame pointers.
      EXPECT_TRUE(hasFrameNamed(*report, thread.stackFrames, c.frame))
          << c.label << "\n"
          << TallyCrashReportTextFormatter::stringValueForCrashReportWithTextFormat(
                 *report, TallyCrashReportTextFormatiOS);
    }
    EXPECT_EQ(crashed, 1) << c.label;
    EXPECT_GE(report->threads().size(), 2u);

    const std::string text = TallyCrashReportTextFormatter::stringValueForCrashReportWithTextFormat(
        *report, TallyCrashReportTextFormatiOS);
    EXPECT_NE(text.find(std::string("Exception Type:  ") + c.signal), std::string::npos) << text;
    EXPECT_NE(text.find("crash_test_frame_b"), std::string::npos) << text;
    EXPECT_NE(text.find("Binary Images:"), std::string::npos);
  }
}

TEST(CrashReportFile, AWaitingReportIsReplacedByTheNextCrash) {
  testing_support::TempDir dir;
  const auto path = dir / "live_report.crashlg";
  { std::ofstream(path) << "earlier"; }
  EXPECT_EQ(crashInChild(path, crash_child::crashInModule), "exit 0");
  const auto report = TallyCrashReport::initWithDataError(readFile(path));
  ASSERT_TRUE(report.ok()) << report.error().description();
  EXPECT_EQ(report->signalInfo().name, "SIGSEGV");
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
}

}  // namespace
}  // namespace crash
