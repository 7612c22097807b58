// The station player beside the real server: songs handed off through the
// server are heard on an ALSA device of the test's own, counted in a real
// library, and the player goes on with the schedule when nothing is handed off.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "../unit/library_fixture.h"
#include "../unit/receiving_window.h"
#include "audio_recording.h"
#include "platform/window_messages.h"
#include "playlist/player_handoff.h"
#include "server_harness.h"

namespace zv::testing {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<int> frequencies(const std::vector<Tone>& tones) {
  std::vector<int> hz;
  for (const Tone& tone : tones) hz.push_back(tone.hz);
  return hz;
}

// A station with the player's three tones (440 Hz .wav, 660 Hz .mp3, 880 Hz
// .wav, 1 s each) as songs 1 to 3 of folder 1, a missing file as song 4 and a
// file that is no audio as song 5; song 6 is in folder 2 and never played.
class PlayerStation : public ::testing::Test {
 protected:
  void SetUp() override {
    station_.link_php_cgi();
    ASSERT_TRUE(test::make_library(station_.server()));
    music_ = station_.root.path() / "music";
    fs::create_directories(music_);
    for (const auto& [name, hz] : {std::pair{"a440.wav", 440}, {"b660.mp3", 660}, {"c880.wav", 880}, {"z.wav", 440}}) {
      const std::string command = "sox -n -r 44100 -c 2 '" + (music_ / name).string() + "' synth 1 sine " +
                                  std::to_string(hz) + " vol 0.5 2>&1";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    std::ofstream(music_ / "broken.mp3") << std::string(4000, 'x');
    const std::string m = music_.string() + "/";
    ASSERT_EQ(sql("insert into song_dir (song_dir_id, dir_order, dir_name) values (1, 1, '" + m + "'), (2, 2, '/other/');"
                  "insert into song (song_id, song_dir_id, song_name) values (1, 1, '" + m + "a440.wav'), (2, 1, '" + m +
                  "b660.mp3'), (3, 1, '" + m + "c880.wav'), (4, 1, '" + m + "gone.wav'), (5, 1, '" + m +
                  "broken.mp3'), (6, 2, '" + m + "z.wav');"),
              "");
    fs::copy_file(fs::path(ZV_SOURCE_DIR) / "tests/integration/scripts/echo_input.php", station_.www() / "playlist.php");
    // These songs are 1 s tones, heard one after another.
    std::ofstream(station_.server() / "sound_settings.txt") << "crossfade_s=0\n";
    alsa_config_ = station_.root.path() / "asound.conf";
    write_alsa_config();
    ::setenv("ALSA_CONFIG_PATH", alsa_config_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("ALSA_CONFIG_PATH"); }

  void write_alsa_config() {
    std::ofstream(alsa_config_) << recorded_device_config("!default", default_) + recorded_device_config("studio", studio_);
  }
  std::string sql(const std::string& statement) { return test::library_sql(station_.server(), statement); }
  void start_server() {
    server_.emplace(station_.server());
    ASSERT_TRUE(server_->wait_until_listening()) << server_->console();
  }
  void start_player() {
    player_.emplace(station_.server(), std::nullopt, ZV_PLAYER_BINARY);
    ASSERT_TRUE(player_->wait_for_console("Station player: window \"Zentavio Player\" open")) << player_->console();
  }
  // Hands the songs off through the server, as the station's page does.
  void hand_off(const std::string& query) {
    const std::string reply = http_exchange("GET /playlist.php?" + query + " HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(reply.ends_with("length 0\n<<<>>>")) << reply << server_->console();
  }
  bool wait_for_player(const std::string& text, int times = 1, std::chrono::milliseconds timeout = 20s) {
    return player_->wait_for_console(text, timeout, times);
  }
  std::string song(const std::string& name) const { return (music_ / name).string(); }
  // The tones a device has heard once `count` of them have come out of it: a
  // song counted as played may still be on its way through the device.
  static std::vector<Tone> heard(const AudioRecorder& device, std::size_t count) {
    std::vector<Tone> tones = tones_heard(device.left_channel());
    for (int i = 0; i < 100 && tones.size() < count; ++i) {
      std::this_thread::sleep_for(50ms);
      tones = tones_heard(device.left_channel());
    }
    return tones;
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

TEST_F(PlayerStation, HandedOffSongsAreHeardInOrderWithoutAGapAndCounted) {
  start_server();
  start_player();
  const auto before = std::time(nullptr);
  hand_off("item0=1&item1=2&item2=3");
  ASSERT_TRUE(wait_for_player("Play counted: ", 3)) << player_->console();
  const auto after = std::time(nullptr);

  const std::string console = player_->console();
  for (const char* name : {"a440.wav", "b660.mp3", "c880.wav"}) {
    EXPECT_NE(console.find("Queued: " + song(name) + "\n"), std::string::npos) << console;
    EXPECT_NE(console.find("On air: " + song(name) + "\n"), std::string::npos) << console;
    EXPECT_NE(console.find("Play counted: " + song(name) + "\n"), std::string::npos) << console;
  }
  EXPECT_NE(console.find("Sound device: default\n"), std::string::npos) << console;
  const auto tones = heard(default_, 3);
  const auto samples = default_.left_channel();
  ASSERT_EQ(frequencies(tones), (std::vector<int>{440, 660, 880}));
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
  EXPECT_EQ(sql("select song_dir_id, play_count from song_dir order by song_dir_id;"), "1|0\n2|0\n");
  sql("update song set play_count = 1 where song_id in (4, 5);");
  hand_off("item0=1");
  ASSERT_TRUE(wait_for_player("Play counted: ", 4)) << player_->console();
  EXPECT_EQ(sql("select song_dir_id, play_count from song_dir order by song_dir_id;"), "1|1\n2|0\n")
      << "the last song of the round begins the next";

  const std::string onair = read_file(station_.server() / "onair.json");
  EXPECT_NE(onair.find("\"history\":[{\"id\":null,\"path\":\"" + song("a440.wav") + "\",\"name\":\"a440.wav\""),
            std::string::npos)
      << onair;
  EXPECT_NE(onair.find("\"device\":\"default\""), std::string::npos) << onair;
}

TEST_F(PlayerStation, MissingAndUndecodableFilesAreSkippedAndTheNextSongIsHeard) {
  start_server();
  start_player();
  hand_off("item0=1&item1=4&item2=5&item3=3");
  ASSERT_TRUE(wait_for_player("Play counted: ", 2)) << player_->console();

  const std::string console = player_->console();
  EXPECT_NE(console.find("Skipped " + song("gone.wav") + ": the file is missing\n"), std::string::npos) << console;
  EXPECT_NE(console.find("Skipped " + song("broken.mp3") + ": "), std::string::npos) << console;
  EXPECT_EQ(frequencies(heard(default_, 2)), (std::vector<int>{440, 880}));
  EXPECT_EQ(sql("select song_id, play_count from song where song_id in (4, 5);"), "4|0\n5|0\n");
}

TEST_F(PlayerStation, WithNothingHandedOffTheScheduledFoldersPlay) {
  sql("insert into playlist_info (playinfo_id, play_time, week_days) values (1, 24, 128);"
      "insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 1, 1);"
      "update song set song_dir_id = 0 where song_id in (4, 5);");
  start_player();
  ASSERT_TRUE(wait_for_player("Play counted: ", 3)) << player_->console();

  const std::string console = player_->console();
  EXPECT_NE(console.find("Coming hour: 3 songs from the schedule\n"), std::string::npos) << console;
  EXPECT_EQ(console.find(song("z.wav")), std::string::npos) << "folder 2 is not scheduled";
  auto scheduled = frequencies(heard(default_, 3));
  scheduled.resize(3);
  std::sort(scheduled.begin(), scheduled.end());
  EXPECT_EQ(scheduled, (std::vector<int>{440, 660, 880})) << "one song a position, none twice within the hour";
}

TEST_F(PlayerStation, WithoutASchedulePlayerWaitsForSongs) {
  start_player();
  EXPECT_TRUE(wait_for_player("Coming hour: no songs in the schedule; trying again in 30 s\n")) << player_->console();
}

TEST_F(PlayerStation, ChosenDeviceIsPlayedOnFromTheNextSong) {
  start_server();
  start_player();
  hand_off("item0=1");
  ASSERT_TRUE(wait_for_player("On air: ")) << player_->console();
  // As the device page stores a choice.
  std::ofstream(station_.server() / "sound_device.txt.new") << "{81ECAF3C-4FEB-8A5B-842B-13BD8ACDDE90}\nstudio\nStudio out\n";
  fs::rename(station_.server() / "sound_device.txt.new", station_.server() / "sound_device.txt");
  hand_off("item0=3");
  ASSERT_TRUE(wait_for_player("Play counted: ", 2)) << player_->console();

  EXPECT_NE(player_->console().find("Sound device: studio\n"), std::string::npos) << player_->console();
  EXPECT_EQ(frequencies(heard(default_, 1)), (std::vector<int>{440}));
  EXPECT_EQ(frequencies(heard(studio_, 1)), (std::vector<int>{880}));
}

TEST_F(PlayerStation, DeviceThatCannotBeOpenedIsTriedAgainAndNothingIsLost) {
  std::ofstream(station_.server() / "sound_device.txt") << "{00000000-0000-0000-0000-000000000001}\nunplugged\nUSB\n";
  start_server();
  start_player();
  hand_off("item0=1");
  ASSERT_TRUE(wait_for_player(
      "Sound device unplugged failed (audio output initialization failed); trying again in 5 s\n"))
      << player_->console();
  std::ofstream(station_.server() / "sound_device.txt") << "\ndefault\nSystem default\n";
  ASSERT_TRUE(wait_for_player("Play counted: ")) << player_->console();
  EXPECT_EQ(frequencies(heard(default_, 1)), (std::vector<int>{440}));
}

TEST_F(PlayerStation, PlaysAreCountedOnceTheLibraryCanBeReachedAgain) {
  start_server();
  start_player();
  hand_off("item0=1");
  ASSERT_TRUE(wait_for_player("On air: ")) << player_->console();
  fs::rename(station_.server() / "base2.mdb", station_.server() / "base2.away");
  ASSERT_TRUE(wait_for_player("Library unreachable: 1 play counts kept until it can be reached\n"))
      << player_->console();
  EXPECT_NE(read_file(station_.server() / "plays_pending.txt").find("\t\t" + song("a440.wav") + "\n"),
            std::string::npos);
  fs::rename(station_.server() / "base2.away", station_.server() / "base2.mdb");
  ASSERT_TRUE(wait_for_player("Play counted: ")) << player_->console();
  EXPECT_EQ(sql("select play_count from song where song_id = 1;"), "1\n");
  EXPECT_FALSE(fs::exists(station_.server() / "plays_pending.txt"));
}

TEST_F(PlayerStation, OnlyOneProgramHoldsThePlayerWindowAndTheStopClosesIt) {
  {
    ServerProcess tool(station_.server(), std::nullopt, ZV_BINARY_DIR "/tools/player-window");
    ASSERT_TRUE(tool.wait_for_console("Window \"Zentavio Player\" open\n"));
    ServerProcess second(station_.server(), std::nullopt, ZV_PLAYER_BINARY);
    EXPECT_EQ(second.wait_exit(), 1);
    EXPECT_NE(second.console().find("Station player: the window \"Zentavio Player\" is held by another program; ending\n"),
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

}  // namespace
}  // namespace zv::testing
