// The station player beside the real server: songs handed off through the
// server are heard on an ALSA device of the test's own, counted in a real
// library, and the player goes on with the schedule when nothing is handed off.
// Only what the real engine shows is here; the player's logic is tested on a
// stand-in engine in tests/player/.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "platform/window_messages.h"
#include "player_control.h"
#include "player_window/protocol.h"
#include "support/audio_recording.h"
#include "support/library_fixture.h"
#include "support/receiving_window.h"
#include "support/server_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zv::testing {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// How long a test waits for what the player does by itself: long enough for a
// machine running several tests a processor, and never waited out when all is well.
constexpr std::chrono::milliseconds DEADLINE = 60s;

// Polls `done` until it holds; false when it did not within `timeout`.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout = DEADLINE) {
  for (auto until = std::chrono::steady_clock::now() + timeout; !done();) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// Waits until `done` holds; a failure says what was awaited and what `seen` shows by then.
::testing::AssertionResult waited_for(const std::string& what, const std::function<bool()>& done,
                                      const std::function<std::string()>& seen,
                                      std::chrono::milliseconds timeout = DEADLINE) {
  if (wait_until(done, timeout)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "waited " << timeout.count() / 1000 << " s for " << what
                                       << "; seen: " << seen();
}

std::size_t times(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::vector<int> frequencies(const std::vector<Tone>& tones) {
  std::vector<int> hz;
  for (const Tone& tone : tones) hz.push_back(tone.hz);
  return hz;
}

// Counts the windows of `samples` (1/20 s each) in which `sounds` holds.
int windows_where(const std::vector<std::int16_t>& samples,
                  const std::function<bool(std::size_t from, std::size_t to)>& sounds) {
  constexpr std::size_t WINDOW = RECORDING_RATE / 20;
  int count = 0;
  for (std::size_t at = 0; at + WINDOW <= samples.size(); at += WINDOW) count += sounds(at, at + WINDOW);
  return count;
}

// The amplitude of a stereo sine at the station's default -23 LUFS.
constexpr double TARGET_SINE = 0.0767;
double db(double ratio) { return 20 * std::log10(ratio); }

constexpr const char* DEVICE_FAULT = "\"kind\":\"device\",\"text\":\"The sound device studio fails[^}]*\"ended\":0";
constexpr const char* DEVICE_FAULT_PASSED = "\"kind\":\"device\"[^}]*\"ended\":[1-9]";
constexpr const char* ANY_DEVICE_FAULT = "\"kind\":\"device\"[^}]*\"ended\":0";

// onair.json's song on air, or the last in its history.
std::string now_on_air(const std::string& name) { return "\"now\":\\{[^}]*\"name\":\"" + name + "\""; }
std::string last_played(const std::string& name) { return "\"history\":\\[\\{[^}]*\"name\":\"" + name + "\""; }

void choose_device(const fs::path& server, const std::string& alsa_name) {
  std::ofstream(server / "sound_device.txt.new") << "{00000000-0000-0000-0000-000000000001}\n"
                                                 << alsa_name << "\nOut\n";
  fs::rename(server / "sound_device.txt.new", server / "sound_device.txt");
}

// "440 Hz 1.0 s, 660 Hz 1.0 s": what a test heard, for a failure's message.
std::string tones_text(const std::vector<Tone>& tones) {
  std::ostringstream text;
  for (const Tone& tone : tones) {
    text << (&tone == tones.data() ? "" : ", ") << tone.hz << " Hz "
         << static_cast<double>(tone.end - tone.start) / RECORDING_RATE << " s";
  }
  return tones.empty() ? "no tone" : text.str();
}

// Whether `hz` is among `tones`.
bool has_tone(const std::vector<Tone>& tones, int hz) {
  return std::any_of(tones.begin(), tones.end(), [hz](const Tone& tone) { return tone.hz == hz; });
}

// A listener of an Icecast stream from when it is made until the test stops
// it, decoding what it hears into `file` as GStreamer plays a stream, or
// keeping what it receives there as it came.
class StreamListener {
 public:
  StreamListener(const std::string& url, fs::path file, bool decode = true) : file_(std::move(file)) {
    const std::string command =
        decode ? "exec gst-launch-1.0 -q souphttpsrc location=" + url +
                     " ! decodebin ! audioconvert ! audioresample ! audio/x-raw,format=S16LE,rate=44100,"
                     "channels=1 ! filesink buffer-mode=unbuffered location='" +
                     file_.string() + "' >/dev/null 2>&1"
               : "exec curl -s -o '" + file_.string() + "' " + url;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      ::_exit(127);
    }
  }
  ~StreamListener() { stop(); }
  StreamListener(const StreamListener&) = delete;
  StreamListener& operator=(const StreamListener&) = delete;

  // What it heard so far, at the recording's rate.
  std::vector<std::int16_t> heard() const {
    const std::string raw = read_file(file_);
    std::vector<std::int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
  }
  // Waits until the tones heard satisfy `enough`.
  ::testing::AssertionResult hears(const std::string& what,
                                   const std::function<bool(const std::vector<Tone>&)>& enough) const {
    return waited_for(
        "the listener to hear " + what, [&] { return enough(tones_heard(heard())); },
        [&] { return tones_text(tones_heard(heard())); });
  }
  // Ends the listener; false when it had ended by itself (the stream dropped it).
  bool stop() {
    if (pid_ <= 0) return false;
    const bool connected = ::waitpid(pid_, nullptr, WNOHANG) == 0;
    if (connected) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    return connected;
  }

 private:
  fs::path file_;
  pid_t pid_ = -1;
};

// A station with the player's three tones (440 Hz .wav, 660 Hz .mp3, 880 Hz
// .wav, 1 s each) as songs 1 to 3 of folder 1, a missing file as song 4 and a
// file that is no audio as song 5; song 6 (330 Hz) is in folder 2.
class PlayerStation : public ::testing::Test {
 protected:
  void SetUp() override {
    // The devices take sound as a card's interrupt would, whatever else the
    // machine runs: a gap heard is then the player's, never the recorder's.
    ASSERT_TRUE(default_.run_at_realtime_priority() && studio_.run_at_realtime_priority());
    station_.link_php_cgi();
    ASSERT_TRUE(test::make_library(station_.server()));
    music_ = station_.root.path() / "music";
    fs::create_directories(music_);
    for (const auto& [name, hz] : {std::pair{"a440.wav", 440}, {"b660.mp3", 660}, {"c880.wav", 880}, {"z.wav", 330}}) {
      const std::string command = "sox -n -r 44100 -c 2 '" + (music_ / name).string() + "' synth 1 sine " +
                                  std::to_string(hz) + " vol 0.5 2>&1";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    std::ofstream(music_ / "broken.mp3") << std::string(4000, 'x');
    const std::string m = music_.string() + "/";
    ASSERT_EQ(sql("insert into song_dir (song_dir_id, dir_order, dir_name) values (1, 1, '" + m +
                  "'), (2, 2, '/other/');"
                  "insert into song (song_id, song_dir_id, song_name) values (1, 1, '" +
                  m + "a440.wav'), (2, 1, '" + m + "b660.mp3'), (3, 1, '" + m + "c880.wav'), (4, 1, '" + m +
                  "gone.wav'), (5, 1, '" + m + "broken.mp3'), (6, 2, '" + m + "z.wav');"),
              "");
    fs::copy_file(fs::path(ZV_SOURCE_DIR) / "tests/integration/scripts/echo_input.php",
                  station_.www() / "playlist.php");
    // These songs are 1 s tones, heard one after another.
    std::ofstream(station_.server() / "sound_settings.txt") << "crossfade_s=0\n";
    alsa_config_ = station_.root.path() / "asound.conf";
    write_alsa_config();
    ::setenv("ALSA_CONFIG_PATH", alsa_config_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("ALSA_CONFIG_PATH"); }

  void write_alsa_config() {
    std::ofstream(alsa_config_) << recorded_device_config("!default", default_) +
                                       recorded_device_config("studio", studio_);
  }
  std::string sql(const std::string& statement) { return test::library_sql(station_.server(), statement); }
  void start_server() {
    server_.emplace(station_.server());
    ASSERT_TRUE(server_->wait_until_listening()) << server_->console();
  }
  // The player, once its window takes messages.
  void start_player() {
    player_.emplace(station_.server(), std::nullopt, ZV_PLAYER_BINARY);
    ASSERT_TRUE(wait_until([] { return find_window(PLAYER_WINDOW_CAPTION) != 0; })) << player_->console();
    EXPECT_TRUE(printed("Station player: window \"Zentavio Player\" open in ")) << player_->console();
  }
  // Hands the songs off through the server, as the station's page does.
  void hand_off(const std::string& query) {
    const std::string reply = http_exchange("GET /playlist.php?" + query + " HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(reply.ends_with("length 0\n<<<>>>")) << reply << server_->console();
  }
  std::string song(const std::string& name) const { return (music_ / name).string(); }
  std::string onair() const { return read_file(station_.server() / "onair.json"); }
  // Waits until onair.json matches `pattern`; false when it did not within `timeout`.
  ::testing::AssertionResult onair_shows(const std::string& pattern,
                                         std::chrono::milliseconds timeout = DEADLINE) const {
    const std::regex wanted(pattern);
    return waited_for(
        "onair.json to show " + pattern, [&] { return std::regex_search(onair(), wanted); }, [&] { return onair(); },
        timeout);
  }
  // Waits until stream_status.txt says the stream at `mount` is up (or down)
  // since `since` or later: a line of a player that was killed says nothing.
  ::testing::AssertionResult stream_is(const std::string& state, const std::string& port, const std::string& mount,
                                       std::time_t since = 0) const {
    const std::regex line("(^|\n)" + state + "\t([0-9]+)\ticecast://127.0.0.1:" + port + mount + "\t");
    const fs::path status = station_.server() / "stream_status.txt";
    return waited_for(
        "stream_status.txt to say " + mount + " is " + state + " since " + std::to_string(since),
        [&] {
          std::smatch found;
          const std::string text = read_file(status);
          return std::regex_search(text, found, line) && std::stoll(found[2]) >= since;
        },
        [&] { return read_file(status); });
  }
  // A control message to the player's window, as the pages send it.
  void control(player::ControlMessage message, const std::string& data = "") {
    const WindowHandle window = find_window(PLAYER_WINDOW_CAPTION);
    std::int64_t answer = 0;
    ASSERT_EQ(send_copy_data(window, 0, message, static_cast<std::uint32_t>(data.size()),
                             data.empty() ? nullptr : data.data(), 5000, &answer),
              SendResult::answered);
    EXPECT_EQ(answer, 1);
  }
  // The key onair.json gives the waiting song `name`.
  std::string key_of(const std::string& name) {
    std::smatch found;
    const std::string state = onair();
    const std::regex key("\"name\":\"" + name + "\",\"source\":\"[a-z]+\",\"key\":([0-9]+)");
    return std::regex_search(state, found, key) ? found[1].str() : "";
  }
  // Song 7: 8 s of 550 Hz, still on air when a step of the test follows its start, whatever the machine's load.
  void add_long_song() {
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 '" + song("long.wav") + "' synth 8 sine 550 vol 0.5").c_str()), 0);
    sql("insert into song (song_id, song_dir_id, song_name) values (7, 1, '" + song("long.wav") + "');");
  }
  std::string record() { return sql("select song_name, source, outcome from play_record order by started, play_id;"); }
  int plays() { return std::atoi(sql("select count(*) from play_record where outcome = 'played';").c_str()); }
  // Waits until `count` songs were played out and are on record.
  ::testing::AssertionResult wait_for_plays(int count) {
    return waited_for(
        std::to_string(count) + " songs played on record", [&] { return plays() >= count; }, [&] { return record(); });
  }
  // Waits until the player has printed `text`: what it says of a record
  // follows the record.
  ::testing::AssertionResult printed(const std::string& text, int times = 1) const {
    if (player_->wait_for_console(text, DEADLINE, times)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "waited " << DEADLINE.count() / 1000 << " s for the player to print \""
                                         << text << "\" " << times << " times";
  }
  // Waits until the player has measured songs `first` to `last` (their sound is in the library).
  ::testing::AssertionResult wait_for_measured(int first, int last) {
    const std::string range = " song_id between " + std::to_string(first) + " and " + std::to_string(last) + ";";
    return waited_for(
        "songs " + std::to_string(first) + " to " + std::to_string(last) + " measured",
        [&] {
          return std::atoi(sql("select count(*) from song where file_size > 0 and" + range).c_str()) ==
                 last - first + 1;
        },
        [&] { return sql("select song_id, file_size from song where" + range); });
  }
  // Makes `name` with sox (`sox -n <args> FILE <effects>`) as song `id` of
  // folder `folder` (3: music, 4: advertising).
  void add_song(int id, int folder, const std::string& name, const std::string& format, const std::string& effects) {
    const std::string command = "sox -n " + format + " '" + song(name) + "' " + effects + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    sql("insert or ignore into song_dir (song_dir_id, dir_order, dir_name, is_ads) values (3, 3, '/m/', 0), (4, 4, "
        "'/ads/', 1);"
        "insert into song (song_id, song_dir_id, song_name) values (" +
        std::to_string(id) + ", " + std::to_string(folder) + ", '" + song(name) + "');");
  }
  // The station's front page and what it includes, served by the test's server.
  void copy_front_page() {
    fs::copy(fs::path(ZV_SOURCE_DIR) / "station/www/index.php", station_.www() / "index.php",
             fs::copy_options::overwrite_existing);
    fs::copy(fs::path(ZV_SOURCE_DIR) / "station/www/include", station_.www() / "include",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
  void set_sound(const std::string& settings) { std::ofstream(station_.server() / "sound_settings.txt") << settings; }
  // The tones a device has heard once `count` of them have come out of it: a
  // song counted as played may still be on its way through the device.
  static std::vector<Tone> heard(const AudioRecorder& device, std::size_t count) {
    std::vector<Tone> tones;
    wait_until([&] { return (tones = tones_heard(device.left_channel())).size() >= count; });
    return tones;
  }
  // Waits until the last song counted has come out of `device` whole: it has
  // been quiet for half a second since.
  static ::testing::AssertionResult heard_to_the_end(const AudioRecorder& device) {
    return waited_for(
        "the device to be quiet after the last song",
        [&] {
          const auto samples = device.left_channel();
          const auto tones = tones_heard(samples);
          return !tones.empty() && samples.size() > tones.back().end + RECORDING_RATE / 2;
        },
        [&] { return tones_text(tones_heard(device.left_channel())); });
  }

  // Debian's icecast2 for the station, on `port` of the loopback, as scripts/run starts it.
  void start_icecast(const std::string& port) {
    // Icecast runs as its own user.
    fs::permissions(station_.root.path(), fs::perms::others_exec, fs::perm_options::add);
    ASSERT_EQ(std::system((std::string(ZV_SOURCE_DIR) + "/station/demo-icecast '" + station_.server().string() + "' " +
                           port + " >/dev/null")
                              .c_str()),
              0);
  }
  // Icecast, the server and the player, until the player's stream `mount` is on air.
  void start_streaming(const std::string& port, const std::string& mount) {
    start_icecast(port);
    start_server();
    start_player();
    ASSERT_TRUE(stream_is("up", port, mount))
        << player_->console() << read_file(station_.server() / "icecast/log/error.log");
  }
  void stop_icecast() {
    std::system(("kill $(cat '" + (station_.server() / "icecast/icecast.pid").string() + "') 2>/dev/null").c_str());
  }
  // What Icecast says of its mounts, as JSON.
  std::string icecast_status(const std::string& port) {
    const fs::path status = station_.root.path() / "status.json";
    std::system(("curl -s http://127.0.0.1:" + port + "/status-json.xsl >'" + status.string() + "'").c_str());
    return read_file(status);
  }
  // A listener of the stream `mount`, once Icecast counts `listeners` on the station's mounts.
  std::unique_ptr<StreamListener> listen(const std::string& port, const std::string& mount, int listeners = 1,
                                         const std::string& file = "listener.raw", bool decode = true) {
    auto listener =
        std::make_unique<StreamListener>("http://127.0.0.1:" + port + mount, station_.root.path() / file, decode);
    EXPECT_TRUE(waited_for(
        std::to_string(listeners) + " listeners on Icecast",
        [&] { return times(icecast_status(port), "\"listeners\":1,") >= std::size_t(listeners); },
        [&] { return icecast_status(port); }));
    return listener;
  }

  // Tones heard in a row of the same frequency count once.
  static std::vector<int> distinct(const std::vector<Tone>& tones) {
    std::vector<int> hz = frequencies(tones);
    hz.erase(std::unique(hz.begin(), hz.end()), hz.end());
    return hz;
  }

  test::PrivateWindowFolder windows_;
  Station station_;
  fs::path music_;
  AudioRecorder default_{station_.root.path() / "default.fifo"};
  AudioRecorder studio_{station_.root.path() / "studio.fifo"};
  fs::path alsa_config_;
  std::optional<ServerProcess> server_;
  std::optional<ServerProcess> player_;
};

// Handed-off songs are heard in order, without a gap, and counted; a file
// that is no audio and a playlist in a music file are skipped, and a silent
// song is left after 10 s.
TEST_F(PlayerStation, HandedOffSongsAreHeardInOrderWithoutAGapAndCountedAndTheUnplayableAreSkipped) {
  // In folder 2, so that folder 1's round is the songs of the test's own.
  add_song(7, 2, "silence.wav", "-r 44100 -c 2", "trim 0 15");
  // A listener the playlist points at: nothing may connect to it.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::listen(listener, 4);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/live.mp3";
  std::ofstream(song("list.mp3")) << "#EXTM3U\n#EXTINF:-1,live\n" << url << "\n";
  sql("insert into song (song_id, song_dir_id, song_name) values (8, 2, '" + song("list.mp3") + "');");
  start_server();
  start_player();
  const auto before = std::time(nullptr);
  hand_off("item0=5&item1=8&item2=1&item3=2&item4=3&item5=7");
  ASSERT_TRUE(wait_for_plays(3)) << player_->console();
  const auto after = std::time(nullptr);

  for (const char* name : {"a440.wav", "b660.mp3", "c880.wav"}) {
    EXPECT_TRUE(printed("Play counted: " + song(name) + "\n")) << player_->console();
  }
  std::string console = player_->console();
  for (const char* name : {"a440.wav", "b660.mp3", "c880.wav"}) {
    EXPECT_NE(console.find("Queued: " + song(name) + "\n"), std::string::npos) << console;
    EXPECT_NE(console.find("On air: " + song(name) + "\n"), std::string::npos) << console;
  }
  EXPECT_NE(console.find("Sound device: default\n"), std::string::npos) << console;
  EXPECT_NE(console.find("Skipped " + song("broken.mp3") + ": "), std::string::npos) << console;
  EXPECT_NE(console.find("Skipped " + song("list.mp3") + ": "), std::string::npos) << console;
  const auto tones = heard(default_, 3);
  const auto samples = default_.left_channel();
  ASSERT_EQ(frequencies(tones), (std::vector<int>{440, 660, 880})) << "nothing of the songs skipped";
  EXPECT_LT(gap_ms(samples, tones[0], tones[1]), 50.0);
  EXPECT_LT(gap_ms(samples, tones[1], tones[2]), 50.0);

  // Each song once, at the time it played; no song of folder 1 is left at its
  // count 0 but the two that cannot play, so the folder's round goes on.
  std::istringstream rows(sql("select song_id, play_count, play_time from song where song_id <= 3 order by song_id;"));
  for (std::string row; std::getline(rows, row);) {
    const auto played = std::stoll(row.substr(row.rfind('|') + 1));
    EXPECT_EQ(row.substr(0, row.rfind('|')), row.substr(0, 1) + "|1") << row;
    EXPECT_GE(played, before);
    EXPECT_LE(played, after);
  }
  const std::string rounds =
      "select song_dir_id, play_count from song_dir where song_dir_id <= 2 order by song_dir_id;";
  EXPECT_EQ(sql(rounds), "1|0\n2|0\n");
  sql("update song set play_count = 1 where song_id in (4, 5);");
  hand_off("item0=1");
  ASSERT_TRUE(wait_for_plays(4)) << player_->console();  // after the silent song's 10 s
  EXPECT_EQ(sql(rounds), "1|1\n2|0\n") << "the last song of the round begins the next";
  console = player_->console();
  EXPECT_NE(console.find("Skipped " + song("silence.wav") + ": silent for 10 s\n"), std::string::npos) << console;

  const std::string played_last =
      "\"history\":\\[\\{\"id\":null,\"path\":\"" + song("a440.wav") + "\",\"name\":\"a440.wav\"";
  EXPECT_TRUE(onair_shows(played_last)) << onair();
  EXPECT_NE(onair().find("\"device\":\"default\""), std::string::npos) << onair();
  EXPECT_LT(::accept(listener, nullptr, nullptr), 0) << "the player connected to " << url;
  ::close(listener);
}

TEST_F(PlayerStation, OnlyOneProgramHoldsThePlayerWindowAndTheStopClosesIt) {
  {
    ServerProcess tool(station_.server(), std::nullopt, ZV_BINARY_DIR "/tools/player-window");
    ASSERT_TRUE(tool.wait_for_console("Window \"Zentavio Player\" open\n"));
    ServerProcess second(station_.server(), std::nullopt, ZV_PLAYER_BINARY);
    EXPECT_EQ(second.wait_exit(), 1);
    EXPECT_NE(
        second.console().find("Station player: the window \"Zentavio Player\" is held by another program; ending\n"),
        std::string::npos)
        << second.console();
  }
  start_player();
  ServerProcess tool(station_.server(), std::nullopt, ZV_BINARY_DIR "/tools/player-window");
  EXPECT_EQ(tool.wait_exit(), 1);
  EXPECT_NE(tool.console().find("cannot open a window titled \"Zentavio Player\""), std::string::npos);

  ::kill(player_->pid(), SIGTERM);
  EXPECT_EQ(player_->wait_exit(), 0);
  EXPECT_NE(player_->console().find("Station player: stopped\n"), std::string::npos) << player_->console();
  EXPECT_EQ(find_window(PLAYER_WINDOW_CAPTION), 0u);
}

// The loudest `hz` tone of `samples` over any 1/20 s.
double loudest(const std::vector<std::int16_t>& samples, int hz) {
  double most = 0;
  windows_where(samples, [&](std::size_t from, std::size_t to) {
    most = std::max(most, tone_level(samples, from, to, hz));
    return false;
  });
  return most;
}

// Music is crossfaded at the station's loudness, advertising neither fades in
// nor out, a mono song is heard on both channels and a stereo one at 48 kHz
// keeps its channels apart at its own level. In a crossfade the song on air
// is the incoming one: its position is shown, and a skip ends it, not the
// song fading out under it.
TEST_F(PlayerStation, MusicIsCrossfadedAtTheStationsLoudnessAdvertisingIsNotAndTheIncomingSongIsOnAir) {
  set_sound("crossfade_s=1\n");
  // Sound between 2 s of silence at each end; the second 16 dB quieter.
  add_song(7, 3, "a.wav", "-r 44100 -c 2", "synth 2 sine 440 vol 0.5 pad 2 2");
  add_song(8, 3, "b.wav", "-r 44100 -c 2", "synth 2 sine 880 vol 0.079 pad 2 2");
  add_song(9, 4, "ad.wav", "-r 44100 -c 2", "synth 1 sine 660 vol 0.5");
  // Advertising as well, so that no fade hides how the channels are heard.
  add_song(10, 4, "mono.wav", "-r 44100 -c 1", "synth 1 sine 330 vol 0.5");
  add_song(11, 4, "stereo.wav", "-r 48000 -c 2", "synth 1 sine 600 sine 800 vol 0.891");  // -1 dBFS
  add_song(12, 3, "out.wav", "-r 44100 -c 2", "synth 5 sine 520 vol 0.5");
  add_song(13, 3, "in.wav", "-r 44100 -c 2", "synth 5 sine 990 vol 0.5");
  add_song(14, 3, "after.wav", "-r 44100 -c 2", "synth 1 sine 1200 vol 0.5");
  start_server();
  start_player();
  ASSERT_TRUE(wait_for_measured(7, 14)) << player_->console();
  EXPECT_TRUE(printed("Song 11 measured: ")) << player_->console();
  hand_off("item0=7&item1=8&item2=9&item3=10&item4=11&item5=12&item6=13&item7=14");
  ASSERT_TRUE(onair_shows(now_on_air("in.wav"))) << player_->console();
  const std::string state = onair();
  std::smatch now;
  ASSERT_TRUE(
      std::regex_search(state, now, std::regex("\"now\":\\{[^}]*\"name\":\"in.wav\"[^}]*\"position\":([0-9.]+)")))
      << state;
  EXPECT_LT(std::stod(now[1].str()), 1.0) << "the position is the incoming song's own";
  control(player::CONTROL_SKIP);
  ASSERT_TRUE(wait_for_plays(7)) << player_->console();
  EXPECT_TRUE(heard_to_the_end(default_));
  EXPECT_EQ(record(),
            "a.wav|sent|played\nb.wav|sent|played\nad.wav|sent|played\nmono.wav|sent|played\nstereo.wav|sent|played\n"
            "out.wav|sent|played\nin.wav|sent|skipped\nafter.wav|sent|played\n");

  const auto left = default_.left_channel(), right = default_.right_channel();
  const auto level = [&](const std::vector<std::int16_t>& samples, int hz, double above) {
    return
        [&samples, hz, above](std::size_t from, std::size_t to) { return tone_level(samples, from, to, hz) > above; };
  };
  const auto both = [](auto one, auto other) {
    return [=](std::size_t from, std::size_t to) { return one(from, to) && other(from, to); };
  };
  EXPECT_NEAR(windows_where(left, both(level(left, 440, 0.01), level(left, 880, 0.01))) * 0.05, 1.0, 0.4)
      << "both tones sound for about the crossfade time";
  EXPECT_LE(windows_where(left, both(level(left, 880, 0.005), level(left, 660, 0.005))), 1)
      << "the advertising starts after the music, not in it";
  EXPECT_NEAR(db(loudest(left, 440)), db(TARGET_SINE), 1.0);
  EXPECT_NEAR(db(loudest(left, 880)), db(TARGET_SINE), 1.0);
  EXPECT_LT(windows_where(left, level(left, 990, 0.005)) * 0.05, 2.5)
      << "the skipped song of 5 s was cut within its crossfade and fade-out";
  EXPECT_GT(windows_where(left, level(left, 1200, 0.005)) * 0.05, 0.5) << "the song after it was heard";

  const auto left_tones = tones_heard(left), right_tones = tones_heard(right);
  ASSERT_FALSE(left_tones.empty());
  EXPECT_LT(longest_silence_ms(left, left_tones.front().start, left_tones.back().end), 50.0)
      << "no silence between the songs";

  // The mono song on both channels; the stereo one's channels apart, at its own level.
  EXPECT_NEAR(windows_where(left, both(level(left, 330, 0.01), level(right, 330, 0.01))) * 0.05, 1.0, 0.3);
  const auto stereo = std::find_if(left_tones.begin(), left_tones.end(), [](const Tone& t) { return t.hz == 600; });
  ASSERT_NE(stereo, left_tones.end()) << ::testing::PrintToString(frequencies(left_tones)) << player_->console();
  EXPECT_NE(std::find_if(right_tones.begin(), right_tones.end(), [](const Tone& t) { return t.hz == 800; }),
            right_tones.end())
      << ::testing::PrintToString(frequencies(right_tones));
  const double gain = std::stod(sql("select replay_gain from song where song_id = 11;"));
  const auto peak = [&](const std::vector<std::int16_t>& samples) {
    int most = 0;
    for (std::size_t i = stereo->start; i < stereo->end; ++i) most = std::max(most, std::abs(int{samples[i]}));
    return most;
  };
  EXPECT_NEAR(db(peak(left) / 32768.0) - gain, db(0.891), 0.3);
  EXPECT_NEAR(db(peak(right) / 32768.0) - gain, db(0.891), 0.3);
  EXPECT_LT(tone_level(left, stereo->start, stereo->end, 800), 0.001) << "the right tone is not on the left";
  EXPECT_NEAR(db(tone_level(left, stereo->start, stereo->end, 600)), db(TARGET_SINE), 1.0);
}

// The level of each tone heard, in dB of the station's target, over its
// middle half (clear of fades), at the one of `played` nearest its pitch (a
// tone cut by a kill may be heard a little off).
std::vector<double> levels_to_target(const std::vector<std::int16_t>& samples, const std::vector<Tone>& tones,
                                     const std::vector<int>& played) {
  std::vector<double> levels;
  for (const Tone& tone : tones) {
    const int hz = *std::min_element(played.begin(), played.end(),
                                     [&](int a, int b) { return std::abs(a - tone.hz) < std::abs(b - tone.hz); });
    const std::size_t quarter = (tone.end - tone.start) / 4;
    levels.push_back(db(tone_level(samples, tone.start + quarter, tone.end - quarter, hz)) - db(TARGET_SINE));
  }
  return levels;
}

// Songs imported while the player runs and sent at once are measured before
// they go on air, at -6 dBFS as at any level; killed and started again, the
// player knows every song's sound before its first one starts, and never
// fades the advertising into the music.
TEST_F(PlayerStation, SongsSentAtOnceAfterTheirImportAreHeardAtTheStationsLoudnessAlsoAfterAKill) {
  set_sound("crossfade_s=2\n");
  start_server();
  start_player();
  add_song(7, 3, "loud.wav", "-r 44100 -c 2", "synth 5 sine 440 vol 0.5");
  add_song(8, 4, "ad.wav", "-r 44100 -c 2", "synth 2 sine 660 vol 0.5");
  add_song(9, 3, "after.wav", "-r 44100 -c 2", "synth 2 sine 880 vol 0.5");
  hand_off("item0=7&item1=8&item2=9");
  ASSERT_TRUE(onair_shows(now_on_air("loud.wav"))) << player_->console();
  std::this_thread::sleep_for(1500ms);
  ::kill(player_->pid(), SIGKILL);
  player_->wait_exit();
  start_player();
  ASSERT_TRUE(wait_for_plays(3)) << player_->console();
  EXPECT_TRUE(heard_to_the_end(default_));
  const auto samples = default_.left_channel();
  const auto tones = tones_heard(samples);
  // The song cut by the kill and taken up again is heard first; the cut
  // leaves its pitch a little off.
  const auto hz = frequencies(tones);
  ASSERT_GE(hz.size(), 3u) << player_->console();
  EXPECT_EQ(std::vector<int>(hz.end() - 2, hz.end()), (std::vector<int>{660, 880})) << player_->console();
  for (auto first = hz.begin(); first != hz.end() - 2; ++first) EXPECT_NEAR(*first, 440, 60);
  for (const double level : levels_to_target(samples, tones, {440, 660, 880})) EXPECT_NEAR(level, 0.0, 1.0);
  const auto music_and_ad = windows_where(samples, [&](std::size_t from, std::size_t to) {
    return tone_level(samples, from, to, 660) > 0.005 &&
           std::max(tone_level(samples, from, to, 440), tone_level(samples, from, to, 880)) > 0.005;
  });
  EXPECT_LE(music_and_ad, 2) << "the advertising is not faded into the music";
  EXPECT_LT(db(std::max({loudest(samples, 440), loudest(samples, 660), loudest(samples, 880)})), db(TARGET_SINE) + 1.0)
      << "no moment above the station's loudness, before the kill or after";
}

// The station chose a device that is not there at the start (the stream off):
// a fault on the pages at once, the songs wait uncounted, and they are heard
// on the device once it is there. When writes to it fail later, nothing is
// counted either, and the song cut short is heard again once it takes sound.
TEST_F(PlayerStation, ADeviceMissingAtTheStartOrFailingLaterIsAFaultAndTheSongsWaitForIt) {
  add_long_song();
  std::ofstream(alsa_config_) << recorded_device_config("!default", default_);  // no "studio"
  choose_device(station_.server(), "studio");
  start_server();
  start_player();
  hand_off("item0=1&item1=3");
  ASSERT_TRUE(onair_shows(DEVICE_FAULT)) << player_->console();
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(record(), "") << "nothing went on air";
  EXPECT_NE(key_of("a440.wav"), "") << "the songs wait";
  write_alsa_config();  // the device is back
  ASSERT_TRUE(onair_shows(DEVICE_FAULT_PASSED)) << player_->console();
  ASSERT_TRUE(wait_for_plays(2)) << player_->console();
  EXPECT_EQ(record(), "a440.wav|sent|played\nc880.wav|sent|played\n");
  EXPECT_EQ(frequencies(heard(studio_, 2)), (std::vector<int>{440, 880}));
  EXPECT_TRUE(tones_heard(default_.left_channel()).empty());

  hand_off("item0=7&item1=3");
  ASSERT_TRUE(onair_shows(now_on_air("long.wav"))) << player_->console();
  std::this_thread::sleep_for(500ms);
  studio_.unplug(true);
  ASSERT_TRUE(onair_shows(DEVICE_FAULT)) << player_->console();
  EXPECT_TRUE(printed("Sound device studio failed (it does not play out what it takes); trying again in 5 s\n"))
      << player_->console();
  std::this_thread::sleep_for(2s);  // writes fail; the player tries the device again after 5 s
  EXPECT_EQ(plays(), 2) << player_->console();
  EXPECT_NE(key_of("long.wav"), "") << "the song cut short waits again";
  EXPECT_NE(key_of("c880.wav"), "");
  const std::size_t plugged_in = studio_.left_channel().size();
  studio_.unplug(false);
  ASSERT_TRUE(wait_for_plays(4)) << player_->console();
  EXPECT_TRUE(heard_to_the_end(studio_));
  const auto samples = studio_.left_channel();
  const std::vector<std::int16_t> since(samples.begin() + static_cast<std::ptrdiff_t>(plugged_in), samples.end());
  EXPECT_GT(
      windows_where(since, [&](std::size_t from, std::size_t to) { return tone_level(since, from, to, 550) > 0.03; }) *
          0.05,
      2.5)
      << "the song cut short is heard again";
  const auto tones = frequencies(tones_heard(since));
  ASSERT_FALSE(tones.empty());
  EXPECT_EQ(tones.back(), 880) << "and the song after it";
  EXPECT_EQ(sql("select song_id, play_count from song where song_id in (3, 7);"), "3|2\n7|1\n");
}

// A device chosen while the station streams fails: the program goes on on the
// stream, counted as it went out there, Skip works, and the card rejoins once
// the device is back.
TEST_F(PlayerStation, WhenTheDeviceFailsTheStreamCarriesTheProgramAndTheDeviceRejoins) {
  add_long_song();
  const std::string port = "18000";
  std::ofstream(alsa_config_) << recorded_device_config("!default", default_);  // no "studio"
  start_streaming(port, "/stream.mp3");
  const auto listener = listen(port, "/stream.mp3");
  hand_off("item0=1&item1=7&item2=2&item3=3");
  ASSERT_TRUE(onair_shows(now_on_air("a440.wav"))) << player_->console();
  choose_device(station_.server(), "studio");  // taken with the next song
  ASSERT_TRUE(onair_shows(DEVICE_FAULT)) << player_->console();
  ASSERT_TRUE(onair_shows(now_on_air("long.wav"))) << player_->console();
  control(player::CONTROL_SKIP);
  ASSERT_TRUE(onair_shows(last_played("c880.wav"))) << player_->console();
  EXPECT_EQ(record(), "a440.wav|sent|played\nlong.wav|sent|skipped\nb660.mp3|sent|played\nc880.wav|sent|played\n");
  EXPECT_TRUE(listener->hears("880 Hz", [](const std::vector<Tone>& tones) { return has_tone(tones, 880); }))
      << "the stream went on";
  EXPECT_TRUE(has_tone(tones_heard(listener->heard()), 660));
  listener->stop();

  copy_front_page();
  const std::string page = http_exchange("GET /index.php HTTP/1.0\r\n\r\n");
  const auto banner = page.find("<ul class=\"error\" id=\"faults\">");
  ASSERT_NE(banner, std::string::npos) << page;
  EXPECT_NE(page.find("The sound device studio fails", banner), std::string::npos) << page;
  write_alsa_config();  // the device is back
  ASSERT_TRUE(onair_shows(DEVICE_FAULT_PASSED)) << player_->console();
  hand_off("item0=6");
  EXPECT_EQ(frequencies(heard(studio_, 1)), (std::vector<int>{330})) << "the station plays on the device again";
  stop_icecast();
}

TEST_F(PlayerStation, WithoutASoundCardTheStationStreamsOnlyAndThatIsNoFault) {
  std::ofstream(alsa_config_) << "";  // no default device at all, as on a machine without a sound card
  start_player();
  EXPECT_TRUE(printed("Station player: there is no sound card; playing to the null output\n")) << player_->console();
  EXPECT_TRUE(printed("Sound device: null\n")) << player_->console();
  ASSERT_TRUE(onair_shows("\"device\":\"null \\(no sound card\\)\"")) << player_->console();
  EXPECT_EQ(onair().find("\"kind\":\"device\""), std::string::npos) << "no card is no fault";
}

// Icecast refuses the source password: the fault names the mount and the password.
TEST_F(PlayerStation, ARefusedSourcePasswordIsShownAsSuch) {
  start_icecast("18000");
  std::ofstream(station_.server() / "stream_password.txt") << "not-the-password";
  start_server();
  start_player();
  EXPECT_TRUE(
      onair_shows("\"kind\":\"stream\",\"text\":\"The stream icecast://127.0.0.1:18000/stream.mp3 is down "
                  "\\(Icecast refused the source password for /stream.mp3\\)\""))
      << onair() << player_->console();
  stop_icecast();
}

// The StreamTitle a listener asking for ICY metadata receives first (empty
// when none came within 3 s), and the response's headers.
std::pair<std::string, std::string> icy_title(const fs::path& folder, const std::string& url) {
  const fs::path headers = folder / "icy-headers.txt", body = folder / "icy-body.bin";
  std::system(
      ("curl -s --max-time 3 -H 'Icy-MetaData: 1' -D '" + headers.string() + "' -o '" + body.string() + "' " + url)
          .c_str());
  const std::string head = read_file(headers), audio = read_file(body);
  std::smatch interval;
  if (!std::regex_search(head, interval, std::regex("icy-metaint:\\s*([0-9]+)", std::regex::icase))) return {"", head};
  const std::size_t every = std::stoul(interval[1]);
  for (std::size_t at = every; at < audio.size(); at += every + 1) {
    const std::size_t length = static_cast<unsigned char>(audio[at]) * 16u;
    const std::string meta = audio.substr(at + 1, length);
    if (const auto title = meta.find("StreamTitle='"); title != std::string::npos) {
      return {meta.substr(title + 13, meta.find("';", title) - title - 13), head};
    }
    at += length;
  }
  return {"", head};
}

// The program on the MP3 and the Ogg Opus stream, each song named there and on
// the pages with its tags, the listeners on record; Icecast stopped, the card
// plays on and the streams come back by themselves.
TEST_F(PlayerStation, TheProgramIsOnBothStreamsWithItsTitlesAndTheStreamsComeBackByThemselves) {
  const std::string port = "18000";
  // Song 8: 6 s, tagged by lame in UTF-16 with a Japanese title.
  add_song(8, 3, "tagged.wav", "-r 44100 -c 2", "synth 6 sine 550 vol 0.5");
  const std::string command =
      "LC_ALL=C.UTF-8 lame --quiet --id3v2-utf16 --ta 'Überlänge – Ça' --tt '日本語' --tl 'Album' "
      "--tv TSRC=USABC2100001 '" +
      song("tagged.wav") + "' '" + song("tagged.mp3") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  sql("update song set song_name = '" + song("tagged.mp3") + "' where song_id = 8;");
  set_sound("crossfade_s=0\nstation_name=Radio Ü\nstream_opus=1\n");
  copy_front_page();
  for (const char* page : {"nowplaying.php", "history.php"})
    fs::copy(fs::path(ZV_SOURCE_DIR) / "station/www" / page, station_.www() / page);
  // The pages get none of the test's environment: the server runs where the
  // test's library registration stands in for /etc's.
  const fs::path wrapper = station_.root.path() / "server-with-library";
  std::ofstream(wrapper)
      << "#!/bin/sh\nexec unshare --mount --propagation private sh -c 'mount --bind \"$1/odbcinst.ini\" "
         "/etc/odbcinst.ini && mount --bind \"$1/odbc.ini\" /etc/odbc.ini && exec \"$2\"' sh '"
      << test::use_test_odbc_registration().string() << "' '" << ZV_SERVER_BINARY << "'\n";
  fs::permissions(wrapper, fs::perms::owner_all);
  start_icecast(port);
  server_.emplace(station_.server(), std::nullopt, wrapper.c_str());
  ASSERT_TRUE(server_->wait_until_listening()) << server_->console();
  start_player();
  ASSERT_TRUE(stream_is("up", port, "/stream.mp3")) << player_->console();
  ASSERT_TRUE(stream_is("up", port, "/stream.opus")) << player_->console();
  ASSERT_TRUE(wait_until([&] { return sql("select count(*) from song_tags where song_id = 8;") == "1\n"; }))
      << player_->console();
  EXPECT_TRUE(printed("Song 8 tags: Überlänge – Ça - 日本語\n")) << player_->console();
  // The listeners are counted before the songs begin, however long they took to connect.
  const auto mp3 = listen(port, "/stream.mp3");
  const fs::path ogg = station_.root.path() / "listener.ogg";
  const auto opus = listen(port, "/stream.opus", 2, "listener.ogg", false);
  hand_off("item0=1&item1=2&item2=3&item3=8");
  std::string titles;
  wait_until([&] { return (titles += icecast_status(port)).find("\"title\":\"c880\"") != std::string::npos; });
  for (const char* title : {"\"title\":\"a440\"", "\"title\":\"b660\"", "\"title\":\"c880\""}) {
    EXPECT_NE(titles.find(title), std::string::npos) << title << " in " << titles;
  }
  const std::string front = http_exchange("GET /index.php HTTP/1.0\r\n\r\n");
  EXPECT_NE(front.find("Listen: <a href=\"http://127.0.0.1:" + port + "/stream.mp3\">"), std::string::npos) << front;
  EXPECT_NE(front.find("<span class=\"listeners\">1 listener</span>"), std::string::npos) << front;

  // The tagged song: named on the now-playing page and in the MP3 stream's metadata.
  ASSERT_TRUE(onair_shows(now_on_air("tagged.mp3"))) << player_->console();
  const std::string now = http_exchange("GET /nowplaying.php HTTP/1.0\r\n\r\n");
  EXPECT_NE(now.find("Content-Type: application/json"), std::string::npos) << now;
  EXPECT_NE(now.find("\"name\":\"Radio Ü\""), std::string::npos) << now;
  EXPECT_NE(now.find("\"text\":\"Überlänge – Ça - 日本語\",\"artist\":\"Überlänge – Ça\",\"title\":\"日本語\""),
            std::string::npos)
      << now;
  std::smatch elapsed;
  ASSERT_TRUE(std::regex_search(now, elapsed, std::regex("\"duration\":6,\"elapsed\":([0-9]+),"))) << now;
  EXPECT_LE(std::stoi(elapsed[1]), 6);
  EXPECT_TRUE(std::regex_search(now, std::regex("\"listeners\":\\{\"total\":[1-9]"))) << now;
  std::pair<std::string, std::string> icy;
  for (int i = 0; i < 5 && icy.first != "Überlänge – Ça - 日本語"; ++i)
    icy = icy_title(station_.root.path(), "http://127.0.0.1:" + port + "/stream.mp3");
  EXPECT_EQ(icy.first, "Überlänge – Ça - 日本語") << icy.second;
  EXPECT_NE(icy.second.find("icy-name:Radio Ü\r\n"), std::string::npos) << icy.second;
  ASSERT_TRUE(wait_for_plays(4)) << player_->console();
  EXPECT_TRUE(mp3->hears("550 Hz", [](const std::vector<Tone>& tones) { return has_tone(tones, 550); }));
  EXPECT_EQ(frequencies(tones_heard(mp3->heard())), (std::vector<int>{440, 660, 880, 550}));
  mp3->stop();
  // The Ogg Opus stream carries the program as well, each song an Ogg stream
  // of its own whose comments name it: decoded as a player does (playbin
  // follows one Ogg stream to the next), at most once a second.
  const auto opus_heard = [&] {
    std::system(("gst-launch-1.0 -q playbin uri=file://" + ogg.string() +
                 " video-sink=fakesink audio-sink='audioconvert ! audioresample ! "
                 "audio/x-raw,format=S16LE,rate=44100,channels=1 ! filesink location=" +
                 (station_.root.path() / "opus.raw").string() + "'")
                    .c_str());
    const std::string raw = read_file(station_.root.path() / "opus.raw");
    std::vector<std::int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return tones_heard(samples);
  };
  EXPECT_TRUE(waited_for(
      "the Opus listener to hear 550 Hz",
      [&] {
        std::this_thread::sleep_for(1s);
        return has_tone(opus_heard(), 550);
      },
      [&] { return tones_text(opus_heard()); }));
  opus->stop();
  EXPECT_EQ(frequencies(opus_heard()), (std::vector<int>{440, 660, 880, 550}));
  const std::string kept = read_file(ogg);
  for (const char* comment : {"TITLE=a440", "TITLE=b660", "TITLE=c880", "ARTIST=Überlänge – Ça", "TITLE=日本語"})
    EXPECT_NE(kept.find(comment), std::string::npos) << comment;

  // The tagged song's listeners on record, and in the royalty reports.
  const std::string peak = sql("select listeners_peak from play_detail where title = '日本語';");
  EXPECT_GE(std::atoi(peak.c_str()), 1) << peak;
  const std::string report = http_exchange("GET /history.php?format=soundexchange HTTP/1.0\r\n\r\n");
  EXPECT_NE(report.find("NAME_OF_SERVICE\tTRANSMISSION_CATEGORY\tFEATURED_ARTIST\tSOUND_RECORDING_TITLE\tISRC\tALBUM_"
                        "TITLE\tMARKETING_LABEL\tACTUAL_TOTAL_PERFORMANCES\r\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("\r\n^Radio U^\t^^\t^Uberlange - Ca^\t^???^\t^USABC2100001^\t^Album^\t^^\t" +
                        peak.substr(0, peak.size() - 1) + "\r\n"),
            std::string::npos)
      << report;
  const std::string music = http_exchange("GET /history.php?format=music HTTP/1.0\r\n\r\n");
  EXPECT_NE(music.find(",日本語,\"Überlänge – Ça\",,0:0"), std::string::npos) << music;
  const std::string history = http_exchange("GET /history.php HTTP/1.0\r\n\r\n");
  EXPECT_NE(history.find("<svg id=\"listeners-chart\""), std::string::npos) << history;

  // Icecast stopped: the sound card plays on, and the streams come back.
  stop_icecast();
  const std::string down = "The stream icecast://127.0.0.1:" + port + "/stream.mp3 is down (";
  ASSERT_TRUE(stream_is("down", port, "/stream.mp3")) << player_->console();
  EXPECT_TRUE(printed("Stream icecast://127.0.0.1:" + port + "/stream.mp3 is down (")) << player_->console();
  hand_off("item0=1");
  ASSERT_TRUE(wait_for_plays(5)) << player_->console();
  EXPECT_EQ(frequencies(heard(default_, 5)), (std::vector<int>{440, 660, 880, 550, 440}));
  const std::time_t restarted = std::time(nullptr);
  start_icecast(port);
  EXPECT_TRUE(stream_is("up", port, "/stream.mp3", restarted)) << player_->console();
  // Down, the streams were one fault until they came back, and it is on record.
  EXPECT_TRUE(wait_until([&] { return sql("select kind from fault_record where ended > 0;") == "stream\n"; }))
      << sql("select * from fault_record;");
  for (const std::string& line :
       {"Stream on air: icecast://127.0.0.1:" + port + "/stream.opus\n", "Fault: " + down, "Fault passed: " + down}) {
    EXPECT_TRUE(printed(line)) << player_->console();
  }
  EXPECT_TRUE(printed("Fault on record: " + down, 2)) << player_->console();
  stop_icecast();
}

// The card stops taking sound for 20 s: a listener of the stream stays
// connected and hears the program all along; the card's fault is shown. The
// player killed and started again, Icecast's own fallback holds the listener,
// and the player takes it back.
TEST_F(PlayerStation, AStreamListenerStaysThroughACardStalledFor20SecondsAndAPlayerKilledAndStartedAgain) {
  add_song(7, 3, "long.wav", "-r 44100 -c 2", "synth 40 sine 550 vol 0.5");
  const std::string port = "18000";
  start_streaming(port, "/stream.mp3");
  hand_off("item0=7");
  ASSERT_TRUE(onair_shows(now_on_air("long.wav"))) << player_->console();
  const auto listener = listen(port, "/stream.mp3");
  default_.hold(true);
  EXPECT_TRUE(onair_shows(ANY_DEVICE_FAULT)) << player_->console();
  std::this_thread::sleep_for(20s);
  default_.hold(false);
  EXPECT_TRUE(listener->hears("20 s of 550 Hz", [](const std::vector<Tone>& tones) {
    return !tones.empty() && tones[0].end - tones[0].start > static_cast<std::size_t>(RECORDING_RATE * 20);
  })) << "20 s of the song at least";
  control(player::CONTROL_SKIP);
  ASSERT_TRUE(onair_shows(last_played("long.wav"))) << player_->console();

  ::kill(player_->pid(), SIGKILL);
  player_->wait_exit();
  copy_front_page();
  EXPECT_NE(http_exchange("GET /index.php HTTP/1.0\r\n\r\n").find("the player is not running."), std::string::npos)
      << "told at once, by the window that no longer answers";
  std::this_thread::sleep_for(2s);
  const std::time_t restarted = std::time(nullptr);
  start_player();
  ASSERT_TRUE(stream_is("up", port, "/stream.mp3", restarted)) << player_->console();
  hand_off("item0=1&item1=2&item2=3");
  EXPECT_TRUE(wait_for_plays(3)) << player_->console();
  EXPECT_TRUE(listener->hears("880 Hz", [](const std::vector<Tone>& tones) { return has_tone(tones, 880); }));
  EXPECT_TRUE(listener->stop()) << "the listener was connected all along";
  stop_icecast();
  const auto heard = listener->heard();
  const auto tones = tones_heard(heard);
  ASSERT_GE(tones.size(), 4u) << ::testing::PrintToString(frequencies(tones));
  EXPECT_EQ(tones[0].hz, 550);
  EXPECT_GT(tones[0].end - tones[0].start, static_cast<std::size_t>(RECORDING_RATE * 20)) << "through the stall";
  EXPECT_LT(longest_silence_ms(heard, tones[0].start, tones[0].end), 100.0);
  EXPECT_EQ(distinct(std::vector<Tone>(tones.begin() + 1, tones.end())), (std::vector<int>{440, 660, 880}))
      << "the fallback, then the program again";
}

// A minute of one song while four processes keep both cores busy: the card
// hears it without a gap.
TEST_F(PlayerStation, FourBusyProcessesLeaveNoGapInASong) {
  add_song(7, 3, "long.wav", "-r 44100 -c 2", "synth 60 sine 550 vol 0.5");
  start_server();
  start_player();
  const fs::path pids = station_.root.path() / "busy.pids";
  ASSERT_EQ(std::system(("for i in 1 2 3 4; do timeout 80 sh -c 'while :; do :; done' & echo $! >>'" + pids.string() +
                         "'; done")
                            .c_str()),
            0);
  hand_off("item0=7");
  const auto played = onair_shows(last_played("long.wav"), DEADLINE + 60s);
  std::system(("kill $(cat '" + pids.string() + "') 2>/dev/null").c_str());
  ASSERT_TRUE(played) << player_->console();
  const auto samples = default_.left_channel();
  const auto tones = tones_heard(samples);
  ASSERT_EQ(frequencies(tones), (std::vector<int>{550}));
  EXPECT_LT(longest_silence_ms(samples, tones[0].start, tones[0].end), 20.0);
}

}  // namespace
}  // namespace zv::testing

namespace zv::testing {
namespace {

// A window folder that other users may enter is refused, and both programs
// say so rather than blame another program.
TEST(WindowFolder, AnExposedWindowFolderIsNamedAsTheProblem) {
  Station station;
  const fs::path windows = station.root.path() / "windows";
  fs::create_directory(windows);
  fs::permissions(windows, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  std::vector<std::string> environment = short_limits_environment();
  environment.push_back("ZV_WINDOW_DIR=" + windows.string());
  const std::string problem = "the window folder " + windows.string() + " is open to other users (it must be 0700)";
  ServerProcess player(station.server(), environment, ZV_PLAYER_BINARY);
  EXPECT_EQ(player.wait_exit(), 1);
  EXPECT_NE(player.console().find("Station player: the window \"Zentavio Player\" cannot be opened: " + problem +
                                  "; ending\n"),
            std::string::npos)
      << player.console();
  ServerProcess server(station.server(), environment);
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  EXPECT_NE(server.console().find("The console window cannot be opened: " + problem + ".\n"), std::string::npos)
      << server.console();
}

}  // namespace
}  // namespace zv::testing
