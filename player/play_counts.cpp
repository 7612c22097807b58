#include "play_counts.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

#include "library/play_statements.h"
#include "library/query.h"
#include "library/transaction.h"
#include "platform/file_access.h"
#include "queued_song.h"
#include "tab_fields.h"
#include "text/encoding.h"

namespace zv::player {

namespace {

// A text value for a statement: none when the text is no UTF-8.
std::optional<std::u16string> sql_text(const std::string& utf8) {
  auto wide = utf8_to_wide(utf8.c_str(), -1);
  if (!wide) return std::nullopt;
  return std::u16string(wide->c_str());
}

enum class Lookup { found, missing, failed };

Lookup find_song(const std::u16string& path, std::int32_t& song_id) {
  Statement find(nullptr, SQL_SONG_BY_NAME, {Column(song_id)});
  if (!find.run({std::u16string_view(path)})) return Lookup::failed;
  return find.next() ? Lookup::found : find.failed() ? Lookup::failed : Lookup::missing;
}

// Whether a row bears the key: none when the library could not tell.
std::optional<bool> on_record(const std::u16string& key) {
  std::int32_t rows = 0;
  Statement count(nullptr, SQL_PLAY_ON_RECORD, {Column(rows)});
  if (!count.run({std::u16string_view(key)}) || !count.next()) return std::nullopt;
  return rows > 0;
}

bool run(const char* sql, std::initializer_list<Value> values) { return Statement(nullptr, sql).run(values); }

}  // namespace

CountResult record_fault(const FaultRecord& fault) {
  const auto key = sql_text(fault.key), kind = sql_text(fault.kind), text = sql_text(fault.text);
  if (!key || !kind || !text) return CountResult::not_in_library;
  LibraryTransaction transaction;
  if (!transaction.started()) return CountResult::unreachable;
  if (!run(SQL_FORGET_FAULT, {std::u16string_view(*key)}) ||
      !run(SQL_RECORD_FAULT, {std::u16string_view(*key), fault.started, fault.ended, std::u16string_view(*kind),
                              std::u16string_view(*text)}) ||
      !transaction.commit())
    return CountResult::unreachable;
  return CountResult::counted;
}

CountResult count_play(const PlayRecord& play) {
  const auto path = sql_text(play.path);
  LibraryTransaction transaction;
  if (!transaction.started()) return CountResult::unreachable;
  if (!play.key.empty()) {
    const std::string folder_text = song_folder(play.path);
    const auto key = sql_text(play.key), name = sql_text(play.path.substr(folder_text.size())),
               folder = sql_text(folder_text), source = sql_text(play.source), outcome = sql_text(play.outcome);
    if (!key || !name || !folder || !source || !outcome) return CountResult::not_in_library;
    const auto recorded = on_record(*key);
    if (!recorded) return CountResult::unreachable;
    if (*recorded) return CountResult::counted;
    if (!run(SQL_RECORD_PLAY,
             {std::u16string_view(*key), play.started, play.ended, play.song_id ? Value(*play.song_id) : Value::null(),
              std::u16string_view(*name), std::u16string_view(*folder), std::u16string_view(*source),
              std::u16string_view(*outcome)}))
      return CountResult::unreachable;
    // No audience (the stream off): NULL listeners.
    auto heard = [&](std::int64_t Audience::*count) {
      return play.audience ? Value((*play.audience).*count) : Value::null();
    };
    // A library without play_detail (library-setup not run since) still records and counts the play.
    Statement(nullptr, SQL_RECORD_PLAY_DETAIL)
        .run({play.key, std::max<std::int64_t>(0, play.ended - play.started), heard(&Audience::at_start),
              heard(&Audience::peak), heard(&Audience::listener_seconds),
              play.song_id ? Value(*play.song_id) : Value::null(), play.path});
  }
  if (play.outcome != OUTCOME_PLAYED) return transaction.commit() ? CountResult::counted : CountResult::unreachable;
  std::int32_t song_id = play.song_id.value_or(0);
  if (!play.song_id) {
    const Lookup found = path ? find_song(*path, song_id) : Lookup::missing;
    if (found == Lookup::failed) return CountResult::unreachable;
    if (found == Lookup::missing) {
      // Still on record, only not counted.
      return transaction.commit() ? CountResult::not_in_library : CountResult::unreachable;
    }
  }
  if (!run(SQL_COUNT_SONG_PLAY, {play.ended, song_id}) || !run(SQL_NEXT_FOLDER_ROUND, {song_id}) ||
      !transaction.commit())
    return CountResult::unreachable;
  return CountResult::counted;
}

namespace {

std::optional<std::int32_t> song_id(const std::string& text) {
  std::int32_t id = 0;
  if (text.empty() || std::from_chars(text.data(), text.data() + text.size(), id).ec != std::errc())
    return std::nullopt;
  return id;
}

// A field holds no line break: the file is one record a line. The text is
// the last field, so it may hold a tab.
std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

// Lines of this player: "R\t<ended>\t<started>\t<key>\t<play or fault>\t<source or kind>\t<outcome>\t<song_id>\t<path
// or text>", and for a play with its audience "L\t" and the same with the
// listeners at start, peak and listener-seconds before the path; older
// players wrote "<played>\t<song_id>\t<path>".
std::string pending_text(const std::deque<Recorded>& records) {
  std::ostringstream out;
  for (const Recorded& record : records) {
    if (const auto* play = std::get_if<PlayRecord>(&record)) {
      out << (play->audience ? "L\t" : "R\t") << play->ended << '\t' << play->started << '\t' << one_line(play->key)
          << "\tplay\t" << one_line(play->source) << '\t' << one_line(play->outcome) << '\t'
          << (play->song_id ? std::to_string(*play->song_id) : std::string()) << '\t';
      if (play->audience)
        out << play->audience->at_start << '\t' << play->audience->peak << '\t' << play->audience->listener_seconds
            << '\t';
      out << one_line(play->path) << '\n';
    } else {
      const auto& fault = std::get<FaultRecord>(record);
      out << "R\t" << fault.ended << '\t' << fault.started << '\t' << one_line(fault.key) << "\tfault\t"
          << one_line(fault.kind) << "\t\t\t" << one_line(fault.text) << '\n';
    }
  }
  return out.str();
}

std::deque<Recorded> read_pending(const std::string& text) {
  std::deque<Recorded> records;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("R\t")) {
      const auto part = tab_fields(line, 9);
      if (part.empty()) continue;
      if (part[4] == "fault") {
        records.push_back(FaultRecord{part[3], part[5], part[8], integer_field(part[2]), integer_field(part[1])});
      } else {
        records.push_back(PlayRecord{song_id(part[7]), part[8], integer_field(part[1]), part[3], integer_field(part[2]),
                                     part[5], part[6]});
      }
      continue;
    }
    if (line.starts_with("L\t")) {
      const auto part = tab_fields(line, 12);
      if (part.empty()) continue;
      records.push_back(PlayRecord{song_id(part[7]), part[11], integer_field(part[1]), part[3], integer_field(part[2]),
                                   part[5], part[6],
                                   Audience{integer_field(part[8]), integer_field(part[9]), integer_field(part[10])}});
      continue;
    }
    const auto part = tab_fields(line, 3);
    if (part.empty()) continue;
    PlayRecord play;
    play.song_id = song_id(part[1]);
    play.path = part[2];
    play.ended = integer_field(part[0]);
    records.push_back(std::move(play));
  }
  return records;
}

PendingRecords::PendingRecords(std::filesystem::path file) : file_(std::move(file)) {
  std::ifstream in(file_, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  records_ = read_pending(text.str());
}

bool PendingRecords::add(Recorded record) {
  records_.push_back(std::move(record));
  return save();
}

void PendingRecords::pop_front() {
  records_.pop_front();
  save();
}

bool PendingRecords::save() const {
  if (records_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
    return true;
  }
  return write_file_whole(file_, pending_text(records_));
}

}  // namespace zv::player
