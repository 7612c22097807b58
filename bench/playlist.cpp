// The playlist of the coming hour on a large library: 100,000 songs in 20
// folders, a schedule entry with all 20 folders for every hour. Reports the
// median time of one build and how many statements a build runs.
//
//   bench_playlist [RUNS]        (default 15)
//
// The library's narration goes to a file (counted) and then to /dev/null;
// the figures go to standard error.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "../tests/unit/library_fixture.h"
#include "playlist/playlist_builder.h"

namespace {

constexpr int FOLDERS = 20;
constexpr int SONGS = 100000;

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

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  zv::test::LibraryFolder library;
  if (!library.made()) {
    std::fprintf(stderr, "bench_playlist: cannot make the library\n");
    return 1;
  }
  // Folder f plays 1 time; its songs 0, 1 or 2 times, so every list is long.
  std::string setup =
      "with recursive h(i) as (select 0 union all select i + 1 from h where i < 23) "
      "insert into playlist_info (playinfo_id, play_time, week_days) select i + 1, i, 128 from h;"
      "with recursive f(i) as (select 1 union all select i + 1 from f where i < " + std::to_string(FOLDERS) + ") "
      "insert into song_dir (song_dir_id, dir_order, dir_name, play_count, dir_color, dir_bgcolor) "
      "select i, i, '/music/' || i || '/', 1, i * 4000, i * 800000 from f;"
      "insert into playlist (playinfo_id, song_dir_id, dir_order) select p.playinfo_id, d.song_dir_id, d.dir_order "
      "from playlist_info p, song_dir d;"
      "with recursive s(i) as (select 0 union all select i + 1 from s where i < " + std::to_string(SONGS - 1) + ") "
      "insert into song (song_dir_id, song_name, play_count) select i % " + std::to_string(FOLDERS) +
      " + 1, '/music/' || (i % " + std::to_string(FOLDERS) + " + 1) || '/Song number ' || i || '.mp3', (i / " +
      std::to_string(FOLDERS) + ") % 3 from s;";
  const std::string failed = library.sql(setup);
  if (!failed.empty()) {
    std::fprintf(stderr, "bench_playlist: %s\n", failed.c_str());
    return 1;
  }

  const std::string narration = (library.path() / "narration.txt").string();
  narrate_to(narration.c_str());
  zv::FormBody first;
  const int songs = zv::build_playlist(first, 10, 16);  // also opens the connection
  std::fflush(stdout);
  std::stringstream text;
  text << std::ifstream(narration).rdbuf();
  const int statements = count_of(text.str(), "SQL query:");

  narrate_to("/dev/null");
  // Wall time, and processor time, which a busy machine disturbs less.
  std::vector<double> times, cpu_times;
  for (int i = 0; i < runs; ++i) {
    zv::FormBody body;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu_start = std::clock();
    zv::build_playlist(body, 10, 16);
    cpu_times.push_back(1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC);
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  std::sort(cpu_times.begin(), cpu_times.end());
  std::fprintf(stderr,
               "build_playlist, %d songs in %d folders, 10 songs x 16 positions:\n"
               "  median %.1f ms over %d builds (fastest %.1f ms, slowest %.1f ms), processor time %.1f ms\n"
               "  %d statements per build, %d songs and %u bytes appended\n",
               SONGS, FOLDERS, times[times.size() / 2], runs, times.front(), times.back(), cpu_times[cpu_times.size() / 2], statements, songs,
               first.length());
  return 0;
}
