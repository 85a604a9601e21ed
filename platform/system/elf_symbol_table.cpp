#include "platform/system/elf_symbol_table.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sys {
namespace {

using Ehdr = ElfW(Ehdr);
using Shdr = ElfW(Shdr);
using Sym = ElfW(Sym);
using Nhdr = ElfW(Nhdr);

// Bound against damaged files: no object we load has a bigger symbol or string table than this.
constexpr std::uint64_t kMaxTableBytes = 512ull << 20;

// Reads exactly `length` bytes at `offset` of the file, which is `fileSize` long.
bool readAt(int fd, std::uint64_t fileSize, std::uint64_t offset, void* out, std::size_t length) {
  if (offset > fileSize || length > fileSize - offset) return false;
  auto* at = static_cast<char*>(out);
  while (length > 0) {
    const ssize_t n = pread(fd, at, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    offset += static_cast<std::uint64_t>(n);
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

template <class T>
bool readTable(int fd, std::uint64_t fileSize, const Shdr& section, std::vector<T>* out) {
  if (section.sh_size > kMaxTableBytes) return false;
  out->resize(section.sh_size / sizeof(T));
  return readAt(fd, fileSize, section.sh_offset, out->data(), out->size() * sizeof(T));
}

// Whether a note section of the file holds the GNU build id `buildId`.
bool hasBuildId(int fd, std::uint64_t fileSize, const std::vector<Shdr>& sections, const std::uint8_t* buildId,
                std::size_t length) {
  for (const Shdr& section : sections) {
    if (section.sh_type != SHT_NOTE) continue;
    std::vector<unsigned char> notes;
    if (!readTable(fd, fileSize, section, &notes)) continue;
    for (std::size_t at = 0; at + sizeof(Nhdr) <= notes.size();) {
      Nhdr note;
      std::memcpy(&note, notes.data() + at, sizeof note);
      const std::size_t nameAt = at + sizeof note;
      const std::size_t descAt = nameAt + ((note.n_namesz + 3u) & ~3u);
      const std::size_t next = descAt + ((note.n_descsz + 3u) & ~3u);
      if (note.n_namesz > notes.size() || note.n_descsz > notes.size() || next > notes.size()) break;
      if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
          std::memcmp(notes.data() + nameAt, "GNU", 4) == 0)
        return note.n_descsz == length && std::memcmp(notes.data() + descAt, buildId, length) == 0;
      at = next;
    }
  }
  return false;
}

}  // namespace

ElfSymbolTable ElfSymbolTable::gather(Task task, const ElfImage& image, const std::string& path) {
  ElfSymbolTable table;
  listElfFunctionSymbols(
      task, image,
      [](void* context, std::uintptr_t value, std::size_t size, const char* name) {
        static_cast<ElfSymbolTable*>(context)->add(value, size, name, std::strlen(name));
      },
      &table);
  const int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    table.addFileSymbols(fd, image.buildId, image.buildIdLength);
    close(fd);
  }
  table.finish();
  return table;
}

void ElfSymbolTable::add(std::uintptr_t start, std::uintptr_t size, const char* name, std::size_t length) {
  if (names_.size() + length + 1 > UINT32_MAX) return;
  entries_.push_back({start, size, static_cast<std::uint32_t>(names_.size())});
  names_.insert(names_.end(), name, name + length + 1);
}

void ElfSymbolTable::addFileSymbols(int fd, const std::uint8_t* buildId, std::size_t buildIdLength) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return;
  const auto fileSize = static_cast<std::uint64_t>(info.st_size);
  Ehdr header;
  if (!readAt(fd, fileSize, 0, &header, sizeof header)) return;
  if (!isNativeElfIdent(header.e_ident) || header.e_shentsize != sizeof(Shdr) || header.e_shnum == 0)
    return;  // e_shnum, 16 bits wide, bounds the section headers to read
  std::vector<Shdr> sections(header.e_shnum);
  if (!readAt(fd, fileSize, header.e_shoff, sections.data(), sections.size() * sizeof(Shdr))) return;
  if (buildIdLength > 0 && !hasBuildId(fd, fileSize, sections, buildId, buildIdLength)) return;

  const auto table = std::find_if(sections.begin(), sections.end(),
                                  [](const Shdr& s) { return s.sh_type == SHT_SYMTAB; });
  if (table == sections.end() || table->sh_entsize != sizeof(Sym) || table->sh_link >= sections.size()) return;
  std::vector<Sym> entries;
  std::vector<char> strings;
  if (!readTable(fd, fileSize, *table, &entries) || !readTable(fd, fileSize, sections[table->sh_link], &strings))
    return;
  for (const Sym& symbol : entries) {
    const unsigned type = ELF64_ST_TYPE(symbol.st_info);
    if ((type != STT_FUNC && type != STT_GNU_IFUNC) || symbol.st_shndx == SHN_UNDEF || symbol.st_value == 0 ||
        symbol.st_name == 0 || symbol.st_name >= strings.size())
      continue;
    const char* name = strings.data() + symbol.st_name;
    const std::size_t length = strnlen(name, strings.size() - symbol.st_name);
    if (length == strings.size() - symbol.st_name) continue;  // runs off the table: no terminator
    add(static_cast<std::uintptr_t>(symbol.st_value), static_cast<std::uintptr_t>(symbol.st_size), name, length);
  }
}

void ElfSymbolTable::finish() {
  std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.start < b.start; });
  // Of equal starts only the first is ever found.
  entries_.erase(std::unique(entries_.begin(), entries_.end(),
                             [](const Entry& a, const Entry& b) { return a.start == b.start; }),
                 entries_.end());
  entries_.shrink_to_fit();
  names_.shrink_to_fit();
}

bool ElfSymbolTable::find(std::uintptr_t address, char* name, std::size_t capacity,
                          std::uintptr_t* start) const noexcept {
  // The last entry whose start is not above the address, then back to the first of equal starts.
  std::size_t low = 0, high = entries_.size();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (entries_[middle].start <= address)
      low = middle + 1;
    else
      high = middle;
  }
  // The nearest start may belong to a sized symbol that ends before the address; one a little further
  // back may still cover it (a function with a nested one), as a scan of the table would find.
  const Entry* entry = nullptr;
  for (std::size_t i = low, tries = 0; i > 0 && tries < 8 && !entry; --i, ++tries) {
    const Entry& candidate = entries_[i - 1];
    if (candidate.size == 0 || address - candidate.start < candidate.size) entry = &candidate;
  }
  if (!entry || capacity == 0) return false;
  const char* text = names_.data() + entry->name;
  std::size_t i = 0;
  for (; text[i] != '\0' && i + 1 < capacity; ++i) name[i] = text[i];
  name[i] = '\0';
  *start = entry->start;
  return true;
}

}  // namespace sys
