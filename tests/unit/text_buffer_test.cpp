#include "text/text_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace zv {
namespace {

std::string content(const TextBuffer& b) { return std::string(b.data(), b.length()); }
std::u16string content(const WideTextBuffer& b) { return std::u16string(b.data(), b.length()); }

// Every buffer that has storage keeps its content terminated inside the block.
template <typename Buffer>
void expect_terminated(const Buffer& b) {
  ASSERT_NE(b.data(), nullptr);
  EXPECT_LT(b.length(), b.capacity());
  EXPECT_EQ(b.data()[b.length()], 0);
}

TEST(TextBufferTest, ConstructionGivesAtLeast520AndScalesTheRequest) {
  TextBuffer empty;
  EXPECT_EQ(empty.capacity(), 520u);
  EXPECT_EQ(empty.length(), 0u);
  expect_terminated(empty);
  EXPECT_STREQ(empty.data(), "");

  TextBuffer small(100);  // 150 is under the minimum
  EXPECT_EQ(small.capacity(), 520u);

  WideTextBuffer environment(6500);  // the handler's environment block
  EXPECT_EQ(environment.capacity(), 9750u);
  expect_terminated(environment);
}

TEST(TextBufferTest, GrowthAtTheEdgeOfTheFirstBlock) {
  TextBuffer b;
  const std::string first(519, 'a');
  ASSERT_EQ(b.append(first.c_str()), 1);
  EXPECT_EQ(b.capacity(), 520u) << "519 characters and the terminator fill 520 exactly";

  ASSERT_EQ(b.append_char('b'), 1);  // grow(522) -> 783
  EXPECT_EQ(b.capacity(), 783u);
  EXPECT_EQ(b.length(), 520u);
  EXPECT_EQ(content(b), first + "b");
  expect_terminated(b);

  TextBuffer at_once;
  const std::string full(520, 'c');
  ASSERT_EQ(at_once.append(full.c_str(), 520), 1);
  EXPECT_EQ(at_once.capacity(), 783u);
  EXPECT_EQ(content(at_once), full);
}

TEST(TextBufferTest, GrowComparesTheScaledTargetWithTheCapacity) {
  TextBuffer b;
  ASSERT_EQ(b.append("keep"), 1);
  EXPECT_EQ(b.grow(400), 1);  // 600 >= 520: a new block although 400 fits
  EXPECT_EQ(b.capacity(), 600u);
  EXPECT_EQ(content(b), "keep");
  expect_terminated(b);

  EXPECT_EQ(b.grow(300), 1);  // 450 < 600: nothing changes
  EXPECT_EQ(b.capacity(), 600u);

  EXPECT_EQ(b.grow(0), 1);  // 0 means the current capacity: 900
  EXPECT_EQ(b.capacity(), 900u);
  EXPECT_EQ(content(b), "keep");

  EXPECT_EQ(b.reserve(1000), 1);
  EXPECT_EQ(b.capacity(), 1500u);
  expect_terminated(b);
}

TEST(TextBufferTest, EmptyOrMissingTextAppendsNothing) {
  TextBuffer b;
  ASSERT_EQ(b.append("x"), 1);
  EXPECT_EQ(b.append(""), 0);
  EXPECT_EQ(b.append(nullptr), 0);
  EXPECT_EQ(b.append(nullptr, 5), 0);
  EXPECT_EQ(content(b), "x");
  expect_terminated(b);

  WideTextBuffer w;
  EXPECT_EQ(w.append(u""), 0);
  EXPECT_EQ(w.append(nullptr), 0);
  EXPECT_EQ(w.length(), 0u);
}

TEST(TextBufferTest, CountedAppendsKeepNulCharacters) {
  TextBuffer b;
  ASSERT_EQ(b.append("ab", 3), 1);  // the terminator comes along
  EXPECT_EQ(b.length(), 3u);
  ASSERT_EQ(b.append_char(0), 1);
  ASSERT_EQ(b.append("c\0d", 3), 1);
  EXPECT_EQ(content(b), std::string("ab\0\0c\0d", 7));
  expect_terminated(b);

  // The environment block is built this way: "A=1", NUL, "B=2", NUL, NUL.
  WideTextBuffer env;
  ASSERT_EQ(env.append(u"A=1"), 1);
  ASSERT_EQ(env.append(u"", 1), 1);
  ASSERT_EQ(env.append(u"B=2", 4), 1);
  ASSERT_EQ(env.append(u"", 1), 1);
  EXPECT_EQ(content(env), std::u16string(u"A=1\0B=2\0\0", 9));
}

TEST(TextBufferTest, CountedAppendCopiesOnlyCountCharacters) {
  TextBuffer b;
  const char unterminated[3] = {'x', 'y', 'z'};
  ASSERT_EQ(b.append(unterminated, 2), 1);
  EXPECT_EQ(content(b), "xy");
  expect_terminated(b);
}

TEST(TextBufferTest, NumberAppends) {
  TextBuffer b;
  for (int v : {0, 15, 16, 255, 10, 171}) ASSERT_EQ(b.append_hex_byte(v), 1);
  EXPECT_EQ(content(b), "000f10ff0aab");

  TextBuffer n;
  n.append_int(-42);
  n.append_char('|');
  n.append_long(0);
  n.append_char('|');
  n.append_int(INT32_MIN);
  n.append_char('|');
  n.append_long(INT32_MAX);
  n.append_char('|');
  n.append_int(1000);
  EXPECT_EQ(content(n), "-42|0|-2147483648|2147483647|1000");

  WideTextBuffer w;
  ASSERT_EQ(w.append(u"CONTENT_LENGTH="), 1);
  ASSERT_EQ(w.append_long(131072), 1);
  EXPECT_EQ(content(w), u"CONTENT_LENGTH=131072");
}

TEST(TextBufferTest, WideTruncateAndLastChar) {
  WideTextBuffer w;
  EXPECT_EQ(w.last_char(), 0);
  ASSERT_EQ(w.append(u"/srv/music/"), 1);
  EXPECT_EQ(w.last_char(), u'/');
  const std::uint32_t prefix = w.length();
  ASSERT_EQ(w.append(u"song.mp3"), 1);

  w.truncate(w.length());  // not smaller: nothing changes
  w.truncate(w.length() + 10);
  EXPECT_EQ(content(w), u"/srv/music/song.mp3");

  w.truncate(prefix);
  EXPECT_EQ(content(w), u"/srv/music/");
  expect_terminated(w);
  ASSERT_EQ(w.append(u"*.*"), 1);
  EXPECT_EQ(content(w), u"/srv/music/*.*");

  w.truncate(0);
  EXPECT_EQ(w.last_char(), 0);
  expect_terminated(w);
}

TEST(TextBufferTest, ManyAppendsAcrossGrowsKeepTheConcatenation) {
  TextBuffer b;
  WideTextBuffer w;
  std::string expected;
  std::u16string expected_wide;
  std::uint32_t last_capacity = b.capacity();
  for (int i = 0; i < 3000; ++i) {
    std::string piece(static_cast<std::size_t>(i % 37 + 1), static_cast<char>('a' + i % 26));
    if (i % 5 == 0) piece[0] = '\0';
    ASSERT_EQ(b.append(piece.data(), static_cast<std::uint32_t>(piece.size())), 1);
    expected += piece;
    std::u16string wide_piece(piece.begin(), piece.end());
    wide_piece.push_back(static_cast<char16_t>(0xD800 + i % 64));
    ASSERT_EQ(w.append(wide_piece.data(), static_cast<std::uint32_t>(wide_piece.size())), 1);
    expected_wide += wide_piece;
    ASSERT_GE(b.capacity(), last_capacity);
    last_capacity = b.capacity();
    ASSERT_LT(b.length(), b.capacity());
  }
  EXPECT_EQ(content(b), expected);
  EXPECT_EQ(content(w), expected_wide);
  expect_terminated(b);
  expect_terminated(w);
  // A grow takes 1.5 times what is needed, so the block never exceeds that.
  EXPECT_LE(b.capacity(), (b.length() + 2) * 3 / 2);
}

TEST(TextBufferTest, FormBodyFieldShape) {
  FormBody body;
  body.append("guid[");
  body.append_int(0);
  body.append("]=");
  body.append_hex_byte(0xAB);
  body.append_char('&');
  body.append("file[]=");
  body.append("a+b");
  body.append_char('&');
  EXPECT_EQ(content(body), "guid[0]=ab&file[]=a+b&");
}

TEST(GrowBlockTest, SizesByFactorWithAFloorOf520) {
  struct Case {
    int size, factor, expected;
  } cases[] = {{0, 15, 520}, {10, 15, 520}, {1000, 15, 1500}, {1001, 15, 1501}, {600, 5, 600}, {-5, 15, 520}};
  for (const Case& c : cases) {
    char* block = nullptr;
    EXPECT_EQ(grow_block(block, c.size, c.factor), c.expected) << c.size << " x " << c.factor;
    ASSERT_NE(block, nullptr);
    block[c.expected - 1] = 'x';  // the whole block is usable
    std::free(block);
  }
}

}  // namespace
}  // namespace zv
