#include "playlist/folder_songs.h"

#include "library/statements.h"

namespace zv {

std::int32_t FolderSongs::open(const PlaylistFolder& folder) {
  folder_ = &folder;
  greater_reopened_ = false;
  last_count_ = 0;
  release();
  if (folder.missing) return 0;  // a folder the library no longer has holds no songs
  open_list(List::equal);
  if (!on_row()) open_list(List::greater);
  return last_count_;
}

void FolderSongs::advance(std::uint64_t rows) {
  // The rows sampled over are read for their play count only.
  if (on_row()) query_.skip(rows, SongRow::NAME_AND_ID);
}

void FolderSongs::switch_list() {
  release();
  const bool greater_was_reopened = greater_reopened_;
  if (!greater_was_reopened) {
    greater_reopened_ = true;
    open_list(List::greater);
  }
  if (greater_was_reopened || !on_row()) open_list(List::full);
}

// The count query, then on success the list query.
void FolderSongs::open_list(List list) {
  const char16_t* count_sql = SQL_COUNT_FOLDER_SONGS;
  const char16_t* list_sql = SQL_FOLDER_SONGS;
  if (list == List::equal) {
    count_sql = SQL_COUNT_SONGS_AT_PLAY_COUNT;
    list_sql = SQL_SONGS_AT_PLAY_COUNT;
  } else if (list == List::greater) {
    count_sql = SQL_COUNT_SONGS_ABOVE_PLAY_COUNT;
    list_sql = SQL_SONGS_ABOVE_PLAY_COUNT;
  }
  if (list == List::full) {
    query_.run(count_sql, {folder_->song_dir_id}, {Column(count_)});
  } else {
    query_.run(count_sql, {folder_->song_dir_id, folder_->play_count}, {Column(count_)});
  }
  if (!on_row()) return;
  last_count_ = count_;
  if (list == List::full) {
    row_.run(query_, list_sql, {folder_->song_dir_id});
  } else {
    row_.run(query_, list_sql, {folder_->song_dir_id, folder_->play_count});
  }
}

}  // namespace zv
