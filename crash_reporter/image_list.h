#pragma once
// The images loaded in the process, kept where a signal handler can read them, and the symbol that
// covers an address.
//
// Each record is read once, when the image is added: a Mach-O image (macho.h) or an ELF image
// (platform/system/elf_image.h), told apart by the magic at the header address; anything else is not
// listed. At crash time only the records are read, through the list's reader count, with reads that
// never fault.
//
// Linux has no loader callbacks. crash_async_image_list_sync compares the loader's add and remove
// counts with those it saw last and, when they moved, lists the images again and adds and removes the
// difference. It takes the loader's lock, so it runs outside the crash path (when the reporter is
// enabled and before a live report). The crash path never calls the loader: it reads the loader's
// link map itself (crash_async_image_list_sync_async), so a library opened after the last sync is in
// the report and one closed since is not.
//
// Writers (append, remove, sync, free) are not safe in a signal handler; readers (set_reading,
// next, containing_address, the accessors, crash_async_find_symbol) are.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crash_reporter/async_list.h"
#include "crash_reporter/async_util.h"
#include "crash_reporter/macho.h"
#include "crash_reporter/objc.h"
#include "platform/system/elf_symbol_table.h"
#include "platform/system/elf_image.h"

namespace crash {

enum crash_image_format : int { CRASH_IMAGE_MACHO, CRASH_IMAGE_ELF };

// One loaded image. Filled when it is added and not changed while listed.
struct crash_async_image {
  crash_image_format format = CRASH_IMAGE_ELF;
  crash_task_t task = 0;
  std::uintptr_t header_addr = 0;
  std::string name;             // the image's path
  crash_async_macho macho{};    // for a Mach-O image
  sys::ElfImage elf{};          // for an ELF image
  // An ELF image's function symbols, gathered when it was listed: its dynamic ones and its file's
  // full table (which names the program's own functions). Null for an image the crash path found by
  // itself, whose mapped dynamic table is then scanned. Never changed while listed.
  std::shared_ptr<const sys::ElfSymbolTable> symbols;
  // An ELF image's table of call-frame records (elf.ehFrame) copied when it was listed, so a walk
  // searches it in our own memory. Null for an image the crash path found by itself, or one without
  // call-frame information; its mapped table is then searched through guarded reads.
  std::shared_ptr<const std::vector<std::int32_t>> cfi_table;
  std::uint8_t uuid[32] = {};   // Mach-O UUID (16 bytes) or ELF build id
  std::size_t uuid_length = 0;  // 0 when the image has none
  std::int32_t cpu_type = 0;    // the platform's CPU type and subtype of the image's code
  std::int32_t cpu_subtype = 0;
  bool unloaded = false;        // found gone by a crash-time look at the loader: readers skip it
  bool seen = false;            // scratch of that look: the loader still has it
  // The image's section of a crash report (log_writer.h), encoded when it was listed: every report
  // lists every image, and encoding a hundred of them at crash time cost more than walking the stacks.
  // Empty for an image the crash path found by itself; the report then encodes it.
  std::string report_record;
};

using crash_async_image_node = crash_async_list_node<crash_async_image>;

// Records made ready for images the crash path finds (crash_async_image_list_sync_async).
inline constexpr std::size_t CRASH_IMAGE_SPARES = 16;
// The longest path a crash-time record keeps.
inline constexpr std::size_t CRASH_IMAGE_SPARE_PATH = 1024;

// Where the listed images lie, by address (image_list.cpp).
struct crash_async_image_index;

struct crash_async_image_list {
  crash_task_t task = 0;
  crash_async_list<crash_async_image> list;
  std::mutex sync_mutex;                     // serialises crash_async_image_list_sync
  sys::LoaderGeneration seen{~0ull, ~0ull};  // the loader's counts at the last sync; never a real pair
  // Unlisted nodes whose names have room for a path, taken by the crash path; under the list's lock.
  crash_async_image_node* spares[CRASH_IMAGE_SPARES] = {};
  std::size_t spare_count = 0;
  // The listed images sorted by address, so that finding the one holding an address takes a few steps
  // where a walk along the list takes one a record (a program loads a hundred libraries, and a crash
  // asks a few times a frame). Made again by every writer, never changed once made; null while a writer
  // removes records. One replaced is freed only once no reader is counted in (until then it waits in
  // `retired`, under the list's lock).
  std::atomic<const crash_async_image_index*> index{nullptr};
  crash_async_image_index* retired = nullptr;
  // A crash-time look at the loader listed or marked a record since the last sync: the list no longer
  // answers the loader's list as that sync saw it.
  std::atomic<bool> looked_changed{false};
};

// Readies an empty list for `task`. Not safe in a signal handler.
void crash_async_image_list_init(crash_async_image_list* list, crash_task_t task);
// Frees every record. Only when no reader can be counted in. Not safe in a signal handler.
void crash_async_image_list_free(crash_async_image_list* list);

// Reads the image at `header_addr` and lists it under `path`. CRASH_EINVAL when the header is neither
// Mach-O nor ELF of this process's class (the image is then not listed), CRASH_EINTERNAL when it
// cannot be read. Not safe in a signal handler.
crash_error_t crash_async_image_list_append(crash_async_image_list* list, std::uintptr_t header_addr,
                                            const char* path);
// Unlists the image with that header address, when there is one. Not safe in a signal handler.
void crash_async_image_list_remove(crash_async_image_list* list, std::uintptr_t header_addr);

// Brings the list in line with the loader's images when the loader added or removed any since the
// last call, and readies what the crash path needs to do the same. Not safe in a signal handler (takes
// the loader's lock).
void crash_async_image_list_sync(crash_async_image_list* list);

// The crash path's own look at the loader, for images opened or closed since the last sync (nothing
// tells this process when a library comes or goes): it walks the loader's link map with guarded reads,
// lists each ELF image it does not hold in a record made ready beforehand (at most CRASH_IMAGE_SPARES,
// named by their dynamic symbols), and marks listed images the loader no longer has as unloaded
// (only after a whole walk: a library opened or closed mid-crash may leave the map torn). Takes the
// list's writer lock only when it is free, never waits for it; does nothing before the first sync.
// When a few reads show the loader's list as the last sync saw it (sys::loaderListUnchanged), it
// touches no record. Safe in a signal handler; one caller at a time (the crash report's writer). True
// when it listed an image or marked one unloaded or loaded again: what was looked up in the list before
// may have changed.
bool crash_async_image_list_sync_async(crash_async_image_list* list) noexcept;

// Counts a reader in (true) or out (false). Safe in a signal handler.
void crash_async_image_list_set_reading(crash_async_image_list* list, bool reading) noexcept;
// The node after `previous` (the first when null), or null. Only while counted in. Safe in a signal
// handler.
crash_async_image_node* crash_async_image_list_next(crash_async_image_list* list,
                                                    crash_async_image_node* previous) noexcept;
// The image whose code span holds `address` (listed images do not overlap), or null: looked up in the
// list's index, and along the records listed since it was made. Only while counted in. Safe in a
// signal handler.
const crash_async_image* crash_async_image_containing_address(crash_async_image_list* list,
                                                              std::uintptr_t address) noexcept;

// Where an image lies for a report: its header address and the size of the span from there that
// holds all its code (Mach-O: the "__TEXT" segment; ELF: up to the end of its last executable
// segment, which may lie beyond read-only data). Safe in a signal handler.
std::uintptr_t crash_async_image_base(const crash_async_image* image) noexcept;
std::uint64_t crash_async_image_size(const crash_async_image* image) noexcept;

// Symbolication strategies, as a bit set.
inline constexpr std::uint32_t CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE = 1;
inline constexpr std::uint32_t CRASH_SYMBOL_STRATEGY_OBJC = 2;

// Names the function that covers `pc` in `image` with the lookups `strategy` asks for, and calls
// `callback` once with its start address and its name (cut to 255 bytes). Of the two lookups the
// symbol whose start is nearest below the pc wins, the Objective-C method on equal starts; a method is
// named "-[Class method]" ("+[" for a class method). When neither lookup succeeded, the symbol table's
// error (CRASH_ENOTFOUND when it was not asked for). The Objective-C lookup needs `cache` (one per
// report, see objc.h) and finds nothing without it. Safe in a signal handler.
crash_error_t crash_async_find_symbol(const crash_async_image* image, std::uint32_t strategy,
                                      crash_async_objc_cache* cache, std::uintptr_t pc,
                                      crash_async_found_symbol_cb callback, void* context) noexcept;

}  // namespace crash
