// How fast songs' tags are read, beside the loudness measure they are read
// with: tags read per second over many files, the measure's time per file of
// the same songs, and what reading the tags adds to the measure.
//
//   bench_song_tags [FILES] [SONGS] [SECONDS]   (default 20000 files of 20 songs of 60 s)
//
// The files are links to the songs (MP3s made by lame, each with its own
// tags), so the folder stays small; every file is opened and read as the
// player reads it. The measure is taken once per song: a link measures as
// its song does.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "loudness_analysis.h"
#include "song_tags.h"

namespace fs = std::filesystem;

namespace {

double processor_seconds(std::clock_t since) { return static_cast<double>(std::clock() - since) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
  const int songs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  const int seconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 60;
  const fs::path folder = fs::temp_directory_path() / ("bench_song_tags-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  std::vector<std::string> made;
  for (int i = 0; i < songs; ++i) {
    const std::string song = (folder / ("song" + std::to_string(i) + ".mp3")).string();
    const std::string command = "sox -V1 -n -r 44100 -c 2 -t wav - synth " + std::to_string(seconds) +
                                " pinknoise vol 0.3 | lame --quiet -b 192 --ta 'Artist " + std::to_string(i) +
                                "' --tt 'Title " + std::to_string(i) + "' --tl Album --ty 2020 --tv TSRC=USABC2000" +
                                std::to_string(100 + i) + " - '" + song + "'";
    if (std::system(command.c_str()) != 0) return 1;
    made.push_back(song);
  }
  std::vector<std::string> paths;
  for (int i = 0; i < files; ++i) {
    const fs::path link = folder / ("file" + std::to_string(i) + ".mp3");
    fs::create_hard_link(made[i % songs], link);
    paths.push_back(link.string());
  }

  std::clock_t started = std::clock();
  int tagged = 0;
  for (const std::string& path : paths) {
    const auto tags = zv::player::read_song_tags(path);
    tagged += tags && !tags->title.empty();
  }
  const double tags_cpu = processor_seconds(started);

  started = std::clock();
  double measured_seconds = 0;
  for (const std::string& song : made) {
    if (const auto measure = zv::player::measure_song(song)) measured_seconds += measure->seconds;
  }
  const double measure_cpu = processor_seconds(started) / songs;
  fs::remove_all(folder);
  if (tagged != files) return 1;

  const double tags_per_file = tags_cpu / files;
  std::printf("tags: %d files in %.2f s of processor time = %.0f files/s (%.3f ms a file)\n", files, tags_cpu,
              files / tags_cpu, tags_per_file * 1000);
  std::printf("measure (anchor): %.3f s of processor time a file of %d s = %.0f x real time per core\n", measure_cpu,
              seconds, measured_seconds / songs / measure_cpu);
  std::printf("tags add %.3f %% to the measure of the same files (aim: under 5 %%)\n",
              100 * tags_per_file / measure_cpu);
  return 0;
}
