#pragma once
// The crash log writer and the report file it writes.
//
// File: the 7 bytes "crashlg", a version byte 1, then the fields of one crashlg.CrashReport message
// (crash_reporter/crash_report.proto) in protobuf wire format up to the end of the file. The writer
// encodes protobuf itself, since it runs in a signal handler: each sub-message is sized by a dry run
// of the same code with no file, then written as key, length and body, so nothing is buffered. The
// fields, the image sections and the buffered file they go to are in report_fields.h.
//
// Everything that can be known before a crash is gathered into a crash_log_writer at enable time
// (crash_log_writer_init, not safe in a signal handler). At crash time crash_log_writer_write parks
// every other thread, walks every thread's stack, lists the loaded images and adds the exception and
// signal sections; it and everything it calls is safe in a signal handler.
//
// Size cap. A report never grows past its file's limit, and it never ends in the middle of a field:
// before each top-level section the writer checks that the section fits beside the room kept for the
// signal section and the end mark, and leaves it out otherwise. The crashed thread (or the thread a
// live report is for) has its room kept before the other threads are written, so a report cut for its
// size still holds it. A report that left something out carries `truncated` (field 10, true); it is
// still a sound report, and the writer answers success unless a write to the file failed.

#include <cstddef>
#include <cstdint>

#include "crash_reporter/async_util.h"
#include "crash_reporter/image_list.h"
#include "crash_reporter/report_fields.h"
#include "crash_reporter/thread_state.h"

namespace crash {

inline constexpr char CRASH_LOG_MAGIC[7] = {'c', 'r', 'a', 's', 'h', 'l', 'g'};
inline constexpr std::uint8_t CRASH_LOG_VERSION = 1;
// The size cap of every report file.
inline constexpr std::size_t CRASH_LOG_SIZE_LIMIT = 65536;
// The most frames written for one thread or one exception call stack.
inline constexpr std::size_t CRASH_LOG_MAX_FRAMES = 512;

// ---- Signal names, the phone platform's way (signal_numbers.h).

// "SIGSEGV" and so on, or null for a number without a name. Safe in a signal handler.
const char* crash_async_signal_signame(int signal) noexcept;
// "SEGV_MAPERR" and so on, or null for a code without a name. Safe in a signal handler.
const char* crash_async_signal_sigcode(int signal, int code) noexcept;

// ---- The writer.

struct crash_log_writer {
  std::uint32_t symbolication_strategy;  // CRASH_SYMBOL_STRATEGY_ bits
  bool user_requested;
  std::uint8_t report_uuid[16];
  struct {
    char* version;  // the system's version
    char* build;    // "kern.osversion"
  } system;
  struct {
    char* model;  // "hw.machine"
    std::int32_t cpu_type, cpu_subtype;
    std::int32_t processor_count, logical_processor_count;
  } machine;
  struct {
    char* identifier;
    char* version;
  } application;
  struct {
    char* name;
    std::uint32_t pid;
    char* path;
    std::uint64_t start_time;  // seconds since 1970
    char* parent_name;
    std::uint32_t parent_pid;
    bool native;
  } process;
  struct {
    bool claimed;  // taken (atomically) by the one call that records the exception
    bool has_exception;
    char* name;
    char* reason;
    std::uint64_t* call_stack;
    std::size_t call_stack_count;
  } exception;
};

// The signal a report is written for, numbered the reporter's way, with an optional Mach part.
struct crash_log_signal_info {
  struct {
    int signo;
    int code;
    std::uintptr_t address;
  } bsd;
  struct {
    bool present;
    std::uint64_t type;
    const std::uint64_t* codes;
    std::size_t code_count;
  } mach;
};

// Fills `writer` (which it clears first). The system's version is `system_version`, the device's as
// the application knows it, or the kernel's release without one. CRASH_EINVAL, with the rest left
// unset, when this process's facts cannot be read. Not safe in a signal handler.
crash_error_t crash_log_writer_init(crash_log_writer* writer, const char* app_identifier,
                                    const char* app_version, std::uint32_t symbolication_strategy,
                                    bool user_requested, const char* system_version = nullptr);

// Records an uncaught exception: its name, reason and call-stack return addresses. Only once per
// writer: of calls made at once (threads whose exceptions escape together) one records, the others are
// ignored, as is any later call. Not safe in a signal handler.
void crash_log_writer_set_exception(crash_log_writer* writer, const char* name, const char* reason,
                                    const std::uint64_t* call_stack, std::size_t count);

// Writes one whole report to `file`. `crashed_thread` is marked crashed; `state` holds the calling
// thread's registers (null: the calling thread is left out, as for a report of another thread). The
// other threads are parked for the walk and released before it returns. CRASH_ESUCCESS, also for a
// report cut for its size; CRASH_OUTPUT_ERR when a write failed. Safe in a signal handler.
crash_error_t crash_log_writer_write(crash_log_writer* writer, crash_thread_t crashed_thread,
                                     crash_async_image_list* images, crash_async_file* file,
                                     const crash_log_signal_info* signal,
                                     const crash_async_thread_state* state) noexcept;

crash_error_t crash_log_writer_close(crash_log_writer* writer) noexcept;
// Frees every string and the exception's call stack. Not safe in a signal handler.
void crash_log_writer_free(crash_log_writer* writer);

// Writes a report as a file: under `temp_path` (mode 0600), then renamed to `path` when complete,
// replacing a report an earlier run left waiting there. The other threads stay parked until the file
// is in place. CRASH_EINTERNAL when the file cannot be made or kept, else the writer's result. Safe in
// a signal handler.
//
// The first crash wins. Only the first call in the process writes; a call from another thread (a second
// thread crashing at the same time, or later) touches no file and waits until the first report is
// finished (that thread is meanwhile parked like any other, and listed with the stack of its own crash
// when it got here in time). When the first report was kept, such a call never returns: the first
// crash's thread ends the process with its own signal, the one the report names, and no other
// signal may end it before. When it was not, the call returns CRASH_EINTERNAL. A call on the thread
// that is writing (a fault inside the writer) returns CRASH_EINTERNAL at once; a later call on the
// thread that wrote returns the first report's result.
crash_error_t crash_write_report_file(crash_log_writer* writer, const char* path, const char* temp_path,
                                      crash_thread_t crashed_thread, crash_async_image_list* images,
                                      const crash_log_signal_info* signal,
                                      const crash_async_thread_state* state) noexcept;

// True while the calling thread is writing the process's crash report file: a signal now comes from a
// fault inside the writer. Safe in a signal handler.
bool crash_report_writing_on_this_thread() noexcept;

}  // namespace crash
