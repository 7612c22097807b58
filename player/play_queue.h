#pragma once
// What waits to go on air, and the keys the pages steer it by: the songs
// sent, in order, then the hour's scheduled songs; and the last songs drawn
// from the schedule, played again while the library does not answer. Only
// what waits: the engine, the clock and the files are the player's.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "queued_song.h"

namespace zv::player {

// A key as the pages send it: plain decimal digits that fit; none otherwise.
std::optional<std::int64_t> parse_key(std::string_view text);
// Whether a path may wait: not empty, and no line break (the state's files
// and the put messages are one path a line).
bool acceptable_path(std::string_view path);

// The paths of a put message, one a line; empty lines are passed over.
std::vector<std::string> message_paths(const std::string& text);

enum class KeyAction { remove, move_up, move_down, move_next };

class PlayQueue {
 public:
  // A new key: for a song, a play or a fault; never reused by the same state.
  std::int64_t new_key() { return next_key_++; }
  std::int64_t next_key() const { return next_key_; }

  // Songs sent: at the end of the sent songs, or next (in the given order).
  // False (and nothing changes) when a path is not acceptable.
  bool add_sent(const std::string& path);
  bool put(const std::vector<std::string>& paths, bool next);
  // A song taken back from the engine, or cut, waits again at the head: a
  // scheduled one among the scheduled songs while nothing sent waits.
  void give_back(QueuedSong song);
  // Acts on the waiting song with `key`; the song acted on, none when no
  // song bears the key. A scheduled song moved waits among the sent ones.
  std::optional<QueuedSong> act(std::int64_t key, KeyAction action);

  // The hour's songs, with new keys; they are also what plays while the
  // library does not answer.
  void set_schedule(std::vector<QueuedSong> songs, int hour);
  void drop_schedule() { schedule_.clear(); }
  int schedule_hour() const { return schedule_hour_; }
  // The next song to go on air: the sent ones first.
  std::optional<QueuedSong> take_next();
  // A song drawn before, again with a new key, in turn; none when none was drawn.
  std::optional<QueuedSong> take_fallback();

  bool empty() const { return sent_.empty() && schedule_.empty(); }
  const std::deque<QueuedSong>& sent() const { return sent_; }
  const std::deque<QueuedSong>& schedule() const { return schedule_; }

  // As the saved state had it.
  void restore(std::deque<QueuedSong> sent, std::deque<QueuedSong> schedule, int hour, std::int64_t next_key);

 private:
  std::deque<QueuedSong> sent_;
  std::deque<QueuedSong> schedule_;
  std::deque<QueuedSong> fallback_;
  int schedule_hour_ = -1;  // the hour schedule_ was drawn for
  std::int64_t next_key_ = 1;
};

}  // namespace zv::player
