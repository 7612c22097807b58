#pragma once
// The song lists of one folder of the playlist: the songs played as often as
// the folder first, then those played more often, then all of them.

#include <cstdint>

#include "library/query.h"
#include "playlist/playlist_plan.h"
#include "playlist/schedule.h"
#include "playlist/song_row.h"

namespace zv {

class FolderSongs {
 public:
  FolderSongs() = default;
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
  void release() { query_.release(); }

  bool on_row() const { return query_.on_row(); }
  bool ended() const { return query_.ended(); }
  // The row the list stands on (the last one read).
  PlannedSong song() const { return {row_.song_id, row_.song_name, row_.play_count}; }
  std::int32_t play_count() const { return row_.play_count; }

 private:
  enum class List { equal, greater, full };
  void open_list(List list);

  const PlaylistFolder* folder_ = nullptr;
  bool greater_reopened_ = false;
  std::int32_t last_count_ = 0;
  Query query_;
  std::int32_t count_ = 0;
  SongRow row_;
};

}  // namespace zv
