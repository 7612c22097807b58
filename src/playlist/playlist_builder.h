#pragma once
// The playlist of the coming hour, from the library's schedule.

#include <cstdint>

#include "playlist/schedule.h"
#include "text/text_buffer.h"

namespace zv {

// The playlist of the coming hour as the station's pages and its player get it.
inline constexpr std::uint32_t HOUR_SONGS_PER_POSITION = 10;
inline constexpr std::uint32_t HOUR_POSITION_COUNT = 16;

// Appends to `body` `songs_per_position` songs (file[p][], fileid[p][]) for
// each of `position_count` positions, the folders of the hour's schedule entry
// taking the positions in turn, and the colours of each position
// (dir_color[p], dir_bgcolor[p]) when folders share positions. Reads the
// library only and prints nothing of its own. Returns the number of songs
// appended.
int build_playlist(FormBody& body, std::uint32_t songs_per_position, std::uint32_t position_count);
// The same for the hour `slot` (the player's: the hour it is now).
int build_playlist_for(FormBody& body, std::uint32_t songs_per_position, std::uint32_t position_count,
                       const ComingHour& slot);

}  // namespace zv
