#pragma once
// The statements of the station's player: what it reads to choose a song,
// and the play counts it keeps, which the playlist rotates on.

namespace zv {

// song_id. Bound: song_id (integer), song_name (text), play_time (integer).
inline constexpr const char16_t* SQL_SONG_FOR_AIR =
    u"select song_id, song_name, play_time from song where song_id=%d";
// play_time (seconds since 1970, UTC), song_id.
inline constexpr const char16_t* SQL_COUNT_SONG_PLAY =
    u"update song set play_count=play_count+1, play_time=%d where song_id=%d";
// song_id: when none of the song's folder is left at the folder's count, the
// folder's next round begins.
inline constexpr const char16_t* SQL_NEXT_FOLDER_ROUND =
    u"update song_dir set play_count=play_count+1 where song_dir_id=(select song_dir_id from song "
    u"where song_id=%d) and not exists (select song_id from song where "
    u"song.song_dir_id=song_dir.song_dir_id and song.play_count=song_dir.play_count)";

}  // namespace zv
