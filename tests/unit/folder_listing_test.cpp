#include "hostinfo/folder_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/path_style.h"
#include "support/form_fields.h"
#include "text/encoding.h"

namespace zv {
namespace {

namespace fs = std::filesystem;
using test::FormField;
using test::form_fields;

class FolderListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    root_ = fs::temp_directory_path() / ("zv-listing-" + std::to_string(seed()));
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  void make_file(const fs::path& relative) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << "x";
  }

  // The folder as the connection handler passes it: separators folded, one at the end.
  std::u16string native(const fs::path& folder) const { return *folder_path_native(folder.u16string().c_str()); }
  // The folder as the script reads it in a field: slash form.
  std::string slash(const fs::path& folder) const {
    return *wide_to_utf8(folder_path_slash(folder.u16string().c_str())->c_str(), -1);
  }

  // Lists `folder` with `flags`; returns the fields and keeps the console lines.
  std::vector<FormField> list(const fs::path& folder, unsigned flags) {
    FormBody body;
    const std::u16string base = native(folder);
    ::testing::internal::CaptureStdout();
    list_folder(&body, base.c_str(), u"", u"", u"*.*", flags, "dir", "file");
    std::istringstream console(::testing::internal::GetCapturedStdout());
    console_lines_.clear();
    for (std::string line; std::getline(console, line);) console_lines_.push_back(line);
    raw_body_.assign(body.data(), body.length());
    return form_fields(raw_body_);
  }

  static std::vector<std::string> sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  static std::size_t position(const std::vector<FormField>& fields, const FormField& field) {
    return static_cast<std::size_t>(std::find(fields.begin(), fields.end(), field) - fields.begin());
  }

  fs::path root_;
  std::vector<std::string> console_lines_;
  std::string raw_body_;
};

TEST_F(FolderListingTest, FoldersAndFilesByNameWithConsoleLineForEveryEntry) {
  make_file("Rock/Song 1.mp3");
  make_file("Intro.mp3");

  const auto fields = list(root_, LIST_FOLDERS | LIST_FILES);

  std::vector<FormField> expected{{"dir[]", "Rock"}, {"file[]", "Intro.mp3"}};
  EXPECT_TRUE(std::is_permutation(fields.begin(), fields.end(), expected.begin(), expected.end()));
  EXPECT_EQ(raw_body_.back(), '&');
  EXPECT_EQ(sorted(console_lines_), (std::vector<std::string>{". <DIR>", ".. <DIR>", "Intro.mp3", "Rock <DIR>"}));
}

TEST_F(FolderListingTest, RecursionPutsSubtreeRightAfterItsFolderWithFullPaths) {
  make_file("Rock/Song 1.mp3");
  make_file("Intro.mp3");

  const auto fields = list(root_, LIST_FOLDERS | LIST_FILES | LIST_RECURSE | LIST_FULL_PATH);

  const std::string prefix = slash(root_);
  ASSERT_EQ(fields.size(), 3u);
  const std::size_t rock = position(fields, {"dir[]", prefix + "Rock"});
  ASSERT_LT(rock, 2u);
  EXPECT_EQ(fields[rock + 1], (FormField{"file[]", prefix + "Rock/Song 1.mp3"}));
  EXPECT_NE(position(fields, {"file[]", prefix + "Intro.mp3"}), fields.size());
  EXPECT_EQ(raw_body_.find("Song 1"), std::string::npos) << "names go out encoded";
  EXPECT_EQ(sorted(console_lines_), (std::vector<std::string>{". <DIR>", ". <DIR>", ".. <DIR>", ".. <DIR>",
                                                             "Intro.mp3", "Rock <DIR>", "Song 1.mp3"}));
}

TEST_F(FolderListingTest, RecursionWithoutFolderFieldsStillDescends) {
  make_file("Rock/Deep/a.wav");
  make_file("b.mp3");

  const auto fields = list(root_, LIST_FILES | LIST_RECURSE);

  std::vector<FormField> expected{{"file[]", "a.wav"}, {"file[]", "b.mp3"}};
  EXPECT_TRUE(std::is_permutation(fields.begin(), fields.end(), expected.begin(), expected.end()));
  // Folders are narrated although they get no field.
  const auto lines = sorted(console_lines_);
  EXPECT_TRUE(std::binary_search(lines.begin(), lines.end(), "Rock <DIR>"));
  EXPECT_TRUE(std::binary_search(lines.begin(), lines.end(), "Deep <DIR>"));
}

TEST_F(FolderListingTest, DotFoldersAndSecondCharacterDotAreNeitherListedNorEntered) {
  make_file(".git/config");
  make_file("1.Pop/hit.mp3");
  make_file("Jazz/take.mp3");
  make_file("a.b.mp3");  // a file with a dot is listed as usual

  const auto fields = list(root_, LIST_FOLDERS | LIST_FILES | LIST_RECURSE);

  std::vector<FormField> expected{{"dir[]", "Jazz"}, {"file[]", "take.mp3"}, {"file[]", "a.b.mp3"}};
  EXPECT_TRUE(std::is_permutation(fields.begin(), fields.end(), expected.begin(), expected.end()));
  const auto lines = sorted(console_lines_);
  for (const char* seen : {".git <DIR>", "1.Pop <DIR>", "a.b.mp3"})
    EXPECT_TRUE(std::binary_search(lines.begin(), lines.end(), seen)) << seen;
  for (const char* unseen : {"config", "hit.mp3"})
    EXPECT_FALSE(std::binary_search(lines.begin(), lines.end(), unseen)) << unseen;
}

TEST_F(FolderListingTest, PrefixWithSpaceAndAmpersandArrivesWhole) {
  const fs::path folder = root_ / "Rock & Roll";
  make_file("Rock & Roll/a&b c.mp3");

  const auto fields = list(folder, LIST_FOLDERS | LIST_FILES | LIST_RECURSE | LIST_FULL_PATH);

  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0], (FormField{"file[]", slash(folder) + "a&b c.mp3"}));
}

TEST_F(FolderListingTest, NamesAreUtf8OnConsoleAndInFields) {
  make_file(u8"Café/Ünïcode ж.mp3");  // UTF-8 on every platform, not the ANSI code page

  const auto fields = list(root_, LIST_FOLDERS | LIST_FILES | LIST_RECURSE);

  std::vector<FormField> expected{{"dir[]", "Café"}, {"file[]", "Ünïcode ж.mp3"}};
  EXPECT_TRUE(std::is_permutation(fields.begin(), fields.end(), expected.begin(), expected.end()));
  const auto lines = sorted(console_lines_);
  EXPECT_TRUE(std::binary_search(lines.begin(), lines.end(), "Café <DIR>"));
  EXPECT_TRUE(std::binary_search(lines.begin(), lines.end(), "Ünïcode ж.mp3"));
}

TEST_F(FolderListingTest, MissingFolderAddsNothingAndPrintsNothing) {
  const auto fields = list(root_ / "no such folder", LIST_FOLDERS | LIST_FILES | LIST_RECURSE | LIST_FULL_PATH);

  EXPECT_TRUE(fields.empty());
  EXPECT_TRUE(console_lines_.empty());
}

TEST_F(FolderListingTest, LinkCyclesEndAndLinksBesideThePathAreEntered) {
  make_file("Rock/Song.mp3");
  std::error_code no_links;
  fs::create_directory_symlink(root_, root_ / "Rock" / "up", no_links);  // back to the top
  if (no_links) GTEST_SKIP() << "this system makes no folder links (Windows needs a privilege for them, Wine has none)";
  fs::create_directory_symlink(root_ / "Rock", root_ / "Rock" / "self");
  fs::create_directory_symlink(root_ / "Rock", root_ / "Alias");  // a sibling, not on its own walk path

  const auto fields = list(root_, LIST_FOLDERS | LIST_FILES | LIST_RECURSE | LIST_FULL_PATH);

  const std::string prefix = slash(root_);
  std::vector<FormField> expected{
      {"dir[]", prefix + "Rock"},        {"file[]", prefix + "Rock/Song.mp3"},
      {"dir[]", prefix + "Rock/up"},     {"dir[]", prefix + "Rock/self"},
      {"dir[]", prefix + "Alias"},       {"file[]", prefix + "Alias/Song.mp3"},
      {"dir[]", prefix + "Alias/up"},    {"dir[]", prefix + "Alias/self"},
  };
  EXPECT_TRUE(std::is_permutation(fields.begin(), fields.end(), expected.begin(), expected.end()))
      << raw_body_;
}

TEST_F(FolderListingTest, SubPathsAreJoinedWithOneSeparatorEach) {
  make_file("Rock/Live/gig.mp3");
  FormBody body;
  const std::u16string base = native(root_);
  const std::u16string first = std::u16string(u"Rock") + FOLDER_SEPARATOR;

  ::testing::internal::CaptureStdout();
  list_folder(&body, base.c_str(), first.c_str(), u"Live", u"*.*", LIST_FILES | LIST_FULL_PATH, nullptr, nullptr);
  ::testing::internal::GetCapturedStdout();

  const auto fields = form_fields(std::string(body.data(), body.length()));
  EXPECT_EQ(fields, (std::vector<FormField>{{"file[]", slash(root_) + "Rock/Live/gig.mp3"}}));
}

TEST_F(FolderListingTest, NullArgumentsWriteNothing) {
  make_file("a.mp3");
  const std::u16string base = native(root_);
  FormBody body;

  ::testing::internal::CaptureStdout();
  EXPECT_EQ(list_folder(nullptr, base.c_str(), u"", u"", u"*.*", LIST_FILES, "dir", "file"), 0);
  EXPECT_EQ(list_folder(&body, nullptr, u"", u"", u"*.*", LIST_FILES, "dir", "file"), 0);
  EXPECT_EQ(list_folder(&body, base.c_str(), nullptr, u"", u"*.*", LIST_FILES, "dir", "file"), 0);
  EXPECT_EQ(list_folder(&body, base.c_str(), u"", nullptr, u"*.*", LIST_FILES, "dir", "file"), 0);
  EXPECT_EQ(list_folder(&body, base.c_str(), u"", u"", nullptr, LIST_FILES, "dir", "file"), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(body.length(), 0u);
}

}  // namespace
}  // namespace zv
