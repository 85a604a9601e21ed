#pragma once
// Mach-O images, the phone platform's executable format, read from a task's memory: the header, the
// load commands, segments and sections, the UUID, and the symbol table. A report written on a phone
// names images and symbols this way; here the same reading runs over images that tests lay out in
// memory, and ELF images (elf_image.h) stand beside them in the image list.
//
// Trust: the bytes are hostile. Every load command must lie inside the header's command area, every
// table inside its segment, every name must end inside its string table; anything else is an error
// code, never a read out of bounds. All reads go through the reads that never fault.
//
// Everything in this header is safe to call from a signal handler: fixed-size records, no
// allocation, no lock.

#include <cstddef>
#include <cstdint>

#include "crash_reporter/async_util.h"

namespace crash {

// Header magics, as read in the reader's byte order.
inline constexpr std::uint32_t CRASH_MH_MAGIC = 0xfeedface;
inline constexpr std::uint32_t CRASH_MH_MAGIC_64 = 0xfeedfacf;
inline constexpr std::uint32_t CRASH_MH_CIGAM = 0xcefaedfe;
inline constexpr std::uint32_t CRASH_MH_CIGAM_64 = 0xcffaedfe;

// Load command types.
inline constexpr std::uint32_t CRASH_LC_SEGMENT = 0x1;
inline constexpr std::uint32_t CRASH_LC_SYMTAB = 0x2;
inline constexpr std::uint32_t CRASH_LC_DYSYMTAB = 0xb;
inline constexpr std::uint32_t CRASH_LC_SEGMENT_64 = 0x19;
inline constexpr std::uint32_t CRASH_LC_UUID = 0x1b;

// A bounded view of another task's memory: reads outside [address, address + length) are refused.
struct crash_async_mobject {
  crash_task_t task;
  std::uintptr_t address;
  std::size_t length;
};

// CRASH_EINVAL when the range wraps around the address space.
crash_error_t crash_async_mobject_init(crash_async_mobject* view, crash_task_t task, std::uintptr_t address,
                                       std::size_t length) noexcept;
// Reads `length` bytes at `address + offset`, which must lie inside the view (CRASH_EINVAL otherwise).
crash_error_t crash_async_mobject_read(const crash_async_mobject* view, std::uintptr_t address,
                                       std::size_t offset, void* dest, std::size_t length) noexcept;
// Copies the zero-terminated string at `address` inside the view into `dest`, cut to `capacity - 1`
// bytes. CRASH_EINVAL when no terminator lies inside the view.
crash_error_t crash_async_mobject_read_string(const crash_async_mobject* view, std::uintptr_t address,
                                              char* dest, std::size_t capacity) noexcept;

// The Mach-O header, fields in the image's byte order already converted.
struct crash_macho_header {
  std::uint32_t magic;
  std::int32_t cputype;
  std::int32_t cpusubtype;
  std::uint32_t filetype;
  std::uint32_t ncmds;
  std::uint32_t sizeofcmds;
  std::uint32_t flags;
};

// A segment command of either width.
struct crash_macho_segment {
  char segname[17];  // zero-terminated
  std::uint64_t vmaddr;
  std::uint64_t vmsize;
  std::uint64_t fileoff;
  std::uint64_t filesize;
  std::uint32_t nsects;
  std::uintptr_t command;  // address of the command in the task
};

struct crash_async_macho {
  crash_task_t task;
  std::uintptr_t header_addr;
  std::intptr_t vmaddr_slide;  // header address minus the "__TEXT" segment's address
  crash_macho_header header;
  std::uint32_t header_size;  // 28 for 32-bit images, 32 for 64-bit
  std::uint32_t ncmds;
  crash_async_mobject load_cmds;
  std::uint64_t text_vmaddr;
  std::uint64_t text_size;
  bool m64;
  const crash_async_byteorder* byteorder;
};

// Reads the header and load commands at `header_addr`: CRASH_EINTERNAL when the header cannot be read,
// CRASH_EINVAL for a magic that is none of the four, commands that cannot lie where the header says,
// or no "__TEXT" segment.
crash_error_t crash_async_macho_init(crash_async_macho* image, crash_task_t task,
                                     std::uintptr_t header_addr) noexcept;

// The load command after the one at `previous` (0: the first), or 0 at the end. A command that would
// run past the command area ends the walk.
std::uintptr_t crash_async_macho_next_command(const crash_async_macho* image,
                                              std::uintptr_t previous) noexcept;
// The first command of `type`, or 0.
std::uintptr_t crash_async_macho_find_command(const crash_async_macho* image, std::uint32_t type) noexcept;
// The segment command named `segname`; false when there is none.
bool crash_async_macho_find_segment(const crash_async_macho* image, const char* segname,
                                    crash_macho_segment* segment) noexcept;
// A view of the segment's mapped bytes (slid): CRASH_ENOTFOUND when there is no such segment.
crash_error_t crash_async_macho_map_segment(const crash_async_macho* image, const char* segname,
                                            crash_async_mobject* view) noexcept;
// A view of a section of a segment: CRASH_ENOTFOUND when there is no such section.
crash_error_t crash_async_macho_map_section(const crash_async_macho* image, const char* segname,
                                            const char* sectname, crash_async_mobject* view) noexcept;
// The 16 bytes of the image's UUID command; false when it has none.
bool crash_async_macho_uuid(const crash_async_macho* image, std::uint8_t uuid[16]) noexcept;

// Called with a symbol's slid start address and its name (valid only during the call).
using crash_async_found_symbol_cb = void (*)(std::uintptr_t address, const char* name, void* context);

// The section symbol covering `pc`: the highest value not above it, the first of equal values,
// globals before locals when the dynamic symbol table splits them. CRASH_ENOTFOUND when there is
// none or no symbol table; CRASH_EINTERNAL when the tables lie outside "__LINKEDIT"; CRASH_EINVAL for
// ranges past the symbol count or a name that does not end inside the string table.
crash_error_t crash_async_macho_find_symbol_by_pc(const crash_async_macho* image, std::uintptr_t pc,
                                                  crash_async_found_symbol_cb callback,
                                                  void* context) noexcept;
// The slid address of the first section symbol named `name`; CRASH_ENOTFOUND when there is none.
crash_error_t crash_async_macho_find_symbol_by_name(const crash_async_macho* image, const char* name,
                                                    std::uintptr_t* address) noexcept;

}  // namespace crash
