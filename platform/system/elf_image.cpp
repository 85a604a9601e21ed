#include "platform/system/elf_image.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/system/process.h"
#include "platform/system/read_string.h"

namespace sys {
namespace {

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Dyn = ElfW(Dyn);
using Sym = ElfW(Sym);
using Word = ElfW(Word);

// Bounds against damaged images: no loaded object has more program headers, dynamic entries or
// symbols than this, and a walk never runs longer.
constexpr std::size_t kMaxProgramHeaders = 64;
constexpr std::size_t kMaxDynamicEntries = 4096;
constexpr std::size_t kMaxSymbols = 1u << 22;
// Symbols read a batch at a time: 256 entries (6 KB of the 64 KB signal stack) make a lookup about
// twice as fast as 64, and more gain nothing.
constexpr std::size_t kSymbolBatch = 256;

template <class T>
bool readValue(Task task, std::uintptr_t address, T* value) noexcept {
  return readMemory(task, address, value, sizeof(T)) == MemoryReadResult::kSuccess;
}

// The dynamic section holds addresses the loader may or may not have relocated in place (it does
// for ordinary objects, not for the read-only vDSO): an address below the bias is still unrelocated.
std::uintptr_t relocated(const ElfImage& image, std::uintptr_t value) noexcept {
  return value < image.loadBias ? value + image.loadBias : value;
}

// Symbols in DT_GNU_HASH are counted by walking to the end of the chain of the highest bucket.
bool countGnuHashSymbols(Task task, std::uintptr_t table, std::size_t* count) noexcept {
  Word header[4];  // bucket count, first hashed symbol, bloom words, bloom shift
  if (!readValue(task, table, &header)) return false;
  const std::size_t buckets = header[0];
  const std::size_t first = header[1];
  const std::size_t bloomWords = header[2];
  if (buckets == 0 || buckets > kMaxSymbols || bloomWords > kMaxSymbols) return false;
  const std::uintptr_t bucketTable = table + sizeof header + bloomWords * sizeof(ElfW(Addr));
  std::size_t last = 0;
  Word batch[kSymbolBatch];
  for (std::size_t i = 0; i < buckets; i += kSymbolBatch) {
    const std::size_t n = buckets - i < kSymbolBatch ? buckets - i : kSymbolBatch;
    if (readMemory(task, bucketTable + i * sizeof(Word), batch, n * sizeof(Word)) !=
        MemoryReadResult::kSuccess) {
      return false;
    }
    for (std::size_t j = 0; j < n; ++j) last = batch[j] > last ? batch[j] : last;
  }
  if (last < first) {
    *count = first;
    return true;
  }
  const std::uintptr_t chains = bucketTable + buckets * sizeof(Word);
  for (std::size_t index = last; index < kMaxSymbols; ++index) {
    Word hash;
    if (!readValue(task, chains + (index - first) * sizeof(Word), &hash)) return false;
    if (hash & 1) {
      *count = index + 1;
      return true;
    }
  }
  return false;
}

void readDynamicSection(Task task, std::uintptr_t dynamic, ElfImage* image) noexcept {
  std::uintptr_t hash = 0, gnuHash = 0;
  for (std::size_t i = 0; i < kMaxDynamicEntries; ++i) {
    Dyn entry;
    if (!readValue(task, dynamic + i * sizeof(Dyn), &entry) || entry.d_tag == DT_NULL) break;
    switch (entry.d_tag) {
      case DT_SYMTAB:
        image->symbols = relocated(*image, entry.d_un.d_ptr);
        break;
      case DT_STRTAB:
        image->strings = relocated(*image, entry.d_un.d_ptr);
        break;
      case DT_STRSZ:
        image->stringsSize = entry.d_un.d_val;
        break;
      case DT_HASH:
        hash = relocated(*image, entry.d_un.d_ptr);
        break;
      case DT_GNU_HASH:
        gnuHash = relocated(*image, entry.d_un.d_ptr);
        break;
      default:
        break;
    }
  }
  std::size_t count = 0;
  Word counts[2];  // DT_HASH: bucket count, chain count (= symbol count)
  if (hash != 0 && readValue(task, hash, &counts)) {
    count = counts[1];
  } else if (gnuHash == 0 || !countGnuHashSymbols(task, gnuHash, &count)) {
    count = 0;
  }
  if (image->symbols == 0 || image->strings == 0 || count > kMaxSymbols) count = 0;
  image->symbolCount = count;
  if (count == 0) image->symbols = 0;
}

void readBuildId(Task task, std::uintptr_t notes, std::size_t size, ElfImage* image) noexcept {
  std::size_t at = 0;
  while (at + sizeof(ElfW(Nhdr)) <= size) {
    ElfW(Nhdr) note;
    if (!readValue(task, notes + at, &note)) return;
    const std::size_t nameSize = (note.n_namesz + 3u) & ~std::size_t{3};
    const std::size_t descSize = (note.n_descsz + 3u) & ~std::size_t{3};
    const std::size_t body = at + sizeof note;
    if (nameSize > size || descSize > size || body + nameSize + descSize > size) return;
    char name[4] = {};
    if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && readValue(task, notes + body, &name) &&
        name[0] == 'G' && name[1] == 'N' && name[2] == 'U' && name[3] == '\0' && note.n_descsz > 0 &&
        note.n_descsz <= sizeof image->buildId &&
        readMemory(task, notes + body + nameSize, image->buildId, note.n_descsz) ==
            MemoryReadResult::kSuccess) {
      image->buildIdLength = note.n_descsz;
      return;
    }
    at = body + nameSize + descSize;
  }
}

// Copies the zero-terminated name at `offset` of the string table, cut to fit `capacity`.
bool copyName(Task task, const ElfImage& image, std::size_t offset, char* name,
              std::size_t capacity) noexcept {
  if (capacity == 0 || offset >= image.stringsSize) return false;
  return readString(task, image.strings + offset, image.stringsSize - offset, name, capacity) !=
             StringReadResult::kUnreadable &&
         name[0] != '\0';
}

bool isDefinedFunction(const Sym& symbol) noexcept {
  const unsigned type = ELF64_ST_TYPE(symbol.st_info);
  return symbol.st_shndx != SHN_UNDEF && symbol.st_value != 0 && (type == STT_FUNC || type == STT_GNU_IFUNC);
}

// Calls `visit(symbol, index)` for every dynamic symbol, reading the table in batches; stops early
// when it returns false.
template <class Visit>
void forEachSymbol(Task task, const ElfImage& image, Visit visit) noexcept {
  Sym batch[kSymbolBatch];
  for (std::size_t i = 0; i < image.symbolCount; i += kSymbolBatch) {
    const std::size_t n = image.symbolCount - i < kSymbolBatch ? image.symbolCount - i : kSymbolBatch;
    if (readMemory(task, image.symbols + i * sizeof(Sym), batch, n * sizeof(Sym)) !=
        MemoryReadResult::kSuccess) {
      return;
    }
    for (std::size_t j = 0; j < n; ++j) {
      if (!visit(batch[j])) return;
    }
  }
}

}  // namespace

LoaderGeneration loaderGeneration() {
  LoaderGeneration generation;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t size, void* data) -> int {
        auto* out = static_cast<LoaderGeneration*>(data);
        if (size >= offsetof(dl_phdr_info, dlpi_subs) + sizeof info->dlpi_subs) {
          out->adds = info->dlpi_adds;
          out->removes = info->dlpi_subs;
        }
        return 1;  // the counters are the same in every entry
      },
      &generation);
  return generation;
}

std::vector<LoaderImage> loadedImages() {
  std::vector<LoaderImage> images;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) -> int {
        auto* out = static_cast<std::vector<LoaderImage>*>(data);
        for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
          const Phdr& segment = info->dlpi_phdr[i];
          if (segment.p_type != PT_LOAD) continue;
          LoaderImage image;
          image.header = info->dlpi_addr + segment.p_vaddr - segment.p_offset;
          image.path = info->dlpi_name ? info->dlpi_name : "";
          out->push_back(std::move(image));
          break;
        }
        return 0;
      },
      &images);
  if (!images.empty() && images.front().path.empty()) {
    if (auto path = executablePath()) images.front().path = *path;
  }
  return images;
}

namespace {
// The head of the loader's link map: the program's own entry, which lives as long as the process.
std::atomic<std::uintptr_t> gLoaderHead{0};

// The public head of struct link_map: bias, name, dynamic section, next, previous.
struct Link {
  std::uintptr_t bias, name, dynamic, next, previous;
};

// Where the entries of the link map lay at the last preparation, so that a walk can read them in a few
// gathered reads and only check that they still link up (gLoaderEntriesSeen says how many are).
constexpr std::size_t kKnownLoaderEntries = 512;
std::atomic<std::uintptr_t> gLoaderEntries[kKnownLoaderEntries];
std::atomic<std::size_t> gLoaderEntriesSeen{0};
std::atomic<bool> gLoaderEntriesComplete{false};  // the preparation read the list to its end

// How many objects the loader had mapped when this program's own initialisers ran: the program, the
// libraries it needs and those preloaded. None of them is ever unmapped (closing a library only undoes
// an opening of it), and the loader lists them first, in the order they were mapped.
std::size_t mappedObjectCount() {
  std::size_t count = 0;
  dl_iterate_phdr(
      [](dl_phdr_info*, std::size_t, void* data) -> int {
        ++*static_cast<std::size_t*>(data);
        return 0;
      },
      &count);
  return count;
}
const std::size_t gStartupObjects = mappedObjectCount();

// The entries from `at` on, one read each, after the `count` already in `out`.
int walkLoaderList(Task task, std::uintptr_t at, LoaderEntry* out, std::size_t capacity, std::size_t count,
                   bool* complete) noexcept {
  std::size_t seen = count;
  // The walk ends at the list's end, at an entry it cannot read, or after a bound no process reaches.
  for (; at != 0 && seen < 4096; ++seen) {
    Link link;
    if (!readValue(task, at, &link)) return static_cast<int>(count);
    if (count < capacity) out[count++] = LoaderEntry{link.bias, link.name, link.dynamic};
    at = link.next;
  }
  *complete = at == 0 && seen == count;
  return static_cast<int>(count);
}
}  // namespace

void prepareLoaderList() {
  if (gLoaderHead.load(std::memory_order_acquire) == 0) {
    void* program = dlopen(nullptr, RTLD_LAZY | RTLD_NOLOAD);
    link_map* map = nullptr;
    if (program && dlinfo(program, RTLD_DI_LINKMAP, &map) == 0 && map) {
      while (map->l_prev) map = map->l_prev;
      gLoaderHead.store(reinterpret_cast<std::uintptr_t>(map), std::memory_order_release);
    }
    if (program) dlclose(program);
  }
  // Where the entries lie now (read guarded: a library may be opened or closed meanwhile; a stale
  // answer only costs the walk its gathered reads).
  std::size_t seen = 0;
  gLoaderEntriesSeen.store(0, std::memory_order_release);
  gLoaderEntriesComplete.store(false, std::memory_order_release);
  std::uintptr_t at = gLoaderHead.load(std::memory_order_acquire);
  for (; at != 0 && seen < kKnownLoaderEntries; ++seen) {
    Link link;
    if (!readValue(taskSelf(), at, &link)) break;
    gLoaderEntries[seen].store(at, std::memory_order_relaxed);
    at = link.next;
  }
  gLoaderEntriesComplete.store(at == 0, std::memory_order_release);
  gLoaderEntriesSeen.store(seen, std::memory_order_release);
}

bool loaderListUnchanged(Task task) noexcept {
  const std::size_t seen = gLoaderEntriesSeen.load(std::memory_order_acquire);
  if (seen == 0 || !gLoaderEntriesComplete.load(std::memory_order_acquire)) return false;
  // The last entry that stays mapped, and every one after it: their links must be as they were.
  const std::size_t from = gStartupObjects > 0 && gStartupObjects <= seen ? gStartupObjects - 1 : 0;
  const std::size_t count = seen - from;
  if (count > kMaxMemoryPieces) return false;
  std::uintptr_t links[kMaxMemoryPieces];
  MemoryPiece pieces[kMaxMemoryPieces];
  for (std::size_t i = 0; i < count; ++i)
    pieces[i] = {gLoaderEntries[from + i].load(std::memory_order_relaxed) + offsetof(Link, next), &links[i],
                 sizeof links[i]};
  if (!readMemoryPieces(task, pieces, count)) return false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uintptr_t expected = from + i + 1 < seen ? gLoaderEntries[from + i + 1].load(std::memory_order_relaxed) : 0;
    if (links[i] != expected) return false;
  }
  return true;
}

int readLoaderList(Task task, LoaderEntry* out, std::size_t capacity, bool* complete) noexcept {
  *complete = false;
  const std::uintptr_t head = gLoaderHead.load(std::memory_order_acquire);
  if (head == 0) return -1;
  // The entries where they were, read a batch at a time, each checked to link up from the head; the
  // walk goes on one entry at a time from the first that does not (or past the last, for libraries
  // opened since).
  std::size_t known = gLoaderEntriesSeen.load(std::memory_order_acquire);
  if (known > capacity) known = capacity;
  std::size_t linked = 0;
  std::uintptr_t next = head;  // where the entry after the last one linked lies
  while (linked < known) {
    const std::size_t batch = known - linked < kMaxMemoryPieces ? known - linked : kMaxMemoryPieces;
    Link links[kMaxMemoryPieces];
    MemoryPiece pieces[kMaxMemoryPieces];
    for (std::size_t i = 0; i < batch; ++i)
      pieces[i] = {gLoaderEntries[linked + i].load(std::memory_order_relaxed), &links[i], sizeof(Link)};
    if (pieces[0].address != next || !readMemoryPieces(task, pieces, batch)) break;
    std::size_t i = 0;
    for (; i < batch && pieces[i].address == next; ++i) {
      out[linked++] = LoaderEntry{links[i].bias, links[i].name, links[i].dynamic};
      next = links[i].next;
    }
    if (i < batch) break;
  }
  return walkLoaderList(task, next, out, capacity, linked, complete);
}

bool isNativeElfIdent(const unsigned char* ident) noexcept {
#if defined(__LP64__)
  constexpr unsigned char kClass = ELFCLASS64;
#else
  constexpr unsigned char kClass = ELFCLASS32;
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  constexpr unsigned char kData = ELFDATA2LSB;
#else
  constexpr unsigned char kData = ELFDATA2MSB;
#endif
  return std::memcmp(ident, ELFMAG, SELFMAG) == 0 && ident[EI_CLASS] == kClass && ident[EI_DATA] == kData;
}

ElfReadResult readElfImage(Task task, std::uintptr_t header, ElfImage* image) noexcept {
  *image = ElfImage{};
  image->header = header;
  Ehdr elf;
  if (!readValue(task, header, &elf)) return ElfReadResult::kUnreadable;
  if (!isNativeElfIdent(elf.e_ident) || elf.e_ident[EI_VERSION] != EV_CURRENT) {
    return ElfReadResult::kNotElf;
  }
  if (elf.e_phentsize != sizeof(Phdr) || elf.e_phnum == 0 || elf.e_phnum > kMaxProgramHeaders) {
    return ElfReadResult::kMalformed;
  }
  image->machine = elf.e_machine;

  Phdr segments[kMaxProgramHeaders];
  if (readMemory(task, header + elf.e_phoff, segments, elf.e_phnum * sizeof(Phdr)) !=
      MemoryReadResult::kSuccess) {
    return ElfReadResult::kUnreadable;
  }
  bool biasKnown = false;
  std::uintptr_t loadEnd = 0;
  for (std::size_t i = 0; i < elf.e_phnum; ++i) {
    const Phdr& segment = segments[i];
    if (segment.p_type != PT_LOAD) continue;
    if (!biasKnown) {
      // The header is mapped by the first loadable segment, at its file offset into it.
      if (segment.p_vaddr < segment.p_offset) return ElfReadResult::kMalformed;
      image->loadBias = header - (segment.p_vaddr - segment.p_offset);
      biasKnown = true;
    }
    const std::uintptr_t end = image->loadBias + segment.p_vaddr + segment.p_memsz;
    if (end < header) return ElfReadResult::kMalformed;
    loadEnd = end > loadEnd ? end : loadEnd;
    if ((segment.p_flags & PF_X) && end > image->spanEnd) image->spanEnd = end;
  }
  if (!biasKnown) return ElfReadResult::kMalformed;
  if (image->spanEnd == 0) image->spanEnd = loadEnd;  // no code: the whole image
  for (std::size_t i = 0; i < elf.e_phnum; ++i) {
    const Phdr& segment = segments[i];
    if (segment.p_type == PT_DYNAMIC) {
      image->dynamic = image->loadBias + segment.p_vaddr;
      readDynamicSection(task, image->dynamic, image);
    }
    if (segment.p_type == PT_GNU_EH_FRAME) readEhFrameIndex(task, image->loadBias + segment.p_vaddr, &image->ehFrame);
    if (segment.p_type == PT_NOTE && image->buildIdLength == 0) {
      readBuildId(task, image->loadBias + segment.p_vaddr, segment.p_memsz, image);
    }
  }
  return ElfReadResult::kOk;
}

bool findElfSymbol(Task task, const ElfImage& image, std::uintptr_t address, char* name, std::size_t capacity,
                   std::uintptr_t* start) noexcept {
  if (address < image.loadBias) return false;
  const std::uintptr_t target = address - image.loadBias;
  bool found = false;
  Sym best{};
  forEachSymbol(task, image, [&](const Sym& symbol) noexcept {
    if (!isDefinedFunction(symbol) || symbol.st_value > target) return true;
    if (symbol.st_size != 0 && target - symbol.st_value >= symbol.st_size) return true;
    if (!found || symbol.st_value > best.st_value) {
      best = symbol;
      found = true;
    }
    return true;
  });
  if (!found || !copyName(task, image, best.st_name, name, capacity)) return false;
  *start = image.loadBias + best.st_value;
  return true;
}

void listElfFunctionSymbols(Task task, const ElfImage& image,
                            void (*visit)(void* context, std::uintptr_t value, std::size_t size, const char* name),
                            void* context) {
  // The string table in one read, rather than one read per name.
  constexpr std::size_t kMaxStrings = 64u << 20;
  if (image.stringsSize == 0 || image.stringsSize > kMaxStrings) return;
  std::vector<char> strings(image.stringsSize);
  if (readMemory(task, image.strings, strings.data(), strings.size()) != MemoryReadResult::kSuccess) return;
  forEachSymbol(task, image, [&](const Sym& symbol) noexcept {
    if (!isDefinedFunction(symbol) || symbol.st_name == 0 || symbol.st_name >= strings.size()) return true;
    const char* name = strings.data() + symbol.st_name;
    if (strnlen(name, strings.size() - symbol.st_name) < strings.size() - symbol.st_name)
      visit(context, symbol.st_value, symbol.st_size, name);
    return true;
  });
}

std::uintptr_t findElfSymbolByName(Task task, const ElfImage& image, const char* name) noexcept {
  std::uintptr_t result = 0;
  forEachSymbol(task, image, [&](const Sym& symbol) noexcept {
    if (symbol.st_shndx == SHN_UNDEF || symbol.st_value == 0) return true;
    char candidate[256];
    if (!copyName(task, image, symbol.st_name, candidate, sizeof candidate)) return true;
    const char* a = candidate;
    const char* b = name;
    while (*a != '\0' && *a == *b) ++a, ++b;
    if (*a != *b) return true;
    result = image.loadBias + symbol.st_value;
    return false;
  });
  return result;
}

}  // namespace sys
