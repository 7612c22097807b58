// The librarian following a folder of the library: the real program, the
// real library, the real server for the playlist and library.php.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/library_fixture.h"
#include "support/server_harness.h"

namespace zv::testing {
namespace {

namespace fs = std::filesystem;

// A station with one folder of two songs, a.mp3 and b.mp3 (ids 1 and 2, b
// played 5 times), imported and scheduled for every hour, and its server and
// librarian running.
class LibrarianTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station_.link_php_cgi();
    ASSERT_TRUE(test::make_library(station_.server()));
    // The playlist the server gathers, as the script receives it: each
    // song's name without its folder and extension, and its id.
    station_.write_script("playlist.php", "<?php echo file_get_contents('php://input');");
    fs::copy_file(fs::path(ZV_SOURCE_DIR) / "station/www/library.php", station_.www() / "library.php");
    fs::copy(fs::path(ZV_SOURCE_DIR) / "station/www/include", station_.www() / "include", fs::copy_options::recursive);
    music_ = station_.root.path() / "music/";
    write(music_ / "a.mp3", "first");
    write(music_ / "b.mp3", "second");
    ASSERT_EQ(sql("insert into playlist_info (playinfo_id, play_time, week_days) values (1, 24, 128);"
                  "insert into song_dir (song_dir_id, dir_order, dir_name) values (1, 1, '" +
                  music_.string() +
                  "');"
                  "insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 1, 1);"
                  "insert into song (song_id, song_dir_id, song_name, play_count) values (1, 1, '" +
                  (music_ / "a.mp3").string() + "', 0), (2, 1, '" + (music_ / "b.mp3").string() + "', 5);"),
              "");
    librarian_.emplace(station_.server(), test::odbc_environment(), ZV_LIBRARIAN_BINARY);
    for (const char* text : {"Librarian: following the library's folders\n",
                             "Librarian: full look: 0 files added, 0 back, 0 moved, 0 missing, 0 written again\n"})
      ASSERT_TRUE(librarian_->wait_for_console(text)) << librarian_->console();
    server_.emplace(station_.server(), test::odbc_environment());
    ASSERT_TRUE(server_->wait_until_listening()) << server_->console();
  }

  static void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }
  std::string sql(const std::string& statement) const { return test::library_sql(station_.server(), statement); }
  // Waits until `statement` gives `expected`; what it gave last.
  std::string wait_for_sql(const std::string& statement, const std::string& expected) const {
    std::string got;
    for (int i = 0; i < 300 && (got = sql(statement)) != expected; ++i) std::this_thread::sleep_for(100ms);
    return got;
  }
  std::string playlist() const { return http_exchange("GET /playlist.php HTTP/1.0\r\n\r\n"); }
  std::string library_page() const { return test::run_page(station_.server(), "library.php"); }

  Station station_;
  fs::path music_;
  std::optional<ServerProcess> librarian_;
  std::optional<ServerProcess> server_;
};

TEST_F(LibrarianTest, FileCopiedIntoTheFolderIsImportedAndDrawn) {
  write(music_ / "more/c.mp3", "third");
  const std::string c = (music_ / "more/c.mp3").string();
  EXPECT_EQ(wait_for_sql("select song_dir_id, play_count from song where song_name='" + c + "'", "1|0\n"), "1|0\n")
      << librarian_->console();
  EXPECT_TRUE(librarian_->wait_for_console("Librarian: quick look: 1 files added, 0 back, 0 moved, 0 missing"))
      << librarian_->console();
  EXPECT_NE(librarian_->console().find("Librarian: " + c + " is added\n"), std::string::npos) << librarian_->console();
  const std::string drawn = playlist();
  EXPECT_NE(drawn.find("[]=c&fileid"), std::string::npos) << drawn;
  // Indexed for the search by the librarian, before any search asks.
  EXPECT_EQ(
      wait_for_sql(
          "select count(*) from song_search_pending; select rowid from song_search where name=('c.mp3' || char(1, 1))",
          "0\n3\n"),
      "0\n3\n");
  // It says what it did, not each statement and file of the import.
  EXPECT_EQ(librarian_->console().find("ODBC"), std::string::npos) << librarian_->console();
  EXPECT_EQ(librarian_->console().find("c.mp3\n"), std::string::npos) << librarian_->console();
}

TEST_F(LibrarianTest, FileDeletedLeavesRotationShowsMissingAndComesBackWithItsId) {
  fs::remove(music_ / "a.mp3");
  const std::string a = (music_ / "a.mp3").string();
  EXPECT_EQ(wait_for_sql("select song_id from song_missing", "1\n"), "1\n") << librarian_->console();
  EXPECT_EQ(sql("select song_id from song"), "2\n");
  EXPECT_TRUE(
      librarian_->wait_for_console("Librarian: " + a + " is missing; its song leaves rotation and keeps its counts\n"));
  const std::string drawn = playlist();
  EXPECT_NE(drawn.find("[]=b&fileid"), std::string::npos) << drawn;
  EXPECT_EQ(drawn.find("[]=a&fileid"), std::string::npos) << drawn;
  const std::string library = library_page();
  EXPECT_NE(library.find("<table id=\"missing\">"), std::string::npos) << library;
  EXPECT_NE(library.find("<tr><td>" + a + "</td>"), std::string::npos) << library;

  write(music_ / "a.mp3", "first");
  EXPECT_EQ(wait_for_sql("select song_id from song where song_name='" + a + "'", "1\n"), "1\n")
      << librarian_->console();
  EXPECT_EQ(sql("select count(*) from song_missing"), "0\n");
  EXPECT_TRUE(librarian_->wait_for_console("Librarian: " + a + " is back\n"));
}

TEST_F(LibrarianTest, FileRenamedOrMovedKeepsItsSongAndPlayCount) {
  fs::create_directories(music_ / "moved");
  fs::rename(music_ / "b.mp3", music_ / "moved/b2.mp3");
  const std::string b2 = (music_ / "moved/b2.mp3").string();
  EXPECT_EQ(wait_for_sql("select song_id, play_count from song where song_name='" + b2 + "'", "2|5\n"), "2|5\n")
      << librarian_->console();
  EXPECT_EQ(sql("select count(*) from song"), "2\n");
  EXPECT_TRUE(librarian_->wait_for_console("Librarian: " + (music_ / "b.mp3").string() + " is now " + b2 + "\n"));

  // A file written anew keeps its song; its new size is noted.
  write(music_ / "a.mp3", "first, mastered again");
  EXPECT_TRUE(librarian_->wait_for_console("Librarian: " + (music_ / "a.mp3").string() + " was written again\n"))
      << librarian_->console();
  EXPECT_EQ(sql("select song_id from song where song_name='" + (music_ / "a.mp3").string() + "'"), "1\n");
}

// A file written again at the same size within the same second is seen by
// its nanoseconds, and its tags' stamp no longer matches, so it is measured
// again.
TEST_F(LibrarianTest, FileWrittenAgainWithinTheSameSecondIsSeen) {
  const fs::path a = music_ / "a.mp3";
  ASSERT_EQ(sql("insert into song_tags (song_id, file_size, file_mtime) values (1, 5, 1)"), "");
  EXPECT_EQ(wait_for_sql("select count(*) from song_file_stamp where song_id=1", "1\n"), "1\n");
  const auto before = fs::last_write_time(a);
  const auto below_second = before.time_since_epoch() % std::chrono::seconds(1);
  // Written beside the folder and moved in whole, so the librarian never
  // sees it with another time.
  const fs::path rewritten = station_.root.path() / "a.mp3";
  write(rewritten, "FIRST");
  fs::last_write_time(rewritten, below_second < 500ms ? before + 1ms : before - 1ms);
  fs::rename(rewritten, a);
  EXPECT_TRUE(librarian_->wait_for_console("Librarian: " + a.string() + " was written again\n"))
      << librarian_->console();
  EXPECT_EQ(sql("select file_mtime from song_tags where song_id=1"), "-1\n");
}

// Without its library the librarian says so, once, and keeps asking.
TEST(LibrarianStart, SaysSoWhenTheLibraryCannotBeRead) {
  Station station;
  ASSERT_TRUE(test::make_library(station.server()));
  fs::remove(station.server() / "base2.mdb");
  ServerProcess librarian(station.server(), test::odbc_environment(), ZV_LIBRARIAN_BINARY);
  EXPECT_TRUE(librarian.wait_for_console("Librarian: the library cannot be read; it is asked again every 5 s\n"))
      << librarian.console();
}

// A folder that cannot be reached (a share not mounted) keeps its songs in
// rotation.
TEST(LibrarianStart, FolderThatCannotBeReachedKeepsItsSongs) {
  Station station;
  ASSERT_TRUE(test::make_library(station.server()));
  const std::string away = (station.root.path() / "share/").string();
  test::library_sql(station.server(), "insert into song_dir (song_dir_id, dir_name) values (1, '" + away +
                                          "'); insert into song (song_id, song_dir_id, song_name) values (1, 1, '" +
                                          away + "a.mp3');");
  ServerProcess librarian(station.server(), test::odbc_environment(), ZV_LIBRARIAN_BINARY);
  EXPECT_TRUE(
      librarian.wait_for_console("Librarian: the folder " + away + " cannot be reached; its songs stay as they are\n"))
      << librarian.console();
  EXPECT_TRUE(librarian.wait_for_console("Librarian: full look: 0 files added, 0 back, 0 moved, 0 missing"));
  EXPECT_EQ(test::library_sql(station.server(), "select song_id from song"), "1\n");
}

}  // namespace
}  // namespace zv::testing
