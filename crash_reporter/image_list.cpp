#include "crash_reporter/image_list.h"

#include <elf.h>

#include <algorithm>
#include <vector>

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

void crash_async_image_list_init(crash_async_image_list* list, crash_task_t task) {
  crash_async_image_list_free(list);
  list->task = task;
  list->seen = {~0ull, ~0ull};
}

void crash_async_image_list_free(crash_async_image_list* list) {
  crash_async_list_free(&list->list);
  async_list_detail::lock(&list->list);
  while (list->spare_count > 0) delete list->spares[--list->spare_count];
  async_list_detail::unlock(&list->list);
}

crash_error_t crash_async_image_list_append(crash_async_image_list* list, std::uintptr_t header_addr,
                                            const char* path) {
  crash_async_image image;
  const crash_error_t error = readImage(list->task, header_addr, &image);
  if (error != CRASH_ESUCCESS) return error;
  image.name = path ? path : "";
  if (image.format == CRASH_IMAGE_ELF) {
    image.symbols = std::make_shared<const sys::ElfSymbolTable>(
        sys::ElfSymbolTable::gather(list->task, image.elf, image.name));
    auto table = sys::copyEhFrameTable(list->task, image.elf.ehFrame);
    if (!table.empty()) image.cfi_table = std::make_shared<const std::vector<std::int32_t>>(std::move(table));
  }
  crash_async_list_append(&list->list, std::move(image));
  return CRASH_ESUCCESS;
}

void crash_async_image_list_remove(crash_async_image_list* list, std::uintptr_t header_addr) {
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

void crash_async_image_list_sync(crash_async_image_list* list) {
  std::lock_guard<std::mutex> lock(list->sync_mutex);
  const sys::LoaderGeneration generation = sys::loaderGeneration();
  if (generation == list->seen) return;
  // A load or unload between reading the counts and listing is caught by the next sync, because the
  // counts are read first.
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
  for (std::uintptr_t header : gone) crash_async_image_list_remove(list, header);
  for (const sys::LoaderImage& image : current)
    crash_async_image_list_append(list, image.header, image.path.c_str());
  list->seen = generation;

  // What the crash path needs to find images by itself: the loader's list, and records to fill.
  sys::prepareLoaderList();
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

bool listed(crash_async_image_list* list, const sys::LoaderEntry& entry) noexcept {
  for (auto* node = crash_async_image_list_next(list, nullptr); node; node = crash_async_image_list_next(list, node))
    if (isEntry(node->value, entry)) return true;
  return false;
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
  const int count = sys::readLoaderList(list->task, entries, kEntries, &complete);
  if (count < 0 || !async_list_detail::tryLock(&list->list)) return false;
  crash_async_list_set_reading(&list->list, true);
  for (int i = 0; i < count; ++i) {
    const std::uintptr_t bias = entries[i].bias;
    // A program not built position-independent has bias 0 and its header elsewhere: listed already.
    if (bias == 0 || listed(list, entries[i]) || list->spare_count == 0) continue;
    crash_async_image_node* node = list->spares[list->spare_count - 1];
    if (!fillSpare(list->task, bias, entries[i].nameAddress, &node->value)) continue;
    --list->spare_count;
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
      bool present = false;
      for (int i = 0; i < count && !present; ++i) present = isEntry(image, entries[i]);
      changed = changed || image.unloaded == present;
      image.unloaded = !present;
    }
  }
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
  for (auto* node = crash_async_image_list_next(list, nullptr); node;
       node = crash_async_image_list_next(list, node)) {
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
