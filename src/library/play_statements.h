#pragma once
// The statements of the station's player: what it reads to choose a song,
// and the play counts it keeps, which the playlist rotates on.

namespace zv {

// song_id. Bound: song_id (integer), song_name (text), play_time (integer).
inline constexpr const char16_t* SQL_SONG_FOR_AIR = u"select song_id, song_name, play_time from song where song_id=%d";
// play_time (seconds since 1970, UTC), song_id.
inline constexpr const char16_t* SQL_COUNT_SONG_PLAY =
    u"update song set play_count=play_count+1, play_time=%d where song_id=%d";
// song_id: when none of the song's folder is left at the folder's count, the
// folder's next round begins.
inline constexpr const char16_t* SQL_NEXT_FOLDER_ROUND =
    u"update song_dir set play_count=play_count+1 where song_dir_id=(select song_dir_id from song "
    u"where song_id=%d) and not exists (select song_id from song where "
    u"song.song_dir_id=song_dir.song_dir_id and song.play_count=song_dir.play_count)";

// The player's own reads of the hour's song lists, run unnarrated as
// prepared statements with "?" values. A list is its folder's songs whose
// play_count lies between two bounds, in play_count order, then song_id
// order (the order the index gives the playlist's lists); a song is sought
// through the index, so the songs passed over are never read.

// song_dir_id, lowest and highest play_count. Bound: count (integer).
inline constexpr const char* SQL_LIST_COUNT =
    "select count(*) from song where song_dir_id=? and play_count between ? and ?";
// song_dir_id, a play_count, the highest play_count. Bound: the next play_count
// of the list (integer; NULL when none is left).
inline constexpr const char* SQL_LIST_NEXT_PLAY_COUNT =
    "select min(play_count) from song where song_dir_id=? and play_count>? and play_count<=?";
// song_dir_id, play_count, the song_id to go on after, the songs to pass over.
// Bound: song_id (integer), song_name (text), play_count, play_time (integers).
inline constexpr const char* SQL_LIST_SONG =
    "select song_id, song_name, play_count, play_time from song where song_dir_id=? and play_count=? and "
    "song_id>? order by song_id limit 1 offset ?";
// song_dir_id, play_count, the song_id to go on after. Bound: count (integer).
inline constexpr const char* SQL_LIST_SONGS_LEFT =
    "select count(*) from song where song_dir_id=? and play_count=? and song_id>?";

}  // namespace zv
