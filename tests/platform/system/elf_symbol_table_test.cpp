// The symbol table of an image gathered from its mapping and its file: this test program's own
// functions, which it does not export, are named; a file of another build, a cut or damaged file adds
// nothing and never faults.
#include "platform/system/elf_symbol_table.h"

#include <elf.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

extern "C" [[gnu::noinline]] int elf_symbol_table_test_function(int x) {
  __asm__ volatile("" ::: "memory");
  return x * 3 + 1;
}

namespace sys {
namespace {

struct Program {
  ElfImage image;
  std::string path;
  std::string bytes;  // the file
};

Program program() {
  Program p;
  const LoaderImage main = loadedImages().front();
  EXPECT_EQ(readElfImage(taskSelf(), main.header, &p.image), ElfReadResult::kOk);
  p.path = main.path;
  std::ifstream in(p.path, std::ios::binary);
  p.bytes.assign(std::istreambuf_iterator<char>(in), {});
  return p;
}

std::uintptr_t functionAddress() { return reinterpret_cast<std::uintptr_t>(&elf_symbol_table_test_function); }

// The name the table gives the test function's address (with the mapped image's bias), or "".
std::string nameOfTestFunction(const ElfSymbolTable& table, const ElfImage& image) {
  char name[256];
  std::uintptr_t start = 0;
  if (!table.find(functionAddress() + 1 - image.loadBias, name, sizeof name, &start)) return "";
  EXPECT_EQ(start + image.loadBias, functionAddress());
  return name;
}

TEST(ElfSymbolTable, NamesTheProgramsOwnFunctionsFromItsFile) {
  const Program p = program();
  const ElfSymbolTable table = ElfSymbolTable::gather(taskSelf(), p.image, p.path);
  EXPECT_EQ(nameOfTestFunction(table, p.image), "elf_symbol_table_test_function");
  // The mapped dynamic table alone does not know it.
  const ElfSymbolTable dynamicOnly = ElfSymbolTable::gather(taskSelf(), p.image, "");
  EXPECT_EQ(nameOfTestFunction(dynamicOnly, p.image), "");
}

TEST(ElfSymbolTable, AFileOfAnotherBuildOrCutOrDamagedAddsNothing) {
  const Program p = program();
  ASSERT_GT(p.bytes.size(), sizeof(ElfW(Ehdr)));
  ElfW(Ehdr) header;
  std::memcpy(&header, p.bytes.data(), sizeof header);
  auto patched = [&](std::size_t offset, const void* value, std::size_t length) {
    std::string bytes = p.bytes;
    std::memcpy(bytes.data() + offset, value, length);
    return bytes;
  };
  const std::uint64_t far = ~0ull >> 4;
  const std::uint16_t manySections = 0xffff;
  const std::uint8_t otherBuild[20] = {1, 2, 3};
  const struct {
    const char* name;
    std::string bytes;
    const std::uint8_t* buildId;
    std::size_t buildIdLength;
    bool named;
  } cases[] = {
      {"the program itself", p.bytes, p.image.buildId, p.image.buildIdLength, true},
      {"another build", p.bytes, otherBuild, sizeof otherBuild, false},
      {"cut after the header", p.bytes.substr(0, sizeof header), nullptr, 0, false},
      {"cut in half", p.bytes.substr(0, p.bytes.size() / 2), nullptr, 0, false},
      {"sections far past the end", patched(offsetof(ElfW(Ehdr), e_shoff), &far, sizeof far), nullptr, 0, false},
      {"too many sections", patched(offsetof(ElfW(Ehdr), e_shnum), &manySections, 2), nullptr, 0, false},
      {"not ELF", std::string(4096, 'x'), nullptr, 0, false},
      {"empty", "", nullptr, 0, false},
  };
  for (const auto& c : cases) {
    const int fd = memfd_create("file", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size()));
    ElfSymbolTable table;
    table.addFileSymbols(fd, c.buildId, c.buildIdLength);
    table.finish();
    close(fd);
    EXPECT_EQ(nameOfTestFunction(table, p.image) == "elf_symbol_table_test_function", c.named) << c.name;
  }
}

}  // namespace
}  // namespace sys
