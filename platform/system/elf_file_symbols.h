#pragma once
// The full symbol table (.symtab) of an ELF object, read from its file. The loader maps only the
// dynamic symbols, and a program exports none of its own functions, so without this every frame of
// the executable itself would go unnamed. Reading the file allocates and does I/O, so it happens
// before any crash (when an image is listed); the table is then never changed, and a signal handler
// looks addresses up in it without allocating or locking.
//
// Trust: the file may be damaged, truncated, replaced by another build, or hostile. Every offset,
// count and name read from it is bounded before use; a file whose build id differs from the mapped
// image's is not used (its addresses would name the wrong functions); a bad file gives an empty table,
// never a fault.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sys {

class ElfFileSymbols {
 public:
  ElfFileSymbols() = default;

  // The defined function symbols of the ELF file at `path`, or of the open file `fd` (not closed).
  // When `buildIdLength` is not 0, a file whose GNU build id differs (or that has none) gives an empty
  // table. Not safe in a signal handler.
  static ElfFileSymbols read(const std::string& path, const std::uint8_t* buildId, std::size_t buildIdLength);
  static ElfFileSymbols readDescriptor(int fd, const std::uint8_t* buildId, std::size_t buildIdLength);

  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }

  // The function covering `address` (in the object's own addresses, before the load bias): the
  // highest start not above it whose size, when it has one, reaches past it. Copies its name cut to
  // `capacity - 1` bytes and zero-terminated, and its start. False when none covers it. Safe in a
  // signal handler.
  bool find(std::uintptr_t address, char* name, std::size_t capacity, std::uintptr_t* start) const noexcept;

 private:
  struct Entry {
    std::uintptr_t start;
    std::uintptr_t size;
    std::uint32_t name;  // offset into names_
  };
  std::vector<Entry> entries_;  // by start; of equal starts, the first in the file
  std::vector<char> names_;     // zero-terminated names
};

}  // namespace sys
