#include "crash_reporter/thread_state.h"

namespace crash {
namespace {

struct DwarfEntry {
  std::size_t index;
  std::uint64_t dwarf;
};

// One processor's registers: names by index, the ones a callee preserves, and DWARF numbers.
struct Processor {
  std::int32_t cpu_type;
  std::uint32_t flavor;
  std::uint32_t word_count;
  std::uint32_t greg_size;
  const char* const* names;
  std::size_t count;
  std::uint64_t preserved;  // the registers a callee preserves, as a bit set by index
  const DwarfEntry* dwarf;
  std::size_t dwarf_count;
};

constexpr const char* kArm64Names[] = {"pc",  "fp",  "sp",  "x0",  "x1",  "x2",  "x3",  "x4",  "x5",
                                       "x6",  "x7",  "x8",  "x9",  "x10", "x11", "x12", "x13", "x14",
                                       "x15", "x16", "x17", "x18", "x19", "x20", "x21", "x22", "x23",
                                       "x24", "x25", "x26", "x27", "x28", "lr",  "cpsr"};
constexpr std::size_t kArm64Preserved[] = {22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
constexpr DwarfEntry kArm64Dwarf[] = {{3, 0},   {4, 1},   {5, 2},   {6, 3},   {7, 4},   {8, 5},   {9, 6},
                                      {10, 7},  {11, 8},  {12, 9},  {13, 10}, {14, 11}, {15, 12}, {16, 13},
                                      {17, 14}, {18, 15}, {19, 16}, {20, 17}, {21, 18}, {22, 19}, {23, 20},
                                      {24, 21}, {25, 22}, {26, 23}, {27, 24}, {28, 25}, {29, 26}, {30, 27},
                                      {31, 28}, {1, 29},  {32, 30}, {2, 31}};

constexpr const char* kArmNames[] = {"pc", "r7", "sp", "r0",  "r1",  "r2",  "r3", "r4",  "r5",
                                     "r6", "r8", "r9", "r10", "r11", "r12", "lr", "cpsr"};
constexpr std::size_t kArmPreserved[] = {7, 8, 9, 1, 10, 12, 13};
constexpr DwarfEntry kArmDwarf[] = {{3, 0},   {4, 1},  {5, 2},   {6, 3},  {7, 4},   {8, 5},
                                    {9, 6},   {1, 7},  {10, 8},  {11, 9}, {12, 10}, {13, 11},
                                    {14, 12}, {2, 13}, {15, 14}, {0, 15}};

// The instruction, frame and stack pointers first, like every processor here; then the System V
// order of the rest. DWARF numbers are the System V ABI's (16 is the return address column).
constexpr const char* kX86_64Names[] = {"rip", "rbp", "rsp", "rax",    "rbx", "rcx", "rdx",
                                        "rdi", "rsi", "r8",  "r9",     "r10", "r11", "r12",
                                        "r13", "r14", "r15", "rflags", "cs",  "fs",  "gs"};
constexpr std::size_t kX86_64Preserved[] = {4, 1, 13, 14, 15, 16};
constexpr DwarfEntry kX86_64Dwarf[] = {{3, 0},   {6, 1},   {5, 2},  {4, 3},   {8, 4},   {7, 5},   {1, 6},
                                       {2, 7},   {9, 8},   {10, 9}, {11, 10}, {12, 11}, {13, 12}, {14, 13},
                                       {15, 14}, {16, 15}, {0, 16}, {17, 49}, {18, 51}, {19, 54}, {20, 55}};

template <class T, std::size_t N>
constexpr std::size_t countOf(const T (&)[N]) {
  return N;
}

template <std::size_t N>
constexpr std::uint64_t maskOf(const std::size_t (&indices)[N]) {
  std::uint64_t mask = 0;
  for (std::size_t index : indices) mask |= std::uint64_t{1} << index;
  return mask;
}

constexpr Processor kProcessors[] = {
    {CRASH_CPU_TYPE_ARM64, CRASH_THREAD_STATE_ARM64, 68, 8, kArm64Names, countOf(kArm64Names),
     maskOf(kArm64Preserved), kArm64Dwarf, countOf(kArm64Dwarf)},
    {CRASH_CPU_TYPE_ARM, CRASH_THREAD_STATE_ARM32, 17, 4, kArmNames, countOf(kArmNames), maskOf(kArmPreserved),
     kArmDwarf, countOf(kArmDwarf)},
    {CRASH_CPU_TYPE_X86_64, CRASH_THREAD_STATE_X86_64, 42, 8, kX86_64Names, countOf(kX86_64Names),
     maskOf(kX86_64Preserved), kX86_64Dwarf, countOf(kX86_64Dwarf)},
};
static_assert(countOf(kArm64Names) == 34 && countOf(kArmNames) == 17 && countOf(kX86_64Names) == 21);

const Processor* processorOf(std::int32_t cpu_type) noexcept {
  switch (cpu_type) {
    case CRASH_CPU_TYPE_ARM64:
      return &kProcessors[0];
    case CRASH_CPU_TYPE_ARM:
      return &kProcessors[1];
    case CRASH_CPU_TYPE_X86_64:
      return &kProcessors[2];
    default:
      return nullptr;
  }
}

// The first DWARF table entry of the state's processor that `match` accepts, or null.
template <class Match>
const DwarfEntry* findDwarf(const crash_async_thread_state* state, Match match) noexcept {
  const Processor* processor = processorOf(state->cpu_type);
  for (std::size_t i = 0; processor && i < processor->dwarf_count; ++i) {
    if (match(processor->dwarf[i])) return &processor->dwarf[i];
  }
  return nullptr;
}

// The stack pointer a saved context holds; 0 on a processor this file does not know.
std::uint64_t stackPointerOf(const mcontext_t* mc) noexcept {
#if defined(__x86_64__)
  return static_cast<std::uint64_t>(mc->gregs[REG_RSP]);
#elif defined(__aarch64__)
  return mc->sp;
#elif defined(__arm__)
  return mc->arm_sp;
#else
  (void)mc;
  return 0;
#endif
}

}  // namespace

std::int32_t crash_async_thread_state_native_cpu_type() noexcept {
#if defined(__x86_64__)
  return CRASH_CPU_TYPE_X86_64;
#elif defined(__aarch64__)
  return CRASH_CPU_TYPE_ARM64;
#elif defined(__arm__)
  return CRASH_CPU_TYPE_ARM;
#else
  return 0;
#endif
}

crash_error_t crash_async_thread_state_init(crash_async_thread_state* state, std::int32_t cpu_type) noexcept {
  crash_async_memset(state, 0, sizeof *state);
  state->stack_direction = CRASH_STACK_DIRECTION_DOWN;
  const Processor* processor = processorOf(cpu_type);
  if (!processor) return CRASH_ENOTSUP;
  state->cpu_type = cpu_type;
  state->flavor = processor->flavor;
  state->word_count = processor->word_count;
  state->reg_count = static_cast<std::uint32_t>(processor->count);
  state->greg_size = processor->greg_size;
  return CRASH_ESUCCESS;
}

void crash_async_thread_state_mcontext_init(crash_async_thread_state* state, const mcontext_t* mc) noexcept {
  crash_async_thread_state_init(state, crash_async_thread_state_native_cpu_type());
#if defined(__x86_64__)
  crash_async_thread_state_set_reg(state, 0, static_cast<std::uint64_t>(mc->gregs[REG_RIP]));
  crash_async_thread_state_set_reg(state, 1, static_cast<std::uint64_t>(mc->gregs[REG_RBP]));
  crash_async_thread_state_set_reg(state, 2, stackPointerOf(mc));
  constexpr int kOrder[] = {REG_RAX, REG_RBX, REG_RCX, REG_RDX, REG_RDI, REG_RSI, REG_R8,  REG_R9,
                            REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15, REG_EFL};
  std::size_t index = 3;
  for (int reg : kOrder)
    crash_async_thread_state_set_reg(state, index++, static_cast<std::uint64_t>(mc->gregs[reg]));
  // The kernel packs cs, gs and fs into one word, 16 bits each from the lowest.
  const auto segments = static_cast<std::uint64_t>(mc->gregs[REG_CSGSFS]);
  crash_async_thread_state_set_reg(state, 18, segments & 0xffff);
  crash_async_thread_state_set_reg(state, 19, (segments >> 32) & 0xffff);
  crash_async_thread_state_set_reg(state, 20, (segments >> 16) & 0xffff);
#elif defined(__aarch64__)
  crash_async_thread_state_set_reg(state, 0, mc->pc);
  crash_async_thread_state_set_reg(state, 1, mc->regs[29]);
  crash_async_thread_state_set_reg(state, 2, stackPointerOf(mc));
  for (std::size_t i = 0; i <= 28; ++i) crash_async_thread_state_set_reg(state, 3 + i, mc->regs[i]);
  crash_async_thread_state_set_reg(state, 32, mc->regs[30]);
  crash_async_thread_state_set_reg(state, 33, mc->pstate);
#elif defined(__arm__)
  const unsigned long low[] = {mc->arm_r0, mc->arm_r1, mc->arm_r2, mc->arm_r3,
                               mc->arm_r4, mc->arm_r5, mc->arm_r6};
  const unsigned long high[] = {mc->arm_r8, mc->arm_r9, mc->arm_r10, mc->arm_fp, mc->arm_ip};
  crash_async_thread_state_set_reg(state, 0, mc->arm_pc);
  crash_async_thread_state_set_reg(state, 1, mc->arm_r7);
  crash_async_thread_state_set_reg(state, 2, stackPointerOf(mc));
  for (std::size_t i = 0; i < 7; ++i) crash_async_thread_state_set_reg(state, 3 + i, low[i]);
  for (std::size_t i = 0; i < 5; ++i) crash_async_thread_state_set_reg(state, 10 + i, high[i]);
  crash_async_thread_state_set_reg(state, 15, mc->arm_lr);
  crash_async_thread_state_set_reg(state, 16, mc->arm_cpsr);
#else
  (void)mc;
#endif
}

crash_error_t crash_async_thread_state_parked_init(crash_async_thread_state* state,
                                                   const sys::ParkedThreads* threads,
                                                   std::size_t index) noexcept {
  const mcontext_t* context = sys::parkedThreadContext(threads, index);
  if (!context) {
    crash_async_thread_state_init(state, crash_async_thread_state_native_cpu_type());
    return CRASH_EINTERNAL;
  }
  crash_async_thread_state_mcontext_init(state, context);
  return CRASH_ESUCCESS;
}

bool crash_async_thread_state_parked_stack_pointer(const sys::ParkedThreads* threads, std::size_t index,
                                                   std::uint64_t* stack_pointer) noexcept {
  const mcontext_t* context = sys::parkedThreadContext(threads, index);
  if (!context || crash_async_thread_state_native_cpu_type() == 0) return false;
  *stack_pointer = stackPointerOf(context);
  return true;
}

// Not inlined, so the captured registers are those of a frame of its own that the walk leaves at once.
__attribute__((noinline)) crash_error_t crash_async_thread_state_current(
    crash_async_thread_state_callback callback, void* context) noexcept {
  // getcontext saves the registers with a few instructions and one system call (the signal mask);
  // nothing it does allocates or locks.
  ucontext_t here;
  if (getcontext(&here) != 0) return CRASH_EINTERNAL;
  crash_async_thread_state state;
  crash_async_thread_state_mcontext_init(&state, &here.uc_mcontext);
  return callback(&state, context);
}

std::size_t crash_async_thread_state_get_reg_count(const crash_async_thread_state* state) noexcept {
  return state->reg_count;
}

const char* crash_async_thread_state_get_reg_name(const crash_async_thread_state* state,
                                                  std::size_t index) noexcept {
  const Processor* processor = processorOf(state->cpu_type);
  return processor && index < processor->count ? processor->names[index] : nullptr;
}

void crash_async_thread_state_clear_volatile_regs(crash_async_thread_state* state) noexcept {
  const Processor* processor = processorOf(state->cpu_type);
  state->valid_regs &= processor ? processor->preserved : 0;
}

bool crash_async_thread_state_map_reg_to_dwarf(const crash_async_thread_state* state, std::size_t index,
                                               std::uint64_t* dwarf) noexcept {
  const DwarfEntry* entry = findDwarf(state, [&](const DwarfEntry& e) { return e.index == index; });
  if (entry) *dwarf = entry->dwarf;
  return entry != nullptr;
}

bool crash_async_thread_state_map_dwarf_to_reg(const crash_async_thread_state* state, std::uint64_t dwarf,
                                               std::size_t* index) noexcept {
  // The tables list the low DWARF numbers in order, each at its own position: a walk asks for those
  // several times a frame. (Every number is listed once, so the entry found there is the only one.)
  const Processor* processor = processorOf(state->cpu_type);
  if (processor && dwarf < processor->dwarf_count && processor->dwarf[dwarf].dwarf == dwarf) {
    *index = processor->dwarf[dwarf].index;
    return true;
  }
  const DwarfEntry* entry = findDwarf(state, [&](const DwarfEntry& e) { return e.dwarf == dwarf; });
  if (entry) *index = entry->index;
  return entry != nullptr;
}

}  // namespace crash
