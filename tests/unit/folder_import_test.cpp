#include "library/folder_import.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "hostinfo/folder_listing.h"
#include "support/library_fixture.h"
#include "text/encoding.h"

namespace zv {
namespace {

namespace fs = std::filesystem;

std::u16string wide(const std::string& text) { return *utf8_to_wide(text.c_str(), -1); }
std::string narrow(const char16_t* text) { return *wide_to_utf8(text, -1); }

std::string read_bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string utf16le(const std::string& utf8) {
  std::string bytes;
  for (char16_t c : wide(utf8)) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class FolderImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_LIBRARY();
    ASSERT_TRUE(library_.made());
    music_ = library_.path() / "music";
    fs::create_directories(music_);
  }

  void make_file(const fs::path& relative) {
    fs::create_directories((music_ / relative).parent_path());
    std::ofstream(music_ / relative) << "sound";
  }

  // The folder as the handler hands it over, then imported; keeps the console.
  void import(const std::string& folder, const char16_t* is_ads = nullptr, const char16_t* is_jingle = nullptr) {
    std::u16string handed = *folder_path_native(wide(folder).c_str());
    ::testing::internal::CaptureStdout();
    import_music_folder(handed.c_str(), is_ads, is_jingle);
    std::fflush(stdout);
    console_ = ::testing::internal::GetCapturedStdout();
  }
  void import_music(const char16_t* is_ads = nullptr, const char16_t* is_jingle = nullptr) {
    import(music_.string(), is_ads, is_jingle);
  }

  std::string folders() const {
    return library_.sql("select song_dir_id, dir_order, is_playlist, is_ads, is_jingle, dir_name, play_count, "
                        "dir_color, dir_bgcolor from song_dir order by song_dir_id");
  }
  std::string songs() const {
    return library_.sql("select song_dir_id, song_name, play_count from song order by song_name");
  }
  std::string dir() const { return music_.string() + "/"; }

  test::LibraryFolder library_;
  fs::path music_;
  std::string console_;
};

TEST_F(FolderImportTest, NewFolderGetsItsRowAndItsAudioFilesOnly) {
  make_file("a.mp3");
  make_file("b.MP3");
  make_file("c.wav");
  make_file(".mp3");
  make_file("notes.txt");
  import_music();
  EXPECT_EQ(folders(), "1|1|1|0|0|" + dir() + "|0|16711680|3145645\n");
  EXPECT_EQ(songs(), "1|" + dir() + "a.mp3|0\n1|" + dir() + "c.wav|0\n");
  // Every entry is narrated, once per walk, whether imported or not.
  for (const char* name : {"a.mp3", "b.MP3", "c.wav", ".mp3", "notes.txt"}) {
    int count = 0;
    for (const auto& line : lines_of(console_)) count += line == name;
    EXPECT_EQ(count, 2) << name << "\n" << console_;
  }
}

TEST_F(FolderImportTest, StatementsFollowTheImportsOrder) {
  make_file("a.mp3");
  make_file("c.wav");
  import_music();
  std::vector<std::string> statements;
  const auto lines = lines_of(console_);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i] == "Direct ODBC: SQL query:") statements.push_back(lines[i + 1].substr(2, 24));
  }
  const std::vector<std::string> expected = {
      "select song_dir_id, dir_", "select max(dir_order) fr", "insert into song_dir (di", "select last_insert_rowid",
      "select song_id, song_dir", "insert into song (song_d", "select song_id, song_dir", "insert into song (song_d"};
  EXPECT_EQ(statements, expected) << console_;
  EXPECT_NE(console_.find("values (1, 1, 0, 0, '" + dir() + "', 0, '16711680', '3145645')"), std::string::npos)
      << console_;
  EXPECT_NE(console_.find("values (1, '" + dir() + "a.mp3', 0.000000, 0, 0, 0, 0, 0, 0, 0)"), std::string::npos)
      << console_;
}

TEST_F(FolderImportTest, FolderWithoutAudioLeavesLibraryAndOutputAlone) {
  make_file("cover.jpg");
  make_file("sub/readme.txt");
  std::ofstream("out.txt") << "earlier";
  import_music(u"1");
  EXPECT_EQ(folders(), "");
  EXPECT_EQ(read_bytes("out.txt"), "earlier");
  EXPECT_EQ(console_.find("Direct ODBC"), std::string::npos) << console_;

  // A folder that cannot be listed is the same as an empty one.
  import((library_.path() / "missing").string());
  EXPECT_EQ(folders(), "");
  EXPECT_EQ(console_, "");

  ::testing::internal::CaptureStdout();
  import_music_folder(nullptr, u"1", u"1");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(FolderImportTest, NextFolderFollowsTheLargestOrderWithItsPaletteColour) {
  library_.sql("insert into song_dir (dir_order, dir_name) values (7, '/x/'), (3, '/y/');");
  make_file("a.mp3");
  import_music(nullptr, u"1");
  EXPECT_EQ(library_.sql("select dir_order, is_playlist, is_ads, is_jingle, play_count, dir_color, dir_bgcolor "
                         "from song_dir where dir_name='" + dir() + "'"),
            "8|0|0|1|0|16711680|3145645\n");
  EXPECT_EQ(folder_background(0), 15794160);
  EXPECT_EQ(folder_background(13), 42495);
  EXPECT_EQ(folder_background(16), 15794160);
  EXPECT_EQ(folder_background(-1), 13353215);  // taken as unsigned: 4294967295 mod 16 = 15
}

TEST_F(FolderImportTest, ReimportChangesTheMarksAndAddsOnlyNewFiles) {
  make_file("a.mp3");
  import_music();
  make_file("b.mp3");
  import_music(u"1");
  EXPECT_EQ(folders(), "1|1|0|1|0|" + dir() + "|0|16711680|3145645\n");
  EXPECT_EQ(songs(), "1|" + dir() + "a.mp3|0\n1|" + dir() + "b.mp3|0\n");
  EXPECT_EQ(library_.sql("select song_id from song order by song_id"), "1\n2\n");
  EXPECT_NE(console_.find("update song_dir set is_playlist=0, is_ads=1, is_jingle=0 where song_dir_id=1"),
            std::string::npos)
      << console_;
}

TEST_F(FolderImportTest, MarksTakeOnlyALeadingOne) {
  make_file("a.mp3");
  struct Case {
    const char16_t* is_ads;
    const char16_t* is_jingle;
    const char* marks;  // is_playlist|is_ads|is_jingle
  };
  const Case cases[] = {{u"10", u"1x", "0|1|1"}, {u"0", u"true", "1|0|0"}, {u"", u"yes", "1|0|0"},
                        {nullptr, u"1", "0|0|1"}, {u"01", nullptr, "1|0|0"}};
  for (const Case& c : cases) {
    import_music(c.is_ads, c.is_jingle);
    EXPECT_EQ(library_.sql("select is_playlist, is_ads, is_jingle from song_dir"), std::string(c.marks) + "\n");
  }
}

TEST_F(FolderImportTest, KnownFoldersPlayCountGoesToItsNewSongs) {
  make_file("a.mp3");
  import_music();
  library_.sql("update song_dir set play_count=3;");
  make_file("b.wav");
  import_music();
  EXPECT_EQ(songs(), "1|" + dir() + "a.mp3|0\n1|" + dir() + "b.wav|3\n");
}

TEST_F(FolderImportTest, SongOfNoFolderIsAdoptedAndAnotherFoldersSongStays) {
  make_file("a.mp3");
  make_file("b.mp3");
  library_.sql("insert into song_dir (dir_order, dir_name) values (1, '/other/');"
               "insert into song (song_dir_id, song_name, play_count) values (0, '" + dir() + "a.mp3', 5), "
               "(1, '" + dir() + "b.mp3', 6);");
  import_music();
  EXPECT_EQ(songs(), "2|" + dir() + "a.mp3|5\n1|" + dir() + "b.mp3|6\n");
  EXPECT_NE(console_.find("update song set song_dir_id=2 where song_id=1"), std::string::npos) << console_;
}

TEST_F(FolderImportTest, FolderIsStoredInThePlatformsFormAndSubFoldersJoinIt) {
  make_file("Ads/a.mp3");
  make_file("Ads/Spring/b.mp3");
  import(library_.path().string() + "//music\\\\Ads/");
  const std::string ads = music_.string() + "/Ads/";
  EXPECT_EQ(library_.sql("select dir_name from song_dir"), ads + "\n");
  EXPECT_EQ(library_.sql("select song_name from song order by song_name"), ads + "Spring/b.mp3\n" + ads + "a.mp3\n");
}

TEST_F(FolderImportTest, ApostrophesAreStoredOnceAndFoundAgain) {
  music_ = library_.path() / "Rock'n'Roll";
  make_file("Rock'n'Roll.mp3");
  import_music();
  import_music();
  EXPECT_EQ(library_.sql("select dir_name from song_dir"), dir() + "\n");
  EXPECT_EQ(library_.sql("select song_name from song"), dir() + "Rock'n'Roll.mp3\n");
  EXPECT_NE(console_.find("where song_name='" + library_.path().string() + "/Rock''n''Roll/Rock''n''Roll.mp3'"),
            std::string::npos)
      << console_;

  std::u16string buffer;
  const char16_t* plain = u"no quotes";
  EXPECT_EQ(sql_escape_quotes(plain, buffer), plain);
  EXPECT_EQ(std::u16string(sql_escape_quotes(u"''x'", buffer)), u"''''x''");
  EXPECT_EQ(sql_escape_quotes(nullptr, buffer), nullptr);
}

TEST_F(FolderImportTest, FoldersWithADotFirstOrSecondAreNotWalked) {
  make_file("A.Side/a.mp3");
  make_file(".git/b.mp3");
  make_file("Side.A/c.mp3");
  import_music();
  EXPECT_EQ(library_.sql("select song_name from song"), dir() + "Side.A/c.mp3\n");
  EXPECT_NE(console_.find("A.Side <DIR>\n"), std::string::npos) << console_;
  EXPECT_NE(console_.find(".git <DIR>\n"), std::string::npos) << console_;
  EXPECT_EQ(console_.find("\na.mp3\n"), std::string::npos) << console_;
}

TEST_F(FolderImportTest, OutputListsMp3ThenWavInUtf16) {
  make_file("x.wav");
  make_file("sub/y.mp3");
  make_file("z.mp3");
  import_music();
  const std::string out = read_bytes("out.txt");
  // The lists follow the file system's order within each kind.
  WideTextBuffer mp3, wav;
  const std::u16string root = wide(dir());
  ::testing::internal::CaptureStdout();
  scan_folder_files(&mp3, root.c_str(), u"", u"", u"*.*", LIST_FILES | LIST_RECURSE | LIST_FULL_PATH, u".mp3");
  scan_folder_files(&wav, root.c_str(), u"", u"", u"*.*", LIST_FILES | LIST_RECURSE | LIST_FULL_PATH, u".wav");
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, utf16le(narrow(mp3.data()) + narrow(wav.data())));
  EXPECT_EQ(utf16le(narrow(wav.data())), utf16le(dir() + "x.wav\n"));
  EXPECT_EQ(out.substr(out.size() - 2), std::string("\x0A\x00", 2));
  EXPECT_NE(out.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(out.size(), utf16le(dir() + "sub/y.mp3\n" + dir() + "z.mp3\n" + dir() + "x.wav\n").size());
}

TEST_F(FolderImportTest, LinkCycleIsWalkedOnce) {
  make_file("a.mp3");
  make_file("sub/b.mp3");
  fs::create_directory_symlink(music_, music_ / "sub" / "back");
  fs::create_directory_symlink(music_ / "sub", music_ / "sub" / "again");
  import_music();
  EXPECT_EQ(songs(), "1|" + dir() + "a.mp3|0\n1|" + dir() + "sub/b.mp3|0\n");
}

TEST_F(FolderImportTest, SongWhosePathDoesNotFitIsSkippedAndTheRestImported) {
  make_file("a.mp3");
  // Stays within the file system's limits, but with its insert around it the
  // song's path no longer fits a statement.
  fs::path deep;
  for (int i = 0; i < 4; ++i) deep /= std::string(180, 'd');
  make_file(deep / "long.mp3");
  import_music();
  EXPECT_EQ(songs(), "1|" + dir() + "a.mp3|0\n");
  EXPECT_NE(console_.find("Direct ODBC: Statement not run: longer than 779 characters.\n"), std::string::npos)
      << console_;
}

TEST_F(FolderImportTest, LongImportIsCommittedWholeInParts) {
  // More files than one commit takes, in two folders.
  for (int i = 0; i < 1100; ++i) make_file("big/" + std::to_string(i) + ".mp3");
  make_file("small/a.wav");
  import_music();
  EXPECT_EQ(library_.sql("select count(*), count(distinct song_name) from song where song_dir_id=1;"), "1101|1101\n");
  // Nothing of the import holds the library: another program writes at once.
  EXPECT_EQ(library_.sql("insert into song (song_dir_id, song_name) values (0, 'other'); select count(*) from song;"),
            "1102\n");
  // Flushed when the import ends, block-buffered or not.
  EXPECT_NE(console_.find("big/1099.mp3', 0.000000, 0, 0, 0, 0, 0, 0, 0)\nDirect ODBC: Retrieve schema"),
            std::string::npos);
}

TEST_F(FolderImportTest, ImportGoesOnWhenOutputCannotBeWritten) {
  make_file("a.mp3");
  fs::create_directory("out.txt");
  import_music();
  EXPECT_EQ(songs(), "1|" + dir() + "a.mp3|0\n");
  EXPECT_NE(console_.find("out.txt could not be written; the import goes on without it.\n"), std::string::npos)
      << console_;
}

TEST_F(FolderImportTest, WithoutALibraryNothingIsRegisteredAndOutputIsEmpty) {
  make_file("a.mp3");
  library_.remove_library();
  import_music();
  EXPECT_EQ(read_bytes("out.txt"), "");
  EXPECT_NE(console_.find("Direct ODBC: Couldn't connect to"), std::string::npos) << console_;
  EXPECT_FALSE(fs::exists("base2.mdb"));
}

}  // namespace
}  // namespace zv
