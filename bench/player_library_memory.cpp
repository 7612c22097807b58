// The station player's resident memory beside libraries of 1,000 and
// 1,000,000 songs (every song measured and tagged, in ten folders): it must
// not grow with the library. Three short songs of the library are handed off
// and played on the null output while the player goes through the song
// table for its backlog; the most it held over that time is reported.
//
//   bench_player_library_memory [SONGS]     (default 1000000; 1000 as the anchor)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_messages.h"
#include "player_window/protocol.h"
#include "support/library_fixture.h"
#include "support/receiving_window.h"
#include "support/server_harness.h"

namespace zt = zv::testing;
using namespace std::chrono_literals;

namespace {

long status_kb(int pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(field)) return std::atol(line.c_str() + field.size());
  }
  return 0;
}

void hand_off(const std::vector<std::string>& paths) {
  const zv::WindowHandle window = zv::find_window(zv::PLAYER_WINDOW_CAPTION);
  for (const auto& path : paths) {
    const std::u16string text(path.begin(), path.end());
    zv::send_copy_data(window, 0, zv::COPYDATA_LIST_ITEM, static_cast<std::uint32_t>(2 * (text.size() + 1)),
                       text.c_str(), zv::PLAYER_ANSWER_TIMEOUT_MS);
  }
}

// Peak and final resident KB of the player beside `songs` songs; 0 on failure.
std::pair<long, long> player_memory(int songs) {
  zt::Station station;
  const auto server = station.server();
  const std::string last = std::to_string(songs - 1);
  const std::string made =
      zv::test::make_library(server)
          ? zv::test::library_sql(
                server,
                "with recursive f(i) as (select 1 union all select i + 1 from f where i < 10) "
                "insert into song_dir (song_dir_id, dir_name) select i, '/music/' || i || '/' from f;"
                "with recursive s(i) as (select 0 union all select i + 1 from s where i < " +
                    last +
                    ") insert into song (song_dir_id, song_name, replay_gain, sm_fade_in, sm_fade_out, file_size, "
                    "sec_count) select i % 10 + 1, '/music/' || (i % 10 + 1) || '/Song number ' || i || '.mp3', -3.5, "
                    "120, 210000, 3000000 + i, 210 from s;"
                    "insert into song_tags (song_id, file_size, file_mtime, title, artist) select song_id, file_size, "
                    "1700000000, 'Title of song ' || song_id, 'Artist ' || (song_id % 5000) from song;")
          : std::string("cannot make the library");
  if (!made.empty()) {
    std::fprintf(stderr, "bench_player_library_memory: %s", made.c_str());
    return {0, 0};
  }
  std::vector<std::string> played;
  for (int i = 0; i < 3; ++i) {
    const auto path = (station.root.path() / ("short" + std::to_string(i) + ".wav")).string();
    const std::string command = "sox -n -r 44100 -c 2 '" + path + "' synth 0.5 sine " + std::to_string(440 + 220 * i);
    if (std::system(command.c_str()) != 0) return {0, 0};
    zv::test::library_sql(server, "insert into song (song_dir_id, song_name) values (1, '" + path + "');");
    played.push_back(path);
  }
  std::ofstream(server / "sound_device.txt") << "null\nnull\n";
  zt::ServerProcess player(server, std::nullopt, ZV_PLAYER_BINARY);
  if (!player.wait_for_console("Station player: window \"Zentavio Player\" open", 30s)) {
    std::fprintf(stderr, "%s", player.console().c_str());
    return {0, 0};
  }
  hand_off(played);
  if (!player.wait_for_console("Play counted: ", 60s, 3)) {
    std::fprintf(stderr, "bench_player_library_memory: the songs did not play\n%s", player.console().c_str());
    return {0, 0};
  }
  // A while more, for the backlog's pages through the song table.
  std::this_thread::sleep_for(20s);
  return {status_kb(player.pid(), "VmHWM:"), status_kb(player.pid(), "VmRSS:")};
}

}  // namespace

int main(int argc, char** argv) {
  const int songs = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 1000000;
  zv::test::PrivateWindowFolder windows;
  for (const int size : {1000, songs}) {
    const auto [peak, now] = player_memory(size);
    if (peak == 0) return 1;
    std::printf("%d songs: player resident memory %.1f MB at most, %.1f MB at the end\n", size, peak / 1024.0,
                now / 1024.0);
  }
  return 0;
}
