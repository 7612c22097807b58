// library.php and history.php on a library larger than a page: their lists
// come a bounded page at a time, the pages' links join up to the whole list,
// and the search finds any letter in any case on the library's own index.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/library_fixture.h"
#include "support/server_harness.h"

namespace fs = std::filesystem;
using zv::testing::Station;

namespace {

constexpr std::size_t PAGE_ROWS = 200;
constexpr int SONGS = 450;

std::vector<std::string> all_of(const std::string& page, const std::string& pattern) {
  std::vector<std::string> found;
  const std::regex expression(pattern);
  for (std::sregex_iterator at(page.begin(), page.end(), expression), end; at != end; ++at) found.push_back((*at)[1]);
  return found;
}

// The query of the page's link marked rel=`rel`; empty when it has none.
std::string link(const std::string& page, const std::string& rel) {
  const auto found = all_of(page, "rel=\"" + rel + "\" href=\"[a-z]+\\.php\\?([^\"]*)\"");
  return found.empty() ? "" : std::regex_replace(found[0], std::regex("&amp;"), "&");
}

// A library of SONGS songs in folder 1, named "Song 000.mp3" on (ids 1 on,
// in name order), and four in folder 2; the pages in its www.
class LibraryPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(zv::test::make_library(station_.server()));
    for (const char* page : {"library.php", "history.php"})
      fs::copy_file(fs::path(ZV_SOURCE_DIR) / "station/www" / page, station_.www() / page);
    fs::copy(fs::path(ZV_SOURCE_DIR) / "station/www/include", station_.www() / "include", fs::copy_options::recursive);
    ASSERT_EQ(
        sql("insert into song_dir (song_dir_id, dir_order, dir_name) values (1, 1, '/m/'), (2, 2, '/n/');"
            "with recursive s(i) as (select 0 union all select i + 1 from s where i < " +
            std::to_string(SONGS - 1) +
            ") insert into song (song_dir_id, song_name) select 1, printf('/m/Song %03d.mp3', i) from s;"
            "insert into song (song_dir_id, song_name) values (2, '/n/Überlänge 1.wav'), (2, '/n/überlänge 2.wav'),"
            " (2, '/n/Ça 3.wav'), (2, '/n/U2.mp3');"),
        "");
  }

  std::string sql(const std::string& statement) const { return zv::test::library_sql(station_.server(), statement); }
  std::string page(const std::string& script, const std::string& query) const {
    return zv::test::run_page(station_.server(), script, query);
  }
  // The song ids of every page of library.php from `query` on, following
  // the pages' next links; each page holds at most a page of songs.
  std::vector<std::string> songs_of_every_page(std::string query) const {
    std::vector<std::string> ids;
    for (int pages = 0; !query.empty() && pages < 10; ++pages) {
      const std::string shown = page("library.php", query);
      const auto here = all_of(shown, "name=\"song\\[\\]\" value=\"([0-9]+)\"");
      EXPECT_LE(here.size(), PAGE_ROWS) << query;
      ids.insert(ids.end(), here.begin(), here.end());
      query = link(shown, "next");
    }
    return ids;
  }
  std::vector<std::string> songs(const std::string& search) const {
    return all_of(page("library.php", "search=" + search), "name=\"song\\[\\]\" value=\"([0-9]+)\"");
  }

  Station station_;
};

TEST_F(LibraryPagesTest, FolderPagesAreBoundedAndJoinUpInNameOrder) {
  std::vector<std::string> expected;
  for (int id = 1; id <= SONGS; ++id) expected.push_back(std::to_string(id));
  EXPECT_EQ(songs_of_every_page("show=1"), expected);

  // Back from the second page is the first again.
  const std::string second = page("library.php", link(page("library.php", "show=1"), "next"));
  const auto first = all_of(page("library.php", link(second, "prev")), "name=\"song\\[\\]\" value=\"([0-9]+)\"");
  EXPECT_EQ(first, std::vector<std::string>(expected.begin(), expected.begin() + PAGE_ROWS));
}

TEST_F(LibraryPagesTest, SearchFindsAnyCaseOnTheIndexAPageAtATime) {
  EXPECT_EQ(songs_of_every_page("search=sOnG").size(), static_cast<std::size_t>(SONGS));
  EXPECT_EQ(songs("%C3%9CBERL%C3%84NGE"), (std::vector<std::string>{"451", "452"})) << "Ü and ü, Ä and ä";
  EXPECT_EQ(songs("%C3%A7"), std::vector<std::string>{"453"}) << "one letter, no trigram";
  EXPECT_EQ(songs("u2"), std::vector<std::string>{"454"});
  EXPECT_EQ(songs("AV"), (std::vector<std::string>{"453", "451", "452"})) << "two letters that end a name";
  EXPECT_EQ(songs("m%2FSong"), std::vector<std::string>{}) << "the file's name, not its folder";

  // Tags written after the song are found, and so are the songs of a library
  // made before the index, once its schema is applied again.
  sql("insert into song_tags (song_id, file_size, file_mtime, artist, title) values (7, 1, 1, 'Nine Hundred', 'X')");
  EXPECT_EQ(songs("nine%20HUNDRED"), std::vector<std::string>{"7"});
  std::string older;
  for (const char* trigger : {"add", "rename", "drop", "tags", "retag", "untag"})
    older += std::string("drop trigger song_search_") + trigger + ";";
  sql(older + "drop table song_search; insert into song (song_dir_id, song_name) values (2, '/n/Later.mp3');");
  std::ifstream schema(fs::path(ZV_SOURCE_DIR) / "station/schema.sql");
  std::stringstream text;
  text << schema.rdbuf();
  ASSERT_EQ(sql(text.str()), "");
  EXPECT_EQ(songs("LATER"), std::vector<std::string>{"455"});
  EXPECT_EQ(songs("nine%20HUNDRED"), std::vector<std::string>{"7"});
}

// A search that more songs match than are gathered walks the songs in name
// order and finds what the index finds, the long s and the Kelvin sign as s
// and k.
TEST_F(LibraryPagesTest, SearchOfVeryManySongsWalksTheNamesAndFindsWhatTheIndexFinds) {
  sql("insert into song (song_dir_id, song_name) values (1, '/a/\u017Fong wal\u212A.mp3');"
      "with recursive s(i) as (select 0 union all select i + 1 from s where i < 29999) insert into song "
      "(song_dir_id, song_name) select 1, printf('/m/Song walk %05d.mp3', i) from s;");
  songs("indexed");  // the index catches up in batches
  std::vector<std::string> expected;
  for (int id = SONGS + 5; id < SONGS + 5 + static_cast<int>(PAGE_ROWS); ++id) expected.push_back(std::to_string(id));
  EXPECT_EQ(songs("SONG%20WALK"), expected);
  const auto second = all_of(page("library.php", link(page("library.php", "search=SONG%20WALK"), "next")),
                             "name=\"song\\[\\]\" value=\"([0-9]+)\"");
  ASSERT_EQ(second.size(), PAGE_ROWS);
  EXPECT_EQ(second.front(), std::to_string(SONGS + 5 + PAGE_ROWS)) << "the next page walks on from the first";
  EXPECT_EQ(songs("K"), expected);
}

TEST_F(LibraryPagesTest, HistoryMonthIsPagedAndRemovalTakesTheLibrariansRows) {
  // 2020-03-10 12:00 UTC on, a play every 30 s, each heard by someone.
  sql("with recursive p(i) as (select 0 union all select i + 1 from p where i < " + std::to_string(SONGS - 1) +
      ") insert into play_record (play_key, started, ended, song_id, song_name, dir_name, source, outcome) "
      "select 'k' || i, 1583841600 + i * 30, 1583841625 + i * 30, i + 1, printf('Song %03d.mp3', i), '/m/', "
      "'scheduled', 'played' from p; insert into play_detail (play_key, listeners_start, listeners_peak, "
      "listener_seconds) select play_key, 1, 2, 50 from play_record;");
  std::size_t plays = 0;
  for (std::string query = "month=2020-03"; !query.empty(); query = link(page("history.php", query), "next")) {
    const std::string shown = page("history.php", query);
    const std::size_t rows = all_of(shown, "<td class=\"number listeners\">([^<]*)</td>").size();
    EXPECT_LE(rows, PAGE_ROWS);
    EXPECT_LE(all_of(shown, "<(rect) ").size(), 600u) << "a bar a pixel at most";
    plays += rows;
    if (plays > static_cast<std::size_t>(SONGS)) break;
  }
  EXPECT_EQ(plays, static_cast<std::size_t>(SONGS));

  // A sent play is on record by its path alone; its song is found by it, as
  // the reports find it.
  sql("insert into song_tags (song_id, file_size, file_mtime, artist, title) values (451, 1, 1, 'Sent Artist', "
      "'Sent Title'); insert into play_record (play_key, started, ended, song_name, dir_name, source, outcome) "
      "values ('sent', 1583020800, 1583020900, 'Überlänge 1.wav', '/n/', 'sent', 'played');");
  const std::string first = page("history.php", "month=2020-03");
  EXPECT_NE(first.find("Sent Title"), std::string::npos) << first;
  EXPECT_NE(first.find("Sent Artist"), std::string::npos) << first;

  // A folder's missing songs and its files' facts leave with it.
  sql("insert into song_missing (song_id, song_dir_id, song_name, missing_since) values (900, 1, '/m/gone.mp3', 1);"
      "insert into song_file (song_id, file_size, modified) values (1, 5, 5), (451, 5, 5);"
      "insert into song_file_stamp (song_id, nanoseconds) values (1, 5), (451, 5);");
  const auto confirm =
      all_of(page("library.php", "action=remove&id=1"), "id=\"confirm-remove\" href=\"library.php\\?([^\"]*)\"");
  ASSERT_EQ(confirm.size(), 1u);
  page("library.php", std::regex_replace(confirm[0], std::regex("&amp;"), "&"));
  EXPECT_EQ(sql("select count(*) from song; select count(*) from song_missing; select song_id from song_file;"
                "select song_id from song_file_stamp;"),
            "4\n0\n451\n451\n");
  EXPECT_NE(page("library.php", "").find("<td class=\"number\">4</td>"), std::string::npos) << "folder 2's songs";
}

}  // namespace
