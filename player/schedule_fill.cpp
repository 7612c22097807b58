#include "schedule_fill.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <string>

#include "library/play_statements.h"
#include "library/query.h"
#include "library/statements.h"
#include "playlist/playlist_builder.h"

namespace zv::player {

namespace {

constexpr std::int64_t BEFORE_EVERY_SONG = std::numeric_limits<std::int64_t>::min();

// A folder's song lists as the server reads them for the playlist (the same
// songs in the same order), read through the player's own statements: each
// song the plan takes is sought through the index from the one before, so
// the thousands of songs sampled over are counted by the library, never read
// out one by one.
class HourLists {
 public:
  HourLists()
      : count_(nullptr, SQL_LIST_COUNT, {Column(number_)}),
        next_play_count_(nullptr, SQL_LIST_NEXT_PLAY_COUNT, {Column(number_)}),
        song_(nullptr, SQL_LIST_SONG,
              {Column(song_id_), Column(name_, TEXT_COLUMN_LENGTH), Column(song_play_count_), Column(play_time_)}),
        songs_left_(nullptr, SQL_LIST_SONGS_LEFT, {Column(number_)}) {}

  // The list's count, then its first song.
  std::optional<std::int32_t> open_list(const PlaylistFolder& folder, SongList list) {
    constexpr std::int64_t lowest = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t highest = std::numeric_limits<std::int32_t>::max();
    folder_id_ = folder.song_dir_id;
    const std::int64_t at = folder.play_count;
    const std::int64_t from = list == SongList::equal ? at : list == SongList::greater ? at + 1 : lowest;
    highest_ = list == SongList::equal ? at : highest;
    if (!count_.run({folder_id_, from, highest_}) || !count_.next()) {
      state_ = State::failed;
      return std::nullopt;
    }
    const std::int32_t count = number_;
    play_count_ = from - 1;
    if (next_play_count()) seek(1);
    return count;
  }
  void advance(std::uint64_t rows) {
    if (on_row()) seek(rows);
  }
  void release() { state_ = State::ended; }

  bool on_row() const { return state_ == State::row; }
  bool ended() const { return state_ == State::ended; }
  PlannedSong song() const { return {song_id_, name_, song_play_count_, play_time_}; }
  std::int32_t play_count() const { return song_play_count_; }

 private:
  enum class State { row, ended, failed };

  // Goes on to the list's next play count; false when none is left.
  bool next_play_count() {
    if (!next_play_count_.run({folder_id_, play_count_, highest_}) || !next_play_count_.next()) {
      state_ = State::failed;
      return false;
    }
    if (next_play_count_.is_null(0)) {
      state_ = State::ended;
      return false;
    }
    play_count_ = number_;
    after_id_ = BEFORE_EVERY_SONG;
    return true;
  }

  // Lands on the song `rows` songs after the one the list stands on (the
  // first song when it stands before the list).
  void seek(std::uint64_t rows) {
    auto pass = static_cast<std::int64_t>(rows) - 1;
    for (;;) {
      if (!song_.run({folder_id_, play_count_, after_id_, pass})) break;
      if (song_.next()) {
        after_id_ = song_id_;
        state_ = State::row;
        return;
      }
      if (song_.failed() || !songs_left_.run({folder_id_, play_count_, after_id_}) || !songs_left_.next()) break;
      pass -= number_;
      if (!next_play_count()) return;
    }
    state_ = State::failed;
  }

  std::int32_t folder_id_ = 0;
  State state_ = State::ended;
  std::int64_t highest_ = 0;     // the list's highest play count
  std::int64_t play_count_ = 0;  // the play count the list stands in
  std::int64_t after_id_ = BEFORE_EVERY_SONG;
  std::int32_t number_ = 0;
  // The song the list stands on.
  std::int32_t song_id_ = 0;
  char name_[TEXT_COLUMN_LENGTH + 2] = {};
  std::int32_t song_play_count_ = 0;
  std::int32_t play_time_ = 0;
  // Declared after what they read into, so that it exists when they are bound.
  Statement count_, next_play_count_, song_, songs_left_;
};

}  // namespace

PlaylistPlan plan_of_hour(const ComingHour& hour) {
  const auto entry = choose_schedule_entry(hour);
  if (!entry) return {};
  auto folders = read_entry_folders(*entry);
  if (folders.empty()) return {};
  HourLists lists;
  return plan_positions(lists, std::move(folders), HOUR_SONGS_PER_POSITION, HOUR_POSITION_COUNT);
}

namespace {

std::string trimmed(std::string name) {
  while (!name.empty() && name.back() == ' ') name.pop_back();  // as the hand-off reads names
  return name;
}

// `recent` with every play on record that ended within the last hour: a
// song sent by the operator counts as much as a scheduled one.
RecentPlays with_plays_on_record(RecentPlays recent, std::int64_t now) {
  char folder[TEXT_COLUMN_LENGTH + 2] = {}, name[TEXT_COLUMN_LENGTH + 2] = {};
  std::int32_t ended = 0;
  // Plays are found by their start, which the record is ordered by; a play
  // longer than an hour is no concern of the last hour's rule.
  Statement plays(nullptr, SQL_PLAYS_SINCE, {Column(folder, sizeof folder), Column(name, sizeof name), Column(ended)});
  if (!plays.run({now - 2 * RECENT_SECONDS})) return recent;
  while (plays.next()) {
    auto& last = recent[std::string(folder) + name];
    last = std::max<std::int64_t>(last, ended);
  }
  return recent;
}

}  // namespace

std::vector<QueuedSong> hour_songs(const RecentPlays& own, std::int64_t now, const ComingHour& hour) {
  const PlaylistPlan plan = plan_of_hour(hour);
  if (plan.positions.empty()) return {};
  const RecentPlays recent = with_plays_on_record(own, now);
  std::vector<const PlannedPosition*> positions;
  for (const PlannedPosition& position : plan.positions) positions.push_back(&position);
  std::sort(positions.begin(), positions.end(),
            [](const PlannedPosition* a, const PlannedPosition* b) { return a->position < b->position; });
  std::vector<QueuedSong> songs;
  std::set<std::int32_t> taken;
  for (const PlannedPosition* position : positions) {
    const PlannedSong *chosen = nullptr, *longest_ago = nullptr;
    std::int64_t longest_ago_played = 0;
    for (const PlannedSong& song : position->songs) {
      if (taken.count(song.id)) continue;
      // The latest of the library's play_time, the record and the player's own.
      std::int64_t played = song.play_time;
      if (const auto on_record = recent.find(trimmed(song.name)); on_record != recent.end()) {
        played = std::max(played, on_record->second);
      }
      if (now - played >= RECENT_SECONDS) {
        chosen = &song;
        break;
      }
      if (!longest_ago || played < longest_ago_played) {
        longest_ago = &song;
        longest_ago_played = played;
      }
    }
    if (!chosen) chosen = longest_ago;
    if (!chosen) continue;
    taken.insert(chosen->id);
    QueuedSong song;
    song.id = chosen->id;
    song.path = trimmed(chosen->name);
    song.source = SongSource::schedule;
    songs.push_back(std::move(song));
  }
  return songs;
}

}  // namespace zv::player
