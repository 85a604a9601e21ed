#pragma once
// The function symbols of one ELF image, gathered before any crash into a table sorted by address:
// the dynamic symbols the loader mapped, and the full symbol table (.symtab) of the image's file. The
// loader maps only the dynamic symbols, and a program exports none of its own functions, so without
// the file every frame of the executable itself would go unnamed; and a lookup in a sorted table of
// our own costs no system call, where a scan of the mapped table at crash time reads it all through
// the kernel. Gathering allocates and does I/O, so it happens when an image is listed; the table is
// then never changed, and a signal handler looks addresses up in it without allocating or locking.
//
// Trust: the file may be damaged, truncated, replaced by another build, or hostile. Every offset,
// count and name read from it is bounded before use; a file whose build id differs from the mapped
// image's is not used (its addresses would name the wrong functions); a bad file adds nothing, never
// a fault.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/system/elf_image.h"

namespace sys {

class ElfSymbolTable {
 public:
  ElfSymbolTable() = default;

  // The defined function symbols of the mapped `image` (its dynamic table) and of the ELF file at
  // `path` (its .symtab), the file's only when its GNU build id is the image's. Not safe in a signal
  // handler.
  static ElfSymbolTable gather(Task task, const ElfImage& image, const std::string& path);
  // The file's part alone, from the open file `fd` (not closed): when `buildIdLength` is not 0, a file
  // whose build id differs (or that has none) adds nothing. Not safe in a signal handler.
  void addFileSymbols(int fd, const std::uint8_t* buildId, std::size_t buildIdLength);
  // Sorts what was added; lookups need it.
  void finish();

  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }

  // The function covering `address` (in the object's own addresses, before the load bias): the
  // highest start not above it whose size, when it has one, reaches past it; of equal starts the one
  // added first (a dynamic symbol before the file's). Copies its name cut to `capacity - 1` bytes and
  // zero-terminated, and its start. False when none covers it. Safe in a signal handler.
  bool find(std::uintptr_t address, char* name, std::size_t capacity, std::uintptr_t* start) const noexcept;

 private:
  struct Entry {
    std::uintptr_t start;
    std::uintptr_t size;
    std::uint32_t name;  // offset into names_
  };
  void add(std::uintptr_t start, std::uintptr_t size, const char* name, std::size_t length);

  std::vector<Entry> entries_;  // by start once finished; of equal starts, the first added
  std::vector<char> names_;     // zero-terminated names
};

}  // namespace sys
