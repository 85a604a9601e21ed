#pragma once
// The call-frame information of a mapped ELF object: how to find, at any instruction, where its
// caller's frame and saved registers are. Code built without frame pointers (the C library, the C++
// runtime) can only be walked through this.
//
// Every object the loader maps carries it twice over in memory: .eh_frame, the records themselves
// (one CIE per group of functions, one FDE per function), and .eh_frame_hdr (PT_GNU_EH_FRAME), a
// table of (function start, FDE) pairs sorted by start, for a binary search. The section headers are
// not mapped, so the program header is the way in.
//
//   eh_frame_hdr := version(1) eh_frame_ptr_enc fde_count_enc table_enc
//                   eh_frame_ptr fde_count (initial_location fde_address){fde_count}
//   CIE := length id(0) version augmentation code_align(uleb) data_align(sleb) ra_register
//          [augmentation data ("z": its length first; "R" FDE pointer encoding, "P" personality,
//          "L" LSDA encoding, "S" signal frame)] initial_instructions
//   FDE := length cie_pointer pc_begin pc_range [augmentation data] instructions
//
// The instructions are the DWARF call-frame program: a row of rules (the CFA as register plus offset;
// each register undefined, the same, saved at CFA plus offset, equal to CFA plus offset, or in another
// register) that advances with the code. findCallFrame runs the CIE's program and then the FDE's up to
// the instruction asked for and hands back that row. DWARF expressions are not evaluated (only the
// loader's PLT stubs and the signal return trampoline use them): such a row is kUnsupported, and the
// caller walks on some other way.
//
// Trust: the bytes are another object's and may be damaged. Everything is read through readMemory,
// every length and count is bounded, a program that runs past its record is malformed, and nothing
// loops longer than its record. Everything but copyEhFrameTable is safe in a signal handler: guarded
// reads into fixed stack buffers, no allocation, no lock.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/system/memory.h"

namespace sys {

// Where an object's sorted table of functions lies, from its mapped .eh_frame_hdr.
struct EhFrameIndex {
  std::uintptr_t header = 0;  // the mapped .eh_frame_hdr; 0 when the object has none (or one not searchable)
  std::uintptr_t table = 0;   // its first entry: two signed 32-bit offsets from `header` per function
  std::size_t count = 0;      // entries in the table
};

// Reads the .eh_frame_hdr at `header`. False (and `*index` empty) when it cannot be read or its table
// is not the sorted kind every linker writes (signed 32-bit offsets from the header). Safe in a
// signal handler.
bool readEhFrameIndex(Task task, std::uintptr_t header, EhFrameIndex* index) noexcept;

// The table of `index` copied out, two 32-bit words per entry, so the crash path searches its own
// memory instead of reading the object's a few words at a time. Empty when it cannot be read. Not
// safe in a signal handler.
std::vector<std::int32_t> copyEhFrameTable(Task task, const EhFrameIndex& index);

// The most DWARF registers a row keeps rules for: x86-64 uses 0-16 (16 the return address), AArch64
// 0-32.
inline constexpr std::size_t kCfiRegisters = 33;

enum class CfiRuleKind : std::uint8_t {
  kUnset,       // no rule: a register the callee must preserve still holds the caller's value
  kUndefined,   // the caller's value is lost (for the return address: there is no caller)
  kSameValue,   // unchanged
  kOffset,      // saved in memory at CFA + value
  kValOffset,   // is CFA + value
  kRegister,    // is held in register `value`
  kExpression,  // a DWARF expression: not evaluated
};

struct CfiRule {
  CfiRuleKind kind = CfiRuleKind::kUnset;
  std::int64_t value = 0;
};

// One row of a function's call-frame table: the rules in force at one instruction.
struct CfiRow {
  std::uint64_t cfaRegister = 0;  // the CFA is this DWARF register's value...
  std::int64_t cfaOffset = 0;     // ...plus this
  bool cfaExpression = false;     // the CFA is a DWARF expression instead
  std::uint64_t returnAddressRegister = 16;
  bool signalFrame = false;       // the function is a signal trampoline ("S")
  std::uintptr_t functionStart = 0;
  CfiRule rules[kCfiRegisters];
};

// What one walker keeps between lookups: the CIEs it has read (an object shares one or a few among all
// its functions, so most lookups find theirs here) and the records it read last. Fixed size, for
// static storage; a value-initialised cache is empty; one user at a time; clear() between walks, as
// images may have come and gone.
struct CfiCieCache {
  struct Entry {
    std::uintptr_t address = 0;  // 0: unused
    std::uint64_t codeAlign = 1;
    std::int64_t dataAlign = 1;
    std::uint8_t fdeEncoding = 0;
    bool hasAugmentationData = false;
    CfiRow initial;  // the row the CIE's own program makes (return address register, signal frame too)
  };
  static constexpr std::size_t kEntries = 8;
  Entry entries[kEntries];
  std::size_t next = 0;  // the entry replaced next
  // The records read last, a kilobyte around where a record was wanted: a function's CIE and its
  // neighbours' records often lie close to its own. Several such windows, the oldest replaced, so that
  // the objects a walk passes through in turn each keep theirs. Small ones: a record takes a few dozen
  // bytes, and on the crash path every byte read is a cold one, copied by the kernel.
  struct Window {
    std::uintptr_t base = 0;
    std::size_t length = 0;
    std::uint8_t bytes[1024];
  };
  static constexpr std::size_t kWindows = 8;
  Window windows[kWindows];
  std::size_t nextWindow = 0;  // the window replaced next
  void clear() noexcept {
    for (Entry& entry : entries) entry.address = 0;
    next = 0;
    for (Window& window : windows) window.length = 0;
    nextWindow = 0;
  }
};

enum class CfiResult {
  kFound,
  kNoEntry,      // no function of the table covers the address
  kMalformed,    // the records cannot be right, or cannot be read
  kUnsupported,  // the row needs a DWARF expression
};

// The row in force at `pc` in the object of `index`. `table` is the object's table copied earlier
// (copyEhFrameTable) or null, to search the mapped one; `cies` keeps the CIEs read, or null. Safe in a
// signal handler.
CfiResult findCallFrame(Task task, const EhFrameIndex& index, const std::int32_t* table, std::uintptr_t pc,
                        CfiRow* row, CfiCieCache* cies = nullptr) noexcept;

}  // namespace sys
