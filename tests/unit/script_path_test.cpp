#include "server/script_path.h"

#include <gtest/gtest.h>

namespace zv {
namespace {

TEST(ScriptPathTest, ParentSegmentsBetweenEitherSeparatorOrAtEitherEnd) {
  EXPECT_TRUE(has_parent_segment(u"../x.php"));
  EXPECT_TRUE(has_parent_segment(u"a/../../x.php"));
  EXPECT_TRUE(has_parent_segment(u"..\\x.php"));
  EXPECT_TRUE(has_parent_segment(u"a\\..\\x.php"));
  EXPECT_TRUE(has_parent_segment(u"a/.."));
  EXPECT_TRUE(has_parent_segment(u".."));
}

TEST(ScriptPathTest, DotsInsideNamesAndSingleDotsAreOrdinary) {
  EXPECT_FALSE(has_parent_segment(nullptr));
  EXPECT_FALSE(has_parent_segment(u""));
  EXPECT_FALSE(has_parent_segment(u"index.php"));
  EXPECT_FALSE(has_parent_segment(u"..x.php"));
  EXPECT_FALSE(has_parent_segment(u"a/x...php"));
  EXPECT_FALSE(has_parent_segment(u"a/.../x.php"));
  EXPECT_FALSE(has_parent_segment(u"./x.php"));
  EXPECT_FALSE(has_parent_segment(u"a/..b/x.php"));
}

TEST(ScriptPathTest, AFolderWithASingleOrDoubleDotSegmentIsNamedTwice) {
  EXPECT_TRUE(has_dot_segment(u"/music/A/../B/"));
  EXPECT_TRUE(has_dot_segment(u"/music/./B"));
  EXPECT_TRUE(has_dot_segment(u"C:\\Music\\."));
  EXPECT_FALSE(has_dot_segment(u"/music/.B/..C/d./"));
  EXPECT_FALSE(has_dot_segment(nullptr));
}

}  // namespace
}  // namespace zv
