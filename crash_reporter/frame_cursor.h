#pragma once
// Walking a thread's stack, one frame at a time. The first frame is the thread's registers
// themselves; each further frame comes from the first of a list of frame readers that can make one
// from the frame before it. The main reader is the call-frame reader: the image holding the pc says,
// through its call-frame information (platform/system/eh_frame.h, searched in tables copied when the
// image was listed), where the caller's return address and saved registers are, also in code built
// without frame pointers (the C library under abort(), a leaf that crashed before setting up a frame,
// a thread waiting in a system call). Where an image has none, the frame-pointer reader: a frame
// pointer points at the caller's saved frame pointer with the return address one word above it
// (x86-64, ARM64 and ARM alike), so each step reads two words of the stack.
//
// A walk must end on a damaged stack: every read goes through the reads that never fault
// (async_util.h), a frame pointer that does not move strictly toward the stack's base ends it, so does
// a caller whose frame does not lie beyond its callee's (whichever readers made the two), and so does a
// return address below 16385 (null, or garbage from the lowest page).
//
// Everything in this header is safe to call from a signal handler.

#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "crash_reporter/async_util.h"
#include "crash_reporter/thread_state.h"

namespace crash {

struct crash_async_image_list;

enum crash_frame_error_t : int {
  CRASH_FRAME_ESUCCESS = 0,   // "No error"
  CRASH_FRAME_EUNKNOWN = 1,   // "Unknown error"
  CRASH_FRAME_ENOFRAME = 2,   // "No frames are available"
  CRASH_FRAME_EBADFRAME = 3,  // "Corrupted frame"
  CRASH_FRAME_ENOTSUP = 4,    // "Operation not supported"
  CRASH_FRAME_EINVAL = 5,     // "Invalid argument"
  CRASH_FRAME_INTERNAL = 6,   // "Internal error"
  CRASH_FRAME_EBADREG = 7,    // "Invalid register"
};

// The text of a frame error code; any code outside the table gives "Unhandled error code".
const char* crash_frame_strerror(int error) noexcept;

// Makes the frame after `current` (its caller) in `*next`. `previous` is the frame before `current`,
// or null while the walk has produced fewer than two frames.
using crash_frame_reader_t = crash_frame_error_t (*)(crash_task_t task, crash_async_image_list* image_list,
                                                     const crash_async_thread_state* current,
                                                     const crash_async_thread_state* previous,
                                                     crash_async_thread_state* next);

struct crash_async_frame_cursor {
  crash_task_t task;
  crash_async_image_list* image_list;  // not owned; may be null
  std::uint32_t depth;                 // frames produced so far
  crash_async_thread_state prev_frame;
  crash_async_thread_state frame;
};

// Starts a walk at `state`. Returns CRASH_FRAME_ESUCCESS.
crash_frame_error_t crash_frame_cursor_init(crash_async_frame_cursor* cursor, crash_task_t task,
                                            const crash_async_thread_state* state,
                                            crash_async_image_list* image_list) noexcept;

// Starts a walk at the registers of entry `index` of `threads`; CRASH_FRAME_INTERNAL when that thread
// is not parked (it has no registers to start from).
crash_frame_error_t crash_frame_cursor_thread_init(crash_async_frame_cursor* cursor, crash_task_t task,
                                                   const sys::ParkedThreads* threads, std::size_t index,
                                                   crash_async_image_list* image_list) noexcept;

// Steps to the next frame with the call-frame reader, then the entry reader, then the frame-pointer
// reader.
crash_frame_error_t crash_frame_cursor_next(crash_async_frame_cursor* cursor) noexcept;

// Steps to the next frame with the first of `readers` that makes one; the last reader's error when
// none does (CRASH_FRAME_EINVAL for an empty list), CRASH_FRAME_EBADFRAME when the frame made does not
// lie beyond the current one on the stack (its stack pointer, or the end of the frame record it was
// read from, against the current frame's). A reader that answers CRASH_FRAME_ENOFRAME knows
// the stack ends there (the outermost function says it has no caller): no later reader is asked. The
// first step yields the starting registers.
crash_frame_error_t crash_frame_cursor_next_with_readers(crash_async_frame_cursor* cursor,
                                                         const crash_frame_reader_t* readers,
                                                         std::size_t reader_count) noexcept;

// The register `index` of the current frame: CRASH_FRAME_ENOTSUP when it holds no value there.
crash_frame_error_t crash_frame_cursor_get_reg(const crash_async_frame_cursor* cursor, std::size_t index,
                                               std::uint64_t* value) noexcept;
const char* crash_frame_cursor_get_regname(const crash_async_frame_cursor* cursor,
                                           std::size_t index) noexcept;
std::size_t crash_frame_cursor_get_regcount(const crash_async_frame_cursor* cursor) noexcept;

// Ends a walk. The cursor holds nothing that needs releasing here (a task is a process id), so this
// only clears it.
void crash_frame_cursor_free(crash_async_frame_cursor* cursor) noexcept;

// A worker thread parked beside the walker, for work that must run off the crashed thread: start
// creates a thread that signals a condition and then waits on it; stop signals it and joins it. A
// record starts value-initialised (`crash_frame_parked_worker worker{};`). Nothing in the system
// starts one yet. Not safe in a signal handler.
struct crash_frame_parked_worker {
  pthread_t thread;
  pthread_mutex_t mutex;
  pthread_cond_t condition;
  bool running;  // between a successful start and its stop
  bool parked;   // the thread reached its wait
  bool stop;     // asked to end
};

// Starts the worker and returns once it waits. CRASH_FRAME_EINVAL when it runs already,
// CRASH_FRAME_INTERNAL when no thread can be made.
crash_frame_error_t crash_frame_parked_worker_start(crash_frame_parked_worker* worker) noexcept;
// Ends a started worker and waits for its thread to finish; nothing for one not running.
void crash_frame_parked_worker_stop(crash_frame_parked_worker* worker) noexcept;

// The entry reader, tried first: the crash site's function may not have set up its own frame yet (a
// leaf that sets up none, or any function stopped before its prologue, which the compiler may move off
// the path that crashed). Its frame pointer is then still its caller's, and a frame-pointer walk would
// skip the caller. For the first frame only (the thread's own registers, x86-64), when the word on top
// of the stack (or the one above a just-pushed frame pointer) returns from a direct call to the function
// holding the pc, named by the listed images' symbols, and the frame pointer's return address does not,
// the next frame is that caller, sharing the frame pointer. CRASH_FRAME_ENOTSUP otherwise.
crash_frame_error_t crash_frame_entry_reader(crash_task_t task, crash_async_image_list* image_list,
                                             const crash_async_thread_state* current,
                                             const crash_async_thread_state* previous,
                                             crash_async_thread_state* next) noexcept;

// The call-frame reader: the caller of the current frame from the call-frame information of the image
// that holds its pc (looked up at pc - 1 for a return address). Restores the stack pointer (the CFA),
// the return address and every saved register the information names; registers a callee preserves
// keep their values. CRASH_FRAME_ENOTSUP when there is no image list, no listed image holds the pc,
// the image has no call-frame information for it, or the rules need what the frame does not hold; the
// next reader then tries. CRASH_FRAME_EBADFRAME when the CFA does not lie above the stack pointer (on
// a downward stack) or a saved register cannot be read; CRASH_FRAME_ENOFRAME when the return address
// is undefined there (the thread's outermost function) or lies in no listed image's code.
crash_frame_error_t crash_frame_cfi_reader(crash_task_t task, crash_async_image_list* image_list,
                                           const crash_async_thread_state* current,
                                           const crash_async_thread_state* previous,
                                           crash_async_thread_state* next) noexcept;

// What one report's walks share: the rows of call-frame rules found, and that none was found (the
// threads of a process mostly wait in the same few functions, and a row found once spares the next
// thread's walk the reads of its records), a window of the stack read last (one guarded read serves
// the next frames of a stack), and the stacks read ahead (below).
// A report's writer claims it for its walks (true when it got it: one caller at a time, a second one
// walks without; a nested claim on the thread holding it empties it and walks on with it) and releases
// it after; everything kept is dropped at every claim, since images come
// and go and stacks move between reports. Only valid while the stacks walked hold still. Safe in a
// signal handler.
bool crash_frame_walk_cache_claim() noexcept;
void crash_frame_walk_cache_release() noexcept;
// For the caller holding the cache: reads the innermost part of up to CRASH_FRAME_READ_AHEAD_STACKS
// stacks, from each of `stack_pointers` up, in one gathered read (instead of one read each when their
// walks begin); the walks then read them as they were when read, until the next call or the release.
// Returns how many of the stacks it took (0 without the cache).
inline constexpr std::size_t CRASH_FRAME_READ_AHEAD_STACKS = 32;
std::size_t crash_frame_walk_cache_read_stacks(crash_task_t task, const std::uint64_t* stack_pointers,
                                               std::size_t count) noexcept;
// Touches the cache's memory once, before any crash: its first use on the crash path would otherwise
// fault in a dozen fresh pages. Not needed for correctness. Safe in a signal handler, but meant for
// start-up.
void crash_frame_walk_cache_prepare() noexcept;

// The frame-pointer reader. With an image list, a return address outside every listed image's code
// ends the walk (CRASH_FRAME_ENOFRAME).
crash_frame_error_t crash_frame_fp_reader(crash_task_t task, crash_async_image_list* image_list,
                                          const crash_async_thread_state* current,
                                          const crash_async_thread_state* previous,
                                          crash_async_thread_state* next) noexcept;

}  // namespace crash
