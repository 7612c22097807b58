#pragma once
// What the player must not lose when it ends, however it ends: the song on
// air and how far it got, the songs waiting, the faults not yet seen, and
// whether the operator stopped the station. Saved in player_state.txt beside
// the library on every change and every 2 s while a song plays; read back
// when the player starts.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

#include "fault_log.h"
#include "queued_song.h"

namespace zv::player {

inline constexpr const char* PLAYER_STATE_FILE = "player_state.txt";

struct SavedState {
  std::int64_t alive = 0;  // when it was saved, seconds since 1970
  bool stopped = false;
  std::int64_t next_key = 1;
  std::optional<SongOnAir> now;
  std::deque<QueuedSong> queue;     // sent, in order
  std::deque<QueuedSong> schedule;  // the hour's songs still to come
  int schedule_hour = -1;           // the hour they were drawn for
  std::deque<Fault> faults;         // those the banner still shows
};

// The file's text; a song whose path holds a line break is left out (none is
// ever queued).
std::string player_state_text(const SavedState& state);
// What a file's text holds; lines it does not know are passed over.
SavedState parse_player_state(const std::string& text);

// Replaces the file whole, on the disk once this returns. False when it
// could not be written.
bool save_player_state(const std::filesystem::path& file, const SavedState& state);
// What the file holds; none when there is no file.
std::optional<SavedState> load_player_state(const std::filesystem::path& file);

}  // namespace zv::player
