#pragma once
// The server's reader of a folder's song lists for the playlist: the
// statements the console narrates, each list stepped through row by row.

#include <cstdint>
#include <optional>

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

  // The list's count query, then on success its list query. Returns the
  // count when it could be read.
  std::optional<std::int32_t> open_list(const PlaylistFolder& folder, SongList list);
  // Moves `rows` rows on, stopping at the first fetch that fails.
  void advance(std::uint64_t rows);
  void release() { query_.release(); }

  bool on_row() const { return query_.on_row(); }
  bool ended() const { return query_.ended(); }
  // The row the list stands on (the last one read).
  PlannedSong song() const { return {row_.song_id, row_.song_name, row_.play_count}; }
  std::int32_t play_count() const { return row_.play_count; }

 private:
  Query query_;
  std::int32_t count_ = 0;
  SongRow row_;
};

}  // namespace zv
