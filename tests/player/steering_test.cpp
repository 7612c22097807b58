// What is handed off and what the operator does with it, on a stand-in
// engine: the order, the record and the counts, the faults, a restart.

#include <filesystem>

#include "player_control.h"
#include "station_fixture.h"

namespace zv::player::test {
namespace {

using Steering = StationFixture;

TEST_F(Steering, HandedOffSongsPlayInOrderAndThoseThatCannotPlayAreSkippedOnRecord) {
  engine.instant = false;
  start();
  for (const char* name : {"a.wav", "gone.wav", "b.wav", "c.wav"}) send(name);
  ASSERT_TRUE(on_air("a.wav"));
  engine.end_song();
  ASSERT_TRUE(on_air("b.wav"));
  engine.fail_song("not audio");
  ASSERT_TRUE(on_air("c.wav"));
  engine.end_song();
  ASSERT_TRUE(recorded(4));
  EXPECT_EQ(library.sql("select song_name, source, outcome from play_record order by song_name;"),
            "a.wav|sent|played\nb.wav|sent|failed\nc.wav|sent|played\ngone.wav|sent|failed\n");
  ASSERT_TRUE(run_until([&] {
    return std::regex_search(onair_json(), std::regex("\"history\":\\[\\{[^}]*\"name\":\"c.wav\""));
  })) << onair_json();
  EXPECT_NE(onair_json().find("\"kind\":\"skipped\",\"text\":\"Skipped " + path("gone.wav") + ": the file is missing"),
            std::string::npos);
  EXPECT_EQ(library.sql("select song_id, play_count from song order by song_id;"), "1|1\n2|0\n3|1\n");
  for (const char* line : {"Queued: ", "On air: ", "Play counted: "}) EXPECT_TRUE(said(line + path("c.wav")));
  EXPECT_TRUE(said("Skipped " + path("gone.wav") + ": the file is missing"));
  EXPECT_TRUE(said("Fault: Skipped " + path("b.wav") + ": not audio"));
}

TEST_F(Steering, SkipRemoveAndMoveChangeWhatComesNext) {
  add_song(4, 1, "z.wav");
  engine.instant = false;
  start();
  for (const char* name : {"a.wav", "b.wav", "c.wav", "z.wav"}) send(name);
  ASSERT_TRUE(on_air("a.wav"));
  ASSERT_TRUE(run_until([&] { return !key_of("z.wav").empty(); })) << onair_json();
  control(CONTROL_MOVE_NEXT, key_of("z.wav"));
  control(CONTROL_REMOVE, key_of("b.wav"));
  control(CONTROL_SKIP);
  engine.instant = true;
  ASSERT_TRUE(recorded(3));
  EXPECT_EQ(record(), "a.wav|sent|skipped\nz.wav|sent|played\nc.wav|sent|played\n");
  EXPECT_EQ(library.sql("select song_id, play_count from song order by song_id;"), "1|0\n2|0\n3|1\n4|1\n");
  for (const std::string& line : {"Next: " + path("z.wav"), "Removed: " + path("b.wav"), "Skip: " + path("a.wav"),
                                  "Play on record (skipped): " + path("a.wav")})
    EXPECT_TRUE(said(line)) << line;
}

TEST_F(Steering, ASentSongGoesOnAirBeforeTheScheduledSongGivenAhead) {
  add_song(4, 2, "z.wav");
  library.sql(
      "insert into playlist_info (playinfo_id, play_time, week_days) values (1, 24, 128);"
      "insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 1, 1);");
  engine.instant = false;
  start();
  ASSERT_TRUE(run_until([&] { return engine.on_air() && engine.given.size() == 2; }));
  send("z.wav");
  engine.end_song();
  ASSERT_TRUE(run_until([&] { return engine.on_air() != nullptr; }));
  EXPECT_EQ(*engine.on_air(), path("z.wav"));
}

// Nothing heard while the card fails (and no stream carries the program):
// the songs wait uncounted, and every control message acts on them.
TEST_F(Steering, WhileTheDeviceFailsTheSongsWaitAndEveryControlActsOnThem) {
  add_song(4, 1, "z.wav");
  engine.instant = false;
  start();
  for (const char* name : {"a.wav", "b.wav", "c.wav"}) send(name);
  ASSERT_TRUE(on_air("a.wav"));
  engine.fail_device("it does not play out what it takes");
  ASSERT_TRUE(run_until([&] { return onair_json().find("\"kind\":\"device\"") != std::string::npos; }));
  send("z.wav");  // queued all the same
  ASSERT_TRUE(run_until([&] { return !key_of("z.wav").empty() && !key_of("a.wav").empty(); })) << onair_json();
  control(CONTROL_SKIP);
  control(CONTROL_REMOVE, key_of("c.wav"));
  control(CONTROL_STOP);
  control(CONTROL_RESUME);
  ASSERT_TRUE(run_until([&] { return engine.given.size() >= 3; }));
  EXPECT_EQ(key_of("a.wav"), "") << onair_json();
  EXPECT_NE(key_of("b.wav"), "");
  EXPECT_EQ(engine.on_air(), nullptr) << "the songs wait";
  engine.device_back();
  engine.instant = true;
  ASSERT_TRUE(recorded(2));
  EXPECT_EQ(record(), "b.wav|sent|played\nz.wav|sent|played\n");
  EXPECT_EQ(library.sql("select song_id, play_count from song order by song_id;"), "1|0\n2|1\n3|0\n4|1\n");
  for (const std::string& line : std::vector<std::string>{
           "Sound device null failed (it does not play out what it takes); trying again in 5 s",
           "Skip: " + path("a.wav") + ", which waits for the sound device", "Removed: " + path("c.wav"),
           "Stopped by the operator", "Resumed by the operator", "Sound device null plays again",
           "Fault passed: The sound device null fails (it does not play out what it takes)"})
    EXPECT_TRUE(said(line)) << line;
}

// The device is taken from the next song on; while it fails, a device chosen is taken at once.
TEST_F(Steering, AChosenDeviceIsTakenForTheNextSongOrAtOnceWhileTheDeviceFails) {
  engine.instant = false;
  start();
  send("a.wav");
  ASSERT_TRUE(on_air("a.wav"));
  write("sound_device.txt", "{81ECAF3C-4FEB-8A5B-842B-13BD8ACDDE90}\nstudio\nStudio out\n");
  send("b.wav");
  engine.end_song();
  ASSERT_TRUE(on_air("b.wav"));
  ASSERT_FALSE(engine.devices.empty());
  EXPECT_EQ(engine.devices.back(), (std::pair<std::string, std::size_t>{"studio", 1}));
  engine.fail_device("audio output initialization failed");
  ASSERT_TRUE(run_until([&] { return onair_json().find("\"kind\":\"device\"") != std::string::npos; }));
  write("sound_device.txt", "{00000000-0000-0000-0000-000000000001}\nusb\nUSB out\n");
  ASSERT_TRUE(run_until([&] { return engine.devices.back().first == "usb"; }));
  EXPECT_TRUE(said("Sound device: studio"));
}

// What a SIGKILL leaves on the disk: a hand-off as soon as it was answered,
// and the song on air where it was. Started again, the player goes on with
// that song from there, then every song sent, each on record once.
TEST_F(Steering, AfterAKillTheSongOnAirGoesOnAndEverySongOfAnAnsweredHandOffPlays) {
  engine.instant = false;
  start();
  send("a.wav");
  ASSERT_TRUE(on_air("a.wav"));
  engine.position_s = 0.6;
  send("b.wav");
  send("c.wav");
  const std::filesystem::path state = library.path() / PLAYER_STATE_FILE, killed = library.path() / "killed.txt";
  std::filesystem::copy_file(state, killed);
  player.reset();
  std::filesystem::rename(killed, state);
  engine = FakePlayback();
  start();
  ASSERT_TRUE(recorded(3));
  EXPECT_EQ(engine.given.front().cue.start_at_s, 0.6);
  EXPECT_EQ(record(), "a.wav|sent|played\nb.wav|sent|played\nc.wav|sent|played\n");
  EXPECT_EQ(library.sql("select play_count from song order by song_id;"), "1\n1\n1\n");
  EXPECT_TRUE(said("Going on with " + path("a.wav") + " from 0.6 s"));
  EXPECT_TRUE(said("Station player: 3 songs waiting from before"));
}

}  // namespace
}  // namespace zv::player::test
