#include "crash_reporter/log_writer.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "crash_reporter/frame_cursor.h"
#include "crash_reporter/host_info.h"
#include "crash_reporter/objc.h"
#include "crash_reporter/process_info.h"
#include "crash_reporter/signal_numbers.h"
#include "platform/foundation/uuid.h"
#include "platform/system/early_binding.h"
#include "platform/system/process.h"
#include "platform/system/threads.h"

namespace crash {

using namespace fields;

namespace {

// Threads that crashed while the first report was being written, with the registers they crashed
// with: the report walks each from its own crash site, rather than from inside its wait (or not at all,
// when it could not be parked). A slot's state stays valid while its thread waits, which it does until
// the report is finished.
constexpr std::size_t kWaitingCrashes = 16;
struct WaitingCrash {
  std::atomic<sys::ThreadId> thread{0};  // -1 while being filled
  const crash_async_thread_state* state = nullptr;
};
WaitingCrash gWaitingCrashes[kWaitingCrashes];

void registerWaitingCrash(const crash_async_thread_state* state) noexcept {
  if (!state) return;
  const sys::ThreadId self = sys::threadSelf();
  for (WaitingCrash& slot : gWaitingCrashes) {
    sys::ThreadId expected = 0;
    if (slot.thread.compare_exchange_strong(expected, -1, std::memory_order_acq_rel)) {
      slot.state = state;
      slot.thread.store(self, std::memory_order_release);
      return;
    }
  }
}

const crash_async_thread_state* waitingCrashState(sys::ThreadId thread) noexcept {
  for (const WaitingCrash& slot : gWaitingCrashes)
    if (slot.thread.load(std::memory_order_acquire) == thread) return slot.state;
  return nullptr;
}

}  // namespace

// ---- Signal names.

namespace {

struct Named {
  int number;
  const char* name;
};

constexpr Named kSignalNames[] = {
    {1, "SIGHUP"},   {2, "SIGINT"},   {3, "SIGQUIT"},    {4, "SIGILL"},   {5, "SIGTRAP"},   {6, "SIGABRT"},
    {6, "SIGIOT"},   {7, "SIGEMT"},   {8, "SIGFPE"},     {9, "SIGKILL"},  {10, "SIGBUS"},   {11, "SIGSEGV"},
    {12, "SIGSYS"},  {13, "SIGPIPE"}, {14, "SIGALRM"},   {15, "SIGTERM"}, {16, "SIGURG"},   {17, "SIGSTOP"},
    {18, "SIGTSTP"}, {19, "SIGCONT"}, {20, "SIGCHLD"},   {21, "SIGTTIN"}, {22, "SIGTTOU"},  {23, "SIGIO"},
    {24, "SIGXCPU"}, {25, "SIGXFSZ"}, {26, "SIGVTALRM"}, {27, "SIGPROF"}, {28, "SIGWINCH"}, {29, "SIGINFO"},
    {30, "SIGUSR1"}, {31, "SIGUSR2"},
};

struct NamedCode {
  int signal;
  int code;
  const char* name;
};

constexpr NamedCode kSignalCodes[] = {
    {CRASH_SIGILL, 0, "ILL_NOOP"},   {CRASH_SIGILL, 1, "ILL_ILLOPC"},   {CRASH_SIGILL, 2, "ILL_ILLTRP"},
    {CRASH_SIGILL, 3, "ILL_PRVOPC"}, {CRASH_SIGILL, 4, "ILL_ILLOPN"},   {CRASH_SIGILL, 5, "ILL_ILLADR"},
    {CRASH_SIGILL, 6, "ILL_PRVREG"}, {CRASH_SIGILL, 7, "ILL_COPROC"},   {CRASH_SIGILL, 8, "ILL_BADSTK"},
    {CRASH_SIGFPE, 0, "FPE_NOOP"},   {CRASH_SIGFPE, 1, "FPE_FLTDIV"},   {CRASH_SIGFPE, 2, "FPE_FLTOVF"},
    {CRASH_SIGFPE, 3, "FPE_FLTUND"}, {CRASH_SIGFPE, 4, "FPE_FLTRES"},   {CRASH_SIGFPE, 5, "FPE_FLTINV"},
    {CRASH_SIGFPE, 6, "FPE_FLTSUB"}, {CRASH_SIGFPE, 7, "FPE_INTDIV"},   {CRASH_SIGFPE, 8, "FPE_INTOVF"},
    {CRASH_SIGSEGV, 0, "SEGV_NOOP"}, {CRASH_SIGSEGV, 1, "SEGV_MAPERR"}, {CRASH_SIGSEGV, 2, "SEGV_ACCERR"},
    {CRASH_SIGBUS, 0, "BUS_NOOP"},   {CRASH_SIGBUS, 1, "BUS_ADRALN"},   {CRASH_SIGBUS, 2, "BUS_ADRERR"},
    {CRASH_SIGBUS, 3, "BUS_OBJERR"}, {CRASH_SIGTRAP, 1, "TRAP_BRKPT"},  {CRASH_SIGTRAP, 2, "TRAP_TRACE"},
    {CRASH_SIGABRT, 0, "#0"},
};

}  // namespace

const char* crash_async_signal_signame(int signal) noexcept {
  for (const Named& entry : kSignalNames)
    if (entry.number == signal) return entry.name;
  return nullptr;
}

const char* crash_async_signal_sigcode(int signal, int code) noexcept {
  for (const NamedCode& entry : kSignalCodes)
    if (entry.signal == signal && entry.code == code) return entry.name;
  return nullptr;
}

// ---- Writer setup (not on the crash path).

namespace {

char* copyString(const char* text) {
  if (!text) return nullptr;
  const std::size_t length = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(length));
  if (copy) std::memcpy(copy, text, length);
  return copy;
}

char* copyString(const std::string& text) { return copyString(text.c_str()); }

}  // namespace

crash_error_t crash_log_writer_init(crash_log_writer* writer, const char* app_identifier,
                                    const char* app_version, std::uint32_t symbolication_strategy,
                                    bool user_requested, const char* system_version) {
  std::memset(writer, 0, sizeof *writer);
  writer->symbolication_strategy = symbolication_strategy;
  writer->user_requested = user_requested;
  const auto uuid = foundation::Uuid::random().bytes();
  std::memcpy(writer->report_uuid, uuid.data(), sizeof writer->report_uuid);
  writer->application.identifier = copyString(app_identifier ? app_identifier : "");
  writer->application.version = copyString(app_version ? app_version : "");

  const auto process = TallyCrashProcessInfo::currentProcessInfo();
  if (!process) return CRASH_EINVAL;
  writer->process.pid = static_cast<std::uint32_t>(process->processID());
  writer->process.name = copyString(process->processName());
  writer->process.start_time = static_cast<std::uint64_t>(process->startTime().tv_sec);
  if (const auto path = sys::executablePath()) writer->process.path = copyString(*path);
  writer->process.parent_pid = static_cast<std::uint32_t>(process->parentProcessID());
  if (const auto parent = TallyCrashProcessInfo::withProcessID(process->parentProcessID()))
    writer->process.parent_name = copyString(parent->processName());

  writer->machine.model = crash_sysctl_string("hw.machine");
  crash_sysctl_int("hw.cputype", &writer->machine.cpu_type);
  crash_sysctl_int("hw.cpusubtype", &writer->machine.cpu_subtype);
  crash_sysctl_int("hw.physicalcpu_max", &writer->machine.processor_count);
  crash_sysctl_int("hw.logicalcpu_max", &writer->machine.logical_processor_count);
  std::int32_t native = 1;
  writer->process.native = !crash_sysctl_int("sysctl.proc_native", &native) || native != 0;

  writer->system.build = crash_sysctl_string("kern.osversion");
  writer->system.version =
      system_version && *system_version ? copyString(system_version) : crash_sysctl_string("kern.osrelease");
  crash_frame_walk_cache_prepare();
  sys::bindSignalHandlerCalls();
  std::atomic_thread_fence(std::memory_order_seq_cst);  // a handler on any thread sees it whole
  return CRASH_ESUCCESS;
}

void crash_log_writer_set_exception(crash_log_writer* writer, const char* name, const char* reason,
                                    const std::uint64_t* call_stack, std::size_t count) {
  // The first call claims the record; another thread's call meanwhile must not mix its fields in.
  if (std::atomic_ref<bool>(writer->exception.claimed).exchange(true, std::memory_order_acq_rel)) return;
  writer->exception.name = copyString(name ? name : "");
  writer->exception.reason = copyString(reason ? reason : "");
  if (count > 0) {
    writer->exception.call_stack = static_cast<std::uint64_t*>(std::malloc(count * sizeof(std::uint64_t)));
    if (writer->exception.call_stack) {
      std::memcpy(writer->exception.call_stack, call_stack, count * sizeof(std::uint64_t));
      writer->exception.call_stack_count = count;
    }
  }
  std::atomic_thread_fence(std::memory_order_seq_cst);
  writer->exception.has_exception = true;
  std::atomic_thread_fence(std::memory_order_seq_cst);
}

crash_error_t crash_log_writer_close(crash_log_writer*) noexcept { return CRASH_ESUCCESS; }

void crash_log_writer_free(crash_log_writer* writer) {
  for (char* text :
       {writer->system.version, writer->system.build, writer->machine.model, writer->application.identifier,
        writer->application.version, writer->process.name, writer->process.path, writer->process.parent_name,
        writer->exception.name, writer->exception.reason})
    std::free(text);
  std::free(writer->exception.call_stack);
  std::memset(writer, 0, sizeof *writer);
}

// ---- The crash path.

namespace {

// Everything one report's sections read.
struct FoundSymbol {
  std::uint64_t pc;  // the address looked up
  bool found;
  // The symbol message as it is written (name, then start), encoded once when the symbol is found:
  // the name's key and length take 3 bytes at most, the name 255, the start's key and value 11.
  std::uint32_t messageLength;
  std::uint8_t message[272];
};

// Symbols already looked up in this report, by pc. Each frame is encoded more than once (sized, then
// written) and a lookup scans an image's symbol table, so without this the lookups would cost most of
// the report's time. Two ways: a pc goes in one of a pair of entries, and a new one replaces the pair's
// older one, so that two pcs every thread passes, landing on one pair, do not put each other out at
// every thread. Lives on the writer's stack (about 9 KB).
struct SymbolCache {
  static constexpr std::size_t kEntries = 32;
  FoundSymbol entries[kEntries];
  bool used[kEntries];
  std::uint8_t older[kEntries / 2];  // of each pair, the way a new pc replaces
};

struct Report {
  crash_log_writer* writer;
  crash_async_image_list* images;
  crash_async_objc_cache* objc;
  SymbolCache* symbols;
};

// What one report's symbol lookups keep. Its writer's caller makes it, so that a crash can look the
// crashed thread's symbols up while the other threads are still on their way to park.
struct Lookups {
  crash_async_objc_cache objc;
  SymbolCache symbols;
  // Empties both: at the start, and when the images changed under what was looked up.
  void reset() noexcept {
    crash_async_objc_cache_init(&objc);
    crash_async_memset(symbols.used, 0, sizeof symbols.used);
    crash_async_memset(symbols.older, 0, sizeof symbols.older);
  }
};

// The writer's own fields beside those of report_fields.h.
std::size_t packU32(crash_async_file* file, std::uint32_t field, std::uint32_t value) noexcept {
  return packU64(file, field, value);
}
std::size_t packBool(crash_async_file* file, std::uint32_t field, bool value) noexcept {
  return packU64(file, field, value ? 1 : 0);
}
std::size_t packInt64(crash_async_file* file, std::uint32_t field, std::int64_t value) noexcept {
  return packU64(file, field, static_cast<std::uint64_t>(value));  // negative: 10 bytes, as int64 is
}

}  // namespace

static std::size_t crash_writer_write_system_info(crash_async_file* file, const crash_log_writer* writer,
                                                  std::int64_t timestamp) noexcept {
  constexpr std::uint32_t kIPhoneOS = 1, kArchitectureUnknown = 6;
  std::size_t n = packEnum(file, 1, kIPhoneOS);
  n += packString(file, 2, writer->system.version);
  if (writer->system.build) n += packString(file, 5, writer->system.build);
  n += packEnum(file, 3, kArchitectureUnknown);
  return n + packInt64(file, 4, timestamp);
}

static std::size_t crash_writer_write_machine_info(crash_async_file* file,
                                                   const crash_log_writer* writer) noexcept {
  std::size_t n = writer->machine.model ? packString(file, 1, writer->machine.model) : 0;
  n += packMessage(file, 2, [&](crash_async_file* f) {
    return crash_writer_write_processor_info(f, writer->machine.cpu_type, writer->machine.cpu_subtype);
  });
  n += packU32(file, 3, static_cast<std::uint32_t>(writer->machine.processor_count));
  return n + packU32(file, 4, static_cast<std::uint32_t>(writer->machine.logical_processor_count));
}

static std::size_t crash_writer_write_process_info(crash_async_file* file,
                                                   const crash_log_writer* writer) noexcept {
  const auto& p = writer->process;
  std::size_t n = p.name ? packString(file, 1, p.name) : 0;
  n += packU32(file, 2, p.pid);
  if (p.path) n += packString(file, 3, p.path);
  if (p.parent_name) n += packString(file, 4, p.parent_name);
  n += packU32(file, 5, p.parent_pid);
  n += packBool(file, 6, p.native);
  return n + packU64(file, 7, p.start_time);
}

namespace {

// Encodes the symbol message of a symbol found (crash.Symbol: name 1, start 2) into the entry.
void keepSymbol(std::uintptr_t address, const char* name, void* context) noexcept {
  auto* found = static_cast<FoundSymbol*>(context);
  std::size_t length = 0;
  while (name && name[length] != '\0' && length < 255) ++length;
  std::size_t at = putHead(found->message, fieldKey(1, kWireLength), length, 0);
  crash_async_memcpy(found->message + at, name, length);
  at += length;
  at += putHead(found->message + at, fieldKey(2, kWireVarint), address, 0);
  found->messageLength = static_cast<std::uint32_t>(at);
  found->found = true;
}

}  // namespace

// A frame's pc is written as it is; its symbol is looked up at `lookup`, which is pc - 1 for a return
// address: a call that never returns (abort, a throw) may be its function's last instruction, and the
// address after it is then the next function's.
static std::size_t crash_writer_write_thread_frame(crash_async_file* file, const Report& report, std::uint64_t pc,
                                                   std::uint64_t lookup) noexcept {
  std::size_t n = packU64(file, 3, pc);
  if (report.writer->symbolication_strategy == 0 || !report.images) return n;
  // Multiplied to spread addresses that differ in a few low bits (a thread's frames) over the table.
  SymbolCache& cache = *report.symbols;
  const std::size_t pair = static_cast<std::size_t>((lookup * 0x9E3779B97F4A7C15ull) >> 60) % (SymbolCache::kEntries / 2);
  const auto holds = [&](std::size_t slot) { return cache.used[slot] && cache.entries[slot].pc == lookup; };
  std::size_t slot = holds(2 * pair) ? 2 * pair : 2 * pair + 1;
  if (!holds(slot)) {
    slot = 2 * pair + (cache.older[pair] & 1);
    FoundSymbol& fresh = cache.entries[slot];
    cache.used[slot] = true;
    fresh.pc = lookup;
    fresh.found = false;
    const crash_async_image* image = crash_async_image_containing_address(report.images, lookup);
    if (image && crash_async_find_symbol(image, report.writer->symbolication_strategy, report.objc, lookup,
                                         keepSymbol, &fresh) != CRASH_ESUCCESS)
      fresh.found = false;
  }
  cache.older[pair] = static_cast<std::uint8_t>((slot & 1) ^ 1);
  const FoundSymbol& symbol = cache.entries[slot];
  if (!symbol.found) return n;
  n += packLength(file, 6, symbol.messageLength) + symbol.messageLength;
  if (file) crash_async_file_write(file, symbol.message, symbol.messageLength);
  return n;
}

namespace {

// Where a thread's walk starts: a state handed in, a parked thread, or nowhere (no frames).
struct ThreadSource {
  const crash_async_thread_state* state;
  const sys::ParkedThreads* parked;
  std::size_t index;
};

// Where the walk of parked entry `i` starts: for the calling thread, at `state`; for a thread that
// crashed while the report was being written, at its own crash site; for another parked thread, at its
// parking registers; for a thread that could not be parked, nowhere.
ThreadSource sourceOf(const sys::ParkedThreads& parked, std::size_t i,
                      const crash_async_thread_state* state) noexcept {
  const auto& entry = parked.entries[i];
  if (entry.result == sys::ParkResult::kCaller) return ThreadSource{state, nullptr, 0};
  if (const crash_async_thread_state* crashedHere = waitingCrashState(entry.thread))
    return ThreadSource{crashedHere, nullptr, 0};
  return ThreadSource{nullptr, entry.result == sys::ParkResult::kParked ? &parked : nullptr, i};
}

bool startCursor(crash_async_frame_cursor* cursor, const ThreadSource& source,
                 crash_async_image_list* images) noexcept {
  if (source.state)
    return crash_frame_cursor_init(cursor, crash_async_task_self(), source.state, images) ==
           CRASH_FRAME_ESUCCESS;
  if (source.parked)
    return crash_frame_cursor_thread_init(cursor, crash_async_task_self(), source.parked, source.index,
                                          images) == CRASH_FRAME_ESUCCESS;
  return false;
}

}  // namespace

namespace {

// Reads ahead, in one gathered read, the stacks of the parked threads from entry `from` on that are
// walked from their parking registers, as many as the walk cache takes at once; returns the entry
// after the last one taken.
std::size_t readParkedStacks(const sys::ParkedThreads& parked, std::size_t from, crash_thread_t crashed,
                             bool crashedWalked, const crash_async_thread_state* state) noexcept {
  std::uint64_t stackPointers[CRASH_FRAME_READ_AHEAD_STACKS];
  std::size_t count = 0, i = from;
  for (; i < parked.count && count < CRASH_FRAME_READ_AHEAD_STACKS; ++i) {
    if (!sourceOf(parked, i, state).parked || (crashedWalked && parked.entries[i].thread == crashed)) continue;
    if (crash_async_thread_state_parked_stack_pointer(&parked, i, &stackPointers[count])) ++count;
  }
  crash_frame_walk_cache_read_stacks(crash_async_task_self(), stackPointers, count);
  return i;
}

// One thread's walk, taken once: its section is encoded twice (sized, then written), and every step
// of a walk reads the thread's stack through the kernel.
struct WalkedThread {
  bool started;                    // the walk reached a first frame
  crash_async_frame_cursor first;  // the cursor at that frame: the registers of a crashed thread
  std::uint64_t pcs[CRASH_LOG_MAX_FRAMES];
  bool returns[CRASH_LOG_MAX_FRAMES];  // the pc is a return address (every frame after the first, mostly)
  std::size_t count;
  // The encoded length of each frame, kept from sizing the section for writing it (of the first
  // `sized` frames): a frame's encoding looks its symbol up.
  mutable std::uint32_t frameLengths[CRASH_LOG_MAX_FRAMES];
  mutable std::size_t sized;
};

void walkThread(WalkedThread* walked, const ThreadSource& source, crash_async_image_list* images) noexcept {
  walked->started = false;
  walked->count = 0;
  walked->sized = 0;
  crash_async_frame_cursor cursor;
  if (!startCursor(&cursor, source, images)) return;
  if (crash_frame_cursor_next(&cursor) != CRASH_FRAME_ESUCCESS) return;
  walked->started = true;
  walked->first = cursor;
  while (walked->count < CRASH_LOG_MAX_FRAMES) {
    std::uint64_t pc;
    if (crash_frame_cursor_get_reg(&cursor, CRASH_REG_IP, &pc) != CRASH_FRAME_ESUCCESS) break;
    walked->returns[walked->count] = cursor.frame.return_address;
    walked->pcs[walked->count++] = pc;
    if (walked->count == CRASH_LOG_MAX_FRAMES || crash_frame_cursor_next(&cursor) != CRASH_FRAME_ESUCCESS)
      break;
  }
  crash_frame_cursor_free(&cursor);
}

}  // namespace

static std::size_t crash_writer_write_thread(crash_async_file* file, const Report& report,
                                             std::uint32_t number, bool crashed,
                                             const WalkedThread& walked) noexcept {
  std::size_t n = packU32(file, 1, number) + packBool(file, 3, crashed);
  if (!walked.started) return n;
  if (crashed) {
    const std::size_t count = crash_frame_cursor_get_regcount(&walked.first);
    for (std::size_t i = 0; i < count; ++i) {
      const char* name = crash_frame_cursor_get_regname(&walked.first, i);
      if (!name) continue;
      std::uint64_t value = 0;
      if (crash_frame_cursor_get_reg(&walked.first, i, &value) != CRASH_FRAME_ESUCCESS) value = 0;
      n += packMessage(file, 4,
                       [&](crash_async_file* f) { return packString(f, 1, name) + packU64(f, 2, value); });
    }
  }
  for (std::size_t i = 0; i < walked.count; ++i) {
    const std::uint64_t pc = walked.pcs[i];
    const std::uint64_t lookup = crash_async_lookup_address(pc, walked.returns[i]);
    if (i == walked.sized) {
      walked.frameLengths[i] = static_cast<std::uint32_t>(crash_writer_write_thread_frame(nullptr, report, pc, lookup));
      walked.sized = i + 1;
    }
    n += packLength(file, 2, walked.frameLengths[i]) + walked.frameLengths[i];
    if (file) crash_writer_write_thread_frame(file, report, pc, lookup);
  }
  return n;
}

static std::size_t crash_writer_write_exception(crash_async_file* file, const Report& report) noexcept {
  const auto& e = report.writer->exception;
  std::size_t n = packString(file, 1, e.name) + packString(file, 2, e.reason);
  const std::size_t count =
      e.call_stack_count < CRASH_LOG_MAX_FRAMES ? e.call_stack_count : CRASH_LOG_MAX_FRAMES;
  for (std::size_t i = 0; i < count; ++i) {
    // Every address of a recorded call stack is a return address.
    const std::uint64_t pc = e.call_stack[i];
    n += packMessage(file, 3, [&](crash_async_file* f) {
      return crash_writer_write_thread_frame(f, report, pc, crash_async_lookup_address(pc, true));
    });
  }
  return n;
}

static std::size_t crash_writer_write_mach_exception(crash_async_file* file,
                                                     const crash_log_signal_info* signal) noexcept {
  std::size_t n = packU64(file, 1, signal->mach.type);
  for (std::size_t i = 0; i < signal->mach.code_count; ++i) n += packU64(file, 2, signal->mach.codes[i]);
  return n;
}

namespace {

// "#<number>" in the caller's buffer.
const char* numberName(int value, char (&buffer)[16]) noexcept {
  char digits[12];
  std::size_t count = 0;
  std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  do digits[count++] = static_cast<char>('0' + magnitude % 10);
  while ((magnitude /= 10) > 0);
  std::size_t at = 0;
  buffer[at++] = '#';
  if (value < 0) buffer[at++] = '-';
  while (count > 0) buffer[at++] = digits[--count];
  buffer[at] = '\0';
  return buffer;
}

}  // namespace

static std::size_t crash_writer_write_signal(crash_async_file* file,
                                             const crash_log_signal_info* signal) noexcept {
  char nameBuffer[16], codeBuffer[16];
  const char* name = crash_async_signal_signame(signal->bsd.signo);
  if (!name) name = numberName(signal->bsd.signo, nameBuffer);
  const char* code = crash_async_signal_sigcode(signal->bsd.signo, signal->bsd.code);
  if (!code) code = numberName(signal->bsd.code, codeBuffer);
  std::size_t n =
      packString(file, 1, name) + packString(file, 2, code) + packU64(file, 3, signal->bsd.address);
  if (signal->mach.present)
    n += packMessage(file, 4,
                     [&](crash_async_file* f) { return crash_writer_write_mach_exception(f, signal); });
  return n;
}

namespace {

// Writes top-level sections while they fit the room the file has left for them; a section that does
// not fit is left out whole and the report is marked cut. Room for one section can be kept ahead
// (`kept` bytes): every other section must leave it free until that one is written.
struct SectionBudget {
  crash_async_file* file;
  std::size_t room;  // bytes the sections may take in all; unbounded for a file without a limit
  bool cut = false;
  std::size_t kept = 0;

  template <class Body>
  void add(std::uint32_t field, const Body& body, bool keptFor = false) noexcept {
    if (keptFor) kept = 0;
    const auto length = static_cast<std::uint32_t>(body(nullptr));
    const std::size_t head = packLength(nullptr, field, length);
    if (file->limit != 0 && file->total_bytes + head + length + kept > room) {
      cut = true;
      return;
    }
    packLength(file, field, length);
    body(file);
  }
};

constexpr std::uint32_t kFieldTruncated = 10;

std::int64_t nowSeconds() noexcept {
  timespec now{};
  return clock_gettime(CLOCK_REALTIME, &now) == 0 ? now.tv_sec : 0;
}

}  // namespace

namespace {

std::int64_t monotonicNanoseconds() noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Holds every other thread still; true when they are (then releaseThreads lets them go). Another
// thread parking threads right now (a live report) parks this one too and soon lets it go, so this
// waits its turn rather than write while the others run on: a report of running threads would show
// stacks that change under the walk. Only when the right stays taken for a whole second (its holder
// cannot finish), or when this thread holds it itself (it crashed while parking for a live report, so
// the others are held already), or when parking is not set up, does the report go on without the
// others (then `*parked` lists none). `asked`: sys::requestParking already asked them for this caller.
bool parkThreads(sys::ParkedThreads* parked, bool asked) noexcept {
  constexpr std::int64_t kAnswerBound = 100'000'000, kTurnBound = 1'000'000'000;
  if (asked) return sys::awaitParking(parked, kAnswerBound) == sys::ParkResult::kParked;
  const std::int64_t giveUp = monotonicNanoseconds() + kTurnBound;
  const sys::ThreadId self = sys::threadSelf();
  for (;;) {
    const sys::ParkResult result = sys::parkOtherThreads(parked, kAnswerBound);
    if (result == sys::ParkResult::kParked) return true;
    if (result != sys::ParkResult::kBusy || sys::parkingOwner() == self ||
        monotonicNanoseconds() > giveUp)
      break;
    const timespec pause{0, 20'000};
    nanosleep(&pause, nullptr);
  }
  parked->count = 0;
  return false;
}

void releaseThreads(sys::ParkedThreads* parked, bool allParked) noexcept {
  if (allParked) sys::releaseParkedThreads(parked);
}

// The report itself, with the other threads already held (or none when `allParked` is false). The
// crashed thread's walk goes in `*crashedWalk`; `crashedWalked` tells that the caller has walked it
// there already (the calling thread, from `state`) and claims and releases the walk cache itself.
crash_error_t writeReport(crash_log_writer* writer, crash_thread_t crashed_thread,
                          crash_async_image_list* images, crash_async_file* file,
                          const crash_log_signal_info* signal, const crash_async_thread_state* state,
                          const sys::ParkedThreads& parked, bool allParked, WalkedThread* crashedWalk,
                          bool crashedWalked, Lookups* lookups) noexcept {
  // 1. What the sections share.
  const bool walkCache = !crashedWalked && crash_frame_walk_cache_claim();
  if (images) crash_async_image_list_set_reading(images, true);
  const Report report{writer, images, &lookups->objc, &lookups->symbols};

  // 2. Header, then the sections; the signal section and the end mark always have their room.
  crash_async_file_write(file, CRASH_LOG_MAGIC, sizeof CRASH_LOG_MAGIC);
  crash_async_file_write(file, &CRASH_LOG_VERSION, 1);
  const std::size_t signalLength = crash_writer_write_signal(nullptr, signal);
  const std::uint32_t signalLength32 = static_cast<std::uint32_t>(signalLength);
  const std::size_t reserved = crash_writer_pack(nullptr, 6, CRASH_FIELD_MESSAGE, &signalLength32) +
                               signalLength +
                               crash_writer_pack(nullptr, kFieldTruncated, CRASH_FIELD_BOOL, &allParked);
  SectionBudget budget{file, file->limit > reserved ? file->limit - reserved : 0};

  budget.add(9, [&](crash_async_file* f) {
    const crash_writer_bytes uuid{sizeof writer->report_uuid, writer->report_uuid};
    return packBool(f, 1, writer->user_requested) + crash_writer_pack(f, 2, CRASH_FIELD_BYTES, &uuid);
  });
  const std::int64_t timestamp = nowSeconds();
  budget.add(1, [&](crash_async_file* f) { return crash_writer_write_system_info(f, writer, timestamp); });
  budget.add(8, [&](crash_async_file* f) { return crash_writer_write_machine_info(f, writer); });
  budget.add(2, [&](crash_async_file* f) {
    return packString(f, 1, writer->application.identifier) + packString(f, 2, writer->application.version);
  });
  budget.add(7, [&](crash_async_file* f) { return crash_writer_write_process_info(f, writer); });

  // 3. Threads in the kernel's order; the calling thread only with the state handed in. When the others
  // could not be held, the calling thread alone. The crashed thread (or the one a live report is for) is
  // walked first and its room kept, so that a report cut short for its size still holds it whole.
  std::uint32_t number = 0;
  const crash_thread_t self = crash_async_mach_thread_self();
  WalkedThread walked;  // about 7 KB; reused for every other thread
  for (std::size_t i = 0; i < parked.count && !crashedWalked; ++i) {
    if (parked.entries[i].thread != crashed_thread) continue;
    const ThreadSource source = sourceOf(parked, i, state);
    if (!source.state && parked.entries[i].result == sys::ParkResult::kCaller) break;  // not in the report
    walkThread(crashedWalk, source, images);
    crashedWalked = true;
  }
  if (!crashedWalked && parked.count == 0 && state && crashed_thread == self) {
    walkThread(crashedWalk, ThreadSource{state, nullptr, 0}, images);
    crashedWalked = true;
  }
  if (crashedWalked) {
    // Its number is not known yet; the largest a report can give takes the most room.
    const auto length =
        static_cast<std::uint32_t>(crash_writer_write_thread(nullptr, report, ~0u, true, *crashedWalk));
    budget.kept = crash_writer_pack(nullptr, 3, CRASH_FIELD_MESSAGE, &length) + length;
  }
  auto addThread = [&](crash_thread_t thread, const ThreadSource& source) {
    const bool crashed = thread == crashed_thread;
    const WalkedThread* walk = crashed && crashedWalked ? crashedWalk : &walked;
    if (walk == &walked) walkThread(&walked, source, images);
    budget.add(
        3, [&](crash_async_file* f) { return crash_writer_write_thread(f, report, number, crashed, *walk); },
        crashed);
    ++number;
  };
  if (parked.count == 0 && state) addThread(self, ThreadSource{state, nullptr, 0});
  std::size_t readAheadFrom = 0;  // the first entry whose stack was not read ahead yet
  for (std::size_t i = 0; i < parked.count; ++i) {
    if (parked.entries[i].result == sys::ParkResult::kCaller && !state) continue;
    if (i >= readAheadFrom) readAheadFrom = readParkedStacks(parked, i, crashed_thread, crashedWalked, state);
    addThread(parked.entries[i].thread, sourceOf(parked, i, state));
  }
  budget.kept = 0;

  // 4. Images, the exception, the signal.
  if (images) {
    for (crash_async_image_node* node = crash_async_image_list_next(images, nullptr); node;
         node = crash_async_image_list_next(images, node)) {
      const crash_async_image* image = &node->value;
      if (image->unloaded) continue;
      budget.add(4, [&](crash_async_file* f) { return crash_writer_write_binary_image(f, image); });
    }
  }
  if (writer->exception.has_exception)
    budget.add(5, [&](crash_async_file* f) { return crash_writer_write_exception(f, report); });
  packMessage(file, 6, [&](crash_async_file* f) { return crash_writer_write_signal(f, signal); });
  if (budget.cut) packBool(file, kFieldTruncated, true);

  // 5. Let everything go.
  if (walkCache) crash_frame_walk_cache_release();
  if (images) crash_async_image_list_set_reading(images, false);
  crash_async_objc_cache_free(&lookups->objc);
  // A report cut for its size is still a sound report (it says it was cut): only a failed write fails it.
  return file->failed ? CRASH_OUTPUT_ERR : CRASH_ESUCCESS;
}

}  // namespace

crash_error_t crash_log_writer_write(crash_log_writer* writer, crash_thread_t crashed_thread,
                                     crash_async_image_list* images, crash_async_file* file,
                                     const crash_log_signal_info* signal,
                                     const crash_async_thread_state* state) noexcept {
  // About 6 KB and 7 KB: the signal stack has room, and a live report's caller has its own.
  sys::ParkedThreads parked;
  WalkedThread crashedWalk;
  Lookups lookups;
  lookups.reset();
  const bool allParked = parkThreads(&parked, false);
  const crash_error_t result = writeReport(writer, crashed_thread, images, file, signal, state, parked, allParked,
                                           &crashedWalk, false, &lookups);
  releaseThreads(&parked, allParked);
  return result;
}

namespace {

// The first crash of the process writes the report; see crash_write_report_file.
std::atomic<sys::ThreadId> gReportWriter{0};
std::atomic<int> gReportDone{0};  // 1 once the first report is finished; a futex word
std::atomic<int> gReportResult{CRASH_ESUCCESS};
std::atomic<int> gReportWaiters{0};  // threads waiting for the first report

void waitForFirstReport() noexcept {
  gReportWaiters.fetch_add(1, std::memory_order_seq_cst);
  while (gReportDone.load(std::memory_order_seq_cst) == 0)
    syscall(SYS_futex, reinterpret_cast<int*>(&gReportDone), FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
}

[[noreturn]] void holdForever() noexcept {
  static std::atomic<int> never{0};
  for (;;) syscall(SYS_futex, reinterpret_cast<int*>(&never), FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
}

void finishFirstReport(crash_error_t result) noexcept {
  gReportResult.store(result, std::memory_order_relaxed);
  gReportDone.store(1, std::memory_order_seq_cst);
  // A waiter counts itself in before it reads the word, so one not counted yet will see it set.
  if (gReportWaiters.load(std::memory_order_seq_cst) > 0)
    syscall(SYS_futex, reinterpret_cast<int*>(&gReportDone), FUTEX_WAKE_PRIVATE, 1 << 30, nullptr, nullptr, 0);
}

crash_error_t writeReportFile(crash_log_writer* writer, const char* path, const char* temp_path,
                              crash_thread_t crashed_thread, crash_async_image_list* images,
                              const crash_log_signal_info* signal,
                              const crash_async_thread_state* state) noexcept {
  // The other threads are asked to park first. Each answer waits for the scheduler to run that thread;
  // meanwhile this one makes the file and walks its own stack, which no other thread touches.
  sys::ParkedThreads parked;
  const bool asked = sys::requestParking(&parked) == sys::ParkResult::kParked;
  // Always a new file: one left by a crash that died while writing (in an earlier run: in this one
  // only the first crash gets here) is removed rather than truncated, since truncating a file that
  // holds data makes some file systems flush it on close, and it may carry another mode.
  constexpr int kFlags = O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC;
  int fd = open(temp_path, kFlags, 0600);
  if (fd < 0 && errno == EEXIST && unlink(temp_path) == 0) fd = open(temp_path, kFlags, 0600);
  if (fd < 0) {
    // Asked threads must have answered before they can be let go.
    if (asked) releaseThreads(&parked, parkThreads(&parked, true));
    return CRASH_EINTERNAL;
  }
  crash_async_file file;
  crash_async_file_init(&file, fd, CRASH_LOG_SIZE_LIMIT);
  WalkedThread crashedWalk;
  Lookups lookups;
  lookups.reset();
  const bool walkedAhead = state && crashed_thread == crash_async_mach_thread_self();
  const bool walkCache = walkedAhead && crash_frame_walk_cache_claim();
  // The crashed thread's walk, and the symbols of its frames (sized as its section is): work that
  // needs none of the others, done while they get to their handlers.
  const auto walkCrashed = [&] {
    walkThread(&crashedWalk, ThreadSource{state, nullptr, 0}, images);
    if (!images) return;
    crash_async_image_list_set_reading(images, true);
    crash_writer_write_thread(nullptr, Report{writer, images, &lookups.objc, &lookups.symbols}, ~0u, true,
                              crashedWalk);
    crash_async_image_list_set_reading(images, false);
  };
  if (walkedAhead) walkCrashed();
  // The other threads stay held until the report is in place: waking them costs time, and a thread
  // that runs on could end the process before the report is kept.
  const bool allParked = parkThreads(&parked, asked);
  // Libraries opened or closed since the list was last brought up to date, found with the others held.
  // Then the walk ahead may have missed one: it is taken again, with what the walk cache and the
  // symbol lookups kept dropped.
  if (images && crash_async_image_list_sync_async(images) && walkedAhead) {
    // Held by this thread, claiming it again only drops what it kept; taken just now, it has nothing.
    if (crash_frame_walk_cache_claim()) crash_frame_walk_cache_release();
    lookups.reset();
    walkCrashed();
  }
  const crash_error_t result = writeReport(writer, crashed_thread, images, &file, signal, state, parked,
                                           allParked, &crashedWalk, walkedAhead, &lookups);
  if (walkCache) crash_frame_walk_cache_release();
  crash_log_writer_close(writer);
  const bool closed = crash_async_file_close(&file);
  // The report is linked into place in one step once it is whole, replacing one an earlier run left
  // waiting: the latest crash is the one to tell. (Within this process only the first crash gets here.)
  const bool kept = closed && rename(temp_path, path) == 0;
  if (!kept) unlink(temp_path);
  releaseThreads(&parked, allParked);
  return kept ? result : CRASH_EINTERNAL;
}

}  // namespace

bool crash_report_writing_on_this_thread() noexcept {
  return gReportDone.load(std::memory_order_acquire) == 0 &&
         gReportWriter.load(std::memory_order_acquire) == sys::threadSelf();
}

crash_error_t crash_write_report_file(crash_log_writer* writer, const char* path, const char* temp_path,
                                      crash_thread_t crashed_thread, crash_async_image_list* images,
                                      const crash_log_signal_info* signal,
                                      const crash_async_thread_state* state) noexcept {
  const sys::ThreadId self = sys::threadSelf();
  sys::ThreadId first = 0;
  if (!gReportWriter.compare_exchange_strong(first, self, std::memory_order_acq_rel)) {
    // A fault inside this thread's own write: the report cannot be finished.
    if (first == self && gReportDone.load(std::memory_order_acquire) == 0) return CRASH_EINTERNAL;
    if (gReportDone.load(std::memory_order_acquire) == 0) registerWaitingCrash(state);
    waitForFirstReport();
    const auto result = static_cast<crash_error_t>(gReportResult.load(std::memory_order_relaxed));
    // A kept report ends the process with the first crash's signal, which its thread raises next. Another
    // thread must not end it first with a signal of its own, so it waits here for the end. (The writing
    // thread itself, called again later, as the exception server's thread is for every exception, just
    // has its answer.)
    if (result != CRASH_EINTERNAL && first != self) holdForever();
    return result;
  }
  const crash_error_t result = writeReportFile(writer, path, temp_path, crashed_thread, images, signal, state);
  finishFirstReport(result);
  return result;
}

}  // namespace crash
