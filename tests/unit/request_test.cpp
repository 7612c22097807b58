#include "text/request.h"
#include "platform/codepage.h"

#include "text/encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace zv {
namespace {

// The received bytes exactly as a connection holds them: no terminator after
// the count, so a read past it shows up under AddressSanitizer.
struct Received {
  explicit Received(const std::string& text) : bytes(text.begin(), text.end()) {}
  const char* data() const { return bytes.data(); }
  int count() const { return static_cast<int>(bytes.size()); }
  std::vector<char> bytes;
};

std::optional<std::u16string> path_of(const std::string& request) {
  Received r(request);
  return request_path(r.data(), r.count());
}

std::optional<std::string> query_of(const std::string& request) {
  Received r(request);
  return query_text(r.data(), r.count());
}

TEST(FindNoCaseTest, FoldsAsciiOnly) {
  EXPECT_EQ(find_no_case("xx GeT /a", "get /", 0, 0), 3);
  EXPECT_EQ(find_no_case("get /", "GET /", 0, 0), 0);
  // Latin-1 capital and small A-umlaut, and their UTF-8 forms, stay distinct.
  EXPECT_EQ(find_no_case("\xC4", "\xE4", 0, 0), std::nullopt);
  EXPECT_EQ(find_no_case("\xC3\x84", "\xC3\xA4", 0, 0), std::nullopt);
  EXPECT_EQ(find_no_case("[@`{", "{", 0, 0), 3);  // neighbours of the letters are not folded
  EXPECT_EQ(find_no_case("@", "`", 0, 0), std::nullopt);
}

TEST(FindNoCaseTest, ABrokenPartialMatchIsNotRescanned) {
  EXPECT_EQ(find_no_case("get get /x", "get /", 0, 0), std::nullopt);
  EXPECT_EQ(find_no_case("GGET /x", "get /", 0, 0), std::nullopt);
  EXPECT_EQ(find_no_case("aab", "ab", 0, 0), std::nullopt);
  // Found when preceded by a character that is not in the key.
  EXPECT_EQ(find_no_case("get xget /x", "get /", 0, 0), 5);
  EXPECT_EQ(find_no_case("aab", "ab", 1, 0), 1);  // ... or when the scan starts there
}

TEST(FindNoCaseTest, StartAndLimit) {
  EXPECT_EQ(find_no_case("abcabc", "abc", 1, 0), 3);
  EXPECT_EQ(find_no_case("abcabc", "abc", 0, 5), 0);
  EXPECT_EQ(find_no_case("xxabc", "abc", 0, 4), std::nullopt);  // the match would end past the limit
  EXPECT_EQ(find_no_case("abc", "abc", -1, 0), std::nullopt);
  EXPECT_EQ(find_no_case("abc", "", 0, 0), std::nullopt);
  EXPECT_EQ(find_no_case("", "a", 0, 0), std::nullopt);
  EXPECT_EQ(find_no_case("ab", "abc", 0, 0), std::nullopt);
  EXPECT_EQ(find_no_case("abcdef", "ef", 10, 0), std::nullopt);
  // The limit bounds the scan even without a terminator.
  const char unterminated[4] = {'G', 'E', 'T', ' '};
  EXPECT_EQ(find_no_case(unterminated, "t ", 0, 4), 2);
}

TEST(FindNoCaseTest, WideScan) {
  EXPECT_EQ(find_no_case_wide(u"x=1&RECURSIVE=", u"recursive", 0, 0), 4);
  EXPECT_EQ(find_no_case_wide(u"\u00C4B", u"\u00E4b", 0, 0), std::nullopt);
  EXPECT_EQ(find_no_case_wide(u"GGET /", u"get /", 0, 0), std::nullopt);
  EXPECT_EQ(find_no_case_wide(nullptr, u"a", 0, 0), std::nullopt);
  EXPECT_EQ(find_no_case_wide(u"a", nullptr, 0, 0), std::nullopt);
  EXPECT_EQ(find_no_case_wide(u"abc", u"c", 0, 2), std::nullopt);
}

TEST(RequestPathTest, PathOfTheRequestLine) {
  EXPECT_EQ(path_of("GET /index.php HTTP/1.0\r\n\r\n"), u"index.php");
  EXPECT_EQ(path_of("GET /playlist.php?item0=5 HTTP/1.0\r\n"), u"playlist.php");
  EXPECT_EQ(path_of("get /tools/a.php HTTP/1.0\r\n"), u"tools/a.php");
  EXPECT_EQ(path_of("gEt /A.PHP?x=1"), u"A.PHP");
  EXPECT_EQ(path_of("GET /a%20b.php HTTP/1.0"), u"a%20b.php");  // not decoded
  // Ends at CR or LF as well, so a line without a protocol part still works.
  EXPECT_EQ(path_of("GET /x.php\r\nHost: y\r\n"), u"x.php");
  EXPECT_EQ(path_of("GET /x.php\nHost: y\n"), u"x.php");
  EXPECT_EQ(path_of("GET /x.php"), u"x.php");
}

TEST(RequestPathTest, NoPath) {
  EXPECT_EQ(path_of("GET / HTTP/1.0\r\n"), std::nullopt);
  EXPECT_EQ(path_of("GET /?x=1 HTTP/1.0\r\n"), std::nullopt);
  EXPECT_EQ(path_of("POST /a.php HTTP/1.0\r\n\r\n"), std::nullopt);
  EXPECT_EQ(path_of("GGET /a.php HTTP/1.0"), std::nullopt);
  EXPECT_EQ(path_of(""), std::nullopt);
  EXPECT_EQ(request_path("GET /a.php", 0), std::nullopt);
  EXPECT_EQ(request_path("GET /a.php", 4), std::nullopt);  // "GET " has no "get /"
}

TEST(RequestPathTest, GetAnywhereInTheBytesCounts) {
  EXPECT_EQ(path_of("POST /a.php HTTP/1.0\r\n\r\nx=get /b.php"), u"b.php");
}

TEST(RequestPathTest, CountEndsThePath) {
  const std::string line = "gEt /A.PHP?x=1";
  Received r(line);
  const int after_path = static_cast<int>(line.find('?'));
  EXPECT_EQ(request_path(r.data(), after_path), u"A.PHP");
  EXPECT_EQ(query_text(r.data(), after_path), std::nullopt);
  EXPECT_EQ(request_path(r.data(), 7), u"A.");
}

TEST(RequestPathTest, HighBytesAreReadInTheAnsiCodePage) {
  const std::string name = "caf\xC3\xA9\xFF.php";
  EXPECT_EQ(path_of("GET /" + name + " HTTP/1.0"), ansi_to_wide(name.c_str(), -1));
  const std::string nul_path("GET /a\0b.php HTTP/1.0", 21);
  const std::optional<std::u16string> p = path_of(nul_path);
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(*p, u"a");  // the path ends at its first NUL, as the interpreter reads it
}

TEST(QueryTest, QueryText) {
  EXPECT_EQ(query_of("GET /x.php?dir=c%3A%5Cmusic&recursive=1 HTTP/1.0\r\n"), "dir=c%3A%5Cmusic&recursive=1");
  EXPECT_EQ(query_of("gEt /A.PHP?x=1"), "x=1");
  EXPECT_EQ(query_of("GET /a.php?b=1?c=2 HTTP/1.0"), "b=1?c=2");
  EXPECT_EQ(query_of("GET /a.php?b=1\r\nHost: x"), "b=1");
  EXPECT_EQ(query_of("GET /a.php?b=1\nHost: x"), "b=1");
  EXPECT_EQ(query_of("GET /?b=1 HTTP/1.0"), "b=1");  // a query without a path
  EXPECT_EQ(query_of("GET /index.php HTTP/1.0"), std::nullopt);
  EXPECT_EQ(query_of("GET /index.php? HTTP/1.0"), std::nullopt);
  EXPECT_EQ(query_of("GET /index.php HTTP/1.0?x=1"), std::nullopt);  // only from the target
  EXPECT_EQ(query_of("POST /a.php?x=1 HTTP/1.0"), std::nullopt);
  EXPECT_EQ(query_of(""), std::nullopt);
}

TEST(QueryTest, QueryRange) {
  Received r("GET /a.php?x=1 HTTP/1.0");
  const QueryRange range = query_range(r.data(), r.count());
  EXPECT_EQ(range.start, 11);
  EXPECT_EQ(range.length, 3);

  Received empty("GET /index.php? HTTP/1.0");
  const QueryRange empty_range = query_range(empty.data(), empty.count());
  EXPECT_EQ(empty_range.start, 15);
  EXPECT_EQ(empty_range.length, 0);

  Received none("GET /index.php HTTP/1.0");
  EXPECT_EQ(query_range(none.data(), none.count()).start, 0);
  EXPECT_EQ(query_range(none.data(), 0).start, 0);

  Received at_end("GET /a.php?xy");  // the query runs to the count
  EXPECT_EQ(query_range(at_end.data(), at_end.count()).length, 2);
}

TEST(QueryParamTest, KeyMustStandAtTheStartOrAfterAmpersand) {
  const char* query = "is_ads=1&add_dir=d%3A%5Csongs";
  EXPECT_EQ(query_param("add_dir", query), u"d:\\songs");
  EXPECT_EQ(query_param("ads", query), std::nullopt);
  EXPECT_EQ(query_param("is_ads", query), u"1");
  EXPECT_EQ(query_param("dir", "xdir=1&dir=2"), u"2");
  EXPECT_EQ(query_param("dir", "dirx=1&dir=2"), u"2");
  EXPECT_EQ(query_param("dir", "DIR=x"), u"x");
  EXPECT_EQ(query_param("dir", "dir"), std::nullopt);
  EXPECT_EQ(query_param("dir", "x=dir&dir=3"), u"3");
}

TEST(QueryParamTest, EmptyOrMissingGivesNone) {
  EXPECT_EQ(query_param("dir", "dir=&x=1"), std::nullopt);
  EXPECT_EQ(query_param("dir", "x=1&dir="), std::nullopt);
  EXPECT_EQ(query_param("dir", ""), std::nullopt);
  EXPECT_EQ(query_param("", "dir=1"), std::nullopt);
  EXPECT_EQ(query_param(nullptr, "dir=1"), std::nullopt);
  EXPECT_EQ(query_param("dir", nullptr), std::nullopt);
}

TEST(QueryParamTest, ValueIsDecodedAndReadAsUtf8) {
  EXPECT_EQ(query_param("dir", "dir=a+b"), u"a+b");
  EXPECT_EQ(query_param("dir", "dir=%41%62"), u"Ab");
  EXPECT_EQ(query_param("dir", "dir=%c3%a9"), u"\u00E9");
  EXPECT_EQ(query_param("dir", "dir=%F0%9F%98%80"), u"\U0001F600");
  EXPECT_EQ(query_param("dir", "dir=a%00b"), u"a");
  EXPECT_EQ(query_param("dir", "dir=1&dir=2"), u"1");
  EXPECT_EQ(query_param("dir", "dir=a%26b&x=1"), u"a&b");
  EXPECT_EQ(query_param("dir", "dir=a=b&x"), u"a=b");
  EXPECT_EQ(query_param("dir", "dir=%ff"), NAMES_ARE_BYTES ? u"\xDCFF" : u"\uFFFD");  // a name's stray byte
}

TEST(QueryParamTest, PercentAtTheEndOfAValueStaysInsideIt) {
  // The escape may not swallow the "&" and the next parameter.
  std::optional<std::u16string> v = query_param("dir", "dir=ab%&x=1");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->substr(0, 2), u"ab");
  EXPECT_EQ(v->find(u"x=1"), std::u16string::npos);
  v = query_param("dir", "dir=ab%4&x=1");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->substr(0, 2), u"ab");
  EXPECT_EQ(v->find(u'x'), std::u16string::npos);
  EXPECT_EQ(query_param("x", "dir=ab%4&x=1"), u"1");
  v = query_param("dir", "dir=%");
  if (v) {
    EXPECT_LE(v->size(), 1u);
  }
}

TEST(QueryParamTest, ThousandsOfAmpersands) {
  const std::string query = std::string(20000, '&') + "dir=x" + std::string(20000, '&');
  EXPECT_EQ(query_param("dir", query.c_str()), u"x");
  EXPECT_EQ(query_param("add_dir", query.c_str()), std::nullopt);
}

TEST(QueryParamWideTest, RawValueAndEmptyValue) {
  EXPECT_EQ(query_param_wide(u"recursive", u"recursive=&x=1"), u"");
  EXPECT_EQ(query_param_wide(u"recursive", u"dir=a&recursive=0"), u"0");
  EXPECT_EQ(query_param_wide(u"recursive", u"dir=a&Recursive=1"), u"1");
  EXPECT_EQ(query_param_wide(u"recursive", u"recursive"), std::nullopt);
  EXPECT_EQ(query_param_wide(u"recursive", u"x=1&recursive"), std::nullopt);
  EXPECT_EQ(query_param_wide(u"recursive", u"nonrecursive=1"), std::nullopt);
  EXPECT_EQ(query_param_wide(u"dir", u"dir=a%20b+c&x"), u"a%20b+c");
  EXPECT_EQ(query_param_wide(u"dir", nullptr), std::nullopt);
  EXPECT_EQ(query_param_wide(nullptr, u"dir=1"), std::nullopt);
  EXPECT_EQ(query_param_wide(u"", u"dir=1"), std::nullopt);
}

TEST(PercentDecodeTest, Escapes) {
  EXPECT_EQ(percent_decode("a+b", 0), "a+b");
  EXPECT_EQ(percent_decode("%41%62", 0), "Ab");
  EXPECT_EQ(percent_decode("%4a%4A", 0), "JJ");
  EXPECT_EQ(percent_decode("a%00b", 0), std::string("a\0b", 3));
  EXPECT_EQ(percent_decode("%41%42", 3), "A");
  EXPECT_EQ(percent_decode("abc", 2), "ab");
}

TEST(PercentDecodeTest, NonHexDigitsStillGiveAValue) {
  EXPECT_EQ(percent_decode("%gg", 0), std::string(1, '\0'));  // g gives 0
  EXPECT_EQ(percent_decode("%zZ", 0), "\x33");                // z gives 3
  EXPECT_EQ(percent_decode("%G1", 0), std::string(1, '\x01'));
}

TEST(PercentDecodeTest, MissingOrEmptyGivesNone) {
  EXPECT_EQ(percent_decode(nullptr, 0), std::nullopt);
  EXPECT_EQ(percent_decode("", 0), std::nullopt);
}

TEST(PercentDecodeTest, ShortEscapeAtTheEndReadsNothingPastTheCount) {
  for (const std::string text : {"%", "a%", "a%4", "%%"}) {
    std::vector<char> bytes(text.begin(), text.end());  // no terminator
    const std::optional<std::string> out = percent_decode(bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_TRUE(out.has_value()) << text;
    EXPECT_LE(out->size(), text.size()) << text;
    if (text[0] == 'a') {
      EXPECT_EQ(out->substr(0, 1), "a");
    }
  }
}

TEST(SecretsHidden, AQueryFieldEndingInPasswordShowsItsValueAsStars) {
  EXPECT_EQ(with_secrets_hidden("GET /settings.php?stream_port=8000&stream_password=s3cret&save=Save HTTP/1.1\r\n"
                                "Referer: http://127.0.0.1:8080/settings.php?Stream_Password=x%26y#top\r\n"),
            "GET /settings.php?stream_port=8000&stream_password=***&save=Save HTTP/1.1\r\n"
            "Referer: http://127.0.0.1:8080/settings.php?Stream_Password=***#top\r\n");
  EXPECT_EQ(with_secrets_hidden("GET /a.php?password=a&password=b"), "GET /a.php?password=***&password=***");
  // Only a field's name counts, and an empty value stays as it is.
  for (const char* kept : {"GET /a.php?note=password=x", "GET /a.php?password=&b=1", "X-password=1\r\n"})
    EXPECT_EQ(with_secrets_hidden(kept), kept);
}

}  // namespace
}  // namespace zv
