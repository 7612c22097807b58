#pragma once
// The song lists of one folder of the playlist: the songs played as often as
// the folder first, then those played more often, then all of them.

#include <cstdint>

#include "library/database.h"
#include "library/statements.h"
#include "playlist/schedule.h"

namespace zv {

class FolderSongs {
 public:
  FolderSongs();
  ~FolderSongs() { release(); }
  FolderSongs(const FolderSongs&) = delete;
  FolderSongs& operator=(const FolderSongs&) = delete;

  // Opens the folder's equal list, or its greater list when that fails.
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
  std::int32_t song_id() const { return song_id_; }
  const char* song_name() const { return song_name_; }
  std::int32_t play_count() const { return play_count_; }

 private:
  enum class List { equal, greater, full };
  void open_list(List list);

  const PlaylistFolder* folder_ = nullptr;
  bool greater_reopened_ = false;
  std::int32_t last_count_ = 0;
  SQLHSTMT statement_ = nullptr;
  SQLRETURN code_ = SQL_NO_DATA;
  std::int32_t count_ = 0;
  std::int32_t song_id_ = 0;
  char song_name_[TEXT_COLUMN_LENGTH + 2] = {};
  std::int32_t play_count_ = 0;
  ColumnBinding count_binding_;
  ColumnBinding song_bindings_[3];
};

}  // namespace zv
