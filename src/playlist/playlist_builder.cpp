#include "playlist/playlist_builder.h"

#include <cmath>

#include "playlist/folder_songs.h"
#include "playlist/playlist_fields.h"
#include "playlist/schedule.h"

namespace zv {

int build_playlist(FormBody& body, std::uint32_t songs_per_position, std::uint32_t position_count) {
  return build_playlist_for(body, songs_per_position, position_count, coming_hour(get_local_time()));
}

int build_playlist_for(FormBody& body, std::uint32_t songs_per_position, std::uint32_t position_count,
                       const ComingHour& slot) {
  const std::uint32_t a = songs_per_position;
  const std::uint32_t b = position_count;
  if (a == 0 || b == 0) return 0;
  const auto entry = choose_schedule_entry(slot);
  if (!entry) return 0;
  const auto folders = read_entry_folders(*entry);
  if (folders.empty()) return 0;

  // Folder rank s fills positions s, s + n, s + 2n, ... below b. A folder
  // without songs takes no rank, so the spacing stays n and the last ranks'
  // positions stay empty.
  const auto n = static_cast<std::uint32_t>(folders.size());
  const std::uint32_t q = b / n;
  const std::uint32_t r = b % n;
  std::uint32_t rank = 0;
  std::uint32_t j = 0;  // songs written for the current position; carried over a folder that stopped early
  int written = 0;
  FolderSongs songs;
  for (const PlaylistFolder& folder : folders) {
    const std::int32_t song_count = songs.open(folder);
    if (song_count < 1) continue;
    const std::uint32_t positions = rank < r ? q + 1 : q;
    // A long list is sampled evenly, a x m songs over its whole length.
    const std::uint32_t wanted = a * positions;
    float step = wanted ? static_cast<float>(static_cast<double>(static_cast<std::uint32_t>(song_count)) / wanted)
                        : static_cast<float>(song_count);
    if (step < 1) step = 1;
    float reached = 0;
    std::uint32_t offset = 0;
    while (songs.on_row()) {
      const std::uint32_t position = rank + offset;
      append_song_fields(body, position, songs.row().song_name, songs.row().song_id);
      ++written;
      const double next = static_cast<double>(reached) + static_cast<double>(step);
      songs.advance(static_cast<std::uint64_t>(std::trunc(next)) - static_cast<std::uint64_t>(std::trunc(reached)));
      reached = static_cast<float>(next);
      if (songs.code() == SQL_NO_DATA) songs.switch_list();
      if (++j < a) continue;
      j = 0;
      // The list has moved past the songs played as often as the folder.
      if (folder.play_count < songs.row().play_count) songs.switch_list();
      if (n >= b) break;  // one position per folder, no colours
      append_colour_fields(body, position, folder);
      offset += n;
      if (rank + offset >= b) break;
    }
    songs.release();
    if (++rank == b) break;
  }
  return written;
}

}  // namespace zv
