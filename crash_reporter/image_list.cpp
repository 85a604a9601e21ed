#include "crash_reporter/image_list.h"

#include <elf.h>

#include <algorithm>
#include <vector>

#include "crash_reporter/report_fields.h"
#include "platform/system/host.h"
#include "platform/system/read_string.h"

namespace crash {
namespace {

constexpr std::size_t kNameCapacity = 256;

crash_error_t readImage(crash_task_t task, std::uintptr_t header_addr, crash_async_image* image) {
  image->task = task;
  image->header_addr = header_addr;
  std::uint8_t magic[4];
  if (crash_async_task_read(task, header_addr, 0, magic, sizeof magic) != CRASH_ESUCCESS)
    return CRASH_EINTERNAL;
  if (magic[0] == ELFMAG0 && magic[1] == ELFMAG1 && magic[2] == ELFMAG2 && magic[3] == ELFMAG3) {
    switch (sys::readElfImage(task, header_addr, &image->elf)) {
      case sys::ElfReadResult::kOk:
        break;
      case sys::ElfReadResult::kUnreadable:
        return CRASH_EINTERNAL;
      case sys::ElfReadResult::kNotElf:
      case sys::ElfReadResult::kMalformed:
        return CRASH_EINVAL;
    }
    image->format = CRASH_IMAGE_ELF;
    image->uuid_length = image->elf.buildIdLength;
    crash_async_memcpy(image->uuid, image->elf.buildId, image->uuid_length);
    // The loader maps only objects built for this machine, whose numbers the platform layer knows.
    image->cpu_type = sys::platformCpuType().value_or(0);
    image->cpu_subtype = sys::platformCpuSubtype().value_or(0);
    return CRASH_ESUCCESS;
  }
  const crash_error_t error = crash_async_macho_init(&image->macho, task, header_addr);
  if (error != CRASH_ESUCCESS) return error;
  image->format = CRASH_IMAGE_MACHO;
  if (crash_async_macho_uuid(&image->macho, image->uuid)) image->uuid_length = 16;
  image->cpu_type = image->macho.header.cputype;
  image->cpu_subtype = image->macho.header.cpusubtype;
  return CRASH_ESUCCESS;
}

// What crash_async_find_symbol keeps across its lookups.
struct Kept {
  bool found = false;
  std::uintptr_t address = 0;
  char name[kNameCapacity] = {};
};

void keep(std::uintptr_t address, const char* name, void* context) {
  auto* kept = static_cast<Kept*>(context);
  if (kept->found && address < kept->address) return;
  std::size_t length = 0;
  while (name[length] != '\0' && length + 1 < kNameCapacity) {
    kept->name[length] = name[length];
    ++length;
  }
  kept->name[length] = '\0';
  kept->address = address;
  kept->found = true;
}

// Appends `text` to the name being built at `*length`, as far as it fits.
void append(char* name, std::size_t* length, const char* text) noexcept {
  while (*text != '\0' && *length + 1 < kNameCapacity) name[(*length)++] = *text++;
  name[*length] = '\0';
}

void keepMethod(bool class_method, const char* class_name, const char* method_name, std::uintptr_t imp,
                void* context) {
  char name[kNameCapacity];
  std::size_t length = 0;
  append(name, &length, class_method ? "+[" : "-[");
  append(name, &length, class_name);
  append(name, &length, " ");
  append(name, &length, method_name);
  append(name, &length, "]");
  keep(imp, name, context);
}

crash_error_t symbolTableLookup(const crash_async_image* image, std::uintptr_t pc, Kept* kept) noexcept {
  if (image->format == CRASH_IMAGE_MACHO)
    return crash_async_macho_find_symbol_by_pc(&image->macho, pc, keep, kept);
  char name[kNameCapacity];
  std::uintptr_t start = 0;
  if (image->symbols) {
    // Gathered when the image was listed: a search of our own memory.
    if (pc < image->elf.loadBias || !image->symbols->find(pc - image->elf.loadBias, name, sizeof name, &start))
      return CRASH_ENOTFOUND;
    start += image->elf.loadBias;
  } else if (!sys::findElfSymbol(image->task, image->elf, pc, name, sizeof name, &start)) {
    // An image the crash path found by itself: its mapped dynamic table, read through the kernel.
    return CRASH_ENOTFOUND;
  }
  keep(start, name, kept);
  return CRASH_ESUCCESS;
}

}  // namespace

struct crash_async_image_index {
  struct Span {
    std::uintptr_t base;  // crash_async_image_base
    std::uintptr_t end;   // base + crash_async_image_size
    crash_async_image_node* node;
  };
  std::vector<Span> spans;                // by base; images do not overlap
  crash_async_image_node* last = nullptr;  // the list's last record when it was made: later ones are not in it
  crash_async_image_index* nextRetired = nullptr;
};

namespace {

// Puts `index` (may be null) in place of the list's index, and frees every replaced one that no
// reader can hold any more. A reader counts itself in before it takes the index, so one not counted
// in when the count is read (after the replacement) takes the new one.
void publishIndex(crash_async_image_list* list, const crash_async_image_index* index) {
  const crash_async_image_index* replaced = list->index.exchange(index, std::memory_order_seq_cst);
  async_list_detail::lock(&list->list);
  if (replaced) {
    auto* retired = const_cast<crash_async_image_index*>(replaced);
    retired->nextRetired = list->retired;
    list->retired = retired;
  }
  crash_async_image_index* free = nullptr;
  if (list->list.reader_count.load(std::memory_order_seq_cst) == 0) {
    free = list->retired;
    list->retired = nullptr;
  }
  async_list_detail::unlock(&list->list);
  while (free) {
    crash_async_image_index* following = free->nextRetired;
    delete free;
    free = following;
  }
}

// An index of the records listed now.
const crash_async_image_index* makeIndex(crash_async_image_list* list) {
  auto* index = new crash_async_image_index;
  crash_async_image_list_set_reading(list, true);
  for (auto* node = crash_async_image_list_next(list, nullptr); node; node = crash_async_image_list_next(list, node)) {
    const std::uintptr_t base = crash_async_image_base(&node->value);
    const std::uint64_t size = crash_async_image_size(&node->value);
    if (size > 0) index->spans.push_back({base, static_cast<std::uintptr_t>(base + size), node});
    index->last = node;
  }
  crash_async_image_list_set_reading(list, false);
  std::sort(index->spans.begin(), index->spans.end(),
            [](const crash_async_image_index::Span& a, const crash_async_image_index::Span& b) { return a.base < b.base; });
  return index;
}

crash_error_t appendImage(crash_async_image_list* list, std::uintptr_t header_addr, const char* path);
void removeImage(crash_async_image_list* list, std::uintptr_t header_addr);

}  // namespace

void crash_async_image_list_init(crash_async_image_list* list, crash_task_t task) {
  crash_async_image_list_free(list);
  list->task = task;
  list->seen = {~0ull, ~0ull};
}

void crash_async_image_list_free(crash_async_image_list* list) {
  publishIndex(list, nullptr);
  crash_async_list_free(&list->list);
  async_list_detail::lock(&list->list);
  while (list->spare_count > 0) delete list->spares[--list->spare_count];
  async_list_detail::unlock(&list->list);
}

crash_error_t crash_async_image_list_append(crash_async_image_list* list, std::uintptr_t header_addr,
                                            const char* path) {
  const crash_error_t error = appendImage(list, header_addr, path);
  if (error == CRASH_ESUCCESS) publishIndex(list, makeIndex(list));
  return error;
}

void crash_async_image_list_remove(crash_async_image_list* list, std::uintptr_t header_addr) {
  // No index may name a record while it is freed.
  publishIndex(list, nullptr);
  removeImage(list, header_addr);
  publishIndex(list, makeIndex(list));
}

namespace {

crash_error_t appendImage(crash_async_image_list* list, std::uintptr_t header_addr, const char* path) {
  crash_async_image image;
  const crash_error_t error = readImage(list->task, header_addr, &image);
  if (error != CRASH_ESUCCESS) return error;
  image.name = path ? path : "";
  image.report_record = crash_writer_binary_image_record(&image);
  if (image.format == CRASH_IMAGE_ELF) {
    image.symbols = std::make_shared<const sys::ElfSymbolTable>(
        sys::ElfSymbolTable::gather(list->task, image.elf, image.name));
    auto table = sys::copyEhFrameTable(list->task, image.elf.ehFrame);
    if (!table.empty()) image.cfi_table = std::make_shared<const std::vector<std::int32_t>>(std::move(table));
  }
  crash_async_list_append(&list->list, std::move(image));
  return CRASH_ESUCCESS;
}

void removeImage(crash_async_image_list* list, std::uintptr_t header_addr) {
  crash_async_image_node* found = nullptr;
  crash_async_list_set_reading(&list->list, true);
  for (auto* node = crash_async_list_next(&list->list, nullptr); node;
       node = crash_async_list_next(&list->list, node)) {
    if (node->value.header_addr == header_addr) {
      found = node;
      break;
    }
  }
  crash_async_list_set_reading(&list->list, false);
  if (found) crash_async_list_remove(&list->list, found);
}

}  // namespace

void crash_async_image_list_sync(crash_async_image_list* list) {
  std::lock_guard<std::mutex> lock(list->sync_mutex);
  const sys::LoaderGeneration generation = sys::loaderGeneration();
  if (generation == list->seen) return;
  // A load or unload between reading the counts and listing is caught by the next sync, because the
  // counts are read first. What the crash path needs to follow the loader is taken before the listing:
  // a change between the two then shows to the crash path as a change since.
  sys::prepareLoaderList();
  std::vector<sys::LoaderImage> current = sys::loadedImages();

  std::vector<std::uintptr_t> gone;
  crash_async_image_list_set_reading(list, true);
  for (auto* node = crash_async_image_list_next(list, nullptr); node;
       node = crash_async_image_list_next(list, node)) {
    const auto still = std::find_if(current.begin(), current.end(), [&](const sys::LoaderImage& image) {
      return image.header == node->value.header_addr && image.path == node->value.name;
    });
    if (still == current.end()) {
      gone.push_back(node->value.header_addr);
    } else {
      current.erase(still);  // listed already
    }
  }
  crash_async_image_list_set_reading(list, false);
  if (!gone.empty()) publishIndex(list, nullptr);  // no index may name a record while it is freed
  for (std::uintptr_t header : gone) removeImage(list, header);
  for (const sys::LoaderImage& image : current) appendImage(list, image.header, image.path.c_str());
  publishIndex(list, makeIndex(list));
  list->seen = generation;
  list->looked_changed.store(false, std::memory_order_relaxed);

  // Records for the crash path to fill with images it finds by itself.
  async_list_detail::lock(&list->list);
  const std::size_t missing = CRASH_IMAGE_SPARES - list->spare_count;
  async_list_detail::unlock(&list->list);
  for (std::size_t i = 0; i < missing; ++i) {
    auto* node = new crash_async_image_node{};
    node->value.name.reserve(CRASH_IMAGE_SPARE_PATH);
    async_list_detail::lock(&list->list);
    if (list->spare_count < CRASH_IMAGE_SPARES) {
      list->spares[list->spare_count++] = node;
      node = nullptr;
    }
    async_list_detail::unlock(&list->list);
    delete node;
  }
}

namespace {

// Whether a listed record is the loader's entry: the same bias and dynamic section (a library opened
// where a closed one lay shares its bias, hardly ever its dynamic section too).
bool isEntry(const crash_async_image& image, const sys::LoaderEntry& entry) noexcept {
  return image.format == CRASH_IMAGE_ELF && image.elf.loadBias == entry.bias && image.elf.dynamic == entry.dynamic;
}

// The record of the loader's entry, or null. Looked for from `*from` on, then from the head up to
// it: the list keeps the loader's order, so an entry's record is mostly the one after the record found
// last, and a process with a hundred libraries compares a hundred records, not ten thousand. Moves
// `*from` past the record found.
crash_async_image* listedRecord(crash_async_image_list* list, const sys::LoaderEntry& entry,
                                crash_async_image_node** from) noexcept {
  bool wrapped = false;
  for (auto* node = *from;; node = crash_async_image_list_next(list, node)) {
    if (!node && !wrapped) {  // past the end: on from the head, once
      wrapped = true;
      node = crash_async_image_list_next(list, nullptr);
    }
    if (!node || (wrapped && node == *from)) return nullptr;
    if (!isEntry(node->value, entry)) continue;
    *from = crash_async_image_list_next(list, node);
    return &node->value;
  }
}

// Fills a crash-time record for the ELF image at `header`, named by the string at `nameAddress`.
bool fillSpare(crash_task_t task, std::uintptr_t header, std::uintptr_t nameAddress,
               crash_async_image* image) noexcept {
  if (sys::readElfImage(task, header, &image->elf) != sys::ElfReadResult::kOk) return false;
  image->format = CRASH_IMAGE_ELF;
  image->task = task;
  image->header_addr = header;
  image->unloaded = false;
  image->uuid_length = image->elf.buildIdLength;
  crash_async_memcpy(image->uuid, image->elf.buildId, image->uuid_length);
  image->cpu_type = sys::platformCpuType().value_or(0);
  image->cpu_subtype = sys::platformCpuSubtype().value_or(0);
  // The name's room was reserved beforehand: resizing within it does not allocate.
  char path[CRASH_IMAGE_SPARE_PATH];
  sys::readString(task, nameAddress, sizeof path, path, sizeof path);
  std::size_t length = 0;
  while (path[length] != '\0') ++length;
  if (length > image->name.capacity()) length = image->name.capacity();
  image->name.resize(length);
  crash_async_memcpy(image->name.data(), path, length);
  return true;
}

}  // namespace

bool crash_async_image_list_sync_async(crash_async_image_list* list) noexcept {
  constexpr std::size_t kEntries = 256;  // 6 KB of the signal stack; a process with more gets no removals marked
  sys::LoaderEntry entries[kEntries];
  bool complete = false;
  bool changed = false;
  if (!list->looked_changed.load(std::memory_order_relaxed) && sys::loaderListUnchanged(list->task)) return false;
  const int count = sys::readLoaderList(list->task, entries, kEntries, &complete);
  if (count < 0 || !async_list_detail::tryLock(&list->list)) return false;
  crash_async_list_set_reading(&list->list, true);
  for (auto* node = crash_async_image_list_next(list, nullptr); node; node = crash_async_image_list_next(list, node))
    node->value.seen = false;
  crash_async_image_node* from = crash_async_image_list_next(list, nullptr);
  for (int i = 0; i < count; ++i) {
    const std::uintptr_t bias = entries[i].bias;
    // A program not built position-independent has bias 0 and its header elsewhere: listed already.
    if (bias == 0) continue;
    if (crash_async_image* image = listedRecord(list, entries[i], &from)) {
      image->seen = true;
      continue;
    }
    if (list->spare_count == 0) continue;
    crash_async_image_node* node = list->spares[list->spare_count - 1];
    if (!fillSpare(list->task, bias, entries[i].nameAddress, &node->value)) continue;
    --list->spare_count;
    node->value.seen = true;
    node->next.store(nullptr, std::memory_order_relaxed);
    node->prev = nullptr;
    node->free_next = nullptr;
    async_list_detail::linkTail(&list->list, node);
    changed = true;
  }
  if (complete) {
    for (auto* node = crash_async_image_list_next(list, nullptr); node;
         node = crash_async_image_list_next(list, node)) {
      crash_async_image& image = node->value;
      if (image.format != CRASH_IMAGE_ELF || image.elf.loadBias == 0) continue;
      changed = changed || image.unloaded == image.seen;
      image.unloaded = !image.seen;
    }
  }
  if (changed) list->looked_changed.store(true, std::memory_order_relaxed);
  crash_async_list_set_reading(&list->list, false);
  async_list_detail::unlock(&list->list);
  return changed;
}

void crash_async_image_list_set_reading(crash_async_image_list* list, bool reading) noexcept {
  crash_async_list_set_reading(&list->list, reading);
}

crash_async_image_node* crash_async_image_list_next(crash_async_image_list* list,
                                                    crash_async_image_node* previous) noexcept {
  return crash_async_list_next(&list->list, previous);
}

const crash_async_image* crash_async_image_containing_address(crash_async_image_list* list,
                                                              std::uintptr_t address) noexcept {
  // The index first; then, past its last record, the records the crash path listed since, or every
  // record while there is no index. A record the crash path found unloaded is passed over: a library
  // opened where it lay since is among the later ones.
  crash_async_image_node* node = crash_async_image_list_next(list, nullptr);
  if (const crash_async_image_index* index = list->index.load(std::memory_order_seq_cst)) {
    std::size_t low = 0, high = index->spans.size();
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      if (index->spans[middle].base <= address)
        low = middle + 1;
      else
        high = middle;
    }
    if (low > 0) {
      const crash_async_image_index::Span& span = index->spans[low - 1];
      if (address < span.end && !span.node->value.unloaded) return &span.node->value;
    }
    node = index->last ? crash_async_image_list_next(list, index->last) : node;
  }
  for (; node; node = crash_async_image_list_next(list, node)) {
    const crash_async_image& image = node->value;
    if (image.unloaded) continue;
    const std::uintptr_t base = crash_async_image_base(&image);
    if (address >= base && address - base < crash_async_image_size(&image)) return &image;
  }
  return nullptr;
}

std::uintptr_t crash_async_image_base(const crash_async_image* image) noexcept { return image->header_addr; }

std::uint64_t crash_async_image_size(const crash_async_image* image) noexcept {
  if (image->format == CRASH_IMAGE_MACHO) return image->macho.text_size;
  return image->elf.spanEnd > image->header_addr ? image->elf.spanEnd - image->header_addr : 0;
}

crash_error_t crash_async_find_symbol(const crash_async_image* image, std::uint32_t strategy,
                                      crash_async_objc_cache* cache, std::uintptr_t pc,
                                      crash_async_found_symbol_cb callback, void* context) noexcept {
  Kept kept;
  crash_error_t tableError = CRASH_ENOTFOUND;
  if (strategy & CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE) tableError = symbolTableLookup(image, pc, &kept);
  crash_error_t objcError = CRASH_ENOTFOUND;
  // Only Mach-O images carry Objective-C class metadata.
  if ((strategy & CRASH_SYMBOL_STRATEGY_OBJC) && image->format == CRASH_IMAGE_MACHO) {
    objcError = crash_async_objc_find_method(&image->macho, cache, pc, keepMethod, &kept);
  }
  if (tableError != CRASH_ESUCCESS && objcError != CRASH_ESUCCESS) return tableError;
  if (!kept.found) return CRASH_EINTERNAL;
  callback(kept.address, kept.name, context);
  return CRASH_ESUCCESS;
}

}  // namespace crash
