// Mach-O images laid out in memory by the test, in both widths and both byte orders, and damaged ones:
// the reader must find the right symbol in sound images and refuse damaged ones without reading
// outside them.
#include "crash_reporter/macho.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crash_reporter/image_list.h"

namespace crash {
namespace {

const crash_task_t self = crash_async_task_self();

// The image's own addresses: "__TEXT" (holding the header) at kText, "__LINKEDIT" right after it,
// at file offset kLinkeditFile. Placed in memory, every address moves by the same slide.
constexpr std::uint64_t kText = 0x1000;
constexpr std::uint64_t kTextSize = 0x1000;
constexpr std::uint64_t kLinkeditFile = 0x4000;

struct SymbolSpec {
  std::string name;
  std::uint8_t type;  // 0x0e a section symbol, 0x0f an external one; stab bits make a debugging entry
  std::uint16_t desc;
  std::uint64_t value;
};

struct Layout {
  bool m64 = true;
  bool swapped = false;
  std::vector<SymbolSpec> symbols;
  bool dysymtab = false;
  std::uint32_t localFirst = 0, localCount = 0, globalFirst = 0, globalCount = 0;
  std::uint32_t symoffShift = 0;     // moves the symbol table by this many bytes
  std::uint32_t strxOverride = ~0u;  // replaces the first symbol's name offset
  bool unterminatedStrings = false;  // the string table's last byte is not a terminator
  std::uint32_t sizeofcmdsCut = 0;   // the header claims this many bytes fewer of commands
  bool uuid = true;
};

// Writes a Mach-O image as Layout describes it.
class ImageBuilder {
 public:
  explicit ImageBuilder(const Layout& layout) : l_(layout), bytes_(kTextSize, 0) {
    std::vector<std::uint8_t> commands;
    // Symbol and string tables, in "__LINKEDIT".
    std::vector<std::uint8_t> strings{0};
    std::vector<std::uint8_t> table;
    for (const SymbolSpec& symbol : l_.symbols) {
      const std::uint32_t strx = table.empty() && l_.strxOverride != ~0u
                                     ? l_.strxOverride
                                     : static_cast<std::uint32_t>(strings.size());
      strings.insert(strings.end(), symbol.name.begin(), symbol.name.end());
      strings.push_back(0);
      put32(table, strx);
      table.push_back(symbol.type);
      table.push_back(1);
      put16(table, symbol.desc);
      l_.m64 ? put64(table, symbol.value) : put32(table, static_cast<std::uint32_t>(symbol.value));
    }
    if (l_.unterminatedStrings) strings.back() = 'x';
    std::vector<std::uint8_t> linkedit = table;
    const std::uint32_t stroff = static_cast<std::uint32_t>(kLinkeditFile + linkedit.size());
    linkedit.insert(linkedit.end(), strings.begin(), strings.end());

    segment(commands, "__TEXT", kText, kTextSize, 0);
    segment(commands, "__LINKEDIT", kText + kTextSize, linkedit.size(), kLinkeditFile);
    put32(commands, CRASH_LC_SYMTAB), put32(commands, 24);
    put32(commands, static_cast<std::uint32_t>(kLinkeditFile) + l_.symoffShift);
    put32(commands, static_cast<std::uint32_t>(l_.symbols.size()));
    put32(commands, stroff), put32(commands, static_cast<std::uint32_t>(strings.size()));
    if (l_.dysymtab) {
      put32(commands, CRASH_LC_DYSYMTAB), put32(commands, 80);
      for (std::uint32_t v : {l_.localFirst, l_.localCount, l_.globalFirst, l_.globalCount})
        put32(commands, v);
      for (int i = 0; i < 14; ++i) put32(commands, 0);
    }
    if (l_.uuid) {
      put32(commands, CRASH_LC_UUID), put32(commands, 24);
      for (std::uint8_t i = 0; i < 16; ++i) commands.push_back(0xa0 + i);
    }

    std::vector<std::uint8_t> header;
    put32(header, l_.m64 ? CRASH_MH_MAGIC_64 : CRASH_MH_MAGIC);
    put32(header, l_.m64 ? 0x100000c : 12), put32(header, l_.m64 ? 0 : 9), put32(header, 6);
    put32(header, l_.dysymtab + l_.uuid + 3u);
    put32(header, static_cast<std::uint32_t>(commands.size()) - l_.sizeofcmdsCut), put32(header, 0);
    if (l_.m64) put32(header, 0);
    std::memcpy(bytes_.data(), header.data(), header.size());
    std::memcpy(bytes_.data() + header.size(), commands.data(), commands.size());
    bytes_.insert(bytes_.end(), linkedit.begin(), linkedit.end());
  }

  std::uintptr_t header() const { return reinterpret_cast<std::uintptr_t>(bytes_.data()); }
  // Where the image's own address `value` lies in memory.
  std::uintptr_t at(std::uint64_t value) const { return header() + (value - kText); }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    if (l_.swapped) v = __builtin_bswap16(v);
    out.insert(out.end(), reinterpret_cast<std::uint8_t*>(&v), reinterpret_cast<std::uint8_t*>(&v) + 2);
  }
  void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    if (l_.swapped) v = __builtin_bswap32(v);
    out.insert(out.end(), reinterpret_cast<std::uint8_t*>(&v), reinterpret_cast<std::uint8_t*>(&v) + 4);
  }
  void put64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    if (l_.swapped) v = __builtin_bswap64(v);
    out.insert(out.end(), reinterpret_cast<std::uint8_t*>(&v), reinterpret_cast<std::uint8_t*>(&v) + 8);
  }
  void segment(std::vector<std::uint8_t>& out, const char* name, std::uint64_t vmaddr, std::uint64_t vmsize,
               std::uint64_t fileoff) {
    put32(out, l_.m64 ? CRASH_LC_SEGMENT_64 : CRASH_LC_SEGMENT);
    put32(out, l_.m64 ? 72 : 56);
    char segname[16] = {};
    std::memcpy(segname, name, std::strlen(name));
    out.insert(out.end(), segname, segname + 16);
    for (std::uint64_t v : {vmaddr, vmsize, fileoff, vmsize}) {
      l_.m64 ? put64(out, v) : put32(out, static_cast<std::uint32_t>(v));
    }
    for (int i = 0; i < 4; ++i) put32(out, 0);  // protections, no sections, flags
  }

  Layout l_;
  std::vector<std::uint8_t> bytes_;
};

struct Found {
  std::uintptr_t address = 0;
  std::string name;
};

void remember(std::uintptr_t address, const char* name, void* context) {
  *static_cast<Found*>(context) = {address, name};
}

const std::vector<SymbolSpec> kSymbols = {{"_first", 0x0f, 0, 0x1100},
                                          {"_second", 0x0f, 0, 0x1200},
                                          {"_alias", 0x0e, 0, 0x1200},
                                          {"_debug", 0x2e, 0, 0x1280}};

TEST(MachO, ReadsBothWidthsAndByteOrdersAndFindsTheCoveringSymbol) {
  for (bool m64 : {true, false}) {
    for (bool swapped : {false, true}) {
      Layout layout;
      layout.m64 = m64, layout.swapped = swapped, layout.symbols = kSymbols;
      ImageBuilder image(layout);
      const std::string what = std::string(m64 ? "64" : "32") + (swapped ? " swapped" : "");
      crash_async_macho macho;
      ASSERT_EQ(crash_async_macho_init(&macho, self, image.header()), CRASH_ESUCCESS) << what;
      EXPECT_EQ(macho.m64, m64);
      EXPECT_EQ(macho.header_size, m64 ? 32u : 28u);
      EXPECT_EQ(macho.header.cputype, m64 ? 0x100000c : 12) << what;
      EXPECT_EQ(macho.text_size, kTextSize);
      EXPECT_EQ(macho.vmaddr_slide, static_cast<std::intptr_t>(image.header() - kText));
      std::uint8_t uuid[16];
      ASSERT_TRUE(crash_async_macho_uuid(&macho, uuid));
      EXPECT_EQ(uuid[15], 0xaf);

      struct Lookup {
        std::uint64_t pc;
        crash_error_t error;
        const char* name;
        std::uint64_t start;
      } lookups[] = {
          {0x1100, CRASH_ESUCCESS, "_first", 0x1100},  // exactly at the symbol
          {0x11ff, CRASH_ESUCCESS, "_first", 0x1100},
          {0x1290, CRASH_ESUCCESS, "_second",
           0x1200},                               // the first of equal values; debugging entries skipped
          {0x10ff, CRASH_ENOTFOUND, nullptr, 0},  // below the first symbol
      };
      for (const Lookup& lookup : lookups) {
        Found found;
        EXPECT_EQ(crash_async_macho_find_symbol_by_pc(&macho, image.at(lookup.pc), remember, &found),
                  lookup.error)
            << what << " " << lookup.pc;
        if (lookup.name) {
          EXPECT_EQ(found.name, lookup.name) << what;
          EXPECT_EQ(found.address, image.at(lookup.start)) << what;
        }
      }
      std::uintptr_t address = 0;
      ASSERT_EQ(crash_async_macho_find_symbol_by_name(&macho, "_alias", &address), CRASH_ESUCCESS);
      EXPECT_EQ(address, image.at(0x1200));
      EXPECT_EQ(crash_async_macho_find_symbol_by_name(&macho, "_debug", &address), CRASH_ENOTFOUND);
    }
  }
}

TEST(MachO, DynamicTableSearchesGlobalsThenLocalsAndThumbCountsItsBit) {
  Layout layout;
  layout.symbols = {{"_global", 0x0f, 0, 0x1100},
                    {"_local", 0x0e, 0, 0x1180},
                    {"_same", 0x0e, 0, 0x1100},
                    {"_thumb", 0x0e, 0x0008, 0x1300}};
  layout.dysymtab = true;
  layout.globalFirst = 0, layout.globalCount = 1, layout.localFirst = 1, layout.localCount = 3;
  ImageBuilder image(layout);
  crash_async_macho macho;
  ASSERT_EQ(crash_async_macho_init(&macho, self, image.header()), CRASH_ESUCCESS);
  struct Lookup {
    std::uint64_t pc;
    const char* name;
  } lookups[] = {{0x1120, "_global"}, {0x1190, "_local"}, {0x1300, "_local"}, {0x1301, "_thumb"}};
  for (const Lookup& lookup : lookups) {
    Found found;
    ASSERT_EQ(crash_async_macho_find_symbol_by_pc(&macho, image.at(lookup.pc), remember, &found),
              CRASH_ESUCCESS);
    EXPECT_EQ(found.name, lookup.name) << lookup.pc;
  }
}

TEST(MachO, DamagedImagesAreRefusedWithoutReadingOutsideThem) {
  struct Case {
    const char* what;
    Layout layout;
    crash_error_t init;    // of crash_async_macho_init
    crash_error_t lookup;  // of a lookup at 0x1150, when init succeeded
  };
  const auto with = [](auto change) {
    Layout layout;
    layout.symbols = kSymbols;
    change(layout);
    return layout;
  };
  const Case cases[] = {
      {"commands cut short", with([](Layout& l) { l.sizeofcmdsCut = 150; }), CRASH_EINVAL, CRASH_ESUCCESS},
      {"symbols past the segment", with([](Layout& l) { l.symoffShift = 4096; }), CRASH_ESUCCESS,
       CRASH_EINTERNAL},
      {"name past the strings", with([](Layout& l) { l.strxOverride = 9999; }), CRASH_ESUCCESS, CRASH_EINVAL},
      {"unterminated names", with([](Layout& l) { l.unterminatedStrings = true, l.symbols.resize(1); }),
       CRASH_ESUCCESS, CRASH_EINVAL},
      {"ranges past the count",
       with([](Layout& l) { l.dysymtab = true, l.globalFirst = 2, l.globalCount = 5; }), CRASH_ESUCCESS,
       CRASH_EINVAL},
  };
  for (const Case& c : cases) {
    ImageBuilder image(c.layout);
    crash_async_macho macho;
    ASSERT_EQ(crash_async_macho_init(&macho, self, image.header()), c.init) << c.what;
    if (c.init != CRASH_ESUCCESS) continue;
    Found found;
    EXPECT_EQ(crash_async_macho_find_symbol_by_pc(&macho, image.at(0x1150), remember, &found), c.lookup)
        << c.what;
  }

  // A command whose size would run past the command area ends the walk; a size of 0 too.
  Layout layout;
  ImageBuilder image(layout);
  std::uint32_t size = 0;
  std::memcpy(image.bytes().data() + 32 + 4, &size, 4);
  crash_async_macho macho;
  EXPECT_EQ(crash_async_macho_init(&macho, self, image.header()), CRASH_EINVAL);
  std::uint32_t magic = 0xfeedfacd;
  std::memcpy(image.bytes().data(), &magic, 4);
  EXPECT_EQ(crash_async_macho_init(&macho, self, image.header()), CRASH_EINVAL);
}

TEST(MachO, ListedImagesAreFoundByTextAndNamesAreCutTo255Bytes) {
  Layout layout;
  layout.symbols = {{std::string(300, 'n'), 0x0f, 0, 0x1100}};
  ImageBuilder image(layout);
  crash_async_image_list list;
  crash_async_image_list_init(&list, self);
  ASSERT_EQ(crash_async_image_list_append(&list, image.header(), "/synthetic"), CRASH_ESUCCESS);
  crash_async_image_list_set_reading(&list, true);
  EXPECT_EQ(crash_async_image_containing_address(&list, image.header() - 1), nullptr);
  EXPECT_EQ(crash_async_image_containing_address(&list, image.at(kText + kTextSize)), nullptr);
  const crash_async_image* listed = crash_async_image_containing_address(&list, image.at(0x1100));
  ASSERT_NE(listed, nullptr);
  EXPECT_EQ(listed->uuid_length, 16u);
  EXPECT_EQ(listed->cpu_type, 0x100000c);

  Found found;
  EXPECT_EQ(crash_async_find_symbol(listed, CRASH_SYMBOL_STRATEGY_OBJC, nullptr, image.at(0x1100), remember,
                                    &found),
            CRASH_ENOTFOUND);
  ASSERT_EQ(crash_async_find_symbol(listed, CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE | CRASH_SYMBOL_STRATEGY_OBJC,
                                    nullptr, image.at(0x1100), remember, &found),
            CRASH_ESUCCESS);
  EXPECT_EQ(found.name, std::string(255, 'n'));
  crash_async_image_list_set_reading(&list, false);
  crash_async_image_list_remove(&list, image.header());
  crash_async_image_list_set_reading(&list, true);
  EXPECT_EQ(crash_async_image_list_next(&list, nullptr), nullptr);
  crash_async_image_list_set_reading(&list, false);
  crash_async_image_list_free(&list);
}

}  // namespace
}  // namespace crash
