#include "schedule_fill.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <string_view>

#include "library/database.h"
#include "library/play_statements.h"
#include "library/statements.h"
#include "playlist/playlist_builder.h"

namespace zv::player {

namespace {

// The song ids of each position, from the builder's fileid[p][]=<id> fields.
std::map<std::uint32_t, std::vector<std::int32_t>> position_candidates(const FormBody& body) {
  std::map<std::uint32_t, std::vector<std::int32_t>> positions;
  const std::string_view fields(body.data(), body.length());
  constexpr std::string_view prefix = "fileid[";
  for (std::size_t at = 0; at < fields.size();) {
    std::size_t end = fields.find('&', at);
    if (end == std::string_view::npos) end = fields.size();
    const std::string_view field = fields.substr(at, end - at);
    at = end + 1;
    if (!field.starts_with(prefix)) continue;
    std::uint32_t position = 0;
    std::int32_t id = 0;
    const auto [after_position, position_error] =
        std::from_chars(field.data() + prefix.size(), field.data() + field.size(), position);
    const std::string_view rest(after_position, field.data() + field.size() - after_position);
    if (position_error != std::errc() || !rest.starts_with("][]=")) continue;
    if (std::from_chars(rest.data() + 4, rest.data() + rest.size(), id).ec == std::errc()) positions[position].push_back(id);
  }
  return positions;
}

struct SongForAir {
  std::int32_t id = 0;
  std::string path;
  std::int64_t played = 0;  // the later of the library's play_time and the player's own record
};

std::optional<SongForAir> song_for_air(std::int32_t id) {
  std::int32_t song_id = 0, play_time = 0;
  char name[TEXT_COLUMN_LENGTH + 2] = {};
  ColumnBinding bindings[3] = {{SQL_C_LONG, &song_id, 0, 0},
                               {SQL_C_CHAR, name, static_cast<SQLLEN>(TEXT_COLUMN_LENGTH), 0},
                               {SQL_C_LONG, &play_time, 0, 0}};
  StatementBuffer statement;
  SQLHSTMT held = nullptr;
  SQLRETURN code = query_statement(statement, SQL_SONG_FOR_AIR, {id}, bindings, 3, &held);
  const bool found = sql_succeeded(code);
  release_statement(held, code);
  if (!found) return std::nullopt;
  std::string path = name;
  while (!path.empty() && path.back() == ' ') path.pop_back();  // as the hand-off reads names
  return SongForAir{song_id, path, play_time};
}

}  // namespace

std::vector<QueuedSong> hour_songs(const RecentPlays& recent, std::int64_t now, const ComingHour& hour) {
  FormBody body;
  build_playlist_for(body, HOUR_SONGS_PER_POSITION, HOUR_POSITION_COUNT, hour);
  std::vector<QueuedSong> songs;
  std::set<std::int32_t> taken;
  for (const auto& [position, candidates] : position_candidates(body)) {
    std::optional<SongForAir> chosen, longest_ago;
    for (const std::int32_t id : candidates) {
      if (taken.count(id)) continue;
      auto song = song_for_air(id);
      if (!song) continue;
      if (const auto own = recent.find(id); own != recent.end()) song->played = std::max(song->played, own->second);
      if (now - song->played >= RECENT_SECONDS) {
        chosen = std::move(song);
        break;
      }
      if (!longest_ago || song->played < longest_ago->played) longest_ago = std::move(song);
    }
    if (!chosen) chosen = std::move(longest_ago);
    if (!chosen) continue;
    taken.insert(chosen->id);
    QueuedSong song;
    song.id = chosen->id;
    song.path = chosen->path;
    song.source = SongSource::schedule;
    songs.push_back(std::move(song));
  }
  return songs;
}

}  // namespace zv::player
