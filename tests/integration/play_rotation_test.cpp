// The play counts the player keeps, against the playlist builder that reads
// them: every song of a folder is offered before any song is offered twice.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "play_counts.h"
#include "playlist/playlist_builder.h"
#include "schedule_fill.h"
#include "support/library_fixture.h"

namespace zv::testing {
namespace {

// The first song the coming hour's playlist offers.
std::int32_t first_offered() {
  FormBody body;
  build_playlist(body, HOUR_SONGS_PER_POSITION, HOUR_POSITION_COUNT);
  const std::string fields(body.data(), body.length());
  const auto at = fields.find("fileid[0][]=");
  return at == std::string::npos ? 0 : std::stoi(fields.substr(at + 12));
}

TEST(PlayRotation, EverySongOfAFolderIsOfferedBeforeAnyIsOfferedTwice) {
  test::LibraryFolder library;
  ASSERT_TRUE(library.made());
  ASSERT_EQ(library.sql("insert into playlist_info (playinfo_id, play_time, week_days) values (1, 24, 128);"
                        "insert into song_dir (song_dir_id, dir_order, dir_name) values (1, 1, '/music/');"
                        "insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 1, 1);"
                        "insert into song (song_id, song_dir_id, song_name) values (1, 1, '/music/1.mp3'), "
                        "(2, 1, '/music/2.mp3'), (3, 1, '/music/3.mp3'), (4, 1, '/music/4.mp3');"),
            "");
  std::vector<std::int32_t> offered;
  for (int round = 0; round < 8; ++round) {
    offered.push_back(first_offered());
    player::Play play;
    play.song_id = offered.back();
    play.played = 1700000000 + round;
    ASSERT_EQ(player::count_play(play), player::CountResult::counted);
  }
  for (const std::size_t start : {0u, 4u}) {
    std::vector<std::int32_t> round(offered.begin() + start, offered.begin() + start + 4);
    std::sort(round.begin(), round.end());
    EXPECT_EQ(round, (std::vector<std::int32_t>{1, 2, 3, 4})) << "round from play " << start;
  }
  EXPECT_EQ(library.sql("select play_count from song_dir;"), "2\n");
  EXPECT_EQ(library.sql("select min(play_count), max(play_count), max(play_time) from song;"), "2|2|1700000007\n");
}

// When every song of a position played within the hour, the one played
// longest ago goes on air: a song still on air counts as playing now, though
// the library has not counted it yet.
TEST(PlayRotation, TheSongOnAirIsNotTakenAgainForTheNextHour) {
  test::LibraryFolder library;
  ASSERT_TRUE(library.made());
  const std::int64_t now = 1700000000;
  ASSERT_EQ(library.sql("insert into playlist_info (playinfo_id, play_time, week_days) values (1, 24, 128);"
                        "insert into song_dir (song_dir_id, dir_order, dir_name) values (1, 1, '/music/');"
                        "insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 1, 1);"
                        "insert into song (song_id, song_dir_id, song_name, play_time) values "
                        "(1, 1, '/music/1.mp3', 1699999900), (2, 1, '/music/2.mp3', 1699997000);"),
            "");
  const auto songs = player::hour_songs({{2, now}}, now, current_hour(get_local_time()));
  ASSERT_FALSE(songs.empty());
  EXPECT_EQ(songs.front().id.value_or(0), 1);
}

}  // namespace
}  // namespace zv::testing
