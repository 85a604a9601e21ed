#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/files/file_ops.h"
#include "support/temp_dir.h"

namespace files {
namespace {

using testing_support::TempDir;

const std::string kEmoji = "\xF0\x9F\x98\x80";           // U+1F600
const std::string kCyrillicChest = "\xD0\xA1hest Size";  // begins with U+0421

void putBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string bytesOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(TextFiles, WritesUtf16LittleEndianAfterTheByteOrderMark) {
  TempDir dir;
  ASSERT_TRUE(writeText(dir / "backUp.vers", "0", TextEncoding::Utf16));
  EXPECT_EQ(bytesOf(dir / "backUp.vers"), std::string("\xFF\xFE\x30\x00", 4));
  ASSERT_TRUE(writeText(dir / "emoji.txt", "a" + kEmoji, TextEncoding::Utf16));
  EXPECT_EQ(bytesOf(dir / "emoji.txt"), std::string("\xFF\xFE"
                                                    "a\x00"
                                                    "\x3D\xD8\x00\xDE",
                                                    8));
  ASSERT_TRUE(writeText(dir / "empty.txt", "", TextEncoding::Utf16));
  EXPECT_EQ(bytesOf(dir / "empty.txt"), "\xFF\xFE");
  EXPECT_EQ(readText(dir / "emoji.txt").value(), "a" + kEmoji);
  EXPECT_EQ(readText(dir / "empty.txt").value(), "");
}

TEST(TextFiles, WritesUtf8WithoutAMark) {
  TempDir dir;
  ASSERT_TRUE(writeText(dir / "u8.txt", kCyrillicChest, TextEncoding::Utf8));
  EXPECT_EQ(bytesOf(dir / "u8.txt"), kCyrillicChest);
  EXPECT_EQ(readText(dir / "u8.txt").value(), kCyrillicChest);
}

TEST(TextFiles, ReadsEitherByteOrderAndTheUtf8Mark) {
  TempDir dir;
  putBytes(dir / "be.txt", std::string("\xFE\xFF\x00\x32\x00\x30\xD8\x3D\xDE\x00\x04\x21", 12));
  EXPECT_EQ(readText(dir / "be.txt").value(), "20" + kEmoji + "\xD0\xA1");
  putBytes(dir / "le.txt", std::string("\xFF\xFE\x32\x00\x30\x00\x3D\xD8\x00\xDE\x21\x04", 12));
  EXPECT_EQ(readText(dir / "le.txt").value(), "20" + kEmoji + "\xD0\xA1");
  putBytes(dir / "bom8.txt",
           "\xEF\xBB\xBF"
           "2014.05.03");
  EXPECT_EQ(readText(dir / "bom8.txt").value(), "2014.05.03");
  putBytes(dir / "empty.txt", "");
  EXPECT_EQ(readText(dir / "empty.txt").value(), "");
}

TEST(TextFiles, RefusesTextThatDoesNotDecode) {
  TempDir dir;
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"odd.txt", std::string("\xFF\xFE\x30\x00\x31", 5)},  // odd byte count
      {"odd-be.txt", std::string("\xFE\xFF\x00", 3)},
      {"lone-high.txt", std::string("\xFF\xFE\x3D\xD8\x41\x00", 6)},  // high surrogate, then "A"
      {"lone-low.txt", std::string("\xFE\xFF\xDE\x00", 4)},
      {"unmarked.txt", std::string("\x30\x00\x31\x00", 4)},  // UTF-16 without its mark
      {"nul.txt", std::string("\xFF\xFE\x00\x00", 4)},
      {"bad8.txt", "caf\xE9"},  // Latin-1, not UTF-8
      {"bad8-bom.txt", "\xEF\xBB\xBF\xC0\xAF"},
  };
  for (const auto& c : cases) {
    putBytes(dir / c.name, c.bytes);
    const auto read = readText(dir / c.name);
    ASSERT_FALSE(read) << c.name;
    EXPECT_EQ(read.error().domain, "NSCocoaErrorDomain");
    EXPECT_EQ(read.error().code, kReadInapplicableStringEncodingError) << c.name;
    EXPECT_EQ(read.error().userInfo[foundation::Error::kFilePathKey].stringOr(""), (dir / c.name).string());
  }
}

TEST(TextFiles, ReportsMissingFilesAndRefusesToWriteMalformedText) {
  TempDir dir;
  const auto missing = readText(dir / "firstLaunch.txt");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, kReadNoSuchFileError);
  for (const auto encoding : {TextEncoding::Utf8, TextEncoding::Utf16}) {
    const auto bad = writeText(dir / "bad.txt", "ok\xFF", encoding);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().code, kWriteInapplicableStringEncodingError);
    EXPECT_EQ(bad.error().userInfo[foundation::Error::kFilePathKey].stringOr(""), (dir / "bad.txt").string());
    EXPECT_FALSE(files::exists(dir / "bad.txt"));
  }
  putBytes(dir / "kept.txt", "kept");
  EXPECT_FALSE(writeText(dir / "kept.txt", "\xED\xA0\x80", TextEncoding::Utf16));
  EXPECT_EQ(bytesOf(dir / "kept.txt"), "kept");
}

}  // namespace
}  // namespace files
