#include "crash_reporter/frame_cursor.h"

#include "crash_reporter/image_list.h"
#include "platform/system/eh_frame.h"
#include "platform/system/memory.h"

#include <atomic>

namespace crash {
namespace {

// Return addresses below this lie in the lowest pages, which nothing maps: the end of the stack.
constexpr std::uint64_t kLowestReturnAddress = 16385;

// Whether `address` lies in the code of a listed image; true when there is no list to ask.
bool inListedCode(crash_async_image_list* list, std::uint64_t address) noexcept {
  if (!list) return true;
  crash_async_image_list_set_reading(list, true);
  const bool found = crash_async_image_containing_address(list, static_cast<std::uintptr_t>(address)) != nullptr;
  crash_async_image_list_set_reading(list, false);
  return found;
}

void keepStart(std::uintptr_t address, const char*, void* context) noexcept {
  *static_cast<std::uintptr_t*>(context) = address;
}

// The start of the function holding `pc`, from the listed images' symbols; 0 when unknown.
std::uintptr_t functionStart(crash_async_image_list* list, std::uint64_t pc) noexcept {
  if (!list) return 0;
  std::uintptr_t start = 0;
  crash_async_image_list_set_reading(list, true);
  if (const crash_async_image* image = crash_async_image_containing_address(list, pc))
    crash_async_find_symbol(image, CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr, pc, keepStart, &start);
  crash_async_image_list_set_reading(list, false);
  return start;
}

// Whether an x86-64 PLT entry at `stub` jumps to `function`: "jmp *slot(%rip)", after an optional
// end-branch mark and bnd prefix, with `function` in the slot.
bool pltJumpsTo(crash_task_t task, std::uint64_t stub, std::uint64_t function) noexcept {
  std::uint8_t code[12];
  if (crash_async_task_read(task, stub, 0, code, sizeof code) != CRASH_ESUCCESS) return false;
  std::size_t at = 0;
  if (code[0] == 0xf3 && code[1] == 0x0f && code[2] == 0x1e && code[3] == 0xfa) at = 4;  // endbr64
  if (code[at] == 0xf2) ++at;                                                            // bnd
  if (code[at] != 0xff || code[at + 1] != 0x25) return false;
  std::int32_t displacement;
  crash_async_memcpy(&displacement, code + at + 2, sizeof displacement);
  std::uint64_t target = 0;
  return crash_async_task_read(task, stub + at + 6 + static_cast<std::int64_t>(displacement), 0, &target,
                               sizeof target) == CRASH_ESUCCESS &&
         target == function;
}

// Whether `address` is the return address of a direct x86-64 call ("call rel32") to `function`, made
// straight or through its PLT entry.
bool returnsFromCallTo(crash_task_t task, std::uint64_t address, std::uint64_t function) noexcept {
  std::uint8_t call[5];
  if (address < 5 || crash_async_task_read(task, address - 5, 0, call, sizeof call) != CRASH_ESUCCESS ||
      call[0] != 0xe8)
    return false;
  std::int32_t displacement;
  crash_async_memcpy(&displacement, call + 1, sizeof displacement);
  const std::uint64_t target = address + static_cast<std::int64_t>(displacement);
  return target == function || pltJumpsTo(task, target, function);
}

// What one report's walks keep for each other: the call-frame rows found, by the address looked up
// (direct-mapped), and a window of the stack read last. The stacks hold still while a report is
// written (the other threads are parked; a live report's own thread runs below the frames it walks),
// so a window read once serves the next frames of the same stack: one guarded read for most of a
// thread rather than one per frame. The first windows of many stacks can be read ahead together
// (crash_frame_walk_cache_read_stacks): one gathered read for a report's parked threads rather than one
// each. Static: about 125 KB would not fit the signal stack beside the rest of a report. Its owner is
// known by its thread pointer, which costs no system call to read.
struct WalkCache {
  static constexpr std::size_t kRows = 64;
  std::atomic<std::uintptr_t> owner{0};
  bool used[kRows];   // the slot holds the outcome of a lookup at pcs[slot]...
  bool found[kRows];  // ...which found rows[slot] (else the pc has no row: the next reader tries)
  std::uint64_t pcs[kRows];
  std::uint64_t ruled[kRows];  // the registers rows[slot] has a rule for (ruledRegisters)
  sys::CfiRow rows[kRows];
  sys::CfiCieCache cies;
  std::uint64_t windowBase;
  std::size_t windowLength;
  std::uint8_t window[8192];
  // Windows read ahead, each from a stack pointer up: enough for the innermost frames of most
  // threads; a walk that goes further reads on through `window`.
  static constexpr std::size_t kAheadWindows = CRASH_FRAME_READ_AHEAD_STACKS, kAheadLength = 2048;
  std::size_t aheadCount;
  std::size_t aheadLast;  // the window that served the last read
  std::uint64_t aheadBase[kAheadWindows];
  std::size_t aheadLength[kAheadWindows];
  std::uint8_t ahead[kAheadWindows][kAheadLength];
};
static_assert(WalkCache::kAheadWindows <= sys::kMaxMemoryPieces);
WalkCache gWalkCache;

std::uintptr_t threadPointer() noexcept { return reinterpret_cast<std::uintptr_t>(__builtin_thread_pointer()); }

std::size_t rowSlot(std::uint64_t pc) noexcept { return (pc ^ (pc >> 6) ^ (pc >> 13)) % WalkCache::kRows; }
bool holdsWalkCache() noexcept { return gWalkCache.owner.load(std::memory_order_acquire) == threadPointer(); }

// Whether the `length` bytes at `address` lie in the `windowLength` bytes read at `windowBase`.
bool holds(std::uint64_t windowBase, std::size_t windowLength, std::uint64_t address, std::size_t length) noexcept {
  return address >= windowBase && length <= windowLength && address - windowBase <= windowLength - length;
}

// The window read ahead that holds the bytes, or null; the one that served the last read is tried
// first, since a walk reads its stack a frame after another.
const std::uint8_t* aheadHolding(std::uint64_t address, std::size_t length) noexcept {
  WalkCache& cache = gWalkCache;
  for (std::size_t n = 0; n < cache.aheadCount; ++n) {
    const std::size_t i = (cache.aheadLast + n) % cache.aheadCount;
    if (holds(cache.aheadBase[i], cache.aheadLength[i], address, length)) {
      cache.aheadLast = i;
      return cache.ahead[i] + (address - cache.aheadBase[i]);
    }
  }
  return nullptr;
}

// Reads `length` bytes of a stack at `address`, through the windows when the calling thread holds the
// walk cache.
bool readStack(crash_task_t task, std::uint64_t address, void* out, std::size_t length) noexcept {
  if (!holdsWalkCache()) return crash_async_task_read(task, address, 0, out, length) == CRASH_ESUCCESS;
  WalkCache& cache = gWalkCache;
  if (!holds(cache.windowBase, cache.windowLength, address, length)) {
    if (const std::uint8_t* ahead = aheadHolding(address, length)) {
      crash_async_memcpy(out, ahead, length);
      return true;
    }
    // The window from here up the stack (toward callers), as far as the stack's mapping goes.
    cache.windowBase = address;
    cache.windowLength = sys::readMemoryPrefix(task, address, cache.window, sizeof cache.window);
    if (!holds(cache.windowBase, cache.windowLength, address, length))
      return crash_async_task_read(task, address, 0, out, length) == CRASH_ESUCCESS;
  }
  crash_async_memcpy(out, cache.window + (address - cache.windowBase), length);
  return true;
}

// Looks up the row of call-frame rules in force at `pc` in the listed image that holds it, into
// `*row`; true when there is one. `cies`: the walk cache's CIEs, or null.
bool findRow(crash_task_t task, crash_async_image_list* list, std::uint64_t pc, sys::CfiRow* row,
             sys::CfiCieCache* cies) noexcept {
  crash_async_image_list_set_reading(list, true);
  sys::CfiResult result = sys::CfiResult::kNoEntry;
  if (const crash_async_image* image = crash_async_image_containing_address(list, pc);
      image && image->format == CRASH_IMAGE_ELF)
    result = sys::findCallFrame(task, image->elf.ehFrame, image->cfi_table ? image->cfi_table->data() : nullptr,
                                pc, row, cies);
  crash_async_image_list_set_reading(list, false);
  return result == sys::CfiResult::kFound;
}

// The DWARF registers a row has a rule for, as a bit set: a step visits only those.
std::uint64_t ruledRegisters(const sys::CfiRow& row) noexcept {
  std::uint64_t ruled = 0;
  for (std::size_t i = 0; i < sys::kCfiRegisters; ++i)
    if (row.rules[i].kind != sys::CfiRuleKind::kUnset) ruled |= std::uint64_t{1} << i;
  return ruled;
}

// Calls `visit(dwarf)` for every register of the bit set, lowest first.
template <class Visit>
void forEachRuled(std::uint64_t ruled, Visit visit) noexcept {
  for (; ruled != 0; ruled &= ruled - 1) visit(static_cast<std::uint64_t>(__builtin_ctzll(ruled)));
}

// The saved words a row names, read at once when they lie close together (they usually span a few
// words below the CFA): one guarded read per frame rather than one per register.
struct SavedWords {
  std::uint64_t base = 0;  // address of words[0]
  std::size_t count = 0;
  std::uint64_t words[32];

  void gather(crash_task_t task, const sys::CfiRow& row, std::uint64_t ruled, std::uint64_t cfa) noexcept {
    std::int64_t low = 0, high = 0;
    bool any = false;
    forEachRuled(ruled, [&](std::uint64_t dwarf) {
      const sys::CfiRule& rule = row.rules[dwarf];
      if (rule.kind != sys::CfiRuleKind::kOffset) return;
      low = any && low < rule.value ? low : rule.value;
      high = any && high > rule.value ? high : rule.value;
      any = true;
    });
    if (!any || high - low >= static_cast<std::int64_t>(sizeof words) || (high - low) % 8 != 0) return;
    base = cfa + static_cast<std::uint64_t>(low);
    const std::size_t n = static_cast<std::size_t>((high - low) / 8 + 1);
    if (readStack(task, base, words, n * 8)) count = n;
  }

  bool read(crash_task_t task, std::uint64_t address, std::uint64_t* value) const noexcept {
    if (address >= base && (address - base) % 8 == 0 && (address - base) / 8 < count) {
      *value = words[(address - base) / 8];
      return true;
    }
    return readStack(task, address, value, sizeof *value);
  }
};

// Where a frame lies on its stack: its stack pointer where the walk knows it (the thread's own
// registers, a frame the call-frame or entry reader made), else just beyond the frame record its callee
// held (a frame-pointer reader's frame: the callee's frame pointer and the two words read there, which
// is where the caller's stack pointer goes back to). False when neither is known.
bool stackPosition(const crash_async_thread_state* frame, const crash_async_thread_state* callee,
                   std::uint64_t* position) noexcept {
  if (crash_async_thread_state_has_reg(frame, CRASH_REG_SP)) {
    *position = crash_async_thread_state_get_reg(frame, CRASH_REG_SP);
    return true;
  }
  if (!callee || !crash_async_thread_state_has_reg(callee, CRASH_REG_FP)) return false;
  const std::uint64_t record = 2 * static_cast<std::uint64_t>(callee->greg_size);
  const std::uint64_t fp = crash_async_thread_state_get_reg(callee, CRASH_REG_FP);
  *position = callee->stack_direction == CRASH_STACK_DIRECTION_DOWN ? fp + record : fp - record;
  return true;
}

// Whether the caller `next` lies strictly nearer the stack's base than the current frame. Each reader
// checks its own step, but readers that take turns may each see a step that looks sound (a frame
// pointer that may stay put after a step by call-frame information, a CFA the frame pointer gives) and
// together walk in a circle on a damaged stack; a caller's stack always begins beyond its callee's.
bool movesTowardBase(const crash_async_frame_cursor* cursor, const crash_async_thread_state* next) noexcept {
  std::uint64_t from = 0, to = 0;
  const crash_async_thread_state* callee = cursor->depth >= 2 ? &cursor->prev_frame : nullptr;
  if (!stackPosition(&cursor->frame, callee, &from) || !stackPosition(next, &cursor->frame, &to)) return true;
  return cursor->frame.stack_direction == CRASH_STACK_DIRECTION_DOWN ? to > from : to < from;
}

}  // namespace

namespace {

void dropWalkCache() noexcept {
  for (bool& used : gWalkCache.used) used = false;
  gWalkCache.cies.clear();
  gWalkCache.windowLength = 0;
  gWalkCache.aheadCount = 0;
  gWalkCache.aheadLast = 0;
}

}  // namespace

bool crash_frame_walk_cache_claim() noexcept {
  std::uintptr_t expected = 0;
  if (!gWalkCache.owner.compare_exchange_strong(expected, ~std::uintptr_t{0}, std::memory_order_acq_rel)) {
    // This thread holds it already: a report written from a fault inside an earlier one. The stack has
    // moved since, so what was kept goes; the earlier claim still releases it.
    if (expected == threadPointer()) dropWalkCache();
    return false;
  }
  dropWalkCache();
  gWalkCache.owner.store(threadPointer(), std::memory_order_release);
  return true;
}

void crash_frame_walk_cache_prepare() noexcept {
  if (!crash_frame_walk_cache_claim()) return;
  // Volatile stores, so the compiler keeps every page's write.
  auto* bytes = reinterpret_cast<volatile std::uint8_t*>(&gWalkCache.used);
  const auto* end = reinterpret_cast<const std::uint8_t*>(&gWalkCache + 1);
  for (; bytes < end; bytes += 1024) *bytes = 0;
  crash_frame_walk_cache_release();
}

std::size_t crash_frame_walk_cache_read_stacks(crash_task_t task, const std::uint64_t* stack_pointers,
                                               std::size_t count) noexcept {
  if (!holdsWalkCache()) return 0;
  WalkCache& cache = gWalkCache;
  if (count > WalkCache::kAheadWindows) count = WalkCache::kAheadWindows;
  sys::MemoryPiece pieces[WalkCache::kAheadWindows] = {};
  for (std::size_t i = 0; i < count; ++i) pieces[i] = {stack_pointers[i], cache.ahead[i], WalkCache::kAheadLength};
  sys::readMemoryPiecePrefixes(task, pieces, count, cache.aheadLength);
  for (std::size_t i = 0; i < count; ++i) cache.aheadBase[i] = stack_pointers[i];
  cache.aheadCount = count;
  cache.aheadLast = 0;
  return count;
}

void crash_frame_walk_cache_release() noexcept {
  if (holdsWalkCache()) gWalkCache.owner.store(0, std::memory_order_release);
}

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
  static constexpr crash_frame_reader_t kReaders[] = {crash_frame_cfi_reader, crash_frame_entry_reader,
                                                      crash_frame_fp_reader};
  return crash_frame_cursor_next_with_readers(cursor, kReaders, 3);
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
    if (error == CRASH_FRAME_ESUCCESS || error == CRASH_FRAME_ENOFRAME) break;
  }
  if (error != CRASH_FRAME_ESUCCESS) return error;
  if (!movesTowardBase(cursor, &next)) return CRASH_FRAME_EBADFRAME;
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

namespace {

void* parkedWorkerMain(void* context) {
  auto* worker = static_cast<crash_frame_parked_worker*>(context);
  pthread_mutex_lock(&worker->mutex);
  worker->parked = true;
  pthread_cond_broadcast(&worker->condition);
  while (!worker->stop) pthread_cond_wait(&worker->condition, &worker->mutex);
  pthread_mutex_unlock(&worker->mutex);
  return nullptr;
}

}  // namespace

crash_frame_error_t crash_frame_parked_worker_start(crash_frame_parked_worker* worker) noexcept {
  if (worker->running) return CRASH_FRAME_EINVAL;
  pthread_mutex_init(&worker->mutex, nullptr);
  pthread_cond_init(&worker->condition, nullptr);
  worker->parked = worker->stop = false;
  if (pthread_create(&worker->thread, nullptr, parkedWorkerMain, worker) != 0) {
    pthread_cond_destroy(&worker->condition);
    pthread_mutex_destroy(&worker->mutex);
    return CRASH_FRAME_INTERNAL;
  }
  pthread_mutex_lock(&worker->mutex);
  while (!worker->parked) pthread_cond_wait(&worker->condition, &worker->mutex);
  pthread_mutex_unlock(&worker->mutex);
  worker->running = true;
  return CRASH_FRAME_ESUCCESS;
}

void crash_frame_parked_worker_stop(crash_frame_parked_worker* worker) noexcept {
  if (!worker->running) return;
  pthread_mutex_lock(&worker->mutex);
  worker->stop = true;
  pthread_cond_broadcast(&worker->condition);
  pthread_mutex_unlock(&worker->mutex);
  pthread_join(worker->thread, nullptr);
  pthread_cond_destroy(&worker->condition);
  pthread_mutex_destroy(&worker->mutex);
  worker->running = false;
}

crash_frame_error_t crash_frame_fp_reader(crash_task_t task, crash_async_image_list* image_list,
                                          const crash_async_thread_state* current,
                                          const crash_async_thread_state* previous,
                                          crash_async_thread_state* next) noexcept {
  if (!crash_async_thread_state_has_reg(current, CRASH_REG_FP)) return CRASH_FRAME_EBADFRAME;
  const std::uint64_t fp = crash_async_thread_state_get_reg(current, CRASH_REG_FP);
  if (fp == 0) return CRASH_FRAME_ENOFRAME;

  // Each caller's frame lies strictly nearer the stack's base than its callee's. A frame pointer that
  // stays put or moves back would walk in a circle on a damaged stack, so it ends the walk. The one
  // exception is the frame the entry reader made, which shares its callee's frame pointer (it alone
  // carries a stack pointer).
  const bool fromEntry = crash_async_thread_state_has_reg(current, CRASH_REG_SP) && previous &&
                         crash_async_thread_state_has_reg(previous, CRASH_REG_FP) &&
                         crash_async_thread_state_get_reg(previous, CRASH_REG_FP) == fp;
  if (!fromEntry && previous && crash_async_thread_state_has_reg(previous, CRASH_REG_FP)) {
    const std::uint64_t previousFp = crash_async_thread_state_get_reg(previous, CRASH_REG_FP);
    const bool down = current->stack_direction == CRASH_STACK_DIRECTION_DOWN;
    if (down ? fp <= previousFp : fp >= previousFp) return CRASH_FRAME_EBADFRAME;
  }

  std::uint64_t words[2] = {0, 0};
  if (current->greg_size == 8) {
    if (!readStack(task, fp, words, sizeof words)) return CRASH_FRAME_EBADFRAME;
  } else {
    std::uint32_t narrow[2];
    if (!readStack(task, fp, narrow, sizeof narrow)) return CRASH_FRAME_EBADFRAME;
    words[0] = narrow[0];
    words[1] = narrow[1];
  }
  // A return address in no listed image's code is no return address: code that keeps no frame pointer
  // left another value in the register, and a walk on from it would only invent frames.
  if (!inListedCode(image_list, words[1])) return CRASH_FRAME_ENOFRAME;
  crash_async_thread_state_copy(next, current);
  crash_async_thread_state_clear_all_regs(next);
  crash_async_thread_state_set_reg(next, CRASH_REG_FP, words[0]);
  crash_async_thread_state_set_reg(next, CRASH_REG_IP, words[1]);
  next->return_address = true;
  return CRASH_FRAME_ESUCCESS;
}

namespace {

// The call-frame reader's step by a row found for the current frame; `ruled` as ruledRegisters(row).
crash_frame_error_t stepByRow(crash_task_t task, crash_async_image_list* image_list,
                              const crash_async_thread_state* current, const sys::CfiRow& row,
                              std::uint64_t ruled, crash_async_thread_state* next) noexcept {
  // The CFA: the caller's stack pointer, strictly above this frame's on a downward stack.
  std::size_t cfaIndex = 0;
  if (!crash_async_thread_state_map_dwarf_to_reg(current, row.cfaRegister, &cfaIndex) ||
      !crash_async_thread_state_has_reg(current, cfaIndex))
    return CRASH_FRAME_ENOTSUP;
  const std::uint64_t cfa = crash_async_thread_state_get_reg(current, cfaIndex) + static_cast<std::uint64_t>(row.cfaOffset);
  if (crash_async_thread_state_has_reg(current, CRASH_REG_SP)) {
    const std::uint64_t sp = crash_async_thread_state_get_reg(current, CRASH_REG_SP);
    const bool down = current->stack_direction == CRASH_STACK_DIRECTION_DOWN;
    if (down ? cfa <= sp : cfa >= sp) return CRASH_FRAME_EBADFRAME;
  }

  SavedWords saved;
  saved.gather(task, row, ruled, cfa);
  // The caller's value of DWARF register `dwarf` (this frame's register `index`, when `mapped`) under
  // its rule; false when it is not known.
  auto callerValue = [&](std::uint64_t dwarf, bool mapped, std::size_t index, std::uint64_t* value) noexcept {
    const sys::CfiRule rule = dwarf < sys::kCfiRegisters ? row.rules[dwarf] : sys::CfiRule{};
    switch (rule.kind) {
      case sys::CfiRuleKind::kUnset:
      case sys::CfiRuleKind::kSameValue:
        if (!mapped || !crash_async_thread_state_has_reg(current, index)) return false;
        *value = crash_async_thread_state_get_reg(current, index);
        return true;
      case sys::CfiRuleKind::kOffset:
        return saved.read(task, cfa + static_cast<std::uint64_t>(rule.value), value);
      case sys::CfiRuleKind::kValOffset:
        *value = cfa + static_cast<std::uint64_t>(rule.value);
        return true;
      case sys::CfiRuleKind::kRegister: {
        std::size_t source = 0;
        if (!crash_async_thread_state_map_dwarf_to_reg(current, static_cast<std::uint64_t>(rule.value), &source) ||
            !crash_async_thread_state_has_reg(current, source))
          return false;
        *value = crash_async_thread_state_get_reg(current, source);
        return true;
      }
      case sys::CfiRuleKind::kUndefined:
      case sys::CfiRuleKind::kExpression:
        return false;
    }
    return false;
  };

  // The return address first: undefined means the outermost function, whose caller does not exist.
  const sys::CfiRule returnRule =
      row.returnAddressRegister < sys::kCfiRegisters ? row.rules[row.returnAddressRegister] : sys::CfiRule{};
  if (returnRule.kind == sys::CfiRuleKind::kUndefined) return CRASH_FRAME_ENOFRAME;
  std::uint64_t returnAddress = 0;
  std::size_t returnIndex = 0;
  const bool returnMapped = crash_async_thread_state_map_dwarf_to_reg(current, row.returnAddressRegister, &returnIndex);
  if (!callerValue(row.returnAddressRegister, returnMapped, returnIndex, &returnAddress)) return CRASH_FRAME_EBADFRAME;
  if (!inListedCode(image_list, returnAddress)) return CRASH_FRAME_ENOFRAME;

  // The caller's registers: those a callee preserves, unless a rule says otherwise; then the stack
  // pointer (the CFA) and the pc (the return address). Registers without a rule keep what the copy
  // kept.
  crash_async_thread_state_copy(next, current);
  crash_async_thread_state_clear_volatile_regs(next);
  forEachRuled(ruled, [&](std::uint64_t dwarf) {
    if (dwarf == row.returnAddressRegister) return;
    std::size_t index = 0;
    if (!crash_async_thread_state_map_dwarf_to_reg(current, dwarf, &index)) return;
    std::uint64_t value = 0;
    if (callerValue(dwarf, true, index, &value))
      crash_async_thread_state_set_reg(next, index, value);
    else
      crash_async_thread_state_clear_reg(next, index);
  });
  crash_async_thread_state_set_reg(next, CRASH_REG_SP, cfa);
  crash_async_thread_state_set_reg(next, CRASH_REG_IP, returnAddress);
  next->return_address = true;
  return CRASH_FRAME_ESUCCESS;
}

// A walk without the walk cache looks its row up into a row of its own.
[[gnu::noinline]] crash_frame_error_t stepUncached(crash_task_t task, crash_async_image_list* image_list,
                                                   const crash_async_thread_state* current, std::uint64_t pc,
                                                   crash_async_thread_state* next) noexcept {
  sys::CfiRow row;
  if (!findRow(task, image_list, pc, &row, nullptr)) return CRASH_FRAME_ENOTSUP;
  return stepByRow(task, image_list, current, row, ruledRegisters(row), next);
}

}  // namespace

crash_frame_error_t crash_frame_cfi_reader(crash_task_t task, crash_async_image_list* image_list,
                                           const crash_async_thread_state* current,
                                           const crash_async_thread_state*,
                                           crash_async_thread_state* next) noexcept {
  if (!image_list || current->greg_size != 8 || !crash_async_thread_state_has_reg(current, CRASH_REG_IP))
    return CRASH_FRAME_ENOTSUP;
  const std::uint64_t pc = crash_async_lookup_address(crash_async_thread_state_get_reg(current, CRASH_REG_IP),
                                                      current->return_address);
  if (!holdsWalkCache()) return stepUncached(task, image_list, current, pc, next);
  // The walk cache keeps each row found (or that none was) for the next thread passing the same code.
  WalkCache& cache = gWalkCache;
  const std::size_t slot = rowSlot(pc);
  if (!cache.used[slot] || cache.pcs[slot] != pc) {
    cache.used[slot] = false;
    cache.found[slot] = findRow(task, image_list, pc, &cache.rows[slot], &cache.cies);
    cache.ruled[slot] = cache.found[slot] ? ruledRegisters(cache.rows[slot]) : 0;
    cache.pcs[slot] = pc;
    cache.used[slot] = true;
  }
  if (!cache.found[slot]) return CRASH_FRAME_ENOTSUP;
  return stepByRow(task, image_list, current, cache.rows[slot], cache.ruled[slot], next);
}

crash_frame_error_t crash_frame_entry_reader(crash_task_t task, crash_async_image_list* image_list,
                                             const crash_async_thread_state* current,
                                             const crash_async_thread_state* previous,
                                             crash_async_thread_state* next) noexcept {
  // Only a thread's own registers (the first frame) say where its stack pointer was.
  if (previous || current->cpu_type != CRASH_CPU_TYPE_X86_64 ||
      !crash_async_thread_state_has_reg(current, CRASH_REG_SP) ||
      !crash_async_thread_state_has_reg(current, CRASH_REG_FP) ||
      !crash_async_thread_state_has_reg(current, CRASH_REG_IP))
    return CRASH_FRAME_ENOTSUP;
  const std::uint64_t pc = crash_async_thread_state_get_reg(current, CRASH_REG_IP);
  const std::uint64_t sp = crash_async_thread_state_get_reg(current, CRASH_REG_SP);
  const std::uint64_t fp = crash_async_thread_state_get_reg(current, CRASH_REG_FP);
  const std::uintptr_t function = functionStart(image_list, pc);
  if (function == 0) return CRASH_FRAME_ENOTSUP;
  // The return address on top of the stack, or just above the pushed frame pointer...
  std::uint64_t top[2] = {0, 0};
  if (!readStack(task, sp, top, sizeof top)) return CRASH_FRAME_ENOTSUP;
  std::size_t slot = 2;
  if (inListedCode(image_list, top[0]) && returnsFromCallTo(task, top[0], function))
    slot = 0;
  else if (top[0] == fp && inListedCode(image_list, top[1]) && returnsFromCallTo(task, top[1], function))
    slot = 1;
  if (slot == 2) return CRASH_FRAME_ENOTSUP;
  // ...unless the frame pointer already belongs to this function: its return address then leads to
  // the same caller, and the slot above is a stale one of an earlier call.
  std::uint64_t framed = 0;
  if (slot == 0 && fp != 0 && crash_async_task_read(task, fp, 8, &framed, sizeof framed) == CRASH_ESUCCESS &&
      returnsFromCallTo(task, framed, function))
    return CRASH_FRAME_ENOTSUP;
  crash_async_thread_state_copy(next, current);
  crash_async_thread_state_clear_all_regs(next);
  crash_async_thread_state_set_reg(next, CRASH_REG_FP, fp);
  crash_async_thread_state_set_reg(next, CRASH_REG_IP, top[slot]);
  crash_async_thread_state_set_reg(next, CRASH_REG_SP, sp + 8 * (slot + 1));
  next->return_address = true;
  return CRASH_FRAME_ESUCCESS;
}

}  // namespace crash
