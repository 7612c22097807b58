// Each song's tags in the library, read by the player's song worker, and
// read again when the file changes.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "song_decoder.h"
#include "song_facts.h"
#include "support/library_fixture.h"

namespace zv::player {
namespace {

// Makes `path` as a 1 s MP3 titled `title`.
void make_song(const std::string& path, const std::string& title) {
  const std::string command = "sox -V1 -n -r 44100 -c 2 -t wav - synth 1 sine 440 | lame --quiet --ta Artist --tt '" +
                              title + "' - '" + path + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// What `sql` prints once it prints `expected`, or after 30 s.
std::string once(const test::LibraryFolder& library, const std::string& sql, const std::string& expected) {
  std::string printed = library.sql(sql);
  for (int i = 0; i < 300 && printed != expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    printed = library.sql(sql);
  }
  return printed;
}

TEST(SongTags, AChangedFileIsReadAgain) {
  test::LibraryFolder library;
  ASSERT_TRUE(library.made());
  const std::string song = (library.path() / "song.mp3").string();
  make_song(song, "First");
  library.sql("insert into song (song_id, song_dir_id, song_name) values (1, 1, '" + song + "');");
  SongFactsWorker worker;
  EXPECT_EQ(once(library, "select artist, title from song_tags;", "Artist|First\n"), "Artist|First\n");
  make_song(song, "Second Version");
  // Due to play (asked for as the player asks, until known): the changed file
  // is read again before it is measured again.
  for (int i = 0; i < 300 && worker.facts(song).value_or(SongFacts{}).title != "Second Version"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(worker.facts(song).value_or(SongFacts{}).title, "Second Version") << "the stream's title follows";
  EXPECT_EQ(library.sql("select artist, title from song_tags;"), "Artist|Second Version\n");
}

// The facts stored for a file as it is are taken as they are, looked up when
// the song is due, also for a song imported after the worker started; a file
// written since is read and measured again.
TEST(SongTags, AStoredSongsFactsAreLookedUpWhenItIsDue) {
  test::LibraryFolder library;
  ASSERT_TRUE(library.made());
  SongFactsWorker worker;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // its first look at the library is done
  const std::string song = (library.path() / "stored.mp3").string();
  make_song(song, "Stored");
  const FileStamp stamp = stamp_of(song);
  library.sql(
      "insert into song_dir (song_dir_id, dir_name, is_ads) values (2, 'ads', 1);"
      "insert into song (song_id, song_dir_id, song_name, replay_gain, sm_fade_in, sm_fade_out, file_size) "
      "values (5, 2, '" +
      song + "', -4.5, 120, 900, " + std::to_string(stamp.size) +
      ");"
      "insert into song_tags (song_id, file_size, file_mtime, artist, title) values (5, " +
      std::to_string(stamp.size) + ", " + std::to_string(stamp.modified_s()) + ", 'Kept', 'Row');");
  std::optional<SongFacts> facts;
  for (int i = 0; i < 100 && !(facts = worker.facts(song)); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->replay_gain, -4.5) << "not measured again";
  EXPECT_EQ(facts->fade_out_ms, 900);
  EXPECT_FALSE(facts->fades) << "in an advertising folder";
  EXPECT_EQ(facts->title, "Row");

  make_song(song, "Written Again");
  for (int i = 0; i < 300 && worker.facts(song).value_or(SongFacts{}).title != "Written Again"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_NE(worker.facts(song).value_or(SongFacts{}).fade_out_ms, 900) << "measured again";
  EXPECT_EQ(library.sql("select file_size > 1, sm_fade_out != 900 from song where song_id=5;"), "1|1\n");
}

// The nice value in a thread's /proc stat file.
int nice_in(const std::filesystem::path& stat_file) {
  std::ifstream stat(stat_file);
  std::string line;
  std::getline(stat, line);
  // The fields after the name: the nice value is the 17th.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  for (int i = 0; i < 17; ++i) fields >> field;
  return std::atoi(field.c_str());
}

// How many of this process's threads run behind this one (ctest itself may run niced).
int threads_behind_this_one() {
  const int own = nice_in("/proc/thread-self/stat");
  int behind = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    if (nice_in(task.path() / "stat") > own) ++behind;
  }
  return behind;
}

// GStreamer's decoding threads are shared: once the backlog's analyser has
// measured a song, a song decoded at the player's priority (as the one on
// air is) still decodes at that priority, not behind all other work.
TEST(SongFacts, TheBacklogLeavesOtherSongsDecodingAtThePlayersPriority) {
  test::LibraryFolder library;
  ASSERT_TRUE(library.made());
  const std::string song = (library.path() / "song.mp3").string();
  make_song(song, "Backlog");
  library.sql("insert into song (song_id, song_dir_id, song_name) values (1, 1, '" + song + "');");
  SongFactsWorker worker(1);
  ASSERT_EQ(once(library, "select file_size > 0 from song;", "1\n"), "1\n");
  SongDecoder on_air(song, 0);
  std::vector<float> frames(PROGRAM_RATE / 10 * PROGRAM_CHANNELS);
  bool ended = false;
  while (on_air.status() == SongDecoder::Status::opening) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_GT(on_air.read(frames.data(), frames.size() / PROGRAM_CHANNELS, ended, 5.0), 0u);
  EXPECT_LE(threads_behind_this_one(), 1) << "only the backlog's analyser";
}

}  // namespace
}  // namespace zv::player
