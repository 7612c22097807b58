// The station player steered: from a skip to the next song's first sound,
// from the player's start (with a song waiting from before) to its first
// sound, and from a song's import to its first sound when it is sent to play
// next and the song on air skipped (it is measured first), all measured in
// what an ALSA device of the bench's own heard. The skip is the anchor of the
// import: their difference is what measuring the new song costs.
//
//   bench_player_control [ROUNDS]     (default 5)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_messages.h"
#include "player_control.h"
#include "player_window/protocol.h"
#include "support/audio_recording.h"
#include "support/library_fixture.h"
#include "support/receiving_window.h"
#include "support/server_harness.h"

namespace zt = zv::testing;
using namespace std::chrono_literals;

namespace {

double ms(std::size_t samples) { return 1000.0 * static_cast<double>(samples) / zt::RECORDING_RATE; }

// The first tone heard (of `hz`, when given) that starts at or after sample
// `from`; waits up to 5 s.
const zt::Tone* first_tone_after(const zt::AudioRecorder& recorder, std::size_t from, std::vector<zt::Tone>& tones,
                                 int hz = 0) {
  for (int i = 0; i < 250; ++i) {
    tones = zt::tones_heard(recorder.left_channel());
    const auto found = std::find_if(tones.begin(), tones.end(), [&](const zt::Tone& tone) {
      return tone.start >= from && (hz == 0 || std::abs(tone.hz - hz) < 20);
    });
    if (found != tones.end() && found->end > found->start + zt::RECORDING_RATE / 5) return &*found;
    std::this_thread::sleep_for(20ms);
  }
  return nullptr;
}

void report(const char* what, std::vector<double> values) {
  if (values.empty()) return;
  std::sort(values.begin(), values.end());
  std::printf("%-40s median %7.1f ms   min %7.1f ms   max %7.1f ms   (%zu)\n", what, values[values.size() / 2],
              values.front(), values.back(), values.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  zv::test::PrivateWindowFolder windows;
  zt::Station station;
  if (!zv::test::make_library(station.server())) {
    std::fprintf(stderr, "bench_player_control: the library could not be made\n");
    return 1;
  }
  zt::AudioRecorder recorder(station.root.path() / "out.fifo");
  const auto config = station.root.path() / "asound.conf";
  std::ofstream(config) << zt::recorded_device_config("!default", recorder);
  ::setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
  std::vector<std::string> paths;
  for (int i = 0; i < 2; ++i) {
    paths.push_back((station.root.path() / ("song" + std::to_string(i) + ".wav")).string());
    const std::string command =
        "sox -n -r 44100 -c 2 '" + paths.back() + "' synth 5 sine " + (i ? "880" : "440") + " vol 0.5";
    if (std::system(command.c_str()) != 0) return 1;
  }

  std::vector<double> skips, starts, imports;
  for (int round = 0; round < rounds; ++round) {
    // A song waiting from before, as after a restart.
    std::ofstream(station.server() / "player_state.txt")
        << "alive\t0\nstopped\t0\nnext_key\t10\nqueue\t1\t0\thandoff\t\t\t0\t" << paths[0]
        << "\nqueue\t2\t0\thandoff\t\t\t0\t" << paths[1] << "\n";
    const std::size_t before_start = recorder.left_channel().size();
    zt::ServerProcess player(station.server(), std::nullopt, ZV_PLAYER_BINARY);
    std::vector<zt::Tone> tones;
    const zt::Tone* first = first_tone_after(recorder, before_start, tones);
    if (!first) {
      std::fprintf(stderr, "%s", player.console().c_str());
      return 1;
    }
    starts.push_back(ms(first->start - before_start));
    std::this_thread::sleep_for(1s);
    const zv::WindowHandle window = zv::find_window(zv::PLAYER_WINDOW_CAPTION);
    const std::size_t before_skip = recorder.left_channel().size();
    zv::send_copy_data(window, 0, zv::player::CONTROL_SKIP, 0, nullptr, 5000);
    const zt::Tone* next = first_tone_after(recorder, before_skip, tones);
    if (next) skips.push_back(ms(next->start - before_skip));

    // A song new to the library, at -6 dBFS, sent to play next at once.
    std::this_thread::sleep_for(1s);
    const std::string fresh = (station.root.path() / ("fresh" + std::to_string(round) + ".wav")).string();
    if (std::system(("sox -n -r 44100 -c 2 '" + fresh + "' synth 5 sine 660 vol 0.5").c_str()) != 0) return 1;
    const std::size_t before_import = recorder.left_channel().size();
    zv::test::library_sql(station.server(), "insert into song (song_id, song_dir_id, song_name) values (" +
                                                std::to_string(100 + round) + ", 0, '" + fresh + "');");
    zv::send_copy_data(window, 0, zv::player::CONTROL_PUT_NEXT, static_cast<std::uint32_t>(fresh.size()), fresh.data(),
                       5000);
    zv::send_copy_data(window, 0, zv::player::CONTROL_SKIP, 0, nullptr, 5000);
    const zt::Tone* imported = first_tone_after(recorder, before_import, tones, 660);
    if (imported) imports.push_back(ms(imported->start - before_import));
  }
  report("skip to the next song's first sound", skips);
  report("player start to first sound", starts);
  report("import, sent next, to its first sound", imports);
  return 0;
}
