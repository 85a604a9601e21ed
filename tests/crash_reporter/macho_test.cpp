// Mach-O images laid out in memory by the test, in both widths and both byte orders, and damaged ones:
// the reader must find the right symbol in sound images and refuse damaged ones without reading
// outside them.
#include "crash_reporter/macho.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "crash_reporter/image_list.h"
#include "crash_reporter/objc.h"

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

// Objective-C metadata: methods start at the image's own address `imp`.
struct MethodSpec {
  std::string name;
  std::uint64_t imp;
};
struct ClassDesc {
  std::string name;
  std::vector<MethodSpec> instance, klass;
  bool realized = false;    // reached through a read-write record
  bool taggedData = false;  // flag bits in the data pointer, as ARM64 classes have them
};
struct CategoryDesc {
  std::string name;
  int cls;  // index into the classes, or -1 for a class of another image
  std::vector<MethodSpec> instance, klass;
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
  bool objc = false;    // a "__DATA" segment with the modern metadata (a "__OBJC" one when legacy)
  bool legacy = false;  // 32-bit images only
  std::vector<ClassDesc> classes;
  std::vector<CategoryDesc> categories;
  std::uint32_t methodCountOverride = 0;  // claims this many methods in the first modern list
};

// Where the metadata lies: the data segment at the image's own address kData, its sections at these
// offsets into it.
constexpr std::uint64_t kData = 0x3000;
constexpr std::size_t kClassList = 0x0, kCatList = 0x80, kObjcData = 0x100, kObjcConst = 0x300,
                      kDataSize = 0x1000;

// Writes a Mach-O image as Layout describes it.
class ImageBuilder {
 public:
  // 32-bit images hold 32-bit pointers to their own metadata, so they must lie in the lowest 4 GB.
  explicit ImageBuilder(const Layout& layout)
      : l_(layout),
        bytes_(static_cast<std::uint8_t*>(mmap(nullptr, kSize, PROT_READ | PROT_WRITE,
                                               MAP_PRIVATE | MAP_ANONYMOUS | (layout.m64 ? 0 : MAP_32BIT), -1,
                                               0))) {
    if (bytes_ == MAP_FAILED) throw std::runtime_error("no memory for the image");
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
    if (l_.objc && l_.legacy) segment(commands, "__OBJC", kData, kDataSize, 0, {{"__module_info", 0, 16}});
    if (l_.objc && !l_.legacy) {
      segment(commands, "__DATA", kData, kDataSize, 0,
              {{"__objc_classlist", kClassList, l_.classes.size() * ptr()},
               {"__objc_catlist", kCatList, l_.categories.size() * ptr()},
               {"__objc_data", kObjcData, kObjcConst - kObjcData},
               {"__objc_const", kObjcConst, kDataSize - kObjcConst}});
    }
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
    put32(header, l_.dysymtab + l_.uuid + l_.objc + 3u);
    put32(header, static_cast<std::uint32_t>(commands.size()) - l_.sizeofcmdsCut), put32(header, 0);
    if (l_.m64) put32(header, 0);
    std::memcpy(bytes_, header.data(), header.size());
    std::memcpy(bytes_ + header.size(), commands.data(), commands.size());
    if (linkedit.size() > kTextSize) throw std::length_error("symbols do not fit");
    std::memcpy(bytes_ + kTextSize, linkedit.data(), linkedit.size());
    if (l_.objc) l_.legacy ? writeLegacyMetadata() : writeModernMetadata();
  }

  ImageBuilder(const ImageBuilder&) = delete;
  ImageBuilder& operator=(const ImageBuilder&) = delete;
  ~ImageBuilder() { munmap(bytes_, kSize); }

  std::uintptr_t header() const { return reinterpret_cast<std::uintptr_t>(bytes_); }
  // Where the image's own address `value` lies in memory.
  std::uintptr_t at(std::uint64_t value) const { return header() + (value - kText); }
  std::uint8_t* bytes() { return bytes_; }

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
  struct Section {
    const char* name;
    std::size_t offset;  // into the segment
    std::size_t size;
  };

  std::size_t ptr() const { return l_.m64 ? 8 : 4; }
  void putName(std::vector<std::uint8_t>& out, const char* name) {
    char fixed[16] = {};
    std::memcpy(fixed, name, std::strlen(name));
    out.insert(out.end(), fixed, fixed + 16);
  }
  void putWord(std::vector<std::uint8_t>& out, std::uint64_t v) {
    l_.m64 ? put64(out, v) : put32(out, static_cast<std::uint32_t>(v));
  }
  void segment(std::vector<std::uint8_t>& out, const char* name, std::uint64_t vmaddr, std::uint64_t vmsize,
               std::uint64_t fileoff, std::vector<Section> sections = {}) {
    put32(out, l_.m64 ? CRASH_LC_SEGMENT_64 : CRASH_LC_SEGMENT);
    put32(out, static_cast<std::uint32_t>((l_.m64 ? 72 : 56) + sections.size() * (l_.m64 ? 80 : 68)));
    putName(out, name);
    for (std::uint64_t v : {vmaddr, vmsize, fileoff, vmsize}) putWord(out, v);
    put32(out, 0), put32(out, 0), put32(out, static_cast<std::uint32_t>(sections.size())), put32(out, 0);
    for (const Section& section : sections) {
      putName(out, section.name);
      putName(out, name);
      putWord(out, vmaddr + section.offset);
      putWord(out, section.size);
      for (int i = 0; i < (l_.m64 ? 8 : 7); ++i) put32(out, 0);
    }
  }

  // Writes a value of the image's byte order at an offset of the data segment.
  void poke32(std::size_t at, std::uint32_t v) {
    std::vector<std::uint8_t> bytes;
    put32(bytes, v);
    std::memcpy(bytes_ + 2 * kTextSize + at, bytes.data(), bytes.size());
  }
  void pokeWord(std::size_t at, std::uint64_t v) {
    std::vector<std::uint8_t> bytes;
    putWord(bytes, v);
    std::memcpy(bytes_ + 2 * kTextSize + at, bytes.data(), bytes.size());
  }
  std::uint64_t dataAt(std::size_t at) const { return header() + 2 * kTextSize + at; }
  // Room in the data segment after the sections' fixed records.
  std::size_t take(std::size_t size) {
    const std::size_t at = free_;
    free_ += (size + 7) & ~std::size_t{7};
    if (free_ > kDataSize) throw std::length_error("metadata does not fit");
    return at;
  }
  std::uint64_t text(const std::string& value) {
    const std::size_t at = take(value.size() + 1);
    std::memcpy(bytes_ + 2 * kTextSize + at, value.c_str(), value.size() + 1);
    return dataAt(at);
  }
  // A modern method list; its entries are three words, with flag bits in the low bits of the size.
  std::uint64_t methodList(const std::vector<MethodSpec>& methods) {
    if (methods.empty()) return 0;
    const std::size_t at = take(8 + methods.size() * 3 * ptr());
    poke32(at, static_cast<std::uint32_t>(3 * ptr()) | 3);
    poke32(at + 4, first_ && l_.methodCountOverride ? l_.methodCountOverride
                                                    : static_cast<std::uint32_t>(methods.size()));
    first_ = false;
    for (std::size_t i = 0; i < methods.size(); ++i) {
      pokeWord(at + 8 + i * 3 * ptr(), text(methods[i].name));
      pokeWord(at + 8 + i * 3 * ptr() + ptr(), text("v16@0:8"));
      pokeWord(at + 8 + i * 3 * ptr() + 2 * ptr(), this->at(methods[i].imp));
    }
    return dataAt(at);
  }
  // Read-only class data: flags, instance start and size, (padding,) ivar layout, name, methods.
  std::uint64_t readOnly(const std::string& name, const std::vector<MethodSpec>& methods, bool realized) {
    const std::size_t at = take(l_.m64 ? 72 : 40);
    pokeWord(at + (l_.m64 ? 24 : 16), text(name));
    pokeWord(at + (l_.m64 ? 32 : 20), methodList(methods));
    if (!realized) return dataAt(at);
    const std::size_t rw = take(4 * ptr());  // flags, version, read-only data
    poke32(rw, 0x80000000u);
    pokeWord(rw + 8, dataAt(at));
    return dataAt(rw);
  }
  void writeModernMetadata() {
    free_ = kObjcConst;
    std::vector<std::uint64_t> classes;
    for (std::size_t i = 0; i < l_.classes.size(); ++i) {
      const ClassDesc& desc = l_.classes[i];
      const std::size_t cls = kObjcData + i * 10 * ptr(), meta = cls + 5 * ptr();
      std::uint64_t data = readOnly(desc.name, desc.instance, desc.realized);
      if (desc.taggedData) data |= 1;
      pokeWord(cls, dataAt(meta));  // isa: the metaclass
      pokeWord(cls + 4 * ptr(), data);
      pokeWord(meta + 4 * ptr(), readOnly(desc.name, desc.klass, false));
      pokeWord(kClassList + i * ptr(), dataAt(cls));
      classes.push_back(dataAt(cls));
    }
    for (std::size_t i = 0; i < l_.categories.size(); ++i) {
      const CategoryDesc& desc = l_.categories[i];
      const std::size_t at = take(6 * ptr());
      pokeWord(at, text(desc.name));
      pokeWord(at + ptr(), desc.cls < 0 ? 0 : classes[static_cast<std::size_t>(desc.cls)]);
      pokeWord(at + 2 * ptr(), methodList(desc.instance));
      pokeWord(at + 3 * ptr(), methodList(desc.klass));
      pokeWord(kCatList + i * ptr(), dataAt(at));
    }
  }
  // One module whose symbol table lists the classes (each with one method list, or an array of
  // lists ending at 0) and then the categories.
  std::uint64_t legacyList(const std::vector<MethodSpec>& methods) {
    if (methods.empty()) return 0;
    const std::size_t at = take(8 + methods.size() * 12);
    poke32(at + 4, static_cast<std::uint32_t>(methods.size()));
    for (std::size_t i = 0; i < methods.size(); ++i) {
      poke32(at + 8 + i * 12, static_cast<std::uint32_t>(text(methods[i].name)));
      poke32(at + 8 + i * 12 + 8, static_cast<std::uint32_t>(this->at(methods[i].imp)));
    }
    return dataAt(at);
  }
  std::uint64_t legacyClass(std::uint64_t name, const std::vector<MethodSpec>& methods, bool array) {
    const std::size_t at = take(40);
    poke32(at + 8, static_cast<std::uint32_t>(name));
    poke32(at + 16, array ? 0 : 0x4000);
    std::uint64_t lists = legacyList(methods);
    if (array && lists != 0) {
      const std::size_t table = take(8);
      poke32(table, static_cast<std::uint32_t>(lists));
      lists = dataAt(table);
    }
    poke32(at + 28, static_cast<std::uint32_t>(lists));
    return dataAt(at);
  }
  void writeLegacyMetadata() {
    free_ = 16;
    const std::size_t count = l_.classes.size() + l_.categories.size();
    const std::size_t symtab = take(12 + 4 * count);
    std::vector<std::uint8_t> counts;
    put16(counts, static_cast<std::uint16_t>(l_.classes.size()));
    put16(counts, static_cast<std::uint16_t>(l_.categories.size()));
    std::memcpy(bytes_ + 2 * kTextSize + symtab + 8, counts.data(), 4);
    poke32(12, static_cast<std::uint32_t>(dataAt(symtab)));
    std::size_t slot = symtab + 12;
    for (const ClassDesc& desc : l_.classes) {
      const std::uint64_t name = text(desc.name);
      const std::uint64_t cls = legacyClass(name, desc.instance, desc.realized);
      const std::uint64_t meta = legacyClass(name, desc.klass, false);
      poke32(cls - dataAt(0), static_cast<std::uint32_t>(meta));
      poke32(slot, static_cast<std::uint32_t>(cls)), slot += 4;
    }
    for (const CategoryDesc& desc : l_.categories) {
      const std::size_t at = take(20);
      poke32(at + 4,
             static_cast<std::uint32_t>(text(l_.classes.at(static_cast<std::size_t>(desc.cls)).name)));
      poke32(at + 8, static_cast<std::uint32_t>(legacyList(desc.instance)));
      poke32(at + 12, static_cast<std::uint32_t>(legacyList(desc.klass)));
      poke32(slot, static_cast<std::uint32_t>(dataAt(at))), slot += 4;
    }
  }

  static constexpr std::size_t kSize = 2 * kTextSize + kDataSize;
  Layout l_;
  std::uint8_t* bytes_;
  std::size_t free_ = 0;
  bool first_ = true;
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
  std::memcpy(image.bytes() + 32 + 4, &size, 4);
  crash_async_macho macho;
  EXPECT_EQ(crash_async_macho_init(&macho, self, image.header()), CRASH_EINVAL);
  std::uint32_t magic = 0xfeedfacd;
  std::memcpy(image.bytes(), &magic, 4);
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

TEST(ObjC, NamesMethodsOfClassesMetaclassesAndCategoriesInEveryLayout) {
  struct Variant {
    const char* what;
    bool m64, legacy;
  } variants[] = {{"64-bit", true, false}, {"32-bit", false, false}, {"legacy", false, true}};
  for (const Variant& variant : variants) {
    Layout layout;
    layout.m64 = variant.m64, layout.objc = true, layout.legacy = variant.legacy;
    layout.symbols = {{"_save_impl", 0x0f, 0, 0x1100}, {"_later", 0x0f, 0, 0x1150}};
    // A realised class (legacy: one with an array of method lists) and, on 64-bit, flags in a data pointer.
    layout.classes = {{"Diary", {{"save", 0x1100}, {"load", 0x1180}}, {{"shared", 0x1200}}, true, false},
                      {"Note", {{"text", 0x1300}}, {}, false, variant.m64}};
    layout.categories = {{"Extras", 1, {{"share", 0x1400}}, {}}};
    if (!variant.legacy) layout.categories.push_back({"Foreign", -1, {}, {{"make", 0x1500}}});
    ImageBuilder image(layout);
    crash_async_image_list list;
    crash_async_image_list_init(&list, self);
    ASSERT_EQ(crash_async_image_list_append(&list, image.header(), "/objc"), CRASH_ESUCCESS) << variant.what;
    crash_async_image_list_set_reading(&list, true);
    const crash_async_image* listed = &crash_async_image_list_next(&list, nullptr)->value;
    crash_async_objc_cache cache;
    crash_async_objc_cache_init(&cache);

    struct Lookup {
      std::uint64_t pc;
      std::uint32_t strategy;
      const char* name;  // null: nothing found
      std::uint64_t start;
    } lookups[] = {
        {0x1100, CRASH_SYMBOL_STRATEGY_OBJC, "-[Diary save]", 0x1100},
        {0x1190, CRASH_SYMBOL_STRATEGY_OBJC, "-[Diary load]", 0x1180},
        {0x1210, CRASH_SYMBOL_STRATEGY_OBJC, "+[Diary shared]", 0x1200},
        {0x1300, CRASH_SYMBOL_STRATEGY_OBJC, "-[Note text]", 0x1300},
        {0x1450, CRASH_SYMBOL_STRATEGY_OBJC, "-[Note share]", 0x1400},
        // A class of another image is named by its category (legacy images have none such).
        {0x1500, CRASH_SYMBOL_STRATEGY_OBJC, variant.legacy ? "-[Note share]" : "+[Foreign make]",
         variant.legacy ? 0x1400u : 0x1500u},
        {0x10ff, CRASH_SYMBOL_STRATEGY_OBJC, nullptr, 0},
        // On equal starts the method's name wins over the symbol table's; a nearer symbol wins over both.
        {0x1100, CRASH_SYMBOL_STRATEGY_OBJC | CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, "-[Diary save]", 0x1100},
        {0x1160, CRASH_SYMBOL_STRATEGY_OBJC | CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, "_later", 0x1150},
    };
    for (const Lookup& lookup : lookups) {
      Found found;
      const crash_error_t error =
          crash_async_find_symbol(listed, lookup.strategy, &cache, image.at(lookup.pc), remember, &found);
      EXPECT_EQ(error, lookup.name ? CRASH_ESUCCESS : CRASH_ENOTFOUND) << variant.what << " " << lookup.pc;
      if (!lookup.name) continue;
      EXPECT_EQ(found.name, lookup.name) << variant.what;
      EXPECT_EQ(found.address, image.at(lookup.start)) << variant.what;
    }
    const auto ignore = [](bool, const char*, const char*, std::uintptr_t, void*) {};
    EXPECT_EQ(crash_async_objc_find_method(&listed->macho, nullptr, image.at(0x1100), ignore, nullptr),
              CRASH_EACCESS);
    crash_async_objc_cache_free(&cache);
    crash_async_image_list_set_reading(&list, false);
    crash_async_image_list_free(&list);
  }
}

TEST(ObjC, MetadataOutsideItsSectionIsInvalidAndImagesWithoutItHaveNoMethods) {
  Layout layout;
  layout.objc = true;
  layout.classes = {{"Diary", {{"save", 0x1100}}, {}, false, false}};
  layout.methodCountOverride = 5000;  // runs far past "__objc_const"
  ImageBuilder damaged(layout);
  crash_async_macho macho;
  ASSERT_EQ(crash_async_macho_init(&macho, self, damaged.header()), CRASH_ESUCCESS);
  crash_async_objc_cache cache;
  crash_async_objc_cache_init(&cache);
  const auto ignore = [](bool, const char*, const char*, std::uintptr_t, void*) {};
  EXPECT_EQ(crash_async_objc_find_method(&macho, &cache, damaged.at(0x1100), ignore, nullptr),
            CRASH_EINVALID_DATA);

  ImageBuilder plain(Layout{});
  ASSERT_EQ(crash_async_macho_init(&macho, self, plain.header()), CRASH_ESUCCESS);
  EXPECT_EQ(crash_async_objc_find_method(&macho, &cache, plain.at(0x1100), ignore, nullptr), CRASH_ENOTFOUND);
}

}  // namespace
}  // namespace crash
