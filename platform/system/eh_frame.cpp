#include "platform/system/eh_frame.h"

#include <new>

namespace sys {
namespace {

// Pointer encodings (DW_EH_PE_*): the low four bits give the format, the next three how it applies.
enum : std::uint8_t {
  kPeAbsptr = 0x00,
  kPeUleb128 = 0x01,
  kPeUdata2 = 0x02,
  kPeUdata4 = 0x03,
  kPeUdata8 = 0x04,
  kPeSleb128 = 0x09,
  kPeSdata2 = 0x0a,
  kPeSdata4 = 0x0b,
  kPeSdata8 = 0x0c,
  kPePcrel = 0x10,
  kPeDatarel = 0x30,
  kPeIndirect = 0x80,
  kPeOmit = 0xff,
};

// Bounds against damaged records: no real FDE or CIE is larger, no function table longer, no
// program remembers more rows at once.
constexpr std::uint64_t kMaxRecord = 1u << 20;
constexpr std::size_t kMaxTable = 1u << 22;
constexpr std::size_t kRememberDepth = 4;

// Reads another object's bytes in order through a small window, refilled by one guarded read at a
// time. Reading past `end` or an unreadable byte sets `failed`, and every later read gives 0. A record
// is opened with a far end and then limited to its length, so that the first window already holds a
// whole short record: one read per record, which is what a walk's time goes on.
class ByteReader {
 public:
  ByteReader(Task task, std::uintptr_t at, std::uintptr_t end, CfiCieCache* cache = nullptr) noexcept
      : task_(task), at_(at), end_(end), cache_(cache) {}

  std::uintptr_t position() const noexcept { return at_; }
  bool failed() const noexcept { return failed_; }
  bool atEnd() const noexcept { return at_ >= end_; }
  void limit(std::uintptr_t end) noexcept { end_ = end; }
  void seek(std::uintptr_t at) noexcept { at_ = at; }

  // Out of line, like the number decoders below: a program's decoder inlining them all grew to 8 KB,
  // every line of it cold when a crash first runs it.
  [[gnu::noinline]] std::uint8_t byte() noexcept {
    if (at_ >= windowStart_ && at_ - windowStart_ < windowLength_ && at_ < end_ && !failed_)
      return window_[at_++ - windowStart_];
    return slowByte();
  }

  std::uint64_t fixed(std::size_t bytes) noexcept {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value |= std::uint64_t{byte()} << (8 * i);
    return value;
  }

  [[gnu::noinline]] std::uint64_t uleb() noexcept {
    std::uint64_t value = 0;
    for (unsigned shift = 0; shift < 70; shift += 7) {
      const std::uint8_t b = byte();
      if (shift < 64) value |= std::uint64_t{b & 0x7fu} << shift;
      if ((b & 0x80) == 0 || failed_) return value;
    }
    failed_ = true;  // longer than any 64-bit number
    return 0;
  }

  [[gnu::noinline]] std::int64_t sleb() noexcept {
    std::uint64_t value = 0;
    unsigned shift = 0;
    std::uint8_t b = 0;
    do {
      b = byte();
      if (shift < 64) value |= std::uint64_t{b & 0x7fu} << shift;
      shift += 7;
    } while ((b & 0x80) != 0 && !failed_ && shift < 70);
    if (shift < 64 && (b & 0x40) != 0) value |= ~std::uint64_t{0} << shift;
    return static_cast<std::int64_t>(value);
  }

  void skip(std::uint64_t bytes) noexcept {
    if (bytes > end_ - at_ || at_ > end_) {
      failed_ = true;
      return;
    }
    at_ += bytes;
  }

  // A pointer in `encoding`; `dataBase` is what datarel pointers count from.
  std::uintptr_t pointer(std::uint8_t encoding, std::uintptr_t dataBase) noexcept {
    if (encoding == kPeOmit) return 0;
    const std::uintptr_t here = at_;
    std::uint64_t value = 0;
    switch (encoding & 0x0f) {
      case kPeAbsptr:
        value = fixed(sizeof(std::uintptr_t));
        break;
      case kPeUleb128:
        value = uleb();
        break;
      case kPeUdata2:
        value = fixed(2);
        break;
      case kPeUdata4:
        value = fixed(4);
        break;
      case kPeUdata8:
        value = fixed(8);
        break;
      case kPeSleb128:
        value = static_cast<std::uint64_t>(sleb());
        break;
      case kPeSdata2:
        value = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int16_t>(fixed(2))));
        break;
      case kPeSdata4:
        value = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(fixed(4))));
        break;
      case kPeSdata8:
        value = fixed(8);
        break;
      default:
        failed_ = true;
        return 0;
    }
    switch (encoding & 0x70) {
      case 0:
        break;
      case kPePcrel:
        value += here;
        break;
      case kPeDatarel:
        value += dataBase;
        break;
      default:  // text- and function-relative pointers: no linker writes them for this machine
        failed_ = true;
        return 0;
    }
    if (encoding & kPeIndirect) {
      std::uintptr_t target = 0;
      if (readMemory(task_, value, &target, sizeof target) != MemoryReadResult::kSuccess) {
        failed_ = true;
        return 0;
      }
      value = target;
    }
    return static_cast<std::uintptr_t>(value);
  }

 private:
  // byte() past the window: the end, a failure, or a refill.
  [[gnu::noinline]] std::uint8_t slowByte() noexcept {
    if (failed_ || at_ >= end_) {
      failed_ = true;
      return 0;
    }
    if (at_ < windowStart_ || at_ >= windowStart_ + windowLength_) refill();
    if (failed_) return 0;
    return window_[at_++ - windowStart_];
  }

  void refill() noexcept {
    std::size_t length = sizeof window_;
    if (end_ - at_ < length) length = end_ - at_;
    const CfiCieCache::Window* held = cache_ ? heldWindow(length) : nullptr;
    if (cache_ && !held) held = readWindow();
    if (held && at_ >= held->base && at_ - held->base < held->length) {
      const std::size_t offset = at_ - held->base;
      if (length > held->length - offset) length = held->length - offset;
      __builtin_memcpy(window_, held->bytes + offset, length);
    } else {
      // A window that would reach into an unmapped page is read as far as it can be.
      length = readMemoryPrefix(task_, at_, window_, length);
    }
    if (length == 0) {
      failed_ = true;
      return;
    }
    windowStart_ = at_;
    windowLength_ = length;
  }

  // The cache's window that holds the `length` bytes from here, or null.
  const CfiCieCache::Window* heldWindow(std::size_t length) const noexcept {
    for (const CfiCieCache::Window& window : cache_->windows) {
      if (at_ >= window.base && at_ - window.base < window.length && length <= window.length - (at_ - window.base))
        return &window;
    }
    return nullptr;
  }

  // Reads the oldest window afresh, from a little before here: the record's CIE and the records of
  // the functions before it often lie there. Where the bytes before cannot be read (the mapping starts
  // in between), from here.
  const CfiCieCache::Window* readWindow() noexcept {
    constexpr std::uintptr_t kLead = 256;
    CfiCieCache::Window& window = cache_->windows[cache_->nextWindow];
    cache_->nextWindow = (cache_->nextWindow + 1) % CfiCieCache::kWindows;
    const std::uintptr_t lead = at_ < kLead ? at_ : kLead;
    window.base = at_ - lead;
    window.length = readMemoryPrefix(task_, window.base, window.bytes, sizeof window.bytes);
    if (window.length <= lead) {
      window.base = at_;
      window.length = readMemoryPrefix(task_, at_, window.bytes, sizeof window.bytes);
    }
    return &window;
  }

  Task task_;
  std::uintptr_t at_;
  std::uintptr_t end_;
  CfiCieCache* cache_;
  std::uintptr_t windowStart_ = 0;
  std::size_t windowLength_ = 0;
  bool failed_ = false;
  std::uint8_t window_[128];
};

// What a CIE says for all its FDEs.
struct Cie {
  std::uint64_t codeAlign = 1;
  std::int64_t dataAlign = 1;
  std::uint64_t returnAddressRegister = 16;
  std::uint8_t fdeEncoding = kPeAbsptr;
  bool hasAugmentationData = false;  // "z"
  bool signalFrame = false;
  std::uintptr_t instructions = 0;
  std::uintptr_t end = 0;
};

// Reads a record's length and moves past it; the record's end, or 0 for the terminator or a bad one.
std::uintptr_t recordEnd(ByteReader& in) noexcept {
  std::uint64_t length = in.fixed(4);
  if (length == 0xffffffffu) length = in.fixed(8);
  if (in.failed() || length == 0 || length > kMaxRecord) return 0;
  return in.position() + length;
}

bool readCie(Task task, std::uintptr_t at, Cie* cie, CfiCieCache* cache) noexcept {
  ByteReader in(task, at, at + kMaxRecord, cache);
  cie->end = recordEnd(in);
  if (cie->end == 0) return false;
  in.limit(cie->end);
  if (in.fixed(4) != 0) return false;  // a CIE's id is 0 in .eh_frame
  const std::uint8_t version = in.byte();
  if (version != 1 && version != 3 && version != 4) return false;
  char augmentation[8];
  std::size_t length = 0;
  for (char c; (c = static_cast<char>(in.byte())) != '\0' && !in.failed();) {
    if (length + 1 >= sizeof augmentation) return false;
    augmentation[length++] = c;
  }
  augmentation[length] = '\0';
  if (version == 4) in.skip(2);  // address and segment selector sizes
  cie->codeAlign = in.uleb();
  cie->dataAlign = in.sleb();
  cie->returnAddressRegister = version == 1 ? in.byte() : in.uleb();
  if (length > 0 && augmentation[0] == 'z') {
    cie->hasAugmentationData = true;
    const std::uint64_t dataLength = in.uleb();
    // Inside the CIE: a length past its end, or one whose end wraps around to before it, would hand
    // the program bytes that are not the CIE's.
    if (in.failed() || in.position() > cie->end || dataLength > cie->end - in.position()) return false;
    const std::uintptr_t dataEnd = in.position() + dataLength;
    for (std::size_t i = 1; i < length && !in.failed(); ++i) {
      switch (augmentation[i]) {
        case 'R':
          cie->fdeEncoding = in.byte();
          break;
        case 'P':
          in.pointer(in.byte() & 0x7f, 0);  // the personality routine: not needed, only passed over
          break;
        case 'L':
          in.byte();
          break;
        case 'S':
          cie->signalFrame = true;
          break;
        default:  // an augmentation of another machine: its data is skipped as a whole below
          break;
      }
    }
    in.seek(dataEnd);
  } else if (length > 0) {
    return false;  // data of an unknown size follows
  }
  cie->instructions = in.position();
  return !in.failed() && cie->instructions <= cie->end;
}

struct Program {
  std::uintptr_t pc;   // the row wanted
  std::uintptr_t loc;  // the address the row being built starts at
  const Cie* cie;
  const CfiRule* initial;  // the CIE's rules, for "restore"
};

CfiRule* ruleFor(CfiRow* row, std::uint64_t reg) noexcept {
  return reg < kCfiRegisters ? &row->rules[reg] : nullptr;
}

// Runs the call-frame program in [start, end) on `row` up to the row of `program->pc`. False when the
// program is malformed; an unknown operation ends it as malformed too, since its operands cannot be
// skipped.
bool runProgram(Task task, std::uintptr_t start, std::uintptr_t end, Program* program, CfiRow* row,
                CfiCieCache* cache) noexcept {
  // The rows remember_state saved. Their rules are kept as bytes, left uninitialised until a program
  // saves one (most never do): clearing them on every call cost more than running most programs.
  // CfiRule is trivially copyable, so copying its bytes copies it.
  struct Saved {
    std::uint64_t cfaRegister;
    std::int64_t cfaOffset;
    bool cfaExpression;
    unsigned char rules[sizeof(CfiRule) * kCfiRegisters];
  };
  Saved remembered[kRememberDepth];
  std::size_t depth = 0;
  ByteReader in(task, start, end, cache);
  const Cie& cie = *program->cie;
  auto advance = [&](std::uint64_t delta) {
    program->loc += delta * cie.codeAlign;
    return program->loc <= program->pc;
  };
  auto set = [&](std::uint64_t reg, CfiRuleKind kind, std::int64_t value) {
    if (CfiRule* rule = ruleFor(row, reg)) *rule = {kind, value};
  };
  auto restore = [&](std::uint64_t reg) {
    if (CfiRule* rule = ruleFor(row, reg)) *rule = program->initial ? program->initial[reg] : CfiRule{};
  };
  while (!in.atEnd()) {
    const std::uint8_t op = in.byte();
    const std::uint8_t low = op & 0x3f;
    switch (op >> 6) {
      case 1:
        if (!advance(low)) return true;
        continue;
      case 2:
        set(low, CfiRuleKind::kOffset, static_cast<std::int64_t>(in.uleb()) * cie.dataAlign);
        continue;
      case 3:
        restore(low);
        continue;
      default:
        break;
    }
    switch (op) {
      case 0x00:  // nop
        break;
      case 0x01: {  // set_loc
        const std::uintptr_t loc = in.pointer(cie.fdeEncoding, 0);
        if (loc > program->pc) return !in.failed();
        program->loc = loc;
        break;
      }
      case 0x02:
        if (!advance(in.fixed(1))) return !in.failed();
        break;
      case 0x03:
        if (!advance(in.fixed(2))) return !in.failed();
        break;
      case 0x04:
        if (!advance(in.fixed(4))) return !in.failed();
        break;
      case 0x05: {  // offset_extended
        const std::uint64_t reg = in.uleb();
        set(reg, CfiRuleKind::kOffset, static_cast<std::int64_t>(in.uleb()) * cie.dataAlign);
        break;
      }
      case 0x06:
        restore(in.uleb());
        break;
      case 0x07:
        set(in.uleb(), CfiRuleKind::kUndefined, 0);
        break;
      case 0x08:
        set(in.uleb(), CfiRuleKind::kSameValue, 0);
        break;
      case 0x09: {  // register
        const std::uint64_t reg = in.uleb();
        set(reg, CfiRuleKind::kRegister, static_cast<std::int64_t>(in.uleb()));
        break;
      }
      case 0x0a:  // remember_state
        if (depth == kRememberDepth) return false;
        remembered[depth].cfaRegister = row->cfaRegister;
        remembered[depth].cfaOffset = row->cfaOffset;
        remembered[depth].cfaExpression = row->cfaExpression;
        __builtin_memcpy(remembered[depth].rules, row->rules, sizeof row->rules);
        ++depth;
        break;
      case 0x0b:  // restore_state: the CFA comes back too, as every unwinder in use restores it
        if (depth == 0) return false;
        --depth;
        row->cfaRegister = remembered[depth].cfaRegister;
        row->cfaOffset = remembered[depth].cfaOffset;
        row->cfaExpression = remembered[depth].cfaExpression;
        __builtin_memcpy(row->rules, remembered[depth].rules, sizeof row->rules);
        break;
      case 0x0c:  // def_cfa
        row->cfaRegister = in.uleb();
        row->cfaOffset = static_cast<std::int64_t>(in.uleb());
        row->cfaExpression = false;
        break;
      case 0x0d:
        row->cfaRegister = in.uleb();
        row->cfaExpression = false;
        break;
      case 0x0e:
        row->cfaOffset = static_cast<std::int64_t>(in.uleb());
        break;
      case 0x0f:  // def_cfa_expression
        row->cfaExpression = true;
        in.skip(in.uleb());
        break;
      case 0x10:    // expression
      case 0x16: {  // val_expression
        const std::uint64_t reg = in.uleb();
        set(reg, CfiRuleKind::kExpression, 0);
        in.skip(in.uleb());
        break;
      }
      case 0x11: {  // offset_extended_sf
        const std::uint64_t reg = in.uleb();
        set(reg, CfiRuleKind::kOffset, in.sleb() * cie.dataAlign);
        break;
      }
      case 0x12:  // def_cfa_sf
        row->cfaRegister = in.uleb();
        row->cfaOffset = in.sleb() * cie.dataAlign;
        row->cfaExpression = false;
        break;
      case 0x13:
        row->cfaOffset = in.sleb() * cie.dataAlign;
        break;
      case 0x14: {  // val_offset
        const std::uint64_t reg = in.uleb();
        set(reg, CfiRuleKind::kValOffset, static_cast<std::int64_t>(in.uleb()) * cie.dataAlign);
        break;
      }
      case 0x15: {  // val_offset_sf
        const std::uint64_t reg = in.uleb();
        set(reg, CfiRuleKind::kValOffset, in.sleb() * cie.dataAlign);
        break;
      }
      case 0x2d:  // GNU_window_save (AArch64: negate_ra_state); nothing to track here
        break;
      case 0x2e:  // GNU_args_size
        in.uleb();
        break;
      case 0x2f: {  // GNU_negative_offset_extended
        const std::uint64_t reg = in.uleb();
        set(reg, CfiRuleKind::kOffset, -static_cast<std::int64_t>(in.uleb()) * cie.dataAlign);
        break;
      }
      default:
        return false;
    }
    if (in.failed()) return false;
  }
  return !in.failed();
}

// The table entry `i`: the function start and the FDE, as offsets from the header.
bool tableEntry(Task task, const EhFrameIndex& index, const std::int32_t* table, std::size_t i,
                std::int32_t entry[2]) noexcept {
  if (table) {
    entry[0] = table[2 * i];
    entry[1] = table[2 * i + 1];
    return true;
  }
  return readMemory(task, index.table + i * 8, entry, 8) == MemoryReadResult::kSuccess;
}

}  // namespace

bool readEhFrameIndex(Task task, std::uintptr_t header, EhFrameIndex* index) noexcept {
  *index = EhFrameIndex{};
  if (header == 0) return false;
  ByteReader in(task, header, header + 64);
  const std::uint8_t version = in.byte();
  const std::uint8_t framePointerEncoding = in.byte();
  const std::uint8_t countEncoding = in.byte();
  const std::uint8_t tableEncoding = in.byte();
  // Only the sorted table of signed 32-bit offsets from the header can be searched.
  constexpr std::uint8_t kSearchable = kPeDatarel | kPeSdata4;
  if (in.failed() || version != 1 || tableEncoding != kSearchable || countEncoding == kPeOmit) return false;
  in.pointer(framePointerEncoding, header);
  const std::uint64_t count = in.pointer(countEncoding, header);
  if (in.failed() || count == 0 || count > kMaxTable) return false;
  index->header = header;
  index->table = in.position();
  index->count = static_cast<std::size_t>(count);
  return true;
}

std::vector<std::int32_t> copyEhFrameTable(Task task, const EhFrameIndex& index) {
  std::vector<std::int32_t> table(index.count * 2);
  if (table.empty() ||
      readMemory(task, index.table, table.data(), table.size() * sizeof(std::int32_t)) != MemoryReadResult::kSuccess)
    return {};
  return table;
}

CfiResult findCallFrame(Task task, const EhFrameIndex& index, const std::int32_t* table, std::uintptr_t pc,
                        CfiRow* row, CfiCieCache* cies) noexcept {
  if (index.header == 0 || index.count == 0) return CfiResult::kNoEntry;
  // The last function starting at or below the pc.
  std::size_t low = 0, high = index.count;
  std::int32_t entry[2];
  while (high - low > 1) {
    const std::size_t middle = low + (high - low) / 2;
    if (!tableEntry(task, index, table, middle, entry)) return CfiResult::kMalformed;
    if (index.header + static_cast<std::intptr_t>(entry[0]) <= pc)
      low = middle;
    else
      high = middle;
  }
  if (!tableEntry(task, index, table, low, entry)) return CfiResult::kMalformed;
  if (index.header + static_cast<std::intptr_t>(entry[0]) > pc) return CfiResult::kNoEntry;
  const std::uintptr_t fde = index.header + static_cast<std::intptr_t>(entry[1]);

  // The FDE: its CIE, the range it covers, its program.
  ByteReader in(task, fde, fde + kMaxRecord, cies);
  const std::uintptr_t fdeEnd = recordEnd(in);
  if (fdeEnd == 0) return CfiResult::kMalformed;
  in.limit(fdeEnd);
  const std::uintptr_t ciePointerAt = in.position();
  const std::uint64_t ciePointer = in.fixed(4);
  if (in.failed() || ciePointer == 0 || ciePointer > ciePointerAt) return CfiResult::kMalformed;
  // The CIE and the row its program makes, kept or read now.
  const std::uintptr_t cieAddress = ciePointerAt - ciePointer;
  CfiCieCache::Entry* common = nullptr;
  for (std::size_t i = 0; cies && i < CfiCieCache::kEntries && !common; ++i)
    if (cies->entries[i].address == cieAddress) common = &cies->entries[i];
  // Room for the CIE's entry without a cache to keep it in, made only then: an entry holds a whole row.
  union LocalEntry {
    LocalEntry() noexcept {}
    CfiCieCache::Entry entry;
  } local;
  if (!common) {
    Cie cie;
    if (!readCie(task, cieAddress, &cie, cies)) return CfiResult::kMalformed;
    CfiCieCache::Entry& entry = cies ? cies->entries[cies->next] : *new (&local.entry) CfiCieCache::Entry;
    entry.address = 0;
    entry.codeAlign = cie.codeAlign;
    entry.dataAlign = cie.dataAlign;
    entry.fdeEncoding = cie.fdeEncoding;
    entry.hasAugmentationData = cie.hasAugmentationData;
    entry.initial = CfiRow{};
    entry.initial.returnAddressRegister = cie.returnAddressRegister;
    entry.initial.signalFrame = cie.signalFrame;
    // A CIE's program describes a function's entry; it never advances past it.
    Program program{~std::uintptr_t{0}, 0, &cie, nullptr};
    if (!runProgram(task, cie.instructions, cie.end, &program, &entry.initial, cies)) return CfiResult::kMalformed;
    entry.address = cieAddress;
    if (cies) cies->next = (cies->next + 1) % CfiCieCache::kEntries;
    common = &entry;
  }
  Cie cie;
  cie.codeAlign = common->codeAlign;
  cie.dataAlign = common->dataAlign;
  cie.fdeEncoding = common->fdeEncoding;
  cie.hasAugmentationData = common->hasAugmentationData;

  const std::uintptr_t start = in.pointer(cie.fdeEncoding, 0);
  const std::uintptr_t range = in.pointer(cie.fdeEncoding & 0x0f, 0);
  if (in.failed()) return CfiResult::kMalformed;
  if (pc < start || pc - start >= range) return CfiResult::kNoEntry;
  if (cie.hasAugmentationData) in.skip(in.uleb());
  if (in.failed()) return CfiResult::kMalformed;

  *row = common->initial;
  row->functionStart = start;
  Program program{pc, start, &cie, common->initial.rules};
  if (!runProgram(task, in.position(), fdeEnd, &program, row, cies)) return CfiResult::kMalformed;
  if (row->cfaExpression) return CfiResult::kUnsupported;
  const CfiRule* returnAddress = ruleFor(row, row->returnAddressRegister);
  if (!returnAddress || returnAddress->kind == CfiRuleKind::kExpression) return CfiResult::kUnsupported;
  return CfiResult::kFound;
}

}  // namespace sys
