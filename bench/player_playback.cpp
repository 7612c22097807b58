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
// Beside Liquidsoap from Debian, in the same run and one after the other:
// the same 30 songs, crossfades of 3 s, a gain, the ALSA output and a 128
// kbit/s MP3 stream to one icecast2; each one's processor time and wake-ups
// (voluntary context switches of all its threads) a second over a minute of
// playing, and the ratio of the player's to Liquidsoap's.
//
//   bench_player_playback [SONGS]     (default 8 songs: of 2 s, then of 10 s)
//   bench_player_playback --beside-liquidsoap      (that comparison alone)
//   bench_player_playback --gaps-under-load [SECONDS]   (one song of 600 s while
//                         four processes keep the cores busy: gaps in it)
//
// Songs are tones of 440, 660 and 880 Hz in turn, ".wav" and ".mp3" in turn,
// handed to the player's window as the server hands them off.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <sstream>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
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
    zv::test::library_sql(station.server(),
                          "insert into song (song_dir_id, song_name) values (0, '" + path.string() + "');");
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
  if (std::system(
          (std::string(ZV_SOURCE_DIR) + "/station/demo-icecast '" + station.server().string() + "' 18001 >/dev/null")
              .c_str()) != 0) {
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
                 listened.string() + "' >/dev/null 2>&1")
                    .c_str());
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
  const double cpu =
      static_cast<double>(player.cpu_ticks() - ticks_before) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  std::printf("songs: %d of %d s, crossfade 3 s, MP3 stream on (%s)\n", songs, SONG_SECONDS,
              player.console().find("Stream on air: ") != std::string::npos ? "on air" : "NOT on air");
  std::printf("player processor time while playing: %.2f s in %.1f s = %.2f %% of one core = %.0f s per hour\n", cpu,
              seconds, 100.0 * cpu / seconds, 3600 * cpu / seconds);
  watching = false;
  watch.join();
  std::system(("kill $(cat '" + (station.server() / "icecast/icecast.pid").string() + "')").c_str());
  listener.join();
  const auto samples = recorder.left_channel();
  const auto first =
      std::find_if(samples.begin(), samples.end(), [](std::int16_t s) { return std::abs(int{s}) > 300; });
  if (listener_heard && first != samples.end()) {
    const auto device_heard =
        recorder_start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>((first - samples.begin()) / double{zt::RECORDING_RATE}));
    std::printf("delay from the sound card to a stream listener: %.0f ms (below 0: the listener hears it first)\n",
                std::chrono::duration<double, std::milli>(*listener_heard - device_heard).count());
  }
  return true;
}

// What a process has used: processor seconds, and the voluntary context
// switches of its threads, gone ones counted up to the last look.
class Usage {
 public:
  explicit Usage(int pid) : pid_(pid) {}
  void look() {
    cpu_ = 0;
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i >= 14) ticks += std::stol(field);
    }
    cpu_ = static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
    if (DIR* folder = ::opendir(tasks.c_str())) {
      while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream status(tasks + "/" + entry->d_name + "/status");
        for (std::string line; std::getline(status, line);) {
          if (line.rfind("Name:", 0) == 0) names_[entry->d_name] = line.substr(6);
          if (line.rfind("voluntary_ctxt_switches:", 0) == 0) switches_[entry->d_name] = std::stol(line.substr(24));
        }
      }
      ::closedir(folder);
    }
  }
  double cpu() const { return cpu_; }
  long switches() const {
    long sum = 0;
    for (const auto& [thread, count] : switches_) sum += count;
    return sum;
  }
  // The switches by thread name, threads of one name together.
  std::map<std::string, long> by_name() const {
    std::map<std::string, long> named;
    for (const auto& [thread, count] : switches_) named[names_.at(thread)] += count;
    return named;
  }

 private:
  int pid_;
  double cpu_ = 0;
  std::map<std::string, long> switches_;
  std::map<std::string, std::string> names_;
};

struct Load {
  double cpu_share = 0;  // of one core
  double wakeups = 0;    // a second
  std::string busiest;   // the threads that wake most, a second each
};

// The process's use over `seconds` of playing, looked at four times a second.
Load measure_load(int pid, int seconds) {
  Usage usage(pid);
  usage.look();
  const double cpu = usage.cpu();
  const long switches = usage.switches();
  const auto named = usage.by_name();
  const auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < seconds * 4; ++i) {
    std::this_thread::sleep_for(250ms);
    usage.look();
  }
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::vector<std::pair<double, std::string>> threads;
  for (const auto& [name, count] : usage.by_name()) {
    const auto before = named.find(name);
    threads.push_back({static_cast<double>(count - (before == named.end() ? 0 : before->second)) / took, name});
  }
  std::sort(threads.rbegin(), threads.rend());
  std::string busiest;
  for (std::size_t i = 0; i < threads.size() && i < 8; ++i) {
    busiest += (i ? ", " : "") + threads[i].second + " " + std::to_string(std::lround(threads[i].first));
  }
  return {(usage.cpu() - cpu) / took, static_cast<double>(usage.switches() - switches) / took, busiest};
}

// The player and Liquidsoap, one after the other, each playing the same 30
// songs to its own ALSA device and to its own mount of one icecast2.
bool measure_beside_liquidsoap() {
  constexpr int SONGS = 30, SONG_SECONDS = 6, WINDOW_SECONDS = 60;
  zt::Station station;
  zt::AudioRecorder ours(station.root.path() / "player.fifo");
  zt::AudioRecorder theirs(station.root.path() / "liquidsoap.fifo");
  if (!prepare(station, ours, "crossfade_s=3\n")) return false;
  const auto config = station.root.path() / "asound.conf";
  std::ofstream(config, std::ios::app) << zt::recorded_device_config("liquidsoap", theirs);
  std::filesystem::permissions(station.root.path(), std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);  // Icecast runs as its own user
  if (std::system(
          (std::string(ZV_SOURCE_DIR) + "/station/demo-icecast '" + station.server().string() + "' 18002 >/dev/null")
              .c_str()) != 0) {
    return false;
  }
  // Icecast ends with the bench, whatever way it ends.
  const std::unique_ptr<const zt::Station, void (*)(const zt::Station*)> icecast(&station, [](const zt::Station* at) {
    std::system(("kill $(cat '" + (at->server() / "icecast/icecast.pid").string() + "') 2>/dev/null").c_str());
  });
  const auto paths = make_songs(station, SONGS, SONG_SECONDS);
  if (paths.empty()) return false;

  Load player_load;
  {
    zt::ServerProcess player(station.server(), std::nullopt, ZV_PLAYER_BINARY);
    if (!player_open(player)) return false;
    // Songs are measured once; that is not playing.
    if (!player.wait_for_console("Song " + std::to_string(SONGS) + " measured: ", 60s)) {
      std::fprintf(stderr, "the songs were not measured:\n%s", player.console().c_str());
      return false;
    }
    hand_off(paths);
    if (!player.wait_for_console("On air: ", 10s) || !player.wait_for_console("Stream on air: ", 10s)) {
      std::fprintf(stderr, "%s", player.console().c_str());
      return false;
    }
    std::this_thread::sleep_for(3s);
    player_load = measure_load(player.pid(), WINDOW_SECONDS);
  }
  std::printf("player:     %.2f %% of one core, %.0f wake-ups/s (%s)\n", 100 * player_load.cpu_share,
              player_load.wakeups, player_load.busiest.c_str());

  std::ifstream password_file(station.server() / "stream_password.txt");
  std::string password;
  std::getline(password_file, password);
  std::ofstream list(station.root.path() / "songs.m3u");
  for (const auto& path : paths) list << path << "\n";
  list.close();
  // Its ALSA output writes from its own clock's thread (bufferize=false): its
  // buffered output spins on a device that is always ready, as the bench's is.
  const auto script = station.root.path() / "station.liq";
  std::ofstream(script) << "settings.log.stdout.set(true)\nsettings.log.file.set(false)\n"
                           "settings.init.allow_root.set(true)\n"
                           "s = playlist(mode=\"normal\", reload_mode=\"never\", \""
                        << (station.root.path() / "songs.m3u").string()
                        << "\")\ns = amplify(0.5, s)\ns = crossfade(duration=3.0, s)\ns = mksafe(s)\n"
                           "output.alsa(bufferize=false, device=\"liquidsoap\", s)\n"
                           "output.icecast(%mp3(bitrate=128), host=\"127.0.0.1\", port=18002, password=\""
                        << password << "\", mount=\"/liquidsoap.mp3\", s)\n";
  const auto runner = station.root.path() / "liquidsoap.sh";
  std::ofstream(runner) << "#!/bin/sh\nexec liquidsoap '" << script.string() << "'\n";
  std::filesystem::permissions(runner, std::filesystem::perms::owner_all);
  Load their_load;
  {
    zt::ServerProcess liquidsoap(station.server(), std::nullopt, runner.c_str());
    // Started, connected and playing: on a busy machine its start takes a while.
    const auto status = station.root.path() / "status.json";
    std::string mounts;
    for (int tries = 0; tries < 60 && mounts.find("/liquidsoap.mp3") == std::string::npos; ++tries) {
      std::this_thread::sleep_for(1s);
      std::system(("curl -s http://127.0.0.1:18002/status-json.xsl >'" + status.string() + "'").c_str());
      std::ifstream in(status);
      mounts.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::this_thread::sleep_for(3s);
    if (mounts.find("/liquidsoap.mp3") == std::string::npos) {
      std::fprintf(stderr, "Liquidsoap did not stream:\n%s\n%s", mounts.c_str(), liquidsoap.console().c_str());
      return false;
    }
    their_load = measure_load(liquidsoap.pid(), WINDOW_SECONDS);
  }
  std::printf(
      "beside Liquidsoap: %d songs of %d s, crossfade 3 s, gain, ALSA output, MP3 128 kbit/s to icecast2; "
      "a minute of playing each\n",
      SONGS, SONG_SECONDS);
  std::printf("Liquidsoap: %.2f %% of one core, %.0f wake-ups/s (%s)\n", 100 * their_load.cpu_share, their_load.wakeups,
              their_load.busiest.c_str());
  std::printf("ratio (player / Liquidsoap): processor time %.2f, wake-ups %.2f\n",
              player_load.cpu_share / their_load.cpu_share, player_load.wakeups / their_load.wakeups);
  return true;
}

// One long song while four processes keep both cores busy: the gaps inside
// it in what the card heard (the recorder at real-time priority, as a sound
// card's interrupt would be).
bool measure_gaps_under_load(int seconds) {
  zt::Station station;
  zt::AudioRecorder recorder(station.root.path() / "out.fifo");
  if (!recorder.run_at_realtime_priority()) std::fprintf(stderr, "the recorder runs without real-time priority\n");
  if (!prepare(station, recorder, "crossfade_s=0\n")) return false;
  const auto song = station.root.path() / "long.wav";
  if (std::system(
          ("sox -V1 -n -r 44100 -c 2 '" + song.string() + "' synth " + std::to_string(seconds) + " sine 550 vol 0.5")
              .c_str()) != 0) {
    return false;
  }
  zv::test::library_sql(station.server(),
                        "insert into song (song_dir_id, song_name) values (0, '" + song.string() + "');");
  zt::ServerProcess player(station.server(), std::nullopt, ZV_PLAYER_BINARY);
  if (!player_open(player) || !player.wait_for_console("Song 1 measured: ", 60s)) return false;
  const auto pids = station.root.path() / "busy.pids";
  std::system(("for i in 1 2 3 4; do timeout " + std::to_string(seconds + 30) +
               " sh -c 'while :; do :; done' & echo $! >>'" + pids.string() + "'; done")
                  .c_str());
  hand_off({song.string()});
  const bool played = player.wait_for_console("Play counted: ", std::chrono::seconds(seconds + 30));
  std::system(("kill $(cat '" + pids.string() + "') 2>/dev/null").c_str());
  if (!played) return false;
  const auto samples = recorder.left_channel();
  const auto tones = zt::tones_heard(samples);
  if (tones.empty()) return false;
  int gaps = 0;
  double longest = 0;
  constexpr std::size_t STEP = zt::RECORDING_RATE / 100;
  for (std::size_t at = tones.front().start; at + STEP < tones.back().end; at += STEP) {
    const double gap = zt::longest_silence_ms(samples, at, at + STEP);
    gaps += gap > 20;
    longest = std::max(longest, gap);
  }
  std::printf(
      "gaps under load: one song of %d s, four busy processes on the machine's cores: %d gaps over 20 ms, "
      "the longest silence inside the song %.1f ms\n",
      seconds, gaps, longest);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int songs = argc > 1 ? std::max(2, std::atoi(argv[1])) : 8;
  zv::test::PrivateWindowFolder windows;
  if (argc > 1 && std::string(argv[1]) == "--beside-liquidsoap") return measure_beside_liquidsoap() ? 0 : 1;
  if (argc > 1 && std::string(argv[1]) == "--gaps-under-load") {
    return measure_gaps_under_load(argc > 2 ? std::max(10, std::atoi(argv[2])) : 600) ? 0 : 1;
  }
  return measure_gaps(songs) && measure_on_air(songs) && measure_beside_liquidsoap() ? 0 : 1;
}
