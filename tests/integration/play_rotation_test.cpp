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
    player::PlayRecord play;
    play.song_id = offered.back();
    play.ended = 1700000000 + round;
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
  const auto songs = player::hour_songs({{"/music/2.mp3", now}}, now, current_hour(get_local_time()));
  ASSERT_FALSE(songs.empty());
  EXPECT_EQ(songs.front().id.value_or(0), 1);
}

// A song the operator sent and that played within the hour is on record,
// not yet in the player's own memory (a restart) nor in play_time (skipped):
// the schedule does not take it again.
TEST(PlayRotation, EveryPlayOnRecordCountsForTheLastHour) {
  test::LibraryFolder library;
  ASSERT_TRUE(library.made());
  const std::int64_t now = 1700000000;
  ASSERT_EQ(
      library.sql("insert into playlist_info (playinfo_id, play_time, week_days) values (1, 24, 128);"
                  "insert into song_dir (song_dir_id, dir_order, dir_name) values (1, 1, '/music/');"
                  "insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 1, 1);"
                  "insert into song (song_id, song_dir_id, song_name, play_time) values "
                  "(1, 1, '/music/1.mp3', 1699990000), (2, 1, '/music/2.mp3', 1699980000);"
                  "insert into play_record (play_key, started, ended, song_id, song_name, dir_name, source, "
                  "outcome) values ('p1-1', 1699999800, 1699999957, null, '1.mp3', '/music/', 'sent', 'skipped');"),
      "");
  const auto songs = player::hour_songs({}, now, current_hour(get_local_time()));
  ASSERT_FALSE(songs.empty());
  EXPECT_EQ(songs.front().id.value_or(0), 2);
}

// The player reads the hour through statements of its own; its plan is the
// server's, song for song, across every turn the lists take: a list that runs
// out, a sampling step that passes from one play count to the next, play
// counts with gaps, a folder above its songs' counts, a folder gone.
TEST(PlayRotation, ThePlayersFillPlansTheHourAsTheServerDoes) {
  test::LibraryFolder library;
  ASSERT_TRUE(library.made());
  ASSERT_EQ(library.sql("insert into playlist_info (playinfo_id, play_time, week_days) values (1, 24, 128);"
                        "insert into song_dir (song_dir_id, dir_order, dir_name, play_count, dir_color) values "
                        "(1, 1, '/a/', 1, 255), (2, 2, '/b/', 0, 65280), (4, 4, '/d/', 5, 0), (5, 5, '/e/', 0, 1);"
                        "insert into playlist (playinfo_id, song_dir_id, dir_order) values "
                        "(1, 1, 1), (1, 2, 2), (1, 99, 3), (1, 4, 4), (1, 5, 5);"
                        "with recursive k(i) as (select 1 union all select i + 1 from k where i < 90) "
                        "insert into song (song_id, song_dir_id, song_name, play_count, play_time) "
                        "select i, 1, '/a/' || i || '.mp3', (i * 7) % 5, i from k;"
                        "with recursive k(i) as (select 1 union all select i + 1 from k where i < 90) "
                        "insert into song (song_id, song_dir_id, song_name, play_count) "
                        "select 100 + i, 2, '/b/' || i || '.mp3', 3 + i % 9 from k;"
                        "insert into song (song_id, song_dir_id, song_name, play_count) values "
                        "(200, 4, '/d/x.mp3', 2), (301, 5, '/e/1.mp3', 0), (302, 5, '/e/2.mp3', 0), "
                        "(303, 5, '/e/3.mp3', 2), (304, 5, '/e/4.mp3', 7);"),
            "");
  const ComingHour hour = current_hour(get_local_time());
  ::testing::internal::CaptureStdout();
  const PlaylistPlan server = plan_playlist(HOUR_SONGS_PER_POSITION, HOUR_POSITION_COUNT, hour);
  const PlaylistPlan player = player::plan_of_hour(hour);
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(server.song_count(), 100);  // three folders with songs of five: ten positions
  ASSERT_EQ(player.positions.size(), server.positions.size());
  for (std::size_t p = 0; p < server.positions.size(); ++p) {
    const PlannedPosition &ours = player.positions[p], &theirs = server.positions[p];
    EXPECT_EQ(ours.position, theirs.position);
    EXPECT_EQ(ours.folder, theirs.folder);
    EXPECT_EQ(ours.coloured, theirs.coloured);
    ASSERT_EQ(ours.songs.size(), theirs.songs.size()) << "position " << theirs.position;
    for (std::size_t s = 0; s < theirs.songs.size(); ++s) {
      EXPECT_EQ(ours.songs[s].id, theirs.songs[s].id) << "position " << theirs.position << ", song " << s;
      EXPECT_EQ(ours.songs[s].name, theirs.songs[s].name);
      EXPECT_EQ(ours.songs[s].play_count, theirs.songs[s].play_count);
    }
  }
}

}  // namespace
}  // namespace zv::testing
