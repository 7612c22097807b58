// The pages an operator opens on a large library, through the real server:
// library.php's search (part of a file name, a tag in another letter case, a
// phrase in every name, two letters and one letter), one folder's first and
// a deep page, and history.php's month of plays.
// Libraries of 1,000, 100,000 and 1,000,000 songs in 20 folders, half of
// them tagged, and a month of plays (one every 3.5 minutes). Beside each
// page, in the same run, the anchor: SQLite's C interface running the
// cheapest queries that give the same page (its rows, with the tags for a
// song page, the chart's bars for the month), and an empty page through the
// same server, the floor of every page. Wall times are medians; the bytes
// are the whole reply.
//
//   bench_library_pages [RUNS [SIZE...]]   (default 7 runs; 1000 100000 1000000)
//
// A made library is kept in the temporary folder (zv-bench-pages-SIZE) and
// used again by the next run while schema.sql is unchanged: the million
// songs' index takes minutes to make.

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/library_fixture.h"
#include "support/server_harness.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int FOLDERS = 20;
constexpr long MONTH_START = 1583020800;  // 2020-03-01 00:00 UTC
constexpr int PLAYS = 30 * 24 * 60 * 60 / 210;

std::string read_text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  std::fprintf(stderr, "bench_library_pages: %s\n", message ? message : "?");
  sqlite3_free(message);
  return false;
}

// The library of `songs` songs, made once per schema: its base2.mdb.
fs::path library_of(int songs) {
  const std::string schema = read_text(fs::path(ZV_SOURCE_DIR) / "station/schema.sql");
  const fs::path folder = fs::temp_directory_path() / ("zv-bench-pages-" + std::to_string(songs));
  const fs::path library = folder / "base2.mdb";
  if (read_text(folder / "schema.sql") == schema && fs::exists(library)) return library;
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::printf("making the library of %d songs...\n", songs);
  std::fflush(stdout);
  const std::string n = std::to_string(songs - 1);
  sqlite3* db = nullptr;
  sqlite3_open((folder / "base2.mdb").c_str(), &db);
  const bool made =
      exec(db, "pragma journal_mode=wal;") && exec(db, schema) &&
      exec(db,
           "begin;"
           "with recursive f(i) as (select 1 union all select i + 1 from f where i < " +
               std::to_string(FOLDERS) +
               ") insert into song_dir (song_dir_id, dir_order, dir_name) select i, i, '/music/' || i || '/' from f;"
               // Tags first, so the songs' index rows are written once.
               "with recursive s(i) as (select 1 union all select i + 1 from s where i <= " +
               n +
               ") insert into song_tags (song_id, file_size, file_mtime, title, artist, album) select i, 1, 1, "
               "'Title ' || i, 'Künstler ' || (i % 3000), 'Album ' || (i % 9000) from s where i % 2 = 0;"
               "with recursive s(i) as (select 1 union all select i + 1 from s where i <= " +
               n +
               ") insert into song (song_id, song_dir_id, song_name, play_count, file_size, sec_count) select i, "
               "i % 20 + 1, '/music/' || (i % 20 + 1) || '/Artist ' || (i % 5000) || ' - Song number ' || i || "
               "'.mp3', i % 7, 4000000, 210 from s;"
               "with recursive p(i) as (select 0 union all select i + 1 from p where i < " +
               std::to_string(PLAYS - 1) +
               ") insert into play_record (play_key, started, ended, song_id, song_name, dir_name, source, outcome) "
               "select 'k' || i, " +
               std::to_string(MONTH_START) + " + i * 210, " + std::to_string(MONTH_START) +
               " + i * 210 + 205, i * 7919 % " + std::to_string(songs) +
               " + 1, 'Song number ' || i || '.mp3', '/music/1/', 'scheduled', 'played' from p;"
               "insert into play_detail (play_key, listeners_start, listeners_peak, listener_seconds) "
               "select play_key, play_id % 40, play_id % 50, 2000 from play_record;"
               "commit;"
               // Indexed for the search in one go, as a library made before the search is.
               "delete from song_search_pending; insert into song_search (rowid, name, artist, title, album) "
               "select song_id, name, artist, title, album from song_search_source;"
               "insert into song_search (song_search) values ('optimize');");
  sqlite3_close(db);
  if (!made) return {};
  std::ofstream(folder / "schema.sql", std::ios::binary) << schema;
  return library;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The anchor: the page's own queries, each prepared and stepped to its end.
double anchor_ms(sqlite3* db, const std::vector<std::string>& queries) {
  const auto start = Clock::now();
  for (const std::string& sql : queries) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(statement); ++i) sqlite3_column_text(statement, i);
    }
    sqlite3_finalize(statement);
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Page {
  const char* what;
  std::string request;              // path and query
  std::vector<std::string> anchor;  // the cheapest queries for the same page
};

const std::string SONG_COLUMNS =
    "select s.song_id, s.song_name, s.play_count, s.song_dir_id, s.sec_count, s.replay_gain, s.file_size from song s ";
const std::string SONG_ORDER = " order by s.song_name, s.song_id limit 201";
// Every view of library.php lists a page of folders with their songs.
const std::string FOLDER_LIST =
    "select d.*, (select c.songs from folder_songs c where c.song_dir_id = d.song_dir_id) from song_dir d "
    "order by d.dir_order, d.song_dir_id limit 201";
const std::string PAGE_TAGS =
    "select * from song_tags where song_id in (select s.song_id from song s where s.song_dir_id=7" + SONG_ORDER + ")";

std::vector<Page> pages_of(int songs) {
  const std::string deep = "/music/7/Artist " + std::to_string(std::min(4000, songs / 3));
  const std::string month =
      "r.started >= " + std::to_string(MONTH_START) + " and r.started < " + std::to_string(MONTH_START + 31L * 86400);
  return {
      // The floor: what any page costs, the interpreter's start through the server.
      {"an empty page (floor)", "floor.php", {}},
      {"search, a file name",
       "library.php?search=number%204242",
       {SONG_COLUMNS + "where s.song_id in (select rowid from song_search where song_search match '\"number 4242\"')" +
            SONG_ORDER,
        FOLDER_LIST}},
      {"search, a tag in capitals",
       "library.php?search=K%C3%9CNSTLER%2012",
       {SONG_COLUMNS + "where s.song_id in (select rowid from song_search where song_search match '\"künstler 12\"')" +
            SONG_ORDER,
        FOLDER_LIST}},
      // Every song's name holds "Song number 1", or one in nine: trigrams
      // common to all songs.
      {"search, in every name",
       "library.php?search=song%20number%201",
       {SONG_COLUMNS +
            "where s.song_id in (select rowid from song_search where song_search match '\"song number 1\"')" +
            SONG_ORDER,
        FOLDER_LIST}},
      // Two letters no song holds, and one that half the songs hold (in
      // either case): terms of the index that begin with them, then the
      // songs, or the walk in name order that soon fills the page.
      {"search, two letters",
       "library.php?search=zq",
       {"select term from song_search_terms where term >= 'zq' and term < 'zq' || char(1114111)", FOLDER_LIST}},
      {"search, one letter",
       "library.php?search=%C3%9C",
       {"select term from song_search_terms where term >= 'ü' and term < 'ü' || char(1114111)",
        SONG_COLUMNS +
            "where exists (select 1 from song_search f where f.rowid = s.song_id and instr(f.name || f.artist || "
            "f.title || f.album, 'ü') > 0)" +
            SONG_ORDER,
        FOLDER_LIST}},
      {"a folder, first page",
       "library.php?show=7",
       {SONG_COLUMNS + "where s.song_dir_id=7" + SONG_ORDER, PAGE_TAGS, FOLDER_LIST}},
      {"a folder, deep page",
       "library.php?show=7&after_song_name=" + deep + "&after_song_id=" + std::to_string(songs),
       {SONG_COLUMNS + "where s.song_dir_id=7 and (s.song_name, s.song_id) > ('" + deep + "', " +
            std::to_string(songs) + ")" + SONG_ORDER,
        FOLDER_LIST}},
      {"history, a month",
       "history.php?month=2020-03",
       {"select r.play_id, r.started, r.ended, r.song_name, d.title, d.listeners_peak from play_record r left join "
        "play_detail d on d.play_key = r.play_key where " +
            month + " order by r.started, r.play_id limit 201",
        "select r.started, max(d.listeners_peak) from play_record r join play_detail d on d.play_key = r.play_key "
        "where " +
            month + " group by (r.started - " + std::to_string(MONTH_START) + ") * 600 / 2678400"}},
  };
}

std::string encoded_spaces(std::string text) {
  for (std::size_t at; (at = text.find(' ')) != std::string::npos;) text.replace(at, 1, "%20");
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  namespace test = zv::test;
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {1000, 100000, 1000000};
  if (!zv::testing::enter_private_network()) std::printf("(no network namespace: 127.0.0.1:8080 must be free)\n");

  std::printf("%-28s %9s %10s %10s %12s %10s %8s\n", "page", "songs", "bytes", "server ms", "above floor", "SQLite ms",
              "ratio");
  for (const int songs : sizes) {
    const fs::path library = library_of(songs);
    if (library.empty()) return 1;
    zv::testing::Station station;
    station.link_php_cgi();
    if (!test::make_library(station.server())) return 1;
    fs::remove(station.server() / "base2.mdb");
    fs::create_symlink(library, station.server() / "base2.mdb");
    fs::copy(fs::path(ZV_SOURCE_DIR) / "station/www", station.www(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    station.write_script("floor.php", "<?php echo '<html></html>';");
    // The pages get none of this environment: the server runs where this
    // process's library registration stands in for /etc's.
    const fs::path wrapper = station.root.path() / "server-with-library";
    std::ofstream(wrapper) << "#!/bin/sh\nexec unshare --mount --propagation private sh -c 'mount --bind "
                              "\"$1/odbcinst.ini\" /etc/odbcinst.ini && mount --bind \"$1/odbc.ini\" /etc/odbc.ini "
                              "&& exec \"$2\"' sh '"
                           << test::use_test_odbc_registration().string() << "' '" << ZV_SERVER_BINARY << "'\n";
    fs::permissions(wrapper, fs::perms::owner_all);
    zv::testing::ServerProcess server(station.server(), std::nullopt, wrapper.c_str());
    if (!server.wait_until_listening()) return 1;
    sqlite3* db = nullptr;
    sqlite3_open_v2(library.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    double floor = 0;
    for (const Page& page : pages_of(songs)) {
      std::vector<double> ours, theirs;
      std::size_t bytes = 0;
      for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        const std::string reply =
            zv::testing::http_exchange("GET /" + encoded_spaces(page.request) + " HTTP/1.0\r\n\r\n");
        ours.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        bytes = reply.size();
        if (run == 0 && reply.find("</html>") == std::string::npos)
          std::printf("  (%s: the page did not come whole)\n", page.what);
        theirs.push_back(anchor_ms(db, page.anchor));
      }
      if (page.anchor.empty()) floor = median(ours);
      std::printf("%-28s %9d %10zu %10.1f %12.1f %10.2f %8.1f\n", page.what, songs, bytes, median(ours),
                  median(ours) - floor, median(theirs), page.anchor.empty() ? 0.0 : median(ours) / median(theirs));
      std::fflush(stdout);
    }
    sqlite3_close(db);
  }
  return 0;
}
