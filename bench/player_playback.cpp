// The station player on air: the gap between songs, measured in what an
// ALSA device of the bench's own heard, and the player's processor time while
// playing, as a percentage of one core.
//
//   bench_player_playback [SONGS]     (default 8 songs of 2 s)
//
// Songs are tones of 440, 660 and 880 Hz in turn, ".wav" and ".mp3" in turn,
// handed to the player's window as the server hands them off.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../tests/unit/library_fixture.h"
#include "../tests/unit/receiving_window.h"
#include "audio_recording.h"
#include "platform/window_messages.h"
#include "player_window/protocol.h"
#include "server_harness.h"

namespace zt = zv::testing;
using namespace std::chrono_literals;

int main(int argc, char** argv) {
  const int songs = argc > 1 ? std::max(2, std::atoi(argv[1])) : 8;
  zv::test::PrivateWindowFolder windows;
  zt::Station station;
  if (!zv::test::make_library(station.server())) {
    std::fprintf(stderr, "bench_player_playback: the library could not be made\n");
    return 1;
  }
  zt::AudioRecorder recorder(station.root.path() / "out.fifo");
  const auto config = station.root.path() / "asound.conf";
  std::ofstream(config) << zt::recorded_device_config("!default", recorder);
  ::setenv("ALSA_CONFIG_PATH", config.c_str(), 1);

  std::vector<std::string> paths;
  const int tones[] = {440, 660, 880};
  for (int i = 0; i < songs; ++i) {
    const auto path = station.root.path() / ("song" + std::to_string(i) + (i % 2 ? ".mp3" : ".wav"));
    const std::string command = "sox -n -r 44100 -c 2 '" + path.string() + "' synth 2 sine " +
                                std::to_string(tones[i % 3]) + " vol 0.5";
    if (std::system(command.c_str()) != 0) return 1;
    paths.push_back(path.string());
    zv::test::library_sql(station.server(), "insert into song (song_dir_id, song_name) values (0, '" + path.string() + "');");
  }

  zt::ServerProcess player(station.server(), std::nullopt, ZV_PLAYER_BINARY);
  if (!player.wait_for_console("Station player: window \"Zentavio Player\" open")) {
    std::fprintf(stderr, "%s", player.console().c_str());
    return 1;
  }
  const zv::WindowHandle window = zv::find_window(zv::PLAYER_WINDOW_CAPTION);
  zv::send_copy_data(window, 0, zv::COPYDATA_LIST_BEGIN, 1, nullptr, zv::PLAYER_ANSWER_TIMEOUT_MS);
  for (const auto& path : paths) {
    std::u16string text(path.begin(), path.end());
    zv::send_copy_data(window, 0, zv::COPYDATA_LIST_ITEM, static_cast<std::uint32_t>(2 * (text.size() + 1)),
                       text.c_str(), zv::PLAYER_ANSWER_TIMEOUT_MS);
  }
  zv::send_copy_data(window, 0, zv::COPYDATA_LIST_END, 1, nullptr, zv::PLAYER_ANSWER_TIMEOUT_MS);

  if (!player.wait_for_console("On air: ", 10s)) return 1;
  const long ticks_before = player.cpu_ticks();
  const auto started = std::chrono::steady_clock::now();
  if (!player.wait_for_console("Play counted: ", std::chrono::seconds(10 + 3 * songs), songs)) {
    std::fprintf(stderr, "%s", player.console().c_str());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double cpu = static_cast<double>(player.cpu_ticks() - ticks_before) / static_cast<double>(::sysconf(_SC_CLK_TCK));

  const auto samples = recorder.left_channel();
  const auto heard = zt::tones_heard(samples);
  double worst = 0, total = 0;
  for (std::size_t i = 1; i < heard.size(); ++i) {
    const double gap = zt::gap_ms(samples, heard[i - 1], heard[i]);
    worst = std::max(worst, gap);
    total += gap;
  }
  std::printf("songs handed off: %d, tones heard: %zu\n", songs, heard.size());
  if (heard.size() > 1) {
    std::printf("gap between songs: mean %.1f ms, largest %.1f ms\n", total / static_cast<double>(heard.size() - 1),
                worst);
  }
  std::printf("player processor time while playing: %.2f s in %.1f s = %.1f %% of one core\n", cpu, seconds,
              100.0 * cpu / seconds);
  return heard.size() == static_cast<std::size_t>(songs) ? 0 : 1;
}
