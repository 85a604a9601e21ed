#include "crash_reporter/objc.h"

#include <initializer_list>

#include "platform/system/read_string.h"

namespace crash {
namespace {

// The read-write record of a realised class carries this flag; its read-only data is one step away.
constexpr std::uint32_t kRealizedFlag = 0x80000000u;
// A legacy class whose method-list field points at one list rather than an array of lists.
constexpr std::uint32_t kLegacyNoMethodArray = 0x4000;
// Bounds against damaged metadata.
constexpr std::uint32_t kMaxMethods = 1u << 16;
constexpr std::uint32_t kMaxLegacyLists = 4096;
constexpr std::size_t kNameCapacity = 256;

// One search, run twice over the metadata: the first pass finds the highest implementation address
// not above the pc, the second reports the first method that starts there.
struct Search {
  const crash_async_macho* image;
  crash_async_objc_cache* cache;
  std::uintptr_t pc;
  bool second_pass;
  bool found;
  std::uintptr_t best;
  bool reported;
  crash_async_objc_found_method_cb callback;
  void* context;
};

std::size_t pointerSize(const crash_async_macho* image) noexcept { return image->m64 ? 8 : 4; }

bool readPointer(const crash_async_macho* image, std::uintptr_t address, std::uintptr_t* value) noexcept {
  if (image->m64) {
    std::uint64_t wide;
    if (crash_async_task_read_uint64(image->task, image->byteorder, address, 0, &wide) != CRASH_ESUCCESS)
      return false;
    *value = static_cast<std::uintptr_t>(wide);
    return true;
  }
  std::uint32_t narrow;
  if (crash_async_task_read_uint32(image->task, image->byteorder, address, 0, &narrow) != CRASH_ESUCCESS)
    return false;
  *value = narrow;
  return true;
}

bool read32(const crash_async_macho* image, std::uintptr_t address, std::uint32_t* value) noexcept {
  return crash_async_task_read_uint32(image->task, image->byteorder, address, 0, value) == CRASH_ESUCCESS;
}

bool inView(const crash_async_mobject& view, std::uintptr_t address, std::size_t length) noexcept {
  return address >= view.address && address - view.address <= view.length &&
         length <= view.length - (address - view.address);
}

// Reads a class or method name, cut to fit; the terminator of a longer one is not looked for.
bool readName(const crash_async_macho* image, std::uintptr_t address, char* name) noexcept {
  return sys::readString(image->task, address, kNameCapacity - 1, name, kNameCapacity) !=
             sys::StringReadResult::kUnreadable &&
         name[0] != '\0';
}

crash_error_t visitMethod(Search* search, bool class_method, std::uintptr_t class_name,
                          std::uintptr_t method_name, std::uintptr_t imp) noexcept {
  if (!search->second_pass) {
    if (imp <= search->pc && (!search->found || imp > search->best)) {
      search->best = imp;
      search->found = true;
    }
    return CRASH_ESUCCESS;
  }
  if (search->reported || imp != search->best) return CRASH_ESUCCESS;
  char className[kNameCapacity], methodName[kNameCapacity];
  if (!readName(search->image, class_name, className) || !readName(search->image, method_name, methodName)) {
    return CRASH_EINVALID_DATA;
  }
  search->callback(class_method, className, methodName, imp, search->context);
  search->reported = true;
  return CRASH_ESUCCESS;
}

// A modern method list: a word of entry size and flags, a count, then the entries {name, types, imp}.
crash_error_t visitMethodList(Search* search, std::uintptr_t list, bool class_method,
                              std::uintptr_t class_name) noexcept {
  if (list == 0) return CRASH_ESUCCESS;
  const crash_async_macho* image = search->image;
  const crash_async_mobject& section = search->cache->objc_const;
  std::uint32_t sizeAndFlags, count;
  if (!inView(section, list, 8) || !read32(image, list, &sizeAndFlags) || !read32(image, list + 4, &count)) {
    return CRASH_EINVALID_DATA;
  }
  const std::size_t entry = sizeAndFlags & ~3u;
  if (entry < 3 * pointerSize(image) || count > kMaxMethods || !inView(section, list + 8, count * entry)) {
    return CRASH_EINVALID_DATA;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uintptr_t at = list + 8 + i * entry;
    std::uintptr_t name, imp;
    if (!readPointer(image, at, &name) || !readPointer(image, at + 2 * pointerSize(image), &imp)) {
      return CRASH_EINVALID_DATA;
    }
    const crash_error_t error = visitMethod(search, class_method, class_name, name, imp);
    if (error != CRASH_ESUCCESS) return error;
  }
  return CRASH_ESUCCESS;
}

// The read-only data of a modern class, through its read-write record when the class is realised.
crash_error_t classReadOnlyData(Search* search, std::uintptr_t cls, std::uintptr_t* ro) noexcept {
  const crash_async_macho* image = search->image;
  const std::size_t ptr = pointerSize(image);
  std::uintptr_t data;
  if (!inView(search->cache->objc_data, cls, 5 * ptr) || !readPointer(image, cls + 4 * ptr, &data)) {
    return CRASH_EINVALID_DATA;
  }
  // ARM64 classes keep flags in the low bits of the data pointer.
  if (image->header.cputype == 0x100000c && (data & 1)) data &= ~std::uintptr_t{7};
  std::uint32_t flags;
  if (!read32(image, data, &flags)) return CRASH_EINVALID_DATA;
  if (flags & kRealizedFlag) {
    if (!readPointer(image, data + 8, &data)) return CRASH_EINVALID_DATA;
  }
  // flags, instance start and size (and padding on 64-bit), ivar layout, name, methods
  if (!inView(search->cache->objc_const, data, image->m64 ? 40 : 24)) return CRASH_EINVALID_DATA;
  *ro = data;
  return CRASH_ESUCCESS;
}

crash_error_t className(Search* search, std::uintptr_t cls, std::uintptr_t* name) noexcept {
  std::uintptr_t ro;
  const crash_error_t error = classReadOnlyData(search, cls, &ro);
  if (error != CRASH_ESUCCESS) return error;
  return readPointer(search->image, ro + (search->image->m64 ? 24 : 16), name) ? CRASH_ESUCCESS
                                                                               : CRASH_EINVALID_DATA;
}

crash_error_t visitClass(Search* search, std::uintptr_t cls, bool class_method,
                         std::uintptr_t name) noexcept {
  std::uintptr_t ro, methods;
  crash_error_t error = classReadOnlyData(search, cls, &ro);
  if (error != CRASH_ESUCCESS) return error;
  if (!readPointer(search->image, ro + (search->image->m64 ? 32 : 20), &methods)) return CRASH_EINVALID_DATA;
  return visitMethodList(search, methods, class_method, name);
}

crash_error_t searchModern(Search* search) noexcept {
  const crash_async_macho* image = search->image;
  const crash_async_objc_cache* cache = search->cache;
  const std::size_t ptr = pointerSize(image);
  for (std::size_t i = 0; cache->class_list_mapped && i < cache->class_list.length / ptr; ++i) {
    std::uintptr_t cls, meta, name;
    if (!readPointer(image, cache->class_list.address + i * ptr, &cls)) return CRASH_EINVALID_DATA;
    crash_error_t error = className(search, cls, &name);
    if (error == CRASH_ESUCCESS) error = visitClass(search, cls, false, name);
    if (error == CRASH_ESUCCESS)
      error = readPointer(image, cls, &meta) ? CRASH_ESUCCESS : CRASH_EINVALID_DATA;
    if (error == CRASH_ESUCCESS) error = visitClass(search, meta, true, name);
    if (error != CRASH_ESUCCESS) return error;
  }
  for (std::size_t i = 0; cache->cat_list_mapped && i < cache->cat_list.length / ptr; ++i) {
    // A category: its name, its class, its instance and its class methods.
    std::uintptr_t category, name, cls, instanceMethods, classMethods;
    if (!readPointer(image, cache->cat_list.address + i * ptr, &category) ||
        !inView(cache->objc_const, category, 4 * ptr) || !readPointer(image, category, &name) ||
        !readPointer(image, category + ptr, &cls) ||
        !readPointer(image, category + 2 * ptr, &instanceMethods) ||
        !readPointer(image, category + 3 * ptr, &classMethods)) {
      return CRASH_EINVALID_DATA;
    }
    // Methods are named by the class they extend; a class defined elsewhere is named by the category.
    if (cls != 0) className(search, cls, &name);
    crash_error_t error = visitMethodList(search, instanceMethods, false, name);
    if (error == CRASH_ESUCCESS) error = visitMethodList(search, classMethods, true, name);
    if (error != CRASH_ESUCCESS) return error;
  }
  return CRASH_ESUCCESS;
}

// A legacy method list: a word that is not read, a count, then 12-byte entries {name, types, imp}.
crash_error_t visitLegacyList(Search* search, std::uintptr_t list, bool class_method,
                              std::uintptr_t name) noexcept {
  if (list == 0) return CRASH_ESUCCESS;
  std::uint32_t count;
  if (!read32(search->image, list + 4, &count) || count > kMaxMethods) return CRASH_EINVALID_DATA;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uintptr_t method, imp;
    if (!readPointer(search->image, list + 8 + i * 12, &method) ||
        !readPointer(search->image, list + 8 + i * 12 + 8, &imp)) {
      return CRASH_EINVALID_DATA;
    }
    const crash_error_t error = visitMethod(search, class_method, name, method, imp);
    if (error != CRASH_ESUCCESS) return error;
  }
  return CRASH_ESUCCESS;
}

// A legacy class: isa, superclass, name, version, info, instance size, ivars, method lists.
crash_error_t visitLegacyClass(Search* search, std::uintptr_t cls, bool class_method,
                               std::uintptr_t name) noexcept {
  std::uint32_t info;
  std::uintptr_t lists;
  if (!read32(search->image, cls + 16, &info) || !readPointer(search->image, cls + 28, &lists)) {
    return CRASH_EINVALID_DATA;
  }
  if (lists == 0) return CRASH_ESUCCESS;
  if (info & kLegacyNoMethodArray) return visitLegacyList(search, lists, class_method, name);
  for (std::uint32_t i = 0; i < kMaxLegacyLists; ++i) {
    std::uintptr_t list;
    if (!readPointer(search->image, lists + i * 4, &list)) return CRASH_EINVALID_DATA;
    if (list == 0 || list == 0xffffffffu) break;
    const crash_error_t error = visitLegacyList(search, list, class_method, name);
    if (error != CRASH_ESUCCESS) return error;
  }
  return CRASH_ESUCCESS;
}

crash_error_t searchLegacy(Search* search) noexcept {
  const crash_async_mobject& modules = search->cache->module_info;
  for (std::size_t at = 0; at + 16 <= modules.length; at += 16) {
    // A module: version, size, name, symbol table {selector count, selectors, class count, category
    // count, then the classes' and the categories' addresses}.
    std::uintptr_t symtab;
    if (!readPointer(search->image, modules.address + at + 12, &symtab)) return CRASH_EINVALID_DATA;
    if (symtab == 0) continue;
    std::uint16_t counts[2];
    if (crash_async_task_read(search->image->task, symtab, 8, counts, sizeof counts) != CRASH_ESUCCESS) {
      return CRASH_EINVALID_DATA;
    }
    const std::uint32_t classes = search->image->byteorder->swap16(counts[0]);
    const std::uint32_t categories = search->image->byteorder->swap16(counts[1]);
    for (std::uint32_t i = 0; i < classes + categories; ++i) {
      std::uintptr_t definition, name, meta, instanceMethods, classMethods;
      if (!readPointer(search->image, symtab + 12 + i * 4, &definition)) return CRASH_EINVALID_DATA;
      crash_error_t error = CRASH_ESUCCESS;
      if (i < classes) {
        if (!readPointer(search->image, definition + 8, &name) ||
            !readPointer(search->image, definition, &meta)) {
          return CRASH_EINVALID_DATA;
        }
        error = visitLegacyClass(search, definition, false, name);
        if (error == CRASH_ESUCCESS) error = visitLegacyClass(search, meta, true, name);
      } else {
        // A category: its name, its class's name, its instance and its class methods.
        if (!readPointer(search->image, definition + 4, &name) ||
            !readPointer(search->image, definition + 8, &instanceMethods) ||
            !readPointer(search->image, definition + 12, &classMethods)) {
          return CRASH_EINVALID_DATA;
        }
        error = visitLegacyList(search, instanceMethods, false, name);
        if (error == CRASH_ESUCCESS) error = visitLegacyList(search, classMethods, true, name);
      }
      if (error != CRASH_ESUCCESS) return error;
    }
  }
  return CRASH_ESUCCESS;
}

void mapSections(const crash_async_macho* image, crash_async_objc_cache* cache) noexcept {
  crash_async_objc_cache_init(cache);
  cache->image = image;
  cache->header_addr = image->header_addr;
  // The legacy layout exists only in 32-bit images.
  if (!image->m64 && crash_async_macho_map_section(image, "__OBJC", "__module_info", &cache->module_info) ==
                         CRASH_ESUCCESS) {
    cache->legacy = true;
    return;
  }
  cache->objc_const_mapped =
      crash_async_macho_map_section(image, "__DATA", "__objc_const", &cache->objc_const) == CRASH_ESUCCESS;
  cache->class_list_mapped = crash_async_macho_map_section(image, "__DATA", "__objc_classlist",
                                                           &cache->class_list) == CRASH_ESUCCESS;
  cache->cat_list_mapped =
      crash_async_macho_map_section(image, "__DATA", "__objc_catlist", &cache->cat_list) == CRASH_ESUCCESS;
  cache->objc_data_mapped =
      crash_async_macho_map_section(image, "__DATA", "__objc_data", &cache->objc_data) == CRASH_ESUCCESS;
}

}  // namespace

void crash_async_objc_cache_init(crash_async_objc_cache* cache) noexcept {
  crash_async_memset(cache, 0, sizeof *cache);
}

void crash_async_objc_cache_free(crash_async_objc_cache* cache) noexcept {
  crash_async_objc_cache_init(cache);
}

crash_error_t crash_async_objc_find_method(const crash_async_macho* image, crash_async_objc_cache* cache,
                                           std::uintptr_t pc, crash_async_objc_found_method_cb callback,
                                           void* context) noexcept {
  if (!cache) return CRASH_EACCESS;
  if (cache->image != image || cache->header_addr != image->header_addr) mapSections(image, cache);
  // An image without class metadata, or with a list but no section for what it points to, has no
  // method to find (categories alone live in "__objc_const").
  if (!cache->legacy && !((cache->class_list_mapped && cache->objc_data_mapped && cache->objc_const_mapped) ||
                          (cache->cat_list_mapped && cache->objc_const_mapped))) {
    return CRASH_ENOTFOUND;
  }
  Search search{image, cache, pc, false, false, 0, false, callback, context};
  for (bool second : {false, true}) {
    search.second_pass = second;
    const crash_error_t error = cache->legacy ? searchLegacy(&search) : searchModern(&search);
    if (error != CRASH_ESUCCESS) return error;
    if (!search.found) return CRASH_ENOTFOUND;
  }
  return search.reported ? CRASH_ESUCCESS : CRASH_ENOTFOUND;
}

}  // namespace crash
