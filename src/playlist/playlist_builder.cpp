#include "playlist/playlist_builder.h"

#include "playlist/folder_songs.h"
#include "playlist/playlist_fields.h"

namespace zv {

PlaylistPlan plan_playlist(std::uint32_t songs_per_position, std::uint32_t position_count, const ComingHour& slot) {
  if (songs_per_position == 0 || position_count == 0) return {};
  const auto entry = choose_schedule_entry(slot);
  if (!entry) return {};
  FolderSongs songs;
  return plan_positions(songs, read_entry_folders(*entry), songs_per_position, position_count);
}

int build_playlist(FormBody& body, std::uint32_t songs_per_position, std::uint32_t position_count) {
  const PlaylistPlan plan = plan_playlist(songs_per_position, position_count, coming_hour(get_local_time()));
  write_playlist_fields(body, plan);
  return plan.song_count();
}

}  // namespace zv
