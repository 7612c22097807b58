#pragma once
// What the player must not lose when it ends, however it ends: the song on
// air and how far it got, the songs waiting, and whether the operator
// stopped the station. Saved in player_state.txt beside the library on every
// change and every 2 s while a song plays; read back when the player starts.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

#include "queued_song.h"

namespace zv::player {

inline constexpr const char* PLAYER_STATE_FILE = "player_state.txt";

struct SongOnAir {
  QueuedSong song;
  std::string play_key;      // the play's name in the record
  std::int64_t started = 0;  // seconds since 1970
  double position = 0;       // seconds into the song
};

struct SavedState {
  std::int64_t alive = 0;  // when it was saved, seconds since 1970
  bool stopped = false;
  std::int64_t next_key = 1;
  std::optional<SongOnAir> now;
  std::deque<QueuedSong> queue;     // sent, in order
  std::deque<QueuedSong> schedule;  // the hour's songs still to come
};

// Replaces the file whole. False when it could not be written.
bool save_player_state(const std::filesystem::path& file, const SavedState& state);
// What the file holds; none when there is no file.
std::optional<SavedState> load_player_state(const std::filesystem::path& file);

}  // namespace zv::player
