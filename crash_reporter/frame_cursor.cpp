#include "crash_reporter/frame_cursor.h"

namespace crash {
namespace {

// Return addresses below this lie in the lowest pages, which nothing maps: the end of the stack.
constexpr std::uint64_t kLowestReturnAddress = 16385;

}  // namespace

const char* crash_frame_strerror(int error) noexcept {
  switch (error) {
    case CRASH_FRAME_ESUCCESS:
      return "No error";
    case CRASH_FRAME_EUNKNOWN:
      return "Unknown error";
    case CRASH_FRAME_ENOFRAME:
      return "No frames are available";
    case CRASH_FRAME_EBADFRAME:
      return "Corrupted frame";
    case CRASH_FRAME_ENOTSUP:
      return "Operation not supported";
    case CRASH_FRAME_EINVAL:
      return "Invalid argument";
    case CRASH_FRAME_INTERNAL:
      return "Internal error";
    case CRASH_FRAME_EBADREG:
      return "Invalid register";
    default:
      return "Unhandled error code";
  }
}

crash_frame_error_t crash_frame_cursor_init(crash_async_frame_cursor* cursor, crash_task_t task,
                                            const crash_async_thread_state* state,
                                            crash_async_image_list* image_list) noexcept {
  crash_async_memset(cursor, 0, sizeof *cursor);
  cursor->task = task;
  cursor->image_list = image_list;
  crash_async_thread_state_copy(&cursor->frame, state);
  return CRASH_FRAME_ESUCCESS;
}

crash_frame_error_t crash_frame_cursor_thread_init(crash_async_frame_cursor* cursor, crash_task_t task,
                                                   const sys::ParkedThreads* threads, std::size_t index,
                                                   crash_async_image_list* image_list) noexcept {
  crash_async_thread_state state;
  if (crash_async_thread_state_parked_init(&state, threads, index) != CRASH_ESUCCESS)
    return CRASH_FRAME_INTERNAL;
  return crash_frame_cursor_init(cursor, task, &state, image_list);
}

crash_frame_error_t crash_frame_cursor_next(crash_async_frame_cursor* cursor) noexcept {
  static constexpr crash_frame_reader_t kReaders[] = {crash_frame_fp_reader};
  return crash_frame_cursor_next_with_readers(cursor, kReaders, 1);
}

crash_frame_error_t crash_frame_cursor_next_with_readers(crash_async_frame_cursor* cursor,
                                                         const crash_frame_reader_t* readers,
                                                         std::size_t reader_count) noexcept {
  if (cursor->depth == 0) {
    cursor->depth = 1;
    return CRASH_FRAME_ESUCCESS;
  }
  crash_async_thread_state next;
  crash_frame_error_t error = CRASH_FRAME_EINVAL;
  const crash_async_thread_state* previous = cursor->depth < 2 ? nullptr : &cursor->prev_frame;
  for (std::size_t i = 0; i < reader_count; ++i) {
    error = readers[i](cursor->task, cursor->image_list, &cursor->frame, previous, &next);
    if (error == CRASH_FRAME_ESUCCESS) break;
  }
  if (error != CRASH_FRAME_ESUCCESS) return error;
  if (!crash_async_thread_state_has_reg(&next, CRASH_REG_IP) ||
      crash_async_thread_state_get_reg(&next, CRASH_REG_IP) < kLowestReturnAddress) {
    return CRASH_FRAME_ENOFRAME;
  }
  crash_async_thread_state_copy(&cursor->prev_frame, &cursor->frame);
  crash_async_thread_state_copy(&cursor->frame, &next);
  ++cursor->depth;
  return CRASH_FRAME_ESUCCESS;
}

crash_frame_error_t crash_frame_cursor_get_reg(const crash_async_frame_cursor* cursor, std::size_t index,
                                               std::uint64_t* value) noexcept {
  if (!crash_async_thread_state_has_reg(&cursor->frame, index)) return CRASH_FRAME_ENOTSUP;
  *value = crash_async_thread_state_get_reg(&cursor->frame, index);
  return CRASH_FRAME_ESUCCESS;
}

const char* crash_frame_cursor_get_regname(const crash_async_frame_cursor* cursor,
                                           std::size_t index) noexcept {
  return crash_async_thread_state_get_reg_name(&cursor->frame, index);
}

std::size_t crash_frame_cursor_get_regcount(const crash_async_frame_cursor* cursor) noexcept {
  return crash_async_thread_state_get_reg_count(&cursor->frame);
}

void crash_frame_cursor_free(crash_async_frame_cursor* cursor) noexcept {
  crash_async_memset(cursor, 0, sizeof *cursor);
}

crash_frame_error_t crash_frame_fp_reader(crash_task_t task, crash_async_image_list*,
                                          const crash_async_thread_state* current,
                                          const crash_async_thread_state* previous,
                                          crash_async_thread_state* next) noexcept {
  if (!crash_async_thread_state_has_reg(current, CRASH_REG_FP)) return CRASH_FRAME_EBADFRAME;
  const std::uint64_t fp = crash_async_thread_state_get_reg(current, CRASH_REG_FP);
  if (fp == 0) return CRASH_FRAME_ENOFRAME;

  // Each caller's frame lies strictly nearer the stack's base than its callee's. A frame pointer that
  // stays put or moves back would walk in a circle on a damaged stack, so it ends the walk.
  if (previous && crash_async_thread_state_has_reg(previous, CRASH_REG_FP)) {
    const std::uint64_t previousFp = crash_async_thread_state_get_reg(previous, CRASH_REG_FP);
    const bool down = current->stack_direction == CRASH_STACK_DIRECTION_DOWN;
    if (down ? fp <= previousFp : fp >= previousFp) return CRASH_FRAME_EBADFRAME;
  }

  std::uint64_t words[2] = {0, 0};
  if (current->greg_size == 8) {
    if (crash_async_task_read(task, fp, 0, words, sizeof words) != CRASH_ESUCCESS)
      return CRASH_FRAME_EBADFRAME;
  } else {
    std::uint32_t narrow[2];
    if (crash_async_task_read(task, fp, 0, narrow, sizeof narrow) != CRASH_ESUCCESS)
      return CRASH_FRAME_EBADFRAME;
    words[0] = narrow[0];
    words[1] = narrow[1];
  }
  crash_async_thread_state_copy(next, current);
  crash_async_thread_state_clear_all_regs(next);
  crash_async_thread_state_set_reg(next, CRASH_REG_FP, words[0]);
  crash_async_thread_state_set_reg(next, CRASH_REG_IP, words[1]);
  return CRASH_FRAME_ESUCCESS;
}

}  // namespace crash
