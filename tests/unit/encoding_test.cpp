#include "text/encoding.h"

#include "platform/codepage.h"
#include "platform/path_style.h"
#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

namespace zv {
namespace {

bool has_lone_surrogate(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return true;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

TEST(ConversionTest, EmptyAndMissingInput) {
  EXPECT_EQ(ansi_to_wide("", -1), std::nullopt);
  EXPECT_EQ(ansi_to_wide("abc", 0), std::nullopt);
  EXPECT_EQ(utf8_to_wide("", -1), u"");
  EXPECT_EQ(utf8_to_wide("abc", 0), std::nullopt);
  EXPECT_EQ(utf8_to_wide(nullptr, -1), std::nullopt);
  EXPECT_EQ(wide_to_utf8(u"", -1), "");
  EXPECT_EQ(wide_to_utf8(u"abc", 0), std::nullopt);
  EXPECT_EQ(wide_to_utf8(nullptr, -1), std::nullopt);
}

TEST(ConversionTest, CountsSelectTheInput) {
  EXPECT_EQ(ansi_to_wide("abc", -1), u"abc");
  EXPECT_EQ(ansi_to_wide("abc", 2), u"ab");
  EXPECT_EQ(utf8_to_wide("\xC3\xA9xyz", 2), u"\u00E9");
  EXPECT_EQ(utf8_to_wide("abc", -1), u"abc");
  EXPECT_EQ(wide_to_utf8(u"abc", 1), "a");
  // A positive count converts exactly that many units, NULs included.
  EXPECT_EQ(utf8_to_wide("a\0b", 3), std::u16string(u"a\0b", 3));
  EXPECT_EQ(wide_to_utf8(u"a\0b", 3), std::string("a\0b", 3));
}

TEST(ConversionTest, Utf8AndUtf16) {
  EXPECT_EQ(wide_to_utf8(u"\u00E9", -1), "\xC3\xA9");
  EXPECT_EQ(wide_to_utf8(u"\u20AC", -1), "\xE2\x82\xAC");
  EXPECT_EQ(wide_to_utf8(u"\u07FF\u0800\uFFFF", -1), "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  EXPECT_EQ(wide_to_utf8(u"\xD83D\xDE00", -1), "\xF0\x9F\x98\x80");
  EXPECT_EQ(wide_to_utf8(u"\U0010FFFF", -1), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(utf8_to_wide("\xF0\x9F\x98\x80", -1), u"\xD83D\xDE00");
  EXPECT_EQ(utf8_to_wide("\xF0\x90\x80\x80", -1), u"\U00010000");
  EXPECT_EQ(utf8_to_wide("\xE2\x82\xAC", -1), u"\u20AC");
}

TEST(ConversionTest, MalformedUtf8BecomesReplacementCharacters) {
  if (NAMES_ARE_BYTES) GTEST_SKIP() << "here such bytes are carried whole (NamesAreBytes)";
  EXPECT_EQ(utf8_to_wide("\xFF", -1), u"\uFFFD");
  EXPECT_EQ(utf8_to_wide("a\xC3", -1), u"a\uFFFD");        // cut short at the end
  EXPECT_EQ(utf8_to_wide("\xC3(", -1), u"\uFFFD(");        // cut short by an ASCII byte
  EXPECT_EQ(utf8_to_wide("\x80x", -1), u"\uFFFDx");        // lone continuation byte

  // Overlong forms never decode to the character they disguise.
  for (const char* overlong : {"\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "\xC1\x81"}) {
    const std::optional<std::u16string> w = utf8_to_wide(overlong, -1);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->find_first_not_of(u'\uFFFD'), std::u16string::npos) << "overlong " << overlong;
  }
  // Sequences cut short, encoded surrogates and code points past U+10FFFF are
  // malformed as well.
  for (const char* bad : {"\xF0\x9F\x98", "\xE2\x82", "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80"}) {
    const std::optional<std::u16string> w = utf8_to_wide(bad, -1);
    ASSERT_TRUE(w.has_value());
    EXPECT_FALSE(w->empty());
    EXPECT_FALSE(has_lone_surrogate(*w));
    EXPECT_EQ(w->find_first_not_of(u'\uFFFD'), std::u16string::npos);
  }
}

TEST(ConversionTest, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(wide_to_utf8(u"\xD800", -1), "\xEF\xBF\xBD");
  EXPECT_EQ(wide_to_utf8(u"\xDC00x", -1), "\xEF\xBF\xBDx");
  EXPECT_EQ(wide_to_utf8(u"a\xD83D", -1), "a\xEF\xBF\xBD");
  EXPECT_EQ(wide_to_utf8(u"\xDE00\xD83D", -1), "\xEF\xBF\xBD\xEF\xBF\xBD");  // reversed pair
  EXPECT_EQ(wide_to_utf8(u"\xD83D\xDE00", 1), "\xEF\xBF\xBD");  // pair cut by the count
}

TEST(ConversionTest, AnsiCodePage) {
  // High bytes become whatever the system's ANSI code page assigns: never
  // dropped, never a surrogate half.
  const std::optional<std::u16string> w = ansi_to_wide("a\xE9z", -1);
  ASSERT_TRUE(w.has_value());
  EXPECT_EQ(w->front(), u'a');
  EXPECT_EQ(w->back(), u'z');
#ifdef _WIN32
  EXPECT_FALSE(has_lone_surrogate(*w));
#else
  // Here the ANSI code page is UTF-8.
  EXPECT_EQ(ansi_to_wide("caf\xC3\xA9", -1), u"caf\u00E9");
  EXPECT_EQ(w, u"a\xDCE9z");
#endif
}

// A name that is not UTF-8 comes back from UTF-16 with the bytes it had:
// each stray byte is one unit U+DC80..U+DCFF, and never looks like ASCII.
TEST(ConversionTest, NamesAreBytes) {
  if (!NAMES_ARE_BYTES) GTEST_SKIP() << "names on this platform are UTF-16 already";
  EXPECT_EQ(utf8_to_wide("caf\xE9.mp3", -1), u"caf\xDCE9.mp3");
  EXPECT_EQ(utf8_to_wide("\xE2\x82x", -1), u"\xDCE2\xDC82x");
  EXPECT_EQ(utf8_to_wide("\xEF\xBF\xBD", -1), u"\uFFFD");  // a real U+FFFD stays one
  for (const std::string bad : {"\xFF", "a\xC3", "\xC3(", "\x80x", "\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",
                                "\xF0\x9F\x98", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "bad\xFE\xFF"}) {
    const std::optional<std::u16string> w = utf8_to_wide(bad.data(), static_cast<int>(bad.size()));
    ASSERT_TRUE(w.has_value()) << bad;
    EXPECT_EQ(w->size(), bad.size()) << bad;
    for (std::size_t i = 0; i < w->size(); ++i) {
      const auto byte = static_cast<unsigned char>(bad[i]);
      EXPECT_EQ((*w)[i], byte < 0x80 ? byte : 0xDC00 + byte) << bad;
    }
    EXPECT_EQ(wide_to_utf8(w->data(), static_cast<int>(w->size())), bad);
  }
  // Only a unit that does not close a pair carries a byte.
  EXPECT_EQ(wide_to_utf8(u"\xDCFF", -1), "\xFF");
  EXPECT_EQ(wide_to_utf8(u"\xD800\xDC80\xDC80", -1), "\xF0\x90\x82\x80\x80");
  EXPECT_EQ(wide_to_utf8(u"\xDC7F\xDD00", -1), "\xEF\xBF\xBD\xEF\xBF\xBD");
  // The listing and the playlist hand the same bytes to the script.
  EXPECT_EQ(form_encode(u"bad\xDCFF \xDCFE", 0), "bad%FF+%FE");
  EXPECT_EQ(form_encode(u"\xD800\xDC80", 0), "%ED%A0%80%ED%B2%80");
  EXPECT_EQ(form_encode_utf8("caf\xE9.mp3", 0), "caf%E9.mp3");
}

TEST(ConversionTest, RoundTripOfEveryBasicPlaneCharacter) {
  std::u16string all;
  for (char32_t c = 1; c < 0x10000; ++c) {
    if (c < 0xD800 || c > 0xDFFF) all.push_back(static_cast<char16_t>(c));
  }
  all += u"\U0001F600\U0010FFFF";
  const std::optional<std::string> narrow = wide_to_utf8(all.c_str(), -1);
  ASSERT_TRUE(narrow.has_value());
  EXPECT_EQ(utf8_to_wide(narrow->c_str(), -1), all);
  EXPECT_EQ(utf8_to_wide(narrow->data(), static_cast<int>(narrow->size())), all);
}

// The decoder the conversions and the player's on-air file share: the length
// of a well-formed sequence, 0 for anything else, never reading past `left`.
TEST(Utf8Test, DecodesOnlyWellFormedSequences) {
  const auto length = [](std::string bytes, std::size_t left) {
    char32_t value = 0;
    return utf8_decode(reinterpret_cast<const unsigned char*>(bytes.data()), left, value);
  };
  EXPECT_EQ(length("\xF0\x9F\x8E\xB5", 4), 4);
  EXPECT_EQ(length("\xF0\x9F\x8E\xB5", 3), 0);  // cut short by the end of the text
  EXPECT_EQ(length("\xC3\xA9", 2), 2);
  EXPECT_EQ(length("a", 0), 0);
  for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xF5\x80\x80\x80"}) {
    EXPECT_EQ(length(bad, std::strlen(bad)), 0) << bad;
  }
  for (const char32_t c : {U'\u007F', U'\u0080', U'\u07FF', U'\u0800', U'\uFFFF', U'\U00010000', U'\U0010FFFF'}) {
    unsigned char bytes[4];
    const int n = utf8_encode(c, bytes);
    char32_t back = 0;
    EXPECT_EQ(utf8_decode(bytes, static_cast<std::size_t>(n), back), n);
    EXPECT_EQ(back, c);
  }
}

TEST(FolderPathTest, BackslashForm) {
  EXPECT_EQ(folder_path_backslash(u"c:/music//rock"), u"c:\\music\\rock\\");
  EXPECT_EQ(folder_path_backslash(u"d:\\"), u"d:\\");
  EXPECT_EQ(folder_path_backslash(u"songs"), u"songs\\");
  EXPECT_EQ(folder_path_backslash(u"\\\\server\\share"), u"\\server\\share\\");
  EXPECT_EQ(folder_path_backslash(u"/"), u"\\");
  EXPECT_EQ(folder_path_backslash(u"x//y\\\\\\z"), u"x\\y\\z\\");
  EXPECT_EQ(folder_path_backslash(u"a/\\/"), u"a\\");
  EXPECT_EQ(folder_path_backslash(u"M\u00FCsik"), u"M\u00FCsik\\");
  EXPECT_EQ(folder_path_backslash(u""), std::nullopt);
  EXPECT_EQ(folder_path_backslash(nullptr), std::nullopt);
}

TEST(FolderPathTest, SlashForm) {
  EXPECT_EQ(folder_path_slash(u"c:/music//rock"), u"c:/music/rock/");
  EXPECT_EQ(folder_path_slash(u"d:\\"), u"d:/");
  EXPECT_EQ(folder_path_slash(u"songs"), u"songs/");
  EXPECT_EQ(folder_path_slash(u"\\\\server\\share\\\\"), u"/server/share/");
  EXPECT_EQ(folder_path_slash(u"\\"), u"/");
  EXPECT_EQ(folder_path_slash(u""), std::nullopt);
  EXPECT_EQ(folder_path_slash(nullptr), std::nullopt);
}

TEST(FolderPathTest, NativeFormUsesThePlatformSeparator) {
  const std::optional<std::u16string> p = folder_path_native(u"srv\\\\music//rock");
  ASSERT_TRUE(p.has_value());
  const std::u16string sep(1, FOLDER_SEPARATOR);
  EXPECT_EQ(*p, u"srv" + sep + u"music" + sep + u"rock" + sep);
  EXPECT_EQ(folder_path_native(u""), std::nullopt);
}

}  // namespace
}  // namespace zv
