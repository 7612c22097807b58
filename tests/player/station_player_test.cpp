// The player in this process, on the null output: what a window message adds
// is on the disk by the time it is answered, and the player's threads (the
// program, the library, the songs' facts) share nothing unguarded, which
// ThreadSanitizer checks when the tests run under it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "play_queue.h"
#include "playback_engine.h"
#include "player_control.h"
#include "player_state.h"
#include "player_window/protocol.h"
#include "station_player.h"
#include "support/library_fixture.h"

namespace zv::player {
namespace {

TEST(StationPlayerInProcess, WhatAMessageAddsIsOnTheDiskWhenItIsAnsweredAndTheSongIsPlayedAndCounted) {
  test::LibraryFolder library;
  ASSERT_TRUE(library.made());
  const std::string song = (library.path() / "tone.wav").string();
  ASSERT_EQ(std::system(("sox -n -r 48000 -c 2 '" + song + "' synth 1 sine 440 vol 0.5").c_str()), 0);
  library.sql("insert into song (song_id, song_dir_id, song_name) values (1, 0, '" + song + "');");
  ::testing::internal::CaptureStdout();
  {
    PlaybackEngine engine;
    StationPlayer player(library.path(), NULL_DEVICE, engine);
    ASSERT_TRUE(player.ready());
    player.receive({COPYDATA_LIST_ITEM, song});
    player.receive({CONTROL_PUT_END, "/gone/a.mp3\n/gone/b.mp3"});
    player.receive({CONTROL_PUT_END, "/gone/c\r"});  // refused whole
    player.receive({CONTROL_REMOVE, " 3"});          // no key: refused, nothing changes
    const auto saved = load_player_state(library.path() / PLAYER_STATE_FILE);
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->queue.size(), 3u);
    EXPECT_EQ(saved->queue[0].path, song);
    EXPECT_EQ(saved->queue[2].path, "/gone/b.mp3");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (library.sql("select count(*) from play_record;") != "3\n" && std::chrono::steady_clock::now() < until) {
      player.step(0.05);
    }
  }
  const std::string console = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(library.sql("select song_name, outcome from play_record order by song_name;"),
            "a.mp3|failed\nb.mp3|failed\ntone.wav|played\n")
      << console;
  EXPECT_NE(console.find("Refused: a song's path with a line break\n"), std::string::npos) << console;
  EXPECT_NE(console.find("Refused: \" 3\" is no song's key\n"), std::string::npos) << console;
}

}  // namespace
}  // namespace zv::player
