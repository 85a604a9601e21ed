#include "platform/system/memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace sys {
namespace {

// Readable page, unreadable page, readable page, and then a page-sized hole where nothing is mapped.
struct Layout {
  Layout() : page(static_cast<std::size_t>(getpagesize())) {
    base = static_cast<char*>(
        mmap(nullptr, page * 4, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    for (std::size_t i = 0; i < page * 3; ++i) base[i] = static_cast<char>(i * 7);
    mprotect(base + page, page, PROT_NONE);
    hole = base + 3 * page;
    munmap(hole, page);
  }
  ~Layout() { munmap(base, page * 3); }
  std::uintptr_t at(const char* p) const { return reinterpret_cast<std::uintptr_t>(p); }

  std::size_t page;
  char* base;
  char* hole;
};

void expectReadsOfLayout() {
  Layout l;
  const Task self = taskSelf();
  char out[64] = {};
  ASSERT_EQ(readMemory(self, l.at(l.base) + 10, out, sizeof(out)), MemoryReadResult::kSuccess);
  EXPECT_EQ(std::memcmp(out, l.base + 10, sizeof(out)), 0);
  EXPECT_EQ(readMemory(self, l.at(l.base), out, 0), MemoryReadResult::kSuccess);

  EXPECT_EQ(readMemory(self, l.at(l.base + l.page), out, 8), MemoryReadResult::kProtectionFailure);
  EXPECT_EQ(readMemory(self, l.at(l.hole), out, 8), MemoryReadResult::kInvalidAddress);
  EXPECT_EQ(readMemory(self, 0, out, 8), MemoryReadResult::kInvalidAddress);
  EXPECT_EQ(readMemory(self, 0x0000800000000000ull, out, 8), MemoryReadResult::kInvalidAddress);

  // Ranges that start readable report the first page they cannot read, with the bytes before it.
  std::memset(out, 0, sizeof(out));
  EXPECT_EQ(readMemory(self, l.at(l.base + l.page) - 16, out, 32), MemoryReadResult::kProtectionFailure);
  EXPECT_EQ(std::memcmp(out, l.base + l.page - 16, 16), 0);
  EXPECT_EQ(readMemory(self, l.at(l.hole) - 8, out, 16), MemoryReadResult::kInvalidAddress);

  // A read across several readable pages (the pipe path copies page by page), and a range that
  // wraps around the address space, which must leave the destination untouched.
  std::string source(2 * l.page + 100, '\0'), copy(source.size(), '\0');
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i * 13);
  ASSERT_EQ(readMemory(self, l.at(source.data()), copy.data(), copy.size()), MemoryReadResult::kSuccess);
  EXPECT_EQ(copy, source);
  std::memcpy(out, "untouched", 10);
  EXPECT_EQ(readMemory(self, UINTPTR_MAX - 3, out, 8), MemoryReadResult::kInvalidAddress);
  EXPECT_STREQ(out, "untouched");
}

// A read ahead stops at the first byte it cannot read and says how far it got.
void expectPrefixReadsOfLayout() {
  Layout l;
  const struct {
    const char* what;
    std::uintptr_t address;
    std::size_t length;
    std::size_t expected;
  } cases[] = {
      {"all readable", l.at(l.base) + 10, 64, 64},
      {"up to a protected page", l.at(l.base + l.page) - 24, 64, 24},
      {"up to a hole", l.at(l.hole) - 40, 64, 40},
      {"from a protected page", l.at(l.base + l.page), 64, 0},
      {"from a hole", l.at(l.hole), 64, 0},
      {"nothing asked", l.at(l.base), 0, 0},
      {"wrapping around", UINTPTR_MAX - 3, 8, 0},
  };
  for (const auto& c : cases) {
    char out[64] = {};
    EXPECT_EQ(readMemoryPrefix(taskSelf(), c.address, out, c.length), c.expected) << c.what;
    if (c.expected > 0) {
      EXPECT_EQ(std::memcmp(out, reinterpret_cast<const char*>(c.address), c.expected), 0) << c.what;
    }
  }
}

// A gathered read takes every piece whole, or says it could not.
void expectPieceReadsOfLayout() {
  Layout l;
  char a[8] = {}, b[16] = {}, c[8] = {};
  const struct {
    const char* what;
    std::vector<MemoryPiece> pieces;
    bool whole;
  } cases[] = {
      {"scattered readable pieces",
       {{l.at(l.base) + 3, a, sizeof a}, {l.at(l.base + 2 * l.page) + 100, b, sizeof b}, {l.at(l.base) + 900, c, sizeof c}},
       true},
      {"a piece in a protected page", {{l.at(l.base), a, sizeof a}, {l.at(l.base + l.page), b, sizeof b}}, false},
      {"a piece running into a hole", {{l.at(l.hole) - 4, a, sizeof a}}, false},
      {"no piece", {}, true},
      {"more pieces than one read takes", std::vector<MemoryPiece>(kMaxMemoryPieces + 1, {l.at(l.base), a, 1}), false},
  };
  for (const auto& c : cases) {
    std::memset(a, 0, sizeof a);
    std::memset(b, 0, sizeof b);
    EXPECT_EQ(readMemoryPieces(taskSelf(), c.pieces.data(), c.pieces.size()), c.whole) << c.what;
  }
  const MemoryPiece pieces[] = {{l.at(l.base) + 3, a, sizeof a}, {l.at(l.base + 2 * l.page) + 100, b, sizeof b}};
  ASSERT_TRUE(readMemoryPieces(taskSelf(), pieces, 2));
  EXPECT_EQ(std::memcmp(a, l.base + 3, sizeof a), 0);
  EXPECT_EQ(std::memcmp(b, l.base + 2 * l.page + 100, sizeof b), 0);
}

// Reads ahead in several places at once: each piece as far as it can be read, and a piece that stops
// short (or cannot be read at all) keeps none of the pieces after it from being read whole.
void expectPiecePrefixReadsOfLayout() {
  Layout l;
  char a[64] = {}, b[64] = {}, c[64] = {};
  const struct {
    const char* what;
    std::vector<MemoryPiece> pieces;
    std::vector<std::size_t> lengths;
  } cases[] = {
      {"all readable", {{l.at(l.base), a, 64}, {l.at(l.base + 2 * l.page), b, 64}}, {64, 64}},
      {"the middle one runs into a protected page",
       {{l.at(l.base) + 8, a, 64}, {l.at(l.base + l.page) - 24, b, 64}, {l.at(l.base + 2 * l.page) + 8, c, 64}},
       {64, 24, 64}},
      {"the first one runs into a hole", {{l.at(l.hole) - 40, a, 64}, {l.at(l.base), b, 64}}, {40, 64}},
      {"the middle one lies in a hole", {{l.at(l.base), a, 64}, {l.at(l.hole), b, 64}, {l.at(l.base) + 100, c, 64}},
       {64, 0, 64}},
      {"an empty piece between two", {{l.at(l.base), a, 64}, {l.at(l.base), b, 0}, {l.at(l.base) + 7, c, 64}},
       {64, 0, 64}},
      {"no piece", {}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::size_t> lengths(c.pieces.size(), 999);
    readMemoryPiecePrefixes(taskSelf(), c.pieces.data(), c.pieces.size(), lengths.data());
    EXPECT_EQ(lengths, c.lengths) << c.what;
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
      EXPECT_EQ(std::memcmp(c.pieces[i].destination, reinterpret_cast<const char*>(c.pieces[i].address),
                            lengths[i]),
                0)
          << c.what << ", piece " << i;
    }
  }
}

TEST(MemoryRead, ReadsOwnMemoryAndNamesWhyItCannot) {
  expectReadsOfLayout();
  expectPrefixReadsOfLayout();
  expectPieceReadsOfLayout();
  expectPiecePrefixReadsOfLayout();
}

TEST(MemoryRead, PipePathForSandboxesGivesTheSameAnswers) {
  setSelfReadsUsePipeForTesting(true);
  expectReadsOfLayout();
  expectPrefixReadsOfLayout();
  expectPieceReadsOfLayout();
  expectPiecePrefixReadsOfLayout();
  setSelfReadsUsePipeForTesting(false);
}

TEST(MemoryRead, ReadsAChildAndFailsForAProcessThatIsGone) {
  static volatile std::uint64_t marker = 0;
  marker = 0x1122334455667788ull;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(ready[0]);
    marker = 0xaabbccddeeff0011ull;  // the child's copy now differs from ours
    (void)!write(ready[1], "r", 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  std::uint64_t value = 0;
  const MemoryReadResult result =
      readMemory(pid, reinterpret_cast<std::uintptr_t>(&marker), &value, sizeof(value));
  kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ASSERT_EQ(result, MemoryReadResult::kSuccess);
  EXPECT_EQ(value, 0xaabbccddeeff0011ull);

  // No process has a number this high (pid_max is at most 2^22).
  EXPECT_EQ(readMemory(INT32_MAX, reinterpret_cast<std::uintptr_t>(&marker), &value, 8),
            MemoryReadResult::kFailure);
}

TEST(Identity, MainThreadIdIsTheProcessIdAndOthersDiffer) {
  EXPECT_EQ(taskSelf(), 0);  // this process, also after a fork
  EXPECT_EQ(threadSelf(), getpid());
  ThreadId other = 0;
  std::thread([&] { other = threadSelf(); }).join();
  EXPECT_GT(other, 0);
  EXPECT_NE(other, getpid());
}

}  // namespace
}  // namespace sys
