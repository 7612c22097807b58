#include "play_counts.h"

#include <charconv>
#include <fstream>
#include <vector>

#include "library/folder_import.h"
#include "library/play_statements.h"
#include "library/query.h"
#include "library/statements.h"
#include "library/transaction.h"
#include "queued_song.h"
#include "tab_fields.h"
#include "text/encoding.h"

namespace zv::player {

namespace {

// key. Bound: how many rows bear it (integer).
constexpr const char16_t* SQL_PLAY_ON_RECORD = u"select count(*) from play_record where play_key='%s'";
// key, started, ended, song_id (a number or null), song's file name, folder, source, outcome.
constexpr const char16_t* SQL_RECORD_PLAY =
    u"insert into play_record (play_key, started, ended, song_id, song_name, dir_name, source, outcome) "
    u"values ('%s', %d, %d, %s, '%s', '%s', '%s', '%s')";
// key.
constexpr const char16_t* SQL_FORGET_FAULT = u"delete from fault_record where fault_key='%s'";
// key, started, ended (0 while it lasts), kind, text.
constexpr const char16_t* SQL_RECORD_FAULT =
    u"insert into fault_record (fault_key, started, ended, kind, detail) values ('%s', %d, %d, '%s', '%s')";

// Each recorded play's song as its tags name it now, and its audience: key,
// seconds on air, listeners at start, peak, listener-seconds, song_id (or
// null), the song's path (for a null song_id).
constexpr char SQL_RECORD_DETAIL[] =
    "insert or replace into play_detail (play_key, duration_s, listeners_start, listeners_peak, listener_seconds, "
    "artist, title, album, isrc, label, composer) select ?, ?, ?, ?, ?, coalesce(t.artist, ''), coalesce(t.title, ''), "
    "coalesce(t.album, ''), coalesce(t.isrc, ''), coalesce(t.label, ''), coalesce(t.composer, '') "
    "from (select 1) left join song_tags t on t.song_id = coalesce(?, (select song_id from song where song_name = ?))";

// A text value for a statement: UTF-16 with its quotes doubled.
struct SqlText {
  explicit SqlText(const std::string& utf8) : wide(utf8_to_wide(utf8.c_str(), -1)) {
    if (wide) value = sql_escape_quotes(wide->c_str(), escaped);
  }
  decltype(utf8_to_wide("", -1)) wide;
  std::u16string escaped;
  const char16_t* value = nullptr;  // null when the text is no UTF-8
};

enum class Lookup { found, missing, failed };

Lookup find_song(const std::string& path, std::int32_t& song_id) {
  const auto wide = utf8_to_wide(path.c_str(), -1);
  if (!wide) return Lookup::missing;
  std::u16string escape_buffer;
  std::int32_t folder_id = 0;
  Query query;
  query.run(SQL_FIND_SONG, {sql_escape_quotes(wide->c_str(), escape_buffer)}, {Column(song_id), Column(folder_id)});
  return query.on_row() ? Lookup::found : query.ended() ? Lookup::missing : Lookup::failed;
}

// Whether a row bears the key: none when the library could not tell.
std::optional<bool> on_record(const SqlText& key) {
  std::int32_t rows = 0;
  Query query;
  query.run(SQL_PLAY_ON_RECORD, {key.value}, {Column(rows)});
  if (!query.on_row()) return std::nullopt;
  return rows > 0;
}

std::int32_t seconds(std::int64_t time) { return static_cast<std::int32_t>(time); }

CountResult record_fault(const Play& fault) {
  const SqlText key(fault.key), kind(fault.source), text(fault.path);
  if (!key.value || !kind.value || !text.value) return CountResult::not_in_library;
  LibraryTransaction transaction;
  if (!transaction.started()) return CountResult::unreachable;
  if (!execute(SQL_FORGET_FAULT, {key.value}) ||
      !execute(SQL_RECORD_FAULT, {key.value, seconds(fault.started), seconds(fault.played), kind.value, text.value}) ||
      !transaction.commit())
    return CountResult::unreachable;
  return CountResult::counted;
}

}  // namespace

CountResult count_play(const Play& play) {
  if (play.fault) return record_fault(play);
  LibraryTransaction transaction;
  if (!transaction.started()) return CountResult::unreachable;
  if (!play.key.empty()) {
    const SqlText key(play.key), name(play.path.substr(song_folder(play.path).size())), folder(song_folder(play.path)),
        source(play.source), outcome(play.outcome);
    if (!key.value || !name.value || !folder.value) return CountResult::not_in_library;
    const auto recorded = on_record(key);
    if (!recorded) return CountResult::unreachable;
    if (*recorded) return CountResult::counted;
    const std::string id_text = play.song_id ? std::to_string(*play.song_id) : "null";
    const std::u16string id(id_text.begin(), id_text.end());
    if (!execute(SQL_RECORD_PLAY, {key.value, seconds(play.started), seconds(play.played), id.c_str(), name.value,
                                   folder.value, source.value, outcome.value}))
      return CountResult::unreachable;
    // No audience (the stream off): NULL listeners.
    auto heard = [&](std::int64_t Audience::*count) {
      return play.audience ? Statement::Value((*play.audience).*count) : Statement::Value();
    };
    Statement detail(nullptr, SQL_RECORD_DETAIL);
    // A library without play_detail (library-setup not run since) still records and counts the play.
    detail.run({play.key, std::max<std::int64_t>(0, play.played - play.started), heard(&Audience::at_start),
                heard(&Audience::peak), heard(&Audience::listener_seconds),
                play.song_id ? Statement::Value(std::int64_t{*play.song_id}) : Statement::Value(), play.path});
  }
  if (play.outcome != OUTCOME_PLAYED) return transaction.commit() ? CountResult::counted : CountResult::unreachable;
  std::int32_t song_id = play.song_id.value_or(0);
  if (!play.song_id) {
    const Lookup found = find_song(play.path, song_id);
    if (found == Lookup::failed) return CountResult::unreachable;
    if (found == Lookup::missing) {
      // Still on record, only not counted.
      return transaction.commit() ? CountResult::not_in_library : CountResult::unreachable;
    }
  }
  if (!execute(SQL_COUNT_SONG_PLAY, {seconds(play.played), song_id}) || !execute(SQL_NEXT_FOLDER_ROUND, {song_id}) ||
      !transaction.commit())
    return CountResult::unreachable;
  return CountResult::counted;
}

namespace {

std::optional<std::int32_t> song_id(const std::string& text) {
  std::int32_t id = 0;
  if (text.empty() || std::from_chars(text.data(), text.data() + text.size(), id).ec != std::errc()) return std::nullopt;
  return id;
}

// Lines of this player: "R\t<ended>\t<started>\t<key>\t<play or fault>\t<source>\t<outcome>\t<song_id>\t<path>",
// "L\t" and the same with the audience (at start, peak, listener-seconds)
// before the path; older players wrote "<played>\t<song_id>\t<path>".
constexpr const char* RECORD_LINE = "R";
constexpr const char* AUDIENCE_LINE = "L";

}  // namespace

PendingPlays::PendingPlays(std::filesystem::path file) : file_(std::move(file)) {
  std::ifstream in(file_);
  for (std::string line; std::getline(in, line);) {
    Play play;
    if (line.starts_with("R\t") || line.starts_with("L\t")) {
      const bool heard = line[0] == 'L';
      const auto part = tab_fields(line, heard ? 12 : 9);
      if (part.empty()) continue;
      play = {song_id(part[7]), part.back(), integer_field(part[1]), part[3], integer_field(part[2]), part[5], part[6],
              part[4] == "fault"};
      if (heard) play.audience = Audience{integer_field(part[8]), integer_field(part[9]), integer_field(part[10])};
    } else {
      const auto part = tab_fields(line, 3);
      if (part.empty()) continue;
      play.song_id = song_id(part[1]);
      play.path = part[2];
      play.played = integer_field(part[0]);
    }
    plays_.push_back(std::move(play));
  }
}

void PendingPlays::add(Play play) {
  plays_.push_back(std::move(play));
  save();
}

void PendingPlays::pop_front() {
  plays_.pop_front();
  save();
}

void PendingPlays::save() const {
  std::error_code ignored;
  if (plays_.empty()) {
    std::filesystem::remove(file_, ignored);
    return;
  }
  auto partial = file_;
  partial += ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    for (const Play& play : plays_) {
      out << (play.audience ? AUDIENCE_LINE : RECORD_LINE) << '\t' << play.played << '\t' << play.started << '\t'
          << play.key << '\t' << (play.fault ? "fault" : "play") << '\t' << play.source << '\t' << play.outcome << '\t'
          << (play.song_id ? std::to_string(*play.song_id) : std::string()) << '\t';
      if (play.audience) {
        out << play.audience->at_start << '\t' << play.audience->peak << '\t' << play.audience->listener_seconds
            << '\t';
      }
      out << play.path << '\n';
    }
  }
  std::filesystem::rename(partial, file_, ignored);
}

}  // namespace zv::player
