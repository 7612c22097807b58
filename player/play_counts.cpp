#include "play_counts.h"

#include <charconv>
#include <fstream>

#include "library/database.h"
#include "library/folder_import.h"
#include "library/play_statements.h"
#include "library/statements.h"
#include "library/transaction.h"
#include "text/encoding.h"

namespace zv::player {

namespace {

enum class Lookup { found, missing, failed };

Lookup find_song(const std::string& path, std::int32_t& song_id) {
  const auto wide = utf8_to_wide(path.c_str(), -1);
  if (!wide) return Lookup::missing;
  std::u16string escape_buffer;
  std::int32_t folder_id = 0;
  ColumnBinding bindings[2] = {{SQL_C_LONG, &song_id, 0, 0}, {SQL_C_LONG, &folder_id, 0, 0}};
  StatementBuffer statement;
  SQLHSTMT held = nullptr;
  SQLRETURN code = query_statement(statement, SQL_FIND_SONG, {sql_escape_quotes(wide->c_str(), escape_buffer)},
                                   bindings, 2, &held);
  const Lookup result = sql_succeeded(code) ? Lookup::found : code == SQL_NO_DATA ? Lookup::missing : Lookup::failed;
  release_statement(held, code);
  return result;
}

}  // namespace

CountResult count_play(const Play& play) {
  LibraryTransaction transaction;
  if (!transaction.started()) return CountResult::unreachable;
  std::int32_t song_id = play.song_id.value_or(0);
  if (!play.song_id) {
    const Lookup found = find_song(play.path, song_id);
    if (found == Lookup::missing) return CountResult::not_in_library;
    if (found == Lookup::failed) return CountResult::unreachable;
  }
  StatementBuffer statement;
  const auto played = static_cast<std::int32_t>(play.played);
  if (!sql_succeeded(execute_statement(statement, SQL_COUNT_SONG_PLAY, {played, song_id})) ||
      !sql_succeeded(execute_statement(statement, SQL_NEXT_FOLDER_ROUND, {song_id})) || !transaction.commit())
    return CountResult::unreachable;
  return CountResult::counted;
}

PendingPlays::PendingPlays(std::filesystem::path file) : file_(std::move(file)) {
  std::ifstream in(file_);
  for (std::string line; std::getline(in, line);) {
    // <played>\t<song_id, or empty>\t<path>
    const auto first = line.find('\t');
    const auto second = first == std::string::npos ? first : line.find('\t', first + 1);
    if (second == std::string::npos) continue;
    Play play;
    play.path = line.substr(second + 1);
    std::from_chars(line.data(), line.data() + first, play.played);
    std::int32_t id = 0;
    if (std::from_chars(line.data() + first + 1, line.data() + second, id).ec == std::errc()) play.song_id = id;
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
      out << play.played << '\t' << (play.song_id ? std::to_string(*play.song_id) : std::string()) << '\t'
          << play.path << '\n';
    }
  }
  std::filesystem::rename(partial, file_, ignored);
}

}  // namespace zv::player
