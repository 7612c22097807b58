#pragma once
// Every statement the server sends to the music library, and the one way to
// fill them in. The server writes song_dir and song only through the folder
// import; the playlist and the player hand-off only read.
//
// Placeholders: %d a signed 32-bit integer, %u an unsigned one, %s a wide
// text, %.6f a real with six decimals, %% a percent sign. Text values of the
// folder import pass through sql_escape_quotes before they are filled in.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace zv {

// --- Folder import: finds or registers the folder, then each of its songs.

// Bound: song_dir_id, dir_order, play_count, is_ads (integers).
inline constexpr const char16_t* SQL_FIND_FOLDER =
    u"select song_dir_id, dir_order, play_count, is_ads from song_dir where dir_name='%s'";
// Bound: the largest dir_order (integer; NULL on an empty table).
inline constexpr const char16_t* SQL_MAX_DIR_ORDER = u"select max(dir_order) from song_dir";
// dir_order, is_playlist, is_ads, is_jingle, dir_name, play_count, dir_color, dir_bgcolor.
inline constexpr const char16_t* SQL_INSERT_FOLDER =
    u"insert into song_dir (dir_order, is_playlist, is_ads, is_jingle, dir_name, play_count, "
    u"dir_color, dir_bgcolor) values (%d, %d, %d, %d, '%s', %d, '%d', '%d')";
// Bound: the key of the last insert on this connection (integer).
inline constexpr const char16_t* SQL_LAST_IDENTITY = u"Select @@Identity";
// What SQL_LAST_IDENTITY is sent as when the database reports itself as SQLite.
inline constexpr const char16_t* SQL_LAST_IDENTITY_SQLITE = u"select last_insert_rowid()";
// is_playlist, is_ads, is_jingle, song_dir_id.
inline constexpr const char16_t* SQL_UPDATE_FOLDER_MARKS =
    u"update song_dir set is_playlist=%d, is_ads=%d, is_jingle=%d where song_dir_id=%d";
// Bound: song_id, song_dir_id (integers).
inline constexpr const char16_t* SQL_FIND_SONG =
    u"select song_id, song_dir_id from song where song_name='%s'";
// song_dir_id, song_name, replay_gain, sm_count, sm_fade_in, sm_fade_out,
// file_size, sec_count, play_count, play_time.
inline constexpr const char16_t* SQL_INSERT_SONG =
    u"insert into song (song_dir_id, song_name, replay_gain, sm_count, sm_fade_in, sm_fade_out, "
    u"file_size, sec_count, play_count, play_time) values (%d, '%s', %.6f, %d, %d, %d, %d, %d, %d, %d)";
// song_dir_id, song_id: gives a song of no folder to the imported folder.
inline constexpr const char16_t* SQL_ADOPT_SONG = u"update song set song_dir_id=%d where song_id=%d";

// --- Playlist of the coming hour.

// hour. Bound: playinfo_id, play_time, week_days (integers).
inline constexpr const char16_t* SQL_SCHEDULE_ENTRIES =
    u"select playinfo_id, play_time, week_days from playlist_info where ((play_time=%d or "
    u"play_time=24) and is_enable=1) order by play_time";
// playinfo_id. Bound: count (integer).
inline constexpr const char16_t* SQL_COUNT_ENTRY_FOLDERS =
    u"select count(*) from playlist where playinfo_id=%d and is_enable=1";
// playinfo_id. Bound: song_dir_id, play_count, dir_color, dir_bgcolor (integers).
inline constexpr const char16_t* SQL_ENTRY_FOLDERS =
    u"select song_dir.song_dir_id, song_dir.play_count, song_dir.dir_color, song_dir.dir_bgcolor "
    u"from playlist LEFT JOIN song_dir ON playlist.song_dir_id=song_dir.song_dir_id where "
    u"playlist.playinfo_id=%d and playlist.is_enable=1 order by playlist.dir_order";
// song_dir_id, play_count. Bound: count (integer).
inline constexpr const char16_t* SQL_COUNT_SONGS_AT_PLAY_COUNT =
    u"select count(*) from song where song_dir_id=%d and play_count=%d";
// song_dir_id, play_count. Bound: song_id (integer), song_name (text), play_count (integer).
inline constexpr const char16_t* SQL_SONGS_AT_PLAY_COUNT =
    u"select song_id, song_name, play_count from song where song_dir_id=%d and play_count=%d "
    u"order by play_count";
// song_dir_id, play_count. Bound: count (integer).
inline constexpr const char16_t* SQL_COUNT_SONGS_ABOVE_PLAY_COUNT =
    u"select count(*) from song where song_dir_id=%d and play_count>%d";
// song_dir_id, play_count. Bound: song_id (integer), song_name (text), play_count (integer).
inline constexpr const char16_t* SQL_SONGS_ABOVE_PLAY_COUNT =
    u"select song_id, song_name, play_count from song where song_dir_id=%d and play_count>%d "
    u"order by play_count";
// song_dir_id. Bound: count (integer).
inline constexpr const char16_t* SQL_COUNT_FOLDER_SONGS =
    u"select count(*) from song where song_dir_id=%d";
// song_dir_id. Bound: song_id (integer), song_name (text), play_count (integer).
inline constexpr const char16_t* SQL_FOLDER_SONGS =
    u"select song_id, song_name, play_count from song where song_dir_id=%d order by play_count";

// --- Player hand-off.

// song_id as the request gave it (a checked decimal number).
// Bound: song_id (integer), song_name (text), play_count (integer).
inline constexpr const char16_t* SQL_SONG_BY_ID =
    u"select song_id, song_name, play_count from song where song_id=%s";

// Size of every statement buffer in wide characters, the terminator included.
inline constexpr std::size_t STATEMENT_CAPACITY = 780;
// Size of the buffers that receive a text column (song_name) as SQL_C_CHAR:
// 780 bytes bound, 2 more so the value is always terminated.
inline constexpr std::size_t TEXT_COLUMN_LENGTH = 780;

using StatementBuffer = char16_t[STATEMENT_CAPACITY];

// One value to fill into a statement; its kind must match its placeholder.
class StatementArg {
 public:
  enum class Kind { signed_int, unsigned_int, real, text };
  StatementArg(std::int32_t value) : kind_(Kind::signed_int), signed_(value) {}
  StatementArg(std::uint32_t value) : kind_(Kind::unsigned_int), unsigned_(value) {}
  StatementArg(double value) : kind_(Kind::real), real_(value) {}
  StatementArg(const char16_t* value) : kind_(Kind::text), text_(value) {}
  StatementArg(const std::u16string& value) : kind_(Kind::text), text_(value.c_str()) {}

  Kind kind() const { return kind_; }
  std::int32_t signed_value() const { return signed_; }
  std::uint32_t unsigned_value() const { return unsigned_; }
  double real_value() const { return real_; }
  const char16_t* text_value() const { return text_; }

 private:
  Kind kind_;
  std::int32_t signed_ = 0;
  std::uint32_t unsigned_ = 0;
  double real_ = 0.0;
  const char16_t* text_ = nullptr;
};

// Fills `format` with `args` into `statement`. Returns true when the whole
// statement fits, terminator included. Otherwise the statement is left empty,
// the console says it was not run, and the caller must treat it as a failed
// statement: a statement cut short could match or change the wrong rows.
// A placeholder without a matching value (or a null text) also fails.
bool format_statement(StatementBuffer& statement, const char16_t* format,
                      std::initializer_list<StatementArg> args = {});

}  // namespace zv
