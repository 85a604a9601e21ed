#pragma once
// A thread's registers in one record for every processor the reporter knows: ARM64 and 32-bit ARM
// (the phone's processors, whose reports must read the same wherever they were written) and x86-64
// (where this build runs). Registers are numbered the reporter's way, the same on every processor:
// index 0 is the instruction pointer, 1 the frame pointer, 2 the stack pointer; the rest follow in the
// processor's own order (the tables in thread_state.cpp). A register index the processor does not
// have is never an error that ends the process: it has no name, reads as 0 and cannot be set.
//
// A record is filled from a signal's machine context, from a thread parked by the thread-parking
// layer (platform/system/threads.h), or from the calling thread itself. Everything in this header is
// safe to call from a signal handler: fixed-size values, no allocation, no lock.

#include <ucontext.h>

#include <cstddef>
#include <cstdint>

#include "crash_reporter/async_util.h"
#include "platform/system/threads.h"

namespace crash {

// The platform's CPU type numbers, as reports carry them.
inline constexpr std::int32_t CRASH_CPU_TYPE_ARM = 12;
inline constexpr std::int32_t CRASH_CPU_TYPE_ARM64 = 0x100000c;
inline constexpr std::int32_t CRASH_CPU_TYPE_X86_64 = 0x1000007;

// Flavors of the register block, in the platform's numbering, and its size in 32-bit words.
inline constexpr std::uint32_t CRASH_THREAD_STATE_ARM64 = 6;   // 68 words
inline constexpr std::uint32_t CRASH_THREAD_STATE_ARM32 = 9;   // 17 words
inline constexpr std::uint32_t CRASH_THREAD_STATE_X86_64 = 4;  // 42 words

inline constexpr std::uint32_t CRASH_STACK_DIRECTION_UP = 1;
inline constexpr std::uint32_t CRASH_STACK_DIRECTION_DOWN = 2;

// The most registers any known processor has (ARM64: 34).
inline constexpr std::size_t CRASH_MAX_REGISTERS = 34;

// Register indices every processor shares.
inline constexpr std::size_t CRASH_REG_IP = 0;
inline constexpr std::size_t CRASH_REG_FP = 1;
inline constexpr std::size_t CRASH_REG_SP = 2;

struct crash_async_thread_state {
  std::uint32_t stack_direction;            // CRASH_STACK_DIRECTION_DOWN after every initialiser
  std::uint32_t greg_size;                  // bytes of a general register: 8 (ARM64, x86-64) or 4 (ARM)
  std::uint64_t valid_regs;                 // bit n set when register n holds a value
  std::int32_t cpu_type;                    // one of the CRASH_CPU_TYPE_ values
  std::uint32_t flavor;                     // one of the CRASH_THREAD_STATE_ values
  std::uint32_t word_count;                 // size of the platform's register block, in 32-bit words
  std::uint32_t reg_count;                  // registers of the processor (0 for an unknown one)
  std::uint64_t regs[CRASH_MAX_REGISTERS];  // by register index; 32-bit registers zero-extended
  // The pc is a return address (a caller's frame, made by a frame reader), not the instruction that
  // was running: the call lies just before it, and a call that never returns may be the last
  // instruction of its function, so lookups of this frame use pc - 1. Every initialiser clears it.
  bool return_address;
};

// The address to look a frame's code up at (its function, its symbol, its call-frame rules): the call
// just before `pc` when it is a return address, `pc` itself otherwise. Safe in a signal handler.
inline std::uint64_t crash_async_lookup_address(std::uint64_t pc, bool return_address) noexcept {
  return return_address && pc > 0 ? pc - 1 : pc;
}

// The CPU type this program runs as (CRASH_CPU_TYPE_X86_64 here).
std::int32_t crash_async_thread_state_native_cpu_type() noexcept;

// Clears `state` for `cpu_type`: no register valid, the stack growing down. CRASH_ENOTSUP for a
// processor the reporter does not know (the record is then cleared with no registers).
crash_error_t crash_async_thread_state_init(crash_async_thread_state* state, std::int32_t cpu_type) noexcept;

// Fills `state` from a signal's machine context of this processor; every register is valid.
void crash_async_thread_state_mcontext_init(crash_async_thread_state* state,
                                            const mcontext_t* mcontext) noexcept;

// Fills `state` from entry `index` of `threads`. CRASH_EINTERNAL, with no register valid, when that
// thread is not parked (it did not answer in time, or is gone).
crash_error_t crash_async_thread_state_parked_init(crash_async_thread_state* state,
                                                   const sys::ParkedThreads* threads,
                                                   std::size_t index) noexcept;
// The stack pointer entry `index` of `threads` was parked with, without filling a whole record; false
// when that thread is not parked.
bool crash_async_thread_state_parked_stack_pointer(const sys::ParkedThreads* threads, std::size_t index,
                                                   std::uint64_t* stack_pointer) noexcept;

// Captures the calling thread's registers at the call and returns `callback(state, context)`. The
// first frame is this function's own; the walk goes on into the caller's.
using crash_async_thread_state_callback = crash_error_t (*)(crash_async_thread_state* state, void* context);
crash_error_t crash_async_thread_state_current(crash_async_thread_state_callback callback,
                                               void* context) noexcept;

// A plain value copy: the compiler moves it in wide words.
inline void crash_async_thread_state_copy(crash_async_thread_state* dest,
                                          const crash_async_thread_state* source) noexcept {
  *dest = *source;
}

// The number of registers of the state's processor (34 ARM64, 17 ARM, 21 x86-64, 0 unknown).
std::size_t crash_async_thread_state_get_reg_count(const crash_async_thread_state* state) noexcept;
// The register's name as reports write it ("pc", "fp", "rip"), or null for an index the processor
// does not have.
const char* crash_async_thread_state_get_reg_name(const crash_async_thread_state* state,
                                                  std::size_t index) noexcept;
// The accessors below are inline: a walk calls them dozens of times a frame.
inline bool crash_async_thread_state_has_reg(const crash_async_thread_state* state, std::size_t index) noexcept {
  return index < state->reg_count && (state->valid_regs & (std::uint64_t{1} << index)) != 0;
}
// The value of the register, or 0 when the processor has no such register.
inline std::uint64_t crash_async_thread_state_get_reg(const crash_async_thread_state* state,
                                                      std::size_t index) noexcept {
  return index < state->reg_count ? state->regs[index] : 0;
}
// Sets the register and marks it valid; nothing happens for an index the processor does not have.
// On ARM the value is cut to 32 bits.
inline void crash_async_thread_state_set_reg(crash_async_thread_state* state, std::size_t index,
                                             std::uint64_t value) noexcept {
  if (index >= state->reg_count) return;
  state->regs[index] = state->greg_size == 4 ? (value & 0xffffffffu) : value;
  state->valid_regs |= std::uint64_t{1} << index;
}
inline void crash_async_thread_state_clear_reg(crash_async_thread_state* state, std::size_t index) noexcept {
  if (index < state->reg_count) state->valid_regs &= ~(std::uint64_t{1} << index);
}
inline void crash_async_thread_state_clear_all_regs(crash_async_thread_state* state) noexcept {
  state->valid_regs = 0;
}
// Keeps only the registers a called function must preserve (ARM: r4-r8, r10, r11; ARM64: x19-x28;
// x86-64: rbx, rbp, r12-r15), and only those that were valid.
void crash_async_thread_state_clear_volatile_regs(crash_async_thread_state* state) noexcept;

// The DWARF number of a register index and back; false when the processor's DWARF has no mapping.
bool crash_async_thread_state_map_reg_to_dwarf(const crash_async_thread_state* state, std::size_t index,
                                               std::uint64_t* dwarf) noexcept;
bool crash_async_thread_state_map_dwarf_to_reg(const crash_async_thread_state* state, std::uint64_t dwarf,
                                               std::size_t* index) noexcept;

}  // namespace crash
