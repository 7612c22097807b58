#include "playlist/playlist_fields.h"

#include <cstring>

#include "platform/path_style.h"
#include "text/encoding.h"

namespace zv {
namespace {

void append_field(FormBody& body, const char* name, std::uint32_t position, const char* suffix, const char* value) {
  body.append(name);
  body.append_char('[');
  body.append_int(static_cast<std::int32_t>(position));
  body.append(suffix);
  if (const auto encoded = form_encode_utf8(value, 0)) body.append(encoded->c_str());
  body.append_char('&');
}

}  // namespace

std::string song_base_name(const char* song_name) {
  const char* separator = std::strrchr(song_name, FOLDER_SEPARATOR_NARROW);
  std::string base = separator ? separator + 1 : song_name;
  if (const auto dot = base.rfind('.'); dot != std::string::npos) base.resize(dot);
  return base;
}

void write_playlist_fields(FormBody& body, const PlaylistPlan& plan) {
  for (const PlannedPosition& position : plan.positions) {
    for (const PlannedSong& song : position.songs) {
      append_field(body, "file", position.position, "][]=", song_base_name(song.name.c_str()).c_str());
      body.append("fileid[");
      body.append_int(static_cast<std::int32_t>(position.position));
      body.append("][]=");
      body.append_long(song.id);
      body.append_char('&');
    }
    if (!position.coloured) continue;
    const PlaylistFolder& folder = plan.folders[position.folder];
    append_field(body, "dir_color", position.position, "]=", folder.color);
    append_field(body, "dir_bgcolor", position.position, "]=", folder.bgcolor);
  }
}

}  // namespace zv
