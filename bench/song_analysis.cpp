// How fast a song is measured (loudness, true peak, length, where its sound
// begins and ends), as times real time on one core.
//
//   bench_song_analysis [SECONDS]     (default a 120 s stereo MP3 at 44.1 kHz)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "loudness_analysis.h"

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 120;
  const auto file = std::filesystem::temp_directory_path() / "bench_song_analysis.mp3";
  const std::string command = "sox -n -r 44100 -c 2 -t wav - synth " + std::to_string(seconds) +
                              " pinknoise vol 0.3 | lame --quiet -b 192 - '" + file.string() + "'";
  if (std::system(command.c_str()) != 0) return 1;
  const std::clock_t cpu_before = std::clock();
  const auto started = std::chrono::steady_clock::now();
  const auto measure = zv::player::measure_song(file.string());
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double cpu = static_cast<double>(std::clock() - cpu_before) / CLOCKS_PER_SEC;
  std::filesystem::remove(file);
  if (!measure) return 1;
  std::printf("measured %.1f s of MP3: %.1f LUFS, true peak %.1f dBTP\n", measure->seconds, measure->loudness_lufs,
              measure->true_peak_dbtp);
  std::printf("analysis: %.2f s elapsed, %.2f s of processor time = %.0f x real time per core\n", wall, cpu,
              measure->seconds / cpu);
  return 0;
}
