// The station player on air, in two runs.
//
// Without crossfade: the gap between songs handed off one after another, to
// the sample, in what the bench's own ALSA device heard. The mp3s are made by
// lame, which writes the encoder-delay header; without it (as sox writes
// them) an mp3's own padding would be heard as a gap that is no fault of the
// player.
//
// As a station runs it, with crossfades of 3 s and the MP3 stream to a local
// icecast2 on: the player's processor time while playing (as a percentage of
// one core and seconds per hour of playback) and the delay from the sound
// card to a listener of the stream.
//
//   bench_player_playback [SONGS]     (default 8 songs: of 2 s, then of 10 s)
//
// Songs are tones of 440, 660 and 880 Hz in turn, ".wav" and ".mp3" in turn,
// handed to the player's window as the server hands them off.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
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

// `count` songs of `seconds` s in the station's folder, registered in the
// library; returns their paths, none when one could not be made.
std::vector<std::string> make_songs(const zt::Station& station, int count, int seconds) {
  const int tones[] = {440, 660, 880};
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    const auto path = station.root.path() / ("song" + std::to_string(i) + (i % 2 ? ".mp3" : ".wav"));
    const std::string tone = "sox -V1 -n -r 44100 -c 2 " + std::string(i % 2 ? "-t wav -" : "'" + path.string() + "'") +
                             " synth " + std::to_string(seconds) + " sine " + std::to_string(tones[i % 3]) + " vol 0.5";
    const std::string command = i % 2 ? tone + " | lame --quiet -b 192 - '" + path.string() + "'" : tone;
    if (std::system(command.c_str()) != 0) return {};
    paths.push_back(path.string());
    zv::test::library_sql(station.server(), "insert into song (song_dir_id, song_name) values (0, '" + path.string() + "');");
  }
  return paths;
}

// Hands `paths` to the player's window, as the server hands them off.
void hand_off(const std::vector<std::string>& paths) {
  const zv::WindowHandle window = zv::find_window(zv::PLAYER_WINDOW_CAPTION);
  zv::send_copy_data(window, 0, zv::COPYDATA_LIST_BEGIN, 1, nullptr, zv::PLAYER_ANSWER_TIMEOUT_MS);
  for (const auto& path : paths) {
    std::u16string text(path.begin(), path.end());
    zv::send_copy_data(window, 0, zv::COPYDATA_LIST_ITEM, static_cast<std::uint32_t>(2 * (text.size() + 1)),
                       text.c_str(), zv::PLAYER_ANSWER_TIMEOUT_MS);
  }
  zv::send_copy_data(window, 0, zv::COPYDATA_LIST_END, 1, nullptr, zv::PLAYER_ANSWER_TIMEOUT_MS);
}

// A station whose player plays into `recorder`, with `settings` as its sound
// settings; false when it could not be made.
bool prepare(const zt::Station& station, const zt::AudioRecorder& recorder, const std::string& settings) {
  std::ofstream(station.server() / "sound_settings.txt") << settings;
  if (!zv::test::make_library(station.server())) {
    std::fprintf(stderr, "bench_player_playback: the library could not be made\n");
    return false;
  }
  const auto config = station.root.path() / "asound.conf";
  std::ofstream(config) << zt::recorded_device_config("!default", recorder);
  ::setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
  return true;
}

bool player_open(zt::ServerProcess& player) {
  if (player.wait_for_console("Station player: window \"Zentavio Player\" open")) return true;
  std::fprintf(stderr, "%s", player.console().c_str());
  return false;
}

// Songs one after another without crossfade: the silence between each two.
bool measure_gaps(int songs) {
  constexpr int SONG_SECONDS = 2;
  zt::Station station;
  zt::AudioRecorder recorder(station.root.path() / "out.fifo");
  if (!prepare(station, recorder, "crossfade_s=0\n")) return false;
  const auto paths = make_songs(station, songs, SONG_SECONDS);
  if (paths.empty()) return false;
  zt::ServerProcess player(station.server(), std::nullopt, ZV_PLAYER_BINARY);
  if (!player_open(player)) return false;
  hand_off(paths);
  if (!player.wait_for_console("Play counted: ", std::chrono::seconds(10 + (SONG_SECONDS + 1) * songs), songs)) {
    std::fprintf(stderr, "%s", player.console().c_str());
    return false;
  }
  const auto samples = recorder.left_channel();
  const auto heard = zt::tones_heard(samples);
  double worst = 0, total = 0;
  for (std::size_t i = 1; i < heard.size(); ++i) {
    const double gap = zt::gap_ms(samples, heard[i - 1], heard[i]);
    worst = std::max(worst, gap);
    total += gap;
  }
  std::printf("songs handed off: %d of %d s, wav and lame-made mp3 in turn, no crossfade; tones heard: %zu\n", songs,
              SONG_SECONDS, heard.size());
  if (heard.size() > 1) {
    std::printf("gap between songs, to the sample: worst %.2f ms, mean %.2f ms\n", worst,
                total / static_cast<double>(heard.size() - 1));
  }
  return true;
}

// Crossfades of 3 s and the MP3 stream on: the player's processor time and
// the delay to a listener of the stream.
bool measure_on_air(int songs) {
  constexpr int SONG_SECONDS = 10;
  zt::Station station;
  const auto recorder_start = std::chrono::steady_clock::now();
  zt::AudioRecorder recorder(station.root.path() / "out.fifo");
  // The recorder hears a sample when it drains it, at a sound card's pace: a
  // full FIFO of 64 KiB would put 0.37 s between the device taking a sample
  // and its being heard. At one page (23 ms) it comes close to a sound card.
  std::this_thread::sleep_for(100ms);  // the recorder has the FIFO open
  if (const int fifo = ::open(recorder.fifo().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); fifo >= 0) {
    ::fcntl(fifo, F_SETPIPE_SZ, 4096);
    ::close(fifo);
  }
  if (!prepare(station, recorder, "crossfade_s=3\n")) return false;
  // The stream's settings go into the sound settings beside the crossfade.
  std::filesystem::permissions(station.root.path(), std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);  // Icecast runs as its own user
  if (std::system((std::string(ZV_SOURCE_DIR) + "/station/demo-icecast '" + station.server().string() +
                   "' 18001 >/dev/null").c_str()) != 0) {
    return false;
  }
  const auto paths = make_songs(station, songs, SONG_SECONDS);
  if (paths.empty()) return false;

  zt::ServerProcess player(station.server(), std::nullopt, ZV_PLAYER_BINARY);
  if (!player_open(player)) return false;
  if (!player.wait_for_console("Stream on air: ", 10s)) {
    std::fprintf(stderr, "the stream did not go on air:\n%s", player.console().c_str());
    return false;
  }
  // A listener of the stream: when its first sound arrives.
  const auto listened = station.root.path() / "listener.raw";
  std::thread listener([&] {
    std::system(("timeout " + std::to_string(SONG_SECONDS * songs + 15) +
                 " gst-launch-1.0 -q souphttpsrc location=http://127.0.0.1:18001/stream.mp3 ! decodebin ! audioconvert "
                 "! audio/x-raw,format=S16LE,channels=1 ! filesink sync=false buffer-mode=unbuffered location='" +
                 listened.string() + "' >/dev/null 2>&1").c_str());
  });
  std::optional<std::chrono::steady_clock::time_point> listener_heard;
  std::atomic<bool> watching{true};
  std::thread watch([&] {
    std::size_t seen = 0;
    while (watching && !listener_heard) {
      std::ifstream in(listened, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(seen));
      std::int16_t sample = 0;
      while (in.read(reinterpret_cast<char*>(&sample), 2)) {
        seen += 2;
        if (std::abs(int{sample}) > 300) listener_heard = std::chrono::steady_clock::now();
      }
      std::this_thread::sleep_for(5ms);
    }
  });
  std::this_thread::sleep_for(2s);  // the listener connected
  hand_off(paths);

  if (!player.wait_for_console("On air: ", 10s)) return false;
  const long ticks_before = player.cpu_ticks();
  const auto started = std::chrono::steady_clock::now();
  if (!player.wait_for_console("Play counted: ", std::chrono::seconds(10 + (SONG_SECONDS + 1) * songs), songs)) {
    std::fprintf(stderr, "%s", player.console().c_str());
    return false;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double cpu = static_cast<double>(player.cpu_ticks() - ticks_before) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  std::printf("songs: %d of %d s, crossfade 3 s, MP3 stream on (%s)\n", songs, SONG_SECONDS,
              player.console().find("Stream on air: ") != std::string::npos ? "on air" : "NOT on air");
  std::printf("player processor time while playing: %.2f s in %.1f s = %.2f %% of one core = %.0f s per hour\n", cpu,
              seconds, 100.0 * cpu / seconds, 3600 * cpu / seconds);
  watching = false;
  watch.join();
  std::system(("kill $(cat '" + (station.server() / "icecast/icecast.pid").string() + "')").c_str());
  listener.join();
  const auto samples = recorder.left_channel();
  const auto first = std::find_if(samples.begin(), samples.end(), [](std::int16_t s) { return std::abs(int{s}) > 300; });
  if (listener_heard && first != samples.end()) {
    const auto device_heard = recorder_start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                   std::chrono::duration<double>((first - samples.begin()) /
                                                                                 double{zt::RECORDING_RATE}));
    std::printf("delay from the sound card to a stream listener: %.0f ms (below 0: the listener hears it first)\n",
                std::chrono::duration<double, std::milli>(*listener_heard - device_heard).count());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int songs = argc > 1 ? std::max(2, std::atoi(argv[1])) : 8;
  zv::test::PrivateWindowFolder windows;
  return measure_gaps(songs) && measure_on_air(songs) ? 0 : 1;
}
