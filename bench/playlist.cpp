// The playlist of the coming hour on large libraries: 100,000 and 1,000,000
// songs in 20 folders, a schedule entry with all 20 folders for every hour,
// 10 songs x 16 positions, play counts spread over 0-6 as after a few days on
// air (folder f played f mod 7 times). At each size two libraries: the
// folders' songs stored together (as an import stores them) and spread (song
// i in folder i mod 20, so every folder is on every page). Beside the
// builder, in the same run, the anchor: the same songs taken by SQLite itself
// (its C interface, the builder's plan over the same lists, each statement
// prepared once, columns read only where a song is taken; whether its songs
// are the builder's is printed).
// Beside them the player's fill of the hour (its own statements, the songs
// it takes), from a fresh connection as the player makes it each hour and on
// the connection left open. Builds alternate in turns; processor times of
// this thread (medians) and the ratios are printed.
//
//   bench_playlist [RUNS [STEPAPI]]   (default 15 per library; STEPAPI, 0 or
//                                      1, replaces the data source's setting)
//
// The library's narration goes to a file (counted) and then to /dev/null.

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "library/query.h"
#include "platform/narration_batch.h"
#include "playlist/playlist_builder.h"
#include "playlist/playlist_plan.h"
#include "playlist/schedule.h"
#include "schedule_fill.h"
#include "support/direct_song_lists.h"
#include "support/library_fixture.h"

namespace {

namespace fs = std::filesystem;

constexpr int FOLDERS = 20;
constexpr int SONGS_PER_POSITION = 10;
constexpr int POSITIONS = 16;

// Points standard output, where the library narrates, at `path`.
void narrate_to(const char* path) {
  std::fflush(stdout);
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, STDOUT_FILENO);
  ::close(fd);
}

int count_of(const std::string& text, const std::string& needle) {
  int count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

// Processor time of this thread in ms, so that a busy machine does not count.
double cpu_millis() {
  timespec time{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
  return static_cast<double>(time.tv_sec) * 1e3 + static_cast<double>(time.tv_nsec) / 1e6;
}

double millis_since(double start) { return cpu_millis() - start; }

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Folder f plays f mod 7 times, its songs 0 to 6 times. `folder_of` and
// `plays_of` are SQL over the song number i.
std::string library_setup(int songs, const std::string& folder_of, const std::string& plays_of) {
  return "with recursive h(i) as (select 0 union all select i + 1 from h where i < 23) "
         "insert into playlist_info (playinfo_id, play_time, week_days) select i + 1, i, 128 from h;"
         "with recursive f(i) as (select 1 union all select i + 1 from f where i < " +
         std::to_string(FOLDERS) +
         ") insert into song_dir (song_dir_id, dir_order, dir_name, play_count, dir_color, dir_bgcolor) "
         "select i, i, '/music/' || i || '/', i % 7, i * 4000, i * 800000 from f;"
         "insert into playlist (playinfo_id, song_dir_id, dir_order) select p.playinfo_id, d.song_dir_id, "
         "d.dir_order from playlist_info p, song_dir d;"
         "with recursive s(i) as (select 0 union all select i + 1 from s where i < " +
         std::to_string(songs - 1) + ") insert into song (song_dir_id, song_name, play_count) select " + folder_of +
         ", '/music/' || (" + folder_of + ") || '/Song number ' || i || '.mp3', " + plays_of + " from s;";
}

// The builder's songs taken by SQLite directly: the folders of the hour's
// entry, then the builder's own plan over its lists, each list's statements
// prepared once and stepped through, a row's columns read only where a song
// is taken. The plan it gives.
zv::PlaylistPlan anchor_build(zv::test::DirectSongLists& lists, sqlite3* db, int hour) {
  sqlite3_stmt* folders = nullptr;
  sqlite3_prepare_v2(db,
                     "select song_dir.song_dir_id, song_dir.play_count from playlist join song_dir on "
                     "playlist.song_dir_id=song_dir.song_dir_id where playlist.playinfo_id=(select playinfo_id "
                     "from playlist_info where play_time=?1 and is_enable=1) and playlist.is_enable=1 order by "
                     "playlist.dir_order",
                     -1, &folders, nullptr);
  sqlite3_bind_int(folders, 1, hour);
  std::vector<zv::PlaylistFolder> entry;
  while (sqlite3_step(folders) == SQLITE_ROW) {
    zv::PlaylistFolder folder;
    folder.song_dir_id = sqlite3_column_int(folders, 0);
    folder.play_count = sqlite3_column_int(folders, 1);
    entry.push_back(folder);
  }
  sqlite3_finalize(folders);
  return zv::plan_positions(lists, std::move(entry), SONGS_PER_POSITION, POSITIONS);
}

// The songs of a plan, by id, in order.
std::vector<std::int32_t> song_ids(const zv::PlaylistPlan& plan) {
  std::vector<std::int32_t> ids;
  for (const zv::PlannedPosition& position : plan.positions)
    for (const zv::PlannedSong& song : position.songs) ids.push_back(song.id);
  return ids;
}

struct Library {
  std::string name;
  int size = 0;
  fs::path folder;
  std::vector<double> builder, anchor, fill_fresh, fill_open;
  int statements = 0, songs = 0, anchor_songs = 0, fill_songs = 0;
  bool same_songs = false;
  unsigned bytes = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  const fs::path work = fs::temp_directory_path() / ("zv-bench-playlist-" + std::to_string(::getpid()));
  const std::string folders = std::to_string(FOLDERS);
  std::vector<Library> libraries;
  for (const int size : {100000, 1000000}) {
    const std::string per_folder = std::to_string(size / FOLDERS);
    const std::string setups[] = {library_setup(size, "i / " + per_folder + " + 1", "i % 7"),
                                  library_setup(size, "i % " + folders + " + 1", "(i / " + folders + ") % 7")};
    for (int layout = 0; layout < 2; ++layout) {
      Library library;
      library.name = std::to_string(size) + (layout == 0 ? " songs, stored together" : " songs, spread");
      library.size = size;
      library.folder = work / (std::to_string(size) + "-" + std::to_string(layout));
      const std::string failed = zv::test::make_library(library.folder)
                                     ? zv::test::library_sql(library.folder, setups[layout])
                                     : std::string("cannot make the library");
      if (!failed.empty()) {
        std::fprintf(stderr, "bench_playlist: %s\n", failed.c_str());
        return 1;
      }
      libraries.push_back(std::move(library));
    }
  }
  const std::string step = argc > 2 ? argv[2] : "as registered";
  if (argc > 2) zv::test::set_data_source_option("StepAPI", step);
  const fs::path original = fs::current_path();
  const std::string narration = (work / "narration.txt").string();
  const int hour = zv::coming_hour(zv::get_local_time()).hour;

  for (int run = 0; run < runs; ++run) {
    for (Library& library : libraries) {
      fs::current_path(library.folder);
      if (run == 0) narrate_to(narration.c_str());
      zv::FormBody first;
      library.songs = zv::build_playlist(first, SONGS_PER_POSITION, POSITIONS);  // opens the connection
      if (run == 0) {
        std::fflush(stdout);
        std::stringstream text;
        text << std::ifstream(narration).rdbuf();
        library.statements = count_of(text.str(), "SQL query:");
        library.bytes = first.length();
        narrate_to("/dev/null");
      }
      zv::FormBody body;
      auto start = cpu_millis();
      {
        const zv::NarrationBatch batch;  // as the server's connection narrates it
        zv::build_playlist(body, SONGS_PER_POSITION, POSITIONS);
      }
      library.builder.push_back(millis_since(start));
      zv::close_library();

      // The player's fill: it closes the connection after each hour.
      const zv::ComingHour now = zv::current_hour(zv::get_local_time());
      start = cpu_millis();
      library.fill_songs = static_cast<int>(zv::player::hour_songs({}, 0, now).size());
      zv::close_library();
      library.fill_fresh.push_back(millis_since(start));
      zv::player::hour_songs({}, 0, now);
      start = cpu_millis();
      zv::player::hour_songs({}, 0, now);
      library.fill_open.push_back(millis_since(start));
      zv::close_library();

      sqlite3* db = nullptr;
      sqlite3_open_v2((library.folder / "base2.mdb").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
      {
        zv::test::DirectSongLists lists(library.folder);
        const zv::PlaylistPlan first_plan =
            anchor_build(lists, db, hour);  // warms the cache, as the builder's first build does
        if (run == 0) {
          library.same_songs =
              song_ids(first_plan) ==
              song_ids(zv::plan_playlist(SONGS_PER_POSITION, POSITIONS, zv::coming_hour(zv::get_local_time())));
          zv::close_library();
        }
        start = cpu_millis();
        library.anchor_songs = anchor_build(lists, db, hour).song_count();
        library.anchor.push_back(millis_since(start));
      }
      sqlite3_close(db);
    }
  }
  fs::current_path(original);

  std::fprintf(stderr,
               "build_playlist, songs in %d folders, %d songs x %d positions, median of %d, data source StepAPI %s:\n",
               FOLDERS, SONGS_PER_POSITION, POSITIONS, runs, step.c_str());
  for (const Library& library : libraries) {
    const double ours = median(library.builder);
    const double anchor = median(library.anchor);
    std::fprintf(stderr,
                 "  %-30s builder %6.1f ms (%d statements, %d songs, %u bytes)   SQLite directly %5.1f ms (%d songs, "
                 "%s)   ratio %.1f\n",
                 library.name.c_str(), ours, library.statements, library.songs, library.bytes, anchor,
                 library.anchor_songs, library.same_songs ? "the same" : "OTHER SONGS", ours / anchor);
    const double fresh = median(library.fill_fresh);
    const double open = median(library.fill_open);
    std::fprintf(stderr,
                 "  %-30s player's fill %5.1f ms from a fresh connection, %5.1f ms on an open one (%d songs)"
                 "   builder / fill %.1f   fill / SQLite directly %.1f\n",
                 "", fresh, open, library.fill_songs, ours / fresh, fresh / anchor);
  }
  fs::remove_all(work);
  return 0;
}
