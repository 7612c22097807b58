// Each song's sound as the player gives it: the station's settings saved
// while a song plays hold for the next one, already given or not; a file
// replaced after it was measured is measured again before it plays.

#include <filesystem>
#include <thread>

#include "station_fixture.h"

namespace zv::player::test {
namespace {

using SongSound = StationFixture;

TEST_F(SongSound, SettingsSavedWhileASongPlaysHoldForTheNextSongAlreadyGiven) {
  engine.instant = false;
  start();
  send("a.wav");
  send("b.wav");
  ASSERT_TRUE(run_until([&] { return engine.on_air() && engine.given.size() == 2; }));
  write("sound_settings.txt", "crossfade_s=2\nstream_on=0\ntarget_lufs=-30\n");
  ASSERT_TRUE(run_until([&] { return engine.given.size() == 3; }));
  EXPECT_EQ(engine.given[2].path, path("b.wav"));
  EXPECT_NEAR(engine.given[2].cue.gain_db, engine.given[1].cue.gain_db - 7, 0.01) << "at the loudness saved";
  EXPECT_EQ(engine.crossfade, 2);
}

// Replaced by a longer file, by one of the same size whose sound moved, and
// while the player was not running: each time its sound is heard whole.
TEST_F(SongSound, AFileReplacedAfterItWasMeasuredIsMeasuredAgain) {
  add_song(4, 1, "swap.wav", 1);
  start();
  const auto played = [&](std::size_t plays) {
    send("swap.wav");
    EXPECT_TRUE(recorded(plays));
    return engine.given.back().cue;
  };
  EXPECT_NEAR(played(1).cue_out_s, 1.0, 0.05);
  make_tone("swap.wav", 3);
  EXPECT_NEAR(played(2).cue_out_s, 3.0, 0.05);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a modification time of its own
  make_tone("swap.wav", 1.5, "pad 0 1.5");
  EXPECT_NEAR(played(3).cue_out_s, 1.5, 0.05);
  player.reset();
  // Rewritten while the player is down: the library knows the file to the
  // second, so the rewrite falls in a second of its own.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  make_tone("swap.wav", 1.5, "pad 1.5 0");
  start();
  const SongCue cue = played(4);
  EXPECT_NEAR(cue.cue_in_s, 1.5, 0.05);
  EXPECT_NEAR(cue.cue_out_s, 3.0, 0.05);
}

}  // namespace
}  // namespace zv::player::test
