#pragma once
// The ELF objects the dynamic loader has mapped into this process, and the facts a crash report wants
// of each: where it lies, its build id (the image's UUID), its processor, and its dynamic symbols.
//
// Two halves with different rules. Asking the loader (loaderGeneration, loadedImages) goes through
// dl_iterate_phdr, which takes the loader's lock: never from a signal handler. Reading an image
// (readElfImage, findElfSymbol) goes only through readMemory on the mapped image, never faults and
// allocates nothing, so a signal handler may do it. The section headers of an object are not mapped,
// so everything comes from the program headers and the dynamic section.
//
// Trust: the mapped bytes may be torn or hostile (a damaged object, a stray header address). Every
// count and offset read from them is bounded before use; a bad image is an error, never a fault or an
// endless walk.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/system/eh_frame.h"
#include "platform/system/memory.h"

namespace sys {

// How often the loader has added and removed objects since the process began. A change tells a
// list of images that it must look again. Not safe in a signal handler (loader lock).
struct LoaderGeneration {
  unsigned long long adds = 0;
  unsigned long long removes = 0;
  friend bool operator==(const LoaderGeneration&, const LoaderGeneration&) = default;
};
LoaderGeneration loaderGeneration();

// One object as the loader reports it: the address of its ELF header and its path (the running
// program's own path for the main program, the kernel's name for the vDSO).
struct LoaderImage {
  std::uintptr_t header = 0;
  std::string path;
};
// Every object mapped right now, in the loader's order (the main program first).
// Not safe in a signal handler (loader lock, allocation).
std::vector<LoaderImage> loadedImages();

// The loader's own list of what it has mapped (its link map), read without its lock. Knowing the
// list's head takes the loader (prepareLoaderList, not safe in a signal handler: the loader's lock);
// walking it afterwards does not (readLoaderList: guarded reads only). The list may be changing while a
// library is opened or closed, so a walk is bounded and says whether it reached the list's end.
struct LoaderEntry {  // no initialisers: the crash path keeps an array of them on its signal stack
  std::uintptr_t bias;         // the object's load bias; its ELF header where it maps from offset 0
  std::uintptr_t nameAddress;  // its path, a string in the loader's memory
  std::uintptr_t dynamic;      // its mapped dynamic section
};
void prepareLoaderList();
// Copies at most `capacity` entries of the link map, in the loader's order, into `out` and returns how
// many; -1 when prepareLoaderList never ran. `*complete` tells whether the walk reached the list's end.
// Safe in a signal handler.
int readLoaderList(Task task, LoaderEntry* out, std::size_t capacity, bool* complete) noexcept;
// Whether the link map is the one prepareLoaderList saw, told by a few reads: the objects the loader
// had mapped when the program's own initialisers ran (the program, the libraries it needs, those
// preloaded) stay mapped for the life of the process and come first in the list, so only the link out
// of the last of them and the entries after it can have changed. False also when that cannot be told
// (the list was not read to its end, or holds more than one gathered read takes after them). Safe in
// a signal handler.
bool loaderListUnchanged(Task task) noexcept;

// What readElfImage learnt of one mapped object. Fixed size; a value copy is cheap enough.
struct ElfImage {
  std::uintptr_t header = 0;      // the ELF header, lowest address of the image
  std::uintptr_t loadBias = 0;    // added to the object's own addresses to get mapped ones
  std::uintptr_t spanEnd = 0;     // end of the highest executable segment: [header, spanEnd) holds
                                  // all code, also when the linker put code in a separate segment
  std::uint16_t machine = 0;      // e_machine (62 x86-64, 183 AArch64, 40 ARM)
  std::uint8_t buildId[32] = {};  // the GNU build id, the image's identity
  std::size_t buildIdLength = 0;  // 0 when the image has none
  std::uintptr_t dynamic = 0;     // mapped dynamic section, 0 when there is none
  std::uintptr_t symbols = 0;     // mapped dynamic symbol table, 0 when there is none
  std::size_t symbolCount = 0;    // from DT_HASH, or by walking DT_GNU_HASH
  std::uintptr_t strings = 0;     // mapped dynamic string table
  std::size_t stringsSize = 0;
  EhFrameIndex ehFrame;           // its call-frame information's search table, when it has one
};

enum class ElfReadResult {
  kOk,
  kUnreadable,  // the header or a program header could not be read
  kNotElf,      // wrong magic, class, byte order or version for this process
  kMalformed,   // counts or addresses that cannot be right
};

// Whether an ELF identification (e_ident, at least EI_NIDENT bytes) names an object of this
// process's class and byte order. Async-signal-safe.
bool isNativeElfIdent(const unsigned char* ident) noexcept;

// Reads the facts of the object whose ELF header lies at `header` in `task`. Images without a dynamic
// section or build id are fine (those fields stay 0). Safe in a signal handler.
ElfReadResult readElfImage(Task task, std::uintptr_t header, ElfImage* image) noexcept;

// The defined function symbol of `image` that covers `address`: the highest start not above it whose
// size (when the symbol has one) reaches past it; the first of equal starts wins. Copies its name,
// cut to `capacity - 1` bytes and zero-terminated, and its mapped start address. Returns false when
// no symbol covers the address or the tables cannot be read. Safe in a signal handler.
bool findElfSymbol(Task task, const ElfImage& image, std::uintptr_t address, char* name, std::size_t capacity,
                   std::uintptr_t* start) noexcept;

// Calls `visit(context, value, size, name)` for every defined function symbol of `image`'s dynamic
// table (value in the object's own addresses; the name valid during the call only). Not safe in a
// signal handler (meant for gathering before a crash).
void listElfFunctionSymbols(Task task, const ElfImage& image,
                            void (*visit)(void* context, std::uintptr_t value, std::size_t size, const char* name),
                            void* context);

// The mapped address of the defined dynamic symbol `name`, or 0. Safe in a signal handler.
std::uintptr_t findElfSymbolByName(Task task, const ElfImage& image, const char* name) noexcept;

}  // namespace sys
