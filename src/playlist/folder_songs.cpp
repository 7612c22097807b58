#include "playlist/folder_songs.h"

#include "library/statements.h"

namespace zv {

void FolderSongs::advance(std::uint64_t rows) {
  // The rows sampled over are read for their play count only.
  if (on_row()) query_.skip(rows, SongRow::NAME_AND_ID);
}

std::optional<std::int32_t> FolderSongs::open_list(const PlaylistFolder& folder, SongList list) {
  if (list == SongList::full) {
    query_.run(SQL_COUNT_FOLDER_SONGS, {folder.song_dir_id}, {Column(count_)});
    if (!on_row()) return std::nullopt;
    row_.run(query_, SQL_FOLDER_SONGS, {folder.song_dir_id});
    return count_;
  }
  const bool equal = list == SongList::equal;
  query_.run(equal ? SQL_COUNT_SONGS_AT_PLAY_COUNT : SQL_COUNT_SONGS_ABOVE_PLAY_COUNT,
             {folder.song_dir_id, folder.play_count}, {Column(count_)});
  if (!on_row()) return std::nullopt;
  row_.run(query_, equal ? SQL_SONGS_AT_PLAY_COUNT : SQL_SONGS_ABOVE_PLAY_COUNT,
           {folder.song_dir_id, folder.play_count});
  return count_;
}

}  // namespace zv
