#pragma once
// The fields the playlist writes into the form body.

#include <cstdint>
#include <string>

#include "playlist/schedule.h"
#include "text/text_buffer.h"

namespace zv {

// The file name after the last folder separator, without its extension.
std::string song_base_name(const char* song_name);

// file[p][]=<base name>&fileid[p][]=<song_id>&
void append_song_fields(FormBody& body, std::uint32_t position, const char* song_name, std::int32_t song_id);
// dir_color[p]=<colour>&dir_bgcolor[p]=<background colour>&
void append_colour_fields(FormBody& body, std::uint32_t position, const PlaylistFolder& folder);

}  // namespace zv
