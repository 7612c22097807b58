// A file's way into the library: the real librarian follows a folder of the
// library holding SONGS files; a new file is written and closed, and the time
// until its song is in the library (read with SQLite every 2 ms) is taken.
// Beside it, in the same run, the anchor: the time from the same closing to
// a bare inotify watch of the folder seeing it. Prints both medians and p90s.
//
//   bench_library_follow [ROUNDS [SONGS]]     (default 20 rounds, 1,000 songs)

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/library_fixture.h"
#include "support/server_harness.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size() - 1)))];
}

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void write_file(const fs::path& file) { std::ofstream(file, std::ios::binary) << file.filename().string(); }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int songs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;
  zv::testing::TempDir root;
  const fs::path server = root.path() / "server";
  const fs::path music = root.path() / "music/";
  if (!zv::test::make_library(server)) {
    std::fprintf(stderr, "bench_library_follow: cannot make the library\n");
    return 1;
  }
  fs::create_directories(music);
  std::string values;
  for (int i = 1; i <= songs; ++i) {
    const fs::path file = music / ("song " + std::to_string(i) + ".mp3");
    write_file(file);
    values += (i > 1 ? ", (" : "(") + std::to_string(i) + ", 1, '" + file.string() + "')";
  }
  zv::test::library_sql(server, "insert into song_dir (song_dir_id, dir_order, dir_name) values (1, 1, '" +
                                    music.string() + "'); insert into song (song_id, song_dir_id, song_name) values " +
                                    values);
  zv::testing::ServerProcess librarian(server, zv::test::odbc_environment(), ZV_LIBRARIAN_BINARY);
  if (!librarian.wait_for_console("Librarian: full look", std::chrono::seconds(120))) {
    std::fprintf(stderr, "the librarian did not look:\n%s", librarian.console().c_str());
    return 1;
  }
  const int watch = ::inotify_init1(IN_CLOEXEC);
  ::inotify_add_watch(watch, music.c_str(), IN_CLOSE_WRITE);

  std::vector<double> in_library, seen;
  for (int round = 0; round < rounds; ++round) {
    const fs::path file = music / ("new " + std::to_string(round) + ".mp3");
    const auto start = Clock::now();
    write_file(file);
    alignas(inotify_event) char event[sizeof(inotify_event) + 256];
    if (::read(watch, event, sizeof event) > 0) seen.push_back(ms_since(start));
    const std::string query = "select count(*) from song where song_name='" + file.string() + "'";
    while (zv::test::library_sql(server, query) != "1\n") {
      if (ms_since(start) > 60000) {
        std::fprintf(stderr, "%s did not reach the library in 60 s\n", file.c_str());
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    in_library.push_back(ms_since(start));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // each file a change of its own
  }
  ::close(watch);
  std::printf("a file's way into the library, %d songs in the folder, %d files:\n", songs, rounds);
  std::printf("  written to in the library  median %7.1f ms   p90 %7.1f ms\n", percentile(in_library, 0.5),
              percentile(in_library, 0.9));
  std::printf("  written to seen by a watch median %7.1f ms   p90 %7.1f ms\n", percentile(seen, 0.5),
              percentile(seen, 0.9));
  return 0;
}
