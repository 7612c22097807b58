// How long the player takes to measure a library's backlog of 2,000 songs
// (MP3, 44.1 kHz stereo, 10 s each by default), and how many processor
// cores it keeps busy: one analyser against one per core. The backlog runs
// behind all other work, so on a machine busy with other work it gets what
// is left; the cores the whole machine left idle meanwhile tell whether the
// analysers waited for a core or for something of their own.
//
//   bench_library_analysis [SONGS] [SECONDS]

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>

#include "song_facts.h"
#include "support/library_fixture.h"

namespace fs = std::filesystem;

namespace {

double processor_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The machine's processor time so far, all of it and idle, from /proc/stat (jiffies).
std::pair<double, double> machine_time() {
  std::ifstream stat("/proc/stat");
  std::string cpu;
  double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
  return {user + nice + system + idle + iowait + irq + softirq + steal, idle + iowait};
}

// Measures the whole backlog with `analysers` (0: one per core); false when it did not end.
bool measure_all(const zv::test::LibraryFolder& library, unsigned analysers, int songs, double& wall, double& cpu) {
  library.sql("update song set file_size=0; delete from song_tags;");
  const double cpu_before = processor_seconds();
  const auto machine_before = machine_time();
  const auto started = std::chrono::steady_clock::now();
  {
    zv::player::SongFactsWorker worker(analysers);
    for (int waited = 0; library.sql("select count(*) from song where file_size=0;") != "0\n"; ++waited) {
      if (waited > 20 * 3600) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  cpu = processor_seconds() - cpu_before;
  const auto machine_after = machine_time();
  const double idle_share =
      (machine_after.second - machine_before.second) / std::max(1.0, machine_after.first - machine_before.first);
  std::printf(
      "%d songs measured in %.1f s by %s: %.1f songs a second, %.1f s of processor time, %.2f cores busy "
      "with analysis, %.2f cores left idle by the whole machine\n",
      songs, wall, analysers == 1 ? "one analyser" : "an analyser per core", songs / wall, cpu, cpu / wall,
      idle_share * std::thread::hardware_concurrency());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int songs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  zv::test::LibraryFolder library;
  if (!library.made()) return 1;
  const fs::path first = library.path() / "song0.mp3";
  const std::string command = "sox -n -r 44100 -c 2 -t wav - synth " + std::to_string(seconds) +
                              " pinknoise vol 0.3 | lame --quiet -b 192 - '" + first.string() + "'";
  if (std::system(command.c_str()) != 0) return 1;
  std::string rows;
  for (int i = 0; i < songs; ++i) {
    const fs::path song = library.path() / ("song" + std::to_string(i) + ".mp3");
    if (i > 0) fs::create_hard_link(first, song);
    rows += (rows.empty() ? "(1, '" : ", (1, '") + song.string() + "')";
  }
  library.sql("insert into song (song_dir_id, song_name) values " + rows + ";");
  std::printf("%d songs of %d s, %u processor cores\n", songs, seconds, std::thread::hardware_concurrency());
  double wall_one = 0, cpu_one = 0, wall_all = 0, cpu_all = 0;
  if (!measure_all(library, 1, songs, wall_one, cpu_one) || !measure_all(library, 0, songs, wall_all, cpu_all))
    return 1;
  std::printf("an analyser per core against one: %.2f of the time\n", wall_all / wall_one);
  return 0;
}
