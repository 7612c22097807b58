#pragma once
// The playlist as a plan: its positions in the order they are filled, each
// with its folder and its songs. The server writes it into the form body
// (playlist_fields.h); the player takes its songs from it.

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "playlist/schedule.h"

namespace zv {

struct PlannedSong {
  std::int32_t id = 0;
  std::string name;  // as the library holds it: the song's path
  std::int32_t play_count = 0;
  std::int64_t play_time = 0;  // read by the player's own lists only
};

struct PlannedPosition {
  std::uint32_t position = 0;
  std::size_t folder = 0;  // in PlaylistPlan::folders
  std::vector<PlannedSong> songs;
  // Complete while folders share the positions: its colours go with it.
  bool coloured = false;
};

struct PlaylistPlan {
  std::vector<PlaylistFolder> folders;     // the schedule entry's, in their order
  std::vector<PlannedPosition> positions;  // by folder, then position: the order of writing

  int song_count() const {
    int count = 0;
    for (const PlannedPosition& position : positions) count += static_cast<int>(position.songs.size());
    return count;
  }
};

// The lists a folder's songs are taken from, in turn.
enum class SongList {
  equal,    // played as often as the folder
  greater,  // played more often
  full,     // all of the folder's songs
};

// Which of a folder's lists the plan stands in, and when it moves on. `Reader`
// reads the lists: open_list(folder, list) gives the list's song count (none
// when that could not be read) and stands on its first song;
// advance(rows), release(), on_row(), ended(), song() and play_count() of
// the song it stands on.
template <class Reader>
class FolderLists {
 public:
  explicit FolderLists(Reader& reader) : reader_(reader) {}

  // Opens the folder's equal list, or its greater list when that fails; a
  // missing folder opens nothing. Returns the song count of the last count
  // that could be read (0 when none).
  std::int32_t open(const PlaylistFolder& folder) {
    folder_ = &folder;
    greater_reopened_ = false;
    last_count_ = 0;
    reader_.release();
    if (folder.missing) return 0;  // a folder the library no longer has holds no songs
    open_list(SongList::equal);
    if (!reader_.on_row()) open_list(SongList::greater);
    return last_count_;
  }
  // Leaves the list standing: the greater list the first time, then (or when
  // that fails) the full list from its first song.
  void switch_list() {
    reader_.release();
    const bool greater_was_reopened = greater_reopened_;
    if (!greater_was_reopened) {
      greater_reopened_ = true;
      open_list(SongList::greater);
    }
    if (greater_was_reopened || !reader_.on_row()) open_list(SongList::full);
  }

 private:
  void open_list(SongList list) {
    if (const auto count = reader_.open_list(*folder_, list)) last_count_ = *count;
  }

  Reader& reader_;
  const PlaylistFolder* folder_ = nullptr;
  bool greater_reopened_ = false;
  std::int32_t last_count_ = 0;
};

// Fills `songs_per_position` songs into each of `position_count` positions
// from `folders`, which take the positions in turn, reading their lists with
// `reader` (see FolderLists; FolderSongs is the server's reader).
template <class Reader>
PlaylistPlan plan_positions(Reader& reader, std::vector<PlaylistFolder> folders, std::uint32_t songs_per_position,
                            std::uint32_t position_count) {
  PlaylistPlan plan;
  plan.folders = std::move(folders);
  const std::uint32_t a = songs_per_position;
  const std::uint32_t b = position_count;
  if (a == 0 || b == 0 || plan.folders.empty()) return plan;

  // Folder rank s fills positions s, s + n, s + 2n, ... below b. A folder
  // without songs takes no rank, so the spacing stays n and the last ranks'
  // positions stay empty.
  const auto n = static_cast<std::uint32_t>(plan.folders.size());
  const std::uint32_t q = b / n;
  const std::uint32_t r = b % n;
  std::uint32_t rank = 0;
  std::uint32_t j = 0;  // songs taken for the current position; carried over a folder that stopped early
  FolderLists<Reader> lists(reader);
  for (std::size_t f = 0; f < plan.folders.size(); ++f) {
    const PlaylistFolder& folder = plan.folders[f];
    const std::int32_t song_count = lists.open(folder);
    if (song_count < 1) continue;
    const std::uint32_t positions = rank < r ? q + 1 : q;
    // A long list is sampled evenly, a x m songs over its whole length.
    const std::uint32_t wanted = a * positions;
    float step = wanted ? static_cast<float>(static_cast<double>(static_cast<std::uint32_t>(song_count)) / wanted)
                        : static_cast<float>(song_count);
    if (step < 1) step = 1;
    float reached = 0;
    std::uint32_t offset = 0;
    while (reader.on_row()) {
      const std::uint32_t position = rank + offset;
      if (plan.positions.empty() || plan.positions.back().folder != f || plan.positions.back().position != position)
        plan.positions.push_back({position, f, {}, false});
      plan.positions.back().songs.push_back(reader.song());
      const double next = static_cast<double>(reached) + static_cast<double>(step);
      reader.advance(static_cast<std::uint64_t>(std::trunc(next)) - static_cast<std::uint64_t>(std::trunc(reached)));
      reached = static_cast<float>(next);
      if (reader.ended()) lists.switch_list();
      if (++j < a) continue;
      j = 0;
      // The list has moved past the songs played as often as the folder.
      if (folder.play_count < reader.play_count()) lists.switch_list();
      if (n >= b) break;  // one position per folder, no colours
      plan.positions.back().coloured = true;
      offset += n;
      if (rank + offset >= b) break;
    }
    reader.release();
    if (++rank == b) break;
  }
  return plan;
}

}  // namespace zv
