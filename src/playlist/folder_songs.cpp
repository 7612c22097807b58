#include "playlist/folder_songs.h"

namespace zv {

std::int32_t FolderSongs::open(const PlaylistFolder& folder) {
  folder_ = &folder;
  greater_reopened_ = false;
  last_count_ = 0;
  if (folder.missing) {  // a folder the library no longer has holds no songs
    release();
    code_ = SQL_NO_DATA;
    return 0;
  }
  open_list(List::equal);
  if (!on_row()) open_list(List::greater);
  return last_count_;
}

void FolderSongs::advance(std::uint64_t rows) {
  // The rows sampled over are read for their play count only.
  if (on_row()) code_ = fetch_ahead(statement_, row_.bindings, 3, rows, SongRow::NAME_AND_ID);
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

// The count query, then on success the list query; a statement that does not
// fit its buffer counts as failed.
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
  const auto fill = [&](StatementBuffer& sql, const char16_t* format) {
    return list == List::full ? format_statement(sql, format, {folder_->song_dir_id})
                              : format_statement(sql, format, {folder_->song_dir_id, folder_->play_count});
  };
  StatementBuffer sql;
  release();
  code_ = fill(sql, count_sql) ? db_query(sql, &count_binding_, 1, &statement_) : SQL_ERROR;
  if (!on_row()) return;
  last_count_ = count_;
  release();
  code_ = fill(sql, list_sql) ? db_query(sql, row_.bindings, 3, &statement_) : SQL_ERROR;
}

}  // namespace zv
