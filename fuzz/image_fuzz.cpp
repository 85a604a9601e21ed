// Fuzz target for the readers of loaded images, their files' symbol tables and stacks: any bytes laid
// out as a Mach-O or ELF image (mapped, or as its file), or as a stack, must be read or refused
// cleanly: no fault, no read outside what the headers bound, and every walk ends.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crash_reporter/frame_cursor.h"
#include "crash_reporter/macho.h"
#include "crash_reporter/objc.h"
#include "platform/system/eh_frame.h"
#include "platform/system/elf_image.h"
#include "platform/system/elf_symbol_table.h"

namespace {

constexpr std::size_t kImageSize = 1 << 16;

// The image lies in its own pages with an unreadable page after it, so a read that runs past what
// the input holds stops there instead of wandering into the fuzzer's memory.
std::uint8_t* imagePages() {
  static std::uint8_t* pages = [] {
    const std::size_t page = static_cast<std::size_t>(getpagesize());
    void* mapping =
        mmap(nullptr, kImageSize + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) std::abort();
    mprotect(static_cast<std::uint8_t*>(mapping) + kImageSize, page, PROT_NONE);
    return static_cast<std::uint8_t*>(mapping);
  }();
  return pages;
}

void ignoreSymbol(std::uintptr_t, const char* name, void*) {
  if (std::strlen(name) > 255) std::abort();
}

void ignoreMethod(bool, const char* cls, const char* method, std::uintptr_t, void*) {
  if (std::strlen(cls) > 255 || std::strlen(method) > 255) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t* image = imagePages();
  const std::size_t used = size < kImageSize ? size : kImageSize;
  std::memset(image, 0, kImageSize);
  std::memcpy(image, data, used);
  const auto header = reinterpret_cast<std::uintptr_t>(image);
  const crash::crash_task_t task = crash::crash_async_task_self();

  crash::crash_async_macho macho;
  if (crash::crash_async_macho_init(&macho, task, header) == crash::CRASH_ESUCCESS) {
    crash::crash_async_objc_cache cache;
    crash::crash_async_objc_cache_init(&cache);
    for (std::uintptr_t offset : {0x0, 0x100, 0x1000, 0x4000}) {
      crash::crash_async_macho_find_symbol_by_pc(&macho, header + offset, ignoreSymbol, nullptr);
      crash::crash_async_objc_find_method(&macho, &cache, header + offset, ignoreMethod, nullptr);
    }
    std::uintptr_t address;
    crash::crash_async_macho_find_symbol_by_name(&macho, "_main", &address);
    std::uint8_t uuid[16];
    crash::crash_async_macho_uuid(&macho, uuid);
    crash::crash_async_objc_cache_free(&cache);
  }

  sys::ElfImage elf;
  if (sys::readElfImage(task, header, &elf) == sys::ElfReadResult::kOk) {
    char name[256];
    std::uintptr_t start;
    for (std::uintptr_t offset : {0x0, 0x100, 0x1000})
      sys::findElfSymbol(task, elf, header + offset, name, sizeof name, &start);
    sys::findElfSymbolByName(task, elf, "main");
    // Its call-frame records, searched both in place and through a copied table, as a walk does.
    if (elf.ehFrame.header != 0) {
      const std::vector<std::int32_t> copied = sys::copyEhFrameTable(task, elf.ehFrame);
      sys::CfiCieCache cies{};
      sys::CfiRow row;
      for (std::uintptr_t offset : {0x0, 0x100, 0x1000, 0x4000}) {
        sys::findCallFrame(task, elf.ehFrame, nullptr, header + offset, &row, nullptr);
        sys::findCallFrame(task, elf.ehFrame, copied.empty() ? nullptr : copied.data(), header + offset, &row, &cies);
      }
    }
    // The same image gathered into a table, as listing it does, with the bytes as its file too.
    const int file = memfd_create("image", MFD_CLOEXEC);
    if (file >= 0 && write(file, data, size) == static_cast<ssize_t>(size)) {
      sys::ElfSymbolTable table = sys::ElfSymbolTable::gather(task, elf, "");
      table.addFileSymbols(file, nullptr, 0);
      table.finish();
      for (std::uintptr_t offset : {0x0, 0x100, 0x1000})
        if (table.find(offset, name, sizeof name, &start) && std::strlen(name) > 255) std::abort();
    }
    if (file >= 0) close(file);
  }

  // The bytes as a stack of 64-bit frame records: the walk must end, whatever they hold.
  crash::crash_async_thread_state state;
  crash::crash_async_thread_state_init(&state, crash::CRASH_CPU_TYPE_ARM64);
  crash::crash_async_thread_state_set_reg(&state, crash::CRASH_REG_IP, 0x100000);
  crash::crash_async_thread_state_set_reg(&state, crash::CRASH_REG_FP, header);
  crash::crash_async_frame_cursor cursor;
  crash::crash_frame_cursor_init(&cursor, task, &state, nullptr);
  // Frame pointers only move up, so a walk over the input cannot be longer than the input; a walk
  // that leaves it is still bounded by what memory holds, far below this.
  for (long frames = 0; crash::crash_frame_cursor_next(&cursor) == crash::CRASH_FRAME_ESUCCESS; ++frames) {
    if (frames > (1L << 20)) std::abort();
  }
  return 0;
}
