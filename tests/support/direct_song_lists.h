#pragma once
// The playlist's song lists read with SQLite directly (Linux: the tests and
// benches link SQLite's own interface there).

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "playlist/playlist_plan.h"
#include "playlist/schedule.h"

namespace zv::test {

// Reads a folder's song lists for the playlist plan (playlist_plan.h) with
// SQLite's own interface, running the builder's statements step by step and
// reading a row's columns only where a song is taken: the reference the
// builder's reading through the driver must match, and the cheapest way to
// choose the same songs.
class DirectSongLists {
 public:
  explicit DirectSongLists(const std::filesystem::path& library) {
    sqlite3_open_v2((library / "base2.mdb").c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(db_, "pragma cache_size=-32768", nullptr, nullptr, nullptr);  // as the server's connection
  }
  DirectSongLists(const DirectSongLists&) = delete;
  DirectSongLists& operator=(const DirectSongLists&) = delete;
  ~DirectSongLists() {
    for (auto& pair : statements_)
      for (sqlite3_stmt* statement : pair) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }
  // The list's count, then its first row; each statement prepared once.
  std::optional<std::int32_t> open_list(const PlaylistFolder& folder, SongList list) {
    release();
    auto& pair = statements_[static_cast<int>(list)];
    if (!pair[0]) {
      const std::string where =
          std::string("from song where song_dir_id=?1") + (list == SongList::full    ? ""
                                                           : list == SongList::equal ? " and play_count=?2"
                                                                                     : " and play_count>?2");
      sqlite3_prepare_v2(db_, ("select count(*) " + where).c_str(), -1, &pair[0], nullptr);
      sqlite3_prepare_v2(db_, ("select song_id, song_name, play_count " + where + " order by play_count").c_str(), -1,
                         &pair[1], nullptr);
    }
    for (sqlite3_stmt* statement : pair) {
      sqlite3_reset(statement);
      sqlite3_bind_int(statement, 1, folder.song_dir_id);
      if (list != SongList::full) sqlite3_bind_int(statement, 2, folder.play_count);
    }
    if (sqlite3_step(pair[0]) != SQLITE_ROW) return std::nullopt;
    const std::int32_t count = sqlite3_column_int(pair[0], 0);
    statement_ = pair[1];
    code_ = sqlite3_step(statement_);
    return count;
  }
  void advance(std::uint64_t rows) {
    while (on_row() && rows-- > 0) code_ = sqlite3_step(statement_);
  }
  void release() {
    if (statement_) sqlite3_reset(statement_);
    statement_ = nullptr;
    code_ = SQLITE_DONE;
  }
  bool on_row() const { return code_ == SQLITE_ROW; }
  bool ended() const { return code_ == SQLITE_DONE; }
  PlannedSong song() const {
    return {sqlite3_column_int(statement_, 0), reinterpret_cast<const char*>(sqlite3_column_text(statement_, 1)),
            play_count()};
  }
  std::int32_t play_count() const { return sqlite3_column_int(statement_, 2); }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statements_[3][2] = {};  // by SongList: the count, the list
  sqlite3_stmt* statement_ = nullptr;    // the list it stands in
  int code_ = SQLITE_DONE;
};

}  // namespace zv::test
