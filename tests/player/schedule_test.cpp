// The hour's schedule when nothing was handed off, and a library that does
// not answer, on a stand-in engine. The player's own pauses (5 s before a
// schedule is drawn again, 3 s before the songs drawn before play) are
// waited out here, shortened as the fixture has them: the test waits for what
// the player does, however long a loaded machine makes it take.

#include <ctime>
#include <filesystem>
#include <thread>

#include "platform/time_limits.h"
#include "station_fixture.h"

namespace zv::player::test {
namespace {

class Schedule : public StationFixture {
 protected:
  // Folder 1 in the hour `hour` (24: every hour), every day.
  void schedule(int hour) {
    library.sql("insert into playlist_info (playinfo_id, play_time, week_days) values (" + std::to_string(hour) + ", " +
                std::to_string(hour) + ", 128);" +
                "insert into playlist (playinfo_id, song_dir_id, dir_order) values (" + std::to_string(hour) +
                ", 1, 1);");
  }
  void run_for(std::chrono::milliseconds time) {
    run_until([until = std::chrono::steady_clock::now() + time] { return std::chrono::steady_clock::now() >= until; });
  }
  std::size_t times(const std::string& text) { return StationFixture::times(console(), text); }
};

// The hour's own entry plays, not the every-hour one: each song once.
TEST_F(Schedule, TheScheduleOfTheHourItIsNowPlays) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  schedule(local.tm_hour);
  library.sql(
      "insert into song_dir (song_dir_id, dir_order, dir_name) values (2, 2, '/other/');"
      "insert into playlist_info (playinfo_id, play_time, week_days) values (30, 24, 128);"
      "insert into playlist (playinfo_id, song_dir_id, dir_order) values (30, 2, 1);");
  add_song(4, 2, "z.wav");
  start();
  ASSERT_TRUE(recorded(3));
  EXPECT_EQ(library.sql("select song_name, source from (select * from play_record order by play_id limit 3) "
                        "order by song_name;"),
            "a.wav|scheduled\nb.wav|scheduled\nc.wav|scheduled\n")
      << "one song a position, none twice within the hour, not the every-hour entry's";
  EXPECT_TRUE(said("This hour: 3 songs from the schedule"));
}

TEST_F(Schedule, WithoutAScheduleThePlayerSaysSoOnceAndWaits) {
  start();
  ASSERT_TRUE(run_until_said("This hour: no songs in the schedule"));
  run_for(3 * time_limit(std::chrono::seconds(5)));  // asked again meanwhile
  EXPECT_EQ(times("This hour: no songs in the schedule; trying again in 5 s\n"), 1u) << console();
  EXPECT_TRUE(engine.given.empty());
}

// A schedule whose files are gone is one fault for each song, and drawn again
// after a pause, not in a loop.
TEST_F(Schedule, AScheduleOfMissingFilesIsOneFaultPerSongAndDrawnAgainAfterAPause) {
  schedule(24);
  library.sql("update song set song_dir_id = 0; insert into song (song_id, song_dir_id, song_name) values (4, 1, '" +
              path("gone.wav") + "');");
  const auto started = std::chrono::steady_clock::now();
  start();
  ASSERT_TRUE(run_until_said("This hour: 1 songs from the schedule\n", 2));
  EXPECT_GE(std::chrono::steady_clock::now() - started, time_limit(std::chrono::seconds(5)))
      << "drawn again only after a pause";
  EXPECT_EQ(times("Fault: Skipped " + path("gone.wav") + ": the file is missing\n"), 1u) << console();
  EXPECT_EQ(times("\nSkipped " + path("gone.wav")), 1u) << console();
  EXPECT_LE(times("This hour: "), 3u) << console();
}

// A library that is gone does not silence the station while it has songs it
// drew before, and what played meanwhile is counted once it is back.
TEST_F(Schedule, WithoutTheLibraryTheSongsDrawnBeforePlayAndAreCountedOnceItIsBack) {
  schedule(24);
  engine.instant = false;
  start();
  ASSERT_TRUE(run_until([&] { return engine.on_air() != nullptr; }));
  const std::filesystem::path base = library.path() / "base2.mdb", away = library.path() / "base2.away";
  std::filesystem::rename(base, away);
  engine.instant = true;
  engine.end_song();
  ASSERT_TRUE(run_until([&] { return engine.given.size() >= 5; }));
  EXPECT_TRUE(std::filesystem::exists(library.path() / "plays_pending.txt"));
  std::filesystem::rename(away, base);
  ASSERT_TRUE(run_until([&] { return !std::filesystem::exists(library.path() / "plays_pending.txt"); }));
  player.reset();
  const std::string counted = library.sql("select sum(play_count) from song;");
  EXPECT_GE(std::stoi(counted), 5) << counted;
  EXPECT_TRUE(console().find("Library unreachable: ") != std::string::npos);
  EXPECT_TRUE(console().find(" play counts kept until it can be reached\n") != std::string::npos);
  EXPECT_TRUE(console().find("The library does not answer: ") != std::string::npos);
}

}  // namespace
}  // namespace zv::player::test
