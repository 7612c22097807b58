#pragma once
// The song lists of one folder of the playlist: the songs played as often as
// the folder first, then those played more often, then all of them.

#include <cstdint>

#include "library/database.h"
#include "library/statements.h"
#include "playlist/schedule.h"
#include "playlist/song_row.h"

namespace zv {

class FolderSongs {
 public:
  FolderSongs() = default;
  ~FolderSongs() { release(); }
  FolderSongs(const FolderSongs&) = delete;
  FolderSongs& operator=(const FolderSongs&) = delete;

  // Opens the folder's equal list, or its greater list when that fails; a
  // missing folder opens nothing.
  // Returns the song count of the last count that succeeded (0 when none).
  std::int32_t open(const PlaylistFolder& folder);
  // Moves `rows` rows on, stopping at the first fetch that fails.
  void advance(std::uint64_t rows);
  // Leaves the list standing: the greater list the first time, then (or when
  // that fails) the full list from its first row.
  void switch_list();
  void release() { release_statement(statement_, code_); }

  SQLRETURN code() const { return code_; }
  bool on_row() const { return sql_succeeded(code_); }
  const SongRow& row() const { return row_; }

 private:
  enum class List { equal, greater, full };
  void open_list(List list);

  const PlaylistFolder* folder_ = nullptr;
  bool greater_reopened_ = false;
  std::int32_t last_count_ = 0;
  SQLHSTMT statement_ = nullptr;
  SQLRETURN code_ = SQL_NO_DATA;
  std::int32_t count_ = 0;
  ColumnBinding count_binding_{SQL_C_LONG, &count_, 0, 0};
  SongRow row_;
};

}  // namespace zv
