// The station player's resident memory over thousands of short songs: it
// must stay flat, whatever the number of songs played. Songs are handed to
// the player's window a few at a time, as the server hands them off, and play
// on an ALSA device of the bench's own, the first half crossfaded (3 s, so
// each overlap is half the song) and the second half not.
//
//   bench_player_memory [SONGS]     (default 3000 songs of 0.2 to 0.5 s)

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/window_messages.h"
#include "player_window/protocol.h"
#include "support/audio_recording.h"
#include "support/library_fixture.h"
#include "support/receiving_window.h"
#include "support/server_harness.h"

namespace zt = zv::testing;
using namespace std::chrono_literals;

namespace {

long resident_kb(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
  }
  return 0;
}

void hand_off(const std::vector<std::string>& paths) {
  const zv::WindowHandle window = zv::find_window(zv::PLAYER_WINDOW_CAPTION);
  zv::send_copy_data(window, 0, zv::COPYDATA_LIST_BEGIN, 1, nullptr, zv::PLAYER_ANSWER_TIMEOUT_MS);
  for (const auto& path : paths) {
    const std::u16string text(path.begin(), path.end());
    zv::send_copy_data(window, 0, zv::COPYDATA_LIST_ITEM, static_cast<std::uint32_t>(2 * (text.size() + 1)),
                       text.c_str(), zv::PLAYER_ANSWER_TIMEOUT_MS);
  }
  zv::send_copy_data(window, 0, zv::COPYDATA_LIST_END, 1, nullptr, zv::PLAYER_ANSWER_TIMEOUT_MS);
}

}  // namespace

int main(int argc, char** argv) {
  const int songs = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 3000;
  constexpr int BATCH = 20;
  zv::test::PrivateWindowFolder windows;
  zt::Station station;
  if (!zv::test::make_library(station.server())) {
    std::fprintf(stderr, "bench_player_memory: the library could not be made\n");
    return 1;
  }
  zt::AudioRecorder recorder(station.root.path() / "out.fifo");
  const auto config = station.root.path() / "asound.conf";
  std::ofstream(config) << zt::recorded_device_config("!default", recorder);
  ::setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
  const auto settings = station.server() / "sound_settings.txt";
  std::ofstream(settings) << "crossfade_s=3\n";

  // Six songs, wav and mp3, mono and stereo, 0.2 to 0.5 s, played in turn.
  std::vector<std::string> files;
  for (int i = 0; i < 6; ++i) {
    const auto path = station.root.path() / ("song" + std::to_string(i) + (i % 2 ? ".mp3" : ".wav"));
    const std::string command = "sox -n -r " + std::string(i % 3 ? "44100" : "48000") + " -c " + (i < 3 ? "1" : "2") +
                                " '" + path.string() + "' synth 0." + std::to_string(2 + i * 3 / 5) + " sine " +
                                std::to_string(440 + 110 * i) + " vol 0.5";
    if (std::system(command.c_str()) != 0) return 1;
    files.push_back(path.string());
  }

  zt::ServerProcess player(station.server(), std::nullopt, ZV_PLAYER_BINARY);
  if (!player.wait_for_console("Station player: window \"Zentavio Player\" open")) {
    std::fprintf(stderr, "%s", player.console().c_str());
    return 1;
  }
  const std::string ended = "Not in the library, no play count: ";
  int sent = 0;
  const auto started = std::chrono::steady_clock::now();
  long rss_start = 0, rss_1000 = 0;
  for (int played = 0; played < songs;) {
    if (sent < songs && sent - played < BATCH) {
      std::vector<std::string> batch;
      for (; sent < songs && batch.size() < BATCH; ++sent) batch.push_back(files[static_cast<std::size_t>(sent) % 6]);
      hand_off(batch);
    }
    const int next = std::min(songs, played + BATCH / 2);
    if (!player.wait_for_console(ended, 60s, next)) {
      std::fprintf(stderr, "bench_player_memory: %d songs played, no more\n%s", played, player.console().c_str());
      return 1;
    }
    played = next;
    if (played >= 20 && !rss_start) rss_start = resident_kb(player.pid());
    if (played >= 1000 && !rss_1000) rss_1000 = resident_kb(player.pid());
    if (played >= songs / 2) std::ofstream(settings) << "crossfade_s=0\n";
  }
  const long rss_end = resident_kb(player.pid());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("songs: %d of 0.2 to 0.5 s in %.0f s, the first half crossfaded\n", songs, seconds);
  std::printf("player resident memory: %ld KB after 20 songs, %ld KB after 1000, %ld KB after %d\n", rss_start,
              rss_1000, rss_end, songs);
  std::printf("growth after the first 1000 songs: %.2f KB per song\n",
              static_cast<double>(rss_end - rss_1000) / (songs - 1000));
  return 0;
}
