#pragma once
// The statements of the station's player: what it reads to choose a song,
// the record of its plays and faults, and the play counts it keeps, which the
// playlist rotates on.

namespace zv {

// The player's record of plays and faults and its play counts, run unnarrated
// as prepared statements with "?" values.

// song_name. Bound: song_id (integer).
inline constexpr const char* SQL_SONG_BY_NAME = "select song_id from song where song_name=?";
// play_key. Bound: how many rows bear it (integer).
inline constexpr const char* SQL_PLAY_ON_RECORD = "select count(*) from play_record where play_key=?";
// play_key, started, ended, song_id (or NULL), song's file name, folder, source, outcome.
inline constexpr const char* SQL_RECORD_PLAY =
    "insert into play_record (play_key, started, ended, song_id, song_name, dir_name, source, outcome) "
    "values (?, ?, ?, ?, ?, ?, ?, ?)";
// Each recorded play's song as its tags name it now, and its audience:
// play_key, seconds on air, listeners at start, peak, listener-seconds (each
// or NULL), song_id (or NULL), the song's path (for a NULL song_id).
inline constexpr const char* SQL_RECORD_PLAY_DETAIL =
    "insert or replace into play_detail (play_key, duration_s, listeners_start, listeners_peak, listener_seconds, "
    "artist, title, album, isrc, label, composer) select ?, ?, ?, ?, ?, coalesce(t.artist, ''), coalesce(t.title, ''), "
    "coalesce(t.album, ''), coalesce(t.isrc, ''), coalesce(t.label, ''), coalesce(t.composer, '') "
    "from (select 1) left join song_tags t on t.song_id = coalesce(?, (select song_id from song where song_name = ?))";
// fault_key.
inline constexpr const char* SQL_FORGET_FAULT = "delete from fault_record where fault_key=?";
// fault_key, started, ended (0 while it lasts), kind, detail.
inline constexpr const char* SQL_RECORD_FAULT =
    "insert into fault_record (fault_key, started, ended, kind, detail) values (?, ?, ?, ?, ?)";
// play_time (seconds since 1970, UTC), song_id.
inline constexpr const char* SQL_COUNT_SONG_PLAY =
    "update song set play_count=play_count+1, play_time=? where song_id=?";
// song_id: when none of the song's folder is left at the folder's count, the
// folder's next round begins.
inline constexpr const char* SQL_NEXT_FOLDER_ROUND =
    "update song_dir set play_count=play_count+1 where song_dir_id=(select song_dir_id from song "
    "where song_id=?) and not exists (select song_id from song where "
    "song.song_dir_id=song_dir.song_dir_id and song.play_count=song_dir.play_count)";
// Seconds since 1970: every play on record that started since, sent or
// scheduled. Bound: its folder and file name (text), when it ended (integer).
inline constexpr const char* SQL_PLAYS_SINCE = "select dir_name, song_name, ended from play_record where started>=?";

// What the player knows of a song's sound, looked up by its song_name when
// it is due. Bound: song_id, replay_gain, sm_fade_in, sm_fade_out,
// file_size, is_ads, is_jingle.
inline constexpr const char* SQL_SONG_FACTS_BY_NAME =
    "select s.song_id, s.replay_gain, s.sm_fade_in, s.sm_fade_out, s.file_size, d.is_ads, d.is_jingle "
    "from song s left join song_dir d on d.song_dir_id = s.song_dir_id where s.song_name=?";
// A song's tags as the player names it on the stream, and the file they were
// read from; song_id. Bound: file_size, file_mtime, artist, title.
inline constexpr const char* SQL_SONG_TAGS_OF =
    "select file_size, file_mtime, artist, title from song_tags where song_id=?";
// The songs after a song_id, a page at a time, for the songs not measured or
// tagged yet: song_id, how many. Bound: song_id, song_name, file_size.
inline constexpr const char* SQL_SONGS_AFTER =
    "select song_id, song_name, file_size from song where song_id>? order by song_id limit ?";
// The files the tags of a page's songs were read from: song_ids after one, up
// to another. Bound: song_id, file_size, file_mtime.
inline constexpr const char* SQL_TAG_STAMPS_BETWEEN =
    "select song_id, file_size, file_mtime from song_tags where song_id>? and song_id<=?";
// A song measured: replay_gain, sec_count, sm_fade_in, sm_fade_out, file_size, song_id.
inline constexpr const char* SQL_STORE_MEASURE =
    "update song set replay_gain=?, sec_count=?, sm_fade_in=?, sm_fade_out=?, file_size=? where song_id=?";

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
