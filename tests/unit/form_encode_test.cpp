#include "text/encoding.h"
#include "text/request.h"
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace zv {
namespace {

TEST(FormEncodeTest, NamesAndReservedCharacters) {
  EXPECT_EQ(form_encode(u"My Song (1).mp3", 0), "My+Song+(1).mp3");
  EXPECT_EQ(form_encode(u"a&b=c", 0), "a%26b%3Dc");
  EXPECT_EQ(form_encode(u"50%", 0), "50%25");
  EXPECT_EQ(form_encode(u"a+b", 0), "a%2Bb");
  EXPECT_EQ(form_encode(u"#ff8000", 0), "%23ff8000");
  EXPECT_EQ(form_encode(u"AZaz09-_.!~*'()", 0), "AZaz09-_.!~*'()");
  EXPECT_EQ(form_encode(u"/\\:;,?$@", 0), "%2F%5C%3A%3B%2C%3F%24%40");
  EXPECT_EQ(form_encode(u"\t\r\n\"<>[]{}|^`", 0), "%09%0D%0A%22%3C%3E%5B%5D%7B%7D%7C%5E%60");
  EXPECT_EQ(form_encode(u"\x7F", 0), "%7F");
}

TEST(FormEncodeTest, EachUnitBecomesItsUtf8Escapes) {
  EXPECT_EQ(form_encode(u"\u00E9", 0), "%C3%A9");
  EXPECT_EQ(form_encode(u"\u0416", 0), "%D0%96");
  EXPECT_EQ(form_encode(u"\u20AC", 0), "%E2%82%AC");
  EXPECT_EQ(form_encode(u"\u0080\u07FF\u0800\uFFFF", 0), "%C2%80%DF%BF%E0%A0%80%EF%BF%BF");
  // A surrogate pair is encoded unit by unit, not as one four-byte character.
  EXPECT_EQ(form_encode(u"\xD83D\xDE00", 0), "%ED%A0%BD%ED%B8%80");
}

TEST(FormEncodeTest, Counts) {
  EXPECT_EQ(form_encode(u"", 0), "");
  EXPECT_EQ(form_encode(u"abc", 2), "ab");
  EXPECT_EQ(form_encode(u"abc", -1), "abc");
  EXPECT_EQ(form_encode(u"a\0b", 3), "a%00b");
  // The worst case, nine bytes a unit, fits.
  const std::u16string wide(3000, u'\uFFFF');
  EXPECT_EQ(form_encode(wide.c_str(), 0).size(), 9u * 3000u);
}

TEST(FormEncodeTest, Utf8Input) {
  EXPECT_EQ(form_encode_utf8("\xC3\xA9", 0), "%C3%A9");
  EXPECT_EQ(form_encode_utf8("Rock & Roll", 0), "Rock+%26+Roll");
  EXPECT_EQ(form_encode_utf8("\xF0\x9F\x98\x80", 0), "%ED%A0%BD%ED%B8%80");
  EXPECT_EQ(form_encode_utf8("abc", 2), "ab");
  // Malformed: U+FFFD on Windows; a name's stray byte as itself elsewhere.
  EXPECT_EQ(form_encode_utf8("\xFF", 0), NAMES_ARE_BYTES ? "%FF" : "%EF%BF%BD");
  EXPECT_EQ(form_encode_utf8("", 0), std::nullopt);
}

// What the script receives must decode back to the name that was encoded.
TEST(FormEncodeTest, DecodesBackToTheUtf8Name) {
  for (const char16_t* name : {u"My Song (1).mp3", u"Rock & Roll/50% = \u00BD", u"\u041C\u0443\u0437\u044B\u043A\u0430 \u20AC",
                               u"a+b c", u"\u3042\uFF21~*'"}) {
    std::string encoded = form_encode(name, 0);
    for (char& c : encoded) {
      if (c == '+') c = ' ';
    }
    EXPECT_EQ(percent_decode(encoded.c_str(), 0), wide_to_utf8(name, -1)) << encoded;
  }
}

}  // namespace
}  // namespace zv
