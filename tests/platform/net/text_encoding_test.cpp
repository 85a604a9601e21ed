// Character sets of replies: the charset of a "Content-Type", the sets its names stand for, and
// text in them read back as UTF-8, strictly.
#include "platform/net/text_encoding.h"

#include <gtest/gtest.h>

#include "platform/net/http.h"

namespace net {
namespace {

TEST(ContentTypeCharset, ParametersQuotedOrNot) {
  struct Case {
    std::string contentType;
    std::optional<std::string> charset;
  };
  const Case cases[] = {
      {"text/plain; charset=ISO-8859-1", "ISO-8859-1"},
      {"text/html; CHARSET = \"latin1\" ", "latin1"},
      {"text/plain; format=flowed; charset=windows-1252; delsp=yes", "windows-1252"},
      {"text/plain; name=\"a;charset=koi8-r\"; charset=utf-8", "utf-8"},
      {"text/plain; charset=\"we\\\"ird\"", "we\"ird"},
      {"text/plain; charset=\"unterminated", "unterminated"},
      {"text/plain; charset=", std::nullopt},
      {"text/plain; charset", std::nullopt},
      {"text/plain; xcharset=utf-8", std::nullopt},
      {"text/plain", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(charsetOfContentType(c.contentType), c.charset) << c.contentType;

  HttpResponse response;
  EXPECT_EQ(response.textEncodingName(), std::nullopt);
  response.headers = {{"content-type", "text/plain; charset=\"Shift_JIS\""}};
  EXPECT_EQ(response.textEncodingName(), "Shift_JIS");
}

TEST(StringEncodingNames, IanaNamesAndAliasesOnly) {
  struct Case {
    std::string name;
    std::optional<std::string> canonical;  // nothing: not recognised
  };
  const Case cases[] = {
      {"UTF-8", "UTF-8"},
      {"ISO-8859-1", "ISO-8859-1"},
      {"latin1", "ISO-8859-1"},
      {"ISO_8859-1:1987", "ISO-8859-1"},
      {"US-ASCII", "US-ASCII"},
      {"no-such-charset", std::nullopt},
      {"", std::nullopt},
      // Converter options and over-long names never reach the lookup.
      {"UTF-16,version=1", std::nullopt},
      {"ISO-8859-1,swaplfnl", std::nullopt},
      {std::string(41, 'a'), std::nullopt},
      {"utf 8", std::nullopt},
  };
  for (const Case& c : cases) {
    auto encoding = StringEncoding::forIANACharSetName(c.name);
    EXPECT_EQ(encoding ? std::optional(encoding->name()) : std::nullopt, c.canonical) << c.name;
  }
  // Two names of one set are the same encoding.
  EXPECT_EQ(StringEncoding::forIANACharSetName("cp1252"), StringEncoding::forIANACharSetName("windows-1252"));
  EXPECT_EQ(StringEncoding::forIANACharSetName("UTF8"), StringEncoding::utf8());
}

TEST(StringEncodingDecode, ValidTextBecomesUtf8AndInvalidBytesFail) {
  struct Case {
    std::string charset;
    std::string bytes;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {"ISO-8859-1", "caf\xE9 \xFF", "caf\xC3\xA9 \xC3\xBF"},
      {"windows-1252", "\x80 \x93q\x94", "\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D"},
      {"KOI8-R", "\xC4\xC5\xCE\xD8", "\xD0\xB4\xD0\xB5\xD0\xBD\xD1\x8C"},
      {"Shift_JIS", "\x82\xA0", "\xE3\x81\x82"},
      {"UTF-16LE", std::string("h\0i\0", 4), "hi"},
      {"UTF-16BE", std::string("\xD8\x3D\xDE\x00", 4), "\xF0\x9F\x98\x80"},
      {"UTF-8", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"UTF-8", "", ""},
      // Bytes the set does not define are not guessed at.
      {"UTF-8", "caf\xE9", std::nullopt},
      {"US-ASCII", "caf\xE9", std::nullopt},
      {"Shift_JIS", "\x82", std::nullopt},
      {"UTF-16LE", std::string("\x00\xD8", 2), std::nullopt},
  };
  for (const Case& c : cases) {
    auto encoding = StringEncoding::forIANACharSetName(c.charset);
    ASSERT_TRUE(encoding) << c.charset;
    EXPECT_EQ(encoding->decode(c.bytes), c.text) << c.charset << " " << c.bytes;
  }
}

}  // namespace
}  // namespace net
