// The playlist of the coming hour, built from a real library through ODBC.

#include "playlist/playlist_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/local_time.h"
#include "platform/path_style.h"
#include "playlist/playlist_fields.h"
#include "playlist/playlist_plan.h"
#include "support/form_fields.h"
#ifndef _WIN32
#include "support/direct_song_lists.h"
#endif
#include "support/library_fixture.h"

namespace zv {
namespace {

using test::form_fields;
using test::LibraryFolder;

constexpr std::uint16_t SUNDAY = 0, MONDAY = 1;

// A song as the body gives it: its position, its base name and its id.
struct Song {
  int position;
  std::string name;
  int id;
};

// What one build appended, read back field by field.
struct Playlist {
  std::string body;
  std::string console;
  int written = 0;
  std::vector<Song> songs;                    // in order of writing
  std::map<int, std::string> color, bgcolor;  // by position
  std::vector<int> colour_positions;          // in order of writing

  std::vector<int> ids_at(int position) const {
    std::vector<int> ids;
    for (const Song& song : songs)
      if (song.position == position) ids.push_back(song.id);
    return ids;
  }
  int songs_at(int position) const { return static_cast<int>(ids_at(position).size()); }
};

int position_of(const std::string& name) { return std::stoi(name.substr(name.find('[') + 1)); }

Playlist build(std::uint32_t songs_per_position, std::uint32_t position_count) {
  Playlist result;
  FormBody body;
  ::testing::internal::CaptureStdout();
  result.written = build_playlist(body, songs_per_position, position_count);
  std::fflush(stdout);
  result.console = ::testing::internal::GetCapturedStdout();
  result.body.assign(body.data(), body.length());
  const auto fields = form_fields(result.body);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const auto& [name, value] = fields[i];
    if (name.rfind("file[", 0) == 0) {
      EXPECT_EQ(name, "file[" + std::to_string(position_of(name)) + "][]");
      EXPECT_EQ(fields.at(i + 1).first, "fileid[" + std::to_string(position_of(name)) + "][]");
      result.songs.push_back({position_of(name), value, std::stoi(fields.at(i + 1).second)});
      ++i;
    } else if (name.rfind("dir_color[", 0) == 0) {
      result.color[position_of(name)] = value;
      result.colour_positions.push_back(position_of(name));
      EXPECT_EQ(fields.at(i + 1).first, "dir_bgcolor[" + std::to_string(position_of(name)) + "]");
      result.bgcolor[position_of(name)] = fields.at(i + 1).second;
      ++i;
    } else {
      ADD_FAILURE() << "unexpected field " << name;
    }
  }
  EXPECT_TRUE(result.body.empty() || result.body.back() == '&');
  EXPECT_EQ(result.written, static_cast<int>(result.songs.size()));
  return result;
}

int statements_run(const std::string& console) {
  int count = 0;
  for (auto at = console.find("SQL query:"); at != std::string::npos; at = console.find("SQL query:", at + 1)) ++count;
  return count;
}

std::vector<int> range(int first, int count, int stride = 1) {
  std::vector<int> ids;
  for (int i = 0; i < count; ++i) ids.push_back(first + i * stride);
  return ids;
}

std::vector<int> joined(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class PlaylistBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_LIBRARY();
    ASSERT_TRUE(library_.made());
    at(MONDAY, 12);
  }
  void TearDown() override { pin_local_time(nullptr); }

  static void at(std::uint16_t day_of_week, std::uint16_t hour, std::uint16_t minute = 30) {
    LocalTime time;
    time.year = 2026;
    time.month = 12;
    time.day = 7;
    time.day_of_week = day_of_week;
    time.hour = hour;
    time.minute = minute;
    pin_local_time(&time);
  }
  void sql(const std::string& statement) { ASSERT_EQ(library_.sql(statement), "") << statement; }
  void entry(int id, int play_time, int week_days, int enable = 1) {
    sql("insert into playlist_info (playinfo_id, play_time, week_days, is_enable) values (" + std::to_string(id) +
        ", " + std::to_string(play_time) + ", " + std::to_string(week_days) + ", " + std::to_string(enable) + ")");
  }
  // A folder of the entry, after the folders added before it.
  void folder(int entry_id, int id, int play_count = 0, int color = 16711680, int bgcolor = 0) {
    sql("insert into song_dir (song_dir_id, dir_order, dir_name, play_count, dir_color, dir_bgcolor) values (" +
        std::to_string(id) + ", " + std::to_string(id) + ", '/music/" + std::to_string(id) + "/', " +
        std::to_string(play_count) + ", " + std::to_string(color) + ", " + std::to_string(bgcolor) + ")");
    sql("insert into playlist (playinfo_id, song_dir_id, dir_order) values (" + std::to_string(entry_id) + ", " +
        std::to_string(id) + ", " + std::to_string(++dir_order_) + ")");
  }
  // `count` songs of the folder with ids first_id, first_id + 1, ...
  void songs(int folder_id, int first_id, int count, int play_count) {
    sql("with recursive k(i) as (select 0 union all select i + 1 from k where i < " + std::to_string(count - 1) +
        ") insert into song (song_id, song_dir_id, song_name, play_count) select " + std::to_string(first_id) +
        " + i, " + std::to_string(folder_id) + ", 's' || (" + std::to_string(first_id) + " + i) || '.mp3', " +
        std::to_string(play_count) + " from k");
  }
  void song(int folder_id, int id, const std::string& name) {
    sql("insert into song (song_id, song_dir_id, song_name, play_count) values (" + std::to_string(id) + ", " +
        std::to_string(folder_id) + ", '" + name + "', 0)");
  }
  // One entry for every hour and day with folders 1..n of 100 songs each.
  void folders_of_100_songs(int n) {
    entry(1, 24, 0x80);
    for (int f = 1; f <= n; ++f) {
      folder(1, f);
      songs(f, f * 1000, 100, 0);
    }
  }

  LibraryFolder library_;
  int dir_order_ = 0;
};

// --- Which schedule entry applies

TEST_F(PlaylistBuilderTest, ComingHourIsTheNextOneAndMidnightFollows23) {
  entry(1, 0, 0x80);
  folder(1, 1);
  song(1, 10, "midnight.mp3");
  entry(2, 10, 0x80);
  folder(2, 2);
  song(2, 20, "ten.mp3");
  entry(3, 23, 0x80);
  folder(3, 3);
  song(3, 30, "eleven-pm.mp3");

  at(MONDAY, 23, 59);
  EXPECT_EQ(build(1, 1).ids_at(0), std::vector<int>{10});
  at(MONDAY, 9, 0);
  EXPECT_EQ(build(1, 1).ids_at(0), std::vector<int>{20});
  at(MONDAY, 22, 0);
  EXPECT_EQ(build(1, 1).ids_at(0), std::vector<int>{30});
}

TEST_F(PlaylistBuilderTest, DayBitEveryDayBitAndExactHourFirst) {
  entry(1, 24, 0x40);  // Sundays, every hour
  folder(1, 1);
  song(1, 10, "sunday.mp3");
  entry(2, 13, 0x01 | 0x04);  // Mondays and Wednesdays at 13
  folder(2, 2);
  song(2, 20, "monday.mp3");
  entry(3, 13, 0x80, 0);  // disabled
  folder(3, 3);
  song(3, 30, "disabled.mp3");

  at(SUNDAY, 12);
  EXPECT_EQ(build(1, 1).ids_at(0), std::vector<int>{10});
  at(MONDAY, 12);  // both rows match: the exact hour comes first
  EXPECT_EQ(build(1, 1).ids_at(0), std::vector<int>{20});
  at(3, 12);  // Wednesday
  EXPECT_EQ(build(1, 1).ids_at(0), std::vector<int>{20});

  entry(4, 24, 0x80);
  folder(4, 4);
  song(4, 40, "every-day.mp3");
  at(5, 12);  // Friday: only the every-day row matches
  EXPECT_EQ(build(1, 1).ids_at(0), std::vector<int>{40});
}

TEST_F(PlaylistBuilderTest, WithoutAMatchingDayTheLastRowReadIsUsed) {
  entry(1, 13, 0x01);  // Mondays
  folder(1, 1);
  song(1, 10, "monday.mp3");
  entry(2, 24, 0x02);  // Tuesdays
  folder(2, 2);
  song(2, 20, "tuesday.mp3");
  at(SUNDAY, 12);
  EXPECT_EQ(build(1, 1).ids_at(0), std::vector<int>{20});
}

// --- Positions, sampling and the three lists

TEST_F(PlaylistBuilderTest, ThreeFoldersShareSixteenPositionsSixFiveFive) {
  folders_of_100_songs(3);
  const Playlist playlist = build(10, 16);
  EXPECT_EQ(playlist.written, 160);
  EXPECT_EQ(playlist.colour_positions.size(), 16u);  // 32 colour fields
  for (int p = 0; p < 16; ++p) EXPECT_EQ(playlist.songs_at(p), 10) << p;

  // Grouped by folder: all positions of rank 0, then rank 1, then rank 2.
  std::vector<int> written_order;
  for (std::size_t i = 0; i < playlist.songs.size(); i += 10) written_order.push_back(playlist.songs[i].position);
  EXPECT_EQ(written_order, (std::vector<int>{0, 3, 6, 9, 12, 15, 1, 4, 7, 10, 13, 2, 5, 8, 11, 14}));
  EXPECT_EQ(playlist.colour_positions, written_order);
  // 100 songs over 6 positions of 10: step 100/60 in single precision; the
  // third sum, 4.99999988, truncates to 4.
  EXPECT_EQ(playlist.ids_at(0), (std::vector<int>{1000, 1001, 1003, 1004, 1005, 1007, 1008, 1009, 1011, 1013}));
  EXPECT_EQ(playlist.ids_at(1).front(), 2000);
  EXPECT_EQ(playlist.ids_at(2).front(), 3000);
}

TEST_F(PlaylistBuilderTest, FolderWithoutSongsTakesNoRankAndLeavesTheLastRanksEmpty) {
  entry(1, 24, 0x80);
  for (int f = 1; f <= 4; ++f) folder(1, f);
  songs(1, 1000, 50, 0);
  songs(3, 3000, 50, 0);
  songs(4, 4000, 50, 0);
  songs(2, 2000, 5, -1);  // only songs played less than the folder: not offered
  const Playlist playlist = build(10, 16);
  for (int p : {3, 7, 11, 15}) EXPECT_EQ(playlist.songs_at(p), 0) << p;
  for (int p : {0, 4, 8, 12}) EXPECT_EQ(playlist.ids_at(p).front() / 1000, 1) << p;
  for (int p : {1, 5, 9, 13}) EXPECT_EQ(playlist.ids_at(p).front() / 1000, 3) << p;
  for (int p : {2, 6, 10, 14}) EXPECT_EQ(playlist.ids_at(p).front() / 1000, 4) << p;
  EXPECT_EQ(playlist.written, 120);
}

// The join gives NULL for a folder that was removed: never the songs of no
// folder (key 0), and no rank.
TEST_F(PlaylistBuilderTest, RemovedFolderHasNoSongsAndTakesNoRank) {
  entry(1, 24, 0x80);
  folder(1, 1);
  sql("insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 2, " + std::to_string(++dir_order_) + ")");
  folder(1, 3);
  songs(1, 1000, 50, 0);
  songs(3, 3000, 50, 0);
  songs(0, 9000, 50, 0);  // songs of no folder
  const Playlist playlist = build(10, 16);
  for (const Song& song : playlist.songs) EXPECT_NE(song.id / 1000, 9) << song.position;
  for (int p : {2, 5, 8, 11, 14}) EXPECT_EQ(playlist.songs_at(p), 0) << p;
  for (int p : {0, 3, 6, 9, 12, 15}) EXPECT_EQ(playlist.ids_at(p).front() / 1000, 1) << p;
  for (int p : {1, 4, 7, 10, 13}) EXPECT_EQ(playlist.ids_at(p).front() / 1000, 3) << p;
  EXPECT_EQ(playlist.written, 110);
}

TEST_F(PlaylistBuilderTest, LongEqualListIsSampledEvenly) {
  entry(1, 24, 0x80);
  for (int f = 1; f <= 3; ++f) folder(1, f, 4);
  songs(1, 1000, 120, 4);  // rank 0 has 6 positions: step 120 / 60 = 2
  songs(1, 5000, 10, 9);   // the greater list is never reached
  songs(2, 2000, 10, 4);
  songs(3, 3000, 10, 4);
  const Playlist playlist = build(10, 16);
  std::vector<int> taken;
  for (int p = 0; p < 16; p += 3) taken = joined(taken, playlist.ids_at(p));
  EXPECT_EQ(taken, range(1000, 60, 2));
}

TEST_F(PlaylistBuilderTest, EqualListThenGreaterListThenTheFullList) {
  entry(1, 24, 0x80);
  folder(1, 1, 5);
  songs(1, 100, 20, 5);  // equal list
  songs(1, 200, 30, 7);  // greater list
  songs(1, 300, 5, 1);   // only in the full list, which starts with them
  const std::vector<int> full = joined(joined(range(300, 5), range(100, 20)), range(200, 30));
  const Playlist playlist = build(10, 6);
  EXPECT_EQ(playlist.ids_at(0), range(100, 10));
  EXPECT_EQ(playlist.ids_at(1), range(110, 10));
  // The equal list ran out: the greater list stands on a song played more
  // than the folder, so the position check opens the full list at once.
  EXPECT_EQ(playlist.ids_at(2), std::vector<int>(full.begin(), full.begin() + 10));
  EXPECT_EQ(playlist.ids_at(3), std::vector<int>(full.begin() + 10, full.begin() + 20));
  EXPECT_EQ(playlist.ids_at(4), std::vector<int>(full.begin() + 20, full.begin() + 30));
  // That position ended on a song played more: the full list starts again.
  EXPECT_EQ(playlist.ids_at(5), std::vector<int>(full.begin(), full.begin() + 10));
}

TEST_F(PlaylistBuilderTest, GreaterListIsOpenedASecondTimeThenTheFullList) {
  entry(1, 24, 0x80);
  folder(1, 1, 0);
  songs(1, 100, 15, 3);  // nothing played as often as the folder
  songs(1, 200, 2, -1);
  Playlist playlist = build(10, 3);
  EXPECT_EQ(playlist.ids_at(0), range(100, 10));
  EXPECT_EQ(playlist.ids_at(1), range(100, 10));                        // the position's end reopens the greater list
  EXPECT_EQ(playlist.ids_at(2), joined(range(200, 2), range(100, 8)));  // then the full list
}

TEST_F(PlaylistBuilderTest, ShortGreaterListRunsOutBeforeThePositionEnds) {
  entry(1, 24, 0x80);
  folder(1, 1, 0);
  songs(1, 100, 4, 3);
  songs(1, 200, 1, -1);
  const Playlist playlist = build(10, 2);
  // Out of songs after 4: the greater list again, then the full list.
  EXPECT_EQ(playlist.ids_at(0), joined(joined(range(100, 4), range(100, 4)), {200, 100}));
  EXPECT_EQ(playlist.ids_at(1), joined(joined({200}, range(100, 4)), joined({200}, range(100, 4))));
}

TEST_F(PlaylistBuilderTest, AsManyFoldersAsPositionsGiveOnePositionEachWithoutColours) {
  entry(1, 24, 0x80);
  for (int f = 1; f <= 5; ++f) folder(1, f);
  songs(1, 1000, 5, 0);
  songs(3, 3000, 5, 0);
  songs(4, 4000, 5, 0);
  songs(5, 5000, 5, 0);
  const Playlist playlist = build(2, 3);
  // One position of 2 songs from 5: step 2.5.
  EXPECT_EQ(playlist.ids_at(0), range(1000, 2, 2));
  EXPECT_EQ(playlist.ids_at(1), range(3000, 2, 2));
  EXPECT_EQ(playlist.ids_at(2), range(4000, 2, 2));
  EXPECT_EQ(playlist.written, 6);
  EXPECT_TRUE(playlist.colour_positions.empty());
}

// --- What the fields say

TEST_F(PlaylistBuilderTest, BaseNamesAndColourTexts) {
  const std::string sep(1, FOLDER_SEPARATOR_NARROW);
  entry(1, 24, 0x80);
  folder(1, 1, 0, 255, 255);
  folder(1, 2, 0, 0x123456, 0xABCDEF);
  song(1, 10, sep + "music" + sep + "Pop" + sep + "Song.Title.mp3");
  song(1, 11, sep + "music" + sep + "Pop" + sep + "No extension");
  song(1, 12, sep + "music" + sep + "Pop" + sep);
  song(1, 13, "plain.wav");
  song(1, 14, sep + "music" + sep + "Ä&Ö=ü.mp3");
  song(2, 20, sep + "x.y" + sep + "z");
  const Playlist playlist = build(5, 4);
  EXPECT_NE(playlist.body.find("file[0][]=Song.Title&fileid[0][]=10&"), std::string::npos) << playlist.body;
  EXPECT_NE(playlist.body.find("file[0][]=No+extension&fileid[0][]=11&"), std::string::npos);
  EXPECT_NE(playlist.body.find("file[0][]=&fileid[0][]=12&"), std::string::npos);
  EXPECT_NE(playlist.body.find("file[0][]=plain&fileid[0][]=13&"), std::string::npos);
  EXPECT_NE(playlist.body.find("file[0][]=%C3%84%26%C3%96%3D%C3%BC&fileid[0][]=14&"), std::string::npos);
  EXPECT_NE(playlist.body.find("file[1][]=z&fileid[1][]=20&"), std::string::npos);
  EXPECT_NE(playlist.body.find("dir_color[0]=%23ff0000&dir_bgcolor[0]=%23FF0000&"), std::string::npos);
  EXPECT_EQ(playlist.color.at(1), "#563412");
  EXPECT_EQ(playlist.bgcolor.at(1), "#EFCDAB");
  EXPECT_EQ(playlist.color.at(2), "#ff0000");
}

// --- Nothing to build

TEST_F(PlaylistBuilderTest, NothingIsReadForZeroSongsOrPositions) {
  folders_of_100_songs(1);
  for (const Playlist& playlist : {build(0, 16), build(10, 0)}) {
    EXPECT_EQ(playlist.body, "");
    EXPECT_EQ(playlist.console, "");
  }
}

TEST_F(PlaylistBuilderTest, NothingIsAppendedWithoutAnEntryAFolderOrALibrary) {
  EXPECT_EQ(build(10, 16).body, "");  // no schedule rows
  entry(1, 24, 0x80);
  EXPECT_EQ(build(10, 16).body, "");  // an entry without folders
  folder(1, 1);
  sql("update playlist set is_enable = 0");
  EXPECT_EQ(build(10, 16).body, "");  // its only folder disabled
  sql("update playlist set is_enable = 1");
  EXPECT_EQ(build(10, 16).body, "");  // a folder without songs
  songs(1, 10, 1, 0);
  EXPECT_NE(build(10, 16).body, "");
}

TEST_F(PlaylistBuilderTest, MissingLibraryAppendsNothing) {
  library_.remove_library();
  const Playlist playlist = build(10, 16);
  EXPECT_EQ(playlist.body, "");
  EXPECT_EQ(statements_run(playlist.console), 0);
  EXPECT_NE(playlist.console.find("Couldn't connect"), std::string::npos);
}

TEST_F(PlaylistBuilderTest, BrokenScheduleTablesAppendNothing) {
  folders_of_100_songs(1);
  sql("alter table playlist rename to playlist_old");
  EXPECT_EQ(build(10, 16).body, "");
  sql("alter table playlist_old rename to playlist; alter table song_dir rename to song_dir_old");
  EXPECT_EQ(build(10, 16).body, "");  // the folders cannot be read
  sql("alter table song_dir_old rename to song_dir; alter table playlist_info rename to info_old");
  EXPECT_EQ(build(10, 16).body, "");
}

TEST_F(PlaylistBuilderTest, PrintsOnlyTheLibrarysNarrationInStatementOrder) {
  folders_of_100_songs(1);
  const Playlist playlist = build(10, 1);
  EXPECT_EQ(playlist.written, 10);
  // The tenth song's step of 10 runs past the equal list: the greater list
  // (empty), then the full list are opened.
  EXPECT_EQ(statements_run(playlist.console), 9) << playlist.console;
  std::size_t at = 0;
  for (const char* statement :
       {"select playinfo_id, play_time, week_days from playlist_info where ((play_time=13 or play_time=24)",
        "select count(*) from playlist where playinfo_id=1 and is_enable=1",
        "select song_dir.song_dir_id, song_dir.play_count, song_dir.dir_color",
        "select count(*) from song where song_dir_id=1 and play_count=0",
        "select song_id, song_name, play_count from song where song_dir_id=1 and play_count=0 order by play_count",
        "select count(*) from song where song_dir_id=1 and play_count>0",
        "select song_id, song_name, play_count from song where song_dir_id=1 and play_count>0 order by play_count",
        "select count(*) from song where song_dir_id=1\n",
        "select song_id, song_name, play_count from song where song_dir_id=1 order by play_count"}) {
    at = playlist.console.find(statement, at);
    EXPECT_NE(at, std::string::npos) << statement;
  }
  std::size_t start = 0;
  while (start < playlist.console.size()) {
    std::size_t end = playlist.console.find('\n', start);
    if (end == std::string::npos) end = playlist.console.size();
    const std::string line = playlist.console.substr(start, end - start);
    EXPECT_TRUE(line.empty() || line.rfind("Direct ODBC: ", 0) == 0 || line.rfind("  ", 0) == 0 ||
                line.rfind(" | ", 0) == 0)
        << line;
    start = end + 1;
  }
}

// --- The songs against a reference

#ifndef _WIN32  // SQLite's own interface is there on Linux only

// Random libraries whose play counts are spread over 0-6 give, field for
// field, the playlist the reference reader gives.
TEST_F(PlaylistBuilderTest, RandomLibrariesGiveTheReferencePlaylist) {
  std::mt19937 random(27);
  const auto any = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  int next_song = 1;
  for (int entry_id = 1; entry_id <= 6; ++entry_id) {
    entry(entry_id, entry_id + 1, 0x80);
    for (int f = 0, folders = any(1, 20); f < folders; ++f) {
      const int id = entry_id * 100 + f;
      folder(entry_id, id, any(0, 6));
      std::string values;
      for (int n = any(0, 150); n > 0; --n, ++next_song) {
        values += (values.empty() ? "(" : ", (") + std::to_string(next_song) + ", " + std::to_string(id) + ", 's" +
                  std::to_string(any(0, 99999)) + ".mp3', " + std::to_string(any(0, 6)) + ")";
      }
      if (!values.empty()) sql("insert into song (song_id, song_dir_id, song_name, play_count) values " + values);
    }
  }
  for (int entry_id = 1; entry_id <= 6; ++entry_id) {
    at(MONDAY, static_cast<std::uint16_t>(entry_id));
    const std::uint32_t per_position = entry_id == 1 ? 10 : static_cast<std::uint32_t>(any(1, 12));
    const std::uint32_t positions = entry_id == 1 ? 16 : static_cast<std::uint32_t>(any(1, 20));
    const Playlist built = build(per_position, positions);
    test::DirectSongLists reader(library_.path());
    const PlaylistPlan reference = plan_positions(reader, read_entry_folders(entry_id), per_position, positions);
    FormBody body;
    write_playlist_fields(body, reference);
    EXPECT_GT(reference.song_count(), 0) << "entry " << entry_id;
    EXPECT_EQ(built.body, std::string(body.data(), body.length())) << "entry " << entry_id;
  }
}

#endif

}  // namespace
}  // namespace zv
