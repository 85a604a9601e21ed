#include "crash_reporter/macho.h"

#include "platform/system/read_string.h"

namespace crash {
namespace {

// Symbol-table entry layouts: nlist (12 bytes) and nlist_64 (16 bytes).
constexpr std::size_t kNlistSize = 12;
constexpr std::size_t kNlist64Size = 16;
constexpr std::uint8_t kTypeMask = 0xee;  // the debugging-entry bits and the type bits
constexpr std::uint8_t kSectionSymbol = 0x0e;
constexpr std::uint16_t kThumbDefinition = 0x0008;
constexpr std::size_t kSymbolBatch = 32;
// A walk over load commands never runs longer than this, whatever the header claims.
constexpr std::uint32_t kMaxCommands = 65536;

struct Symbol {
  std::uint32_t strx;
  std::uint8_t type;
  std::uint16_t desc;
  std::uint64_t value;
};

std::uint32_t read32(const crash_async_macho* image, const std::uint8_t* bytes) noexcept {
  std::uint32_t value;
  crash_async_memcpy(&value, bytes, sizeof value);
  return image->byteorder->swap32(value);
}

std::uint64_t read64(const crash_async_macho* image, const std::uint8_t* bytes) noexcept {
  std::uint64_t value;
  crash_async_memcpy(&value, bytes, sizeof value);
  return image->byteorder->swap64(value);
}

Symbol decodeSymbol(const crash_async_macho* image, const std::uint8_t* entry) noexcept {
  Symbol symbol;
  symbol.strx = read32(image, entry);
  symbol.type = entry[4];
  std::uint16_t desc;
  crash_async_memcpy(&desc, entry + 6, sizeof desc);
  symbol.desc = image->byteorder->swap16(desc);
  symbol.value = image->m64 ? read64(image, entry + 8) : read32(image, entry + 8);
  return symbol;
}

bool sameName16(const char* fixed, const char* name) noexcept {
  return crash_async_strncmp(fixed, name, 16) == 0;
}

crash_error_t readCommandHeader(const crash_async_macho* image, std::uintptr_t command, std::uint32_t* type,
                                std::uint32_t* size) noexcept {
  std::uint8_t bytes[8];
  const crash_error_t error = crash_async_mobject_read(&image->load_cmds, command, 0, bytes, sizeof bytes);
  if (error != CRASH_ESUCCESS) return error;
  *type = read32(image, bytes);
  *size = read32(image, bytes + 4);
  return CRASH_ESUCCESS;
}

// Reads a segment command of either width at `command`.
bool decodeSegment(const crash_async_macho* image, std::uintptr_t command,
                   crash_macho_segment* segment) noexcept {
  std::uint8_t bytes[72];
  const std::size_t size = image->m64 ? 72 : 56;
  if (crash_async_mobject_read(&image->load_cmds, command, 0, bytes, size) != CRASH_ESUCCESS) return false;
  crash_async_memcpy(segment->segname, bytes + 8, 16);
  segment->segname[16] = '\0';
  segment->command = command;
  if (image->m64) {
    segment->vmaddr = read64(image, bytes + 24);
    segment->vmsize = read64(image, bytes + 32);
    segment->fileoff = read64(image, bytes + 40);
    segment->filesize = read64(image, bytes + 48);
    segment->nsects = read32(image, bytes + 64);
  } else {
    segment->vmaddr = read32(image, bytes + 24);
    segment->vmsize = read32(image, bytes + 28);
    segment->fileoff = read32(image, bytes + 32);
    segment->filesize = read32(image, bytes + 36);
    segment->nsects = read32(image, bytes + 48);
  }
  return true;
}

// The symbol and string tables inside "__LINKEDIT", and the dynamic table's global and local ranges.
struct SymbolTables {
  crash_async_mobject linkedit;
  std::uintptr_t symbols;
  std::uint32_t count;
  std::uintptr_t strings;
  std::uint32_t strings_size;
  bool has_ranges;
  std::uint32_t local_first, local_count, global_first, global_count;
};

crash_error_t locateTables(const crash_async_macho* image, SymbolTables* tables) noexcept {
  const std::uintptr_t symtab = crash_async_macho_find_command(image, CRASH_LC_SYMTAB);
  if (symtab == 0) return CRASH_ENOTFOUND;
  std::uint8_t command[24];
  if (crash_async_mobject_read(&image->load_cmds, symtab, 0, command, sizeof command) != CRASH_ESUCCESS) {
    return CRASH_EINVAL;
  }
  const std::uint32_t symoff = read32(image, command + 8);
  tables->count = read32(image, command + 12);
  const std::uint32_t stroff = read32(image, command + 16);
  tables->strings_size = read32(image, command + 20);

  crash_macho_segment linkedit;
  if (!crash_async_macho_find_segment(image, "__LINKEDIT", &linkedit) ||
      crash_async_macho_map_segment(image, "__LINKEDIT", &tables->linkedit) != CRASH_ESUCCESS) {
    return CRASH_EINTERNAL;
  }
  // File offsets, relative to the segment's own file offset, locate the tables in its mapping.
  const std::uint64_t entry = image->m64 ? kNlist64Size : kNlistSize;
  const std::uint64_t size = tables->linkedit.length;
  if (symoff < linkedit.fileoff || stroff < linkedit.fileoff) return CRASH_EINTERNAL;
  const std::uint64_t symbolsAt = symoff - linkedit.fileoff;
  const std::uint64_t stringsAt = stroff - linkedit.fileoff;
  if (symbolsAt > size || tables->count > (size - symbolsAt) / entry || stringsAt > size ||
      tables->strings_size > size - stringsAt) {
    return CRASH_EINTERNAL;
  }
  tables->symbols = tables->linkedit.address + symbolsAt;
  tables->strings = tables->linkedit.address + stringsAt;

  tables->has_ranges = false;
  const std::uintptr_t dysymtab = crash_async_macho_find_command(image, CRASH_LC_DYSYMTAB);
  if (dysymtab != 0) {
    std::uint8_t ranges[24];
    if (crash_async_mobject_read(&image->load_cmds, dysymtab, 0, ranges, sizeof ranges) != CRASH_ESUCCESS) {
      return CRASH_EINVAL;
    }
    tables->local_first = read32(image, ranges + 8);
    tables->local_count = read32(image, ranges + 12);
    tables->global_first = read32(image, ranges + 16);
    tables->global_count = read32(image, ranges + 20);
    const auto fits = [&](std::uint64_t first, std::uint64_t count) {
      return first + count <= tables->count;
    };
    if (!fits(tables->local_first, tables->local_count) ||
        !fits(tables->global_first, tables->global_count)) {
      return CRASH_EINVAL;
    }
    tables->has_ranges = true;
  }
  return CRASH_ESUCCESS;
}

// Calls `visit(symbol)` for the entries [first, first + count) of the table, read in batches.
template <class Visit>
crash_error_t forEachSymbol(const crash_async_macho* image, const SymbolTables& tables, std::uint32_t first,
                            std::uint32_t count, Visit visit) noexcept {
  const std::size_t entry = image->m64 ? kNlist64Size : kNlistSize;
  std::uint8_t batch[kSymbolBatch * kNlist64Size];
  for (std::uint32_t i = 0; i < count; i += kSymbolBatch) {
    const std::uint32_t n = count - i < kSymbolBatch ? count - i : static_cast<std::uint32_t>(kSymbolBatch);
    const crash_error_t error = crash_async_mobject_read(
        &tables.linkedit, tables.symbols, (static_cast<std::size_t>(first) + i) * entry, batch, n * entry);
    if (error != CRASH_ESUCCESS) return error;
    for (std::uint32_t j = 0; j < n; ++j) {
      if (!visit(decodeSymbol(image, batch + j * entry))) return CRASH_ESUCCESS;
    }
  }
  return CRASH_ESUCCESS;
}

bool isSectionSymbol(const Symbol& symbol) noexcept { return (symbol.type & kTypeMask) == kSectionSymbol; }

// The value a symbol counts with: a Thumb function's address has its low bit set.
std::uint64_t effectiveValue(const Symbol& symbol) noexcept {
  return (symbol.desc & kThumbDefinition) ? symbol.value + 1 : symbol.value;
}

// The best candidate for `pc` in one range; `best` is replaced only by a strictly higher value.
crash_error_t searchRange(const crash_async_macho* image, const SymbolTables& tables, std::uint32_t first,
                          std::uint32_t count, std::uint64_t pc, bool* found, Symbol* best) noexcept {
  return forEachSymbol(image, tables, first, count, [&](const Symbol& symbol) noexcept {
    if (!isSectionSymbol(symbol)) return true;
    const std::uint64_t value = effectiveValue(symbol);
    if (value > pc) return true;
    if (!*found || value > effectiveValue(*best)) {
      *best = symbol;
      *found = true;
    }
    return true;
  });
}

crash_error_t symbolName(const SymbolTables& tables, std::uint32_t strx, char* name,
                         std::size_t capacity) noexcept {
  if (strx >= tables.strings_size) return CRASH_EINVAL;
  crash_async_mobject strings;
  if (crash_async_mobject_init(&strings, tables.linkedit.task, tables.strings, tables.strings_size) !=
      CRASH_ESUCCESS) {
    return CRASH_EINVAL;
  }
  return crash_async_mobject_read_string(&strings, tables.strings + strx, name, capacity);
}

}  // namespace

crash_error_t crash_async_mobject_init(crash_async_mobject* view, crash_task_t task, std::uintptr_t address,
                                       std::size_t length) noexcept {
  std::uintptr_t end;
  if (length > static_cast<std::size_t>(INTPTR_MAX) ||
      !crash_async_address_apply_offset(address, static_cast<std::intptr_t>(length), &end)) {
    return CRASH_EINVAL;
  }
  view->task = task;
  view->address = address;
  view->length = length;
  return CRASH_ESUCCESS;
}

crash_error_t crash_async_mobject_read(const crash_async_mobject* view, std::uintptr_t address,
                                       std::size_t offset, void* dest, std::size_t length) noexcept {
  if (address < view->address) return CRASH_EINVAL;
  const std::size_t start = address - view->address;
  if (start > view->length || offset > view->length - start || length > view->length - start - offset) {
    return CRASH_EINVAL;
  }
  return crash_async_task_read(view->task, view->address, static_cast<std::intptr_t>(start + offset), dest,
                               length);
}

crash_error_t crash_async_mobject_read_string(const crash_async_mobject* view, std::uintptr_t address,
                                              char* dest, std::size_t capacity) noexcept {
  if (capacity == 0 || address < view->address || address - view->address >= view->length)
    return CRASH_EINVAL;
  switch (sys::readString(view->task, address, view->length - (address - view->address), dest, capacity)) {
    case sys::StringReadResult::kTerminated:
      return CRASH_ESUCCESS;
    case sys::StringReadResult::kUnterminated:
      return CRASH_EINVAL;
    case sys::StringReadResult::kUnreadable:
      break;
  }
  return CRASH_ENOTFOUND;
}

crash_error_t crash_async_macho_init(crash_async_macho* image, crash_task_t task,
                                     std::uintptr_t header_addr) noexcept {
  crash_async_memset(image, 0, sizeof *image);
  image->task = task;
  image->header_addr = header_addr;
  std::uint32_t raw[7];
  if (crash_async_task_read(task, header_addr, 0, raw, sizeof raw) != CRASH_ESUCCESS) return CRASH_EINTERNAL;
  switch (raw[0]) {
    case CRASH_MH_MAGIC:
      image->byteorder = &crash_async_byteorder_direct;
      break;
    case CRASH_MH_MAGIC_64:
      image->byteorder = &crash_async_byteorder_direct;
      image->m64 = true;
      break;
    case CRASH_MH_CIGAM:
      image->byteorder = &crash_async_byteorder_swapped;
      break;
    case CRASH_MH_CIGAM_64:
      image->byteorder = &crash_async_byteorder_swapped;
      image->m64 = true;
      break;
    default:
      return CRASH_EINVAL;
  }
  const auto* order = image->byteorder;
  image->header = {order->swap32(raw[0]),
                   static_cast<std::int32_t>(order->swap32(raw[1])),
                   static_cast<std::int32_t>(order->swap32(raw[2])),
                   order->swap32(raw[3]),
                   order->swap32(raw[4]),
                   order->swap32(raw[5]),
                   order->swap32(raw[6])};
  image->header_size = image->m64 ? 32 : 28;
  image->ncmds = image->header.ncmds;
  std::uintptr_t commands;
  if (!crash_async_address_apply_offset(header_addr, image->header_size, &commands) ||
      crash_async_mobject_init(&image->load_cmds, task, commands, image->header.sizeofcmds) !=
          CRASH_ESUCCESS) {
    return CRASH_EINVAL;
  }
  crash_macho_segment text;
  if (!crash_async_macho_find_segment(image, "__TEXT", &text)) return CRASH_EINVAL;
  image->text_vmaddr = text.vmaddr;
  image->text_size = text.vmsize;
  image->vmaddr_slide = static_cast<std::intptr_t>(header_addr - static_cast<std::uintptr_t>(text.vmaddr));
  return CRASH_ESUCCESS;
}

std::uintptr_t crash_async_macho_next_command(const crash_async_macho* image,
                                              std::uintptr_t previous) noexcept {
  const crash_async_mobject& area = image->load_cmds;
  std::uintptr_t next = area.address;
  if (previous != 0) {
    std::uint32_t type, size;
    if (readCommandHeader(image, previous, &type, &size) != CRASH_ESUCCESS || size < 8) return 0;
    next = previous + size;
  }
  std::uint32_t type, size;
  if (next < area.address || next - area.address >= area.length) return 0;
  if (readCommandHeader(image, next, &type, &size) != CRASH_ESUCCESS) return 0;
  if (size < 8 || size > area.length - (next - area.address)) return 0;
  return next;
}

std::uintptr_t crash_async_macho_find_command(const crash_async_macho* image, std::uint32_t type) noexcept {
  std::uintptr_t command = 0;
  for (std::uint32_t i = 0; i < image->ncmds && i < kMaxCommands; ++i) {
    command = crash_async_macho_next_command(image, command);
    if (command == 0) return 0;
    std::uint32_t found, size;
    if (readCommandHeader(image, command, &found, &size) == CRASH_ESUCCESS && found == type) return command;
  }
  return 0;
}

bool crash_async_macho_find_segment(const crash_async_macho* image, const char* segname,
                                    crash_macho_segment* segment) noexcept {
  const std::uint32_t wanted = image->m64 ? CRASH_LC_SEGMENT_64 : CRASH_LC_SEGMENT;
  std::uintptr_t command = 0;
  for (std::uint32_t i = 0; i < image->ncmds && i < kMaxCommands; ++i) {
    command = crash_async_macho_next_command(image, command);
    if (command == 0) return false;
    std::uint32_t type, size;
    if (readCommandHeader(image, command, &type, &size) != CRASH_ESUCCESS || type != wanted) continue;
    if (size < (image->m64 ? 72u : 56u)) continue;
    if (decodeSegment(image, command, segment) && sameName16(segment->segname, segname)) return true;
  }
  return false;
}

crash_error_t crash_async_macho_map_segment(const crash_async_macho* image, const char* segname,
                                            crash_async_mobject* view) noexcept {
  crash_macho_segment segment;
  if (!crash_async_macho_find_segment(image, segname, &segment)) return CRASH_ENOTFOUND;
  const std::uintptr_t address = static_cast<std::uintptr_t>(segment.vmaddr) + image->vmaddr_slide;
  return crash_async_mobject_init(view, image->task, address, static_cast<std::size_t>(segment.vmsize));
}

crash_error_t crash_async_macho_map_section(const crash_async_macho* image, const char* segname,
                                            const char* sectname, crash_async_mobject* view) noexcept {
  crash_macho_segment segment;
  if (!crash_async_macho_find_segment(image, segname, &segment)) return CRASH_ENOTFOUND;
  const std::size_t commandSize = image->m64 ? 72 : 56;
  const std::size_t sectionSize = image->m64 ? 80 : 68;
  for (std::uint32_t i = 0; i < segment.nsects; ++i) {
    std::uint8_t section[80];
    if (crash_async_mobject_read(&image->load_cmds, segment.command, commandSize + i * sectionSize, section,
                                 sectionSize) != CRASH_ESUCCESS) {
      return CRASH_EINVAL;
    }
    if (!sameName16(reinterpret_cast<const char*>(section), sectname)) continue;
    const std::uint64_t addr = image->m64 ? read64(image, section + 32) : read32(image, section + 32);
    const std::uint64_t size = image->m64 ? read64(image, section + 40) : read32(image, section + 36);
    return crash_async_mobject_init(view, image->task,
                                    static_cast<std::uintptr_t>(addr) + image->vmaddr_slide,
                                    static_cast<std::size_t>(size));
  }
  return CRASH_ENOTFOUND;
}

bool crash_async_macho_uuid(const crash_async_macho* image, std::uint8_t uuid[16]) noexcept {
  const std::uintptr_t command = crash_async_macho_find_command(image, CRASH_LC_UUID);
  return command != 0 && crash_async_mobject_read(&image->load_cmds, command, 8, uuid, 16) == CRASH_ESUCCESS;
}

crash_error_t crash_async_macho_find_symbol_by_pc(const crash_async_macho* image, std::uintptr_t pc,
                                                  crash_async_found_symbol_cb callback,
                                                  void* context) noexcept {
  SymbolTables tables;
  crash_error_t error = locateTables(image, &tables);
  if (error != CRASH_ESUCCESS) return error;
  const std::uint64_t target = pc - static_cast<std::uintptr_t>(image->vmaddr_slide);
  bool found = false;
  Symbol best{};
  if (tables.has_ranges && tables.global_count > 0) {
    error = searchRange(image, tables, tables.global_first, tables.global_count, target, &found, &best);
    if (error == CRASH_ESUCCESS) {
      error = searchRange(image, tables, tables.local_first, tables.local_count, target, &found, &best);
    }
  } else {
    error = searchRange(image, tables, 0, tables.count, target, &found, &best);
  }
  if (error != CRASH_ESUCCESS) return error;
  if (!found) return CRASH_ENOTFOUND;
  char name[256];
  error = symbolName(tables, best.strx, name, sizeof name);
  if (error != CRASH_ESUCCESS) return error;
  callback(static_cast<std::uintptr_t>(best.value) + image->vmaddr_slide, name, context);
  return CRASH_ESUCCESS;
}

crash_error_t crash_async_macho_find_symbol_by_name(const crash_async_macho* image, const char* name,
                                                    std::uintptr_t* address) noexcept {
  SymbolTables tables;
  crash_error_t error = locateTables(image, &tables);
  if (error != CRASH_ESUCCESS) return CRASH_ENOTFOUND;
  bool found = false;
  error = forEachSymbol(image, tables, 0, tables.count, [&](const Symbol& symbol) noexcept {
    if (!isSectionSymbol(symbol)) return true;
    char candidate[256];
    if (symbolName(tables, symbol.strx, candidate, sizeof candidate) != CRASH_ESUCCESS ||
        crash_async_strcmp(candidate, name) != 0) {
      return true;
    }
    *address = static_cast<std::uintptr_t>(symbol.value) + image->vmaddr_slide;
    found = true;
    return false;
  });
  if (error != CRASH_ESUCCESS) return error;
  return found ? CRASH_ESUCCESS : CRASH_ENOTFOUND;
}

}  // namespace crash
