// Call-frame information built byte by byte in memory (a search table, one CIE, FDEs with their
// programs), as a linker lays it out, then looked up the way a walk does; and the same records damaged.
#include "platform/system/eh_frame.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace sys {
namespace {

using Bytes = std::vector<std::uint8_t>;

// DWARF registers of x86-64 the cases name.
constexpr std::uint8_t kRsp = 7, kRbp = 6, kRbx = 3, kRa = 16;

void put32(Bytes& out, std::size_t at, std::uint32_t value) { std::memcpy(out.data() + at, &value, 4); }

// An .eh_frame_hdr followed by an .eh_frame of one CIE ("zR", pc-relative FDE pointers, code
// alignment 1, data alignment -8, return address in register 16, CFA = rsp + 8 and the return
// address at CFA - 8) and one FDE per function, laid out in a buffer whose address is known.
// Functions lie at made-up addresses far above the buffer: only their numbers matter.
struct Records {
  struct Function {
    std::uintptr_t offset;  // from `functions`
    std::uint32_t size;
    Bytes program;
  };

  // `augmentationLength`: the CIE's length of its augmentation data as written (one byte, 0x1b, follows).
  explicit Records(std::vector<Function> list, Bytes cieProgram = {0x0c, kRsp, 8, 0x80 | kRa, 1},
                   Bytes augmentationLength = {1}) {
    const std::size_t count = list.size();
    const std::size_t headerSize = 12 + 8 * count;
    Bytes frame;
    // The CIE.
    Bytes cie = {0, 0, 0, 0, 1, 'z', 'R', 0, 1, 0x78, kRa};
    cie.insert(cie.end(), augmentationLength.begin(), augmentationLength.end());
    cie.push_back(0x1b);
    cie.insert(cie.end(), cieProgram.begin(), cieProgram.end());
    while ((cie.size() + 4) % 8 != 0) cie.push_back(0);  // DW_CFA_nop
    Bytes cieRecord(4);
    put32(cieRecord, 0, static_cast<std::uint32_t>(cie.size()));
    cieRecord.insert(cieRecord.end(), cie.begin(), cie.end());
    frame = cieRecord;
    std::vector<std::size_t> fdeOffsets;
    for (const Function& f : list) {
      const std::size_t at = frame.size();
      fdeOffsets.push_back(at);
      Bytes fde(16);
      put32(fde, 4, static_cast<std::uint32_t>(at + 4));  // back to the CIE at offset 0
      fde.push_back(0);                                   // no augmentation data
      fde.insert(fde.end(), f.program.begin(), f.program.end());
      while (fde.size() % 8 != 0) fde.push_back(0);
      put32(fde, 0, static_cast<std::uint32_t>(fde.size() - 4));
      put32(fde, 12, f.size);
      frame.insert(frame.end(), fde.begin(), fde.end());
    }
    frame.insert(frame.end(), 4, 0);  // the terminator
    memory.assign(headerSize + frame.size() + 16, 0);
    // Everything is at its final address only now: fill in the pc-relative and header-relative fields.
    header = reinterpret_cast<std::uintptr_t>(memory.data());
    functions = header + 0x100000;
    memory[0] = 1;
    memory[1] = 0x1b;  // eh_frame_ptr: pc-relative, signed 4 bytes
    memory[2] = 0x03;  // count: unsigned 4 bytes
    memory[3] = 0x3b;  // table: header-relative, signed 4 bytes
    put32(memory, 4, static_cast<std::uint32_t>(headerSize - 4));
    put32(memory, 8, static_cast<std::uint32_t>(count));
    std::memcpy(memory.data() + headerSize, frame.data(), frame.size());
    for (std::size_t i = 0; i < count; ++i) {
      const std::uintptr_t fde = header + headerSize + fdeOffsets[i];
      const std::uintptr_t start = functions + list[i].offset;
      put32(memory, 12 + 8 * i, static_cast<std::uint32_t>(start - header));
      put32(memory, 16 + 8 * i, static_cast<std::uint32_t>(fde - header));
      put32(memory, fde + 8 - header, static_cast<std::uint32_t>(start - (fde + 8)));
    }
  }

  CfiResult find(std::uintptr_t offset, CfiRow* row, CfiCieCache* cies = nullptr) const {
    EhFrameIndex index;
    if (!readEhFrameIndex(taskSelf(), header, &index)) return CfiResult::kMalformed;
    return findCallFrame(taskSelf(), index, nullptr, functions + offset, row, cies);
  }

  Bytes memory;
  std::uintptr_t header = 0;
  std::uintptr_t functions = 0;
};

struct Expect {
  std::uint64_t cfaRegister;
  std::int64_t cfaOffset;
  std::vector<std::pair<std::uint8_t, CfiRule>> rules;  // the rules checked, by DWARF register
};

struct RowCase {
  const char* name;
  Bytes program;  // of a function at offset 0 of size 0x40
  std::uintptr_t pc;
  Expect expected;
};

const CfiRule kReturnAddressSaved{CfiRuleKind::kOffset, -8};

// clang-format off
const RowCase kRowCases[] = {
    // push %rbp; mov %rsp,%rbp: the three rows of a frame-pointer prologue.
    {"AtEntryTheCieRowHolds", {0x41, 0x0e, 16, 0x80 | kRbp, 2, 0x43, 0x0d, kRbp}, 0,
     {kRsp, 8, {{kRa, kReturnAddressSaved}, {kRbp, {}}}}},
    {"AfterThePushTheFramePointerIsSaved", {0x41, 0x0e, 16, 0x80 | kRbp, 2, 0x43, 0x0d, kRbp}, 1,
     {kRsp, 16, {{kRbp, {CfiRuleKind::kOffset, -16}}}}},
    {"InTheBodyTheCfaFollowsTheFramePointer", {0x41, 0x0e, 16, 0x80 | kRbp, 2, 0x43, 0x0d, kRbp}, 0x3f,
     {kRbp, 16, {{kRbp, {CfiRuleKind::kOffset, -16}}, {kRa, kReturnAddressSaved}}}},
    // remember_state, a change, restore_state: the CFA comes back with the rules (an epilogue's
    // remembered row before a second exit).
    {"ARememberedRowComesBack", {0x0e, 32, 0x80 | kRbx, 3, 0x0a, 0x42, 0x0e, 8, 0xc0 | kRbx, 0x42, 0x0b}, 5,
     {kRsp, 32, {{kRbx, {CfiRuleKind::kOffset, -24}}}}},
    {"BeforeTheRestoreTheChangedRowHolds", {0x0e, 32, 0x80 | kRbx, 3, 0x0a, 0x42, 0x0e, 8, 0xc0 | kRbx, 0x42, 0x0b}, 3,
     {kRsp, 8, {{kRbx, {}}}}},
    // The outermost function of a thread says its return address is lost.
    {"AnUndefinedReturnAddress", {0x07, kRa}, 4, {kRsp, 8, {{kRa, {CfiRuleKind::kUndefined, 0}}}}},
    {"SameValueAndOtherRegisterAndValOffset", {0x08, kRbx, 0x09, 12, kRbx, 0x14, 13, 2}, 0,
     {kRsp, 8, {{kRbx, {CfiRuleKind::kSameValue, 0}}, {12, {CfiRuleKind::kRegister, kRbx}},
                {13, {CfiRuleKind::kValOffset, -16}}}}},
    // The signed forms, long advances and a 64-register number.
    {"SignedAndExtendedForms", {0x12, kRsp, 0x7e, 0x11, kRbx, 0x7d, 0x03, 0x10, 0x00, 0x13, 0x7c}, 0x11,
     {kRsp, 32, {{kRbx, {CfiRuleKind::kOffset, 24}}}}},
    {"BeforeALongAdvance", {0x12, kRsp, 0x7e, 0x11, kRbx, 0x7d, 0x03, 0x10, 0x00, 0x13, 0x7c}, 0x0f,
     {kRsp, 16, {{kRbx, {CfiRuleKind::kOffset, 24}}}}},
};
// clang-format on

class CallFrameRows : public testing::TestWithParam<RowCase> {};

TEST_P(CallFrameRows, AreTheRowsInForceAtEachInstruction) {
  const RowCase& c = GetParam();
  const Records records({{0, 0x40, c.program}});
  CfiRow row;
  ASSERT_EQ(records.find(c.pc, &row), CfiResult::kFound);
  EXPECT_EQ(row.cfaRegister, c.expected.cfaRegister);
  EXPECT_EQ(row.cfaOffset, c.expected.cfaOffset);
  EXPECT_EQ(row.returnAddressRegister, kRa);
  EXPECT_EQ(row.functionStart, records.functions);
  for (const auto& [reg, rule] : c.expected.rules) {
    EXPECT_EQ(row.rules[reg].kind, rule.kind) << int{reg};
    EXPECT_EQ(row.rules[reg].value, rule.value) << int{reg};
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CallFrameRows, testing::ValuesIn(kRowCases),
                         [](const testing::TestParamInfo<RowCase>& info) { return std::string(info.param.name); });

TEST(CallFrameRows, TheTableFindsEachFunctionAndNothingOutsideThem) {
  const Records records({{0x000, 0x40, {0x0e, 16}}, {0x040, 0x20, {0x0e, 24}}, {0x100, 0x10, {0x0e, 32}}});
  CfiCieCache cies{};
  const struct {
    std::uintptr_t pc;
    CfiResult result;
    std::int64_t cfaOffset;
  } cases[] = {
      {0x000, CfiResult::kFound, 16}, {0x03f, CfiResult::kFound, 16}, {0x040, CfiResult::kFound, 24},
      {0x05f, CfiResult::kFound, 24}, {0x060, CfiResult::kNoEntry, 0},  // the gap between two functions
      {0x10f, CfiResult::kFound, 32}, {0x110, CfiResult::kNoEntry, 0},  // past the last one
  };
  for (CfiCieCache* cache : {static_cast<CfiCieCache*>(nullptr), &cies}) {
    for (const auto& c : cases) {
      CfiRow row;
      ASSERT_EQ(records.find(c.pc, &row, cache), c.result) << std::hex << c.pc;
      if (c.result == CfiResult::kFound) {
        EXPECT_EQ(row.cfaOffset, c.cfaOffset) << std::hex << c.pc;
      }
    }
  }
  EXPECT_NE(cies.entries[0].address, 0u);  // the one CIE, kept
  EXPECT_EQ(cies.entries[1].address, 0u);
  CfiRow row;
  const EhFrameIndex index = [&] {
    EhFrameIndex i;
    readEhFrameIndex(taskSelf(), records.header, &i);
    return i;
  }();
  EXPECT_EQ(index.count, 3u);
  EXPECT_EQ(findCallFrame(taskSelf(), index, nullptr, records.functions - 1, &row), CfiResult::kNoEntry);
  // The table copied out gives the same answers.
  const std::vector<std::int32_t> table = copyEhFrameTable(taskSelf(), index);
  ASSERT_EQ(table.size(), 6u);
  ASSERT_EQ(findCallFrame(taskSelf(), index, table.data(), records.functions + 0x45, &row), CfiResult::kFound);
  EXPECT_EQ(row.cfaOffset, 24);
}

// ---- Damaged records: each is refused, never read past, never looped on.

struct DamageCase {
  const char* name;
  Bytes program;
  void (*damage)(Records&, std::size_t fde);  // after the records are laid out (the FDE's offset); may be null
  CfiResult result;
};

// clang-format off
const DamageCase kDamageCases[] = {
    {"AnUnknownOperation", {0x17}, nullptr, CfiResult::kMalformed},
    {"ARestoreWithNothingRemembered", {0x0b}, nullptr, CfiResult::kMalformed},
    {"RememberedTooDeep", {0x0a, 0x0a, 0x0a, 0x0a, 0x0a}, nullptr, CfiResult::kMalformed},
    // Seven bytes fill the FDE to its end exactly: no padding ends the number.
    {"AnOperandRunningPastTheRecord", {0x0c, kRsp, 0x80, 0x80, 0x80, 0x80, 0x80}, nullptr, CfiResult::kMalformed},
    {"ACfaExpression", {0x0f, 2, 0x77, 0x08}, nullptr, CfiResult::kUnsupported},
    {"AReturnAddressExpression", {0x10, kRa, 2, 0x77, 0x08}, nullptr, CfiResult::kUnsupported},
    {"ACiePointerBeforeTheSection", {}, [](Records& r, std::size_t fde) { put32(r.memory, fde + 4, 0x7fffffff); },
     CfiResult::kMalformed},
    {"AnFdeLongerThanAnyRecord", {}, [](Records& r, std::size_t fde) { put32(r.memory, fde, 0x7fffffff); },
     CfiResult::kMalformed},
    {"ACiePointerToAnotherFde", {}, [](Records& r, std::size_t fde) { put32(r.memory, fde + 4, 4); },
     CfiResult::kMalformed},
    // The CIE's version byte follows the header (20 bytes with one function), its length and its id.
    {"ACieOfAnUnknownVersion", {}, [](Records& r, std::size_t) { r.memory[20 + 8] = 9; }, CfiResult::kMalformed},
};
// clang-format on

class DamagedCallFrames : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedCallFrames, AreRefused) {
  const DamageCase& c = GetParam();
  Records records({{0, 0x40, c.program}});
  std::int32_t fde;
  std::memcpy(&fde, records.memory.data() + 16, sizeof fde);
  if (c.damage) c.damage(records, static_cast<std::size_t>(fde));
  CfiRow row;
  EXPECT_EQ(records.find(4, &row), c.result);
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedCallFrames, testing::ValuesIn(kDamageCases),
                         [](const testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

// The CIE's augmentation data must lie inside the CIE: a length running past it, or one so large that
// the end wraps around to before it, would send the CIE's program to bytes that are not its own.
TEST(DamagedCallFrames, AugmentationDataOutsideItsCieIsRefused) {
  const struct {
    const char* name;
    Bytes length;
    CfiResult result;
  } cases[] = {
      {"the one byte there is", {1}, CfiResult::kFound},
      {"the same, in a longer form", {0x81, 0x80, 0}, CfiResult::kFound},
      {"past the record", {0x7f}, CfiResult::kMalformed},
      {"wrapping around to the byte before", {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01},
       CfiResult::kMalformed},
      {"far past the record", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, CfiResult::kMalformed},
  };
  for (const auto& c : cases) {
    Records records({{0, 0x40, {0x0e, 16}}}, {0x0c, kRsp, 8, 0x80 | kRa, 1}, c.length);
    CfiRow row;
    EXPECT_EQ(records.find(4, &row), c.result) << c.name;
    if (c.result == CfiResult::kFound) {
      EXPECT_EQ(row.cfaOffset, 16) << c.name;
    }
  }
}

TEST(DamagedCallFrames, AHeaderThatCannotBeSearchedIsNotUsed) {
  const struct {
    const char* name;
    std::size_t at;
    std::uint8_t value;
  } cases[] = {
      {"another version", 0, 2},
      {"a table of unsigned offsets", 3, 0x33},
      {"a table of absolute pointers", 3, 0x00},
      {"no count", 2, 0xff},
  };
  for (const auto& c : cases) {
    Records records({{0, 0x40, {}}});
    records.memory[c.at] = c.value;
    EhFrameIndex index;
    EXPECT_FALSE(readEhFrameIndex(taskSelf(), records.header, &index)) << c.name;
    EXPECT_EQ(index.header, 0u) << c.name;
  }
  Records empty({});
  EhFrameIndex index;
  EXPECT_FALSE(readEhFrameIndex(taskSelf(), empty.header, &index));
  EXPECT_FALSE(readEhFrameIndex(taskSelf(), 0, &index));
}

// Records that end where the mapping ends: a record claiming more is refused, not read past.
TEST(DamagedCallFrames, ARecordRunningOffItsMappingIsRefused) {
  const std::size_t page = static_cast<std::size_t>(getpagesize());
  Records records({{0, 0x40, {0x0e, 16}}});
  auto* area = static_cast<std::uint8_t*>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(area, MAP_FAILED);
  munmap(area + page, page);
  // The whole layout moved to the end of the page keeps its header-relative offsets, but the
  // functions' pc-relative starts are rebuilt for the new place.
  std::uint8_t* copy = area + page - records.memory.size();
  const std::vector<Records::Function> list = {{0, 0x40, {0x0e, 16}}};
  Records moved(list);
  std::memcpy(copy, moved.memory.data(), moved.memory.size());
  const auto header = reinterpret_cast<std::uintptr_t>(copy);
  EhFrameIndex index;
  ASSERT_TRUE(readEhFrameIndex(taskSelf(), header, &index));
  std::int32_t entry[2];
  std::memcpy(entry, copy + 12, sizeof entry);
  const std::uintptr_t fde = header + static_cast<std::intptr_t>(entry[1]);
  const std::uintptr_t start = header + static_cast<std::intptr_t>(entry[0]);
  const auto pcField = static_cast<std::uint32_t>(start - (fde + 8));
  std::memcpy(reinterpret_cast<void*>(fde + 8), &pcField, 4);
  // Read a record at a time, and through a walker's cache that reads ahead as far as it can.
  static CfiCieCache cache;
  for (CfiCieCache* cies : {static_cast<CfiCieCache*>(nullptr), &cache}) {
    if (cies) cies->clear();
    CfiRow row;
    std::uint32_t length = static_cast<std::uint32_t>(24 - 4);
    std::memcpy(reinterpret_cast<void*>(fde), &length, 4);
    ASSERT_EQ(findCallFrame(taskSelf(), index, nullptr, start + 1, &row, cies), CfiResult::kFound);
    EXPECT_EQ(row.cfaOffset, 16);
    // Now the FDE says it runs on past the page (records hold still during a walk: a changed one is
    // only seen by a new walk).
    length = static_cast<std::uint32_t>(page);
    std::memcpy(reinterpret_cast<void*>(fde), &length, 4);
    if (cies) cies->clear();
    EXPECT_EQ(findCallFrame(taskSelf(), index, nullptr, start + 1, &row, cies), CfiResult::kMalformed);
  }
  munmap(area, page);
}

// Records that begin where their mapping begins: the cache, which reads from a little before a
// record, still finds them.
TEST(CallFrameRows, RecordsAtTheStartOfTheirMappingAreFoundThroughTheCache) {
  const std::size_t page = static_cast<std::size_t>(getpagesize());
  auto* area = static_cast<std::uint8_t*>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(area, MAP_FAILED);
  munmap(area, page);
  const Records records({{0, 0x40, {0x0e, 16}}});
  std::memcpy(area + page, records.memory.data(), records.memory.size());
  const auto header = reinterpret_cast<std::uintptr_t>(area + page);
  EhFrameIndex index;
  ASSERT_TRUE(readEhFrameIndex(taskSelf(), header, &index));
  std::int32_t entry[2];
  std::memcpy(entry, area + page + 12, sizeof entry);
  static CfiCieCache cache;
  cache.clear();
  CfiRow row;
  EXPECT_EQ(findCallFrame(taskSelf(), index, nullptr, header + static_cast<std::intptr_t>(entry[0]) + 1, &row, &cache),
            CfiResult::kFound);
  EXPECT_EQ(row.cfaOffset, 16);
  munmap(area + page, page);
}

}  // namespace
}  // namespace sys
